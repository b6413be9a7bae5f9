// Text conversion, string wrappers, formatting, hexadecimal, path and resource helpers.
#include "foundation/StrUtil.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

// ---------------------------------------------------------------------------------
// Holders

void WipeMemory(void* buffer, size_t bytes) noexcept {
    if (buffer && bytes) SecureZeroMemory(buffer, bytes);
}

void WipeWideDelete::operator()(wchar_t* text) const noexcept {
    if (!text) return;
    WipeMemory(text, (wcslen(text) + 1) * sizeof(wchar_t));
    delete[] text;
}

void WipeNarrowDelete::operator()(char* text) const noexcept {
    if (!text) return;
    WipeMemory(text, strlen(text) + 1);
    delete[] text;
}

// ---------------------------------------------------------------------------------
// StrConvert

namespace {

bool StartsWithUtf8Bom(const char* text, int length) {
    if (length != 0 && length < 3) return false;
    // A terminated text stops at the first mismatch, so reading three bytes is safe.
    return static_cast<uint8_t>(text[0]) == 0xEF && static_cast<uint8_t>(text[1]) == 0xBB &&
           static_cast<uint8_t>(text[2]) == 0xBF;
}

bool HoldsWideBom(const wchar_t* text, int length) {
    if (length == 0) return wcschr(text, 0xFEFF) != nullptr;
    for (int i = 0; i < length; ++i)
        if (text[i] == 0xFEFF) return true;
    return false;
}

}  // namespace

int StrConvert::ToWide(wchar_t** out, const char* text, int length, bool detectBom) const noexcept {
    if (!out || !text || length < 0) return 0;
    UINT codePage = m_codePage;
    if (detectBom && StartsWithUtf8Bom(text, length)) codePage = kUtf8CodePage;
    const int source = length == 0 ? -1 : length;
    const int n = MultiByteToWideChar(codePage, 0, text, source, nullptr, 0);
    if (n < 1) return 0;
    wchar_t* buffer = new (std::nothrow) wchar_t[static_cast<size_t>(n) + 1];
    if (!buffer) return 0;
    if (MultiByteToWideChar(codePage, 0, text, source, buffer, n) != n) {
        delete[] buffer;
        return 0;
    }
    buffer[n] = 0;
    *out = buffer;
    return n;
}

int StrConvert::ToMultiByte(char** out, const wchar_t* text, int length, bool detectBom) const noexcept {
    if (!out || !text || length < 0) return 0;
    UINT codePage = m_codePage;
    if (detectBom && HoldsWideBom(text, length)) codePage = kUtf8CodePage;
    const int source = length == 0 ? -1 : length;
    const int n = WideCharToMultiByte(codePage, 0, text, source, nullptr, 0, nullptr, nullptr);
    if (n < 1) return 0;
    // One spare byte so that a part of a text (no terminator converted) is terminated too.
    char* buffer = new (std::nothrow) char[static_cast<size_t>(n) + 1];
    if (!buffer) return 0;
    if (WideCharToMultiByte(codePage, 0, text, source, buffer, n, nullptr, nullptr) != n) {
        delete[] buffer;
        return 0;
    }
    buffer[n] = 0;
    *out = buffer;
    return n;
}

int StrConvert::CopyNarrow(char** out, const char* text, int length) const noexcept {
    if (!out || !text || length < 0) return 0;
    if (length == 0) length = static_cast<int>(strlen(text) + 1);
    char* buffer = new (std::nothrow) char[static_cast<size_t>(length) + 1];
    if (!buffer) return 0;
    memcpy(buffer, text, static_cast<size_t>(length));
    buffer[length] = 0;
    *out = buffer;
    return length;
}

int StrConvert::CopyWide(wchar_t** out, const wchar_t* text, int length) const noexcept {
    if (!out || !text || length < 0) return 0;
    if (length == 0) length = static_cast<int>(wcslen(text) + 1);
    wchar_t* buffer = new (std::nothrow) wchar_t[static_cast<size_t>(length) + 1];
    if (!buffer) return 0;
    wmemcpy(buffer, text, static_cast<size_t>(length));
    buffer[length] = 0;
    *out = buffer;
    return length;
}

