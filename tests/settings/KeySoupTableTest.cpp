// Soup-string and table keys: the blob slot, cells by name, the binary form with
// and without a soup, and the features of the filled cells.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "KeyTestSupport.h"
#include "settings/KeyFactory.h"
#include "settings/KeySoupSetting.h"

TEST(SoupKey, BlobRoundTripAndASlotTooSmall) {
    CKeySoupSetting key(SoupSlotID(1), 64);  // 128 bytes
    CStrSoup source;
    source.FindOrAdd(L"Tray 1");
    source.FindOrAdd(L"Heavy");
    std::vector<uint8_t> blob(128, 0xCC);
    ASSERT_EQ(128u, key.GetData(&source, blob.data(), 128));
    CStrSoup target;
    EXPECT_EQ(128u, key.SetData(&target, blob.data(), 128));
    ASSERT_EQ(2u, target.GetCount());
    EXPECT_STREQ(L"Heavy", target.GetString(SoupSlotID(1)));

    CKeySoupSetting tiny(SoupSlotID(1), 8);  // 16 bytes cannot hold the soup
    std::vector<uint8_t> slot(16, 0xCC);
    EXPECT_EQ(0u, tiny.GetData(&source, slot.data(), 16)) << "reported, not a zeroed success";
    for (uint8_t b : slot) EXPECT_EQ(0, b);
    CStrSoup untouched;
    untouched.FindOrAdd(L"keep");
    EXPECT_EQ(0u, tiny.SetData(&untouched, slot.data(), 16)) << "a zeroed slot is refused";
    EXPECT_STREQ(L"keep", untouched.GetString(SoupSlotID(0)));
    EXPECT_EQ(128u, key.GetData(&source, nullptr, 0));

    std::unique_ptr<CKeySetting> copy(key.Clone());
    EXPECT_TRUE(key.Equals(copy.get()));
    wchar_t text[8];
    EXPECT_EQ(0u, key.GetText(&source, text, 8));
}

TEST(TableKey, CellsByName) {
    CKeyMMediaSetting t(SoupSlotID(1), 4, 3);
    struct Case {
        const wchar_t* name;
        int result;
        int row, column;
    };
    const Case cases[] = {
        {L"RangeNum3", 1, 3, 0},     {L"rangenum5", 0, -1, -1},     {L"*RangeNum1", 0, -1, -1},
        {L"RangeProp0", 0, -1, -1},  {L"RangeProp1_1", 1, 1, 2},    {L"rangeprop2_0", 1, 2, 1},
        {L"RangeProp1_2", 0, -1, -1}, {L"RangeProp-1_0", 0, -1, -1}, {L"RangeProp0_-1", 0, -1, -1},
        {L"RangeNum-1", 0, -1, -1},  {L"Other", 0, -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, t.SetFromText(nullptr, nullptr, c.name, L"v")) << c.name;
        if (c.result) {
            EXPECT_STREQ(L"v", t.GetCellText(c.row, c.column)) << c.name;
        }
    }
    EXPECT_EQ(0, t.SetFromText(nullptr, nullptr, nullptr, L"v"));
    EXPECT_EQ(0, t.SetFromText(nullptr, nullptr, L"RangeNum0", nullptr));
}

