// Client of the maker's job-settings library "tq2.dll": loads it from the folder beside
// Quenta, binds its entry points, runs its window inside the job-settings page, hands it
// the job's settings, watermarks and pictures and takes the changes back. One client per
// process (TQManager). The settings-data session and its callbacks live in TQSession.cpp,
// the exchange of settings in TQExchange.cpp.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"

#include "settings/KVCache.h"
#include "settings/KeyForest.h"
#include "settings/StrSoup.h"
#include "uiplugin/TQAbi.h"

class CBaseStore;
struct SDMEntryPoints;

// Allocator whose blocks are overwritten with zeros before they are freed, growth included:
// the one holder of the texts that may carry a user name or a password.
template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(size_t count) { return std::allocator<T>().allocate(count); }
    void deallocate(T* block, size_t count) noexcept {
        WipeMemory(block, count * sizeof(T));
        std::allocator<T>().deallocate(block, count);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

// Wide text wiped when it grows and when it ends (a short text kept inside the object too).
class SecretWString : public std::basic_string<wchar_t, std::char_traits<wchar_t>, WipingAllocator<wchar_t>> {
public:
    using Base = std::basic_string<wchar_t, std::char_traits<wchar_t>, WipingAllocator<wchar_t>>;
    using Base::Base;
    SecretWString(const SecretWString&) = default;
    SecretWString& operator=(const SecretWString&) = default;
    ~SecretWString() { WipeMemory(data(), capacity() * sizeof(wchar_t)); }
};
using SecretWBuffer = std::vector<wchar_t, WipingAllocator<wchar_t>>;

class TQInterface {
public:
    // Loads libraryName from "<module folder>\<module stem>\" and, with a session record and
    // settingsData, starts the settings-data session of settingsDataName.
    TQInterface(HMODULE module, const wchar_t* libraryName, const wchar_t* settingsDataName,
                const TQSessionInfo* session, BOOL settingsData);
    virtual ~TQInterface();
    TQInterface(const TQInterface&) = delete;
    TQInterface& operator=(const TQInterface&) = delete;

    // TRUE when construction loaded the library; every other call does nothing otherwise.
    BOOL IsLoaded() const noexcept { return m_loaded; }

    // 0 on success, TQ_FAILED on failure.
    DWORD Load(HMODULE module, const wchar_t* libraryName);
    // Ends session and UI and frees the library; the collected status.
    DWORD Unload();
    void Shutdown();

    // Opens (first call) or refreshes the library's UI in page. logoName may be an integer
    // resource id (MAKEINTRESOURCEW). printer: where "Watermark" settings live when the
    // watermark source is empty. extra: when given, the keys the client keeps its own copy of.
    BOOL OpenJobUI(HWND page, const wchar_t* ppdPath, CBaseSoup* soup, KVCache* current, KVCache* installed,
                   OptionForest* forest, const CBaseStore* watermarkSource, const wchar_t* queue, HANDLE printer,
                   HMODULE module, const wchar_t* logoName, const KVCache* extra, const wchar_t* codePage,
                   const wchar_t* language);
    // Commits the library's window and reads values and watermarks back into current and
    // watermarkStore; TRUE when the UI existed. The page keys are imported in every case.
    BOOL FetchJobSettings(CBaseSoup* soup, KVCache* current, KVCache* installed, OptionForest* forest,
                          CBaseStore* watermarkStore);
    void CloseJobUI();
    // The library's verdict on its settings; TRUE without UI or without the entry point.
    BOOL ValidateSettings();
    BOOL JobMonitorExists() const;

    // Settings-data session (TQSession.cpp).
    DWORD StartSDMSession(HMODULE module, const wchar_t* settingsDataName, const TQSessionInfo* session);
    DWORD EndSDMSession();
    // Applies the queue's attributes; with readOnly, hands out the queue's read-only key text
    // (free with FreeReadOnlyKeys).
    BOOL ApplyQueueAttributes(CBaseSoup* soup, KVCache* settings, OptionForest* forest, const wchar_t* queue,
                              wchar_t** readOnly);
    void FreeReadOnlyKeys(wchar_t* text);
    void SetDefaultCallbacks();

    // Exchange of settings (TQExchange.cpp). Arrays made here are freed by FreeKeyValueArray.
    static TQKeyValueArray* CollectKeyValues(CBaseSoup* soup, const KVCache* settings, const KVCache* installed,
                                             OptionForest* forest, BOOL first, BOOL second);
    // From a text list "keyword\0value\0...": one pair per keyword/value, the keyword without
    // its "*" (and a following "~" or "*"). length in characters; the list may end early at
    // an empty keyword.
    static TQKeyValueArray* SplitKeyValueTexts(const wchar_t* list, size_t length);
    static TQKeyValueArray* StoreToKeyValues(const CBaseStore* store);
    static BOOL ApplyKeyValues(const TQKeyValueArray* values, CBaseSoup* soup, OptionForest* forest, KVCache* target,
                               const KVCache* settings);
    static BOOL ApplyWatermarks(const TQKeyValueArray* watermarks, CBaseStore* store);
    // Page keys in the library's own names, written into settings (source: where keys that
    // settings lack are looked up, may be null).
    static BOOL ExportPageKeys(KVCache* settings, CBaseSoup* soup, OptionForest* forest, const KVCache* source);
    static BOOL ImportPageKeys(KVCache* settings, CBaseSoup* soup, OptionForest* forest, const KVCache* source);
    // The new "Watermark" store of printer, loaded; null when it cannot be made.
    static CBaseStore* MakeWatermarkStore(HANDLE printer);
    static BOOL AddCurrentWatermark(CBaseSoup* soup, const KVCache* settings, CBaseStore* store);
    static BOOL SelectWatermark(CBaseSoup* soup, KVCache* settings, const TQKeyValueArray* watermarks);
    // The value text of a setting (empty when none); wiped when it ends.
    static SecretWString ValueText(CBaseSoup* soup, const CKeySetting* setting);
    static BOOL ApplyWatermarkSelection(CBaseSoup* soup, KVCache* settings, const KVCache* source,
                                        const TQKeyValueArray* watermarks);
    // Sorts by the numeric value of each number (missing texts first).
    static void SortWatermarks(TQKeyValueArray* watermarks);
    // Rewrites the numbers as "0", "1", ... in array order.
    static void RenumberWatermarks(TQKeyValueArray* watermarks);
    // The printer picture (260 x 160) drawn from the OEM module beside ppdPath.
    static HBITMAP RenderPrinterPicture(const wchar_t* ppdPath, CBaseSoup* soup, const KVCache* settings);
    // The logo from the OEM module beside ppdPath when loaded, else from module; pure green
    // is transparent over the button face.
    static HBITMAP LoadLogoBitmap(const wchar_t* ppdPath, HMODULE module, const wchar_t* bitmapName);
    // The installed-options block of the SMDData document (new text, delete[]), null when
    // there are no pairs.
    wchar_t* FormatInstalledOptions(BOOL first, BOOL second) const;

    // Accessors for the callbacks and tests.
    const wchar_t* GetLibraryPath() const noexcept { return m_libraryPath; }
    const wchar_t* GetJobMonitorPath() const noexcept { return m_monitorPath; }
    const wchar_t* GetPPDPath() const noexcept { return m_ppdPath; }
    const wchar_t* GetLanguage() const noexcept { return m_language.c_str(); }
    const TQSessionInfo& GetSessionCopy() const noexcept { return m_sessionCopy; }
    TQCallbacks* GetCallbacks() noexcept { return &m_callbacks; }
    HBITMAP GetPrinterPicture() const noexcept { return m_picture; }
    HBITMAP GetLogo() const noexcept { return m_logo; }
    HWND GetPageWindow() const noexcept { return m_page; }
    BOOL IsSDMReady() const noexcept { return m_sdmReady; }
    BOOL HasSession() const noexcept { return m_sessionBegun; }
    BOOL HasUI() const noexcept { return m_ui != 0; }
    // TRUE once the library was given up for not getting ready; the page then stays without it.
    BOOL GaveUp() const noexcept { return m_gaveUp; }
    const SDMEntryPoints* GetSDMEntryPoints() const noexcept { return m_sdm; }
    void* GetSDMUserData() const noexcept { return m_sdmUserData; }
    TQDocumentProc GetLibraryDocumentProvider() const noexcept { return m_libraryDocument; }
    void MarkSDMComplete(BOOL ready) noexcept;

    // Test seams: the box shown when the library cannot be loaded, and the bounds of the
    // readiness poll and of the settings-data completion wait (milliseconds). Each returns
    // the former value.
    using MessageBoxFn = int(WINAPI*)(HWND, const wchar_t*, const wchar_t*, UINT);
    static MessageBoxFn SetMessageBoxSeam(MessageBoxFn box) noexcept;
    static DWORD SetReadyTimeout(DWORD milliseconds) noexcept;
    static DWORD SetCompletionTimeout(DWORD milliseconds) noexcept;

private:
    BOOL FirstOpen(CBaseSoup* soup, KVCache* copy, const CBaseStore* watermarkSource, const wchar_t* queue,
                   HANDLE printer);
    BOOL WaitUntilReady();
    // Empties the sign-in keys when they are not to be kept and tells whether the job
    // monitor is installed.
    void PrepareJobKeys(CBaseSoup* soup, KVCache* settings) const;
    void DeletePictures();
    void CloseNotificationList();

    wchar_t m_ppdPath[MAX_PATH] = {};
    wchar_t m_libraryPath[MAX_PATH] = {};
    wchar_t m_monitorPath[MAX_PATH] = {};
    TQCallbacks m_callbacks = {};
    TQCallbacks m_callbacksCopy = {};
    HBITMAP m_picture = nullptr;
    HBITMAP m_logo = nullptr;
    KVCache* m_settings = nullptr;
    KVCache* m_installed = nullptr;
    OptionForest* m_forest = nullptr;
    CBaseSoup* m_soup = nullptr;
    HMODULE m_library = nullptr;
    UINT_PTR m_ui = 0;
    BOOL m_sessionBegun = FALSE;
    TQSession m_session = nullptr;
    TQEntryPoints* m_entries = nullptr;
    UINT_PTR m_handle = 0;
    BOOL m_settingsData = FALSE;
    TQNotificationList* m_list = nullptr;
    BOOL m_listRegistered = FALSE;
    SDMEntryPoints* m_sdm = nullptr;
    TQSessionInfo m_sessionCopy = {};
    void* m_sdmUserData = nullptr;
    BOOL m_sdmStarted = FALSE;
    BOOL m_sdmReady = FALSE;
    HANDLE m_sdmEvent = nullptr;
    TQDocumentProc m_libraryDocument = nullptr;
    TQCompletion m_completion = {};
    std::wstring m_codePage = L"1252";
    std::wstring m_language = L"en";
    HWND m_page = nullptr;
    BOOL m_loaded = FALSE;
    BOOL m_gaveUp = FALSE;
};

// Entry table of module (new, delete); null when a mandatory name is missing.
TQEntryPoints* BindTQEntryPoints(HMODULE module);
// Clears the record and sets its version.
void InitTQCallbacks(TQCallbacks* callbacks);
// Sent by the library on a change: WM_USER + 104 to the page's parent.
BOOL TQAPI NotificationCallback(void* client, DWORD flag, void* unused);

// Frees an array made by Quenta: both texts of every item, then the block. With wipe, the
// texts are overwritten first (arrays that hold a user name or password).
void FreeKeyValueArray(TQKeyValueArray* array, bool wipe = false);
// The routine that gives each text of such an array back (delete[] by default); a test puts
// its own in place to see the bytes as they are freed. Null restores the default; returns the
// previous one.
using KeyValueTextFreeFn = void (*)(wchar_t* text);
KeyValueTextFreeFn SetKeyValueTextFreeSeam(KeyValueTextFreeFn fn) noexcept;
// New key/value array of count items (texts null); null when out of memory.
TQKeyValueArray* AllocKeyValueArray(size_t count);
// Replaces every "," of text by "." in place (decimal commas become decimal points).
void JoinCommaList(wchar_t* text);
// Whether an array the library gave can be read: non-null, items right after the header,
// count within bound.
bool IsTrustedKeyValueArray(const TQKeyValueArray* array);

// "<module folder>\<module stem>\<name>" into out (size characters); false when the
// module's path cannot be read or the result does not fit (nothing is cut).
bool BuildTQLibraryPath(HMODULE module, const wchar_t* name, wchar_t* out, size_t size);
// "<module folder>\<name>" likewise.
bool BuildTQSiblingPath(HMODULE module, const wchar_t* name, wchar_t* out, size_t size);
