// The about page of both sheets: a background picture and six text windows with the driver's
// identity, the server-information labels and the values the controller reports for them,
// a scrolling text and a link to the controller's page.
#pragma once

#include <windows.h>

#include "sheets/BaseDriverTab.h"
#include "sheets/TabSettings.h"

class CMessageWnd;
class CKeySetting;
class CBaseSoup;

struct ABOUTTABDATA {
    DWORD unused;
};

// The page holds nothing of its own.
class CAboutTabSettings : public CBasicSettings<SimpleData<ABOUTTABDATA>> {
public:
    BOOL Load(CBaseDriverTab* tab) override;
    BOOL Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest* constraints) override;
    void BindControls(SubclassLayer* dialogLayer) override;
};

class CAboutDriverTab : public CBaseDriverTab {
public:
    CAboutDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info);
    ~CAboutDriverTab() override;

    wchar_t* GetPageTitle() override;
    BOOL IsPageHidden() override;
    INT_PTR OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnEraseBackground(HWND hwnd, HDC dc) override;

    // The DC of the page's background picture: "Res.xml"'s IDB_ABOUT_FD, else 3640.
    HDC GetAboutPicture(HWND page);
    // The texts of the windows (new[] or null).
    wchar_t* ServerInfoLabels();
    wchar_t* QueryServerInfoText();
    wchar_t* FormatSettingText(CBaseSoup* soup, const CKeySetting* setting);
    wchar_t* DriverInfoText();
    wchar_t* ClosingText();

    // Whether the two-way client was connected to the page's address at its start, and
    // whether the link was enabled (for tests).
    bool IsConnected() const { return m_connected; }
    bool IsLinkEnabled() const { return m_linkEnabled; }
    // The page's text window on that control (null when none was made).
    CMessageWnd* GetTextWindow(int controlId) const;

    static CBaseDriverTab* Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId);

private:
    // The settings object the base owns (null when it could not be made).
    CAboutTabSettings* AboutSettings() const { return dynamic_cast<CAboutTabSettings*>(GetSettings()); }
    CMessageWnd* m_windows[6] = {};
    bool m_connected = false;
    bool m_linkEnabled = false;
};
