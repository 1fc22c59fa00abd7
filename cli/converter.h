#ifndef CONVERTER_H
#define CONVERTER_H

#include <QString>
#include <QStringList>

class ATARIpic;
struct ConversionJob;

// Loads job.input, converts it as the window does (newSaturation(saturation) first when
// hasSaturation) and writes every output of job. Returns one message per failure, each naming
// the file concerned; an empty list means everything was written.
QStringList convert(const ConversionJob &job, bool hasSaturation, int saturation, quint8 previewMode);

#endif
