#include "atariprogram.h"

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
constexpr int kEquateNameWidth = 7;
// The one equate written without its trailing semicolon.
constexpr const char *kEquateWithoutSemicolon = "WSYNC";

// Memory layout: the picture follows 16 zero bytes at the origin; its rows are split in two
// blocks so that no row crosses the 4 KB boundary ANTIC cannot scan across.
constexpr quint16 kOrigin = 0x2000;
constexpr int kLeadingZeros = 16;
constexpr quint16 kPicture = kOrigin + kLeadingZeros;
constexpr quint16 kDisplayListAlign = 0x0400;

struct PictureBlock
{
    int rows;
    quint16 offset; // from PICTURE to the block's first row
};
constexpr PictureBlock kPictureBlocks[] = {{204, 0x0000}, {36, 0x1FF0}};
constexpr int kGapBytes = kPictureBlocks[1].offset - kPictureBlocks[0].rows * kBytesPerRow;
static_assert(kPictureBlocks[0].rows + kPictureBlocks[1].rows == kSourceHeight, "every row is displayed");
static_assert(kGapBytes == 16, "row 204 starts on a 4 KB boundary");
constexpr int kPictureEnd = kPicture + kPictureBlocks[1].offset + kPictureBlocks[1].rows * kBytesPerRow;
// The display list (ANT) starts at the first aligned address after the picture.
constexpr quint16 kDisplayList = (kPictureEnd + kDisplayListAlign - 1) / kDisplayListAlign * kDisplayListAlign;

constexpr quint8 kAnticMode9Lms = 0x4F;   // mode F with load memory scan
constexpr quint8 kAnticJumpVbl = 0x41;    // jump and wait for vertical blank
constexpr int kDisplayListSize = 3 * kSourceHeight + 3;

// Kernel timing: nops that keep every line pair exactly 124 cycles long.
constexpr int kFrameSyncWsyncs = 4;
constexpr int kLeadInNops = 8;
constexpr int kPairLeadNops = 6;
constexpr int kMidPairNops = 8;
constexpr int kPairTailNops = 3;

// One line of the set-up code or the kernel, and its machine code.
enum class Op {
    Label,      // symbol:                    no bytes
    Poke,       // poke(symbol,operand):      A9 vv 8D lo hi
    PokeLow,    // mva <operand symbol:       A9 <operand 8D lo hi
    PokeHigh,   // mva >operand symbol+1:     A9 >operand 8D lo+1 hi
    Colour,     // pc(operand):               A9 vv 8D (COLBAK)
    HueWrite,   // pc(hue of the next run):   A9 hh 8D (COLBAK)
    Nop,        //                            EA
    Sta,        // sta symbol:                8D lo hi
    Lda,        // lda symbol:                AD lo hi
    LdaZero,    // lda operand (zero page):   A5 vv
    Cmp,        // cmp operand (#vv):         C9 vv
    And,        // and operand (#vv):         29 vv
    Bne,        // bne symbol:                D0 rr
    Beq,        // beq symbol:                F0 rr
    Jmp,        // jmp symbol:                4C lo hi
    Rts,        //                            60
};

struct Statement
{
    Op op;
    const char *symbol = nullptr;
    const char *operand = nullptr;
};

// Machine code bytes and CPU cycles of a statement; branches as not taken.
struct Cost
{
    int bytes;
    int cycles;
};

Cost costOf(Op op)
{
    switch (op) {
    case Op::Label:
        return {0, 0};
    case Op::Poke:
    case Op::PokeLow:
    case Op::PokeHigh:
    case Op::Colour:
    case Op::HueWrite:
        return {5, 6}; // lda #, sta absolute
    case Op::Nop:
        return {1, 2};
    case Op::Sta:
    case Op::Lda:
        return {3, 4};
    case Op::LdaZero:
        return {2, 3};
    case Op::Cmp:
    case Op::And:
    case Op::Bne:
    case Op::Beq:
        return {2, 2};
    case Op::Jmp:
        return {3, 3};
    case Op::Rts:
        return {1, 6};
    }
    return {0, 0};
}

