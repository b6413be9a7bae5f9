// Rindle's module entry and its two exported COM entry points.
#include <windows.h>

#include "render/OemPS.h"
#include "render/RindleModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) noexcept
{
    if (reason == DLL_PROCESS_ATTACH) SetRindleModule(module);
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) noexcept
{
    return RindleGetClassObject(clsid, riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() noexcept { return RindleCanUnloadNow(); }
