// The driver state and its load and save steps (see DrvState.h).
#include "storage/DrvState.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "settings/DrvStateAccess.h"
#include "settings/KeyNoteSetting.h"
#include "settings/KeyOptSetting.h"
#include "settings/KeyRangeSetting.h"
#include "settings/KeyUtility.h"
#include "settings/NumberText.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/Devmode.h"
#include "storage/PrinterData.h"
#include "storage/Store.h"

namespace {

// Inside a load step: a value that memory was short for fails the step (its try block), so no
// step succeeds with settings left out.
void RequireStored(bool stored) {
    if (!stored) throw std::bad_alloc();
}

// Inside a load step: the note text of key in target, when target holds a note of that key.
void StoreNote(KVCache* target, SoupSlotID key, const wchar_t* text) {
    const auto* note = dynamic_cast<const CKeyNoteSetting*>(target->Find(key));
    if (!note)
        return;
    std::unique_ptr<CKeySetting> copy(note->Clone());
    auto* changed = dynamic_cast<CKeyNoteSetting*>(copy.get());
    RequireStored(changed != nullptr);
    RequireStored(changed->SetNoteText(text) && target->Set(changed));
}

struct DevmodeRow {
    const wchar_t* option;
    short value;
};
const DevmodeRow kTTOptionRows[] = {
    {L"DMTT_BITMAP", 1}, {L"DMTT_DOWNLOAD", 2}, {L"DMTT_DOWNLOAD_OUTLINE", 4}, {L"DMTT_SUBDEV", 3}};
const DevmodeRow kOrientationRows[] = {{L"Portrait", 1}, {L"Landscape", 2}};
const DevmodeRow kDuplexRows[] = {{L"False", 1}, {L"TopTop", 2}, {L"TopBottom", 3}};
const DevmodeRow kColorRows[] = {{L"Grayscale", 1}, {L"CMYK", 2}};

template <size_t N>
const wchar_t* OptionOfValue(const DevmodeRow (&rows)[N], short value) {
    for (const DevmodeRow& row : rows)
        if (row.value == value)
            return row.option;
    return nullptr;
}

template <size_t N>
bool ValueOfOption(const DevmodeRow (&rows)[N], const wchar_t* option, short* value) {
    if (!option)
        return false;
    for (const DevmodeRow& row : rows)
        if (std::wcscmp(row.option, option) == 0) {
            *value = row.value;
            return true;
        }
    return false;
}

const wchar_t kTwoWayComm[] = L"*TwoWayComm";
const wchar_t kUpdateTolva[] = L"*UpdateTolva";

bool IsMirroredName(const wchar_t* name) {
    return name && (std::wcscmp(name, kTwoWayComm) == 0 || std::wcscmp(name, kUpdateTolva) == 0);
}

// The accessors the setting keys use to reach a driver state.
void RegisterAccessors() {
    static std::once_flag once;
    std::call_once(once, [] {
        DrvStateAccessors accessors;
        accessors.getSoup = [](CDrvState* state) { return state ? state->GetSoup() : nullptr; };
        accessors.getKeyForest = [](CDrvState* state) { return state ? state->GetKeyForest() : nullptr; };
        accessors.getCurrentSettings = [](CDrvState* state) { return state ? state->GetCurrentSettings() : nullptr; };
        accessors.getOutputCodePage = [](CDrvState* state) {
            return state ? state->GetCodePage() : static_cast<UINT>(CP_THREAD_ACP);
        };
        accessors.getPPDPath = [](CDrvState* state) { return state ? state->GetPPDPath() : nullptr; };
        SetDrvStateAccessors(&accessors);
        SetCfgSettingsPathAccessor([](CfgSettings* settings) -> const wchar_t* {
            return settings ? settings->GetPPDPath() : nullptr;
        });
    });
}

}  // namespace

// --- CDrvState -----------------------------------------------------------------------------

CDrvState::CDrvState(CfgSettings* settings) {
    RegisterAccessors();
    Initialise(settings);
}

CDrvState::~CDrvState() { Reset(); }

void CDrvState::ReleaseGeneration() {
    CfgSettings* generation = m_generation;
    m_generation = nullptr;
    if (generation)
        generation->ReleaseUser();
}

