#include "pictureexports.h"

#include "ataripic.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>
#include <QTextStream>

#include <functional>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PictureExports", text);
}

// Why fileName could not be created, naming its folder when the folder is the cause (it is missing,
// not a folder or cannot be written); otherwise systemReason.
QString folderReason(const QString &fileName, const QString &systemReason)
{
    const QFileInfo folder(QFileInfo(fileName).absolutePath());
    const QString name = QDir::toNativeSeparators(folder.filePath());
    if (!folder.exists())
        return tr("The folder %1 does not exist.").arg(name);
    if (!folder.isDir())
        return tr("%1 is not a folder.").arg(name);
    if (!folder.isWritable())
        return tr("The folder %1 cannot be written: %2").arg(name, systemReason);
    return systemReason;
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

namespace PictureExports {

// Writes the whole of bytes through a QSaveFile, so that the target changes only once everything
// is on disk. A write that stops part way is continued, so that the system's reason for stopping
// (a full disk, the file size limit) becomes the message; a write that makes no progress without
// a reason fails too. Unbuffered, so that no part of the file waits in a buffer whose
// failure to reach the disk commit() would not notice.
bool saveBytes(const QString &fileName, const QByteArray &bytes, QString *error)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = folderReason(fileName, file.errorString());
        return false;
    }
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
        if (step <= 0) {
            *error = step < 0 ? file.errorString()
                              : tr("Only part of the file could be written; the disk may be full.");
            file.cancelWriting();
            return false;
        }
        written += step;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
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
