#include "qualityfigure.h"

#include "atarigeometry.h"
#include "twoframeconversion.h"

#include <algorithm>
#include <cmath>

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

TwoFrameFigures twoFrameFigures(const quint8 *screenA, const quint8 *screenB, const quint32 *averaged,
                                const quint32 *palette, const ColourScience::Lab *paletteLab)
{
    TwoFrameFigures figures;
    double sum = 0.0;
    double flickerSum = 0.0;
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int column = 0; column < kAtariWidth; ++column) {
            const ColourScience::Lab photo = ColourScience::labFromRgb(averaged[y * kAtariWidth + column]);
            const int first = y * kSourceWidth + column * kSourcePerAtari;
            double difference = 0.0;
            for (int i = first; i < first + kSourcePerAtari; ++i) {
                const quint8 a = screenA[i];
                const quint8 b = screenB[i];
                // The four screen pixels of an Atari pixel mostly show one pair: compute it once.
                if (i == first || a != screenA[i - 1] || b != screenB[i - 1])
                    difference = ColourScience::deltaE2000(TwoFrameConverter::blendLab(palette[a], palette[b]), photo);
                sum += difference;
                const double flicker = std::fabs(paletteLab[a].L - paletteLab[b].L);
                flickerSum += flicker;
                figures.flickerMax = std::max(figures.flickerMax, flicker);
            }
        }
    }
    figures.quality = sum / kSourcePixels;
    figures.flickerMean = flickerSum / kSourcePixels;
    return figures;
}

} // namespace QualityFigure
