#ifndef BESTCONVERSION_H
#define BESTCONVERSION_H

#include "ciede2000bounds.h"
#include "colourscience.h"

#include <QtGlobal>

// The best conversion: for every hue segment of every line pair, the hue and the per-pixel
// luminances that minimise the sum of CIEDE2000 differences between the averaged colours
// (chroma scaled) and the palette colours they become. The result is the exact optimum of
// that sum, as a search over all 16 hues and 16 luminances per pixel would find it: among
// equal sums the lowest hue, among equal differences the lowest luminance. Lower bounds on
// CIEDE2000 skip only candidates that cannot win or tie.
class BestConverter
{
public:
    // Every palette entry black until setPalette is called.
    BestConverter();

    // Takes 256 palette colours (0x00RRGGBB, top byte ignored), index = hue * 16 + luminance,
    // and prepares their CIE L*a*b* values for every later conversion.
    void setPalette(const quint32 *rgb256);

    // All 256 palette entries as CIE L*a*b*, index hue * 16 + luminance.
    const ColourScience::Lab *paletteLabs() const { return lab; }

    // The colour an averaged pixel (0x00RRGGBB) is matched as: its CIE L*a*b* with a* and b*
    // multiplied by chromaFactor (0.0 grey, 1.0 as photographed, 2.0 twice as colourful).
    static ColourScience::Lab scaledLab(quint32 rgb, double chromaFactor);

    // Converts 19200 averaged colours (0x00RRGGBB, index y * 80 + x) with chromaFactor (0.0 to 2.0):
    // writes output[19200] (hue << 4 | luminance) and hues[1560] (hue << 4, index 13 * pair + segment).
    // Shares the line pairs among `threads` threads including the calling one, at most one per line
    // pair (forEachLinePair); the result does not depend on their number. Keeps its scratch space
    // on their stacks and changes no member, so separate pictures may be converted in parallel.
    void convert(const quint32 *averaged, double chromaFactor, quint8 *output, quint8 *hues, int threads) const;

    // Lower bounds of deltaE2000(x, paletteLabs()[i]) for every palette index i (bounds[256]), as the
    // conversion uses them to pass over candidates: the larger of its screening and near bounds,
    // less safety margins for rounding.
    void differenceBounds(const ColourScience::Lab &x, double *bounds) const;

private:
    struct Run;
    void convertPair(Run &run, int pair, const quint32 *averaged, double chromaFactor, quint8 *output,
                     quint8 *hues) const;
    void convertRun(Run &run) const;
    void screenPixel(const ColourScience::Lab &x, double chroma1, float (*screen)[16], double *hueBound) const;
    void nearGroup(const ColourScience::Lab &x, double chroma1, int hue, int group, float *near) const;
    void nearBounds(Run &run, int pixel, int hue, int group) const;
    double lowestBound(Run &run, int pixel, int hue) const;
    void lowestDifference(Run &run, int pixel, int hue, double *difference, quint8 *luminance) const;

    ColourScience::Lab lab[256];
    double chroma[256];
    // The same colours by hue, for the screening bound: [hue][luminance].
    alignas(16) float hueL[16][16];
    alignas(16) float hueA[16][16];
    alignas(16) float hueB[16][16];
    alignas(16) float hueC[16][16];
    // Per hue, the lowest and highest chroma, rounded outwards to float.
    alignas(16) float hueMinChroma[16];
    alignas(16) float hueMaxChroma[16];
    // Per number of 15-degree steps from 275 degrees (1 to 6) and hue: the range of positions of the
    // hue's colours along the arc of hues that far from 275 degrees (rounded outwards to float), or a
    // range far wider than the arc when they do not all lie on it.
    alignas(16) float hueArcLow[Ciede2000Bounds::kRotationSteps][16];
    alignas(16) float hueArcHigh[Ciede2000Bounds::kRotationSteps][16];
};

#endif
