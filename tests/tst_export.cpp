#include "atariprogram.h"
#include "ataripic.h"
#include "pictureexports.h"
#include "miniassembler.h"

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVector>

#include <vector>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

constexpr int kSourceLines = 4177;
constexpr int kPictureFirstLine = 40;     // row 0
constexpr int kPictureSecondBlock = 245;  // row 204
constexpr int kKernelFirstLine = 311;     // "LOOP"
constexpr int kKernelLastLine = 4176;     // "    rts"
constexpr int kPictureRowsFirstBlock = 204;

QString hexItem(int value)
{
    return QStringLiteral("$%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QByteArray bytesFromHex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// A picture whose luminances and hues vary from byte to byte, with hue nibbles in the output
// bytes that neither export may write. Hue table entries keep a zero low nibble, as a converted
// picture does, and cover all 16 hues including 15 (a written $F0 that the scan must not revisit).
// Changes pic's converted picture: change(out, hues) gets copies of its output bytes and hue
// table, which then replace them.
template <typename Change>
void edit(ATARIpic &pic, Change change)
{
    std::vector<quint8> out(pic.outputBytes(), pic.outputBytes() + Geometry::kAtariPixels);
    std::vector<quint8> hues(pic.hueTable(), pic.hueTable() + Geometry::kHues);
    change(out.data(), hues.data());
    pic.setConverted(out.data(), hues.data());
}

void fillVaried(ATARIpic &pic)
{
    edit(pic, [](quint8 *out, quint8 *hues) {
        for (int i = 0; i < Geometry::kAtariPixels; ++i)
            out[i] = quint8(((i * 5 + 3) % 16) << 4 | ((i * 7 + i / 80) % 16));
        for (int j = 0; j < Geometry::kHues; ++j)
            hues[j] = quint8(((j * 11 + j / 13) % 16) << 4);
    });
}

void fillUniform(ATARIpic &pic, quint8 outputByte, quint8 hue)
{
    edit(pic, [=](quint8 *out, quint8 *hues) {
        std::fill_n(out, Geometry::kAtariPixels, outputByte);
        std::fill_n(hues, Geometry::kHues, hue);
    });
}

QString sourceText(ATARIpic &pic)
{
    QString text;
    QTextStream stream(&text);
    pic.saveASM(stream);
    stream.flush();
    return text;
}

// Lines of the source text, numbered from 1 (index 0 is unused), without their line ends.
QStringList sourceLines(ATARIpic &pic)
{
    QStringList lines = sourceText(pic).split(QLatin1Char('\n'));
    lines.removeLast(); // the text after the last line end
    lines.prepend(QString());
    return lines;
}

QByteArray executable(ATARIpic &pic)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    pic.saveXEX(stream);
    return bytes;
}

QByteArray storedTemplate()
{
    const auto &t = AtariProgram::basexex();
    return QByteArray(reinterpret_cast<const char *>(t.data()), int(t.size()));
}

// File offsets of the 1560 hue operands, in hue table order, as the executable layout places them.
QVector<int> hueOffsets()
{
    QVector<int> offsets;
    for (int i = 0; i < 7; ++i)
        offsets << 10506 + 5 * i;
    for (int i = 0; i < 6; ++i)
        offsets << 10554 + 5 * i;
    for (int p = 1; p < Geometry::kLinePairs; ++p) {
        const int b = 10591 + 92 * (p - 1);
        for (int i = 0; i < 7; ++i)
            offsets << b + 7 + 5 * i;
        for (int i = 0; i < 6; ++i)
            offsets << b + 55 + 5 * i;
    }
    return offsets;
}

// File offset of picture byte k (0 to 9599, 40 per row): rows 204 on follow the 16-byte gap.
int pictureOffset(int k)
{
    return k < kPictureRowsFirstBlock * 40 ? 28 + k : 8204 + (k - kPictureRowsFirstBlock * 40);
}

// Source line that carries hue table entry j.
int hueLine(int j)
{
    const int p = j / 13;
    const int s = j % 13;
    const int block = p == 0 ? 329 : 355 + 32 * (p - 1) + 6;
    return block + (s < 7 ? s : 7 + 1 + 8 + (s - 7));
}

// The executable built byte by byte from its layout, with placeholders $FF and $F0.
QByteArray layoutTemplate()
{
    QByteArray t = bytesFromHex("FFFF E002 E102 D34A 0020 9F45");
    t += QByteArray(16, '\0');
    t += QByteArray(204 * 40, '\xFF');
    t += QByteArray(16, '\0');
    t += QByteArray(36 * 40, '\xFF');
    t += bytesFromHex("0048 9376");
    auto entry = [&t](quint8 op, int address) {
        t += char(op);
        t += char(address & 0xFF);
        t += char(address >> 8);
    };
    for (int n = 0; n < 204; ++n)
        entry(0x4F, 0x2010 + 40 * n);
    for (int n = 0; n < 36; ++n)
        entry(0x4F, 0x4000 + 40 * n);
    entry(0x41, 0x4800);
    const int setup[][2] = {{0x00, 0x022F}, {0x40, 0x026F}, {0x00, 0x0230}, {0x48, 0x0231}, {0x00, 0x02C0},
                            {0x00, 0x02C1}, {0x00, 0x02C2}, {0x00, 0x02C3}, {0x00, 0x02C4}, {0x00, 0x02C5},
                            {0x00, 0x02C6}, {0x00, 0x02C7}, {0x00, 0x02C8}, {0xFF, 0xD00D}, {0xFF, 0xD00E},
                            {0x03, 0xD008}, {0x03, 0xD009}, {0x10, 0xD000}, {0xD0, 0xD001}, {0x22, 0x022F}};
    for (const auto &store : setup) {
        t += char(0xA9);
        t += char(store[0]);
        entry(0x8D, store[1]);
    }
    const QByteArray colour = bytesFromHex("A9F0 8D1A D0");
    const QByteArray black = bytesFromHex("A900 8D1A D0");
    const QByteArray nop(1, '\xEA');
    t += bytesFromHex("AD0BD4 C902 D0F9") + black + bytesFromHex("8D0AD4").repeated(4) + bytesFromHex("A500")
        + nop.repeated(8);
    for (int p = 0; p < Geometry::kLinePairs; ++p) {
        if (p > 0)
            t += nop.repeated(6);
        t += colour.repeated(7) + black + nop.repeated(8) + colour.repeated(6) + black + nop.repeated(3);
    }
    t += black + bytesFromHex("AD10D0 F016 AD11D0 F011 AD1FD0 2901 F00A AD0FD2 2904 F003 4C374B 60");
    return t;
}

// The kernel lines (LOOP to rts) in their required order, with hue texts from hues.
QStringList expectedKernel(const quint8 *hues)
{
    const QString nop = QStringLiteral("    nop");
    const QString black = QStringLiteral("    pc($00)");
    QStringList k{QStringLiteral("LOOP"), QStringLiteral("    lda VCOUNT"), QStringLiteral("    cmp #$02"),
                  QStringLiteral("    bne LOOP"), black};
    for (int i = 0; i < 4; ++i)
        k << QStringLiteral("    sta WSYNC");
    k << QStringLiteral("    lda 0");
    for (int i = 0; i < 8; ++i)
        k << nop;
    int j = 0;
    auto hue = [&]() { return QStringLiteral("    pc(%1)").arg(hexItem(hues[j++])); };
    for (int p = 0; p < Geometry::kLinePairs; ++p) {
        for (int i = 0; p > 0 && i < 6; ++i)
            k << nop;
        for (int i = 0; i < 7; ++i)
            k << hue();
        k << black;
        for (int i = 0; i < 8; ++i)
            k << nop;
        for (int i = 0; i < 6; ++i)
            k << hue();
        k << black;
        for (int i = 0; i < 3; ++i)
            k << nop;
    }
    k << black << QStringLiteral("    lda TRIG0") << QStringLiteral("    beq STOP") << QStringLiteral("    lda TRIG1")
      << QStringLiteral("    beq STOP") << QStringLiteral("    lda CONSOL") << QStringLiteral("    and #1")
      << QStringLiteral("    beq STOP") << QStringLiteral("    lda SKCTL") << QStringLiteral("    and #$04")
      << QStringLiteral("    beq STOP") << QStringLiteral("    jmp LOOP") << QStringLiteral("STOP")
      << QStringLiteral("    rts");
    return k;
}

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    Q_DISABLE_COPY(FileSizeLimit)

    bool active = false;

private:
    rlimit previous{};
    void (*previousHandler)(int) = nullptr;
};

} // namespace

