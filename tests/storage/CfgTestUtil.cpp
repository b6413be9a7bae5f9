// Helpers of the compiled-settings tests.
#include "tests/storage/CfgTestUtil.h"

#include <cstdio>

namespace cfgtest {

namespace {
void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
                RemoveDirectoryW(path.c_str());
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
}
}  // namespace

std::wstring ScratchDir(const std::wstring& name) {
    const std::wstring root = std::wstring(TOLVA_BINARY_DIR_W) + L"\\cfgscratch";
    CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring dir = root + L"\\" + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    RemoveTree(dir);
    return dir;
}

std::wstring FixturesDir() { return std::wstring(TOLVA_SHARED_DIR_W) + L"\\fixtures"; }
std::wstring LanguageModuleDir() { return TOLVA_LAN_DIR_W; }

bool CopyInto(const std::wstring& from, const std::wstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

std::vector<uint8_t> ReadAll(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart < (1 << 30)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                               got != bytes.size()))
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                                      put == bytes.size());
    CloseHandle(file);
    return ok;
}

std::wstring Sibling(const std::wstring& path, const wchar_t* extension) {
    const size_t dot = path.find_last_of(L'.');
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring stem = (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
                                  ? path.substr(0, dot)
                                  : path;
    return stem + extension;
}

bool Touch(const std::wstring& path, int seconds) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME written;
    bool ok = GetFileTime(file, nullptr, nullptr, &written);
    if (ok) {
        ULARGE_INTEGER t;
        t.LowPart = written.dwLowDateTime;
        t.HighPart = written.dwHighDateTime;
        t.QuadPart += static_cast<ULONGLONG>(seconds) * 10000000ull;
        written.dwLowDateTime = t.LowPart;
        written.dwHighDateTime = t.HighPart;
        ok = SetFileTime(file, nullptr, nullptr, &written);
    }
    CloseHandle(file);
    return ok;
}

Direct::Direct(const std::wstring& ppd, const std::wstring& module) : cacheSource(Sibling(ppd, L".PBJ").c_str()) {
    if (!module.empty()) extension.reset(new PPDParser::CResIOPlugIn(module.c_str(), L"PPD", L"IDR_PPDEXTENSIONS", 0));
    settings.reset(new CfgSettings(ppd.c_str(), &ppdSource, &cacheSource, extension ? L"IDR_PPDEXTENSIONS" : nullptr,
                                   extension.get()));
}

std::vector<uint8_t> DefaultsImage(CfgSettings* settings) {
    std::vector<uint8_t> out;
    KVCache* defaults = settings ? settings->GetDefaultSettings() : nullptr;
    if (!defaults) return out;
    for (int section = 0; section < 7; ++section) {
        const uint32_t n = settings->WriteSectionValues(defaults, section, nullptr, 0);
        std::vector<uint8_t> part(n + 4);
        part[0] = static_cast<uint8_t>(section);
        part[1] = static_cast<uint8_t>(n);
        part[2] = static_cast<uint8_t>(n >> 8);
        part[3] = static_cast<uint8_t>(n >> 16);
        if (n) settings->WriteSectionValues(defaults, section, part.data() + 4, n);
        out.insert(out.end(), part.begin(), part.end());
    }
    // The key count and every key's text form too.
    CBaseSoup* soup = settings->GetStringSoup();
    for (auto it = defaults->Begin(); it != defaults->End(); ++it) {
        const CKeySetting* s = defaults->GetAt(it);
        const unsigned count = s ? s->GetText(soup, nullptr, 0) : 0;
        std::vector<wchar_t> text(count + 1);
        if (count) s->GetText(soup, text.data(), count);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(text.data());
        out.insert(out.end(), b, b + count * sizeof(wchar_t));
    }
    return out;
}

std::vector<uint8_t> SectionsImage(CfgSettings* settings) {
    std::vector<uint8_t> out;
    for (int section = 0; section < kCfgSectionCount; ++section) {
        uint32_t size = 0;
        const uint8_t* bytes = settings->GetSectionData(section, &size);
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
        if (bytes) out.insert(out.end(), bytes, bytes + size);
    }
    return out;
}

uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace cfgtest

namespace cfgtest {

bool WriteText(const std::wstring& path, const std::string& text) {
    return WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string DuplexPPD(const std::string& extra) {
    return "*PPD-Adobe: \"4.3\"\r\n"
           "*LanguageVersion: English\r\n"
           "*LanguageEncoding: ISOLatin1\r\n"
           "*ShortNickName: \"Duplex Test\"\r\n"
           "*OpenUI *Duplex/Duplex: PickOne\r\n"
           "*DefaultDuplex: None\r\n"
           "*Duplex None/Off: \"\"\r\n"
           "*Duplex DuplexNoTumble/Long Edge: \"\"\r\n"
           "*Duplex DuplexTumble/Short Edge: \"\"\r\n"
           "*CloseUI: *Duplex\r\n"
           "*OpenUI *InputSlot/Source: PickOne\r\n"
           "*DefaultInputSlot: Tray1\r\n"
           "*InputSlot Tray1/Tray 1: \"\"\r\n"
           "*InputSlot Envelope/Envelope Feeder: \"\"\r\n"
           "*CloseUI: *InputSlot\r\n" +
           extra;
}

std::wstring StageFixture(const std::wstring& dir, const wchar_t* ppdName, bool withModule) {
    const std::wstring ppd = dir + L"\\" + ppdName;
    if (!CopyInto(FixturesDir() + L"\\" + ppdName, ppd)) return std::wstring();
    if (withModule && !CopyInto(Sibling(LanguageModuleDir() + L"\\" + ppdName, L".LAN"), Sibling(ppd, L".LAN")))
        return std::wstring();
    return ppd;
}

}  // namespace cfgtest
