#include "framearrangement.h"

#include "areaflicker.h"
#include "atarigeometry.h"
#include "atariview.h"
#include "linepairs.h"

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
// The search: starts, sweeps that may also swap for a small loss (the first of them up to
// kFirstThreshold times the mean gain or loss of a unit's swap at the start, falling to 0), and
// sweeps that only gain, which end sooner when one swaps nothing.
constexpr int kStarts = 3;
constexpr int kThresholdSweeps = 12;
constexpr double kFirstThreshold = 0.3;
constexpr int kMostSweeps = 40;
// The sampling of the low-passed field: every kStepX screen pixels across, every kStepY lines.
constexpr int kStepX = 4;
constexpr int kStepY = 2;

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

// A unit's part of the low-passed difference: the samples first to last of the rows top to bottom
// (row by row) that its screen pixels reach, for the unit's differences as given. Turning the unit's
// sign turns every value's sign, exactly, so one patch serves both.
struct Patch {
    int first = 0, last = 0, top = 0, bottom = 0;
    std::vector<double> values;
};

// The weighted sum of squares of the low-passed difference, sampled at the middle of every Atari
// pixel of every other line (the low-passed field changes little over a sigma of 4.7 screen
// pixels), over the picture and the margin around it that the filter spreads into (the border is
// black in both frames, so flicker spread there shows too); kept up to date as units swap.
class Scale
{
public:
    // blend: 76800 values, which give the weights; the difference is set by reset.
    explicit Scale(const std::vector<double> &blend)
        : radius(lowPass.radius())
        , columns(kAtariWidth + 2 * (radius / kStepX + 1))
        , rows(kHeight / kStepY + 2 * (radius / kStepY + 1))
        , filtered(size_t(columns) * size_t(rows))
        , weight(filtered.size())
        , blockColumns((columns + kBlockColumns - 1) / kBlockColumns)
        , blockChanged(size_t(blockColumns) * size_t((rows + kBlockRows - 1) / kBlockRows), 0)
    {
        sample(blend, weight);
        for (double &w : weight) {
            const double slope = AreaFlicker::lightnessSlope(w);
            w = slope * slope;
        }
    }

    // Starts from the differences `difference` (76800 values).
    void reset(const std::vector<double> &difference)
    {
        sample(difference, filtered);
        ++applied;
        std::fill(blockChanged.begin(), blockChanged.end(), applied);
    }

    // A mark of the filtered field as it is now: change() of a patch gives the same values as at a
    // mark as long as unchanged(p, mark), since no swap has touched the samples it reads.
    long mark() const { return applied; }
    bool unchanged(const Patch &p, long since) const
    {
        for (int by = p.top / kBlockRows; by <= p.bottom / kBlockRows; ++by)
            for (int bx = p.first / kBlockColumns; bx <= p.last / kBlockColumns; ++bx)
                if (blockChanged[size_t(by * blockColumns + bx)] > since)
                    return false;
        return true;
    }

    double total() const
    {
        double sum = 0.0;
        for (size_t i = 0; i < filtered.size(); ++i)
            sum += weight[i] * filtered[i] * filtered[i];
        return sum;
    }

    // Unit u's part of the filtered field for the differences `difference`.
    Patch patch(const Unit &u, const std::vector<double> &difference) const
    {
        Patch p;
        p.first = std::max(0, column(u.left - radius));
        p.last = std::min(columns - 1, column(u.right + radius) + 1);
        p.top = std::max(0, row(u.top - radius));
        p.bottom = std::min(rows - 1, row(u.bottom + radius) + 1);
        const int patchWidth = p.last - p.first + 1;
        p.values.assign(size_t(patchWidth) * size_t(p.bottom - p.top + 1), 0.0);
        std::vector<double> rowPatch(static_cast<size_t>(patchWidth));
        size_t k = 0;
        while (k < u.pixels.size()) {
            const int y = u.pixels[k] / kWidth;
            std::fill(rowPatch.begin(), rowPatch.end(), 0.0);
            for (; k < u.pixels.size() && u.pixels[k] / kWidth == y; ++k) {
                const int x = u.pixels[k] % kWidth;
                const double d = difference[size_t(u.pixels[k])];
                for (int c = std::max(p.first, column(x - radius)); c <= std::min(p.last, column(x + radius) + 1); ++c) {
                    const int t = screenX(c) - x;
                    if (t >= -radius && t <= radius)
                        rowPatch[size_t(c - p.first)] += d * lowPass.tap(t);
                }
            }
            for (int r = std::max(p.top, row(y - radius)); r <= std::min(p.bottom, row(y + radius) + 1); ++r) {
                const int t = screenY(r) - y;
                if (t < -radius || t > radius)
                    continue;
                const double tap = lowPass.tap(t);
                double *out = p.values.data() + size_t(r - p.top) * size_t(patchWidth);
                for (int c = 0; c < patchWidth; ++c)
                    out[c] += tap * rowPatch[size_t(c)];
            }
        }
        return p;
    }

