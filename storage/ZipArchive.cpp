// The ZIP extraction layer (see ZipArchive.h).
#include "storage/ZipArchive.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "foundation/StrUtil.h"

extern "C" {
#include "unzip.h"
// after unzip.h, which brings the zlib declarations it needs
#include "iowin32.h"
}

std::atomic<DWORD> ZipLastResult{0};

namespace {

constexpr DWORD kBufferBytes = 64 * 1024;
constexpr int kMethodStored = 0;
constexpr int kMethodDeflated = 8;
constexpr uint16_t kExtendedTimeTag = 0x5455;  // "UT"
constexpr unsigned long long kUnixEpochFileTime = 116444736000000000ull;
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

unzFile Archive(void* archive) { return static_cast<unzFile>(archive); }

// minizip reads headers a byte or a field at a time, and every read of the file is a call
// into the system: the archive is read through a window of kWindowBytes over the Win32 file
// functions of iowin32.
constexpr uLong kWindowBytes = 64 * 1024;

struct WindowedFile {
    voidpf inner = nullptr;
    ZPOS64_T position = 0;      // where the reader is
    ZPOS64_T windowStart = 0;   // file offset of window[0]
    uLong windowLength = 0;
    unsigned char window[kWindowBytes];
};

const zlib_filefunc64_def& Win32Files()
{
    static const zlib_filefunc64_def files = [] {
        zlib_filefunc64_def def;
        fill_win32_filefunc64W(&def);
        return def;
    }();
    return files;
}

voidpf ZCALLBACK WindowOpen(voidpf, const void* name, int mode)
{
    const zlib_filefunc64_def& base = Win32Files();
    auto* file = new (std::nothrow) WindowedFile;
    if (!file) return nullptr;
    file->inner = base.zopen64_file(base.opaque, name, mode);
    if (!file->inner) {
        delete file;
        return nullptr;
    }
    return file;
}

uLong ZCALLBACK WindowRead(voidpf, voidpf stream, void* buffer, uLong size)
{
    const zlib_filefunc64_def& base = Win32Files();
    auto* file = static_cast<WindowedFile*>(stream);
    auto* out = static_cast<unsigned char*>(buffer);
    uLong done = 0;
    while (done < size) {
        if (file->position >= file->windowStart && file->position < file->windowStart + file->windowLength) {
            auto offset = static_cast<uLong>(file->position - file->windowStart);
            uLong take = file->windowLength - offset;
            if (take > size - done) take = size - done;
            std::memcpy(out + done, file->window + offset, take);
            done += take;
            file->position += take;
            continue;
        }
        if (base.zseek64_file(base.opaque, file->inner, file->position, ZLIB_FILEFUNC_SEEK_SET) != 0) break;
        if (size - done >= kWindowBytes) {
            // Large reads go straight to the caller's buffer.
            uLong got = base.zread_file(base.opaque, file->inner, out + done, size - done);
            done += got;
            file->position += got;
            break;
        }
        file->windowStart = file->position;
        file->windowLength = base.zread_file(base.opaque, file->inner, file->window, kWindowBytes);
        if (file->windowLength == 0) break;
    }
    return done;
}

uLong ZCALLBACK WindowWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK WindowTell(voidpf, voidpf stream) { return static_cast<WindowedFile*>(stream)->position; }

long ZCALLBACK WindowSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    const zlib_filefunc64_def& base = Win32Files();
    auto* file = static_cast<WindowedFile*>(stream);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        file->position = offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
        file->position += offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_END:
        if (base.zseek64_file(base.opaque, file->inner, offset, ZLIB_FILEFUNC_SEEK_END) != 0) return -1;
        file->position = base.ztell64_file(base.opaque, file->inner);
        return 0;
    default:
        return -1;
    }
}

int ZCALLBACK WindowClose(voidpf, voidpf stream)
{
    const zlib_filefunc64_def& base = Win32Files();
    auto* file = static_cast<WindowedFile*>(stream);
    int result = base.zclose_file(base.opaque, file->inner);
    delete file;
    return result;
}

