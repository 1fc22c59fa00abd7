#include "ataripic.h"
#include "picturefiles.h"

#include <QBuffer>
#include <QDataStream>
#include <QTextStream>
#include <QtTest>

#include <memory>
#include <vector>

// Times the work behind one slider move, one load and one export of each kind.
class BenchConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void load();
    void sliderMove();
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
    QVERIFY2(PictureFiles::load(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), pixels.data(), &error),
             qPrintable(error));
    pic = std::make_unique<ATARIpic>();
    pic->copy(pixels.data());
}

void BenchConversion::load()
{
    QString error;
    QBENCHMARK {
        PictureFiles::load(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), pixels.data(), &error);
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
