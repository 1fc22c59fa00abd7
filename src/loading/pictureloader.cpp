#include "pictureloader.h"

#include "decoderprocess.h"

#include <unistd.h>

namespace {

// The settings' fit as the decoder's wire protocol names it.
DecoderProtocol::Fit wireFit(PictureFit fit)
{
    switch (fit) {
    case PictureFit::Stretch:
        return DecoderProtocol::Fit::Stretch;
    case PictureFit::Crop:
        return DecoderProtocol::Fit::Crop;
    case PictureFit::Pad:
        return DecoderProtocol::Fit::Pad;
    }
    return DecoderProtocol::Fit::Stretch;
}

} // namespace

namespace PictureLoader {

bool load(const QString &fileName, quint32 *pixels, QString *error, QString *warning, PictureFit fit)
{
    DecoderProcess::Options options;
    options.fit = wireFit(fit);
    return DecoderProcess::decodeFile(fileName, pixels, error, warning, options);
}

bool loadStandardInput(quint32 *pixels, QString *error, QString *warning, PictureFit fit)
{
    DecoderProcess::Options options;
    options.fit = wireFit(fit);
    return DecoderProcess::decodeStream(STDIN_FILENO, QStringLiteral("-"), pixels, error, warning, options);
}

} // namespace PictureLoader
