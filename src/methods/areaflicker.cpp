#include "areaflicker.h"

#include "atarigeometry.h"

#include <algorithm>
#include <cmath>

using namespace Geometry;

namespace AreaFlicker {

LowPass::LowPass(double sigma)
    : reach(int(std::ceil(3.0 * sigma)))
    , taps(size_t(2 * reach + 1))
{
    double sum = 0.0;
    for (int k = -reach; k <= reach; ++k) {
        const double t = std::exp(-0.5 * k * k / (sigma * sigma));
        taps[size_t(k + reach)] = t;
        sum += t;
    }
    for (double &t : taps)
        t /= sum;
}

void LowPass::filter(const double *in, double *out) const
{
    filter(in, out, kSourceWidth, kSourceHeight);
}

void LowPass::filter(const double *in, double *out, int width, int height) const
{
    std::vector<double> rows(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const double *row = in + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x) {
            double sum = 0.0;
            const int first = std::max(-reach, -x);
            const int last = std::min(reach, width - 1 - x);
            for (int k = first; k <= last; ++k)
                sum += taps[size_t(k + reach)] * row[x + k];
            rows[size_t(y) * size_t(width) + size_t(x)] = sum;
        }
    }
    for (int y = 0; y < height; ++y) {
        const int first = std::max(-reach, -y);
        const int last = std::min(reach, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            double sum = 0.0;
            for (int k = first; k <= last; ++k)
                sum += taps[size_t(k + reach)] * rows[size_t(y + k) * size_t(width) + size_t(x)];
            out[size_t(y) * size_t(width) + size_t(x)] = sum;
        }
    }
}

void luminance(const quint8 *screen, const quint32 *palette, double *y)
{
    double table[256];
    for (int i = 0; i < 256; ++i) {
        double xyz[3];
        ColourScience::xyzFromRgb(palette[i], xyz);
        table[i] = xyz[1];
    }
    for (int i = 0; i < kSourcePixels; ++i)
        y[i] = table[screen[i]];
}

namespace {
// CIE L* below (6/29)^3 is linear with slope (29/3)^3.
constexpr double kEpsilon = (6.0 / 29.0) * (6.0 / 29.0) * (6.0 / 29.0);
constexpr double kLinearSlope = (29.0 / 3.0) * (29.0 / 3.0) * (29.0 / 3.0);
} // namespace

double lightness(double y)
{
    return y <= kEpsilon ? kLinearSlope * y : 116.0 * std::cbrt(y) - 16.0;
}

double lightnessSlope(double y)
{
    return y <= kEpsilon ? kLinearSlope : 116.0 / 3.0 / (std::cbrt(y) * std::cbrt(y));
}

double luminanceOf(double lightness)
{
    const double f = (lightness + 16.0) / 116.0;
    return f > 6.0 / 29.0 ? f * f * f : lightness / kLinearSlope;
}

void filteredDifference(const quint8 *screenA, const quint8 *screenB, const quint32 *palette, double *difference,
                        const LowPass &lowPass)
{
    std::vector<double> y(static_cast<size_t>(kSourcePixels));
    std::vector<double> filteredA(static_cast<size_t>(kSourcePixels));
    luminance(screenA, palette, y.data());
    lowPass.filter(y.data(), filteredA.data());
    luminance(screenB, palette, y.data());
    lowPass.filter(y.data(), difference);
    for (int i = 0; i < kSourcePixels; ++i)
        difference[i] = lightness(filteredA[size_t(i)]) - lightness(difference[i]);
}

double areaFlicker(const quint8 *screenA, const quint8 *screenB, const quint32 *palette)
{
    std::vector<double> y[2] = {std::vector<double>(kSourcePixels), std::vector<double>(kSourcePixels)};
    luminance(screenA, palette, y[0].data());
    luminance(screenB, palette, y[1].data());
    return areaFlicker(y[0].data(), y[1].data());
}

double areaFlicker(const double *yA, const double *yB)
{
    const LowPass lowPass;
    std::vector<double> a(static_cast<size_t>(kSourcePixels));
    std::vector<double> b(static_cast<size_t>(kSourcePixels));
    lowPass.filter(yA, a.data());
    lowPass.filter(yB, b.data());
    double largest = 0.0;
    for (int i = 0; i < kSourcePixels; ++i)
        largest = std::max(largest, std::fabs(lightness(a[size_t(i)]) - lightness(b[size_t(i)])));
    return largest;
}

quint32 mapGrey(double difference, int limit)
{
    const double level = limit > 0 ? std::min(difference / limit, 1.0) : (difference > 0.0 ? 1.0 : 0.0);
    const quint32 grey = quint32(std::lround(std::max(level, 0.0) * 255.0));
    return 0xFF000000u | grey << 16 | grey << 8 | grey;
}

void flickerMap(const quint8 *screenA, const quint8 *screenB, const ColourScience::Lab *paletteLab, int limit,
                quint32 *rgb)
{
    for (int i = 0; i < kSourcePixels; ++i)
        rgb[i] = mapGrey(std::fabs(paletteLab[screenA[i]].L - paletteLab[screenB[i]].L), limit);
}

} // namespace AreaFlicker
