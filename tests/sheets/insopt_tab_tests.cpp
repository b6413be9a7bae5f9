// The installable-options page on real device sheets of a printer with the tab stand-ins: the
// two lists, adding and removing with two-way off, restoring the defaults, what OK writes
// (core options, "QVTwoWayServer", the user key), the printer-facts seam (locked, controller,
// basic), and the controller address rules. The two-way road itself (Brimsa) is not driven here.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TabSheetUtil.h"
#include "TabTestPPD.h"
#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "sheets/InsOptDriverTab.h"
#include "sheets/InsOptFacts.h"
#include "sheets/TabOfPage.h"
#include "settings/KeyUtility.h"
#include "SheetTestSupport.h"
#include "storage/DriverUserKey.h"
#include "storage/PrinterData.h"
#include "storage/Validation.h"

using namespace tabsheet;

namespace {

constexpr int kAvailable = 1190, kInstalled = 1217, kTwoWay = 1307, kServer = 1325, kRestore = 1055, kAdd = 1199;

// Double-clicks the item of that text as a user would; false when the list has none.
bool DoubleClick(HWND page, int id, const wchar_t* text)
{
    std::vector<std::wstring> texts = ListTexts(page, id);
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i] == text) {
            HWND list = GetDlgItem(page, id);
            SendMessageW(list, LB_SETCURSEL, i, 0);
            SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
            SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
            return true;
        }
    return false;
}

class InsOptTabTest : public ::testing::Test {
protected:
    void SetUp() override { SetValidationMessageBox([](HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }); }
    void TearDown() override
    {
        SetValidationMessageBox(nullptr);
        SetInsOptPrinterFacts(nullptr);
    }
};

TEST_F(InsOptTabTest, ListsAddRemoveRestoreAndWhatOkWrites)
{
    tolvatest::TestPrinter printer(TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"insopt"), L"ins.ppd", "")));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    std::wstring userKey = DriverUserKeyPath(printer.DataFile().c_str());
    DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.c_str());
    sheettest::SheetSide side(printer.Handle(), false);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    std::vector<std::wstring> available, installed, availableAfter, installedAfter, restoredInstalled;
    std::wstring finisher, duplex, memoryAfterRemove, finisherRestored, duplexRestored;
    bool found = false, shot = false;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"Installable Options");
        if (!(found = page != nullptr)) return;
        available = ListTexts(page, kAvailable);
        installed = ListTexts(page, kInstalled);
        shot = Shot(sheet, L"installable");
        if (Checked(page, kTwoWay)) Click(page, kTwoWay);
        Idle(page);
        DoubleClick(page, kAvailable, L"Stapler Finisher");
        DoubleClick(page, kInstalled, L"Installed");
        CDrvStateUI* state = StateOfPage(page);
        finisher = StateOption(state, L"*TolvaFinisher");
        duplex = StateOption(state, L"*TolvaDuplexUnit");
        availableAfter = ListTexts(page, kAvailable);
        installedAfter = ListTexts(page, kInstalled);
        DoubleClick(page, kInstalled, L"2 GB");
        memoryAfterRemove = StateOption(state, L"*InstalledMemory");
        // Add without a selection is ignored.
        SendDlgItemMessageW(page, kAvailable, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        SendMessageW(page, WM_COMMAND, kAdd, reinterpret_cast<LPARAM>(GetDlgItem(page, kAdd)));
        Click(page, kRestore);
        finisherRestored = StateOption(state, L"*TolvaFinisher");
        duplexRestored = StateOption(state, L"*TolvaDuplexUnit");
        restoredInstalled = ListTexts(page, kInstalled);
        DoubleClick(page, kAvailable, L"Stapler Finisher");
        SetDlgItemTextW(page, kServer, L"ctl.test");
        SendDlgItemMessageW(page, kServer, SKM_COMMITTEXT, 0, 0);
        Idle(page);
        SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    };
    ASSERT_TRUE(RunSheet(side, run, true)) << run.error;
    ASSERT_TRUE(found);
    EXPECT_EQ(available, (std::vector<std::wstring>{L"Installed", L"Stapler Finisher", L"Booklet Finisher", L"4 GB"}));
    EXPECT_EQ(installed, (std::vector<std::wstring>{L"Installed", L"2 GB"}));
    EXPECT_TRUE(shot);
    EXPECT_EQ(finisher, L"Stapler");
    EXPECT_EQ(duplex, L"False");
    EXPECT_EQ(installedAfter, (std::vector<std::wstring>{L"Stapler Finisher", L"2 GB"}));
    EXPECT_EQ(memoryAfterRemove, L"2GB");
    EXPECT_EQ(finisherRestored, L"None");
    EXPECT_EQ(duplexRestored, L"True");
    EXPECT_EQ(restoredInstalled, installed);
    EXPECT_EQ(CoreOption(side, "TolvaFinisher"), "Stapler");
    WText server(PrnGetText(printer.Handle(), L"QVTwoWayServer"));
    EXPECT_EQ(std::wstring(server ? server.get() : L"<none>"), L"ctl.test");
    GPRegUtil key(HKEY_CURRENT_USER, userKey.c_str());
    EXPECT_EQ(key.GetDWord(kConfirmInstallablesValue, 0), 1u);
    DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.c_str());
}

