// Constraint resolver: conflicts, candidates, the order in which combinations are
// tried, protection of the user's own changes, exact state comparison and the
// depth limit.
#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <set>

#include "settings/ConstraintResolver.h"
#include "settings/KeyOptSetting.h"

namespace {

// A printer's keys, options, constraints and current settings, by plain numbers
// (the resolver never reads texts, so no soup is needed).
struct World {
    KVCache current;
    ConstraintForest constraints;
    OptionForest options;

    void Key(int key, std::initializer_list<int> opts, std::set<int> disabled = {}, bool changed = false) {
        for (int o : opts) {
            const CKeyOptSetting s{SoupSlotID(key), SoupSlotID(o)};
            options.AddLeaf(SoupSlotID(key), COptData(&s, SoupSlotID(), SoupSlotID(), SoupSlotID(), disabled.count(o)));
        }
        options.SetData(SoupSlotID(key), CKeyData(SoupSlotID(key), SoupSlotID(), SoupSlotID(), changed ? 1 : 0));
    }
    void Current(int key, int value) {
        const CKeyOptSetting s{SoupSlotID(key), SoupSlotID(value)};
        current.Set(&s);
    }
    // Option (k1, o1) may not be combined with (k2, o2).
    void Conflict(int k1, int o1, int k2, int o2) {
        constraints.AddLeaf(SoupSlotIDPair(k1, o1), COptConstraints(k2, o2));
    }
    CConstraintResolver Resolver() { return CConstraintResolver(&current, &constraints, &options); }
};

KVCache Changes(std::initializer_list<std::pair<int, int>> settings) {
    KVCache cache;
    for (const auto& kv : settings) {
        const CKeyOptSetting s{SoupSlotID(kv.first), SoupSlotID(kv.second)};
        cache.Set(&s);
    }
    return cache;
}

std::map<int, int> Values(const KVCache& cache) {
    std::map<int, int> out;
    for (auto it = cache.Begin(); it != cache.End(); ++it)
        out[it->first.GetIndex()] = cache.GetAt(it)->GetValueId().GetIndex();
    return out;
}

}  // namespace

TEST(Resolver, NoConflictLeavesTheChangeSetAlone) {
    World w;
    w.Key(1, {10, 11});
    w.Key(2, {20, 21});
    w.Current(1, 10);
    w.Current(2, 20);
    w.Conflict(1, 10, 2, 21);
    KVCache changes = Changes({{1, 11}});
    ResultForest result;
    result.SetData(SoupSlotID(9), SoupSlotID(9));  // stale content is cleared
    EXPECT_EQ(1, w.Resolver().Resolve(&changes, &result, false));
    EXPECT_EQ((std::map<int, int>{{1, 11}}), Values(changes));
    EXPECT_EQ(1, result.IsEmpty());
    EXPECT_NE(nullptr, dynamic_cast<CKeyOptSetting*>(changes.Find(SoupSlotID(1))));
}

TEST(Resolver, DisabledOptionIsReplacedUnlessProtected) {
    for (bool protect : {false, true}) {
        World w;
        w.Key(1, {10, 11, 12, 13}, {10, 11});
        w.Current(1, 13);
        KVCache changes = Changes({{1, 10}});
        ResultForest result;
        const int ok = w.Resolver().Resolve(&changes, &result, protect);
        if (!protect) {
            EXPECT_EQ(1, ok);
            EXPECT_EQ((std::map<int, int>{{1, 12}}), Values(changes));
        } else {
            EXPECT_EQ(0, ok);
            EXPECT_NE(nullptr, result.GetData(SoupSlotID(1)));
            EXPECT_EQ(nullptr, result.GetLeaves(SoupSlotID(1)));
        }
    }
}

TEST(Resolver, KeysTheUserChangedAreNeverChanged) {
    World w;
    w.Key(1, {10, 11});
    w.Key(2, {20, 21}, {}, /*changed*/ true);
    w.Current(1, 10);
    w.Current(2, 20);
    w.Conflict(1, 11, 2, 20);
    KVCache changes = Changes({{1, 11}});
    ResultForest result;
    EXPECT_EQ(0, w.Resolver().Resolve(&changes, &result, false));
    ASSERT_NE(nullptr, result.GetData(SoupSlotID(2)));
    EXPECT_EQ(SoupSlotID(2), *result.GetData(SoupSlotID(2)));
    EXPECT_EQ(nullptr, result.GetLeaves(SoupSlotID(2)));
}

