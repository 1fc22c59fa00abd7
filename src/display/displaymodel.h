#ifndef DISPLAYMODEL_H
#define DISPLAYMODEL_H

#include "colourscience.h"

#include <QtGlobal>

// The Atari's screen as the display program leaves it: one frame shown in every frame, or two
// frames (A, B) shown in turn. Each is 76800 Atari colour bytes, 320 x 240 screen pixels, row by row.
struct ScreenFrames
{
    const quint8 *frame[2] = {nullptr, nullptr};
    int count = 1; // 1 or 2

    static ScreenFrames one(const quint8 *screen) { return {{screen, nullptr}, 1}; }
    static ScreenFrames two(const quint8 *a, const quint8 *b) { return {{a, b}, 2}; }
};

// What the methods that plan for the display (the best method, two frames) plan a picture for: each
// screen pixel seen on its own, or mixed with the line above by a PAL TV's delay line (PalDisplay).
enum class DisplayPlan { PixelByPixel, PalDelayLine };

// How a screen of colour bytes is seen: what the eye sees per screen pixel, given the palette in
// use (256 values 0x00RRGGBB, index hue * 16 + luminance). The Atari view, the quality figure and the
// flicker figures all ask the model in use (DisplayTable), so a new way of seeing changes one place.
class DisplayModel
{
public:
    virtual ~DisplayModel() = default;

    // What the eye sees at each of the 76800 screen pixels, rounded for display (0x00RRGGBB), into rgb.
    virtual void view(const ScreenFrames &screens, const quint32 *palette, quint32 *rgb) const = 0;

    // The same unrounded, as CIE L*a*b*, into lab (76800 entries). With two frames flicker (76800
    // entries, or null when not wanted) receives |L*| of frame A's seen colour less frame B's.
    virtual void see(const ScreenFrames &screens, const quint32 *palette, ColourScience::Lab *lab,
                     double *flicker) const = 0;

    // What the planning methods plan for under this model.
    virtual DisplayPlan plan() const { return DisplayPlan::PixelByPixel; }
};

#endif
