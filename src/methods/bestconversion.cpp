#include "bestconversion.h"
#include "ciede2000bounds.h"
#include "linepairs.h"

#include "atarigeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

using ColourScience::Lab;
using namespace ColourScience::Ciede2000;
using namespace Ciede2000Bounds;

namespace {

constexpr int kLevels = 16;                 // hues, and luminances per hue
constexpr int kLongestRun = 23;             // the longest hue segment, in Atari pixels
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Luminances whose near bounds are computed together: kGroups groups of kGroupSize.
constexpr int kGroupSize = 8;
constexpr int kGroups = kLevels / kGroupSize;

// The first luminance with the lowest screening value.
int lowestScreen(const float *screen)
{
    int lowest = 0;
    for (int l = 1; l < kLevels; ++l)
        if (screen[l] < screen[lowest])
            lowest = l;
    return lowest;
}

} // namespace

// One hue segment being converted: its pixels and, per pixel, hue and luminance, the screening values
// (roots, before safety margins), then the chosen luminances.
struct BestConverter::Run {
    int n = 0;
    quint32 rgb[kLongestRun];
    Lab lab[kLongestRun];
    double chroma[kLongestRun];
    alignas(16) float screen[kLongestRun][kLevels][kLevels];
    double hueBound[kLongestRun][kLevels];
    quint8 luminances[kLevels][kLongestRun];
    quint8 hue = 0;
    // Per pixel and hue: the near bounds (roots, before safety margins) computed so far, bit g of
    // nearDone for group g of luminances.
    quint8 nearDone[kLongestRun][kLevels];
    alignas(16) float near[kLongestRun][kLevels][kLevels];
};

BestConverter::BestConverter()
{
    const quint32 black[256] = {};
    setPalette(black);
}

Lab BestConverter::scaledLab(quint32 rgb, double chromaFactor)
{
    Lab lab = ColourScience::labFromRgb(rgb);
    lab.a *= chromaFactor;
    lab.b *= chromaFactor;
    return lab;
}

void BestConverter::setPalette(const quint32 *rgb256)
{
    for (int i = 0; i < 256; ++i) {
        lab[i] = ColourScience::labFromRgb(rgb256[i]);
        chroma[i] = std::sqrt(lab[i].a * lab[i].a + lab[i].b * lab[i].b);
    }
    for (int h = 0; h < kLevels; ++h) {
        hueMinChroma[h] = std::numeric_limits<float>::infinity();
        hueMaxChroma[h] = 0.0f;
        for (int l = 0; l < kLevels; ++l) {
            const int i = h * kLevels + l;
            hueL[h][l] = float(lab[i].L);
            hueA[h][l] = float(lab[i].a);
            hueB[h][l] = float(lab[i].b);
            hueC[h][l] = float(chroma[i]);
            hueMinChroma[h] = std::min(hueMinChroma[h], std::nextafter(float(chroma[i]), 0.0f));
            hueMaxChroma[h] = std::max(hueMaxChroma[h], std::nextafter(float(chroma[i]), kFloatHuge));
        }
        for (int step = 1; step < kRotationSteps; ++step) {
            double low = kInfinity;
            double high = -kInfinity;
            bool onArc = true;
            for (int l = 0; l < kLevels; ++l) {
                const Lab &y = lab[h * kLevels + l];
                if ((y.a != 0.0 || y.b != 0.0) && !onRotationArc(HueRange(y.a, y.b), step, &low, &high))
                    onArc = false;
            }
            arcFloats(onArc, low, high, &hueArcLow[step][h], &hueArcHigh[step][h]);
        }
    }
}

void BestConverter::convert(const quint32 *averaged, double chromaFactor, quint8 *output, quint8 *hues,
                            int threads) const
{
    forEachLinePair(0, Geometry::kLinePairs - 1, threads, [&](LinePairQueue &pairs) {
        Run run;
        for (int p = pairs.take(); p >= 0; p = pairs.take())
            convertPair(run, p, averaged, chromaFactor, output, hues);
    });
}

