// Settings cache: the chosen settings, at most one key per key id, each owned by
// the cache as a clone. The driver state keeps the defaults and the current values
// in two; dialogs, the two-way client and the resolver make temporary ones.
#pragma once

#include <map>
#include <memory>

#include "settings/KeyRecords.h"
#include "settings/SoupSlotID.h"

class KVCache {
public:
    using Map = std::map<SoupSlotID, CKeyProxy>;
    using iterator = Map::iterator;
    using const_iterator = Map::const_iterator;

    KVCache() = default;
    // Copies hold a clone of every entry; std::bad_alloc when memory is short for one (an
    // assigned cache then stays as it was).
    KVCache(const KVCache& other);
    KVCache& operator=(const KVCache& other);
    virtual ~KVCache();

    // A new cache with copies of all entries; null when memory is short.
    virtual KVCache* Clone() const;
    virtual void EmptyHook(void*) {}

    void Clear();
    // Erases the entry of the setting's key id; nothing for null.
    void Remove(const CKeySetting* setting);
    // Stores a clone of setting under its key id (replacing the former one); nothing
    // for null, an invalid key id, or with onlyIfPresent when the key is not held.
    // 1 when stored; 0 also when memory is short, the entry then as it was. setting may be
    // one this cache holds.
    int Set(const CKeySetting* setting, bool onlyIfPresent = false);
    // Stores setting itself under its key id, as Set would store its clone (the cache owns
    // it from then on and the pointer is left null); for one whose clone is a plain copy, this
    // spares making and freeing one. 1 when stored; on 0 the caller keeps it.
    int Take(std::unique_ptr<CKeySetting>& setting);
    // Set of every entry of other; false when one could not be stored for want of memory (the
    // entries before it are stored).
    bool SetAll(const KVCache* other, bool onlyIfPresent = false);
    bool SetAllValid(const KVCache* other, bool onlyIfPresent = false);
    // 1 when both hold the same key ids (values are not compared).
    int HasSameKeys(const KVCache* other) const;

    // Settings stay owned by the cache, valid until their entry changes.
    CKeySetting* Find(SoupSlotID key) const;
    CKeySetting* GetAt(const_iterator it) const;
    CKeySetting* FindSame(const CKeySetting* setting) const;

    iterator Begin() { return entries.begin(); }
    iterator End() { return entries.end(); }
    const_iterator Begin() const { return entries.begin(); }
    const_iterator End() const { return entries.end(); }
    size_t GetCount() const { return entries.size(); }

private:
    Map entries;
};
