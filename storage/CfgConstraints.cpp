// Constraint sections of the compiled settings: the PPD's *UIConstraints and
// *NonUIConstraints lines compiled into a normalised (key, option) -> conflicting
// options forest, written as sections 11 and 12, and read back.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

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

int InternString(void* user, const wchar_t* text, int) {
    if (!text || !*text) return -1;
    const SoupSlotID slot = static_cast<CBaseSoup*>(user)->FindOrAdd(text);
    return slot.IsValid() ? slot.GetIndex() : -2;
}

// A working forest: entries in key order, each with its pairs in the order they came
// (a pair is held once).
struct Pairs {
    std::vector<SoupSlotIDPair> order;
    std::set<SoupSlotIDPair> seen;
    auto begin() const { return order.begin(); }
    auto end() const { return order.end(); }
    size_t size() const { return order.size(); }
    bool empty() const { return order.empty(); }
    void push_back(const SoupSlotIDPair& p) {
        if (seen.insert(p).second) order.push_back(p);
    }
};
using Work = std::map<SoupSlotIDPair, Pairs>;

void AddPair(Work& work, const SoupSlotIDPair& entry, const SoupSlotIDPair& pair) { work[entry].push_back(pair); }

// What normalising needs to know about the keys.
struct KeyView {
    OptionForest* forest;
    KVCache* defaults;
    SoupSlotID offWords[3];

    std::vector<SoupSlotID> Options(SoupSlotID key) const {
        std::vector<SoupSlotID> out;
        if (auto* leaves = forest->GetLeaves(key))
            for (const COptData& o : *leaves) out.push_back(o.GetValueId());
        return out;
    }
    bool HasOption(SoupSlotID key, SoupSlotID option) const {
        return option.IsValid() && forest->FindLeaf(key, option) != nullptr;
    }
    // The first option that is "False", "None" or "Off", or the key's default.
    SoupSlotID OffOption(SoupSlotID key) const {
        const CKeySetting* def = defaults->Find(key);
        for (SoupSlotID option : Options(key)) {
            for (SoupSlotID word : offWords)
                if (word.IsValid() && option == word) return option;
            if (def && def->GetValueId() == option) return option;
        }
        return SoupSlotID();
    }
};

// Pairs grouped by key; a group that covers every option of its key becomes (key, any).
Work Compact(const Work& in, const KeyView& keys) {
    Work out;
    for (const auto& [entry, pairs] : in) {
        std::vector<SoupSlotID> order;
        std::map<SoupSlotID, Pairs> groups;
        for (const SoupSlotIDPair& p : pairs) {
            if (!groups.count(p.first)) order.push_back(p.first);
            groups[p.first].push_back(p);
        }
        for (SoupSlotID key : order) {
            const Pairs& group = groups[key];
            const std::vector<SoupSlotID> all = keys.Options(key);
            bool covers = !all.empty();
            for (SoupSlotID option : all) covers = covers && group.seen.count(SoupSlotIDPair(key, option)) != 0;
            if (covers) {
                AddPair(out, entry, SoupSlotIDPair(key, SoupSlotID()));
            } else {
                for (const SoupSlotIDPair& p : group) AddPair(out, entry, p);
            }
        }
    }
    return out;
}

Work Invert(const Work& in) {
    Work out;
    for (const auto& [entry, pairs] : in)
        for (const SoupSlotIDPair& p : pairs) AddPair(out, p, entry);
    return out;
}

// Entries that exist in the key forest; (key, any) spelled out without the key's off option.
Work Expand(const Work& in, const KeyView& keys) {
    Work out;
    for (const auto& [entry, pairs] : in) {
        if (!keys.HasOption(entry.first, entry.second)) continue;
        for (const SoupSlotIDPair& p : pairs) {
            if (p.second.IsInvalid()) {
                const SoupSlotID off = keys.OffOption(p.first);
                for (SoupSlotID option : keys.Options(p.first))
                    if (option != off) AddPair(out, entry, SoupSlotIDPair(p.first, option));
            } else if (keys.HasOption(p.first, p.second)) {
                AddPair(out, entry, p);
            }
        }
    }
    return out;
}

}  // namespace

