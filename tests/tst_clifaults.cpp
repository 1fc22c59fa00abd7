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
#include <sys/ioctl.h>
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
    void progressToClosedPipe();
    void limitsLeaveResultsAlone_data();
    void limitsLeaveResultsAlone();
    void protectedOutputs_data();
    void protectedOutputs();
    void writesGiveWayToSignals_data();
    void writesGiveWayToSignals();
    void closedStandardStreams_data();
    void closedStandardStreams();
    void decoderThatStopsResponding_data();
    void decoderThatStopsResponding();
    void suspendedBatchCarriesOn();
    void decoderEndedFromOutside_data();
    void decoderEndedFromOutside();
    void controlCharactersShownEscaped_data();
    void controlCharactersShownEscaped();

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
    QTest::addColumn<bool>("toGroup"); // to the converter's whole process group, as a terminal sends it
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGINT from the terminal") << int(SIGINT) << true;
    QTest::newRow("SIGHUP from the terminal") << int(SIGHUP) << true;
    QTest::newRow("SIGQUIT") << int(SIGQUIT) << false;
    QTest::newRow("SIGPIPE") << int(SIGPIPE) << false;
}

// A signal during a batch stops it after the picture in hand: every picture reported done has all
// its outputs, whole; no other file (no temporary one) is in the output directory. The second
// input makes the test build's decoder spin until it is ended: so the batch cannot get past it
// before the signal, however fast the machine, and the signal ends the decoder at once.
void TestCliFaults::interruptedBatch()
{
    QFETCH(int, signal);
    QFETCH(bool, toGroup);
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
    process.ownProcessGroup = toGroup;
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
    const pid_t pid = pid_t(process.processId());
    ::kill(toGroup ? -pid : pid, signal);
    Run result = finish(process);
    result.errLines = QString::fromLocal8Bit(err).split('\n', Qt::SkipEmptyParts) + result.errLines;

    QVERIFY(result.normalExit);
    QCOMPARE(result.exitCode, 128 + signal);
    // Said as it was: an interrupt, not a picture that failed.
    QCOMPARE(result.errLines.size(), 2);
    QVERIFY2(result.errLines.last().startsWith(QStringLiteral("%1: interrupted by %2 after 1 of 60 pictures")
                                                   .arg(kProgram, QString::fromLatin1(QTest::currentDataTag()).section(' ', 0, 0))),
             qPrintable(result.errLines.join('\n')));
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
    QVERIFY2(lines.last().contains(QLatin1String("interrupted by SIGTERM after 1 of 3 pictures")), qPrintable(lines.last()));
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

namespace {

// Copies of the test photo as inputs of a batch: dir/p0.jpg ... (links, so no bytes are copied).
QStringList photoLinks(const QString &photo, const QString &dir, int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("%1/p%2.jpg").arg(dir).arg(i);
        if (!QFile::link(photo, name))
            return QStringList();
        names << name;
    }
    return names;
}

// Every file in dir by name, with its bytes.
QHash<QString, QByteArray> filesIn(const QString &dir)
{
    QHash<QString, QByteArray> files;
    for (const QString &name : entries(dir))
        files.insert(name, readAll(dir + '/' + name));
    return files;
}

// The processor time a process has used, in clock ticks; -1 once it is gone.
qint64 processorTicks(pid_t pid)
{
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const int end = stat.lastIndexOf(')');
    if (end < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(end + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

// The one decoder the converter pid has started, once it is there; -1 after timeout ms without.
pid_t decoderOf(pid_t pid, int timeout = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeout) {
        const QVector<pid_t> found = CliTesting::children(pid);
        if (!found.isEmpty())
            return found.first();
        QTest::qWait(20);
    }
    return -1;
}

bool underAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

} // namespace

// Progress written to a pipe whose reader went away (| head) ends the batch as an interrupt does:
// an ordinary end with the status of SIGPIPE, every output whole, no temporary file.
void TestCliFaults::progressToClosedPipe()
{
    const QStringList inputs = photoLinks(chelsea, freshDir(), 4);
    QVERIFY(!inputs.isEmpty());
    const QString out = freshDir();
    int ends[2];
    QCOMPARE(::pipe(ends), 0);
    ::close(ends[0]);
    ConverterProcess process;
    process.standardError = ends[1];
    process.start(QStringLiteral(RASTREL_CLI), QStringList{"-j", "1", "-o", out} + inputs);
    const bool started = process.waitForStarted(30000);
    ::close(ends[1]);
    QVERIFY(started);
    const Run result = finish(process);
    QVERIFY(result.normalExit);
    QCOMPARE(result.exitCode, 128 + SIGPIPE);
    const QStringList written = entries(out);
    QVERIFY(!written.isEmpty());
    for (const QString &name : written) {
        QVERIFY2(!name.startsWith(QLatin1String(".rastrel-")), qPrintable(name));
        QVERIFY2(readAll(out + '/' + name) == chelseaXex, qPrintable(name));
    }
}

void TestCliFaults::limitsLeaveResultsAlone_data()
{
    QTest::addColumn<int>("resource");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("pictures");
    QTest::addColumn<QString>("jobs"); // compared with -j 1

    // ulimit -v 1000000 with many threads: every thread's stack and allocations count.
    QTest::newRow("ulimit -v 1000000, two frames, -j 16")
        << int(RLIMIT_AS) << qint64(1000000) * 1024 << QStringList{"--frames", "2", "-f", "xex,png"} << 2 << "16";
    QTest::newRow("ulimit -v 1000000, best, -j 16")
        << int(RLIMIT_AS) << qint64(1000000) * 1024 << QStringList{"-m", "best"} << 4 << "16";
    // Each picture in hand takes descriptors: its input, its decoder's socket, its outputs.
    QTest::newRow("ulimit -n 10, -j 4") << int(RLIMIT_NOFILE) << qint64(10) << QStringList{"-f", "xex,asm,png"} << 8 << "4";
    QTest::newRow("ulimit -n 16, -j 8") << int(RLIMIT_NOFILE) << qint64(16) << QStringList{"-f", "xex,asm,png"} << 8 << "8";
}

// Under tight limits the files, the messages and the exit status are those of -j 1, and every
// picture that -j 1 converts is converted; nothing reaches the standard error stream without the
// converter's name.
void TestCliFaults::limitsLeaveResultsAlone()
{
    QFETCH(int, resource);
    QFETCH(qint64, limit);
    QFETCH(QStringList, options);
    QFETCH(int, pictures);
    QFETCH(QString, jobs);
    if (resource == RLIMIT_AS && underAddressSanitizer())
        QSKIP("AddressSanitizer reserves terabytes of address space: no address-space limit can be run");

    const QStringList inputs = photoLinks(chelsea, freshDir(), pictures);
    QVERIFY(!inputs.isEmpty());
    QHash<QString, QByteArray> files[2];
    Run results[2];
    const QString threads[2] = {QStringLiteral("1"), jobs};
    for (int i = 0; i < 2; ++i) {
        const QString out = freshDir();
        ConverterProcess process;
        (resource == RLIMIT_AS ? process.addressSpaceLimit : process.openFileLimit) = rlim_t(limit);
        process.start(QStringLiteral(RASTREL_CLI), QStringList{"-j", threads[i], "-o", out} + options + inputs);
        QVERIFY(process.waitForStarted(30000));
        results[i] = finish(process);
        results[i].errLines.replaceInStrings(out, QStringLiteral("OUT"));
        files[i] = filesIn(out);
        QVERIFY2(results[i].normalExit, qPrintable(QStringLiteral("-j %1 crashed").arg(threads[i])));
        for (const QString &line : results[i].errLines) {
            QVERIFY2(line.startsWith(kProgram + QStringLiteral(": ")) || line.startsWith(QLatin1Char('[')),
                     qPrintable(line));
        }
    }
    QCOMPARE(results[0].exitCode, 0);
    QCOMPARE(files[0].size(), pictures * (options.contains(QStringLiteral("xex,asm,png")) ? 3
                                          : options.contains(QStringLiteral("xex,png"))   ? 2
                                                                                           : 1));
    QCOMPARE(results[1].exitCode, results[0].exitCode);
    QCOMPARE(results[1].errLines, results[0].errLines);
    QCOMPARE(files[1].keys().size(), files[0].keys().size());
    for (auto file = files[0].constBegin(); file != files[0].constEnd(); ++file)
        QVERIFY2(files[1].value(file.key()) == file.value(), qPrintable(file.key()));
}

void TestCliFaults::protectedOutputs_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("needsRoot"); // to give a file another owner
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // a part of the error line; empty: none
    QTest::addColumn<bool>("replaced");   // the file behind the name holds the new export

    QTest::newRow("read-only file") << "read-only" << false << 1 << "The file is read-only" << false;
    QTest::newRow("a file keeps its permissions") << "permissions" << false << 0 << "" << true;
    QTest::newRow("a link is written through") << "link" << false << 0 << "" << true;
    QTest::newRow("a dangling link makes its target") << "dangling" << false << 0 << "" << true;
    QTest::newRow("a dangling link into a missing folder") << "dangling-no-folder" << false << 1 << "does not exist" << false;
    QTest::newRow("the user's own link in a shared folder") << "shared-own" << false << 0 << "" << true;
    QTest::newRow("another user's link in a shared folder") << "shared-other" << true << 1 << "it is not followed" << false;
    QTest::newRow("the shared folder owner's link") << "shared-folder-owner" << true << 0 << "" << true;
}

// An output is written only where the user may and meant to: a read-only file is left alone, a
// link is followed as the kernel would follow it (not another user's link in a shared folder such
// as /tmp), the link itself stays, and a replaced file keeps its permissions.
void TestCliFaults::protectedOutputs()
{
    QFETCH(QString, kind);
    QFETCH(bool, needsRoot);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(bool, replaced);
    if (needsRoot && ::geteuid() != 0)
        QSKIP("Giving a link another owner needs root");

    const QString dir = freshDir();
    const QString elsewhere = freshDir();
    const QByteArray old = "old contents";
    QString name = dir + QStringLiteral("/out.xex"); // what the converter is told to write
    QString target = name;                          // the file that is replaced, or not
    mode_t mode = 0644;
    const auto link = [&](const QString &to, uid_t owner) {
        target = to;
        return ::symlink(QFile::encodeName(to).constData(), QFile::encodeName(name).constData()) == 0
               && (owner == ::geteuid() || ::lchown(QFile::encodeName(name).constData(), owner, owner) == 0);
    };
    constexpr uid_t kNobody = 65534;
    if (kind == QLatin1String("read-only") || kind == QLatin1String("permissions")) {
        mode = kind == QLatin1String("read-only") ? 0444 : 0640;
        QVERIFY(writeAll(target, old));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode), 0);
    } else if (kind == QLatin1String("link")) {
        QVERIFY(writeAll(elsewhere + QStringLiteral("/real.xex"), old));
        QVERIFY(link(elsewhere + QStringLiteral("/real.xex"), ::geteuid()));
    } else if (kind == QLatin1String("dangling")) {
        QVERIFY(link(elsewhere + QStringLiteral("/new.xex"), ::geteuid()));
    } else if (kind == QLatin1String("dangling-no-folder")) {
        QVERIFY(link(elsewhere + QStringLiteral("/missing/new.xex"), ::geteuid()));
    } else {
        // A shared folder: sticky and writable by all, as /tmp.
        QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 01777), 0);
        if (kind == QLatin1String("shared-folder-owner"))
            QCOMPARE(::chown(QFile::encodeName(dir).constData(), kNobody, kNobody), 0);
        QVERIFY(writeAll(elsewhere + QStringLiteral("/victim.xex"), old));
        QVERIFY(link(elsewhere + QStringLiteral("/victim.xex"), kind == QLatin1String("shared-own") ? ::geteuid() : kNobody));
    }

    const StreamRun result = runWith({chelsea, "--xex", name}, {});
    QCOMPARE(result.run.exitCode, exitCode);
    if (message.isEmpty()) {
        QCOMPARE(result.run.errLines, QStringList());
    } else {
        QCOMPARE(result.run.errLines.size(), 1);
        QVERIFY2(result.run.errLines.first().startsWith(QStringLiteral("%1: %2: ").arg(kProgram, name))
                     && result.run.errLines.first().contains(message),
                 qPrintable(result.run.errLines.first()));
    }
    if (replaced)
        QVERIFY(readAll(target) == chelseaXex);
    else if (QFileInfo::exists(target))
        QCOMPARE(readAll(target), old);
    if (target != name)
        QVERIFY2(QFileInfo(name).isSymLink(), "the link stays a link");
    struct stat info = {};
    if (::stat(QFile::encodeName(target).constData(), &info) == 0 && target == name)
        QCOMPARE(info.st_mode & 07777, mode);
    for (const QString &folder : {dir, elsewhere}) {
        for (const QString &entry : entries(folder))
            QVERIFY2(!entry.startsWith(QLatin1String(".rastrel-")), qPrintable(entry));
    }
}

