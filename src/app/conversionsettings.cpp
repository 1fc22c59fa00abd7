#include "conversionsettings.h"

#include "atarigeometry.h"
#include "sliderscale.h"

int ConversionSettings::sliderInEffect() const
{
    if (hasSlider)
        return slider;
    return method == ATARIpic::Method::Best ? kPhotographedChromaValue
                                            : qRound(ATARIpalGen::kInitialSaturation * kMaxSliderValue);
}

bool ConversionSettings::operator==(const ConversionSettings &other) const
{
    return method == other.method && hasSlider == other.hasSlider && slider == other.slider
           && basePalette == other.basePalette && frames == other.frames && flicker == other.flicker
           && fit == other.fit && tone == other.tone;
}

void applySettings(ATARIpic &store, const ConversionSettings &from, const ConversionSettings &to)
{
    if (to.hasSlider && (!from.hasSlider || from.slider != to.slider))
        store.newSaturation(static_cast<double>(to.slider));
    if (to.basePalette != from.basePalette)
        store.setBasePalette(to.basePalette.empty() ? nullptr : to.basePalette.data());
    store.setMethod(to.method);
    store.setFrames(to.frames);
    store.setFlickerLimit(to.flicker);
}

void applyTone(const ConversionSettings &settings, const quint32 *photo, quint32 *adjusted)
{
    PictureTone::apply(settings.tone, photo, adjusted, Geometry::kSourcePixels);
}
