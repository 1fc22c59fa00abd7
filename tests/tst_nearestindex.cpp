#include <QtTest>

#include <array>
#include <memory>
#include <random>
#include <vector>

#include "ataripalgen.h"
#include "ataripic.h"
#include "nearestindex.h"
#include "pictureloader.h"

namespace {

using Palette = std::array<quint32, 256>;

quint32 rgb(int r, int g, int b)
{
    return quint32(r) << 16 | quint32(g) << 8 | quint32(b);
}

// Index of the entry with the smallest squared distance to p, the first one on a tie: every entry tried.
int literalIndex(const Palette &palette, quint32 p)
{
    const quint32 *entries = palette.data();
    const int r = int(p >> 16 & 0xFF);
    const int g = int(p >> 8 & 0xFF);
    const int b = int(p & 0xFF);
    int bestIndex = 0;
    int best = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const int dr = r - int(entries[i] >> 16 & 0xFF);
        const int dg = g - int(entries[i] >> 8 & 0xFF);
        const int db = b - int(entries[i] & 0xFF);
        const int d = dr * dr + dg * dg + db * db;
        if (d < best) {
            best = d;
            bestIndex = i;
        }
    }
    return bestIndex;
}

Palette entriesOf(const ATARIpalGen &pal)
{
    Palette palette;
    for (int i = 0; i < 256; ++i)
        palette[i] = pal.getRGB(static_cast<unsigned char>(i));
    return palette;
}

Palette generated(double saturation)
{
    const auto pal = std::make_unique<ATARIpalGen>();
    pal->setSaturation(saturation);
    return entriesOf(*pal);
}

// Every colour with all channels in steps of 5 (0 to 255), and every level along the cube's 12 edges.
std::vector<quint32> gridColours()
{
    std::vector<quint32> colours;
    for (int r = 0; r <= 255; r += 5)
        for (int g = 0; g <= 255; g += 5)
            for (int b = 0; b <= 255; b += 5)
                colours.push_back(rgb(r, g, b));
    for (int v = 0; v <= 255; ++v)
        for (int a : {0, 255})
            for (int b : {0, 255})
                colours.insert(colours.end(), {rgb(v, a, b), rgb(a, v, b), rgb(a, b, v)});
    return colours;
}

std::vector<quint32> randomColours(int n)
{
    std::mt19937 random(20240611);
    std::vector<quint32> colours;
    for (int i = 0; i < n; ++i)
        colours.push_back(quint32(random()) & 0xFFFFFFu);
    return colours;
}

// Fails on the first colour whose indexed answer differs from the literal one.
void compareWithLiteral(const Palette &palette, NearestIndex &index, const std::vector<quint32> &colours)
{
    for (quint32 c : colours) {
        const int expected = literalIndex(palette, c);
        const int found = index.find(c);
        if (found != expected)
            QFAIL(qPrintable(QStringLiteral("colour %1: index %2, literal %3")
                                 .arg(c, 6, 16, QLatin1Char('0')).arg(found).arg(expected)));
    }
}

} // namespace

class TestNearestIndex : public QObject
{
    Q_OBJECT

private slots:
    void generatedPalette_data();
    void generatedPalette();
    void photoPixels_data();
    void photoPixels();
    void latticeTies();
};

void TestNearestIndex::generatedPalette_data()
{
    QTest::addColumn<double>("saturation");
    for (double s : {0.0, 0.01, 0.25, 0.5, 0.6, 0.8, 0.99, 1.0})
        QTest::newRow(qPrintable(QString::number(s))) << s;
}

// Exact on the whole cube at every slider position, also after lists of another palette were built.
void TestNearestIndex::generatedPalette()
{
    QFETCH(double, saturation);

    const Palette palette = generated(saturation);
    const auto index = std::make_unique<NearestIndex>();
    index->rebuild(generated(1.0 - saturation).data());
    for (quint32 c : randomColours(20000))
        index->find(c);
    index->rebuild(palette.data());
    compareWithLiteral(palette, *index, gridColours());
    compareWithLiteral(palette, *index, randomColours(20000));
}

void TestNearestIndex::photoPixels_data()
{
    generatedPalette_data();
}

// The converter's own answers on a photo's averaged pixels: hue of the literal nearest entry.
void TestNearestIndex::photoPixels()
{
    QFETCH(double, saturation);

    std::vector<quint32> pixels(Geometry::kSourcePixels);
    QString error;
    QVERIFY2(PictureLoader::load(QStringLiteral(RASTREL_TEST_DATA "/chelsea.jpg"), pixels.data(), &error),
             qPrintable(error));
    const auto pic = std::make_unique<ATARIpic>();
    pic->newSaturation(saturation * 100.0);
    pic->copy(pixels.data());
    QCOMPARE(pic->palette().getSaturation(), saturation);

    const Palette palette = entriesOf(pic->palette());
    for (int j = 0; j < Geometry::kAtariPixels; ++j) {
        const quint32 p = pic->averaged()[j];
        QCOMPARE(pic->nearestBytes()[j] >> 4, literalIndex(palette, p) >> 4);
    }
}

// Entries on a lattice of step 32, shuffled and repeated (the top byte set on some): points halfway
// between lattice levels are equally near to two, four or eight entries, and the first one must win.
void TestNearestIndex::latticeTies()
{
    std::mt19937 random(777);
    for (int round = 0; round < 3; ++round) {
        Palette palette;
        for (quint32 &entry : palette)
            entry = rgb(int(random() % 8) * 32 + 16, int(random() % 8) * 32 + 16, int(random() % 8) * 32 + 16)
                | (quint32(random()) & 0xFF000000u);
        std::vector<quint32> colours;
        for (int r = 0; r < 256; r += 8)
            for (int g = 0; g < 256; g += 8)
                for (int b = 0; b < 256; b += 8)
                    colours.push_back(rgb(r, g, b));
        const auto index = std::make_unique<NearestIndex>();
        index->rebuild(palette.data());
        compareWithLiteral(palette, *index, colours);
    }
}

QTEST_GUILESS_MAIN(TestNearestIndex)

#include "tst_nearestindex.moc"
