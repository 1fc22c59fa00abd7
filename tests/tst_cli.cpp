#include "displaytable.h"
#include "methodtable.h"
#include "atarigeometry.h"
#include "ataripic.h"
#include "clitesting.h"
#include "pictureloader.h"
#include "pictureexports.h"
#include "twoframeprogram.h"
#include "qtcompat.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace CliTesting;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The exports and the picture as the window makes them: a fresh ATARIpic, the slider moved to
// saturation (when not negative), then the loaded picture copied in.
struct Reference
{
    std::unique_ptr<ATARIpic> pic;
    QByteArray xex;
    QByteArray asmText;
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void informationOptions_data();
    void informationOptions();
    void usageErrors_data();
    void usageErrors();
    void exportsMatchWindow_data();
    void exportsMatchWindow();
    void outputDirectory_data();
    void outputDirectory();
    void previewPng_data();
    void previewPng();
    void badInputAmongGood();
    void jobsChangeNothingButSpeed_data();
    void jobsChangeNothingButSpeed();
    void bestMethodAndReport_data();
    void bestMethodAndReport();
    void reportListsConvertedPictures();
    void twoFramesOfAFlatGrey_data();
    void twoFramesOfAFlatGrey();
    void noFlickerIsTheBestMethod();
    void reportAlone();
    void paletteFile();
    void badPaletteFile_data();
    void badPaletteFile();
    void refusesToOverwriteInput_data();
    void refusesToOverwriteInput();
    void failedWrite_data();
    void failedWrite();
    void outputDirectoryReasons_data();
    void outputDirectoryReasons();
    void namesInAnyEncoding_data();
    void namesInAnyEncoding();
    void negativeBrightness_data();
    void negativeBrightness();
    void colourProfileNotice();

private:
    Run run(const QStringList &arguments, rlim_t fileSizeLimit = 0);
    QString freshDir();
    Reference reference(const QString &image, int saturation);
    void compareWithReference(const QString &xexFile, const QString &asmFile, const Reference &expected);
    void comparePlane(const QString &pngFile, const ATARIpic &pic, quint8 mode);

    QTemporaryDir temp;
    int dirCount = 0;
    QString chelsea;
    QString gradient;
    QString clash;
    Reference chelseaRef;
    Reference gradientRef;
};

Run TestCli::run(const QStringList &arguments, rlim_t fileSizeLimit)
{
    ConverterProcess process;
    process.fileSizeLimit = fileSizeLimit;
    process.start(QStringLiteral(RASTREL_CLI), arguments);
    Run result;
    if (!process.waitForStarted(30000) || !process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString TestCli::freshDir()
{
    const QString dir = temp.filePath(QStringLiteral("case%1").arg(++dirCount));
    if (!QDir().mkpath(dir))
        return QString();
    return dir;
}

Reference TestCli::reference(const QString &image, int saturation)
{
    Reference ref;
    std::vector<quint32> pixels(Geometry::kSourcePixels);
    QString error;
    if (!PictureLoader::load(image, pixels.data(), &error)) {
        qWarning("%s: %s", qPrintable(image), qPrintable(error));
        return ref;
    }
    ref.pic = std::make_unique<ATARIpic>();
    if (saturation >= 0)
        ref.pic->newSaturation(saturation);
    ref.pic->copy(pixels.data());

    const QString dir = freshDir();
    const QString xexFile = dir + QStringLiteral("/ref.xex");
    const QString asmFile = dir + QStringLiteral("/ref.asm");
    if (!PictureExports::saveXex(*ref.pic, xexFile, &error) || !PictureExports::saveAsm(*ref.pic, asmFile, &error))
        qWarning("reference: %s", qPrintable(error));
    ref.xex = readAll(xexFile);
    ref.asmText = readAll(asmFile);
    return ref;
}

void TestCli::compareWithReference(const QString &xexFile, const QString &asmFile, const Reference &expected)
{
    QVERIFY(!expected.xex.isEmpty());
    QVERIFY(!expected.asmText.isEmpty());
    const QByteArray xex = readAll(xexFile);
    QCOMPARE(xex.size(), 21572);
    QVERIFY2(xex == expected.xex, qPrintable(xexFile));
    QVERIFY2(readAll(asmFile) == expected.asmText, qPrintable(asmFile));
}

void TestCli::comparePlane(const QString &pngFile, const ATARIpic &pic, quint8 mode)
{
    QImage image;
    QVERIFY2(image.load(pngFile, "PNG"), qPrintable(pngFile));
    QCOMPARE(image.size(), QSize(Geometry::kSourceWidth, Geometry::kSourceHeight));
    for (int y = 0; y < Geometry::kSourceHeight; ++y) {
        for (int x = 0; x < Geometry::kSourceWidth; ++x) {
            const QRgb shown = mode == kAtariViewMode ? pic.getAtariPixel(quint16(x), quint16(y))
                                                      : pic.getPixel(quint16(x), quint16(y), mode);
            const QRgb expected = shown | 0xFF000000u;
            if (image.pixel(x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(image.pixel(x, y), 8, 16, QLatin1Char('0'))
                                     .arg(expected, 8, 16, QLatin1Char('0'))));
        }
    }
}

void TestCli::initTestCase()
{
    QVERIFY(temp.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(RASTREL_CLI)).isExecutable(), RASTREL_CLI);
    chelsea = QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg");
    QVERIFY(QFileInfo::exists(chelsea));

    // A second picture in another format, with colours all round the hue circle.
    QImage picture(200, 150, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixelColor(x, y, QColor::fromHsv(x * 359 / 199, 60 + y, 255 - y));
    }
    gradient = temp.filePath(QStringLiteral("gradient.png"));
    QVERIFY(picture.save(gradient, "PNG"));
    QVERIFY(QDir().mkpath(temp.filePath(QStringLiteral("other"))));
    clash = temp.filePath(QStringLiteral("other/chelsea.png"));
    QVERIFY(picture.save(clash, "PNG"));

    chelseaRef = reference(chelsea, -1);
    gradientRef = reference(gradient, -1);
    QVERIFY(chelseaRef.pic && gradientRef.pic);
    QVERIFY(chelseaRef.xex != gradientRef.xex);
}

void TestCli::informationOptions_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expected");

    const QString version = QStringLiteral("rastrel-zo9-cli " RASTREL_VERSION "\n");
    QTest::newRow("--version") << "--version" << version;
    QTest::newRow("-v") << "-v" << version;
    QTest::newRow("--help") << "--help" << QString();
    QTest::newRow("-h") << "-h" << QString();
    QTest::newRow("--help-all") << "--help-all" << QString();
}

