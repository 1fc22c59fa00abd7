#include "pictureloader.h"

#include "atarigeometry.h"
#include "decodermessages.h"
#include "loadbudget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTransform>

#include <algorithm>

using namespace Geometry;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PictureLoader", text);
}

// Refuses, before anything is decoded, a picture whose decoding would pass the pixel limit or the
// memory budget, or that the decoder would complete with whatever memory held.
bool admit(QImageReader &reader, const QString &fileName, QString *error)
{
    using PictureLoader::kMaxPixels;
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

namespace PictureLoader {

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
        *error = tr("The file is empty.");
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
        // No reader recognises the content: our words, not the toolkit's "Unsupported image format".
        *error = reader.error() == QImageReader::UnsupportedFormatError
                     ? tr("It is not a picture this program can read.")
                     : reader.errorString();
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

} // namespace PictureLoader
