#include "twoframeconversion.h"

#include "atarigeometry.h"
#include "atariview.h"
#include "bestconversion.h"
#include "ciede2000bounds.h"
#include "linearblend.h"
#include "linepairs.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

using ColourScience::Lab;
using namespace ColourScience::Ciede2000;
using namespace Ciede2000Bounds;

namespace {

constexpr int kLevels = 16;                 // hues, and luminances per hue
constexpr int kColours = 256;               // palette entries, and luminance pairs of a hue pair
constexpr int kUnordered = 136;             // unordered hue pairs
constexpr int kLongestRun = 23;             // the longest run, in Atari pixels
constexpr int kPixelsPerPair = Geometry::kAtariPixels / Geometry::kLinePairs;
constexpr int kMaskWords = kColours / 64;   // a set of luminance pairs, bit lA * 16 + lB

// Totals are sums of floor(d * kScale): whole numbers, exact in any order. A line pair's total stays
// below 160 * 200 * 2^40 < 2^55; kInfinite marks what cannot be had.
using Cost = qint64;
constexpr double kScale = 1099511627776.0; // 2^40
constexpr Cost kInfinite = std::numeric_limits<Cost>::max() / 4;
constexpr Cost kUnknown = -1;

// floor(d * 2^40) for d >= 0 (the product is exact: a power of two), 0 for bounds below 0; bounds are
// capped at 10^4 (far above any difference; a lower bound stays one). A pair that allows a pixel
// nothing gets kNothing, above any cost even summed over a run.
constexpr double kFarBound = 1e4;
constexpr Cost kNothing = kInfinite / 32;
Cost quantised(double d)
{
    return d <= 0.0 ? 0 : Cost(std::min(d, kFarBound) * kScale);
}

// A penalty with a boundary pixel's rise added: kInfinite when either is.
Cost addRise(Cost penalty, Cost rise)
{
    return penalty >= kInfinite || rise >= kInfinite ? kInfinite : penalty + rise;
}

constexpr double kInfinityD = std::numeric_limits<double>::infinity();

// Unordered hue pairs (low <= high), numbered 0 to 135.
struct PairIndex {
    quint8 index[kLevels][kLevels];
    quint8 low[kUnordered];
    quint8 high[kUnordered];
    PairIndex()
    {
        int u = 0;
        for (int a = 0; a < kLevels; ++a)
            for (int b = a; b < kLevels; ++b) {
                index[a][b] = index[b][a] = quint8(u);
                low[u] = quint8(a);
                high[u] = quint8(b);
                ++u;
            }
    }
};

const PairIndex &pairIndex()
{
    static const PairIndex table;
    return table;
}

// What else an Atari pixel shows besides its own run's hues: the neighbouring run of the same line
// pair whose hues show in some of its screen pixels (segment 0 to 12, or -1), and the constant colours
// the kernel stores there.
struct PixelSources {
    qint8 neighbour = -1;
    quint8 constants = 0;
    quint8 constant[Geometry::kSourcePerAtari] = {};
};

// The sources of every Atari pixel, from the landings of the kernel's stores. The conversion couples
// only neighbouring runs of a line pair; any other sharing would be a different kernel, and stops here.
std::vector<PixelSources> computeSources()
{
    std::vector<PixelSources> sources(Geometry::kAtariPixels);
    int segmentOf[kPixelsPerPair];
    for (int s = 0, k = 0; s < Geometry::kSegmentsPerPair; ++s)
        for (int j = 0; j < Geometry::kSegmentLengths[s]; ++j)
            segmentOf[k++] = s;
    int count = 0;
    const AtariView::Landing *landing = AtariView::landings(&count);
    const AtariView::Landing *end = landing + count;
    int hueIndex = -1;
    quint8 value = 0; // the frame sync blacks the background before the kernel starts
    for (int y = 0; y < AtariView::kHeight; ++y) {
        for (int x = 0; x < AtariView::kWidth; ++x) {
            while (landing != end && (landing->row < y || (landing->row == y && landing->column <= x))) {
                hueIndex = landing->hueIndex;
                value = landing->value;
                ++landing;
            }
            const int i = y * Geometry::kAtariWidth + x / Geometry::kSourcePerAtari;
            const int pair = y / 2;
            const int own = segmentOf[i - pair * kPixelsPerPair];
            PixelSources &source = sources[size_t(i)];
            if (hueIndex < 0) {
                quint8 *const end = source.constant + source.constants;
                if (std::find(source.constant, end, value) == end)
                    source.constant[source.constants++] = value;
                continue;
            }
            const int otherPair = hueIndex / Geometry::kSegmentsPerPair;
            const int other = hueIndex % Geometry::kSegmentsPerPair;
            if (otherPair == pair && other == own)
                continue;
            if (otherPair != pair || std::abs(other - own) != 1 || (source.neighbour >= 0 && source.neighbour != other))
                qFatal("Two-frame conversion: Atari pixel %d shows the hue of run %d, which is no neighbour of its run",
                       i, hueIndex);
            source.neighbour = qint8(other);
        }
    }
    return sources;
}

const std::vector<PixelSources> &pixelSources()
{
    static const std::vector<PixelSources> sources = computeSources();
    return sources;
}

bool hasBit(const quint64 *mask, int bit)
{
    return mask[bit >> 6] >> (bit & 63) & 1u;
}

} // namespace

// What depends on the flicker limit: which luminance pairs each hue pair allows, and per unordered hue
// pair the blends it allows, in float for the bounds, with the boxes that hold them by slices of L*.
struct TwoFrameConverter::Tables {
    static constexpr int kBins = 4;
    static constexpr float kBinWidth = 100.0f / kBins;
    // Per ordered hue pair (hue A * 16 + hue B): bit lA * 16 + lB when |L*A - L*B| <= F.
    quint64 allowed[kColours][kMaskWords];
    // Per constant value the kernel may store: the luminance pairs it allows.
    quint64 constantAllowed[kColours][kMaskWords];
    // Per unordered pair u (hues low, high): entries start[u] to start[u + 1] - 1, each an allowed
    // luminance pair (lLow * 16 + lHigh) and its blend's L*, a*, b* and chroma in float.
    int start[kUnordered + 1];
    std::vector<quint8> luminances;
    std::vector<float> L, A, B, C;
    std::vector<float> blueLow, blueHigh;
    // Per unordered pair and slice of L* (of width kBinWidth): the ranges of its blends' L*, a*, b* and
    // the highest chroma (an empty slice repeats another's box). Indexed [slice][pair], so that the
    // bounds of all pairs vectorise.
    alignas(16) float binLLow[kBins][kUnordered];
    alignas(16) float binLHigh[kBins][kUnordered];
    alignas(16) float binALow[kBins][kUnordered];
    alignas(16) float binAHigh[kBins][kUnordered];
    alignas(16) float binBLow[kBins][kUnordered];
    alignas(16) float binBHigh[kBins][kUnordered];
    alignas(16) float binCLow[kBins][kUnordered];
    alignas(16) float binCHigh[kBins][kUnordered];
    alignas(16) float binBlueLow[kBins][kUnordered];
    alignas(16) float binBlueHigh[kBins][kUnordered];
    // Pairs that allow no luminance pair at all (their empty slices hold no box).
    bool empty[kUnordered];
};

