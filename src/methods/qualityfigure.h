#ifndef QUALITYFIGURE_H
#define QUALITYFIGURE_H

#include "displaymodel.h"

#include <QtGlobal>

// How close what the Atari shows comes to the photograph.
namespace QualityFigure {

struct Figures
{
    double quality = 0.0;     // mean CIEDE2000 between what is seen and the averaged colour beneath
    double flickerMean = 0.0; // with two frames the mean |L*(A) - L*(B)| of the frames' seen colours
    double flickerMax = 0.0;  // with two frames the largest |L*(A) - L*(B)|
};

// The figures over the 76800 screen pixels of screens seen through model with palette (256 values
// 0x00RRGGBB), against averaged (19200 values 0x00RRGGBB, the Atari pixel beneath each screen
// pixel). Quality 0 is a perfect match; lower is better. Flicker figures are 0 with one frame.
Figures figures(const ScreenFrames &screens, const quint32 *palette, const DisplayModel &model,
                const quint32 *averaged);

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
