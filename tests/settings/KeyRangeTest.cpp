// Range keys: unit arithmetic, locale-independent text, clamping of outside data,
// the NoMin rule, and the range, scale and copies features.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <cstring>
#include <memory>

#include "KeyTestSupport.h"
#include "settings/KeyFactory.h"
#include "settings/KeyRangeSetting.h"

namespace {
std::wstring ValueText(const CKeySetting& key, CBaseSoup* soup) {
    wchar_t buffer[160];
    const unsigned n = key.GetText(soup, buffer, 160);
    if (!n) return L"<none>";
    return std::wstring(buffer + wcslen(buffer) + 1);
}

// Restores the C runtime's locale after a test that changed it.
struct LocaleGuard {
    ~LocaleGuard() { setlocale(LC_ALL, "C"); }
};

CBaseSoup* g_mapSoup = nullptr;
CBaseSoup* MapSoup(CfgSettings*) { return g_mapSoup; }
}  // namespace

TEST(RangeKey, ValueTextInEveryLocale) {
    LocaleGuard guard;
    struct Case {
        const char* locale;
        double value;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"C", 12.5, L"12.500000"}, {"C", 12, L"12"},          {"German", 12.5, L"12.500000"},
        {"German", 12, L"12"},     {"French", -0.25, L"-0.250000"}, {"German", 1e6, L"1000000"},
    };
    CStrSoup soup;
    const SoupSlotID key = soup.FindOrAdd(L"*QVBookMarginFloatPoints");
    for (const Case& c : cases) {
        ASSERT_NE(nullptr, setlocale(LC_ALL, c.locale)) << c.locale;
        CKeyRangeSetting k(key, 3, c.value, -1e7, 1e7, SoupSlotID(), 2);
        EXPECT_EQ(c.text, ValueText(k, &soup)) << c.locale << " " << c.value;
        // Text read back gives the value, whatever the host's decimal sign.
        k.SetValue(0, 3);
        EXPECT_EQ(1, k.SetFromText(&soup, nullptr, nullptr, c.text));
        EXPECT_DOUBLE_EQ(c.value, k.GetValueInUnit(3)) << c.locale;
    }
    setlocale(LC_ALL, "German");
    CKeyRangeSetting k(key, 3, 0, 0, 10, SoupSlotID(), -1);
    k.SetFromText(&soup, nullptr, nullptr, L"1,5");
    EXPECT_DOUBLE_EQ(1.0, k.GetValueInUnit(3)) << "a decimal comma ends the number";
}

TEST(RangeKey, UnitsFromKeywordsAndStoredPoints) {
    CStrSoup soup;
    struct Case {
        const wchar_t* keyword;
        int unit;
    };
    const Case cases[] = {{L"*num copies", 0}, {L"*QVBookMargin", 2}, {L"*QVBookSpine", 2},
                          {L"*QVScale", 0},    {L"*QVGutter", 3},     {L"*QV_NUMCOPIES", 3}};
    for (const Case& c : cases)
        EXPECT_EQ(c.unit, CKeyRangeSetting::GetUnitOfKey(&soup, soup.FindOrAdd(c.keyword)))
            << static_cast<int>(&c - cases);
    EXPECT_EQ(3, CKeyRangeSetting::GetUnitOfKey(nullptr, SoupSlotID(0)));

    const int margin = soup.FindOrAdd(L"*QVBookMargin").GetIndex();
    const RecordBytes r = RangeRecord(1, margin, -1, 0, 50, 10, 0);
    const CompiledKeyRecord rec = r.Record();
    std::unique_ptr<CKeySetting> k(CreateKeySetting(&soup, &rec));
    auto* range = dynamic_cast<CKeyRangeSetting*>(k.get());
    ASSERT_NE(nullptr, range);
    EXPECT_EQ(2, range->GetUnit());
    EXPECT_DOUBLE_EQ(28.34645669291339, range->GetStoredValue());
    EXPECT_DOUBLE_EQ(50 * 72 / 25.4, range->GetMaxInUnit(3));
    EXPECT_EQ(-1, range->GetExtra()) << "type 1 carries no extra integer";
    EXPECT_EQ(L"10", ValueText(*range, &soup));

    g_mapSoup = &soup;
    SetCfgSettingsSoupAccessor(&MapSoup);
    SettingMap map;
    range->AddToMap(map, reinterpret_cast<CfgSettings*>(&soup));
    EXPECT_EQ(L"28.346457", map[L"*QVBookMargin"]) << "the map carries points";
    SetCfgSettingsSoupAccessor(nullptr);
}

