// Resource-only test module carrying the PNG and bitmap fixtures of the picture tests.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
