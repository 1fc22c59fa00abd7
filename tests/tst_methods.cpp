#include <QtTest>

#include <memory>
#include <vector>

#include "methodtable.h"
#include "ataripic.h"
#include "atariview.h"
#include "bestconversion.h"
#include "colourscience.h"
#include "exhaustivesearch.h"
#include "pictureexports.h"
#include "pictureloader.h"
#include "twoframeprogram.h"

#include <QTemporaryDir>
#include <cmath>

using namespace Geometry;

// The picture store with the best method: how the slider reaches the optimiser, and the quality
// figure of what the Atari shows.
class TestMethods : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sliderScalesChroma_data();
    void sliderScalesChroma();
    void classicIsUnchangedBySwitchingBack();
    void figureIsMeanOverScreenPixels_data();
    void figureIsMeanOverScreenPixels();
    void exactPictureHasFigureZero();
    void twoFramesOnTheStore_data();
    void twoFramesOnTheStore();
    void twoFramesAsCaptured();

private:
    std::vector<quint32> photo;
};

void TestMethods::initTestCase()
{
    photo.resize(kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/coffee.jpg"), photo.data(), &error),
             qPrintable(error));
}

void TestMethods::sliderScalesChroma_data()
{
    QTest::addColumn<int>("slider");      // -1: never moved
    QTest::addColumn<double>("factor");
    QTest::newRow("not moved: as photographed") << -1 << 1.0;
    QTest::newRow("0: grey") << 0 << 0.0;
    QTest::newRow("50: as photographed") << 50 << 1.0;
    QTest::newRow("100: twice") << 100 << 2.0;
}

// Every fourteenth line pair against the exhaustive search at the factor the slider stands for.
void TestMethods::sliderScalesChroma()
{
    QFETCH(int, slider);
    QFETCH(double, factor);
    auto pic = std::make_unique<ATARIpic>();
    pic->setMethod(MethodTable::find("best"));
    if (slider >= 0)
        pic->newSaturation(slider);
    pic->copy(photo.data());

    ColourScience::Lab paletteLab[256];
    for (int i = 0; i < 256; ++i)
        paletteLab[i] = ColourScience::labFromRgb(pic->palette().getBase(quint8(i)));
    for (int p = 0; p < kLinePairs; p += 14) {
        int start = p * 2 * kAtariWidth;
        for (int s = 0; s < kSegmentsPerPair; ++s) {
            const int n = kSegmentLengths[s];
            quint8 expected[kAtariWidth];
            const quint8 hue = exhaustiveSegment(pic->averaged() + start, n, factor, paletteLab, expected);
            QCOMPARE(pic->hueTable()[p * kSegmentsPerPair + s], hue);
            QVERIFY(std::equal(expected, expected + n, pic->outputBytes() + start));
            start += n;
        }
    }

    // The Output plane and the Atari screen show this result.
    QCOMPARE(pic->getPixel(4 * 37 + 2, 28, 3), pic->palette().getBase(pic->outputBytes()[28 * kAtariWidth + 37]));
    std::vector<quint8> screen(kSourcePixels);
    AtariView::render(pic->outputBytes(), pic->hueTable(), screen.data());
    QVERIFY(std::equal(screen.begin(), screen.end(), pic->atariScreen()));
}

void TestMethods::classicIsUnchangedBySwitchingBack()
{
    auto classic = std::make_unique<ATARIpic>();
    classic->copy(photo.data());
    auto switched = std::make_unique<ATARIpic>();
    switched->setMethod(MethodTable::find("best"));
    switched->copy(photo.data());
    switched->setMethod(MethodTable::find("classic"));
    switched->letsGo();
    QVERIFY(std::equal(classic->outputBytes(), classic->outputBytes() + kAtariPixels, switched->outputBytes()));
    QVERIFY(std::equal(classic->hueTable(), classic->hueTable() + kHues, switched->hueTable()));
}

void TestMethods::figureIsMeanOverScreenPixels_data()
{
    QTest::addColumn<bool>("best");
    QTest::addColumn<int>("slider");
    QTest::newRow("classic") << false << 60;
    QTest::newRow("best") << true << 50;
    QTest::newRow("best, doubled chroma: measured against the photo as it is") << true << 100;
}

// The figure worked out the plain way: every screen pixel against its Atari pixel's average.
void TestMethods::figureIsMeanOverScreenPixels()
{
    QFETCH(bool, best);
    QFETCH(int, slider);
    auto pic = std::make_unique<ATARIpic>();
    pic->setMethod(best ? MethodTable::find("best") : MethodTable::find("classic"));
    pic->newSaturation(slider);
    pic->copy(photo.data());

    double sum = 0.0;
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kSourceWidth; ++x) {
            const quint32 shown = pic->getAtariPixel(quint16(x), quint16(y));
            const quint32 photographed = pic->averaged()[y * kAtariWidth + x / 4];
            sum += ColourScience::deltaE2000(ColourScience::labFromRgb(shown), ColourScience::labFromRgb(photographed));
        }
    }
    QVERIFY(qAbs(pic->qualityFigure() - sum / kSourcePixels) < 1e-9);
}

