#include "clitesting.h"
#include "testpictures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/resource.h>

using namespace CliTesting;
using namespace TestPictures;

namespace {

const QString kProgram = QStringLiteral("rastrel-zo9-cli");

struct Run
{
    bool normalExit = false;
    int exitCode = -1;
    QStringList errLines;
};

Run finish(ConverterProcess &process)
{
    Run result;
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.normalExit = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.errLines = QString::fromLocal8Bit(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return result;
}

Run run(const QStringList &arguments, rlim_t fileSizeLimit = 0, const QString &perturbation = QString())
{
    ConverterProcess process;
    process.fileSizeLimit = fileSizeLimit;
    if (!perturbation.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MALLOC_PERTURB_"), perturbation);
        process.setProcessEnvironment(environment);
    }
    process.start(QStringLiteral(RASTREL_CLI), arguments);
    if (!process.waitForStarted(30000))
        return Run();
    return finish(process);
}

} // namespace

class TestCliFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fileSizeLimit_data();
    void fileSizeLimit();
    void interruptedBatch_data();
    void interruptedBatch();
    void oneLinePerDamagedFile();
    void sameExportWhateverMemoryHeld_data();
    void sameExportWhateverMemoryHeld();
    void decoderFaultsEndOnePicture();
    void interruptEndsDecoder();
    void outputsThatAreNotFiles();
    void standardStreams();
    void clashThroughLink();
    void longNames();

private:
    QString freshDir();

    QTemporaryDir temp;
    int dirCount = 0;
    QString chelsea;
    QByteArray chelseaXex;
};

QString TestCliFaults::freshDir()
{
    const QString dir = temp.filePath(QStringLiteral("case%1").arg(++dirCount));
    if (!QDir().mkpath(dir))
        qFatal("cannot create %s", qPrintable(dir));
    return dir;
}

void TestCliFaults::initTestCase()
{
    QVERIFY(temp.isValid());
    chelsea = QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg");
    const QString xex = freshDir() + QStringLiteral("/chelsea.xex");
    const Run reference = run({chelsea, "--xex", xex});
    QCOMPARE(reference.exitCode, 0);
    chelseaXex = readAll(xex);
    QVERIFY(!chelseaXex.isEmpty());
}

void TestCliFaults::fileSizeLimit_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("name");
    QTest::newRow("xex") << "--xex" << "a.xex";
    QTest::newRow("asm") << "--asm" << "a.asm";
    QTest::newRow("png") << "--png" << "a.png";
}

// Past `ulimit -f` the save fails with the system's reason, the old file stays and no temporary
// file is left, instead of the converter dying of SIGXFSZ.
void TestCliFaults::fileSizeLimit()
{
    QFETCH(QString, option);
    QFETCH(QString, name);

    const QString dir = freshDir();
    const QString path = dir + '/' + name;
    QVERIFY(writeAll(path, "old contents"));
    const Run result = run({chelsea, option, path}, 4096);
    QVERIFY(result.normalExit);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errLines.size(), 1);
    QVERIFY2(result.errLines.first().startsWith(QStringLiteral("%1: %2: ").arg(kProgram, path)),
             qPrintable(result.errLines.first()));
    QCOMPARE(readAll(path), QByteArray("old contents"));
    QCOMPARE(entries(dir), QStringList{name});
}

void TestCliFaults::interruptedBatch_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

// A signal during a batch stops it after the picture in hand: every picture reported done has all
// its outputs, whole; no other file (no temporary one) is in the output directory. The second
// input makes the test build's decoder spin until it is ended: so the batch cannot get past it
// before the signal, however fast the machine, and the signal ends the decoder at once.
void TestCliFaults::interruptedBatch()
{
    QFETCH(int, signal);
    constexpr int kPictures = 60;

    const QString inputs = freshDir();
    QStringList arguments{"-j", "1", "-o", freshDir(), "-f", "xex,asm,png"};
    const QString out = arguments.at(3);
    const QString gate = inputs + QStringLiteral("/p01.jpg");
    for (int i = 0; i < kPictures; ++i) {
        const QString name = QStringLiteral("%1/p%2.jpg").arg(inputs).arg(i, 2, 10, QLatin1Char('0'));
        QVERIFY(i == 1 ? writeAll(gate, "RASTREL-FAULT hang") : QFile::link(chelsea, name));
        arguments << name;
    }

    ConverterProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RASTREL_DECODER"), QStringLiteral(RASTREL_DECODER_FAULTS_PROGRAM));
    environment.insert(QStringLiteral("RASTREL_DECODER_SECONDS"), QStringLiteral("600"));
    process.setProcessEnvironment(environment);
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(RASTREL_CLI), arguments);
    QVERIFY(process.waitForStarted(30000));
    QByteArray err;
    while (!err.contains("[1/") && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    QVERIFY2(err.contains("[1/"), err.constData());
    ::kill(pid_t(process.processId()), signal);
    Run result = finish(process);
    result.errLines = QString::fromLocal8Bit(err).split('\n', Qt::SkipEmptyParts) + result.errLines;

    QVERIFY(result.normalExit);
    QCOMPARE(result.exitCode, 128 + signal);
    QVERIFY2(result.errLines.last().contains(QLatin1String("interrupted")), qPrintable(result.errLines.join('\n')));
    QVERIFY2(result.errLines.filter(QRegularExpression(QStringLiteral("p(0[2-9]|[1-5][0-9])\\.jpg"))).isEmpty(),
             qPrintable(result.errLines.join('\n')));
    QCOMPARE(entries(out), (QStringList{"p00.asm", "p00.png", "p00.xex"}));
    QCOMPARE(readAll(out + QStringLiteral("/p00.xex")), chelseaXex);
}