void TestCliFaults::writesGiveWayToSignals_data()
{
    QTest::addColumn<bool>("fifo"); // a FIFO named as the output; otherwise a pipe as the standard output
    QTest::addColumn<int>("signal");
    QTest::newRow("FIFO, SIGINT") << true << int(SIGINT);
    QTest::newRow("FIFO, SIGTERM") << true << int(SIGTERM);
    QTest::newRow("pipe, SIGINT") << false << int(SIGINT);
    QTest::newRow("pipe, SIGTERM") << false << int(SIGTERM);
}

// A write to a FIFO or pipe whose reader has stopped reading waits, but gives way to SIGINT and
// SIGTERM: the converter then ends as interrupted.
void TestCliFaults::writesGiveWayToSignals()
{
    QFETCH(bool, fifo);
    QFETCH(int, signal);

    const QString path = freshDir() + QStringLiteral("/fifo");
    int reader = -1;
    int writer = -1;
    if (fifo) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } else {
        int ends[2];
        QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
        reader = ends[0];
        writer = ends[1];
    }
    QVERIFY(reader >= 0);
    // A small pipe, which the source fills.
    const int capacity = ::fcntl(reader, F_SETPIPE_SZ, 4096);
    QVERIFY(capacity > 0);

    ConverterProcess process;
    process.standardOutput = writer;
    process.start(QStringLiteral(RASTREL_CLI), {chelsea, "--asm", fifo ? path : QStringLiteral("-")});
    QVERIFY(process.waitForStarted(30000));
    int queued = 0;
    QElapsedTimer waited;
    waited.start();
    while (queued < capacity && waited.elapsed() < 120000 && process.state() == QProcess::Running) {
        QTest::qWait(20);
        ::ioctl(reader, FIONREAD, &queued);
    }
    QCOMPARE(queued, capacity);
    QTest::qWait(200); // the converter is waiting for the reader now
    QElapsedTimer timer;
    timer.start();
    ::kill(pid_t(process.processId()), signal);
    const bool ended = process.waitForFinished(10000);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    ::close(reader);
    if (writer >= 0)
        ::close(writer);
    QVERIFY2(ended, "the write did not give way");
    qInfo("the converter ended %lld ms after the signal", timer.elapsed());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signal);
}

