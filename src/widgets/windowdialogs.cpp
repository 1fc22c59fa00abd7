#include "windowdialogs.h"

#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

MainWindowDialogs::MainWindowDialogs()
    : openFileName([](QWidget *parent, const QString &caption, const QString &directory, const QString &filter) {
          return QFileDialog::getOpenFileName(parent, caption, directory, filter);
      })
    , saveFileName([](QWidget *parent, const QString &caption, const QString &suggestedName, const QString &filter) {
          return QFileDialog::getSaveFileName(parent, caption, suggestedName, filter);
      })
    , confirmOverwrite([](QWidget *parent, const QString &caption, const QString &fileName) {
          const QString question = QFileDialog::tr("%1 already exists.\nDo you want to replace it?")
                                       .arg(QDir::toNativeSeparators(fileName));
          return QMessageBox::warning(parent, caption, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                 == QMessageBox::Yes;
      })
    , warning([](QWidget *parent, const QString &title, const QString &text) {
          QMessageBox::warning(parent, title, text);
      })
{
}

QString MainWindowDialogs::askSaveFileName(QWidget *parent, const QString &caption, const QString &suggestedName,
                                           const QString &filter, const QString &suffix) const
{
    QString fileName = saveFileName(parent, caption, suggestedName, filter);
    if (!fileName.isEmpty() && QFileInfo(fileName).suffix().isEmpty()) {
        fileName += QLatin1Char('.') + suffix;
        if (QFileInfo::exists(fileName) && !confirmOverwrite(parent, caption, fileName))
            return QString();
    }
    return fileName;
}

QString droppedFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().constFirst().isLocalFile())
        return QString();
    return mime->urls().constFirst().toLocalFile();
}

void acceptFileDrag(QDropEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

QString filePatterns(const QList<QByteArray> &suffixes)
{
    QStringList lower;
    QStringList upper;
    for (const QByteArray &suffix : suffixes) {
        lower << QStringLiteral("*.") + QString::fromLatin1(suffix).toLower();
        upper << QStringLiteral("*.") + QString::fromLatin1(suffix).toUpper();
    }
    lower.removeDuplicates();
    upper.removeDuplicates();
    return (lower + upper).join(QLatin1Char(' '));
}
