#include <QtTest>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ataripalgen.h"
#include "colourscience.h"
#include "paldisplay.h"
#include "qualityfigure.h"

// The PAL TV model against values worked out by hand from the palette tables: each pixel shows the
// mean, channel by channel, of its own colour and of the colour with the hue above and its own
// luminance; black above the first line; halves rounded up; two frames blended in linear light.
class TestPalDisplay : public QObject
{
    Q_OBJECT

private slots:
    void showsTheMeanWithTheHueAbove_data();
    void showsTheMeanWithTheHueAbove();
    void blendsTwoFramesInLinearLight();
    void figureCountsTheFirstLineAgainstBlack();
    void seesEveryPixelAsTheModelSays_data();
    void seesEveryPixelAsTheModelSays();
};

namespace {

// A loaded palette with simple numbers: red = index, green = 255 - index, blue = hue * 5.
std::vector<quint32> loadedPalette()
{
    std::vector<quint32> rgb(256);
    for (int i = 0; i < 256; ++i)
        rgb[size_t(i)] = quint32(i) << 16 | quint32(255 - i) << 8 | quint32((i >> 4) * 5);
    return rgb;
}

} // namespace

void TestPalDisplay::showsTheMeanWithTheHueAbove_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<int>("above"); // colour byte above, or -1 for the first line
    QTest::addColumn<int>("own");
    QTest::addColumn<uint>("shown");
    // Built-in palette: 0x94 = 0C515E, partner 0x44 = 701E5F: (0C+70)/2, (51+1E)/2, (5E+5F+1)/2.
    QTest::newRow("hue change between lines") << false << 0x46 << 0x94 << 0x3E385Fu;
    // 0x5A = C17CDA on the first line mixes with 0x0A = 9B9B9B.
    QTest::newRow("first line mixes with black's hue") << false << -1 << 0x5A << 0xAE8CBBu;
    // Grey 0x07 = 6F6F6F under hue 7: partner 0x77 = 5C6AC3.
    QTest::newRow("grey under a hue") << false << 0x7C << 0x07 << 0x666D99u;
    // 0x3B = E4949A under grey: partner 0x0B = ACACAC.
    QTest::newRow("hue under grey") << false << 0x0F << 0x3B << 0xC8A0A3u;
    // Same hue above: the pixel's own colour 0x23 = 691903, whatever the luminance above.
    QTest::newRow("same hue above") << false << 0x2E << 0x23 << 0x691903u;
    QTest::newRow("grey under grey") << false << 0x00 << 0x0C << 0xBCBCBCu;
    // Loaded palette: 0x96 = (150, 105, 45), partner 0x46 = (70, 185, 20): 110, 145, 32.5 up to 33.
    QTest::newRow("loaded palette, a half rounded up") << true << 0x4E << 0x96 << 0x6E9121u;
    // 0x21 = (33, 222, 10) on the first line with 0x01 = (1, 254, 0): 17, 238, 5.
    QTest::newRow("loaded palette, first line") << true << -1 << 0x21 << 0x11EE05u;
}

void TestPalDisplay::showsTheMeanWithTheHueAbove()
{
    QFETCH(bool, loaded);
    QFETCH(int, above);
    QFETCH(int, own);
    QFETCH(uint, shown);
    const std::vector<quint32> palette = loaded ? loadedPalette() : ATARIpalGen().baseColours();
    // A screen of three columns: the pixel under test in the middle, other colours beside it.
    const int width = 3;
    const int height = above < 0 ? 1 : 2;
    std::vector<quint8> screen(size_t(width * height), 0x5F);
    screen[size_t((height - 1) * width + 1)] = quint8(own);
    if (above >= 0)
        screen[1] = quint8(above);
    std::vector<quint32> rgb(screen.size());
    PalDisplay::viewScreen(screen.data(), width, height, palette.data(), rgb.data());
    QCOMPARE(QString::number(rgb[size_t((height - 1) * width + 1)], 16), QString::number(shown, 16));
}

void TestPalDisplay::blendsTwoFramesInLinearLight()
{
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    // Frame A: 0x94 under 0x46 (0C515E with 701E5F); frame B: 0x38 under 0xC5 (B26167 with 0xC8 =
    // 629B12). Channel sums A 7C 6F BD, B 114 FC 79; each sum s decoded as sRGB s / 510 to linear light,
    // the two averaged and encoded again: 6C 63 50.
    const quint8 a[2] = {0x46, 0x94};
    const quint8 b[2] = {0xC5, 0x38};
    quint32 rgb[2];
    PalDisplay::viewTwoFrames(a, b, 1, 2, palette.data(), rgb);
    QCOMPARE(QString::number(rgb[1], 16), QString::number(0x6C6350u, 16));
    // Two equal frames show the one frame's view: 0x5A on the first line as above.
    const quint8 same[1] = {0x5A};
    PalDisplay::viewTwoFrames(same, same, 1, 1, palette.data(), rgb);
    QCOMPARE(QString::number(rgb[0], 16), QString::number(0xAE8CBBu, 16));
}

