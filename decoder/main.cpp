// rastrel-zo9-decoder: decodes pictures for the loader, one at a time, in a process that does
// nothing else and that the kernel limits: at most kMemoryAllowance of memory beside its own
// start-up size, kCpuSeconds of processor time per picture, no core dumps. It reads the pictures
// from its standard input and writes the pixels to its standard output (see DecoderProtocol); it
// opens no file and keeps no descriptor but these and the standard error stream.

#include "allocationwatch.h"
#include "decoderprotocol.h"
#include "photoformats.h"
#include "picturedecoder.h"
#include "qtcompat.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace DecoderProtocol;

namespace {

// Memory one picture may take beside the worker's own start-up size (Qt and the image readers).
constexpr quint64 kMemoryAllowance = quint64(1) << 30;
// Processor time one picture may take. A 200-megapixel progressive JPEG decodes in a few seconds.
constexpr quint32 kCpuSeconds = 8;
// How long the worker may use no processor time at all while it owes the loader an answer (it was
// stopped, or waits for something that will not come) before the loader ends it.
constexpr quint32 kIdleSeconds = 10;

constexpr int kInput = STDIN_FILENO;
constexpr int kOutput = STDOUT_FILENO;

// Closes every descriptor the worker inherited beside its standard streams.
void closeInheritedDescriptors()
{
#if defined(SYS_close_range)
    if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0)
        return;
#endif
    const long last = sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < (last > 0 ? last : 1024); ++fd)
        close(int(fd));
}

void limit(int resource, rlim_t value)
{
    rlimit current{};
    getrlimit(resource, &current);
    const rlim_t wanted = current.rlim_max == RLIM_INFINITY ? value : std::min(value, current.rlim_max);
    const rlimit next{wanted, current.rlim_max};
    setrlimit(resource, &next);
}

// The size of the worker's address space, in bytes.
quint64 addressSpace()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                return line.mid(7).trimmed().split(' ').first().toULongLong() * 1024;
        }
    }
    return 0;
}

// Loads the readers of the photo formats now, so that they count as the worker's own size.
void loadReaders()
{
    for (const QByteArray &format : QImageReader::supportedImageFormats()) {
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        QImageReader reader(&empty, format);
        reader.canRead();
    }
}

// Limits the address space to its present size plus kMemoryAllowance (less where the inherited
// limit is lower). Returns the allowance in bytes, 0 when memory is not limited (in builds
// with AddressSanitizer, which reserves terabytes of address space up front).
quint64 limitMemory()
{
    if (!AllocationWatch::available())
        return 0;
    const quint64 base = addressSpace();
    if (base == 0)
        return 0;
    rlimit current{};
    getrlimit(RLIMIT_AS, &current);
    quint64 allowed = base + kMemoryAllowance;
    if (current.rlim_cur != RLIM_INFINITY && current.rlim_cur < allowed)
        allowed = current.rlim_cur;
    limit(RLIMIT_AS, allowed);
    return allowed > base ? allowed - base : 0;
}

// Lets the picture about to be decoded take seconds of processor time from now: past it the kernel
// ends the worker with SIGXCPU.
void limitTime(quint32 seconds)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double used = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
                        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    rlimit current{};
    getrlimit(RLIMIT_CPU, &current);
    const rlim_t soft = rlim_t(std::ceil(used)) + seconds;
    const rlimit next{current.rlim_max == RLIM_INFINITY ? soft : std::min(soft, current.rlim_max), current.rlim_max};
    setrlimit(RLIMIT_CPU, &next);
}

// What the toolkit says outside the reading of a picture (which collects it for the reply), with
// the worker's name in front and control characters escaped: nothing reaches the standard error
// stream that the user's terminal shows without a name.
void logMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const QByteArray line = "rastrel-zo9-decoder: " + PictureDecoder::escaped(message).toLocal8Bit() + '\n';
    (void)!write(STDERR_FILENO, line.constData(), size_t(line.size()));
}

// A decoder that crashes after an allocation failed has run out of memory, whatever it then did.
void crashed(int signal)
{
    if (AllocationWatch::failed())
        _exit(kExitOutOfMemory);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void catchCrashes()
{
    if (!AllocationWatch::available())
        return;
    for (int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGILL, SIGFPE}) {
        struct sigaction action = {};
        action.sa_handler = crashed;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(signal, &action, nullptr);
    }
}

bool readAll(void *data, size_t size)
{
    auto *bytes = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t got = read(kInput, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= size_t(got);
    }
    return true;
}

bool writeAll(const void *data, size_t size)
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t put = write(kOutput, bytes, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes += put;
        size -= size_t(put);
    }
    return true;
}

