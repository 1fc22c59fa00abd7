#ifndef CONVERTER_H
#define CONVERTER_H

#include "conversionsettings.h"

#include <QString>
#include <QStringList>

struct ConversionJob;

// How every picture of a run is converted and what is written of it.
struct ConversionOptions
{
    ConversionSettings conversion; // as the window would convert
    quint8 previewMode = 3;        // plane written as PNG
    bool wantFigure = false;       // compute the quality figure
};

// What became of one picture.
struct ConversionResult
{
    QStringList failures; // one message per failure, naming the file; empty when all was written
    QString warning;      // what the image libraries said about a picture that loaded anyway, or empty
    bool converted = false;  // the picture was read and converted
    bool interrupted = false; // an interrupt ended the reading of the picture: nothing to report
    bool shortage = false;    // it failed for want of memory, files or processes: with less at once it may not
    bool outOfMemory = false; // the conversion ran out of memory (the failure is not written yet)
    double figure = 0.0;     // mean CIEDE2000 of what the Atari shows, when converted and wanted
    double flicker = 0.0;    // mean |L*(A) - L*(B)| with two frames, when converted and wanted; else 0
};

// Loads job.input, converts it as the window does (a fresh store brought to options.conversion)
// with threads threads (at least 1, the calling one included) and writes every output of job.
ConversionResult convert(const ConversionJob &job, const ConversionOptions &options, int threads);

#endif
