#include "ataripic.h"
#include "bestconversion.h"
#include "colourscience.h"
#include "pictureloader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

// Times the best conversion and the classic one on the same photos and prints both, their ratio
// and each method's mean CIEDE2000 between the averaged colours and the palette colours chosen.
// Usage: bench_best [photo ...]; without arguments the test photos.

namespace {

constexpr int kRepeats = 20; // timed conversions per method and photo; the fastest one counts
constexpr int kThreads = 2;  // threads the best conversion uses, the calling one included

double meanDifference(const quint32 *averaged, const quint8 *output, const ATARIpalGen &pal)
{
    double sum = 0.0;
    for (int j = 0; j < Geometry::kAtariPixels; ++j)
        sum += ColourScience::deltaE2000(ColourScience::labFromRgb(averaged[j]),
                                         ColourScience::labFromRgb(pal.getBase(output[j])));
    return sum / Geometry::kAtariPixels;
}

template <typename F>
double fastestMilliseconds(F &&work)
{
    double fastest = 1e300;
    for (int r = 0; r < kRepeats; ++r) {
        QElapsedTimer timer;
        timer.start();
        work();
        fastest = std::min(fastest, timer.nsecsElapsed() / 1e6);
    }
    return fastest;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    if (files.isEmpty())
        files << QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg") << QStringLiteral(RASTREL_TEST_DATA "/coffee.jpg");

    QTextStream out(stdout);
    auto pic = std::make_unique<ATARIpic>();
    quint32 palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = pic->palette().getBase(quint8(i));
    auto best = std::make_unique<BestConverter>();
    best->setPalette(palette);
    std::vector<quint32> pixels(Geometry::kSourcePixels);
    std::vector<quint8> output(Geometry::kAtariPixels);
    std::vector<quint8> hues(Geometry::kHues);

    out << "photo            classic ms   best ms   best/classic   mean dE00 classic   mean dE00 best\n";
    for (const QString &file : files) {
        QString error;
        if (!PictureLoader::load(file, pixels.data(), &error)) {
            out << error << '\n';
            return 1;
        }
        pic->copy(pixels.data());
        const double classic = fastestMilliseconds([&] { pic->letsGo(); });
        const double bestMs = fastestMilliseconds([&] { best->convert(pic->averaged(), 1.0, output.data(), hues.data(), kThreads); });
        const double classicQuality = meanDifference(pic->averaged(), pic->outputBytes(), pic->palette());
        const double bestQuality = meanDifference(pic->averaged(), output.data(), pic->palette());
        out << QString::asprintf("%-16s %10.2f %9.2f %14.1f %19.3f %16.3f\n", qPrintable(file.section('/', -1)), classic, bestMs, bestMs / classic,
                                 classicQuality, bestQuality);
    }
    return 0;
}
