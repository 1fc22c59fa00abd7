#include "mainwindow.h"

#include "displaytable.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QHelpEvent>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QThread>
#include <QTimer>
#include <QToolTip>

#include <utility>

#include "adjustdialog.h"
#include "ataripic.h"
#include "atarigeometry.h"
#include "choicemenu.h"
#include "methodtable.h"
#include "photoformats.h"
#include "pictureexports.h"
#include "windowsettings.h"
#include "windowtexts.h"

using namespace Geometry;
using WindowSettings::Folder;

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Rastrel Zo9 v" RASTREL_VERSION));
    setAcceptDrops(true);

    QString paletteError;
    queue = new ConversionQueue(WindowSettings::load(&paletteFile, &paletteError), QThread::idealThreadCount(), this);
    if (!paletteError.isEmpty())
        QTimer::singleShot(0, this, [this, paletteError] { reportPalette(paletteError); });
    connect(queue, &ConversionQueue::started, this, [this] { setCursor(Qt::BusyCursor); });
    connect(queue, &ConversionQueue::shown, this, [this] {
        preview();
        showMenuHintOnce();
        emit conversionShown();
    });
    connect(queue, &ConversionQueue::failed, this, [this](const QString &fileName, const QString &reason) {
        dialogs.warning(this, tr("Load Picture"),
                        tr("Cannot load %1:\n%2").arg(QDir::toNativeSeparators(fileName), reason));
    });
    connect(queue, &ConversionQueue::warned, this, &MainWindow::showLoadWarning);
    connect(queue, &ConversionQueue::idle, this, [this] {
        unsetCursor();
        emit idle();
    });

    image = new QImage(kSourceWidth, kSourceHeight, QImage::Format_RGB32);
    scene = new QGraphicsScene(this);
    scene->setSceneRect(0, 0, kSourceWidth, kSourceHeight);
    pixmapItem = scene->addPixmap(QPixmap());
    ui->graphicsView->setScene(scene);
    createActions();
    showMethod();
    updateSliderToolTip();
    paintImage();
}

void MainWindow::createActions()
{
    createViewActions();
    createMethodActions();

    loadPaletteAction = addKeyAction(tr("Load Atari palette..."), QKeySequence(Qt::Key_P));
    connect(loadPaletteAction, &QAction::triggered, this, [this] {
        const QString fileName = askOpenFileName(tr("Load Atari palette"),
                                                 tr("Atari palettes (*.pal *.act *.PAL *.ACT);;All files (*)"),
                                                 Folder::Palette);
        if (!fileName.isEmpty())
            loadPalette(fileName);
    });

    builtInPaletteAction = addKeyAction(tr("Built-in palette"), QKeySequence(Qt::SHIFT | Qt::Key_P), true);
    connect(builtInPaletteAction, &QAction::triggered, this, &MainWindow::useBuiltInPalette);

    adjustAction = new QAction(tr("Adjust picture..."), this);
    connect(adjustAction, &QAction::triggered, this, &MainWindow::showAdjustDialog);

    for (QAction *action : actions())
        action->setShortcutVisibleInContextMenu(true);
    ui->graphicsView->viewport()->installEventFilter(this);
    ui->graphicsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->graphicsView, &QWidget::customContextMenuRequested, this, &MainWindow::showPreviewMenu);
}

QAction *MainWindow::addKeyAction(const QString &text, const QKeySequence &keys, bool checkable)
{
    auto *action = new QAction(text, this);
    action->setShortcut(keys);
    action->setCheckable(checkable);
    addAction(action);
    return action;
}

