#include <QColor>
#include <QImage>
#include <QtTest>

#include <algorithm>
#include <vector>
#include <memory>
#include <random>

#include "ataripic.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kAtariWidth = 80;
constexpr int kAtariPixels = kAtariWidth * kHeight;
constexpr int kPairs = 120;
constexpr int kSegments = 13;
constexpr int kHues = kPairs * kSegments;

// Hue segments of a line pair: the first seven lie on the pair's first row, the rest on its second.
const int kSegmentLength[kSegments] = {8, 23, 14, 12, 12, 9, 2, 16, 22, 12, 12, 12, 6};
const int kSegmentFirstColumn[kSegments] = {0, 8, 31, 45, 57, 69, 78, 0, 16, 38, 50, 62, 74};

// Index of the first Atari pixel of segment s of line pair p.
int segmentStart(int p, int s)
{
    return p * 2 * kAtariWidth + (s >= 7 ? kAtariWidth : 0) + kSegmentFirstColumn[s];
}

// Plane number -> preview mode that shows it (planes 1 and 2 are swapped against their modes).
const quint8 kModeOfPlane[7] = {0, 2, 1, 3, 4, 5, 6};

quint32 planeValue(const ATARIpic &pic, int plane, int x, int y)
{
    return pic.getPixel(quint16(x), quint16(y), kModeOfPlane[plane]);
}

// Whether no hue occurs more often among n bytes than `hue` (hue << 4) does: the majority rule
// without its tie-break, which the worked segments check.
bool noHueMoreFrequent(const quint8 *bytes, int n, quint8 hue)
{
    int counts[16] = {};
    for (int i = 0; i < n; ++i)
        ++counts[bytes[i] >> 4];
    return *std::max_element(counts, counts + 16) == counts[hue >> 4];
}

// Everything a conversion leaves behind.
struct Snapshot
{
    QVector<quint32> planes[7];
    QVector<quint32> averaged;
    QByteArray nearest;
    QByteArray output;
    QByteArray hues;
};

Snapshot capturePlanes(const ATARIpic &pic)
{
    Snapshot s;
    for (int plane = 0; plane < 7; ++plane) {
        s.planes[plane].reserve(kWidth * kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                s.planes[plane].append(planeValue(pic, plane, x, y));
    }
    return s;
}

// Planes and byte areas; only meaningful once a picture has been converted.
Snapshot capture(const ATARIpic &pic)
{
    Snapshot s = capturePlanes(pic);
    s.averaged = QVector<quint32>(pic.averaged(), pic.averaged() + kAtariPixels);
    s.nearest = QByteArray(reinterpret_cast<const char *>(pic.nearestBytes()), kAtariPixels);
    s.output = QByteArray(reinterpret_cast<const char *>(pic.outputBytes()), kAtariPixels);
    s.hues = QByteArray(reinterpret_cast<const char *>(pic.hueTable()), kHues);
    return s;
}

// The coffee photo as the window hands it over: 320x240, rows top first, 0xFFRRGGBB.
QVector<quint32> loadPhoto()
{
    const QImage image(QStringLiteral(RASTREL_TEST_DATA "/coffee.jpg"));
    if (image.isNull())
        return {};
    const QImage scaled = image.scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                              .convertToFormat(QImage::Format_RGB32);
    QVector<quint32> pixels;
    pixels.reserve(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            pixels.append(scaled.pixel(x, y));
    return pixels;
}

bool operator==(const Snapshot &a, const Snapshot &b)
{
    return std::equal(a.planes, a.planes + 7, b.planes) && a.averaged == b.averaged && a.nearest == b.nearest
        && a.output == b.output && a.hues == b.hues;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

} // namespace

class TestAtariPic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void geometry();
    void demoChartPositions_data();
    void demoChartPositions();
    void demoChartBands();
    void newSaturation_data();
    void newSaturation();
    void newSaturationKeepsConvertedPlanes();
    void getPixelModes_data();
    void getPixelModes();
    void copyKeepsSourceExactly();
    void resetRewindsCursor();

    void averageChroma_data();
    void averageChroma();
    void lineConvertSegment_data();
    void lineConvertSegment();
    void lineConvertRowHues();
    void lineConvertSegmentsCoverEveryPair();
    void lineConvertInvariants();

    void grayPictureConverts();
    void saturatedPictureConverts();
    void photoConversionRelations();
    void previewPixelsRepeatFourTimes();
    void letsGoTwiceGivesSameResult();
    void letsGoFollowsEveryChange();
    void topByteIgnored();
    void unsaturatedConversionUsesHueZeroOrOne();

private:
    QVector<quint32> photo;
};

void TestAtariPic::initTestCase()
{
    photo = loadPhoto();
    QCOMPARE(photo.size(), kWidth * kHeight);
}

void TestAtariPic::geometry()
{
    const auto pic = std::make_unique<ATARIpic>();
    QCOMPARE(int(pic->width), kWidth);
    QCOMPARE(int(pic->height), kHeight);
}

void TestAtariPic::demoChartPositions_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("colour");

    for (int mode = 0; mode <= 3; ++mode)
        QTest::addRow("origin, mode %d", mode) << 0 << 0 << mode << 0x00;
    QTest::newRow("bottom right") << 319 << 239 << 0 << 0xFF;
    QTest::newRow("second band, second step") << 20 << 15 << 0 << 0x11;
    QTest::newRow("last pixel of the first band") << 19 << 14 << 0 << 0x00;
    QTest::newRow("centre") << 160 << 120 << 0 << 0x88;
    QTest::newRow("bottom left, mode 3") << 0 << 239 << 3 << 0xF0;
    QTest::newRow("top right, mode 2") << 319 << 0 << 2 << 0x0F;
    QTest::newRow("band 3 step 10, mode 1") << 200 << 45 << 1 << 0x3A;
}

