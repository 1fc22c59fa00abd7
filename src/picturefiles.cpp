#include "picturefiles.h"

#include "atarigeometry.h"
#include "ataripic.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QTextStream>

#include <functional>

using namespace Geometry;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PictureFiles", text);
}

// Writes the whole of bytes through a QSaveFile, so that the target changes only once everything
// is on disk. A short write is a failure too: the file system may accept part of the data and
// then refuse the rest without a reason that the device can report.
bool saveAtomically(const QString &fileName, const QByteArray &bytes, QString *error)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        *error = written < 0 ? file.errorString()
                             : tr("Only part of the file could be written; the disk may be full.");
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

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

namespace PictureFiles {

bool load(const QString &fileName, quint32 *pixels, QString *error)
{
    if (QFileInfo(fileName).isDir()) {
        *error = tr("It is a folder, not a picture.");
        return false;
    }
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPixels) {
        *error = tr("The picture is %1 x %2 pixels; at most %3 megapixels can be loaded.")
                     .arg(size.width())
                     .arg(size.height())
                     .arg(kMaxPixels / 1'000'000);
        return false;
    }

    const QImage image = reader.read();
    if (image.isNull()) {
        *error = reader.errorString();
        return false;
    }

    const QImage scaled = image.scaled(kSourceWidth, kSourceHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kSourceWidth; ++x)
            pixels[y * kSourceWidth + x] = scaled.pixel(x, y);
    }
    return true;
}

bool saveAsm(ATARIpic &pic, const QString &fileName, QString *error)
{
    const QByteArray text = render(QIODevice::Text, [&pic](QBuffer &buffer) {
        QTextStream out(&buffer);
        pic.saveASM(out);
    });
    return saveAtomically(fileName, text, error);
}

bool saveBytes(const QString &fileName, const QByteArray &bytes, QString *error)
{
    return saveAtomically(fileName, bytes, error);
}

bool saveXex(ATARIpic &pic, const QString &fileName, QString *error)
{
    const QByteArray bytes = render(QIODevice::NotOpen, [&pic](QBuffer &buffer) {
        QDataStream out(&buffer);
        pic.saveXEX(out);
    });
    return saveAtomically(fileName, bytes, error);
}

void paintPreview(const ATARIpic &pic, quint8 mode, QImage &image)
{
    for (quint16 y = 0; y < pic.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (quint16 x = 0; x < pic.width; ++x)
            line[x] = (mode == kAtariViewMode ? pic.getAtariPixel(x, y) : pic.getPixel(x, y, mode)) | 0xFF000000u;
    }
}

bool savePreviewPng(const ATARIpic &pic, quint8 mode, const QString &fileName, QString *error)
{
    QImage image(pic.width, pic.height, QImage::Format_RGB32);
    paintPreview(pic, mode, image);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "PNG");
    if (!writer.write(image)) {
        *error = writer.errorString();
        return false;
    }
    return saveAtomically(fileName, png, error);
}

} // namespace PictureFiles
