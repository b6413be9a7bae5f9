// Helpers of the ZIP tests (see ZipTestUtil.h).
#include "ZipTestUtil.h"

#include <zlib.h>

#include "tests/support/TestPrinter.h"

#include <algorithm>
#include <cstring>

namespace ziptest {

std::wstring Package(const wchar_t* name) { return std::wstring(TOLVA_PACKAGES_W) + L"\\" + name; }

void DeleteTree(const std::wstring& folder) { tolvatest::DeleteTree(folder); }

std::wstring FreshScratch(const std::wstring& name) {
    std::wstring root = TOLVA_SCRATCH_W;
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring folder = root + L"\\" + name;
    DeleteTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\";
}

std::wstring SandboxPath() { return TOLVA_SANDBOX_W; }

std::wstring ResetSandbox() {
    std::wstring sandbox = FreshScratch(L"sandbox");
    WriteBytes(sandbox + L"canary.txt", "canary\n");
    return sandbox;
}

namespace {
void Walk(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>* out) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + relative + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->push_back(relative + name + L"\\");
            Walk(root, relative + name + L"\\", out);
        } else {
            out->push_back(relative + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
}  // namespace

std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> entries;
    std::wstring base = root;
    if (!base.empty() && base.back() != L'\\')
        base += L'\\';
    Walk(base, L"", &entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

bool ReadBytes(const std::wstring& path, std::string* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    BOOL ok = bytes->empty() || ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr);
    CloseHandle(file);
    return ok && got == bytes->size();
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

unsigned Crc32(const std::string& bytes) {
    return static_cast<unsigned>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

const ZipExpectedItem* Expected(const char* package, const char* name) {
    for (const ZipExpectedItem& item : kZipExpected)
        if (std::strcmp(item.package, package) == 0 && std::strcmp(item.name, name) == 0)
            return &item;
    return nullptr;
}

std::string Narrow(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    return out;
}

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

unsigned long long WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

}  // namespace ziptest
