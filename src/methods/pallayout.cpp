#include "pallayout.h"

#include "atariview.h"

#include <algorithm>

using namespace Geometry;

const PalLayout &PalLayout::shared()
{
    static const PalLayout layout;
    return layout;
}

PalLayout::PalLayout()
    : pixels(kAtariPixels)
    , affected(kHues)
    , neighbours(kHues)
    , runOf(kAtariPixels)
{
    // The slot of every screen pixel, as AtariView::render walks the landings.
    std::vector<quint16> slot(size_t(AtariView::kWidth) * AtariView::kHeight);
    int count = 0;
    const AtariView::Landing *landing = AtariView::landings(&count);
    const AtariView::Landing *end = landing + count;
    quint16 current = quint16(kHues); // the frame sync blacks the background: hue 0
    for (int y = 0; y < AtariView::kHeight; ++y) {
        for (int x = 0; x < AtariView::kWidth; ++x) {
            while (landing != end && (landing->row < y || (landing->row == y && landing->column <= x))) {
                if (landing->hueIndex >= 0) {
                    current = quint16(landing->hueIndex);
                } else {
                    if (landing->value & 0x0F)
                        qFatal("PAL layout: a constant colour with a luminance shows in the picture");
                    current = quint16(kHues + (landing->value >> 4));
                }
                ++landing;
            }
            slot[size_t(y * AtariView::kWidth + x)] = current;
        }
    }
    for (int pair = 0, i = 0; pair < kLinePairs; ++pair)
        for (int s = 0; s < kSegmentsPerPair; ++s)
            for (int k = 0; k < kSegmentLengths[s]; ++k)
                runOf[size_t(i++)] = pair * kSegmentsPerPair + s;
    for (int p = 0; p < kAtariPixels; ++p) {
        const int y = p / kAtariWidth;
        const int x0 = (p % kAtariWidth) * kSourcePerAtari;
        Pixel &pixel = pixels[size_t(p)];
        for (int i = 0; i < kSourcePerAtari; ++i) {
            const quint16 own = slot[size_t(y * AtariView::kWidth + x0 + i)];
            const quint16 above = y > 0 ? slot[size_t((y - 1) * AtariView::kWidth + x0 + i)] : quint16(kHues);
            int j = 0;
            while (j < pixel.parts && (pixel.part[j].own != own || pixel.part[j].above != above))
                ++j;
            if (j == pixel.parts)
                pixel.part[pixel.parts++] = Part{own, above, 0};
            ++pixel.part[j].weight;
        }
        for (int j = 0; j < pixel.parts; ++j) {
            for (quint16 s : {pixel.part[j].own, pixel.part[j].above}) {
                if (s < kHues && (affected[s].empty() || affected[s].back() != p))
                    affected[s].push_back(p);
            }
        }
    }
    std::vector<std::vector<int>> dependsOn(kAtariPixels);
    for (int r = 0; r < kHues; ++r)
        for (int p : affected[size_t(r)])
            dependsOn[size_t(p)].push_back(r);
    for (int r = 0; r < kHues; ++r) {
        std::vector<int> &n = neighbours[size_t(r)];
        for (int p : affected[size_t(r)])
            for (int q : dependsOn[size_t(p)])
                if (q != r)
                    n.push_back(q);
        std::sort(n.begin(), n.end());
        n.erase(std::unique(n.begin(), n.end()), n.end());
    }
}
