#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
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
#include <QThreadPool>
#include <QToolTip>
#include <QUrl>

#include <utility>

#include "ataripic.h"
#include "palettefile.h"
#include "photoformats.h"
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
    , ui(new Ui_MainWindow)
{
    pictureReader = [](const QString &fileName, quint32 *pixels, QString *error) {
        return PictureFiles::load(fileName, pixels, error);
    };
    ui->setupUi(this);
    pic = new ATARIpic;
    spare = new ATARIpic;
    worker = new QThreadPool(this);
    worker->setMaxThreadCount(1);
    setAcceptDrops(true);
    image = new QImage(pic->width, pic->height, QImage::Format_RGB32);
    scene = new QGraphicsScene(this);
    scene->setSceneRect(0, 0, pic->width, pic->height);
    createActions();

    const QSettings settings;
    if (settings.value(QLatin1String(kMethodKey)).toString() == QLatin1String(kBestMethod)) {
        wanted.best = true;
        bestAction->setChecked(true);
    }
    // A remembered palette file that can no longer be read leaves the stored palette in use.
    const QString paletteFile = settings.value(QLatin1String(kPaletteKey)).toString();
    quint32 palette[256];
    QString error;
    if (!paletteFile.isEmpty() && PaletteFile::read(paletteFile, palette, &error))
        wanted.basePalette.assign(palette, palette + 256);
    // The chart is quick to draw: the first one is drawn here, before the window shows.
    applySettings(*pic, shown, wanted);
    shown = wanted;
    if (!wanted.basePalette.empty())
        pic->Demo();
    paintImage();
}

void MainWindow::createActions()
{
    const auto buttons = previewButtons();
    for (int mode = 0; mode < int(buttons.size()); ++mode) {
        auto *action = new QAction(buttons[mode]->text(), this);
        action->setShortcut(QKeySequence(Qt::Key_1 + mode));
        connect(action, &QAction::triggered, buttons[mode], &QRadioButton::click);
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
    builtInPaletteAction->setChecked(wanted.basePalette.empty());
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
    wanted.basePalette.assign(palette, palette + 256);
    QSettings().setValue(QLatin1String(kPaletteKey), QFileInfo(fileName).absoluteFilePath());
    reconvert();
    return true;
}

void MainWindow::useBuiltInPalette()
{
    wanted.basePalette.clear();
    QSettings().remove(QLatin1String(kPaletteKey));
    reconvert();
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
        case QEvent::ToolTip: {
            const QString quality = qualityText();
            if (quality.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), quality, ui->graphicsView);
            return true;
        }
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::useBestMethod(bool best)
{
    wanted.best = best;
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
    conversionDue = true;
    startWork();
}

bool MainWindow::loadPicture(const QString &fileName)
{
    if (!loadingFile.isEmpty()) {
        dialogs.warning(this, tr("Load Picture"),
                        tr("Still loading %1; try again once it is shown.").arg(QDir::toNativeSeparators(loadingFile)));
        return false;
    }
    loadingFile = fileName;
    startWork();
    return true;
}

bool MainWindow::isBusy() const
{
    return working || conversionDue || !loadingFile.isEmpty();
}

void MainWindow::waitForIdle()
{
    while (isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool MainWindow::sameSettings(const Settings &a, const Settings &b)
{
    return a.hasSaturation == b.hasSaturation && a.saturation == b.saturation && a.basePalette == b.basePalette
           && a.best == b.best;
}

void MainWindow::applySettings(ATARIpic &store, const Settings &from, const Settings &to)
{
    if (to.hasSaturation && (!from.hasSaturation || from.saturation != to.saturation))
        store.newSaturation(static_cast<double>(to.saturation));
    if (to.basePalette != from.basePalette)
        store.setBasePalette(to.basePalette.empty() ? nullptr : to.basePalette.data());
    store.setMethod(to.best ? ATARIpic::Method::Best : ATARIpic::Method::Classic);
}

void MainWindow::startWork()
{
    if (working || (loadingFile.isEmpty() && !conversionDue))
        return;
    working = true;
    conversionDue = false; // this piece of work converts with the latest settings
    setCursor(Qt::BusyCursor);

    // Everything the worker uses is copied here; the shown store and the window's fields stay
    // with the GUI thread.
    ATARIpic *store = spare;
    const Settings from = spareHas;
    Outcome outcome;
    outcome.fileName = loadingFile;
    outcome.source = source;
    outcome.applied = wanted;
    const PictureReader reader = pictureReader;
    worker->start([this, store, from, outcome, reader]() mutable {
        if (!outcome.fileName.isEmpty()) {
            auto pixels = std::make_shared<std::vector<quint32>>(Geometry::kSourcePixels);
            if (reader(outcome.fileName, pixels->data(), &outcome.error))
                outcome.source = std::move(pixels);
            else if (outcome.error.isEmpty())
                outcome.error = tr("cannot be read");
        }
        if (outcome.error.isEmpty()) {
            applySettings(*store, from, outcome.applied);
            if (outcome.source)
                store->copy(outcome.source->data());
            else
                store->Demo();
        }
        QMetaObject::invokeMethod(this, [this, outcome] { finishWork(outcome); }, Qt::QueuedConnection);
    });
}

void MainWindow::finishWork(const Outcome &outcome)
{
    working = false;
    const bool load = !outcome.fileName.isEmpty();
    if (load)
        loadingFile.clear();
    const bool failed = !outcome.error.isEmpty();
    if (failed) {
        // Nothing was converted. The load may have stood for a conversion asked for before it.
        if (!sameSettings(shown, wanted))
            conversionDue = true;
    } else {
        std::swap(pic, spare);
        spareHas = std::move(shown);
        shown = outcome.applied;
        if (load) {
            source = outcome.source;
            pictureLoaded = true;
            loadedFile = outcome.fileName;
        }
        preview();
        emit conversionShown();
    }
    startWork();
    if (failed) {
        dialogs.warning(this, tr("Load Picture"),
                        tr("Cannot load %1:\n%2").arg(QDir::toNativeSeparators(outcome.fileName), outcome.error));
    }
    if (!isBusy()) {
        unsetCursor();
        emit idle();
    }
}

MainWindow::~MainWindow()
{
    // A running piece of work writes into spare; let it finish first. Its report to this
    // window is dropped with the window.
    worker->waitForDone();
    delete image;
    delete scene;
    delete spare;
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

std::array<QRadioButton *, Geometry::kPlanes> MainWindow::previewButtons() const
{
    return {ui->radioButton_1, ui->radioButton_2, ui->radioButton_3, ui->radioButton_4,
            ui->radioButton_5, ui->radioButton_6, ui->radioButton_7};
}

void MainWindow::preview()
{
    const auto buttons = previewButtons();
    for (quint8 mode = 0; mode < buttons.size(); ++mode) {
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
    if (!loadingFile.isEmpty()) {
        loadPicture(loadingFile); // refused with the same warning
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
    wanted.hasSaturation = true;
    wanted.saturation = value;
    reconvert();
}
