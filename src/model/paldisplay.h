#ifndef PALDISPLAY_H
#define PALDISPLAY_H

#include "colourscience.h"

#include <QtGlobal>

// How a PAL TV shows a screen of Atari colour bytes. Its delay line averages the chroma of every
// line with the line above while each line keeps its own luma; on the Atari this comes down to:
// screen pixel (x, y) shows, in gamma-encoded sRGB, channel by channel, the mean of
//     palette[c(x, y)] and palette[(c(x, y - 1) & 0xF0) | (c(x, y) & 0x0F)],
// with colour byte 0 (black) above the first line. Two alternating frames are each seen that way,
// then blended in linear light. Means are kept exact (in half levels) and rounded only for display.
namespace PalDisplay {

// The colour byte a pixel of colour byte own is averaged with when the pixel above shows above:
// the hue of above with the luminance of own.
inline quint8 partner(quint8 own, quint8 above)
{
    return quint8((above & 0xF0) | (own & 0x0F));
}

// Channel sums (0 to 510 each) of two colours 0x00RRGGBB: twice their exact mean.
struct Sum
{
    int r = 0;
    int g = 0;
    int b = 0;
};
Sum sum(quint32 rgbA, quint32 rgbB);

// What a pixel of colour byte own under a pixel of colour byte above shows, as channel sums.
inline Sum seenSum(const quint32 *palette, quint8 own, quint8 above)
{
    return sum(palette[own], palette[partner(own, above)]);
}

// Linear light (0 to 1) of the mean of a channel sum (0 to 510), decoded from sRGB: equal, for an even
// sum 2v, to the linear light ColourScience uses for channel value v.
double linear(int channelSum);
// CIE XYZ (Y from 0 to 1) and CIE L*a*b* of the exact mean colour a sum stands for.
void xyzOfSum(const Sum &s, double xyz[3]);
ColourScience::Lab labOfSum(const Sum &s);
// The mean rounded to whole levels, halves up: 0x00RRGGBB.
quint32 rgbOfSum(const Sum &s);

// The colour the eye sees for two alternating frames showing sums a and b: each decoded to linear
// light, averaged, and as CIE L*a*b* (as TwoFrameConverter::blendLab does for whole colours), or
// encoded to sRGB and rounded to whole levels, 0x00RRGGBB.
ColourScience::Lab blendLab(const Sum &a, const Sum &b);
quint32 blendRgb(const Sum &a, const Sum &b);

// Screens are width x height colour bytes, row by row (the Atari view is 320 x 240).
// What one frame shows: rgb[width * height] (0x00RRGGBB) from screen and palette (256 colours).
void view(const quint8 *screen, int width, int height, const quint32 *palette, quint32 *rgb);
// What two alternating frames show, blended: rgb[width * height].
void twoFrameView(const quint8 *screenA, const quint8 *screenB, int width, int height, const quint32 *palette,
                  quint32 *rgb);

// The sums one frame shows: sums[width * height].
void seenSums(const quint8 *screen, int width, int height, const quint32 *palette, Sum *sums);

} // namespace PalDisplay

#endif
