// The installable-options page.
#include "sheets/InsOptDriverTab.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "foundation/StrUtil.h"
#include "settings/KeyUtility.h"
#include "settings/OptionUtil.h"
#include "sheets/DataExchange.h"
#include "sheets/DialogTemplates.h"
#include "sheets/InsOptFacts.h"
#include "sheets/MemoryDC.h"
#include "sheets/SubclassLayer.h"
#include "sheets/TabProperties.h"
#include "sheets/TabOfPage.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DriverUserKey.h"
#include "storage/DrvState.h"
#include "storage/OEMBitmapList.h"
#include "storage/OEMManager.h"
#include "storage/PortResolver.h"
#include "storage/PrinterData.h"
#include "storage/Validation.h"
#include "uiplugin/PropSheets.h"

namespace {

constexpr int kDialogId = 1127, kTwoWayTemplate = 1172, kEmailTemplate = 1253;
constexpr WORD kTwoWayAnchor = 1136, kEmailAnchor = 1154;
constexpr int kHelpId = 5009;
constexpr int kMaskAll = 15;
enum : int {
    kTwoWayCheck = 1307, kUpdateCheck = 1334, kEmailCheck = 1352, kServerEdit = 1325, kEmailEdit = 1370,
    kRestoreButton = 1055, kAddButton = 1199, kRemoveButton = 1226, kUpdateButton = 1343, kAvailableList = 1190,
    kInstalledList = 1217, kPicture = 1145, kAvailablePicture = 1235, kInstalledPicture = 1244, kServerLabel = 1316,
    kEmailLabel = 1361, kListLabel = 1163, kInstalledLabel = 1208, kPictureFrame = 1181,
};



CInsOptDriverTab* TabOf(HWND page)
{
    return dynamic_cast<CInsOptDriverTab*>(DriverTabOfPage(page));
}

std::wstring LastToken(const std::wstring& text)
{
    size_t bar = text.rfind(L'|');
    return bar == std::wstring::npos ? text : text.substr(bar + 1);
}

std::wstring PortAddress(HANDLE printer)
{
    if (!printer) return std::wstring();
    CPrinterPortResolver resolver(printer);
    wchar_t host[256] = {}, queue[256] = {};
    if (!resolver.IsValid() || !resolver.ResolveServerAddress(host, 256, queue, 256)) return std::wstring();
    return host;
}

bool ListsTrue(CDrvState* state, int optionProperty)
{
    CVYROptionUtility options(state);
    return options.IsValid() && options.IsValueListedByProp(tabprop::kSpecialOption, optionProperty, tabprop::kTrue);
}

const wchar_t* PrinterNameOf(CBaseDriverTab* tab)
{
    PropSheetsInfo* owner = tab ? tab->GetOwner() : nullptr;
    POEMUIPSPARAM param = owner ? owner->GetOemUIPSParam() : nullptr;
    return param ? param->pPrinterName : nullptr;
}

int OnButton(HWND page, WPARAM wParam, LPARAM)
{
    CInsOptDriverTab* tab = TabOf(page);
    if (!tab) return 0;
    switch (LOWORD(wParam)) {
    case kRestoreButton: tab->RestoreInstallableDefaults(page); break;
    case kUpdateButton: tab->UpdateFromServer(page); break;
    case kAddButton: tab->AddSelectedOption(page); break;
    case kRemoveButton: tab->RemoveSelectedOption(page); break;
    case kAvailableList:
    case kInstalledList:
        if (HIWORD(wParam) == LBN_DBLCLK) {
            if (LOWORD(wParam) == kAvailableList)
                tab->AddSelectedOption(page);
            else
                tab->RemoveSelectedOption(page);
        } else {
            // A selection in one list clears the other's.
            SendDlgItemMessageW(page, LOWORD(wParam) == kAvailableList ? kInstalledList : kAvailableList, LB_SETCURSEL,
                                static_cast<WPARAM>(-1), 0);
            tab->UpdateControlStates(page);
        }
        break;
    default: return 0;
    }
    return 1;
}

}  // namespace

