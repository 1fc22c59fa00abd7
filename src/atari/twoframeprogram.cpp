#include "twoframeprogram.h"

#include "atarigeometry.h"

#include <QString>
#include <QTextStream>

#include <cstring>
#include <map>
#include <string>

using namespace Geometry;

namespace {

// Addressing modes of the instructions the program uses, and their operand bytes.
enum class Mode { Implied, Immediate, ZeroPage, Absolute, IndirectY, Indirect, Relative };

int operandBytes(Mode mode)
{
    switch (mode) {
    case Mode::Implied:
        return 0;
    case Mode::Immediate:
    case Mode::ZeroPage:
    case Mode::IndirectY:
    case Mode::Relative:
        return 1;
    case Mode::Absolute:
    case Mode::Indirect:
        return 2;
    }
    return 0;
}

struct Opcode
{
    const char *mnemonic;
    Mode mode;
    quint8 code;
    int cycles; // without page crossings; branches as not taken; jsr without the routine
};

constexpr Opcode kLdaImmediate{"lda", Mode::Immediate, 0xA9, 2};
constexpr Opcode kLdaAbsolute{"lda", Mode::Absolute, 0xAD, 4};
constexpr Opcode kLdxImmediate{"ldx", Mode::Immediate, 0xA2, 2};
constexpr Opcode kLdyImmediate{"ldy", Mode::Immediate, 0xA0, 2};
constexpr Opcode kStaZeroPage{"sta", Mode::ZeroPage, 0x85, 3};
constexpr Opcode kStaAbsolute{"sta", Mode::Absolute, 0x8D, 4};
constexpr Opcode kStaIndirectY{"sta", Mode::IndirectY, 0x91, 6};
constexpr Opcode kStxAbsolute{"stx", Mode::Absolute, 0x8E, 4};
constexpr Opcode kCmpImmediate{"cmp", Mode::Immediate, 0xC9, 2};
constexpr Opcode kCmpAbsolute{"cmp", Mode::Absolute, 0xCD, 4};
constexpr Opcode kAndImmediate{"and", Mode::Immediate, 0x29, 2};
constexpr Opcode kOraImmediate{"ora", Mode::Immediate, 0x09, 2};
constexpr Opcode kEorImmediate{"eor", Mode::Immediate, 0x49, 2};
constexpr Opcode kBitZeroPage{"bit", Mode::ZeroPage, 0x24, 3};
constexpr Opcode kBne{"bne", Mode::Relative, 0xD0, 2};
constexpr Opcode kBeq{"beq", Mode::Relative, 0xF0, 2};
constexpr Opcode kJmp{"jmp", Mode::Absolute, 0x4C, 3};
constexpr Opcode kJmpIndirect{"jmp", Mode::Indirect, 0x6C, 5};
constexpr Opcode kJsr{"jsr", Mode::Absolute, 0x20, 6};
constexpr Opcode kRts{"rts", Mode::Implied, 0x60, 6};
constexpr Opcode kNop{"nop", Mode::Implied, 0xEA, 2};
constexpr Opcode kPha{"pha", Mode::Implied, 0x48, 3};
constexpr Opcode kPla{"pla", Mode::Implied, 0x68, 4};
constexpr Opcode kPhp{"php", Mode::Implied, 0x08, 3};
constexpr Opcode kPlp{"plp", Mode::Implied, 0x28, 4};

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

constexpr quint16 kRunAddressVector = 0x02E0;
constexpr quint16 kInitAddressVector = 0x02E2;
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

// An operand: a symbol plus an offset (or its low or high byte), or a plain number.
struct Arg
{
    std::string symbol;
    int number = 0;
    char part = 0; // '<' or '>' with a symbol
};

Arg sym(const char *name, int offset = 0)
{
    return {name, offset, 0};
}

Arg num(int value)
{
    return {std::string(), value, 0};
}

Arg low(const char *name)
{
    return {name, 0, '<'};
}

Arg high(const char *name)
{
    return {name, 0, '>'};
}

struct Statement
{
    enum Kind { Blank, Comment, Equates, Label, Instruction, Bytes, DisplayListEntry, Text, Org, Ini, Run };
    explicit Statement(Kind k) : kind(k) {}
    Kind kind;
    std::string text;          // comment, label, message line
    const Opcode *op = nullptr;
    Arg arg;                   // operand; the address of a display list entry; ini and run target
    std::vector<quint8> bytes; // Bytes; the mode byte of a display list entry
    int address = 0;           // Org
    int hueIndex = -1;         // a store of this frame's hue table entry to COLBAK
    bool blackStore = false;   // a store of black (A = 0) to COLBAK
};

int rowsPerScreenBlock(int address)
{
    const int blockEnd = (address / kAnticBoundary + 1) * kAnticBoundary;
    return (blockEnd - address) / kBytesPerRow;
}

// The program's statements for one pair of pictures (the data may be null: zeros), with the
// indexes that delimit each frame's kernel.
class Program
{
public:
    Program(const quint8 *output[2], const quint8 *hues[2])
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
        add(Statement(Statement::Blank));
        Statement run(Statement::Run);
        run.arg = sym("MAIN");
        add(run);
        layout();
    }

