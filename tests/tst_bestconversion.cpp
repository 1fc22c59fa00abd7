#include <QtTest>

#include <memory>
#include <random>
#include <vector>

#include "ataripalgen.h"
#include "atarigeometry.h"
#include "bestconversion.h"
#include "ciede2000bounds.h"
#include "colourscience.h"
#include "exhaustivesearch.h"
#include "linearblend.h"
#include "pictureloader.h"

using ColourScience::Lab;

namespace {

enum class Source { Noise, PaletteColours, FlatGreys, FewColours, Photo, Blues, NearGreys };
enum class Palette { Base, Ties, Random, White };

struct Expected {
    quint8 output[Geometry::kAtariPixels];
    quint8 hues[Geometry::kHues];
};

// The base palette, one full of exact ties (hues 2k and 2k+1 equal, luminances 2k and 2k+1 equal),
// random colours, whose hues do not keep together, or the base palette with luminances 14 and 15 of
// every hue pure white (L* = 100, the top of the lightness range, in 32 entries that tie).
std::vector<quint32> makePalette(Palette kind)
{
    const ATARIpalGen gen;
    std::vector<quint32> rgb(256);
    if (kind == Palette::Random) {
        std::mt19937 random(256);
        for (quint32 &c : rgb)
            c = random() & 0xFFFFFFu;
        return rgb;
    }
    for (int i = 0; i < 256; ++i) {
        const int hue = i >> 4;
        const int lum = i & 15;
        rgb[i] = kind == Palette::Base  ? gen.getBase(quint8(i))
            : kind == Palette::White    ? (lum >= 14 ? 0xFFFFFFu : gen.getBase(quint8(i)))
                                        : gen.getBase(quint8((hue & ~1) << 4 | (lum & ~1)));
    }
    return rgb;
}

std::vector<quint32> makePicture(Source source, quint32 seed, const std::vector<quint32> &palette)
{
    std::mt19937 random(seed);
    std::vector<quint32> picture(Geometry::kAtariPixels);
    switch (source) {
    case Source::Noise:
        for (quint32 &p : picture)
            p = random() & 0xFFFFFFu;
        break;
    case Source::PaletteColours:
        for (quint32 &p : picture)
            p = palette[random() % 256];
        break;
    case Source::FlatGreys:
        // Stretches of one grey, some of them exactly a palette grey.
        for (int i = 0; i < Geometry::kAtariPixels;) {
            const quint32 level = random() % 2 ? random() % 256 : palette[random() % 16] & 0xFF;
            const int length = 1 + int(random() % 40);
            for (int k = 0; k < length && i < Geometry::kAtariPixels; ++k)
                picture[i++] = level * 0x010101u;
        }
        break;
    case Source::FewColours: {
        const quint32 colours[4] = {quint32(random() & 0xFFFFFFu), quint32(random() & 0xFFFFFFu), 0x000000u, 0xFFFFFFu};
        for (int i = 0; i < Geometry::kAtariPixels;) {
            const quint32 c = colours[random() % 4];
            const int length = 1 + int(random() % 12);
            for (int k = 0; k < length && i < Geometry::kAtariPixels; ++k)
                picture[i++] = c;
        }
        break;
    }
    case Source::Blues:
        // Blues and violets, with CIEDE2000 mean hues near 275 degrees, where its rotation term is largest.
        for (quint32 &p : picture) {
            const quint32 blue = 128 + random() % 128;
            p = quint32(random() % blue) << 16 | quint32(random() % blue) << 8 | blue;
        }
        break;
    case Source::NearGreys: {
        // Every grey with each channel moved by -1, 0 or +1 (not all 0): colours of tiny chroma whose
        // hues lie opposite some palette hue, where CIEDE2000's mean hue is nearly unknown.
        int i = 0;
        for (int level = 0; level < 256; ++level)
            for (int d = 0; d < 27; ++d) {
                const int offset[3] = {d / 9 - 1, d / 3 % 3 - 1, d % 3 - 1};
                if (d == 13)
                    continue;
                quint32 rgb = 0;
                for (int c = 0; c < 3; ++c)
                    rgb = rgb << 8 | quint32(qBound(0, level + offset[c], 255));
                picture[i++] = rgb;
            }
        picture.resize(i);
        break;
    }
    case Source::Photo: {
        std::vector<quint32> pixels(Geometry::kSourcePixels);
        QString error;
        if (!PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), pixels.data(), &error))
            qFatal("%s", qPrintable(error));
        const ATARIpalGen gen;
        for (int j = 0; j < Geometry::kAtariPixels; ++j) {
            const quint32 *s = pixels.data() + Geometry::kSourcePerAtari * j;
            picture[j] = gen.average(s[0], s[1], s[2], s[3]);
        }
        break;
    }
    }
    return picture;
}

