// sheethost: plays the platform's PostScript core driver opening a printer's property sheet
// for a UI plug-in. It installs a printer of the local spooler whose data file is the given
// PPD (with its companion modules), loads the plug-in by path, publishes its own
// IPrintCoreUI2, makes the default private block through the plug-in's DevMode and opens the
// printing-preferences sheet (or the printer's sheet with --device) through compstui. Once a
// page is active it saves one PNG per page, lets each page see an idle moment and presses
// Apply and OK (Cancel with --cancel). It prints the pages, the core driver's SetOptions
// lists, the private block and the sheet's result, and fails when no page was shown.
//
//   sheethost [--lan LAN] [--dll DLL] [--kqm KQM] [--device] [--document] [--cancel]
//             [--png PREFIX] PLUGIN.dll PRINTER.ppd
#include <windows.h>
#include <prsht.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/standins/coredriver/CoreDriverStandIn.h"
#include "tests/standins/coredriver/SheetRunner.h"
#include "tests/support/TestPrinter.h"

namespace {

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

int Usage()
{
    fputs("usage: sheethost [--lan LAN] [--dll DLL] [--kqm KQM] [--device] [--document] [--cancel] [--png PREFIX] "
          "PLUGIN.dll PRINTER.ppd\n",
          stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring lan, dll, kqm, pngPrefix, pluginPath, ppd;
    bool device = false, document = false, cancel = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        auto next = [&](std::wstring& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        if (a == L"--lan") {
            if (!next(lan)) return Usage();
        } else if (a == L"--dll") {
            if (!next(dll)) return Usage();
        } else if (a == L"--kqm") {
            if (!next(kqm)) return Usage();
        } else if (a == L"--png") {
            if (!next(pngPrefix)) return Usage();
        } else if (a == L"--device") {
            device = true;
        } else if (a == L"--document") {
            document = true;
        } else if (a == L"--cancel") {
            cancel = true;
        } else if (pluginPath.empty()) {
            pluginPath = a;
        } else if (ppd.empty()) {
            ppd = a;
        } else {
            return Usage();
        }
    }
    if (pluginPath.empty() || ppd.empty()) return Usage();

    tolvatest::TestPrinterSetup setup;
    setup.dataFile = ppd;
    if (!lan.empty()) setup.companions.push_back({lan, L"{stem}.LAN"});
    if (!dll.empty()) setup.companions.push_back({dll, L"{stem}.DLL"});
    if (!kqm.empty()) setup.companions.push_back({kqm, L"{stem}.KQM"});
    tolvatest::TestPrinter printer(setup);
    if (!printer.Ok()) {
        coredriver::PrintLine("printer: %s\n", Narrow(printer.Error()).c_str());
        return 1;
    }
    coredriver::PrintLine("printer: %s\n", Narrow(printer.PrinterName()).c_str());

    coredriver::PluginHost host;
    std::wstring error;
    if (!host.Load(pluginPath, &error)) {
        coredriver::PrintLine("load: %s\n", Narrow(error).c_str());
        return 1;
    }
    // The core driver's own features, as its GetOptions reports them and SetOptions changes them.
    coredriver::CoreUIStandIn& core = host.Core();
    core.Options() = {{"PageSize", "A4"}, {"InputSlot", "Tray1"}, {"Duplex", "None"}, {"Collate", "True"}};
    const auto optionsBefore = core.Options();

    auto size = coredriver::CallDevMode(host.Plugin(), "SIZE", OEMDM_SIZE, printer.Handle(), nullptr, 0, nullptr);
    DEVMODEW publicDM = {};
    publicDM.dmSize = sizeof(publicDM);
    auto defaults = coredriver::CallDevMode(host.Plugin(), "DEFAULT", OEMDM_DEFAULT, printer.Handle(), nullptr,
                                            size.bufSize, &publicDM);
    std::vector<BYTE> block = defaults.block;
    const std::vector<BYTE> before = block;
    coredriver::PrintLine("private block: %u bytes (DEFAULT hr=0x%08X)\n", static_cast<unsigned>(block.size()),
                          static_cast<unsigned>(defaults.result));

    OEMUIOBJ uiObject = {sizeof(OEMUIOBJ), nullptr};
    OEMUIPSPARAM param = {};
    param.cbSize = sizeof(param);
    param.poemuiobj = &uiObject;
    param.hPrinter = printer.Handle();
    param.pPrinterName = const_cast<PWSTR>(printer.PrinterName().c_str());
    param.pPublicDM = &publicDM;
    param.pOEMDM = block.empty() ? nullptr : block.data();
    param.dwFlags = device || document ? 0 : DM_USER_DEFAULT;

    IPrintOemUI2* plugin = host.Plugin();
    coredriver::SheetRun run;
    run.param = &param;
    run.entry = [plugin, device](PPROPSHEETUI_INFO info, LPARAM lParam) {
        return device ? plugin->DevicePropertySheets(info, lParam) : plugin->DocumentPropertySheets(info, lParam);
    };
    int pagesInitialised = 0;
    run.script = [&](HWND sheet) {
        std::vector<std::wstring> titles = coredriver::PageTitles(sheet);
        for (size_t i = 0; i < titles.size(); ++i) {
            SendMessageW(sheet, PSM_SETCURSEL, i, 0);
            HWND page = coredriver::CurrentPage(sheet);
            if (page) ++pagesInitialised;
            // Where the foreground-idle hook would post (Wine never calls it).
            if (page) SendMessageW(page, WM_ENTERIDLE, 0, 0);
            coredriver::SettleSheet(sheet);
            if (!pngPrefix.empty()) {
                std::wstring path = pngPrefix + L"-" + std::to_wstring(i + 1) + L".png";
                SIZE shot = {};
                bool plain = true;
                bool saved = coredriver::SaveWindowPng(sheet, path, &shot, &plain);
                RECT rect;
                GetWindowRect(sheet, &rect);
                bool fits = shot.cx == rect.right - rect.left && shot.cy == rect.bottom - rect.top;
                coredriver::PrintLine("png %s: %s %ldx%ld, %s%s\n", Narrow(path).c_str(), saved ? "saved" : "FAILED",
                                      shot.cx, shot.cy, fits ? "the sheet's rectangle" : "NOT THE SHEET'S RECTANGLE",
                                      plain ? " ONE COLOUR" : "");
            }
            coredriver::PrintLine("page %u: %s\n", static_cast<unsigned>(i + 1), Narrow(titles[i]).c_str());
        }
        if (cancel) {
            SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        } else {
            BOOL applied = SendMessageW(sheet, PSM_APPLY, 0, 0) != 0;
            coredriver::PrintLine("apply: %s\n", applied ? "accepted" : "refused");
            SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        }
    };
    bool shown = coredriver::RunPropertySheet(run);
    coredriver::PrintLine("pages added: %d, initialised: %d\n", run.pagesAdded, pagesInitialised);
    std::string options;
    for (const auto& [feature, option] : core.Options()) options += feature + "=" + option + " ";
    coredriver::PrintLine("core options %s: %s\n", core.Options() == optionsBefore ? "unchanged" : "set",
                          options.c_str());
    coredriver::PrintLine("private block changed: %s\n", block == before ? "no" : "yes");
    // The block's header and first settings (the rest is the same kind of data).
    std::vector<BYTE> head(block.begin(), block.begin() + (block.size() < 64 ? block.size() : 64));
    coredriver::PrintLine("%s\n", coredriver::HexLines(head).c_str());
    coredriver::PrintLine("result: %s\n", run.setResultCalled ? (run.setResult == CPSUI_OK ? "CPSUI_OK" : "other")
                                                             : "none");
    if (!shown) {
        coredriver::PrintLine("FAILED: %s\n", Narrow(run.error).c_str());
        return 1;
    }
    return pagesInitialised > 0 ? 0 : 1;
}
