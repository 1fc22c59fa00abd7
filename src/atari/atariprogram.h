#ifndef ATARIPROGRAM_H
#define ATARIPROGRAM_H

#include "assembly.h"

#include <QtGlobal>

#include <array>
#include <functional>
#include <vector>

class QTextStream;

// The Atari display program that shows a converted picture: set-up, display list and a
// cycle-counted kernel that rewrites COLBAK 15 times per line pair. It is described once;
// the assembler source and the executable template are both produced from that description.
namespace AtariProgram {

constexpr int kXexSize = 21572;            // bytes of the executable
constexpr quint8 kPicturePlaceholder = 0xFF;
constexpr quint8 kHuePlaceholder = 0xF0;
constexpr int kPictureScanStart = 28;      // file offset of the first picture placeholder
constexpr int kHueScanStart = 10505;       // file offset of the first colour write of line pair 0

// The executable with every picture byte $FF and every run hue $F0, built once.
const std::array<quint8, kXexSize> &basexex();

// Writes the MADS source (4177 lines). outputBytes: 19200 Atari colour bytes, of which only
// the luminance nibbles are written. hueText is called once per hue write, in program order,
// and returns the operand text, for example "$50".
void writeSource(QTextStream &out, const quint8 *outputBytes, const std::function<const char *()> &hueText);

// Fills a copy of the template: picture placeholders with packed luminances (left pixel high),
// hue placeholders with hues[j] & 0xF0. outputBytes: 19200 bytes; hues: 1560 entries.
void fillExecutable(const quint8 *outputBytes, const quint8 *hues, std::array<quint8, kXexSize> &xex);

// The kernel of one frame from the moment the last WSYNC releases the CPU up to its last
// colour store, in program order: the lead-in and the blocks of all 120 line pairs.
std::vector<Assembly::KernelStep> kernelSteps();

} // namespace AtariProgram

#endif