// One Atari pixel being converted: its colour (chroma scaled) and what the bounds need of it.
struct TwoFrameConverter::Pixel {
    quint32 rgb = 0;
    Lab x{0.0, 0.0, 0.0};
    float xl = 0.0f, xa = 0.0f, xb = 0.0f, xc = 0.0f;
    bool grey = true;
    float blueLow = 0.0f, blueHigh = 0.0f; // positions from 275 degrees (bluePositions)
    const quint64 *constantMask = nullptr; // luminance pairs the constants shown here allow, if any
    quint64 ownConstants[kMaskWords] = {};
    int neighbour = -1;                     // segment whose hues also show here, or -1
    // The weights of the screening bound against each unordered hue pair's blends, and the pixel's hue
    // positions from 275 degrees for its rotation term (Ciede2000Bounds::sinRotationBetween).
    alignas(16) float stretch[kUnordered];
    alignas(16) float compressionHigh[kUnordered]; // 0 for a grey pixel
    alignas(16) float scSlope[kUnordered];
    alignas(16) float gHigh[kUnordered];
    Cost bound[kUnordered];                    // lower bounds of its cost with each unordered pair
    bool sameAsPrevious = false;            // same colour and constraints as the pixel before it
};

// One run of a line pair: its pixels, and per unordered hue pair the summed lower bound of its cost,
// its exact cost when known, or the limit it was found to exceed.
struct TwoFrameConverter::Run {
    int n = 0;
    int first = 0;
    Pixel pixels[kLongestRun];
    Cost bound[kUnordered];
    Cost exact[kUnordered];
    Cost above[kUnordered];
    quint8 order[kUnordered];
    Cost best = kInfinite;
};

// A pixel's screening values against the blends of one unordered pair, computed for the entries low
// to high - 1, and the lowest of them.
struct TwoFrameConverter::Screens {
    alignas(16) float value[kColours];
    int low = 0;
    int high = 0;
    float lowest = 0.0f;
};

// Scratch space of one thread.
struct TwoFrameConverter::Workspace {
    const Tables *tables = nullptr;
    Run runs[Geometry::kSegmentsPerPair];
    Screens screens[kLongestRun];
    Screens scratch;
    // The dynamic programme over a line pair's runs: per run the ordered hue pairs considered and
    // their costs, the best totals from each onwards, and the choice made.
    std::vector<int> states[Geometry::kSegmentsPerPair];
    std::vector<Cost> costs[Geometry::kSegmentsPerPair];
    std::vector<Cost> onwards[Geometry::kSegmentsPerPair];
    std::vector<Cost> penalties[Geometry::kSegmentsPerPair];
    int choice[Geometry::kSegmentsPerPair];
};

TwoFrameConverter::TwoFrameConverter()
    : blends(size_t(kColours) * kColours), blendL(blends.size()), blendA(blends.size()), blendB(blends.size()),
      blendC(blends.size()), blendBlueLow(blends.size()), blendBlueHigh(blends.size())
{
    const quint32 black[kColours] = {};
    setPalette(black);
}

void TwoFrameConverter::setPalette(const quint32 *rgb256)
{
    static_assert(TwoFrameConverter::kUnordered == ::kUnordered, "one count of hue pairs");
    for (int i = 0; i < kColours; ++i)
        lab[i] = ColourScience::labFromRgb(rgb256[i]);
    for (int i = 0; i < kColours; ++i) {
        for (int j = i; j < kColours; ++j) {
            const Lab blend = LinearBlend::lab(rgb256[i], rgb256[j]);
            for (const size_t k : {size_t(i) * kColours + size_t(j), size_t(j) * kColours + size_t(i)}) {
                blends[k] = blend;
                blendL[k] = float(blend.L);
                blendA[k] = float(blend.a);
                blendB[k] = float(blend.b);
                blendC[k] = float(std::sqrt(blend.a * blend.a + blend.b * blend.b));
                bluePositions(blend.a, blend.b, &blendBlueLow[k], &blendBlueHigh[k]);
            }
        }
    }
    const PairIndex &pairs = pairIndex();
    for (int u = 0; u < kUnordered; ++u) {
        const int hueLow = pairs.low[u];
        const int hueHigh = pairs.high[u];
        pairMinChroma[u] = std::numeric_limits<float>::infinity();
        pairMaxChroma[u] = 0.0f;
        for (int l = 0; l < kColours; ++l) {
            const size_t k = size_t(hueLow * kLevels + (l >> 4)) * kColours + size_t(hueHigh * kLevels + (l & 15));
            const Lab &y = blends[k];
            const double chroma = std::sqrt(y.a * y.a + y.b * y.b);
            pairMinChroma[u] = std::min(pairMinChroma[u], std::nextafter(float(chroma), 0.0f));
            pairMaxChroma[u] = std::max(pairMaxChroma[u], std::nextafter(float(chroma), kFloatHuge));
        }
    }
}

