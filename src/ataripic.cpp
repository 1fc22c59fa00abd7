#include "ataripic.h"

#include "areaflicker.h"
#include "atariprogram.h"
#include "atariview.h"
#include "bestconversion.h"
#include "classicconversion.h"
#include "qualityfigure.h"
#include "sliderscale.h"
#include "framearrangement.h"
#include "twoframeconversion.h"
#include "twoframeprogram.h"

#include <QDataStream>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <vector>

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

// The planes and byte areas, zero until drawn.
struct ATARIpic::Areas
{
    std::vector<quint32> planes[kPlanes] = {};
    std::vector<quint32> averaged = std::vector<quint32>(kAtariPixels);
    std::vector<quint8> nearest = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> output = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> hues = std::vector<quint8>(kHues);
    std::vector<quint8> screen = std::vector<quint8>(kSourcePixels);
    // Frame B and the blended view, used with two frames only.
    std::vector<quint8> outputB = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesB = std::vector<quint8>(kHues);
    std::vector<quint8> screenB = std::vector<quint8>(kSourcePixels);
    std::vector<quint32> blend = std::vector<quint32>(kSourcePixels);

    Areas()
    {
        for (std::vector<quint32> &plane : planes)
            plane.resize(kSourcePixels);
    }
};

ATARIpic::ATARIpic()
    : width(kSourceWidth)
    , height(kSourceHeight)
    , areas(std::make_unique<Areas>())
    , best(std::make_unique<BestConverter>())
{
    setBasePalette(nullptr);
    Demo();
}

ATARIpic::~ATARIpic() = default;

const quint32 *ATARIpic::averaged() const
{
    return areas->averaged.data();
}

const quint8 *ATARIpic::nearestBytes() const
{
    return areas->nearest.data();
}

const quint8 *ATARIpic::outputBytes() const
{
    return areas->output.data();
}

const quint8 *ATARIpic::hueTable() const
{
    return areas->hues.data();
}

const quint8 *ATARIpic::outputBytesB() const
{
    return convertedFrames == 2 ? areas->outputB.data() : areas->output.data();
}

const quint8 *ATARIpic::hueTableB() const
{
    return convertedFrames == 2 ? areas->huesB.data() : areas->hues.data();
}

const quint8 *ATARIpic::atariScreen() const
{
    return areas->screen.data();
}

const quint8 *ATARIpic::atariScreenB() const
{
    return convertedFrames == 2 ? areas->screenB.data() : areas->screen.data();
}

void ATARIpic::Demo()
{
    averagesCurrent = false;
    convertedFrames = 1;
    auto &planes = areas->planes;
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
            areas->screen[index] = v;
        }
    }
}

quint32 ATARIpic::getPixel(quint16 x, quint16 y, quint8 mode) const
{
    const Plane plane = mode < kPlanes ? kPlaneOfMode[mode] : SourcePlane;
    return areas->planes[plane][quint32(y) * width + x];
}

void ATARIpic::copy(const quint32 *values)
{
    std::copy(values, values + kSourcePixels, areas->planes[SourcePlane].begin());
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
    best->setPalette(base);
    twoFramePaletteCurrent = false;
}

namespace {

// The base palette as 256 values 0x00RRGGBB.
std::array<quint32, 256> basePalette(const ATARIpalGen &pal)
{
    std::array<quint32, 256> base;
    for (int i = 0; i < 256; ++i)
        base[size_t(i)] = pal.getBase(quint8(i));
    return base;
}

} // namespace

double ATARIpic::qualityFigure() const
{
    if (convertedFrames == 2) {
        return QualityFigure::twoFrameFigures(areas->screen.data(), areas->screenB.data(), areas->averaged.data(),
                                              basePalette(pal).data(), best->paletteLabs())
            .quality;
    }
    return QualityFigure::meanDeltaE2000(areas->screen.data(), areas->averaged.data(), best->paletteLabs());
}

double ATARIpic::flickerMean() const
{
    if (convertedFrames != 2)
        return 0.0;
    return QualityFigure::twoFrameFigures(areas->screen.data(), areas->screenB.data(), areas->averaged.data(),
                                          basePalette(pal).data(), best->paletteLabs())
        .flickerMean;
}

double ATARIpic::flickerMax() const
{
    if (convertedFrames != 2)
        return 0.0;
    return QualityFigure::twoFrameFigures(areas->screen.data(), areas->screenB.data(), areas->averaged.data(),
                                          basePalette(pal).data(), best->paletteLabs())
        .flickerMax;
}

double ATARIpic::flickerArea() const
{
    if (convertedFrames != 2)
        return 0.0;
    return AreaFlicker::areaFlicker(areas->screen.data(), areas->screenB.data(), basePalette(pal).data());
}

quint32 ATARIpic::getFlickerMapPixel(quint16 x, quint16 y) const
{
    if (convertedFrames != 2)
        return AreaFlicker::mapGrey(0.0, flicker);
    const quint32 index = quint32(y) * width + x;
    const ColourScience::Lab *labs = best->paletteLabs();
    return AreaFlicker::mapGrey(std::fabs(labs[areas->screen[index]].L - labs[areas->screenB[index]].L), flicker);
}

quint32 ATARIpic::getAtariPixel(quint16 x, quint16 y) const
{
    const quint32 index = quint32(y) * width + x;
    return convertedFrames == 2 ? areas->blend[index] : pal.getBase(areas->screen[index]);
}

