// The module-wide activation context from Quenta's manifest resource, so that the property
// pages get version 6 of the common controls.
#pragma once

#include <windows.h>

#include "foundation/Syncher.h"

class ActivationContext {
public:
    // Made from the manifest resource resourceId of module; invalid when either is missing
    // or the platform cannot make it.
    ActivationContext(HMODULE module, UINT resourceId) noexcept;
    virtual ~ActivationContext();
    ActivationContext(const ActivationContext&) = delete;
    ActivationContext& operator=(const ActivationContext&) = delete;

    // The context handle, INVALID_HANDLE_VALUE when none could be made.
    HANDLE GetHandle() const noexcept { return m_handle; }
    bool IsValid() const noexcept { return m_handle != INVALID_HANDLE_VALUE; }

private:
    static HANDLE Create(HMODULE module, UINT resourceId) noexcept;

    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// Locks the process's activation context (made on first use from Quenta's resource 2) and
// returns it, null when there is none; every non-null result goes back through
// UnlockActivationContext.
ActivationContext* LockActivationContext() noexcept;
void UnlockActivationContext(ActivationContext* context) noexcept;
