// Key factory: special keys by keyword, generic keys by record type, and damaged
// records (short, negative counts, random bytes) that must never be read past.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <typeinfo>

#include "KeyTestSupport.h"
#include "settings/KeyFactory.h"
#include "settings/KeyNoteSetting.h"
#include "settings/KeyNoteSpecials.h"
#include "settings/KeyRangeSetting.h"
#include "settings/KeySoupSetting.h"
#include "settings/KeyWatermarkStr.h"
#include "settings/OptionUtil.h"

namespace {
using KeyPtr = std::unique_ptr<CKeySetting>;

KeyPtr Make(CBaseSoup* soup, const RecordBytes& r) {
    const CompiledKeyRecord rec = r.Record();
    return KeyPtr(CreateKeySetting(soup, &rec));
}
}  // namespace

TEST(KeyFactory, SpecialKeywordsGiveTheirClasses) {
    struct Case {
        const wchar_t* keyword;
        int type;
        const std::type_info& expected;
    };
    const Case cases[] = {
        {L"*CustomPrintSize", 3, typeid(CKeyCustPrintSz)},  {L"*~QVSimulation", 3, typeid(CKeyHueGuardBiDi)},
        {L"*~QVRGBOverride", 3, typeid(CKeyHueGuardBiDi)},  {L"*~QVColorRendDict", 3, typeid(CKeyHueGuardBiDi)},
        {L"*~QVOutProfile", 3, typeid(CKeyHueGuardBiDi)},   {L"*QVScale", 1, typeid(CKeyScaleRange)},
        {L"*QVScale", 2, typeid(CKeyScaleRange)},           {L"*QV_NUMCOPIES", 1, typeid(CKeyCopiesRange)},
        {L"*QV_WatermarkStr", 3, typeid(CKeyWatermarkStr)}, {L"*QVUserAuthPwd", 3, typeid(CKeyPasswordStr)},
        {L"*QVUserAuthName", 3, typeid(CKeyPasswordStr)},   {L"*QVJobNote", 3, typeid(CKeyNoteSetting)},
        {L"*QVGutter", 1, typeid(CKeyRangeSetting)},        {L"*QVDensity", 2, typeid(CKeyRangeSetting)},
        {L"*PageSize", 0, typeid(CKeyOptSetting)},          {L"*QVSoup", 4, typeid(CKeySoupSetting)},
        {L"*QVMixedMedia", 5, typeid(CKeyMMediaSetting)},
    };
    for (const Case& c : cases) {
        CStrSoup soup;
        const int key = soup.FindOrAdd(c.keyword).GetIndex();
        RecordBytes r;
        switch (c.type) {
            case 0: r = OptionRecord(key, -1, {}, {}); break;
            case 1:
            case 2: r = RangeRecord(c.type, key, -1, 1, 10, 5, 2); break;
            case 3: r = NoteRecord(key, -1, -1, -1, 16); break;
            case 4: r = SoupRecord(key, 64); break;
            default: r = TableRecord(key, 2, 3); break;
        }
        const KeyPtr k = Make(&soup, r);
        ASSERT_NE(nullptr, k) << static_cast<const void*>(c.keyword) << " type " << c.type;
        EXPECT_EQ(c.expected, typeid(*k)) << "keyword index " << (&c - cases);
        EXPECT_EQ(key, k->GetKeyId().GetIndex());
    }
}

TEST(KeyFactory, RefusedRecordsGiveNull) {
    CStrSoup soup;
    const int scale = soup.FindOrAdd(L"*QVScale").GetIndex();
    const int print = soup.FindOrAdd(L"*CustomPrintSize").GetIndex();
    const int plain = soup.FindOrAdd(L"*QVPlain").GetIndex();
    auto typed = [](int t) {
        RecordBytes r;
        r.I16(t).PadTo(64);
        return r;
    };
    RecordBytes negative;
    negative.I16(0).I16(16).I16(plain).I16(-1).I16(-1).I16(-1).I16(-5).I16(0);
    RecordBytes negativeIds;
    negativeIds.I16(0).I16(16).I16(plain).I16(-1).I16(-1).I16(-1).I16(0).I16(-2);
    RecordBytes pastEnd;
    pastEnd.I16(0).I16(16).I16(plain).I16(-1).I16(-1).I16(-1).I16(1).I16(0);
    struct Case {
        const char* name;
        RecordBytes record;
    };
    const Case cases[] = {
        {"scale as option record", OptionRecord(scale, -1, {}, {})},
        {"scale as note record", NoteRecord(scale, -1, -1, -1, 8)},
        {"print size as range record", RangeRecord(1, print, -1, 0, 1, 0, 0)},
        {"type 6", typed(6)},
        {"type 7", typed(7)},
        {"type 0xFFFF", typed(0xFFFF)},
        {"negative option count", negative},
        {"negative id count", negativeIds},
        {"options past the record", pastEnd},
        {"empty record", RecordBytes()},
    };
    for (const Case& c : cases) EXPECT_EQ(nullptr, Make(&soup, c.record)) << c.name;
    EXPECT_EQ(nullptr, CreateKeySetting(&soup, static_cast<const CompiledKeyRecord*>(nullptr)));
    EXPECT_EQ(nullptr, CreateKeySetting(&soup, nullptr, 40));
}

