#include "commandline.h"

#include "displaytable.h"

#include "ataripic.h"
#include "methodtable.h"
#include "sliderscale.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QThread>

#include <algorithm>

namespace {

const char *const kPreviewNames[] = {"original", "gtia",  "atari-pal", "output",  "gray",
                                     "green",    "chroma", "atari",     "atari-a", "atari-b", "flicker"};
constexpr int kPreviewCount = int(sizeof kPreviewNames / sizeof kPreviewNames[0]);
static_assert(kAtariViewMode == 7 && kAtariFrameAMode == 8 && kAtariFrameBMode == 9 && kFlickerMapMode == 10
                  && kPreviewCount == 11,
              "the last preview names are the Atari view, its two frames and the flicker map");

// The whole number text names, when it lies from low to high.
bool wholeNumber(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

// Reads option, when given, as a whole number from low to high into *value; returns the usage error
// "NAME must be a whole number from LOW to HIGH, not 'TEXT'" (NAME the option's long name), or an
// empty text.
QString readWholeNumber(const QCommandLineParser &parser, const QCommandLineOption &option, int low, int high,
                        int *value)
{
    if (!parser.isSet(option) || wholeNumber(parser.value(option), low, high, value))
        return QString();
    return QStringLiteral("%1 must be a whole number from %2 to %3, not '%4'")
        .arg(option.names().constLast())
        .arg(low)
        .arg(high)
        .arg(parser.value(option));
}

// A name that is the same for every spelling of one file: the canonical path of an existing
// file (symbolic links resolved, as a save follows them), otherwise the canonical path of its
// folder (where the folder exists) followed by its name.
QString identity(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QFileInfo folder(info.absolutePath());
    const QString base = folder.exists() ? folder.canonicalFilePath() : QDir::cleanPath(folder.absoluteFilePath());
    return base + QLatin1Char('/') + info.fileName();
}

const QString kStandardStream = QStringLiteral("-");

// "a", "a or b", "a, b or c".
QString alternatives(const QStringList &names)
{
    if (names.size() < 2)
        return names.join(QString());
    return QStringList(names.mid(0, names.size() - 1)).join(QStringLiteral(", ")) + QStringLiteral(" or ")
           + names.last();
}

// The options that choose the method, from the method table.
struct MethodOptions
{
    const QCommandLineOption method{
        {QStringLiteral("m"), QStringLiteral("method")},
        QStringLiteral("Conversion method: classic (the default: each run's most frequent hue of the "
                       "nearest generated colours) or best (each run's hue and every pixel's luminance "
                       "that minimise the summed CIEDE2000 against the Atari palette)."),
        QStringLiteral("METHOD")};
    const QCommandLineOption frames{
        QStringLiteral("frames"),
        QStringLiteral("1 (the default) or 2: two pictures shown in alternate frames and blended by the eye, "
                       "the exact least-CIEDE2000 pair of frames; a form of the best method (the default "
                       "method becomes best; -m classic cannot be combined with it)."),
        QStringLiteral("N")};
    const QCommandLineOption flicker{
        QStringLiteral("flicker"),
        QStringLiteral("With --frames 2: the largest L* difference allowed between the two frames' colours "
                       "of a pixel, a whole number %1..%2 (default %3; 0: no luminance flicker). Lower "
                       "flickers less, higher comes closer to the photo. Frames that come out identical (always "
                       "with 0) are written as one frame, the single-frame program.")
            .arg(kFlickerRange.low)
            .arg(kFlickerRange.high)
            .arg(kFlickerRange.defaultValue),
        QStringLiteral("N")};

    const QCommandLineOption display{
        QStringLiteral("display"),
        QStringLiteral("How the screen is seen: plain (the default: every pixel in its own colour, as NTSC "
                       "machines, monitors and emulators without PAL blending show it) or pal (a PAL TV, whose "
                       "delay line mixes every line's colour with the line above's; choose it for a PAL "
                       "machine on a TV or an emulator with PAL blending on). The Atari views, the figures and "
                       "the report show what the display shows; the best method and two frames plan the "
                       "picture for it, the classic method converts as always."),
        QStringLiteral("DISPLAY")};

    QList<QCommandLineOption> all() const { return {method, frames, flicker, display}; }

    // Reads the options given into settings; returns the usage error, or an empty text.
    QString read(const QCommandLineParser &parser, ConversionSettings *settings) const
    {
        QStringList names;
        QStringList frameCounts;
        for (int i = 0; i < MethodTable::count(); ++i) {
            names << QLatin1String(MethodTable::at(i).cliName);
            frameCounts << QString::number(MethodTable::at(i).frames);
        }
        names.removeDuplicates();
        frameCounts.removeDuplicates();
        QString name;
        if (parser.isSet(method)) {
            const int index = names.indexOf(parser.value(method).toLower());
            if (index < 0)
                return QStringLiteral("unknown method '%1' (expected %2)").arg(parser.value(method), alternatives(names));
            name = names.at(index);
        }
        int count = 0;
        if (parser.isSet(frames)
            && (!wholeNumber(parser.value(frames), 1, 2, &count) || !frameCounts.contains(QString::number(count))))
            return QStringLiteral("frames must be %1, not '%2'").arg(alternatives(frameCounts), parser.value(frames));
        const QString error = readWholeNumber(parser, flicker, kFlickerRange.low, kFlickerRange.high, &settings->flicker);
        if (!error.isEmpty())
            return error;

        if (parser.isSet(display)) {
            settings->display = DisplayTable::find(parser.value(display));
            if (settings->display < 0) {
                QStringList displays;
                for (int i = 0; i < DisplayTable::count(); ++i)
                    displays << QLatin1String(DisplayTable::at(i).name);
                return QStringLiteral("unknown display '%1' (expected %2)").arg(parser.value(display), alternatives(displays));
            }
        }

        if (!name.isEmpty() && count != 0)
            settings->method = MethodTable::find(name, count);
        else if (!name.isEmpty())
            settings->method = std::max(MethodTable::find(name, 1), 0);
        else if (count != 0)
            settings->method = MethodTable::withFrames(count);
        if (settings->method < 0) {
            const char *formOf = MethodTable::at(MethodTable::withFrames(count)).cliName;
            return QStringLiteral("--frames %1 is a form of the %2 method and cannot be combined with -m %3")
                .arg(count)
                .arg(QLatin1String(formOf), name);
        }
        return QString();
    }
};

// The first of the options that take a value which was given more than once; null
// when none was. A second value would otherwise silently replace the first.
const QCommandLineOption *repeated(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options) {
        if (!option.valueName().isEmpty() && parser.values(option).size() > 1)
            return &option;
    }
    return nullptr;
}

// The options that fit and adjust the photo before it is converted.
struct PictureOptions
{
    const QCommandLineOption fit{
        QStringLiteral("fit"),
        QStringLiteral("How the photo becomes 320x240 (square pixels): stretch (the default: whatever its "
                       "proportions), crop (proportions kept, the frame filled, the overflow cut equally "
                       "from both sides) or pad (proportions kept, the whole photo, black bars)."),
        QStringLiteral("FIT")};
    const QCommandLineOption brightness{
        QStringLiteral("brightness"),
        QStringLiteral("Add 255*N/100 to each channel, N a whole number -100..100 (default 0)."), QStringLiteral("N")};
    const QCommandLineOption contrast{
        QStringLiteral("contrast"),
        QStringLiteral("Scale around mid-grey by tan(pi/4*(1+N/100)), N a whole number -100..100 (default 0); "
                       "after the brightness."),
        QStringLiteral("N")};
    const QCommandLineOption gamma{
        QStringLiteral("gamma"),
        QStringLiteral("Gamma X, 0.2..5.0 (default 1.0): out = 255*(in/255)^(1/X), above 1 lighter; after the "
                       "contrast. The converters and the quality figure see the adjusted photo."),
        QStringLiteral("X")};

