// Brimsa's server singleton: library binding, server-wide connection operations, the
// watchdog, Discover, the PPD fetch, the category handlers and the server routines of the
// Discover and PPD procedures.
#include "bidiserver/BiDiServer.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "BiDiService.h"
#include "bidiserver/BiDiConnection.h"
#include "foundation/StrUtil.h"
#include "foundation/Syncher.h"
#include "uiplugin/BiDiCategory.h"
#include "uiplugin/TimerSleep.h"

namespace {

constexpr DWORD kProductIdleMs = 60000;
constexpr DWORD kProductCheckMs = 15000;
// A client counts itself before its server listens and may use its whole 2 s connect budget:
// counted clients without a connection are taken for dead only after this long without
// connection activity.
constexpr DWORD kConnectGraceMs = 3000;

// The multiple-defaults properties that start from the data file's defaults.
constexpr int kMultipleDefaultIds[] = {5081, 5082, 5083, 5162, 5163};

bool Succeeded(INT_PTR status) { return status >= 0; }

}  // namespace

BiDiIdlePolicy GetBiDiIdlePolicy() noexcept {
    BiDiIdlePolicy policy = {kProductIdleMs, kProductCheckMs};
    wchar_t text[32] = {};
    const DWORD length = GetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", text, 32);
    if (length == 0 || length >= 32) return policy;
    wchar_t* end = nullptr;
    const unsigned long value = wcstoul(text, &end, 10);
    if (!end || *end || value < 200 || value > 60000) return policy;
    policy.idleMilliseconds = static_cast<DWORD>(value);
    policy.checkMilliseconds = static_cast<DWORD>(value / 4);
    return policy;
}

bool BiDiIdleExpired(DWORD now, DWORD last, DWORD idleMilliseconds) noexcept {
    return static_cast<DWORD>(now - last) >= idleMilliseconds;
}

