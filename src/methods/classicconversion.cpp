#include "classicconversion.h"

#include "atarigeometry.h"

using namespace Geometry;

namespace ClassicConversion {

quint8 mostFrequentHue(const quint8 *pixels, quint32 n)
{
    quint8 counts[16] = {};
    for (quint32 k = 0; k < n; ++k)
        ++counts[pixels[k] >> 4];

    int bestHue = 0;
    int bestCount = 0;
    for (int hue = 0; hue < 16; ++hue) {
        if (counts[hue] > bestCount) {
            bestCount = counts[hue];
            bestHue = hue;
        }
    }
    return static_cast<quint8>(bestHue << 4);
}

void convert(const quint8 *nearest, quint8 *output, quint8 *hues)
{
    int i = 0;
    for (int p = 0; p < kLinePairs; ++p) {
        for (int s = 0; s < kSegmentsPerPair; ++s) {
            const int n = kSegmentLengths[s];
            const quint8 hue = mostFrequentHue(nearest + i, quint32(n));
            for (int k = i; k < i + n; ++k)
                output[k] = hue | (nearest[k] & 0x0F);
            hues[kSegmentsPerPair * p + s] = hue;
            i += n;
        }
    }
}

} // namespace ClassicConversion
