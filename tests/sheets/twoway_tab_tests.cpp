// The driver tabs over the real two-way road: the sheet's own CBiDiClient starts Brimsa
// (<stem>.SRV) with the scripted stand-in print-server library (<stem>.KQM, its script
// <stem>.script) beside the installed PPD, and talks to it over local RPC. The installable-
// options page's Update button with a controller that answers and one that refuses, the about
// page of a connected and of a refused printer (texts and link colour), the confirm-
// installables box at a connected document-sheet start, and sheets whose server cannot start.
// Every test ends the servers of its printers by process id.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "BiDiTestUtil.h"
#include "SheetTestSupport.h"
#include "TabSheetUtil.h"
#include "TabTestPPD.h"
#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "sheets/AboutDriverTab.h"
#include "uiplugin/BiDiClient.h"
#include "sheets/MemoryDC.h"
#include "sheets/MessageBox.h"
#include "sheets/TabOfPage.h"
#include "sheets/TextWindows.h"
#include "sheets/InsOptDriverTab.h"
#include "sheets/InsOptFacts.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DriverUserKey.h"
#include "storage/PrinterData.h"
#include "tests/storage/CfgTestUtil.h"
#include "storage/Validation.h"

using namespace tabsheet;

namespace {

constexpr int kAvailable = 1190, kInstalled = 1217, kServer = 1325, kUpdate = 1343, kEmail = 1352,
              kEmailAddress = 1370, kLink = 1410;

// The controller of the stand-in: installables, e-mail ready, the server information.
const char kControllerScript[] =
    "installable TolvaTray3=True\n"
    "installable TolvaFinisher=Stapler\n"
    "email 1\n"
    "feature QVServerName=CTL-9000\n"
    "feature QVServerVersion=2.1\n";
const std::string kRefusingScript = std::string("QVServerConnect fail\n") + kControllerScript;

// A printer with the tab stand-ins whose two-way companions are the given server program and
// library (empty: none) and the stand-in's script.
struct TwoWayPrinterFiles {
    std::wstring server = bidi_test::BrimsaPath();
    std::wstring library = bidi_test::StandInPath();
    std::string script = kControllerScript;
};

// The PPD is dir\<tag><index>.ppd.
tolvatest::TestPrinterSetup TwoWaySetup(const std::wstring& dir, const wchar_t* tag, int index, const std::string& extra,
                                        const TwoWayPrinterFiles& files, const wchar_t* lan, const std::wstring& port)
{
    std::wstring name = tag + std::to_wstring(index) + L".ppd";
    tolvatest::TestPrinterSetup setup = TabPrinterSetup(tabtest::WriteSampleVariant(dir, name.c_str(), extra), lan, port);
    std::erase_if(setup.companions, [](const tolvatest::TestPrinterFile& f) { return f.name == L"{stem}.KQM"; });
    std::wstring script = dir + L"\\" + name + L".script";
    tabtest::WriteFileBytes(script, files.script);
    if (!files.server.empty()) setup.companions.push_back({files.server, L"{stem}.SRV"});
    if (!files.library.empty()) setup.companions.push_back({files.library, L"{stem}.KQM"});
    setup.companions.push_back({script, L"{stem}.script"});
    return setup;
}

// Ends the servers of the printer's stem (by process id); true when none runs afterwards.
bool EndServersOf(const tolvatest::TestPrinter& printer)
{
    std::wstring image = printer.Stem() + L".SRV";
    bidi_test::EndProcesses(image);
    return bidi_test::FindProcesses(image).empty();
}

// Starts the printer's server and waits until it has the controller, then lets the client go:
// the server stays for its idle time. A sheet's own client has 2 s to start a server and
// connect, which a loaded machine running Wine can take for the start alone; tests of what a
// connected sheet does start from a running server.
bool WarmServer(const tolvatest::TestPrinter& printer, const wchar_t* address)
{
    SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", L"30000");
    CBiDiClient client(printer.Beside(L"{stem}.SRV").c_str(), printer.DataFile().c_str(), address, nullptr, 30000);
    SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", L"3000");
    return client.WaitForConnectAttempt(30000) && client.IsConnected() == 1;
}

std::string StandInLog(const tolvatest::TestPrinter& printer)
{
    return tabtest::ReadFileBytes(printer.Beside(L"{stem}.log"));
}

// The warnings the page showed.
struct Box {
    std::wstring text, caption;
};
std::vector<Box> g_boxes;
int RecordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT)
{
    g_boxes.push_back({text ? text : L"", caption ? caption : L"<none>"});
    return IDOK;
}

class TwoWayTabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A server left behind by a failed test still ends itself soon.
        SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", L"3000");
        SetValidationMessageBox([](HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; });
        g_boxes.clear();
        m_previousBox = SetSheetMessageBox(RecordBox);
    }
    void TearDown() override
    {
        SetSheetMessageBox(m_previousBox);
        SetValidationMessageBox(nullptr);
    }
    SheetMessageBoxFn m_previousBox = nullptr;
};

// The installable-options page: the address typed in, Update pressed. A controller that
// answers fills the installed list and shows the e-mail controls; one that refuses shows the
// language module's warning (the built-in text without strings 119/120) and leaves the lists.
TEST_F(TwoWayTabTest, UpdateButtonFetchesInstallablesOrWarns)
{
    struct Case {
        const char* name;
        std::string script;
        const wchar_t* lan;
        bool fetched;
        const wchar_t* text;
        const wchar_t* caption;
        const wchar_t* shot;
    } cases[] = {
        {"controller answers", kControllerScript, L"tabs.LAN", true, nullptr, nullptr, L"installable-update"},
        {"controller refuses", kRefusingScript, L"tabs.LAN", false,
         L"The controller could not be reached at this address.", L"Update from Controller", nullptr},
        {"refuses, no strings", kRefusingScript, L"tabsnomsg.LAN", false, L"Unable to connect to server", L"<none>",
         nullptr},
    };
    std::wstring dir = tabtest::ScratchDir(L"twoway-update");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_boxes.clear();
        TwoWayPrinterFiles files;
        files.script = c.script;
        // A port that names no controller ("FILE:" would name one called FILE): the page starts
        // without an address, so nothing is fetched before the user asks.
        tolvatest::TestPrinter printer(TwoWaySetup(dir, L"upd", n++, "", files, c.lan, L"LPT1:"));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        sheettest::SheetSide side(printer.Handle(), false);
        SetCoreOptions(side);
        coredriver::SheetRun run;
        std::vector<std::wstring> availableBefore, installedBefore, available, installed;
        bool found = false, updateEnabled = false, emailBefore = true, email = false, emailAddress = false,
             shot = false, serverRan = false;
        run.script = [&](HWND sheet) {
            HWND page = ShowPage(sheet, L"Installable Options");
            if (!(found = page != nullptr)) return;
            availableBefore = ListTexts(page, kAvailable);
            installedBefore = ListTexts(page, kInstalled);
            emailBefore = Visible(page, kEmail);
            SetDlgItemTextW(page, kServer, L"ctl.test");
            SendDlgItemMessageW(page, kServer, SKM_COMMITTEXT, 0, 0);
            Idle(page);
            updateEnabled = IsWindowEnabled(GetDlgItem(page, kUpdate)) != FALSE;
            Click(page, kUpdate);
            serverRan = !bidi_test::FindProcesses(printer.Stem() + L".SRV").empty();
            available = ListTexts(page, kAvailable);
            installed = ListTexts(page, kInstalled);
            email = Visible(page, kEmail);
            emailAddress = Visible(page, kEmailAddress);
            if (c.shot) {
                coredriver::SettleSheet(sheet, 100);
                shot = Shot(sheet, c.shot);
            }
        };
        ASSERT_TRUE(RunSheet(side, run, true)) << run.error;
        EXPECT_TRUE(EndServersOf(printer));
        ASSERT_TRUE(found);
        EXPECT_TRUE(updateEnabled);
        EXPECT_TRUE(serverRan) << "the sheet's client started <stem>.SRV";
        EXPECT_EQ(installedBefore, (std::vector<std::wstring>{L"Installed", L"2 GB"}));
        EXPECT_FALSE(emailBefore);
        std::string log = StandInLog(printer);
        EXPECT_GE(bidi_test::CountLines(log, "enter QVServerConnect"), 1) << log;
        if (c.fetched) {
            EXPECT_TRUE(g_boxes.empty());
            EXPECT_EQ(installed, (std::vector<std::wstring>{L"Installed", L"Installed", L"Stapler Finisher", L"2 GB"}));
            EXPECT_EQ(available, (std::vector<std::wstring>{L"Booklet Finisher", L"4 GB"}));
            EXPECT_TRUE(email) << "the controller is ready for e-mail";
            EXPECT_TRUE(emailAddress);
            EXPECT_GE(bidi_test::CountLines(log, "enter QVServerGetInstallablesList"), 1) << log;
            EXPECT_TRUE(shot);
        } else {
            ASSERT_EQ(g_boxes.size(), 1u);
            EXPECT_EQ(g_boxes[0].text, c.text);
            EXPECT_EQ(g_boxes[0].caption, c.caption);
            EXPECT_EQ(installed, installedBefore);
            EXPECT_EQ(available, availableBefore);
            EXPECT_FALSE(email);
            EXPECT_EQ(bidi_test::CountLines(log, "enter QVServerGetInstallablesList"), 0) << log;
        }
    }
}

