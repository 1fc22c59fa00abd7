// Writes a two-frame executable and its assembler source from two single-frame executables
// (frame A and frame B), or from a synthetic pattern, for checking on an emulator:
//   two_frame_files A.xex B.xex OUT     writes OUT.xex and OUT.asm
//   two_frame_files --pattern OUT       the same for the synthetic pattern below
// It also writes OUT.a.screen and OUT.b.screen, AtariView::render of each frame in the layout
// of the emulator's captures: 384 x 240 bytes, the picture at columns 32 to 351, a black border.
#include "atarigeometry.h"
#include "atariprogram.h"
#include "atariview.h"
#include "twoframeprogram.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

using namespace Geometry;

namespace {

struct Frame
{
    std::vector<quint8> output = std::vector<quint8>(kAtariPixels);
    std::vector<quint8> hues = std::vector<quint8>(kHues);
};

// The picture and the run hues of a single-frame executable: they sit where the template
// has its placeholders.
bool readSingleFrame(const char *path, Frame &frame)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", path, qPrintable(file.errorString()));
        return false;
    }
    const QByteArray xex = file.readAll();
    const auto &base = AtariProgram::basexex();
    if (xex.size() != AtariProgram::kXexSize) {
        std::fprintf(stderr, "%s: not a single-frame executable\n", path);
        return false;
    }
    int n = 0;
    for (int i = AtariProgram::kPictureScanStart; n < kAtariPixels; ++i) {
        if (base[i] == AtariProgram::kPicturePlaceholder) {
            frame.output[n++] = quint8(xex[i]) >> 4;
            frame.output[n++] = quint8(xex[i]) & 0x0F;
        }
    }
    int j = 0;
    for (int i = AtariProgram::kHueScanStart; j < kHues; ++i) {
        if (base[i] == AtariProgram::kHuePlaceholder)
            frame.hues[j++] = quint8(xex[i]);
    }
    return true;
}

// Frame A: luminances from a fixed pseudo-random sequence, hue ((s + p) mod 15) + 1 for run s of
// line pair p. Frame B: other luminances, hue ((s + 2p + 7) mod 15) + 1. Every run boundary
// changes hue in both frames, and no pixel shows the same colour in both.
void pattern(Frame &a, Frame &b)
{
    quint32 state = 12345;
    for (int i = 0; i < kAtariPixels; ++i) {
        state = state * 1103515245u + 12345u;
        a.output[i] = (state >> 16) & 0x0F;
        b.output[i] = static_cast<quint8>((a.output[i] + 5 + (i % 7)) & 0x0F);
    }
    for (int p = 0; p < kLinePairs; ++p) {
        for (int s = 0; s < kSegmentsPerPair; ++s) {
            a.hues[p * kSegmentsPerPair + s] = static_cast<quint8>((((s + p) % 15) + 1) << 4);
            b.hues[p * kSegmentsPerPair + s] = static_cast<quint8>((((s + 2 * p + 7) % 15) + 1) << 4);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    Frame a;
    Frame b;
    QString out;
    if (argc == 3 && QByteArray(argv[1]) == "--pattern") {
        pattern(a, b);
        out = QString::fromLocal8Bit(argv[2]);
    } else if (argc == 4) {
        if (!readSingleFrame(argv[1], a) || !readSingleFrame(argv[2], b))
            return 1;
        out = QString::fromLocal8Bit(argv[3]);
    } else {
        std::fprintf(stderr, "usage: two_frame_files A.xex B.xex OUT | --pattern OUT\n");
        return 1;
    }

    const std::vector<quint8> xex =
        TwoFrameProgram::executable(a.output.data(), a.hues.data(), b.output.data(), b.hues.data());
    QFile xexFile(out + QStringLiteral(".xex"));
    if (!xexFile.open(QIODevice::WriteOnly)
        || xexFile.write(reinterpret_cast<const char *>(xex.data()), qint64(xex.size())) != qint64(xex.size())) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(xexFile.fileName()), qPrintable(xexFile.errorString()));
        return 1;
    }
    QFile asmFile(out + QStringLiteral(".asm"));
    if (!asmFile.open(QIODevice::WriteOnly | QIODevice::Text)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(asmFile.fileName()), qPrintable(asmFile.errorString()));
        return 1;
    }
    for (const auto &view : {std::make_pair(&a, ".a.screen"), std::make_pair(&b, ".b.screen")}) {
        constexpr int kCaptureWidth = 384;
        constexpr int kBorder = 32;
        std::vector<quint8> picture(AtariView::kWidth * AtariView::kHeight);
        AtariView::render(view.first->output.data(), view.first->hues.data(), picture.data());
        std::vector<quint8> screen(kCaptureWidth * AtariView::kHeight, 0);
        for (int y = 0; y < AtariView::kHeight; ++y)
            std::copy_n(picture.begin() + y * AtariView::kWidth, AtariView::kWidth,
                        screen.begin() + y * kCaptureWidth + kBorder);
        QFile viewFile(out + QLatin1String(view.second));
        if (!viewFile.open(QIODevice::WriteOnly)
            || viewFile.write(reinterpret_cast<const char *>(screen.data()), qint64(screen.size())) != qint64(screen.size())) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(viewFile.fileName()), qPrintable(viewFile.errorString()));
            return 1;
        }
    }
    QTextStream text(&asmFile);
    TwoFrameProgram::writeSource(text, a.output.data(), a.hues.data(), b.output.data(), b.hues.data());
    text.flush();
    return asmFile.error() == QFile::NoError ? 0 : 1;
}
