#include <QColor>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "ataripalgen.h"

namespace {

// Hue angles in degrees of hues 1 to 15; hue 0 is the gray ramp and has none.
const double kHueAngles[16] = {0.0,   45.0,  22.5,  0.0,   337.5, 315.0, 292.5, 247.5,
                               225.0, 202.5, 180.0, 135.0, 112.5, 90.0,  67.5,  45.0};

// HSV value (brightness) of luminance l: (31 + 15 l) / 256.
double hsvValue(int l)
{
    return (31 + 15 * l) / 256.0;
}

// The toolkit stores each HSV component as round(component * 65535) and hands out the upper
// eight bits of the 16-bit channel. Without saturation every channel is that stored value, so
// the gray of (31 + 15 l) / 256 is 31 + 15 l while that fraction is below one half and one less
// from luminance 7 on, where round() takes off the (31 + 15 l) / 256 it gains over a multiple of 256.
const quint32 kUnsaturatedGray[16] = {0x1F1F1F, 0x2E2E2E, 0x3D3D3D, 0x4C4C4C, 0x5B5B5B, 0x6A6A6A,
                                      0x797979, 0x878787, 0x969696, 0xA5A5A5, 0xB4B4B4, 0xC3C3C3,
                                      0xD2D2D2, 0xE1E1E1, 0xF0F0F0, 0xFFFFFF};

const quint32 kGrayRamp[16] = {0x000000, 0x111111, 0x222222, 0x333333, 0x444444, 0x555555,
                               0x666666, 0x777777, 0x888888, 0x999999, 0xAAAAAA, 0xBBBBBB,
                               0xCCCCCC, 0xDDDDDD, 0xEEEEEE, 0xFFFFFF};

const quint32 kGreenRamp[16] = {0x000000, 0x051300, 0x0B2700, 0x113A00, 0x164E00, 0x1C6200,
                                0x227500, 0x278900, 0x2D9C00, 0x33B000, 0x38C400, 0x3ED700,
                                0x44EB00, 0x4AFF00, 0x60FF3A, 0x76FF74};

// Channel levels for sweeping the colour cube: 0, 15, ..., 255.
QVector<int> cubeLevels()
{
    QVector<int> levels;
    for (int v = 0; v <= 255; v += 15)
        levels.append(v);
    return levels;
}

quint32 rgb(int r, int g, int b)
{
    return quint32(r) << 16 | quint32(g) << 8 | quint32(b);
}

// The luma as plain IEEE double arithmetic gives it, each product and sum rounded on its own: this
// file is built without contraction into fused multiply-adds, and the volatile stores keep every
// rounding in place even so.
int doubleLuma(int r, int g, int b)
{
    volatile double red = r * 0.299;
    volatile double green = g * 0.587;
    volatile double blue = b * 0.114;
    volatile double redGreen = red + green;
    return int(redGreen + blue);
}

} // namespace

class TestAtariPalGen : public QObject
{
    Q_OBJECT

private slots:
    void startsAtSixtyPercent();
    void generatedEntry_data();
    void generatedEntry();
    void generatedFollowsHsv_data();
    void generatedFollowsHsv();
    void unsaturatedHuesAreGray();
    void huesOneAndFifteenAlike_data();
    void huesOneAndFifteenAlike();
    void rebuildReplacesEveryEntry();
    void topByteAlwaysZero();
    void grayRamp_data();
    void grayRamp();
    void greenRamp_data();
    void greenRamp();
    void basePalette_data();
    void basePalette();
    void baseIgnoresSaturation();
    void luma_data();
    void luma();
    void lumaMatchesDoubleArithmetic();
    void nearest_data();
    void nearest();
    void nearestUnsaturatedGivesHueZeroOrOne();
    void nearestNeverHueFifteen_data();
    void nearestNeverHueFifteen();
    void nearestLuminanceIgnoresSaturation();
    void nearestIgnoresTopByte();
    void average_data();
    void average();
    void distance_data();
    void distance();
};

void TestAtariPalGen::startsAtSixtyPercent()
{
    const auto pal = std::make_unique<ATARIpalGen>();
    QCOMPARE(pal->getSaturation(), 0.6);
    QCOMPARE(pal->getRGB(0x3F), quint32(0xFF6666));
    QCOMPARE(pal->getRGB(0xAF), quint32(0x66FFFF));
}

