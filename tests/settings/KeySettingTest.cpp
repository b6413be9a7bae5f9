// Setting key base: identity, binary and text forms, map export, narrow text and
// the feature-invocation writers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/KeyForest.h"
#include "settings/KeyOptSetting.h"
#include "settings/StrSoup.h"

TEST(KeySetting, EqualityNeedsTheSameDynamicType) {
    const CKeyOptSetting opt{SoupSlotID(1), SoupSlotID(2)};
    const CKeyOldSetting old(SoupSlotID(1), SoupSlotID(2));
    EXPECT_FALSE(opt.IsEqual(&old));
    EXPECT_FALSE(old.IsEqual(&opt));
    EXPECT_FALSE(opt.IsEqual(nullptr));
    const CKeyOptSetting same{SoupSlotID(1), SoupSlotID(2)};
    EXPECT_TRUE(opt == same);
    const CKeyOptSetting other{SoupSlotID(1), SoupSlotID(3)};
    EXPECT_TRUE(opt != other);
    CKeySetting* clone = old.Clone();
    ASSERT_NE(nullptr, clone);
    EXPECT_TRUE(clone->IsEqual(&old));
    EXPECT_NE(nullptr, dynamic_cast<CKeyOldSetting*>(clone));
    delete clone;
}

TEST(KeySetting, BinaryFormIsTheValueSlot) {
    CKeyOptSetting key{SoupSlotID(1), SoupSlotID(0x01020304)};
    unsigned char buffer[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(4u, key.GetData(nullptr, nullptr, 0));
    EXPECT_EQ(4u, key.GetData(nullptr, buffer, 3));
    EXPECT_EQ(0xEE, buffer[0]);
    EXPECT_EQ(4u, key.GetData(nullptr, buffer, 4));
    EXPECT_EQ(0, std::memcmp(buffer, "\x04\x03\x02\x01\xEE", 5));

    CKeyOptSetting none{SoupSlotID(1), SoupSlotID(-5)};
    none.GetData(nullptr, buffer, 4);
    EXPECT_EQ(0, std::memcmp(buffer, "\xFF\xFF\xFF\xFF", 4));

    // Unaligned input, as inside a device-mode block.
    unsigned char raw[7] = {0, 0, 0, 0x2A, 0, 0, 0};
    EXPECT_EQ(0u, key.SetData(nullptr, raw + 3, 3));
    EXPECT_EQ(SoupSlotID(0x01020304), key.GetValueId());
    EXPECT_EQ(4u, key.SetData(nullptr, raw + 3, 4));
    EXPECT_EQ(SoupSlotID(42), key.GetValueId());
    EXPECT_EQ(0u, key.SetData(nullptr, nullptr, 4));
    const int32_t minusOne = -1;
    key.SetData(nullptr, &minusOne, 4);
    EXPECT_TRUE(key.GetValueId().IsInvalid());
}

TEST(KeySetting, TextFormSizingAndWriting) {
    CStrSoup soup;
    const SoupSlotID kw = soup.FindOrAdd(L"*PageSize");
    const SoupSlotID a4 = soup.FindOrAdd(L"A4");
    const CKeyOptSetting key(kw, a4);
    const unsigned needed = 9 + 2 + 3;
    EXPECT_EQ(needed, key.GetText(&soup, nullptr, 0));
    std::vector<wchar_t> buffer(needed, L'#');
    EXPECT_EQ(needed, key.GetText(&soup, buffer.data(), needed - 1));
    EXPECT_EQ(L'#', buffer[0]);
    EXPECT_EQ(needed, key.GetText(&soup, buffer.data(), needed));
    EXPECT_EQ(0, std::wmemcmp(buffer.data(), L"*PageSize\0A4\0\0", needed));

    const CKeyOptSetting noValue(kw, SoupSlotID());
    EXPECT_EQ(9u + 3u, noValue.GetText(&soup, nullptr, 0));
    const CKeyOptSetting noKeyword(SoupSlotID(), a4);
    EXPECT_EQ(0u, noKeyword.GetText(&soup, buffer.data(), needed));
    const CKeyOptSetting emptyKeyword(soup.FindOrAdd(L""), a4);
    EXPECT_EQ(0u, emptyKeyword.GetText(&soup, buffer.data(), needed));
    EXPECT_EQ(0u, key.GetText(nullptr, buffer.data(), needed));
}

TEST(KeySetting, SetFromTextAcceptsOnlyOptionsOfTheKey) {
    CStrSoup soup;
    const SoupSlotID kw = soup.FindOrAdd(L"*Duplex");
    const SoupSlotID none = soup.FindOrAdd(L"None");
    OptionForest forest;
    const CKeyOptSetting opt(kw, none);
    forest.AddLeaf(kw, COptData(&opt, SoupSlotID(), SoupSlotID(), SoupSlotID()));
    CKeyOptSetting key(kw, SoupSlotID());
    EXPECT_EQ(0, key.SetFromText(&soup, &forest, nullptr, L"DuplexTumble"));
    EXPECT_TRUE(key.GetValueId().IsInvalid());
    EXPECT_EQ(1, key.SetFromText(&soup, &forest, L"ignored", L"None"));
    EXPECT_EQ(none, key.GetValueId());
    EXPECT_EQ(0, key.SetFromText(nullptr, &forest, nullptr, L"None"));
    EXPECT_EQ(0, key.SetFromText(&soup, nullptr, nullptr, L"None"));
    EXPECT_EQ(0, key.SetFromText(&soup, &forest, nullptr, nullptr));
}

namespace {
CStrSoup* g_mapSoup = nullptr;
CBaseSoup* TestSoupOf(CfgSettings*) { return g_mapSoup; }
}  // namespace

TEST(KeySetting, AddToMapUsesTheSettingsSoupAndEmptyTextsForMissingSlots) {
    CStrSoup soup;
    const SoupSlotID kw = soup.FindOrAdd(L"*InputSlot");
    const SoupSlotID tray = soup.FindOrAdd(L"Tray1");
    SettingMap map;
    const CKeyOptSetting key(kw, tray);
    key.AddToMap(map, nullptr);
    EXPECT_TRUE(map.empty());

    g_mapSoup = &soup;
    SetCfgSettingsSoupAccessor(&TestSoupOf);
    auto* settings = reinterpret_cast<CfgSettings*>(&soup);  // an opaque handle here
    key.AddToMap(map, settings);
    EXPECT_EQ(L"Tray1", map[L"*InputSlot"]);
    const CKeyOptSetting noValue(kw, SoupSlotID(77));
    noValue.AddToMap(map, settings);
    EXPECT_EQ(L"", map[L"*InputSlot"]);
    const CKeyOptSetting noKeyword(SoupSlotID(), tray);
    noKeyword.AddToMap(map, settings);
    EXPECT_EQ(L"Tray1", map[L""]);
    SetCfgSettingsSoupAccessor(nullptr);
    g_mapSoup = nullptr;
}

TEST(KeySetting, NarrowTextAndRootEmitters) {
    const CKeyOptSetting key{SoupSlotID(1), SoupSlotID(2)};
    EXPECT_EQ(nullptr, key.ToNarrowText(nullptr));
    EXPECT_EQ(nullptr, key.ToNarrowText(L""));
    char* ascii = key.ToNarrowText(L"Letter");
    ASSERT_NE(nullptr, ascii);
    EXPECT_STREQ("Letter", ascii);
    delete[] ascii;
    // A byte-order mark anywhere switches the text to UTF-8.
    char* utf8 = key.ToNarrowText(L"\xFEFF\x00e9");
    ASSERT_NE(nullptr, utf8);
    EXPECT_STREQ("\xEF\xBB\xBF\xC3\xA9", utf8);
    delete[] utf8;

    wchar_t w[8];
    char a[8];
    EXPECT_EQ(nullptr, key.GetInvocationTemplate(nullptr));
    EXPECT_EQ(0, key.GetCommentTextW(nullptr, w, 8));
    EXPECT_EQ(0, key.GetCommentTextA(nullptr, a, 8));
    EXPECT_EQ(0, key.GetSetupCodeW(nullptr, w, 8));
    EXPECT_EQ(0, key.GetSetupCodeA(nullptr, a, 8));
    EXPECT_EQ(0, key.GetPageSetupCode(nullptr, w, 8, 1));
    EXPECT_EQ(0, key.GetShowPageCode(nullptr, w, 8, 1));
    std::list<SoupSlotID> ids;
    EXPECT_EQ(0, key.GetIdListFromRecord(nullptr, ids));  // an option key needs its record
    EXPECT_TRUE(ids.empty());
}

TEST(FormatFeature, NarrowAndWideGiveTheSameText) {
    struct Case {
        const char* name;
        const char* keyword;
        const char* option;
        const char* code;
        unsigned size;
        int result;        // -1: the text's length plus 1
        const char* text;  // null: nothing written
    };
    const Case cases[] = {
        {"empty code", "*Foo", "Bar", "", 100, 58, "%%BeginFeature: *Foo Bar\r\n  %%EmptyOption\r\n%%EndFeature\r\n"},
        {"null code", "*Foo", "Bar", nullptr, 100, 58,
         "%%BeginFeature: *Foo Bar\r\n  %%EmptyOption\r\n%%EndFeature\r\n"},
        {"with code", "*Duplex", "None", "<</Duplex false>> setpagedevice", 200, -1,
         "%%BeginFeature: *Duplex None\r\n  <</Duplex false>> setpagedevice\r\n%%EndFeature\r\n"},
        {"percent in texts", "*A%d", "%s", "50%", 100, -1, "%%BeginFeature: *A%d %s\r\n  50%\r\n%%EndFeature\r\n"},
        {"short buffer", "*Foo", "Bar", "", 60, 69, nullptr},
        {"exact needed size", "*Foo", "Bar", "", 69, 58,
         "%%BeginFeature: *Foo Bar\r\n  %%EmptyOption\r\n%%EndFeature\r\n"},
        {"size query", "*Foo", "Bar", "x", 0, 70, nullptr},
        {"empty keyword", "", "Bar", "", 100, 0, nullptr},
        {"null keyword", nullptr, "Bar", "", 100, 0, nullptr},
        {"null option", "*Foo", nullptr, "", 100, 0, nullptr},
        {"empty option", "*Foo", "", "", 100, 55, "%%BeginFeature: *Foo \r\n  %%EmptyOption\r\n%%EndFeature\r\n"},
    };
    for (const Case& c : cases) {
        std::vector<char> a(256, '#');
        const bool query = c.size == 0;
        const int result = c.result >= 0 ? c.result : static_cast<int>(std::strlen(c.text)) + 1;
        EXPECT_EQ(result, CKeyBaseSetting::FormatFeatureA(c.keyword, c.option, c.code, query ? nullptr : a.data(),
                                                            c.size))
            << c.name;
        if (c.text) {
            EXPECT_STREQ(c.text, a.data()) << c.name;
        } else {
            EXPECT_EQ('#', a[0]) << c.name;
        }

        auto widen = [](const char* s) { return s ? std::wstring(s, s + std::strlen(s)) : std::wstring(); };
        const std::wstring kw = widen(c.keyword), op = widen(c.option), code = widen(c.code);
        std::vector<wchar_t> w(256, L'#');
        EXPECT_EQ(result,
                  CKeyBaseSetting::FormatFeatureW(c.keyword ? kw.c_str() : nullptr, c.option ? op.c_str() : nullptr,
                                                  c.code ? code.c_str() : nullptr, query ? nullptr : w.data(), c.size))
            << c.name << " (wide)";
        if (c.text) {
            EXPECT_EQ(widen(c.text), std::wstring(w.data())) << c.name << " (wide)";
        } else {
            EXPECT_EQ(L'#', w[0]) << c.name << " (wide)";
        }
    }
}
