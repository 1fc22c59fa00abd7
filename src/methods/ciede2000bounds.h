#ifndef CIEDE2000BOUNDS_H
#define CIEDE2000BOUNDS_H

#include "colourscience.h"

#include <algorithm>
#include <cmath>

// Lower bounds of CIEDE2000 computed in float, as the best and the two-frame conversions use them to
// pass over candidates that cannot win: their safety margins, the screening bound's weights, the
// near bound, and the arc of mean hues near 275 degrees where the rotation term can be large.
// The bounds below are computed inside loops that vectorise only when they are inlined.
#if defined(__GNUC__)
#define CIEDE2000_BOUNDS_INLINE inline __attribute__((always_inline))
#define CIEDE2000_BOUNDS_LAMBDA_INLINE __attribute__((always_inline))
#else
#define CIEDE2000_BOUNDS_INLINE inline
#define CIEDE2000_BOUNDS_LAMBDA_INLINE
#endif

// The loops that compute the bounds, compiled twice where the compiler can choose between versions as
// the program starts: for processors with AVX2 (eight floats at a time) and for any x86-64. The two
// give the same values (the same operations, rounded the same, without fused multiply-adds), so the
// results never depend on the processor. Sanitizer builds keep the one version, which every processor
// can run, so that their checks cover it.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(__SANITIZE_ADDRESS__)              \
    && !defined(__SANITIZE_UNDEFINED__)
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define CIEDE2000_BOUNDS_NO_CLONES
#endif
#endif
#if !defined(CIEDE2000_BOUNDS_NO_CLONES)
#define CIEDE2000_BOUNDS_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#if !defined(CIEDE2000_BOUNDS_CLONES)
#define CIEDE2000_BOUNDS_CLONES
#endif