void TestAtariPic::demoChartPositions()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, mode);
    QFETCH(int, colour);

    const auto pic = std::make_unique<ATARIpic>();
    QCOMPARE(pic->getPixel(quint16(x), quint16(y), quint8(mode)), pic->palette().getRGB(quint8(colour)));
}

void TestAtariPic::demoChartBands()
{
    const auto pic = std::make_unique<ATARIpic>();
    const ATARIpalGen &pal = pic->palette();
    for (int y = 0; y < kHeight; ++y) {
        const int hue = y / 15;
        for (int x = 0; x < kWidth; ++x) {
            const int lum = x / 20;
            const quint32 chart = pal.getRGB(quint8(hue << 4 | lum));
            for (int mode = 0; mode <= 3; ++mode)
                QCOMPARE(pic->getPixel(quint16(x), quint16(y), quint8(mode)), chart);
            QCOMPARE(pic->getPixel(quint16(x), quint16(y), 4), pal.getGray(quint8(lum)));
            QCOMPARE(pic->getPixel(quint16(x), quint16(y), 5), pal.getGreen(quint8(lum)));
            QCOMPARE(pic->getPixel(quint16(x), quint16(y), 6), pal.getRGB(quint8(hue << 4 | 0x0A)));
        }
    }
    for (int x = 0; x < kWidth; ++x) {
        for (int y = 0; y <= 14; ++y)
            QCOMPARE(pic->getPixel(quint16(x), quint16(y), 6), pal.getRGB(0x0A));
        for (int y = 225; y <= 239; ++y)
            QCOMPARE(pic->getPixel(quint16(x), quint16(y), 6), pal.getRGB(0xFA));
    }
}

void TestAtariPic::newSaturation_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("saturation");

    QTest::newRow("60") << 60.0 << 0.6;
    QTest::newRow("0") << 0.0 << 0.0;
    QTest::newRow("100") << 100.0 << 1.0;
    QTest::newRow("35") << 35.0 << 0.35;
}

void TestAtariPic::newSaturation()
{
    QFETCH(double, value);
    QFETCH(double, saturation);

    const auto pic = std::make_unique<ATARIpic>();
    const Snapshot before = capturePlanes(*pic);

    pic->newSaturation(value);
    QCOMPARE(pic->palette().getSaturation(), saturation);
    const Snapshot unchanged = capturePlanes(*pic);
    for (int plane = 0; plane < 7; ++plane)
        QVERIFY2(unchanged.planes[plane] == before.planes[plane], qPrintable(QString::number(plane)));

    pic->Demo();
    const Snapshot redrawn = capturePlanes(*pic);
    QVERIFY(redrawn.planes[4] == before.planes[4]);
    QVERIFY(redrawn.planes[5] == before.planes[5]);
    const ATARIpalGen &pal = pic->palette();
    QCOMPARE(pic->getPixel(300, 45, 0), pal.getRGB(0x3F));
    QCOMPARE(pic->getPixel(300, 45, 3), pal.getRGB(0x3F));
    QCOMPARE(pic->getPixel(0, 150, 6), pal.getRGB(0xAA));
    if (saturation != 0.6)
        QVERIFY(redrawn.planes[0] != before.planes[0]);
}