TEST(TableKey, BinaryFormsAndText) {
    CKeyMMediaSetting t(SoupSlotID(1), 2, 3);
    ASSERT_EQ(1, t.SetFromText(nullptr, nullptr, L"RangeProp1_1", L"Heavy"));
    ASSERT_EQ(1, t.SetFromText(nullptr, nullptr, L"RangeNum0", L"1-3"));
    int32_t cells[6];
    std::memset(cells, 0x55, sizeof cells);
    ASSERT_EQ(24u, t.GetData(nullptr, cells, sizeof cells));
    for (int32_t v : cells) EXPECT_EQ(0, v) << "without a soup every cell is 0";
    CStrSoup soup;
    soup.FindOrAdd(L"first");
    ASSERT_EQ(24u, t.GetData(&soup, cells, sizeof cells));
    EXPECT_STREQ(L"1-3", soup.GetString(SoupSlotID(cells[0] - 1)));
    EXPECT_STREQ(L"Heavy", soup.GetString(SoupSlotID(cells[5] - 1)));
    EXPECT_EQ(0, cells[1]);

    CKeyMMediaSetting back(SoupSlotID(1), 2, 3);
    EXPECT_EQ(24u, back.SetData(&soup, cells, sizeof cells));
    EXPECT_STREQ(L"Heavy", back.GetCellText(1, 2));
    EXPECT_STREQ(L"1-3", back.GetCellText(0, 0));
    cells[2] = 9999;  // a slot the soup lacks
    CKeyMMediaSetting bad(SoupSlotID(1), 2, 3);
    bad.SetData(&soup, cells, sizeof cells);
    EXPECT_EQ(nullptr, bad.GetCellText(0, 2));

    const unsigned n = t.GetText(nullptr, nullptr, 0);
    EXPECT_EQ(3u + 29 + 5 + 33, n) << "the size query over-estimates";
    std::vector<wchar_t> text(n, L'#');
    const unsigned written = t.GetText(nullptr, text.data(), n);
    const wchar_t expected[] = L"*RangeNum0\0" L"1-3\0" L"*RangeProp1_1\0" L"Heavy\0";
    ASSERT_EQ(sizeof expected / sizeof expected[0], written);
    EXPECT_EQ(0, std::wmemcmp(expected, text.data(), written));
}

TEST(TableKey, FeaturesOfFilledCells) {
    FakeDrvState st;
    CKeyMMediaSetting t(st.Slot(L"*QVMixedMedia"), 2, 3);
    EXPECT_EQ(0, t.GetSetupCodeA(st.State(), nullptr, 0)) << "empty table";
    ASSERT_EQ(1, t.SetFromText(nullptr, nullptr, L"RangeProp1_1", L"Heavy"));
    EXPECT_EQ("%%BeginFeature: RangeProp1_1 Heavy\r\n  %%EmptyOption\r\n%%EndFeature\r\n", SetupA(t, st.State()));
    ASSERT_EQ(1, t.SetFromText(nullptr, nullptr, L"RangeNum0", L"QVPCName:\x00e9"));
    ASSERT_EQ(1, t.SetFromText(nullptr, nullptr, L"RangeNum1", L"\x00e9"));
    const std::string a = SetupA(t, st.State());
    EXPECT_EQ(
        "%%BeginFeature: RangeNum0 QVPCName:\xC3\xA9\r\n  %%EmptyOption\r\n%%EndFeature\r\n"
        "%%BeginFeature: RangeNum1 \xC3\xA9\r\n  %%EmptyOption\r\n%%EndFeature\r\n"
        "%%BeginFeature: RangeProp1_1 Heavy\r\n  %%EmptyOption\r\n%%EndFeature\r\n",
        a)
        << "UTF-8 from the QVPCName cell on";
    WritePostScriptJob("table", a, false, false);
    // A buffer too small for the second entry stops before it.
    char small[100];
    const int n = t.GetSetupCodeA(st.State(), small, sizeof small);
    EXPECT_EQ(static_cast<int>(std::strlen(small)) + 1, n);
}

TEST(TableKey, SizesFromRecordsAreBounded) {
    CStrSoup soup;
    const int key = soup.FindOrAdd(L"*QVMixedMedia").GetIndex();
    struct Case {
        int rows, columns;
        bool cells;
    };
    const Case cases[] = {{8, 3, true}, {0, 3, false}, {32767, 32767, false}, {-1, 4, false}, {256, 256, true}};
    for (const Case& c : cases) {
        const RecordBytes r = TableRecord(key, c.rows, c.columns);
        const CompiledKeyRecord rec = r.Record();
        std::unique_ptr<CKeySetting> k(CreateKeySetting(&soup, &rec));
        auto* t = dynamic_cast<CKeyMMediaSetting*>(k.get());
        if (c.rows < 0) {
            EXPECT_EQ(nullptr, t);
            continue;
        }
        ASSERT_NE(nullptr, t) << c.rows << "x" << c.columns;
        EXPECT_EQ(c.cells, t->HasCells()) << c.rows << "x" << c.columns;
        uint8_t buffer[8];
        t->GetData(nullptr, buffer, sizeof buffer);
        EXPECT_EQ(c.cells ? 0 : 1, t->SetFromText(nullptr, nullptr, L"RangeNum0", L"x") == 0 ? 1 : 0);
    }
}