template <class To, class From>
StrUtil<To, From>::StrUtil(const From* text, UINT codePage, int length) noexcept : StrConvert(codePage) {
    if constexpr (sizeof(To) == 2 && sizeof(From) == 1)
        m_count = ToWide(&m_text, text, length, true);
    else if constexpr (sizeof(To) == 1 && sizeof(From) == 2)
        m_count = ToMultiByte(&m_text, text, length, true);
    else if constexpr (sizeof(To) == 2)
        m_count = CopyWide(&m_text, text, length);
    else
        m_count = CopyNarrow(&m_text, text, length);
}

template class StrUtil<wchar_t, char>;
template class StrUtil<char, wchar_t>;
template class StrUtil<wchar_t, wchar_t>;
template class StrUtil<char, char>;

// ---------------------------------------------------------------------------------
// String wrappers

size_t StrLen(const wchar_t* text) noexcept { return text ? wcslen(text) : 0; }
size_t StrLenA(const char* text) noexcept { return text ? strlen(text) : 0; }
const wchar_t* StrChr(const wchar_t* text, wchar_t ch) noexcept { return text ? wcschr(text, ch) : nullptr; }
wchar_t* StrChr(wchar_t* text, wchar_t ch) noexcept { return text ? wcschr(text, ch) : nullptr; }
const char* StrChrA(const char* text, char ch) noexcept { return text ? strchr(text, ch) : nullptr; }
char* StrChrA(char* text, char ch) noexcept { return text ? strchr(text, ch) : nullptr; }

namespace {

// Bounded copy that always terminates and never calls the CRT's invalid-parameter handler.
template <class C>
C* BoundedCopy(C* dest, size_t destSize, const C* source, size_t count) {
    if (!dest || destSize == 0) return nullptr;
    size_t n = 0;
    if (source)
        while (n < count && n + 1 < destSize && source[n]) ++n;
    if (n) memcpy(dest, source, n * sizeof(C));
    dest[n] = 0;
    return dest;
}

}  // namespace

wchar_t* StrNCopy(wchar_t* dest, size_t destSize, const wchar_t* source, size_t count) noexcept {
    return BoundedCopy(dest, destSize, source, count);
}
char* StrNCopyA(char* dest, size_t destSize, const char* source, size_t count) noexcept {
    return BoundedCopy(dest, destSize, source, count);
}
wchar_t* StrCopy(wchar_t* dest, size_t destSize, const wchar_t* source) noexcept {
    return BoundedCopy(dest, destSize, source, static_cast<size_t>(-1));
}
char* StrCopyA(char* dest, size_t destSize, const char* source) noexcept {
    return BoundedCopy(dest, destSize, source, static_cast<size_t>(-1));
}
int StrNCmp(const wchar_t* a, const wchar_t* b, size_t count) noexcept {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    return wcsncmp(a, b, count);
}
int StrNCmpA(const char* a, const char* b, size_t count) noexcept {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    return strncmp(a, b, count);
}

// ---------------------------------------------------------------------------------
// Formatting: msvcrt's _vsnwprintf/_vscwprintf (and the narrow pair), never MinGW's C99
// printf, whose wide "%s" reads a narrow string.

int FormatToBufferV(wchar_t* buffer, unsigned size, const wchar_t* format, va_list args) noexcept {
    if (!format) return 0;
    if (!buffer) {
        const int n = _vscwprintf(format, args);
        return n < 0 ? 0 : n + 1;
    }
    if (size == 0) return 0;
    const int n = _vsnwprintf(buffer, size, format, args);
    if (n < 0 || static_cast<unsigned>(n) >= size) {
        buffer[size - 1] = 0;  // cut: terminated, but reported as a failure
        return 0;
    }
    return n + 1;
}

