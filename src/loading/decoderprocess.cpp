#include "decoderprocess.h"

#include "plainfiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace DecoderProtocol;
using DecoderProcess::Options;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DecoderProcess", text);
}

constexpr char kWorkerName[] = "rastrel-zo9-decoder";
// How often a wait looks whether to stop.
constexpr int kPollMilliseconds = 50;
// How long a worker may take to start and say hello.
constexpr qint64 kStartMilliseconds = 30'000;
// Pieces in which a file is passed on.
constexpr qint64 kChunkBytes = 64 * 1024;

std::atomic<bool (*)()> stopCheck{nullptr};

bool stopRequested()
{
    bool (*const check)() = stopCheck.load();
    return check != nullptr && check();
}

struct Worker
{
    pid_t pid = -1;
    int socket = -1; // the loader's end of the worker's standard input and output
    Hello hello;
};

// Ends worker at once and returns how it ended (a wait status). A worker that has ended already
// keeps the status it ended with.
int end(Worker &worker)
{
    ::close(worker.socket);
    ::kill(worker.pid, SIGKILL);
    int status = 0;
    while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
    }
    worker = Worker();
    return status;
}

// The healthy workers that wait for a picture.
class Pool
{
public:
    ~Pool() { clear(); }

    void clear()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (Worker &worker : idle)
            end(worker);
        idle.clear();
    }

    bool take(Worker *worker)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (idle.empty())
            return false;
        *worker = idle.back();
        idle.pop_back();
        return true;
    }

    void give(const Worker &worker)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        idle.push_back(worker);
    }

private:
    std::mutex mutex;
    std::vector<Worker> idle;
};

Pool &pool()
{
    static Pool workers;
    return workers;
}

enum class Wait { Ready, Stopped, TimedOut, Failed };

// Waits until fd is ready for events, the deadline passes or a stop is requested.
Wait waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        if (stopRequested())
            return Wait::Stopped;
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return Wait::TimedOut;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, left < 0 ? kPollMilliseconds : int(std::min<qint64>(left, kPollMilliseconds)));
        if (ready < 0 && errno != EINTR)
            return Wait::Failed;
        if (ready > 0)
            return Wait::Ready;
    }
}

Wait sendAll(int fd, const void *data, qint64 size, const QDeadlineTimer &deadline)
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const Wait wait = waitFor(fd, POLLOUT, deadline);
        if (wait != Wait::Ready)
            return wait;
        const ssize_t sent = ::send(fd, bytes, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (sent <= 0)
            return Wait::Failed;
        bytes += sent;
        size -= sent;
    }
    return Wait::Ready;
}

Wait receiveAll(int fd, void *data, qint64 size, const QDeadlineTimer &deadline)
{
    auto *bytes = static_cast<char *>(data);
    while (size > 0) {
        const Wait wait = waitFor(fd, POLLIN, deadline);
        if (wait != Wait::Ready)
            return wait;
        const ssize_t got = ::recv(fd, bytes, size_t(size), MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got <= 0)
            return Wait::Failed;
        bytes += got;
        size -= got;
    }
    return Wait::Ready;
}

