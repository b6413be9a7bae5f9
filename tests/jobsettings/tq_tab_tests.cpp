// The job-settings page on real compstui sheets with the tq2.dll stand-in: the library's window
// in the page, validation keeping the page, the library's values reaching the driver state,
// the snapshot on Cancel, repeated sheets leaking nothing; and the session record and the
// Res.xml logo look-up.
#include <windows.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sheets/MemoryDC.h"
#include "sheets/TQDriverTab.h"
#include "tests/jobsettings/TQTestEnv.h"
#include "tests/sheets/SheetTestUtil.h"
#include "uiplugin/DrvStateUI.h"
#include "uiplugin/PropSheets.h"
#include "uiplugin/QuentaModule.h"
#include "uiplugin/SDMInterface.h"
#include "uiplugin/TQInterface.h"
#include "uiplugin/TQManager.h"

using namespace sheettest;
using tqtest::TQFolder;

namespace {

CTQDriverTab* g_tab = nullptr;
CBaseDriverTab* MakeRecordedTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId) {
    auto* tab = static_cast<CTQDriverTab*>(MakeTQDriverTab(owner, info, dialogId));
    g_tab = tab;
    return tab;
}

std::wstring CurrentOption(const wchar_t* keyword) {
    CDrvStateUI* state = g_tab && g_tab->GetOwner() ? g_tab->GetOwner()->GetDrvState() : nullptr;
    const wchar_t* text = state ? state->GetOptionText(state->GetCurrentSettings(), keyword) : nullptr;
    return text ? text : L"";
}

class TQTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousModule = GetQuentaModule();
        previousCalls = SetTQClientCalls(&GetTQManagerClientCalls());
        SetTabMaker(kTabJobSettings, MakeRecordedTab);
        g_tab = nullptr;
    }
    void TearDown() override {
        SetTabMaker(kTabJobSettings, nullptr);
        SetTQClientCalls(previousCalls);
        SetQuentaModule(previousModule);
    }
    bool Run(SheetSide& side, coredriver::SheetRun& run) {
        run.param = &side.param;
        IPrintCoreUI2* core = &side.core;
        run.entry = [core](PPROPSHEETUI_INFO info, LPARAM lParam) { return DocumentPropertySheetsHandler(info, lParam, core); };
        return coredriver::RunPropertySheet(run);
    }
    HINSTANCE previousModule = nullptr;
    const TQClientCalls* previousCalls = nullptr;
};

TEST_F(TQTabTest, TheLibrarysWindowFillsThePageAndItsValuesReachTheState) {
    TQFolder folder(L"full", "changes=QVColorMode=Grayscale\nvalidate=0\n");
    SetQuentaModule(folder.Quenta());
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    coredriver::SheetRun run;
    RECT sheetRect = {};
    bool libraryWindow = false;
    HWND pageBefore = nullptr, pageAfterRefusal = nullptr;
    std::wstring colourAfterRefusal;
    run.script = [&](HWND sheet) {
        HWND page = coredriver::CurrentPage(sheet);
        pageBefore = page;
        GetWindowRect(sheet, &sheetRect);
        libraryWindow = FindWindowExW(page, nullptr, L"TQ2StandInWindow", nullptr) != nullptr;
        coredriver::SaveWindowPng(sheet, TOLVA_BINARY_DIR_W L"\\tq_tab_open.png", nullptr, nullptr);
        // The library refuses its settings: the page stays.
        SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
        pageAfterRefusal = coredriver::CurrentPage(sheet);
        colourAfterRefusal = CurrentOption(L"*QVColorMode");
        folder.WriteConfig("changes=QVColorMode=Grayscale\nvalidate=1\n");
        PropSheet_PressButton(sheet, PSBTN_OK);
    };
    ASSERT_TRUE(Run(side, run)) << run.error;
    EXPECT_TRUE(libraryWindow);
    EXPECT_EQ(sheetRect.right - sheetRect.left, 750);
    EXPECT_EQ(pageAfterRefusal, pageBefore);
    EXPECT_EQ(colourAfterRefusal, L"CMYK");
    std::string log = folder.Log();
    EXPECT_NE(log.find("ValidateSettings 0"), std::string::npos) << log;
    EXPECT_EQ(tqtest::Count(log, "Run"), 1u);
    EXPECT_EQ(folder.LiveBuffers(), 0);
    // OK: the library's value is in the private block the core driver keeps.
    CfgSettingsHold settings(printer.DataFile().c_str());
    ASSERT_NE(settings.Get(), nullptr);
    CBaseDrvState reader(settings.Get());
    DevmodeSet places;
    places.privateBlock = side.privateBlock.data();
    KVCache saved(*reader.GetDefaultSettings());
    ASSERT_TRUE(reader.LoadPrivateDevmode(settings.Get(), places, &saved));
    const wchar_t* colour = reader.GetOptionText(&saved, L"*QVColorMode");
    EXPECT_EQ(std::wstring(colour ? colour : L"<none>"), L"Grayscale");
}

