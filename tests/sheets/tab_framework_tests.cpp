// The tab framework on real compstui sheets: a test tab in the job-settings slot, changes
// saved on the idle path and written back on Apply, the confirmation of constrained changes,
// a failing store, hidden pages, help and the idle hook.
#include <windows.h>
#include <htmlhelp.h>
#include <prsht.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "SheetTestUtil.h"
#include "TestTab.h"
#include "sheets/TabOfPage.h"
#include "storage/Store.h"
#include "storage/Validation.h"
#include "foundation/GPRegUtil.h"
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
        coredriver::SettleSheet(sheet);
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

TEST_F(TabFrameworkTest, FailingCoreDriverSaveKeepsTheSheetOpenWithoutAResult)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    side.core.setOptionsResult = E_FAIL;
    coredriver::SheetRun run;
    bool applied = true, stillOpen = false;
    run.script = [&](HWND sheet) {
        applied = SendMessageW(sheet, PSM_APPLY, 0, 0) != 0;
        stillOpen = IsWindow(sheet) && coredriver::CurrentPage(sheet) != nullptr;
    };
    ASSERT_TRUE(Run(printer, side, run)) << run.error;
    EXPECT_FALSE(applied);
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(run.setResultCalled);
    EXPECT_FALSE(side.core.setOptionsCalls.empty());
}

TEST_F(TabFrameworkTest, IdleHookPostsOnceWhileItsPostIsPending)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    coredriver::SheetRun run;
    int posted = -1, postedAfterHandled = -1;
    std::wstring collate;
    run.script = [&](HWND sheet) {
        HWND page = coredriver::CurrentPage(sheet);
        CheckDlgButton(page, 1402, BST_UNCHECKED);
        // What Windows would do at each foreground idle moment.
        CBaseDriverTab::IdleHookProc(HC_ACTION, 0, 0);
        CBaseDriverTab::IdleHookProc(HC_ACTION, 0, 0);
        MSG message;
        posted = 0;
        while (PeekMessageW(&message, page, WM_ENTERIDLE, WM_ENTERIDLE, PM_REMOVE)) {
            ++posted;
            DispatchMessageW(&message);
        }
        collate = CurrentOption(g_lastTestTab, L"*Collate");
        CBaseDriverTab::IdleHookProc(HC_ACTION, 0, 0);  // nothing changed since: no post
        postedAfterHandled = PeekMessageW(&message, page, WM_ENTERIDLE, WM_ENTERIDLE, PM_REMOVE) ? 1 : 0;
    };
    ASSERT_TRUE(Run(printer, side, run)) << run.error;
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(collate, L"False");
    EXPECT_EQ(postedAfterHandled, 0);
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

namespace {

// Counts WM_USER + 104 (1128) that the sheet gets for a page.
WNDPROC g_sheetProcBefore = nullptr;
HWND g_changedFor = nullptr;
int g_sheetChanged = 0;
LRESULT CALLBACK CountSheetChanged(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER + 104 && reinterpret_cast<HWND>(wParam) == g_changedFor) ++g_sheetChanged;
    return CallWindowProcW(g_sheetProcBefore, hwnd, message, wParam, lParam);
}

// Dispatches the idle path's posts to the page (what the sheet's message loop would do).
int PumpIdlePosts(HWND page)
{
    int handled = 0;
    MSG message;
    while (PeekMessageW(&message, page, WM_ENTERIDLE, WM_ENTERIDLE, PM_REMOVE)) {
        ++handled;
        DispatchMessageW(&message);
    }
    return handled;
}

// While the real confirmation box is open: the first tick is a foreground-idle moment inside
// the box's loop, the second presses the box's default button.
struct BoxScript {
    HWND sheet = nullptr;
    int ticks = 0, idleTicks = 0;
    bool boxSeen = false;
    bool hookPostedInBox = false;
};
BoxScript g_box;

