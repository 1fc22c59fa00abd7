#include "assembly.h"

#include <QString>
#include <QTextStream>

namespace Assembly {

namespace {

constexpr int kRunAddressVector = 0x02E0;
constexpr int kInitAddressVector = 0x02E2;
constexpr quint8 kEndOfLine = 0x9B; // ATASCII EOL, ends every c'' item
const char *const kIndent = "    ";
constexpr int kEquateNameWidth = 7;

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

std::string hex(int value, int digits)
{
    return QStringLiteral("$%1").arg(value, digits, 16, QLatin1Char('0')).toUpper().toStdString();
}

std::string instructionText(const Instruction &instruction)
{
    const Mode mode = instruction.opcode->mode;
    std::string text = std::string(kIndent) + instruction.opcode->mnemonic;
    if (mode == Mode::Implied)
        return text;
    const std::string operand =
        operandText(instruction.operand, mode == Mode::Absolute || mode == Mode::Indirect ? 4 : 2);
    switch (mode) {
    case Mode::Immediate:
        return text + " #" + operand;
    case Mode::IndirectY:
        return text + " (" + operand + "),y";
    case Mode::Indirect:
        return text + " (" + operand + ")";
    default:
        return text + ' ' + operand;
    }
}

std::string dataText(const Statement &st)
{
    std::string text = std::string(kIndent) + "dta ";
    for (std::size_t i = 0; i < st.data.size(); ++i) {
        if (i > 0)
            text += st.tight ? "," : ", ";
        const Item &item = st.data[i];
        switch (item.kind) {
        case Item::Byte:
            text += operandText(item.value, 2);
            break;
        case Item::Word:
            text += "a(" + operandText(item.value, 4) + ')';
            break;
        case Item::Characters:
            text += "c'" + item.text + "'," + hex(kEndOfLine, 2);
            break;
        }
    }
    return text;
}

class BinaryWriter
{
public:
    BinaryWriter() { file = {0xFF, 0xFF}; }

    void byte(int pc, int value)
    {
        if (!open)
            start(pc);
        file.push_back(static_cast<quint8>(value));
    }
    void word(int pc, int value)
    {
        byte(pc, value & 0xFF);
        byte(pc + 1, (value >> 8) & 0xFF);
    }
    void vector(int address, int value)
    {
        finish();
        start(address);
        word(address, value);
        finish();
    }
    // The next byte, if any, starts a segment unless it lies at address and one is open there.
    void moveTo(int address, int pc)
    {
        if (address != pc)
            finish();
    }
    void finish()
    {
        if (!open)
            return;
        const int length = static_cast<int>(file.size() - head) - 4;
        const int end = (file[head] | file[head + 1] << 8) + length - 1;
        file[head + 2] = static_cast<quint8>(end & 0xFF);
        file[head + 3] = static_cast<quint8>(end >> 8);
        open = false;
    }

    std::vector<quint8> file;

private:
    void start(int address)
    {
        head = file.size();
        file.push_back(static_cast<quint8>(address & 0xFF));
        file.push_back(static_cast<quint8>(address >> 8));
        file.push_back(0);
        file.push_back(0);
        open = true;
    }

