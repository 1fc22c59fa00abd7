#ifndef BESTMETHOD_H
#define BESTMETHOD_H

#include "bestconversion.h"
#include "conversionmethod.h"

// Each run's hue and every pixel's luminance of least summed CIEDE2000 (BestConverter).
class BestMethod : public ConversionMethod
{
public:
    void setPalette(const quint32 *basePalette) override { converter.setPalette(basePalette); }
    void convert(const MethodInput &input, const FrameBytes *frames) override
    {
        converter.convert(input.averaged, input.chromaFactor, frames[0].output, frames[0].hues, input.threads);
    }

private:
    BestConverter converter;
};

#endif