void TestAtariPic::newSaturationKeepsConvertedPlanes()
{
    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(photo.constData());
    const Snapshot before = capture(*pic);

    pic->newSaturation(100.0);
    const Snapshot after = capture(*pic);
    for (int plane = 0; plane < 7; ++plane)
        QVERIFY2(after.planes[plane] == before.planes[plane], qPrintable(QString::number(plane)));
    QVERIFY(after.nearest == before.nearest);
    QVERIFY(after.output == before.output);
    QVERIFY(after.hues == before.hues);

    pic->letsGo();
    const Snapshot reconverted = capture(*pic);
    QVERIFY(reconverted.planes[0] == before.planes[0]);
    QVERIFY(reconverted.averaged == before.averaged);
    QVERIFY(reconverted.nearest != before.nearest);
}

void TestAtariPic::getPixelModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("plane");

    QTest::newRow("0 Original") << 0 << 0;
    QTest::newRow("1 GTIA") << 1 << 2;
    QTest::newRow("2 ATARI PAL") << 2 << 1;
    QTest::newRow("3 Output") << 3 << 3;
    QTest::newRow("4 Gray") << 4 << 4;
    QTest::newRow("5 Green") << 5 << 5;
    QTest::newRow("6 Chroma") << 6 << 6;
    QTest::newRow("7") << 7 << 0;
    QTest::newRow("255") << 255 << 0;
}

void TestAtariPic::getPixelModes()
{
    QFETCH(int, mode);
    QFETCH(int, plane);

    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(photo.constData());
    const ATARIpalGen &pal = pic->palette();

    int gtiaDiffersFromPal = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int j = y * kAtariWidth + x / 4;
            const quint8 nearest = pic->nearestBytes()[j];
            const quint8 output = pic->outputBytes()[j];
            const quint32 expected[7] = {
                photo[y * kWidth + x],
                pal.getRGB(nearest),
                pic->averaged()[j],
                pal.getBase(output),
                pal.getGray(nearest),
                pal.getGreen(nearest),
                pal.getBase(quint8((output & 0xF0) | 0x08)),
            };
            if (expected[1] != expected[2])
                ++gtiaDiffersFromPal;
            if (pic->getPixel(quint16(x), quint16(y), quint8(mode)) != expected[plane])
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2: got %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(pic->getPixel(quint16(x), quint16(y), quint8(mode)), 8, 16, QLatin1Char('0'))
                                     .arg(expected[plane], 8, 16, QLatin1Char('0'))));
        }
    }
    QVERIFY(gtiaDiffersFromPal > kWidth * kHeight / 2);
}

void TestAtariPic::copyKeepsSourceExactly()
{
    std::mt19937 random(20240607);
    QVector<quint32> values(kWidth * kHeight);
    for (quint32 &v : values)
        v = quint32(random());

    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(values.constData());
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const quint32 v = values[y * kWidth + x];
            QCOMPARE(pic->getPixel(quint16(x), quint16(y), 0), v);
            QCOMPARE(pic->getPixel(quint16(x), quint16(y), 7), v);
            QCOMPARE(pic->getPixel(quint16(x), quint16(y), 255), v);
        }
}

void TestAtariPic::resetRewindsCursor()
{
    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(photo.constData());
    std::vector<quint8> hues(pic->hueTable(), pic->hueTable() + kHues);
    hues[0] = 0x50;
    hues[1] = 0xA0;
    hues[2] = 0x00;
    pic->setConverted(pic->outputBytes(), hues.data());

    pic->reset();
    QCOMPARE(pic->hueCursor(), 0u);
    QCOMPARE(QByteArray(pic->rh()), QByteArray("$50"));
    QCOMPARE(QByteArray(pic->rh()), QByteArray("$A0"));
    QCOMPARE(QByteArray(pic->rh()), QByteArray("$00"));
    QCOMPARE(pic->hueCursor(), 3u);

    pic->reset();
    QCOMPARE(pic->hueCursor(), 0u);
    pic->reset();
    QCOMPARE(pic->hueCursor(), 0u);
    QCOMPARE(QByteArray(pic->rh()), QByteArray("$50"));
}