void TwoFrameConverter::prepareTables(int flickerLimit, Tables &tables) const
{
    const double limit = flickerLimit;
    const auto allows = [&](int i, int j) { return std::fabs(lab[i].L - lab[j].L) <= limit; };
    for (int hues = 0; hues < kColours; ++hues) {
        std::fill(tables.allowed[hues], tables.allowed[hues] + kMaskWords, quint64(0));
        for (int l = 0; l < kColours; ++l)
            if (allows((hues >> 4) * kLevels + (l >> 4), (hues & 15) * kLevels + (l & 15)))
                tables.allowed[hues][l >> 6] |= quint64(1) << (l & 63);
    }
    // A constant colour v shows luminance l as (v & 0xF0) | ((v | l) & 0x0F), in both frames.
    for (int v = 0; v < kColours; ++v) {
        std::fill(tables.constantAllowed[v], tables.constantAllowed[v] + kMaskWords, quint64(0));
        for (int l = 0; l < kColours; ++l)
            if (allows((v & 0xF0) | ((v | (l >> 4)) & 0x0F), (v & 0xF0) | ((v | (l & 15)) & 0x0F)))
                tables.constantAllowed[v][l >> 6] |= quint64(1) << (l & 63);
    }
    const PairIndex &pairs = pairIndex();
    tables.luminances.clear();
    tables.L.clear();
    tables.A.clear();
    tables.B.clear();
    tables.C.clear();
    tables.blueLow.clear();
    tables.blueHigh.clear();
    for (int u = 0; u < kUnordered; ++u) {
        tables.start[u] = int(tables.luminances.size());
        const int hueLow = pairs.low[u];
        const int hueHigh = pairs.high[u];
        for (int bin = 0; bin < Tables::kBins; ++bin) {
            tables.binLLow[bin][u] = tables.binALow[bin][u] = tables.binBLow[bin][u] = kFloatHuge;
            tables.binLHigh[bin][u] = tables.binAHigh[bin][u] = tables.binBHigh[bin][u] = -kFloatHuge;
            tables.binCHigh[bin][u] = 0.0f;
            tables.binCLow[bin][u] = kFloatHuge;
            tables.binBlueLow[bin][u] = kFloatHuge;
            tables.binBlueHigh[bin][u] = -kFloatHuge;
        }
        // The allowed luminance pairs in ascending order of their blends' L* (then of the pair), so that
        // screening can start at a pixel's L* and work outwards.
        int order[kColours];
        int allowedCount = 0;
        for (int l = 0; l < kColours; ++l)
            if (hasBit(tables.allowed[hueLow * kLevels + hueHigh], l))
                order[allowedCount++] = l;
        const auto blendIndex = [&](int l) {
            return size_t(hueLow * kLevels + (l >> 4)) * kColours + size_t(hueHigh * kLevels + (l & 15));
        };
        std::stable_sort(order, order + allowedCount,
                         [&](int a, int b) { return blendL[blendIndex(a)] < blendL[blendIndex(b)]; });
        for (int i = 0; i < allowedCount; ++i) {
            const int l = order[i];
            const size_t k = blendIndex(l);
            tables.luminances.push_back(quint8(l));
            tables.L.push_back(blendL[k]);
            tables.A.push_back(blendA[k]);
            tables.B.push_back(blendB[k]);
            tables.C.push_back(blendC[k]);
            tables.blueLow.push_back(blendBlueLow[k]);
            tables.blueHigh.push_back(blendBlueHigh[k]);
            const int bin = std::min(std::max(int(blendL[k] / Tables::kBinWidth), 0), Tables::kBins - 1);
            tables.binLLow[bin][u] = std::min(tables.binLLow[bin][u], blendL[k]);
            tables.binLHigh[bin][u] = std::max(tables.binLHigh[bin][u], blendL[k]);
            tables.binALow[bin][u] = std::min(tables.binALow[bin][u], blendA[k]);
            tables.binAHigh[bin][u] = std::max(tables.binAHigh[bin][u], blendA[k]);
            tables.binBLow[bin][u] = std::min(tables.binBLow[bin][u], blendB[k]);
            tables.binBHigh[bin][u] = std::max(tables.binBHigh[bin][u], blendB[k]);
            tables.binCHigh[bin][u] = std::max(tables.binCHigh[bin][u], blendC[k]);
            tables.binCLow[bin][u] = std::min(tables.binCLow[bin][u], blendC[k]);
            tables.binBlueLow[bin][u] = std::min(tables.binBlueLow[bin][u], blendBlueLow[k]);
            tables.binBlueHigh[bin][u] = std::max(tables.binBlueHigh[bin][u], blendBlueHigh[k]);
        }
    }
    tables.start[kUnordered] = int(tables.luminances.size());
    // An empty slice takes the box of a slice that holds blends, so that no slice needs a test.
    for (int u = 0; u < kUnordered; ++u) {
        int full = 0;
        while (full < Tables::kBins && tables.binLLow[full][u] > tables.binLHigh[full][u])
            ++full;
        tables.empty[u] = full == Tables::kBins;
        for (int bin = 0; bin < Tables::kBins && !tables.empty[u]; ++bin) {
            if (tables.binLLow[bin][u] <= tables.binLHigh[bin][u])
                continue;
            tables.binLLow[bin][u] = tables.binLLow[full][u];
            tables.binLHigh[bin][u] = tables.binLHigh[full][u];
            tables.binALow[bin][u] = tables.binALow[full][u];
            tables.binAHigh[bin][u] = tables.binAHigh[full][u];
            tables.binBLow[bin][u] = tables.binBLow[full][u];
            tables.binBHigh[bin][u] = tables.binBHigh[full][u];
            tables.binCHigh[bin][u] = tables.binCHigh[full][u];
            tables.binCLow[bin][u] = tables.binCLow[full][u];
            tables.binBlueLow[bin][u] = tables.binBlueLow[full][u];
            tables.binBlueHigh[bin][u] = tables.binBlueHigh[full][u];
        }
    }
}

void TwoFrameConverter::convert(const quint32 *averaged, double chromaFactor, int flickerLimit, int threads,
                                quint8 *outputA, quint8 *huesA, quint8 *outputB, quint8 *huesB) const
{
    convertPairs(averaged, chromaFactor, flickerLimit, 0, Geometry::kLinePairs - 1, threads, outputA, huesA, outputB,
                 huesB);
}

void TwoFrameConverter::convertPairs(const quint32 *averaged, double chromaFactor, int flickerLimit, int firstPair,
                                     int lastPair, int threads, quint8 *outputA, quint8 *huesA, quint8 *outputB,
                                     quint8 *huesB) const
{
    pixelSources(); // built once, before the threads share it
    auto tables = std::make_unique<Tables>();
    prepareTables(flickerLimit, *tables);
    forEachLinePair(firstPair, lastPair, threads, [&](LinePairQueue &pairs) {
        auto workspace = std::make_unique<Workspace>();
        workspace->tables = tables.get();
        for (int p = pairs.take(); p >= 0; p = pairs.take())
            convertPair(*workspace, p, averaged, chromaFactor, outputA, huesA, outputB, huesB);
    });
}

void TwoFrameConverter::preparePixel(Pixel &pixel, quint32 rgb, double chromaFactor) const
{
    pixel.rgb = rgb;
    pixel.x = BestConverter::scaledLab(rgb, chromaFactor);
    const double chroma = std::sqrt(pixel.x.a * pixel.x.a + pixel.x.b * pixel.x.b);
    pixel.xl = float(pixel.x.L);
    pixel.xa = float(pixel.x.a);
    pixel.xb = float(pixel.x.b);
    pixel.xc = float(chroma);
    pixel.grey = pixel.x.a == 0.0 && pixel.x.b == 0.0;
    bluePositions(pixel.x.a, pixel.x.b, &pixel.blueLow, &pixel.blueHigh);
}

