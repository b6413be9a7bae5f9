// The sheet context's links to parts that other pieces of the plug-in provide: the
// job-settings library's use count, the two-way client and the confirm-installables box.
// Each is a table of calls that tests (and the pieces, as they land) replace.
#pragma once

#include <windows.h>

#include "settings/KVCache.h"
#include "settings/KeyForest.h"

class TQInterface;
class CBiDiClient;
class CfgSettings;
class CBaseDriverTab;

// The process's job-settings library client and its use count.
struct TQClientCalls {
    // The use count, read under the manager's lock.
    LONG (*useCount)();
    // A client only for the first holder (the count rises with it); null needs no release.
    TQInterface* (*acquire)(HMODULE module, void* session, int flag);
    // Deletes the client and lowers the count.
    void (*release)(TQInterface* client);
};
const TQClientCalls& GetTQClientCalls() noexcept;
// Installs calls (null restores the default); returns the previous table.
const TQClientCalls* SetTQClientCalls(const TQClientCalls* calls) noexcept;

// The two-way client. make gives null when no client can be made. The default is the real
// client (CBiDiClient: starts <stem>.SRV with <stem>.KQM, connects over local RPC on a thread
// of its own); tests that need no controller install NoBiDiClientCalls or a fake.
struct BiDiClientCalls {
    // openingMs: the budget of the client's connect attempt and first calls.
    CBiDiClient* (*make)(const wchar_t* serverPath, const wchar_t* dataFile, const wchar_t* address,
                         const wchar_t* extra, DWORD openingMs);
    void (*destroy)(CBiDiClient* client);
    BOOL (*isConnected)(CBiDiClient* client);
    BOOL (*isConnectedTo)(CBiDiClient* client, const wchar_t* address);
    void (*request)(CBiDiClient* client, int mask);
    BOOL (*applyResults)(CBiDiClient* client, CfgSettings* settings, OptionForest* forest, KVCache* values, int mask);
};
const BiDiClientCalls& GetBiDiClientCalls() noexcept;
// The calls of the real two-way client (the default).
const BiDiClientCalls& TwoWayBiDiClientCalls() noexcept;
// Calls that make no client: never connected, no results.
const BiDiClientCalls& NoBiDiClientCalls() noexcept;
// Installs calls (null restores the real client); returns the previous table.
const BiDiClientCalls* SetBiDiClientCalls(const BiDiClientCalls* calls) noexcept;

// The confirm-installables box, shown modally (owner tab, parent window, the context's module).
using ConfirmInstallablesFn = void (*)(CBaseDriverTab* owner, HWND parent, HMODULE module);
ConfirmInstallablesFn GetConfirmInstallables() noexcept;
ConfirmInstallablesFn SetConfirmInstallables(ConfirmInstallablesFn fn) noexcept;
