// Real compstui sheets (the core driver's stand-in, under the display) of a printer whose two-
// way road does not answer: a controller that holds its connect for 60 s behind the real
// Brimsa, and a server that never answers BiDiOpen. The printing preferences and the printer's
// properties open within 3 s and close within 3 s, and the host process ends cleanly. Each
// sheet runs in a child process of this program (the host), which the test waits for.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BiDiTestUtil.h"
#include "tests/sheets/SheetTestSupport.h"
#include "tests/sheets/TabSheetUtil.h"
#include "tests/sheets/TabTestPPD.h"
#include "foundation/GPRegUtil.h"
#include "sheets/AboutDriverTab.h"
#include "sheets/MessageBox.h"
#include "storage/DriverUserKey.h"
#include "storage/Validation.h"

using namespace tabsheet;

namespace {

constexpr double kBoundMs = 3000.0;

const char kControllerScript[] =
    "installable TolvaTray3=True\n"
    "email 1\n"
    "feature QVServerName=CTL-9000\n";

struct Case {
    const char* name;
    bool silentServer;  // else Brimsa with a controller that holds its connect
    bool device;        // the printer's properties, else the preferences
};
const Case kCases[] = {
    {"hung controller, preferences", false, false},
    {"hung controller, printer properties", false, true},
    {"silent server, preferences", true, false},
    {"silent server, printer properties", true, true},
};

// The host's figures, written by the child: open and close times, whether the about page was
// reached and showed two-way as unreachable, the tick at which the sheet had closed, and the
// printer's stem (the test printer adds a unique suffix to the data file's name), whose servers
// the test ends: a silent server left running would hold the test's output open.
struct Figures {
    double openMs = -1, closeMs = -1;
    int found = 0, connected = 1;
    unsigned long closedTick = 0;
    std::wstring stem;
};

// Beside this program (a scratch folder would be made afresh by each reader).
std::wstring FiguresPath(int index) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.resize(path.find_last_of(L'\\') + 1);
    return path + L"bidi-sheet-case" + std::to_wstring(index) + L".txt";
}

// The child: one sheet of the case, its figures into the file; exit code 0 when it ran.
int RunSheetChild(int index) {
    const Case& c = kCases[index];
    SetValidationMessageBox([](HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; });
    SetSheetMessageBox([](HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; });
    std::wstring dir = tabtest::ScratchDir(L"bidi-sheet-" + std::to_wstring(index));
    std::wstring name = L"road" + std::to_wstring(index) + L".ppd";
    tolvatest::TestPrinterSetup setup =
        TabPrinterSetup(tabtest::WriteSampleVariant(dir, name.c_str(), tabtest::kAboutLines), L"tabs.LAN", L"IP_ctl.test");
    std::erase_if(setup.companions, [](const tolvatest::TestPrinterFile& f) { return f.name == L"{stem}.KQM"; });
    const std::string script = std::string(kControllerScript) + (c.silentServer ? "" : "QVServerConnect ok 60000\n");
    const std::wstring scriptPath = dir + L"\\" + name + L".script";
    tabtest::WriteFileBytes(scriptPath, script);
    setup.companions.push_back({c.silentServer ? bidi_test::SilentServerPath() : bidi_test::BrimsaPath(), L"{stem}.SRV"});
    setup.companions.push_back({bidi_test::StandInPath(), L"{stem}.KQM"});
    setup.companions.push_back({scriptPath, L"{stem}.script"});
    tolvatest::TestPrinter printer(setup);
    if (!printer.Ok()) return 2;
    const std::wstring userKey = DriverUserKeyPath(printer.DataFile().c_str());
    DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.c_str());
    sheettest::SheetSide side(printer.Handle(), !c.device);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    Figures figures;
    LARGE_INTEGER frequency, opened, scriptEnd, closed;
    QueryPerformanceFrequency(&frequency);
    auto ms = [&](const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
        return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    };
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    run.script = [&](HWND sheet) {
        QueryPerformanceCounter(&opened);
        HWND about = ShowPage(sheet, L"About");
        auto* tab = about ? dynamic_cast<CAboutDriverTab*>(DriverTabOfPage(about)) : nullptr;
        if (tab) {
            figures.found = 1;
            figures.connected = tab->IsConnected() ? 1 : 0;
        }
        sheettest::SaveWindowPng(sheet, (L"bidi-road-" + std::to_wstring(index) + L".png").c_str());
        QueryPerformanceCounter(&scriptEnd);
    };
    coredriver::DialogAnswerer answerer(GetCurrentThreadId(), kConfirmTextControl, kConfirmCheckControl, IDCANCEL,
                                        nullptr);
    const bool ran = RunSheet(side, run, c.device);
    QueryPerformanceCounter(&closed);
    answerer.Stop();
    figures.openMs = ms(start, opened);
    figures.closeMs = ms(scriptEnd, closed);
    figures.closedTick = GetTickCount();
    DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.c_str());
    FILE* file = _wfopen(FiguresPath(index).c_str(), L"wb");
    if (file) {
        std::fprintf(file, "%.1f %.1f %d %d %lu %ls\n", figures.openMs, figures.closeMs, figures.found,
                     figures.connected, figures.closedTick, printer.Stem().c_str());
        std::fclose(file);
    }
    return ran ? 0 : 3;
}

Figures ReadFigures(int index) {
    Figures figures;
    FILE* file = _wfopen(FiguresPath(index).c_str(), L"rb");
    if (!file) return figures;
    wchar_t stem[MAX_PATH] = {};
    if (std::fscanf(file, "%lf %lf %d %d %lu %259ls", &figures.openMs, &figures.closeMs, &figures.found,
                    &figures.connected, &figures.closedTick, stem) != 6)
        figures = Figures();
    else
        figures.stem = stem;
    std::fclose(file);
    return figures;
}

}  // namespace

TEST(BiDiSheet, OpensAndClosesWithinBoundsWhenTheRoadDoesNotAnswer) {
    SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", L"3000");
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (int index = 0; index < static_cast<int>(sizeof(kCases) / sizeof(kCases[0])); ++index) {
        const Case& c = kCases[index];
        SCOPED_TRACE(c.name);
        DeleteFileW(FiguresPath(index).c_str());
        std::wstring line = L"x --bidi-sheet-child " + std::to_wstring(index);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
        CloseHandle(info.hThread);
        const bool ended = WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0;
        const unsigned long endedTick = GetTickCount();
        DWORD code = 99;
        if (!ended) TerminateProcess(info.hProcess, 9);
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hProcess);
        const Figures figures = ReadFigures(index);
        if (!figures.stem.empty()) bidi_test::EndProcesses(figures.stem + L".SRV");
        std::printf("[ %s ] sheet open %.0f ms, close %.0f ms, host ended %lu ms after the sheet\n", c.name,
                    figures.openMs, figures.closeMs, endedTick - figures.closedTick);
        ASSERT_TRUE(ended) << "the host process did not end";
        EXPECT_EQ(code, 0u) << "the host process ended cleanly";
        EXPECT_EQ(figures.found, 1) << "the about page opened";
        EXPECT_EQ(figures.connected, 0) << "two-way shows as for an unreachable controller";
        EXPECT_GE(figures.openMs, 0.0);
        EXPECT_LT(figures.openMs, kBoundMs);
        EXPECT_GE(figures.closeMs, 0.0);
        EXPECT_LT(figures.closeMs, kBoundMs);
        EXPECT_LT(endedTick - figures.closedTick, 3000ul) << "the host's exit waited for the road";
    }
}

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--bidi-sheet-child") return RunSheetChild(std::atoi(argv[2]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
