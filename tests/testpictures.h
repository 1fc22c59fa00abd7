#ifndef TESTPICTURES_H
#define TESTPICTURES_H

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVector>

// Small picture files made byte by byte or with QImageWriter, for the loading tests: valid seeds
// of every format the program reads, and the damaged or oversized files that loading must refuse.
namespace TestPictures {

// A w x h picture whose colour changes along both axes (every pixel opaque).
QImage gradient(int w, int h);

// image in format ("PNG", "JPG", "BMP", "PPM", "ICO"); a progressive JPEG when progressive is set.
QByteArray encode(const QImage &image, const char *format, bool progressive = false);

// A GIF with a logical screen of screenWidth x screenHeight holding one frame of frameWidth x
// frameHeight at (0, 0), pixel i having the colour palette[indices[i]]. The LZW data uses 9-bit
// codes throughout (a clear code every 100 pixels), which every decoder reads.
QByteArray gif(int screenWidth, int screenHeight, int frameWidth, int frameHeight, const QVector<QRgb> &palette,
               const QByteArray &indices);

// An icon file with one entry of entryWidth x entryHeight (1 to 256) whose image data is image.
QByteArray icon(int entryWidth, int entryHeight, const QByteArray &image);

// A bottom-up BMP with a BITMAPINFOHEADER: width x height at bits per pixel, the colour table
// table, and pixelData as the picture data (rows of 4-byte multiples, or run-length coded for
// compression 1; may be cut short).
QByteArray bmp(int width, int height, int bits, const QVector<QRgb> &table, const QByteArray &pixelData,
               int compression = 0);

// png with the width and height of its header replaced (and the header's checksum corrected).
QByteArray withPngSize(QByteArray png, quint32 width, quint32 height);

// jpeg with the width and height of its first frame header replaced.
QByteArray withJpegSize(QByteArray jpeg, int width, int height);

// jpeg with an Exif segment (APP1, big-endian TIFF with one entry) holding orientation 1 to 8 after
// its start-of-image marker.
QByteArray withExifOrientation(const QByteArray &jpeg, int orientation);

// A 16x16 JPEG relabelled as width x height whose first scan holds only the first of its three
// components: a multi-scan layout, for which the decoder keeps every coefficient of the picture.
// beforeScan (junk, or 0xFF fill bytes) goes just before the scan's marker.
QByteArray multiScanJpeg(int width, int height, const QByteArray &beforeScan);

// A progressive 16x16 JPEG relabelled as width x height whose first scan is repeated until the file
// has scans scans; the decoder goes through every block of the picture for each.
QByteArray manyScanJpeg(int width, int height, int scans);

// A GIF whose logical screen is 0 x 0, with extensions comment blocks before its one frame of
// width x height (no pixel data); the frame is to be restored to the previous one when
// restorePrevious is set.
QByteArray gifBehindExtensions(int width, int height, int extensions, bool restorePrevious);

struct Seed
{
    QString name; // file name with the format's extension
    QByteArray bytes;
};

// One small valid file of each format and variant the program reads (JPEG baseline and progressive,
// PNG true colour and palette, BMP 24-bit and 8-bit, GIF, PPM).
QVector<Seed> seeds();

} // namespace TestPictures

#endif
