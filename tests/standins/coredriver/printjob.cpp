// printjob: prints one document through a rendering plug-in the way the platform's
// PostScript core driver does. It installs a printer of the local spooler whose data file
// is the given PPD, builds the private device-mode block with the UI plug-in, loads the
// rendering plug-in by path and prints the PPD's default job (plus the selections) into a
// file, then summarises the plug-in's Command calls, the bytes written and the hooks.
//
//   printjob [--lan LAN] [--set KEY=OPTION]... [--driver FEATURE=OPTION]... [--landscape]
//            [--copies N] [--pages N] [--doc NAME] [--prolog FILE] [--quenta Quenta.dll]
//            RINDLE.dll PRINTER.ppd OUT.ps
//
// --set selects an option by keyword with its "*" (the core driver answers it, and a key of
// the private block takes it too); --driver adds an answer of the core driver only (feature
// without "*"); --prolog puts a file's text into the job's prolog; the UI plug-in defaults to
// Quenta.dll beside the rendering plug-in.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "foundation/StrUtil.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"
#include "tests/standins/coredriver/RenderHost.h"

namespace {

int Usage()
{
    fputs("usage: printjob [--lan LAN] [--set KEY=OPTION]... [--driver FEATURE=OPTION]... [--landscape]\n"
          "                [--copies N] [--pages N] [--doc NAME] [--prolog FILE] [--quenta Quenta.dll]\n"
          "                RINDLE.dll PRINTER.ppd OUT.ps\n",
          stderr);
    return 2;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

bool SplitPair(const std::wstring& text, std::wstring* key, std::wstring* value)
{
    const size_t at = text.find(L'=');
    if (at == std::wstring::npos || at == 0) return false;
    *key = text.substr(0, at);
    *value = text.substr(at + 1);
    return true;
}

bool ReadFile(const std::wstring& path, std::string* text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) != FALSE) && got > 0)
        text->append(buffer, got);
    CloseHandle(file);
    return ok;
}

