#include "paltwoframeconversion.h"

#include "atarigeometry.h"
#include "bestconversion.h"
#include "paldisplay.h"
#include "pallayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

using ColourScience::Lab;
using namespace Geometry;

namespace {

constexpr int kLevels = 16;     // hues, and luminances per hue
constexpr int kLumPairs = 256;  // luminance pairs (lA * 16 + lB)
constexpr int kWays = 16;       // remembered hue combinations per Atari pixel
constexpr int kMaxKeyParts = 3; // parts whose hues fit a cache key
constexpr quint64 kValid = quint64(1) << 63;
// How far the flicker excess of an infeasible pixel weighs, per unit of L*.
constexpr double kExcessWeight = 1e3;
// CIEDE2000's SL is at most 1 + 0.015 * 50: |dL*| / 1.75 is at most the lightness term.
constexpr double kLargestSl = 1.75;

// The inverse of CIE L*a*b*'s f.
constexpr double kLabEpsilon = (6.0 / 29.0) * (6.0 / 29.0) * (6.0 / 29.0);
constexpr double kLabSlope = 1.0 / (3.0 * (6.0 / 29.0) * (6.0 / 29.0));
constexpr double kLabOffset = 4.0 / 29.0;
double labFInverse(double f)
{
    return f > 6.0 / 29.0 ? f * f * f : (f - kLabOffset) / kLabSlope;
}

double whiteY()
{
    double xyz[3];
    ColourScience::xyzFromRgb(0xFFFFFFu, xyz);
    return xyz[1];
}

} // namespace

// A remembered pixel cost: the hues it was computed for (kValid set), the cost and the luminance pair.
struct PalTwoFrameConverter::Entry {
    quint64 key = 0;
    double cost = 0.0;
    int pair = 0;
};

PalTwoFrameConverter::PalTwoFrameConverter()
    : layout(PalLayout::shared())
    , photo(kAtariPixels)
    , cache(size_t(kAtariPixels) * kWays)
{
    for (int f = 0; f < 2; ++f) {
        slotHue[f].resize(PalLayout::kSlots);
        queued[f].resize(kHues);
    }
    const quint32 black[256] = {};
    setPalette(black);
}

PalTwoFrameConverter::~PalTwoFrameConverter() = default;

void PalTwoFrameConverter::setPalette(const quint32 *rgb256)
{
    PalDisplay::seenTable(rgb256, [this](int i, const PalDisplay::Sum &sum) {
        PalDisplay::xyzOfSum(sum, seenXyz[i]);
        seenL[i] = ColourScience::labFromXyz(seenXyz[i]).L;
    });
}

void PalTwoFrameConverter::prepare(const quint32 *averaged, double chromaFactor, int flickerLimit,
                                   const quint8 *huesA, const quint8 *huesB)
{
    flicker = std::min(std::max(flickerLimit, 0), 100);
    for (int p = 0; p < kAtariPixels; ++p)
        photo[size_t(p)] = BestConverter::scaledLab(averaged[p] & 0xFFFFFFu, chromaFactor);
    std::fill(cache.begin(), cache.end(), Entry());
    for (int r = 0; r < kHues; ++r) {
        slotHue[0][size_t(r)] = quint8(huesA[r] >> 4);
        slotHue[1][size_t(r)] = quint8(huesB[r] >> 4);
    }
    for (int k = 0; k < PalLayout::kConstantSlots; ++k) {
        slotHue[0][size_t(kHues + k)] = quint8(k);
        slotHue[1][size_t(kHues + k)] = quint8(k);
    }
}

