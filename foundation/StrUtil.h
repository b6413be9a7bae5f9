// Text conversion between code pages, bounded string wrappers, allocate-and-format
// helpers, hexadecimal encoding, path helpers and resource readers.
//
// Rules every function here keeps:
// - Heap results are allocated with new T[n]; the caller frees them with delete[]
//   (or hands them to one of the holders below).
// - Size query, then fill: a null out buffer returns the size needed; nothing is ever
//   written past the capacity the caller gives.
// - Bad input gives the neutral answer (0 or null); nothing throws.
// - Wide formats have the platform's meaning: "%s" is a wide string in a wide format,
//   "%hs" a narrow one. All formatting of the system goes through FormatToBuffer /
//   FormatToBufferA / FormatAlloc / FormatAllocA.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>

// ---------------------------------------------------------------------------------
// Holders for heap texts and buffers (new[] / delete[]).

using WText = std::unique_ptr<wchar_t[]>;
using AText = std::unique_ptr<char[]>;
using ByteBuffer = std::unique_ptr<uint8_t[]>;

// Deleters that overwrite a terminated text with zeros before freeing it: for user
// names, passwords and decrypted settings.
struct WipeWideDelete {
    void operator()(wchar_t* text) const noexcept;
};
struct WipeNarrowDelete {
    void operator()(char* text) const noexcept;
};
using SecretWText = std::unique_ptr<wchar_t[], WipeWideDelete>;
using SecretAText = std::unique_ptr<char[], WipeNarrowDelete>;

// Overwrites count units of a buffer with zeros in a way the compiler cannot drop.
void WipeMemory(void* buffer, size_t bytes) noexcept;

// ---------------------------------------------------------------------------------
// Code-page conversion.

// Code page 3: the calling thread's ANSI code page (CP_THREAD_ACP).
constexpr UINT kThreadAnsiCodePage = 3;
constexpr UINT kUtf8CodePage = 65001;

// Converter base: holds the code page that its conversions use.
// Each converter takes (out, text, length): length 0 means the whole text including its
// terminator. It returns the number of target units produced (for a whole text the count
// includes the terminator) and stores a new[] buffer, always terminated, through out. On
// any failure (null text, null out, conversion error) it returns 0 and stores nothing.
class StrConvert {
public:
    explicit StrConvert(UINT codePage = kThreadAnsiCodePage) noexcept : m_codePage(codePage) {}

    UINT GetCodePage() const noexcept { return m_codePage; }
    void SetCodePage(UINT codePage) noexcept { m_codePage = codePage; }

    // 8-bit text to wide. With detectBom, text starting with EF BB BF is read as UTF-8
    // whatever the held code page; the mark itself becomes a leading U+FEFF.
    int ToWide(wchar_t** out, const char* text, int length, bool detectBom) const noexcept;
    // Wide text to 8-bit. With detectBom, text holding U+FEFF anywhere is written as
    // UTF-8 whatever the held code page.
    int ToMultiByte(char** out, const wchar_t* text, int length, bool detectBom) const noexcept;
    // Plain copies (the code page is not used).
    int CopyNarrow(char** out, const char* text, int length) const noexcept;
    int CopyWide(wchar_t** out, const wchar_t* text, int length) const noexcept;

protected:
    UINT m_codePage;
};

// Owning conversion holder: converts in the constructor and frees in the destructor.
// Instances: <wchar_t,char> (ToWide), <char,wchar_t> (ToMultiByte), <wchar_t,wchar_t>
// (CopyWide), <char,char> (CopyNarrow). Byte-order-mark detection is always on.
//
// Note on the constructors: StrUtil(text) converts with code page 3; to name a code page
// write StrUtil(text, codePage) or StrUtil(text, codePage, length). There is deliberately
// no (text, length) form, so StrUtil(text, CP_UTF8) can never be read as a length.
template <class To, class From>
class StrUtil : public StrConvert {
    static_assert((sizeof(To) == 1 || sizeof(To) == 2) && (sizeof(From) == 1 || sizeof(From) == 2),
                  "StrUtil converts between char and wchar_t only");

public:
    explicit StrUtil(const From* text) noexcept : StrUtil(text, kThreadAnsiCodePage, 0) {}
    StrUtil(const From* text, UINT codePage, int length = 0) noexcept;
    virtual ~StrUtil() { delete[] m_text; }

    StrUtil(const StrUtil&) = delete;
    StrUtil& operator=(const StrUtil&) = delete;

    // The converted text, or null when the input was null or the conversion failed.
    const To* Get() const noexcept { return m_text; }
    To* Get() noexcept { return m_text; }
    // Units produced (including the terminator for a whole text); 0 on failure.
    int Count() const noexcept { return m_count; }
    // Hands the buffer to the caller (free with delete[]); the holder is then empty.
    To* Detach() noexcept {
        To* text = m_text;
        m_text = nullptr;
        m_count = 0;
        return text;
    }

private:
    To* m_text = nullptr;
    int m_count = 0;
};

// ---------------------------------------------------------------------------------
// Bounded string wrappers (each returns what the wrapped CRT function returns; the copies
// return the destination). Null arguments give 0 / null and write nothing.

