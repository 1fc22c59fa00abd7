#include "windowsettings.h"

#include "displaytable.h"
#include "methodtable.h"
#include "palettefile.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace {

const QString kPaletteKey = QStringLiteral("palette");
const QString kMethodKey = QStringLiteral("method");
const QString kFramesKey = QStringLiteral("frames");
const QString kFlickerKey = QStringLiteral("flicker");
const QString kDisplayKey = QStringLiteral("display");
const QString kFitKey = QStringLiteral("fit");
const QString kBrightnessKey = QStringLiteral("brightness");
const QString kContrastKey = QStringLiteral("contrast");
const QString kGammaKey = QStringLiteral("gamma");
const QString kFolderKeys[] = {QStringLiteral("openFolder"), QStringLiteral("saveFolder"),
                               QStringLiteral("paletteFolder")}; // by Folder
const QString kAdjustPlaceKey = QStringLiteral("adjustDialogPlace");
const QString kMenuHintKey = QStringLiteral("menuHintShown");

// Reads the remembered fit and tone into settings; values out of range are left at the defaults.
void loadPictureAdjustment(const QSettings &stored, ConversionSettings *settings)
{
    const QString fit = stored.value(kFitKey).toString();
    for (int i = 0; i < kPictureFitCount; ++i) {
        if (fit == QLatin1String(kPictureFitNames[i]))
            settings->fit = PictureFit(i);
    }
    PictureTone::Tone tone;
    tone.brightness = stored.value(kBrightnessKey, 0).toInt();
    tone.contrast = stored.value(kContrastKey, 0).toInt();
    tone.gamma = stored.value(kGammaKey, 1.0).toDouble();
    if (tone.brightness >= PictureTone::kMinBrightness && tone.brightness <= PictureTone::kMaxBrightness
        && tone.contrast >= PictureTone::kMinContrast && tone.contrast <= PictureTone::kMaxContrast
        && tone.gamma >= PictureTone::kMinGamma && tone.gamma <= PictureTone::kMaxGamma)
        settings->tone = tone;
}

} // namespace

namespace WindowSettings {

ConversionSettings load(QString *paletteFile, QString *paletteError)
{
    ConversionSettings settings;
    const QSettings stored;
    settings.method = MethodTable::remembered(stored.value(kMethodKey).toString(), stored.value(kFramesKey).toInt());
    bool flickerOk = false;
    const int flicker = stored.value(kFlickerKey).toInt(&flickerOk);
    if (flickerOk && kFlickerRange.contains(flicker))
        settings.flicker = flicker;
    settings.display = std::max(DisplayTable::find(stored.value(kDisplayKey).toString()), 0);
    // A remembered palette file that can no longer be read leaves the stored palette in use.
    const QString file = stored.value(kPaletteKey).toString();
    quint32 palette[256];
    QString error;
    if (!file.isEmpty() && PaletteFile::read(file, palette, &error))
        settings.basePalette.assign(palette, palette + 256);
    if (paletteFile)
        *paletteFile = file;
    if (paletteError)
        *paletteError = settings.basePalette.empty() && !file.isEmpty() ? error : QString();
    loadPictureAdjustment(stored, &settings);
    if (settings.basePalette.empty() && !file.isEmpty())
        savePalette(QString()); // told once, then forgotten
    return settings;
}

void save(const ConversionSettings &settings)
{
    QSettings stored;
    const MethodInfo &method = MethodTable::at(settings.method);
    stored.setValue(kMethodKey, QLatin1String(method.settingsValue));
    stored.setValue(kFramesKey, method.frames);
    stored.setValue(kFlickerKey, settings.flicker);
    stored.setValue(kDisplayKey, QLatin1String(DisplayTable::at(settings.display).name));
    stored.setValue(kFitKey, QLatin1String(kPictureFitNames[int(settings.fit)]));
    stored.setValue(kBrightnessKey, settings.tone.brightness);
    stored.setValue(kContrastKey, settings.tone.contrast);
    stored.setValue(kGammaKey, settings.tone.gamma);
}

void savePalette(const QString &fileName)
{
    if (fileName.isEmpty())
        QSettings().remove(kPaletteKey);
    else
        QSettings().setValue(kPaletteKey, QFileInfo(fileName).absoluteFilePath());
}

QString folder(Folder which)
{
    return QSettings().value(kFolderKeys[int(which)]).toString();
}

void rememberFolder(Folder which, const QString &fileName)
{
    QSettings().setValue(kFolderKeys[int(which)], QFileInfo(fileName).absolutePath());
}

bool adjustDialogPlace(QPoint *place)
{
    const QVariant stored = QSettings().value(kAdjustPlaceKey);
    if (!stored.canConvert<QPoint>() || stored.isNull())
        return false;
    *place = stored.toPoint();
    return true;
}

void rememberAdjustDialogPlace(const QPoint &place)
{
    QSettings().setValue(kAdjustPlaceKey, place);
}

bool menuHintShown()
{
    return QSettings().value(kMenuHintKey, false).toBool();
}

void rememberMenuHintShown()
{
    QSettings().setValue(kMenuHintKey, true);
}

} // namespace WindowSettings
