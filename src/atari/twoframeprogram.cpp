#include "twoframeprogram.h"

#include "assembly.h"
#include "atarigeometry.h"

#include <QString>
#include <QTextStream>

#include <cstring>
#include <string>

using namespace Geometry;
using namespace Assembly;

namespace {

// Hardware registers, OS variables and the one zero-page pointer, in the order the source
// declares them.
const std::pair<const char *, int> kEquates[] = {
    {"DOSVEC", 0x000A},  {"ZCOLBAK", 0x00CB}, {"DMACTLS", 0x022F}, {"DLPTRS", 0x0230},
    {"GTICTLS", 0x026F}, {"COLPM0S", 0x02C0}, {"COLPM1S", 0x02C1}, {"COLPM2S", 0x02C2},
    {"COLPM3S", 0x02C3}, {"COLPF0S", 0x02C4}, {"COLPF1S", 0x02C5}, {"COLPF2S", 0x02C6},
    {"COLPF3S", 0x02C7}, {"COLBAKS", 0x02C8}, {"CH", 0x02FC},      {"ICCOM", 0x0342},
    {"ICBAL", 0x0344},   {"ICBAH", 0x0345},   {"ICBLL", 0x0348},   {"ICBLH", 0x0349},
    {"BASICF", 0x03F8},  {"HPOSP0", 0xD000},  {"HPOSP1", 0xD001},  {"SIZEP0", 0xD008},
    {"SIZEP1", 0xD009},  {"GRAFP0", 0xD00D},  {"GRAFP1", 0xD00E},  {"TRIG0", 0xD010},
    {"TRIG1", 0xD011},   {"COLBAK", 0xD01A},  {"CONSOL", 0xD01F},  {"SKCTL", 0xD20F},
    {"PORTB", 0xD301},   {"DMACTL", 0xD400},  {"DLISTL", 0xD402},  {"DLISTH", 0xD403},
    {"WSYNC", 0xD40A},   {"VCOUNT", 0xD40B},  {"CIOV", 0xE456},
};

constexpr quint8 kEndOfLine = 0x9B;      // ATASCII EOL
constexpr int kAnticBoundary = 0x1000;   // ANTIC's screen memory counter wraps within 4 KB
constexpr quint8 kAnticMode9Lms = 0x4F;  // mode F with load memory scan
constexpr quint8 kAnticJumpVbl = 0x41;   // jump and wait for vertical blank
constexpr int kFrameSyncWsyncs = 4;
constexpr int kPairTailNops = 3;         // after the last pair, as in the single-frame kernel

// CIO commands.
constexpr int kPutCharacters = 0x0B;
constexpr int kClose = 0x0C;
constexpr int kLoaderChannel = 0x10;     // IOCB 1, the channel DOS loads executables through

// Shown when $A000-$BFFF cannot be made RAM; each line fits the screen editor's 38 columns.
const char *const kMessage[] = {
    "This picture needs RAM at $2000-$BFFF",
    "but a cartridge holds $A000-$BFFF.",
    "Take the cartridge out and load the",
    "picture again. Press a key for DOS.",
};

int rowsPerScreenBlock(int address)
{
    const int blockEnd = (address / kAnticBoundary + 1) * kAnticBoundary;
    return (blockEnd - address) / kBytesPerRow;
}

// The program's statements for one pair of pictures (the data may be null: zeros), with the
// indexes that delimit each frame's kernel.
class TwoFrames
{
public:
    TwoFrames(const quint8 *output[2], const quint8 *hues[2])
    {
        header();
        check();
        for (int f = 0; f < 2; ++f)
            displayList(f);
        setUp();
        for (int f = 0; f < 2; ++f)
            screen(f, output[f]);
        for (int f = 0; f < 2; ++f)
            kernel(f, hues[f]);
        blank();
        program.run("MAIN");
    }

    Assembly::Program program;
    std::size_t kernelBegin[2] = {};  // first statement after the frame's last WSYNC
    std::size_t kernelEnd[2] = {};    // after its last colour store

private:
    void blank() { program.text(""); }
    void comment(const char *text) { program.text(text); }
    void label(const std::string &name) { program.label(name); }
    void org(int address) { program.org(address); }
    void op(const Opcode &code, const Operand &arg = Operand()) { program.code(code, arg); }
    void repeat(int count, const Opcode &code, const Operand &arg = Operand())
    {
        for (int i = 0; i < count; ++i)
            op(code, arg);
    }
    void hueWrite(int index, const quint8 *hues)
    {
        op(Op::LdxImmediate, number(hues ? hues[index] & 0xF0 : 0));
        Instruction &store = program.code(Op::StxAbsolute, symbol("COLBAK")).code.back();
        store.hueIndex = index;
    }
    void blackWrite()
    {
        Instruction &store = program.code(Op::StaIndirectY, symbol("ZCOLBAK")).code.back();
        store.colour = 0;
    }

