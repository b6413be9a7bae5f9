// Rindle's COM objects: the class factory and the rendering plug-in object IVyrPS that the
// core PostScript driver talks to. Each working method hands over at once to its handler.
#pragma once

#include <windows.h>

#include "platform/DriverKit.h"
#include "render/RindleModule.h"
#include "uiplugin/PluginClassFactory.h"

class IVyrPS : public IPrintOemPS {
public:
    IVyrPS() noexcept = default;
    virtual ~IVyrPS();
    IVyrPS(const IVyrPS&) = delete;
    IVyrPS& operator=(const IVyrPS&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    // IPrintOemCommon
    HRESULT STDMETHODCALLTYPE GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) noexcept override;
    HRESULT STDMETHODCALLTYPE DevMode(DWORD mode, POEMDMPARAM request) noexcept override;
    // IPrintOemEngine
    HRESULT STDMETHODCALLTYPE EnableDriver(DWORD driverVersion, DWORD size, PDRVENABLEDATA data) noexcept override;
    HRESULT STDMETHODCALLTYPE DisableDriver() noexcept override;
    HRESULT STDMETHODCALLTYPE EnablePDEV(PDEVOBJ devobj, PWSTR printerName, ULONG patternCount, HSURF* patterns,
                                         ULONG gdiInfoSize, GDIINFO* gdiInfo, ULONG devInfoSize, DEVINFO* devInfo,
                                         DRVENABLEDATA* coreData, PDEVOEM* pdev) noexcept override;
    HRESULT STDMETHODCALLTYPE DisablePDEV(PDEVOBJ devobj) noexcept override;
    HRESULT STDMETHODCALLTYPE ResetPDEV(PDEVOBJ oldDevobj, PDEVOBJ newDevobj) noexcept override;
    // IPrintOemPS
    HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown* unknown) noexcept override;
    HRESULT STDMETHODCALLTYPE Command(PDEVOBJ devobj, DWORD index, PVOID data, DWORD size,
                                      DWORD* result) noexcept override;

    // The driver interface kept by PublishDriverInterface (null until then); not AddRef'd.
    IPrintOemDriverPS* GetDriverInterface() const noexcept { return m_driver; }

private:
    volatile LONG m_refCount = 1;
    IPrintOemDriverPS* m_driver = nullptr;
};

// The bodies of the module's exports.
HRESULT RindleGetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept;
HRESULT RindleCanUnloadNow() noexcept;

using RindleClassFactory = PluginClassFactory<IVyrPS, ChangeRindleLockCount>;