void TestCli::informationOptions()
{
    QFETCH(QString, option);
    QFETCH(QString, expected);

    const Run result = run({option});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.err.isEmpty());
    const QString out = QString::fromLocal8Bit(result.out);
    if (!expected.isEmpty()) {
        QCOMPARE(out, expected);
        return;
    }
    for (const char *name : {"--output-dir", "--format", "--xex", "--asm", "--png", "--saturation", "--preview",
                             "--quiet", "IMAGE..."})
        QVERIFY2(out.contains(QLatin1String(name)), name);
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message"); // a part of the one-line reason

    // @IN and @IN2 are two readable pictures, @DIR an empty directory, @FILE a regular file,
    // @CLASH a picture with the same base name as @IN.
    QTest::newRow("no arguments") << QStringList{} << QString("no input picture given");
    QTest::newRow("no input") << QStringList{"-o", "@DIR"} << QString("no input picture given");
    QTest::newRow("unknown long option") << QStringList{"--colour", "@IN", "-o", "@DIR"} << QString("Unknown option 'colour'");
    QTest::newRow("unknown short option") << QStringList{"-z", "@IN", "-o", "@DIR"} << QString("Unknown option 'z'");
    QTest::newRow("option without its value") << QStringList{"@IN", "--xex", "@DIR/a.xex", "-s"} << QString("Missing value after '-s'");
    QTest::newRow("saturation above 100") << QStringList{"-s", "101", "@IN", "-o", "@DIR"} << QString("saturation must be a whole number from 0 to 100, not '101'");
    QTest::newRow("saturation below 0") << QStringList{"--saturation=-1", "@IN", "-o", "@DIR"} << QString("not '-1'");
    QTest::newRow("saturation not a number") << QStringList{"-s", "vivid", "@IN", "-o", "@DIR"} << QString("not 'vivid'");
    QTest::newRow("saturation with decimals") << QStringList{"-s", "50.5", "@IN", "-o", "@DIR"} << QString("not '50.5'");
    QTest::newRow("saturation empty") << QStringList{"--saturation=", "@IN", "-o", "@DIR"} << QString("not ''");
    QTest::newRow("--xex with two inputs") << QStringList{"@IN", "@IN2", "--xex", "@DIR/a.xex"} << QString("take a single input picture");
    QTest::newRow("--asm with two inputs") << QStringList{"@IN", "@IN2", "--asm", "@DIR/a.asm"} << QString("take a single input picture");
    QTest::newRow("--png with two inputs") << QStringList{"@IN", "@IN2", "--png", "@DIR/a.png"} << QString("take a single input picture");
    QTest::newRow("missing output directory") << QStringList{"-o", "@DIR/missing", "@IN"} << QString("missing' does not exist");
    QTest::newRow("output directory is a file") << QStringList{"--output-dir", "@FILE", "@IN"} << QString("is not a folder");
    QTest::newRow("no output requested") << QStringList{"-s", "30", "@IN"} << QString("no output requested");
    QTest::newRow("unknown format") << QStringList{"-o", "@DIR", "-f", "xex,gif", "@IN"} << QString("unknown format 'gif'");
    QTest::newRow("empty format list") << QStringList{"-o", "@DIR", "--format", ",", "@IN"} << QString("no format given");
    QTest::newRow("format without output directory") << QStringList{"-f", "asm", "--xex", "@DIR/a.xex", "@IN"} << QString("--format needs --output-dir");
    QTest::newRow("unknown preview") << QStringList{"--png", "@DIR/a.png", "-p", "sepia", "@IN"} << QString("unknown preview 'sepia'");
    QTest::newRow("two inputs with one name") << QStringList{"-o", "@DIR", "@IN", "@CLASH"} << QString("would both be written as");
    QTest::newRow("one input given twice") << QStringList{"-o", "@DIR", "@IN2", "@IN2"} << QString("would both be written as");
    QTest::newRow("output directory and --xex") << QStringList{"-o", "@DIR", "--xex", "@DIR/a.xex", "@IN"} << QString("--output-dir cannot be combined");
    QTest::newRow("two outputs to one file") << QStringList{"--xex", "@DIR/a.out", "--asm", "@DIR/a.out", "@IN"} << QString("name the same output file");
    QTest::newRow("unknown method") << QStringList{"-m", "fast", "@IN", "-o", "@DIR"} << QString("unknown method 'fast'");
    QTest::newRow("unknown display") << QStringList{"--display", "ntsc", "@IN", "-o", "@DIR"} << QString("unknown display 'ntsc' (expected plain or pal)");
    QTest::newRow("report over the input") << QStringList{"--report", "@IN", "@IN", "-o", "@DIR"} << QString("refusing to write");
    QTest::newRow("report over an output") << QStringList{"--report", "@DIR/a.xex", "--xex", "@DIR/a.xex", "@IN"} << QString("name the same output file");
    QTest::newRow("empty report name") << QStringList{"--report=", "@IN", "-o", "@DIR"} << QString("--report needs a non-empty name");
    QTest::newRow("no jobs") << QStringList{"-j", "0", "@IN", "-o", "@DIR"} << QString("not '0'");
    QTest::newRow("negative jobs") << QStringList{"--jobs=-2", "@IN", "-o", "@DIR"} << QString("not '-2'");
    QTest::newRow("jobs not a number") << QStringList{"--jobs", "many", "@IN", "-o", "@DIR"} << QString("not 'many'");
    QTest::newRow("jobs with decimals") << QStringList{"-j", "1.5", "@IN", "-o", "@DIR"} << QString("not '1.5'");
    QTest::newRow("empty output directory name") << QStringList{"-o", "", "@IN"} << QString("--output-dir needs a non-empty name");
    QTest::newRow("unknown fit") << QStringList{"--fit", "zoom", "@IN", "-o", "@DIR"} << QString("unknown fit 'zoom' (expected stretch, crop or pad)");
    QTest::newRow("brightness above 100") << QStringList{"--brightness", "101", "@IN", "-o", "@DIR"} << QString("brightness must be a whole number from -100 to 100, not '101'");
    QTest::newRow("brightness with decimals") << QStringList{"--brightness=2.5", "@IN", "-o", "@DIR"} << QString("brightness must be a whole number from -100 to 100, not '2.5'");
    QTest::newRow("contrast below -100") << QStringList{"--contrast=-101", "@IN", "-o", "@DIR"} << QString("contrast must be a whole number from -100 to 100, not '-101'");
    QTest::newRow("gamma below 0.2") << QStringList{"--gamma", "0.19", "@IN", "-o", "@DIR"} << QString("gamma must be a number from 0.2 to 5.0, not '0.19'");
    QTest::newRow("gamma above 5") << QStringList{"--gamma", "5.01", "@IN", "-o", "@DIR"} << QString("gamma must be a number from 0.2 to 5.0, not '5.01'");
    QTest::newRow("gamma not a number") << QStringList{"--gamma", "nan", "@IN", "-o", "@DIR"} << QString("gamma must be a number from 0.2 to 5.0, not 'nan'");
    QTest::newRow("two frames with the classic method") << QStringList{"-m", "classic", "--frames", "2", "@IN", "-o", "@DIR"} << QString("--frames 2 is a form of the best method and cannot be combined with -m classic");
    QTest::newRow("three frames") << QStringList{"--frames", "3", "@IN", "-o", "@DIR"} << QString("frames must be 1 or 2, not '3'");
    QTest::newRow("flicker above 100") << QStringList{"--frames", "2", "--flicker", "101", "@IN", "-o", "@DIR"} << QString("flicker must be a whole number from 0 to 100, not '101'");
    QTest::newRow("flicker not a number") << QStringList{"--flicker", "x", "@IN", "-o", "@DIR"} << QString("flicker must be a whole number from 0 to 100, not 'x'");
    QTest::newRow("flicker below 0") << QStringList{"--flicker=-1", "@IN", "-o", "@DIR"} << QString("not '-1'");
    QTest::newRow("jobs above 256") << QStringList{"-j", "257", "@IN", "-o", "@DIR"} << QString("jobs must be a whole number from 1 to 256, not '257'");
    QTest::newRow("no frames") << QStringList{"--frames", "0", "@IN", "-o", "@DIR"} << QString("frames must be 1 or 2, not '0'");
    QTest::newRow("report and executable both to stdout") << QStringList{"--report", "-", "--xex", "-", "@IN"} << QString("only one of --xex, --asm, --png and --report may be '-'");
    // A second value of an option that takes one would silently replace the first.
    QTest::newRow("--xex twice") << QStringList{"--xex", "@DIR/a.xex", "--xex", "@DIR/b.xex", "@IN"} << QString("--xex may be given only once");
    QTest::newRow("--brightness twice") << QStringList{"--brightness", "20", "--brightness", "10", "@IN", "-o", "@DIR"} << QString("--brightness may be given only once");
    QTest::newRow("-o and --output-dir") << QStringList{"-o", "@DIR", "--output-dir", "@DIR", "@IN"} << QString("--output-dir may be given only once");
    QTest::newRow("-s twice with one value") << QStringList{"-s", "40", "--saturation=40", "@IN", "-o", "@DIR"} << QString("--saturation may be given only once");
    QTest::newRow("--report twice") << QStringList{"--report", "@DIR/a.csv", "--report", "@DIR/b.csv", "@IN"} << QString("--report may be given only once");
    QTest::newRow("-j twice") << QStringList{"-j", "2", "-j", "4", "@IN", "-o", "@DIR"} << QString("--jobs may be given only once");
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    const QString dir = freshDir();
    for (QString &argument : arguments) {
        argument.replace(QLatin1String("@IN2"), gradient)
            .replace(QLatin1String("@IN"), chelsea)
            .replace(QLatin1String("@DIR"), dir)
            .replace(QLatin1String("@FILE"), gradient)
            .replace(QLatin1String("@CLASH"), clash);
    }

    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QVERIFY(result.err.contains("rastrel-zo9-cli: "));
    QVERIFY2(result.err.contains(message.toUtf8()), result.err.constData());
    QVERIFY(result.err.contains("--help"));
    QCOMPARE(entries(dir), QStringList());
}