TEST(KeyFactory, EveryShorterCutOfARecordIsRefused) {
    CStrSoup soup;
    const int key = soup.FindOrAdd(L"*QVKey").GetIndex();
    const int wm = soup.FindOrAdd(L"*QV_WatermarkStr").GetIndex();
    const RecordBytes records[] = {
        OptionRecord(key, 1, {{1, -1, 2, -1}, {3, 4, 5, 6}}, {7, 8}),
        RangeRecord(1, key, -1, 0, 1, 0, 0),
        RangeRecord(2, key, -1, 0, 1, 0, 9),
        NoteRecord(key, -1, -1, -1, 8),
        NoteRecord(wm, -1, -1, -1, 8),
        SoupRecord(key, 32),
        TableRecord(key, 2, 2),
    };
    for (const RecordBytes& r : records) {
        const std::vector<uint8_t>& full = r.Bytes();
        const KeyPtr whole(CreateKeySetting(&soup, full.data(), full.size()));
        ASSERT_NE(nullptr, whole) << "type " << full[0];
        // A cut copy on the heap, so reading past it is caught by the heap checks too.
        // Type 1 reads nothing past its initial value; every other record is read whole.
        const size_t needed = full[0] == 1 ? 46 : full.size();
        for (size_t n = 0; n < needed; ++n) {
            std::unique_ptr<uint8_t[]> cut(new uint8_t[n ? n : 1]);
            std::memcpy(cut.get(), full.data(), n);
            EXPECT_EQ(nullptr, KeyPtr(CreateKeySetting(&soup, cut.get(), n))) << "type " << full[0] << " cut " << n;
        }
    }
}

TEST(KeyFactory, RandomRecordsGiveNullOrAWorkingKey) {
    CStrSoup soup;
    for (int i = 0; i < 40; ++i) soup.FindOrAdd(std::to_wstring(i));
    FakeDrvState state;
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    int made = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes(next() % 64);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(next() >> 16);
        if (bytes.size() >= 2) bytes[0] = static_cast<uint8_t>((next() >> 8) % 7), bytes[1] = 0;
        if (bytes.size() >= 6) bytes[5] = 0;  // small key ids, so special rows can match too
        const KeyPtr k(CreateKeySetting(&soup, bytes.data(), bytes.size()));
        if (!k) continue;
        ++made;
        const KeyPtr copy(k->Clone());
        ASSERT_NE(nullptr, copy);
        wchar_t text[512];
        k->GetText(&soup, text, 512);
        std::list<COptData> options;
        std::list<SoupSlotID> ids;
        const CompiledKeyRecord rec{bytes.data(), bytes.size()};
        if (auto* base = dynamic_cast<CKeyBaseSetting*>(k.get())) {
            base->GetOptionsFromRecord(&rec, options);
            base->GetIdListFromRecord(&rec, ids);
            // Results vary (the copies key sizes without looking); only the bounds matter here.
            char a[4096];
            wchar_t w[4096];
            base->GetSetupCodeA(state.State(), a, sizeof a);
            base->GetSetupCodeW(state.State(), w, 4096);
            base->GetCommentTextA(state.State(), a, sizeof a);
            base->GetShowPageCode(state.State(), w, 4096, 1);
        }
    }
    EXPECT_GT(made, 100);
}

TEST(OptionKey, OptionsFromRecordFirstEntryWinsAndIdsFollow) {
    CStrSoup soup;
    const int key = soup.FindOrAdd(L"*PageSize").GetIndex();
    const RecordBytes r = OptionRecord(key, 10,
                                       {{10, -1, 20, -1}, {-1, 5, 6, 7}, {11, 12, 13, 14}, {10, 30, 31, 32}},
                                       {40, 41, -1});
    const KeyPtr k = Make(&soup, r);
    ASSERT_NE(nullptr, k);
    EXPECT_EQ(10, k->GetValueId().GetIndex());
    const CompiledKeyRecord rec = r.Record();
    std::list<COptData> options;
    ASSERT_EQ(1, static_cast<CKeyBaseSetting*>(k.get())->GetOptionsFromRecord(&rec, options));
    ASSERT_EQ(2u, options.size());
    const COptData& first = options.front();
    EXPECT_EQ(10, first.GetValueId().GetIndex());
    EXPECT_EQ(10, first.GetDisplayNameId().GetIndex());  // -1 names the option itself
    EXPECT_EQ(20, first.GetValueTextId().GetIndex());
    EXPECT_EQ(20, first.GetValueListId().GetIndex());  // -1 uses the value text
    EXPECT_EQ(key, first.GetSetting()->GetKeyId().GetIndex());
    EXPECT_EQ(11, options.back().GetValueId().GetIndex());
    EXPECT_EQ(14, options.back().GetValueListId().GetIndex());

    std::list<SoupSlotID> ids;
    ASSERT_EQ(1, static_cast<CKeyBaseSetting*>(k.get())->GetIdListFromRecord(&rec, ids));
    ASSERT_EQ(3u, ids.size());
    EXPECT_EQ(40, ids.front().GetIndex());
    EXPECT_TRUE(ids.back().IsInvalid());

    const RecordBytes note = NoteRecord(key, -1, -1, -1, 4);
    const CompiledKeyRecord noteRec = note.Record();
    EXPECT_EQ(0, static_cast<CKeyBaseSetting*>(k.get())->GetOptionsFromRecord(&noteRec, options));
    EXPECT_EQ(0, static_cast<CKeyBaseSetting*>(k.get())->GetIdListFromRecord(&noteRec, ids));
}

