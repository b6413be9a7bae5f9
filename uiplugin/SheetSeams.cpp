// Default links of the sheet context to the job-settings client, the two-way client and the
// confirm-installables box.
#include "uiplugin/SheetSeams.h"

#include "uiplugin/BiDiClient.h"
#include "uiplugin/TQInterface.h"
#include "uiplugin/TQManager.h"
#include "uiplugin/PropSheets.h"

namespace {

// The process's job-settings library client: TQManager's calls unless a test put others in place.
const TQClientCalls* g_tq = nullptr;

CBiDiClient* MakeClient(const wchar_t* server, const wchar_t* dataFile, const wchar_t* address, const wchar_t* extra,
                        DWORD openingMs)
{
    try {
        return new CBiDiClient(server, dataFile, address, extra, openingMs);
    } catch (...) {
        return nullptr;
    }
}
void DestroyClient(CBiDiClient* client) { delete client; }
BOOL ClientConnected(CBiDiClient* client) { return client && client->IsConnected() == 1; }
BOOL ClientConnectedTo(CBiDiClient* client, const wchar_t* address)
{
    return client && client->IsConnectedTo(address) == 1;
}
void ClientRequest(CBiDiClient* client, int mask)
{
    if (client) client->Request(mask);
}
BOOL ClientResults(CBiDiClient* client, CfgSettings* settings, OptionForest* forest, KVCache* values, int mask)
{
    return client && client->ApplyResults(settings, forest, values, mask);
}
const BiDiClientCalls kRealBiDi = {MakeClient,        DestroyClient, ClientConnected,
                                   ClientConnectedTo, ClientRequest, ClientResults};

CBiDiClient* NoClient(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, DWORD) { return nullptr; }
void NoDestroy(CBiDiClient*) {}
BOOL NotConnected(CBiDiClient*) { return FALSE; }
BOOL NotConnectedTo(CBiDiClient*, const wchar_t*) { return FALSE; }
void NoRequest(CBiDiClient*, int) {}
BOOL NoResults(CBiDiClient*, CfgSettings*, OptionForest*, KVCache*, int) { return FALSE; }

const BiDiClientCalls kNoBiDi = {NoClient, NoDestroy, NotConnected, NotConnectedTo, NoRequest, NoResults};
const BiDiClientCalls* g_bidi = &kRealBiDi;

ConfirmInstallablesFn g_confirm = kDefaultConfirmInstallables;

}  // namespace

const BiDiClientCalls& TwoWayBiDiClientCalls() noexcept { return kRealBiDi; }

const BiDiClientCalls& NoBiDiClientCalls() noexcept { return kNoBiDi; }

const TQClientCalls& GetTQClientCalls() noexcept { return g_tq ? *g_tq : GetTQManagerClientCalls(); }

const TQClientCalls* SetTQClientCalls(const TQClientCalls* calls) noexcept
{
    const TQClientCalls* previous = &GetTQClientCalls();
    g_tq = calls;
    return previous;
}

const BiDiClientCalls& GetBiDiClientCalls() noexcept { return *g_bidi; }

const BiDiClientCalls* SetBiDiClientCalls(const BiDiClientCalls* calls) noexcept
{
    const BiDiClientCalls* previous = g_bidi;
    g_bidi = calls ? calls : &kRealBiDi;
    return previous;
}

ConfirmInstallablesFn GetConfirmInstallables() noexcept { return g_confirm; }

ConfirmInstallablesFn SetConfirmInstallables(ConfirmInstallablesFn fn) noexcept
{
    ConfirmInstallablesFn previous = g_confirm;
    g_confirm = fn;
    return previous;
}