void TestAtariPic::averageChroma_data()
{
    QTest::addColumn<QByteArray>("pixels");
    QTest::addColumn<int>("expected");

    QTest::newRow("empty") << QByteArray() << 0x00;
    QTest::newRow("one byte") << bytes({0xE7}) << 0xE0;
    QTest::newRow("one gray byte") << bytes({0x0F}) << 0x00;
    QTest::newRow("all hue 5") << bytes({0x50, 0x51, 0x5F, 0x57, 0x58, 0x5A, 0x53, 0x5C, 0x55}) << 0x50;
    QTest::newRow("tie 3 and 5") << bytes({0x37, 0x52}) << 0x30;
    QTest::newRow("tie, higher hue first") << bytes({0x52, 0x37}) << 0x30;
    QTest::newRow("four gray, four hue 9") << bytes({0x91, 0x02, 0x93, 0x04, 0x95, 0x06, 0x97, 0x08}) << 0x00;
    QTest::newRow("five hue 2, three hue 1") << bytes({0x1A, 0x2B, 0x1C, 0x2D, 0x2E, 0x1F, 0x20, 0x21}) << 0x20;
    QTest::newRow("luminance plays no part") << bytes({0x1F, 0x1F, 0x20, 0x20, 0x20, 0xEF}) << 0x20;
    QTest::newRow("three-way tie") << bytes({0xC1, 0x92, 0x43, 0xC4, 0x95, 0x46}) << 0x40;
    QTest::newRow("hue 15 wins") << bytes({0xF0, 0xF1, 0x10, 0xF3}) << 0xF0;

    QByteArray longest;
    for (int i = 0; i < 12; ++i)
        longest.append(char(0xB0 | (i & 15)));
    for (int i = 0; i < 11; ++i)
        longest.append(char(0x30 | (i & 15)));
    QTest::newRow("23 bytes") << longest << 0xB0;

    QTest::newRow("255 bytes") << QByteArray(255, char(0xFF)) << 0xF0;
}

void TestAtariPic::averageChroma()
{
    QFETCH(QByteArray, pixels);
    QFETCH(int, expected);

    const auto pic = std::make_unique<ATARIpic>();
    const quint8 guard[1] = {0x70};
    const quint8 *data = pixels.isEmpty() ? guard : reinterpret_cast<const quint8 *>(pixels.constData());
    QCOMPARE(int(pic->averageChroma(data, quint32(pixels.size()))), expected);
}

void TestAtariPic::lineConvertSegment_data()
{
    QTest::addColumn<int>("pair");
    QTest::addColumn<int>("segment");
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<int>("hue");
    QTest::addColumn<QByteArray>("out");

    QTest::newRow("all hue 5")
        << 0 << 3 << bytes({0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B}) << 0x50
        << bytes({0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B});
    QTest::newRow("segment 6 tie") << 7 << 6 << bytes({0x37, 0x52}) << 0x30 << bytes({0x37, 0x32});
    QTest::newRow("segment 0, four gray and four hue 9")
        << 0 << 0 << bytes({0x01, 0x92, 0x03, 0x94, 0x05, 0x96, 0x07, 0x98}) << 0x00
        << bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
    QTest::newRow("segment 0, five hue 2 and three hue 1")
        << 33 << 0 << bytes({0x1A, 0x2B, 0x1C, 0x2D, 0x2E, 0x1F, 0x20, 0x21}) << 0x20
        << bytes({0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x20, 0x21});
    QTest::newRow("first segment of a second row")
        << 60 << 7
        << bytes({0x61, 0x62, 0x63, 0x14, 0x65, 0x66, 0x67, 0x08, 0x69, 0x6A, 0x6B, 0x6C, 0xED, 0x6E, 0x6F, 0x60})
        << 0x60 << bytes({0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x60});
    QTest::newRow("last segment of the last pair")
        << 119 << 12 << bytes({0xE1, 0x42, 0xE3, 0x44, 0xE5, 0x06}) << 0xE0
        << bytes({0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6});
    QTest::newRow("segment 5") << 90 << 5 << bytes({0x2F, 0x8E, 0x8D, 0x2C, 0x8B, 0x2A, 0x89, 0x28, 0x27}) << 0x20
                               << bytes({0x2F, 0x2E, 0x2D, 0x2C, 0x2B, 0x2A, 0x29, 0x28, 0x27});
}

