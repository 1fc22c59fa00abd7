#include "picturetone.h"

#include <algorithm>
#include <cmath>

namespace {

// x rounded to the nearest whole number, halves up, then clamped to 0..255.
int toChannel(double x)
{
    return static_cast<int>(std::clamp(std::floor(x + 0.5), 0.0, 255.0));
}

// v + 255 * b / 100 in whole numbers: floor((100 v + 255 b + 50) / 100), clamped.
int brightened(int v, int brightness)
{
    const int hundredths = 100 * v + 255 * brightness + 50;
    const int rounded = hundredths >= 0 ? hundredths / 100 : -((-hundredths + 99) / 100);
    return std::clamp(rounded, 0, 255);
}

} // namespace

namespace PictureTone {

std::array<quint8, 256> curve(const Tone &tone)
{
    constexpr double kQuarterPi = 0.78539816339744830962;
    const double slope = std::tan(kQuarterPi * (1.0 + tone.contrast / 100.0));
    std::array<quint8, 256> values{};
    for (int v = 0; v < 256; ++v) {
        int value = brightened(v, tone.brightness);
        if (tone.contrast != 0) {
            // Two statements and -ffp-contract=off for this file: no fused multiply-add.
            const double spread = (value - 127.5) * slope;
            value = toChannel(spread + 127.5);
        }
        if (tone.gamma != 1.0)
            value = toChannel(255.0 * std::pow(value / 255.0, 1.0 / tone.gamma));
        values[size_t(v)] = quint8(value);
    }
    return values;
}

void apply(const Tone &tone, const quint32 *in, quint32 *out, int count)
{
    if (tone.isNeutral()) {
        if (out != in)
            std::copy(in, in + count, out);
        return;
    }
    const std::array<quint8, 256> values = curve(tone);
    for (int i = 0; i < count; ++i) {
        const quint32 p = in[i];
        out[i] = (p & 0xFF000000u) | quint32(values[(p >> 16) & 0xFF]) << 16 | quint32(values[(p >> 8) & 0xFF]) << 8
                 | values[p & 0xFF];
    }
}

} // namespace PictureTone
