// Manual benchmark of the window's slider steps with two frames: per photo, the time from a new slider
// value to its converted picture being the one shown (ConversionQueue::shown, the window then only
// paints it), with the threads the window uses (one per processor), at a flicker limit. Steps go
// back and forth between slider values 50 and 51, each waited for; the fastest and the median of five.
// A second figure times a burst: five values in quick succession, as a dragged slider sends them, until
// the last one is shown (the queue coalesces the ones that arrive while it converts). "cpu s" is the
// processor time of the whole program in the fastest step, all its threads together, which a busy
// machine inflates less than the wall clock.
// Usage: bench_window [--flicker N] [PHOTO...]  (default: flicker 10 and the test photos).

#include "benchsupport.h"
#include "conversionqueue.h"
#include "conversionsettings.h"
#include "methodtable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const BenchSupport::Arguments arguments = BenchSupport::arguments(app.arguments().mid(1));
    const int threads = QThread::idealThreadCount();
    std::printf("two frames, flicker limit %d, %d threads\n%-14s %10s %10s %10s %10s\n", arguments.flicker, threads,
                "photo", "fastest s", "cpu s", "median s", "burst s");
    for (const QString &photo : arguments.photos) {
        ConversionSettings settings;
        settings.method = MethodTable::find(QStringLiteral("best"), 2);
        settings.flicker = arguments.flicker;
        settings.hasSlider = true;
        settings.slider = 50;
        ConversionQueue queue(settings, threads);
        bool failed = false;
        QObject::connect(&queue, &ConversionQueue::failed, [&](const QString &file, const QString &reason) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(file), qPrintable(reason));
            failed = true;
        });
        queue.load(photo);
        queue.waitForIdle();
        if (failed || !queue.hasPicture())
            return 1;
        std::vector<double> steps;
        double fastestProcessor = 0.0;
        for (int r = 0; r < BenchSupport::kRepeats; ++r) {
            settings.slider = settings.slider == 50 ? 51 : 50;
            QElapsedTimer timer;
            const std::clock_t processorStart = std::clock();
            timer.start();
            queue.setSettings(settings);
            queue.waitForIdle();
            const double step = double(timer.nsecsElapsed()) / 1e9;
            const double processor = double(std::clock() - processorStart) / CLOCKS_PER_SEC;
            if (steps.empty() || step < *std::min_element(steps.begin(), steps.end()))
                fastestProcessor = processor;
            steps.push_back(step);
        }
        std::sort(steps.begin(), steps.end());
        QElapsedTimer timer;
        timer.start();
        for (int value = 52; value < 52 + BenchSupport::kRepeats; ++value) {
            settings.slider = value;
            queue.setSettings(settings);
            QCoreApplication::processEvents();
        }
        queue.waitForIdle();
        const double burst = double(timer.nsecsElapsed()) / 1e9;
        std::printf("%-14s %10.3f %10.3f %10.3f %10.3f\n", qPrintable(BenchSupport::photoName(photo)), steps.front(),
                    fastestProcessor, steps[steps.size() / 2], burst);
        std::fflush(stdout);
    }
    ConversionQueue::waitForRunningWork();
    return 0;
}