void MainWindow::createViewActions()
{
    // A key that clicks a button, named in its tooltip: a click on a disabled button (a save before
    // loading) does nothing.
    const auto clickKey = [this](QAbstractButton *button, const QKeySequence &keys) {
        QAction *action = addKeyAction(button->text(), keys);
        connect(action, &QAction::triggered, button, &QAbstractButton::click);
        button->setToolTip(WindowTexts::withKeys(button->text(), keys));
        return action;
    };
    // The seven preview buttons, by preview mode 0 to 6, with their keys 1 to 7.
    previewButtons = new QButtonGroup(this);
    QRadioButton *const buttons[] = {ui->radioButton_1, ui->radioButton_2, ui->radioButton_3,
                                     ui->radioButton_4, ui->radioButton_5, ui->radioButton_6,
                                     ui->radioButton_7};
    for (int mode = 0; mode < kPlanes; ++mode) {
        previewButtons->addButton(buttons[mode], mode);
        previewActions << clickKey(buttons[mode], QKeySequence(Qt::Key_1 + mode));
    }

    // The Atari views, each shown until a preview button is chosen.
    const struct {
        quint8 mode;
        const char *text;
        Qt::Key key;
    } atariViews[] = {
        {kAtariViewMode, QT_TR_NOOP("What the Atari shows"), Qt::Key_8},
        {kAtariFrameAMode, QT_TR_NOOP("Frame A (one of the two alternating frames)"), Qt::Key_9},
        {kAtariFrameBMode, QT_TR_NOOP("Frame B (the other of the two alternating frames)"), Qt::Key_0},
        {kFlickerMapMode, QT_TR_NOOP("Flicker map (black none, white the limit)"), Qt::Key_F},
    };
    for (const auto &view : atariViews) {
        QAction *action = addKeyAction(tr(view.text), QKeySequence(view.key), true);
        action->setData(view.mode);
        const quint8 mode = view.mode;
        connect(action, &QAction::triggered, this, [this, mode] { showAtariMode(mode); });
        atariActions << action;
    }

    // The buttons' own keys.
    const std::pair<QKeySequence, QAbstractButton *> buttonKeys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), ui->pushButton_Load},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ui->pushButton_Compile},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), ui->pushButton_Save},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), ui->pushButton_Exit},
    };
    for (const auto &[keys, button] : buttonKeys)
        buttonActions << clickKey(button, keys);
}

void MainWindow::createMethodActions()
{
    // Methods that are a form of another are toggles beside it; the others exclude each other.
    auto *methods = new QActionGroup(this);
    for (int i = 0; i < MethodTable::count(); ++i) {
        const MethodInfo &method = MethodTable::at(i);
        QAction *action = addKeyAction(tr(method.menuText), QKeySequence(method.key), true);
        if (method.formOf < 0)
            methods->addAction(action);
        connect(action, &QAction::triggered, this, [this, i](bool checked) { methodTriggered(i, checked); });
        methodActions << action;
    }

    flickerMenu = new ChoiceMenu(tr("Flicker limit"), [this](int limit) { setFlickerLimit(limit); }, this);
    for (const int limit : kFlickerLimits)
        flickerMenu->addChoice(tr("%1 L*").arg(limit), limit);
    displayMenu = new ChoiceMenu(tr("Display"), [this](int index) { useDisplay(index); }, this);
    for (int i = 0; i < DisplayTable::count(); ++i)
        displayMenu->addChoice(tr(DisplayTable::at(i).menuText), i);
}

void MainWindow::methodTriggered(int index, bool checked)
{
    const int current = queue->settings().method;
    const int formOf = MethodTable::at(index).formOf;
    if (formOf >= 0 && !checked)
        useMethod(formOf); // a form turned off returns to the method it is a form of
    else if (MethodTable::at(current).formOf != index)
        useMethod(index); // choosing the method whose form is in use keeps the form
    else
        showMethod();
}

void MainWindow::showMethod()
{
    const int current = queue->settings().method;
    for (int i = 0; i < methodActions.size(); ++i)
        methodActions[i]->setChecked(i == current || i == MethodTable::at(current).formOf);
}

