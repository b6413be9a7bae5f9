// Constraint sections of the compiled settings: the PPD's *UIConstraints and
// *NonUIConstraints lines compiled into a normalised (key, option) -> conflicting
// options forest, written as sections 11 and 12, and read back.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory_resource>
#include <new>
#include <unordered_map>
#include <vector>

#include "ppd/PPDArena.h"
#include "ppd/PPDSettings.h"
#include "settings/PropertyNames.h"
#include "storage/CfgSettings.h"

namespace {

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
int16_t GetI16(const uint8_t* p) { return static_cast<int16_t>(GetU16(p)); }
void PutU16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// String callback of the export: the text's slot in the keyword soup, whose lock the caller
// holds (CStrSoup::Hold); -1 for an empty text, -2 (which fails the export) when it cannot be stored.
int InternHeld(void* user, const wchar_t* text, int) {
    if (!text || !*text) return -1;
    const SoupSlotID slot = static_cast<CStrSoup*>(user)->FindOrAddHeld(text);
    return slot.IsValid() ? slot.GetIndex() : -2;
}

// A pair of slots as one number in the pairs' own order (first slot, then second; signed
// indices), so the sorts below compare rows without branches.
inline uint64_t Packed(const SoupSlotIDPair& p) {
    return (uint64_t(uint32_t(p.first.GetIndex()) ^ 0x80000000u) << 32) | (uint32_t(p.second.GetIndex()) ^ 0x80000000u);
}

// Blocks of the working rows: one of a few dozen KB or more from the heap is a fresh
// mapping each time, whose pages cost more to touch than the work done on them. Blocks up
// to a chunk are the parser's cached chunks; larger ones (the rows of a PPD whose lines
// name whole keys) are kept, a few and up to a bound, for the next compile.
class WarmBlocks final : public std::pmr::memory_resource {
public:
    ~WarmBlocks() override {
        for (Kept& k : m_kept) ::operator delete(k.block);
    }

private:
    static constexpr size_t kMin = 16 * 1024;
    static constexpr size_t kChunk = PPDParser::CPPDArena::kChunkSize;
    static constexpr size_t kKeptMax = 1024 * 1024;  // a larger block goes back to the heap
    static constexpr size_t kHeader = alignof(std::max_align_t);
    struct Kept {
        char* block = nullptr;  // its size at the start, the caller's bytes after kHeader
        size_t size = 0;
    };
    static bool Plain(size_t bytes, size_t alignment) {
        return bytes < kMin || bytes > kKeptMax || alignment > alignof(std::max_align_t);
    }
    void* do_allocate(size_t bytes, size_t alignment) override {
        if (Plain(bytes, alignment)) return std::pmr::new_delete_resource()->allocate(bytes, alignment);
        if (bytes <= kChunk) {
            char* chunk = PPDParser::CPPDArena::TakeSpareChunk();
            if (!chunk) throw std::bad_alloc();
            return chunk;
        }
        AcquireSRWLockExclusive(&m_lock);
        Kept* best = nullptr;
        for (Kept& k : m_kept)
            if (k.block && k.size >= bytes && (!best || k.size < best->size)) best = &k;
        char* block = best ? best->block : nullptr;
        if (best) *best = Kept{};
        ReleaseSRWLockExclusive(&m_lock);
        if (!block) {
            // Rounded up, so a block serves the next compile's slightly larger rows too.
            const size_t size = (bytes + kChunk / 4 - 1) / (kChunk / 4) * (kChunk / 4);
            block = static_cast<char*>(::operator new(kHeader + size));
            std::memcpy(block, &size, sizeof size);
        }
        return block + kHeader;
    }
    void do_deallocate(void* p, size_t bytes, size_t alignment) override {
        if (Plain(bytes, alignment)) return std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
        if (bytes <= kChunk) return PPDParser::CPPDArena::GiveSpareChunk(static_cast<char*>(p));
        char* block = static_cast<char*>(p) - kHeader;
        size_t size = 0;
        std::memcpy(&size, block, sizeof size);
        AcquireSRWLockExclusive(&m_lock);
        for (Kept& k : m_kept) {
            if (!k.block) {
                k = Kept{block, size};
                block = nullptr;
                break;
            }
        }
        ReleaseSRWLockExclusive(&m_lock);
        ::operator delete(block);
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    SRWLOCK m_lock = SRWLOCK_INIT;
    Kept m_kept[4];
};

// At namespace scope, not a function-local static: a compiler-made guard in a plug-in that
// is loaded and unloaded hundreds of times in one process ends in an abort.
WarmBlocks g_warmBlocks;

std::pmr::memory_resource* Warm() { return &g_warmBlocks; }

// A working forest, flat: (entry, pair) rows in the order they were added. Sealed, the
// rows run in entry order and, within an entry, in the order their pairs first came
// (a pair is held once). Sorting one vector replaces a map node and a set node per pair.
class Work {
public:
    struct Row {
        SoupSlotIDPair entry;
        SoupSlotIDPair pair;
        uint32_t seq;
    };

