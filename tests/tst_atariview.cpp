#include "atarigeometry.h"
#include "atariprogram.h"
#include "atariview.h"
#include "twoframeprogram.h"
#include "xexcontents.h"

#include <QFile>
#include <QtTest>

#include <array>
#include <vector>

using namespace Geometry;

// The view against screens captured from a cycle-exact emulation of the machine running our
// executables, of one frame and of two: every pixel of the picture area must match.
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
    QTest::addColumn<int>("frames");
    QTest::newRow("synthetic: every run boundary changes hue") << QStringLiteral("synthetic") << 1;
    QTest::newRow("rocket photo") << QStringLiteral("rocket") << 1;
    QTest::newRow("two frames, synthetic: every run boundary changes hue, in both frames")
        << QStringLiteral("twoframe-pattern") << 2;
    QTest::newRow("two frames, chelsea photo: classic in frame A, best in frame B") << QStringLiteral("twoframe-chelsea")
                                                                                    << 2;
}

// One frame: the picture and the hues are read from their places in the file. Two frames: the frame
// the emulation showed 100 frames after loading is frame A, the one before it frame B (see
// tests/data/README.md), each read through its display list and its kernel's hue writes.
void TestAtariView::matchesCapturedScreen()
{
    QFETCH(QString, name);
    QFETCH(int, frames);
    const QByteArray xex = readData(name + QStringLiteral(".xex"));
    Frame pictures[2];
    if (frames == 1) {
        QCOMPARE(xex.size(), AtariProgram::kXexSize);
        const QByteArray picture = xex.mid(28, 8160) + xex.mid(8204, 1440);
        for (int k = 0; k < kPictureBytes; ++k) {
            pictures[0].output[2 * k] = quint8(picture[k]) >> 4;
            pictures[0].output[2 * k + 1] = quint8(picture[k]) & 0x0F;
        }
        for (int p = 0; p < kLinePairs; ++p) {
            for (int s = 0; s < kSegmentsPerPair; ++s)
                pictures[0].hues[kSegmentsPerPair * p + s] = quint8(xex[hueOffset(p, s)]);
        }
        // Our writer turns these back into the very same file.
        std::array<quint8, AtariProgram::kXexSize> written;
        AtariProgram::fillExecutable(pictures[0].output.data(), pictures[0].hues.data(), written);
        QVERIFY(std::equal(written.begin(), written.end(), reinterpret_cast<const quint8 *>(xex.constData())));
    } else {
        QCOMPARE(xex.size(), TwoFrameProgram::kXexSize);
        QVERIFY(framesOf(memoryOf(xex), pictures));
        const std::vector<quint8> written = TwoFrameProgram::executable(
            pictures[0].output.data(), pictures[0].hues.data(), pictures[1].output.data(), pictures[1].hues.data());
        QVERIFY(std::equal(written.begin(), written.end(), reinterpret_cast<const quint8 *>(xex.constData())));
    }

    QByteArray screens[2];
    for (int f = 0; f < frames; ++f) {
        screens[f] = readData(name + (frames == 1 ? QStringLiteral(".screen") : f == 0 ? QStringLiteral(".a.screen")
                                                                                       : QStringLiteral(".b.screen")));
        QCOMPARE(screens[f].size(), kScreenWidth * kSourceHeight);
        std::vector<quint8> view(AtariView::kWidth * AtariView::kHeight);
        AtariView::render(pictures[f].output.data(), pictures[f].hues.data(), view.data());
        int mismatches = 0;
        QString first;
        for (int y = 0; y < AtariView::kHeight; ++y) {
            for (int x = 0; x < AtariView::kWidth; ++x) {
                const quint8 shown = quint8(screens[f][y * kScreenWidth + kBorder + x]);
                const quint8 ours = view[y * AtariView::kWidth + x];
                if (shown != ours && mismatches++ == 0)
                    first = QStringLiteral("frame %1, row %2 column %3: screen %4, view %5")
                                .arg(f).arg(y).arg(x).arg(shown, 2, 16).arg(ours, 2, 16);
            }
        }
        QVERIFY2(mismatches == 0, qPrintable(QStringLiteral("%1 pixels differ, first at %2").arg(mismatches).arg(first)));
    }
    // The two frames of a two-frame capture are really different pictures.
    if (frames == 2) {
        int differing = 0;
        for (int i = 0; i < screens[0].size(); ++i)
            differing += screens[0][i] != screens[1][i];
        QVERIFY2(differing > AtariView::kWidth * AtariView::kHeight / 2, qPrintable(QString::number(differing)));
    }
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
