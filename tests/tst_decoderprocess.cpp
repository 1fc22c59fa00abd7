#include "atarigeometry.h"
#include "decoderprocess.h"
#include "picturedecoder.h"
#include "pictureloader.h"
#include "testpictures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <vector>

using namespace Geometry;
using namespace TestPictures;

namespace {

constexpr quint32 kUntouched = 0x12345678;
// The time limit of the test build's decoder in these tests, in seconds.
constexpr int kSeconds = 2;

} // namespace

// Pictures go through the decoder process: what a worker that crashes, hangs or runs out of memory
// gives, and what hostile files of each kind give.
class TestDecoderProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noticesAreNotDamage_data();
    void noticesAreNotDamage();
    void cleanupTestCase();
    void faults_data();
    void faults();
    void timeLimitIsPerPicture();
    void decoderProgramChecked_data();
    void decoderProgramChecked();
    void hostileFiles_data();
    void hostileFiles();
    void notRegularFiles_data();
    void notRegularFiles();
    void messagesShowControlCharactersEscaped_data();
    void messagesShowControlCharactersEscaped();

private:
    QString write(const QString &name, const QByteArray &bytes);

    QTemporaryDir dir;
    QString photo;
    std::vector<quint32> photoPixels;
};

QString TestDecoderProcess::write(const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

void TestDecoderProcess::initTestCase()
{
    QVERIFY(dir.isValid());
    qputenv("RASTREL_DECODER", RASTREL_DECODER_FAULTS_PROGRAM);
    qputenv("RASTREL_DECODER_SECONDS", QByteArray::number(kSeconds));
    qputenv("RASTREL_DECODER_IDLE_SECONDS", "1");
    DecoderProcess::endIdleWorkers();
    photo = QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg");
    photoPixels.assign(kSourcePixels, 0);
    QString error;
    QVERIFY2(PictureLoader::load(photo, photoPixels.data(), &error), qPrintable(error));
}

void TestDecoderProcess::cleanupTestCase()
{
    DecoderProcess::endIdleWorkers();
    qunsetenv("RASTREL_DECODER");
    qunsetenv("RASTREL_DECODER_SECONDS");
    qunsetenv("RASTREL_DECODER_IDLE_SECONDS");
}

void TestDecoderProcess::faults_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("crash") << QByteArray("crash") << "the decoder failed on this file";
    QTest::newRow("hang") << QByteArray("hang") << QStringLiteral("took longer than %1 s to decode").arg(kSeconds);
#if !defined(__SANITIZE_ADDRESS__)
    QTest::newRow("memory") << QByteArray("memory") << "needs more than 1 GiB of memory to decode";
    // Out of memory where it could not reply: the exit status tells.
    QTest::newRow("memory, no reply") << QByteArray("quit") << "needs more than 1 GiB of memory to decode";
#endif
    // Uses no processor time while the picture is unfinished, past its idle time (1 s here).
    QTest::newRow("waits for nothing") << QByteArray("sleep") << "the decoder stopped responding";
    // A descriptor the loader holds without close-on-exec must not reach the worker: this one
    // crashes when it finds one, and otherwise reads the file, which is no picture.
    QTest::newRow("inherited descriptor")
        << QByteArray("descriptors")
        << "not a picture this program can read (the formats read are JPEG, PNG, GIF, BMP, PBM, PGM, PPM)";
}

// A worker that fails gives the picture its reason, and the next picture (in a fresh worker) loads
// as ever.
void TestDecoderProcess::faults()
{
    QFETCH(QByteArray, fault);
    QFETCH(QString, reason);

    const QString path = write(QStringLiteral("fault-%1").arg(QString::fromLatin1(fault)), "RASTREL-FAULT " + fault);
    std::vector<quint32> pixels(kSourcePixels, kUntouched);
    QString error;
    // A fresh worker, started while the loader holds a descriptor that is not closed on exec.
    DecoderProcess::endIdleWorkers();
    const int held = ::open("/dev/null", O_RDONLY);
    QVERIFY(held >= 0);
    const bool loaded = PictureLoader::load(path, pixels.data(), &error);
    ::close(held);
    QVERIFY(!loaded);
    QCOMPARE(error, reason);
    QVERIFY(std::all_of(pixels.begin(), pixels.end(), [](quint32 p) { return p == kUntouched; }));

    QVERIFY2(PictureLoader::load(photo, pixels.data(), &error), qPrintable(error));
    QVERIFY(pixels == photoPixels);
}