    std::vector<Statement> statements;
    std::map<std::string, int> symbols;
    std::size_t kernelBegin[2] = {};  // first statement after the frame's last WSYNC
    std::size_t kernelEnd[2] = {};    // its last colour store

    int bytesOf(const Statement &st) const
    {
        switch (st.kind) {
        case Statement::Instruction:
            return 1 + operandBytes(st.op->mode);
        case Statement::Bytes:
            return static_cast<int>(st.bytes.size());
        case Statement::DisplayListEntry:
            return 3;
        case Statement::Text:
            return static_cast<int>(st.text.size()) + 1;
        default:
            return 0;
        }
    }

    int value(const Arg &arg) const
    {
        if (arg.symbol.empty())
            return arg.number;
        const auto it = symbols.find(arg.symbol);
        if (it == symbols.end())
            qFatal("unknown symbol %s", arg.symbol.c_str());
        const int v = it->second + arg.number;
        return arg.part == '<' ? (v & 0xFF) : arg.part == '>' ? ((v >> 8) & 0xFF) : v;
    }

    // CPU cycles of an instruction; a jsr counts the routine it calls up to its rts.
    int cycles(const Statement &st) const
    {
        int n = st.op->cycles;
        if (st.op == &kJsr) {
            std::size_t i = labelIndex(st.arg.symbol);
            for (; statements[i].kind != Statement::Instruction || statements[i].op != &kRts; ++i) {
                if (statements[i].kind == Statement::Instruction)
                    n += statements[i].op->cycles;
            }
            n += kRts.cycles;
        }
        return n;
    }

private:
    void add(const Statement &st) { statements.push_back(st); }
    void blank() { add(Statement(Statement::Blank)); }
    void comment(const char *text)
    {
        Statement st(Statement::Comment);
        st.text = text;
        add(st);
    }
    void label(const std::string &name)
    {
        Statement st(Statement::Label);
        st.text = name;
        add(st);
    }
    void org(int address)
    {
        Statement st(Statement::Org);
        st.address = address;
        add(st);
    }
    void op(const Opcode &code, const Arg &arg = Arg())
    {
        Statement st(Statement::Instruction);
        st.op = &code;
        st.arg = arg;
        add(st);
    }
    void repeat(int count, const Opcode &code, const Arg &arg = Arg())
    {
        for (int i = 0; i < count; ++i)
            op(code, arg);
    }
    void hueWrite(int index, const quint8 *hues)
    {
        op(kLdxImmediate, num(hues ? hues[index] & 0xF0 : 0));
        op(kStxAbsolute, sym("COLBAK"));
        statements.back().hueIndex = index;
    }
    void blackWrite()
    {
        op(kStaIndirectY, sym("ZCOLBAK"));
        statements.back().blackStore = true;
    }

