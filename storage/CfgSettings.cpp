// Compiled settings of one PPD: compiling, the cache file (read, checked, written) and
// the objects built from the sections.
#include "storage/CfgSettings.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstring>
#include <list>
#include <new>
#include <typeinfo>
#include <utility>

#include "foundation/StrUtil.h"
#include "ppd/PPDSettings.h"
#include "settings/CompiledKeyRecord.h"
#include "settings/KeyFactory.h"
#include "settings/KeyOptSetting.h"
#include "settings/KeyRecords.h"
#include "settings/PropertyNames.h"

namespace {

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }
void PutU16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// The order in which key sections are exported and loaded (the slot ids of a soup depend on it).
constexpr int kKeySectionOrder[7] = {0, 1, 2, 5, 3, 4, 6};

// String callback of the exports: the text's slot in the keyword soup, whose lock the
// caller holds (CStrSoup::Hold: one hold per export, not one per text); -1 for an empty
// text; -2 (which fails the export) when the text cannot be stored.
int InternHeld(void* user, const wchar_t* text, int) {
    if (!text || !*text) return -1;
    const SoupSlotID slot = static_cast<CStrSoup*>(user)->FindOrAddHeld(text);
    return slot.IsValid() ? slot.GetIndex() : -2;
}

// Whether a NUL lies in the n bytes at p, looked for a word at a time (the runtime's memchr
// is a call of its own for each of a soup's strings).
bool HasNul(const uint8_t* p, size_t n) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, p + i, sizeof v);
        if ((v - kOnes) & ~v & kHighs) return true;
    }
    for (; i < n; ++i)
        if (!p[i]) return true;
    return false;
}

// Reads until bytes bytes are in or the source ends; returns how many came.
uint32_t ReadUpTo(PPDParser::CBaseIOPlugIn* source, uint8_t* buffer, uint32_t bytes) {
    uint32_t got = 0;
    while (got < bytes) {
        const unsigned n = source->Read(buffer + got, bytes - got);
        if (n == 0 || n > bytes - got) break;
        got += n;
    }
    return got;
}

// One file-image buffer handed from a load that ended to the next load of the process. A fresh
// block of this size page-faults every page it is read into, and a large one is given back to
// the system when freed, so a kept warm buffer makes most loads touch no new memory.
constexpr uint32_t kSpareImageMaxBytes = 4u * 1024 * 1024;
SRWLOCK g_spareImageLock = SRWLOCK_INIT;
uint8_t* g_spareImage = nullptr;
uint32_t g_spareImageCapacity = 0;

struct SpareImageRelease {
    ~SpareImageRelease() {
        delete[] g_spareImage;
        g_spareImage = nullptr;  // nothing left dangling for a generation freed after this
        g_spareImageCapacity = 0;
    }
} g_spareImageRelease;

// Takes the kept buffer (null and 0 when there is none).
std::unique_ptr<uint8_t[]> TakeSpareImage(uint32_t& capacity) {
    AcquireSRWLockExclusive(&g_spareImageLock);
    std::unique_ptr<uint8_t[]> bytes(g_spareImage);
    capacity = g_spareImageCapacity;
    g_spareImage = nullptr;
    g_spareImageCapacity = 0;
    ReleaseSRWLockExclusive(&g_spareImageLock);
    return bytes;
}

// Keeps the larger of the buffer and the one kept already; the other is freed.
void GiveSpareImage(std::unique_ptr<uint8_t[]> bytes, uint32_t capacity) {
    if (!bytes || capacity > kSpareImageMaxBytes) return;
    AcquireSRWLockExclusive(&g_spareImageLock);
    if (capacity > g_spareImageCapacity) {
        uint8_t* old = g_spareImage;
        g_spareImage = bytes.release();
        g_spareImageCapacity = capacity;
        bytes.reset(old);
    }
    ReleaseSRWLockExclusive(&g_spareImageLock);
}

bool WriteFully(PPDParser::CBaseIOPlugIn* sink, const uint8_t* buffer, uint32_t bytes) {
    uint32_t put = 0;
    while (put < bytes) {
        const unsigned n = sink->Write(buffer + put, bytes - put);
        if (n == 0) return false;
        put += n;
    }
    return true;
}

// Renames an open file (opened with DELETE access) to path, replacing a file of that name.
bool RenameOpenFile(HANDLE file, const wchar_t* path) {
    const size_t chars = wcslen(path);
    const size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + (chars + 1) * sizeof(wchar_t);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]());
    if (!buffer) return false;
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(chars * sizeof(wchar_t));
    std::memcpy(info->FileName, path, (chars + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(bytes)) != FALSE;
}

// Writes the pieces in order; false when one is not written whole.
bool WritePieces(HANDLE file, const CfgFilePiece* pieces, int count) {
    for (int i = 0; i < count; ++i) {
        DWORD put = 0;
        if (!WriteFile(file, pieces[i].data, pieces[i].size, &put, nullptr) || put != pieces[i].size) return false;
    }
    return true;
}

// Writes the cache when no file of its name exists yet. Created exclusively (CREATE_NEW) and
// unshared, it cannot be opened by a reader until it is closed whole, a writer that comes
// second finds the name taken and goes the temporary-file way (whose rename cannot replace
// a file held open), and a file cut short by a crash fails its size and hash when read. A
// failed write deletes the file through its handle: there was no former cache to keep.
// Writing in place spares the temporary file's create and the rename's look-up of the
// absent name, each a scan of the folder under Wine. False when nothing was written.
bool WriteNewCacheFile(const wchar_t* path, const CfgFilePiece* pieces, int count) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = WritePieces(file, pieces, count);
    if (!written) {
        FILE_DISPOSITION_INFO drop{TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &drop, sizeof drop);
    }
    if (!CloseHandle(file) && written) {
        DeleteFileW(path);  // not known to be whole
        written = false;
    }
    return written;
}

