// Job-settings library client: loading, the session, the library's window in the page
// and the read-back of its values.
#include "uiplugin/TQInterface.h"

#include <memory>
#include <new>

#include "foundation/StrUtil.h"
#include "storage/PortResolver.h"
#include "storage/Store.h"
#include "uiplugin/TimerSleep.h"

namespace {

TQInterface::MessageBoxFn g_messageBox = &MessageBoxW;
DWORD g_readyTimeout = 30000;
constexpr DWORD kReadyPollInterval = 100;
constexpr UINT kSheetChangedMessage = WM_USER + 104;
// Room for any module path the system can give.
constexpr DWORD kLongPathChars = 32768;

// The module's full path in a new buffer of kLongPathChars (on the heap: the UI thread's
// stack is the host's), null when it cannot be read.
std::unique_ptr<wchar_t[]> ModulePath(HMODULE module) {
    std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[kLongPathChars]);
    if (!path) return nullptr;
    DWORD length = GetModuleFileNameW(module, path.get(), kLongPathChars);
    if (length == 0 || length >= kLongPathChars) return nullptr;
    return path;
}

// Length of the folder part of path, backslash included.
size_t FolderLength(const wchar_t* path) {
    const wchar_t* slash = wcsrchr(path, L'\\');
    const wchar_t* other = wcsrchr(path, L'/');
    if (other > slash) slash = other;
    if (!slash) {
        const wchar_t* colon = wcschr(path, L':');
        return colon ? static_cast<size_t>(colon - path + 1) : 0;
    }
    return static_cast<size_t>(slash - path + 1);
}

// Appends text to out at *used; false when it would not fit (terminator included).
bool Append(wchar_t* out, size_t size, size_t* used, const wchar_t* text, size_t length) {
    if (*used + length + 1 > size) return false;
    wmemcpy(out + *used, text, length);
    *used += length;
    out[*used] = L'\0';
    return true;
}

}  // namespace

bool BuildTQLibraryPath(HMODULE module, const wchar_t* name, wchar_t* out, size_t size) {
    if (!name || !out || size == 0) return false;
    out[0] = L'\0';
    std::unique_ptr<wchar_t[]> held = ModulePath(module);
    if (!held) return false;
    const wchar_t* path = held.get();
    size_t folder = FolderLength(path);
    const wchar_t* file = path + folder;
    const wchar_t* dot = wcsrchr(file, L'.');
    size_t stem = dot ? static_cast<size_t>(dot - file) : wcslen(file);
    size_t used = 0;
    bool ok = Append(out, size, &used, path, folder) && Append(out, size, &used, file, stem) &&
              Append(out, size, &used, L"\\", 1) && Append(out, size, &used, name, wcslen(name));
    if (!ok) out[0] = L'\0';
    return ok;
}

bool BuildTQSiblingPath(HMODULE module, const wchar_t* name, wchar_t* out, size_t size) {
    if (!name || !out || size == 0) return false;
    out[0] = L'\0';
    std::unique_ptr<wchar_t[]> held = ModulePath(module);
    if (!held) return false;
    const wchar_t* path = held.get();
    size_t used = 0;
    bool ok = Append(out, size, &used, path, FolderLength(path)) && Append(out, size, &used, name, wcslen(name));
    if (!ok) out[0] = L'\0';
    return ok;
}

TQEntryPoints* BindTQEntryPoints(HMODULE module) {
    if (!module) return nullptr;
    TQEntryPoints* table = new (std::nothrow) TQEntryPoints();
    if (!table) return nullptr;
    FARPROC* slots = reinterpret_cast<FARPROC*>(table);
    constexpr size_t count = sizeof(kTQEntryNames) / sizeof(kTQEntryNames[0]);
    for (size_t i = 0; i < count; ++i) {
        slots[i] = GetProcAddress(module, kTQEntryNames[i]);
        bool optional = i == count - 1;  // TQ1_1ValidateSettings
        if (!slots[i] && !optional) {
            delete table;
            return nullptr;
        }
    }
    return table;
}