int FormatToBufferVA(char* buffer, unsigned size, const char* format, va_list args) noexcept {
    if (!format) return 0;
    if (!buffer) {
        const int n = _vscprintf(format, args);
        return n < 0 ? 0 : n + 1;
    }
    if (size == 0) return 0;
    const int n = _vsnprintf(buffer, size, format, args);
    if (n < 0 || static_cast<unsigned>(n) >= size) {
        buffer[size - 1] = 0;
        return 0;
    }
    return n + 1;
}

int FormatToBuffer(wchar_t* buffer, unsigned size, const wchar_t* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    const int n = FormatToBufferV(buffer, size, format, args);
    va_end(args);
    return n;
}

int FormatToBufferA(char* buffer, unsigned size, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    const int n = FormatToBufferVA(buffer, size, format, args);
    va_end(args);
    return n;
}

wchar_t* FormatAllocV(const wchar_t* format, va_list args) noexcept {
    if (!format) return nullptr;
    va_list sizing;
    va_copy(sizing, args);
    const int n = _vscwprintf(format, sizing);
    va_end(sizing);
    if (n < 0) return nullptr;
    wchar_t* buffer = new (std::nothrow) wchar_t[static_cast<size_t>(n) + 1];
    if (!buffer) return nullptr;
    if (FormatToBufferV(buffer, static_cast<unsigned>(n) + 1, format, args) != n + 1) {
        delete[] buffer;
        return nullptr;
    }
    return buffer;
}

char* FormatAllocVA(const char* format, va_list args) noexcept {
    if (!format) return nullptr;
    va_list sizing;
    va_copy(sizing, args);
    const int n = _vscprintf(format, sizing);
    va_end(sizing);
    if (n <= 0) return nullptr;  // the narrow form answers null for an empty text too
    char* buffer = new (std::nothrow) char[static_cast<size_t>(n) + 1];
    if (!buffer) return nullptr;
    if (FormatToBufferVA(buffer, static_cast<unsigned>(n) + 1, format, args) != n + 1) {
        delete[] buffer;
        return nullptr;
    }
    return buffer;
}

wchar_t* FormatAlloc(const wchar_t* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    wchar_t* text = FormatAllocV(format, args);
    va_end(args);
    return text;
}

char* FormatAllocA(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    char* text = FormatAllocVA(format, args);
    va_end(args);
    return text;
}

wchar_t* StrDup(const wchar_t* text) noexcept {
    if (!text) return nullptr;
    wchar_t* copy = nullptr;
    StrConvert().CopyWide(&copy, text, 0);
    return copy;
}

char* StrDupA(const char* text) noexcept {
    if (!text) return nullptr;
    char* copy = nullptr;
    StrConvert().CopyNarrow(&copy, text, 0);
    return copy;
}

// ---------------------------------------------------------------------------------
// Hexadecimal

namespace {

template <class C>
int BytesToHexT(const uint8_t* bytes, int count, C* out, unsigned outSize) {
    if (count < 0 || (count > 0 && !bytes) || count > 0x3FFFFFFF) return 0;
    const unsigned needed = 2u * static_cast<unsigned>(count);
    if (!out) return static_cast<int>(needed);
    if (outSize < needed) return 0;
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < count; ++i) {
        out[2 * i] = static_cast<C>(digits[bytes[i] >> 4]);
        out[2 * i + 1] = static_cast<C>(digits[bytes[i] & 15]);
    }
    return static_cast<int>(needed);
}

unsigned HexDigitValue(wchar_t ch) {
    const wint_t up = towupper(ch);
    if (up >= L'0' && up <= L'9') return up - L'0';
    return static_cast<unsigned>(up) - 55u;  // "A"-"F" give 10-15; other input is not checked
}

}  // namespace

int BytesToHex(const uint8_t* bytes, int count, wchar_t* out, unsigned outSize) noexcept {
    return BytesToHexT(bytes, count, out, outSize);
}

int BytesToHexA(const uint8_t* bytes, int count, char* out, unsigned outSize) noexcept {
    return BytesToHexT(bytes, count, out, outSize);
}

