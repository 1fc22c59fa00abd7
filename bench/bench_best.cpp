#include "benchsupport.h"
#include "ataripic.h"
#include "bestconversion.h"
#include "colourscience.h"

#include <QCoreApplication>
#include <QTextStream>

#include <functional>
#include <memory>
#include <vector>

// Times the best conversion (one thread and two) and the classic one on the same photos and prints
// them, the ratio of the best conversion on one thread to the classic one, and each method's mean
// CIEDE2000 between the averaged colours and the palette colours chosen. Times are the fastest of
// five runs; "cpu ms" is the processor time of the fastest one-thread run, which a busy machine
// inflates less than the wall clock.
// Usage: bench_best [photo ...]; without arguments the test photos chelsea, coffee and rocket.

namespace {

double meanDifference(const quint32 *averaged, const quint8 *output, const ATARIpalGen &pal)
{
    double sum = 0.0;
    for (int j = 0; j < Geometry::kAtariPixels; ++j)
        sum += ColourScience::deltaE2000(ColourScience::labFromRgb(averaged[j]),
                                         ColourScience::labFromRgb(pal.getBase(output[j])));
    return sum / Geometry::kAtariPixels;
}

// The fastest of five runs of work in wall-clock milliseconds, and the calling thread's processor
// time in that run.
double fastestMilliseconds(const std::function<void()> &work, double *processor = nullptr)
{
    const BenchSupport::Timing timing = BenchSupport::fastest(work);
    if (processor)
        *processor = timing.processorSeconds * 1e3;
    return timing.seconds * 1e3;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList files = BenchSupport::arguments(app.arguments().mid(1)).photos;

    QTextStream out(stdout);
    auto pic = std::make_unique<ATARIpic>();
    const std::vector<quint32> palette = pic->palette().baseColours();
    auto best = std::make_unique<BestConverter>();
    best->setPalette(palette.data());
    std::vector<quint32> pixels;
    std::vector<quint8> output(Geometry::kAtariPixels);
    std::vector<quint8> hues(Geometry::kHues);

    out << "photo            classic ms  best 1 thr ms   cpu ms  best 2 thr ms  best/classic  mean dE00 classic"
           "  mean dE00 best\n";
    for (const QString &file : files) {
        if (!BenchSupport::loadPhoto(file, &pixels))
            return 1;
        pic->copy(pixels.data());
        const double classic = fastestMilliseconds([&] { pic->letsGo(); });
        double processor = 0.0;
        const double oneThread =
            fastestMilliseconds([&] { best->convert(pic->averaged(), 1.0, output.data(), hues.data(), 1); }, &processor);
        const double twoThreads =
            fastestMilliseconds([&] { best->convert(pic->averaged(), 1.0, output.data(), hues.data(), 2); });
        const double classicQuality = meanDifference(pic->averaged(), pic->outputBytes(), pic->palette());
        const double bestQuality = meanDifference(pic->averaged(), output.data(), pic->palette());
        out << QString::asprintf("%-16s %10.2f %14.2f %8.2f %14.2f %13.1f %18.3f %15.3f\n",
                                 qPrintable(BenchSupport::photoName(file)), classic, oneThread, processor, twoThreads,
                                 oneThread / classic, classicQuality, bestQuality);
    }
    return 0;
}