class tst_Export : public QObject
{
    Q_OBJECT

private slots:
    void sourceShape();
    void sourceFixedLines_data();
    void sourceFixedLines();
    void sourcePictureLines();
    void sourcePictureItems_data();
    void sourcePictureItems();
    void sourceWritesOnlyLuminance();
    void sourceKernel();
    void sourceHueLines_data();
    void sourceHueLines();
    void sourceSingleHue();
    void sourceRepeatsAndKeepsCursor();
    void rhWalksTableAndStops();

    void templateBytes_data();
    void templateBytes();
    void fillPlaceholders_data();
    void fillPlaceholders();
    void fillMapsEveryPlaceholder_data();
    void fillMapsEveryPlaceholder();
    void fillLeavesLookalikes();

    void sourceAndExecutableAgree_data();
    void sourceAndExecutableAgree();

    void savedFilesRepeat();
    void failedSaveKeepsTarget_data();
    void failedSaveKeepsTarget();
};

void tst_Export::sourceShape()
{
    auto pic = std::make_unique<ATARIpic>();
    fillVaried(*pic);
    const QString text = sourceText(*pic);
    QVERIFY(text.endsWith(QLatin1String("\n    rts\n\n")));
    QVERIFY(!text.contains(QLatin1Char('\r')));
    QCOMPARE(text.count(QLatin1Char('\n')), kSourceLines);
    for (const QChar c : text)
        QVERIFY2(c.unicode() < 128, "the source is plain ASCII");

    const QStringList lines = sourceLines(*pic);
    QCOMPARE(lines.size(), kSourceLines + 1);
    QVERIFY2(lines.at(3).startsWith(QLatin1String("; ")) && lines.at(3).size() > 2, qPrintable(lines.at(3)));
    for (int n = 1; n <= kSourceLines; ++n) {
        const QString &line = lines.at(n);
        if (line.isEmpty() || !line.at(0).isSpace())
            continue;
        QVERIFY2(line.startsWith(QLatin1String("    ")) && !line.at(4).isSpace(),
                 qPrintable(QStringLiteral("line %1 is not indented by four spaces: '%2'").arg(n).arg(line)));
    }
}

