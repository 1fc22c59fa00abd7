#include "linepairs.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

void forEachLinePair(int firstPair, int lastPair, int threads, const std::function<void(LinePairQueue &)> &work)
{
    if (lastPair < firstPair)
        return;
    LinePairQueue queue(firstPair, lastPair);
    std::atomic<bool> helperShort{false};
    const auto help = [&] {
        try {
            work(queue);
        } catch (const std::bad_alloc &) {
            helperShort = true;
        }
    };
    const int helpersWanted = std::min(threads, lastPair - firstPair + 1) - 1;
    std::vector<std::thread> helpers;
    helpers.reserve(size_t(std::max(0, helpersWanted)));
    for (int i = 0; i < helpersWanted; ++i) {
        try {
            helpers.emplace_back(help);
        } catch (const std::system_error &) {
            break; // no further thread to be had: the threads started share the pairs
        }
    }
    try {
        work(queue);
    } catch (const std::bad_alloc &) {
        queue.stop();
        for (std::thread &helper : helpers)
            helper.join();
        throw;
    }
    for (std::thread &helper : helpers)
        helper.join();
    if (helperShort)
        throw std::bad_alloc();
}