std::wstring InsOptServerAddress(HANDLE printer, bool remote, bool updated, const wchar_t* noteText)
{
    std::wstring address;
    if (remote) {
        WText stored(PrnGetText(printer, L"QVTwoWayServer"));
        address = stored ? stored.get() : L"";
        if (address.empty() || IsPlaceholderAddress(address.c_str())) address = PortAddress(printer);
    } else {
        address = noteText ? noteText : L"";
        // A port that names no controller keeps the note's address.
        if (!updated && printer)
            if (std::wstring port = PortAddress(printer); !port.empty()) address = port;
    }
    return LastToken(address);
}

// --- Record -----------------------------------------------------------------------------------

InsOptTabDataWrapper::InsOptTabDataWrapper(const InsOptTabDataWrapper& other)
    : twoWay(other.twoWay), update(other.update), email(other.email), emailReady(other.emailReady),
      updated(other.updated)
{
    server.CopyFrom(other.server);
    emailAddress.CopyFrom(other.emailAddress);
}

InsOptTabDataWrapper& InsOptTabDataWrapper::operator=(const InsOptTabDataWrapper& other)
{
    if (this != &other) {
        twoWay = other.twoWay;
        update = other.update;
        email = other.email;
        emailReady = other.emailReady;
        updated = other.updated;
        server.CopyFrom(other.server);
        emailAddress.CopyFrom(other.emailAddress);
    }
    return *this;
}

bool InsOptTabDataWrapper::operator==(const InsOptTabDataWrapper& other) const
{
    return twoWay == other.twoWay && update == other.update && email == other.email &&
           emailReady == other.emailReady && updated == other.updated && server.IsEqual(other.server) &&
           emailAddress.IsEqual(other.emailAddress);
}

// --- Settings ---------------------------------------------------------------------------------

BOOL CInsOptTabSettings::Load(CBaseDriverTab* tab)
{
    InsOptTabDataWrapper& data = m_data;
    CDrvState* state = tab ? tab->GetDrvState() : nullptr;
    CKeySettingsUtility keys(state);
    if (!keys.IsValid()) {
        data = InsOptTabDataWrapper();
        data.server.Set(L"");
        data.emailAddress.Set(L"");
        return 1;
    }
    data.twoWay = keys.IsOptionSetByProp(tabprop::kTwoWay, tabprop::kTrue) ? 1 : 0;
    data.update = keys.IsOptionSetByProp(tabprop::kUpdate, tabprop::kTrue) ? 1 : 0;
    data.email = keys.IsOptionSetByProp(tabprop::kEmail, tabprop::kTrue) ? 1 : 0;
    data.emailReady = keys.IsOptionSetByProp(tabprop::kEmailReady, tabprop::kYes) ? 1 : 0;
    data.updated = keys.IsOptionSetByProp(tabprop::kUpdated, tabprop::kTrue) ? 1 : 0;
    HANDLE printer = tab->GetOwner() ? tab->GetOwner()->GetPrinter() : nullptr;
    auto* page = dynamic_cast<CInsOptDriverTab*>(tab);
    bool remote = page ? page->IsRemote() : GetInsOptPrinterFacts().hasServerName(printer) != FALSE;
    std::wstring address = InsOptServerAddress(printer, remote, data.updated != 0, keys.GetNoteTextByProp(tabprop::kIPAddress));
    data.server.Set(address.c_str());
    const wchar_t* email = keys.GetNoteTextByProp(tabprop::kEmailAddress);
    data.emailAddress.Set(email ? email : L"");
    return 1;
}

BOOL CInsOptTabSettings::Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest*)
{
    CDrvState* state = tab ? tab->GetDrvState() : nullptr;
    CKeySettingsUtility keys(state);
    const InsOptTabDataWrapper& data = m_data;
    if (keys.IsValid() && changes) {
        keys.SetOptionByProps(changes, tabprop::kTwoWay, data.twoWay ? tabprop::kTrue : tabprop::kFalse);
        keys.SetOptionByProps(changes, tabprop::kUpdate, data.update ? tabprop::kTrue : tabprop::kFalse);
        keys.SetOptionByProps(changes, tabprop::kEmail, data.email ? tabprop::kTrue : tabprop::kFalse);
        keys.SetOptionByProps(changes, tabprop::kUpdated, tabprop::kTrue);
        keys.SetNoteTextByProp(changes, tabprop::kIPAddress, data.server.Get() ? data.server.Get() : L"");
        keys.SetNoteTextByProp(changes, tabprop::kEmailAddress, data.emailAddress.Get() ? data.emailAddress.Get() : L"");
    }
    // The user has seen the installable options: the document sheet need not ask again.
    if (tab && tab->GetOwner()) MarkInstallablesConfirmed(tab->GetOwner()->GetDataFile());
    return 1;
}

