// Manual benchmark of the two-frame conversion: per photo, the time of one conversion at a flicker
// limit with one and with two threads (the fastest of five runs), what the whole two-frame run costs
// beyond the classic one (letsGo with one thread, arrangement and figures included: "beyond s" in wall
// clock, "beyond cpu" in processor time), and the figures of what the Atari shows against the
// unmodified averaged colour beneath every screen pixel (mean CIEDE2000) for the classic method, the
// best method and two frames (the blend of the two frame views), with the two frames' flicker (mean
// and largest |L*A - L*B| over the 76800 screen pixels).
// "cpu s" is the processor time of the conversion with one thread, which a busy machine inflates less
// than the wall clock; "cl ms" is the classic run's letsGo.
// Usage: bench_twoframes [--flicker N] [PHOTO...]  (default: flicker 10 and the test photos).

#include "benchsupport.h"
#include "methodtable.h"
#include "ataripic.h"
#include "atariview.h"
#include "colourscience.h"
#include "linearblend.h"
#include "twoframeconversion.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Geometry;
using BenchSupport::Frames;
using BenchSupport::Timing;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const BenchSupport::Arguments arguments = BenchSupport::arguments(app.arguments().mid(1));
    const int flicker = arguments.flicker;

    std::printf("flicker limit %d\n%-12s %8s %8s %8s %6s %9s %8s %8s %8s %8s %8s %9s %10s\n", flicker, "photo", "classic",
                "best", "two", "two/cl", "flicker", "max", "cl ms", "1 thr s", "cpu s", "2 thr s", "beyond s",
                "beyond cpu");
    double ratioSum = 0.0;
    for (const QString &photo : arguments.photos) {
        std::vector<quint32> pixels;
        if (!BenchSupport::loadPhoto(photo, &pixels))
            return 1;
        auto pic = std::make_unique<ATARIpic>();
        pic->copy(pixels.data());
        const Timing classicRun = BenchSupport::fastest([&] { pic->letsGo(); });
        const double classic = pic->qualityFigure();
        pic->setMethod(MethodTable::find("best"));
        pic->letsGo();
        const double best = pic->qualityFigure();
        pic->setMethod(MethodTable::find("best", 2));
        pic->setFlickerLimit(flicker);
        const Timing twoFrameRun = BenchSupport::fastest([&] { pic->letsGo(); });

        const std::vector<quint32> palette = pic->palette().baseColours();
        auto converter = std::make_unique<TwoFrameConverter>();
        converter->setPalette(palette.data());
        Frames frames;
        const auto convert = [&](int threads) {
            return BenchSupport::fastest([&] {
                converter->convert(pic->averaged(), 1.0, flicker, threads, frames.outputA.data(), frames.huesA.data(),
                                   frames.outputB.data(), frames.huesB.data());
            });
        };
        const Timing one = convert(1);
        const Timing two = convert(2);

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
        std::printf("%-12s %8.3f %8.3f %8.3f %6.3f %9.3f %8.3f %8.2f %8.3f %8.3f %8.3f %9.3f %10.3f\n",
                    qPrintable(BenchSupport::photoName(photo)), classic, best, twoFrames, twoFrames / classic,
                    flickerSum / pixelsShown, flickerMax, classicRun.seconds * 1e3, one.seconds, one.processorSeconds,
                    two.seconds, twoFrameRun.seconds - classicRun.seconds,
                    twoFrameRun.processorSeconds - classicRun.processorSeconds);
        std::fflush(stdout);
    }
    std::printf("mean two/classic %.3f\n", ratioSum / arguments.photos.size());
    return 0;
}