// Closes a plug-in when the scope ends.
struct CloseOnExit {
    PPDParser::CBaseIOPlugIn* source;
    ~CloseOnExit() {
        if (source) source->Close();
    }
};

CBaseSoup* SoupOfSettings(CfgSettings* settings) { return settings ? settings->GetStringSoup() : nullptr; }

// The extents of a key block's items: item i runs from its offset to the next one (the
// last to the block's end). Only for blocks that passed ValidateKeySection.
struct ItemWalker {
    const uint8_t* block;
    uint32_t size;
    uint32_t count;
    uint32_t Offset(uint32_t i) const { return GetU32(block + kCfgTableOffset + 4 * i); }
    uint32_t End(uint32_t i) const { return i + 1 < count ? Offset(i + 1) : size; }
};

// Calls f(setting) for every item of the block, in item order, whose key the cache holds.
// f returns false to stop the walk; the result is false when it did.
template <class F>
bool ForEachItemSetting(const ItemWalker& walker, KVCache* settings, F f) {
    for (uint32_t i = 0; i < walker.count; ++i) {
        const uint32_t offset = walker.Offset(i);
        if (offset + 6 > walker.size) break;
        const CompiledKeyRecord record{walker.block + offset, walker.End(i) - offset};
        if (CKeySetting* setting = settings->Find(record.GetKeyId()))
            if (!f(setting)) return false;
    }
    return true;
}

bool MakeWalker(const uint8_t* block, uint32_t size, ItemWalker& walker) {
    if (!block || size < PPDParser::kBlockHeaderSize) return false;
    walker = {block, size, GetU32(block + 10)};
    return true;
}

// Sections with soup-string keys hand those keys a private soup of their own, primed by asking
// every setting of the cache for its size with it. False only when the soup cannot be made.
bool MakePrivateSoup(const ItemWalker& walker, KVCache* settings, std::unique_ptr<CStrSoup>& soup) {
    if (GetU32(walker.block + 30) == 0) return true;
    soup.reset(new (std::nothrow) CStrSoup());
    if (!soup) return false;
    for (auto it = settings->Begin(); it != settings->End(); ++it)
        if (CKeySetting* s = settings->GetAt(it)) s->GetData(soup.get(), nullptr, 0);
    return true;
}

// Writes every value of the section once into scratch, in item order, with the private soup,
// so that the soup holds every text before the values are written for real.
bool PrimeSoupByWriting(const ItemWalker& walker, KVCache* settings, CStrSoup* soup) {
    std::unique_ptr<uint8_t[]> scratch;
    unsigned scratchSize = 0;
    return ForEachItemSetting(walker, settings, [&](CKeySetting* setting) {
        const unsigned need = setting->GetData(soup, nullptr, 0);
        if (need > scratchSize) {
            scratch.reset(new (std::nothrow) uint8_t[need]);
            scratchSize = scratch ? need : 0;
            if (!scratch) return false;
        }
        if (need) setting->GetData(soup, scratch.get(), need);
        return true;
    });
}

}  // namespace

const CfgSectionDescriptor kCfgSectionTable[kCfgSectionCount] = {
    {CFG_SECTION_GENERAL_KEYS, kCfgKindKeys, 1},
    {CFG_SECTION_INSTALLABLE_KEYS, kCfgKindKeys, 2},
    {CFG_SECTION_DRIVERPROP_KEYS, kCfgKindKeys, 3},
    {CFG_SECTION_GROUP_KEYS, kCfgKindKeys, 5},
    {CFG_SECTION_PSDM_KEYS, kCfgKindKeys, 4},
    {CFG_SECTION_VYRUI_KEYS, kCfgKindKeys, 6},
    {CFG_SECTION_VYRNONUI_KEYS, kCfgKindKeys, 7},
    {CFG_SECTION_VYRUI_DEFAULTS, kCfgKindDerived, 8},
    {CFG_SECTION_GROUP_DEFAULTS, kCfgKindDerived, 8},
    {CFG_SECTION_PSDM_DEFAULTS, kCfgKindDerived, 8},
    {CFG_SECTION_SOUP, kCfgKindSoup, 8},
    {CFG_SECTION_CONSTRAINTS, kCfgKindConstraints, 8},
    {CFG_SECTION_CONSTRAINTS_ALT, kCfgKindConstraints, 8},
};

int64_t GetFileModificationTime(const wchar_t* path) noexcept {
    if (!path || !*path) return 0;
    struct _stat64 info;
    if (_wstat64(path, &info) != 0) return 0;
    return static_cast<int64_t>(info.st_mtime);
}

uint64_t ComputeCfgFileHash(const uint8_t* file, uint32_t size) noexcept {
    if (!file) return 0;
    // The first block with the hash field read as zero; a file shorter than a block is all
    // tail, hashed as it is.
    if (size < 32) {
        const CfgFilePiece whole{file, size};
        return ComputeCfgFileHash(&whole, 1);
    }
    static_assert(kCfgHashOffset + 8 <= 32, "the hash field lies in the first block");
    uint8_t first[32];
    std::memcpy(first, file, sizeof first);
    std::memset(first + kCfgHashOffset, 0, 8);
    const CfgFilePiece pieces[2] = {{first, 32}, {file + 32, size - 32}};
    return ComputeCfgFileHash(pieces, 2);
}

