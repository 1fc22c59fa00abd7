#ifndef CONVERTEDPICTURE_H
#define CONVERTEDPICTURE_H

#include "conversionmethod.h"
#include "displaymodel.h"
#include "qualityfigure.h"

#include <QtGlobal>

#include <vector>

class QDataStream;
class QTextStream;

// One converted picture as the display program shows it: its frames (one, or two shown in turn),
// each with its output bytes, hue table and the Atari screen they give, what the eye sees of them
// and the figures. Whatever depends on the number of frames is decided here.
class ConvertedPicture
{
public:
    // One frame, every byte 0.
    ConvertedPicture();

    // Frames of the display program: 1 or 2.
    int frames() const { return frameCount; }
    // Makes the picture one of n frames (1 or 2) and returns the byte areas a method fills.
    const FrameBytes *prepare(int n);

    // Frame f's (0 A, 1 B) areas: output bytes (19200), hue table (1560) and Atari screen (76800
    // colour bytes, 320 x 240). With one frame, frame 1 is frame 0.
    const quint8 *output(int f) const { return frame(f).output.data(); }
    const quint8 *hues(int f) const { return frame(f).hues.data(); }
    const quint8 *screen(int f) const { return frame(f).screen.data(); }

    // Works out every frame's screen (AtariView::render) from its bytes, then the views.
    void render(const DisplayModel &model, const quint32 *palette);
    // Makes the picture one frame whose screen is chart (76800 colour bytes), then the views.
    void showChart(const quint8 *chart, const DisplayModel &model, const quint32 *palette);
    // Works out again what the eye sees of the screens, through model with palette (256 values
    // 0x00RRGGBB).
    void updateViews(const DisplayModel &model, const quint32 *palette);

    // What the eye sees at screen pixel index (0 to 76799, y * 320 + x), 0x00RRGGBB: with two frames
    // their blend; and of frame f alone.
    quint32 seen(int index) const { return views[0][size_t(index)]; }
    quint32 seenFrame(int f, int index) const { return views[f < frameCount ? 1 + f : 1][size_t(index)]; }

    // The figures of the screens seen through model with palette against averaged (19200 values).
    QualityFigure::Figures figures(const DisplayModel &model, const quint32 *palette, const quint32 *averaged) const;

    // The display program of this picture: its MADS assembler source and its Atari executable.
    void writeSource(QTextStream &out) const;
    void writeExecutable(QDataStream &out) const;

    // "$" and two upper-case hex digits of a hue table entry, into text[4].
    static void hueText(quint8 entry, char *text);

private:
    struct Frame
    {
        std::vector<quint8> output;
        std::vector<quint8> hues;
        std::vector<quint8> screen;
        Frame();
    };
    const Frame &frame(int f) const { return frames_[f < frameCount ? f : 0]; }
    ScreenFrames screens() const;

    Frame frames_[2];
    int frameCount = 1;
    FrameBytes bytes[2];
    // What is seen: [0] the screens together, [1] frame A alone, [2] frame B alone.
    std::vector<quint32> views[3];
};

#endif
