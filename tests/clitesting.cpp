#include "clitesting.h"

#include <QDir>
#include <QFile>

#include <csignal>

#include <unistd.h>

namespace CliTesting {

ConverterProcess::ConverterProcess()
{
    setChildSetup([this] {
        std::signal(SIGXFSZ, SIG_DFL);
        const auto limit = [](int resource, rlim_t value) {
            if (value == 0)
                return;
            const rlimit next{value, value};
            setrlimit(resource, &next);
        };
        limit(RLIMIT_FSIZE, fileSizeLimit);
        limit(RLIMIT_AS, addressSpaceLimit);
        limit(RLIMIT_NOFILE, openFileLimit);
        if (ownProcessGroup)
            ::setpgid(0, 0);
        if (standardOutput >= 0)
            ::dup2(standardOutput, STDOUT_FILENO);
        if (standardError >= 0)
            ::dup2(standardError, STDERR_FILENO);
        if (closeStandardInput)
            ::close(STDIN_FILENO);
        if (closeStandardOutput)
            ::close(STDOUT_FILENO);
    });
}

QVector<pid_t> children(pid_t pid)
{
    QVector<pid_t> found;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray list = readAll(tasks + '/' + task + QStringLiteral("/children"));
        for (const QByteArray &child : list.split(' ')) {
            if (child.trimmed().toInt() > 0)
                found << pid_t(child.trimmed().toInt());
        }
    }
    return found;
}

QByteArray readAll(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace CliTesting