int HexToBytes(const wchar_t* hex, uint8_t* out, unsigned outSize) noexcept {
    if (!hex) return 0;
    const size_t pairs = wcslen(hex) / 2;
    if (pairs > 0x7FFFFFFF) return 0;
    if (!out) return static_cast<int>(pairs);
    if (outSize < pairs) return 0;
    for (size_t i = 0; i < pairs; ++i)
        out[i] = static_cast<uint8_t>((HexDigitValue(hex[2 * i]) << 4) + HexDigitValue(hex[2 * i + 1]));
    return static_cast<int>(pairs);
}

// ---------------------------------------------------------------------------------
// Paths. The split and the join follow _wsplitpath_s/_wmakepath_s, with the same buffer
// limits, but report an overlong part as ERANGE instead of calling the CRT's
// invalid-parameter handler.

namespace {

constexpr size_t kDriveSize = 3;
constexpr size_t kDirSize = 256;
constexpr size_t kNameSize = 256;
constexpr size_t kExtSize = 256;

struct PathParts {
    wchar_t drive[kDriveSize];
    wchar_t dir[kDirSize];
    wchar_t name[kNameSize];
    wchar_t ext[kExtSize];
};

bool IsSlash(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

errno_t CopyPart(wchar_t* dest, size_t destSize, const wchar_t* from, size_t count) {
    if (count >= destSize) return ERANGE;
    wmemcpy(dest, from, count);
    dest[count] = 0;
    return 0;
}

errno_t SplitPath(const wchar_t* path, PathParts& parts) {
    parts.drive[0] = parts.dir[0] = parts.name[0] = parts.ext[0] = 0;
    if (!path) return EINVAL;
    const wchar_t* p = path;
    if (p[0] && p[1] == L':') {
        if (CopyPart(parts.drive, kDriveSize, p, 2)) return ERANGE;
        p += 2;
    }
    const wchar_t* lastSlash = nullptr;
    const wchar_t* lastDot = nullptr;
    for (const wchar_t* q = p; *q; ++q) {
        if (IsSlash(*q)) {
            lastSlash = q;
            lastDot = nullptr;
        } else if (*q == L'.') {
            lastDot = q;
        }
    }
    const wchar_t* name = p;
    if (lastSlash) {
        if (CopyPart(parts.dir, kDirSize, p, static_cast<size_t>(lastSlash + 1 - p))) return ERANGE;
        name = lastSlash + 1;
    }
    const wchar_t* end = name + wcslen(name);
    const wchar_t* nameEnd = lastDot ? lastDot : end;
    if (CopyPart(parts.name, kNameSize, name, static_cast<size_t>(nameEnd - name))) return ERANGE;
    if (CopyPart(parts.ext, kExtSize, nameEnd, static_cast<size_t>(end - nameEnd))) return ERANGE;
    return 0;
}

// Appends text at out[*pos], bounded by size (one unit kept for the terminator).
bool Append(wchar_t* out, size_t size, size_t* pos, const wchar_t* text, size_t count) {
    if (*pos + count >= size) return false;
    wmemcpy(out + *pos, text, count);
    *pos += count;
    out[*pos] = 0;
    return true;
}

errno_t MakePath(wchar_t* out, size_t size, const wchar_t* drive, const wchar_t* dir, const wchar_t* name,
                 const wchar_t* ext) {
    if (!out || size == 0) return EINVAL;
    out[0] = 0;
    size_t pos = 0;
    bool ok = true;
    if (drive && drive[0]) {
        const wchar_t d[2] = {drive[0], L':'};
        ok = Append(out, size, &pos, d, 2);
    }
    if (ok && dir && dir[0]) {
        const size_t n = wcslen(dir);
        ok = Append(out, size, &pos, dir, n);
        if (ok && !IsSlash(dir[n - 1])) ok = Append(out, size, &pos, L"\\", 1);
    }
    if (ok && name && name[0]) ok = Append(out, size, &pos, name, wcslen(name));
    if (ok && ext && ext[0]) {
        if (ext[0] != L'.') ok = Append(out, size, &pos, L".", 1);
        if (ok) ok = Append(out, size, &pos, ext, wcslen(ext));
    }
    if (!ok) {
        out[0] = 0;
        return ERANGE;
    }
    return 0;
}

}  // namespace

errno_t ReplaceExtension(wchar_t* out, unsigned outSize, const wchar_t* path, const wchar_t* extension) noexcept {
    if (!out || outSize == 0) return EINVAL;
    out[0] = 0;
    if (!path || !extension) return EINVAL;
    PathParts parts;
    const errno_t split = SplitPath(path, parts);
    if (split) return split;
    return MakePath(out, outSize, parts.drive, parts.dir, parts.name, extension);
}

void MakeSiblingPath(wchar_t* out, unsigned outSize, const wchar_t* path, const wchar_t* extension) noexcept {
    ReplaceExtension(out, outSize, path, extension);
}

wchar_t* ReplaceExtensionAlloc(const wchar_t* path, const wchar_t* extension) noexcept {
    if (!path || !extension) return nullptr;
    WText out(new (std::nothrow) wchar_t[MAX_PATH]);
    if (!out) return nullptr;
    if (ReplaceExtension(out.get(), MAX_PATH, path, extension) != 0) return nullptr;
    return out.release();
}

wchar_t* GetPathDirectory(const wchar_t* path) noexcept {
    PathParts parts;
    if (!path || SplitPath(path, parts)) return nullptr;
    return FormatAlloc(L"%s%s", parts.drive, parts.dir);
}

wchar_t* GetPathFileName(const wchar_t* path) noexcept {
    PathParts parts;
    if (!path || SplitPath(path, parts)) return nullptr;
    return FormatAlloc(L"%s%s", parts.name, parts.ext);
}

wchar_t* GetPathStem(const wchar_t* path) noexcept {
    PathParts parts;
    if (!path || SplitPath(path, parts)) return nullptr;
    return FormatAlloc(L"%s", parts.name);
}

// ---------------------------------------------------------------------------------
// Resources

const void* LoadResourceData(HMODULE module, const wchar_t* type, const wchar_t* name, LANGID language,
                             DWORD* size) noexcept {
    if (size) *size = 0;
    if (!module || !type || !name) return nullptr;
    HRSRC found = FindResourceExW(module, type, name, language);
    if (!found) found = FindResourceW(module, name, type);
    if (!found) return nullptr;
    const DWORD bytes = SizeofResource(module, found);
    if (bytes == 0) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return nullptr;
    if (size) *size = bytes;
    return data;
}

const void* LoadDialogResource(HMODULE module, const wchar_t* name, LANGID language, DWORD* size) noexcept {
    return LoadResourceData(module, RT_DIALOG, name, language, size);
}

wchar_t* LoadStringResource(HMODULE module, UINT id, LANGID language, UINT codePage) noexcept {
    if (!module) return nullptr;
    DWORD bytes = 0;
    const void* block =
        LoadResourceData(module, RT_STRING, MAKEINTRESOURCEW((id >> 4) + 1), language, &bytes);
    return CopyStringTableEntry(static_cast<const wchar_t*>(block), bytes, id & 15, codePage);
}

wchar_t* CopyStringTableEntry(const wchar_t* block, DWORD blockBytes, unsigned index, UINT codePage) noexcept {
    if (!block || index >= 16) return nullptr;
    const size_t units = blockBytes / sizeof(wchar_t);
    size_t pos = 0;
    for (unsigned i = 0; i < index; ++i) {
        if (pos >= units) return nullptr;
        pos += 1 + static_cast<size_t>(block[pos]);
    }
    if (pos >= units) return nullptr;
    const size_t count = block[pos];
    if (count == 0 || pos + 1 + count > units) return nullptr;
    StrUtil<wchar_t, wchar_t> copy(block + pos + 1, codePage, static_cast<int>(count));
    return copy.Detach();
}