int ZCALLBACK WindowError(voidpf, voidpf stream)
{
    const zlib_filefunc64_def& base = Win32Files();
    return base.zerror_file(base.opaque, static_cast<WindowedFile*>(stream)->inner);
}

DWORD Finish(DWORD code) noexcept
{
    ZipLastResult = code;
    return code;
}

bool IsSeparator(wchar_t c) noexcept { return c == L'\\' || c == L'/'; }

bool IsDriveSegment(const wchar_t* part, size_t length) noexcept
{
    return length == 2 && part[1] == L':' &&
           ((part[0] >= L'A' && part[0] <= L'Z') || (part[0] >= L'a' && part[0] <= L'z'));
}

// Names Windows maps to devices whatever extension follows them.
bool IsDeviceName(const wchar_t* part, size_t length) noexcept
{
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    size_t stem = 0;
    while (stem < length && part[stem] != L'.') ++stem;
    while (stem > 0 && part[stem - 1] == L' ') --stem;
    for (const wchar_t* device : kDevices) {
        if (StrLen(device) == stem && _wcsnicmp(part, device, stem) == 0) return true;
    }
    if (stem == 4 && (_wcsnicmp(part, L"COM", 3) == 0 || _wcsnicmp(part, L"LPT", 3) == 0))
        return part[3] >= L'0' && part[3] <= L'9';
    return false;
}

// A part that Windows would take as it is for a plain file or folder name.
bool IsPlainPart(const wchar_t* part, size_t length) noexcept
{
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = part[i];
        if (c < 0x20 || c == 0x7F || std::wcschr(L"<>:\"|?*", c)) return false;
    }
    if (part[length - 1] == L'.' || part[length - 1] == L' ') return false;
    return !IsDeviceName(part, length);
}

bool IsAbsolutePath(const wchar_t* path) noexcept
{
    return IsSeparator(path[0]) || (path[0] && path[1] == L':');
}

