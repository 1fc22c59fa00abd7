#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QHelpEvent>
#include <QSettings>
#include <QToolTip>

#include "ataripic.h"
#include "palettefile.h"
#include "picturefiles.h"

namespace {

const char *const kPaletteKey = "palette";
const char *const kMethodKey = "method";
const char *const kBestMethod = "best";

} // namespace

MainWindowDialogs::MainWindowDialogs()
    : openFileName([](QWidget *parent, const QString &caption, const QString &filter) {
          return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
      })
    , saveFileName([](QWidget *parent, const QString &caption, const QString &filter) {
          return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
      })
    , warning([](QWidget *parent, const QString &title, const QString &text) {
          QMessageBox::warning(parent, title, text);
      })
{
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , pic(nullptr)
    , image(nullptr)
    , scene(nullptr)
    , previewMode(0)
    , pictureLoaded(false)
    , sourcePixels{}
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    pic = new ATARIpic;
    image = new QImage(pic->width, pic->height, QImage::Format_RGB32);
    scene = new QGraphicsScene(this);
    scene->setSceneRect(0, 0, pic->width, pic->height);
    createActions();

    const QSettings settings;
    if (settings.value(QLatin1String(kMethodKey)).toString() == QLatin1String(kBestMethod)) {
        pic->setMethod(ATARIpic::Method::Best);
        bestAction->setChecked(true);
    }
    // A remembered palette file that can no longer be read leaves the stored palette in use.
    const QString paletteFile = settings.value(QLatin1String(kPaletteKey)).toString();
    quint32 palette[256];
    QString error;
    if (!paletteFile.isEmpty() && PaletteFile::read(paletteFile, palette, &error)) {
        pic->setBasePalette(palette);
        pic->Demo();
    }
    paintImage();
}

void MainWindow::createActions()
{
    const QRadioButton *const buttons[] = {ui->radioButton_1, ui->radioButton_2, ui->radioButton_3,
                                           ui->radioButton_4, ui->radioButton_5, ui->radioButton_6,
                                           ui->radioButton_7};
    for (int mode = 0; mode < int(sizeof buttons / sizeof buttons[0]); ++mode) {
        auto *action = new QAction(buttons[mode]->text(), this);
        action->setShortcut(QKeySequence(Qt::Key_1 + mode));
        QRadioButton *button = const_cast<QRadioButton *>(buttons[mode]);
        connect(action, &QAction::triggered, button, &QRadioButton::click);
        addAction(action);
    }

    atariViewAction = new QAction(tr("What the Atari shows"), this);
    atariViewAction->setShortcut(QKeySequence(Qt::Key_8));
    atariViewAction->setCheckable(true);
    connect(atariViewAction, &QAction::triggered, this, &MainWindow::showAtariView);
    addAction(atariViewAction);

    loadPaletteAction = new QAction(tr("Load Atari palette..."), this);
    loadPaletteAction->setShortcut(QKeySequence(Qt::Key_P));
    connect(loadPaletteAction, &QAction::triggered, this, [this] {
        const QString fileName = dialogs.openFileName(this, tr("Load Atari palette"),
                                                      tr("Atari palettes (*.pal *.act);;All files (*)"));
        if (!fileName.isEmpty())
            loadPalette(fileName);
    });
    addAction(loadPaletteAction);

    builtInPaletteAction = new QAction(tr("Built-in palette"), this);
    builtInPaletteAction->setShortcut(QKeySequence(Qt::SHIFT + Qt::Key_P));
    builtInPaletteAction->setCheckable(true);
    connect(builtInPaletteAction, &QAction::triggered, this, &MainWindow::useBuiltInPalette);
    addAction(builtInPaletteAction);

    auto *methods = new QActionGroup(this);
    classicAction = new QAction(tr("Classic conversion"), methods);
    classicAction->setShortcut(QKeySequence(Qt::Key_C));
    classicAction->setCheckable(true);
    classicAction->setChecked(true);
    connect(classicAction, &QAction::triggered, this, [this] { useBestMethod(false); });
    bestAction = new QAction(tr("Best conversion (least CIEDE2000)"), methods);
    bestAction->setShortcut(QKeySequence(Qt::Key_B));
    bestAction->setCheckable(true);
    connect(bestAction, &QAction::triggered, this, [this] { useBestMethod(true); });
    addActions(methods->actions());

    ui->graphicsView->viewport()->installEventFilter(this);
    ui->graphicsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->graphicsView, &QWidget::customContextMenuRequested, this, &MainWindow::showPreviewMenu);
}

void MainWindow::showPreviewMenu(const QPoint &position)
{
    atariViewAction->setChecked(atariView);
    builtInPaletteAction->setChecked(pic->palette().hasBuiltInBase());
    QMenu menu(this);
    menu.addAction(classicAction);
    menu.addAction(bestAction);
    menu.addSeparator();
    menu.addAction(atariViewAction);
    menu.addSeparator();
    menu.addAction(loadPaletteAction);
    menu.addAction(builtInPaletteAction);
    const QString quality = qualityText();
    if (!quality.isEmpty()) {
        menu.addSeparator();
        menu.addAction(quality)->setEnabled(false);
    }
    menu.exec(ui->graphicsView->viewport()->mapToGlobal(position));
}

