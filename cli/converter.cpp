#include "converter.h"

#include "ataripic.h"
#include "commandline.h"
#include "interrupts.h"
#include "pictureexports.h"
#include "pictureconversion.h"
#include "plainfiles.h"

#include <memory>
#include <vector>

ConversionResult convert(const ConversionJob &job, const ConversionOptions &options, int threads)
{
    ConversionResult result;
    std::vector<quint32> pixels(Geometry::kSourcePixels);
    QString error;
    if (!PictureConversion::read(job.input, options.conversion, pixels.data(), &error, &result.warning)) {
        // A picture whose decoder was ended by an interrupt has not failed: it was not converted.
        result.interrupted = Interrupts::received() != 0;
        result.shortage = PlainFiles::shortOfResources();
        if (!result.interrupted)
            result.failures << QStringLiteral("%1: %2").arg(job.input, error);
        return result;
    }

    auto pic = std::make_unique<ATARIpic>();
    pic->setThreads(threads);
    PictureConversion::convert(*pic, ConversionSettings(), pixels.data(), options.conversion);
    result.converted = true;
    if (options.wantFigure) {
        const QualityFigure::Figures figures = pic->figures();
        result.figure = figures.quality;
        result.flicker = figures.flickerMean;
    }

    QStringList &failures = result.failures;
    const auto failed = [&](const QString &fileName) {
        failures << QStringLiteral("%1: %2").arg(fileName, error);
        result.shortage = result.shortage || PlainFiles::shortOfResources();
    };
    if (!job.xexFile.isEmpty() && !PictureExports::saveXex(*pic, job.xexFile, &error))
        failed(job.xexFile);
    if (!job.asmFile.isEmpty() && !PictureExports::saveAsm(*pic, job.asmFile, &error))
        failed(job.asmFile);
    if (!job.pngFile.isEmpty() && !PictureExports::savePreviewPng(*pic, options.previewMode, job.pngFile, &error))
        failed(job.pngFile);
    return result;
}
