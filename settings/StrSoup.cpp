// String soup: interning, look-up, the blob form and copying.
#include "settings/StrSoup.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <new>
#include <utility>

namespace {

uint32_t ReadU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void WriteU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

bool IsAscii(const wchar_t* text, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if (static_cast<unsigned>(text[i]) >= 0x80) return false;
    return true;
}

// Bytes of the UTF-8 form of a wide text of len characters (no terminator).
uint32_t Utf8Length(const wchar_t* text, size_t len) {
    if (len == 0 || len > INT_MAX) return 0;
    if (IsAscii(text, len)) return static_cast<uint32_t>(len);
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

// Writes the bytes Utf8Length counted.
void WriteUtf8(const wchar_t* text, size_t len, uint8_t* out, uint32_t bytes) {
    if (bytes == len) {
        for (size_t i = 0; i < len; ++i) out[i] = static_cast<uint8_t>(text[i]);
        return;
    }
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), reinterpret_cast<char*>(out),
                        static_cast<int>(bytes), nullptr, nullptr);
}

// Bytes before the first NUL of the n bytes at p (n when there is none), a word at a time;
// ascii tells whether those bytes are all below 0x80.
size_t ScanText(const uint8_t* p, size_t n, bool& ascii) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    uint64_t seen = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, p + i, sizeof v);
        if ((v - kOnes) & ~v & kHighs) break;  // a NUL in this word
        seen |= v;
    }
    for (; i < n && p[i]; ++i) seen |= p[i];
    ascii = (seen & kHighs) == 0;
    return i;
}


}  // namespace

// ---------------------------------------------------------------------------------

namespace {

// Each block begins with a mark ahead of its texts (kMarkChars characters, so the texts keep
// the block's alignment): kSharedBlock for the blocks of the usual size, which go back to a
// process-wide store when their arena lets go of them, or kOwnBlock for a large text's block
// of its own. The heap hands a large free region back to the system, and texts copied into
// it again fault every page in anew; a later soup of the process (typically the next load of
// a compiled cache) takes the kept blocks warm instead. The mark also holds how many
// characters of the block were ever written (only blocks mostly written are worth keeping).
constexpr wchar_t kSharedBlock = 0, kOwnBlock = 1;
constexpr size_t kMarkChars = 8;
constexpr size_t kWrittenAt = 4;  // characters into the mark: a size_t

size_t WrittenChars(const wchar_t* block) {
    size_t n;
    std::memcpy(&n, block + kWrittenAt, sizeof n);
    return n;
}

void SetWrittenChars(wchar_t* block, size_t n) { std::memcpy(block + kWrittenAt, &n, sizeof n); }
// At most 16 blocks (1 MB) are kept.
constexpr size_t kKeptBlocksMax = 16;
SRWLOCK g_keptLock = SRWLOCK_INIT;
wchar_t* g_kept[kKeptBlocksMax];
size_t g_keptCount = 0;

struct KeptBlocksRelease {
    ~KeptBlocksRelease() {
        for (size_t i = 0; i < g_keptCount; ++i) delete[] g_kept[i];
        g_keptCount = 0;
    }
} g_keptBlocksRelease;

wchar_t* TakeKeptBlock() {
    AcquireSRWLockExclusive(&g_keptLock);
    wchar_t* block = g_keptCount ? g_kept[--g_keptCount] : nullptr;
    ReleaseSRWLockExclusive(&g_keptLock);
    return block;
}

void GiveKeptBlock(wchar_t* block) {
    AcquireSRWLockExclusive(&g_keptLock);
    const bool kept = g_keptCount < kKeptBlocksMax;
    if (kept) g_kept[g_keptCount++] = block;
    ReleaseSRWLockExclusive(&g_keptLock);
    if (!kept) delete[] block;
}

}  // namespace

