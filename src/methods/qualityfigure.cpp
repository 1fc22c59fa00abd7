#include "qualityfigure.h"

#include "atarigeometry.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace Geometry;

namespace QualityFigure {

Figures figures(const ScreenFrames &screens, const quint32 *palette, const DisplayModel &model,
                const quint32 *averaged)
{
    std::vector<ColourScience::Lab> seen(kSourcePixels);
    std::vector<double> flicker(screens.count == 2 ? kSourcePixels : 0);
    model.see(screens, palette, seen.data(), flicker.empty() ? nullptr : flicker.data());

    Figures figures;
    double sum = 0.0;
    for (int y = 0; y < kSourceHeight; ++y) {
        for (int column = 0; column < kAtariWidth; ++column) {
            const ColourScience::Lab photo = ColourScience::labFromRgb(averaged[y * kAtariWidth + column]);
            const ColourScience::Lab *shown = seen.data() + y * kSourceWidth + column * kSourcePerAtari;
            // The four screen pixels of an Atari pixel mostly show one colour: compute it once.
            double difference = ColourScience::deltaE2000(shown[0], photo);
            sum += difference;
            for (int i = 1; i < kSourcePerAtari; ++i) {
                if (std::memcmp(&shown[i], &shown[i - 1], sizeof shown[i]) != 0)
                    difference = ColourScience::deltaE2000(shown[i], photo);
                sum += difference;
            }
        }
    }
    figures.quality = sum / kSourcePixels;
    if (!flicker.empty()) {
        double flickerSum = 0.0;
        for (const double f : flicker) {
            flickerSum += f;
            figures.flickerMax = std::max(figures.flickerMax, f);
        }
        figures.flickerMean = flickerSum / kSourcePixels;
    }
    return figures;
}

} // namespace QualityFigure
