// Stand-in for the maker's job-monitor library: its "autorun" entry, which rundll32 calls,
// leaves a marker file beside the library holding the process's command line, so that a
// test sees the start and how the library was named.
#include <windows.h>

#include <cstring>

namespace {

// The folder of this library, with its trailing backslash; false when it cannot be had.
bool GetOwnFolder(wchar_t* folder, DWORD size)
{
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&GetOwnFolder), &self))
        return false;
    const DWORD length = GetModuleFileNameW(self, folder, size);
    if (length == 0 || length >= size)
        return false;
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (!slash)
        return false;
    slash[1] = L'\0';
    return true;
}

}  // namespace

// rundll32's entry signature. The marker is written under a temporary name and then renamed,
// so a polling test never reads it half-written.
extern "C" void CALLBACK autorun(HWND, HINSTANCE, LPSTR, int)
{
    wchar_t folder[MAX_PATH];
    if (!GetOwnFolder(folder, MAX_PATH) || wcslen(folder) + 16 > MAX_PATH)
        return;
    wchar_t temp[MAX_PATH];
    wchar_t marker[MAX_PATH];
    wcscpy(temp, folder);
    wcscat(temp, L"qvjm-ran.tmp");
    wcscpy(marker, folder);
    wcscat(marker, L"qvjm-ran.txt");
    HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const char* line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(temp, marker, MOVEFILE_REPLACE_EXISTING);
}