bool CDrvState::Initialise(CfgSettings* settings) {
    m_soup = nullptr;
    ReleaseGeneration();
    if (!settings)
        return false;
    KVCache* defaults = settings->GetDefaultSettings();
    CBaseSoup* soup = settings->GetStringSoup();
    bool ok = defaults && soup;
    const int order[] = {CFG_SECTION_GENERAL_KEYS, CFG_SECTION_DRIVERPROP_KEYS, CFG_SECTION_GROUP_KEYS,
                         CFG_SECTION_VYRNONUI_KEYS, CFG_SECTION_VYRUI_KEYS};
    for (int section : order)
        ok = ok && settings->LoadSectionSettings(section, nullptr, &m_forest, &m_idForest);
    if (!ok) {
        Reset();
        return false;
    }
    try {
        m_defaults = *defaults;
        m_ppdPath = settings->GetPPDPath() ? settings->GetPPDPath() : L"";
    } catch (...) {
        Reset();
        return false;
    }
    m_soup = soup;
    m_codePage = settings->GetCodePage();
    settings->AddUser();
    m_generation = settings;
    return true;
}

StateSettingsHold::StateSettingsHold(const CDrvState* state, const wchar_t* ppdPath)
    : m_path(ppdPath), m_held(AcquireCfgSettings(ppdPath)) {
    if (m_held) m_generation = state && state->GetGeneration() ? state->GetGeneration() : m_held;
}

StateSettingsHold::~StateSettingsHold() {
    if (m_held) ReleaseCfgSettings(m_path, m_held);
}

void CDrvState::Reset() {
    m_defaults.Clear();
    m_current.Clear();
    m_soup = nullptr;
    ReleaseGeneration();
}

bool CDrvState::UpdateValues(const KVCache* values) {
    if (!values)
        return false;
    return m_current.SetAll(values, true);
}

// --- CBaseDrvState -------------------------------------------------------------------------

CBaseDrvState::CBaseDrvState(CfgSettings* settings) : CDrvState(settings) {
    OpenWatermarkStore(settings);
    if (CDrvState::IsValid())
        MakeFlagsOptionKey();
}

CBaseDrvState::~CBaseDrvState() { ReleaseStores(); }

SoupSlotID CBaseDrvState::Slot(const wchar_t* text) const {
    return m_soup && text ? m_soup->Find(text) : SoupSlotID();
}

void CBaseDrvState::MakeFlagsOptionKey() {
    SoupSlotID key = Slot(L"*VYRFlags");
    if (key.IsInvalid())
        return;
    CKeyData* data = m_idForest.GetData(key);
    std::list<SoupSlotID>* strings = m_idForest.GetLeaves(key);
    if (!data || !strings)
        return;
    std::list<COptData> options;
    if (!BuildOptionDataList(m_soup, key, &options, strings))
        return;
    CKeyData copy(*data);
    m_forest.SetData(key, copy);
    m_forest.ClearLeaves(key);
    m_forest.AddLeaves(key, options);
}

bool CBaseDrvState::OpenWatermarkStore(CfgSettings* settings) {
    ReleaseStores();
    WText nick(settings ? ReadShortNickName(settings->GetPPDPath()) : nullptr);
    const wchar_t* name = nick ? nick.get() : L"";
    static const wchar_t kFormat[] = L"Software\\VYR\\Quillet\\LocalWaterMarkData\\Printers\\%s\\WaterMark";
    // The path must fit its 128-character field: a longer nickname is cut to fit.
    const size_t fixed = std::size(kFormat) - 1 - 2;
    wchar_t cut[128] = {};
    StrNCopy(cut, 128, name, fixed < 127 ? 127 - fixed : 0);
    wchar_t path[260] = {};
    if (!FormatToBuffer(path, 260, kFormat, cut) || StrLen(path) >= 128) {
        ReleaseStores();
        Reset();
        return false;
    }
    StrCopy(m_watermarkPath, 128, path);
    m_watermarkStore = new (std::nothrow) CUserStore(HKEY_CURRENT_USER, m_watermarkPath, 0);
    if (!m_watermarkStore) {
        ReleaseStores();
        Reset();
        return false;
    }
    return true;
}

