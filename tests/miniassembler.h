#ifndef MINIASSEMBLER_H
#define MINIASSEMBLER_H

#include <QByteArray>
#include <QHash>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVector>

// Evaluates the expressions of the source: numbers ($hex, decimal), symbols, the repeat counter #,
// + - * and the byte selectors < and >.
class Expression
{
public:
    Expression(const QString &text, const QHash<QString, int> &symbols, int counter)
        : s(text.trimmed()), symbols(symbols), counter(counter)
    {
    }

    // False on a syntax error; unknown is set when a symbol is not (yet) defined.
    bool evaluate(int *value, bool *unknown)
    {
        pos = 0;
        ok = true;
        missing = false;
        *value = sum();
        *unknown = missing;
        return ok && pos == s.size();
    }

private:
    QChar peek() const { return pos < s.size() ? s.at(pos) : QChar(); }

    int sum()
    {
        int v = product();
        while (peek() == QLatin1Char('+') || peek() == QLatin1Char('-')) {
            const bool plus = s.at(pos++) == QLatin1Char('+');
            const int w = product();
            v = plus ? v + w : v - w;
        }
        return v;
    }

    int product()
    {
        int v = unary();
        while (peek() == QLatin1Char('*')) {
            ++pos;
            v *= unary();
        }
        return v;
    }

    int unary()
    {
        if (peek() == QLatin1Char('<')) {
            ++pos;
            return unary() & 0xFF;
        }
        if (peek() == QLatin1Char('>')) {
            ++pos;
            return (unary() >> 8) & 0xFF;
        }
        return primary();
    }

    int primary()
    {
        const QChar c = peek();
        int start = pos;
        if (c == QLatin1Char('$')) {
            start = ++pos;
            while (pos < s.size() && QStringLiteral("0123456789ABCDEFabcdef").contains(s.at(pos)))
                ++pos;
            return number(start, 16);
        }
        if (c.isDigit()) {
            while (pos < s.size() && s.at(pos).isDigit())
                ++pos;
            return number(start, 10);
        }
        if (c == QLatin1Char('#')) {
            ++pos;
            return counter;
        }
        if (c == QLatin1Char('(')) {
            ++pos;
            const int v = sum();
            if (peek() != QLatin1Char(')'))
                ok = false;
            ++pos;
            return v;
        }
        if (c.isLetter() || c == QLatin1Char('_')) {
            while (pos < s.size() && (s.at(pos).isLetterOrNumber() || s.at(pos) == QLatin1Char('_')))
                ++pos;
            const QString name = s.mid(start, pos - start);
            if (!symbols.contains(name)) {
                missing = true;
                return 0;
            }
            return symbols.value(name);
        }
        ok = false;
        return 0;
    }

    int number(int start, int base)
    {
        bool converted = false;
        const int v = s.mid(start, pos - start).toInt(&converted, base);
        ok = ok && converted;
        return v;
    }

    QString s;
    const QHash<QString, int> &symbols;
    int counter;
    int pos = 0;
    bool ok = true;
    bool missing = false;
};

// Assembles the subset of the MADS dialect that both exported sources use (equates, .define, .MACRO
// with :n arguments, :n repeats with the # counter, org, ini, run, .ALIGN, dta/.byte with bytes,
// a() words and c'' text, mva, and the 6502 instructions of the display programs, with zero page
// chosen for operands known to fit a byte) into a binary load file, in two passes. A segment that
// goes on where the previous one ended is the same segment. It records which bytes every source line
// produced, so that a mismatch names its line. Written from the 6502 data sheet and the assembler's
// manual, apart from the programs it checks.
class MiniAssembler
{
public:
    struct Emission
    {
        int line;
        int segment;
        int offset;
        QByteArray bytes;
    };

    bool assemble(const QStringList &lines)
    {
        collectMacros(lines);
        for (pass = 1; pass <= 2; ++pass) {
            segments.clear();
            emissions.clear();
            defines.clear();
            skippingMacro = false;
            pc = -1;
            for (lineNo = 1; lineNo < lines.size(); ++lineNo) {
                if (!statement(lines.at(lineNo)))
                    return false;
            }
        }
        return true;
    }

