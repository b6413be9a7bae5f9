// The document page.
#include "sheets/DocDriverTab.h"

#include <new>

#include "foundation/StrUtil.h"
#include "settings/KeyNoteSpecials.h"
#include "settings/KeyUtility.h"
#include "settings/OptionUtil.h"
#include "sheets/DataExchange.h"
#include "sheets/PngImage.h"
#include "sheets/SubclassLayer.h"
#include "sheets/TabProperties.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "uiplugin/PropSheets.h"

namespace {

constexpr int kDialogId = 1271;
constexpr int kPageSizeCombo = 1388, kOrientationCombo = 1389, kMirrorCheck = 1412, kNegativeCheck = 1413,
              kPreview = 1051;


// Preview pictures by negative + 2 mirror + 4 rotate + 8 landscape.
constexpr WORD kPreviewIds[16] = {103, 105, 104, 106, 107, 109, 108, 110, 111, 113, 112, 114, 115, 117, 116, 118};


}  // namespace

// --- Settings ---------------------------------------------------------------------------------

BOOL CDocTabSettings::Load(CBaseDriverTab* tab)
{
    DOCTABDATA data = {};
    CDrvState* state = tab ? tab->GetDrvState() : nullptr;
    CKeySettingsUtility keys(state);
    if (keys.IsValid()) {
        CBaseSoup* soup = state->GetSoup();
        SoupSlotID trueSlot = SoupPropertySlot(soup, tabprop::kTrue);
        data.pageSize = keys.GetOptionByProp(tabprop::kPageSize).GetIndex();
        data.orientation = keys.GetOptionByProp(tabprop::kOrientation).GetIndex();
        // A PPD without the key has nothing to show: the box is hidden as for "NotAvailable".
        SoupSlotID notAvailable = SoupPropertySlot(soup, tabprop::kNotAvailable);
        SoupSlotID mirroring = keys.GetOptionByProp(tabprop::kMirroring);
        SoupSlotID negative = keys.GetOptionByProp(tabprop::kNegative);
        data.mirroring = mirroring.IsValid() ? mirroring.GetIndex() : notAvailable.GetIndex();
        data.negative = negative.IsValid() ? negative.GetIndex() : notAvailable.GetIndex();
        data.notAvailable = notAvailable.GetIndex();
        data.mirrorFlag = mirroring.IsValid() && mirroring == trueSlot ? 1 : 0;
        data.negativeFlag = negative.IsValid() && negative == trueSlot ? 1 : 0;
    }
    m_data.value = data;
    return 1;
}

BOOL CDocTabSettings::Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest*)
{
    CDrvState* state = tab ? tab->GetDrvState() : nullptr;
    CKeySettingsUtility keys(state);
    if (!keys.IsValid() || !changes) return 1;
    const DOCTABDATA& data = m_data.value;
    CBaseSoup* soup = state->GetSoup();
    keys.SetOptionByProp(changes, tabprop::kPageSize, SoupSlotID(data.pageSize));
    keys.SetOptionByProp(changes, tabprop::kOrientation, SoupSlotID(data.orientation));
    if (data.mirroring != data.notAvailable)
        keys.SetOptionByProps(changes, tabprop::kMirroring, data.mirrorFlag ? tabprop::kTrue : tabprop::kFalse);
    if (data.negative != data.notAvailable)
        keys.SetOptionByProps(changes, tabprop::kNegative, data.negativeFlag ? tabprop::kTrue : tabprop::kFalse);
    if (SoupSlotID(data.pageSize) == SoupPropertySlot(soup, tabprop::kCustomPageSize)) {
        const wchar_t* note = keys.GetNoteTextByProp(tabprop::kCustomSizeNote);
        if (!note || !*note) {
            // An empty custom size starts from the default page size's paper dimension.
            COptionUtil options(soup, state->GetKeyForest());
            SoupSlotID defaultSize = keys.GetDefaultOptionByProp(tabprop::kPageSize);
            SoupSlotID dimensionKey = soup->Find(L"*PaperDimension");
            const wchar_t* dimension =
                options.IsValid() && dimensionKey.IsValid() ? options.GetOptionValue(dimensionKey, defaultSize) : nullptr;
            if (dimension && *dimension) {
                WText size(FormatCustomPrintSize(dimension, nullptr, 1, 0));
                if (size) keys.SetNoteTextByProp(changes, tabprop::kCustomSizeNote, size.get());
            }
        }
    }
    return 1;
}

