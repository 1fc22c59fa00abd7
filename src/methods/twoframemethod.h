#ifndef TWOFRAMEMETHOD_H
#define TWOFRAMEMETHOD_H

#include "atarigeometry.h"
#include "conversionmethod.h"
#include "framearrangement.h"
#include "twoframeconversion.h"

#include <algorithm>
#include <array>
#include <memory>

// Two frames shown in turn, the exact least-CIEDE2000 pair under the flicker limit (TwoFrameConverter),
// arranged so that no area pulses (FrameArrangement; frames that came out identical stay so).
class TwoFrameMethod : public ConversionMethod
{
public:
    void setPalette(const quint32 *basePalette) override
    {
        converter->setPalette(basePalette);
        std::copy(basePalette, basePalette + palette.size(), palette.begin());
    }
    void convert(const MethodInput &input, const FrameBytes *frames) override
    {
        converter->convert(input.averaged, input.chromaFactor, input.flickerLimit, input.threads, frames[0].output,
                           frames[0].hues, frames[1].output, frames[1].hues);
        using namespace Geometry;
        if (!std::equal(frames[0].output, frames[0].output + kAtariPixels, frames[1].output)
            || !std::equal(frames[0].hues, frames[0].hues + kHues, frames[1].hues))
            FrameArrangement::arrange(palette.data(), FrameArrangement::Coupling::None, frames[0].output,
                                      frames[0].hues, frames[1].output, frames[1].hues);
    }

private:
    std::unique_ptr<TwoFrameConverter> converter = std::make_unique<TwoFrameConverter>(); // large tables
    std::array<quint32, 256> palette{};
};

#endif