TEST(Resolver, ProtectKeepsKeysTheChangeSetSets) {
    for (bool protect : {false, true}) {
        World w;
        w.Key(1, {10, 11});
        w.Key(2, {20, 21});
        w.Current(1, 10);
        w.Current(2, 21);
        w.Conflict(1, 11, 2, 20);
        KVCache changes = Changes({{1, 11}, {2, 20}});
        ResultForest result;
        const int ok = w.Resolver().Resolve(&changes, &result, protect);
        EXPECT_EQ(protect ? 0 : 1, ok) << "protect " << protect;
        if (!protect) {
            EXPECT_EQ((std::map<int, int>{{1, 11}, {2, 21}}), Values(changes));
        }
    }
}

// Two conflicting keys with two and three candidates: each pass moves both keys
// to their next candidate, so the combinations come in the order
// (a0,b0) (a1,b1) (a0,b2) (a1,b0) (a0,b1) (a1,b2). Only the 4th and 5th are free
// of conflicts; the 4th must win.
TEST(Resolver, PassesAdvanceAllKeysTogether) {
    World w;
    w.Key(10, {100, 101, 102}, {100});
    w.Key(20, {200, 201, 202, 203}, {200});
    w.Key(30, {300});
    w.Current(10, 100);
    w.Current(20, 200);
    w.Current(30, 300);
    w.Conflict(30, 300, 10, 100);
    w.Conflict(30, 300, 20, 200);
    for (auto bad : {std::pair{101, 201}, std::pair{102, 202}, std::pair{101, 203}, std::pair{102, 203}})
        w.Conflict(10, bad.first, 20, bad.second);
    KVCache changes = Changes({{30, 300}});
    ResultForest result;
    ASSERT_EQ(1, w.Resolver().Resolve(&changes, &result, false));
    EXPECT_EQ((std::map<int, int>{{10, 102}, {20, 201}, {30, 300}}), Values(changes));
    // The conflicts of the requested set, with candidates in option order.
    ASSERT_NE(nullptr, result.GetLeaves(SoupSlotID(20)));
    EXPECT_EQ((std::list<SoupSlotID>{201, 202, 203}), *result.GetLeaves(SoupSlotID(20)));
    EXPECT_EQ((std::list<SoupSlotID>{101, 102}), *result.GetLeaves(SoupSlotID(10)));
}

// With two candidates each, one phase is two passes: (a0,b0) and (a1,b1); with the
// first one in conflict, the second wins (not (a0,b1)).
TEST(Resolver, TwoByTwoTriesTheDiagonalFirst) {
    World w;
    w.Key(10, {100, 101, 102}, {100});
    w.Key(20, {200, 201, 202}, {200});
    w.Key(30, {300});
    w.Current(10, 100);
    w.Current(20, 200);
    w.Conflict(30, 300, 10, 100);
    w.Conflict(30, 300, 20, 200);
    w.Conflict(10, 101, 20, 201);
    KVCache changes = Changes({{30, 300}});
    ResultForest result;
    ASSERT_EQ(1, w.Resolver().Resolve(&changes, &result, false));
    EXPECT_EQ((std::map<int, int>{{10, 102}, {20, 202}, {30, 300}}), Values(changes));
}

