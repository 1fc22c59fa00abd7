#ifndef QTCOMPAT_H
#define QTCOMPAT_H

// What Qt 5.15 and Qt 6 do differently, in one place. Everything else in the project uses the
// idioms both share; the build chooses the version (RASTREL_QT, 5 by default).

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace QtCompat {

// Qt 5 lets a program replace the codec that decodes its arguments and file names (QTextCodec);
// Qt 6 always decodes them as the locale says, turning bytes that are not UTF-8 under a UTF-8
// locale into U+FFFD, so such names cannot be kept there.
constexpr bool kCanReplaceLocaleCodec = QT_VERSION < QT_VERSION_CHECK(6, 0, 0);

// Decodes a whole byte string to text; encodes text back to bytes.
using Decoder = QString (*)(const char *bytes, int length);
using Encoder = QByteArray (*)(const QChar *text, int length);

// Where the locale's codec is UTF-8 (MIB 106) and the Qt in use allows it, makes `decode` and
// `encode` the locale's codec, used from then on for arguments, file names and local 8-bit text.
// Returns whether it did. Call before the first call of QCoreApplication::arguments().
bool replaceUtf8LocaleCodec(Decoder decode, Encoder encode);

// Qt 6 refuses to decode a picture whose image would take more than 128 MB, Qt 5 has no such
// limit. The decoder process is held to its memory by the kernel and to kMaxPixels by the headers,
// so the toolkit's own limit is lifted there: every photo up to the pixel limit reads as under Qt 5.
void liftReaderAllocationLimit();

// A process that runs a function in the child between fork and exec (signals, limits).
class ProcessWithChildSetup : public QProcess
{
public:
    // `setup` runs in the child only: async-signal-safe calls only.
    void setChildSetup(std::function<void()> setup)
    {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        setChildProcessModifier(std::move(setup));
    }
#else
        m_setup = std::move(setup);
    }

protected:
    void setupChildProcess() override
    {
        if (m_setup)
            m_setup();
    }

private:
    std::function<void()> m_setup;
#endif
};

} // namespace QtCompat

#endif