// Creates every missing folder of path (a full path) from its root on; true when the last
// one is a folder afterwards.
bool CreateFolderChain(const wchar_t* path) noexcept
{
    wchar_t partial[MAX_PATH + 1] = {};
    size_t length = StrLen(path);
    if (length == 0 || length > MAX_PATH) return false;
    // Most items land in a folder that an earlier item made.
    DWORD existing = GetFileAttributesW(path);
    if (existing != INVALID_FILE_ATTRIBUTES) return (existing & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // The root (drive or server share) is never created.
    size_t start = 0;
    if (path[0] && path[1] == L':') start = 3;
    else if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        int separators = 0;
        for (start = 2; start < length && separators < 2; ++start)
            if (IsSeparator(path[start])) ++separators;
    }
    for (size_t i = start; i <= length; ++i) {
        if (i < length && !IsSeparator(path[i])) continue;
        if (i == 0 || IsSeparator(path[i - 1])) continue;
        std::wmemcpy(partial, path, i);
        partial[i] = 0;
        if (GetFileAttributesW(partial) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(partial, nullptr);
    }
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// True when the system takes full as the very path it names: no "..", ".", doubled
// separators, trailing dots or device names that would make the file land elsewhere.
bool IsCanonical(const wchar_t* full) noexcept
{
    wchar_t resolved[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameW(full, MAX_PATH + 1, resolved, nullptr);
    return length > 0 && length <= MAX_PATH && std::wcscmp(resolved, full) == 0;
}

void DeleteTarget(const wchar_t* path) noexcept
{
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
}

FILETIME ToFileTime(unsigned long long value) noexcept
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

uint16_t ReadU16(const unsigned char* p) noexcept { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t ReadU32(const unsigned char* p) noexcept
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// --- Pure helpers ------------------------------------------------------------------------

DWORD ZipSanitiseName(const char* bytes, size_t length, wchar_t* out, bool utf8Flag) noexcept
{
    if (!out) return kZipErrArgument;
    out[0] = 0;
    // minizip leaves a name of 260 bytes or more unterminated; a NUL inside hides the rest.
    if (!bytes || length == 0 || length >= kZipNameChars || std::memchr(bytes, 0, length)) return kZipErrCorrupt;
    wchar_t wide[kZipNameChars] = {};
    int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), wide,
                                    static_cast<int>(kZipNameChars - 1));
    // ZIP names without the UTF-8 flag are code page 437, and a maker's archiver writes them
    // so. UTF-8 is tried first so that no name that decodes as UTF-8 changes; the safety
    // checks below apply to the decoded name either way.
    if (chars <= 0 && !utf8Flag)
        chars = MultiByteToWideChar(kZipLegacyCodePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), wide,
                                    static_cast<int>(kZipNameChars - 1));
    if (chars <= 0) return kZipErrCorrupt;
    wide[chars] = 0;

    // The parts kept: (start, length) pairs into wide.
    size_t starts[kZipNameChars];
    size_t lengths[kZipNameChars];
    size_t kept = 0;
    bool first = true;
    for (size_t at = 0; at <= static_cast<size_t>(chars);) {
        size_t end = at;
        while (end < static_cast<size_t>(chars) && !IsSeparator(wide[end])) ++end;
        const wchar_t* part = wide + at;
        size_t partLength = end - at;
        bool leadingDrive = first && IsDriveSegment(part, partLength);
        first = false;
        if (partLength == 0 || leadingDrive || (partLength == 1 && part[0] == L'.')) {
            // nothing to keep
        } else if (partLength == 2 && part[0] == L'.' && part[1] == L'.') {
            kept = 0;  // whatever came before cannot be trusted to stay inside
        } else {
            if (!IsPlainPart(part, partLength)) return kZipErrCorrupt;
            starts[kept] = at;
            lengths[kept] = partLength;
            ++kept;
        }
        at = end + 1;
    }
    if (kept == 0) return kZipErrCorrupt;
    size_t written = 0;
    for (size_t i = 0; i < kept; ++i) {
        if (i > 0) out[written++] = L'\\';
        std::wmemcpy(out + written, wide + starts[i], lengths[i]);
        written += lengths[i];
    }
    out[written] = 0;
    return kZipOk;
}

void ZipApplyExtendedTimes(const unsigned char* field, size_t size, ZipItemInfo* info) noexcept
{
    if (!field || !info) return;
    for (size_t at = 0; at + 4 <= size;) {
        uint16_t tag = ReadU16(field + at);
        size_t blockSize = ReadU16(field + at + 2);
        if (at + 4 + blockSize > size) return;
        if (tag == kExtendedTimeTag) {
            const unsigned char* data = field + at + 4;
            if (blockSize < 1) return;
            unsigned flags = data[0];
            size_t offset = 1;
            FILETIME* targets[] = {&info->writeTime, &info->accessTime, &info->creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1u << bit))) continue;
                if (offset + 4 > blockSize) return;
                auto seconds = static_cast<int32_t>(ReadU32(data + offset));
                offset += 4;
                *targets[bit] = ToFileTime(static_cast<unsigned long long>(
                    static_cast<long long>(seconds) * 10000000ll + static_cast<long long>(kUnixEpochFileTime)));
            }
            return;
        }
        at += 4 + blockSize;
    }
}

