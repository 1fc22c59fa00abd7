#include "plainfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PlainFiles", text);
}

QString systemReason(int error)
{
    return qt_error_string(error);
}

// Why a file of this type cannot be read or replaced as a picture; empty for a regular file.
QString typeReason(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISDIR(mode))
        return tr("It is a folder, not a picture.");
    if (S_ISFIFO(mode))
        return tr("It is a FIFO (named pipe), not a regular file.");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return tr("It is a device, not a regular file.");
    if (S_ISSOCK(mode))
        return tr("It is a socket, not a regular file.");
    return tr("It is not a regular file.");
}

// Why fileName could not be created, naming its folder when the folder is the cause (it is missing,
// not a folder or cannot be written); otherwise reason.
QString folderReason(const QString &fileName, const QString &reason)
{
    const QFileInfo folder(QFileInfo(fileName).absolutePath());
    const QString name = QDir::toNativeSeparators(folder.filePath());
    if (!folder.exists())
        return tr("The folder %1 does not exist.").arg(name);
    if (!folder.isDir())
        return tr("%1 is not a folder.").arg(name);
    if (!folder.isWritable())
        return tr("The folder %1 cannot be written: %2").arg(name, reason);
    return reason;
}

// Writes the whole of bytes to fd. A write that stops part way is continued, so that the system's
// reason for stopping (a full disk, the file size limit) becomes the message.
bool writeAll(int fd, const QByteArray &bytes, QString *error)
{
    for (qint64 written = 0; written < bytes.size();) {
        const ssize_t step = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (step < 0 && errno == EINTR)
            continue;
        if (step <= 0) {
            *error = step < 0 ? systemReason(errno) : tr("Only part of the file could be written; the disk may be full.");
            return false;
        }
        written += step;
    }
    return true;
}

bool writeToStandardOutput(const QByteArray &bytes, QString *error)
{
    std::fflush(stdout);
    if (writeAll(STDOUT_FILENO, bytes, error))
        return true;
    *error = tr("cannot write to standard output: %1").arg(*error);
    return false;
}

// Writes into the existing file path that is not a regular file, without replacing it.
bool writeInto(const QByteArray &path, mode_t mode, const QByteArray &bytes, QString *error)
{
    if (S_ISDIR(mode) || S_ISSOCK(mode)) {
        *error = typeReason(mode);
        return false;
    }
    // Not blocking, so that a FIFO that nobody reads fails at once instead of waiting for a reader.
    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ENXIO && S_ISFIFO(mode) ? tr("No program reads from the FIFO (named pipe).")
                                                   : systemReason(errno);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const bool written = writeAll(fd, bytes, error);
    const bool closed = ::close(fd) == 0 || errno == EINTR;
    if (written && !closed)
        *error = systemReason(errno);
    return written && closed;
}

// Creates a new, empty file with a short name in folder; returns its descriptor and sets path.
int createTemporary(const QString &folder, QByteArray *path, QString *error)
{
    constexpr int kAttempts = 100;
    const QByteArray base = QFile::encodeName(folder) + "/.rastrel-";
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        *path = base + QByteArray::number(QRandomGenerator::global()->generate() & 0xFFFFFF, 36);
        const int fd = ::open(path->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0)
                *error = systemReason(errno);
            return fd;
        }
    }
    *error = systemReason(EEXIST);
    return -1;
}

} // namespace

namespace PlainFiles {

int openForReading(const QString &fileName, qint64 *size, QString *error)
{
    if (fileName.isEmpty()) {
        *error = tr("The file name is empty.");
        return -1;
    }
    const QByteArray path = QFile::encodeName(fileName);
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0) {
        *error = systemReason(errno);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = typeReason(info.st_mode);
        return -1;
    }
    // Not blocking, in case a FIFO has taken the file's place meanwhile.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = systemReason(errno);
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = typeReason(info.st_mode);
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *size = info.st_size;
    return fd;
}

bool write(const QString &fileName, const QByteArray &bytes, QString *error)
{
    if (fileName == QLatin1String("-"))
        return writeToStandardOutput(bytes, error);

    // A symbolic link stays and its target is replaced.
    QString target = fileName;
    const QFileInfo link(fileName);
    if (link.isSymLink() && link.exists())
        target = link.canonicalFilePath();
    const QByteArray path = QFile::encodeName(target);
    struct stat existing = {};
    const bool exists = ::stat(path.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return writeInto(path, existing.st_mode, bytes, error);

    QByteArray temporary;
    const int fd = createTemporary(QFileInfo(target).absolutePath(), &temporary, error);
    if (fd < 0) {
        *error = folderReason(target, *error);
        return false;
    }
    if (exists)
        ::fchmod(fd, existing.st_mode & 07777); // as far as the owner may; the contents matter
    bool ok = writeAll(fd, bytes, error);
    if (ok && ::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        *error = systemReason(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok && errno != EINTR) {
        *error = systemReason(errno);
        ok = false;
    }
    if (ok && ::rename(temporary.constData(), path.constData()) != 0) {
        *error = systemReason(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temporary.constData());
    return ok;
}

} // namespace PlainFiles