void CInsOptTabSettings::BindControls(SubclassLayer* dialogLayer)
{
    InsOptTabDataWrapper& data = m_data;
    const DataExchangeEntry rows[] = {
        {kTwoWayCheck, &data.twoWay, ExchangeCheckBox},
        {kUpdateCheck, &data.update, ExchangeCheckBox},
        {kEmailCheck, &data.email, ExchangeCheckBox},
        {kServerEdit, data.server.Holder(), ExchangeEditText},
        {kEmailEdit, data.emailAddress.Holder(), ExchangeEditText},
    };
    SetExchangeTable(dialogLayer, rows, 5);
    const ExchangeButton buttons[] = {
        {kRestoreButton, OnButton},
        {kAddButton, OnButton},
        {kRemoveButton, OnButton},
        {kUpdateButton, OnButton},
        {MAKEWPARAM(kAvailableList, LBN_SELCHANGE), OnButton},
        {MAKEWPARAM(kInstalledList, LBN_SELCHANGE), OnButton},
        {MAKEWPARAM(kAvailableList, LBN_DBLCLK), OnButton},
        {MAKEWPARAM(kInstalledList, LBN_DBLCLK), OnButton},
    };
    AddExchangeButtons(dialogLayer, buttons, 8);
}

void CInsOptTabSettings::UpdateControlStates(CBaseDriverTab* tab, SubclassLayer* dialogLayer)
{
    auto* page = dynamic_cast<CInsOptDriverTab*>(tab);
    if (!page || !dialogLayer) return;
    const InsOptTabDataWrapper& data = m_data;
    const CInsOptDriverTab::PrinterFacts& facts = page->Facts();
    bool remote = facts.remote, tolva = facts.tolva, admin = facts.admin, denied = facts.denied;
    bool basic = page->IsBasic();
    bool locked = remote && denied;
    bool twoWay = data.twoWay != 0, email = data.email != 0, ready = data.emailReady != 0;
    bool serverText = data.server.Get() && *data.server.Get();
    const struct {
        int control;
        bool enable;
        bool show;
        bool applies;
    } rows[] = {
        {kRestoreButton, !twoWay && !locked && !tolva, !basic, true},
        {kAvailableList, true, !basic, true},
        {kInstalledList, true, !basic, true},
        {kTwoWayCheck, !locked && !tolva, true, true},
        {kUpdateCheck, !locked && twoWay && serverText && !tolva, true, true},
        {kServerEdit, !locked && twoWay && !tolva, true, true},
        {kServerLabel, !locked && twoWay && !tolva, true, true},
        {kUpdateButton, !locked && twoWay && serverText && !tolva, true, true},
        {kEmailCheck, twoWay, ready, true},
        {kEmailLabel, twoWay && email, ready, true},
        {kEmailEdit, twoWay && email, ready, true},
        {kAddButton, false, !basic, twoWay},
        {kRemoveButton, false, !basic, twoWay},
    };
    for (const auto& row : rows) {
        if (!row.applies) continue;
        EnableDlgControl(dialogLayer, row.control, row.enable && (admin || !denied));
        ShowDlgControl(dialogLayer, row.control, row.show);
    }
}

// --- Tab --------------------------------------------------------------------------------------

CInsOptDriverTab::CInsOptDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info)
    : CBaseDriverTab(owner, info, kDialogId, new (std::nothrow) CInsOptTabSettings())
{
    CDrvState* state = GetDrvState();
    const wchar_t* dataFile = GetOwner() ? GetOwner()->GetDataFile() : nullptr;
    if (state && dataFile) {
        wchar_t oemPath[MAX_PATH] = {};
        MakeSiblingPath(oemPath, MAX_PATH, dataFile, L".OEM");
        if (COEMInterface* oem = AcquireOEMInterface(nullptr, oemPath)) {
            auto* list = new (std::nothrow) COEMBitmapList(oem, state->GetSoup());
            if (list && list->IsBuilt())
                m_bitmaps = list;
            else
                delete list;
            ReleaseOEMInterface(nullptr, oemPath, oem);
        }
    }
}

