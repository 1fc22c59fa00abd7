#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QHelpEvent>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QSettings>
#include <QThread>
#include <QToolTip>
#include <QUrl>

#include <cmath>
#include <utility>

#include "adjustdialog.h"
#include "ataripic.h"
#include "atarigeometry.h"
#include "palettefile.h"
#include "photoformats.h"
#include "pictureexports.h"

using namespace Geometry;

namespace {

const char *const kPaletteKey = "palette";
const char *const kMethodKey = "method";
const char *const kBestMethod = "best";
const char *const kFramesKey = "frames";
const char *const kFlickerKey = "flicker";
const char *const kOpenFolderKey = "openFolder";
const char *const kSaveFolderKey = "saveFolder";
const char *const kFitKey = "fit";
const char *const kBrightnessKey = "brightness";
const char *const kContrastKey = "contrast";
const char *const kGammaKey = "gamma";
const char *const kFitNames[] = {"stretch", "crop", "pad"}; // by DecoderProtocol::Fit

// Reads the remembered fit and tone into start; values out of range are left at the defaults.
void readPictureAdjustment(const QSettings &settings, ConversionSettings *start)
{
    const QString fit = settings.value(QLatin1String(kFitKey)).toString();
    for (quint32 i = 0; i < DecoderProtocol::kFitCount; ++i) {
        if (fit == QLatin1String(kFitNames[i]))
            start->fit = DecoderProtocol::Fit(i);
    }
    PictureTone::Tone tone;
    tone.brightness = settings.value(QLatin1String(kBrightnessKey), 0).toInt();
    tone.contrast = settings.value(QLatin1String(kContrastKey), 0).toInt();
    tone.gamma = settings.value(QLatin1String(kGammaKey), 1.0).toDouble();
    if (std::abs(tone.brightness) <= PictureTone::kMaxBrightness && std::abs(tone.contrast) <= PictureTone::kMaxContrast
        && tone.gamma >= PictureTone::kMinGamma && tone.gamma <= PictureTone::kMaxGamma)
        start->tone = tone;
}

void writePictureAdjustment(const ConversionSettings &settings)
{
    QSettings stored;
    stored.setValue(QLatin1String(kFitKey), QLatin1String(kFitNames[int(settings.fit)]));
    stored.setValue(QLatin1String(kBrightnessKey), settings.tone.brightness);
    stored.setValue(QLatin1String(kContrastKey), settings.tone.contrast);
    stored.setValue(QLatin1String(kGammaKey), settings.tone.gamma);
}

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
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Rastrel Zo9 v" RASTREL_VERSION));
    setAcceptDrops(true);

    Settings start;
    const QSettings settings;
    if (settings.value(QLatin1String(kMethodKey)).toString() == QLatin1String(kBestMethod))
        start.method = ATARIpic::Method::Best;
    if (start.method == ATARIpic::Method::Best && settings.value(QLatin1String(kFramesKey)).toInt() == 2)
        start.frames = 2;
    bool flickerOk = false;
    const int flicker = settings.value(QLatin1String(kFlickerKey)).toInt(&flickerOk);
    if (flickerOk && flicker >= 0 && flicker <= 100)
        start.flicker = flicker;
    // A remembered palette file that can no longer be read leaves the stored palette in use.
    const QString paletteFile = settings.value(QLatin1String(kPaletteKey)).toString();
    quint32 palette[256];
    QString error;
    if (!paletteFile.isEmpty() && PaletteFile::read(paletteFile, palette, &error))
        start.basePalette.assign(palette, palette + 256);
    readPictureAdjustment(settings, &start);
    queue = new ConversionQueue(start, QThread::idealThreadCount(), this);
    connect(queue, &ConversionQueue::started, this, [this] { setCursor(Qt::BusyCursor); });
    connect(queue, &ConversionQueue::shown, this, [this] {
        preview();
        emit conversionShown();
    });
    connect(queue, &ConversionQueue::failed, this, [this](const QString &fileName, const QString &reason) {
        dialogs.warning(this, tr("Load Picture"),
                        tr("Cannot load %1:\n%2").arg(QDir::toNativeSeparators(fileName), reason));
    });
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
    bestAction->setChecked(start.method == ATARIpic::Method::Best);
    twoFramesAction->setChecked(start.frames == 2);
    updateSliderToolTip();
    paintImage();
}

