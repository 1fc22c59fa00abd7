// The window as a new user meets it: quitting during a conversion, tooltips and the one-time hint,
// palettes, the Adjust dialog's place and keys, and pictures that load with warnings.
#include <QtTest>

#include <QAbstractButton>
#include <QComboBox>
#include <QScreen>
#include <QGraphicsView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolTip>
#include <QSemaphore>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

#include "adjustdialog.h"
#include "conversionqueue.h"
#include "methodtable.h"
#include "mainwindow.h"
#include "pictureloader.h"
#include "windowtesting.h"

using namespace WindowTesting;

namespace {

// What a blocked reader shares with the test; held by the reader itself, so it outlives the window.
struct Gate
{
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> returned{false};
};

// The entries of the preview's context menu (submenus' entries included, after "submenu/"), with
// the keys each shows, as they are when the menu opens.
QStringList menuEntries(MainWindow &window)
{
    QStringList entries;
    QTimer::singleShot(0, &window, [&entries] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        const std::function<void(QMenu *, const QString &)> list = [&](QMenu *from, const QString &prefix) {
            for (QAction *action : from->actions()) {
                if (action->isSeparator())
                    continue;
                if (action->menu() != nullptr) {
                    list(action->menu(), prefix + action->text() + QLatin1Char('/'));
                    continue;
                }
                QString entry = prefix + action->text();
                if (!action->shortcut().isEmpty() && action->isShortcutVisibleInContextMenu())
                    entry += QLatin1Char('\t') + action->shortcut().toString();
                entries << entry;
            }
        };
        list(menu, QString());
        menu->close();
    });
    window.showPreviewMenu(QPoint(10, 10));
    return entries;
}

QString writePalette(const QTemporaryDir &dir, const char *name)
{
    QFile file(dir.filePath(QLatin1String(name)));
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QByteArray bytes(768, 0);
    for (int i = 0; i < 768; ++i)
        bytes[i] = char(i * 7 % 256);
    file.write(bytes);
    return file.fileName();
}

} // namespace

class tst_WindowDetails : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(settingsFolder.isValid()); }
    void cleanup() { cleanUp(); }
    void closingDoesNotWaitForWork();
    void buttonsNameTheirKeys_data();
    void buttonsNameTheirKeys();
    void menuListsKeysAndPalette();
    void previewToolTipNamesViewAndMenu_data();
    void previewToolTipNamesViewAndMenu();
    void sliderToolTipStatesSaturationInUse();
    void menuHintIsShownOnce();
    void paletteFolderIsKeptApart();
    void missingRememberedPaletteIsReported();
    void adjustDialogPlace_data();
    void adjustDialogPlace();
    void adjustDialogPlaceIsRemembered();
    void keysPassThroughAdjustDialog_data();
    void keysPassThroughAdjustDialog();
    void damagedPictureTellsSo();

private:
    SettingsFolder settingsFolder;
};

void tst_WindowDetails::closingDoesNotWaitForWork()
{
    auto gate = std::make_shared<Gate>();
    auto *window = new MainWindow;
    window->setPictureReader([gate](const QString &fileName, quint32 *pixels, QString *error) {
        gate->entered.release();
        // Held until the test lets go, at most 20 s: a window that waited for it would be deleted
        // only after this has returned.
        gate->release.tryAcquire(1, 20000);
        const bool read = PictureLoader::load(fileName, pixels, error);
        gate->returned = true;
        return read;
    });
    QVERIFY(window->loadPicture(dataFile("chelsea.jpg")));
    QVERIFY(gate->entered.tryAcquire(1, 10000));
    QCOMPARE(ConversionQueue::runningWork(), 1);

    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pushButton_Exit")), Qt::LeftButton);
    QVERIFY(!window->isVisible());
    QElapsedTimer timer;
    timer.start();
    delete window;
    const qint64 deleting = timer.elapsed();
    QVERIFY2(!gate->returned, "deleting the window waited for the reader");
    qInfo("window deleted in %lld ms while its picture was still being read", deleting);

    // The work goes on alone: it reads, converts into the store it holds and reports to nobody.
    gate->release.release();
    ConversionQueue::waitForRunningWork();
    QVERIFY(gate->returned);
    QCOMPARE(ConversionQueue::runningWork(), 0);
    QCoreApplication::processEvents(); // a report posted to the deleted queue would arrive here
}