    QList<QCommandLineOption> all() const { return {fit, brightness, contrast, gamma}; }

    // Reads the options given into settings; returns the usage error, or an empty text.
    QString read(const QCommandLineParser &parser, ConversionSettings *settings) const
    {
        if (parser.isSet(fit)) {
            const QString name = parser.value(fit).toLower();
            QStringList names;
            for (const char *fitName : kPictureFitNames)
                names << QLatin1String(fitName);
            if (!names.contains(name))
                return QStringLiteral("unknown fit '%1' (expected %2)").arg(parser.value(fit), alternatives(names));
            settings->fit = PictureFit(names.indexOf(name));
        }
        PictureTone::Tone &tone = settings->tone;
        QString error = readWholeNumber(parser, brightness, PictureTone::kMinBrightness, PictureTone::kMaxBrightness,
                                        &tone.brightness);
        if (error.isEmpty())
            error = readWholeNumber(parser, contrast, PictureTone::kMinContrast, PictureTone::kMaxContrast, &tone.contrast);
        if (!error.isEmpty())
            return error;
        if (parser.isSet(gamma)) {
            bool ok = false;
            const double value = parser.value(gamma).toDouble(&ok);
            if (!ok || !(value >= PictureTone::kMinGamma && value <= PictureTone::kMaxGamma))
                return QStringLiteral("gamma must be a number from 0.2 to 5.0, not '%1'").arg(parser.value(gamma));
            tone.gamma = value;
        }
        return QString();
    }
};

// The options that name what is written.
struct OutputOptions
{
    const QCommandLineOption outputDir{
        {QStringLiteral("o"), QStringLiteral("output-dir")},
        QStringLiteral("Write DIR/NAME.xex (and the other formats of --format) for each input; "
                       "NAME is the input's file name without its last extension."),
        QStringLiteral("DIR")};
    const QCommandLineOption format{
        {QStringLiteral("f"), QStringLiteral("format")},
        QStringLiteral("With --output-dir: comma-separated list of xex, asm, png (default xex)."),
        QStringLiteral("LIST")};
    const QCommandLineOption xex{
        QStringLiteral("xex"),
        QStringLiteral("Write the Atari executable to FILE (single input; '-' for standard output)."),
        QStringLiteral("FILE")};
    const QCommandLineOption asmFile{
        QStringLiteral("asm"),
        QStringLiteral("Write the assembler source to FILE (single input; '-' for standard output)."),
        QStringLiteral("FILE")};
    const QCommandLineOption png{
        QStringLiteral("png"),
        QStringLiteral("Write the preview plane chosen by --preview to FILE as a 320x240 PNG (single input; "
                       "'-' for standard output)."),
        QStringLiteral("FILE")};
    const QCommandLineOption report{
        QStringLiteral("report"),
        QStringLiteral("Write a CSV line per converted picture to FILE ('-' for standard output): "
                       "file,method,saturation,delta_e2000,frames,flicker,flicker_area,display: delta_e2000 is "
                       "the mean CIEDE2000 between the photo and what the Atari shows on the display (with two "
                       "frames their blend; lower is better), frames is 1 or 2, flicker the mean L* difference "
                       "between the two frames and flicker_area the largest difference of areas, as the eye sees "
                       "a 25 Hz flicker (both 0 for one frame), and display plain or pal. Alone, without any "
                       "other output, it converts every input "
                       "for the figures only and writes no picture."),
        QStringLiteral("FILE")};