void MainWindow::showPreviewMenu(const QPoint &position)
{
    for (QAction *action : atariActions)
        action->setChecked(atariView && action->data().toInt() == atariMode);
    builtInPaletteAction->setChecked(queue->settings().basePalette.empty());
    flickerMenu->showChoice(queue->settings().flicker);
    displayMenu->showChoice(queue->settings().display);
    QMenu menu(this);
    menu.addActions(methodActions);
    menu.addMenu(flickerMenu);
    menu.addMenu(displayMenu);
    menu.addSeparator();
    menu.addActions(atariActions);
    menu.addMenu(tr("Previews"))->addActions(previewActions);
    menu.addSeparator();
    if (!queue->settings().basePalette.empty())
        menu.addAction(WindowTexts::paletteEntry(paletteFile))->setEnabled(false);
    menu.addAction(loadPaletteAction);
    menu.addAction(builtInPaletteAction);
    menu.addSeparator();
    menu.addAction(adjustAction);
    menu.addSeparator();
    menu.addActions(buttonActions);
    const QString quality = qualityText();
    if (!quality.isEmpty()) {
        menu.addSeparator();
        menu.addAction(quality)->setEnabled(false);
    }
    menu.exec(ui->graphicsView->viewport()->mapToGlobal(position));
}

void MainWindow::showAtariMode(quint8 mode)
{
    atariView = true;
    atariMode = mode;
    // No preview button stays checked while the Atari view is shown.
    previewButtons->setExclusive(false);
    if (QAbstractButton *checked = previewButtons->checkedButton())
        checked->setChecked(false);
    previewButtons->setExclusive(true);
    preview();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The scene has nothing that takes drops: a drag over the picture is the window's.
    if (watched == ui->graphicsView->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
            acceptFileDrag(static_cast<QDropEvent *>(event));
            return true;
        case QEvent::Drop:
            dropFile(static_cast<QDropEvent *>(event));
            return true;
        case QEvent::ToolTip:
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), previewToolTip(), ui->graphicsView);
            return true;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::useMethod(int index)
{
    Settings settings = queue->settings();
    settings.method = index;
    reconvert(settings);
    showMethod();
    updateSliderToolTip();
}

void MainWindow::useDisplay(int index)
{
    Settings settings = queue->settings();
    settings.display = index;
    reconvert(settings);
}

void MainWindow::setFlickerLimit(int limit)
{
    Settings settings = queue->settings();
    settings.flicker = kFlickerRange.clamp(limit);
    reconvert(settings);
}

QString MainWindow::previewToolTip() const
{
    QString text = previewButtons->button(previewMode)->text();
    for (const QAction *action : atariActions) {
        if (atariView && action->data().toInt() == atariMode)
            text = action->text();
    }
    const QString quality = qualityText();
    if (!quality.isEmpty())
        text += QLatin1Char('\n') + quality;
    return text + QLatin1Char('\n') + WindowTexts::menuHint();
}

QString MainWindow::qualityText() const
{
    if (!queue->hasPicture())
        return QString();
    const QualityFigure::Figures figures = picture().figures();
    const QString quality = tr("Mean CIEDE2000, %1: %2")
                                .arg(tr(DisplayTable::at(picture().display()).menuText))
                                .arg(figures.quality, 0, 'f', 2);
    if (picture().converted().frames() != 2)
        return quality;
    return tr("%1, flicker: mean %2, area %3, max %4 L*")
        .arg(quality)
        .arg(figures.flickerMean, 0, 'f', 2)
        .arg(picture().flickerArea(), 0, 'f', 2)
        .arg(figures.flickerMax, 0, 'f', 2);
}

void MainWindow::reconvert(const Settings &settings)
{
    WindowSettings::save(settings);
    queue->setSettings(settings);
}

bool MainWindow::loadPicture(const QString &fileName)
{
    if (!queue->load(fileName)) {
        dialogs.warning(this, tr("Load Picture"),
                        tr("Still loading %1; try again once it is shown.")
                            .arg(QDir::toNativeSeparators(queue->loadingFile())));
        return false;
    }
    // As with a file chosen in the dialog, the next dialog starts in its folder.
    WindowSettings::rememberFolder(Folder::Open, fileName);
    return true;
}

