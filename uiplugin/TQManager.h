// The process's one job-settings library client: TQManager counts acquisitions and
// makes a TQInterface only for the first, so at most one client lives per process.
#pragma once

#include <windows.h>

#include "foundation/Syncher.h"
#include "uiplugin/TQAbi.h"

class TQInterface;

class TQManager {
public:
    TQManager() = default;
    TQManager(const TQManager&) = delete;
    TQManager& operator=(const TQManager&) = delete;

    // A new client when none lives (the use count becomes 1), else null. A null answer
    // needs no release.
    TQInterface* CreateInterface(HMODULE module, const TQSessionInfo* session, BOOL settingsData);
    // Deletes client and lowers the count; null does nothing.
    void ReleaseInterface(TQInterface* client);
    LONG GetUseCount() const noexcept { return m_useCount; }

    // New 260-character path of the library beside module ("<folder>\<stem>\tq2.dll"),
    // null when the module's path cannot be read or the result does not fit. delete[].
    static wchar_t* GetLibraryPath(HMODULE module);

private:
    LONG m_useCount = 0;
};

// The process's holder of the manager, made on first use.
Syncher<TQManager>& GetTQManagerSyncher();
// CreateInterface and ReleaseInterface under the manager's lock.
TQInterface* AcquireTQInterface(HMODULE module, const TQSessionInfo* session, BOOL settingsData);
void ReleaseTQInterface(TQInterface* client);
