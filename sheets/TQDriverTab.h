// The job-settings page: it hosts the window of the maker's job-settings library inside the
// page, sizes the sheet for it, lets the library validate when the page is left and copies
// its values back into the driver state. While the sheet is cancelled it keeps a picture of
// the page to paint from after the library's window is gone.
#pragma once

#include <windows.h>

#include "settings/KVCache.h"
#include "sheets/BaseDriverTab.h"
#include "uiplugin/TQAbi.h"

class CMemoryDC;
class CDrvState;

class CTQDriverTab : public CBaseDriverTab {
public:
    // passive: the tab never opens, closes or reads the job UI.
    CTQDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId, int passive = 0);
    ~CTQDriverTab() override;

    wchar_t* GetPageTitle() override;
    BOOL IsPageHidden() override;
    INT_PTR OnNotify(HWND hwnd, WPARAM wParam, NMHDR* header) override;
    INT_PTR OnEraseBackground(HWND hwnd, HDC dc) override;

    // Opens (or refreshes) the job UI in page; TRUE when the page was set up.
    BOOL InitJobUI(HWND page);
    void CloseJobUI();
    // Validates and reads back the job settings; the validation's answer.
    BOOL FetchJobSettings();
    // A new session record for a two-way printer (delete), else null.
    static TQSessionInfo* BuildTQSessionInfo(CfgSettings* settings, CDrvState* state);
    // The id of a named bitmap in "<data file without extension>Res.xml": -1 for null
    // arguments or no such name, 0 when the file cannot be loaded.
    static int GetBitmapIdFromResXml(const wchar_t* dataFile, const wchar_t* bitmapName);

    int IsOpen() const { return m_open; }
    const RECT& GetRectAfter() const { return m_after; }
    CMemoryDC* GetSnapshot() const { return m_snapshot; }

private:
    void TakeSnapshot(HWND page);

    int m_passive;
    int m_open = 0;
    RECT m_before = {};
    RECT m_after = {};
    KVCache* m_cache;
    CMemoryDC* m_snapshot = nullptr;
};

// Tab maker of the job-settings slot (uiplugin/PropSheets.h).
CBaseDriverTab* MakeTQDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId);