void tst_Export::sourceFixedLines_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("text");

    const QStringList fixed[] = {
        {QStringLiteral("1"), QStringLiteral(";")},
        {QStringLiteral("2"), QStringLiteral("; Rastrel Zo9")},
        {QStringLiteral("4"), QStringLiteral(";")},
        {QStringLiteral("5"), QString()},
        {QStringLiteral("6"), QStringLiteral("DMACTLS = $022F;")},
        {QStringLiteral("7"), QStringLiteral("DLPTRS  = $0230;")},
        {QStringLiteral("8"), QStringLiteral("GTICTLS = $026F;")},
        {QStringLiteral("9"), QStringLiteral("COLPM0S = $02C0;")},
        {QStringLiteral("10"), QStringLiteral("COLPM1S = $02C1;")},
        {QStringLiteral("11"), QStringLiteral("COLPM2S = $02C2;")},
        {QStringLiteral("12"), QStringLiteral("COLPM3S = $02C3;")},
        {QStringLiteral("13"), QStringLiteral("COLPF0S = $02C4;")},
        {QStringLiteral("14"), QStringLiteral("COLPF1S = $02C5;")},
        {QStringLiteral("15"), QStringLiteral("COLPF2S = $02C6;")},
        {QStringLiteral("16"), QStringLiteral("COLPF3S = $02C7;")},
        {QStringLiteral("17"), QStringLiteral("COLBAKS = $02C8;")},
        {QStringLiteral("18"), QStringLiteral("HPOSP0  = $D000;")},
        {QStringLiteral("19"), QStringLiteral("HPOSP1  = $D001;")},
        {QStringLiteral("20"), QStringLiteral("SIZEP0  = $D008;")},
        {QStringLiteral("21"), QStringLiteral("SIZEP1  = $D009;")},
        {QStringLiteral("22"), QStringLiteral("GRAFP0  = $D00D;")},
        {QStringLiteral("23"), QStringLiteral("GRAFP1  = $D00E;")},
        {QStringLiteral("24"), QStringLiteral("COLBAK  = $D01A;")},
        {QStringLiteral("25"), QStringLiteral("TRIG0   = $D010;")},
        {QStringLiteral("26"), QStringLiteral("TRIG1   = $D011;")},
        {QStringLiteral("27"), QStringLiteral("CONSOL  = $D01F;")},
        {QStringLiteral("28"), QStringLiteral("SKCTL   = $D20F;")},
        {QStringLiteral("29"), QStringLiteral("WSYNC   = $D40A")},
        {QStringLiteral("30"), QStringLiteral("VCOUNT  = $D40B;")},
        {QStringLiteral("31"), QString()},
        {QStringLiteral("32"), QStringLiteral(".define poke mva #%%2 %%1")},
        {QStringLiteral("33"), QStringLiteral(".define pc mva #%%1 COLBAK")},
        {QStringLiteral("34"), QString()},
        {QStringLiteral("35"), QStringLiteral("    org $2000")},
        {QStringLiteral("36"), QStringLiteral("    run MAIN")},
        {QStringLiteral("37"), QString()},
        {QStringLiteral("38"), QStringLiteral("    :16 .byte 0")},
        {QStringLiteral("39"), QStringLiteral("PICTURE")},
        {QStringLiteral("244"), QStringLiteral("    :16 .byte 0")},
        {QStringLiteral("281"), QStringLiteral(".ALIGN $0400")},
        {QStringLiteral("282"), QStringLiteral("ANT ANTIC_PROGRAM PICTURE,ANT")},
        {QStringLiteral("283"), QString()},
        {QStringLiteral("284"), QStringLiteral(".MACRO ANTIC_PROGRAM")},
        {QStringLiteral("285"), QStringLiteral("    :+204 dta $4F,a(:1+$0000+#*40)")},
        {QStringLiteral("286"), QStringLiteral("    :+36 dta $4F,a(:1+$1FF0+#*40)")},
        {QStringLiteral("287"), QStringLiteral("    dta $41,a(:2)")},
        {QStringLiteral("288"), QStringLiteral(".ENDM")},
        {QStringLiteral("289"), QString()},
        {QStringLiteral("290"), QStringLiteral("MAIN")},
        {QStringLiteral("291"), QStringLiteral("    poke(DMACTLS,0)")},
        {QStringLiteral("292"), QStringLiteral("    poke(GTICTLS,$40)")},
        {QStringLiteral("293"), QStringLiteral("    mva <ANT DLPTRS")},
        {QStringLiteral("294"), QStringLiteral("    mva >ANT DLPTRS+1")},
        {QStringLiteral("295"), QStringLiteral("    poke(COLPM0S,$00)")},
        {QStringLiteral("296"), QStringLiteral("    poke(COLPM1S,$00)")},
        {QStringLiteral("297"), QStringLiteral("    poke(COLPM2S,$00)")},
        {QStringLiteral("298"), QStringLiteral("    poke(COLPM3S,$00)")},
        {QStringLiteral("299"), QStringLiteral("    poke(COLPF0S,$00)")},
        {QStringLiteral("300"), QStringLiteral("    poke(COLPF1S,$00)")},
        {QStringLiteral("301"), QStringLiteral("    poke(COLPF2S,$00)")},
        {QStringLiteral("302"), QStringLiteral("    poke(COLPF3S,$00)")},
        {QStringLiteral("303"), QStringLiteral("    poke(COLBAKS,$00)")},
        {QStringLiteral("304"), QStringLiteral("    poke(GRAFP0,$FF)")},
        {QStringLiteral("305"), QStringLiteral("    poke(GRAFP1,$FF)")},
        {QStringLiteral("306"), QStringLiteral("    poke(SIZEP0,$03)")},
        {QStringLiteral("307"), QStringLiteral("    poke(SIZEP1,$03)")},
        {QStringLiteral("308"), QStringLiteral("    poke(HPOSP0,$10)")},
        {QStringLiteral("309"), QStringLiteral("    poke(HPOSP1,$D0)")},
        {QStringLiteral("310"), QStringLiteral("    poke(DMACTLS,$22)")},
        {QStringLiteral("311"), QStringLiteral("LOOP")},
        {QStringLiteral("315"), QStringLiteral("    pc($00)")},
        {QStringLiteral("320"), QStringLiteral("    lda 0")},
        {QStringLiteral("4163"), QStringLiteral("    pc($00)")},
        {QStringLiteral("4174"), QStringLiteral("    jmp LOOP")},
        {QStringLiteral("4175"), QStringLiteral("STOP")},
        {QStringLiteral("4176"), QStringLiteral("    rts")},
        {QStringLiteral("4177"), QString()},
    };
    for (const QStringList &row : fixed)
        QTest::newRow(qPrintable(QStringLiteral("line ") + row.at(0))) << row.at(0).toInt() << row.at(1);
}

