#include "commandline.h"
#include "converter.h"
#include "interrupts.h"

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

// Library messages (at most one line per picture, see PictureFiles::load) in the converter's voice.
void logMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    printTo(stderr, QStringLiteral("%1: %2\n").arg(QCoreApplication::applicationName(), message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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
    qInstallMessageHandler(logMessage);
    const ConversionRequest &request = commandLine.request();
    const int count = request.jobs.size();
    const bool showProgress = count > 1 && !request.quiet;
    int failed = 0;
    int done = 0;
    for (int i = 0; i < count && Interrupts::received() == 0; ++i, ++done) {
        const ConversionJob &job = request.jobs.at(i);
        const QStringList failures = convert(job, request.hasSaturation, request.saturation, request.previewMode);
        for (const QString &failure : failures)
            printTo(stderr, QStringLiteral("%1: %2\n").arg(program, failure));
        if (!failures.isEmpty())
            ++failed;
        else if (showProgress)
            printTo(stderr, QStringLiteral("[%1/%2] %3 -> %4\n")
                                .arg(i + 1)
                                .arg(count)
                                .arg(job.input, job.outputs().join(QStringLiteral(", "))));
    }
    if (const int signal = Interrupts::received()) {
        printTo(stderr, QStringLiteral("%1: interrupted after %2 of %3 pictures; no partly written file is left\n")
                            .arg(program)
                            .arg(done)
                            .arg(count));
        return kExitSignalBase + signal;
    }
    return failed == 0 ? kExitSuccess : kExitSomeFailed;
}
