// The ZIP extraction layer for driver packages: a handle-based reader over minizip that lists
// an archive's items with safe names, attributes and times, and extracts an item to a file
// with its folders, attributes and times restored.
//
// A package comes from outside, so every name is made safe before it is used: an item can
// only ever land below the folder its caller names, and an item that cannot be named safely
// is refused (0x700) rather than renamed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// Result codes of every entry (also kept in ZipLastResult).
constexpr DWORD kZipOk = 0;
constexpr DWORD kZipErrOpen = 0x200;        // opening the archive or creating the target failed
constexpr DWORD kZipErrWrite = 0x400;       // writing the target failed, or the size limit was reached
constexpr DWORD kZipErrCorrupt = 0x700;     // item information corrupt or unsafe
constexpr DWORD kZipErrRead = 0x800;        // reading the archive failed (also CRC, unknown method)
constexpr DWORD kZipErrPassword = 0x1000;   // encrypted item without the right password
constexpr DWORD kZipErrArgument = 0x10000;  // null handle, index out of range, null target
constexpr DWORD kZipErrKind = 0x80000;      // handle of the wrong kind
constexpr DWORD kZipErrInflate = 0x5000000; // inflating failed or gave other than the declared bytes

constexpr int kZipReadingArchive = 1;
// General-purpose flag bit 11: the item's name (and comment) is UTF-8.
constexpr unsigned kZipFlagUtf8 = 0x800;
// The code page of names written without that flag.
constexpr UINT kZipLegacyCodePage = 437;
constexpr DWORD kZipNameChars = 260;
// What one handle may write in all, so that a small package cannot fill the disk.
constexpr uint64_t kZipDefaultSizeLimit = 256ull * 1024 * 1024;

struct ZipItemInfo {
    int index;
    wchar_t name[kZipNameChars];  // safe relative name, folders separated by backslashes
    DWORD attributes;             // FILE_ATTRIBUTE_* bits
    FILETIME accessTime;          // UTC
    FILETIME writeTime;
    FILETIME creationTime;
    DWORD compressedSize;
    DWORD uncompressedSize;
};

class ZipReader {
public:
    // password: narrow text copied, or null for none.
    explicit ZipReader(const char* password) noexcept;
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Opens the archive; the process's current directory becomes the base folder of
    // relative targets.
    DWORD Open(const wchar_t* archivePath) noexcept;
    // Index -1 asks for the item count (in info->index).
    DWORD GetItemInfo(int index, ZipItemInfo* info) noexcept;
    // Extracts the item to target (relative targets below the base folder).
    DWORD ExtractItem(int index, const wchar_t* target) noexcept;
    void SetSizeLimit(uint64_t bytes) noexcept { m_sizeLimit = bytes; }
    uint64_t BytesWritten() const noexcept { return m_written; }

private:
    DWORD GoTo(int index) noexcept;
    DWORD ReadCurrentInfo(int index, ZipItemInfo* info) noexcept;
    DWORD WriteCurrentItem(HANDLE file, const ZipItemInfo& info) noexcept;

    void* m_archive = nullptr;  // minizip's unzFile
    int m_count = 0;
    int m_position = -1;        // index the archive is positioned on
    wchar_t m_base[MAX_PATH + 1] = {};
    int m_lastIndex = -1;
    ZipItemInfo m_last = {};
    int m_lastMethod = 0;       // compression method of the remembered item
    bool m_lastEncrypted = false;
    char* m_password = nullptr;
    unsigned char* m_buffer = nullptr;
    uint64_t m_sizeLimit = kZipDefaultSizeLimit;
    uint64_t m_written = 0;
};

struct ZipArchiveHandle {
    int kind;
    ZipReader* reader;
};

// The result of the last call of any entry in this process.
extern std::atomic<DWORD> ZipLastResult;

// A new handle of an opened archive, or null (ZipLastResult says why).
ZipArchiveHandle* ZipOpenArchive(const wchar_t* archivePath, const char* password) noexcept;
DWORD ZipGetItemInfo(ZipArchiveHandle* handle, int index, ZipItemInfo* info) noexcept;
DWORD ZipExtractItem(ZipArchiveHandle* handle, int index, const wchar_t* target) noexcept;
// Closes the archive and frees the handle.
DWORD ZipCloseArchive(ZipArchiveHandle* handle) noexcept;
// Changes how many bytes the handle may write in all.
DWORD ZipSetSizeLimit(ZipArchiveHandle* handle, uint64_t bytes) noexcept;

// The safe form of an item's stored name (bytes) in out (kZipNameChars): the parts after the
// last "..", without a leading drive, empty or "." parts, joined by backslashes. The bytes are
// UTF-8; when they are not and the item's UTF-8 flag (utf8Flag) is clear, code page 437.
// 0x700 when the name is empty, too long, cannot be decoded, or a part could not be a plain
// file name (control or reserved characters, a trailing dot or blank, a device name).
DWORD ZipSanitiseName(const char* bytes, size_t length, wchar_t* out, bool utf8Flag = true) noexcept;
// Applies the first extended-timestamp block ("UT") of an extra field to the times of info;
// blocks and times that do not fit inside the field are ignored.
void ZipApplyExtendedTimes(const unsigned char* field, size_t size, ZipItemInfo* info) noexcept;
// FILE_ATTRIBUTE_* bits of an item from its host system and external attributes.
DWORD ZipItemAttributes(unsigned host, unsigned long externalAttributes) noexcept;
