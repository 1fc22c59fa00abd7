#include "bestconversion.h"

#include "atarigeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

using ColourScience::Lab;

namespace {

constexpr int kLevels = 16;                 // hues, and luminances per hue
constexpr int kLongestRun = 23;             // the longest hue segment, in Atari pixels
constexpr double kPow25To7 = 6103515625.0;  // 25^7, from CIEDE2000
constexpr double kSin60 = 0.86602540378443865; // largest |sin(2 * dTheta)|: dTheta is at most 30 degrees
// Largest value of CIEDE2000's hue weighting T: 1 + 0.17 + 0.24 + 0.32 + 0.20.
constexpr double kTMax = 1.93;

// Safety margins between a bound computed in float or double and the exact difference it bounds:
// relative, and absolute (in CIEDE2000 units) for rounding in differences of coordinates.
constexpr double kFloatRelative = 1e-5;
constexpr double kFloatAbsolute = 1e-3;
constexpr double kDoubleRelative = 1e-9;
constexpr double kDoubleAbsolute = 1e-4;

// Chroma step of the G and RC tables, and their length.
constexpr double kChromaStep = 0.25;
constexpr int kChromaSteps = 2048;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

double pow7(double x)
{
    const double x2 = x * x;
    const double x3 = x2 * x;
    return x3 * x3 * x;
}

// CIEDE2000's chroma compression sqrt(c^7 / (c^7 + 25^7)), 0 to below 1, increasing in c.
double compression(double c)
{
    const double c7 = pow7(c);
    return std::sqrt(c7 / (c7 + kPow25To7));
}

// CIEDE2000's lightness weighting SL at mean lightness lMean.
double lightnessWeight(double lMean)
{
    const double offset2 = (lMean - 50.0) * (lMean - 50.0);
    return 1.0 + 0.015 * offset2 / std::sqrt(20.0 + offset2);
}

// compression(c) at chroma steps, c = i * kChromaStep.
const double *compressionTable()
{
    static const struct Table {
        double v[kChromaSteps + 1];
        Table()
        {
            for (int i = 0; i <= kChromaSteps; ++i)
                v[i] = compression(i * kChromaStep);
        }
    } table;
    return table.v;
}

// Upper bound of compression at every chroma up to c (it increases with chroma); 1 beyond the table.
double compressionAtMost(double c)
{
    const double steps = std::ceil(c / kChromaStep);
    return steps <= kChromaSteps ? compressionTable()[int(steps)] : 1.0;
}

// Lower bound of compression at every chroma from c on.
double compressionAtLeast(double c)
{
    const double steps = std::floor(c / kChromaStep);
    return compressionTable()[int(std::min(steps, double(kChromaSteps)))];
}

// Step and length of the table of 1 / SL by distance of the mean lightness from 50.
constexpr double kLightnessStep = 0.125;
constexpr int kLightnessSteps = 512;

// 1 / SL at distances i * kLightnessStep from 50; SL grows with the distance.
const double *inverseLightnessTable()
{
    static const struct Table {
        double v[kLightnessSteps + 1];
        Table()
        {
            for (int i = 0; i <= kLightnessSteps; ++i)
                v[i] = 1.0 / lightnessWeight(50.0 + i * kLightnessStep);
        }
    } table;
    return table.v;
}

// Lower bound of 1 / SL at mean lightness lMean (any value).
double inverseLightnessAtLeast(double lMean)
{
    const double steps = std::ceil(std::fabs(lMean - 50.0) / kLightnessStep);
    return steps <= kLightnessSteps ? inverseLightnessTable()[int(steps)] : 1.0 / lightnessWeight(lMean);
}

double floatBound(float squared)
{
    return std::sqrt(double(squared)) * (1.0 - kFloatRelative) - kFloatAbsolute;
}

double doubleBound(double value)
{
    return value * (1.0 - kDoubleRelative) - kDoubleAbsolute;
}

// A lower bound of CIEDE2000(x, y) (before safety margins) from everything but the hue angles.
// With a' = (1 + G) a, dC'^2 + dH'^2 = da'^2 + db^2; SH <= 1 + 0.015 C' kTMax; and the rotation
// term RT * (dC'/SC) * (dH'/SH) is at least -|RT| |dC'/SC| |dH'/SH| with |RT| <= RC * kSin60.
double tightBound(const Lab &x, double c1, const Lab &y, double c2)
{
    const double g = 0.5 * (1.0 - compression((c1 + c2) * 0.5));
    const double a1 = (1.0 + g) * x.a;
    const double a2 = (1.0 + g) * y.a;
    const double c1p = std::sqrt(a1 * a1 + x.b * x.b);
    const double c2p = std::sqrt(a2 * a2 + y.b * y.b);
    const double dCp = c2p - c1p;
    const double dab2 = (a2 - a1) * (a2 - a1) + (y.b - x.b) * (y.b - x.b);
    const double dHp = std::sqrt(std::max(0.0, dab2 - dCp * dCp));
    const double cpMean = (c1p + c2p) * 0.5;
    const double sc = 1.0 + 0.045 * cpMean;
    const double shMax = 1.0 + 0.015 * cpMean * kTMax;
    const double rtMax = 2.0 * compressionAtMost(cpMean) * kSin60;
    const double cTerm = std::fabs(dCp) / sc;
    const double hLow = dHp / shMax;
    const double chroma2 = hLow >= rtMax * cTerm * 0.5
        ? hLow * hLow - rtMax * cTerm * hLow + cTerm * cTerm
        : cTerm * cTerm * (1.0 - rtMax * rtMax * 0.25);
    const double lTerm = (y.L - x.L) * inverseLightnessAtLeast((x.L + y.L) * 0.5);
    return std::sqrt(lTerm * lTerm + std::max(0.0, chroma2));
}

// The untried luminance (bit l of tried clear) with the lowest screening bound; one must remain.
int nextCandidate(const float *screen, quint32 tried)
{
    int next = -1;
    for (int l = 0; l < kLevels; ++l)
        if (!(tried >> l & 1u) && (next < 0 || screen[l] < screen[next]))
            next = l;
    return next;
}

} // namespace

