#ifndef PICTURELOADER_H
#define PICTURELOADER_H

#include "picturefit.h"

#include <QString>
#include <QtGlobal>

// Reading photos. Detects the format by content and fits it into 320x240 (nearest pixel; by default
// stretched, the aspect ratio ignored), in a decoder process that the kernel limits (see
// DecoderProcess). Needs no picture store: it hands back pixels.
namespace PictureLoader {

// Largest picture accepted, in pixels. Leaves room for any camera photograph up to
// 200 megapixels while refusing files whose header claims a size that would take
// gigabytes to decode (a decompression bomb).
constexpr qint64 kMaxPixels = 200'000'000;

// Reads fileName and stores the scaled picture in pixels (76800 values 0xAARRGGBB, row by row),
// turned upright as the picture's orientation tag (Exif) says, then fitted as fit says. Reads photo
// formats only (see PhotoFormats), from regular files only. Refuses a picture past kMaxPixels (as its
// header says), or whose data ends before its last pixel where the decoder would leave the rest
// undefined; a picture that needs more than 1 GiB of memory or more than 8 s of processor time to
// decode fails with that reason.
// On failure returns false, leaves pixels untouched and sets error to the reason (the system's
// reason when the file cannot be opened; "The file is empty."; the decoder's error).
// Messages that the decoder gives while reading are held back; when the picture loads anyway, one
// warning line naming the file and the first message goes to warning, or to the message log when
// warning is null.
bool load(const QString &fileName, quint32 *pixels, QString *error, QString *warning = nullptr,
          PictureFit fit = PictureFit::Stretch);

// Reads a picture from the standard input (at most 256 MiB) as load() reads a file; "-" names it.
bool loadStandardInput(quint32 *pixels, QString *error, QString *warning = nullptr,
                       PictureFit fit = PictureFit::Stretch);

} // namespace PictureLoader

#endif
