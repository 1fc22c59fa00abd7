#ifndef PALLAYOUT_H
#define PALLAYOUT_H

#include "atarigeometry.h"

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

private:
    PalLayout();
};

#endif
