// Quenta's module entry and its two exported COM entry points.
#include <windows.h>

#include "uiplugin/OemUI.h"
#include "uiplugin/QuentaModule.h"
#include "sheets/TQDriverTab.h"
#include "uiplugin/PropSheets.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) noexcept
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetQuentaModule(module);
        // The job-settings page (its library client is TQManager's by default).
        SetTabMaker(kTabJobSettings, &MakeTQDriverTab);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) noexcept
{
    return QuentaGetClassObject(clsid, riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() noexcept { return QuentaCanUnloadNow(); }
