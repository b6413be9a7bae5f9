// Key holder, option and key records, and the value-list parser.
#include "settings/KeyRecords.h"

#include <new>

#include "ppd/PPDCharClass.h"
#include "settings/StrSoup.h"

using PPDParser::IsBlank;
using PPDParser::IsListItemEnd;
using PPDParser::IsQuoteEnd;

namespace {

// Parses one item in [begin, end): a name, optionally a double quote and a text.
// Both scans stop at the item's end, so "A|B" can never read as one name.
bool ParseItem(CBaseSoup* soup, const wchar_t* begin, const wchar_t* end, ValueList& list) {
    const wchar_t* p = begin;
    while (p < end && !IsQuoteEnd(*p)) ++p;
    std::wstring name(begin, p);
    std::wstring text;
    if (p < end && *p == L'"') {
        const wchar_t* textBegin = ++p;
        while (p < end && !IsQuoteEnd(*p)) ++p;
        text.assign(textBegin, p);
    }
    while (p < end && IsBlank(*p)) ++p;
    if (p != end) return false;  // e.g. a closing quote, or a line break in the name
    const SoupSlotID id = soup->FindOrAdd(name.c_str());
    if (id.IsInvalid()) return false;
    list[id] = text;
    return true;
}

// Shared value-list test of CKeyData and COptData.
bool TestValueList(ValueList*& list, CBaseSoup* soup, SoupSlotID listId, SoupSlotID id) {
    if (!list) {
        if (!soup || listId.IsInvalid()) return false;
        ValueList* parsed = new (std::nothrow) ValueList();
        if (!parsed) return false;
        ParseValueList(soup, soup->GetString(listId), *parsed);  // a failed parse is stored empty
        list = parsed;
    }
    return list->find(id) != list->end();
}

}  // namespace

bool ParseValueList(CBaseSoup* soup, const wchar_t* text, ValueList& list) {
    list.clear();
    if (!soup || !text) return false;
    try {
        const wchar_t* p = text;
        for (;;) {
            while (IsBlank(*p)) ++p;
            const wchar_t* itemBegin = p;
            while (!IsListItemEnd(*p)) ++p;
            if (!ParseItem(soup, itemBegin, p, list)) {
                list.clear();
                return false;
            }
            while (IsBlank(*p)) ++p;
            if (*p == L'\0') return true;
            if (*p != L'|') {
                list.clear();
                return false;
            }
            ++p;
        }
    } catch (const std::bad_alloc&) {
        list.clear();
        return false;
    }
}

// ---------------------------------------------------------------------------------

CKeyProxy::CKeyProxy(const CKeySetting* s) : setting(s ? s->Clone() : nullptr) {}

CKeyProxy::CKeyProxy(const CKeyProxy& other) : setting(other.setting ? other.setting->Clone() : nullptr) {}

CKeyProxy& CKeyProxy::operator=(const CKeyProxy& other) {
    Reset(other.setting);
    return *this;
}

CKeyProxy::~CKeyProxy() { delete setting; }

void CKeyProxy::Reset(const CKeySetting* s) {
    CKeySetting* copy = s ? s->Clone() : nullptr;  // before the old one is deleted
    delete setting;
    setting = copy;
}

void CKeyProxy::Take(CKeySetting* s) {
    delete setting;
    setting = s;
}

// ---------------------------------------------------------------------------------

COptData::COptData(const CKeySetting* option, SoupSlotID displayNameId, SoupSlotID valueTextId,
                   SoupSlotID valueListId, int32_t disabled)
    : CKeyProxy(option),
      displayNameId(displayNameId),
      valueTextId(valueTextId),
      valueListId(valueListId),
      disabled(disabled) {}

COptData::COptData(const COptData& other)
    : CKeyProxy(other),
      displayNameId(other.displayNameId),
      valueTextId(other.valueTextId),
      valueListId(other.valueListId),
      disabled(other.disabled) {}

COptData& COptData::operator=(const COptData& other) {
    if (this == &other) return *this;
    CKeyProxy::operator=(other);
    delete valueList;  // the copy parses its own list on demand
    valueList = nullptr;
    displayNameId = other.displayNameId;
    valueTextId = other.valueTextId;
    valueListId = other.valueListId;
    disabled = other.disabled;
    return *this;
}

COptData::~COptData() { delete valueList; }

bool COptData::IsOption(SoupSlotID id) const { return GetSetting() && GetSetting()->GetValueId() == id; }

bool COptData::IsNotOption(SoupSlotID id) const { return !IsOption(id); }

bool COptData::IsValueListed(CBaseSoup* soup, SoupSlotID id) { return TestValueList(valueList, soup, valueListId, id); }

// ---------------------------------------------------------------------------------

CKeyData::CKeyData(SoupSlotID keyId, SoupSlotID displayNameId, SoupSlotID valueListId, int32_t changed)
    : keyId(keyId), displayNameId(displayNameId), valueListId(valueListId), changed(changed) {}

CKeyData::CKeyData(const CKeyData& other)
    : keyId(other.keyId),
      displayNameId(other.displayNameId),
      valueListId(other.valueListId),
      changed(other.changed) {}

CKeyData& CKeyData::operator=(const CKeyData& other) {
    if (this == &other) return *this;
    delete valueList;
    valueList = nullptr;
    keyId = other.keyId;
    displayNameId = other.displayNameId;
    valueListId = other.valueListId;
    changed = other.changed;
    return *this;
}

CKeyData::~CKeyData() { delete valueList; }

bool CKeyData::IsValueListed(CBaseSoup* soup, SoupSlotID id) { return TestValueList(valueList, soup, valueListId, id); }