void tst_Export::sourceFixedLines()
{
    QFETCH(int, line);
    QFETCH(QString, text);

    auto pic = std::make_unique<ATARIpic>();
    fillVaried(*pic);
    const QStringList lines = sourceLines(*pic);
    QVERIFY(line < lines.size());
    QCOMPARE(lines.at(line), text);
}

void tst_Export::sourcePictureLines()
{
    auto pic = std::make_unique<ATARIpic>();
    fillVaried(*pic);
    const QStringList lines = sourceLines(*pic);
    QCOMPARE(lines.size(), kSourceLines + 1);

    const quint8 *out = pic->outputBytes();
    for (int row = 0; row < Geometry::kSourceHeight; ++row) {
        QStringList items;
        for (int k = 0; k < 40; ++k) {
            const int left = out[80 * row + 2 * k] & 0x0F;
            const int right = out[80 * row + 2 * k + 1] & 0x0F;
            items << hexItem(left << 4 | right);
        }
        const QString expected = QStringLiteral("    dta ") + items.join(QLatin1String(", "));
        const int line = row < kPictureRowsFirstBlock ? kPictureFirstLine + row
                                                      : kPictureSecondBlock + row - kPictureRowsFirstBlock;
        QCOMPARE(lines.at(line).size(), 206);
        QVERIFY2(lines.at(line) == expected, qPrintable(QStringLiteral("row %1, line %2").arg(row).arg(line)));
    }
}

void tst_Export::sourcePictureItems_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<quint8>("left");
    QTest::addColumn<quint8>("right");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("text");

    QTest::newRow("first pixels") << 0 << quint8(0x5A) << quint8(0x3C) << 40 << 0 << QStringLiteral("$AC");
    QTest::newRow("end of row 0") << 78 << quint8(0x01) << quint8(0xFE) << 40 << 39 << QStringLiteral("$1E");
    QTest::newRow("start of row 1") << 80 << quint8(0xE9) << quint8(0x70) << 41 << 0 << QStringLiteral("$90");
    QTest::newRow("end of row 203") << 203 * 80 + 78 << quint8(0x44) << quint8(0xB8) << 243 << 39
                                    << QStringLiteral("$48");
    QTest::newRow("start of row 204") << 204 * 80 << quint8(0x0D) << quint8(0xC2) << 245 << 0
                                      << QStringLiteral("$D2");
    QTest::newRow("last pixels") << 19198 << quint8(0x2B) << quint8(0x97) << 280 << 39 << QStringLiteral("$B7");
}

void tst_Export::sourcePictureItems()
{
    QFETCH(int, index);
    QFETCH(quint8, left);
    QFETCH(quint8, right);
    QFETCH(int, line);
    QFETCH(int, item);
    QFETCH(QString, text);

    auto pic = std::make_unique<ATARIpic>();
    fillUniform(*pic, 0x66, 0x20);
    edit(*pic, [&](quint8 *out, quint8 *) {
        out[index] = left;
        out[index + 1] = right;
    });
    const QStringList lines = sourceLines(*pic);
    QVERIFY(lines.at(line).startsWith(QLatin1String("    dta ")));
    const QStringList items = lines.at(line).mid(8).split(QLatin1String(", "));
    QCOMPARE(items.size(), 40);
    QCOMPARE(items.at(item), text);
    QCOMPARE(items.count(QStringLiteral("$66")), 39);
}

