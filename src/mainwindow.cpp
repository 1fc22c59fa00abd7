#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>

#include "ataripic.h"
#include "picturefiles.h"

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
    paintImage();
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
    PictureFiles::paintPreview(*pic, previewMode, *image);

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
    preview();
}

void MainWindow::on_radioButton_2_clicked()
{
    preview();
}

void MainWindow::on_radioButton_3_clicked()
{
    preview();
}

void MainWindow::on_radioButton_4_clicked()
{
    preview();
}

void MainWindow::on_radioButton_5_clicked()
{
    preview();
}

void MainWindow::on_radioButton_6_clicked()
{
    preview();
}

void MainWindow::on_radioButton_7_clicked()
{
    preview();
}

void MainWindow::on_horizontalSlider_valueChanged(int value)
{
    pic->newSaturation(static_cast<double>(value));
    if (pictureLoaded)
        pic->letsGo();
    else
        pic->Demo();
    preview();
}