void TestCli::exportsMatchWindow_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("slider"); // the window's slider value before loading; -1 = never moved

    QTest::newRow("start palette") << QStringList{} << -1;
    // The palette the window starts with is the one of slider value 60.
    QTest::newRow("-s 60 is the start palette") << QStringList{"-s", "60"} << -1;
    QTest::newRow("-s 0") << QStringList{"-s", "0"} << 0;
    QTest::newRow("--saturation 35") << QStringList{"--saturation", "35"} << 35;
    QTest::newRow("--saturation=100") << QStringList{"--saturation=100"} << 100;
    // Neutral picture controls are the same as none, byte for byte.
    QTest::newRow("neutral fit and tone")
        << QStringList{"--fit", "stretch", "--brightness", "0", "--contrast=0", "--gamma", "1.0"} << -1;
}

void TestCli::exportsMatchWindow()
{
    QFETCH(QStringList, options);
    QFETCH(int, slider);

    const QString dir = freshDir();
    const QString xexFile = dir + QStringLiteral("/picture.xex");
    const QString asmFile = dir + QStringLiteral("/picture.asm");
    const Run result = run(options + QStringList{chelsea, "--xex", xexFile, "--asm", asmFile});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.err.isEmpty()); // a single input shows no progress

    const Reference expected = slider < 0 ? reference(chelsea, -1) : reference(chelsea, slider);
    if (slider >= 0)
        QVERIFY(expected.xex != chelseaRef.xex); // the saturation must make a difference here
    compareWithReference(xexFile, asmFile, expected);
    QCOMPARE(entries(dir), (QStringList{"picture.asm", "picture.xex"}));
}

void TestCli::outputDirectory_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("extensions");
    QTest::addColumn<bool>("progress");

    const QStringList all{"xex", "asm", "png"};
    QTest::newRow("all formats") << QStringList{"-f", "xex,asm,png"} << all << true;
    QTest::newRow("all formats, quiet") << QStringList{"--format=xex,asm,png", "-q"} << all << false;
    QTest::newRow("all formats, --quiet") << QStringList{"-f", "xex,asm,png", "--quiet"} << all << false;
    QTest::newRow("default is xex") << QStringList{} << QStringList{"xex"} << true;
    QTest::newRow("asm only") << QStringList{"-f", "asm"} << QStringList{"asm"} << true;
    QTest::newRow("blanks after commas") << QStringList{"-f", "xex, asm"} << QStringList{"xex", "asm"} << true;
    QTest::newRow("a trailing comma") << QStringList{"-f", "xex,"} << QStringList{"xex"} << true;
}

void TestCli::outputDirectory()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, extensions);
    QFETCH(bool, progress);

    const QString dir = freshDir();
    const Run result = run(QStringList{"-o", dir} + options + QStringList{chelsea, gradient});
    QCOMPARE(result.exitCode, 0);

    QStringList expectedFiles;
    QString expectedErr;
    const struct
    {
        QString input;
        QString name;
        const Reference &ref;
    } inputs[] = {{chelsea, "chelsea", chelseaRef}, {gradient, "gradient", gradientRef}};
    int index = 0;
    for (const auto &input : inputs) {
        QStringList written;
        for (const QString &extension : extensions) {
            expectedFiles << input.name + '.' + extension;
            written << QDir(dir).filePath(input.name + '.' + extension);
        }
        expectedErr += QStringLiteral("[%1/2] %2 -> %3\n").arg(++index).arg(input.input, written.join(", "));

        const QString base = dir + '/' + input.name;
        if (extensions.contains("xex"))
            QVERIFY(readAll(base + ".xex") == input.ref.xex);
        if (extensions.contains("asm"))
            QVERIFY(readAll(base + ".asm") == input.ref.asmText);
        if (extensions.contains("png"))
            comparePlane(base + ".png", *input.ref.pic, 3);
    }
    expectedFiles.sort();
    QCOMPARE(entries(dir), expectedFiles);
    QCOMPARE(QString::fromLocal8Bit(result.err), progress ? expectedErr : QString());
}

