#include "atarigeometry.h"
#include "atariprogram.h"
#include "atariview.h"

#include <QFile>
#include <QtTest>

#include <array>
#include <vector>

using namespace Geometry;

// The view against screens captured from a cycle-exact emulation of the machine running two of
// our executables: every pixel of the picture area must match.
class TestAtariView : public QObject
{
    Q_OBJECT

private slots:
    void matchesCapturedScreen_data();
    void matchesCapturedScreen();
    void storesLandWithinAPixelOfTheirRun();
};

namespace {

constexpr int kScreenWidth = 384;
constexpr int kBorder = 32;

QByteArray readData(const QString &name)
{
    QFile file(QStringLiteral(RASTREL_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Offset in the executable of hue write s of line pair p, from the file layout.
int hueOffset(int p, int s)
{
    const int firstLine = s < kSegmentsFirstLine ? s : -1;
    const int secondLine = s - kSegmentsFirstLine;
    if (p == 0)
        return firstLine >= 0 ? 10506 + 5 * firstLine : 10554 + 5 * secondLine;
    const int block = 10591 + 92 * (p - 1);
    return firstLine >= 0 ? block + 7 + 5 * firstLine : block + 55 + 5 * secondLine;
}

} // namespace

void TestAtariView::matchesCapturedScreen_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("synthetic: every run boundary changes hue") << QStringLiteral("synthetic");
    QTest::newRow("rocket photo") << QStringLiteral("rocket");
}

void TestAtariView::matchesCapturedScreen()
{
    QFETCH(QString, name);
    const QByteArray xex = readData(name + QStringLiteral(".xex"));
    const QByteArray screen = readData(name + QStringLiteral(".screen"));
    QCOMPARE(xex.size(), AtariProgram::kXexSize);
    QCOMPARE(screen.size(), kScreenWidth * kSourceHeight);

    // Unpack the picture and the run hues from their places in the file.
    std::vector<quint8> output(kAtariPixels);
    std::vector<quint8> hues(kHues);
    const QByteArray picture = xex.mid(28, 8160) + xex.mid(8204, 1440);
    for (int k = 0; k < kPictureBytes; ++k) {
        output[2 * k] = quint8(picture[k]) >> 4;
        output[2 * k + 1] = quint8(picture[k]) & 0x0F;
    }
    for (int p = 0; p < kLinePairs; ++p) {
        for (int s = 0; s < kSegmentsPerPair; ++s)
            hues[kSegmentsPerPair * p + s] = quint8(xex[hueOffset(p, s)]);
    }

    // Our writer turns these back into the very same file.
    std::array<quint8, AtariProgram::kXexSize> written;
    AtariProgram::fillExecutable(output.data(), hues.data(), written);
    QVERIFY(std::equal(written.begin(), written.end(), reinterpret_cast<const quint8 *>(xex.constData())));

    std::vector<quint8> view(AtariView::kWidth * AtariView::kHeight);
    AtariView::render(output.data(), hues.data(), view.data());
    int mismatches = 0;
    QString first;
    for (int y = 0; y < AtariView::kHeight; ++y) {
        for (int x = 0; x < AtariView::kWidth; ++x) {
            const quint8 shown = quint8(screen[y * kScreenWidth + kBorder + x]);
            const quint8 ours = view[y * AtariView::kWidth + x];
            if (shown != ours && mismatches++ == 0)
                first = QStringLiteral("row %1 column %2: screen %3, view %4").arg(y).arg(x).arg(shown, 2, 16).arg(ours, 2, 16);
        }
    }
    QVERIFY2(mismatches == 0, qPrintable(QStringLiteral("%1 pixels differ, first at %2").arg(mismatches).arg(first)));
}

// Where one run's colour ends and the next begins, the view may be off the run boundary by less
// than one Atari pixel, never more: each store lands within a pixel of its run's start.
void TestAtariView::storesLandWithinAPixelOfTheirRun()
{
    int count = 0;
    const AtariView::Landing *landings = AtariView::landings(&count);
    QCOMPARE(count, kHues + 2 * kLinePairs);
    int hueStores = 0;
    for (int i = 0; i < count; ++i) {
        const AtariView::Landing &l = landings[i];
        if (l.hueIndex < 0) {
            QCOMPARE(l.value, quint8(0));
            continue;
        }
        QCOMPARE(l.hueIndex, hueStores++);
        const int pair = l.hueIndex / kSegmentsPerPair;
        const int segment = l.hueIndex % kSegmentsPerPair;
        const bool secondLine = segment >= kSegmentsFirstLine;
        QCOMPARE(l.row, 2 * pair + (secondLine ? 1 : 0));
        int start = 0;
        for (int s = secondLine ? kSegmentsFirstLine : 0; s < segment; ++s)
            start += kSegmentLengths[s];
        const int runStart = start * kSourcePerAtari;
        // The first run of a line must be in place before the line's first pixel.
        if (start == 0)
            QVERIFY2(l.column <= 0, qPrintable(QString::number(l.hueIndex)));
        else
            QVERIFY2(qAbs(l.column - runStart) < kSourcePerAtari, qPrintable(QString::number(l.hueIndex)));
    }
}

QTEST_GUILESS_MAIN(TestAtariView)
#include "tst_atariview.moc"
