#ifndef CLASSICMETHOD_H
#define CLASSICMETHOD_H

#include "classicconversion.h"
#include "conversionmethod.h"

// Each run's most frequent hue of its pixels' nearest generated colours (ClassicConversion).
class ClassicMethod : public ConversionMethod
{
public:
    void convert(const MethodInput &input, const FrameBytes *frames) override
    {
        ClassicConversion::convert(input.nearest, frames[0].output, frames[0].hues);
    }
};

#endif
