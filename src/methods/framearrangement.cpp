#include "framearrangement.h"

#include "areaflicker.h"
#include "atarigeometry.h"
#include "atariview.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

using namespace Geometry;

namespace FrameArrangement {

namespace {

constexpr int kWidth = AtariView::kWidth;
constexpr int kHeight = AtariView::kHeight;
constexpr int kScreenPixels = kWidth * kHeight;
constexpr int kNone = -1;
// Sweeps over all units at most; they end sooner, when a sweep swaps nothing.
constexpr int kMostSweeps = 40;

// The hue table entry whose hue each screen pixel shows, or -1 where the kernel's constant shows.
std::vector<int> computeHueSources()
{
    std::vector<int> source(static_cast<size_t>(kScreenPixels));
    int count = 0;
    const AtariView::Landing *landing = AtariView::landings(&count);
    const AtariView::Landing *end = landing + count;
    int hueIndex = -1;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            while (landing != end && (landing->row < y || (landing->row == y && landing->column <= x))) {
                hueIndex = landing->hueIndex;
                ++landing;
            }
            source[size_t(y * kWidth + x)] = hueIndex;
        }
    }
    return source;
}

const std::vector<int> &hueSources()
{
    static const std::vector<int> sources = computeHueSources();
    return sources;
}

// The run (hue table entry) of each Atari pixel.
std::vector<int> computeRuns()
{
    std::vector<int> runs(static_cast<size_t>(kAtariPixels));
    const int perPair = kAtariPixels / kLinePairs;
    for (int pair = 0; pair < kLinePairs; ++pair)
        for (int s = 0, k = 0; s < kSegmentsPerPair; ++s)
            for (int j = 0; j < kSegmentLengths[s]; ++j)
                runs[size_t(pair * perPair + k++)] = pair * kSegmentsPerPair + s;
    return runs;
}

const std::vector<int> &runOf()
{
    static const std::vector<int> runs = computeRuns();
    return runs;
}

// Union-find over the swap choices: 0 to 1559 the runs, 1560 on the Atari pixels.
struct Choices {
    std::vector<int> parent;
    Choices()
        : parent(static_cast<size_t>(kHues + kAtariPixels))
    {
        std::iota(parent.begin(), parent.end(), 0);
    }
    int find(int v)
    {
        while (parent[size_t(v)] != v) {
            parent[size_t(v)] = parent[size_t(parent[size_t(v)])];
            v = parent[size_t(v)];
        }
        return v;
    }
    void join(int a, int b)
    {
        a = find(a);
        b = find(b);
        if (a != b)
            parent[size_t(std::max(a, b))] = std::min(a, b);
    }
};

// A unit: the screen pixels whose sign it turns, grouped by row, and the rows and columns its
// low-passed difference reaches.
struct Unit {
    std::vector<int> pixels; // screen pixel indices, in beam order
    int top = kHeight, bottom = -1, left = kWidth, right = -1;
};

class Search
{
public:
    Search(const AreaFlicker::LowPass &lowPass, std::vector<double> &difference, const std::vector<double> &weight)
        : lowPass(lowPass)
        , radius(lowPass.radius())
        , difference(difference)
        , weight(weight)
        , filtered(static_cast<size_t>(kScreenPixels))
    {
        lowPass.filter(difference.data(), filtered.data());
    }

    double total() const
    {
        double sum = 0.0;
        for (int i = 0; i < kScreenPixels; ++i)
            sum += weight[size_t(i)] * filtered[size_t(i)] * filtered[size_t(i)];
        return sum;
    }