void TestAtariPic::lineConvertSegment()
{
    QFETCH(int, pair);
    QFETCH(int, segment);
    QFETCH(QByteArray, in);
    QFETCH(int, hue);
    QFETCH(QByteArray, out);
    QCOMPARE(in.size(), kSegmentLength[segment]);

    // Every other pixel has hue 12; only the crafted segment may differ.
    QVector<quint8> input(kAtariPixels);
    for (int i = 0; i < kAtariPixels; ++i)
        input[i] = quint8(0xC0 | (i & 15));
    const int start = segmentStart(pair, segment);
    for (int k = 0; k < in.size(); ++k)
        input[start + k] = quint8(in[k]);
    QVector<quint8> output(kAtariPixels, 0xAA);

    const auto pic = std::make_unique<ATARIpic>();
    pic->lineConvert(input.constData(), output.data());

    const int entry = pair * kSegments + segment;
    QCOMPARE(int(pic->hueTable()[entry]), hue);
    for (int k = 0; k < out.size(); ++k)
        QCOMPARE(int(output[start + k]), int(quint8(out[k])));
    for (int i = 0; i < kAtariPixels; ++i)
        if (i < start || i >= start + in.size())
            QCOMPARE(int(output[i]), int(input[i]));
    for (int e = 0; e < kHues; ++e)
        if (e != entry)
            QCOMPARE(int(pic->hueTable()[e]), 0xC0);
}

void TestAtariPic::lineConvertRowHues()
{
    // Pair 5: first row hue 1, second row hue 2; pair 6 the other way round; the rest gray.
    QVector<quint8> input(kAtariPixels);
    for (int i = 0; i < kAtariPixels; ++i) {
        const int row = i / kAtariWidth;
        const int lum = (i * 7) & 15;
        int hue = 0;
        if (row == 10 || row == 13)
            hue = 1;
        else if (row == 11 || row == 12)
            hue = 2;
        input[i] = quint8(hue << 4 | lum);
    }
    QVector<quint8> output(kAtariPixels);

    const auto pic = std::make_unique<ATARIpic>();
    pic->lineConvert(input.constData(), output.data());

    for (int s = 0; s < kSegments; ++s) {
        QCOMPARE(int(pic->hueTable()[5 * kSegments + s]), s < 7 ? 0x10 : 0x20);
        QCOMPARE(int(pic->hueTable()[6 * kSegments + s]), s < 7 ? 0x20 : 0x10);
        QCOMPARE(int(pic->hueTable()[4 * kSegments + s]), 0x00);
        QCOMPARE(int(pic->hueTable()[7 * kSegments + s]), 0x00);
    }
    QVERIFY(output == input);
}

void TestAtariPic::lineConvertSegmentsCoverEveryPair()
{
    // Each segment has a hue of its own, different from both neighbours, so any run that started
    // or ended one pixel off would pull a pixel into the wrong hue.
    QVector<quint8> input(kAtariPixels);
    for (int p = 0; p < kPairs; ++p)
        for (int s = 0; s < kSegments; ++s)
            for (int k = 0; k < kSegmentLength[s]; ++k) {
                const int i = segmentStart(p, s) + k;
                input[i] = quint8(((p + s) % 16) << 4 | ((i * 5) & 15));
            }
    QVector<quint8> output(kAtariPixels, 0x00);

    const auto pic = std::make_unique<ATARIpic>();
    pic->lineConvert(input.constData(), output.data());

    for (int i = 0; i < kAtariPixels; ++i)
        QCOMPARE(int(output[i]), int(input[i]));
    for (int p = 0; p < kPairs; ++p)
        for (int s = 0; s < kSegments; ++s)
            QCOMPARE(int(pic->hueTable()[p * kSegments + s]), ((p + s) % 16) << 4);
}