void InitTQCallbacks(TQCallbacks* callbacks) {
    if (!callbacks) return;
    ZeroMemory(callbacks, sizeof(*callbacks));
    callbacks->version = TQ_CALLBACKS_VERSION;
}

BOOL TQAPI NotificationCallback(void* client, DWORD flag, void*) {
    TQInterface* self = static_cast<TQInterface*>(client);
    if (self && LOBYTE(flag)) {
        HWND page = self->GetPageWindow();
        if (page) SendMessageW(GetParent(page), kSheetChangedMessage, reinterpret_cast<WPARAM>(page), 0);
    }
    return FALSE;
}

TQInterface::MessageBoxFn TQInterface::SetMessageBoxSeam(MessageBoxFn box) noexcept {
    MessageBoxFn old = g_messageBox;
    g_messageBox = box ? box : &MessageBoxW;
    return old;
}

DWORD TQInterface::SetReadyTimeout(DWORD milliseconds) noexcept {
    DWORD old = g_readyTimeout;
    g_readyTimeout = milliseconds;
    return old;
}

TQInterface::TQInterface(HMODULE module, const wchar_t* libraryName, const wchar_t* settingsDataName,
                         const TQSessionInfo* session, BOOL settingsData) {
    m_settingsData = (settingsData && session) ? TRUE : FALSE;
    if (Load(module, libraryName) == 0) {
        if (IsExcludedHostProcess() || !session || StartSDMSession(module, settingsDataName, session) != 0)
            SetDefaultCallbacks();
        m_loaded = TRUE;
    } else {
        Shutdown();
    }
}

TQInterface::~TQInterface() {
    if (m_loaded) Shutdown();
    // The session record's copy carries a user name and a password field.
    WipeMemory(&m_sessionCopy, sizeof(m_sessionCopy));
}

DWORD TQInterface::Load(HMODULE module, const wchar_t* libraryName) {
    if (!libraryName) return TQ_FAILED;
    // A path that does not fit its buffer loads nothing (a cut path could name another file).
    if (!BuildTQLibraryPath(module, libraryName, m_libraryPath, MAX_PATH)) return TQ_FAILED;
    BuildTQSiblingPath(module, L"qvjm.dll", m_monitorPath, MAX_PATH);

    m_library = LoadLibraryExW(m_libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m_library) {
        g_messageBox(nullptr, L"LoadLibraryEx error", L"tqpath", MB_OK);
        return TQ_FAILED;
    }
    m_entries = BindTQEntryPoints(m_library);
    if (m_entries) {
        m_handle = m_entries->Init(this);
        if (m_handle) {
            InitTQCallbacks(&m_callbacks);
            return 0;
        }
    }
    Unload();
    return TQ_FAILED;
}

DWORD TQInterface::Unload() {
    DWORD status = 0;
    // A list still registered (the sheet closed with OK) goes before its session.
    CloseNotificationList();
    if (m_entries) {
        if (m_ui) m_entries->Term2(m_handle);
        if (m_sessionBegun) status = m_entries->EndSession(m_session);
    }
    if (m_sdmReady) EndSDMSession();
    if (m_entries) {
        if (m_handle) m_entries->Term(m_handle);
        if (DWORD end = m_entries->DllEnd()) status = end;
    }
    if (m_library) FreeLibrary(m_library);
    DeletePictures();
    delete m_settings;
    delete m_entries;
    m_settings = nullptr;
    m_entries = nullptr;
    m_library = nullptr;
    m_handle = 0;
    m_ui = 0;
    m_session = nullptr;
    m_sessionBegun = FALSE;
    m_codePage = L"1252";
    m_language = L"en";
    return status;
}

void TQInterface::Shutdown() {
    EndSDMSession();
    Unload();
    m_loaded = FALSE;
}