CInsOptDriverTab::~CInsOptDriverTab()
{
    if (m_shownPicture) DeleteObject(m_shownPicture);
    delete m_background;
    delete m_bitmaps;
}

CBaseDriverTab* CInsOptDriverTab::Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int)
{
    return new (std::nothrow) CInsOptDriverTab(owner, info);
}

void* CInsOptDriverTab::LoadTemplate(HMODULE module, int dialogId)
{
    if (!module || !GetOwner()) return nullptr;
    LANGID language = GetOwner()->GetLanguageId();
    DWORD pageSize = 0, twoWaySize = 0, emailSize = 0;
    const void* page = LoadDialogResource(module, MAKEINTRESOURCEW(dialogId), language, &pageSize);
    const void* twoWay = LoadDialogResource(module, MAKEINTRESOURCEW(kTwoWayTemplate), language, &twoWaySize);
    const void* email = LoadDialogResource(module, MAKEINTRESOURCEW(kEmailTemplate), language, &emailSize);
    if (!page || !twoWay || !email) return nullptr;
    DWORD firstSize = 0;
    void* first = MergeDialogTemplates(page, pageSize, twoWay, twoWaySize, kTwoWayAnchor, &firstSize);
    if (!first) return nullptr;
    void* merged = MergeDialogTemplates(first, firstSize, email, emailSize, kEmailAnchor, nullptr);
    std::free(first);
    return merged;
}

wchar_t* CInsOptDriverTab::GetPageTitle() { return GetOptionDisplayName(tabprop::kPropPage, tabprop::kPageInstallable); }

BOOL CInsOptDriverTab::IsPageHidden() { return IsOptionOff(tabprop::kPropPage, tabprop::kPageInstallable); }

const CInsOptDriverTab::PrinterFacts& CInsOptDriverTab::Facts() const
{
    if (!m_factsKnown) {
        const InsOptPrinterFacts& facts = GetInsOptPrinterFacts();
        HANDLE printer = GetOwner() ? GetOwner()->GetPrinter() : nullptr;
        m_facts.remote = facts.hasServerName(printer) != FALSE;
        m_facts.tolva = facts.isTolvaServer(printer) != FALSE;
        m_facts.admin = facts.isUserAdmin() != FALSE;
        m_facts.denied = facts.isPrinterAdminDenied(PrinterNameOf(const_cast<CInsOptDriverTab*>(this))) != FALSE;
        m_factsKnown = true;
    }
    return m_facts;
}

bool CInsOptDriverTab::IsRemote() const { return Facts().remote; }

bool CInsOptDriverTab::IsDenied() const { return Facts().denied; }

bool CInsOptDriverTab::IsBasic() const { return ListsTrue(GetDrvState(), tabprop::kBasicDriver); }

INT_PTR CInsOptDriverTab::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ACTIVATE && LOWORD(wParam)) SetIdleHook(hwnd);
    if (message == WM_PAINT) {
        CBaseDriverTab::DialogProc(hwnd, message, wParam, lParam);
        PaintPrinterPicture(hwnd);
        return 0;
    }
    return CBaseDriverTab::DialogProc(hwnd, message, wParam, lParam);
}

INT_PTR CInsOptDriverTab::OnNotify(HWND hwnd, WPARAM wParam, NMHDR* header)
{
    if (header && header->code == static_cast<UINT>(PSN_HELP)) SetHelpId(kHelpId);
    return CBaseDriverTab::OnNotify(hwnd, wParam, header);
}

INT_PTR CInsOptDriverTab::OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    CBaseDriverTab::OnInitDialog(hwnd, wParam, lParam);
    if (SubclassLayer* layer = DialogLayerOf(hwnd)) {
        SkinDialogControls(layer);
        RefreshLists(hwnd);
        if (InsSettings()) InsSettings()->BindControls(layer);
    }
    return 1;
}

