#ifndef PALETTEFILE_H
#define PALETTEFILE_H

#include <QString>
#include <QtGlobal>

// Atari palette files as emulators save them: 256 RGB triplets, index hue * 16 + luminance.
namespace PaletteFile {

constexpr qint64 kRawSize = 768;   // 256 x R, G, B
constexpr qint64 kTableSize = 772; // the same followed by a colour count and a transparent index

// Reads fileName into rgb (256 values 0x00RRGGBB). On failure returns false, leaves rgb
// untouched and sets error to the reason; refuses at once a file that is not a regular file
// (a FIFO, a device).
bool read(const QString &fileName, quint32 *rgb, QString *error);

} // namespace PaletteFile

#endif