void TQInterface::DeletePictures() {
    if (m_picture) DeleteObject(m_picture);
    if (m_logo) DeleteObject(m_logo);
    m_picture = nullptr;
    m_logo = nullptr;
}

BOOL TQInterface::WaitUntilReady() {
    DWORD waited = 0;
    for (;;) {
        if (LOBYTE(m_entries->IsServerReady(m_session))) return TRUE;
        if (waited >= g_readyTimeout) return FALSE;
        DWORD step = g_readyTimeout - waited < kReadyPollInterval ? g_readyTimeout - waited : kReadyPollInterval;
        // The library may get ready through a window of this thread or an apartment's
        // messages: they keep flowing while it is waited for.
        MessageWait(nullptr, step);
        waited += step;
    }
}

BOOL TQInterface::OpenJobUI(HWND page, const wchar_t* ppdPath, CBaseSoup* soup, KVCache* current,
                            KVCache* installed, OptionForest* forest, const CBaseStore* watermarkSource,
                            const wchar_t* queue, HANDLE printer, HMODULE module, const wchar_t* logoName,
                            const KVCache* extra, const wchar_t* codePage, const wchar_t* language) {
    // A library given up once stays given up for this sheet: every return to the page would
    // otherwise wait the whole bound again.
    if (!m_loaded || !m_entries || !current || m_gaveUp) return FALSE;
    KVCache* copy = current->Clone();
    if (!copy) return FALSE;
    ExportPageKeys(copy, soup, forest, current);

    StrCopy(m_ppdPath, MAX_PATH, ppdPath ? ppdPath : L"");
    m_codePage = codePage ? codePage : L"1252";
    m_language = language ? language : L"en";
    m_page = page;
    if (extra) {
        delete m_settings;
        m_settings = extra->Clone();
        if (m_settings) m_settings->SetAll(copy, true);
    }
    m_installed = installed;
    m_forest = forest;
    m_soup = soup;
    if (!m_picture) m_picture = RenderPrinterPicture(m_ppdPath, soup, copy);
    if (!m_logo) m_logo = LoadLogoBitmap(m_ppdPath, module, logoName);

    if (!m_sessionBegun) {
        TQSession session = nullptr;
        if (m_entries->BeginSession(&m_callbacks, &session) == 0) {
            m_session = session;
            m_sessionBegun = TRUE;
        }
    }
    const bool hadUI = m_ui != 0;
    if (m_sessionBegun && !m_ui) m_ui = m_entries->Init2(m_handle, page);

    BOOL result = FALSE;
    if (hadUI) {
        TQKeyValueArray* values = CollectKeyValues(soup, copy, installed, forest, m_sdmStarted, m_settingsData);
        m_entries->SetJobControlsSettings(m_session, values);
        FreeKeyValueArray(values, true);
        result = TRUE;
    } else if (m_sessionBegun && m_ui) {
        result = FirstOpen(soup, copy, watermarkSource, queue, printer);
    }
    delete copy;
    return result;
}

