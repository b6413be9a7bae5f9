// PPD byte sources: file and resource plug-ins, and the buffered line streams.
#include "ppd/PPDIO.h"

#include <cstring>
#include <cwchar>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "foundation/StrUtil.h"
#include "ppd/PPDArena.h"

namespace PPDParser {

namespace {

struct FileModeRow {
    int mode;
    DWORD creation;
    DWORD access;
    DWORD share;
};

// Readers share with writers too, so a PPD that another process holds open
// for writing can still be read.
constexpr FileModeRow kFileModes[] = {
    {kModeWrite, CREATE_ALWAYS, GENERIC_WRITE, FILE_SHARE_WRITE},
    {kModeRead, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
    {kModeReadWrite, OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
};

struct ResModeRow {
    int mode;
    bool allowed;
};
constexpr ResModeRow kResModes[] = {{kModeWrite, false}, {kModeRead, true}, {kModeReadWrite, false}};

// Returns a new copy of the text (integer resource ids as "#n"), or null.
wchar_t* CopyResText(const wchar_t* text) {
    if (!text) return nullptr;
    if (IS_INTRESOURCE(text)) {
        wchar_t* out = new (std::nothrow) wchar_t[8];
        if (out) FormatToBuffer(out, 8, L"#%u", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(text)));
        return out;
    }
    const size_t n = wcslen(text);
    wchar_t* out = new (std::nothrow) wchar_t[n + 1];
    if (out) wmemcpy(out, text, n + 1);
    return out;
}

// Length of the text before the first CR or LF among the n bytes (n when there is
// none); ascii receives whether those bytes are all below 0x80. Sixteen bytes at a
// time where the platform has SSE2: every statement line passes through here.
unsigned ScanLine(const char* text, unsigned n, bool* ascii) {
    unsigned i = 0;
    unsigned high = 0;
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const unsigned breaks =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        const unsigned tops = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (breaks) {
            const unsigned at = static_cast<unsigned>(__builtin_ctz(breaks));
            high |= tops & ((1u << at) - 1);
            *ascii = high == 0;
            return i + at;
        }
        high |= tops;
    }
#endif
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' || c == '\n') break;
        high |= c & 0x80;
    }
    *ascii = high == 0;
    return i;
}

// Widens len ASCII bytes into out.
void WidenAscii(const char* text, unsigned len, wchar_t* out) {
    unsigned i = 0;
#ifdef __SSE2__
    static_assert(sizeof(wchar_t) == 2, "UTF-16 wide characters");
    const __m128i zero = _mm_setzero_si128();
    auto block = [&](unsigned at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + 8), _mm_unpackhi_epi8(v, zero));
    };
    for (; i + 16 <= len; i += 16) block(i);
    // The rest of a long line as one more block that overlaps the one before (the same
    // characters written twice), a short line eight at a time: no byte-wise tail on most lines.
    if (i < len && len >= 16) return block(len - 16);
    for (; i + 8 <= len; i += 8) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(text + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
    }
#endif
    for (; i < len; ++i) out[i] = static_cast<unsigned char>(text[i]);
}

}  // namespace

// ---------------------------------------------------------------- CFileIOPlugIn

CFileIOPlugIn::CFileIOPlugIn(const wchar_t* name) {
    if (name) SetName(name);
}

CFileIOPlugIn::~CFileIOPlugIn() { Reset(); }

