#include "loadbudget.h"

#include <QCoreApplication>
#include <QIODevice>

#include <algorithm>
#include <limits>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("LoadBudget", text);
}

constexpr int kMaxJpegSegments = 10000;

// Saturating product, so that any header's numbers multiply without overflow.
qint64 times(qint64 a, qint64 b)
{
    qint64 product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<qint64>::max() : product;
}

qint64 plus(qint64 a, qint64 b)
{
    qint64 sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<qint64>::max() : sum;
}

// Random access to the small pieces of a file that the headers occupy.
class Headers
{
public:
    explicit Headers(QIODevice &device) : device(device), length(device.size()) {}

    qint64 size() const { return length; }

    // Up to count bytes at pos; fewer when the file ends first.
    QByteArray at(qint64 pos, qint64 count)
    {
        if (pos < 0 || pos >= length || !device.seek(pos))
            return QByteArray();
        return device.read(std::min(count, length - pos));
    }

private:
    QIODevice &device;
    qint64 length;
};

quint32 byteAt(const QByteArray &bytes, int i)
{
    return quint8(bytes.at(i));
}

quint32 le16(const QByteArray &bytes, int i)
{
    return byteAt(bytes, i) | byteAt(bytes, i + 1) << 8;
}

quint32 le32(const QByteArray &bytes, int i)
{
    return le16(bytes, i) | le16(bytes, i + 2) << 16;
}

quint32 be16(const QByteArray &bytes, int i)
{
    return byteAt(bytes, i) << 8 | byteAt(bytes, i + 1);
}

quint32 be32(const QByteArray &bytes, int i)
{
    return be16(bytes, i) << 16 | be16(bytes, i + 2);
}

LoadBudget::Estimate sized(qint64 width, qint64 height, const QString &what)
{
    LoadBudget::Estimate estimate;
    estimate.size = QSize(int(std::min<qint64>(width, std::numeric_limits<int>::max())),
                          int(std::min<qint64>(height, std::numeric_limits<int>::max())));
    estimate.what = what;
    return estimate;
}

const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);

// The IHDR chunk of a PNG.
bool png(Headers &in, LoadBudget::Estimate *estimate)
{
    const QByteArray header = in.at(0, 24);
    if (header.size() < 24 || !header.startsWith(kPngSignature) || header.mid(12, 4) != "IHDR")
        return false;
    *estimate = sized(be32(header, 16), be32(header, 20), tr("PNG"));
    return true;
}