void MainWindow::setPictureReader(PictureReader reader)
{
    queue->setPictureReader(std::move(reader));
}

const ATARIpic &MainWindow::picture() const
{
    return queue->picture();
}

void MainWindow::createActions()
{
    // The seven preview buttons, by preview mode 0 to 6, with their keys 1 to 7.
    previewButtons = new QButtonGroup(this);
    QRadioButton *const buttons[] = {ui->radioButton_1, ui->radioButton_2, ui->radioButton_3,
                                     ui->radioButton_4, ui->radioButton_5, ui->radioButton_6,
                                     ui->radioButton_7};
    for (int mode = 0; mode < kPlanes; ++mode) {
        QRadioButton *button = buttons[mode];
        previewButtons->addButton(button, mode);
        auto *action = new QAction(button->text(), this);
        action->setShortcut(QKeySequence(Qt::Key_1 + mode));
        connect(action, &QAction::triggered, button, &QAbstractButton::click);
        addAction(action);
    }

    atariViewAction = new QAction(tr("What the Atari shows"), this);
    atariViewAction->setShortcut(QKeySequence(Qt::Key_8));
    atariViewAction->setCheckable(true);
    connect(atariViewAction, &QAction::triggered, this, &MainWindow::showAtariView);
    addAction(atariViewAction);
    for (int frame = 0; frame < 2; ++frame) {
        frameAction[frame] = new QAction(frame == 0 ? tr("Frame A (one of the two alternating frames)")
                                                    : tr("Frame B (the other of the two alternating frames)"),
                                         this);
        frameAction[frame]->setShortcut(QKeySequence(frame == 0 ? Qt::Key_9 : Qt::Key_0));
        frameAction[frame]->setCheckable(true);
        connect(frameAction[frame], &QAction::triggered, this, [this, frame] { showAtariFrame(frame); });
        addAction(frameAction[frame]);
    }

    flickerMapAction = new QAction(tr("Flicker map (black none, white the limit)"), this);
    flickerMapAction->setShortcut(QKeySequence(Qt::Key_F));
    flickerMapAction->setCheckable(true);
    connect(flickerMapAction, &QAction::triggered, this, &MainWindow::showFlickerMap);
    addAction(flickerMapAction);

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
    builtInPaletteAction->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_P));
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

    twoFramesAction = new QAction(tr("Two frames (blended)"), this);
    twoFramesAction->setShortcut(QKeySequence(Qt::Key_T));
    twoFramesAction->setCheckable(true);
    connect(twoFramesAction, &QAction::triggered, this, &MainWindow::useTwoFrames);
    addAction(twoFramesAction);

    flickerMenu = new QMenu(tr("Flicker limit"), this);
    auto *limits = new QActionGroup(flickerMenu);
    for (const int limit : kFlickerLimits) {
        QAction *action = flickerMenu->addAction(tr("%1 L*").arg(limit));
        action->setCheckable(true);
        action->setData(limit);
        limits->addAction(action);
        connect(action, &QAction::triggered, this, [this, limit] { setFlickerLimit(limit); });
    }

    // The buttons' own keys: a click on a disabled button (a save before loading) does nothing.
    const std::pair<QKeySequence, QAbstractButton *> buttonKeys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), ui->pushButton_Load},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ui->pushButton_Compile},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), ui->pushButton_Save},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), ui->pushButton_Exit},
    };
    for (const auto &[keys, button] : buttonKeys) {
        auto *action = new QAction(button->text(), this);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, button, &QAbstractButton::click);
        addAction(action);
    }

    adjustAction = new QAction(tr("Adjust picture..."), this);
    connect(adjustAction, &QAction::triggered, this, &MainWindow::showAdjustDialog);

    ui->graphicsView->viewport()->installEventFilter(this);
    ui->graphicsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->graphicsView, &QWidget::customContextMenuRequested, this, &MainWindow::showPreviewMenu);
}

