#include "nearestindex.h"

#include <algorithm>
#include <limits>

namespace {

// Cells are 1 << shift levels wide in each channel.
constexpr int kCoarseShift = 5;
constexpr int kFineShift = 3;

constexpr int cellsOf(int shift)
{
    const int perChannel = 256 >> shift;
    return perChannel * perChannel * perChannel;
}

int red(quint32 rgb) { return (rgb >> 16) & 0xFF; }
int green(quint32 rgb) { return (rgb >> 8) & 0xFF; }
int blue(quint32 rgb) { return rgb & 0xFF; }

int cellOf(quint32 p, int shift)
{
    const int perChannel = 256 >> shift;
    return ((red(p) >> shift) * perChannel + (green(p) >> shift)) * perChannel + (blue(p) >> shift);
}

quint32 sq(int x)
{
    return quint32(x * x);
}

// Smallest squared distance from the levels lo to lo + width - 1 to the level c.
quint32 nearSq(int c, int lo, int width)
{
    if (c < lo)
        return sq(lo - c);
    const int hi = lo + width - 1;
    return c > hi ? sq(c - hi) : 0;
}

// Largest squared distance from the levels lo to lo + width - 1 to the level c.
quint32 farSq(int c, int lo, int width)
{
    return sq(std::max(c - lo, lo + width - 1 - c));
}

} // namespace

NearestIndex::NearestIndex()
    : coarse(cellsOf(kCoarseShift))
    , fine(cellsOf(kFineShift))
{
    pool.reserve(1 << 16);
    poolColours.reserve(1 << 16);
}

void NearestIndex::rebuild(const quint32 *palette)
{
    std::fill(coarse.begin(), coarse.end(), Span());
    std::fill(fine.begin(), fine.end(), Span());
    pool.clear();
    poolColours.clear();

    // The pool starts with every entry whose colour no lower index has: the coarse cells' source.
    for (int i = 0; i < 256; ++i) {
        entries[i] = palette[i] & 0xFFFFFFu;
        if (std::find(entries, entries + i, entries[i]) == entries + i) {
            pool.push_back(static_cast<quint8>(i));
            poolColours.push_back(entries[i]);
        }
    }
    distinctCount = quint32(pool.size());
}

void NearestIndex::buildCell(quint32 p, int shift, Span source, Span &target)
{
    const int width = 1 << shift;
    const int r0 = (red(p) >> shift) << shift;
    const int g0 = (green(p) >> shift) << shift;
    const int b0 = (blue(p) >> shift) << shift;

    quint32 bound = std::numeric_limits<quint32>::max();
    for (quint32 k = source.begin; k < source.begin + source.count; ++k) {
        const quint32 e = entries[pool[k]];
        bound = std::min(bound, farSq(red(e), r0, width) + farSq(green(e), g0, width) + farSq(blue(e), b0, width));
    }

    const auto begin = quint32(pool.size());
    for (quint32 k = source.begin; k < source.begin + source.count; ++k) {
        const quint8 index = pool[k];
        const quint32 e = entries[index];
        if (nearSq(red(e), r0, width) + nearSq(green(e), g0, width) + nearSq(blue(e), b0, width) <= bound) {
            pool.push_back(index);
            poolColours.push_back(e);
        }
    }
    target.begin = begin;
    target.count = quint32(pool.size()) - begin;
}

int NearestIndex::find(quint32 p)
{
    Span &fineCell = fine[cellOf(p, kFineShift)];
    if (fineCell.count == 0) {
        Span &coarseCell = coarse[cellOf(p, kCoarseShift)];
        if (coarseCell.count == 0)
            buildCell(p, kCoarseShift, Span{0, distinctCount}, coarseCell);
        buildCell(p, kFineShift, coarseCell, fineCell);
    }

    const int r = red(p);
    const int g = green(p);
    const int b = blue(p);
    const quint32 *colours = poolColours.data() + fineCell.begin;
    quint32 best = std::numeric_limits<quint32>::max();
    quint32 bestK = 0;
    for (quint32 k = 0; k < fineCell.count; ++k) {
        const quint32 e = colours[k];
        const quint32 d = sq(r - red(e)) + sq(g - green(e)) + sq(b - blue(e));
        if (d < best) {
            best = d;
            bestK = k;
        }
    }
    return pool[fineCell.begin + bestK];
}
