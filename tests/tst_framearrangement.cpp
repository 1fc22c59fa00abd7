#include <QtTest>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "areaflicker.h"
#include "ataripalgen.h"
#include "atarigeometry.h"
#include "atariview.h"
#include "framearrangement.h"
#include "qualityfigure.h"
#include "displaytable.h"

using namespace Geometry;
using FrameArrangement::Coupling;

namespace {

constexpr int kScreen = AtariView::kWidth * AtariView::kHeight;

struct Frames {
    std::vector<quint8> outputA = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesA = std::vector<quint8>(kHues);
    std::vector<quint8> outputB = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> huesB = std::vector<quint8>(kHues);

    void render(std::vector<quint8> &a, std::vector<quint8> &b) const
    {
        a.resize(kScreen);
        b.resize(kScreen);
        AtariView::render(outputA.data(), huesA.data(), a.data());
        AtariView::render(outputB.data(), huesB.data(), b.data());
    }
};

// The run (hue table entry) of every Atari pixel, from the segment lengths.
std::vector<int> runs()
{
    std::vector<int> run;
    for (int pair = 0; pair < kLinePairs; ++pair)
        for (int s = 0; s < kSegmentsPerPair; ++s)
            run.insert(run.end(), kSegmentLengths[s], pair * kSegmentsPerPair + s);
    return run;
}

// Two frames as the two-frame converter leaves them (hue of the pixel's run in the high nibble),
// random but for the shares of runs with one hue in both frames and of pixels with one luminance;
// in the region given by `flat` (rows 0 to flat - 1) every pixel's colours are the same pair, darker
// in frame A, as a flat photo area gives.
Frames randomFrames(quint32 seed, int sameHuePercent, int sameLuminancePercent, int flat)
{
    std::mt19937 random(seed);
    Frames f;
    for (int h = 0; h < kHues; ++h) {
        const int a = int(random() % 16);
        const int b = int(random() % 100) < sameHuePercent ? a : int(random() % 16);
        f.huesA[size_t(h)] = quint8(a << 4);
        f.huesB[size_t(h)] = quint8(b << 4);
    }
    const std::vector<int> run = runs();
    for (int i = 0; i < kAtariPixels; ++i) {
        int la = int(random() % 16);
        int lb = int(random() % 100) < sameLuminancePercent ? la : int(random() % 16);
        if (i / kAtariWidth < flat) {
            la = 5;
            lb = 9;
            const int r = run[size_t(i)];
            f.huesB[size_t(r)] = f.huesA[size_t(r)];
        }
        f.outputA[size_t(i)] = quint8(la);
        f.outputB[size_t(i)] = quint8(lb);
    }
    for (int i = 0; i < kAtariPixels; ++i) {
        f.outputA[size_t(i)] |= f.huesA[size_t(run[size_t(i)])];
        f.outputB[size_t(i)] |= f.huesB[size_t(run[size_t(i)])];
    }
    return f;
}

// How many screen pixels do not show the same unordered pair of colours in both arrangements; with
// `above`, the pair of (colour, colour of the pixel above) is compared.
int changedPairs(const std::vector<quint8> &a0, const std::vector<quint8> &b0, const std::vector<quint8> &a1,
                 const std::vector<quint8> &b1, bool above)
{
    int changed = 0;
    for (int p = 0; p < kScreen; ++p) {
        const int up = p >= AtariView::kWidth ? p - AtariView::kWidth : p;
        const int before[2] = {a0[p] << 8 | (above ? a0[up] : 0), b0[p] << 8 | (above ? b0[up] : 0)};
        const int after[2] = {a1[p] << 8 | (above ? a1[up] : 0), b1[p] << 8 | (above ? b1[up] : 0)};
        const bool same = (before[0] == after[0] && before[1] == after[1])
            || (before[0] == after[1] && before[1] == after[0]);
        changed += !same;
    }
    return changed;
}

// The largest |mean L*(A) - mean L*(B)| over blocks of 8 Atari pixels by 32 lines (every half block)
// in rows 0 to rowEnd - 1.
double largestBlockDifference(const std::vector<quint8> &a, const std::vector<quint8> &b,
                              const std::vector<quint32> &palette, int rowEnd)
{
    double l[256];
    for (int i = 0; i < 256; ++i)
        l[i] = ColourScience::labFromRgb(palette[size_t(i)]).L;
    double largest = 0.0;
    for (int y0 = 0; y0 + 32 <= rowEnd; y0 += 16)
        for (int x0 = 0; x0 + 32 <= AtariView::kWidth; x0 += 16) {
            double sum = 0.0;
            for (int y = y0; y < y0 + 32; ++y)
                for (int x = x0; x < x0 + 32; ++x)
                    sum += l[a[size_t(y * AtariView::kWidth + x)]] - l[b[size_t(y * AtariView::kWidth + x)]];
            largest = std::max(largest, std::fabs(sum) / (32 * 32));
        }
    return largest;
}

} // namespace