BOOL CALLBACK FindBox(HWND window, LPARAM found)
{
    if (window == g_box.sheet || !IsWindowVisible(window) || !GetDlgItem(window, IDOK)) return TRUE;
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wcscmp(name, L"#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK BoxTick(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
    if (!box) {
        if (++g_box.idleTicks > 100) KillTimer(nullptr, timer);  // no box came: nothing to answer
        return;
    }
    g_box.boxSeen = true;
    if (++g_box.ticks == 1) {
        HWND page = coredriver::CurrentPage(g_box.sheet);
        CBaseDriverTab::IdleHookProc(HC_ACTION, 0, 0);
        MSG message;
        g_box.hookPostedInBox = PeekMessageW(&message, page, WM_ENTERIDLE, WM_ENTERIDLE, PM_NOREMOVE) != FALSE;
        return;  // the box's own loop hands the post to the page
    }
    KillTimer(nullptr, timer);
    LRESULT id = SendMessageW(box, DM_GETDEFID, 0, 0);
    PostMessageW(box, WM_COMMAND, HIWORD(id) == DC_HASDEFID ? LOWORD(id) : IDOK, 0);
}

TEST_F(TabFrameworkTest, AnIdleSaveThatShowsTheRealBoxStillSavesLaterEdits)
{
    SetValidationMessageBox(nullptr);  // the platform's MessageBoxW, with its own modal loop
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    coredriver::SheetRun run;
    std::wstring pageSize, collate;
    int changedAfterBox = -1, postedAfterBox = -1;
    g_box = BoxScript();
    run.script = [&](HWND sheet) {
        HWND page = coredriver::CurrentPage(sheet);
        g_box.sheet = sheet;
        g_changedFor = page;
        g_sheetChanged = 0;
        g_sheetProcBefore = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(sheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountSheetChanged)));
        SelectByText(GetDlgItem(page, 1401), L"A3");  // a constrained choice: the box asks
        UINT_PTR timer = SetTimer(nullptr, 0, 100, BoxTick);
        CBaseDriverTab::IdleHookProc(HC_ACTION, 0, 0);
        PumpIdlePosts(page);
        KillTimer(nullptr, timer);
        pageSize = CurrentOption(g_lastTestTab, L"*PageSize");
        PumpIdlePosts(page);
        int before = g_sheetChanged;
        // An edit after the box: saved at the next idle moment, and the sheet is told.
        CheckDlgButton(page, 1402, BST_UNCHECKED);
        CBaseDriverTab::IdleHookProc(HC_ACTION, 0, 0);
        postedAfterBox = PumpIdlePosts(page);
        collate = CurrentOption(g_lastTestTab, L"*Collate");
        changedAfterBox = g_sheetChanged - before;
        SetWindowLongPtrW(sheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_sheetProcBefore));
    };
    ASSERT_TRUE(Run(printer, side, run)) << run.error;
    ASSERT_TRUE(g_box.boxSeen) << "the constrained change shows the confirmation box";
    EXPECT_TRUE(g_box.hookPostedInBox) << "the hook posts inside the box's loop, as on Windows";
    EXPECT_EQ(pageSize, L"A3");
    EXPECT_EQ(postedAfterBox, 1);
    EXPECT_EQ(collate, L"False");
    EXPECT_EQ(changedAfterBox, 1);
}

// Two sheets of one process, each on a thread of its own (as Explorer runs them).
struct ThreadSheet {
    tolvatest::TestPrinter* printer = nullptr;
    HANDLE myTurn = nullptr, otherTurn = nullptr;
    bool ran = false, hookKept = false, hookedOwnPage = false;
    int posted = -1;
    std::wstring collate;
    std::wstring error;
};

std::wstring CollateOfPage(HWND page)
{
    CBaseDriverTab* tab = DriverTabOfPage(page);
    CDrvStateUI* state = tab && tab->GetOwner() ? tab->GetOwner()->GetDrvState() : nullptr;
    const wchar_t* text = state ? state->GetOptionText(state->GetCurrentSettings(), L"*Collate") : nullptr;
    return text ? text : L"";
}

