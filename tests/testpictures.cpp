#include "testpictures.h"

#include <QBuffer>
#include <QImageWriter>

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

void appendBe16(QByteArray &bytes, quint32 value)
{
    bytes.append(char(value >> 8)).append(char(value));
}

void appendBe32(QByteArray &bytes, quint32 value)
{
    appendBe16(bytes, value >> 16);
    appendBe16(bytes, value & 0xFFFF);
}

// Stores value big-endian at pos, byte by byte (QByteArray::data() hides the size from the
// compiler, which then warns about qToBigEndian in optimised builds).
void putBe(QByteArray &bytes, int pos, quint32 value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[pos + i] = char(value >> (8 * (count - 1 - i)));
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
    putBe(png, 16, width, 4);
    putBe(png, 20, height, 4);
    putBe(png, 29, crc32(png.mid(12, 17)), 4);
    return png;
}

QByteArray withExifOrientation(const QByteArray &jpeg, int orientation)
{
    QByteArray tiff("MM\0\x2A", 4);
    appendBe32(tiff, 8);              // the first directory follows the header
    appendBe16(tiff, 1);              // one entry:
    appendBe16(tiff, 0x0112);         // orientation,
    appendBe16(tiff, 3);              // a SHORT,
    appendBe32(tiff, 1);              // one of them,
    appendBe16(tiff, quint32(orientation)); // left-justified in the 4-byte value field
    appendBe16(tiff, 0);
    appendBe32(tiff, 0);              // no further directory
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    appendBe16(segment, quint32(payload.size() + 2));
    return jpeg.left(2) + segment + payload + jpeg.mid(2);
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
    putBe(jpeg, sof + 5, quint32(height), 2);
    putBe(jpeg, sof + 7, quint32(width), 2);
    return jpeg;
}

namespace {

// The position of the first marker code at or after from (0xFF followed by neither 0 nor a restart
// marker), or -1.
int nextMarker(const QByteArray &jpeg, int from)
{
    for (int i = from; i + 1 < jpeg.size(); ++i) {
        const quint8 code = quint8(jpeg.at(i + 1));
        if (quint8(jpeg.at(i)) == 0xFF && code != 0 && code != 0xFF && !(code >= 0xD0 && code <= 0xD7))
            return i;
    }
    return -1;
}

} // namespace

QByteArray multiScanJpeg(int width, int height, const QByteArray &beforeScan)
{
    const QByteArray jpeg = withJpegSize(encode(gradient(16, 16), "JPG"), width, height);
    const int sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    const int length = quint8(jpeg.at(sos + 2)) << 8 | quint8(jpeg.at(sos + 3));
    if (sos < 0 || jpeg.at(sos + 4) != 3)
        qFatal("no scan of three components in the test JPEG");
    // Marker, length 8, one component (its selector and tables), spectral selection and approximation.
    QByteArray scan("\xFF\xDA\x00\x08\x01", 5);
    scan += jpeg.mid(sos + 5, 2) + jpeg.mid(sos + 2 + length - 3, 3);
    return jpeg.left(sos) + beforeScan + scan + jpeg.mid(sos + 2 + length);
}

QByteArray manyScanJpeg(int width, int height, int scans)
{
    const QByteArray jpeg = withJpegSize(encode(gradient(16, 16), "JPG", true), width, height);
    const int sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    const int length = quint8(jpeg.at(sos + 2)) << 8 | quint8(jpeg.at(sos + 3));
    const int end = nextMarker(jpeg, sos + 2 + length);
    if (sos < 0 || end < 0)
        qFatal("no scan in the test JPEG");
    const QByteArray scan = jpeg.mid(sos, end - sos);
    return jpeg.left(end) + scan.repeated(scans - 1) + jpeg.mid(end);
}

QByteArray gifBehindExtensions(int width, int height, int extensions, bool restorePrevious)
{
    QByteArray out("GIF89a");
    appendLe16(out, 0);
    appendLe16(out, 0);
    out.append(char(0x80)).append('\0').append('\0'); // a global table of 2 colours
    out.append(QByteArray::fromHex("000000FFFFFF"));
    out.append(QByteArray::fromHex("21FE0141" "00").repeated(extensions)); // comments of one byte
    if (restorePrevious)
        out.append(QByteArray::fromHex("21F9040C00000000"));
    out.append(',');
    appendLe16(out, 0);
    appendLe16(out, 0);
    appendLe16(out, quint32(width));
    appendLe16(out, quint32(height));
    // No local table; LZW minimum code size 2; a clear code (4) and the end code (5) of 3 bits each.
    out.append('\0').append(char(2)).append(QByteArray::fromHex("012C00"));
    return out.append(';');
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
        {QStringLiteral("seed.ppm"), encode(picture, "PPM")},
    };
}

} // namespace TestPictures
