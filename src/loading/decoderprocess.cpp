#include "decoderprocess.h"

#include "plainfiles.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
// How long a worker may use no processor time while it starts, before its hello tells its limit.
constexpr qint64 kStartIdleMilliseconds = 10'000;
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

// Ends the worker it holds when it goes out of scope (an allocation failed on the way), unless the
// worker was handed on.
class WorkerGuard
{
public:
    explicit WorkerGuard(Worker &worker)
        : worker(worker)
    {
    }
    ~WorkerGuard()
    {
        if (worker.pid > 0)
            end(worker);
    }
    WorkerGuard(const WorkerGuard &) = delete;
    WorkerGuard &operator=(const WorkerGuard &) = delete;

private:
    Worker &worker;
};

// The processor time (user and system) a process has used so far, in clock ticks; -1 when it
// cannot be told.
qint64 processorTicks(pid_t pid)
{
    char name[64];
    std::snprintf(name, sizeof name, "/proc/%d/stat", int(pid));
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[512];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return -1;
    text[got] = '\0';
    // The fields after the program's name, which is in parentheses and may hold anything.
    const char *rest = std::strrchr(text, ')');
    if (rest == nullptr)
        return -1;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    unsigned long long user = 0;
    unsigned long long system = 0;
    if (std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) != 2)
        return -1;
    return qint64(user + system);
}

// Tells a worker that waits from one that works: counts the time during which the worker used no
// processor time at all. Only time this process saw pass counts, a poll interval or two at a time,
// so that a batch that was suspended (Ctrl+Z) and resumed does not find its workers idle.
class IdleWatch
{
public:
    IdleWatch(pid_t pid, qint64 limitMilliseconds)
        : pid(pid)
        , limit(limitMilliseconds)
        , ticks(processorTicks(pid))
    {
        clock.start();
    }

    // Called after each wait that timed out; whether the worker has been idle past the limit.
    bool idle()
    {
        idleFor += std::min<qint64>(clock.restart(), 2 * kPollMilliseconds);
        const qint64 now = processorTicks(pid);
        if (now != ticks) {
            ticks = now;
            idleFor = 0;
        }
        return limit > 0 && idleFor >= limit;
    }

private:
    pid_t pid;
    qint64 limit;
    qint64 ticks;
    qint64 idleFor = 0;
    QElapsedTimer clock;
};

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

enum class Wait { Ready, Stopped, Idle, Failed };

// Waits until fd is ready for events, the worker watched (if any) has been idle past its limit or
// a stop is requested.
Wait waitFor(int fd, short events, IdleWatch *watch)
{
    for (;;) {
        if (stopRequested())
            return Wait::Stopped;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, kPollMilliseconds);
        if (ready < 0 && errno != EINTR)
            return Wait::Failed;
        if (ready > 0)
            return Wait::Ready;
        if (ready == 0 && watch != nullptr && watch->idle())
            return Wait::Idle;
    }
}

Wait sendAll(int fd, const void *data, qint64 size, IdleWatch *watch)
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const Wait wait = waitFor(fd, POLLOUT, watch);
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

