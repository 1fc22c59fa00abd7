#include <QtTest>

#include <QAbstractButton>
#include <QBuffer>
#include <QComboBox>
#include <QDataStream>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGroupBox>
#include <QMimeData>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>

#include "displaytable.h"
#include "methodtable.h"
#include "ataripic.h"
#include "adjustdialog.h"
#include "colourscience.h"
#include "mainwindow.h"
#include "pictureloader.h"
#include "windowtesting.h"

using namespace Geometry;
using namespace WindowTesting;

namespace {

const quint32 kOpaque = 0xFF000000u;

// The image on the display: the topmost pixmap item at the scene origin.
QImage shownImage(const MainWindow &window)
{
    const auto *view = child<QGraphicsView>(window, "graphicsView");
    if (!view || !view->scene())
        return QImage();
    const QList<QGraphicsItem *> items = view->scene()->items(QPointF(0.5, 0.5));
    for (const QGraphicsItem *item : items) {
        const auto *pixmapItem = qgraphicsitem_cast<const QGraphicsPixmapItem *>(item);
        if (pixmapItem && pixmapItem->pos() == QPointF(0, 0))
            return pixmapItem->pixmap().toImage();
    }
    return QImage();
}

qint64 shownCacheKey(const MainWindow &window)
{
    const auto *view = child<QGraphicsView>(window, "graphicsView");
    const QList<QGraphicsItem *> items = view->scene()->items(QPointF(0.5, 0.5));
    for (const QGraphicsItem *item : items) {
        if (const auto *pixmapItem = qgraphicsitem_cast<const QGraphicsPixmapItem *>(item))
            return pixmapItem->pixmap().cacheKey();
    }
    return 0;
}

// The stored 0xAARRGGBB word of each pixel, so that a missing alpha shows up.
QImage rawWords(const QImage &image)
{
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32);
}

quint32 word(const QImage &image, int x, int y)
{
    return reinterpret_cast<const quint32 *>(image.constScanLine(y))[x];
}

using Expectation = std::function<quint32(int x, int y)>;

// Empty when every displayed word equals the expectation, else a description of the first difference.
QString mismatch(const QImage &shown, const Expectation &expected)
{
    if (shown.size() != QSize(kSourceWidth, kSourceHeight))
        return QStringLiteral("display is %1 x %2").arg(shown.width()).arg(shown.height());
    const QImage words = rawWords(shown);
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kSourceWidth; ++x) {
            const quint32 got = word(words, x, y);
            const quint32 want = expected(x, y);
            if (got != want)
                return QString::asprintf("(%d, %d): shown %08X, expected %08X", x, y, got, want);
        }
    }
    return QString();
}

// Empty when every displayed colour (alpha ignored) is one of the allowed RGB values.
QString outsideSet(const QImage &shown, const QSet<quint32> &allowed)
{
    const QImage words = rawWords(shown);
    for (int y = 0; y < words.height(); ++y) {
        for (int x = 0; x < words.width(); ++x) {
            const quint32 rgb = word(words, x, y) & 0x00FFFFFFu;
            if (!allowed.contains(rgb))
                return QString::asprintf("(%d, %d): %06X is not allowed here", x, y, rgb);
        }
    }
    return QString();
}

Expectation planeOf(const ATARIpic &pic, quint8 mode)
{
    return [&pic, mode](int x, int y) { return pic.getPixel(quint16(x), quint16(y), mode) | kOpaque; };
}

Expectation sameAs(const QImage &before)
{
    const QImage words = rawWords(before);
    return [words](int x, int y) { return word(words, x, y); };
}

// The demo chart worked out from its definition: hue bands of 15 rows, luminance steps of 20 columns.
Expectation demoChart(const ATARIpalGen &pal, quint8 mode)
{
    return [&pal, mode](int x, int y) {
        const unsigned hue = unsigned(y) * 16 / kSourceHeight;
        const unsigned luminance = unsigned(x) * 16 / kSourceWidth;
        const auto v = static_cast<unsigned char>(hue << 4 | luminance);
        switch (mode) {
        case 4:
            return pal.getGray(v) | kOpaque;
        case 5:
            return pal.getGreen(v) | kOpaque;
        case 6:
            return pal.getRGB(static_cast<unsigned char>(hue << 4 | 0x0A)) | kOpaque;
        default:
            return pal.getRGB(v) | kOpaque;
        }
    };
}

QRadioButton *radio(const MainWindow &window, int number)
{
    return window.findChild<QRadioButton *>(QStringLiteral("radioButton_%1").arg(number));
}

// Clicks the round indicator, which lies inside the button's click area in every style.
void clickRadio(QRadioButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect indicator = button->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, button);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, indicator.center());
}

// The source picture as the window's loader produces it, for building reference conversions.
std::vector<quint32> loadedPixels(const QString &fileName)
{
    std::vector<quint32> pixels(kSourcePixels, 0);
    QString error;
    if (!PictureLoader::load(fileName, pixels.data(), &error))
        pixels.clear();
    return pixels;
}

std::unique_ptr<ATARIpic> referenceConversion(const std::vector<quint32> &pixels, int saturation)
{
    auto pic = std::make_unique<ATARIpic>();
    pic->newSaturation(saturation);
    pic->copy(pixels.data());
    return pic;
}

int sofOffset(const QByteArray &jpeg)
{
    int i = 2;
    while (i + 4 <= jpeg.size()) {
        if (quint8(jpeg[i]) != 0xFF)
            return -1;
        const quint8 marker = quint8(jpeg[i + 1]);
        if (marker >= 0xC0 && marker <= 0xC2)
            return i;
        i += 2 + (quint8(jpeg[i + 2]) << 8 | quint8(jpeg[i + 3]));
    }
    return -1;
}

// Loads image through "Load Picture", stored as a PNG under a .jpg name (pictures are read by their
// content); false if it could not be stored.
bool loadImage(MainWindow &window, FakeDialogs &fake, const QImage &image)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture.jpg"));
    if (!dir.isValid() || !image.save(path, "PNG"))
        return false;
    loadFile(window, fake, path);
    return true;
}

QRgb blockColour(int column, int row)
{
    return qRgb(column * 30 + 15, row * 40 + 20, (column * 7 + row * 11) * 9 % 256);
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { cleanUp(); }
    void initTestCase();
    void startsFixedWithDemoChart();
    void displayIsOneToOne();
    void slotsAreConnectedByName();
    void radioButtonShowsPlane_data();
    void radioButtonShowsPlane();
    void clickingCheckedButtonRepaints();
    void sliderBeforeLoadRedrawsDemo();
    void sliderKeys_data();
    void sliderKeys();
    void loadShowsPictureInCurrentMode();
    void loadedPlanesFollowModes_data();
    void loadedPlanesFollowModes();
    void cancelledLoadChangesNothing();
    void badFileChangesNothing_data();
    void badFileChangesNothing();
    void sliderAfterLoadReconverts();
    void loadAfterSliderUsesMovedSaturation();
    void pictureFillsFrame_data();
    void pictureFillsFrame();
    void displayIsOpaque();
    void exportWritesFile_data();
    void exportWritesFile();
    void failedExportKeepsExistingFile_data();
    void failedExportKeepsExistingFile();
    void cancelledExportWritesNothing_data();
    void cancelledExportWritesNothing();
    void exitClosesWindow();
    void keysChoosePreviews_data();
    void keysChoosePreviews();
    void paletteFileIsUsedAndRemembered();
    void rememberedChoicesAtStartAndShiftP();
    void bestMethodIsChosenAndRemembered();
    void twoFramesAreAFormOfBestAndRemembered();
    void frameViewsAndFlickerMapNameThemselves();
    void palDisplayIsChosenAndRemembered();
    void openFilterMatches_data();
    void openFilterMatches();
    void saveNameAndOverwrite_data();
    void saveNameAndOverwrite();
    void foldersAreRemembered();
    void keysClickButtons_data();
    void keysClickButtons();
    void slowLoadKeepsWindowResponsive();
    void failedSlowLoadKeepsLaterSliderMove();
    void sliderMovesAreGathered_data();
    void sliderMovesAreGathered();
    void droppedFileIsLoaded_data();
    void droppedFileIsLoaded();
    void failedSaveKeepsSaveFolder();
    void atariViewUnchecksButtons();
    void sliderToolTip_data();
    void sliderToolTip();
    void adjustDialogConvertsResetsAndIsRemembered();

private:
    SettingsFolder settingsFolder;
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(settingsFolder.isValid());
}