// The processor time limit holds for each picture, not for the worker's life: a worker that is
// reused for pictures that together take more than the limit fails none of them.
void TestDecoderProcess::timeLimitIsPerPicture()
{
    // 0.6 s each, 3 s in all, on one worker with a limit of kSeconds.
    static_assert(5 * 600 > kSeconds * 1000, "the pictures together take more than the limit");
    const QString path = write(QStringLiteral("busy"), "RASTREL-FAULT busy");
    DecoderProcess::endIdleWorkers();
    for (int i = 0; i < 5; ++i) {
        std::vector<quint32> pixels(kSourcePixels, kUntouched);
        QString error;
        QVERIFY(!PictureLoader::load(path, pixels.data(), &error));
        QCOMPARE(error, QStringLiteral("not a picture this program can read (the formats read are JPEG, PNG, GIF, "
                                       "BMP, PBM, PGM, PPM)"));
    }
}

void TestDecoderProcess::decoderProgramChecked_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // empty: the photo loads
    QTest::newRow("a copy of the user's own") << "own" << "";
    QTest::newRow("a bare name") << "bare" << "RASTREL_DECODER must name the decoder program by its absolute path, not rastrel-zo9-decoder";
    QTest::newRow("others may change it") << "writable" << "others may change @PROGRAM";
    QTest::newRow("others may change its folder") << "folder" << "others may change @FOLDER";
    QTest::newRow("it belongs to another user") << "owner" << "@PROGRAM belongs to another user";
}

// Only a decoder the user chose on purpose and that no one else may change is run: a bare name
// would run a program of that name from the current folder.
void TestDecoderProcess::decoderProgramChecked()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    if (kind == QLatin1String("owner") && ::geteuid() != 0)
        QSKIP("Giving the program another owner needs root");

    QTemporaryDir place;
    QVERIFY(place.isValid());
    const QString folder = place.path() + QStringLiteral("/bin");
    QVERIFY(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/rastrel-zo9-decoder");
    QVERIFY(QFile::copy(QStringLiteral(RASTREL_DECODER_FAULTS_PROGRAM), program));
    const QByteArray encoded = QFile::encodeName(program);
    QCOMPARE(::chmod(encoded.constData(), 0755), 0);
    if (kind == QLatin1String("writable"))
        QCOMPARE(::chmod(encoded.constData(), 0757), 0);
    if (kind == QLatin1String("folder"))
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    if (kind == QLatin1String("owner"))
        QCOMPARE(::chown(encoded.constData(), 65534, 65534), 0);
    const QString previousFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    qputenv("RASTREL_DECODER", kind == QLatin1String("bare") ? QByteArray("rastrel-zo9-decoder") : encoded);
    DecoderProcess::endIdleWorkers();
    std::vector<quint32> pixels(kSourcePixels, kUntouched);
    QString error;
    const bool loaded = PictureLoader::load(photo, pixels.data(), &error);
    DecoderProcess::endIdleWorkers();
    qputenv("RASTREL_DECODER", RASTREL_DECODER_FAULTS_PROGRAM);
    QDir::setCurrent(previousFolder);
    if (reason.isEmpty()) {
        QVERIFY2(loaded, qPrintable(error));
        QVERIFY(pixels == photoPixels);
    } else {
        QVERIFY(!loaded);
        QVERIFY2(error.endsWith(QString(reason).replace(QLatin1String("@PROGRAM"), program).replace(QLatin1String("@FOLDER"), folder)),
                 qPrintable(error));
    }
}