uint64_t ComputeCfgFileHash(const CfgFilePiece* pieces, int count) noexcept {
    // Four independent multiply-xor lanes over 8-byte words, quick enough that checking a
    // large cache costs far less than reading it: 32-byte blocks, the first without the
    // shift (its words hold the zero hash field), then the tail byte by byte. A block that
    // spans two pieces is gathered; the others are read in place.
    constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ull;
    uint64_t lane[4] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull, 0x082EFA98EC4E6C89ull};
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) total += pieces[i].size;
    if (total > 0xFFFFFFFFull) return 0;
    const uint32_t size = static_cast<uint32_t>(total);
    const uint32_t blocks = size / 32;  // whole blocks; what follows is the tail
    uint32_t done = 0;                  // blocks taken
    uint8_t gathered[32];
    uint32_t held = 0;  // bytes in gathered
    uint64_t h = size;
    auto take = [&](const uint8_t* block) {
        for (int l = 0; l < 4; ++l) {
            uint64_t v;
            std::memcpy(&v, block + 8 * l, 8);
            lane[l] = (lane[l] ^ v) * kPrime;
            if (done != 0) lane[l] ^= lane[l] >> 29;
        }
        ++done;
    };
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = pieces[i].data;
        uint32_t left = pieces[i].size;
        while (left) {
            if (done == blocks) {  // the tail
                for (; left; --left) h = (h ^ *p++) * 0x100000001B3ull;
                break;
            }
            if (held == 0 && left >= 32) {
                take(p);
                p += 32;
                left -= 32;
                continue;
            }
            const uint32_t n = left < 32 - held ? left : 32 - held;
            std::memcpy(gathered + held, p, n);
            held += n;
            p += n;
            left -= n;
            if (held == 32) {
                take(gathered);
                held = 0;
            }
        }
    }
    for (int l = 0; l < 4; ++l) {
        h ^= lane[l] + kPrime + (h << 6) + (h >> 2);
        h *= kPrime;
    }
    return h ^ (h >> 31);
}

bool ValidateKeySection(const uint8_t* block, uint32_t size, uint32_t soupCount) noexcept {
    if (!block || size < PPDParser::kBlockHeaderSize) return false;
    if (GetU32(block + 2) != PPDParser::kBlockHeaderSize || GetU32(block + 6) != size) return false;
    const uint32_t count = GetU32(block + 10);
    if (count > (size - PPDParser::kBlockHeaderSize) / 4) return false;
    const uint64_t tableEnd = PPDParser::kBlockHeaderSize + 4ull * count;
    uint64_t previous = tableEnd;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = GetU32(block + kCfgTableOffset + 4 * i);
        const uint32_t end = i + 1 < count ? GetU32(block + kCfgTableOffset + 4 * (i + 1)) : size;
        if (offset < previous || end <= offset || end > size) return false;
        previous = end;
        // Every record begins with its type, size and key id; the id must name a string.
        const uint32_t extent = end - offset;
        if (extent < 6) return false;
        const uint8_t* record = block + offset;
        const int type = GetU16(record);
        if (type > kRecordTable) return false;
        const int16_t keyId = static_cast<int16_t>(GetU16(record + 4));
        if (keyId < 0 || static_cast<uint32_t>(keyId) >= soupCount) return false;
        if (type == kRecordOption) {
            if (extent < KeyRecordOffset::kOptionEntries) return false;
            const uint64_t need = KeyRecordOffset::kOptionEntries +
                                  KeyRecordOffset::kOptionEntrySize * uint64_t(GetU16(record + KeyRecordOffset::kOptionCount)) +
                                  2ull * GetU16(record + KeyRecordOffset::kIdListCount);
            if (need > extent) return false;
        }
    }
    return true;
}

bool ValidateSoupBlob(const uint8_t* blob, uint32_t size, uint32_t* count) noexcept {
    if (count) *count = 0;
    if (!blob || size < kSoupBlobHeaderSize) return false;
    // The same checks as the soup's own reader, without building the strings.
    const uint32_t headerSize = GetU32(blob);
    if (headerSize > kSoupBlobHeaderSize || headerSize < 16) return false;
    if (GetU32(blob + 8) > size) return false;
    const uint32_t n = GetU32(blob + 12);
    if (headerSize + 4ull * n > size) return false;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t offset = GetU32(blob + headerSize + 4ull * i);
        if (offset == 0) continue;
        if (offset >= size || !HasNul(blob + offset, size - offset)) return false;
    }
    if (count) *count = n;
    return true;
}

bool ValidateConstraintSection(const uint8_t* block, uint32_t size, uint32_t soupCount) noexcept {
    if (!block || size < 52) return false;
    if (GetU16(block) != 0 || GetU32(block + 2) != 42 || GetU32(block + 6) != size || GetU32(block + 10) != 1 ||
        GetU32(block + 42) != 46 || GetU16(block + 46) != 11)
        return false;
    for (uint32_t i = 14; i < 42; ++i)
        if (block[i]) return false;
    const uint32_t entries = GetU32(block + 48);
    // Each entry takes at least 18 bytes.
    if (entries > (size - 52) / 18) return false;
    auto slotOk = [&](int32_t slot, bool anyAllowed) {
        if (slot == -1) return anyAllowed;
        return slot >= 0 && static_cast<uint32_t>(slot) < soupCount;
    };
    uint32_t pos = 52;
    for (uint32_t e = 0; e < entries; ++e) {
        if (size - pos < 10) return false;
        const uint32_t n = GetU16(block + pos);
        if (n == 0 || (size - pos - 10) / 8 < n) return false;
        if (!slotOk(GetI32(block + pos + 2), false) || !slotOk(GetI32(block + pos + 6), true)) return false;
        const uint8_t* pair = block + pos + 10;
        for (uint32_t k = 0; k < n; ++k, pair += 8)
            if (!slotOk(GetI32(pair), false) || !slotOk(GetI32(pair + 4), true)) return false;
        pos += 10 + 8 * n;
    }
    return pos == size;
}

