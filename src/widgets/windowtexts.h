#ifndef WINDOWTEXTS_H
#define WINDOWTEXTS_H

#include "conversionsettings.h"

#include <QKeySequence>
#include <QString>

// The window's words that depend on its state: tooltips, the palette's menu entry and the hint.
namespace WindowTexts {

// The hint of the preview's tooltip and of the one-time hint at the first picture shown: what the
// right-click menu holds.
QString menuHint();

// "text (keys)": a button's or menu entry's tooltip naming its key; text without "&" accelerators.
QString withKeys(const QString &text, const QKeySequence &keys);

// The slider's tooltip: its value and what it means for the method of settings, with the
// saturation actually in use (the classic palette's 0.60 until the slider has been moved).
QString sliderToolTip(const ConversionSettings &settings, int value);

// The palette entry of the preview's menu: "Palette: name.act" for a palette file (empty fileName:
// "Built-in palette").
QString paletteEntry(const QString &fileName);

} // namespace WindowTexts

#endif
