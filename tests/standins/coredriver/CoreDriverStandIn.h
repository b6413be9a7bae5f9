// A stand-in for the platform's PostScript core driver, UI side: it loads a UI plug-in by
// path the way the core driver does (class object, IPrintOemUI2, PublishDriverInterface
// with its own IPrintCoreUI2) and makes the plug-in's device-mode calls. The host program
// and the plug-in tests both drive plug-ins through it; later hosts (property sheets,
// rendering) grow from it.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/DriverKit.h"

namespace coredriver {

// The core driver's helper interface as the plug-in sees it. GetOptions/SetOptions work on
// an in-memory list of feature/option keyword pairs; the other services answer E_NOTIMPL.
class CoreUIStandIn : public IPrintCoreUI2 {
public:
    CoreUIStandIn() = default;
    virtual ~CoreUIStandIn() = default;
    CoreUIStandIn(const CoreUIStandIn&) = delete;
    CoreUIStandIn& operator=(const CoreUIStandIn&) = delete;

    // The current reference count (starts at 1, the host's own).
    LONG RefCount() const { return m_refCount; }
    // The feature/option pairs GetOptions reports and SetOptions changes.
    std::vector<std::pair<std::string, std::string>>& Options() { return m_options; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD) override;
    HRESULT STDMETHODCALLTYPE DrvUpgradeRegistrySetting(HANDLE, PCSTR, PCSTR) override;
    HRESULT STDMETHODCALLTYPE DrvUpdateUISetting(PVOID, PVOID, DWORD, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetOptions(POEMUIOBJ, DWORD, PCSTR requested, DWORD requestedSize, PSTR buffer,
                                         DWORD size, PDWORD needed) override;
    HRESULT STDMETHODCALLTYPE SetOptions(POEMUIOBJ, DWORD, PCSTR pairs, DWORD pairsSize, PDWORD result) override;
    HRESULT STDMETHODCALLTYPE EnumConstrainedOptions(POEMUIOBJ, DWORD, PCSTR, PSTR, DWORD, PDWORD) override;
    HRESULT STDMETHODCALLTYPE WhyConstrained(POEMUIOBJ, DWORD, PCSTR, PCSTR, PSTR, DWORD, PDWORD) override;
    HRESULT STDMETHODCALLTYPE GetGlobalAttribute(POEMUIOBJ, DWORD, PCSTR, PDWORD, PBYTE, DWORD, PDWORD) override;
    HRESULT STDMETHODCALLTYPE GetFeatureAttribute(POEMUIOBJ, DWORD, PCSTR, PCSTR, PDWORD, PBYTE, DWORD,
                                                  PDWORD) override;
    HRESULT STDMETHODCALLTYPE GetOptionAttribute(POEMUIOBJ, DWORD, PCSTR, PCSTR, PCSTR, PDWORD, PBYTE, DWORD,
                                                 PDWORD) override;
    HRESULT STDMETHODCALLTYPE EnumFeatures(POEMUIOBJ, DWORD, PSTR, DWORD, PDWORD) override;
    HRESULT STDMETHODCALLTYPE EnumOptions(POEMUIOBJ, DWORD, PCSTR, PSTR, DWORD, PDWORD) override;
    HRESULT STDMETHODCALLTYPE GetFontSubstitution(POEMUIOBJ, DWORD, PCWSTR, PWSTR, DWORD, PDWORD) override;
    HRESULT STDMETHODCALLTYPE SetFontSubstitution(POEMUIOBJ, DWORD, PCWSTR, PCWSTR) override;
    HRESULT STDMETHODCALLTYPE CreateInstanceOfMSXMLParser(DWORD, REFIID, LPVOID* object) override;
    HRESULT STDMETHODCALLTYPE QuerySimulationSupport(HANDLE, DWORD, PBYTE, DWORD, PDWORD) override;

private:
    volatile LONG m_refCount = 1;
    std::vector<std::pair<std::string, std::string>> m_options;
};

// One loaded UI plug-in, published with a CoreUIStandIn. Everything is released and the
// module freed at destruction.
class PluginHost {
public:
    PluginHost() = default;
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Loads the module, gets its class object for the UI plug-in class id, creates the
    // IPrintOemUI2 object and publishes the core interface. False with a message on failure.
    bool Load(const std::wstring& modulePath, std::wstring* error);
    // Unloads (the plug-in released first), asking DllCanUnloadNow as the core driver does.
    void Unload();

    HMODULE Module() const { return m_module; }
    IPrintOemUI2* Plugin() const { return m_plugin; }
    CoreUIStandIn& Core() { return m_core; }
    HRESULT PublishResult() const { return m_publishResult; }

private:
    HMODULE m_module = nullptr;
    IPrintOemUI2* m_plugin = nullptr;
    HRESULT m_publishResult = E_FAIL;
    CoreUIStandIn m_core;
};

// What one DevMode call gave back.
struct DevModeStep {
    std::string name;
    DWORD mode = 0;
    HRESULT result = E_FAIL;
    DWORD lastError = 0;
    DWORD bufSize = 0;             // cbBufSize after the call
    std::vector<BYTE> block;       // the output block after the call (empty for SIZE)
    DEVMODEW publicOut = {};       // the public DEVMODE after the call
};

// The core driver's device-mode sequence: SIZE, then a buffer of that size, DEFAULT,
// CONVERT of a corrupted copy of the defaults (one payload byte changed), MERGE of the
// defaults into a buffer of garbage. Steps after a failed SIZE still run with a 0 size.
struct DevModeSequence {
    DevModeStep size, defaults, convertCorrupt, merge;
};
DevModeSequence RunDevModeSequence(IPrintOemUI2* plugin, HANDLE printer, const wchar_t* printerName);

// One DevMode call with a fresh request record.
DevModeStep CallDevMode(IPrintOemUI2* plugin, const char* name, DWORD mode, HANDLE printer, const void* in,
                        DWORD bufSize, const DEVMODEW* publicIn, BYTE fill = 0);

// A module's export as a typed function pointer (null when absent).
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();
template <class Fn>
Fn FindExport(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Prints one formatted line (cut at 1023 bytes) to standard output: the host programs' output.
void PrintLine(const char* format, ...);

// QueryInterface of a stand-in object that answers IUnknown and its own interface.
template <class Interface>
HRESULT QueryStandIn(Interface* self, REFIID riid, REFIID own, void** object)
{
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, own)) {
        *object = self;
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The bytes as hex, 16 to a line, each line indented.
std::string HexLines(const std::vector<BYTE>& bytes, const char* indent = "  ");
// A step as the host prints it; withBlock adds the output block as hex.
std::string DescribeStep(const DevModeStep& step, bool withBlock = true);

}  // namespace coredriver
