// Quenta's two-way client: registration in the shared block, the server start, the road
// thread that connects and makes the guarded calls of BiDiService, and the bounded waits of
// the sheet's thread on it.
#include "uiplugin/BiDiClient.h"

#include <cstdlib>
#include <cwchar>
#include <new>
#include <vector>

#include "BiDiService.h"
#include "foundation/StrUtil.h"
#include "settings/KVCache.h"
#include "storage/CfgSettings.h"
#include "uiplugin/RpcGuard.h"
#include "uiplugin/TimerSleep.h"

// The interface's client allocation routines: the C heap.
extern "C" void* __RPC_USER MIDL_user_allocate(size_t size) { return malloc(size); }
extern "C" void __RPC_USER MIDL_user_free(void* buffer) { free(buffer); }

namespace {

// Guarded calls. Each thunk only moves plain values: nothing with a destructor may live
// inside the guard.
struct OpenCall {
    handle_t binding;
    const wchar_t* path;
    const wchar_t* address;
    const wchar_t* name;
    BiDiContextHandle result;
};
void DoOpen(void* p) {
    auto* a = static_cast<OpenCall*>(p);
    a->result = BiDiOpen(a->binding, a->path, a->address, a->name);
}

void DoClose(void* p) { BiDiClose(static_cast<BiDiContextHandle*>(p)); }

void DoDestroyContext(void* p) { RpcSsDestroyClientContext(static_cast<void**>(p)); }

struct RequestCall {
    BiDiContextHandle context;
    long mask;
};
void DoRequest(void* p) {
    auto* a = static_cast<RequestCall*>(p);
    BiDiRequest(a->context, a->mask);
}

struct TextCall {
    BiDiContextHandle context;
    long mask;
    long count;
    wchar_t* text;
    long result;
};
void DoGetText(void* p) {
    auto* a = static_cast<TextCall*>(p);
    a->result = BiDiGetText(a->context, a->mask, &a->count, &a->text);
}

struct ConnectedCall {
    BiDiContextHandle context;
    const wchar_t* address;
    long result;
};
void DoIsConnected(void* p) {
    auto* a = static_cast<ConnectedCall*>(p);
    a->result = a->address ? BiDiIsConnectedTo(a->context, a->address) : BiDiIsConnected(a->context);
}

enum class RoadPhase { kConnecting, kConnected, kFailed };

// A call handed from a sheet's thread to the road thread. Whoever sees it last frees it: the
// caller once it is done, the road thread when the caller stopped waiting (abandoned).
struct RoadCall {
    bool text = false;  // BiDiGetText, else BiDiIsConnected(To)
    long mask = 0;
    wchar_t* address = nullptr;  // owned copy, or null
    long count = 0;
    wchar_t* reply = nullptr;  // the stub's buffer (MIDL_user_free)
    long result = 0;
    bool done = false;
    bool abandoned = false;
    RoadCall() = default;
    RoadCall(const RoadCall&) = delete;
    RoadCall& operator=(const RoadCall&) = delete;
    ~RoadCall() {
        delete[] address;
        if (reply) MIDL_user_free(reply);
    }
};

// Milliseconds from now until deadline, 0 once it has passed (tick wraps are harmless).
DWORD Remaining(DWORD deadline) noexcept {
    const LONG left = static_cast<LONG>(deadline - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

}  // namespace

// The state of a client's road, shared by the client and its road thread; each holds one
// reference, so a thread the client stopped waiting for finishes on its own.
struct BiDiRoad {
    BiDiRoad(const wchar_t* ppdPath) noexcept : share(kBiDiShareGuid, ppdPath) { InitializeCriticalSection(&lock); }
    ~BiDiRoad() {
        DeleteCriticalSection(&lock);
        if (serverProcess) CloseHandle(serverProcess);
        for (wchar_t* text : {ppdPath, address, printerName, libraryPath, serverPath}) delete[] text;
    }
    BiDiRoad(const BiDiRoad&) = delete;
    BiDiRoad& operator=(const BiDiRoad&) = delete;

    volatile LONG refs = 2;
    CBiDiShare share;
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;      // work for the road thread
    CONDITION_VARIABLE answered = CONDITION_VARIABLE_INIT;  // news for the callers
    RoadPhase phase = RoadPhase::kConnecting;
    bool openInFlight = false;
    DWORD openStarted = 0;
    bool closing = false;
    bool reconnectUsed = false;
    void* context = nullptr;
    std::vector<long> queue;
    RoadCall* call = nullptr;     // posted, not yet taken
    RoadCall* running = nullptr;  // being made by the road thread
    HMODULE module = nullptr;     // keeps this code loaded while the thread runs
    HANDLE thread = nullptr;
    // The server this client started (when no live one was counted): its process, or the failure.
    bool startedServer = false;
    bool startFailed = false;
    HANDLE serverProcess = nullptr;
    wchar_t* serverPath = nullptr;
    wchar_t* ppdPath = nullptr;
    wchar_t* address = nullptr;
    wchar_t* printerName = nullptr;
    wchar_t* libraryPath = nullptr;
};

namespace {

class RoadLock {
public:
    explicit RoadLock(BiDiRoad* road) noexcept : m_road(road) { EnterCriticalSection(&m_road->lock); }
    ~RoadLock() { LeaveCriticalSection(&m_road->lock); }
    RoadLock(const RoadLock&) = delete;
    RoadLock& operator=(const RoadLock&) = delete;
    // Waits on a condition of the road for at most ms; false when the time ran out.
    bool Wait(CONDITION_VARIABLE* condition, DWORD ms) noexcept {
        return SleepConditionVariableCS(condition, &m_road->lock, ms) != FALSE;
    }

private:
    BiDiRoad* m_road;
};

void ReleaseRoad(BiDiRoad* road) noexcept {
    if (InterlockedDecrement(&road->refs) == 0) delete road;
}

// True when the server this client started cannot come up: it could not start (no program)
// or has already ended (its library would not load or bind) and no live server is counted.
bool NoServerComing(BiDiRoad* road) {
    if (!road->startedServer || road->share.IsServerAlive()) return false;
    return road->startFailed || (road->serverProcess && WaitForSingleObject(road->serverProcess, 0) == WAIT_OBJECT_0);
}

bool IsClosing(BiDiRoad* road) {
    RoadLock hold(road);
    return road->closing;
}

// Up to tries attempts 200 ms apart, each on a binding of its own (a failed call can leave a
// binding unusable). The listening probe also answers no while every pipe instance of a
// listening server is busy (under Wine it is a 1 ms pipe wait), so an open is tried whenever
// the probe says yes or a live server is counted; an open that finds no server fails at once
// inside its guard. The context handle or null.
void* ConnectRoad(BiDiRoad* road, int tries) {
    void* context = nullptr;
    const wchar_t* endpoint = road->share.GetName();
    for (int attempt = 0; attempt < tries && !context && endpoint; ++attempt) {
        void* binding = nullptr;
        if (BindBiDiEndpoint(endpoint, &binding)) {
            if (RpcMgmtIsServerListening(binding) == RPC_S_OK || road->share.IsServerAlive()) {
                {
                    RoadLock hold(road);
                    road->openInFlight = true;
                    road->openStarted = GetTickCount();
                    WakeAllConditionVariable(&road->answered);  // waiters now bound the open
                }
                context = CallBiDiOpen(binding, road->ppdPath, road->address, road->printerName);
                RoadLock hold(road);
                road->openInFlight = false;
            }
            RpcBindingFree(&binding);
        }
        if (context || NoServerComing(road) || IsClosing(road)) break;
        if (attempt + 1 < tries) TimerSleep(200);
    }
    return context;
}

// After a guarded call raised: the client's side of the context is freed without another
// call, and one new connection is tried (a busy or restarted server); true when it stands.
// A second failure in the road's life gives two-way up.
bool Reconnect(BiDiRoad* road) {
    void* old = nullptr;
    bool again = false;
    {
        RoadLock hold(road);
        old = road->context;
        road->context = nullptr;
        again = !road->reconnectUsed && !road->closing;
        road->reconnectUsed = true;
        if (!again) road->phase = RoadPhase::kFailed;
    }
    if (old) RpcGuardedCall(&DoDestroyContext, &old, nullptr);
    if (!again) return false;
    void* context = ConnectRoad(road, 1);
    RoadLock hold(road);
    road->context = context;
    road->phase = context ? RoadPhase::kConnected : RoadPhase::kFailed;
    return context != nullptr;
}

void* CurrentContext(BiDiRoad* road) {
    RoadLock hold(road);
    return road->phase == RoadPhase::kConnected ? road->context : nullptr;
}

void SendRequest(BiDiRoad* road, long mask) {
    for (int round = 0; round < 2; ++round) {
        RequestCall call = {CurrentContext(road), mask};
        if (!call.context || RpcGuardedCall(&DoRequest, &call, nullptr)) return;
        if (!Reconnect(road)) return;
    }
}

// Makes a posted call (once more after a reconnect); its result stays 0 on failure.
void MakeCall(BiDiRoad* road, RoadCall* call) {
    for (int round = 0; round < 2; ++round) {
        void* context = CurrentContext(road);
        if (!context) return;
        bool ok = false;
        if (call->text) {
            TextCall text = {context, call->mask, 0, nullptr, 0};
            ok = RpcGuardedCall(&DoGetText, &text, nullptr) != 0;
            // What a failed call left in the out parameter is not trusted, nor freed.
            if (ok) {
                call->result = text.result;
                call->count = text.count;
                call->reply = text.text;
            }
        } else {
            ConnectedCall connected = {context, call->address, 0};
            ok = RpcGuardedCall(&DoIsConnected, &connected, nullptr) != 0;
            if (ok) call->result = connected.result;
        }
        if (ok || !Reconnect(road)) return;
    }
}

// The road thread's loop after the connect attempt: queued requests first (in order), then
// the posted call, until the client closes.
void ServeRoad(BiDiRoad* road) {
    RoadLock hold(road);
    for (;;) {
        if (road->phase != RoadPhase::kConnected) road->queue.clear();
        if (!road->queue.empty()) {
            std::vector<long> masks;
            masks.swap(road->queue);
            LeaveCriticalSection(&road->lock);
            for (long mask : masks) SendRequest(road, mask);
            EnterCriticalSection(&road->lock);
            continue;
        }
        if (road->call) {
            RoadCall* call = road->running = road->call;
            road->call = nullptr;
            LeaveCriticalSection(&road->lock);
            MakeCall(road, call);
            EnterCriticalSection(&road->lock);
            road->running = nullptr;
            call->done = true;
            if (call->abandoned) delete call;  // its caller has given up: the answer is dropped
            WakeAllConditionVariable(&road->answered);
            continue;
        }
        if (road->closing) return;
        hold.Wait(&road->wake, INFINITE);
    }
}

// Waits while the road is connecting, until deadline; with boundOpen, an open call the server
// has not answered within the open bound ends the wait too. True when the attempt has ended.
bool WaitWhileConnecting(BiDiRoad* road, DWORD deadline, bool boundOpen) {
    RoadLock hold(road);
    while (road->phase == RoadPhase::kConnecting) {
        DWORD left = Remaining(deadline);
        if (boundOpen && road->openInFlight) {
            const DWORD openLeft = Remaining(road->openStarted + kBiDiClientBounds.openMs);
            if (openLeft < left) left = openLeft;
        }
        if (left == 0) return false;
        hold.Wait(&road->answered, left);
    }
    return true;
}

// Hands a call to the road thread and waits for it until deadline. True with the call done
// (the caller frees it); false when no answer came, the call then belongs to the road (or is
// freed here when the road never took it).
bool PostCall(BiDiRoad* road, RoadCall* call, DWORD deadline) {
    RoadLock hold(road);
    // A road still inside a call nobody waits for any more is stuck: answer at once.
    if (road->phase != RoadPhase::kConnected || (road->running && road->running->abandoned)) {
        delete call;
        return false;
    }
    while (road->call) {
        if (!Remaining(deadline)) {
            delete call;
            return false;
        }
        hold.Wait(&road->answered, Remaining(deadline));
    }
    road->call = call;
    WakeConditionVariable(&road->wake);
    while (!call->done) {
        const DWORD left = Remaining(deadline);
        if (left == 0) {
            if (road->call == call) {
                road->call = nullptr;
                delete call;
            } else {
                call->abandoned = true;
            }
            return false;
        }
        hold.Wait(&road->answered, left);
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Free routines.

bool StartBiDiServer(const wchar_t* program, const wchar_t* library) { return StartBiDiServer(program, library, nullptr); }

bool StartBiDiServer(const wchar_t* program, const wchar_t* library, HANDLE* processHandle) {
    if (processHandle) *processHandle = nullptr;
    if (!program || !*program || !library || !*library) return false;
    // CreateProcessW may write into its command line: give it a buffer of our own.
    wchar_t* commandLine = FormatAlloc(L"\"%ls\" \"%ls\"", program, library);
    if (!commandLine) return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(program, commandLine, nullptr, nullptr, FALSE,
                                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                                        &process);
    delete[] commandLine;
    if (!started) return false;
    CloseHandle(process.hThread);
    if (processHandle)
        *processHandle = process.hProcess;
    else
        CloseHandle(process.hProcess);
    return true;
}

bool BindBiDiEndpoint(const wchar_t* endpoint, void** binding) {
    if (binding) *binding = nullptr;
    if (!endpoint || !*endpoint || !binding) return false;
    RPC_WSTR stringBinding = nullptr;
    wchar_t protocol[] = L"ncalrpc";
    wchar_t* endpointCopy = StrDup(endpoint);
    if (!endpointCopy) return false;
    RPC_STATUS status = RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(protocol), nullptr,
                                                 reinterpret_cast<RPC_WSTR>(endpointCopy), nullptr, &stringBinding);
    delete[] endpointCopy;
    if (status != RPC_S_OK) return false;
    RPC_BINDING_HANDLE handle = nullptr;
    status = RpcBindingFromStringBindingW(stringBinding, &handle);
    RpcStringFreeW(&stringBinding);
    if (status != RPC_S_OK) return false;
    *binding = handle;
    return true;
}

bool WaitForBiDiServer(void* binding, DWORD totalMilliseconds) {
    if (!binding) return false;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (RpcMgmtIsServerListening(binding) == RPC_S_OK) return true;
        TimerSleep(totalMilliseconds / 10);
    }
    return false;
}

void* CallBiDiOpen(void* binding, const wchar_t* ppdPath, const wchar_t* address, const wchar_t* printerName) {
    if (!binding || !ppdPath || !address) return nullptr;
    wchar_t* path = StrDup(ppdPath);
    wchar_t* addressCopy = StrDup(address);
    wchar_t* name = StrDup(printerName ? printerName : L"");
    OpenCall call = {binding, path, addressCopy, name, nullptr};
    if (path && addressCopy && name && !RpcGuardedCall(&DoOpen, &call, nullptr)) call.result = nullptr;
    delete[] path;
    delete[] addressCopy;
    delete[] name;
    return call.result;
}

bool CheckBiDiReply(const wchar_t* text, long count) { return text && count >= 1 && text[count - 1] == L'\0'; }

int ParseBiDiReply(CfgSettings* settings, OptionForest* forest, KVCache* destination, const wchar_t* text,
                   long count) {
    if (!settings || !forest || !destination || !CheckBiDiReply(text, count)) return 0;
    KVCache* defaults = settings->GetDefaultSettings();
    CBaseSoup* soup = settings->GetStringSoup();
    if (!defaults || !soup) return 0;
    int applied = 0;
    const size_t end = static_cast<size_t>(count);
    size_t at = 0;
    // Each entry is key NUL value NUL NUL; the final NUL at end-1 bounds every scan.
    while (at < end && text[at]) {
        const wchar_t* key = text + at;
        const size_t keyLength = wcslen(key);
        const size_t valueAt = at + keyLength + 1;
        if (valueAt >= end) break;
        const wchar_t* value = text + valueAt;
        const size_t valueLength = wcslen(value);
        const SoupSlotID id = soup->Find(key);
        if (id.IsValid()) {
            if (const CKeySetting* base = defaults->Find(id)) {
                if (CKeySetting* clone = base->Clone()) {
                    if (clone->SetFromText(soup, forest, key, value) && destination->Set(clone)) ++applied;
                    delete clone;
                }
            }
        }
        at = valueAt + valueLength + 2;
    }
    return applied;
}

DWORD WINAPI BiDiConnectThread(void* parameter) {
    auto* road = static_cast<BiDiRoad*>(parameter);
    void* context = ConnectRoad(road, 10);
    {
        RoadLock hold(road);
        road->context = context;
        road->phase = context ? RoadPhase::kConnected : RoadPhase::kFailed;
        // Whatever the outcome, every call waiting for the attempt proceeds.
        WakeAllConditionVariable(&road->answered);
    }
    ServeRoad(road);
    {
        RoadLock hold(road);
        context = road->context;
        road->context = nullptr;
        road->phase = RoadPhase::kFailed;
    }
    if (context && !RpcGuardedCall(&DoClose, &context, nullptr) && context)
        RpcGuardedCall(&DoDestroyContext, &context, nullptr);
    HMODULE module = road->module;
    ReleaseRoad(road);
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

// ---------------------------------------------------------------------------------------
// CBiDiClient.

CBiDiClient::CBiDiClient(const wchar_t* serverPath, const wchar_t* ppdPath, const wchar_t* serverAddress,
                         const wchar_t* printerName, DWORD openingMs)
    : m_openingEnds(GetTickCount() + openingMs) {
    m_road = new (std::nothrow) BiDiRoad(ppdPath);
    if (!m_road) return;
    BiDiRoad* road = m_road;
    if (serverPath) road->serverPath = StrDup(serverPath);
    road->printerName = StrDup(printerName ? printerName : L"");
    if (ppdPath) {
        road->libraryPath = ReplaceExtensionAlloc(ppdPath, L".KQM");
        if (road->libraryPath) road->ppdPath = StrDup(ppdPath);
    }
    if (serverAddress) road->address = StrDup(serverAddress);

    {
        AutoLock hold(&m_shareMutex);
        road->share.AddClient();
        // A count left by a server that died is not a server: only a live one is waited for.
        if (road->share.GetServerCount() == 0 || !road->share.IsServerAlive()) {
            road->startedServer = true;
            road->startFailed = !StartBiDiServer(road->serverPath, road->libraryPath, &road->serverProcess);
        }
    }
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&BiDiConnectThread),
                       &road->module);
    road->thread = CreateThread(nullptr, 0, &BiDiConnectThread, road, 0, nullptr);
    if (!road->thread) {
        // No attempt will run: end it here so no call waits for one.
        if (road->module) FreeLibrary(road->module);
        road->module = nullptr;
        road->phase = RoadPhase::kFailed;
        ReleaseRoad(road);  // the thread's reference
    }
}

CBiDiClient::~CBiDiClient() {
    if (!m_road) return;
    BiDiRoad* road = m_road;
    {
        RoadLock hold(road);
        road->closing = true;
        WakeConditionVariable(&road->wake);
    }
    if (road->thread) {
        // The close is waited for a bounded time; a road stuck in a call ends on its own.
        WaitForSingleObject(road->thread, kBiDiClientBounds.closeMs);
        CloseHandle(road->thread);
        road->thread = nullptr;
    }
    {
        AutoLock hold(&m_shareMutex);
        road->share.RemoveClient();
    }
    ReleaseRoad(road);
}

bool CBiDiClient::HasConnection() const noexcept {
    if (!m_road) return false;
    RoadLock hold(m_road);
    return m_road->phase == RoadPhase::kConnected;
}

bool CBiDiClient::WaitForConnectAttempt() const noexcept {
    return m_road && WaitWhileConnecting(m_road, m_openingEnds, true);
}

DWORD CBiDiClient::CallDeadline() const noexcept {
    const DWORD now = GetTickCount();
    if (Remaining(m_openingEnds) == 0) return now + kBiDiClientBounds.callMs;
    return Remaining(m_openingEnds) > kBiDiClientBounds.minCallMs ? m_openingEnds : now + kBiDiClientBounds.minCallMs;
}

bool CBiDiClient::WaitForConnectAttempt(DWORD milliseconds) const noexcept {
    return m_road && WaitWhileConnecting(m_road, GetTickCount() + milliseconds, false);
}

void CBiDiClient::Request(long mask) {
    if (!m_road) return;
    RoadLock hold(m_road);
    if (m_road->phase == RoadPhase::kFailed) return;  // dropped after a failed connect attempt
    try {
        m_road->queue.push_back(mask);
    } catch (const std::bad_alloc&) {
        return;
    }
    WakeConditionVariable(&m_road->wake);
}

long CBiDiClient::IsConnected() { return IsConnectedTo(nullptr); }

long CBiDiClient::IsConnectedTo(const wchar_t* address) {
    if (!WaitForConnectAttempt()) return 0;
    auto* call = new (std::nothrow) RoadCall();
    if (!call) return 0;
    if (address && !(call->address = StrDup(address))) {
        delete call;
        return 0;
    }
    if (!PostCall(m_road, call, CallDeadline())) return 0;
    const long result = call->result;
    delete call;
    return result;
}

wchar_t* CBiDiClient::GetText(long mask, long* count) {
    if (count) *count = 0;
    if (!WaitForConnectAttempt()) return nullptr;
    auto* call = new (std::nothrow) RoadCall();
    if (!call) return nullptr;
    call->text = true;
    call->mask = mask;
    if (!PostCall(m_road, call, CallDeadline())) return nullptr;
    wchar_t* copy = nullptr;
    if (call->result && CheckBiDiReply(call->reply, call->count)) {
        copy = new (std::nothrow) wchar_t[static_cast<size_t>(call->count)];
        if (copy) {
            wmemcpy(copy, call->reply, static_cast<size_t>(call->count));
            if (count) *count = call->count;
        }
    }
    delete call;
    return copy;
}

bool CBiDiClient::ApplyResults(CfgSettings* settings, OptionForest* forest, KVCache* destination, long mask) {
    long count = 0;
    wchar_t* text = GetText(mask, &count);
    bool parsed = false;
    if (settings && forest && destination && text) {
        ParseBiDiReply(settings, forest, destination, text, count);
        parsed = true;
    }
    delete[] text;
    return parsed;
}