void TestPalDisplay::figureCountsTheFirstLineAgainstBlack()
{
    // A screen all of 0x0C (BCBCBC) against a photo of that colour: every line shows it exactly, the first
    // mixing with hue 0, here the same grey. All of 0x3B (E4949A): the lines below the first show it
    // exactly, the first the mean with 0x0B (ACACAC): only its 320 pixels differ.
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    std::vector<quint32> averaged(19200, palette[0x0C]);
    std::vector<quint8> screen(76800, 0x0C);
    QCOMPARE(QualityFigure::figures(ScreenFrames::one(screen.data()), palette.data(), PalDisplay(), averaged.data()).quality, 0.0);

    std::fill(screen.begin(), screen.end(), quint8(0x3B));
    std::fill(averaged.begin(), averaged.end(), palette[0x3B]);
    // Built-in 0x3B and 0x0B have channel sums that are all even: their mean is a whole colour.
    const quint32 own = palette[0x3B];
    const quint32 grey = palette[0x0B];
    quint32 mean = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const quint32 s = (own >> shift & 0xFF) + (grey >> shift & 0xFF);
        QVERIFY(s % 2 == 0);
        mean |= (s / 2) << shift;
    }
    const double firstLine = ColourScience::deltaE2000(ColourScience::labFromRgb(mean), ColourScience::labFromRgb(own));
    QVERIFY(firstLine > 1.0);
    QCOMPARE(QualityFigure::figures(ScreenFrames::one(screen.data()), palette.data(), PalDisplay(), averaged.data()).quality, firstLine * 320 / 76800);
}

void TestPalDisplay::seesEveryPixelAsTheModelSays_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<int>("frames");
    QTest::newRow("one frame") << false << 1;
    QTest::newRow("two frames") << false << 2;
    QTest::newRow("two frames, loaded palette") << true << 2;
}

// What the figures are made of, over whole screens: each screen pixel's seen colour and flicker against
// the model worked out pixel by pixel here. The screens repeat colour bytes along a line under changing
// lines above, where a pixel looks like its left neighbour but is not seen like it.
void TestPalDisplay::seesEveryPixelAsTheModelSays()
{
    QFETCH(bool, loaded);
    QFETCH(int, frames);
    const std::vector<quint32> palette = loaded ? loadedPalette() : ATARIpalGen().baseColours();
    const int width = 320;
    const int pixels = 76800;
    std::vector<quint8> screen[2] = {std::vector<quint8>(pixels), std::vector<quint8>(pixels)};
    quint32 seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return quint8(seed >> 16);
    };
    for (std::vector<quint8> &s : screen)
        for (int i = 0; i < pixels; i += 4)
            std::fill(s.begin() + i, s.begin() + i + 4, next());
    for (int i = width; i < pixels; ++i) // lines above that change within a run of equal bytes
        if (i % 3 == 0)
            screen[0][size_t(i - width)] = next();

    const auto linear = [](int channelSum) {
        const double c = channelSum / 510.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const auto seenLinear = [&](const std::vector<quint8> &s, int i, double rgb[3]) {
        const int own = s[size_t(i)];
        const int above = i >= width ? s[size_t(i - width)] : 0;
        const quint32 a = palette[size_t(own)];
        const quint32 b = palette[size_t((above & 0xF0) | (own & 0x0F))];
        for (int c = 0; c < 3; ++c)
            rgb[c] = linear(int(a >> (16 - 8 * c) & 0xFF) + int(b >> (16 - 8 * c) & 0xFF));
    };
    const auto labOf = [](const double rgb[3]) {
        double xyz[3];
        ColourScience::xyzFromLinear(rgb, xyz);
        return ColourScience::labFromXyz(xyz);
    };

    const ScreenFrames screens = frames == 1 ? ScreenFrames::one(screen[0].data())
                                             : ScreenFrames::two(screen[0].data(), screen[1].data());
    std::vector<ColourScience::Lab> lab(pixels);
    std::vector<double> flicker(pixels, -1.0);
    PalDisplay().see(screens, palette.data(), lab.data(), frames == 2 ? flicker.data() : nullptr);
    int wrong = 0;
    for (int i = 0; i < pixels; ++i) {
        double a[3];
        double b[3];
        seenLinear(screen[0], i, a);
        seenLinear(screen[frames - 1], i, b);
        const double mean[3] = {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2};
        const ColourScience::Lab expected = labOf(mean);
        const bool labRight = std::fabs(lab[size_t(i)].L - expected.L) < 1e-9 && std::fabs(lab[size_t(i)].a - expected.a) < 1e-9
            && std::fabs(lab[size_t(i)].b - expected.b) < 1e-9;
        const bool flickerRight = frames == 1 || std::fabs(flicker[size_t(i)] - std::fabs(labOf(a).L - labOf(b).L)) < 1e-9;
        if (!labRight || !flickerRight)
            ++wrong;
    }
    QCOMPARE(wrong, 0);
}

QTEST_GUILESS_MAIN(TestPalDisplay)
#include "tst_paldisplay.moc"