// Weights of the screening bound (Ciede2000Bounds::screeningWeights) for a pixel against the blends of
// each unordered hue pair u, whose chroma lies from pairMinChroma[u] to pairMaxChroma[u]; the rotation
// term is bounded blend by blend or box by box (sinRotationBetween), and is 0 against a grey pixel. All
// pairs at once, without branches, so that the loop vectorises.
CIEDE2000_BOUNDS_INLINE void TwoFrameConverter::screeningWeights(Pixel &pixel) const
{
    const float xc = pixel.xc;
    const float rotating = pixel.grey ? 0.0f : 1.0f;
    for (int u = 0; u < kUnordered; ++u) {
        float compressionHigh = 0.0f;
        Ciede2000Bounds::screeningWeights(xc, pairMinChroma[u], pairMaxChroma[u], &pixel.stretch[u], &compressionHigh,
                                          &pixel.scSlope[u], &pixel.gHigh[u]);
        pixel.compressionHigh[u] = rotating * compressionHigh;
    }
}

// Lower bounds of a pixel's cost for every unordered hue pair (bounds[136], whole multiples of 2^-40):
// the screening bound against the boxes holding the pair's allowed blends by slices of L*, the least
// over the slices. Within a box every blend is at least as far as the box in L*, a* and b*, SL is at
// most its value at one end of the box's L* range (1 + 0.0075 |L1 + L2 - 100| is convex in L2), and SC
// at most its value at the box's highest chroma. The weights for all pairs at once, then the boxes of
// each pair: both loops are free of branches and vectorise.
CIEDE2000_BOUNDS_CLONES
void TwoFrameConverter::pairBounds(const Workspace &work, Pixel &pixel, Cost *bounds) const
{
    const Tables &t = *work.tables;
    screeningWeights(pixel);
    const float *stretch = pixel.stretch;
    const float *compressionHigh = pixel.compressionHigh;
    const float *scSlope = pixel.scSlope;
    const float *gHigh = pixel.gHigh;
    const float blueLow = pixel.blueLow;
    const float blueHigh = pixel.blueHigh;
    const RotationTable &rotationSteps = rotationTable();
    const float xl = pixel.xl;
    const float xa = pixel.xa;
    const float xb = pixel.xb;
    const float xc = pixel.xc;
    alignas(16) float lowest[kUnordered];
    std::fill(lowest, lowest + kUnordered, std::numeric_limits<float>::infinity());
    for (int bin = 0; bin < Tables::kBins; ++bin) {
        for (int u = 0; u < kUnordered; ++u) {
            const float l0 = t.binLLow[bin][u];
            const float l1 = t.binLHigh[bin][u];
            const float dl = std::max(std::max(l0 - xl, xl - l1), 0.0f);
            const float sl = 1.0f + 0.0075f * std::max(std::fabs(l0 + xl - 100.0f), std::fabs(l1 + xl - 100.0f));
            const float da = std::max(std::max(t.binALow[bin][u] - xa, xa - t.binAHigh[bin][u]), 0.0f);
            const float db = std::max(std::max(t.binBLow[bin][u] - xb, xb - t.binBHigh[bin][u]), 0.0f);
            const float c0 = t.binCLow[bin][u];
            const float c1 = t.binCHigh[bin][u];
            const float dcHigh = std::max(std::fabs(c0 - xc), std::fabs(c1 - xc)) + gHigh[u] * std::max(xc, c1)
                + kChromaMargin;
            const float sinRotation =
                sinRotationBetween(rotationSteps, blueLow, blueHigh, t.binBlueLow[bin][u], t.binBlueHigh[bin][u]);
            const float chromaPart = screenChromaPart(stretch[u] * da * da + db * db, dcHigh, xc + c0, xc + c1,
                                                      rotationBound(compressionHigh[u], sinRotation), scSlope[u]);
            lowest[u] = std::min(lowest[u], dl * dl / (sl * sl) + chromaPart);
        }
    }
    for (int u = 0; u < kUnordered; ++u)
        lowest[u] = std::sqrt(lowest[u]);
    for (int u = 0; u < kUnordered; ++u)
        bounds[u] = t.empty[u] ? kNothing : quantised(floatBound(lowest[u]));
}

// Screening bounds (roots, before safety margins) of a pixel against the allowed blends first to
// last - 1 of the unordered pair u (screens.value[entry], entries counted from the pair's first).
CIEDE2000_BOUNDS_INLINE void TwoFrameConverter::computeScreens(const Tables &t, const Pixel &pixel, int u, int firstEntry, int lastEntry,
                                       float *screens) const
{
    const int first = t.start[u];
    const float *L = t.L.data() + first;
    const float *A = t.A.data() + first;
    const float *B = t.B.data() + first;
    const float *C = t.C.data() + first;
    const float xl = pixel.xl;
    const float xa = pixel.xa;
    const float xb = pixel.xb;
    const float xc = pixel.xc;
    const float stretch = pixel.stretch[u];
    const float scSlope = pixel.scSlope[u];
    const float gHigh = pixel.gHigh[u];
    // The rotation term bounded blend by blend, by how far their mean hue lies from blue.
    const float compressionHigh = pixel.compressionHigh[u];
    const float blueLow = pixel.blueLow;
    const float blueHigh = pixel.blueHigh;
    const float *entryLow = t.blueLow.data() + first;
    const float *entryHigh = t.blueHigh.data() + first;
    const RotationTable &rotationSteps = rotationTable();
    for (int e = firstEntry; e < lastEntry; ++e) {
        const float sinRotation = sinRotationBetween(rotationSteps, blueLow, blueHigh, entryLow[e], entryHigh[e]);
        screens[e] = screenRoot(xl, xa, xb, xc, L[e], A[e], B[e], C[e], stretch,
                                rotationBound(compressionHigh, sinRotation), scSlope, gHigh);
    }
}

namespace {

// The screening bound's lightness part alone, |dL| / SL at most: a lower bound of every screening value
// of a blend of that L* (rounding aside, far within the margins), growing as L* moves away from xl.
float lightnessBound(float xl, float yl)
{
    return std::fabs(yl - xl) / (1.0f + 0.0075f * std::fabs(yl + xl - 100.0f));
}

// Blends screened at a time as the range widens, for a pair that allows count blends: an eighth of
// them (whole vectors of eight, 8 to 32), so that a widening takes a few steps.
int screenChunk(int count)
{
    return std::min(std::max((count / 8 + 7) / 8 * 8, 8), 32);
}

} // namespace

