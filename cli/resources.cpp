#include "resources.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>

#include <sys/resource.h>

namespace {

QByteArray fileText(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value after key in /proc/self/status, in bytes (given in kB there); -1 when missing.
qint64 statusBytes(const QByteArray &status, const char *key)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(key)) {
            bool ok = false;
            const qint64 kilobytes = line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLongLong(&ok);
            return ok ? kilobytes * 1024 : -1;
        }
    }
    return -1;
}

qint64 softLimit(int resource)
{
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    return qint64(std::min<rlim_t>(limit.rlim_cur, rlim_t(1) << 62));
}

// The memory the control group (version 2) of the process may still take; -1 when not limited.
qint64 groupMemoryRoom()
{
    const QByteArray membership = fileText(QStringLiteral("/proc/self/cgroup"));
    for (const QByteArray &line : membership.split('\n')) {
        if (!line.startsWith("0::"))
            continue;
        const QString folder = QStringLiteral("/sys/fs/cgroup") + QFile::decodeName(line.mid(3).trimmed());
        const QByteArray max = fileText(folder + QStringLiteral("/memory.max")).trimmed();
        bool ok = false;
        const qint64 limit = max.toLongLong(&ok);
        if (!ok)
            return -1; // "max", or no such file
        const qint64 used = fileText(folder + QStringLiteral("/memory.current")).trimmed().toLongLong();
        return std::max<qint64>(0, limit - used);
    }
    return -1;
}

} // namespace

namespace Resources {

Room available()
{
    Room room;
    const qint64 addressLimit = softLimit(RLIMIT_AS);
    if (addressLimit >= 0) {
        const qint64 used = statusBytes(fileText(QStringLiteral("/proc/self/status")), "VmSize:");
        room.addressBytes = std::max<qint64>(0, addressLimit - std::max<qint64>(0, used));
    }
    room.memoryBytes = groupMemoryRoom();
    const qint64 fileLimit = softLimit(RLIMIT_NOFILE);
    if (fileLimit >= 0) {
        const qint64 open = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
        room.files = std::max<qint64>(0, fileLimit - open);
    }
    return room;
}

Share share(int pictures, int threads, const Room &room)
{
    threads = std::max(1, threads);
    int atOnce = std::min(std::max(1, pictures), threads);
    if (room.addressBytes >= 0)
        atOnce = int(std::min<qint64>(atOnce, room.addressBytes / (kAddressPerPicture + kAddressPerThread)));
    if (room.memoryBytes >= 0)
        atOnce = int(std::min<qint64>(atOnce, room.memoryBytes / kMemoryPerPicture));
    if (room.files >= 0)
        atOnce = int(std::min<qint64>(atOnce, room.files / kFilesPerPicture));
    Share result;
    result.pictures = std::max(1, atOnce);
    int perPicture = std::max(1, threads / result.pictures);
    if (room.addressBytes >= 0) {
        const qint64 left = room.addressBytes - result.pictures * kAddressPerPicture;
        perPicture = int(std::min<qint64>(perPicture, left / (result.pictures * kAddressPerThread)));
    }
    result.threads = std::max(1, perPicture);
    return result;
}

} // namespace Resources