TEST_F(TQTabTest, LeavingThePageCopiesTheLibrarysValuesAndCancelKeepsAPicture) {
    TQFolder folder(L"full", "changes=QVColorMode=Grayscale\n");
    SetQuentaModule(folder.Quenta());
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    coredriver::SheetRun run;
    std::wstring colour;
    HWND pageBefore = nullptr, pageAfter = nullptr;
    bool snapshotKept = false, paintedFromSnapshot = false, erasedWithout = true;
    run.script = [&](HWND sheet) {
        pageBefore = coredriver::CurrentPage(sheet);
        HDC screen = GetDC(nullptr);
        HDC probe = CreateCompatibleDC(screen);
        erasedWithout = g_tab && g_tab->OnEraseBackground(pageBefore, probe) != 0;
        SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
        pageAfter = coredriver::CurrentPage(sheet);
        colour = CurrentOption(L"*QVColorMode");
        SendMessageW(sheet, PSM_SETCURSEL, 0, 0);
        // Cancel as the sheet sends it: the page keeps a picture of itself until the next notice.
        NMHDR reset = {GetParent(pageBefore), 0, static_cast<UINT>(PSN_RESET)};
        SendMessageW(pageBefore, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&reset));
        snapshotKept = g_tab && g_tab->GetSnapshot() != nullptr;
        paintedFromSnapshot = g_tab && g_tab->OnEraseBackground(pageBefore, probe) == 1;
        DeleteDC(probe);
        ReleaseDC(nullptr, screen);
    };
    ASSERT_TRUE(Run(side, run)) << run.error;
    EXPECT_NE(pageAfter, pageBefore);
    EXPECT_EQ(colour, L"Grayscale");
    EXPECT_FALSE(erasedWithout);
    EXPECT_TRUE(snapshotKept);
    EXPECT_TRUE(paintedFromSnapshot);
    std::string log = folder.Log();
    // The second visit only refreshes; Cancel closed the UI once.
    EXPECT_EQ(tqtest::Count(log, "Init2"), 1u) << log;
    EXPECT_EQ(tqtest::Count(log, "SetJobControlsSettings"), 1u) << log;
    EXPECT_EQ(tqtest::Count(log, "Term2"), 1u) << log;
    EXPECT_EQ(folder.LiveBuffers(), 0);
}

TEST_F(TQTabTest, RepeatedSheetsLeaveNothingBehind) {
    TQFolder folder(L"full");
    SetQuentaModule(folder.Quenta());
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    // Each sheet takes ~2 s to close under Xvfb without a window manager: a few rounds by
    // default, TOLVA_TQ_CYCLES of them when set (the long check uses 100).
    const char* cyclesText = getenv("TOLVA_TQ_CYCLES");
    const int cycles = cyclesText && atoi(cyclesText) > 0 ? atoi(cyclesText) : 4;
    for (int i = 0; i < cycles; ++i) {
        SheetSide side(printer.Handle(), true);
        coredriver::SheetRun run;
        bool cancel = i % 2 == 1;
        run.script = [&](HWND sheet) {
            if (cancel) PropSheet_PressButton(sheet, PSBTN_CANCEL);
        };
        ASSERT_TRUE(Run(side, run)) << run.error;
        ASSERT_EQ(folder.LiveBuffers(), 0) << "round " << i;
    }
    std::string log = folder.Log();
    EXPECT_EQ(tqtest::Count(log, "Init"), static_cast<size_t>(cycles));
    EXPECT_EQ(tqtest::Count(log, "DllEnd"), static_cast<size_t>(cycles));
    SyncherHold<TQManager> hold(GetTQManagerSyncher());
    EXPECT_EQ(hold.Get()->GetUseCount(), 0);
}

