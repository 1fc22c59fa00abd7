#include "windowtesting.h"

#include <QAbstractButton>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include "conversionqueue.h"

// Read by LeakSanitizer in sanitizer builds of the tests that open a window. The offscreen platform
// plugin of Qt 5.15 never frees its screen; these are the allocations of that screen, reached only
// through the plugin.
extern "C" const char *__lsan_default_suppressions();

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n";
}

namespace WindowTesting {

QString dataFile(const char *name)
{
    return QStringLiteral(RASTREL_TEST_DATA "/") + QLatin1String(name);
}

SettingsFolder::SettingsFolder()
{
    QStandardPaths::setTestModeEnabled(true);
    if (dir.isValid())
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings().clear();
}

void cleanUp()
{
    ConversionQueue::waitForRunningWork();
    QSettings().clear();
}

void FakeDialogs::install(MainWindow &window)
{
    MainWindowDialogs dialogs;
    dialogs.openFileName = [this](QWidget *, const QString &caption, const QString &directory, const QString &filter) {
        openQuestions << caption + QLatin1Char('|') + filter;
        openDirectories << directory;
        return openAnswer;
    };
    dialogs.saveFileName = [this](QWidget *, const QString &caption, const QString &suggestedName,
                                  const QString &filter) {
        saveQuestions << caption + QLatin1Char('|') + filter;
        saveSuggestions << suggestedName;
        return saveAnswer;
    };
    dialogs.confirmOverwrite = [this](QWidget *, const QString &caption, const QString &fileName) {
        overwriteQuestions << caption + QLatin1Char('|') + fileName;
        return overwriteAnswer;
    };
    dialogs.warning = [this](QWidget *, const QString &, const QString &text) { warnings << text; };
    window.setDialogs(dialogs);
}

void clickButton(MainWindow &window, const char *name)
{
    QTest::mouseClick(child<QAbstractButton>(window, name), Qt::LeftButton);
    window.waitForIdle();
}

void loadFile(MainWindow &window, FakeDialogs &fake, const QString &fileName)
{
    fake.openAnswer = fileName;
    clickButton(window, "pushButton_Load");
}

void loadPhoto(MainWindow &window, FakeDialogs &fake, const char *name)
{
    loadFile(window, fake, dataFile(name));
}

} // namespace WindowTesting