// Damaged files give one line each (the refusal, or one warning naming the file when the picture
// loads anyway), however many messages the image libraries produce.
void TestCliFaults::oneLinePerDamagedFile()
{
    const QString dir = freshDir();
    const QByteArray whole = readAll(chelsea);
    QByteArray badChecksum = encode(gradient(8, 8), "PNG");
    badChecksum[29] = char(badChecksum.at(29) ^ 0x55);
    const QList<QPair<QString, QByteArray>> files{
        {"half.jpg", whole.left(whole.size() / 2)},
        {"checksum.png", badChecksum},
        {"short.bmp", bmp(64, 64, 24, {}, QByteArray(64 * 3, '\x40'))},
        {"screen.gif", gif(16383, 16383, 1, 1, {qRgb(0, 0, 0)}, QByteArray(1, '\0'))},
        {"index.bmp", bmp(320, 240, 8, {qRgb(255, 0, 0)}, QByteArray(320 * 240, '\x07'))},
    };
    QStringList arguments{"-q", "-o", freshDir()};
    for (const auto &file : files) {
        QVERIFY(writeAll(dir + '/' + file.first, file.second));
        arguments << dir + '/' + file.first;
    }

    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 1);
    // The palette picture loads without a word; each of the others gives exactly one line.
    QCOMPARE(result.errLines.size(), files.size() - 1);
    for (int i = 0; i + 1 < files.size(); ++i) {
        const QString prefix = QStringLiteral("%1: %2/%3: ").arg(kProgram, dir, files.at(i).first);
        QVERIFY2(result.errLines.at(i).startsWith(prefix), qPrintable(result.errLines.at(i)));
    }

    // With progress lines, and while the next picture is already being read, every line still
    // comes in input order: a good picture's progress line before the next one's warning.
    QStringList names{"good.jpg"};
    QVERIFY(writeAll(dir + QStringLiteral("/good.jpg"), whole));
    for (const auto &file : files)
        names << file.first;
    for (const char *jobs : {"1", "2"}) {
        QStringList withProgress{"-j", jobs, "-o", freshDir()};
        for (const QString &name : names)
            withProgress << dir + '/' + name;
        const Run ordered = run(withProgress);
        QCOMPARE(ordered.exitCode, 1);
        int last = -1;
        for (const QString &line : ordered.errLines) {
            int index = -1;
            for (int i = 0; i < names.size(); ++i) {
                if (line.contains(QStringLiteral("%1/%2").arg(dir, names.at(i))))
                    index = i;
            }
            QVERIFY2(index >= last, qPrintable(QStringLiteral("-j %1: %2").arg(jobs, line)));
            last = index;
        }
    }
}

void TestCliFaults::sameExportWhateverMemoryHeld_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("loads");

    QVector<QRgb> palette;
    for (int i = 0; i < 16; ++i)
        palette << qRgb(i * 16, 128, 255 - i * 16);
    QByteArray indices;
    for (int i = 0; i < 64 * 48; ++i)
        indices.append(char(i % 16));
    const QByteArray gifFile = gif(64, 48, 64, 48, palette, indices);
    const QByteArray bmpFile = encode(gradient(64, 48), "BMP");

    // The GIF decoder fills the screen before drawing the frame, so a cut frame has a defined rest.
    QTest::newRow("GIF cut in its frame") << gifFile.left(gifFile.size() / 2) << true;
    QTest::newRow("BMP cut in its pixels") << bmpFile.left(bmpFile.size() / 2) << false;
    QTest::newRow("one-row BMP claiming 64 rows") << bmp(64, 64, 24, {}, QByteArray(64 * 3, '\x40')) << false;
}

