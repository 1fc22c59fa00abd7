#include "conversionqueue.h"

#include "ataripic.h"
#include "decoderprocess.h"
#include "atarigeometry.h"
#include "pictureconversion.h"

#include <QCoreApplication>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

// What a finished piece of work hands back.
struct ConversionQueue::Outcome
{
    QString fileName; // the picture read, or empty for a conversion alone
    bool reload = false; // fileName is the shown picture's, read again for another fit
    QString error;    // why it could not be read; empty on success
    QString warning;  // what the decoder said while reading it anyway
    std::shared_ptr<const std::vector<quint32>> source;
    ConversionSettings applied;
};

// The worker's way back: cleared when the queue goes, so that a piece of work finishing after it
// reports to nobody.
struct ConversionQueue::Link
{
    std::mutex mutex;
    ConversionQueue *queue = nullptr;
};

namespace {

// The running pieces of work of all queues. Never freed: a piece of work may still end while the
// program's statics are destroyed.
struct RunningWork
{
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

RunningWork &runningWorkState()
{
    static RunningWork *const state = new RunningWork;
    return *state;
}

} // namespace

int ConversionQueue::runningWork()
{
    RunningWork &state = runningWorkState();
    const std::lock_guard<std::mutex> lock(state.mutex);
    return state.count;
}

void ConversionQueue::waitForRunningWork()
{
    RunningWork &state = runningWorkState();
    std::unique_lock<std::mutex> lock(state.mutex);
    state.ended.wait(lock, [&state] { return state.count == 0; });
}

ConversionQueue::ConversionQueue(const ConversionSettings &settings, int threads, QObject *parent)
    : QObject(parent)
    , pic(std::make_shared<ATARIpic>())
    , spare(std::make_shared<ATARIpic>())
    , link(std::make_shared<Link>())
    , reader([](const QString &fileName, const ConversionSettings &settings, quint32 *pixels, QString *error,
                QString *warning) { return PictureConversion::read(fileName, settings, pixels, error, warning); })
    , wanted(settings)
{
    link->queue = this;
    pic->setThreads(threads);
    spare->setThreads(threads);
    // The chart is quick to draw: the first one is drawn here.
    PictureConversion::convert(*pic, shownHas, nullptr, wanted);
    shownHas = wanted;
}

ConversionQueue::~ConversionQueue()
{
    // A running piece of work holds its own store (spare) and reader; it finishes alone. Reports
    // it posted before this are removed with the QObject.
    const std::lock_guard<std::mutex> lock(link->mutex);
    link->queue = nullptr;
}

void ConversionQueue::setPictureReader(PictureReader pictureReader)
{
    reader = [pictureReader](const QString &fileName, const ConversionSettings &, quint32 *pixels, QString *error,
                             QString *) {
        return pictureReader(fileName, pixels, error);
    };
}

void ConversionQueue::setSettings(const ConversionSettings &settings)
{
    wanted = settings;
    conversionDue = true;
    startWork();
}

bool ConversionQueue::load(const QString &fileName)
{
    if (!loading.isEmpty())
        return false;
    loading = fileName;
    startWork();
    return true;
}

bool ConversionQueue::isBusy() const
{
    return working || conversionDue || !loading.isEmpty();
}

void ConversionQueue::waitForIdle()
{
    while (isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ConversionQueue::startWork()
{
    if (working || (loading.isEmpty() && !conversionDue))
        return;
    working = true;
    conversionDue = false; // this piece of work converts with the latest settings

    // Everything the worker uses is copied here; the shown store and the queue's fields stay with
    // this thread.
    struct Job
    {
        std::shared_ptr<ATARIpic> store;
        ConversionSettings from;
        Outcome outcome;
        FittingReader read;
        std::shared_ptr<Link> link;
    };
    auto job = std::make_unique<Job>();
    job->store = spare;
    job->from = spareHas;
    Outcome &outcome = job->outcome;
    outcome.reload = loading.isEmpty() && source != nullptr && wanted.fit != sourceFit;
    outcome.fileName = outcome.reload ? loadedFile : loading;
    outcome.source = source;
    outcome.applied = wanted;
    job->read = reader;
    job->link = link;
    {
        RunningWork &state = runningWorkState();
        const std::lock_guard<std::mutex> lock(state.mutex);
        ++state.count;
    }
    std::thread([job = std::move(job)]() mutable {
        {
            const std::unique_ptr<Job> work = std::move(job);
            Outcome &outcome = work->outcome;
            if (!outcome.fileName.isEmpty()) {
                auto pixels = std::make_shared<std::vector<quint32>>(Geometry::kSourcePixels);
                if (work->read(outcome.fileName, outcome.applied, pixels->data(), &outcome.error, &outcome.warning))
                    outcome.source = std::move(pixels);
                else if (outcome.error.isEmpty())
                    outcome.error = tr("It cannot be read.");
            }
            if (outcome.error.isEmpty())
                PictureConversion::convert(*work->store, work->from,
                                           outcome.source ? outcome.source->data() : nullptr, outcome.applied);
            const std::lock_guard<std::mutex> lock(work->link->mutex);
            if (ConversionQueue *queue = work->link->queue)
                QMetaObject::invokeMethod(queue, [queue, outcome] { queue->finishWork(outcome); }, Qt::QueuedConnection);
        }
        // Everything the work held is gone; only now may the program end without waiting for it.
        RunningWork &state = runningWorkState();
        const std::lock_guard<std::mutex> lock(state.mutex);
        --state.count;
        state.ended.notify_all();
    }).detach();
    emit started();
}

void ConversionQueue::finishWork(const Outcome &outcome)
{
    working = false;
    const bool load = !outcome.fileName.isEmpty();
    if (load && !outcome.reload)
        loading.clear();
    const bool failed = !outcome.error.isEmpty();
    if (failed && outcome.reload) {
        // The shown picture stays as it was fitted; it is not read again for this fit.
        sourceFit = outcome.applied.fit;
    }
    if (failed) {
        // Nothing was converted. The load may have stood for a conversion asked for before it.
        if (shownHas != wanted)
            conversionDue = true;
    } else {
        std::swap(pic, spare);
        spareHas = std::move(shownHas);
        shownHas = outcome.applied;
        if (load) {
            source = outcome.source;
            loadedFile = outcome.fileName;
            sourceFit = outcome.applied.fit;
        }
        emit shown();
        if (load && !outcome.reload && !outcome.warning.isEmpty() && !DecoderProcess::isNotice(outcome.warning))
            emit warned(outcome.fileName, outcome.warning);
    }
    startWork();
    if (failed)
        emit this->failed(outcome.fileName, outcome.error);
    if (!isBusy())
        emit idle();
}