// The lowest summed difference of a pixel over the luminance pairs within the flicker limit, and the
// lowest pair reaching it (*pairOut); see the class comment for pixels without such a pair.
double PalTwoFrameConverter::evaluate(int pixel, int *pairOut) const
{
    const PalLayout::Pixel &px = layout.pixels[size_t(pixel)];
    const int n = px.parts;
    int baseA[kSourcePerAtari];
    int baseB[kSourcePerAtari];
    double w[kSourcePerAtari];
    for (int j = 0; j < n; ++j) {
        baseA[j] = (slotHue[0][px.part[j].own] << 4) * kLevels + slotHue[0][px.part[j].above];
        baseB[j] = (slotHue[1][px.part[j].own] << 4) * kLevels + slotHue[1][px.part[j].above];
        w[j] = px.part[j].weight;
    }
    // Per part and luminance: L* and Y of what each frame shows.
    double lA[kSourcePerAtari][kLevels];
    double lB[kSourcePerAtari][kLevels];
    for (int j = 0; j < n; ++j) {
        for (int l = 0; l < kLevels; ++l) {
            lA[j][l] = seenL[baseA[j] + l * kLevels];
            lB[j][l] = seenL[baseB[j] + l * kLevels];
        }
    }
    const Lab &x = photo[size_t(pixel)];
    static const double white = whiteY();
    const double targetY = white * labFInverse((x.L + 16.0) / 116.0);
    // The allowed pairs, with the Y of the first part's blend; the first guess is the allowed pair whose
    // blend comes nearest the photo's Y.
    struct Candidate {
        double distance; // |Y - target Y| of the first part's blend
        double y;
        int pair;
    };
    Candidate candidates[kLumPairs];
    int count = 0;
    int first = -1;
    for (int a = 0; a < kLevels; ++a) {
        const double yA = seenXyz[baseA[0] + a * kLevels][1];
        for (int b = 0; b < kLevels; ++b) {
            bool ok = true;
            for (int j = 0; j < n; ++j)
                ok = ok && std::fabs(lA[j][a] - lB[j][b]) <= flicker;
            if (!ok)
                continue;
            const double y = (yA + seenXyz[baseB[0] + b * kLevels][1]) * 0.5;
            candidates[count] = Candidate{std::fabs(y - targetY), y, a * kLevels + b};
            if (first < 0 || candidates[count].distance < candidates[first].distance)
                first = count;
            ++count;
        }
    }
    if (count == 0) {
        double lowest = std::numeric_limits<double>::infinity();
        int pair = 0;
        for (int q = 0; q < kLumPairs; ++q) {
            double excess = 0.0;
            for (int j = 0; j < n; ++j)
                excess = std::max(excess, std::fabs(lA[j][q >> 4] - lB[j][q & 15]) - flicker);
            if (excess < lowest) {
                lowest = excess;
                pair = q;
            }
        }
        *pairOut = pair;
        return kInfeasible + kExcessWeight * lowest;
    }
    const auto differenceOf = [&](int q) {
        double d = 0.0;
        for (int j = 0; j < n; ++j) {
            const double *a = seenXyz[baseA[j] + (q >> 4) * kLevels];
            const double *b = seenXyz[baseB[j] + (q & 15) * kLevels];
            const double mean[3] = {(a[0] + b[0]) * 0.5, (a[1] + b[1]) * 0.5, (a[2] + b[2]) * 0.5};
            d += w[j] * ColourScience::deltaE2000(ColourScience::labFromXyz(mean), x);
        }
        return d;
    };
    std::swap(candidates[0], candidates[first]);
    double best = differenceOf(candidates[0].pair);
    int bestPair = candidates[0].pair;
    // A blend of the first part whose L* lies further than best * SL / w0 from the photo's has a lightness
    // term, and so a difference, above the best; SL grows with the distance of the mean L* from 50.
    double lowY = 0.0;
    double highY = 0.0;
    const auto window = [&] {
        double reach = kLargestSl * best / w[0];
        const double offset = std::min(std::fabs(x.L - 50.0) + reach * 0.5, 50.0);
        reach = (1.0 + 0.015 * offset * offset / std::sqrt(20.0 + offset * offset)) * best / w[0];
        reach = reach * (1.0 + 1e-9) + 1e-9;
        lowY = white * labFInverse((x.L - reach + 16.0) / 116.0) * (1.0 - 1e-9) - 1e-12;
        highY = white * labFInverse((x.L + reach + 16.0) / 116.0) * (1.0 + 1e-9) + 1e-12;
    };
    window();
    int kept = 0;
    for (int i = 1; i < count; ++i)
        if (candidates[i].y >= lowY && candidates[i].y <= highY)
            candidates[kept++] = candidates[i];
    std::sort(candidates, candidates + kept, [](const Candidate &a, const Candidate &b) {
        return a.distance < b.distance || (a.distance == b.distance && a.pair < b.pair);
    });
    for (int i = 0; i < kept; ++i) {
        if (candidates[i].y < lowY || candidates[i].y > highY)
            continue;
        const int q = candidates[i].pair;
        const double d = differenceOf(q);
        if (d < best || (d == best && q < bestPair)) {
            const bool lower = d < best;
            best = d;
            bestPair = q;
            if (lower)
                window();
        }
    }
    *pairOut = bestPair;
    return best;
}

double PalTwoFrameConverter::pixelCost(int pixel, int *pairOut)
{
    const PalLayout::Pixel &px = layout.pixels[size_t(pixel)];
    int pair = 0;
    if (px.parts > kMaxKeyParts) {
        const double c = evaluate(pixel, &pair);
        if (pairOut)
            *pairOut = pair;
        return c;
    }
    quint64 key = kValid;
    for (int j = 0; j < px.parts; ++j) {
        const quint64 hues = quint64(slotHue[0][px.part[j].own]) | quint64(slotHue[0][px.part[j].above]) << 4
            | quint64(slotHue[1][px.part[j].own]) << 8 | quint64(slotHue[1][px.part[j].above]) << 12;
        key |= hues << (16 * j);
    }
    Entry &entry = cache[size_t(pixel) * kWays + size_t((key * 0x9E3779B97F4A7C15ull) >> 60)];
    if (entry.key != key) {
        entry.cost = evaluate(pixel, &entry.pair);
        entry.key = key;
    }
    if (pairOut)
        *pairOut = entry.pair;
    return entry.cost;
}

