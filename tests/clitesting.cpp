#include "clitesting.h"

#include <QDir>
#include <QFile>

#include <csignal>

namespace CliTesting {

ConverterProcess::ConverterProcess()
{
    setChildSetup([this] {
        std::signal(SIGXFSZ, SIG_DFL);
        if (fileSizeLimit == 0)
            return;
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
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
