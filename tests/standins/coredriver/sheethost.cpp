// sheethost: plays the platform's PostScript core driver opening a printer's property sheet
// for a UI plug-in. It installs a printer of the local spooler whose data file is the given
// PPD (with its companion modules), loads the plug-in by path, publishes its own
// IPrintCoreUI2, makes the default private block through the plug-in's DevMode and opens the
// printing-preferences sheet (or the printer's sheet with --device) through compstui. Once a
// page is active it saves one PNG per page, lets each page see an idle moment and presses
// Apply and OK (Cancel with --cancel). It prints the pages, the core driver's options, the
// public device-mode fields the pages change, the private block, the printer data the sheets
// write and the sheet's result, and fails when no page was shown. The sheet's caption is the
// core driver's own ("<printer> Printing Preferences", "<printer> Properties", "<printer>
// Document Properties"), set over the plug-in's header as the core driver does.
//
// A sheet without pages names the companion that is missing beside the installed data file
// ("no pages: <stem>.KQM missing beside the data file"); --without .DLL|.LAN|.KQM leaves one
// out on purpose (the language and resource modules are only there when --lan / --dll give them).
//
// The two-way companions are the stand-in print-server library as <stem>.KQM and Brimsa as
// <stem>.SRV, both from this program's build tree (--kqm / --srv name others); a server the
// sheet started is ended by process id before the host exits. --port gives the printer's
// port (IP_<address> names a controller). --tq VARIANT plays an installed driver folder: the
// plug-in is copied to a scratch folder as Quenta.dll with the job-settings stand-in of that
// variant (full, novalidate, nofree, nosdm) as Quenta\tq2.dll, and the stand-in's call log is
// printed after the sheet.
//
//   sheethost [--lan LAN] [--dll DLL] [--kqm KQM] [--srv SRV] [--port PORT] [--tq VARIANT]
//             [--without EXT] [--device] [--document] [--cancel] [--png PREFIX] PLUGIN.dll PRINTER.ppd
#include <windows.h>
#include <prsht.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sheets/MessageBox.h"

#include "tests/standins/ModuleCallLog.h"
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
    fputs("usage: sheethost [--lan LAN] [--dll DLL] [--kqm KQM] [--srv SRV] [--port PORT] [--tq VARIANT] "
          "[--without .DLL|.LAN|.KQM] [--device] [--document] [--cancel] [--png PREFIX] PLUGIN.dll PRINTER.ppd\n",
          stderr);
    return 2;
}

// This program's build tree (three folders above tests\standins\coredriver\sheethost.exe).
std::wstring BuildTree()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring tree = path;
    for (int up = 0; up < 4; ++up) {
        size_t slash = tree.find_last_of(L"\\/");
        if (slash == std::wstring::npos) return std::wstring();
        tree.resize(slash);
    }
    return tree;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The companions the plug-in needs beside the data file before it adds a page, in the order it
// loads them.
const wchar_t* const kRequiredCompanions[] = {L".DLL", L".LAN", L".KQM"};

// ".kqm", "KQM" -> ".KQM"; empty when it is none of the required companions.
std::wstring CompanionExtension(std::wstring name)
{
    if (!name.empty() && name[0] != L'.') name.insert(name.begin(), L'.');
    for (const wchar_t* extension : kRequiredCompanions)
        if (!lstrcmpiW(name.c_str(), extension)) return extension;
    return std::wstring();
}

// Says why a sheet got no page: each required companion missing beside the installed data file.
void ReportMissingCompanions(const tolvatest::TestPrinter& printer)
{
    int missing = 0;
    for (const wchar_t* extension : kRequiredCompanions) {
        if (FileExists(printer.Beside(std::wstring(L"{stem}") + extension))) continue;
        coredriver::PrintLine("no pages: %s%s missing beside the data file\n", Narrow(printer.Stem()).c_str(),
                              Narrow(extension).c_str());
        ++missing;
    }
    if (!missing) coredriver::PrintLine("no pages: the plug-in added none\n");
}

// The caption the core driver gives the sheet.
std::wstring SheetCaption(const std::wstring& printerName, bool device, bool document)
{
    return printerName + (device ? L" Properties" : document ? L" Document Properties" : L" Printing Preferences");
}

// Ends, by process id, every process whose image is name (the servers the sheet started).
int EndProcessesNamed(const std::wstring& name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    std::vector<DWORD> ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (!lstrcmpiW(entry.szExeFile, name.c_str())) ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    int ended = 0;
    for (DWORD id : ids) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process) continue;
        if (TerminateProcess(process, 0) && WaitForSingleObject(process, 5000) == WAIT_OBJECT_0) ++ended;
        CloseHandle(process);
    }
    return ended;
}

