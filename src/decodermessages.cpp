#include "decodermessages.h"

#include <QList>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

std::atomic<DecoderMessages *> active{nullptr};
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
    : hold(standardError)
    , previous(qInstallMessageHandler(collect)), outer(active.load()), thread(std::this_thread::get_id())
{
    active.store(this);
    if (outer != nullptr)
        return;
    std::fflush(stderr);
    capture = std::tmpfile();
    savedStandardError = capture != nullptr ? dup(STDERR_FILENO) : -1;
    if (savedStandardError < 0 || dup2(fileno(capture), STDERR_FILENO) < 0) {
        if (savedStandardError >= 0)
            close(savedStandardError);
        savedStandardError = -1;
        return;
    }
    sendSanitizerReportsTo(savedStandardError);
}

DecoderMessages::~DecoderMessages()
{
    finish();
}

void DecoderMessages::finish()
{
    if (!collecting)
        return;
    collecting = false;
    active.store(outer);
    qInstallMessageHandler(previous);
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
    hold.unlock();
}

void DecoderMessages::add(const QString &message)
{
    if (collected++ == 0)
        firstMessage = message.trimmed();
}

void DecoderMessages::collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    DecoderMessages *self = active.load();
    if (self == nullptr || type == QtFatalMsg || std::this_thread::get_id() != self->thread) {
        if (self != nullptr && self->previous != nullptr)
            self->previous(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(message));
        return;
    }
    self->add(message);
}