void tst_MainWindow::startsFixedWithDemoChart()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);

    QCOMPARE(window.size(), QSize(512, 512));
    QCOMPARE(window.minimumSize(), QSize(512, 512));
    QCOMPARE(window.maximumSize(), QSize(512, 512));
    QCOMPARE(window.windowTitle(), QStringLiteral("Rastrel Zo9 v0.3"));
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));

    QVERIFY(radio(window, 1)->isChecked());
    for (int number = 2; number <= 7; ++number)
        QVERIFY(!radio(window, number)->isChecked());
    QVERIFY(!child<QPushButton>(window, "pushButton_Save")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "pushButton_Compile")->isEnabled());
    QVERIFY(child<QPushButton>(window, "pushButton_Load")->isEnabled());

    // The form sets the slider to 50 before the slots are connected: the palette keeps its
    // initial saturation 0.6 and the display shows the chart of that palette.
    QCOMPARE(child<QSlider>(window, "horizontalSlider")->value(), 50);
    QCOMPARE(window.picture().palette().getSaturation(), 0.6);
    const QString wrong = mismatch(shownImage(window), demoChart(window.picture().palette(), 0));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(512, 512));
    window.resize(700, 600);
    QCOMPARE(window.size(), QSize(512, 512));

    // Disabled export buttons ask nothing.
    clickButton(window, "pushButton_Save");
    clickButton(window, "pushButton_Compile");
    QVERIFY(fake.saveQuestions.isEmpty());
}

void tst_MainWindow::displayIsOneToOne()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto *view = child<QGraphicsView>(window, "graphicsView");
    QCOMPARE(view->size(), QSize(320, 240));

    // What the view paints on screen is the chart, one picture pixel per screen pixel, with no
    // frame or scroll bar over it.
    const QImage onScreen = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString wrong = mismatch(onScreen, demoChart(window.picture().palette(), 0));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_MainWindow::slotsAreConnectedByName()
{
    MainWindow window;
    const QMetaObject *meta = window.metaObject();
    QCOMPARE(meta->className(), "MainWindow");
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());

    QStringList slotNames;
    QStringList signalNames;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal) {
            signalNames << QString::fromLatin1(method.methodSignature());
            continue;
        }
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        slotNames << QString::fromLatin1(method.methodSignature());
    }
    const QStringList expected = {
        "on_pushButton_Exit_clicked()", "on_pushButton_Load_clicked()",  "on_pushButton_Save_clicked()",
        "on_pushButton_Compile_clicked()", "on_radioButton_1_clicked()", "on_radioButton_2_clicked()",
        "on_radioButton_3_clicked()",     "on_radioButton_4_clicked()",  "on_radioButton_5_clicked()",
        "on_radioButton_6_clicked()",     "on_radioButton_7_clicked()",
        "on_horizontalSlider_valueChanged(int)",
    };
    QCOMPARE(slotNames, expected);
    QCOMPARE(signalNames, (QStringList{"conversionShown()", "idle()"}));

    // A connection exists exactly when disconnecting it succeeds.
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod slot = meta->method(i);
        if (slot.methodType() == QMetaMethod::Signal)
            continue;
        const QString name = QString::fromLatin1(slot.name());
        QVERIFY(name.startsWith(QLatin1String("on_")));
        const int split = name.lastIndexOf(QLatin1Char('_'));
        const QString objectName = name.mid(3, split - 3);
        const QByteArray signalName = name.mid(split + 1).toLatin1();
        QObject *sender = window.findChild<QObject *>(objectName);
        QVERIFY2(sender, qPrintable(objectName));

        bool connected = false;
        const QMetaObject *senderMeta = sender->metaObject();
        for (int j = 0; j < senderMeta->methodCount() && !connected; ++j) {
            const QMetaMethod signal = senderMeta->method(j);
            if (signal.methodType() == QMetaMethod::Signal && signal.name() == signalName)
                connected = QObject::disconnect(sender, signal, &window, slot);
        }
        QVERIFY2(connected, qPrintable(name));
    }
}

void tst_MainWindow::radioButtonShowsPlane_data()
{
    QTest::addColumn<int>("number");
    const char *captions[] = {"Original", "GTIA", "ATARI PAL", "Output", "Gray", "Green", "Chroma"};
    for (int number = 1; number <= 7; ++number)
        QTest::newRow(captions[number - 1]) << number;
}

void tst_MainWindow::radioButtonShowsPlane()
{
    QFETCH(int, number);
    const auto mode = quint8(number - 1);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Start from another mode, so that a button that does nothing is caught.
    clickRadio(radio(window, number == 7 ? 6 : 7));

    clickRadio(radio(window, number));
    QVERIFY(radio(window, number)->isChecked());
    QString wrong = mismatch(shownImage(window), planeOf(window.picture(), mode));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    wrong = mismatch(shownImage(window), demoChart(window.picture().palette(), mode));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    QVERIFY(!child<QPushButton>(window, "pushButton_Save")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "pushButton_Compile")->isEnabled());
}

void tst_MainWindow::clickingCheckedButtonRepaints()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    clickRadio(radio(window, 5));
    const QImage before = shownImage(window);
    const qint64 key = shownCacheKey(window);

    clickRadio(radio(window, 5));
    QVERIFY(radio(window, 5)->isChecked());
    QVERIFY(shownCacheKey(window) != key);
    const QString wrong = mismatch(shownImage(window), sameAs(before));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_MainWindow::sliderBeforeLoadRedrawsDemo()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *slider = child<QSlider>(window, "horizontalSlider");
    // Each finished conversion is shown from another picture store: read the palette afresh.
    const auto pal = [&window]() -> const ATARIpalGen & { return window.picture().palette(); };

    const QImage startColour = shownImage(window);
    clickRadio(radio(window, 5));
    const QImage startGray = shownImage(window);
    clickRadio(radio(window, 6));
    const QImage startGreen = shownImage(window);
    clickRadio(radio(window, 1));

    slider->setValue(0);
    window.waitForIdle();
    QCOMPARE(pal().getSaturation(), 0.0);
    QVERIFY(!mismatch(shownImage(window), sameAs(startColour)).isEmpty());
    QString wrong = mismatch(shownImage(window), demoChart(pal(), 0));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    // The ramps do not depend on the saturation.
    clickRadio(radio(window, 5));
    wrong = mismatch(shownImage(window), sameAs(startGray));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    clickRadio(radio(window, 6));
    wrong = mismatch(shownImage(window), sameAs(startGreen));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    // Value 60 is the palette the window starts with.
    clickRadio(radio(window, 1));
    slider->setValue(60);
    window.waitForIdle();
    QCOMPARE(pal().getSaturation(), 0.6);
    wrong = mismatch(shownImage(window), sameAs(startColour));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    slider->setValue(100);
    window.waitForIdle();
    QCOMPARE(pal().getSaturation(), 1.0);
    wrong = mismatch(shownImage(window), demoChart(pal(), 0));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    QVERIFY(!child<QPushButton>(window, "pushButton_Save")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "pushButton_Compile")->isEnabled());
}

void tst_MainWindow::sliderKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("value");

    QTest::newRow("right") << int(Qt::Key_Right) << 55;
    QTest::newRow("left") << int(Qt::Key_Left) << 45;
    QTest::newRow("page up") << int(Qt::Key_PageUp) << 70;
    QTest::newRow("page down") << int(Qt::Key_PageDown) << 30;
    QTest::newRow("home") << int(Qt::Key_Home) << 0;
    QTest::newRow("end") << int(Qt::Key_End) << 100;
}

