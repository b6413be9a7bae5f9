// Property-name table: rows, range ends, resolution in a soup, and the slot cache
// being per soup.
#include <gtest/gtest.h>

#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "settings/PropertyNames.h"
#include "settings/StrSoup.h"

TEST(PropertyTable, SpotRows) {
    struct Row {
        int id;
        const wchar_t* key;
        const wchar_t* name;
    };
    const Row rows[] = {
        {5000, L"*QV_TRUE_TYPE_SETTING", L"QV_PROP_TRUE_TYPE_SETTING"},
        {5004, L"*QVScale", L"QV_LOCAL_PROP_SCALE"},
        {5042, L"TwoUp", L"QV_RIP_SADDLELEFT"},
        {5058, L"No Units", L"QV_PROP_NOUNITS"},
        {5066, L"*QV_NUMCOPIES", L"QV_NUMCOPIES"},
        {5095, L"*PageSize", L"QV_PROP_PAGESIZE"},
        {5130, L"**CustomPageSize", L"QV_PROP_VYRCUSTOMPAGESIZE"},
        {5132, L"*num copies", L"QV_PROP_TQNUMCOPIES"},
        {5163, L"*WS_PRINT_ENABLE", L"QV_PROP_WSD_PRINT_ENABLE"},
    };
    for (const Row& r : rows) {
        const PropertyNameEntry* e = FindPropertyEntry(r.id);
        ASSERT_NE(nullptr, e) << r.id;
        EXPECT_EQ(r.id, e->propertyId);
        EXPECT_STREQ(r.key, e->key) << r.id;
        EXPECT_STREQ(r.name, e->propertyName) << r.id;
    }
    EXPECT_EQ(5004, QV_LOCAL_PROP_SCALE);
    EXPECT_EQ(5066, QV_NUMCOPIES);
    EXPECT_EQ(5163, QV_PROP_WSD_PRINT_ENABLE);
}

TEST(PropertyTable, EveryRowCarriesItsIdAndKeysAreDistinct) {
    std::set<std::wstring> keys;
    int otherNames = 0;
    for (int r = 0; r < kPropertyCount; ++r) {
        EXPECT_EQ(kFirstPropertyId + r, PropertyNameTable[r].propertyId) << "row " << r;
        ASSERT_NE(nullptr, PropertyNameTable[r].key);
        EXPECT_TRUE(keys.insert(PropertyNameTable[r].key).second) << "row " << r;
        if (std::wcsncmp(PropertyNameTable[r].propertyName, L"QV_PROP_", 8) != 0) ++otherNames;
    }
    EXPECT_EQ(18, otherNames);
    EXPECT_EQ(nullptr, FindPropertyEntry(4999));
    EXPECT_EQ(nullptr, FindPropertyEntry(5164));
    EXPECT_EQ(nullptr, FindPropertyEntry(INT32_MIN));
}

TEST(PropertySlot, IdsOutsideTheTableGiveInvalidAndLeaveTheSoup) {
    CStrSoup soup;
    for (int id : {4999, 5164, -1, 0, INT32_MAX}) {
        EXPECT_TRUE(soup.GetPropertySlot(id, true).IsInvalid()) << id;
    }
    EXPECT_EQ(0u, soup.GetCount());
    EXPECT_TRUE(SoupPropertySlot(nullptr, 5004).IsInvalid());
}

TEST(PropertySlot, ResolveAddsOnceAndWithoutResolveOnlyCachedSlots) {
    CStrSoup soup;
    soup.FindOrAdd(L"a");
    EXPECT_TRUE(soup.GetPropertySlot(QV_LOCAL_PROP_SCALE, false).IsInvalid());
    EXPECT_EQ(1u, soup.GetCount());
    const SoupSlotID id = soup.GetPropertySlot(QV_LOCAL_PROP_SCALE, true);
    EXPECT_EQ(SoupSlotID(1), id);
    EXPECT_STREQ(L"*QVScale", soup.GetString(id));
    EXPECT_EQ(id, soup.GetPropertySlot(QV_LOCAL_PROP_SCALE, true));
    EXPECT_EQ(id, soup.GetPropertySlot(QV_LOCAL_PROP_SCALE, false));
    EXPECT_EQ(2u, soup.GetCount());
}