// With malloc filling new memory with two different bytes, a damaged picture gives the same export
// twice, or is refused both times.
void TestCliFaults::sameExportWhateverMemoryHeld()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, loads);

    const QString dir = freshDir();
    const QString input = dir + QStringLiteral("/damaged");
    QVERIFY(writeAll(input, bytes));
    QByteArray exports[2];
    const QString perturbations[2] = {QStringLiteral("17"), QStringLiteral("238")};
    for (int i = 0; i < 2; ++i) {
        const QString png = dir + QStringLiteral("/original%1.png").arg(i);
        const Run result = run({input, "-p", "original", "--png", png}, 0, perturbations[i]);
        QCOMPARE(result.exitCode, loads ? 0 : 1);
        exports[i] = readAll(png);
        QCOMPARE(exports[i].isEmpty(), !loads);
    }
    QVERIFY(exports[0] == exports[1]);
}

namespace {

struct StreamRun
{
    Run run;
    QByteArray out;
};

// Runs the converter with the environment changed by environment (an empty value removes the
// variable) and input on its standard input; gives its standard output too.
StreamRun runWith(const QStringList &arguments, const QHash<QString, QString> &environment,
                  const QByteArray &input = QByteArray())
{
    ConverterProcess process;
    QProcessEnvironment changed = QProcessEnvironment::systemEnvironment();
    for (auto i = environment.constBegin(); i != environment.constEnd(); ++i) {
        if (i.value().isEmpty())
            changed.remove(i.key());
        else
            changed.insert(i.key(), i.value());
    }
    process.setProcessEnvironment(changed);
    process.start(QStringLiteral(RASTREL_CLI), arguments);
    StreamRun result;
    if (!process.waitForStarted(30000))
        return result;
    process.write(input);
    process.closeWriteChannel();
    result.run = finish(process);
    result.out = process.readAllStandardOutput();
    return result;
}

const QHash<QString, QString> kFaultyDecoder{{"RASTREL_DECODER", RASTREL_DECODER_FAULTS_PROGRAM},
                                             {"RASTREL_DECODER_SECONDS", "1"}};

} // namespace

// A decoder that crashes, hangs or runs out of memory costs its picture one line naming the file,
// and the batch goes on, with the same lines and files whatever the number of threads.
void TestCliFaults::decoderFaultsEndOnePicture()
{
    const QString dir = freshDir();
    QStringList faults{"crash", "hang"};
#if !defined(__SANITIZE_ADDRESS__)
    faults << "memory";
#endif
    QStringList inputs;
    QStringList expected;
    for (const QString &fault : faults) {
        const QString good = QStringLiteral("%1/before-%2.jpg").arg(dir, fault);
        QVERIFY(QFile::link(chelsea, good));
        const QString bad = QStringLiteral("%1/%2.jpg").arg(dir, fault);
        QVERIFY(writeAll(bad, "RASTREL-FAULT " + fault.toLatin1()));
        inputs << good << bad;
    }
    expected << QStringLiteral("%1: %2/crash.jpg: the decoder failed on this file").arg(kProgram, dir)
             << QStringLiteral("%1: %2/hang.jpg: took longer than 1 s to decode").arg(kProgram, dir);
#if !defined(__SANITIZE_ADDRESS__)
    expected << QStringLiteral("%1: %2/memory.jpg: needs more than 1 GiB of memory to decode").arg(kProgram, dir);
#endif
    for (const char *jobs : {"1", "3"}) {
        const QString out = freshDir();
        const StreamRun result = runWith(QStringList{"-q", "-j", jobs, "-o", out} + inputs, kFaultyDecoder);
        QCOMPARE(result.run.exitCode, 1);
        QCOMPARE(result.run.errLines, expected);
        for (const QString &fault : faults)
            QCOMPARE(readAll(QStringLiteral("%1/before-%2.xex").arg(out, fault)), chelseaXex);
        QCOMPARE(entries(out).size(), faults.size());
    }
}