void TestAtariPic::lineConvertInvariants()
{
    std::mt19937 random(77);
    // Few hues per segment so that majorities and ties both occur.
    QVector<quint8> input(kAtariPixels);
    for (quint8 &b : input)
        b = quint8((random() % 4) * 0x50 + (random() % 16));
    QVector<quint8> output(kAtariPixels, 0xFF);

    const auto pic = std::make_unique<ATARIpic>();
    const std::vector<quint8> filler(kHues, 0x0F);
    pic->setConverted(pic->outputBytes(), filler.data());
    pic->lineConvert(input.constData(), output.data());

    for (int i = 0; i < kAtariPixels; ++i)
        QCOMPARE(output[i] & 0x0F, input[i] & 0x0F);
    for (int p = 0; p < kPairs; ++p) {
        int covered = 0;
        for (int s = 0; s < kSegments; ++s) {
            const int start = segmentStart(p, s);
            const quint8 hue = pic->hueTable()[p * kSegments + s];
            QCOMPARE(hue & 0x0F, 0);
            QVERIFY(noHueMoreFrequent(input.constData() + start, kSegmentLength[s], hue));
            for (int k = 0; k < kSegmentLength[s]; ++k)
                QCOMPARE(output[start + k] & 0xF0, int(hue));
            covered += kSegmentLength[s];
        }
        QCOMPARE(covered, 2 * kAtariWidth);
    }
}

void TestAtariPic::grayPictureConverts()
{
    // Groups of four pixels whose mean is the gray 17k exactly; k runs diagonally through 1..14.
    QVector<quint32> source(kWidth * kHeight);
    const int offsets[4] = {2, -2, 1, -1};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int k = 1 + (x / 4 + y) % 14;
            const quint32 g = quint32(17 * k + offsets[x % 4]);
            source[y * kWidth + x] = 0xFF000000u | g << 16 | g << 8 | g;
        }

    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(source.constData());
    const ATARIpalGen &pal = pic->palette();

    for (int j = 0; j < kAtariPixels; ++j) {
        const int k = 1 + (j % kAtariWidth + j / kAtariWidth) % 14;
        QCOMPARE(pic->averaged()[j], quint32(0x111111 * k));
        // An exact gray ramp match; the luma of 17k truncates into luminance k.
        QCOMPARE(int(pic->nearestBytes()[j]), k);
        QCOMPARE(int(pic->outputBytes()[j]), k);
    }
    for (int e = 0; e < kHues; ++e)
        QCOMPARE(int(pic->hueTable()[e]), 0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int k = 1 + (x / 4 + y) % 14;
            QCOMPARE(planeValue(*pic, 1, x, y), quint32(0x111111 * k));
            QCOMPARE(planeValue(*pic, 2, x, y), quint32(0x111111 * k));
            QCOMPARE(planeValue(*pic, 3, x, y), pal.getBase(quint8(k)));
            QCOMPARE(planeValue(*pic, 4, x, y), quint32(0x111111 * k));
            QCOMPARE(planeValue(*pic, 5, x, y), pal.getGreen(quint8(k)));
            QCOMPARE(planeValue(*pic, 6, x, y), quint32(0x7A7A79));
        }
    QCOMPARE(planeValue(*pic, 5, 48, 0), quint32(0x4AFF00)); // k = 13
    QCOMPARE(planeValue(*pic, 3, 52, 0), quint32(0xDCDCDC)); // k = 14
    QCOMPARE(planeValue(*pic, 3, 0, 14), quint32(0x0E0D0E)); // k = 1
}

