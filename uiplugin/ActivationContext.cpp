// The module-wide activation context. CreateActCtxW and ReleaseActCtx are looked up by name
// when called, so the module loads where they are missing.
#include "uiplugin/ActivationContext.h"

#include "uiplugin/QuentaModule.h"

namespace {
using CreateActCtxWFn = HANDLE(WINAPI*)(const ACTCTXW*);
using ReleaseActCtxFn = void(WINAPI*)(HANDLE);

template <class Fn>
Fn FindKernelFunction(const char* name) noexcept
{
    HMODULE kernel = GetModuleHandleW(L"KERNEL32");
    if (!kernel) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name)));
}

constexpr UINT kManifestResourceId = 2;
static_assert(sizeof(ACTCTXW) == (sizeof(void*) == 8 ? 56 : 32), "ACTCTXW differs between widths");
}  // namespace

ActivationContext::ActivationContext(HMODULE module, UINT resourceId) noexcept : m_handle(Create(module, resourceId)) {}

ActivationContext::~ActivationContext()
{
    if (m_handle == INVALID_HANDLE_VALUE) return;
    if (auto release = FindKernelFunction<ReleaseActCtxFn>("ReleaseActCtx")) release(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

HANDLE ActivationContext::Create(HMODULE module, UINT resourceId) noexcept
{
    if (!module || resourceId == 0) return INVALID_HANDLE_VALUE;
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return INVALID_HANDLE_VALUE;

    ACTCTXW request = {};
    request.cbSize = sizeof(request);  // 56 in 64-bit, 32 in 32-bit processes
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = path;
    request.lpResourceName = MAKEINTRESOURCEW(resourceId);

    auto create = FindKernelFunction<CreateActCtxWFn>("CreateActCtxW");
    if (!create) return INVALID_HANDLE_VALUE;
    return create(&request);
}

namespace {
Syncher<ActivationContext>& GetActivationContextSyncher()
{
    return GuardedSyncher<ActivationContext>(
        [] { return new (std::nothrow) ActivationContext(GetQuentaModule(), kManifestResourceId); });
}
}  // namespace

ActivationContext* LockActivationContext() noexcept
{
    try {
        return GetActivationContextSyncher().Lock();
    } catch (...) {
        return nullptr;
    }
}

void UnlockActivationContext(ActivationContext* context) noexcept
{
    if (!context) return;
    try {
        GetActivationContextSyncher().Unlock(context);
    } catch (...) {
    }
}
