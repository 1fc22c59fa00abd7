#include "interrupts.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

void record(int signal)
{
    if (receivedSignal == 0)
        receivedSignal = signal;
}

} // namespace

namespace Interrupts {

void install()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);

    // SA_RESTART: a write in progress finishes instead of failing with EINTR.
    struct sigaction stop = {};
    stop.sa_handler = record;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
}

int received()
{
    return receivedSignal;
}

} // namespace Interrupts
