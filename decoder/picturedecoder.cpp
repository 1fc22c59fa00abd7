#include "picturedecoder.h"

#include "decodermessages.h"
#include "loadbudget.h"
#include "photoformats.h"
#include "pictureloader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QTransform>

#include <algorithm>
#include <new>

using namespace Geometry;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PictureDecoder", text);
}

// Refuses, before anything is decoded, a picture past the pixel limit, or one that the decoder
// would complete with whatever memory held.
bool admit(QImageReader &reader, const QByteArray &file, QString *error)
{
    using PictureLoader::kMaxPixels;
    const QSize claimed = reader.size();
    // A device of its own, so that the reader's stays where the reader left it.
    QBuffer device;
    device.setData(file);
    device.open(QIODevice::ReadOnly);
    const LoadBudget::Estimate header = LoadBudget::estimate(device);
    const QSize size = header.size.isValid() ? header.size : claimed;
    const QString what = header.what.isEmpty() ? tr("picture") : header.what;
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPixels) {
        *error = tr("The %1 is %2 x %3 pixels; at most %4 megapixels can be loaded.")
                     .arg(what)
                     .arg(size.width())
                     .arg(size.height())
                     .arg(kMaxPixels / 1'000'000);
        return false;
    }
    if (!header.damage.isEmpty()) {
        *error = header.damage;
        return false;
    }
    return true;
}

// True when the picture as stored is turned a quarter turn from upright (its width is the upright height).
bool sideways(QImageIOHandler::Transformations orientation)
{
    return orientation.testFlag(QImageIOHandler::TransformationRotate90);
}

// Turns image upright as its orientation tag says: first mirrored and flipped, then a quarter turn
// clockwise, the order in which QImageIOHandler::Transformations are defined.
QImage upright(const QImage &image, QImageIOHandler::Transformations orientation)
{
    QImage turned = image.mirrored(orientation.testFlag(QImageIOHandler::TransformationMirror),
                                   orientation.testFlag(QImageIOHandler::TransformationFlip));
    if (sideways(orientation))
        turned = turned.transformed(QTransform().rotate(90));
    return turned;
}

// Whether the reader of format reports only through Qt's message log. The others (PNG) may have a
// library write to the standard error stream, which is then diverted while the picture is read.
bool writesOnlyThroughQt(const QByteArray &format)
{
    static const QByteArray quiet[] = {"jpeg", "gif", "bmp", "pbm", "pgm", "ppm"};
    return std::find(std::begin(quiet), std::end(quiet), format) != std::end(quiet);
}

// Scales image (as stored) to 320x240 whatever its proportions, nearest pixel, and turns it upright.
// Palette pictures may use indices beyond their colour table; the conversion to 32 bits gives
// those pixels transparent black, the value QImage::pixel() returns for them, without the
// warning that QImage::pixel() prints for each one.
QImage stretched(const QImage &image, QImageIOHandler::Transformations orientation)
{
    return upright(image.scaled(sideways(orientation) ? QSize(kSourceHeight, kSourceWidth)
                                                      : QSize(kSourceWidth, kSourceHeight),
                                Qt::IgnoreAspectRatio, Qt::FastTransformation),
                   orientation)
        .convertToFormat(QImage::Format_ARGB32);
}

// floor(numerator / denominator) for a positive denominator.
qint64 floorDivision(qint64 numerator, qint64 denominator)
{
    const qint64 quotient = numerator / denominator;
    return quotient * denominator > numerator ? quotient - 1 : quotient;
}

// Where the centre of each of count target pixels t falls on a photo side of length pixels that is
// shown centred, length * scaleTop / scaleBottom target pixels long: on photo pixel
// floor(((2 t + 1 - count) * scaleBottom + length * scaleTop) / (2 scaleTop)), or -1 outside it.
std::vector<int> samples(int count, int length, qint64 scaleTop, qint64 scaleBottom)
{
    std::vector<int> at(size_t(count), -1);
    for (int t = 0; t < count; ++t) {
        const qint64 p = floorDivision((2 * t + 1 - count) * scaleBottom + length * scaleTop, 2 * scaleTop);
        if (p >= 0 && p < length)
            at[size_t(t)] = int(p);
    }
    return at;
}

