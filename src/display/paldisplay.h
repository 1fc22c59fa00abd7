#ifndef PALDISPLAY_H
#define PALDISPLAY_H

#include "displaymodel.h"

// A PAL TV. Its delay line averages the chroma of every line with the line above while each line
// keeps its own luma; on the Atari this comes down to: screen pixel (x, y) shows, in gamma-encoded
// sRGB, channel by channel, the mean of
//     palette[c(x, y)] and palette[(c(x, y - 1) & 0xF0) | (c(x, y) & 0x0F)],
// with colour byte 0 (black) above the first line. Two alternating frames are each seen that way,
// then blended in linear light. Means are kept exact (in half levels); only the view rounds them,
// halves up (a blend: to the nearest level).
class PalDisplay : public DisplayModel
{
public:
    void view(const ScreenFrames &screens, const quint32 *palette, quint32 *rgb) const override;
    void see(const ScreenFrames &screens, const quint32 *palette, ColourScience::Lab *lab,
             double *flicker) const override;
    DisplayPlan plan() const override { return DisplayPlan::PalDelayLine; }

    // The colour byte a pixel of colour byte own is averaged with when the pixel above shows above:
    // the hue of above with the luminance of own.
    static quint8 partner(quint8 own, quint8 above) { return quint8((above & 0xF0) | (own & 0x0F)); }

    // Channel sums (0 to 510 each) of two colours 0x00RRGGBB: twice their exact mean.
    struct Sum
    {
        int r = 0;
        int g = 0;
        int b = 0;
    };
    static Sum sum(quint32 rgbA, quint32 rgbB);
    // What a pixel of colour byte own under a pixel of colour byte above shows, as channel sums.
    static Sum seenSum(const quint32 *palette, quint8 own, quint8 above)
    {
        return sum(palette[own], palette[partner(own, above)]);
    }

    // The seen-colour table the PAL methods look up: what each colour byte own (0 to 255) shows under a
    // pixel of hue above (0 to 15), as channel sums, at index own * 16 + above. The palette's colours
    // are taken from their low 24 bits; put(index, sum) is called for each of the kSeenEntries entries.
    static constexpr int kSeenEntries = 256 * 16;
    template <typename Put>
    static void seenTable(const quint32 *rgb256, Put &&put)
    {
        quint32 palette[256];
        for (int i = 0; i < 256; ++i)
            palette[i] = rgb256[i] & 0xFFFFFFu;
        for (int own = 0; own < 256; ++own) {
            for (int above = 0; above < 16; ++above)
                put(own * 16 + above, seenSum(palette, quint8(own), quint8(above << 4)));
        }
    }

    // Linear light (0 to 1) of the mean of a channel sum (0 to 510), decoded from sRGB: for an even sum
    // 2v the linear light ColourScience uses for channel value v.
    static double linear(int channelSum);
    // CIE XYZ (Y from 0 to 1) and CIE L*a*b* of the exact mean colour a sum stands for.
    static void xyzOfSum(const Sum &s, double xyz[3]);
    static ColourScience::Lab labOfSum(const Sum &s);
    // The mean rounded to whole levels, halves up: 0x00RRGGBB.
    static quint32 rgbOfSum(const Sum &s);

    // Two alternating frames showing sums a and b, as the eye blends them: each decoded to linear light,
    // averaged, as CIE L*a*b* (as LinearBlend::lab does for whole colours), or encoded to sRGB and
    // rounded to whole levels, 0x00RRGGBB.
    static ColourScience::Lab blendLab(const Sum &a, const Sum &b);
    static quint32 blendRgb(const Sum &a, const Sum &b);

    // view for screens of any size: width x height colour bytes, row by row, into rgb[width * height].
    static void viewScreen(const quint8 *screen, int width, int height, const quint32 *palette, quint32 *rgb);
    static void viewTwoFrames(const quint8 *screenA, const quint8 *screenB, int width, int height,
                              const quint32 *palette, quint32 *rgb);
};

#endif