double PalTwoFrameConverter::runCost(int run, double limit)
{
    double total = 0.0;
    for (int p : layout.affected[size_t(run)]) {
        total += pixelCost(p, nullptr);
        if (total > limit)
            break;
    }
    return total;
}

bool PalTwoFrameConverter::updateRun(int frame, int run)
{
    std::vector<quint8> &hue = slotHue[frame];
    const quint8 current = hue[size_t(run)];
    // The hues tried: those of the run and of its neighbours, in either frame.
    quint32 tried = 0;
    for (int f = 0; f < 2; ++f) {
        tried |= 1u << slotHue[f][size_t(run)];
        for (int q : layout.neighbours[size_t(run)])
            tried |= 1u << slotHue[f][size_t(q)];
    }
    // And grey, and the hues next to the run's own on the circle of hues 1 to 15.
    tried |= 1u;
    if (current > 0) {
        tried |= 1u << (current == kLevels - 1 ? 1 : current + 1);
        tried |= 1u << (current == 1 ? kLevels - 1 : current - 1);
    }
    return PalLayout::improveHue(hue[size_t(run)], tried, [this, run](double limit) { return runCost(run, limit); });
}

void PalTwoFrameConverter::convert(const quint32 *averaged, double chromaFactor, int flickerLimit,
                                   const quint8 *startA, const quint8 *startB, quint8 *outputA, quint8 *huesA,
                                   quint8 *outputB, quint8 *huesB)
{
    prepare(averaged, chromaFactor, flickerLimit, startA, startB);
    updatesTaken = 0;
    // Work items: frame * kHues + run; a run changed in one frame is visited again in both.
    std::vector<int> queue;
    queue.reserve(size_t(kHues) * 8);
    for (int r = 0; r < kHues; ++r) {
        queue.push_back(r);
        queue.push_back(kHues + r);
    }
    for (int item : queue)
        queued[item / kHues][size_t(item % kHues)] = 1;
    for (size_t i = 0; i < queue.size(); ++i) {
        const int frame = queue[i] / kHues;
        const int run = queue[i] % kHues;
        queued[frame][size_t(run)] = 0;
        if (!updateRun(frame, run))
            continue;
        ++updatesTaken;
        const auto add = [&](int r) {
            for (int f = 0; f < 2; ++f) {
                if (!queued[f][size_t(r)]) {
                    queued[f][size_t(r)] = 1;
                    queue.push_back(f * kHues + r);
                }
            }
        };
        add(run);
        for (int q : layout.neighbours[size_t(run)])
            add(q);
    }
    for (int r = 0; r < kHues; ++r) {
        huesA[r] = quint8(slotHue[0][size_t(r)] << 4);
        huesB[r] = quint8(slotHue[1][size_t(r)] << 4);
    }
    lastTotal = finish(outputA, outputB);
}

double PalTwoFrameConverter::finish(quint8 *outputA, quint8 *outputB)
{
    double total = 0.0;
    lastInfeasible = 0;
    for (int p = 0; p < kAtariPixels; ++p) {
        int pair = 0;
        const double c = pixelCost(p, &pair);
        if (c >= kInfeasible)
            ++lastInfeasible;
        total += c;
        const int run = layout.runOf[size_t(p)];
        if (outputA)
            outputA[p] = quint8(slotHue[0][size_t(run)] << 4 | pair >> 4);
        if (outputB)
            outputB[p] = quint8(slotHue[1][size_t(run)] << 4 | (pair & 15));
    }
    return total;
}

double PalTwoFrameConverter::cost(const quint32 *averaged, double chromaFactor, int flickerLimit, const quint8 *huesA,
                                  const quint8 *huesB, quint8 *outputA, quint8 *outputB)
{
    prepare(averaged, chromaFactor, flickerLimit, huesA, huesB);
    return finish(outputA, outputB);
}

int PalTwoFrameConverter::bestHueOfRun(const quint32 *averaged, double chromaFactor, int flickerLimit,
                                       const quint8 *huesA, const quint8 *huesB, int frame, int run,
                                       double *totals)
{
    prepare(averaged, chromaFactor, flickerLimit, huesA, huesB);
    return layout.everyHueOfRun(
        run, slotHue[frame][size_t(run)], [this](int p) { return pixelCost(p, nullptr); },
        [this, run](double limit) { return runCost(run, limit); }, totals);
}
