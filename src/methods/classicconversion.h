#ifndef CLASSICCONVERSION_H
#define CLASSICCONVERSION_H

#include <QtGlobal>

// The classic conversion: every hue segment of every line pair keeps the most frequent hue of its
// pixels' nearest generated colours, and every pixel keeps its own luminance.
namespace ClassicConversion {

// Most frequent hue among n (< 256) Atari colour bytes, as hue << 4; ties go to the lower hue.
quint8 mostFrequentHue(const quint8 *pixels, quint32 n);

// Converts 19200 nearest colours (Atari colour bytes, index y * 80 + x): writes
// output[k] = segment hue | (nearest[k] & 0x0F) and hues[1560] (hue << 4, index 13 * pair + segment).
void convert(const quint8 *nearest, quint8 *output, quint8 *hues);

} // namespace ClassicConversion

#endif
