#include "palbestconversion.h"

#include "atarigeometry.h"
#include "atariview.h"
#include "bestconversion.h"
#include "paldisplay.h"
#include "pallayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

using ColourScience::Lab;
using namespace Geometry;

namespace {

constexpr int kLevels = 16;         // hues, and luminances per hue
constexpr int kPairs = kLevels * kLevels; // (own hue, hue above)
constexpr int kUnknown = -1;

// The lightness term of CIEDE2000, |dL / SL|: a lower bound of the whole difference.
double lightnessTerm(double l1, double l2)
{
    const double offset = (l1 + l2) * 0.5 - 50.0;
    const double o2 = offset * offset;
    const double sl = 1.0 + 0.015 * o2 / std::sqrt(20.0 + o2);
    return std::fabs(l2 - l1) / sl;
}

// A bound computed in double may exceed the difference it bounds by rounding.
constexpr double kBoundMargin = 1.0 - 1e-12;

} // namespace

PalBestConverter::PalBestConverter()
    : layout(PalLayout::shared())
    , photo(kAtariPixels)
    , cache(size_t(kAtariPixels) * kPairs)
    , cachedLuminance(size_t(kAtariPixels) * kPairs)
    , slotHue(PalLayout::kSlots)
    , queued(kHues)

{
    const quint32 black[256] = {};
    setPalette(black);
}

PalBestConverter::~PalBestConverter() = default;

void PalBestConverter::setPalette(const quint32 *rgb256)
{
    PalDisplay::seenTable(rgb256, [this](int i, const PalDisplay::Sum &sum) { seen[i] = PalDisplay::labOfSum(sum); });
}

void PalBestConverter::prepare(const quint32 *averaged, double chromaFactor, const quint8 *hues)
{
    for (int p = 0; p < kAtariPixels; ++p)
        photo[size_t(p)] = BestConverter::scaledLab(averaged[p] & 0xFFFFFFu, chromaFactor);
    std::fill(cache.begin(), cache.end(), double(kUnknown));
    for (int r = 0; r < kHues; ++r)
        slotHue[size_t(r)] = quint8(hues[r] >> 4);
    for (int k = 0; k < PalLayout::kConstantSlots; ++k)
        slotHue[size_t(kHues + k)] = quint8(k);
}

// The lowest difference of a pixel shown with the own hue under the hue above, over its luminances,
// and the lowest luminance reaching it (*luminance, may be null). Luminances are tried by ascending
// lightness term, a lower bound of the difference, until that bound exceeds the best.
double PalBestConverter::pairCost(int pixel, int ownHue, int aboveHue, int *luminance)
{
    const size_t key = size_t(pixel) * kPairs + size_t(ownHue * kLevels + aboveHue);
    double &cached = cache[key];
    if (cached >= 0.0) {
        if (luminance)
            *luminance = cachedLuminance[key];
        return cached;
    }
    const Lab &x = photo[size_t(pixel)];
    double bound[kLevels];
    int order[kLevels];
    for (int l = 0; l < kLevels; ++l) {
        bound[l] = lightnessTerm(x.L, seen[((ownHue << 4) | l) * kLevels + aboveHue].L) * kBoundMargin;
        int i = l;
        for (; i > 0 && bound[order[i - 1]] > bound[l]; --i)
            order[i] = order[i - 1];
        order[i] = l;
    }
    double best = std::numeric_limits<double>::infinity();
    int bestLuminance = 0;
    for (int i = 0; i < kLevels && bound[order[i]] <= best; ++i) {
        const int l = order[i];
        const double d = ColourScience::deltaE2000(seen[((ownHue << 4) | l) * kLevels + aboveHue], x);
        if (d < best || (d == best && l < bestLuminance)) {
            best = d;
            bestLuminance = l;
        }
    }
    cached = best;
    cachedLuminance[key] = quint8(bestLuminance);
    if (luminance)
        *luminance = bestLuminance;
    return best;
}