void TestDecoderProcess::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

#if !defined(__SANITIZE_ADDRESS__)
    const QString memory = QStringLiteral("needs more than 1 GiB of memory to decode");
#endif
    const QString gifFrame = QStringLiteral("The GIF frame is 16383 x 16383 pixels; at most 200 megapixels can be loaded.");
    // 192 megapixels: within the pixel limit, but the coefficients of three components (2 bytes each,
    // chrominance at a quarter) and the 32-bit image take 1.3 GB.
#if !defined(__SANITIZE_ADDRESS__)
    // Under AddressSanitizer the decoder process has no memory limit.
    QTest::newRow("multi-scan JPEG behind two junk bytes")
        << multiScanJpeg(16000, 12000, QByteArray("\x12\x34")) << memory;
    QTest::newRow("multi-scan JPEG behind 1000 fill bytes")
        << multiScanJpeg(16000, 12000, QByteArray(1000, '\xFF')) << memory;
#endif
    QTest::newRow("GIF screen of 0x0, 268-megapixel frame behind 20000 extensions")
        << gifBehindExtensions(16383, 16383, 20000, false) << gifFrame;
    QTest::newRow("the same frame to be restored afterwards")
        << gifBehindExtensions(16383, 16383, 20000, true) << gifFrame;
    QTest::newRow("progressive JPEG of 3000 scans over 48 megapixels")
        << manyScanJpeg(8000, 6000, 3000) << QStringLiteral("took longer than %1 s to decode").arg(kSeconds);
    QTest::newRow("SVG whose image is itself")
        << QByteArray("<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                      "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"9\" height=\"9\">"
                      "<image xlink:href=\"self.svg\" width=\"9\" height=\"9\"/></svg>\n")
        << "not a photo format (svg)";
    QTest::newRow("gzip-compressed SVG") << qCompress(QByteArray("<svg/>")).replace(0, 4, "\x1F\x8B\x08\x00")
                                         << "not a photo format (gzip, such as svgz)";
    QTest::newRow("XPM with a colour name of control characters")
        << QByteArray("/* XPM */\nstatic char *x[] = {\"1 1 1 1\", \"a c \x1B[31mred\x07\", \"a\"};\n")
        << "not a photo format (xpm)";
    QTest::newRow("XBM") << QByteArray("#define x_width 1\n#define x_height 1\nstatic char x_bits[] = {0x01};\n")
                         << "not a photo format (xbm)";
    QTest::newRow("icon") << encode(gradient(16, 16), "ICO") << "not a photo format (ico)";
    QTest::newRow("text") << QByteArray("these are my notes, not a photo\n")
                          << "not a picture this program can read (the formats read are JPEG, PNG, GIF, BMP, PBM, PGM, PPM)";
}

// Each kind of hostile file is refused with its reason, within the worker's limits (the times are
// shown, not asserted: the kernel enforces them).
void TestDecoderProcess::hostileFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    const QString path = write(QStringLiteral("hostile"), bytes);
    std::vector<quint32> pixels(kSourcePixels, kUntouched);
    QString error;
    QElapsedTimer timer;
    timer.start();
    const bool loaded = PictureLoader::load(path, pixels.data(), &error);
    qInfo("%d bytes: %s after %.2f s", int(bytes.size()), qPrintable(error), timer.elapsed() / 1e3);
    QVERIFY(!loaded);
    QCOMPARE(error, reason);
    QVERIFY(std::all_of(pixels.begin(), pixels.end(), [](quint32 p) { return p == kUntouched; }));
}

