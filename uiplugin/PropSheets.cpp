// The property-sheet handlers and the sheet context.
#include "uiplugin/PropSheets.h"

#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "settings/KeyUtility.h"
#include "sheets/BaseDriverTab.h"
#include "sheets/InsOptFacts.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "storage/DriverUserKey.h"
#include "storage/PortResolver.h"
#include "storage/PrinterData.h"
#include "uiplugin/BiDiClient.h"
#include "uiplugin/DrvStateUI.h"

const wchar_t kBusyText[] = L"An instance of Tolva driver is already running in 32-bit mode.";
const wchar_t kBusyCaption[] = L"Attention";

namespace {

constexpr WORD kSheetVersion = 0x100;
wchar_t g_infoTitle[] = L"OEM UI Page";

// Property ids of the keys and values the sheet entry reads.
constexpr int kPropSpecialOption = 5011;     // *VYRSpecialOption
constexpr int kPropIPAddress = 5020;         // *VYRIPAddress
constexpr int kPropTrue = 5056;              // "True"
constexpr int kPropRemoveInstPopup = 5147;   // *QVRemoveInstOptionsPopup
constexpr int kPropShowDocSizeUI = 5148;     // *QVShowDocumentSizeUI
constexpr int kPropDefaultBiDiOff = 5149;    // *QVDefaultBiDiStateOff
constexpr int kMaskDocument = 8;             // BiDiMultipleDefaults
constexpr int kMaskDevice = 15;              // connect, features, e-mail, multiple defaults

PluginMessageBoxFn g_messageBox = nullptr;

int ShowPluginMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type)
{
    return g_messageBox ? g_messageBox(owner, text, caption, type) : MessageBoxW(owner, text, caption, type);
}

const int kTabDialogs[kTabCount] = {101, 1010, 1271, 1280, 1127};
TabMaker g_makers[kTabCount] = {kDefaultTabMakers[0], kDefaultTabMakers[1], kDefaultTabMakers[2],
                                kDefaultTabMakers[3], kDefaultTabMakers[4]};

// The PPD lists "True" for that option of *VYRSpecialOption (read from the sheet's driver
// state, whose key forest holds the non-UI keys too).
bool SpecialOptionTrue(CDrvStateUI* state, int optionProperty)
{
    if (!state) return false;
    CVYROptionUtility options(state);
    return options.IsValid() && options.IsValueListedByProp(kPropSpecialOption, optionProperty, kPropTrue);
}

// The last "|"-separated token of text (the whole text without one); null when empty.
const wchar_t* LastToken(const wchar_t* text)
{
    if (!text) return nullptr;
    const wchar_t* bar = std::wcsrchr(text, L'|');
    const wchar_t* token = bar ? bar + 1 : text;
    return *token ? token : nullptr;
}

bool OptionIs(CDrvStateUI* state, const wchar_t* keyword, const wchar_t* value)
{
    if (!state) return false;
    const wchar_t* text = state->GetOptionText(state->GetCurrentSettings(), keyword);
    return text && std::wcscmp(text, value) == 0;
}

bool TwoWayOn(CDrvStateUI* state)
{
    return OptionIs(state, L"*TwoWayComm", L"True") && OptionIs(state, L"*UpdateTolva", L"True");
}

// The current text of *VYRIPAddress (new[]), or null.
wchar_t* AddressText(CDrvStateUI* state)
{
    if (!state) return nullptr;
    CKeySettingsUtility keys(state);
    return keys.IsValid() ? keys.GetCurrentTextByProp(kPropIPAddress) : nullptr;
}

void SetAddress(CDrvStateUI* state, const wchar_t* address)
{
    CKeySettingsUtility keys(state);
    if (keys.IsValid() && address) keys.SetNoteTextByProp(state->GetCurrentSettings(), kPropIPAddress, address);
}