void tst_MainWindow::sliderKeys()
{
    QFETCH(int, key);
    QFETCH(int, value);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *slider = child<QSlider>(window, "horizontalSlider");
    QTest::keyClick(slider, Qt::Key(key));
    window.waitForIdle();

    QCOMPARE(slider->value(), value);
    QCOMPARE(window.picture().palette().getSaturation(), value / 100.0);
    const QString wrong = mismatch(shownImage(window), demoChart(window.picture().palette(), 0));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_MainWindow::loadShowsPictureInCurrentMode()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    clickRadio(radio(window, 7));
    const QImage demoChroma = shownImage(window);
    loadPhoto(window, fake);

    QCOMPARE(fake.openQuestions, QStringList{"Open JPG|" + MainWindow::openFilter()});
    QVERIFY2(fake.warnings.isEmpty(), qPrintable(fake.warnings.join('\n')));
    QVERIFY(child<QPushButton>(window, "pushButton_Save")->isEnabled());
    QVERIFY(child<QPushButton>(window, "pushButton_Compile")->isEnabled());
    QVERIFY(radio(window, 7)->isChecked());

    const QImage shown = shownImage(window);
    QVERIFY(!mismatch(shown, sameAs(demoChroma)).isEmpty());
    QString wrong = mismatch(shown, planeOf(window.picture(), 6));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    // A converted chroma plane shows every hue at luminance 8 of the stored palette.
    QSet<quint32> chroma;
    for (unsigned hue = 0; hue < 16; ++hue)
        chroma << window.picture().palette().getBase(static_cast<unsigned char>(hue << 4 | 8));
    wrong = outsideSet(shown, chroma);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    // The buttons stay enabled from now on.
    clickRadio(radio(window, 1));
    child<QSlider>(window, "horizontalSlider")->setValue(35);
    window.waitForIdle();
    QVERIFY(child<QPushButton>(window, "pushButton_Save")->isEnabled());
    QVERIFY(child<QPushButton>(window, "pushButton_Compile")->isEnabled());
}

void tst_MainWindow::loadedPlanesFollowModes_data()
{
    radioButtonShowsPlane_data();
}

void tst_MainWindow::loadedPlanesFollowModes()
{
    QFETCH(int, number);
    const auto mode = quint8(number - 1);

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    loadPhoto(window, fake);
    QVERIFY(fake.warnings.isEmpty());

    clickRadio(radio(window, number));
    const QImage shown = shownImage(window);
    QString wrong = mismatch(shown, planeOf(window.picture(), mode));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    // What each mode must look like, worked out from the photo and the palettes.
    const QImage photo = QImage(dataFile("chelsea.jpg"))
                             .scaled(kSourceWidth, kSourceHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QVERIFY(!photo.isNull());
    const ATARIpalGen &pal = window.picture().palette();
    QSet<quint32> allowed;
    switch (mode) {
    case 0:
        wrong = mismatch(shown, [&photo](int x, int y) { return photo.pixel(x, y) | kOpaque; });
        break;
    case 1:
        wrong = mismatch(shown, [&photo](int x, int y) {
            const int first = x / kSourcePerAtari * kSourcePerAtari;
            int red = 0, green = 0, blue = 0;
            for (int i = 0; i < kSourcePerAtari; ++i) {
                const QRgb p = photo.pixel(first + i, y);
                red += qRed(p);
                green += qGreen(p);
                blue += qBlue(p);
            }
            return qRgb(red / 4, green / 4, blue / 4) | kOpaque;
        });
        break;
    default:
        for (unsigned v = 0; v < 256; ++v) {
            const auto c = static_cast<unsigned char>(v);
            allowed << (mode == 2 ? pal.getRGB(c) : mode == 3 ? pal.getBase(c)
                        : mode == 4 ? pal.getGray(c) : mode == 5 ? pal.getGreen(c)
                                                      : pal.getBase(static_cast<unsigned char>((v & 0xF0) | 8)));
        }
        wrong = outsideSet(shown, allowed);
        break;
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_MainWindow::cancelledLoadChangesNothing()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    clickRadio(radio(window, 3));
    const QImage before = shownImage(window);
    const qint64 key = shownCacheKey(window);

    fake.openAnswer.clear();
    clickButton(window, "pushButton_Load");

    QCOMPARE(fake.openQuestions.size(), 1);
    QVERIFY(fake.warnings.isEmpty());
    QCOMPARE(shownCacheKey(window), key);
    const QString wrong = mismatch(shownImage(window), sameAs(before));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(!child<QPushButton>(window, "pushButton_Save")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "pushButton_Compile")->isEnabled());

    // A slider move after the cancel still redraws the chart, not a picture.
    child<QSlider>(window, "horizontalSlider")->setValue(10);
    window.waitForIdle();
    clickRadio(radio(window, 1));
    const QString chart = mismatch(shownImage(window), demoChart(window.picture().palette(), 0));
    QVERIFY2(chart.isEmpty(), qPrintable(chart));
}

void tst_MainWindow::badFileChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"missing", "empty", "not an image", "damaged header", "decompression bomb"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void tst_MainWindow::badFileChangesNothing()
{
    QFETCH(QString, kind);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("bad %1.jpg").arg(kind));
    QFile source(dataFile("chelsea.jpg"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray bytes = source.readAll();
    const int sof = sofOffset(bytes);
    QVERIFY(sof > 0);
    if (kind == QLatin1String("damaged header")) {
        bytes[sof + 4] = 0; // sample precision 0
    } else if (kind == QLatin1String("decompression bomb")) {
        for (int at : {sof + 5, sof + 7}) { // height, then width: 65500 = 0xFFDC
            bytes[at] = char(0xFF);
            bytes[at + 1] = char(0xDC);
        }
    } else if (kind == QLatin1String("empty")) {
        bytes.clear();
    } else if (kind == QLatin1String("not an image")) {
        bytes = "These are words, not pixels.\n";
    }
    if (kind != QLatin1String("missing")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    auto *save = child<QPushButton>(window, "pushButton_Save");
    auto *compile = child<QPushButton>(window, "pushButton_Compile");

    // Before any picture: the chart stays and the exports stay disabled.
    clickRadio(radio(window, 2));
    QImage before = shownImage(window);
    loadFile(window, fake, path);
    QCOMPARE(fake.warnings.size(), 1);
    QVERIFY2(fake.warnings.first().contains(QDir::toNativeSeparators(path)), qPrintable(fake.warnings.first()));
    QVERIFY(!save->isEnabled());
    QVERIFY(!compile->isEnabled());
    QVERIFY(radio(window, 2)->isChecked());
    QString wrong = mismatch(shownImage(window), sameAs(before));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    child<QSlider>(window, "horizontalSlider")->setValue(25);
    window.waitForIdle();
    wrong = mismatch(shownImage(window), demoChart(window.picture().palette(), 1));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    // With a picture: the picture stays, in every plane.
    loadPhoto(window, fake);
    QCOMPARE(fake.warnings.size(), 1);
    QImage planes[kPlanes];
    for (int number = 1; number <= kPlanes; ++number) {
        clickRadio(radio(window, number));
        planes[number - 1] = shownImage(window);
    }
    loadFile(window, fake, path);
    QCOMPARE(fake.warnings.size(), 2);
    QVERIFY(fake.warnings.last().contains(QDir::toNativeSeparators(path)));
    QVERIFY(save->isEnabled());
    QVERIFY(compile->isEnabled());
    QVERIFY(radio(window, kPlanes)->isChecked());
    for (int number = 1; number <= kPlanes; ++number) {
        clickRadio(radio(window, number));
        wrong = mismatch(shownImage(window), sameAs(planes[number - 1]));
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("mode %1: %2").arg(number - 1).arg(wrong)));
    }
}

void tst_MainWindow::sliderAfterLoadReconverts()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    loadPhoto(window, fake);
    QVERIFY(fake.warnings.isEmpty());
    clickRadio(radio(window, 3));
    const QImage before = shownImage(window);

    child<QSlider>(window, "horizontalSlider")->setValue(0);
    window.waitForIdle();
    QVERIFY(!mismatch(shownImage(window), sameAs(before)).isEmpty());

    const std::vector<quint32> pixels = loadedPixels(dataFile("chelsea.jpg"));
    QCOMPARE(int(pixels.size()), kSourcePixels);
    const auto reference = referenceConversion(pixels, 0);
    QString wrong = mismatch(shownImage(window), planeOf(*reference, 2));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    // The source plane still holds the photo: the demo chart was not drawn.
    clickRadio(radio(window, 1));
    wrong = mismatch(shownImage(window), [&pixels](int x, int y) { return pixels[y * kSourceWidth + x] | kOpaque; });
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(child<QPushButton>(window, "pushButton_Save")->isEnabled());
}

void tst_MainWindow::loadAfterSliderUsesMovedSaturation()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    child<QSlider>(window, "horizontalSlider")->setValue(20);
    window.waitForIdle();
    clickRadio(radio(window, 4));
    loadPhoto(window, fake, "coffee.jpg");
    QVERIFY(fake.warnings.isEmpty());

    const auto reference = referenceConversion(loadedPixels(dataFile("coffee.jpg")), 20);
    const QString wrong = mismatch(shownImage(window), planeOf(*reference, 3));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_MainWindow::pictureFillsFrame_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("margin");

    // 640 x 480 halves exactly; the others sample the nearest pixel, so block edges are left out.
    QTest::newRow("640x480 halved") << QSize(640, 480) << 0;
    QTest::newRow("square 300x300") << QSize(300, 300) << 1;
    QTest::newRow("small 32x24") << QSize(32, 24) << 1;
}