void TestCli::previewPng_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("mode");

    QTest::newRow("default is output") << QStringList{} << 3;
    QTest::newRow("original") << QStringList{"-p", "original"} << 0;
    QTest::newRow("gtia") << QStringList{"--preview", "gtia"} << 1;
    QTest::newRow("atari-pal") << QStringList{"-p", "atari-pal"} << 2;
    QTest::newRow("output") << QStringList{"-p", "output"} << 3;
    QTest::newRow("gray") << QStringList{"-p", "gray"} << 4;
    QTest::newRow("green") << QStringList{"--preview=green"} << 5;
    QTest::newRow("chroma") << QStringList{"-p", "chroma"} << 6;
    QTest::newRow("what the Atari shows") << QStringList{"-p", "atari"} << int(kAtariViewMode);
}

void TestCli::previewPng()
{
    QFETCH(QStringList, options);
    QFETCH(int, mode);

    const QString dir = freshDir();
    const QString pngFile = dir + QStringLiteral("/plane.png");
    const Run result = run(options + QStringList{"--png", pngFile, chelsea});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(entries(dir), QStringList{"plane.png"});
    comparePlane(pngFile, *chelseaRef.pic, quint8(mode));
}

void TestCli::bestMethodAndReport_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("best");
    QTest::addColumn<int>("saturation"); // the slider value, -1 when not given
    QTest::addColumn<QString>("reported");
    QTest::addColumn<QString>("display");
    QTest::newRow("classic by default") << QStringList{} << false << -1 << "classic,60" << "plain";
    QTest::newRow("best") << QStringList{"-m", "best"} << true << -1 << "best,50" << "plain";
    QTest::newRow("best, more chroma") << QStringList{"--method=BEST", "-s", "80"} << true << 80 << "best,80" << "plain";
    QTest::newRow("classic named") << QStringList{"--method", "classic", "-s", "30"} << false << 30 << "classic,30" << "plain";
    QTest::newRow("plain named") << QStringList{"--display", "plain", "-m", "best"} << true << -1 << "best,50" << "plain";
    QTest::newRow("best for a PAL TV") << QStringList{"-m", "best", "--display", "PAL"} << true << -1 << "best,50" << "pal";
    QTest::newRow("classic seen on a PAL TV") << QStringList{"--display", "pal"} << false << -1 << "classic,60" << "pal";
}

void TestCli::bestMethodAndReport()
{
    QFETCH(QStringList, options);
    QFETCH(bool, best);
    QFETCH(int, saturation);
    QFETCH(QString, reported);
    QFETCH(QString, display);

    const QString dir = freshDir();
    const QString xexFile = dir + QStringLiteral("/p.xex");
    const QString reportFile = dir + QStringLiteral("/report.csv");
    const Run result = run(options + QStringList{"--xex", xexFile, "--report", reportFile, chelsea});
    QCOMPARE(result.exitCode, 0);

    std::vector<quint32> pixels(Geometry::kSourcePixels);
    QString error;
    QVERIFY(PictureLoader::load(chelsea, pixels.data(), &error));
    ATARIpic expected;
    expected.setMethod(best ? MethodTable::find("best") : MethodTable::find("classic"));
    if (saturation >= 0)
        expected.newSaturation(saturation);
    expected.setDisplay(DisplayTable::find(display));
    expected.copy(pixels.data());
    const QString expectedXex = dir + QStringLiteral("/expected.xex");
    QVERIFY(PictureExports::saveXex(expected, expectedXex, &error));
    QCOMPARE(readAll(xexFile), readAll(expectedXex));
    // The classic method converts the same for every display; only its figure changes.
    if (!best && display != QLatin1String("plain")) {
        ATARIpic plain;
        plain.copy(pixels.data());
        QVERIFY(PictureExports::saveXex(plain, expectedXex, &error));
        QCOMPARE(readAll(xexFile), readAll(expectedXex));
        QVERIFY(std::fabs(plain.qualityFigure() - expected.qualityFigure()) > 0.01);
    }

    const QByteArray line = (chelsea + QLatin1Char(',') + reported + QLatin1Char(',')
                             + QString::number(expected.qualityFigure(), 'f', 4) + QStringLiteral(",1,0.0000,0.0000,")
                             + display + QLatin1Char('\n'))
                                .toUtf8();
    QCOMPARE(readAll(reportFile), QByteArray("file,method,saturation,delta_e2000,frames,flicker,flicker_area,display\n") + line);
}

// On standard output, one line per picture that was converted, in input order; a name with a
// comma is quoted.
void TestCli::reportListsConvertedPictures()
{
    const QString dir = freshDir();
    const QString commaName = dir + QStringLiteral("/a,b.png");
    QVERIFY(QFile::copy(gradient, commaName));
    const QString broken = dir + QStringLiteral("/broken.jpg");
    QVERIFY(writeAll(broken, "not a picture"));
    const QString outDir = dir + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(outDir));

    const Run result = run({"-q", "--report", "-", "-o", outDir, commaName, broken, chelsea});
    QCOMPARE(result.exitCode, 1);
    const QList<QByteArray> lines = result.out.split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QByteArray("file,method,saturation,delta_e2000,frames,flicker,flicker_area,display"));
    QVERIFY2(lines[1].startsWith('"' + commaName.toUtf8() + "\",classic,60,"), lines[1].constData());
    QVERIFY2(lines[2].startsWith(chelsea.toUtf8() + ",classic,60,"), lines[2].constData());
    QCOMPARE(lines[3], QByteArray());
}

void TestCli::twoFramesOfAFlatGrey_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("reported");

    QTest::newRow("two frames, best by default") << QStringList{"--frames", "2"} << QByteArray("best,50,0.0000,1,0.0000,0.0000,plain\n");
    QTest::newRow("two frames, no flicker") << QStringList{"-m", "best", "--frames", "2", "--flicker", "0"} << QByteArray("best,50,0.0000,1,0.0000,0.0000,plain\n");
    QTest::newRow("one frame, flicker ignored") << QStringList{"--frames", "1", "--flicker", "100"} << QByteArray("classic,60,");
}

