// The current user's registry key of a driver data file.
#include "storage/DriverUserKey.h"

#include <cwchar>

#include "foundation/GPRegUtil.h"

std::wstring DriverUserKeyPath(const wchar_t* dataFile)
{
    if (!dataFile || !*dataFile) return std::wstring();
    const wchar_t* name = dataFile;
    for (const wchar_t* p = dataFile; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
    if (!*name) return std::wstring();
    return std::wstring(L"Software\\VYR\\Quillet\\Driver\\") + std::wstring(name, wcsnlen(name, 8));
}

bool MarkInstallablesConfirmed(const wchar_t* dataFile) noexcept
{
    try {
        std::wstring path = DriverUserKeyPath(dataFile);
        if (path.empty()) return false;
        GPRegUtil key(HKEY_CURRENT_USER, path.c_str());
        if (!key.IsOpen() && !key.Create()) return false;
        return key.SetDWord(kConfirmInstallablesValue, 1);
    } catch (...) {
        return false;
    }
}
