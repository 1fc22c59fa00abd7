#include "atarigeometry.h"
#include "decodermessages.h"
#include "pictureloader.h"
#include "pictureexports.h"
#include "testpictures.h"

#include <QBuffer>
#include <QFile>
#include <QRect>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace Geometry;

namespace {

constexpr quint32 kUntouched = 0x12345678;

QByteArray encode(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage gradient(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, 128));
    return image;
}

// A valid JPEG whose frame header claims width x height pixels.
QByteArray jpegClaiming(int width, int height)
{
    QByteArray jpeg = encode(gradient(16, 16), "JPG");
    const int sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    Q_ASSERT(sof > 0);
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

} // namespace

class TestPictureFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void loadsRealPhoto();
    void scalesToSourceSize_data();
    void scalesToSourceSize();
    void decodesByContent();
    void loadsPartlyDamagedJpeg();
    void refusesBadFile_data();
    void refusesBadFile();
    void otherThreadsMessagesPassThrough();
    void admitsLargeCameraPhoto_data();
    void admitsLargeCameraPhoto();
    void namesSystemReason_data();
    void namesSystemReason();
    void turnsPhotoUpright_data();
    void turnsPhotoUpright();
    void padBlackensEveryBarPixel_data();
    void padBlackensEveryBarPixel();

private:
    QString write(const QString &name, const QByteArray &bytes);

    QTemporaryDir dir;
    std::vector<quint32> pixels;
};

void TestPictureFiles::init()
{
    QVERIFY(dir.isValid());
    pixels.assign(kSourcePixels, kUntouched);
}

QString TestPictureFiles::write(const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

void TestPictureFiles::loadsRealPhoto()
{
    const QString path = QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg");
    QString error;
    QVERIFY2(PictureLoader::load(path, pixels.data(), &error), qPrintable(error));

    // Nearest-pixel scaling of the 451x300 photo samples at pixel centres:
    // pixel (x, y) comes from ((2x + 1) * 451 / 640, (2y + 1) * 300 / 480).
    const QImage photo(path);
    QCOMPARE(photo.size(), QSize(451, 300));
    for (int y : {0, 100, 239}) {
        for (int x : {0, 160, 319}) {
            const QRgb expected = photo.pixel((2 * x + 1) * 451 / 640, (2 * y + 1) * 300 / 480);
            QCOMPARE(pixels[y * kSourceWidth + x], expected);
        }
    }
    for (quint32 p : pixels)
        QCOMPARE(p >> 24, 0xFFu);
}

void TestPictureFiles::scalesToSourceSize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("640x480 is halved") << QSize(640, 480);
    QTest::newRow("square is stretched") << QSize(400, 400);
    QTest::newRow("tiny is enlarged") << QSize(4, 3);
}

// The picture is 4 x 3 blocks of distinct colours; after scaling to 320x240 every block must fill
// exactly its share: 80 x 80 pixels, whatever the picture's size and proportions.
void TestPictureFiles::scalesToSourceSize()
{
    QFETCH(QSize, size);
    const QRgb colours[3][4] = {
        {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0)},
        {qRgb(0, 255, 255), qRgb(255, 0, 255), qRgb(255, 255, 255), qRgb(0, 0, 0)},
        {qRgb(128, 0, 0), qRgb(0, 128, 0), qRgb(0, 0, 128), qRgb(128, 128, 128)},
    };
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, colours[y * 3 / size.height()][x * 4 / size.width()]);
    const QString path = write(QStringLiteral("blocks.png"), encode(image, "PNG"));

    QString error;
    QVERIFY2(PictureLoader::load(path, pixels.data(), &error), qPrintable(error));
    for (int y = 0; y < kSourceHeight; ++y)
        for (int x = 0; x < kSourceWidth; ++x)
            QCOMPARE(pixels[y * kSourceWidth + x], colours[y / 80][x / 80]);
}

void TestPictureFiles::decodesByContent()
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    const QString path = write(QStringLiteral("really-a-png.jpg"), encode(image, "PNG"));
    QString error;
    QVERIFY2(PictureLoader::load(path, pixels.data(), &error), qPrintable(error));
    QCOMPARE(pixels.front(), qRgb(10, 200, 30));
    QCOMPARE(pixels.back(), qRgb(10, 200, 30));
}