    void Add(const SoupSlotIDPair& entry, const SoupSlotIDPair& pair) {
        rows.push_back(Row{entry, pair, static_cast<uint32_t>(rows.size())});
    }
    // Puts the rows in entry order, each pair once (its first time).
    void Seal() {
        if (SealByRadix()) return;
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            const uint64_t ea = Packed(a.entry), eb = Packed(b.entry);
            if (ea != eb) return ea < eb;
            const uint64_t pa = Packed(a.pair), pb = Packed(b.pair);
            return pa != pb ? pa < pb : a.seq < b.seq;
        });
        rows.erase(std::unique(rows.begin(), rows.end(),
                               [](const Row& a, const Row& b) { return a.entry == b.entry && a.pair == b.pair; }),
                   rows.end());
        // Entries are in order already: only each entry's rows go back to the order they came.
        auto bySeq = [](const Row& a, const Row& b) { return a.seq < b.seq; };
        for (auto first = rows.begin(); first != rows.end();) {
            auto last = first + 1;
            while (last != rows.end() && last->entry == first->entry) ++last;
            if (last - first > 1) std::sort(first, last, bySeq);
            first = last;
        }
    }
    // Rows without repeated pairs: only the entry order is made.
    void SortByEntry() {
        if (SortByEntryRadix()) return;
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            const uint64_t ea = Packed(a.entry), eb = Packed(b.entry);
            return ea != eb ? ea < eb : a.seq < b.seq;
        });
    }
    // Rows added entry by entry in entry order: drops the repeated pairs of the entry whose
    // rows start at first.
    void DropRepeatsFrom(size_t first) {
        if (rows.size() - first < 2) return;
        scratch.assign(rows.begin() + static_cast<std::ptrdiff_t>(first), rows.end());
        std::sort(scratch.begin(), scratch.end(),
                  [](const Row& a, const Row& b) {
                      const uint64_t pa = Packed(a.pair), pb = Packed(b.pair);
                      return pa != pb ? pa < pb : a.seq < b.seq;
                  });
        bool repeats = false;
        for (size_t i = 1; i < scratch.size() && !repeats; ++i) repeats = scratch[i].pair == scratch[i - 1].pair;
        if (!repeats) return;
        scratch.erase(std::unique(scratch.begin(), scratch.end(),
                                  [](const Row& a, const Row& b) { return a.pair == b.pair; }),
                      scratch.end());
        std::sort(scratch.begin(), scratch.end(), [](const Row& a, const Row& b) { return a.seq < b.seq; });
        rows.resize(first);
        rows.insert(rows.end(), scratch.begin(), scratch.end());
    }
    size_t End() const { return rows.size(); }
    // Calls f(entry, first, last) for each entry's rows [first, last) of a sealed forest.
    template <class F>
    void ForEachEntry(F f) const {
        for (size_t i = 0; i < rows.size();) {
            size_t j = i + 1;
            while (j < rows.size() && rows[j].entry == rows[i].entry) ++j;
            f(rows[i].entry, rows.data() + i, rows.data() + j);
            i = j;
        }
    }
    void Clear() { rows.clear(); }
    void Reserve(size_t n) { rows.reserve(n); }
    size_t Size() const { return rows.size(); }