    // Swaps unit u when that lowers the total; returns whether it did.
    bool improve(const Unit &u)
    {
        const int top = std::max(0, u.top - radius);
        const int bottom = std::min(kHeight - 1, u.bottom + radius);
        const int left = std::max(0, u.left - radius);
        const int right = std::min(kWidth - 1, u.right + radius);
        const int w = right - left + 1;
        const int h = bottom - top + 1;
        patch.assign(size_t(w * h), 0.0);
        rowPatch.assign(size_t(w), 0.0);
        // The unit's low-passed difference, a row of the unit at a time.
        size_t k = 0;
        while (k < u.pixels.size()) {
            const int row = u.pixels[k] / kWidth;
            std::fill(rowPatch.begin(), rowPatch.end(), 0.0);
            for (; k < u.pixels.size() && u.pixels[k] / kWidth == row; ++k) {
                const int x = u.pixels[k] % kWidth;
                const double d = difference[size_t(u.pixels[k])];
                const int first = std::max(left, x - radius);
                const int last = std::min(right, x + radius);
                for (int c = first; c <= last; ++c)
                    rowPatch[size_t(c - left)] += d * lowPass.tap(c - x);
            }
            const int firstRow = std::max(top, row - radius);
            const int lastRow = std::min(bottom, row + radius);
            for (int r = firstRow; r <= lastRow; ++r) {
                const double t = lowPass.tap(r - row);
                double *out = patch.data() + size_t((r - top) * w);
                for (int c = 0; c < w; ++c)
                    out[c] += t * rowPatch[size_t(c)];
            }
        }
        // Swapping turns the unit's part g of the low-passed difference F into -g: the total
        // changes by the sum of weight * ((F - 2g)^2 - F^2) = 4 * weight * (g^2 - F g).
        double change = 0.0;
        double scale = 0.0;
        for (int r = 0; r < h; ++r) {
            const size_t base = size_t((top + r) * kWidth + left);
            const double *g = patch.data() + size_t(r * w);
            for (int c = 0; c < w; ++c) {
                const double f = filtered[base + size_t(c)];
                const double wt = weight[base + size_t(c)];
                change += wt * g[c] * (g[c] - f);
                scale += wt * g[c] * g[c];
            }
        }
        // Only a clear gain swaps, so that rounding cannot make two swaps undo each other forever.
        if (!(change < -1e-9 * scale))
            return false;
        for (int r = 0; r < h; ++r) {
            const size_t base = size_t((top + r) * kWidth + left);
            const double *g = patch.data() + size_t(r * w);
            for (int c = 0; c < w; ++c)
                filtered[base + size_t(c)] -= 2.0 * g[c];
        }
        for (int p : u.pixels)
            difference[size_t(p)] = -difference[size_t(p)];
        return true;
    }

private:
    const AreaFlicker::LowPass &lowPass;
    const int radius;
    std::vector<double> &difference;
    const std::vector<double> &weight;
    std::vector<double> filtered;
    std::vector<double> patch;
    std::vector<double> rowPatch;
};

} // namespace

