#ifndef DECODERPROTOCOL_H
#define DECODERPROTOCOL_H

#include "atarigeometry.h"

#include <QtGlobal>

// What the loader and the decoder process (rastrel-zo9-decoder) say to each other over the socket
// that is the worker's standard input and output. Both ends run on the same machine from the same
// build: integers are in the machine's own byte order, texts UTF-8.
//
//   worker -> loader, once at start:  Hello
//   loader -> worker, per picture:    Request, then Request::length bytes of the file
//   worker -> loader, per picture:    Reply, then Reply::errorBytes and Reply::messageBytes of text,
//                                     then (status Decoded only) kSourcePixels pixels 0xAARRGGBB
//
// The worker ends when its input ends. It also ends after a reply of status OutOfMemory, and is
// ended by the kernel when it passes its limits; the loader then starts a fresh one.
namespace DecoderProtocol {

constexpr quint32 kVersion = 2;
constexpr quint32 kHelloMagic = 0x445A5A52;   // "RZZD"
constexpr quint32 kRequestMagic = 0x515A5A52; // "RZZQ"
constexpr quint32 kReplyMagic = 0x415A5A52;   // "RZZA"

// How a photo is fitted into the 320x240 source picture.
enum class Fit : quint32 {
    Stretch = 0, // scaled to 320x240 whatever its proportions, nearest pixel
    Crop = 1,    // proportions kept, the frame filled; the overflow cut equally from both sides
    Pad = 2,     // proportions kept, the whole photo; black bars on the short sides
};
constexpr quint32 kFitCount = 3;

// The worker's limits, as it set them on itself.
struct Hello
{
    quint32 magic = kHelloMagic;
    quint32 version = kVersion;
    quint32 cpuSeconds = 0;   // processor time one picture may take, in seconds
    quint32 idleSeconds = 0;  // how long the worker may use no processor time while it is not done
    quint64 memoryBytes = 0;  // memory one picture may take beside the worker's own, in bytes; 0: not limited
};

struct Request
{
    quint32 magic = kRequestMagic;
    quint32 fit = quint32(Fit::Stretch);
    quint64 length = 0; // bytes of the file that follow
};

enum class Status : quint32 {
    Decoded = 0,     // the pixels follow; the messages are the decoder's, a warning
    Refused = 1,     // the error says why (the decoder's own error, or a check's reason)
    OutOfMemory = 2, // decoding needed more memory than the worker may take; the worker ends
};

struct Reply
{
    quint32 magic = kReplyMagic;
    quint32 status = quint32(Status::Refused);
    quint32 errorBytes = 0;   // the reason of a refusal
    quint32 messageBytes = 0; // the first message the decoder gave, if any
    quint32 messageCount = 0; // how many messages the decoder gave
    quint32 reserved = 0;
};

// The exit status of a worker that ran out of memory where it could not reply.
constexpr int kExitOutOfMemory = 3;

constexpr qint64 kPixelBytes = qint64(Geometry::kSourcePixels) * 4;

} // namespace DecoderProtocol

#endif
