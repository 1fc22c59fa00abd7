#ifndef ASSEMBLY_H
#define ASSEMBLY_H

#include <QtGlobal>

#include <map>
#include <string>
#include <vector>

class QTextStream;

// 6502 programs described once, as a sequence of statements: the same description writes the
// MADS source, assembles the Atari binary load file and counts the CPU cycles. Both display
// programs (one frame, two frames) are built from it.
namespace Assembly {

// Addressing modes of the instructions the programs use.
enum class Mode { Implied, Immediate, ZeroPage, Absolute, IndirectY, Indirect, Relative };

struct Opcode
{
    const char *mnemonic;
    Mode mode;
    quint8 code;
    int cycles; // without page crossings; branches as not taken; jsr without the routine
};

// The instructions the programs use, from the 6502 data sheet.
namespace Op {
inline constexpr Opcode LdaImmediate{"lda", Mode::Immediate, 0xA9, 2};
inline constexpr Opcode LdaZeroPage{"lda", Mode::ZeroPage, 0xA5, 3};
inline constexpr Opcode LdaAbsolute{"lda", Mode::Absolute, 0xAD, 4};
inline constexpr Opcode LdxImmediate{"ldx", Mode::Immediate, 0xA2, 2};
inline constexpr Opcode LdyImmediate{"ldy", Mode::Immediate, 0xA0, 2};
inline constexpr Opcode StaZeroPage{"sta", Mode::ZeroPage, 0x85, 3};
inline constexpr Opcode StaAbsolute{"sta", Mode::Absolute, 0x8D, 4};
inline constexpr Opcode StaIndirectY{"sta", Mode::IndirectY, 0x91, 6};
inline constexpr Opcode StxAbsolute{"stx", Mode::Absolute, 0x8E, 4};
inline constexpr Opcode CmpImmediate{"cmp", Mode::Immediate, 0xC9, 2};
inline constexpr Opcode CmpAbsolute{"cmp", Mode::Absolute, 0xCD, 4};
inline constexpr Opcode AndImmediate{"and", Mode::Immediate, 0x29, 2};
inline constexpr Opcode OraImmediate{"ora", Mode::Immediate, 0x09, 2};
inline constexpr Opcode EorImmediate{"eor", Mode::Immediate, 0x49, 2};
inline constexpr Opcode BitZeroPage{"bit", Mode::ZeroPage, 0x24, 3};
inline constexpr Opcode Bne{"bne", Mode::Relative, 0xD0, 2};
inline constexpr Opcode Beq{"beq", Mode::Relative, 0xF0, 2};
inline constexpr Opcode Jmp{"jmp", Mode::Absolute, 0x4C, 3};
inline constexpr Opcode JmpIndirect{"jmp", Mode::Indirect, 0x6C, 5};
inline constexpr Opcode Jsr{"jsr", Mode::Absolute, 0x20, 6};
inline constexpr Opcode Rts{"rts", Mode::Implied, 0x60, 6};
inline constexpr Opcode Nop{"nop", Mode::Implied, 0xEA, 2};
inline constexpr Opcode Pha{"pha", Mode::Implied, 0x48, 3};
inline constexpr Opcode Pla{"pla", Mode::Implied, 0x68, 4};
inline constexpr Opcode Php{"php", Mode::Implied, 0x08, 3};
inline constexpr Opcode Plp{"plp", Mode::Implied, 0x28, 4};
} // namespace Op

// An operand: a number, or a symbol plus an offset, or the low or high byte of a symbol.
struct Operand
{
    std::string symbol;
    int number = 0;       // the value, or the offset added to the symbol
    char part = 0;        // '<' low byte or '>' high byte of the symbol's value
    bool decimal = false; // a number the source writes in decimal, not "$hex"
};

Operand number(int value);              // written $hh or $hhhh
Operand decimal(int value);             // written in decimal
Operand symbol(const std::string &name, int offset = 0);
Operand low(const std::string &name);   // <name
Operand high(const std::string &name);  // >name

// How the source writes an operand: a number as $hh (digits 2) or $hhhh (digits 4), or decimal.
std::string operandText(const Operand &operand, int digits);

// One machine instruction. A store to the background colour register says what it stores, so
// that the kernel's timing can be followed.
struct Instruction
{
    const Opcode *opcode;
    Operand operand;
    int hueIndex = -1; // stores this entry of the frame's hue table
    int colour = -1;   // stores this constant colour
};

// One item of a dta line: a byte, a word a(...), or characters c'...'.
struct Item
{
    enum Kind { Byte, Word, Characters };
    Kind kind;
    Operand value;
    std::string text; // Characters
};

// One line of the source.
struct Statement
{
    enum Kind {
        Text,    // a comment, a blank line or a directive that makes no bytes: name
        Equate,  // name = $hhhh and its terminator
        Label,   // name, at the current address
        Org,     // "org $hhhh": value
        Align,   // ".ALIGN $hhhh": the next multiple of value
        Init,    // "ini name": runs name as soon as it is loaded
        Run,     // "run name": the run address
        Code,    // instructions: one per line, or written as spelling (a macro) on one line
        Data,    // "dta items", or written as spelling
    };
    Kind kind = Text;
    std::string name;
    int value = 0;
    std::string terminator;         // Equate
    std::string label;              // Code, Data: a label that starts the line
    std::vector<Instruction> code;
    std::vector<Item> data;
    bool tight = false;             // Data: items separated by "," rather than ", "
    std::string spelling;           // Code, Data: the line as written, when not item by item
};

// One statement of a display kernel as the CPU runs it.
struct KernelStep
{
    int cycles;      // CPU cycles the instruction takes
    int storeCycle;  // 1-based cycle of its store to COLBAK within those, 0 if it stores none
    int hueIndex;    // hue table entry it stores (0 to 1559), or -1 for the constant below
    quint8 value;    // the colour it stores when hueIndex is -1 (black is 0)
};

class Program
{
public:
    // Builders. code() and data() return the statement for further details.
    void text(const std::string &line);
    void equate(const std::string &name, int value, const std::string &terminator = std::string());
    void label(const std::string &name);
    void org(int address);
    void align(int boundary);
    void init(const std::string &name);
    void run(const std::string &name);
    Statement &code(const Opcode &opcode, const Operand &operand = Operand());
    Statement &data();

    std::size_t size() const { return statements.size(); }
    const std::vector<Statement> &all() const { return statements; }

    // Writes the source, one line per statement (an unspelled Code statement one per instruction).
    void write(QTextStream &out) const;

    // The binary load file: $FFFF, then the segments in source order. A segment that goes on
    // where the last one ended is the same segment; ini and run make segments of their own.
    std::vector<quint8> binary() const;

    // The value of a symbol once the program is complete.
    int symbolValue(const std::string &name) const;

    // First address after the last byte.
    int end() const;

    // CPU cycles of an instruction; a jsr counts the routine it calls up to its rts.
    int cycles(const Instruction &instruction) const;

    // The instructions of statements [begin, end) as the CPU runs them.
    std::vector<KernelStep> steps(std::size_t begin, std::size_t end) const;

private:
    Statement &add(Statement::Kind kind, const std::string &name = std::string(), int value = 0);

    struct Layout
    {
        std::map<std::string, int> symbols;
        std::vector<int> addresses; // of each statement
        int end = 0;
    };
    const Layout &layout() const;
    int value(const Operand &operand) const;
    static int bytesOf(const Statement &statement);

    std::vector<Statement> statements;
    mutable Layout laid;
    mutable bool laidOut = false;
};

} // namespace Assembly

#endif
