#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "ataripalgen.h"
#include "atarigeometry.h"
#include "atariview.h"
#include "bestconversion.h"
#include "colourscience.h"
#include "palbestconversion.h"
#include "paltwoframeconversion.h"
#include "pictureloader.h"

using ColourScience::Lab;
using namespace Geometry;

// The PAL conversions' per-run updates against brute force: for a run, every hue it could take is
// tried by rendering the screens (AtariView) with every luminance (pair) and working out what a PAL
// TV shows there pixel by pixel, from the palette alone.
class TestPalConversions : public QObject
{
    Q_OBJECT

private slots:
    void bestUpdateMatchesBruteForce_data();
    void bestUpdateMatchesBruteForce();
    void bestReachesALocalOptimum();
    void bestLuminancesEverywhere_data();
    void bestLuminancesEverywhere();
    void twoFrameUpdateMatchesBruteForce_data();
    void twoFrameUpdateMatchesBruteForce();
};

namespace {

std::vector<quint32> picture(bool photo, quint32 seed)
{
    std::vector<quint32> averaged(kAtariPixels);
    if (!photo) {
        std::mt19937 random(seed);
        for (quint32 &p : averaged)
            p = random() & 0xFFFFFFu;
        return averaged;
    }
    std::vector<quint32> pixels(kSourcePixels);
    QString error;
    if (!PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), pixels.data(), &error))
        qFatal("%s", qPrintable(error));
    const ATARIpalGen gen;
    for (int j = 0; j < kAtariPixels; ++j)
        averaged[size_t(j)] = gen.average(pixels[size_t(4 * j)], pixels[size_t(4 * j + 1)], pixels[size_t(4 * j + 2)],
                                          pixels[size_t(4 * j + 3)]);
    return averaged;
}

std::vector<quint8> randomHues(quint32 seed)
{
    std::mt19937 random(seed);
    std::vector<quint8> hues(kHues);
    for (quint8 &h : hues)
        h = quint8((random() % 16) << 4);
    return hues;
}

// What a PAL TV shows at screen pixel i of screen: the mean of the two colours, as linear light per
// channel, worked out here from sRGB.
void seenLinear(const std::vector<quint32> &palette, const std::vector<quint8> &screen, int i, double linear[3])
{
    const quint8 own = screen[size_t(i)];
    const quint8 above = i >= kSourceWidth ? screen[size_t(i - kSourceWidth)] : quint8(0);
    const quint32 a = palette[own];
    const quint32 b = palette[(above & 0xF0) | (own & 0x0F)];
    for (int c = 0; c < 3; ++c) {
        const int shift = 16 - 8 * c;
        const double v = ((a >> shift & 0xFF) + (b >> shift & 0xFF)) / 510.0;
        linear[c] = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    }
}

Lab labOfLinear(const double linear[3])
{
    double xyz[3];
    ColourScience::xyzFromLinear(linear, xyz);
    return ColourScience::labFromXyz(xyz);
}

// The screen shown with hues and every pixel at luminance l.
std::vector<quint8> screenAt(const std::vector<quint8> &hues, int l)
{
    std::vector<quint8> output(kAtariPixels);
    for (int pair = 0, i = 0; pair < kLinePairs; ++pair)
        for (int s = 0; s < kSegmentsPerPair; ++s)
            for (int k = 0; k < kSegmentLengths[s]; ++k)
                output[size_t(i++)] = quint8(hues[size_t(pair * kSegmentsPerPair + s)] | l);
    std::vector<quint8> screen(kSourcePixels);
    AtariView::render(output.data(), hues.data(), screen.data());
    return screen;
}

// The row and the columns of run r.
void runPlace(int r, int *row, int *first, int *last)
{
    const int pair = r / kSegmentsPerPair;
    const int s = r % kSegmentsPerPair;
    *row = 2 * pair + (s >= kSegmentsFirstLine ? 1 : 0);
    int column = 0;
    for (int t = s >= kSegmentsFirstLine ? kSegmentsFirstLine : 0; t < s; ++t)
        column += kSegmentLengths[t];
    *first = column;
    *last = column + kSegmentLengths[s] - 1;
}

