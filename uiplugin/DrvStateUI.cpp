// The sheet's driver state and its exchange with the core driver's options.
#include "uiplugin/DrvStateUI.h"

#include <cstring>
#include <memory>
#include <string>
#include <new>

#include "foundation/StrUtil.h"
#include "settings/KeyOptSetting.h"
#include "settings/OptionUtil.h"
#include "storage/CfgSettings.h"
#include "storage/Store.h"

CDrvStateUI::CDrvStateUI(CfgSettings* settings, IPrintCoreUI2* core, POEMUIPSPARAM param, POEMUIOBJ uiObject)
    : CBaseDrvState(settings)
{
    Init(settings, core, param, uiObject);
}

bool CDrvStateUI::Init(CfgSettings* settings, IPrintCoreUI2* core, POEMUIPSPARAM param, POEMUIOBJ uiObject)
{
    if (CBaseDrvState::IsValid() && settings && core && param && uiObject) {
        m_core = core;
        if (LoadCoreDriverOptions(settings, uiObject, GetLocalSettings()) && Load(settings, param, uiObject))
            return true;
    }
    Reset();
    return false;
}

void CDrvStateUI::Reset()
{
    m_core = nullptr;
    CDrvState::Reset();
}

DevmodeSet CDrvStateUI::MakeSet(POEMUIPSPARAM param)
{
    DevmodeSet set;
    set.privateBlock = param->pOEMDM;
    set.printer = param->hPrinter;
    set.publicDevmode = param->pPublicDM;
    return set;
}

BOOL CDrvStateUI::Load(CfgSettings* given, POEMUIPSPARAM param, POEMUIOBJ uiObject)
{
    // The state's own generation: the caller may hold a newer one whose slot ids differ.
    CfgSettings* settings = Own(given);
    if (!m_core || !param || !uiObject || !settings) return FALSE;
    try {
        DevmodeSet set = MakeSet(param);
        // Loaded into scratch and taken only when every step succeeded: a failed reload keeps
        // the settings the user has.
        KVCache work;
        const int sections[] = {CFG_SECTION_INSTALLABLE_KEYS, CFG_SECTION_DRIVERPROP_KEYS, CFG_SECTION_VYRUI_KEYS,
                                CFG_SECTION_GROUP_KEYS, CFG_SECTION_PSDM_KEYS};
        // A section the PPD does not have adds nothing; it is no failure.
        for (int section : sections)
            settings->LoadSectionSettings(section, &work, nullptr, nullptr);
        if (!LoadCoreDriverOptions(settings, uiObject, &work)) return FALSE;
        if (set.printer && !LoadPrinterSettings(settings, set.printer, &work)) return FALSE;
        if (set.privateBlock && !LoadPrivateDevmode(settings, set, &work)) return FALSE;
        if (set.publicDevmode && !LoadPublicDevmode(settings, set.publicDevmode, &work)) return FALSE;
        m_current = work;
        // The user's own watermarks: the job-settings library starts from what was kept.
        if (CUserStore* store = GetWatermarkStore()) store->Load();
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

BOOL CDrvStateUI::LoadCoreDriverOptions(CfgSettings* given, POEMUIOBJ uiObject, KVCache* target)
{
    CfgSettings* settings = Own(given);
    if (!m_core || !uiObject || !target || !settings || !GetSoup()) return FALSE;
    DWORD needed = 0;
    if (m_core->GetOptions(uiObject, 0, nullptr, 0, nullptr, 0, &needed) != E_OUTOFMEMORY) return FALSE;
    if (needed == 0 || needed > 0x1000000) return FALSE;
    std::unique_ptr<char[]> list(new (std::nothrow) char[needed + 1]);
    if (!list) return FALSE;
    list[0] = '\0';
    DWORD written = 0;
    if (m_core->GetOptions(uiObject, 0, nullptr, 0, list.get() + 1, needed, &written) != S_OK) return FALSE;
    // Each pair takes a copy of its keyword's default set to the option; pairs the PPD does not
    // know, or options it does not accept, are skipped.
    const char* pairs = list.get() + 1;
    COptionUtil options(GetSoup(), settings->GetKeyForest());
    KVCache* defaults = settings->GetDefaultSettings();
    unsigned pos = 0;
    while (pos < needed && pairs[pos]) {
        size_t featureLength = strnlen(pairs + pos, needed - pos);
        if (pos + featureLength + 1 >= needed) break;
        const char* option = pairs + pos + featureLength + 1;
        size_t optionLength = strnlen(option, needed - pos - featureLength - 1);
        if (!optionLength || pos + featureLength + 1 + optionLength >= needed) break;
        StrUtil<wchar_t, char> feature(pairs + pos);
        StrUtil<wchar_t, char> value(option);
        pos += static_cast<unsigned>(featureLength + 1 + optionLength + 1);
        if (!feature.Get() || !value.Get()) continue;
        std::wstring keyword = std::wstring(L"*") + feature.Get();
        SoupSlotID key = GetSoup()->Find(keyword.c_str());
        const CKeySetting* standard = key.IsValid() && defaults ? defaults->Find(key) : nullptr;
        if (!standard) continue;
        if (dynamic_cast<const CKeyOptSetting*>(standard)) {
            SoupSlotID chosen = GetSoup()->Find(value.Get());
            if (chosen.IsInvalid() || !options.GetOptionData(key, chosen)) continue;
        }
        if (!target->Find(key)) target->Set(standard);  // a copy of the default to set
        std::string one(option - featureLength - 1, featureLength + 1 + optionLength + 1);
        one += '\0';
        ApplyCoreOptions(one.data(), static_cast<unsigned>(one.size()), target);
    }
    return TRUE;
}

BOOL CDrvStateUI::SetCoreDriverOptions(CfgSettings*, POEMUIOBJ uiObject, KVCache* cache)
{
    if (!m_core || !uiObject || !cache) return FALSE;
    // The list is sized from the values it will carry, not from the ones before.
    GetLocalSettings()->SetAll(cache, true);
    unsigned size = BuildCoreOptions(GetLocalSettings(), nullptr, 0);
    if (size == 0) return TRUE;  // the core driver keeps none of these features
    std::unique_ptr<char[]> list(new (std::nothrow) char[size]());
    if (!list) return FALSE;
    if (BuildCoreOptions(GetLocalSettings(), list.get(), size) != size) return FALSE;
    DWORD result = 0;
    return m_core->SetOptions(uiObject, SETOPTIONS_FLAG_KEEP_CONFLICT, list.get(), size, &result) == S_OK;
}

BOOL CDrvStateUI::Save(CfgSettings* given, POEMUIPSPARAM param, POEMUIOBJ uiObject)
{
    CfgSettings* settings = Own(given);
    if (!m_core || !settings || !settings->GetDefaultSettings() || !param || !uiObject) return FALSE;
    try {
        DevmodeSet set = MakeSet(param);
        if (!SetCoreDriverOptions(settings, uiObject, &m_current)) return FALSE;
        if (set.printer && !SavePrinterSettings(settings, set.printer, &m_current)) return FALSE;
        if (set.privateBlock && !SavePrivateDevmode(settings, set, &m_current)) return FALSE;
        if (set.publicDevmode && !SavePublicDevmode(settings, set.publicDevmode, &m_current)) return FALSE;
        // Only with everything else written; the settings are saved whatever the store answers.
        if (CUserStore* store = GetWatermarkStore()) store->Save();
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}