// Common to both handlers: the protocol's checks and the reasons other than init. Returns
// true when the call is done (result in *hr).
bool HandleCommonReason(PPROPSHEETUI_INFO info, LPARAM lParam, HRESULT* hr)
{
    *hr = S_OK;
    if (!info || info->Version != kSheetVersion) {
        SetLastError(ERROR_INVALID_PARAMETER);
        if (info) info->Result = 0;
        *hr = E_FAIL;
        return true;
    }
    switch (info->Reason) {
    case PROPSHEETUI_REASON_INIT:
        return false;
    case PROPSHEETUI_REASON_GET_INFO_HEADER:
        if (!lParam) {
            SetLastError(ERROR_INVALID_PARAMETER);
            *hr = E_FAIL;
            return true;
        }
        reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam)->pTitle = g_infoTitle;
        info->Result = 1;
        return true;
    case PROPSHEETUI_REASON_DESTROY:
        delete reinterpret_cast<PropSheetsInfo*>(info->UserData);
        info->UserData = 0;
        info->Result = 1;
        return true;
    case PROPSHEETUI_REASON_SET_RESULT:
        if (!lParam) {
            SetLastError(ERROR_INVALID_PARAMETER);
            *hr = E_FAIL;
            return true;
        }
        info->Result = static_cast<ULONG_PTR>(reinterpret_cast<PSETRESULT_INFO>(lParam)->Result);
        return true;
    default:
        info->Result = 0;
        return true;
    }
}

// Another sheet of this process holds the job-settings library: tell the user, add nothing.
void ShowBusyMessage(HANDLE printer)
{
    GeneralInfo<IPrintCoreUI2> context(printer, nullptr);
    WText text, caption;
    if (const wchar_t* dataFile = context.GetDataFile()) {
        wchar_t lanPath[MAX_PATH] = {};
        MakeSiblingPath(lanPath, MAX_PATH, dataFile, L".LAN");
        if (HMODULE lan = lanPath[0] ? LoadLibraryExW(lanPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr) {
            const LANGID neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
            text.reset(LoadStringResource(lan, 128, neutral, CP_THREAD_ACP));
            caption.reset(LoadStringResource(lan, 127, neutral, CP_THREAD_ACP));
            FreeLibrary(lan);
        }
    }
    if (text && caption)
        ShowPluginMessage(nullptr, text.get(), caption.get(), MB_SYSTEMMODAL | MB_ICONWARNING);
    else
        ShowPluginMessage(nullptr, kBusyText, kBusyCaption, MB_ICONWARNING);
}

// Makes the tabs of a sheet in order; false (with the context destroyed) when a mandatory one
// cannot be made.
bool MakeTabs(PropSheetsInfo* context, PROPSHEETUI_INFO* info, const SheetTab* tabs, const bool* mandatory, int count)
{
    for (int i = 0; i < count; ++i) {
        CBaseDriverTab* tab = GetTabMaker(tabs[i])(context, info, GetTabDialogId(tabs[i]));
        if (!tab && mandatory[i]) return false;
    }
    return true;
}

// Each tab adds its page; with a page, the first tab's texts and the settings are loaded
// (two-way categories of mask).
void AddPagesAndLoad(PropSheetsInfo* context, PROPSHEETUI_INFO* info, int mask)
{
    int added = 0;
    std::vector<CBaseDriverTab*> tabs = context->GetTabs();  // a copy: the list is the context's
    for (CBaseDriverTab* tab : tabs)
        if (tab->AddPage(info)) ++added;
    if (added == 0 || tabs.empty()) return;
    // The generation the state was made from: a PPD changed since gives other slot ids.
    StateSettingsHold settings(context->GetDrvState(), context->GetDataFile());
    if (!settings.Get()) return;
    context->LoadTexts(tabs.front());
    context->LoadSettings(settings.Get(), tabs.front(), mask);
}

void DecideAttention(PropSheetsInfo* context)
{
    std::wstring keyPath = DriverUserKeyPath(context->GetDataFile());
    if (keyPath.empty()) return;
    DWORD show = 0;
    DWORD confirmed = static_cast<DWORD>(-1);
    {
        GPRegUtil key(HKEY_CURRENT_USER, keyPath.c_str());
        if (!key.IsOpen()) key.Create();
        CDrvStateUI* state = context->GetDrvState();
        const BiDiClientCalls& bidi = GetBiDiClientCalls();
        CBiDiClient* client = context->GetBiDiClient();
        DWORD value = TwoWayOn(state) && client && bidi.isConnected(client) ? 1 : 0;
        CPrinterPortResolver resolver(context->GetPrinter());
        if (resolver.IsValid() && resolver.HasServerName() && resolver.LacksAdminAccess()) value = 0;
        if (SpecialOptionTrue(state, kPropRemoveInstPopup)) value = 0;
        key.SetDWord(L"QVShowAttention", value);
        show = key.GetDWord(L"QVShowAttention", static_cast<DWORD>(-1));
        confirmed = key.GetDWord(L"QVConfirmInstallablesDialog", static_cast<DWORD>(-1));
    }  // the key (and the registry mutex) is let go before the modal dialog
    if (show == 1 && confirmed == static_cast<DWORD>(-1)) {
        ConfirmInstallablesFn confirm = GetConfirmInstallables();
        const auto& tabs = context->GetTabs();
        if (confirm && !tabs.empty()) confirm(tabs.front(), GetActiveWindow(), context->GetModule());
    }
}

}  // namespace