// Widens the range of screened blends of the unordered pair u (whose blends are in ascending order of
// L*) on either side until the next blend's lightness bound exceeds bar, or, with bar below 0, until it
// exceeds the lowest screening value in the range (which falls as it widens). Blends outside the range
// then all have screening values above bar, or above every value in the range.
CIEDE2000_BOUNDS_CLONES
void TwoFrameConverter::widenScreens(const Tables &t, const Pixel &pixel, int u, Screens &screens, float bar) const
{
    const int first = t.start[u];
    const int count = t.start[u + 1] - first;
    const float *L = t.L.data() + first;
    const int chunk = screenChunk(count);
    const bool lowest = bar < 0.0f;
    const auto chunkLowest = [&](int from, int to) {
        float value = std::numeric_limits<float>::infinity();
        for (int e = from; e < to; ++e)
            value = std::min(value, screens.value[e]);
        return value;
    };
    float limit = lowest ? screens.lowest : bar;
    while (screens.high < count && lightnessBound(pixel.xl, L[screens.high]) <= limit) {
        const int to = std::min(screens.high + chunk, count);
        computeScreens(t, pixel, u, screens.high, to, screens.value);
        screens.lowest = std::min(screens.lowest, chunkLowest(screens.high, to));
        screens.high = to;
        limit = lowest ? screens.lowest : bar;
    }
    while (screens.low > 0 && lightnessBound(pixel.xl, L[screens.low - 1]) <= limit) {
        const int from = std::max(screens.low - chunk, 0);
        computeScreens(t, pixel, u, from, screens.low, screens.value);
        screens.lowest = std::min(screens.lowest, chunkLowest(from, screens.low));
        screens.low = from;
        limit = lowest ? screens.lowest : bar;
    }
}

// Screening bounds of a pixel against the allowed blends of the unordered pair u, as far as they are
// needed: from the blends nearest the pixel in L* outwards, until no blend left out can have a lower
// one (for a pixel where the kernel shows constants, all of them). Returns the least of them with
// margins over the entries the constants shown at the pixel allow (infinity when none).
CIEDE2000_BOUNDS_CLONES
double TwoFrameConverter::screenPair(const Workspace &work, const Pixel &pixel, int u, Screens &screens) const
{
    const Tables &t = *work.tables;
    const int first = t.start[u];
    const int count = t.start[u + 1] - first;
    screens.lowest = std::numeric_limits<float>::infinity();
    if (pixel.constantMask) {
        computeScreens(t, pixel, u, 0, count, screens.value);
        screens.low = 0;
        screens.high = count;
        float lowest = std::numeric_limits<float>::infinity();
        const quint8 *luminances = t.luminances.data() + first;
        for (int e = 0; e < count; ++e) {
            screens.lowest = std::min(screens.lowest, screens.value[e]);
            if (hasBit(pixel.constantMask, luminances[e]))
                lowest = std::min(lowest, screens.value[e]);
        }
        return lowest == std::numeric_limits<float>::infinity() ? kInfinityD : floatBound(lowest);
    }
    const float *L = t.L.data() + first;
    const int middle = int(std::lower_bound(L, L + count, pixel.xl) - L);
    const int chunk = screenChunk(count);
    screens.low = std::max(middle - chunk, 0);
    screens.high = std::min(middle + chunk, count);
    computeScreens(t, pixel, u, screens.low, screens.high, screens.value);
    for (int e = screens.low; e < screens.high; ++e)
        screens.lowest = std::min(screens.lowest, screens.value[e]);
    widenScreens(t, pixel, u, screens, -1.0f);
    return screens.lowest == std::numeric_limits<float>::infinity() ? kInfinityD : floatBound(screens.lowest);
}

// The lowest difference of a pixel to the blends of the ordered hue pair (hueA, hueB) over the
// luminance pairs the pair, the constants shown at the pixel and `mask` (if given) allow, and the
// lowest luminance pair lA * 16 + lB reaching it; false when none is allowed, or when the lowest
// difference exceeds `within` (then sooner). screens: the pixel's
// screening bounds for the unordered pair. The candidate with the lowest bound goes first; the others
// are computed only when their bound does not exceed the best difference so far (equal bounds may tie
// with a lower luminance pair).
CIEDE2000_BOUNDS_CLONES
bool TwoFrameConverter::pixelMin(const Workspace &work, const Pixel &pixel, int hueA, int hueB, const quint64 *mask,
                                 Screens &screening, double *difference, int *luminances, double within) const
{
    const Tables &t = *work.tables;
    const int u = pairIndex().index[hueA][hueB];
    const bool swapped = hueA > hueB;
    const int first = t.start[u];
    const quint8 *entries = t.luminances.data() + first;
    const auto ordered = [&](int e) {
        const int l = entries[e];
        return swapped ? (l & 15) << 4 | l >> 4 : l;
    };
    const bool masked = pixel.constantMask || mask;
    const auto allowed = [&](int e) {
        const int l = ordered(e);
        return !masked || ((!pixel.constantMask || hasBit(pixel.constantMask, l)) && (!mask || hasBit(mask, l)));
    };
    // Masks may leave allowed only blends outside the range screened: then all are screened.
    if (masked)
        widenScreens(t, pixel, u, screening, std::numeric_limits<float>::infinity());
    const float *screens = screening.value;
    const int low = screening.low;
    const int high = screening.high;
    int start = -1;
    if (!masked) {
        // The first entry reaching the lowest value.
        for (int e = low; e < high && start < 0; ++e)
            if (screens[e] == screening.lowest)
                start = e;
    } else {
        for (int e = low; e < high; ++e)
            if (allowed(e) && (start < 0 || screens[e] < screens[start]))
                start = e;
    }
    if (start < 0 || floatBound(screens[start]) > within)
        return false;
    const auto exact = [&](int e) {
        const int l = ordered(e);
        return ColourScience::deltaE2000(
            pixel.x, blends[size_t(hueA * kLevels + (l >> 4)) * kColours + size_t(hueB * kLevels + (l & 15))]);
    };
    double best = exact(start);
    int bestLuminances = ordered(start);
    const auto consider = [&](int e) {
        const double d = exact(e);
        const int l = ordered(e);
        if (d < best || (d == best && l < bestLuminances)) {
            best = d;
            bestLuminances = l;
        }
    };
    // The candidates the screening bound leaves, in two tiers by their screening values: the lower
    // tier likely holds the lowest difference, which then passes over much of the upper one.
    int tier[2][kColours];
    int tierSize[2] = {0, 0};
    const float limit = rootLimit(std::min(best, within));
    widenScreens(t, pixel, u, screening, limit);
    const float split = screens[start] + 0.5f * (limit - screens[start]);
    for (int e = screening.low; e < screening.high; ++e) {
        if (screens[e] > limit || e == start || !allowed(e))
            continue;
        const int upper = screens[e] > split;
        tier[upper][tierSize[upper]++] = e;
    }
    // A tier's near bounds, computed as vectors from the blends gathered, the candidate with the lowest
    // bound first, to lower the best early, then the others in order.
    const RotationTable &rotation = rotationTable();
    const auto evaluate = [&](const int *candidates, int size) CIEDE2000_BOUNDS_LAMBDA_INLINE {
        int candidate[kColours];
        alignas(16) float yl[kColours];
        alignas(16) float ya[kColours];
        alignas(16) float yb[kColours];
        alignas(16) float yc[kColours];
        alignas(16) float near[kColours];
        const float bar = rootLimit(best);
        int n = 0;
        for (int i = 0; i < size; ++i) {
            const int e = candidates[i];
            if (screens[e] > bar)
                continue;
            candidate[n] = e;
            yl[n] = t.L[size_t(first + e)];
            ya[n] = t.A[size_t(first + e)];
            yb[n] = t.B[size_t(first + e)];
            yc[n] = t.C[size_t(first + e)];
            ++n;
        }
        if (n == 0)
            return;
        const float xl = pixel.xl;
        const float xa = pixel.xa;
        const float xb = pixel.xb;
        const float xc = pixel.xc;
        for (int i = 0; i < n; ++i)
            near[i] = std::max(nearBound(rotation, xl, xa, xb, xc, yl[i], ya[i], yb[i], yc[i]), screens[candidate[i]]);
        int lowest = 0;
        for (int i = 1; i < n; ++i)
            if (near[i] < near[lowest])
                lowest = i;
        if (floatBound(near[lowest]) <= best)
            consider(candidate[lowest]);
        for (int i = 0; i < n; ++i)
            if (i != lowest && floatBound(near[i]) <= best)
                consider(candidate[i]);
    };
    evaluate(tier[0], tierSize[0]);
    evaluate(tier[1], tierSize[1]);
    if (best > within)
        return false;
    *difference = best;
    *luminances = bestLuminances;
    return true;
}