void TestCliFaults::closedStandardStreams_data()
{
    QTest::addColumn<bool>("input"); // standard input closed; otherwise standard output
    QTest::addColumn<QString>("message");
    QTest::newRow("'-' with standard input closed") << true << "-: the standard input is closed";
    QTest::newRow("--xex - with standard output closed") << false << "-: the standard output is closed";
}

// A closed standard stream is an error at once, not a wait on whatever took its descriptor.
void TestCliFaults::closedStandardStreams()
{
    QFETCH(bool, input);
    QFETCH(QString, message);

    const QString dir = freshDir();
    ConverterProcess process;
    (input ? process.closeStandardInput : process.closeStandardOutput) = true;
    process.start(QStringLiteral(RASTREL_CLI), input ? QStringList{"-", "--xex", dir + QStringLiteral("/a.xex")}
                                                     : QStringList{chelsea, "--xex", "-"});
    QVERIFY(process.waitForStarted(30000));
    const bool ended = process.waitForFinished(20000);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    QVERIFY2(ended, "the converter waited");
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()).trimmed(), QStringLiteral("%1: %2").arg(kProgram, message));
    QCOMPARE(entries(dir), QStringList());
}

void TestCliFaults::decoderThatStopsResponding_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<bool>("stop"); // the decoder is stopped with SIGSTOP while it works
    QTest::newRow("waits for nothing") << QByteArray("sleep") << false;
    QTest::newRow("stopped by SIGSTOP") << QByteArray("hang") << true;
}