void BestConverter::convertPair(Run &run, int pair, const quint32 *averaged, double chromaFactor, quint8 *output,
                                quint8 *hues) const
{
    int i = pair * (Geometry::kAtariPixels / Geometry::kLinePairs);
    for (int s = 0; s < Geometry::kSegmentsPerPair; ++s) {
        run.n = Geometry::kSegmentLengths[s];
        for (int k = 0; k < run.n; ++k) {
            run.rgb[k] = averaged[i + k] & 0xFFFFFFu;
            if (k > 0 && run.rgb[k] == run.rgb[k - 1]) {
                run.lab[k] = run.lab[k - 1];
                run.chroma[k] = run.chroma[k - 1];
                continue;
            }
            run.lab[k] = scaledLab(run.rgb[k], chromaFactor);
            run.chroma[k] = std::sqrt(run.lab[k].a * run.lab[k].a + run.lab[k].b * run.lab[k].b);
        }
        convertRun(run);
        for (int k = 0; k < run.n; ++k)
            output[i + k] = quint8(run.hue << 4 | run.luminances[run.hue][k]);
        hues[Geometry::kSegmentsPerPair * pair + s] = quint8(run.hue << 4);
        i += run.n;
    }
}

// Screening: for one pixel (x, its chroma chroma1) and each hue, lower bounds of the differences to the
// hue's luminances (roots, before safety margins) with weights that hold for the whole hue or each
// luminance, and their lowest with safety margins, a lower bound of the pixel's best difference
// within that hue.
CIEDE2000_BOUNDS_CLONES
void BestConverter::screenPixel(const Lab &x, double chroma1, float (*screen)[kLevels], double *hueBound) const
{
    const float xl = float(x.L);
    const float xa = float(x.a);
    const float xb = float(x.b);
    const float xc = float(chroma1);
    // Against a grey, dH' and with it the rotation term are 0.
    const bool grey = x.a == 0.0 && x.b == 0.0;
    float arcLow[kRotationSteps] = {};
    float arcHigh[kRotationSteps] = {};
    if (!grey) {
        const HueRange range(x.a, x.b);
        for (int step = 1; step < kRotationSteps; ++step) {
            double low = kInfinity;
            double high = -kInfinity;
            const bool onArc = onRotationArc(range, step, &low, &high);
            arcFloats(onArc, low, high, &arcLow[step], &arcHigh[step]);
        }
    }
    const ArcTest arcTest(grey, arcLow, arcHigh);

    // The weights, for all hues at once.
    alignas(16) float stretch[kLevels];
    alignas(16) float rotation[kLevels];
    alignas(16) float scSlope[kLevels];
    alignas(16) float gHigh[kLevels];
    for (int h = 0; h < kLevels; ++h) {
        float compressionHigh = 0.0f;
        screeningWeights(xc, hueMinChroma[h], hueMaxChroma[h], &stretch[h], &compressionHigh, &scSlope[h], &gHigh[h]);
        rotation[h] = rotationBound(compressionHigh, arcTest.sinRotation(hueArcLow, hueArcHigh, h));
    }

    for (int h = 0; h < kLevels; ++h) {
        float *hueScreen = screen[h];
        for (int l = 0; l < kLevels; ++l)
            hueScreen[l] = screenRootPlain(xl, xa, xb, xc, hueL[h][l], hueA[h][l], hueB[h][l], hueC[h][l], stretch[h],
                                           rotation[h], scSlope[h]);
        // The lowest in four interleaved lanes, which vectorise.
        float lanes[4] = {hueScreen[0], hueScreen[1], hueScreen[2], hueScreen[3]};
        for (int l = 4; l < kLevels; l += 4)
            for (int j = 0; j < 4; ++j)
                lanes[j] = lanes[j] < hueScreen[l + j] ? lanes[j] : hueScreen[l + j];
        hueBound[h] = floatBound(std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3])));
    }
}