class TestFrameArrangement : public QObject
{
    Q_OBJECT

private slots:
    void keepsEveryPair_data();
    void keepsEveryPair();
    void ignoresWhichFrameWasWhich();
    void sameWithAnyThreads_data();
    void sameWithAnyThreads();
    void findsTheBestOfFewUnits();
    void lowPassWorkedValues_data();
    void lowPassWorkedValues();
    void eyeSigma();
    void mapGreys_data();
    void mapGreys();
};

void TestFrameArrangement::keepsEveryPair_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("sameHue");
    QTest::addColumn<int>("sameLuminance");
    QTest::addColumn<int>("flat");
    QTest::addColumn<bool>("lineAbove");
    // Many pictures: from runs of one hue throughout (pixels free) to none (whole runs only), with
    // and without equal luminances, with a flat area, and through a display that mixes lines.
    const int shares[][2] = {{100, 0}, {100, 30}, {0, 0}, {0, 50}, {50, 10}, {80, 80}, {20, 90}};
    quint32 seed = 1;
    for (const auto &share : shares)
        for (int flat : {0, 120}) {
            const bool lineAbove = seed % 3 == 0;
            QTest::addRow("hues %d%% luminances %d%% flat %d%s", share[0], share[1], flat,
                          lineAbove ? " line above" : "")
                << seed++ << share[0] << share[1] << flat << lineAbove;
        }
}

void TestFrameArrangement::keepsEveryPair()
{
    QFETCH(quint32, seed);
    QFETCH(int, sameHue);
    QFETCH(int, sameLuminance);
    QFETCH(int, flat);
    QFETCH(bool, lineAbove);
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    Frames f = randomFrames(seed, sameHue, sameLuminance, flat);
    std::vector<quint8> a0, b0, a1, b1;
    f.render(a0, b0);
    const FrameArrangement::Outcome outcome =
        FrameArrangement::arrange(palette.data(), lineAbove ? Coupling::LineAbove : Coupling::None, f.outputA.data(),
                                  f.huesA.data(), f.outputB.data(), f.huesB.data());
    f.render(a1, b1);
    QCOMPARE(changedPairs(a0, b0, a1, b1, false), 0);
    if (lineAbove)
        QCOMPARE(changedPairs(a0, b0, a1, b1, true), 0);
    const std::vector<int> run = runs();
    for (int i = 0; i < kAtariPixels; ++i) {
        QCOMPARE(f.outputA[size_t(i)] & 0xF0, int(f.huesA[size_t(run[size_t(i)])]));
        QCOMPARE(f.outputB[size_t(i)] & 0xF0, int(f.huesB[size_t(run[size_t(i)])]));
    }
    QVERIFY(outcome.after <= outcome.before);
    if (!lineAbove && flat > 0) {
        // A flat area darker in frame A throughout pulses as a whole before, and not after (away
        // from the random rows, whose flicker the filter spreads into it).
        const int away = flat - 2 * AreaFlicker::LowPass().radius();
        QVERIFY(largestBlockDifference(a0, b0, palette, away) > 10.0);
        const double after = largestBlockDifference(a1, b1, palette, away);
        QVERIFY2(after <= 1.0, qPrintable(QString::number(after)));
    }
    if (seed % 7 == 1) {
        // The figures, the long way, on a few of them.
        std::vector<quint32> averaged(kAtariPixels);
        std::mt19937 random(seed);
        for (quint32 &p : averaged)
            p = random() & 0xFFFFFFu;
        const DisplayModel &plain = DisplayTable::at(DisplayTable::find(QStringLiteral("plain"))).model();
        const QualityFigure::Figures before = QualityFigure::figures(ScreenFrames::two(a0.data(), b0.data()),
                                                                     palette.data(), plain, averaged.data());
        const QualityFigure::Figures after = QualityFigure::figures(ScreenFrames::two(a1.data(), b1.data()),
                                                                    palette.data(), plain, averaged.data());
        QCOMPARE(after.quality, before.quality);
        QCOMPARE(after.flickerMean, before.flickerMean);
        QCOMPARE(after.flickerMax, before.flickerMax);
        std::vector<quint32> seen[2] = {std::vector<quint32>(kScreen), std::vector<quint32>(kScreen)};
        plain.view(ScreenFrames::two(a0.data(), b0.data()), palette.data(), seen[0].data());
        plain.view(ScreenFrames::two(a1.data(), b1.data()), palette.data(), seen[1].data());
        QVERIFY(seen[0] == seen[1]);
    }
}