// A decoder that uses no processor time while its picture is unfinished is ended after its idle
// time (here 1 s) with its own reason; the batch goes on.
void TestCliFaults::decoderThatStopsResponding()
{
    QFETCH(QByteArray, fault);
    QFETCH(bool, stop);

    const QString dir = freshDir();
    const QString bad = dir + QStringLiteral("/bad.jpg");
    QVERIFY(writeAll(bad, "RASTREL-FAULT " + fault));
    const QString out = freshDir();
    ConverterProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RASTREL_DECODER"), QStringLiteral(RASTREL_DECODER_FAULTS_PROGRAM));
    environment.insert(QStringLiteral("RASTREL_DECODER_SECONDS"), QStringLiteral("600"));
    environment.insert(QStringLiteral("RASTREL_DECODER_IDLE_SECONDS"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(RASTREL_CLI), {"-q", "-j", "1", "-o", out, bad, chelsea});
    QVERIFY(process.waitForStarted(30000));
    if (stop) {
        const pid_t decoder = decoderOf(pid_t(process.processId()));
        QVERIFY(decoder > 0);
        // Past its start, spinning on the picture.
        while (processorTicks(decoder) >= 0 && processorTicks(decoder) < 50)
            QTest::qWait(20);
        ::kill(decoder, SIGSTOP);
    }
    const Run result = finish(process);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errLines, QStringList{QStringLiteral("%1: %2: the decoder stopped responding").arg(kProgram, bad)});
    QVERIFY(readAll(out + QStringLiteral("/chelsea.xex")) == chelseaXex);
}

