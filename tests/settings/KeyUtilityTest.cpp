// Key utility classes: value-list tests by key and option, effective settings,
// option setters, value texts and option records built from strings.
#include <gtest/gtest.h>

#include <cfloat>
#include <memory>

#include "settings/KeyNoteSetting.h"
#include "settings/KeyOptSetting.h"
#include "settings/KeyRangeSetting.h"
#include "settings/KeyUtility.h"

// Stand-in for the driver state of the settings storage: only the accessors the
// utilities read.
class CDrvState {
public:
    OptionForest* GetKeyForest() { return forest; }
    CBaseSoup* GetSoup() { return soup; }
    KVCache* GetCurrentSettings() { return current; }
    KVCache* GetDefaultSettings() { return defaults; }

    OptionForest* forest = nullptr;
    CBaseSoup* soup = nullptr;
    KVCache* current = nullptr;
    KVCache* defaults = nullptr;
};

namespace {

// A key that is not an option key, to check the type tests.
class OtherKey : public CKeyBaseSetting {
public:
    using CKeyBaseSetting::CKeyBaseSetting;
    CKeySetting* Clone() const override { return new OtherKey(*this); }
    int GetOptionsFromRecord(const CompiledKeyRecord*, std::list<COptData>&) const override { return 0; }
};

// "*VYRSpecialOption" with option "*UseSpecialAlgorithm" listing "2", plus a key
// "*UseSpecialAlgorithm" whose own list holds "Member".
struct Fixture {
    CStrSoup soup;
    OptionForest forest;
    SoupSlotID special, algorithm, two, member;

    Fixture() {
        special = soup.GetPropertySlot(QV_PROP_SPECIALOPTION, true);
        algorithm = soup.GetPropertySlot(QV_PROP_USESPECIALALGORITHM, true);
        two = soup.GetPropertySlot(QV_PROP_TWO, true);
        member = soup.GetPropertySlot(QV_PROP_MEMBERFLAG, true);
        const CKeyOptSetting opt(special, algorithm);
        forest.AddLeaf(special, COptData(&opt, SoupSlotID(), SoupSlotID(), soup.FindOrAdd(L"1|2")));
        forest.SetData(special, CKeyData(special));
        forest.SetData(algorithm, CKeyData(algorithm, SoupSlotID(), soup.FindOrAdd(L"Member")));
    }
};

}  // namespace

TEST(KeyOptionUtility, ValueListedByOptionThenByKey) {
    Fixture f;
    CKeyOptionUtility u;
    u.Init(&f.forest, &f.soup);
    EXPECT_TRUE(u.IsValueListed(f.special, f.algorithm, f.two));
    EXPECT_TRUE(u.IsValueListedByProp(QV_PROP_SPECIALOPTION, QV_PROP_USESPECIALALGORITHM, QV_PROP_TWO));
    // Not in the option's list: the key named by b answers.
    EXPECT_TRUE(u.IsValueListed(f.special, f.algorithm, f.member));
    // An invalid a still answers from the CKeyData of b.
    EXPECT_TRUE(u.IsValueListed(SoupSlotID(), f.algorithm, f.member));
    EXPECT_FALSE(u.IsValueListed(SoupSlotID(), f.algorithm, f.two));
    EXPECT_FALSE(u.IsValueListed(f.special, SoupSlotID(), f.two));
    EXPECT_FALSE(u.IsValueListed(f.special, f.algorithm, SoupSlotID()));

    CKeyOptionUtility noForest;
    noForest.Init(nullptr, &f.soup);
    EXPECT_EQ(&f.soup, noForest.GetSoup());
    EXPECT_FALSE(noForest.IsValueListed(f.special, f.algorithm, f.two));
    CKeyOptionUtility noSoup;
    noSoup.Init(&f.forest, nullptr);
    EXPECT_EQ(nullptr, noSoup.GetForest());
}

