#include "batch.h"

#include "commandline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

Batch::Batch(const QVector<ConversionJob> &jobs, const ConversionOptions &options, int threads,
             const Resources::Room &room)
    : jobs(jobs)
    , options(options)
    , shared(Resources::share(jobs.size(), threads, room))
{
}

namespace {

// How often a waiting worker looks whether to stop.
constexpr std::chrono::milliseconds kStopPoll{50};

// A picture whose conversion runs out of memory fails on its own; the others go on. Nothing is
// allocated on the way: the message is written when the result is delivered.
ConversionResult convertSafely(const ConversionJob &job, const ConversionOptions &options, int threads)
{
    try {
        return convert(job, options, threads);
    } catch (const std::bad_alloc &) {
        ConversionResult result;
        result.outOfMemory = true;
        result.shortage = true;
        return result;
    }
}

} // namespace

int Batch::run(const Deliver &deliver)
{
    const int count = jobs.size();
    std::vector<ConversionResult> results(static_cast<size_t>(count));
    std::vector<char> done(size_t(count), 0);
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;          // pictures started for the first time: 0 .. started - 1
    int converting = 0;       // pictures being converted now
    bool alone = false;       // a picture is converted again alone: no other starts meanwhile
    std::deque<int> again;    // pictures to convert again once no other is converted
    int running = 0;          // workers that have not finished yet
    bool stopped = false;

    // Each worker takes the next picture (one to convert again first, once it would be alone),
    // converts it and marks it done, until none is left or a stop is requested.
    const auto work = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            int index = -1;
            bool byItself = false;
            while (index < 0) {
                stopped = stopped || (stop && stop());
                if (stopped)
                    break;
                if (!again.empty() && converting == 0) {
                    index = again.front();
                    again.pop_front();
                    byItself = true;
                } else if (again.empty() && !alone && started < count) {
                    index = started++;
                } else if (again.empty() && !alone && converting == 0) {
                    break; // nothing left
                } else {
                    changed.wait_for(lock, kStopPoll);
                }
            }
            if (index < 0) {
                --running;
                changed.notify_all();
                return;
            }
            ++converting;
            alone = byItself;
            lock.unlock();
            ConversionResult result = convertSafely(jobs.at(index), options, byItself ? 1 : shared.threads);
            lock.lock();
            --converting;
            alone = false;
            // Converted again where less may run now than ran with it: other pictures, or threads.
            if (result.shortage && !result.interrupted && !byItself && (shared.pictures > 1 || shared.threads > 1)) {
                again.push_back(index);
            } else {
                results[size_t(index)] = std::move(result);
                done[size_t(index)] = 1;
            }
            changed.notify_all();
        }
    };

    // As many workers as pictures at once and the system allows; without any, the calling thread
    // converts.
    std::vector<std::thread> workers;
    const int wanted = std::min(shared.pictures, count);
    workers.reserve(size_t(std::max(0, wanted)));
    for (int i = 0; i < wanted; ++i) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ++running;
        }
        try {
            workers.emplace_back(work);
        } catch (const std::system_error &) {
            const std::lock_guard<std::mutex> lock(mutex);
            --running;
            break;
        }
    }
    if (workers.empty() && count > 0) {
        shared.pictures = 1;
        running = 1;
        work();
    }

    int delivered = 0;
    for (;;) {
        ConversionResult result;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return (delivered < count && done[size_t(delivered)]) || running == 0; });
            if (delivered == started)
                break; // every worker has stopped and everything started was delivered
            if (done[size_t(delivered)])
                result = std::move(results[size_t(delivered)]);
            else
                result.interrupted = true; // stopped before it could be converted again
        }
        if (result.outOfMemory && result.failures.isEmpty())
            result.failures << QStringLiteral("%1: not enough memory to convert it").arg(jobs.at(delivered).input);
        deliver(delivered, result);
        ++delivered;
    }
    for (std::thread &worker : workers)
        worker.join();
    return delivered;
}
