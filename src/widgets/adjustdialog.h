#ifndef ADJUSTDIALOG_H
#define ADJUSTDIALOG_H

#include "picturefit.h"
#include "picturetone.h"

#include <QDialog>

class QAbstractButton;
class QComboBox;
class QLabel;
class QSlider;

// The small "Adjust picture" dialog: the fit and the three tone sliders (brightness and contrast
// -100..100, gamma 0.20..5.00 in steps of 0.01) and a reset to the neutral values. Every change is
// announced at once with changed(); the window converts with it (coalesced by the queue).
class AdjustDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AdjustDialog(QWidget *parent = nullptr);

    // Shows fit and tone (gamma rounded to 0.01) without announcing a change.
    void setValues(PictureFit fit, const PictureTone::Tone &tone);
    PictureFit fit() const;
    PictureTone::Tone tone() const;

    // The controls, for tests: the fit choice (by Fit value), the sliders and the reset button.
    QComboBox *fitBox() const { return fitChoice; }
    QSlider *brightnessSlider() const { return brightness; }
    QSlider *contrastSlider() const { return contrast; }
    QSlider *gammaSlider() const { return gamma; }
    QAbstractButton *resetButton() const { return reset; }

    // Where a dialog of size (its frame) opens beside a window (its frame) on a screen's available
    // area: to its right where that fits, else to its left, top edges level (kept on the screen);
    // where there is no room, at last (when hasLast) or else at the screen's top left.
    static QPoint placeBeside(const QRect &window, const QSize &size, const QRect &screen, bool hasLast,
                              const QPoint &last);

signals:
    // A control changed; fit() and tone() give the values.
    void changed();

protected:
    // The dialog's place is remembered (WindowSettings) whenever it moves.
    void moveEvent(QMoveEvent *event) override;

private:
    // Shows the sliders' values beside them and announces the change unless values are being set.
    void showValues();

    QComboBox *fitChoice;
    QSlider *brightness;
    QSlider *contrast;
    QSlider *gamma;
    QLabel *brightnessValue;
    QLabel *contrastValue;
    QLabel *gammaValue;
    QAbstractButton *reset;
    bool setting = false;
};

#endif
