#include "plainfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
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

// How often a write that waits for a FIFO, pipe or device looks whether to give up.
constexpr int kPollMilliseconds = 50;
// Links followed for one name at most, as the kernel's own limit.
constexpr int kMaxLinks = 40;

std::atomic<bool (*)()> stopCheck{nullptr};
thread_local bool lastFailureWasShortage = false;

bool stopRequested()
{
    bool (*const check)() = stopCheck.load();
    return check != nullptr && check();
}

bool isShortage(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == EAGAIN;
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

// Why a file could not be created in folder, naming the folder when it is the cause (it is
// missing, not a folder or cannot be written); otherwise reason.
QString folderReason(const QString &folder, const QString &reason)
{
    const QFileInfo info(folder);
    const QString name = QDir::toNativeSeparators(info.absoluteFilePath());
    if (!info.exists())
        return tr("The folder %1 does not exist.").arg(name);
    if (!info.isDir())
        return tr("%1 is not a folder.").arg(name);
    if (!info.isWritable())
        return tr("The folder %1 cannot be written: %2").arg(name, reason);
    return reason;
}

// Writes the whole of bytes to the regular file fd. A write that stops part way is continued, so
// that the system's reason for stopping (a full disk, the file size limit) becomes the message.
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

// Writes the whole of bytes to fd, a FIFO, pipe, device or terminal (or, through the standard
// output, a regular file), giving way to the stop check: it waits until fd takes more and writes
// at most PIPE_BUF bytes at a time, which a pipe ready for writing takes without blocking.
bool writeStream(int fd, const QByteArray &bytes, QString *error)
{
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        return writeAll(fd, bytes, error);
    for (qint64 written = 0; written < bytes.size();) {
        if (stopRequested()) {
            *error = tr("interrupted");
            return false;
        }
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, kPollMilliseconds);
        if (ready < 0 && errno != EINTR) {
            *error = systemReason(errno);
            return false;
        }
        if (ready <= 0)
            continue;
        const size_t step = size_t(std::min<qint64>(bytes.size() - written, PIPE_BUF));
        const ssize_t put = ::write(fd, bytes.constData() + written, step);
        if (put < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (put <= 0) {
            *error = put < 0 ? systemReason(errno) : tr("Only part of the file could be written.");
            return false;
        }
        written += put;
    }
    return true;
}

bool writeToStandardOutput(const QByteArray &bytes, QString *error)
{
    std::fflush(stdout);
    if (writeStream(STDOUT_FILENO, bytes, error))
        return true;
    *error = tr("cannot write to standard output: %1").arg(*error);
    return false;
}

// Creates a new, empty file with a short name in the folder dir; returns its descriptor and sets
// name to its name there.
int createTemporary(int dir, QByteArray *name, QString *error)
{
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        *name = ".rastrel-" + QByteArray::number(QRandomGenerator::global()->generate() & 0xFFFFFF, 36);
        const int fd = ::openat(dir, name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                                0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) {
                PlainFiles::noteFailure(errno);
                *error = systemReason(errno);
            }
            return fd;
        }
    }
    *error = systemReason(EEXIST);
    return -1;
}

