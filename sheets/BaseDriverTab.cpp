// The tab framework: modules, page, dialog procedure, saving and help of every driver tab.
#include "sheets/BaseDriverTab.h"

#include <commctrl.h>
#include <htmlhelp.h>

#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <list>
#include <memory>
#include <new>
#include <vector>

#include "foundation/StrUtil.h"
#include "settings/ConstraintResolver.h"
#include "settings/OptionUtil.h"
#include "sheets/PngImage.h"
#include "settings/KeyUtility.h"
#include "sheets/DialogTemplates.h"
#include "sheets/MemoryDC.h"
#include "sheets/TextWindows.h"
#include "sheets/SubclassLayer.h"
#include "sheets/TabProperties.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "storage/OEMManager.h"
#include "storage/Validation.h"
#include "uiplugin/ActivationContext.h"
#include "uiplugin/DrvStateUI.h"
#include "uiplugin/PropSheets.h"

namespace {

constexpr UINT kSheetChanged = WM_USER + 104;  // PSM_CHANGED: the sheet enables Apply

// The page hooked for foreground idle, one per thread: Explorer and the printers folder run
// each sheet on a thread of its own, and one sheet's activation must not unhook another's.
struct ThreadIdleHook {
    DWORD thread = 0;
    HWND page = nullptr;
    HHOOK hook = nullptr;
    // OnEnterIdle runs once at a time: a save may open a dialog whose messages come back here.
    bool inEnterIdle = false;
};
SRWLOCK g_hooksLock = SRWLOCK_INIT;
std::vector<ThreadIdleHook> g_hooks;

// A copy of the calling thread's record (an empty one when it has none).
ThreadIdleHook ThisThreadHook()
{
    const DWORD thread = GetCurrentThreadId();
    AcquireSRWLockShared(&g_hooksLock);
    ThreadIdleHook found;
    for (const ThreadIdleHook& entry : g_hooks)
        if (entry.thread == thread) found = entry;
    ReleaseSRWLockShared(&g_hooksLock);
    return found;
}

// Stores the calling thread's record; a record without page or hook is dropped.
void StoreThisThreadHook(const ThreadIdleHook& record)
{
    const DWORD thread = GetCurrentThreadId();
    AcquireSRWLockExclusive(&g_hooksLock);
    try {
        for (auto it = g_hooks.begin(); it != g_hooks.end(); ++it)
            if (it->thread == thread) {
                g_hooks.erase(it);
                break;
            }
        if (record.page || record.hook || record.inEnterIdle) {
            g_hooks.push_back(record);
            g_hooks.back().thread = thread;
        }
    } catch (...) {
        // Out of memory: the thread is left unhooked, the page still saves when it is left.
    }
    ReleaseSRWLockExclusive(&g_hooksLock);
}

struct SiblingRow {
    const wchar_t* extension;
    bool optional;
};
const SiblingRow kSiblings[4] = {{L".DLL", false}, {L".LAN", false}, {L".OEM", true}, {L".KQM", false}};

SheetMessageBoxFn g_sheetMessageBox = nullptr;
HtmlHelpFn g_htmlHelp = nullptr;

// A dialog procedure as the chain keeps it (the same shape as a window procedure).
template <class Procedure>
WNDPROC AsWndProc(Procedure procedure)
{
    return reinterpret_cast<WNDPROC>(reinterpret_cast<void (*)()>(procedure));
}

CBaseDriverTab* TabOf(HWND page)
{
    return static_cast<CBaseDriverTab*>(GetSubclassData(page, AsWndProc(CBaseDriverTab::PageProc)));
}

CMemoryDC* PictureOf(CBaseDriverTab* tab) { return tab ? tab->GetPicture() : nullptr; }

}  // namespace

DummySettings* DummySettings::Instance()
{
    static DummySettings instance;
    return &instance;
}

void DebugTrace(const wchar_t* format, ...) noexcept
{
    wchar_t buffer[128] = {};
    va_list args;
    va_start(args, format);
    FormatToBufferV(buffer, 128, format, args);
    va_end(args);
    OutputDebugStringW(buffer);
}