void CBaseDrvState::ReleaseStores() {
    m_local.Clear();
    delete m_watermarkStore;
    m_watermarkStore = nullptr;
}

bool CBaseDrvState::SetOptionByText(KVCache* target, const wchar_t* keyword, const wchar_t* option) const {
    return ChangeOption(target, keyword, option) > 0;
}

int CBaseDrvState::ChangeOption(KVCache* target, const wchar_t* keyword, const wchar_t* option) const {
    if (!target || !m_soup)
        return 0;
    SoupSlotID key = Slot(keyword);
    SoupSlotID value = Slot(option);
    if (key.IsInvalid() || value.IsInvalid())
        return 0;
    const auto* current = dynamic_cast<const CKeyOptSetting*>(target->Find(key));
    if (!current)
        return 0;
    std::unique_ptr<CKeySetting> changed(current->Clone());
    if (!changed)
        return -1;
    changed->SetValueId(value);
    return target->Set(changed.get()) != 0 ? 1 : -1;
}

void CBaseDrvState::StoreOption(KVCache* target, const wchar_t* keyword, const wchar_t* option) const {
    RequireStored(ChangeOption(target, keyword, option) >= 0);
}

const wchar_t* CBaseDrvState::GetOptionText(const KVCache* source, const wchar_t* keyword) const {
    if (!source || !m_soup)
        return nullptr;
    SoupSlotID key = Slot(keyword);
    if (key.IsInvalid())
        return nullptr;
    const auto* setting = dynamic_cast<const CKeyOptSetting*>(source->Find(key));
    return setting ? m_soup->GetString(setting->GetValueId()) : nullptr;
}

void CBaseDrvState::ValidatePrivateValues(KVCache* read, const KVCache* before) const {
    // A block may come from another PPD version or be damaged: a value that is no option of
    // its key, or a number outside its range, falls back to the default.
    for (auto it = read->Begin(); it != read->End(); ++it) {
        CKeySetting* setting = read->GetAt(it);
        if (!setting)
            continue;
        bool bad = false;
        if (dynamic_cast<CKeyOptSetting*>(setting)) {
            if (m_forest.GetLeaves(setting->GetKeyId()))
                bad = m_forest.FindLeaf(setting->GetKeyId(), setting->GetValueId()) == nullptr;
        } else if (auto* range = dynamic_cast<CKeyRangeSetting*>(setting)) {
            double value = range->GetStoredValue();
            if (!std::isfinite(value))
                bad = true;
            else if (!range->IsUnbounded()) {
                int32_t unit = range->GetUnit();
                double v = range->GetValueInUnit(unit);
                bad = v < range->GetMinInUnit(unit) || v > range->GetMaxInUnit(unit);
            }
        }
        if (!bad)
            continue;
        const CKeySetting* fallback = m_defaults.Find(setting->GetKeyId());
        if (!fallback && before)
            fallback = before->Find(setting->GetKeyId());
        if (fallback) {
            std::unique_ptr<CKeySetting> copy(fallback->Clone());
            RequireStored(copy && read->Set(copy.get()));
        }
    }
}

bool CBaseDrvState::LoadPrivateDevmode(CfgSettings* given, const DevmodeSet& set, KVCache* target) {
    CfgSettings* settings = Own(given);
    if (!m_soup || !given || !target || !set.privateBlock)
        return false;
    CDevmode view(set.privateBlock, CDevmode::GetRequiredSize(settings), settings);
    if (view.IsEmpty() || !view.GetPayload() || view.GetPayloadSize() == 0)
        return true;
    // A block whose header or checksum does not hold is damaged or belongs to another PPD
    // version: its values are not read, the settings keep what the earlier steps gave.
    if (!view.IsValid())
        return true;
    try {
        KVCache read(*target);
        settings->ReadSectionValues(&read, CFG_SECTION_VYRUI_KEYS, view.GetPayload(), view.GetPayloadSize());
        ValidatePrivateValues(&read, target);
        RequireStored(target->SetAll(&read, true));
    } catch (...) {
        return false;
    }
    return true;
}

