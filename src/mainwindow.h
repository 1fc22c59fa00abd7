#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QDropEvent>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <functional>
#include <utility>

#include "ataripic.h"
#include "conversionqueue.h"
#include "windowdialogs.h"
#include "windowsettings.h"

class ATARIpic;
class AdjustDialog;
class ChoiceMenu;
class QAction;
class QMessageBox;
class QButtonGroup;
class QMimeData;
class QGraphicsPixmapItem;
class QGraphicsScene;
class QImage;
class Ui_MainWindow;

// The one window of the program: a 320x240 preview of the picture in one of seven modes,
// the saturation slider and the buttons that load a photo and write the two exports.
//
// Loading and converting are the ConversionQueue's: meanwhile the window shows a busy cursor and
// keeps repainting. A second picture cannot be loaded while one is loading: it is refused with a
// warning. Exports write the picture shown.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Builds the form and the conversion queue (with the remembered settings) and shows plane 0 of
    // the demo chart.
    explicit MainWindow(QWidget *parent = nullptr);
    // Deletes the display image and the form; running work is not waited for (ConversionQueue).
    ~MainWindow();

    // Replaces the questions the window puts to the user (a test answers without dialogs).
    void setDialogs(const MainWindowDialogs &replacement) { dialogs = replacement; }
    // Replaces how pictures are read (PictureLoader::load until then; a test slows it down).
    void setPictureReader(PictureReader reader) { queue->setPictureReader(std::move(reader)); }

    // Redraws the display from the plane of the current preview mode (0 to 6).
    void paintImage();
    // Reads the preview mode from the radio buttons (or keeps the Atari view while it is
    // chosen), enables the export buttons once a picture is loaded and repaints.
    void preview();

    // Shows what the Atari displays (key 8, or the preview's context menu) until a preview
    // button is chosen.
    void showAtariView() { showAtariMode(kAtariViewMode); }
    // Replaces the base palette with an Atari palette file (768 or 772 bytes) and converts
    // again; a file that cannot be used is reported and changes nothing. Remembered.
    bool loadPalette(const QString &fileName);
    // Returns to the stored base palette and converts again. Remembered.
    void useBuiltInPalette();
    // Shows frame 0 (A) or 1 (B) of two alternating frames as the Atari shows it (keys 9 and 0, or
    // the preview's context menu) until a preview button is chosen; with one frame, what the Atari shows.
    void showAtariFrame(int frame) { showAtariMode(frame == 1 ? kAtariFrameBMode : kAtariFrameAMode); }
    // Shows the flicker map (key F, or the preview's context menu) until a preview button is chosen:
    // each pixel's L* difference between the two frames as grey, black none, white the flicker limit.
    void showFlickerMap() { showAtariMode(kFlickerMapMode); }
    // Converts with the method at index of the method table (MethodTable; its frames included) and
    // repaints. Remembered.
    void useMethod(int index);
    // Shows the screen as the display at index of the display table (DisplayTable) shows it, with
    // the best method and two frames planned for it, and converts again. Remembered.
    void useDisplay(int index);
    // Sets the flicker limit of two frames (L*, clamped to kFlickerRange) and converts again.
    // Remembered.
    void setFlickerLimit(int limit);
    // The flicker limits the preview's context menu offers.
    static constexpr int kFlickerLimits[] = {0, 5, 10, 15, 20, 30, 50, 100};
    // "Mean CIEDE2000, Plain display: 7.37" for the loaded picture (what the Atari shows on the display
    // in use against the photo), with two frames followed by ", flicker: mean 3.10, area 0.85, max 10.00
    // L*" (area: the largest area flicker, ATARIpic::flickerArea); empty before a picture is loaded.
    QString qualityText() const;
    // The preview's tooltip: the view shown (a preview button's name, or the name of the Atari view
    // shown: "What the Atari shows", a frame or the flicker map), then the quality figure once a
    // picture is loaded.
    QString previewToolTip() const;
    // Opens (or raises) the "Adjust picture" dialog, non-modal; each change of its fit or tone
    // converts again (coalesced) and is remembered. Returns the dialog.
    AdjustDialog *showAdjustDialog();
    // The preview's context menu, built from the window's actions.
    void showPreviewMenu(const QPoint &position);

    // Reads fileName on the worker thread and converts it with the current settings; shows it
    // when both are done. A file that cannot be read is reported and changes nothing. Returns
    // false (after a warning) if another picture is still loading. The Load button, a dropped
    // file and the command line come here.
    bool loadPicture(const QString &fileName);
    // True while a load or a conversion is running or waiting to run.
    bool isBusy() const { return queue->isBusy(); }
    // Runs the event loop until nothing is running or waiting (the window keeps repainting).
    void waitForIdle() { queue->waitForIdle(); }

    // The picture store the display shows; read only.
    const ATARIpic &picture() const { return queue->picture(); }

    // The open dialog's filters: "JPG files (...)" in either letter case, "All pictures (...)" with
    // the photo formats that are read (PhotoFormats::suffixes()), then "All files (*)".
    static QString openFilter();