TEST(KeyOptionUtility, BuiltFromADriverState) {
    Fixture f;
    CDrvState state;
    state.soup = &f.soup;
    CVYROptionUtility missing(&state);
    EXPECT_EQ(0, missing.IsValid());
    EXPECT_EQ(nullptr, missing.GetState());
    state.forest = &f.forest;
    CVYROptionUtility ok(&state);
    EXPECT_EQ(1, ok.IsValid());
    EXPECT_EQ(&state, ok.GetState());
    CVYROptionUtility none(static_cast<CDrvState*>(nullptr));
    EXPECT_EQ(0, none.IsValid());
}

namespace {
struct SettingsFixture {
    CStrSoup soup;
    KVCache current, defaults;
    SoupSlotID page, a4, letter, scale, note, other;

    SettingsFixture() {
        page = soup.GetPropertySlot(QV_PROP_PAGESIZE, true);
        a4 = soup.FindOrAdd(L"A4");
        letter = soup.FindOrAdd(L"Letter");
        scale = soup.GetPropertySlot(QV_LOCAL_PROP_SCALE, true);
        const CKeyOptSetting defPage(page, letter);
        defaults.Set(&defPage);
        const CKeyRangeSetting defScale(scale, 0, 100, 25, 400, SoupSlotID(), -1);
        defaults.Set(&defScale);
        note = soup.GetPropertySlot(QV_PROP_BILLING_CODE, true);
        const CKeyNoteSetting defNote(note, L"none", SoupSlotID(), SoupSlotID(), SoupSlotID(), 32);
        defaults.Set(&defNote);
        other = soup.FindOrAdd(L"*Other");
        const OtherKey defOther(SoupSlotIDPair(other, SoupSlotID()));
        defaults.Set(&defOther);
    }
};
}  // namespace

TEST(KeySettingUtility, EffectiveSettingsAndOptionSetters) {
    SettingsFixture f;
    CKeySettingUtility u(&f.current, &f.defaults, &f.soup);
    ASSERT_EQ(1, u.IsValid());
    EXPECT_EQ(f.defaults.Find(f.page), u.GetSetting(f.page));
    EXPECT_EQ(f.letter, u.GetOptionByProp(QV_PROP_PAGESIZE));
    EXPECT_EQ(f.letter, u.GetDefaultOption(f.page));
    EXPECT_EQ(1, u.HasSettingByProp(QV_PROP_PAGESIZE));
    EXPECT_EQ(0, u.HasSettingByProp(QV_PROP_DUPLEX));

    EXPECT_EQ(1, u.SetOption(&f.current, f.page, f.a4));
    EXPECT_EQ(f.a4, u.GetOption(f.page));
    EXPECT_EQ(f.letter, u.GetDefaultOptionByProp(QV_PROP_PAGESIZE));
    EXPECT_EQ(1, u.IsOptionSet(f.page, f.a4));
    EXPECT_EQ(0, u.IsOptionSet(f.page, f.letter));
    EXPECT_NE(nullptr, dynamic_cast<CKeyOptSetting*>(f.current.Find(f.page)));

    // The scale key's default is a range key: no option clone, no option.
    EXPECT_EQ(nullptr, u.CloneOptionSetting(f.scale, f.a4));
    EXPECT_EQ(0, u.SetOptionByProp(&f.current, QV_LOCAL_PROP_SCALE, f.a4));
    EXPECT_TRUE(u.GetOption(f.scale).IsInvalid());
    EXPECT_EQ(0, u.SetOption(nullptr, f.page, f.a4));

    std::unique_ptr<CKeySetting> clone(u.CloneOptionSetting(f.page, f.letter));
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(f.letter, clone->GetValueId());

    CKeySettingUtility empty;
    EXPECT_EQ(0, empty.IsValid());
    EXPECT_EQ(nullptr, empty.GetSettingByProp(QV_PROP_PAGESIZE));
    EXPECT_TRUE(empty.GetOptionByProp(QV_PROP_PAGESIZE).IsInvalid());
    CKeySettingUtility partial(&f.current, nullptr, &f.soup);
    EXPECT_EQ(0, partial.IsValid());
}