// A printer data value as text: REG_SZ as it is, REG_DWORD as a number, else its size;
// "(none)" when missing.
std::string PrinterDataText(HANDLE printer, const wchar_t* name)
{
    DWORD type = 0, needed = 0;
    DWORD status = GetPrinterDataW(printer, const_cast<LPWSTR>(name), &type, nullptr, 0, &needed);
    if ((status != ERROR_MORE_DATA && status != ERROR_SUCCESS) || needed == 0) return "(none)";
    std::vector<BYTE> data(needed + 2, 0);
    if (GetPrinterDataW(printer, const_cast<LPWSTR>(name), &type, data.data(), needed, &needed) != ERROR_SUCCESS)
        return "(none)";
    if (type == REG_SZ) return "\"" + Narrow(reinterpret_cast<const wchar_t*>(data.data())) + "\"";
    if (type == REG_DWORD && needed >= 4) return std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
    return std::to_string(needed) + " bytes";
}

// An installed driver folder for the job-settings stand-in: <scratch>\Quenta.dll and
// <scratch>\Quenta\tq2.dll (+ the job monitor), removed again by the destructor.
class DriverFolder {
public:
    bool Make(const std::wstring& plugin, const std::wstring& tree, const std::wstring& variant, std::wstring* error)
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_dir = std::wstring(temp) + L"sheethost-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(m_dir.c_str(), nullptr);
        CreateDirectoryW((m_dir + L"Quenta").c_str(), nullptr);
        std::wstring library = tree + L"\\tests\\standins\\bin\\tq2\\" + variant + L"\\tq2.dll";
        if (!FileExists(library)) {
            *error = L"no job-settings stand-in " + library;
            return false;
        }
        if (!CopyFileW(plugin.c_str(), PluginPath().c_str(), FALSE) ||
            !CopyFileW(library.c_str(), LibraryPath().c_str(), FALSE)) {
            *error = L"cannot lay out " + m_dir;
            return false;
        }
        CopyFileW((tree + L"\\tests\\standins\\bin\\qvjm.dll").c_str(), (m_dir + L"qvjm.dll").c_str(), FALSE);
        // Held for the whole run, so its call log outlives the sheet's own load.
        m_library = LoadLibraryW(LibraryPath().c_str());
        if (m_library) ResetModuleCallLog(m_library);
        return m_library != nullptr;
    }
    ~DriverFolder()
    {
        if (m_dir.empty()) return;
        if (m_library) FreeLibrary(m_library);
        for (const wchar_t* name : {L"Quenta\\tq2.dll", L"Quenta\\tq2.log", L"Quenta\\tq2.cfg", L"Quenta.dll", L"qvjm.dll"})
            DeleteFileW((m_dir + name).c_str());
        RemoveDirectoryW((m_dir + L"Quenta").c_str());
        RemoveDirectoryW(m_dir.c_str());
    }
    std::wstring PluginPath() const { return m_dir + L"Quenta.dll"; }
    std::wstring LibraryPath() const { return m_dir + L"Quenta\\tq2.dll"; }
    HMODULE Library() const { return m_library; }

