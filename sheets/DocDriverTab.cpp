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
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "uiplugin/PropSheets.h"

namespace {

constexpr int kDialogId = 1271;
constexpr int kPageSizeCombo = 1388, kOrientationCombo = 1389, kMirrorCheck = 1412, kNegativeCheck = 1413,
              kPreview = 1051;

constexpr int kPropPropPage = 5073;       // *VYRPropPage
constexpr int kPropPageDocument = 5094;   // QVPPDocSettings
constexpr int kPropPageSize = 5095;       // *PageSize
constexpr int kPropOrientation = 5067;    // *!dmOrientation
constexpr int kPropPortrait = 5068;       // Portrait
constexpr int kPropMirroring = 5124;      // *%Mirroring
constexpr int kPropNegative = 5125;       // *%Negative
constexpr int kPropNotAvailable = 5126;   // NotAvailable
constexpr int kPropTrue = 5056;
constexpr int kPropFalse = 5057;
constexpr int kPropCustomPageSize = 5131;  // CustomPageSize
constexpr int kPropCustomSizeNote = 5129;  // *%CustomPageSize
constexpr int kPropUserRotate = 5133;      // *QVUserRotate180

// Preview pictures by negative + 2 mirror + 4 rotate + 8 landscape.
constexpr WORD kPreviewIds[16] = {103, 105, 104, 106, 107, 109, 108, 110, 111, 113, 112, 114, 115, 117, 116, 118};

SubclassLayer* DialogLayerOf(HWND page) { return page ? FindSubclassLayer(page, DialogLayerProc) : nullptr; }

}  // namespace

// --- Settings ---------------------------------------------------------------------------------

BOOL CDocTabSettings::Load(CBaseDriverTab* tab)
{
    DOCTABDATA data = {};
    CDrvState* state = tab ? tab->GetDrvState() : nullptr;
    CKeySettingsUtility keys(state);
    if (keys.IsValid()) {
        CBaseSoup* soup = state->GetSoup();
        SoupSlotID trueSlot = SoupPropertySlot(soup, kPropTrue);
        data.pageSize = keys.GetOptionByProp(kPropPageSize).GetIndex();
        data.orientation = keys.GetOptionByProp(kPropOrientation).GetIndex();
        // A PPD without the key has nothing to show: the box is hidden as for "NotAvailable".
        SoupSlotID notAvailable = SoupPropertySlot(soup, kPropNotAvailable);
        SoupSlotID mirroring = keys.GetOptionByProp(kPropMirroring);
        SoupSlotID negative = keys.GetOptionByProp(kPropNegative);
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
    keys.SetOptionByProp(changes, kPropPageSize, SoupSlotID(data.pageSize));
    keys.SetOptionByProp(changes, kPropOrientation, SoupSlotID(data.orientation));
    if (data.mirroring != data.notAvailable)
        keys.SetOptionByProps(changes, kPropMirroring, data.mirrorFlag ? kPropTrue : kPropFalse);
    if (data.negative != data.notAvailable)
        keys.SetOptionByProps(changes, kPropNegative, data.negativeFlag ? kPropTrue : kPropFalse);
    if (SoupSlotID(data.pageSize) == SoupPropertySlot(soup, kPropCustomPageSize)) {
        const wchar_t* note = keys.GetNoteTextByProp(kPropCustomSizeNote);
        if (!note || !*note) {
            // An empty custom size starts from the default page size's paper dimension.
            COptionUtil options(soup, state->GetKeyForest());
            SoupSlotID defaultSize = keys.GetDefaultOptionByProp(kPropPageSize);
            SoupSlotID dimensionKey = soup->Find(L"*PaperDimension");
            const wchar_t* dimension =
                options.IsValid() && dimensionKey.IsValid() ? options.GetOptionValue(dimensionKey, defaultSize) : nullptr;
            if (dimension && *dimension) {
                WText size(FormatCustomPrintSize(dimension, nullptr, 1, 0));
                if (size) keys.SetNoteTextByProp(changes, kPropCustomSizeNote, size.get());
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
    : CBaseDriverTab(owner, info, kDialogId, new (std::nothrow) CDocTabSettings()),
      m_docSettings(dynamic_cast<CDocTabSettings*>(GetSettings()))
{
}

CDocDriverTab::~CDocDriverTab() { delete m_docSettings; }

CBaseDriverTab* CDocDriverTab::Make(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int)
{
    return new (std::nothrow) CDocDriverTab(owner, info);
}

wchar_t* CDocDriverTab::GetPageTitle() { return GetOptionDisplayName(kPropPropPage, kPropPageDocument); }

BOOL CDocDriverTab::IsPageHidden() { return IsOptionOff(kPropPropPage, kPropPageDocument); }

INT_PTR CDocDriverTab::OnInitDialog(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    CBaseDriverTab::OnInitDialog(hwnd, wParam, lParam);
    SubclassLayer* layer = DialogLayerOf(hwnd);
    if (!layer) return 1;
    SkinDialogControls(layer);
    ClearComboBox(hwnd, kOrientationCombo);
    const int noFalse[] = {kPropFalse};
    FillOptionComboBox(hwnd, kOrientationCombo, kPropOrientation, noFalse, 1);

    WText custom(GetOptionDisplayName(kPropPageSize, kPropCustomPageSize));
    const ComboRow customRow = {custom ? custom.get() : L"Custom Size", kPropCustomPageSize, 1};
    FillComboBoxFromRows(hwnd, kPageSizeCombo, kPropPageSize, &customRow, 1);
    const int noCustom[] = {kPropCustomPageSize};
    FillOptionComboBox(hwnd, kPageSizeCombo, kPropPageSize, noCustom, 1);
    SendDlgItemMessageW(hwnd, kPageSizeCombo, SKM_ENDGROUP, static_cast<WPARAM>(-1), 0);
    UpdatePreview(hwnd);
    if (m_docSettings) m_docSettings->BindControls(layer);
    return 1;
}

int CDocDriverTab::UpdateControlStates(HWND hwnd)
{
    MarkConstrainedItems(hwnd, kPageSizeCombo, kPropPageSize);
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
    bool landscape = !keys.IsOptionSetByProp(kPropOrientation, kPropPortrait);
    bool rotate = keys.IsOptionSetByProp(kPropUserRotate, kPropTrue) != 0;
    bool mirror = keys.IsOptionSetByProp(kPropMirroring, kPropTrue) != 0;
    bool negative = keys.IsOptionSetByProp(kPropNegative, kPropTrue) != 0;
    HBITMAP bitmap = LoadImageResource(GetModule(kModuleResources),
                                       MAKEINTRESOURCEW(PreviewImageId(landscape, rotate, mirror, negative)));
    if (!bitmap) return;
    // Handed over owned: the control deletes the picture it replaces.
    SkinImage image = {bitmap, TRUE, 0};
    SendMessageW(preview, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&image));
}