// Starts a worker and waits for its hello.
bool start(Worker *worker, QString *error)
{
    const QString path = DecoderProcess::workerPath();
    if (path.isEmpty()) {
        *error = tr("the decoder program %1 is missing").arg(QLatin1String(kWorkerName));
        return false;
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        *error = tr("the decoder program cannot be started: %1").arg(qt_error_string(errno));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    // The worker is ended by the signals that end the program (a terminal's Ctrl+C reaches both),
    // and by the kernel's limits.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU, SIGXFSZ})
        sigaddset(&defaults, signal);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    QByteArray program = QFile::encodeName(path);
    char *arguments[] = {program.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (spawned != 0) {
        ::close(ends[0]);
        *error = tr("the decoder program %1 cannot be started: %2").arg(QDir::toNativeSeparators(path), qt_error_string(spawned));
        return false;
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    worker->pid = pid;
    worker->socket = ends[0];
    const Wait wait = receiveAll(worker->socket, &worker->hello, sizeof worker->hello, QDeadlineTimer(kStartMilliseconds));
    if (wait == Wait::Ready && worker->hello.magic == kHelloMagic && worker->hello.version == kVersion)
        return true;
    end(*worker);
    *error = wait == Wait::Stopped ? tr("interrupted")
                                   : tr("the decoder program %1 did not start properly").arg(QDir::toNativeSeparators(path));
    return false;
}

QString timeReason(const Hello &hello)
{
    return tr("took longer than %1 s to decode").arg(hello.cpuSeconds);
}

QString memoryReason(const Hello &hello)
{
    constexpr quint64 kGiB = quint64(1) << 30;
    if (hello.memoryBytes == 0)
        return tr("ran out of memory while decoding");
    const QString amount = hello.memoryBytes % kGiB == 0 ? tr("%1 GiB").arg(hello.memoryBytes / kGiB)
                                                         : tr("%1 MiB").arg(hello.memoryBytes >> 20);
    return tr("needs more than %1 of memory to decode").arg(amount);
}

// Ends a worker that did not answer as it should, and tells why from how it ended.
QString failure(Worker &worker, Wait wait)
{
    const Hello hello = worker.hello;
    const int status = end(worker);
    if (wait == Wait::Stopped)
        return tr("interrupted");
    if (wait == Wait::TimedOut || (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU))
        return timeReason(hello);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kExitOutOfMemory)
        return memoryReason(hello);
    return tr("the decoder failed on this file");
}

// A picture's bytes: length bytes read from fd, or bytes.
struct Source
{
    int fd = -1;
    qint64 length = 0;
    const QByteArray *bytes = nullptr;
};

// Passes the picture on to the worker.
Wait send(Worker &worker, const Source &source, const Options &options, const QDeadlineTimer &deadline, QString *error)
{
    Request request;
    request.fit = quint32(options.fit);
    request.length = quint64(source.length);
    Wait wait = sendAll(worker.socket, &request, sizeof request, deadline);
    if (source.bytes != nullptr) {
        if (wait == Wait::Ready)
            wait = sendAll(worker.socket, source.bytes->constData(), source.length, deadline);
        return wait;
    }
    std::vector<char> chunk(size_t(std::min(kChunkBytes, std::max<qint64>(1, source.length))));
    for (qint64 left = source.length; left > 0 && wait == Wait::Ready;) {
        const ssize_t got = ::read(source.fd, chunk.data(), size_t(std::min<qint64>(left, qint64(chunk.size()))));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            *error = got < 0 ? qt_error_string(errno) : tr("the file became shorter while it was read");
            return Wait::Failed;
        }
        wait = sendAll(worker.socket, chunk.data(), got, deadline);
        left -= got;
    }
    return wait;
}

// Has a worker decode source; results as for DecoderProcess::decodeFile, with the decoder's first
// message and the number of its messages in place of the warning.
bool decode(const Source &source, const Options &options, quint32 *pixels, QString *error, QString *message,
            int *messageCount)
{
    Worker worker;
    if (!pool().take(&worker) && !start(&worker, error))
        return false;
    // The kernel ends a worker past its processor time; this ends one that waits instead.
    const QDeadlineTimer deadline(qint64(worker.hello.cpuSeconds) * 10'000 + 30'000);
    QString readError;
    Wait wait = send(worker, source, options, deadline, &readError);
    if (wait == Wait::Failed && !readError.isEmpty()) {
        end(worker);
        *error = readError;
        return false;
    }
    Reply reply;
    if (wait == Wait::Ready)
        wait = receiveAll(worker.socket, &reply, sizeof reply, deadline);
    constexpr quint32 kMaxText = 64 * 1024;
    if (wait == Wait::Ready
        && (reply.magic != kReplyMagic || reply.errorBytes > kMaxText || reply.messageBytes > kMaxText
            || reply.status > quint32(Status::OutOfMemory)))
        wait = Wait::Failed;
    QByteArray errorText(int(reply.errorBytes), '\0');
    QByteArray messageText(int(reply.messageBytes), '\0');
    if (wait == Wait::Ready)
        wait = receiveAll(worker.socket, errorText.data(), errorText.size(), deadline);
    if (wait == Wait::Ready)
        wait = receiveAll(worker.socket, messageText.data(), messageText.size(), deadline);
    std::vector<quint32> decoded;
    if (wait == Wait::Ready && Status(reply.status) == Status::Decoded) {
        decoded.resize(Geometry::kSourcePixels);
        wait = receiveAll(worker.socket, decoded.data(), kPixelBytes, deadline);
    }
    if (wait != Wait::Ready) {
        *error = failure(worker, wait);
        return false;
    }
    *message = QString::fromUtf8(messageText);
    *messageCount = int(reply.messageCount);
    switch (Status(reply.status)) {
    case Status::Decoded:
        pool().give(worker);
        std::copy(decoded.begin(), decoded.end(), pixels);
        return true;
    case Status::Refused:
        pool().give(worker);
        *error = QString::fromUtf8(errorText);
        return false;
    case Status::OutOfMemory:
        *error = memoryReason(worker.hello);
        end(worker);
        return false;
    }
    return false;
}

// Reads the whole of fd, at most kMaxStreamBytes.
bool readStream(int fd, QByteArray *bytes, QString *error)
{
    char chunk[kChunkBytes];
    for (;;) {
        const Wait wait = waitFor(fd, POLLIN, QDeadlineTimer(QDeadlineTimer::Forever));
        if (wait == Wait::Stopped) {
            *error = tr("interrupted");
            return false;
        }
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            return true;
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (got < 0) {
            *error = qt_error_string(errno);
            return false;
        }
        if (bytes->size() + got > DecoderProcess::kMaxStreamBytes) {
            *error = tr("it holds more than %1 MiB").arg(DecoderProcess::kMaxStreamBytes >> 20);
            return false;
        }
        bytes->append(chunk, int(got));
    }
}

// The warning for a picture that decoded although the decoder gave messages.
void warn(const QString &name, const QString &message, int count, QString *warning)
{
    if (count == 0) {
        if (warning != nullptr)
            warning->clear();
        return;
    }
    const QString more = count > 1 ? tr(" (and %1 more messages)").arg(count - 1) : QString();
    const QString text = tr("%1: the picture is damaged or unusual; the decoder says: %2%3")
                             .arg(QDir::toNativeSeparators(name), message, more);
    if (warning != nullptr)
        *warning = text;
    else
        qWarning().noquote() << text;
}

} // namespace

