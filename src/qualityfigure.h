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

} // namespace QualityFigure

#endif