wchar_t* SoupTextArena::Allocate(size_t count) noexcept {
    if (count == 0) count = 1;
    if (count > left) {
        // A large text gets a block of its own; the current block stays in use.
        const bool own = count > kBlockChars / 4;
        wchar_t* block = own ? nullptr : TakeKeptBlock();
        if (!block) {
            block = new (std::nothrow) wchar_t[(own ? count : kBlockChars) + kMarkChars];
            if (!block) return nullptr;
            SetWrittenChars(block, 0);
        }
        block[0] = own ? kOwnBlock : kSharedBlock;
        try {
            blocks.push_back(block);
        } catch (const std::bad_alloc&) {
            if (own) delete[] block;
            else GiveKeptBlock(block);
            return nullptr;
        }
        if (own) return block + kMarkChars;
        next = block + kMarkChars;
        left = kBlockChars;
    }
    wchar_t* p = next;
    next += count;
    left -= count;
    return p;
}

wchar_t* SoupTextArena::Copy(const wchar_t* text, size_t len) noexcept {
    wchar_t* copy = Allocate(len + 1);
    if (!copy) return nullptr;
    if (len) std::wmemcpy(copy, text, len);
    copy[len] = L'\0';
    return copy;
}

void SoupTextArena::Release() noexcept {
    // Every block of the usual size but the last was filled (a text did not fit); the last
    // one up to next.
    const wchar_t* last = nullptr;
    for (const wchar_t* block : blocks)
        if (block[0] == kSharedBlock) last = block;
    for (wchar_t* block : blocks) {
        if (block[0] != kSharedBlock) {
            delete[] block;
            continue;
        }
        const size_t written = block == last ? static_cast<size_t>(next - (block + kMarkChars)) : kBlockChars;
        if (written > WrittenChars(block)) SetWrittenChars(block, written);
        if (WrittenChars(block) >= kBlockChars / 2) GiveKeptBlock(block);
        else delete[] block;
    }
    blocks.clear();
    next = nullptr;
    left = 0;
}

void SoupTextArena::Swap(SoupTextArena& other) noexcept {
    blocks.swap(other.blocks);
    std::swap(next, other.next);
    std::swap(left, other.left);
}

// ---------------------------------------------------------------------------------

CBaseSoup::CBaseSoup() {
    // The slot table is reserved at the first text, where a failure can be answered.
    for (int32_t& slot : propertySlots) slot = -1;
}

CBaseSoup::~CBaseSoup() = default;

void CBaseSoup::ClearLocked() {
    strings.clear();
    texts.Release();
    for (int32_t& slot : propertySlots) slot = -1;
}

SoupSlotID CBaseSoup::FindOrAdd(const wchar_t* text) {
    if (!text) return SoupSlotID();
    // One hold across the find and the add: a text is never interned twice.
    AutoLock hold(&lock);
    SoupSlotID id = Find(text);
    if (id.IsInvalid()) id = Add(text);
    return id;
}

SoupSlotID CBaseSoup::FindOrAdd(std::wstring text) { return FindOrAdd(text.c_str()); }

const wchar_t* CBaseSoup::GetString(SoupSlotID id) const {
    if (id.IsInvalid()) return nullptr;
    AutoLock hold(&lock);
    const size_t i = static_cast<size_t>(id.GetIndex());
    return i < strings.size() ? strings[i] : nullptr;
}

uint32_t CBaseSoup::GetCount() const {
    AutoLock hold(&lock);
    return static_cast<uint32_t>(strings.size());
}

void CBaseSoup::Clear() {
    AutoLock hold(&lock);
    ClearLocked();
}

SoupSlotID CBaseSoup::GetPropertySlot(int propertyId, bool resolve) {
    const PropertyNameEntry* entry = FindPropertyEntry(propertyId);
    if (!entry) return SoupSlotID();
    const int32_t row = propertyId - kFirstPropertyId;
    // The lock is held across the interning, so the cached slot is written once.
    AutoLock hold(&lock);
    if (propertySlots[row] < 0 && resolve) {
        const SoupSlotID id = FindOrAdd(entry->key);
        if (id.IsValid()) propertySlots[row] = id.GetIndex();
    }
    return SoupSlotID(propertySlots[row]);
}