BOOL TQInterface::FirstOpen(CBaseSoup* soup, KVCache* copy, const CBaseStore* watermarkSource,
                            const wchar_t* queue, HANDLE printer) {
    // The store is a copy: the driver state's own store stays with the state.
    CBaseStore* store = (watermarkSource && watermarkSource->Count() != 0) ? watermarkSource->Clone() : nullptr;
    if (!store) store = MakeWatermarkStore(printer);
    AddCurrentWatermark(soup, copy, store);
    TQKeyValueArray* watermarks = StoreToKeyValues(store);
    SortWatermarks(watermarks);
    SelectWatermark(soup, copy, watermarks);
    RenumberWatermarks(watermarks);
    delete store;

    if (!WaitUntilReady()) {
        // The library never became ready: give the session up without running it.
        m_gaveUp = TRUE;
        FreeKeyValueArray(watermarks);
        m_entries->Term2(m_handle);
        m_ui = 0;
        m_entries->EndSession(m_session);
        m_session = nullptr;
        m_sessionBegun = FALSE;
        return FALSE;
    }

    wchar_t* readOnly = nullptr;
    if (m_sdmReady) ApplyQueueAttributes(soup, copy, m_forest, queue, &readOnly);
    PrepareJobKeys(soup, copy);

    TQKeyValueArray* values = CollectKeyValues(soup, copy, m_installed, m_forest, m_sdmStarted, m_settingsData);
    m_entries->SetJobKeyValues(m_session, values);
    if (readOnly) m_entries->SetJobReadOnlyKeys(m_session, readOnly);
    m_entries->SetWatermarks(m_session, watermarks);

    TQRunRecord record = {};
    StrCopyA(record.title, sizeof(record.title), "Printing Preferences");
    wchar_t measure[4] = {};
    record.measure = (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IMEASURE, measure, 4) && measure[0] == L'0')
                         ? TQ_MEASURE_METRIC
                         : TQ_MEASURE_INCH;
    DWORD value = 0;
    m_entries->Run(m_handle, m_session, &record, 6, 0, &value);

    TQNotificationList* list = nullptr;
    m_entries->CreateNotificationList(&list);
    if (list) {
        m_list = list;
        list->client = this;
        list->callback = &NotificationCallback;
        m_listRegistered = m_entries->RegisterNotificationList(m_session, list) == 0;
    }

    FreeKeyValueArray(values, true);
    FreeKeyValueArray(watermarks);
    FreeReadOnlyKeys(readOnly);
    return TRUE;
}

BOOL TQInterface::FetchJobSettings(CBaseSoup* soup, KVCache* current, KVCache* installed, OptionForest* forest,
                                   CBaseStore* watermarkStore) {
    BOOL result = FALSE;
    if (m_loaded && m_entries && m_ui) {
        m_entries->SaveDrvUI(m_session);
        TQKeyValueArray* values = nullptr;
        TQKeyValueArray* watermarks = nullptr;
        DWORD unused = 0;
        m_entries->GetJobKeyValues(m_session, 0, &unused, &values);
        m_entries->GetWatermarks(m_session, &watermarks);
        if (IsTrustedKeyValueArray(values)) ApplyKeyValues(values, soup, forest, current, installed);
        if (IsTrustedKeyValueArray(watermarks) && watermarkStore) {
            ApplyWatermarks(watermarks, watermarkStore);
            ApplyWatermarkSelection(soup, current, installed, watermarks);
        }
        if (values) m_entries->Free(values);
        if (watermarks) m_entries->Free(watermarks);
        result = TRUE;
    }
    ImportPageKeys(current, soup, forest, installed);
    return result;
}

void TQInterface::CloseNotificationList() {
    if (m_entries && m_list) {
        // Only a list the library took is taken back.
        if (m_listRegistered && m_sessionBegun) m_entries->UnRegisterNotificationList(m_session);
        m_entries->DestroyNotificationList(m_list);
    }
    m_list = nullptr;
    m_listRegistered = FALSE;
}

void TQInterface::CloseJobUI() {
    if (!m_entries) return;
    CloseNotificationList();
    if (m_ui) m_entries->Term2(m_handle);
    if (m_sessionBegun) m_entries->EndSession(m_session);
    DeletePictures();
    m_ui = 0;
    m_session = nullptr;
    m_sessionBegun = FALSE;
}

BOOL TQInterface::ValidateSettings() {
    if (m_entries && m_ui && m_entries->ValidateSettings) return LOBYTE(m_entries->ValidateSettings(m_session)) ? TRUE : FALSE;
    return TRUE;
}

BOOL TQInterface::JobMonitorExists() const {
    if (!m_monitorPath[0]) return FALSE;
    DWORD attributes = GetFileAttributesW(m_monitorPath);
    return (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) ? TRUE : FALSE;
}