MainWindow::~MainWindow()
{
    delete queue; // does not wait for its running work
    delete image;
    delete ui;
}

void MainWindow::paintImage()
{
    PictureExports::paintPreview(picture(), atariView ? atariMode : previewMode, *image);
    pixmapItem->setPixmap(QPixmap::fromImage(*image));
}

void MainWindow::preview()
{
    if (previewButtons->checkedId() >= 0)
        previewMode = quint8(previewButtons->checkedId());
    ui->pushButton_Save->setEnabled(queue->hasPicture());
    ui->pushButton_Compile->setEnabled(queue->hasPicture());
    paintImage();
}

void MainWindow::choosePreview(int mode)
{
    atariView = false;
    previewMode = quint8(mode);
    preview();
}

QString MainWindow::openFilter()
{
    return tr("JPG files (%1);;All pictures (%2);;All files (*)")
        .arg(filePatterns({"jpg", "jpeg"}), filePatterns(PhotoFormats::suffixes()));
}

QString MainWindow::askOpenFileName(const QString &caption, const QString &filter, Folder folder)
{
    const QString fileName = dialogs.openFileName(this, caption, WindowSettings::folder(folder), filter);
    if (!fileName.isEmpty())
        WindowSettings::rememberFolder(folder, fileName);
    return fileName;
}

void MainWindow::on_pushButton_Load_clicked()
{
    if (!queue->loadingFile().isEmpty()) {
        loadPicture(queue->loadingFile()); // refused with the same warning
        return;
    }
    const QString fileName = askOpenFileName(tr("Open JPG"), openFilter());
    if (!fileName.isEmpty())
        loadPicture(fileName);
}

void MainWindow::dropFile(QDropEvent *event)
{
    const QString fileName = droppedFile(event->mimeData());
    if (fileName.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    loadPicture(fileName);
}

void MainWindow::on_pushButton_Save_clicked()
{
    exportPicture(tr("Save ASM"), tr("ASM Files (*.asm)"), QStringLiteral("asm"), PictureExports::saveAsm);
}

void MainWindow::on_pushButton_Compile_clicked()
{
    exportPicture(tr("Save XEX"), tr("XEX Files (*.xex)"), QStringLiteral("xex"), PictureExports::saveXex);
}

void MainWindow::exportPicture(const QString &caption, const QString &filter, const QString &suffix,
                               SaveFunction save)
{
    const QFileInfo photo(queue->pictureFile());
    QString folder = WindowSettings::folder(Folder::Save);
    if (folder.isEmpty())
        folder = photo.absolutePath();
    const QString suggested = QDir(folder).filePath(photo.completeBaseName() + QLatin1Char('.') + suffix);
    const QString fileName = dialogs.askSaveFileName(this, caption, suggested, filter, suffix);
    if (fileName.isEmpty())
        return;

    QString error;
    if (!save(picture(), fileName, &error)) {
        dialogs.warning(this, caption, tr("Cannot save %1:\n%2").arg(QDir::toNativeSeparators(fileName), error));
        return;
    }
    // Only a folder that took the file is where the next save starts.
    WindowSettings::rememberFolder(Folder::Save, fileName);
}

void MainWindow::on_radioButton_1_clicked()
{
    choosePreview(0);
}

void MainWindow::on_radioButton_2_clicked()
{
    choosePreview(1);
}

void MainWindow::on_radioButton_3_clicked()
{
    choosePreview(2);
}

void MainWindow::on_radioButton_4_clicked()
{
    choosePreview(3);
}

void MainWindow::on_radioButton_5_clicked()
{
    choosePreview(4);
}

void MainWindow::on_radioButton_6_clicked()
{
    choosePreview(5);
}

void MainWindow::on_radioButton_7_clicked()
{
    choosePreview(6);
}

void MainWindow::on_horizontalSlider_valueChanged(int value)
{
    Settings settings = queue->settings();
    settings.hasSlider = true;
    settings.slider = value;
    reconvert(settings);
    updateSliderToolTip();
}
