#ifndef FRAMEARRANGEMENT_H
#define FRAMEARRANGEMENT_H

#include <QtGlobal>

// Which of two alternating frames shows which colour, chosen so that no area pulses.
//
// The eye blends the two colours of a screen pixel whichever frame shows which, so the blend, the
// quality figure and every pixel's flicker depend only on the unordered pair of colours each screen
// pixel shows. The arrangement swaps, between the frames, a run's hues and, where a pixel's two
// colours allow it, the pixel's luminances, keeping every screen pixel's pair, and so minimises
// the area flicker (AreaFlicker): the summed square of the low-passed difference of the frames'
// linear luminance, each term weighted by the slope of L* at the low-passed blend there (the blend,
// and so the weight, does not change with the arrangement).
//
// What is swapped together: a screen pixel shows its run's hue, or where the kernel's store lands
// off the run boundary the neighbouring run's, with its Atari pixel's luminance. Where both the
// hues and the luminances differ between the frames, the run and the pixel swap together; where
// only one of them differs, that one alone decides. Chains of these bind runs and pixels into
// units; each unit turns the sign of the frames' difference on its screen pixels and nothing else.
// The sum is taken at the middle of every Atari pixel of every other line, the picture and the
// margin the filter spreads into. The search starts from a few fixed patterns, swaps units one at a
// time in a fixed order (in the first sweeps also for a small loss), until no single swap lowers
// the sum, and keeps the best; it is deterministic.
namespace FrameArrangement {

// Which screen pixels the display mixes within one frame.
enum class Coupling {
    // Each screen pixel shows its own colour (the plain display).
    None,
    // What a screen pixel shows also depends on the colour of the pixel above it in the same frame
    // (a PAL delay line): units meeting between lines swap together, so every screen pixel keeps
    // the pair (its colour, the colour above) of each frame and the blend seen through such a
    // display is kept too.
    LineAbove,
};

// What an arrangement did: the minimised sum before and after, the units and how many swapped.
struct Outcome {
    double before = 0.0;
    double after = 0.0;
    int units = 0;
    int swapped = 0;
};

// Rearranges two frames in place: outputA and outputB (19200 Atari colour bytes each, hue << 4 |
// luminance, the hue that of the pixel's run) and huesA and huesB (1560 run hues, hue << 4), with
// palette (256 values 0x00RRGGBB, the colours the Atari shows) for the luminances. Every screen pixel
// (AtariView::render) shows afterwards the same two colours as before, in either frame; the result
// depends only on the frames and the palette, not on which frame held which colour before, nor on
// threads (threads in all, the calling one included, that share the search's starts).
Outcome arrange(const quint32 *palette, Coupling coupling, quint8 *outputA, quint8 *huesA, quint8 *outputB,
                quint8 *huesB, int threads = 1);

} // namespace FrameArrangement

#endif
