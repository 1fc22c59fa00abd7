#include "atarigeometry.h"
#include "atariprogram.h"
#include "atariview.h"
#include "twoframeprogram.h"

#include <QFile>
#include <QHash>
#include <QTextStream>
#include <QtTest>

#include <vector>

using namespace Geometry;

// The two-frame program against what a cycle-exact emulation shows for it, against the memory
// an 800 or an XL/XE with BASIC off offers, and its source against its executable.
class TestTwoFrameProgram : public QObject
{
    Q_OBJECT

private slots:
    void capturedFramesEqualViews_data();
    void capturedFramesEqualViews();
    void kernelsKeepTheSingleFrameTiming();
    void memoryMap_data();
    void memoryMap();
    void sourceAssemblesIntoTheExecutable();
};

namespace {

constexpr int kCaptureWidth = 384;
constexpr int kBorder = 32;

QByteArray readData(const QString &name)
{
    QFile file(QStringLiteral(RASTREL_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct Segment
{
    int start;
    int end;    // inclusive
    int offset; // of the first data byte in the file
};

// The segments of an Atari binary load file, from their headers; empty if the file is damaged.
QVector<Segment> segmentsOf(const QByteArray &xex)
{
    QVector<Segment> segments;
    const auto at = [&xex](int i) { return quint8(xex[i]) | quint8(xex[i + 1]) << 8; };
    int i = 0;
    while (i < xex.size()) {
        if (i + 2 <= xex.size() && at(i) == 0xFFFF) {
            i += 2;
            continue;
        }
        if (i + 4 > xex.size())
            return {};
        const Segment s{at(i), at(i + 2), i + 4};
        if (s.end < s.start || s.offset + s.end - s.start + 1 > xex.size())
            return {};
        segments.append(s);
        i = s.offset + s.end - s.start + 1;
    }
    return segments;
}

std::vector<quint8> memoryOf(const QByteArray &xex)
{
    std::vector<quint8> memory(0x10000);
    for (const Segment &s : segmentsOf(xex)) {
        for (int a = s.start; a <= s.end; ++a)
            memory[a] = quint8(xex[s.offset + a - s.start]);
    }
    return memory;
}

struct Frame
{
    std::vector<quint8> output = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> hues = std::vector<quint8>(kHues);
};

// The pictures, read through the display lists, and the hues, the operands of every
// "ldx #hh / stx COLBAK" in address order (frame A's kernel lies below frame B's).
bool framesOf(const std::vector<quint8> &memory, Frame frames[2])
{
    for (int f = 0; f < 2; ++f) {
        int entry = TwoFrameProgram::kDisplayList[f];
        for (int row = 0; row < kSourceHeight; ++row, entry += 3) {
            if (memory[entry] != 0x4F)
                return false;
            const int address = memory[entry + 1] | memory[entry + 2] << 8;
            for (int k = 0; k < kBytesPerRow; ++k) {
                frames[f].output[row * kAtariWidth + 2 * k] = memory[address + k] >> 4;
                frames[f].output[row * kAtariWidth + 2 * k + 1] = memory[address + k] & 0x0F;
            }
        }
    }
    int found = 0;
    for (int a = 0x2000; a + 4 < 0xC000 && found < 2 * kHues; ++a) {
        if (memory[a] == 0xA2 && memory[a + 2] == 0x8E && memory[a + 3] == 0x1A && memory[a + 4] == 0xD0) {
            frames[found / kHues].hues[found % kHues] = memory[a + 1];
            ++found;
        }
    }
    return found == 2 * kHues;
}

void fillVaried(Frame &frame, quint32 seed)
{
    for (quint8 &o : frame.output) {
        seed = seed * 1664525u + 1013904223u;
        o = quint8(seed >> 24);
    }
    for (quint8 &h : frame.hues) {
        seed = seed * 1664525u + 1013904223u;
        h = quint8(seed >> 24) & 0xF0;
    }
}

QByteArray executableOf(const Frame &a, const Frame &b)
{
    const std::vector<quint8> x =
        TwoFrameProgram::executable(a.output.data(), a.hues.data(), b.output.data(), b.hues.data());
    return QByteArray(reinterpret_cast<const char *>(x.data()), int(x.size()));
}

// Assembles the statements the two-frame source uses (equates, labels, org, ini, run, dta with
// bytes, a() words and c'' text, and the 6502 instructions below) in two passes, choosing zero
// page for operands known below $100 as the assembler does, and merging a segment that goes on
// where the previous one ended.
class LineAssembler
{
public:
    bool assemble(const QStringList &lines)
    {
        for (pass = 1; pass <= 2; ++pass) {
            file = QByteArray("\xFF\xFF", 2);
            head = -1;
            pc = -1;
            for (line = 0; line < lines.size(); ++line) {
                if (!statement(lines.at(line)))
                    return false;
            }
            close();
        }
        return true;
    }

    QByteArray file;
    QString error;

private:
    enum Mode { Implied, Immediate, ZeroPage, Absolute, IndirectY, Indirect, Relative };

    bool fail(const QString &why)
    {
        error = QStringLiteral("line %1: %2").arg(line + 1).arg(why);
        return false;
    }

    bool statement(const QString &text)
    {
        const QString t = text.trimmed();
        if (t.isEmpty() || t.startsWith(QLatin1Char(';')))
            return true;
        if (!text.at(0).isSpace()) {
            const int equals = t.indexOf(QLatin1Char('='));
            if (equals > 0)
                return value(t.mid(equals + 1).trimmed(), &symbols[t.left(equals).trimmed()]);
            if (pass == 1)
                symbols[t] = pc;
            return symbols.value(t) == pc || fail(QStringLiteral("label %1 moved").arg(t));
        }
        const int space = t.indexOf(QLatin1Char(' '));
        const QString name = space < 0 ? t : t.left(space);
        const QString operand = space < 0 ? QString() : t.mid(space + 1).trimmed();
        int v = 0;
        if (name == QLatin1String("org")) {
            if (!value(operand, &v))
                return false;
            if (head < 0 || v != pc)
                open(v);
            pc = v;
            return true;
        }
        if (name == QLatin1String("ini") || name == QLatin1String("run")) {
            if (!value(operand, &v))
                return false;
            open(name == QLatin1String("ini") ? 0x02E2 : 0x02E0);
            put(v & 0xFF);
            put(v >> 8);
            close();
            return true;
        }
        if (name == QLatin1String("dta"))
            return data(operand);
        return instruction(name, operand);
    }

    bool data(const QString &operand)
    {
        QStringList items;
        QString current;
        bool quoted = false;
        for (const QChar c : operand) {
            if (c == QLatin1Char('\''))
                quoted = !quoted;
            if (c == QLatin1Char(',') && !quoted) {
                items << current.trimmed();
                current.clear();
            } else {
                current += c;
            }
        }
        items << current.trimmed();
        for (const QString &item : items) {
            int v = 0;
            if (item.startsWith(QLatin1String("c'")) && item.endsWith(QLatin1Char('\''))) {
                for (const QChar c : item.mid(2, item.size() - 3))
                    put(c.toLatin1());
            } else if (item.startsWith(QLatin1String("a(")) && item.endsWith(QLatin1Char(')'))) {
                if (!value(item.mid(2, item.size() - 3), &v))
                    return false;
                put(v & 0xFF);
                put(v >> 8);
            } else {
                if (!value(item, &v) || v > 0xFF)
                    return fail(QStringLiteral("bad byte %1").arg(item));
                put(v);
            }
        }
        return true;
    }

    bool instruction(const QString &name, QString operand)
    {
        // Opcodes from the 6502 data sheet.
        static const QHash<QString, QVector<int>> codes = {
            // implied, #, zp, abs, (zp),y, (abs), relative; -1 where there is none
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
            return fail(QStringLiteral("unknown instruction %1").arg(name));
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
        int v = 0;
        bool known = true;
        if (mode != Implied && !value(operand, &v, &known))
            return false;
        if (mode == Absolute && known && v < 0x100 && code[ZeroPage] >= 0)
            mode = ZeroPage;
        if (code[mode] < 0)
            return fail(QStringLiteral("%1 has no such mode").arg(name));
        put(code[mode]);
        if (mode == Relative) {
            const int distance = v - (pc + 1);
            if (pass == 2 && (distance < -128 || distance > 127))
                return fail(QStringLiteral("branch out of range"));
            put(distance & 0xFF);
        } else if (mode == Absolute || mode == Indirect) {
            put(v & 0xFF);
            put(v >> 8);
        } else if (mode != Implied) {
            put(v & 0xFF);
        }
        return true;
    }

    // A sum of numbers ($hex or decimal) and symbols, or its low (<) or high (>) byte.
    bool value(const QString &text, int *result, bool *known = nullptr)
    {
        QString t = text;
        const QChar part = t.isEmpty() ? QChar() : t.at(0);
        if (part == QLatin1Char('<') || part == QLatin1Char('>'))
            t = t.mid(1);
        int sum = 0;
        bool defined = true;
        for (const QString &term : t.split(QLatin1Char('+'))) {
            bool ok = true;
            if (term.startsWith(QLatin1Char('$')))
                sum += term.mid(1).toInt(&ok, 16);
            else if (term.at(0).isDigit())
                sum += term.toInt(&ok, 10);
            else if (symbols.contains(term))
                sum += symbols.value(term);
            else if (pass == 2)
                return fail(QStringLiteral("undefined symbol %1").arg(term));
            else
                defined = false;
            if (!ok)
                return fail(QStringLiteral("bad number %1").arg(term));
        }
        if (known)
            *known = defined;
        *result = part == QLatin1Char('<') ? (sum & 0xFF) : part == QLatin1Char('>') ? ((sum >> 8) & 0xFF) : sum;
        return true;
    }

    void put(int byte)
    {
        file += char(byte);
        ++pc;
    }
    void open(int address)
    {
        close();
        head = file.size();
        file += QByteArray(4, '\0');
        file[head] = char(address & 0xFF);
        file[head + 1] = char(address >> 8);
        pc = address;
    }
    void close()
    {
        if (head < 0)
            return;
        const int end = pc - 1;
        file[head + 2] = char(end & 0xFF);
        file[head + 3] = char(end >> 8);
        head = -1;
    }

    QHash<QString, int> symbols;
    int pass = 1;
    int line = 0;
    int head = -1; // file offset of the open segment's header
    int pc = -1;
};

struct Store
{
    int cycle; // from the release of the last WSYNC
    int hueIndex;
    int value;
    bool operator==(const Store &o) const { return cycle == o.cycle && hueIndex == o.hueIndex && value == o.value; }
};

std::vector<Store> storesOf(const std::vector<Assembly::KernelStep> &steps)
{
    std::vector<Store> stores;
    int cycle = 0;
    for (const Assembly::KernelStep &s : steps) {
        if (s.storeCycle > 0)
            stores.push_back({cycle + s.storeCycle, s.hueIndex, s.value});
        cycle += s.cycles;
    }
    return stores;
}

} // namespace

void TestTwoFrameProgram::capturedFramesEqualViews_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("synthetic: every run boundary changes hue, in both frames") << QStringLiteral("pattern");
    QTest::newRow("chelsea photo: classic in frame A, best in frame B") << QStringLiteral("chelsea");
}

// Screens captured from the emulation (see tests/data/README.md): the frame it showed 100 frames
// after loading is frame A, the one before it frame B, and each is exactly that frame's view.
void TestTwoFrameProgram::capturedFramesEqualViews()
{
    QFETCH(QString, name);
    const QByteArray xex = readData(QStringLiteral("twoframe-%1.xex").arg(name));
    QVERIFY(!xex.isEmpty());
    Frame frames[2];
    QVERIFY(framesOf(memoryOf(xex), frames));
    // Our writer turns what was read back into the very same file.
    QCOMPARE(executableOf(frames[0], frames[1]).toHex(), xex.toHex());

    QByteArray screens[2];
    for (int f = 0; f < 2; ++f) {
        screens[f] = readData(QStringLiteral("twoframe-%1.%2.screen").arg(name).arg(QLatin1Char("ab"[f])));
        QCOMPARE(screens[f].size(), kCaptureWidth * kSourceHeight);
        std::vector<quint8> view(AtariView::kWidth * AtariView::kHeight);
        AtariView::render(frames[f].output.data(), frames[f].hues.data(), view.data());
        int equal = 0;
        for (int y = 0; y < AtariView::kHeight; ++y) {
            for (int x = 0; x < AtariView::kWidth; ++x)
                equal += quint8(screens[f][y * kCaptureWidth + kBorder + x]) == view[y * AtariView::kWidth + x];
        }
        QCOMPARE(equal, AtariView::kWidth * AtariView::kHeight);
    }
    int differing = 0;
    for (int i = 0; i < screens[0].size(); ++i)
        differing += screens[0][i] != screens[1][i];
    QVERIFY2(differing > AtariView::kWidth * AtariView::kHeight / 2, qPrintable(QString::number(differing)));
}

// Both kernels store the same colours in the same cycles as the single-frame kernel, so the
// landings worked out (and checked against captures) for it hold for each frame.
void TestTwoFrameProgram::kernelsKeepTheSingleFrameTiming()
{
    const std::vector<Store> single = storesOf(AtariProgram::kernelSteps());
    QCOMPARE(int(single.size()), kHues + 2 * kLinePairs);
    for (int f = 0; f < 2; ++f) {
        const std::vector<Store> two = storesOf(TwoFrameProgram::kernelSteps(f));
        QCOMPARE(two.size(), single.size());
        for (std::size_t i = 0; i < single.size(); ++i)
            QVERIFY2(two[i] == single[i], qPrintable(QStringLiteral("frame %1, store %2: cycle %3, single frame %4")
                                                          .arg(f).arg(i).arg(two[i].cycle).arg(single[i].cycle)));
    }
}

void TestTwoFrameProgram::memoryMap_data()
{
    QTest::addColumn<QByteArray>("xex");
    QTest::newRow("captured synthetic pattern") << readData(QStringLiteral("twoframe-pattern.xex"));
    Frame a;
    Frame b;
    fillVaried(a, 1);
    fillVaried(b, 2);
    QTest::newRow("varied frames") << executableOf(a, b);
}

// Everything but the vectors loads into $2000-$BFFF without overlaps; the init segment that
// turns BASIC off loads and runs before anything above $A000; the display lists and screen rows
// keep within the 1 KB and 4 KB blocks that ANTIC's counters cannot cross.
void TestTwoFrameProgram::memoryMap()
{
    QFETCH(QByteArray, xex);
    QCOMPARE(xex.size(), TwoFrameProgram::kXexSize);
    QVERIFY(xex.startsWith("\xFF\xFF"));
    const QVector<Segment> segments = segmentsOf(xex);
    QVERIFY(!segments.isEmpty());
    const auto word = [&xex](const Segment &s) { return quint8(xex[s.offset]) | quint8(xex[s.offset + 1]) << 8; };
    int initAt = -1;
    int runAt = -1;
    std::vector<bool> loaded(0x10000, false);
    for (int i = 0; i < segments.size(); ++i) {
        const Segment &s = segments[i];
        if (s.start == 0x02E2 && s.end == 0x02E3) {
            QCOMPARE(initAt, -1);
            initAt = i;
            const int init = word(s);
            QVERIFY(init < 0xA000 && loaded[init]);
            continue;
        }
        if (s.start == 0x02E0 && s.end == 0x02E1) {
            QCOMPARE(runAt, -1);
            runAt = i;
            continue;
        }
        QVERIFY2(s.start >= 0x2000 && s.end <= 0xBFFF, qPrintable(QString::number(s.start, 16)));
        QVERIFY2(s.end < 0xA000 || initAt >= 0, "a segment above $A000 loads before the init segment");
        for (int a = s.start; a <= s.end; ++a) {
            QVERIFY2(!loaded[a], qPrintable(QStringLiteral("$%1 loaded twice").arg(a, 4, 16)));
            loaded[a] = true;
        }
    }
    QVERIFY(initAt >= 0);
    QCOMPARE(runAt, segments.size() - 1);
    QVERIFY(loaded[word(segments[runAt])]);

    const std::vector<quint8> memory = memoryOf(xex);
    std::vector<int> screenUse(0x10000, 0);
    for (int f = 0; f < 2; ++f) {
        const int list = TwoFrameProgram::kDisplayList[f];
        const int listEnd = list + 3 * kSourceHeight + 2;
        QVERIFY(loaded[list] && loaded[listEnd]);
        QCOMPARE(list / 0x400, listEnd / 0x400);
        QCOMPARE(memory[listEnd - 2], quint8(0x41));
        QCOMPARE(memory[listEnd - 1] | memory[listEnd] << 8, list);
        for (int row = 0; row < kSourceHeight; ++row) {
            const int entry = list + 3 * row;
            QCOMPARE(memory[entry], quint8(0x4F));
            const int address = memory[entry + 1] | memory[entry + 2] << 8;
            QCOMPARE(address / 0x1000, (address + kBytesPerRow - 1) / 0x1000);
            for (int a = address; a < address + kBytesPerRow; ++a) {
                QVERIFY(loaded[a]);
                QVERIFY2(screenUse[a]++ == 0, "two screen rows share memory");
            }
        }
    }
}

// The source, assembled, gives exactly the executable's bytes.
void TestTwoFrameProgram::sourceAssemblesIntoTheExecutable()
{
    Frame a;
    Frame b;
    fillVaried(a, 3);
    fillVaried(b, 4);
    QString text;
    QTextStream out(&text);
    TwoFrameProgram::writeSource(out, a.output.data(), a.hues.data(), b.output.data(), b.hues.data());
    out.flush();
    LineAssembler assembler;
    QVERIFY2(assembler.assemble(text.split(QLatin1Char('\n'))), qPrintable(assembler.error));
    QCOMPARE(assembler.file.toHex(), executableOf(a, b).toHex());
}

QTEST_GUILESS_MAIN(TestTwoFrameProgram)
#include "tst_twoframeprogram.moc"