void tst_MainWindow::pictureFillsFrame()
{
    QFETCH(QSize, size);
    QFETCH(int, margin);

    // 8 x 6 blocks of known colours; stored as PNG under a .jpg name, which is read by content.
    const int columns = 8, rows = 6;
    QImage blocks(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            blocks.setPixel(x, y, blockColour(x * columns / size.width(), y * rows / size.height()));
    }
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    QVERIFY(loadImage(window, fake, blocks));
    QVERIFY2(fake.warnings.isEmpty(), qPrintable(fake.warnings.join('\n')));

    const int blockWidth = kSourceWidth / columns, blockHeight = kSourceHeight / rows;
    const QImage shown = rawWords(shownImage(window));
    QCOMPARE(shown.size(), QSize(kSourceWidth, kSourceHeight));
    for (int y = 0; y < kSourceHeight; ++y) {
        const int inRow = y % blockHeight;
        if (inRow < margin || inRow >= blockHeight - margin)
            continue;
        for (int x = 0; x < kSourceWidth; ++x) {
            const int inColumn = x % blockWidth;
            if (inColumn < margin || inColumn >= blockWidth - margin)
                continue;
            const quint32 want = blockColour(x / blockWidth, y / blockHeight) | kOpaque;
            if (word(shown, x, y) != want)
                QFAIL(qPrintable(QString::asprintf("(%d, %d): shown %08X, expected %08X", x, y, word(shown, x, y), want)));
        }
    }
}

void tst_MainWindow::displayIsOpaque()
{
    // Half-transparent pixels reach the source plane with their alpha; the display shows them opaque.
    QImage translucent(kSourceWidth, kSourceHeight, QImage::Format_ARGB32);
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int x = 0; x < kSourceWidth; ++x)
            translucent.setPixel(x, y, qRgba(x * 255 / kSourceWidth, y * 255 / kSourceHeight, 90, 0x40 + y % 64));
    }
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    QVERIFY(loadImage(window, fake, translucent));
    QVERIFY(fake.warnings.isEmpty());
    QVERIFY((window.picture().getPixel(10, 10, 0) & kOpaque) != kOpaque);

    const QString wrong = mismatch(shownImage(window), [&translucent](int x, int y) {
        return (translucent.pixel(x, y) & 0x00FFFFFFu) | kOpaque;
    });
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_MainWindow::exportWritesFile_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("assembler");

    QTest::newRow("Save ASM") << "pushButton_Save" << "Save ASM|ASM Files (*.asm)" << true;
    QTest::newRow("Save XEX") << "pushButton_Compile" << "Save XEX|XEX Files (*.xex)" << false;
}

void tst_MainWindow::exportWritesFile()
{
    QFETCH(QString, button);
    QFETCH(QString, question);
    QFETCH(bool, assembler);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A name with a suffix is used as typed. An old file of that name is replaced.
    const QString path = dir.filePath(QStringLiteral("picture.out"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(30000, 'x'));
    }

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    loadPhoto(window, fake);
    fake.saveAnswer = path;
    QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);

    QCOMPARE(fake.saveQuestions, QStringList{question});
    QVERIFY2(fake.warnings.isEmpty(), qPrintable(fake.warnings.join('\n')));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"picture.out"});

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();

    // The file holds the picture the window converted.
    const auto reference = referenceConversion(loadedPixels(dataFile("chelsea.jpg")), 60);
    QByteArray expected;
    QBuffer buffer(&expected);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    if (assembler) {
        QCOMPARE(written.count('\n'), 4177);
        QVERIFY(written.startsWith(";\n; Rastrel Zo9\n"));
        QTextStream out(&buffer);
        reference->saveASM(out);
    } else {
        QCOMPARE(written.size(), 21572);
        QCOMPARE(quint8(written[0]), quint8(0xFF));
        QCOMPARE(quint8(written[1]), quint8(0xFF));
        QDataStream out(&buffer);
        reference->saveXEX(out);
    }
    buffer.close();
    QVERIFY(written == expected);
}

void tst_MainWindow::failedExportKeepsExistingFile_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("diskFull");

    QTest::newRow("Save ASM, disk full") << "pushButton_Save" << true;
    QTest::newRow("Save XEX, disk full") << "pushButton_Compile" << true;
    QTest::newRow("Save ASM, folder is a file") << "pushButton_Save" << false;
    QTest::newRow("Save XEX, folder is a file") << "pushButton_Compile" << false;
}

void tst_MainWindow::failedExportKeepsExistingFile()
{
    QFETCH(QString, button);
    QFETCH(bool, diskFull);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray keep = "an older file that must survive\n";
    const QString existing = dir.filePath(QStringLiteral("existing"));
    {
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(keep);
    }
    const QString target = diskFull ? existing : existing + QStringLiteral("/picture.out");

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    loadPhoto(window, fake);
    fake.saveAnswer = target;

    if (diskFull) {
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 1024;
        auto *previous = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    } else {
        QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
    }

    QCOMPARE(fake.saveQuestions.size(), 1);
    QCOMPARE(fake.warnings.size(), 1);
    QVERIFY2(fake.warnings.first().contains(QDir::toNativeSeparators(target)), qPrintable(fake.warnings.first()));
    QFile file(existing);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), keep);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{"existing"});
}

void tst_MainWindow::cancelledExportWritesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Save ASM") << "pushButton_Save";
    QTest::newRow("Save XEX") << "pushButton_Compile";
}

void tst_MainWindow::cancelledExportWritesNothing()
{
    QFETCH(QString, button);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    loadPhoto(window, fake);
    fake.saveAnswer.clear();
    QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
    QDir::setCurrent(previousDir);

    QCOMPARE(fake.saveQuestions.size(), 1);
    QVERIFY(fake.warnings.isEmpty());
    QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

void tst_MainWindow::exitClosesWindow()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // "Exit" closes the last window, which ends the event loop with result 0.
    QTimer click;
    click.setSingleShot(true);
    connect(&click, &QTimer::timeout, &window, [&window] { clickButton(window, "pushButton_Exit"); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    click.start(0);
    giveUp.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!window.isVisible());
}

void tst_MainWindow::keysChoosePreviews_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mode");
    for (int mode = 0; mode < 7; ++mode)
        QTest::newRow(qPrintable(QStringLiteral("key %1").arg(mode + 1))) << int(Qt::Key_1) + mode << mode;
    QTest::newRow("key 8: what the Atari shows") << int(Qt::Key_8) << int(kAtariViewMode);
}

void tst_MainWindow::keysChoosePreviews()
{
    QFETCH(int, key);
    QFETCH(int, mode);
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    loadPhoto(window, fake);

    QTest::keyClick(&window, Qt::Key(key));
    window.waitForIdle();
    const ATARIpic &pic = window.picture();
    const Expectation expected = mode == kAtariViewMode
                                     ? Expectation([&pic](int x, int y) { return pic.getAtariPixel(quint16(x), quint16(y)) | kOpaque; })
                                     : planeOf(pic, quint8(mode));
    QVERIFY2(mismatch(shownImage(window), expected).isEmpty(), qPrintable(mismatch(shownImage(window), expected)));

    // A preview button leaves the Atari view again.
    clickRadio(radio(window, 4));
    QVERIFY(mismatch(shownImage(window), planeOf(pic, 3)).isEmpty());
}

// A palette file recolours the output plane at once, survives a restart, and a bad file or
// "Built-in palette" behave as promised.
void tst_MainWindow::paletteFileIsUsedAndRemembered()
{
    QTemporaryDir dir;
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i)).append(char(255 - i)).append(char(i / 2));
    const QString paletteFile = dir.filePath(QStringLiteral("ramp.pal"));
    {
        QFile file(paletteFile);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    const auto rampColour = [](quint8 v) { return quint32(v) << 16 | quint32(255 - v) << 8 | quint32(v / 2); };

    {
        FakeDialogs fake;
        MainWindow window;
        fake.install(window);
        loadPhoto(window, fake);
        clickRadio(radio(window, 4));
        QVERIFY(window.loadPalette(paletteFile));
        window.waitForIdle();
        const ATARIpic &pic = window.picture();
        QVERIFY(mismatch(shownImage(window), [&](int x, int y) {
                    return rampColour(pic.outputBytes()[y * kAtariWidth + x / 4]) | kOpaque;
                }).isEmpty());

        const QImage before = shownImage(window);
        QVERIFY(!window.loadPalette(dir.filePath(QStringLiteral("missing.pal"))));
        QCOMPARE(fake.warnings.size(), 1);
        QVERIFY(fake.warnings.first().contains(QStringLiteral("missing.pal")));
        QVERIFY(mismatch(shownImage(window), sameAs(before)).isEmpty());
    }
    {
        MainWindow restarted;
        QCOMPARE(restarted.picture().palette().getBase(0x12), rampColour(0x12));
        restarted.useBuiltInPalette();
        restarted.waitForIdle();
        QCOMPARE(restarted.picture().palette().getBase(0x12), ATARIpalGen().getBase(0x12));
    }
    MainWindow again;
    QVERIFY(again.picture().palette().hasBuiltInBase());
}

