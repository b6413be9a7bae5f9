// Quenta's module-wide state.
#include "uiplugin/QuentaModule.h"

namespace {
HINSTANCE g_module = nullptr;
volatile LONG g_lockCount = 0;
}  // namespace

HINSTANCE GetQuentaModule() noexcept { return g_module; }

void SetQuentaModule(HINSTANCE module) noexcept { g_module = module; }

LONG GetQuentaLockCount() noexcept { return InterlockedCompareExchange(&g_lockCount, 0, 0); }

void ChangeQuentaLockCount(bool lock) noexcept
{
    if (lock)
        InterlockedIncrement(&g_lockCount);
    else
        InterlockedDecrement(&g_lockCount);
}
