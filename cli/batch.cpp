#include "batch.h"

#include "commandline.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

Batch::Batch(const QVector<ConversionJob> &jobs, const ConversionOptions &options, int threads)
    : jobs(jobs)
    , options(options)
    , threads(std::max(1, threads))
{
}

namespace {

// A picture whose conversion runs out of memory fails on its own, with a message; the others go on.
ConversionResult convertSafely(const ConversionJob &job, const ConversionOptions &options, int threads)
{
    try {
        return convert(job, options, threads);
    } catch (const std::bad_alloc &) {
        ConversionResult result;
        result.failures << QStringLiteral("%1: not enough memory to convert it").arg(job.input);
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
    std::condition_variable finished;
    int started = 0; // pictures are taken in input order, so the started ones are 0 .. started - 1
    int running = 0; // workers that have not finished yet

    // As many pictures at once as there are threads (or pictures); each picture's conversion gets an
    // equal share of the threads, so that no more than threads run in all.
    const int wanted = std::min(threads, count);
    const int threadsPerPicture = std::max(1, threads / std::max(1, wanted));

    // Each worker takes the next picture, converts it and marks it done, until none is left or
    // a stop is requested.
    const auto work = [&] {
        for (;;) {
            int index;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (started == count || (stop && stop())) {
                    --running;
                    finished.notify_all();
                    return;
                }
                index = started++;
            }
            ConversionResult result = convertSafely(jobs.at(index), options, threadsPerPicture);
            const std::lock_guard<std::mutex> lock(mutex);
            results[size_t(index)] = std::move(result);
            done[size_t(index)] = 1;
            finished.notify_all();
        }
    };

    // As many workers as wanted and the system allows; without any, the calling thread converts.
    std::vector<std::thread> workers;
    workers.reserve(size_t(wanted));
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
        running = 1;
        work();
    }

    int delivered = 0;
    for (;;) {
        ConversionResult result;
        {
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait(lock, [&] { return (delivered < started && done[size_t(delivered)]) || running == 0; });
            if (!(delivered < started && done[size_t(delivered)]))
                break; // every worker has stopped and everything started was delivered
            result = std::move(results[size_t(delivered)]);
        }
        deliver(delivered, result);
        ++delivered;
    }
    for (std::thread &worker : workers)
        worker.join();
    return delivered;
}
