#include "batch.h"
#include "commandline.h"
#include "converter.h"
#include "displaytable.h"
#include "filenames.h"
#include "interrupts.h"

#include "conversionsettings.h"
#include "decoderprocess.h"
#include "methodtable.h"
#include "palettefile.h"
#include "pictureconversion.h"
#include "pictureexports.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
// A shell's status for a process ended by a signal.
constexpr int kExitSignalBase = 128;

void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// A CSV field, quoted when it holds a separator, a quote or a line break.
QByteArray csvField(const QString &text)
{
    QByteArray field = text.toLocal8Bit();
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r'))
        field = '"' + field.replace('"', "\"\"") + '"';
    return field;
}

// One report line: the picture, the method, the slider value in effect, the figure, the frames, the
// mean flicker and the display.
QByteArray reportLine(const QString &input, const ConversionRequest &request, const ConversionResult &result)
{
    const ConversionSettings &settings = request.settings;
    const MethodInfo &method = MethodTable::at(settings.method);
    return csvField(input) + ',' + method.reportName + ','
           + QByteArray::number(PictureConversion::sliderInEffect(settings)) + ','
           + QByteArray::number(result.figure, 'f', 4) + ',' + QByteArray::number(method.frames) + ','
           + QByteArray::number(result.flicker, 'f', 4) + ',' + DisplayTable::at(settings.display).name + '\n';
}

bool writeReport(const QString &program, const QString &fileName, const QByteArray &report)
{
    QString error;
    if (fileName == QLatin1String("-")) {
        if (std::fwrite(report.constData(), 1, size_t(report.size()), stdout) == size_t(report.size())
            && std::fflush(stdout) == 0)
            return true;
        error = QStringLiteral("cannot write to standard output");
    } else if (PictureExports::saveBytes(fileName, report, &error)) {
        return true;
    }
    printTo(stderr, QStringLiteral("%1: %2: %3\n").arg(program, fileName, error));
    return false;
}

// Library messages (at most one line per picture, see PictureLoader::load) in the converter's voice.
void logMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    printTo(stderr, QStringLiteral("%1: %2\n").arg(QCoreApplication::applicationName(), message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FileNames::keepEveryByte();
    QCoreApplication::setApplicationName(QStringLiteral("rastrel-zo9-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RASTREL_VERSION));
    const QString program = QCoreApplication::applicationName();

    CommandLine commandLine;
    switch (commandLine.parse(QCoreApplication::arguments())) {
    case CommandLine::Result::ShowHelp:
        printTo(stdout, commandLine.helpText());
        return kExitSuccess;
    case CommandLine::Result::ShowVersion:
        printTo(stdout, program + QLatin1Char(' ') + QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return kExitSuccess;
    case CommandLine::Result::UsageError:
        printTo(stderr, QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
                            .arg(program, commandLine.errorText()));
        return kExitUsage;
    case CommandLine::Result::Convert:
        break;
    }

    Interrupts::install();
    // An interrupt ends the decoder at work at once.
    DecoderProcess::setStopCheck([] { return Interrupts::received() != 0; });
    qInstallMessageHandler(logMessage);
    const ConversionRequest &request = commandLine.request();
    ConversionOptions options;
    options.conversion = request.settings;
    options.previewMode = request.previewMode;
    options.wantFigure = !request.reportFile.isEmpty();
    if (!request.paletteFile.isEmpty()) {
        quint32 palette[256];
        QString error;
        if (!PaletteFile::read(request.paletteFile, palette, &error)) {
            printTo(stderr, QStringLiteral("%1: %2: %3\n").arg(program, request.paletteFile, error));
            return kExitUsage;
        }
        options.conversion.basePalette.assign(palette, palette + 256);
    }

    const int count = request.jobs.size();
    const bool showProgress = count > 1 && !request.quiet;
    int failed = 0;
    QByteArray report = "file,method,saturation,delta_e2000,frames,flicker,display\n";
    Batch batch(request.jobs, options, request.threads);
    batch.setStopCheck([] { return Interrupts::received() != 0; });
    int done = 0;
    batch.run([&](int i, const ConversionResult &result) {
        const ConversionJob &job = request.jobs.at(i);
        if (result.interrupted)
            return;
        ++done;
        if (!result.warning.isEmpty())
            printTo(stderr, QStringLiteral("%1: %2\n").arg(program, result.warning));
        if (result.converted && options.wantFigure)
            report.append(reportLine(job.input, request, result));
        for (const QString &failure : result.failures)
            printTo(stderr, QStringLiteral("%1: %2\n").arg(program, failure));
        if (!result.failures.isEmpty())
            ++failed;
        else if (showProgress && job.outputs().isEmpty())
            printTo(stderr, QStringLiteral("[%1/%2] %3\n").arg(i + 1).arg(count).arg(job.input));
        else if (showProgress)
            printTo(stderr, QStringLiteral("[%1/%2] %3 -> %4\n")
                                .arg(i + 1)
                                .arg(count)
                                .arg(job.input, job.outputs().join(QStringLiteral(", "))));
    });
    if (options.wantFigure && !writeReport(program, request.reportFile, report))
        ++failed;
    if (const int signal = Interrupts::received()) {
        printTo(stderr, QStringLiteral("%1: interrupted after %2 of %3 pictures; no partly written file is left\n")
                            .arg(program)
                            .arg(done)
                            .arg(count));
        return kExitSignalBase + signal;
    }
    return failed == 0 ? kExitSuccess : kExitSomeFailed;
}