    void header()
    {
        comment(";");
        comment("; Rastrel Zo9");
        comment("; Two photographs in GTIA mode 9 with a hue per run, shown in alternate frames,");
        comment("; converted by Rastrel Zo9");
        comment(";");
        blank();
        add(Statement(Statement::Equates));
        blank();
        for (const auto &e : kEquates)
            symbols[e.first] = e.second;
    }

    // Runs as soon as it is loaded, before anything above $A000: makes $A000-$BFFF RAM (on
    // an XL/XE by turning BASIC off) or, where a cartridge holds it, says so and returns to DOS.
    void check()
    {
        org(TwoFrameProgram::kCheck);
        label("CHECK");
        op(kJsr, sym("RAMTEST"));
        op(kBeq, sym("LOADON"));
        comment("; BASIC off (XL/XE), and kept off after RESET");
        op(kLdaAbsolute, sym("PORTB"));
        op(kPha);
        op(kOraImmediate, num(0x02));
        op(kStaAbsolute, sym("PORTB"));
        op(kJsr, sym("RAMTEST"));
        op(kBeq, sym("BASICOFF"));
        op(kPla);
        op(kStaAbsolute, sym("PORTB"));
        op(kJmp, sym("NORAM"));
        label("BASICOFF");
        op(kPla);
        op(kLdaImmediate, num(0x01));
        op(kStaAbsolute, sym("BASICF"));
        comment("; no display while the rest loads, over the screen editor's memory too");
        label("LOADON");
        op(kLdaImmediate, num(0x00));
        op(kStaAbsolute, sym("DMACTLS"));
        op(kStaAbsolute, sym("DMACTL"));
        op(kRts);

        comment("; a cartridge: say so, wait for a key, close the loader's channel, back to DOS");
        label("NORAM");
        int length = 1;
        for (const char *line : kMessage)
            length += static_cast<int>(std::strlen(line)) + 1;
        op(kLdaImmediate, num(kPutCharacters));
        op(kStaAbsolute, sym("ICCOM"));
        op(kLdaImmediate, low("MESSAGE"));
        op(kStaAbsolute, sym("ICBAL"));
        op(kLdaImmediate, high("MESSAGE"));
        op(kStaAbsolute, sym("ICBAH"));
        op(kLdaImmediate, num(length & 0xFF));
        op(kStaAbsolute, sym("ICBLL"));
        op(kLdaImmediate, num(length >> 8));
        op(kStaAbsolute, sym("ICBLH"));
        op(kLdxImmediate, num(0x00));
        op(kJsr, sym("CIOV"));
        op(kLdaImmediate, num(0xFF));
        op(kStaAbsolute, sym("CH"));
        label("WAITKEY");
        op(kLdaAbsolute, sym("CH"));
        op(kCmpImmediate, num(0xFF));
        op(kBeq, sym("WAITKEY"));
        op(kLdaImmediate, num(0xFF));
        op(kStaAbsolute, sym("CH"));
        op(kLdaImmediate, num(kClose));
        op(kStaAbsolute, sym("ICCOM", kLoaderChannel));
        op(kLdxImmediate, num(kLoaderChannel));
        op(kJsr, sym("CIOV"));
        op(kJmpIndirect, sym("DOSVEC"));

        comment("; Z set when $A000 and $BFFF hold what is written there");
        label("RAMTEST");
        for (int address : {int(TwoFrameProgram::kBasicRomStart), int(TwoFrameProgram::kHighest)}) {
            op(kLdaAbsolute, num(address));
            op(kEorImmediate, num(0xFF));
            op(kStaAbsolute, num(address));
            op(kCmpAbsolute, num(address));
            op(kPhp);
            op(kEorImmediate, num(0xFF));
            op(kStaAbsolute, num(address));
            op(kPlp);
            if (address == TwoFrameProgram::kBasicRomStart)
                op(kBne, sym("RAMEND"));
        }
        label("RAMEND");
        op(kRts);

        label("MESSAGE");
        Statement eol(Statement::Bytes);
        eol.bytes = {kEndOfLine};
        add(eol);
        for (const char *line : kMessage) {
            Statement text(Statement::Text);
            text.text = line;
            add(text);
        }
        blank();
        Statement ini(Statement::Ini);
        ini.arg = sym("CHECK");
        add(ini);
        blank();
    }

