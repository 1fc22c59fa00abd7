#ifndef DITHER_H
#define DITHER_H

#include "colourscience.h"

#include <QtGlobal>

// Error diffusion inside the run structure: every run keeps its hue, and each pixel's luminance
// is chosen for the photo's lightness plus the lightness error that its neighbours left over.
namespace Dither {

// Largest lightness error (CIE L*) that one pixel passes on, so that flat areas settle into a
// steady pattern instead of drifting.
constexpr double kMaxCarry = 3.0;

// Rewrites the luminance nibble of every output byte (19200, hue nibbles kept) by Floyd-Steinberg
// diffusion of the L* error, row by row from the top left. averaged: 19200 RGB values whose
// chroma is scaled by chromaFactor as the best method does; paletteLab: 256 palette colours.
void diffuseLuminance(const quint32 *averaged, double chromaFactor, const ColourScience::Lab *paletteLab,
                      quint8 *output);

} // namespace Dither

#endif
