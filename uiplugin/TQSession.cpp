// Settings-data session of the job-settings library: the shared entry table, the session
// start and end, the queue's attributes and the callbacks that answer the library (the
// SMDData document, the pictures, the buffer release).
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "foundation/StrUtil.h"
#include "uiplugin/SDMInterface.h"
#include "uiplugin/TQInterface.h"
#include "uiplugin/TimerSleep.h"

namespace {

DWORD g_completionTimeout = 30000;

// Length of an 8-bit text within a field of size bytes.
size_t FieldLength(const char* text, size_t size) {
    const void* end = memchr(text, 0, size);
    return end ? static_cast<size_t>(static_cast<const char*>(end) - text) : size;
}

// A field's 8-bit text (ANSI code page) as a wide text, never read past the field.
std::wstring FieldText(const char* text, size_t size) {
    size_t length = FieldLength(text, size);
    if (length == 0) return std::wstring();
    int count = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), out.data(), count);
    return out;
}

std::wstring Escaped(const wchar_t* text) {
    std::wstring out;
    for (const wchar_t* p = text ? text : L""; *p; ++p) {
        switch (*p) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        default: out += *p;
        }
    }
    return out;
}

// A second reference to the process's table for a callback; null when none is bound.
SDMEntryPoints* ReferenceSDMEntryPoints() {
    SyncherHold<CSDMInterface> hold(GetSDMSyncher());
    CSDMInterface* sdm = hold.Get();
    if (!sdm || !sdm->GetEntryPoints()) return nullptr;
    AcquireSDMInterface(nullptr);  // the lock is re-entrant for its owner
    return sdm->GetEntryPoints();
}

// The client that a settings-data user data names, or null.
TQInterface* ClientOf(const SDMEntryPoints* table, void* userData) {
    void* client = nullptr;
    if (!table || table->GetUserData(userData, &client) != 0) return nullptr;
    return static_cast<TQInterface*>(client);
}

BYTE AnswerPicture(TQInterface* client, HBITMAP* bitmap, LONG* width, LONG* height, LONG* depth, int which) {
    if (!client) return FALSE;
    HBITMAP picture = which == 1 ? client->GetPrinterPicture() : which == 0 ? client->GetLogo() : nullptr;
    BITMAP info = {};
    if (!picture || GetObjectW(picture, sizeof(info), &info) == 0) return FALSE;
    if (bitmap) *bitmap = picture;
    // Each size is written only where the caller asked for it with a non-zero value.
    if (width && *width) *width = info.bmWidth;
    if (height && *height) *height = info.bmHeight;
    if (depth && *depth) *depth = -1;
    return TRUE;
}

DWORD TQAPI StubZero(void*, void*) { return 0; }
DWORD TQAPI StubFailed(void*, void*) { return TQ_FAILED; }
DWORD TQAPI StubFalse(void*, void*) { return FALSE; }
DWORD TQAPI ReleaseBuffer(void*, void** buffer) {
    if (buffer) {
        free(*buffer);
        *buffer = nullptr;
    }
    return 0;
}

