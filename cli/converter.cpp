#include "converter.h"

#include "ataripic.h"
#include "commandline.h"
#include "interrupts.h"
#include "pictureexports.h"
#include "pictureloader.h"

#include <memory>
#include <vector>

ConversionResult convert(const ConversionJob &job, const ConversionOptions &options, int threads)
{
    ConversionResult result;
    std::vector<quint32> pixels(Geometry::kSourcePixels);
    QString error;
    const DecoderProtocol::Fit fit = options.conversion.fit;
    const bool loaded = job.input == QLatin1String("-")
                            ? PictureLoader::loadStandardInput(pixels.data(), &error, &result.warning, fit)
                            : PictureLoader::load(job.input, pixels.data(), &error, &result.warning, fit);
    if (!loaded) {
        // A picture whose decoder was ended by an interrupt has not failed: it was not converted.
        result.interrupted = Interrupts::received() != 0;
        if (!result.interrupted)
            result.failures << QStringLiteral("%1: %2").arg(job.input, error);
        return result;
    }

    auto pic = std::make_unique<ATARIpic>();
    applySettings(*pic, ConversionSettings(), options.conversion);
    pic->setThreads(threads);
    applyTone(options.conversion, pixels.data(), pixels.data());
    pic->copy(pixels.data());
    result.converted = true;
    result.frames = pic->frames();
    if (options.wantFigure) {
        result.figure = pic->qualityFigure();
        result.flicker = pic->flickerMean();
        result.flickerArea = pic->flickerArea();
    }

    QStringList &failures = result.failures;
    if (!job.xexFile.isEmpty() && !PictureExports::saveXex(*pic, job.xexFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.xexFile, error);
    if (!job.asmFile.isEmpty() && !PictureExports::saveAsm(*pic, job.asmFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.asmFile, error);
    if (!job.pngFile.isEmpty() && !PictureExports::savePreviewPng(*pic, options.previewMode, job.pngFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.pngFile, error);
    return result;
}