// Writes bytes as the file name in the folder dir (called folder in messages), through a temporary
// file renamed over it at the end. existing: the file that is replaced, or null.
bool replace(int dir, const QString &folder, const QByteArray &name, const struct stat *existing,
             const QByteArray &bytes, QString *error)
{
    QByteArray temporary;
    const int fd = createTemporary(dir, &temporary, error);
    if (fd < 0) {
        *error = folderReason(folder, *error);
        return false;
    }
    if (existing != nullptr) {
        // As far as the system lets the user: the owner first, as a change of owner clears the
        // set-user-ID bits that the permissions then give back.
        if (::fchown(fd, existing->st_uid, existing->st_gid) != 0)
            (void)::fchown(fd, uid_t(-1), existing->st_gid);
        ::fchmod(fd, existing->st_mode & 07777);
    }
    bool ok = writeAll(fd, bytes, error);
    if (ok && ::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        *error = systemReason(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok && errno != EINTR) {
        *error = systemReason(errno);
        ok = false;
    }
    if (ok && ::renameat(dir, temporary.constData(), dir, name.constData()) != 0) {
        *error = systemReason(errno);
        ok = false;
    }
    if (!ok)
        ::unlinkat(dir, temporary.constData(), 0);
    return ok;
}

// Whether the kernel's rule for shared folders lets the link (status link) in the folder (status
// folder) be followed: not in a folder that is sticky and writable by all when the link belongs
// neither to the user nor to the folder's owner.
bool mayFollow(const struct stat &folder, const struct stat &link)
{
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// The folder part and the last part of a path as the system splits it ("a/b" gives "a" and "b",
// "b" gives "." and "b", "/b" gives "/" and "b"); the last part is empty when path ends with '/'.
void split(const QByteArray &path, QByteArray *folder, QByteArray *name)
{
    const int slash = path.lastIndexOf('/');
    *name = path.mid(slash + 1);
    *folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : fd(fd)
    {
    }
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    void reset(int next = -1)
    {
        if (fd >= 0)
            ::close(fd);
        fd = next;
    }
    int get() const { return fd; }

private:
    int fd;
};

// Opens the folder of path (relative to the folder at) for writing into; -1 on failure, with
// error set.
int openFolder(int at, const QByteArray &folder, QString *error, const QString &shown)
{
    const int fd = ::openat(at, folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int reason = errno;
        PlainFiles::noteFailure(reason);
        *error = folderReason(shown, systemReason(reason));
    }
    return fd;
}

} // namespace

namespace PlainFiles {

int openForReading(const QString &fileName, qint64 *size, QString *error)
{
    noteFailure(0);
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
        noteFailure(errno);
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
    noteFailure(0);
    if (fileName == QLatin1String("-"))
        return writeToStandardOutput(bytes, error);

    QByteArray folder;
    QByteArray name;
    split(QFile::encodeName(fileName), &folder, &name);
    QString shownFolder = QFile::decodeName(folder);
    Descriptor dir(openFolder(AT_FDCWD, folder, error, shownFolder));
    if (dir.get() < 0)
        return false;
    for (int links = 0;; ++links) {
        if (name.isEmpty() || name == "." || name == "..") {
            *error = typeReason(S_IFDIR);
            return false;
        }
        // Not blocking, so that a FIFO that nobody reads fails at once instead of waiting for a
        // reader; not following a link, which is followed below as the kernel would follow it.
        const Descriptor file(::openat(dir.get(), name.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        const int reason = errno;
        struct stat info = {};
        if (file.get() >= 0) {
            if (::fstat(file.get(), &info) != 0) {
                *error = systemReason(errno);
                return false;
            }
            if (!S_ISREG(info.st_mode))
                return writeStream(file.get(), bytes, error);
            // Write permission for nobody, which does not stop the superuser's open.
            if ((info.st_mode & 0222) == 0) {
                *error = tr("The file is read-only; it was left as it is.");
                return false;
            }
            return replace(dir.get(), shownFolder, name, &info, bytes, error);
        }
        if (reason == ENOENT)
            return replace(dir.get(), shownFolder, name, nullptr, bytes, error);
        const bool exists = ::fstatat(dir.get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists || (reason != ELOOP && reason != EMLINK) || !S_ISLNK(info.st_mode)) {
            noteFailure(reason);
            if (exists && S_ISREG(info.st_mode) && (reason == EACCES || reason == EPERM))
                *error = tr("The file is read-only; it was left as it is.");
            else if (exists && reason == ENXIO && S_ISFIFO(info.st_mode))
                *error = tr("No program reads from the FIFO (named pipe).");
            else if (exists && (reason == ENXIO || reason == EISDIR))
                *error = typeReason(info.st_mode);
            else
                *error = systemReason(reason);
            return false;
        }

        // A symbolic link: its owner and its target are read through one descriptor of the link
        // itself, so that what is checked is what is followed.
        if (links == kMaxLinks) {
            *error = systemReason(ELOOP);
            return false;
        }
        const Descriptor link(::openat(dir.get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat folderInfo = {};
        if (link.get() < 0 || ::fstat(link.get(), &info) != 0 || ::fstat(dir.get(), &folderInfo) != 0) {
            noteFailure(errno);
            *error = systemReason(errno);
            return false;
        }
        if (!S_ISLNK(info.st_mode)) // replaced by something else meanwhile
            continue;
        if (!mayFollow(folderInfo, info)) {
            *error = tr("It is a symbolic link in a shared folder that belongs to another user; it is not followed.");
            return false;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(link.get(), "", target, sizeof target);
        if (length <= 0 || size_t(length) >= sizeof target) {
            *error = systemReason(length < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        const QByteArray path(target, int(length));
        split(path, &folder, &name);
        // A relative target lies in the link's folder.
        shownFolder = path.startsWith('/') ? QFile::decodeName(folder)
                                           : shownFolder + QLatin1Char('/') + QFile::decodeName(folder);
        dir.reset(openFolder(dir.get(), folder, error, shownFolder));
        if (dir.get() < 0)
            return false;
    }
}

void setStopCheck(bool (*stopRequested)())
{
    stopCheck.store(stopRequested);
}

bool shortOfResources()
{
    return lastFailureWasShortage;
}

void noteFailure(int error)
{
    lastFailureWasShortage = isShortage(error);
}

} // namespace PlainFiles
