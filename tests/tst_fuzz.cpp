#include "atarigeometry.h"
#include "decodermessages.h"
#include "loadbudget.h"
#include "pictureloader.h"
#include "testpictures.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <malloc.h>
#include <random>
#include <sys/resource.h>
#include <vector>

using namespace Geometry;
using namespace TestPictures;

namespace {

constexpr int kMutantsPerSeed = 250;
constexpr quint32 kRandomSeed = 0x5eed2026;
// malloc fills new blocks with the complement of these bytes (where the allocator supports it),
// so that pixels a decoder never writes differ between the two loads of a mutant.
constexpr int kFirstPerturbation = 0x5A;
constexpr int kSecondPerturbation = 0xA5;

QByteArray mutate(const QByteArray &seed, std::mt19937 &random)
{
    QByteArray bytes = seed;
    auto pick = [&random](int below) { return int(random() % quint32(std::max(1, below))); };
    // Half of the changes land in the first 64 bytes, where the headers are.
    auto position = [&]() { return pick(2) == 0 ? pick(std::min(64, int(bytes.size()))) : pick(bytes.size()); };
    const int changes = 1 + pick(4);
    for (int change = 0; change < changes && !bytes.isEmpty(); ++change) {
        switch (pick(6)) {
        case 0: {
            const int at = position();
            bytes[at] = char(bytes.at(at) ^ (1 << pick(8)));
            break;
        }
        case 1: {
            static const char values[] = {'\x00', '\xFF', '\x7F', '\x80', '\x01'};
            bytes[position()] = values[pick(5)];
            break;
        }
        case 2:
            bytes.truncate(position());
            break;
        case 3: {
            if (bytes.size() < 2)
                break;
            static const quint16 values[] = {0xFFFF, 0x7FFF, 0x4000, 0x0000, 0x0101};
            const int at = pick(std::min(64, int(bytes.size()) - 1));
            const quint16 value = values[pick(5)];
            bytes[at] = char(value >> 8);
            bytes[at + 1] = char(value & 0xFF);
            break;
        }
        case 4: {
            const int at = position();
            bytes.insert(at, bytes.mid(position(), 1 + pick(32)));
            break;
        }
        default:
            bytes.remove(position(), 1 + pick(32));
            break;
        }
    }
    return bytes;
}

struct Outcome
{
    bool loaded = false;
    QString error;
    std::vector<quint32> pixels = std::vector<quint32>(kSourcePixels, 0);
};

Outcome loadWith(const QString &path, int perturbation)
{
    mallopt(M_PERTURB, perturbation);
    Outcome outcome;
    outcome.loaded = PictureLoader::load(path, outcome.pixels.data(), &outcome.error);
    mallopt(M_PERTURB, 0);
    return outcome;
}

// Starts a new measurement of the peak resident memory, where the system allows it.
void resetPeakResidentBytes()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

// The peak resident memory since the last reset (or since the start), in bytes.
qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

// Counts the lines that reach the message log while installed.
QStringList logged;

void countMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    logged << message;
}

} // namespace

class TestFuzz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mutants_data();
    void mutants();
    void findings_data();
    void findings();
    void cleanupTestCase();

private:
    QString write(const QString &name, const QByteArray &bytes);

    QTemporaryDir dir;
    qint64 decodeNanoseconds = 0;
    qint64 slowestNanoseconds = 0;
    qint64 largestPeak = 0;
    int decoded = 0;
    int refused = 0;
};

QString TestFuzz::write(const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

void TestFuzz::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestFuzz::mutants_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("seed");
    for (const Seed &seed : seeds())
        QTest::newRow(qPrintable(seed.name)) << seed.name << seed.bytes;
}

