#include "colourscience.h"

#include <array>
#include <cmath>

namespace ColourScience {

namespace {

using namespace ColourScience::Ciede2000;

constexpr double kRadiansPerDegree = kPi / 180.0;
constexpr double kDegreesPerRadian = 180.0 / kPi;

// sRGB primaries relative to the D65 white (x = 0.3127, y = 0.3290): rows X, Y, Z; columns R, G, B.
constexpr double kRgbToXyz[3][3] = {
    {0.41239079926595948, 0.35758433938387796, 0.18048078840183429},
    {0.21263900587151036, 0.71516867876775593, 0.07219231536073372},
    {0.01933081871559185, 0.11919477979462599, 0.95053215224966058},
};
// The white of those primaries: the row sums above.
constexpr double kWhite[3] = {
    kRgbToXyz[0][0] + kRgbToXyz[0][1] + kRgbToXyz[0][2],
    kRgbToXyz[1][0] + kRgbToXyz[1][1] + kRgbToXyz[1][2],
    kRgbToXyz[2][0] + kRgbToXyz[2][1] + kRgbToXyz[2][2],
};

// CIE L*a*b* constants: the linear segment below (6/29)^3.
constexpr double kLabEpsilon = (6.0 / 29.0) * (6.0 / 29.0) * (6.0 / 29.0);
constexpr double kLabSlope = 1.0 / (3.0 * (6.0 / 29.0) * (6.0 / 29.0));
constexpr double kLabOffset = 4.0 / 29.0;


// Linear light (0 to 1) of each 8-bit sRGB channel value.
const std::array<double, 256> &linearTable()
{
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            t[i] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table;
}

double labF(double t)
{
    return t > kLabEpsilon ? std::cbrt(t) : t * kLabSlope + kLabOffset;
}

double pow7(double x)
{
    const double x2 = x * x;
    const double x3 = x2 * x;
    return x3 * x3 * x;
}

// Hue angle in degrees, 0 to below 360; 0 for the achromatic axis.
double hueDegrees(double b, double a)
{
    if (a == 0.0 && b == 0.0)
        return 0.0;
    const double h = std::atan2(b, a) * kDegreesPerRadian;
    return h < 0.0 ? h + 360.0 : h;
}

} // namespace

void xyzFromRgb(quint32 rgb, double xyz[3])
{
    const std::array<double, 256> &linear = linearTable();
    const double channels[3] = {linear[(rgb >> 16) & 0xFF], linear[(rgb >> 8) & 0xFF], linear[rgb & 0xFF]};
    xyzFromLinear(channels, xyz);
}

void xyzFromLinear(const double linear[3], double xyz[3])
{
    for (int i = 0; i < 3; ++i)
        xyz[i] = kRgbToXyz[i][0] * linear[0] + kRgbToXyz[i][1] * linear[1] + kRgbToXyz[i][2] * linear[2];
}

Lab labFromRgb(quint32 rgb)
{
    double xyz[3];
    xyzFromRgb(rgb, xyz);
    return labFromXyz(xyz);
}

Lab labFromXyz(const double xyz[3])
{
    const double fx = labF(xyz[0] / kWhite[0]);
    const double fy = labF(xyz[1] / kWhite[1]);
    const double fz = labF(xyz[2] / kWhite[2]);
    return Lab{116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double deltaE2000(const Lab &x, const Lab &y)
{
    const double c1 = std::sqrt(x.a * x.a + x.b * x.b);
    const double c2 = std::sqrt(y.a * y.a + y.b * y.b);
    const double cMean7 = pow7((c1 + c2) * 0.5);
    const double g = 0.5 * (1.0 - std::sqrt(cMean7 / (cMean7 + kPow25To7)));
    const double a1 = (1.0 + g) * x.a;
    const double a2 = (1.0 + g) * y.a;
    const double c1p = std::sqrt(a1 * a1 + x.b * x.b);
    const double c2p = std::sqrt(a2 * a2 + y.b * y.b);

    const double dLp = y.L - x.L;
    const double dCp = c2p - c1p;
    const double cProduct = c1p * c2p;
    const double cross = a1 * y.b - x.b * a2;
    const double dot = a1 * a2 + x.b * y.b;

    // The hue difference dH' = 2 sqrt(C1' C2') sin(dh'/2) and the mean hue h', found from the unit
    // vectors u1 and u2 of the two hues: |u2 - u1| = 2 |sin(dh'/2)|, the sign of dh' is that of their
    // cross product, and u1 + u2 points along the mean hue (the bisector of the shorter arc).
    double dHp = 0.0;
    double meanCos = 1.0;
    double meanSin = 0.0;
    double hpMean = 0.0;
    if (cProduct == 0.0) {
        // Achromatic: h' is the other colour's hue, or 0 for two greys.
        const double ap = c1p != 0.0 ? a1 : a2;
        const double bp = c1p != 0.0 ? x.b : y.b;
        const double cp = c1p != 0.0 ? c1p : c2p;
        if (cp != 0.0) {
            meanCos = ap / cp;
            meanSin = bp / cp;
            hpMean = hueDegrees(bp, ap);
        }
    } else if (cross == 0.0 && dot < 0.0) {
        // Opposite hues: dh' is +180 or -180 by which angle is larger, and h' their plain mean.
        const double h1p = hueDegrees(x.b, a1);
        const double h2p = hueDegrees(y.b, a2);
        dHp = 2.0 * std::sqrt(cProduct) * (h2p > h1p ? 1.0 : -1.0);
        hpMean = (h1p + h2p) * 0.5;
        meanCos = std::cos(hpMean * kRadiansPerDegree);
        meanSin = std::sin(hpMean * kRadiansPerDegree);
    } else {
        const double u1a = a1 / c1p;
        const double u1b = x.b / c1p;
        const double u2a = a2 / c2p;
        const double u2b = y.b / c2p;
        const double chord = std::sqrt((u2a - u1a) * (u2a - u1a) + (u2b - u1b) * (u2b - u1b));
        dHp = std::sqrt(cProduct) * (cross < 0.0 ? -chord : chord);
        const double sa = u1a + u2a;
        const double sb = u1b + u2b;
        const double length = std::sqrt(sa * sa + sb * sb);
        meanCos = sa / length;
        meanSin = sb / length;
        hpMean = hueDegrees(sb, sa);
    }

    const double t = hueWeighting(meanCos, meanSin);

    const double lMean = (x.L + y.L) * 0.5;
    const double cpMean = (c1p + c2p) * 0.5;
    const double hueOffset = (hpMean - 275.0) / 25.0;
    const double dTheta = 30.0 * std::exp(-hueOffset * hueOffset);
    const double cpMean7 = pow7(cpMean);
    const double rc = 2.0 * std::sqrt(cpMean7 / (cpMean7 + kPow25To7));
    const double lOffset2 = (lMean - 50.0) * (lMean - 50.0);
    const double sl = 1.0 + 0.015 * lOffset2 / std::sqrt(20.0 + lOffset2);
    const double sc = 1.0 + 0.045 * cpMean;
    const double sh = 1.0 + 0.015 * cpMean * t;
    const double rt = -std::sin(2.0 * dTheta * kRadiansPerDegree) * rc;

    const double lTerm = dLp / sl;
    const double cTerm = dCp / sc;
    const double hTerm = dHp / sh;
    return std::sqrt(lTerm * lTerm + cTerm * cTerm + hTerm * hTerm + rt * cTerm * hTerm);
}

} // namespace ColourScience