void MainWindow::showPreviewMenu(const QPoint &position)
{
    atariViewAction->setChecked(atariView && atariMode == kAtariViewMode);
    for (int frame = 0; frame < 2; ++frame)
        frameAction[frame]->setChecked(atariView && atariMode == kAtariFrameAMode + frame);
    flickerMapAction->setChecked(atariView && atariMode == kFlickerMapMode);
    builtInPaletteAction->setChecked(queue->settings().basePalette.empty());
    for (QAction *action : flickerMenu->actions())
        action->setChecked(action->data().toInt() == queue->settings().flicker);
    QMenu menu(this);
    menu.addAction(classicAction);
    menu.addAction(bestAction);
    menu.addAction(twoFramesAction);
    menu.addMenu(flickerMenu);
    menu.addSeparator();
    menu.addAction(atariViewAction);
    menu.addAction(frameAction[0]);
    menu.addAction(frameAction[1]);
    menu.addAction(flickerMapAction);
    menu.addSeparator();
    menu.addAction(loadPaletteAction);
    menu.addAction(builtInPaletteAction);
    menu.addSeparator();
    menu.addAction(adjustAction);
    const QString quality = qualityText();
    if (!quality.isEmpty()) {
        menu.addSeparator();
        menu.addAction(quality)->setEnabled(false);
    }
    menu.exec(ui->graphicsView->viewport()->mapToGlobal(position));
}

AdjustDialog *MainWindow::showAdjustDialog()
{
    if (adjustDialog == nullptr) {
        adjustDialog = new AdjustDialog(this);
        connect(adjustDialog, &AdjustDialog::changed, this, [this] {
            Settings settings = queue->settings();
            settings.fit = adjustDialog->fit();
            settings.tone = adjustDialog->tone();
            writePictureAdjustment(settings);
            reconvert(settings);
        });
    }
    adjustDialog->setValues(queue->settings().fit, queue->settings().tone);
    adjustDialog->show();
    adjustDialog->raise();
    adjustDialog->activateWindow();
    return adjustDialog;
}

void MainWindow::showAtariView()
{
    showAtariMode(kAtariViewMode);
}

void MainWindow::showAtariFrame(int frame)
{
    showAtariMode(frame == 1 ? kAtariFrameBMode : kAtariFrameAMode);
}

void MainWindow::showFlickerMap()
{
    showAtariMode(kFlickerMapMode);
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
    QSettings().setValue(QLatin1String(kPaletteKey), QFileInfo(fileName).absoluteFilePath());
    reconvert(settings);
    return true;
}

