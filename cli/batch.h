#ifndef BATCH_H
#define BATCH_H

#include "converter.h"
#include "resources.h"

#include <QVector>

#include <functional>
#include <utility>

struct ConversionJob;

// Converts the pictures of a run on several threads at once and hands the results back in
// input order on the calling thread, so that what a caller prints does not depend on the
// number of threads. Every conversion has its own picture store.
//
// The results do not depend on the number of threads either where the system's limits are
// tight: no more pictures are converted at once than the limits found at the start leave room
// for, and a picture that runs short of memory, files or processes while others are converted is
// converted again once it is alone, with one thread, as a run with one thread would.
class Batch
{
public:
    // Called on the calling thread once per started picture, in input order (index 0 first).
    using Deliver = std::function<void(int index, const ConversionResult &result)>;

    // threads: how many threads convert in all, at least 1. Up to that many pictures are converted
    // at once (fewer where room is short); threads left over when there are fewer pictures are
    // shared among them.
    Batch(const QVector<ConversionJob> &jobs, const ConversionOptions &options, int threads,
          const Resources::Room &room = Resources::Room());

    // When set, stopRequested is called (on a worker thread) before each picture is started: once
    // it returns true no further picture starts; the ones already started finish and are delivered.
    void setStopCheck(std::function<bool()> stopRequested) { stop = std::move(stopRequested); }

    // How many pictures are converted at once, and with how many threads each.
    Resources::Share share() const { return shared; }

    // Converts the pictures and delivers each result; returns the number of pictures delivered
    // (all of them unless the stop flag was raised).
    int run(const Deliver &deliver);

private:
    const QVector<ConversionJob> &jobs;
    const ConversionOptions &options;
    Resources::Share shared;
    std::function<bool()> stop;
};

#endif
