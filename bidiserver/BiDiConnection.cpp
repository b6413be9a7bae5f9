// A client connection of Brimsa: its operation queue and worker, the conversion of server
// records into settings of the data file, the reply text, and the server routines of the
// connection procedures (open, close, request, text, connection state).
#include "bidiserver/BiDiConnection.h"

#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "BiDiService.h"
#include "bidiserver/BiDiServer.h"
#include "foundation/StrUtil.h"
#include "settings/KeySetting.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "uiplugin/BiDiCategory.h"
#include "uiplugin/TimerSleep.h"

const BiDiCategoryHandler BiDiCategoryHandlers[6] = {
    {BiDiConnect, &CBiDiServer::EnsureConnected},
    {BiDiFeatures, &CBiDiServer::FetchFeatures},
    {BiDiEmailNotify, &CBiDiServer::FetchEmailNotify},
    {BiDiMultipleDefaults, &CBiDiServer::FetchMultipleDefaults},
    {BiDiVPAttributes, &CBiDiServer::FetchVPAttributes},
    {BiDiVPFlaggedAttributes, &CBiDiServer::FetchVPAttributes},
};

// ---------------------------------------------------------------------------------------
// CBiDiOperation.

CBiDiOperation::CBiDiOperation(long mask) noexcept
    : m_mask(mask), m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CBiDiOperation::~CBiDiOperation() {
    if (m_event) CloseHandle(m_event);
}

// ---------------------------------------------------------------------------------------
// CBiDiConnection.

CBiDiConnection::CBiDiConnection(CBiDiServer* server, const wchar_t* ppdPath, const wchar_t* address,
                                 const wchar_t* printerName)
    : m_server(server) {
    m_results = new (std::nothrow) KVCache();
    m_wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_ppdPath = StrDup(ppdPath ? ppdPath : L"");
    m_address = StrDup(address ? address : L"");
    m_printerName = StrDup(printerName ? printerName : L"");
    ZeroMemory(&m_block, sizeof(m_block));
    ResetResults();
}

CBiDiConnection::~CBiDiConnection() {
    StopWorker();
    // The fetch thread uses the controller connection: it ends before the connection does.
    if (m_fetchThread) {
        WaitForThreadExit(m_fetchThread);
        CloseHandle(m_fetchThread);
        m_fetchThread = nullptr;
    }
    if (GetState() == kBiDiConnected && m_server) m_server->Disconnect(this);
    if (m_wakeEvent) CloseHandle(m_wakeEvent);
    if (m_fetchEvent) CloseHandle(m_fetchEvent);
    delete m_results;
    delete[] m_ppdPath;
    delete[] m_address;
    delete[] m_printerName;
    delete[] m_fetchPath;
    for (CBiDiOperation* operation : m_operations) delete operation;
}

int CBiDiConnection::GetState() {
    AutoLock hold(&m_mutex);
    return m_state;
}

long CBiDiConnection::GetDoneMask() {
    AutoLock hold(&m_mutex);
    return m_done;
}

void CBiDiConnection::ResetResults() {
    AutoLock hold(&m_mutex);
    if (m_results) m_results->Clear();
    m_categories.clear();
    m_done = 0;
}

void CBiDiConnection::SetConnectState(ServerConnectionBlock* block) {
    AutoLock hold(&m_mutex);
    if (m_state != kBiDiConnected && (!block || block == &m_block)) m_state = block ? kBiDiConnected : kBiDiConnectFailed;
    if (block) ResetResults();
}

void CBiDiConnection::Request(long mask) {
    // Only the categories not fetched yet are queued: a mask that is partly done still
    // gets the rest.
    const long remaining = mask & ~GetDoneMask();
    if (!remaining) return;
    QueueOperation(remaining);
    StartWorker();
}

void CBiDiConnection::QueueOperation(long mask) {
    AutoLock hold(&m_mutex);
    if (mask) {
        auto* operation = new (std::nothrow) CBiDiOperation(mask);
        if (operation && operation->GetEvent()) {
            try {
                m_operations.push_back(operation);
                operation = nullptr;
            } catch (const std::bad_alloc&) {
            }
        }
        delete operation;
    }
    if (m_wakeEvent) SetEvent(m_wakeEvent);
}

void CBiDiConnection::StartWorker() {
    AutoLock hold(&m_mutex);
    if (m_worker) {
        DWORD code = 0;
        if (GetExitCodeThread(m_worker, &code) && code == STILL_ACTIVE) return;
        CloseHandle(m_worker);
        m_worker = nullptr;
    }
    m_stop = false;
    m_worker = CreateThread(nullptr, 0, &BiDiConnectionWorkerThread, this, 0, nullptr);
    if (!m_worker) {
        // Nobody will run the queue: release its waiters (their categories stay not done).
        for (CBiDiOperation* operation : m_operations)
            if (operation) SetEvent(operation->GetEvent());
    }
}

