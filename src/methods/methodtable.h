#ifndef METHODTABLE_H
#define METHODTABLE_H

#include "conversionmethod.h"

#include <QString>

#include <memory>

// What the window's slider sets for a method.
enum class SliderUse {
    Saturation,  // the generated palette's saturation, value / 100, which the nearest colours come from
    ChromaFactor // the photo's chroma factor, value / 50
};

// One conversion method with every name it goes by. The command line, the window's menu, the
// remembered settings and the report all find methods here; a setting holds a method's index in
// the table (0, the first entry, by default). A new method is a new unit and one line in
// methodtable.cpp.
struct MethodInfo
{
    const char *cliName;       // the value of --method
    int frames;                // frames of the display program (1 or 2): --frames, the setting "frames", the report
    const char *menuText;      // in the preview's context menu, translated in the context "MainWindow"
    int key;                   // its key in the window (a Qt::Key)
    const char *settingsValue; // the value of the remembered setting "method"
    const char *reportName;    // the report's method column
    int formOf;                // index of the method this one is a form of (its menu entry a toggle), or -1
    SliderUse slider;          // what the slider sets
    std::unique_ptr<ConversionMethod> (*make)();
};

namespace MethodTable {

// Entries in the table; indices run from 0 to count() - 1.
int count();
// The entry at index (0 to count() - 1).
const MethodInfo &at(int index);
// The index of the method with the command-line name cliName (letter case ignored) filling frames
// frames, or -1.
int find(const QString &cliName, int frames = 1);
// The index of the first method filling frames frames, or -1.
int withFrames(int frames);
// The index of the remembered method: settingsValue and frames as stored; a method stored with
// frames it has no form for falls back to its one-frame form, an unknown one to entry 0.
int remembered(const QString &settingsValue, int frames);

} // namespace MethodTable

#endif