// Fits image (as stored, turned upright by orientation) into 320x240 with square pixels, nearest
// pixel, as fit (Crop or Pad) says; pixels outside the photo are opaque black. Null when memory fails.
QImage fitted(const QImage &image, QImageIOHandler::Transformations orientation, DecoderProtocol::Fit fit)
{
    const bool turned = sideways(orientation);
    const int width = turned ? image.height() : image.width(); // upright
    const int height = turned ? image.width() : image.height();
    // The scale is kSourceWidth / width when the width decides, else kSourceHeight / height: the
    // larger of the two for Crop, the smaller for Pad.
    const bool widthFills = qint64(kSourceWidth) * height >= qint64(kSourceHeight) * width;
    const bool byWidth = (fit == DecoderProtocol::Fit::Crop) == widthFills;
    const qint64 top = byWidth ? kSourceWidth : kSourceHeight;
    const qint64 bottom = byWidth ? width : height;
    const std::vector<int> columns = samples(kSourceWidth, width, top, bottom);
    const std::vector<int> rows = samples(kSourceHeight, height, top, bottom);

    // Picked in the stored format (palette indices stay indices), then converted as a whole.
    QImage picked(kSourceWidth, kSourceHeight, image.format());
    if (picked.isNull())
        return picked;
    picked.setColorTable(image.colorTable());
    picked.fill(0);
    const bool mirror = orientation.testFlag(QImageIOHandler::TransformationMirror);
    const bool flip = orientation.testFlag(QImageIOHandler::TransformationFlip);
    const int bytes = image.depth() / 8;
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kSourceWidth; ++x) {
            const int ux = columns[size_t(x)];
            const int uy = rows[size_t(y)];
            if (ux < 0 || uy < 0)
                continue;
            // Upright is stored mirrored and flipped, then turned a quarter clockwise; back again:
            int sx = turned ? uy : ux;
            int sy = turned ? image.height() - 1 - ux : uy;
            if (mirror)
                sx = image.width() - 1 - sx;
            if (flip)
                sy = image.height() - 1 - sy;
            if (bytes == 0)
                picked.setPixel(x, y, uint(image.pixelIndex(sx, sy)));
            else
                std::copy_n(image.constScanLine(sy) + sx * bytes, bytes, picked.scanLine(y) + x * bytes);
        }
    }
    QImage result = picked.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < kSourceHeight && !result.isNull(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < kSourceWidth; ++x) {
            if (columns[size_t(x)] < 0 || rows[size_t(y)] < 0)
                line[x] = qRgb(0, 0, 0);
        }
    }
    return result;
}

PictureDecoder::Result refusal(const QString &error)
{
    PictureDecoder::Result result;
    result.error = error;
    return result;
}

} // namespace

namespace PictureDecoder {

QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QLatin1String("\\x") + QString::number(uint(u), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

Result decode(const QByteArray &file, DecoderProtocol::Fit fit, bool (*allocationFailed)())
{
    if (quint32(fit) >= DecoderProtocol::kFitCount)
        return refusal(tr("unknown way of fitting the picture (%1)").arg(quint32(fit)));
    QString reason;
    const QByteArray format = PhotoFormats::identify(file.left(PhotoFormats::kHeadBytes), &reason);
    if (format.isEmpty())
        return refusal(reason);

    QBuffer device;
    device.setData(file);
    device.open(QIODevice::ReadOnly);
    DecoderMessages messages;
    // The format is given, so that no other reader ever sees the data.
    QImageReader reader(&device, format);
    // The orientation tag is applied to the scaled picture below, not by the reader to the decoded
    // one, which would take a second full-size image of memory.
    reader.setAutoTransform(false);
    if (!writesOnlyThroughQt(format))
        messages.divertStandardError();
    if (!admit(reader, file, &reason))
        return refusal(reason);
    const QImageIOHandler::Transformations orientation = reader.transformation();

    Result result;
    QImage image;
    try {
        image = reader.read();
    } catch (const std::bad_alloc &) {
        image = QImage();
    }
    messages.finish();
    result.messageCount = messages.count();
    result.firstMessage = escaped(messages.first());
    if (allocationFailed != nullptr && allocationFailed()) {
        result.status = DecoderProtocol::Status::OutOfMemory;
        return result;
    }
    if (image.isNull()) {
        // The decoder's error is its last message; the ones before it are warnings.
        result.error = reader.errorString();
        if (messages.count() > 0)
            result.error += QStringLiteral(" (%1)").arg(escaped(messages.last()));
        return result;
    }

    const QImage scaled = fit == DecoderProtocol::Fit::Stretch ? stretched(image, orientation)
                                                                : fitted(image, orientation, fit);
    if (scaled.size() != QSize(kSourceWidth, kSourceHeight)) {
        result.status = allocationFailed != nullptr && allocationFailed() ? DecoderProtocol::Status::OutOfMemory
                                                                           : DecoderProtocol::Status::Refused;
        result.error = tr("the picture could not be scaled");
        return result;
    }
    result.pixels.resize(kSourcePixels);
    for (int y = 0; y < kSourceHeight; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(scaled.constScanLine(y));
        std::copy(line, line + kSourceWidth, result.pixels.data() + y * kSourceWidth);
    }
    result.status = DecoderProtocol::Status::Decoded;
    return result;
}

} // namespace PictureDecoder
