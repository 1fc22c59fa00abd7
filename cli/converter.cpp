#include "converter.h"

#include "ataripic.h"
#include "commandline.h"
#include "interrupts.h"
#include "picturefiles.h"

#include <memory>
#include <vector>

ConversionResult convert(const ConversionJob &job, const ConversionSettings &settings)
{
    ConversionResult result;
    std::vector<quint32> pixels(Geometry::kSourcePixels);
    QString error;
    const bool loaded = job.input == QLatin1String("-")
                            ? PictureFiles::loadStandardInput(pixels.data(), &error, &result.warning)
                            : PictureFiles::load(job.input, pixels.data(), &error, &result.warning);
    if (!loaded) {
        // A picture whose decoder was ended by an interrupt has not failed: it was not converted.
        result.interrupted = Interrupts::received() != 0;
        if (!result.interrupted)
            result.failures << QStringLiteral("%1: %2").arg(job.input, error);
        return result;
    }

    auto pic = std::make_unique<ATARIpic>();
    if (settings.hasSaturation)
        pic->newSaturation(settings.saturation);
    pic->setBasePalette(settings.basePalette);
    pic->setMethod(settings.bestMethod ? ATARIpic::Method::Best : ATARIpic::Method::Classic);
    pic->copy(pixels.data());
    result.converted = true;
    if (settings.wantFigure)
        result.figure = pic->qualityFigure();

    QStringList &failures = result.failures;
    if (!job.xexFile.isEmpty() && !PictureFiles::saveXex(*pic, job.xexFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.xexFile, error);
    if (!job.asmFile.isEmpty() && !PictureFiles::saveAsm(*pic, job.asmFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.asmFile, error);
    if (!job.pngFile.isEmpty() && !PictureFiles::savePreviewPng(*pic, settings.previewMode, job.pngFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.pngFile, error);
    return result;
}
