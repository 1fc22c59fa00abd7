#ifndef TWOFRAMEPROGRAM_H
#define TWOFRAMEPROGRAM_H

#include "atariprogram.h"

#include <QtGlobal>

#include <vector>

class QTextStream;

// The Atari display program that shows two pictures in alternate frames, A in one frame and B
// in the next, for the eye to blend. Each frame has its own screen, display list and unrolled
// kernel; both kernels store to COLBAK in exactly the cycles of the single-frame kernel, so
// AtariView::landings() and AtariView::render() hold for each frame. The program is described
// once; the assembler source, the executable and the kernel steps all come from that description.
//
// Memory (nothing at or above $C000, for a 48 KB 800 or a 64 KB XL/XE with BASIC off):
//   $2000-$22D2  display list A         $22D3-$23F0  the memory check and its message
//   $2400-$26D2  display list B         $26D3-$2733  set-up (MAIN, the run address), delays
//   $2800-$4D97  screen A               $4D98-$7347  screen B
//   $7348-$96BA  kernel A               $96BB-$BA2D  kernel B
// Screen rows are 40 bytes each, packed, but never across a 4 KB boundary (ANTIC's counter
// wraps there): a few bytes before $3000, $4000, $5000, $6000 and $7000 stay free. The file
// loads the memory check first and runs it (INITAD) before anything above $A000 is loaded: on an
// XL/XE it turns BASIC off (PORTB, and BASICF so that RESET keeps it off); where $A000-$BFFF
// cannot be made RAM (a cartridge) it says so on screen, waits for a key and returns to DOS.
namespace TwoFrameProgram {

constexpr quint16 kLowest = 0x2000;          // first address the program loads
constexpr quint16 kHighest = 0xBFFF;         // last address it may load
constexpr quint16 kDisplayList[2] = {0x2000, 0x2400}; // of frame A and frame B
constexpr quint16 kCheck = 0x22D3;           // the memory check, run as soon as it is loaded
constexpr quint16 kSetUp = 0x26D3;           // MAIN, the run address
constexpr quint16 kScreens = 0x2800;         // first row of screen A
constexpr quint16 kBasicRomStart = 0xA000;   // where BASIC or a cartridge may sit
constexpr int kXexSize = 39229;              // bytes of the executable, whatever the pictures

// Address of a screen row: frame 0 (A) or 1 (B), row 0 to 239.
quint16 screenRow(int frame, int row);

// Writes the MADS source of the program. outputA/outputB: 19200 Atari colour bytes each (only
// the luminance nibbles are written); huesA/huesB: 1560 run hues each (high nibble).
void writeSource(QTextStream &out, const quint8 *outputA, const quint8 *huesA, const quint8 *outputB,
                 const quint8 *huesB);

// The executable (Atari binary load file) of the same program with the same data: exactly the
// bytes the assembler makes of writeSource's text.
std::vector<quint8> executable(const quint8 *outputA, const quint8 *huesA, const quint8 *outputB,
                               const quint8 *huesB);

// The kernel of frame 0 (A) or 1 (B) from the moment the last WSYNC releases the CPU up to its
// last colour store, as AtariProgram::kernelSteps() describes the single-frame kernel; hueIndex
// counts the frame's own hue table.
std::vector<Assembly::KernelStep> kernelSteps(int frame);

} // namespace TwoFrameProgram

#endif
