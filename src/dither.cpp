#include "dither.h"

#include "atarigeometry.h"

#include <algorithm>
#include <iterator>
#include <limits>

using namespace Geometry;

namespace Dither {

void diffuseLuminance(const quint32 *averaged, double chromaFactor, const ColourScience::Lab *paletteLab,
                      quint8 *output)
{
    // Errors carried into the current row and the next one, one slot of margin on each side.
    double current[kAtariWidth + 2] = {};
    double next[kAtariWidth + 2] = {};
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kAtariWidth; ++x) {
            const int j = y * kAtariWidth + x;
            ColourScience::Lab target = ColourScience::labFromRgb(averaged[j]);
            target.a *= chromaFactor;
            target.b *= chromaFactor;
            target.L = std::clamp(target.L + current[x + 1], 0.0, 100.0);

            const int hue = output[j] & 0xF0;
            int bestLuminance = 0;
            double bestDifference = std::numeric_limits<double>::infinity();
            for (int luminance = 0; luminance < 16; ++luminance) {
                const double difference = ColourScience::deltaE2000(target, paletteLab[hue | luminance]);
                if (difference < bestDifference) {
                    bestDifference = difference;
                    bestLuminance = luminance;
                }
            }
            output[j] = quint8(hue | bestLuminance);

            const double error = std::clamp(target.L - paletteLab[hue | bestLuminance].L, -kMaxCarry, kMaxCarry);
            current[x + 2] += error * 7 / 16;
            next[x] += error * 3 / 16;
            next[x + 1] += error * 5 / 16;
            next[x + 2] += error * 1 / 16;
        }
        std::copy(std::begin(next), std::end(next), std::begin(current));
        std::fill(std::begin(next), std::end(next), 0.0);
    }
}

} // namespace Dither
