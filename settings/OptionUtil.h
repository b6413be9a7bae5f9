// Read-only look-ups over the option forest and the keyword soup: key and option
// names, option value texts and value-list tests. Owns neither.
#pragma once

#include <list>

#include "settings/KeyForest.h"
#include "settings/KeyRecords.h"
#include "settings/StrSoup.h"

class COptionUtil {
public:
    // Valid only when both are given; otherwise both are dropped.
    COptionUtil(CBaseSoup* soup, OptionForest* forest);
    virtual ~COptionUtil() = default;

    bool IsValid() const { return valid; }

    CKeyData* GetKeyData(SoupSlotID key) const;
    const wchar_t* GetKeyDisplayName(SoupSlotID key) const;
    std::list<COptData>* GetOptionList(SoupSlotID key) const;
    COptData* GetOptionData(SoupSlotID key, SoupSlotID option) const;
    const wchar_t* GetOptionDisplayName(SoupSlotID key, SoupSlotID option) const;
    // The option's value text (for PPD options its invocation code), or null.
    const wchar_t* GetOptionValue(SoupSlotID key, SoupSlotID option) const;
    // Whether option `option` of key `key` lists value; when not, whether the key
    // named `option` lists it in its own value list.
    bool IsValueListed(SoupSlotID key, SoupSlotID option, SoupSlotID value) const;

    // Replaces the key's data by a copy marked changed.
    static void MarkKeyChanged(OptionForest* forest, SoupSlotID key);

private:
    bool valid = false;
    OptionForest* forest = nullptr;
    CBaseSoup* soup = nullptr;
};