    QByteArray file() const
    {
        QByteArray f = QByteArray::fromHex("FFFF");
        int end = -1; // inclusive end of the segment written last
        int head = -1;
        for (const Segment &seg : segments) {
            if (seg.data.isEmpty())
                continue;
            if (seg.start != end + 1 || head < 0) {
                head = f.size();
                f += char(seg.start & 0xFF);
                f += char(seg.start >> 8);
                f += QByteArray(2, '\0');
            }
            end = seg.start + seg.data.size() - 1;
            f[head + 2] = char(end & 0xFF);
            f[head + 3] = char(end >> 8);
            f += seg.data;
        }
        return f;
    }

    // File offset of an emission's first byte.
    int fileOffset(const Emission &e) const
    {
        int offset = 2;
        int end = -1;
        for (int i = 0; i <= e.segment; ++i) {
            const Segment &seg = segments.at(i);
            if (seg.data.isEmpty())
                continue;
            if (seg.start != end + 1 || offset == 2)
                offset += 4;
            if (i == e.segment)
                return offset + e.offset;
            offset += seg.data.size();
            end = seg.start + seg.data.size() - 1;
        }
        return offset + e.offset;
    }

    // Compares the bytes of every source line with the executable at the same place; returns the
    // first difference, or an empty string.
    QString differenceFrom(const QStringList &lines, const QByteArray &executable) const
    {
        for (const Emission &e : emissions) {
            const int offset = fileOffset(e);
            const QByteArray actual = executable.mid(offset, e.bytes.size());
            if (actual != e.bytes)
                return QStringLiteral("line %1 '%2' assembles to %3 at offset %4, the executable has %5")
                    .arg(e.line)
                    .arg(lines.value(e.line))
                    .arg(QString::fromLatin1(e.bytes.toHex(' ')))
                    .arg(offset)
                    .arg(QString::fromLatin1(actual.toHex(' ')));
        }
        const QByteArray whole = file();
        if (whole != executable)
            return QStringLiteral("the files differ: %1 and %2 bytes").arg(whole.size()).arg(executable.size());
        return QString();
    }

    QString error;
    QHash<QString, int> symbols;
    QVector<Emission> emissions;

private:
    struct Segment
    {
        int start;
        QByteArray data;
    };

    bool fail(const QString &why)
    {
        error = QStringLiteral("line %1: %2").arg(lineNo).arg(why);
        return false;
    }

    void collectMacros(const QStringList &lines)
    {
        QString name;
        for (const QString &line : lines) {
            const QString t = line.trimmed();
            if (t.startsWith(QLatin1String(".MACRO "))) {
                name = t.mid(7).trimmed();
                macros[name].clear();
            } else if (t == QLatin1String(".ENDM")) {
                name.clear();
            } else if (!name.isEmpty()) {
                macros[name] << line;
            }
        }
    }

    bool statement(const QString &line)
    {
        const QString t = line.trimmed();
        if (skippingMacro) {
            skippingMacro = t != QLatin1String(".ENDM");
            return true;
        }
        if (t.isEmpty() || t.startsWith(QLatin1Char(';')))
            return true;
        if (t.startsWith(QLatin1Char('.')))
            return directive(t);
        if (line.at(0).isSpace())
            return instruction(t);

        static const QRegularExpression equate(QStringLiteral("^(\\w+)\\s*=\\s*([^;]+);?$"));
        const QRegularExpressionMatch m = equate.match(t);
        if (m.hasMatch()) {
            int value = 0;
            if (!evaluate(m.captured(2), &value, true))
                return false;
            symbols[m.captured(1)] = value;
            return true;
        }
        const int space = t.indexOf(QLatin1Char(' '));
        const QString label = space < 0 ? t : t.left(space);
        if (!defineLabel(label))
            return false;
        if (space < 0)
            return true;
        const QString rest = t.mid(space + 1).trimmed();
        const int argsAt = rest.indexOf(QLatin1Char(' '));
        const QString name = argsAt < 0 ? rest : rest.left(argsAt);
        if (!macros.contains(name))
            return fail(QStringLiteral("unknown macro %1").arg(name));
        const QStringList args = argsAt < 0 ? QStringList() : rest.mid(argsAt + 1).split(QLatin1Char(','));
        static const QRegularExpression parameter(QStringLiteral("(?<=\\S):(\\d+)"));
        for (QString body : macros.value(name)) {
            QRegularExpressionMatch p;
            while ((p = parameter.match(body)).hasMatch()) {
                const int n = p.captured(1).toInt();
                if (n < 1 || n > args.size())
                    return fail(QStringLiteral("macro argument %1 missing").arg(n));
                body.replace(p.capturedStart(), p.capturedLength(), args.at(n - 1).trimmed());
            }
            if (!instruction(body.trimmed()))
                return false;
        }
        return true;
    }

