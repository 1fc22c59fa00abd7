#include "pictureexports.h"

#include "ataripic.h"
#include "plainfiles.h"

#include <QBuffer>
#include <QDataStream>
#include <QImage>
#include <QImageWriter>
#include <QTextStream>

#include <functional>
#include <new>

namespace {

// Renders an export into memory first; it is small (at most about 90 kB).
QByteArray render(QIODevice::OpenMode mode, const std::function<void(QBuffer &)> &write)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly | mode);
    write(buffer);
    return bytes;
}

} // namespace

namespace PictureExports {

bool saveBytes(const QString &fileName, const QByteArray &bytes, QString *error)
{
    return PlainFiles::write(fileName, bytes, error);
}

bool saveAsm(const ATARIpic &pic, const QString &fileName, QString *error)
{
    const QByteArray text = render(QIODevice::Text, [&pic](QBuffer &buffer) {
        QTextStream out(&buffer);
        pic.saveASM(out);
    });
    return saveBytes(fileName, text, error);
}

bool saveXex(const ATARIpic &pic, const QString &fileName, QString *error)
{
    const QByteArray bytes = render(QIODevice::NotOpen, [&pic](QBuffer &buffer) {
        QDataStream out(&buffer);
        pic.saveXEX(out);
    });
    return saveBytes(fileName, bytes, error);
}

void paintPreview(const ATARIpic &pic, quint8 mode, QImage &image)
{
    const auto pixel = [&pic, mode](quint16 x, quint16 y) {
        if (mode == kAtariViewMode)
            return pic.getAtariPixel(x, y);
        if (mode == kAtariFrameAMode || mode == kAtariFrameBMode)
            return pic.getAtariFramePixel(x, y, mode == kAtariFrameBMode ? 1 : 0);
        return pic.getPixel(x, y, mode);
    };
    for (quint16 y = 0; y < pic.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (quint16 x = 0; x < pic.width; ++x)
            line[x] = pixel(x, y) | 0xFF000000u;
    }
}

bool savePreviewPng(const ATARIpic &pic, quint8 mode, const QString &fileName, QString *error)
{
    QImage image(pic.width, pic.height, QImage::Format_RGB32);
    // Qt gives a null image when memory runs out; that is a shortage like any other allocation's.
    if (image.isNull())
        throw std::bad_alloc();
    paintPreview(pic, mode, image);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "PNG");
    if (!writer.write(image)) {
        *error = writer.errorString();
        return false;
    }
    return saveBytes(fileName, png, error);
}

} // namespace PictureExports
