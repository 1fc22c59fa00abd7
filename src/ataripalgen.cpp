#include "ataripalgen.h"

#include <QColor>
#include <QtAlgorithms>

#include <algorithm>
#include <iterator>

namespace {

// The stored Atari palette, 16 hues of 16 luminances, entry = hue * 16 + luminance.
constexpr quint32 kBasePalette[256] = {
    0x000000, 0x0E0D0E, 0x1D1D1D, 0x2E2D2E, 0x3E3E3E, 0x4F4F4F, 0x5F5F5F, 0x6F6F6F,
    0x7A7A79, 0x8B8A8B, 0x9B9B9B, 0xACACAC, 0xBCBCBC, 0xCDCDCD, 0xDCDCDC, 0xECECEC,
    0x350000, 0x400500, 0x4F1400, 0x5F2500, 0x6E3400, 0x7F4503, 0x8E5513, 0x9F6623,
    0xA9712D, 0xBA8240, 0xCA9250, 0xDBA361, 0xEAB270, 0xFAC382, 0xFED291, 0xFFE3A1,
    0x3F0000, 0x4B0000, 0x590900, 0x691903, 0x782912, 0x883A23, 0x984A34, 0xA95B45,
    0xB3654F, 0xC47661, 0xD48772, 0xE59883, 0xF4A792, 0xFDB8A3, 0xFFC7B3, 0xFFD7C2,
    0x3D0000, 0x490000, 0x57050B, 0x68151B, 0x77252A, 0x88363C, 0x98464C, 0xA8575D,
    0xB26167, 0xC37279, 0xD38389, 0xE4949A, 0xF3A3A9, 0xFDB4BA, 0xFFC4CA, 0xFFD4D9,
    0x380027, 0x420032, 0x510140, 0x610E50, 0x701E5F, 0x812F70, 0x903F81, 0xA05190,
    0xAB5B9A, 0xBC6CAC, 0xCC7CBC, 0xDC8DCD, 0xEC9DDC, 0xFAAEED, 0xFEBDFA, 0xFFCDFE,
    0x2C0046, 0x370050, 0x46015F, 0x550E6E, 0x651E7D, 0x752F8E, 0x853F9F, 0x9550AE,
    0xA05BB8, 0xB16CCA, 0xC17CDA, 0xD28DEB, 0xE19DF8, 0xF2AEFE, 0xFCBDFF, 0xFECDFF,
    0x19005E, 0x240067, 0x340376, 0x441385, 0x532294, 0x6433A5, 0x7443B5, 0x8555C4,
    0x8F5FCE, 0xA070E0, 0xB081F0, 0xC192FC, 0xD0A1FE, 0xE1B2FF, 0xF0C2FF, 0xFCD2FF,
    0x00005C, 0x000966, 0x091875, 0x1A2984, 0x293893, 0x3A49A4, 0x4A59B4, 0x5C6AC3,
    0x6674CD, 0x7785DF, 0x8796EF, 0x98A7FC, 0xA8B6FE, 0xB9C7FF, 0xC8D6FF, 0xD8E7FF,
    0x000B45, 0x00164F, 0x00255D, 0x09366D, 0x18457C, 0x29568D, 0x39669D, 0x4B77AC,
    0x5681B6, 0x6792C8, 0x77A2D9, 0x88B3E9, 0x98C3F7, 0xA9D3FE, 0xB8E3FF, 0xC8F3FF,
    0x001625, 0x002230, 0x00313F, 0x01424F, 0x0C515E, 0x1E626F, 0x2E7280, 0x40828F,
    0x4A8D99, 0x5C9DAB, 0x6CAEBC, 0x7EBECC, 0x8DCEDB, 0x9EDEED, 0xADEEFA, 0xBDFCFE,
    0x002400, 0x002F00, 0x003E0A, 0x004F1A, 0x085E29, 0x186F3B, 0x287F4B, 0x3A8F5C,
    0x449A65, 0x55AB78, 0x65BB88, 0x77CC99, 0x86DBA8, 0x97ECBA, 0xA6FAC9, 0xB7FED9,
    0x002A00, 0x003700, 0x004600, 0x015600, 0x0F6500, 0x207603, 0x318513, 0x429624,
    0x4CA12D, 0x5DB140, 0x6DC151, 0x7FD262, 0x8EE271, 0x9FF282, 0xAFFD92, 0xBFFFA1,
    0x002400, 0x003100, 0x054000, 0x165000, 0x265F00, 0x367000, 0x478000, 0x589008,
    0x629B12, 0x73AC24, 0x84BC35, 0x95CD46, 0xA4DC55, 0xB5ED67, 0xC5FB77, 0xD5FF86,
    0x021800, 0x0F2500, 0x1F3400, 0x2F4500, 0x3F5400, 0x4F6500, 0x607500, 0x708601,
    0x7B900A, 0x8CA11C, 0x9CB12C, 0xADC23E, 0xBDD14D, 0xCDE25E, 0xDDF16E, 0xEDFD7E,
    0x1E0900, 0x2A1600, 0x392500, 0x493600, 0x584500, 0x695600, 0x796600, 0x8A7708,
    0x948112, 0xA59224, 0xB5A335, 0xC6B346, 0xD6C355, 0xE6D466, 0xF6E376, 0xFEF386,
    0x340000, 0x400500, 0x4F1500, 0x5F2500, 0x6E3500, 0x7F4603, 0x8F5613, 0x9F6723,
    0xAA712E, 0xBA8240, 0xCB9251, 0xDCA362, 0xEBB371, 0xFAC382, 0xFED392, 0xFFE3A1,
};

// Angle in degrees of hues 1 to 15 in the generated palette (index 0 unused: hue 0 is gray).
constexpr double kHueAngles[16] = {
    0.0, 45.0, 22.5, 0.0, 337.5, 315.0, 292.5, 247.5,
    225.0, 202.5, 180.0, 135.0, 112.5, 90.0, 67.5, 45.0,
};

// HSV value of luminance l (0 to 15): (31 + 15 * l) / 256, never 0.
double hsvValue(int l)
{
    return 0.0625 + (l + 1) * 0.0625 * 15 * 0.0625;
}

// Each operand and result of the luma's double arithmetic is a whole number of 2^-56 below 256, so
// the luma is redone exactly in 64-bit integers counting 2^-56: the same on every compiler, whether
// or not it fuses products and sums, and on every floating-point unit.
constexpr int kLumaFractionBits = 56;
constexpr double kLumaUnits = 0x1p56;
constexpr quint64 kRedWeight = quint64(0.299 * kLumaUnits);
constexpr quint64 kGreenWeight = quint64(0.587 * kLumaUnits);
constexpr quint64 kBlueWeight = quint64(0.114 * kLumaUnits);
static_assert(kRedWeight == 0.299 * kLumaUnits && kGreenWeight == 0.587 * kLumaUnits
                  && kBlueWeight == 0.114 * kLumaUnits,
              "the weights must be whole numbers of 2^-56");

// x (in 2^-56) rounded to the 53 significant bits of a double, ties to even.
quint64 roundToDouble(quint64 x)
{
    const int excess = 64 - int(qCountLeadingZeroBits(x)) - 53;
    if (excess <= 0)
        return x;
    const quint64 unit = quint64(1) << excess;
    const quint64 rest = x & (unit - 1);
    const quint64 down = x - rest;
    const quint64 half = unit >> 1;
    return rest > half || (rest == half && (down & unit)) ? down + unit : down;
}

int red(quint32 rgb) { return (rgb >> 16) & 0xFF; }
int green(quint32 rgb) { return (rgb >> 8) & 0xFF; }
int blue(quint32 rgb) { return rgb & 0xFF; }

quint32 grayOf(int l)
{
    const quint32 level = quint32(l) * 17u;
    return level << 16 | level << 8 | level;
}

quint32 greenOf(int l)
{
    if (l == 14)
        return 0x60FF3A;
    if (l == 15)
        return 0x76FF74;
    return quint32(74 * l / 13) << 16 | quint32(255 * l / 13) << 8;
}

} // namespace