// A picture made of palette greys, each run one grey ramp: the best method reproduces it exactly.
void TestMethods::exactPictureHasFigureZero()
{
    auto pic = std::make_unique<ATARIpic>();
    std::vector<quint32> source(kSourcePixels);
    for (int i = 0; i < kSourcePixels; ++i)
        source[i] = pic->palette().getBase(quint8((i / kSourcePerAtari * 7 + i / kSourceWidth) & 0x0F));
    pic->setMethod(MethodTable::find("best"));
    pic->copy(source.data());
    QCOMPARE(pic->qualityFigure(), 0.0);
    pic->setMethod(MethodTable::find("classic"));
    pic->letsGo();
    QVERIFY(pic->qualityFigure() > 0.0);
}

void TestMethods::twoFramesOnTheStore_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("no flicker") << 0;
    QTest::newRow("default limit") << 10;
}

// Two frames on the store: where the Atari shows a pixel, the L* of its two frames' colours lie
// within the limit (equal with no flicker); showing the same picture in both frames is one of the
// choices, so the figure is at most the best single frame's; the executable written from a const
// store is the two-frame program of the store's frames; with the classic method there is one frame.
void TestMethods::twoFramesOnTheStore()
{
    QFETCH(int, limit);
    auto pic = std::make_unique<ATARIpic>();
    pic->setMethod(MethodTable::find("best"));
    pic->copy(photo.data());
    const double bestFigure = pic->qualityFigure();
    pic->setMethod(MethodTable::find("best", 2));
    pic->setFlickerLimit(limit);
    pic->setThreads(2);
    pic->letsGo();
    QCOMPARE(pic->converted().frames(), 2);

    double largest = 0.0;
    for (quint16 y = 0; y < kSourceHeight; ++y) {
        for (quint16 x = 0; x < kSourceWidth; ++x) {
            const double la = ColourScience::labFromRgb(pic->getAtariFramePixel(x, y, 0)).L;
            const double lb = ColourScience::labFromRgb(pic->getAtariFramePixel(x, y, 1)).L;
            largest = std::max(largest, std::fabs(la - lb));
        }
    }
    QVERIFY2(largest <= limit + 1e-9, qPrintable(QString::number(largest)));
    QVERIFY(qAbs(pic->flickerMax() - largest) < 1e-9);
    QVERIFY(pic->flickerMean() <= largest);
    const double figure = pic->qualityFigure();
    QVERIFY2(figure <= bestFigure, qPrintable(QStringLiteral("%1 > %2").arg(figure).arg(bestFigure)));

    QTemporaryDir dir;
    const QString xexFile = dir.filePath(QStringLiteral("two.xex"));
    QString error;
    const ATARIpic &shown = *pic;
    QVERIFY2(PictureExports::saveXex(shown, xexFile, &error), qPrintable(error));
    QFile written(xexFile);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    const std::vector<quint8> expected = TwoFrameProgram::executable(shown.outputBytes(), shown.hueTable(),
                                                                     shown.outputBytesB(), shown.hueTableB());
    QCOMPARE(bytes.size(), TwoFrameProgram::kXexSize);
    QVERIFY(std::equal(expected.begin(), expected.end(), reinterpret_cast<const quint8 *>(bytes.constData())));

    pic->setMethod(MethodTable::find("classic"));
    pic->letsGo();
    QCOMPARE(pic->converted().frames(), 1);
    QCOMPARE(pic->flickerMean(), 0.0);
}

// The store's two frames of chelsea.jpg at the default settings are what an emulation of the
// executable showed in two successive frames (tests/data/README.md), every screen pixel.
void TestMethods::twoFramesAsCaptured()
{
    std::vector<quint32> chelsea(kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), chelsea.data(), &error),
             qPrintable(error));
    auto pic = std::make_unique<ATARIpic>();
    pic->setMethod(MethodTable::find("best", 2));
    pic->setThreads(2);
    pic->copy(chelsea.data());
    constexpr int kCapturedWidth = 384; // the captured rows, with 32 border pixels on each side
    constexpr int kBorder = 32;
    const char *const names[2] = {"/twoframe-converted.a.screen", "/twoframe-converted.b.screen"};
    const quint8 *const views[2] = {pic->atariScreen(), pic->atariScreenB()};
    for (int frame = 0; frame < 2; ++frame) {
        QFile file(QStringLiteral(RASTREL_TEST_DATA) + QLatin1String(names[frame]));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray captured = file.readAll();
        QCOMPARE(captured.size(), kCapturedWidth * kSourceHeight);
        int differing = 0;
        for (int y = 0; y < kSourceHeight; ++y)
            for (int x = 0; x < kSourceWidth; ++x)
                differing += quint8(captured[y * kCapturedWidth + kBorder + x]) != views[frame][y * kSourceWidth + x];
        QCOMPARE(differing, 0);
    }
}

QTEST_GUILESS_MAIN(TestMethods)
#include "tst_methods.moc"
