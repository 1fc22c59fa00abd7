#ifndef LOADBUDGET_H
#define LOADBUDGET_H

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QtGlobal>

class QIODevice;

// What decoding a picture will cost, worked out from its headers before a single pixel is decoded.
// The header a reader reports is not always the one its decoder honours (a GIF's frame versus its
// logical screen, the PNG inside an icon whose directory claims another size), so the headers are
// read here the way the decoders read them.
namespace LoadBudget {

// Most memory one load may take at its peak, in bytes (1 GiB).
constexpr qint64 kMaxBytes = qint64(1) << 30;

struct Estimate
{
    // The image the decoder will allocate, in pixels; invalid when the headers do not tell.
    QSize size;
    // Peak memory the decoder will take, in bytes: the decoded image in the decoder's own pixel
    // format plus its working buffers (a progressive JPEG's coefficients, a GIF's second frame).
    qint64 bytes = 0;
    // What the size is, for messages: "logical screen", "PNG inside the icon", ...
    QString what;
    // Why the file must not be decoded although it fits, for example because its data ends before
    // the last pixel and the decoder would leave the rest of the image as it found it in memory.
    // Empty when the file may be decoded.
    QString damage;
};

// Reads the headers of device (open for reading, random access). JPEG, PNG, GIF, ICO and BMP are
// recognised by their content, as QImageReader recognises them; other formats get an estimate
// from fallbackSize (QImageReader::size()) and format (as QImageReader names it), at 4 bytes per
// pixel for the formats whose reader reports the size it decodes, 8 otherwise.
// Leaves the device's position at 0.
Estimate estimate(QIODevice &device, const QByteArray &format, const QSize &fallbackSize);

} // namespace LoadBudget

#endif