// The Atari pixels whose view can depend on run r: its row and the row below, one pixel beyond its ends.
std::vector<int> pixelsNear(int r)
{
    int row = 0, first = 0, last = 0;
    runPlace(r, &row, &first, &last);
    std::vector<int> pixels;
    for (int y = row; y <= std::min(row + 1, kSourceHeight - 1); ++y)
        for (int x = std::max(first - 1, 0); x <= std::min(last + 1, kAtariWidth - 1); ++x)
            pixels.push_back(y * kAtariWidth + x);
    return pixels;
}

// The summed CIEDE2000 of pixel's four screen pixels against the photo.
double pixelSum(const std::vector<quint32> &palette, const std::vector<Lab> &photo, const std::vector<quint8> &screen,
                int pixel)
{
    double d = 0.0;
    for (int i = 0; i < 4; ++i) {
        double linear[3];
        seenLinear(palette, screen, pixel * 4 + i, linear);
        d += ColourScience::deltaE2000(labOfLinear(linear), photo[size_t(pixel)]);
    }
    return d;
}

// One frame, brute force: per pixel the lowest summed CIEDE2000 over its four screen pixels among its
// 16 luminances (screens[l] shows every pixel at luminance l).
double bruteBest(const std::vector<quint32> &palette, const std::vector<Lab> &photo,
                 const std::vector<std::vector<quint8>> &screens, int pixel, int *luminance)
{
    double best = std::numeric_limits<double>::infinity();
    for (int l = 0; l < 16; ++l) {
        const double d = pixelSum(palette, photo, screens[size_t(l)], pixel);
        if (d < best) {
            best = d;
            *luminance = l;
        }
    }
    return best;
}

} // namespace

void TestPalConversions::bestUpdateMatchesBruteForce_data()
{
    QTest::addColumn<bool>("photo");
    QTest::addColumn<int>("run");
    QTest::newRow("noise, first run of the first line (black above)") << false << 0;
    QTest::newRow("noise, second line of the first pair") << false << 8;
    QTest::newRow("noise, a two-pixel run") << false << 59 * 13 + 6;
    QTest::newRow("noise, last line") << false << 119 * 13 + 12;
    QTest::newRow("chelsea, middle") << true << 60 * 13 + 2;
    QTest::newRow("chelsea, second line") << true << 30 * 13 + 9;
}

void TestPalConversions::bestUpdateMatchesBruteForce()
{
    QFETCH(bool, photo);
    QFETCH(int, run);
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    const std::vector<quint32> averaged = picture(photo, 7u + quint32(run));
    std::vector<Lab> labs(kAtariPixels);
    for (int p = 0; p < kAtariPixels; ++p)
        labs[size_t(p)] = ColourScience::labFromRgb(averaged[size_t(p)]);
    std::vector<quint8> hues = randomHues(quint32(run));
    PalBestConverter converter;
    converter.setPalette(palette.data());
    const std::vector<int> near = pixelsNear(run);

    // Brute force per hue: the total over the pixels near the run (the rest does not depend on it),
    // compared with the converter's total over all pixels, relative to hue 0.
    double bruteTotals[16];
    double converterTotals[16];
    const int converterHue = converter.bestHueOfRun(averaged.data(), 1.0, hues.data(), run, converterTotals);
    std::vector<quint8> output(kAtariPixels);
    for (int h = 0; h < 16; ++h) {
        hues[size_t(run)] = quint8(h << 4);
        std::vector<std::vector<quint8>> screens;
        for (int l = 0; l < 16; ++l)
            screens.push_back(screenAt(hues, l));
        if (h == 5 || h == 0) {
            // The luminances: the converter's reach the lowest sums of the brute force.
            QVERIFY(std::fabs(converter.cost(averaged.data(), 1.0, hues.data(), output.data()) - converterTotals[h]) < 1e-6);
        }
        bruteTotals[h] = 0.0;
        for (int p : near) {
            int luminance = 0;
            const double d = bruteBest(palette, labs, screens, p, &luminance);
            bruteTotals[h] += d;
            // The converter's luminance reaches the lowest sum too (ties may pick another).
            if ((h == 5 || h == 0) && luminance != (output[size_t(p)] & 0x0F)) {
                QVERIFY2(std::fabs(pixelSum(palette, labs, screens[size_t(output[size_t(p)] & 0x0F)], p) - d) < 1e-9,
                         qPrintable(QStringLiteral("hue %1 pixel %2").arg(h).arg(p)));
            }
        }
    }
    int bruteHue = 0;
    for (int h = 0; h < 16; ++h) {
        QVERIFY2(std::fabs((converterTotals[h] - converterTotals[0]) - (bruteTotals[h] - bruteTotals[0])) < 1e-6,
                 qPrintable(QStringLiteral("hue %1: converter %2, brute force %3").arg(h)
                                .arg(converterTotals[h] - converterTotals[0]).arg(bruteTotals[h] - bruteTotals[0])));
        if (bruteTotals[h] < bruteTotals[bruteHue] - 1e-9)
            bruteHue = h;
    }
    QCOMPARE(converterHue, bruteHue);
}

