#include "qualityfigure.h"

#include "atarigeometry.h"
#include "paldisplay.h"
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

double palMeanDeltaE2000(const quint8 *screen, const quint32 *averaged, const quint32 *palette)
{
    double sum = 0.0;
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int column = 0; column < kAtariWidth; ++column) {
            const ColourScience::Lab photo = ColourScience::labFromRgb(averaged[y * kAtariWidth + column]);
            const int first = y * kSourceWidth + column * kSourcePerAtari;
            double difference = 0.0;
            for (int i = first; i < first + kSourcePerAtari; ++i) {
                const quint8 above = y > 0 ? screen[i - kSourceWidth] : quint8(0);
                // The four screen pixels of an Atari pixel mostly show one colour: compute it once.
                if (i == first || screen[i] != screen[i - 1] || above != (y > 0 ? screen[i - 1 - kSourceWidth] : 0))
                    difference = ColourScience::deltaE2000(
                        PalDisplay::labOfSum(PalDisplay::seenSum(palette, screen[i], above)), photo);
                sum += difference;
            }
        }
    }
    return sum / kSourcePixels;
}

TwoFrameFigures palTwoFrameFigures(const quint8 *screenA, const quint8 *screenB, const quint32 *averaged,
                                   const quint32 *palette)
{
    TwoFrameFigures figures;
    double sum = 0.0;
    double flickerSum = 0.0;
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int column = 0; column < kAtariWidth; ++column) {
            const ColourScience::Lab photo = ColourScience::labFromRgb(averaged[y * kAtariWidth + column]);
            const int first = y * kSourceWidth + column * kSourcePerAtari;
            for (int i = first; i < first + kSourcePerAtari; ++i) {
                const quint8 aboveA = y > 0 ? screenA[i - kSourceWidth] : quint8(0);
                const quint8 aboveB = y > 0 ? screenB[i - kSourceWidth] : quint8(0);
                const PalDisplay::Sum a = PalDisplay::seenSum(palette, screenA[i], aboveA);
                const PalDisplay::Sum b = PalDisplay::seenSum(palette, screenB[i], aboveB);
                sum += ColourScience::deltaE2000(PalDisplay::blendLab(a, b), photo);
                const double flicker = std::fabs(PalDisplay::labOfSum(a).L - PalDisplay::labOfSum(b).L);
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