Outcome arrange(const quint32 *palette, Coupling coupling, quint8 *outputA, quint8 *huesA, quint8 *outputB,
                quint8 *huesB)
{
    std::vector<quint8> screenA(static_cast<size_t>(kScreenPixels));
    std::vector<quint8> screenB(static_cast<size_t>(kScreenPixels));
    AtariView::render(outputA, huesA, screenA.data());
    AtariView::render(outputB, huesB, screenB.data());
    const std::vector<int> &hueSource = hueSources();

    // Which choice decides each screen pixel (kNone where both frames show one colour), and the
    // choices bound together.
    Choices choices;
    std::vector<int> decider(size_t(kScreenPixels), kNone);
    for (int p = 0; p < kScreenPixels; ++p) {
        if (screenA[size_t(p)] == screenB[size_t(p)])
            continue;
        const int pixel = (p / kWidth) * kAtariWidth + (p % kWidth) / kSourcePerAtari;
        const int pixelChoice = kHues + pixel;
        const int run = hueSource[size_t(p)];
        const bool huesDiffer = run >= 0 && huesA[run] >> 4 != huesB[run] >> 4;
        const bool luminancesDiffer = (outputA[pixel] & 0x0F) != (outputB[pixel] & 0x0F);
        if (huesDiffer && luminancesDiffer)
            choices.join(run, pixelChoice);
        decider[size_t(p)] = huesDiffer && !luminancesDiffer ? run : pixelChoice;
    }
    if (coupling == Coupling::LineAbove) {
        for (int p = kWidth; p < kScreenPixels; ++p)
            if (decider[size_t(p)] != kNone && decider[size_t(p - kWidth)] != kNone)
                choices.join(decider[size_t(p)], decider[size_t(p - kWidth)]);
    }

    // The units, numbered in beam order of their first screen pixel.
    std::vector<int> unitOfRoot(choices.parent.size(), kNone);
    std::vector<int> unitOf(size_t(kScreenPixels), kNone);
    std::vector<Unit> units;
    for (int p = 0; p < kScreenPixels; ++p) {
        if (decider[size_t(p)] == kNone)
            continue;
        const int root = choices.find(decider[size_t(p)]);
        if (unitOfRoot[size_t(root)] == kNone) {
            unitOfRoot[size_t(root)] = int(units.size());
            units.emplace_back();
        }
        Unit &u = units[size_t(unitOfRoot[size_t(root)])];
        unitOf[size_t(p)] = unitOfRoot[size_t(root)];
        u.pixels.push_back(p);
        const int x = p % kWidth;
        const int y = p / kWidth;
        u.top = std::min(u.top, y);
        u.bottom = std::max(u.bottom, y);
        u.left = std::min(u.left, x);
        u.right = std::max(u.right, x);
    }

    // The frames' difference of linear luminance, and the weights: the squared slope of L* at the
    // low-passed blend, which no swap changes.
    std::vector<double> yA(static_cast<size_t>(kScreenPixels));
    std::vector<double> yB(static_cast<size_t>(kScreenPixels));
    AreaFlicker::luminance(screenA.data(), palette, yA.data());
    AreaFlicker::luminance(screenB.data(), palette, yB.data());
    const AreaFlicker::LowPass lowPass;
    std::vector<double> weight(static_cast<size_t>(kScreenPixels));
    std::vector<double> blend(static_cast<size_t>(kScreenPixels));
    for (int p = 0; p < kScreenPixels; ++p)
        blend[size_t(p)] = 0.5 * (yA[size_t(p)] + yB[size_t(p)]);
    lowPass.filter(blend.data(), weight.data());
    for (double &w : weight) {
        const double slope = AreaFlicker::lightnessSlope(w);
        w = slope * slope;
    }
    std::vector<double> difference(static_cast<size_t>(kScreenPixels));
    for (int p = 0; p < kScreenPixels; ++p)
        difference[size_t(p)] = yA[size_t(p)] - yB[size_t(p)];

    Outcome outcome;
    outcome.units = int(units.size());
    outcome.before = Search(lowPass, difference, weight).total();

    // Start from a checkerboard of Atari pixels that ignores the given order: each unit's first
    // screen pixel is brighter in frame A (or, as bright, has the higher colour byte there) where
    // its column plus row is even.
    std::vector<bool> swapped(units.size(), false);
    for (size_t u = 0; u < units.size(); ++u) {
        const size_t p = size_t(units[u].pixels.front());
        const bool even = ((p % kWidth) / kSourcePerAtari + p / kWidth) % 2 == 0;
        const bool brighterA = yA[p] != yB[p] ? yA[p] > yB[p] : screenA[p] > screenB[p];
        if (brighterA != even) {
            swapped[u] = true;
            for (int q : units[u].pixels)
                difference[size_t(q)] = -difference[size_t(q)];
        }
    }
    Search search(lowPass, difference, weight);
    for (int sweep = 0; sweep < kMostSweeps; ++sweep) {
        bool any = false;
        for (size_t u = 0; u < units.size(); ++u) {
            if (search.improve(units[u])) {
                swapped[u] = !swapped[u];
                any = true;
            }
        }
        if (!any)
            break;
    }
    outcome.after = search.total();

    // Every choice of a swapped unit swaps: a run its hues, a pixel its luminances.
    for (int v = 0; v < int(choices.parent.size()); ++v) {
        const int unit = unitOfRoot[size_t(choices.find(v))];
        if (unit == kNone || !swapped[size_t(unit)])
            continue;
        if (v < kHues) {
            std::swap(huesA[v], huesB[v]);
        } else {
            const int pixel = v - kHues;
            const quint8 a = outputA[pixel] & 0x0F;
            outputA[pixel] = quint8((outputA[pixel] & 0xF0) | (outputB[pixel] & 0x0F));
            outputB[pixel] = quint8((outputB[pixel] & 0xF0) | a);
        }
    }
    const std::vector<int> &run = runOf();
    for (int i = 0; i < kAtariPixels; ++i) {
        outputA[i] = quint8((huesA[run[size_t(i)]] & 0xF0) | (outputA[i] & 0x0F));
        outputB[i] = quint8((huesB[run[size_t(i)]] & 0xF0) | (outputB[i] & 0x0F));
    }
    outcome.swapped = int(std::count(swapped.begin(), swapped.end(), true));
    return outcome;
}

} // namespace FrameArrangement