void TestPictureFiles::loadsPartlyDamagedJpeg()
{
    QFile photo(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"));
    QVERIFY(photo.open(QIODevice::ReadOnly));
    const QByteArray whole = photo.readAll();
    const QString path = write(QStringLiteral("truncated.jpg"), whole.left(whole.size() / 2));

    QString error;
    QVERIFY2(PictureLoader::load(path, pixels.data(), &error), qPrintable(error));
    // The top rows come from the intact data and match the undamaged photo.
    std::vector<quint32> intact(kSourcePixels);
    QVERIFY(PictureLoader::load(photo.fileName(), intact.data(), &error));
    QVERIFY(std::equal(pixels.begin(), pixels.begin() + 10 * kSourceWidth, intact.begin()));
}

void TestPictureFiles::refusesBadFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reasonPart");

    QByteArray jpeg = encode(gradient(16, 16), "JPG");
    QByteArray damagedHeader = jpeg;
    damagedHeader.truncate(30);

    QTest::newRow("empty file") << "empty.jpg" << QByteArray() << "The file is empty.";
    QTest::newRow("not an image") << "notes.jpg" << QByteArray("these are my notes, not a photo\n") << QString();
    QTest::newRow("damaged header") << "damaged.jpg" << damagedHeader << QString();
    // Junk before a marker is a warning; the scan missing is the error that ends decoding, and the
    // reason to give.
    const int tables = jpeg.indexOf(QByteArray("\xFF\xC4", 2));
    const int scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    QTest::newRow("warning, then the error")
        << "warned.jpg" << jpeg.left(tables) + "\x12\x34" + jpeg.mid(tables, scan - tables)
        << "Unable to read image data (Invalid JPEG file structure: missing SOS marker)";
    QTest::newRow("decompression bomb") << "bomb.jpg" << jpegClaiming(65500, 65500) << "65500";
    QTest::newRow("one row past 200 megapixels")
        << "row.jpg" << jpegClaiming(20000, 10001) << "20000 x 10001 pixels; at most 200 megapixels";
    QTest::newRow("GIF screen past the limit around a tiny frame")
        << "screen.gif" << TestPictures::gif(16383, 16383, 1, 1, {qRgb(0, 0, 0)}, QByteArray(1, '\0')) << "16383";
#if !defined(__SANITIZE_ADDRESS__)
    // Under AddressSanitizer the decoder process has no memory limit.
    QTest::newRow("progressive JPEG past the memory limit")
        << "progressive.jpg"
        << TestPictures::withJpegSize(TestPictures::encode(gradient(16, 16), "JPG", true), 20000, 10000)
        << "1 GiB of memory";
#endif
    QTest::newRow("BMP ending before its last row")
        << "short.bmp" << TestPictures::bmp(64, 64, 24, {}, QByteArray(64 * 3, '\x40')) << "ends early";
}

void TestPictureFiles::refusesBadFile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reasonPart);

    const QString path = write(name, bytes);
    QString error;
    QVERIFY(!PictureLoader::load(path, pixels.data(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(reasonPart), qPrintable(error));
    QVERIFY(std::all_of(pixels.begin(), pixels.end(), [](quint32 p) { return p == kUntouched; }));
}

namespace {

std::atomic<bool> printed{false};

// Writes the message to the standard error stream, as Qt's own handler does.
void printMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::fflush(stderr);
    printed = true;
}

} // namespace

// While one thread reads a picture with the standard error stream diverted, another thread's
// message is neither taken for the decoder's nor lost in the diverted stream: it is printed once
// the stream is back.
void TestPictureFiles::otherThreadsMessagesPassThrough()
{
    printed = false;
    const QtMessageHandler previous = qInstallMessageHandler(printMessage);
    DecoderMessages messages;
    messages.divertStandardError();
    std::thread other([] { qWarning("a message from another thread"); });
    for (int i = 0; i < 20 && !printed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    QVERIFY(!printed);
    messages.finish();
    other.join();
    qInstallMessageHandler(previous);
    QVERIFY(printed);
    QCOMPARE(messages.count(), 0);
}

void TestPictureFiles::admitsLargeCameraPhoto_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("108 megapixels") << 12000 << 9000;
    QTest::newRow("exactly 200 megapixels") << 20000 << 10000;
}