bool CfgSettings::BuildConstraints(PPDParser::CPPDSettings& parser, CfgConstraintForest& working) {
    working.Clear();
    const unsigned need = parser.ExportConstraints(&InternString, &m_soup, nullptr, 0);
    if (need < 50) return false;
    std::vector<uint8_t> block(need);
    const unsigned got = parser.ExportConstraints(&InternString, &m_soup, block.data(), need);
    if (got < 50 || got > need) return false;

    KeyView keys{&m_keyForest, &m_defaults,
                 {m_soup.GetPropertySlot(QV_PROP_FALSE, true), m_soup.GetPropertySlot(QV_PROP_NONE, true),
                  m_soup.GetPropertySlot(QV_PROP_OFF, true)}};
    auto hasSetting = [&](int id) { return id >= 0 && m_defaults.Find(SoupSlotID(id)) != nullptr; };
    auto optionList = [&](SoupSlotID key, int option) {
        if (option >= 0 && keys.HasOption(key, SoupSlotID(option))) return std::vector<SoupSlotID>{SoupSlotID(option)};
        return keys.Options(key);
    };

    Work w;
    for (uint32_t slot : {42u, 46u}) {
        const uint32_t at = GetU32(block.data() + slot);
        if (at == 0 || at > got || got - at < 6) continue;
        const uint32_t lines = GetU32(block.data() + at + 2);
        if (lines > (got - at - 6) / 8) return false;
        for (uint32_t i = 0; i < lines; ++i) {
            const uint8_t* line = block.data() + at + 6 + 8 * i;
            int k1 = GetI16(line), o1 = GetI16(line + 2), k2 = GetI16(line + 4), o2 = GetI16(line + 6);
            if (k1 < 0 || o1 < 0 || !hasSetting(k1)) continue;
            if (hasSetting(o1)) {  // the line omitted the first option
                o2 = k2;
                k2 = o1;
                o1 = -1;
            }
            if (!hasSetting(k2)) continue;
            for (SoupSlotID a : optionList(SoupSlotID(k1), o1))
                for (SoupSlotID b : optionList(SoupSlotID(k2), o2))
                    AddPair(w, SoupSlotIDPair(SoupSlotID(k1), a), SoupSlotIDPair(SoupSlotID(k2), b));
        }
    }

    Work s = Compact(w, keys);
    w = Invert(s);
    s = Compact(w, keys);
    w = Expand(s, keys);
    s = Invert(w);
    w = Expand(s, keys);

    for (const auto& [entry, pairs] : w) {
        if (pairs.empty()) continue;
        if (!working.SetData(entry, entry.first)) return false;
        for (const SoupSlotIDPair& p : pairs)
            if (!working.AddLeaf(entry, COptConstraints(p))) return false;
    }
    return true;
}

bool CfgSettings::BuildConstraintSection(const CfgConstraintForest& working, int section, int fromProperty,
                                         int toProperty) {
    const SoupSlotID from = m_soup.GetPropertySlot(fromProperty, true);
    const SoupSlotID to = m_soup.GetPropertySlot(toProperty, true);
    auto exists = [&](const SoupSlotIDPair& p) { return m_keyForest.FindLeaf(p.first, p.second) != nullptr; };
    auto rename = [&](SoupSlotID key) { return key == from ? to : key; };

    // Copy with the keyword renamed; entries keep the forest's key order of the renamed keys.
    Work copy;
    for (auto it = working.Begin(); it != working.End(); ++it) {
        if (!exists(it->first) || !it->second.leaves) continue;
        const SoupSlotIDPair entry(rename(it->first.first), it->first.second);
        for (const COptConstraints& c : *it->second.leaves) {
            const SoupSlotIDPair pair(c.first, c.second);
            if (exists(pair)) AddPair(copy, entry, SoupSlotIDPair(rename(pair.first), pair.second));
        }
    }

    uint64_t total = 52;
    uint32_t entries = 0;
    for (const auto& [entry, pairs] : copy) {
        if (pairs.empty()) continue;
        if (pairs.size() > 0xFFFF) return false;  // the count is 16 bits: never written cut short
        total += 10 + 8ull * pairs.size();
        ++entries;
    }
    if (total > kCfgMaxFileSize) return false;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[static_cast<size_t>(total)]);
    if (!bytes) return false;
    uint8_t* b = bytes.get();
    std::memset(b, 0, static_cast<size_t>(total));
    PutU32(b + 2, 42);
    PutU32(b + 6, static_cast<uint32_t>(total));
    PutU32(b + 10, 1);
    PutU32(b + 42, 46);
    PutU16(b + 46, 11);
    PutU32(b + 48, entries);
    uint8_t* p = b + 52;
    for (const auto& [entry, pairs] : copy) {
        if (pairs.empty()) continue;
        PutU16(p, static_cast<uint32_t>(pairs.size()));
        PutU32(p + 2, static_cast<uint32_t>(entry.first.GetIndex()));
        PutU32(p + 6, static_cast<uint32_t>(entry.second.GetIndex()));
        p += 10;
        for (const SoupSlotIDPair& pair : pairs) {
            PutU32(p, static_cast<uint32_t>(pair.first.GetIndex()));
            PutU32(p + 4, static_cast<uint32_t>(pair.second.GetIndex()));
            p += 8;
        }
    }
    m_sections[section].Own(std::move(bytes), static_cast<uint32_t>(total));
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
