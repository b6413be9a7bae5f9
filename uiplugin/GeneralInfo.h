// The per-call context of the core driver's calls: which printer, which driver, which core
// interface. GeneralInfo holds the printer's data file (its PPD), configuration file and
// driver name as the spooler gave them when the context was made; DevmodeInfo adds the
// device-mode request record of one DevMode call.
#pragma once

#include <windows.h>

#include "platform/DriverKit.h"
#include "storage/CfgSettingsManager.h"
#include "storage/Devmode.h"
#include "uiplugin/QuentaModule.h"

constexpr DWORD kInfoNameChars = 260;

// Which spooler name a context reads.
enum class PrinterName { DataFile, ConfigFile, DriverName };

// Copies the printer's name into buffer (capacity characters); false, with the buffer left
// empty, when the spooler cannot give it or it does not fit.
bool ReadPrinterName(HANDLE printer, PrinterName which, wchar_t* buffer, DWORD capacity) noexcept;

template <class CoreUI>
class GeneralInfo {
public:
    // core may be null; it is held (AddRef) for the context's life. module is the plug-in's
    // own module handle (Quenta's unless the rendering plug-in names its own).
    GeneralInfo(HANDLE printer, CoreUI* core, HINSTANCE module = GetQuentaModule()) noexcept
        : m_module(module), m_printer(printer), m_core(core)
    {
        if (m_core) m_core->AddRef();
        ReadPrinterName(m_printer, PrinterName::DataFile, m_dataFile, kInfoNameChars);
        ReadPrinterName(m_printer, PrinterName::ConfigFile, m_configFile, kInfoNameChars);
        ReadPrinterName(m_printer, PrinterName::DriverName, m_driverName, kInfoNameChars);
    }
    virtual ~GeneralInfo()
    {
        if (m_core) m_core->Release();
        m_core = nullptr;
    }
    GeneralInfo(const GeneralInfo&) = delete;
    GeneralInfo& operator=(const GeneralInfo&) = delete;

    HINSTANCE GetModule() const noexcept { return m_module; }
    HANDLE GetPrinter() const noexcept { return m_printer; }
    CoreUI* GetCoreInterface() const noexcept { return m_core; }
    // The names, or null when the spooler did not give them.
    const wchar_t* GetDataFile() const noexcept { return m_dataFile[0] ? m_dataFile : nullptr; }
    const wchar_t* GetConfigFile() const noexcept { return m_configFile[0] ? m_configFile : nullptr; }
    const wchar_t* GetDriverName() const noexcept { return m_driverName[0] ? m_driverName : nullptr; }

private:
    HINSTANCE m_module;
    HANDLE m_printer;
    CoreUI* m_core;
    wchar_t m_dataFile[kInfoNameChars] = {};
    wchar_t m_configFile[kInfoNameChars] = {};
    wchar_t m_driverName[kInfoNameChars] = {};
};

template <class CoreUI>
class DevmodeInfo : public GeneralInfo<CoreUI> {
public:
    DevmodeInfo(HANDLE printer, CoreUI* core, POEMDMPARAM request) noexcept
        : GeneralInfo<CoreUI>(printer, core), m_request(request)
    {
    }
    ~DevmodeInfo() override = default;

    POEMDMPARAM GetRequest() const noexcept { return m_request; }

private:
    POEMDMPARAM m_request;
};

// True when the file can be opened for reading. The compiled settings of a PPD that cannot be
// read answer like those of a PPD without private keys, which would turn a broken printer into
// one whose private block silently vanishes.
bool CanReadFile(const wchar_t* path) noexcept;

// Both plug-ins' IPrintOemCommon::GetInfo: the private block's signature and the plug-in
// version; other requests are refused with the last error set.
HRESULT AnswerPluginGetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) noexcept;

// Both plug-ins' IPrintOemCommon::DevMode: the request answered from the compiled settings of
// the printer's PPD, reached through the core driver's helper interface Core.
template <class Core>
HRESULT AnswerPluginDevMode(DWORD mode, POEMDMPARAM request, Core* core) noexcept
{
    // Nothing may read a record that is not there.
    if (!request) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    try {
        DevmodeInfo<Core> info(request->hPrinter, core, request);
        const wchar_t* ppdPath = info.GetDataFile();
        if (!ppdPath || !CanReadFile(ppdPath)) return E_FAIL;
        // Declared after the context, so the settings go back after the context is gone.
        CfgSettingsHold settings(ppdPath);
        if (!settings.Get()) return E_FAIL;
        return ProcessOemDevmodeRequest(mode, request, settings.Get());
    } catch (...) {
        return E_FAIL;
    }
}