SheetMessageBoxFn SetSheetMessageBox(SheetMessageBoxFn fn) noexcept
{
    SheetMessageBoxFn previous = g_sheetMessageBox;
    g_sheetMessageBox = fn;
    return previous;
}

int SheetMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) noexcept
{
    return g_sheetMessageBox ? g_sheetMessageBox(owner, text, caption, type) : MessageBoxW(owner, text, caption, type);
}

HtmlHelpFn SetHtmlHelp(HtmlHelpFn fn) noexcept
{
    HtmlHelpFn previous = g_htmlHelp;
    g_htmlHelp = fn;
    return previous;
}

HWND CallHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data) noexcept
{
    if (!g_htmlHelp) {
        // From the system folder only: by bare name the application's folder comes first, and
        // a planted copy would run in every process that opens help.
        wchar_t path[MAX_PATH] = {};
        UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (length == 0 || length + 12 >= MAX_PATH) return nullptr;
        StrCopy(path + length, MAX_PATH - length, L"\\hhctrl.ocx");
        HMODULE control = LoadLibraryExW(path, nullptr, 0);
        auto bound = control ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void (*)()>(GetProcAddress(control, "HtmlHelpW")))
                             : nullptr;
        if (!bound) return nullptr;
        g_htmlHelp = bound;  // the control stays loaded for the process
    }
    return g_htmlHelp(caller, file, command, data);
}

// --- Construction ---------------------------------------------------------------------------

CBaseDriverTab::CBaseDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO*, int dialogId, BaseSettings* settings)
    : m_dialogId(dialogId), m_owner(owner), m_settings(settings ? settings : DummySettings::Instance())
{
    // The text windows paint on the tab's background picture.
    static const bool lookupSet = (SetTabPictureLookup(PictureOf), true);
    (void)lookupSet;
    if (!m_owner) return;
    m_owner->AddTab(this);
    m_registry = m_owner;
    const wchar_t* dataFile = m_owner->GetDataFile();
    m_modules[kModuleResources] = m_owner->GetModule();
    if (!dataFile) {
        m_owner = nullptr;
        return;
    }
    for (int i = 0; i < 4; ++i) {
        wchar_t path[MAX_PATH] = {};
        MakeSiblingPath(path, MAX_PATH, dataFile, kSiblings[i].extension);
        m_modules[i] = path[0] ? LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
        m_loaded[i] = m_modules[i] != nullptr;
        // Without it the tab adds no page: say which module, as the sheet alone shows nothing.
        if (!m_modules[i] && !kSiblings[i].optional)
            DebugTrace(L"no pages: %s missing beside the data file\n", std::wcsrchr(path, L'\\') ? std::wcsrchr(path, L'\\') + 1 : path);
    }
    for (int i = 0; i < 4; ++i)
        if (!m_modules[i] && !kSiblings[i].optional) m_owner = nullptr;
    if (m_owner) {
        wchar_t oemPath[MAX_PATH] = {};
        MakeSiblingPath(oemPath, MAX_PATH, dataFile, L".OEM");
        ReleaseOEMInterface(nullptr, oemPath, AcquireOEMInterface(nullptr, oemPath));
    }
}

CBaseDriverTab::~CBaseDriverTab()
{
    HWND hooked = ThisThreadHook().page;
    if (hooked && TabOf(hooked) == this) SetIdleHook(nullptr);
    for (int i = 0; i < 4; ++i)
        if (m_loaded[i] && m_modules[i]) FreeLibrary(m_modules[i]);
    std::free(m_template);
    delete m_picture;
    if (m_settings != DummySettings::Instance()) delete m_settings;
    m_settings = nullptr;
    // A tab deleted before its context leaves the context's list (the context's own
    // deletion of its tabs ignores this).
    if (m_registry) m_registry->RemoveTab(this);
}

// --- Page -----------------------------------------------------------------------------------