// The exhaustive search over the line pairs p with p % stride == 0.
void bruteForce(const std::vector<quint32> &picture, const std::vector<quint32> &palette, double chromaFactor,
                int stride, Expected &expected)
{
    Lab paletteLab[256];
    for (int i = 0; i < 256; ++i)
        paletteLab[i] = ColourScience::labFromRgb(palette[i]);
    int start = 0;
    for (int p = 0; p < Geometry::kLinePairs; ++p) {
        for (int s = 0; s < Geometry::kSegmentsPerPair; ++s) {
            const int n = Geometry::kSegmentLengths[s];
            if (p % stride == 0)
                expected.hues[Geometry::kSegmentsPerPair * p + s] = exhaustiveSegment(
                    picture.data() + start, n, chromaFactor, paletteLab, expected.output + start);
            start += n;
        }
    }
}

} // namespace

// The best conversion against an exhaustive search on pictures that stress its bounds and its tie rules.
class TestBestConversion : public QObject
{
    Q_OBJECT

private slots:
    void matchesBruteForce_data();
    void matchesBruteForce();
    void boundsStayBelowDifferences_data();
    void boundsStayBelowDifferences();
    void blendScreeningStaysBelowDifferences_data();
    void blendScreeningStaysBelowDifferences();
    void scaledLab_data();
    void scaledLab();
};

void TestBestConversion::matchesBruteForce_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("palette");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<double>("chromaFactor");
    QTest::addColumn<int>("stride");

    const int base = int(Palette::Base);
    const int ties = int(Palette::Ties);
    QTest::newRow("noise, chroma 1") << int(Source::Noise) << base << 1u << 1.0 << 12;
    QTest::newRow("noise, chroma 0") << int(Source::Noise) << base << 2u << 0.0 << 12;
    QTest::newRow("noise, chroma 2") << int(Source::Noise) << base << 3u << 2.0 << 12;
    QTest::newRow("palette colours") << int(Source::PaletteColours) << base << 4u << 1.0 << 12;
    QTest::newRow("palette colours, tie palette") << int(Source::PaletteColours) << ties << 5u << 1.0 << 12;
    QTest::newRow("flat greys, chroma 1") << int(Source::FlatGreys) << base << 6u << 1.0 << 12;
    QTest::newRow("flat greys, tie palette") << int(Source::FlatGreys) << ties << 7u << 1.0 << 12;
    QTest::newRow("few colours, chroma 2") << int(Source::FewColours) << base << 8u << 2.0 << 12;
    QTest::newRow("few colours, tie palette") << int(Source::FewColours) << ties << 9u << 0.0 << 12;
    QTest::newRow("blues, chroma 1") << int(Source::Blues) << base << 10u << 1.0 << 12;
    QTest::newRow("noise, random palette") << int(Source::Noise) << int(Palette::Random) << 11u << 1.0 << 12;
    const int white = int(Palette::White);
    QTest::newRow("few colours, white palette") << int(Source::FewColours) << white << 12u << 1.0 << 12;
    QTest::newRow("palette colours, white palette, chroma 2") << int(Source::PaletteColours) << white << 13u << 2.0 << 12;
    QTest::newRow("flat greys, white palette") << int(Source::FlatGreys) << white << 14u << 1.0 << 12;
    QTest::newRow("photo, chroma 1") << int(Source::Photo) << base << 0u << 1.0 << 3;
    QTest::newRow("photo, chroma 2") << int(Source::Photo) << base << 0u << 2.0 << 12;
}

