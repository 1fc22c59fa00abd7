#ifndef DISPLAYTABLE_H
#define DISPLAYTABLE_H

#include "displaymodel.h"

#include <QString>

// The display models by name. A setting holds a model's index in this table (0, the first entry,
// by default); a new model is a new unit and one line in displaytable.cpp.
struct DisplayInfo
{
    const char *name;     // on the command line, in the settings and in the report: "plain"
    const char *menuText; // in the preview's context menu, translated in the context "MainWindow"
    const DisplayModel &(*model)();
};

namespace DisplayTable {

// Entries in the table; indices run from 0 to count() - 1.
int count();
// The entry at index (0 to count() - 1).
const DisplayInfo &at(int index);
// The index of the entry named name (letter case ignored), or -1.
int find(const QString &name);

} // namespace DisplayTable

#endif