// Copies text of length characters to out at *used (room was sized by the caller).
void Put(wchar_t* out, size_t* used, const wchar_t* text, size_t length) {
    if (length) wmemcpy(out + *used, text, length);
    *used += length;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The shared entry table.

void CSDMInterface::Load(const wchar_t* path) {
    if (m_module || m_entries || !path) return;
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return;
    SDMEntryPoints* table = new (std::nothrow) SDMEntryPoints();
    if (!table) {
        FreeLibrary(module);
        return;
    }
    FARPROC* slots = reinterpret_cast<FARPROC*>(table);
    for (size_t i = 0; i < sizeof(kSDMEntryNames) / sizeof(kSDMEntryNames[0]); ++i) {
        slots[i] = GetProcAddress(module, kSDMEntryNames[i]);
        if (!slots[i]) {
            delete table;
            FreeLibrary(module);
            return;
        }
    }
    m_module = module;
    m_entries = table;
}

void CSDMInterface::Unload() {
    delete m_entries;
    m_entries = nullptr;
    if (m_module) FreeLibrary(m_module);
    m_module = nullptr;
}

Syncher<CSDMInterface>& GetSDMSyncher() {
    return GuardedSyncher<CSDMInterface>([] { return new (std::nothrow) CSDMInterface(); });
}

CSDMInterface* AcquireSDMInterface(const wchar_t* path) {
    SyncherHold<CSDMInterface> hold(GetSDMSyncher());
    CSDMInterface* sdm = hold.Get();
    if (!sdm) return nullptr;
    if (sdm->m_useCount++ == 0) sdm->Load(path);
    return sdm;
}

void ReleaseSDMInterface() {
    SyncherHold<CSDMInterface> hold(GetSDMSyncher());
    CSDMInterface* sdm = hold.Get();
    if (!sdm || sdm->m_useCount <= 0) return;
    if (--sdm->m_useCount == 0) sdm->Unload();
}

SDMEntryPoints* AcquireSDMEntryPoints(const wchar_t* path) {
    CSDMInterface* sdm = AcquireSDMInterface(path);
    if (!sdm) return nullptr;
    SDMEntryPoints* table = sdm->GetEntryPoints();
    if (!table) ReleaseSDMInterface();
    return table;
}

void InitTQSessionInfo(TQSessionInfo* session) {
    if (!session) return;
    ZeroMemory(session, sizeof(*session));
    session->dataFlags = 0xFFFF;
    session->sessionKind = 64;
}

wchar_t* EscapeXmlAttribute(const wchar_t* text) {
    if (!text) return nullptr;
    return StrDup(Escaped(text).c_str());
}

// ---------------------------------------------------------------------------------------
// The session.

DWORD TQInterface::SetCompletionTimeout(DWORD milliseconds) noexcept {
    DWORD old = g_completionTimeout;
    g_completionTimeout = milliseconds;
    return old;
}

void TQInterface::MarkSDMComplete(BOOL ready) noexcept {
    m_sdmReady = ready;
    if (m_sdmEvent) SetEvent(m_sdmEvent);
}

DWORD TQInterface::StartSDMSession(HMODULE module, const wchar_t* settingsDataName, const TQSessionInfo* session) {
    wchar_t path[MAX_PATH];
    if (!session || !BuildTQLibraryPath(module, settingsDataName, path, MAX_PATH)) return TQ_FAILED;
    m_sdm = AcquireSDMEntryPoints(path);
    m_sdmEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_sdm || !m_sdmEvent) {
        EndSDMSession();
        return TQ_FAILED;
    }
    m_completion = TQCompletion{};
    m_completion.callback = &SDMInitCompleteCallback;
    m_completion.client = this;
    m_sessionCopy = *session;
    void* userData = nullptr;
    if (m_sdm->Initialize(&m_sessionCopy, &m_callbacks, &m_completion, &userData) == 0) {
        m_sdmUserData = userData;
        m_sdm->SetUserData(userData, this);
        m_callbacksCopy = m_callbacks;
        m_sdmStarted = TRUE;
        m_libraryDocument = m_callbacksCopy.documentProvider;
        m_callbacks.documentProvider = &BuildDeviceSMDDataCallback;
        m_callbacks.pictureProvider = &GetPrinterPictureSDMCallback;
        // The completion may come through this thread's messages (a window or an apartment
        // of the library's): they are dispatched while it is waited for.
        if (MessageWait(m_sdmEvent, g_completionTimeout) != WAIT_OBJECT_0) {
            // Too late: take the client out of the record so a later completion is ignored;
            // when the callback already took it, its answer is on its way.
            if (!InterlockedExchangePointer(&m_completion.client, nullptr)) MessageWait(m_sdmEvent, INFINITE);
        }
    }
    if (m_sdmReady) return 0;
    EndSDMSession();
    return TQ_FAILED;
}

DWORD TQInterface::EndSDMSession() {
    DWORD status = 0;
    if (m_sdm) {
        if (m_sdmStarted) {
            if (DWORD result = m_sdm->Terminate(m_sdmUserData)) status = result;
        }
        if (DWORD result = m_sdm->DllEndEx()) status = result;
        ReleaseSDMInterface();
    }
    if (m_sdmEvent) CloseHandle(m_sdmEvent);
    m_sdm = nullptr;
    m_sdmEvent = nullptr;
    m_sdmUserData = nullptr;
    m_sdmStarted = FALSE;
    m_sdmReady = FALSE;
    m_libraryDocument = nullptr;
    return status;
}

void TQInterface::SetDefaultCallbacks() {
    InitTQCallbacks(&m_callbacks);
    m_callbacks.userData = this;
    m_callbacks.documentProvider = &BuildSMDDataCallback;
    for (TQStubProc& stub : m_callbacks.answersZero1) stub = &StubZero;
    for (TQStubProc& stub : m_callbacks.answersZero2) stub = &StubZero;
    m_callbacks.answersFailed = &StubFailed;
    m_callbacks.answersFalse = &StubFalse;
    for (TQStubProc& stub : m_callbacks.answersZero3) stub = &StubZero;
    m_callbacks.bufferRelease = &ReleaseBuffer;
    m_callbacks.pictureProvider = &GetPrinterPictureCallback;
}

