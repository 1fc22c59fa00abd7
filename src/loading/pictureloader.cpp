#include "pictureloader.h"

#include "decoderprocess.h"

#include <unistd.h>

namespace PictureLoader {

bool load(const QString &fileName, quint32 *pixels, QString *error, QString *warning, DecoderProtocol::Fit fit)
{
    DecoderProcess::Options options;
    options.fit = fit;
    return DecoderProcess::decodeFile(fileName, pixels, error, warning, options);
}

bool loadStandardInput(quint32 *pixels, QString *error, QString *warning, DecoderProtocol::Fit fit)
{
    DecoderProcess::Options options;
    options.fit = fit;
    return DecoderProcess::decodeStream(STDIN_FILENO, QStringLiteral("-"), pixels, error, warning, options);
}

} // namespace PictureLoader
