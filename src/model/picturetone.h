#ifndef PICTURETONE_H
#define PICTURETONE_H

#include <QtGlobal>

#include <array>

// Brightness, contrast and gamma of the scaled photo, applied before any conversion, in this
// order, to each of red, green and blue alike (alpha is kept). Each step gives a whole value
// 0..255: the real result rounded to the nearest whole number (halves up), then clamped.
//   brightness b: v + 255 * b / 100
//   contrast c:   (v - 127.5) * tan(pi / 4 * (1 + c / 100)) + 127.5
//   gamma g:      255 * (v / 255)^(1 / g)
// Neutral values (0, 0, 1.0) leave every pixel as it is.
namespace PictureTone {

constexpr int kMinBrightness = -100;
constexpr int kMaxBrightness = 100;
constexpr int kMinContrast = -100;
constexpr int kMaxContrast = 100;
constexpr double kMinGamma = 0.2;
constexpr double kMaxGamma = 5.0;

struct Tone
{
    int brightness = 0; // kMinBrightness..kMaxBrightness
    int contrast = 0;   // kMinContrast..kMaxContrast
    double gamma = 1.0; // kMinGamma..kMaxGamma; above 1 lightens the mid-tones

    // True for (0, 0, 1.0), which changes nothing.
    bool isNeutral() const { return brightness == 0 && contrast == 0 && gamma == 1.0; }
    bool operator==(const Tone &other) const
    {
        return brightness == other.brightness && contrast == other.contrast && gamma == other.gamma;
    }
    bool operator!=(const Tone &other) const { return !(*this == other); }
};

// The value (0..255) each channel value 0..255 becomes.
std::array<quint8, 256> curve(const Tone &tone);

// Writes count pixels 0xAARRGGBB of in, adjusted, to out (which may be in); copies them unchanged
// when tone is neutral.
void apply(const Tone &tone, const quint32 *in, quint32 *out, int count);

} // namespace PictureTone

#endif
