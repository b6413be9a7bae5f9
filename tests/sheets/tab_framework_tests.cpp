// The tab framework on real compstui sheets: a test tab in the job-settings slot, changes
// saved on the idle path and written back on Apply, the confirmation of constrained changes,
// a failing store, hidden pages, help and the idle hook.
#include <gtest/gtest.h>
#include <htmlhelp.h>
#include <prsht.h>

#include <cstring>
#include <string>
#include <vector>

#include "SheetTestUtil.h"
#include "TestTab.h"
#include "storage/Validation.h"
#include "uiplugin/DrvStateUI.h"

using namespace sheettest;

namespace {

TestTab* g_lastTestTab = nullptr;
int g_hiddenOption = 0;

CBaseDriverTab* MakeTestTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId)
{
    auto* tab = new TestTab(owner, info, dialogId);
    tab->hiddenByOption = g_hiddenOption;
    g_lastTestTab = tab;
    return tab;
}

// Records the validation's questions and answers them.
std::vector<std::wstring> g_questions;
int g_answer = IDOK;
int RecordQuestion(HWND, const wchar_t* text, const wchar_t*, UINT)
{
    g_questions.push_back(text ? text : L"");
    return g_answer;
}

struct HelpCall {
    UINT command;
    DWORD_PTR data;
};
std::vector<HelpCall> g_help;
HWND WINAPI RecordHelp(HWND, const wchar_t*, UINT command, DWORD_PTR data)
{
    g_help.push_back({command, data});
    return nullptr;
}

// The sheet's driver state of the tab (null when none).
CDrvStateUI* StateOf(TestTab* tab) { return tab && tab->GetOwner() ? tab->GetOwner()->GetDrvState() : nullptr; }

std::wstring CurrentOption(TestTab* tab, const wchar_t* keyword)
{
    CDrvStateUI* state = StateOf(tab);
    const wchar_t* text = state ? state->GetOptionText(state->GetCurrentSettings(), keyword) : nullptr;
    return text ? text : L"";
}

int SelectByText(HWND combo, const wchar_t* text)
{
    int index = static_cast<int>(SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text)));
    SendMessageW(combo, CB_SETCURSEL, index, 0);
    return index;
}

std::wstring SelectedText(HWND combo)
{
    wchar_t text[64] = {};
    LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index != CB_ERR) SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

class TabFrameworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetTabMaker(kTabJobSettings, MakeTestTab);
        SetValidationMessageBox(RecordQuestion);
        SetHtmlHelp(RecordHelp);
        g_questions.clear();
        g_help.clear();
        g_answer = IDOK;
        g_lastTestTab = nullptr;
        g_hiddenOption = 0;
    }
    void TearDown() override
    {
        SetTabMaker(kTabJobSettings, nullptr);
        SetValidationMessageBox(nullptr);
        SetHtmlHelp(nullptr);
    }

    // Opens the document sheet of printer through the handler linked in, running script.
    bool Run(tolvatest::TestPrinter& printer, SheetSide& side, coredriver::SheetRun& run)
    {
        run.param = &side.param;
        IPrintCoreUI2* core = &side.core;
        run.entry = [core](PPROPSHEETUI_INFO info, LPARAM lParam) {
            return DocumentPropertySheetsHandler(info, lParam, core);
        };
        (void)printer;
        return coredriver::RunPropertySheet(run);
    }
};

TEST_F(TabFrameworkTest, ChangeIsSavedAtIdleAndAppliedToTheCoreDriverAndPrivateBlock)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    std::vector<BYTE> blockBefore = side.privateBlock;
    coredriver::SheetRun run;
    bool changedBeforeIdle = true, applyEnabled = false, applied = false;
    std::wstring collateAfterIdle;
    run.script = [&](HWND sheet) {
        HWND page = coredriver::CurrentPage(sheet);
        changedBeforeIdle = CurrentOption(g_lastTestTab, L"*Collate") != L"True";
        CheckDlgButton(page, 1402, BST_UNCHECKED);
        SendMessageW(page, WM_ENTERIDLE, 0, 0);  // where the foreground-idle hook would post
        collateAfterIdle = CurrentOption(g_lastTestTab, L"*Collate");
        applyEnabled = IsWindowEnabled(GetDlgItem(sheet, 0x3021)) != FALSE;
        applied = SendMessageW(sheet, PSM_APPLY, 0, 0) != 0;
        coredriver::SaveWindowPng(sheet, TOLVA_BINARY_DIR_W L"\\tab_framework_apply.png", nullptr, nullptr);
    };
    ASSERT_TRUE(Run(printer, side, run)) << run.error;
    EXPECT_FALSE(changedBeforeIdle);
    EXPECT_EQ(collateAfterIdle, L"False");
    EXPECT_TRUE(applyEnabled);
    EXPECT_TRUE(applied);
    EXPECT_TRUE(run.setResultCalled);
    EXPECT_EQ(run.setResult, CPSUI_OK);
    ASSERT_FALSE(side.core.setOptionsCalls.empty());
    const auto& call = side.core.setOptionsCalls.back();
    EXPECT_EQ(call.flags, static_cast<DWORD>(SETOPTIONS_FLAG_KEEP_CONFLICT));
    EXPECT_NE(call.list.find(std::string("Collate\0False\0", 14)), std::string::npos);
    EXPECT_NE(call.list.find(std::string("PageSize\0A4\0", 12)), std::string::npos);
    EXPECT_NE(side.privateBlock, blockBefore);
    bool collateOff = false;
    for (const auto& [feature, option] : side.core.Options()) collateOff |= feature == "Collate" && option == "False";
    EXPECT_TRUE(collateOff);
}

}  // namespace
