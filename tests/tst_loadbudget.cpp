#include "loadbudget.h"
#include "testpictures.h"

#include <QBuffer>
#include <QtTest>

using namespace TestPictures;

class TestLoadBudget : public QObject
{
    Q_OBJECT

private slots:
    void estimates_data();
    void estimates();
    void leavesDeviceAtStart();
};

void TestLoadBudget::estimates_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("whatPart");
    QTest::addColumn<bool>("damaged");

    const QImage small = gradient(16, 16);
    const QByteArray baseline = encode(small, "JPG");
    const QByteArray progressive = encode(small, "JPG", true);
    const QByteArray png = encode(small, "PNG");

    QTest::newRow("baseline JPEG 16000x12000") << withJpegSize(baseline, 16000, 12000) << QSize(16000, 12000)
                                               << "JPEG" << false;
    QTest::newRow("progressive JPEG 20000x10000")
        << withJpegSize(progressive, 20000, 10000) << QSize(20000, 10000) << "JPEG" << false;
    // Fill bytes before a marker are legal and skipped.
    QByteArray filled = withJpegSize(baseline, 1001, 999);
    filled.insert(2, QByteArray(500, '\xFF'));
    QTest::newRow("JPEG with fill bytes before its first segment") << filled << QSize(1001, 999) << "JPEG" << false;
    QTest::newRow("PNG 100x50") << withPngSize(png, 100, 50) << QSize(100, 50) << "PNG" << false;
    // The frame is drawn into the logical screen, which is what gets allocated.
    QTest::newRow("GIF screen 16383x16383 around a 1x1 frame")
        << gif(16383, 16383, 1, 1, {qRgb(0, 0, 0)}, QByteArray(1, '\0')) << QSize(16383, 16383) << "logical screen"
        << false;
    QTest::newRow("GIF frame reaching past its screen")
        << gif(10, 10, 100, 50, {qRgb(0, 0, 0)}, QByteArray(5000, '\0')) << QSize(100, 50) << "frame" << false;
    // A screen of no size takes the size of its first frame.
    QTest::newRow("GIF screen of 0x0 around a 300x200 frame")
        << gif(0, 0, 300, 200, {qRgb(0, 0, 0)}, QByteArray(60000, '\0')) << QSize(300, 200) << "frame" << false;
    // 64 x 3 bytes a row, already a multiple of 4.
    QTest::newRow("complete 24-bit BMP") << bmp(64, 2, 24, {}, QByteArray(2 * 192, '\x40')) << QSize(64, 2)
                                         << "bitmap" << false;
    QTest::newRow("BMP one row short") << bmp(64, 2, 24, {}, QByteArray(192, '\x40')) << QSize(64, 2) << "bitmap"
                                       << true;
    // 5 pixels of 4 bits: 20 bits, padded to 4 bytes a row.
    QTest::newRow("complete 4-bit BMP") << bmp(5, 3, 4, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, QByteArray(12, '\x01'))
                                        << QSize(5, 3) << "bitmap" << false;
    QTest::newRow("4-bit BMP a byte short")
        << bmp(5, 3, 4, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, QByteArray(11, '\x01')) << QSize(5, 3) << "bitmap"
        << true;
    // Run-length rows of 4 pixels: a run of 4, end of line; then end of picture.
    const QByteArray rows = QByteArray::fromHex("04010000040100000401000004010000");
    QTest::newRow("run-length BMP setting every pixel")
        << bmp(4, 4, 8, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, rows + QByteArray::fromHex("0001"), 1) << QSize(4, 4)
        << "bitmap" << false;
    QTest::newRow("run-length BMP ending after two rows")
        << bmp(4, 4, 8, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, rows.left(8) + QByteArray::fromHex("0001"), 1)
        << QSize(4, 4) << "bitmap" << true;
    QTest::newRow("run-length BMP skipping pixels by a delta")
        << bmp(4, 4, 8, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, QByteArray::fromHex("04010000000200020401000000" "01"), 1)
        << QSize(4, 4) << "bitmap" << true;
    // Other content: nothing is known.
    QTest::newRow("PPM") << encode(gradient(4, 4), "PPM") << QSize() << "" << false;
}

void TestLoadBudget::estimates()
{
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);
    QFETCH(QString, whatPart);
    QFETCH(bool, damaged);

    QBuffer device(&file);
    QVERIFY(device.open(QIODevice::ReadOnly));
    const LoadBudget::Estimate estimate = LoadBudget::estimate(device);
    QCOMPARE(estimate.size, size);
    QVERIFY2(estimate.what.contains(whatPart), qPrintable(estimate.what));
    QCOMPARE(!estimate.damage.isEmpty(), damaged);
}

void TestLoadBudget::leavesDeviceAtStart()
{
    QByteArray file = encode(gradient(8, 8), "JPG", true);
    QBuffer device(&file);
    QVERIFY(device.open(QIODevice::ReadOnly));
    LoadBudget::estimate(device);
    QCOMPARE(device.pos(), qint64(0));
}

QTEST_GUILESS_MAIN(TestLoadBudget)
#include "tst_loadbudget.moc"
