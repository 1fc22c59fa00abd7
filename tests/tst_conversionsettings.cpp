#include "conversionsettings.h"

#include <QtTest>

#include <tuple>
#include <type_traits>
#include <utility>

// Every field of ConversionSettings takes part in equality: the conversion queue skips a conversion
// whose settings compare equal to those shown, so a field left out would leave a change unseen.
class TestConversionSettings : public QObject
{
    Q_OBJECT

private slots:
    void everyFieldTakesPartInEquality();
};

namespace {

// Stands in for any field when counting the initialisers an aggregate takes.
struct AnyField
{
    template <typename T>
    operator T &() const &&;
};

template <typename T, typename... Fields>
constexpr auto takes(int) -> decltype(T{std::declval<Fields>()...}, true)
{
    return true;
}
template <typename T, typename... Fields>
constexpr bool takes(...)
{
    return false;
}

// The number of fields of the aggregate T.
template <typename T, typename... Fields>
constexpr int fieldCount()
{
    if constexpr (takes<T, Fields..., AnyField>(0))
        return fieldCount<T, Fields..., AnyField>();
    else
        return int(sizeof...(Fields));
}

// A different value of each field type.
void change(int &value) { ++value; }
void change(bool &value) { value = !value; }
void change(std::vector<quint32> &value) { value.push_back(0x123456); }
void change(PictureFit &value) { value = PictureFit(int(value) + 1); }
void change(PictureTone::Tone &value) { ++value.brightness; }

template <size_t... I>
void checkEachField(std::index_sequence<I...>)
{
    (
        [] {
            const ConversionSettings original;
            ConversionSettings changed = original;
            change(std::get<I>(changed.fields()));
            QVERIFY2(!(changed == original), qPrintable(QStringLiteral("field %1 is left out of equality").arg(I)));
            QVERIFY(changed != original);
            const ConversionSettings copy = changed;
            QVERIFY(copy == changed);
        }(),
        ...);
}

} // namespace

void TestConversionSettings::everyFieldTakesPartInEquality()
{
    static_assert(std::is_aggregate<ConversionSettings>::value, "the fields are counted as an aggregate's");
    constexpr int listed = int(std::tuple_size<decltype(ConversionSettings().fields())>::value);
    // A field added to ConversionSettings but not to fields() (and so not to equality) fails here.
    static_assert(fieldCount<ConversionSettings>() == listed, "ConversionSettings::fields() lists every field");
    checkEachField(std::make_index_sequence<listed>());
    // The tone compares all three of its values.
    ConversionSettings brighter, steeper, lighter;
    brighter.tone.brightness = 3;
    steeper.tone.contrast = 3;
    lighter.tone.gamma = 1.5;
    for (const ConversionSettings &changed : {brighter, steeper, lighter})
        QVERIFY(changed != ConversionSettings());
}

QTEST_GUILESS_MAIN(TestConversionSettings)
#include "tst_conversionsettings.moc"
