// The about page.
#include "sheets/AboutDriverTab.h"

#include <winspool.h>

#include <new>
#include <vector>

#include "foundation/StrUtil.h"
#include "settings/KeyUtility.h"
#include "sheets/AboutTexts.h"
#include "sheets/DataExchange.h"
#include "sheets/MemoryDC.h"
#include "sheets/ResXmlBitmap.h"
#include "sheets/SubclassLayer.h"
#include "sheets/TabProperties.h"
#include "sheets/TextWindows.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "uiplugin/PropSheets.h"

namespace {

constexpr int kDialogId = 1280;
constexpr int kMaskFeatures = 2;      // BiDiFeatures
constexpr DWORD kScrollInterval = 50;

enum : int { kTitleText = 1407, kLabelsText = 1408, kValuesText = 1409, kScrollText = 1050, kLinkText = 1410,
             kClosingText = 1411 };

// The core driver's configuration file of the printer (empty when unknown).
std::wstring ConfigFileOf(HANDLE printer)
{
    if (!printer) return std::wstring();
    DWORD needed = 0;
    GetPrinterDriverW(printer, nullptr, 2, nullptr, 0, &needed);
    if (!needed) return std::wstring();
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterDriverW(printer, nullptr, 2, buffer.data(), needed, &needed)) return std::wstring();
    const auto* info = reinterpret_cast<const DRIVER_INFO_2W*>(buffer.data());
    return info->pConfigFile ? info->pConfigFile : L"";
}

}  // namespace

BOOL CAboutTabSettings::Load(CBaseDriverTab*)
{
    m_data.value = ABOUTTABDATA{};
    return 1;
}

BOOL CAboutTabSettings::Store(CBaseDriverTab*, KVCache*, ConstraintForest*) { return 1; }

void CAboutTabSettings::BindControls(SubclassLayer*) {}

CAboutDriverTab::CAboutDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info)
    : CBaseDriverTab(owner, info, kDialogId, new (std::nothrow) CAboutTabSettings())
{
}

CAboutDriverTab::~CAboutDriverTab()
{
    for (CMessageWnd*& window : m_windows) {
        delete window;
        window = nullptr;
    }
}

CBaseDriverTab* CAboutDriverTab::Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int)
{
    return new (std::nothrow) CAboutDriverTab(owner, info);
}

wchar_t* CAboutDriverTab::GetPageTitle() { return GetOptionDisplayName(tabprop::kPropPage, tabprop::kPageAbout); }

BOOL CAboutDriverTab::IsPageHidden() { return IsOptionOff(tabprop::kPropPage, tabprop::kPageAbout); }

INT_PTR CAboutDriverTab::OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    CBaseDriverTab::OnInitDialog(hwnd, wParam, lParam);
    CDrvState* state = GetDrvState();
    CKeySettingsUtility keys(state);
    const wchar_t* server = keys.IsValid() ? keys.GetNoteTextByProp(tabprop::kIPAddress) : nullptr;
    m_connected = server && *server && GetOwner() && GetOwner()->IsBiDiConnectedTo(server);
    m_linkEnabled = IsAboutLinkEnabled(state, m_connected);
    if (SubclassLayer* layer = DialogLayerOf(hwnd))
        if (AboutSettings()) AboutSettings()->BindControls(layer);

    AboutStringLookup lookup = [this](UINT id) { return LoadStringFallback(id); };
    // Each window owns its texts; a window that cannot be made is left out.
    m_windows[0] = new (std::nothrow) CMessageWnd(hwnd, kTitleText, this, BuildAboutTitleText(lookup), 0);
    m_windows[1] = new (std::nothrow) CMessageWnd(hwnd, kLabelsText, this, ServerInfoLabels(), TEXTWND_BOLD_FIRST_LINE);
    m_windows[2] = new (std::nothrow) CMessageWnd(hwnd, kValuesText, this, QueryServerInfoText(), TEXTWND_BOLD_FIRST_LINE);
    m_windows[3] = new (std::nothrow) CScrollWnd(hwnd, kScrollText, this, DriverInfoText(), kScrollInterval, 0);
    m_windows[4] = new (std::nothrow) CLinkWnd(hwnd, kLinkText, this, BuildAboutLinkText(state),
                                               BuildAboutLinkAddress(state), m_linkEnabled ? TRUE : FALSE, 0);
    m_windows[5] = new (std::nothrow) CMessageWnd(hwnd, kClosingText, this, ClosingText(), 0);
    return 1;
}

