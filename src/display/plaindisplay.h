#ifndef PLAINDISPLAY_H
#define PLAINDISPLAY_H

#include "displaymodel.h"

// Every screen pixel shows its own palette colour; two frames are blended in linear light
// (LinearBlend).
class PlainDisplay : public DisplayModel
{
public:
    void view(const ScreenFrames &screens, const quint32 *palette, quint32 *rgb) const override;
    void see(const ScreenFrames &screens, const quint32 *palette, ColourScience::Lab *lab,
             double *flicker) const override;
};

#endif
