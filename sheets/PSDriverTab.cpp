// The PostScript page.
#include "sheets/PSDriverTab.h"

#include <new>

#include "settings/KeyUtility.h"
#include "sheets/DataExchange.h"
#include "sheets/SubclassLayer.h"
#include "sheets/TabProperties.h"
#include "sheets/TabOfPage.h"
#include "storage/DrvState.h"
#include "uiplugin/PropSheets.h"

namespace {

constexpr int kDialogId = 1010;
constexpr int kErrorHandlerCheck = 1046, kOutputFormatCombo = 1037, kLevelCombo = 1064, kDownloadCombo = 1091,
              kTrueTypeCombo = 1109, kRestoreButton = 1055;
constexpr int kHelpId = 387;



}  // namespace

BOOL CPSTabSettings::Load(CBaseDriverTab* tab)
{
    PSTABDATA data = {};
    CDrvState* state = tab ? tab->GetDrvState() : nullptr;
    CKeySettingsUtility keys(state);
    if (keys.IsValid()) {
        data.outputFormat = keys.GetOptionByProp(tabprop::kOutputFormat).GetIndex();
        data.languageLevel = keys.GetOptionByProp(tabprop::kLevel).GetIndex();
        data.downloadFormat = keys.GetOptionByProp(tabprop::kDownload).GetIndex();
        data.trueTypeOption = keys.GetOptionByProp(tabprop::kTrueType).GetIndex();
        // A PPD without the key loads the handler as on: no option differs from "False".
        data.errorHandler =
            keys.GetOptionByProp(tabprop::kErrorHandler) != SoupPropertySlot(state->GetSoup(), tabprop::kFalse) ? 1 : 0;
    }
    m_data.value = data;
    return 1;
}

BOOL CPSTabSettings::Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest*)
{
    CDrvState* state = tab ? tab->GetDrvState() : nullptr;
    CKeySettingsUtility keys(state);
    if (!keys.IsValid() || !changes) return 1;
    const PSTABDATA& data = m_data.value;
    keys.SetOptionByProp(changes, tabprop::kOutputFormat, SoupSlotID(data.outputFormat));
    keys.SetOptionByProp(changes, tabprop::kLevel, SoupSlotID(data.languageLevel));
    keys.SetOptionByProp(changes, tabprop::kDownload, SoupSlotID(data.downloadFormat));
    keys.SetOptionByProp(changes, tabprop::kTrueType, SoupSlotID(data.trueTypeOption));
    keys.SetOptionByProps(changes, tabprop::kErrorHandler, data.errorHandler ? tabprop::kTrue : tabprop::kFalse);
    return 1;
}

void CPSTabSettings::BindControls(SubclassLayer* dialogLayer)
{
    PSTABDATA& data = m_data.value;
    const DataExchangeEntry rows[] = {
        {kErrorHandlerCheck, &data.errorHandler, ExchangeCheckBox},
        {kOutputFormatCombo, &data.outputFormat, ExchangeComboBox},
        {kLevelCombo, &data.languageLevel, ExchangeComboBox},
        {kDownloadCombo, &data.downloadFormat, ExchangeComboBox},
        {kTrueTypeCombo, &data.trueTypeOption, ExchangeComboBox},
    };
    SetExchangeTable(dialogLayer, rows, 5);
    const ExchangeButton buttons[] = {{kRestoreButton, &CPSDriverTab::RestoreDefaults}};
    AddExchangeButtons(dialogLayer, buttons, 1);
}

CPSDriverTab::CPSDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info)
    : CBaseDriverTab(owner, info, kDialogId, new (std::nothrow) CPSTabSettings())
{
}

CPSDriverTab::~CPSDriverTab() = default;

CBaseDriverTab* CPSDriverTab::Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int)
{
    return new (std::nothrow) CPSDriverTab(owner, info);
}

wchar_t* CPSDriverTab::GetPageTitle() { return GetOptionDisplayName(tabprop::kPropPage, tabprop::kPagePostScript); }

BOOL CPSDriverTab::IsPageHidden() { return IsOptionOff(tabprop::kPropPage, tabprop::kPagePostScript); }

INT_PTR CPSDriverTab::OnNotify(HWND hwnd, WPARAM wParam, NMHDR* header)
{
    if (header && header->code == static_cast<UINT>(PSN_HELP)) SetHelpId(kHelpId);
    return CBaseDriverTab::OnNotify(hwnd, wParam, header);
}

INT_PTR CPSDriverTab::OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    CBaseDriverTab::OnInitDialog(hwnd, wParam, lParam);
    SubclassLayer* layer = DialogLayerOf(hwnd);
    if (!layer) return 1;
    SkinDialogControls(layer);
    const struct {
        int control;
        int key;
    } lists[] = {{kOutputFormatCombo, tabprop::kOutputFormat},
                 {kLevelCombo, tabprop::kLevel},
                 {kDownloadCombo, tabprop::kDownload},
                 {kTrueTypeCombo, tabprop::kTrueType}};
    for (const auto& list : lists) {
        FillComboBoxFromRows(hwnd, list.control, list.key, nullptr, 0);
        FillOptionComboBox(hwnd, list.control, list.key, nullptr, 0);
    }
    if (PSSettings()) PSSettings()->BindControls(layer);
    return 1;
}

int CPSDriverTab::RestoreDefaults(HWND page, WPARAM, LPARAM)
{
    CBaseDriverTab* tab = DriverTabOfPage(page);
    CDrvState* state = tab ? tab->GetDrvState() : nullptr;
    SubclassLayer* layer = DialogLayerOf(page);
    if (!state || !layer || !tab->GetSettings()) return 1;
    try {
        // The page's own keys, and only those, take their default values.
        KVCache values;
        tab->GetSettings()->Store(tab, &values, nullptr);
        values.SetAll(state->GetDefaultSettings(), true);
        state->UpdateValues(&values);
        tab->ResetControls(layer, page);
    } catch (...) {
    }
    return 1;
}
