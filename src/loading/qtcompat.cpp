#include "qtcompat.h"

#include <QImageReader>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

namespace QtCompat {

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)

namespace {

constexpr int kUtf8Mib = 106;

// The locale's UTF-8 with the caller's conversions. Whole strings only: no state between calls.
class CallerUtf8 : public QTextCodec
{
public:
    CallerUtf8(Decoder decode, Encoder encode) : m_decode(decode), m_encode(encode) {}
    QByteArray name() const override { return QByteArrayLiteral("x-rastrel-utf-8-keeping-bytes"); }
    int mibEnum() const override { return -kUtf8Mib; }

protected:
    QString convertToUnicode(const char *chars, int length, ConverterState *) const override
    {
        return m_decode(chars, length);
    }
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *) const override
    {
        return m_encode(in, length);
    }

private:
    Decoder m_decode;
    Encoder m_encode;
};

} // namespace

bool replaceUtf8LocaleCodec(Decoder decode, Encoder encode)
{
    if (QTextCodec::codecForLocale()->mibEnum() != kUtf8Mib)
        return false;
    // QTextCodec registers every codec it constructs and deletes them when the program ends.
    QTextCodec::setCodecForLocale(new CallerUtf8(decode, encode));
    return true;
}

#else

bool replaceUtf8LocaleCodec(Decoder, Encoder)
{
    return false;
}

#endif

void liftReaderAllocationLimit()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QImageReader::setAllocationLimit(0);
#endif
}

} // namespace QtCompat