TEST_F(InsOptTabTest, PrinterFactsLockAndHideControls)
{
    struct Case {
        const char* name;
        InsOptPrinterFacts facts;
        const char* extra;
        bool twoWayEnabled, restoreEnabled, listsShown;
    } cases[] = {
        {"local administrator", {[](HANDLE) -> BOOL { return FALSE; }, [](HANDLE) -> BOOL { return FALSE; },
                                 []() -> BOOL { return TRUE; }, [](const wchar_t*) -> BOOL { return FALSE; }},
         "", true, false, true},
        {"locked: remote and denied", {[](HANDLE) -> BOOL { return TRUE; }, [](HANDLE) -> BOOL { return FALSE; },
                                       []() -> BOOL { return FALSE; }, [](const wchar_t*) -> BOOL { return TRUE; }},
         "", false, false, true},
        {"controller print server", {[](HANDLE) -> BOOL { return TRUE; }, [](HANDLE) -> BOOL { return TRUE; },
                                     []() -> BOOL { return TRUE; }, [](const wchar_t*) -> BOOL { return FALSE; }},
         "", false, false, true},
        {"basic", {[](HANDLE) -> BOOL { return FALSE; }, [](HANDLE) -> BOOL { return FALSE; },
                   []() -> BOOL { return TRUE; }, [](const wchar_t*) -> BOOL { return FALSE; }},
         "*%VYRNONUI_VYRSpecialOption *QVIsBasicXPSDrvr/Basic: \"True\"", true, false, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        wchar_t name[32];
        FormatToBuffer(name, 32, L"facts%d.ppd", n++);
        tolvatest::TestPrinter printer(TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"insopt"), name, c.extra)));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        SetInsOptPrinterFacts(&c.facts);
        sheettest::SheetSide side(printer.Handle(), false);
        SetCoreOptions(side);
        coredriver::SheetRun run;
        bool twoWayEnabled = false, restoreEnabled = false, listsShown = false, found = false;
        run.script = [&](HWND sheet) {
            HWND page = ShowPage(sheet, L"Installable Options");
            if (!(found = page != nullptr)) return;
            twoWayEnabled = IsWindowEnabled(GetDlgItem(page, kTwoWay)) != FALSE;
            restoreEnabled = IsWindowEnabled(GetDlgItem(page, kRestore)) != FALSE;
            listsShown = Visible(page, kAvailable) && Visible(page, kInstalled);
        };
        ASSERT_TRUE(RunSheet(side, run, true)) << run.error;
        SetInsOptPrinterFacts(nullptr);
        EXPECT_TRUE(found) << c.name;
        EXPECT_EQ(twoWayEnabled, c.twoWayEnabled) << c.name;
        EXPECT_EQ(restoreEnabled, c.restoreEnabled) << c.name;
        EXPECT_EQ(listsShown, c.listsShown) << c.name;
    }
}

TEST_F(InsOptTabTest, ControllerAddressRules)
{
    tolvatest::TestPrinter printer(TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"insopt"), L"addr.ppd", ""),
                                                   L"tabs.LAN", L"IP_10.1.2.3"));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    struct Case {
        const wchar_t* stored;  // printer data "QVTwoWayServer" (null: none)
        bool remote, updated;
        const wchar_t* note;
        const wchar_t* expected;
    } cases[] = {
        {L"10.0.0.1|10.0.0.2|ctl.test", true, false, nullptr, L"ctl.test"},
        {L"localhost", true, false, nullptr, L"10.1.2.3"},
        {L"(null)", true, false, nullptr, L"10.1.2.3"},
        {L"LocalHost", true, false, nullptr, L"10.1.2.3"},
        {L"(NULL)", true, false, nullptr, L"10.1.2.3"},
        {L"ctl.test", true, true, nullptr, L"ctl.test"},
        {nullptr, false, true, L"a.test|b.test", L"b.test"},
        {nullptr, false, false, L"a.test", L"10.1.2.3"},
    };
    for (const Case& c : cases) {
        PrnSetText(printer.Handle(), L"QVTwoWayServer", c.stored ? c.stored : L"");
        EXPECT_EQ(InsOptServerAddress(printer.Handle(), c.remote, c.updated, c.note), c.expected)
            << (c.stored ? c.stored : L"(none)") << " / " << (c.note ? c.note : L"(none)");
    }
    // A port that names no controller keeps the note's address.
    tolvatest::TestPrinter local(
        TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"insopt"), L"addr2.ppd", ""), L"tabs.LAN", L"LPT1:"));
    ASSERT_TRUE(local.Ok()) << local.Error();
    EXPECT_EQ(InsOptServerAddress(local.Handle(), false, false, L"kept.test"), L"kept.test");
}