// ---------------------------------------------------------------------------------

CfgSettings::CfgSettings(const wchar_t* ppdPath, PPDParser::CFileIOPlugIn* ppdSource,
                         PPDParser::CFileIOPlugIn* cacheSource, const wchar_t* extensionName,
                         PPDParser::CResIOPlugIn* extensionSource)
    : m_ppdSource(ppdSource), m_extensionSource(extensionSource), m_cacheSource(cacheSource) {
    SetCfgSettingsSoupAccessor(&SoupOfSettings);
    PutU32(m_header + kCfgLocaleSlotOffset, 0xFFFFFFFFu);
    if (ppdPath && *ppdPath) m_path.reset(StrDup(ppdPath));
    if (extensionName && *extensionName && extensionSource) m_extensionName.reset(StrDup(extensionName));
    m_valid = m_path && cacheSource && cacheSource->GetName();
}

CfgSettings::~CfgSettings() {
    ResetBuilt();
    if (m_liveCounter) InterlockedDecrement(m_liveCounter.get());
}

void CfgSettings::SetLiveCounter(std::shared_ptr<volatile LONG> counter) {
    if (m_liveCounter) InterlockedDecrement(m_liveCounter.get());
    m_liveCounter = std::move(counter);
    if (m_liveCounter) InterlockedIncrement(m_liveCounter.get());
}

void CfgSettings::AddUser() {
    AcquireSRWLockExclusive(&m_userLock);
    ++m_users;
    ReleaseSRWLockExclusive(&m_userLock);
}

void CfgSettings::ReleaseUser() {
    AcquireSRWLockExclusive(&m_userLock);
    if (m_users > 0) --m_users;
    const bool last = m_users == 0 && m_retired;
    ReleaseSRWLockExclusive(&m_userLock);
    if (last) delete this;
}

LONG CfgSettings::GetUserCount() const {
    AcquireSRWLockShared(&m_userLock);
    const LONG users = m_users;
    ReleaseSRWLockShared(&m_userLock);
    return users;
}

bool CfgSettings::NeedsNewGeneration() const {
    if (!m_valid || m_retired || m_holds != 0 || !m_loaded) return false;
    return m_generationBad || GetFileModificationTime(m_path.get()) != m_ppdTime;
}

void CfgSettings::Retire() {
    // Whatever is built lazily is built now, while the owner still holds the lock.
    if (m_loaded && !m_generationBad) {
        GetDefaultSettings();
        GetConstraints(true);
        GetConstraints(false);
    }
    AcquireSRWLockExclusive(&m_userLock);
    m_retired = true;
    const bool unused = m_users == 0;
    ReleaseSRWLockExclusive(&m_userLock);
    if (unused) delete this;
}

const CfgSectionDescriptor* CfgSettings::GetSectionDescriptor(int section) {
    if (section < 0 || section >= kCfgSectionCount) return nullptr;
    const CfgSectionDescriptor& row = kCfgSectionTable[section];
    return row.section == section ? &row : nullptr;
}

void CfgSettings::FreeSections() {
    for (Section& s : m_sections) {
        s.owned.reset();
        s.data = nullptr;
        s.size = 0;
    }
    GiveSpareImage(std::move(m_fileImage), m_fileCapacity);
    m_fileCapacity = 0;
}

void CfgSettings::ResetBuilt() {
    m_constraints[0].Clear();
    m_constraints[1].Clear();
    m_keyForest.Clear();
    m_defaults.Clear();
    m_soup.Clear();
    m_compileSoup.Clear();
    FreeSections();
    m_soupReady = m_defaultsReady = m_generationBad = false;
    m_constraintsReady[0] = m_constraintsReady[1] = false;
    m_loaded = m_fromCache = false;
    m_localeSlot = SoupSlotID();
}

void CfgSettings::Unload() {
    if (GetUserCount() == 0) ResetBuilt();  // users keep what they were made from
}

void CfgSettings::BeginHold() {
    m_holder = GetCurrentThreadId();
    if (m_holds++ == 0 && m_loaded && m_valid && !m_retired && GetUserCount() == 0) {
        // A PPD replaced or touched under a long-lived process is seen here. With users the
        // generation stays as it is: the manager gives new users a new one.
        if (m_generationBad || GetFileModificationTime(m_path.get()) != m_ppdTime) ResetBuilt();
    }
}

bool CfgSettings::EndHold() {
    if (m_holds <= 0 || m_holder != GetCurrentThreadId()) return false;
    if (--m_holds == 0) m_holder = 0;
    return true;
}

void CfgSettings::TakeHeader(const uint8_t* header) {
    std::memcpy(m_header, header, kCfgHeaderSize);
    m_codePage = static_cast<UINT>(GetI32(header + kCfgCodePageOffset));
    m_languageId = static_cast<LANGID>(GetI32(header + kCfgLanguageOffset));
    m_localeSlot = SoupSlotID(GetI32(header + kCfgLocaleSlotOffset));
}

bool CfgSettings::EnsureLoaded() {
    if (!m_valid) return false;
    if (m_loaded || m_retired) return m_loaded;
    // The PPD's time is taken before it is read, so a change while compiling shows as a
    // stale cache next time rather than a current one.
    const int64_t ppdTime = GetFileModificationTime(m_path.get());
    if (ppdTime != 0 && ReadCacheFile(ppdTime)) return true;
    if (!CompileAt(ppdTime)) return false;
    WriteCacheFile();  // a folder without write access still has the sections in memory
    return true;
}