    void header()
    {
        comment(";");
        comment("; Rastrel Zo9");
        comment("; Two photographs in GTIA mode 9 with a hue per run, shown in alternate frames,");
        comment("; converted by Rastrel Zo9");
        comment(";");
        blank();
        for (const auto &e : kEquates)
            program.equate(e.first, e.second);
        blank();
    }

    // Runs as soon as it is loaded, before anything above $A000: makes $A000-$BFFF RAM (on
    // an XL/XE by turning BASIC off) or, where a cartridge holds it, says so and returns to DOS.
    void check()
    {
        org(TwoFrameProgram::kCheck);
        label("CHECK");
        op(Op::Jsr, symbol("RAMTEST"));
        op(Op::Beq, symbol("LOADON"));
        comment("; BASIC off (XL/XE), and kept off after RESET");
        op(Op::LdaAbsolute, symbol("PORTB"));
        op(Op::Pha);
        op(Op::OraImmediate, number(0x02));
        op(Op::StaAbsolute, symbol("PORTB"));
        op(Op::Jsr, symbol("RAMTEST"));
        op(Op::Beq, symbol("BASICOFF"));
        op(Op::Pla);
        op(Op::StaAbsolute, symbol("PORTB"));
        op(Op::Jmp, symbol("NORAM"));
        label("BASICOFF");
        op(Op::Pla);
        op(Op::LdaImmediate, number(0x01));
        op(Op::StaAbsolute, symbol("BASICF"));
        comment("; no display while the rest loads, over the screen editor's memory too");
        label("LOADON");
        op(Op::LdaImmediate, number(0x00));
        op(Op::StaAbsolute, symbol("DMACTLS"));
        op(Op::StaAbsolute, symbol("DMACTL"));
        op(Op::Rts);

        comment("; a cartridge: say so, wait for a key, close the loader's channel, back to DOS");
        label("NORAM");
        int length = 1;
        for (const char *line : kMessage)
            length += static_cast<int>(std::strlen(line)) + 1;
        op(Op::LdaImmediate, number(kPutCharacters));
        op(Op::StaAbsolute, symbol("ICCOM"));
        op(Op::LdaImmediate, low("MESSAGE"));
        op(Op::StaAbsolute, symbol("ICBAL"));
        op(Op::LdaImmediate, high("MESSAGE"));
        op(Op::StaAbsolute, symbol("ICBAH"));
        op(Op::LdaImmediate, number(length & 0xFF));
        op(Op::StaAbsolute, symbol("ICBLL"));
        op(Op::LdaImmediate, number(length >> 8));
        op(Op::StaAbsolute, symbol("ICBLH"));
        op(Op::LdxImmediate, number(0x00));
        op(Op::Jsr, symbol("CIOV"));
        op(Op::LdaImmediate, number(0xFF));
        op(Op::StaAbsolute, symbol("CH"));
        label("WAITKEY");
        op(Op::LdaAbsolute, symbol("CH"));
        op(Op::CmpImmediate, number(0xFF));
        op(Op::Beq, symbol("WAITKEY"));
        op(Op::LdaImmediate, number(0xFF));
        op(Op::StaAbsolute, symbol("CH"));
        op(Op::LdaImmediate, number(kClose));
        op(Op::StaAbsolute, symbol("ICCOM", kLoaderChannel));
        op(Op::LdxImmediate, number(kLoaderChannel));
        op(Op::Jsr, symbol("CIOV"));
        op(Op::JmpIndirect, symbol("DOSVEC"));

        comment("; Z set when $A000 and $BFFF hold what is written there");
        label("RAMTEST");
        for (int address : {int(TwoFrameProgram::kBasicRomStart), int(TwoFrameProgram::kHighest)}) {
            op(Op::LdaAbsolute, number(address));
            op(Op::EorImmediate, number(0xFF));
            op(Op::StaAbsolute, number(address));
            op(Op::CmpAbsolute, number(address));
            op(Op::Php);
            op(Op::EorImmediate, number(0xFF));
            op(Op::StaAbsolute, number(address));
            op(Op::Plp);
            if (address == TwoFrameProgram::kBasicRomStart)
                op(Op::Bne, symbol("RAMEND"));
        }
        label("RAMEND");
        op(Op::Rts);

        label("MESSAGE");
        program.data().data.push_back({Item::Byte, number(kEndOfLine), std::string()});
        for (const char *line : kMessage)
            program.data().data.push_back({Item::Characters, Operand(), line});
        blank();
        program.init("CHECK");
        blank();
    }