LONG_PTR CBaseDriverTab::AddPage(PROPSHEETUI_INFO* info)
{
    ActivationContext* context = LockActivationContext();
    void* pageTemplate = nullptr;
    WText title;
    if (info && m_owner && !IsPageHidden()) {
        pageTemplate = LoadTemplate(m_modules[kModuleLanguage], m_dialogId);
        title.reset(GetPageTitle());
    }
    LONG_PTR page = 0;
    if (pageTemplate && info->pfnComPropSheet) {
        PROPSHEETPAGEW sheetPage = {};
        sheetPage.dwSize = sizeof(sheetPage);
        sheetPage.dwFlags = PSP_DLGINDIRECT | PSP_HASHELP;
        sheetPage.hInstance = m_modules[kModuleLanguage];
        sheetPage.pResource = reinterpret_cast<LPCDLGTEMPLATEW>(pageTemplate);
        sheetPage.pfnDlgProc = reinterpret_cast<DLGPROC>(reinterpret_cast<void (*)()>(PageProc));
        sheetPage.lParam = reinterpret_cast<LPARAM>(this);
        HANDLE activation = context ? context->GetHandle() : nullptr;
        if (title) {
            sheetPage.dwFlags |= PSP_USETITLE;
            sheetPage.pszTitle = title.get();
        }
        if (activation && activation != INVALID_HANDLE_VALUE) {
            sheetPage.dwFlags |= PSP_USEFUSIONCONTEXT;
            sheetPage.hActCtx = activation;
        }
        page = info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_PROPSHEETPAGEW,
                                     reinterpret_cast<LPARAM>(&sheetPage), 0);
        std::free(m_template);
        m_template = pageTemplate;  // the sheet may build the page from it later
        pageTemplate = nullptr;
    }
    std::free(pageTemplate);
    if (context) UnlockActivationContext(context);
    return page;
}

void* CBaseDriverTab::LoadTemplate(HMODULE module, int dialogId)
{
    if (!module || !m_owner) return nullptr;
    DWORD size = 0;
    const void* resource = LoadDialogResource(module, MAKEINTRESOURCEW(dialogId), m_owner->GetLanguageId(), &size);
    return resource ? CopyAsDialogTemplateEx(resource, size) : nullptr;
}

wchar_t* CBaseDriverTab::GetPageTitle() { return nullptr; }

BOOL CBaseDriverTab::IsPageHidden() { return FALSE; }

INT_PTR CALLBACK CBaseDriverTab::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CBaseDriverTab* tab = TabOf(hwnd);
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<PROPSHEETPAGEW*>(lParam);
        tab = page ? reinterpret_cast<CBaseDriverTab*>(page->lParam) : nullptr;
        if (tab && AddSubclassLayer(hwnd, DialogLayerProc, DWLP_DLGPROC)) SetSubclassData(hwnd, AsWndProc(PageProc), tab);
    }
    if (!tab) return 0;
    INT_PTR result = tab->DialogProc(hwnd, message, wParam, lParam);
    if (message == WM_DESTROY) RemoveSubclassLayer(DialogLayerOf(hwnd));
    return result;
}

INT_PTR CBaseDriverTab::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return static_cast<INT_PTR>(static_cast<unsigned>(OnInitDialog(hwnd, wParam, lParam)));
    case WM_NOTIFY:
        return OnNotify(hwnd, wParam, reinterpret_cast<NMHDR*>(lParam));
    case WM_ERASEBKGND:
        return OnEraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
    case WM_DESTROY:
        OnDestroy(hwnd);
        return 0;
    case WM_ENTERIDLE:
        OnEnterIdle(hwnd, lParam);
        return 0;
    default:
        return 0;
    }
}

