#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include "atarigeometry.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// What the manual benchmarks share: their command line (options, then photos), loading the photos,
// and timing (the fastest of a few runs, with the processor time of the calling thread in it, which a
// busy machine inflates less than the wall clock).
namespace BenchSupport {

// Timed runs of each piece of work; the fastest one counts.
constexpr int kRepeats = 5;

// The command line: "--flicker N" and "--png DIR" (each where the benchmark takes it, before the
// photos), then the photos; without photos, the test photos chelsea, coffee and rocket.
struct Arguments {
    int flicker = 10;
    QString png;
    QStringList photos;
};
Arguments arguments(const QStringList &commandLine);

// Reads a photo as the program does (320x240 pixels, 0x00RRGGBB, row by row); on failure prints the
// reason and returns false.
bool loadPhoto(const QString &file, std::vector<quint32> *pixels);

// A photo's file name without its folder, for the tables.
QString photoName(const QString &file);

// The processor time of the calling thread so far, in seconds.
double threadSeconds();

// The fastest of `repeats` runs of work: its wall-clock seconds and the calling thread's processor
// seconds in it.
struct Timing {
    double seconds = 0.0;
    double processorSeconds = 0.0;
};
Timing fastest(const std::function<void()> &work, int repeats = kRepeats);

// Two frames as the converters write them.
struct Frames {
    std::vector<quint8> outputA = std::vector<quint8>(Geometry::kAtariPixels);
    std::vector<quint8> huesA = std::vector<quint8>(Geometry::kHues);
    std::vector<quint8> outputB = std::vector<quint8>(Geometry::kAtariPixels);
    std::vector<quint8> huesB = std::vector<quint8>(Geometry::kHues);
};

} // namespace BenchSupport

#endif
