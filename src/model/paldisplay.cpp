#include "paldisplay.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace PalDisplay {

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

} // namespace

Sum sum(quint32 rgbA, quint32 rgbB)
{
    Sum s;
    s.r = int(rgbA >> 16 & 0xFF) + int(rgbB >> 16 & 0xFF);
    s.g = int(rgbA >> 8 & 0xFF) + int(rgbB >> 8 & 0xFF);
    s.b = int(rgbA & 0xFF) + int(rgbB & 0xFF);
    return s;
}

double linear(int channelSum)
{
    return linearTable()[size_t(channelSum)];
}

void xyzOfSum(const Sum &s, double xyz[3])
{
    const double channels[3] = {linear(s.r), linear(s.g), linear(s.b)};
    ColourScience::xyzFromLinear(channels, xyz);
}

ColourScience::Lab labOfSum(const Sum &s)
{
    double xyz[3];
    xyzOfSum(s, xyz);
    return ColourScience::labFromXyz(xyz);
}

quint32 rgbOfSum(const Sum &s)
{
    return quint32((s.r + 1) / 2) << 16 | quint32((s.g + 1) / 2) << 8 | quint32((s.b + 1) / 2);
}

ColourScience::Lab blendLab(const Sum &a, const Sum &b)
{
    double xyzA[3];
    double xyzB[3];
    xyzOfSum(a, xyzA);
    xyzOfSum(b, xyzB);
    const double mean[3] = {(xyzA[0] + xyzB[0]) * 0.5, (xyzA[1] + xyzB[1]) * 0.5, (xyzA[2] + xyzB[2]) * 0.5};
    return ColourScience::labFromXyz(mean);
}

quint32 blendRgb(const Sum &a, const Sum &b)
{
    const int r = encode((linear(a.r) + linear(b.r)) * 0.5);
    const int g = encode((linear(a.g) + linear(b.g)) * 0.5);
    const int bl = encode((linear(a.b) + linear(b.b)) * 0.5);
    return quint32(r) << 16 | quint32(g) << 8 | quint32(bl);
}

void seenSums(const quint8 *screen, int width, int height, const quint32 *palette, Sum *sums)
{
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const quint8 above = y > 0 ? screen[(y - 1) * width + x] : quint8(0);
            sums[y * width + x] = seenSum(palette, screen[y * width + x], above);
        }
    }
}

void view(const quint8 *screen, int width, int height, const quint32 *palette, quint32 *rgb)
{
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const quint8 above = y > 0 ? screen[(y - 1) * width + x] : quint8(0);
            rgb[y * width + x] = rgbOfSum(seenSum(palette, screen[y * width + x], above));
        }
    }
}

void twoFrameView(const quint8 *screenA, const quint8 *screenB, int width, int height, const quint32 *palette,
                  quint32 *rgb)
{
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int i = y * width + x;
            const quint8 aboveA = y > 0 ? screenA[i - width] : quint8(0);
            const quint8 aboveB = y > 0 ? screenB[i - width] : quint8(0);
            rgb[i] = blendRgb(seenSum(palette, screenA[i], aboveA), seenSum(palette, screenB[i], aboveB));
        }
    }
}

} // namespace PalDisplay