INT_PTR CBaseDriverTab::OnNotify(HWND hwnd, WPARAM, NMHDR* header)
{
    if (!hwnd || !header) return -299;
    switch (header->code) {
    case PSN_SETACTIVE: {
        ResetControls(DialogLayerOf(hwnd), hwnd);
        PlaceSheet(hwnd);
        SetIdleHook(hwnd);
        HWND sheet = GetParent(hwnd);
        if (sheet) {
            SetWindowLongPtrW(sheet, GWL_EXSTYLE, GetWindowLongPtrW(sheet, GWL_EXSTYLE) & ~WS_EX_CONTEXTHELP);
            InvalidateRect(sheet, nullptr, TRUE);
            UpdateWindow(sheet);
        }
        return 0;
    }
    case PSN_KILLACTIVE:
        // The page is stored once; it stays only when that store fails.
        if (RejectPageChange(hwnd)) {
            m_pending = 1;
            SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
            return 1;
        }
        m_pending = 0;
        SetIdleHook(nullptr);
        return 0;
    case PSN_APPLY:
        return OnApply(hwnd);
    case PSN_RESET: {
        if (m_owner && m_owner->GetDataFile()) StateSettingsHold settings(GetDrvState(), m_owner->GetDataFile());
        return 0;
    }
    case PSN_HELP:
        return OnHelp(hwnd);
    default:
        return 0;
    }
}

INT_PTR CBaseDriverTab::OnApply(HWND hwnd)
{
    if (!m_owner || !m_owner->GetComPropSheetFn() || !m_owner->GetDataFile()) return 0;
    StateSettingsHold settings(GetDrvState(), m_owner->GetDataFile());
    if (!settings.Get()) return 0;
    if (!ApplyToPrinter(settings.Get())) {
        // Nothing was written: the sheet stays open on this page.
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, PSNRET_INVALID_NOCHANGEPAGE);
        return 1;
    }
    m_owner->GetComPropSheetFn()(m_owner->GetComPropSheet(), CPSFUNC_SET_RESULT, 0, CPSUI_OK);
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, PSNRET_NOERROR);
    return 1;
}

INT_PTR CBaseDriverTab::OnHelp(HWND hwnd)
{
    if (!m_owner || !m_owner->GetComPropSheet() || !m_owner->GetComPropSheetFn() || !m_owner->GetDataFile()) return 0;
    wchar_t helpFile[MAX_PATH] = {};
    MakeSiblingPath(helpFile, MAX_PATH, m_owner->GetDataFile(), L".CHM");
    if (!helpFile[0] || GetFileAttributesW(helpFile) == INVALID_FILE_ATTRIBUTES) return 0;
    if (m_helpId < 1)
        CallHtmlHelp(hwnd, helpFile, HH_DISPLAY_TOPIC, 0);
    else
        CallHtmlHelp(hwnd, helpFile, HH_HELP_CONTEXT, static_cast<DWORD_PTR>(m_helpId));
    m_helpId = 0;
    return 1;
}

int CBaseDriverTab::SetIdleHook(HWND page)
{
    // One hook per thread: a new activation on this thread replaces the hook it held.
    ThreadIdleHook record = ThisThreadHook();
    if (record.hook) UnhookWindowsHookEx(record.hook);
    record.hook = nullptr;
    record.page = nullptr;
    m_idleHook = nullptr;
    if (page) {
        record.page = page;
        record.hook = SetWindowsHookExW(WH_FOREGROUNDIDLE, IdleHookProc, nullptr, GetCurrentThreadId());
        m_idleHook = record.hook;
    }
    StoreThisThreadHook(record);
    return 1;
}

HWND CBaseDriverTab::GetHookedPage() noexcept { return ThisThreadHook().page; }

HHOOK CBaseDriverTab::GetIdleHook() noexcept { return ThisThreadHook().hook; }