    void displayList(int f)
    {
        const std::string name = f == 0 ? "DLISTA" : "DLISTB";
        org(TwoFrameProgram::kDisplayList[f]);
        label(name);
        const auto entry = [this](quint8 mode, const Operand &address) {
            Statement &st = program.data();
            st.data = {{Item::Byte, number(mode), std::string()}, {Item::Word, address, std::string()}};
            st.tight = true;
        };
        for (int row = 0; row < kSourceHeight; ++row)
            entry(kAnticMode9Lms, number(TwoFrameProgram::screenRow(f, row)));
        entry(kAnticJumpVbl, symbol(name));
        blank();
    }

    void setUp()
    {
        org(TwoFrameProgram::kSetUp);
        label("MAIN");
        op(Op::LdaImmediate, number(0x00));
        op(Op::StaAbsolute, symbol("DMACTLS"));
        op(Op::LdaImmediate, number(0x40));
        op(Op::StaAbsolute, symbol("GTICTLS"));
        op(Op::LdaImmediate, low("DLISTA"));
        op(Op::StaAbsolute, symbol("DLPTRS"));
        op(Op::LdaImmediate, high("DLISTA"));
        op(Op::StaAbsolute, symbol("DLPTRS", 1));
        op(Op::LdaImmediate, number(0x00));
        for (const char *shadow : {"COLPM0S", "COLPM1S", "COLPM2S", "COLPM3S", "COLPF0S", "COLPF1S",
                                   "COLPF2S", "COLPF3S", "COLBAKS"})
            op(Op::StaAbsolute, symbol(shadow));
        op(Op::LdaImmediate, number(0xFF));
        op(Op::StaAbsolute, symbol("GRAFP0"));
        op(Op::StaAbsolute, symbol("GRAFP1"));
        op(Op::LdaImmediate, number(0x03));
        op(Op::StaAbsolute, symbol("SIZEP0"));
        op(Op::StaAbsolute, symbol("SIZEP1"));
        op(Op::LdaImmediate, number(0x10));
        op(Op::StaAbsolute, symbol("HPOSP0"));
        op(Op::LdaImmediate, number(0xD0));
        op(Op::StaAbsolute, symbol("HPOSP1"));
        comment("; the kernels store black through (ZCOLBAK),y with A = 0 and Y = 0");
        op(Op::LdaImmediate, low("COLBAK"));
        op(Op::StaZeroPage, symbol("ZCOLBAK"));
        op(Op::LdaImmediate, high("COLBAK"));
        op(Op::StaZeroPage, symbol("ZCOLBAK", 1));
        op(Op::LdyImmediate, number(0x00));
        op(Op::LdaImmediate, number(0x22));
        op(Op::StaAbsolute, symbol("DMACTLS"));
        op(Op::Jmp, symbol("FRAMEA"));
        comment("; jsr WAITn takes n cycles in all");
        label("WAIT18");
        op(Op::Nop);
        label("WAIT16");
        op(Op::Nop);
        label("WAIT14");
        op(Op::Nop);
        label("WAIT12");
        op(Op::Rts);
        blank();
    }

    void screen(int f, const quint8 *output)
    {
        int pc = -1;
        for (int row = 0; row < kSourceHeight; ++row) {
            const int address = TwoFrameProgram::screenRow(f, row);
            if (address != pc)
                org(address);
            if (row == 0)
                label(f == 0 ? "SCREENA" : "SCREENB");
            Statement &line = program.data();
            for (int k = 0; k < kBytesPerRow; ++k) {
                const quint8 left = output ? output[row * kAtariWidth + 2 * k] : 0;
                const quint8 right = output ? output[row * kAtariWidth + 2 * k + 1] : 0;
                line.data.push_back({Item::Byte, number(((left & 0x0F) << 4) | (right & 0x0F)), std::string()});
            }
            pc = address + kBytesPerRow;
        }
        blank();
    }