// The two combinations of the passes have equal state hashes; a resolver that
// took equal hashes for equal states would skip the second one and fail.
TEST(Resolver, StatesWithEqualHashesAreStillTried) {
    const KVCache first = Changes({{10, 102}, {20, 200}});
    const KVCache second = Changes({{10, 100}, {20, 201}});
    EXPECT_EQ(CConstraintResolver::StateHash(&first), CConstraintResolver::StateHash(&second));
    World w;
    w.Key(10, {102, 100, 101}, {101});
    w.Key(20, {200, 201, 202}, {202});
    w.Key(30, {300});
    w.Key(50, {500, 501}, {}, /*changed*/ true);
    w.Current(10, 101);
    w.Current(20, 202);
    w.Current(50, 500);
    w.Conflict(30, 300, 10, 101);
    w.Conflict(30, 300, 20, 202);
    w.Conflict(10, 102, 50, 500);  // the first combination cannot be fixed
    KVCache changes = Changes({{30, 300}});
    ResultForest result;
    ASSERT_EQ(1, w.Resolver().Resolve(&changes, &result, false));
    EXPECT_EQ((std::map<int, int>{{10, 100}, {20, 201}, {30, 300}}), Values(changes));
}

TEST(Resolver, StateSetComparesExactly) {
    CConstraintResolver::StateSet set;
    const auto a = CConstraintResolver::StateOf(nullptr);
    EXPECT_TRUE(a.empty());
    KVCache x = Changes({{10, 102}, {20, 200}});
    KVCache y = Changes({{10, 100}, {20, 201}});
    set.Insert(CConstraintResolver::StateOf(&x));
    EXPECT_TRUE(set.Contains(CConstraintResolver::StateOf(&x)));
    EXPECT_FALSE(set.Contains(CConstraintResolver::StateOf(&y)));
}

// Each level of the chain fixes one key and breaks the next: key i's fix conflicts
// with key i+1's current value, and only the last fix is clean.
TEST(Resolver, ChainsDeeperThanFiveLevelsAreNotResolved) {
    for (int n : {1, 5, 6}) {
        World w;
        const int k0 = 100;
        w.Key(k0, {1000});
        for (int i = 1; i <= n; ++i) {
            w.Key(k0 + i, {2000 + i, 3000 + i}, {2000 + i});
            w.Current(k0 + i, 2000 + i);
        }
        w.Conflict(k0, 1000, k0 + 1, 2001);
        for (int i = 1; i < n; ++i) w.Conflict(k0 + i, 3000 + i, k0 + i + 1, 2000 + i + 1);
        KVCache changes = Changes({{k0, 1000}});
        ResultForest result;
        const int ok = w.Resolver().Resolve(&changes, &result, false);
        EXPECT_EQ(n <= CConstraintResolver::kMaxDepth ? 1 : 0, ok) << "chain of " << n;
        if (ok) {
            std::map<int, int> expected{{k0, 1000}};
            for (int i = 1; i <= n; ++i) expected[k0 + i] = 3000 + i;
            EXPECT_EQ(expected, Values(changes)) << "chain of " << n;
        }
    }
}

TEST(Resolver, InvalidResolverAndNullArguments) {
    World w;
    w.Key(1, {10, 11}, {10});
    KVCache changes = Changes({{1, 10}});
    ResultForest result;
    CConstraintResolver invalid(&w.current, nullptr, &w.options);
    EXPECT_FALSE(invalid.IsValid());
    EXPECT_EQ(0, invalid.Resolve(&changes, &result, false));
    EXPECT_EQ((std::map<int, int>{{1, 10}}), Values(changes));
    EXPECT_FALSE(invalid.IsConstrained(SoupSlotID(1), SoupSlotID(10)));
    CConstraintResolver valid = w.Resolver();
    EXPECT_EQ(0, valid.Resolve(nullptr, &result, false));
    EXPECT_EQ(0, valid.Resolve(&changes, nullptr, false));
    EXPECT_EQ((std::map<int, int>{{1, 10}}), Values(changes));
}

TEST(Resolver, IsConstrained) {
    World w;
    w.Key(1, {10, 11});
    w.Key(2, {20, 21});
    w.Current(2, 21);
    w.Conflict(1, 10, 2, 20);
    w.Conflict(1, 11, 2, 21);
    w.Conflict(1, 11, -1, 21);
    const CConstraintResolver r = w.Resolver();
    EXPECT_FALSE(r.IsConstrained(SoupSlotID(1), SoupSlotID(10)));
    EXPECT_TRUE(r.IsConstrained(SoupSlotID(1), SoupSlotID(11)));
    EXPECT_FALSE(r.IsConstrained(SoupSlotID(2), SoupSlotID(20)));  // nothing listed
}
