#ifndef ATARIPIC_H
#define ATARIPIC_H

#include "atarigeometry.h"
#include "ataripalgen.h"
#include "bestconversion.h"

class QDataStream;
class QTextStream;

// Preview mode of what the Atari shows; it is painted from the Atari screen, not from a plane.
constexpr quint8 kAtariViewMode = 7;

// Slider values (the window's saturation slider, 0 to 100): the largest, which gives palette
// saturation 1.0 and twice the photo's chroma, and the one that keeps the photo's own chroma.
constexpr int kMaxSliderValue = 100;
constexpr int kPhotographedChromaValue = 50;

// One picture at every stage of its conversion to GTIA mode 9 with a hue per segment,
// and the seven preview planes (320x240 RGB values each) that the window shows.
// Large (about 2.3 MB): create it on the heap.
class ATARIpic
{
public:
    // Builds the palettes and draws the demo chart into all seven planes.
    ATARIpic();
    Q_DISABLE_COPY(ATARIpic)

    // Redraws the demo chart (hue bands top to bottom, luminance steps left to right).
    void Demo();
    // Value at column x (< width), row y (< height) of the plane that preview mode selects:
    // 0 Original, 1 GTIA, 2 ATARI PAL, 3 Output, 4 Gray, 5 Green, 6 Chroma, above 6 the source.
    quint32 getPixel(quint16 x, quint16 y, quint8 mode) const;
    // Takes 76800 pixels (row by row, 320 per row, any top byte) as the source and converts them.
    void copy(const quint32 *values);
    // The slider value (0 to 100): sets the generated palette's saturation to value / 100 and the
    // best method's chroma factor to value / 50; planes unchanged.
    void newSaturation(double value);

    // How letsGo chooses run hues and luminances: Classic keeps each run's most frequent hue of
    // the nearest generated colours; Best minimises the run's summed CIEDE2000 against the base
    // palette. Planes unchanged until letsGo.
    enum class Method { Classic, Best };
    void setMethod(Method m) { conversionMethod = m; }
    Method method() const { return conversionMethod; }
    // Factor applied to the photo's chroma by the best method: 1.0 until newSaturation.
    double chromaFactor() const { return chroma; }

    // Sets the hue cursor to 0.
    void reset();
    // Replaces the base palette (256 values 0x00RRGGBB) of the Output and Chroma planes and of
    // the Atari screen; nullptr restores the stored one. Planes unchanged until Demo or letsGo.
    void setBasePalette(const quint32 *rgb);

    // What the Atari displays at column x (< 320), row y (< 240): a base palette colour 0x00RRGGBB.
    quint32 getAtariPixel(quint16 x, quint16 y) const;
    // The Atari colour bytes behind getAtariPixel: 76800, row by row, four per Atari pixel.
    // Shows the demo chart until the first conversion.
    const quint8 *atariScreen() const { return screen; }
    // Mean CIEDE2000 between what the Atari shows (the Atari screen in the base palette) and the
    // unmodified averaged colour beneath every screen pixel; meaningful after a conversion.
    double qualityFigure() const;

    // Converts the source plane with the chosen method: averaging (only when the source changed
    // since the last run), nearest colour, segment hues and luminances, planes 1 to 6 and the
    // Atari screen.
    void letsGo();
    // Gives every hue segment its most frequent hue: out[k] = segment hue | (in[k] & 0x0F),
    // and fills the hue table. in and out hold 19200 Atari colour bytes.
    void lineConvert(const quint8 *in, quint8 *out);
    // Most frequent hue among n (< 256) Atari colour bytes, as hue << 4; ties go to the lower hue.
    quint8 averageChroma(const quint8 *pixels, quint32 n) const;

    // "$" and two hex digits of the hue table entry under the cursor; advances the cursor,
    // which stops at the last entry. The text stays valid until the next call.
    const char *rh();
    // Writes the MADS assembler source of the display program with this picture; the hue cursor
    // is left as it is.
    void saveASM(QTextStream &out) const;
    // Writes the 21572-byte Atari executable of the display program with this picture.
    void saveXEX(QDataStream &out) const;

    const ATARIpalGen &palette() const { return pal; }
    // The conversion's byte areas, 19200 bytes each (index y * 80 + x) and the 1560-entry hue table
    // (index 13 * pair + segment). Writable so that callers can export prepared data.
    const quint32 *averaged() const { return averagedPicture; }
    const quint8 *nearestBytes() const { return nearestColours; }
    quint8 *outputBytes() { return output; }
    const quint8 *outputBytes() const { return output; }
    quint8 *hueTable() { return hues; }
    const quint8 *hueTable() const { return hues; }
    quint32 hueCursor() const { return cursor; }

    quint16 width;
    quint16 height;

private:
    ATARIpalGen pal;
    quint32 planes[Geometry::kPlanes][Geometry::kSourcePixels];
    quint32 averagedPicture[Geometry::kAtariPixels] = {};
    bool averagesCurrent = false; // averagedPicture matches the source plane
    Method conversionMethod = Method::Classic;
    double chroma = 1.0;
    BestConverter best;
    quint8 nearestColours[Geometry::kAtariPixels] = {};
    quint8 output[Geometry::kAtariPixels] = {};
    quint8 hues[Geometry::kHues] = {};
    quint8 screen[Geometry::kSourcePixels] = {};
    char hexText[4] = {};
    quint32 cursor = 0;
};

#endif