// The exact cost of a run with the unordered hue pair u (each pixel its lowest difference under the
// pair's own limit and the constants shown there), or kInfinite when it exceeds limit or a pixel has
// no allowed luminance pair.
Cost TwoFrameConverter::runCost(Workspace &work, Run &run, int u, Cost limit) const
{
    const PairIndex &pairs = pairIndex();
    // The finer bounds pixel by pixel (each the larger of a pixel's two bounds), while the pair can
    // still reach the limit with the coarse bounds of the pixels not yet screened.
    Cost bounds[kLongestRun];
    Cost sum = 0;
    Cost coarse = run.bound[u];
    for (int k = 0; k < run.n; ++k) {
        const Pixel &pixel = run.pixels[k];
        coarse -= pixel.bound[u];
        if (pixel.sameAsPrevious) {
            bounds[k] = bounds[k - 1];
        } else {
            const double bound = screenPair(work, pixel, u, work.screens[k]);
            if (bound == kInfinityD)
                return kInfinite;
            bounds[k] = std::max(quantised(bound), pixel.bound[u]);
        }
        sum += bounds[k];
        if (sum + coarse > limit)
            return kInfinite;
    }
    Cost rest = sum;
    Cost total = 0;
    Cost last = 0;
    for (int k = 0; k < run.n; ++k) {
        rest -= bounds[k];
        if (!run.pixels[k].sameAsPrevious) {
            // The pair exceeds the limit unless quantised(d) <= budget, so unless d < (budget + 1) / 2^40
            // (widened for the rounding of budget + 1 to double).
            const Cost budget = limit - total - rest;
            const double within = double(budget + 1) / kScale * (1.0 + 1e-15);
            double d = 0.0;
            int luminances = 0;
            if (budget < 0
                || !pixelMin(work, run.pixels[k], pairs.low[u], pairs.high[u], nullptr, work.screens[k], &d, &luminances,
                             within))
                return kInfinite;
            last = quantised(d);
        }
        total += last;
        if (total + rest > limit)
            return kInfinite;
    }
    return total;
}

// Finds the exact cost of every unordered hue pair of the run that does not exceed threshold; with
// shrink, the threshold falls to the lowest cost found so far (so the pairs reaching the lowest cost
// are all found, and run.best is that cost). Pairs go in order of their bounds, so that the likely
// winner sets the bar early.
void TwoFrameConverter::search(Workspace &work, Run &run, Cost threshold, bool shrink) const
{
    for (int i = 0; i < kUnordered; ++i) {
        const int u = run.order[i];
        if (run.bound[u] > threshold)
            break;
        if (run.exact[u] == kUnknown && run.above[u] < threshold) {
            const Cost cost = runCost(work, run, u, threshold);
            if (cost == kInfinite)
                run.above[u] = threshold;
            else
                run.exact[u] = cost;
        }
        if (run.exact[u] != kUnknown && run.exact[u] <= threshold) {
            run.best = std::min(run.best, run.exact[u]);
            if (shrink)
                threshold = run.exact[u];
        }
    }
}