#if defined(RASTREL_DECODER_FAULTS)
// The test build's worker misbehaves on purpose for a file that starts with "RASTREL-FAULT "
// followed by crash, hang, sleep, busy, descriptors, quit or memory.
void misbehave(const QByteArray &file)
{
    if (!file.startsWith("RASTREL-FAULT "))
        return;
    const QByteArray fault = file.mid(14).trimmed();
    if (fault == "crash") {
        std::abort();
    } else if (fault == "hang") {
        for (volatile quint64 spin = 0;; spin = spin + 1) {
        }
    } else if (fault == "sleep") {
        // Waits, using no processor time, until it is ended.
        for (;;)
            pause();
    } else if (fault == "busy") {
        // Takes 0.6 s of processor time, then decodes the file (which is no picture).
        const std::clock_t start = std::clock();
        while (std::clock() - start < CLOCKS_PER_SEC * 6 / 10) {
        }
    } else if (fault == "descriptors") {
        // Fails when it holds a descriptor of /dev/null (as the test's loader holds one), else
        // decodes the file.
        for (int fd = 3; fd < 1024; ++fd) {
            char link[64];
            char target[64] = {};
            std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            if (readlink(link, target, sizeof target - 1) > 0 && std::strcmp(target, "/dev/null") == 0)
                std::abort();
        }
    } else if (fault == "quit") {
        // Ends as if out of memory where it could not reply.
        _exit(kExitOutOfMemory);
    } else if (fault == "memory") {
        // Address space, as the limit counts it; a byte of each block is written so that none is
        // left out as unused.
        constexpr size_t kStep = size_t(64) << 20;
        for (;;) {
            auto *block = static_cast<volatile char *>(std::malloc(kStep));
            if (block == nullptr)
                break;
            block[0] = 1;
        }
    }
}

quint32 seconds(const char *variable, quint32 otherwise)
{
    bool ok = false;
    const quint32 value = qEnvironmentVariable(variable).toUInt(&ok);
    return ok && value > 0 ? value : otherwise;
}

// RASTREL_DECODER_SECONDS sets the test build's time limit, RASTREL_DECODER_IDLE_SECONDS how long
// it may stay idle.
quint32 cpuSeconds()
{
    return seconds("RASTREL_DECODER_SECONDS", kCpuSeconds);
}

quint32 idleSeconds()
{
    return seconds("RASTREL_DECODER_IDLE_SECONDS", kIdleSeconds);
}
#else
void misbehave(const QByteArray &)
{
}

quint32 cpuSeconds()
{
    return kCpuSeconds;
}

quint32 idleSeconds()
{
    return kIdleSeconds;
}
#endif

// Reads requests and answers them until the input ends. Returns the exit status.
int serve(const Hello &hello)
{
    for (;;) {
        Request request;
        if (!readAll(&request, sizeof request))
            return 0;
        if (request.magic != kRequestMagic || request.length > quint64(std::numeric_limits<int>::max()))
            return 2;
        QByteArray file;
        try {
            file.resize(int(request.length));
        } catch (const std::bad_alloc &) {
            return kExitOutOfMemory;
        }
        if (!readAll(file.data(), size_t(file.size())))
            return 0;
        limitTime(hello.cpuSeconds);
        misbehave(file);
        PictureDecoder::Result result = PictureDecoder::decode(file, Fit(request.fit), AllocationWatch::failed);
        file = QByteArray();
        // Whatever the decoder made of it, a picture during which an allocation failed needed more
        // memory than the worker may take.
        if (AllocationWatch::failed())
            result.status = Status::OutOfMemory;

        const QByteArray error = result.error.toUtf8();
        const QByteArray message = result.firstMessage.toUtf8();
        Reply reply;
        reply.status = quint32(result.status);
        reply.errorBytes = quint32(error.size());
        reply.messageBytes = quint32(message.size());
        reply.messageCount = quint32(result.messageCount);
        if (!writeAll(&reply, sizeof reply) || !writeAll(error.constData(), size_t(error.size()))
            || !writeAll(message.constData(), size_t(message.size())))
            return 0;
        if (result.status == Status::Decoded && !writeAll(result.pixels.data(), size_t(kPixelBytes)))
            return 0;
        if (result.status == Status::OutOfMemory)
            return kExitOutOfMemory;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    closeInheritedDescriptors();
    limit(RLIMIT_CORE, 0);
    catchCrashes();
    qInstallMessageHandler(logMessage);
    QCoreApplication app(argc, argv);
    QtCompat::liftReaderAllocationLimit();
    if (isatty(kInput) || isatty(kOutput)) {
        std::fputs("rastrel-zo9-decoder is started by rastrel-zo9 and rastrel-zo9-cli to read pictures; "
                   "it is not meant to be run by hand.\n",
                   stderr);
        return 2;
    }
    // Memory freed after one picture stays for the next, up to 64 MiB, instead of going back to the
    // system after every picture; blocks of 32 MiB and more (the images of large photos) go back at once.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    loadReaders();
    Hello hello;
    hello.cpuSeconds = cpuSeconds();
    hello.idleSeconds = idleSeconds();
    hello.memoryBytes = limitMemory();
    if (!writeAll(&hello, sizeof hello))
        return 0;
    return serve(hello);
}
