#include <QtTest>

#include "colourscience.h"

using ColourScience::Lab;

// sRGB to CIE L*a*b* against values from the definitions, and CIEDE2000 against the 34 reference
// pairs published by Sharma, Wu and Dalal (2005), which exercise its hue-angle edge cases, and two
// pairs of exactly opposite hues worked from the same formulas.
class TestColourScience : public QObject
{
    Q_OBJECT

private slots:
    void labFromRgb_data();
    void labFromRgb();
    void deltaE2000_data();
    void deltaE2000();
    void deltaE2000IsZeroForEqualColours();
};

void TestColourScience::labFromRgb_data()
{
    QTest::addColumn<quint32>("rgb");
    QTest::addColumn<double>("L");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("tolerance");

    // White and black are the ends of the scale; every grey is achromatic.
    QTest::newRow("white") << 0xFFFFFFu << 100.0 << 0.0 << 0.0 << 1e-9;
    QTest::newRow("black") << 0x000000u << 0.0 << 0.0 << 0.0 << 1e-9;
    QTest::newRow("top byte ignored") << 0xFF000000u << 0.0 << 0.0 << 0.0 << 1e-9;
    // 0x77 = 119: linear 0.18448, L* = 116 * 0.18448^(1/3) - 16.
    QTest::newRow("grey 77") << 0x777777u << 50.0344 << 0.0 << 0.0 << 1e-4;
    // 1/255 lies on both linear segments: Y = (1/255) / 12.92, L* = Y * 24389 / 27.
    QTest::newRow("grey 01") << 0x010101u << (1.0 / 255.0 / 12.92) * 24389.0 / 27.0 << 0.0 << 0.0 << 1e-9;
    // The sRGB primaries, as commonly tabulated to two decimals.
    QTest::newRow("red") << 0xFF0000u << 53.24 << 80.09 << 67.20 << 0.01;
    QTest::newRow("green") << 0x00FF00u << 87.74 << -86.18 << 83.19 << 0.01;
    QTest::newRow("blue") << 0x0000FFu << 32.30 << 79.20 << -107.86 << 0.01;
}

void TestColourScience::labFromRgb()
{
    QFETCH(quint32, rgb);
    QFETCH(double, L);
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(double, tolerance);

    const Lab lab = ColourScience::labFromRgb(rgb);
    QVERIFY2(qAbs(lab.L - L) <= tolerance, qPrintable(QString::number(lab.L, 'f', 6)));
    QVERIFY2(qAbs(lab.a - a) <= tolerance, qPrintable(QString::number(lab.a, 'f', 6)));
    QVERIFY2(qAbs(lab.b - b) <= tolerance, qPrintable(QString::number(lab.b, 'f', 6)));
}