    bool directive(const QString &t)
    {
        if (t.startsWith(QLatin1String(".define "))) {
            const QString rest = t.mid(8).trimmed();
            const int space = rest.indexOf(QLatin1Char(' '));
            if (space < 0)
                return fail(QStringLiteral("empty .define"));
            defines[rest.left(space)] = rest.mid(space + 1).trimmed();
            return true;
        }
        if (t.startsWith(QLatin1String(".MACRO "))) {
            skippingMacro = true;
            return true;
        }
        if (t.startsWith(QLatin1String(".ALIGN "))) {
            int n = 0;
            if (!evaluate(t.mid(7), &n, false) || n <= 0)
                return fail(QStringLiteral("bad .ALIGN"));
            const int aligned = (pc + n - 1) / n * n;
            if (aligned != pc)
                startSegment(aligned);
            return true;
        }
        return fail(QStringLiteral("unknown directive %1").arg(t));
    }

    bool defineLabel(const QString &label)
    {
        if (pc < 0)
            return fail(QStringLiteral("label before org"));
        if (pass == 1) {
            if (symbols.contains(label))
                return fail(QStringLiteral("label %1 defined twice").arg(label));
            symbols[label] = pc;
        } else if (symbols.value(label) != pc) {
            return fail(QStringLiteral("label %1 moved between passes").arg(label));
        }
        return true;
    }

    bool evaluate(const QString &text, int *value, bool required)
    {
        bool unknown = false;
        Expression e(text, symbols, counter);
        if (!e.evaluate(value, &unknown))
            return fail(QStringLiteral("cannot read expression '%1'").arg(text));
        if (unknown && (required || pass == 2))
            return fail(QStringLiteral("undefined symbol in '%1'").arg(text));
        return true;
    }

    void startSegment(int address)
    {
        segments.append({address, QByteArray()});
        pc = address;
    }

    bool put(const QByteArray &bytes)
    {
        if (segments.isEmpty())
            return fail(QStringLiteral("code before org"));
        if (pass == 2)
            emissions.append({lineNo, int(segments.size()) - 1, int(segments.last().data.size()), bytes});
        segments.last().data += bytes;
        pc += bytes.size();
        return true;
    }

    bool emitWithAddress(quint8 op, int address)
    {
        QByteArray b(1, char(op));
        b += char(address & 0xFF);
        b += char((address >> 8) & 0xFF);
        return put(b);
    }

    bool emitWithByte(quint8 op, int value)
    {
        if (value < 0 || value > 0xFF)
            return fail(QStringLiteral("value %1 does not fit a byte").arg(value));
        QByteArray b(1, char(op));
        b += char(value);
        return put(b);
    }

    // lda/sta family: zero page when the address is known to fit a byte, absolute otherwise.
    bool memory(quint8 zeroPage, quint8 absolute, const QString &operand)
    {
        int address = 0;
        bool unknown = false;
        Expression e(operand, symbols, counter);
        if (!e.evaluate(&address, &unknown))
            return fail(QStringLiteral("cannot read address '%1'").arg(operand));
        if (unknown && pass == 2)
            return fail(QStringLiteral("undefined address '%1'").arg(operand));
        if (!unknown && address >= 0 && address <= 0xFF)
            return emitWithByte(zeroPage, address);
        return emitWithAddress(absolute, address);
    }