// A pixel whose screen pixels show several hue pairs: the lowest summed difference over its luminances
// and the lowest luminance reaching it (*luminance, may be null). Each part's difference is at least
// its own lowest (pairCost) and at least its lightness term; when all parts have their lowest at one
// luminance, that is the pixel's.
double PalBestConverter::partsCost(int pixel, int *luminance)
{
    const PalLayout::Pixel &px = layout.pixels[size_t(pixel)];
    int own[kSourcePerAtari];
    int above[kSourcePerAtari];
    double lowest[kSourcePerAtari];
    double lower = 0.0;
    int common = -1;
    bool shared = true;
    for (int j = 0; j < px.parts; ++j) {
        own[j] = slotHue[px.part[j].own];
        above[j] = slotHue[px.part[j].above];
        int l = 0;
        lowest[j] = pairCost(pixel, own[j], above[j], &l);
        lower += px.part[j].weight * lowest[j];
        if (j == 0)
            common = l;
        shared = shared && l == common;
    }
    if (shared) {
        if (luminance)
            *luminance = common;
        return lower;
    }
    const Lab &x = photo[size_t(pixel)];
    double bound[kLevels];
    for (int l = 0; l < kLevels; ++l) {
        bound[l] = 0.0;
        for (int j = 0; j < px.parts; ++j) {
            const double term = lightnessTerm(x.L, seen[((own[j] << 4) | l) * kLevels + above[j]].L) * kBoundMargin;
            bound[l] += px.part[j].weight * std::max(term, lowest[j]);
        }
    }
    double best = std::numeric_limits<double>::infinity();
    int bestLuminance = 0;
    for (int l = 0; l < kLevels; ++l) {
        if (bound[l] > best)
            continue;
        double d = 0.0;
        for (int j = 0; j < px.parts; ++j)
            d += px.part[j].weight * ColourScience::deltaE2000(seen[((own[j] << 4) | l) * kLevels + above[j]], x);
        if (d < best) {
            best = d;
            bestLuminance = l;
        }
    }
    if (luminance)
        *luminance = bestLuminance;
    return best;
}

double PalBestConverter::pixelCost(int pixel)
{
    const PalLayout::Pixel &px = layout.pixels[size_t(pixel)];
    if (px.parts == 1)
        return px.part[0].weight * pairCost(pixel, slotHue[px.part[0].own], slotHue[px.part[0].above], nullptr);
    return partsCost(pixel, nullptr);
}

// The summed cost of the pixels that depend on run, stopping once it exceeds limit.
double PalBestConverter::runCost(int run, double limit)
{
    double total = 0.0;
    for (int p : layout.affected[size_t(run)]) {
        total += pixelCost(p);
        if (total > limit)
            break;
    }
    return total;
}

bool PalBestConverter::updateRun(int run)
{
    return PalLayout::improveHue(slotHue[size_t(run)], 0xFFFFu, [this, run](double limit) { return runCost(run, limit); });
}

// Per-run updates of the runs in queue and of every neighbour of a run that changes, until none changes.
void PalBestConverter::settle(std::vector<int> &queue)
{
    for (int r : queue)
        queued[size_t(r)] = 1;
    for (size_t i = 0; i < queue.size(); ++i) {
        const int r = queue[i];
        queued[size_t(r)] = 0;
        if (!updateRun(r))
            continue;
        ++updatesTaken;
        for (int q : layout.neighbours[size_t(r)]) {
            if (!queued[size_t(q)]) {
                queued[size_t(q)] = 1;
                queue.push_back(q);
            }
        }
    }
    queue.clear();
}

void PalBestConverter::convert(const quint32 *averaged, double chromaFactor, const quint8 *startHues, quint8 *output,
                               quint8 *hues)
{
    prepare(averaged, chromaFactor, startHues);
    updatesTaken = 0;
    std::vector<int> queue;
    queue.reserve(size_t(kHues) * 4);
    for (int r = 0; r < kHues; ++r)
        queue.push_back(r);
    settle(queue);
    for (int r = 0; r < kHues; ++r)
        hues[r] = quint8(slotHue[size_t(r)] << 4);
    lastTotal = finish(output);
}

double PalBestConverter::cost(const quint32 *averaged, double chromaFactor, const quint8 *hues, quint8 *output)
{
    prepare(averaged, chromaFactor, hues);
    return finish(output);
}

// The total of the hues in effect, every pixel at its best luminance, and their output bytes (output may
// be null).
double PalBestConverter::finish(quint8 *output)
{
    double total = 0.0;
    for (int p = 0; p < kAtariPixels; ++p) {
        int luminance = 0;
        total += partsCost(p, &luminance);
        if (output)
            output[p] = quint8(slotHue[size_t(layout.runOf[size_t(p)])] << 4 | luminance);
    }
    return total;
}

int PalBestConverter::bestHueOfRun(const quint32 *averaged, double chromaFactor, const quint8 *hues, int run,
                                   double *totals)
{
    prepare(averaged, chromaFactor, hues);
    return layout.everyHueOfRun(
        run, slotHue[size_t(run)], [this](int p) { return pixelCost(p); },
        [this, run](double limit) { return runCost(run, limit); }, totals);
}
