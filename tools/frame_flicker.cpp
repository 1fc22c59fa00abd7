// Measures how two captured frames flicker as areas, for checking the frame arrangement on an
// emulator's screens:
//   frame_flicker A.screen B.screen [VIEW_A VIEW_B]
// A.screen and B.screen are captures of 384 x 240 Atari colour bytes (32 border columns each
// side); VIEW_A and VIEW_B, when given, are the frame views as 320 x 240 PNG files (-p atari-a,
// -p atari-b) to compare them with. Prints, with the stored palette's colours: the whole frames'
// mean L* (of each pixel's L*) and the L* of their mean luminance, the largest difference over
// blocks of 8 Atari pixels by 32 lines in the same two ways (tiling the picture, and also at every
// half block), the area flicker (AreaFlicker::areaFlicker) and, with views, how many screen
// pixels show the views' colours.
#include "areaflicker.h"
#include "ataripalgen.h"
#include "atarigeometry.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace Geometry;

namespace {

constexpr int kCapturedWidth = 384;
constexpr int kBorder = 32;
constexpr int kBlockWidth = 8 * kSourcePerAtari; // 8 Atari pixels
constexpr int kBlockHeight = 32;

bool readFile(const char *name, int size, std::vector<quint8> &bytes)
{
    QFile file(QString::fromLocal8Bit(name));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(file.errorString()));
        return false;
    }
    const QByteArray data = file.readAll();
    if (data.size() != size) {
        std::fprintf(stderr, "%s: %d bytes, expected %d\n", name, int(data.size()), size);
        return false;
    }
    bytes.assign(data.begin(), data.end());
    return true;
}

struct Means {
    double lightness = 0.0; // mean of the pixels' L*
    double luminance = 0.0; // mean Y
};

Means means(const std::vector<quint8> &screen, const double *y, const double *l, int x0, int y0, int w, int h)
{
    Means m;
    for (int r = y0; r < y0 + h; ++r)
        for (int c = x0; c < x0 + w; ++c) {
            const quint8 colour = screen[size_t(r * kSourceWidth + c)];
            m.lightness += l[colour];
            m.luminance += y[colour];
        }
    m.lightness /= w * h;
    m.luminance /= w * h;
    return m;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: frame_flicker A.screen B.screen [VIEW_A VIEW_B]\n");
        return 2;
    }
    std::vector<quint8> screen[2];
    for (int f = 0; f < 2; ++f) {
        std::vector<quint8> captured;
        if (!readFile(argv[1 + f], kCapturedWidth * kSourceHeight, captured))
            return 1;
        screen[f].resize(size_t(kSourcePixels));
        for (int r = 0; r < kSourceHeight; ++r)
            std::copy_n(captured.begin() + r * kCapturedWidth + kBorder, kSourceWidth,
                        screen[f].begin() + r * kSourceWidth);
    }
    ATARIpalGen pal;
    quint32 palette[256];
    double y[256];
    double l[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = pal.getBase(quint8(i));
        double xyz[3];
        ColourScience::xyzFromRgb(palette[i], xyz);
        y[i] = xyz[1];
        l[i] = ColourScience::labFromRgb(palette[i]).L;
    }
    const Means whole[2] = {means(screen[0], y, l, 0, 0, kSourceWidth, kSourceHeight),
                            means(screen[1], y, l, 0, 0, kSourceWidth, kSourceHeight)};
    double block[2][2] = {}; // [tiled, every half block][mean L*, L* of mean Y]
    for (int step = 0; step < 2; ++step) {
        const int dx = step == 0 ? kBlockWidth : kBlockWidth / 2;
        const int dy = step == 0 ? kBlockHeight : kBlockHeight / 2;
        for (int y0 = 0; y0 + kBlockHeight <= kSourceHeight; y0 += dy)
            for (int x0 = 0; x0 + kBlockWidth <= kSourceWidth; x0 += dx) {
                const Means a = means(screen[0], y, l, x0, y0, kBlockWidth, kBlockHeight);
                const Means b = means(screen[1], y, l, x0, y0, kBlockWidth, kBlockHeight);
                block[step][0] = std::max(block[step][0], std::fabs(a.lightness - b.lightness));
                block[step][1] = std::max(block[step][1], std::fabs(AreaFlicker::lightness(a.luminance)
                                                                    - AreaFlicker::lightness(b.luminance)));
            }
    }
    std::printf("frame_mean_L %.3f frame_L_of_mean_Y %.3f block_mean_L %.3f block_L_of_mean_Y %.3f "
                "halfstep_mean_L %.3f halfstep_L_of_mean_Y %.3f area %.3f",
                std::fabs(whole[0].lightness - whole[1].lightness),
                std::fabs(AreaFlicker::lightness(whole[0].luminance) - AreaFlicker::lightness(whole[1].luminance)),
                block[0][0], block[0][1], block[1][0], block[1][1],
                AreaFlicker::areaFlicker(screen[0].data(), screen[1].data(), palette));
    if (argc == 5) {
        for (int f = 0; f < 2; ++f) {
            const QImage view(QString::fromLocal8Bit(argv[3 + f]));
            if (view.width() != kSourceWidth || view.height() != kSourceHeight) {
                std::fprintf(stderr, "%s: not a 320 x 240 picture\n", argv[3 + f]);
                return 1;
            }
            int equal = 0;
            for (int i = 0; i < kSourcePixels; ++i)
                equal += (view.pixel(i % kSourceWidth, i / kSourceWidth) & 0xFFFFFFu) == palette[screen[f][size_t(i)]];
            std::printf(" equal_%c %d/%d", "AB"[f], equal, kSourcePixels);
        }
    }
    std::printf("\n");
    return 0;
}