ATARIpalGen::ATARIpalGen()
{
    for (int l = 0; l < 16; ++l) {
        grayRamp[l] = grayOf(l);
        greenRamp[l] = greenOf(l);
    }
    setBasePalette(nullptr);
    setSaturation(kInitialSaturation);
}

void ATARIpalGen::setBasePalette(const quint32 *rgb)
{
    builtInBase = rgb == nullptr;
    const quint32 *table = builtInBase ? kBasePalette : rgb;
    for (int i = 0; i < 256; ++i)
        basePalette[i] = table[i] & 0x00FFFFFF;
}

int ATARIpalGen::luma(quint32 p)
{
    // The exact luma is thousandths / 1000. The double arithmetic is off from it by less than 1e-12,
    // so it can only fall below a whole number when the exact luma is that whole number.
    const int thousandths = 299 * red(p) + 587 * green(p) + 114 * blue(p);
    if (thousandths % 1000 != 0)
        return thousandths / 1000;
    const quint64 redProduct = roundToDouble(red(p) * kRedWeight);
    const quint64 greenProduct = roundToDouble(green(p) * kGreenWeight);
    const quint64 blueProduct = roundToDouble(blue(p) * kBlueWeight);
    return int(roundToDouble(roundToDouble(redProduct + greenProduct) + blueProduct) >> kLumaFractionBits);
}

void ATARIpalGen::setSaturation(double s)
{
    saturation = s;
    rebuild();
}

void ATARIpalGen::rebuild()
{
    for (int i = 0; i < 256; ++i)
        generatedPalette[i] = calc(static_cast<unsigned char>(i));
    index.rebuild(generatedPalette);
}

quint32 ATARIpalGen::calc(unsigned char x) const
{
    const int hue = x >> 4;
    if (hue == 0)
        return getGray(x);
    QColor colour;
    colour.setHsvF(kHueAngles[hue] / 360.0, saturation, hsvValue(x & 15), 1.0);
    return quint32(colour.red()) << 16 | quint32(colour.green()) << 8 | quint32(colour.blue());
}

quint32 ATARIpalGen::average(quint32 a, quint32 b, quint32 c, quint32 d) const
{
    const quint32 r = (red(a) + red(b) + red(c) + red(d)) >> 2;
    const quint32 g = (green(a) + green(b) + green(c) + green(d)) >> 2;
    const quint32 bl = (blue(a) + blue(b) + blue(c) + blue(d)) >> 2;
    return r << 16 | g << 8 | bl;
}

quint32 ATARIpalGen::distance(quint32 p, quint32 q) const
{
    return quint32(sq(red(p) - red(q)) + sq(green(p) - green(q)) + sq(blue(p) - blue(q)));
}

unsigned char ATARIpalGen::nearest(quint32 p) const
{
    return static_cast<unsigned char>((index.find(p) & 0xF0) | luma(p) >> 4);
}
