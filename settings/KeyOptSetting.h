// Option keys: the value is one of the key's options, held as the option's slot.
// The options come from the key's compiled record; the setup code is the selected
// option's invocation code as the PPD gives it.
#pragma once

#include "settings/KeySetting.h"

class CKeyOptSetting : public CKeyBaseSetting {
public:
    explicit CKeyOptSetting(const SoupSlotIDPair& ids) : CKeyBaseSetting(ids) {}
    CKeyOptSetting(SoupSlotID key, SoupSlotID option) : CKeyBaseSetting(SoupSlotIDPair(key, option)) {}

    // Factory creator for type-0 records; null for other types or short records.
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    // One option per distinct option id, first entry wins; 0 for a non-option record.
    int GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>& out) const override;
    // The ids that follow the option entries, in record order.
    int GetIdListFromRecord(const CompiledKeyRecord* record, std::list<SoupSlotID>& out) const override;
    const wchar_t* GetInvocationTemplate(CDrvState* state) const override;
    // The selected option's value text as stored, with no feature wrapper.
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
};