void TestBestConversion::matchesBruteForce()
{
    QFETCH(int, source);
    QFETCH(int, palette);
    QFETCH(quint32, seed);
    QFETCH(double, chromaFactor);
    QFETCH(int, stride);

    const std::vector<quint32> colours = makePalette(Palette(palette));
    const std::vector<quint32> picture = makePicture(Source(source), seed, colours);
    auto converter = std::make_unique<BestConverter>();
    converter->setPalette(colours.data());
    auto actual = std::make_unique<Expected>();
    converter->convert(picture.data(), chromaFactor, actual->output, actual->hues, 2);
    auto expected = std::make_unique<Expected>();
    bruteForce(picture, colours, chromaFactor, stride, *expected);

    int start = 0;
    for (int p = 0; p < Geometry::kLinePairs; ++p) {
        for (int s = 0; s < Geometry::kSegmentsPerPair; ++s) {
            const int segment = Geometry::kSegmentsPerPair * p + s;
            const quint8 hue = actual->hues[segment];
            QCOMPARE(hue & 0x0F, 0);
            for (int k = start; k < start + Geometry::kSegmentLengths[s]; ++k) {
                QCOMPARE(actual->output[k] & 0xF0, int(hue));
                if (p % stride == 0)
                    QCOMPARE(actual->output[k], expected->output[k]);
            }
            if (p % stride == 0)
                QCOMPARE(hue, expected->hues[segment]);
            start += Geometry::kSegmentLengths[s];
        }
    }
}

void TestBestConversion::boundsStayBelowDifferences_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("palette");
    QTest::addColumn<double>("chromaFactor");

    QTest::newRow("noise") << int(Source::Noise) << int(Palette::Base) << 1.0;
    QTest::newRow("noise, chroma 2") << int(Source::Noise) << int(Palette::Base) << 2.0;
    QTest::newRow("noise, chroma 0") << int(Source::Noise) << int(Palette::Base) << 0.0;
    QTest::newRow("blues") << int(Source::Blues) << int(Palette::Base) << 1.0;
    QTest::newRow("palette colours") << int(Source::PaletteColours) << int(Palette::Base) << 1.0;
    QTest::newRow("noise, random palette") << int(Source::Noise) << int(Palette::Random) << 1.0;
    QTest::newRow("palette colours, white palette") << int(Source::PaletteColours) << int(Palette::White) << 1.0;
    QTest::newRow("blues, random palette, chroma 2") << int(Source::Blues) << int(Palette::Random) << 2.0;
    // Among them 0x171818 against index 55, whose hues are nearly opposite: the hue weighting at its
    // largest once lowered the bound above the difference there.
    QTest::newRow("near greys") << int(Source::NearGreys) << int(Palette::Base) << 1.0;
    QTest::newRow("near greys, chroma 0.6") << int(Source::NearGreys) << int(Palette::Base) << 0.6;
    QTest::newRow("near greys, chroma 2") << int(Source::NearGreys) << int(Palette::Base) << 2.0;
}

// Every bound the conversion skips candidates by stays at or below the difference it bounds; and the
// bounds are close: apart from CIEDE2000's rotation term (near blue) and small rounding margins they
// are the difference itself.
void TestBestConversion::boundsStayBelowDifferences()
{
    QFETCH(int, source);
    QFETCH(int, palette);
    QFETCH(double, chromaFactor);

    const std::vector<quint32> colours = makePalette(Palette(palette));
    const std::vector<quint32> picture = makePicture(Source(source), 12u, colours);
    auto converter = std::make_unique<BestConverter>();
    converter->setPalette(colours.data());
    int close = 0;
    int pairs = 0;
    const int pixels = source == int(Source::NearGreys) ? int(picture.size()) : 400;
    for (int j = 0; j < pixels; ++j) {
        const Lab x = BestConverter::scaledLab(picture[j], chromaFactor);
        double bounds[256];
        converter->differenceBounds(x, bounds);
        for (int i = 0; i < 256; ++i) {
            const double exact = ColourScience::deltaE2000(x, converter->paletteLabs()[i]);
            // The message is formatted only on failure: millions of pairs pass here.
            if (!(bounds[i] <= exact))
                QFAIL(qPrintable(QStringLiteral("colour %1, palette %2: bound %3 above %4")
                                     .arg(picture[j], 6, 16, QLatin1Char('0'))
                                     .arg(i)
                                     .arg(bounds[i], 0, 'g', 17)
                                     .arg(exact, 0, 'g', 17)));
            close += bounds[i] >= 0.9 * exact;
            ++pairs;
        }
    }
    QVERIFY2(close * 2 >= pairs, qPrintable(QStringLiteral("%1 of %2 bounds within 10%").arg(close).arg(pairs)));
}

void TestBestConversion::blendScreeningStaysBelowDifferences_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("palette");
    QTest::addColumn<double>("chromaFactor");

    QTest::newRow("noise") << int(Source::Noise) << int(Palette::Base) << 1.0;
    QTest::newRow("blues, chroma 2") << int(Source::Blues) << int(Palette::Base) << 2.0;
    QTest::newRow("near greys") << int(Source::NearGreys) << int(Palette::Base) << 1.0;
    QTest::newRow("palette colours") << int(Source::PaletteColours) << int(Palette::Base) << 1.0;
    QTest::newRow("noise, random palette") << int(Source::Noise) << int(Palette::Random) << 1.0;
}