// A remembered best method and palette file: after a restart the menu shows both checked and the
// start chart is drawn in the file's colours; Shift+P returns to the built-in ones.
void tst_MainWindow::rememberedChoicesAtStartAndShiftP()
{
    QTemporaryDir dir;
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(255 - i)).append(char(i / 3)).append(char(i));
    const QString paletteFile = dir.filePath(QStringLiteral("start.pal"));
    {
        QFile file(paletteFile);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QSettings().setValue(QStringLiteral("method"), QStringLiteral("best"));
    QSettings().setValue(QStringLiteral("palette"), paletteFile);
    const auto fileColour = [&bytes](int v) {
        return quint32(quint8(bytes.at(3 * v))) << 16 | quint32(quint8(bytes.at(3 * v + 1))) << 8
               | quint32(quint8(bytes.at(3 * v + 2)));
    };
    // The chart's colour byte at (x, y): hue bands top to bottom, luminance steps left to right.
    const auto chartByte = [](int x, int y) { return (y * 16 / kSourceHeight) << 4 | (x * 16 / kSourceWidth); };

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const auto action = [&window](const QString &text) {
        for (QAction *a : window.findChildren<QAction *>())
            if (a->text() == text)
                return a;
        return static_cast<QAction *>(nullptr);
    };
    QVERIFY(action(QStringLiteral("Best conversion (least CIEDE2000)"))->isChecked());
    QVERIFY(!action(QStringLiteral("Classic conversion"))->isChecked());
    QTest::keyClick(&window, Qt::Key_8);
    QString wrong = mismatch(shownImage(window), [&](int x, int y) { return fileColour(chartByte(x, y)) | kOpaque; });
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    QTest::keyClick(&window, Qt::Key_P, Qt::ShiftModifier);
    window.waitForIdle();
    const ATARIpalGen builtIn;
    wrong = mismatch(shownImage(window), [&](int x, int y) { return builtIn.getBase(quint8(chartByte(x, y))) | kOpaque; });
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(!QSettings().contains(QStringLiteral("palette")));
    QSettings().clear();
}

// Key B converts with the best method at once, the choice survives a restart, and the quality
// figure is offered once a picture is loaded.
void tst_MainWindow::bestMethodIsChosenAndRemembered()
{
    const std::vector<quint32> pixels = loadedPixels(dataFile("chelsea.jpg"));
    QVERIFY(!pixels.empty());
    auto best = std::make_unique<ATARIpic>();
    best->setMethod(MethodTable::find("best"));
    best->copy(pixels.data());
    {
        FakeDialogs fake;
        MainWindow window;
        fake.install(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(window.qualityText().isEmpty());
        loadPhoto(window, fake);
        clickRadio(radio(window, 4));
        QVERIFY(!mismatch(shownImage(window), planeOf(*best, 3)).isEmpty());

        QTest::keyClick(&window, Qt::Key_B);
        window.waitForIdle();
        QVERIFY(mismatch(shownImage(window), planeOf(*best, 3)).isEmpty());
        QCOMPARE(window.qualityText(), QStringLiteral("Mean CIEDE2000, Plain display: %1").arg(best->qualityFigure(), 0, 'f', 2));
    }
    {
        FakeDialogs fake;
        MainWindow restarted;
        fake.install(restarted);
        QCOMPARE(restarted.picture().method(), MethodTable::find("best"));
        restarted.useMethod(MethodTable::find("classic"));
    }
    MainWindow again;
    QCOMPARE(again.picture().method(), MethodTable::find("classic"));
}

// Key T chooses two frames and with them the best method; the flicker limit and both survive a
// restart; key C returns to the classic method and one frame.
void tst_MainWindow::twoFramesAreAFormOfBestAndRemembered()
{
    const auto action = [](const MainWindow &window, const QString &text) {
        for (QAction *a : window.findChildren<QAction *>())
            if (a->text() == text)
                return a;
        return static_cast<QAction *>(nullptr);
    };
    const QString two = QStringLiteral("Two frames (blended)");
    const QString best = QStringLiteral("Best conversion (least CIEDE2000)");
    const QString classic = QStringLiteral("Classic conversion");
    {
        FakeDialogs fake;
        MainWindow window;
        fake.install(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(!action(window, two)->isChecked());
        QTest::keyClick(&window, Qt::Key_T);
        window.waitForIdle();
        QVERIFY(action(window, two)->isChecked());
        QVERIFY(action(window, best)->isChecked());
        action(window, QStringLiteral("5 L*"))->trigger();
        window.waitForIdle();
    }
    {
        FakeDialogs fake;
        MainWindow restarted;
        fake.install(restarted);
        restarted.show();
        QVERIFY(QTest::qWaitForWindowActive(&restarted));
        QVERIFY(action(restarted, two)->isChecked());
        QVERIFY(action(restarted, best)->isChecked());
        QCOMPARE(restarted.picture().method(), MethodTable::find("best", 2));
        QCOMPARE(restarted.picture().flickerLimit(), 5);
        QTest::keyClick(&restarted, Qt::Key_C);
        restarted.waitForIdle();
        QVERIFY(action(restarted, classic)->isChecked());
        QVERIFY(!action(restarted, two)->isChecked());
    }
    MainWindow again;
    QVERIFY(!action(again, two)->isChecked());
    QCOMPARE(again.picture().method(), MethodTable::find("classic"));
    QSettings().clear();
}

// With two frames, keys 9, 0 and F show frame A, frame B and the flicker map, each named in the
// tooltip; the map is each screen pixel's L* difference, black 0 to white at the limit; the figure
// line gives the area flicker beside the mean.
void tst_MainWindow::frameViewsAndFlickerMapNameThemselves()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_T);
    window.waitForIdle();
    loadPhoto(window, fake);
    window.waitForIdle();
    const ATARIpic &pic = window.picture();
    QCOMPARE(pic.converted().frames(), 2);
    const struct {
        Qt::Key key;
        const char *name;
    } views[] = {{Qt::Key_9, "Frame A"}, {Qt::Key_0, "Frame B"}, {Qt::Key_F, "Flicker map"}};
    for (const auto &view : views) {
        QTest::keyClick(&window, view.key);
        window.waitForIdle();
        QVERIFY2(window.previewToolTip().startsWith(QLatin1String(view.name)), qPrintable(window.previewToolTip()));
        QVERIFY(window.previewToolTip().contains(QStringLiteral(", area ")));
    }
    const QImage shown = shownImage(window);
    const int limit = pic.flickerLimit();
    int white = 0;
    for (int y = 0; y < kSourceHeight; ++y)
        for (int x = 0; x < kSourceWidth; ++x) {
            const int i = y * kSourceWidth + x;
            const double la = ColourScience::labFromRgb(pic.palette().getBase(pic.atariScreen()[i])).L;
            const double lb = ColourScience::labFromRgb(pic.palette().getBase(pic.atariScreenB()[i])).L;
            const double level = std::min(std::fabs(la - lb) / limit, 1.0) * 255.0;
            const int grey = int(shown.pixel(x, y) & 0xFF);
            QVERIFY2(std::fabs(grey - level) <= 0.5 && qGray(shown.pixel(x, y)) == grey,
                     qPrintable(QStringLiteral("%1,%2: %3 for %4").arg(x).arg(y).arg(grey).arg(level)));
            white += grey >= 200;
        }
    QVERIFY(white > 0); // near the limit: chelsea flickers up to just under it
}

