// Stand-in for the core PostScript driver's UI module (a driver's configuration file), as
// far as the spooler calls it: the driver and printer events, which it hands to its UI
// plug-in, and the device-mode, capability and upgrade calls, answered minimally. The
// plug-in is found as the core driver finds it: the driver's dependent ".INI" names it under
// [OEMFiles] as "OEMConfigFile1", a file beside this module unless the name is a full path.
//
// Each call is logged ("TestCallLog" export, kept in the process's environment); "TolvaCoreUILastPluginResult" gives the
// plug-in's answer to the last event.
#include <windows.h>
#include <winddiui.h>
#include <winspool.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"
#include "platform/DriverKit.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"

namespace {

HMODULE g_self = nullptr;
volatile LONG g_lastResult = static_cast<LONG>(E_FAIL);
// The spooler loads and frees the module around each of its calls: the log lives in the
// process's environment, so that it outlives one load.
const char kLogVariable[] = "TOLVA_COREUI_CALL_LOG";
constexpr DWORD kLogLimit = 30000;
std::string g_logCopy;

std::string Narrow(const wchar_t* text)
{
    if (!text) return "(null)";
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

void Log(const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::string text(kLogLimit + 1, '\0');
    DWORD length = GetEnvironmentVariableA(kLogVariable, text.data(), kLogLimit + 1);
    text.resize(length <= kLogLimit ? length : 0);
    text += line;
    text += '\n';
    if (text.size() > kLogLimit) text.erase(0, text.size() - kLogLimit);
    SetEnvironmentVariableA(kLogVariable, text.c_str());
}

std::wstring FolderOf(const std::wstring& path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

bool IsFullPath(const std::wstring& path)
{
    return path.size() > 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
}

std::wstring SelfFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(g_self, path, MAX_PATH);
    return length && length < MAX_PATH ? FolderOf(path) : std::wstring();
}

// The plug-in's path from the driver's dependent files (a multi-string); empty when none.
std::wstring FindPlugin(const wchar_t* dependents)
{
    if (!dependents) return std::wstring();
    const std::wstring self = SelfFolder();
    for (const wchar_t* name = dependents; *name; name += std::wcslen(name) + 1) {
        std::wstring file = name;
        if (file.size() < 4 || _wcsicmp(file.c_str() + file.size() - 4, L".INI") != 0) continue;
        std::wstring ini = IsFullPath(file) ? file : self + file;
        wchar_t plugin[MAX_PATH] = {};
        GetPrivateProfileStringW(L"OEMFiles", L"OEMConfigFile1", L"", plugin, MAX_PATH, ini.c_str());
        if (!plugin[0]) continue;
        return IsFullPath(plugin) ? std::wstring(plugin) : FolderOf(ini) + plugin;
    }
    return std::wstring();
}

// Loads the plug-in, runs call on it and returns its answer (E_FAIL when it cannot load).
template <class Call>
HRESULT WithPlugin(const std::wstring& pluginPath, Call call)
{
    if (pluginPath.empty()) {
        Log("  no plug-in named by a dependent .INI");
        return E_FAIL;
    }
    coredriver::PluginHost host;
    std::wstring error;
    if (!host.Load(pluginPath, &error)) {
        Log("  loading %s: %s", Narrow(pluginPath.c_str()).c_str(), Narrow(error.c_str()).c_str());
        return E_FAIL;
    }
    HRESULT hr = call(host.Plugin());
    Log("  plug-in %s answered 0x%08lX", Narrow(pluginPath.c_str()).c_str(), static_cast<unsigned long>(hr));
    return hr;
}

// The dependent files of the installed driver of that name (a multi-string), as the spooler
// lists them; empty when there is no such driver.
std::vector<wchar_t> DriverDependents(const wchar_t* driverName)
{
    std::vector<wchar_t> dependents;
    if (!driverName) return dependents;
    DWORD needed = 0, count = 0;
    EnumPrinterDriversW(nullptr, nullptr, 3, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer;
    // Other installers may add drivers between the size query and the fill.
    bool listed = false;
    for (int attempt = 0; attempt < 8 && needed && !listed; ++attempt) {
        buffer.assign(needed + 4096, 0);
        listed = EnumPrinterDriversW(nullptr, nullptr, 3, buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                                     &count) != FALSE;
    }
    if (!listed) {
        Log("  EnumPrinterDriversW failed: %lu", static_cast<unsigned long>(GetLastError()));
        return dependents;
    }
    const auto* drivers = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (!drivers[i].pName || std::wcscmp(drivers[i].pName, driverName) != 0) continue;
        for (const wchar_t* name = drivers[i].pDependentFiles; name && *name; name += std::wcslen(name) + 1)
            dependents.insert(dependents.end(), name, name + std::wcslen(name) + 1);
        dependents.push_back(0);
        break;
    }
    return dependents;
}

// The dependent files of a printer's driver (a multi-string), read from the spooler.
std::vector<wchar_t> PrinterDependents(const wchar_t* printerName)
{
    std::vector<wchar_t> dependents;
    HANDLE printer = nullptr;
    if (!printerName || !OpenPrinterW(const_cast<wchar_t*>(printerName), &printer, nullptr)) return dependents;
    DWORD needed = 0;
    GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed && GetPrinterDriverW(printer, nullptr, 3, buffer.data(), needed, &needed)) {
        const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
        for (const wchar_t* name = info->pDependentFiles; name && *name; name += std::wcslen(name) + 1) {
            // The spooler gives full paths of the installed copies.
            dependents.insert(dependents.end(), name, name + std::wcslen(name) + 1);
        }
    }
    dependents.push_back(0);
    ClosePrinter(printer);
    return dependents;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) g_self = module;
    return TRUE;
}

