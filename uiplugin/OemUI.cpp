// Quenta's UI plug-in object IOemUI (its class factory IOemCF is the shared plug-in factory).
#include "uiplugin/OemUI.h"

#include <new>

#include "uiplugin/GeneralInfo.h"
#include "uiplugin/PropSheets.h"
#include "uiplugin/QuentaModule.h"

// --- IOemUI ---------------------------------------------------------------------------

IOemUI::~IOemUI()
{
    if (m_core) m_core->Release();
    m_core = nullptr;
}

HRESULT STDMETHODCALLTYPE IOemUI::QueryInterface(REFIID riid, void** object) noexcept
{
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemUI2) || IsEqualIID(riid, IID_IPrintOemUI)) {
        *object = static_cast<IPrintOemUI2*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE IOemUI::AddRef() noexcept { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }

ULONG STDMETHODCALLTYPE IOemUI::Release() noexcept
{
    LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE IOemUI::GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) noexcept
{
    return AnswerPluginGetInfo(mode, buffer, size, needed);
}

HRESULT STDMETHODCALLTYPE IOemUI::DevMode(DWORD mode, POEMDMPARAM request) noexcept
{
    return AnswerPluginDevMode(mode, request, m_core);
}

HRESULT STDMETHODCALLTYPE IOemUI::PublishDriverInterface(IUnknown* unknown) noexcept
{
    if (m_core) return S_OK;
    if (!unknown) return E_INVALIDARG;
    void* core = nullptr;
    HRESULT hr = unknown->QueryInterface(IID_IPrintCoreUI2, &core);
    if (FAILED(hr)) {
        m_core = nullptr;
        return hr;
    }
    m_core = static_cast<IPrintCoreUI2*>(core);
    return m_core ? hr : E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE IOemUI::CommonUIProp(DWORD, POEMCUIPPARAM) noexcept { return E_NOTIMPL; }

// The property-sheet handlers join here when the sheets are built.
HRESULT STDMETHODCALLTYPE IOemUI::DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) noexcept
{
    return DocumentPropertySheetsHandler(info, lParam, m_core);
}

HRESULT STDMETHODCALLTYPE IOemUI::DevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) noexcept
{
    return DevicePropertySheetsHandler(info, lParam, m_core);
}

HRESULT STDMETHODCALLTYPE IOemUI::DevQueryPrintEx(POEMUIOBJ, PDEVQUERYPRINT_INFO, PDEVMODEW, PVOID) noexcept
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::DeviceCapabilities(POEMUIOBJ, HANDLE, PWSTR, WORD, PVOID, PDEVMODEW, PVOID, DWORD,
                                                     DWORD*) noexcept
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::UpgradePrinter(DWORD, PBYTE) noexcept { return E_NOTIMPL; }

// The printer- and driver-event handlers join here when they are built.
HRESULT STDMETHODCALLTYPE IOemUI::PrinterEvent(PWSTR, INT, DWORD, LPARAM) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE IOemUI::DriverEvent(DWORD, DWORD, LPBYTE, LPARAM) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE IOemUI::QueryColorProfile(HANDLE, POEMUIOBJ, PDEVMODEW, PVOID, ULONG, VOID*, ULONG*,
                                                    FLONG*) noexcept
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::FontInstallerDlgProc(HWND, UINT, WPARAM, LPARAM) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE IOemUI::UpdateExternalFonts(HANDLE, HANDLE, PWSTR) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE IOemUI::QueryJobAttributes(HANDLE, PDEVMODEW, DWORD, LPBYTE) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE IOemUI::HideStandardUI(DWORD mode) noexcept
{
    // Quenta's own pages replace the core driver's in both sheets.
    return (mode == OEMCUIP_DOCPROP || mode == OEMCUIP_PRNPROP) ? S_OK : E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IOemUI::DocumentEvent(HANDLE, HDC, INT, ULONG, PVOID, ULONG, PVOID, INT*) noexcept
{
    return E_NOTIMPL;
}

// --- exports --------------------------------------------------------------------------

HRESULT QuentaGetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept
{
    if (!object) return E_POINTER;
    if (!IsEqualCLSID(clsid, CLSID_OEMUI)) return CLASS_E_CLASSNOTAVAILABLE;
    IOemCF* factory = new (std::nothrow) IOemCF();
    if (!factory) {
        *object = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}

HRESULT QuentaCanUnloadNow() noexcept { return GetQuentaLockCount() != 0 ? S_FALSE : S_OK; }