void tst_Export::sourceWritesOnlyLuminance()
{
    auto pic = std::make_unique<ATARIpic>();
    fillUniform(*pic, 0, 0x40);
    edit(*pic, [](quint8 *out, quint8 *) {
        for (int i = 0; i < Geometry::kAtariPixels; ++i)
            out[i] = quint8((i % 15 + 1) << 4);
    });
    const QStringList lines = sourceLines(*pic);
    for (int line = kPictureFirstLine; line <= 280; ++line) {
        if (line == 244)
            continue;
        const QStringList items = lines.at(line).mid(8).split(QLatin1String(", "));
        QCOMPARE(items.size(), 40);
        QCOMPARE(items.count(QStringLiteral("$00")), 40);
    }
}

void tst_Export::sourceKernel()
{
    auto pic = std::make_unique<ATARIpic>();
    fillVaried(*pic);
    const QStringList lines = sourceLines(*pic);
    const QStringList expected = expectedKernel(pic->hueTable());
    QCOMPARE(expected.size(), kKernelLastLine - kKernelFirstLine + 1);
    for (int i = 0; i < expected.size(); ++i) {
        const int line = kKernelFirstLine + i;
        QVERIFY2(lines.at(line) == expected.at(i),
                 qPrintable(QStringLiteral("line %1: '%2', expected '%3'").arg(line).arg(lines.at(line), expected.at(i))));
    }
    for (int p = 1; p < Geometry::kLinePairs; ++p) {
        const int start = 355 + 32 * (p - 1);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(lines.at(start + i), QStringLiteral("    nop"));
        QVERIFY(lines.at(start + 6).startsWith(QLatin1String("    pc(")));
        QCOMPARE(lines.at(start - 1), QStringLiteral("    nop"));
    }
}

void tst_Export::sourceHueLines_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("line");

    QTest::newRow("entry 0") << 0 << 329;
    QTest::newRow("entry 6") << 6 << 335;
    QTest::newRow("entry 7") << 7 << 345;
    QTest::newRow("entry 12") << 12 << 350;
    QTest::newRow("entry 13") << 13 << 361;
    QTest::newRow("entry 26") << 26 << 393;
    QTest::newRow("entry 1559") << 1559 << 4158;
}

void tst_Export::sourceHueLines()
{
    QFETCH(int, entry);
    QFETCH(int, line);

    auto pic = std::make_unique<ATARIpic>();
    fillUniform(*pic, 0x11, 0x30);
    edit(*pic, [&](quint8 *, quint8 *hues) { hues[entry] = 0xA0; });
    const QStringList lines = sourceLines(*pic);
    QCOMPARE(lines.at(line), QStringLiteral("    pc($A0)"));
    QCOMPARE(lines.count(QStringLiteral("    pc($A0)")), 1);
    QCOMPARE(hueLine(entry), line);
}

void tst_Export::sourceSingleHue()
{
    auto pic = std::make_unique<ATARIpic>();
    fillUniform(*pic, 0x35, 0x30);
    const QStringList lines = sourceLines(*pic);
    QCOMPARE(lines.count(QStringLiteral("    pc($30)")), Geometry::kHues);
    QCOMPARE(lines.at(329), QStringLiteral("    pc($30)"));
    QCOMPARE(lines.at(4158), QStringLiteral("    pc($30)"));
    // Two blacks per line pair, one before the first pair and one after the last.
    QCOMPARE(lines.count(QStringLiteral("    pc($00)")), 2 * Geometry::kLinePairs + 2);
    int colourWrites = 0;
    for (const QString &line : lines)
        colourWrites += line.startsWith(QLatin1String("    pc(")) ? 1 : 0;
    QCOMPARE(colourWrites, Geometry::kHues + 2 * Geometry::kLinePairs + 2);
}

void tst_Export::sourceRepeatsAndKeepsCursor()
{
    auto pic = std::make_unique<ATARIpic>();
    fillVaried(*pic);
    edit(*pic, [](quint8 *, quint8 *hues) { hues[1559] = 0xE0; });
    const QString first = sourceText(*pic);
    QCOMPARE(pic->hueCursor(), quint32(0));
    QVERIFY(first.contains(QStringLiteral("pc($E0)")));
    pic->rh();
    const QString second = sourceText(*pic);
    QCOMPARE(pic->hueCursor(), quint32(1));
    QCOMPARE(second, first);
}

void tst_Export::rhWalksTableAndStops()
{
    auto pic = std::make_unique<ATARIpic>();
    edit(*pic, [](quint8 *, quint8 *hues) {
        for (int j = 0; j < Geometry::kHues; ++j)
            hues[j] = quint8(j);
    });

    for (int round = 0; round < 2; ++round) {
        pic->reset();
        QCOMPARE(pic->hueCursor(), quint32(0));
        for (int call = 0; call < 1561; ++call) {
            const int entry = qMin(call, 1559);
            QCOMPARE(QString::fromLatin1(pic->rh()), hexItem(entry & 0xFF));
            QCOMPARE(pic->hueCursor(), quint32(qMin(call + 1, 1559)));
        }
        // 1559 = $617: the last two calls both read entry 1559, whose byte is $17.
        QCOMPARE(QString::fromLatin1(pic->rh()), QStringLiteral("$17"));
        QCOMPARE(pic->hueCursor(), quint32(1559));
    }

    edit(*pic, [](quint8 *, quint8 *hues) { hues[0] = 0xAB; });
    pic->reset();
    const char *text = pic->rh();
    QCOMPARE(QByteArray(text), QByteArray("$AB"));
    QCOMPARE(text[3], '\0');
}

