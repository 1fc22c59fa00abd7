#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QWindow>
#include <QMessageBox>
#include <QScreen>
#include <QToolTip>

#include "adjustdialog.h"
#include "palettefile.h"
#include "windowsettings.h"
#include "windowtexts.h"

// The window's hints, reports, palette files and the Adjust dialog: kept beside the form's own code.

AdjustDialog *MainWindow::showAdjustDialog()
{
    if (adjustDialog == nullptr) {
        adjustDialog = new AdjustDialog(this);
        // The window's keys that the dialog does not use work while it is active.
        adjustDialog->addActions(actions());
        connect(adjustDialog, &AdjustDialog::changed, this, [this] {
            Settings settings = queue->settings();
            settings.fit = adjustDialog->fit();
            settings.tone = adjustDialog->tone();
            reconvert(settings);
        });
    }
    adjustDialog->setValues(queue->settings().fit, queue->settings().tone);
    if (!adjustDialog->isVisible()) {
        // Beside the window, not over the picture; else where it was last.
        adjustDialog->adjustSize();
        QPoint last;
        const bool hasLast = WindowSettings::adjustDialogPlace(&last);
        const QScreen *screen = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
        const QSize frame = adjustDialog->frameGeometry().size();
        adjustDialog->move(AdjustDialog::placeBeside(frameGeometry(), frame, screen->availableGeometry(), hasLast, last));
    }
    adjustDialog->show();
    adjustDialog->raise();
    adjustDialog->activateWindow();
    return adjustDialog;
}

void MainWindow::updateSliderToolTip()
{
    ui->horizontalSlider->setToolTip(WindowTexts::sliderToolTip(queue->settings(), ui->horizontalSlider->value()));
}

void MainWindow::showMenuHintOnce()
{
    if (!queue->hasPicture() || WindowSettings::menuHintShown())
        return;
    WindowSettings::rememberMenuHintShown();
    QWidget *view = ui->graphicsView;
    QToolTip::showText(view->mapToGlobal(view->rect().center()), WindowTexts::menuHint(), view, QRect(), 8000);
}

bool MainWindow::loadPalette(const QString &fileName)
{
    quint32 palette[256];
    QString error;
    if (!PaletteFile::read(fileName, palette, &error)) {
        dialogs.warning(this, tr("Load Atari palette"),
                        tr("Cannot use %1 as a palette:\n%2").arg(QDir::toNativeSeparators(fileName), error));
        return false;
    }
    Settings settings = queue->settings();
    settings.basePalette.assign(palette, palette + 256);
    WindowSettings::savePalette(fileName);
    paletteFile = fileName;
    reconvert(settings);
    return true;
}

void MainWindow::useBuiltInPalette()
{
    Settings settings = queue->settings();
    settings.basePalette.clear();
    WindowSettings::savePalette(QString());
    paletteFile.clear();
    reconvert(settings);
}

void MainWindow::reportPalette(const QString &reason)
{
    dialogs.warning(this, tr("Load Atari palette"),
                    tr("The remembered palette %1 cannot be read:\n%2\nThe built-in palette is used.")
                        .arg(QDir::toNativeSeparators(paletteFile), reason));
    paletteFile.clear();
}

void MainWindow::showLoadWarning(const QString &, const QString &warning)
{
    if (loadWarning.isNull()) {
        loadWarning = new QMessageBox(QMessageBox::Warning, tr("Load Picture"), QString(), QMessageBox::Close, this);
        loadWarning->setWindowModality(Qt::NonModal);
        loadWarning->setAttribute(Qt::WA_DeleteOnClose);
    }
    loadWarning->setText(warning.section(QLatin1Char('\n'), 0, 0));
    loadWarning->show();
}
