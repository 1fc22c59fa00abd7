#include "decodermessages.h"

#include <QList>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// The collection of the current thread, if any.
thread_local DecoderMessages *collector = nullptr;
// The handler that was installed before the first collection; messages not collected go there.
std::atomic<QtMessageHandler> forwardTo{nullptr};
std::mutex installing;
std::recursive_mutex standardError;

// Most of the diverted standard error stream that is read back (the first line matters).
constexpr long kMaxCaptured = 64 * 1024;

// A sanitizer's report goes to the standard error stream just before the process ends; while that
// stream is diverted into a temporary file, the report goes to the real one.
void sendSanitizerReportsTo(int fd)
{
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(fd)));
#else
    Q_UNUSED(fd);
#endif
}

} // namespace

std::unique_lock<std::recursive_mutex> DecoderMessages::holdStandardError()
{
    return std::unique_lock<std::recursive_mutex>(standardError);
}

DecoderMessages::DecoderMessages()
    : outer(collector)
    , hold(standardError, std::defer_lock)
{
    // The collecting handler stays installed: restoring the previous one after every picture
    // would race with pictures read on other threads. A handler installed meanwhile by someone
    // else is the one that uncollected messages go to from now on.
    {
        const std::lock_guard<std::mutex> lock(installing);
        const QtMessageHandler current = qInstallMessageHandler(collect);
        if (current != collect)
            forwardTo.store(current);
    }
    collector = this;
}

DecoderMessages::~DecoderMessages()
{
    finish();
}

void DecoderMessages::divertStandardError()
{
    if (!collecting || savedStandardError >= 0)
        return;
    hold.lock();
    std::fflush(stderr);
    // In memory, so that reading a picture needs no folder to write to.
    const int memory = memfd_create("decoder-messages", MFD_CLOEXEC);
    capture = memory >= 0 ? fdopen(memory, "w+") : std::tmpfile();
    if (capture == nullptr && memory >= 0)
        close(memory);
    savedStandardError = capture != nullptr ? dup(STDERR_FILENO) : -1;
    if (savedStandardError < 0 || dup2(fileno(capture), STDERR_FILENO) < 0) {
        if (savedStandardError >= 0)
            close(savedStandardError);
        savedStandardError = -1;
        return;
    }
    sendSanitizerReportsTo(savedStandardError);
}

void DecoderMessages::finish()
{
    if (!collecting)
        return;
    collecting = false;
    collector = outer;
    if (savedStandardError >= 0) {
        std::fflush(stderr);
        dup2(savedStandardError, STDERR_FILENO);
        sendSanitizerReportsTo(STDERR_FILENO);
        close(savedStandardError);
        savedStandardError = -1;
        const long length = std::min(std::ftell(capture), kMaxCaptured);
        QByteArray text(int(std::max(0L, length)), '\0');
        std::rewind(capture);
        text.resize(int(std::fread(text.data(), 1, size_t(text.size()), capture)));
        for (const QByteArray &line : text.split('\n')) {
            if (!line.trimmed().isEmpty())
                add(QString::fromLocal8Bit(line));
        }
    }
    if (capture != nullptr)
        std::fclose(capture);
    capture = nullptr;
    if (hold.owns_lock())
        hold.unlock();
}

void DecoderMessages::add(const QString &message)
{
    if (collected++ == 0)
        firstMessage = message.trimmed();
    lastMessage = message.trimmed();
}

void DecoderMessages::collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (collector != nullptr && type != QtFatalMsg) {
        collector->add(message);
        return;
    }
    const auto hold = holdStandardError();
    if (const QtMessageHandler handler = forwardTo.load())
        handler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}