void TestAtariPalGen::generatedEntry_data()
{
    QTest::addColumn<double>("saturation");
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("expected");

    // Hue 3 is 0 degrees: red at full value, the other channels at value * (1 - saturation).
    QTest::newRow("0x3F at 0.6") << 0.6 << 0x3F << 0xFF6666u;
    QTest::newRow("0x3F at 1.0") << 1.0 << 0x3F << 0xFF0000u;
    QTest::newRow("0x3F at 0.0") << 0.0 << 0x3F << 0xFFFFFFu;
    // Hue 10 is 180 degrees: cyan.
    QTest::newRow("0xAF at 0.6") << 0.6 << 0xAF << 0x66FFFFu;
    QTest::newRow("0xAF at 1.0") << 1.0 << 0xAF << 0x00FFFFu;
    // Hue 13 is 90 degrees: red at half value, 0.5 * 65535 rounds up to 32768.
    QTest::newRow("0xDF at 1.0") << 1.0 << 0xDF << 0x80FF00u;
    // Hue 1 is 45 degrees: green at 0.75, 49151.25 -> 49151 -> 0xBF.
    QTest::newRow("0x1F at 1.0") << 1.0 << 0x1F << 0xFFBF00u;
    // Hue 6 is 292.5 degrees: red at 0.875, 57343.125 -> 57343 -> 0xDF.
    QTest::newRow("0x6F at 1.0") << 1.0 << 0x6F << 0xDF00FFu;
    // Hue 7 is 247.5 degrees: red at 0.125, 8191.875 -> 8192 -> 0x20.
    QTest::newRow("0x7F at 1.0") << 1.0 << 0x7F << 0x2000FFu;
    // Darkest red: value 31/256 stored as 7936, upper byte 0x1F.
    QTest::newRow("0x30 at 1.0") << 1.0 << 0x30 << 0x1F0000u;
    // Value 151/256 stored as 38655, upper byte 0x96.
    QTest::newRow("0x38 at 1.0") << 1.0 << 0x38 << 0x960000u;
    QTest::newRow("0x38 at 0.0") << 0.0 << 0x38 << 0x969696u;
    QTest::newRow("0x00 at 1.0") << 1.0 << 0x00 << 0x000000u;
    QTest::newRow("0x0F at 1.0") << 1.0 << 0x0F << 0xFFFFFFu;
}

void TestAtariPalGen::generatedEntry()
{
    QFETCH(double, saturation);
    QFETCH(int, index);
    QFETCH(uint, expected);

    const auto pal = std::make_unique<ATARIpalGen>();
    pal->setSaturation(saturation);
    QCOMPARE(pal->getSaturation(), saturation);
    QCOMPARE(pal->getRGB(static_cast<unsigned char>(index)), quint32(expected));
}

void TestAtariPalGen::generatedFollowsHsv_data()
{
    QTest::addColumn<double>("saturation");
    QTest::newRow("0.0") << 0.0;
    QTest::newRow("0.25") << 0.25;
    QTest::newRow("0.6") << 0.6;
    QTest::newRow("0.93") << 0.93;
    QTest::newRow("1.0") << 1.0;
}

void TestAtariPalGen::generatedFollowsHsv()
{
    QFETCH(double, saturation);

    const auto pal = std::make_unique<ATARIpalGen>();
    pal->setSaturation(saturation);
    for (int l = 0; l < 16; ++l)
        QCOMPARE(pal->getRGB(static_cast<unsigned char>(l)), kGrayRamp[l]);
    for (int hue = 1; hue < 16; ++hue) {
        for (int l = 0; l < 16; ++l) {
            QColor colour;
            colour.setHsvF(kHueAngles[hue] / 360.0, saturation, hsvValue(l), 1.0);
            const quint32 expected = rgb(colour.red(), colour.green(), colour.blue());
            const int index = hue * 16 + l;
            if (pal->getRGB(static_cast<unsigned char>(index)) != expected)
                QFAIL(qPrintable(QStringLiteral("entry 0x%1: got %2, expected %3")
                                     .arg(index, 2, 16, QLatin1Char('0'))
                                     .arg(pal->getRGB(static_cast<unsigned char>(index)), 6, 16, QLatin1Char('0'))
                                     .arg(expected, 6, 16, QLatin1Char('0'))));
        }
    }
}