void tst_Export::templateBytes_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("whole file, byte by byte from its layout") << 0 << layoutTemplate();
    QTest::newRow("header and run segment") << 0 << bytesFromHex("FFFF E002 E102 D34A");
    QTest::newRow("picture segment head") << 8 << bytesFromHex("0020 9F45");
    QTest::newRow("zero gap before picture") << 12 << QByteArray(16, '\0');
    QTest::newRow("zero gap at 4K boundary") << 8188 << QByteArray(16, '\0');
    QTest::newRow("program segment head") << 9644 << bytesFromHex("0048 9376");
    QTest::newRow("first display list entry") << 9648 << bytesFromHex("4F1020");
    QTest::newRow("row 12 entry") << 9684 << bytesFromHex("4FF021");
    QTest::newRow("row 204 entry") << 9648 + 3 * 204 << bytesFromHex("4F0040");
    QTest::newRow("display list end") << 10365 << bytesFromHex("4F7845 410048");
    QTest::newRow("set-up start") << 10371 << bytesFromHex("A9008D2F02 A9408D6F02 A9008D3002 A9488D3102");
    QTest::newRow("set-up end") << 10436 << bytesFromHex("A9FF8D0DD0 A9FF8D0ED0 A9038D08D0 A9038D09D0 "
                                                        "A9108D00D0 A9D08D01D0 A9228D2F02");
    QTest::newRow("frame wait") << 10471 << bytesFromHex("AD0BD4 C902 D0F9 A9008D1AD0 8D0AD4 8D0AD4 8D0AD4 "
                                                         "8D0AD4 A500 EAEAEAEAEAEAEAEA");
    QTest::newRow("pair 0 middle") << 10540 << bytesFromHex("A9008D1AD0 EAEAEAEAEAEAEAEA A9F08D1AD0");
    QTest::newRow("pair 1 start") << 10591 << bytesFromHex("EAEAEAEAEAEA A9F08D1AD0");
    QTest::newRow("end") << 21539 << bytesFromHex("A9008D1AD0 AD10D0F016 AD11D0F011 AD1FD02901F00A "
                                                  "AD0FD22904F003 4C374B 60");
}

// The template against its layout, whole and at worked places; the scans that fill it start at its
// first placeholders.
void tst_Export::templateBytes()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);

    const QByteArray t = storedTemplate();
    QCOMPARE(t.size(), AtariProgram::kXexSize);
    QCOMPARE(t.mid(offset, bytes.size()).toHex(' '), bytes.toHex(' '));
    QCOMPARE(t.indexOf('\xFF', 2), AtariProgram::kPictureScanStart);
    QCOMPARE(t.indexOf('\xF0', AtariProgram::kHueScanStart), hueOffsets().first());
}

void tst_Export::fillPlaceholders_data()
{
    QTest::addColumn<int>("pixel");
    QTest::addColumn<quint8>("left");
    QTest::addColumn<quint8>("right");
    QTest::addColumn<int>("hueEntry");
    QTest::addColumn<quint8>("hue");
    QTest::addColumn<int>("offset");
    QTest::addColumn<quint8>("value");

    QTest::newRow("first picture byte") << 0 << quint8(0x5A) << quint8(0x3C) << -1 << quint8(0) << 28 << quint8(0xAC);
    QTest::newRow("last byte of row 203") << 203 * 80 + 78 << quint8(0x9E) << quint8(0x51) << -1 << quint8(0) << 8187
                                          << quint8(0xE1);
    QTest::newRow("first byte of row 204") << 204 * 80 << quint8(0x04) << quint8(0x4B) << -1 << quint8(0) << 8204
                                           << quint8(0x4B);
    QTest::newRow("last picture byte") << 19198 << quint8(0xB5) << quint8(0xE7) << -1 << quint8(0) << 9643
                                       << quint8(0x57);
    QTest::newRow("hue entry 0") << -1 << quint8(0) << quint8(0) << 0 << quint8(0x90) << 10506 << quint8(0x90);
    QTest::newRow("hue entry 12") << -1 << quint8(0) << quint8(0) << 12 << quint8(0x90) << 10579 << quint8(0x90);
    QTest::newRow("hue entry 13") << -1 << quint8(0) << quint8(0) << 13 << quint8(0x90) << 10598 << quint8(0x90);
    QTest::newRow("hue entry 1559") << -1 << quint8(0) << quint8(0) << 1559 << quint8(0x90) << 21527 << quint8(0x90);
    QTest::newRow("hue low nibble cleared") << -1 << quint8(0) << quint8(0) << 5 << quint8(0xF3) << 10531
                                            << quint8(0xF0);
    QTest::newRow("hue 0 after entry 7") << -1 << quint8(0) << quint8(0) << 7 << quint8(0x00) << 10554
                                         << quint8(0x00);
}

