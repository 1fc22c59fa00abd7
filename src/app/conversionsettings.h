#ifndef CONVERSIONSETTINGS_H
#define CONVERSIONSETTINGS_H

#include "ataripic.h"
#include "decoderprotocol.h"
#include "picturetone.h"

#include <QtGlobal>

#include <vector>

// What a conversion is asked to use: the choices a front end makes (the window's slider, menu and
// remembered settings; the command line's options), with the defaults written once, here. The
// window and the command line both bring a picture store to these settings with applySettings, so
// that the same choices give the same files.
//
// A new field is handled in four places: applySettings (bringing a store to it), operator==, the
// window's remembered settings (MainWindow: read at start, written when changed) and the command
// line's options (CommandLine::parse, and the report line when it is a column there).
struct ConversionSettings
{
    // How runs get their hues and luminances.
    ATARIpic::Method method = ATARIpic::Method::Classic;
    // Whether the slider was set; when not, the store keeps the palette and chroma factor it starts
    // with (generated saturation ATARIpalGen::kInitialSaturation, chroma factor 1.0).
    bool hasSlider = false;
    // The slider value, 0 to kMaxSliderValue, used when hasSlider.
    int slider = 0;
    // Base palette: 256 values 0x00RRGGBB (index hue * 16 + luminance), or empty for the built-in one.
    std::vector<quint32> basePalette;
    // Frames of the display program: 1, or 2 (two pictures in alternate frames, blended by the eye),
    // which is a form of the best method and applies only with it.
    int frames = 1;
    // With two frames, the largest |L*(A) - L*(B)| allowed where the Atari shows a pixel, 0 to 100.
    int flicker = ATARIpic::kDefaultFlickerLimit;

    // How the photo is fitted into 320x240 when it is read (a change reads it again).
    DecoderProtocol::Fit fit = DecoderProtocol::Fit::Stretch;
    // Brightness, contrast and gamma of the read photo, applied before the store converts it
    // (applyTone, not applySettings: the store gets the adjusted pixels).
    PictureTone::Tone tone;

    // The slider value in effect: slider when set; otherwise the value that gives the store's
    // start (kPhotographedChromaValue for the best method, the initial saturation for the classic).
    int sliderInEffect() const;

    bool operator==(const ConversionSettings &other) const;
    bool operator!=(const ConversionSettings &other) const { return !(*this == other); }
};

// Brings store from the settings it has (from) to the wanted ones (to), changing only what differs;
// a store fresh from its constructor has ConversionSettings(). Planes unchanged until the store
// converts (letsGo, copy) or draws its chart (Demo). A slider that goes from set to not set leaves
// the store's palette and chroma factor as they are.
void applySettings(ATARIpic &store, const ConversionSettings &from, const ConversionSettings &to);

// Writes the kSourcePixels pixels of photo, with the settings' tone, to adjusted (which may be
// photo); a neutral tone copies them unchanged.
void applyTone(const ConversionSettings &settings, const quint32 *photo, quint32 *adjusted);

#endif
