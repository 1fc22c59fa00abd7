#include "atariprogram.h"

#include "assembly.h"
#include "atarigeometry.h"

#include <QString>
#include <QTextStream>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Geometry;

namespace {

struct Equate
{
    const char *name;
    quint16 address;
};

// Hardware registers and their OS shadows, in the order the source declares them.
constexpr Equate kEquates[] = {
    {"DMACTLS", 0x022F}, {"DLPTRS", 0x0230}, {"GTICTLS", 0x026F}, {"COLPM0S", 0x02C0},
    {"COLPM1S", 0x02C1}, {"COLPM2S", 0x02C2}, {"COLPM3S", 0x02C3}, {"COLPF0S", 0x02C4},
    {"COLPF1S", 0x02C5}, {"COLPF2S", 0x02C6}, {"COLPF3S", 0x02C7}, {"COLBAKS", 0x02C8},
    {"HPOSP0", 0xD000}, {"HPOSP1", 0xD001}, {"SIZEP0", 0xD008}, {"SIZEP1", 0xD009},
    {"GRAFP0", 0xD00D}, {"GRAFP1", 0xD00E}, {"COLBAK", 0xD01A}, {"TRIG0", 0xD010},
    {"TRIG1", 0xD011}, {"CONSOL", 0xD01F}, {"SKCTL", 0xD20F}, {"WSYNC", 0xD40A},
    {"VCOUNT", 0xD40B},
};
// The one equate written without its trailing semicolon.
constexpr const char *kEquateWithoutSemicolon = "WSYNC";

// Memory layout: the picture follows 16 zero bytes at the origin; its rows are split in two
// blocks so that no row crosses the 4 KB boundary ANTIC cannot scan across.
constexpr quint16 kOrigin = 0x2000;
constexpr int kLeadingZeros = 16;
constexpr quint16 kDisplayListAlign = 0x0400; // the display list (ANT) starts on such a boundary

struct PictureBlock
{
    int rows;
    quint16 offset; // from PICTURE to the block's first row
};
constexpr PictureBlock kPictureBlocks[] = {{204, 0x0000}, {36, 0x1FF0}};
constexpr int kGapBytes = kPictureBlocks[1].offset - kPictureBlocks[0].rows * kBytesPerRow;
static_assert(kPictureBlocks[0].rows + kPictureBlocks[1].rows == kSourceHeight, "every row is displayed");
static_assert(kGapBytes == 16, "row 204 starts on a 4 KB boundary");

constexpr quint8 kAnticMode9Lms = 0x4F;   // mode F with load memory scan
constexpr quint8 kAnticJumpVbl = 0x41;    // jump and wait for vertical blank

// Kernel timing: nops that keep every line pair exactly 124 cycles long.
constexpr int kFrameSyncWsyncs = 4;
constexpr int kLeadInNops = 8;
constexpr int kPairLeadNops = 6;
constexpr int kMidPairNops = 8;
constexpr int kPairTailNops = 3;

// The program's statements from the first line of the source to the last. The picture bytes
// are output's luminance nibbles (placeholders without a picture); the run hues are the operands
// hueText gives, in program order (placeholders without it).
struct SingleFrame
{
    Assembly::Program program;
    std::size_t kernelBegin = 0; // the first statement after the last WSYNC
    std::size_t kernelEnd = 0;   // after the black store that follows the last hue store
};

using namespace Assembly;

// lda #value, sta target, written as one macro call.
void macro(Program &p, const std::string &spelling, const Operand &value, const Operand &target, int hueIndex = -1,
           int colour = -1)
{
    Statement &st = p.code(Op::LdaImmediate, value);
    st.code.push_back({&Op::StaAbsolute, target, hueIndex, colour});
    st.spelling = "    " + spelling;
}

void poke(Program &p, const char *target, const Operand &value)
{
    macro(p, std::string("poke(") + target + ',' + operandText(value, 2) + ')', value, symbol(target));
}

void black(Program &p)
{
    macro(p, "pc(" + operandText(number(0), 2) + ')', number(0), symbol("COLBAK"), -1, 0);
}

std::string hex4(int value)
{
    return QStringLiteral("$%1").arg(value, 4, 16, QLatin1Char('0')).toUpper().toStdString();
}

void build(SingleFrame &s, const quint8 *outputBytes, const std::function<const char *()> &hueText)
{
    Program &p = s.program;
    for (const char *line : {";", "; Rastrel Zo9", "; A photograph in GTIA mode 9 with a hue per run, converted by Rastrel Zo9",
                             ";", ""})
        p.text(line);
    for (const Equate &e : kEquates)
        p.equate(e.name, e.address, std::strcmp(e.name, kEquateWithoutSemicolon) == 0 ? "" : ";");
    p.text("");
    p.text(".define poke mva #%%2 %%1");
    p.text(".define pc mva #%%1 COLBAK");
    p.text("");
    p.org(kOrigin);
    p.run("MAIN");
    p.text("");
    const auto zeros = [&p](int count) {
        Statement &st = p.data();
        st.data.assign(static_cast<std::size_t>(count), Item{Item::Byte, number(0), std::string()});
        st.spelling = "    :" + std::to_string(count) + " .byte 0";
    };
    zeros(kLeadingZeros);
    p.label("PICTURE");

    int row = 0;
    for (const PictureBlock &block : kPictureBlocks) {
        if (row > 0)
            zeros(kGapBytes);
        for (int i = 0; i < block.rows; ++i, ++row) {
            Statement &st = p.data();
            for (int k = 0; k < kBytesPerRow; ++k) {
                const quint8 *pair = outputBytes + row * kAtariWidth + 2 * k;
                const int packed = outputBytes ? ((pair[0] & 0x0F) << 4 | (pair[1] & 0x0F)) : AtariProgram::kPicturePlaceholder;
                st.data.push_back({Item::Byte, number(packed), std::string()});
            }
        }
    }

    p.align(kDisplayListAlign);
    Statement &list = p.data();
    list.label = "ANT";
    list.spelling = "ANT ANTIC_PROGRAM PICTURE,ANT";
    for (const PictureBlock &block : kPictureBlocks) {
        for (int i = 0; i < block.rows; ++i) {
            list.data.push_back({Item::Byte, number(kAnticMode9Lms), std::string()});
            list.data.push_back({Item::Word, symbol("PICTURE", block.offset + i * kBytesPerRow), std::string()});
        }
    }
    list.data.push_back({Item::Byte, number(kAnticJumpVbl), std::string()});
    list.data.push_back({Item::Word, symbol("ANT"), std::string()});
    p.text("");
    p.text(".MACRO ANTIC_PROGRAM");
    for (const PictureBlock &block : kPictureBlocks)
        p.text("    :+" + std::to_string(block.rows) + " dta $" + QString::number(kAnticMode9Lms, 16).toUpper().toStdString()
               + ",a(:1+" + hex4(block.offset) + "+#*" + std::to_string(kBytesPerRow) + ")");
    p.text("    dta $" + QString::number(kAnticJumpVbl, 16).toUpper().toStdString() + ",a(:2)");
    p.text(".ENDM");
    p.text("");

    p.label("MAIN");
    poke(p, "DMACTLS", decimal(0));
    poke(p, "GTICTLS", number(0x40));
    macro(p, "mva <ANT DLPTRS", low("ANT"), symbol("DLPTRS"));
    macro(p, "mva >ANT DLPTRS+1", high("ANT"), symbol("DLPTRS", 1));
    for (const char *shadow : {"COLPM0S", "COLPM1S", "COLPM2S", "COLPM3S", "COLPF0S", "COLPF1S", "COLPF2S", "COLPF3S",
                               "COLBAKS"})
        poke(p, shadow, number(0x00));
    poke(p, "GRAFP0", number(0xFF));
    poke(p, "GRAFP1", number(0xFF));
    poke(p, "SIZEP0", number(0x03));
    poke(p, "SIZEP1", number(0x03));
    poke(p, "HPOSP0", number(0x10));
    poke(p, "HPOSP1", number(0xD0));
    poke(p, "DMACTLS", number(0x22));

    const auto nops = [&p](int count) {
        for (int i = 0; i < count; ++i)
            p.code(Op::Nop);
    };
    int hueIndex = 0;
    const auto hueWrites = [&](int count) {
        for (int i = 0; i < count; ++i, ++hueIndex) {
            const char *text = hueText ? hueText() : nullptr;
            const Operand hue = number(text ? static_cast<int>(std::strtoul(text + 1, nullptr, 16))
                                            : AtariProgram::kHuePlaceholder);
            macro(p, std::string("pc(") + (text ? std::string(text) : operandText(hue, 2)) + ')', hue,
                  symbol("COLBAK"), hueIndex);
        }
    };
    p.label("LOOP");
    p.code(Op::LdaAbsolute, symbol("VCOUNT"));
    p.code(Op::CmpImmediate, number(0x02));
    p.code(Op::Bne, symbol("LOOP"));
    black(p);
    for (int i = 0; i < kFrameSyncWsyncs; ++i)
        p.code(Op::StaAbsolute, symbol("WSYNC"));
    s.kernelBegin = p.size();
    p.code(Op::LdaZeroPage, decimal(0));
    nops(kLeadInNops);
    for (int pair = 0; pair < kLinePairs; ++pair) {
        if (pair > 0)
            nops(kPairLeadNops);
        hueWrites(kSegmentsFirstLine);
        black(p);
        nops(kMidPairNops);
        hueWrites(kSegmentsPerPair - kSegmentsFirstLine);
        black(p);
        s.kernelEnd = p.size();
        nops(kPairTailNops);
    }
    black(p);
    p.code(Op::LdaAbsolute, symbol("TRIG0"));
    p.code(Op::Beq, symbol("STOP"));
    p.code(Op::LdaAbsolute, symbol("TRIG1"));
    p.code(Op::Beq, symbol("STOP"));
    p.code(Op::LdaAbsolute, symbol("CONSOL"));
    p.code(Op::AndImmediate, decimal(1));
    p.code(Op::Beq, symbol("STOP"));
    p.code(Op::LdaAbsolute, symbol("SKCTL"));
    p.code(Op::AndImmediate, number(0x04));
    p.code(Op::Beq, symbol("STOP"));
    p.code(Op::Jmp, symbol("LOOP"));
    p.label("STOP");
    p.code(Op::Rts);
    p.text("");
}

// The program without a picture: the executable template and the kernel's timing.
const SingleFrame &placeholders()
{
    static const SingleFrame s = [] {
        SingleFrame f;
        build(f, nullptr, {});
        return f;
    }();
    return s;
}

} // namespace