namespace Ciede2000Bounds {

using ColourScience::Ciede2000::kPi;
using ColourScience::Ciede2000::kPow25To7;

// Safety margins between a bound computed in float and the exact difference it bounds: relative, and
// absolute (in CIEDE2000 units) for rounding coordinates to float (below 1e-5 for values below 256, so
// distances move by less than 2e-5 even with weights up to 2.25).
inline constexpr double kFloatRelative = 1e-5;
inline constexpr double kFloatAbsolute = 1e-3;

// A bound computed in float (a root, before margins) with the safety margins.
CIEDE2000_BOUNDS_INLINE double floatBound(float root)
{
    return double(root) * (1.0 - kFloatRelative) - kFloatAbsolute;
}

// A root above which every bound exceeds `limit` (floatBound(root) > limit): at or above the root whose
// bound is limit, so that roots are compared with it in float without passing over any bound that
// does not exceed the limit (the margins dwarf the rounding of the comparison).
inline float rootLimit(double limit)
{
    return std::nextafter(float((limit + kFloatAbsolute) / (1.0 - kFloatRelative)), 3.0e38f);
}

// CIEDE2000's chroma compression sqrt(c^7 / (c^7 + 25^7)), 0 to below 1, increasing in c, in float.
CIEDE2000_BOUNDS_INLINE float compression(float c)
{
    const float c7 = c * c * c * c * c * c * c;
    return std::sqrt(c7 / (c7 + float(kPow25To7)));
}

// Steps of the bound on CIEDE2000's rotation angle dTheta = 30 exp(-((h' - 275) / 25)^2) degrees,
// by the circular distance of the mean hue h' from 275 degrees.
inline constexpr int kRotationSteps = 7;
inline constexpr double kRotationStep = 15.0; // degrees
// Rounding margins for positions on the rotation arc, in degrees: computed in double, compared in float
// (where rounding the positions and their differences moves them by less than 1e-4).
inline constexpr double kArcMargin = 1e-6;
inline constexpr float kArcMarginF = 1e-3f;
// Far beyond any position or chroma.
inline constexpr float kFloatHuge = 1e9f;

// For distances of at least i * kRotationStep: the cosine of that distance, and sin(2 dTheta) at that
// distance, the largest |sin(2 dTheta)| from there on (dTheta falls with the distance and stays below
// 45 degrees); in float, with margins towards the safe side (a lower cosine, a higher sine).
struct RotationTable {
    float cosDistance[kRotationSteps];
    float sinRotation[kRotationSteps];
    RotationTable()
    {
        for (int i = 0; i < kRotationSteps; ++i) {
            const double distance = i * kRotationStep;
            const double dTheta = 30.0 * std::exp(-(distance / 25.0) * (distance / 25.0));
            cosDistance[i] = std::nextafter(float(std::cos(distance * kPi / 180.0) - 1e-9), -2.0f);
            sinRotation[i] = std::nextafter(float(std::sin(2.0 * dTheta * kPi / 180.0) * (1.0 + 1e-9) + 1e-12), 2.0f);
        }
    }
};

inline const RotationTable &rotationTable()
{
    static const RotationTable table;
    return table;
}

// Hue angle in degrees (0 to below 360) of (a, b).
inline double angleDegrees(double a, double b)
{
    const double h = std::atan2(b, a) * (180.0 / kPi);
    return h < 0.0 ? h + 360.0 : h;
}

// The extremes of a colour's CIEDE2000 hue angle h' = angle((1 + G) a, b) over G from 0 to 0.5, for
// (a, b) not grey, in degrees: h' moves monotonically within one quadrant as G grows.
struct HueRange {
    double p;
    double q;
    explicit HueRange(double a, double b) : p(angleDegrees(a, b)), q(angleDegrees(1.5 * a, b)) {}
};

// Position of angle h (0 to below 360 degrees) along the arc starting at `start` (275 to 365 degrees).
inline double arcPosition(double h, double start)
{
    const double t = h - start;
    return t >= 0.0 ? t : (t >= -360.0 ? t + 360.0 : t + 720.0);
}

// Whether a hue range lies on the arc of hues at least `step` rotation steps from 275 degrees; if so
// its positions along the arc widen [low, high]. The range is on the arc when both extremes are and
// they are less than 180 degrees apart along it (then the short way between them stays on the arc).
inline bool onRotationArc(const HueRange &range, int step, double *low, double *high)
{
    const double start = 275.0 + step * kRotationStep;
    const double length = 360.0 - 2.0 * step * kRotationStep;
    const double p = arcPosition(range.p, start);
    const double q = arcPosition(range.q, start);
    if (std::min(p, q) < kArcMargin || std::max(p, q) > length - kArcMargin || std::fabs(p - q) >= 180.0 - kArcMargin)
        return false;
    *low = std::min(*low, std::min(p, q));
    *high = std::max(*high, std::max(p, q));
    return true;
}

// An arc range [low, high] in float (positions below 360 degrees round by less than 3e-5, well within
// kArcMarginF); off the arc, a range so wide that no test of it passes.
inline void arcFloats(bool onArc, double low, double high, float *lowF, float *highF)
{
    *lowF = onArc ? float(low) : -kFloatHuge;
    *highF = onArc ? float(high) : kFloatHuge;
}

// The largest value of CIEDE2000's hue weighting T over all hues, rounded up: T reaches 1.57247 near
// 234 degrees (kTMax below is the sum of its terms' amplitudes).
inline constexpr float kTHighest = 1.5730f;
// Beyond the rounding of chroma and of the bound on dC' in float (below 5e-5).
inline constexpr float kChromaMargin = 1e-4f;

// The weights of the screening bound of a colour (chroma xc) against a set of colours whose chroma lies
// from minChroma to maxChroma (screenRoot). With c = |dC'| / SC and h = |dH'| / SH:
//   deltaE2000^2 = dL^2 / SL^2 + c^2 + h^2 + RT c h (up to the sign of RT's product), where
//   SL <= 1 + 0.0075 |L1 + L2 - 100| (SL = 1 + 0.015 o^2 / sqrt(20 + o^2) <= 1 + 0.015 |o|, o the mean
//   L* less 50), and
//   c^2 + h^2 >= S = min(P, Q) / SC^2 + max(P - Q, 0) / SH^2, with P = stretch da^2 + db^2 and
//   Q = (|C1 - C2| + gHigh max(C1, C2))^2, SC <= 1 + scSlope (C1 + C2), SH <= 1 + scSlope kTHighest / 3
//   (C1 + C2).
// Why: dC'^2 + dH'^2 = ((1 + G) da)^2 + db^2 (the distance of the two colours in the a'b' plane), at
// least P. G = (1 - compression(mean chroma)) / 2 falls with the mean chroma, so lies between gLow and
// gHigh; C <= C' <= (1 + G) C, so |dC'| <= |C1 - C2| + G max(C1, C2), whose square is at most Q;
// C'mean <= cpHigh, so SC = 1 + 0.045 C'mean <= 1 + 0.0225 (1 + gHigh) (C1 + C2), and SH = 1 +
// 0.015 C'mean T is at most that with 0.045 replaced by 0.015 kTHighest, below SC. As 1 / SC^2 <=
// 1 / SH^2, c^2 + h^2 is least when dC' takes as much of the distance as it can.
// The rotation term: |RT| = RC |sin(2 dTheta)| <= 2 rotation with RC = 2 compression(C'mean) <=
// 2 compressionHigh (rotationBound). Free of branches, so that a loop over sets vectorises.
CIEDE2000_BOUNDS_INLINE void screeningWeights(float xc, float minChroma, float maxChroma, float *stretch,
                                              float *compressionHigh, float *scSlope, float *gHighest)
{
    const float cMeanLow = (xc + minChroma) * 0.5f;
    const float cMeanHigh = (xc + maxChroma) * 0.5f;
    const float gHigh = 0.5f * (1.0f - compression(cMeanLow));
    const float gLow = 0.5f * (1.0f - compression(cMeanHigh));
    const float cpHigh = (1.0f + gHigh) * cMeanHigh;
    *stretch = (1.0f + gLow) * (1.0f + gLow);
    *compressionHigh = compression(cpHigh);
    *scSlope = 0.0225f * (1.0f + gHigh);
    *gHighest = gHigh;
}

// Half the largest |RT| for a bound sinRotation on |sin(2 dTheta)|: below sin 60 degrees.
CIEDE2000_BOUNDS_INLINE float rotationBound(float compressionHigh, float sinRotation)
{
    return compressionHigh * sinRotation;
}

// The screening bound's chroma-and-hue part from its pieces: p at most P, dcHigh at least
// |C1 - C2| + gHigh max(C1, C2) (so Q = dcHigh^2), and C1 + C2 from cSumLow to cSumHigh. It is the least of
// c^2 + h^2 - r c h (r = 2 rotation, rotationBound) over c^2 + h^2 >= S (screeningWeights) and
// 0 <= c <= cHigh = dcHigh / (1 + 0.0225 cSumLow) (SC >= 1 + 0.045 C'mean >= that, as C' >= C). For
// R^2 = c^2 + h^2, c h is at most R^2 / 2, or cHigh sqrt(R^2 - cHigh^2) once R^2 >= 2 cHigh^2; either
// way the least grows with R (r < 2), so it is S (1 - r / 2) for S <= 2 cHigh^2 and
// S - r cHigh sqrt(S - cHigh^2) above. It falls as p falls, as dcHigh, rotation or the sums grow.
CIEDE2000_BOUNDS_INLINE float screenChromaPart(float p, float dcHigh, float cSumLow, float cSumHigh, float rotation,
                                               float scSlope)
{
    const float sc2 = (1.0f + scSlope * cSumHigh) * (1.0f + scSlope * cSumHigh);
    const float sh2 = (1.0f + scSlope * (kTHighest / 3.0f) * cSumHigh) * (1.0f + scSlope * (kTHighest / 3.0f) * cSumHigh);
    const float q = dcHigh * dcHigh;
    // min(p, q) / SC^2 + max(p - q, 0) / SH^2 with one division.
    const float s = (std::min(p, q) * sh2 + std::max(p - q, 0.0f) * sc2) / (sc2 * sh2);
    const float cHigh = dcHigh / (1.0f + 0.0225f * cSumLow);
    const float cHigh2 = cHigh * cHigh;
    const float wide = s - 2.0f * rotation * cHigh * std::sqrt(std::max(s - cHigh2, 0.0f));
    return s >= 2.0f * cHigh2 ? wide : s * (1.0f - rotation);
}

// The screening bound (a root, before safety margins) of a colour (L* xl, a* xa, b* xb, chroma xc)
// against a colour (yl, ya, yb, chroma yc) of a set, with the set's weights (screeningWeights) and
// rotation (rotationBound).
CIEDE2000_BOUNDS_INLINE float screenRoot(float xl, float xa, float xb, float xc, float yl, float ya, float yb,
                                         float yc, float stretch, float rotation, float scSlope, float gHigh)
{
    const float dl = yl - xl;
    const float sl = 1.0f + 0.0075f * std::fabs(yl + xl - 100.0f);
    const float cSum = xc + yc;
    const float da = ya - xa;
    const float db = yb - xb;
    const float p = stretch * da * da + db * db;
    const float dcHigh = std::fabs(yc - xc) + gHigh * std::max(xc, yc) + kChromaMargin;
    return std::sqrt(dl * dl / (sl * sl) + screenChromaPart(p, dcHigh, cSum, cSum, rotation, scSlope));
}

// The screening bound in its plain form, dL^2 / SL^2 + kappa P / SC^2 (kappa = 1 - rotation, using
// SH <= SC): looser than screenRoot, but cheaper where the sets are tight (the best conversion's hues).
CIEDE2000_BOUNDS_INLINE float screenRootPlain(float xl, float xa, float xb, float xc, float yl, float ya, float yb,
                                              float yc, float stretch, float rotation, float scSlope)
{
    const float dl = yl - xl;
    const float sl = 1.0f + 0.0075f * std::fabs(yl + xl - 100.0f);
    const float sc = 1.0f + scSlope * (xc + yc);
    const float da = ya - xa;
    const float db = yb - xb;
    return std::sqrt(dl * dl / (sl * sl) + (1.0f - rotation) * (stretch * da * da + db * db) / (sc * sc));
}

// The largest |sin(2 dTheta)| between a colour, whose positions on the arcs of hues a number of steps
// from 275 degrees are given as arcFloats gives them, and sets of colours, each with its own ranges
// of positions: if the colour and a set lie on the arc of hues a number of steps from 275 degrees,
// less than 180 degrees apart along it, the mean hue of any two of them (the bisector of the shorter
// arc between them) lies on that arc too. Against a grey colour dH', and with it the rotation term,
// are 0.
class ArcTest
{
public:
    ArcTest(bool grey, const float *arcLow, const float *arcHigh)
    {
        const RotationTable &table = rotationTable();
        sinStart = grey ? 0.0f : table.sinRotation[0];
        // The tests of the arcs as comparisons with the colour's ends moved by 180 degrees less the margin
        // (rounding moves positions below 360 degrees by far less than the margin).
        for (int step = 0; step < kRotationSteps; ++step) {
            lowShifted[step] = arcLow[step] + (180.0f - kArcMarginF);
            highShifted[step] = arcHigh[step] - (180.0f - kArcMarginF);
            sinSteps[step] = table.sinRotation[step];
        }
    }
    // For set i of several, whose ranges per step are setLow[step][i] to setHigh[step][i].
    template <int Sets>
    CIEDE2000_BOUNDS_INLINE float sinRotation(const float (&setLow)[kRotationSteps][Sets],
                                              const float (&setHigh)[kRotationSteps][Sets], int i) const
    {
        float sinRotation = sinStart;
#pragma GCC unroll 8
        for (int step = 1; step < kRotationSteps; ++step) {
            const bool near = (highShifted[step] < setLow[step][i]) & (setHigh[step][i] < lowShifted[step]);
            sinRotation = std::min(sinRotation, near ? sinSteps[step] : 1.0f);
        }
        return sinRotation;
    }

private:
    float sinStart;
    float lowShifted[kRotationSteps];
    float highShifted[kRotationSteps];
    float sinSteps[kRotationSteps];
};

// The positions of a colour's hue range (HueRange) along the circle from 275 degrees (0 to 360), for
// sinRotationBetween: a range holding 275 degrees gets one far wider than 180 degrees, a grey colour
// an empty one (it has no hue; against it dH' and the rotation term are 0).
inline void bluePositions(double a, double b, float *low, float *high)
{
    if (a == 0.0 && b == 0.0) {
        *low = kFloatHuge;
        *high = -kFloatHuge;
        return;
    }
    const HueRange range(a, b);
    const double p = arcPosition(range.p, 275.0);
    const double q = arcPosition(range.q, 275.0);
    // The range spans less than 90 degrees: positions further apart lie on both sides of 275 degrees.
    const bool across = std::fabs(p - q) >= 180.0;
    *low = across ? -kFloatHuge : float(std::min(p, q));
    *high = across ? kFloatHuge : float(std::max(p, q));
}

// The largest |sin(2 dTheta)| of two colours whose positions from 275 degrees (bluePositions) are low1 to
// high1 and low2 to high2: when both lie within less than 180 degrees, their mean hue (the bisector of
// the shorter arc between them) lies between them, at least as far from 275 degrees as the nearer
// end, and dTheta falls with that distance (rotationTable). Free of branches.
CIEDE2000_BOUNDS_INLINE float sinRotationBetween(const RotationTable &rotation, float low1, float high1, float low2,
                                                 float high2)
{
    const float low = std::min(low1, low2);
    const float high = std::max(high1, high2);
    const float distance = std::min(low, 360.0f - high);
    float sinRot = rotation.sinRotation[0];
#pragma GCC unroll 8
    for (int step = 1; step < kRotationSteps; ++step)
        sinRot = std::min(sinRot, distance >= float(step * kRotationStep) + kArcMarginF ? rotation.sinRotation[step] : 1.0f);
    return high - low < 180.0f - kArcMarginF ? sinRot : rotation.sinRotation[0];
}

// Largest value of CIEDE2000's hue weighting T: 1 + 0.17 + 0.24 + 0.32 + 0.20.
inline constexpr double kTMax = 1.93;
inline constexpr double kCos275 = 0.08715574274765789;
inline constexpr double kSin275 = -0.9961946980917455;
// Below this length of u1 + u2 (the unit hue vectors) the mean hue is taken as unknown.
inline constexpr double kShortBisector = 1e-3;

// The near bound: a lower bound of CIEDE2000 between x (L*, a*, b*, chroma c1) and y (the same), as a
// root before safety margins (rotation: rotationTable()). Everything but the rotation term is computed as CIEDE2000 defines it
// (SH included: the mean hue's cosine and sine come from the bisector of the unit hue vectors, T from
// multiple-angle identities); the rotation term RT (dC'/SC) (dH'/SH) is at least
// -|RT| |dC'/SC| |dH'/SH|, with |RT| <= RC |sin(2 dTheta)| and dTheta at most its value at the mean
// hue's circular distance from 275 degrees (it falls with that distance, and the true distance
// |h' - 275| is at least the circular one). Every branch is a selection, so that a loop over
// candidates vectorises.
CIEDE2000_BOUNDS_INLINE float nearBound(const RotationTable &rotation, float xl, float xa, float xb, float c1, float yl,
                                        float ya, float yb, float c2)
{
    const float *cosDistance = rotation.cosDistance;
    const float *sinRotation = rotation.sinRotation;
    const float pow25To7 = float(kPow25To7);
    const float cMean = (c1 + c2) * 0.5f;
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
    const float t = ColourScience::Ciede2000::hueWeighting(c, s);
    // The rotation step reached: the number of step cosines the distance's cosine is at most. Float
    // rounding in u1 + u2 turns the mean hue by up to about 1e-6 / length radians, and T changes by at
    // most 2.41 per radian: both T and the cosine of the distance to blue get a margin of 1e-5 / length.
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
    return std::sqrt(lTerm * lTerm + std::max(chroma2, 0.0f));
}

} // namespace Ciede2000Bounds

#endif