// Counts the link window's pixels of a colour (0x00RRGGBB as ReadPixels gives them).
int LinkPixels(CMessageWnd* link, uint32_t colour)
{
    if (!link || !link->GetWindow()) return -1;
    RECT client = {};
    GetClientRect(link->GetWindow(), &client);
    CMemoryDC target(24, SIZE{client.right, client.bottom});
    link->Draw(target.GetDC(), link->GetWindow(), POINT{0, 0});
    int count = 0;
    for (uint32_t pixel : sheettest::ReadPixels(target.GetDC(), client)) count += pixel == colour;
    return count;
}

// The about page of printing preferences whose port names the controller: connected, the
// server information comes from the stand-in and the link is blue, and the confirm box shows
// at the sheet's start; refused, no values, a grey link and no box.
TEST_F(TwoWayTabTest, AboutPageAndConfirmBoxOfAConnectedPrinter)
{
    struct Case {
        const char* name;
        std::string script;
        bool connected;
        const wchar_t* values;
    } cases[] = {
        {"connected", kControllerScript, true, L"CTL-9000\n2.1\n"},
        {"refused", kRefusingScript, false, L"<null>"},
    };
    std::wstring dir = tabtest::ScratchDir(L"twoway-about");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TwoWayPrinterFiles files;
        files.script = c.script;
        tolvatest::TestPrinter printer(TwoWaySetup(dir, L"abt", n++, tabtest::kAboutLines, files, L"tabs.LAN", L"IP_ctl.test"));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        std::wstring userKey = DriverUserKeyPath(printer.DataFile().c_str());
        DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.c_str());
        if (c.connected) {
            ASSERT_TRUE(WarmServer(printer, L"ctl.test"));
        }
        sheettest::SheetSide side(printer.Handle(), true);
        SetCoreOptions(side);
        coredriver::SheetRun run;
        bool found = false, connected = false, linkEnabled = false, shot = false;
        std::wstring labels, values;
        int blue = -1, grey = -1;
        run.script = [&](HWND sheet) {
            HWND page = ShowPage(sheet, L"About");
            auto* tab = page ? dynamic_cast<CAboutDriverTab*>(DriverTabOfPage(page)) : nullptr;
            if (!(found = tab != nullptr)) return;
            auto text = [](wchar_t* owned) {
                WText hold(owned);
                return hold ? std::wstring(hold.get()) : std::wstring(L"<null>");
            };
            labels = text(tab->ServerInfoLabels());
            values = text(tab->QueryServerInfoText());
            connected = tab->IsConnected();
            linkEnabled = tab->IsLinkEnabled();
            blue = LinkPixels(tab->GetTextWindow(kLink), 0x0000C8u);
            grey = LinkPixels(tab->GetTextWindow(kLink), 0xC8C8C8u);
            shot = Shot(sheet, c.connected ? L"about-twoway-connected" : L"about-twoway-refused");
        };
        std::vector<std::wstring> boxes;
        coredriver::DialogAnswerer answerer(GetCurrentThreadId(), kConfirmTextControl, kConfirmCheckControl, IDCANCEL,
                                            [&boxes](HWND box) {
                                                wchar_t title[128] = {};
                                                GetWindowTextW(box, title, 128);
                                                boxes.push_back(title);
                                            });
        ASSERT_TRUE(RunSheet(side, run)) << run.error;
        answerer.Stop();
        EXPECT_TRUE(EndServersOf(printer));
        ASSERT_TRUE(found);
        EXPECT_EQ(labels, L"Server Name\nServer Version\n");
        EXPECT_EQ(values, c.values);
        EXPECT_EQ(connected, c.connected);
        EXPECT_EQ(linkEnabled, c.connected);
        // The link's text in 0xC80000 when enabled, 0xC8C8C8 when not (0x00BBGGRR colours).
        EXPECT_GT(c.connected ? blue : grey, 10);
        EXPECT_EQ(c.connected ? grey : blue, 0);
        EXPECT_TRUE(shot);
        if (c.connected) {
            ASSERT_EQ(boxes.size(), 1u) << "a connected document sheet asks about the installables";
            EXPECT_EQ(boxes[0], L"Installable Options");
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        // Cancel wrote nothing: the question stays for the next start.
        GPRegUtil key(HKEY_CURRENT_USER, userKey.c_str());
        EXPECT_EQ(key.GetDWord(L"QVConfirmInstallablesDialog", 7), 7u);
        EXPECT_EQ(key.GetDWord(L"QVShowAttention", 7), c.connected ? 1u : 0u);
        DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.c_str());
    }
}

