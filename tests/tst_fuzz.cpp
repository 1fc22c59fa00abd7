#include "atarigeometry.h"
#include "decodermessages.h"
#include "decoderprocess.h"
#include "loadbudget.h"
#include "pictureloader.h"
#include "testpictures.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <random>
#include <vector>

using namespace Geometry;
using namespace TestPictures;

namespace {

constexpr int kMutantsPerSeed = 250;
constexpr quint32 kRandomSeed = 0x5eed2026;
// The decoder process's malloc fills new blocks with the complement of these bytes (MALLOC_PERTURB_),
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

// Loads path in a fresh decoder process whose allocator fills new memory with the complement of
// perturbation, as the first load of a worker would find it.
Outcome loadWith(const QString &path, int perturbation)
{
    qputenv("MALLOC_PERTURB_", QByteArray::number(perturbation));
    DecoderProcess::endIdleWorkers();
    Outcome outcome;
    outcome.loaded = PictureLoader::load(path, outcome.pixels.data(), &outcome.error);
    qunsetenv("MALLOC_PERTURB_");
    DecoderProcess::endIdleWorkers();
    return outcome;
}

// Loads every one of paths in one decoder process, as a batch does, with the allocator's new
// memory filled as for loadWith.
std::vector<Outcome> loadAllWith(const QStringList &paths, int perturbation)
{
    qputenv("MALLOC_PERTURB_", QByteArray::number(perturbation));
    DecoderProcess::endIdleWorkers();
    std::vector<Outcome> outcomes(size_t(paths.size()));
    for (int i = 0; i < paths.size(); ++i)
        outcomes[size_t(i)].loaded = PictureLoader::load(paths.at(i), outcomes[size_t(i)].pixels.data(),
                                                        &outcomes[size_t(i)].error);
    qunsetenv("MALLOC_PERTURB_");
    DecoderProcess::endIdleWorkers();
    return outcomes;
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

// Every mutant is refused with a reason, or loads to the same pixels twice although the decoder
// process's memory is filled differently before each load, and the toolkit's own decoder makes an
// image no larger than the size the headers gave, which the pixel limit was checked against.
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

    QStringList paths;
    for (int i = 0; i < kMutantsPerSeed; ++i)
        paths << write(QStringLiteral("mutant-%1-%2").arg(i).arg(name), mutate(seed, random));
    QElapsedTimer timer;
    timer.start();
    const std::vector<Outcome> first = loadAllWith(paths, kFirstPerturbation);
    decodeNanoseconds += timer.nsecsElapsed();
    const std::vector<Outcome> second = loadAllWith(paths, kSecondPerturbation);

    for (int i = 0; i < kMutantsPerSeed; ++i) {
        const QString where = QStringLiteral("%1 mutant %2").arg(name).arg(i);
        const Outcome &one = first[size_t(i)];
        const Outcome &other = second[size_t(i)];
        QVERIFY2(one.loaded == other.loaded, qPrintable(where + ": " + one.error + " / " + other.error));
        if (!one.loaded) {
            ++refused;
            QVERIFY2(!one.error.isEmpty(), qPrintable(where + ": refused without a reason"));
            QCOMPARE(one.error, other.error);
        } else {
            ++decoded;
            QVERIFY2(one.pixels == other.pixels, qPrintable(where + ": pixels depend on memory contents"));
            QFile file(paths.at(i));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QByteArray bytes = file.readAll();
            QBuffer device(&bytes);
            device.open(QIODevice::ReadOnly);
            const LoadBudget::Estimate header = LoadBudget::estimate(device);
            QImage image;
            {
                const DecoderMessages quiet;
                QImageReader reader(paths.at(i));
                reader.setDecideFormatFromContent(true);
                image = reader.read();
            }
            const qint64 area = qint64(image.width()) * image.height();
            QVERIFY2(!header.size.isValid() || area <= qint64(header.size.width()) * header.size.height(),
                     qPrintable(where + QStringLiteral(": decoded %1 x %2, the headers say %3 x %4")
                                            .arg(image.width()).arg(image.height())
                                            .arg(header.size.width()).arg(header.size.height())));
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
    // Icons are not photos, whatever they hold.
    QTest::newRow("icon entry of 32x32 holding a 20001x10000 PNG")
        << "entry.ico" << icon(32, 32, withPngSize(png, 20001, 10000)) << QStringList{"not a photo format (ico)"}
        << false << 0u;
#if !defined(__SANITIZE_ADDRESS__)
    // 14000 * 10000 pixels of 8 bytes: 1120 MB, within the pixel limit but past the memory limit.
    QTest::newRow("16-bit PNG of 14000x10000")
        << "wide.png" << withPngSize(png16, 14000, 10000) << QStringList{"needs more than 1 GiB of memory"} << false
        << 0u;
    // Its coefficients (128 bytes a block) and the 32-bit image take 1.4 GB.
    QTest::newRow("progressive JPEG of 3 kB claiming 20000x10000")
        << "progressive.jpg" << withJpegSize(encode(gradient(16, 16), "JPG", true), 20000, 10000)
        << QStringList{"needs more than 1 GiB of memory"} << false << 0u;
#endif
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
    qInfo("mutants: %d decoded, %d refused; the first loads took %.1f ms in all", decoded, refused,
          decodeNanoseconds / 1e6);
}

QTEST_GUILESS_MAIN(TestFuzz)
#include "tst_fuzz.moc"
