#ifndef PICTURELOADER_H
#define PICTURELOADER_H

#include <QString>
#include <QtGlobal>

// Loading a photo for conversion: any format Qt reads, detected by content, scaled to 320x240
// (aspect ratio ignored, nearest pixel) exactly as the converter expects it.
namespace PictureLoader {

// Largest picture accepted, in pixels. Leaves room for any camera photograph up to
// 200 megapixels while refusing files whose header claims a size that would take
// gigabytes to decode (a decompression bomb).
constexpr qint64 kMaxPixels = 200'000'000;

// Reads fileName and stores the scaled picture in pixels (76800 values 0xAARRGGBB, row by row).
// On failure returns false, leaves pixels untouched and sets error to the reason.
bool load(const QString &fileName, quint32 *pixels, QString *error);

} // namespace PictureLoader

#endif