    // Whether any of --xex, --asm and --png is given.
    bool explicitOutputs(const QCommandLineParser &parser) const
    {
        return parser.isSet(xex) || parser.isSet(asmFile) || parser.isSet(png);
    }

    // Checks how the outputs are combined with each other and with inputCount inputs; returns the
    // usage error, or an empty text.
    QString check(const QCommandLineParser &parser, int inputCount) const
    {
        const bool toDirectory = parser.isSet(outputDir);
        const bool explicitNames = explicitOutputs(parser);
        if (toDirectory && explicitNames)
            return QStringLiteral("--output-dir cannot be combined with --xex, --asm or --png");
        // The report alone is a complete request: the figures of every input, no picture written.
        if (!toDirectory && !explicitNames && !parser.isSet(report))
            return QStringLiteral("no output requested (use --output-dir, --xex, --asm, --png or --report)");
        if (parser.isSet(format) && !toDirectory)
            return QStringLiteral("--format needs --output-dir");
        if (explicitNames && inputCount > 1)
            return QStringLiteral("--xex, --asm and --png take a single input picture; use --output-dir for several");
        for (const QCommandLineOption *option : {&outputDir, &xex, &asmFile, &png}) {
            if (parser.isSet(*option) && parser.value(*option).isEmpty())
                return QStringLiteral("--%1 needs a non-empty name").arg(option->names().constLast());
        }
        return QString();
    }

