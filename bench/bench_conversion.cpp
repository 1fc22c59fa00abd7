#include "ataripic.h"
#include "pictureloader.h"

#include <QBuffer>
#include <QDataStream>
#include <QElapsedTimer>
#include <QTextStream>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Median wall time of runs calls of work, in milliseconds.
template <typename Work>
double medianMs(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The nearest colour byte as a scan of all 256 generated entries finds it.
unsigned char literalNearest(const ATARIpalGen &pal, quint32 p)
{
    quint32 best = 0xFFFFFFFFu;
    int bestIndex = 0;
    for (int i = 0; i < 256; ++i) {
        const quint32 d = pal.distance(p, pal.getRGB(static_cast<unsigned char>(i)));
        if (d < best) {
            best = d;
            bestIndex = i;
        }
    }
    return static_cast<unsigned char>((bestIndex & 0xF0) | ATARIpalGen::luma(p) >> 4);
}

} // namespace

// Times the work behind one slider move, one load and one export of each kind.
class BenchConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void load();
    void sliderMove();
    void nearestColour();
    void repaintReads();
    void saveAsm();
    void saveXex();

private:
    std::unique_ptr<ATARIpic> pic;
    std::vector<quint32> pixels;
};

void BenchConversion::initTestCase()
{
    pixels.resize(Geometry::kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), pixels.data(), &error),
             qPrintable(error));
    pic = std::make_unique<ATARIpic>();
    pic->copy(pixels.data());
}

void BenchConversion::load()
{
    QString error;
    QBENCHMARK {
        PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), pixels.data(), &error);
        pic->copy(pixels.data());
    }
}

void BenchConversion::sliderMove()
{
    int value = 0;
    QBENCHMARK {
        pic->newSaturation(value);
        pic->letsGo();
        value = (value + 5) % 105;
    }
}

// One table: the literal search over the photo's averaged pixels, a conversion, and a slider step
// (new saturation, conversion, the reads of one repaint), with the search's time over each.
void BenchConversion::nearestColour()
{
    constexpr int kRuns = 31;
    pic->newSaturation(60);
    pic->letsGo();
    const std::vector<quint32> averaged(pic->averaged(), pic->averaged() + Geometry::kAtariPixels);
    const ATARIpalGen &pal = pic->palette();

    quint32 sum = 0;
    const double literal = medianMs(kRuns, [&] {
        for (quint32 p : averaged)
            sum += literalNearest(pal, p);
    });
    const double convert = medianMs(kRuns, [&] { pic->letsGo(); });
    int value = 0;
    const double step = medianMs(kRuns, [&] {
        pic->newSaturation(value);
        pic->letsGo();
        for (quint16 y = 0; y < pic->height; ++y)
            for (quint16 x = 0; x < pic->width; ++x)
                sum += pic->getPixel(x, y, 3);
        value = (value + 7) % 101;
    });

    std::printf("literal 256-entry search, %d pixels: %8.3f ms\n", Geometry::kAtariPixels, literal);
    std::printf("letsGo:                               %8.3f ms  (literal / letsGo = %.1f)\n", convert,
                literal / convert);
    std::printf("slider step (saturation, letsGo, reads): %5.3f ms  (literal / step = %.1f)\n", step,
                literal / step);
    QVERIFY(sum != 1); // keeps the loops from being optimised away
}

void BenchConversion::repaintReads()
{
    quint32 sum = 0;
    QBENCHMARK {
        for (quint16 y = 0; y < pic->height; ++y)
            for (quint16 x = 0; x < pic->width; ++x)
                sum += pic->getPixel(x, y, 3);
    }
    QVERIFY(sum != 1); // keeps the loop from being optimised away
}

void BenchConversion::saveAsm()
{
    QBENCHMARK {
        QByteArray text;
        QBuffer buffer(&text);
        buffer.open(QIODevice::WriteOnly);
        QTextStream out(&buffer);
        pic->saveASM(out);
    }
}

void BenchConversion::saveXex()
{
    QBENCHMARK {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QDataStream out(&buffer);
        pic->saveXEX(out);
    }
}

QTEST_GUILESS_MAIN(BenchConversion)
#include "bench_conversion.moc"