TEST(KeySettingUtility, RangeAndNoteSettersCheckTheDefaultsClass) {
    SettingsFixture f;
    CKeySettingUtility u(&f.current, &f.defaults, &f.soup);
    std::unique_ptr<CKeySetting> range(u.CloneRangeSetting(f.scale, 150, 0));
    ASSERT_NE(nullptr, dynamic_cast<CKeyRangeSetting*>(range.get()));
    EXPECT_DOUBLE_EQ(150, static_cast<CKeyRangeSetting*>(range.get())->GetValueInUnit(0));
    EXPECT_EQ(nullptr, u.CloneRangeSetting(f.page, 1, 0));
    EXPECT_EQ(nullptr, u.CloneRangeSetting(f.other, 1, 0));
    EXPECT_EQ(nullptr, u.CloneNoteSetting(f.scale, L"x"));
    EXPECT_EQ(nullptr, u.CloneOptionSetting(f.other, f.a4));

    // Clamped to the default's limits.
    ASSERT_EQ(1, u.SetRangeByProp(&f.current, QV_LOCAL_PROP_SCALE, 1000, 0));
    const auto* set = dynamic_cast<CKeyRangeSetting*>(f.current.Find(f.scale));
    ASSERT_NE(nullptr, set);
    EXPECT_DOUBLE_EQ(400, set->GetValueInUnit(0));
    EXPECT_EQ(0, u.SetRangeByProp(&f.current, QV_PROP_PAGESIZE, 1, 0));

    EXPECT_STREQ(L"none", u.GetNoteTextByProp(QV_PROP_BILLING_CODE));
    ASSERT_EQ(1, u.SetNoteTextByProp(&f.current, QV_PROP_BILLING_CODE, L"dept-7"));
    EXPECT_STREQ(L"dept-7", u.GetNoteTextByProp(QV_PROP_BILLING_CODE));
    EXPECT_STREQ(L"none", static_cast<CKeyNoteSetting*>(f.defaults.Find(f.note))->GetNoteText());
    ASSERT_EQ(1, u.SetNoteTextByProp(&f.current, QV_PROP_BILLING_CODE, nullptr));
    EXPECT_STREQ(L"", u.GetNoteTextByProp(QV_PROP_BILLING_CODE));
    EXPECT_EQ(nullptr, u.GetNoteTextByProp(QV_PROP_PAGESIZE));
    EXPECT_EQ(0, u.SetNoteTextByProp(nullptr, QV_PROP_BILLING_CODE, L"x"));
}

TEST(RangeKey, UnitsAndClamping) {
    // Margins in millimetres are stored in points.
    CKeyRangeSetting margin(SoupSlotID(1), 2, 10, 0, 50, SoupSlotID(), -1);
    EXPECT_NEAR(10 * 72 / 25.4, margin.GetValueInUnit(3), 1e-9);
    EXPECT_NEAR(10, margin.GetValueInUnit(2), 1e-9);
    margin.SetValue(-5, 2);
    EXPECT_DOUBLE_EQ(0, margin.GetValueInUnit(2));
    margin.SetValue(1, 1);  // one inch
    EXPECT_NEAR(25.4, margin.GetValueInUnit(2), 1e-9);
    const CKeyRangeSetting unbounded;
    EXPECT_TRUE(unbounded.IsUnbounded());
    EXPECT_EQ(DBL_MIN, unbounded.GetMinInUnit(3));
    EXPECT_EQ(DBL_MAX, unbounded.GetMaxInUnit(3));
    CKeyRangeSetting free;
    free.SetValue(-1e9, 3);
    EXPECT_DOUBLE_EQ(-1e9, free.GetValueInUnit(3));
    EXPECT_DOUBLE_EQ(1.0, CKeyRangeSetting::GetUnitFactor(99));
}