DWORD ZipItemAttributes(unsigned host, unsigned long externalAttributes) noexcept
{
    // DOS, Windows NTFS, VFAT, OS/2 HPFS keep the DOS bits; the others (Unix) a mode.
    if (host == 0 || host == 7 || host == 11 || host == 14) return static_cast<DWORD>(externalAttributes & 0x37);
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (externalAttributes & (1ul << 30)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (!(externalAttributes & (1ul << 23))) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

// --- ZipReader ----------------------------------------------------------------------------

ZipReader::ZipReader(const char* password) noexcept
{
    if (password) m_password = StrDupA(password);
}

ZipReader::~ZipReader()
{
    if (m_archive) {
        unzCloseCurrentFile(Archive(m_archive));
        unzClose(Archive(m_archive));
    }
    if (m_password) WipeMemory(m_password, StrLenA(m_password));
    delete[] m_password;
    delete[] m_buffer;
}

DWORD ZipReader::Open(const wchar_t* archivePath) noexcept
{
    if (!archivePath || m_archive) return kZipErrOpen;
    DWORD length = GetCurrentDirectoryW(MAX_PATH, m_base);
    if (length == 0 || length >= MAX_PATH - 1) return kZipErrOpen;
    if (!IsSeparator(m_base[length - 1])) {
        m_base[length] = L'\\';
        m_base[length + 1] = 0;
    }
    zlib_filefunc64_def files = {WindowOpen, WindowRead, WindowWrite, WindowTell,
                                 WindowSeek, WindowClose, WindowError, nullptr};
    m_archive = unzOpen2_64(archivePath, &files);
    if (!m_archive) return kZipErrOpen;
    unz_global_info64 global;
    if (unzGetGlobalInfo64(Archive(m_archive), &global) != UNZ_OK || global.number_entry > 0x7FFFFFFF) {
        unzClose(Archive(m_archive));
        m_archive = nullptr;
        return kZipErrOpen;
    }
    m_count = static_cast<int>(global.number_entry);
    m_position = m_count > 0 ? 0 : -1;
    return kZipOk;
}

DWORD ZipReader::GoTo(int index) noexcept
{
    unzFile archive = Archive(m_archive);
    // An item that cannot be reached is a read failure: no later item can be reached either.
    if (m_position < 0 || index < m_position) {
        if (unzGoToFirstFile(archive) != UNZ_OK) {
            m_position = -1;
            return kZipErrRead;
        }
        m_position = 0;
    }
    while (m_position < index) {
        if (unzGoToNextFile(archive) != UNZ_OK) {
            m_position = -1;
            return kZipErrRead;
        }
        ++m_position;
    }
    return kZipOk;
}

DWORD ZipReader::ReadCurrentInfo(int index, ZipItemInfo* info) noexcept
{
    unzFile archive = Archive(m_archive);
    unz_file_info64 item;
    char name[kZipNameChars + 1] = {};
    unsigned char central[1024];
    if (unzGetCurrentFileInfo64(archive, &item, name, kZipNameChars, central, sizeof(central), nullptr, 0) !=
        UNZ_OK)
        return kZipErrCorrupt;
    if (item.size_filename >= kZipNameChars) return kZipErrCorrupt;
    if (item.uncompressed_size > 0xFFFFFFFFull || item.compressed_size > 0xFFFFFFFFull) return kZipErrCorrupt;

    ZipItemInfo result = {};
    result.index = index;
    DWORD code = ZipSanitiseName(name, item.size_filename, result.name, (item.flag & kZipFlagUtf8) != 0);
    if (code != kZipOk) return code;
    result.attributes = ZipItemAttributes(static_cast<unsigned>(item.version >> 8) & 0xFF, item.external_fa);
    result.compressedSize = static_cast<DWORD>(item.compressed_size);
    result.uncompressedSize = static_cast<DWORD>(item.uncompressed_size);

    // The DOS time is local time.
    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>((item.dosDate >> 25) + 1980);
    local.wMonth = static_cast<WORD>((item.dosDate >> 21) & 15);
    local.wDay = static_cast<WORD>((item.dosDate >> 16) & 31);
    local.wHour = static_cast<WORD>((item.dosDate >> 11) & 31);
    local.wMinute = static_cast<WORD>((item.dosDate >> 5) & 63);
    local.wSecond = static_cast<WORD>((item.dosDate & 31) * 2);
    FILETIME localTime, utc;
    if (SystemTimeToFileTime(&local, &localTime) && LocalFileTimeToFileTime(&localTime, &utc))
        result.accessTime = result.writeTime = result.creationTime = utc;

    int method = static_cast<int>(item.compression_method);
    bool encrypted = (item.flag & 1) != 0;
    if (method == kMethodStored || method == kMethodDeflated) {
        // The local extra field can be read only with the item open; raw, nothing is
        // inflated or decrypted.
        int rawMethod = 0, level = 0;
        if (unzOpenCurrentFile2(archive, &rawMethod, &level, 1) != UNZ_OK) return kZipErrRead;
        int size = unzGetLocalExtrafield(archive, nullptr, 0);
        unsigned char* extra = size > 0 ? new (std::nothrow) unsigned char[size] : nullptr;
        int got = extra ? unzGetLocalExtrafield(archive, extra, static_cast<unsigned>(size)) : size;
        unzCloseCurrentFile(archive);
        if (size < 0 || got != size) {
            delete[] extra;
            return kZipErrRead;
        }
        ZipApplyExtendedTimes(extra, static_cast<size_t>(size), &result);
        delete[] extra;
    } else {
        // minizip cannot open an item of this method even raw: its times come from the
        // central record.
        ZipApplyExtendedTimes(central, item.size_file_extra < sizeof(central) ? item.size_file_extra : 0, &result);
    }
    *info = result;
    m_lastIndex = index;
    m_last = result;
    m_lastMethod = method;
    m_lastEncrypted = encrypted;
    return kZipOk;
}

DWORD ZipReader::GetItemInfo(int index, ZipItemInfo* info) noexcept
{
    if (!info || !m_archive || index < -1 || index >= m_count) return kZipErrArgument;
    if (index == -1) {
        *info = ZipItemInfo{};
        info->index = m_count;
        return kZipOk;
    }
    if (index == m_lastIndex) {
        *info = m_last;
        return kZipOk;
    }
    m_lastIndex = -1;
    DWORD code = GoTo(index);
    if (code != kZipOk) return code;
    return ReadCurrentInfo(index, info);
}

DWORD ZipReader::WriteCurrentItem(HANDLE file, const ZipItemInfo& info) noexcept
{
    unzFile archive = Archive(m_archive);
    if (unzOpenCurrentFile(archive) != UNZ_OK) return kZipErrRead;
    uint64_t total = 0;
    DWORD code = kZipOk;
    for (;;) {
        int got = unzReadCurrentFile(archive, m_buffer, kBufferBytes);
        if (got < 0) {
            code = kZipErrInflate;
            break;
        }
        if (got == 0) {
            if (total != info.uncompressedSize) code = kZipErrInflate;
            break;
        }
        total += static_cast<uint64_t>(got);
        if (total > info.uncompressedSize) {
            code = kZipErrInflate;
            break;
        }
        if (m_written + static_cast<uint64_t>(got) > m_sizeLimit) {
            code = kZipErrWrite;
            break;
        }
        DWORD written = 0;
        if (!WriteFile(file, m_buffer, static_cast<DWORD>(got), &written, nullptr) ||
            written != static_cast<DWORD>(got)) {
            code = kZipErrWrite;
            break;
        }
        m_written += written;
    }
    // The CRC is checked only when the item is closed after its last byte.
    int closed = unzCloseCurrentFile(archive);
    if (code == kZipOk && closed != UNZ_OK) code = kZipErrRead;
    return code;
}

DWORD ZipReader::ExtractItem(int index, const wchar_t* target) noexcept
{
    if (!m_archive || !target || !*target || index < 0 || index >= m_count) return kZipErrArgument;
    ZipItemInfo info;
    DWORD code = GetItemInfo(index, &info);
    if (code != kZipOk) return code;

    // The full path: absolute targets as they are, others below the base folder. A path
    // that does not fit is refused, never cut.
    wchar_t full[MAX_PATH + 1] = {};
    size_t targetLength = StrLen(target);
    size_t baseLength = IsAbsolutePath(target) ? 0 : StrLen(m_base);
    if (baseLength + targetLength >= MAX_PATH) return kZipErrOpen;
    std::wmemcpy(full, m_base, baseLength);
    std::wmemcpy(full + baseLength, target, targetLength);
    full[baseLength + targetLength] = 0;
    for (wchar_t* c = full; *c; ++c)
        if (*c == L'/') *c = L'\\';
    if (!IsCanonical(full)) return kZipErrCorrupt;

    if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) return CreateFolderChain(full) ? kZipOk : kZipErrOpen;

    // What cannot be read properly is refused before anything is created: minizip would
    // hand out the raw bytes of an unknown method, or the ciphertext of an encrypted item.
    if (m_lastMethod != kMethodStored && m_lastMethod != kMethodDeflated) return kZipErrRead;
    // The minizip build has no decryption compiled in: with or without a password, an
    // encrypted item could only give its ciphertext.
    if (m_lastEncrypted) return kZipErrPassword;
    if (m_written + info.uncompressedSize > m_sizeLimit) return kZipErrWrite;
    if (!m_buffer) {
        m_buffer = new (std::nothrow) unsigned char[kBufferBytes];
        if (!m_buffer) return kZipErrWrite;
    }

    wchar_t* lastSeparator = std::wcsrchr(full, L'\\');
    if (lastSeparator && lastSeparator != full) {
        *lastSeparator = 0;
        bool made = CreateFolderChain(full);
        *lastSeparator = L'\\';
        if (!made) return kZipErrOpen;
    }
    // A read-only, hidden or system file in the way would refuse CREATE_ALWAYS.
    DWORD existing = GetFileAttributesW(full);
    if (existing != INVALID_FILE_ATTRIBUTES && !(existing & FILE_ATTRIBUTE_DIRECTORY) &&
        (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        SetFileAttributesW(full, FILE_ATTRIBUTE_NORMAL);
    DWORD attributes = info.attributes & kKeptAttributes;
    HANDLE file = CreateFileW(full, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kZipErrOpen;
    code = WriteCurrentItem(file, info);
    if (code == kZipOk) SetFileTime(file, &info.creationTime, &info.accessTime, &info.writeTime);
    CloseHandle(file);
    // A file of a failed item would pass for the item.
    if (code != kZipOk) DeleteTarget(full);
    return code;
}

// --- Entries ------------------------------------------------------------------------------

namespace {
DWORD CheckHandle(const ZipArchiveHandle* handle) noexcept
{
    if (!handle || !handle->reader) return kZipErrArgument;
    if (handle->kind != kZipReadingArchive) return kZipErrKind;
    return kZipOk;
}
}  // namespace

ZipArchiveHandle* ZipOpenArchive(const wchar_t* archivePath, const char* password) noexcept
{
    if (!archivePath) {
        Finish(kZipErrArgument);
        return nullptr;
    }
    ZipReader* reader = new (std::nothrow) ZipReader(password);
    ZipArchiveHandle* handle = reader ? new (std::nothrow) ZipArchiveHandle{kZipReadingArchive, reader} : nullptr;
    if (!handle) {
        delete reader;
        Finish(kZipErrOpen);
        return nullptr;
    }
    DWORD code = reader->Open(archivePath);
    if (code != kZipOk) {
        delete reader;
        delete handle;
        Finish(code);
        return nullptr;
    }
    Finish(kZipOk);
    return handle;
}

DWORD ZipGetItemInfo(ZipArchiveHandle* handle, int index, ZipItemInfo* info) noexcept
{
    if (info) {
        info->index = 0;
        info->name[0] = 0;
        info->uncompressedSize = 0;
    }
    DWORD code = CheckHandle(handle);
    if (code != kZipOk) return Finish(code);
    return Finish(handle->reader->GetItemInfo(index, info));
}

DWORD ZipExtractItem(ZipArchiveHandle* handle, int index, const wchar_t* target) noexcept
{
    DWORD code = CheckHandle(handle);
    if (code != kZipOk) return Finish(code);
    return Finish(handle->reader->ExtractItem(index, target));
}

DWORD ZipCloseArchive(ZipArchiveHandle* handle) noexcept
{
    DWORD code = CheckHandle(handle);
    if (code != kZipOk) return Finish(code);
    delete handle->reader;
    handle->reader = nullptr;
    handle->kind = 0;
    delete handle;
    return Finish(kZipOk);
}

DWORD ZipSetSizeLimit(ZipArchiveHandle* handle, uint64_t bytes) noexcept
{
    DWORD code = CheckHandle(handle);
    if (code != kZipOk) return Finish(code);
    handle->reader->SetSizeLimit(bytes);
    return Finish(kZipOk);
}
