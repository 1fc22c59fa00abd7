#include "windowtexts.h"

#include "methodtable.h"
#include "pictureconversion.h"
#include "sliderscale.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

namespace WindowTexts {

QString menuHint()
{
    return tr("Right-click the picture for the methods, two frames, palettes and picture controls.");
}

QString withKeys(const QString &text, const QKeySequence &keys)
{
    QString plain = text;
    plain.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return QStringLiteral("%1 (%2)").arg(plain, keys.toString(QKeySequence::NativeText));
}

QString sliderToolTip(const ConversionSettings &settings, int value)
{
    if (MethodTable::at(settings.method).slider == SliderUse::ChromaFactor)
        return tr("%1: the photo's chroma times %2")
            .arg(value)
            .arg(double(PictureConversion::sliderInEffect(settings)) / kPhotographedChromaValue, 0, 'f', 2);
    const QString saturation =
        QString::number(double(PictureConversion::sliderInEffect(settings)) / kMaxSliderValue, 'f', 2);
    if (!settings.hasSlider)
        return tr("The generated palette's saturation %1 until the slider is moved").arg(saturation);
    return tr("%1: the generated palette's saturation %2").arg(value).arg(saturation);
}

QString paletteEntry(const QString &fileName)
{
    if (fileName.isEmpty())
        return tr("Built-in palette");
    return tr("Palette: %1").arg(QFileInfo(fileName).fileName());
}

} // namespace WindowTexts
