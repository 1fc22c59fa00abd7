#include <QFile>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

#include "ataripalgen.h"
#include "atarigeometry.h"
#include "ataripic.h"
#include "conversionsettings.h"
#include "displaytable.h"
#include "framearrangement.h"
#include "methodtable.h"
#include "atariview.h"
#include "bestconversion.h"
#include "paldisplay.h"
#include "pictureloader.h"
#include "twoframeconversion.h"

using namespace Geometry;

// What the program shows for a PAL TV against screens captured from a cycle-exact emulation running
// its executables (tests/data/README.md): the PAL model, worked out here from the palette, applied to
// each captured frame (and the two frames blended) must give the program's PAL view within one level
// per channel, in every pixel.
class TestPalView : public QObject
{
    Q_OBJECT

private slots:
    void matchesCapturedFrames_data();
    void matchesCapturedFrames();
    void matchesCapturedPattern();
};

namespace {

constexpr int kCaptureWidth = 384;
constexpr int kBorder = 32;

QByteArray readData(const QString &name)
{
    QFile file(QStringLiteral(RASTREL_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return name.endsWith(QLatin1String(".z")) ? qUncompress(bytes) : bytes;
}

// The picture area of a capture: 320 x 240 colour bytes.
std::vector<quint8> pictureOf(const QByteArray &capture)
{
    std::vector<quint8> screen(kSourcePixels);
    for (int y = 0; y < kSourceHeight; ++y)
        for (int x = 0; x < kSourceWidth; ++x)
            screen[size_t(y * kSourceWidth + x)] = quint8(capture[y * kCaptureWidth + kBorder + x]);
    return screen;
}

// A PAL TV on one frame: per channel, the mean of the pixel's colour and of the colour with the hue of
// the pixel above (black above the first line) and the pixel's luminance, in sRGB levels (0 to 255).
void palModel(const std::vector<quint32> &palette, const std::vector<quint8> &screen, int i, double rgb[3])
{
    const quint8 own = screen[size_t(i)];
    const quint8 above = i >= kSourceWidth ? screen[size_t(i - kSourceWidth)] : quint8(0);
    const quint32 a = palette[own];
    const quint32 b = palette[quint8((above & 0xF0) | (own & 0x0F))];
    for (int c = 0; c < 3; ++c)
        rgb[c] = ((a >> (16 - 8 * c) & 0xFF) + (b >> (16 - 8 * c) & 0xFF)) / 2.0;
}

double toLinear(double level)
{
    const double v = level / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double toLevel(double linear)
{
    const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
    return 255.0 * v;
}

// Pixels of view (0x00RRGGBB) more than one level from expected in a channel; the first in *first.
int compare(const std::vector<quint32> &view, const std::vector<std::array<double, 3>> &expected, QString *first)
{
    int wrong = 0;
    for (int i = 0; i < kSourcePixels; ++i) {
        for (int c = 0; c < 3; ++c) {
            const double ours = view[size_t(i)] >> (16 - 8 * c) & 0xFF;
            if (std::fabs(ours - expected[size_t(i)][size_t(c)]) > 1.0) {
                if (wrong++ == 0)
                    *first = QStringLiteral("row %1 column %2 channel %3: view %4, model of the capture %5")
                                 .arg(i / kSourceWidth).arg(i % kSourceWidth).arg(c).arg(ours).arg(expected[size_t(i)][size_t(c)]);
                break;
            }
        }
    }
    return wrong;
}

std::vector<std::array<double, 3>> modelOf(const std::vector<quint32> &palette, const std::vector<quint8> &screen)
{
    std::vector<std::array<double, 3>> rgb(kSourcePixels);
    for (int i = 0; i < kSourcePixels; ++i)
        palModel(palette, screen, i, rgb[size_t(i)].data());
    return rgb;
}

std::vector<std::array<double, 3>> blendOf(const std::vector<std::array<double, 3>> &a,
                                           const std::vector<std::array<double, 3>> &b)
{
    std::vector<std::array<double, 3>> rgb(kSourcePixels);
    for (int i = 0; i < kSourcePixels; ++i)
        for (int c = 0; c < 3; ++c)
            rgb[size_t(i)][size_t(c)] = toLevel((toLinear(a[size_t(i)][size_t(c)]) + toLinear(b[size_t(i)][size_t(c)])) / 2.0);
    return rgb;
}

} // namespace

void TestPalView::matchesCapturedFrames_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("capture"); // file name of the capture, "%1" for the frame (a, b)
    for (const char *photo : {"chelsea", "coffee", "rocket"}) {
        const QString p = QLatin1String(photo);
        QTest::newRow(qPrintable(p + QStringLiteral(" classic")))
            << p << QStringLiteral("classic") << (p == QLatin1String("rocket") ? QStringLiteral("rocket.screen") : p + QStringLiteral("-classic.screen.z"));
        QTest::newRow(qPrintable(p + QStringLiteral(" best"))) << p << QStringLiteral("best") << p + QStringLiteral("-best.screen.z");
        QTest::newRow(qPrintable(p + QStringLiteral(" pal best"))) << p << QStringLiteral("palbest") << p + QStringLiteral("-palbest.screen.z");
        QTest::newRow(qPrintable(p + QStringLiteral(" two frames"))) << p << QStringLiteral("two")
            << (p == QLatin1String("chelsea") ? QStringLiteral("twoframe-converted.%1.screen") : p + QStringLiteral("-two.%1.screen.z"));
        QTest::newRow(qPrintable(p + QStringLiteral(" pal two frames"))) << p << QStringLiteral("paltwo") << p + QStringLiteral("-paltwo.%1.screen.z");
    }
}

void TestPalView::matchesCapturedFrames()
{
    QFETCH(QString, photo);
    QFETCH(QString, method);
    QFETCH(QString, capture);
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    std::vector<quint32> pixels(kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/") + photo + QStringLiteral(".jpg"), pixels.data(), &error),
             qPrintable(error));

    // The program's PAL view: the window's store on the PAL display for the methods it offers there
    // (the classic method, and the best method and two frames planned for the TV), and the plain
    // best and two-frame results seen through the TV.
    const bool two = method.endsWith(QLatin1String("two"));
    const int frames = two ? 2 : 1;
    std::vector<quint32> views[2] = {std::vector<quint32>(kSourcePixels), std::vector<quint32>(kSourcePixels)};
    std::vector<quint32> blend(kSourcePixels);
    if (method == QLatin1String("classic") || method.startsWith(QLatin1String("pal"))) {
        ATARIpic pic;
        pic.setMethod(method == QLatin1String("classic") ? MethodTable::find(QStringLiteral("classic"))
                                                         : MethodTable::find(QStringLiteral("best"), frames));
        pic.setDisplay(DisplayTable::find(QStringLiteral("pal")));
        pic.copy(pixels.data());
        QCOMPARE(pic.converted().frames(), frames);
        for (int i = 0; i < kSourcePixels; ++i) {
            const quint16 x = quint16(i % kSourceWidth);
            const quint16 y = quint16(i / kSourceWidth);
            for (int f = 0; f < frames; ++f)
                views[f][size_t(i)] = pic.getAtariFramePixel(x, y, f);
            blend[size_t(i)] = pic.getAtariPixel(x, y);
        }
    } else {
        auto pic = std::make_unique<ATARIpic>();
        pic->copy(pixels.data());
        std::vector<quint8> out[2] = {std::vector<quint8>(kAtariPixels), std::vector<quint8>(kAtariPixels)};
        std::vector<quint8> hues[2] = {std::vector<quint8>(kHues), std::vector<quint8>(kHues)};
        if (!two) {
            BestConverter best;
            best.setPalette(palette.data());
            best.convert(pic->averaged(), 1.0, out[0].data(), hues[0].data(), 1);
        } else {
            TwoFrameConverter converter;
            converter.setPalette(palette.data());
            converter.convert(pic->averaged(), 1.0, kFlickerRange.defaultValue, 1, out[0].data(), hues[0].data(),
                              out[1].data(), hues[1].data());
            // As the two-frame method does on the plain display: frames arranged so that no area pulses.
            FrameArrangement::arrange(palette.data(), FrameArrangement::Coupling::None, out[0].data(), hues[0].data(),
                                      out[1].data(), hues[1].data());
        }
        std::vector<quint8> screens[2] = {std::vector<quint8>(kSourcePixels), std::vector<quint8>(kSourcePixels)};
        for (int f = 0; f < frames; ++f) {
            AtariView::render(out[f].data(), hues[f].data(), screens[f].data());
            PalDisplay::viewScreen(screens[f].data(), kSourceWidth, kSourceHeight, palette.data(), views[f].data());
        }
        if (two)
            PalDisplay::viewTwoFrames(screens[0].data(), screens[1].data(), kSourceWidth, kSourceHeight, palette.data(),
                                      blend.data());
    }

    // The model applied to the captured frames.
    std::vector<std::array<double, 3>> models[2];
    for (int f = 0; f < frames; ++f) {
        const QByteArray bytes = readData(two ? capture.arg(QLatin1Char("ab"[f])) : capture);
        QCOMPARE(bytes.size(), kCaptureWidth * kSourceHeight);
        models[f] = modelOf(palette, pictureOf(bytes));
        QString first;
        const int wrong = compare(views[f], models[f], &first);
        QVERIFY2(wrong == 0, qPrintable(QStringLiteral("frame %1: %2 pixels differ, first %3").arg(f).arg(wrong).arg(first)));
    }
    if (two) {
        QString first;
        const int wrong = compare(blend, blendOf(models[0], models[1]), &first);
        QVERIFY2(wrong == 0, qPrintable(QStringLiteral("blend: %1 pixels differ, first %2").arg(wrong).arg(first)));
    }
}

// The synthetic pattern changes hue between all lines and at every run boundary: its PAL view (one
// frame and two) against the model of its captures.
void TestPalView::matchesCapturedPattern()
{
    const std::vector<quint32> palette = ATARIpalGen().baseColours();
    const QByteArray names[3] = {QByteArrayLiteral("synthetic.screen"), QByteArrayLiteral("twoframe-pattern.a.screen"),
                                 QByteArrayLiteral("twoframe-pattern.b.screen")};
    std::vector<quint8> screens[3];
    std::vector<std::array<double, 3>> models[3];
    for (int k = 0; k < 3; ++k) {
        const QByteArray bytes = readData(QString::fromLatin1(names[k]));
        QCOMPARE(bytes.size(), kCaptureWidth * kSourceHeight);
        screens[k] = pictureOf(bytes);
        models[k] = modelOf(palette, screens[k]);
        std::vector<quint32> view(kSourcePixels);
        PalDisplay::viewScreen(screens[k].data(), kSourceWidth, kSourceHeight, palette.data(), view.data());
        QString first;
        QVERIFY2(compare(view, models[k], &first) == 0, qPrintable(first));
    }
    std::vector<quint32> blend(kSourcePixels);
    PalDisplay::viewTwoFrames(screens[1].data(), screens[2].data(), kSourceWidth, kSourceHeight, palette.data(), blend.data());
    QString first;
    QVERIFY2(compare(blend, blendOf(models[1], models[2]), &first) == 0, qPrintable(first));
}

QTEST_GUILESS_MAIN(TestPalView)
#include "tst_palview.moc"