signals:
    // A finished load or conversion has just been shown.
    void conversionShown();
    // The last piece of work has finished and nothing waits to run.
    void idle();

private slots:
    void on_pushButton_Exit_clicked() { close(); }
    void on_pushButton_Load_clicked();
    void on_pushButton_Save_clicked();
    void on_pushButton_Compile_clicked();
    void on_radioButton_1_clicked();
    void on_radioButton_2_clicked();
    void on_radioButton_3_clicked();
    void on_radioButton_4_clicked();
    void on_radioButton_5_clicked();
    void on_radioButton_6_clicked();
    void on_radioButton_7_clicked();
    void on_horizontalSlider_valueChanged(int value);

protected:
    // On the preview: drops of a picture file, and the quality figure as the tooltip (worked out
    // only when asked for).
    bool eventFilter(QObject *watched, QEvent *event) override;
    // A single local file dragged onto the window is accepted and loaded when dropped.
    void dragEnterEvent(QDragEnterEvent *event) override { acceptFileDrag(event); }
    void dragMoveEvent(QDragMoveEvent *event) override { acceptFileDrag(event); }
    void dropEvent(QDropEvent *event) override { dropFile(event); }

private:
    using Settings = ConversionSettings;
    void createActions();
    // An action of the window with its keys (its keys work wherever the window's actions are).
    QAction *addKeyAction(const QString &text, const QKeySequence &keys, bool checkable = false);
    // The preview buttons' keys, the Atari views' and the buttons' own keys.
    void createViewActions();
    // One action per method of the method table, in the menu's order, and the flicker limits.
    void createMethodActions();
    // What a method's menu entry does when triggered (checked: its new state).
    void methodTriggered(int index, bool checked);
    // Checks the menu entries of the method in use (and of the method it is a form of).
    void showMethod();
    // The one handler of the seven preview buttons: shows preview mode (0 to 6), leaving the Atari view.
    void choosePreview(int mode);
    // Shows kAtariViewMode, kAtariFrameAMode or kAtariFrameBMode until a preview button is chosen.
    void showAtariMode(quint8 mode);
    // Converts again with changed settings (or redraws the chart).
    void reconvert(const Settings &settings);
    // Loads the dropped file if the event carries a single local file.
    void dropFile(QDropEvent *event);

    // Asks for a file to open in the folder remembered as folder, and remembers the new folder.
    QString askOpenFileName(const QString &caption, const QString &filter,
                            WindowSettings::Folder folder = WindowSettings::Folder::Open);
    // The first time a picture is shown (ever, as remembered), a hint about the preview's menu.
    void showMenuHintOnce();
    // A picture shown although its decoder warned: the first warning in a message that does not
    // stop the window (one at a time; the next replaces it).
    void showLoadWarning(const QString &fileName, const QString &warning);
    // Tells that the remembered palette could not be read (reason) and the built-in one is used.
    void reportPalette(const QString &reason);
    // The slider's value and what it means for the method in use, as its tooltip.
    void updateSliderToolTip();

    using SaveFunction = bool (*)(const ATARIpic &pic, const QString &fileName, QString *error);
    // Asks for a file name (suggesting the photo's name with suffix, in the last folder saved to),
    // adds suffix ("asm", "xex") to a name that has none, and writes the picture with save; a
    // failure is shown as a warning.
    void exportPicture(const QString &caption, const QString &filter, const QString &suffix, SaveFunction save);

    MainWindowDialogs dialogs;
    QList<QAction *> previewActions; // keys 1 to 7
    QList<QAction *> buttonActions;  // the buttons' own keys
    QString paletteFile;             // the palette file in use; empty for the built-in palette
    QPointer<QMessageBox> loadWarning; // the message of showLoadWarning while it is open
    ConversionQueue *queue;
    QImage *image;
    QGraphicsScene *scene;
    QButtonGroup *previewButtons;
    quint8 previewMode = 0;
    Ui_MainWindow *ui;
    QGraphicsPixmapItem *pixmapItem = nullptr;
    bool atariView = false;
    quint8 atariMode = kAtariViewMode; // the blend, one of the frames or the flicker map, while atariView
    QAction *loadPaletteAction = nullptr;
    QAction *builtInPaletteAction = nullptr;
    QList<QAction *> methodActions; // by index in the method table
    QAction *adjustAction = nullptr;
    AdjustDialog *adjustDialog = nullptr;
    QList<QAction *> atariActions; // the Atari views, keys 8, 9, 0 and F; each holds its mode
    ChoiceMenu *flickerMenu = nullptr; // the flicker limits, kFlickerLimits
    ChoiceMenu *displayMenu = nullptr; // one entry per display of the display table
};

#endif