namespace AtariProgram {

const std::array<quint8, kXexSize> &basexex()
{
    static const std::array<quint8, kXexSize> xex = [] {
        const std::vector<quint8> file = placeholders().program.binary();
        Q_ASSERT(file.size() == std::size_t(kXexSize));
        std::array<quint8, kXexSize> a{};
        std::copy(file.begin(), file.begin() + std::min<std::size_t>(file.size(), kXexSize), a.begin());
        return a;
    }();
    return xex;
}

void writeSource(QTextStream &out, const quint8 *outputBytes, const std::function<const char *()> &hueText)
{
    SingleFrame s;
    build(s, outputBytes, hueText);
    s.program.write(out);
}

std::vector<Assembly::KernelStep> kernelSteps()
{
    const SingleFrame &s = placeholders();
    return s.program.steps(s.kernelBegin, s.kernelEnd);
}

void fillExecutable(const quint8 *outputBytes, const quint8 *hues, std::array<quint8, kXexSize> &xex)
{
    xex = basexex();

    int n = 0;
    for (int offset = kPictureScanStart; n < kAtariPixels && offset < kXexSize; ++offset) {
        if (xex[offset] == kPicturePlaceholder) {
            xex[offset] = static_cast<quint8>((outputBytes[n] << 4) | (outputBytes[n + 1] & 0x0F));
            n += 2;
        }
    }

    int j = 0;
    for (int offset = kHueScanStart; j < kHues && offset < kXexSize; ++offset) {
        if (xex[offset] == kHuePlaceholder) {
            xex[offset] = hues[j] & 0xF0;
            ++j;
        }
    }
}

} // namespace AtariProgram
