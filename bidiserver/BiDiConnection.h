// One client connection of Brimsa (behind one RPC context handle): its controller
// connection, the queue of requested categories and the worker that fetches them, the
// settings fetched so far with the categories they came from, and its PPD fetch.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

#include "serverif/ServerInterfaceBinding.h"
#include "foundation/AutoMutex.h"
#include "settings/KVCache.h"
#include "settings/SoupSlotID.h"

class CBiDiServer;
class CBiDiConnection;

// A queued request: its category mask and an event set once the mask's handlers have run.
class CBiDiOperation {
public:
    explicit CBiDiOperation(long mask) noexcept;
    virtual ~CBiDiOperation();
    CBiDiOperation(const CBiDiOperation&) = delete;
    CBiDiOperation& operator=(const CBiDiOperation&) = delete;

    long GetMask() const noexcept { return m_mask; }
    HANDLE GetEvent() const noexcept { return m_event; }
    bool IsSignalled() const noexcept { return WaitForSingleObject(m_event, 0) == WAIT_OBJECT_0; }

private:
    long m_mask;
    HANDLE m_event;
};

// The handlers of the categories, in the order they run.
struct BiDiCategoryHandler {
    long bit;
    bool (CBiDiServer::*handler)(CBiDiConnection* connection);
};
extern const BiDiCategoryHandler BiDiCategoryHandlers[6];

enum BiDiConnectState : int { kBiDiIdle = 0, kBiDiConnectFailed = 1, kBiDiConnected = 2 };

class CBiDiConnection {
public:
    // Copies of the texts (a missing path or address becomes empty).
    CBiDiConnection(CBiDiServer* server, const wchar_t* ppdPath, const wchar_t* address, const wchar_t* printerName);
    virtual ~CBiDiConnection();
    CBiDiConnection(const CBiDiConnection&) = delete;
    CBiDiConnection& operator=(const CBiDiConnection&) = delete;

    bool IsValid() const noexcept { return m_wakeEvent && m_results && m_ppdPath && m_address && m_printerName; }
    void MarkClosed() noexcept { m_closed = true; }
    bool IsClosed() const noexcept { return m_closed; }

    const wchar_t* GetPPDPath() const noexcept { return m_ppdPath; }
    const wchar_t* GetAddress() const noexcept { return m_address; }
    const wchar_t* GetPrinterName() const noexcept { return m_printerName; }
    ServerConnectionBlock* GetBlock() noexcept { return &m_block; }
    int GetState();
    long GetDoneMask();

    void ResetResults();
    void SetConnectState(ServerConnectionBlock* block);
    // Queues the categories of mask not yet fetched and starts the worker.
    void Request(long mask);
    void QueueOperation(long mask);
    void StartWorker();
    long GetPendingMask();
    CBiDiOperation* FindOperation();
    void SignalOperations(long mask);
    void RemoveOperations(long mask);
    void StopWorker();
    // Waits for the first queued operation and removes it (and what its end covers); false
    // when none is queued or it has not ended within ms.
    bool WaitForFirstOperation(DWORD ms = INFINITE);
    // Whether every category of mask is done, waiting for the queued operations at most ms.
    bool WaitForCategories(long mask, DWORD ms = INFINITE);
    void FinishOperations();
    void MergeResults(const KVCache* cache, long mask);
    // Turns a list of server records into settings of the data file in destination, after the
    // defaults of the listed property ids. True when the data file's settings were at hand.
    bool ApplyServerList(KVCache* destination, QVObList* list, const int* propertyIds, int idCount);
    void RunCategoryHandlers(long mask);
    long IsConnected(const wchar_t* address);
    bool CollectResults(long mask, KVCache* destination);
    // The reply text of the mask's settings (new[]; count includes the final NUL) or null.
    wchar_t* GetResultsText(long mask, long* count);

    bool StartGetPPD(const wchar_t* path);
    bool GetPPD(const wchar_t* path);

private:
    friend class CBiDiServer;
    friend DWORD WINAPI BiDiConnectionWorkerThread(void* connection);
    friend DWORD WINAPI BiDiGetPPDThread(void* connection);

    volatile bool m_closed = false;
    AutoMutex m_mutex;
    // Held around a connect attempt to the controller (taken after the server mutex is let go).
    AutoMutex m_connectLock;
    ServerConnectionBlock m_block;
    int m_state = kBiDiIdle;
    KVCache* m_results = nullptr;
    long m_done = 0;
    std::map<SoupSlotID, long> m_categories;
    std::vector<CBiDiOperation*> m_operations;
    HANDLE m_worker = nullptr;
    wchar_t* m_ppdPath = nullptr;
    wchar_t* m_address = nullptr;
    wchar_t* m_printerName = nullptr;
    HANDLE m_wakeEvent = nullptr;
    bool m_stop = false;
    HANDLE m_fetchThread = nullptr;
    HANDLE m_fetchEvent = nullptr;
    wchar_t* m_fetchPath = nullptr;
    bool m_fetchFailed = false;
    CBiDiServer* m_server;
};

DWORD WINAPI BiDiConnectionWorkerThread(void* connection);
// The rundown of a context handle whose client vanished: closes its connection.
void BiDiConnectionRundown(void* context);
// Whether the caller of the current RPC call runs as this process's user.
bool IsBiDiCallerAdmitted();