void CDocTabSettings::BindControls(SubclassLayer* dialogLayer)
{
    DOCTABDATA& data = m_data.value;
    const DataExchangeEntry rows[] = {
        {kPageSizeCombo, &data.pageSize, ExchangeComboBox},
        {kOrientationCombo, &data.orientation, ExchangeComboBox},
        {kMirrorCheck, &data.mirrorFlag, ExchangeCheckBox},
        {kNegativeCheck, &data.negativeFlag, ExchangeCheckBox},
    };
    SetExchangeTable(dialogLayer, rows, 4);
}

void CDocTabSettings::UpdateControlStates(CBaseDriverTab*, SubclassLayer* dialogLayer)
{
    const DOCTABDATA& data = m_data.value;
    ShowDlgControl(dialogLayer, kMirrorCheck, data.mirroring != data.notAvailable);
    ShowDlgControl(dialogLayer, kNegativeCheck, data.negative != data.notAvailable);
}

// --- Tab --------------------------------------------------------------------------------------

CDocDriverTab::CDocDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info)
    : CBaseDriverTab(owner, info, kDialogId, new (std::nothrow) CDocTabSettings())
{
}

CDocDriverTab::~CDocDriverTab() = default;

CBaseDriverTab* CDocDriverTab::Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int)
{
    return new (std::nothrow) CDocDriverTab(owner, info);
}

wchar_t* CDocDriverTab::GetPageTitle() { return GetOptionDisplayName(tabprop::kPropPage, tabprop::kPageDocument); }

BOOL CDocDriverTab::IsPageHidden() { return IsOptionOff(tabprop::kPropPage, tabprop::kPageDocument); }

INT_PTR CDocDriverTab::OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    CBaseDriverTab::OnInitDialog(hwnd, wParam, lParam);
    SubclassLayer* layer = DialogLayerOf(hwnd);
    if (!layer) return 1;
    SkinDialogControls(layer);
    ClearComboBox(hwnd, kOrientationCombo);
    const int noFalse[] = {tabprop::kFalse};
    FillOptionComboBox(hwnd, kOrientationCombo, tabprop::kOrientation, noFalse, 1);

    WText custom(GetOptionDisplayName(tabprop::kPageSize, tabprop::kCustomPageSize));
    const ComboRow customRow = {custom ? custom.get() : L"Custom Size", tabprop::kCustomPageSize, 1};
    FillComboBoxFromRows(hwnd, kPageSizeCombo, tabprop::kPageSize, &customRow, 1);
    const int noCustom[] = {tabprop::kCustomPageSize};
    FillOptionComboBox(hwnd, kPageSizeCombo, tabprop::kPageSize, noCustom, 1);
    SendDlgItemMessageW(hwnd, kPageSizeCombo, SKM_ENDGROUP, static_cast<WPARAM>(-1), 0);
    UpdatePreview(hwnd);
    if (DocSettings()) DocSettings()->BindControls(layer);
    return 1;
}

int CDocDriverTab::UpdateControlStates(HWND hwnd)
{
    MarkConstrainedItems(hwnd, kPageSizeCombo, tabprop::kPageSize);
    UpdatePreview(hwnd);
    return CBaseDriverTab::UpdateControlStates(hwnd);
}

WORD CDocDriverTab::PreviewImageId(bool landscape, bool rotate, bool mirror, bool negative)
{
    return kPreviewIds[(negative ? 1 : 0) + (mirror ? 2 : 0) + (rotate ? 4 : 0) + (landscape ? 8 : 0)];
}

void CDocDriverTab::UpdatePreview(HWND page)
{
    HWND preview = page ? GetDlgItem(page, kPreview) : nullptr;
    CKeySettingsUtility keys(GetDrvState());
    if (!preview || !keys.IsValid() || !GetModule(kModuleResources)) return;
    bool landscape = !keys.IsOptionSetByProp(tabprop::kOrientation, tabprop::kPortrait);
    bool rotate = keys.IsOptionSetByProp(tabprop::kUserRotate, tabprop::kTrue) != 0;
    bool mirror = keys.IsOptionSetByProp(tabprop::kMirroring, tabprop::kTrue) != 0;
    bool negative = keys.IsOptionSetByProp(tabprop::kNegative, tabprop::kTrue) != 0;
    HBITMAP bitmap = LoadImageResource(GetModule(kModuleResources),
                                       MAKEINTRESOURCEW(PreviewImageId(landscape, rotate, mirror, negative)));
    if (!bitmap) return;
    // Handed over owned: the control's layer deletes the picture it replaces. A preview without
    // a skin takes nothing, and the picture is ours to delete.
    SkinImage image = {bitmap, TRUE, 0};
    if (!SendMessageW(preview, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&image))) DeleteObject(bitmap);
}
