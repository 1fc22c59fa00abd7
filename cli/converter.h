#ifndef CONVERTER_H
#define CONVERTER_H

#include <QString>
#include <QStringList>

class ATARIpic;
struct ConversionJob;

// Writes preview plane mode (0 to 6) of pic as a 320x240 PNG, each pixel made opaque as on
// screen. Atomic like the exports: on failure returns false, leaves any existing file as it
// was and sets error to the reason.
bool savePreviewPng(const ATARIpic &pic, quint8 mode, const QString &fileName, QString *error);

// Loads job.input, converts it as the window does (newSaturation(saturation) first when
// hasSaturation) and writes every output of job. Returns one message per failure, each naming
// the file concerned; an empty list means everything was written.
QStringList convert(const ConversionJob &job, bool hasSaturation, int saturation, quint8 previewMode);

#endif
