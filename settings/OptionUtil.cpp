// Option look-ups.
#include "settings/OptionUtil.h"

COptionUtil::COptionUtil(CBaseSoup* s, OptionForest* f) {
    if (s && f) {
        valid = true;
        soup = s;
        forest = f;
    }
}

CKeyData* COptionUtil::GetKeyData(SoupSlotID key) const {
    return (valid && key.IsValid()) ? forest->GetData(key) : nullptr;
}

const wchar_t* COptionUtil::GetKeyDisplayName(SoupSlotID key) const {
    const CKeyData* data = GetKeyData(key);
    return data ? soup->GetString(data->GetDisplayNameId()) : nullptr;
}

std::list<COptData>* COptionUtil::GetOptionList(SoupSlotID key) const {
    return (valid && key.IsValid()) ? forest->GetLeaves(key) : nullptr;
}

COptData* COptionUtil::GetOptionData(SoupSlotID key, SoupSlotID option) const {
    if (!valid || key.IsInvalid() || option.IsInvalid()) return nullptr;
    return forest->FindLeaf(key, option);
}

const wchar_t* COptionUtil::GetOptionDisplayName(SoupSlotID key, SoupSlotID option) const {
    const COptData* data = GetOptionData(key, option);
    return data ? soup->GetString(data->GetDisplayNameId()) : nullptr;
}

const wchar_t* COptionUtil::GetOptionValue(SoupSlotID key, SoupSlotID option) const {
    const COptData* data = GetOptionData(key, option);
    return data ? soup->GetString(data->GetValueTextId()) : nullptr;
}

bool COptionUtil::IsValueListed(SoupSlotID key, SoupSlotID option, SoupSlotID value) const {
    if (!valid || value.IsInvalid() || option.IsInvalid()) return false;
    if (key.IsValid()) {
        COptData* data = forest->FindLeaf(key, option);
        if (data && data->IsValueListed(soup, value)) return true;
    }
    CKeyData* own = forest->GetData(option);
    return own && own->IsValueListed(soup, value);
}

void COptionUtil::MarkKeyChanged(OptionForest* forest, SoupSlotID key) {
    if (!forest || key.IsInvalid()) return;
    const CKeyData* data = forest->GetData(key);
    if (!data) return;
    CKeyData copy(*data);
    copy.SetChanged(1);
    forest->SetData(key, copy);
}