// The hue and luminances of one run: screening for every pixel and hue, then the hues by ascending sum
// of bounds, refined and computed exactly only while they can still win.
void BestConverter::convertRun(Run &run) const
{
    std::fill(&run.nearDone[0][0], &run.nearDone[0][0] + kLongestRun * kLevels, quint8(0));
    double hueSum[kLevels] = {};
    for (int k = 0; k < run.n; ++k) {
        const Lab &x = run.lab[k];
        if (k > 0 && run.rgb[k] == run.rgb[k - 1]) {
            std::copy(&run.screen[k - 1][0][0], &run.screen[k - 1][0][0] + kLevels * kLevels, &run.screen[k][0][0]);
            std::copy(run.hueBound[k - 1], run.hueBound[k - 1] + kLevels, run.hueBound[k]);
        } else {
            screenPixel(x, run.chroma[k], run.screen[k], run.hueBound[k]);
        }
        for (int h = 0; h < kLevels; ++h)
            hueSum[h] += run.hueBound[k][h];
    }

    // Hues in order of their bound, so that the likely winner sets the bar early.
    int order[kLevels];
    for (int h = 0; h < kLevels; ++h) {
        int i = h;
        for (; i > 0 && hueSum[order[i - 1]] > hueSum[h]; --i)
            order[i] = order[i - 1];
        order[i] = h;
    }

    double best = kInfinity;
    int bestHue = 0;
    for (int h : order) {
        if (hueSum[h] > best)
            break;
        // Once a sum stands, refine the bounds first: most hues fail on them without exact values.
        double bound[kLongestRun];
        bool hopeless = false;
        double partial = 0.0;
        double screenRest = hueSum[h];
        for (int k = 0; k < run.n && !hopeless; ++k) {
            screenRest -= run.hueBound[k][h];
            if (best == kInfinity)
                bound[k] = run.hueBound[k][h];
            else if (k > 0 && run.rgb[k] == run.rgb[k - 1])
                bound[k] = bound[k - 1];
            else
                bound[k] = lowestBound(run, k, h);
            partial += bound[k];
            hopeless = partial + screenRest * (1.0 - kFloatRelative) > best;
        }
        if (hopeless)
            continue;
        double rest[kLongestRun + 1];
        rest[run.n] = 0.0;
        for (int k = run.n - 1; k >= 0; --k)
            rest[k] = rest[k + 1] + bound[k];
        double sum = 0.0;
        bool complete = true;
        double difference = 0.0;
        for (int k = 0; k < run.n; ++k) {
            if (k > 0 && run.rgb[k] == run.rgb[k - 1])
                run.luminances[h][k] = run.luminances[h][k - 1];
            else
                lowestDifference(run, k, h, &difference, &run.luminances[h][k]);
            sum += difference;
            if (sum + rest[k + 1] > best) {
                complete = false;
                break;
            }
        }
        if (complete && (sum < best || (sum == best && h < bestHue))) {
            best = sum;
            bestHue = h;
        }
    }
    run.hue = quint8(bestHue);
}

// The near bounds (nearBound) between a pixel (x, its chroma chroma1) and a group of luminances of a
// hue, as roots before safety margins; the group is computed as one vector.
CIEDE2000_BOUNDS_CLONES
void BestConverter::nearGroup(const Lab &x, double chroma1, int hue, int group, float *near) const
{
    const float xl = float(x.L);
    const float xa = float(x.a);
    const float xb = float(x.b);
    const float c1 = float(chroma1);
    const RotationTable &rotation = rotationTable();
    for (int l = group * kGroupSize; l < (group + 1) * kGroupSize; ++l)
        near[l] = nearBound(rotation, xl, xa, xb, c1, hueL[hue][l], hueA[hue][l], hueB[hue][l], hueC[hue][l]);
}

// The lowest screening value in a group of luminances.
float groupLowest(const float *screen, int group)
{
    const float *g = screen + group * kGroupSize;
    float lowest = g[0];
    for (int l = 1; l < kGroupSize; ++l)
        lowest = std::min(lowest, g[l]);
    return lowest;
}

