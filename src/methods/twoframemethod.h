#ifndef TWOFRAMEMETHOD_H
#define TWOFRAMEMETHOD_H

#include "conversionmethod.h"
#include "twoframeconversion.h"

#include <memory>

// Two frames shown in turn, the exact least-CIEDE2000 pair under the flicker limit (TwoFrameConverter).
class TwoFrameMethod : public ConversionMethod
{
public:
    void setPalette(const quint32 *basePalette) override { converter->setPalette(basePalette); }
    void convert(const MethodInput &input, const FrameBytes *frames) override
    {
        converter->convert(input.averaged, input.chromaFactor, input.flickerLimit, input.threads, frames[0].output,
                           frames[0].hues, frames[1].output, frames[1].hues);
    }

private:
    std::unique_ptr<TwoFrameConverter> converter = std::make_unique<TwoFrameConverter>(); // large tables
};

#endif