void TestAtariPalGen::unsaturatedHuesAreGray()
{
    const auto pal = std::make_unique<ATARIpalGen>();
    pal->setSaturation(0.0);
    for (int hue = 1; hue < 16; ++hue)
        for (int l = 0; l < 16; ++l)
            QCOMPARE(pal->getRGB(static_cast<unsigned char>(hue * 16 + l)), kUnsaturatedGray[l]);
}

void TestAtariPalGen::huesOneAndFifteenAlike_data()
{
    QTest::addColumn<double>("saturation");
    QTest::newRow("0.0") << 0.0;
    QTest::newRow("0.01") << 0.01;
    QTest::newRow("0.5") << 0.5;
    QTest::newRow("0.6") << 0.6;
    QTest::newRow("1.0") << 1.0;
}

void TestAtariPalGen::huesOneAndFifteenAlike()
{
    QFETCH(double, saturation);

    const auto pal = std::make_unique<ATARIpalGen>();
    pal->setSaturation(saturation);
    for (int l = 0; l < 16; ++l)
        QCOMPARE(pal->getRGB(static_cast<unsigned char>(0x10 | l)),
                 pal->getRGB(static_cast<unsigned char>(0xF0 | l)));
}

void TestAtariPalGen::rebuildReplacesEveryEntry()
{
    const auto fresh = std::make_unique<ATARIpalGen>();
    const auto changed = std::make_unique<ATARIpalGen>();
    changed->setSaturation(1.0);
    QVERIFY(changed->getRGB(0x3F) != fresh->getRGB(0x3F));
    changed->setSaturation(0.0);
    changed->setSaturation(0.6);
    for (int i = 0; i < 256; ++i)
        QCOMPARE(changed->getRGB(static_cast<unsigned char>(i)), fresh->getRGB(static_cast<unsigned char>(i)));
}

void TestAtariPalGen::topByteAlwaysZero()
{
    const auto pal = std::make_unique<ATARIpalGen>();
    for (double s : {0.0, 0.6, 1.0}) {
        pal->setSaturation(s);
        for (int i = 0; i < 256; ++i) {
            const auto x = static_cast<unsigned char>(i);
            QCOMPARE(pal->getRGB(x) & 0xFF000000u, 0u);
            QCOMPARE(pal->getBase(x) & 0xFF000000u, 0u);
            QCOMPARE(pal->getGray(x) & 0xFF000000u, 0u);
            QCOMPARE(pal->getGreen(x) & 0xFF000000u, 0u);
        }
    }
}

void TestAtariPalGen::grayRamp_data()
{
    QTest::addColumn<int>("luminance");
    for (int l = 0; l < 16; ++l)
        QTest::newRow(qPrintable(QString::number(l))) << l;
}

void TestAtariPalGen::grayRamp()
{
    QFETCH(int, luminance);

    const auto pal = std::make_unique<ATARIpalGen>();
    for (int hue = 0; hue < 16; ++hue)
        QCOMPARE(pal->getGray(static_cast<unsigned char>(hue << 4 | luminance)), kGrayRamp[luminance]);
}

void TestAtariPalGen::greenRamp_data()
{
    QTest::addColumn<int>("luminance");
    for (int l = 0; l < 16; ++l)
        QTest::newRow(qPrintable(QString::number(l))) << l;
}

void TestAtariPalGen::greenRamp()
{
    QFETCH(int, luminance);

    const auto pal = std::make_unique<ATARIpalGen>();
    for (int hue = 0; hue < 16; ++hue)
        QCOMPARE(pal->getGreen(static_cast<unsigned char>(hue << 4 | luminance)), kGreenRamp[luminance]);
}

void TestAtariPalGen::basePalette_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("expected");

    QTest::newRow("0x00") << 0x00 << 0x000000u;
    QTest::newRow("0x01") << 0x01 << 0x0E0D0Eu;
    QTest::newRow("0x08") << 0x08 << 0x7A7A79u;
    QTest::newRow("0x0F") << 0x0F << 0xECECECu;
    QTest::newRow("0x10") << 0x10 << 0x350000u;
    QTest::newRow("0x1F") << 0x1F << 0xFFE3A1u;
    QTest::newRow("0x34") << 0x34 << 0x77252Au;
    QTest::newRow("0x38") << 0x38 << 0xB26167u;
    QTest::newRow("0x5F") << 0x5F << 0xFECDFFu;
    QTest::newRow("0x70") << 0x70 << 0x00005Cu;
    QTest::newRow("0x7F") << 0x7F << 0xD8E7FFu;
    QTest::newRow("0x80") << 0x80 << 0x000B45u;
    QTest::newRow("0x8F") << 0x8F << 0xC8F3FFu;
    QTest::newRow("0xA8") << 0xA8 << 0x449A65u;
    QTest::newRow("0xAB") << 0xAB << 0x77CC99u;
    QTest::newRow("0xB0") << 0xB0 << 0x002A00u;
    QTest::newRow("0xC7") << 0xC7 << 0x589008u;
    QTest::newRow("0xE0") << 0xE0 << 0x1E0900u;
    QTest::newRow("0xEF") << 0xEF << 0xFEF386u;
    QTest::newRow("0xF0") << 0xF0 << 0x340000u;
    QTest::newRow("0xF8") << 0xF8 << 0xAA712Eu;
    QTest::newRow("0xFF") << 0xFF << 0xFFE3A1u;
}

