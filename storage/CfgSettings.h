// Compiled settings of one PPD: the thirteen sections (key blocks, default values,
// keyword soup, constraints) compiled from the PPD and its language module's extension
// statements, kept in a cache file beside the PPD and read back on later use, and the
// soup, default settings, key forest and constraint forests built from them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "ppd/PPDIO.h"
#include "settings/KVCache.h"
#include "settings/KeyForest.h"
#include "settings/StrSoup.h"

namespace PPDParser {
class CPPDSettings;
}

// Section numbers.
enum : int {
    CFG_SECTION_GENERAL_KEYS = 0,
    CFG_SECTION_INSTALLABLE_KEYS = 1,
    CFG_SECTION_DRIVERPROP_KEYS = 2,
    CFG_SECTION_GROUP_KEYS = 3,
    CFG_SECTION_PSDM_KEYS = 4,
    CFG_SECTION_VYRUI_KEYS = 5,
    CFG_SECTION_VYRNONUI_KEYS = 6,
    CFG_SECTION_GROUP_DEFAULTS = 7,
    CFG_SECTION_PSDM_DEFAULTS = 8,
    CFG_SECTION_VYRUI_DEFAULTS = 9,
    CFG_SECTION_SOUP = 10,
    CFG_SECTION_CONSTRAINTS = 11,
    CFG_SECTION_CONSTRAINTS_ALT = 12,
};
constexpr int kCfgSectionCount = 13;

// Section kinds.
enum : int { kCfgKindKeys = 0, kCfgKindSoup = 1, kCfgKindDerived = 2, kCfgKindConstraints = 3 };

struct CfgSectionDescriptor {
    int section;
    int kind;
    int parserGroup;  // 8: none
};
extern const CfgSectionDescriptor kCfgSectionTable[kCfgSectionCount];

// Cache file layout.
constexpr uint32_t kCfgHeaderSize = 218;
constexpr uint32_t kCfgTableOffset = 42;
constexpr uint32_t kCfgRowSize = 12;
constexpr uint32_t kCfgTimeOffset = 198;
constexpr uint32_t kCfgCodePageOffset = 206;
constexpr uint32_t kCfgLanguageOffset = 210;
constexpr uint32_t kCfgLocaleSlotOffset = 214;
// Inside the header's reserved bytes: a 64-bit hash of the whole file (taken with these
// 8 bytes zero). The layout is otherwise unchanged; a file whose hash does not match
// (damaged, cut short, or written without one) is compiled again.
constexpr uint32_t kCfgHashOffset = 14;
// A cache file larger than this is not believed.
constexpr uint32_t kCfgMaxFileSize = 256u * 1024 * 1024;
// Room a compile exports blocks into before it knows their size: below the heap's
// large-block size, where an allocation is a fresh mapping.
constexpr unsigned kExportScratchSize = 60u * 1024;

// The constraint forest of sections 11 and 12.
using CfgConstraintForest = ConstraintForest;

// 64-bit st_mtime of the path, 0 when it cannot be had.
int64_t GetFileModificationTime(const wchar_t* path) noexcept;
// The hash stored at kCfgHashOffset, over a whole file image (those 8 bytes read as zero).
uint64_t ComputeCfgFileHash(const uint8_t* file, uint32_t size) noexcept;
// One piece of a file image that is written piece by piece.
struct CfgFilePiece {
    const uint8_t* data;
    uint32_t size;
};
// The same hash over the pieces' concatenation, which is never made; the 8 bytes at
// kCfgHashOffset must be zero in it.
uint64_t ComputeCfgFileHash(const CfgFilePiece* pieces, int count) noexcept;

// Checks a key section block (header, item offsets, record extents, slots below
// soupCount). True when it can be walked safely.
bool ValidateKeySection(const uint8_t* block, uint32_t size, uint32_t soupCount) noexcept;
// Checks a serialised keyword soup as the soup's reader would, without building it;
// count receives its number of strings.
bool ValidateSoupBlob(const uint8_t* blob, uint32_t size, uint32_t* count) noexcept;
// Checks a constraint section block (fixed fields, entry counts bounded by the bytes
// left, slots below soupCount, an option slot may be -1).
bool ValidateConstraintSection(const uint8_t* block, uint32_t size, uint32_t soupCount) noexcept;

class CfgSettings {
public:
    // The sources belong to the caller (the manager) and must outlive this object.
    CfgSettings(const wchar_t* ppdPath, PPDParser::CFileIOPlugIn* ppdSource, PPDParser::CFileIOPlugIn* cacheSource,
                const wchar_t* extensionName, PPDParser::CResIOPlugIn* extensionSource);
    virtual ~CfgSettings();
    CfgSettings(const CfgSettings&) = delete;
    CfgSettings& operator=(const CfgSettings&) = delete;

    bool IsValid() const { return m_valid; }

    // The table row of a section, null for sections 7-9 and outside 0-12.
    static const CfgSectionDescriptor* GetSectionDescriptor(int section);

    // Size of a section of the settings in force (loading or compiling them first);
    // 0 when absent, outside 0-12 or when nothing could be had.
    uint32_t GetSectionSize(int section);
    // The section's bytes (owned by this object), null when absent.
    const uint8_t* GetSection(int section);
    const uint8_t* GetSectionData(int section, uint32_t* size);

    CBaseSoup* GetStringSoup();
    KVCache* GetDefaultSettings();
    OptionForest* GetKeyForest();
    CfgConstraintForest* GetConstraints(bool primary);
    UINT GetCodePage();
    LANGID GetLanguageId();
    const wchar_t* GetLanguageCode();