// Every mutant is refused with a reason, or loads to the same pixels twice although
// memory is filled differently before each load, and the toolkit's own decoder makes an image no
// larger than the estimate the load was allowed by; none takes the process past the budget.
void TestFuzz::mutants()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, seed);

    std::uint32_t state = kRandomSeed;
    for (QChar c : name)
        state = state * 31 + c.unicode();
    std::mt19937 random(state);

    std::vector<quint32> original(kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(write(name, seed), original.data(), &error), qPrintable(error));

    // The one line a damaged picture may log is expected here; the findings check its form.
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(countMessage);
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });

    for (int i = 0; i < kMutantsPerSeed; ++i) {
        const QByteArray bytes = mutate(seed, random);
        const QString path = write(QStringLiteral("mutant-%1").arg(name), bytes);
        const QString where = QStringLiteral("%1 mutant %2").arg(name).arg(i);

        LoadBudget::Estimate need;
        {
            const DecoderMessages quiet;
            QImageReader reader(path);
            reader.setDecideFormatFromContent(true);
            const QSize readerSize = reader.size();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            need = LoadBudget::estimate(file, reader.format(), readerSize);
        }

        resetPeakResidentBytes();
        QElapsedTimer timer;
        timer.start();
        const Outcome first = loadWith(path, kFirstPerturbation);
        const qint64 elapsed = timer.nsecsElapsed();
        const qint64 peak = peakResidentBytes();
        largestPeak = std::max(largestPeak, peak);
        QVERIFY2(peak < LoadBudget::kMaxBytes, qPrintable(where + QStringLiteral(": peak memory %1 MB").arg(peak >> 20)));
        decodeNanoseconds += elapsed;
        slowestNanoseconds = std::max(slowestNanoseconds, elapsed);
        const Outcome second = loadWith(path, kSecondPerturbation);

        QVERIFY2(first.loaded == second.loaded, qPrintable(where));
        if (!first.loaded) {
            ++refused;
            QVERIFY2(!first.error.isEmpty(), qPrintable(where + ": refused without a reason"));
            QCOMPARE(first.error, second.error);
        } else {
            ++decoded;
            QVERIFY2(first.pixels == second.pixels, qPrintable(where + ": pixels depend on memory contents"));
            // The estimate the budget was kept by covers the image the toolkit's decoder really makes.
            QImage image;
            {
                const DecoderMessages quiet;
                QImageReader reader(path);
                reader.setDecideFormatFromContent(true);
                image = reader.read();
            }
            const qint64 area = qint64(image.width()) * image.height();
            QVERIFY2(image.sizeInBytes() <= need.bytes
                         && (!need.size.isValid() || area <= qint64(need.size.width()) * need.size.height()),
                     qPrintable(where + QStringLiteral(": decoded %1 x %2, %3 bytes, estimated %4 x %5, %6 bytes")
                                            .arg(image.width()).arg(image.height()).arg(image.sizeInBytes())
                                            .arg(need.size.width()).arg(need.size.height()).arg(need.bytes)));
        }
    }
}

