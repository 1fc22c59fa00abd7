#include "commandline.h"

#include "ataripic.h"
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
            const QStringList names{QStringLiteral("stretch"), QStringLiteral("crop"), QStringLiteral("pad")};
            if (!names.contains(name))
                return QStringLiteral("unknown fit '%1' (expected stretch, crop or pad)").arg(parser.value(fit));
            settings->fit = DecoderProtocol::Fit(names.indexOf(name));
        }
        PictureTone::Tone &tone = settings->tone;
        if (parser.isSet(brightness)
            && !wholeNumber(parser.value(brightness), PictureTone::kMinBrightness, PictureTone::kMaxBrightness,
                            &tone.brightness))
            return QStringLiteral("brightness must be a whole number from -100 to 100, not '%1'").arg(parser.value(brightness));
        if (parser.isSet(contrast)
            && !wholeNumber(parser.value(contrast), PictureTone::kMinContrast, PictureTone::kMaxContrast, &tone.contrast))
            return QStringLiteral("contrast must be a whole number from -100 to 100, not '%1'").arg(parser.value(contrast));
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
                       "--flicker bounds that difference (0: none at all, higher: closer to the photo)."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption outputDirOption(
        {QStringLiteral("o"), QStringLiteral("output-dir")},
        QStringLiteral("Write DIR/NAME.xex (and the other formats of --format) for each input; "
                       "NAME is the input's file name without its last extension."),
        QStringLiteral("DIR"));
    const QCommandLineOption formatOption(
        {QStringLiteral("f"), QStringLiteral("format")},
        QStringLiteral("With --output-dir: comma-separated list of xex, asm, png (default xex)."),
        QStringLiteral("LIST"));
    const QCommandLineOption xexOption(
        QStringLiteral("xex"),
        QStringLiteral("Write the Atari executable to FILE (single input; '-' for standard output)."),
        QStringLiteral("FILE"));
    const QCommandLineOption asmOption(
        QStringLiteral("asm"),
        QStringLiteral("Write the assembler source to FILE (single input; '-' for standard output)."),
        QStringLiteral("FILE"));
    const QCommandLineOption pngOption(
        QStringLiteral("png"),
        QStringLiteral("Write the preview plane chosen by --preview to FILE as a 320x240 PNG (single input; "
                       "'-' for standard output)."),
        QStringLiteral("FILE"));
    const QCommandLineOption saturationOption(
        {QStringLiteral("s"), QStringLiteral("saturation")},
        QStringLiteral("The window's slider value, a whole number 0..100. Classic: palette saturation "
                       "PCT/100 (without it the palette the window starts with, that of 60). Best: the "
                       "photo's chroma times PCT/50 (without it 1)."),
        QStringLiteral("PCT"));
    const QCommandLineOption previewOption(
        {QStringLiteral("p"), QStringLiteral("preview")},
        QStringLiteral("Plane for PNG output: original, gtia, atari-pal, output, gray, green, chroma, "
                       "atari for what the Atari really shows (with two frames their blend), or atari-a and "
                       "atari-b for the two frames themselves, or flicker for the flicker map (each pixel's "
                       "L* difference between the two frames as grey: black none, white the flicker limit) "
                       "(default output; with two frames output and chroma show frame A)."),
        QStringLiteral("MODE"));
    const QCommandLineOption paletteOption(
        QStringLiteral("palette"),
        QStringLiteral("Atari palette file (768 bytes of 256 RGB triplets, or a 772-byte colour table) "
                       "for the output and chroma planes, the atari view and the best method."),
        QStringLiteral("FILE"));
    const QCommandLineOption methodOption(
        {QStringLiteral("m"), QStringLiteral("method")},
        QStringLiteral("Conversion method: classic (the default: each run's most frequent hue of the "
                       "nearest generated colours) or best (each run's hue and every pixel's luminance "
                       "that minimise the summed CIEDE2000 against the Atari palette)."),
        QStringLiteral("METHOD"));
    const QCommandLineOption framesOption(
        QStringLiteral("frames"),
        QStringLiteral("1 (the default) or 2: two pictures shown in alternate frames and blended by the eye, "
                       "the exact least-CIEDE2000 pair of frames; a form of the best method (the default "
                       "method becomes best; -m classic cannot be combined with it)."),
        QStringLiteral("N"));
    const QCommandLineOption flickerOption(
        QStringLiteral("flicker"),
        QStringLiteral("With --frames 2: the largest L* difference allowed between the two frames' colours "
                       "of a pixel, a whole number 0..100 (default %1; 0: no luminance flicker). Lower "
                       "flickers less, higher comes closer to the photo. Frames that come out identical (always "
                       "with 0) are written as one frame, the single-frame program.")
            .arg(ATARIpic::kDefaultFlickerLimit),
        QStringLiteral("N"));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("Write a CSV line per converted picture to FILE ('-' for standard output): "
                       "file,method,saturation,delta_e2000,frames,flicker,flicker_area: delta_e2000 is the mean "
                       "CIEDE2000 between the photo and what the Atari shows (with two frames their blend; lower "
                       "is better), frames is 1 or 2, flicker the mean L* difference between the two frames and "
                       "flicker_area the largest difference of areas, as the eye sees a 25 Hz flicker (0 for "
                       "one frame). Alone, without any other output, it converts every input "
                       "for the figures only and writes no picture."),
        QStringLiteral("FILE"));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("Show no progress; errors are still reported."));
    const QCommandLineOption jobsOption(
        {QStringLiteral("j"), QStringLiteral("jobs")},
        QStringLiteral("Use N threads in all, 1..%1 (default: the number of processor cores, here %2): up to "
                       "N pictures at once. Outputs, messages and exit status are the same as with -j 1.")
            .arg(kMaxThreads)
            .arg(QThread::idealThreadCount()),
        QStringLiteral("N"));
    parser.addOptions({outputDirOption, formatOption, xexOption, asmOption, pngOption, saturationOption,
                       previewOption, methodOption, framesOption, flickerOption, paletteOption, reportOption,
                       jobsOption, quietOption});
    const PictureOptions pictureOptions;
    parser.addOptions(pictureOptions.all());
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

    const QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        return usage(QStringLiteral("no input picture given"));
    if (inputs.contains(QString()))
        return usage(QStringLiteral("an input picture's name is empty"));
    if (inputs.size() > 1 && inputs.contains(kStandardStream))
        return usage(QStringLiteral("'-' (standard input) must be the only input picture"));

    if (parser.isSet(saturationOption)) {
        const QString text = parser.value(saturationOption);
        if (!wholeNumber(text, 0, kMaxSliderValue, &req.settings.slider)) {
            return usage(
                QStringLiteral("saturation must be a whole number from 0 to %1, not '%2'").arg(kMaxSliderValue).arg(text));
        }
        req.settings.hasSlider = true;
    }

    if (parser.isSet(previewOption)) {
        const int mode = previewModeOf(parser.value(previewOption));
        if (mode < 0) {
            return usage(QStringLiteral("unknown preview '%1' (expected original, gtia, atari-pal, output, "
                                        "gray, green, chroma, atari, atari-a, atari-b or flicker)")
                             .arg(parser.value(previewOption)));
        }
        req.previewMode = quint8(mode);
    }
    req.quiet = parser.isSet(quietOption);
    req.threads = std::max(1, QThread::idealThreadCount());
    if (parser.isSet(jobsOption)) {
        const QString text = parser.value(jobsOption);
        if (!wholeNumber(text, 1, kMaxThreads, &req.threads))
            return usage(QStringLiteral("jobs must be a whole number from 1 to %1, not '%2'").arg(kMaxThreads).arg(text));
    }
    if (parser.isSet(methodOption)) {
        const QString method = parser.value(methodOption).toLower();
        if (method != QLatin1String("classic") && method != QLatin1String("best"))
            return usage(QStringLiteral("unknown method '%1' (expected classic or best)").arg(parser.value(methodOption)));
        req.settings.method = method == QLatin1String("best") ? ATARIpic::Method::Best : ATARIpic::Method::Classic;
    }
    if (parser.isSet(framesOption)) {
        const QString text = parser.value(framesOption);
        if (!wholeNumber(text, 1, 2, &req.settings.frames))
            return usage(QStringLiteral("frames must be 1 or 2, not '%1'").arg(text));
    }
    if (parser.isSet(flickerOption)) {
        const QString text = parser.value(flickerOption);
        if (!wholeNumber(text, 0, 100, &req.settings.flicker))
            return usage(QStringLiteral("flicker must be a whole number from 0 to 100, not '%1'").arg(text));
    }
    if (req.settings.frames == 2) {
        if (parser.isSet(methodOption) && req.settings.method == ATARIpic::Method::Classic)
            return usage(QStringLiteral("--frames 2 is a form of the best method and cannot be combined with "
                                        "-m classic"));
        req.settings.method = ATARIpic::Method::Best;
    }
    if (parser.isSet(reportOption)) {
        req.reportFile = parser.value(reportOption);
        if (req.reportFile.isEmpty())
            return usage(QStringLiteral("--report needs a non-empty name ('-' for standard output)"));
    }
    req.paletteFile = parser.value(paletteOption);
    const QString pictureError = pictureOptions.read(parser, &req.settings);
    if (!pictureError.isEmpty())
        return usage(pictureError);

    const bool toDirectory = parser.isSet(outputDirOption);
    const bool explicitOutputs = parser.isSet(xexOption) || parser.isSet(asmOption) || parser.isSet(pngOption);
    if (toDirectory && explicitOutputs)
        return usage(QStringLiteral("--output-dir cannot be combined with --xex, --asm or --png"));
    // The report alone is a complete request: the figures of every input, no picture written.
    const bool reportOnly = !toDirectory && !explicitOutputs && !req.reportFile.isEmpty();
    if (!toDirectory && !explicitOutputs && !reportOnly)
        return usage(QStringLiteral("no output requested (use --output-dir, --xex, --asm, --png or --report)"));
    if (parser.isSet(formatOption) && !toDirectory)
        return usage(QStringLiteral("--format needs --output-dir"));
    if (explicitOutputs && inputs.size() > 1)
        return usage(QStringLiteral("--xex, --asm and --png take a single input picture; use --output-dir "
                                   "for several"));

    for (const QCommandLineOption *option : {&outputDirOption, &xexOption, &asmOption, &pngOption, &paletteOption}) {
        if (parser.isSet(*option) && parser.value(*option).isEmpty())
            return usage(QStringLiteral("--%1 needs a non-empty name").arg(option->names().constLast()));
    }

    int toStandardOutput = 0;
    for (const QCommandLineOption *option : {&xexOption, &asmOption, &pngOption, &reportOption})
        toStandardOutput += parser.isSet(*option) && parser.value(*option) == kStandardStream ? 1 : 0;
    if (toStandardOutput > 1)
        return usage(QStringLiteral("only one of --xex, --asm, --png and --report may be '-' (standard output)"));

    QStringList formats{QStringLiteral("xex")};
    if (parser.isSet(formatOption))
        formats = parser.value(formatOption).split(QLatin1Char(','), Qt::SkipEmptyParts);

    if (reportOnly) {
        for (const QString &input : inputs)
            req.jobs.append({input, QString(), QString(), QString()});
        return checkOutputs() ? Result::Convert : Result::UsageError;
    }
    if (!buildJobs(inputs, toDirectory ? parser.value(outputDirOption) : QString(), formats,
                   parser.value(xexOption), parser.value(asmOption), parser.value(pngOption))
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
