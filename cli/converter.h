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
    bool bestMethod = false;          // false: the classic conversion
    bool wantFigure = false;          // compute the quality figure
};

// What became of one picture.
struct ConversionResult
{
    QStringList failures; // one message per failure, naming the file; empty when all was written
    QString warning;      // what the image libraries said about a picture that loaded anyway, or empty
    bool converted = false;  // the picture was read and converted
    bool interrupted = false; // an interrupt ended the reading of the picture: nothing to report
    double figure = 0.0;     // mean CIEDE2000 of what the Atari shows, when converted and wanted
};

// Loads job.input, converts it as the window does (newSaturation(saturation) first when
// hasSaturation) and writes every output of job.
ConversionResult convert(const ConversionJob &job, const ConversionSettings &settings);

#endif
