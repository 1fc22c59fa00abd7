#ifndef PALLAYOUT_H
#define PALLAYOUT_H

#include "atarigeometry.h"

#include <QtGlobal>

#include <limits>
#include <vector>

// Where every screen pixel takes its hues from, as a PAL TV sees them: its own hue and the hue of
// the pixel above, each set by the kernel's colour stores (AtariView::landings) up to half an Atari
// pixel off the run boundaries; above the picture the background is black.
//
// Hues come from slots: slot r (0 to 1559) is run r's hue (index 13 * pair + segment), slot
// kHues + h is the constant hue h the kernel stores (black, hue 0, above the picture and at the ends
// of lines).
struct PalLayout {
    static constexpr int kConstantSlots = 16;
    static constexpr int kSlots = Geometry::kHues + kConstantSlots;
    // A group of an Atari pixel's screen pixels that take their own hue and the hue above from the
    // same two slots.
    struct Part {
        quint16 own;
        quint16 above;
        quint8 weight; // screen pixels, 1 to 4
    };
    struct Pixel {
        quint8 parts = 0;
        Part part[Geometry::kSourcePerAtari];
    };
    // Per Atari pixel (index y * 80 + x): its parts, their weights adding up to 4.
    std::vector<Pixel> pixels;
    // Per run: the Atari pixels whose colour depends on its hue (ascending), and the runs that share
    // such pixels with it.
    std::vector<std::vector<int>> affected;
    std::vector<std::vector<int>> neighbours;
    // Per Atari pixel: the run it belongs to, whose hue its output byte carries.
    std::vector<int> runOf;

    // The layout of the kernel's landings, worked out once.
    static const PalLayout &shared();

    // A run's hue changes only when it lowers the total by more than this.
    static constexpr double kImprovement = 1e-9;
    // The per-run update of the PAL methods: sets slot (a run's hue, 0 to 15) in turn to each hue of
    // tried (bit h for hue h) but its own, ascending, and keeps the one whose cost(limit) (the run's
    // total, which may stop once above limit) is lowest by more than kImprovement. Leaves slot at that
    // hue; returns whether it changed.
    template <typename Cost>
    static bool improveHue(quint8 &slot, quint32 tried, Cost &&cost)
    {
        const quint8 current = slot;
        double best = cost(std::numeric_limits<double>::infinity());
        quint8 bestHue = current;
        for (int h = 0; h < 16; ++h) {
            if (h == current || !(tried >> h & 1u))
                continue;
            slot = quint8(h);
            const double c = cost(best - kImprovement);
            if (c < best - kImprovement) {
                best = c;
                bestHue = quint8(h);
            }
        }
        slot = bestHue;
        return bestHue != current;
    }

    // With slot (run's hue) set in turn to each hue 0 to 15: the total over all Atari pixels, pixelCost(p)
    // summed, into totals[16] (the pixels that do not depend on the run once, the others by
    // runCost(limit) without a limit). Returns the hue of the lowest total, the lowest among equals.
    template <typename PixelCost, typename RunCost>
    int everyHueOfRun(int run, quint8 &slot, PixelCost &&pixelCost, RunCost &&runCost, double *totals) const
    {
        std::vector<char> depends(pixels.size(), 0);
        for (int p : affected[size_t(run)])
            depends[size_t(p)] = 1;
        double others = 0.0;
        for (size_t p = 0; p < pixels.size(); ++p)
            if (!depends[p])
                others += pixelCost(int(p));
        int bestHue = 0;
        double best = std::numeric_limits<double>::infinity();
        for (int h = 0; h < 16; ++h) {
            slot = quint8(h);
            const double c = runCost(std::numeric_limits<double>::infinity());
            totals[h] = others + c;
            if (c < best) {
                best = c;
                bestHue = h;
            }
        }
        return bestHue;
    }

private:
    PalLayout();
};

#endif
