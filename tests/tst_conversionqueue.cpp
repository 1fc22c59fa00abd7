#include <QtTest>

#include "methodtable.h"
#include "ataripalgen.h"
#include "ataripic.h"
#include "conversionqueue.h"
#include "pictureloader.h"

#include <atomic>
#include <memory>
#include <vector>

using namespace Geometry;

namespace {

QString dataFile(const char *name)
{
    return QStringLiteral(RASTREL_TEST_DATA "/") + QLatin1String(name);
}

// A palette whose every entry differs from the same entry of the built-in one and of any other
// palette made with a different seed: red is the seed, green and blue the index.
std::vector<quint32> markedPalette(quint8 seed)
{
    std::vector<quint32> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[size_t(i)] = quint32(seed) << 16 | quint32(i) << 8 | quint32(255 - i);
    return palette;
}

// Where the Output plane of pic differs from palette[output byte], or an empty string.
QString outputMismatch(const ATARIpic &pic, const std::vector<quint32> &palette)
{
    for (int j = 0; j < kAtariPixels; ++j) {
        const auto x = quint16(j % kAtariWidth * kSourcePerAtari);
        const auto y = quint16(j / kAtariWidth);
        const quint32 expected = palette[pic.outputBytes()[j]];
        if (pic.getPixel(x, y, 3) != expected)
            return QStringLiteral("pixel %1: %2, expected %3")
                .arg(j)
                .arg(pic.getPixel(x, y, 3), 6, 16, QLatin1Char('0'))
                .arg(expected, 6, 16, QLatin1Char('0'));
    }
    return QString();
}

ConversionSettings withSlider(ConversionSettings settings, int value)
{
    settings.hasSlider = true;
    settings.slider = value;
    return settings;
}

ConversionSettings withPalette(ConversionSettings settings, std::vector<quint32> palette)
{
    settings.basePalette = std::move(palette);
    return settings;
}

} // namespace

class tst_ConversionQueue : public QObject
{
    Q_OBJECT

private slots:
    // Work left running by a deleted queue ends before the next test (and before the program ends).
    void cleanup() { ConversionQueue::waitForRunningWork(); }
    void initTestCase();
    void latestPaletteIsShown();
    void lastSliderAfterFailedLoadIsShown();
    void builtInPaletteAfterSliderIsShown();
    void secondLoadIsRefusedWhileLoading();
    void threadCountDoesNotChangeResult_data();
    void threadCountDoesNotChangeResult();

private:
    // A reader that serves the test photo for any name but "bad", after the gate opens.
    PictureReader gatedReader();

    std::vector<quint32> photo;
    std::atomic<bool> gateOpen{true};
};

void tst_ConversionQueue::initTestCase()
{
    photo.resize(kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(dataFile("chelsea.jpg"), photo.data(), &error), qPrintable(error));
}

PictureReader tst_ConversionQueue::gatedReader()
{
    return [this](const QString &fileName, quint32 *pixels, QString *error) {
        while (!gateOpen.load())
            QThread::msleep(1);
        if (fileName == QLatin1String("bad")) {
            *error = QStringLiteral("refused by the test");
            return false;
        }
        std::copy(photo.begin(), photo.end(), pixels);
        return true;
    };
}

// Palette A, the slider and palette B asked for while a load runs: B is shown, with the slider.
void tst_ConversionQueue::latestPaletteIsShown()
{
    ConversionQueue queue(ConversionSettings(), 2);
    queue.setPictureReader(gatedReader());
    QSignalSpy shown(&queue, &ConversionQueue::shown);
    gateOpen = false;
    QVERIFY(queue.load(QStringLiteral("photo")));
    const std::vector<quint32> a = markedPalette(0xA0);
    const std::vector<quint32> b = markedPalette(0xB0);
    queue.setSettings(withPalette(queue.settings(), a));
    queue.setSettings(withSlider(queue.settings(), 80));
    queue.setSettings(withPalette(queue.settings(), b));
    gateOpen = true;
    queue.waitForIdle();

    QCOMPARE(shown.count(), 2); // the load, then one conversion with the latest settings
    const QString wrong = outputMismatch(queue.picture(), b);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(queue.picture().palette().getSaturation(), 0.8);
}