// The "Display" submenu's "PAL TV" shows what a PAL TV shows, with the best method planned for it, and
// names it in the figure line; the choice survives a restart; "Plain display" returns to the plain view.
void tst_MainWindow::palDisplayIsChosenAndRemembered()
{
    const auto action = [](const MainWindow &window, const QString &text) {
        for (QAction *a : window.findChildren<QAction *>())
            if (a->text() == text)
                return a;
        return static_cast<QAction *>(nullptr);
    };
    const std::vector<quint32> pixels = loadedPixels(dataFile("chelsea.jpg"));
    QVERIFY(!pixels.empty());
    auto pal = std::make_unique<ATARIpic>();
    pal->setMethod(MethodTable::find("best"));
    pal->setDisplay(DisplayTable::find("pal"));
    pal->copy(pixels.data());
    {
        FakeDialogs fake;
        MainWindow window;
        fake.install(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(action(window, QStringLiteral("Plain display")));
        loadPhoto(window, fake);
        QTest::keyClick(&window, Qt::Key_B);
        window.waitForIdle();
        action(window, QStringLiteral("PAL TV"))->trigger();
        window.waitForIdle();
        QCOMPARE(window.qualityText(), QStringLiteral("Mean CIEDE2000, PAL TV: %1").arg(pal->qualityFigure(), 0, 'f', 2));
        QVERIFY(std::equal(pal->outputBytes(), pal->outputBytes() + Geometry::kAtariPixels,
                           window.picture().outputBytes()));
        QTest::keyClick(&window, Qt::Key_8);
        const QString wrong = mismatch(shownImage(window), [&](int x, int y) {
            return pal->getAtariPixel(quint16(x), quint16(y)) | kOpaque;
        });
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    }
    {
        FakeDialogs fake;
        MainWindow restarted;
        fake.install(restarted);
        QCOMPARE(restarted.picture().display(), DisplayTable::find("pal"));
        restarted.useDisplay(DisplayTable::find("plain"));
    }
    MainWindow again;
    QCOMPARE(again.picture().display(), DisplayTable::find("plain"));
    QSettings().clear();
}

void tst_MainWindow::openFilterMatches_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filters"); // the filters that show the file, by their first word

    QTest::newRow("camera name in capitals") << "IMG_0001.JPG" << "JPG All All";
    QTest::newRow("lower-case jpg") << "holiday.jpg" << "JPG All All";
    QTest::newRow("lower-case jpeg") << "holiday.jpeg" << "JPG All All";
    QTest::newRow("capital JPEG") << "HOLIDAY.JPEG" << "JPG All All";
    QTest::newRow("PNG") << "scan.png" << "All All";
    QTest::newRow("capital BMP") << "SCAN.BMP" << "All All";
    QTest::newRow("GIF") << "logo.gif" << "All All";
    QTest::newRow("netpbm") << "scan.ppm" << "All All";
    // Drawings, icons and the text formats are not photos.
    QTest::newRow("SVG") << "drawing.svg" << "All";
    QTest::newRow("icon") << "app.ico" << "All";
    QTest::newRow("XPM") << "icon.xpm" << "All";
    QTest::newRow("text") << "notes.txt" << "All";
    QTest::newRow("JPG only in the middle") << "photo.jpg.txt" << "All";
}

// Each filter's patterns match as the non-native file dialog matches them: whole names, letter case exact.
void tst_MainWindow::openFilterMatches()
{
    QFETCH(QString, name);
    QFETCH(QString, filters);

    const QStringList entries = MainWindow::openFilter().split(QStringLiteral(";;"));
    QCOMPARE(entries.size(), 3);
    QVERIFY2(entries.at(0).startsWith(QLatin1String("JPG files (")), qPrintable(entries.at(0)));
    QVERIFY2(entries.at(1).startsWith(QLatin1String("All pictures (")), qPrintable(entries.at(1)));
    QCOMPARE(entries.at(2), QStringLiteral("All files (*)"));

    QStringList matching;
    const QRegularExpression entry(QStringLiteral("^(\\S+) [^(]*\\(([^)]*)\\)$"));
    for (const QString &filter : entries) {
        const QRegularExpressionMatch match = entry.match(filter);
        QVERIFY2(match.hasMatch(), qPrintable(filter));
        const QStringList patterns = match.captured(2).split(QLatin1Char(' '));
        for (const QString &pattern : patterns) {
            const QRegularExpression wildcard(QRegularExpression::wildcardToRegularExpression(pattern));
            if (wildcard.match(name).hasMatch()) {
                matching << match.captured(1);
                break;
            }
        }
    }
    QCOMPARE(matching.join(QLatin1Char(' ')), filters);
}

void tst_MainWindow::saveNameAndOverwrite_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("typed");    // in an empty folder
    QTest::addColumn<QString>("existing"); // a file there before the save, holding "old"; empty: none
    QTest::addColumn<bool>("answer");      // to the question whether to replace it
    QTest::addColumn<QString>("written");  // the file that must hold the export; empty: none
    QTest::addColumn<bool>("asked");       // whether the window itself asked before replacing

    QTest::newRow("ASM: a bare name gets .asm") << "pushButton_Save" << "pic" << "" << false << "pic.asm" << false;
    QTest::newRow("XEX: a bare name gets .xex") << "pushButton_Compile" << "pic" << "" << false << "pic.xex" << false;
    QTest::newRow("another suffix is kept") << "pushButton_Save" << "pic.bin" << "" << false << "pic.bin" << false;
    QTest::newRow("added suffix, existing file, replace")
        << "pushButton_Compile" << "pic" << "pic.xex" << true << "pic.xex" << true;
    QTest::newRow("added suffix, existing file, keep")
        << "pushButton_Compile" << "pic" << "pic.xex" << false << "" << true;
    QTest::newRow("typed suffix: the dialog asked already")
        << "pushButton_Save" << "pic.asm" << "pic.asm" << false << "pic.asm" << false;
    QTest::newRow("a bare name beside its own file is not asked about")
        << "pushButton_Save" << "pic" << "pic" << false << "pic.asm" << false;
}

void tst_MainWindow::saveNameAndOverwrite()
{
    QFETCH(QString, button);
    QFETCH(QString, typed);
    QFETCH(QString, existing);
    QFETCH(bool, answer);
    QFETCH(QString, written);
    QFETCH(bool, asked);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!existing.isEmpty()) {
        QFile old(dir.filePath(existing));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
    }

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    loadPhoto(window, fake);
    fake.saveAnswer = dir.filePath(typed);
    fake.overwriteAnswer = answer;
    clickButton(window, qPrintable(button));

    QVERIFY2(fake.warnings.isEmpty(), qPrintable(fake.warnings.join('\n')));
    const QString caption = button == QLatin1String("pushButton_Save") ? "Save ASM" : "Save XEX";
    QCOMPARE(fake.overwriteQuestions,
             asked ? QStringList{caption + '|' + dir.filePath(existing)} : QStringList());
    QStringList expectedFiles{existing, written};
    expectedFiles.removeAll(QString());
    expectedFiles.removeDuplicates();
    expectedFiles.sort();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), expectedFiles);
    for (const QString &name : expectedFiles) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (name == written)
            QVERIFY2(bytes.size() > 20000, qPrintable(name));
        else
            QCOMPARE(bytes, QByteArray("old"));
    }
}

// The open and save dialogs start where the last ones ended, also in a window opened later; the
// save dialog suggests the photo's name.
void tst_MainWindow::foldersAreRemembered()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("photos"));
    QVERIFY(QDir(dir.path()).mkdir("exports"));
    const QString photo = dir.filePath("photos/Holiday.JPG");
    QVERIFY(QFile::copy(dataFile("chelsea.jpg"), photo));
    QSettings().remove(QStringLiteral("openFolder"));
    QSettings().remove(QStringLiteral("saveFolder"));

    {
        FakeDialogs fake;
        MainWindow window;
        fake.install(window);
        loadFile(window, fake, photo);
        // Before any save the photo's own folder is suggested.
        fake.saveAnswer = dir.filePath("exports/first");
        clickButton(window, "pushButton_Save");
        clickButton(window, "pushButton_Compile");

        QCOMPARE(fake.openDirectories, QStringList{QString()});
        QCOMPARE(fake.saveSuggestions, (QStringList{dir.filePath("photos/Holiday.asm"),
                                                    dir.filePath("exports/Holiday.xex")}));
        QVERIFY2(fake.warnings.isEmpty(), qPrintable(fake.warnings.join('\n')));
    }

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    loadPhoto(window, fake);
    fake.openAnswer.clear();
    clickButton(window, "pushButton_Load");
    clickButton(window, "pushButton_Compile");

    QCOMPARE(fake.openDirectories, (QStringList{dir.filePath("photos"), QFileInfo(dataFile("chelsea.jpg")).absolutePath()}));
    QCOMPARE(fake.saveSuggestions, QStringList{dir.filePath("exports/chelsea.xex")});
}