void tst_WindowDetails::buttonsNameTheirKeys_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tip");
    QTest::newRow("1") << "radioButton_1" << "Original (1)";
    QTest::newRow("2") << "radioButton_2" << "GTIA (2)";
    QTest::newRow("3") << "radioButton_3" << "ATARI PAL (3)";
    QTest::newRow("4") << "radioButton_4" << "Output (4)";
    QTest::newRow("5") << "radioButton_5" << "Gray (5)";
    QTest::newRow("6") << "radioButton_6" << "Green (6)";
    QTest::newRow("7") << "radioButton_7" << "Chroma (7)";
    QTest::newRow("load") << "pushButton_Load" << "Load Picture (Ctrl+O)";
    QTest::newRow("asm") << "pushButton_Save" << "Save ASM (Ctrl+Shift+S)";
    QTest::newRow("xex") << "pushButton_Compile" << "Save XEX (Ctrl+S)";
    QTest::newRow("exit") << "pushButton_Exit" << "Exit (Ctrl+Q)";
}

// Every button's tooltip names the key that clicks it; the key named does.
void tst_WindowDetails::buttonsNameTheirKeys()
{
    QFETCH(QString, name);
    QFETCH(QString, tip);
    MainWindow window;
    FakeDialogs fake;
    fake.install(window);
    auto *button = window.findChild<QAbstractButton *>(name);
    QVERIFY(button != nullptr);
    QCOMPARE(button->toolTip(), tip);
    if (!name.startsWith(QLatin1String("radio")))
        return;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QString key = tip.mid(tip.lastIndexOf(QLatin1Char('(')) + 1).chopped(1);
    QTest::keySequence(&window, QKeySequence(key));
    QVERIFY(button->isChecked());
}

// The menu shows the keys of the seven previews and of Load, Save and Exit, and names the palette.
void tst_WindowDetails::menuListsKeysAndPalette()
{
    QTemporaryDir dir;
    const QString palette = writePalette(dir, "mine.act");
    MainWindow window;
    FakeDialogs fake;
    fake.install(window);
    window.show();
    QStringList entries = menuEntries(window);
    for (const char *entry : {"Previews/Original\t1", "Previews/GTIA\t2", "Previews/ATARI PAL\t3",
                              "Previews/Output\t4", "Previews/Gray\t5", "Previews/Green\t6", "Previews/Chroma\t7",
                              "Load Picture\tCtrl+O", "Save ASM\tCtrl+Shift+S", "Save XEX\tCtrl+S", "Exit\tCtrl+Q",
                              "Built-in palette\tShift+P", "Two frames (blended)\tT"})
        QVERIFY2(entries.contains(QLatin1String(entry)), qPrintable(entry + QStringLiteral(" not in ") + entries.join('|')));
    QVERIFY(!entries.join('|').contains(QLatin1String("Palette:")));

    QVERIFY(window.loadPalette(palette));
    entries = menuEntries(window);
    QVERIFY2(entries.contains(QStringLiteral("Palette: mine.act")), qPrintable(entries.join('|')));
    window.useBuiltInPalette();
    entries = menuEntries(window);
    QVERIFY(!entries.join('|').contains(QLatin1String("Palette:")));
    window.waitForIdle();
}

void tst_WindowDetails::previewToolTipNamesViewAndMenu_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("view");
    QTest::newRow("preview") << int(Qt::Key_3) << "ATARI PAL";
    QTest::newRow("atari") << int(Qt::Key_8) << "What the Atari shows";
    QTest::newRow("frame A") << int(Qt::Key_9) << "Frame A (one of the two alternating frames)";
    QTest::newRow("frame B") << int(Qt::Key_0) << "Frame B (the other of the two alternating frames)";
}

// The preview's tooltip names the view shown (the frames themselves) and where the menu is.
void tst_WindowDetails::previewToolTipNamesViewAndMenu()
{
    QFETCH(int, key);
    QFETCH(QString, view);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key(key));
    QCOMPARE(window.previewToolTip(),
             view + "\nRight-click the picture for the methods, two frames, palettes and picture controls.");
}

// 0.60 is the generated palette's saturation until the slider is first moved, whatever it shows.
void tst_WindowDetails::sliderToolTipStatesSaturationInUse()
{
    MainWindow window;
    auto *slider = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    QCOMPARE(slider->value(), 50);
    QCOMPARE(slider->toolTip(), QStringLiteral("The generated palette's saturation 0.60 until the slider is moved"));
    window.useMethod(MethodTable::find("best"));
    QCOMPARE(slider->toolTip(), QStringLiteral("50: the photo's chroma times 1.00"));
    window.useMethod(MethodTable::find("classic"));
    slider->setValue(49);
    QCOMPARE(slider->toolTip(), QStringLiteral("49: the generated palette's saturation 0.49"));
    slider->setValue(50);
    QCOMPARE(slider->toolTip(), QStringLiteral("50: the generated palette's saturation 0.50"));
    window.waitForIdle();
}

