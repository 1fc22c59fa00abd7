// Manual measurement of what the picture controls add per picture: the tone applied to the
// 320x240 photo (curve and pixels), and the crop and pad fits against stretch when reading a photo.
// Usage: bench_tone [PHOTO]  (default: the chelsea test photo)

#include "atarigeometry.h"
#include "pictureloader.h"
#include "picturetone.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <vector>

using namespace Geometry;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString photo = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg");
    std::vector<quint32> pixels(kSourcePixels);
    QString error;

    double stretchMs = 0;
    for (int fit = 0; fit < kPictureFitCount; ++fit) {
        constexpr int kRounds = 10;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kRounds; ++i) {
            if (!PictureLoader::load(photo, pixels.data(), &error, nullptr, PictureFit(fit))) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(photo), qPrintable(error));
                return 1;
            }
        }
        const double ms = timer.nsecsElapsed() / 1e6 / kRounds;
        if (fit == 0)
            stretchMs = ms;
        std::printf("read with fit %-7s %8.2f ms  (%.2f x stretch)\n", kPictureFitNames[fit], ms, ms / stretchMs);
    }

    PictureTone::Tone tone;
    tone.brightness = 10;
    tone.contrast = 20;
    tone.gamma = 1.4;
    std::vector<quint32> adjusted(kSourcePixels);
    constexpr int kRounds = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kRounds; ++i)
        PictureTone::apply(tone, pixels.data(), adjusted.data(), kSourcePixels);
    std::printf("tone (b 10, c 20, g 1.4)   %8.3f ms per picture\n", timer.nsecsElapsed() / 1e6 / kRounds);
    timer.restart();
    for (int i = 0; i < kRounds; ++i)
        PictureTone::apply(PictureTone::Tone(), pixels.data(), adjusted.data(), kSourcePixels);
    std::printf("tone neutral (a copy)      %8.3f ms per picture\n", timer.nsecsElapsed() / 1e6 / kRounds);
    return 0;
}
