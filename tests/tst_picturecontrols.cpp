#include "ataripic.h"
#include "atarigeometry.h"
#include "conversionqueue.h"
#include "pictureloader.h"
#include "picturetone.h"
#include "testpictures.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <random>
#include <vector>

using namespace Geometry;
Q_DECLARE_METATYPE(PictureFit)

namespace {

constexpr quint32 kBackground = 0xFF0000C8; // blue, no red
constexpr quint32 kCircle = 0xFFFFFFFF;

// The extent of the white circle in plane 0 (Original) of pic.
QRect circleIn(const ATARIpic &pic)
{
    QRect box;
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kSourceWidth; ++x) {
            if ((pic.getPixel(quint16(x), quint16(y), 0) >> 16 & 0xFF) > 128)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

} // namespace

// The fit of the photo into 320x240 and its tone, from the file to the Original plane.
class TestPictureControls : public QObject
{
    Q_OBJECT

private slots:
    // Work left running by a deleted queue ends before the next test (and before the program ends).
    void cleanup() { ConversionQueue::waitForRunningWork(); }
    void initTestCase();
    void fitKeepsProportions_data();
    void fitKeepsProportions();
    void fitTurnsPhotoFirst_data();
    void fitTurnsPhotoFirst();
    void toneCurves_data();
    void toneCurves();
    void neutralToneChangesNothing();
    void queueReadsAgainForAnotherFit();

private:
    QTemporaryDir dir;
    QString circleFile; // 640 x 320: a circle 280 pixels across in the middle
};

void TestPictureControls::initTestCase()
{
    QVERIFY(dir.isValid());
    QImage image(640, 320, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const double dx = x + 0.5 - 320;
            const double dy = y + 0.5 - 160;
            image.setPixel(x, y, dx * dx + dy * dy <= 140.0 * 140.0 ? kCircle : kBackground);
        }
    }
    circleFile = dir.filePath(QStringLiteral("circle.png"));
    QVERIFY(image.save(circleFile));
}

void TestPictureControls::fitKeepsProportions_data()
{
    QTest::addColumn<PictureFit>("fit");
    QTest::addColumn<int>("width");  // of the circle, in pixels of the Original plane
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bar");    // rows of black above and below the photo

    // Stretch halves the width (640 -> 320) and takes 3/4 of the height (320 -> 240).
    QTest::newRow("stretch") << PictureFit::Stretch << 140 << 210 << 0;
    // Crop: 3/4 both ways; the photo is 480 wide, 80 columns cut on each side.
    QTest::newRow("crop") << PictureFit::Crop << 210 << 210 << 0;
    // Pad: 1/2 both ways; the photo is 160 high, 40 black rows above and below.
    QTest::newRow("pad") << PictureFit::Pad << 140 << 140 << 40;
}

void TestPictureControls::fitKeepsProportions()
{
    QFETCH(PictureFit, fit);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bar);

    std::vector<quint32> pixels(kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(circleFile, pixels.data(), &error, nullptr, fit), qPrintable(error));
    auto pic = std::make_unique<ATARIpic>();
    pic->copy(pixels.data());

    const QRect circle = circleIn(*pic);
    QVERIFY2(qAbs(circle.width() - width) <= 2 && qAbs(circle.height() - height) <= 2,
             qPrintable(QStringLiteral("circle %1 x %2").arg(circle.width()).arg(circle.height())));
    // Centred: the overflow or the bars are shared equally.
    QVERIFY2(qAbs(circle.center().x() - 160) <= 1 && qAbs(circle.center().y() - 120) <= 1,
             qPrintable(QStringLiteral("centre %1, %2").arg(circle.center().x()).arg(circle.center().y())));
    for (int x : {0, 160, 319}) {
        for (int y = 0; y < kSourceHeight; ++y) {
            const bool inBar = y < bar || y >= kSourceHeight - bar;
            const quint32 p = pic->getPixel(quint16(x), quint16(y), 0) & 0xFFFFFF;
            if (inBar)
                QCOMPARE(p, 0u);
            else if (x != 160)
                QCOMPARE(p, kBackground & 0xFFFFFF);
        }
    }
}

