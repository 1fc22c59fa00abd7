#ifndef WINDOWSETTINGS_H
#define WINDOWSETTINGS_H

#include "conversionsettings.h"

#include <QString>

// What the window remembers between runs (QSettings of the application): the conversion settings
// and the folders of its dialogs. Read and written here only; a value that is missing, unknown or
// out of range reads as its default.
namespace WindowSettings {

// The remembered conversion settings: method (with its frames), flicker limit, display, base palette (read
// from the remembered palette file; the built-in one if it can no longer be read), fit and tone.
// The slider is not remembered.
ConversionSettings load();

// Remembers the method, flicker limit, display, fit and tone of settings (not the palette: see savePalette).
void save(const ConversionSettings &settings);

// Remembers the palette file in use (its absolute name), or the built-in palette when empty.
void savePalette(const QString &fileName);

// The folder a dialog starts in: where the last picture or palette was opened, where the last
// export was saved; empty when none.
enum class Folder { Open, Save };
QString folder(Folder which);
// Remembers the folder of fileName as which.
void rememberFolder(Folder which, const QString &fileName);

} // namespace WindowSettings

#endif
