// The confirm-installables box.
#include "sheets/MessageBox.h"

#include <new>

#include "foundation/StrUtil.h"
#include "sheets/BaseDriverTab.h"
#include "storage/DriverUserKey.h"
#include "storage/Validation.h"
#include "uiplugin/PropSheets.h"

const wchar_t kConfirmBuiltInText[] =
    L"Please check that the installable options of %s match the printer. You can change them on the "
    L"Installable Options page of the printer properties of %s.";

namespace {

constexpr wchar_t kTwoStrings[] = L"%s%s";
constexpr wchar_t kBuiltInTitle[] = L"Installable Options";

}  // namespace

CMessageBox::CMessageBox(const ConfirmBoxSources& sources, HWND parent) : m_sources(sources), m_parent(parent) {}

CMessageBox::CMessageBox(CBaseDriverTab* owner, HWND parent, HMODULE) : m_parent(parent)
{
    PropSheetsInfo* sheet = owner ? owner->GetOwner() : nullptr;
    if (!sheet) return;
    m_sources.language = owner->GetModule(kModuleLanguage);
    m_sources.languageId = sheet->GetLanguageId();
    m_sources.codePage = sheet->GetCodePage();
    if (const wchar_t* dataFile = sheet->GetDataFile()) m_sources.dataFile = dataFile;
    if (const wchar_t* driver = sheet->GetDriverName()) m_sources.driverName = driver;
}

void ShowConfirmInstallables(CBaseDriverTab* owner, HWND parent, HMODULE module)
{
    try {
        CMessageBox box(owner, parent, module);
        box.DoModal();
    } catch (...) {
    }
}

INT_PTR CMessageBox::DoModal()
{
    if (!m_sources.language) return IDCANCEL;
    INT_PTR result = DialogBoxParamW(m_sources.language, MAKEINTRESOURCEW(kConfirmDialogId), m_parent,
                                     &CMessageBox::DialogProc, reinterpret_cast<LPARAM>(this));
    return result == IDOK ? IDOK : IDCANCEL;
}

wchar_t* CMessageBox::BuildText() const
{
    WText format(LoadStringResource(m_sources.language, kConfirmTextString, m_sources.languageId, m_sources.codePage));
    const wchar_t* used = format && FormatConversionsMatch(format.get(), kTwoStrings) ? format.get() : kConfirmBuiltInText;
    const wchar_t* name = m_sources.driverName.c_str();
    return FormatAlloc(used, name, name);
}

INT_PTR CALLBACK CMessageBox::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* box = reinterpret_cast<CMessageBox*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return box ? box->OnInitDialog(hwnd) : TRUE;
    }
    case WM_COMMAND:
        if (auto* box = reinterpret_cast<CMessageBox*>(GetWindowLongPtrW(hwnd, DWLP_USER)))
            box->OnCommand(hwnd, LOWORD(wParam));
        return 0;
    default:
        return 0;
    }
}

INT_PTR CMessageBox::OnInitDialog(HWND hwnd)
{
    WText title(LoadStringResource(m_sources.language, kConfirmTitleString, m_sources.languageId, m_sources.codePage));
    SetWindowTextW(hwnd, title ? title.get() : kBuiltInTitle);
    WText text(BuildText());
    if (text) SetDlgItemTextW(hwnd, kConfirmTextControl, text.get());
    SetForegroundWindow(hwnd);
    return TRUE;
}

void CMessageBox::OnCommand(HWND hwnd, int command)
{
    if (command == IDOK) {
        if (IsDlgButtonChecked(hwnd, kConfirmCheckControl) == BST_CHECKED)
            MarkInstallablesConfirmed(m_sources.dataFile.c_str());
        EndDialog(hwnd, IDOK);
    } else if (command == IDCANCEL) {
        EndDialog(hwnd, IDCANCEL);
    }
}
