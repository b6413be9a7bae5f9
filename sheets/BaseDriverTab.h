// The base of every page that the plug-in adds to the printer's property sheets: it loads the
// resource modules beside the driver's data file, builds and adds the page, owns the page's
// dialog procedure, keeps the controls and the tab's settings object in step, saves changes
// when the page is left or at once from the idle path, and opens the page's help.
#pragma once

#include <windows.h>
#include <prsht.h>

#include "platform/DriverKit.h"
#include "settings/KVCache.h"
#include "settings/KeyForest.h"
#include "sheets/TabSettings.h"

class PropSheetsInfo;
class CfgSettings;
class CDrvState;
class CMemoryDC;
struct SubclassLayer;

// Indices of the sibling modules of the driver's data file.
enum TabModule : int { kModuleResources = 0, kModuleLanguage = 1, kModuleOem = 2, kModuleServer = 3 };

// A row of FillComboBoxFromRows: text (a pointer, a string id below 0x10000 of the plug-in's
// module, or 0 for the option's display name), option property id, group-end flag.
struct ComboRow {
    const wchar_t* text;
    int optionProperty;
    int flag;
};

// A row of SetPictures: control id and PNG resource id.
struct PictureRow {
    int controlId;
    WORD resourceId;
};

class CBaseDriverTab {
public:
    CBaseDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId, BaseSettings* settings = nullptr);
    virtual ~CBaseDriverTab();
    CBaseDriverTab(const CBaseDriverTab&) = delete;
    CBaseDriverTab& operator=(const CBaseDriverTab&) = delete;

    // Adds the page; the sheet's page handle, or null when none was added.
    virtual LONG_PTR AddPage(PROPSHEETUI_INFO* info);
    // New extended template (free with std::free) in the sheet's language; null when missing.
    virtual void* LoadTemplate(HMODULE module, int dialogId);
    virtual wchar_t* GetPageTitle();
    virtual BOOL IsPageHidden();
    virtual INT_PTR DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    virtual INT_PTR OnNotify(HWND hwnd, WPARAM wParam, NMHDR* header);
    virtual int SetIdleHook(HWND page);
    virtual INT_PTR OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam);
    virtual INT_PTR OnDestroy(HWND hwnd);
    virtual SubclassLayer* SubclassWindow(HWND hwnd, WNDPROC procedure);
    virtual void UnsubclassWindow(HWND hwnd, SubclassLayer* layer, WNDPROC procedure);
    virtual int UpdateControlStates(HWND hwnd);
    virtual BOOL LoadSettings();
    virtual BOOL SaveSettings(HWND hwnd);
    virtual BOOL RejectPageChange(HWND hwnd);
    virtual BOOL HasChanged(SubclassLayer* dialogLayer, HWND hwnd);
    virtual void ResetControls(SubclassLayer* dialogLayer, HWND hwnd);
    virtual INT_PTR OnEraseBackground(HWND hwnd, HDC dc);

    // The page's dialog procedure and the foreground-idle hook.
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK IdleHookProc(int code, WPARAM wParam, LPARAM lParam);
    // The page hooked in this process (null when none) and the hook, for inspection.
    static HWND GetHookedPage() noexcept;
    static HHOOK GetIdleHook() noexcept;

    HMODULE GetModule(int index) const { return index >= 0 && index < 4 ? m_modules[index] : nullptr; }
    PropSheetsInfo* GetOwner() const { return m_owner; }
    BaseSettings* GetSettings() const { return m_settings; }
    int GetDialogId() const { return m_dialogId; }
    void SetHelpId(int id) { m_helpId = id; }
    int GetHelpId() const { return m_helpId; }
    int IsPending() const { return m_pending; }
    const RECT& GetPlacement() const { return m_placement; }
    // The sheet's driver state (null without owner).
    CDrvState* GetDrvState() const;

    // New string (delete[]) of that module in the sheet's language; null when missing.
    wchar_t* LoadString(int moduleIndex, UINT id) const;
    // The ".OEM" module first, then ".LAN", then ".DLL".
    wchar_t* LoadStringFallback(UINT id) const;
    wchar_t* LoadCodePageString() const { return LoadString(kModuleLanguage, 118); }
    wchar_t* LoadString117() const { return LoadString(kModuleLanguage, 117); }
    // New text (delete[]): the option's display name; null when either id has no slot.
    wchar_t* GetOptionDisplayName(int keyProperty, int optionProperty) const;
    // FALSE when "True" is listed for that option, else TRUE.
    BOOL IsOptionOff(int keyProperty, int optionProperty) const;
    void FillOptionComboBox(HWND dialog, int controlId, int keyProperty, const int* excluded, int count) const;
    void FillComboBoxFromRows(HWND dialog, int controlId, int keyProperty, const ComboRow* rows, int count) const;
    void ClearComboBox(HWND dialog, int controlId) const;
    void MarkConstrainedItems(HWND dialog, int controlId, int keyProperty) const;
    void SetPictures(HMODULE imageModule, HWND dialog, const PictureRow* rows, int count) const;
    ConstraintForest* SelectConstraints(CfgSettings* settings, CDrvState* state) const;
    HDC DrawBitmap(const SIZE* size, WORD bitmapId);
    BOOL ApplyToPrinter(CfgSettings* settings);
    void PlaceSheet(HWND page);
    void GrowSheet(HWND page, int dx, int dy);
    void FitSheetToDesktop(HWND page);
    CMemoryDC* GetPicture() const { return m_picture; }

protected:
    void OnEnterIdle(HWND page, LPARAM lParam);
    INT_PTR OnApply(HWND hwnd);
    INT_PTR OnHelp(HWND hwnd);

    int m_dialogId;
    int m_helpId = 0;
    PropSheetsInfo* m_owner;
    HHOOK m_idleHook = nullptr;
    int m_pending = 0;
    BaseSettings* m_settings;
    void* m_template = nullptr;
    CMemoryDC* m_picture = nullptr;
    HMODULE m_modules[4] = {};
    RECT m_placement = {};
    bool m_loaded[4] = {};
    // The context this tab is registered with (kept when a missing module clears the owner).
    PropSheetsInfo* m_registry = nullptr;
    // A WM_ENTERIDLE of the idle path is posted and not yet handled.
    bool m_idlePosted = false;
};

// DebugTrace: formats into 128 characters for the debugger output.
void DebugTrace(const wchar_t* format, ...) noexcept;

// The platform calls a page makes, replaceable for tests (null restores the platform's).
using SheetMessageBoxFn = int (*)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
using HtmlHelpFn = HWND(WINAPI*)(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data);
SheetMessageBoxFn SetSheetMessageBox(SheetMessageBoxFn fn) noexcept;
int SheetMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) noexcept;
// HtmlHelpW is bound by name from the HTML Help control on first use.
HtmlHelpFn SetHtmlHelp(HtmlHelpFn fn) noexcept;
HWND CallHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data) noexcept;