bool isStartOfFrame(quint32 marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The frame header of a JPEG: the size of the picture the decoder allocates.
bool jpeg(Headers &in, LoadBudget::Estimate *estimate)
{
    qint64 pos = 2;
    for (int segment = 0; segment < kMaxJpegSegments; ++segment) {
        const QByteArray marker = in.at(pos, 9);
        if (marker.size() < 2 || byteAt(marker, 0) != 0xFF)
            return false;
        const quint32 code = byteAt(marker, 1);
        if (code == 0xFF) {
            ++pos;
            continue;
        }
        if (code == 0xD8 || code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (code == 0xD9 || code == 0xDA || marker.size() < 4)
            return false;
        if (isStartOfFrame(code)) {
            if (marker.size() < 9)
                return false;
            *estimate = sized(be16(marker, 7), be16(marker, 5), tr("JPEG frame"));
            return true;
        }
        const qint64 length = be16(marker, 2);
        if (length < 2)
            return false;
        pos += 2 + length;
    }
    return false;
}

// Skips the data sub-blocks starting at pos; returns the position after the terminator, or -1.
qint64 skipSubBlocks(Headers &in, qint64 pos)
{
    for (;;) {
        const QByteArray length = in.at(pos, 1);
        if (length.isEmpty())
            return -1;
        if (byteAt(length, 0) == 0)
            return pos + 1;
        pos += 1 + byteAt(length, 0);
    }
}

// The logical screen and the first frame. The decoder draws the frame into an image the size of
// the screen (or of the frame, where it reaches past the screen, or the screen has no size).
bool gif(Headers &in, LoadBudget::Estimate *estimate)
{
    const QByteArray screen = in.at(0, 13);
    if (screen.size() < 13)
        return false;
    qint64 width = le16(screen, 6);
    qint64 height = le16(screen, 8);
    const quint32 flags = byteAt(screen, 10);
    qint64 pos = 13 + ((flags & 0x80) ? 3 * (2 << (flags & 7)) : 0);
    QString what = tr("GIF logical screen");
    // Every block before the first frame, however many: the decoder reads them all.
    while (pos >= 0) {
        const QByteArray introducer = in.at(pos, 10);
        if (introducer.size() < 2)
            break;
        if (byteAt(introducer, 0) == 0x21) {
            pos = skipSubBlocks(in, pos + 2);
        } else if (byteAt(introducer, 0) == 0x2C && introducer.size() == 10) {
            const qint64 left = le16(introducer, 1);
            const qint64 top = le16(introducer, 3);
            const qint64 frameWidth = le16(introducer, 5);
            const qint64 frameHeight = le16(introducer, 7);
            if (width == 0 || height == 0) {
                width = frameWidth;
                height = frameHeight;
                what = tr("GIF frame");
            }
            if (left + frameWidth > width || top + frameHeight > height)
                what = tr("GIF frame");
            width = std::max(width, left + frameWidth);
            height = std::max(height, top + frameHeight);
            break;
        } else {
            break;
        }
    }
    *estimate = sized(width, height, what);
    return true;
}

// Reads a BMP's run-length coded pixels from pos and tells whether they set every one of the
// width x height pixels. Runs and rows are clipped at the picture's edges as the decoder clips them;
// positions that the data skips (by a delta, an early end of line or an early end) stay unset.
bool rleSetsEveryPixel(QIODevice &device, qint64 pos, qint64 width, qint64 height, bool fourBit)
{
    if (!device.seek(pos))
        return false;
    QByteArray buffer;
    int next = 0;
    auto get = [&](quint32 *value) {
        if (next == buffer.size()) {
            buffer = device.read(64 * 1024);
            next = 0;
            if (buffer.isEmpty())
                return false;
        }
        *value = quint8(buffer.at(next++));
        return true;
    };
    qint64 x = 0;
    qint64 y = 0;
    qint64 set = 0;
    quint32 count = 0;
    quint32 code = 0;
    while (y < height && get(&count) && get(&code)) {
        if (count > 0) {
            set += std::max<qint64>(0, std::min<qint64>(count, width - x));
            x += count;
        } else if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            break;
        } else if (code == 2) {
            quint32 dx = 0;
            quint32 dy = 0;
            if (!get(&dx) || !get(&dy))
                break;
            x += dx;
            y += dy;
        } else {
            set += std::max<qint64>(0, std::min<qint64>(code, width - x));
            x += code;
            const quint32 bytes = fourBit ? (code + 1) / 2 : code;
            quint32 skipped = 0;
            for (quint32 i = 0; i < bytes + (bytes & 1); ++i) {
                if (!get(&skipped))
                    return false;
            }
        }
    }
    return set >= width * height;
}

constexpr quint32 kBmpRgb = 0;
constexpr quint32 kBmpRle8 = 1;
constexpr quint32 kBmpRle4 = 2;
constexpr quint32 kBmpBitFields = 3;
constexpr quint32 kBmpAlphaBitFields = 6;
constexpr int kBmpFileHeader = 14;
constexpr int kBmpCoreHeader = 12;
constexpr int kBmpInfoHeader = 40;

// The bitmap header, and whether the file holds every pixel it declares: the decoder allocates
// the image, reads what it finds and leaves the rest of the image as it found it in memory.
bool bmp(Headers &in, QIODevice &device, LoadBudget::Estimate *estimate)
{
    const QByteArray header = in.at(0, kBmpFileHeader + kBmpInfoHeader);
    if (header.size() < kBmpFileHeader + kBmpCoreHeader || !header.startsWith("BM"))
        return false;
    const qint64 dataOffset = le32(header, 10);
    const qint64 infoSize = le32(header, 14);
    qint64 width = 0;
    qint64 height = 0;
    qint64 bits = 0;
    quint32 compression = kBmpRgb;
    qint64 colours = 0;
    int colourBytes = 4;
    if (infoSize == kBmpCoreHeader) {
        width = le16(header, 18);
        height = le16(header, 20);
        bits = le16(header, 24);
        colourBytes = 3;
    } else if (infoSize >= kBmpInfoHeader && header.size() >= kBmpFileHeader + kBmpInfoHeader) {
        width = qint32(le32(header, 18));
        height = qint32(le32(header, 22));
        bits = le16(header, 28);
        compression = le32(header, 30);
        colours = le32(header, 46);
    } else {
        return false;
    }
    width = std::abs(width);
    height = std::abs(height);
    *estimate = sized(width, height, tr("bitmap"));

    if (compression == kBmpRle8 || compression == kBmpRle4) {
        if (!rleSetsEveryPixel(device, dataOffset, width, height, compression == kBmpRle4))
            estimate->damage = tr("Its compressed picture data leaves pixels unset (the file is "
                                  "damaged or ends early).");
        return true;
    }
    if (compression != kBmpRgb && compression != kBmpBitFields && compression != kBmpAlphaBitFields)
        return true;
    if (bits <= 8 && colours == 0)
        colours = qint64(1) << bits;
    if (bits > 8)
        colours = 0;
    qint64 masks = 0;
    if (infoSize == kBmpInfoHeader && compression == kBmpBitFields)
        masks = 12;
    else if (infoSize == kBmpInfoHeader && compression == kBmpAlphaBitFields)
        masks = 16;
    const qint64 start = std::max(dataOffset, plus(kBmpFileHeader + infoSize + masks, times(colours, colourBytes)));
    const qint64 rowBytes = times(plus(times(width, bits), 31) / 32, 4);
    const qint64 needed = times(rowBytes, height);
    if (plus(start, needed) > in.size()) {
        const qint64 present = std::max<qint64>(0, in.size() - start);
        estimate->damage = tr("The file ends early: it holds %1 of the %2 bytes of picture data "
                              "its header announces.")
                               .arg(present)
                               .arg(needed);
    }
    return true;
}

} // namespace

namespace LoadBudget {

Estimate estimate(QIODevice &device)
{
    Headers in(device);
    const QByteArray magic = in.at(0, 8);
    Estimate result;
    if (magic.startsWith("\xFF\xD8\xFF"))
        jpeg(in, &result);
    else if (magic.startsWith(kPngSignature))
        png(in, &result);
    else if (magic.startsWith("GIF8"))
        gif(in, &result);
    else if (magic.startsWith("BM"))
        bmp(in, device, &result);
    device.seek(0);
    return result;
}

} // namespace LoadBudget
