#include "plaindisplay.h"

#include "atarigeometry.h"
#include "linearblend.h"

#include <cmath>

using namespace Geometry;

void PlainDisplay::view(const ScreenFrames &screens, const quint32 *palette, quint32 *rgb) const
{
    const quint8 *a = screens.frame[0];
    if (screens.count == 1) {
        for (int i = 0; i < kSourcePixels; ++i)
            rgb[i] = palette[a[i]];
        return;
    }
    const quint8 *b = screens.frame[1];
    for (int i = 0; i < kSourcePixels; ++i) {
        // Neighbouring screen pixels mostly show the same pair: blend it once.
        if (i > 0 && a[i] == a[i - 1] && b[i] == b[i - 1])
            rgb[i] = rgb[i - 1];
        else
            rgb[i] = LinearBlend::rgb(palette[a[i]], palette[b[i]]);
    }
}

void PlainDisplay::see(const ScreenFrames &screens, const quint32 *palette, ColourScience::Lab *lab,
                       double *flicker) const
{
    ColourScience::Lab paletteLab[256];
    for (int i = 0; i < 256; ++i)
        paletteLab[i] = ColourScience::labFromRgb(palette[i]);
    const quint8 *a = screens.frame[0];
    if (screens.count == 1) {
        for (int i = 0; i < kSourcePixels; ++i)
            lab[i] = paletteLab[a[i]];
        return;
    }
    const quint8 *b = screens.frame[1];
    for (int i = 0; i < kSourcePixels; ++i) {
        if (i > 0 && a[i] == a[i - 1] && b[i] == b[i - 1])
            lab[i] = lab[i - 1];
        else
            lab[i] = LinearBlend::lab(palette[a[i]], palette[b[i]]);
        if (flicker)
            flicker[i] = std::fabs(paletteLab[a[i]].L - paletteLab[b[i]].L);
    }
}
