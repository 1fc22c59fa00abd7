#ifndef XEXCONTENTS_H
#define XEXCONTENTS_H

#include "atarigeometry.h"
#include "twoframeprogram.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

#include <vector>

// Reading the test data and the executables the programs write: their segments, the memory they
// load, and the two pictures of a two-frame executable.

inline QByteArray readData(const QString &name)
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
inline QVector<Segment> segmentsOf(const QByteArray &xex)
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

inline std::vector<quint8> memoryOf(const QByteArray &xex)
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
    std::vector<quint8> output = std::vector<quint8>(Geometry::kAtariPixels);
    std::vector<quint8> hues = std::vector<quint8>(Geometry::kHues);
};

// The pictures, read through the display lists, and the hues, the operands of every
// "ldx #hh / stx COLBAK" in address order (frame A's kernel lies below frame B's).
inline bool framesOf(const std::vector<quint8> &memory, Frame frames[2])
{
    for (int f = 0; f < 2; ++f) {
        int entry = TwoFrameProgram::kDisplayList[f];
        for (int row = 0; row < Geometry::kSourceHeight; ++row, entry += 3) {
            if (memory[entry] != 0x4F)
                return false;
            const int address = memory[entry + 1] | memory[entry + 2] << 8;
            for (int k = 0; k < Geometry::kBytesPerRow; ++k) {
                frames[f].output[row * Geometry::kAtariWidth + 2 * k] = memory[address + k] >> 4;
                frames[f].output[row * Geometry::kAtariWidth + 2 * k + 1] = memory[address + k] & 0x0F;
            }
        }
    }
    int found = 0;
    for (int a = 0x2000; a + 4 < 0xC000 && found < 2 * Geometry::kHues; ++a) {
        if (memory[a] == 0xA2 && memory[a + 2] == 0x8E && memory[a + 3] == 0x1A && memory[a + 4] == 0xD0) {
            frames[found / Geometry::kHues].hues[found % Geometry::kHues] = memory[a + 1];
            ++found;
        }
    }
    return found == 2 * Geometry::kHues;
}

#endif
