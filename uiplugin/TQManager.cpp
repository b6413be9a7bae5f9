// The one-client-per-process rule of the job-settings library client.
#include "uiplugin/TQManager.h"

#include <new>

#include "foundation/StrUtil.h"
#include "uiplugin/SheetSeams.h"
#include "uiplugin/TQInterface.h"

bool TQManager::Reserve() noexcept {
    if (m_useCount != 0) return false;
    m_useCount = 1;
    return true;
}

void TQManager::Unreserve() noexcept {
    if (m_useCount > 0) --m_useCount;
}

wchar_t* TQManager::GetLibraryPath(HMODULE module) {
    wchar_t* path = new (std::nothrow) wchar_t[MAX_PATH];
    if (!path) return nullptr;
    if (!BuildTQLibraryPath(module, L"tq2.dll", path, MAX_PATH)) {
        delete[] path;
        return nullptr;
    }
    return path;
}

Syncher<TQManager>& GetTQManagerSyncher() {
    return GuardedSyncher<TQManager>([] { return new (std::nothrow) TQManager(); });
}

TQInterface* AcquireTQInterface(HMODULE module, const TQSessionInfo* session, BOOL settingsData) {
    {
        SyncherHold<TQManager> hold(GetTQManagerSyncher());
        if (!hold.Get() || !hold.Get()->Reserve()) return nullptr;
    }
    // Only an acquisition that made the client counts: a refused one needs no release, so a
    // caller that forgets to give back its null cannot lock the process out of the library.
    TQInterface* client = nullptr;
    try {
        client = new (std::nothrow) TQInterface(module, L"tq2.dll", L"tq2.dll", session, settingsData);
    } catch (...) {
        client = nullptr;
    }
    if (!client) {
        SyncherHold<TQManager> hold(GetTQManagerSyncher());
        if (hold.Get()) hold.Get()->Unreserve();
    }
    return client;
}

void ReleaseTQInterface(TQInterface* client) {
    if (!client) return;
    // The place is given back only once the library is gone, so the next client never meets
    // the previous one's library still shutting down.
    delete client;
    SyncherHold<TQManager> hold(GetTQManagerSyncher());
    if (hold.Get()) hold.Get()->Unreserve();
}

namespace {
LONG ManagerUseCount() {
    SyncherHold<TQManager> hold(GetTQManagerSyncher());
    return hold.Get() ? hold.Get()->GetUseCount() : 0;
}
TQInterface* ManagerAcquire(HMODULE module, void* session, int flag) {
    return AcquireTQInterface(module, static_cast<const TQSessionInfo*>(session), flag ? TRUE : FALSE);
}
const TQClientCalls kManagerCalls = {&ManagerUseCount, &ManagerAcquire, &ReleaseTQInterface};
}  // namespace

const TQClientCalls& GetTQManagerClientCalls() noexcept { return kManagerCalls; }