void TestAtariPic::saturatedPictureConverts()
{
    // At full saturation: red (0x3F exactly, luma 76) on every first row, except 12 blue pixels
    // at columns 8..19 (nearest 0x71), and cyan (0xAF exactly, luma 178) on every second row.
    QVector<quint32> source(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            quint32 v = 0x00FFFF;
            if (y % 2 == 0)
                v = (x / 4 >= 8 && x / 4 <= 19) ? 0x0000FF : 0xFF0000;
            source[y * kWidth + x] = 0xFF000000u | v;
        }

    const auto pic = std::make_unique<ATARIpic>();
    pic->newSaturation(100.0);
    pic->copy(source.constData());
    const QColor hue7 = QColor::fromHsvF(247.5 / 360.0, 1.0, 46 / 256.0);
    const quint32 darkBlue = quint32(hue7.red()) << 16 | quint32(hue7.green()) << 8 | quint32(hue7.blue());

    for (int p = 0; p < kPairs; ++p) {
        const quint8 *hue = pic->hueTable() + p * kSegments;
        QCOMPARE(int(hue[0]), 0x30);
        QCOMPARE(int(hue[1]), 0x70); // 12 blue against 11 red
        for (int s = 2; s < 7; ++s)
            QCOMPARE(int(hue[s]), 0x30);
        for (int s = 7; s < kSegments; ++s)
            QCOMPARE(int(hue[s]), 0xA0);
    }
    for (int y = 0; y < kHeight; ++y)
        for (int ax = 0; ax < kAtariWidth; ++ax) {
            const int j = y * kAtariWidth + ax;
            int nearest = 0xAB;
            int output = 0xAB;
            quint32 outputPlane = 0x77CC99;
            quint32 chromaPlane = 0x449A65;
            // Value 196/256 of luminance 11 is stored as 50175 in the toolkit's colour, upper byte 0xC3.
            quint32 palPlane = 0x00C3C3;
            if (y % 2 == 0) {
                const bool blue = ax >= 8 && ax <= 19;
                const bool segment1 = ax >= 8 && ax <= 30;
                nearest = blue ? 0x71 : 0x34;
                output = blue ? 0x71 : (segment1 ? 0x74 : 0x34);
                outputPlane = blue ? 0x000966 : (segment1 ? 0x293893 : 0x77252A);
                chromaPlane = segment1 ? 0x6674CD : 0xB26167;
                palPlane = blue ? darkBlue : 0x5B0000;
            }
            QCOMPARE(int(pic->nearestBytes()[j]), nearest);
            QCOMPARE(int(pic->outputBytes()[j]), output);
            for (int x = ax * 4; x < ax * 4 + 4; ++x) {
                QCOMPARE(planeValue(*pic, 3, x, y), outputPlane);
                QCOMPARE(planeValue(*pic, 6, x, y), chromaPlane);
                QCOMPARE(planeValue(*pic, 1, x, y), palPlane);
            }
        }
}

void TestAtariPic::photoConversionRelations()
{
    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(photo.constData());
    const ATARIpalGen &pal = pic->palette();

    for (int j = 0; j < kAtariPixels; ++j) {
        // The averaging arithmetic has worked examples of its own; here: which four pixels meet where.
        const quint32 *four = photo.constData() + 4 * j;
        QCOMPARE(pic->averaged()[j], pal.average(four[0], four[1], four[2], four[3]));
        QCOMPARE(pic->nearestBytes()[j], pal.nearest(pic->averaged()[j]));
        QCOMPARE(pic->outputBytes()[j] & 0x0F, pic->nearestBytes()[j] & 0x0F);
    }
    QSet<int> hues;
    for (int p = 0; p < kPairs; ++p)
        for (int s = 0; s < kSegments; ++s) {
            const int start = segmentStart(p, s);
            const quint8 hue = pic->hueTable()[p * kSegments + s];
            QVERIFY(noHueMoreFrequent(pic->nearestBytes() + start, kSegmentLength[s], hue));
            for (int k = 0; k < kSegmentLength[s]; ++k)
                QCOMPARE(pic->outputBytes()[start + k] & 0xF0, int(hue));
            hues.insert(hue);
        }
    QVERIFY(hues.size() >= 3);

    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int j = y * kAtariWidth + x / 4;
            const quint8 nearest = pic->nearestBytes()[j];
            const quint8 output = pic->outputBytes()[j];
            QCOMPARE(planeValue(*pic, 0, x, y), photo[y * kWidth + x]);
            QCOMPARE(planeValue(*pic, 1, x, y), pal.getRGB(nearest));
            QCOMPARE(planeValue(*pic, 2, x, y), pic->averaged()[j]);
            QCOMPARE(planeValue(*pic, 3, x, y), pal.getBase(output));
            QCOMPARE(planeValue(*pic, 4, x, y), pal.getGray(nearest));
            QCOMPARE(planeValue(*pic, 5, x, y), pal.getGreen(nearest));
            QCOMPARE(planeValue(*pic, 6, x, y), pal.getBase(quint8((output & 0xF0) | 0x08)));
        }
}