    bool data(const QString &items, bool words)
    {
        QStringList parts;
        int depth = 0;
        QString current;
        bool quoted = false;
        for (const QChar c : items) {
            if (c == QLatin1Char('\''))
                quoted = !quoted;
            if (c == QLatin1Char('(') && !quoted)
                ++depth;
            if (c == QLatin1Char(')') && !quoted)
                --depth;
            if (c == QLatin1Char(',') && depth == 0 && !quoted) {
                parts << current;
                current.clear();
            } else {
                current += c;
            }
        }
        parts << current;
        for (QString item : parts) {
            item = item.trimmed();
            int value = 0;
            if (words && item.startsWith(QLatin1String("c'")) && item.endsWith(QLatin1Char('\'')) && item.size() >= 3) {
                if (!put(item.mid(2, item.size() - 3).toLatin1()))
                    return false;
                continue;
            }
            if (words && item.startsWith(QLatin1String("a(")) && item.endsWith(QLatin1Char(')'))) {
                if (!evaluate(item.mid(2, item.size() - 3), &value, false))
                    return false;
                QByteArray b(1, char(value & 0xFF));
                b += char((value >> 8) & 0xFF);
                if (!put(b))
                    return false;
                continue;
            }
            if (!evaluate(item, &value, false))
                return false;
            if (value < 0 || value > 0xFF)
                return fail(QStringLiteral("data byte %1 too large").arg(item));
            if (!put(QByteArray(1, char(value))))
                return false;
        }
        return true;
    }

    bool instruction(const QString &t)
    {
        static const QRegularExpression repeat(QStringLiteral("^:\\+?(\\d+)\\s+(.+)$"));
        const QRegularExpressionMatch r = repeat.match(t);
        if (r.hasMatch()) {
            const int count = r.captured(1).toInt();
            for (counter = 0; counter < count; ++counter) {
                if (!instruction(r.captured(2)))
                    return false;
            }
            counter = 0;
            return true;
        }
        static const QRegularExpression call(QStringLiteral("^(\\w+)\\((.*)\\)$"));
        const QRegularExpressionMatch c = call.match(t);
        if (c.hasMatch() && defines.contains(c.captured(1))) {
            QString expanded = defines.value(c.captured(1));
            const QStringList args = c.captured(2).split(QLatin1Char(','));
            for (int i = 0; i < args.size(); ++i)
                expanded.replace(QStringLiteral("%%%1").arg(i + 1), args.at(i).trimmed());
            return instruction(expanded);
        }

        const int space = t.indexOf(QLatin1Char(' '));
        const QString op = (space < 0 ? t : t.left(space)).toLower();
        const QString operand = space < 0 ? QString() : t.mid(space + 1).trimmed();
        if (op == QLatin1String("org")) {
            int address = 0;
            if (!evaluate(operand, &address, true))
                return false;
            startSegment(address);
            return true;
        }
        if (op == QLatin1String("run") || op == QLatin1String("ini")) {
            int address = 0;
            if (!evaluate(operand, &address, false))
                return false;
            const int resume = pc;
            startSegment(op == QLatin1String("run") ? 0x02E0 : 0x02E2);
            QByteArray b(1, char(address & 0xFF));
            b += char((address >> 8) & 0xFF);
            if (!put(b))
                return false;
            startSegment(resume);
            return true;
        }
        if (op == QLatin1String(".byte"))
            return data(operand, false);
        if (op == QLatin1String("dta"))
            return data(operand, true);
        if (op == QLatin1String("mva")) {
            const QStringList parts = operand.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (parts.size() != 2)
                return fail(QStringLiteral("mva needs source and target"));
            QString source = parts.at(0);
            if (source.startsWith(QLatin1Char('#')))
                source = source.mid(1);
            else if (!source.startsWith(QLatin1Char('<')) && !source.startsWith(QLatin1Char('>')))
                return fail(QStringLiteral("mva from memory is not used here"));
            int value = 0;
            return evaluate(source, &value, false) && emitWithByte(0xA9, value & 0xFFFF)
                && memory(0x85, 0x8D, parts.at(1));
        }
        return machineCode(op, operand);
    }

    enum Mode { Implied, Immediate, ZeroPage, Absolute, IndirectY, Indirect, Relative };

