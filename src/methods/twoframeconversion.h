#ifndef TWOFRAMECONVERSION_H
#define TWOFRAMECONVERSION_H

#include "ciede2000bounds.h"
#include "colourscience.h"

#include <QtGlobal>

#include <limits>
#include <vector>

// The conversion for two frames shown alternately (frame A, frame B), which the eye blends in linear
// light, at its exact optimum.
//
// The problem, per line pair (line pairs are independent): for each of its 13 runs an ordered hue
// pair (hue A, hue B), and for each Atari pixel a luminance pair (lA, lB), minimising the total over
// the line pair of d = deltaE2000(scaledLab(averaged colour), blendLab(palette[hue A * 16 + lA],
// palette[hue B * 16 + lB])) (LinearBlend::lab), with the run's own hues, subject to the flicker limit F: wherever the
// Atari shows the pixel, the two colours shown there (frame A, frame B) have L* at most F apart.
// The hue shown changes where the kernel's colour stores land (AtariView::landings()), up to half an
// Atari pixel from the run boundaries, so a pixel next to a boundary also shows, in some of its screen
// pixels, the neighbouring run's hue pair with the pixel's own luminances (lA, lB), or a constant
// colour stored by the kernel; the limit holds for all of them. F = 0 means equal L* in both frames.
// L* is that of the palette entry (CIE L*a*b* of its sRGB value); the test is |L*A - L*B| <= F.
//
// Totals are exact: each difference counts as floor(d * 2^40) / 2^40 (below 1e-12 from d), summed
// as whole numbers, so no total depends on the order of its terms.
//
// Ties: the luminances of a pixel are, given the hues in effect, the allowed pair with the lowest d
// (among equal d the lowest lA * 16 + lB); the hue pairs of a line pair minimise its total, and among
// equal totals the sequence of hue pairs (run 0 first, each compared as hue A * 16 + hue B) is the
// lowest. Lower bounds of CIEDE2000 pass over only candidates that cannot win or tie.
class TwoFrameConverter
{
public:
    // Every palette entry black until setPalette is called.
    TwoFrameConverter();

    // Takes 256 palette colours (0x00RRGGBB, top byte ignored), index = hue * 16 + luminance, and
    // prepares the blends of all pairs of them for every later conversion.
    void setPalette(const quint32 *rgb256);

    // Converts 19200 averaged colours (0x00RRGGBB, index y * 80 + x) with chromaFactor (0.0 to 2.0, the
    // photo's a* and b* multiplied by it, as BestConverter::scaledLab) and flickerLimit (0 to 100, in L*)
    // into frame A and frame B: output[19200] (hue << 4 | luminance) and hues[1560] (hue << 4, index
    // 13 * pair + segment). Shares the line pairs among `threads` threads including the calling one, at
    // most one per line pair (forEachLinePair); the result does not depend on their number. Changes no
    // member: separate pictures may be converted in parallel.
    void convert(const quint32 *averaged, double chromaFactor, int flickerLimit, int threads,
                 quint8 *outputA, quint8 *huesA, quint8 *outputB, quint8 *huesB) const;

    // As convert, for the line pairs firstPair to lastPair (0 to 119) only: writes their pixels and
    // hues and leaves every other entry of the outputs as it was. Each line pair's result is the one
    // convert gives it.
    void convertPairs(const quint32 *averaged, double chromaFactor, int flickerLimit, int firstPair,
                      int lastPair, int threads, quint8 *outputA, quint8 *huesA, quint8 *outputB,
                      quint8 *huesB) const;

private:
    struct Tables;
    struct Pixel;
    struct Run;
    struct Screens;
    struct Workspace;
    static constexpr int kUnordered = 136;     // unordered hue pairs

    void prepareTables(int flickerLimit, Tables &tables) const;
    void convertPair(Workspace &work, int pair, const quint32 *averaged, double chromaFactor,
                     quint8 *outputA, quint8 *huesA, quint8 *outputB, quint8 *huesB) const;
    void preparePixel(Pixel &pixel, quint32 rgb, double chromaFactor) const;
    void screeningWeights(Pixel &pixel) const;
    void pairBounds(const Workspace &work, Pixel &pixel, qint64 *bounds) const;
    void computeScreens(const Tables &t, const Pixel &pixel, int u, int firstEntry, int lastEntry,
                        float *screens) const;
    void widenScreens(const Tables &t, const Pixel &pixel, int u, Screens &screens, float bar) const;
    double screenPair(const Workspace &work, const Pixel &pixel, int u, Screens &screens) const;
    bool pixelMin(const Workspace &work, const Pixel &pixel, int hueA, int hueB, const quint64 *mask,
                  Screens &screens, double *difference, int *luminances,
                  double within = std::numeric_limits<double>::infinity()) const;
    qint64 runCost(Workspace &work, Run &run, int u, qint64 limit) const;
    void search(Workspace &work, Run &run, qint64 threshold, bool shrink) const;
    qint64 solvePair(Workspace &work, const qint64 *gaps) const;
    struct Own {
        double difference = 0.0;
        int luminances = 0;
    };
    Own ownLowest(Workspace &work, const Pixel &pixel, int own) const;
    qint64 boundaryRise(Workspace &work, const Pixel &pixel, int own, const Own &lowest, int shown) const;
    qint64 penaltyBetween(Workspace &work, int s, int left, int right) const;
    qint64 blockCost(Workspace &work, int s, qint64 limit) const;

    ColourScience::Lab lab[256];
    // Blends of palette entries i and j (i * 256 + j), exact and in float for the bounds.
    std::vector<ColourScience::Lab> blends;
    std::vector<float> blendL, blendA, blendB, blendC;
    // Their hues' positions from 275 degrees (Ciede2000Bounds::bluePositions).
    std::vector<float> blendBlueLow, blendBlueHigh;
    // Per unordered hue pair: the lowest and highest chroma of its blends (rounded outwards to float).
    float pairMinChroma[kUnordered];
    float pairMaxChroma[kUnordered];
};

#endif