// The first picture ever shown brings the hint about the menu; later ones, in this run or the
// next, do not.
void tst_WindowDetails::menuHintIsShownOnce()
{
    const QString hint = QStringLiteral("Right-click the picture for the methods, two frames, palettes and picture controls.");
    for (int run = 0; run < 2; ++run) {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        QVERIFY(window.loadPicture(dataFile("chelsea.jpg")));
        window.waitForIdle();
        QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), run == 0 ? hint : QString());
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        QVERIFY(window.loadPicture(dataFile("coffee.jpg")));
        window.waitForIdle();
        QVERIFY(!QToolTip::isVisible());
    }
}

// Palettes are opened from their own folder; opening one leaves the pictures' folder alone.
void tst_WindowDetails::paletteFolderIsKeptApart()
{
    QTemporaryDir palettes;
    const QString palette = writePalette(palettes, "p.act");
    MainWindow window;
    FakeDialogs fake;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    loadPhoto(window, fake);
    fake.openAnswer = palette;
    QTest::keyClick(&window, Qt::Key_P);
    fake.openAnswer.clear();
    QTest::keyClick(&window, Qt::Key_P);
    clickButton(window, "pushButton_Load");
    const QString pictures = QFileInfo(dataFile("chelsea.jpg")).absolutePath();
    QCOMPARE(fake.openDirectories,
             QStringList({QString(), QString(), QFileInfo(palette).absolutePath(), pictures}));
}

// A remembered palette that has gone is reported once, at start, with the reason.
void tst_WindowDetails::missingRememberedPaletteIsReported()
{
    QString gone;
    {
        QTemporaryDir dir;
        gone = writePalette(dir, "gone.act");
        MainWindow window;
        QVERIFY(window.loadPalette(gone));
        window.waitForIdle();
    }
    for (int run = 0; run < 2; ++run) {
        MainWindow window;
        FakeDialogs fake;
        fake.install(window);
        QTest::qWait(20);
        if (run == 1) {
            QCOMPARE(fake.warnings, QStringList());
            continue;
        }
        QCOMPARE(fake.warnings.size(), 1);
        QVERIFY2(fake.warnings[0].contains(QDir::toNativeSeparators(gone)), qPrintable(fake.warnings[0]));
        QVERIFY2(fake.warnings[0].contains(QLatin1String("No such file")), qPrintable(fake.warnings[0]));
        QVERIFY(!menuEntries(window).join('|').contains(QLatin1String("Palette:")));
    }
}

void tst_WindowDetails::adjustDialogPlace_data()
{
    QTest::addColumn<QRect>("window");
    QTest::addColumn<bool>("hasLast");
    QTest::addColumn<QPoint>("expected");
    // Screen 0,0 1000x800; dialog 300x200.
    QTest::newRow("right") << QRect(100, 50, 512, 512) << true << QPoint(612, 50);
    QTest::newRow("right, exactly") << QRect(188, 50, 512, 512) << false << QPoint(700, 50);
    QTest::newRow("no room by one") << QRect(189, 50, 512, 512) << false << QPoint(0, 0);
    QTest::newRow("left") << QRect(400, 50, 512, 512) << false << QPoint(100, 50);
    QTest::newRow("left, room") << QRect(400, 700, 512, 512) << true << QPoint(100, 600);
    QTest::newRow("no room: last") << QRect(250, 0, 512, 512) << true << QPoint(7, 9);
    QTest::newRow("no room: corner") << QRect(250, 0, 512, 512) << false << QPoint(0, 0);
}

void tst_WindowDetails::adjustDialogPlace()
{
    QFETCH(QRect, window);
    QFETCH(bool, hasLast);
    QFETCH(QPoint, expected);
    QCOMPARE(AdjustDialog::placeBeside(window, QSize(300, 200), QRect(0, 0, 1000, 800), hasLast, QPoint(7, 9)),
             expected);
}

// Where the window leaves no room beside it, the dialog opens where it was moved to last, also in
// the next run.
void tst_WindowDetails::adjustDialogPlaceIsRemembered()
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (int run = 0; run < 2; ++run) {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.move(screen.center().x() - window.frameGeometry().width() / 2, screen.top());
        AdjustDialog *dialog = window.showAdjustDialog();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        const int room = qMax(window.frameGeometry().left() - screen.left(), screen.right() - window.frameGeometry().right());
        QVERIFY2(dialog->frameGeometry().width() > room, "the screen leaves room beside the window");
        if (run == 0) {
            dialog->move(screen.topLeft() + QPoint(33, 44));
            QTRY_COMPARE(dialog->pos(), screen.topLeft() + QPoint(33, 44));
            dialog->close();
            QVERIFY(!dialog->isVisible());
            window.showAdjustDialog();
        }
        QCOMPARE(dialog->pos(), screen.topLeft() + QPoint(33, 44));
    }
}

