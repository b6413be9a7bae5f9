// Quenta's two-way client: one object per property sheet that needs controller information.
// It counts itself in the data file's shared block, starts the Brimsa server when no live
// server is counted, and talks to it through a road thread of its own: the thread connects,
// sends the queued requests and makes every call, while the sheet's thread waits for an
// answer only a bounded time. A late answer is dropped; the sheet shows what it has.
#pragma once

#include <windows.h>

#include "settings/KeySetting.h"
#include "uiplugin/BiDiCategory.h"
#include "uiplugin/BiDiShare.h"

class CfgSettings;
class KVCache;
struct BiDiRoad;

// The bounds of every wait a sheet's thread makes on the road, in milliseconds. A sheet that
// opens makes its client and asks at once: the connect attempt and those first calls share
// one budget from construction, so the sheet opens in time whatever the road does. A fetch
// the user asked for (the Update button) gives a slow controller longer, still bounded.
struct BiDiClientBounds {
    DWORD openingMs;  // from construction: the connect attempt and the first calls
    DWORD askedMs;    // the same for a client made for a fetch the user asked for
    DWORD openMs;     // an open call that the server has not answered
    DWORD minCallMs;  // what a call still gets at the end of the opening budget
    DWORD callMs;     // one call after the opening
    DWORD closeMs;    // the close at destruction
};
inline constexpr BiDiClientBounds kBiDiClientBounds = {2000, 5000, 800, 250, 2500, 500};

class CBiDiClient {
public:
    // serverPath: the server program (the data file with ".SRV"); ppdPath: the data file;
    // serverAddress: the controller's address; printerName: the virtual printer or null.
    // openingMs: the budget of the connect attempt and the first calls. Registers the client,
    // starts the server when no live one is counted and begins connecting.
    CBiDiClient(const wchar_t* serverPath, const wchar_t* ppdPath, const wchar_t* serverAddress,
                const wchar_t* printerName, DWORD openingMs = kBiDiClientBounds.openingMs);
    // Asks the road thread to close the connection, waits for that a bounded time, and
    // unregisters.
    ~CBiDiClient();
    CBiDiClient(const CBiDiClient&) = delete;
    CBiDiClient& operator=(const CBiDiClient&) = delete;

    // 1 when the server's connection to the controller stands (to that address, ignoring
    // case); 0 when not connected, on any failure, or when no answer came in time.
    long IsConnected();
    long IsConnectedTo(const wchar_t* address);
    // Asks the server to fetch categories (a BiDiCategory mask) ahead of time. Queued while
    // connecting; dropped after a failed connect attempt. Never waits.
    void Request(long mask);
    // The reply text (keyword NUL value NUL NUL ..., ended by one more NUL) as a new buffer
    // the caller frees with delete[], or null. count (optional) gets its length in
    // characters, the final NUL included.
    wchar_t* GetText(long mask, long* count = nullptr);
    // Reads the reply for mask into destination as settings of the data file (keys it does
    // not know and values they refuse are skipped). True when a reply was parsed.
    bool ApplyResults(CfgSettings* settings, OptionForest* forest, KVCache* destination, long mask);

    // Whether the connection to the server stands (does not wait).
    bool HasConnection() const noexcept;
    // Waits for the connect attempt to end, at most until the opening budget is spent (or
    // the server has not answered the open in time); true when it has ended.
    bool WaitForConnectAttempt() const noexcept;
    // The same with a bound of the caller's (tools and tests).
    bool WaitForConnectAttempt(DWORD milliseconds) const noexcept;

private:
    // When the wait for a call made now ends.
    DWORD CallDeadline() const noexcept;

    BiDiShareMutex m_shareMutex;
    BiDiRoad* m_road = nullptr;
    DWORD m_openingEnds = 0;  // the tick at which the opening budget is spent
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
// handle or null. Each call names its own binding, so opens of several clients never share one.
void* CallBiDiOpen(void* binding, const wchar_t* ppdPath, const wchar_t* address, const wchar_t* printerName);
// True when a reply of count characters is well formed for reading: at least one character
// and a final NUL.
bool CheckBiDiReply(const wchar_t* text, long count);
// Turns the reply text (count characters, checked by CheckBiDiReply) into settings of the
// data file set into destination; entries the settings refuse are skipped. The number of
// settings set.
int ParseBiDiReply(CfgSettings* settings, OptionForest* forest, KVCache* destination, const wchar_t* text,
                   long count);
// Thread routine of the road: the connect attempt, then the calls, then the close.
DWORD WINAPI BiDiConnectThread(void* road);
