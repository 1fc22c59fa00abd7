#ifndef BESTMETHOD_H
#define BESTMETHOD_H

#include "bestconversion.h"
#include "atarigeometry.h"
#include "conversionmethod.h"
#include "palbestconversion.h"

#include <algorithm>
#include <memory>
#include <vector>

// Each run's hue and every pixel's luminance of least summed CIEDE2000 (BestConverter); for a PAL TV,
// improved from there for what the TV shows (PalBestConverter).
class BestMethod : public ConversionMethod
{
public:
    void setPalette(const quint32 *basePalette) override
    {
        converter.setPalette(basePalette);
        palette.assign(basePalette, basePalette + 256);
        if (pal)
            pal->setPalette(basePalette);
    }
    void convert(const MethodInput &input, const FrameBytes *frames) override
    {
        converter.convert(input.averaged, input.chromaFactor, frames[0].output, frames[0].hues, input.threads);
        if (input.display != DisplayPlan::PalDelayLine)
            return;
        if (!pal) {
            pal = std::make_unique<PalBestConverter>(); // large tables, made when first used
            pal->setPalette(palette.data());
        }
        std::copy(frames[0].hues, frames[0].hues + Geometry::kHues, start.begin());
        pal->convert(input.averaged, input.chromaFactor, start.data(), frames[0].output, frames[0].hues);
    }

private:
    BestConverter converter;
    std::vector<quint32> palette = std::vector<quint32>(256);
    std::unique_ptr<PalBestConverter> pal;
    std::vector<quint8> start = std::vector<quint8>(Geometry::kHues);
};

#endif
