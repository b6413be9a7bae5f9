// String soup: the interned-string pool of the settings model. Every text of a
// printer description is stored once and named by its SoupSlotID; the pool
// serialises to a blob (48-byte header, 32-bit offsets, UTF-8 strings) that the
// compiled settings cache stores as one section, so slot ids survive save and load.
#pragma once

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "foundation/AutoMutex.h"
#include "settings/PropertyNames.h"
#include "settings/SoupSlotID.h"

// Size of the fixed blob header.
constexpr uint32_t kSoupBlobHeaderSize = 48;

// Storage of a soup's texts: large blocks (new[]) handed out a text at a time and
// freed together.
class SoupTextArena {
public:
    SoupTextArena() = default;
    ~SoupTextArena() { Release(); }
    SoupTextArena(const SoupTextArena&) = delete;
    SoupTextArena& operator=(const SoupTextArena&) = delete;

    // Room for count characters, or null when memory is short.
    wchar_t* Allocate(size_t count) noexcept;
    // A copy of the first len characters of text, terminated; null when memory is short.
    wchar_t* Copy(const wchar_t* text, size_t len) noexcept;
    // Frees every block.
    void Release() noexcept;
    void Swap(SoupTextArena& other) noexcept;

private:
    // Blocks stay below the heap's large-block size, so freed ones are reused.
    static constexpr size_t kBlockChars = 32 * 1024;
    std::vector<wchar_t*> blocks;
    wchar_t* next = nullptr;
    size_t left = 0;
};

class CBaseSoup {
public:
    CBaseSoup();
    virtual ~CBaseSoup();

    CBaseSoup(const CBaseSoup&) = delete;
    CBaseSoup& operator=(const CBaseSoup&) = delete;

    // The slot of text, added when missing; invalid for null text or when the
    // text cannot be stored. Find and add are one step under the lock, so two
    // threads interning the same text get the same slot.
    virtual SoupSlotID FindOrAdd(const wchar_t* text);
    // The soup's own string of a slot (valid until Clear or destruction), or null.
    virtual const wchar_t* GetString(SoupSlotID id) const;
    virtual SoupSlotID FindOrAdd(std::wstring text);
    // The slot of a property id's keyword (property-name table); with resolve the
    // keyword is interned when missing, without it only an earlier resolution in
    // this soup (or the soup it was copied from) is returned.
    virtual SoupSlotID GetPropertySlot(int propertyId, bool resolve);
    // Writes the blob; returns the size needed and writes nothing when the buffer
    // is null or smaller than that. 0 when the blob would exceed 4 GiB.
    virtual uint32_t Serialize(uint8_t* buffer, uint32_t size) const;
    // Replaces the strings by those of a blob (1), or refuses it (0) and leaves
    // the soup untouched. The blob is untrusted: nothing outside size is read.
    virtual int Deserialize(const uint8_t* blob, uint32_t size);
    // Frees every string; all slot ids become meaningless.
    virtual void Clear();
    virtual uint32_t GetCount() const;
    // Exact look-up; invalid when absent.
    virtual SoupSlotID Find(const wchar_t* text) const = 0;
    // Appends a copy of text without looking for it; invalid when it cannot be stored.
    virtual SoupSlotID Add(const wchar_t* text) = 0;

    // Makes this soup a copy of other: same texts under the same slot ids. False when memory
    // was short (this soup then as it was).
    bool CopyFrom(const CBaseSoup* other);

protected:
    // Replaces the strings (and the derived index) by fresh ones whose texts live in
    // freshTexts, together with the property-slot cache slots; hashes, when given, holds
    // each fresh text's TextHash. On success the two hold the soup's former strings
    // afterwards; on failure they are left as they were. Called without the lock held.
    virtual bool Adopt(std::vector<wchar_t*>& fresh, SoupTextArena& freshTexts, const int32_t* slots,
                       const uint32_t* hashes) = 0;

    // FNV-1a over the code units: the hash of the index (taken while a text is copied in).
    static constexpr uint32_t kTextHashBasis = 2166136261u;
    static constexpr uint32_t kTextHashPrime = 16777619u;

    // Frees the strings and forgets the cached property slots; caller holds the lock.
    void ClearLocked();

