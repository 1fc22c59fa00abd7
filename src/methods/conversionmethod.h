#ifndef CONVERSIONMETHOD_H
#define CONVERSIONMETHOD_H

#include "displaymodel.h"

#include <QtGlobal>

// What a method converts: the picture averaged to Atari pixels and the choices that shape it.
struct MethodInput
{
    const quint32 *averaged = nullptr; // 19200 averaged colours 0x00RRGGBB, index y * 80 + x
    const quint8 *nearest = nullptr;   // 19200 nearest generated colours (Atari colour bytes), same index
    double chromaFactor = 1.0;         // the photo's a* and b* multiplied by it (0.0 to 2.0)
    int flickerLimit = 0;              // with two frames the largest L* difference between them (0 to 100)
    int threads = 1;                   // threads in all, the calling one included (at least 1)
    DisplayPlan display = DisplayPlan::PixelByPixel; // what the best method and two frames plan for
};

// The byte areas of one frame that a method fills.
struct FrameBytes
{
    quint8 *output; // 19200: hue << 4 | luminance, index y * 80 + x
    quint8 *hues;   // 1560: hue << 4, index 13 * pair + segment
};

// A way of choosing every run's hue and every pixel's luminance. Each method is one unit behind
// this interface and one line of the method table (MethodTable), which also says how many frames
// it fills.
class ConversionMethod
{
public:
    virtual ~ConversionMethod() = default;

    // Takes the base palette (256 values 0x00RRGGBB, index hue * 16 + luminance) that later
    // conversions match against; called before the first conversion and whenever it changes.
    virtual void setPalette(const quint32 *basePalette) { Q_UNUSED(basePalette) }

    // Converts input into frames[0] (and frames[1] for a method of two frames). The result does
    // not depend on input.threads.
    virtual void convert(const MethodInput &input, const FrameBytes *frames) = 0;
};

#endif
