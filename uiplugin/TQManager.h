// The process's one job-settings library client: TQManager counts acquisitions and
// makes a TQInterface only for the first, so at most one client lives per process.
#pragma once

#include <windows.h>

#include "foundation/Syncher.h"
#include "uiplugin/TQAbi.h"

class TQInterface;
struct TQClientCalls;

class TQManager {
public:
    TQManager() = default;
    TQManager(const TQManager&) = delete;
    TQManager& operator=(const TQManager&) = delete;

    // Takes the one client's place: true (the use count becomes 1) when none is held.
    bool Reserve() noexcept;
    // Gives a place back; the count never goes below 0.
    void Unreserve() noexcept;
    LONG GetUseCount() const noexcept { return m_useCount; }

    // New 260-character path of the library beside module ("<folder>\<stem>\tq2.dll"),
    // null when the module's path cannot be read or the result does not fit. delete[].
    static wchar_t* GetLibraryPath(HMODULE module);

private:
    LONG m_useCount = 0;
};

// The process's holder of the manager, made on first use.
Syncher<TQManager>& GetTQManagerSyncher();
// A new client when none lives (the use count becomes 1), else null; a null answer needs no
// release. Only the count is taken under the manager's lock: the library's load, its box and
// its waits run outside it, so another sheet's thread finds the count at once.
TQInterface* AcquireTQInterface(HMODULE module, const TQSessionInfo* session, BOOL settingsData);
// Deletes the client (the library's shutdown runs outside the lock), then lowers the count;
// null does nothing.
void ReleaseTQInterface(TQInterface* client);

// The sheet context's calls (uiplugin/SheetSeams.h) over this manager.
const TQClientCalls& GetTQManagerClientCalls() noexcept;
