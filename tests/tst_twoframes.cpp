#include <QtTest>

#include <algorithm>
#include <map>
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

enum class Source { Noise, PaletteRuns, Blends, NearBlends, FewColours, Blues, Chelsea, Coffee, Rocket };
enum class Palette { Base, Ties, Random, White };

struct Frames {
    std::vector<quint8> outputA = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesA = std::vector<quint8>(kHues);
    std::vector<quint8> outputB = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesB = std::vector<quint8>(kHues);
};

// The base palette; one full of exact ties (hues 2k and 2k+1 equal, luminances 2k and 2k+1 equal);
// random colours; or the base palette with luminances 14 and 15 of every hue pure white (L* = 100, the
// top of the lightness range, in 32 entries that tie).
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
            : kind == Palette::White          ? (lum >= 14 ? 0xFFFFFFu : gen.getBase(quint8(i)))
                                              : quint32(random() & 0xFFFFFFu);
    }
    return rgb;
}

// A palette with a converter and the blends of all pairs of its entries, prepared once for all the
// tests that use it.
struct PaletteSetup {
    std::vector<quint32> colours;
    std::unique_ptr<TwoFrameConverter> converter = std::make_unique<TwoFrameConverter>();
    std::vector<Lab> blends = std::vector<Lab>(256 * 256);
};

const PaletteSetup &setupFor(Palette kind)
{
    static std::map<Palette, PaletteSetup> setups;
    auto known = setups.find(kind);
    if (known != setups.end())
        return known->second;
    PaletteSetup &setup = setups[kind];
    setup.colours = makePalette(kind);
    setup.converter->setPalette(setup.colours.data());
    for (int i = 0; i < 256; ++i)
        for (int j = 0; j < 256; ++j)
            setup.blends[size_t(i * 256 + j)] =
                LinearBlend::lab(setup.colours[size_t(i)], setup.colours[size_t(j)]);
    return setup;
}

