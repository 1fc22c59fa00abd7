#include "pictureconversion.h"

#include "ataripic.h"
#include "methodtable.h"
#include "pictureloader.h"

#include <vector>

namespace {

// Brings store from the settings it has (from) to the wanted ones (to). A slider that goes from
// set to not set leaves the store's palette and chroma factor as they are.
void applySettings(ATARIpic &store, const ConversionSettings &from, const ConversionSettings &to)
{
    if (to.hasSlider && (!from.hasSlider || from.slider != to.slider))
        store.newSaturation(static_cast<double>(to.slider));
    if (to.basePalette != from.basePalette)
        store.setBasePalette(to.basePalette.empty() ? nullptr : to.basePalette.data());
    store.setMethod(to.method);
    store.setDisplay(to.display);
    store.setFlickerLimit(to.flicker);
}

} // namespace

namespace PictureConversion {

bool read(const QString &fileName, const ConversionSettings &settings, quint32 *pixels, QString *error,
          QString *warning)
{
    return fileName == QLatin1String("-") ? PictureLoader::loadStandardInput(pixels, error, warning, settings.fit)
                                          : PictureLoader::load(fileName, pixels, error, warning, settings.fit);
}

void convert(ATARIpic &store, const ConversionSettings &storeHas, const quint32 *photo,
             const ConversionSettings &settings)
{
    applySettings(store, storeHas, settings);
    if (photo == nullptr) {
        store.Demo();
        return;
    }
    // One buffer per thread, kept: nothing is allocated per conversion.
    thread_local std::vector<quint32> toned(Geometry::kSourcePixels);
    PictureTone::apply(settings.tone, photo, toned.data(), Geometry::kSourcePixels);
    store.copy(toned.data());
}

int sliderInEffect(const ConversionSettings &settings)
{
    if (settings.hasSlider)
        return settings.slider;
    return MethodTable::at(settings.method).slider == SliderUse::ChromaFactor
               ? kPhotographedChromaValue
               : qRound(ATARIpalGen::kInitialSaturation * kMaxSliderValue);
}

} // namespace PictureConversion
