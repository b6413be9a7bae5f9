// Helpers of the driver-tab sheet tests: a printer of the spooler with a PPD variant and the
// tab stand-ins beside it (tabs.LAN, tabres.DLL, a server library), the core driver's option
// list with the PostScript features and the installables, and the controls of a page driven
// as a user would.
#pragma once

#include <windows.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "SheetTestUtil.h"
#include "sheets/SubclassLayer.h"
#include "sheets/TabOfPage.h"
#include "tests/standins/pngres/tabs/colours.h"
#include "uiplugin/DrvStateUI.h"
#include "uiplugin/PropSheets.h"

namespace tabsheet {

inline std::wstring Module(const wchar_t* name) { return std::wstring(TOLVA_TEST_MODULES_DIR_W) + L"\\" + name; }

// The printer: data file ppd, language module lan (a file of the test modules folder).
inline tolvatest::TestPrinterSetup TabPrinterSetup(const std::wstring& ppd, const wchar_t* lan = L"tabs.LAN",
                                        const std::wstring& port = L"FILE:")
{
    tolvatest::TestPrinterSetup setup;
    setup.dataFile = ppd;
    setup.port = port;
    setup.companions.push_back({Module(lan), L"{stem}.LAN"});
    setup.companions.push_back({Module(L"tabres.DLL"), L"{stem}.DLL"});
    setup.companions.push_back({Module(L"pngres.dll"), L"{stem}.KQM"});
    return setup;
}

// The core driver's option list: page size, the six PostScript features and the installables.
inline void SetCoreOptions(sheettest::SheetSide& side)
{
    side.core.Options() = {{"PageSize", "A4"},          {"InputSlot", "Tray1"},         {"Duplex", "None"},
                           {"Collate", "True"},         {"%OutputFormat", "Speed"},     {"%OutputPSLevel", "3"},
                           {"%TTDownloadFormat", "Automatic"}, {"%PSErrorHandler", "True"}, {"%Mirroring", "False"},
                           {"%Negative", "False"},      {"TolvaTray3", "False"},        {"TolvaDuplexUnit", "True"},
                           {"TolvaFinisher", "None"},   {"InstalledMemory", "2GB"}};
}

// The option the core driver holds for a feature after the sheet ("" when none).
inline std::string CoreOption(sheettest::SheetSide& side, const char* feature)
{
    for (const auto& [name, option] : side.core.Options())
        if (name == feature) return option;
    return std::string();
}

// Opens the document or device sheet through the handlers linked in.
inline bool RunSheet(sheettest::SheetSide& side, coredriver::SheetRun& run, bool device = false)
{
    run.param = &side.param;
    IPrintCoreUI2* core = &side.core;
    if (device)
        run.entry = [core](PPROPSHEETUI_INFO info, LPARAM lParam) { return DevicePropertySheetsHandler(info, lParam, core); };
    else
        run.entry = [core](PPROPSHEETUI_INFO info, LPARAM lParam) { return DocumentPropertySheetsHandler(info, lParam, core); };
    return coredriver::RunPropertySheet(run);
}

// Selects the page whose title is title; its window, or null.
inline HWND ShowPage(HWND sheet, const wchar_t* title)
{
    std::vector<std::wstring> titles = coredriver::PageTitles(sheet);
    for (size_t i = 0; i < titles.size(); ++i)
        if (titles[i] == title) {
            SendMessageW(sheet, PSM_SETCURSEL, i, 0);
            return coredriver::CurrentPage(sheet);
        }
    return nullptr;
}

// The texts of an owner-drawn combo box's items.
inline std::vector<std::wstring> ComboTexts(HWND page, int id)
{
    HWND combo = GetDlgItem(page, id);
    std::vector<std::wstring> texts;
    int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        SendMessageW(combo, SKM_GETITEMTEXT, i, reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

inline std::wstring ComboSelection(HWND page, int id)
{
    HWND combo = GetDlgItem(page, id);
    LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return L"<none>";
    wchar_t text[128] = {};
    SendMessageW(combo, SKM_GETITEMTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

// Selects the item of that text as a user would (CB_SETCURSEL and CBN_SELCHANGE); false when
// the list has no such item.
inline bool ChooseItem(HWND page, int id, const wchar_t* text)
{
    std::vector<std::wstring> texts = ComboTexts(page, id);
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i] == text) {
            HWND combo = GetDlgItem(page, id);
            SendMessageW(combo, CB_SETCURSEL, i, 0);
            SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
            return true;
        }
    return false;
}

// The texts of a list box's items.
inline std::vector<std::wstring> ListTexts(HWND page, int id)
{
    std::vector<std::wstring> texts;
    int count = static_cast<int>(SendDlgItemMessageW(page, id, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        SendDlgItemMessageW(page, id, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

// Clicks a button or check box.
inline void Click(HWND page, int id) { SendMessageW(GetDlgItem(page, id), BM_CLICK, 0, 0); }

// The moment the foreground-idle hook would post (Wine never calls it).
inline void Idle(HWND page) { SendMessageW(page, WM_ENTERIDLE, 0, 0); }

inline bool Checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }
inline bool Visible(HWND page, int id) { return IsWindowVisible(GetDlgItem(page, id)) != FALSE; }

// The colour on screen at the centre of a control.
inline COLORREF CentreColour(HWND page, int id)
{
    RECT rect;
    GetWindowRect(GetDlgItem(page, id), &rect);
    UpdateWindow(page);
    HDC screen = GetDC(nullptr);
    COLORREF colour = GetPixel(screen, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    ReleaseDC(nullptr, screen);
    return colour;
}

// The id of the solid picture of that colour (0 when none matches).
inline int PictureOfColour(COLORREF colour)
{
    for (const TabPictureColour& c : kTabPictureColours) {
        int dr = GetRValue(colour) - c.r, dg = GetGValue(colour) - c.g, db = GetBValue(colour) - c.b;
        if (dr * dr + dg * dg + db * db < 48) return c.id;
    }
    return 0;
}

// Saves the sheet as build/<width>/tests/sheets/shots/<name>.png; true when the picture is not
// of one colour.
inline bool Shot(HWND sheet, const wchar_t* name)
{
    std::wstring dir = std::wstring(TOLVA_BINARY_DIR_W) + L"\\shots";
    CreateDirectoryW(dir.c_str(), nullptr);
    UpdateWindow(sheet);
    bool single = true;
    SIZE size = {};
    return coredriver::SaveWindowPng(sheet, dir + L"\\" + name + L".png", &size, &single) && !single;
}

// The current option of a keyword in the sheet's driver state ("" when none).
inline std::wstring StateOption(CDrvStateUI* state, const wchar_t* keyword)
{
    const wchar_t* text = state ? state->GetOptionText(state->GetCurrentSettings(), keyword) : nullptr;
    return text ? text : L"";
}

// The sheet's driver state behind a page (null for a window that is no tab's page).
inline CDrvStateUI* StateOfPage(HWND page)
{
    CBaseDriverTab* tab = DriverTabOfPage(page);
    return tab && tab->GetOwner() ? tab->GetOwner()->GetDrvState() : nullptr;
}

}  // namespace tabsheet