// Pictures of a few colours each (the exhaustive search works per colour), in runs of 1 to 12 pixels:
// random colours; exact palette colours; exact blends of two palette colours (a difference of 0 for
// some hue and luminance pairs, where the lower bounds are tight); blends with each channel moved by
// one (differences just above 0); black, white and two random colours; blues and violets, whose
// CIEDE2000 mean hues lie near 275 degrees where its rotation term is largest. Or a photo.
std::vector<quint32> makePicture(Source source, quint32 seed, const std::vector<quint32> &palette)
{
    std::mt19937 random(seed);
    std::vector<quint32> picture(kAtariPixels);
    std::vector<quint32> colours(24);
    for (quint32 &c : colours) {
        const int a = int(random() % 256);
        const int b = int(random() % 256);
        const quint32 blend = LinearBlend::rgb(palette[size_t(a)], palette[size_t(b)]);
        quint32 moved = 0;
        for (int shift = 16; shift >= 0; shift -= 8)
            moved = moved << 8 | quint32(qBound(0, int(blend >> shift & 0xFF) + int(random() % 3) - 1, 255));
        const quint32 blue = 128 + random() % 128;
        switch (source) {
        case Source::Noise:
            c = random() & 0xFFFFFFu;
            break;
        case Source::PaletteRuns:
            c = palette[size_t(a)] & 0xFFFFFFu;
            break;
        case Source::Blends:
            c = blend;
            break;
        case Source::NearBlends:
            c = moved;
            break;
        case Source::Blues:
            c = quint32(random() % blue) << 16 | quint32(random() % blue) << 8 | blue;
            break;
        default:
            break;
        }
    }
    if (source == Source::FewColours)
        colours = {quint32(random() & 0xFFFFFFu), quint32(random() & 0xFFFFFFu), 0x000000u, 0xFFFFFFu};

    const char *photo = source == Source::Chelsea ? "chelsea.jpg"
        : source == Source::Coffee                ? "coffee.jpg"
                                                  : "rocket.jpg";
    if (source == Source::Chelsea || source == Source::Coffee || source == Source::Rocket) {
        std::vector<quint32> pixels(kSourcePixels);
        QString error;
        if (!PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/") + QLatin1String(photo), pixels.data(), &error))
            qFatal("%s", qPrintable(error));
        const ATARIpalGen gen;
        for (int j = 0; j < kAtariPixels; ++j) {
            const quint32 *s = pixels.data() + kSourcePerAtari * j;
            picture[size_t(j)] = gen.average(s[0], s[1], s[2], s[3]);
        }
        return picture;
    }
    for (int i = 0; i < kAtariPixels;) {
        const quint32 c = colours[random() % colours.size()];
        const int length = 1 + int(random() % 12);
        for (int k = 0; k < length && i < kAtariPixels; ++k)
            picture[size_t(i++)] = c;
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
    // palette: 256 colours; blends: the blend of entries i and j at i * 256 + j.
    BruteForce(const std::vector<quint32> &palette, const std::vector<Lab> &blends, int flicker)
        : flicker(flicker), sources(screenSources()), blends(blends)
    {
        for (int i = 0; i < 256; ++i)
            lightness[i] = ColourScience::labFromRgb(palette[size_t(i)]).L;
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
        // Every difference of every pixel (to the blend of palette entries a and b, as to that of b and a),
        // worked out once for all pixels of the same colour.
        std::map<quint32, std::vector<Pixel *>> byColour;
        for (std::vector<Pixel> &run : runs)
            for (Pixel &pixel : run)
                byColour[picture[size_t(pixel.index)] & 0xFFFFFFu].push_back(&pixel);
        for (const auto &colour : byColour) {
            const std::vector<double> &differences = differencesOf(colour.first, chromaFactor);
            for (Pixel *pixel : colour.second) {
                for (int hues = 0; hues < 256; ++hues) {
                    std::vector<std::pair<double, int>> allowed;
                    for (int l = 0; l < 256; ++l) {
                        const int a = (hues >> 4) * 16 + (l >> 4);
                        const int b = (hues & 15) * 16 + (l & 15);
                        if (!allows(a, b))
                            continue;
                        bool constantsAllow = true;
                        for (quint8 v : pixel->constants)
                            constantsAllow = constantsAllow
                                && allows((v & 0xF0) | ((v | (l >> 4)) & 0x0F), (v & 0xF0) | ((v | (l & 15)) & 0x0F));
                        if (constantsAllow)
                            allowed.emplace_back(differences[size_t(a * 256 + b)], l);
                    }
                    // Only a boundary pixel needs them all in order; the others need the least.
                    if (pixel->neighbour >= 0)
                        std::sort(allowed.begin(), allowed.end());
                    else if (!allowed.empty())
                        std::iter_swap(allowed.begin(), std::min_element(allowed.begin(), allowed.end()));
                    pixel->lowest[hues] = allowed.empty() ? -1.0 : allowed.front().first;
                    pixel->lowestLuminances[hues] = allowed.empty() ? -1 : allowed.front().second;
                    if (pixel->neighbour >= 0)
                        pixel->sorted[hues] = std::move(allowed);
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

    // Checks, for the hue pairs frames gives the runs of a line pair, that every pixel has the
    // luminance pair the rule asks for: allowed for its own hue pair, the constants and the neighbouring
    // run's hue pair shown at it, with the lowest difference, then the lowest lA * 16 + lB. Returns the
    // first pixel that has another, or -1.
    int firstWrongPixel(const std::vector<quint32> &picture, double chromaFactor, int pair, const Frames &frames) const
    {
        const int pixelsPerPair = kAtariPixels / kLinePairs;
        for (int s = 0, i = pair * pixelsPerPair; s < kSegmentsPerPair; ++s) {
            const auto huesOf = [&](int run) {
                const size_t h = size_t(kSegmentsPerPair * pair + run);
                return (frames.huesA[h] >> 4) << 4 | frames.huesB[h] >> 4;
            };
            for (int k = 0; k < kSegmentLengths[s]; ++k, ++i) {
                const int row = i / kAtariWidth;
                const int column = i % kAtariWidth;
                std::vector<int> shownHues{huesOf(s)};
                std::vector<quint8> constants;
                for (int x = column * 4; x < column * 4 + 4; ++x) {
                    const Shown &shown = sources[size_t(row * AtariView::kWidth + x)];
                    if (shown.hueIndex < 0)
                        constants.push_back(shown.value);
                    else
                        shownHues.push_back(huesOf(shown.hueIndex % kSegmentsPerPair));
                }
                const Lab x = BestConverter::scaledLab(picture[size_t(i)] & 0xFFFFFFu, chromaFactor);
                double best = 0.0;
                int bestLuminances = -1;
                for (int l = 0; l < 256; ++l) {
                    bool allowed = true;
                    for (int hues : shownHues)
                        allowed = allowed && allows((hues >> 4) * 16 + (l >> 4), (hues & 15) * 16 + (l & 15));
                    for (quint8 v : constants)
                        allowed = allowed && allows((v & 0xF0) | ((v | (l >> 4)) & 0x0F), (v & 0xF0) | ((v | (l & 15)) & 0x0F));
                    if (!allowed)
                        continue;
                    const double d = ColourScience::deltaE2000(x, blends[size_t(((shownHues[0] >> 4) * 16 + (l >> 4)) * 256
                                                                             + (shownHues[0] & 15) * 16 + (l & 15))]);
                    if (bestLuminances < 0 || d < best) {
                        best = d;
                        bestLuminances = l;
                    }
                }
                const int actual = (frames.outputA[size_t(i)] & 15) << 4 | (frames.outputB[size_t(i)] & 15);
                if (bestLuminances < 0 || actual != bestLuminances)
                    return i;
            }
        }
        return -1;
    }

private:
    // The differences of a colour to the blends of every pair of palette entries the flicker limit
    // allows (others are never read); kept for the few colours of a synthetic picture.
    const std::vector<double> &differencesOf(quint32 colour, double chromaFactor)
    {
        auto known = cache.find(colour);
        if (known != cache.end())
            return known->second;
        std::vector<double> &differences = cache.size() < 32 ? cache[colour] : scratch;
        differences.assign(256 * 256, 0.0);
        const Lab x = BestConverter::scaledLab(colour, chromaFactor);
        for (int a = 0; a < 256; ++a)
            for (int b = a; b < 256; ++b)
                if (allows(a, b))
                    differences[size_t(a * 256 + b)] = differences[size_t(b * 256 + a)]
                        = ColourScience::deltaE2000(x, blends[size_t(a * 256 + b)]);
        return differences;
    }

    static constexpr qint64 kNone = std::numeric_limits<qint64>::max() / 4;

    static qint64 quantised(double d) { return qint64(std::ldexp(d, 40)); }
    static qint64 add(qint64 a, qint64 b) { return a >= kNone || b >= kNone ? kNone : a + b; }
    bool allows(int a, int b) const { return std::fabs(lightness[a] - lightness[b]) <= flicker; }

    int flicker;
    std::vector<Shown> sources;
    double lightness[256];
    const std::vector<Lab> &blends;
    std::map<quint32, std::vector<double>> cache; // for one chroma factor
    std::vector<double> scratch;
};

// A test row's name from its columns: "source, [palette kind palette, ]flicker F[, chroma C]".
QByteArray rowName(Source source, Palette palette, double chromaFactor, int flicker)
{
    const char *const sources[] = {"noise", "palette runs", "blends", "near blends", "few colours",
                                   "blues", "chelsea", "coffee", "rocket"};
    const char *const palettes[] = {"", "tie palette, ", "random palette, ", "white palette, "};
    QString name = QStringLiteral("%1, %2flicker %3")
                       .arg(QLatin1String(sources[int(source)]), QLatin1String(palettes[int(palette)]))
                       .arg(flicker);
    if (chromaFactor != 1.0)
        name += QStringLiteral(", chroma %1").arg(chromaFactor);
    return name.toLatin1();
}

} // namespace

// The two-frame conversion against an exhaustive search on line pairs of pictures that stress its
// bounds, its ties and its flicker limit.
class TestTwoFrames : public QObject
{
    Q_OBJECT

private slots:
    void matchesBruteForce_data();
    void matchesBruteForce();
    void luminancesOptimalOnManyPairs_data();
    void luminancesOptimalOnManyPairs();
    void blends();
};

void TestTwoFrames::matchesBruteForce_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("palette");
    QTest::addColumn<double>("chromaFactor");
    QTest::addColumn<int>("flicker");
    QTest::addColumn<int>("firstPair");
    QTest::addColumn<int>("pairs");
    QTest::addColumn<bool>("twoThreads");

    const struct Case
    {
        Source source;
        Palette palette;
        double chromaFactor;
        int flicker;
        int firstPair;
        int pairs;
        bool twoThreads = false;
    } cases[] = {
        // Photos: every pixel its own colour, the search's dearest case.
        {Source::Chelsea, Palette::Base, 1.0, 10, 60, 2, true},
        {Source::Coffee, Palette::Base, 2.0, 5, 40, 1},
        {Source::Rocket, Palette::Base, 0.5, 0, 20, 1},
        // Differences of 0 and just above, exact palette colours, ties, pure white, the rotation arc, random
        // palettes; chroma factors 0.5, 1 and 2; flicker 0, 5, 10 and unlimited.
        {Source::Blends, Palette::Base, 1.0, 10, 3, 3, true},
        {Source::Blends, Palette::Base, 2.0, 5, 57, 3},
        {Source::NearBlends, Palette::Base, 1.0, 5, 70, 3},
        {Source::NearBlends, Palette::Base, 2.0, 10, 90, 3},
        {Source::NearBlends, Palette::Base, 0.5, 0, 110, 3},
        {Source::PaletteRuns, Palette::Base, 1.0, 0, 12, 3},
        {Source::PaletteRuns, Palette::Ties, 1.0, 10, 0, 3},
        {Source::Blends, Palette::Ties, 0.5, 5, 45, 3},
        {Source::FewColours, Palette::Ties, 1.0, 0, 4, 3},
        {Source::FewColours, Palette::Ties, 0.5, 5, 80, 3, true},
        {Source::Noise, Palette::Base, 2.0, 0, 8, 3},
        {Source::Noise, Palette::Base, 1.0, 100, 100, 1},
        {Source::Noise, Palette::Random, 1.0, 10, 6, 1},
        {Source::Blues, Palette::Base, 1.0, 10, 50, 3},
        {Source::Blues, Palette::Base, 2.0, 5, 64, 3},
        {Source::Blues, Palette::Random, 0.5, 0, 75, 1},
        {Source::Blends, Palette::White, 1.0, 10, 20, 3},
        {Source::FewColours, Palette::White, 2.0, 0, 117, 3},
        {Source::PaletteRuns, Palette::White, 0.5, 5, 35, 3},
    };
    for (const Case &c : cases) {
        QTest::newRow(rowName(c.source, c.palette, c.chromaFactor, c.flicker).constData())
            << int(c.source) << int(c.palette) << c.chromaFactor << c.flicker << c.firstPair << c.pairs << c.twoThreads;
    }
}

void TestTwoFrames::matchesBruteForce()
{
    QFETCH(int, source);
    QFETCH(int, palette);
    QFETCH(double, chromaFactor);
    QFETCH(int, flicker);
    QFETCH(int, firstPair);
    QFETCH(int, pairs);
    QFETCH(bool, twoThreads);
    const int lastPair = firstPair + pairs - 1;

    const PaletteSetup &setup = setupFor(Palette(palette));
    const std::vector<quint32> &colours = setup.colours;
    const std::vector<quint32> picture = makePicture(Source(source), quint32(firstPair), colours);
    const TwoFrameConverter &converter = *setup.converter;

    // The converter on the line pairs with one thread, and with two; the same result.
    Frames actual;
    converter.convertPairs(picture.data(), chromaFactor, flicker, firstPair, lastPair, 1, actual.outputA.data(),
                           actual.huesA.data(), actual.outputB.data(), actual.huesB.data());
    if (twoThreads) {
        Frames two;
        converter.convertPairs(picture.data(), chromaFactor, flicker, firstPair, lastPair, 2, two.outputA.data(),
                               two.huesA.data(), two.outputB.data(), two.huesB.data());
        QVERIFY(actual.outputA == two.outputA && actual.outputB == two.outputB);
        QVERIFY(actual.huesA == two.huesA && actual.huesB == two.huesB);
    }

    Frames expected;
    BruteForce search(colours, setup.blends, flicker);
    for (int pair = firstPair; pair <= lastPair; ++pair) {
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
    }

    // What the Atari shows of the line pairs keeps within the flicker limit: with limit 0 the two
    // colours of every screen pixel have the same L*.
    std::vector<quint8> screenA(size_t(AtariView::kWidth * AtariView::kHeight));
    std::vector<quint8> screenB(screenA.size());
    AtariView::render(actual.outputA.data(), actual.huesA.data(), screenA.data());
    AtariView::render(actual.outputB.data(), actual.huesB.data(), screenB.data());
    for (size_t i = size_t(firstPair * 2 * AtariView::kWidth); i < size_t((lastPair + 1) * 2 * AtariView::kWidth); ++i) {
        const double a = ColourScience::labFromRgb(colours[screenA[i]]).L;
        const double b = ColourScience::labFromRgb(colours[screenB[i]]).L;
        if (flicker == 0)
            QCOMPARE(a, b);
        else
            QVERIFY2(std::fabs(a - b) <= flicker,
                     qPrintable(QStringLiteral("screen pixel %1: L* %2 and %3").arg(i).arg(a).arg(b)));
    }
}

void TestTwoFrames::luminancesOptimalOnManyPairs_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("palette");
    QTest::addColumn<double>("chromaFactor");
    QTest::addColumn<int>("flicker");

    const auto row = [](Source source, Palette palette, double chromaFactor, int flicker) {
        QTest::newRow(rowName(source, palette, chromaFactor, flicker).constData())
            << int(source) << int(palette) << chromaFactor << flicker;
    };
    row(Source::Chelsea, Palette::Base, 1.0, 10);
    row(Source::Coffee, Palette::Ties, 2.0, 5);
    row(Source::Rocket, Palette::White, 0.5, 0);
}

// On every fifteenth line pair of photos, the luminances of every pixel are the best for the hue pairs
// the converter chose (a check that needs 256 differences a pixel, not 65536, so it covers far more
// pixels than the exhaustive search above).
void TestTwoFrames::luminancesOptimalOnManyPairs()
{
    QFETCH(int, source);
    QFETCH(int, palette);
    QFETCH(double, chromaFactor);
    QFETCH(int, flicker);

    const PaletteSetup &setup = setupFor(Palette(palette));
    const std::vector<quint32> picture = makePicture(Source(source), 0, setup.colours);
    const BruteForce search(setup.colours, setup.blends, flicker);
    Frames actual;
    for (int pair = source % 15; pair < kLinePairs; pair += 15) {
        setup.converter->convertPairs(picture.data(), chromaFactor, flicker, pair, pair, 1, actual.outputA.data(),
                                      actual.huesA.data(), actual.outputB.data(), actual.huesB.data());
        const int wrong = search.firstWrongPixel(picture, chromaFactor, pair, actual);
        QVERIFY2(wrong < 0, qPrintable(QStringLiteral("pixel %1 of line pair %2").arg(wrong).arg(pair)));
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
