#include "bestconversion.h"
#include "rotationarc.h"

#include "atarigeometry.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

using ColourScience::Lab;
using namespace ColourScience::Ciede2000;
using namespace RotationArc;

namespace {

constexpr int kLevels = 16;                 // hues, and luminances per hue
constexpr int kLongestRun = 23;             // the longest hue segment, in Atari pixels
// Largest value of CIEDE2000's hue weighting T: 1 + 0.17 + 0.24 + 0.32 + 0.20.
constexpr double kTMax = 1.93;

// Safety margins between a bound computed in float and the exact difference it bounds: relative, and
// absolute (in CIEDE2000 units) for rounding in differences of coordinates.
constexpr double kFloatRelative = 1e-5;
constexpr double kFloatAbsolute = 1e-3;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// CIEDE2000's chroma compression sqrt(c^7 / (c^7 + 25^7)), 0 to below 1, increasing in c, in float.
float compression(float c)
{
    const float c7 = c * c * c * c * c * c * c;
    return std::sqrt(c7 / (c7 + float(kPow25To7)));
}

// A screening value (a lower bound of CIEDE2000 computed in float) with safety margins.
double floatBound(float root)
{
    return double(root) * (1.0 - kFloatRelative) - kFloatAbsolute;
}

// Luminances whose near bounds are computed together: kGroups groups of kGroupSize.
constexpr int kGroupSize = 4;
constexpr int kGroups = kLevels / kGroupSize;

constexpr double kCos275 = 0.08715574274765789;
constexpr double kSin275 = -0.9961946980917455;
// Below this length of u1 + u2 (the unit hue vectors) the mean hue is taken as unknown.
constexpr double kShortBisector = 1e-3;

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
    static_assert(BestConverter::kRotationSteps == RotationArc::kRotationSteps, "one count of rotation steps");
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
    // Line pairs are independent: the calling thread and its helpers take the next unconverted pair
    // until none is left. Each writes only its own pairs' outputs, so the result is the same whichever
    // thread converts which pair.
    std::atomic<int> nextPair{0};
    const auto work = [&] {
        Run run;
        for (int p = nextPair++; p < Geometry::kLinePairs; p = nextPair++)
            convertPair(run, p, averaged, chromaFactor, output, hues);
    };
    // A helper that runs out of memory must not end the program: it stops, and the calling thread
    // reports the shortage once every helper has ended.
    std::atomic<bool> helperShort{false};
    const auto help = [&] {
        try {
            work();
        } catch (const std::bad_alloc &) {
            helperShort = true;
        }
    };
    std::vector<std::thread> helpers;
    const int wanted = std::min(threads, Geometry::kLinePairs) - 1;
    helpers.reserve(size_t(std::max(0, wanted)));
    for (int i = 0; i < wanted; ++i) {
        try {
            helpers.emplace_back(help);
        } catch (const std::system_error &) {
            break; // no further thread to be had: the threads started share the pairs
        }
    }
    try {
        work();
    } catch (const std::bad_alloc &) {
        nextPair = Geometry::kLinePairs; // the helpers take no further pair
        for (std::thread &helper : helpers)
            helper.join();
        throw;
    }
    for (std::thread &helper : helpers)
        helper.join();
    if (helperShort)
        throw std::bad_alloc();
}

