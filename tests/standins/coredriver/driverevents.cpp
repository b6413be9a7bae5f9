// driverevents.exe PPD PACKAGE: installs a driver through Wine's spooler with the core UI
// stand-in (TolvaCoreUI.dll, beside this program) as its configuration file, Quenta as its
// plug-in and PACKAGE as the driver package beside the PPD, then sends the events Wine does
// not send, in the spooler's order, and prints what each one left. The printer's deletion
// event is not sent: it reaches DeletePrinterKeyW, which aborts the process on Wine.
#include <windows.h>
#include <winddiui.h>
#include <winspool.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "storage/PrinterData.h"
#include "tests/standins/ModuleCallLog.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"
#include "tests/support/TestPrinter.h"

using coredriver::FindExport;

namespace {

// One line of the program's output (cut at 1023 bytes).
void Say(const char* format, ...) {
    char line[1024] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::printf("%s\n", line);
    std::fflush(stdout);
}

using DriverEventFn = BOOL(WINAPI*)(DWORD, DWORD, LPBYTE, LPARAM);
using PrinterEventFn = BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM);
using LastResultFn = LONG (*)();

std::string Narrow(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring BesideSelf(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring self = path;
    return self.substr(0, self.find_last_of(L'\\') + 1) + name;
}

void ListFolder(const std::wstring& folder, const std::wstring& indent) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        Say("%s(no folder)", Narrow(indent).c_str());
        return;
    }
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Say("%s%s\\", Narrow(indent).c_str(), Narrow(name).c_str());
            ListFolder(folder + name + L"\\", indent + L"  ");
        } else {
            Say("%s%s  %lu bytes  attributes 0x%02lX", Narrow(indent).c_str(), Narrow(name).c_str(),
                      static_cast<unsigned long>(found.nFileSizeLow),
                      static_cast<unsigned long>(found.dwFileAttributes & 0x37));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void Report(const tolvatest::TestPrinter& printer, const std::wstring& folder, const std::wstring& cache,
            const std::wstring& driverKey) {
    Say("  package folder %s:", Narrow(folder).c_str());
    ListFolder(folder, L"    ");
    DWORD size = INVALID_FILE_SIZE;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(cache.c_str(), GetFileExInfoStandard, &data))
        size = data.nFileSizeLow;
    if (size == INVALID_FILE_SIZE)
        Say("  settings cache: none");
    else
        Say("  settings cache: %lu bytes", static_cast<unsigned long>(size));
    Say("  driver machine key: %s", KeyExists(driverKey) ? "present" : "absent");
    for (const wchar_t* value : {L"PrinterID", L"PrinterStorage", L"ClientID"}) {
        wchar_t* text = PrnGetText(printer.Handle(), value);
        Say("  printer data %s: %s", Narrow(value).c_str(), text ? Narrow(text).c_str() : "(none)");
        delete[] text;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: driverevents.exe PPD PACKAGE\n");
        return 2;
    }
    tolvatest::TestPrinterSetup setup;
    setup.dataFile = argv[1];
    setup.configFile = BesideSelf(L"TolvaCoreUI.dll");
    setup.configName = L"TolvaCoreUI_{stem}.dll";
    setup.bareConfigName = true;
    setup.dependentFiles.push_back({TOLVA_QUENTA_PATH_W, L"Quenta_{stem}.dll"});
    setup.dependentFiles.push_back({argv[2], L"{stem}.TQX"});
    setup.dependentTexts.push_back({L"{stem}.INI", "[OEMFiles]\r\nOEMConfigFile1=Quenta_{stem}.dll\r\n"});

    Say("AddPrinterDriverExW (the spooler sends the installation event) and AddPrinterW");
    tolvatest::TestPrinter printer(setup);
    if (!printer.Ok()) {
        Say("installation failed: %s", Narrow(printer.Error()).c_str());
        return 1;
    }
    const std::wstring folder = printer.StagingDir() + printer.Stem() + L"\\";
    const std::wstring cache = printer.StagingDir() + printer.Stem() + L".PBJ";
    const std::wstring driverKey = L"Software\\VYR\\PrinterProps\\" + printer.DriverName();
    HMODULE module = GetModuleHandleW((L"TolvaCoreUI_" + printer.Stem() + L".dll").c_str());
    auto driverEvent = FindExport<DriverEventFn>(module, "DrvDriverEvent");
    auto printerEvent = FindExport<PrinterEventFn>(module, "DrvPrinterEvent");
    auto lastResult = FindExport<LastResultFn>(module, "TolvaCoreUILastPluginResult");
    if (!module || !driverEvent || !printerEvent || !lastResult) {
        Say("the spooler never loaded the configuration file");
        return 1;
    }
    Say("driver %s, data file %s", Narrow(printer.DriverName()).c_str(),
              Narrow(printer.InstallerDriverInfo()->pDataFile).c_str());
    Say("stand-in calls:\n%s", ReadModuleCallLog(module).c_str());
    Report(printer, folder, cache, driverKey);

    LPWSTR name = const_cast<wchar_t*>(printer.PrinterName().c_str());
    for (INT event : {PRINTER_EVENT_INITIALIZE, PRINTER_EVENT_CACHE_REFRESH}) {
        printerEvent(name, event, 0, 0);
        Say("DrvPrinterEvent %d: plug-in answered 0x%08lX", event, static_cast<unsigned long>(lastResult()));
    }
    Report(printer, folder, cache, driverKey);

    auto* info = const_cast<DRIVER_INFO_3W*>(printer.InstallerDriverInfo());
    driverEvent(DRIVER_EVENT_DELETE, 3, reinterpret_cast<LPBYTE>(info), 0);
    Say("DrvDriverEvent %d: plug-in answered 0x%08lX", DRIVER_EVENT_DELETE,
              static_cast<unsigned long>(lastResult()));
    Report(printer, folder, cache, driverKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, driverKey.c_str());
    Say("removing the printer and the driver");
    return 0;
}
