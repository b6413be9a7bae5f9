// The one-client-per-process rule of the job-settings library client.
#include "uiplugin/TQManager.h"

#include <new>

#include "foundation/StrUtil.h"
#include "uiplugin/TQInterface.h"

// Only an acquisition that made the client counts: a refused one needs no release, so a
// caller that forgets to give back its null cannot lock the process out of the library.
TQInterface* TQManager::CreateInterface(HMODULE module, const TQSessionInfo* session, BOOL settingsData) {
    if (m_useCount != 0) return nullptr;
    TQInterface* client = new (std::nothrow) TQInterface(module, L"tq2.dll", L"tq2.dll", session, settingsData);
    if (client) m_useCount = 1;
    return client;
}

void TQManager::ReleaseInterface(TQInterface* client) {
    if (!client) return;
    if (m_useCount > 0) --m_useCount;
    delete client;
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
    SyncherHold<TQManager> hold(GetTQManagerSyncher());
    TQManager* manager = hold.Get();
    return manager ? manager->CreateInterface(module, session, settingsData) : nullptr;
}

void ReleaseTQInterface(TQInterface* client) {
    SyncherHold<TQManager> hold(GetTQManagerSyncher());
    if (TQManager* manager = hold.Get()) manager->ReleaseInterface(client);
    else delete client;
}