// The set-up code from MAIN and the display kernel from LOOP, in program order.
const std::vector<Statement> &program()
{
    static const std::vector<Statement> statements = [] {
        std::vector<Statement> s;
        auto repeat = [&s](int count, Statement st) { s.insert(s.end(), count, st); };

        s.push_back({Op::Label, "MAIN"});
        s.push_back({Op::Poke, "DMACTLS", "0"});
        s.push_back({Op::Poke, "GTICTLS", "$40"});
        s.push_back({Op::PokeLow, "DLPTRS", "ANT"});
        s.push_back({Op::PokeHigh, "DLPTRS", "ANT"});
        for (const char *shadow : {"COLPM0S", "COLPM1S", "COLPM2S", "COLPM3S", "COLPF0S", "COLPF1S",
                                   "COLPF2S", "COLPF3S", "COLBAKS"})
            s.push_back({Op::Poke, shadow, "$00"});
        s.push_back({Op::Poke, "GRAFP0", "$FF"});
        s.push_back({Op::Poke, "GRAFP1", "$FF"});
        s.push_back({Op::Poke, "SIZEP0", "$03"});
        s.push_back({Op::Poke, "SIZEP1", "$03"});
        s.push_back({Op::Poke, "HPOSP0", "$10"});
        s.push_back({Op::Poke, "HPOSP1", "$D0"});
        s.push_back({Op::Poke, "DMACTLS", "$22"});

        const Statement black{Op::Colour, nullptr, "$00"};
        const Statement nop{Op::Nop};
        s.push_back({Op::Label, "LOOP"});
        s.push_back({Op::Lda, "VCOUNT"});
        s.push_back({Op::Cmp, nullptr, "#$02"});
        s.push_back({Op::Bne, "LOOP"});
        s.push_back(black);
        repeat(kFrameSyncWsyncs, {Op::Sta, "WSYNC"});
        s.push_back({Op::LdaZero, nullptr, "0"});
        repeat(kLeadInNops, nop);

        for (int pair = 0; pair < kLinePairs; ++pair) {
            if (pair > 0)
                repeat(kPairLeadNops, nop);
            repeat(kSegmentsFirstLine, {Op::HueWrite});
            s.push_back(black);
            repeat(kMidPairNops, nop);
            repeat(kSegmentsPerPair - kSegmentsFirstLine, {Op::HueWrite});
            s.push_back(black);
            repeat(kPairTailNops, nop);
        }

        s.push_back(black);
        s.push_back({Op::Lda, "TRIG0"});
        s.push_back({Op::Beq, "STOP"});
        s.push_back({Op::Lda, "TRIG1"});
        s.push_back({Op::Beq, "STOP"});
        s.push_back({Op::Lda, "CONSOL"});
        s.push_back({Op::And, nullptr, "#1"});
        s.push_back({Op::Beq, "STOP"});
        s.push_back({Op::Lda, "SKCTL"});
        s.push_back({Op::And, nullptr, "#$04"});
        s.push_back({Op::Beq, "STOP"});
        s.push_back({Op::Jmp, "LOOP"});
        s.push_back({Op::Label, "STOP"});
        s.push_back({Op::Rts});
        return s;
    }();
    return statements;
}

// A number as the source writes it: "12", "$0C", "#12" or "#$0C".
quint16 numberValue(const char *text)
{
    if (*text == '#')
        ++text;
    if (*text == '$')
        return static_cast<quint16>(std::strtoul(text + 1, nullptr, 16));
    return static_cast<quint16>(std::strtoul(text, nullptr, 10));
}

// Addresses of the equates and of the program's labels.
class Symbols
{
public:
    Symbols()
    {
        for (const Equate &e : kEquates)
            add(e.name, e.address);
        add("PICTURE", kPicture);
        add("ANT", kDisplayList);
        int address = kDisplayList + kDisplayListSize;
        for (const Statement &st : program()) {
            if (st.op == Op::Label)
                add(st.symbol, static_cast<quint16>(address));
            address += costOf(st.op).bytes;
        }
        end = static_cast<quint16>(address);
    }

    quint16 operator[](const char *name) const
    {
        for (const auto &entry : table) {
            if (std::strcmp(entry.first, name) == 0)
                return entry.second;
        }
        qFatal("unknown symbol %s", name);
    }

    quint16 end; // first address after the program

private:
    void add(const char *name, quint16 address) { table.emplace_back(name, address); }
    std::vector<std::pair<const char *, quint16>> table;
};

class ByteWriter
{
public:
    void byte(int value) { bytes.push_back(static_cast<quint8>(value)); }
    void word(int value)
    {
        byte(value & 0xFF);
        byte((value >> 8) & 0xFF);
    }
    void segmentHead(int start, int end)
    {
        word(start);
        word(end);
    }
    int size() const { return static_cast<int>(bytes.size()); }
    std::vector<quint8> bytes;
};