LRESULT CALLBACK CBaseDriverTab::IdleHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    HWND hooked = code >= 0 ? ThisThreadHook().page : nullptr;
    if (hooked) {
        CBaseDriverTab* tab = TabOf(hooked);
        SubclassLayer* layer = tab ? DialogLayerOf(hooked) : nullptr;
        if (layer && !tab->m_idlePosted && (tab->HasChanged(layer, hooked) || tab->m_pending)) {
            tab->m_pending = 1;
            tab->m_idlePosted = true;
            PostMessageW(hooked, WM_ENTERIDLE, 0, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CBaseDriverTab::OnEnterIdle(HWND page, LPARAM lParam)
{
    // Only the idle path's own post: a dialog owned by the page sends WM_ENTERIDLE with
    // itself as lParam while the save that opened it is still running.
    if (lParam != 0) return;
    // Our post has arrived, also when it comes inside the loop of a box the save opened: the
    // hook may post again, else the page would never save at idle once more.
    m_idlePosted = false;
    ThreadIdleHook record = ThisThreadHook();
    if (record.inEnterIdle) return;
    SubclassLayer* layer = DialogLayerOf(page);
    if (!layer) return;
    record.inEnterIdle = true;
    StoreThisThreadHook(record);
    if (HasChanged(layer, page) || m_pending) {
        DebugTrace(L"Settings Changed\n");
        m_pending = RejectPageChange(page) ? 1 : 0;
        ResetControls(layer, page);
        if (HWND sheet = GetParent(page)) SendMessageW(sheet, kSheetChanged, reinterpret_cast<WPARAM>(page), 0);
    }
    // The save may have activated another page of this thread meanwhile: keep its hook.
    record = ThisThreadHook();
    record.inEnterIdle = false;
    StoreThisThreadHook(record);
}

INT_PTR CBaseDriverTab::OnInitDialog(HWND, WPARAM, LPARAM) { return 0; }

INT_PTR CBaseDriverTab::OnDestroy(HWND hwnd)
{
    if (ThisThreadHook().page == hwnd) SetIdleHook(nullptr);
    return 0;
}

SubclassLayer* CBaseDriverTab::SubclassWindow(HWND hwnd, WNDPROC procedure)
{
    return hwnd && procedure ? AddSubclassLayer(hwnd, procedure, GWLP_WNDPROC) : nullptr;
}

void CBaseDriverTab::UnsubclassWindow(HWND hwnd, SubclassLayer* layer, WNDPROC procedure)
{
    if (hwnd && procedure) SetSubclassData(hwnd, procedure, nullptr);
    if (layer) RemoveSubclassLayer(layer);
}

int CBaseDriverTab::UpdateControlStates(HWND hwnd)
{
    if (m_settings) m_settings->UpdateControlStates(this, DialogLayerOf(hwnd));
    return 1;
}

BOOL CBaseDriverTab::LoadSettings() { return m_settings ? m_settings->Load(this) : FALSE; }

BOOL CBaseDriverTab::SaveSettings(HWND hwnd)
{
    BOOL result = 1;
    if (!m_owner || !m_owner->GetDataFile() || !m_settings) return result;
    CDrvState* state = GetDrvState();
    StateSettingsHold settings(state, m_owner->GetDataFile());
    CBaseSoup* soup = settings.Get() ? settings.Get()->GetStringSoup() : nullptr;
    KVCache* current = state ? state->GetCurrentSettings() : nullptr;
    if (!soup || !current) return result;
    try {
        ConstraintForest* constraints = SelectConstraints(settings.Get(), state);
        CValidationUtility validation(state, settings.Get()->GetKeyForest(), constraints, GetModule(kModuleLanguage));
        // Another thread that needs this PPD must not wait for the user to answer the box.
        validation.ReleaseHoldDuringMessages(settings.GetPath(), settings.Held());
        KVCache changes;
        result = m_settings->Store(this, &changes, constraints);
        validation.ResolveChanges(&changes, hwnd);
    } catch (...) {
        result = FALSE;
    }
    return result;
}

BOOL CBaseDriverTab::RejectPageChange(HWND hwnd) { return m_settings && !SaveSettings(hwnd); }

BOOL CBaseDriverTab::HasChanged(SubclassLayer* dialogLayer, HWND hwnd)
{
    if (!dialogLayer || !hwnd || !m_settings) return FALSE;
    return m_settings->ReadControls(this, dialogLayer, hwnd);
}

void CBaseDriverTab::ResetControls(SubclassLayer* dialogLayer, HWND hwnd)
{
    LoadSettings();
    UpdateControlStates(hwnd);
    if (m_settings) m_settings->WriteControls(this, dialogLayer, hwnd);
}

INT_PTR CBaseDriverTab::OnEraseBackground(HWND, HDC) { return 0; }

// --- Services for the tabs ------------------------------------------------------------------

CDrvState* CBaseDriverTab::GetDrvState() const { return m_owner ? m_owner->GetDrvState() : nullptr; }

wchar_t* CBaseDriverTab::LoadString(int moduleIndex, UINT id) const
{
    HMODULE module = GetModule(moduleIndex);
    if (!module || !m_owner) return nullptr;
    return LoadStringResource(module, id, m_owner->GetLanguageId(), m_owner->GetCodePage());
}

wchar_t* CBaseDriverTab::LoadStringFallback(UINT id) const
{
    for (int index : {kModuleOem, kModuleLanguage, kModuleResources})
        if (wchar_t* text = LoadString(index, id)) return text;
    return nullptr;
}

wchar_t* CBaseDriverTab::GetOptionDisplayName(int keyProperty, int optionProperty) const
{
    CDrvState* state = GetDrvState();
    if (!state || !m_owner->GetDataFile()) return nullptr;
    CBaseSoup* soup = state->GetSoup();
    SoupSlotID key = SoupPropertySlot(soup, keyProperty);
    SoupSlotID option = SoupPropertySlot(soup, optionProperty);
    if (key.IsInvalid() || option.IsInvalid()) return nullptr;
    StateSettingsHold settings(state, m_owner->GetDataFile());
    if (!settings.Get()) return nullptr;
    COptionUtil options(soup, settings.Get()->GetKeyForest());
    const wchar_t* name = options.IsValid() ? options.GetOptionDisplayName(key, option) : nullptr;
    return name ? FormatAlloc(L"%s", name) : nullptr;
}

BOOL CBaseDriverTab::IsOptionOff(int keyProperty, int optionProperty) const
{
    CDrvState* state = GetDrvState();
    if (!state) return TRUE;
    CVYROptionUtility options(state);
    return options.IsValid() && options.IsValueListedByProp(keyProperty, optionProperty, tabprop::kTrue) ? FALSE : TRUE;
}

void CBaseDriverTab::ClearComboBox(HWND dialog, int controlId) const
{
    HWND combo = dialog ? GetDlgItem(dialog, controlId) : nullptr;
    if (!combo) return;
    FreeComboBoxItems(combo);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
}

void CBaseDriverTab::FillOptionComboBox(HWND dialog, int controlId, int keyProperty, const int* excluded,
                                        int count) const
{
    HWND combo = dialog ? GetDlgItem(dialog, controlId) : nullptr;
    CDrvState* state = GetDrvState();
    if (!combo || !state || !m_owner->GetDataFile()) return;
    CBaseSoup* soup = state->GetSoup();
    SoupSlotID key = SoupPropertySlot(soup, keyProperty);
    if (key.IsInvalid()) return;
    StateSettingsHold settings(state, m_owner->GetDataFile());
    if (!settings.Get()) return;
    COptionUtil options(soup, settings.Get()->GetKeyForest());
    std::list<COptData>* list = options.IsValid() ? options.GetOptionList(key) : nullptr;
    if (!list) return;
    for (const COptData& option : *list) {
        SoupSlotID value = option.GetValueId();
        bool skip = false;
        for (int i = 0; excluded && i < count && !skip; ++i) skip = SoupPropertySlot(soup, excluded[i]) == value;
        if (skip) continue;
        const wchar_t* name = options.GetOptionDisplayName(key, value);
        LRESULT index = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name ? name : L""));
        if (index >= 0) SendMessageW(combo, SKM_SETVALUE, index, value.GetIndex());
    }
}

void CBaseDriverTab::FillComboBoxFromRows(HWND dialog, int controlId, int keyProperty, const ComboRow* rows,
                                          int count) const
{
    HWND combo = dialog ? GetDlgItem(dialog, controlId) : nullptr;
    if (!combo) return;
    ClearComboBox(dialog, controlId);
    CDrvState* state = GetDrvState();
    CBaseSoup* soup = state ? state->GetSoup() : nullptr;
    for (int i = 0; rows && i < count; ++i) {
        const ComboRow& row = rows[i];
        SoupSlotID option = SoupPropertySlot(soup, row.optionProperty);
        wchar_t buffer[256] = {};
        WText display;
        const wchar_t* text = nullptr;
        if (IS_INTRESOURCE(row.text)) {
            UINT id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(row.text));
            if (id != 0 && ::LoadStringW(m_owner ? m_owner->GetModule() : nullptr, id, buffer, 256) > 0) {
                text = buffer;
            } else if (id == 0 && option.IsValid()) {
                display.reset(GetOptionDisplayName(keyProperty, row.optionProperty));
                text = display.get();
            }
        } else {
            text = row.text;
        }
        LRESULT index = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text ? text : L""));
        if (index < 0) continue;
        SendMessageW(combo, SKM_SETVALUE, index, option.IsValid() ? option.GetIndex() : row.optionProperty);
        if (row.flag) SendMessageW(combo, SKM_ENDGROUP, index, 0);
    }
}