bool CBaseDrvState::SavePrivateDevmode(CfgSettings* given, const DevmodeSet& set, KVCache* source) {
    CfgSettings* settings = Own(given);
    if (!m_soup || !given || !source || !set.privateBlock)
        return false;
    CDevmode view(set.privateBlock, CDevmode::GetRequiredSize(settings), settings);
    if (view.IsEmpty() || !view.GetPayload())
        return false;
    // A block sized for a newer generation of the PPD may be smaller than this state's payload:
    // it is written only when its own size field says it has this state's size.
    uint32_t storedSize = 0;
    std::memcpy(&storedSize, set.privateBlock, sizeof(storedSize));
    if (settings != given && storedSize != view.GetTotalSize())
        return false;
    // Written aside first: values that cannot be saved leave the block as it was.
    try {
        std::vector<uint8_t> payload(view.GetPayloadSize());
        std::memcpy(payload.data(), view.GetPayload(), payload.size());
        if (!payload.empty() &&
            settings->WriteSectionValues(source, CFG_SECTION_VYRUI_KEYS, payload.data(),
                                         static_cast<uint32_t>(payload.size())) == 0)
            return false;
        std::memcpy(view.GetPayload(), payload.data(), payload.size());
    } catch (...) {
        return false;
    }
    return view.UpdateChecksum();
}

bool CBaseDrvState::LoadPrinterSettings(CfgSettings* given, HANDLE printer, KVCache* target) {
    CfgSettings* settings = Own(given);
    if (!m_soup || !settings || !target)
        return false;
    WText keyName(GetPrinterClientId(printer, true));
    if (!keyName)
        keyName.reset(PrnGetText(printer, L"ClientID"));
    if (!keyName)
        return true;
    try {
        KVCache local;
        RequireStored(settings->LoadSectionSettings(CFG_SECTION_DRIVERPROP_KEYS, &local, nullptr, nullptr));
        CAdminStore store(printer, keyName.get(), REG_BINARY);
        store.Load();
        RequireStored(!store.OutOfMemory());
        for (auto at = store.Begin(); at != store.End(); ++at) {
            const wchar_t* name = store.GetKey(at);
            const CStoreEntry* entry = store.GetEntry(at);
            if (!name || !entry)
                continue;
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(entry->GetValue());
            unsigned count = static_cast<unsigned>(entry->GetLength() * sizeof(wchar_t));
            ByteBuffer mirrored;
            if (IsMirroredName(name)) {
                DWORD type = 0, read = 0;
                mirrored.reset(PrnReadValue(printer, name, &type, &read));
                if (mirrored) {
                    bytes = mirrored.get();
                    count = read;
                }
            }
            if (count == 0)
                continue;
            SoupSlotID key = m_soup->FindOrAdd(name);
            const CKeySetting* setting = local.Find(key);
            if (!setting)
                continue;
            std::unique_ptr<CKeySetting> clone(setting->Clone());
            RequireStored(clone != nullptr);
            clone->SetData(nullptr, bytes, count);
            RequireStored(local.Set(clone.get()));
        }
        CfgSettings::RebindSettingStrings(m_soup, nullptr, &local);
        RequireStored(target->SetAll(&local, true));
    } catch (...) {
        return false;
    }
    return true;
}

bool CBaseDrvState::SavePrinterSettings(CfgSettings* given, HANDLE printer, KVCache* source) {
    CfgSettings* settings = Own(given);
    if (!m_soup || !settings || !source)
        return false;
    WText keyName(GetPrinterClientId(printer, false));
    if (!keyName)
        return true;
    try {
        KVCache local;
        settings->LoadSectionSettings(CFG_SECTION_DRIVERPROP_KEYS, &local, nullptr, nullptr);
        local.SetAll(source, true);
        CAdminStore store(printer, keyName.get(), REG_BINARY);
        for (auto it = local.Begin(); it != local.End(); ++it) {
            const CKeySetting* setting = local.GetAt(it);
            if (!setting)
                continue;
            const wchar_t* name = m_soup->GetString(setting->GetKeyId());
            if (!name)
                continue;
            unsigned size = setting->GetData(nullptr, nullptr, 0);
            std::unique_ptr<uint8_t[]> buffer(new uint8_t[size + 2]());
            unsigned written = setting->GetData(nullptr, buffer.get(), size);
            if (written > size)
                written = size;
            store.SetValue(name, reinterpret_cast<const wchar_t*>(buffer.get()), (written + 1) / 2);
            // The two-way flags are mirrored as printer data of their own name. A failed
            // mirror write leaves the stored settings complete.
            if (IsMirroredName(name))
                PrnSetData(printer, name, REG_BINARY, buffer.get(), written);
        }
        if (store.Count() == 0)
            return true;
        return store.Save() != FALSE;
    } catch (...) {
        return false;
    }
}

