#include "picturefiles.h"

#include "atarigeometry.h"
#include "ataripic.h"
#include "decodermessages.h"
#include "loadbudget.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTransform>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <functional>

using namespace Geometry;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PictureFiles", text);
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

// Refuses, before anything is decoded, a picture whose decoding would pass the pixel limit or the
// memory budget, or that the decoder would complete with whatever memory held.
bool admit(QImageReader &reader, const QString &fileName, QString *error)
{
    using PictureFiles::kMaxPixels;
    const QSize claimed = reader.size();
    QFile file(fileName);
    LoadBudget::Estimate need;
    if (file.open(QIODevice::ReadOnly))
        need = LoadBudget::estimate(file, reader.format(), claimed);
    const QSize size = need.size.isValid() ? need.size : claimed;
    const QString what = need.what.isEmpty() ? tr("picture") : need.what;
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPixels) {
        *error = tr("The %1 is %2 x %3 pixels; at most %4 megapixels can be loaded.")
                     .arg(what)
                     .arg(size.width())
                     .arg(size.height())
                     .arg(kMaxPixels / 1'000'000);
        return false;
    }
    if (need.bytes > LoadBudget::kMaxBytes) {
        *error = tr("Decoding its %1 of %2 x %3 pixels would take %4 MB of memory; at most %5 MB are allowed.")
                     .arg(what)
                     .arg(size.width())
                     .arg(size.height())
                     .arg(need.bytes >> 20)
                     .arg(LoadBudget::kMaxBytes >> 20);
        return false;
    }
    if (!need.damage.isEmpty()) {
        *error = need.damage;
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

// Whether the reader of format reports only through Qt's message log. The others (PNG, and icons
// holding PNG) may have a library write to the standard error stream, which is then diverted,
// one picture at a time.
bool writesOnlyThroughQt(const QByteArray &format)
{
    static const QByteArray quiet[] = {"jpeg", "jpg", "gif", "bmp", "pbm", "pgm", "ppm", "xbm", "xpm"};
    return std::find(std::begin(quiet), std::end(quiet), format.toLower()) != std::end(quiet);
}

} // namespace

namespace PictureFiles {

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

bool load(const QString &fileName, quint32 *pixels, QString *error, QString *warning)
{
    if (QFileInfo(fileName).isDir()) {
        *error = tr("It is a folder, not a picture.");
        return false;
    }
    // The system's reason (missing, permission denied) rather than the reader's "File not found",
    // and an empty file before the reader calls it an unsupported format.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    if (file.size() == 0) {
        *error = tr("the file is empty");
        return false;
    }
    file.close();

    DecoderMessages messages;
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    // The orientation tag is applied to the scaled picture below, not by the reader to the decoded
    // one, which would take a second full-size image of memory.
    reader.setAutoTransform(false);
    if (!writesOnlyThroughQt(reader.format()))
        messages.divertStandardError();
    if (!admit(reader, fileName, error))
        return false;
    const QImageIOHandler::Transformations orientation = reader.transformation();

    const QImage image = reader.read();
    messages.finish();
    if (image.isNull()) {
        *error = reader.errorString();
        if (messages.count() > 0)
            *error += QStringLiteral(" (%1)").arg(messages.first());
        return false;
    }

    // Palette pictures may use indices beyond their colour table; the conversion to 32 bits gives
    // those pixels transparent black, the value QImage::pixel() returns for them, without the
    // warning that QImage::pixel() prints for each one.
    const QImage scaled = upright(image.scaled(sideways(orientation) ? QSize(kSourceHeight, kSourceWidth)
                                                                     : QSize(kSourceWidth, kSourceHeight),
                                               Qt::IgnoreAspectRatio, Qt::FastTransformation),
                                  orientation)
                              .convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < kSourceHeight; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(scaled.constScanLine(y));
        std::copy(line, line + kSourceWidth, pixels + y * kSourceWidth);
    }
    if (messages.count() > 0) {
        const QString more = messages.count() > 1 ? tr(" (and %1 more messages)").arg(messages.count() - 1) : QString();
        const QString text = tr("%1: the picture is damaged or unusual; the decoder says: %2%3")
                                 .arg(QDir::toNativeSeparators(fileName), messages.first(), more);
        if (warning != nullptr)
            *warning = text;
        else
            qWarning().noquote() << text;
    }
    return true;
}

bool saveAsm(ATARIpic &pic, const QString &fileName, QString *error)
{
    const QByteArray text = render(QIODevice::Text, [&pic](QBuffer &buffer) {
        QTextStream out(&buffer);
        pic.saveASM(out);
    });
    return saveBytes(fileName, text, error);
}

bool saveXex(ATARIpic &pic, const QString &fileName, QString *error)
{
    const QByteArray bytes = render(QIODevice::NotOpen, [&pic](QBuffer &buffer) {
        QDataStream out(&buffer);
        pic.saveXEX(out);
    });
    return saveBytes(fileName, bytes, error);
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
    return saveBytes(fileName, png, error);
}

} // namespace PictureFiles