void TestDecoderProcess::notRegularFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");

    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QTest::newRow("FIFO") << fifo << "It is a FIFO (named pipe), not a regular file.";
    QTest::newRow("device") << "/dev/zero" << "It is a device, not a regular file.";
    QTest::newRow("folder") << dir.path() << "It is a folder, not a picture.";
    QTest::newRow("empty name") << QString() << "The file name is empty.";

    const QString socketPath = dir.filePath(QStringLiteral("socket"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(socketPath);
    if (encoded.size() < int(sizeof address.sun_path)) {
        std::copy(encoded.begin(), encoded.end(), address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        QTest::newRow("socket") << socketPath << "It is a socket, not a regular file.";
    }
}

// A file that is not a regular file is refused at once (a FIFO without a writer would block for ever).
void TestDecoderProcess::notRegularFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);

    std::vector<quint32> pixels(kSourcePixels, kUntouched);
    QString error;
    QVERIFY(!PictureLoader::load(path, pixels.data(), &error));
    QCOMPARE(error, reason);
}

void TestDecoderProcess::messagesShowControlCharactersEscaped_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "Corrupt JPEG data: 4 extraneous bytes" << "Corrupt JPEG data: 4 extraneous bytes";
    QTest::newRow("terminal colour") << "a c \x1B[31mred" << "a c \\x1B[31mred";
    QTest::newRow("bell, tab, line break") << "\x07\t\n" << "\\x07\\x09\\x0A";
    QTest::newRow("delete and C1 controls") << QString::fromUtf8("\x7F\xC2\x9B") << "\\x7F\\x9B";
    QTest::newRow("letters beyond ASCII stay") << QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e") << QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e");
}

// Text from a file never reaches a terminal with its control characters.
void TestDecoderProcess::messagesShowControlCharactersEscaped()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(PictureDecoder::escaped(message), shown);
}

void TestDecoderProcess::noticesAreNotDamage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << "a.png" << QString() << 0 << QString();
    QTest::newRow("iCCP") << "a.png" << "iCCP: known incorrect sRGB profile" << 1
                          << "a.png: notice from the decoder (harmless): iCCP: known incorrect sRGB profile";
    // As the toolkit passes libpng's messages on.
    QTest::newRow("iCCP from libpng") << "a.png" << "libpng warning: iCCP: known incorrect sRGB profile" << 1
                                      << "a.png: notice from the decoder (harmless): iCCP: known incorrect sRGB profile";
    QTest::newRow("cHRM") << "b.png" << "libpng warning: iCCP: cHRM chunk does not match sRGB" << 1
                          << "b.png: notice from the decoder (harmless): iCCP: cHRM chunk does not match sRGB";
    // Only the first of several messages is known: the rest may be damage.
    QTest::newRow("iCCP and more") << "a.png" << "iCCP: known incorrect sRGB profile" << 2
                                   << "a.png: the picture is damaged or unusual; the decoder says: iCCP: known "
                                      "incorrect sRGB profile (and 1 more messages)";
    QTest::newRow("truncated") << "c.jpg" << "Corrupt JPEG data: premature end of data segment" << 1
                               << "c.jpg: the picture is damaged or unusual; the decoder says: Corrupt JPEG data: "
                                  "premature end of data segment";
    // A file name cannot make damage read as a notice.
    QTest::newRow("name like a notice") << "x: notice from the decoder (harmless): iCCP: known incorrect sRGB profile"
                                        << "iCCP: known incorrect sRGB profile." << 1
                                        << "x: notice from the decoder (harmless): iCCP: known incorrect sRGB "
                                           "profile: the picture is damaged or unusual; the decoder says: iCCP: known "
                                           "incorrect sRGB profile.";
}

// Colour-profile notices are worded as notices and told apart from damage; anything else is damage.
void TestDecoderProcess::noticesAreNotDamage()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(int, count);
    QFETCH(QString, text);
    const QString warning = DecoderProcess::warningText(name, message, count);
    QCOMPARE(warning, text);
    QCOMPARE(DecoderProcess::isNotice(warning), text.contains(QLatin1String("notice from")) && !text.contains("damaged"));
}

QTEST_GUILESS_MAIN(TestDecoderProcess)
#include "tst_decoderprocess.moc"
