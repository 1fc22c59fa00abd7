#include "methodtable.h"

#include "bestmethod.h"
#include "classicmethod.h"
#include "twoframemethod.h"

#include <QCoreApplication>

namespace {

template <typename Method>
std::unique_ptr<ConversionMethod> make()
{
    return std::make_unique<Method>();
}

using S = SliderUse;
const MethodInfo kMethods[] = {
    // cli name, frames, menu text, key, setting, report, form of, slider, unit
    {"classic", 1, QT_TRANSLATE_NOOP("MainWindow", "Classic conversion"), Qt::Key_C, "classic", "classic", -1,
     S::Saturation, &make<ClassicMethod>},
    {"best", 1, QT_TRANSLATE_NOOP("MainWindow", "Best conversion (least CIEDE2000)"), Qt::Key_B, "best", "best", -1,
     S::ChromaFactor, &make<BestMethod>},
    {"best", 2, QT_TRANSLATE_NOOP("MainWindow", "Two frames (blended)"), Qt::Key_T, "best", "best", 1,
     S::ChromaFactor, &make<TwoFrameMethod>},
};

} // namespace

namespace MethodTable {

int count()
{
    return int(sizeof kMethods / sizeof kMethods[0]);
}

const MethodInfo &at(int index)
{
    return kMethods[index];
}

int find(const QString &cliName, int frames)
{
    for (int i = 0; i < count(); ++i) {
        if (kMethods[i].frames == frames && cliName.compare(QLatin1String(kMethods[i].cliName), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int withFrames(int frames)
{
    for (int i = 0; i < count(); ++i) {
        if (kMethods[i].frames == frames)
            return i;
    }
    return -1;
}

int remembered(const QString &settingsValue, int frames)
{
    for (const int wanted : {frames, 1}) {
        for (int i = 0; i < count(); ++i) {
            if (kMethods[i].frames == wanted && settingsValue == QLatin1String(kMethods[i].settingsValue))
                return i;
        }
    }
    return 0;
}

} // namespace MethodTable
