#include "ataripic.h"

#include "areaflicker.h"
#include "classicconversion.h"
#include "displaytable.h"
#include "methodtable.h"
#include "sliderscale.h"

#include <QDataStream>
#include <QTextStream>

#include <algorithm>
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

} // namespace

// The planes and byte areas, zero until drawn.
struct ATARIpic::Areas
{
    std::vector<quint32> planes[kPlanes] = {};
    std::vector<quint32> averaged = std::vector<quint32>(kAtariPixels);
    std::vector<quint8> nearest = std::vector<quint8>(kAtariPixels);
    ConvertedPicture converted;

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
    , units(size_t(MethodTable::count()))
    , unitPaletteCurrent(size_t(MethodTable::count()), false)
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
    return areas->converted.output(0);
}

const quint8 *ATARIpic::hueTable() const
{
    return areas->converted.hues(0);
}

const quint8 *ATARIpic::outputBytesB() const
{
    return areas->converted.output(1);
}

const quint8 *ATARIpic::hueTableB() const
{
    return areas->converted.hues(1);
}

const quint8 *ATARIpic::atariScreen() const
{
    return areas->converted.screen(0);
}

const quint8 *ATARIpic::atariScreenB() const
{
    return areas->converted.screen(1);
}

const ConvertedPicture &ATARIpic::converted() const
{
    return areas->converted;
}

const DisplayModel &ATARIpic::displayModel() const
{
    return DisplayTable::at(displayIndex).model();
}

void ATARIpic::Demo()
{
    averagesCurrent = false;
    auto &planes = areas->planes;
    std::vector<quint8> chart(size_t(width) * height);
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
            chart[index] = v;
        }
    }
    areas->converted.showChart(chart.data(), displayModel(), base.data());
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
    for (int i = 0; i < 256; ++i)
        base[size_t(i)] = pal.getBase(quint8(i));
    std::fill(unitPaletteCurrent.begin(), unitPaletteCurrent.end(), false);
    if (areas)
        areas->converted.updateViews(displayModel(), base.data());
}

ConversionMethod &ATARIpic::methodUnit(int index)
{
    std::unique_ptr<ConversionMethod> &unit = units[size_t(index)];
    if (!unit)
        unit = MethodTable::at(index).make();
    if (!unitPaletteCurrent[size_t(index)]) {
        unit->setPalette(base.data());
        unitPaletteCurrent[size_t(index)] = true;
    }
    return *unit;
}

QualityFigure::Figures ATARIpic::figures() const
{
    return areas->converted.figures(displayModel(), base.data(), areas->averaged.data());
}

double ATARIpic::qualityFigure() const
{
    return figures().quality;
}

double ATARIpic::flickerMean() const
{
    return figures().flickerMean;
}

double ATARIpic::flickerMax() const
{
    return figures().flickerMax;
}

double ATARIpic::flickerArea() const
{
    const ConvertedPicture &c = areas->converted;
    if (c.frames() != 2)
        return 0.0;
    std::vector<ColourScience::Lab> lab(kSourcePixels);
    std::vector<double> y[2];
    for (int f = 0; f < 2; ++f) {
        displayModel().see(ScreenFrames::one(c.screen(f)), base.data(), lab.data(), nullptr);
        y[f].resize(kSourcePixels);
        for (int i = 0; i < kSourcePixels; ++i)
            y[f][size_t(i)] = AreaFlicker::luminanceOf(lab[size_t(i)].L);
    }
    return AreaFlicker::areaFlicker(y[0].data(), y[1].data());
}

void ATARIpic::flickerMap(quint32 *rgb) const
{
    const ConvertedPicture &c = areas->converted;
    if (c.frames() != 2) {
        std::fill(rgb, rgb + kSourcePixels, AreaFlicker::mapGrey(0.0, flicker));
        return;
    }
    std::vector<ColourScience::Lab> lab(kSourcePixels);
    std::vector<double> difference(kSourcePixels);
    displayModel().see(ScreenFrames::two(c.screen(0), c.screen(1)), base.data(), lab.data(), difference.data());
    for (int i = 0; i < kSourcePixels; ++i)
        rgb[i] = AreaFlicker::mapGrey(difference[size_t(i)], flicker);
}

quint32 ATARIpic::getAtariPixel(quint16 x, quint16 y) const
{
    return areas->converted.seen(int(y) * width + x);
}

quint32 ATARIpic::getAtariFramePixel(quint16 x, quint16 y, int frame) const
{
    return areas->converted.seenFrame(frame, int(y) * width + x);
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

    MethodInput input;
    input.averaged = a.averaged.data();
    input.nearest = a.nearest.data();
    input.chromaFactor = chroma;
    input.flickerLimit = flicker;
    input.threads = threadCount;
    input.display = displayModel().plan();
    ConversionMethod &unit = methodUnit(methodIndex);
    unit.convert(input, a.converted.prepare(MethodTable::at(methodIndex).frames));
    // Identical frames (always with the flicker limit 0) are one: the single-frame program.
    a.converted.joinIdenticalFrames();
    drawConverted();
}

void ATARIpic::setConverted(const quint8 *output, const quint8 *hues)
{
    // Copied first: either may be this store's own area.
    std::vector<quint8> newOutput(output, output + kAtariPixels);
    std::vector<quint8> newHues(hues, hues + kHues);
    const FrameBytes *frames = areas->converted.prepare(1);
    std::copy(newOutput.begin(), newOutput.end(), frames[0].output);
    std::copy(newHues.begin(), newHues.end(), frames[0].hues);
    drawConverted();
}

void ATARIpic::drawConverted()
{
    Areas &a = *areas;
    a.converted.render(displayModel(), base.data());
    const quint8 *outputBytes = a.converted.output(0);
    auto &planes = a.planes;
    for (int j = 0; j < kAtariPixels; ++j) {
        const int index = kSourcePerAtari * j;
        const quint8 nearest = a.nearest[j];
        const quint8 output = outputBytes[j];
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
    ClassicConversion::convert(in, out, areas->converted.prepare(areas->converted.frames())[0].hues);
}

quint8 ATARIpic::averageChroma(const quint8 *pixels, quint32 n) const
{
    return ClassicConversion::mostFrequentHue(pixels, n);
}

const char *ATARIpic::rh()
{
    const quint8 entry = areas->converted.hues(0)[cursor];
    if (cursor < kHues - 1)
        ++cursor;
    ConvertedPicture::hueText(entry, hexText);
    return hexText;
}

void ATARIpic::saveASM(QTextStream &out) const
{
    areas->converted.writeSource(out);
}

void ATARIpic::saveXEX(QDataStream &out) const
{
    areas->converted.writeExecutable(out);
}
