#include "commandline.h"
#include "converter.h"
#include "palettefile.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
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

    const ConversionRequest &request = commandLine.request();
    ConversionSettings settings;
    settings.hasSaturation = request.hasSaturation;
    settings.saturation = request.saturation;
    settings.previewMode = request.previewMode;
    quint32 palette[256];
    if (!request.paletteFile.isEmpty()) {
        QString error;
        if (!PaletteFile::read(request.paletteFile, palette, &error)) {
            printTo(stderr, QStringLiteral("%1: %2: %3\n").arg(program, request.paletteFile, error));
            return kExitUsage;
        }
        settings.basePalette = palette;
    }

    const int count = request.jobs.size();
    const bool showProgress = count > 1 && !request.quiet;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const ConversionJob &job = request.jobs.at(i);
        const QStringList failures = convert(job, settings);
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
    return failed == 0 ? kExitSuccess : kExitSomeFailed;
}