    // What swapping a unit, whose part of the filtered field is sign times patch p, changes the
    // total by. Adds the size of the change's terms to magnitude.
    double change(const Patch &p, double sign, double *magnitude) const
    {
        // Swapping turns the unit's part g of the filtered field F into -g: the total changes by
        // the sum of weight * ((F - 2g)^2 - F^2) = 4 * weight * (g^2 - F g).
        const int patchWidth = p.last - p.first + 1;
        double sum = 0.0;
        double size = 0.0;
        for (int r = p.top; r <= p.bottom; ++r) {
            const size_t base = size_t(r) * size_t(columns) + size_t(p.first);
            const double *g = p.values.data() + size_t(r - p.top) * size_t(patchWidth);
            for (int c = 0; c < patchWidth; ++c) {
                const double gc = sign * g[c];
                const double wg = weight[base + size_t(c)] * gc;
                sum += wg * (gc - filtered[base + size_t(c)]);
                size += wg * gc;
            }
        }
        *magnitude += 4.0 * size;
        return 4.0 * sum;
    }

    // Swaps a unit whose part of the filtered field is sign times patch p.
    void apply(const Patch &p, double sign)
    {
        ++applied;
        for (int by = p.top / kBlockRows; by <= p.bottom / kBlockRows; ++by)
            for (int bx = p.first / kBlockColumns; bx <= p.last / kBlockColumns; ++bx)
                blockChanged[size_t(by * blockColumns + bx)] = applied;
        const int patchWidth = p.last - p.first + 1;
        for (int r = p.top; r <= p.bottom; ++r) {
            double *f = filtered.data() + size_t(r) * size_t(columns) + size_t(p.first);
            const double *g = p.values.data() + size_t(r - p.top) * size_t(patchWidth);
            for (int c = 0; c < patchWidth; ++c)
                f[c] -= 2.0 * (sign * g[c]);
        }
    }

private:
    // Samples lie at screen column kStepX * i + kStepX / 2 and row kStepY * j, for sample column
    // c = i + marginX and row r = j + marginY.
    int marginX() const { return radius / kStepX + 1; }
    int marginY() const { return radius / kStepY + 1; }
    int screenX(int c) const { return (c - marginX()) * kStepX + kStepX / 2; }
    int screenY(int r) const { return (r - marginY()) * kStepY; }
    // The sample column at or left of screen column x, and the sample row at or above row y.
    int column(int x) const { return floorDivide(x - kStepX / 2, kStepX) + marginX(); }
    int row(int y) const { return floorDivide(y, kStepY) + marginY(); }
    static int floorDivide(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

    // Low-passes a picture's field and samples it, the picture black outside: LowPass::filter's sums,
    // computed only where samples lie (across at the sample columns, then down at the sample rows).
    void sample(const std::vector<double> &picture, std::vector<double> &samples) const
    {
        const int width = kWidth + 2 * radius;
        const int height = kHeight + 2 * radius;
        std::vector<double> field(size_t(width) * size_t(height), 0.0);
        for (int y = 0; y < kHeight; ++y)
            std::copy_n(picture.begin() + y * kWidth, kWidth, field.begin() + (y + radius) * width + radius);
        std::vector<double> across(size_t(columns) * size_t(height), 0.0);
        for (int c = 0; c < columns; ++c) {
            const int x = screenX(c) + radius;
            if (x < 0 || x >= width)
                continue;
            const int first = std::max(-radius, -x);
            const int last = std::min(radius, width - 1 - x);
            for (int y = 0; y < height; ++y) {
                const double *row = field.data() + size_t(y) * size_t(width);
                double sum = 0.0;
                for (int k = first; k <= last; ++k)
                    sum += lowPass.tap(k) * row[x + k];
                across[size_t(y) * size_t(columns) + size_t(c)] = sum;
            }
        }
        for (int r = 0; r < rows; ++r) {
            const int y = screenY(r) + radius;
            const int first = std::max(-radius, -y);
            const int last = std::min(radius, height - 1 - y);
            for (int c = 0; c < columns; ++c) {
                const int x = screenX(c) + radius;
                double sum = 0.0;
                if (x >= 0 && x < width && y >= 0 && y < height)
                    for (int k = first; k <= last; ++k)
                        sum += lowPass.tap(k) * across[size_t(y + k) * size_t(columns) + size_t(c)];
                samples[size_t(r) * size_t(columns) + size_t(c)] = sum;
            }
        }
    }

    const AreaFlicker::LowPass lowPass;
    const int radius;
    const int columns;
    const int rows;
    std::vector<double> filtered;
    std::vector<double> weight;
    // The samples in blocks of kBlockColumns by kBlockRows, and per block the count of changes of
    // the field (resets and swaps) when a change last touched it.
    static constexpr int kBlockColumns = 8;
    static constexpr int kBlockRows = 8;
    int blockColumns;
    std::vector<long> blockChanged;
    long applied = 0;
};

} // namespace