private:
    // A row's place in a sort: its key and where it stands.
    struct SortKey {
        uint64_t key;
        uint32_t index;
    };
    // Both slots of a pair as 16 bits each, in Packed's order; false for a slot outside
    // [-1, 65534] (then the comparison sorts serve).
    static bool Key16(const SoupSlotIDPair& p, uint32_t& key) {
        const int64_t a = int64_t(p.first.GetIndex()) + 1, b = int64_t(p.second.GetIndex()) + 1;
        if (a < 0 || a > 0xFFFF || b < 0 || b > 0xFFFF) return false;
        key = uint32_t(a) << 16 | uint32_t(b);
        return true;
    }
    // Stable sort of keys by their low bits (a multiple of 8): a byte a pass, and no pass
    // where every key has the same byte. Slot ids are small dense numbers, so this beats
    // comparing rows several times over on the thousands of lines of a large PPD.
    void RadixSort(std::pmr::vector<SortKey>& keys, int bits) {
        const size_t n = keys.size();
        if (n == 0) return;
        const int passes = bits / 8;
        std::vector<uint32_t> counts(static_cast<size_t>(passes) * 256, 0);
        for (const SortKey& k : keys)
            for (int pass = 0; pass < passes; ++pass) ++counts[pass * 256 + ((k.key >> (8 * pass)) & 255)];
        sortScratch.resize(n);
        for (int pass = 0; pass < passes; ++pass) {
            uint32_t* c = counts.data() + pass * 256;
            if (c[(keys[0].key >> (8 * pass)) & 255] == n) continue;
            uint32_t sum = 0;
            for (int d = 0; d < 256; ++d) {
                const uint32_t here = c[d];
                c[d] = sum;
                sum += here;
            }
            for (const SortKey& k : keys) sortScratch[c[(k.key >> (8 * pass)) & 255]++] = k;
            keys.swap(sortScratch);
        }
    }
    // Rows in the order of keys' indices.
    void Permute(const std::pmr::vector<SortKey>& keys) {
        scratch.resize(keys.size());
        for (size_t i = 0; i < keys.size(); ++i) scratch[i] = rows[keys[i].index];
        rows.swap(scratch);
    }
    // Entry keys of the rows when every slot fits and the rows are in the order they came
    // (so a stable sort keeps each entry's rows in that order); false otherwise.
    bool EntryKeys(std::pmr::vector<SortKey>& keys) const {
        keys.resize(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            uint32_t e = 0;
            if (!Key16(rows[i].entry, e) || (i > 0 && rows[i].seq <= rows[i - 1].seq)) return false;
            keys[i] = SortKey{e, static_cast<uint32_t>(i)};
        }
        return true;
    }
    static constexpr size_t kRadixMin = 64;  // below, a comparison sort is as quick
    bool SortByEntryRadix() {
        if (rows.size() < kRadixMin || rows.size() > 0xFFFFFFFFu || !EntryKeys(sortKeys)) return false;
        RadixSort(sortKeys, 32);
        Permute(sortKeys);
        return true;
    }
    // Seal's result: the first row of each (entry, pair) found by a sort on both, then the
    // kept rows, still in the order they came, stably sorted by entry.
    bool SealByRadix() {
        const size_t n = rows.size();
        if (n < kRadixMin || n > 0xFFFFFFFFu || !EntryKeys(sortKeys)) return false;
        for (size_t i = 0; i < n; ++i) {
            uint32_t p = 0;
            if (!Key16(rows[i].pair, p)) return false;
            sortKeys[i].key = sortKeys[i].key << 32 | p;
        }
        RadixSort(sortKeys, 64);
        drop.assign(n, 0);
        for (size_t i = 1; i < n; ++i)
            if (sortKeys[i].key == sortKeys[i - 1].key) drop[sortKeys[i].index] = 1;
        size_t kept = 0;
        for (size_t i = 0; i < n; ++i)
            if (!drop[i]) rows[kept++] = rows[i];
        rows.resize(kept);
        EntryKeys(sortKeys);  // cannot fail: the same rows, fewer
        RadixSort(sortKeys, 32);
        Permute(sortKeys);
        return true;
    }

    std::pmr::vector<Row> rows{Warm()};
    std::pmr::vector<Row> scratch{Warm()};
    std::pmr::vector<SortKey> sortKeys{Warm()}, sortScratch{Warm()};
    std::pmr::vector<uint8_t> drop{Warm()};
};