// Sheets whose server cannot start (no <stem>.SRV; a <stem>.KQM that is no print-server
// library) still open with their own settings, and close; no server is left running.
TEST_F(TwoWayTabTest, SheetsOpenAndCloseWhenNoServerCanStart)
{
    struct Case {
        const char* name;
        TwoWayPrinterFiles files;
        bool device;
    } cases[] = {
        {"no server program", {L"", bidi_test::StandInPath(), kControllerScript}, true},
        {"library is no print-server library", {bidi_test::BrimsaPath(), Module(L"pngres.dll"), kControllerScript},
         true},
        {"no server program, preferences", {L"", bidi_test::StandInPath(), kControllerScript}, false},
        {"library is no print-server library, preferences",
         {bidi_test::BrimsaPath(), Module(L"pngres.dll"), kControllerScript}, false},
    };
    std::wstring dir = tabtest::ScratchDir(L"twoway-noserver");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tolvatest::TestPrinter printer(TwoWaySetup(dir, L"nos", n++, tabtest::kAboutLines, c.files, L"tabs.LAN", L"IP_ctl.test"));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        std::wstring userKey = DriverUserKeyPath(printer.DataFile().c_str());
        DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.c_str());
        sheettest::SheetSide side(printer.Handle(), !c.device);
        SetCoreOptions(side);
        coredriver::SheetRun run;
        bool found = false, connected = true;
        std::vector<std::wstring> installed;
        auto start = std::chrono::steady_clock::now();
        double openMs = 0;
        run.script = [&](HWND sheet) {
            openMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (c.device) {
                HWND page = ShowPage(sheet, L"Installable Options");
                if (!(found = page != nullptr)) return;
                installed = ListTexts(page, kInstalled);
            }
            HWND about = ShowPage(sheet, L"About");
            auto* tab = about ? dynamic_cast<CAboutDriverTab*>(DriverTabOfPage(about)) : nullptr;
            if (!tab) return;
            found = true;
            connected = tab->IsConnected();
        };
        coredriver::DialogAnswerer answerer(GetCurrentThreadId(), kConfirmTextControl, kConfirmCheckControl, IDCANCEL,
                                            nullptr);
        ASSERT_TRUE(RunSheet(side, run, c.device)) << run.error;
        EXPECT_EQ(answerer.Stop(), 0);
        // Informational: the open waits at most for the client's bounded connect attempt.
        std::printf("[ %s ] sheet open %.0f ms\n", c.name, openMs);
        EXPECT_TRUE(found);
        EXPECT_FALSE(connected);
        if (c.device) {
            EXPECT_EQ(installed, (std::vector<std::wstring>{L"Installed", L"2 GB"}));
        }
        // A server that could not bind its library ends itself; none is left either way.
        EXPECT_TRUE(bidi_test::WaitNoProcess(printer.Stem() + L".SRV", 5000));
        EXPECT_TRUE(EndServersOf(printer));
        DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.c_str());
    }
}