// A flat grey of the palette (hue 0): both frames would show it exactly, so they come out identical
// and are one frame: figure 0, flicker 0, the single-frame program, and a note on the standard error
// unless -q. A PNG of frame A shows the grey.
void TestCli::twoFramesOfAFlatGrey()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, reported);

    const QString dir = freshDir();
    const quint32 grey = ATARIpalGen().getBase(0x08);
    QImage flat(Geometry::kSourceWidth, Geometry::kSourceHeight, QImage::Format_RGB32);
    flat.fill(QColor(QRgb(grey)));
    const QString input = dir + QStringLiteral("/grey.png");
    QVERIFY(flat.save(input, "PNG"));
    const QString xexFile = dir + QStringLiteral("/grey.xex");
    const QString pngFile = dir + QStringLiteral("/grey.png.png");
    const Run result = run(options + QStringList{"--report", "-", "--xex", xexFile, "--png", pngFile, "-p", "atari-a", input});
    QCOMPARE(result.exitCode, 0);
    const QList<QByteArray> lines = result.out.split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QByteArray("file,method,saturation,delta_e2000,frames,flicker,flicker_area,display"));
    QVERIFY2((lines[1] + '\n').startsWith(input.toUtf8() + ',' + reported), lines[1].constData());
    QCOMPARE(QFileInfo(xexFile).size(), qint64(AtariProgram::kXexSize));
    const bool two = options.contains(QStringLiteral("2"));
    QCOMPARE(result.err, two ? "rastrel-zo9-cli: " + input.toUtf8() + ": the two frames came out identical; wrote one frame\n"
                             : QByteArray());
    const Run quiet = run(options + QStringList{"-q", "--xex", xexFile, input});
    QCOMPARE(quiet.exitCode, 0);
    QCOMPARE(quiet.err, QByteArray());
    if (two) {
        const QImage shown(pngFile);
        QCOMPARE(shown.size(), QSize(Geometry::kSourceWidth, Geometry::kSourceHeight));
        for (int y = 0; y < Geometry::kSourceHeight; ++y)
            for (int x = 0; x < Geometry::kSourceWidth; ++x)
                QCOMPARE(shown.pixel(x, y) & 0xFFFFFFu, grey);
    }
}

// With the flicker limit 0 the two frames come out identical: every file is the best method's, byte
// for byte, and the report says one frame.
void TestCli::noFlickerIsTheBestMethod()
{
    const QString dir = freshDir();
    const QStringList kinds{"xex", "asm"};
    const QStringList previews{"atari", "atari-b", "output", "flicker"};
    QByteArray reports[2];
    QList<QByteArray> files[2];
    const QStringList ways[2] = {{"--frames", "2", "--flicker", "0"}, {"-m", "best"}};
    for (int way = 0; way < 2; ++way) {
        QStringList arguments = ways[way] + QStringList{"-q", "--report", "-"};
        const QString stem = dir + QStringLiteral("/%1").arg(way);
        arguments << "--xex" << stem + ".xex" << "--asm" << stem + ".asm" << chelsea;
        const Run result = run(arguments);
        QCOMPARE(result.exitCode, 0);
        reports[way] = result.out;
        files[way] << readAll(stem + ".xex") << readAll(stem + ".asm");
        for (const QString &preview : previews) {
            QCOMPARE(run(ways[way] + QStringList{"-q", "-p", preview, "--png", stem + ".png", chelsea}).exitCode, 0);
            files[way] << readAll(stem + ".png");
        }
    }
    QCOMPARE(files[0].size(), 2 + previews.size());
    for (int i = 0; i < files[0].size(); ++i) {
        QVERIFY(!files[0][i].isEmpty());
        QVERIFY2(files[0][i] == files[1][i], qPrintable(i < 2 ? kinds[i] : previews[i - 2]));
    }
    QCOMPARE(files[0][0].size(), AtariProgram::kXexSize);
    QVERIFY2(reports[0].contains(",best,50,") && reports[0].endsWith(",1,0.0000,0.0000,plain\n"), reports[0].constData());
    QCOMPARE(reports[0], reports[1]);
}

// The report alone converts every input for its figures and writes nothing else: the same rows as
// a run that also writes the pictures, and no file beside the inputs but the report.
void TestCli::reportAlone()
{
    const QString dir = freshDir();
    const QStringList inputs{dir + QStringLiteral("/chelsea.png"), dir + QStringLiteral("/gradient.png")};
    QVERIFY(QFile::copy(chelsea, inputs[0]));
    QVERIFY(QFile::copy(gradient, inputs[1]));
    const QString reportFile = dir + QStringLiteral("/report.csv");

    const Run alone = run(QStringList{"-m", "best", "-s", "40", "--report", reportFile} + inputs);
    QCOMPARE(alone.exitCode, 0);
    QCOMPARE(entries(dir), (QStringList{"chelsea.png", "gradient.png", "report.csv"}));
    QCOMPARE(alone.out, QByteArray());

    const QString outDir = freshDir();
    const Run withPictures = run(QStringList{"-q", "-m", "best", "-s", "40", "--report", "-", "-o", outDir} + inputs);
    QCOMPARE(withPictures.exitCode, 0);
    QCOMPARE(entries(outDir), (QStringList{"chelsea.xex", "gradient.xex"}));
    QCOMPARE(readAll(reportFile), withPictures.out);
    QCOMPARE(withPictures.out.count('\n'), 3);
}

// A palette file replaces the base palette of the output plane; here the stored palette with red
// and blue swapped, in the 772-byte layout.
void TestCli::paletteFile()
{
    const QString dir = freshDir();
    quint32 swapped[256];
    QByteArray bytes;
    for (int i = 0; i < 256; ++i) {
        const quint32 rgb = chelseaRef.pic->palette().getBase(quint8(i));
        swapped[i] = (rgb & 0x00FF00) | (rgb >> 16 & 0xFF) | (rgb & 0xFF) << 16;
        bytes.append(char(rgb & 0xFF)).append(char(rgb >> 8 & 0xFF)).append(char(rgb >> 16 & 0xFF));
    }
    bytes.append(QByteArray("\x01\x00\xFF\xFF", 4));
    const QString palette = dir + QStringLiteral("/swapped.act");
    QVERIFY(writeAll(palette, bytes));

    const QString pngFile = dir + QStringLiteral("/plane.png");
    const Run result = run({"--palette", palette, "--png", pngFile, chelsea});
    QCOMPARE(result.exitCode, 0);
    ATARIpic expected;
    expected.setBasePalette(swapped);
    std::vector<quint32> pixels(Geometry::kSourcePixels);
    QString error;
    QVERIFY(PictureLoader::load(chelsea, pixels.data(), &error));
    expected.copy(pixels.data());
    comparePlane(pngFile, expected, 3);
}

void TestCli::badPaletteFile_data()
{
    QTest::addColumn<int>("size"); // -1: no such file, -2: a directory
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << -1 << "No such file";
    QTest::newRow("a directory") << -2 << "";
    QTest::newRow("empty") << 0 << "0 bytes";
    QTest::newRow("one byte short") << 767 << "767 bytes";
    QTest::newRow("between the two sizes") << 770 << "770 bytes";
    QTest::newRow("too long") << 1024 << "larger";
}