// What normalising needs to know about the keys, looked up once per key.
class KeyView {
public:
    KeyView(OptionForest* forest, KVCache* defaults, const SoupSlotID (&offWords)[3])
        : m_forest(forest), m_defaults(defaults), m_offWords{offWords[0], offWords[1], offWords[2]} {}

    // The value ids of the key's options, in the forest's order.
    const std::vector<SoupSlotID>& Options(SoupSlotID key) { return Info(key).options; }
    // Whether the key has an option of that (valid) id.
    bool HasOption(SoupSlotID key, SoupSlotID option) { return option.IsValid() && Exists(key, option); }
    // Whether the key forest finds a leaf of that id (as its look-up does).
    bool Exists(SoupSlotID key, SoupSlotID option) {
        const std::vector<SoupSlotID>& ids = Info(key).matchable;
        return std::binary_search(ids.begin(), ids.end(), option);
    }
    // The first option that is "False", "None" or "Off", or the key's default.
    SoupSlotID OffOption(SoupSlotID key) {
        KeyInfo& info = Info(key);
        if (!info.offKnown) {
            info.offKnown = true;
            const CKeySetting* def = m_defaults->Find(key);
            for (SoupSlotID option : info.options) {
                bool off = def && def->GetValueId() == option;
                for (SoupSlotID word : m_offWords) off = off || (word.IsValid() && option == word);
                if (off) {
                    info.off = option;
                    break;
                }
            }
        }
        return info.off;
    }

private:
    struct KeyInfo {
        std::vector<SoupSlotID> options;
        std::vector<SoupSlotID> matchable;  // sorted ids of the options that hold a setting
        SoupSlotID off;
        bool offKnown = false;
    };
    KeyInfo& Info(SoupSlotID key) {
        // Keys are soup slots, a dense range: a table by index finds a key's info without
        // hashing (the deque keeps every info where it is while more are made).
        const int32_t index = key.GetIndex();
        KeyInfo** slot = nullptr;
        if (index >= 0) {
            const size_t at = static_cast<size_t>(index);
            if (at >= m_slots.size()) m_slots.resize(at + 1, nullptr);
            slot = &m_slots[at];
        } else {
            slot = &m_unslotted[index];
        }
        if (!*slot) *slot = &Made(key);
        return **slot;
    }
    KeyInfo& Made(SoupSlotID key) {
        KeyInfo& info = m_infos.emplace_back();
        if (auto* leaves = m_forest->GetLeaves(key)) {
            info.options.reserve(leaves->size());
            for (const COptData& o : *leaves) {
                info.options.push_back(o.GetValueId());
                if (o.GetSetting()) info.matchable.push_back(o.GetValueId());
            }
            std::sort(info.matchable.begin(), info.matchable.end());
        }
        return info;
    }

    OptionForest* m_forest;
    KVCache* m_defaults;
    SoupSlotID m_offWords[3];
    std::deque<KeyInfo> m_infos;
    std::vector<KeyInfo*> m_slots;                       // by slot index
    std::unordered_map<int32_t, KeyInfo*> m_unslotted;  // invalid keys, by their index
};