void tst_Export::fillPlaceholders()
{
    QFETCH(int, pixel);
    QFETCH(quint8, left);
    QFETCH(quint8, right);
    QFETCH(int, hueEntry);
    QFETCH(quint8, hue);
    QFETCH(int, offset);
    QFETCH(quint8, value);

    auto pic = std::make_unique<ATARIpic>();
    fillUniform(*pic, 0x22, 0x60);
    edit(*pic, [&](quint8 *out, quint8 *hues) {
        if (pixel >= 0) {
            out[pixel] = left;
            out[pixel + 1] = right;
        }
        if (hueEntry >= 0)
            hues[hueEntry] = hue;
    });

    std::array<quint8, AtariProgram::kXexSize> filled{};
    AtariProgram::fillExecutable(pic->outputBytes(), pic->hueTable(), filled);
    QCOMPARE(filled.at(size_t(offset)), value);
    QCOMPARE(quint8(executable(*pic).at(offset)), value);

    // Everything else keeps the uniform picture and hue.
    int pictureBytes = 0;
    for (int k = 0; k < Geometry::kPictureBytes; ++k)
        pictureBytes += filled.at(size_t(pictureOffset(k))) == 0x22 ? 1 : 0;
    QCOMPARE(pictureBytes, Geometry::kPictureBytes - (pixel >= 0 ? 1 : 0));
    int hueBytes = 0;
    for (int o : hueOffsets())
        hueBytes += filled.at(size_t(o)) == 0x60 ? 1 : 0;
    QCOMPARE(hueBytes, Geometry::kHues - (hueEntry >= 0 ? 1 : 0));
}

void tst_Export::fillMapsEveryPlaceholder_data()
{
    QTest::addColumn<int>("picture");
    QTest::newRow("varied, hue entries with low nibbles") << 0;
    QTest::newRow("luminance 15 and hue $F0 everywhere: the template itself") << 1;
    QTest::newRow("luminance 0 everywhere") << 2;
}

// Every picture byte and every hue goes to its place in the template, as the layout says, and
// nothing else changes; saving writes exactly the filled template.
void tst_Export::fillMapsEveryPlaceholder()
{
    QFETCH(int, picture);
    auto pic = std::make_unique<ATARIpic>();
    fillVaried(*pic);
    edit(*pic, [picture](quint8 *out, quint8 *hues) {
        for (int i = 0; i < Geometry::kAtariPixels; ++i)
            out[i] = picture == 0 ? out[i] : picture == 1 ? quint8(out[i] | 0x0F) : quint8(out[i] & 0xF0);
        for (int j = 0; j < Geometry::kHues; ++j)
            hues[j] = picture == 0 ? quint8(hues[j] | (j % 3 == 0 ? j % 16 : 0)) : picture == 1 ? 0xF0 : hues[j];
    });
    std::array<quint8, AtariProgram::kXexSize> filled{};
    AtariProgram::fillExecutable(pic->outputBytes(), pic->hueTable(), filled);

    const QByteArray t = storedTemplate();
    QByteArray expected = t;
    const quint8 *out = pic->outputBytes();
    for (int k = 0; k < Geometry::kPictureBytes; ++k)
        expected[pictureOffset(k)] = char((out[2 * k] & 0x0F) << 4 | (out[2 * k + 1] & 0x0F));
    const QVector<int> hues = hueOffsets();
    for (int j = 0; j < hues.size(); ++j)
        expected[hues.at(j)] = char(pic->hueTable()[j] & 0xF0);
    if (picture == 1)
        QCOMPARE(expected, t);
    for (int i = 0; i < AtariProgram::kXexSize; ++i)
        QVERIFY2(filled.at(size_t(i)) == quint8(expected.at(i)), qPrintable(QStringLiteral("offset %1").arg(i)));
    const QByteArray x = executable(*pic);
    QCOMPARE(x, QByteArray(reinterpret_cast<const char *>(filled.data()), int(filled.size())));
    QCOMPARE(executable(*pic), x);
}

void tst_Export::fillLeavesLookalikes()
{
    auto pic = std::make_unique<ATARIpic>();
    fillUniform(*pic, 0x00, 0x00);
    const QByteArray x = executable(*pic);
    for (int offset : {0, 1, 10437, 10442})
        QVERIFY2(quint8(x.at(offset)) == 0xFF, qPrintable(QStringLiteral("offset %1").arg(offset)));
    for (int offset : {9685, 9781, 9877, 9973, 10069, 10165, 10279, 21547, 21552, 21559, 21566})
        QVERIFY2(quint8(x.at(offset)) == 0xF0, qPrintable(QStringLiteral("offset %1").arg(offset)));
    QCOMPARE(x.mid(28, 9643 - 28 + 1).count('\xFF'), 0);
    QCOMPARE(x.mid(10505, 21527 - 10505 + 1).count('\xF0'), 0);
}

void tst_Export::sourceAndExecutableAgree_data()
{
    QTest::addColumn<bool>("placeholders");

    QTest::newRow("template") << true;
    QTest::newRow("varied picture") << false;
}