    // Waits for the line above the picture, shows this frame's display list, then stores the
    // colours in exactly the cycles of the single-frame kernel: a hue write (ldx #, stx) and a
    // black write (sta (ZCOLBAK),y) take 6 cycles each as lda #/sta did, and a jsr into the
    // nops before WAIT12 takes as long as the run of nops it replaces, in 3 bytes.
    void kernel(int f, const quint8 *hues)
    {
        const char *name = f == 0 ? "FRAMEA" : "FRAMEB";
        const char *list = f == 0 ? "DLISTA" : "DLISTB";
        const char *stop = f == 0 ? "STOPA" : "STOPB";
        comment(f == 0 ? "; frame A: its display list in the vertical blank, then 120 line pairs of 124 cycles"
                       : "; frame B: its display list in the vertical blank, then 120 line pairs of 124 cycles");
        comment("; (ldx/stx and sta (ZCOLBAK),y take 6 cycles, jsr WAITn n cycles)");
        label(name);
        op(Op::LdaAbsolute, symbol("VCOUNT"));
        op(Op::CmpImmediate, number(0x02));
        op(Op::Bne, symbol(name));
        op(Op::LdaImmediate, low(list));
        op(Op::StaAbsolute, symbol("DLISTL"));
        op(Op::StaAbsolute, symbol("DLPTRS"));
        op(Op::LdaImmediate, high(list));
        op(Op::StaAbsolute, symbol("DLISTH"));
        op(Op::StaAbsolute, symbol("DLPTRS", 1));
        op(Op::LdaImmediate, number(0x00));
        op(Op::StaAbsolute, symbol("COLBAK"));
        repeat(kFrameSyncWsyncs, Op::StaAbsolute, symbol("WSYNC"));
        kernelBegin[f] = program.size();
        op(Op::BitZeroPage, number(0x00));
        op(Op::Jsr, symbol("WAIT16"));
        for (int pair = 0; pair < kLinePairs; ++pair) {
            if (pair > 0)
                op(Op::Jsr, symbol("WAIT18"));
            for (int s = 0; s < kSegmentsPerPair; ++s) {
                if (s == kSegmentsFirstLine) {
                    blackWrite();
                    op(Op::Jsr, symbol("WAIT16"));
                }
                hueWrite(pair * kSegmentsPerPair + s, hues);
            }
            blackWrite();
        }
        kernelEnd[f] = program.size();
        repeat(kPairTailNops, Op::Nop);
        blackWrite();
        op(Op::LdaAbsolute, symbol("TRIG0"));
        op(Op::Beq, symbol(stop));
        op(Op::LdaAbsolute, symbol("TRIG1"));
        op(Op::Beq, symbol(stop));
        op(Op::LdaAbsolute, symbol("CONSOL"));
        op(Op::AndImmediate, number(0x01));
        op(Op::Beq, symbol(stop));
        op(Op::LdaAbsolute, symbol("SKCTL"));
        op(Op::AndImmediate, number(0x04));
        op(Op::Beq, symbol(stop));
        op(Op::Jmp, symbol(f == 0 ? "FRAMEB" : "FRAMEA"));
        label(stop);
        op(Op::Rts);
        blank();
    }

};

} // namespace

namespace TwoFrameProgram {

quint16 screenRow(int frame, int row)
{
    static const std::vector<quint16> rows = [] {
        std::vector<quint16> r;
        int address = kScreens;
        for (int i = 0; i < 2 * kSourceHeight; ++i) {
            if (rowsPerScreenBlock(address) == 0)
                address = (address / kAnticBoundary + 1) * kAnticBoundary;
            r.push_back(static_cast<quint16>(address));
            address += kBytesPerRow;
        }
        return r;
    }();
    return rows[static_cast<std::size_t>(frame * kSourceHeight + row)];
}

void writeSource(QTextStream &out, const quint8 *outputA, const quint8 *huesA, const quint8 *outputB,
                 const quint8 *huesB)
{
    const quint8 *output[2] = {outputA, outputB};
    const quint8 *hues[2] = {huesA, huesB};
    TwoFrames(output, hues).program.write(out);
}

std::vector<quint8> executable(const quint8 *outputA, const quint8 *huesA, const quint8 *outputB,
                               const quint8 *huesB)
{
    const quint8 *output[2] = {outputA, outputB};
    const quint8 *hues[2] = {huesA, huesB};
    std::vector<quint8> file = TwoFrames(output, hues).program.binary();
    Q_ASSERT(file.size() == std::size_t(kXexSize));
    return file;
}

std::vector<Assembly::KernelStep> kernelSteps(int frame)
{
    const quint8 *none[2] = {nullptr, nullptr};
    const TwoFrames program(none, none);
    return program.program.steps(program.kernelBegin[frame], program.kernelEnd[frame]);
}

} // namespace TwoFrameProgram
