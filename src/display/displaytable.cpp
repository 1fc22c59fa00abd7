#include "displaytable.h"

#include "paldisplay.h"
#include "plaindisplay.h"

#include <QCoreApplication>

namespace {

template <typename Model>
const DisplayModel &instance()
{
    static const Model model;
    return model;
}

const DisplayInfo kDisplays[] = {
    {"plain", QT_TRANSLATE_NOOP("MainWindow", "Plain display"), &instance<PlainDisplay>},
    {"pal", QT_TRANSLATE_NOOP("MainWindow", "PAL TV"), &instance<PalDisplay>},
};

} // namespace

namespace DisplayTable {

int count()
{
    return int(sizeof kDisplays / sizeof kDisplays[0]);
}

const DisplayInfo &at(int index)
{
    return kDisplays[index];
}

int find(const QString &name)
{
    for (int i = 0; i < count(); ++i) {
        if (name.compare(QLatin1String(kDisplays[i].name), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace DisplayTable
