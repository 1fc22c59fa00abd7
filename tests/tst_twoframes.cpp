#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "ataripalgen.h"
#include "atarigeometry.h"
#include "atariview.h"
#include "bestconversion.h"
#include "colourscience.h"
#include "linearblend.h"
#include "pictureloader.h"
#include "twoframeconversion.h"

using ColourScience::Lab;
using namespace Geometry;

namespace {

enum class Source { Noise, PaletteColours, FewColours, Chelsea, Coffee, Rocket };
enum class Palette { Base, Ties, Random };

struct Frames {
    std::vector<quint8> outputA = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesA = std::vector<quint8>(kHues);
    std::vector<quint8> outputB = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesB = std::vector<quint8>(kHues);
};

// The base palette, one full of exact ties (hues 2k and 2k+1 equal, luminances 2k and 2k+1 equal), or
// random colours.
std::vector<quint32> makePalette(Palette kind)
{
    const ATARIpalGen gen;
    std::vector<quint32> rgb(256);
    std::mt19937 random(256);
    for (int i = 0; i < 256; ++i) {
        const int hue = i >> 4;
        const int lum = i & 15;
        rgb[size_t(i)] = kind == Palette::Base ? gen.getBase(quint8(i))
            : kind == Palette::Ties           ? gen.getBase(quint8((hue & ~1) << 4 | (lum & ~1)))
                                              : quint32(random() & 0xFFFFFFu);
    }
    return rgb;
}

std::vector<quint32> makePicture(Source source, quint32 seed, const std::vector<quint32> &palette)
{
    std::mt19937 random(seed);
    std::vector<quint32> picture(kAtariPixels);
    const char *photo = source == Source::Chelsea ? "chelsea.jpg"
        : source == Source::Coffee                ? "coffee.jpg"
                                                  : "rocket.jpg";
    switch (source) {
    case Source::Noise:
        for (quint32 &p : picture)
            p = random() & 0xFFFFFFu;
        break;
    case Source::PaletteColours:
        for (quint32 &p : picture)
            p = palette[random() % 256];
        break;
    case Source::FewColours: {
        const quint32 colours[4] = {quint32(random() & 0xFFFFFFu), quint32(random() & 0xFFFFFFu), 0x000000u, 0xFFFFFFu};
        for (int i = 0; i < kAtariPixels;) {
            const quint32 c = colours[random() % 4];
            const int length = 1 + int(random() % 12);
            for (int k = 0; k < length && i < kAtariPixels; ++k)
                picture[size_t(i++)] = c;
        }
        break;
    }
    case Source::Chelsea:
    case Source::Coffee:
    case Source::Rocket: {
        std::vector<quint32> pixels(kSourcePixels);
        QString error;
        if (!PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/") + QLatin1String(photo), pixels.data(), &error))
            qFatal("%s", qPrintable(error));
        const ATARIpalGen gen;
        for (int j = 0; j < kAtariPixels; ++j) {
            const quint32 *s = pixels.data() + kSourcePerAtari * j;
            picture[size_t(j)] = gen.average(s[0], s[1], s[2], s[3]);
        }
        break;
    }
    }
    return picture;
}

// What shows on one screen pixel: the hues of a run (hue table index) or a constant colour.
struct Shown {
    int hueIndex;
    quint8 value;
};

// The screen pixels' sources, walking the landings of the kernel's stores in beam order.
std::vector<Shown> screenSources()
{
    int count = 0;
    const AtariView::Landing *landings = AtariView::landings(&count);
    std::vector<Shown> shown(size_t(AtariView::kWidth * AtariView::kHeight));
    Shown current{-1, 0};
    int next = 0;
    for (int y = 0; y < AtariView::kHeight; ++y)
        for (int x = 0; x < AtariView::kWidth; ++x) {
            for (; next < count && (landings[next].row < y || (landings[next].row == y && landings[next].column <= x));
                 ++next)
                current = Shown{landings[next].hueIndex, landings[next].value};
            shown[size_t(y * AtariView::kWidth + x)] = current;
        }
    return shown;
}

// The search the converter must agree with, for one line pair. Every ordered hue pair of every run and
// every luminance pair of every pixel is evaluated; a luminance pair is allowed when the two colours
// of every screen pixel of the Atari pixel (with the hues in effect there) have L* at most F apart.
// Pixels showing only their own run's hues (and constants) add to their run's cost; pixels showing a
// neighbouring run's hues too add to the cost of that pair of runs, which is searched over all 256 x 256
// combinations. Differences are summed as floor(d * 2^40); the lowest total wins, then the lowest
// sequence of hue pairs, then per pixel the lowest difference and the lowest luminance pair.
class BruteForce
{
public:
    BruteForce(const std::vector<quint32> &palette, int flicker) : flicker(flicker), sources(screenSources())
    {
        for (int i = 0; i < 256; ++i)
            lightness[i] = ColourScience::labFromRgb(palette[size_t(i)]).L;
        blends.resize(256 * 256);
        for (int i = 0; i < 256; ++i)
            for (int j = 0; j < 256; ++j)
                blends[size_t(i * 256 + j)] = LinearBlend::lab(palette[size_t(i)], palette[size_t(j)]);
    }

    // Fills the pair's entries of frames; returns false when a pixel shows a run other than its own or
    // a neighbour in its line pair (which this search does not cover).
    bool solve(const std::vector<quint32> &picture, double chromaFactor, int pair, Frames &frames)
    {
        constexpr int kRuns = kSegmentsPerPair;
        const int pixelsPerPair = kAtariPixels / kLinePairs;
        // The pixels of each run, each with its sources.
        struct Pixel {
            int index;
            int neighbour = -1;
            std::vector<quint8> constants;
            std::vector<std::pair<double, int>> sorted[256]; // per own pair, for boundary pixels
            double lowest[256];                               // per own pair, for the others
            int lowestLuminances[256];
        };
        std::vector<std::vector<Pixel>> runs(kRuns);
        for (int s = 0, i = pair * pixelsPerPair; s < kRuns; ++s) {
            for (int k = 0; k < kSegmentLengths[s]; ++k, ++i) {
                Pixel pixel;
                pixel.index = i;
                const int row = i / kAtariWidth;
                const int column = i % kAtariWidth;
                for (int x = column * 4; x < column * 4 + 4; ++x) {
                    const Shown &shown = sources[size_t(row * AtariView::kWidth + x)];
                    if (shown.hueIndex < 0) {
                        pixel.constants.push_back(shown.value);
                    } else if (shown.hueIndex != kRuns * pair + s) {
                        if (shown.hueIndex / kRuns != pair || std::abs(shown.hueIndex % kRuns - s) != 1)
                            return false;
                        pixel.neighbour = shown.hueIndex % kRuns;
                    }
                }
                runs[size_t(s)].push_back(std::move(pixel));
            }
        }
        // Every difference of every pixel (to the blend of palette entries a and b, as to that of b and a).
        std::vector<double> differences(256 * 256);
        for (int s = 0; s < kRuns; ++s) {
            for (Pixel &pixel : runs[size_t(s)]) {
                const Lab x = BestConverter::scaledLab(picture[size_t(pixel.index)] & 0xFFFFFFu, chromaFactor);
                for (int a = 0; a < 256; ++a)
                    for (int b = a; b < 256; ++b)
                        differences[size_t(a * 256 + b)] = differences[size_t(b * 256 + a)]
                            = ColourScience::deltaE2000(x, blends[size_t(a * 256 + b)]);
                for (int hues = 0; hues < 256; ++hues) {
                    std::vector<std::pair<double, int>> allowed;
                    for (int l = 0; l < 256; ++l) {
                        const int a = (hues >> 4) * 16 + (l >> 4);
                        const int b = (hues & 15) * 16 + (l & 15);
                        if (!allows(a, b))
                            continue;
                        bool constantsAllow = true;
                        for (quint8 v : pixel.constants)
                            constantsAllow = constantsAllow
                                && allows((v & 0xF0) | ((v | (l >> 4)) & 0x0F), (v & 0xF0) | ((v | (l & 15)) & 0x0F));
                        if (constantsAllow)
                            allowed.emplace_back(differences[size_t(a * 256 + b)], l);
                    }
                    std::sort(allowed.begin(), allowed.end());
                    pixel.lowest[hues] = allowed.empty() ? -1.0 : allowed.front().first;
                    pixel.lowestLuminances[hues] = allowed.empty() ? -1 : allowed.front().second;
                    if (pixel.neighbour >= 0)
                        pixel.sorted[hues] = std::move(allowed);
                }
            }
        }
        // The lowest allowed difference of a boundary pixel with its own pair and its neighbour's.
        const auto boundary = [&](const Pixel &pixel, int own, int other, int *luminances) {
            for (const auto &candidate : pixel.sorted[own]) {
                const int l = candidate.second;
                if (allows((other >> 4) * 16 + (l >> 4), (other & 15) * 16 + (l & 15))) {
                    *luminances = l;
                    return quantised(candidate.first);
                }
            }
            return kNone;
        };
        // Run costs and the costs of neighbouring pairs of runs, then the lowest total from each run on.
        std::vector<std::vector<qint64>> node(kRuns, std::vector<qint64>(256, 0));
        std::vector<std::vector<qint64>> edge(kRuns, std::vector<qint64>(256 * 256, 0));
        for (int s = 0; s < kRuns; ++s)
            for (const Pixel &pixel : runs[size_t(s)])
                for (int hues = 0; hues < 256; ++hues)
                    if (pixel.neighbour < 0)
                        node[size_t(s)][size_t(hues)] =
                            add(node[size_t(s)][size_t(hues)],
                                pixel.lowest[hues] < 0 ? kNone : quantised(pixel.lowest[hues]));
        for (int s = 0; s + 1 < kRuns; ++s) {
            for (int left = 0; left < 256; ++left) {
                for (int right = 0; right < 256; ++right) {
                    qint64 &e = edge[size_t(s)][size_t(left * 256 + right)];
                    int unused = 0;
                    for (const Pixel &pixel : runs[size_t(s)])
                        if (pixel.neighbour == s + 1)
                            e = add(e, boundary(pixel, left, right, &unused));
                    for (const Pixel &pixel : runs[size_t(s + 1)])
                        if (pixel.neighbour == s)
                            e = add(e, boundary(pixel, right, left, &unused));
                }
            }
        }
        std::vector<std::vector<qint64>> onwards(kRuns, std::vector<qint64>(256, kNone));
        onwards[kRuns - 1] = node[kRuns - 1];
        for (int s = kRuns - 2; s >= 0; --s)
            for (int left = 0; left < 256; ++left)
                for (int right = 0; right < 256; ++right)
                    onwards[size_t(s)][size_t(left)] = std::min(
                        onwards[size_t(s)][size_t(left)],
                        add(node[size_t(s)][size_t(left)],
                            add(edge[size_t(s)][size_t(left * 256 + right)], onwards[size_t(s + 1)][size_t(right)])));
        int choice[kRuns];
        choice[0] = int(std::min_element(onwards[0].begin(), onwards[0].end()) - onwards[0].begin());
        for (int s = 0; s + 1 < kRuns; ++s) {
            const qint64 target = onwards[size_t(s)][size_t(choice[s])] - node[size_t(s)][size_t(choice[s])];
            choice[s + 1] = 0;
            const auto through = [&](int right) {
                return add(edge[size_t(s)][size_t(choice[s] * 256 + right)], onwards[size_t(s + 1)][size_t(right)]);
            };
            while (through(choice[s + 1]) != target)
                ++choice[s + 1];
        }
        for (int s = 0; s < kRuns; ++s) {
            frames.huesA[size_t(kRuns * pair + s)] = quint8(choice[s] & 0xF0);
            frames.huesB[size_t(kRuns * pair + s)] = quint8(choice[s] << 4);
            for (const Pixel &pixel : runs[size_t(s)]) {
                int l = pixel.lowestLuminances[choice[s]];
                if (pixel.neighbour >= 0)
                    boundary(pixel, choice[s], choice[pixel.neighbour], &l);
                frames.outputA[size_t(pixel.index)] = quint8((choice[s] & 0xF0) | l >> 4);
                frames.outputB[size_t(pixel.index)] = quint8((choice[s] & 0x0F) << 4 | (l & 15));
            }
        }
        return true;
    }

private:
    static constexpr qint64 kNone = std::numeric_limits<qint64>::max() / 4;

    static qint64 quantised(double d) { return qint64(std::ldexp(d, 40)); }
    static qint64 add(qint64 a, qint64 b) { return a >= kNone || b >= kNone ? kNone : a + b; }
    bool allows(int a, int b) const { return std::fabs(lightness[a] - lightness[b]) <= flicker; }

    int flicker;
    std::vector<Shown> sources;
    double lightness[256];
    std::vector<Lab> blends;
};

} // namespace

// The two-frame conversion against an exhaustive search on line pairs of pictures that stress its
// bounds, its ties and its flicker limit.
class TestTwoFrames : public QObject
{
    Q_OBJECT

private slots:
    void matchesBruteForce_data();
    void matchesBruteForce();
    void blends();
};

void TestTwoFrames::matchesBruteForce_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("palette");
    QTest::addColumn<double>("chromaFactor");
    QTest::addColumn<int>("flicker");
    QTest::addColumn<int>("pair");