void MainWindow::showAtariView()
{
    atariView = true;
    preview();
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
    pic->setBasePalette(palette);
    QSettings().setValue(QLatin1String(kPaletteKey), QFileInfo(fileName).absoluteFilePath());
    reconvert();
    return true;
}

void MainWindow::useBuiltInPalette()
{
    pic->setBasePalette(nullptr);
    QSettings().remove(QLatin1String(kPaletteKey));
    reconvert();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->graphicsView->viewport() && event->type() == QEvent::ToolTip) {
        const QString quality = qualityText();
        if (quality.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), quality, ui->graphicsView);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::useBestMethod(bool best)
{
    pic->setMethod(best ? ATARIpic::Method::Best : ATARIpic::Method::Classic);
    (best ? bestAction : classicAction)->setChecked(true);
    QSettings().setValue(QLatin1String(kMethodKey), best ? QLatin1String(kBestMethod) : QLatin1String("classic"));
    reconvert();
}

QString MainWindow::qualityText() const
{
    if (!pictureLoaded)
        return QString();
    return tr("Mean CIEDE2000: %1").arg(pic->qualityFigure(), 0, 'f', 2);
}

void MainWindow::reconvert()
{
    if (pictureLoaded)
        pic->letsGo();
    else
        pic->Demo();
    preview();
}

MainWindow::~MainWindow()
{
    delete image;
    delete scene;
    delete pic;
    delete ui;
}

void MainWindow::paintImage()
{
    PictureFiles::paintPreview(*pic, atariView ? kAtariViewMode : previewMode, *image);

    // One pixmap item at the scene origin, its pixmap replaced on every repaint.
    const QPixmap pixmap = QPixmap::fromImage(*image);
    if (pixmapItem)
        pixmapItem->setPixmap(pixmap);
    else
        pixmapItem = scene->addPixmap(pixmap);

    ui->graphicsView->setScene(scene);
    ui->graphicsView->show();
}

void MainWindow::preview()
{
    const QRadioButton *const buttons[] = {ui->radioButton_1, ui->radioButton_2, ui->radioButton_3,
                                           ui->radioButton_4, ui->radioButton_5, ui->radioButton_6,
                                           ui->radioButton_7};
    for (quint8 mode = 0; mode < sizeof buttons / sizeof buttons[0]; ++mode) {
        if (buttons[mode]->isChecked()) {
            previewMode = mode;
            break;
        }
    }
    ui->pushButton_Save->setEnabled(pictureLoaded);
    ui->pushButton_Compile->setEnabled(pictureLoaded);
    paintImage();
}

void MainWindow::on_pushButton_Exit_clicked()
{
    close();
}

void MainWindow::on_pushButton_Load_clicked()
{
    const QString fileName = dialogs.openFileName(this, tr("Open JPG"), tr("JPG Files (*.jpg)"));
    if (fileName.isEmpty())
        return;

    QString error;
    if (!PictureFiles::load(fileName, sourcePixels, &error)) {
        dialogs.warning(this, tr("Load Picture"),
                        tr("Cannot load %1:\n%2").arg(QDir::toNativeSeparators(fileName), error));
        return;
    }
    pic->copy(sourcePixels);
    pictureLoaded = true;
    preview();
}

void MainWindow::on_pushButton_Save_clicked()
{
    exportPicture(tr("Save ASM"), tr("ASM Files (*.asm)"), PictureFiles::saveAsm);
}

void MainWindow::on_pushButton_Compile_clicked()
{
    exportPicture(tr("Save XEX"), tr("XEX Files (*.xex)"), PictureFiles::saveXex);
}

void MainWindow::exportPicture(const QString &caption, const QString &filter, SaveFunction save)
{
    const QString fileName = dialogs.saveFileName(this, caption, filter);
    if (fileName.isEmpty())
        return;

    QString error;
    if (!save(*pic, fileName, &error))
        dialogs.warning(this, caption, tr("Cannot save %1:\n%2").arg(QDir::toNativeSeparators(fileName), error));
}

void MainWindow::on_radioButton_1_clicked()
{
    atariView = false;
    preview();
}

void MainWindow::on_radioButton_2_clicked()
{
    atariView = false;
    preview();
}

void MainWindow::on_radioButton_3_clicked()
{
    atariView = false;
    preview();
}

void MainWindow::on_radioButton_4_clicked()
{
    atariView = false;
    preview();
}

void MainWindow::on_radioButton_5_clicked()
{
    atariView = false;
    preview();
}

void MainWindow::on_radioButton_6_clicked()
{
    atariView = false;
    preview();
}

void MainWindow::on_radioButton_7_clicked()
{
    atariView = false;
    preview();
}

void MainWindow::on_horizontalSlider_valueChanged(int value)
{
    pic->newSaturation(static_cast<double>(value));
    reconvert();
}
