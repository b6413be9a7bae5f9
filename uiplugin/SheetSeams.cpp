// Default links of the sheet context to the job-settings client, the two-way client and the
// confirm-installables box.
#include "uiplugin/SheetSeams.h"

#include "foundation/AutoMutex.h"
#include "uiplugin/PropSheets.h"

namespace {

// The use count of the job-settings library in this process.
AutoMutex g_tqLock;
LONG g_tqCount = 0;

LONG DefaultUseCount()
{
    AutoLock lock(&g_tqLock);
    return g_tqCount;
}

TQInterface* DefaultAcquire(HMODULE, void*, int)
{
    AutoLock lock(&g_tqLock);
    ++g_tqCount;
    return nullptr;
}

void DefaultRelease(TQInterface*)
{
    AutoLock lock(&g_tqLock);
    if (g_tqCount > 0) --g_tqCount;
}

const TQClientCalls kDefaultTQ = {DefaultUseCount, DefaultAcquire, DefaultRelease};
const TQClientCalls* g_tq = &kDefaultTQ;

CBiDiClient* NoClient(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*) { return nullptr; }
void NoDestroy(CBiDiClient*) {}
BOOL NotConnected(CBiDiClient*) { return FALSE; }
BOOL NotConnectedTo(CBiDiClient*, const wchar_t*) { return FALSE; }
void NoRequest(CBiDiClient*, int) {}
BOOL NoResults(CBiDiClient*, CfgSettings*, OptionForest*, KVCache*, int) { return FALSE; }

const BiDiClientCalls kDefaultBiDi = {NoClient, NoDestroy, NotConnected, NotConnectedTo, NoRequest, NoResults};
const BiDiClientCalls* g_bidi = &kDefaultBiDi;

ConfirmInstallablesFn g_confirm = kDefaultConfirmInstallables;

}  // namespace

const TQClientCalls& GetTQClientCalls() noexcept { return *g_tq; }

const TQClientCalls* SetTQClientCalls(const TQClientCalls* calls) noexcept
{
    const TQClientCalls* previous = g_tq;
    g_tq = calls ? calls : &kDefaultTQ;
    return previous;
}

const BiDiClientCalls& GetBiDiClientCalls() noexcept { return *g_bidi; }

const BiDiClientCalls* SetBiDiClientCalls(const BiDiClientCalls* calls) noexcept
{
    const BiDiClientCalls* previous = g_bidi;
    g_bidi = calls ? calls : &kDefaultBiDi;
    return previous;
}

ConfirmInstallablesFn GetConfirmInstallables() noexcept { return g_confirm; }

ConfirmInstallablesFn SetConfirmInstallables(ConfirmInstallablesFn fn) noexcept
{
    ConfirmInstallablesFn previous = g_confirm;
    g_confirm = fn;
    return previous;
}
