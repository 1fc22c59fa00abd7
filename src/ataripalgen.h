#ifndef ATARIPALGEN_H
#define ATARIPALGEN_H

#include "nearestindex.h"

#include <QtGlobal>

#include <vector>

// The Atari palette in two forms, indexed by Atari colour byte (hue * 16 + luminance):
// the stored base palette and a palette generated from hue angles, brightness steps and a
// saturation. All RGB values are 0x00RRGGBB; the top byte of any argument is ignored.
class ATARIpalGen
{
public:
    // The saturation the generated palette is built with until setSaturation is called.
    static constexpr double kInitialSaturation = 0.6;

    // Builds the base palette and the generated palette at saturation 0.6.
    ATARIpalGen();

    // Sets the HSV saturation (0.0 to 1.0) of hues 1 to 15 and rebuilds the generated palette.
    void setSaturation(double s);
    // The saturation the generated palette was last built with, 0.0 to 1.0.
    double getSaturation() const { return saturation; }

    // Replaces the base palette with rgb (256 values 0x00RRGGBB, index hue * 16 + luminance);
    // nullptr restores the stored one. The generated palette and the search are unaffected.
    void setBasePalette(const quint32 *rgb);
    // Whether the base palette is the stored one.
    bool hasBuiltInBase() const { return builtInBase; }

    // Generated palette entry of Atari colour byte x; returns 0x00RRGGBB.
    quint32 getRGB(unsigned char x) const { return generatedPalette[x]; }
    // Stored base palette entry of Atari colour byte x; returns 0x00RRGGBB.
    quint32 getBase(unsigned char x) const { return basePalette[x]; }
    // The whole base palette, 256 entries indexed by colour byte.
    std::vector<quint32> baseColours() const { return {basePalette, basePalette + 256}; }
    // Gray ramp entry of the luminance x & 15 (000000 to FFFFFF); the hue nibble is ignored.
    quint32 getGray(unsigned char x) const { return grayRamp[x & 15]; }
    // Green ramp entry of the luminance x & 15; the hue nibble is ignored.
    quint32 getGreen(unsigned char x) const { return greenRamp[x & 15]; }

    // Per-channel mean of four RGB values, remainders dropped.
    quint32 average(quint32 a, quint32 b, quint32 c, quint32 d) const;
    // Nearest Atari colour byte of p: hue of the closest generated entry (the lowest index among
    // equally close ones), luminance of p's luma (luma >> 4). Not for two threads at once: the
    // search fills its index on first use of each colour region after a saturation change.
    unsigned char nearest(quint32 p) const;
    // Whole part of the luma (R * 0.299 + G * 0.587) + B * 0.114 of p, 0 to 255, exactly as IEEE
    // double arithmetic rounds every product and sum: 0x808080 gives 127, not 128.
    static int luma(quint32 p);
    // Squared RGB distance, 0 to 195075.
    quint32 distance(quint32 p, quint32 q) const;
    // x * x in signed 32-bit arithmetic.
    int sq(int x) const { return x * x; }

private:
    void rebuild();
    quint32 calc(unsigned char x) const;

    double saturation = 0.0;
    quint32 basePalette[256];
    bool builtInBase = true;
    quint32 generatedPalette[256];
    quint32 grayRamp[16];
    quint32 greenRamp[16];
    mutable NearestIndex index;
};

#endif