// nearGroup for a run's pixel, remembered.
void BestConverter::nearBounds(Run &run, int pixel, int hue, int group) const
{
    run.nearDone[pixel][hue] = quint8(run.nearDone[pixel][hue] | 1u << group);
    nearGroup(run.lab[pixel], run.chroma[pixel], hue, group, run.near[pixel][hue]);
}

void BestConverter::differenceBounds(const Lab &x, double *bounds) const
{
    const double c1 = std::sqrt(x.a * x.a + x.b * x.b);
    float screen[kLevels][kLevels];
    double hueBound[kLevels];
    screenPixel(x, c1, screen, hueBound);
    for (int h = 0; h < kLevels; ++h) {
        float near[kLevels];
        for (int group = 0; group < kGroups; ++group)
            nearGroup(x, c1, h, group, near);
        for (int l = 0; l < kLevels; ++l)
            bounds[h * kLevels + l] = floatBound(std::max(screen[h][l], near[l]));
    }
}

// A lower bound of the lowest CIEDE2000 difference of a run's pixel to the luminances of one hue:
// the lowest over the luminances of the larger of their two bounds. Near bounds are computed for the
// group holding the lowest screening value, then for the groups whose lowest screening value is below
// the lowest so far; the lowest only falls, so the groups passed over cannot go below it.
double BestConverter::lowestBound(Run &run, int pixel, int hue) const
{
    const float *screen = run.screen[pixel][hue];
    const float *near = run.near[pixel][hue];
    const int start = lowestScreen(screen) / kGroupSize;
    float lowest = std::numeric_limits<float>::infinity();
    for (int i = 0; i < kGroups; ++i) {
        const int group = (start + i) % kGroups;
        if (!(run.nearDone[pixel][hue] >> group & 1u)) {
            if (groupLowest(screen, group) >= lowest)
                continue;
            nearBounds(run, pixel, hue, group);
        }
        for (int l = group * kGroupSize; l < (group + 1) * kGroupSize; ++l)
            lowest = std::min(lowest, std::max(screen[l], near[l]));
    }
    return floatBound(lowest);
}

// The lowest CIEDE2000 difference of a run's pixel to the luminances of one hue, and the lowest
// luminance reaching it. The candidate with the lowest bound goes first; the others are tried only
// when their bounds do not exceed the best difference so far (equal bounds are tried: they may tie
// with a lower luminance); a group's near bounds are computed only when a screening value in it does
// not exceed the best.
void BestConverter::lowestDifference(Run &run, int pixel, int hue, double *difference, quint8 *luminance) const
{
    const Lab &x = run.lab[pixel];
    const float *screen = run.screen[pixel][hue];
    const float *near = run.near[pixel][hue];
    if (run.nearDone[pixel][hue] == 0)
        nearBounds(run, pixel, hue, lowestScreen(screen) / kGroupSize);
    int first = -1;
    for (int l = 0; l < kLevels; ++l)
        if (run.nearDone[pixel][hue] >> (l / kGroupSize) & 1u
            && (first < 0 || std::max(screen[l], near[l]) < std::max(screen[first], near[first])))
            first = l;
    double best = ColourScience::deltaE2000(x, lab[hue * kLevels + first]);
    int bestLuminance = first;
    for (int l = 0; l < kLevels; ++l) {
        if (l == first || floatBound(screen[l]) > best)
            continue;
        if (!(run.nearDone[pixel][hue] >> (l / kGroupSize) & 1u))
            nearBounds(run, pixel, hue, l / kGroupSize);
        if (floatBound(std::max(screen[l], near[l])) > best)
            continue;
        const double d = ColourScience::deltaE2000(x, lab[hue * kLevels + l]);
        if (d < best || (d == best && l < bestLuminance)) {
            best = d;
            bestLuminance = l;
        }
    }
    *difference = best;
    *luminance = quint8(bestLuminance);
}
