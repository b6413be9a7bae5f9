// The installable-options page of the printer's sheet: the printer's installed and available
// options (key section 1 of the data file), moved between two lists; a picture of the
// configured printer; and the two-way settings: talk to the controller, update the options
// from it, its address, e-mail notification, and a button that fetches the configuration.
#pragma once

#include <windows.h>

#include <map>
#include <utility>
#include <vector>

#include "settings/SoupSlotID.h"
#include "sheets/BaseDriverTab.h"
#include "sheets/StrSetting.h"
#include "sheets/TabSettings.h"

class CMemoryDC;
class COEMBitmapList;

// The page's record: five flags, compared as a block, and two texts.
struct InsOptTabDataWrapper {
    int twoWay = 0;
    int update = 0;
    int email = 0;
    int emailReady = 0;
    int updated = 0;
    StrSetting server;
    StrSetting emailAddress;

    InsOptTabDataWrapper() = default;
    InsOptTabDataWrapper(const InsOptTabDataWrapper& other);
    InsOptTabDataWrapper& operator=(const InsOptTabDataWrapper& other);
    bool operator==(const InsOptTabDataWrapper& other) const;
};

class CInsOptTabSettings : public CBasicSettings<InsOptTabDataWrapper> {
public:
    void UpdateControlStates(CBaseDriverTab* tab, SubclassLayer* dialogLayer) override;
    BOOL Load(CBaseDriverTab* tab) override;
    BOOL Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest* constraints) override;
    void BindControls(SubclassLayer* dialogLayer) override;
};

class CInsOptDriverTab : public CBaseDriverTab {
public:
    CInsOptDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info);
    ~CInsOptDriverTab() override;

    void* LoadTemplate(HMODULE module, int dialogId) override;
    wchar_t* GetPageTitle() override;
    BOOL IsPageHidden() override;
    INT_PTR DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnNotify(HWND hwnd, WPARAM wParam, NMHDR* header) override;
    INT_PTR OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam) override;
    int UpdateControlStates(HWND hwnd) override;

    void RefreshLists(HWND page);
    BOOL RefreshFromServer(int mask);
    // userAsked: the Update button, which gives a slow controller longer than a page's opening.
    BOOL FetchFromServer(const wchar_t* address, int mask, bool userAsked = false);
    void UpdateFromServer(HWND page);
    void AddSelectedOption(HWND page);
    void RemoveSelectedOption(HWND page);
    void RestoreInstallableDefaults(HWND page);
    void PaintPrinterPicture(HWND page);
    // The page's view of the printer: remote, a controller of the family, locked, basic.
    bool IsRemote() const;
    bool IsDenied() const;
    bool IsBasic() const;
    // The printer's facts, asked once per page: they hold for the sheet's life, and asking
    // the spooler and the token at every idle change would slow the page down.
    struct PrinterFacts {
        bool remote = false, tolva = false, admin = false, denied = false;
    };
    const PrinterFacts& Facts() const;

    static CBaseDriverTab* Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId);

private:
    void Refresh(HWND page);
    void ApplyChanges(HWND page, const KVCache& changes);

    // The settings object the base owns (null when it could not be made).

    CInsOptTabSettings* InsSettings() const { return dynamic_cast<CInsOptTabSettings*>(GetSettings()); }
    mutable PrinterFacts m_facts;
    mutable bool m_factsKnown = false;
    CMemoryDC* m_background = nullptr;
    HBITMAP m_shownPicture = nullptr;
    SIZE m_pictureSize = {};
    COEMBitmapList* m_bitmaps = nullptr;
    bool m_pictureDirty = true;
    std::vector<std::pair<SoupSlotID, SoupSlotID>> m_pairs;
    std::map<SoupSlotID, SoupSlotID> m_absent;
};

// The controller address of the printer for the page: the printer data "QVTwoWayServer" of a
// printer shared from a print server ("(null)", "localhost" or none: the port's address), else
// the *VYRIPAddress text, from the port while the options were never updated; the last
// "|"-separated token. Empty when none.
std::wstring InsOptServerAddress(HANDLE printer, bool remote, bool updated, const wchar_t* noteText);
