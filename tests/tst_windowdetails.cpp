// The window as a new user meets it: quitting during a conversion, tooltips and the one-time hint,
// palettes, the Adjust dialog's place and keys, and pictures that load with warnings.
#include <QtTest>

#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

#include "conversionqueue.h"
#include "mainwindow.h"
#include "pictureloader.h"

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n";
}

namespace {

QString dataFile(const char *name)
{
    return QStringLiteral(RASTREL_TEST_DATA "/") + QLatin1String(name);
}

// What a blocked reader shares with the test; held by the reader itself, so it outlives the window.
struct Gate
{
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> returned{false};
};

} // namespace

class tst_WindowDetails : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QSettings().clear(); }
    void cleanup() { ConversionQueue::waitForRunningWork(); }
    void closingDoesNotWaitForWork();

private:
    QTemporaryDir settingsDir;
};

void tst_WindowDetails::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
}

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

QTEST_MAIN(tst_WindowDetails)
#include "tst_windowdetails.moc"
