#include "atariview.h"

#include "atarigeometry.h"
#include "atariprogram.h"

#include <algorithm>
#include <vector>

using namespace Geometry;

namespace {

// Beam timing of a PAL or NTSC machine, in machine cycles (one cycle is two colour clocks).
constexpr int kCyclesPerLine = 114;
// The last WSYNC of the frame sync releases the CPU in this cycle of the line above the picture.
constexpr int kWsyncRelease = 104;

// ANTIC's DMA on a mode F line with a load-memory-scan entry and a normal-width playfield:
// the display list instruction, its two address bytes, 40 playfield bytes every other cycle
// and nine memory refresh cycles (every line, moved on to the next free cycle when taken).
constexpr int kDisplayListFetch = 1;
constexpr int kAddressFetches[] = {6, 7};
constexpr int kFirstPlayfieldFetch = 20;
constexpr int kPlayfieldFetches = kBytesPerRow;
constexpr int kFirstRefresh = 25;
constexpr int kRefreshSpacing = 4;
constexpr int kRefreshes = 9;

// A store in cycle c sets the colour from colour clock 2c + kStoreDelay on; the picture's
// first pixel is at colour clock kPlayfieldLeft. These were fitted to, and are checked
// against, screens captured from a cycle-exact emulation running our executables.
constexpr int kStoreDelay = 1;
constexpr int kPlayfieldLeft = 48;
constexpr int kScreenPixelsPerColourClock = 2;

struct LineDma
{
    bool busy[kCyclesPerLine] = {};

    explicit LineDma(bool pictureLine)
    {
        if (pictureLine) {
            busy[kDisplayListFetch] = true;
            for (int cycle : kAddressFetches)
                busy[cycle] = true;
            for (int i = 0; i < kPlayfieldFetches; ++i)
                busy[kFirstPlayfieldFetch + 2 * i] = true;
        }
        for (int i = 0; i < kRefreshes; ++i) {
            int cycle = kFirstRefresh + kRefreshSpacing * i;
            while (busy[cycle])
                ++cycle;
            busy[cycle] = true;
        }
    }
};

std::vector<AtariView::Landing> computeLandings()
{
    const LineDma pictureLine(true);
    const LineDma otherLine(false);
    int row = -1; // the line above the picture
    int cycle = kWsyncRelease;

    // Runs the CPU for n cycles from the current beam position; returns the line and the
    // cycle of the last of them.
    struct Position
    {
        int row;
        int cycle;
    };
    auto run = [&](int n) {
        Position last{row, cycle};
        while (n > 0) {
            const LineDma &dma = (row >= 0 && row < kSourceHeight) ? pictureLine : otherLine;
            if (!dma.busy[cycle]) {
                last = {row, cycle};
                --n;
            }
            if (++cycle == kCyclesPerLine) {
                cycle = 0;
                ++row;
            }
        }
        return last;
    };

    std::vector<AtariView::Landing> landings;
    for (const Assembly::KernelStep &step : AtariProgram::kernelSteps()) {
        if (step.storeCycle == 0) {
            run(step.cycles);
            continue;
        }
        run(step.storeCycle - 1);
        const Position store = run(1);
        run(step.cycles - step.storeCycle);
        const int colourClock = 2 * store.cycle + kStoreDelay;
        landings.push_back({store.row, (colourClock - kPlayfieldLeft) * kScreenPixelsPerColourClock,
                            step.hueIndex, step.value});
    }
    return landings;
}

} // namespace

namespace AtariView {

const Landing *landings(int *count)
{
    static const std::vector<Landing> all = computeLandings();
    *count = static_cast<int>(all.size());
    return all.data();
}

void render(const quint8 *outputBytes, const quint8 *hues, quint8 *screen)
{
    int count = 0;
    const Landing *landing = landings(&count);
    const Landing *end = landing + count;
    quint8 colour = 0; // the frame sync blacks the background before the kernel starts
    for (int y = 0; y < kHeight; ++y) {
        const quint8 *rowBytes = outputBytes + y * kAtariWidth;
        quint8 *row = screen + y * kWidth;
        // Spans of one colour register value between the stores landing in this row.
        for (int x = 0; x < kWidth;) {
            while (landing != end && (landing->row < y || (landing->row == y && landing->column <= x))) {
                colour = landing->hueIndex >= 0 ? (hues[landing->hueIndex] & 0xF0) : landing->value;
                ++landing;
            }
            const int next = landing != end && landing->row == y ? std::min(landing->column, int(kWidth)) : kWidth;
            const quint8 high = colour & 0xF0;
            const quint8 low = colour & 0x0F;
            for (; x < next; ++x)
                row[x] = static_cast<quint8>(high | low | (rowBytes[x / kSourcePerAtari] & 0x0F));
        }
    }
}

} // namespace AtariView
