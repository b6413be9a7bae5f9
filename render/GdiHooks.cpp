// The hooked graphics-engine entry points (see GdiHooks.h).
#include "render/GdiHooks.h"

#include <array>

#include "render/CommandProcessor.h"
#include "render/JobMonitor.h"
#include "render/OemPDev.h"
#include "render/RindleModule.h"
#include "settings/PropertyNames.h"
#include "settings/StrSoup.h"

namespace {

// Each hook finds the PDEV of its surface or core PDEV and calls the core driver's function
// with the same arguments; without either it answers 0 (FALSE, or a null result).
#define TOLVA_DEFINE_FORWARD(name, index, result, params, args, locator)          \
    [[maybe_unused]] result APIENTRY Forward_##name params noexcept {               \
        OemPDev* pdev = GetOemPDev(locator);                                        \
        auto core = pdev ? FromPfn<PFN_##name>(pdev->GetCoreFunction(kHookRow_##name)) : nullptr; \
        if (!core)                                                                  \
            return result();                                                        \
        return core args;                                                           \
    }
TOLVA_DDI_HOOKS(TOLVA_DEFINE_FORWARD)
#undef TOLVA_DEFINE_FORWARD

// The document start: the job's values are prepared and the document name kept before the
// core driver writes the document's opening, which carries them.
BOOL APIENTRY HookDrvStartDoc(SURFOBJ* pso, LPWSTR pwszDocName, DWORD dwJobId) noexcept {
    OemPDev* pdev = GetOemPDev(pso);
    if (!pdev)
        return FALSE;
    try {
        pdev->PrepareDocument();
        if (IsCurrentOption(pdev->GetDriverState(), QV_PROP_QVJOBMONITOR, QV_PROP_TRUE))
            LaunchJobMonitor(GetRindleModule());
        auto core = FromPfn<PFN_DrvStartDoc>(pdev->GetCoreFunction(kHookRow_DrvStartDoc));
        if (!core)
            return FALSE;
        if (pwszDocName)
            pdev->SetDocumentName(pwszDocName);
        // Another document on the same device counts its pages from 1 again, so that its
        // first page sets the orientation up like any job's.
        pdev->SetPageCount(0);
        return core(pso, pwszDocName, dwJobId);
    } catch (...) {
        return FALSE;
    }
}

std::array<DRVFN, kHookCount> MakeHookTable() noexcept {
    std::array<DRVFN, kHookCount> table = {{
#define TOLVA_HOOK_ROW(name, index, result, params, args, locator) {index, ToPfn(&Forward_##name)},
        TOLVA_DDI_HOOKS(TOLVA_HOOK_ROW)
#undef TOLVA_HOOK_ROW
    }};
    table[kHookRow_DrvStartDoc].pfn = ToPfn(&HookDrvStartDoc);
    return table;
}

}  // namespace

const DRVFN* GetHookTable(ULONG* count) noexcept {
    static const std::array<DRVFN, kHookCount> table = MakeHookTable();
    if (count)
        *count = static_cast<ULONG>(table.size());
    return table.data();
}
