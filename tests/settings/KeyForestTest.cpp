// Value-list parser, key records and the key forest containers.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "settings/KeyForest.h"
#include "settings/KeyOptSetting.h"
#include "settings/StrSoup.h"

namespace {

// The parsed list as name -> text, for readable comparisons.
std::map<std::wstring, std::wstring> Named(const CBaseSoup& soup, const ValueList& list) {
    std::map<std::wstring, std::wstring> out;
    for (const auto& item : list) out[soup.GetString(item.first)] = item.second;
    return out;
}

}  // namespace

TEST(ValueList, ParsesItemsOrFailsWhole) {
    using M = std::map<std::wstring, std::wstring>;
    struct Case {
        const wchar_t* text;
        bool ok;
        M items;
    };
    const Case cases[] = {
        {L"A|B", true, M{{L"A", L""}, {L"B", L""}}},
        {L"  A\t|  B  ", true, M{{L"A", L""}, {L"B", L""}}},
        {L"Name\"some", true, M{{L"Name", L"some"}}},
        {L"NoMin|UTF8\"x|Member", true, M{{L"NoMin", L""}, {L"UTF8", L"x"}, {L"Member", L""}}},
        {L"", true, M{{L"", L""}}},
        {L"A|", true, M{{L"A", L""}, {L"", L""}}},
        {L"Name\"text\"", false, M{}},
        {L"A B", false, M{}},
        {L"A|B C|D", false, M{}},
        {L"A\rB", false, M{}},
        {L"A\"x\"|B", false, M{}},
    };
    for (const Case& c : cases) {
        CStrSoup soup;
        ValueList list;
        list[soup.FindOrAdd(L"stale")] = L"";
        EXPECT_EQ(c.ok, ParseValueList(&soup, c.text, list)) << "text [" << testing::PrintToString(std::wstring(c.text)) << "]";
        EXPECT_EQ(c.items, Named(soup, list)) << "text [" << testing::PrintToString(std::wstring(c.text)) << "]";
    }
    ValueList list;
    CStrSoup soup;
    EXPECT_FALSE(ParseValueList(nullptr, L"A", list));
    EXPECT_FALSE(ParseValueList(&soup, nullptr, list));
    EXPECT_TRUE(list.empty());
}

TEST(KeyRecords, ValueListTestParsesOnceAndAnswersByName) {
    CStrSoup soup;
    const SoupSlotID list = soup.FindOrAdd(L"SecPrint | Member");
    const SoupSlotID secPrint = soup.FindOrAdd(L"SecPrint");
    const SoupSlotID other = soup.FindOrAdd(L"Resume");
    CKeyData key(soup.FindOrAdd(L"*Key"), SoupSlotID(), list);
    EXPECT_TRUE(key.IsValueListed(&soup, secPrint));
    EXPECT_TRUE(key.IsValueListed(&soup, soup.Find(L"Member")));
    EXPECT_FALSE(key.IsValueListed(&soup, other));
    // Once parsed, the list answers without a soup.
    EXPECT_TRUE(key.IsValueListed(nullptr, secPrint));

    CKeyData noList(SoupSlotID(1));
    EXPECT_FALSE(noList.IsValueListed(&soup, secPrint));

    const CKeyOptSetting opt{SoupSlotID(0), SoupSlotID(5)};
    COptData bad(&opt, SoupSlotID(), SoupSlotID(), soup.FindOrAdd(L"A \"x\""));
    EXPECT_FALSE(bad.IsValueListed(&soup, soup.FindOrAdd(L"A")));
    COptData absent(&opt, SoupSlotID(), SoupSlotID(), SoupSlotID(999));
    EXPECT_FALSE(absent.IsValueListed(&soup, secPrint));
}

TEST(KeyRecords, CopiesKeepIdsAndFlagsAndParseTheirOwnList) {
    CStrSoup soup;
    const SoupSlotID flag = soup.FindOrAdd(L"Encrypt");
    const SoupSlotID list = soup.FindOrAdd(L"Encrypt");
    const CKeyOptSetting opt{SoupSlotID(7), SoupSlotID(8)};
    COptData a(&opt, SoupSlotID(1), SoupSlotID(2), list, 1);
    EXPECT_TRUE(a.IsValueListed(&soup, flag));
    COptData b(a);
    EXPECT_TRUE(b.IsDisabled());
    EXPECT_EQ(SoupSlotID(2), b.GetValueTextId());
    EXPECT_TRUE(b.IsOption(SoupSlotID(8)));
    EXPECT_TRUE(b.IsNotOption(SoupSlotID(9)));
    EXPECT_NE(a.GetSetting(), b.GetSetting());  // cloned
    EXPECT_TRUE(b.IsValueListed(&soup, flag));

    a = a;  // self-assignment keeps the setting
    ASSERT_NE(nullptr, a.GetSetting());
    EXPECT_EQ(SoupSlotID(8), a.GetValueId());

    CKeyData k(SoupSlotID(3), SoupSlotID(4), list, 1);
    CKeyData k2;
    k2 = k;
    EXPECT_TRUE(k2.IsChanged());
    EXPECT_EQ(SoupSlotID(3), k2.GetKeyId());
    k2 = k2;
    EXPECT_EQ(SoupSlotID(4), k2.GetDisplayNameId());
}