bool IsAcceptablePPDPath(const wchar_t* path) noexcept {
    if (!path) return false;
    const size_t length = wcslen(path);
    if (length < 8 || length >= MAX_PATH) return false;
    const wchar_t drive = path[0];
    if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z')) || path[1] != L':' ||
        (path[2] != L'\\' && path[2] != L'/'))
        return false;
    if (_wcsicmp(path + length - 4, L".PPD") != 0) return false;
    for (size_t i = 2; i < length; ++i) {
        if (path[i] == L':') return false;  // a stream name
        if (path[i] == L'.' && path[i + 1] == L'.') {
            const bool startsStep = path[i - 1] == L'\\' || path[i - 1] == L'/';
            const wchar_t after = path[i + 2];
            if (startsStep && (after == L'\\' || after == L'/' || after == L'\0')) return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Singleton and construction.

CBiDiServer* CBiDiServer::Instance(const wchar_t* libraryPath) {
    auto& holder = GuardedStatic<std::unique_ptr<CBiDiServer>>::Get(
        [&] { return std::unique_ptr<CBiDiServer>(new (std::nothrow) CBiDiServer(libraryPath)); });
    return holder.get();
}

CBiDiServer::CBiDiServer(const wchar_t* libraryPath) : m_share(kBiDiShareGuid, libraryPath) {
    // The one server of a stem is the one holding the serving mutex. A server that died left
    // it abandoned (taken over here), one that is stopping has uncounted itself and lets it go
    // in a moment; one held by a counted server is a live server, and this one ends. Taken
    // before the shared block's mutex, which a stopping server needs to end.
    HANDLE serving = libraryPath && m_share.IsMapped() ? m_share.OpenServingMutex() : nullptr;
    DWORD taken = serving ? WaitForSingleObject(serving, 0) : WAIT_FAILED;
    if (taken == WAIT_TIMEOUT) {
        bool stopping = false;
        {
            AutoLock hold(&m_shareMutex);
            stopping = m_share.GetServerCount() == 0;
        }
        if (stopping) taken = WaitForSingleObject(serving, kBiDiServingWaitMs);
    }
    if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED) {
        m_serving = serving;
    } else if (serving) {
        CloseHandle(serving);
    }
    AutoLock hold(&m_shareMutex);
    if (m_serving) {
        // Servers counted without a live one among them died without uncounting themselves.
        m_share.ClearServers();
        m_module = LoadLibraryExW(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    m_table = BindServerInterface(m_module);
    m_initialized = false;
    m_context = nullptr;
    m_connectionActivity = GetTickCount();
    // Only the serving server is counted: one that ends at once leaves the count as it was.
    if (m_serving) {
        m_share.AddServer();
        m_counted = true;
    }
}

void CBiDiServer::StopServing() {
    AutoLock hold(&m_shareMutex);
    if (m_counted) m_share.RemoveServer();
    m_counted = false;
    if (m_serving) {
        ReleaseMutex(m_serving);
        CloseHandle(m_serving);
        m_serving = nullptr;
    }
}

CBiDiServer::~CBiDiServer() {
    // A Discover that was started and never collected still runs in the library: it ends
    // before the session, the library and the table go.
    if (m_discoverThread) {
        WaitForThreadExit(m_discoverThread);
        CloseHandle(m_discoverThread);
        m_discoverThread = nullptr;
    }
    {
        AutoLock hold(&m_shareMutex);
        if (IsInitialized()) Terminate();
        if (m_module) FreeLibrary(m_module);
        m_module = nullptr;
        if (m_counted) m_share.RemoveServer();
        m_counted = false;
    }
    // Let go on whichever thread runs the exit: the kernel releases it with the process.
    if (m_serving) CloseHandle(m_serving);
    m_serving = nullptr;
    delete m_table;
    m_table = nullptr;
    delete[] m_discoverResult;
    if (m_discoverEvent) CloseHandle(m_discoverEvent);
    delete[] m_filter1;
    delete[] m_filter2;
}

ServerInterfaceTable* CBiDiServer::BindServerInterface(HMODULE module) {
    if (!module) return nullptr;
    auto* table = new (std::nothrow) ServerInterfaceTable();
    if (table && !table->BindAll(module)) {
        delete table;
        table = nullptr;
    }
    return table;
}

// ---------------------------------------------------------------------------------------
// Session and connections.

bool CBiDiServer::InitializeSession() {
    AutoLock hold(&m_mutex);
    if (!m_table || m_initialized) return false;
    if (!Succeeded(m_table->Initialize(&m_context))) return false;
    m_initialized = true;
    return true;
}

bool CBiDiServer::IsInitialized() {
    AutoLock hold(&m_mutex);
    return m_initialized;
}

bool CBiDiServer::HasClients() {
    AutoLock hold(&m_shareMutex);
    return m_share.GetClientCount() != 0;
}

void CBiDiServer::AddConnection(CBiDiConnection* connection) {
    if (!connection) return;
    AutoLock hold(&m_mutex);
    m_connectionActivity = GetTickCount();
    try {
        m_connections.push_back(connection);
    } catch (const std::bad_alloc&) {
    }
}

bool CBiDiServer::RemoveConnection(CBiDiConnection* connection) {
    AutoLock hold(&m_mutex);
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        if (*it == connection) {
            m_connections.erase(it);
            m_connectionActivity = GetTickCount();
            return true;
        }
    }
    return false;
}

size_t CBiDiServer::GetConnectionCount() {
    AutoLock hold(&m_mutex);
    return m_connections.size();
}

bool CBiDiServer::Terminate() {
    std::vector<CBiDiConnection*> taken;
    {
        AutoLock hold(&m_mutex);
        taken.swap(m_connections);
    }
    // Deleted outside the server mutex: a connection joins its worker, which may need it.
    for (CBiDiConnection* connection : taken) {
        if (!connection) continue;
        connection->MarkClosed();
        delete connection;
    }
    AutoLock hold(&m_mutex);
    if (!m_initialized) return false;
    m_table->Terminate(&m_context);
    m_initialized = false;
    return true;
}

bool CBiDiServer::Connect(CBiDiConnection* connection) {
    if (!connection || !m_table) return false;
    if (!IsInitialized()) InitializeSession();
    // One connect per connection at a time (the worker and a PPD fetch's RPC thread may both
    // ensure it): the second caller finds the first one's outcome and connects nothing.
    AutoLock connecting(&connection->m_connectLock);
    if (connection->GetState() != kBiDiIdle) return false;
    if (!IsInitialized()) return false;
    const bool ok = Succeeded(m_table->Connect(&m_context, connection->GetAddress(), connection->GetBlock()));
    connection->SetConnectState(ok ? connection->GetBlock() : nullptr);
    return ok;
}

bool CBiDiServer::Disconnect(CBiDiConnection* connection) {
    if (!connection) return false;
    if (connection->GetState() == kBiDiConnected && m_table) m_table->Disconnect(&m_context, connection->GetBlock());
    connection->FinishOperations();
    return true;
}

bool CBiDiServer::TryStop(DWORD idleMilliseconds) {
    AutoLock hold(&m_shareMutex);
    const DWORD now = GetTickCount();
    if (!BiDiIdleExpired(now, m_share.GetLastActivity(), idleMilliseconds)) return false;
    if (m_share.GetClientCount() != 0) {
        // A client that died without unregistering keeps its count: with no connection open
        // (and none opened or closed for a while) the server stops all the same.
        if (GetConnectionCount() != 0) return false;
        const DWORD grace = idleMilliseconds > kConnectGraceMs ? idleMilliseconds : kConnectGraceMs;
        if (!BiDiIdleExpired(now, m_connectionActivity, grace)) return false;
    }
    if (RpcMgmtStopServerListening(nullptr) != RPC_S_OK) return false;
    if (m_counted) m_share.RemoveServer();
    m_counted = false;
    return true;
}

namespace {

constexpr unsigned kMaxCalls = 20;
// How long a new server retries an endpoint that an ending one still holds.
constexpr DWORD kEndpointRetryMs = 2000;

bool RegisterEndpoint(const wchar_t* endpoint) {
    PSECURITY_DESCRIPTOR security = MakeBiDiSecurity();
    if (!security) return false;
    wchar_t protocol[] = L"ncalrpc";
    wchar_t* name = StrDup(endpoint);
    RPC_STATUS status = RPC_S_OUT_OF_MEMORY;
    if (name) {
        // A server that is stopping may still hold the endpoint for a moment.
        for (DWORD waited = 0;; waited += 100) {
            status = RpcServerUseProtseqEpW(reinterpret_cast<RPC_WSTR>(protocol), kMaxCalls,
                                            reinterpret_cast<RPC_WSTR>(name), security);
            if (status != RPC_S_DUPLICATE_ENDPOINT || waited >= kEndpointRetryMs) break;
            TimerSleep(100);
        }
    }
    delete[] name;
    LocalFree(security);
    return status == RPC_S_OK;
}

// Admits only callers running as the server's user.
RPC_STATUS RPC_ENTRY BiDiSecurityCallback(RPC_IF_HANDLE, void*) {
    return IsBiDiCallerAdmitted() ? RPC_S_OK : ERROR_ACCESS_DENIED;
}

}  // namespace

bool ServeBiDiEndpoint(CBiDiServer* server) {
    if (!server || !server->GetTable()) return false;
    const wchar_t* endpoint = server->GetShare().GetName();
    bool served = false;
    // Without "callbacks with no authentication" Windows drops the unauthenticated local
    // calls before the callback could admit them.
    if (endpoint && RegisterEndpoint(endpoint) &&
        RpcServerRegisterIfEx(BiDiService_v1_0_s_ifspec, nullptr, nullptr,
                              RPC_IF_ALLOW_LOCAL_ONLY | RPC_IF_ALLOW_CALLBACKS_WITH_NO_AUTH, kMaxCalls,
                              &BiDiSecurityCallback) == RPC_S_OK) {
        // Without a watchdog nothing would ever stop the server.
        HANDLE watchdog = CreateThread(nullptr, 0, &BiDiWatchdogThread, server, 0, nullptr);
        if (watchdog) {
            served = RpcServerListen(1, kMaxCalls, FALSE) == RPC_S_OK;
            if (served) WaitForThreadExit(watchdog);
            CloseHandle(watchdog);
        }
        RpcServerUnregisterIf(nullptr, nullptr, FALSE);
    }
    // A server that could not listen is uncounted before it ends; one that stopped listening
    // has been uncounted by the watchdog, and lets its serving mutex go.
    server->StopServing();
    return served;
}

DWORD WINAPI BiDiWatchdogThread(void* parameter) {
    auto* server = static_cast<CBiDiServer*>(parameter);
    const BiDiIdlePolicy policy = GetBiDiIdlePolicy();
    // Closed connections unlink themselves before they are deleted, so the list holds only
    // open ones and needs no sweeping here.
    do {
        TimerSleep(policy.checkMilliseconds);
    } while (!server->TryStop(policy.idleMilliseconds));
    RpcServerUnregisterIf(nullptr, nullptr, FALSE);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Category handlers.

bool CBiDiServer::EnsureConnected(CBiDiConnection* connection) {
    if (!connection) return false;
    if (connection->GetState() != kBiDiConnected && !Connect(connection) && connection->GetState() != kBiDiConnected)
        return false;
    KVCache empty;
    connection->MergeResults(&empty, BiDiConnect);
    return true;
}

bool CBiDiServer::FetchFeatures(CBiDiConnection* connection) {
    if (!EnsureConnected(connection)) return false;
    QVObList features(10), installables(10);
    KVCache cache;
    if (!Succeeded(m_table->GetFeaturesList(&m_context, connection->GetBlock(), &features, 0))) return false;
    connection->ApplyServerList(&cache, &features, nullptr, 0);
    m_table->FreeFeaturesList(&m_context, connection->GetBlock(), &features);
    if (!Succeeded(m_table->GetInstallablesList(&m_context, connection->GetBlock(), &installables, 0))) return false;
    connection->ApplyServerList(&cache, &installables, nullptr, 0);
    m_table->FreeInstallablesList(&m_context, connection->GetBlock(), &installables);
    connection->MergeResults(&cache, BiDiFeatures);
    return true;
}

bool CBiDiServer::FetchEmailNotify(CBiDiConnection* connection) {
    if (!EnsureConnected(connection)) return false;
    QVEmailNotification notification;
    if (!Succeeded(m_table->GetEMailNotifyInfo(&m_context, connection->GetBlock(), &notification, 0))) return false;
    std::unique_ptr<QVKeyVal> record(new (std::nothrow) QVKeyVal());
    if (!record) return false;
    record->SetKey(L"BIDI_EmailReady");
    record->SetValue(notification.IsReady() ? L"Yes" : L"No");
    QVObList list(10);
    KVCache cache;
    if (list.AddTail(record.get())) connection->ApplyServerList(&cache, &list, nullptr, 0);
    list.RemoveAll();  // the record is ours and deleted with its holder
    connection->MergeResults(&cache, BiDiEmailNotify);
    return true;
}

bool CBiDiServer::FetchMultipleDefaults(CBiDiConnection* connection) {
    if (!EnsureConnected(connection)) return false;
    QVObList list(10);
    KVCache cache;
    if (!Succeeded(m_table->GetMultipleDefaults(&m_context, connection->GetBlock(), &list, 0))) return false;
    connection->ApplyServerList(&cache, &list, kMultipleDefaultIds,
                                static_cast<int>(sizeof(kMultipleDefaultIds) / sizeof(kMultipleDefaultIds[0])));
    m_table->FreeMultipleDefaults(&m_context, connection->GetBlock(), &list);
    connection->MergeResults(&cache, BiDiMultipleDefaults);
    return true;
}

bool CBiDiServer::FetchVPAttributes(CBiDiConnection* connection) {
    if (!EnsureConnected(connection)) return false;
    QVObList all(10), flagged(10);
    KVCache allCache, flaggedCache;
    wchar_t* name = StrDup(connection->GetPrinterName());
    if (!name) return false;
    const bool ok = Succeeded(m_table->GetVPAttributes(&m_context, connection->GetBlock(), name, &all, &flagged));
    delete[] name;
    if (!ok) return false;
    connection->ApplyServerList(&allCache, &all, nullptr, 0);
    connection->ApplyServerList(&flaggedCache, &flagged, nullptr, 0);
    connection->MergeResults(&allCache, BiDiVPAttributes);
    connection->MergeResults(&flaggedCache, BiDiVPFlaggedAttributes);
    m_table->FreeVPAttributes(&m_context, connection->GetBlock(), &all, &flagged);
    return true;
}

// ---------------------------------------------------------------------------------------
// Discover.

bool CBiDiServer::StartDiscover(const wchar_t* filter1, const wchar_t* filter2, long timeout) {
    if (!filter1 || !filter2) return false;
    AutoLock hold(&m_mutex);
    if (m_discoverEvent) return wcscmp(filter1, m_filter1) == 0 && wcscmp(filter2, m_filter2) == 0;
    delete[] m_filter1;
    delete[] m_filter2;
    m_filter1 = StrDup(filter1);
    m_filter2 = StrDup(filter2);
    m_discoverTimeout = timeout;
    m_discoverEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_filter1 && m_filter2 && m_discoverEvent)
        m_discoverThread = CreateThread(nullptr, 0, &BiDiDiscoverThread, this, 0, nullptr);
    if (!m_discoverThread) {
        if (m_discoverEvent) CloseHandle(m_discoverEvent);
        m_discoverEvent = nullptr;
        return false;
    }
    return true;
}

DWORD WINAPI BiDiDiscoverThread(void* parameter) {
    auto* server = static_cast<CBiDiServer*>(parameter);
    if (!server->IsInitialized()) server->InitializeSession();
    if (server->IsInitialized()) {
        int size = 0;
        BYTE* buffer = nullptr;
        const INT_PTR status = server->m_table->Discover(&server->m_context, &size, &buffer, server->m_filter1,
                                                         server->m_filter2, static_cast<unsigned>(server->m_discoverTimeout));
        if (Succeeded(status)) {
            AutoLock hold(&server->m_mutex);
            delete[] server->m_discoverResult;
            server->m_discoverResult = nullptr;
            server->m_discoverSize = 0;
            // A query that found nothing may hand out no bytes at all: still a result.
            server->m_discoverFound = true;
            if (size > 0 && buffer) {
                server->m_discoverResult = new (std::nothrow) char[static_cast<size_t>(size)];
                if (server->m_discoverResult) {
                    memcpy(server->m_discoverResult, buffer, static_cast<size_t>(size));
                    server->m_discoverSize = size;
                }
            }
        }
        if (buffer) server->m_table->FreeDiscover(&server->m_context, &buffer);
    }
    SetEvent(server->m_discoverEvent);
    return 0;
}

bool CBiDiServer::Discover(const wchar_t* filter1, const wchar_t* filter2, long timeout, int* size, char** bytes) {
    if (size) *size = 0;
    if (bytes) *bytes = nullptr;
    if (!size || !bytes) return false;
    AutoLock collecting(&m_discoverCollect);
    if (!StartDiscover(filter1, filter2, timeout)) return false;
    WaitForSingleObject(m_discoverEvent, INFINITE);
    bool found = false;
    HANDLE thread = nullptr;
    {
        AutoLock hold(&m_mutex);
        if (m_discoverResult) {
            *bytes = new (std::nothrow) char[static_cast<size_t>(m_discoverSize)];
            if (*bytes) {
                memcpy(*bytes, m_discoverResult, static_cast<size_t>(m_discoverSize));
                *size = m_discoverSize;
                found = true;
            }
        } else {
            found = m_discoverFound;
        }
        delete[] m_discoverResult;
        m_discoverResult = nullptr;
        m_discoverSize = 0;
        m_discoverFound = false;
        thread = m_discoverThread;
    }
    WaitForThreadExit(thread);
    AutoLock hold(&m_mutex);
    if (m_discoverThread) CloseHandle(m_discoverThread);
    m_discoverThread = nullptr;
    if (m_discoverEvent) CloseHandle(m_discoverEvent);
    m_discoverEvent = nullptr;
    return found;
}

// ---------------------------------------------------------------------------------------
// PPD fetch.

bool CBiDiServer::StartGetPPD(CBiDiConnection* connection, const wchar_t* path) {
    if (!connection || !path) return false;
    {
        AutoLock hold(&connection->m_mutex);
        if (connection->m_fetchThread) return connection->m_fetchPath && wcscmp(path, connection->m_fetchPath) == 0;
    }
    if (!EnsureConnected(connection)) return false;
    AutoLock hold(&connection->m_mutex);
    delete[] connection->m_fetchPath;
    connection->m_fetchPath = StrDup(path);
    if (!connection->m_fetchEvent) connection->m_fetchEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!connection->m_fetchPath || !connection->m_fetchEvent) return false;
    connection->m_fetchFailed = false;
    connection->m_fetchThread = CreateThread(nullptr, 0, &BiDiGetPPDThread, connection, 0, nullptr);
    return connection->m_fetchThread != nullptr;
}

DWORD WINAPI BiDiGetPPDThread(void* parameter) {
    auto* connection = static_cast<CBiDiConnection*>(parameter);
    CBiDiServer* server = connection->m_server;
    const bool ok = server && server->GetTable() &&
                    Succeeded(server->GetTable()->GetPPD(server->GetContextAddress(), connection->GetBlock(),
                                                      connection->m_fetchPath));
    AutoLock hold(&connection->m_mutex);
    connection->m_fetchFailed = !ok;
    SetEvent(connection->m_fetchEvent);
    return 0;
}

bool CBiDiServer::GetPPD(CBiDiConnection* connection, const wchar_t* path) {
    if (!StartGetPPD(connection, path)) return false;
    WaitForSingleObject(connection->m_fetchEvent, INFINITE);
    AutoLock hold(&connection->m_mutex);
    return !connection->m_fetchFailed;
}

// ---------------------------------------------------------------------------------------
// Server routines of procedures 6 to 9.

extern "C" {

long BiDiStartDiscover(BiDiContextHandle, const wchar_t* filter1, const wchar_t* filter2, long timeout) {
    CBiDiServer* server = CBiDiServer::Instance(nullptr);
    return server && server->StartDiscover(filter1, filter2, timeout) ? 1 : 0;
}

long BiDiDiscover(BiDiContextHandle, const wchar_t* filter1, const wchar_t* filter2, long timeout, long* count,
                  wchar_t** text) {
    if (count) *count = 0;
    if (text) *text = nullptr;
    CBiDiServer* server = CBiDiServer::Instance(nullptr);
    if (!server || !filter1 || !filter2 || !count || !text) return 0;
    int size = 0;
    char* bytes = nullptr;
    if (!server->Discover(filter1, filter2, timeout, &size, &bytes)) return 0;
    // The library's pairs end with one NUL. A result that lacks it, or converts to nothing
    // (no bytes, or bytes the code page refuses), is ended here: at least the one NUL.
    const int converted = size > 0 && bytes ? MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, size, nullptr, 0) : 0;
    const long room = (converted > 0 ? converted : 0) + 1;
    auto* buffer = static_cast<wchar_t*>(MIDL_user_allocate(static_cast<size_t>(room) * sizeof(wchar_t)));
    long total = 0;
    if (buffer) {
        if (converted > 0) total = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, size, buffer, converted);
        if (total < 0) total = 0;
        if (total == 0 || buffer[total - 1] != L'\0') buffer[total++] = L'\0';
    }
    delete[] bytes;
    if (!buffer) return 0;
    *count = total;
    *text = buffer;
    return 1;
}

long BiDiStartGetPPD(BiDiContextHandle context, const wchar_t* path) {
    if (!context || !IsAcceptablePPDPath(path)) return 0;
    wchar_t* copy = StrDup(path);
    const bool ok = copy && static_cast<CBiDiConnection*>(context)->StartGetPPD(copy);
    delete[] copy;
    return ok ? 1 : 0;
}

long BiDiGetPPD(BiDiContextHandle context, const wchar_t* path) {
    if (!context || !IsAcceptablePPDPath(path)) return 0;
    wchar_t* copy = StrDup(path);
    const bool ok = copy && static_cast<CBiDiConnection*>(context)->GetPPD(copy);
    delete[] copy;
    return ok ? 1 : 0;
}

}  // extern "C"