size_t StrLen(const wchar_t* text) noexcept;
size_t StrLenA(const char* text) noexcept;
const wchar_t* StrChr(const wchar_t* text, wchar_t ch) noexcept;
wchar_t* StrChr(wchar_t* text, wchar_t ch) noexcept;
const char* StrChrA(const char* text, char ch) noexcept;
char* StrChrA(char* text, char ch) noexcept;
// Copies at most count characters and always terminates; a source longer than the
// destination is cut (never the invalid-parameter handler).
wchar_t* StrNCopy(wchar_t* dest, size_t destSize, const wchar_t* source, size_t count) noexcept;
char* StrNCopyA(char* dest, size_t destSize, const char* source, size_t count) noexcept;
wchar_t* StrCopy(wchar_t* dest, size_t destSize, const wchar_t* source) noexcept;
char* StrCopyA(char* dest, size_t destSize, const char* source) noexcept;
int StrNCmp(const wchar_t* a, const wchar_t* b, size_t count) noexcept;
int StrNCmpA(const char* a, const char* b, size_t count) noexcept;

// ---------------------------------------------------------------------------------
// Formatting (the C runtime's own printf family: platform meaning of %s).

// Null buffer: characters needed including the terminator. Otherwise writes at most size
// characters and returns the characters written including the terminator; 0 for a null
// format, a formatting failure or a text that does not fit (the buffer then holds the
// cut text, terminated, when size > 0).
int FormatToBuffer(wchar_t* buffer, unsigned size, const wchar_t* format, ...) noexcept;
int FormatToBufferA(char* buffer, unsigned size, const char* format, ...) noexcept;
int FormatToBufferV(wchar_t* buffer, unsigned size, const wchar_t* format, va_list args) noexcept;
int FormatToBufferVA(char* buffer, unsigned size, const char* format, va_list args) noexcept;

// New formatted text (free with delete[]); null for a null format or a failure.
// FormatAlloc returns an empty text for an empty result ("%s" duplicates a wide string);
// FormatAllocA returns null also when the result is empty.
wchar_t* FormatAlloc(const wchar_t* format, ...) noexcept;
char* FormatAllocA(const char* format, ...) noexcept;
wchar_t* FormatAllocV(const wchar_t* format, va_list args) noexcept;
char* FormatAllocVA(const char* format, va_list args) noexcept;

// Duplicates a wide / narrow text into a new[] buffer; null for null.
wchar_t* StrDup(const wchar_t* text) noexcept;
char* StrDupA(const char* text) noexcept;

// ---------------------------------------------------------------------------------
// Hexadecimal.

// Two upper-case digits per byte, high nibble first, no terminator. Null out: returns
// 2*count. An out size below 2*count writes nothing and returns 0.
int BytesToHex(const uint8_t* bytes, int count, wchar_t* out, unsigned outSize) noexcept;
int BytesToHexA(const uint8_t* bytes, int count, char* out, unsigned outSize) noexcept;
// Each pair of characters becomes one byte (a trailing odd character is ignored). Null
// out: returns wcslen/2. An out size below that writes nothing and returns 0. Returns the
// bytes written; no terminator.
int HexToBytes(const wchar_t* hex, uint8_t* out, unsigned outSize) noexcept;

// ---------------------------------------------------------------------------------
// Paths (wide; split into drive 3, directory 256 and file name 256 characters).

// Path with its extension replaced (extension given with or without the dot, as
// _wmakepath_s takes it). Returns 0 on success, else the error of the split or of the
// join; on failure out holds an empty text (when outSize > 0).
errno_t ReplaceExtension(wchar_t* out, unsigned outSize, const wchar_t* path, const wchar_t* extension) noexcept;
// The same operation without a result (out is empty on failure).
void MakeSiblingPath(wchar_t* out, unsigned outSize, const wchar_t* path, const wchar_t* extension) noexcept;
// New 260-character buffer with the path of ReplaceExtension; null on any failure.
wchar_t* ReplaceExtensionAlloc(const wchar_t* path, const wchar_t* extension) noexcept;
// New texts: drive and directory (with its trailing backslash); file name and extension;
// file name alone. Null for a null path or a path that cannot be split.
wchar_t* GetPathDirectory(const wchar_t* path) noexcept;
wchar_t* GetPathFileName(const wchar_t* path) noexcept;
wchar_t* GetPathStem(const wchar_t* path) noexcept;

// ---------------------------------------------------------------------------------
// Resources. All return null for a null module.

// The locked data of a resource (not copied: it lives as long as the module), found for
// the language first, else by the module's default choice. size (optional) receives its
// size in bytes. Null when missing or empty.
const void* LoadResourceData(HMODULE module, const wchar_t* type, const wchar_t* name, LANGID language,
                             DWORD* size) noexcept;
// RT_DIALOG resource data.
const void* LoadDialogResource(HMODULE module, const wchar_t* name, LANGID language, DWORD* size = nullptr) noexcept;
// New copy of string id from the module's string table (free with delete[]); null when
// missing or of length 0.
wchar_t* LoadStringResource(HMODULE module, UINT id, LANGID language, UINT codePage) noexcept;
// New copy of entry index (0-15) of a string-table block of blockBytes bytes; null when
// the block is null, the index is out of range, the entry is empty or the block ends
// before the entry does.
wchar_t* CopyStringTableEntry(const wchar_t* block, DWORD blockBytes, unsigned index, UINT codePage) noexcept;
