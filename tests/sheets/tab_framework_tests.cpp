// The tab framework on real compstui sheets: a test tab in the job-settings slot, changes
// saved on the idle path and written back on Apply, the confirmation of constrained changes,
// a failing store, hidden pages, help and the idle hook.
#include <windows.h>
#include <htmlhelp.h>
#include <prsht.h>

#include <gtest/gtest.h>

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

LONG_PTR CALLBACK AcceptPage(HANDLE, UINT, LPARAM, LPARAM) { return 0x1234; }

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
    EXPECT_EQ(side.publicDM.dmCollate, DMCOLLATE_FALSE);
    bool collateOff = false;
    for (const auto& [feature, option] : side.core.Options()) collateOff |= feature == "Collate" && option == "False";
    EXPECT_TRUE(collateOff);
}

TEST_F(TabFrameworkTest, ConstrainedChangeIsConfirmedOnceAndItsCancelChangesNothing)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    for (int answer : {IDOK, IDCANCEL}) {
        SheetSide side(printer.Handle(), true);
        g_answer = answer;
        g_questions.clear();
        coredriver::SheetRun run;
        std::wstring pageSize, inputSlot, shownSlot;
        run.script = [&](HWND sheet) {
            HWND page = coredriver::CurrentPage(sheet);
            SelectByText(GetDlgItem(page, 1401), L"A3");
            SendMessageW(page, WM_ENTERIDLE, 0, 0);
            SendMessageW(page, WM_ENTERIDLE, 0, 0);  // a second idle moment asks nothing more
            pageSize = CurrentOption(g_lastTestTab, L"*PageSize");
            inputSlot = CurrentOption(g_lastTestTab, L"*InputSlot");
            shownSlot = SelectedText(GetDlgItem(page, 1403));
        };
        ASSERT_TRUE(Run(printer, side, run)) << run.error;
        EXPECT_EQ(g_questions.size(), 1u) << "answer " << answer;
        if (answer == IDOK) {
            EXPECT_EQ(pageSize, L"A3");
            EXPECT_NE(inputSlot, L"Tray1") << "the constraint moved the paper source";
            EXPECT_NE(shownSlot, L"Tray 1") << "the page shows the source read back";
        } else {
            EXPECT_EQ(pageSize, L"A4");
            EXPECT_EQ(inputSlot, L"Tray1");
        }
    }
}

TEST_F(TabFrameworkTest, FailingStoreKeepsThePageAndEnterIdleOfAnOwnedDialogIsIgnored)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    coredriver::SheetRun run;
    HWND pageBefore = nullptr, pageAfter = nullptr;
    int storesOnLeave = 0, storesOnForeignIdle = 0;
    run.script = [&](HWND sheet) {
        pageBefore = coredriver::CurrentPage(sheet);
        g_lastTestTab->Settings().storeResult = FALSE;
        int before = g_lastTestTab->Settings().storeCalls;
        SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
        pageAfter = coredriver::CurrentPage(sheet);
        storesOnLeave = g_lastTestTab->Settings().storeCalls - before;
        before = g_lastTestTab->Settings().storeCalls;
        // A dialog owned by the page sends WM_ENTERIDLE with itself as lParam.
        SendMessageW(pageBefore, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(sheet));
        storesOnForeignIdle = g_lastTestTab->Settings().storeCalls - before;
    };
    ASSERT_TRUE(Run(printer, side, run)) << run.error;
    EXPECT_EQ(pageAfter, pageBefore);
    EXPECT_EQ(storesOnLeave, 1) << "a page that is left is stored once";
    EXPECT_EQ(storesOnForeignIdle, 0);
}

TEST_F(TabFrameworkTest, HelpOpensTheDefaultTopicOrTheContextThenForgetsIt)
{
    SheetPrinterOptions options;
    options.withHelp = true;
    tolvatest::TestPrinter printer(SheetPrinterSetup(options));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    coredriver::SheetRun run;
    int helpIdAfter = -1;
    run.script = [&](HWND sheet) {
        HWND page = coredriver::CurrentPage(sheet);
        NMHDR header = {sheet, 0, static_cast<UINT>(PSN_HELP)};
        SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
        g_lastTestTab->SetHelpId(7);
        SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
        helpIdAfter = g_lastTestTab->GetHelpId();
    };
    ASSERT_TRUE(Run(printer, side, run)) << run.error;
    ASSERT_EQ(g_help.size(), 2u);
    EXPECT_EQ(g_help[0].command, static_cast<UINT>(HH_DISPLAY_TOPIC));
    EXPECT_EQ(g_help[0].data, 0u);
    EXPECT_EQ(g_help[1].command, static_cast<UINT>(HH_HELP_CONTEXT));
    EXPECT_EQ(g_help[1].data, 7u);
    EXPECT_EQ(helpIdAfter, 0);
}

TEST_F(TabFrameworkTest, OneIdleHookForTheActivePageAndNoneAfterClose)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    coredriver::SheetRun run;
    HWND hookedFirst = nullptr, hookedSecond = nullptr, second = nullptr;
    HHOOK hook = nullptr;
    run.script = [&](HWND sheet) {
        hookedFirst = CBaseDriverTab::GetHookedPage();
        SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
        SendMessageW(sheet, PSM_SETCURSEL, 0, 0);
        SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
        second = coredriver::CurrentPage(sheet);
        hookedSecond = CBaseDriverTab::GetHookedPage();
        hook = CBaseDriverTab::GetIdleHook();
    };
    ASSERT_TRUE(Run(printer, side, run)) << run.error;
    EXPECT_NE(hookedFirst, nullptr);
    EXPECT_EQ(hookedSecond, second);
    EXPECT_NE(hook, nullptr);
    EXPECT_EQ(CBaseDriverTab::GetIdleHook(), nullptr);
    EXPECT_EQ(CBaseDriverTab::GetHookedPage(), nullptr);
}

TEST_F(TabFrameworkTest, HiddenOrUnusablePagesAreNotAdded)
{
    struct Case {
        const char* name;
        bool withServerLibrary;
        int hiddenOption;
        bool added;
    } cases[] = {{"page option lists True", true, 5074, true},
                 {"page option without True", true, 5010, false},
                 {"no server library", false, 0, false}};
    for (const Case& c : cases) {
        SheetPrinterOptions options;
        options.withServerLibrary = c.withServerLibrary;
        tolvatest::TestPrinter printer(SheetPrinterSetup(options));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        SheetSide side(printer.Handle(), true);
        g_hiddenOption = c.hiddenOption;
        PROPSHEETUI_INFO info = MakeInfo(PROPSHEETUI_REASON_INIT, &side.param, nullptr);
        auto* context = new PropSheetsInfo(printer.Handle(), &side.core, &info);
        TestTab* tab = static_cast<TestTab*>(MakeTestTab(context, &info, 101));
        int pages = 0;
        info.pfnComPropSheet = AcceptPage;
        pages = tab->AddPage(&info) ? 1 : 0;
        EXPECT_EQ(pages == 1, c.added) << c.name;
        delete context;
    }
}

}  // namespace