void TestCli::badPaletteFile()
{
    QFETCH(int, size);
    QFETCH(QString, reason);
    const QString dir = freshDir();
    const QString outDir = dir + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(outDir));
    QString palette = dir + QStringLiteral("/bad.pal");
    if (size == -2)
        palette = outDir;
    else if (size >= 0)
        QVERIFY(writeAll(palette, QByteArray(size, '\x40')));

    const Run result = run({"--palette", palette, "-o", outDir, "-f", "xex,asm,png", chelsea, gradient});
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(palette.toLocal8Bit()), result.err.constData());
    QVERIFY2(result.err.contains(reason.toLocal8Bit()), result.err.constData());
    QCOMPARE(entries(outDir), QStringList());
}

void TestCli::badInputAmongGood()
{
    const QString dir = freshDir();
    const QString inputs = freshDir();
    const QString notImage = inputs + QStringLiteral("/notimage.jpg");
    QVERIFY(writeAll(notImage, "This is a shopping list, not a photograph.\n"));
    // A grey map whose header claims 50000 x 50000 pixels, far above what loading accepts.
    const QString bomb = inputs + QStringLiteral("/bomb.pgm");
    QVERIFY(writeAll(bomb, QByteArray("P5\n50000 50000\n255\n") + QByteArray(64, '\x80')));
    const QString missing = inputs + QStringLiteral("/missing.jpg");

    const Run result = run({"-o", dir, chelsea, notImage, missing, bomb, gradient});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(entries(dir), (QStringList{"chelsea.xex", "gradient.xex"}));
    QVERIFY(readAll(dir + "/chelsea.xex") == chelseaRef.xex);
    QVERIFY(readAll(dir + "/gradient.xex") == gradientRef.xex);

    const QStringList lines = QString::fromLocal8Bit(result.err).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), QStringLiteral("[1/5] %1 -> %2").arg(chelsea, QDir(dir).filePath("chelsea.xex")));
    int line = 1;
    for (const QString &bad : {notImage, missing, bomb}) {
        const QString prefix = QStringLiteral("rastrel-zo9-cli: %1: ").arg(bad);
        QVERIFY2(lines.at(line).startsWith(prefix), qPrintable(lines.at(line)));
        QVERIFY2(lines.at(line).size() > prefix.size(), "the reason is missing");
        ++line;
    }
    QCOMPARE(lines.at(4), QStringLiteral("[5/5] %1 -> %2").arg(gradient, QDir(dir).filePath("gradient.xex")));
}

void TestCli::jobsChangeNothingButSpeed_data()
{
    QTest::addColumn<QStringList>("jobs");

    QTest::newRow("-j 2") << QStringList{"-j", "2"};
    QTest::newRow("--jobs=3") << QStringList{"--jobs=3"};
    QTest::newRow("more jobs than pictures") << QStringList{"--jobs", "9"};
}

void TestCli::jobsChangeNothingButSpeed()
{
    QFETCH(QStringList, jobs);

    // Pictures that fail at once sit between slow good ones, so results finish out of input order.
    const QString inputs = freshDir();
    const QString notImage = inputs + QStringLiteral("/notimage.jpg");
    QVERIFY(writeAll(notImage, "Not a photograph.\n"));
    const QString missing = inputs + QStringLiteral("/missing.png");
    const QString copy = inputs + QStringLiteral("/copy.jpg");
    QVERIFY(QFile::copy(chelsea, copy));
    const QStringList pictures{chelsea, notImage, gradient, missing, copy};

    // Both runs write to the same directory name, so that their messages can be compared as they are.
    const QString base = freshDir();
    const QString out = base + QStringLiteral("/out");
    QVector<Run> runs;
    QVector<QString> dirs;
    for (const QStringList &option : {QStringList{"-j", "1"}, jobs}) {
        QVERIFY(QDir().mkpath(out));
        runs << run(option + QStringList{"-o", out, "-f", "xex,asm,png", "--report", "-"} + pictures);
        dirs << base + QStringLiteral("/run%1").arg(runs.size());
        QVERIFY(QDir().rename(out, dirs.last()));
    }
    const Run &serial = runs.at(0);
    const Run &parallel = runs.at(1);
    QCOMPARE(serial.exitCode, 1);
    QCOMPARE(parallel.exitCode, serial.exitCode);
    QCOMPARE(parallel.err, serial.err);
    QCOMPARE(parallel.out, serial.out);
    // The serial run itself: progress and errors in input order, report rows for the good pictures.
    const QStringList lines = QString::fromLocal8Bit(serial.err).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    for (int i = 0; i < pictures.size(); ++i) {
        const bool bad = i == 1 || i == 3;
        const QString expected = bad ? QStringLiteral("rastrel-zo9-cli: %1: ").arg(pictures.at(i))
                                     : QStringLiteral("[%1/5] %2 -> ").arg(i + 1).arg(pictures.at(i));
        QVERIFY2(lines.at(i).startsWith(expected), qPrintable(lines.at(i)));
    }
    const QList<QByteArray> rows = serial.out.split('\n');
    QCOMPARE(rows.size(), 5); // the header, three rows and the empty rest after the last line break
    QVERIFY(rows.at(1).startsWith(chelsea.toUtf8() + ','));
    QVERIFY(rows.at(2).startsWith(gradient.toUtf8() + ','));
    QVERIFY(rows.at(3).startsWith(copy.toUtf8() + ','));

    const QStringList written{"chelsea.asm", "chelsea.png", "chelsea.xex", "copy.asm",   "copy.png",
                              "copy.xex",    "gradient.asm", "gradient.png", "gradient.xex"};
    QCOMPARE(entries(dirs.at(0)), written);
    QCOMPARE(entries(dirs.at(1)), written);
    for (const QString &name : written)
        QVERIFY2(readAll(dirs.at(1) + '/' + name) == readAll(dirs.at(0) + '/' + name), qPrintable(name));
    QVERIFY(readAll(dirs.at(1) + "/copy.xex") == chelseaRef.xex);
    QVERIFY(readAll(dirs.at(1) + "/gradient.xex") == gradientRef.xex);
}

void TestCli::refusesToOverwriteInput_data()
{
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QStringList>("options");

    // @D is the directory that holds the input.
    QTest::newRow("--xex names the input") << "in.jpg" << QStringList{"--xex", "@D/in.jpg"};
    QTest::newRow("--asm spells the input differently") << "in.jpg" << QStringList{"--asm", "@D/sub/../in.jpg"};
    QTest::newRow("--png is a link to the input") << "in.jpg" << QStringList{"--png", "@D/link.png"};
    QTest::newRow("output directory holds NAME.xex") << "photo.xex" << QStringList{"-o", "@D"};
    QTest::newRow("output directory holds NAME.asm") << "photo.asm" << QStringList{"-o", "@D", "-f", "xex,asm"};
}

