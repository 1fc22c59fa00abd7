#ifndef EXHAUSTIVESEARCH_H
#define EXHAUSTIVESEARCH_H

#include "atarigeometry.h"
#include "bestconversion.h"
#include "colourscience.h"

#include <QtGlobal>

#include <algorithm>

// The search the best converter must agree with, written the plain way: for one hue segment
// (averaged[0..n), 0x00RRGGBB), every hue and every luminance of every pixel, CIEDE2000 differences
// to the palette (paletteLab[256], index hue * 16 + luminance) summed; a later hue or luminance wins
// only when strictly lower. Writes output[0..n) (hue << 4 | luminance) and returns the hue << 4.
inline quint8 exhaustiveSegment(const quint32 *averaged, int n, double chromaFactor,
                                const ColourScience::Lab *paletteLab, quint8 *output)
{
    double bestSum = 0.0;
    int bestHue = -1;
    for (int hue = 0; hue < 16; ++hue) {
        double sum = 0.0;
        quint8 lums[Geometry::kAtariWidth] = {};
        for (int k = 0; k < n; ++k) {
            const ColourScience::Lab x = BestConverter::scaledLab(averaged[k], chromaFactor);
            double lowest = 0.0;
            for (int lum = 0; lum < 16; ++lum) {
                const double d = ColourScience::deltaE2000(x, paletteLab[hue * 16 + lum]);
                if (lum == 0 || d < lowest) {
                    lowest = d;
                    lums[k] = quint8(lum);
                }
            }
            sum += lowest;
        }
        if (bestHue < 0 || sum < bestSum) {
            bestSum = sum;
            bestHue = hue;
            for (int k = 0; k < n; ++k)
                output[k] = quint8(hue << 4 | lums[k]);
        }
    }
    return quint8(bestHue << 4);
}

#endif