    // Whether a key section of this number is held (a load from it then has something to read).
    bool HeldKeySection(int section) const;
    bool LoadSectionSettings(int section, KVCache* cache, OptionForest* forest, IdListForest* idForest);
    bool BuildDefaultSettings(const int* sections, int count);
    uint32_t WriteSectionValues(KVCache* settings, int section, uint8_t* buffer, uint32_t size);
    // The values of a section read from data into settings; throws std::bad_alloc when memory
    // runs short, so no value is skipped as if it were read.
    uint32_t ReadSectionValues(KVCache* settings, int section, const uint8_t* data, uint32_t size);
    // Rebinds the settings' soup texts; throws std::bad_alloc when memory runs short.
    static void RebindSettingStrings(CBaseSoup* soup, CBaseSoup* privateSoup, KVCache* settings);

    // Recompiles every section from the PPD (the sections held are replaced).
    bool Compile();
    // Writes the sections held to the cache file (a temporary file beside it, then
    // replaced). False when nothing was written.
    bool WriteCacheFile();

    // The held cache header image (218 bytes; zero until one was read or written).
    const uint8_t* GetHeaderImage() const { return m_header; }
    // True when the sections in memory came from the cache file (not from a compile).
    bool LoadedFromCache() const { return m_fromCache; }
    // Drops everything built from the PPD, so the next request loads again (nothing while
    // driver states use this generation).
    void Unload();

    // Hold bookkeeping of the manager: the outermost acquire drops the settings when
    // the PPD changed since they were made (never under a nested hold, whose caller
    // may still use what it got).
    // Called with the object's lock held by the calling thread.
    void BeginHold();
    // True when the calling thread held the object (its lock may then be released).
    bool EndHold();

    const wchar_t* GetPPDPath() const { return m_path.get(); }

    // Generations. This object is one built generation of its PPD (sections, soup, key forest,
    // defaults, constraints). Every driver state made from it is a user that keeps it alive and
    // unchanged: a PPD that changes under users gets a new generation for new users (the
    // manager makes it), and the old one is freed when its owner has retired it and its last
    // user lets go. Slot ids of one generation mean nothing in another.
    void AddUser();
    // May delete a retired generation; the caller must not use it afterwards.
    void ReleaseUser();
    LONG GetUserCount() const;
    // Called with the object's lock held: true when the PPD changed (or the generation
    // proved unusable) since this generation was built, and no thread holds it.
    bool NeedsNewGeneration() const;
    // The owner lets go: everything is built first (later users read it without the lock,
    // and it never reads the PPD or the cache file again); deleted at once without users,
    // else when the last one lets go.
    void Retire();
    bool IsRetired() const { return m_retired; }
    // Counts this object among the live generations of its PPD (the manager's count).
    void SetLiveCounter(std::shared_ptr<volatile LONG> counter);

private:
    // A section's bytes: its own buffer (compiled) or a part of the file image (loaded).
    struct Section {
        std::unique_ptr<uint8_t[]> owned;
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        void Own(std::unique_ptr<uint8_t[]> bytes, uint32_t bytesSize) {
            owned = std::move(bytes);
            data = owned.get();
            size = bytesSize;
        }
    };

    // Brings one generation of sections into memory: the cache file when it is current
    // and sound, else a compile (and a write of the file).
    bool EnsureLoaded();
    bool ReadCacheFile(int64_t ppdTime);
    bool CompileAt(int64_t ppdTime);
    void FreeSections();
    void ResetBuilt();
    bool BuildKeySections(PPDParser::CPPDSettings& parser);
    // The parser's block of the PPD's constraint lines (texts as soup slots), taken while
    // the parser lives; sections 11 and 12 are built from it once the parser is gone.
    bool ExportConstraintBlock(PPDParser::CPPDSettings& parser, std::unique_ptr<uint8_t[]>& block, unsigned& got);
    bool BuildConstraintSections(const uint8_t* block, unsigned got);
    bool BuildSoupSection();
    bool BuildDefaultValueSections();
    void TakeHeader(const uint8_t* header);

    uint8_t m_header[kCfgHeaderSize] = {};
    CStrSoup m_soup;
    CStrSoup m_compileSoup;
    KVCache m_defaults;
    OptionForest m_keyForest;
    CfgConstraintForest m_constraints[2];
    bool m_valid = false;
    Section m_sections[kCfgSectionCount];
    // The cache file as read, when the sections came from it, and the bytes its buffer holds.
    std::unique_ptr<uint8_t[]> m_fileImage;
    uint32_t m_fileCapacity = 0;
    std::unique_ptr<wchar_t[]> m_path;
    PPDParser::CFileIOPlugIn* m_ppdSource = nullptr;
    std::unique_ptr<wchar_t[]> m_extensionName;
    PPDParser::CResIOPlugIn* m_extensionSource = nullptr;
    PPDParser::CFileIOPlugIn* m_cacheSource = nullptr;
    UINT m_codePage = CP_THREAD_ACP;
    LANGID m_languageId = 0;
    SoupSlotID m_localeSlot;

    // The generation in memory: loaded, from which PPD time, and whether it came
    // from the file.
    bool m_loaded = false;
    bool m_fromCache = false;
    bool m_soupReady = false;
    // Set when a loaded generation proved unusable after all: the next outermost hold rebuilds.
    bool m_generationBad = false;
    bool m_defaultsReady = false;
    bool m_constraintsReady[2] = {false, false};
    int64_t m_ppdTime = 0;
    LONG m_holds = 0;
    DWORD m_holder = 0;

    // Users and retirement, under their own lock (a user may let go on any thread).
    mutable SRWLOCK m_userLock = SRWLOCK_INIT;
    LONG m_users = 0;
    bool m_retired = false;
    std::shared_ptr<volatile LONG> m_liveCounter;
};
