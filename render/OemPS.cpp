// Rindle's rendering plug-in object IVyrPS (its class factory is the shared plug-in factory).
#include "render/OemPS.h"

#include <new>

#include "uiplugin/GeneralInfo.h"
#include "render/RindleModule.h"

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

// The hook table and the per-device state join here in the next step.
HRESULT STDMETHODCALLTYPE IVyrPS::EnableDriver(DWORD, DWORD, PDRVENABLEDATA) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE IVyrPS::DisableDriver() noexcept
{
    if (m_driver) m_driver->Release();
    m_driver = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IVyrPS::EnablePDEV(PDEVOBJ, PWSTR, ULONG, HSURF*, ULONG, GDIINFO*, ULONG, DEVINFO*,
                                             DRVENABLEDATA*, PDEVOEM* pdev) noexcept
{
    if (pdev) *pdev = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IVyrPS::DisablePDEV(PDEVOBJ) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE IVyrPS::ResetPDEV(PDEVOBJ, PDEVOBJ) noexcept { return E_NOTIMPL; }

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

// The injection handlers join here with the command processor.
HRESULT STDMETHODCALLTYPE IVyrPS::Command(PDEVOBJ, DWORD, PVOID, DWORD, DWORD* result) noexcept
{
    if (result) *result = ERROR_NOT_SUPPORTED;
    return E_NOTIMPL;
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