// The result depends on the pairs only: given with the frames exchanged, the same frames come out.
void TestFrameArrangement::ignoresWhichFrameWasWhich()
{
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    Frames f = randomFrames(77, 60, 20, 40);
    Frames g;
    g.outputA = f.outputB;
    g.huesA = f.huesB;
    g.outputB = f.outputA;
    g.huesB = f.huesA;
    FrameArrangement::arrange(palette.data(), Coupling::None, f.outputA.data(), f.huesA.data(), f.outputB.data(),
                              f.huesB.data());
    FrameArrangement::arrange(palette.data(), Coupling::None, g.outputA.data(), g.huesA.data(), g.outputB.data(),
                              g.huesB.data());
    QVERIFY(f.outputA == g.outputA);
    QVERIFY(f.huesA == g.huesA);
    QVERIFY(f.outputB == g.outputB);
    QVERIFY(f.huesB == g.huesB);
}

void TestFrameArrangement::sameWithAnyThreads_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("sameHue");
    QTest::addColumn<int>("sameLuminance");
    QTest::addColumn<bool>("lineAbove");
    QTest::addColumn<int>("threads");
    // Pictures whose starts end at different totals (so that which start wins matters), shared among
    // as many threads as there are starts, fewer, and more.
    for (int threads : {2, 3, 8}) {
        QTest::addRow("whole runs, %d threads", threads) << 11u << 0 << 0 << false << threads;
        QTest::addRow("pixels, %d threads", threads) << 12u << 70 << 20 << false << threads;
        QTest::addRow("line above, %d threads", threads) << 13u << 40 << 40 << true << threads;
    }
}

// The starts of the search are shared among threads; the frames and the figures come out as with one.
void TestFrameArrangement::sameWithAnyThreads()
{
    QFETCH(quint32, seed);
    QFETCH(int, sameHue);
    QFETCH(int, sameLuminance);
    QFETCH(bool, lineAbove);
    QFETCH(int, threads);
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    const Coupling coupling = lineAbove ? Coupling::LineAbove : Coupling::None;
    Frames one = randomFrames(seed, sameHue, sameLuminance, 0);
    Frames many = one;
    const FrameArrangement::Outcome alone = FrameArrangement::arrange(
        palette.data(), coupling, one.outputA.data(), one.huesA.data(), one.outputB.data(), one.huesB.data(), 1);
    const FrameArrangement::Outcome shared = FrameArrangement::arrange(palette.data(), coupling, many.outputA.data(),
                                                                       many.huesA.data(), many.outputB.data(),
                                                                       many.huesB.data(), threads);
    QVERIFY(alone.swapped > 0);
    QVERIFY(one.outputA == many.outputA);
    QVERIFY(one.huesA == many.huesA);
    QVERIFY(one.outputB == many.outputB);
    QVERIFY(one.huesB == many.huesB);
    QCOMPARE(shared.after, alone.after);
    QCOMPARE(shared.swapped, alone.swapped);
}