bool CfgSettings::ReadCacheFile(int64_t ppdTime) {
    if (!m_cacheSource->Open(PPDParser::kModeRead)) return false;
    CloseOnExit closer{m_cacheSource};
    // The whole file in as few reads as it takes: into the warm buffer of an earlier load when
    // there is one (the file usually fits), else the header first and then the rest into a
    // buffer of the size it gives. A buffer always has room for one byte more than the file
    // should hold, so a file longer than it says shows in the same reads.
    struct Buffer {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t capacity = 0;
        ~Buffer() { GiveSpareImage(std::move(bytes), capacity); }  // unless the load kept it
    } file;
    file.bytes = TakeSpareImage(file.capacity);
    uint8_t headerOnly[kCfgHeaderSize];
    uint8_t* first = file.bytes ? file.bytes.get() : headerOnly;
    const uint32_t got = ReadUpTo(m_cacheSource, first, file.bytes ? file.capacity : kCfgHeaderSize);
    if (got < kCfgHeaderSize) return false;
    const uint32_t total = GetU32(first + 6);
    if (GetU16(first) != 0 || GetU32(first + 2) != kCfgTableOffset || GetU32(first + 10) != kCfgSectionCount ||
        total < kCfgHeaderSize || total > kCfgMaxFileSize)
        return false;
    for (uint32_t i = kCfgHashOffset + 8; i < kCfgTableOffset; ++i)
        if (first[i]) return false;
    if (static_cast<int64_t>(GetU64(first + kCfgTimeOffset)) != ppdTime) return false;
    if (!file.bytes || total >= file.capacity) {
        // It does not fit: a buffer of its size and a byte, the part read moved over.
        if (got > total) return false;
        std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[total + 1ull]);
        if (!bigger) return false;
        std::memcpy(bigger.get(), first, got);
        if (ReadUpTo(m_cacheSource, bigger.get() + got, total + 1 - got) != total - got)
            return false;  // cut short, or longer than it says
        GiveSpareImage(std::move(file.bytes), file.capacity);
        file.bytes = std::move(bigger);
        file.capacity = total + 1;
    } else if (got != total) {
        return false;  // the source ended before the buffer was full: shorter or longer than it says
    }
    const uint8_t* header = file.bytes.get();
    if (ComputeCfgFileHash(header, total) != GetU64(header + kCfgHashOffset)) return false;

    // Rows: numbered by position, contiguous from the header on, covering the file exactly.
    uint32_t running = kCfgHeaderSize;
    uint32_t offsets[kCfgSectionCount] = {};
    uint32_t sizes[kCfgSectionCount] = {};
    for (int i = 0; i < kCfgSectionCount; ++i) {
        const uint8_t* row = header + kCfgTableOffset + kCfgRowSize * i;
        const int32_t number = GetI32(row);
        const uint32_t offset = GetU32(row + 4), size = GetU32(row + 8);
        if (number == 0 && offset == 0 && size == 0) continue;
        if (number != i || size == 0 || offset != running || size > total - running) return false;
        offsets[i] = offset;
        sizes[i] = size;
        running += size;
    }
    if (running != total) return false;
    // The key sections, the soup and both constraint sections always exist after a compile.
    for (int s : kKeySectionOrder)
        if (!sizes[s]) return false;
    if (!sizes[CFG_SECTION_SOUP] || !sizes[CFG_SECTION_CONSTRAINTS] || !sizes[CFG_SECTION_CONSTRAINTS_ALT])
        return false;

    // The soup is only checked here; it is turned into strings on first use, so asking
    // for a section size (every device-mode request) does not pay for that.
    uint32_t soupCount = 0;
    if (!ValidateSoupBlob(header + offsets[CFG_SECTION_SOUP], sizes[CFG_SECTION_SOUP], &soupCount)) return false;
    const int32_t locale = GetI32(header + kCfgLocaleSlotOffset);
    bool ok = locale >= 0 && static_cast<uint32_t>(locale) < soupCount;
    // Each key section is its parser group's block (a section moved to another row shows).
    for (int s : kKeySectionOrder)
        ok = ok && ValidateKeySection(header + offsets[s], sizes[s], soupCount) &&
             GetU16(header + offsets[s]) == kCfgSectionTable[s].parserGroup;
    for (int s : {CFG_SECTION_CONSTRAINTS, CFG_SECTION_CONSTRAINTS_ALT})
        ok = ok && ValidateConstraintSection(header + offsets[s], sizes[s], soupCount);
    if (!ok) return false;
    ResetBuilt();
    m_fileImage = std::move(file.bytes);
    m_fileCapacity = file.capacity;
    file.capacity = 0;
    for (int i = 0; i < kCfgSectionCount; ++i) {
        m_sections[i].data = sizes[i] ? m_fileImage.get() + offsets[i] : nullptr;
        m_sections[i].size = sizes[i];
    }
    TakeHeader(header);
    m_soupReady = false;
    m_ppdTime = ppdTime;
    m_loaded = m_fromCache = true;
    return true;
}

bool CfgSettings::Compile() {
    if (!m_valid || m_retired || GetUserCount() > 0) return false;
    const int64_t ppdTime = GetFileModificationTime(m_path.get());
    return CompileAt(ppdTime);
}