void BestConverter::convertPair(Run &run, int pair, const quint32 *averaged, double chromaFactor, quint8 *output,
                                quint8 *hues) const
{
    int i = pair * (Geometry::kAtariPixels / Geometry::kLinePairs);
    for (int s = 0; s < Geometry::kSegmentsPerPair; ++s) {
        run.n = Geometry::kSegmentLengths[s];
        for (int k = 0; k < run.n; ++k) {
            run.rgb[k] = averaged[i + k] & 0xFFFFFFu;
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
    const float *sinRotationSteps = rotationTable().sinRotation;

    // The weights, for all hues at once.
    alignas(16) float wa[kLevels];
    alignas(16) float wb[kLevels];
    alignas(16) float scSlope[kLevels];
    for (int h = 0; h < kLevels; ++h) {
        // The largest |sin(2 dTheta)|: if the pixel's and the hue's colours all lie on the arc of hues a
        // number of steps from 275 degrees, less than 180 degrees apart along it, the mean hue of any
        // pair lies on the arc between them.
        float sinRotation = grey ? 0.0f : sinRotationSteps[0];
        for (int step = 1; step < kRotationSteps; ++step) {
            const bool near = (arcHigh[step] - hueArcLow[step][h] < 180.0f - kArcMarginF)
                & (hueArcHigh[step][h] - arcLow[step] < 180.0f - kArcMarginF);
            sinRotation = std::min(sinRotation, near ? sinRotationSteps[step] : 1.0f);
        }
        // G = (1 - compression(mean chroma)) / 2 falls with the mean chroma; C' <= (1 + G) C.
        const float cMeanLow = (xc + hueMinChroma[h]) * 0.5f;
        const float cMeanHigh = (xc + hueMaxChroma[h]) * 0.5f;
        const float gHigh = 0.5f * (1.0f - compression(cMeanLow));
        const float gLow = 0.5f * (1.0f - compression(cMeanHigh));
        const float cpHigh = (1.0f + gHigh) * cMeanHigh;
        // RT (dC'/SC) (dH'/SH) >= -|RT| ((dC'/SC)^2 + (dH'/SH)^2) / 2, |RT| <= RC |sin(2 dTheta)|, and
        // (dC'/SC)^2 + (dH'/SH)^2 >= (da'^2 + db^2) / SC^2 as SH <= SC.
        const float kappa = 1.0f - compression(cpHigh) * sinRotation;
        wb[h] = kappa;
        wa[h] = kappa * (1.0f + gLow) * (1.0f + gLow);
        // SC = 1 + 0.045 C'mean <= 1 + 0.0225 (1 + G) (C1 + C2).
        scSlope[h] = 0.0225f * (1.0f + gHigh);
    }

    for (int h = 0; h < kLevels; ++h) {
        float *hueScreen = screen[h];
        for (int l = 0; l < kLevels; ++l) {
            const float dl = hueL[h][l] - xl;
            // SL = 1 + 0.015 o^2 / sqrt(20 + o^2) <= 1 + 0.015 |o|, o the mean lightness less 50.
            const float sl = 1.0f + 0.0075f * std::fabs(hueL[h][l] + xl - 100.0f);
            const float sc = 1.0f + scSlope[h] * (xc + hueC[h][l]);
            const float da = hueA[h][l] - xa;
            const float db = hueB[h][l] - xb;
            hueScreen[l] = std::sqrt(dl * dl / (sl * sl) + (wa[h] * da * da + wb[h] * db * db) / (sc * sc));
        }
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

// Lower bounds of CIEDE2000 between a pixel (x, its chroma chroma1) and a group of luminances of a
// hue, as roots before safety margins. Everything but the rotation term is computed as CIEDE2000
// defines it (SH included: the mean hue's cosine and sine come from the bisector of the unit hue
// vectors, T from multiple-angle identities); the rotation term RT (dC'/SC) (dH'/SH) is at least
// -|RT| |dC'/SC| |dH'/SH|, with |RT| <= RC |sin(2 dTheta)| and dTheta at most its value at the mean
// hue's circular distance from 275 degrees (it falls with that distance, and the true distance
// |h' - 275| is at least the circular one). In float, one group at a time: every branch is a
// selection, so the group is computed as one vector.
void BestConverter::nearGroup(const Lab &x, double chroma1, int hue, int group, float *near) const
{
    const RotationTable &rotation = rotationTable();
    const float *cosDistance = rotation.cosDistance;
    const float *sinRotation = rotation.sinRotation;
    const float xl = float(x.L);
    const float xa = float(x.a);
    const float xb = float(x.b);
    const float c1 = float(chroma1);
    const float pow25To7 = float(kPow25To7);
    for (int l = group * kGroupSize; l < (group + 1) * kGroupSize; ++l) {
        const float yl = hueL[hue][l];
        const float ya = hueA[hue][l];
        const float yb = hueB[hue][l];
        const float cMean = (c1 + hueC[hue][l]) * 0.5f;
        const float cMean7 = cMean * cMean * cMean * cMean * cMean * cMean * cMean;
        const float g = 0.5f * (1.0f - std::sqrt(cMean7 / (cMean7 + pow25To7)));
        const float a1 = (1.0f + g) * xa;
        const float a2 = (1.0f + g) * ya;
        const float c1p = std::sqrt(a1 * a1 + xb * xb);
        const float c2p = std::sqrt(a2 * a2 + yb * yb);
        const float cpMean = (c1p + c2p) * 0.5f;
        const float cTerm = (c2p - c1p) / (1.0f + 0.045f * cpMean);
        const float offset = (xl + yl) * 0.5f - 50.0f;
        const float o2 = offset * offset;
        const float lTerm = (yl - xl) / (1.0f + 0.015f * o2 / std::sqrt(20.0f + o2));
        // Unit hue vectors (for a grey, 0 and dH' = 0; below 1e-30 dH' is far below the margins).
        const float inverse1 = 1.0f / std::max(c1p, 1e-30f);
        const float inverse2 = 1.0f / std::max(c2p, 1e-30f);
        const float u1a = a1 * inverse1;
        const float u1b = xb * inverse1;
        const float u2a = a2 * inverse2;
        const float u2b = yb * inverse2;
        const float chord = std::sqrt((u2a - u1a) * (u2a - u1a) + (u2b - u1b) * (u2b - u1b));
        const float dHp = std::sqrt(c1p * c2p) * chord;
        const float sa = u1a + u2a;
        const float sb = u1b + u2b;
        const float length = std::sqrt(sa * sa + sb * sb);
        // 1 where the mean hue is known, 0 where the hues are too nearly opposite.
        const float known = float(length >= float(kShortBisector));
        const float inverseLength = 1.0f / std::max(length, float(kShortBisector));
        const float c = sa * inverseLength;
        const float s = sb * inverseLength;
        const float t = hueWeighting(c, s);
        // The rotation step reached: the number of step cosines the distance's cosine is at most.
        // Float rounding in u1 + u2 turns the mean hue by up to about 1e-6 / length radians, and T changes by
        // at most 2.41 per radian: both T and the cosine of the distance to blue get a margin of 1e-5 / length.
        const float slack = 1e-5f * inverseLength;
        const float cosToBlue = c * float(kCos275) + s * float(kSin275) + slack;
        float sinRot = sinRotation[0];
#pragma GCC unroll 8
        for (int step = 1; step < kRotationSteps; ++step)
            sinRot = std::min(sinRot, sinRotation[step] + float(cosToBlue > cosDistance[step]) * 2.0f);
        sinRot = known * sinRot + (1.0f - known) * sinRotation[0];
        const float hTerm = dHp / (1.0f + 0.015f * cpMean * (known * (t + slack) + (1.0f - known) * float(kTMax)));
        const float cpMean7 = cpMean * cpMean * cpMean * cpMean * cpMean * cpMean * cpMean;
        const float rtMax = 2.0f * std::sqrt(cpMean7 / (cpMean7 + pow25To7)) * sinRot;
        // Why this is a lower bound: with h = |dH'/SH|, the chroma part cT^2 + h^2 + RT cT dH'/SH is at least
        // q(h) = cT^2 + h^2 - rtMax |cT| h, and h is only known to be at least hTerm (T taken at or above its
        // true value). q falls until its vertex h = rtMax |cT| / 2 and rises after it, so its lowest value
        // over h >= hTerm is at max(hTerm, vertex); q(hTerm) alone exceeds it when hTerm lies below the
        // vertex. As rtMax < 2 sin 60 degrees, q >= (1 - rtMax / 2) (cT^2 + h^2): rounding stays relative.
        const float absC = std::fabs(cTerm);
        const float h = std::max(hTerm, 0.5f * rtMax * absC);
        const float chroma2 = cTerm * cTerm + h * h - rtMax * absC * h;
        near[l] = std::sqrt(lTerm * lTerm + std::max(chroma2, 0.0f));
    }
}

// The lowest screening value in a group of luminances.
float groupLowest(const float *screen, int group)
{
    const float *g = screen + group * kGroupSize;
    return std::min(std::min(g[0], g[1]), std::min(g[2], g[3]));
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