quint32 ATARIpic::getAtariFramePixel(quint16 x, quint16 y, int frame) const
{
    const quint32 index = quint32(y) * width + x;
    return pal.getBase(frame == 1 ? atariScreenB()[index] : areas->screen[index]);
}

void ATARIpic::letsGo()
{
    Areas &a = *areas;
    if (!averagesCurrent) {
        const quint32 *source = a.planes[SourcePlane].data();
        for (int j = 0; j < kAtariPixels; ++j) {
            const quint32 *s = source + kSourcePerAtari * j;
            a.averaged[j] = pal.average(s[0], s[1], s[2], s[3]);
        }
        averagesCurrent = true;
    }
    for (int j = 0; j < kAtariPixels; ++j)
        a.nearest[j] = pal.nearest(a.averaged[j]);

    convertedFrames = 1;
    if (conversionMethod == Method::Best && frameCount == 2) {
        if (!twoFrames)
            twoFrames = std::make_unique<TwoFrameConverter>();
        if (!twoFramePaletteCurrent) {
            twoFrames->setPalette(basePalette(pal).data());
            twoFramePaletteCurrent = true;
        }
        twoFrames->convert(a.averaged.data(), chroma, flicker, threadCount, a.output.data(), a.hues.data(),
                           a.outputB.data(), a.huesB.data());
        // Frames that came out identical (always with the limit 0) are one frame: the single-frame
        // program shows them at half the size.
        if (a.output != a.outputB || a.hues != a.huesB) {
            FrameArrangement::arrange(basePalette(pal).data(), FrameArrangement::Coupling::None, a.output.data(),
                                      a.hues.data(), a.outputB.data(), a.huesB.data());
            convertedFrames = 2;
        }
    } else if (conversionMethod == Method::Best) {
        best->convert(a.averaged.data(), chroma, a.output.data(), a.hues.data(), threadCount);
    } else {
        ClassicConversion::convert(a.nearest.data(), a.output.data(), a.hues.data());
    }
    drawConverted();
}

void ATARIpic::setConverted(const quint8 *output, const quint8 *hues)
{
    // Copied first: either may be this store's own area.
    std::vector<quint8> newOutput(output, output + kAtariPixels);
    std::vector<quint8> newHues(hues, hues + kHues);
    areas->output.swap(newOutput);
    areas->hues.swap(newHues);
    convertedFrames = 1;
    drawConverted();
}

void ATARIpic::drawConverted()
{
    Areas &a = *areas;
    AtariView::render(a.output.data(), a.hues.data(), a.screen.data());
    if (convertedFrames == 2) {
        AtariView::render(a.outputB.data(), a.huesB.data(), a.screenB.data());
        for (int i = 0; i < kSourcePixels; ++i) {
            // Neighbouring screen pixels mostly show the same pair: blend it once.
            if (i > 0 && a.screen[i] == a.screen[i - 1] && a.screenB[i] == a.screenB[i - 1])
                a.blend[i] = a.blend[i - 1];
            else
                a.blend[i] = TwoFrameConverter::blendRgb(pal.getBase(a.screen[i]), pal.getBase(a.screenB[i]));
        }
    }
    auto &planes = a.planes;
    for (int j = 0; j < kAtariPixels; ++j) {
        const int index = kSourcePerAtari * j;
        const quint8 nearest = a.nearest[j];
        const quint8 output = a.output[j];
        std::fill_n(planes[GtiaPlane].begin() + index, kSourcePerAtari, a.averaged[j]);
        std::fill_n(planes[PalPlane].begin() + index, kSourcePerAtari, pal.getRGB(nearest));
        std::fill_n(planes[GrayPlane].begin() + index, kSourcePerAtari, pal.getGray(nearest));
        std::fill_n(planes[GreenPlane].begin() + index, kSourcePerAtari, pal.getGreen(nearest));
        std::fill_n(planes[OutputPlane].begin() + index, kSourcePerAtari, pal.getBase(output));
        std::fill_n(planes[ChromaPlane].begin() + index, kSourcePerAtari,
                    pal.getBase((output & 0xF0) | kOutputChromaLuminance));
    }
}

void ATARIpic::lineConvert(const quint8 *in, quint8 *out)
{
    ClassicConversion::convert(in, out, areas->hues.data());
}

quint8 ATARIpic::averageChroma(const quint8 *pixels, quint32 n) const
{
    return ClassicConversion::mostFrequentHue(pixels, n);
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
    const quint8 entry = areas->hues[cursor];
    if (cursor < kHues - 1)
        ++cursor;
    hueText(entry, hexText);
    return hexText;
}

void ATARIpic::saveASM(QTextStream &out) const
{
    if (convertedFrames == 2) {
        TwoFrameProgram::writeSource(out, areas->output.data(), areas->hues.data(), areas->outputB.data(),
                                     areas->huesB.data());
        return;
    }
    int entry = 0;
    char text[4];
    AtariProgram::writeSource(out, areas->output.data(), [&] {
        hueText(areas->hues[entry], text);
        if (entry < kHues - 1)
            ++entry;
        return text;
    });
}

void ATARIpic::saveXEX(QDataStream &out) const
{
    if (convertedFrames == 2) {
        for (quint8 byte : TwoFrameProgram::executable(areas->output.data(), areas->hues.data(),
                                                       areas->outputB.data(), areas->huesB.data()))
            out << byte;
        return;
    }
    std::array<quint8, AtariProgram::kXexSize> xex;
    AtariProgram::fillExecutable(areas->output.data(), areas->hues.data(), xex);
    for (quint8 byte : xex)
        out << byte;
}
