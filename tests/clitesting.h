#ifndef CLITESTING_H
#define CLITESTING_H

#include "qtcompat.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

#include <sys/resource.h>

// What the converter's tests share: starting it, and reading and writing the files it meets.
namespace CliTesting {

// Starts the converter with SIGXFSZ at its default action (ending the process), optionally with a
// limit on the size of any file it writes (bytes; 0 for none): a write past the limit fails only
// because the converter ignores the signal itself.
class ConverterProcess : public QtCompat::ProcessWithChildSetup
{
public:
    ConverterProcess();

    rlim_t fileSizeLimit = 0;
    rlim_t addressSpaceLimit = 0; // bytes of address space (ulimit -v); 0 for none
    rlim_t openFileLimit = 0;     // open descriptors (ulimit -n); 0 for none
    bool ownProcessGroup = false; // a process group of its own, as a shell's job
    int standardOutput = -1;      // a descriptor to take the place of the standard output; -1: QProcess's
    int standardError = -1;       // the same for the standard error stream
    bool closeStandardInput = false;
    bool closeStandardOutput = false;
};

// The processes whose parent is pid.
QVector<pid_t> children(pid_t pid);

// The whole file, or nothing when it cannot be read.
QByteArray readAll(const QString &fileName);

// Writes bytes as the whole file; whether all of them were written.
bool writeAll(const QString &fileName, const QByteArray &bytes);

// The names in a folder, hidden ones included, sorted by name.
QStringList entries(const QString &dir);

} // namespace CliTesting

#endif