    void displayList(int f)
    {
        const std::string name = f == 0 ? "DLISTA" : "DLISTB";
        org(TwoFrameProgram::kDisplayList[f]);
        label(name);
        for (int row = 0; row < kSourceHeight; ++row) {
            Statement entry(Statement::DisplayListEntry);
            entry.bytes = {kAnticMode9Lms};
            entry.arg = num(TwoFrameProgram::screenRow(f, row));
            add(entry);
        }
        Statement jump(Statement::DisplayListEntry);
        jump.bytes = {kAnticJumpVbl};
        jump.arg = sym(name.c_str());
        add(jump);
        blank();
    }

    void setUp()
    {
        org(TwoFrameProgram::kSetUp);
        label("MAIN");
        op(kLdaImmediate, num(0x00));
        op(kStaAbsolute, sym("DMACTLS"));
        op(kLdaImmediate, num(0x40));
        op(kStaAbsolute, sym("GTICTLS"));
        op(kLdaImmediate, low("DLISTA"));
        op(kStaAbsolute, sym("DLPTRS"));
        op(kLdaImmediate, high("DLISTA"));
        op(kStaAbsolute, sym("DLPTRS", 1));
        op(kLdaImmediate, num(0x00));
        for (const char *shadow : {"COLPM0S", "COLPM1S", "COLPM2S", "COLPM3S", "COLPF0S", "COLPF1S",
                                   "COLPF2S", "COLPF3S", "COLBAKS"})
            op(kStaAbsolute, sym(shadow));
        op(kLdaImmediate, num(0xFF));
        op(kStaAbsolute, sym("GRAFP0"));
        op(kStaAbsolute, sym("GRAFP1"));
        op(kLdaImmediate, num(0x03));
        op(kStaAbsolute, sym("SIZEP0"));
        op(kStaAbsolute, sym("SIZEP1"));
        op(kLdaImmediate, num(0x10));
        op(kStaAbsolute, sym("HPOSP0"));
        op(kLdaImmediate, num(0xD0));
        op(kStaAbsolute, sym("HPOSP1"));
        comment("; the kernels store black through (ZCOLBAK),y with A = 0 and Y = 0");
        op(kLdaImmediate, low("COLBAK"));
        op(kStaZeroPage, sym("ZCOLBAK"));
        op(kLdaImmediate, high("COLBAK"));
        op(kStaZeroPage, sym("ZCOLBAK", 1));
        op(kLdyImmediate, num(0x00));
        op(kLdaImmediate, num(0x22));
        op(kStaAbsolute, sym("DMACTLS"));
        op(kJmp, sym("FRAMEA"));
        comment("; jsr WAITn takes n cycles in all");
        label("WAIT18");
        op(kNop);
        label("WAIT16");
        op(kNop);
        label("WAIT14");
        op(kNop);
        label("WAIT12");
        op(kRts);
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
            Statement line(Statement::Bytes);
            for (int k = 0; k < kBytesPerRow; ++k) {
                const quint8 left = output ? output[row * kAtariWidth + 2 * k] : 0;
                const quint8 right = output ? output[row * kAtariWidth + 2 * k + 1] : 0;
                line.bytes.push_back(static_cast<quint8>(((left & 0x0F) << 4) | (right & 0x0F)));
            }
            add(line);
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
        op(kLdaAbsolute, sym("VCOUNT"));
        op(kCmpImmediate, num(0x02));
        op(kBne, sym(name));
        op(kLdaImmediate, low(list));
        op(kStaAbsolute, sym("DLISTL"));
        op(kStaAbsolute, sym("DLPTRS"));
        op(kLdaImmediate, high(list));
        op(kStaAbsolute, sym("DLISTH"));
        op(kStaAbsolute, sym("DLPTRS", 1));
        op(kLdaImmediate, num(0x00));
        op(kStaAbsolute, sym("COLBAK"));
        repeat(kFrameSyncWsyncs, kStaAbsolute, sym("WSYNC"));
        kernelBegin[f] = statements.size();
        op(kBitZeroPage, num(0x00));
        op(kJsr, sym("WAIT16"));
        for (int pair = 0; pair < kLinePairs; ++pair) {
            if (pair > 0)
                op(kJsr, sym("WAIT18"));
            for (int s = 0; s < kSegmentsPerPair; ++s) {
                if (s == kSegmentsFirstLine) {
                    blackWrite();
                    op(kJsr, sym("WAIT16"));
                }
                hueWrite(pair * kSegmentsPerPair + s, hues);
            }
            blackWrite();
        }
        kernelEnd[f] = statements.size() - 1;
        repeat(kPairTailNops, kNop);
        blackWrite();
        op(kLdaAbsolute, sym("TRIG0"));
        op(kBeq, sym(stop));
        op(kLdaAbsolute, sym("TRIG1"));
        op(kBeq, sym(stop));
        op(kLdaAbsolute, sym("CONSOL"));
        op(kAndImmediate, num(0x01));
        op(kBeq, sym(stop));
        op(kLdaAbsolute, sym("SKCTL"));
        op(kAndImmediate, num(0x04));
        op(kBeq, sym(stop));
        op(kJmp, sym(f == 0 ? "FRAMEB" : "FRAMEA"));
        label(stop);
        op(kRts);
        blank();
    }

