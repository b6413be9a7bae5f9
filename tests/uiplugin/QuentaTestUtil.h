// Helpers of the Quenta tests: the built module's path and its exports.
#pragma once

#include <windows.h>

#include <string>

// Windows path of the built Quenta.dll.
inline std::wstring QuentaPath() { return TOLVA_QUENTA_PATH_W; }

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

template <class Fn>
Fn QuentaExport(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Quenta loaded for one test, freed at the end.
class QuentaModule {
public:
    QuentaModule() : m_module(LoadLibraryW(QuentaPath().c_str())) {}
    ~QuentaModule()
    {
        if (m_module) FreeLibrary(m_module);
    }
    QuentaModule(const QuentaModule&) = delete;
    QuentaModule& operator=(const QuentaModule&) = delete;

    HMODULE Get() const { return m_module; }
    GetClassObjectFn GetClassObject() const { return QuentaExport<GetClassObjectFn>(m_module, "DllGetClassObject"); }
    CanUnloadNowFn CanUnloadNow() const { return QuentaExport<CanUnloadNowFn>(m_module, "DllCanUnloadNow"); }

private:
    HMODULE m_module;
};