// The limit refuses only what no camera makes: such headers must get past the size checks (the
// files then fail later, on the missing image data, with the decoder's own reason).
void TestPictureFiles::admitsLargeCameraPhoto()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const QString path = write(QStringLiteral("big.jpg"), jpegClaiming(width, height));
    QString error;
    PictureLoader::load(path, pixels.data(), &error);
    QVERIFY2(!error.contains(QStringLiteral("megapixels")), qPrintable(error));
    QVERIFY2(!error.contains(QStringLiteral("memory")), qPrintable(error));
}

void TestPictureFiles::namesSystemReason_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reasonPart");

    const QString notes = write(QStringLiteral("notes.jpg"), "not a picture");
    QTest::newRow("missing file") << dir.filePath(QStringLiteral("nowhere.jpg")) << "No such file";
    QTest::newRow("path through a file") << notes + QStringLiteral("/photo.jpg") << "Not a directory";
    QTest::newRow("a folder") << dir.path() << "It is a folder";
    const QString locked = write(QStringLiteral("locked.jpg"), encode(gradient(16, 16), "JPG"));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    QTest::newRow("no read permission") << locked << "Permission denied";
}

// The reason is the system's, not the reader's "File not found" or "Unsupported image format".
void TestPictureFiles::namesSystemReason()
{
    QFETCH(QString, path);
    QFETCH(QString, reasonPart);
    if (reasonPart == QLatin1String("Permission denied") && ::geteuid() == 0)
        QSKIP("The superuser reads a file whatever its permissions say.");

    QString error;
    QVERIFY(!PictureLoader::load(path, pixels.data(), &error));
    QVERIFY2(error.contains(reasonPart), qPrintable(error));
    QVERIFY(std::all_of(pixels.begin(), pixels.end(), [](quint32 p) { return p == kUntouched; }));
}

void TestPictureFiles::turnsPhotoUpright_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QVector<QRgb>>("quadrants"); // top left, top right, bottom left, bottom right

    const QRgb red = qRgb(255, 0, 0);
    const QRgb blue = qRgb(0, 0, 255);
    const QRgb green = qRgb(0, 255, 0);
    const QRgb yellow = qRgb(255, 255, 0);
    // The photo as stored: red | blue over green | yellow. The tag tells how to turn it upright.
    QTest::newRow("1: as stored") << 1 << QVector<QRgb>{red, blue, green, yellow};
    QTest::newRow("2: mirrored left to right") << 2 << QVector<QRgb>{blue, red, yellow, green};
    QTest::newRow("3: half a turn") << 3 << QVector<QRgb>{yellow, green, blue, red};
    // A quarter turn clockwise: the stored left column becomes the top row.
    QTest::newRow("6: quarter turn clockwise") << 6 << QVector<QRgb>{green, red, yellow, blue};
    // A quarter turn anticlockwise: the stored right column becomes the top row.
    QTest::newRow("8: quarter turn anticlockwise") << 8 << QVector<QRgb>{blue, yellow, red, green};
}

