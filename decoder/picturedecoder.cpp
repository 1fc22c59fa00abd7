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
    if (fit != DecoderProtocol::Fit::Stretch)
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

    // Palette pictures may use indices beyond their colour table; the conversion to 32 bits gives
    // those pixels transparent black, the value QImage::pixel() returns for them, without the
    // warning that QImage::pixel() prints for each one.
    const QImage scaled = upright(image.scaled(sideways(orientation) ? QSize(kSourceHeight, kSourceWidth)
                                                                     : QSize(kSourceWidth, kSourceHeight),
                                               Qt::IgnoreAspectRatio, Qt::FastTransformation),
                                  orientation)
                              .convertToFormat(QImage::Format_ARGB32);
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
