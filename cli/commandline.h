#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "conversionsettings.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One input picture and the files to write from it (an empty name means "not wanted").
struct ConversionJob
{
    QString input;
    QString xexFile;
    QString asmFile;
    QString pngFile;

    // The non-empty output names in the order xex, asm, png.
    QStringList outputs() const;
};

// What the command line asks for once it has been checked.
struct ConversionRequest
{
    QVector<ConversionJob> jobs;
    ConversionSettings settings; // method and slider; the base palette is read from paletteFile
    quint8 previewMode = 3;     // plane written as PNG: 0 original ... 6 chroma, 7 what the Atari shows
    QString paletteFile;        // base palette file to use instead of the stored one; empty: stored
    QString reportFile;         // CSV quality report, "-" for standard output; empty: none
    bool quiet = false;
    int threads = 1;            // threads in all, 1 to CommandLine::kMaxThreads
};

// Parses and checks the converter's arguments. Every problem that can be seen before any
// picture is read (unknown options, bad values, outputs that clash with each other or
// with an input) is a usage error.
class CommandLine
{
public:
    enum class Result { Convert, ShowHelp, ShowVersion, UsageError };
    // The largest value of --jobs.
    static constexpr int kMaxThreads = 256;

    // Parses arguments (the program name first, as in QCoreApplication::arguments()).
    Result parse(const QStringList &arguments);

    // The checked request; valid after parse() returned Convert.
    const ConversionRequest &request() const { return req; }
    // One line describing the usage error; valid after parse() returned UsageError.
    QString errorText() const { return error; }
    // The full --help text.
    QString helpText() const { return help; }

    // Preview mode (0 to 7, 7 what the Atari shows) of a plane name such as "chroma"; -1 for an unknown name.
    static int previewModeOf(const QString &name);

private:
    bool fail(const QString &message);
    Result usage(const QString &message);
    bool buildJobs(const QStringList &inputs, const QString &outputDir, const QStringList &formats,
                   const QString &xex, const QString &asmName, const QString &png);
    bool checkOutputs();

    ConversionRequest req;
    QString error;
    QString help;
};

#endif