void tst_MainWindow::keysClickButtons_data()
{
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<bool>("loadFirst");
    QTest::addColumn<QString>("opened");  // the open question asked, or empty
    QTest::addColumn<QString>("saved");   // the save question asked, or empty

    const QString load = QStringLiteral("Open JPG|") + MainWindow::openFilter();
    QTest::newRow("Ctrl+O loads") << QKeySequence("Ctrl+O") << false << load << "";
    QTest::newRow("Ctrl+S saves the executable") << QKeySequence("Ctrl+S") << true << "" << "Save XEX|XEX Files (*.xex)";
    QTest::newRow("Ctrl+Shift+S saves the source")
        << QKeySequence("Ctrl+Shift+S") << true << "" << "Save ASM|ASM Files (*.asm)";
    QTest::newRow("Ctrl+S before loading does nothing") << QKeySequence("Ctrl+S") << false << "" << "";
    QTest::newRow("Ctrl+Shift+S before loading does nothing") << QKeySequence("Ctrl+Shift+S") << false << "" << "";
}

void tst_MainWindow::keysClickButtons()
{
    QFETCH(QKeySequence, keys);
    QFETCH(bool, loadFirst);
    QFETCH(QString, opened);
    QFETCH(QString, saved);

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    if (loadFirst) {
        loadPhoto(window, fake);
        fake.openQuestions.clear();
    }

    QTest::keySequence(&window, keys);
    window.waitForIdle();
    QCOMPARE(fake.openQuestions, opened.isEmpty() ? QStringList() : QStringList{opened});
    QCOMPARE(fake.saveQuestions, saved.isEmpty() ? QStringList() : QStringList{saved});
    QVERIFY(window.isVisible());

    QTest::keySequence(&window, QKeySequence("Ctrl+Q"));
    QVERIFY(!window.isVisible());
}

// While a picture is read the event loop runs, the old picture stays, a second load is
// refused, and the new picture arrives whole.
void tst_MainWindow::slowLoadKeepsWindowResponsive()
{
    const std::vector<quint32> pixels = loadedPixels(dataFile("chelsea.jpg"));
    QVERIFY(!pixels.empty());
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    std::atomic<bool> release{false};
    std::atomic<int> reads{0};
    window.setPictureReader([&release, &reads](const QString &fileName, quint32 *out, QString *error) {
        ++reads;
        while (!release.load())
            QThread::msleep(2);
        return PictureLoader::load(fileName, out, error);
    });
    QSignalSpy shown(&window, &MainWindow::conversionShown);
    QSignalSpy idle(&window, &MainWindow::idle);

    const QImage before = shownImage(window);
    fake.openAnswer = dataFile("chelsea.jpg");
    QTest::mouseClick(child<QPushButton>(window, "pushButton_Load"), Qt::LeftButton);
    QVERIFY(window.isBusy());
    QCOMPARE(window.cursor().shape(), Qt::BusyCursor);
    bool fired = false;
    QTimer::singleShot(20, &window, [&fired] { fired = true; });
    QTRY_VERIFY(fired);
    QTRY_COMPARE(reads.load(), 1);

    QTest::mouseClick(child<QPushButton>(window, "pushButton_Load"), Qt::LeftButton);
    QCOMPARE(fake.openQuestions.size(), 1); // no second dialog
    QCOMPARE(fake.warnings.size(), 1);
    QVERIFY2(fake.warnings.first().contains(QDir::toNativeSeparators(dataFile("chelsea.jpg"))),
             qPrintable(fake.warnings.first()));
    QVERIFY(!window.loadPicture(dataFile("coffee.jpg")));
    QCOMPARE(fake.warnings.size(), 2);
    QVERIFY(mismatch(shownImage(window), sameAs(before)).isEmpty());
    QVERIFY(!child<QPushButton>(window, "pushButton_Save")->isEnabled());
    QCOMPARE(shown.count(), 0);

    release = true;
    QVERIFY(idle.wait(60000));
    QVERIFY(!window.isBusy());
    QCOMPARE(shown.count(), 1);
    QCOMPARE(reads.load(), 1); // the refused pictures were never read
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(child<QPushButton>(window, "pushButton_Save")->isEnabled());
    const std::unique_ptr<ATARIpic> expected = referenceConversion(pixels, 60);
    QVERIFY(std::memcmp(window.picture().outputBytes(), expected->outputBytes(), kAtariPixels) == 0);
    const QString wrong = mismatch(shownImage(window), planeOf(*expected, 0));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

// A slider move made while a picture loads takes effect even when the load fails.
void tst_MainWindow::failedSlowLoadKeepsLaterSliderMove()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    std::atomic<bool> release{false};
    window.setPictureReader([&release](const QString &, quint32 *, QString *error) {
        while (!release.load())
            QThread::msleep(2);
        *error = QStringLiteral("the test refuses it");
        return false;
    });
    fake.openAnswer = QStringLiteral("/nowhere/photo.jpg");
    QTest::mouseClick(child<QPushButton>(window, "pushButton_Load"), Qt::LeftButton);
    child<QSlider>(window, "horizontalSlider")->setValue(0);
    QVERIFY(window.isBusy());
    release = true;
    window.waitForIdle();

    QCOMPARE(fake.warnings, QStringList{QStringLiteral("Cannot load %1:\nthe test refuses it")
                                            .arg(QDir::toNativeSeparators(fake.openAnswer))});
    QVERIFY(!child<QPushButton>(window, "pushButton_Save")->isEnabled());
    QCOMPARE(window.picture().palette().getSaturation(), 0.0);
    const QString wrong = mismatch(shownImage(window), demoChart(window.picture().palette(), 0));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(window.qualityText().isEmpty());
}

void tst_MainWindow::sliderMovesAreGathered_data()
{
    QTest::addColumn<bool>("best");
    QTest::newRow("classic") << false;
    QTest::newRow("best") << true;
}

// Slider moves made while a conversion runs lead to one more conversion, at the last value.
void tst_MainWindow::sliderMovesAreGathered()
{
    QFETCH(bool, best);

    const std::vector<quint32> pixels = loadedPixels(dataFile("chelsea.jpg"));
    QVERIFY(!pixels.empty());
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.useMethod(MethodTable::find(best ? "best" : "classic"));
    loadPhoto(window, fake);
    clickRadio(radio(window, 4));

    QSignalSpy shown(&window, &MainWindow::conversionShown);
    auto *slider = child<QSlider>(window, "horizontalSlider");
    for (int value = 10; value <= 40; ++value)
        slider->setValue(value);
    QVERIFY(window.isBusy());
    window.waitForIdle();
    QCOMPARE(shown.count(), 2); // the move to 10, then one for all the others

    auto expected = std::make_unique<ATARIpic>();
    expected->setMethod(best ? MethodTable::find("best") : MethodTable::find("classic"));
    expected->newSaturation(40);
    expected->copy(pixels.data());
    const ATARIpic &pic = window.picture();
    QVERIFY(std::memcmp(pic.outputBytes(), expected->outputBytes(), kAtariPixels) == 0);
    QVERIFY(std::memcmp(pic.hueTable(), expected->hueTable(), kHues) == 0);
    const QString wrong = mismatch(shownImage(window), planeOf(*expected, 3));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    window.useMethod(MethodTable::find("classic"));
    window.waitForIdle();
}

void tst_MainWindow::droppedFileIsLoaded_data()
{
    QTest::addColumn<QString>("target");   // where the drop lands: the picture or a button
    QTest::addColumn<QStringList>("files"); // @PHOTO, @TEXT or a URL
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("loads");

    QTest::newRow("photo on the picture") << "picture" << QStringList{"@PHOTO"} << true << true;
    QTest::newRow("photo on a button") << "pushButton_Exit" << QStringList{"@PHOTO"} << true << true;
    QTest::newRow("not a picture") << "picture" << QStringList{"@TEXT"} << true << false;
    QTest::newRow("two files") << "picture" << QStringList{"@PHOTO", "@PHOTO"} << false << false;
    QTest::newRow("web address") << "pushButton_Exit" << QStringList{"http://example.org/a.jpg"} << false << false;
}

