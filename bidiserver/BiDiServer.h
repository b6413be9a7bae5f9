// Brimsa's server singleton: the print-server library it loaded and bound, the connections of
// its clients, the server-wide operations they use (connect, disconnect, terminate), the
// watchdog that stops an idle server, Discover and the PPD fetch, and the category handlers.
#pragma once

#include <windows.h>

#include <vector>

#include "serverif/ServerInterfaceBinding.h"
#include "foundation/AutoMutex.h"
#include "uiplugin/BiDiShare.h"

class CBiDiConnection;

// How long a server outlives its last client activity, and how often it looks.
struct BiDiIdlePolicy {
    DWORD idleMilliseconds;
    DWORD checkMilliseconds;
};
// The product's 60000/15000 ms, or for tests the environment's TOLVA_TEST_BIDI_IDLE_MS
// (200-60000 ms, checked at each quarter of it).
BiDiIdlePolicy GetBiDiIdlePolicy() noexcept;
// Whether idle time has passed since last (unsigned difference, so a tick wrap is harmless).
bool BiDiIdleExpired(DWORD now, DWORD last, DWORD idleMilliseconds) noexcept;
// Whether a destination path is one the PPD fetch may write: a drive path ("X:\...") ending
// in ".PPD", with no ".." step, no "\\?\" or UNC form and no stream name.
bool IsAcceptablePPDPath(const wchar_t* path) noexcept;
// How long an RPC call of a client waits for a connection's worker (a controller that hangs
// in a call must not pin the call threads; the client has long stopped waiting by then).
inline constexpr DWORD kBiDiServerWaitMs = 5000;
// How long a new server waits for a stopping one (uncounted, still holding its serving
// mutex) to let go.
inline constexpr DWORD kBiDiServingWaitMs = 2000;

class CBiDiServer {
public:
    // The process's server, made on the first call with libraryPath; later calls (also with
    // null) return it. Null when it could not be made.
    static CBiDiServer* Instance(const wchar_t* libraryPath);

    virtual ~CBiDiServer();
    CBiDiServer(const CBiDiServer&) = delete;
    CBiDiServer& operator=(const CBiDiServer&) = delete;

    // A new table of the sixteen entry points, or null when the module is null or lacks one.
    static ServerInterfaceTable* BindServerInterface(HMODULE module);

    const ServerInterfaceTable* GetTable() const noexcept { return m_table; }
    CBiDiShare& GetShare() noexcept { return m_share; }
    ServerInterfaceContext** GetContextAddress() noexcept { return &m_context; }

    bool InitializeSession();
    bool IsInitialized();
    bool HasClients();
    void AddConnection(CBiDiConnection* connection);
    // Unlinks the connection from the list (before its owner deletes it); true when listed.
    bool RemoveConnection(CBiDiConnection* connection);
    size_t GetConnectionCount();
    bool Terminate();
    bool Connect(CBiDiConnection* connection);
    bool Disconnect(CBiDiConnection* connection);

    // Discover (server-wide).
    bool StartDiscover(const wchar_t* filter1, const wchar_t* filter2, long timeout);
    // The result bytes as a new[] copy and their size; false when refused or failed.
    bool Discover(const wchar_t* filter1, const wchar_t* filter2, long timeout, int* size, char** bytes);

    // PPD fetch (per connection).
    bool StartGetPPD(CBiDiConnection* connection, const wchar_t* path);
    bool GetPPD(CBiDiConnection* connection, const wchar_t* path);

    // Category handlers.
    bool EnsureConnected(CBiDiConnection* connection);
    bool FetchFeatures(CBiDiConnection* connection);
    bool FetchEmailNotify(CBiDiConnection* connection);
    bool FetchMultipleDefaults(CBiDiConnection* connection);
    bool FetchVPAttributes(CBiDiConnection* connection);

    // Whether this server holds the block's serving mutex (the one server of its stem).
    bool IsServing() const noexcept { return m_serving != nullptr; }
    // Uncounts this server and lets its serving mutex go, so that a client arriving now
    // starts a new one. Called on the thread that constructed the server (it owns the mutex).
    void StopServing();

    // The watchdog's stop decision, made under the shared block's mutex: when idle and no
    // client is counted (or none holds a connection), stop listening and uncount this
    // server at once, so that a client arriving now starts a new one. True when stopped.
    bool TryStop(DWORD idleMilliseconds);

private:
    explicit CBiDiServer(const wchar_t* libraryPath);
    friend DWORD WINAPI BiDiDiscoverThread(void* server);

    std::vector<CBiDiConnection*> m_connections;
    CBiDiShare m_share;
    BiDiShareMutex m_shareMutex;
    AutoMutex m_mutex;
    ServerInterfaceContext* m_context = nullptr;
    HMODULE m_module = nullptr;
    ServerInterfaceTable* m_table = nullptr;
    bool m_initialized = false;
    bool m_counted = false;  // this server is counted in the block
    HANDLE m_serving = nullptr;  // the block's serving mutex, held while this server serves
    // Tick of the server's start and of the last connection opened or closed: a counted
    // client without a connection may be one still connecting.
    volatile DWORD m_connectionActivity = 0;
    char* m_discoverResult = nullptr;
    int m_discoverSize = 0;
    bool m_discoverFound = false;  // the last query succeeded (its result may be empty)
    HANDLE m_discoverThread = nullptr;
    HANDLE m_discoverEvent = nullptr;
    wchar_t* m_filter1 = nullptr;
    wchar_t* m_filter2 = nullptr;
    long m_discoverTimeout = 0;
    // One Discover collection at a time: the first collector closes the event others
    // would wait on.
    AutoMutex m_discoverCollect;
};

DWORD WINAPI BiDiWatchdogThread(void* server);
// wmain's serving part: registers the endpoint (the block's name, with the road's access
// list) and the interface, starts the watchdog and listens until it stops the server; a
// server that cannot listen uncounts itself. True when it served.
bool ServeBiDiEndpoint(CBiDiServer* server);
DWORD WINAPI BiDiDiscoverThread(void* server);
DWORD WINAPI BiDiGetPPDThread(void* connection);
