// sheets_cycle_bench: both property sheets of a printer with the tab stand-ins, opened again
// and again on real compstui sheets: each cycle opens the printing preferences (the PostScript
// page's TrueType combo box changed and saved at idle) and the printer's sheet (the
// installable-options page's update check box changed and saved at idle; that page has no
// combo box). Prints the median ms per open (until the first page is active), the median ms
// per idle save, and the growth of the process's private bytes from the end of the first
// cycle to the last.
//
//   sheets_cycle_bench [CYCLES]    (default 200; needs a display)
#include <windows.h>
#include <prsht.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/BenchClock.h"
#include "storage/Validation.h"
#include "tests/sheets/TabSheetUtil.h"
#include "tests/sheets/TabTestPPD.h"

namespace {

constexpr int kTrueTypeCombo = 1109, kUpdateCheck = 1334;

int AcceptAll(HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }
int QuietBox(HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }

double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof(counters)))
        return 0;
    // Wine leaves PrivateUsage at 0 and reports the private bytes as PagefileUsage (the two are
    // the same count on Windows).
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// One sheet: open until the first page is active, then the page's change saved at idle.
// False when the sheet or its page did not open.
bool OpenAndSave(HANDLE printer, bool device, int cycle, std::vector<double>& open, std::vector<double>& save)
{
    sheettest::SheetSide side(printer, !device);
    tabsheet::SetCoreOptions(side);
    coredriver::SheetRun run;
    bool changed = false;
    double start = BenchSeconds();
    run.script = [&](HWND sheet) {
        open.push_back((BenchSeconds() - start) * 1e3);
        HWND page = tabsheet::ShowPage(sheet, device ? L"Installable Options" : L"PostScript");
        if (!page) return;
        if (device) {
            tabsheet::Click(page, kUpdateCheck);
        } else {
            std::vector<std::wstring> items = tabsheet::ComboTexts(page, kTrueTypeCombo);
            if (items.size() < 2) return;
            std::wstring current = tabsheet::ComboSelection(page, kTrueTypeCombo);
            const std::wstring& next = items[static_cast<size_t>(cycle) % items.size()] == current
                                           ? items[(static_cast<size_t>(cycle) + 1) % items.size()]
                                           : items[static_cast<size_t>(cycle) % items.size()];
            tabsheet::ChooseItem(page, kTrueTypeCombo, next.c_str());
        }
        double t0 = BenchSeconds();
        tabsheet::Idle(page);
        save.push_back((BenchSeconds() - t0) * 1e3);
        changed = true;
    };
    return tabsheet::RunSheet(side, run, device) && changed;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int cycles = argc > 1 ? _wtoi(argv[1]) : 200;
    if (cycles < 2) cycles = 2;
    SetValidationMessageBox(AcceptAll);
    SetSheetMessageBox(QuietBox);
    std::wstring ppd = tabtest::WriteSampleVariant(tabtest::ScratchDir(L"cycles"), L"cycles.ppd", "");
    tolvatest::TestPrinter printer(tabsheet::TabPrinterSetup(ppd));
    if (!printer.Ok()) {
        std::printf("printer: %ls\n", printer.Error().c_str());
        return 1;
    }
    std::vector<double> openPrefs, openDevice, savePrefs, saveDevice;
    SIZE_T first = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (!OpenAndSave(printer.Handle(), false, cycle, openPrefs, savePrefs) ||
            !OpenAndSave(printer.Handle(), true, cycle, openDevice, saveDevice)) {
            std::printf("cycle %d: a sheet or its page did not open\n", cycle + 1);
            return 1;
        }
        // The first cycle loads the modules and compiles the settings cache: count from after it.
        if (cycle == 0) first = PrivateBytes();
    }
    SIZE_T last = PrivateBytes();
    double growth = (static_cast<double>(last) - static_cast<double>(first)) / (1024.0 * 1024.0);
    std::printf("cycles: %d (printing preferences + printer properties each)\n", cycles);
    std::printf("open, printing preferences: %.1f ms (median; includes up to 50 ms of the host's polling; target < 250 ms)\n",
                Median(openPrefs));
    std::printf("open, printer properties:   %.1f ms (median; target < 250 ms)\n", Median(openDevice));
    std::printf("idle save, TrueType combo (PostScript page): %.3f ms (median; target < 5 ms)\n", Median(savePrefs));
    std::printf("idle save, update check box (installable options): %.3f ms (median; target < 5 ms)\n",
                Median(saveDevice));
    std::printf("private bytes: %.1f MB after cycle 1, %.1f MB after cycle %d: growth %.3f MB (target < 1 MB)\n",
                static_cast<double>(first) / (1024.0 * 1024.0), static_cast<double>(last) / (1024.0 * 1024.0), cycles,
                growth);
    SetSheetMessageBox(nullptr);
    SetValidationMessageBox(nullptr);
    return 0;
}