uint32_t CBaseSoup::Serialize(uint8_t* buffer, uint32_t size) const {
    // One hold of the lock for sizing and writing: a string added meanwhile cannot
    // make the write overrun what was sized. Lengths are counted again while
    // writing rather than kept, which is cheaper than a side table.
    AutoLock hold(&lock);
    const size_t count = strings.size();
    uint64_t needed = kSoupBlobHeaderSize + 4ull * count;
    for (const wchar_t* s : strings) {
        const size_t len = std::wcslen(s);
        if (len > INT_MAX) return 0;
        needed += Utf8Length(s, len) + 1ull;
    }
    if (needed > UINT32_MAX) return 0;
    if (!buffer || size < needed) return static_cast<uint32_t>(needed);

    std::memset(buffer, 0, kSoupBlobHeaderSize);
    uint32_t pos = static_cast<uint32_t>(kSoupBlobHeaderSize + 4 * count);
    for (size_t i = 0; i < count; ++i) {
        WriteU32(buffer + kSoupBlobHeaderSize + 4 * i, pos);
        const size_t len = std::wcslen(strings[i]);
        const uint32_t bytes = Utf8Length(strings[i], len);
        if (bytes) WriteUtf8(strings[i], len, buffer + pos, bytes);
        pos += bytes;
        buffer[pos++] = 0;
    }
    WriteU32(buffer + 0, kSoupBlobHeaderSize);
    WriteU32(buffer + 4, static_cast<uint32_t>(4 * count));
    WriteU32(buffer + 8, pos);
    WriteU32(buffer + 12, static_cast<uint32_t>(count));
    return pos;
}

int CBaseSoup::Deserialize(const uint8_t* blob, uint32_t size) {
    if (!blob || size < kSoupBlobHeaderSize) return 0;
    const uint32_t headerSize = ReadU32(blob);
    if (headerSize > kSoupBlobHeaderSize) return 0;
    // A shorter header reads as the 48-byte one with its missing fields zero.
    uint8_t header[kSoupBlobHeaderSize] = {};
    std::memcpy(header, blob, headerSize);
    if (ReadU32(header + 8) > size) return 0;
    const uint32_t count = ReadU32(header + 12);
    if (headerSize + 4ull * count > size) return 0;

    std::vector<wchar_t*> fresh;
    std::vector<uint32_t> hashes;
    SoupTextArena freshTexts;
    try {
        fresh.reserve(count);
        hashes.reserve(count);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    // One pass over each string: its end and whether it is ASCII, then the copy, hashed as
    // it goes (the index needs no second walk over the texts).
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = ReadU32(blob + headerSize + 4ull * i);
        size_t len = 0;
        bool ascii = true;
        if (offset != 0) {
            // Every string must start inside the blob and end (NUL) before its end.
            if (offset >= size) return 0;
            len = ScanText(blob + offset, size - offset, ascii);
            if (len == size - offset) return 0;
        }
        const uint8_t* bytes = blob + offset;
        wchar_t* text = nullptr;
        uint32_t hash = kTextHashBasis;
        if (ascii) {
            text = freshTexts.Allocate(len + 1);
            if (!text) return 0;
            for (size_t k = 0; k < len; ++k) {
                text[k] = static_cast<wchar_t>(bytes[k]);
                hash = (hash ^ bytes[k]) * kTextHashPrime;
            }
            text[len] = L'\0';
        } else {
            if (len > INT_MAX) return 0;
            const char* narrow = reinterpret_cast<const char*>(bytes);
            const int n = MultiByteToWideChar(CP_UTF8, 0, narrow, static_cast<int>(len), nullptr, 0);
            if (n <= 0) return 0;
            text = freshTexts.Allocate(static_cast<size_t>(n) + 1);
            if (!text) return 0;
            MultiByteToWideChar(CP_UTF8, 0, narrow, static_cast<int>(len), text, n);
            text[n] = L'\0';
            for (int k = 0; k < n; ++k) hash = (hash ^ static_cast<uint16_t>(text[k])) * kTextHashPrime;
        }
        fresh.push_back(text);  // capacity reserved: cannot throw
        hashes.push_back(hash);
    }

    int32_t noSlots[kPropertyCount];
    for (int32_t& slot : noSlots) slot = -1;
    return Adopt(fresh, freshTexts, noSlots, hashes.data()) ? 1 : 0;
}

