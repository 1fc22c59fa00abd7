#include "palettefile.h"

#include "plainfiles.h"

#include <QCoreApplication>
#include <QFile>

#include <unistd.h>

namespace PaletteFile {

bool read(const QString &fileName, quint32 *rgb, QString *error)
{
    // Regular files only: a FIFO or a device would block or never end.
    qint64 size = 0;
    const int fd = PlainFiles::openForReading(fileName, &size, error);
    if (fd < 0)
        return false;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        ::close(fd);
        return false;
    }
    // Read one byte more than the largest valid file so that longer files are recognised.
    const QByteArray bytes = file.read(kTableSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    if (bytes.size() != kRawSize && bytes.size() != kTableSize) {
        *error = bytes.size() > kTableSize
                     ? QCoreApplication::translate("PaletteFile", "The file is larger than a palette (768 or 772 bytes).")
                     : QCoreApplication::translate("PaletteFile", "The file has %1 bytes; a palette has 768 or 772.")
                           .arg(bytes.size());
        return false;
    }
    const auto *data = reinterpret_cast<const quint8 *>(bytes.constData());
    for (int i = 0; i < 256; ++i)
        rgb[i] = quint32(data[3 * i]) << 16 | quint32(data[3 * i + 1]) << 8 | data[3 * i + 2];
    return true;
}

} // namespace PaletteFile