// Pairs grouped by key; a group that covers every option of its key becomes (key, any).
void Compact(const Work& in, KeyView& keys, Work& out) {
    out.Clear();
    out.Reserve(in.Size());
    std::vector<const Work::Row*> group;
    std::vector<SoupSlotID> present;
    std::vector<std::pair<uint32_t, size_t>> runs;  // (first seq, start in group)
    in.ForEachEntry([&](const SoupSlotIDPair& entry, const Work::Row* first, const Work::Row* last) {
        // The entry's pairs by key, keys in the order they first came, pairs in their order.
        group.clear();
        for (const Work::Row* r = first; r != last; ++r) group.push_back(r);
        std::stable_sort(group.begin(), group.end(),
                         [](const Work::Row* a, const Work::Row* b) { return a->pair.first < b->pair.first; });
        // Runs of one key, taken in the order of their first pair.
        runs.clear();
        for (size_t i = 0; i < group.size(); ++i)
            if (i == 0 || group[i]->pair.first != group[i - 1]->pair.first) runs.emplace_back(group[i]->seq, i);
        std::sort(runs.begin(), runs.end());
        for (const auto& run : runs) {
            size_t end = run.second;
            const SoupSlotID key = group[run.second]->pair.first;
            present.clear();
            while (end < group.size() && group[end]->pair.first == key) present.push_back(group[end++]->pair.second);
            std::sort(present.begin(), present.end());
            const std::vector<SoupSlotID>& all = keys.Options(key);
            bool covers = !all.empty();
            for (SoupSlotID option : all)
                covers = covers && std::binary_search(present.begin(), present.end(), option);
            if (covers) {
                out.Add(entry, SoupSlotIDPair(key, SoupSlotID()));
            } else {
                for (size_t i = run.second; i < end; ++i) out.Add(entry, group[i]->pair);
            }
        }
    });
    // Entries came in order and each pair once: the rows are sealed as they are.
}

void Invert(const Work& in, Work& out) {
    out.Clear();
    out.Reserve(in.Size());
    in.ForEachEntry([&](const SoupSlotIDPair& entry, const Work::Row* first, const Work::Row* last) {
        for (const Work::Row* r = first; r != last; ++r) out.Add(r->pair, entry);
    });
    // Distinct (entry, pair) rows stay distinct when inverted.
    out.SortByEntry();
}

// Entries that exist in the key forest; (key, any) spelled out without the key's off option.
void Expand(const Work& in, KeyView& keys, Work& out) {
    out.Clear();
    out.Reserve(in.Size());
    in.ForEachEntry([&](const SoupSlotIDPair& entry, const Work::Row* first, const Work::Row* last) {
        if (!keys.HasOption(entry.first, entry.second)) return;
        const size_t start = out.End();
        for (const Work::Row* r = first; r != last; ++r) {
            const SoupSlotIDPair& p = r->pair;
            if (p.second.IsInvalid()) {
                const SoupSlotID off = keys.OffOption(p.first);
                for (SoupSlotID option : keys.Options(p.first))
                    if (option != off) out.Add(entry, SoupSlotIDPair(p.first, option));
            } else if (keys.HasOption(p.first, p.second)) {
                out.Add(entry, p);
            }
        }
        out.DropRepeatsFrom(start);  // (key, any) spelled out can repeat a pair given as well
    });
}

// The normalised rows of the constraint block's lines (block checked by the caller to hold
// at least its fixed header): entry -> conflicting (key, option), sealed.
template <class HasSetting>
bool NormaliseConstraints(const uint8_t* block, uint32_t got, KeyView& keys, HasSetting hasSetting, Work& w) {
    // Two passes over the lines: the first counts the rows, so the working rows are had in
    // one allocation (a large block grown by doubling is a fresh mapping each time).
    for (int pass = 0; pass < 2; ++pass) {
        size_t count = 0;
        for (uint32_t slot : {42u, 46u}) {
            const uint32_t at = GetU32(block + slot);
            if (at == 0 || at > got || got - at < 6) continue;
            const uint32_t lines = GetU32(block + at + 2);
            if (lines > (got - at - 6) / 8) return false;
            for (uint32_t i = 0; i < lines; ++i) {
                const uint8_t* line = block + at + 6 + 8 * i;
                int k1 = GetI16(line), o1 = GetI16(line + 2), k2 = GetI16(line + 4), o2 = GetI16(line + 6);
                if (k1 < 0 || o1 < 0 || !hasSetting(k1)) continue;
                if (hasSetting(o1)) {  // the line omitted the first option
                    o2 = k2;
                    k2 = o1;
                    o1 = -1;
                }
                if (!hasSetting(k2)) continue;
                // For (key, option): that single option when the key has it, else every option.
                const SoupSlotID key1(k1), key2(k2), only1(o1), only2(o2);
                const bool single1 = o1 >= 0 && keys.HasOption(key1, only1);
                const bool single2 = o2 >= 0 && keys.HasOption(key2, only2);
                const std::vector<SoupSlotID>& all1 = keys.Options(key1);
                const std::vector<SoupSlotID>& all2 = keys.Options(key2);
                const size_t n1 = single1 ? 1 : all1.size(), n2 = single2 ? 1 : all2.size();
                if (pass == 0) {
                    count += n1 * n2;
                    continue;
                }
                for (size_t a = 0; a < n1; ++a)
                    for (size_t b = 0; b < n2; ++b)
                        w.Add(SoupSlotIDPair(key1, single1 ? only1 : all1[a]),
                              SoupSlotIDPair(key2, single2 ? only2 : all2[b]));
            }
        }
        if (pass == 0) w.Reserve(count);
    }
    w.Seal();

    Work s;
    Compact(w, keys, s);
    Invert(s, w);
    Compact(w, keys, s);
    Expand(s, keys, w);
    Invert(w, s);
    Expand(s, keys, w);
    return true;
}

