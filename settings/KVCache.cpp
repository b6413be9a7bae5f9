// Settings cache operations.
#include "settings/KVCache.h"

#include <new>
#include <tuple>
#include <utility>

namespace {

// A proxy whose clone memory was short for holds nothing: a copy with such an entry would
// pass for a whole one with the setting left out, so it throws instead.
void RequireWholeCopy(const KVCache::Map& copy, const KVCache::Map& source) {
    for (auto at = copy.begin(), from = source.begin(); at != copy.end() && from != source.end(); ++at, ++from)
        if (!at->second.GetSetting() && from->second.GetSetting()) throw std::bad_alloc();
}

}  // namespace

KVCache::KVCache(const KVCache& other) : entries(other.entries) { RequireWholeCopy(entries, other.entries); }

KVCache& KVCache::operator=(const KVCache& other) {
    if (this != &other) {
        Map copy(other.entries);  // cloned before the old settings go
        RequireWholeCopy(copy, other.entries);
        entries.swap(copy);
    }
    return *this;
}

KVCache::~KVCache() { Clear(); }

KVCache* KVCache::Clone() const {
    try {
        return new KVCache(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void KVCache::Clear() { entries.clear(); }

void KVCache::Remove(const CKeySetting* setting) {
    if (setting) entries.erase(setting->GetKeyId());
}

int KVCache::Set(const CKeySetting* setting, bool onlyIfPresent) {
    if (!setting || setting->GetKeyId().IsInvalid()) return 0;
    const SoupSlotID key = setting->GetKeyId();
    auto it = entries.find(key);
    if (it == entries.end()) {
        if (onlyIfPresent) return 0;
        try {
            // The proxy clones the setting in place: one clone per entry.
            it = entries.emplace(std::piecewise_construct, std::forward_as_tuple(key), std::forward_as_tuple(setting))
                     .first;
        } catch (const std::bad_alloc&) {
            return 0;
        }
        if (!it->second.GetSetting()) {  // the clone failed
            entries.erase(it);
            return 0;
        }
        return 1;
    }
    // The clone is made before the held one goes, so setting may be the held one, and a clone
    // that memory was short for leaves the entry as it was.
    std::unique_ptr<CKeySetting> copy(setting->Clone());
    if (!copy) return 0;
    it->second.Take(copy.release());
    return 1;
}

int KVCache::Take(std::unique_ptr<CKeySetting>& setting) {
    if (!setting || setting->GetKeyId().IsInvalid()) return 0;
    const SoupSlotID key = setting->GetKeyId();
    auto it = entries.find(key);
    if (it == entries.end()) {
        try {
            it = entries.emplace(std::piecewise_construct, std::forward_as_tuple(key), std::forward_as_tuple(nullptr))
                     .first;
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    it->second.Take(setting.release());
    return 1;
}

bool KVCache::SetAll(const KVCache* other, bool onlyIfPresent) {
    if (!other || other == this) return true;
    bool whole = true;
    for (const auto& entry : other->entries) {
        const CKeySetting* s = entry.second.GetSetting();
        if (!Set(s, onlyIfPresent) && s && s->GetKeyId().IsValid() && (!onlyIfPresent || Find(s->GetKeyId())))
            whole = false;  // memory was short for this one
    }
    return whole;
}

bool KVCache::SetAllValid(const KVCache* other, bool onlyIfPresent) {
    if (!other || other == this) return true;
    bool whole = true;
    for (const auto& entry : other->entries) {
        const CKeySetting* s = entry.second.GetSetting();
        if (s && s->GetKeyId().IsValid() && !Set(s, onlyIfPresent) && (!onlyIfPresent || Find(s->GetKeyId())))
            whole = false;
    }
    return whole;
}

int KVCache::HasSameKeys(const KVCache* other) const {
    if (!other || other->entries.size() != entries.size()) return 0;
    for (const auto& entry : entries)
        if (other->entries.find(entry.first) == other->entries.end()) return 0;
    return 1;
}

CKeySetting* KVCache::Find(SoupSlotID key) const {
    const auto it = entries.find(key);
    return it != entries.end() ? const_cast<CKeySetting*>(it->second.GetSetting()) : nullptr;
}

CKeySetting* KVCache::GetAt(const_iterator it) const {
    return it != entries.end() ? const_cast<CKeySetting*>(it->second.GetSetting()) : nullptr;
}

CKeySetting* KVCache::FindSame(const CKeySetting* setting) const {
    return setting ? Find(setting->GetKeyId()) : nullptr;
}
