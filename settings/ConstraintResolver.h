// Constraint resolver: decides whether a change set conflicts with the PPD's
// constraints or selects a disabled option, and searches other options of the
// conflicting keys that make the whole consistent, changing the change set in
// place. Built on the stack for one task; holds borrowed pointers only.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "settings/KVCache.h"
#include "settings/KeyForest.h"

class CConstraintResolver {
public:
    // Deepest search level: a conflict chain needing more levels is not resolved.
    static constexpr int kMaxDepth = 5;

    CConstraintResolver(KVCache* current, ConstraintForest* constraints, OptionForest* options);

    bool IsValid() const { return valid; }
    // Whether option of key conflicts with the current value of another key.
    bool IsConstrained(SoupSlotID key, SoupSlotID option) const;
    // 1 when changes (as modified) is free of conflicts; on success it also holds the
    // settings chosen for other keys. 0 when no resolution was found (result then
    // holds the conflicting keys and their candidates), or for an invalid resolver
    // or null arguments (changes is then untouched). With protect, keys that the
    // change set sets are never given candidates.
    int Resolve(KVCache* changes, ResultForest* result, bool protect);

    // The (key, value) pairs of a change set in key order: what makes two states equal.
    using State = std::vector<std::pair<int32_t, int32_t>>;
    static State StateOf(const KVCache* cache);
    // Bucket hash of a state: the wrapping sum of key x (value + 0x20001). It
    // collides (e.g. {10:102, 20:200} and {10:100, 20:201}), so states are only
    // bucketed by it and compared exactly.
    static uint32_t StateHash(const State& state);
    static uint32_t StateHash(const KVCache* cache) { return StateHash(StateOf(cache)); }

    // A set of states, bucketed by hash.
    class StateSet {
    public:
        bool Contains(const State& state) const;
        void Insert(const State& state);

    private:
        std::unordered_map<uint32_t, std::vector<State>> buckets;
    };

private:
    struct SearchRecord {
        int depth = 0;
        StateSet entered;
        StateSet tested;
    };

    int Step(const KVCache* changes, ResultForest* result) const;
    void AddCandidates(SoupSlotID key, const KVCache* changes, ResultForest* result) const;
    int SearchLevel(KVCache* changes, ResultForest* result, SearchRecord& record) const;

    bool valid;
    KVCache* current;
    ConstraintForest* constraints;
    OptionForest* options;
    bool protect = false;
};