// With only a few pixels flickering, close together, every arrangement can be tried: by the
// weighted sum of the low-passed difference, computed here at every screen pixel with AreaFlicker's
// filter, the arrangement found is among the best twentieth of all 512.
void TestFrameArrangement::findsTheBestOfFewUnits()
{
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    std::mt19937 random(5);
    for (int trial = 0; trial < 4; ++trial) {
        // One hue in both frames everywhere and one luminance but at ten pixels near each other.
        Frames f;
        for (int h = 0; h < kHues; ++h)
            f.huesA[size_t(h)] = f.huesB[size_t(h)] = quint8((random() % 16) << 4);
        const std::vector<int> run = runs();
        for (int i = 0; i < kAtariPixels; ++i)
            f.outputA[size_t(i)] = f.outputB[size_t(i)] = quint8(f.huesA[size_t(run[size_t(i)])] | (random() % 16));
        std::vector<int> chosen;
        while (chosen.size() < 10) {
            const int i = int((100 + random() % 4) * kAtariWidth + 30 + random() % 5);
            if (std::find(chosen.begin(), chosen.end(), i) != chosen.end())
                continue;
            chosen.push_back(i);
            f.outputB[size_t(i)] = quint8((f.outputB[size_t(i)] & 0xF0) | ((f.outputB[size_t(i)] + 3 + random() % 12) & 15));
        }
        std::vector<quint8> a, b;
        f.render(a, b);
        std::vector<double> yA(kScreen), yB(kScreen), blend(kScreen), weight(kScreen);
        AreaFlicker::luminance(a.data(), palette.data(), yA.data());
        AreaFlicker::luminance(b.data(), palette.data(), yB.data());
        const AreaFlicker::LowPass lowPass;
        for (int p = 0; p < kScreen; ++p)
            blend[size_t(p)] = 0.5 * (yA[size_t(p)] + yB[size_t(p)]);
        lowPass.filter(blend.data(), weight.data());
        for (double &w : weight)
            w = std::pow(AreaFlicker::lightnessSlope(w), 2);
        // Each pixel's part of the low-passed difference, and the screen pixels they reach.
        std::vector<std::vector<double>> part(10, std::vector<double>(kScreen));
        for (int k = 0; k < 10; ++k) {
            std::vector<double> d(kScreen, 0.0);
            for (int p = 0; p < kScreen; ++p)
                if (p / AtariView::kWidth * kAtariWidth + p % AtariView::kWidth / kSourcePerAtari == chosen[size_t(k)])
                    d[size_t(p)] = yA[size_t(p)] - yB[size_t(p)];
            lowPass.filter(d.data(), part[size_t(k)].data());
        }
        std::vector<int> reached;
        for (int p = 0; p < kScreen; ++p)
            if (std::any_of(part.begin(), part.end(), [p](const std::vector<double> &g) { return g[size_t(p)] != 0.0; }))
                reached.push_back(p);
        const auto total = [&](unsigned mask) {
            double sum = 0.0;
            for (int p : reached) {
                double filtered = 0.0;
                for (int k = 0; k < 10; ++k)
                    filtered += (mask >> k & 1u ? -1.0 : 1.0) * part[size_t(k)][size_t(p)];
                sum += weight[size_t(p)] * filtered * filtered;
            }
            return sum;
        };
        const std::vector<quint8> given = f.outputA;
        const FrameArrangement::Outcome outcome = FrameArrangement::arrange(
            palette.data(), Coupling::None, f.outputA.data(), f.huesA.data(), f.outputB.data(), f.huesB.data());
        QCOMPARE(outcome.units, 10);
        unsigned found = 0;
        for (int k = 0; k < 10; ++k)
            found |= unsigned(f.outputA[size_t(chosen[size_t(k)])] != given[size_t(chosen[size_t(k)])]) << k;
        if (found & 512u)
            found ^= 1023u; // both frames exchanged is the same arrangement
        const double arranged = total(found);
        int better = 0;
        for (unsigned mask = 0; mask < 512; ++mask) // the last pixel's sign fixed: both signs are one
            better += total(mask) < arranged * (1.0 - 1e-9);
        QVERIFY2(better < 512 / 20, qPrintable(QStringLiteral("%1 of 512 better").arg(better)));
    }
}

void TestFrameArrangement::lowPassWorkedValues_data()
{
    QTest::addColumn<double>("sigma");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("impulse");
    QTest::addColumn<double>("expected");
    // Frame A grey 80 (Y 0.2158605), frame B grey 40 (Y 0.0512695) everywhere, or frame A grey 80 at
    // one screen pixel only. Worked by hand from the sampled Gaussian: with sigma 1 the taps are
    // e^(-k^2/2) / 2.5059 for k = -3..3 (centre 0.3990503); with the eye's sigma (4.70964) they reach
    // 15 pixels, e^(-k^2 / 44.3614) / 11.79379, centre 0.0847904, and taps 0..15 sum to 0.5423952.
    // Inside, a flat field passes unchanged: L*(0.2158605) - L*(0.0512695) = 53.58501 - 27.09341.
    QTest::newRow("flat, inside") << AreaFlicker::kEyeSigma << 160 << 120 << false << 26.4915997;
    // At the corner only the taps 0..15 of each direction fall on the picture (black outside):
    // Y times 0.5423952^2 in both frames.
    QTest::newRow("flat, corner") << AreaFlicker::kEyeSigma << 0 << 0 << false << 17.6191681;
    // The opposite corner, the last line and column: the same taps, mirrored.
    QTest::newRow("flat, last corner") << AreaFlicker::kEyeSigma << 319 << 239 << false << 17.6191681;
    // One pixel: frame A's Y rises by 0.1645911 * 0.0847904^2 = 0.0011833 over 0.0512695 there.
    QTest::newRow("one pixel") << AreaFlicker::kEyeSigma << 100 << 50 << true << 0.3290171;
    // Sigma 1: (0.2158605 - 0.0512695) * 0.3990503^2 = 0.0262097 over 0.0512695.
    QTest::newRow("one pixel, sigma 1") << 1.0 << 100 << 50 << true << 6.3588547;
}

