#include "interrupts.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

void record(int signal)
{
    if (receivedSignal == 0)
        receivedSignal = signal;
}

constexpr int kRecorded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

} // namespace

namespace Interrupts {

void install()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);

    // No SA_RESTART: a write blocked on a pipe or FIFO fails with EINTR, and the writer then
    // sees the signal recorded instead of waiting on.
    struct sigaction stop = {};
    stop.sa_handler = record;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = 0;
    for (int signal : kRecorded)
        sigaction(signal, &stop, nullptr);
}

int received()
{
    return receivedSignal;
}

const char *name(int signal)
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGQUIT:
        return "SIGQUIT";
    case SIGPIPE:
        return "SIGPIPE";
    default:
        return "a signal";
    }
}

} // namespace Interrupts
