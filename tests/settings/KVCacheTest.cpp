// Settings cache: ownership by clone, onlyIfPresent, replacing from itself.
#include <gtest/gtest.h>

#include "settings/KVCache.h"
#include "settings/KeyOptSetting.h"

TEST(KVCache, SetClonesAndIgnoresInvalidKeys) {
    KVCache cache;
    CKeyOptSetting s{SoupSlotID(1), SoupSlotID(10)};
    EXPECT_EQ(1, cache.Set(&s));
    s.SetValueId(SoupSlotID(11));  // the cache keeps its own copy
    ASSERT_NE(nullptr, cache.Find(SoupSlotID(1)));
    EXPECT_EQ(SoupSlotID(10), cache.Find(SoupSlotID(1))->GetValueId());
    EXPECT_NE(static_cast<CKeySetting*>(&s), cache.Find(SoupSlotID(1)));

    const CKeyOptSetting noKey(SoupSlotID(-1), SoupSlotID(3));
    EXPECT_EQ(0, cache.Set(&noKey));
    EXPECT_EQ(0, cache.Set(nullptr));
    EXPECT_EQ(1u, cache.GetCount());
    EXPECT_EQ(nullptr, cache.Find(SoupSlotID(2)));
    EXPECT_EQ(nullptr, cache.FindSame(nullptr));
    EXPECT_EQ(nullptr, cache.GetAt(cache.End()));
}

TEST(KVCache, OnlyIfPresent) {
    KVCache cache;
    const CKeyOptSetting a{SoupSlotID(1), SoupSlotID(10)};
    EXPECT_EQ(0, cache.Set(&a, true));
    EXPECT_EQ(0u, cache.GetCount());
    cache.Set(&a);
    const CKeyOptSetting b{SoupSlotID(1), SoupSlotID(20)};
    EXPECT_EQ(1, cache.Set(&b, true));
    EXPECT_EQ(SoupSlotID(20), cache.Find(SoupSlotID(1))->GetValueId());
}

TEST(KVCache, SetFromItsOwnEntryAndSelfAssignment) {
    KVCache cache;
    const CKeyOptSetting a{SoupSlotID(1), SoupSlotID(10)};
    cache.Set(&a);
    EXPECT_EQ(1, cache.Set(cache.Find(SoupSlotID(1))));
    ASSERT_NE(nullptr, cache.Find(SoupSlotID(1)));
    EXPECT_EQ(SoupSlotID(10), cache.Find(SoupSlotID(1))->GetValueId());
    KVCache& alias = cache;
    cache = alias;
    ASSERT_NE(nullptr, cache.Find(SoupSlotID(1)));
    EXPECT_EQ(SoupSlotID(10), cache.Find(SoupSlotID(1))->GetValueId());
}

TEST(KVCache, CopiesAreDeepAndSetAllRespectsPresence) {
    KVCache a;
    for (int k : {1, 2, 3}) {
        const CKeyOptSetting s{SoupSlotID(k), SoupSlotID(k * 10)};
        a.Set(&s);
    }
    KVCache b(a);
    EXPECT_NE(a.Find(SoupSlotID(1)), b.Find(SoupSlotID(1)));
    EXPECT_EQ(1, a.HasSameKeys(&b));
    b.Find(SoupSlotID(2))->SetValueId(SoupSlotID(99));
    EXPECT_EQ(SoupSlotID(20), a.Find(SoupSlotID(2))->GetValueId());
    EXPECT_EQ(1, a.HasSameKeys(&b));  // values are not compared

    KVCache partial;
    const CKeyOptSetting p{SoupSlotID(2), SoupSlotID(0)};
    partial.Set(&p);
    partial.SetAll(&a, true);
    EXPECT_EQ(1u, partial.GetCount());
    EXPECT_EQ(SoupSlotID(20), partial.Find(SoupSlotID(2))->GetValueId());
    EXPECT_EQ(0, partial.HasSameKeys(&a));
    partial.SetAllValid(&a);
    EXPECT_EQ(3u, partial.GetCount());
    EXPECT_EQ(0, partial.HasSameKeys(nullptr));

    KVCache* clone = a.Clone();
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(1, clone->HasSameKeys(&a));
    clone->Remove(clone->Find(SoupSlotID(3)));
    EXPECT_EQ(2u, clone->GetCount());
    clone->Remove(nullptr);
    delete clone;
    a.Clear();
    EXPECT_EQ(0u, a.GetCount());
}
