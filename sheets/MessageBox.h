// The confirm-installables box: a modal dialog of the language module (dialog 125) that asks
// the user to check the printer's installable options. Its check box stops it from being
// shown again: OK with the box ticked sets "QVConfirmInstallablesDialog" = 1 under the data
// file's user key; Cancel never writes.
#pragma once

#include <windows.h>

#include <string>

class CBaseDriverTab;

// Ids of the box in the language module.
enum : int {
    kConfirmDialogId = 125,
    kConfirmTextString = 126,     // format with two %s, both the driver's name
    kConfirmTitleString = 127,
    kConfirmTextControl = 1056,
    kConfirmCheckControl = 1054,
};

// What the box needs: the language module with the sheet's language and code page, the data
// file (for the user key) and the driver's name.
struct ConfirmBoxSources {
    HMODULE language = nullptr;
    LANGID languageId = 0;
    UINT codePage = CP_THREAD_ACP;
    std::wstring dataFile;
    std::wstring driverName;
};

// The text used when string 126 is missing or is not a format of exactly two %s.
extern const wchar_t kConfirmBuiltInText[];

class CMessageBox {
public:
    CMessageBox(const ConfirmBoxSources& sources, HWND parent);
    // The owning tab's language module, the sheet's language, data file and driver name.
    CMessageBox(CBaseDriverTab* owner, HWND parent, HMODULE module);
    virtual ~CMessageBox() = default;
    CMessageBox(const CMessageBox&) = delete;
    CMessageBox& operator=(const CMessageBox&) = delete;

    // Shows the box; IDOK (1) or IDCANCEL (2). A dialog that cannot be shown (-1) or ends
    // with 0 counts as Cancel.
    INT_PTR DoModal();

    // The text of control 1056 (new[]): string 126 formatted with the driver's name twice when
    // it is a format of exactly two %s, else the built-in text so formatted.
    wchar_t* BuildText() const;

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    INT_PTR OnInitDialog(HWND hwnd);
    void OnCommand(HWND hwnd, int command);

    ConfirmBoxSources m_sources;
    HWND m_parent;
};

// Shows the box for the sheet of the owning tab (the sheet entry's confirm-installables call).
void ShowConfirmInstallables(CBaseDriverTab* owner, HWND parent, HMODULE module);