void assemble(const Statement &st, int address, const Symbols &symbols, ByteWriter &w)
{
    const auto store = [&](int value, int target) {
        w.byte(0xA9);
        w.byte(value);
        w.byte(0x8D);
        w.word(target);
    };
    const auto branch = [&](int opcode) {
        w.byte(opcode);
        w.byte((symbols[st.symbol] - (address + 2)) & 0xFF);
    };
    switch (st.op) {
    case Op::Label:
        break;
    case Op::Poke:
        store(numberValue(st.operand), symbols[st.symbol]);
        break;
    case Op::PokeLow:
        store(symbols[st.operand] & 0xFF, symbols[st.symbol]);
        break;
    case Op::PokeHigh:
        store(symbols[st.operand] >> 8, symbols[st.symbol] + 1);
        break;
    case Op::Colour:
        store(numberValue(st.operand), symbols["COLBAK"]);
        break;
    case Op::HueWrite:
        store(AtariProgram::kHuePlaceholder, symbols["COLBAK"]);
        break;
    case Op::Nop:
        w.byte(0xEA);
        break;
    case Op::Sta:
        w.byte(0x8D);
        w.word(symbols[st.symbol]);
        break;
    case Op::Lda:
        w.byte(0xAD);
        w.word(symbols[st.symbol]);
        break;
    case Op::LdaZero:
        w.byte(0xA5);
        w.byte(numberValue(st.operand));
        break;
    case Op::Cmp:
        w.byte(0xC9);
        w.byte(numberValue(st.operand));
        break;
    case Op::And:
        w.byte(0x29);
        w.byte(numberValue(st.operand));
        break;
    case Op::Bne:
        branch(0xD0);
        break;
    case Op::Beq:
        branch(0xF0);
        break;
    case Op::Jmp:
        w.byte(0x4C);
        w.word(symbols[st.symbol]);
        break;
    case Op::Rts:
        w.byte(0x60);
        break;
    }
}

std::array<quint8, AtariProgram::kXexSize> buildTemplate()
{
    const Symbols symbols;
    ByteWriter w;
    w.word(0xFFFF);

    w.segmentHead(0x02E0, 0x02E1); // run address
    w.word(symbols["MAIN"]);

    w.segmentHead(kOrigin, kPictureEnd - 1);
    for (int i = 0; i < kLeadingZeros; ++i)
        w.byte(0);
    Q_ASSERT(w.size() == AtariProgram::kPictureScanStart);
    for (const PictureBlock &block : kPictureBlocks) {
        if (&block != kPictureBlocks)
            for (int i = 0; i < kGapBytes; ++i)
                w.byte(0);
        for (int i = 0; i < block.rows * kBytesPerRow; ++i)
            w.byte(AtariProgram::kPicturePlaceholder);
    }

    const int ant = symbols["ANT"];
    w.segmentHead(ant, symbols.end - 1);
    for (const PictureBlock &block : kPictureBlocks) {
        for (int row = 0; row < block.rows; ++row) {
            w.byte(kAnticMode9Lms);
            w.word(kPicture + block.offset + row * kBytesPerRow);
        }
    }
    w.byte(kAnticJumpVbl);
    w.word(ant);

    int address = ant + kDisplayListSize;
    for (const Statement &st : program()) {
        assemble(st, address, symbols, w);
        address += costOf(st.op).bytes;
    }

    Q_ASSERT(w.size() == AtariProgram::kXexSize);
    std::array<quint8, AtariProgram::kXexSize> xex{};
    std::copy(w.bytes.begin(), w.bytes.begin() + std::min<int>(w.size(), AtariProgram::kXexSize), xex.begin());
    return xex;
}

