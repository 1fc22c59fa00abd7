#include "decodermessages.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<DecoderMessages *> active{nullptr};

} // namespace

DecoderMessages::DecoderMessages()
    : previous(qInstallMessageHandler(collect)), outer(active.load()), thread(std::this_thread::get_id())
{
    active.store(this);
}

DecoderMessages::~DecoderMessages()
{
    active.store(outer);
    qInstallMessageHandler(previous);
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
    if (self->collected++ == 0)
        self->firstMessage = message.trimmed();
}