    const int base = int(Palette::Base);
    QTest::newRow("chelsea, flicker 10") << int(Source::Chelsea) << base << 1.0 << 10 << 61;
    QTest::newRow("chelsea, flicker 0") << int(Source::Chelsea) << base << 1.0 << 0 << 30;
    QTest::newRow("coffee, flicker 5") << int(Source::Coffee) << base << 1.0 << 5 << 75;
    QTest::newRow("coffee, flicker 10, chroma 2") << int(Source::Coffee) << base << 2.0 << 10 << 40;
    QTest::newRow("rocket, flicker 100") << int(Source::Rocket) << base << 1.0 << 100 << 90;
    QTest::newRow("rocket, flicker 10, chroma 0") << int(Source::Rocket) << base << 0.0 << 10 << 20;
    QTest::newRow("noise, flicker 10") << int(Source::Noise) << base << 1.0 << 10 << 7;
    QTest::newRow("noise, flicker 0, chroma 2") << int(Source::Noise) << base << 2.0 << 0 << 8;
    const int ties = int(Palette::Ties);
    QTest::newRow("palette colours, tie palette, flicker 10") << int(Source::PaletteColours) << ties << 1.0 << 10 << 3;
    QTest::newRow("few colours, tie palette, flicker 0") << int(Source::FewColours) << ties << 1.0 << 0 << 4;
    QTest::newRow("few colours, tie palette, flicker 5") << int(Source::FewColours) << ties << 0.5 << 5 << 5;
    QTest::newRow("noise, random palette, flicker 10") << int(Source::Noise) << int(Palette::Random) << 1.0 << 10 << 6;
}

