#include "benchsupport.h"

#include "pictureloader.h"

#include <QElapsedTimer>

#include <cstdio>
#include <ctime>

namespace BenchSupport {

Arguments arguments(const QStringList &commandLine)
{
    Arguments parsed;
    QStringList rest = commandLine;
    while (rest.size() >= 2 && (rest.first() == QLatin1String("--flicker") || rest.first() == QLatin1String("--png"))) {
        if (rest.first() == QLatin1String("--flicker"))
            parsed.flicker = rest.at(1).toInt();
        else
            parsed.png = rest.at(1);
        rest = rest.mid(2);
    }
    parsed.photos = rest.isEmpty() ? QStringList{QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"),
                                                 QStringLiteral(RASTREL_TEST_DATA "/coffee.jpg"),
                                                 QStringLiteral(RASTREL_TEST_DATA "/rocket.jpg")}
                                   : rest;
    return parsed;
}

bool loadPhoto(const QString &file, std::vector<quint32> *pixels)
{
    pixels->assign(Geometry::kSourcePixels, 0u);
    QString error;
    if (PictureLoader::load(file, pixels->data(), &error))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(file), qPrintable(error));
    return false;
}

QString photoName(const QString &file)
{
    return file.section(QLatin1Char('/'), -1);
}

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

Timing fastest(const std::function<void()> &work, int repeats)
{
    Timing best;
    best.seconds = 1e300;
    for (int r = 0; r < repeats; ++r) {
        QElapsedTimer timer;
        timer.start();
        const double start = threadSeconds();
        work();
        const double elapsed = double(timer.nsecsElapsed()) / 1e9;
        if (elapsed < best.seconds) {
            best.seconds = elapsed;
            best.processorSeconds = threadSeconds() - start;
        }
    }
    return best;
}

} // namespace BenchSupport
