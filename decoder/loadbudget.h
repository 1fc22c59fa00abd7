#ifndef LOADBUDGET_H
#define LOADBUDGET_H

#include <QSize>
#include <QString>

class QIODevice;

// What the headers of a picture tell before a single pixel is decoded: the size of the image the
// decoder will allocate, and whether the data holds every pixel. The header a reader reports is not
// always the one its decoder honours (a GIF's frame versus its logical screen), so the headers are
// read here the way the decoders read them. The memory and time a decoder takes are not estimated
// here: the decoder process is limited by the kernel instead.
namespace LoadBudget {

struct Estimate
{
    // The image the decoder will allocate, in pixels; invalid when the headers do not tell.
    QSize size;
    // What the size is, for messages: "JPEG frame", "GIF logical screen", ...
    QString what;
    // Why the file must not be decoded although it fits, for example because its data ends before
    // the last pixel and the decoder would leave the rest of the image as it found it in memory.
    // Empty when the file may be decoded.
    QString damage;
};

// Reads the headers of device (open for reading, random access). JPEG, PNG, GIF and BMP are
// recognised by their content; for other content the estimate is empty. Leaves the device's
// position at 0.
Estimate estimate(QIODevice &device);

} // namespace LoadBudget

#endif