QString hex4(int value)
{
    return QStringLiteral("$%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

void writeStatement(QTextStream &out, const Statement &st, const std::function<const char *()> &hueText)
{
    const char *indent = "    ";
    switch (st.op) {
    case Op::Label:
        out << st.symbol;
        break;
    case Op::Poke:
        out << indent << "poke(" << st.symbol << ',' << st.operand << ')';
        break;
    case Op::PokeLow:
        out << indent << "mva <" << st.operand << ' ' << st.symbol;
        break;
    case Op::PokeHigh:
        out << indent << "mva >" << st.operand << ' ' << st.symbol << "+1";
        break;
    case Op::Colour:
        out << indent << "pc(" << st.operand << ')';
        break;
    case Op::HueWrite:
        out << indent << "pc(" << hueText() << ')';
        break;
    case Op::Nop:
        out << indent << "nop";
        break;
    case Op::Sta:
        out << indent << "sta " << st.symbol;
        break;
    case Op::Lda:
        out << indent << "lda " << st.symbol;
        break;
    case Op::LdaZero:
        out << indent << "lda " << st.operand;
        break;
    case Op::Cmp:
        out << indent << "cmp " << st.operand;
        break;
    case Op::And:
        out << indent << "and " << st.operand;
        break;
    case Op::Bne:
        out << indent << "bne " << st.symbol;
        break;
    case Op::Beq:
        out << indent << "beq " << st.symbol;
        break;
    case Op::Jmp:
        out << indent << "jmp " << st.symbol;
        break;
    case Op::Rts:
        out << indent << "rts";
        break;
    }
    out << '\n';
}

void writePictureRow(QTextStream &out, const quint8 *row)
{
    static const char digits[] = "0123456789ABCDEF";
    out << "    dta ";
    for (int k = 0; k < kBytesPerRow; ++k) {
        if (k > 0)
            out << ", ";
        out << '$' << digits[row[2 * k] & 0x0F] << digits[row[2 * k + 1] & 0x0F];
    }
    out << '\n';
}

} // namespace

namespace AtariProgram {

const std::array<quint8, kXexSize> &basexex()
{
    static const std::array<quint8, kXexSize> xex = buildTemplate();
    return xex;
}

void writeSource(QTextStream &out, const quint8 *outputBytes, const std::function<const char *()> &hueText)
{
    out << ";\n"
        << "; Rastrel Zo9\n"
        << "; A photograph in GTIA mode 9 with a hue per run, converted by Rastrel Zo9\n"
        << ";\n"
        << '\n';
    for (const Equate &e : kEquates) {
        out << QString::fromLatin1(e.name).leftJustified(kEquateNameWidth) << " = " << hex4(e.address);
        if (std::strcmp(e.name, kEquateWithoutSemicolon) != 0)
            out << ';';
        out << '\n';
    }
    out << '\n'
        << ".define poke mva #%%2 %%1\n"
        << ".define pc mva #%%1 COLBAK\n"
        << '\n'
        << "    org " << hex4(kOrigin) << '\n'
        << "    run MAIN\n"
        << '\n'
        << "    :" << kLeadingZeros << " .byte 0\n"
        << "PICTURE\n";

    int row = 0;
    for (const PictureBlock &block : kPictureBlocks) {
        if (row > 0)
            out << "    :" << kGapBytes << " .byte 0\n";
        for (int i = 0; i < block.rows; ++i, ++row)
            writePictureRow(out, outputBytes + row * kAtariWidth);
    }

    out << ".ALIGN " << hex4(kDisplayListAlign) << '\n'
        << "ANT ANTIC_PROGRAM PICTURE,ANT\n"
        << '\n'
        << ".MACRO ANTIC_PROGRAM\n";
    for (const PictureBlock &block : kPictureBlocks)
        out << "    :+" << block.rows << " dta $" << QString::number(kAnticMode9Lms, 16).toUpper() << ",a(:1+"
            << hex4(block.offset) << "+#*" << kBytesPerRow << ")\n";
    out << "    dta $" << QString::number(kAnticJumpVbl, 16).toUpper() << ",a(:2)\n"
        << ".ENDM\n"
        << '\n';

    for (const Statement &st : program())
        writeStatement(out, st, hueText);
    out << '\n';
}

std::vector<KernelStep> kernelSteps()
{
    const std::vector<Statement> &statements = program();
    auto isWsync = [](const Statement &st) { return st.op == Op::Sta && std::strcmp(st.symbol, "WSYNC") == 0; };
    auto lastWsync = std::find_if(statements.rbegin(), statements.rend(), isWsync);
    auto isHueWrite = [](const Statement &st) { return st.op == Op::HueWrite; };
    auto lastHueWrite = std::find_if(statements.rbegin(), statements.rend(), isHueWrite);
    // The kernel ends with the black store that follows the last hue store.
    auto end = std::find_if(lastHueWrite.base(), statements.end(),
                            [](const Statement &st) { return st.op == Op::Colour; });

    std::vector<KernelStep> steps;
    int hueIndex = 0;
    for (auto it = lastWsync.base(); it != statements.end() && it <= end; ++it) {
        const int cycles = costOf(it->op).cycles;
        if (it->op == Op::HueWrite)
            steps.push_back({cycles, cycles, hueIndex++, 0});
        else if (it->op == Op::Colour)
            steps.push_back({cycles, cycles, -1, static_cast<quint8>(numberValue(it->operand))});
        else
            steps.push_back({cycles, 0, -1, 0});
    }
    return steps;
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
