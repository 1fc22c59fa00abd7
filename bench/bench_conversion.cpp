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

// The fastest of five rounds of `calls` calls of work, per call, in milliseconds.
template <typename Work>
double fastestMs(int calls, Work work)
{
    double fastest = 1e300;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < calls; ++i)
            work();
        fastest = std::min(fastest, timer.nsecsElapsed() / 1e6 / calls);
    }
    return fastest;
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

// Per test photo: the literal search over the photo's averaged pixels, a conversion, and a slider
// step (new saturation, conversion, the reads of one repaint), with the search's time over each.
void BenchConversion::nearestColour()
{
    constexpr int kCalls = 10;
    quint32 sum = 0;
    std::printf("%-12s %12s %10s %14s %10s %14s\n", "photo", "literal ms", "letsGo ms", "literal/letsGo",
                "step ms", "literal/step");
    for (const char *name : {"chelsea.jpg", "coffee.jpg", "rocket.jpg"}) {
        std::vector<quint32> source(Geometry::kSourcePixels);
        QString error;
        QVERIFY2(PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/") + QLatin1String(name), source.data(), &error),
                 qPrintable(error));
        auto photo = std::make_unique<ATARIpic>();
        photo->copy(source.data());
        photo->newSaturation(60);
        photo->letsGo();
        const std::vector<quint32> averaged(photo->averaged(), photo->averaged() + Geometry::kAtariPixels);
        const ATARIpalGen &pal = photo->palette();

        const double literal = fastestMs(kCalls, [&] {
            for (quint32 p : averaged)
                sum += literalNearest(pal, p);
        });
        const double convert = fastestMs(kCalls, [&] { photo->letsGo(); });
        int value = 0;
        const double step = fastestMs(kCalls, [&] {
            photo->newSaturation(value);
            photo->letsGo();
            for (quint16 y = 0; y < photo->height; ++y)
                for (quint16 x = 0; x < photo->width; ++x)
                    sum += photo->getPixel(x, y, 3);
            value = (value + 7) % 101;
        });
        std::printf("%-12s %12.3f %10.3f %14.1f %10.3f %14.1f\n", name, literal, convert, literal / convert, step,
                    literal / step);
    }
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