void TQInterface::FreeReadOnlyKeys(wchar_t* text) {
    if (text && m_sdm) m_sdm->FreeMemory(m_sdmUserData, text);
}

namespace {

// Length of a "keyword\0value\0...\0" text the library gave, its final NUL included; the
// scan stops at a bound.
size_t MultiTextLength(const wchar_t* text) {
    constexpr size_t kBound = 1u << 20;
    size_t i = 0;
    while (i < kBound) {
        if (text[i] == L'\0') {
            if (i == 0 || text[i - 1] == L'\0') return i + 1;
        }
        ++i;
    }
    return kBound;
}

// Whether settings hold keyword with the value text value.
bool HoldsValue(const KVCache* cache, CBaseSoup* soup, const wchar_t* keyword, const wchar_t* value) {
    SoupSlotID slot = soup->Find(keyword);
    const CKeySetting* setting = slot.IsValid() ? cache->Find(slot) : nullptr;
    return setting && TQInterface::ValueText(soup, setting) == value;
}

}  // namespace

BOOL TQInterface::ApplyQueueAttributes(CBaseSoup* soup, KVCache* settings, OptionForest* forest,
                                       const wchar_t* queue, wchar_t** readOnly) {
    if (readOnly) *readOnly = nullptr;
    if (!soup || !settings || !forest || !m_entries || !m_sdm) return FALSE;
    wchar_t* first = nullptr;
    wchar_t* second = nullptr;
    m_sdm->GetQueueAttributes(m_sdmUserData, queue ? queue : L"", &first, &second);
    BOOL done = FALSE;
    if (first && second) {
        TQKeyValueArray* firstValues = SplitKeyValueTexts(first, MultiTextLength(first));
        TQKeyValueArray* secondValues = SplitKeyValueTexts(second, MultiTextLength(second));
        SoupSlotID useDefaultSlot = soup->Find(L"*QVUseDefaultSettings");
        SoupSlotID mixedSlot = soup->Find(L"*QVMixedMedia");
        bool useDefault = !(useDefaultSlot.IsValid() && settings->Find(useDefaultSlot)) ||
                          HoldsValue(settings, soup, L"*QVUseDefaultSettings", L"True");
        KVCache fresh;
        if (useDefault) {
            ApplyKeyValues(firstValues, soup, forest, &fresh, settings);
        } else {
            ApplyKeyValues(secondValues, soup, forest, &fresh, settings);
            if (mixedSlot.IsValid()) fresh.Remove(fresh.Find(mixedSlot));
            if (HoldsValue(&fresh, soup, L"*QVMMInUse", L"True")) {
                KVCache other;
                ApplyKeyValues(firstValues, soup, forest, &other, settings);
                if (mixedSlot.IsValid()) fresh.Set(other.Find(mixedSlot));
            }
        }
        settings->SetAll(&fresh);
        FreeKeyValueArray(firstValues, true);
        FreeKeyValueArray(secondValues, true);
        done = TRUE;
    }
    if (first) m_sdm->FreeMemory(m_sdmUserData, first);
    if (second) {
        if (readOnly && done) *readOnly = second;
        else m_sdm->FreeMemory(m_sdmUserData, second);
    }
    return done;
}

wchar_t* TQInterface::FormatInstalledOptions(BOOL first, BOOL second) const {
    TQKeyValueArray* pairs = CollectKeyValues(m_soup, m_installed, m_installed, m_forest, first, second);
    if (!pairs) return nullptr;
    std::wstring block;
    TQKeyValueItem* items = TQArrayItems(pairs);
    if (pairs->count) {
        block = L"    <InstallableOptions>\n";
        for (uint64_t i = 0; i < pairs->count; ++i) {
            block += L"          <InstalledOptions key=\"";
            block += Escaped(items[i].keyword);
            block += L"\" value=\"";
            block += Escaped(items[i].value);
            block += L"\"/>\n";
        }
        block += L"    </InstallableOptions>\n";
    }
    FreeKeyValueArray(pairs, true);
    return block.empty() ? nullptr : StrDup(block.c_str());
}

// ---------------------------------------------------------------------------------------
// Callbacks.

DWORD TQAPI SDMInitCompleteCallback(TQCompletion* completion) {
    if (!completion) return 0;
    // Taking the client out answers once; a client that gave up waiting has already
    // taken it out itself.
    TQInterface* client = static_cast<TQInterface*>(InterlockedExchangePointer(&completion->client, nullptr));
    if (client) client->MarkSDMComplete(completion->status == TQ_SDM_READY && completion->error == 0);
    return 0;
}