// The bytes of one constraint section: the rows whose entry and pair exist in the key forest,
// the keyword from renamed to, each entry's pairs once. Null when it cannot be written whole.
std::unique_ptr<uint8_t[]> ConstraintSectionBytes(const Work& rows, KeyView& keys, SoupSlotID from, SoupSlotID to,
                                                  uint32_t& size) {
    auto exists = [&](const SoupSlotIDPair& p) { return keys.Exists(p.first, p.second); };
    auto rename = [&](SoupSlotID key) { return key == from ? to : key; };

    // Copy with the keyword renamed; entries keep the rows' key order of the renamed keys.
    Work copy;
    copy.Reserve(rows.Size());
    rows.ForEachEntry([&](const SoupSlotIDPair& source, const Work::Row* first, const Work::Row* last) {
        if (!exists(source)) return;
        const SoupSlotIDPair entry(rename(source.first), source.second);
        for (const Work::Row* r = first; r != last; ++r)
            if (exists(r->pair)) copy.Add(entry, SoupSlotIDPair(rename(r->pair.first), r->pair.second));
    });
    copy.Seal();

    uint64_t total = 52;
    uint32_t entries = 0;
    bool fits = true;
    copy.ForEachEntry([&](const SoupSlotIDPair&, const Work::Row* first, const Work::Row* last) {
        const size_t n = static_cast<size_t>(last - first);
        if (n > 0xFFFF) fits = false;  // the count is 16 bits: never written cut short
        total += 10 + 8ull * n;
        ++entries;
    });
    if (!fits || total > kCfgMaxFileSize) return nullptr;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[static_cast<size_t>(total)]);
    if (!bytes) return nullptr;
    uint8_t* b = bytes.get();
    std::memset(b, 0, static_cast<size_t>(total));
    PutU32(b + 2, 42);
    PutU32(b + 6, static_cast<uint32_t>(total));
    PutU32(b + 10, 1);
    PutU32(b + 42, 46);
    PutU16(b + 46, 11);
    PutU32(b + 48, entries);
    uint8_t* p = b + 52;
    copy.ForEachEntry([&](const SoupSlotIDPair& entry, const Work::Row* first, const Work::Row* last) {
        PutU16(p, static_cast<uint32_t>(last - first));
        PutU32(p + 2, static_cast<uint32_t>(entry.first.GetIndex()));
        PutU32(p + 6, static_cast<uint32_t>(entry.second.GetIndex()));
        p += 10;
        for (const Work::Row* r = first; r != last; ++r) {
            PutU32(p, static_cast<uint32_t>(r->pair.first.GetIndex()));
            PutU32(p + 4, static_cast<uint32_t>(r->pair.second.GetIndex()));
            p += 8;
        }
    });
    size = static_cast<uint32_t>(total);
    return bytes;
}

}  // namespace

bool CfgSettings::ExportConstraintBlock(PPDParser::CPPDSettings& parser, std::unique_ptr<uint8_t[]>& block,
                                        unsigned& got) {
    // Straight into scratch room when the block fits (no size query), else sized first.
    unsigned size = kExportScratchSize;
    block.reset(new (std::nothrow) uint8_t[size]);
    if (!block) return false;
    CStrSoup::Hold hold(m_soup);
    got = parser.ExportConstraints(&InternHeld, &m_soup, block.get(), size);
    if (got > size) {
        size = parser.ExportConstraints(&InternHeld, &m_soup, nullptr, 0);
        if (size < 50) return false;
        block.reset(new (std::nothrow) uint8_t[size]);
        if (!block) return false;
        got = parser.ExportConstraints(&InternHeld, &m_soup, block.get(), size);
    }
    return got >= 50 && got <= size;
}