    bool machineCode(const QString &name, QString operand)
    {
        // implied, #, zp, abs, (zp),y, (abs), relative; -1 where there is none
        static const QHash<QString, QVector<int>> codes = {
            {"lda", {-1, 0xA9, 0xA5, 0xAD, 0xB1, -1, -1}}, {"ldx", {-1, 0xA2, 0xA6, 0xAE, -1, -1, -1}},
            {"ldy", {-1, 0xA0, 0xA4, 0xAC, -1, -1, -1}},   {"sta", {-1, -1, 0x85, 0x8D, 0x91, -1, -1}},
            {"stx", {-1, -1, 0x86, 0x8E, -1, -1, -1}},     {"cmp", {-1, 0xC9, 0xC5, 0xCD, 0xD1, -1, -1}},
            {"and", {-1, 0x29, 0x25, 0x2D, 0x31, -1, -1}}, {"ora", {-1, 0x09, 0x05, 0x0D, 0x11, -1, -1}},
            {"eor", {-1, 0x49, 0x45, 0x4D, 0x51, -1, -1}}, {"bit", {-1, -1, 0x24, 0x2C, -1, -1, -1}},
            {"jmp", {-1, -1, -1, 0x4C, -1, 0x6C, -1}},     {"jsr", {-1, -1, -1, 0x20, -1, -1, -1}},
            {"bne", {-1, -1, -1, -1, -1, -1, 0xD0}},       {"beq", {-1, -1, -1, -1, -1, -1, 0xF0}},
            {"rts", {0x60, -1, -1, -1, -1, -1, -1}},       {"nop", {0xEA, -1, -1, -1, -1, -1, -1}},
            {"pha", {0x48, -1, -1, -1, -1, -1, -1}},       {"pla", {0x68, -1, -1, -1, -1, -1, -1}},
            {"php", {0x08, -1, -1, -1, -1, -1, -1}},       {"plp", {0x28, -1, -1, -1, -1, -1, -1}},
        };
        if (!codes.contains(name))
            return fail(QStringLiteral("unknown statement '%1 %2'").arg(name, operand));
        const QVector<int> &code = codes.value(name);
        Mode mode = Absolute;
        if (operand.isEmpty()) {
            mode = Implied;
        } else if (code[Relative] >= 0) {
            mode = Relative;
        } else if (operand.startsWith(QLatin1Char('#'))) {
            mode = Immediate;
            operand = operand.mid(1);
        } else if (operand.endsWith(QLatin1String("),y"))) {
            mode = IndirectY;
            operand = operand.mid(1, operand.size() - 4);
        } else if (operand.startsWith(QLatin1Char('('))) {
            mode = Indirect;
            operand = operand.mid(1, operand.size() - 2);
        }
        int value = 0;
        bool unknown = false;
        if (mode != Implied) {
            Expression e(operand, symbols, counter);
            if (!e.evaluate(&value, &unknown))
                return fail(QStringLiteral("cannot read operand '%1'").arg(operand));
            if (unknown && pass == 2)
                return fail(QStringLiteral("undefined symbol in '%1'").arg(operand));
        }
        if (mode == Absolute && !unknown && value >= 0 && value <= 0xFF && code[ZeroPage] >= 0)
            mode = ZeroPage;
        if (code[mode] < 0)
            return fail(QStringLiteral("%1 has no such addressing mode").arg(name));
        if (mode == Implied)
            return put(QByteArray(1, char(code[mode])));
        if (mode == Relative) {
            const int relative = pass == 1 ? 0 : value - (pc + 2);
            if (relative < -128 || relative > 127)
                return fail(QStringLiteral("branch out of range"));
            return emitWithByte(quint8(code[mode]), relative & 0xFF);
        }
        if (mode == Absolute || mode == Indirect)
            return emitWithAddress(quint8(code[mode]), value);
        return emitWithByte(quint8(code[mode]), value & 0xFF);
    }

    QVector<Segment> segments;
    QHash<QString, QString> defines;
    QHash<QString, QStringList> macros;
    bool skippingMacro = false;
    int pass = 1;
    int pc = -1;
    int counter = 0;
    int lineNo = 0;
};

#endif