bool CfgSettings::CompileAt(int64_t ppdTime) {
    if (!m_valid) return false;
    ResetBuilt();
    try {
        std::unique_ptr<uint8_t[]> constraints;
        unsigned constraintSize = 0;
        SoupSlotID localeSlot;
        UINT codePage = CP_THREAD_ACP;
        LANGID languageId = 0;
        bool ok = false;
        {
            PPDParser::CPPDSettings parser(m_ppdSource);
            if (!parser.Parse(m_path.get())) return false;
            if (m_extensionName && !parser.Parse(m_extensionName.get(), m_extensionSource)) return false;
            if (!parser.BuildGroups()) return false;
            const wchar_t* locale = parser.GetLocaleName();
            if (!locale || !*locale) return false;
            localeSlot = m_soup.FindOrAdd(locale);
            if (localeSlot.IsInvalid()) return false;
            ok = BuildKeySections(parser) && BuildDefaultSettings(kKeySectionOrder, 7);
            m_defaultsReady = ok;
            m_soupReady = ok;
            ok = ok && ExportConstraintBlock(parser, constraints, constraintSize);
            codePage = parser.GetCodePage();
            languageId = parser.GetLanguageId();
        }
        // The parser is gone: the memory it held (a large PPD's dozen arena chunks) is warm
        // for the constraint work, which would otherwise take fresh pages.
        ok = ok && BuildConstraintSections(constraints.get(), constraintSize) && BuildSoupSection() &&
             BuildDefaultValueSections();
        if (!ok) {
            ResetBuilt();
            return false;
        }
        m_codePage = codePage;
        m_languageId = languageId;
        m_localeSlot = localeSlot;
    } catch (...) {
        ResetBuilt();
        return false;
    }
    m_ppdTime = ppdTime;
    m_loaded = true;
    m_fromCache = false;
    return true;
}

bool CfgSettings::BuildKeySections(PPDParser::CPPDSettings& parser) {
    // Each group is exported straight into scratch room, which spares the size query (a
    // whole pass of the export) for every group that fits; a larger one is sized first.
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[kExportScratchSize]);
    if (!scratch) return false;
    CStrSoup::Hold hold(m_soup);
    for (int section : kKeySectionOrder) {
        const int group = kCfgSectionTable[section].parserGroup;
        std::unique_ptr<uint8_t[]> bytes;
        unsigned got = parser.ExportGroup(group, &InternHeld, &m_soup, scratch.get(), kExportScratchSize);
        if (got == 0) return false;  // a string id beyond 16 bits
        if (got <= kExportScratchSize) {
            if (got < PPDParser::kBlockHeaderSize) return false;
            bytes.reset(new (std::nothrow) uint8_t[got]);
            if (!bytes) return false;
            std::memcpy(bytes.get(), scratch.get(), got);
        } else {
            const unsigned need = parser.ExportGroup(group, &InternHeld, &m_soup, nullptr, 0);
            if (need < PPDParser::kBlockHeaderSize) return false;
            bytes.reset(new (std::nothrow) uint8_t[need]);
            if (!bytes) return false;
            got = parser.ExportGroup(group, &InternHeld, &m_soup, bytes.get(), need);
            if (got == 0 || got > need) return false;
        }
        // A block shorter than its query keeps its own total; the section is the block.
        PutU32(bytes.get() + 6, got);
        m_sections[section].Own(std::move(bytes), got);
    }
    return true;
}

bool CfgSettings::BuildSoupSection() {
    const uint32_t need = m_soup.Serialize(nullptr, 0);
    if (need == 0) return false;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[need]);
    if (!bytes || m_soup.Serialize(bytes.get(), need) != need) return false;
    m_sections[CFG_SECTION_SOUP].Own(std::move(bytes), need);
    return true;
}

bool CfgSettings::BuildDefaultValueSections() {
    static constexpr int kPairs[3][2] = {{CFG_SECTION_VYRUI_KEYS, CFG_SECTION_VYRUI_DEFAULTS},
                                         {CFG_SECTION_GROUP_KEYS, CFG_SECTION_GROUP_DEFAULTS},
                                         {CFG_SECTION_PSDM_KEYS, CFG_SECTION_PSDM_DEFAULTS}};
    for (const auto& pair : kPairs) {
        const uint32_t need = WriteSectionValues(&m_defaults, pair[0], nullptr, 0);
        if (need == 0) continue;  // no values: the section stays absent
        std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[need]);
        if (!bytes) return false;
        std::memset(bytes.get(), 0, need);
        const uint32_t got = WriteSectionValues(&m_defaults, pair[0], bytes.get(), need);
        if (got != need) return false;
        m_sections[pair[1]].Own(std::move(bytes), need);
    }
    return true;
}