// A dropped file goes through the same checks and messages as one chosen in the dialog.
void tst_MainWindow::droppedFileIsLoaded()
{
    QFETCH(QString, target);
    QFETCH(QStringList, files);
    QFETCH(bool, accepted);
    QFETCH(bool, loads);

    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("notes.jpg"));
    {
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("no pixels here\n") > 0);
    }
    QList<QUrl> urls;
    for (const QString &file : files) {
        if (file == QLatin1String("@PHOTO"))
            urls << QUrl::fromLocalFile(dataFile("chelsea.jpg"));
        else if (file == QLatin1String("@TEXT"))
            urls << QUrl::fromLocalFile(text);
        else
            urls << QUrl(file);
    }
    QMimeData mime;
    mime.setUrls(urls);

    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage before = shownImage(window);

    // The widget that Qt hands the drop to: the one under the point, or the nearest parent taking drops.
    QWidget *under = target == QLatin1String("picture") ? child<QGraphicsView>(window, "graphicsView")->viewport()
                                                        : window.findChild<QWidget *>(target);
    QVERIFY(under);
    const QPoint point = under->mapTo(&window, under->rect().center());
    QWidget *receiver = window.childAt(point);
    while (receiver && !receiver->acceptDrops() && !receiver->isWindow())
        receiver = receiver->parentWidget();
    QVERIFY(receiver);
    const QPoint local = receiver->mapFrom(&window, point);

    QDragEnterEvent enter(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(receiver, &enter);
    QCOMPARE(enter.isAccepted(), accepted);
    if (accepted) {
        QDropEvent drop(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(receiver, &drop);
        QVERIFY(drop.isAccepted());
        window.waitForIdle();
    }

    QVERIFY(fake.openQuestions.isEmpty());
    // A dropped file, picture or not, is where the open dialog starts next, as a chosen one is.
    if (accepted)
        QCOMPARE(QSettings().value(QStringLiteral("openFolder")).toString(), QFileInfo(urls.first().toLocalFile()).absolutePath());
    QCOMPARE(child<QPushButton>(window, "pushButton_Save")->isEnabled(), loads);
    if (loads) {
        QVERIFY(fake.warnings.isEmpty());
        const std::unique_ptr<ATARIpic> expected = referenceConversion(loadedPixels(dataFile("chelsea.jpg")), 60);
        const QString wrong = mismatch(shownImage(window), planeOf(*expected, 0));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    } else {
        QVERIFY(mismatch(shownImage(window), sameAs(before)).isEmpty());
        QCOMPARE(fake.warnings.size(), accepted ? 1 : 0);
        if (accepted)
            QCOMPARE(fake.warnings.first(), QStringLiteral("Cannot load %1:\nnot a picture this program can read (the formats read are JPEG, PNG, GIF, "
                                                               "BMP, PBM, PGM, PPM)")
                                                .arg(QDir::toNativeSeparators(text)));
    }
}

// A save into a folder that cannot take the file leaves the next save dialog where the last
// successful one ended.
void tst_MainWindow::failedSaveKeepsSaveFolder()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("exports"));
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    loadPhoto(window, fake);

    fake.saveAnswer = dir.filePath("exports/first.xex");
    clickButton(window, "pushButton_Compile");
    QVERIFY2(fake.warnings.isEmpty(), qPrintable(fake.warnings.join('\n')));
    fake.saveAnswer = dir.filePath("missing/second.xex");
    clickButton(window, "pushButton_Compile");
    QCOMPARE(fake.warnings.size(), 1);
    fake.saveAnswer.clear();
    clickButton(window, "pushButton_Save");

    QCOMPARE(fake.saveSuggestions.last(), dir.filePath("exports/chelsea.asm"));
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
}

// While the Atari view is shown no preview button is checked and the tooltip names the view; a
// button brings its own plane and name back.
void tst_MainWindow::atariViewUnchecksButtons()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    loadPhoto(window, fake);
    clickRadio(radio(window, 5));
    QVERIFY(window.previewToolTip().startsWith(QStringLiteral("Gray\nMean CIEDE2000, Plain display: ")));

    QTest::keyClick(&window, Qt::Key_8);
    window.waitForIdle();
    for (int number = 1; number <= 7; ++number)
        QVERIFY2(!radio(window, number)->isChecked(), qPrintable(QString::number(number)));
    QVERIFY(window.previewToolTip().startsWith(QStringLiteral("What the Atari shows\nMean CIEDE2000, Plain display: ")));

    clickRadio(radio(window, 5));
    QVERIFY(radio(window, 5)->isChecked());
    QVERIFY(window.previewToolTip().startsWith(QStringLiteral("Gray\n")));
    QVERIFY(mismatch(shownImage(window), planeOf(window.picture(), 4)).isEmpty());
}

void tst_MainWindow::sliderToolTip_data()
{
    QTest::addColumn<bool>("best");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("tip");

    QTest::newRow("classic 60") << false << 60 << "60: the generated palette's saturation 0.60";
    QTest::newRow("classic 5") << false << 5 << "5: the generated palette's saturation 0.05";
    QTest::newRow("best 60") << true << 60 << "60: the photo's chroma times 1.20";
    QTest::newRow("best 25") << true << 25 << "25: the photo's chroma times 0.50";
    QTest::newRow("best 100") << true << 100 << "100: the photo's chroma times 2.00";
}

// The slider's tooltip follows its value and the method in use.
void tst_MainWindow::sliderToolTip()
{
    QFETCH(bool, best);
    QFETCH(int, value);
    QFETCH(QString, tip);

    MainWindow window;
    QSlider *slider = child<QSlider>(window, "horizontalSlider");
    slider->setValue(value);
    window.useMethod(MethodTable::find(best ? "best" : "classic"));
    window.waitForIdle();
    QCOMPARE(slider->toolTip(), tip);
    window.useMethod(MethodTable::find(best ? "classic" : "best"));
    window.waitForIdle();
    QVERIFY(slider->toolTip() != tip);
    window.useMethod(MethodTable::find("classic"));
    window.waitForIdle();
}

// "Adjust picture..." opens a dialog whose sliders and fit convert at once and are remembered for
// the next start; its reset brings back the neutral values and the photo as it was read.
void tst_MainWindow::adjustDialogConvertsResetsAndIsRemembered()
{
    FakeDialogs fake;
    MainWindow window;
    fake.install(window);
    loadPhoto(window, fake);
    clickRadio(radio(window, 1));
    const std::vector<quint32> pixels = loadedPixels(dataFile("chelsea.jpg"));
    const auto photo = [&pixels](int x, int y) { return pixels[y * kSourceWidth + x] | kOpaque; };

    QAction *adjust = nullptr;
    for (QAction *a : window.findChildren<QAction *>())
        if (a->text() == QStringLiteral("Adjust picture..."))
            adjust = a;
    QVERIFY(adjust != nullptr);
    adjust->trigger();
    auto *dialog = window.findChild<AdjustDialog *>();
    QVERIFY(dialog != nullptr && dialog->isVisible());

    // Brightness -100 takes 255 from every channel: the Original plane turns black.
    dialog->brightnessSlider()->setValue(-100);
    window.waitForIdle();
    QString wrong = mismatch(shownImage(window), [](int, int) { return kOpaque; });
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    dialog->contrastSlider()->setValue(40);
    dialog->gammaSlider()->setValue(250);
    dialog->fitBox()->setCurrentIndex(int(PictureFit::Pad));
    window.waitForIdle();
    QCOMPARE(QSettings().value(QStringLiteral("brightness")).toInt(), -100);
    QCOMPARE(QSettings().value(QStringLiteral("gamma")).toDouble(), 2.5);
    QCOMPARE(QSettings().value(QStringLiteral("fit")).toString(), QStringLiteral("pad"));
    {
        MainWindow restarted;
        restarted.showAdjustDialog();
        auto *again = restarted.findChild<AdjustDialog *>();
        QCOMPARE(again->tone().brightness, -100);
        QCOMPARE(again->tone().contrast, 40);
        QCOMPARE(again->tone().gamma, 2.5);
        QCOMPARE(again->fit(), PictureFit::Pad);
    }

    QTest::mouseClick(dialog->resetButton(), Qt::LeftButton);
    window.waitForIdle();
    QCOMPARE(dialog->tone(), PictureTone::Tone());
    QCOMPARE(dialog->fit(), PictureFit::Stretch);
    QCOMPARE(QSettings().value(QStringLiteral("gamma")).toDouble(), 1.0);
    wrong = mismatch(shownImage(window), photo);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QSettings().clear();
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
