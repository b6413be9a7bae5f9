// The class factory both plug-ins hand to the core driver: it makes one plug-in object per
// CreateInstance and counts LockServer calls in its module's lock count.
#pragma once

#include <windows.h>

#include <new>

// Plugin: the plug-in object (reference count 1 when made); ChangeLockCount: the module's
// LockServer counter. The factory deletes itself in Release.
template <class Plugin, void (*ChangeLockCount)(bool) noexcept>
class PluginClassFactory final : public IClassFactory {
public:
    PluginClassFactory() noexcept = default;
    ~PluginClassFactory() = default;
    PluginClassFactory(const PluginClassFactory&) = delete;
    PluginClassFactory& operator=(const PluginClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override
    {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
    }

    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        LONG count = InterlockedDecrement(&m_refCount);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept override
    {
        if (!object) return E_POINTER;
        if (outer) {
            *object = nullptr;
            return CLASS_E_NOAGGREGATION;
        }
        Plugin* plugin = new (std::nothrow) Plugin();
        if (!plugin) {
            *object = nullptr;
            return E_OUTOFMEMORY;
        }
        HRESULT hr = plugin->QueryInterface(riid, object);
        plugin->Release();  // the caller's reference, if any, is the only one left
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override
    {
        ChangeLockCount(lock != FALSE);
        return S_OK;
    }

private:
    volatile LONG m_refCount = 1;
};
