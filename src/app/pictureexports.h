#ifndef PICTUREEXPORTS_H
#define PICTUREEXPORTS_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class ATARIpic;
class QImage;

// Writing a converted picture: the two exports of the display program and the preview images.
// Saving is atomic: the target appears or is replaced only once the whole file has been written.
// Nothing here changes the picture store.
namespace PictureExports {

// Writes bytes to fileName (see PlainFiles::write: "-" is the standard output; a device or FIFO is
// written into, not replaced). On failure returns false, leaves any existing file as it was, leaves
// no partial file and sets error to the reason.
bool saveBytes(const QString &fileName, const QByteArray &bytes, QString *error);

// Writes the assembler source of pic's converted picture (one or two frames) to fileName; failures
// as for saveBytes.
bool saveAsm(const ATARIpic &pic, const QString &fileName, QString *error);

// Writes the executable of pic's converted picture (one or two frames) to fileName; failures as for
// saveBytes.
bool saveXex(const ATARIpic &pic, const QString &fileName, QString *error);

// Draws preview mode (0 to 6, kAtariViewMode, kAtariFrameAMode or kAtariFrameBMode) of pic into image (320x240, Format_RGB32), every pixel opaque.
void paintPreview(const ATARIpic &pic, quint8 mode, QImage &image);

// Writes preview mode (0 to 6, kAtariViewMode, kAtariFrameAMode or kAtariFrameBMode) of pic as a 320x240 PNG; failures as for saveBytes.
bool savePreviewPng(const ATARIpic &pic, quint8 mode, const QString &fileName, QString *error);

} // namespace PictureExports

#endif