void TestColourScience::deltaE2000_data()
{
    QTest::addColumn<double>("L1");
    QTest::addColumn<double>("a1");
    QTest::addColumn<double>("b1");
    QTest::addColumn<double>("L2");
    QTest::addColumn<double>("a2");
    QTest::addColumn<double>("b2");
    QTest::addColumn<double>("expected");

    static const double pairs[34][7] = {
        {50.0000, 2.6772, -79.7751, 50.0000, 0.0000, -82.7485, 2.0425},
        {50.0000, 3.1571, -77.2803, 50.0000, 0.0000, -82.7485, 2.8615},
        {50.0000, 2.8361, -74.0200, 50.0000, 0.0000, -82.7485, 3.4412},
        {50.0000, -1.3802, -84.2814, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, -1.1848, -84.8006, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, -0.9009, -85.5211, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, 0.0000, 0.0000, 50.0000, -1.0000, 2.0000, 2.3669},
        {50.0000, -1.0000, 2.0000, 50.0000, 0.0000, 0.0000, 2.3669},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0009, 7.1792},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0010, 7.1792},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0011, 7.2195},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0012, 7.2195},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0009, -2.4900, 4.8045},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0010, -2.4900, 4.8045},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0011, -2.4900, 4.7461},
        {50.0000, 2.5000, 0.0000, 50.0000, 0.0000, -2.5000, 4.3065},
        {50.0000, 2.5000, 0.0000, 73.0000, 25.0000, -18.0000, 27.1492},
        {50.0000, 2.5000, 0.0000, 61.0000, -5.0000, 29.0000, 22.8977},
        {50.0000, 2.5000, 0.0000, 56.0000, -27.0000, -3.0000, 31.9030},
        {50.0000, 2.5000, 0.0000, 58.0000, 24.0000, 15.0000, 19.4535},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.1736, 0.5854, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.2972, 0.0000, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 1.8634, 0.5757, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.2592, 0.3350, 1.0000},
        {60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644},
        {63.0109, -31.0961, -5.8663, 62.8187, -29.7946, -4.0864, 1.2630},
        {61.2901, 3.7196, -5.3901, 61.4292, 2.2480, -4.9620, 1.8731},
        {35.0831, -44.1164, 3.7933, 35.0232, -40.0716, 1.5901, 1.8645},
        {22.7233, 20.0904, -46.6940, 23.0331, 14.9730, -42.5619, 2.0373},
        {36.4612, 47.8580, 18.3852, 36.2715, 50.5065, 21.2231, 1.4146},
        {90.8027, -2.0831, 1.4410, 91.1528, -1.6435, 0.0447, 1.4441},
        {90.9257, -0.5406, -0.9208, 88.6381, -0.8985, -0.7239, 1.5381},
        {6.7747, -0.2908, -2.4247, 5.8714, -0.0985, -2.2286, 0.6377},
        {2.0776, 0.0795, -1.1350, 0.9033, -0.0636, -0.5514, 0.9082},
    };
    for (int i = 0; i < 34; ++i) {
        const double *p = pairs[i];
        QTest::addRow("pair %d", i + 1) << p[0] << p[1] << p[2] << p[3] << p[4] << p[5] << p[6];
    }
    // Exactly opposite hues (on the a and b axes, so both angles are exact): dh' = +-180 degrees and
    // h' the plain mean, 90 and 180 degrees. Worked from the published formulas in degrees: for the
    // first, G = 0.397374, C1' = 16.76849, C2' = 27.94748, dH' = 43.2960, T = 0.617651, SL = 1.018298,
    // SC = 2.006110, SH = 1.207143, RT about 0, giving sqrt(14.7305^2 + 5.5725^2 + 35.8665^2).
    QTest::newRow("opposite hues, a axis") << 60.0 << 12.0 << 0.0 << 45.0 << -20.0 << 0.0 << 39.1721;
    QTest::newRow("opposite hues, b axis") << 30.0 << 0.0 << -25.0 << 35.0 << 0.0 << 15.0 << 30.6622;
}

void TestColourScience::deltaE2000()
{
    QFETCH(double, L1);
    QFETCH(double, a1);
    QFETCH(double, b1);
    QFETCH(double, L2);
    QFETCH(double, a2);
    QFETCH(double, b2);
    QFETCH(double, expected);

    const Lab x{L1, a1, b1};
    const Lab y{L2, a2, b2};
    const double forward = ColourScience::deltaE2000(x, y);
    const double backward = ColourScience::deltaE2000(y, x);
    // The published differences are rounded to four decimals.
    QVERIFY2(qAbs(forward - expected) <= 0.5e-4 + 1e-9, qPrintable(QString::number(forward, 'f', 8)));
    QVERIFY2(qAbs(backward - forward) <= 1e-12, qPrintable(QString::number(backward - forward, 'g', 6)));
}

void TestColourScience::deltaE2000IsZeroForEqualColours()
{
    const quint32 colours[] = {0x000000u, 0xFFFFFFu, 0x808080u, 0xFF0000u, 0x1234ABu, 0x00FFFFu};
    for (quint32 rgb : colours) {
        const Lab lab = ColourScience::labFromRgb(rgb);
        QCOMPARE(ColourScience::deltaE2000(lab, lab), 0.0);
    }
}

QTEST_GUILESS_MAIN(TestColourScience)
#include "tst_colourscience.moc"
