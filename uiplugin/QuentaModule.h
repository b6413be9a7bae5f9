// Quenta's module-wide state: its own module handle and the class factory's lock count.
#pragma once

#include <windows.h>

// Quenta's module handle, stored at process attach (null before).
HINSTANCE GetQuentaModule() noexcept;
void SetQuentaModule(HINSTANCE module) noexcept;

// The count that IClassFactory::LockServer raises and lowers.
LONG GetQuentaLockCount() noexcept;
void ChangeQuentaLockCount(bool lock) noexcept;