void TestCli::refusesToOverwriteInput()
{
    QFETCH(QString, inputName);
    QFETCH(QStringList, options);

    const QString dir = freshDir();
    const QString input = dir + '/' + inputName;
    QVERIFY(QFile::copy(chelsea, input));
    QVERIFY(QDir(dir).mkdir("sub"));
    QVERIFY(QFile::link(input, dir + "/link.png"));
    const QByteArray original = readAll(input);
    for (QString &option : options)
        option.replace(QLatin1String("@D"), dir);

    const Run result = run(options + QStringList{input});
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.err.contains(input.toLocal8Bit()));
    QVERIFY(readAll(input) == original);
    QStringList expectedEntries{inputName, "link.png", "sub"};
    expectedEntries.sort();
    QCOMPARE(entries(dir), expectedEntries);
}

void TestCli::failedWrite_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("target"); // relative to an empty directory holding a file "list.txt"
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<int>("sizeLimit");
    QTest::addColumn<QString>("reason"); // @D is the directory; empty: the system's reason, whatever it is

    QTest::newRow("xex in a missing directory")
        << "--xex" << "missing/a.xex" << QByteArray() << 0 << "The folder @D/missing does not exist.";
    QTest::newRow("asm below a regular file")
        << "--asm" << "list.txt/a.asm" << QByteArray() << 0 << "@D/list.txt is not a folder.";
    // The limit lets the converter start but not write a whole export.
    QTest::newRow("disk full keeps the old xex") << "--xex" << "a.xex" << QByteArray("old xex") << 4096 << QString();
    QTest::newRow("disk full keeps the old asm") << "--asm" << "a.asm" << QByteArray("old asm") << 4096 << QString();
    QTest::newRow("disk full keeps the old png") << "--png" << "a.png" << QByteArray("old png") << 4096 << QString();
    QTest::newRow("folder without write permission")
        << "--xex" << "locked/a.xex" << QByteArray() << 0 << "The folder @D/locked cannot be written: ";
}

