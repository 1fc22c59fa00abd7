#ifndef PALBESTCONVERSION_H
#define PALBESTCONVERSION_H

#include "colourscience.h"
#include "paldisplay.h"

#include <QtGlobal>

#include <vector>

struct PalLayout;

// The best conversion for a PAL TV (PalDisplay): run hues chosen for the colours they make with the
// lines above and below, and every pixel's luminance chosen for its own mixed colour.
//
// The objective is the quality figure as seen through the PAL model: the sum over the 76800 screen
// pixels of deltaE2000(what the TV shows there, the chroma-scaled averaged colour beneath). The hue a
// screen pixel shows is the one the kernel's colour stores have set when the beam reaches it
// (AtariView::landings), up to half an Atari pixel off the run boundaries, and the line above the
// picture is black (colour byte 0); the objective counts every screen pixel as it is shown.
//
// Exact: given the hues, every pixel's luminance minimises the summed difference of its four screen
// pixels (the lowest luminance among equal sums). Not exact: the hues. Lines couple in a chain with 16
// hues per run, so the result is a local optimum: starting from the given hues (the plain best
// result), every run in turn gets its best hue given all others, and runs are visited again while a
// neighbour changes, until no run can lower the total by changing its hue alone (by more than 1e-9).
class PalBestConverter
{
public:
    // Every palette entry black until setPalette is called.
    PalBestConverter();
    ~PalBestConverter();

    // Takes 256 palette colours (0x00RRGGBB, top byte ignored), index = hue * 16 + luminance, and
    // prepares every colour a pixel can show under a pixel of any hue.
    void setPalette(const quint32 *rgb256);

    // Converts 19200 averaged colours (0x00RRGGBB, index y * 80 + x) with chromaFactor (0.0 to 2.0, as
    // BestConverter::scaledLab), starting from the run hues startHues[1560] (hue << 4): writes
    // output[19200] (hue << 4 | luminance) and hues[1560] (hue << 4, index 13 * pair + segment).
    // Uses the calling thread only; keeps its scratch space in this object.
    void convert(const quint32 *averaged, double chromaFactor, const quint8 *startHues, quint8 *output,
                 quint8 *hues);

    // The objective of the last conversion: the summed difference over the screen pixels.
    double total() const { return lastTotal; }
    // Hue changes the last conversion made.
    int runUpdates() const { return updatesTaken; }

    // With the pixels of averaged (chroma scaled) and hues[1560] (hue << 4): the summed difference
    // over the screen pixels with each pixel at its best luminance, and those luminances' output
    // bytes (output[19200], may be null).
    double cost(const quint32 *averaged, double chromaFactor, const quint8 *hues, quint8 *output);

    // With every other run at hues[1560] (hue << 4), the hue (0 to 15) that gives run (0 to 1559) the
    // lowest total, the lowest hue among equal totals; totals[16] receives the total (all pixels) with
    // each hue.
    int bestHueOfRun(const quint32 *averaged, double chromaFactor, const quint8 *hues, int run, double *totals);

private:
    void prepare(const quint32 *averaged, double chromaFactor, const quint8 *hues);
    double pixelCost(int pixel);
    double pairCost(int pixel, int ownHue, int aboveHue, int *luminance);
    double partsCost(int pixel, int *luminance);
    double finish(quint8 *output);
    double runCost(int run, double limit);
    bool updateRun(int run);
    void settle(std::vector<int> &queue);

    ColourScience::Lab seen[PalDisplay::kSeenEntries]; // own colour byte * 16 + hue above (PalDisplay::seenTable)
    const PalLayout &layout;
    std::vector<ColourScience::Lab> photo; // per Atari pixel, chroma scaled
    std::vector<double> cache;             // per Atari pixel and (own hue, hue above); < 0 unknown
    std::vector<quint8> cachedLuminance;   // the luminance reaching it
    std::vector<quint8> slotHue;           // per hue slot: runs, then the constants' hues
    std::vector<char> queued;
    double lastTotal = 0.0;
    int updatesTaken = 0;
};

#endif
