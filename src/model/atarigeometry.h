#ifndef ATARIGEOMETRY_H
#define ATARIGEOMETRY_H

#include <QtGlobal>

// The fixed geometry of a picture, from the loaded photo down to the Atari screen.
namespace Geometry {

constexpr int kSourceWidth = 320;                          // source pixels per row
constexpr int kSourceHeight = 240;                         // rows of every picture
constexpr int kSourcePixels = kSourceWidth * kSourceHeight; // 76800, one preview plane
constexpr int kSourcePerAtari = 4;                         // source pixels per Atari pixel
constexpr int kAtariWidth = kSourceWidth / kSourcePerAtari; // 80 Atari pixels per row
constexpr int kAtariPixels = kAtariWidth * kSourceHeight;  // 19200
constexpr int kBytesPerRow = kAtariWidth / 2;              // 40: two 4-bit luminances per byte
constexpr int kPictureBytes = kBytesPerRow * kSourceHeight; // 9600
constexpr int kLinePairs = kSourceHeight / 2;              // 120
constexpr int kSegmentsPerPair = 13;                       // hue segments of one line pair
constexpr int kSegmentsFirstLine = 7;                      // of which on the pair's first row
constexpr int kHues = kLinePairs * kSegmentsPerPair;       // 1560
constexpr int kPlanes = 7;                                 // preview planes

// Lengths of the 13 hue segments of a line pair, in Atari pixels: 7 on the first row, 6 on the second.
constexpr quint8 kSegmentLengths[kSegmentsPerPair] = {8, 23, 14, 12, 12, 9, 2, 16, 22, 12, 12, 12, 6};

} // namespace Geometry

#endif
