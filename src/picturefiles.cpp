#include "picturefiles.h"

#include "atarigeometry.h"
#include "ataripic.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QSaveFile>
#include <QTextStream>

#include <functional>

using namespace Geometry;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PictureFiles", text);
}

// Writes through a QSaveFile so that the target changes only once everything is on disk.
bool saveAtomically(const QString &fileName, QIODevice::OpenMode mode, QString *error,
                    const std::function<bool(QSaveFile &)> &write)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | mode)) {
        *error = file.errorString();
        return false;
    }
    if (!write(file)) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
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
    return saveAtomically(fileName, QIODevice::Text, error, [&pic](QSaveFile &file) {
        QTextStream out(&file);
        pic.saveASM(out);
        out.flush();
        return out.status() == QTextStream::Ok && file.error() == QFileDevice::NoError;
    });
}

bool saveXex(ATARIpic &pic, const QString &fileName, QString *error)
{
    return saveAtomically(fileName, QIODevice::NotOpen, error, [&pic](QSaveFile &file) {
        QDataStream out(&file);
        pic.saveXEX(out);
        return out.status() == QDataStream::Ok && file.error() == QFileDevice::NoError;
    });
}

} // namespace PictureFiles
