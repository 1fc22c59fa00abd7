#ifndef WINDOWSETTINGS_H
#define WINDOWSETTINGS_H

#include "conversionsettings.h"

#include <QPoint>
#include <QString>

// What the window remembers between runs (QSettings of the application): the conversion settings
// and the folders of its dialogs. Read and written here only; a value that is missing, unknown or
// out of range reads as its default.
namespace WindowSettings {

// The remembered conversion settings: method (with its frames), flicker limit, display, base palette (read
// from the remembered palette file; the built-in one if it can no longer be read), fit and tone.
// The slider is not remembered.
// The remembered palette's file name goes to *paletteFile (empty for the built-in one); one that
// cannot be read is forgotten, and why goes to *paletteError (else it is left empty).
ConversionSettings load(QString *paletteFile = nullptr, QString *paletteError = nullptr);

// Remembers the method, flicker limit, display, fit and tone of settings (not the palette: see savePalette).
void save(const ConversionSettings &settings);

// Remembers the palette file in use (its absolute name), or the built-in palette when empty.
void savePalette(const QString &fileName);

// The folder a dialog starts in: where the last picture or palette was opened, where the last
// export was saved, where the last palette was opened; empty when none.
enum class Folder { Open, Save, Palette };
QString folder(Folder which);
// Remembers the folder of fileName as which.
void rememberFolder(Folder which, const QString &fileName);

// Where the Adjust dialog was last (its frame's top left corner); false when never shown.
bool adjustDialogPlace(QPoint *place);
void rememberAdjustDialogPlace(const QPoint &place);

// Whether the one-time hint about the preview's menu has been shown; remembers that it has.
bool menuHintShown();
void rememberMenuHintShown();

} // namespace WindowSettings

#endif
