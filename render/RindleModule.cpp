// Rindle's module-wide state.
#include "render/RindleModule.h"

namespace {
HINSTANCE g_module = nullptr;
volatile LONG g_lockCount = 0;
}  // namespace

HINSTANCE GetRindleModule() noexcept { return g_module; }

void SetRindleModule(HINSTANCE module) noexcept { g_module = module; }

LONG GetRindleLockCount() noexcept { return InterlockedCompareExchange(&g_lockCount, 0, 0); }

void ChangeRindleLockCount(bool lock) noexcept
{
    if (lock)
        InterlockedIncrement(&g_lockCount);
    else
        InterlockedDecrement(&g_lockCount);
}