void TestPalConversions::bestReachesALocalOptimum()
{
    // From the plain best result of chelsea: the result is no worse, no run's hue alone can lower its
    // total, and its figure over the screen pixels is the converter's total.
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    const std::vector<quint32> averaged = picture(true, 0);
    BestConverter best;
    best.setPalette(palette.data());
    std::vector<quint8> plainOutput(kAtariPixels), plainHues(kHues), output(kAtariPixels), hues(kHues);
    best.convert(averaged.data(), 1.0, plainOutput.data(), plainHues.data(), 1);
    PalBestConverter converter;
    converter.setPalette(palette.data());
    const double start = converter.cost(averaged.data(), 1.0, plainHues.data(), nullptr);
    converter.convert(averaged.data(), 1.0, plainHues.data(), output.data(), hues.data());
    const double result = converter.total();
    QVERIFY(result < start * 0.8);
    for (int run = 0; run < kHues; run += 31) {
        double totals[16];
        const int hue = converter.bestHueOfRun(averaged.data(), 1.0, hues.data(), run, totals);
        QVERIFY2(totals[hue] >= result - 1e-6,
                 qPrintable(QStringLiteral("run %1 lowers the total with hue %2 by %3").arg(run).arg(hue).arg(result - totals[hue])));
    }
}

void TestPalConversions::bestLuminancesEverywhere_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("chelsea") << "chelsea";
    QTest::newRow("noise") << "noise";
    // Near greys: the lightness term, the bound that prunes luminances, is then nearly the whole
    // difference.
    QTest::newRow("near greys") << "greys";
}

// Every pixel of a whole picture, for given hues: the converter's luminance reaches the brute-force
// lowest sum, and its total is the sum of those lowest sums.
void TestPalConversions::bestLuminancesEverywhere()
{
    QFETCH(QString, kind);
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    std::vector<quint32> averaged = picture(kind == QLatin1String("chelsea"), 11);
    if (kind == QLatin1String("greys")) {
        for (int p = 0; p < kAtariPixels; ++p) {
            const quint32 level = quint32(p * 7 % 256);
            averaged[size_t(p)] = level << 16 | level << 8 | std::min(level + quint32(p % 3), 255u);
        }
    }
    std::vector<Lab> labs(kAtariPixels);
    for (int p = 0; p < kAtariPixels; ++p)
        labs[size_t(p)] = ColourScience::labFromRgb(averaged[size_t(p)]);
    const std::vector<quint8> hues = randomHues(kind == QLatin1String("greys") ? 5 : 6);
    PalBestConverter converter;
    converter.setPalette(palette.data());
    std::vector<quint8> output(kAtariPixels);
    const double total = converter.cost(averaged.data(), 1.0, hues.data(), output.data());
    std::vector<std::vector<quint8>> screens;
    for (int l = 0; l < 16; ++l)
        screens.push_back(screenAt(hues, l));
    double bruteTotal = 0.0;
    int worse = 0;
    for (int p = 0; p < kAtariPixels; ++p) {
        int luminance = 0;
        const double d = bruteBest(palette, labs, screens, p, &luminance);
        bruteTotal += d;
        if (luminance != (output[size_t(p)] & 0x0F)
            && pixelSum(palette, labs, screens[size_t(output[size_t(p)] & 0x0F)], p) > d + 1e-9)
            ++worse;
    }
    QCOMPARE(worse, 0);
    QVERIFY2(std::fabs(total - bruteTotal) < 1e-6, qPrintable(QStringLiteral("%1 against %2").arg(total).arg(bruteTotal)));
}

void TestPalConversions::twoFrameUpdateMatchesBruteForce_data()
{
    QTest::addColumn<int>("run");
    QTest::addColumn<int>("frame");
    QTest::addColumn<int>("flicker");
    QTest::newRow("first run, frame A, flicker 10") << 0 << 0 << 10;
    QTest::newRow("second line, frame B, flicker 10") << 13 * 40 + 8 << 1 << 10;
    QTest::newRow("two-pixel run, frame A, flicker 3") << 13 * 70 + 6 << 0 << 3;
}