    // Checks that at most one output goes to the standard output.
    QString checkStandardOutput(const QCommandLineParser &parser) const
    {
        int toStandardOutput = 0;
        for (const QCommandLineOption *option : {&xex, &asmFile, &png, &report})
            toStandardOutput += parser.isSet(*option) && parser.value(*option) == kStandardStream ? 1 : 0;
        if (toStandardOutput > 1)
            return QStringLiteral("only one of --xex, --asm, --png and --report may be '-' (standard output)");
        return QString();
    }
};

// The options of the run: the slider, the preview plane, the palette, the threads and the progress.
struct RunOptions
{
    const QCommandLineOption saturation{
        {QStringLiteral("s"), QStringLiteral("saturation")},
        QStringLiteral("The window's slider value, a whole number 0..100. Classic: palette saturation "
                       "PCT/100 (without it the palette the window starts with, that of 60). Best: the "
                       "photo's chroma times PCT/50 (without it 1)."),
        QStringLiteral("PCT")};
    const QCommandLineOption preview{
        {QStringLiteral("p"), QStringLiteral("preview")},
        QStringLiteral("Plane for PNG output: original, gtia, atari-pal, output, gray, green, chroma, "
                       "atari for what the Atari really shows (with two frames their blend), or atari-a and "
                       "atari-b for the two frames themselves, or flicker for the flicker map (each pixel's "
                       "L* difference between the two frames as grey: black none, white the flicker limit) "
                       "(default output; with two frames output and chroma show frame A)."),
        QStringLiteral("MODE")};
    const QCommandLineOption palette{
        QStringLiteral("palette"),
        QStringLiteral("Atari palette file (768 bytes of 256 RGB triplets, or a 772-byte colour table) "
                       "for the output and chroma planes, the atari view and the best method."),
        QStringLiteral("FILE")};
    const QCommandLineOption jobs{
        {QStringLiteral("j"), QStringLiteral("jobs")},
        QStringLiteral("Use N threads in all, 1..%1 (default: the number of processor cores, here %2): up to "
                       "N pictures at once. Outputs, messages and exit status are the same as with -j 1.")
            .arg(CommandLine::kMaxThreads)
            .arg(QThread::idealThreadCount()),
        QStringLiteral("N")};
    const QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("Show no progress and no notices (decoder messages known to be "
                                                        "harmless); errors and damage are still reported.")};

    // Reads the slider, the preview plane, the progress and the threads into request; returns the
    // usage error, or an empty text.
    QString read(const QCommandLineParser &parser, ConversionRequest *request) const
    {
        QString error = readWholeNumber(parser, saturation, kSliderRange.low, kSliderRange.high,
                                        &request->settings.slider);
        if (!error.isEmpty())
            return error;
        if (parser.isSet(saturation))
            request->settings.hasSlider = true;
        if (parser.isSet(preview)) {
            const int mode = CommandLine::previewModeOf(parser.value(preview));
            if (mode < 0)
                return QStringLiteral("unknown preview '%1' (expected original, gtia, atari-pal, output, "
                                      "gray, green, chroma, atari, atari-a, atari-b or flicker)")
                    .arg(parser.value(preview));
            request->previewMode = quint8(mode);
        }
        request->quiet = parser.isSet(quiet);
        request->threads = std::max(1, QThread::idealThreadCount());
        error = readWholeNumber(parser, jobs, 1, CommandLine::kMaxThreads, &request->threads);
        if (!error.isEmpty())
            return error;
        request->paletteFile = parser.value(palette);
        return QString();
    }
};

} // namespace

