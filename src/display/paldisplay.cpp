#include "paldisplay.h"

#include "atarigeometry.h"

#include <algorithm>
#include <array>
#include <cmath>

using namespace Geometry;

namespace {

constexpr int kSums = 511; // channel sums 0 to 510

const std::array<double, kSums> &linearTable()
{
    static const std::array<double, kSums> table = [] {
        std::array<double, kSums> t{};
        for (int i = 0; i < kSums; ++i) {
            const double c = i / 510.0;
            t[size_t(i)] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table;
}

// sRGB of linear light, rounded to a whole level 0 to 255.
int encode(double linearLight)
{
    const double c = linearLight <= 0.0031308 ? 12.92 * linearLight : 1.055 * std::pow(linearLight, 1.0 / 2.4) - 0.055;
    return int(std::lround(std::min(std::max(c, 0.0), 1.0) * 255.0));
}

quint8 above(const quint8 *screen, int i, int width)
{
    return i >= width ? screen[i - width] : quint8(0);
}

} // namespace

PalDisplay::Sum PalDisplay::sum(quint32 rgbA, quint32 rgbB)
{
    Sum s;
    s.r = int(rgbA >> 16 & 0xFF) + int(rgbB >> 16 & 0xFF);
    s.g = int(rgbA >> 8 & 0xFF) + int(rgbB >> 8 & 0xFF);
    s.b = int(rgbA & 0xFF) + int(rgbB & 0xFF);
    return s;
}

double PalDisplay::linear(int channelSum)
{
    return linearTable()[size_t(channelSum)];
}

void PalDisplay::xyzOfSum(const Sum &s, double xyz[3])
{
    const double channels[3] = {linear(s.r), linear(s.g), linear(s.b)};
    ColourScience::xyzFromLinear(channels, xyz);
}

ColourScience::Lab PalDisplay::labOfSum(const Sum &s)
{
    double xyz[3];
    xyzOfSum(s, xyz);
    return ColourScience::labFromXyz(xyz);
}

quint32 PalDisplay::rgbOfSum(const Sum &s)
{
    return quint32((s.r + 1) / 2) << 16 | quint32((s.g + 1) / 2) << 8 | quint32((s.b + 1) / 2);
}

ColourScience::Lab PalDisplay::blendLab(const Sum &a, const Sum &b)
{
    double xyzA[3];
    double xyzB[3];
    xyzOfSum(a, xyzA);
    xyzOfSum(b, xyzB);
    const double mean[3] = {(xyzA[0] + xyzB[0]) * 0.5, (xyzA[1] + xyzB[1]) * 0.5, (xyzA[2] + xyzB[2]) * 0.5};
    return ColourScience::labFromXyz(mean);
}

quint32 PalDisplay::blendRgb(const Sum &a, const Sum &b)
{
    const int red = encode((linear(a.r) + linear(b.r)) * 0.5);
    const int green = encode((linear(a.g) + linear(b.g)) * 0.5);
    const int blue = encode((linear(a.b) + linear(b.b)) * 0.5);
    return quint32(red) << 16 | quint32(green) << 8 | quint32(blue);
}

void PalDisplay::viewScreen(const quint8 *screen, int width, int height, const quint32 *palette, quint32 *rgb)
{
    for (int i = 0; i < width * height; ++i)
        rgb[i] = rgbOfSum(seenSum(palette, screen[i], above(screen, i, width)));
}

void PalDisplay::viewTwoFrames(const quint8 *screenA, const quint8 *screenB, int width, int height,
                               const quint32 *palette, quint32 *rgb)
{
    for (int i = 0; i < width * height; ++i)
        rgb[i] = blendRgb(seenSum(palette, screenA[i], above(screenA, i, width)),
                          seenSum(palette, screenB[i], above(screenB, i, width)));
}

void PalDisplay::view(const ScreenFrames &screens, const quint32 *palette, quint32 *rgb) const
{
    if (screens.count == 1)
        viewScreen(screens.frame[0], kSourceWidth, kSourceHeight, palette, rgb);
    else
        viewTwoFrames(screens.frame[0], screens.frame[1], kSourceWidth, kSourceHeight, palette, rgb);
}

void PalDisplay::see(const ScreenFrames &screens, const quint32 *palette, ColourScience::Lab *lab,
                     double *flicker) const
{
    const quint8 *a = screens.frame[0];
    const quint8 *b = screens.count == 2 ? screens.frame[1] : nullptr;
    for (int i = 0; i < kSourcePixels; ++i) {
        const quint8 aboveA = above(a, i, kSourceWidth);
        // Neighbouring screen pixels mostly show the same colours: work them out once.
        const bool same = i % kSourceWidth > 0 && a[i] == a[i - 1] && aboveA == above(a, i - 1, kSourceWidth)
            && (!b || (b[i] == b[i - 1] && above(b, i, kSourceWidth) == above(b, i - 1, kSourceWidth)));
        if (same) {
            lab[i] = lab[i - 1];
            if (b && flicker)
                flicker[i] = flicker[i - 1];
            continue;
        }
        const Sum seenA = seenSum(palette, a[i], aboveA);
        if (!b) {
            lab[i] = labOfSum(seenA);
            continue;
        }
        const Sum seenB = seenSum(palette, b[i], above(b, i, kSourceWidth));
        lab[i] = blendLab(seenA, seenB);
        if (flicker)
            flicker[i] = std::fabs(labOfSum(seenA).L - labOfSum(seenB).L);
    }
}
