// The job monitor's start (see JobMonitor.h).
#include "render/JobMonitor.h"

#include <memory>
#include <new>

#include "foundation/StrUtil.h"

namespace {

const wchar_t kJobMonitorKey[] = L"SOFTWARE\\VYR\\JOB MONITOR";
const wchar_t kJobMonitorLibrary[] = L"qvjm.dll";

struct CloseKernelHandle {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using HandleHolder = std::unique_ptr<void, CloseKernelHandle>;

// A zero-filled movable global block, locked while it is held.
class GlobalBlock {
public:
    explicit GlobalBlock(SIZE_T size) noexcept
        : m_handle(GlobalAlloc(GHND, size)), m_data(m_handle ? GlobalLock(m_handle) : nullptr) {}
    ~GlobalBlock() {
        if (m_data) GlobalUnlock(m_handle);
        if (m_handle) GlobalFree(m_handle);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    void* Data() const noexcept { return m_data; }

private:
    HGLOBAL m_handle;
    void* m_data;
};

bool IsSystemName(const wchar_t* name) noexcept {
    return CompareStringOrdinal(name, -1, L"SYSTEM", -1, TRUE) == CSTR_EQUAL;
}

// Whether the process token's user is the SYSTEM account. An account whose name cannot be
// had counts as SYSTEM too: a service that cannot say who it runs as gets no monitor window.
bool TokenUserIsSystem() noexcept {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return true;
    HandleHolder token(rawToken);

    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return true;
    GlobalBlock user(size);
    if (!user.Data() || !GetTokenInformation(token.get(), TokenUser, user.Data(), size, &size)) return true;
    PSID sid = static_cast<TOKEN_USER*>(user.Data())->User.Sid;

    DWORD nameSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    LookupAccountSidW(nullptr, sid, nullptr, &nameSize, nullptr, &domainSize, &use);
    if (nameSize == 0) return true;
    WText name(new (std::nothrow) wchar_t[nameSize]());
    WText domain(new (std::nothrow) wchar_t[domainSize + 1]());
    if (!name || !domain || !LookupAccountSidW(nullptr, sid, name.get(), &nameSize, domain.get(), &domainSize, &use))
        return true;
    return name[0] == L'\0' || IsSystemName(name.get());
}

// The path as one rundll32 argument: quoted when it holds a blank, which rundll32 would
// otherwise take for the end of the library's name.
wchar_t* AsArgument(const wchar_t* path) noexcept {
    return StrChr(path, L' ') ? FormatAlloc(L"\"%s\"", path) : StrDup(path);
}

}  // namespace

int OpenJobMonitorKey(bool create) noexcept {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kJobMonitorKey, 0, KEY_READ, &key) != ERROR_SUCCESS &&
        (!create || RegCreateKeyExW(HKEY_CURRENT_USER, kJobMonitorKey, 0, nullptr, 0, KEY_READ, nullptr, &key,
                                    nullptr) != ERROR_SUCCESS))
        return 0;
    RegCloseKey(key);
    return 1;
}

BOOL LaunchJobMonitor(HINSTANCE module) noexcept {
    if (!module) return 0;

    wchar_t user[MAX_PATH];
    DWORD userSize = MAX_PATH;
    if (GetUserNameW(user, &userSize) && IsSystemName(user)) return 0;
    if (TokenUserIsSystem() || !OpenJobMonitorKey(true)) return 0;

    wchar_t modulePath[MAX_PATH];
    const DWORD pathLength = GetModuleFileNameW(module, modulePath, MAX_PATH);
    if (pathLength == 0 || pathLength >= MAX_PATH) return 0;
    WText folder(GetPathDirectory(modulePath));
    WText library(folder ? FormatAlloc(L"%s%s", folder.get(), kJobMonitorLibrary) : nullptr);
    if (!library) return 0;

    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(library.get(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    FindClose(find);

    wchar_t system[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH) return 0;
    // The trailing blank parts the program from its argument in the command line; in the
    // program's own name it does no harm, as trailing blanks are dropped from file names.
    WText application(FormatAlloc(L"%s\\rundll32.exe ", system));
    WText argument(AsArgument(library.get()));
    WText commandLine(application && argument ? FormatAlloc(L"%s%s,autorun", application.get(), argument.get())
                                               : nullptr);
    if (!commandLine) return 0;

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(application.get(), commandLine.get(), nullptr, nullptr, FALSE, 0, nullptr,
                                        folder.get(), &startup, &process);
    if (started) {
        // Not waited for: the monitor lives on its own.
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return started;
}