CBaseDriverTab* MakePlainDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId)
{
    return new (std::nothrow) CBaseDriverTab(owner, info, dialogId);
}

int GetTabDialogId(SheetTab tab) noexcept { return tab >= 0 && tab < kTabCount ? kTabDialogs[tab] : 0; }

TabMaker GetTabMaker(SheetTab tab) noexcept
{
    return tab >= 0 && tab < kTabCount && g_makers[tab] ? g_makers[tab] : MakePlainDriverTab;
}

TabMaker SetTabMaker(SheetTab tab, TabMaker maker) noexcept
{
    if (tab < 0 || tab >= kTabCount) return nullptr;
    TabMaker previous = g_makers[tab];
    g_makers[tab] = maker ? maker : kDefaultTabMakers[tab];
    return previous;
}

PluginMessageBoxFn SetPluginMessageBox(PluginMessageBoxFn fn) noexcept
{
    PluginMessageBoxFn previous = g_messageBox;
    g_messageBox = fn;
    return previous;
}

HRESULT DocumentPropertySheetsHandler(PPROPSHEETUI_INFO info, LPARAM lParam, IPrintCoreUI2* core) noexcept
{
    HRESULT hr = S_OK;
    if (HandleCommonReason(info, lParam, &hr)) return hr;
    try {
        auto* param = reinterpret_cast<POEMUIPSPARAM>(info->lParamInit);
        HANDLE printer = param ? param->hPrinter : nullptr;
        bool preferences = param && (param->dwFlags & DM_USER_DEFAULT);
        if (GetTQClientCalls().useCount() != 0) {
            ShowBusyMessage(printer);
            return S_OK;
        }
        // Owned here until the sheet keeps it: an exception on the way deletes it with its tabs.
        std::unique_ptr<PropSheetsInfo> owned(new (std::nothrow) PropSheetsInfo(printer, core, info));
        PropSheetsInfo* context = owned.get();
        if (!context) return S_OK;
        bool withDocument = preferences && !SpecialOptionTrue(context->GetDrvState(), kPropShowDocSizeUI);
        const SheetTab tabs[] = {kTabJobSettings, kTabPostScript, kTabDocument, kTabAbout};
        const bool mandatory[] = {true, true, false, true};
        const SheetTab tabsNoDoc[] = {kTabJobSettings, kTabPostScript, kTabAbout};
        const bool mandatoryNoDoc[] = {true, true, true};
        bool made = withDocument ? MakeTabs(context, info, tabs, mandatory, 4)
                                 : MakeTabs(context, info, tabsNoDoc, mandatoryNoDoc, 3);
        if (!made) return S_OK;
        AddPagesAndLoad(context, info, kMaskDocument);
        info->UserData = reinterpret_cast<ULONG_PTR>(owned.release());
        DecideAttention(context);
        info->Result = 1;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT DevicePropertySheetsHandler(PPROPSHEETUI_INFO info, LPARAM lParam, IPrintCoreUI2* core) noexcept
{
    HRESULT hr = S_OK;
    if (HandleCommonReason(info, lParam, &hr)) return hr;
    try {
        auto* param = reinterpret_cast<POEMUIPSPARAM>(info->lParamInit);
        std::unique_ptr<PropSheetsInfo> owned(new (std::nothrow) PropSheetsInfo(param ? param->hPrinter : nullptr, core, info));
        PropSheetsInfo* context = owned.get();
        if (!context) return S_OK;
        const SheetTab tabs[] = {kTabInstallable, kTabAbout};
        const bool mandatory[] = {true, true};
        if (!MakeTabs(context, info, tabs, mandatory, 2)) return S_OK;
        AddPagesAndLoad(context, info, kMaskDevice);
        info->UserData = reinterpret_cast<ULONG_PTR>(owned.release());
        info->Result = 1;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

// --- PropSheetsInfo ---------------------------------------------------------------------------

PropSheetsInfo::PropSheetsInfo(HANDLE printer, IPrintCoreUI2* core, PROPSHEETUI_INFO* info) noexcept
    : GeneralInfo<IPrintCoreUI2>(printer, core)
{
    Init(printer, core, info);
}

void PropSheetsInfo::Init(HANDLE, IPrintCoreUI2* core, PROPSHEETUI_INFO* info) noexcept
{
    if (info) {
        m_comPropSheet = info->hComPropSheet;
        m_pfnComPropSheet = info->pfnComPropSheet;
        m_param = reinterpret_cast<POEMUIPSPARAM>(info->lParamInit);
        m_uiObject = m_param ? m_param->poemuiobj : nullptr;
    }
    if (!GetDataFile()) return;
    CfgSettingsHold settings(GetDataFile());
    if (!settings.Get()) return;
    m_codePage = settings.Get()->GetCodePage();
    m_languageId = settings.Get()->GetLanguageId();
    if (m_param && m_uiObject && core) {
        try {
            m_state = new CDrvStateUI(settings.Get(), core, m_param, m_uiObject);
        } catch (...) {
            m_state = nullptr;
        }
        if (m_state && !m_state->IsValid()) {
            delete m_state;
            m_state = nullptr;
        }
    }
}

PropSheetsInfo::~PropSheetsInfo()
{
    if (m_bidi) GetBiDiClientCalls().destroy(m_bidi);
    m_bidi = nullptr;
    m_deleting = true;
    for (CBaseDriverTab* tab : m_tabs) delete tab;
    m_tabs.clear();
    // Only an acquisition of this sheet is given back: another sheet's count stays.
    if (m_tqAcquired) GetTQClientCalls().release(m_tq);
    m_tq = nullptr;
    delete m_state;
    m_state = nullptr;
    delete[] m_text117;
    delete[] m_text118;
}

TQInterface* PropSheetsInfo::GetTQInterface(HMODULE module, void* session, int flag) noexcept
{
    if (module && !m_tqAcquired) {
        m_tq = GetTQClientCalls().acquire(module, session, flag);
        // Only a client this sheet got is given back: a null answer raised no count.
        m_tqAcquired = m_tq != nullptr;
    }
    return m_tq;
}

void PropSheetsInfo::AddTab(CBaseDriverTab* tab)
{
    if (tab) m_tabs.push_back(tab);
}

void PropSheetsInfo::RemoveTab(CBaseDriverTab* tab) noexcept
{
    if (m_deleting) return;
    for (auto it = m_tabs.begin(); it != m_tabs.end(); ++it)
        if (*it == tab) {
            m_tabs.erase(it);
            return;
        }
}

RECT PropSheetsInfo::RecordPageRect(const RECT& rect) noexcept
{
    if (IsRectEmpty(&m_pageRect)) m_pageRect = rect;
    return m_pageRect;
}

void PropSheetsInfo::LoadTexts(CBaseDriverTab* tab) noexcept
{
    if (!tab) return;
    delete[] m_text117;
    delete[] m_text118;
    m_text117 = tab->LoadString117();
    m_text118 = tab->LoadCodePageString();
}

BOOL PropSheetsInfo::LoadSettings(CfgSettings* settings, CBaseDriverTab* firstTab, int mask) noexcept
{
    if (!m_state || !firstTab || !settings) return FALSE;
    BOOL loaded = m_state->Load(settings, m_param, m_uiObject);
    if (!loaded) return FALSE;
    ResolveTwoWayServer(settings);
    if (!TwoWayOn(m_state)) return loaded;
    WText address(AddressText(m_state));
    if (!ConnectBiDiClient(settings, LastToken(address.get()), mask)) return FALSE;
    return ApplyServerResults(settings, mask);
}

BOOL PropSheetsInfo::ResolveTwoWayServer(CfgSettings*) noexcept
{
    if (!m_state) return FALSE;
    bool updatedProps = OptionIs(m_state, L"*UpdatedProps", L"True");
    if (!m_param || !m_param->hPrinter) return FALSE;
    CPrinterPortResolver resolver(m_param->hPrinter);
    bool defaultOff = SpecialOptionTrue(m_state, kPropDefaultBiDiOff);
    wchar_t host[256] = {}, queue[256] = {};
    bool applyDefaults = false;
    // Whether the printer is shared from a print server, as the installable-options page sees it.
    if (resolver.IsValid() && GetInsOptPrinterFacts().hasServerName(m_param->hPrinter)) {
        // Terminated whatever its byte length: an odd length is not read past.
        WText stored(PrnGetText(m_param->hPrinter, L"QVTwoWayServer"));
        if (!stored) {
            if (resolver.ResolveServerAddress(host, 256, queue, 256)) {
                if (const wchar_t* token = LastToken(host)) {
                    PrnSetText(m_param->hPrinter, L"QVTwoWayServer", token);
                    SetAddress(m_state, token);
                    applyDefaults = true;
                }
            }
        } else {
            const wchar_t* address = stored.get();
            if (IsPlaceholderAddress(address))
                address = resolver.ResolveServerAddress(host, 256, queue, 256) ? host : nullptr;
            if (const wchar_t* token = LastToken(address)) SetAddress(m_state, token);
            applyDefaults = true;
        }
    } else if (resolver.IsValid() && resolver.ResolveServerAddress(host, 256, queue, 256) && LastToken(host)) {
        if (!updatedProps) SetAddress(m_state, LastToken(host));
        applyDefaults = true;
    }
    if (!applyDefaults || updatedProps) return FALSE;
    m_state->SetOptionByText(m_state->GetCurrentSettings(), L"*TwoWayComm", defaultOff ? L"False" : L"True");
    m_state->SetOptionByText(m_state->GetCurrentSettings(), L"*UpdateTolva", L"True");
    return TRUE;
}

BOOL PropSheetsInfo::ConnectBiDiClient(CfgSettings* settings, const wchar_t* address, int mask, bool userAsked) noexcept
{
    const BiDiClientCalls& bidi = GetBiDiClientCalls();
    if (!address || !*address) {
        if (m_bidi) bidi.destroy(m_bidi);
        m_bidi = nullptr;
        return TRUE;
    }
    if (m_bidi && bidi.isConnectedTo(m_bidi, address)) return TRUE;
    if (!settings || !GetDataFile()) return FALSE;
    wchar_t server[MAX_PATH] = {};
    MakeSiblingPath(server, MAX_PATH, GetDataFile(), L".SRV");
    CBiDiClient* client = bidi.make(server, GetDataFile(), address, nullptr,
                                    userAsked ? kBiDiClientBounds.askedMs : kBiDiClientBounds.openingMs);
    if (!client) return FALSE;
    if (mask) bidi.request(client, mask);
    if (m_bidi) bidi.destroy(m_bidi);
    m_bidi = client;
    return TRUE;
}

BOOL PropSheetsInfo::IsBiDiConnectedTo(const wchar_t* address) noexcept
{
    return address && m_bidi && GetBiDiClientCalls().isConnectedTo(m_bidi, address);
}

BOOL PropSheetsInfo::FetchServerResults(CfgSettings* settings, int mask, KVCache* values) noexcept
{
    if (!settings || !m_bidi || !settings->GetKeyForest()) return FALSE;
    return GetBiDiClientCalls().applyResults(m_bidi, settings, settings->GetKeyForest(), values, mask);
}

BOOL PropSheetsInfo::ApplyServerResults(CfgSettings* settings, int mask) noexcept
{
    if (!m_state) return FALSE;
    try {
        KVCache fresh;
        if (!FetchServerResults(settings, mask, &fresh)) return FALSE;
        return m_state->UpdateValues(&fresh);
    } catch (...) {
        return FALSE;
    }
}

BOOL PropSheetsInfo::ApplyTwoWayServer(CfgSettings* settings, CBaseDriverTab* tab) noexcept
{
    if (!settings || !tab || !m_state) return FALSE;
    bool twoWay = TwoWayOn(m_state);
    m_state->SetOptionByText(m_state->GetCurrentSettings(), L"*QVUseDefaultSettings", twoWay ? L"False" : L"True");
    WText address(AddressText(m_state));
    const wchar_t* token = LastToken(address.get());
    if (token && m_param && m_param->hPrinter) PrnSetText(m_param->hPrinter, L"QVTwoWayServer", token);
    if (OptionIs(m_state, L"*TwoWayComm", L"True") && ConnectBiDiClient(settings, token, kMaskDocument) && m_bidi)
        ApplyServerResults(settings, kMaskDocument);
    return m_state->Save(settings, m_param, m_uiObject);
}

bool IsPlaceholderAddress(const wchar_t* address) noexcept
{
    return address && (!_wcsicmp(address, L"(null)") || !_wcsicmp(address, L"localhost"));
}

HoldGivenBack::HoldGivenBack(StateSettingsHold& hold, const CDrvState* state) noexcept
    : m_path(hold.GetPath()), m_held(hold.Held())
{
    // Only a state that keeps its own generation alive may go on using it without the lock.
    m_given = state && state->GetGeneration() && m_path && *m_held;
    if (!m_given) return;
    ReleaseCfgSettings(m_path, *m_held);
    *m_held = nullptr;
}

HoldGivenBack::~HoldGivenBack()
{
    if (m_given) *m_held = AcquireCfgSettings(m_path);
}
