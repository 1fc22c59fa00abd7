#ifndef LINEPAIRS_H
#define LINEPAIRS_H

#include <atomic>
#include <functional>

// The line pairs of a conversion, handed out one at a time to the threads that convert them.
class LinePairQueue
{
public:
    LinePairQueue(int firstPair, int lastPair) : next_(firstPair), last_(lastPair) {}
    // The next line pair no thread has taken yet, or -1 when none is left.
    int take()
    {
        const int pair = next_++;
        return pair <= last_ ? pair : -1;
    }
    // No thread takes a further pair.
    void stop() { next_ = last_ + 1; }

private:
    std::atomic<int> next_;
    const int last_;
};

// Converts the line pairs firstPair to lastPair (each independent of the others): work runs on the
// calling thread and on threads - 1 helpers it starts, at most one thread per line pair in all, each
// call taking pairs from the queue until none is left (a thread keeps its scratch space from pair to
// pair within its call). When no further thread can be started, those running share the pairs. Each
// pair's result must depend only on the pair, so that it does not depend on which thread converts it.
// Running out of memory ends no program: a helper that meets std::bad_alloc stops (the others share
// the pairs), and once every helper has ended the call throws std::bad_alloc; when the calling thread
// meets it, no thread takes a further pair and the call rethrows it once the helpers have ended.
void forEachLinePair(int firstPair, int lastPair, int threads, const std::function<void(LinePairQueue &)> &work);

#endif