void TestTwoFrames::matchesBruteForce()
{
    QFETCH(int, source);
    QFETCH(int, palette);
    QFETCH(double, chromaFactor);
    QFETCH(int, flicker);
    QFETCH(int, pair);

    const std::vector<quint32> colours = makePalette(Palette(palette));
    const std::vector<quint32> picture = makePicture(Source(source), quint32(pair), colours);
    auto converter = std::make_unique<TwoFrameConverter>();
    converter->setPalette(colours.data());

    // The converter on the line pair and its neighbours with one thread, and with two; the same result.
    Frames actual;
    Frames twoThreads;
    converter->convertPairs(picture.data(), chromaFactor, flicker, pair - 1, pair + 1, 1, actual.outputA.data(),
                            actual.huesA.data(), actual.outputB.data(), actual.huesB.data());
    converter->convertPairs(picture.data(), chromaFactor, flicker, pair - 1, pair + 1, 2, twoThreads.outputA.data(),
                            twoThreads.huesA.data(), twoThreads.outputB.data(), twoThreads.huesB.data());
    QVERIFY(actual.outputA == twoThreads.outputA && actual.outputB == twoThreads.outputB);
    QVERIFY(actual.huesA == twoThreads.huesA && actual.huesB == twoThreads.huesB);

    Frames expected;
    BruteForce search(colours, flicker);
    QVERIFY(search.solve(picture, chromaFactor, pair, expected));
    const int first = pair * kAtariPixels / kLinePairs;
    for (int s = 0, i = first; s < kSegmentsPerPair; ++s) {
        const size_t h = size_t(kSegmentsPerPair * pair + s);
        QCOMPARE(actual.huesA[h], expected.huesA[h]);
        QCOMPARE(actual.huesB[h], expected.huesB[h]);
        for (int k = 0; k < kSegmentLengths[s]; ++k, ++i) {
            QCOMPARE(actual.outputA[size_t(i)], expected.outputA[size_t(i)]);
            QCOMPARE(actual.outputB[size_t(i)], expected.outputB[size_t(i)]);
        }
    }

    // What the Atari shows of the three line pairs keeps within the flicker limit: with limit 0 the two
    // colours of every screen pixel have the same L*.
    std::vector<quint8> screenA(size_t(AtariView::kWidth * AtariView::kHeight));
    std::vector<quint8> screenB(screenA.size());
    AtariView::render(actual.outputA.data(), actual.huesA.data(), screenA.data());
    AtariView::render(actual.outputB.data(), actual.huesB.data(), screenB.data());
    for (size_t i = size_t((pair - 1) * 2 * AtariView::kWidth); i < size_t((pair + 2) * 2 * AtariView::kWidth); ++i) {
        const double a = ColourScience::labFromRgb(colours[screenA[i]]).L;
        const double b = ColourScience::labFromRgb(colours[screenB[i]]).L;
        if (flicker == 0)
            QCOMPARE(a, b);
        else
            QVERIFY2(std::fabs(a - b) <= flicker,
                     qPrintable(QStringLiteral("screen pixel %1: L* %2 and %3").arg(i).arg(a).arg(b)));
    }
}