// One hue segment being converted: its pixels and, per pixel, hue and luminance, the squared
// screening bounds, then the chosen luminances.
struct BestConverter::Run {
    int n = 0;
    quint32 rgb[kLongestRun];
    Lab lab[kLongestRun];
    double chroma[kLongestRun];
    alignas(16) float screen[kLongestRun][kLevels][kLevels];
    double hueBound[kLongestRun][kLevels];
    quint8 luminances[kLevels][kLongestRun];
    quint8 hue = 0;
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
        hueMinL[h] = hueMinChroma[h] = kInfinity;
        hueMaxL[h] = hueMaxChroma[h] = -kInfinity;
        for (int l = 0; l < kLevels; ++l) {
            const int i = h * kLevels + l;
            hueL[h][l] = float(lab[i].L);
            hueA[h][l] = float(lab[i].a);
            hueB[h][l] = float(lab[i].b);
            hueMinL[h] = std::min(hueMinL[h], lab[i].L);
            hueMaxL[h] = std::max(hueMaxL[h], lab[i].L);
            hueMinChroma[h] = std::min(hueMinChroma[h], chroma[i]);
            hueMaxChroma[h] = std::max(hueMaxChroma[h], chroma[i]);
        }
    }
}

void BestConverter::convert(const quint32 *averaged, double chromaFactor, quint8 *output, quint8 *hues) const
{
    Run run;
    int i = 0;
    for (int p = 0; p < Geometry::kLinePairs; ++p) {
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
            hues[Geometry::kSegmentsPerPair * p + s] = quint8(run.hue << 4);
            i += run.n;
        }
    }
}

