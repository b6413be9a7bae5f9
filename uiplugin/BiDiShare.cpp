// The shared state block of a data file's two-way clients and server.
#include "uiplugin/BiDiShare.h"

#include "foundation/StrUtil.h"

CBiDiShare::CBiDiShare(const wchar_t* guid, const wchar_t* path) noexcept {
    if (!guid) return;
    wchar_t* name = nullptr;
    if (path) {
        wchar_t* stem = GetPathStem(path);
        if (stem && *stem) name = FormatAlloc(L"%ls:%ls", stem, guid);
        delete[] stem;
    }
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BiDiShareBlock),
                                        name ? name : guid);
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
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
