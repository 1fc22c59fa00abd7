#ifndef PLAINFILES_H
#define PLAINFILES_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Opening the files a run reads and writing the files it writes, so that neither can block for
// ever nor destroy what is not a plain file.
namespace PlainFiles {

// Opens fileName for reading when it is a regular file (links followed): returns the descriptor
// (close-on-exec) and sets size to its length in bytes. Refuses at once, without opening it, a
// folder, FIFO, device or socket; on failure returns -1 and sets error to the reason (the system's
// reason when the file cannot be opened).
int openForReading(const QString &fileName, qint64 *size, QString *error);

// Writes the whole of bytes to fileName:
// - "-": to the standard output;
// - an existing file that is not a regular file (a device such as /dev/null, a FIFO): into it, as
//   it is; a FIFO that no program reads fails at once;
// - otherwise the file (the target of a symbolic link) appears or is replaced only once everything
//   is on disk, through a temporary file with a short name in the same folder, so that every name
//   the file system accepts can be replaced. An existing file keeps its permissions.
// On failure returns false, leaves any existing file as it was, leaves no partial file and sets
// error to the reason (naming the folder when the folder is the cause).
bool write(const QString &fileName, const QByteArray &bytes, QString *error);

} // namespace PlainFiles

#endif
