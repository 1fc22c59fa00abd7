#include "linearblend.h"

#include <algorithm>
#include <cmath>

namespace LinearBlend {

ColourScience::Lab lab(quint32 rgbA, quint32 rgbB)
{
    double a[3];
    double b[3];
    ColourScience::xyzFromRgb(rgbA, a);
    ColourScience::xyzFromRgb(rgbB, b);
    const double mean[3] = {(a[0] + b[0]) * 0.5, (a[1] + b[1]) * 0.5, (a[2] + b[2]) * 0.5};
    return ColourScience::labFromXyz(mean);
}

quint32 rgb(quint32 rgbA, quint32 rgbB)
{
    quint32 result = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
        const auto linear = [](quint32 v) {
            const double c = v / 255.0;
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        const double mean = (linear(rgbA >> shift & 0xFF) + linear(rgbB >> shift & 0xFF)) * 0.5;
        const double c = mean <= 0.0031308 ? 12.92 * mean : 1.055 * std::pow(mean, 1.0 / 2.4) - 0.055;
        result |= quint32(std::lround(std::min(std::max(c, 0.0), 1.0) * 255.0)) << shift;
    }
    return result;
}

} // namespace LinearBlend