void tst_Export::sourceAndExecutableAgree()
{
    QFETCH(bool, placeholders);

    auto pic = std::make_unique<ATARIpic>();
    if (placeholders)
        fillUniform(*pic, 0x7F, 0xF0);
    else
        fillVaried(*pic);
    const QStringList lines = sourceLines(*pic);
    const QByteArray x = placeholders ? storedTemplate() : executable(*pic);
    QCOMPARE(x.size(), AtariProgram::kXexSize);

    MiniAssembler assembler;
    QVERIFY2(assembler.assemble(lines), qPrintable(assembler.error));

    int equates = 0;
    for (int line = 6; line <= 30; ++line)
        equates += lines.at(line).contains(QLatin1String(" = $")) ? 1 : 0;
    QCOMPARE(equates, 25);
    QCOMPARE(assembler.symbols.value(QStringLiteral("COLBAK")), 0xD01A);
    QCOMPARE(assembler.symbols.value(QStringLiteral("PICTURE")), 0x2010);
    QCOMPARE(assembler.symbols.value(QStringLiteral("ANT")), 0x4800);
    QCOMPARE(assembler.symbols.value(QStringLiteral("MAIN")), 0x4AD3);
    QCOMPARE(assembler.symbols.value(QStringLiteral("LOOP")), 0x4B37);
    QCOMPARE(assembler.symbols.value(QStringLiteral("STOP")), 0x7693);

    const QString difference = assembler.differenceFrom(lines, x);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    int kernelBytes = 0;
    for (const MiniAssembler::Emission &e : assembler.emissions) {
        if (e.line == kKernelFirstLine + 1)
            QCOMPARE(assembler.fileOffset(e), 10471);
        if (e.line >= kKernelFirstLine && e.line <= kKernelLastLine)
            kernelBytes += e.bytes.size();
    }
    QCOMPARE(kernelBytes, AtariProgram::kXexSize - 10471);
}

void tst_Export::savedFilesRepeat()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto pic = std::make_unique<ATARIpic>();
    fillVaried(*pic);
    const QString asm1 = dir.filePath(QStringLiteral("first.asm"));
    const QString asm2 = dir.filePath(QStringLiteral("second"));
    const QString xex1 = dir.filePath(QStringLiteral("first.xex"));
    const QString xex2 = dir.filePath(QStringLiteral("second.xex"));
    QString error;
    QVERIFY2(PictureExports::saveAsm(*pic, asm1, &error), qPrintable(error));
    QVERIFY2(PictureExports::saveAsm(*pic, asm2, &error), qPrintable(error));
    QVERIFY2(PictureExports::saveXex(*pic, xex1, &error), qPrintable(error));
    QVERIFY2(PictureExports::saveXex(*pic, xex2, &error), qPrintable(error));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);

    auto contents = [](const QString &name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
    };
    const QByteArray source = contents(asm1);
    QCOMPARE(source.count('\n'), kSourceLines);
    QVERIFY(source.endsWith("    rts\n\n"));
    QCOMPARE(contents(asm2), source);
    QCOMPARE(QString::fromLatin1(source), sourceText(*pic));

    const QByteArray program = contents(xex1);
    QCOMPARE(program.size(), AtariProgram::kXexSize);
    QCOMPARE(contents(xex2), program);
    QCOMPARE(program, executable(*pic));

    // Saving again over an existing file replaces it.
    fillUniform(*pic, 0x3F, 0xF0);
    QVERIFY2(PictureExports::saveXex(*pic, xex1, &error), qPrintable(error));
    QCOMPARE(contents(xex1), storedTemplate());
}

void tst_Export::failedSaveKeepsTarget_data()
{
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("kind");

    for (const char *kind : {"full disk", "missing directory", "parent is a file"}) {
        QTest::newRow(qPrintable(QStringLiteral("asm, %1").arg(QLatin1String(kind)))) << false << QString::fromLatin1(kind);
        QTest::newRow(qPrintable(QStringLiteral("xex, %1").arg(QLatin1String(kind)))) << true << QString::fromLatin1(kind);
    }
}

void tst_Export::failedSaveKeepsTarget()
{
    QFETCH(bool, executable);
    QFETCH(QString, kind);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray previous("previous contents\n");
    const QString existing = dir.filePath(executable ? QStringLiteral("picture.xex") : QStringLiteral("picture.asm"));
    {
        QFile f(existing);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(previous), qint64(previous.size()));
    }
    QString target = existing;
    if (kind == QLatin1String("missing directory"))
        target = dir.filePath(QStringLiteral("missing/out.bin"));
    else if (kind == QLatin1String("parent is a file"))
        target = existing + QStringLiteral("/out.bin");
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    auto pic = std::make_unique<ATARIpic>();
    fillVaried(*pic);
    QString error;
    bool saved = true;
    if (kind == QLatin1String("full disk")) {
        FileSizeLimit limit(4096);
        QVERIFY(limit.active);
        saved = executable ? PictureExports::saveXex(*pic, target, &error) : PictureExports::saveAsm(*pic, target, &error);
    } else {
        saved = executable ? PictureExports::saveXex(*pic, target, &error) : PictureExports::saveAsm(*pic, target, &error);
    }

    QVERIFY(!saved);
    QFile f(existing);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), previous);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
    // The caller adds the file name; the message itself must say why, not the toolkit's
    // text for a device error of unknown cause.
    QVERIFY(!error.trimmed().isEmpty());
    QVERIFY2(error != QFile().errorString(), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_Export)
#include "tst_export.moc"