// The screening bounds the two-frame conversion skips blends by, against CIEDE2000 computed in full:
// for pixels against the 256 blends of every pair of hues (a set, as the conversion takes them), the
// bound of each blend with its own rotation bound (screenRoot), and that of a box holding the whole
// set (screenChromaPart with the box's extremes) against the nearest blend, stay at or below the
// difference. Each blend's bound is also at least the plain one (SH taken as SC): a refinement that
// loosened it would show.
void TestBestConversion::blendScreeningStaysBelowDifferences()
{
    using namespace Ciede2000Bounds;
    QFETCH(int, source);
    QFETCH(int, palette);
    QFETCH(double, chromaFactor);

    const std::vector<quint32> colours = makePalette(Palette(palette));
    const std::vector<quint32> picture = makePicture(Source(source), 7u, colours);
    const RotationTable &rotationSteps = rotationTable();
    constexpr int kPixels = 12;
    for (int j = 0; j < kPixels; ++j) {
        const quint32 rgb = picture[size_t(j * 97 % picture.size())];
        const Lab x = BestConverter::scaledLab(rgb, chromaFactor);
        const float xl = float(x.L);
        const float xa = float(x.a);
        const float xb = float(x.b);
        const float xc = float(std::sqrt(x.a * x.a + x.b * x.b));
        const bool grey = x.a == 0.0 && x.b == 0.0;
        float pixelLow = 0.0f;
        float pixelHigh = 0.0f;
        bluePositions(x.a, x.b, &pixelLow, &pixelHigh);
        for (int low = 0; low < 16; ++low) {
            for (int high = low; high < 16; ++high) {
                Lab blend[256];
                float minChroma = 1e9f;
                float maxChroma = 0.0f;
                float boxLow[4] = {1e9f, 1e9f, 1e9f, 1e9f};      // L*, a*, b*, positions from blue
                float boxHigh[4] = {-1e9f, -1e9f, -1e9f, -1e9f};
                double nearest = 1e300;
                for (int l = 0; l < 256; ++l) {
                    blend[l] = LinearBlend::lab(colours[size_t(low * 16 + (l >> 4))], colours[size_t(high * 16 + (l & 15))]);
                    const double chroma = std::sqrt(blend[l].a * blend[l].a + blend[l].b * blend[l].b);
                    minChroma = std::min(minChroma, std::nextafter(float(chroma), 0.0f));
                    maxChroma = std::max(maxChroma, std::nextafter(float(chroma), 1e9f));
                    float positionLow = 0.0f;
                    float positionHigh = 0.0f;
                    bluePositions(blend[l].a, blend[l].b, &positionLow, &positionHigh);
                    const float values[3] = {float(blend[l].L), float(blend[l].a), float(blend[l].b)};
                    for (int i = 0; i < 3; ++i) {
                        boxLow[i] = std::min(boxLow[i], values[i]);
                        boxHigh[i] = std::max(boxHigh[i], values[i]);
                    }
                    boxLow[3] = std::min(boxLow[3], positionLow);
                    boxHigh[3] = std::max(boxHigh[3], positionHigh);
                    nearest = std::min(nearest, ColourScience::deltaE2000(x, blend[l]));
                }
                float stretch = 0.0f, compressionHigh = 0.0f, scSlope = 0.0f, gHigh = 0.0f;
                screeningWeights(xc, minChroma, maxChroma, &stretch, &compressionHigh, &scSlope, &gHigh);
                if (grey)
                    compressionHigh = 0.0f;
                for (int l = 0; l < 256; ++l) {
                    const Lab &y = blend[l];
                    const float yc = float(std::sqrt(y.a * y.a + y.b * y.b));
                    float positionLow = 0.0f;
                    float positionHigh = 0.0f;
                    bluePositions(y.a, y.b, &positionLow, &positionHigh);
                    const float rotation = rotationBound(
                        compressionHigh, sinRotationBetween(rotationSteps, pixelLow, pixelHigh, positionLow, positionHigh));
                    const float root = screenRoot(xl, xa, xb, xc, float(y.L), float(y.a), float(y.b), yc, stretch,
                                                  rotation, scSlope, gHigh);
                    const double exact = ColourScience::deltaE2000(x, y);
                    if (!(floatBound(root) <= exact))
                        QFAIL(qPrintable(QStringLiteral("colour %1, hues %2 and %3, luminances %4: bound %5 above %6")
                                             .arg(rgb, 6, 16, QLatin1Char('0'))
                                             .arg(low)
                                             .arg(high)
                                             .arg(l, 2, 16, QLatin1Char('0'))
                                             .arg(floatBound(root), 0, 'g', 17)
                                             .arg(exact, 0, 'g', 17)));
                    const float plain = screenRootPlain(xl, xa, xb, xc, float(y.L), float(y.a), float(y.b), yc, stretch,
                                                        rotation, scSlope);
                    QVERIFY2(root >= plain * (1.0f - 1e-6f), qPrintable(QStringLiteral("%1 below the plain %2").arg(root).arg(plain)));
                }
                // The box: every blend at least as far as it in L*, a* and b*, SL, SC and SH at most their
                // values at its extremes, the chroma difference at most its widest.
                const float dl = std::max(std::max(boxLow[0] - xl, xl - boxHigh[0]), 0.0f);
                const float sl = 1.0f + 0.0075f * std::max(std::fabs(boxLow[0] + xl - 100.0f), std::fabs(boxHigh[0] + xl - 100.0f));
                const float da = std::max(std::max(boxLow[1] - xa, xa - boxHigh[1]), 0.0f);
                const float db = std::max(std::max(boxLow[2] - xb, xb - boxHigh[2]), 0.0f);
                const float dcHigh = std::max(std::fabs(minChroma - xc), std::fabs(maxChroma - xc))
                    + gHigh * std::max(xc, maxChroma) + kChromaMargin;
                const float rotation =
                    rotationBound(compressionHigh, sinRotationBetween(rotationSteps, pixelLow, pixelHigh, boxLow[3], boxHigh[3]));
                const float box = std::sqrt(dl * dl / (sl * sl)
                                            + screenChromaPart(stretch * da * da + db * db, dcHigh, xc + minChroma,
                                                               xc + maxChroma, rotation, scSlope));
                QVERIFY2(floatBound(box) <= nearest,
                         qPrintable(QStringLiteral("colour %1, hues %2 and %3: box bound %4 above %5")
                                        .arg(rgb, 6, 16, QLatin1Char('0'))
                                        .arg(low)
                                        .arg(high)
                                        .arg(floatBound(box), 0, 'g', 17)
                                        .arg(nearest, 0, 'g', 17)));
            }
        }
    }
}

