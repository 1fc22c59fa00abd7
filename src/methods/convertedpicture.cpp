#include "convertedpicture.h"

#include "atarigeometry.h"
#include "atariprogram.h"
#include "atariview.h"
#include "twoframeprogram.h"

#include <QDataStream>
#include <QTextStream>

#include <algorithm>
#include <array>

using namespace Geometry;

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

ConvertedPicture::Frame::Frame()
    : output(kAtariPixels)
    , hues(kHues)
    , screen(kSourcePixels)
{
}

ConvertedPicture::ConvertedPicture()
{
    for (int f = 0; f < 2; ++f)
        bytes[f] = {frames_[f].output.data(), frames_[f].hues.data()};
    for (std::vector<quint32> &view : views)
        view.resize(kSourcePixels);
}

const FrameBytes *ConvertedPicture::prepare(int n)
{
    frameCount = n == 2 ? 2 : 1;
    return bytes;
}

ScreenFrames ConvertedPicture::screens() const
{
    return frameCount == 2 ? ScreenFrames::two(screen(0), screen(1)) : ScreenFrames::one(screen(0));
}

void ConvertedPicture::render(const DisplayModel &model, const quint32 *palette)
{
    for (int f = 0; f < frameCount; ++f)
        AtariView::render(frames_[f].output.data(), frames_[f].hues.data(), frames_[f].screen.data());
    updateViews(model, palette);
}

void ConvertedPicture::showChart(const quint8 *chart, const DisplayModel &model, const quint32 *palette)
{
    frameCount = 1;
    std::copy(chart, chart + kSourcePixels, frames_[0].screen.begin());
    updateViews(model, palette);
}

void ConvertedPicture::updateViews(const DisplayModel &model, const quint32 *palette)
{
    model.view(screens(), palette, views[0].data());
    for (int f = 0; f < frameCount; ++f)
        model.view(ScreenFrames::one(screen(f)), palette, views[1 + f].data());
}

QualityFigure::Figures ConvertedPicture::figures(const DisplayModel &model, const quint32 *palette,
                                                 const quint32 *averaged) const
{
    return QualityFigure::figures(screens(), palette, model, averaged);
}

void ConvertedPicture::hueText(quint8 entry, char *text)
{
    text[0] = '$';
    text[1] = kHexDigits[entry >> 4];
    text[2] = kHexDigits[entry & 0x0F];
    text[3] = '\0';
}

void ConvertedPicture::writeSource(QTextStream &out) const
{
    if (frameCount == 2) {
        TwoFrameProgram::writeSource(out, output(0), hues(0), output(1), hues(1));
        return;
    }
    int entry = 0;
    char text[4];
    const quint8 *table = hues(0);
    AtariProgram::writeSource(out, output(0), [&] {
        hueText(table[entry], text);
        if (entry < kHues - 1)
            ++entry;
        return text;
    });
}

void ConvertedPicture::writeExecutable(QDataStream &out) const
{
    if (frameCount == 2) {
        for (quint8 byte : TwoFrameProgram::executable(output(0), hues(0), output(1), hues(1)))
            out << byte;
        return;
    }
    std::array<quint8, AtariProgram::kXexSize> xex;
    AtariProgram::fillExecutable(output(0), hues(0), xex);
    for (quint8 byte : xex)
        out << byte;
}