void TestAtariPalGen::basePalette()
{
    QFETCH(int, index);
    QFETCH(uint, expected);

    const auto pal = std::make_unique<ATARIpalGen>();
    QCOMPARE(pal->getBase(static_cast<unsigned char>(index)), quint32(expected));
}

void TestAtariPalGen::baseIgnoresSaturation()
{
    const auto fresh = std::make_unique<ATARIpalGen>();
    const auto changed = std::make_unique<ATARIpalGen>();
    for (double s : {0.0, 1.0, 0.37}) {
        changed->setSaturation(s);
        for (int i = 0; i < 256; ++i)
            QCOMPARE(changed->getBase(static_cast<unsigned char>(i)), fresh->getBase(static_cast<unsigned char>(i)));
    }
}

void TestAtariPalGen::luma_data()
{
    QTest::addColumn<uint>("colour");
    QTest::addColumn<int>("expected");

    // The doubles nearest 0.299 and 0.587 lie below them, the one nearest 0.114 above; a gray v has
    // the exact luma v, and whether the rounded products and sums end below v decides its luma.
    QTest::newRow("101010 (15.999999999999998)") << 0x101010u << 15;
    QTest::newRow("202020 (31.999999999999996)") << 0x202020u << 31;
    QTest::newRow("404040 (63.99999999999999)") << 0x404040u << 63;
    QTest::newRow("808080 (127.99999999999999)") << 0x808080u << 127;
    // 52.623999999999995 + 103.312 = 155.93599999999998, + 20.064 = 175.99999999999997; a fused
    // multiply-add of the products would give 176.
    QTest::newRow("B0B0B0 (175.99999999999997)") << 0xB0B0B0u << 175;
    QTest::newRow("D0D0D0 (207.99999999999997)") << 0xD0D0D0u << 207;
    QTest::newRow("FFFFFF (255.0)") << 0xFFFFFFu << 255;
    // Colours whose exact luma (299 R + 587 G + 114 B) / 1000 is a multiple of 16.
    QTest::newRow("5CD832 (159.99999999999997)") << 0x5CD832u << 159;
    QTest::newRow("050F32 (16.0)") << 0x050F32u << 16;
    QTest::newRow("3620FF (64.0)") << 0x3620FFu << 64;
    // 0.299 + 0.587 rounds to 0.8859999999999999, and adding 0.114 stays below 1.
    QTest::newRow("010101 (0.9999999999999999)") << 0x010101u << 0;
    QTest::newRow("FF0000 (76.24499999999999)") << 0xFF0000u << 76;
}

void TestAtariPalGen::luma()
{
    QFETCH(uint, colour);
    QFETCH(int, expected);

    QCOMPARE(ATARIpalGen::luma(colour), expected);
    QCOMPARE(ATARIpalGen::luma(colour | 0xC3000000u), expected);
    const auto pal = std::make_unique<ATARIpalGen>();
    QCOMPARE(pal->nearest(colour) & 0x0F, expected >> 4);
}

void TestAtariPalGen::lumaMatchesDoubleArithmetic()
{
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                if (ATARIpalGen::luma(rgb(r, g, b)) != doubleLuma(r, g, b))
                    QFAIL(qPrintable(QStringLiteral("colour %1: %2, double arithmetic %3")
                                         .arg(rgb(r, g, b), 6, 16, QLatin1Char('0'))
                                         .arg(ATARIpalGen::luma(rgb(r, g, b)))
                                         .arg(doubleLuma(r, g, b))));
}