CMessageWnd* CAboutDriverTab::GetTextWindow(int controlId) const
{
    const int ids[] = {kTitleText, kLabelsText, kValuesText, kScrollText, kLinkText, kClosingText};
    for (int i = 0; i < 6; ++i)
        if (ids[i] == controlId) return m_windows[i];
    return nullptr;
}

INT_PTR CAboutDriverTab::OnEraseBackground(HWND hwnd, HDC dc)
{
    if (!dc) return 1;
    HDC picture = GetAboutPicture(hwnd);
    RECT client = {};
    GetClientRect(hwnd, &client);
    if (picture) BitBlt(dc, 0, 0, client.right, client.bottom, picture, 0, 0, SRCCOPY);
    return 1;
}

HDC CAboutDriverTab::GetAboutPicture(HWND page)
{
    if (GetPicture() || !page) return GetPicture() ? GetPicture()->GetDC() : nullptr;
    RECT rect = {};
    GetWindowRect(page, &rect);
    SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
    const wchar_t* dataFile = GetOwner() ? GetOwner()->GetDataFile() : nullptr;
    HDC dc = DrawBitmap(&size, GetAboutPictureId(dataFile));
    if (GetPicture())
        if (HFONT font = reinterpret_cast<HFONT>(SendMessageW(page, WM_GETFONT, 0, 0)))
            GetPicture()->SelectFontVariant(font, nullptr, nullptr);
    return dc;
}

wchar_t* CAboutDriverTab::ServerInfoLabels() { return ::ServerInfoLabels(GetDrvState()); }

wchar_t* CAboutDriverTab::QueryServerInfoText()
{
    PropSheetsInfo* owner = GetOwner();
    CDrvState* state = GetDrvState();
    if (!owner || !state || !owner->GetDataFile()) return nullptr;
    // The state's generation: its defaults and the reply's keys use the state's slot ids.
    StateSettingsHold settings(state, owner->GetDataFile());
    if (!settings.Get()) return nullptr;
    return ::QueryServerInfoText(state, settings.Get()->GetDefaultSettings(), [&](KVCache* values) {
        HoldGivenBack unlocked(settings, state);  // no PPD lock across the fetch
        return owner->FetchServerResults(settings.Get(), kMaskFeatures, values) != FALSE;
    });
}

wchar_t* CAboutDriverTab::FormatSettingText(CBaseSoup* soup, const CKeySetting* setting)
{
    return ::FormatSettingText(GetDrvState(), soup, setting);
}

wchar_t* CAboutDriverTab::DriverInfoText()
{
    PropSheetsInfo* owner = GetOwner();
    std::wstring config = ConfigFileOf(owner ? owner->GetPrinter() : nullptr);
    wchar_t resources[MAX_PATH] = {};
    if (HMODULE module = GetModule(kModuleResources)) GetModuleFileNameW(module, resources, MAX_PATH);
    return BuildDriverInfoText([this](UINT id) { return LoadStringFallback(id); }, GetDrvState(),
                               config.empty() ? nullptr : config.c_str(), resources[0] ? resources : nullptr);
}

wchar_t* CAboutDriverTab::ClosingText()
{
    WText first(LoadStringFallback(4720)), second(LoadStringFallback(4721));
    if (!first && !second) return nullptr;
    return FormatAlloc(L"%s\n%s", first ? first.get() : L"", second ? second.get() : L"");
}
