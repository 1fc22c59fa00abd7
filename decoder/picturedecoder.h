#ifndef PICTUREDECODER_H
#define PICTUREDECODER_H

#include "decoderprotocol.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The decoding itself, as the worker process does it for one picture: the format by content
// (photo formats only), the header checks, the decoder, the orientation tag and the scaling.
namespace PictureDecoder {

struct Result
{
    DecoderProtocol::Status status = DecoderProtocol::Status::Refused;
    QString error;        // why it was refused: the decoder's error, or a check's reason
    QString firstMessage; // the first message the decoder gave (control characters escaped)
    int messageCount = 0; // how many messages the decoder gave
    std::vector<quint32> pixels; // kSourcePixels values 0xAARRGGBB when decoded
};

// Decodes file (a whole picture file), turns it upright as its orientation tag (Exif) says and
// fits it into 320x240 as fit says. Refuses other formats than photos, pictures of more than
// PictureDecoder::kMaxPixels pixels (as the headers give the size) and pictures whose data ends
// where the decoder would leave the rest of the image undefined.
// allocationFailed tells whether an allocation has failed meanwhile: then the status is OutOfMemory.
Result decode(const QByteArray &file, DecoderProtocol::Fit fit, bool (*allocationFailed)());

// text with every control character (C0, DEL, C1) written as \xNN.
QString escaped(const QString &text);

} // namespace PictureDecoder

#endif