bool CFileIOPlugIn::SetName(const wchar_t* name) {
    Close();
    m_name[0] = 0;
    if (!name) return false;
    const size_t n = wcsnlen(name, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;  // an over-long name is refused, never cut
    wmemcpy(m_name, name, n + 1);
    return true;
}

void CFileIOPlugIn::Reset() {
    Close();
    m_name[0] = 0;
}

bool CFileIOPlugIn::Open(int mode) {
    if (!m_name[0] || m_file != INVALID_HANDLE_VALUE) return false;
    for (const FileModeRow& row : kFileModes) {
        if (row.mode != mode) continue;
        m_file = CreateFileW(m_name, row.access, row.share, nullptr, row.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_file != INVALID_HANDLE_VALUE) return true;
        break;
    }
    Close();
    return false;
}

bool CFileIOPlugIn::Close() {
    if (m_file == INVALID_HANDLE_VALUE) return true;
    const BOOL ok = CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    return ok != FALSE;
}

unsigned CFileIOPlugIn::Read(void* buffer, unsigned bytes) {
    if (!buffer || m_file == INVALID_HANDLE_VALUE) return 0;
    DWORD got = 0;
    if (!ReadFile(m_file, buffer, bytes, &got, nullptr)) return 0;
    // A successful read of nothing is the end of the file; say so, because
    // ReadFile leaves the last error as it was.
    if (got == 0 && bytes != 0) SetLastError(ERROR_HANDLE_EOF);
    return got;
}

unsigned CFileIOPlugIn::Write(const void* buffer, unsigned bytes) {
    if (!buffer || m_file == INVALID_HANDLE_VALUE) return 0;
    DWORD put = 0;
    if (!WriteFile(m_file, buffer, bytes, &put, nullptr)) return 0;
    return put;
}

bool CFileIOPlugIn::Seek(unsigned offset) {
    if (m_file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(m_file, to, nullptr, FILE_BEGIN) != FALSE;
}

CBaseFileIOPlugIn* CFileIOPlugIn::Clone(const wchar_t* name, LANGID) {
    return new (std::nothrow) CFileIOPlugIn(name);
}

// ---------------------------------------------------------------- CResIOPlugIn

CResIOPlugIn::CResIOPlugIn(const wchar_t* modulePath, const wchar_t* type, const wchar_t* name, LANGID language) {
    Init(modulePath, nullptr, type, name, language);
}

CResIOPlugIn::CResIOPlugIn(HMODULE module, const wchar_t* type, const wchar_t* name, LANGID language) {
    Init(nullptr, module, type, name, language);
}

CResIOPlugIn::~CResIOPlugIn() { Reset(); }

bool CResIOPlugIn::Init(const wchar_t* modulePath, HMODULE module, const wchar_t* type, const wchar_t* name,
                        LANGID language) {
    Reset();
    m_language = language;
    if (modulePath && *modulePath) {
        m_modulePath = CopyResText(modulePath);
        if (!m_modulePath) return false;
    } else {
        m_module = module;
        m_ownsModule = false;
    }
    if (type) m_type = CopyResText(type);
    if (name) m_name = CopyResText(name);
    return (!type || m_type) && (!name || m_name);
}

void CResIOPlugIn::FreeBytes() {
    delete[] m_bytes;
    m_bytes = nullptr;
}

void CResIOPlugIn::Reset() {
    Close();
    FreeBytes();
    if (m_ownsModule && m_module) FreeLibrary(m_module);
    m_module = nullptr;
    m_ownsModule = false;
    delete[] m_modulePath;
    delete[] m_type;
    delete[] m_name;
    m_modulePath = m_type = m_name = nullptr;
}

bool CResIOPlugIn::Open(int mode) {
    if (!m_name || !m_type || m_mem) return false;
    bool allowed = false;
    for (const ResModeRow& row : kResModes)
        if (row.mode == mode) allowed = row.allowed;
    if (!allowed) {
        Close();
        return false;
    }
    if (!m_module && m_modulePath) {
        m_module = LoadLibraryExW(m_modulePath, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_WITH_ALTERED_SEARCH_PATH);
        m_ownsModule = m_module != nullptr;
    }
    if (!m_module) return false;
    DWORD size = 0;
    const void* data = LoadResourceData(m_module, m_type, m_name, m_language, &size);
    if (!data || size == 0) return false;
    FreeBytes();
    m_bytes = new (std::nothrow) uint8_t[size];
    if (!m_bytes) return false;
    memcpy(m_bytes, data, size);
    m_mem = new (std::nothrow) CMemIO(m_bytes, size);
    return m_mem != nullptr;
}

bool CResIOPlugIn::Close() {
    delete m_mem;
    m_mem = nullptr;
    return true;
}

unsigned CResIOPlugIn::Read(void* buffer, unsigned bytes) {
    if (!m_mem || !buffer) return 0;
    unsigned got = 0;
    m_mem->Read(buffer, bytes, &got);
    if (got == 0 && bytes != 0) SetLastError(ERROR_HANDLE_EOF);
    return got;
}

unsigned CResIOPlugIn::Write(const void*, unsigned) { return 0; }

bool CResIOPlugIn::Seek(unsigned offset) { return m_mem && m_mem->Seek(offset); }

CBaseFileIOPlugIn* CResIOPlugIn::Clone(const wchar_t* name, LANGID language) {
    if (m_modulePath) return new (std::nothrow) CResIOPlugIn(m_modulePath, m_type, name, language);
    return new (std::nothrow) CResIOPlugIn(m_module, m_type, name, language);
}

// ---------------------------------------------------------------- CBaseIO

void CBaseIO::SetBuffer(char* buffer, unsigned capacity, unsigned used) {
    m_buffer = buffer;
    m_capacity = buffer ? capacity : 0;
    m_used = used <= m_capacity ? used : m_capacity;
    m_pos = 0;
}

void CBaseIO::ResetBuffer() {
    m_used = 0;
    m_pos = 0;
}

void CBaseIO::Compact() {
    if (!m_buffer) return;
    if (m_pos > 0) {
        const unsigned keep = Buffered();
        if (keep) memmove(m_buffer, m_buffer + m_pos, keep);
        m_used = keep;
    }
    m_pos = 0;
}

void CBaseIO::SkipLineBreak() {
    m_status = kIOReady;
    if (Buffered() == 0 && !m_end) Fill();
    if (Buffered() == 0) return;
    const char first = m_buffer[m_pos];
    ++m_pos;
    ++m_offset;
    if (first != '\r' && first != '\n') return;
    if (Buffered() == 0 && !m_end) Fill();
    if (Buffered() == 0) return;
    const char partner = first == '\r' ? '\n' : '\r';
    if (m_buffer[m_pos] == partner) {
        ++m_pos;
        ++m_offset;
    }
}

bool CBaseIO::ReadLine(wchar_t* out, unsigned outChars, int maxBytes, int* lineLength, UINT codePage) {
    m_status = kIOBusy;
    if (m_state != kStateOpen || !out || outChars == 0 || maxBytes < 1) {
        m_status = kIOEndOfData;
        return false;
    }
    m_status = kIOEndOfData;
    const unsigned max = static_cast<unsigned>(maxBytes);
    if (!m_end && Buffered() < max) {
        if (!Fill()) return false;
    }
    const unsigned n = Buffered() < max ? Buffered() : max;
    if (n < 1) return false;

    const char* start = m_buffer + m_pos;
    bool ascii = true;
    const unsigned len = ScanLine(start, n, &ascii);
    const unsigned widen = outChars - 1;
    if (len == n && n >= max) {
        // Too long: skip to the next break, refilling as often as needed.
        for (;;) {
            while (m_pos < m_used && m_buffer[m_pos] != '\r' && m_buffer[m_pos] != '\n') {
                ++m_pos;
                ++m_offset;
            }
            if (m_pos < m_used || m_end) break;
            if (!Fill()) break;
        }
        SkipLineBreak();
        m_status = kIOLineTooLong;
        return false;
    }

    // Convert the line before the break is consumed: a refill while skipping
    // the break moves the buffer's bytes.
    unsigned written = 0;
    if (len > 0) {
        if (ascii && len <= widen) {
            WidenAscii(start, len, out);
            written = len;
        } else {
            const int got = MultiByteToWideChar(codePage, 0, start, static_cast<int>(len), out,
                                                static_cast<int>(outChars - 1));
            written = got > 0 ? static_cast<unsigned>(got) : 0;
        }
    }
    m_pos += len;
    m_offset += len;
    if (lineLength) *lineLength = static_cast<int>(len);
    const unsigned before = m_offset;
    const char breakChar = Buffered() ? m_buffer[m_pos] : 0;
    if (Buffered() >= 2) {
        // The common case without a refill: the break and, for CR LF or LF CR, its partner.
        ++m_pos;
        ++m_offset;
        if (m_buffer[m_pos] == (breakChar == '\r' ? '\n' : '\r')) {
            ++m_pos;
            ++m_offset;
        }
    } else {
        SkipLineBreak();
    }
    const unsigned consumed = m_offset - before;
    if (consumed >= 1 && written + 1 < outChars) out[written++] = static_cast<wchar_t>(breakChar);
    if (consumed == 2 && written + 1 < outChars) out[written++] = breakChar == '\r' ? L'\n' : L'\r';
    out[written] = 0;
    m_lastChars = written;
    m_status = kIOReady;
    return true;
}

// ---------------------------------------------------------------- CMemIO

CMemIO::CMemIO(const void* block, unsigned size) : m_block(static_cast<const uint8_t*>(block)), m_size(block ? size : 0) {
    // The stream reads the block in place; nothing ever writes through the buffer.
    SetBuffer(const_cast<char*>(reinterpret_cast<const char*>(m_block)), m_size, 0);
    m_state = kStateOpen;
    m_status = kIOReady;
}

bool CMemIO::Fill() {
    if (m_state != kStateOpen) {
        m_state = kStateClosed;
        m_status = kIOFillFailed;
        return false;
    }
    m_used = m_size;
    m_end = 1;
    return true;
}

bool CMemIO::Seek(unsigned offset) {
    if (offset > m_size) return false;
    m_readPos = offset;
    m_offset = offset;
    m_pos = offset;
    m_used = offset;
    m_end = 0;
    return true;
}

bool CMemIO::Read(void* buffer, unsigned bytes, unsigned* count) {
    m_status = kIOBusy;
    unsigned n = 0;
    if (buffer && m_readPos < m_size) {
        n = m_size - m_readPos < bytes ? m_size - m_readPos : bytes;
        memcpy(buffer, m_block + m_readPos, n);
        m_readPos += n;
    }
    if (count) *count = n;
    m_status = n == bytes ? kIOReady : kIOEndOfData;
    return n == bytes;
}

// ---------------------------------------------------------------- CFunctIO

CFunctIO::CFunctIO(CBaseIOPlugIn* plugIn) : m_plugIn(plugIn) {
    static_assert(kBufferSize <= CPPDArena::kChunkSize, "a reader's buffer is one chunk");
    m_own = CPPDArena::TakeSpareChunk();
    SetBuffer(m_own, kBufferSize, 0);
    m_state = kStateOpening;
    m_status = kIOReady;
    if (!m_own || !m_plugIn) {
        m_state = kStateClosed;
        m_status = kIOOpenFailed;
    } else {
        Open();
    }
    if (m_state == kStateClosed) {
        if (m_plugIn) m_plugIn->Close();
        CPPDArena::GiveSpareChunk(m_own);
        m_own = nullptr;
        SetBuffer(nullptr, 0, 0);
    }
}

CFunctIO::~CFunctIO() {
    if (m_own) Close();
    CPPDArena::GiveSpareChunk(m_own);
}

bool CFunctIO::Open() {
    if (m_state == kStateOpening) {
        if (m_plugIn->Open(kModeRead)) {
            m_state = kStateOpen;
            m_status = kIOReady;
            return true;
        }
        m_plugIn->Close();
        m_state = kStateClosed;
        m_status = kIOOpenFailed;
        return false;
    }
    const bool wasOpen = m_state == kStateOpen;
    if (m_plugIn) m_plugIn->Close();
    m_state = kStateClosed;
    if (wasOpen) m_status = kIOClosedByOpen;
    return false;
}

bool CFunctIO::Close() {
    const bool ok = !m_plugIn || m_plugIn->Close();
    if (ok) {
        m_state = kStateOpen;
        m_status = kIOReady;
    } else {
        m_state = kStateClosed;
        m_status = kIOCloseFailed;
    }
    ResetBuffer();
    return ok;
}

bool CFunctIO::Fill() {
    if (m_state != kStateOpen || m_end || !m_buffer) return false;
    Compact();
    const unsigned room = m_capacity - m_used;
    if (room == 0) return true;
    SetLastError(ERROR_SUCCESS);
    const unsigned got = m_plugIn->Read(m_buffer + m_used, room);
    if (got == 0) {
        if (GetLastError() != ERROR_HANDLE_EOF) {
            m_state = kStateClosed;
            m_status = kIOFillFailed;
            return false;
        }
        m_end = 1;
        return true;
    }
    m_used += got > room ? room : got;
    if (got < room) m_end = 1;
    return true;
}

bool CFunctIO::Seek(unsigned offset) {
    if (m_state != kStateOpen || !m_plugIn->Seek(offset)) return false;
    ResetBuffer();
    m_end = 0;
    m_offset = offset;
    return true;
}

bool CFunctIO::Read(void* buffer, unsigned bytes, unsigned* count) {
    m_status = kIOBusy;
    unsigned n = 0;
    if (buffer && m_state == kStateOpen) {
        uint8_t* dst = static_cast<uint8_t*>(buffer);
        // Bytes already buffered come first, then the plug-in's.
        const unsigned take = Buffered() < bytes ? Buffered() : bytes;
        if (take) {
            memcpy(dst, m_buffer + m_pos, take);
            m_pos += take;
            n = take;
        }
        while (n < bytes && !m_end) {
            SetLastError(ERROR_SUCCESS);
            const unsigned got = m_plugIn->Read(dst + n, bytes - n);
            if (got == 0) {
                m_end = 1;
                break;
            }
            n += got;
        }
        m_offset += n;
    }
    if (count) *count = n;
    m_status = n == bytes ? kIOReady : kIOEndOfData;
    return n == bytes;
}

}  // namespace PPDParser
