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
#include "plainfiles.h"
#include "resources.h"

#include <QCoreApplication>

#include <cstdio>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

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

// text with its control characters shown escaped (\x1B), so that no name can forge a line or
// send the terminal a command; also the bytes 0x80 to 0x9F that a name in no valid encoding holds.
QString shown(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool control = u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || (u >= 0xDC80 && u <= 0xDC9F);
        if (control)
            out += QStringLiteral("\\x") + QString::number(u & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// One line of a message on the standard error stream, after the program's name.
void printError(const QString &program, const QString &message)
{
    printTo(stderr, program + QStringLiteral(": ") + shown(message) + QLatin1Char('\n'));
}

// Standard streams that were closed when the program started: their descriptors are taken by
// /dev/null, so that no file the program opens takes their place and is read or written as one.
struct ClosedStreams
{
    bool input = false;
    bool output = false;
};

ClosedStreams holdStandardStreams()
{
    ClosedStreams closed;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0)
            continue;
        (fd == STDIN_FILENO ? closed.input : closed.output) |= fd != STDERR_FILENO;
        const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
    return closed;
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
// mean flicker, the area flicker and the display.
QByteArray reportLine(const QString &input, const ConversionRequest &request, const ConversionResult &result)
{
    const ConversionSettings &settings = request.settings;
    const MethodInfo &method = MethodTable::at(settings.method);
    return csvField(input) + ',' + method.reportName + ','
           + QByteArray::number(PictureConversion::sliderInEffect(settings)) + ','
           + QByteArray::number(result.figure, 'f', 4) + ',' + QByteArray::number(result.frames) + ','
           + QByteArray::number(result.flicker, 'f', 4) + ',' + QByteArray::number(result.flickerArea, 'f', 4)
           + ',' + DisplayTable::at(settings.display).name + '\n';
}

bool writeReport(const QString &program, const QString &fileName, const QByteArray &report)
{
    QString error;
    if (PictureExports::saveBytes(fileName, report, &error))
        return true;
    printError(program, QStringLiteral("%1: %2").arg(fileName, error));
    return false;
}

// Library messages (at most one line per picture, see PictureLoader::load) in the converter's voice.
void logMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    printError(QStringLiteral("rastrel-zo9-cli"), message);
}

} // namespace

int main(int argc, char *argv[])
{
    const ClosedStreams closed = holdStandardStreams();
    // Every thread would otherwise reserve an allocation arena of 64 MiB of address space of its
    // own; under an address-space limit (ulimit -v) those reservations decide how many pictures
    // fit at once. Conversions allocate little while they run, so a few arenas serve all threads.
    mallopt(M_ARENA_MAX, 4);
    qInstallMessageHandler(logMessage);
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
        printError(program, commandLine.errorText());
        printTo(stderr, QStringLiteral("Try '%1 --help' for more information.\n").arg(program));
        return kExitUsage;
    case CommandLine::Result::Convert:
        break;
    }

    Interrupts::install();
    // An interrupt ends the decoder at work at once, and a write that waits for a pipe.
    DecoderProcess::setStopCheck([] { return Interrupts::received() != 0; });
    PlainFiles::setStopCheck([] { return Interrupts::received() != 0; });
    const ConversionRequest &request = commandLine.request();
    // What would be read from or written to a closed stream fails at once, before any work.
    const auto standard = [&request](bool output) {
        for (const ConversionJob &job : request.jobs) {
            if (output ? (job.outputs().contains(QStringLiteral("-"))) : job.input == QLatin1String("-"))
                return true;
        }
        return output && request.reportFile == QLatin1String("-");
    };
    if ((closed.input && standard(false)) || (closed.output && standard(true))) {
        printError(program, closed.input && standard(false) ? QStringLiteral("-: the standard input is closed")
                                                            : QStringLiteral("-: the standard output is closed"));
        return kExitSomeFailed;
    }
    ConversionOptions options;
    options.conversion = request.settings;
    options.previewMode = request.previewMode;
    options.wantFigure = !request.reportFile.isEmpty();
    if (!request.paletteFile.isEmpty()) {
        quint32 palette[256];
        QString error;
        if (!PaletteFile::read(request.paletteFile, palette, &error)) {
            printError(program, QStringLiteral("%1: %2").arg(request.paletteFile, error));
            return kExitUsage;
        }
        options.conversion.basePalette.assign(palette, palette + 256);
    }

    const int count = request.jobs.size();
    const bool showProgress = count > 1 && !request.quiet;
    int failed = 0;
    QByteArray report = "file,method,saturation,delta_e2000,frames,flicker,flicker_area,display\n";
    Batch batch(request.jobs, options, request.threads, Resources::available());
    batch.setStopCheck([] { return Interrupts::received() != 0; });
    int done = 0;
    batch.run([&](int i, const ConversionResult &result) {
        const ConversionJob &job = request.jobs.at(i);
        if (result.interrupted)
            return;
        ++done;
        // A notice (nothing wrong with the picture) is left out with -q.
        if (!result.warning.isEmpty() && !(request.quiet && DecoderProcess::isNotice(result.warning)))
            printError(program, result.warning);
        if (result.converted && options.conversion.frames() == 2 && result.frames == 1 && !request.quiet)
            printError(program, QStringLiteral("%1: the two frames came out identical; wrote one frame").arg(job.input));
        if (result.converted && options.wantFigure)
            report.append(reportLine(job.input, request, result));
        for (const QString &failure : result.failures)
            printError(program, failure);
        if (!result.failures.isEmpty())
            ++failed;
        else if (showProgress && job.outputs().isEmpty())
            printTo(stderr, shown(QStringLiteral("[%1/%2] %3").arg(i + 1).arg(count).arg(job.input)) + QLatin1Char('\n'));
        else if (showProgress)
            printTo(stderr, shown(QStringLiteral("[%1/%2] %3 -> %4")
                                      .arg(i + 1)
                                      .arg(count)
                                      .arg(job.input, job.outputs().join(QStringLiteral(", "))))
                                + QLatin1Char('\n'));
    });
    if (options.wantFigure && !writeReport(program, request.reportFile, report))
        ++failed;
    if (const int signal = Interrupts::received()) {
        printError(program, QStringLiteral("interrupted by %1 after %2 of %3 pictures; no partly written file is left")
                                .arg(QLatin1String(Interrupts::name(signal)))
                                .arg(done)
                                .arg(count));
        return kExitSignalBase + signal;
    }
    return failed == 0 ? kExitSuccess : kExitSomeFailed;
}