long CBiDiConnection::GetPendingMask() {
    AutoLock hold(&m_mutex);
    CBiDiOperation* operation = FindOperation();
    return operation ? operation->GetMask() : 0;
}

CBiDiOperation* CBiDiConnection::FindOperation() {
    AutoLock hold(&m_mutex);
    for (CBiDiOperation* operation : m_operations)
        if (operation && !operation->IsSignalled()) return operation;
    return nullptr;
}

void CBiDiConnection::SignalOperations(long mask) {
    AutoLock hold(&m_mutex);
    for (CBiDiOperation* operation : m_operations)
        if (operation && (operation->GetMask() & ~mask) == 0) SetEvent(operation->GetEvent());
}

void CBiDiConnection::RemoveOperations(long mask) {
    AutoLock hold(&m_mutex);
    std::vector<CBiDiOperation*> kept;
    kept.reserve(m_operations.size());
    for (CBiDiOperation* operation : m_operations) {
        if (!operation) continue;
        if ((operation->GetMask() & ~mask) == 0)
            delete operation;
        else
            kept.push_back(operation);
    }
    m_operations.swap(kept);
}

void CBiDiConnection::StopWorker() {
    RemoveOperations(kBiDiAllCategories);
    HANDLE worker = nullptr;
    {
        AutoLock hold(&m_mutex);
        if (!m_worker) return;
        m_stop = true;
        if (m_wakeEvent) SetEvent(m_wakeEvent);
        worker = m_worker;
    }
    WaitForThreadExit(worker);
    AutoLock hold(&m_mutex);
    CloseHandle(m_worker);
    m_worker = nullptr;
}

bool CBiDiConnection::WaitForFirstOperation(DWORD ms) {
    HANDLE event = nullptr;
    long operationMask = 0;
    {
        AutoLock hold(&m_mutex);
        CBiDiOperation* first = nullptr;
        for (CBiDiOperation* operation : m_operations)
            if (operation) {
                first = operation;
                break;
            }
        if (!first) return false;
        operationMask = first->GetMask();
        // Waited on through a copy: the operation may be removed meanwhile.
        if (!DuplicateHandle(GetCurrentProcess(), first->GetEvent(), GetCurrentProcess(), &event, SYNCHRONIZE, FALSE, 0))
            return false;
    }
    const bool ended = WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
    CloseHandle(event);
    // An operation that has not ended stays queued for the worker.
    if (ended) RemoveOperations(operationMask);
    return ended;
}

bool CBiDiConnection::WaitForCategories(long mask, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        {
            AutoLock hold(&m_mutex);
            if (mask && (mask & ~m_done) == 0) return true;
        }
        DWORD left = INFINITE;
        if (ms != INFINITE) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= ms) return false;
            left = ms - spent;
        }
        if (!WaitForFirstOperation(left)) return false;
    }
}

void CBiDiConnection::FinishOperations() {
    const int state = GetState();
    while (WaitForFirstOperation()) {
    }
    if (state == kBiDiConnected || state == kBiDiConnectFailed) {
        AutoLock hold(&m_mutex);
        m_state = kBiDiIdle;
    }
}

void CBiDiConnection::MergeResults(const KVCache* cache, long mask) {
    AutoLock hold(&m_mutex);
    if (cache && mask) {
        for (auto it = cache->Begin(); it != cache->End(); ++it) {
            const CKeySetting* setting = cache->GetAt(it);
            if (setting && setting->GetKeyId().IsValid()) m_categories[setting->GetKeyId()] |= mask;
        }
        if (m_results) m_results->SetAll(cache);
    }
    m_done |= mask;
}

