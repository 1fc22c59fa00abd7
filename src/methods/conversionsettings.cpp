#include "conversionsettings.h"

#include "methodtable.h"

int ConversionSettings::frames() const
{
    return MethodTable::at(method).frames;
}