// A batch that was suspended (as by Ctrl+Z) for longer than a decoder may stay idle, and then
// resumed, carries on: its decoders were idle only because everything was stopped.
void TestCliFaults::suspendedBatchCarriesOn()
{
    const QStringList inputs = photoLinks(chelsea, freshDir(), 6);
    QVERIFY(!inputs.isEmpty());
    const QString out = freshDir();
    ConverterProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RASTREL_DECODER"), QStringLiteral(RASTREL_DECODER_FAULTS_PROGRAM));
    environment.insert(QStringLiteral("RASTREL_DECODER_IDLE_SECONDS"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(RASTREL_CLI), QStringList{"-j", "2", "-o", out} + inputs);
    QVERIFY(process.waitForStarted(30000));
    const pid_t pid = pid_t(process.processId());
    QByteArray err;
    while (!err.contains("[1/") && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    QVERIFY2(err.contains("[1/"), err.constData());
    ::kill(pid, SIGSTOP);
    const QVector<pid_t> decoders = CliTesting::children(pid);
    for (pid_t decoder : decoders)
        ::kill(decoder, SIGSTOP);
    QTest::qWait(3000);
    for (pid_t decoder : decoders)
        ::kill(decoder, SIGCONT);
    ::kill(pid, SIGCONT);
    Run result = finish(process);
    result.errLines = QString::fromLocal8Bit(err).split('\n', Qt::SkipEmptyParts) + result.errLines;
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.errLines.filter(QRegularExpression(QStringLiteral("^\\[\\d/6\\] "))).size(), 6);
    QCOMPARE(result.errLines.size(), 6);
    for (int i = 0; i < 6; ++i)
        QVERIFY(readAll(QStringLiteral("%1/p%2.xex").arg(out).arg(i)) == chelseaXex);
}

void TestCliFaults::decoderEndedFromOutside_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("reason");
    QTest::newRow("SIGKILL, as the out-of-memory killer sends")
        << int(SIGKILL) << "the decoder was ended by SIGKILL from outside (the system may have run out of memory)";
    QTest::newRow("SIGTERM") << int(SIGTERM) << "the decoder was ended by SIGTERM from outside";
    QTest::newRow("SIGSEGV, a crash") << int(SIGSEGV) << "the decoder failed on this file";
}

