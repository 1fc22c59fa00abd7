#include "photoformats.h"

#include <QCoreApplication>
#include <QImageReader>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PhotoFormats", text);
}

// Whether the toolkit has a reader for format (a plugin that may be missing).
bool readable(const QByteArray &format)
{
    return QImageReader::supportedImageFormats().contains(format);
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The format of netpbm content ("P1" to "P6" followed by white space), or an empty array.
QByteArray netpbm(const QByteArray &head)
{
    if (head.size() < 3 || head.at(0) != 'P' || !isSpace(head.at(2)))
        return QByteArray();
    switch (head.at(1)) {
    case '1':
    case '4':
        return "pbm";
    case '2':
    case '5':
        return "pgm";
    case '3':
    case '6':
        return "ppm";
    default:
        return QByteArray();
    }
}

// A short name for content that is a picture or a document of another kind, or an empty string.
QString otherFormat(const QByteArray &head)
{
    struct Signature
    {
        int offset;
        QByteArray bytes;
        const char *name;
    };
    static const Signature signatures[] = {
        {0, QByteArray("\x1F\x8B", 2), "gzip, such as svgz"},
        {0, "/* XPM */", "xpm"},
        {0, "! XPM2", "xpm"},
        {0, "#define", "xbm"},
        {0, QByteArray("\0\0\1\0", 4), "ico"},
        {0, QByteArray("\0\0\2\0", 4), "cur"},
        {0, "icns", "icns"},
        {0, "%PDF", "pdf"},
        {0, "8BPS", "psd"},
        {0, "DDS ", "dds"},
        {0, "qoif", "qoi"},
        {0, "P7", "pam"},
        {0, "II*", "tiff"},
        {0, "MM\0*", "tiff"},
        {8, "WEBP", "webp"},
        {4, "ftypheic", "heic"},
        {4, "ftypavif", "avif"},
        {0, QByteArray("\0\0\0\x0CjP  ", 8), "jpeg 2000"},
    };
    for (const Signature &signature : signatures) {
        if (head.mid(signature.offset, signature.bytes.size()) == signature.bytes)
            return QString::fromLatin1(signature.name);
    }
    // Markup: SVG, or other XML or HTML, possibly after a byte order mark and white space.
    int start = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < head.size() && isSpace(head.at(start)))
        ++start;
    if (start < head.size() && head.at(start) == '<')
        return head.contains("<svg") ? QStringLiteral("svg") : QStringLiteral("xml or html");
    return QString();
}

} // namespace

namespace PhotoFormats {

QByteArray identify(const QByteArray &head, QString *refusal)
{
    QByteArray format;
    if (head.startsWith("\xFF\xD8\xFF"))
        format = "jpeg";
    else if (head.startsWith("\x89PNG\r\n\x1A\n"))
        format = "png";
    else if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        format = "gif";
    else if (head.startsWith("BM"))
        format = "bmp";
    else if (head.startsWith("II*") || head.startsWith(QByteArray("MM\0*", 4)))
        format = readable("tiff") ? "tiff" : QByteArray();
    else if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        format = readable("webp") ? "webp" : QByteArray();
    else
        format = netpbm(head);
    if (!format.isEmpty())
        return format;

    const QString other = otherFormat(head);
    QStringList names{QStringLiteral("JPEG"), QStringLiteral("PNG"), QStringLiteral("GIF"), QStringLiteral("BMP"),
                      QStringLiteral("PBM"), QStringLiteral("PGM"), QStringLiteral("PPM")};
    for (const char *optional : {"tiff", "webp"}) {
        if (readable(optional))
            names << QString::fromLatin1(optional).toUpper();
    }
    *refusal = other.isEmpty() ? tr("not a picture this program can read (the formats read are %1)").arg(names.join(QStringLiteral(", ")))
                               : tr("not a photo format (%1)").arg(other);
    return QByteArray();
}

QList<QByteArray> suffixes()
{
    QList<QByteArray> list{"jpg", "jpeg", "jpe", "png", "gif", "bmp", "dib", "pbm", "pgm", "ppm", "pnm"};
    if (readable("tiff"))
        list << "tif" << "tiff";
    if (readable("webp"))
        list << "webp";
    return list;
}

} // namespace PhotoFormats
