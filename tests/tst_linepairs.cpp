// The helpers the exact converters share: the line pairs handed to threads, and the float limit
// their candidates are compared with.

#include "ciede2000bounds.h"
#include "linepairs.h"

#include <QtTest>

#include <atomic>
#include <cmath>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <thread>
#include <vector>

class TestLinePairs : public QObject
{
    Q_OBJECT

private slots:
    void everyPairOnce_data();
    void everyPairOnce();
    void outOfMemory_data();
    void outOfMemory();
    void rootLimitKeepsEveryBoundUpToTheLimit();
};

void TestLinePairs::everyPairOnce_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("threadsExpected"); // at most: one per pair
    QTest::newRow("all pairs, one thread") << 0 << 119 << 1 << 1;
    QTest::newRow("all pairs, two threads") << 0 << 119 << 2 << 2;
    QTest::newRow("a slice, three threads") << 37 << 52 << 3 << 3;
    QTest::newRow("more threads than pairs") << 5 << 7 << 200 << 3;
    QTest::newRow("one pair") << 119 << 119 << 4 << 1;
    QTest::newRow("no pair") << 10 << 9 << 2 << 0;
    QTest::newRow("no thread asked: the caller's") << 0 << 3 << 0 << 1;
}

// Every pair of the range is converted exactly once, none outside it, by no more threads than pairs.
void TestLinePairs::everyPairOnce()
{
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, threads);
    QFETCH(int, threadsExpected);
    std::vector<std::atomic<int>> visits(200);
    for (auto &v : visits)
        v = 0;
    std::atomic<int> calls{0};
    std::mutex idsMutex;
    std::set<std::thread::id> ids;
    forEachLinePair(first, last, threads, [&](LinePairQueue &pairs) {
        ++calls;
        {
            std::lock_guard<std::mutex> lock(idsMutex);
            ids.insert(std::this_thread::get_id());
        }
        for (int p = pairs.take(); p >= 0; p = pairs.take()) {
            ++visits[size_t(p)];
            std::this_thread::yield(); // lets the other threads take pairs too
        }
    });
    for (int p = 0; p < int(visits.size()); ++p)
        QCOMPARE(visits[size_t(p)].load(), p >= first && p <= last ? 1 : 0);
    QCOMPARE(calls.load(), threadsExpected);
    QCOMPARE(int(ids.size()), threadsExpected);
}

void TestLinePairs::outOfMemory_data()
{
    QTest::addColumn<bool>("inCaller");
    QTest::newRow("in a helper") << false;
    QTest::newRow("in the calling thread") << true;
}

// Memory running out in any thread ends the call with std::bad_alloc once every thread has ended,
// and never the program; running out in the calling thread stops the others taking further pairs.
void TestLinePairs::outOfMemory()
{
    QFETCH(bool, inCaller);
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> taken{0};
    std::atomic<bool> thrown{false};
    bool caught = false;
    try {
        forEachLinePair(0, 119, 3, [&](LinePairQueue &pairs) {
            const bool isCaller = std::this_thread::get_id() == caller;
            // When a helper is to fail, the caller leaves the first pairs to the helpers (for 10 s at most).
            QElapsedTimer waited;
            waited.start();
            while (isCaller && !inCaller && !thrown && waited.elapsed() < 10000)
                std::this_thread::yield();
            for (int p = pairs.take(); p >= 0; p = pairs.take()) {
                ++taken;
                if (isCaller == inCaller && !thrown.exchange(true))
                    throw std::bad_alloc();
                std::this_thread::yield();
            }
        });
    } catch (const std::bad_alloc &) {
        caught = true;
    }
    QVERIFY(caught);
    QVERIFY(thrown.load());
    if (!inCaller)
        QCOMPARE(taken.load(), 120); // the others converted the rest
    else
        QVERIFY(taken.load() <= 120);
}

// A candidate is passed over when its root exceeds rootLimit(best): sound only if every root whose
// bound (with the margins) is at most best lies at or below the limit, that is, the next float
// above the limit already has a bound above best. Checked against the bound computed as the
// converters compute it, over differences from 0 to far beyond any CIEDE2000 value.
void TestLinePairs::rootLimitKeepsEveryBoundUpToTheLimit()
{
    using namespace Ciede2000Bounds;
    std::mt19937 random(26);
    std::uniform_real_distribution<double> difference(0.0, 300.0);
    std::vector<double> bests{0.0, 1e-9, 0.5, 1.0, 2.0, 10.0, 100.0, 1e4};
    for (int i = 0; i < 100000; ++i)
        bests.push_back(difference(random));
    for (const double best : bests) {
        const float limit = rootLimit(best);
        const float above = std::nextafter(limit, 3.0e38f);
        if (!(floatBound(above) > best))
            QFAIL(qPrintable(QStringLiteral("best %1: root %2 above the limit has bound %3")
                                 .arg(best, 0, 'g', 17).arg(double(above), 0, 'g', 9).arg(floatBound(above), 0, 'g', 17)));
        // Not far above: the limit passes over roots whose bounds exceed best by more than rounding.
        QVERIFY(floatBound(limit) <= best + 1e-4 * (1.0 + best));
    }
}

QTEST_GUILESS_MAIN(TestLinePairs)
#include "tst_linepairs.moc"