BOOL WINAPI DrvDriverEvent(DWORD event, DWORD level, LPBYTE driverInfo, LPARAM lParam)
{
    try {
        const wchar_t* driverName = nullptr;
        const wchar_t* dataFile = nullptr;
        const wchar_t* dependents = nullptr;
        if (driverInfo && level >= 1 && level <= 3) driverName = reinterpret_cast<DRIVER_INFO_1W*>(driverInfo)->pName;
        if (driverInfo && (level == 2 || level == 3)) dataFile = reinterpret_cast<DRIVER_INFO_2W*>(driverInfo)->pDataFile;
        if (driverInfo && level == 3) dependents = reinterpret_cast<DRIVER_INFO_3W*>(driverInfo)->pDependentFiles;
        Log("DrvDriverEvent event=%lu level=%lu dataFile=%s", static_cast<unsigned long>(event),
            static_cast<unsigned long>(level), Narrow(dataFile).c_str());
        // A record without the dependent files: the core driver knows its own driver's.
        std::vector<wchar_t> installed;
        if (!dependents) {
            installed = DriverDependents(driverName);
            if (!installed.empty()) dependents = installed.data();
        }
        HRESULT hr = WithPlugin(FindPlugin(dependents), [&](IPrintOemUI2* plugin) {
            return plugin->DriverEvent(event, level, driverInfo, lParam);
        });
        InterlockedExchange(&g_lastResult, static_cast<LONG>(hr));
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

BOOL WINAPI DrvPrinterEvent(LPWSTR printerName, INT event, DWORD flags, LPARAM lParam)
{
    try {
        Log("DrvPrinterEvent event=%d printer=%s", event, Narrow(printerName).c_str());
        std::vector<wchar_t> dependents = PrinterDependents(printerName);
        HRESULT hr = WithPlugin(FindPlugin(dependents.empty() ? nullptr : dependents.data()),
                                [&](IPrintOemUI2* plugin) {
                                    return plugin->PrinterEvent(printerName, event, flags, lParam);
                                });
        InterlockedExchange(&g_lastResult, static_cast<LONG>(hr));
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

// Without a sheet the spooler asks for the size of a device mode, then for the default one.
LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO sheet, LPARAM lParam)
{
    Log("DrvDocumentPropertySheets sheet=%s", sheet ? "yes" : "no");
    if (sheet) return -1;
    auto* header = reinterpret_cast<PDOCUMENTPROPERTYHEADER>(lParam);
    if (!header) return -1;
    if (header->fMode == 0 || !header->pdmOut) return static_cast<LONG>(sizeof(DEVMODEW));
    if (header->cbOut < sizeof(DEVMODEW)) return -1;
    DEVMODEW dm = {};
    if (header->pszPrinterName) std::wcsncpy(dm.dmDeviceName, header->pszPrinterName, CCHDEVICENAME - 1);
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmSize = sizeof(DEVMODEW);
    dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_A4;
    dm.dmCopies = 1;
    *header->pdmOut = dm;
    return IDOK;
}

LONG WINAPI DrvDevicePropertySheets(PPROPSHEETUI_INFO, LPARAM)
{
    Log("DrvDevicePropertySheets");
    return -1;
}

DWORD WINAPI DrvDeviceCapabilities(HANDLE, PWSTR, WORD capability, PVOID, PDEVMODEW)
{
    Log("DrvDeviceCapabilities %u", static_cast<unsigned>(capability));
    return GDI_ERROR;
}

BOOL WINAPI DrvConvertDevMode(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD)
{
    Log("DrvConvertDevMode");
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI DrvUpgradePrinter(DWORD, LPBYTE)
{
    Log("DrvUpgradePrinter");
    return TRUE;
}

BOOL WINAPI DevQueryPrintEx(PDEVQUERYPRINT_INFO)
{
    Log("DevQueryPrintEx");
    return TRUE;
}

// The tests' window into the stand-in (plain C calls).
const char* TestCallLog()
{
    g_logCopy.assign(kLogLimit + 1, '\0');
    DWORD length = GetEnvironmentVariableA(kLogVariable, g_logCopy.data(), kLogLimit + 1);
    g_logCopy.resize(length <= kLogLimit ? length : 0);
    return g_logCopy.c_str();
}

void TestResetLog() { SetEnvironmentVariableA(kLogVariable, nullptr); }

LONG TolvaCoreUILastPluginResult() { return g_lastResult; }

}  // extern "C"