Wait receiveAll(int fd, void *data, qint64 size, IdleWatch *watch)
{
    auto *bytes = static_cast<char *>(data);
    while (size > 0) {
        const Wait wait = waitFor(fd, POLLIN, watch);
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

// Whether a worker that ended by signal crashed (the file is to blame) rather than being ended
// from outside.
bool crashSignal(int signal)
{
    switch (signal) {
    case SIGSEGV:
    case SIGBUS:
    case SIGABRT:
    case SIGILL:
    case SIGFPE:
    case SIGTRAP:
    case SIGSYS:
        return true;
    default:
        return false;
    }
}

// The usual name of a signal that ends a process.
QString signalName(int signal)
{
    static const struct
    {
        int number;
        const char *name;
    } kNames[] = {{SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"}, {SIGKILL, "SIGKILL"},
                  {SIGPIPE, "SIGPIPE"}, {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"}, {SIGUSR1, "SIGUSR1"},
                  {SIGUSR2, "SIGUSR2"}, {SIGXFSZ, "SIGXFSZ"}, {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"}};
    for (const auto &entry : kNames) {
        if (entry.number == signal)
            return QLatin1String(entry.name);
    }
    return QStringLiteral("signal %1").arg(signal);
}

QString killedReason(int signal)
{
    if (signal == SIGKILL)
        return tr("the decoder was ended by SIGKILL from outside (the system may have run out of memory)");
    return tr("the decoder was ended by %1 from outside").arg(signalName(signal));
}

// Why the program at path, or a folder on its way, may have been changed by someone else than
// the user and root: it belongs to another user, or others may write it (a folder that others
// may write is safe when it is sticky, as /tmp is: they cannot replace what is not theirs).
// Empty when it is safe.
QString unsafeReason(const QString &path)
{
    char real[PATH_MAX];
    if (::realpath(QFile::encodeName(path).constData(), real) == nullptr)
        return QString(); // starting it gives the system's reason
    const uid_t user = ::geteuid();
    QByteArray part(real);
    for (bool program = true;; program = false) {
        struct stat info = {};
        if (::lstat(part.constData(), &info) != 0)
            return QString();
        const bool othersWrite = (info.st_mode & S_IWOTH) != 0
                                 || ((info.st_mode & S_IWGRP) != 0 && info.st_gid != ::getegid());
        const bool sticky = !program && (info.st_mode & S_ISVTX) != 0;
        const QString shown = QDir::toNativeSeparators(QFile::decodeName(part));
        if (info.st_uid != 0 && info.st_uid != user)
            return tr("the decoder program %1 is not run: %2 belongs to another user").arg(QDir::toNativeSeparators(path), shown);
        if (othersWrite && !sticky)
            return tr("the decoder program %1 is not run: others may change %2").arg(QDir::toNativeSeparators(path), shown);
        if (part == "/")
            return QString();
        const int slash = part.lastIndexOf('/');
        part = slash <= 0 ? QByteArray("/") : part.left(slash);
    }
}

// Starts a worker and waits for its hello.
bool start(Worker *worker, QString *error)
{
    const QString chosen = qEnvironmentVariable("RASTREL_DECODER");
    if (!chosen.isEmpty() && !chosen.startsWith(QLatin1Char('/'))) {
        *error = tr("RASTREL_DECODER must name the decoder program by its absolute path, not %1").arg(chosen);
        return false;
    }
    const QString path = DecoderProcess::workerPath();
    if (path.isEmpty()) {
        *error = tr("the decoder program %1 is missing").arg(QLatin1String(kWorkerName));
        return false;
    }
    const QString unsafe = unsafeReason(path);
    if (!unsafe.isEmpty()) {
        *error = unsafe;
        return false;
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        PlainFiles::noteFailure(errno);
        *error = tr("the decoder program cannot be started: %1").arg(qt_error_string(errno));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    // The worker runs in a process group of its own, so that a terminal's Ctrl+C reaches the
    // program alone, which then ends its workers; the kernel's limits end it too.
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
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    QByteArray program = QFile::encodeName(path);
    char *arguments[] = {program.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (spawned != 0) {
        PlainFiles::noteFailure(spawned);
        ::close(ends[0]);
        *error = tr("the decoder program %1 cannot be started: %2").arg(QDir::toNativeSeparators(path), qt_error_string(spawned));
        return false;
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    worker->pid = pid;
    worker->socket = ends[0];
    IdleWatch watch(pid, kStartIdleMilliseconds);
    const Wait wait = receiveAll(worker->socket, &worker->hello, sizeof worker->hello, &watch);
    if (wait == Wait::Ready && worker->hello.magic == kHelloMagic && worker->hello.version == kVersion)
        return true;
    const int status = end(*worker);
    if (wait == Wait::Stopped || stopRequested())
        *error = tr("interrupted");
    else if (WIFSIGNALED(status) && !crashSignal(WTERMSIG(status)))
        *error = killedReason(WTERMSIG(status));
    else
        *error = tr("the decoder program %1 did not start properly").arg(QDir::toNativeSeparators(path));
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
    // A stop requested while the worker failed (the terminal's signal reached it too) is what
    // ended the picture.
    if (wait == Wait::Stopped || stopRequested())
        return tr("interrupted");
    if (wait == Wait::Idle)
        return tr("the decoder stopped responding");
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
        return timeReason(hello);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kExitOutOfMemory)
        return memoryReason(hello);
    if (WIFSIGNALED(status) && !crashSignal(WTERMSIG(status))) {
        // Ended from outside, by the system's out-of-memory killer, say: the file is not to blame,
        // and with less at once it may well load.
        if (WTERMSIG(status) == SIGKILL)
            PlainFiles::noteFailure(ENOMEM);
        return killedReason(WTERMSIG(status));
    }
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
Wait send(Worker &worker, const Source &source, const Options &options, IdleWatch *watch, QString *error)
{
    Request request;
    request.fit = quint32(options.fit);
    request.length = quint64(source.length);
    Wait wait = sendAll(worker.socket, &request, sizeof request, watch);
    if (source.bytes != nullptr) {
        if (wait == Wait::Ready)
            wait = sendAll(worker.socket, source.bytes->constData(), source.length, watch);
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
        wait = sendAll(worker.socket, chunk.data(), got, watch);
        left -= got;
    }
    return wait;
}

// Has a worker decode source; results as for DecoderProcess::decodeFile, with the decoder's first
// message and the number of its messages in place of the warning.
bool decode(const Source &source, const Options &options, quint32 *pixels, QString *error, QString *message,
            int *messageCount)
{
    PlainFiles::noteFailure(0);
    Worker worker;
    if (!pool().take(&worker) && !start(&worker, error))
        return false;
    const WorkerGuard guard(worker);
    // The kernel ends a worker past its processor time; this ends one that waits instead.
    IdleWatch watch(worker.pid, qint64(worker.hello.idleSeconds) * 1000);
    QString readError;
    Wait wait = send(worker, source, options, &watch, &readError);
    if (wait == Wait::Failed && !readError.isEmpty()) {
        end(worker);
        *error = readError;
        return false;
    }
    Reply reply;
    if (wait == Wait::Ready)
        wait = receiveAll(worker.socket, &reply, sizeof reply, &watch);
    constexpr quint32 kMaxText = 64 * 1024;
    if (wait == Wait::Ready
        && (reply.magic != kReplyMagic || reply.errorBytes > kMaxText || reply.messageBytes > kMaxText
            || reply.status > quint32(Status::OutOfMemory)))
        wait = Wait::Failed;
    QByteArray errorText(int(reply.errorBytes), '\0');
    QByteArray messageText(int(reply.messageBytes), '\0');
    if (wait == Wait::Ready)
        wait = receiveAll(worker.socket, errorText.data(), errorText.size(), &watch);
    if (wait == Wait::Ready)
        wait = receiveAll(worker.socket, messageText.data(), messageText.size(), &watch);
    std::vector<quint32> decoded;
    if (wait == Wait::Ready && Status(reply.status) == Status::Decoded) {
        decoded.resize(Geometry::kSourcePixels);
        wait = receiveAll(worker.socket, decoded.data(), kPixelBytes, &watch);
    }
    if (wait != Wait::Ready) {
        *error = failure(worker, wait);
        return false;
    }
    *message = QString::fromUtf8(messageText);
    *messageCount = int(reply.messageCount);
    switch (Status(reply.status)) {
    case Status::Decoded:
        std::copy(decoded.begin(), decoded.end(), pixels);
        pool().give(worker);
        worker = Worker();
        return true;
    case Status::Refused:
        *error = QString::fromUtf8(errorText);
        pool().give(worker);
        worker = Worker();
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
        const Wait wait = waitFor(fd, POLLIN, nullptr);
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
    const QString text = DecoderProcess::warningText(name, message, count);
    if (text.isEmpty()) {
        if (warning != nullptr)
            warning->clear();
        return;
    }
    if (warning != nullptr)
        *warning = text;
    else
        qWarning().noquote() << text;
}

} // namespace

namespace DecoderProcess {

namespace {

// Decoder messages about pictures that are fine: colour profiles that libpng knows and ignores. The
// toolkit passes them on after libpng's own prefix.
const char kLibpngWarning[] = "libpng warning: ";
const char *const kHarmlessMessages[] = {
    "iCCP: known incorrect sRGB profile",
    "iCCP: cHRM chunk does not match sRGB",
};

QString noticeEnd(const char *message)
{
    return tr(": notice from the decoder (harmless): %1").arg(QLatin1String(message));
}

} // namespace

QString warningText(const QString &name, const QString &message, int count)
{
    if (count == 0)
        return QString();
    for (const char *harmless : kHarmlessMessages) {
        if (count == 1 && (message == QLatin1String(harmless)
                           || message == QLatin1String(kLibpngWarning) + QLatin1String(harmless)))
            return QDir::toNativeSeparators(name) + noticeEnd(harmless);
    }
    const QString more = count > 1 ? tr(" (and %1 more messages)").arg(count - 1) : QString();
    return tr("%1: the picture is damaged or unusual; the decoder says: %2%3")
        .arg(QDir::toNativeSeparators(name), message, more);
}

bool isNotice(const QString &warning)
{
    for (const char *harmless : kHarmlessMessages) {
        if (warning.endsWith(noticeEnd(harmless)))
            return true;
    }
    return false;
}

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
        return chosen.startsWith(QLatin1Char('/')) ? chosen : QString();
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