void TestBestConversion::scaledLab_data()
{
    QTest::addColumn<quint32>("rgb");
    QTest::addColumn<double>("chromaFactor");
    QTest::addColumn<double>("L");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");

    // From the commonly tabulated L*a*b* of the sRGB primaries (two decimals): red 53.24, 80.09,
    // 67.20; blue 32.30, 79.20, -107.86. The lightness stays, a* and b* are scaled.
    QTest::newRow("red, grey") << 0xFF0000u << 0.0 << 53.24 << 0.0 << 0.0;
    QTest::newRow("red, half") << 0xFF0000u << 0.5 << 53.24 << 40.045 << 33.60;
    QTest::newRow("red, as photographed") << 0xFF0000u << 1.0 << 53.24 << 80.09 << 67.20;
    QTest::newRow("blue, twice") << 0x0000FFu << 2.0 << 32.30 << 158.40 << -215.72;
}

void TestBestConversion::scaledLab()
{
    QFETCH(quint32, rgb);
    QFETCH(double, chromaFactor);
    QFETCH(double, L);
    QFETCH(double, a);
    QFETCH(double, b);

    const Lab lab = BestConverter::scaledLab(rgb, chromaFactor);
    // The tabulated values are rounded to 0.005; scaled by 2, to 0.01.
    const double tolerance = 0.005 * std::max(1.0, chromaFactor) + 1e-9;
    QVERIFY2(qAbs(lab.L - L) <= tolerance, qPrintable(QString::number(lab.L, 'f', 4)));
    QVERIFY2(qAbs(lab.a - a) <= tolerance, qPrintable(QString::number(lab.a, 'f', 4)));
    QVERIFY2(qAbs(lab.b - b) <= tolerance, qPrintable(QString::number(lab.b, 'f', 4)));
}

QTEST_GUILESS_MAIN(TestBestConversion)
#include "tst_bestconversion.moc"