void TestFrameArrangement::lowPassWorkedValues()
{
    QFETCH(double, sigma);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, impulse);
    QFETCH(double, expected);
    std::vector<quint32> palette(256, 0);
    palette[1] = 0x808080;
    palette[2] = 0x404040;
    std::vector<quint8> a(kScreen, impulse ? 2 : 1);
    std::vector<quint8> b(kScreen, 2);
    if (impulse)
        a[size_t(y * AtariView::kWidth + x)] = 1;
    std::vector<double> difference(kScreen);
    const AreaFlicker::LowPass lowPass(sigma);
    AreaFlicker::filteredDifference(a.data(), b.data(), palette.data(), difference.data(), lowPass);
    QVERIFY2(std::fabs(difference[size_t(y * AtariView::kWidth + x)] - expected) < 1e-5,
             qPrintable(QString::number(difference[size_t(y * AtariView::kWidth + x)], 'f', 7)));
    if (sigma == AreaFlicker::kEyeSigma && impulse) {
        QCOMPARE(lowPass.radius(), 15);
        QVERIFY(std::fabs(lowPass.tap(0) - 0.0847904) < 1e-7);
        QVERIFY(std::fabs(AreaFlicker::areaFlicker(a.data(), b.data(), palette.data()) - expected) < 1e-5);
        // The figure is the size of the difference, whichever frame is the brighter.
        QVERIFY(std::fabs(AreaFlicker::areaFlicker(b.data(), a.data(), palette.data()) - expected) < 1e-5);
    }
    if (sigma == 1.0) {
        QCOMPARE(lowPass.radius(), 3);
        QVERIFY(std::fabs(lowPass.tap(-3) - 0.0044330) < 1e-7);
        QVERIFY(std::fabs(lowPass.tap(1) - 0.2420362) < 1e-7);
    }
}

// The eye's sigma from the viewing distance: a Gaussian halves 0.5 cycles per degree at
// sqrt(ln 2 / 2) / (0.5 pi) degrees, and a degree spans 720 lines per radian times pi / 180.
void TestFrameArrangement::eyeSigma()
{
    const double pi = 3.14159265358979323846;
    const double degrees = std::sqrt(std::log(2.0) / 2.0) / (0.5 * pi);
    const double linesPerDegree = 3 * 240 * pi / 180.0;
    QVERIFY(std::fabs(AreaFlicker::kEyeSigma - degrees * linesPerDegree) < 1e-12);
    QVERIFY(std::fabs(std::exp(-2.0 * std::pow(pi * degrees * 0.5, 2)) - 0.5) < 1e-12);
}

void TestFrameArrangement::mapGreys_data()
{
    QTest::addColumn<double>("difference");
    QTest::addColumn<int>("limit");
    QTest::addColumn<quint32>("grey");
    QTest::newRow("none") << 0.0 << 10 << 0xFF000000u;
    QTest::newRow("half the limit") << 5.0 << 10 << 0xFF808080u; // 127.5 rounds up
    QTest::newRow("a tenth") << 1.0 << 10 << 0xFF1A1A1Au;        // 25.5 rounds up
    QTest::newRow("the limit") << 10.0 << 10 << 0xFFFFFFFFu;
    QTest::newRow("above the limit") << 12.0 << 10 << 0xFFFFFFFFu;
    QTest::newRow("limit 100") << 40.0 << 100 << 0xFF666666u; // 102
    QTest::newRow("limit 0, none") << 0.0 << 0 << 0xFF000000u;
    QTest::newRow("limit 0, some") << 0.5 << 0 << 0xFFFFFFFFu;
}

void TestFrameArrangement::mapGreys()
{
    QFETCH(double, difference);
    QFETCH(int, limit);
    QFETCH(quint32, grey);
    QCOMPARE(AreaFlicker::mapGrey(difference, limit), grey);
}

QTEST_GUILESS_MAIN(TestFrameArrangement)
#include "tst_framearrangement.moc"