void TestPictureControls::fitTurnsPhotoFirst_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<PictureFit>("fit");
    QTest::addColumn<QVector<QRgb>>("quadrants"); // top left, top right, bottom left, bottom right
    QTest::addColumn<QVector<QPoint>>("centres"); // the quadrants' centres in the frame
    QTest::addColumn<QVector<QPoint>>("black");   // points in the bars

    const QRgb red = qRgb(255, 0, 0);
    const QRgb blue = qRgb(0, 0, 255);
    const QRgb green = qRgb(0, 255, 0);
    const QRgb yellow = qRgb(255, 255, 0);
    // Stored 128 x 64: red | blue over green | yellow. Upright as stored (1, 3) it is 2:1: padded to
    // 320 x 160 between bars of 40 rows, cropped to the middle 320 of 480 columns. Turned a quarter
    // (6, 8) it is 1:2: padded to 120 x 240 between bars of 100 columns, cropped to the middle 240 of
    // 640 rows. Either way the crop's quadrants meet at the frame's middle.
    const QVector<QPoint> whole{{80, 60}, {240, 60}, {80, 180}, {240, 180}};
    const QVector<QPoint> wide{{80, 80}, {240, 80}, {80, 160}, {240, 160}};
    const QVector<QPoint> tall{{130, 60}, {190, 60}, {130, 180}, {190, 180}};
    const QVector<QPoint> rowBars{{160, 20}, {160, 219}};
    const QVector<QPoint> columnBars{{50, 120}, {269, 120}};
    const QVector<QRgb> asStored{red, blue, green, yellow};
    const QVector<QRgb> halfTurn{yellow, green, blue, red};
    const QVector<QRgb> clockwise{green, red, yellow, blue};
    const QVector<QRgb> anticlockwise{blue, yellow, red, green};
    QTest::newRow("1 pad") << 1 << PictureFit::Pad << asStored << wide << rowBars;
    QTest::newRow("1 crop") << 1 << PictureFit::Crop << asStored << whole << QVector<QPoint>{};
    QTest::newRow("3 pad") << 3 << PictureFit::Pad << halfTurn << wide << rowBars;
    QTest::newRow("6 pad") << 6 << PictureFit::Pad << clockwise << tall << columnBars;
    QTest::newRow("6 crop") << 6 << PictureFit::Crop << clockwise << whole << QVector<QPoint>{};
    QTest::newRow("8 pad") << 8 << PictureFit::Pad << anticlockwise << tall << columnBars;
    QTest::newRow("8 crop") << 8 << PictureFit::Crop << anticlockwise << whole << QVector<QPoint>{};
}

void TestPictureControls::fitTurnsPhotoFirst()
{
    QFETCH(int, orientation);
    QFETCH(PictureFit, fit);
    QFETCH(QVector<QRgb>, quadrants);
    QFETCH(QVector<QPoint>, centres);
    QFETCH(QVector<QPoint>, black);

    const QRgb stored[2][2] = {{qRgb(255, 0, 0), qRgb(0, 0, 255)}, {qRgb(0, 255, 0), qRgb(255, 255, 0)}};
    QImage photo(128, 64, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, stored[y * 2 / photo.height()][x * 2 / photo.width()]);
    const QString path = dir.filePath(QStringLiteral("tagged%1.jpg").arg(orientation));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(TestPictures::withExifOrientation(TestPictures::encode(photo, "JPG"), orientation));
    file.close();

    std::vector<quint32> pixels(kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(path, pixels.data(), &error, nullptr, fit), qPrintable(error));
    const auto near = [&pixels](const QPoint &point, QRgb want) {
        const QRgb got = pixels[size_t(point.y() * kSourceWidth + point.x())];
        return qAbs(qRed(got) - qRed(want)) + qAbs(qGreen(got) - qGreen(want)) + qAbs(qBlue(got) - qBlue(want)) < 60;
    };
    for (int q = 0; q < 4; ++q)
        QVERIFY2(near(centres[q], quadrants[q]), qPrintable(QStringLiteral("quadrant %1").arg(q)));
    for (const QPoint &point : black)
        QCOMPARE(pixels[size_t(point.y() * kSourceWidth + point.x())], 0xFF000000u);
}

