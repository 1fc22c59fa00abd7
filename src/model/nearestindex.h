#ifndef NEARESTINDEX_H
#define NEARESTINDEX_H

#include <QtGlobal>

#include <vector>

// Exact nearest-entry search over a palette of 256 RGB entries (0x00RRGGBB).
//
// The colour cube is cut into coarse cells and each coarse cell into fine cells. Every cell keeps
// the list of entries that can be nearest to some point of it: an entry whose smallest squared
// distance to the cell is above the smallest largest distance of any entry to the cell is farther
// than that entry from every point of the cell, so it can never be nearest nor tie the nearest.
// Fine lists are filtered from their coarse cell's list. Lists keep palette order and skip repeated
// colours, so a scan with a strict comparison returns the lowest index among equally near entries,
// exactly as a scan of all 256 entries does. Lists are built on first use after each rebuild,
// so only the cells that a picture touches cost anything.
//
// find() fills the lists of the cells it visits: one object must not be used from two threads at once.
class NearestIndex
{
public:
    NearestIndex();

    // Takes the 256 entries of palette (top bytes ignored) and drops every list built before.
    void rebuild(const quint32 *palette);
    // Index (0 to 255) of the entry with the smallest squared RGB distance to p (top byte ignored);
    // among equally near entries the lowest index.
    int find(quint32 p);

private:
    struct Span
    {
        quint32 begin = 0; // first candidate in the pool
        quint32 count = 0; // 0 while the list is not built
    };

    // Builds target, the list of the cell of 1 << shift levels per channel around p, from source.
    void buildCell(quint32 p, int shift, Span source, Span &target);

    quint32 entries[256] = {};
    quint32 distinctCount = 0; // entries whose colour no lower index has; they open the pool
    std::vector<Span> coarse;
    std::vector<Span> fine;
    std::vector<quint8> pool; // the candidate lists, entry indices in ascending order
    std::vector<quint32> poolColours; // the colours of the pool's entries, read by the search
};

#endif