void TestFuzz::findings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("reasonParts"); // empty: the picture must load
    QTest::addColumn<bool>("uniform");            // when loaded: whether every pixel must be...
    QTest::addColumn<quint32>("everyPixel");      // ...this colour

    const QByteArray png = encode(gradient(4, 4), "PNG");
    QImage wide(4, 4, QImage::Format_RGBA64);
    wide.fill(Qt::blue);
    const QByteArray png16 = encode(wide, "PNG");
    const QVector<QRgb> twoColours{qRgb(255, 0, 0), qRgb(0, 255, 0)};
    const QByteArray row(64 * 3, '\x40');
    QFile photo(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"));
    QVERIFY(photo.open(QIODevice::ReadOnly));
    const QByteArray chelsea = photo.readAll();

    QTest::newRow("GIF screen of 16383x16383 around a 1x1 frame")
        << "screen.gif" << gif(16383, 16383, 1, 1, {qRgb(0, 0, 0)}, QByteArray(1, '\0'))
        << QStringList{"logical screen", "16383 x 16383"} << false << 0u;
    QTest::newRow("icon entry of 32x32 holding a 20001x10000 PNG")
        << "entry.ico" << icon(32, 32, withPngSize(png, 20001, 10000))
        << QStringList{"PNG inside the icon", "20001 x 10000"} << false << 0u;
    // 14000 * 10000 pixels of 8 bytes: 1120 MB, within the pixel limit but past the budget.
    QTest::newRow("icon entry holding a 16-bit 14000x10000 PNG")
        << "wide.ico" << icon(32, 32, withPngSize(png16, 14000, 10000))
        << QStringList{"PNG inside the icon", "14000 x 10000", "MB of memory"} << false << 0u;
    QTest::newRow("progressive JPEG of 3 kB claiming 20000x10000")
        << "progressive.jpg" << withJpegSize(encode(gradient(16, 16), "JPG", true), 20000, 10000)
        << QStringList{"progressive JPEG", "20000 x 10000", "MB of memory"} << false << 0u;
    QTest::newRow("BMP cut after its header") << "cut.bmp" << bmp(64, 64, 24, {}, QByteArray())
                                              << QStringList{"ends early", "0 of the 12288 bytes"} << false << 0u;
    QTest::newRow("one-row BMP claiming 64 rows") << "short.bmp" << bmp(64, 64, 24, {}, row)
                                                  << QStringList{"ends early", "192 of the 12288 bytes"} << false << 0u;
    QTest::newRow("run-length BMP ending after one row")
        << "short-rle.bmp" << bmp(4, 4, 8, twoColours, QByteArray::fromHex("040100000001"), 1)
        << QStringList{"leaves pixels unset"} << false << 0u;
    // Indices beyond the table become transparent black, as the conversion to 32 bits defines.
    QTest::newRow("BMP using indices beyond its colour table")
        << "index.bmp" << bmp(64, 64, 8, twoColours, QByteArray(64 * 64, '\x05')) << QStringList() << true << 0x00000000u;
    QTest::newRow("BMP using its colour table") << "table.bmp" << bmp(64, 64, 8, twoColours, QByteArray(64 * 64, '\x01'))
                                                << QStringList() << true << 0xFF00FF00u;
    QTest::newRow("JPEG cut in half") << "half.jpg" << chelsea.left(chelsea.size() / 2) << QStringList() << false << 0u;
}

// The files of past faults, made here, with the outcome each must have. A refusal gives the reason
// and nothing else on the log; a load gives the same pixels whatever memory held, and at most one
// line on the log, naming the file.
void TestFuzz::findings()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, reasonParts);
    QFETCH(bool, uniform);
    QFETCH(quint32, everyPixel);

    const QString path = write(name, bytes);
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(countMessage);
    QElapsedTimer timer;
    timer.start();
    const Outcome first = loadWith(path, kFirstPerturbation);
    const double elapsed = timer.nsecsElapsed() / 1e6;
    const QStringList firstLog = logged;
    const Outcome second = loadWith(path, kSecondPerturbation);
    qInstallMessageHandler(previous);
    qInfo("%s: %s in %.2f ms", qPrintable(name), first.loaded ? "loaded" : "refused", elapsed);

    if (!reasonParts.isEmpty()) {
        QVERIFY2(!first.loaded, qPrintable(name));
        for (const QString &part : reasonParts)
            QVERIFY2(first.error.contains(part), qPrintable(first.error));
        QVERIFY2(firstLog.isEmpty(), qPrintable(firstLog.join('\n')));
        return;
    }
    QVERIFY2(first.loaded && second.loaded, qPrintable(first.error));
    QVERIFY(first.pixels == second.pixels);
    QVERIFY2(firstLog.size() <= 1, qPrintable(firstLog.join('\n')));
    if (!firstLog.isEmpty())
        QVERIFY2(firstLog.first().contains(QDir::toNativeSeparators(path)), qPrintable(firstLog.first()));
    if (uniform)
        QVERIFY(std::all_of(first.pixels.begin(), first.pixels.end(), [&](quint32 p) { return p == everyPixel; }));
}

void TestFuzz::cleanupTestCase()
{
    qInfo("mutants: %d decoded, %d refused; "
          "the first loads took %.1f ms in all, %.2f ms at most; peak memory of a load %lld MB",
          decoded, refused, decodeNanoseconds / 1e6, slowestNanoseconds / 1e6, largestPeak >> 20);
}

QTEST_GUILESS_MAIN(TestFuzz)
#include "tst_fuzz.moc"
