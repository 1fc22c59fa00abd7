#ifndef SLIDERSCALE_H
#define SLIDERSCALE_H

// The saturation slider's values, 0 to kMaxSliderValue: value / kMaxSliderValue is the generated
// palette's saturation and value / kPhotographedChromaValue the best method's chroma factor.
// kMaxSliderValue: saturation 1.0 and twice the photo's chroma; kPhotographedChromaValue: the
// photo's own chroma.
constexpr int kMaxSliderValue = 100;
constexpr int kPhotographedChromaValue = 50;

#endif
