#ifndef LINEARBLEND_H
#define LINEARBLEND_H

#include "colourscience.h"

#include <QtGlobal>

// Two colours shown in alternate frames, as the eye blends them: sRGB decoded to linear light and
// averaged.
namespace LinearBlend {

// The blend of rgbA and rgbB (0x00RRGGBB) as CIE L*a*b* (D65), unrounded: what a conversion matches.
ColourScience::Lab lab(quint32 rgbA, quint32 rgbB);

// The same encoded back to sRGB and rounded to 8 bits per channel, for display.
quint32 rgb(quint32 rgbA, quint32 rgbB);

} // namespace LinearBlend

#endif