TEST(PropertySlot, ExistingKeywordIsFoundNotAdded) {
    CStrSoup soup;
    soup.FindOrAdd(L"x");
    const SoupSlotID page = soup.FindOrAdd(L"*PageSize");
    EXPECT_EQ(page, soup.GetPropertySlot(QV_PROP_PAGESIZE, true));
    EXPECT_EQ(2u, soup.GetCount());
}

TEST(PropertySlot, SimilarKeysResolveToDifferentSlots) {
    CStrSoup soup;
    const SoupSlotID value = soup.GetPropertySlot(QV_PROP_LDAP_SERVER, true);
    const SoupSlotID keyword = soup.GetPropertySlot(QV_PROP_LDAPSERVER, true);
    EXPECT_NE(value, keyword);
    EXPECT_STREQ(L"LDAP_server", soup.GetString(value));
    EXPECT_STREQ(L"*LDAP_server", soup.GetString(keyword));
}

// Two printers' soups in one process: each resolves a row to its own slot.
TEST(PropertySlot, CacheIsPerSoup) {
    CStrSoup first;
    CStrSoup second;
    for (const wchar_t* s : {L"a", L"b", L"c"}) second.FindOrAdd(s);
    const SoupSlotID inFirst = first.GetPropertySlot(QV_LOCAL_PROP_SCALE, true);
    EXPECT_EQ(SoupSlotID(0), inFirst);
    EXPECT_TRUE(second.GetPropertySlot(QV_LOCAL_PROP_SCALE, false).IsInvalid());
    const SoupSlotID inSecond = second.GetPropertySlot(QV_LOCAL_PROP_SCALE, true);
    EXPECT_EQ(SoupSlotID(3), inSecond);
    EXPECT_STREQ(L"*QVScale", second.GetString(inSecond));
    EXPECT_EQ(inFirst, first.GetPropertySlot(QV_LOCAL_PROP_SCALE, true));
}

TEST(PropertySlot, CopiesKeepTheCacheAndClearForgetsIt) {
    CStrSoup a;
    a.FindOrAdd(L"x");
    const SoupSlotID scale = a.GetPropertySlot(QV_LOCAL_PROP_SCALE, true);
    CStrSoup b;
    b.CopyFrom(&a);
    EXPECT_EQ(scale, b.GetPropertySlot(QV_LOCAL_PROP_SCALE, false));

    a.Clear();
    EXPECT_TRUE(a.GetPropertySlot(QV_LOCAL_PROP_SCALE, false).IsInvalid());
    a.FindOrAdd(L"other");
    a.FindOrAdd(L"more");
    const SoupSlotID again = a.GetPropertySlot(QV_LOCAL_PROP_SCALE, true);
    EXPECT_STREQ(L"*QVScale", a.GetString(again));
}

TEST(PropertySlot, DeserializeStartsWithAnEmptyCache) {
    CStrSoup a;
    a.FindOrAdd(L"x");
    a.GetPropertySlot(QV_LOCAL_PROP_SCALE, true);
    CStrSoup b;
    b.GetPropertySlot(QV_PROP_PAGESIZE, true);
    std::vector<uint8_t> blob(a.Serialize(nullptr, 0));
    a.Serialize(blob.data(), static_cast<uint32_t>(blob.size()));
    ASSERT_EQ(1, b.Deserialize(blob.data(), static_cast<uint32_t>(blob.size())));
    EXPECT_TRUE(b.GetPropertySlot(QV_PROP_PAGESIZE, false).IsInvalid());
    EXPECT_EQ(SoupSlotID(1), b.GetPropertySlot(QV_LOCAL_PROP_SCALE, true));  // found, not added
    EXPECT_EQ(2u, b.GetCount());
}

TEST(PropertySlot, AllRowsResolveToTheirKeys) {
    CStrSoup soup;
    for (int id = 5000; id <= 5163; ++id) {
        const SoupSlotID slot = soup.GetPropertySlot(id, true);
        ASSERT_TRUE(slot.IsValid()) << id;
        EXPECT_STREQ(FindPropertyEntry(id)->key, soup.GetString(slot)) << id;
    }
    EXPECT_EQ(164u, soup.GetCount());
}