// The dynamic programme over the runs of a line pair: each run's ordered hue pairs among those whose
// exact cost is at most the run's best plus its gap (gaps[run]), the total of a sequence the sum of the
// runs' costs and, per pair of neighbouring runs, the penalty of the pixels near their boundary (the
// rise of their lowest difference when the neighbour's hues limit their luminances too). Returns the lowest total
// (kInfinite when no sequence is allowed) and sets work.choice to the lowest sequence reaching it.
Cost TwoFrameConverter::solvePair(Workspace &work, const Cost *gaps) const
{
    const PairIndex &pairs = pairIndex();
    constexpr int kRuns = Geometry::kSegmentsPerPair;
    for (int s = 0; s < kRuns; ++s) {
        const Run &run = work.runs[s];
        const Cost limit = gaps[s] >= kInfinite ? kInfinite - 1 : run.best + gaps[s];
        work.states[s].clear();
        work.costs[s].clear();
        for (int hues = 0; hues < kColours; ++hues) {
            const int u = pairs.index[hues >> 4][hues & 15];
            if (run.exact[u] != kUnknown && run.exact[u] <= limit) {
                work.states[s].push_back(hues);
                work.costs[s].push_back(run.exact[u]);
            }
        }
    }
    // The penalty between neighbouring runs s and s + 1 for each pair of their states.
    for (int s = 0; s + 1 < kRuns; ++s) {
        const Run &left = work.runs[s];
        const Run &right = work.runs[s + 1];
        const std::vector<int> &leftStates = work.states[s];
        const std::vector<int> &rightStates = work.states[s + 1];
        std::vector<Cost> &penalty = work.penalties[s];
        penalty.assign(leftStates.size() * rightStates.size(), 0);
        // The boundary pixels: of the left run showing the right run's hues, and the other way round.
        const auto penalise = [&](const Run &run, int k, const std::vector<int> &ownStates,
                                  const std::vector<int> &otherStates, bool ownIsLeft) {
            const Pixel &pixel = run.pixels[k];
            for (size_t i = 0; i < ownStates.size(); ++i) {
                const Own own = ownLowest(work, pixel, ownStates[i]);
                for (size_t j = 0; j < otherStates.size(); ++j) {
                    Cost &p = penalty[ownIsLeft ? i * rightStates.size() + j : j * rightStates.size() + i];
                    if (p < kInfinite)
                        p = addRise(p, boundaryRise(work, pixel, ownStates[i], own, otherStates[j]));
                }
            }
        };
        for (int k = 0; k < left.n; ++k)
            if (left.pixels[k].neighbour == s + 1)
                penalise(left, k, leftStates, rightStates, true);
        for (int k = 0; k < right.n; ++k)
            if (right.pixels[k].neighbour == s)
                penalise(right, k, rightStates, leftStates, false);
    }
    // Backwards: the lowest total from each run on, per state.
    work.onwards[kRuns - 1] = work.costs[kRuns - 1];
    for (int s = kRuns - 2; s >= 0; --s) {
        const size_t next = work.states[s + 1].size();
        work.onwards[s].assign(work.states[s].size(), kInfinite);
        for (size_t i = 0; i < work.states[s].size(); ++i) {
            Cost lowest = kInfinite;
            for (size_t j = 0; j < next; ++j) {
                const Cost p = work.penalties[s][i * next + j];
                if (p < kInfinite && work.onwards[s + 1][j] < kInfinite)
                    lowest = std::min(lowest, p + work.onwards[s + 1][j]);
            }
            if (lowest < kInfinite)
                work.onwards[s][i] = work.costs[s][i] + lowest;
        }
    }
    // Forwards: the lowest state reaching the lowest total (states are in ascending order).
    size_t i = 0;
    for (size_t j = 1; j < work.states[0].size(); ++j)
        if (work.onwards[0][j] < work.onwards[0][i])
            i = j;
    if (work.states[0].empty() || work.onwards[0][i] >= kInfinite)
        return kInfinite;
    const Cost total = work.onwards[0][i];
    work.choice[0] = work.states[0][i];
    for (int s = 0; s + 1 < kRuns; ++s) {
        const Cost target = work.onwards[s][i] - work.costs[s][i];
        const size_t next = work.states[s + 1].size();
        for (size_t j = 0; j < next; ++j) {
            const Cost p = work.penalties[s][i * next + j];
            if (p < kInfinite && work.onwards[s + 1][j] < kInfinite && p + work.onwards[s + 1][j] == target) {
                i = j;
                break;
            }
        }
        work.choice[s + 1] = work.states[s + 1][i];
    }
    return total;
}

// A boundary pixel's lowest difference and luminance pair with its own run's ordered hue pair `own`
// (hue A * 16 + hue B) alone; leaves the pixel's screening values for that pair in work.scratch.
TwoFrameConverter::Own TwoFrameConverter::ownLowest(Workspace &work, const Pixel &pixel, int own) const
{
    const int hueA = own >> 4;
    const int hueB = own & 15;
    screenPair(work, pixel, pairIndex().index[hueA][hueB], work.scratch);
    Own lowest;
    pixelMin(work, pixel, hueA, hueB, nullptr, work.scratch, &lowest.difference, &lowest.luminances);
    return lowest;
}

// The rise of a boundary pixel's lowest difference (`lowest`, with its own run's ordered hue pair `own`,
// as ownLowest gave it, screening values in work.scratch) when the neighbouring run's ordered hue pair
// `shown` limits its luminances too: 0 when its lowest luminance pair stays allowed, kInfinite when
// no luminance pair is.
Cost TwoFrameConverter::boundaryRise(Workspace &work, const Pixel &pixel, int own, const Own &lowest, int shown) const
{
    const quint64 *mask = work.tables->allowed[shown];
    if (hasBit(mask, lowest.luminances))
        return 0;
    double d = 0.0;
    int luminances = 0;
    if (!pixelMin(work, pixel, own >> 4, own & 15, mask, work.scratch, &d, &luminances))
        return kInfinite;
    return quantised(d) - quantised(lowest.difference);
}

// The penalty between runs s and s + 1 with the ordered hue pairs left and right (hue A * 16 + hue B):
// the rise of the lowest differences of their pixels that show the other run's hues, or kInfinite.
Cost TwoFrameConverter::penaltyBetween(Workspace &work, int s, int left, int right) const
{
    Cost penalty = 0;
    const auto add = [&](const Run &run, int other, int own, int shown) {
        for (int k = 0; k < run.n && penalty < kInfinite; ++k) {
            const Pixel &pixel = run.pixels[k];
            if (pixel.neighbour == other)
                penalty = addRise(penalty, boundaryRise(work, pixel, own, ownLowest(work, pixel, own), shown));
        }
    };
    add(work.runs[s], s + 1, left, right);
    add(work.runs[s + 1], s, right, left);
    return penalty;
}

// The least that runs s and s + 1 and the penalty between them add to the two runs' lowest costs,
// over their ordered hue pairs within limit of those costs (it is at most limit when a pair of pairs
// within it reaches it, and then no pair beyond does better).
Cost TwoFrameConverter::blockCost(Workspace &work, int s, Cost limit) const
{
    const PairIndex &pairs = pairIndex();
    const Run &left = work.runs[s];
    const Run &right = work.runs[s + 1];
    Cost lowest = kInfinite;
    for (int l = 0; l < kColours; ++l) {
        const Cost leftCost = left.exact[pairs.index[l >> 4][l & 15]];
        if (leftCost == kUnknown || leftCost - left.best > limit)
            continue;
        for (int r = 0; r < kColours; ++r) {
            const Cost rightCost = right.exact[pairs.index[r >> 4][r & 15]];
            if (rightCost == kUnknown || rightCost - right.best > limit)
                continue;
            const Cost excess = leftCost - left.best + rightCost - right.best;
            if (excess >= lowest)
                continue;
            const Cost penalty = penaltyBetween(work, s, l, r);
            if (penalty < kInfinite)
                lowest = std::min(lowest, excess + penalty);
        }
    }
    return lowest;
}

