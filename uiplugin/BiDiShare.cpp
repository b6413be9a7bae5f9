// The shared state block of a data file's two-way clients and server, the road's naming rule
// and its access list.
#include "uiplugin/BiDiShare.h"

#include <sddl.h>

#include <cwchar>

#include "foundation/StrUtil.h"

namespace {

// Creates (or opens) a named mutex with the road's access list; null on failure.
HANDLE CreateBiDiMutex(const wchar_t* name) noexcept {
    if (!name) return nullptr;
    PSECURITY_DESCRIPTOR security = MakeBiDiSecurity();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
    HANDLE mutex = CreateMutexW(security ? &attributes : nullptr, FALSE, name);
    if (security) LocalFree(security);
    return mutex;
}

// The session mutex's name, made once per load (the session does not change); kept in the
// module's own storage, so nothing is left behind when the module is unloaded.
struct ShareMutexText {
    wchar_t text[64] = {};
    ShareMutexText() noexcept {
        if (wchar_t* name = MakeBiDiSessionName(kBiDiShareMutexName, GetBiDiSessionId())) {
            wcsncpy(text, name, sizeof(text) / sizeof(text[0]) - 1);
            delete[] name;
        }
    }
};
const wchar_t* ShareMutexName() noexcept {
    static const ShareMutexText name;
    return name.text[0] ? name.text : kBiDiShareMutexName;
}

}  // namespace

DWORD GetBiDiSessionId() noexcept {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
    return session;
}

wchar_t* MakeBiDiSessionName(const wchar_t* base, DWORD session) noexcept {
    if (!base || !*base) return nullptr;
    return FormatAlloc(L"%ls:%lu", base, static_cast<unsigned long>(session));
}

PSECURITY_DESCRIPTOR MakeBiDiSecurity() noexcept {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
    CloseHandle(token);
    if (!ok) return nullptr;
    wchar_t* sidText = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sidText)) return nullptr;
    wchar_t* sddl = FormatAlloc(L"D:P(A;;GA;;;%ls)(A;;GA;;;SY)", sidText);
    LocalFree(sidText);
    if (!sddl) return nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        descriptor = nullptr;
    delete[] sddl;
    return descriptor;
}

// The kernel mutex is made first with the access list; the lock then opens that object.
BiDiShareMutex::BiDiShareMutex() noexcept : AutoMutex((CloseHandle(CreateBiDiMutex(ShareMutexName())), ShareMutexName())) {}

CBiDiShare::CBiDiShare(const wchar_t* guid, const wchar_t* path) noexcept {
    if (!guid) return;
    wchar_t* name = nullptr;
    if (path) {
        wchar_t* stem = GetPathStem(path);
        wchar_t* base = stem && *stem ? FormatAlloc(L"%ls:%ls", stem, guid) : nullptr;
        if (base) name = MakeBiDiSessionName(base, GetBiDiSessionId());
        delete[] base;
        delete[] stem;
    }
    PSECURITY_DESCRIPTOR security = MakeBiDiSecurity();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, security ? &attributes : nullptr, PAGE_READWRITE, 0,
                                        sizeof(BiDiShareBlock), name ? name : guid);
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (security) LocalFree(security);
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(BiDiShareBlock)) : nullptr;
    if (!view) {
        if (mapping) CloseHandle(mapping);
        delete[] name;
        return;
    }
    m_mapping = mapping;
    m_view = static_cast<BiDiShareBlock*>(view);
    m_name = name;
    m_creator = !existed;
    if (m_creator) {
        // A fresh mapping is zero-filled; another process may already have opened it and
        // counted itself, so the creator only stamps the tick, under the mutex.
        BiDiShareMutex mutex;
        AutoLock hold(&mutex);
        m_view->lastActivity = GetTickCount();
    }
}

CBiDiShare::~CBiDiShare() {
    if (m_view) UnmapViewOfFile(m_view);
    if (m_mapping) CloseHandle(m_mapping);
    delete[] m_name;
}

DWORD CBiDiShare::GetClientCount() const noexcept { return m_view ? m_view->clientCount : 0; }
DWORD CBiDiShare::GetServerCount() const noexcept { return m_view ? m_view->serverCount : 0; }
DWORD CBiDiShare::GetLastActivity() const noexcept {
    // A single aligned word: the watchdog reads it without the mutex.
    return m_view ? *static_cast<volatile uint32_t*>(&m_view->lastActivity) : 0;
}

DWORD CBiDiShare::AddClient() noexcept {
    if (!m_view) return 0;
    ++m_view->clientCount;
    m_view->lastActivity = GetTickCount();
    return m_view->clientCount;
}

DWORD CBiDiShare::RemoveClient() noexcept {
    if (!m_view) return 0;
    if (m_view->clientCount) --m_view->clientCount;
    m_view->lastActivity = GetTickCount();
    return m_view->clientCount;
}

DWORD CBiDiShare::AddServer() noexcept {
    if (!m_view) return 0;
    return ++m_view->serverCount;
}

DWORD CBiDiShare::RemoveServer() noexcept {
    if (!m_view) return 0;
    if (m_view->serverCount) --m_view->serverCount;
    return m_view->serverCount;
}

void CBiDiShare::ClearServers() noexcept {
    if (m_view) m_view->serverCount = 0;
}

// The serving mutex's name: the block's with the serving suffix (delete[]), or null.
static wchar_t* ServingMutexName(const wchar_t* blockName) noexcept {
    return blockName ? FormatAlloc(L"%ls%ls", blockName, kBiDiServingSuffix) : nullptr;
}

HANDLE CBiDiShare::OpenServingMutex() const noexcept {
    wchar_t* name = ServingMutexName(m_name);
    HANDLE mutex = CreateBiDiMutex(name);
    delete[] name;
    return mutex;
}

bool CBiDiShare::IsServerAlive() const noexcept {
    wchar_t* name = ServingMutexName(m_name);
    HANDLE mutex = name ? OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name) : nullptr;
    delete[] name;
    if (!mutex) return false;  // no server ever made it, or every holder has gone
    // Held by a live server: the probe times out. Free or abandoned: the probe takes it and
    // gives it straight back.
    const DWORD probe = WaitForSingleObject(mutex, 0);
    if (probe == WAIT_OBJECT_0 || probe == WAIT_ABANDONED) ReleaseMutex(mutex);
    CloseHandle(mutex);
    return probe == WAIT_TIMEOUT;
}
