#ifndef TWOFRAMEMETHOD_H
#define TWOFRAMEMETHOD_H

#include "atarigeometry.h"
#include "conversionmethod.h"
#include "framearrangement.h"
#include "paltwoframeconversion.h"
#include "twoframeconversion.h"

#include <algorithm>
#include <memory>
#include <vector>

// Two frames shown in turn, the exact least-CIEDE2000 pair under the flicker limit (TwoFrameConverter);
// for a PAL TV, improved from there for what the TV shows (PalTwoFrameConverter). Then arranged so that
// no area pulses (FrameArrangement; frames that came out identical stay so). On a PAL TV the arrangement
// swaps lines that touch together, so every pixel keeps the colours it mixes with the line above.
class TwoFrameMethod : public ConversionMethod
{
public:
    void setPalette(const quint32 *basePalette) override
    {
        converter->setPalette(basePalette);
        palette.assign(basePalette, basePalette + 256);
        if (pal)
            pal->setPalette(basePalette);
    }
    void convert(const MethodInput &input, const FrameBytes *frames) override
    {
        converter->convert(input.averaged, input.chromaFactor, input.flickerLimit, input.threads, frames[0].output,
                           frames[0].hues, frames[1].output, frames[1].hues);
        const bool palDisplay = input.display == DisplayPlan::PalDelayLine;
        if (palDisplay) {
            if (!pal) {
                pal = std::make_unique<PalTwoFrameConverter>(); // large tables, made when first used
                pal->setPalette(palette.data());
            }
            std::copy(frames[0].hues, frames[0].hues + Geometry::kHues, startA.begin());
            std::copy(frames[1].hues, frames[1].hues + Geometry::kHues, startB.begin());
            pal->convert(input.averaged, input.chromaFactor, input.flickerLimit, startA.data(), startB.data(),
                         frames[0].output, frames[0].hues, frames[1].output, frames[1].hues);
        }
        using namespace Geometry;
        if (!std::equal(frames[0].output, frames[0].output + kAtariPixels, frames[1].output)
            || !std::equal(frames[0].hues, frames[0].hues + kHues, frames[1].hues))
            FrameArrangement::arrange(palette.data(),
                                      palDisplay ? FrameArrangement::Coupling::LineAbove
                                                 : FrameArrangement::Coupling::None,
                                      frames[0].output, frames[0].hues, frames[1].output, frames[1].hues,
                                      input.threads);
    }

private:
    std::unique_ptr<TwoFrameConverter> converter = std::make_unique<TwoFrameConverter>(); // large tables
    std::vector<quint32> palette = std::vector<quint32>(256);
    std::unique_ptr<PalTwoFrameConverter> pal;
    std::vector<quint8> startA = std::vector<quint8>(Geometry::kHues);
    std::vector<quint8> startB = std::vector<quint8>(Geometry::kHues);
};

#endif