// SIGTERM while a picture is decoded ends the decoder at once: the converter stops with the
// pictures done so far, whole, instead of waiting for the decoder to give up.
void TestCliFaults::interruptEndsDecoder()
{
    const QString dir = freshDir();
    const QString out = freshDir();
    const QString hang = dir + QStringLiteral("/hang.jpg");
    QVERIFY(writeAll(hang, "RASTREL-FAULT hang"));
    ConverterProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RASTREL_DECODER"), QStringLiteral(RASTREL_DECODER_FAULTS_PROGRAM));
    environment.insert(QStringLiteral("RASTREL_DECODER_SECONDS"), QStringLiteral("600"));
    process.setProcessEnvironment(environment);
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(RASTREL_CLI), {"-j", "1", "-o", out, chelsea, hang, chelsea + "/../coffee.jpg"});
    QVERIFY(process.waitForStarted(30000));
    QByteArray err;
    while (!err.contains("[1/") && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    QVERIFY2(err.contains("[1/"), err.constData());
    // The hanging picture is being decoded now, or is about to be.
    QTest::qWait(300);
    QElapsedTimer timer;
    timer.start();
    ::kill(pid_t(process.processId()), SIGTERM);
    // Far less than the decoder's limit of 600 s; the time it took is shown.
    QVERIFY(process.waitForFinished(20000));
    qInfo("the converter ended %lld ms after SIGTERM", timer.elapsed());
    err += process.readAllStandardError();
    QCOMPARE(process.exitCode(), 128 + SIGTERM);
    const QStringList lines = QString::fromLocal8Bit(err).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.last().contains(QLatin1String("interrupted after 1 of 3 pictures")), qPrintable(lines.last()));
    QCOMPARE(entries(out), QStringList{"chelsea.xex"});
    QCOMPARE(readAll(out + QStringLiteral("/chelsea.xex")), chelseaXex);
}

// An existing output that is not a regular file is written into, never replaced.
void TestCliFaults::outputsThatAreNotFiles()
{
    const StreamRun toNull = runWith({chelsea, "--xex", "/dev/null"}, {});
    QCOMPARE(toNull.run.exitCode, 0);
    struct stat info = {};
    QCOMPARE(::stat("/dev/null", &info), 0);
    QVERIFY(S_ISCHR(info.st_mode));

    // A FIFO that no program reads fails at once rather than waiting for a reader.
    const QString fifo = freshDir() + QStringLiteral("/fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const StreamRun toFifo = runWith({chelsea, "--xex", fifo}, {});
    QCOMPARE(toFifo.run.exitCode, 1);
    QCOMPARE(toFifo.run.errLines,
             QStringList{QStringLiteral("%1: %2: No program reads from the FIFO (named pipe).").arg(kProgram, fifo)});
    QCOMPARE(::stat(QFile::encodeName(fifo).constData(), &info), 0);
    QVERIFY(S_ISFIFO(info.st_mode));
}

// '-' reads the picture from standard input and writes one output to standard output.
void TestCliFaults::standardStreams()
{
    const StreamRun piped = runWith({"-", "--xex", "-"}, {}, readAll(chelsea));
    QCOMPARE(piped.run.exitCode, 0);
    QVERIFY(piped.out == chelseaXex);

    const StreamRun empty = runWith({"-", "--xex", "-"}, {});
    QCOMPARE(empty.run.exitCode, 1);
    QCOMPARE(empty.run.errLines, QStringList{kProgram + QStringLiteral(": -: The file is empty.")});

    const StreamRun twoOutputs = runWith({chelsea, "--xex", "-", "--asm", "-"}, {});
    QCOMPARE(twoOutputs.run.exitCode, 2);
    const StreamRun twoInputs = runWith({"-", chelsea, "-o", freshDir()}, {});
    QCOMPARE(twoInputs.run.exitCode, 2);
}

// Outputs and inputs are compared by the real path of their folder and their name, so that a
// link to a folder cannot hide that two of them are the same file.
void TestCliFaults::clashThroughLink()
{
    const QString dir = freshDir();
    const QString link = dir + QStringLiteral("-link");
    QVERIFY(QFile::link(dir, link));
    const StreamRun outputs = runWith({chelsea, "--xex", dir + "/p.out", "--asm", link + "/p.out"}, {});
    QCOMPARE(outputs.run.exitCode, 2);
    QVERIFY2(outputs.run.errLines.value(0).contains(QLatin1String("name the same output file")),
             qPrintable(outputs.run.errLines.join('\n')));
    const StreamRun report = runWith({chelsea, "-o", dir, "--report", link + "/chelsea.xex"}, {});
    QCOMPARE(report.run.exitCode, 2);
    QCOMPARE(entries(dir), QStringList());
}

// A name as long as the file system allows is written and then replaced; no other file is left.
void TestCliFaults::longNames()
{
    const QString dir = freshDir();
    const QString name = QString(251, QLatin1Char('n')) + QStringLiteral(".xex");
    const QString path = dir + '/' + name;
    QVERIFY(writeAll(path, "old contents"));
    const StreamRun replaced = runWith({chelsea, "--xex", path}, {});
    QCOMPARE(replaced.run.exitCode, 0);
    QVERIFY(readAll(path) == chelseaXex);
    QCOMPARE(entries(dir), QStringList{name});
}

QTEST_GUILESS_MAIN(TestCliFaults)
#include "tst_clifaults.moc"