TEST(RangeKey, ClampingAndDeviceModeValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        double in;
        double stored;
    };
    const Case cases[] = {{"inside", 5, 5},   {"below", -3, 1}, {"above", 99, 10},
                          {"nan", nan, 1},    {"+inf", inf, 1}, {"-inf", -inf, 1}};
    for (const Case& c : cases) {
        CKeyRangeSetting k(SoupSlotID(1), 3, 5, 1, 10, SoupSlotID(), -1);
        k.SetValue(c.in, 3);
        EXPECT_DOUBLE_EQ(c.stored, k.GetStoredValue()) << "SetValue " << c.name;
        uint8_t bytes[8];
        std::memcpy(bytes, &c.in, 8);  // the device mode may hold anything
        CKeyRangeSetting target(SoupSlotID(1), 3, 5, 1, 10, SoupSlotID(), -1);
        EXPECT_EQ(8u, target.SetData(nullptr, bytes, 8)) << c.name;
        EXPECT_DOUBLE_EQ(c.stored, target.GetStoredValue()) << "SetData " << c.name;
        EXPECT_EQ(0u, target.SetData(nullptr, bytes, 7)) << c.name;
    }
    CKeyRangeSetting free(SoupSlotID(1), 3, 5, 1, 10, SoupSlotID(), -1);
    free.SetUnbounded(true);
    free.SetValue(-50, 3);
    EXPECT_DOUBLE_EQ(-50, free.GetStoredValue());
    EXPECT_EQ(2.2250738585072014e-308, free.GetMinInUnit(3));

    CKeyRangeSetting a(SoupSlotID(1), 3, 5.0001, 1, 10, SoupSlotID(), -1);
    CKeyRangeSetting b(SoupSlotID(1), 3, 5.0004, 1, 10, SoupSlotID(), -1);
    CKeyRangeSetting c(SoupSlotID(1), 3, 5.002, 1, 10, SoupSlotID(), -1);
    EXPECT_TRUE(a.Equals(&b)) << "three decimals";
    EXPECT_TRUE(a.Differs(&c));
    std::unique_ptr<CKeySetting> copy(a.Clone());
    EXPECT_TRUE(a.IsEqual(copy.get()));
}

namespace {
struct RangeState : FakeDrvState {
    SoupSlotID Template(const wchar_t* text) { return Slot(text); }
};
}  // namespace

TEST(RangeKey, FeaturesAndTheNoMinRule) {
    RangeState st;
    st.AddPPXFlags(L"*num copies", L"NoMin");
    st.AddPPXFlags(L"*QVBookSpine", L"NoMin");
    struct Case {
        const char* name;
        const wchar_t* keyword;
        double value, minimum, maximum;
        const wchar_t* templ;  // null: none
        const char* feature;   // empty: nothing
    };
    const Case cases[] = {
        {"copies at minimum", L"*num copies", 1, 1, 9999, nullptr, ""},
        {"copies above", L"*num copies", 2, 1, 9999, nullptr,
         "%%BeginFeature: *num copies 2\r\n  %%EmptyOption\r\n%%EndFeature\r\n"},
        {"spine at minimum", L"*QVBookSpine", 0, 0, 20, L"x", ""},
        {"margin", L"*QVBookMargin", 10, 0, 50,
         L"userdict /TolvaRQdict known {TolvaRQdict /VYRBookMargin <*QVBookMargin> put} if",
         "%%BeginFeature: *QVBookMargin 10\r\n  userdict /TolvaRQdict known {TolvaRQdict /VYRBookMargin 10 put} "
         "if\r\n%%EndFeature\r\n"},
        {"float points", L"*QVBookMarginFloatPoints", 12.5, 0, 144,
         L"userdict /TolvaRQdict known {TolvaRQdict /VYRBookMarginPt <*QVBookMarginFloatPoints> put} if",
         "%%BeginFeature: *QVBookMarginFloatPoints 12.500000\r\n  userdict /TolvaRQdict known {TolvaRQdict "
         "/VYRBookMarginPt 12.500000 put} if\r\n%%EndFeature\r\n"},
        {"minimum without NoMin", L"*QVGutter", 0, 0, 72, nullptr,
         "%%BeginFeature: *QVGutter 0\r\n  %%EmptyOption\r\n%%EndFeature\r\n"},
    };
    LocaleGuard guard;
    setlocale(LC_ALL, "German");
    for (const Case& c : cases) {
        const SoupSlotID key = st.Slot(c.keyword);
        const int unit = CKeyRangeSetting::GetUnitOfKey(&st.soup, key);
        const CKeyRangeSetting k(key, unit, c.value, c.minimum, c.maximum, c.templ ? st.Slot(c.templ) : SoupSlotID(),
                                 -1);
        const std::string a = SetupA(k, st.State());
        EXPECT_EQ(c.feature, a) << c.name;
        const std::wstring w = SetupW(k, st.State());
        EXPECT_EQ(std::wstring(a.begin(), a.end()), w) << c.name;
        if (!a.empty()) WritePostScriptJob(std::string("range-") + c.name, a, false, false);
    }
}