void MainWindow::useBuiltInPalette()
{
    Settings settings = queue->settings();
    settings.basePalette.clear();
    QSettings().remove(QLatin1String(kPaletteKey));
    reconvert(settings);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The scene has nothing that takes drops: a drag over the picture is the window's.
    if (watched == ui->graphicsView->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
            acceptDrag(static_cast<QDropEvent *>(event));
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

void MainWindow::useBestMethod(bool best)
{
    Settings settings = queue->settings();
    settings.method = best ? ATARIpic::Method::Best : ATARIpic::Method::Classic;
    (best ? bestAction : classicAction)->setChecked(true);
    QSettings remembered;
    remembered.setValue(QLatin1String(kMethodKey), best ? QLatin1String(kBestMethod) : QLatin1String("classic"));
    if (!best) {
        settings.frames = 1;
        twoFramesAction->setChecked(false);
        remembered.setValue(QLatin1String(kFramesKey), 1);
    }
    reconvert(settings);
    updateSliderToolTip();
}

void MainWindow::useTwoFrames(bool two)
{
    Settings settings = queue->settings();
    settings.frames = two ? 2 : 1;
    twoFramesAction->setChecked(two);
    QSettings remembered;
    remembered.setValue(QLatin1String(kFramesKey), settings.frames);
    if (two) {
        settings.method = ATARIpic::Method::Best;
        bestAction->setChecked(true);
        remembered.setValue(QLatin1String(kMethodKey), QLatin1String(kBestMethod));
    }
    reconvert(settings);
    updateSliderToolTip();
}

void MainWindow::setFlickerLimit(int limit)
{
    Settings settings = queue->settings();
    settings.flicker = qBound(0, limit, 100);
    QSettings().setValue(QLatin1String(kFlickerKey), settings.flicker);
    reconvert(settings);
}

QString MainWindow::previewToolTip() const
{
    const QAction *shown = atariMode == kFlickerMapMode ? flickerMapAction
        : atariMode == kAtariFrameAMode                 ? frameAction[0]
        : atariMode == kAtariFrameBMode                 ? frameAction[1]
                                                        : atariViewAction;
    QString text = atariView ? shown->text() : previewButtons->button(previewMode)->text();
    const QString quality = qualityText();
    if (!quality.isEmpty())
        text += QLatin1Char('\n') + quality;
    return text;
}

QString MainWindow::qualityText() const
{
    if (!queue->hasPicture())
        return QString();
    const ATARIpic &pic = picture();
    const QString quality = tr("Mean CIEDE2000: %1").arg(pic.qualityFigure(), 0, 'f', 2);
    if (pic.frames() != 2)
        return quality;
    return tr("%1, flicker: mean %2, area %3, max %4 L*")
        .arg(quality)
        .arg(pic.flickerMean(), 0, 'f', 2)
        .arg(pic.flickerArea(), 0, 'f', 2)
        .arg(pic.flickerMax(), 0, 'f', 2);
}

void MainWindow::reconvert(const Settings &settings)
{
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
    QSettings().setValue(QLatin1String(kOpenFolderKey), QFileInfo(fileName).absolutePath());
    return true;
}

bool MainWindow::isBusy() const
{
    return queue->isBusy();
}

void MainWindow::waitForIdle()
{
    queue->waitForIdle();
}

MainWindow::~MainWindow()
{
    delete queue; // waits for its running work
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

void MainWindow::on_pushButton_Exit_clicked()
{
    close();
}

QString MainWindow::openFilter()
{
    return tr("JPG files (%1);;All pictures (%2);;All files (*)")
        .arg(patterns({"jpg", "jpeg"}), patterns(PhotoFormats::suffixes()));
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
    if (!queue->loadingFile().isEmpty()) {
        loadPicture(queue->loadingFile()); // refused with the same warning
        return;
    }
    const QString fileName = askOpenFileName(tr("Open JPG"), openFilter());
    if (!fileName.isEmpty())
        loadPicture(fileName);
}

QString MainWindow::droppedFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().constFirst().isLocalFile())
        return QString();
    return mime->urls().constFirst().toLocalFile();
}

void MainWindow::acceptDrag(QDropEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
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

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    acceptDrag(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    acceptDrag(event);
}

void MainWindow::dropEvent(QDropEvent *event)
{
    dropFile(event);
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
    QSettings settings;
    const QFileInfo photo(queue->pictureFile());
    const QString folder = settings.value(QLatin1String(kSaveFolderKey), photo.absolutePath()).toString();
    const QString suggested = QDir(folder).filePath(photo.completeBaseName() + QLatin1Char('.') + suffix);
    QString fileName = dialogs.saveFileName(this, caption, suggested, filter);
    if (fileName.isEmpty())
        return;

    // The dialog confirmed replacing the name as typed, not the one with the suffix added here.
    if (QFileInfo(fileName).suffix().isEmpty()) {
        fileName += QLatin1Char('.') + suffix;
        if (QFileInfo::exists(fileName) && !dialogs.confirmOverwrite(this, caption, fileName))
            return;
    }

    QString error;
    if (!save(picture(), fileName, &error)) {
        dialogs.warning(this, caption, tr("Cannot save %1:\n%2").arg(QDir::toNativeSeparators(fileName), error));
        return;
    }
    // Only a folder that took the file is where the next save starts.
    settings.setValue(QLatin1String(kSaveFolderKey), QFileInfo(fileName).absolutePath());
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

void MainWindow::updateSliderToolTip()
{
    const int value = ui->horizontalSlider->value();
    if (queue->settings().method == ATARIpic::Method::Best)
        ui->horizontalSlider->setToolTip(tr("%1: the photo's chroma times %2").arg(value).arg(value / 50.0, 0, 'f', 2));
    else
        ui->horizontalSlider->setToolTip(
            tr("%1: the generated palette's saturation %2").arg(value).arg(value / 100.0, 0, 'f', 2));
}