void TestAtariPalGen::nearest_data()
{
    QTest::addColumn<double>("saturation");
    QTest::addColumn<uint>("colour");
    QTest::addColumn<int>("expected");

    // Luma of 808080 is 127.99999999999999 in double arithmetic: luminance 7.
    QTest::newRow("808080") << 0.6 << 0x808080u << 0x07;
    QTest::newRow("101010") << 0.6 << 0x101010u << 0x00;
    QTest::newRow("202020") << 0.6 << 0x202020u << 0x01;
    // Luma 175 and 207 (see luma_data); the grays AAAAAA and CCCCCC are nearer than any entry
    // with a hue, whose channels at 0.6 lie at least 0.6 of their value apart.
    QTest::newRow("B0B0B0") << 0.6 << 0xB0B0B0u << 0x0A;
    QTest::newRow("D0D0D0") << 0.6 << 0xD0D0D0u << 0x0C;
    QTest::newRow("FFFFFF") << 0.6 << 0xFFFFFFu << 0x0F;
    QTest::newRow("000000") << 0.6 << 0x000000u << 0x00;
    // Exact match with 0x3F at full saturation, but luma 76.245 gives luminance 4.
    QTest::newRow("FF0000 at 1.0") << 1.0 << 0xFF0000u << 0x34;
    // Exact match with 0x3F at 0.6; luma 147.747.
    QTest::newRow("FF6666 at 0.6") << 0.6 << 0xFF6666u << 0x39;
    // Exact match with 0xAF at 0.6; luma 209.253.
    QTest::newRow("66FFFF at 0.6") << 0.6 << 0x66FFFFu << 0xAD;
    // Exact match with 0xAF at 1.0; luma 178.755.
    QTest::newRow("00FFFF at 1.0") << 1.0 << 0x00FFFFu << 0xAB;
    // Pure blue at 240 degrees: 0x7F (2000FF, distance 1024) beats 0x8F (0040FF, 4096)
    // and 0x7E (1E00F0, 1125); luma 29.07 gives luminance 1.
    QTest::newRow("0000FF at 1.0") << 1.0 << 0x0000FFu << 0x71;
    // Without saturation 0x16 (797979) is 7 away per channel, closer than 0x08 (888888);
    // it comes before 0x17 (878787), which is as close.
    QTest::newRow("808080 at 0.0") << 0.0 << 0x808080u << 0x17;
    // Exact match with 0x0B in the gray row (BBBBBB); luma just under 187.
    QTest::newRow("BBBBBB at 1.0") << 1.0 << 0xBBBBBBu << 0x0B;
}

void TestAtariPalGen::nearest()
{
    QFETCH(double, saturation);
    QFETCH(uint, colour);
    QFETCH(int, expected);

    const auto pal = std::make_unique<ATARIpalGen>();
    pal->setSaturation(saturation);
    QCOMPARE(int(pal->nearest(colour)), expected);
}

void TestAtariPalGen::nearestUnsaturatedGivesHueZeroOrOne()
{
    const auto pal = std::make_unique<ATARIpalGen>();
    pal->setSaturation(0.0);
    const QVector<int> levels = cubeLevels();
    QSet<int> hues;
    for (int r : levels)
        for (int g : levels)
            for (int b : levels) {
                const int hue = pal->nearest(rgb(r, g, b)) >> 4;
                QVERIFY2(hue == 0 || hue == 1, qPrintable(QStringLiteral("colour %1 %2 %3 gave hue %4")
                                                              .arg(r).arg(g).arg(b).arg(hue)));
                hues.insert(hue);
            }
    QCOMPARE(hues.size(), 2);
}

void TestAtariPalGen::nearestNeverHueFifteen_data()
{
    QTest::addColumn<double>("saturation");
    QTest::newRow("0.0") << 0.0;
    QTest::newRow("0.3") << 0.3;
    QTest::newRow("0.6") << 0.6;
    QTest::newRow("1.0") << 1.0;
}

void TestAtariPalGen::nearestNeverHueFifteen()
{
    QFETCH(double, saturation);

    const auto pal = std::make_unique<ATARIpalGen>();
    pal->setSaturation(saturation);
    const QVector<int> levels = cubeLevels();
    for (int r : levels)
        for (int g : levels)
            for (int b : levels)
                QVERIFY((pal->nearest(rgb(r, g, b)) >> 4) != 15);
    // The orange of hue 1 itself goes to hue 1, not to its twin.
    QCOMPARE(pal->nearest(pal->getRGB(0xFC)) >> 4, 1);
}

