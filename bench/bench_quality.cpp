// Manual measurement of picture quality: for each photo, the mean CIEDE2000 between the photo and
// what the Atari shows, plain and after a small blur of both (which is closer to how an eye at a
// normal distance judges a picture), for the classic and the best method.
// Usage: bench_quality [--png DIR] [PHOTO...]  (default: the test photos); --png also writes
// what the Atari shows for each photo and variant as DIR/PHOTO-VARIANT.png.

#include "methodtable.h"
#include "ataripic.h"
#include "colourscience.h"
#include "pictureloader.h"
#include "pictureexports.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Geometry;

namespace {

struct Linear
{
    double r, g, b;
};

double toLinear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

int toSrgb(double linear)
{
    const double c = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return int(std::lround(std::fmin(std::fmax(c, 0.0), 1.0) * 255.0));
}

// A 1-2-1 blur in both directions, in linear light, on a 320 x 240 picture (edges repeated).
std::vector<quint32> blurred(const std::vector<quint32> &rgb)
{
    std::vector<Linear> in(rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i)
        in[i] = {toLinear(rgb[i] >> 16 & 0xFF), toLinear(rgb[i] >> 8 & 0xFF), toLinear(rgb[i] & 0xFF)};
    std::vector<quint32> out(rgb.size());
    const int weights[3] = {1, 2, 1};
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kSourceWidth; ++x) {
            Linear sum{0, 0, 0};
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int yy = std::min(std::max(y + dy, 0), kSourceHeight - 1);
                    const int xx = std::min(std::max(x + dx, 0), kSourceWidth - 1);
                    const double w = weights[dy + 1] * weights[dx + 1] / 16.0;
                    const Linear &p = in[size_t(yy * kSourceWidth + xx)];
                    sum.r += w * p.r;
                    sum.g += w * p.g;
                    sum.b += w * p.b;
                }
            }
            out[size_t(y * kSourceWidth + x)] = quint32(toSrgb(sum.r) << 16 | toSrgb(sum.g) << 8 | toSrgb(sum.b));
        }
    }
    return out;
}

double meanDifference(const std::vector<quint32> &a, const std::vector<quint32> &b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += ColourScience::deltaE2000(ColourScience::labFromRgb(a[i]), ColourScience::labFromRgb(b[i]));
    return sum / double(a.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList photos = app.arguments().mid(1);
    QString pngDir;
    if (photos.size() >= 2 && photos.first() == QLatin1String("--png")) {
        pngDir = photos.at(1);
        photos = photos.mid(2);
    }
    if (photos.isEmpty())
        photos = QStringList{QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), QStringLiteral(RASTREL_TEST_DATA "/coffee.jpg"),
                             QStringLiteral(RASTREL_TEST_DATA "/rocket.jpg")};

    std::printf("%-12s %-12s %8s %8s\n", "photo", "method", "dE00", "blurred");
    for (const QString &photo : photos) {
        std::vector<quint32> pixels(kSourcePixels);
        QString error;
        if (!PictureLoader::load(photo, pixels.data(), &error)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(photo), qPrintable(error));
            return 1;
        }
        for (int method = 0; method < MethodTable::count(); ++method) {
            if (MethodTable::at(method).frames != 1)
                continue;
            auto pic = std::make_unique<ATARIpic>();
            pic->setMethod(method);
            pic->copy(pixels.data());
            std::vector<quint32> shown(kSourcePixels);
            std::vector<quint32> photographed(kSourcePixels);
            for (int y = 0; y < kSourceHeight; ++y) {
                for (int x = 0; x < kSourceWidth; ++x) {
                    shown[size_t(y * kSourceWidth + x)] = pic->getAtariPixel(quint16(x), quint16(y));
                    photographed[size_t(y * kSourceWidth + x)] = pic->averaged()[y * kAtariWidth + x / 4];
                }
            }
            if (!pngDir.isEmpty()) {
                const QString name = QStringLiteral("%1/%2-%3.png")
                                         .arg(pngDir, photo.section(QLatin1Char('/'), -1).section(QLatin1Char('.'), 0, 0),
                                              QLatin1String(MethodTable::at(method).reportName));
                if (!PictureExports::savePreviewPng(*pic, kAtariViewMode, name, &error))
                    std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(error));
            }
            std::printf("%-12s %-12s %8.3f %8.3f\n", qPrintable(photo.section(QLatin1Char('/'), -1)), MethodTable::at(method).reportName,
                        pic->qualityFigure(), meanDifference(blurred(shown), blurred(photographed)));
        }
    }
    return 0;
}
