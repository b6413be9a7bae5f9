// Key utility classes and BuildOptionDataList.
#include "settings/KeyUtility.h"

#include <cwchar>
#include <new>
#include <string>

#include "settings/KeyNoteSetting.h"
#include "settings/KeyOptSetting.h"
#include "settings/KeyRangeSetting.h"

void CKeyOptionUtility::Init(OptionForest* optionForest, CBaseSoup* keywordSoup) {
    soup = keywordSoup;
    forest = (optionForest && keywordSoup) ? optionForest : nullptr;
}

bool CKeyOptionUtility::IsValueListed(SoupSlotID a, SoupSlotID b, SoupSlotID c) {
    if (!soup || !forest || c.IsInvalid() || b.IsInvalid()) return false;
    if (a.IsValid()) {
        COptData* option = forest->FindLeaf(a, b);
        if (option && option->IsValueListed(soup, c)) return true;
    }
    CKeyData* key = forest->GetData(b);
    return key && key->IsValueListed(soup, c);
}

bool CKeyOptionUtility::IsValueListedByProp(int a, int b, int c) {
    if (!soup) return false;
    return IsValueListed(soup->GetPropertySlot(a, true), soup->GetPropertySlot(b, true),
                         soup->GetPropertySlot(c, true));
}

// ---------------------------------------------------------------------------------

void CKeySettingUtility::Init(KVCache* currentValues, KVCache* defaultValues, CBaseSoup* keywordSoup) {
    const bool all = currentValues && defaultValues && keywordSoup;
    current = all ? currentValues : nullptr;
    defaults = all ? defaultValues : nullptr;
    soup = all ? keywordSoup : nullptr;
}

CKeySetting* CKeySettingUtility::GetSetting(SoupSlotID key) const {
    if (key.IsInvalid()) return nullptr;
    CKeySetting* s = current ? current->Find(key) : nullptr;
    if (!s && defaults) s = defaults->Find(key);
    return s;
}

CKeySetting* CKeySettingUtility::GetSettingByProp(int prop) const {
    return soup ? GetSetting(PropSlot(prop)) : nullptr;
}

CKeySetting* CKeySettingUtility::GetDefault(SoupSlotID key) const {
    return (defaults && key.IsValid()) ? defaults->Find(key) : nullptr;
}

CKeySetting* CKeySettingUtility::GetDefaultByProp(int prop) const {
    return soup ? GetDefault(PropSlot(prop)) : nullptr;
}

int CKeySettingUtility::HasSettingByProp(int prop) const {
    if (!soup) return 0;
    const SoupSlotID key = PropSlot(prop);
    return (GetDefault(key) || GetSetting(key)) ? 1 : 0;
}

namespace {
// Clone of a default that must stay of class T; null otherwise.
template <class T>
T* CloneAs(const CKeySetting* def) {
    if (!dynamic_cast<const T*>(def)) return nullptr;
    CKeySetting* copy = def->Clone();
    T* typed = dynamic_cast<T*>(copy);
    if (!typed) delete copy;
    return typed;
}

// Stores copy into cache and deletes it; 1 when stored.
int StoreAndDelete(KVCache* cache, CKeySetting* copy) {
    if (!copy) return 0;
    const int done = cache ? cache->Set(copy) : 0;
    delete copy;
    return done;
}
}  // namespace

CKeySetting* CKeySettingUtility::CloneOptionSetting(SoupSlotID key, SoupSlotID option) const {
    CKeyOptSetting* copy = CloneAs<CKeyOptSetting>(GetDefault(key));
    if (copy) copy->SetValueId(option);
    return copy;
}

CKeySetting* CKeySettingUtility::CloneRangeSetting(SoupSlotID key, double value, int32_t unit) const {
    CKeyRangeSetting* copy = CloneAs<CKeyRangeSetting>(GetDefault(key));
    if (copy) copy->SetValue(value, unit);
    return copy;
}

CKeySetting* CKeySettingUtility::CloneNoteSetting(SoupSlotID key, const wchar_t* text) const {
    CKeyNoteSetting* copy = CloneAs<CKeyNoteSetting>(GetDefault(key));
    if (copy && !copy->SetNoteText(text)) {
        delete copy;
        return nullptr;
    }
    return copy;
}

int CKeySettingUtility::SetRangeByProp(KVCache* cache, int keyProp, double value, int32_t unit) const {
    if (!soup || !cache) return 0;
    return StoreAndDelete(cache, CloneRangeSetting(PropSlot(keyProp), value, unit));
}

int CKeySettingUtility::SetNoteTextByProp(KVCache* cache, int keyProp, const wchar_t* text) const {
    if (!soup || !cache) return 0;
    return StoreAndDelete(cache, CloneNoteSetting(PropSlot(keyProp), text));
}