TEST(KeySettingUtility, ValueTextsAreTheValueAlone) {
    SettingsFixture f;
    CKeySettingUtility u(&f.current, &f.defaults, &f.soup);
    std::unique_ptr<wchar_t[]> text(u.GetDefaultTextByProp(QV_PROP_PAGESIZE));
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ(L"Letter", text.get());
    EXPECT_EQ(nullptr, u.GetCurrentTextByProp(QV_PROP_PAGESIZE));
    u.SetOption(&f.current, f.page, f.a4);
    text.reset(u.GetCurrentText(f.page));
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ(L"A4", text.get());

    // A value longer than the keyword overlaps it when moved to the front.
    const SoupSlotID k = f.soup.FindOrAdd(L"*K");
    const CKeyOptSetting longValue(k, f.soup.FindOrAdd(L"AVeryLongOptionName"));
    f.current.Set(&longValue);
    text.reset(CKeySettingUtility::GetSettingText(&f.current, &f.soup, k));
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ(L"AVeryLongOptionName", text.get());

    const CKeyOptSetting noValue(f.soup.FindOrAdd(L"*Empty"), SoupSlotID());
    f.current.Set(&noValue);
    text.reset(CKeySettingUtility::GetSettingText(&f.current, &f.soup, noValue.GetKeyId()));
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ(L"", text.get());
    EXPECT_EQ(nullptr, CKeySettingUtility::GetSettingText(nullptr, &f.soup, k));
    EXPECT_EQ(nullptr, CKeySettingUtility::GetSettingText(&f.current, nullptr, k));
    EXPECT_EQ(nullptr, CKeySettingUtility::GetSettingText(&f.current, &f.soup, SoupSlotID()));
}

TEST(KeySettingsUtility, StateWithoutDefaultsIsNotValid) {
    SettingsFixture f;
    CDrvState state;
    state.soup = &f.soup;
    state.current = &f.current;
    CKeySettingsUtility missing(&state);
    EXPECT_EQ(0, missing.IsValid());
    EXPECT_EQ(nullptr, missing.GetState());
    state.defaults = &f.defaults;
    CKeySettingsUtility ok(&state);
    EXPECT_EQ(1, ok.IsValid());
    EXPECT_EQ(&state, ok.GetState());
    EXPECT_EQ(f.letter, ok.GetOptionByProp(QV_PROP_PAGESIZE));
}

TEST(BuildOptionDataList, SplitsNameAndValueList) {
    CStrSoup soup;
    const SoupSlotID key = soup.GetPropertySlot(QV_PROP_VYRFLAGS, true);
    std::list<SoupSlotID> in = {
        soup.FindOrAdd(L"Secure:SecPrint|Member"),
        soup.FindOrAdd(L"Spaced: Resume"),
        soup.FindOrAdd(L"NoSeparator"),
        soup.FindOrAdd(L"Tab\tEncrypt"),
        SoupSlotID(999),
    };
    std::list<COptData> out;
    ASSERT_EQ(1, BuildOptionDataList(&soup, key, &out, &in));
    ASSERT_EQ(3u, out.size());
    auto it = out.begin();
    EXPECT_EQ(soup.Find(L"Secure"), it->GetValueId());
    EXPECT_STREQ(L"SecPrint|Member", soup.GetString(it->GetValueListId()));
    EXPECT_TRUE(it->GetDisplayNameId().IsInvalid());
    EXPECT_TRUE(it->GetValueTextId().IsInvalid());
    EXPECT_EQ(key, it->GetSetting()->GetKeyId());
    EXPECT_TRUE(it->IsValueListed(&soup, soup.FindOrAdd(L"Member")));
    ++it;
    EXPECT_EQ(soup.Find(L"Spaced"), it->GetValueId());
    EXPECT_STREQ(L" Resume", soup.GetString(it->GetValueListId()));  // the blank stays in front
    ++it;
    EXPECT_STREQ(L"Encrypt", soup.GetString(it->GetValueListId()));

    EXPECT_EQ(0, BuildOptionDataList(nullptr, key, &out, &in));
    EXPECT_EQ(0, BuildOptionDataList(&soup, SoupSlotID(), &out, &in));
    EXPECT_EQ(0, BuildOptionDataList(&soup, key, nullptr, &in));
    EXPECT_EQ(0, BuildOptionDataList(&soup, key, &out, nullptr));
    EXPECT_EQ(3u, out.size());
}
