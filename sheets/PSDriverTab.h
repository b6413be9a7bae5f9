// The PostScript page of the document sheet: output format, language level, TrueType download
// format and TrueType handling, the error handler, and a button that puts these five back to
// the data file's defaults.
#pragma once

#include <windows.h>

#include "sheets/BaseDriverTab.h"
#include "sheets/TabSettings.h"

struct PSTABDATA {
    int outputFormat;
    int languageLevel;
    int downloadFormat;
    int trueTypeOption;
    int errorHandler;  // 1 unless the option of *%PSErrorHandler is "False"
};

class CPSTabSettings : public CBasicSettings<SimpleData<PSTABDATA>> {
public:
    BOOL Load(CBaseDriverTab* tab) override;
    BOOL Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest* constraints) override;
    void BindControls(SubclassLayer* dialogLayer) override;
};

class CPSDriverTab : public CBaseDriverTab {
public:
    CPSDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info);
    ~CPSDriverTab() override;

    wchar_t* GetPageTitle() override;
    BOOL IsPageHidden() override;
    INT_PTR OnNotify(HWND hwnd, WPARAM wParam, NMHDR* header) override;
    INT_PTR OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam) override;

    // Button 1055: the page's five settings back to their defaults; always handled.
    static int RestoreDefaults(HWND page, WPARAM wParam, LPARAM lParam);

    static CBaseDriverTab* Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId);

private:
    // The settings object the base owns (null when it could not be made).
    CPSTabSettings* PSSettings() const { return dynamic_cast<CPSTabSettings*>(GetSettings()); }
};
