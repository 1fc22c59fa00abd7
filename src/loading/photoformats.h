#ifndef PHOTOFORMATS_H
#define PHOTOFORMATS_H

#include <QByteArray>
#include <QList>
#include <QString>

// The formats a photo is read from: JPEG, PNG, GIF, BMP and the netpbm formats (PBM, PGM, PPM),
// and TIFF and WebP where the toolkit has readers for them. Recognised by their content, never
// by the file name; every other format (vector drawings, icons, the text formats) is refused.
namespace PhotoFormats {

// How many leading bytes of a file identify() needs at most.
constexpr int kHeadBytes = 512;

// The toolkit's name of the photo format whose signature head (the first bytes of a file, up to
// kHeadBytes) starts with ("jpeg", "png", "gif", "bmp", "pbm", "pgm", "ppm", "tiff", "webp"), or
// an empty array. For other content, refusal gets the reason to give: "not a photo format (svg)"
// for a format recognised as something else, otherwise a list of the formats that are read.
QByteArray identify(const QByteArray &head, QString *refusal);

// File name suffixes of the photo formats read here (lower case, without the dot), for open dialogs.
QList<QByteArray> suffixes();

} // namespace PhotoFormats

#endif