namespace DecoderProcess {

bool decodeFile(const QString &fileName, quint32 *pixels, QString *error, QString *warning, const Options &options)
{
    Source source;
    source.fd = PlainFiles::openForReading(fileName, &source.length, error);
    if (source.fd < 0)
        return false;
    if (source.length == 0) {
        ::close(source.fd);
        *error = tr("The file is empty.");
        return false;
    }
    QString message;
    int count = 0;
    const bool decoded = decode(source, options, pixels, error, &message, &count);
    ::close(source.fd);
    if (decoded)
        warn(fileName, message, count, warning);
    return decoded;
}

bool decodeStream(int fd, const QString &name, quint32 *pixels, QString *error, QString *warning,
                  const Options &options)
{
    QByteArray bytes;
    if (!readStream(fd, &bytes, error))
        return false;
    if (bytes.isEmpty()) {
        *error = tr("The file is empty.");
        return false;
    }
    Source source;
    source.bytes = &bytes;
    source.length = bytes.size();
    QString message;
    int count = 0;
    const bool decoded = decode(source, options, pixels, error, &message, &count);
    if (decoded)
        warn(name, message, count, warning);
    return decoded;
}

void setStopCheck(bool (*stopRequested)())
{
    stopCheck.store(stopRequested);
}

void endIdleWorkers()
{
    pool().clear();
}

QString workerPath()
{
    const QString chosen = qEnvironmentVariable("RASTREL_DECODER");
    if (!chosen.isEmpty())
        return chosen;
    QString folder = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    if (folder.isEmpty() && QCoreApplication::instance() != nullptr)
        folder = QCoreApplication::applicationDirPath();
    for (const char *relative : {RASTREL_DECODER_FROM_BINDIR, "../decoder"}) {
        const QFileInfo candidate(QDir::cleanPath(folder + QLatin1Char('/') + QLatin1String(relative) + QLatin1Char('/')
                                                  + QLatin1String(kWorkerName)));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.filePath();
    }
    return QString();
}

} // namespace DecoderProcess
