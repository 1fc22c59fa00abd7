#ifndef PLAINFILES_H
#define PLAINFILES_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Opening the files a run reads and writing the files it writes, so that neither can block for
// ever nor destroy what is not a plain file, nor write where the user did not mean to.
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
// - an existing regular file that may not be written (read-only) is refused and left as it is;
// - a symbolic link is followed, as the kernel would follow it: not when it lies in a shared folder
//   (sticky and writable by all, such as /tmp) and belongs neither to the user nor to the folder's
//   owner. A link whose target does not exist makes the target appear, where its folder exists;
// - otherwise the file (the link's target) appears or is replaced only once everything is on
//   disk, through a temporary file with a short name in the same folder, so that every name the
//   file system accepts can be replaced. An existing file keeps its permissions (and its owner, as
//   far as the system lets the user give it).
// What the name is (a link, a FIFO, a file, nothing) is decided by opening it, never by a look at
// the name that an open of the same name follows. Writes to a FIFO, pipe or device give way to the
// stop check (see setStopCheck): the write then fails with "interrupted".
// On failure returns false, leaves any existing file as it was, leaves no partial file and sets
// error to the reason (naming the folder when the folder is the cause).
bool write(const QString &fileName, const QByteArray &bytes, QString *error);

// Sets the function that is asked, about every 50 ms while a write waits for a FIFO, pipe or
// device, whether to give up. Null: never give up. Call before the first write.
void setStopCheck(bool (*stopRequested)());

// Whether the last failure on the calling thread came from the system's limits (open files,
// processes, memory) rather than from the file: the same call may succeed when less runs at once.
bool shortOfResources();
// Records for the calling thread whether a failure came from the system's limits: error is the
// system's error number (0: it did not).
void noteFailure(int error);

} // namespace PlainFiles

#endif