void TestPictureControls::toneCurves_data()
{
    QTest::addColumn<int>("brightness");
    QTest::addColumn<int>("contrast");
    QTest::addColumn<double>("gamma");
    QTest::addColumn<int>("in");
    QTest::addColumn<int>("out");

    // Brightness b: v + 2.55 b, halves up, clamped.
    QTest::newRow("b+10 of 0: 25.5") << 10 << 0 << 1.0 << 0 << 26;
    QTest::newRow("b+10 of 100: 125.5") << 10 << 0 << 1.0 << 100 << 126;
    QTest::newRow("b+10 of 240: 265.5") << 10 << 0 << 1.0 << 240 << 255;
    QTest::newRow("b-10 of 100: 74.5") << -10 << 0 << 1.0 << 100 << 75;
    QTest::newRow("b-10 of 10: -15.5") << -10 << 0 << 1.0 << 10 << 0;
    QTest::newRow("b+33 of 50: 134.15") << 33 << 0 << 1.0 << 50 << 134;
    QTest::newRow("b-100 of 255: 0") << -100 << 0 << 1.0 << 255 << 0;
    // Contrast c: (v - 127.5) tan(45 (1 + c/100) degrees) + 127.5; tan 67.5 = 1 + sqrt 2 = 2.41421,
    // tan 22.5 = sqrt 2 - 1 = 0.41421, tan 0 = 0, tan 90 unbounded.
    QTest::newRow("c+50 of 100: 61.11") << 0 << 50 << 1.0 << 100 << 61;
    QTest::newRow("c+50 of 127: 126.29") << 0 << 50 << 1.0 << 127 << 126;
    QTest::newRow("c+50 of 128: 128.71") << 0 << 50 << 1.0 << 128 << 129;
    QTest::newRow("c+50 of 150: 181.82") << 0 << 50 << 1.0 << 150 << 182;
    QTest::newRow("c+50 of 200: 302.53") << 0 << 50 << 1.0 << 200 << 255;
    QTest::newRow("c-50 of 0: 74.69") << 0 << -50 << 1.0 << 0 << 75;
    QTest::newRow("c-50 of 255: 180.31") << 0 << -50 << 1.0 << 255 << 180;
    QTest::newRow("c-50 of 100: 116.11") << 0 << -50 << 1.0 << 100 << 116;
    QTest::newRow("c-100 of 0: 127.5") << 0 << -100 << 1.0 << 0 << 128;
    QTest::newRow("c-100 of 255: 127.5") << 0 << -100 << 1.0 << 255 << 128;
    QTest::newRow("c+100 of 127") << 0 << 100 << 1.0 << 127 << 0;
    QTest::newRow("c+100 of 128") << 0 << 100 << 1.0 << 128 << 255;
    // Gamma g: 255 (v/255)^(1/g).
    QTest::newRow("g2 of 64: 127.75") << 0 << 0 << 2.0 << 64 << 128;
    QTest::newRow("g2 of 100: 159.69") << 0 << 0 << 2.0 << 100 << 160;
    QTest::newRow("g2 of 0") << 0 << 0 << 2.0 << 0 << 0;
    QTest::newRow("g2 of 255") << 0 << 0 << 2.0 << 255 << 255;
    QTest::newRow("g0.5 of 128: 64.25") << 0 << 0 << 0.5 << 128 << 64;
    QTest::newRow("g0.5 of 200: 156.86") << 0 << 0 << 0.5 << 200 << 157;
    QTest::newRow("g0.5 of 16: 1.004") << 0 << 0 << 0.5 << 16 << 1;
    // In order, each step whole: 100 -> 125.5 = 126 -> -3.62 + 127.5 = 123.88 = 124 -> 177.82.
    QTest::newRow("b+10 c+50 g2 of 100") << 10 << 50 << 2.0 << 100 << 178;
    // 200 -> 149 -> (21.5 tan 31.5 = 13.18) + 127.5 = 140.68 = 141 -> 255 (141/255)^1.25 = 121.59.
    QTest::newRow("b-20 c-30 g0.8 of 200") << -20 << -30 << 0.8 << 200 << 122;
}

void TestPictureControls::toneCurves()
{
    QFETCH(int, brightness);
    QFETCH(int, contrast);
    QFETCH(double, gamma);
    QFETCH(int, in);
    QFETCH(int, out);

    // A grey ramp with its alpha running the other way: each channel alike, alpha kept.
    std::vector<quint32> ramp(256);
    for (quint32 v = 0; v < 256; ++v)
        ramp[v] = (255 - v) << 24 | v << 16 | v << 8 | v;
    PictureTone::Tone tone;
    tone.brightness = brightness;
    tone.contrast = contrast;
    tone.gamma = gamma;
    std::vector<quint32> adjusted(ramp.size());
    PictureTone::apply(tone, ramp.data(), adjusted.data(), int(ramp.size()));
    const quint32 o = quint32(out);
    QCOMPARE(adjusted[size_t(in)], quint32(255 - in) << 24 | o << 16 | o << 8 | o);
}

void TestPictureControls::neutralToneChangesNothing()
{
    std::mt19937 random(7);
    std::vector<quint32> pixels(kSourcePixels);
    for (quint32 &p : pixels)
        p = random();
    std::vector<quint32> adjusted(pixels.size());
    PictureTone::apply(PictureTone::Tone(), pixels.data(), adjusted.data(), int(pixels.size()));
    QVERIFY(adjusted == pixels);
    // Two steps that undo each other on paper still count: only the neutral values are skipped.
    PictureTone::Tone lighter;
    lighter.gamma = 1.01;
    PictureTone::apply(lighter, pixels.data(), adjusted.data(), int(pixels.size()));
    QVERIFY(adjusted != pixels);
}

// A new fit reads the shown picture again; the tone changes the source the store converts.
void TestPictureControls::queueReadsAgainForAnotherFit()
{
    ConversionQueue queue(ConversionSettings(), 1);
    QVERIFY(queue.load(circleFile));
    queue.waitForIdle();
    QVERIFY(queue.hasPicture());
    QCOMPARE(queue.picture().getPixel(160, 10, 0) & 0xFFFFFF, kBackground & 0xFFFFFF);

    ConversionSettings settings;
    settings.fit = PictureFit::Pad;
    queue.setSettings(settings);
    queue.waitForIdle();
    QCOMPARE(queue.picture().getPixel(160, 10, 0) & 0xFFFFFF, 0u);
    QCOMPARE(circleIn(queue.picture()).width(), 140);

    // Brightness -100 takes 255 from every channel: the circle is gone, the photo black.
    settings.tone.brightness = -100;
    queue.setSettings(settings);
    queue.waitForIdle();
    QVERIFY(circleIn(queue.picture()).isEmpty());
    QCOMPARE(queue.picture().getPixel(160, 120, 0) & 0xFFFFFF, 0u);
}

QTEST_GUILESS_MAIN(TestPictureControls)
#include "tst_picturecontrols.moc"
