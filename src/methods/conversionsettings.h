#ifndef CONVERSIONSETTINGS_H
#define CONVERSIONSETTINGS_H

#include "picturefit.h"
#include "picturetone.h"
#include "sliderscale.h"

#include <QtGlobal>

#include <tuple>
#include <vector>

// A whole-number setting's range and default.
struct SettingRange
{
    int low;
    int high;
    int defaultValue;

    constexpr bool contains(int value) const { return value >= low && value <= high; }
    constexpr int clamp(int value) const { return value < low ? low : value > high ? high : value; }
};

// With two frames, the largest |L*(A) - L*(B)| allowed where the Atari shows a pixel.
constexpr SettingRange kFlickerRange{0, 100, 10};
// The slider's values (see sliderscale.h); the form starts it at 50.
constexpr SettingRange kSliderRange{0, kMaxSliderValue, 50};

// What a conversion is asked to use: the choices a front end makes (the window's slider, menus and
// remembered settings; the command line's options). Ranges and defaults are written here once;
// brightness, contrast and gamma have theirs beside PictureTone::Tone.
//
// Every field is listed in fields(), which equality uses; a test checks that no field is missing
// there. A new field is also handled where a store is brought to the settings (PictureConversion),
// in the remembered settings (WindowSettings) and on the command line (CommandLine).
struct ConversionSettings
{
    // The method: its index in the method table (MethodTable), the frames included.
    int method = 0;
    // How the screen is seen: the display model's index in DisplayTable.
    int display = 0;
    // Whether the slider was set; when not, the store keeps the palette and chroma factor it starts
    // with (generated saturation ATARIpalGen::kInitialSaturation, chroma factor 1.0).
    bool hasSlider = false;
    // The slider value, within kSliderRange, used when hasSlider.
    int slider = 0;
    // Base palette: 256 values 0x00RRGGBB (index hue * 16 + luminance), or empty for the built-in one.
    std::vector<quint32> basePalette;
    // With two frames, the largest L* difference between them, within kFlickerRange.
    int flicker = kFlickerRange.defaultValue;
    // How the photo is fitted into 320x240 when it is read (a change reads it again).
    PictureFit fit = PictureFit::Stretch;
    // Brightness, contrast and gamma of the read photo, applied before the store converts it.
    PictureTone::Tone tone;

    // Every field, in order of declaration.
    auto fields() const { return std::tie(method, display, hasSlider, slider, basePalette, flicker, fit, tone); }
    auto fields() { return std::tie(method, display, hasSlider, slider, basePalette, flicker, fit, tone); }

    // The frames of the method (1 or 2).
    int frames() const;

    bool operator==(const ConversionSettings &other) const { return fields() == other.fields(); }
    bool operator!=(const ConversionSettings &other) const { return !(*this == other); }
};

#endif