void TestAtariPalGen::nearestLuminanceIgnoresSaturation()
{
    const auto low = std::make_unique<ATARIpalGen>();
    const auto high = std::make_unique<ATARIpalGen>();
    low->setSaturation(0.0);
    high->setSaturation(1.0);
    const QVector<int> levels = cubeLevels();
    for (int r : levels)
        for (int g : levels)
            for (int b : levels) {
                const quint32 c = rgb(r, g, b);
                QCOMPARE(low->nearest(c) & 0x0F, high->nearest(c) & 0x0F);
            }
}

void TestAtariPalGen::nearestIgnoresTopByte()
{
    const auto pal = std::make_unique<ATARIpalGen>();
    const QVector<int> levels = cubeLevels();
    for (int r : levels)
        for (int g : levels)
            for (int b : levels) {
                const quint32 c = rgb(r, g, b);
                QCOMPARE(pal->nearest(c | 0xFF000000u), pal->nearest(c));
                QCOMPARE(pal->nearest(c | 0x5A000000u), pal->nearest(c));
            }
}

void TestAtariPalGen::average_data()
{
    QTest::addColumn<uint>("a");
    QTest::addColumn<uint>("b");
    QTest::addColumn<uint>("c");
    QTest::addColumn<uint>("d");
    QTest::addColumn<uint>("expected");

    QTest::newRow("remainder dropped") << 0x000003u << 0u << 0u << 0u << 0x000000u;
    QTest::newRow("all bits set") << 0xFFFFFFFFu << 0xFFFFFFFFu << 0xFFFFFFFFu << 0xFFFFFFFFu << 0x00FFFFFFu;
    QTest::newRow("no carry between channels") << 0x0001FFu << 0u << 0u << 0u << 0x00003Fu;
    QTest::newRow("three primaries and black") << 0xFF0000u << 0x00FF00u << 0x0000FFu << 0x000000u << 0x3F3F3Fu;
    QTest::newRow("three reds") << 0xFF0000u << 0xFF0000u << 0xFF0000u << 0x000000u << 0xBF0000u;
    QTest::newRow("top byte ignored") << 0xFF102030u << 0x00102030u << 0x80102030u << 0x01102030u << 0x102030u;
    QTest::newRow("mixed") << 0x102030u << 0x203040u << 0x304050u << 0x405061u << 0x283848u;
    QTest::newRow("same value") << 0x7A7A79u << 0x7A7A79u << 0x7A7A79u << 0x7A7A79u << 0x7A7A79u;
}

void TestAtariPalGen::average()
{
    QFETCH(uint, a);
    QFETCH(uint, b);
    QFETCH(uint, c);
    QFETCH(uint, d);
    QFETCH(uint, expected);

    const auto pal = std::make_unique<ATARIpalGen>();
    quint32 values[4] = {a, b, c, d};
    std::sort(values, values + 4);
    do {
        QCOMPARE(pal->average(values[0], values[1], values[2], values[3]), quint32(expected));
    } while (std::next_permutation(values, values + 4));
}

void TestAtariPalGen::distance_data()
{
    QTest::addColumn<uint>("p");
    QTest::addColumn<uint>("q");
    QTest::addColumn<uint>("expected");

    QTest::newRow("red and green") << 0xFF0000u << 0x00FF00u << 130050u;
    QTest::newRow("black and white") << 0x000000u << 0xFFFFFFu << 195075u;
    QTest::newRow("self") << 0x7A7A79u << 0x7A7A79u << 0u;
    QTest::newRow("negative differences") << 0x000000u << 0x102030u << 3584u;
    QTest::newRow("mixed signs") << 0x10FF00u << 0x2000FFu << (16u * 16u + 255u * 255u + 255u * 255u);
    QTest::newRow("top byte ignored") << 0xFF123456u << 0x00123456u << 0u;
    QTest::newRow("top byte ignored, colours differ") << 0xFF000001u << 0x12000003u << 4u;
}

void TestAtariPalGen::distance()
{
    QFETCH(uint, p);
    QFETCH(uint, q);
    QFETCH(uint, expected);

    const auto pal = std::make_unique<ATARIpalGen>();
    QCOMPARE(pal->distance(p, q), quint32(expected));
    QCOMPARE(pal->distance(q, p), quint32(expected));
}

QTEST_GUILESS_MAIN(TestAtariPalGen)

#include "tst_ataripalgen.moc"