TEST(KeyProxy, ClonesAndSelfAssignmentIsSafe) {
    const CKeyOptSetting opt{SoupSlotID(1), SoupSlotID(2)};
    CKeyProxy p(&opt);
    ASSERT_NE(nullptr, p.GetSetting());
    EXPECT_NE(static_cast<const CKeySetting*>(&opt), p.GetSetting());
    p = p;
    ASSERT_NE(nullptr, p.GetSetting());
    EXPECT_EQ(SoupSlotID(2), p.GetValueId());
    p.Reset(p.GetSetting());  // the held setting itself
    ASSERT_NE(nullptr, p.GetSetting());
    EXPECT_EQ(SoupSlotID(2), p.GetValueId());
    CKeyProxy empty;
    EXPECT_TRUE(empty.GetValueId().IsInvalid());
    p = empty;
    EXPECT_EQ(nullptr, p.GetSetting());
}

TEST(KeyForest, DataAndLeaves) {
    IdListForest forest;
    EXPECT_EQ(1, forest.IsEmpty());
    forest.Clear();
    EXPECT_EQ(nullptr, forest.GetData(SoupSlotID(1)));
    EXPECT_EQ(nullptr, forest.GetLeaves(SoupSlotID(1)));

    forest.AddLeaf(SoupSlotID(1), SoupSlotID(10));
    forest.AddLeaf(SoupSlotID(1), SoupSlotID(11));
    EXPECT_EQ(nullptr, forest.GetData(SoupSlotID(1)));
    forest.SetData(SoupSlotID(1), CKeyData(SoupSlotID(1)));
    ASSERT_NE(nullptr, forest.GetLeaves(SoupSlotID(1)));
    EXPECT_EQ(2u, forest.GetLeaves(SoupSlotID(1))->size());
    forest.SetData(SoupSlotID(1), CKeyData(SoupSlotID(1), SoupSlotID(5)));
    EXPECT_EQ(SoupSlotID(5), forest.GetData(SoupSlotID(1))->GetDisplayNameId());
    EXPECT_EQ(2u, forest.GetLeaves(SoupSlotID(1))->size());

    forest.ClearLeaves(SoupSlotID(1));
    EXPECT_EQ(nullptr, forest.GetLeaves(SoupSlotID(1)));
    EXPECT_NE(nullptr, forest.GetData(SoupSlotID(1)));
    forest.ClearLeaves(SoupSlotID(42));
    EXPECT_EQ(nullptr, forest.GetDataAt(forest.End()));
    EXPECT_EQ(nullptr, forest.GetLeavesAt(forest.End()));
}

TEST(KeyForest, FindLeafAndClone) {
    OptionForest forest;
    const SoupSlotID key(1);
    for (int o : {10, 11, 11}) {
        const CKeyOptSetting opt(key, SoupSlotID(o));
        forest.AddLeaf(key, COptData(&opt, SoupSlotID(o + 100), SoupSlotID(), SoupSlotID()));
    }
    forest.SetData(key, CKeyData(key));
    forest.SetData(SoupSlotID(2), CKeyData(SoupSlotID(2)));  // data without leaves
    const CKeyOptSetting lone{SoupSlotID(3), SoupSlotID(30)};
    forest.AddLeaf(SoupSlotID(3), COptData(&lone, SoupSlotID(), SoupSlotID(), SoupSlotID()));  // leaves without data

    COptData* found = forest.FindLeaf(key, SoupSlotID(11));
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(SoupSlotID(111), found->GetDisplayNameId());
    EXPECT_EQ(&forest.GetLeaves(key)->front(), forest.FindLeaf(key, SoupSlotID(10)));
    EXPECT_EQ(nullptr, forest.FindLeaf(key, SoupSlotID(12)));
    EXPECT_EQ(nullptr, forest.FindLeaf(SoupSlotID(9), SoupSlotID(10)));

    OptionForest* copy = forest.Clone();
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(1u, copy->GetCount());
    ASSERT_NE(nullptr, copy->GetLeaves(key));
    EXPECT_EQ(3u, copy->GetLeaves(key)->size());
    EXPECT_NE(forest.GetData(key), copy->GetData(key));
    delete copy;
}

TEST(KeyForest, ConstraintForestKeyedByPairs) {
    ConstraintForest forest;
    forest.AddLeaf(SoupSlotIDPair(1, 10), COptConstraints(2, 20));
    forest.AddLeaf(SoupSlotIDPair(1, 11), COptConstraints(3, 30, 7));
    ASSERT_NE(nullptr, forest.GetLeaves(SoupSlotIDPair(1, 11)));
    const COptConstraints& c = forest.GetLeaves(SoupSlotIDPair(1, 11))->front();
    EXPECT_EQ(SoupSlotID(3), c.first);
    EXPECT_EQ(SoupSlotID(30), c.second);
    EXPECT_EQ(7, c.GetFlags());
    EXPECT_EQ(nullptr, forest.GetLeaves(SoupSlotIDPair(1, 12)));
    EXPECT_EQ(SoupSlotIDPair(1, 10), forest.Begin()->first);
}