void TestAtariPic::previewPixelsRepeatFourTimes()
{
    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(photo.constData());
    for (int plane = 1; plane < 7; ++plane)
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; x += 4) {
                const quint32 first = planeValue(*pic, plane, x, y);
                for (int k = 1; k < 4; ++k)
                    QCOMPARE(planeValue(*pic, plane, x + k, y), first);
            }
}

void TestAtariPic::letsGoTwiceGivesSameResult()
{
    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(photo.constData());
    const Snapshot first = capture(*pic);
    pic->letsGo();
    const Snapshot second = capture(*pic);
    for (int plane = 0; plane < 7; ++plane)
        QVERIFY2(second.planes[plane] == first.planes[plane], qPrintable(QString::number(plane)));
    QVERIFY(second.averaged == first.averaged);
    QVERIFY(second.nearest == first.nearest);
    QVERIFY(second.output == first.output);
    QVERIFY(second.hues == first.hues);
}

// Whatever was converted before, a conversion equals that of a fresh store given the same input.
void TestAtariPic::letsGoFollowsEveryChange()
{
    QVector<quint32> mirrored(photo);
    for (int y = 0; y < kHeight; ++y)
        std::reverse(mirrored.begin() + y * kWidth, mirrored.begin() + (y + 1) * kWidth);

    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(photo.constData());
    pic->newSaturation(25);
    pic->letsGo();
    auto fresh = std::make_unique<ATARIpic>();
    fresh->newSaturation(25);
    fresh->copy(photo.constData());
    QVERIFY(capture(*pic) == capture(*fresh));

    pic->copy(mirrored.constData());
    fresh = std::make_unique<ATARIpic>();
    fresh->newSaturation(25);
    fresh->copy(mirrored.constData());
    QVERIFY(capture(*pic) == capture(*fresh));

    pic->Demo();
    pic->letsGo();
    fresh = std::make_unique<ATARIpic>();
    fresh->newSaturation(25);
    fresh->Demo();
    fresh->letsGo();
    QVERIFY(capture(*pic) == capture(*fresh));
}

void TestAtariPic::topByteIgnored()
{
    std::mt19937 random(4242);
    QVector<quint32> stripped(photo);
    QVector<quint32> scrambled(photo);
    for (int i = 0; i < photo.size(); ++i) {
        stripped[i] &= 0x00FFFFFFu;
        scrambled[i] = (scrambled[i] & 0x00FFFFFFu) | (quint32(random()) & 0xFF000000u);
    }

    const auto opaque = std::make_unique<ATARIpic>();
    opaque->copy(photo.constData());
    const Snapshot reference = capture(*opaque);
    for (const QVector<quint32> *variant : {&stripped, &scrambled}) {
        const auto pic = std::make_unique<ATARIpic>();
        pic->copy(variant->constData());
        const Snapshot other = capture(*pic);
        QVERIFY(other.planes[0] == *variant);
        for (int plane = 1; plane < 7; ++plane)
            QVERIFY2(other.planes[plane] == reference.planes[plane], qPrintable(QString::number(plane)));
        QVERIFY(other.averaged == reference.averaged);
        QVERIFY(other.nearest == reference.nearest);
        QVERIFY(other.output == reference.output);
        QVERIFY(other.hues == reference.hues);
    }
    for (int plane = 1; plane < 7; ++plane)
        for (quint32 v : reference.planes[plane])
            QCOMPARE(v & 0xFF000000u, 0u);
}

void TestAtariPic::unsaturatedConversionUsesHueZeroOrOne()
{
    const auto pic = std::make_unique<ATARIpic>();
    pic->copy(photo.constData());
    pic->newSaturation(0.0);
    pic->letsGo();
    for (int j = 0; j < kAtariPixels; ++j) {
        const int hue = pic->nearestBytes()[j] >> 4;
        QVERIFY(hue == 0 || hue == 1);
    }
    for (int e = 0; e < kHues; ++e) {
        const int hue = pic->hueTable()[e];
        QVERIFY(hue == 0x00 || hue == 0x10);
    }
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            QCOMPARE(planeValue(*pic, 0, x, y), photo[y * kWidth + x]);
}

QTEST_GUILESS_MAIN(TestAtariPic)

#include "tst_ataripic.moc"
