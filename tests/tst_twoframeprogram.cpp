#include "atarigeometry.h"
#include "atariprogram.h"
#include "atariview.h"
#include "twoframeprogram.h"
#include "miniassembler.h"
#include "xexcontents.h"

#include <QFile>
#include <QHash>
#include <QTextStream>
#include <QtTest>

#include <vector>

using namespace Geometry;

// The two-frame program: its kernels' timing against the single-frame kernel's, its memory against
// what an 800 or an XL/XE with BASIC off offers, and its source against its executable. What the
// emulation shows for it is checked with the views (tst_atariview).
class TestTwoFrameProgram : public QObject
{
    Q_OBJECT

private slots:
    void kernelsKeepTheSingleFrameTiming();
    void memoryMap_data();
    void memoryMap();
    void sourceAssemblesIntoTheExecutable();
    void sourceSpellsStatementsAsTheAssemblerReadsThem_data();
    void sourceSpellsStatementsAsTheAssemblerReadsThem();
};

namespace {

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

// The source, assembled line by line, gives exactly the executable's bytes in the same places.
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
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.prepend(QString()); // numbered from 1
    MiniAssembler assembler;
    QVERIFY2(assembler.assemble(lines), qPrintable(assembler.error));
    const QByteArray xex = executableOf(a, b);
    const QString difference = assembler.differenceFrom(lines, xex);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(assembler.symbols.value(QStringLiteral("MAIN")), int(TwoFrameProgram::kSetUp));
    QCOMPARE(assembler.symbols.value(QStringLiteral("CHECK")), int(TwoFrameProgram::kCheck));
    QCOMPARE(assembler.symbols.value(QStringLiteral("SCREENA")), int(TwoFrameProgram::kScreens));
}

void TestTwoFrameProgram::sourceSpellsStatementsAsTheAssemblerReadsThem_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("equate") << QStringLiteral("DOSVEC  = $000A");
    QTest::newRow("memory check's origin") << QStringLiteral("    org $22D3");
    QTest::newRow("message text with its end of line") << QStringLiteral("    dta c'but a cartridge holds $A000-$BFFF.',$9B");
    QTest::newRow("channel offset") << QStringLiteral("    sta ICCOM+16");
    QTest::newRow("indirect jump") << QStringLiteral("    jmp (DOSVEC)");
    QTest::newRow("absolute address") << QStringLiteral("    cmp $BFFF");
    QTest::newRow("init vector") << QStringLiteral("    ini CHECK");
    QTest::newRow("first display list entry") << QStringLiteral("    dta $4F,a($2800)");
    QTest::newRow("display list jump") << QStringLiteral("    dta $41,a(DLISTB)");
    QTest::newRow("high byte") << QStringLiteral("    lda #>DLISTA");
    QTest::newRow("second byte of a shadow") << QStringLiteral("    sta DLPTRS+1");
    QTest::newRow("zero page pointer") << QStringLiteral("    sta ZCOLBAK+1");
    QTest::newRow("black through the pointer") << QStringLiteral("    sta (ZCOLBAK),y");
    QTest::newRow("zero page, three cycles") << QStringLiteral("    bit $00");
    QTest::newRow("hue write") << QStringLiteral("    ldx #$E0");
    QTest::newRow("run address, last") << QStringLiteral("    run MAIN");
}

// The statements are written in the forms the assembler reads (checked against it by hand), which the
// test assembler above also accepts in other spellings.
void TestTwoFrameProgram::sourceSpellsStatementsAsTheAssemblerReadsThem()
{
    QFETCH(QString, line);
    Frame a;
    Frame b;
    std::fill(a.hues.begin(), a.hues.end(), quint8(0xE7));
    QString text;
    QTextStream out(&text);
    TwoFrameProgram::writeSource(out, a.output.data(), a.hues.data(), b.output.data(), b.hues.data());
    out.flush();
    QVERIFY2(text.split(QLatin1Char('\n')).contains(line), qPrintable(line));
}

QTEST_GUILESS_MAIN(TestTwoFrameProgram)
#include "tst_twoframeprogram.moc"