void CBaseDriverTab::MarkConstrainedItems(HWND dialog, int controlId, int keyProperty) const
{
    HWND combo = dialog ? GetDlgItem(dialog, controlId) : nullptr;
    CDrvState* state = GetDrvState();
    if (!combo || !state || !m_owner->GetDataFile()) return;
    SoupSlotID key = SoupPropertySlot(state->GetSoup(), keyProperty);
    StateSettingsHold settings(state, m_owner->GetDataFile());
    if (key.IsInvalid() || !settings.Get()) return;
    CConstraintResolver resolver(state->GetCurrentSettings(), SelectConstraints(settings.Get(), state),
                                 settings.Get()->GetKeyForest());
    if (!resolver.IsValid()) return;
    int count = static_cast<int>(SendMessageW(combo, SKM_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        auto value = static_cast<int32_t>(SendMessageW(combo, SKM_GETVALUE, i, 0));
        SendMessageW(combo, SKM_SETMARK, i, resolver.IsConstrained(key, SoupSlotID(value)) ? 1 : 0);
    }
}

void CBaseDriverTab::SetPictures(HMODULE imageModule, HWND dialog, const PictureRow* rows, int count) const
{
    if (!imageModule || !dialog || !rows) return;
    for (int i = 0; i < count; ++i) {
        HWND control = GetDlgItem(dialog, rows[i].controlId);
        if (!control) continue;
        HBITMAP bitmap = LoadImageResource(imageModule, MAKEINTRESOURCEW(rows[i].resourceId));
        if (!bitmap) continue;
        // A layer that takes the bitmap owns it from here on (deleted when replaced or removed);
        // a control without one leaves it to us.
        SkinImage image = {bitmap, TRUE, 0};
        if (!SendMessageW(control, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&image))) DeleteObject(bitmap);
    }
}

