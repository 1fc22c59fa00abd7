#include "testpictures.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>

namespace {

void appendLe16(QByteArray &bytes, quint32 value)
{
    bytes.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

void appendLe32(QByteArray &bytes, quint32 value)
{
    appendLe16(bytes, value & 0xFFFF);
    appendLe16(bytes, value >> 16);
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

namespace TestPictures {

QImage gradient(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x * y) & 0xFF));
    return image;
}

QByteArray encode(const QImage &image, const char *format, bool progressive)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image))
        qFatal("cannot encode a test picture as %s: %s", format, qPrintable(writer.errorString()));
    return bytes;
}

QByteArray gif(int screenWidth, int screenHeight, int frameWidth, int frameHeight, const QVector<QRgb> &palette,
               const QByteArray &indices)
{
    constexpr int kClear = 256;
    constexpr int kEnd = 257;
    constexpr int kCodeBits = 9;
    constexpr int kPixelsPerClear = 100;

    QByteArray out("GIF89a");
    appendLe16(out, quint32(screenWidth));
    appendLe16(out, quint32(screenHeight));
    out.append(char(0xF7)).append('\0').append('\0'); // a global table of 256 colours
    for (int i = 0; i < 256; ++i) {
        const QRgb colour = i < palette.size() ? palette.at(i) : 0;
        out.append(char(qRed(colour))).append(char(qGreen(colour))).append(char(qBlue(colour)));
    }
    out.append(',');
    appendLe16(out, 0);
    appendLe16(out, 0);
    appendLe16(out, quint32(frameWidth));
    appendLe16(out, quint32(frameHeight));
    out.append('\0').append(char(8)); // no local table; LZW minimum code size 8

    QVector<int> codes{kClear};
    for (int i = 0; i < indices.size(); ++i) {
        if (i > 0 && i % kPixelsPerClear == 0)
            codes << kClear;
        codes << quint8(indices.at(i));
    }
    codes << kEnd;
    QByteArray data;
    quint32 pending = 0;
    int bits = 0;
    for (int code : codes) {
        pending |= quint32(code) << bits;
        for (bits += kCodeBits; bits >= 8; bits -= 8, pending >>= 8)
            data.append(char(pending & 0xFF));
    }
    if (bits > 0)
        data.append(char(pending & 0xFF));
    for (int i = 0; i < data.size(); i += 255) {
        const QByteArray block = data.mid(i, 255);
        out.append(char(block.size())).append(block);
    }
    return out.append('\0').append(';');
}

QByteArray icon(int entryWidth, int entryHeight, const QByteArray &image)
{
    QByteArray out;
    appendLe16(out, 0);
    appendLe16(out, 1);
    appendLe16(out, 1);
    out.append(char(entryWidth & 0xFF)).append(char(entryHeight & 0xFF)).append('\0').append('\0');
    appendLe16(out, 1);
    appendLe16(out, 32);
    appendLe32(out, quint32(image.size()));
    appendLe32(out, 22);
    return out + image;
}

QByteArray bmp(int width, int height, int bits, const QVector<QRgb> &table, const QByteArray &pixelData,
               int compression)
{
    constexpr quint32 kHeaders = 14 + 40;
    const quint32 offset = kHeaders + 4 * quint32(table.size());
    QByteArray out("BM");
    appendLe32(out, offset + quint32(pixelData.size()));
    appendLe32(out, 0);
    appendLe32(out, offset);
    appendLe32(out, 40);
    appendLe32(out, quint32(width));
    appendLe32(out, quint32(height));
    appendLe16(out, 1);
    appendLe16(out, quint32(bits));
    appendLe32(out, quint32(compression));
    appendLe32(out, 0);
    appendLe32(out, 2835);
    appendLe32(out, 2835);
    appendLe32(out, quint32(table.size()));
    appendLe32(out, 0);
    for (QRgb colour : table)
        out.append(char(qBlue(colour))).append(char(qGreen(colour))).append(char(qRed(colour))).append('\0');
    return out + pixelData;
}

QByteArray withPngSize(QByteArray png, quint32 width, quint32 height)
{
    // Signature (8), chunk length (4), "IHDR" at 12, width at 16, height at 20, checksum at 29.
    qToBigEndian(width, png.data() + 16);
    qToBigEndian(height, png.data() + 20);
    qToBigEndian(crc32(png.mid(12, 17)), png.data() + 29);
    return png;
}

QByteArray withJpegSize(QByteArray jpeg, int width, int height)
{
    int sof = -1;
    for (int i = 2; i + 1 < jpeg.size(); ++i) {
        const quint8 marker = quint8(jpeg.at(i + 1));
        if (quint8(jpeg.at(i)) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
            sof = i;
            break;
        }
    }
    if (sof < 0)
        qFatal("no frame header in the test JPEG");
    qToBigEndian(quint16(height), jpeg.data() + sof + 5);
    qToBigEndian(quint16(width), jpeg.data() + sof + 7);
    return jpeg;
}

QVector<Seed> seeds()
{
    const QImage picture = gradient(40, 30);
    QVector<QRgb> palette;
    for (int i = 0; i < 16; ++i)
        palette << qRgb(i * 16, 255 - i * 16, (i * 40) & 0xFF);
    QByteArray indices;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            indices.append(char((x / 4 + y / 3) % 16));
    const QByteArray png = encode(picture, "PNG");
    return {
        {QStringLiteral("seed.jpg"), encode(picture, "JPG")},
        {QStringLiteral("seed-progressive.jpg"), encode(picture, "JPG", true)},
        {QStringLiteral("seed.png"), png},
        {QStringLiteral("seed-palette.png"), encode(picture.convertToFormat(QImage::Format_Indexed8), "PNG")},
        {QStringLiteral("seed.bmp"), encode(picture, "BMP")},
        {QStringLiteral("seed-palette.bmp"), encode(picture.convertToFormat(QImage::Format_Indexed8), "BMP")},
        {QStringLiteral("seed.gif"), gif(40, 30, 40, 30, palette, indices)},
        {QStringLiteral("seed.ico"), encode(picture, "ICO")},
        {QStringLiteral("seed-png.ico"), icon(40, 30, png)},
        {QStringLiteral("seed.ppm"), encode(picture, "PPM")},
    };
}

} // namespace TestPictures
