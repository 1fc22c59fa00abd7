#ifndef CONVERSIONQUEUE_H
#define CONVERSIONQUEUE_H

#include "conversionsettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class ATARIpic;

// Reads a picture: fills 76800 pixels (320x240, row by row) or returns false with a reason in
// *error. Called on the queue's worker thread.
using PictureReader = std::function<bool(const QString &fileName, quint32 *pixels, QString *error)>;

// Loads and converts pictures on a worker thread, one piece of work at a time, into a second
// picture store that takes the place of the shown one only once the work is complete. Settings
// asked for while the worker is busy are gathered into a single further conversion with the latest
// values. A second picture cannot be loaded while one is loading. Lives on the thread that creates
// it; its signals come there.
class ConversionQueue : public QObject
{
    Q_OBJECT

public:
    // Creates both stores (threads: threads per conversion, at least 1) and draws the start chart
    // with settings into the shown store before returning.
    ConversionQueue(const ConversionSettings &settings, int threads, QObject *parent = nullptr);
    // Does not wait for a running piece of work: it goes on alone, holding what it uses, and its
    // report is dropped (see abandonedWork).
    ~ConversionQueue() override;

    // How many pieces of work of any queue are running (those of deleted queues included). A program
    // ending with some running ends at once (std::_Exit) rather than wait for them.
    static int runningWork();
    // Blocks until no piece of work of any queue runs.
    static void waitForRunningWork();

    // How pictures are read; PictureConversion::read with the settings' fit until replaced (reader
    // itself ignores the fit).
    void setPictureReader(PictureReader reader);

    // Converts the picture (or redraws the chart) again with settings (PictureConversion::convert);
    // coalesced while busy. A different fit reads the shown picture's file again (it stays shown if
    // that fails).
    void setSettings(const ConversionSettings &settings);
    // The latest settings asked for.
    const ConversionSettings &settings() const { return wanted; }

    // Reads fileName on the worker and converts it with the latest settings; shown() once both are
    // done, failed() if it cannot be read (everything stays as it was). Returns false, starting
    // nothing, while another picture is loading.
    bool load(const QString &fileName);
    // The picture being read or waiting to be read; empty when none.
    QString loadingFile() const { return loading; }

    // True while a load or a conversion is running or waiting to run.
    bool isBusy() const;
    // Runs the event loop until nothing is running or waiting.
    void waitForIdle();

    // The store shown: the last finished piece of work; read only.
    const ATARIpic &picture() const { return *pic; }
    // Whether a picture has been loaded (else the store holds the chart).
    bool hasPicture() const { return source != nullptr; }
    // The file the shown picture was loaded from; empty before the first load.
    QString pictureFile() const { return loadedFile; }

signals:
    // A piece of work has started on the worker.
    void started();
    // A finished load or conversion has just become picture().
    void shown();
    // fileName, just shown, was read with a warning from its decoder (one line, the first one).
    void warned(const QString &fileName, const QString &warning);
    // fileName could not be read, for reason; nothing changed.
    void failed(const QString &fileName, const QString &reason);
    // The last piece of work has finished and nothing waits to run.
    void idle();

private:
    struct Outcome;
    struct Link;
    // Starts the next piece of work on the worker unless one is running or nothing waits.
    void startWork();
    // Takes a finished piece of work and starts the next one.
    void finishWork(const Outcome &outcome);

    std::shared_ptr<ATARIpic> pic;
    std::shared_ptr<ATARIpic> spare; // the store the worker converts into, swapped with pic when done
    std::shared_ptr<Link> link;      // how the worker reaches the queue while it exists
    using FittingReader =
        std::function<bool(const QString &, const ConversionSettings &, quint32 *, QString *, QString *)>;
    FittingReader reader;
    std::shared_ptr<const std::vector<quint32>> source; // the loaded picture, null before
    QString loadedFile;
    PictureFit sourceFit = PictureFit::Stretch; // how source was fitted
    QString loading;            // the picture being read or waiting to be read
    ConversionSettings wanted;  // the latest settings asked for
    ConversionSettings shownHas; // the settings of pic
    ConversionSettings spareHas; // the settings of spare
    bool working = false;        // a piece of work runs on the worker
    bool conversionDue = false;  // settings asked for since the running or last conversion started
};

#endif