    std::size_t head = 0;
    bool open = false;
};

} // namespace

Operand number(int value)
{
    Operand o;
    o.number = value;
    return o;
}

Operand decimal(int value)
{
    Operand o;
    o.number = value;
    o.decimal = true;
    return o;
}

Operand symbol(const std::string &name, int offset)
{
    Operand o;
    o.symbol = name;
    o.number = offset;
    return o;
}

Operand low(const std::string &name)
{
    Operand o;
    o.symbol = name;
    o.part = '<';
    return o;
}

Operand high(const std::string &name)
{
    Operand o;
    o.symbol = name;
    o.part = '>';
    return o;
}

std::string operandText(const Operand &operand, int digits)
{
    if (operand.symbol.empty())
        return operand.decimal ? std::to_string(operand.number) : hex(operand.number, digits);
    std::string text;
    if (operand.part)
        text += operand.part;
    text += operand.symbol;
    if (operand.number)
        text += '+' + std::to_string(operand.number);
    return text;
}

Statement &Program::add(Statement::Kind kind, const std::string &name, int value)
{
    Statement st;
    st.kind = kind;
    st.name = name;
    st.value = value;
    statements.push_back(st);
    laidOut = false;
    return statements.back();
}

void Program::text(const std::string &line)
{
    add(Statement::Text, line);
}

void Program::equate(const std::string &name, int value, const std::string &terminator)
{
    add(Statement::Equate, name, value).terminator = terminator;
}

void Program::label(const std::string &name)
{
    add(Statement::Label, name);
}

void Program::org(int address)
{
    add(Statement::Org, std::string(), address);
}

void Program::align(int boundary)
{
    add(Statement::Align, std::string(), boundary);
}

void Program::init(const std::string &name)
{
    add(Statement::Init, name);
}

void Program::run(const std::string &name)
{
    add(Statement::Run, name);
}

Statement &Program::code(const Opcode &opcode, const Operand &operand)
{
    Statement &st = add(Statement::Code);
    st.code.push_back({&opcode, operand});
    return st;
}

Statement &Program::data()
{
    return add(Statement::Data);
}

int Program::bytesOf(const Statement &st)
{
    int n = 0;
    if (st.kind == Statement::Code) {
        for (const Instruction &in : st.code)
            n += 1 + operandBytes(in.opcode->mode);
    } else if (st.kind == Statement::Data) {
        for (const Item &item : st.data)
            n += item.kind == Item::Byte ? 1 : item.kind == Item::Word ? 2 : static_cast<int>(item.text.size()) + 1;
    }
    return n;
}

const Program::Layout &Program::layout() const
{
    if (laidOut)
        return laid;
    laid = Layout();
    int pc = 0;
    for (const Statement &st : statements) {
        if (st.kind == Statement::Org)
            pc = st.value;
        else if (st.kind == Statement::Align)
            pc = (pc + st.value - 1) / st.value * st.value;
        else if (st.kind == Statement::Equate)
            laid.symbols[st.name] = st.value;
        else if (st.kind == Statement::Label)
            laid.symbols[st.name] = pc;
        if (!st.label.empty())
            laid.symbols[st.label] = pc;
        laid.addresses.push_back(pc);
        pc += bytesOf(st);
    }
    laid.end = pc;
    laidOut = true;
    return laid;
}

int Program::symbolValue(const std::string &name) const
{
    const Layout &l = layout();
    const auto it = l.symbols.find(name);
    if (it == l.symbols.end())
        qFatal("unknown symbol %s", name.c_str());
    return it->second;
}

int Program::end() const
{
    return layout().end;
}

int Program::value(const Operand &operand) const
{
    if (operand.symbol.empty())
        return operand.number;
    const int v = symbolValue(operand.symbol) + operand.number;
    return operand.part == '<' ? (v & 0xFF) : operand.part == '>' ? ((v >> 8) & 0xFF) : v;
}

void Program::write(QTextStream &out) const
{
    for (const Statement &st : statements) {
        switch (st.kind) {
        case Statement::Text:
        case Statement::Label:
            out << st.name.c_str();
            break;
        case Statement::Equate:
            out << QString::fromStdString(st.name).leftJustified(kEquateNameWidth) << " = " << hex(st.value, 4).c_str()
                << st.terminator.c_str();
            break;
        case Statement::Org:
            out << kIndent << "org " << hex(st.value, 4).c_str();
            break;
        case Statement::Align:
            out << ".ALIGN " << hex(st.value, 4).c_str();
            break;
        case Statement::Init:
            out << kIndent << "ini " << st.name.c_str();
            break;
        case Statement::Run:
            out << kIndent << "run " << st.name.c_str();
            break;
        case Statement::Code:
            if (!st.spelling.empty()) {
                out << st.spelling.c_str();
            } else {
                for (std::size_t i = 0; i < st.code.size(); ++i)
                    out << (i ? "\n" : "") << instructionText(st.code[i]).c_str();
            }
            break;
        case Statement::Data:
            out << (st.spelling.empty() ? dataText(st) : st.spelling).c_str();
            break;
        }
        out << '\n';
    }
}

std::vector<quint8> Program::binary() const
{
    const Layout &l = layout();
    BinaryWriter w;
    int pc = 0;
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const Statement &st = statements[i];
        const int address = l.addresses[i];
        switch (st.kind) {
        case Statement::Org:
        case Statement::Align:
            w.moveTo(address, pc);
            pc = address;
            break;
        case Statement::Init:
        case Statement::Run:
            w.vector(st.kind == Statement::Init ? kInitAddressVector : kRunAddressVector, value(symbol(st.name)));
            break;
        case Statement::Code:
            for (const Instruction &in : st.code) {
                const int at = pc;
                const int v = value(in.operand);
                w.byte(at, in.opcode->code);
                if (in.opcode->mode == Mode::Relative)
                    w.byte(at + 1, (v - (at + 2)) & 0xFF);
                else if (operandBytes(in.opcode->mode) == 1)
                    w.byte(at + 1, v);
                else if (operandBytes(in.opcode->mode) == 2)
                    w.word(at + 1, v);
                pc = at + 1 + operandBytes(in.opcode->mode);
            }
            break;
        case Statement::Data:
            for (const Item &item : st.data) {
                if (item.kind == Item::Byte) {
                    w.byte(pc++, value(item.value));
                } else if (item.kind == Item::Word) {
                    w.word(pc, value(item.value));
                    pc += 2;
                } else {
                    for (char c : item.text)
                        w.byte(pc++, static_cast<quint8>(c));
                    w.byte(pc++, kEndOfLine);
                }
            }
            break;
        default:
            break;
        }
    }
    w.finish();
    return w.file;
}

int Program::cycles(const Instruction &instruction) const
{
    int n = instruction.opcode->cycles;
    if (instruction.opcode->code != Op::Jsr.code)
        return n;
    const int target = value(instruction.operand);
    const Layout &l = layout();
    for (std::size_t i = 0; i < statements.size(); ++i) {
        if (statements[i].kind != Statement::Code || l.addresses[i] < target)
            continue;
        for (; i < statements.size(); ++i) {
            for (const Instruction &in : statements[i].code) {
                n += in.opcode->cycles;
                if (in.opcode->code == Op::Rts.code)
                    return n;
            }
        }
    }
    qFatal("no routine at $%04X", target);
}

std::vector<KernelStep> Program::steps(std::size_t begin, std::size_t end) const
{
    std::vector<KernelStep> result;
    for (std::size_t i = begin; i < end && i < statements.size(); ++i) {
        for (const Instruction &in : statements[i].code) {
            const int c = cycles(in);
            if (in.hueIndex >= 0)
                result.push_back({c, c, in.hueIndex, 0});
            else if (in.colour >= 0)
                result.push_back({c, c, -1, static_cast<quint8>(in.colour)});
            else
                result.push_back({c, 0, -1, 0});
        }
    }
    return result;
}

} // namespace Assembly