ConstraintForest* CBaseDriverTab::SelectConstraints(CfgSettings* settings, CDrvState* state) const
{
    if (!settings) return nullptr;
    bool sameAsPage = false;
    if (state) {
        CKeySettingsUtility keys(state);
        sameAsPage = keys.IsValid() && keys.IsOptionSetByProp(tabprop::kPrintSize, tabprop::kSameAsPageSize);
    }
    return settings->GetConstraints(sameAsPage);
}

HDC CBaseDriverTab::DrawBitmap(const SIZE* size, WORD bitmapId)
{
    if (!m_picture) {
        SIZE pictureSize = size ? *size : SIZE{1, 1};
        auto* picture = new (std::nothrow) CMemoryDC(24, pictureSize);
        if (picture && m_modules[kModuleResources] && m_owner && m_owner->GetDataFile()) {
            wchar_t oemPath[MAX_PATH] = {};
            MakeSiblingPath(oemPath, MAX_PATH, m_owner->GetDataFile(), L".OEM");
            HBITMAP image = nullptr;
            if (COEMInterface* oem = AcquireOEMInterface(nullptr, oemPath)) {
                if (HMODULE module = oem->GetModule()) image = LoadImageResource(module, MAKEINTRESOURCEW(bitmapId));
                ReleaseOEMInterface(nullptr, oemPath, oem);
            }
            if (!image) image = LoadImageResource(m_modules[kModuleResources], MAKEINTRESOURCEW(bitmapId));
            picture->Fill(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            if (image) {
                picture->BlitCentred(image);
                DeleteObject(image);
            }
        }
        m_picture = picture;
    }
    return m_picture ? m_picture->GetDC() : nullptr;
}

BOOL CBaseDriverTab::ApplyToPrinter(CfgSettings* settings)
{
    return m_owner && settings ? m_owner->ApplyTwoWayServer(settings, this) : FALSE;
}

void CBaseDriverTab::PlaceSheet(HWND page)
{
    if (!m_owner || !page) return;
    RECT rect;
    GetWindowRect(page, &rect);
    if (IsRectEmpty(&m_placement)) m_placement = m_owner->RecordPageRect(rect);
    int dx = (m_placement.right - m_placement.left) - (rect.right - rect.left);
    int dy = (m_placement.bottom - m_placement.top) - (rect.bottom - rect.top);
    if (dx == 0 && dy == 0) return;
    SetWindowPos(page, nullptr, 0, 0, rect.right - rect.left + dx, rect.bottom - rect.top + dy,
                 SWP_NOZORDER | SWP_NOMOVE);
    GrowSheet(page, dx, dy);
}

void CBaseDriverTab::GrowSheet(HWND page, int dx, int dy)
{
    HWND sheet = GetParent(page);
    if (!sheet) return;
    RECT sheetRect, desktop;
    GetWindowRect(sheet, &sheetRect);
    GetWindowRect(GetDesktopWindow(), &desktop);
    int overX = sheetRect.right + dx - desktop.right;
    int overY = sheetRect.bottom + dy - (desktop.bottom - 40);
    if (overX > 0 || overY > 0) {
        OffsetRect(&sheetRect, overX > 0 ? -overX : 0, overY > 0 ? -overY : 0);
        SetWindowPos(sheet, nullptr, sheetRect.left, sheetRect.top, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    }
    SetWindowPos(sheet, nullptr, 0, 0, sheetRect.right - sheetRect.left + dx, sheetRect.bottom - sheetRect.top + dy,
                 SWP_NOZORDER | SWP_NOMOVE);
    for (HWND child = GetWindow(sheet, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, sheet, reinterpret_cast<POINT*>(&r), 2);
        if (!_wcsicmp(className, L"SysTabControl32"))
            SetWindowPos(child, nullptr, 0, 0, r.right - r.left + dx, r.bottom - r.top + dy, SWP_NOZORDER | SWP_NOMOVE);
        else if (!_wcsicmp(className, L"Button"))
            SetWindowPos(child, nullptr, r.left + dx, r.top + dy, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    }
}

void CBaseDriverTab::FitSheetToDesktop(HWND page)
{
    HWND sheet = page ? GetParent(page) : nullptr;
    if (!sheet) return;
    RECT pageRect, sheetRect, desktop;
    GetWindowRect(page, &pageRect);
    GetWindowRect(sheet, &sheetRect);
    GetWindowRect(GetDesktopWindow(), &desktop);
    int targetHeight = (desktop.bottom - desktop.top) * 80 / 100;
    if (targetHeight > 750) targetHeight = 750;
    int dx = 750 - (sheetRect.right - sheetRect.left);
    int dy = targetHeight - (sheetRect.bottom - sheetRect.top);
    SetWindowPos(page, nullptr, 0, 0, pageRect.right - pageRect.left + dx, pageRect.bottom - pageRect.top + dy,
                 SWP_NOZORDER | SWP_NOMOVE);
}
