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

} // namespace QualityFigure

#endif
