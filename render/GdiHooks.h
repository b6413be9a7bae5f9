// The graphics-engine entry points Rindle hooks: each passes the call on to the core
// driver's own function; the document start also prepares the job's values first.
#pragma once

#include <windows.h>

#include "platform/DriverKit.h"

// The hook table handed to the core driver (one row per hooked entry point, in table order).
const DRVFN* GetHookTable(ULONG* count) noexcept;

// Casts between the table's generic entry-point type and the typed DDI function pointers.
template <class Function>
PFN ToPfn(Function function) noexcept {
    return reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function));
}
template <class Function>
Function FromPfn(PFN function) noexcept {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(function));
}