void TwoFrameConverter::convertPair(Workspace &work, int pair, const quint32 *averaged, double chromaFactor,
                                    quint8 *outputA, quint8 *huesA, quint8 *outputB, quint8 *huesB) const
{
    const Tables &t = *work.tables;
    const std::vector<PixelSources> &sources = pixelSources();
    constexpr int kRuns = Geometry::kSegmentsPerPair;
    int first = pair * kPixelsPerPair;
    Cost sumBest = 0;
    for (int s = 0; s < kRuns; ++s) {
        Run &run = work.runs[s];
        run.n = Geometry::kSegmentLengths[s];
        run.first = first;
        first += run.n;
        for (int k = 0; k < run.n; ++k) {
            Pixel &pixel = run.pixels[k];
            const PixelSources &source = sources[size_t(run.first + k)];
            preparePixel(pixel, averaged[run.first + k] & 0xFFFFFFu, chromaFactor);
            pixel.neighbour = source.neighbour;
            pixel.constantMask = nullptr;
            if (source.constants > 0) {
                std::fill(pixel.ownConstants, pixel.ownConstants + kMaskWords, ~quint64(0));
                for (int c = 0; c < source.constants; ++c)
                    for (int w = 0; w < kMaskWords; ++w)
                        pixel.ownConstants[w] &= t.constantAllowed[source.constant[c]][w];
                pixel.constantMask = pixel.ownConstants;
            }
            const Pixel *previous = k > 0 ? &run.pixels[k - 1] : nullptr;
            pixel.sameAsPrevious =
                previous && previous->rgb == pixel.rgb && !previous->constantMask && !pixel.constantMask;
        }
        std::fill(run.bound, run.bound + kUnordered, Cost(0));
        for (int k = 0; k < run.n; ++k) {
            Pixel &pixel = run.pixels[k];
            if (!pixel.sameAsPrevious) {
                pairBounds(work, pixel, pixel.bound);
            } else {
                const Pixel &previous = run.pixels[k - 1];
                std::copy(previous.bound, previous.bound + kUnordered, pixel.bound);
                std::copy(previous.stretch, previous.stretch + kUnordered, pixel.stretch);
                std::copy(previous.compressionHigh, previous.compressionHigh + kUnordered, pixel.compressionHigh);
                std::copy(previous.scSlope, previous.scSlope + kUnordered, pixel.scSlope);
                std::copy(previous.gHigh, previous.gHigh + kUnordered, pixel.gHigh);
            }
            for (int u = 0; u < kUnordered; ++u)
                run.bound[u] += pixel.bound[u];
        }
        for (int u = 0; u < kUnordered; ++u)
            run.order[u] = quint8(u);
        std::stable_sort(run.order, run.order + kUnordered,
                         [&](quint8 a, quint8 b) { return run.bound[a] < run.bound[b]; });
        std::fill(run.exact, run.exact + kUnordered, kUnknown);
        std::fill(run.above, run.above + kUnordered, Cost(-1));
        run.best = kInfinite;
        search(work, run, kInfinite - 1, true);
        sumBest += run.best;
    }
    // First the sequences of pairs tied at each run's lowest cost. If the best of them costs the sum of
    // the lowest costs, it is the best of all. Otherwise its total less that sum, the gap G, bounds how
    // far above its lowest cost any run of an optimal sequence can be (penalties are never negative).
    // Tighter: for disjoint blocks of two neighbouring runs whose boundary has a penalty in that
    // sequence, R, the least that the block's runs and boundary can add to their lowest costs, is
    // paid by every sequence, so a run outside a block is at most G less the blocks' R above its
    // lowest cost, and a run in a block at most G less the other blocks' R.
    Cost gaps[kRuns] = {};
    Cost total = solvePair(work, gaps);
    if (total >= kInfinite) {
        // No sequence of tied pairs is allowed: every pair of every run is a candidate.
        std::fill(gaps, gaps + kRuns, kInfinite);
        for (int s = 0; s < kRuns; ++s)
            search(work, work.runs[s], kInfinite - 1, false);
        total = solvePair(work, gaps);
    } else if (total > sumBest) {
        const Cost gap = total - sumBest;
        int chosen[kRuns];
        std::copy(work.choice, work.choice + kRuns, chosen);
        Cost resolved[kRuns] = {}; // R of the block of runs s and s + 1, at s
        Cost resolvedSum = 0;
        for (int s = 0; s + 1 < kRuns; ++s) {
            const Cost penalty = penaltyBetween(work, s, chosen[s], chosen[s + 1]);
            if (penalty == 0)
                continue;
            // Pairs of the two runs above their lowest costs by more than the penalty cannot do better.
            search(work, work.runs[s], work.runs[s].best + penalty, false);
            search(work, work.runs[s + 1], work.runs[s + 1].best + penalty, false);
            resolved[s] = blockCost(work, s, penalty);
            resolvedSum += resolved[s];
            ++s; // the next block starts after this one
        }
        for (int s = 0; s < kRuns; ++s) {
            const Cost own = resolved[s] + (s > 0 ? resolved[s - 1] : 0);
            gaps[s] = gap - (resolvedSum - own);
            search(work, work.runs[s], work.runs[s].best + gaps[s], false);
        }
        total = solvePair(work, gaps);
    }
    Q_ASSERT(total < kInfinite);
    for (int s = 0; s < kRuns; ++s) {
        const Run &run = work.runs[s];
        const int hueA = work.choice[s] >> 4;
        const int hueB = work.choice[s] & 15;
        huesA[kRuns * pair + s] = quint8(hueA << 4);
        huesB[kRuns * pair + s] = quint8(hueB << 4);
        for (int k = 0; k < run.n; ++k) {
            const Pixel &pixel = run.pixels[k];
            const quint64 *mask = pixel.neighbour >= 0 ? t.allowed[work.choice[pixel.neighbour]] : nullptr;
            screenPair(work, pixel, pairIndex().index[hueA][hueB], work.scratch);
            double d = 0.0;
            int luminances = 0;
            pixelMin(work, pixel, hueA, hueB, mask, work.scratch, &d, &luminances);
            outputA[run.first + k] = quint8(hueA << 4 | luminances >> 4);
            outputB[run.first + k] = quint8(hueB << 4 | (luminances & 15));
        }
    }
}
