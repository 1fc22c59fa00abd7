// Manual benchmark of the two-frame conversion: per photo, the time of one conversion at a flicker
// limit with one and with two threads (the fastest of a few runs), and the figures of what the Atari
// shows against the unmodified averaged colour beneath every screen pixel (mean CIEDE2000) for the
// classic method, the best method and two frames (the blend of the two frame views), with the two
// frames' flicker (mean and largest |L*A - L*B| over the 76800 screen pixels).
// "cpu s" is the processor time of the conversion with one thread, which a busy machine inflates less
// than the wall clock. The conversion's time is what two frames cost beyond the classic run (whose
// averaging and nearest search they share); "cl ms" is the classic run's letsGo.
// Usage: bench_twoframes [--flicker N] [PHOTO...]  (default: flicker 10 and the test photos).

#include "methodtable.h"
#include "ataripic.h"
#include "atariview.h"
#include "colourscience.h"
#include "linearblend.h"
#include "pictureloader.h"
#include "twoframeconversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

using namespace Geometry;

namespace {

constexpr int kRepeats = 5; // timed conversions per photo and thread count; the fastest one counts

struct Frames {
    std::vector<quint8> outputA = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesA = std::vector<quint8>(kHues);
    std::vector<quint8> outputB = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesB = std::vector<quint8>(kHues);
};

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The fastest of kRepeats conversions, in wall-clock seconds, and its processor time in the calling
// thread (all of it with one thread; on a busy machine the wall clock also counts waiting).
double fastestSeconds(const TwoFrameConverter &converter, const quint32 *averaged, int flicker, int threads,
                      Frames &frames, double *processorSeconds)
{
    double fastest = 1e300;
    for (int r = 0; r < kRepeats; ++r) {
        QElapsedTimer timer;
        timer.start();
        const double start = threadSeconds();
        converter.convert(averaged, 1.0, flicker, threads, frames.outputA.data(), frames.huesA.data(),
                          frames.outputB.data(), frames.huesB.data());
        const double elapsed = timer.nsecsElapsed() / 1e9;
        if (elapsed < fastest) {
            fastest = elapsed;
            *processorSeconds = threadSeconds() - start;
        }
    }
    return fastest;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList photos = app.arguments().mid(1);
    int flicker = 10;
    if (photos.size() >= 2 && photos.first() == QLatin1String("--flicker")) {
        flicker = photos.at(1).toInt();
        photos = photos.mid(2);
    }
    if (photos.isEmpty())
        photos = QStringList{QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"),
                             QStringLiteral(RASTREL_TEST_DATA "/coffee.jpg"),
                             QStringLiteral(RASTREL_TEST_DATA "/rocket.jpg")};

    std::printf("flicker limit %d\n%-12s %8s %8s %8s %6s %9s %8s %8s %8s %8s %8s\n", flicker, "photo", "classic", "best",
                "two", "two/cl", "flicker", "max", "cl ms", "1 thr s", "cpu s", "2 thr s");
    double ratioSum = 0.0;
    for (const QString &photo : photos) {
        std::vector<quint32> pixels(kSourcePixels);
        QString error;
        if (!PictureLoader::load(photo, pixels.data(), &error)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(photo), qPrintable(error));
            return 1;
        }
        auto pic = std::make_unique<ATARIpic>();
        pic->copy(pixels.data());
        const double classic = pic->qualityFigure();
        double classicMs = 1e300;
        for (int r = 0; r < kRepeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            pic->letsGo();
            classicMs = std::min(classicMs, timer.nsecsElapsed() / 1e6);
        }
        pic->setMethod(MethodTable::find("best"));
        pic->letsGo();
        const double best = pic->qualityFigure();

        quint32 palette[256];
        for (int i = 0; i < 256; ++i)
            palette[i] = pic->palette().getBase(quint8(i));
        auto converter = std::make_unique<TwoFrameConverter>();
        converter->setPalette(palette);
        Frames frames;
        double processor = 0.0;
        double unused = 0.0;
        const double one = fastestSeconds(*converter, pic->averaged(), flicker, 1, frames, &processor);
        const double two = fastestSeconds(*converter, pic->averaged(), flicker, 2, frames, &unused);

        std::vector<quint8> screenA(AtariView::kWidth * AtariView::kHeight);
        std::vector<quint8> screenB(screenA.size());
        AtariView::render(frames.outputA.data(), frames.huesA.data(), screenA.data());
        AtariView::render(frames.outputB.data(), frames.huesB.data(), screenB.data());
        double difference = 0.0;
        double flickerSum = 0.0;
        double flickerMax = 0.0;
        for (int y = 0; y < AtariView::kHeight; ++y) {
            for (int x = 0; x < AtariView::kWidth; ++x) {
                const size_t i = size_t(y * AtariView::kWidth + x);
                const quint32 a = palette[screenA[i]];
                const quint32 b = palette[screenB[i]];
                const ColourScience::Lab photographed =
                    ColourScience::labFromRgb(pic->averaged()[y * kAtariWidth + x / kSourcePerAtari]);
                difference += ColourScience::deltaE2000(LinearBlend::lab(a, b), photographed);
                const double f = std::fabs(ColourScience::labFromRgb(a).L - ColourScience::labFromRgb(b).L);
                flickerSum += f;
                flickerMax = std::max(flickerMax, f);
            }
        }
        const double pixelsShown = double(screenA.size());
        const double twoFrames = difference / pixelsShown;
        ratioSum += twoFrames / classic;
        std::printf("%-12s %8.3f %8.3f %8.3f %6.3f %9.3f %8.3f %8.2f %8.3f %8.3f %8.3f\n",
                    qPrintable(photo.section(QLatin1Char('/'), -1)), classic, best, twoFrames, twoFrames / classic,
                    flickerSum / pixelsShown, flickerMax, classicMs, one, processor, two);
    }
    std::printf("mean two/classic %.3f\n", ratioSum / photos.size());
    return 0;
}
