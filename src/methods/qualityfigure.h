#ifndef QUALITYFIGURE_H
#define QUALITYFIGURE_H

#include "colourscience.h"

#include <QtGlobal>

// How close what the Atari shows comes to the photograph.
namespace QualityFigure {

// Mean CIEDE2000 over the 76800 screen pixels of screen (Atari colour bytes, 320 x 240) between
// the palette colour shown there (paletteLab, 256 entries) and the averaged colour (averaged,
// 19200 RGB values 0x00RRGGBB) of the Atari pixel beneath. 0 is a perfect match; lower is better.
double meanDeltaE2000(const quint8 *screen, const quint32 *averaged, const ColourScience::Lab *paletteLab);

// The figures of two alternating frames over the 76800 screen pixels.
struct TwoFrameFigures
{
    double quality = 0.0;     // mean CIEDE2000 between the blend and the averaged colour beneath
    double flickerMean = 0.0; // mean |L*(frame A colour) - L*(frame B colour)|
    double flickerMax = 0.0;  // the largest |L*(A) - L*(B)|
};

// The figures of screenA and screenB (Atari colour bytes, 320 x 240 each) shown in alternate frames:
// each screen pixel shows TwoFrameConverter::blendLab of palette[A] and palette[B] (palette: 256
// values 0x00RRGGBB, paletteLab their CIE L*a*b*), compared with averaged (19200 values 0x00RRGGBB).
TwoFrameFigures twoFrameFigures(const quint8 *screenA, const quint8 *screenB, const quint32 *averaged,
                                const quint32 *palette, const ColourScience::Lab *paletteLab);

// Through a PAL TV (PalDisplay): meanDeltaE2000 with each screen pixel showing the PAL model's exact
// mean colour of screen (the line above the picture black) in palette (256 values 0x00RRGGBB).
double palMeanDeltaE2000(const quint8 *screen, const quint32 *averaged, const quint32 *palette);

// Through a PAL TV: twoFrameFigures with each frame seen through the PAL model, the two seen colours
// blended in linear light (PalDisplay::blendLab); the flicker figures are |L*| differences of the
// two frames' seen colours.
TwoFrameFigures palTwoFrameFigures(const quint8 *screenA, const quint8 *screenB, const quint32 *averaged,
                                   const quint32 *palette);

} // namespace QualityFigure

#endif