// The pixels of a control on the screen.
std::vector<uint32_t> ControlPixels(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    UpdateWindow(page);
    RECT rect;
    GetWindowRect(control, &rect);
    HDC screen = GetDC(nullptr);
    std::vector<uint32_t> pixels = sheettest::ReadPixels(screen, rect);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The printer picture follows every change of the lists: a test OEM module draws a layer for
// each installable the user adds or removes.
TEST_F(InsOptTabTest, ThePrinterPictureIsRedrawnAfterEachListChange)
{
    tolvatest::TestPrinterSetup setup =
        TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"insopt"), L"pict.ppd", ""));
    setup.companions.push_back({Module(L"PRNPICT.OEM"), L"{stem}.OEM"});
    tolvatest::TestPrinter printer(setup);
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    sheettest::SheetSide side(printer.Handle(), false);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    std::vector<std::vector<uint32_t>> pictures;
    std::vector<std::wstring> steps;
    bool found = false;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"Installable Options");
        if (!(found = page != nullptr)) return;
        if (Checked(page, kTwoWay)) Click(page, kTwoWay);
        Idle(page);
        auto take = [&](const wchar_t* step) {
            steps.push_back(step);
            pictures.push_back(ControlPixels(page, 1145));
        };
        take(L"opened");
        DoubleClick(page, kAvailable, L"Stapler Finisher");
        take(L"finisher added");
        DoubleClick(page, kInstalled, L"Installed");  // the duplex unit
        take(L"duplex unit removed");
        Shot(sheet, L"installable-picture-changed");
        Click(page, kRestore);
        take(L"defaults restored");
    };
    ASSERT_TRUE(RunSheet(side, run, true)) << run.error;
    ASSERT_TRUE(found);
    ASSERT_EQ(pictures.size(), 4u);
    for (size_t i = 0; i < pictures.size(); ++i) {
        ASSERT_FALSE(pictures[i].empty()) << testing::PrintToString(steps[i]);
        bool oneColour = std::all_of(pictures[i].begin(), pictures[i].end(), [&](uint32_t p) { return p == pictures[i][0]; });
        EXPECT_FALSE(oneColour) << "a printer is drawn: " << testing::PrintToString(steps[i]);
    }
    for (size_t i = 1; i < pictures.size(); ++i)
        EXPECT_NE(pictures[i], pictures[i - 1]) << testing::PrintToString(steps[i]);
    EXPECT_EQ(pictures[3], pictures[0]) << "the defaults draw the printer as it opened";
}

// A printer shared from a print server (the facts seam) resolves its two-way address from the
// printer data "QVTwoWayServer": "(null)" and "localhost" in any case are no address and give
// the port's, several addresses give the last; without the value the port's address is written
// back.
TEST_F(InsOptTabTest, ASharedPrinterResolvesItsTwoWayAddressAtTheSheetsStart)
{
    static const InsOptPrinterFacts shared = {
        [](HANDLE) -> BOOL { return TRUE; }, [](HANDLE) -> BOOL { return FALSE; }, []() -> BOOL { return TRUE; },
        [](const wchar_t*) -> BOOL { return FALSE; }};
    struct Case {
        const wchar_t* stored;  // null: no value
        const wchar_t* address;
        const wchar_t* storedAfter;
    } cases[] = {
        {L"(null)", L"10.1.2.3", L"(null)"},
        {L"LOCALHOST", L"10.1.2.3", L"LOCALHOST"},
        {L"10.0.0.1|10.0.0.2|ctl.test", L"ctl.test", L"10.0.0.1|10.0.0.2|ctl.test"},
        {nullptr, L"10.1.2.3", L"10.1.2.3"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : L"(none)");
        wchar_t name[32] = {};
        FormatToBuffer(name, 32, L"shared%d.ppd", n++);
        tolvatest::TestPrinter printer(
            TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"insopt"), name, ""), L"tabs.LAN", L"IP_10.1.2.3"));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        if (c.stored) PrnSetText(printer.Handle(), L"QVTwoWayServer", c.stored);
        SetInsOptPrinterFacts(&shared);
        sheettest::SheetSide side(printer.Handle(), false);
        SetCoreOptions(side);
        coredriver::SheetRun run;
        std::wstring address, twoWay, update;
        run.script = [&](HWND sheet) {
            CDrvStateUI* state = StateOfPage(ShowPage(sheet, L"Installable Options"));
            CKeySettingsUtility keys(state);
            const wchar_t* note = keys.IsValid() ? keys.GetNoteTextByProp(5020) : nullptr;
            address = note ? note : L"<none>";
            twoWay = StateOption(state, L"*TwoWayComm");
            update = StateOption(state, L"*UpdateTolva");
        };
        ASSERT_TRUE(RunSheet(side, run, true)) << run.error;
        SetInsOptPrinterFacts(nullptr);
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(twoWay, L"True") << "the two-way defaults are applied";
        EXPECT_EQ(update, L"True");
        WText stored(PrnGetText(printer.Handle(), L"QVTwoWayServer"));
        EXPECT_EQ(std::wstring(stored ? stored.get() : L"<none>"), c.storedAfter);
    }
}

}  // namespace