const wchar_t* CKeySettingUtility::GetNoteTextByProp(int keyProp) const {
    if (!soup) return nullptr;
    const CKeyNoteSetting* note = dynamic_cast<const CKeyNoteSetting*>(GetSetting(PropSlot(keyProp)));
    return note ? note->GetNoteText() : nullptr;
}

int CKeySettingUtility::SetOption(KVCache* cache, SoupSlotID key, SoupSlotID option) const {
    if (!cache) return 0;
    return StoreAndDelete(cache, CloneOptionSetting(key, option));
}

int CKeySettingUtility::SetOptionByProp(KVCache* cache, int keyProp, SoupSlotID option) const {
    return soup ? SetOption(cache, PropSlot(keyProp), option) : 0;
}

int CKeySettingUtility::SetOptionByProps(KVCache* cache, int keyProp, int optionProp) const {
    return soup ? SetOption(cache, PropSlot(keyProp), PropSlot(optionProp)) : 0;
}

int CKeySettingUtility::IsOptionSet(SoupSlotID key, SoupSlotID option) const {
    const CKeySetting* s = GetSetting(key);
    return (s && s->GetValueId() == option) ? 1 : 0;
}

int CKeySettingUtility::IsOptionSetByProp(int keyProp, int optionProp) const {
    return soup ? IsOptionSet(PropSlot(keyProp), PropSlot(optionProp)) : 0;
}

SoupSlotID CKeySettingUtility::GetOption(SoupSlotID key) const {
    const CKeyOptSetting* s = dynamic_cast<const CKeyOptSetting*>(GetSetting(key));
    return s ? s->GetValueId() : SoupSlotID();
}

SoupSlotID CKeySettingUtility::GetOptionByProp(int keyProp) const {
    return soup ? GetOption(PropSlot(keyProp)) : SoupSlotID();
}

SoupSlotID CKeySettingUtility::GetDefaultOption(SoupSlotID key) const {
    const CKeyOptSetting* s = dynamic_cast<const CKeyOptSetting*>(GetDefault(key));
    return s ? s->GetValueId() : SoupSlotID();
}

SoupSlotID CKeySettingUtility::GetDefaultOptionByProp(int keyProp) const {
    return soup ? GetDefaultOption(PropSlot(keyProp)) : SoupSlotID();
}

wchar_t* CKeySettingUtility::GetCurrentTextByProp(int prop) const {
    return soup ? GetCurrentText(PropSlot(prop)) : nullptr;
}

wchar_t* CKeySettingUtility::GetDefaultTextByProp(int prop) const {
    return soup ? GetDefaultText(PropSlot(prop)) : nullptr;
}

wchar_t* CKeySettingUtility::GetSettingText(const KVCache* cache, CBaseSoup* soup, SoupSlotID key) {
    if (!cache || !soup || key.IsInvalid()) return nullptr;
    const CKeySetting* s = cache->Find(key);
    if (!s) return nullptr;
    const unsigned count = s->GetText(soup, nullptr, 0);
    if (count == 0) return nullptr;
    wchar_t* text = new (std::nothrow) wchar_t[count];
    if (!text) return nullptr;
    const unsigned got = s->GetText(soup, text, count);
    if (got == 0 || got > count) {  // not written
        delete[] text;
        return nullptr;
    }
    // keyword NUL value NUL ...: the value must start and end inside the buffer.
    const size_t keyLen = wcsnlen(text, count);
    if (keyLen + 1 >= count) {
        delete[] text;
        return nullptr;
    }
    const size_t valueLen = wcsnlen(text + keyLen + 1, count - keyLen - 1);
    if (keyLen + 1 + valueLen >= count) {
        delete[] text;
        return nullptr;
    }
    // The value moves onto the keyword it overlaps.
    std::wmemmove(text, text + keyLen + 1, valueLen + 1);
    return text;
}

// ---------------------------------------------------------------------------------

int BuildOptionDataList(CBaseSoup* soup, SoupSlotID key, std::list<COptData>* out, const std::list<SoupSlotID>* in) {
    if (!soup || !out || !in || key.IsInvalid()) return 0;
    for (const SoupSlotID id : *in) {
        const wchar_t* entry = soup->GetString(id);
        if (!entry) continue;
        try {
            const std::wstring copy(entry);
            const size_t sep = copy.find_first_of(L"\t\n\r :");
            if (sep == std::wstring::npos) continue;  // only the end of the string separates
            const std::wstring name = copy.substr(0, sep);
            const std::wstring valueList = copy.substr(sep + 1);
            const SoupSlotID nameId = soup->FindOrAdd(name.c_str());
            const SoupSlotID listId = soup->FindOrAdd(valueList.c_str());
            if (listId.IsInvalid()) continue;
            const CKeyOptSetting option(key, nameId);
            out->push_back(COptData(&option, SoupSlotID(), SoupSlotID(), listId));
        } catch (const std::bad_alloc&) {
            // The entry is left out.
        }
    }
    return 1;
}
