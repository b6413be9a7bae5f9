// Constraint resolution: one step finds the conflicts of a change set; a search
// level tries combinations of the candidates, first with one step each, then one
// level deeper.
#include "settings/ConstraintResolver.h"

#include <new>

CConstraintResolver::CConstraintResolver(KVCache* current, ConstraintForest* constraints, OptionForest* options)
    : valid(current && constraints && options), current(current), constraints(constraints), options(options) {}

CConstraintResolver::State CConstraintResolver::StateOf(const KVCache* cache) {
    State state;
    if (!cache) return state;
    state.reserve(cache->GetCount());
    for (auto it = cache->Begin(); it != cache->End(); ++it) {
        const CKeySetting* s = cache->GetAt(it);
        if (s && s->GetKeyId().IsValid()) state.emplace_back(s->GetKeyId().GetIndex(), s->GetValueId().GetIndex());
    }
    return state;
}

uint32_t CConstraintResolver::StateHash(const State& state) {
    uint32_t hash = 0;
    for (const auto& kv : state)
        hash += static_cast<uint32_t>(kv.first) * (static_cast<uint32_t>(kv.second) + 0x20001u);
    return hash;
}

bool CConstraintResolver::StateSet::Contains(const State& state) const {
    const auto it = buckets.find(StateHash(state));
    if (it == buckets.end()) return false;
    for (const State& s : it->second)
        if (s == state) return true;
    return false;
}

void CConstraintResolver::StateSet::Insert(const State& state) {
    if (!Contains(state)) buckets[StateHash(state)].push_back(state);
}

bool CConstraintResolver::IsConstrained(SoupSlotID key, SoupSlotID option) const {
    if (!valid) return false;
    const auto* conflicts = constraints->GetLeaves(SoupSlotIDPair(key, option));
    if (!conflicts) return false;
    for (const COptConstraints& c : *conflicts) {
        if (c.first.IsInvalid()) continue;
        const CKeySetting* s = current->Find(c.first);
        if (s && s->GetIds() == static_cast<const SoupSlotIDPair&>(c)) return true;
    }
    return false;
}

void CConstraintResolver::AddCandidates(SoupSlotID key, const KVCache* changes, ResultForest* result) const {
    if (!valid || result->GetData(key)) return;  // each key once per step
    result->SetData(key, key);                      // the key conflicts, candidates or not
    const auto* list = options->GetLeaves(key);
    const CKeyData* data = options->GetData(key);
    if (!list || !data || data->IsChanged()) return;  // the user's own changes stay
    if (protect && changes->Find(key)) return;
    for (const COptData& option : *list) {
        if (option.IsDisabled()) continue;
        const SoupSlotID id = option.GetValueId();
        if (id.IsValid()) result->AddLeaf(key, id);
    }
}

int CConstraintResolver::Step(const KVCache* changes, ResultForest* result) const {
    // The settings in effect are the change set over the current settings; they
    // are looked up in that order instead of being copied into a work cache.
    auto effective = [&](SoupSlotID key) -> const CKeySetting* {
        const CKeySetting* s = changes->Find(key);
        return s ? s : current->Find(key);
    };

    result->Clear();
    for (auto it = changes->Begin(); it != changes->End(); ++it) {
        const CKeySetting* s = changes->GetAt(it);
        if (!s) continue;
        const SoupSlotID key = s->GetKeyId();
        const SoupSlotID value = s->GetValueId();
        const auto* list = options->GetLeaves(key);
        if (!list) continue;
        bool disabled = false;
        for (const COptData& option : *list) {
            if (option.IsOption(value) && option.IsDisabled()) {
                disabled = true;
                break;
            }
        }
        if (disabled) {
            AddCandidates(key, changes, result);
            continue;
        }
        const auto* conflicts = constraints->GetLeaves(SoupSlotIDPair(key, value));
        if (!conflicts) continue;
        for (const COptConstraints& c : *conflicts) {
            if (c.first.IsInvalid()) continue;
            const CKeySetting* w = effective(c.first);
            if (w && w->GetIds() == static_cast<const SoupSlotIDPair&>(c)) AddCandidates(c.first, changes, result);
        }
    }
    return result->IsEmpty();
}

namespace {
// One conflicting key's place in its candidate list during the passes.
struct Choice {
    SoupSlotID key;
    std::list<SoupSlotID> candidates;
    std::list<SoupSlotID>::const_iterator position;
};
}  // namespace

int CConstraintResolver::SearchLevel(KVCache* changes, ResultForest* result, SearchRecord& record) const {
    const State entryState = StateOf(changes);
    if (record.entered.Contains(entryState)) return 0;
    record.entered.Insert(entryState);

    result->Clear();
    int ok = 0;
    ++record.depth;
    if (changes && record.depth <= kMaxDepth) {
        const KVCache saved(*changes);
        ok = Step(changes, result);
        record.tested.Insert(StateOf(changes));

        std::vector<Choice> choices;
        for (auto it = result->Begin(); it != result->End(); ++it) {
            const auto* leaves = result->GetLeavesAt(it);
            if (!leaves || leaves->empty()) continue;
            choices.push_back(Choice{it->first, *leaves, {}});
        }
        for (Choice& c : choices) c.position = c.candidates.begin();

        // Each pass moves every conflicting key to its next candidate; a phase ends
        // when all of them wrap in the same pass.
        for (int phase = 0; !ok && phase < 2;) {
            ResultForest scratch;
            bool allWrapped = true;
            *changes = saved;
            for (Choice& c : choices) {
                const CKeyOldSetting candidate(c.key, *c.position);
                changes->Set(&candidate);
                if (++c.position == c.candidates.end())
                    c.position = c.candidates.begin();
                else
                    allWrapped = false;
            }
            if (phase == 0) {
                const State state = StateOf(changes);
                if (!record.tested.Contains(state)) {
                    ok = Step(changes, &scratch);
                    record.tested.Insert(state);
                }
            } else if (!changes->HasSameKeys(&saved)) {
                ok = SearchLevel(changes, &scratch, record);
            }
            if (allWrapped) ++phase;
        }
    }
    --record.depth;
    return ok;
}

int CConstraintResolver::Resolve(KVCache* changes, ResultForest* result, bool protectChanges) {
    if (!valid || !changes || !result) return 0;
    protect = protectChanges;
    SearchRecord record;
    try {
        return SearchLevel(changes, result, record);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
