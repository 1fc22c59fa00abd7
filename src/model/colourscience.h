#ifndef COLOURSCIENCE_H
#define COLOURSCIENCE_H

#include <QtGlobal>

// Colour science on 8-bit sRGB values: conversion to CIE L*a*b* (D65 white) and the
// CIEDE2000 colour difference. Knows nothing of pictures, palettes or the Atari.
namespace ColourScience {

// Constants of CIEDE2000, shared with code that bounds it.
namespace Ciede2000 {
constexpr double kPi = 3.14159265358979323846;
constexpr double kPow25To7 = 6103515625.0; // 25^7, the chroma compression's knee
// Cosines and sines of the phase offsets in the hue weighting T (30, 6 and 63 degrees).
constexpr double kCos30 = 0.86602540378443865;
constexpr double kSin30 = 0.5;
constexpr double kCos6 = 0.99452189536827333;
constexpr double kSin6 = 0.10452846326765347;
constexpr double kCos63 = 0.45399049973954679;
constexpr double kSin63 = 0.89100652418836787;

// The hue weighting T at the mean hue whose cosine and sine are c and s, from multiple-angle
// identities, in the precision of Real (double for the difference, float for bounds on it). Always
// inlined: the bounds compute it inside loops that vectorise only then.
template <typename Real>
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline Real hueWeighting(Real c, Real s)
{
    const Real cos2 = c * c - s * s;
    const Real sin2 = Real(2) * s * c;
    const Real cos3 = c * (cos2 - Real(2) * s * s);
    const Real sin3 = s * (Real(2) * c * c + cos2);
    const Real cos4 = cos2 * cos2 - sin2 * sin2;
    const Real sin4 = Real(2) * sin2 * cos2;
    return Real(1) - Real(0.17) * (c * Real(kCos30) + s * Real(kSin30)) + Real(0.24) * cos2
        + Real(0.32) * (cos3 * Real(kCos6) - sin3 * Real(kSin6))
        - Real(0.20) * (cos4 * Real(kCos63) + sin4 * Real(kSin63));
}
} // namespace Ciede2000

// A CIE L*a*b* colour: L from 0 (black) to 100 (white), a and b roughly -128 to 128.
struct Lab {
    double L;
    double a;
    double b;
};

// CIE L*a*b* of the sRGB colour rgb (0x00RRGGBB, top byte ignored), through CIE XYZ with the D65
// white of the sRGB primaries, so that FFFFFF maps to L = 100, a = b = 0.
Lab labFromRgb(quint32 rgb);

// CIE XYZ of rgb (0x00RRGGBB, top byte ignored), Y from 0 to 1; xyz receives X, Y, Z.
void xyzFromRgb(quint32 rgb, double xyz[3]);

// CIE XYZ of linear-light sRGB channels (each 0 to 1, red, green, blue), as xyzFromRgb computes it
// from its decoded channels; xyz receives X, Y, Z.
void xyzFromLinear(const double linear[3], double xyz[3]);

// CIE L*a*b* (D65 white of the sRGB primaries) of CIE XYZ (X, Y, Z; Y from 0 to 1), as labFromRgb
// converts xyzFromRgb's result.
Lab labFromXyz(const double xyz[3]);

// CIEDE2000 colour difference of x and y with kL = kC = kH = 1; 0 for equal colours,
// about 1 for a just noticeable difference. Symmetric in its arguments.
double deltaE2000(const Lab &x, const Lab &y);

} // namespace ColourScience

#endif