void tst_WindowDetails::keysPassThroughAdjustDialog_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("view");    // the preview's tooltip's first line after the key, or empty
    QTest::addColumn<QString>("method");  // the method remembered after the key, or empty
    QTest::addColumn<int>("frames");
    QTest::newRow("2") << int(Qt::Key_2) << "GTIA" << QString() << 0;
    QTest::newRow("7") << int(Qt::Key_7) << "Chroma" << QString() << 0;
    QTest::newRow("8") << int(Qt::Key_8) << "What the Atari shows" << QString() << 0;
    QTest::newRow("9") << int(Qt::Key_9) << "Frame A (one of the two alternating frames)" << QString() << 0;
    QTest::newRow("0") << int(Qt::Key_0) << "Frame B (the other of the two alternating frames)" << QString() << 0;
    QTest::newRow("B") << int(Qt::Key_B) << QString() << "best" << 1;
    QTest::newRow("T") << int(Qt::Key_T) << QString() << "best" << 2;
    QTest::newRow("C") << int(Qt::Key_C) << QString() << "classic" << 1;
}

// With the Adjust dialog active (its fit choice or a slider focused), the window's keys still work.
void tst_WindowDetails::keysPassThroughAdjustDialog()
{
    QFETCH(int, key);
    QFETCH(QString, view);
    QFETCH(QString, method);
    QFETCH(int, frames);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    AdjustDialog *dialog = window.showAdjustDialog();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    for (QWidget *focus : {static_cast<QWidget *>(dialog->fitBox()), static_cast<QWidget *>(dialog->gammaSlider())}) {
        window.useMethod(MethodTable::find(method == QLatin1String("classic") ? "best" : "classic"));
        focus->setFocus();
        const int gamma = dialog->gammaSlider()->value();
        const int fit = dialog->fitBox()->currentIndex();
        QTest::keyClick(focus, Qt::Key(key));
        if (!view.isEmpty())
            QCOMPARE(window.previewToolTip().section(QLatin1Char('\n'), 0, 0), view);
        if (!method.isEmpty()) {
            QCOMPARE(QSettings().value(QStringLiteral("method")).toString(), method);
            QCOMPARE(QSettings().value(QStringLiteral("frames")).toInt(), frames);
        }
        QCOMPARE(dialog->gammaSlider()->value(), gamma);
        QCOMPARE(dialog->fitBox()->currentIndex(), fit);
    }
    window.waitForIdle();
}

// A picture that loads with decoder warnings (half a JPEG) is shown, and a message that does not
// stop the window tells the first warning in one line; an intact one brings none, nor one with a
// colour-profile notice.
void tst_WindowDetails::damagedPictureTellsSo()
{
    QTemporaryDir dir;
    QFile photo(dataFile("chelsea.jpg"));
    QVERIFY(photo.open(QIODevice::ReadOnly));
    const QByteArray whole = photo.readAll();
    QFile half(dir.filePath(QStringLiteral("half.jpg")));
    QVERIFY(half.open(QIODevice::WriteOnly));
    half.write(whole.left(whole.size() / 2));
    half.close();

    MainWindow window;
    FakeDialogs fake;
    fake.install(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadPicture(dataFile("chelsea.jpg")));
    window.waitForIdle();
    QVERIFY(window.findChildren<QMessageBox *>().isEmpty());
    // A colour-profile notice of libpng is no damage (an image of the Qt 5 documentation carries one).
    const QString notice = QStringLiteral("/usr/share/qt5/doc/global/template/images/horBar.png");
    if (QFileInfo::exists(notice)) {
        QVERIFY(window.loadPicture(notice));
        window.waitForIdle();
        QVERIFY(window.findChildren<QMessageBox *>().isEmpty());
    }

    QVERIFY(window.loadPicture(half.fileName()));
    window.waitForIdle();
    const QList<QMessageBox *> messages = window.findChildren<QMessageBox *>();
    QCOMPARE(messages.size(), 1);
    QMessageBox *message = messages.first();
    QTRY_VERIFY(message->isVisible());
    QCOMPARE(message->windowModality(), Qt::NonModal);
    QVERIFY2(message->text().startsWith(QDir::toNativeSeparators(half.fileName()) + ": the picture is damaged"),
             qPrintable(message->text()));
    QVERIFY(message->text().contains(QLatin1String("premature end"), Qt::CaseInsensitive));
    QVERIFY(!message->text().contains(QLatin1Char('\n')));
    QVERIFY(fake.warnings.isEmpty()); // no modal warning
    // The window goes on working while it is open, and it is dismissed with its button.
    QTest::keyClick(&window, Qt::Key_2);
    QVERIFY(window.loadPicture(dataFile("coffee.jpg")));
    window.waitForIdle();
    QTest::mouseClick(message->button(QMessageBox::Close), Qt::LeftButton);
    QTRY_VERIFY(window.findChildren<QMessageBox *>().isEmpty());
}

QTEST_MAIN(tst_WindowDetails)
#include "tst_windowdetails.moc"
