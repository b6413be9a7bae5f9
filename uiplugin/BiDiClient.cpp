// Quenta's two-way client: registration in the shared block, the server start, the connect
// thread, and the guarded calls of BiDiService.
#include "uiplugin/BiDiClient.h"

#include <cstdlib>
#include <cwchar>
#include <new>

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

// The interface has one implicit binding per process: setting it and the open call that
// uses it run under this lock. Binding and waiting run outside it, per attempt.
QueueLockWord s_openLock = nullptr;

// Guarded calls. Each thunk only moves plain values: nothing with a destructor may live
// inside the guard.
struct OpenCall {
    const wchar_t* path;
    const wchar_t* address;
    const wchar_t* name;
    BiDiContextHandle result;
};
void DoOpen(void* p) {
    auto* a = static_cast<OpenCall*>(p);
    a->result = BiDiOpen(a->path, a->address, a->name);
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
    OpenCall call = {path, addressCopy, name, nullptr};
    if (path && addressCopy && name) {
        AutoQueueLock hold(&s_openLock);
        BiDiServiceBinding = binding;
        if (!RpcGuardedCall(&DoOpen, &call, nullptr)) call.result = nullptr;
        BiDiServiceBinding = nullptr;
    }
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
    auto* client = static_cast<CBiDiClient*>(parameter);
    void* context = client->Connect();
    {
        AutoLock hold(&client->m_callMutex);
        if (context) {
            client->m_context = context;
            client->m_connected = true;
            client->m_queueMode = false;
            client->SendQueuedRequests();
        } else {
            client->m_queueMode = false;
            client->m_queue.clear();
        }
    }
    // Whatever the outcome, every call waiting for the attempt proceeds.
    SetEvent(client->m_connectEvent);
    return 0;
}

// ---------------------------------------------------------------------------------------
// CBiDiClient.

CBiDiClient::CBiDiClient(const wchar_t* serverPath, const wchar_t* ppdPath, const wchar_t* serverAddress,
                         const wchar_t* printerName)
    : m_share(kBiDiShareGuid, ppdPath) {
    if (serverPath) m_serverPath = StrDup(serverPath);
    m_printerName = StrDup(printerName ? printerName : L"");
    if (ppdPath) {
        m_libraryPath = ReplaceExtensionAlloc(ppdPath, L".KQM");
        if (m_libraryPath) m_ppdPath = StrDup(ppdPath);
    }
    if (serverAddress) m_address = StrDup(serverAddress);

    {
        AutoLock hold(&m_shareMutex);
        m_share.AddClient();
        if (m_share.GetServerCount() == 0) {
            m_startedServer = true;
            m_startFailed = !StartBiDiServer(m_serverPath, m_libraryPath, &m_serverProcess);
        }
    }
    m_connectEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_connectEvent) m_thread = CreateThread(nullptr, 0, &BiDiConnectThread, this, 0, nullptr);
    if (!m_thread) {
        // No attempt will run: end it here so no call waits for one.
        AutoLock hold(&m_callMutex);
        m_queueMode = false;
        if (m_connectEvent) SetEvent(m_connectEvent);
    }
}

CBiDiClient::~CBiDiClient() {
    Disconnect();
    delete[] m_serverPath;
    delete[] m_ppdPath;
    delete[] m_address;
    delete[] m_printerName;
    delete[] m_libraryPath;
}

void CBiDiClient::WaitForConnectAttempt() const noexcept {
    if (m_connectEvent) WaitForSingleObject(m_connectEvent, INFINITE);
}

void* CBiDiClient::Connect() {
    void* context = nullptr;
    // Ten tries 200 ms apart, each on a binding of its own (a failed call can leave a
    // binding unusable). The listening probe also answers no while every pipe instance of a
    // listening server is busy (under Wine it is a 1 ms pipe wait), so an open is tried
    // whenever the probe says yes or a server is counted in the block; an open that finds
    // no server fails at once inside its guard.
    for (int attempt = 0; attempt < 10 && !context; ++attempt) {
        if (!m_share.GetName()) break;
        void* binding = nullptr;
        if (BindBiDiEndpoint(m_share.GetName(), &binding)) {
            if (RpcMgmtIsServerListening(binding) == RPC_S_OK || m_share.GetServerCount() != 0)
                context = CallBiDiOpen(binding, m_ppdPath, m_address, m_printerName);
            RpcBindingFree(&binding);
        }
        if (!context && NoServerComing()) break;
        if (!context && attempt < 9) TimerSleep(200);
    }
    return context;
}