TEST_F(TQTabTest, ThePageShowsTheLibraryOrSaysItIsMissingAndGivesTheDefaultLogo) {
    // No Res.xml beside the data file: the logo is 3097 of the resource module, the only
    // bitmap of tqlogo.DLL (4 x 2 pixels).
    struct Case {
        const char* config;
        bool ready;
    };
    for (const Case& c : {Case{"", true}, Case{"ready=never\n", false}}) {
        SCOPED_TRACE(c.config);
        TQFolder folder(L"full", c.config);
        SetQuentaModule(folder.Quenta());
        tolvatest::TestPrinterSetup setup = SheetPrinterSetup({});
        for (auto& companion : setup.companions)
            if (companion.name == L"{stem}.DLL") companion.source = std::wstring(TOLVA_TEST_MODULES_DIR_W) + L"\\tqlogo.DLL";
        tolvatest::TestPrinter printer(setup);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        // The bound is the seam's: a library that never gets ready is given up there.
        const DWORD oldBound = TQInterface::SetReadyTimeout(300);
        SheetSide side(printer.Handle(), true);
        coredriver::SheetRun run;
        bool missingShown = false, libraryWindow = false;
        run.script = [&](HWND sheet) {
            HWND page = coredriver::CurrentPage(sheet);
            // The stand-in template shows the control from the start: hide it, then let the
            // page open the library again on its next activation.
            ShowWindow(GetDlgItem(page, 1397), SW_HIDE);
            SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
            SendMessageW(sheet, PSM_SETCURSEL, 0, 0);
            page = coredriver::CurrentPage(sheet);
            missingShown = IsWindowVisible(GetDlgItem(page, 1397)) != FALSE;
            libraryWindow = FindWindowExW(page, nullptr, L"TQ2StandInWindow", nullptr) != nullptr;
            coredriver::SettleSheet(sheet);
            coredriver::SaveWindowPng(sheet, std::wstring(TOLVA_BINARY_DIR_W) + (c.ready ? L"\\tq_tab_ready.png" : L"\\tq_tab_never_ready.png"),
                                      nullptr, nullptr);
        };
        const bool ran = Run(side, run);
        TQInterface::SetReadyTimeout(oldBound);
        ASSERT_TRUE(ran) << run.error;
        const std::string log = folder.Log();
        EXPECT_EQ(missingShown, !c.ready) << log;
        EXPECT_EQ(libraryWindow, c.ready) << log;
        if (c.ready) {
            EXPECT_EQ(tqtest::Count(log, "Run"), 1u) << log;
            EXPECT_EQ(tqtest::Count(log, "SetJobControlsSettings"), 1u) << "the second activation only refreshes";
            EXPECT_NE(log.find("Picture 0 TRUE 4x2 -1"), std::string::npos) << log;
        } else {
            EXPECT_EQ(tqtest::Count(log, "Run"), 0u) << log;
            EXPECT_EQ(tqtest::Count(log, "SetJobKeyValues"), 0u) << log;
            EXPECT_GE(tqtest::Count(log, "IsServerReady"), 1u) << log;
            // One give-up per sheet: the second activation does not begin again.
            EXPECT_EQ(tqtest::Count(log, "BeginSession"), 1u) << log;
            EXPECT_EQ(tqtest::Count(log, "Init2"), 1u) << log;
            // Given up: the window and the session end before the sheet closes.
            const std::vector<std::string> calls = tqtest::Only(log, {"Init2", "IsServerReady", "Term2", "EndSession"});
            ASSERT_FALSE(calls.empty()) << log;
            EXPECT_EQ(calls.back(), "EndSession") << log;
        }
        EXPECT_EQ(folder.LiveBuffers(), 0);
    }
}

// The load-error box of the first sheet, held up until the test lets it go.
HANDLE g_boxShown = nullptr;
HANDLE g_boxDismissed = nullptr;
int WINAPI HeldBox(HWND, const wchar_t*, const wchar_t*, UINT) {
    SetEvent(g_boxShown);
    WaitForSingleObject(g_boxDismissed, 15000);
    return IDOK;
}
std::vector<std::wstring> g_pluginBoxes;
int RecordPluginBox(HWND, const wchar_t* text, const wchar_t*, UINT) {
    g_pluginBoxes.push_back(text ? text : L"");
    return IDOK;
}

