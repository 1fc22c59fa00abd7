#ifndef WINDOWTESTING_H
#define WINDOWTESTING_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "mainwindow.h"

// What the window's tests share: the data files, remembered settings kept in a folder of the run's
// own, dialogs that answer from fields, and loading a photo as a user does.
namespace WindowTesting {

// The path of a file in tests/data.
QString dataFile(const char *name);

// Remembered settings go to a folder of this run only, never to the user's own nor to one that another
// test run (of this or another checkout) changes at the same time; they start empty. One for the whole
// run, a member of the test object.
class SettingsFolder
{
public:
    SettingsFolder();
    bool isValid() const { return dir.isValid(); }

private:
    QTemporaryDir dir;
};

// Each test's cleanup: work left running by a deleted window's queue ends (before the next test and
// before the program ends), and every remembered setting is forgotten.
void cleanUp();

// Stands in for the window's dialogs: answers from fields and records every question.
struct FakeDialogs
{
    QString openAnswer;
    QString saveAnswer;
    bool overwriteAnswer = false;
    QStringList openQuestions; // "caption|filter"
    QStringList openDirectories;
    QStringList saveQuestions; // "caption|filter"
    QStringList saveSuggestions;
    QStringList overwriteQuestions; // "caption|file"
    QStringList warnings;

    // Makes these the window's dialogs; they must outlive its use of them.
    void install(MainWindow &window);
};

template <typename T>
T *child(const MainWindow &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// Clicks the button of that object name and waits until what the click started (a load, for one) is
// shown.
void clickButton(MainWindow &window, const char *name);

// Loads fileName through "Load Picture", answering the dialog with fake; it is shown (or refused)
// when this returns.
void loadFile(MainWindow &window, FakeDialogs &fake, const QString &fileName);
// The same for the data file name, the test photo by default.
void loadPhoto(MainWindow &window, FakeDialogs &fake, const char *name = "chelsea.jpg");

} // namespace WindowTesting

#endif
