// Rindle's rendering plug-in object IVyrPS (its class factory is the shared plug-in factory).
#include "render/OemPS.h"

#include <new>

#include "render/GdiHooks.h"
#include "render/OemPDev.h"
#include "render/RindleModule.h"
#include "uiplugin/GeneralInfo.h"

// --- IVyrPS ---------------------------------------------------------------------------

IVyrPS::~IVyrPS()
{
    if (m_driver) m_driver->Release();
    m_driver = nullptr;
}

HRESULT STDMETHODCALLTYPE IVyrPS::QueryInterface(REFIID riid, void** object) noexcept
{
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemPS)) {
        *object = static_cast<IPrintOemPS*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE IVyrPS::AddRef() noexcept { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }

ULONG STDMETHODCALLTYPE IVyrPS::Release() noexcept
{
    LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE IVyrPS::GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) noexcept
{
    return AnswerPluginGetInfo(mode, buffer, size, needed);
}

HRESULT STDMETHODCALLTYPE IVyrPS::DevMode(DWORD mode, POEMDMPARAM request) noexcept
{
    return AnswerPluginDevMode(mode, request, m_driver);
}

HRESULT STDMETHODCALLTYPE IVyrPS::EnableDriver(DWORD, DWORD, PDRVENABLEDATA data) noexcept
{
    if (!data) return E_INVALIDARG;
    ULONG count = 0;
    const DRVFN* table = GetHookTable(&count);
    data->iDriverVersion = kPrinterOemEngineVersion;
    data->c = count;
    data->pdrvfn = const_cast<DRVFN*>(table);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IVyrPS::DisableDriver() noexcept
{
    if (m_driver) m_driver->Release();
    m_driver = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IVyrPS::EnablePDEV(PDEVOBJ devobj, PWSTR printerName, ULONG, HSURF*, ULONG, GDIINFO*,
                                             ULONG, DEVINFO* devInfo, DRVENABLEDATA* coreData,
                                             PDEVOEM* pdev) noexcept
{
    if (devInfo) devInfo->flGraphicsCaps |= GCAPS_DONTJOURNAL;
    OemPDev* created = CreateOemPDev(devobj, printerName, coreData, m_driver);
    if (pdev) *pdev = created;
    if (!created) return E_FAIL;
    if (!pdev) {
        delete created;
        return E_POINTER;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IVyrPS::DisablePDEV(PDEVOBJ devobj) noexcept
{
    DeleteOemPDev(devobj);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IVyrPS::ResetPDEV(PDEVOBJ oldDevobj, PDEVOBJ newDevobj) noexcept
{
    ResetOemPDev(oldDevobj, newDevobj);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IVyrPS::PublishDriverInterface(IUnknown* unknown) noexcept
{
    if (m_driver) return S_OK;
    if (!unknown) return E_INVALIDARG;
    void* driver = nullptr;
    HRESULT hr = unknown->QueryInterface(IID_IPrintOemDriverPS, &driver);
    if (FAILED(hr)) {
        m_driver = nullptr;
        return hr;
    }
    m_driver = static_cast<IPrintOemDriverPS*>(driver);
    return m_driver ? hr : E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE IVyrPS::Command(PDEVOBJ devobj, DWORD index, PVOID, DWORD, DWORD* result) noexcept
{
    OemPDev* pdev = GetOemPDev(devobj);
    const int written = pdev ? pdev->RunCommand(devobj, index) : 0;
    if (written < 0) {
        if (result) *result = GetLastError();
        return E_FAIL;
    }
    if (result) *result = written > 0 ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
    return S_OK;
}

// --- exports --------------------------------------------------------------------------

HRESULT RindleGetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept
{
    if (!object) return E_POINTER;
    if (!IsEqualCLSID(clsid, CLSID_OEMRENDER)) return CLASS_E_CLASSNOTAVAILABLE;
    RindleClassFactory* factory = new (std::nothrow) RindleClassFactory();
    if (!factory) {
        *object = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}

HRESULT RindleCanUnloadNow() noexcept { return GetRindleLockCount() != 0 ? S_FALSE : S_OK; }