DWORD WINAPI RunThreadSheet(void* parameter)
{
    auto* me = static_cast<ThreadSheet*>(parameter);
    SheetSide side(me->printer->Handle(), true);
    coredriver::SheetRun run;
    run.param = &side.param;
    IPrintCoreUI2* core = &side.core;
    run.entry = [core](PPROPSHEETUI_INFO info, LPARAM lParam) { return DocumentPropertySheetsHandler(info, lParam, core); };
    run.script = [me](HWND sheet) {
        HWND page = coredriver::CurrentPage(sheet);
        SetEvent(me->otherTurn);  // my page is active (and hooked): the other sheet goes on
        if (WaitForSingleObject(me->myTurn, 20000) != WAIT_OBJECT_0) return;
        me->hookKept = CBaseDriverTab::GetIdleHook() != nullptr;
        me->hookedOwnPage = CBaseDriverTab::GetHookedPage() == page;
        CheckDlgButton(page, 1402, BST_UNCHECKED);
        CBaseDriverTab::IdleHookProc(HC_ACTION, 0, 0);
        me->posted = PumpIdlePosts(page);
        me->collate = CollateOfPage(page);
        SetEvent(me->otherTurn);
    };
    me->ran = RunPropertySheet(run);
    if (!me->ran) me->error = run.error;
    return 0;
}

TEST_F(TabFrameworkTest, TwoSheetsOnTwoThreadsEachSaveAtIdle)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    HANDLE firstTurn = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE secondTurn = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ThreadSheet first, second;
    first.printer = second.printer = &printer;
    first.myTurn = firstTurn;
    first.otherTurn = secondTurn;
    second.myTurn = secondTurn;
    second.otherTurn = firstTurn;
    // The first sheet opens and activates its page; then the second opens (its activation on its
    // own thread), then the first edits and idles, then the second.
    HANDLE one = CreateThread(nullptr, 0, RunThreadSheet, &first, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(secondTurn, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    HANDLE two = CreateThread(nullptr, 0, RunThreadSheet, &second, 0, nullptr);
    HANDLE threads[] = {one, two};
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 120000), static_cast<DWORD>(WAIT_OBJECT_0));
    for (HANDLE h : {one, two, firstTurn, secondTurn}) CloseHandle(h);
    for (const ThreadSheet* sheet : {&first, &second}) {
        const char* name = sheet == &first ? "first" : "second";
        EXPECT_TRUE(sheet->ran) << name << ": " << testing::PrintToString(sheet->error);
        EXPECT_TRUE(sheet->hookKept) << name;
        EXPECT_TRUE(sheet->hookedOwnPage) << name;
        EXPECT_EQ(sheet->posted, 1) << name;
        EXPECT_EQ(sheet->collate, L"False") << name;
    }
}

TEST_F(TabFrameworkTest, HelpIsLoadedFromTheSystemFolderOnly)
{
    // A copy planted in the program's folder, where a load by bare name would look first.
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring planted(program);
    planted = planted.substr(0, planted.rfind(L'\\') + 1) + L"hhctrl.ocx";
    ASSERT_TRUE(CopyFileW(TestModule().c_str(), planted.c_str(), FALSE)) << GetLastError();
    SetHtmlHelp(nullptr);
    CallHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    HMODULE loaded = GetModuleHandleW(L"hhctrl.ocx");
    wchar_t loadedPath[MAX_PATH] = {};
    if (loaded) GetModuleFileNameW(loaded, loadedPath, MAX_PATH);
    const bool plantedLoaded = GetModuleHandleW(planted.c_str()) != nullptr;
    SetHtmlHelp(RecordHelp);
    DeleteFileW(planted.c_str());
    EXPECT_FALSE(plantedLoaded);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(_wcsnicmp(loadedPath, system, wcslen(system)), 0) << testing::PrintToString(std::wstring(loadedPath));
}

// A sheet-like window with a tab control, a button and pages, on the display.
struct FakeSheet {
    HWND sheet = nullptr, tabs = nullptr, button = nullptr;
    std::vector<HWND> pages;
    FakeSheet(int x, int y, int width, int height)
    {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES};
        InitCommonControlsEx(&controls);
        sheet = CreateWindowExW(0, L"STATIC", L"sheet", WS_POPUP | WS_VISIBLE, x, y, width, height, nullptr, nullptr,
                                nullptr, nullptr);
        tabs = CreateWindowExW(0, L"SysTabControl32", L"", WS_CHILD | WS_VISIBLE, 5, 5, width - 10, height - 50, sheet,
                               nullptr, nullptr, nullptr);
        button = CreateWindowExW(0, L"Button", L"OK", WS_CHILD | WS_VISIBLE, width - 90, height - 35, 80, 25, sheet,
                                 nullptr, nullptr, nullptr);
    }
    HWND AddPage(int width, int height)
    {
        HWND page = CreateWindowExW(0, L"STATIC", L"page", WS_CHILD | WS_VISIBLE, 10, 30, width, height, sheet, nullptr,
                                    nullptr, nullptr);
        pages.push_back(page);
        return page;
    }
    ~FakeSheet() { DestroyWindow(sheet); }
};