DWORD TQAPI BuildSMDDataCallback(void* owner, wchar_t** text) {
    TQInterface* client = static_cast<TQInterface*>(owner);
    if (!client || !text) return TQ_FAILED;
    *text = nullptr;
    std::wstring document = L"<?xml version=\"1.0\" encoding=\"UTF16\"?>\n<SMDData>\n <Configuration locale=\"";
    document += Escaped(client->GetLanguage());
    document += L"\" encoding=\"UTF8\" ppdLocation0=\"";
    document += Escaped(client->GetPPDPath());
    document += L"\"  ControlScope=\"Driver\"  /> \n <Device deviceName=\"\" deviceID=\"0\"> \n";
    if (wchar_t* block = client->FormatInstalledOptions(FALSE, FALSE)) {
        document += L"\n";
        document += block;
        delete[] block;
    }
    document += L"\n    </Device> \n</SMDData>";
    // Sized to the text: the release callback frees it with free().
    size_t bytes = (document.size() + 1) * sizeof(wchar_t);
    wchar_t* buffer = static_cast<wchar_t*>(malloc(bytes));
    if (!buffer) return TQ_FAILED;
    memcpy(buffer, document.c_str(), bytes);
    *text = buffer;
    return 0;
}

DWORD TQAPI BuildDeviceSMDDataCallback(void* userData, wchar_t** text) {
    if (!text) return TQ_FAILED;
    *text = nullptr;
    SDMEntryPoints* table = ReferenceSDMEntryPoints();
    if (!table) return TQ_FAILED;
    DWORD answer = TQ_FAILED;
    TQInterface* client = ClientOf(table, userData);
    TQDocumentProc provider = client ? client->GetLibraryDocumentProvider() : nullptr;
    wchar_t* device = nullptr;
    if (provider && provider(userData, &device) == 0 && device) {
        const TQSessionInfo& session = client->GetSessionCopy();
        std::wstring config = L"<Configuration locale=\"";
        config += Escaped(FieldText(session.language, sizeof(session.language)).c_str());
        config += L"\" encoding=\"UTF8\" ppdLocation0=\"";
        config += Escaped(client->GetPPDPath());
        config += L"\"  pddLocation0=\"\" server=\"";
        config += Escaped(FieldText(session.server, sizeof(session.server)).c_str());
        config += L"\" dataFlags=\"";
        config += std::to_wstring(session.dataFlags);
        config += L"\" ControlScope=\"Driver\"  />";
        wchar_t* block = client->FormatInstalledOptions(TRUE, TRUE);
        size_t blockLength = block ? wcslen(block) : 0;
        size_t deviceLength = wcslen(device);
        DWORD bytes = static_cast<DWORD>((deviceLength + config.size() + blockLength + 1) * sizeof(wchar_t));
        void* memory = nullptr;
        if (table->AllocMemory(userData, &memory, bytes) == 0 && memory) {
            wchar_t* out = static_cast<wchar_t*>(memory);
            size_t used = 0;
            const wchar_t* from = device;
            const wchar_t* start = wcsstr(from, L"<Configuration");
            const wchar_t* end = start ? wcschr(start, L'>') : nullptr;
            if (start && end) {
                Put(out, &used, from, static_cast<size_t>(start - from));
                Put(out, &used, config.c_str(), config.size());
                from = end + 1;
            }
            const wchar_t* open = wcsstr(from, L"<InstallableOptions>");
            const wchar_t* close = open ? wcsstr(open, L"</InstallableOptions>") : nullptr;
            if (open && close) {
                Put(out, &used, from, static_cast<size_t>(open - from));
                Put(out, &used, block ? block : L"", blockLength);
                from = close + wcslen(L"</InstallableOptions>");
            }
            Put(out, &used, from, wcslen(from));
            out[used] = L'\0';
            *text = out;
            answer = 0;
        }
        delete[] block;
    }
    if (device) table->FreeMemory(userData, device);
    ReleaseSDMInterface();
    return answer;
}

BYTE TQAPI GetPrinterPictureCallback(void* client, HBITMAP* bitmap, LONG* width, LONG* height, LONG* depth,
                                     int which) {
    return AnswerPicture(static_cast<TQInterface*>(client), bitmap, width, height, depth, which);
}

BYTE TQAPI GetPrinterPictureSDMCallback(void* userData, HBITMAP* bitmap, LONG* width, LONG* height, LONG* depth,
                                        int which) {
    SDMEntryPoints* table = ReferenceSDMEntryPoints();
    if (!table) return FALSE;
    BYTE answer = AnswerPicture(ClientOf(table, userData), bitmap, width, height, depth, which);
    ReleaseSDMInterface();
    return answer;
}
