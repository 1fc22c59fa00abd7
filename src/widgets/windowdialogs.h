#ifndef WINDOWDIALOGS_H
#define WINDOWDIALOGS_H

#include <QList>
#include <QString>

#include <functional>

class QDropEvent;
class QMimeData;
class QWidget;

// The questions the window puts to the user. By default they are the toolkit's modal
// dialogs; a caller may replace any of them (a test answers without showing a dialog).
struct MainWindowDialogs
{
    // Asks for an existing file to open, starting in directory (empty: the toolkit's choice);
    // returns its name, or an empty string if cancelled.
    std::function<QString(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)>
        openFileName;
    // Asks for a file to write, suggesting suggestedName (a path: folder and name; may be empty).
    // Returns the name as typed, or an empty string if cancelled. Confirms replacing an existing file.
    std::function<QString(QWidget *parent, const QString &caption, const QString &suggestedName,
                          const QString &filter)>
        saveFileName;
    // Asks whether the existing fileName may be replaced; true if so.
    std::function<bool(QWidget *parent, const QString &caption, const QString &fileName)> confirmOverwrite;
    // Tells the user that an action failed.
    std::function<void(QWidget *parent, const QString &title, const QString &text)> warning;

    // Sets all four to the toolkit's modal dialogs.
    MainWindowDialogs();

    // Asks with saveFileName for a file to write; a name typed without a suffix gets suffix ("xex"),
    // and replacing an existing file of that name is confirmed (the dialog confirmed the name as
    // typed). Returns the name, or an empty string if cancelled.
    QString askSaveFileName(QWidget *parent, const QString &caption, const QString &suggestedName,
                            const QString &filter, const QString &suffix) const;
};

// The name of the single local file a drag carries, or an empty string.
QString droppedFile(const QMimeData *mime);
// Accepts a drag enter or drag move event that carries a single local file, ignores others.
void acceptFileDrag(QDropEvent *event);

// "*.jpg *.JPG" for the suffixes ("jpg"): the non-native file dialog matches letter case exactly.
QString filePatterns(const QList<QByteArray> &suffixes);

#endif
