#ifndef ATARIVIEW_H
#define ATARIVIEW_H

#include <QtGlobal>

// What the Atari displays when it runs the exported program: the picture's luminances under
// the background colour that the kernel's stores have set when the beam reaches each pixel.
// The hue changes where the stores land, which is near but not exactly at the run boundaries.
namespace AtariView {

// Screen pixels of the view: half a colour clock wide, four per Atari pixel, 320 x 240.
constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Where one colour store of the kernel takes effect, relative to the picture.
struct Landing
{
    int row;       // picture row; negative above the picture
    int column;    // screen pixel in that row from which the colour shows; may lie outside 0 to 319
    int hueIndex;  // hue table entry stored, or -1 for the constant value
    quint8 value;  // the colour stored when hueIndex is -1
};

// The landings of one frame's colour stores, in beam order, worked out once from the kernel's
// statements and the machine's DMA timing.
const Landing *landings(int *count);

// Fills screen (76800 Atari colour bytes, row by row) with what the display shows for
// outputBytes (19200, the luminance nibbles are used) and hues (1560 run hues, high nibble).
void render(const quint8 *outputBytes, const quint8 *hues, quint8 *screen);

} // namespace AtariView

#endif
