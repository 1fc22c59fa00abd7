// Manual benchmark of the frame arrangement: per photo, the time of one arrangement of the two-frame
// conversion's frames against the conversion's own time (each the fastest of five), and the area
// flicker (AreaFlicker::areaFlicker, L*) before and after, for the plain display and for one that mixes
// each line with the line above (Coupling::LineAbove), with the number of units each leaves.
// Usage: bench_arrangement [--flicker N] [PHOTO...]  (default: flicker 10 and the test photos).

#include "benchsupport.h"
#include "ataripalgen.h"
#include "areaflicker.h"
#include "atarigeometry.h"
#include "atariview.h"
#include "framearrangement.h"
#include "twoframeconversion.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Geometry;

namespace {

using BenchSupport::Frames;

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
    const BenchSupport::Arguments arguments = BenchSupport::arguments(app.arguments().mid(1));
    const int flicker = arguments.flicker;
    const ATARIpalGen pal;
    const std::vector<quint32> palette = pal.baseColours();
    TwoFrameConverter converter;
    converter.setPalette(palette.data());

    std::printf("flicker limit %d\n%-12s %9s %9s %7s %7s %7s %6s %7s %6s\n", flicker, "photo", "convert s",
                "arrange s", "ratio", "before", "after", "units", "line", "units");
    for (const QString &photo : arguments.photos) {
        std::vector<quint32> pixels;
        if (!BenchSupport::loadPhoto(photo, &pixels))
            return 1;
        std::vector<quint32> averaged(kAtariPixels);
        for (int j = 0; j < kAtariPixels; ++j) {
            const quint32 *s = pixels.data() + kSourcePerAtari * j;
            averaged[size_t(j)] = pal.average(s[0], s[1], s[2], s[3]);
        }
        Frames given;
        const double convert = BenchSupport::fastest([&] {
                                   converter.convert(averaged.data(), 1.0, flicker, 1, given.outputA.data(),
                                                     given.huesA.data(), given.outputB.data(), given.huesB.data());
                               }).seconds;
        Frames arranged;
        FrameArrangement::Outcome outcome;
        const double fastest = BenchSupport::fastest([&] {
                                   arranged = given;
                                   outcome = FrameArrangement::arrange(palette.data(), FrameArrangement::Coupling::None,
                                                                       arranged.outputA.data(), arranged.huesA.data(),
                                                                       arranged.outputB.data(), arranged.huesB.data());
                               }).seconds;
        Frames coupled = given;
        const FrameArrangement::Outcome lineAbove =
            FrameArrangement::arrange(palette.data(), FrameArrangement::Coupling::LineAbove, coupled.outputA.data(),
                                      coupled.huesA.data(), coupled.outputB.data(), coupled.huesB.data());
        std::printf("%-12s %9.3f %9.3f %7.3f %7.2f %7.2f %6d %7.2f %6d\n",
                    qPrintable(BenchSupport::photoName(photo)), convert, fastest, fastest / convert,
                    areaFlicker(given, palette.data()), areaFlicker(arranged, palette.data()), outcome.units,
                    areaFlicker(coupled, palette.data()), lineAbove.units);
    }
    return 0;
}
