#include "assembly.h"

#include <QTextStream>
#include <QtTest>

#include <vector>

using namespace Assembly;

// The description of 6502 code both display programs are built on, against programs assembled by
// hand from the 6502 data sheet and the binary load file format.
class TestAssembly : public QObject
{
    Q_OBJECT

private slots:
    void binaryMatchesHandAssembly_data();
    void binaryMatchesHandAssembly();
    void writesTheSource_data();
    void writesTheSource();
    void countsCycles();
};

namespace {

enum Example { RoutineAndBranch, Segments, Operands };

// RoutineAndBranch: code at $3000 that stores a colour, branches back, calls a routine of two nops;
// its run address last. Segments: an org that goes on where the last byte ended, ini, a gap, .ALIGN
// and text. Operands: zero page, (zp),y, low and high bytes, a word with an offset, decimal, indirect.
Program buildExample(Example which)
{
    Program p;
    switch (which) {
    case RoutineAndBranch: {
        p.equate("COLBAK", 0xD01A);
        p.org(0x3000);
        p.label("START");
        p.code(Op::LdaImmediate, number(0x01));
        p.code(Op::StaAbsolute, symbol("COLBAK")).code.back().hueIndex = 5;
        p.code(Op::Bne, symbol("START"));
        p.code(Op::Jsr, symbol("WAIT"));
        p.code(Op::Rts);
        p.label("WAIT");
        p.code(Op::Nop);
        p.code(Op::Nop);
        p.code(Op::Rts);
        p.run("START");
        break;
    }
    case Segments: {
        p.org(0x2000);
        p.data().data.push_back({Item::Byte, number(0x11), std::string()});
        p.org(0x2001);
        p.data().data.push_back({Item::Byte, number(0x22), std::string()});
        p.init("INIT");
        p.org(0x2010);
        p.label("INIT");
        p.code(Op::Rts);
        p.align(0x0100);
        p.data().data.push_back({Item::Characters, Operand(), "HI"});
        break;
    }
    case Operands: {
        p.equate("ZP", 0xCB, ";");
        p.org(0x4000);
        p.label("LIST");
        p.data().data.push_back({Item::Word, symbol("LIST", 2), std::string()});
        p.code(Op::LdaImmediate, low("LIST"));
        p.code(Op::LdaImmediate, high("LIST"));
        p.code(Op::StaZeroPage, symbol("ZP"));
        p.code(Op::StaIndirectY, symbol("ZP"));
        p.code(Op::LdaZeroPage, decimal(0));
        p.code(Op::JmpIndirect, symbol("LIST"));
        Statement &bytes = p.data();
        bytes.data = {{Item::Byte, number(0x4F), std::string()}, {Item::Word, number(0x2828), std::string()}};
        bytes.tight = true;
        break;
    }
    }
    return p;
}

} // namespace

void TestAssembly::binaryMatchesHandAssembly_data()
{
    QTest::addColumn<int>("example");
    QTest::addColumn<QByteArray>("file");
    // $3000: A9 01 / 8D 1A D0 / D0 F9 (back 7 from $3007) / 20 0B 30 / 60; WAIT $300B: EA EA 60.
    QTest::newRow("routine and branch") << int(RoutineAndBranch)
                                        << QByteArray::fromHex("FFFF 0030 0D30 A901 8D1AD0 D0F9 200B30 60 EAEA60"
                                                               " E002 E102 0030");
    // $2000-$2001 in one segment; the init vector; $2010; .ALIGN moves to $2100 for "HI" and EOL.
    QTest::newRow("segments") << int(Segments)
                              << QByteArray::fromHex("FFFF 0020 0120 1122 E202 E302 1020 1020 1020 60 0021 0221 48499B");
    QTest::newRow("operands") << int(Operands)
                              << QByteArray::fromHex("FFFF 0040 1140 0240 A900 A940 85CB 91CB A500 6C0040 4F2828");
}

void TestAssembly::binaryMatchesHandAssembly()
{
    QFETCH(int, example);
    QFETCH(QByteArray, file);
    const std::vector<quint8> bytes = buildExample(Example(example)).binary();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex(' '), file.toHex(' '));
}

void TestAssembly::writesTheSource_data()
{
    QTest::addColumn<int>("example");
    QTest::addColumn<QString>("source");
    QTest::newRow("routine and branch") << int(RoutineAndBranch)
                                        << QStringLiteral("COLBAK  = $D01A\n    org $3000\nSTART\n    lda #$01\n"
                                                          "    sta COLBAK\n    bne START\n    jsr WAIT\n    rts\n"
                                                          "WAIT\n    nop\n    nop\n    rts\n    run START\n");
    QTest::newRow("segments") << int(Segments)
                              << QStringLiteral("    org $2000\n    dta $11\n    org $2001\n    dta $22\n"
                                                "    ini INIT\n    org $2010\nINIT\n    rts\n.ALIGN $0100\n"
                                                "    dta c'HI',$9B\n");
    QTest::newRow("operands") << int(Operands)
                              << QStringLiteral("ZP      = $00CB;\n    org $4000\nLIST\n    dta a(LIST+2)\n"
                                                "    lda #<LIST\n    lda #>LIST\n    sta ZP\n    sta (ZP),y\n"
                                                "    lda 0\n    jmp (LIST)\n    dta $4F,a($2828)\n");
}

void TestAssembly::writesTheSource()
{
    QFETCH(int, example);
    QFETCH(QString, source);
    QString text;
    QTextStream out(&text);
    buildExample(Example(example)).write(out);
    out.flush();
    QCOMPARE(text, source);
}

// A jsr takes its 6 cycles and those of the routine up to its rts; a store to the background colour
// register says which cycle stores what.
void TestAssembly::countsCycles()
{
    const Program p = buildExample(RoutineAndBranch);
    const std::vector<KernelStep> steps = p.steps(0, p.size());
    const int expected[][4] = {
        {2, 0, -1, 0},  // lda #$01
        {4, 4, 5, 0},   // sta COLBAK, hue table entry 5
        {2, 0, -1, 0},  // bne, not taken
        {16, 0, -1, 0}, // jsr WAIT: 6 + nop 2 + nop 2 + rts 6
        {6, 0, -1, 0},  // rts
        {2, 0, -1, 0},
        {2, 0, -1, 0},
        {6, 0, -1, 0},
    };
    QCOMPARE(int(steps.size()), int(sizeof(expected) / sizeof(expected[0])));
    for (std::size_t i = 0; i < steps.size(); ++i) {
        QCOMPARE(steps[i].cycles, expected[i][0]);
        QCOMPARE(steps[i].storeCycle, expected[i][1]);
        QCOMPARE(steps[i].hueIndex, expected[i][2]);
        QCOMPARE(int(steps[i].value), expected[i][3]);
    }
    QCOMPARE(p.symbolValue("WAIT"), 0x300B);
    QCOMPARE(p.end(), 0x300E);
}

QTEST_GUILESS_MAIN(TestAssembly)
#include "tst_assembly.moc"