int CInsOptDriverTab::UpdateControlStates(HWND hwnd)
{
    SubclassLayer* layer = DialogLayerOf(hwnd);
    if (!IsBasic()) {
        EnableDlgControl(layer, kAddButton, SendDlgItemMessageW(hwnd, kAvailableList, LB_GETCURSEL, 0, 0) != LB_ERR);
        EnableDlgControl(layer, kRemoveButton, SendDlgItemMessageW(hwnd, kInstalledList, LB_GETCURSEL, 0, 0) != LB_ERR);
        ShowDlgControl(layer, kListLabel, FALSE);
    } else {
        for (int control : {kAddButton, kRemoveButton, kListLabel, kRestoreButton, kInstalledLabel, kPictureFrame})
            ShowDlgControl(layer, control, FALSE);
    }
    return CBaseDriverTab::UpdateControlStates(hwnd);
}

void CInsOptDriverTab::RefreshLists(HWND page)
{
    RefreshFromServer(kMaskAll);
    SendDlgItemMessageW(page, kServerEdit, SKM_COMMITONKEYUP, 1, 0);
    CDrvState* state = GetDrvState();
    const wchar_t* dataFile = GetOwner() ? GetOwner()->GetDataFile() : nullptr;
    SendDlgItemMessageW(page, kAvailableList, LB_RESETCONTENT, 0, 0);
    SendDlgItemMessageW(page, kInstalledList, LB_RESETCONTENT, 0, 0);
    // Drawn now: the picture follows every change of the lists, not only the page's paint.
    m_pictureDirty = true;
    PaintPrinterPicture(page);
    if (!IsBasic()) {
        const PictureRow pictures[] = {{kAvailablePicture, 101}, {kInstalledPicture, 102}};
        SetPictures(GetModule(kModuleResources), page, pictures, 2);
    }
    m_pairs.clear();
    m_absent.clear();
    if (!state || !dataFile) return;
    StateSettingsHold settings(state, dataFile);
    if (!settings.Get()) return;
    CBaseSoup* soup = state->GetSoup();
    KVCache installables;
    settings.Get()->LoadSectionSettings(1, &installables, nullptr, nullptr);
    installables.SetAll(state->GetCurrentSettings(), true);
    COptionUtil options(soup, settings.Get()->GetKeyForest());
    SoupSlotID falseSlot = SoupPropertySlot(soup, tabprop::kFalse), noneSlot = SoupPropertySlot(soup, tabprop::kNone);
    SoupSlotID clearCoat = soup->Find(L"*QVClearCoatOpt");
    m_pairs.reserve(64);
    for (auto it = installables.Begin(); it != installables.End(); ++it) {
        CKeySetting* setting = installables.GetAt(it);
        if (!setting || setting->GetValueId().IsInvalid()) continue;
        SoupSlotID key = setting->GetKeyId();
        std::list<COptData>* list = options.IsValid() ? options.GetOptionList(key) : nullptr;
        if (!list) continue;
        for (const COptData& option : *list) {
            SoupSlotID value = option.GetValueId();
            if (value == falseSlot || value == noneSlot) {
                m_absent[key] = value;
                continue;
            }
            const wchar_t* text = key == clearCoat ? options.GetKeyDisplayName(key) : soup->GetString(option.GetDisplayNameId());
            int listId = value == setting->GetValueId() ? kInstalledList : kAvailableList;
            LRESULT index = SendDlgItemMessageW(page, listId, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text ? text : L""));
            if (index < 0) continue;
            m_pairs.emplace_back(key, value);
            SendDlgItemMessageW(page, listId, LB_SETITEMDATA, index, static_cast<LPARAM>(m_pairs.size() - 1));
        }
    }
    // Each list scrolls sideways to its widest item.
    for (int listId : {kAvailableList, kInstalledList}) {
        HWND list = GetDlgItem(page, listId);
        if (!list) continue;
        HDC dc = GetDC(list);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
        SIZE m = {};
        int extra = GetTextExtentPoint32W(dc, L"M", 1, &m) ? std::max<int>(m.cx, 4) : 10;
        int widest = 0;
        int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t text[256] = {};
            if (SendMessageW(list, LB_GETTEXTLEN, i, 0) >= 256) continue;
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            SIZE size = {};
            if (GetTextExtentPoint32W(dc, text, static_cast<int>(std::wcslen(text)), &size)) widest = std::max<int>(widest, size.cx);
        }
        SelectObject(dc, old);
        ReleaseDC(list, dc);
        SendMessageW(list, LB_SETHORIZONTALEXTENT, widest + extra, 0);
    }
}