TEST_F(TQTabTest, ASecondSheetOnAnotherThreadIsAnsweredAtOnceWhileTheFirstLoads) {
    struct Case {
        const char* name;
        const wchar_t* variant;  // empty: no library, the load shows its box
        const char* config;
    };
    for (const Case& c : {Case{"the first shows the load-error box", L"", ""},
                          Case{"the first waits for a completion that never comes", L"full", "complete=none\n"}}) {
        SCOPED_TRACE(c.name);
        TQFolder folder(c.variant, c.config);
        tolvatest::TestPrinter printer(SheetPrinterSetup({}));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        SheetSide side(printer.Handle(), true);
        g_boxShown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        g_boxDismissed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        g_pluginBoxes.clear();
        TQInterface::SetMessageBoxSeam(&HeldBox);
        const DWORD oldCompletion = TQInterface::SetCompletionTimeout(2000);
        PluginMessageBoxFn oldPluginBox = SetPluginMessageBox(&RecordPluginBox);
        TQSessionInfo session;
        InitTQSessionInfo(&session);
        session.dataFlags = 30;
        const bool withSession = c.variant[0] != L'\0';

        TQInterface* first = nullptr;
        std::thread loader([&] { first = AcquireTQInterface(folder.Quenta(), withSession ? &session : nullptr, withSession); });
        // The first sheet is inside: its box is up, or the library was asked for the session.
        bool inside = false;
        for (int i = 0; i < 500 && !inside; ++i) {
            inside = withSession ? folder.Log().find("SDMInitialize") != std::string::npos
                                 : WaitForSingleObject(g_boxShown, 0) == WAIT_OBJECT_0;
            if (!inside) Sleep(10);
        }
        const ULONGLONG start = GetTickCount64();
        PROPSHEETUI_INFO info = MakeInfo(PROPSHEETUI_REASON_INIT, &side.param);
        const HRESULT hr = DocumentPropertySheetsHandler(&info, 0, &side.core);
        const ULONGLONG spent = GetTickCount64() - start;
        SetEvent(g_boxDismissed);
        loader.join();

        EXPECT_TRUE(inside);
        std::printf("%s: the second sheet's handler answered in %llu ms\n", c.name, spent);
        EXPECT_LT(spent, 1000u) << "the second sheet's handler waited for the first";
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(info.UserData, 0u) << "no pages for the second sheet";
        ASSERT_EQ(g_pluginBoxes.size(), 1u) << "the busy message";
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->IsLoaded() != FALSE, withSession);
        ReleaseTQInterface(first);
        {
            SyncherHold<TQManager> hold(GetTQManagerSyncher());
            EXPECT_EQ(hold.Get()->GetUseCount(), 0);
        }
        SetPluginMessageBox(oldPluginBox);
        TQInterface::SetCompletionTimeout(oldCompletion);
        TQInterface::SetMessageBoxSeam(nullptr);
        CloseHandle(g_boxShown);
        CloseHandle(g_boxDismissed);
    }
}

TEST_F(TQTabTest, AFailedReloadLeavesTheSettingsAsTheyWere) {
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    CfgSettingsHold settings(printer.DataFile().c_str());
    ASSERT_NE(settings.Get(), nullptr);
    CDrvStateUI state(settings.Get(), &side.core, &side.param, &side.uiObject);
    ASSERT_TRUE(state.IsValid());
    CBaseSoup* soup = state.GetSoup();
    CKeySetting* colour = state.GetCurrentSettings()->Find(soup->Find(L"*QVColorMode"));
    ASSERT_NE(colour, nullptr);
    CKeySetting* changed = colour->Clone();
    ASSERT_EQ(changed->SetFromText(soup, state.GetKeyForest(), L"*QVColorMode", L"Grayscale"), 1);
    state.GetCurrentSettings()->Set(changed);
    delete changed;
    const size_t before = state.GetCurrentSettings()->GetCount();

    // The core driver's options cannot be read: the reload fails and nothing of the user's is lost.
    side.core.getOptionsAnswersAtOnce = true;
    EXPECT_FALSE(state.Load(settings.Get(), &side.param, &side.uiObject));
    EXPECT_EQ(std::wstring(state.GetOptionText(state.GetCurrentSettings(), L"*QVColorMode")), L"Grayscale");
    EXPECT_EQ(state.GetCurrentSettings()->GetCount(), before);
    // A reload that succeeds takes the device mode's settings.
    side.core.getOptionsAnswersAtOnce = false;
    EXPECT_TRUE(state.Load(settings.Get(), &side.param, &side.uiObject));
    EXPECT_EQ(std::wstring(state.GetOptionText(state.GetCurrentSettings(), L"*QVColorMode")), L"CMYK");
}

