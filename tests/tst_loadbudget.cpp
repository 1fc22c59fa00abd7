#include "loadbudget.h"
#include "testpictures.h"

#include <QBuffer>
#include <QtTest>

using namespace TestPictures;

namespace {

constexpr qint64 kWork = qint64(16) << 20;

// jpeg with the sampling factors of its first frame's components replaced, for example 0x11 for
// all three to make a 4:4:4 picture out of Qt's 4:2:0 one.
QByteArray withSampling(QByteArray jpeg, quint8 factors)
{
    const int sof = jpeg.indexOf(QByteArray("\xFF\xC2", 2));
    for (int c = 0; c < 3; ++c)
        jpeg[sof + 10 + 3 * c + 1] = char(factors);
    return jpeg;
}

} // namespace

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
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("readerSize");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("whatPart");
    QTest::addColumn<bool>("damaged");

    const QImage small = gradient(16, 16);
    const QByteArray baseline = encode(small, "JPG");
    const QByteArray progressive = encode(small, "JPG", true);
    const QByteArray png = encode(small, "PNG");
    QImage wide(4, 4, QImage::Format_RGBA64);
    wide.fill(Qt::red);
    const QByteArray png16 = encode(wide, "PNG");
    const QByteArray bitmapIcon = encode(gradient(32, 32), "ICO"); // its entry's data starts at 22

    // A baseline JPEG needs its 32-bit image only: 16000 * 12000 * 4 bytes.
    QTest::newRow("baseline JPEG 16000x12000") << withJpegSize(baseline, 16000, 12000) << QByteArray("jpeg") << QSize()
                                               << QSize(16000, 12000) << 768'000'000 + kWork << "JPEG" << false;
    // 4:2:0: luminance 2500 x 1250 blocks, each chrominance 1250 x 625; 128 bytes per block.
    QTest::newRow("progressive JPEG 20000x10000, 4:2:0")
        << withJpegSize(progressive, 20000, 10000) << QByteArray("jpeg") << QSize() << QSize(20000, 10000)
        << 800'000'000 + (3'125'000 + 2 * 781'250) * 128 + kWork << "progressive" << false;
    // 4:4:4: three components of 125 x 125 blocks.
    QTest::newRow("progressive JPEG 1000x1000, 4:4:4")
        << withSampling(withJpegSize(progressive, 1000, 1000), 0x11) << QByteArray("jpeg") << QSize()
        << QSize(1000, 1000) << 4'000'000 + 3 * 15'625 * 128 + kWork << "progressive" << false;
    // Odd sizes round up to whole blocks, then to the sampling factor: luminance 126 x 126 blocks
    // (125.1 across, 124.9 down, both to even), chrominance 63 x 63 each.
    QTest::newRow("progressive JPEG 1001x999, 4:2:0")
        << withJpegSize(progressive, 1001, 999) << QByteArray("jpeg") << QSize() << QSize(1001, 999)
        << 1001 * 999 * 4 + (126 * 126 + 2 * 63 * 63) * 128 + kWork << "progressive" << false;
    // A row pointer of 8 bytes per row besides the pixels; 16-bit channels take 8 bytes a pixel.
    QTest::newRow("PNG 100x50") << withPngSize(png, 100, 50) << QByteArray("png") << QSize() << QSize(100, 50)
                                << qint64(100 * 50 * 4 + 50 * 8) + kWork << "PNG" << false;
    QTest::newRow("16-bit PNG 10000x5000") << withPngSize(png16, 10000, 5000) << QByteArray("png") << QSize()
                                           << QSize(10000, 5000) << 400'000'000 + 5000 * 8 + kWork << "PNG" << false;
    // The frame is drawn into the logical screen, which is what gets allocated.
    QTest::newRow("GIF screen 16383x16383 around a 1x1 frame")
        << gif(16383, 16383, 1, 1, {qRgb(0, 0, 0)}, QByteArray(1, '\0')) << QByteArray("gif") << QSize(16383, 16383)
        << QSize(16383, 16383) << qint64(16383) * 16383 * 4 + kWork << "logical screen" << false;
    QTest::newRow("GIF frame reaching past its screen")
        << gif(10, 10, 100, 50, {qRgb(0, 0, 0)}, QByteArray(5000, '\0')) << QByteArray("gif") << QSize(10, 10)
        << QSize(100, 50) << 100 * 50 * 4 + kWork << "frame" << false;
    // The directory's 32 x 32 is what QImageReader reports; the PNG decodes at its own size.
    QTest::newRow("icon entry of 32x32 holding a 20001x10000 PNG")
        << icon(32, 32, withPngSize(png, 20001, 10000)) << QByteArray("ico") << QSize(32, 32) << QSize(20001, 10000)
        << qint64(20001) * 10000 * 4 + 10000 * 8 + png.size() + kWork << "PNG inside the icon" << false;
    // The decoder reads the entry into a buffer of the size the directory gives.
    QByteArray longEntry = icon(32, 32, png);
    longEntry.replace(14, 4, QByteArray::fromHex("00000080"));
    QTest::newRow("icon PNG entry claiming 2 GiB of data")
        << longEntry << QByteArray("ico") << QSize(32, 32) << QSize(16, 16)
        << qint64(16 * 16 * 4 + 16 * 8) + 0x80000000LL + kWork << "PNG inside the icon" << false;
    QTest::newRow("icon entry of 32x32 holding a bitmap")
        << bitmapIcon << QByteArray("ico") << QSize(32, 32) << QSize(32, 32)
        << 32 * 32 * 8 + (bitmapIcon.size() - 22) + kWork << "icon" << false;
    // 64 x 3 bytes a row, already a multiple of 4.
    QTest::newRow("complete 24-bit BMP") << bmp(64, 2, 24, {}, QByteArray(2 * 192, '\x40')) << QByteArray("bmp")
                                         << QSize(64, 2) << QSize(64, 2) << 64 * 2 * 4 + kWork << "bitmap" << false;
    QTest::newRow("BMP one row short") << bmp(64, 2, 24, {}, QByteArray(192, '\x40')) << QByteArray("bmp")
                                       << QSize(64, 2) << QSize(64, 2) << 64 * 2 * 4 + kWork << "bitmap" << true;
    // 5 pixels of 4 bits: 20 bits, padded to 4 bytes a row.
    QTest::newRow("complete 4-bit BMP") << bmp(5, 3, 4, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, QByteArray(12, '\x01'))
                                        << QByteArray("bmp") << QSize(5, 3) << QSize(5, 3) << 5 * 3 * 4 + kWork
                                        << "bitmap" << false;
    QTest::newRow("4-bit BMP a byte short")
        << bmp(5, 3, 4, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, QByteArray(11, '\x01')) << QByteArray("bmp")
        << QSize(5, 3) << QSize(5, 3) << 5 * 3 * 4 + kWork << "bitmap" << true;
    // Run-length rows of 4 pixels: a run of 4, end of line; then end of picture.
    const QByteArray rows = QByteArray::fromHex("04010000040100000401000004010000");
    QTest::newRow("run-length BMP setting every pixel")
        << bmp(4, 4, 8, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, rows + QByteArray::fromHex("0001"), 1)
        << QByteArray("bmp") << QSize(4, 4) << QSize(4, 4) << 4 * 4 * 4 + kWork << "bitmap" << false;
    QTest::newRow("run-length BMP ending after two rows")
        << bmp(4, 4, 8, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, rows.left(8) + QByteArray::fromHex("0001"), 1)
        << QByteArray("bmp") << QSize(4, 4) << QSize(4, 4) << 4 * 4 * 4 + kWork << "bitmap" << true;
    QTest::newRow("run-length BMP skipping pixels by a delta")
        << bmp(4, 4, 8, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, QByteArray::fromHex("04010000000200020401000000" "01"), 1)
        << QByteArray("bmp") << QSize(4, 4) << QSize(4, 4) << 4 * 4 * 4 + kWork << "bitmap" << true;
    // Formats read through QImageReader::size() alone: 4 bytes a pixel where that size is what
    // the decoder allocates, 8 for formats not known here.
    QTest::newRow("PPM from the reader's size") << encode(gradient(4, 4), "PPM") << QByteArray("ppm") << QSize(100, 100)
                                                << QSize(100, 100) << 100 * 100 * 4 + kWork << "picture" << false;
    QTest::newRow("unknown format from the reader's size")
        << QByteArray("something else") << QByteArray("tiff") << QSize(100, 100) << QSize(100, 100)
        << 100 * 100 * 8 + kWork << "picture" << false;
}

void TestLoadBudget::estimates()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, format);
    QFETCH(QSize, readerSize);
    QFETCH(QSize, size);
    QFETCH(qint64, bytes);
    QFETCH(QString, whatPart);
    QFETCH(bool, damaged);

    QBuffer device(&file);
    QVERIFY(device.open(QIODevice::ReadOnly));
    const LoadBudget::Estimate estimate = LoadBudget::estimate(device, format, readerSize);
    QCOMPARE(estimate.size, size);
    QCOMPARE(estimate.bytes, bytes);
    QVERIFY2(estimate.what.contains(whatPart), qPrintable(estimate.what));
    QCOMPARE(!estimate.damage.isEmpty(), damaged);
}

void TestLoadBudget::leavesDeviceAtStart()
{
    QByteArray file = encode(gradient(8, 8), "JPG", true);
    QBuffer device(&file);
    QVERIFY(device.open(QIODevice::ReadOnly));
    LoadBudget::estimate(device, "jpeg", QSize());
    QCOMPARE(device.pos(), qint64(0));
}

QTEST_GUILESS_MAIN(TestLoadBudget)
#include "tst_loadbudget.moc"