bool CBiDiClient::NoServerComing() const {
    // Only the server this client started can be waited for in vain: when it could not start
    // (no program) or has already ended (its library would not load or bind) and no other
    // server is counted, further tries cannot succeed and would only hold the sheet up.
    if (!m_startedServer || m_share.GetServerCount() != 0) return false;
    return m_startFailed || (m_serverProcess && WaitForSingleObject(m_serverProcess, 0) == WAIT_OBJECT_0);
}

void CBiDiClient::SendQueuedRequests() {
    for (long mask : m_queue) {
        if (!m_connected) break;
        RequestCall call = {m_context, mask};
        if (!RpcGuardedCall(&DoRequest, &call, nullptr)) DropConnection();
    }
    m_queue.clear();
}

void CBiDiClient::DropConnection() {
    // The server is gone or refused the handle: free the client's side of the context
    // without another call, and answer 0 from now on.
    if (m_context) RpcGuardedCall(&DoDestroyContext, &m_context, nullptr);
    m_context = nullptr;
    m_connected = false;
}

void CBiDiClient::Request(long mask) {
    AutoLock hold(&m_callMutex);
    if (!m_queueMode && !m_connected) return;
    m_queue.push_back(mask);
    if (m_connected) SendQueuedRequests();
}

long CBiDiClient::IsConnected() { return IsConnectedTo(nullptr); }

long CBiDiClient::IsConnectedTo(const wchar_t* address) {
    WaitForConnectAttempt();
    AutoLock hold(&m_callMutex);
    if (!m_connected) return 0;
    wchar_t* copy = nullptr;
    if (address && !(copy = StrDup(address))) return 0;
    ConnectedCall call = {m_context, copy, 0};
    if (!RpcGuardedCall(&DoIsConnected, &call, nullptr)) {
        call.result = 0;
        DropConnection();
    }
    delete[] copy;
    return call.result;
}

wchar_t* CBiDiClient::GetText(long mask, long* count) {
    if (count) *count = 0;
    WaitForConnectAttempt();
    AutoLock hold(&m_callMutex);
    if (!m_connected) return nullptr;
    TextCall call = {m_context, mask, 0, nullptr, 0};
    if (!RpcGuardedCall(&DoGetText, &call, nullptr)) {
        // What a failed call left in the out parameter is not trusted, nor freed.
        DropConnection();
        return nullptr;
    }
    wchar_t* copy = nullptr;
    if (call.result && CheckBiDiReply(call.text, call.count)) {
        copy = new (std::nothrow) wchar_t[static_cast<size_t>(call.count)];
        if (copy) {
            wmemcpy(copy, call.text, static_cast<size_t>(call.count));
            if (count) *count = call.count;
        }
    }
    if (call.text) MIDL_user_free(call.text);
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

void CBiDiClient::Disconnect() {
    if (m_thread) {
        WaitForThreadExit(m_thread);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    if (m_serverProcess) {
        CloseHandle(m_serverProcess);
        m_serverProcess = nullptr;
    }
    if (m_connectEvent) {
        CloseHandle(m_connectEvent);
        m_connectEvent = nullptr;
    }
    {
        AutoLock hold(&m_callMutex);
        if (m_connected) {
            BiDiContextHandle context = m_context;
            if (!RpcGuardedCall(&DoClose, &context, nullptr) && context) RpcGuardedCall(&DoDestroyContext, &context, nullptr);
            m_context = nullptr;
            m_connected = false;
        }
    }
    AutoLock hold(&m_shareMutex);
    m_share.RemoveClient();
}