BOOL CInsOptDriverTab::RefreshFromServer(int mask)
{
    PropSheetsInfo* owner = GetOwner();
    HANDLE printer = owner ? owner->GetPrinter() : nullptr;
    if (!printer || !IsRemote()) return 0;
    CDrvState* state = GetDrvState();
    CKeySettingsUtility keys(state);
    if (!keys.IsValid()) return 0;
    bool updated = keys.IsOptionSetByProp(tabprop::kUpdated, tabprop::kTrue) != 0;
    std::wstring address = InsOptServerAddress(printer, true, updated, keys.GetNoteTextByProp(tabprop::kIPAddress));
    KVCache values;
    keys.SetNoteTextByProp(&values, tabprop::kIPAddress, address.c_str());
    bool denied = IsDenied();
    if (denied && !updated) {
        // A user who may not administer a never-updated shared printer gets the controller's view.
        keys.SetOptionByProps(&values, tabprop::kTwoWay, ListsTrue(state, tabprop::kDefaultBiDiOff) ? tabprop::kFalse : tabprop::kTrue);
        keys.SetOptionByProps(&values, tabprop::kUpdate, tabprop::kTrue);
    }
    state->UpdateValues(&values);
    // A locked user gets the controller's view; otherwise only a printer whose options the
    // user let follow the controller (two-way on, updated) fetches them.
    bool twoWay = keys.IsOptionSetByProp(tabprop::kTwoWay, tabprop::kTrue) != 0;
    bool fetch = denied || (twoWay && updated);
    return fetch && FetchFromServer(address.c_str(), mask) ? 1 : 0;
}

BOOL CInsOptDriverTab::FetchFromServer(const wchar_t* address, int mask, bool userAsked)
{
    if (IsExcludedHostProcess()) return TRUE;
    PropSheetsInfo* owner = GetOwner();
    if (!owner || !owner->GetDataFile() || !address || !*address) return FALSE;
    // The state's generation: results keyed by a newer PPD's strings would be saved as wrong keys.
    StateSettingsHold settings(GetDrvState(), owner->GetDataFile());
    if (!settings.Get()) return FALSE;
    HoldGivenBack unlocked(settings, GetDrvState());  // no PPD lock across the connect and the fetch
    return owner->ConnectBiDiClient(settings.Get(), nullptr, mask) &&
           owner->ConnectBiDiClient(settings.Get(), address, mask, userAsked) &&
           owner->ApplyServerResults(settings.Get(), mask);
}

void CInsOptDriverTab::Refresh(HWND page)
{
    SubclassLayer* layer = DialogLayerOf(page);
    ResetControls(layer, page);
    RefreshLists(page);
    UpdateControlStates(page);
    SendMessageW(GetParent(page), WM_USER + 104, reinterpret_cast<WPARAM>(page), 0);
}

void CInsOptDriverTab::UpdateFromServer(HWND page)
{
    const wchar_t* server = InsSettings() ? InsSettings()->GetData().server.Get() : nullptr;
    if (!FetchFromServer(server, kMaskAll, true)) {
        WText text(LoadString(kModuleLanguage, 119)), caption(LoadString(kModuleLanguage, 120));
        if (text && caption)
            SheetMessageBox(page, text.get(), caption.get(), MB_ICONWARNING);
        else
            SheetMessageBox(page, L"Unable to connect to server", nullptr, MB_ICONWARNING);
    }
    Refresh(page);
}

void CInsOptDriverTab::ApplyChanges(HWND page, const KVCache& changes)
{
    CDrvState* state = GetDrvState();
    const wchar_t* dataFile = GetOwner() ? GetOwner()->GetDataFile() : nullptr;
    if (!state || !dataFile) return;
    ValidateChangedSettings(state, dataFile, GetModule(kModuleLanguage), &changes, page);
    Refresh(page);
}