    // Slot order; each text lives in texts (Clear frees them all at once, which
    // keeps bulk loading to a few allocations).
    std::vector<wchar_t*> strings;
    SoupTextArena texts;
    mutable AutoMutex lock;
    // Per soup: the slot each property row resolved to in this soup (-1 when not).
    int32_t propertySlots[kPropertyCount];
};

// Exact, case-sensitive order of UTF-16 code units (two texts that differ only in
// letter case are two strings, whatever the name says).
struct LessSensitive {
    bool operator()(const wchar_t* a, const wchar_t* b) const { return std::wcscmp(a, b) < 0; }
};

template <class Less>
class CStrSoupTmplt : public CBaseSoup {
public:
    CStrSoupTmplt() = default;
    ~CStrSoupTmplt() override;

    void Clear() override;
    SoupSlotID Find(const wchar_t* text) const override;
    SoupSlotID Add(const wchar_t* text) override;
    // As the base's, with one hash of the text and one hold of the lock (every string of a
    // compiled PPD comes through here).
    SoupSlotID FindOrAdd(const wchar_t* text) override;
    using CBaseSoup::FindOrAdd;

    // The soup's lock held by this thread for a run of FindOrAddHeld calls: one hold for all
    // the texts of an export instead of one per text.
    class Hold {
    public:
        explicit Hold(CStrSoupTmplt& soup) noexcept : m_soup(soup) { m_soup.lock.Lock(); }
        ~Hold() { m_soup.lock.Unlock(); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        CStrSoupTmplt& m_soup;
    };
    // FindOrAdd for a caller inside a Hold of this soup.
    SoupSlotID FindOrAddHeld(const wchar_t* text);

    bool Assign(const CBaseSoup* other) { return CopyFrom(other); }

protected:
    bool Adopt(std::vector<wchar_t*>& fresh, SoupTextArena& freshTexts, const int32_t* slots,
               const uint32_t* hashes) override;

private:
    // Text -> slot index: open addressing over (hash, slot) buckets, one allocation
    // for the whole table. Texts are equal when neither is Less than the other; the
    // hash is over the exact code units, so Less must be an exact order.
    struct Bucket {
        uint32_t hash;
        int32_t slot;  // -1: empty
    };
    static uint32_t Hash(const wchar_t* text);
    static bool Same(const wchar_t* a, const wchar_t* b) { return !Less()(a, b) && !Less()(b, a); }
    // Bucket of text (an empty one when absent); the table must not be empty.
    static size_t Probe(const std::vector<Bucket>& table, const std::vector<wchar_t*>& list, const wchar_t* text,
                        uint32_t hash);
    // Enters slot (the text at list[slot]) into table, naming the newer slot for a
    // text already present; grows the table as needed. False when memory is short.
    static bool Enter(std::vector<Bucket>& table, size_t& used, const std::vector<wchar_t*>& list, int32_t slot);
    static bool Enter(std::vector<Bucket>& table, size_t& used, const std::vector<wchar_t*>& list, int32_t slot,
                      uint32_t hash);
    // Add of a text whose length and hash are known; caller holds the lock.
    SoupSlotID AddLocked(const wchar_t* text, size_t len, uint32_t hash);

    std::vector<Bucket> index;
    size_t indexUsed = 0;
};

using CStrSoup = CStrSoupTmplt<LessSensitive>;
extern template class CStrSoupTmplt<LessSensitive>;

// Null-tolerant helpers for callers that may hold no soup.
inline const wchar_t* SoupString(const CBaseSoup* soup, SoupSlotID id) {
    return soup ? soup->GetString(id) : nullptr;
}
inline SoupSlotID SoupFindOrAdd(CBaseSoup* soup, const wchar_t* text) {
    return soup ? soup->FindOrAdd(text) : SoupSlotID();
}
inline SoupSlotID SoupPropertySlot(CBaseSoup* soup, int propertyId, bool resolve = true) {
    return soup ? soup->GetPropertySlot(propertyId, resolve) : SoupSlotID();
}
inline uint32_t SoupCount(const CBaseSoup* soup) { return soup ? soup->GetCount() : 0; }