void TestCli::failedWrite()
{
    QFETCH(QString, option);
    QFETCH(QString, target);
    QFETCH(QByteArray, existing);
    QFETCH(int, sizeLimit);
    QFETCH(QString, reason);

    const QString dir = freshDir();
    QVERIFY(writeAll(dir + "/list.txt", "milk\n"));
    const QString path = dir + '/' + target;
    QStringList expectedEntries{"list.txt"};
    if (target.startsWith(QLatin1String("locked/"))) {
        if (::geteuid() == 0)
            QSKIP("The superuser writes into any folder, so a folder without write permission cannot fail here.");
        QVERIFY(QDir(dir).mkdir("locked"));
        QVERIFY(QFile::setPermissions(dir + "/locked", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        expectedEntries.append("locked");
    }
    if (!existing.isEmpty()) {
        QVERIFY(writeAll(path, existing));
        expectedEntries.prepend(target);
    }

    const Run result = run({chelsea, option, path}, rlim_t(sizeLimit));
    QCOMPARE(result.exitCode, 1);
    const QByteArray prefix = "rastrel-zo9-cli: " + path.toLocal8Bit() + ": ";
    QVERIFY2(result.err.startsWith(prefix), result.err.constData());
    QVERIFY2(result.err.size() > prefix.size() + 1, "the reason is missing");
    QVERIFY2(result.err.contains(reason.replace(QLatin1String("@D"), dir).toLocal8Bit()), result.err.constData());
    QCOMPARE(QFileInfo::exists(path), !existing.isEmpty());
    QCOMPARE(readAll(path), existing);
    QCOMPARE(entries(dir), expectedEntries); // no temporary file left behind
}

void TestCli::outputDirectoryReasons_data()
{
    QTest::addColumn<QString>("outputDir"); // @D is an empty directory holding a file "list.txt"
    QTest::addColumn<QString>("message");

    QTest::newRow("missing") << "@D/missing" << "output directory '@D/missing' does not exist";
    QTest::newRow("a regular file") << "@D/list.txt" << "output directory '@D/list.txt' is not a folder";
    QTest::newRow("without write permission") << "@D/locked" << "output directory '@D/locked' cannot be written";
}

// -o names the folder and what is wrong with it, before any picture is read.
void TestCli::outputDirectoryReasons()
{
    QFETCH(QString, outputDir);
    QFETCH(QString, message);

    if (outputDir.endsWith(QLatin1String("/locked")) && ::geteuid() == 0)
        QSKIP("The superuser writes into any folder, so a folder without write permission cannot fail here.");
    const QString dir = freshDir();
    QVERIFY(writeAll(dir + "/list.txt", "milk\n"));
    QVERIFY(QDir(dir).mkdir("locked"));
    QVERIFY(QFile::setPermissions(dir + "/locked", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    outputDir.replace(QLatin1String("@D"), dir);
    message.replace(QLatin1String("@D"), dir);

    const Run result = run({"-o", outputDir, chelsea});
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.startsWith(("rastrel-zo9-cli: " + message + '\n').toLocal8Bit()), result.err.constData());
    QCOMPARE(entries(dir), (QStringList{"list.txt", "locked"}));
    QCOMPARE(entries(dir + "/locked"), QStringList());
}

void TestCli::namesInAnyEncoding_data()
{
    QTest::addColumn<QString>("script");     // $CLI the converter, $D a directory holding caf\xE9.jpg
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("written"); // the file expected in $D/out, its name as bytes
    QTest::addColumn<QByteArray>("errPart");

    // The byte E9 is "e acute" in Latin-1 and no valid UTF-8: the names reach the converter as
    // bytes that the UTF-8 locale cannot decode.
    QTest::newRow("-o writes NAME.xex with the input's bytes")
        << R"("$CLI" -o "$D/out" "$D/$(printf 'caf\351').jpg")" << 0 << QByteArray("caf\xE9.xex") << QByteArray();
    QTest::newRow("--xex to a Latin-1 name")
        << R"("$CLI" --xex "$D/out/$(printf 'r\351sultat').xex" "$D/$(printf 'caf\351').jpg")" << 0
        << QByteArray("r\xE9sultat.xex") << QByteArray();
    QTest::newRow("progress names both files as given")
        << R"("$CLI" -o "$D/out" "$D/$(printf 'caf\351').jpg" "$D/plain.jpg")" << 0 << QByteArray("caf\xE9.xex")
        << QByteArray("caf\xE9.jpg -> ");
    QTest::newRow("a missing input is named as given")
        << R"("$CLI" -o "$D/out" "$D/$(printf 'absent\351').jpg")" << 1 << QByteArray()
        << QByteArray("absent\xE9.jpg: No such file");
    // Every kind of byte sequence that is not UTF-8 is kept: $N is the input's name (see below).
    QTest::newRow("overlong form of '/'") << R"(cp "$D/plain.jpg" "$D/$N" && "$CLI" -o "$D/out" "$D/$N")" << 0
                                           << QByteArray("over\xC0\xAFlong.xex") << QByteArray();
    QTest::newRow("surrogate") << R"(cp "$D/plain.jpg" "$D/$N" && "$CLI" -o "$D/out" "$D/$N")" << 0
                               << QByteArray("sur\xED\xA0\x80.xex") << QByteArray();
    QTest::newRow("stray continuation byte") << R"(cp "$D/plain.jpg" "$D/$N" && "$CLI" -o "$D/out" "$D/$N")" << 0
                                             << QByteArray("stray\xBF.xex") << QByteArray();
    QTest::newRow("lead byte cut short") << R"(cp "$D/plain.jpg" "$D/$N" && "$CLI" -o "$D/out" "$D/$N")" << 0
                                         << QByteArray("cut\xE2\x82.xex") << QByteArray();
    QTest::newRow("lead byte at the end of a name")
        << R"sh(cp "$D/plain.jpg" "$D/$N" && "$CLI" --xex "$D/out/$(printf 'end\360')" "$D/$N")sh" << 0
        << QByteArray("end\xF0") << QByteArray();
}

namespace {

// bytes as printf's octal escapes (\351), so that a shell script can make them.
QString octal(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes)
        text += QStringLiteral("\\%1").arg(uint(quint8(byte)), 3, 8, QLatin1Char('0'));
    return text;
}

} // namespace

void TestCli::namesInAnyEncoding()
{
    if (!QtCompat::kCanReplaceLocaleCodec)
        QSKIP("This Qt decodes arguments and file names as the locale says: bytes that are not UTF-8 "
              "under a UTF-8 locale cannot be kept.");
    QFETCH(QString, script);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, errPart);

    const QString dir = freshDir();
    QVERIFY(QDir(dir).mkdir("out"));
    QVERIFY(QFile::copy(chelsea, dir + "/plain.jpg"));
    const QByteArray photo = readAll(chelsea);
    const QByteArray input = QFile::encodeName(dir) + "/caf\xE9.jpg";
    const QByteArray outDir = QFile::encodeName(dir) + "/out/";
    // Qt cannot remove what it cannot name, so these go by their bytes, whatever the outcome.
    struct RawNames
    {
        QVector<QByteArray> names;
        ~RawNames()
        {
            for (const QByteArray &name : qAsConst(names))
                ::unlink(name.constData());
        }
    } rawNames{{input, outDir + written}};
    if (!written.isEmpty() && !written.startsWith("caf") && !written.startsWith("r\xE9"))
        rawNames.names << QFile::encodeName(dir) + '/' + (written.contains('.') ? written.left(written.lastIndexOf('.')) : QByteArray("cut\xE2\x82")) + ".jpg";
    const int fd = ::open(input.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    QVERIFY(fd >= 0);
    const bool complete = ::write(fd, photo.constData(), size_t(photo.size())) == photo.size();
    ::close(fd);
    QVERIFY(complete);

    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C.UTF-8");
    environment.insert("CLI", RASTREL_CLI);
    environment.insert("D", dir);
    shell.setProcessEnvironment(environment);
    // $N: the written name's stem with .jpg, as bytes that reach the shell unchanged.
    QByteArray stem = written.left(written.lastIndexOf('.'));
    if (!written.contains('.'))
        stem = "cut\xE2\x82"; // the row that names its output itself reads this input
    shell.start("/bin/sh", {"-c", QStringLiteral("N=\"$(printf '%1.jpg')\"; ").arg(octal(stem)) + script});
    QVERIFY(shell.waitForFinished(60000));
    const QByteArray err = shell.readAllStandardError();
    QCOMPARE(shell.exitStatus(), QProcess::NormalExit);
    QVERIFY2(shell.exitCode() == exitCode, err.constData());
    QVERIFY2(err.contains(errPart), err.constData());

    // Opened by its bytes: the test's own locale decodes names the way the converter did not.
    if (!written.isEmpty()) {
        const int out = ::open((outDir + written).constData(), O_RDONLY);
        QVERIFY2(out >= 0, written.constData());
        QByteArray xex(chelseaRef.xex.size() + 1, '\0');
        const qint64 got = ::read(out, xex.data(), size_t(xex.size()));
        ::close(out);
        xex.truncate(int(qMax<qint64>(got, 0)));
        QVERIFY(xex == chelseaRef.xex);
    }
}

void TestCli::negativeBrightness_data()
{
    QTest::addColumn<QStringList>("options");
    // A value that starts with '-' is the option's value, not another option, in either spelling.
    QTest::newRow("--brightness -10") << QStringList{"--brightness", "-10"};
    QTest::newRow("--brightness=-10") << QStringList{"--brightness=-10"};
}

// A negative brightness darkens: -10 takes 255 * 10 / 100 = 25.5 from every channel, which the
// whole-number rounding (half up) makes 25; the photo plane shows what the converters see.
void TestCli::negativeBrightness()
{
    QFETCH(QStringList, options);

    std::vector<quint32> photo(Geometry::kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(chelsea, photo.data(), &error), qPrintable(error));
    const QString pngFile = freshDir() + QStringLiteral("/original.png");
    const Run result = run(options + QStringList{"-p", "original", "--png", pngFile, chelsea});
    QCOMPARE(result.exitCode, 0);
    const QImage plane(pngFile);
    QCOMPARE(plane.size(), QSize(Geometry::kSourceWidth, Geometry::kSourceHeight));
    int darkened = 0;
    for (int y = 0; y < plane.height(); ++y) {
        for (int x = 0; x < plane.width(); ++x) {
            const QRgb in = photo[size_t(y * plane.width() + x)];
            const QRgb expected = qRgb(std::max(0, qRed(in) - 25), std::max(0, qGreen(in) - 25), std::max(0, qBlue(in) - 25));
            QCOMPARE(plane.pixel(x, y) & 0xFFFFFFu, expected & 0xFFFFFFu);
            darkened += expected != (in | 0xFF000000u) ? 1 : 0;
        }
    }
    QVERIFY(darkened > plane.width() * plane.height() / 2);
}

// A real PNG whose colour profile libpng knows to be wrong and ignores (an image of the Qt
// documentation, installed with the Qt development files): converted in silence with -q, with one
// notice without.
void TestCli::colourProfileNotice()
{
    const QString png = QStringLiteral("/usr/share/qt5/doc/global/template/images/horBar.png");
    if (!QFileInfo::exists(png))
        QSKIP("the Qt 5 documentation image with a known incorrect sRGB profile is not installed");
    const QString xexFile = freshDir() + QStringLiteral("/bar.xex");
    const Run quiet = run({"-q", "--xex", xexFile, png});
    QCOMPARE(quiet.exitCode, 0);
    QCOMPARE(quiet.err, QByteArray());
    QCOMPARE(QFileInfo(xexFile).size(), qint64(AtariProgram::kXexSize));
    const Run told = run({"--xex", xexFile, png});
    QCOMPARE(told.exitCode, 0);
    QCOMPARE(told.err, "rastrel-zo9-cli: " + png.toUtf8()
                           + ": notice from the decoder (harmless): iCCP: known incorrect sRGB profile\n");
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
