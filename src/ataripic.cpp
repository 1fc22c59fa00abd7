#include "ataripic.h"

#include "atariprogram.h"
#include "atariview.h"
#include "qualityfigure.h"

#include <QDataStream>
#include <QTextStream>

#include <algorithm>

using namespace Geometry;

namespace {

// Storage order of the preview planes.
enum Plane { SourcePlane, PalPlane, GtiaPlane, OutputPlane, GrayPlane, GreenPlane, ChromaPlane };

// Plane shown by each preview mode: GTIA and ATARI PAL are stored the other way round.
constexpr Plane kPlaneOfMode[kPlanes] = {SourcePlane, GtiaPlane, PalPlane, OutputPlane,
                                         GrayPlane, GreenPlane, ChromaPlane};

constexpr quint8 kChartChromaLuminance = 0x0A;
constexpr quint8 kOutputChromaLuminance = 0x08;
constexpr char kHexDigits[] = "0123456789ABCDEF";

} // namespace

ATARIpic::ATARIpic()
    : width(kSourceWidth)
    , height(kSourceHeight)
{
    setBasePalette(nullptr);
    Demo();
}

void ATARIpic::Demo()
{
    averagesCurrent = false;
    for (quint32 y = 0; y < height; ++y) {
        const quint32 hue = (y * 16) / height;
        const quint32 chroma = pal.getRGB(static_cast<unsigned char>(hue << 4 | kChartChromaLuminance));
        for (quint32 x = 0; x < width; ++x) {
            const quint32 luminance = (x * 16) / width;
            const auto v = static_cast<unsigned char>(hue << 4 | luminance);
            const quint32 index = y * width + x;
            const quint32 rgb = pal.getRGB(v);
            planes[SourcePlane][index] = rgb;
            planes[PalPlane][index] = rgb;
            planes[GtiaPlane][index] = rgb;
            planes[OutputPlane][index] = rgb;
            planes[GrayPlane][index] = pal.getGray(v);
            planes[GreenPlane][index] = pal.getGreen(v);
            planes[ChromaPlane][index] = chroma;
            screen[index] = v;
        }
    }
}

quint32 ATARIpic::getPixel(quint16 x, quint16 y, quint8 mode) const
{
    const Plane plane = mode < kPlanes ? kPlaneOfMode[mode] : SourcePlane;
    return planes[plane][quint32(y) * width + x];
}

void ATARIpic::copy(const quint32 *values)
{
    std::copy(values, values + kSourcePixels, planes[SourcePlane]);
    averagesCurrent = false;
    letsGo();
}

void ATARIpic::newSaturation(double value)
{
    pal.setSaturation(value / kMaxSliderValue);
    chroma = value / kPhotographedChromaValue;
}

void ATARIpic::reset()
{
    cursor = 0;
}

void ATARIpic::setBasePalette(const quint32 *rgb)
{
    pal.setBasePalette(rgb);
    quint32 base[256];
    for (int i = 0; i < 256; ++i)
        base[i] = pal.getBase(quint8(i));
    best.setPalette(base);
}

double ATARIpic::qualityFigure() const
{
    return QualityFigure::meanDeltaE2000(screen, averagedPicture, best.paletteLabs());
}

quint32 ATARIpic::getAtariPixel(quint16 x, quint16 y) const
{
    return pal.getBase(screen[quint32(y) * width + x]);
}

void ATARIpic::letsGo()
{
    if (!averagesCurrent) {
        const quint32 *source = planes[SourcePlane];
        for (int j = 0; j < kAtariPixels; ++j) {
            const quint32 *s = source + kSourcePerAtari * j;
            averagedPicture[j] = pal.average(s[0], s[1], s[2], s[3]);
        }
        averagesCurrent = true;
    }
    for (int j = 0; j < kAtariPixels; ++j)
        nearestColours[j] = pal.nearest(averagedPicture[j]);

    if (conversionMethod == Method::Best)
        best.convert(averagedPicture, chroma, output, hues);
    else
        lineConvert(nearestColours, output);
    AtariView::render(output, hues, screen);

    for (int j = 0; j < kAtariPixels; ++j) {
        const int index = kSourcePerAtari * j;
        std::fill_n(planes[GtiaPlane] + index, kSourcePerAtari, averagedPicture[j]);
        std::fill_n(planes[PalPlane] + index, kSourcePerAtari, pal.getRGB(nearestColours[j]));
        std::fill_n(planes[GrayPlane] + index, kSourcePerAtari, pal.getGray(nearestColours[j]));
        std::fill_n(planes[GreenPlane] + index, kSourcePerAtari, pal.getGreen(nearestColours[j]));
        std::fill_n(planes[OutputPlane] + index, kSourcePerAtari, pal.getBase(output[j]));
        std::fill_n(planes[ChromaPlane] + index, kSourcePerAtari,
                    pal.getBase((output[j] & 0xF0) | kOutputChromaLuminance));
    }
}

void ATARIpic::lineConvert(const quint8 *in, quint8 *out)
{
    int i = 0;
    for (int p = 0; p < kLinePairs; ++p) {
        for (int s = 0; s < kSegmentsPerPair; ++s) {
            const int n = kSegmentLengths[s];
            const quint8 hue = averageChroma(in + i, n);
            for (int k = i; k < i + n; ++k)
                out[k] = hue | (in[k] & 0x0F);
            hues[kSegmentsPerPair * p + s] = hue;
            i += n;
        }
    }
}

quint8 ATARIpic::averageChroma(const quint8 *pixels, quint32 n) const
{
    quint8 counts[16] = {};
    for (quint32 k = 0; k < n; ++k)
        ++counts[pixels[k] >> 4];

    int bestHue = 0;
    int bestCount = 0;
    for (int hue = 0; hue < 16; ++hue) {
        if (counts[hue] > bestCount) {
            bestCount = counts[hue];
            bestHue = hue;
        }
    }
    return static_cast<quint8>(bestHue << 4);
}

namespace {

// "$" and two hex digits of entry, into text[4].
void hueText(quint8 entry, char *text)
{
    text[0] = '$';
    text[1] = kHexDigits[entry >> 4];
    text[2] = kHexDigits[entry & 0x0F];
    text[3] = '\0';
}

} // namespace

const char *ATARIpic::rh()
{
    const quint8 entry = hues[cursor];
    if (cursor < kHues - 1)
        ++cursor;
    hueText(entry, hexText);
    return hexText;
}

void ATARIpic::saveASM(QTextStream &out) const
{
    int entry = 0;
    char text[4];
    AtariProgram::writeSource(out, output, [&] {
        hueText(hues[entry], text);
        if (entry < kHues - 1)
            ++entry;
        return text;
    });
}

void ATARIpic::saveXEX(QDataStream &out) const
{
    std::array<quint8, AtariProgram::kXexSize> xex;
    AtariProgram::fillExecutable(output, hues, xex);
    for (quint8 byte : xex)
        out << byte;
}
