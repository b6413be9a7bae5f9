// Helpers for the PPD parser tests and benchmark: a plug-in over named texts
// held in memory, a string table for the export callback, and file helpers.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ppd/PPDIO.h"
#include "ppd/PPDSettings.h"

namespace ppdtest {

// Named byte blocks that a CMemIOPlugIn (and its clones) read from.
using MemStore = std::map<std::wstring, std::string>;

class CMemIOPlugIn : public PPDParser::CBaseFileIOPlugIn {
public:
    CMemIOPlugIn(std::shared_ptr<MemStore> store, const wchar_t* name)
        : m_store(std::move(store)), m_name(name ? name : L"") {}
    ~CMemIOPlugIn() override { Close(); }

    bool Open(int mode) override {
        if (mode != PPDParser::kModeRead || m_mem) return false;
        auto it = m_store->find(m_name);
        if (it == m_store->end()) return false;
        m_mem = std::make_unique<PPDParser::CMemIO>(it->second.data(), static_cast<unsigned>(it->second.size()));
        return true;
    }
    bool Close() override {
        m_mem.reset();
        return true;
    }
    unsigned Read(void* buffer, unsigned bytes) override {
        if (!m_mem) return 0;
        unsigned got = 0;
        m_mem->Read(buffer, bytes, &got);
        if (got == 0) SetLastError(ERROR_HANDLE_EOF);
        return got;
    }
    unsigned Write(const void*, unsigned) override { return 0; }
    bool Seek(unsigned offset) override { return m_mem && m_mem->Seek(offset); }
    CBaseFileIOPlugIn* Clone(const wchar_t* name, LANGID) override { return new CMemIOPlugIn(m_store, name); }

private:
    std::shared_ptr<MemStore> m_store;
    std::wstring m_name;
    std::unique_ptr<PPDParser::CMemIO> m_mem;
};

// Interns texts in call order; the empty text is -1 (as the settings cache does).
struct StringTable {
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::wstring_view v) const { return std::hash<std::wstring_view>{}(v); }
    };
    std::unordered_map<std::wstring, int, Hash, std::equal_to<>> ids;
    std::vector<std::wstring> texts;
    std::vector<int> flags;

    static int Callback(void* user, const wchar_t* text, int flag) {
        auto* self = static_cast<StringTable*>(user);
        if (!text || !*text) return -1;
        auto it = self->ids.find(std::wstring_view(text));
        if (it != self->ids.end()) return it->second;
        const int id = static_cast<int>(self->texts.size());
        self->ids.emplace(text, id);
        self->texts.emplace_back(text);
        self->flags.push_back(flag);
        return id;
    }
    int Id(const wchar_t* text) const {
        auto it = ids.find(std::wstring_view(text));
        return it == ids.end() ? -1 : it->second;
    }
    const std::wstring& Text(int id) const {
        static const std::wstring none;
        return id >= 0 && id < static_cast<int>(texts.size()) ? texts[static_cast<size_t>(id)] : none;
    }
};

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t I16(const uint8_t* p) { return static_cast<int16_t>(U16(p)); }
inline uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Whole file as bytes ("" when it cannot be read).
inline std::string ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    LARGE_INTEGER size;
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!ReadFile(h, &out[0], static_cast<DWORD>(out.size()), &got, nullptr)) got = 0;
        out.resize(got);
    }
    CloseHandle(h);
    return out;
}

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
    return ok && put == bytes.size();
}

// Files of a folder matching a pattern such as L"*.ppd", full paths, sorted.
inline std::vector<std::wstring> ListFiles(const std::wstring& folder, const wchar_t* pattern) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\" + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(folder + L"\\" + fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(out.begin(), out.end());
    return out;
}

inline std::string Narrow(std::wstring_view w) {
    std::string out;
    for (wchar_t c : w) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace ppdtest
