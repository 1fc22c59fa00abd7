#include "qualityfigure.h"

#include "atarigeometry.h"

using namespace Geometry;

namespace QualityFigure {

double meanDeltaE2000(const quint8 *screen, const quint32 *averaged, const ColourScience::Lab *paletteLab)
{
    double sum = 0.0;
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int column = 0; column < kAtariWidth; ++column) {
            const ColourScience::Lab photo = ColourScience::labFromRgb(averaged[y * kAtariWidth + column]);
            const quint8 *shown = screen + y * kSourceWidth + column * kSourcePerAtari;
            // The four screen pixels of an Atari pixel mostly show one colour: compute it once.
            double difference = ColourScience::deltaE2000(paletteLab[shown[0]], photo);
            sum += difference;
            for (int i = 1; i < kSourcePerAtari; ++i) {
                if (shown[i] != shown[i - 1])
                    difference = ColourScience::deltaE2000(paletteLab[shown[i]], photo);
                sum += difference;
            }
        }
    }
    return sum / kSourcePixels;
}

} // namespace QualityFigure
