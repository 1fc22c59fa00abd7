#include "conversionqueue.h"

#include "ataripic.h"
#include "atarigeometry.h"
#include "pictureconversion.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <utility>

// What a finished piece of work hands back.
struct ConversionQueue::Outcome
{
    QString fileName; // the picture read, or empty for a conversion alone
    bool reload = false; // fileName is the shown picture's, read again for another fit
    QString error;    // why it could not be read; empty on success
    std::shared_ptr<const std::vector<quint32>> source;
    ConversionSettings applied;
};

ConversionQueue::ConversionQueue(const ConversionSettings &settings, int threads, QObject *parent)
    : QObject(parent)
    , pic(std::make_unique<ATARIpic>())
    , spare(std::make_unique<ATARIpic>())
    , worker(new QThreadPool(this))
    , reader([](const QString &fileName, const ConversionSettings &settings, quint32 *pixels, QString *error) {
        return PictureConversion::read(fileName, settings, pixels, error);
    })
    , wanted(settings)
{
    worker->setMaxThreadCount(1);
    pic->setThreads(threads);
    spare->setThreads(threads);
    // The chart is quick to draw: the first one is drawn here.
    PictureConversion::convert(*pic, shownHas, nullptr, wanted);
    shownHas = wanted;
}

ConversionQueue::~ConversionQueue()
{
    // A running piece of work writes into spare; let it finish first.
    worker->waitForDone();
}

void ConversionQueue::setPictureReader(PictureReader pictureReader)
{
    reader = [pictureReader](const QString &fileName, const ConversionSettings &, quint32 *pixels, QString *error) {
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
    ATARIpic *store = spare.get();
    const ConversionSettings from = spareHas;
    Outcome outcome;
    outcome.reload = loading.isEmpty() && source != nullptr && wanted.fit != sourceFit;
    outcome.fileName = outcome.reload ? loadedFile : loading;
    outcome.source = source;
    outcome.applied = wanted;
    const FittingReader read = reader;
    worker->start([this, store, from, outcome, read]() mutable {
        if (!outcome.fileName.isEmpty()) {
            auto pixels = std::make_shared<std::vector<quint32>>(Geometry::kSourcePixels);
            if (read(outcome.fileName, outcome.applied, pixels->data(), &outcome.error))
                outcome.source = std::move(pixels);
            else if (outcome.error.isEmpty())
                outcome.error = tr("It cannot be read.");
        }
        if (outcome.error.isEmpty())
            PictureConversion::convert(*store, from, outcome.source ? outcome.source->data() : nullptr, outcome.applied);
        QMetaObject::invokeMethod(this, [this, outcome] { finishWork(outcome); }, Qt::QueuedConnection);
    });
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
    }
    startWork();
    if (failed)
        emit this->failed(outcome.fileName, outcome.error);
    if (!isBusy())
        emit idle();
}