// A printer shared from a print server (the facts seam: Wine's printers are local) whose user
// may administer it.
const InsOptPrinterFacts kSharedAdministered = {
    [](HANDLE) -> BOOL { return TRUE; }, [](HANDLE) -> BOOL { return FALSE; }, []() -> BOOL { return TRUE; },
    [](const wchar_t*) -> BOOL { return FALSE; }};

// The installable-options page of a shared printer fetches from the controller only while the
// user lets the options follow it (two-way on, options updated) or may not change them.
TEST_F(TwoWayTabTest, ASharedPrinterFetchesWhenTwoWayAndUpdated)
{
    struct Case {
        const char* name;
        const wchar_t* twoWay;
        const wchar_t* updated;
        bool fetched;
    } cases[] = {
        {"two-way and updated", L"True", L"True", true},
        {"two-way, never updated", L"True", L"False", false},
        {"updated, two-way off", L"False", L"True", false},
    };
    std::wstring dir = tabtest::ScratchDir(L"twoway-refresh");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tolvatest::TestPrinter printer(TwoWaySetup(dir, L"ref", n++, "", TwoWayPrinterFiles(), L"tabs.LAN", L"LPT1:"));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        PrnSetText(printer.Handle(), L"QVTwoWayServer", L"ctl.test");
        if (c.fetched) {
            ASSERT_TRUE(WarmServer(printer, L"ctl.test"));
        }
        SetInsOptPrinterFacts(&kSharedAdministered);
        sheettest::SheetSide side(printer.Handle(), false);
        SetCoreOptions(side);
        coredriver::SheetRun run;
        BOOL refreshed = -1;
        std::wstring finisher;
        int fetchesBefore = -1, fetchesAfter = -1;
        run.script = [&](HWND sheet) {
            HWND page = ShowPage(sheet, L"Installable Options");
            auto* tab = page ? dynamic_cast<CInsOptDriverTab*>(DriverTabOfPage(page)) : nullptr;
            CDrvStateUI* state = StateOfPage(page);
            if (!tab || !state) return;
            state->SetOptionByText(state->GetCurrentSettings(), L"*TwoWayComm", c.twoWay);
            state->SetOptionByText(state->GetCurrentSettings(), L"*UpdatedProps", c.updated);
            // The sheet's start already asked the controller: the finisher is put back first.
            state->SetOptionByText(state->GetCurrentSettings(), L"*TolvaFinisher", L"None");
            fetchesBefore = bidi_test::CountLines(StandInLog(printer), "enter QVServerGetInstallablesList");
            refreshed = tab->RefreshFromServer(15);
            fetchesAfter = bidi_test::CountLines(StandInLog(printer), "enter QVServerGetInstallablesList");
            finisher = StateOption(state, L"*TolvaFinisher");
        };
        ASSERT_TRUE(RunSheet(side, run, true)) << run.error;
        SetInsOptPrinterFacts(nullptr);
        EXPECT_TRUE(EndServersOf(printer));
        EXPECT_EQ(refreshed, c.fetched ? TRUE : FALSE);
        EXPECT_EQ(fetchesAfter > fetchesBefore, c.fetched) << fetchesBefore << " -> " << fetchesAfter;
        EXPECT_EQ(finisher, c.fetched ? L"Stapler" : L"None");
    }
}

// Another thread that takes the PPD while the page's fetch runs; the moment it had them.
struct Watcher {
    std::wstring ppd;
    DWORD startAfterMs = 0;
    bool acquired = false;
    std::chrono::steady_clock::time_point when;
};

DWORD WINAPI AcquireDuringFetch(void* parameter)
{
    auto* watcher = static_cast<Watcher*>(parameter);
    Sleep(watcher->startAfterMs);
    CfgSettings* held = AcquireCfgSettings(watcher->ppd.c_str());
    watcher->when = std::chrono::steady_clock::now();
    watcher->acquired = held != nullptr;
    ReleaseCfgSettings(watcher->ppd.c_str(), held);
    return 0;
}