Outcome arrange(const quint32 *palette, Coupling coupling, quint8 *outputA, quint8 *huesA, quint8 *outputB,
                quint8 *huesB, int threads)
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

    // The frames' difference of linear luminance, and their blend, which no swap changes.
    std::vector<double> yA(static_cast<size_t>(kScreenPixels));
    std::vector<double> yB(static_cast<size_t>(kScreenPixels));
    AreaFlicker::luminance(screenA.data(), palette, yA.data());
    AreaFlicker::luminance(screenB.data(), palette, yB.data());
    std::vector<double> blend(static_cast<size_t>(kScreenPixels));
    std::vector<double> difference(static_cast<size_t>(kScreenPixels));
    for (int p = 0; p < kScreenPixels; ++p) {
        blend[size_t(p)] = 0.5 * (yA[size_t(p)] + yB[size_t(p)]);
        difference[size_t(p)] = yA[size_t(p)] - yB[size_t(p)];
    }
    Outcome outcome;
    outcome.units = int(units.size());
    Scale scale(blend);
    scale.reset(difference);
    outcome.before = scale.total();
    // Each unit's part of the low-passed difference as given; a unit swapped from there has its
    // negative (trial[u] below says which).
    std::vector<Patch> patches;
    patches.reserve(units.size());
    for (const Unit &u : units)
        patches.push_back(scale.patch(u, difference));

    // Searches from a few starts that ignore the given order and keeps the best. In start k each
    // unit's first screen pixel (column c of Atari pixels, row y) is brighter in frame A (or, as
    // bright, has the higher colour byte there) where pattern k is even: c + y, y, c + y / 2. From
    // there, sweeps over the units swap each that lowers the total, and in the first sweeps also
    // each that raises it by less than a threshold falling to 0 (so the search can leave a poor
    // start), until a sweep without a threshold swaps nothing.
    // The starts are independent: they are shared among the threads as line pairs are, each thread
    // with its own copy of the field, and the best is taken in their order.
    const std::vector<double> given = difference;
    double totals[kStarts] = {};
    std::vector<bool> trials[kStarts];
    forEachLinePair(0, kStarts - 1, threads, [&](LinePairQueue &starts) {
        Scale own = scale;
        std::vector<double> startDifference;
        for (int start = starts.take(); start >= 0; start = starts.take()) {
            startDifference = given;
            std::vector<bool> &trial = trials[start];
            trial.assign(units.size(), false);
            for (size_t u = 0; u < units.size(); ++u) {
                const size_t p = size_t(units[u].pixels.front());
                const size_t c = (p % kWidth) / kSourcePerAtari;
                const size_t y = p / kWidth;
                const size_t pattern = start == 0 ? c + y : start == 1 ? y : c + y / 2;
                const bool brighterA = yA[p] != yB[p] ? yA[p] > yB[p] : screenA[p] > screenB[p];
                if (brighterA != (pattern % 2 == 0)) {
                    trial[u] = true;
                    for (int q : units[u].pixels)
                        startDifference[size_t(q)] = -startDifference[size_t(q)];
                }
            }
            own.reset(startDifference);
            // A unit's change and magnitude as last computed, reused while no swap has touched its
            // patch (the same sums of the same values).
            std::vector<long> computedAt(units.size(), -1);
            std::vector<double> changes(units.size());
            std::vector<double> magnitudes(units.size());
            for (int sweep = 0; sweep < kThresholdSweeps + kMostSweeps; ++sweep) {
                const double threshold =
                    sweep < kThresholdSweeps ? kFirstThreshold * (1.0 - double(sweep) / kThresholdSweeps) : 0.0;
                bool any = false;
                for (size_t u = 0; u < units.size(); ++u) {
                    if (computedAt[u] < 0 || !own.unchanged(patches[u], computedAt[u])) {
                        double size = 0.0;
                        changes[u] = own.change(patches[u], trial[u] ? -1.0 : 1.0, &size);
                        magnitudes[u] = size;
                        computedAt[u] = own.mark();
                    }
                    const double magnitude = magnitudes[u];
                    const double sign = trial[u] ? -1.0 : 1.0;
                    const double change = changes[u];
                    // Below the thresholds only a clear gain swaps, so that rounding cannot make swaps
                    // undo each other forever.
                    if (!(change < (threshold - 1e-9) * magnitude))
                        continue;
                    own.apply(patches[u], sign);
                    trial[u] = !trial[u];
                    any = true;
                }
                if (!any && sweep >= kThresholdSweeps)
                    break;
            }
            totals[start] = own.total();
        }
    });
    int chosen = 0;
    for (int start = 1; start < kStarts; ++start)
        if (totals[start] < totals[chosen])
            chosen = start;
    outcome.after = totals[chosen];
    const std::vector<bool> &swapped = trials[chosen];

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