// The slider, a load that fails and the slider again, all before the event loop runs: the picture
// shown is converted with the last slider value and the failure is reported once.
void tst_ConversionQueue::lastSliderAfterFailedLoadIsShown()
{
    ConversionQueue queue(ConversionSettings(), 1);
    queue.setPictureReader(gatedReader());
    QVERIFY(queue.load(QStringLiteral("photo")));
    queue.waitForIdle();
    QSignalSpy failed(&queue, &ConversionQueue::failed);
    QSignalSpy idle(&queue, &ConversionQueue::idle);

    queue.setSettings(withSlider(queue.settings(), 10));
    QVERIFY(queue.load(QStringLiteral("bad")));
    queue.setSettings(withSlider(queue.settings(), 90));
    queue.waitForIdle();

    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), QStringLiteral("bad"));
    QCOMPARE(failed.first().at(1).toString(), QStringLiteral("refused by the test"));
    QCOMPARE(idle.count(), 1);
    QCOMPARE(queue.pictureFile(), QStringLiteral("photo"));
    QCOMPARE(queue.picture().palette().getSaturation(), 0.9);
    // The generated palette at saturation 0.9 gives the PAL plane: every pixel one of its colours.
    ATARIpalGen generated;
    generated.setSaturation(0.9);
    const ATARIpic &pic = queue.picture();
    for (int j = 0; j < kAtariPixels; j += 97) {
        const quint32 shownColour = pic.getPixel(quint16(j % kAtariWidth * kSourcePerAtari), quint16(j / kAtariWidth), 2);
        QCOMPARE(shownColour, generated.getRGB(pic.nearestBytes()[j]));
    }
}

// The slider and then the built-in palette, after a palette file: the built-in colours are shown.
void tst_ConversionQueue::builtInPaletteAfterSliderIsShown()
{
    ConversionQueue queue(withPalette(ConversionSettings(), markedPalette(0xC0)), 2);
    queue.setPictureReader(gatedReader());
    gateOpen = false;
    QVERIFY(queue.load(QStringLiteral("photo")));
    queue.setSettings(withSlider(queue.settings(), 30));
    queue.setSettings(withPalette(queue.settings(), {}));
    gateOpen = true;
    queue.waitForIdle();

    const ATARIpalGen builtIn;
    std::vector<quint32> table(256);
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = builtIn.getBase(quint8(i));
    const QString wrong = outputMismatch(queue.picture(), table);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(queue.picture().palette().hasBuiltInBase());
}

void tst_ConversionQueue::secondLoadIsRefusedWhileLoading()
{
    ConversionQueue queue(ConversionSettings(), 1);
    queue.setPictureReader(gatedReader());
    gateOpen = false;
    QVERIFY(queue.load(QStringLiteral("photo")));
    QVERIFY(!queue.load(QStringLiteral("other")));
    QCOMPARE(queue.loadingFile(), QStringLiteral("photo"));
    QVERIFY(queue.isBusy());
    gateOpen = true;
    queue.waitForIdle();
    QVERIFY(queue.hasPicture());
    QVERIFY(queue.loadingFile().isEmpty());
    QVERIFY(queue.load(QStringLiteral("other")));
    queue.waitForIdle();
    QCOMPARE(queue.pictureFile(), QStringLiteral("other"));
}

void tst_ConversionQueue::threadCountDoesNotChangeResult_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("2") << 2;
    QTest::newRow("3") << 3;
    QTest::newRow("8") << 8;
}

// The best method shares line pairs among the threads it is given; the bytes are those of one thread.
void tst_ConversionQueue::threadCountDoesNotChangeResult()
{
    QFETCH(int, threads);
    ATARIpic one;
    one.setMethod(MethodTable::find("best"));
    one.copy(photo.data());
    ATARIpic many;
    many.setMethod(MethodTable::find("best"));
    many.setThreads(threads);
    many.copy(photo.data());
    QVERIFY(std::equal(one.outputBytes(), one.outputBytes() + kAtariPixels, many.outputBytes()));
    QVERIFY(std::equal(one.hueTable(), one.hueTable() + kHues, many.hueTable()));
}

QTEST_GUILESS_MAIN(tst_ConversionQueue)
#include "tst_conversionqueue.moc"