TEST(RangeKey, ScaleWritesTheFraction) {
    RangeState st;
    const SoupSlotID key = st.Slot(L"*QVScale");
    const SoupSlotID templ = st.Slot(L"userdict /TolvaRQdict known {TolvaRQdict /VYRScale <*QVScale> put} if");
    struct Case {
        double percent;
        const char* feature;
    };
    const Case cases[] = {
        {100, "%%BeginFeature: *QVScale 100\r\n  userdict /TolvaRQdict known {TolvaRQdict /VYRScale 1.00 put} "
              "if\r\n%%EndFeature\r\n"},
        {150, "%%BeginFeature: *QVScale 150\r\n  userdict /TolvaRQdict known {TolvaRQdict /VYRScale 1.50 put} "
              "if\r\n%%EndFeature\r\n"},
        {25, "%%BeginFeature: *QVScale 25\r\n  userdict /TolvaRQdict known {TolvaRQdict /VYRScale 0.25 put} "
             "if\r\n%%EndFeature\r\n"},
    };
    LocaleGuard guard;
    setlocale(LC_ALL, "German");
    for (const Case& c : cases) {
        const CKeyScaleRange k(key, 0, c.percent, 25, 400, templ, -1);
        const std::string a = SetupA(k, st.State());
        EXPECT_EQ(c.feature, a) << c.percent;
        EXPECT_EQ(std::wstring(a.begin(), a.end()), SetupW(k, st.State())) << c.percent;
        WritePostScriptJob("scale-" + std::to_string(static_cast<int>(c.percent)), a, false, false);
    }
    const CKeyScaleRange noTemplate(key, 0, 100, 25, 400, SoupSlotID(), -1);
    EXPECT_EQ(0, noTemplate.GetSetupCodeA(st.State(), nullptr, 0));
}

TEST(RangeKey, CopiesComeFromTheNumCopiesSetting) {
    RangeState st;
    const CKeyCopiesRange k(st.Slot(L"*QV_NUMCOPIES"), 3, 1, 1, 9999, SoupSlotID(), -1);
    char big[128];
    EXPECT_EQ(81, k.GetSetupCodeA(st.State(), nullptr, 0));
    EXPECT_EQ(0, k.GetSetupCodeA(st.State(), big, sizeof big)) << "no *num copies setting";
    const CKeyRangeSetting copies(st.Slot(L"*num copies"), 0, 3, 1, 9999, SoupSlotID(), -1);
    st.current.Set(&copies);
    const char expected[] = "%%BeginNonPPDFeature: NumCopies 3\r\n%%EndNonPPDFeature\r\n";
    EXPECT_EQ(static_cast<int>(sizeof expected), k.GetSetupCodeA(st.State(), big, sizeof big));
    EXPECT_STREQ(expected, big);
    char small[50];
    EXPECT_EQ(0, k.GetSetupCodeA(st.State(), small, sizeof small));
    wchar_t wide[128];
    EXPECT_EQ(static_cast<int>(sizeof expected), k.GetSetupCodeW(st.State(), wide, 128));
    EXPECT_STREQ(L"%%BeginNonPPDFeature: NumCopies 3\r\n%%EndNonPPDFeature\r\n", wide);
    EXPECT_EQ(0, k.GetSetupCodeA(nullptr, nullptr, 0));
    WritePostScriptJob("copies", expected, false, false);

    // A note in "*num copies" is not a count.
    const CKeyOptSetting notRange(st.Slot(L"*num copies"), SoupSlotID(1));
    st.current.Set(&notRange);
    EXPECT_EQ(0, k.GetSetupCodeA(st.State(), big, sizeof big));

    SettingMap map{{L"*num copies", L"4"}};
    g_mapSoup = &st.soup;
    SetCfgSettingsSoupAccessor(&MapSoup);
    k.AddToMap(map, reinterpret_cast<CfgSettings*>(&st));
    SetCfgSettingsSoupAccessor(nullptr);
    EXPECT_EQ(L"4", map[L"NumCopies"]);
    EXPECT_EQ(0u, map.count(L"*QV_NUMCOPIES"));
}
