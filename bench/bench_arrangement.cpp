// Manual benchmark of the frame arrangement: per photo, the time of one arrangement of the two-frame
// conversion's frames (the fastest of a few) against the conversion's own time, and the area flicker
// (AreaFlicker::areaFlicker, L*) before and after, for the plain display and for one that mixes each
// line with the line above (Coupling::LineAbove), with the number of units each leaves.
// Usage: bench_arrangement [--flicker N] [PHOTO...]  (default: flicker 10 and the test photos).

#include "ataripalgen.h"
#include "areaflicker.h"
#include "atarigeometry.h"
#include "atariview.h"
#include "framearrangement.h"
#include "pictureloader.h"
#include "twoframeconversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Geometry;

namespace {

constexpr int kRepeats = 3;

struct Frames {
    std::vector<quint8> outputA = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesA = std::vector<quint8>(kHues);
    std::vector<quint8> outputB = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesB = std::vector<quint8>(kHues);
};

double areaFlicker(const Frames &f, const quint32 *palette)
{
    std::vector<quint8> a(AtariView::kWidth * AtariView::kHeight);
    std::vector<quint8> b(a.size());
    AtariView::render(f.outputA.data(), f.huesA.data(), a.data());
    AtariView::render(f.outputB.data(), f.huesB.data(), b.data());
    return AreaFlicker::areaFlicker(a.data(), b.data(), palette);
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
    const ATARIpalGen pal;
    quint32 palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = pal.getBase(quint8(i));
    TwoFrameConverter converter;
    converter.setPalette(palette);

    std::printf("flicker limit %d\n%-12s %9s %9s %7s %7s %7s %6s %7s %6s\n", flicker, "photo", "convert s",
                "arrange s", "ratio", "before", "after", "units", "line", "units");
    for (const QString &photo : photos) {
        std::vector<quint32> pixels(kSourcePixels);
        QString error;
        if (!PictureLoader::load(photo, pixels.data(), &error)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(photo), qPrintable(error));
            return 1;
        }
        std::vector<quint32> averaged(kAtariPixels);
        for (int j = 0; j < kAtariPixels; ++j) {
            const quint32 *s = pixels.data() + kSourcePerAtari * j;
            averaged[size_t(j)] = pal.average(s[0], s[1], s[2], s[3]);
        }
        Frames given;
        QElapsedTimer timer;
        timer.start();
        converter.convert(averaged.data(), 1.0, flicker, 1, given.outputA.data(), given.huesA.data(),
                          given.outputB.data(), given.huesB.data());
        const double convert = timer.nsecsElapsed() / 1e9;
        double fastest = 1e300;
        Frames arranged;
        FrameArrangement::Outcome outcome;
        for (int r = 0; r < kRepeats; ++r) {
            arranged = given;
            timer.restart();
            outcome = FrameArrangement::arrange(palette, FrameArrangement::Coupling::None, arranged.outputA.data(),
                                                arranged.huesA.data(), arranged.outputB.data(), arranged.huesB.data());
            fastest = std::min(fastest, timer.nsecsElapsed() / 1e9);
        }
        Frames coupled = given;
        const FrameArrangement::Outcome lineAbove =
            FrameArrangement::arrange(palette, FrameArrangement::Coupling::LineAbove, coupled.outputA.data(),
                                      coupled.huesA.data(), coupled.outputB.data(), coupled.huesB.data());
        std::printf("%-12s %9.3f %9.3f %7.3f %7.2f %7.2f %6d %7.2f %6d\n",
                    qPrintable(photo.section(QLatin1Char('/'), -1)), convert, fastest, fastest / convert,
                    areaFlicker(given, palette), areaFlicker(arranged, palette), outcome.units,
                    areaFlicker(coupled, palette), lineAbove.units);
    }
    return 0;
}