    std::size_t labelIndex(const std::string &name) const
    {
        for (std::size_t i = 0; i < statements.size(); ++i) {
            if (statements[i].kind == Statement::Label && statements[i].text == name)
                return i;
        }
        qFatal("unknown label %s", name.c_str());
    }

    void layout()
    {
        int pc = 0;
        for (const Statement &st : statements) {
            if (st.kind == Statement::Org)
                pc = st.address;
            else if (st.kind == Statement::Label)
                symbols[st.text] = pc;
            pc += bytesOf(st);
        }
    }
};

QString hex(int value, int digits)
{
    return QStringLiteral("$%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString operandText(const Statement &st)
{
    const Arg &a = st.arg;
    QString text;
    if (a.symbol.empty()) {
        const bool wide = st.op->mode == Mode::Absolute || st.op->mode == Mode::Indirect;
        text = hex(a.number, wide ? 4 : 2);
    } else {
        if (a.part)
            text += QLatin1Char(a.part);
        text += QString::fromStdString(a.symbol);
        if (a.number)
            text += QLatin1Char('+') + QString::number(a.number);
    }
    switch (st.op->mode) {
    case Mode::Implied:
        return QString();
    case Mode::Immediate:
        return QLatin1Char('#') + text;
    case Mode::IndirectY:
        return QLatin1Char('(') + text + QStringLiteral("),y");
    case Mode::Indirect:
        return QLatin1Char('(') + text + QLatin1Char(')');
    default:
        return text;
    }
}

void write(QTextStream &out, const Program &program)
{
    const char *indent = "    ";
    for (const Statement &st : program.statements) {
        switch (st.kind) {
        case Statement::Blank:
            break;
        case Statement::Equates:
            for (const auto &e : kEquates)
                out << QString::fromLatin1(e.first).leftJustified(7) << " = " << hex(e.second, 4) << '\n';
            continue;
        case Statement::Comment:
        case Statement::Label:
            out << QString::fromStdString(st.text);
            break;
        case Statement::Instruction: {
            out << indent << st.op->mnemonic;
            const QString operand = operandText(st);
            if (!operand.isEmpty())
                out << ' ' << operand;
            break;
        }
        case Statement::Bytes:
            out << indent << "dta ";
            for (std::size_t i = 0; i < st.bytes.size(); ++i)
                out << (i ? ", " : "") << hex(st.bytes[i], 2);
            break;
        case Statement::DisplayListEntry:
            out << indent << "dta " << hex(st.bytes[0], 2) << ",a("
                << (st.arg.symbol.empty() ? hex(st.arg.number, 4) : QString::fromStdString(st.arg.symbol)) << ')';
            break;
        case Statement::Text:
            out << indent << "dta c'" << QString::fromStdString(st.text) << "'," << hex(kEndOfLine, 2);
            break;
        case Statement::Org:
            out << indent << "org " << hex(st.address, 4);
            break;
        case Statement::Ini:
            out << indent << "ini " << QString::fromStdString(st.arg.symbol);
            break;
        case Statement::Run:
            out << indent << "run " << QString::fromStdString(st.arg.symbol);
            break;
        }
        out << '\n';
    }
}

class Assembler
{
public:
    explicit Assembler(const Program &program)
    {
        file = {0xFF, 0xFF};
        int pc = 0;
        for (const Statement &st : program.statements) {
            switch (st.kind) {
            case Statement::Org:
                // A segment that goes on where the last one ended is the same segment.
                if (segmentHead == 0 || st.address != pc)
                    startSegment(st.address);
                pc = st.address;
                break;
            case Statement::Ini:
            case Statement::Run:
                startSegment(st.kind == Statement::Ini ? kInitAddressVector : kRunAddressVector);
                word(program.value(st.arg));
                break;
            case Statement::Instruction:
                byte(st.op->code);
                if (st.op->mode == Mode::Relative)
                    byte((program.value(st.arg) - (pc + 2)) & 0xFF);
                else if (operandBytes(st.op->mode) == 1)
                    byte(program.value(st.arg));
                else if (operandBytes(st.op->mode) == 2)
                    word(program.value(st.arg));
                break;
            case Statement::Bytes:
                for (quint8 b : st.bytes)
                    byte(b);
                break;
            case Statement::DisplayListEntry:
                byte(st.bytes[0]);
                word(program.value(st.arg));
                break;
            case Statement::Text:
                for (char c : st.text)
                    byte(static_cast<quint8>(c));
                byte(kEndOfLine);
                break;
            default:
                break;
            }
            pc += program.bytesOf(st);
        }
        endSegment();
    }

    std::vector<quint8> file;

private:
    std::size_t segmentHead = 0; // file offset of the open segment's head, 0 when none is open

    void byte(int value) { file.push_back(static_cast<quint8>(value)); }
    void word(int value)
    {
        byte(value & 0xFF);
        byte((value >> 8) & 0xFF);
    }
    void startSegment(int start)
    {
        endSegment();
        segmentHead = file.size();
        word(start);
        word(0); // the end, filled in when the segment ends
    }
    void endSegment()
    {
        if (segmentHead == 0)
            return;
        const std::size_t length = file.size() - segmentHead - 4;
        if (length == 0) {
            file.resize(segmentHead);
        } else {
            const int end = (file[segmentHead] | file[segmentHead + 1] << 8) + static_cast<int>(length) - 1;
            file[segmentHead + 2] = static_cast<quint8>(end & 0xFF);
            file[segmentHead + 3] = static_cast<quint8>(end >> 8);
        }
        segmentHead = 0;
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
    write(out, Program(output, hues));
}

std::vector<quint8> executable(const quint8 *outputA, const quint8 *huesA, const quint8 *outputB,
                               const quint8 *huesB)
{
    const quint8 *output[2] = {outputA, outputB};
    const quint8 *hues[2] = {huesA, huesB};
    std::vector<quint8> file = Assembler(Program(output, hues)).file;
    Q_ASSERT(file.size() == std::size_t(kXexSize));
    return file;
}

std::vector<AtariProgram::KernelStep> kernelSteps(int frame)
{
    const quint8 *none[2] = {nullptr, nullptr};
    const Program program(none, none);
    std::vector<AtariProgram::KernelStep> steps;
    for (std::size_t i = program.kernelBegin[frame]; i <= program.kernelEnd[frame]; ++i) {
        const Statement &st = program.statements[i];
        if (st.kind != Statement::Instruction)
            continue;
        const int cycles = program.cycles(st);
        if (st.hueIndex >= 0)
            steps.push_back({cycles, cycles, st.hueIndex, 0});
        else if (st.blackStore)
            steps.push_back({cycles, cycles, -1, 0});
        else
            steps.push_back({cycles, 0, -1, 0});
    }
    return steps;
}

} // namespace TwoFrameProgram