// A landscape JPEG with an orientation tag loads as the upright picture, scaled to 320x240.
void TestPictureFiles::turnsPhotoUpright()
{
    QFETCH(int, orientation);
    QFETCH(QVector<QRgb>, quadrants);

    const QRgb stored[2][2] = {{qRgb(255, 0, 0), qRgb(0, 0, 255)}, {qRgb(0, 255, 0), qRgb(255, 255, 0)}};
    QImage photo(96, 64, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, stored[y * 2 / photo.height()][x * 2 / photo.width()]);
    const QString path = write(QStringLiteral("tagged.jpg"),
                               TestPictures::withExifOrientation(TestPictures::encode(photo, "JPG"), orientation));

    QString error;
    QVERIFY2(PictureLoader::load(path, pixels.data(), &error), qPrintable(error));
    // Quadrant centres and points near the corners, away from the edges where JPEG blurs colours.
    const QPoint points[4][2] = {{{80, 60}, {10, 10}},
                                 {{240, 60}, {309, 10}},
                                 {{80, 180}, {10, 229}},
                                 {{240, 180}, {309, 229}}};
    for (int q = 0; q < 4; ++q) {
        for (const QPoint &point : points[q]) {
            const QRgb got = pixels[point.y() * kSourceWidth + point.x()];
            const QRgb want = quadrants[q];
            const int distance = qAbs(qRed(got) - qRed(want)) + qAbs(qGreen(got) - qGreen(want))
                                 + qAbs(qBlue(got) - qBlue(want));
            QVERIFY2(distance < 60, qPrintable(QString::asprintf("(%d, %d) is %06X, expected about %06X", point.x(),
                                                                 point.y(), got & 0xFFFFFFu, want & 0xFFFFFFu)));
        }
    }
}

void TestPictureFiles::padBlackensEveryBarPixel_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QImage>("photo"); // what each pixel of the file is, ARGB
    QTest::addColumn<QRect>("inside"); // where the photo lands, four times enlarged; the rest are bars

    // Palette pictures: index 0 is red, not black, so a bar filled with index 0 shows. 30 x 60 is
    // 1:2, enlarged 4 times to 120 x 240 between bars of 100 columns.
    QVector<QRgb> palette;
    for (int i = 0; i < 16; ++i)
        palette << qRgb(255 - i * 8, 16 + i * 14, 40 + i * 9);
    QByteArray indices;
    QImage indexed(30, 60, QImage::Format_ARGB32);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 30; ++x) {
            const int index = (x * 7 + y * 3) % 16;
            indices.append(char(index));
            indexed.setPixel(x, y, palette.at(index));
        }
    }
    const QByteArray gif89 = TestPictures::gif(30, 60, 30, 60, palette, indices);
    QByteArray gif87 = gif89;
    gif87.replace(0, 6, "GIF87a"); // the older version, which has no extensions, reads alike
    QTest::newRow("GIF89a, bars left and right") << gif89 << indexed << QRect(100, 0, 120, 240);
    QTest::newRow("GIF87a, bars left and right") << gif87 << indexed << QRect(100, 0, 120, 240);

    // 80 x 30 (8:3), enlarged 4 times to 320 x 120 between bars of 60 rows; some pixels fully
    // transparent, some half: the bars stay opaque black whatever the photo's alpha.
    QImage transparent(80, 30, QImage::Format_ARGB32);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 80; ++x)
            transparent.setPixel(x, y, qRgba(x * 3, 200 - y * 5, 90, (x + y) % 3 == 0 ? 0 : (x + y) % 3 == 1 ? 128 : 255));
    }
    QTest::newRow("PNG with transparency, bars above and below")
        << TestPictures::encode(transparent, "PNG") << transparent << QRect(0, 60, 320, 120);
}

// Fit pad: every pixel of the bars, row by row and column by column, is opaque black, whatever the
// photo's format (indices, transparency), and every pixel between them is the photo's nearest pixel.
void TestPictureFiles::padBlackensEveryBarPixel()
{
    QFETCH(QByteArray, file);
    QFETCH(QImage, photo);
    QFETCH(QRect, inside);

    const QString path = write(QStringLiteral("padded"), file);
    QString error;
    QVERIFY2(PictureLoader::load(path, pixels.data(), &error, nullptr, PictureFit::Pad), qPrintable(error));
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kSourceWidth; ++x) {
            const quint32 expected = inside.contains(x, y)
                                         ? photo.pixel((x - inside.left()) / 4, (y - inside.top()) / 4)
                                         : 0xFF000000u;
            if (pixels[size_t(y * kSourceWidth + x)] != expected)
                QFAIL(qPrintable(QStringLiteral("(%1, %2) is %3, not %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(pixels[size_t(y * kSourceWidth + x)], 8, 16, QLatin1Char('0'))
                                     .arg(expected, 8, 16, QLatin1Char('0'))));
        }
    }
}

QTEST_GUILESS_MAIN(TestPictureFiles)
#include "tst_picturefiles.moc"
