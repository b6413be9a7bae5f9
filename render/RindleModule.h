// Rindle's module-wide state: its own module handle and the class factory's lock count.
#pragma once

#include <windows.h>

// Rindle's module handle, stored at process attach (null before).
HINSTANCE GetRindleModule() noexcept;
void SetRindleModule(HINSTANCE module) noexcept;

// The count that IClassFactory::LockServer raises and lowers.
LONG GetRindleLockCount() noexcept;
void ChangeRindleLockCount(bool lock) noexcept;
