// Tesmor.dll entry: keeps the module handle, by which the protocol libraries are found.
#include <windows.h>

#include "serverif/ServerInterfaceContext.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SetServerInterfaceModule(instance);
    return TRUE;
}