void CInsOptDriverTab::AddSelectedOption(HWND page)
{
    LRESULT index = SendDlgItemMessageW(page, kAvailableList, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) return;  // no selection: nothing to add
    size_t pair = static_cast<size_t>(SendDlgItemMessageW(page, kAvailableList, LB_GETITEMDATA, index, 0));
    CKeySettingsUtility keys(GetDrvState());
    if (pair >= m_pairs.size() || !keys.IsValid()) return;
    if (keys.IsOptionSetByProp(tabprop::kTwoWay, tabprop::kTrue) && keys.IsOptionSetByProp(tabprop::kUpdate, tabprop::kTrue)) return;
    KVCache changes;
    keys.SetOption(&changes, m_pairs[pair].first, m_pairs[pair].second);
    ApplyChanges(page, changes);
}

void CInsOptDriverTab::RemoveSelectedOption(HWND page)
{
    LRESULT index = SendDlgItemMessageW(page, kInstalledList, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) return;
    size_t pair = static_cast<size_t>(SendDlgItemMessageW(page, kInstalledList, LB_GETITEMDATA, index, 0));
    CKeySettingsUtility keys(GetDrvState());
    if (pair >= m_pairs.size() || !keys.IsValid()) return;
    auto absent = m_absent.find(m_pairs[pair].first);
    if (absent == m_absent.end()) return;  // the key cannot be without an option
    if (keys.IsOptionSetByProp(tabprop::kTwoWay, tabprop::kTrue) && keys.IsOptionSetByProp(tabprop::kUpdate, tabprop::kTrue)) return;
    KVCache changes;
    keys.SetOption(&changes, m_pairs[pair].first, absent->second);
    ApplyChanges(page, changes);
}

void CInsOptDriverTab::RestoreInstallableDefaults(HWND page)
{
    CDrvState* state = GetDrvState();
    const wchar_t* dataFile = GetOwner() ? GetOwner()->GetDataFile() : nullptr;
    if (!state || !dataFile) return;
    KVCache defaults;
    {
        StateSettingsHold settings(state, dataFile);
        if (!settings.Get()) return;
        settings.Get()->LoadSectionSettings(1, &defaults, nullptr, nullptr);
    }
    defaults.SetAll(state->GetDefaultSettings(), true);
    ApplyChanges(page, defaults);
}

void CInsOptDriverTab::PaintPrinterPicture(HWND page)
{
    HWND control = page ? GetDlgItem(page, kPicture) : nullptr;
    CKeySettingsUtility keys(GetDrvState());
    // Drawn again only after the lists changed, so setting the picture cannot paint in a loop.
    if (!control || !m_bitmaps || !keys.IsValid() || !m_pictureDirty) return;
    m_pictureDirty = false;
    if (!m_background) {
        RECT rect = {};
        GetWindowRect(control, &rect);
        m_pictureSize = {rect.right - rect.left, rect.bottom - rect.top};
        m_background = new (std::nothrow) CMemoryDC(24, m_pictureSize);
        if (!m_background) return;
        HDC dc = GetDC(page);
        BitBlt(m_background->GetDC(), 0, 0, m_pictureSize.cx, m_pictureSize.cy, dc, 0, 0, WHITENESS);
        ReleaseDC(page, dc);
    }
    CMemoryDC picture(24, m_pictureSize);
    BitBlt(picture.GetDC(), 0, 0, m_pictureSize.cx, m_pictureSize.cy, m_background->GetDC(), 0, 0, SRCCOPY);
    m_bitmaps->Draw(picture.GetDC(), m_pictureSize, keys.GetCurrent());
    HBITMAP bitmap = picture.DetachBitmap();
    if (!bitmap) return;
    SkinImage image = {bitmap, FALSE, 0};
    SendMessageW(control, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&image));
    if (m_shownPicture) DeleteObject(m_shownPicture);
    m_shownPicture = bitmap;
    InvalidateRect(control, nullptr, FALSE);
    ShowWindow(control, SW_SHOW);
}
