#include "benchsupport.h"
#include "ataripic.h"
#include "atariview.h"
#include "bestconversion.h"
#include "palbestconversion.h"
#include "paltwoframeconversion.h"
#include "twoframeconversion.h"
#include "paldisplay.h"
#include "qualityfigure.h"

#include <QCoreApplication>
#include <QImage>
#include <QTextStream>

#include <memory>
#include <vector>

// Conversions for a PAL TV: for each photo the quality figure through the PAL model of the plain
// best conversion and of the PAL best one, their ratio and the PAL best conversion's processor time on
// one thread (the plain best start included; the fastest of five runs); then the same for two frames.
// Usage: bench_pal [--flicker N] [--png DIR] [photo ...]; without photos chelsea, coffee and rocket;
// flicker 10 unless given (or RASTREL_FLICKER). --png writes DIR/PHOTO-plain-vs-pal.png: plain best and
// PAL best side by side, both as a PAL TV shows them.

using namespace Geometry;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const BenchSupport::Arguments arguments = BenchSupport::arguments(app.arguments().mid(1));
    const QStringList &files = arguments.photos;
    const QString &pngDir = arguments.png;

    QTextStream out(stdout);
    auto pic = std::make_unique<ATARIpic>();
    const std::vector<quint32> palette = pic->palette().baseColours();
    auto best = std::make_unique<BestConverter>();
    best->setPalette(palette.data());
    const PalDisplay display;
    auto pal = std::make_unique<PalBestConverter>();
    pal->setPalette(palette.data());
    std::vector<quint32> pixels;
    std::vector<quint8> plainOutput(kAtariPixels), plainHues(kHues), output(kAtariPixels), hues(kHues);
    std::vector<quint8> plainScreen(kSourcePixels), screen(kSourcePixels);

    out << "photo            plain best   pal best   change   pal ms   updates\n";
    double plainSum = 0.0;
    double palSum = 0.0;
    for (const QString &file : files) {
        if (!BenchSupport::loadPhoto(file, &pixels))
            return 1;
        pic->copy(pixels.data());
        // Processor time: the machine may be shared.
        const double plainMs = 1e3 * BenchSupport::fastest([&] {
                                   best->convert(pic->averaged(), 1.0, plainOutput.data(), plainHues.data(), 1);
                               }).processorSeconds;
        const double ms = plainMs + 1e3 * BenchSupport::fastest([&] {
                                              pal->convert(pic->averaged(), 1.0, plainHues.data(), output.data(),
                                                           hues.data());
                                          }).processorSeconds;
        AtariView::render(plainOutput.data(), plainHues.data(), plainScreen.data());
        AtariView::render(output.data(), hues.data(), screen.data());
        const double plainFigure = QualityFigure::figures(ScreenFrames::one(plainScreen.data()), palette.data(), display, pic->averaged()).quality;
        const double palFigure = QualityFigure::figures(ScreenFrames::one(screen.data()), palette.data(), display, pic->averaged()).quality;
        plainSum += plainFigure;
        palSum += palFigure;
        out << QString::asprintf("%-16s %10.3f %10.3f %7.1f%% %8.0f %9d   (of which plain best %.0f ms)\n",
                                 qPrintable(BenchSupport::photoName(file)), plainFigure, palFigure,
                                 100.0 * (palFigure / plainFigure - 1.0), ms, pal->runUpdates(),
                                 plainMs);
        out.flush();
        if (!pngDir.isEmpty()) {
            QImage image(2 * kSourceWidth, kSourceHeight, QImage::Format_RGB32);
            std::vector<quint32> rgb(kSourcePixels);
            for (int side = 0; side < 2; ++side) {
                PalDisplay::viewScreen(side == 0 ? plainScreen.data() : screen.data(), kSourceWidth, kSourceHeight, palette.data(),
                                 rgb.data());
                for (int y = 0; y < kSourceHeight; ++y)
                    for (int x = 0; x < kSourceWidth; ++x)
                        image.setPixel(side * kSourceWidth + x, y, 0xFF000000u | rgb[size_t(y * kSourceWidth + x)]);
            }
            const QString name = pngDir + QLatin1Char('/') + BenchSupport::photoName(file).section('.', 0, 0)
                + QStringLiteral("-plain-vs-pal.png");
            if (!image.scaled(4 * kSourceWidth, 2 * kSourceHeight).save(name))
                out << "cannot write " << name << '\n';
        }
    }
    out << QString::asprintf("mean             %10.3f %10.3f %7.1f%%\n", plainSum / files.size(), palSum / files.size(),
                             100.0 * (palSum / plainSum - 1.0));

    // Two frames at the flicker limit (--flicker, or else RASTREL_FLICKER).
    const int flicker = qEnvironmentVariableIsSet("RASTREL_FLICKER") && !app.arguments().contains(QStringLiteral("--flicker"))
        ? qEnvironmentVariableIntValue("RASTREL_FLICKER")
        : arguments.flicker;
    auto two = std::make_unique<TwoFrameConverter>();
    two->setPalette(palette.data());
    auto palTwo = std::make_unique<PalTwoFrameConverter>();
    palTwo->setPalette(palette.data());
    std::vector<quint8> oA(kAtariPixels), hA(kHues), oB(kAtariPixels), hB(kHues);
    std::vector<quint8> pA(kAtariPixels), phA(kHues), pB(kAtariPixels), phB(kHues);
    std::vector<quint8> sA(kSourcePixels), sB(kSourcePixels);
    out << "\ntwo frames, flicker " << flicker
        << "\nphoto            plain two   pal two   change   pal ms   updates   flicker mean/max   unmet\n";
    plainSum = palSum = 0.0;
    for (const QString &file : files) {
        if (!BenchSupport::loadPhoto(file, &pixels))
            return 1;
        pic->copy(pixels.data());
        const double plainMs = 1e3 * BenchSupport::fastest([&] {
                                   two->convert(pic->averaged(), 1.0, flicker, 1, oA.data(), hA.data(), oB.data(),
                                                hB.data());
                               }).processorSeconds;
        const double ms = plainMs + 1e3 * BenchSupport::fastest([&] {
                                              palTwo->convert(pic->averaged(), 1.0, flicker, hA.data(), hB.data(),
                                                              pA.data(), phA.data(), pB.data(), phB.data());
                                          }).processorSeconds;
        AtariView::render(oA.data(), hA.data(), sA.data());
        AtariView::render(oB.data(), hB.data(), sB.data());
        const QualityFigure::Figures plainFigures =
            QualityFigure::figures(ScreenFrames::two(sA.data(), sB.data()), palette.data(), display, pic->averaged());
        AtariView::render(pA.data(), phA.data(), sA.data());
        AtariView::render(pB.data(), phB.data(), sB.data());
        const QualityFigure::Figures palFigures =
            QualityFigure::figures(ScreenFrames::two(sA.data(), sB.data()), palette.data(), display, pic->averaged());
        plainSum += plainFigures.quality;
        palSum += palFigures.quality;
        out << QString::asprintf("%-16s %10.3f %9.3f %7.1f%% %8.0f %9d %8.2f / %5.2f %7d   (of which plain two %.0f ms)\n",
                                 qPrintable(BenchSupport::photoName(file)), plainFigures.quality, palFigures.quality,
                                 100.0 * (palFigures.quality / plainFigures.quality - 1.0), ms, palTwo->runUpdates(),
                                 palFigures.flickerMean, palFigures.flickerMax, palTwo->infeasiblePixels(), plainMs);
        out.flush();
    }
    out << QString::asprintf("mean             %10.3f %9.3f %7.1f%%\n", plainSum / files.size(), palSum / files.size(),
                             100.0 * (palSum / plainSum - 1.0));
    return 0;
}
