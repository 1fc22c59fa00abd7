#include "converter.h"

#include "ataripic.h"
#include "commandline.h"
#include "picturefiles.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <memory>
#include <vector>

bool savePreviewPng(const ATARIpic &pic, quint8 mode, const QString &fileName, QString *error)
{
    QImage image(Geometry::kSourceWidth, Geometry::kSourceHeight, QImage::Format_RGB32);
    for (int y = 0; y < Geometry::kSourceHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < Geometry::kSourceWidth; ++x)
            line[x] = pic.getPixel(quint16(x), quint16(y), mode) | 0xFF000000u;
    }

    // Encoded in memory first, so that a failing disk is reported by the file, not the encoder.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "PNG");
    if (!writer.write(image)) {
        *error = writer.errorString();
        return false;
    }

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    if (file.write(encoded) != encoded.size() || !file.commit()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

QStringList convert(const ConversionJob &job, bool hasSaturation, int saturation, quint8 previewMode)
{
    std::vector<quint32> pixels(Geometry::kSourcePixels);
    QString error;
    if (!PictureFiles::load(job.input, pixels.data(), &error))
        return {QStringLiteral("%1: %2").arg(job.input, error)};

    auto pic = std::make_unique<ATARIpic>();
    if (hasSaturation)
        pic->newSaturation(saturation);
    pic->copy(pixels.data());

    QStringList failures;
    if (!job.xexFile.isEmpty() && !PictureFiles::saveXex(*pic, job.xexFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.xexFile, error);
    if (!job.asmFile.isEmpty() && !PictureFiles::saveAsm(*pic, job.asmFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.asmFile, error);
    if (!job.pngFile.isEmpty() && !savePreviewPng(*pic, previewMode, job.pngFile, &error))
        failures << QStringLiteral("%1: %2").arg(job.pngFile, error);
    return failures;
}
