#ifndef PALTWOFRAMECONVERSION_H
#define PALTWOFRAMECONVERSION_H

#include "colourscience.h"
#include "paldisplay.h"

#include <QtGlobal>

#include <vector>

struct PalLayout;

// Two frames shown alternately on a PAL TV: each frame seen through the PAL model (PalDisplay), the
// two seen colours blended in linear light.
//
// The objective is the two-frame quality figure through the PAL model: the sum over the 76800 screen
// pixels of deltaE2000(blend of what frame A and frame B show there, the chroma-scaled averaged colour
// beneath), with the hues the kernel's stores set (PalLayout) and black above the picture.
//
// The flicker limit F (0 to 100) holds for what is seen: at every screen pixel, the L* of what frame A
// shows there (the PAL model's mean of its colour and its partner) and the L* of what frame B shows
// there are at most F apart. A pixel whose hues allow no luminance pair within the limit costs
// kInfeasible more than any that does, so hue changes never create one and remove those they can.
//
// Exact: given the hues of both frames, every pixel's luminance pair (lA, lB) is the one within the
// limit with the lowest summed difference over its screen pixels (among equal sums the lowest
// lA * 16 + lB). Not exact: the hues. Starting from the given hues (the two-frame conversion's), each
// run's hue in frame A, then in frame B, is replaced by the best of a set of candidates given all other
// hues, and runs are visited again while a neighbour changes, until no run can lower the total by
// changing one of its two hues alone to a candidate (by more than 1e-9). The candidates of a run are
// the hues its neighbours (the runs it shares pixels with) and itself show in either frame, grey
// (hue 0) and the two hues next to its own on the circle of hues 1 to 15: all 16 would take about
// three times as long for a little more (on chelsea, coffee and rocket a mean figure 1 % lower).
class PalTwoFrameConverter
{
public:
    // Added to a pixel's cost when no luminance pair meets the flicker limit.
    static constexpr double kInfeasible = 1e6;

    // Every palette entry black until setPalette is called.
    PalTwoFrameConverter();
    ~PalTwoFrameConverter();

    // Takes 256 palette colours (0x00RRGGBB, top byte ignored), index = hue * 16 + luminance.
    void setPalette(const quint32 *rgb256);

    // Converts 19200 averaged colours (0x00RRGGBB) with chromaFactor (0.0 to 2.0) and flickerLimit
    // (0 to 100, in L*) from the start hues startA and startB (1560 each, hue << 4) into frame A and
    // frame B: output[19200] (hue << 4 | luminance) and hues[1560] (hue << 4). Uses the calling thread.
    void convert(const quint32 *averaged, double chromaFactor, int flickerLimit, const quint8 *startA,
                 const quint8 *startB, quint8 *outputA, quint8 *huesA, quint8 *outputB, quint8 *huesB);

    // The objective of the last conversion, and its Atari pixels without a luminance pair in the limit.
    double total() const { return lastTotal; }
    int infeasiblePixels() const { return lastInfeasible; }
    int runUpdates() const { return updatesTaken; }

    // The total for the hues huesA and huesB (1560 each, hue << 4), every pixel at its best luminance
    // pair, and those pairs' output bytes (outputA, outputB: 19200 each, may be null).
    double cost(const quint32 *averaged, double chromaFactor, int flickerLimit, const quint8 *huesA,
                const quint8 *huesB, quint8 *outputA, quint8 *outputB);

    // With all other hues at huesA and huesB, the hue (0 to 15) of run (0 to 1559) in frame (0 A, 1 B)
    // that gives the lowest total, the lowest among equal totals; totals[16] receives the total with each.
    int bestHueOfRun(const quint32 *averaged, double chromaFactor, int flickerLimit, const quint8 *huesA,
                     const quint8 *huesB, int frame, int run, double *totals);

private:
    struct Entry;
    void prepare(const quint32 *averaged, double chromaFactor, int flickerLimit, const quint8 *huesA,
                 const quint8 *huesB);
    double pixelCost(int pixel, int *pairOut);
    double evaluate(int pixel, int *pairOut) const;
    double runCost(int run, double limit);
    bool updateRun(int frame, int run);
    double finish(quint8 *outputA, quint8 *outputB);

    double seenXyz[PalDisplay::kSeenEntries][3]; // PalDisplay::seenTable: what the TV shows, CIE XYZ
    double seenL[PalDisplay::kSeenEntries];      // and its L*
    const PalLayout &layout;
    double flicker = 0.0;
    std::vector<ColourScience::Lab> photo;
    std::vector<Entry> cache;           // per Atari pixel, kWays entries
    std::vector<quint8> slotHue[2];     // per frame and hue slot
    std::vector<char> queued[2];
    double lastTotal = 0.0;
    int lastInfeasible = 0;
    int updatesTaken = 0;
};

#endif