bool CBiDiConnection::ApplyServerList(KVCache* destination, QVObList* list, const int* propertyIds, int idCount) {
    CfgSettingsHold hold(m_ppdPath);
    CfgSettings* settings = hold.Get();
    CBaseSoup* soup = settings ? settings->GetStringSoup() : nullptr;
    KVCache* defaults = settings ? settings->GetDefaultSettings() : nullptr;
    if (!soup || !defaults || !destination || !list) return false;
    OptionForest forest;
    for (int section = CFG_SECTION_GENERAL_KEYS; section <= CFG_SECTION_VYRNONUI_KEYS; ++section)
        settings->LoadSectionSettings(section, nullptr, &forest, nullptr);

    // The listed properties start from the data file's defaults.
    for (int i = 0; propertyIds && i < idCount; ++i) {
        const SoupSlotID slot = soup->GetPropertySlot(propertyIds[i], true);
        if (const CKeySetting* base = slot.IsValid() ? defaults->Find(slot) : nullptr) destination->Set(base);
    }

    AutoLock lock(&m_mutex);
    for (QVObList::Position position = list->GetHeadPosition(); position;) {
        // The lists of the library hold key/value records only.
        const QVKeyVal* record = static_cast<const QVKeyVal*>(list->GetNext(position));
        if (!record) continue;
        // A controller key K is the setting "*K" with its blanks removed.
        std::wstring keyword = L"*";
        for (const wchar_t* c = record->Key(); *c; ++c)
            if (*c != L' ') keyword += *c;
        if (keyword.size() < 2) continue;
        const SoupSlotID slot = soup->Find(keyword.c_str());
        const CKeySetting* base = slot.IsValid() ? defaults->Find(slot) : nullptr;
        if (!base) continue;
        std::unique_ptr<CKeySetting> clone(base->Clone());
        if (clone && clone->SetFromText(soup, &forest, record->Key(), record->Value()))
            destination->Set(clone.get());
    }
    return true;
}

void CBiDiConnection::RunCategoryHandlers(long mask) {
    const long done = GetDoneMask();
    for (const BiDiCategoryHandler& row : BiDiCategoryHandlers)
        if ((row.bit & mask) && !(row.bit & done) && m_server) (m_server->*row.handler)(this);
}

long CBiDiConnection::IsConnected(const wchar_t* address) {
    if (!(GetDoneMask() & BiDiConnect)) {
        QueueOperation(BiDiConnect);
        StartWorker();
    }
    if (!WaitForCategories(BiDiConnect, kBiDiServerWaitMs)) return 0;
    if (GetState() != kBiDiConnected) return 0;
    if (address && _wcsicmp(address, m_address) != 0) return 0;
    return 1;
}

bool CBiDiConnection::CollectResults(long mask, KVCache* destination) {
    Request(mask);
    if (!destination || !WaitForCategories(mask, kBiDiServerWaitMs)) return false;
    AutoLock hold(&m_mutex);
    if (!m_results) return false;
    for (auto it = m_results->Begin(); it != m_results->End(); ++it) {
        const CKeySetting* setting = m_results->GetAt(it);
        if (!setting || setting->GetKeyId().IsInvalid()) continue;
        auto category = m_categories.find(setting->GetKeyId());
        if (category != m_categories.end() && (category->second & mask)) destination->Set(setting);
    }
    return true;
}

wchar_t* CBiDiConnection::GetResultsText(long mask, long* count) {
    if (count) *count = 0;
    KVCache collected;
    if (!CollectResults(mask, &collected)) return nullptr;
    CfgSettingsHold hold(m_ppdPath);
    CBaseSoup* soup = hold.Get() ? hold.Get()->GetStringSoup() : nullptr;
    if (!soup) return nullptr;
    size_t total = 0;
    for (auto it = collected.Begin(); it != collected.End(); ++it)
        if (const CKeySetting* setting = collected.GetAt(it)) total += setting->GetText(soup, nullptr, 0);
    if (total == 0 || total >= 0x7FFFFFFF) return nullptr;
    wchar_t* text = new (std::nothrow) wchar_t[total + 1];
    if (!text) return nullptr;
    size_t at = 0;
    for (auto it = collected.Begin(); it != collected.End(); ++it) {
        const CKeySetting* setting = collected.GetAt(it);
        if (!setting) continue;
        const unsigned need = setting->GetText(soup, nullptr, 0);
        if (need == 0 || at + need > total) continue;
        setting->GetText(soup, text + at, need);
        at += need;
    }
    text[at] = L'\0';
    if (count) *count = static_cast<long>(at + 1);
    return text;
}

bool CBiDiConnection::StartGetPPD(const wchar_t* path) { return m_server && m_server->StartGetPPD(this, path); }
bool CBiDiConnection::GetPPD(const wchar_t* path) { return m_server && m_server->GetPPD(this, path); }