// A decoder ended by a signal from outside names the signal and does not blame the file; one that
// crashes does.
void TestCliFaults::decoderEndedFromOutside()
{
    QFETCH(int, signal);
    QFETCH(QString, reason);

    const QString dir = freshDir();
    const QString waits = dir + QStringLiteral("/waits.jpg");
    QVERIFY(writeAll(waits, "RASTREL-FAULT sleep"));
    const QString out = freshDir();
    ConverterProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RASTREL_DECODER"), QStringLiteral(RASTREL_DECODER_FAULTS_PROGRAM));
    environment.insert(QStringLiteral("RASTREL_DECODER_IDLE_SECONDS"), QStringLiteral("600"));
    // In sanitizer builds the decoder must die of the signal, not report it and exit.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":handle_segv=0"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(RASTREL_CLI), {"-q", "-j", "1", "-o", out, waits, chelsea});
    QVERIFY(process.waitForStarted(30000));
    const pid_t decoder = decoderOf(pid_t(process.processId()));
    QVERIFY(decoder > 0);
    // Sleeping on the picture: past its start it takes no more processor time.
    for (qint64 before = -2, now = processorTicks(decoder); now >= 0 && (now != before || now < 1);
         now = processorTicks(decoder)) {
        before = now;
        QTest::qWait(300);
    }
    ::kill(decoder, signal);
    const Run result = finish(process);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errLines, QStringList{QStringLiteral("%1: %2: %3").arg(kProgram, waits, reason)});
    QVERIFY(readAll(out + QStringLiteral("/chelsea.xex")) == chelseaXex);
}

void TestCliFaults::controlCharactersShownEscaped_data()
{
    QTest::addColumn<QString>("input");     // made a copy of the photo unless it starts with "missing"
    QTest::addColumn<QString>("output");    // --xex FILE; empty: -o with a second picture, for progress lines
    QTest::addColumn<QString>("shown");     // how the name must appear
    QTest::addColumn<int>("exitCode");

    QTest::newRow("a missing input retitling the terminal")
        << "missing\x1B]0;owned\x07.jpg" << "x.xex" << "missing\\x1B]0;owned\\x07.jpg" << 1;
    QTest::newRow("a line break in the progress")
        << "two\nlines.jpg" << "" << "two\\x0Alines.jpg -> " << 0;
    QTest::newRow("a carriage return in an output that cannot be written")
        << "photo.jpg" << "missing/over\rwritten.xex" << "missing/over\\x0Dwritten.xex: " << 1;
    QTest::newRow("C1 control and delete") << "missing\xC2\x9B" "31m\x7F.jpg" << "x.xex" << "missing\\x9B31m\\x7F.jpg" << 1;
}

// Control characters in names reach the terminal escaped, in errors and progress alike, so that a
// name can neither forge a line nor send the terminal a command.
void TestCliFaults::controlCharactersShownEscaped()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, shown);
    QFETCH(int, exitCode);

    const QString dir = freshDir();
    const QString path = dir + '/' + input;
    if (!input.startsWith(QLatin1String("missing")))
        QVERIFY(QFile::copy(chelsea, path));
    QStringList arguments{path};
    if (output.isEmpty())
        arguments << chelsea << "-o" << freshDir();
    else
        arguments << "--xex" << dir + '/' + output;
    const StreamRun result = runWith(arguments, {});
    QCOMPARE(result.run.exitCode, exitCode);
    const QString err = result.run.errLines.join('\n');
    QVERIFY2(err.contains(shown), qPrintable(err));
    for (const QChar c : err)
        QVERIFY2(c == '\n' || (c >= ' ' && c != QChar(0x7F) && (c < QChar(0x80) || c > QChar(0x9F))), qPrintable(err));
    for (const QString &line : result.run.errLines)
        QVERIFY2(line.startsWith(kProgram + QStringLiteral(": ")) || line.startsWith('['), qPrintable(line));
}

QTEST_GUILESS_MAIN(TestCliFaults)
#include "tst_clifaults.moc"