bool CfgSettings::BuildConstraintSections(const uint8_t* block, unsigned got) {
    if (!block || got < 50) return false;

    const SoupSlotID offWords[3] = {m_soup.GetPropertySlot(QV_PROP_FALSE, true),
                                    m_soup.GetPropertySlot(QV_PROP_NONE, true),
                                    m_soup.GetPropertySlot(QV_PROP_OFF, true)};
    // One view serves both steps (the sections ask only which options exist).
    KeyView keys(&m_keyForest, &m_defaults, offWords);
    // Each line asks up to three times a pass whether an id names a setting: answered once
    // per id (the block's ids are 16 bits) instead of a map look-up every time.
    std::pmr::vector<int8_t> known(0x8000, -1, Warm());
    auto hasSetting = [&](int id) {
        if (id < 0) return false;
        if (static_cast<size_t>(id) >= known.size()) return m_defaults.Find(SoupSlotID(id)) != nullptr;
        int8_t& k = known[static_cast<size_t>(id)];
        if (k < 0) k = m_defaults.Find(SoupSlotID(id)) != nullptr ? 1 : 0;
        return k == 1;
    };
    // The rows go straight to the sections: no forest is built in between.
    Work rows;
    if (!NormaliseConstraints(block, got, keys, hasSetting, rows)) return false;

    static constexpr int kSections[2][3] = {{CFG_SECTION_CONSTRAINTS, QV_PROP_QVPRINTSIZE, QV_PROP_PAGESIZE},
                                            {CFG_SECTION_CONSTRAINTS_ALT, QV_PROP_PAGESIZE, QV_PROP_QVPRINTSIZE}};
    for (const auto& row : kSections) {
        const SoupSlotID from = m_soup.GetPropertySlot(row[1], true);
        const SoupSlotID to = m_soup.GetPropertySlot(row[2], true);
        uint32_t size = 0;
        std::unique_ptr<uint8_t[]> bytes = ConstraintSectionBytes(rows, keys, from, to, size);
        if (!bytes) return false;
        m_sections[row[0]].Own(std::move(bytes), size);
    }
    return true;
}

CfgConstraintForest* CfgSettings::GetConstraints(bool primary) {
    const int index = primary ? 0 : 1;
    if (!EnsureLoaded() || !GetStringSoup()) return nullptr;
    CfgConstraintForest& forest = m_constraints[index];
    if (m_constraintsReady[index]) return &forest;
    const int section = primary ? CFG_SECTION_CONSTRAINTS : CFG_SECTION_CONSTRAINTS_ALT;
    const uint8_t* b = m_sections[section].data;
    const uint32_t size = m_sections[section].size;
    // Sections from the file were checked when it was read; compiled ones are checked too,
    // so a reader never runs past the block whatever its counts say.
    if (!ValidateConstraintSection(b, size, m_soup.GetCount())) return nullptr;
    forest.Clear();
    const uint32_t entries = GetU32(b + 48);
    uint32_t pos = 52;
    for (uint32_t e = 0; e < entries && size - pos >= 10; ++e) {
        const uint32_t n = GetU16(b + pos);
        if ((size - pos - 10) / 8 < n) break;
        const SoupSlotIDPair key(SoupSlotID(static_cast<int32_t>(GetU32(b + pos + 2))),
                                 SoupSlotID(static_cast<int32_t>(GetU32(b + pos + 6))));
        forest.SetData(key, key.first);
        const uint8_t* pair = b + pos + 10;
        for (uint32_t k = 0; k < n; ++k, pair += 8)
            forest.AddLeaf(key, COptConstraints(SoupSlotID(static_cast<int32_t>(GetU32(pair))),
                                                SoupSlotID(static_cast<int32_t>(GetU32(pair + 4)))));
        pos += 10 + 8 * n;
    }
    m_constraintsReady[index] = true;
    return &forest;
}
