#include "pictureloader.h"

#include "decoderprocess.h"

#include <unistd.h>

namespace PictureLoader {

bool load(const QString &fileName, quint32 *pixels, QString *error, QString *warning)
{
    return DecoderProcess::decodeFile(fileName, pixels, error, warning);
}

bool loadStandardInput(quint32 *pixels, QString *error, QString *warning)
{
    return DecoderProcess::decodeStream(STDIN_FILENO, QStringLiteral("-"), pixels, error, warning);
}

} // namespace PictureLoader
