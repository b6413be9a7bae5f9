// Quenta's two-way client: one object per property sheet that needs controller information.
// It counts itself in the data file's shared block, starts the Brimsa server when none is
// counted, connects to it in a thread of its own (so the sheet is not held up) and then
// forwards category requests and reads the answers back as settings of the data file.
#pragma once

#include <windows.h>

#include <vector>

#include "foundation/AutoMutex.h"
#include "settings/KeySetting.h"
#include "uiplugin/BiDiCategory.h"
#include "uiplugin/BiDiShare.h"

class CfgSettings;
class KVCache;

class CBiDiClient {
public:
    // serverPath: the server program (the data file with ".SRV"); ppdPath: the data file;
    // serverAddress: the controller's address; printerName: the virtual printer or null.
    // Registers the client, starts the server when none is counted and begins connecting.
    CBiDiClient(const wchar_t* serverPath, const wchar_t* ppdPath, const wchar_t* serverAddress,
                const wchar_t* printerName);
    // Joins the connect thread, closes the connection and unregisters.
    ~CBiDiClient();
    CBiDiClient(const CBiDiClient&) = delete;
    CBiDiClient& operator=(const CBiDiClient&) = delete;

    // 1 when the server's connection to the controller stands (to that address, ignoring
    // case); 0 when not connected or on any failure. Waits for the connect attempt.
    long IsConnected();
    long IsConnectedTo(const wchar_t* address);
    // Asks the server to fetch categories (a BiDiCategory mask) ahead of time. Queued while
    // connecting; dropped after a failed connect attempt.
    void Request(long mask);
    // The reply text (keyword NUL value NUL NUL ..., ended by one more NUL) as a new buffer
    // the caller frees with delete[], or null. count (optional) gets its length in
    // characters, the final NUL included. Waits for the connect attempt.
    wchar_t* GetText(long mask, long* count = nullptr);
    // Reads the reply for mask into destination as settings of the data file (keys it does
    // not know and values they refuse are skipped). True when a reply was parsed.
    bool ApplyResults(CfgSettings* settings, OptionForest* forest, KVCache* destination, long mask);

    // Whether the connect attempt has ended with a connection (does not wait).
    bool HasConnection() const noexcept { return m_connected; }
    // Waits for the connect attempt to end.
    void WaitForConnectAttempt() const noexcept;

private:
    friend DWORD WINAPI BiDiConnectThread(void* client);
    // Binds, waits for the server and opens the connection; the context handle or null.
    void* Connect();
    void SendQueuedRequests();
    // After a guarded call failed on the connection: drop the context and every later call.
    void DropConnection();
    void Disconnect();
    // True when the server this client started cannot come up (see Connect).
    bool NoServerComing() const;

    CBiDiShare m_share;
    BiDiShareMutex m_shareMutex;
    AutoMutex m_callMutex;
    std::vector<long> m_queue;
    bool m_queueMode = true;
    volatile bool m_connected = false;
    void* m_context = nullptr;
    HANDLE m_thread = nullptr;
    HANDLE m_connectEvent = nullptr;
    // The server this client started (when none was counted): its process, or the failure.
    bool m_startedServer = false;
    bool m_startFailed = false;
    HANDLE m_serverProcess = nullptr;
    wchar_t* m_serverPath = nullptr;
    wchar_t* m_ppdPath = nullptr;
    wchar_t* m_address = nullptr;
    wchar_t* m_printerName = nullptr;
    wchar_t* m_libraryPath = nullptr;
};

// Free routines of the client.

// Starts program detached with the two arguments "program" "library" (each quoted); the
// process is not waited for. Nothing when either is missing. True when the process started.
bool StartBiDiServer(const wchar_t* program, const wchar_t* library);
// As above; processHandle (optional) receives the started process's handle, which the caller
// closes (null when nothing started).
bool StartBiDiServer(const wchar_t* program, const wchar_t* library, HANDLE* processHandle);
// A new binding handle to the "ncalrpc" endpoint (free with RpcBindingFree); false for a
// null endpoint or any failure.
bool BindBiDiEndpoint(const wchar_t* endpoint, void** binding);
// Up to 10 times asks whether the server behind binding listens, sleeping total/10 ms after
// each no; true at the first yes.
bool WaitForBiDiServer(void* binding, DWORD totalMilliseconds);
// BiDiOpen through binding (copies of the texts; the printer name may be null); the context
// handle or null. Serialised process-wide: the interface has one implicit binding.
void* CallBiDiOpen(void* binding, const wchar_t* ppdPath, const wchar_t* address, const wchar_t* printerName);
// True when a reply of count characters is well formed for reading: at least one character
// and a final NUL.
bool CheckBiDiReply(const wchar_t* text, long count);
// Turns the reply text (count characters, checked by CheckBiDiReply) into settings of the
// data file set into destination; entries the settings refuse are skipped. The number of
// settings set.
int ParseBiDiReply(CfgSettings* settings, OptionForest* forest, KVCache* destination, const wchar_t* text,
                   long count);
// Thread routine of the connect attempt.
DWORD WINAPI BiDiConnectThread(void* client);
