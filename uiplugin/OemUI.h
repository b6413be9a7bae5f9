// Quenta's COM objects: the class factory IOemCF and the UI plug-in object IOemUI that the
// core driver talks to. Each working method hands over at once to its handler.
#pragma once

#include <windows.h>

#include "platform/DriverKit.h"
#include "uiplugin/QuentaModule.h"
#include "uiplugin/PluginClassFactory.h"

class IOemUI : public IPrintOemUI2 {
public:
    IOemUI() noexcept = default;
    virtual ~IOemUI();
    IOemUI(const IOemUI&) = delete;
    IOemUI& operator=(const IOemUI&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    // IPrintOemCommon
    HRESULT STDMETHODCALLTYPE GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) noexcept override;
    HRESULT STDMETHODCALLTYPE DevMode(DWORD mode, POEMDMPARAM request) noexcept override;
    // IPrintOemUI
    HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown* unknown) noexcept override;
    HRESULT STDMETHODCALLTYPE CommonUIProp(DWORD mode, POEMCUIPPARAM param) noexcept override;
    HRESULT STDMETHODCALLTYPE DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) noexcept override;
    HRESULT STDMETHODCALLTYPE DevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) noexcept override;
    HRESULT STDMETHODCALLTYPE DevQueryPrintEx(POEMUIOBJ uiObject, PDEVQUERYPRINT_INFO info, PDEVMODEW publicDM,
                                              PVOID oemDM) noexcept override;
    HRESULT STDMETHODCALLTYPE DeviceCapabilities(POEMUIOBJ uiObject, HANDLE printer, PWSTR deviceName,
                                                 WORD capability, PVOID output, PDEVMODEW publicDM, PVOID oemDM,
                                                 DWORD old, DWORD* result) noexcept override;
    HRESULT STDMETHODCALLTYPE UpgradePrinter(DWORD level, PBYTE upgradeInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE PrinterEvent(PWSTR printerName, INT driverEvent, DWORD flags,
                                           LPARAM lParam) noexcept override;
    HRESULT STDMETHODCALLTYPE DriverEvent(DWORD driverEvent, DWORD level, LPBYTE driverInfo,
                                          LPARAM lParam) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryColorProfile(HANDLE printer, POEMUIOBJ uiObject, PDEVMODEW publicDM, PVOID oemDM,
                                                ULONG queryMode, VOID* profileData, ULONG* profileSize,
                                                FLONG* profileFlags) noexcept override;
    HRESULT STDMETHODCALLTYPE FontInstallerDlgProc(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) noexcept override;
    HRESULT STDMETHODCALLTYPE UpdateExternalFonts(HANDLE printer, HANDLE heap, PWSTR cartridges) noexcept override;
    // IPrintOemUI2
    HRESULT STDMETHODCALLTYPE QueryJobAttributes(HANDLE printer, PDEVMODEW devmode, DWORD level,
                                                 LPBYTE attributeInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE HideStandardUI(DWORD mode) noexcept override;
    HRESULT STDMETHODCALLTYPE DocumentEvent(HANDLE printer, HDC dc, INT escape, ULONG inSize, PVOID in, ULONG outSize,
                                            PVOID out, INT* result) noexcept override;

    // The core interface kept by PublishDriverInterface (null until then); not AddRef'd.
    IPrintCoreUI2* GetCoreInterface() const noexcept { return m_core; }

private:
    volatile LONG m_refCount = 1;
    IPrintCoreUI2* m_core = nullptr;
};

// The bodies of the module's exports.
HRESULT QuentaGetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept;
HRESULT QuentaCanUnloadNow() noexcept;

using IOemCF = PluginClassFactory<IOemUI, ChangeQuentaLockCount>;
