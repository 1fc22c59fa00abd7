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
#include <QImageReader>
#include <QSettings>
#include <QToolTip>

#include <utility>

#include "ataripic.h"
#include "palettefile.h"
#include "picturefiles.h"

namespace {

const char *const kPaletteKey = "palette";
const char *const kMethodKey = "method";
const char *const kBestMethod = "best";
const char *const kOpenFolderKey = "openFolder";
const char *const kSaveFolderKey = "saveFolder";

// "*.jpg *.JPG" for the suffixes ("jpg"): the non-native file dialog matches letter case exactly.
QString patterns(const QList<QByteArray> &suffixes)
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

} // namespace

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
        const QString fileName = askOpenFileName(tr("Load Atari palette"),
                                                 tr("Atari palettes (*.pal *.act *.PAL *.ACT);;All files (*)"));
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

    // The buttons' own keys: a click on a disabled button (a save before loading) does nothing.
    const std::pair<QKeySequence, QAbstractButton *> buttonKeys[] = {
        {QKeySequence(Qt::CTRL + Qt::Key_O), ui->pushButton_Load},
        {QKeySequence(Qt::CTRL + Qt::Key_S), ui->pushButton_Compile},
        {QKeySequence(Qt::CTRL + Qt::SHIFT + Qt::Key_S), ui->pushButton_Save},
        {QKeySequence(Qt::CTRL + Qt::Key_Q), ui->pushButton_Exit},
    };
    for (const auto &[keys, button] : buttonKeys) {
        auto *action = new QAction(button->text(), this);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, button, &QAbstractButton::click);
        addAction(action);
    }

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

QString MainWindow::openFilter()
{
    return tr("JPG files (%1);;All pictures (%2);;All files (*)")
        .arg(patterns({"jpg", "jpeg"}), patterns(QImageReader::supportedImageFormats()));
}

QString MainWindow::askOpenFileName(const QString &caption, const QString &filter)
{
    QSettings settings;
    const QString fileName =
        dialogs.openFileName(this, caption, settings.value(QLatin1String(kOpenFolderKey)).toString(), filter);
    if (!fileName.isEmpty())
        settings.setValue(QLatin1String(kOpenFolderKey), QFileInfo(fileName).absolutePath());
    return fileName;
}

void MainWindow::on_pushButton_Load_clicked()
{
    const QString fileName = askOpenFileName(tr("Open JPG"), openFilter());
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
    loadedFile = fileName;
    preview();
}

void MainWindow::on_pushButton_Save_clicked()
{
    exportPicture(tr("Save ASM"), tr("ASM Files (*.asm)"), QStringLiteral("asm"), PictureFiles::saveAsm);
}

void MainWindow::on_pushButton_Compile_clicked()
{
    exportPicture(tr("Save XEX"), tr("XEX Files (*.xex)"), QStringLiteral("xex"), PictureFiles::saveXex);
}

void MainWindow::exportPicture(const QString &caption, const QString &filter, const QString &suffix,
                               SaveFunction save)
{
    QSettings settings;
    const QFileInfo photo(loadedFile);
    const QString folder = settings.value(QLatin1String(kSaveFolderKey), photo.absolutePath()).toString();
    const QString suggested = QDir(folder).filePath(photo.completeBaseName() + QLatin1Char('.') + suffix);
    QString fileName = dialogs.saveFileName(this, caption, suggested, filter);
    if (fileName.isEmpty())
        return;
    settings.setValue(QLatin1String(kSaveFolderKey), QFileInfo(fileName).absolutePath());

    // The dialog confirmed replacing the name as typed, not the one with the suffix added here.
    if (QFileInfo(fileName).suffix().isEmpty()) {
        fileName += QLatin1Char('.') + suffix;
        if (QFileInfo::exists(fileName) && !dialogs.confirmOverwrite(this, caption, fileName))
            return;
    }

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
