#ifndef AREAFLICKER_H
#define AREAFLICKER_H

#include "colourscience.h"

#include <QtGlobal>

#include <vector>

// Flicker as the eye sees it over areas: the difference between two alternating frames' linear
// luminance after a low-pass filter the size of what the eye resolves of a 25 Hz flicker.
//
// The viewing model: a TV whose picture height (240 lines) is seen from three picture heights, so
// one degree at the centre spans 720 * pi / 180 = 12.566 lines. The eye's sensitivity to a 25 Hz
// flicker is low-pass in spatial frequency, highest for the largest areas; we take it to fall to half
// at 0.5 cycles per degree (a patch of about a degree flickers visibly, a single pixel hardly). A
// Gaussian of sigma degrees passes a frequency f with exp(-2 pi^2 sigma^2 f^2), half at
// sigma = sqrt(ln 2 / 2) / (pi f) = 0.37478 degrees = 4.7096 lines: the filter is a Gaussian of sigma
// 4.7096 screen pixels (a screen pixel, a quarter of an Atari pixel by one line, is nearly square),
// that is 1.18 Atari pixels across and 4.7 lines down.
namespace AreaFlicker {

// The Gaussian's sigma in screen pixels, as derived above.
constexpr double kEyeSigma = 4.709640090061899;

// A normalised, sampled Gaussian applied along rows and then columns of a 320 x 240 field of
// screen pixels; outside the picture the field is 0 (the border is black in both frames).
class LowPass
{
public:
    // sigma in screen pixels (> 0); the taps reach ceil(3 sigma) pixels each way and sum to 1.
    explicit LowPass(double sigma = kEyeSigma);
    int radius() const { return reach; }
    // Tap k (-radius to radius).
    double tap(int k) const { return taps[size_t(k + reach)]; }
    // Filters in (76800 values, row by row) into out (may not be in).
    void filter(const double *in, double *out) const;
    // The same for a field of width x height values.
    void filter(const double *in, double *out, int width, int height) const;

private:
    int reach;
    std::vector<double> taps;
};

// Relative luminance Y (0 to 1, CIE XYZ of the sRGB value) of each of the 76800 screen pixels of
// screen (Atari colour bytes) through palette (256 values 0x00RRGGBB).
void luminance(const quint8 *screen, const quint32 *palette, double *y);

// CIE L* (0 to 100) of relative luminance y (0 to 1), its derivative dL*/dy, and the relative
// luminance of L* (the inverse of lightness).
double lightness(double y);
double lightnessSlope(double y);
double luminanceOf(double lightness);

// The area flicker at each of the 76800 screen pixels, in L*: L*(lowPass(Y of frame A)) minus
// L*(lowPass(Y of frame B)), signed.
void filteredDifference(const quint8 *screenA, const quint8 *screenB, const quint32 *palette, double *difference,
                        const LowPass &lowPass = LowPass());

// The largest |filteredDifference| over the picture, in L* (0 for equal frames).
double areaFlicker(const quint8 *screenA, const quint8 *screenB, const quint32 *palette);
// The same of the two frames' relative luminances as seen (76800 values each, 0 to 1).
double areaFlicker(const double *yA, const double *yB);

// The grey of the flicker map for a pixel whose two colours differ by difference (>= 0, in L*):
// 0 black to limit white, clamped; with limit 0 any difference is white. 0xFFRRGGBB.
quint32 mapGrey(double difference, int limit);

// The flicker map: each of the 76800 screen pixels' |L*A - L*B| (paletteLab: 256 entries) as
// mapGrey, into rgb.
void flickerMap(const quint8 *screenA, const quint8 *screenB, const ColourScience::Lab *paletteLab, int limit,
                quint32 *rgb);

} // namespace AreaFlicker

#endif
