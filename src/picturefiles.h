#ifndef PICTUREFILES_H
#define PICTUREFILES_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class ATARIpic;
class QImage;

// Reading photos and writing the two exports. Loading detects the format by content and
// scales to 320x240 (aspect ratio ignored, nearest pixel), in a decoder process that the kernel
// limits (see DecoderProcess). Saving is atomic: the target appears or is replaced only once the
// whole file has been written.
namespace PictureFiles {

// Largest picture accepted, in pixels. Leaves room for any camera photograph up to
// 200 megapixels while refusing files whose header claims a size that would take
// gigabytes to decode (a decompression bomb).
constexpr qint64 kMaxPixels = 200'000'000;

// Reads fileName and stores the scaled picture in pixels (76800 values 0xAARRGGBB, row by row),
// turned upright as the picture's orientation tag (Exif) says. Reads photo formats only (see
// PhotoFormats), from regular files only. Refuses a picture past kMaxPixels (as its header says),
// or whose data ends before its last pixel where the decoder would leave the rest undefined; a
// picture that needs more than 1 GiB of memory or more than a few seconds of processor time to
// decode fails with that reason.
// On failure returns false, leaves pixels untouched and sets error to the reason (the system's
// reason when the file cannot be opened; "the file is empty"; the decoder's error).
// Messages that the decoder gives while reading are held back; when the picture loads anyway, one
// warning line naming the file and the first message goes to warning, or to the message log when
// warning is null.
bool load(const QString &fileName, quint32 *pixels, QString *error, QString *warning = nullptr);

// Reads a picture from the standard input (at most 256 MiB) as load() reads a file; "-" names it.
bool loadStandardInput(quint32 *pixels, QString *error, QString *warning = nullptr);

// Writes the assembler source of pic's converted picture to fileName. On failure returns false,
// leaves any existing file as it was, leaves no partial file and sets error to the reason.
bool saveAsm(ATARIpic &pic, const QString &fileName, QString *error);

// Writes bytes to fileName; failures as for saveAsm. "-" writes to the standard output; an existing
// file that is not a regular file (a device, a FIFO) is written into, not replaced.
bool saveBytes(const QString &fileName, const QByteArray &bytes, QString *error);

// Writes the executable of pic's converted picture to fileName; failures as for saveAsm.
bool saveXex(ATARIpic &pic, const QString &fileName, QString *error);

// Draws preview mode (0 to 6, or kAtariViewMode) of pic into image (320x240, Format_RGB32), every pixel opaque.
void paintPreview(const ATARIpic &pic, quint8 mode, QImage &image);

// Writes preview mode (0 to 6, or kAtariViewMode) of pic as a 320x240 PNG; failures as for saveAsm.
bool savePreviewPng(const ATARIpic &pic, quint8 mode, const QString &fileName, QString *error);

} // namespace PictureFiles

#endif