SIZE SizeOf(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

POINT PlaceOf(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    POINT p = {r.left, r.top};
    if (GetParent(window)) ScreenToClient(GetParent(window), &p);
    return p;
}

TEST_F(TabFrameworkTest, LaterPagesGrowToTheFirstAndTheSheetStaysOnTheDesktop)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    struct Case {
        const char* name;
        int x, y;       // the sheet's place
        bool movedBack; // growing by (60, 40) would cross the right edge or the bottom less 40
    } cases[] = {{"inside the desktop", 20, 20, false},
                 {"at the right edge", desktop.right - 430, 20, true},
                 {"near the bottom", 20, desktop.bottom - 40 - 330, true}};
    for (const Case& c : cases) {
        PROPSHEETUI_INFO info = MakeInfo(PROPSHEETUI_REASON_INIT, &side.param, nullptr);
        auto* context = new PropSheetsInfo(printer.Handle(), &side.core, &info);
        auto* firstTab = static_cast<TestTab*>(MakeTestTab(context, &info, 101));
        auto* secondTab = static_cast<TestTab*>(MakeTestTab(context, &info, 101));
        FakeSheet sheet(c.x, c.y, 400, 300);
        HWND first = sheet.AddPage(360, 240);
        HWND second = sheet.AddPage(300, 200);
        firstTab->PlaceSheet(first);  // the first page gives the size every page gets
        SIZE sheetBefore = SizeOf(sheet.sheet), tabsBefore = SizeOf(sheet.tabs);
        POINT buttonBefore = PlaceOf(sheet.button);
        RECT placeBefore;
        GetWindowRect(sheet.sheet, &placeBefore);
        secondTab->PlaceSheet(second);
        SIZE page = SizeOf(second);
        EXPECT_EQ(page.cx, 360) << c.name;
        EXPECT_EQ(page.cy, 240) << c.name;
        EXPECT_EQ(SizeOf(sheet.sheet).cx, sheetBefore.cx + 60) << c.name;
        EXPECT_EQ(SizeOf(sheet.sheet).cy, sheetBefore.cy + 40) << c.name;
        EXPECT_EQ(SizeOf(sheet.tabs).cx, tabsBefore.cx + 60) << c.name;
        EXPECT_EQ(PlaceOf(sheet.button).x, buttonBefore.x + 60) << c.name;
        EXPECT_EQ(PlaceOf(sheet.button).y, buttonBefore.y + 40) << c.name;
        RECT placeAfter;
        GetWindowRect(sheet.sheet, &placeAfter);
        EXPECT_EQ(placeAfter.left != placeBefore.left || placeAfter.top != placeBefore.top, c.movedBack) << c.name;
        EXPECT_LE(placeAfter.right, desktop.right) << c.name;
        EXPECT_LE(placeAfter.bottom, desktop.bottom - 40) << c.name;
        delete context;
    }
}

TEST_F(TabFrameworkTest, FitSheetToDesktopGrowsThePageToA750WideSheet)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    PROPSHEETUI_INFO info = MakeInfo(PROPSHEETUI_REASON_INIT, &side.param, nullptr);
    auto* context = new PropSheetsInfo(printer.Handle(), &side.core, &info);
    auto* tab = static_cast<TestTab*>(MakeTestTab(context, &info, 101));
    FakeSheet sheet(10, 10, 500, 400);
    HWND page = sheet.AddPage(450, 300);
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    int height = (desktop.bottom - desktop.top) * 80 / 100;
    if (height > 750) height = 750;
    tab->FitSheetToDesktop(page);
    EXPECT_EQ(SizeOf(page).cx, 450 + 250);
    EXPECT_EQ(SizeOf(page).cy, 300 + height - 400);
    delete context;
}