DWORD WINAPI BiDiConnectionWorkerThread(void* parameter) {
    auto* connection = static_cast<CBiDiConnection*>(parameter);
    for (;;) {
        const long mask = connection->GetPendingMask();
        if (mask) {
            connection->RunCategoryHandlers(mask);
            connection->SignalOperations(mask);
            continue;
        }
        {
            AutoLock hold(&connection->m_mutex);
            if (connection->m_stop) break;
        }
        WaitForSingleObject(connection->m_wakeEvent, INFINITE);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Caller check and the server routines of procedures 0 to 5.

namespace {

// The user SID of a token, copied into sid (SECURITY_MAX_SID_SIZE bytes).
bool ReadTokenUser(HANDLE token, BYTE* sid) {
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) return false;
    auto* user = reinterpret_cast<TOKEN_USER*>(buffer);
    return CopySid(SECURITY_MAX_SID_SIZE, sid, user->User.Sid) != FALSE;
}

bool ReadProcessUser(BYTE* sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const bool ok = ReadTokenUser(token, sid);
    CloseHandle(token);
    return ok;
}

void CloseConnection(CBiDiConnection* connection) {
    std::fputs("Request to shutdown\n", stdout);
    std::fflush(stdout);
    if (!connection) return;
    CBiDiServer* server = CBiDiServer::Instance(nullptr);
    // Unlinked first, so neither the watchdog nor Terminate can reach it once deleted;
    // a handle that is not listed is not ours to delete.
    if (server && !server->RemoveConnection(connection)) return;
    connection->MarkClosed();
    delete connection;
}

CBiDiConnection* Conn(BiDiContextHandle context) { return static_cast<CBiDiConnection*>(context); }

}  // namespace

bool IsBiDiCallerAdmitted() {
    BYTE own[SECURITY_MAX_SID_SIZE], caller[SECURITY_MAX_SID_SIZE];
    if (!ReadProcessUser(own)) return false;
    if (RpcImpersonateClient(nullptr) != RPC_S_OK) return false;
    HANDLE token = nullptr;
    bool ok = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) != FALSE;
    RpcRevertToSelf();
    if (!ok) return false;
    ok = ReadTokenUser(token, caller) && EqualSid(own, caller);
    CloseHandle(token);
    return ok;
}

void BiDiConnectionRundown(void* context) { CloseConnection(Conn(context)); }

extern "C" {

void __RPC_USER BiDiContextHandle_rundown(BiDiContextHandle context) { BiDiConnectionRundown(context); }

// Brimsa's allocation routines: a failed allocation gives null, never an exception.
void* __RPC_USER MIDL_user_allocate(size_t size) { return ::operator new(size, std::nothrow); }
void __RPC_USER MIDL_user_free(void* buffer) { ::operator delete(buffer); }

BiDiContextHandle BiDiOpen(handle_t, const wchar_t* path, const wchar_t* address, const wchar_t* printerName) {
    if (!path || !*path || !address || !*address) return nullptr;
    // The interface's security callback does this check on Windows; Wine never calls it.
    if (!IsBiDiCallerAdmitted()) return nullptr;
    CBiDiServer* server = CBiDiServer::Instance(nullptr);
    if (!server) return nullptr;
    auto* connection = new (std::nothrow) CBiDiConnection(server, path, address, printerName);
    if (!connection) return nullptr;
    if (!connection->IsValid()) {
        delete connection;
        return nullptr;
    }
    server->AddConnection(connection);
    return connection;
}

void BiDiClose(BiDiContextHandle* context) {
    if (!context) {
        CloseConnection(nullptr);
        return;
    }
    CloseConnection(Conn(*context));
    *context = nullptr;
}

void BiDiRequest(BiDiContextHandle context, long mask) {
    if (context) Conn(context)->Request(mask);
}

long BiDiGetText(BiDiContextHandle context, long mask, long* count, wchar_t** text) {
    if (count) *count = 0;
    if (text) *text = nullptr;
    if (!context || !count || !text) return 0;
    long length = 0;
    wchar_t* reply = Conn(context)->GetResultsText(mask, &length);
    if (!reply) return 0;
    auto* buffer = static_cast<wchar_t*>(MIDL_user_allocate(static_cast<size_t>(length) * sizeof(wchar_t)));
    if (buffer) wmemcpy(buffer, reply, static_cast<size_t>(length));
    delete[] reply;
    if (!buffer) return 0;
    *count = length;
    *text = buffer;
    return 1;
}

long BiDiIsConnected(BiDiContextHandle context) { return context ? Conn(context)->IsConnected(nullptr) : 0; }

long BiDiIsConnectedTo(BiDiContextHandle context, const wchar_t* address) {
    if (!context || !address) return 0;
    wchar_t* copy = StrDup(address);
    if (!copy) return 0;
    const long result = Conn(context)->IsConnected(copy);
    delete[] copy;
    return result;
}

}  // extern "C"
