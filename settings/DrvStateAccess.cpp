// Registered driver-state and settings accessors.
#include "settings/DrvStateAccess.h"

#include <atomic>

#include "foundation/StrUtil.h"

namespace {
std::atomic<CBaseSoup* (*)(CDrvState*)> g_soup{nullptr};
std::atomic<OptionForest* (*)(CDrvState*)> g_forest{nullptr};
std::atomic<KVCache* (*)(CDrvState*)> g_current{nullptr};
std::atomic<UINT (*)(CDrvState*)> g_codePage{nullptr};
std::atomic<const wchar_t* (*)(CDrvState*)> g_ppdPath{nullptr};
std::atomic<CfgSettingsPathAccessor> g_cfgPath{nullptr};
}  // namespace

void SetDrvStateAccessors(const DrvStateAccessors* a) {
    const DrvStateAccessors none;
    if (!a) a = &none;
    g_soup.store(a->getSoup);
    g_forest.store(a->getKeyForest);
    g_current.store(a->getCurrentSettings);
    g_codePage.store(a->getOutputCodePage);
    g_ppdPath.store(a->getPPDPath);
}

CBaseSoup* DrvStateSoup(CDrvState* state) {
    const auto f = g_soup.load();
    return (state && f) ? f(state) : nullptr;
}

OptionForest* DrvStateKeyForest(CDrvState* state) {
    const auto f = g_forest.load();
    return (state && f) ? f(state) : nullptr;
}

KVCache* DrvStateCurrentSettings(CDrvState* state) {
    const auto f = g_current.load();
    return (state && f) ? f(state) : nullptr;
}

UINT DrvStateOutputCodePage(CDrvState* state) {
    const auto f = g_codePage.load();
    return (state && f) ? f(state) : kThreadAnsiCodePage;
}

const wchar_t* DrvStatePPDPath(CDrvState* state) {
    const auto f = g_ppdPath.load();
    return (state && f) ? f(state) : nullptr;
}

void SetCfgSettingsPathAccessor(CfgSettingsPathAccessor accessor) { g_cfgPath.store(accessor); }

const wchar_t* GetCfgSettingsPPDPath(CfgSettings* settings) {
    const auto f = g_cfgPath.load();
    return (settings && f) ? f(settings) : nullptr;
}
