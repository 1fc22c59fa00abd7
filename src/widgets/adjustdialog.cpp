#include "adjustdialog.h"

#include "windowsettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMoveEvent>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace {

// Gamma on its slider: hundredths.
constexpr int kGammaSteps = 100;

QSlider *newSlider(int low, int high, QWidget *parent)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(low, high);
    slider->setMinimumWidth(200);
    return slider;
}

} // namespace

AdjustDialog::AdjustDialog(QWidget *parent)
    : QDialog(parent)
    , fitChoice(new QComboBox(this))
    , brightness(newSlider(PictureTone::kMinBrightness, PictureTone::kMaxBrightness, this))
    , contrast(newSlider(PictureTone::kMinContrast, PictureTone::kMaxContrast, this))
    , gamma(newSlider(int(std::lround(PictureTone::kMinGamma * kGammaSteps)),
                      int(std::lround(PictureTone::kMaxGamma * kGammaSteps)), this))
    , brightnessValue(new QLabel(this))
    , contrastValue(new QLabel(this))
    , gammaValue(new QLabel(this))
{
    setWindowTitle(tr("Adjust picture"));
    // In the order of PictureFit.
    fitChoice->addItems({tr("Stretch to 320 x 240"), tr("Crop: fill the frame"), tr("Pad: the whole photo")});

    auto *form = new QFormLayout;
    form->addRow(tr("Fit:"), fitChoice);
    const std::pair<QSlider *, QLabel *> rows[] = {{brightness, brightnessValue}, {contrast, contrastValue}, {gamma, gammaValue}};
    const QString names[] = {tr("Brightness:"), tr("Contrast:"), tr("Gamma:")};
    for (int i = 0; i < 3; ++i) {
        auto *row = new QHBoxLayout;
        row->addWidget(rows[i].first);
        rows[i].second->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("-100.00")));
        row->addWidget(rows[i].second);
        form->addRow(names[i], row);
        connect(rows[i].first, &QSlider::valueChanged, this, &AdjustDialog::showValues);
    }
    connect(fitChoice, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &AdjustDialog::showValues);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Reset | QDialogButtonBox::Close, this);
    reset = buttons->button(QDialogButtonBox::Reset);
    connect(reset, &QAbstractButton::clicked, this, [this] {
        setValues(PictureFit::Stretch, PictureTone::Tone());
        emit changed();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setValues(PictureFit::Stretch, PictureTone::Tone());
}

void AdjustDialog::setValues(PictureFit fitValue, const PictureTone::Tone &toneValue)
{
    setting = true;
    fitChoice->setCurrentIndex(int(fitValue));
    brightness->setValue(toneValue.brightness);
    contrast->setValue(toneValue.contrast);
    gamma->setValue(int(std::lround(toneValue.gamma * kGammaSteps)));
    showValues();
    setting = false;
}

PictureFit AdjustDialog::fit() const
{
    return PictureFit(fitChoice->currentIndex());
}

PictureTone::Tone AdjustDialog::tone() const
{
    PictureTone::Tone value;
    value.brightness = brightness->value();
    value.contrast = contrast->value();
    value.gamma = gamma->value() / double(kGammaSteps);
    return value;
}

void AdjustDialog::showValues()
{
    brightnessValue->setText(QString::number(brightness->value()));
    contrastValue->setText(QString::number(contrast->value()));
    gammaValue->setText(QString::number(gamma->value() / double(kGammaSteps), 'f', 2));
    if (!setting)
        emit changed();
}

QPoint AdjustDialog::placeBeside(const QRect &window, const QSize &size, const QRect &screen, bool hasLast,
                                 const QPoint &last)
{
    const int top = qBound(screen.top(), window.top(), qMax(screen.top(), screen.bottom() + 1 - size.height()));
    if (window.right() + 1 + size.width() <= screen.right() + 1)
        return QPoint(window.right() + 1, top);
    if (window.left() - size.width() >= screen.left())
        return QPoint(window.left() - size.width(), top);
    return hasLast ? last : screen.topLeft();
}

void AdjustDialog::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    if (isVisible())
        WindowSettings::rememberAdjustDialogPlace(pos());
}
