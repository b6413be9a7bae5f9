// Small helpers of Rindle's tests.
#pragma once

#include <windows.h>

#include <string>

namespace rendertest {

// Writes a PPD of the given text into the temporary folder under a name unique to this process
// and returns its path (empty when it could not be written). The caller deletes it.
inline std::wstring WriteTempPPD(const wchar_t* name, const std::string& text)
{
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L".ppd";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::wstring();
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size() ? path : std::wstring();
}

}  // namespace rendertest
