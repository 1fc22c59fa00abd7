#ifndef ATARIPIC_H
#define ATARIPIC_H

#include "atarigeometry.h"
#include "ataripalgen.h"
#include "conversionsettings.h"
#include "convertedpicture.h"

#include <array>
#include <memory>
#include <vector>

class ConversionMethod;
class QDataStream;
class QTextStream;

// Preview mode of what the Atari shows; it is painted from the Atari screen, not from a plane.
constexpr quint8 kAtariViewMode = 7;
// Preview modes of the frames themselves (frame A, frame B) when two frames are shown alternately;
// with one frame both show what the Atari shows.
constexpr quint8 kAtariFrameAMode = 8;
constexpr quint8 kAtariFrameBMode = 9;

// One picture at every stage of its conversion to GTIA mode 9 with a hue per segment,
// and the seven preview planes (320x240 RGB values each) that the window shows. The planes and
// byte areas (about 2.3 MB) are held on the heap; the conversion itself is the methods' work
// (ClassicConversion, BestConverter), which the store hands its byte areas to.
class ATARIpic
{
public:
    // Builds the palettes and draws the demo chart into all seven planes.
    ATARIpic();
    ~ATARIpic();
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

    // The method letsGo converts with: its index in the method table (MethodTable), which says
    // how many frames it fills; 0 (the classic method) until set. Planes unchanged until letsGo.
    void setMethod(int index) { methodIndex = index; }
    int method() const { return methodIndex; }
    // How the screen is seen (the Atari view and the figures): the display model's index in
    // DisplayTable; 0 (plain) until set. Used from the next letsGo, Demo or figure on.
    void setDisplay(int index) { displayIndex = index; }
    int display() const { return displayIndex; }
    // How many threads letsGo may use in all, including the calling one (at least 1; 1 until set).
    // The result does not depend on it.
    void setThreads(int n) { threadCount = n < 1 ? 1 : n; }
    int threads() const { return threadCount; }
    // With two frames, the largest |L*(A) - L*(B)| where the Atari shows a pixel, clamped to
    // kFlickerRange; its default until set.
    void setFlickerLimit(int limit) { flicker = kFlickerRange.clamp(limit); }
    int flickerLimit() const { return flicker; }
    // Factor applied to the photo's chroma by the best method: 1.0 until newSaturation.
    double chromaFactor() const { return chroma; }

    // Sets the hue cursor to 0.
    void reset();
    // Replaces the base palette (256 values 0x00RRGGBB) of the Output and Chroma planes and of
    // the Atari screen; nullptr restores the stored one. Planes unchanged until Demo or letsGo.
    void setBasePalette(const quint32 *rgb);

    // What the eye sees at column x (< 320), row y (< 240) of what the Atari displays, through the
    // display model (plain: the base palette colour; with two frames the blend of the two), 0x00RRGGBB.
    quint32 getAtariPixel(quint16 x, quint16 y) const;
    // What the eye sees of frame 0 (A) or 1 (B) alone at column x (< 320), row y (< 240), 0x00RRGGBB;
    // with one frame both are getAtariPixel.
    quint32 getAtariFramePixel(quint16 x, quint16 y, int frame) const;
    // The Atari colour bytes behind getAtariPixel: 76800, row by row, four per Atari pixel.
    // Shows the demo chart until the first conversion.
    const quint8 *atariScreen() const;
    // Frame B's Atari colour bytes (76800, as atariScreen, which is frame A's); with one frame the
    // same as atariScreen.
    const quint8 *atariScreenB() const;
    // Mean CIEDE2000 between what the eye sees (through the display model, with the base palette)
    // and the unmodified averaged colour beneath every screen pixel; meaningful after a conversion.
    double qualityFigure() const;
    // With two frames, the mean and the largest |L*(A) - L*(B)| of the two frames' seen colours over
    // the 76800 screen pixels; 0 with one frame.
    double flickerMean() const;
    double flickerMax() const;
    // All three at once (QualityFigure::figures).
    QualityFigure::Figures figures() const;
    // The last conversion (or the chart): its frames, bytes, screens and what is seen of them.
    const ConvertedPicture &converted() const;

    // Converts the source plane with the chosen method: averaging (only when the source changed
    // since the last run), nearest colour, segment hues and luminances, planes 1 to 6 and the
    // Atari screen. With a method of two frames the Output and Chroma planes show frame A.
    void letsGo();
    // The classic method (ClassicConversion::convert) into this store's hue table: gives every
    // hue segment its most frequent hue, out[k] = segment hue | (in[k] & 0x0F). in and out hold
    // 19200 Atari colour bytes.
    void lineConvert(const quint8 *in, quint8 *out);
    // Most frequent hue among n (< 256) Atari colour bytes, as hue << 4; ties go to the lower hue.
    quint8 averageChroma(const quint8 *pixels, quint32 n) const;
    // Takes a converted picture in place of letsGo's: output (19200 Atari colour bytes) and hues
    // (1560 entries, hue << 4) of one frame; redraws planes 1 to 6 and the Atari screen from them.
    void setConverted(const quint8 *output, const quint8 *hues);

    // "$" and two hex digits of the hue table entry under the cursor; advances the cursor,
    // which stops at the last entry. The text stays valid until the next call.
    const char *rh();
    // Writes the MADS assembler source of the display program with this picture (with two frames
    // the two-frame program; ConvertedPicture::writeSource); the hue cursor is left as it is.
    void saveASM(QTextStream &out) const;
    // Writes the Atari executable of the display program with this picture: 21572 bytes, or with
    // two frames TwoFrameProgram::kXexSize.
    void saveXEX(QDataStream &out) const;

    const ATARIpalGen &palette() const { return pal; }
    // The conversion's byte areas, read only: 19200 values each (index y * 80 + x) and the
    // 1560-entry hue table (index 13 * pair + segment).
    const quint32 *averaged() const;
    const quint8 *nearestBytes() const;
    const quint8 *outputBytes() const;
    const quint8 *hueTable() const;
    // Frame B's output bytes and hue table, as outputBytes and hueTable (frame A's); with one frame
    // the same as those.
    const quint8 *outputBytesB() const;
    const quint8 *hueTableB() const;
    quint32 hueCursor() const { return cursor; }

    quint16 width;
    quint16 height;

private:
    struct Areas;
    // Draws the Atari screen and what is seen of it, then planes 1 to 6, from the converted bytes.
    void drawConverted();
    // The method unit at index, made and given the base palette when first needed.
    ConversionMethod &methodUnit(int index);
    const DisplayModel &displayModel() const;

    ATARIpalGen pal;
    std::unique_ptr<Areas> areas;
    std::array<quint32, 256> base{}; // the base palette, 0x00RRGGBB
    std::vector<std::unique_ptr<ConversionMethod>> units; // by method index, made when first used
    std::vector<bool> unitPaletteCurrent;
    bool averagesCurrent = false; // the averaged area matches the source plane
    int methodIndex = 0;
    int displayIndex = 0;
    int flicker = kFlickerRange.defaultValue;
    double chroma = 1.0;
    int threadCount = 1;
    char hexText[4] = {};
    quint32 cursor = 0;
};

#endif
