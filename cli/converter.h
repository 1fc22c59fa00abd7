#ifndef CONVERTER_H
#define CONVERTER_H

#include <QString>
#include <QStringList>

struct ConversionJob;

// How every picture of a run is converted.
struct ConversionSettings
{
    bool hasSaturation = false;       // false: the palette the window starts with
    int saturation = 0;               // slider value 0 to 100, used when hasSaturation
    quint8 previewMode = 3;           // plane written as PNG
    const quint32 *basePalette = nullptr; // 256 RGB values replacing the stored base palette, or nullptr
};

// Loads job.input, converts it as the window does (newSaturation(saturation) first when
// hasSaturation) and writes every output of job. Returns one message per failure, each naming
// the file concerned; an empty list means everything was written.
QStringList convert(const ConversionJob &job, const ConversionSettings &settings);

#endif