bool CfgSettings::WriteCacheFile() {
    if (!m_valid || !m_loaded || m_retired) return false;
    uint8_t header[kCfgHeaderSize] = {};
    uint32_t total = kCfgHeaderSize;
    for (int i = 0; i < kCfgSectionCount; ++i) {
        if (!m_sections[i].data || !m_sections[i].size) continue;
        uint8_t* row = header + kCfgTableOffset + kCfgRowSize * i;
        PutU32(row, static_cast<uint32_t>(i));
        PutU32(row + 4, total);
        PutU32(row + 8, m_sections[i].size);
        if (m_sections[i].size > kCfgMaxFileSize - total) return false;
        total += m_sections[i].size;
    }
    if (total <= kCfgHeaderSize || m_ppdTime == 0) return false;
    PutU16(header, 0);
    PutU32(header + 2, kCfgTableOffset);
    PutU32(header + 6, total);
    PutU32(header + 10, kCfgSectionCount);
    PutU64(header + kCfgTimeOffset, static_cast<uint64_t>(m_ppdTime));
    PutU32(header + kCfgCodePageOffset, m_codePage);
    PutU32(header + kCfgLanguageOffset, m_languageId);
    PutU32(header + kCfgLocaleSlotOffset, static_cast<uint32_t>(m_localeSlot.GetIndex()));

    // The header and the sections are written as they lie: an image of the whole file would be
    // hundreds of KB of fresh memory for a large PPD, dearer to touch than the write itself.
    CfgFilePiece pieces[1 + kCfgSectionCount];
    int count = 0;
    pieces[count++] = CfgFilePiece{header, kCfgHeaderSize};
    for (int i = 0; i < kCfgSectionCount; ++i)
        if (m_sections[i].data && m_sections[i].size) pieces[count++] = CfgFilePiece{m_sections[i].data, m_sections[i].size};
    PutU64(header + kCfgHashOffset, ComputeCfgFileHash(pieces, count));

    const wchar_t* cachePath = m_cacheSource->GetName();
    if (typeid(*m_cacheSource) == typeid(PPDParser::CFileIOPlugIn) && WriteNewCacheFile(cachePath, pieces, count)) {
        std::memcpy(m_header, header, kCfgHeaderSize);
        return true;
    }
    // A cache exists (or the exclusive create failed): a temporary file beside it, then
    // replaced in one step, so a reader never sees a half-written cache and a failed write
    // leaves the former file alone.
    wchar_t tempPath[MAX_PATH];
    if (FormatToBuffer(tempPath, MAX_PATH, L"%s.%X-%X.tmp", cachePath, GetCurrentProcessId(), GetCurrentThreadId()) <= 0)
        return false;
    bool written = false;
    if (typeid(*m_cacheSource) == typeid(PPDParser::CFileIOPlugIn)) {
        // A plain file: the temporary file is renamed over the cache through its own handle,
        // which spares the path look-ups of a rename by name (each a directory scan under
        // Wine in a folder full of PPDs).
        HANDLE temp = CreateFileW(tempPath, GENERIC_WRITE | DELETE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (temp == INVALID_HANDLE_VALUE) return false;
        written = WritePieces(temp, pieces, count);
        if (written) written = RenameOpenFile(temp, cachePath);
        written = CloseHandle(temp) && written;
    } else {
        std::unique_ptr<PPDParser::CBaseFileIOPlugIn> temp(m_cacheSource->Clone(tempPath, 0));
        if (!temp || !temp->Open(PPDParser::kModeWrite)) return false;
        written = true;
        for (int i = 0; i < count && written; ++i) written = WriteFully(temp.get(), pieces[i].data, pieces[i].size);
        written = temp->Close() && written;
        if (written) written = MoveFileExW(tempPath, cachePath, MOVEFILE_REPLACE_EXISTING) != 0;
    }
    if (!written) {
        DeleteFileW(tempPath);
        return false;
    }
    std::memcpy(m_header, header, kCfgHeaderSize);
    return true;
}

uint32_t CfgSettings::GetSectionSize(int section) {
    if (section < 0 || section >= kCfgSectionCount || !EnsureLoaded()) return 0;
    // Sizes come from the sections in memory, so a process that cannot write the cache
    // still sizes the device mode right.
    return m_sections[section].size;
}

const uint8_t* CfgSettings::GetSection(int section) {
    if (section < 0 || section >= kCfgSectionCount || !EnsureLoaded()) return nullptr;
    return m_sections[section].data;
}

const uint8_t* CfgSettings::GetSectionData(int section, uint32_t* size) {
    if (size) *size = 0;
    const uint8_t* bytes = GetSection(section);
    if (bytes && size) *size = m_sections[section].size;
    return bytes;
}

CBaseSoup* CfgSettings::GetStringSoup() {
    if (!EnsureLoaded() || m_generationBad) return nullptr;
    if (!m_soupReady) {
        const Section& soup = m_sections[CFG_SECTION_SOUP];
        if (!m_soup.Deserialize(soup.data, soup.size)) {
            // Checked when read, so only memory can fail here: these settings stay
            // unusable until the next outermost hold builds them again.
            m_generationBad = true;
            return nullptr;
        }
        m_soupReady = true;
    }
    return &m_soup;
}

KVCache* CfgSettings::GetDefaultSettings() {
    if (!EnsureLoaded()) return nullptr;
    if (m_defaultsReady) return &m_defaults;
    if (!GetStringSoup() || !BuildDefaultSettings(kKeySectionOrder, 7)) return nullptr;
    m_defaultsReady = true;
    return &m_defaults;
}

OptionForest* CfgSettings::GetKeyForest() { return GetDefaultSettings() ? &m_keyForest : nullptr; }

UINT CfgSettings::GetCodePage() {
    EnsureLoaded();
    return m_codePage;
}

LANGID CfgSettings::GetLanguageId() {
    EnsureLoaded();
    return m_languageId;
}

const wchar_t* CfgSettings::GetLanguageCode() {
    CBaseSoup* soup = GetStringSoup();
    return soup ? soup->GetString(m_localeSlot) : nullptr;
}

bool CfgSettings::HeldKeySection(int section) const {
    const CfgSectionDescriptor* row = GetSectionDescriptor(section);
    return row && row->kind == kCfgKindKeys && m_sections[section].data &&
           m_sections[section].size >= PPDParser::kBlockHeaderSize;
}

bool CfgSettings::LoadSectionSettings(int section, KVCache* cache, OptionForest* forest, IdListForest* idForest) {
    if (!m_valid || !HeldKeySection(section)) return false;
    ItemWalker walker;
    if (!MakeWalker(m_sections[section].data, m_sections[section].size, walker)) return false;
    // While compiling the soup is being filled; a loaded generation builds it first.
    CBaseSoup* soup = m_loaded ? GetStringSoup() : &m_soup;
    if (!soup) return false;
    SpecialKeySlots specials(soup);
    for (uint32_t i = 0; i < walker.count; ++i) {
        const uint32_t offset = walker.Offset(i), end = walker.End(i);
        if (offset >= end || end > walker.size) return false;
        const CompiledKeyRecord record{walker.block + offset, end - offset};
        bool allocationFailed = false;
        std::unique_ptr<CKeySetting> setting(CreateKeySetting(soup, &record, &specials, &allocationFailed));
        // A key that memory was short for fails the load: skipping it would lose its setting.
        if (allocationFailed) return false;
        if (!setting) continue;  // a record type the factory does not make
        const SoupSlotID key = setting->GetKeyId();
        SoupSlotID display = record.ReadSlot(KeyRecordOffset::kDisplayNameId);
        if (display.IsInvalid()) display = key;
        const SoupSlotID valueList = record.ReadSlot(KeyRecordOffset::kValueListId);
        auto* base = dynamic_cast<CKeyBaseSetting*>(setting.get());
        // An option key (most keys) is its own clone, so the cache keeps the one made; it stays
        // valid through this round, as nothing else changes the cache meanwhile.
        if (cache && key.IsValid()) {
            const bool own = typeid(*setting) == typeid(CKeyOptSetting);
            if (own ? !cache->Take(setting) : !cache->Set(setting.get())) return false;
        }
        try {
            if (forest && base) {
                std::list<COptData> options;
                base->GetOptionsFromRecord(&record, options);
                forest->SetData(key, CKeyData(key, display, valueList, 0));
                forest->AddLeaves(key, std::move(options));
            }
            if (idForest && base) {
                std::list<SoupSlotID> ids;
                base->GetIdListFromRecord(&record, ids);
                idForest->SetData(key, CKeyData(key, display, valueList, 0));
                idForest->AddLeaves(key, std::move(ids));
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return true;
}

bool CfgSettings::BuildDefaultSettings(const int* sections, int count) {
    if (!m_valid || !sections || count < 0) return false;
    m_defaults.Clear();
    m_keyForest.Clear();
    bool ok = true;
    for (int i = 0; i < count; ++i) ok = LoadSectionSettings(sections[i], &m_defaults, &m_keyForest, nullptr) && ok;
    return ok;
}

uint32_t CfgSettings::WriteSectionValues(KVCache* settings, int section, uint8_t* buffer, uint32_t size) {
    if (!m_valid || !settings || !HeldKeySection(section)) return 0;
    ItemWalker walker;
    if (!MakeWalker(m_sections[section].data, m_sections[section].size, walker)) return 0;
    std::unique_ptr<CStrSoup> privateSoup;
    if (!MakePrivateSoup(walker, settings, privateSoup)) return 0;
    // A size query interns nothing, so a soup-string key would save the private soup before
    // the texts of the keys after it exist (their slots would read back empty). The section
    // is first written once into scratch, in item order, so that every text any key writes
    // is in the soup before the real pass; the real pass then interns nothing new.
    if (buffer && privateSoup && !PrimeSoupByWriting(walker, settings, privateSoup.get())) return 0;
    uint64_t pos = 0;
    bool whole = true;
    ForEachItemSetting(walker, settings, [&](CKeySetting* setting) {
        const unsigned need = setting->GetData(privateSoup.get(), nullptr, 0);
        if (!buffer) {
            pos += need;
            return true;
        }
        const uint32_t room = pos < size ? static_cast<uint32_t>(size - pos) : 0;
        if (need > room) return false;
        // A value that cannot be written whole (a private soup too large for its slot) would
        // move every later value: the whole write fails instead.
        whole = setting->GetData(privateSoup.get(), buffer + pos, room) == need;
        pos += need;
        return whole;
    });
    if (!whole) return 0;
    return pos > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(pos);
}

uint32_t CfgSettings::ReadSectionValues(KVCache* settings, int section, const uint8_t* data, uint32_t size) {
    if (!m_valid || !settings || !data || !HeldKeySection(section)) return 0;
    ItemWalker walker;
    if (!MakeWalker(m_sections[section].data, m_sections[section].size, walker)) return 0;
    std::unique_ptr<CStrSoup> privateSoup;
    if (!MakePrivateSoup(walker, settings, privateSoup)) return 0;
    uint32_t pos = 0;
    ForEachItemSetting(walker, settings, [&](CKeySetting* setting) {
        if (pos >= size) return false;
        std::unique_ptr<CKeySetting> clone(setting->Clone());
        // A value that memory is short for must not be skipped as if it were read.
        if (!clone) throw std::bad_alloc();
        const unsigned used = clone->SetData(privateSoup.get(), data + pos, size - pos);
        if (used > size - pos) return false;
        pos += used;
        if (!settings->Set(clone.get())) throw std::bad_alloc();
        return true;
    });
    RebindSettingStrings(&m_soup, privateSoup.get(), settings);
    return pos;
}

void CfgSettings::RebindSettingStrings(CBaseSoup* soup, CBaseSoup* privateSoup, KVCache* settings) {
    if (!soup || !settings) return;
    // A setting left unbound for want of memory would keep texts of a soup about to go.
    std::list<std::unique_ptr<CKeySetting>> clones;
    for (auto it = settings->Begin(); it != settings->End(); ++it) {
        const CKeySetting* s = settings->GetAt(it);
        if (!s) continue;
        std::unique_ptr<CKeySetting> clone(s->Clone());
        if (!clone) throw std::bad_alloc();
        clone->SetData(privateSoup, nullptr, 0);
        clones.push_back(std::move(clone));
    }
    for (const auto& clone : clones)
        if (!settings->Set(clone.get())) throw std::bad_alloc();
}