QStringList ConversionJob::outputs() const
{
    QStringList names;
    for (const QString &name : {xexFile, asmFile, pngFile}) {
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

int CommandLine::previewModeOf(const QString &name)
{
    for (int mode = 0; mode < kPreviewCount; ++mode) {
        if (name.compare(QLatin1String(kPreviewNames[mode]), Qt::CaseInsensitive) == 0)
            return mode;
    }
    return -1;
}

bool CommandLine::fail(const QString &message)
{
    error = message;
    return false;
}

CommandLine::Result CommandLine::usage(const QString &message)
{
    error = message;
    return Result::UsageError;
}

CommandLine::Result CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Converts pictures into Atari 8-bit GTIA mode 9 pictures (80x240, a hue per run\n"
                       "of pixels) and writes them as Atari executables (.xex), MADS assembler source\n"
                       "(.asm) or preview images (.png), exactly as the window does.\n\n"
                       "With --frames 2 the picture is two pictures shown in alternate frames (50 a\n"
                       "second on PAL) that the eye blends: colours between the palette's and two hues\n"
                       "in every run, at the price of flicker where the two frames' luminances differ;\n"
                       "--flicker bounds that difference (0: none at all, higher: closer to the photo).\n\n"
                       "With --display pal the views, figures and report are what a PAL TV shows, and the\n"
                       "best method and two frames plan the picture for its delay line, which mixes the\n"
                       "colour of every line with the line above's: for a PAL machine on a TV, or an\n"
                       "emulator with PAL blending on."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const OutputOptions out;
    const RunOptions run;
    const MethodOptions methodOptions;
    const PictureOptions pictureOptions;
    const QList<QCommandLineOption> options =
        QList<QCommandLineOption>{out.outputDir, out.format, out.xex, out.asmFile, out.png, run.saturation, run.preview}
        + methodOptions.all() + QList<QCommandLineOption>{run.palette, out.report, run.jobs, run.quiet}
        + pictureOptions.all();
    parser.addOptions(options);
    parser.addPositionalArgument(QStringLiteral("images"),
                                 QStringLiteral("Photos to convert: JPEG, PNG, GIF, BMP, PBM, PGM or PPM files; "
                                                "'-' alone reads one from standard input."),
                                 QStringLiteral("IMAGE..."));
    help = parser.helpText();
    // Qt adds --help-all for its own options; a converter without a window has none to show.
    help.replace(QStringLiteral("Displays help including Qt specific options."), QStringLiteral("The same as --help."));
    req = ConversionRequest();

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    // A command-line program has no toolkit options of its own: --help-all shows the same help.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all")))
        return Result::ShowHelp;
    if (parser.isSet(versionOption))
        return Result::ShowVersion;
    if (const QCommandLineOption *option = repeated(parser, options))
        return usage(QStringLiteral("--%1 may be given only once").arg(option->names().constLast()));

    const QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        return usage(QStringLiteral("no input picture given"));
    if (inputs.contains(QString()))
        return usage(QStringLiteral("an input picture's name is empty"));
    if (inputs.size() > 1 && inputs.contains(kStandardStream))
        return usage(QStringLiteral("'-' (standard input) must be the only input picture"));

    for (const QString &error : {run.read(parser, &req), methodOptions.read(parser, &req.settings)}) {
        if (!error.isEmpty())
            return usage(error);
    }
    if (parser.isSet(out.report)) {
        req.reportFile = parser.value(out.report);
        if (req.reportFile.isEmpty())
            return usage(QStringLiteral("--report needs a non-empty name ('-' for standard output)"));
    }
    for (const QString &error : {pictureOptions.read(parser, &req.settings), out.check(parser, inputs.size())}) {
        if (!error.isEmpty())
            return usage(error);
    }
    if (parser.isSet(run.palette) && req.paletteFile.isEmpty())
        return usage(QStringLiteral("--palette needs a non-empty name"));
    const QString standardOutputError = out.checkStandardOutput(parser);
    if (!standardOutputError.isEmpty())
        return usage(standardOutputError);

    QStringList formats{QStringLiteral("xex")};
    if (parser.isSet(out.format))
        formats = parser.value(out.format).split(QLatin1Char(','), Qt::SkipEmptyParts);

    const bool toDirectory = parser.isSet(out.outputDir);
    if (!toDirectory && !out.explicitOutputs(parser)) { // the report alone
        for (const QString &input : inputs)
            req.jobs.append({input, QString(), QString(), QString()});
        return checkOutputs() ? Result::Convert : Result::UsageError;
    }
    if (!buildJobs(inputs, toDirectory ? parser.value(out.outputDir) : QString(), formats, parser.value(out.xex),
                   parser.value(out.asmFile), parser.value(out.png))
        || !checkOutputs())
        return Result::UsageError;
    return Result::Convert;
}

bool CommandLine::buildJobs(const QStringList &inputs, const QString &outputDir, const QStringList &formats,
                            const QString &xex, const QString &asmName, const QString &png)
{
    if (outputDir.isEmpty()) {
        req.jobs.append({inputs.first(), xex, asmName, png});
        return true;
    }

    bool wantXex = false;
    bool wantAsm = false;
    bool wantPng = false;
    for (const QString &entry : formats) {
        const QString format = entry.trimmed().toLower();
        if (format == QLatin1String("xex"))
            wantXex = true;
        else if (format == QLatin1String("asm"))
            wantAsm = true;
        else if (format == QLatin1String("png"))
            wantPng = true;
        else
            return fail(QStringLiteral("unknown format '%1' (expected xex, asm or png)").arg(entry));
    }
    if (!wantXex && !wantAsm && !wantPng)
        return fail(QStringLiteral("no format given (expected xex, asm or png)"));

    const QFileInfo folder(outputDir);
    if (!folder.exists())
        return fail(QStringLiteral("output directory '%1' does not exist").arg(outputDir));
    if (!folder.isDir())
        return fail(QStringLiteral("output directory '%1' is not a folder").arg(outputDir));
    if (!folder.isWritable())
        return fail(QStringLiteral("output directory '%1' cannot be written").arg(outputDir));

    const QDir dir(outputDir);
    QHash<QString, QString> inputOfName;
    for (const QString &input : inputs) {
        const QString name = input == kStandardStream ? QStringLiteral("stdin") : QFileInfo(input).completeBaseName();
        const auto previous = inputOfName.constFind(name);
        if (previous != inputOfName.constEnd())
            return fail(QStringLiteral("'%1' and '%2' would both be written as %3.*")
                            .arg(*previous, input, dir.filePath(name)));
        inputOfName.insert(name, input);

        ConversionJob job;
        job.input = input;
        if (wantXex)
            job.xexFile = dir.filePath(name + QStringLiteral(".xex"));
        if (wantAsm)
            job.asmFile = dir.filePath(name + QStringLiteral(".asm"));
        if (wantPng)
            job.pngFile = dir.filePath(name + QStringLiteral(".png"));
        req.jobs.append(job);
    }
    return true;
}

bool CommandLine::checkOutputs()
{
    QHash<QString, QString> inputOfIdentity;
    for (const ConversionJob &job : qAsConst(req.jobs)) {
        if (job.input != kStandardStream)
            inputOfIdentity.insert(identity(job.input), job.input);
    }

    // Every file the run writes: the pictures' outputs and the report.
    QStringList outputs;
    for (const ConversionJob &job : qAsConst(req.jobs))
        outputs << job.outputs();
    if (!req.reportFile.isEmpty())
        outputs << req.reportFile;
    outputs.removeAll(kStandardStream);

    QHash<QString, QString> outputOfIdentity;
    for (const QString &output : qAsConst(outputs)) {
        const QString key = identity(output);
        const auto input = inputOfIdentity.constFind(key);
        if (input != inputOfIdentity.constEnd())
            return fail(QStringLiteral("refusing to write %1 over the input %2").arg(output, *input));
        const auto other = outputOfIdentity.constFind(key);
        if (other != outputOfIdentity.constEnd())
            return fail(QStringLiteral("%1 and %2 name the same output file").arg(*other, output));
        outputOfIdentity.insert(key, output);
    }
    return true;
}