// Screening: for each pixel and hue, a lower bound of the difference to each of the hue's
// luminances, with weights that hold for the whole hue; their minimum bounds the pixel's best
// difference within that hue.
void BestConverter::convertRun(Run &run) const
{
    double hueSum[kLevels] = {};
    for (int k = 0; k < run.n; ++k) {
        const Lab &x = run.lab[k];
        if (k > 0 && run.rgb[k] == run.rgb[k - 1]) {
            std::copy(&run.screen[k - 1][0][0], &run.screen[k - 1][0][0] + kLevels * kLevels, &run.screen[k][0][0]);
            std::copy(run.hueBound[k - 1], run.hueBound[k - 1] + kLevels, run.hueBound[k]);
        } else {
            const float xl = float(x.L);
            const float xa = float(x.a);
            const float xb = float(x.b);
            for (int h = 0; h < kLevels; ++h) {
                const double farthest = std::max(std::fabs(x.L + hueMinL[h] - 100.0), std::fabs(x.L + hueMaxL[h] - 100.0));
                const double sl = lightnessWeight(50.0 + farthest * 0.5);
                const double cMeanLow = (run.chroma[k] + hueMinChroma[h]) * 0.5;
                const double cMeanHigh = (run.chroma[k] + hueMaxChroma[h]) * 0.5;
                const double gHigh = 0.5 * (1.0 - compressionAtLeast(cMeanLow));
                const double gLow = 0.5 * (1.0 - compressionAtMost(cMeanHigh));
                const double cpHigh = (1.0 + gHigh) * cMeanHigh;
                const double kappa = 1.0 - compressionAtMost(cpHigh) * kSin60;
                const double sc = 1.0 + 0.045 * cpHigh;
                const float wl = float(1.0 / (sl * sl));
                const float wb = float(kappa / (sc * sc));
                const float wa = float(kappa * (1.0 + gLow) * (1.0 + gLow) / (sc * sc));
                float *screen = run.screen[k][h];
                float lowest = std::numeric_limits<float>::infinity();
                for (int l = 0; l < kLevels; ++l) {
                    const float dl = hueL[h][l] - xl;
                    const float da = hueA[h][l] - xa;
                    const float db = hueB[h][l] - xb;
                    screen[l] = wl * dl * dl + wa * da * da + wb * db * db;
                    lowest = std::min(lowest, screen[l]);
                }
                run.hueBound[k][h] = floatBound(lowest);
            }
        }
        for (int h = 0; h < kLevels; ++h)
            hueSum[h] += run.hueBound[k][h];
    }

    // Hues in order of their bound, so that the likely winner sets the bar early.
    int order[kLevels];
    for (int h = 0; h < kLevels; ++h)
        order[h] = h;
    std::stable_sort(order, order + kLevels, [&](int p, int q) { return hueSum[p] < hueSum[q]; });

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

// A lower bound of the lowest CIEDE2000 difference of a run's pixel to the luminances of one hue:
// the lowest of the tighter bounds, trying luminances by ascending screening bound.
double BestConverter::lowestBound(const Run &run, int pixel, int hue) const
{
    const float *screen = run.screen[pixel][hue];
    double lowest = kInfinity;
    quint32 tried = 0;
    for (int attempt = 0; attempt < kLevels; ++attempt) {
        const int next = nextCandidate(screen, tried);
        const double screened = floatBound(screen[next]);
        if (screened >= lowest)
            break;
        tried |= 1u << next;
        const int index = hue * kLevels + next;
        const double tight = doubleBound(tightBound(run.lab[pixel], run.chroma[pixel], lab[index], chroma[index]));
        lowest = std::min(lowest, std::max(screened, tight));
    }
    return lowest;
}

// The lowest CIEDE2000 difference of a run's pixel to the luminances of one hue, and the lowest
// luminance reaching it. Candidates are tried by ascending screening bound and skipped once a
// bound exceeds the best difference found; the tighter bound skips more before the exact value.
void BestConverter::lowestDifference(const Run &run, int pixel, int hue, double *difference, quint8 *luminance) const
{
    const float *screen = run.screen[pixel][hue];
    const Lab &x = run.lab[pixel];
    double best = kInfinity;
    int bestLuminance = kLevels;
    quint32 tried = 0;
    for (int attempt = 0; attempt < kLevels; ++attempt) {
        const int next = nextCandidate(screen, tried);
        if (floatBound(screen[next]) > best)
            break;
        tried |= 1u << next;
        const int index = hue * kLevels + next;
        if (doubleBound(tightBound(x, run.chroma[pixel], lab[index], chroma[index])) > best)
            continue;
        const double d = ColourScience::deltaE2000(x, lab[index]);
        if (d < best || (d == best && next < bestLuminance)) {
            best = d;
            bestLuminance = next;
        }
    }
    *difference = best;
    *luminance = quint8(bestLuminance);
}
