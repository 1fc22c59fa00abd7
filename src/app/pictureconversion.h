#ifndef PICTURECONVERSION_H
#define PICTURECONVERSION_H

#include "conversionsettings.h"

#include <QString>
#include <QtGlobal>

class ATARIpic;

// The one road of a photo through a conversion, which the window's queue and the command line both
// take: read and fitted (read), then toned, brought to the store with the store's settings and
// converted by the method (convert).
namespace PictureConversion {

// Reads fileName ("-": the standard input) into pixels (76800 values 0xAARRGGBB, row by row), fitted
// as settings.fit says (PictureLoader::load). On failure returns false with the reason in *error;
// a message the decoder gave on a picture that loaded goes to *warning (or the message log if null).
bool read(const QString &fileName, const ConversionSettings &settings, quint32 *pixels, QString *error,
          QString *warning = nullptr);

// Converts photo (76800 pixels as read with settings.fit), or draws the chart when photo is null,
// in store, whose settings are storeHas (ConversionSettings() for a store fresh from its
// constructor): applies the tone to a copy of photo, brings the store to settings (changing only
// what differs) and converts. Afterwards the store has settings.
void convert(ATARIpic &store, const ConversionSettings &storeHas, const quint32 *photo,
             const ConversionSettings &settings);

// The slider value in effect: settings.slider when set; otherwise the value that gives the store's
// start (kPhotographedChromaValue where the slider sets the chroma factor, the initial saturation
// where it sets the palette's saturation).
int sliderInEffect(const ConversionSettings &settings);

} // namespace PictureConversion

#endif