private:
    std::wstring m_dir;
    HMODULE m_library = nullptr;
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring lan, dll, kqm, srv, port, tq, pngPrefix, pluginPath, ppd;
    std::vector<std::wstring> without;
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
        } else if (a == L"--srv") {
            if (!next(srv)) return Usage();
        } else if (a == L"--port") {
            if (!next(port)) return Usage();
        } else if (a == L"--tq") {
            if (!next(tq)) return Usage();
        } else if (a == L"--png") {
            if (!next(pngPrefix)) return Usage();
        } else if (a == L"--without") {
            std::wstring name;
            if (!next(name) || CompanionExtension(name).empty()) return Usage();
            without.push_back(CompanionExtension(name));
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
    if (!tq.empty() && tq != L"full" && tq != L"novalidate" && tq != L"nofree" && tq != L"nosdm") return Usage();

    const std::wstring tree = BuildTree();
    if (kqm.empty()) kqm = tree + L"\\tests\\standins\\bin\\printserver_standin.dll";
    if (srv.empty()) srv = tree + L"\\bin\\Brimsa.exe";
    auto left = [&](const wchar_t* extension) {
        for (const std::wstring& w : without)
            if (w == extension) return true;
        return false;
    };
    tolvatest::TestPrinterSetup setup;
    setup.dataFile = ppd;
    if (!port.empty()) setup.port = port;
    if (!lan.empty() && !left(L".LAN")) setup.companions.push_back({lan, L"{stem}.LAN"});
    if (!dll.empty() && !left(L".DLL")) setup.companions.push_back({dll, L"{stem}.DLL"});
    for (const auto& [source, name] : {std::pair{kqm, L"{stem}.KQM"}, std::pair{srv, L"{stem}.SRV"}}) {
        if (name == std::wstring(L"{stem}.KQM") && left(L".KQM")) continue;
        if (!FileExists(source)) {
            coredriver::PrintLine("companion missing: %s\n", Narrow(source).c_str());
            return 1;
        }
        setup.companions.push_back({source, name});
    }
    DriverFolder folder;
    if (!tq.empty()) {
        std::wstring error;
        if (!folder.Make(pluginPath, tree, tq, &error)) {
            coredriver::PrintLine("tq: %s\n", Narrow(error).c_str());
            return 1;
        }
        pluginPath = folder.PluginPath();
        coredriver::PrintLine("job-settings library: %s (%s)\n", Narrow(folder.LibraryPath()).c_str(), Narrow(tq).c_str());
    }
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
    run.caption = SheetCaption(printer.PrinterName(), device, document);
    run.entry = [plugin, device](PPROPSHEETUI_INFO info, LPARAM lParam) {
        return device ? plugin->DevicePropertySheets(info, lParam) : plugin->DocumentPropertySheets(info, lParam);
    };
    int pagesInitialised = 0;
    run.script = [&](HWND sheet) {
        wchar_t caption[256] = {};
        GetWindowTextW(sheet, caption, 256);
        coredriver::PrintLine("caption: %s\n", Narrow(caption).c_str());
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
    bool shown = false;
    {
        // A connected document sheet asks about the installables at its start: the host leaves
        // the question for later (Cancel writes nothing) and reports it.
        coredriver::DialogAnswerer answerer(GetCurrentThreadId(), kConfirmTextControl, kConfirmCheckControl, IDCANCEL,
                                            [](HWND box) {
                                                wchar_t title[128] = {}, text[512] = {};
                                                GetWindowTextW(box, title, 128);
                                                GetDlgItemTextW(box, kConfirmTextControl, text, 512);
                                                coredriver::PrintLine("confirm-installables box: \"%s\" \"%s\" (Cancel)\n",
                                                                      Narrow(title).c_str(), Narrow(text).c_str());
                                            });
        shown = coredriver::RunPropertySheet(run);
    }
    coredriver::PrintLine("pages added: %d, initialised: %d\n", run.pagesAdded, pagesInitialised);
    if (run.pagesAdded == 0) ReportMissingCompanions(printer);
    std::string options;
    for (const auto& [feature, option] : core.Options()) options += feature + "=" + option + " ";
    coredriver::PrintLine("core options %s: %s\n", core.Options() == optionsBefore ? "unchanged" : "set",
                          options.c_str());
    coredriver::PrintLine("public devmode: orientation=%d paper=%d duplex=%d collate=%d ttoption=%d\n",
                          publicDM.dmOrientation, publicDM.dmPaperSize, publicDM.dmDuplex, publicDM.dmCollate,
                          publicDM.dmTTOption);
    coredriver::PrintLine("private block changed: %s\n", block == before ? "no" : "yes");
    // The block's header and first settings (the rest is the same kind of data).
    std::vector<BYTE> head(block.begin(), block.begin() + (block.size() < 64 ? block.size() : 64));
    coredriver::PrintLine("%s\n", coredriver::HexLines(head).c_str());
    for (const wchar_t* name : {L"QVTwoWayServer", L"IsTolvaServer", L"PrinterID", L"ClientID"})
        coredriver::PrintLine("printer data %s: %s\n", Narrow(name).c_str(), PrinterDataText(printer.Handle(), name).c_str());
    // A server started for the sheet would hold our output until it ends: end it now.
    int ended = EndProcessesNamed(printer.Stem() + L".SRV");
    if (ended) coredriver::PrintLine("two-way servers ended: %d\n", ended);
    if (folder.Library()) {
        // One line per call; long key/value lists are cut to keep the listing readable.
        std::string log = ReadModuleCallLog(folder.Library());
        coredriver::PrintLine("job-settings library calls:\n");
        for (size_t at = 0; at < log.size();) {
            size_t end = log.find('\n', at);
            if (end == std::string::npos) end = log.size();
            std::string line = log.substr(at, end - at);
            if (line.size() > 160) line = line.substr(0, 160) + " ...";
            coredriver::PrintLine("  %s\n", line.c_str());
            at = end + 1;
        }
    }
    coredriver::PrintLine("result: %s\n", run.setResultCalled ? (run.setResult == CPSUI_OK ? "CPSUI_OK" : "other")
                                                             : "none");
    if (!shown) {
        coredriver::PrintLine("FAILED: %s\n", Narrow(run.error).c_str());
        return 1;
    }
    return pagesInitialised > 0 ? 0 : 1;
}