// The blend of two colours is their mean in linear light: black and white give linear 0.5, which is
// sRGB 187.5 (rounded to 188) and L* = 116 * 0.5^(1/3) - 16; a colour with itself is that colour.
void TestTwoFrames::blends()
{
    QCOMPARE(LinearBlend::rgb(0x000000u, 0xFFFFFFu), 0xBCBCBCu);
    QCOMPARE(LinearBlend::rgb(0xFF0000u, 0x0000FFu), 0xBC00BCu);
    QCOMPARE(LinearBlend::rgb(0x123456u, 0x123456u), 0x123456u);
    const Lab grey = LinearBlend::lab(0x000000u, 0xFFFFFFu);
    QVERIFY(std::fabs(grey.L - (116.0 * std::cbrt(0.5) - 16.0)) < 1e-9);
    QVERIFY(std::fabs(grey.a) < 1e-9 && std::fabs(grey.b) < 1e-9);
    const Lab same = LinearBlend::lab(0x3366CCu, 0x3366CCu);
    const Lab plain = ColourScience::labFromRgb(0x3366CCu);
    QCOMPARE(same.L, plain.L);
    QCOMPARE(same.a, plain.a);
    QCOMPARE(same.b, plain.b);
}

QTEST_GUILESS_MAIN(TestTwoFrames)
#include "tst_twoframes.moc"