void TestPalConversions::twoFrameUpdateMatchesBruteForce()
{
    QFETCH(int, run);
    QFETCH(int, frame);
    QFETCH(int, flicker);
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    const std::vector<quint32> averaged = picture(false, quint32(run));
    std::vector<Lab> labs(kAtariPixels);
    for (int p = 0; p < kAtariPixels; ++p)
        labs[size_t(p)] = ColourScience::labFromRgb(averaged[size_t(p)]);
    std::vector<quint8> hues[2] = {randomHues(quint32(run) * 2), randomHues(quint32(run) * 2 + 1)};
    PalTwoFrameConverter converter;
    converter.setPalette(palette.data());
    const std::vector<int> near = pixelsNear(run);

    double bruteTotals[16];
    double converterTotals[16];
    const int converterHue = converter.bestHueOfRun(averaged.data(), 1.0, flicker, hues[0].data(), hues[1].data(),
                                                    frame, run, converterTotals);
    for (int h = 0; h < 16; ++h) {
        hues[frame][size_t(run)] = quint8(h << 4);
        std::vector<std::vector<quint8>> screens[2];
        for (int f = 0; f < 2; ++f)
            for (int l = 0; l < 16; ++l)
                screens[f].push_back(screenAt(hues[f], l));
        bruteTotals[h] = 0.0;
        for (int p : near) {
            // Per screen pixel and luminance, what each frame shows (XYZ and L*); per luminance pair the
            // blend of the two in linear light.
            double xyz[2][4][16][3];
            double lightness[2][4][16];
            for (int f = 0; f < 2; ++f) {
                for (int i = 0; i < 4; ++i) {
                    for (int l = 0; l < 16; ++l) {
                        double linear[3];
                        seenLinear(palette, screens[f][size_t(l)], p * 4 + i, linear);
                        ColourScience::xyzFromLinear(linear, xyz[f][i][l]);
                        lightness[f][i][l] = ColourScience::labFromXyz(xyz[f][i][l]).L;
                    }
                }
            }
            double best = std::numeric_limits<double>::infinity();
            for (int lA = 0; lA < 16; ++lA) {
                for (int lB = 0; lB < 16; ++lB) {
                    bool allowed = true;
                    for (int i = 0; i < 4; ++i)
                        allowed = allowed && std::fabs(lightness[0][i][lA] - lightness[1][i][lB]) <= flicker;
                    if (!allowed)
                        continue;
                    double d = 0.0;
                    for (int i = 0; i < 4; ++i) {
                        const double *a = xyz[0][i][lA];
                        const double *b = xyz[1][i][lB];
                        const double mean[3] = {(a[0] + b[0]) * 0.5, (a[1] + b[1]) * 0.5, (a[2] + b[2]) * 0.5};
                        d += ColourScience::deltaE2000(ColourScience::labFromXyz(mean), labs[size_t(p)]);
                    }
                    best = std::min(best, d);
                }
            }
            // Noise with random hues: some pixels allow no pair; they count the same in every hue only
            // if they do not depend on the run, so the comparison skips hues that leave one.
            bruteTotals[h] += std::isinf(best) ? PalTwoFrameConverter::kInfeasible * 1e3 : best;
        }
    }
    int bruteHue = -1;
    int compared = 0;
    for (int h = 0; h < 16; ++h) {
        if (bruteTotals[h] >= PalTwoFrameConverter::kInfeasible)
            continue;
        for (int g = 0; g < h; ++g) {
            if (bruteTotals[g] >= PalTwoFrameConverter::kInfeasible)
                continue;
            QVERIFY2(std::fabs((converterTotals[h] - converterTotals[g]) - (bruteTotals[h] - bruteTotals[g])) < 1e-6,
                     qPrintable(QStringLiteral("hues %1 and %2").arg(h).arg(g)));
            ++compared;
        }
        if (bruteHue < 0 || bruteTotals[h] < bruteTotals[bruteHue] - 1e-9)
            bruteHue = h;
    }
    QVERIFY(compared > 0);
    QCOMPARE(converterHue, bruteHue);
}

QTEST_GUILESS_MAIN(TestPalConversions)
#include "tst_palconversions.moc"