TEST(OptionKey, SetupCodeIsTheOptionCodeExactly) {
    FakeDrvState st;
    st.AddOption(L"*Duplex", L"DuplexNoTumble", L"<< /Duplex true >> setpagedevice");
    st.AddOption(L"*Duplex", L"None", L"");
    const CKeyOptSetting on(st.Slot(L"*Duplex"), st.Slot(L"DuplexNoTumble"));
    const char code[] = "<< /Duplex true >> setpagedevice";
    char buffer[64];
    EXPECT_EQ(static_cast<int>(sizeof code), on.GetSetupCodeA(st.State(), nullptr, 0));
    EXPECT_EQ(static_cast<int>(sizeof code), on.GetSetupCodeA(st.State(), buffer, sizeof code));
    EXPECT_STREQ(code, buffer);
    EXPECT_EQ(0, on.GetSetupCodeA(st.State(), buffer, sizeof code - 1));
    EXPECT_EQ(L"<< /Duplex true >> setpagedevice", SetupW(on, st.State()));
    const CKeyOptSetting none(st.Slot(L"*Duplex"), st.Slot(L"None"));
    EXPECT_EQ(0, none.GetSetupCodeA(st.State(), nullptr, 0));
    const CKeyOptSetting unset(st.Slot(L"*Duplex"), SoupSlotID());
    EXPECT_EQ(0, unset.GetSetupCodeW(st.State(), nullptr, 0));
    EXPECT_EQ(0, on.GetSetupCodeA(nullptr, nullptr, 0));
}

TEST(OptionUtil, LookUpsAndValueLists) {
    FakeDrvState st;
    st.AddOption(L"*PageSize", L"A4", L"<< /PageSize [595 842] >> setpagedevice", L"Dynamic|Wide");
    st.AddPPXFlags(L"*QVJobName", L"NoSetupTxt|UTF8");
    st.SetKeyValueList(L"*QVDeptCode", L"Member");
    const COptionUtil util(&st.soup, &st.forest);
    ASSERT_TRUE(util.IsValid());
    const SoupSlotID page = st.Slot(L"*PageSize"), a4 = st.Slot(L"A4");
    EXPECT_STREQ(L"<< /PageSize [595 842] >> setpagedevice", util.GetOptionValue(page, a4));
    EXPECT_STREQ(L"A4", util.GetOptionDisplayName(page, a4));
    EXPECT_EQ(nullptr, util.GetOptionValue(page, st.Slot(L"A3")));
    ASSERT_NE(nullptr, util.GetOptionList(page));
    EXPECT_EQ(1u, util.GetOptionList(page)->size());

    struct Case {
        const wchar_t* key;  // null: invalid
        const wchar_t* option;
        const wchar_t* value;
        bool listed;
    };
    const Case cases[] = {
        {L"*PageSize", L"A4", L"Wide", true},          {L"*PageSize", L"A4", L"Narrow", false},
        {L"*PPXFlags", L"*QVJobName", L"UTF8", true},  {L"*PPXFlags", L"*QVJobName", L"NoMin", false},
        {nullptr, L"*QVDeptCode", L"Member", true},    {L"*PPXFlags", L"*QVDeptCode", L"Member", true},
        {nullptr, L"*QVJobName", L"UTF8", false},      {L"*PageSize", nullptr, L"Wide", false},
    };
    for (const Case& c : cases) {
        const SoupSlotID key = c.key ? st.Slot(c.key) : SoupSlotID();
        const SoupSlotID option = c.option ? st.Slot(c.option) : SoupSlotID();
        EXPECT_EQ(c.listed, util.IsValueListed(key, option, st.Slot(c.value))) << static_cast<int>(&c - cases);
    }
    const COptionUtil none(nullptr, &st.forest);
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(nullptr, none.GetOptionValue(page, a4));

    st.forest.SetData(page, CKeyData(page));
    EXPECT_FALSE(util.GetKeyData(page)->IsChanged());
    COptionUtil::MarkKeyChanged(&st.forest, page);
    EXPECT_TRUE(util.GetKeyData(page)->IsChanged());
    COptionUtil::MarkKeyChanged(nullptr, page);
    COptionUtil::MarkKeyChanged(&st.forest, st.Slot(L"*Absent"));
    EXPECT_EQ(nullptr, util.GetKeyData(st.Slot(L"*Absent")));
}
