#ifndef ROTATIONARC_H
#define ROTATIONARC_H

#include "colourscience.h"

#include <algorithm>
#include <cmath>

// Where CIEDE2000's rotation term can be large: the arc of mean hues near 275 degrees, in steps, as
// the lower bounds of the best and the two-frame conversions use it.
namespace RotationArc {

using ColourScience::Ciede2000::kPi;

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

} // namespace RotationArc

#endif