TEST(TQTabStatic, SessionRecordOnlyForTwoWayPrinters) {
    tqtest::SamplePrinter sample;
    ASSERT_TRUE(sample.Ok());
    CBaseDrvState* state = sample.State();
    CBaseSoup* soup = state->GetSoup();
    auto set = [&](const wchar_t* keyword, const wchar_t* value) {
        CKeySetting* found = state->GetCurrentSettings()->Find(soup->Find(keyword));
        if (!found) found = state->GetDefaultSettings()->Find(soup->Find(keyword));
        ASSERT_NE(found, nullptr);
        CKeySetting* clone = found->Clone();
        ASSERT_EQ(clone->SetFromText(soup, state->GetKeyForest(), keyword, value), 1);
        state->GetCurrentSettings()->Set(clone);
        delete clone;
    };
    set(L"*VYRIPAddress", L"10.9.8.7");
    struct Case {
        const wchar_t* twoWay;
        const wchar_t* update;
        bool record;
        uint32_t flags;
    };
    for (const Case& c : {Case{L"True", L"True", true, 30}, Case{L"True", L"False", true, 64},
                          Case{L"False", L"True", false, 0}}) {
        set(L"*TwoWayComm", c.twoWay);
        set(L"*UpdateTolva", c.update);
        TQSessionInfo* session = CTQDriverTab::BuildTQSessionInfo(sample.Settings(), state);
        ASSERT_EQ(session != nullptr, c.record);
        if (!session) continue;
        EXPECT_STREQ(session->server, "10.9.8.7");
        EXPECT_STREQ(session->userName, "guest");
        EXPECT_STREQ(session->encoding, "UTF8");
        EXPECT_STREQ(session->language, "en");
        EXPECT_EQ(session->dataFlags, c.flags);
        EXPECT_EQ(session->sessionKind, 5u);
        EXPECT_NE(session->tempFolder[0], '\0');
        delete session;
    }
    // An address longer than its field leaves the server empty rather than cut.
    set(L"*TwoWayComm", L"True");
    set(L"*VYRIPAddress", std::wstring(80, L'a').c_str());
    TQSessionInfo* session = CTQDriverTab::BuildTQSessionInfo(sample.Settings(), state);
    ASSERT_NE(session, nullptr);
    EXPECT_STREQ(session->server, "");
    delete session;
}

TEST(TQTabStatic, LogoIdComesFromResXmlBesideTheDataFile) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"john.doe-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring xml = dir + L"\\PRINTERRes.xml";
    HANDLE file = CreateFileW(xml.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const char text[] = "<?xml version=\"1.0\"?><oemdllfeatures><bitmapinfo><OEMbitmaps>"
                        "<bmp name=\"IDB_LOGO\" id=\"3120\"/></OEMbitmaps></bitmapinfo></oemdllfeatures>";
    DWORD written = 0;
    WriteFile(file, text, sizeof(text) - 1, &written, nullptr);
    CloseHandle(file);
    int found = CTQDriverTab::GetBitmapIdFromResXml((dir + L"\\PRINTER.PPD").c_str(), L"IDB_LOGO");
    int missingName = CTQDriverTab::GetBitmapIdFromResXml((dir + L"\\PRINTER.PPD").c_str(), L"IDB_OTHER");
    int noFile = CTQDriverTab::GetBitmapIdFromResXml((dir + L"\\OTHER.PPD").c_str(), L"IDB_LOGO");
    DeleteFileW(xml.c_str());
    RemoveDirectoryW(dir.c_str());
    EXPECT_EQ(CTQDriverTab::GetBitmapIdFromResXml(nullptr, L"IDB_LOGO"), -1);
    EXPECT_EQ(noFile, 0);
    EXPECT_EQ(missingName, -1);
    EXPECT_EQ(found, 3120) << "the folder's dot is no extension";
}

}  // namespace