bool CBaseDrvState::LoadPublicDevmode(CfgSettings* settings, const DEVMODEW* devmode, KVCache* target) {
    if (!m_soup || !settings || !target || !devmode)
        return false;
    // A value that memory is short for fails the step rather than keeping the former one.
    try {
        const wchar_t* pageSize = GetOptionText(target, L"*PageSize");
        if (pageSize && std::wcscmp(pageSize, L"CustomPageSize") == 0) {
            // Tenths of a millimetre to points, in single precision.
            float width = static_cast<float>(devmode->dmPaperWidth) * 72.0f / 254.0f;
            float length = static_cast<float>(devmode->dmPaperLength) * 72.0f / 254.0f;
            wchar_t w[64] = {}, l[64] = {}, text[130] = {};
            FormatDoubleC(w, 64, L"%.2f", static_cast<double>(width));
            FormatDoubleC(l, 64, L"%.2f", static_cast<double>(length));
            FormatToBuffer(text, 130, L"%s %s", w, l);
            StoreNote(target, Slot(L"*%CustomPageSize"), text);
        }
        if (const wchar_t* option = OptionOfValue(kTTOptionRows, devmode->dmTTOption))
            StoreOption(target, L"*!dmTTOption", option);
        if (Slot(L"*UpdatePublicDevmode").IsValid()) {
            if (const wchar_t* option = OptionOfValue(kDuplexRows, devmode->dmDuplex))
                StoreOption(target, L"*QVDuplex", option);
            if (const wchar_t* option = OptionOfValue(kColorRows, devmode->dmColor))
                StoreOption(target, L"*QVColorMode", option);
        }
        if (const wchar_t* option = OptionOfValue(kOrientationRows, devmode->dmOrientation))
            StoreOption(target, L"*!dmOrientation", option);
        SoupSlotID copiesKey = Slot(L"*num copies");
        if (const auto* copies = dynamic_cast<const CKeyRangeSetting*>(target->Find(copiesKey))) {
            std::unique_ptr<CKeySetting> copy(copies->Clone());
            auto* changed = dynamic_cast<CKeyRangeSetting*>(copy.get());
            RequireStored(changed != nullptr);
            int32_t unit = changed->GetUnit();
            double value = devmode->dmCopies < 1 ? 1.0 : static_cast<double>(devmode->dmCopies);
            if (!changed->IsUnbounded()) {
                double low = changed->GetMinInUnit(unit), high = changed->GetMaxInUnit(unit);
                if (value < low)
                    value = low;
                if (value > high)
                    value = high;
            }
            changed->SetValue(value, unit);
            RequireStored(target->Set(changed));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CBaseDrvState::SavePublicDevmode(CfgSettings* settings, DEVMODEW* devmode, const KVCache* source) {
    if (!m_soup || !settings || !source || !devmode)
        return false;
    short value = 0;
    if (ValueOfOption(kTTOptionRows, GetOptionText(source, L"*!dmTTOption"), &value))
        devmode->dmTTOption = value;
    if (ValueOfOption(kOrientationRows, GetOptionText(source, L"*!dmOrientation"), &value))
        devmode->dmOrientation = value;
    if (Slot(L"*UpdatePublicDevmode").IsValid()) {
        if (ValueOfOption(kDuplexRows, GetOptionText(source, L"*QVDuplex"), &value))
            devmode->dmDuplex = value;
        if (ValueOfOption(kColorRows, GetOptionText(source, L"*QVColorMode"), &value))
            devmode->dmColor = value;
    }
    if (const auto* copies = dynamic_cast<const CKeyRangeSetting*>(source->Find(Slot(L"*num copies")))) {
        double number = copies->GetValueInUnit(copies->GetUnit());
        if (!std::isfinite(number) || number < 1)
            number = 1;
        if (number > 32767)
            number = 32767;
        devmode->dmCopies = static_cast<short>(number);
    }
    return true;
}

unsigned CBaseDrvState::BuildCoreOptions(const KVCache* source, char* buffer, unsigned size) const {
    if (!m_soup || !source)
        return 0;
    unsigned total = 0;
    unsigned room = buffer ? size : 0;
    char* out = buffer;
    bool any = false;
    bool customDone = false;
    auto emit = [&](const char* keyword, const char* option) {
        size_t need = StrLenA(keyword) + 1 + StrLenA(option) + 1;
        if (need > 0x100000)
            return;
        total += static_cast<unsigned>(need);
        any = true;
        if (out && need < room) {
            std::memcpy(out, keyword, StrLenA(keyword) + 1);
            std::memcpy(out + StrLenA(keyword) + 1, option, StrLenA(option) + 1);
            out += need;
            room -= static_cast<unsigned>(need);
        } else {
            room = 0;
        }
    };
    for (auto it = source->Begin(); it != source->End(); ++it) {
        const auto* option = dynamic_cast<const CKeyOptSetting*>(source->GetAt(it));
        if (!option || option->GetKeyId().IsInvalid() || option->GetValueId().IsInvalid())
            continue;
        const wchar_t* keyText = m_soup->GetString(option->GetKeyId());
        const wchar_t* optionText = m_soup->GetString(option->GetValueId());
        if (!keyText || !optionText)
            continue;
        StrUtil<char, wchar_t> keyword(keyText[0] == L'*' ? keyText + 1 : keyText);
        StrUtil<char, wchar_t> value(optionText);
        if (!keyword.Get() || !value.Get())
            continue;
        emit(keyword.Get(), value.Get());
        if (!customDone && std::wcscmp(keyText, L"*PageSize") == 0 && std::wcscmp(optionText, L"CustomPageSize") == 0) {
            customDone = true;
            const auto* note = dynamic_cast<const CKeyNoteSetting*>(source->Find(Slot(L"*%CustomPageSize")));
            if (note && note->GetNoteText() && note->GetNoteText()[0]) {
                StrUtil<char, wchar_t> custom(note->GetNoteText());
                if (custom.Get())
                    emit("%CustomPageSize", custom.Get());
            }
        }
    }
    if (any) {
        total += 1;
        if (out && room > 0)
            *out = '\0';
    }
    return total;
}

bool CBaseDrvState::ApplyCoreOptions(const char* list, unsigned size, KVCache* target) const {
    if (!list || !target || !m_soup)
        return false;
    // An option that memory is short for fails the whole list: skipping it would keep a
    // value the core driver no longer has.
    try {
        unsigned pos = 0;
        while (pos < size && list[pos]) {
            const char* keyword = list + pos;
            size_t keyLength = strnlen(keyword, size - pos);
            if (pos + keyLength + 1 >= size)
                break;
            const char* option = keyword + keyLength + 1;
            size_t optionLength = strnlen(option, size - pos - keyLength - 1);
            if (pos + keyLength + 1 + optionLength >= size)
                break;
            StrUtil<wchar_t, char> wideKey(keyword);
            StrUtil<wchar_t, char> wideOption(option);
            RequireStored(wideKey.Get() && wideOption.Get());
            std::wstring key = std::wstring(L"*") + wideKey.Get();
            if (key == L"*%CustomPageSize")
                StoreNote(target, Slot(key.c_str()), wideOption.Get());
            else
                StoreOption(target, key.c_str(), wideOption.Get());
            pos += static_cast<unsigned>(keyLength + 1 + optionLength + 1);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CBaseDrvState::LoadAll(CfgSettings* given, const DevmodeSet& set, const char* coreOptions, unsigned coreSize) {
    CfgSettings* settings = Own(given);
    if (!IsValid() || !given)
        return false;
    try {
        KVCache work;
        const int sections[] = {CFG_SECTION_INSTALLABLE_KEYS, CFG_SECTION_DRIVERPROP_KEYS, CFG_SECTION_VYRUI_KEYS,
                                CFG_SECTION_GROUP_KEYS, CFG_SECTION_PSDM_KEYS};
        // An absent section adds nothing; a held one that cannot be loaded fails the load.
        for (int section : sections)
            if (settings->HeldKeySection(section) && !settings->LoadSectionSettings(section, &work, nullptr, nullptr))
                return false;
        if (coreOptions && !ApplyCoreOptions(coreOptions, coreSize, &work))
            return false;
        if (set.printer && !LoadPrinterSettings(settings, set.printer, &work))
            return false;
        if (set.privateBlock && !LoadPrivateDevmode(settings, set, &work))
            return false;
        if (set.publicDevmode && !LoadPublicDevmode(settings, set.publicDevmode, &work))
            return false;
        m_current = work;
    } catch (...) {
        return false;
    }
    return true;
}

bool CBaseDrvState::SaveAll(CfgSettings* settings, const DevmodeSet& set, char* coreOut, unsigned* coreSize) {
    if (!IsValid() || !settings)
        return false;
    unsigned needed = BuildCoreOptions(&m_current, coreOut, coreSize ? *coreSize : 0);
    if (coreSize)
        *coreSize = needed;
    if (set.printer && !SavePrinterSettings(settings, set.printer, &m_current))
        return false;
    if (set.privateBlock && !SavePrivateDevmode(settings, set, &m_current))
        return false;
    if (set.publicDevmode && !SavePublicDevmode(settings, set.publicDevmode, &m_current))
        return false;
    return true;
}

// --- Free functions --------------------------------------------------------------------------

wchar_t* GetPrinterClientId(HANDLE printer, bool requireValidation) noexcept {
    if (!printer)
        return nullptr;
    WText storage(PrnGetText(printer, L"PrinterStorage"));
    if (!storage || !storage[0] || StrLen(storage.get()) >= 260)  // at most 520 bytes
        return nullptr;
    if (requireValidation) {
        WText validation(FormatAlloc(L"%s\\%s", storage.get(), L"ValidationKey"));
        if (!validation)
            return nullptr;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, validation.get(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return nullptr;
        RegCloseKey(key);
    }
    GPRegUtil key(HKEY_LOCAL_MACHINE, storage.get());
    return key.IsOpen() ? key.GetString(L"ClientID", nullptr) : nullptr;
}

wchar_t* ReadShortNickName(const wchar_t* ppdPath) noexcept {
    if (!ppdPath || !*ppdPath)
        return nullptr;
    HANDLE file = CreateFileW(ppdPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    // The statement is in the PPD's opening lines.
    constexpr DWORD kHead = 64 * 1024;
    std::unique_ptr<char[]> head(new (std::nothrow) char[kHead + 1]);
    DWORD got = 0;
    bool read = head && ReadFile(file, head.get(), kHead, &got, nullptr);
    CloseHandle(file);
    if (!read)
        return nullptr;
    head[got] = '\0';
    const char kKeyword[] = "*ShortNickName:";
    for (const char* line = head.get(); line && *line;) {
        if (std::strncmp(line, kKeyword, sizeof(kKeyword) - 1) == 0) {
            const char* open = std::strchr(line + sizeof(kKeyword) - 1, '"');
            const char* end = std::strpbrk(line, "\r\n");
            if (!open || (end && open > end))
                return nullptr;
            const char* close = std::strchr(open + 1, '"');
            if (!close || (end && close > end))
                return nullptr;
            size_t length = static_cast<size_t>(close - open - 1);
            if (length > 255)
                length = 255;
            char value[256] = {};
            std::memcpy(value, open + 1, length);
            StrUtil<wchar_t, char> wide(value);
            return wide.Get() ? wide.Detach() : nullptr;
        }
        const char* next = std::strpbrk(line, "\r\n");
        while (next && (*next == '\r' || *next == '\n'))
            ++next;
        line = next;
    }
    return nullptr;
}