bool CBaseSoup::CopyFrom(const CBaseSoup* other) {
    if (!other || other == this) return true;
    std::vector<wchar_t*> fresh;
    SoupTextArena freshTexts;
    int32_t slots[kPropertyCount];
    {
        // Only the source's lock is held while copying, and only ours while
        // adopting, so two soups copying from each other cannot deadlock.
        AutoLock hold(&other->lock);
        try {
            fresh.reserve(other->strings.size());
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (const wchar_t* s : other->strings) {
            wchar_t* copy = freshTexts.Copy(s, std::wcslen(s));
            if (!copy) return false;
            fresh.push_back(copy);
        }
        std::memcpy(slots, other->propertySlots, sizeof slots);
    }
    return Adopt(fresh, freshTexts, slots, nullptr);
}

// ---------------------------------------------------------------------------------

template <class Less>
CStrSoupTmplt<Less>::~CStrSoupTmplt() {
    CStrSoupTmplt<Less>::Clear();
}

template <class Less>
void CStrSoupTmplt<Less>::Clear() {
    AutoLock hold(&lock);
    index.clear();
    indexUsed = 0;
    ClearLocked();
}

template <class Less>
uint32_t CStrSoupTmplt<Less>::Hash(const wchar_t* text) {
    uint32_t h = kTextHashBasis;  // FNV-1a over the code units
    for (; *text; ++text) {
        h ^= static_cast<uint16_t>(*text);
        h *= kTextHashPrime;
    }
    return h;
}

template <class Less>
size_t CStrSoupTmplt<Less>::Probe(const std::vector<Bucket>& table, const std::vector<wchar_t*>& list,
                                  const wchar_t* text, uint32_t hash) {
    const size_t mask = table.size() - 1;
    size_t i = hash & mask;
    while (table[i].slot >= 0) {
        if (table[i].hash == hash && Same(list[static_cast<size_t>(table[i].slot)], text)) return i;
        i = (i + 1) & mask;
    }
    return i;
}

template <class Less>
bool CStrSoupTmplt<Less>::Enter(std::vector<Bucket>& table, size_t& used, const std::vector<wchar_t*>& list,
                                int32_t slot) {
    return Enter(table, used, list, slot, Hash(list[static_cast<size_t>(slot)]));
}

template <class Less>
bool CStrSoupTmplt<Less>::Enter(std::vector<Bucket>& table, size_t& used, const std::vector<wchar_t*>& list,
                                int32_t slot, uint32_t hash) {
    // Kept at most three quarters full, so probes stay short and end at an empty bucket.
    if ((used + 1) * 4 > table.size() * 3) {
        size_t grown = table.empty() ? 64 : table.size() * 2;
        while ((used + 1) * 4 > grown * 3) grown *= 2;
        std::vector<Bucket> bigger;
        try {
            bigger.assign(grown, Bucket{0, -1});
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (const Bucket& b : table) {
            if (b.slot < 0) continue;
            size_t i = b.hash & (grown - 1);
            while (bigger[i].slot >= 0) i = (i + 1) & (grown - 1);
            bigger[i] = b;
        }
        table.swap(bigger);
    }
    const wchar_t* text = list[static_cast<size_t>(slot)];
    Bucket& b = table[Probe(table, list, text, hash)];
    if (b.slot < 0) ++used;
    b = Bucket{hash, slot};  // a text already present now names the newer slot
    return true;
}

template <class Less>
SoupSlotID CStrSoupTmplt<Less>::Find(const wchar_t* text) const {
    if (!text) return SoupSlotID();
    const uint32_t hash = Hash(text);
    AutoLock hold(&lock);
    if (index.empty()) return SoupSlotID();
    const Bucket& b = index[Probe(index, strings, text, hash)];
    return b.slot >= 0 ? SoupSlotID(b.slot) : SoupSlotID();
}

template <class Less>
SoupSlotID CStrSoupTmplt<Less>::Add(const wchar_t* text) {
    if (!text) return SoupSlotID();
    const size_t len = std::wcslen(text);
    const uint32_t hash = Hash(text);
    AutoLock hold(&lock);
    return AddLocked(text, len, hash);
}

template <class Less>
SoupSlotID CStrSoupTmplt<Less>::FindOrAdd(const wchar_t* text) {
    if (!text) return SoupSlotID();
    AutoLock hold(&lock);
    return FindOrAddHeld(text);
}

template <class Less>
SoupSlotID CStrSoupTmplt<Less>::FindOrAddHeld(const wchar_t* text) {
    if (!text) return SoupSlotID();
    // Hash and length in one pass (FNV-1a over the code units, as Hash).
    uint32_t hash = 2166136261u;
    const wchar_t* end = text;
    for (; *end; ++end) {
        hash ^= static_cast<uint16_t>(*end);
        hash *= 16777619u;
    }
    if (!index.empty()) {
        const Bucket& b = index[Probe(index, strings, text, hash)];
        if (b.slot >= 0) return SoupSlotID(b.slot);
    }
    return AddLocked(text, static_cast<size_t>(end - text), hash);
}

template <class Less>
SoupSlotID CStrSoupTmplt<Less>::AddLocked(const wchar_t* text, size_t len, uint32_t hash) {
    if (strings.size() >= static_cast<size_t>(INT32_MAX)) return SoupSlotID();
    wchar_t* copy = texts.Copy(text, len);
    if (!copy) return SoupSlotID();  // the arena keeps the room; nothing else changed
    const int32_t slot = static_cast<int32_t>(strings.size());
    try {
        if (strings.capacity() == 0) strings.reserve(512);
        strings.push_back(copy);
    } catch (const std::bad_alloc&) {
        return SoupSlotID();
    }
    if (!Enter(index, indexUsed, strings, slot, hash)) {
        strings.pop_back();
        return SoupSlotID();
    }
    return SoupSlotID(slot);
}

template <class Less>
bool CStrSoupTmplt<Less>::Adopt(std::vector<wchar_t*>& fresh, SoupTextArena& freshTexts, const int32_t* slots,
                                const uint32_t* hashes) {
    std::vector<Bucket> freshIndex;
    size_t freshUsed = 0;
    size_t buckets = 64;
    while (fresh.size() * 4 > buckets * 3) buckets *= 2;
    try {
        freshIndex.assign(buckets, Bucket{0, -1});
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Later duplicates win, as Add leaves them.
    for (size_t i = 0; i < fresh.size(); ++i) {
        const int32_t slot = static_cast<int32_t>(i);
        const bool entered =
            hashes ? Enter(freshIndex, freshUsed, fresh, slot, hashes[i]) : Enter(freshIndex, freshUsed, fresh, slot);
        if (!entered) return false;
    }
    AutoLock hold(&lock);
    strings.swap(fresh);
    texts.Swap(freshTexts);
    index.swap(freshIndex);
    std::swap(indexUsed, freshUsed);
    std::memcpy(propertySlots, slots, sizeof propertySlots);
    return true;
}

template class CStrSoupTmplt<LessSensitive>;
