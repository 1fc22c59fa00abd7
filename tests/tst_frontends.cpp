#include "adjustdialog.h"
#include "displaytable.h"
#include "mainwindow.h"
#include "windowtesting.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

// The window and the command-line converter are two front ends of one conversion: for the same
// choices, made in the window through its keys, menus, slider and dialog and on the command line
// through options, both write the same executable and the same assembler source, byte for byte.
class TestFrontEnds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void windowAndCliWriteTheSameFiles_data();
    void windowAndCliWriteTheSameFiles();

private:
    WindowTesting::SettingsFolder settingsFolder;
    QTemporaryDir temp;
    QString paletteFile;
};

namespace {

// Triggers the window's action whose shortcut is key, as the key does when the window has the
// keyboard (an open dialog may have it).
void pressKey(MainWindow &window, Qt::Key key)
{
    int found = 0;
    for (QAction *action : window.actions()) {
        if (action->shortcut() == QKeySequence(key)) {
            action->trigger();
            ++found;
        }
    }
    QCOMPARE(found, 1);
}

// Steps a user takes in the window, one per word: "B", "C", "T" (the method keys), "flicker:N"
// (the flicker limit menu entry "N L*"), "slider:N", "fit:N" (the Adjust dialog's fit, by index),
// "brightness:N", "contrast:N", "gamma:N" (hundredths; the dialog's sliders), "display:N" (the
// Display submenu's entry for display N of the display table) and "palette" (key P, answering the
// test palette).
void act(MainWindow &window, const QString &step, const QString &paletteFile, QString *openAnswer)
{
    const QString name = step.section(QLatin1Char(':'), 0, 0);
    const int value = step.section(QLatin1Char(':'), 1).toInt();
    AdjustDialog *dialog = name == QLatin1String("fit") || name == QLatin1String("brightness")
                                   || name == QLatin1String("contrast") || name == QLatin1String("gamma")
                               ? window.showAdjustDialog()
                               : nullptr;
    if (name.size() == 1) {
        pressKey(window, Qt::Key(name.at(0).unicode()));
    } else if (name == QLatin1String("flicker")) {
        for (QAction *action : window.findChildren<QAction *>()) {
            if (action->text() == QStringLiteral("%1 L*").arg(value))
                action->trigger();
        }
    } else if (name == QLatin1String("display")) {
        for (QAction *action : window.findChildren<QAction *>()) {
            if (action->text() == QCoreApplication::translate("MainWindow", DisplayTable::at(value).menuText))
                action->trigger();
        }
    } else if (name == QLatin1String("slider")) {
        window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(value);
    } else if (name == QLatin1String("fit")) {
        dialog->fitBox()->setCurrentIndex(value);
    } else if (name == QLatin1String("brightness")) {
        dialog->brightnessSlider()->setValue(value);
    } else if (name == QLatin1String("contrast")) {
        dialog->contrastSlider()->setValue(value);
    } else if (name == QLatin1String("gamma")) {
        dialog->gammaSlider()->setValue(value);
    } else if (name == QLatin1String("palette")) {
        *openAnswer = paletteFile;
        pressKey(window, Qt::Key_P);
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
    }
    window.waitForIdle();
    if (dialog)
        dialog->close();
}

QByteArray contents(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestFrontEnds::initTestCase()
{
    QVERIFY(settingsFolder.isValid());
    QVERIFY(temp.isValid());
    // A palette unlike the built-in one, so that a file ignored by either front end shows.
    QByteArray palette;
    for (int i = 0; i < 256; ++i) {
        const int hue = i >> 4;
        const int luminance = i & 15;
        palette.append(char((luminance * 16 + hue * 5) & 0xFF));
        palette.append(char((luminance * 15 + 8) & 0xFF));
        palette.append(char((255 - luminance * 16 + hue * 9) & 0xFF));
    }
    paletteFile = temp.filePath(QStringLiteral("test.pal"));
    QFile file(paletteFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(palette), qint64(768));
}

void TestFrontEnds::cleanup()
{
    WindowTesting::cleanUp();
}

void TestFrontEnds::windowAndCliWriteTheSameFiles_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("options");

    QTest::newRow("best") << "B" << QStringList{"-m", "best"};
    QTest::newRow("two frames at flicker 5") << "T flicker:5" << QStringList{"--frames", "2", "--flicker", "5"};
    QTest::newRow("two frames, then best keeps them") << "T B" << QStringList{"--frames", "2"};
    QTest::newRow("two frames, classic, best") << "T C B" << QStringList{"-m", "best"};
    QTest::newRow("fit crop") << "fit:1" << QStringList{"--fit", "crop"};
    QTest::newRow("fit pad, best") << "fit:2 B" << QStringList{"--fit", "pad", "-m", "best"};
    QTest::newRow("tone") << "brightness:12 contrast:-20 gamma:130"
                          << QStringList{"--brightness", "12", "--contrast", "-20", "--gamma", "1.3"};
    QTest::newRow("loaded palette, classic") << "palette" << QStringList{"--palette", "@PALETTE"};
    QTest::newRow("loaded palette, two frames") << "palette T flicker:0"
                                                << QStringList{"--palette", "@PALETTE", "--frames", "2", "--flicker", "0"};
    QTest::newRow("slider moved, classic") << "slider:30" << QStringList{"-s", "30"};
    QTest::newRow("slider moved, best") << "B slider:80" << QStringList{"-m", "best", "-s", "80"};
    const QString pal = QString::number(DisplayTable::find(QStringLiteral("pal")));
    QTest::newRow("best for a PAL TV") << "B display:" + pal << QStringList{"-m", "best", "--display", "pal"};
    QTest::newRow("classic on a PAL TV") << "display:" + pal << QStringList{"--display", "pal"};
    QTest::newRow("two frames for a PAL TV") << "display:" + pal + " T flicker:5"
                                             << QStringList{"--frames", "2", "--flicker", "5", "--display", "pal"};
}

void TestFrontEnds::windowAndCliWriteTheSameFiles()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, options);
    const QString dir = temp.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    QVERIFY(QDir().mkpath(dir));

    MainWindow window;
    WindowTesting::FakeDialogs fake;
    fake.install(window);
    fake.openAnswer = WindowTesting::dataFile("chelsea.jpg");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    window.waitForIdle();
    for (const QString &step : steps.split(QLatin1Char(' ')))
        act(window, step, paletteFile, &fake.openAnswer);

    fake.saveAnswer = dir + QStringLiteral("/window.xex");
    window.findChild<QPushButton *>(QStringLiteral("pushButton_Compile"))->click();
    fake.saveAnswer = dir + QStringLiteral("/window.asm");
    window.findChild<QPushButton *>(QStringLiteral("pushButton_Save"))->click();
    QCOMPARE(fake.warnings, QStringList());

    QStringList arguments = options;
    arguments.replaceInStrings(QStringLiteral("@PALETTE"), paletteFile);
    arguments << QStringLiteral("--xex") << dir + QStringLiteral("/cli.xex") << QStringLiteral("--asm")
              << dir + QStringLiteral("/cli.asm") << QStringLiteral("-j") << QStringLiteral("2")
              << WindowTesting::dataFile("chelsea.jpg");
    QProcess cli;
    cli.start(QStringLiteral(RASTREL_CLI), arguments);
    QVERIFY(cli.waitForFinished(300000));
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0, cli.readAllStandardError().constData());

    for (const char *suffix : {".xex", ".asm"}) {
        const QByteArray fromWindow = contents(dir + QStringLiteral("/window") + QLatin1String(suffix));
        const QByteArray fromCli = contents(dir + QStringLiteral("/cli") + QLatin1String(suffix));
        QVERIFY2(!fromWindow.isEmpty(), suffix);
        QVERIFY2(fromWindow == fromCli, suffix);
    }
}

QTEST_MAIN(TestFrontEnds)
#include "tst_frontends.moc"
