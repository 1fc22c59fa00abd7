#include "filenames.h"

#include "qtcompat.h"

namespace {

// The lone low surrogates that stand for the bytes 0x80 to 0xFF that are not part of valid UTF-8.
constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kFirstEscape = kEscapeBase + 0x80;
constexpr char16_t kLastEscape = kEscapeBase + 0xFF;

// The length of the valid UTF-8 sequence at in[0] (1 to 4) with its code point, or 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a surrogate, past U+10FFFF
// or cut short).
int sequence(const unsigned char *in, int length, char32_t *codePoint)
{
    const unsigned char lead = in[0];
    int count = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (count > length)
        return 0;
    for (int i = 1; i < count; ++i) {
        if ((in[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (in[i] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return count;
}

void appendUtf8(QByteArray &out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out.append(char(codePoint));
    } else if (codePoint < 0x800) {
        out.append(char(0xC0 | codePoint >> 6)).append(char(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.append(char(0xE0 | codePoint >> 12))
            .append(char(0x80 | (codePoint >> 6 & 0x3F)))
            .append(char(0x80 | (codePoint & 0x3F)));
    } else {
        out.append(char(0xF0 | codePoint >> 18))
            .append(char(0x80 | (codePoint >> 12 & 0x3F)))
            .append(char(0x80 | (codePoint >> 6 & 0x3F)))
            .append(char(0x80 | (codePoint & 0x3F)));
    }
}

// UTF-8 that keeps the bytes which are not UTF-8. Whole strings only: a sequence split between two
// calls decodes as escaped bytes, which encode back to the same bytes.
QString decodeKeepingBytes(const char *chars, int length)
{
    const auto *in = reinterpret_cast<const unsigned char *>(chars);
    QString out;
    out.reserve(length);
    for (int i = 0; i < length;) {
        char32_t codePoint = 0;
        const int count = sequence(in + i, length - i, &codePoint);
        if (count == 0) {
            out.append(QChar(char16_t(kEscapeBase + in[i])));
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(codePoint))
            out.append(QChar(QChar::highSurrogate(codePoint))).append(QChar(QChar::lowSurrogate(codePoint)));
        else
            out.append(QChar(char16_t(codePoint)));
        i += count;
    }
    return out;
}

QByteArray encodeKeepingBytes(const QChar *in, int length)
{
    QByteArray out;
    out.reserve(length);
    for (int i = 0; i < length; ++i) {
        const char16_t unit = in[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < length && in[i + 1].isLowSurrogate()) {
            appendUtf8(out, QChar::surrogateToUcs4(unit, in[i + 1].unicode()));
            ++i;
        } else if (unit >= kFirstEscape && unit <= kLastEscape) {
            out.append(char(unit - kEscapeBase));
        } else if (QChar::isSurrogate(unit)) {
            out.append('?');
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

} // namespace

namespace FileNames {

bool keepEveryByte()
{
    return QtCompat::replaceUtf8LocaleCodec(decodeKeepingBytes, encodeKeepingBytes);
}

} // namespace FileNames
