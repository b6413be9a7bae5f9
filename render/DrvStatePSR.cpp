// The driver state of one print job (see DrvStatePSR.h).
#include "render/DrvStatePSR.h"

#include <cstring>
#include <memory>

#include "foundation/StrUtil.h"
#include "settings/KeyOptSetting.h"
#include "storage/CfgSettings.h"
#include "storage/Store.h"

namespace {
// The core driver writes at most this many bytes of an option name.
constexpr DWORD kDriverSettingBytes = 128;
}  // namespace

CDrvStatePSR::CDrvStatePSR(CfgSettings* settings) : CBaseDrvState(settings) {}

CDrvStatePSR::~CDrvStatePSR() { m_driver = nullptr; }

bool CDrvStatePSR::Init(CfgSettings* settings, IPrintOemDriverPS* driver, PDEVOBJ devobj) {
    if (!IsValid() || !settings || !driver || !devobj)
        return false;
    m_driver = driver;
    bool ok = ApplyCoreDriverOptions(settings, devobj, GetLocalSettings()) != 0;
    ok = ok && LoadSettings(settings, devobj);
    if (!ok) {
        m_driver = nullptr;
        Reset();
    }
    return ok;
}

bool CDrvStatePSR::LoadSettings(CfgSettings* settings, PDEVOBJ devobj) {
    if (!HasDriverHelper() || !settings || !devobj || !settings->GetDefaultSettings())
        return false;
    m_current.Clear();
    bool loaded = true;
    const int order[] = {CFG_SECTION_INSTALLABLE_KEYS, CFG_SECTION_DRIVERPROP_KEYS, CFG_SECTION_VYRUI_KEYS,
                         CFG_SECTION_GROUP_KEYS, CFG_SECTION_PSDM_KEYS};
    for (int section : order)
        loaded = settings->LoadSectionSettings(section, &m_current, nullptr, nullptr) && loaded;

    // Each later source overrides the earlier ones; a failing step skips the rest.
    bool steps = ApplyCoreDriverOptions(settings, devobj, &m_current) != 0;
    steps = steps && LoadPrinterSettings(settings, devobj->hPrinter, &m_current);
    if (steps && devobj->pOEMDM) {
        DevmodeSet set;
        set.privateBlock = devobj->pOEMDM;
        set.printer = devobj->hPrinter;
        set.publicDevmode = devobj->pPublicDM;
        steps = LoadPrivateDevmode(settings, set, &m_current);
    }
    if (steps && devobj->pPublicDM)
        steps = LoadPublicDevmode(settings, devobj->pPublicDM, &m_current);
    if (steps && GetWatermarkStore())
        GetWatermarkStore()->Load();
    return loaded;
}

int CDrvStatePSR::ApplyCoreDriverOptions(CfgSettings* settings, PDEVOBJ devobj, KVCache* target) {
    if (!HasDriverHelper() || !settings || !devobj || !target || !m_soup)
        return 0;
    // The PostScript output options (section 4) are the core driver's own features too: the
    // output format among them, without which an EPS job could never be recognised.
    KVCache scratch;
    settings->LoadSectionSettings(CFG_SECTION_GROUP_KEYS, &scratch, nullptr, nullptr);
    settings->LoadSectionSettings(CFG_SECTION_PSDM_KEYS, &scratch, nullptr, nullptr);
    for (auto it = scratch.Begin(); it != scratch.End(); ++it) {
        const auto* option = dynamic_cast<const CKeyOptSetting*>(scratch.GetAt(it));
        if (!option || option->GetKeyId().IsInvalid())
            continue;
        const wchar_t* keyword = m_soup->GetString(option->GetKeyId());
        if (!keyword || !keyword[0] || !keyword[1])
            continue;
        StrUtil<char, wchar_t> feature(keyword + 1);
        if (!feature.Get())
            continue;
        // One byte beyond the core driver's room keeps a full-length answer terminated.
        char answer[kDriverSettingBytes + 1] = {};
        DWORD needed = 0, returned = 0;
        HRESULT hr = m_driver->DrvGetDriverSetting(devobj, feature.Get(), answer, kDriverSettingBytes, &needed,
                                                   &returned);
        if (FAILED(hr) || needed > kDriverSettingBytes || !answer[0])
            continue;
        StrUtil<wchar_t, char> name(answer);
        if (!name.Get())
            continue;
        SoupSlotID value = m_soup->Find(name.Get());
        if (value.IsInvalid())
            continue;
        std::unique_ptr<CKeySetting> selected(option->Clone());
        if (!selected)
            continue;
        selected->SetValueId(value);
        target->Set(selected.get());
    }
    return 1;
}
