// The document page of the printing preferences: page size, orientation, mirrored and
// negative output, and a preview picture that follows the four choices.
#pragma once

#include <windows.h>

#include "sheets/BaseDriverTab.h"
#include "sheets/TabSettings.h"

// Option ids (slots) of the page's keys, the slot of "NotAvailable" and the two flags.
struct DOCTABDATA {
    int pageSize;
    int orientation;
    int mirroring;
    int negative;
    int notAvailable;
    int mirrorFlag;
    int negativeFlag;
};

class CDocTabSettings : public CBasicSettings<SimpleData<DOCTABDATA>> {
public:
    void UpdateControlStates(CBaseDriverTab* tab, SubclassLayer* dialogLayer) override;
    BOOL Load(CBaseDriverTab* tab) override;
    BOOL Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest* constraints) override;
    void BindControls(SubclassLayer* dialogLayer) override;
};

class CDocDriverTab : public CBaseDriverTab {
public:
    CDocDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info);
    ~CDocDriverTab() override;

    wchar_t* GetPageTitle() override;
    BOOL IsPageHidden() override;
    INT_PTR OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam) override;
    int UpdateControlStates(HWND hwnd) override;

    // Shows the picture of the current orientation, rotation, mirroring and negative choices.
    void UpdatePreview(HWND page);
    // The preview's picture id for those four choices.
    static WORD PreviewImageId(bool landscape, bool rotate, bool mirror, bool negative);

    static CBaseDriverTab* Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId);

private:
    // The settings object the base owns (null when it could not be made).
    CDocTabSettings* DocSettings() const { return dynamic_cast<CDocTabSettings*>(GetSettings()); }
};