// The user's watermarks (what the job-settings library hands back into the state's local
// store) are kept when the sheet is applied, and the next sheet, and the rendering plug-in that
// reads the same store, find them.
TEST_F(TabFrameworkTest, WatermarksMadeInOneSheetAreKeptForTheNextAndForPrinting)
{
    // The store is named after the PPD's short nickname, and a sheet's save writes its whole
    // store: a sheet of another test program applied over the sample PPD in between would put
    // its own store in place of this one. This test's PPD has a nickname of its own.
    std::wstring ppd = std::wstring(TOLVA_BINARY_DIR_W) + L"\\watermarks-" + std::to_wstring(GetCurrentProcessId()) + L".ppd";
    {
        std::ifstream in(SamplePpd().c_str(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string line = "*ShortNickName: \"Tolva Sample 9000\"";
        size_t at = text.find(line);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, line.size(), "*ShortNickName: \"Tolva Marks " + std::to_string(GetCurrentProcessId()) + "\"");
        std::ofstream out(ppd.c_str(), std::ios::binary | std::ios::trunc);
        out << text;
        ASSERT_TRUE(out.good());
    }
    tolvatest::TestPrinterSetup setup = SheetPrinterSetup({});
    setup.dataFile = ppd;
    tolvatest::TestPrinter printer(setup);
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    std::wstring storePath;
    {
        SheetSide side(printer.Handle(), true);
        coredriver::SheetRun run;
        bool applied = false;
        run.script = [&](HWND sheet) {
            CDrvStateUI* state = StateOf(g_lastTestTab);
            CUserStore* store = state ? state->GetWatermarkStore() : nullptr;
            if (!store) return;
            storePath = state->GetWatermarkStorePath();
            // Left by an earlier run of this process id: start from an empty store, in memory as
            // in the registry.
            DeleteRegKeyTree(HKEY_CURRENT_USER, storePath.c_str());
            store->Clear();
            store->SetString(L"Draft", L"DRAFT|Helvetica|48|45");
            store->SetString(L"Copy", L"COPY|Courier|36|0");
            applied = SendMessageW(sheet, PSM_APPLY, 0, 0) != 0;
        };
        ASSERT_TRUE(Run(printer, side, run)) << run.error;
        ASSERT_TRUE(applied);
    }
    ASSERT_FALSE(storePath.empty());
    struct Seen {
        size_t count = 0;
        std::wstring draft, copy;
    };
    auto read = [](const CUserStore* store) {
        Seen seen;
        if (!store) return seen;
        seen.count = store->Count();
        auto valueOf = [store](const wchar_t* name) -> std::wstring {
            const CStoreEntry* entry = store->Find(name);
            for (auto it = store->Begin(); it != store->End(); ++it)
                if (entry && store->GetEntry(it) == entry) {
                    const wchar_t* value = store->GetValue(it);
                    return value ? value : L"<none>";
                }
            return L"<none>";
        };
        seen.draft = valueOf(L"Draft");
        seen.copy = valueOf(L"Copy");
        return seen;
    };
    Seen next;
    {
        SheetSide side(printer.Handle(), true);
        coredriver::SheetRun run;
        run.script = [&](HWND) {
            CDrvStateUI* state = StateOf(g_lastTestTab);
            next = read(state ? state->GetWatermarkStore() : nullptr);
        };
        ASSERT_TRUE(Run(printer, side, run)) << run.error;
    }
    CUserStore printing(HKEY_CURRENT_USER, storePath.c_str(), 0);  // what the rendering side loads
    printing.Load();
    Seen printed = read(&printing);
    DeleteRegKeyTree(HKEY_CURRENT_USER, storePath.c_str());
    DeleteFileW(ppd.c_str());
    EXPECT_EQ(next.count, 2u);
    EXPECT_EQ(next.draft, L"DRAFT|Helvetica|48|45");
    EXPECT_EQ(next.copy, L"COPY|Courier|36|0");
    EXPECT_EQ(printed.count, 2u);
    EXPECT_EQ(printed.draft, L"DRAFT|Helvetica|48|45");
    EXPECT_EQ(printed.copy, L"COPY|Courier|36|0");
}

}  // namespace