bool WriteFile(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

void PrintCall(const coredriver::CommandCall& call)
{
    const char* name = coredriver::InjectionName(call.index);
    coredriver::PrintLine("  %-22hs page %-4d hr=0x%08X result=%-4u bytes=%u\n", name ? name : "?", call.page,
          static_cast<unsigned>(call.hr), static_cast<unsigned>(call.result), static_cast<unsigned>(call.length));
}

// The document-level calls and those of the first page one by one; the other pages summed.
void PrintCommands(const coredriver::PrintJobResult& job)
{
    coredriver::PrintLine("Command calls: %u\n", static_cast<unsigned>(job.commands.size()));
    size_t laterCalls = 0, laterBytes = 0;
    int lastPage = 0;
    for (const coredriver::CommandCall& call : job.commands) {
        if (call.page <= 1) {
            PrintCall(call);
        } else {
            ++laterCalls;
            laterBytes += call.length;
            lastPage = call.page;
        }
    }
    if (laterCalls > 0)
        coredriver::PrintLine("  pages 2-%d: %u calls, %u bytes\n", lastPage, static_cast<unsigned>(laterCalls),
              static_cast<unsigned>(laterBytes));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    coredriver::PrintJobSetup setup;
    std::wstring lan, quenta, prolog, out;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        std::wstring key, value;
        if (arg == L"--lan" && hasValue) {
            lan = argv[++i];
        } else if (arg == L"--set" && hasValue && SplitPair(argv[i + 1], &key, &value)) {
            setup.selections.emplace_back(key, value);
            ++i;
        } else if (arg == L"--driver" && hasValue && SplitPair(argv[i + 1], &key, &value)) {
            setup.driverSettings[Narrow(key)] = Narrow(value);
            ++i;
        } else if (arg == L"--landscape") {
            setup.orientation = DMORIENT_LANDSCAPE;
        } else if (arg == L"--copies" && hasValue) {
            setup.copies = static_cast<short>(_wtoi(argv[++i]));
        } else if (arg == L"--pages" && hasValue) {
            setup.pages = _wtoi(argv[++i]);
        } else if (arg == L"--doc" && hasValue) {
            setup.documentName = argv[++i];
        } else if (arg == L"--prolog" && hasValue) {
            prolog = argv[++i];
        } else if (arg == L"--quenta" && hasValue) {
            quenta = argv[++i];
        } else if (arg.starts_with(L"--")) {
            return Usage();
        } else if (setup.rindlePath.empty()) {
            setup.rindlePath = arg;
        } else if (setup.ppdPath.empty()) {
            setup.ppdPath = arg;
        } else if (out.empty()) {
            out = arg;
        } else {
            return Usage();
        }
    }
    if (setup.rindlePath.empty() || setup.ppdPath.empty() || out.empty() || setup.copies < 1 || setup.pages < 0)
        return Usage();
    if (!lan.empty()) setup.companions.push_back({lan, L"{stem}.LAN"});
    if (!prolog.empty() && !ReadFile(prolog, &setup.prolog)) {
        coredriver::PrintLine("cannot read the prolog %ls\n", prolog.c_str());
        return 1;
    }
    if (quenta.empty()) {
        const size_t cut = setup.rindlePath.find_last_of(L"\\/");
        quenta = (cut == std::wstring::npos ? L"" : setup.rindlePath.substr(0, cut + 1)) + L"Quenta.dll";
    }
    setup.quentaPath = quenta;

    coredriver::PrintJobResult job = coredriver::PrintJob(setup);
    coredriver::PrintLine("printer: %ls\n", job.printerName.c_str());
    coredriver::PrintLine("private block: %u bytes\n", static_cast<unsigned>(job.privateBlock.size()));
    for (const std::wstring& warning : job.warnings) coredriver::PrintLine("warning: %ls\n", warning.c_str());
    coredriver::PrintLine("PublishDriverInterface: hr=0x%08X\n", static_cast<unsigned>(job.publish));
    coredriver::PrintLine("EnableDriver: hr=0x%08X version=0x%X hooks=%u:", static_cast<unsigned>(job.enableDriver),
          static_cast<unsigned>(job.hookVersion), static_cast<unsigned>(job.hookCount));
    for (ULONG index : job.hookIndexes) coredriver::PrintLine(" %u", static_cast<unsigned>(index));
    coredriver::PrintLine("\n");
    coredriver::PrintLine("EnablePDEV: hr=0x%08X pdev=%hs flGraphicsCaps=0x%08X\n", static_cast<unsigned>(job.enablePDEV),
          job.pdevMade ? "yes" : "no", static_cast<unsigned>(job.graphicsCaps));
    PrintCommands(job);
    coredriver::PrintLine("DisablePDEV: hr=0x%08X DisableDriver: hr=0x%08X DllCanUnloadNow: hr=0x%08X\n",
          static_cast<unsigned>(job.disablePDEV), static_cast<unsigned>(job.disableDriver),
          static_cast<unsigned>(job.canUnloadNow));
    coredriver::PrintLine("DrvGetDriverSetting calls: %u, DrvWriteSpoolBuf calls: %u, texts without a line end: %u\n",
          job.settingCalls, job.writeCalls, static_cast<unsigned>(job.unterminatedInjections));
    coredriver::PrintLine("driver interface references the plug-in kept: %ld\n", static_cast<long>(job.driverRefsLeft - 1));
    if (!job.job.empty()) {
        if (!WriteFile(out, job.job)) {
            coredriver::PrintLine("cannot write %ls\n", out.c_str());
            return 1;
        }
        coredriver::PrintLine("job: %u bytes, %d pages -> %ls\n", static_cast<unsigned>(job.job.size()), setup.pages, out.c_str());
    }
    if (!job.ok) {
        coredriver::PrintLine("failed: %ls\n", job.error.c_str());
        return 1;
    }
    return 0;
}
