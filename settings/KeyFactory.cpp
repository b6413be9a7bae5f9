// Key factory tables and CreateKeySetting.
#include "settings/KeyFactory.h"

#include <iterator>
#include <new>

#include "settings/KeyNoteSetting.h"
#include "settings/KeyNoteSpecials.h"
#include "settings/KeyOptSetting.h"
#include "settings/KeyRangeSetting.h"
#include "settings/KeySoupSetting.h"
#include "settings/KeyWatermarkStr.h"
#include "settings/PropertyNames.h"
#include "settings/StrSoup.h"

const KeyTypeCreator KeyTypeCreators[7] = {
    {0, &CKeyOptSetting::Create},  {1, &CKeyRangeSetting::Create}, {2, &CKeyRangeSetting::Create},
    {3, &CKeyNoteSetting::Create}, {4, &CKeySoupSetting::Create},  {5, &CKeyMMediaSetting::Create},
    {6, nullptr},
};

const SpecialKeyCreator SpecialKeyCreators[10] = {
    {QV_PROP_UICUSTOMPRINTSIZE, &CKeyCustPrintSz::Create},
    {QV_PROP_BIDI_QVSimulation, &CKeyHueGuardBiDi::Create},
    {QV_PROP_BIDI_QVRGBOverride, &CKeyHueGuardBiDi::Create},
    {QV_PROP_BIDI_QVColorRendDict, &CKeyHueGuardBiDi::Create},
    {QV_PROP_BIDI_QVOutProfile, &CKeyHueGuardBiDi::Create},
    {QV_LOCAL_PROP_SCALE, &CKeyScaleRange::Create},
    {QV_NUMCOPIES, &CKeyCopiesRange::Create},
    {QV_PROP_WATERMARKSTR, &CKeyWatermarkStr::Create},
    {QV_PROP_QVUSERAUTHPWD, &CKeyPasswordStr::Create},
    {QV_PROP_QVUSERAUTHNAME, &CKeyPasswordStr::Create},
};

KeyCreator FindSpecialKeyCreator(CBaseSoup* soup, SoupSlotID keyId) {
    if (!soup || keyId.IsInvalid()) return nullptr;
    for (const SpecialKeyCreator& row : SpecialKeyCreators)
        if (soup->GetPropertySlot(row.propertyId, true) == keyId) return row.creator;
    return nullptr;
}

KeyCreator SpecialKeySlots::Find(SoupSlotID keyId) {
    if (!soup || keyId.IsInvalid()) return nullptr;
    for (size_t i = 0; i < std::size(SpecialKeyCreators); ++i) {
        // A slot that could not be had is asked for again next time, as the soup would be.
        if (slots[i].IsInvalid()) slots[i] = soup->GetPropertySlot(SpecialKeyCreators[i].propertyId, true);
        if (slots[i].IsInvalid()) failed = true;
        if (slots[i] == keyId) return SpecialKeyCreators[i].creator;
    }
    return nullptr;
}

CKeySetting* CreateKeySetting(CBaseSoup* soup, const CompiledKeyRecord* record) {
    return CreateKeySetting(soup, record, nullptr);
}

CKeySetting* CreateKeySetting(CBaseSoup* soup, const CompiledKeyRecord* record, SpecialKeySlots* specials,
                              bool* allocationFailed) {
    if (allocationFailed) *allocationFailed = false;
    if (!record || !record->data) return nullptr;
    const int type = record->GetType();
    // A damaged cache: the record must hold everything its type reads.
    if (type < 0 || type > 5 || record->size < GetMinimumRecordSize(type)) return nullptr;
    if (type == 0) {
        int16_t n = 0, m = 0;
        if (!record->ReadI16(KeyRecordOffset::kOptionCount, n) || !record->ReadI16(KeyRecordOffset::kIdListCount, m))
            return nullptr;
        if (n < 0 || m < 0) return nullptr;
        const size_t needed = KeyRecordOffset::kOptionEntries + KeyRecordOffset::kOptionEntrySize * n + 2u * m;
        if (record->size < needed) return nullptr;
    }
    KeyCreator creator =
        specials ? specials->Find(record->GetKeyId()) : FindSpecialKeyCreator(soup, record->GetKeyId());
    if (specials && specials->Failed()) {
        // Which class the key needs is not known.
        if (allocationFailed) *allocationFailed = true;
        return nullptr;
    }
    if (!creator && KeyTypeCreators[type].type == type) creator = KeyTypeCreators[type].creator;
    if (!creator) return nullptr;
    try {
        return creator(soup, record);
    } catch (const std::bad_alloc&) {
        if (allocationFailed) *allocationFailed = true;
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

CKeySetting* CreateKeySetting(CBaseSoup* soup, const uint8_t* bytes, size_t size) {
    const CompiledKeyRecord record{bytes, size};
    return CreateKeySetting(soup, &record);
}