// The PPD is replaced while the printer's sheet is open: the fetch and the about page's server
// information use the driver state's own compiled settings, so the controller's installables
// reach the state and what OK saves; and the fetch holds no PPD lock, so another thread of the
// process takes the PPD while the controller is still answering.
TEST_F(TwoWayTabTest, APPDReplacedUnderOpenPagesKeepsTheStatesKeysAndNoLockAcrossTheFetch)
{
    std::wstring dir = tabtest::ScratchDir(L"twoway-replaced");
    TwoWayPrinterFiles files;
    files.script = std::string("QVServerGetInstallablesList ok 2000\n") + kControllerScript;
    tolvatest::TestPrinter printer(TwoWaySetup(dir, L"rep", 0, tabtest::kAboutLines, files, L"tabs.LAN", L"LPT1:"));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    sheettest::SheetSide side(printer.Handle(), false);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    bool replaced = false, found = false;
    std::string why;
    std::vector<std::wstring> installed;
    std::wstring values;
    Watcher watcher;
    watcher.ppd = printer.DataFile();
    watcher.startAfterMs = 500;
    std::chrono::steady_clock::time_point fetchEnded;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"Installable Options");
        CDrvStateUI* state = StateOfPage(page);
        if (!(found = page && state)) return;
        // The same keys behind a new installable ahead of them: every later string gets another slot.
        std::string other = tabtest::ReadFileBytes(printer.DataFile());
        size_t group = other.find("*OpenUI *TolvaTray3");
        if (group == std::string::npos) return;
        other.insert(group, "*OpenUI *TolvaAlpha/Alpha: PickOne\r\n*DefaultTolvaAlpha: One\r\n"
                                    "*TolvaAlpha One/One: \"\"\r\n*TolvaAlpha Two/Two: \"\"\r\n*CloseUI: *TolvaAlpha\r\n");
        if (!tabtest::WriteFileBytes(printer.DataFile(), other) || !cfgtest::Touch(printer.DataFile(), 300)) return;
        {
            CfgSettingsHold now(printer.DataFile().c_str());
            replaced = now.Get() && now.Get() != state->GetGeneration() &&
                       now.Get()->GetStringSoup()->Find(L"*TolvaFinisher") != state->GetSoup()->Find(L"*TolvaFinisher");
            why = std::string(now.Get() ? "held" : "none") +
                  (now.Get() == state->GetGeneration() ? ", same generation" : ", new generation") + ", finisher " +
                  std::to_string(state->GetSoup()->Find(L"*TolvaFinisher").GetIndex()) + " -> " +
                  std::to_string(now.Get() ? now.Get()->GetStringSoup()->Find(L"*TolvaFinisher").GetIndex() : -2);
        }
        SetDlgItemTextW(page, kServer, L"ctl.test");
        SendDlgItemMessageW(page, kServer, SKM_COMMITTEXT, 0, 0);
        Idle(page);
        HANDLE thread = CreateThread(nullptr, 0, AcquireDuringFetch, &watcher, 0, nullptr);
        Click(page, kUpdate);
        fetchEnded = std::chrono::steady_clock::now();
        if (thread) {
            WaitForSingleObject(thread, 60000);
            CloseHandle(thread);
        }
        installed = ListTexts(page, kInstalled);
        HWND about = ShowPage(sheet, L"About");
        auto* tab = about ? dynamic_cast<CAboutDriverTab*>(DriverTabOfPage(about)) : nullptr;
        WText text(tab ? tab->QueryServerInfoText() : nullptr);
        values = text ? text.get() : L"<null>";
        SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    };
    ASSERT_TRUE(RunSheet(side, run, true)) << run.error;
    EXPECT_TRUE(EndServersOf(printer));
    ASSERT_TRUE(found);
    ASSERT_TRUE(replaced) << "the rewritten PPD gives a new generation that numbers its strings otherwise: " << why;
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(installed, (std::vector<std::wstring>{L"Installed", L"Installed", L"Stapler Finisher", L"2 GB"}));
    EXPECT_EQ(values, L"CTL-9000\n2.1\n");
    EXPECT_EQ(CoreOption(side, "TolvaFinisher"), "Stapler");
    EXPECT_EQ(CoreOption(side, "TolvaTray3"), "True");
    ASSERT_TRUE(watcher.acquired);
    EXPECT_LT(watcher.when, fetchEnded) << "the other thread had the PPD before the fetch ended";
}

}  // namespace
