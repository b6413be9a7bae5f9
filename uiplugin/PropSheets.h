// The property-sheet entry of the UI plug-in: the handlers of the core driver's document and
// device sheet calls, and the sheet context PropSheetsInfo that lives as long as the sheet
// and owns what its tabs share (the UI driver state, the two-way client, the job-settings
// client, texts of the language module).
#pragma once

#include <windows.h>

#include <vector>

#include "platform/DriverKit.h"
#include "uiplugin/GeneralInfo.h"
#include "uiplugin/SheetSeams.h"

class CBaseDriverTab;
class CDrvState;
class CDrvStateUI;
class CfgSettings;
class StateSettingsHold;
class PropSheetsInfo;

HRESULT DocumentPropertySheetsHandler(PPROPSHEETUI_INFO info, LPARAM lParam, IPrintCoreUI2* core) noexcept;
HRESULT DevicePropertySheetsHandler(PPROPSHEETUI_INFO info, LPARAM lParam, IPrintCoreUI2* core) noexcept;

// The tabs of the sheets, by dialog template: each slot makes the tab of that page.
// A slot makes a plain CBaseDriverTab with its template until the tab's own class exists.
using TabMaker = CBaseDriverTab* (*)(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId);
enum SheetTab : int { kTabJobSettings, kTabPostScript, kTabDocument, kTabAbout, kTabInstallable, kTabCount };
// The dialog template of each slot: 101, 1010, 1271, 1280, 1127.
int GetTabDialogId(SheetTab tab) noexcept;
TabMaker GetTabMaker(SheetTab tab) noexcept;
// Replaces a slot (null restores the default); returns the previous maker.
TabMaker SetTabMaker(SheetTab tab, TabMaker maker) noexcept;
// A plain CBaseDriverTab with the slot's template: the slot of a tab that has no class yet.
CBaseDriverTab* MakePlainDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId);
// The makers each slot starts with and the confirm-installables box the sheet starts with
// (uiplugin/SheetTabMakers.cpp, where the tabs plug in).
extern const TabMaker kDefaultTabMakers[kTabCount];
extern const ConfirmInstallablesFn kDefaultConfirmInstallables;

// The built-in texts of the message shown when another sheet holds the job-settings library.
extern const wchar_t kBusyText[];
extern const wchar_t kBusyCaption[];
// The plug-in's message boxes without an owner go through this call (tests replace it).
using PluginMessageBoxFn = int (*)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
PluginMessageBoxFn SetPluginMessageBox(PluginMessageBoxFn fn) noexcept;

// "(null)" and "localhost", in any case: a stored two-way address that names no controller.
bool IsPlaceholderAddress(const wchar_t* address) noexcept;

// Gives the PPD's lock of a hold back for its scope, so that a connect or a fetch over the
// network does not keep the process's other threads from the PPD; taken again at its end. Only
// when the state keeps its generation alive meanwhile (else the hold keeps its lock).
class HoldGivenBack {
public:
    HoldGivenBack(StateSettingsHold& hold, const CDrvState* state) noexcept;
    ~HoldGivenBack();
    HoldGivenBack(const HoldGivenBack&) = delete;
    HoldGivenBack& operator=(const HoldGivenBack&) = delete;

private:
    const wchar_t* m_path;
    CfgSettings** m_held;
    bool m_given = false;
};

class PropSheetsInfo : public GeneralInfo<IPrintCoreUI2> {
public:
    PropSheetsInfo(HANDLE printer, IPrintCoreUI2* core, PROPSHEETUI_INFO* info) noexcept;
    ~PropSheetsInfo() override;

    void Init(HANDLE printer, IPrintCoreUI2* core, PROPSHEETUI_INFO* info) noexcept;

    CDrvStateUI* GetDrvState() const noexcept { return m_state; }
    POEMUIPSPARAM GetOemUIPSParam() const noexcept { return m_param; }
    POEMUIOBJ GetOemUIObj() const noexcept { return m_uiObject; }
    CBiDiClient* GetBiDiClient() const noexcept { return m_bidi; }
    HANDLE GetComPropSheet() const noexcept { return m_comPropSheet; }
    PFNCOMPROPSHEET GetComPropSheetFn() const noexcept { return m_pfnComPropSheet; }
    LANGID GetLanguageId() const noexcept { return m_languageId; }
    UINT GetCodePage() const noexcept { return m_codePage; }
    const wchar_t* GetText117() const noexcept { return m_text117; }
    const wchar_t* GetText118() const noexcept { return m_text118; }
    const std::vector<CBaseDriverTab*>& GetTabs() const noexcept { return m_tabs; }
    bool IsPreferences() const noexcept { return m_param && (m_param->dwFlags & DM_USER_DEFAULT); }

    // The first call with a module acquires the client; every call returns the kept one.
    TQInterface* GetTQInterface(HMODULE module, void* session, int flag) noexcept;
    bool HoldsTQInterface() const noexcept { return m_tqAcquired; }

    void AddTab(CBaseDriverTab* tab);
    // Forgets a tab (its destructor calls this when a tab is deleted before the context).
    void RemoveTab(CBaseDriverTab* tab) noexcept;
    // The first page rectangle given is kept; returns the kept one.
    RECT RecordPageRect(const RECT& rect) noexcept;

    void LoadTexts(CBaseDriverTab* tab) noexcept;
    BOOL LoadSettings(CfgSettings* settings, CBaseDriverTab* firstTab, int mask) noexcept;
    BOOL ResolveTwoWayServer(CfgSettings* settings) noexcept;
    // userAsked: a fetch the user asked for, whose client waits longer for a slow controller.
    BOOL ConnectBiDiClient(CfgSettings* settings, const wchar_t* address, int mask, bool userAsked = false) noexcept;
    BOOL IsBiDiConnectedTo(const wchar_t* address) noexcept;
    BOOL ApplyServerResults(CfgSettings* settings, int mask) noexcept;
    BOOL FetchServerResults(CfgSettings* settings, int mask, KVCache* values) noexcept;
    BOOL ApplyTwoWayServer(CfgSettings* settings, CBaseDriverTab* tab) noexcept;

private:
    HANDLE m_comPropSheet = nullptr;
    PFNCOMPROPSHEET m_pfnComPropSheet = nullptr;
    POEMUIPSPARAM m_param = nullptr;
    POEMUIOBJ m_uiObject = nullptr;
    std::vector<CBaseDriverTab*> m_tabs;
    CDrvStateUI* m_state = nullptr;
    TQInterface* m_tq = nullptr;
    bool m_tqAcquired = false;
    CBiDiClient* m_bidi = nullptr;
    wchar_t* m_text117 = nullptr;
    wchar_t* m_text118 = nullptr;
    LANGID m_languageId = 0;
    UINT m_codePage = CP_THREAD_ACP;
    RECT m_pageRect = {};
    bool m_deleting = false;
};
