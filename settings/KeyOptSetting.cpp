// Option key.
#include "settings/KeyOptSetting.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <new>
#include <algorithm>

#include "foundation/StrUtil.h"
#include "settings/CompiledKeyRecord.h"
#include "settings/DrvStateAccess.h"
#include "settings/OptionUtil.h"

CKeySetting* CKeyOptSetting::Create(CBaseSoup*, const CompiledKeyRecord* record) {
    if (!record || record->GetType() != kRecordOption || record->size < GetMinimumRecordSize(kRecordOption))
        return nullptr;
    return new CKeyOptSetting(record->GetKeyId(), record->ReadSlot(KeyRecordOffset::kDefaultOption));
}

CKeySetting* CKeyOptSetting::Clone() const { return new (std::nothrow) CKeyOptSetting(*this); }

int CKeyOptSetting::GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>& out) const {
    if (!record || record->GetType() != kRecordOption) return 0;
    int16_t n = 0;
    if (!record->ReadI16(KeyRecordOffset::kOptionCount, n)) return 0;
    const SoupSlotID key = record->GetKeyId();
    // The option ids taken so far: a short list searched in place for the usual few options,
    // a bit per 16-bit id beyond that (no allocation either way).
    constexpr int kListed = 32;
    int16_t listed[kListed];
    uint64_t bits[65536 / 64];
    const bool byBits = n > kListed;
    if (byBits) std::memset(bits, 0, sizeof bits);
    int taken = 0;
    try {
        for (int i = 0; i < n; ++i) {
            const size_t at = KeyRecordOffset::kOptionEntries + KeyRecordOffset::kOptionEntrySize * i;
            // A count that runs past the record ends the list where the record ends.
            if (at + KeyRecordOffset::kOptionEntrySize > record->size) break;
            const uint8_t* e = record->data + at;
            int16_t v[4];
            for (int k = 0; k < 4; ++k)
                v[k] = static_cast<int16_t>(static_cast<uint16_t>(e[2 * k] | (e[2 * k + 1] << 8)));
            if (v[0] == -1) continue;
            // First entry wins.
            if (byBits) {
                uint64_t& word = bits[static_cast<uint16_t>(v[0]) / 64];
                const uint64_t bit = 1ull << (static_cast<uint16_t>(v[0]) % 64);
                if (word & bit) continue;
                word |= bit;
            } else {
                if (std::find(listed, listed + taken, v[0]) != listed + taken) continue;
                listed[taken++] = v[0];
            }
            const SoupSlotID option(v[0] < 0 ? -1 : v[0]);
            const SoupSlotID display(v[1] == -1 ? v[0] : v[1]);
            const SoupSlotID valueText(v[2]);
            const SoupSlotID valueList(v[3] == -1 ? v[2] : v[3]);
            const CKeyOptSetting setting(key, option);
            out.emplace_back(&setting, display, valueText, valueList);
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

int CKeyOptSetting::GetIdListFromRecord(const CompiledKeyRecord* record, std::list<SoupSlotID>& out) const {
    if (!record || record->GetType() != kRecordOption) return 0;
    int16_t n = 0, m = 0;
    if (!record->ReadI16(KeyRecordOffset::kOptionCount, n) || !record->ReadI16(KeyRecordOffset::kIdListCount, m))
        return 0;
    if (n < 0 || m < 0) return 0;
    const size_t start = KeyRecordOffset::kOptionEntries + KeyRecordOffset::kOptionEntrySize * n;
    try {
        for (int i = 0; i < m; ++i) {
            int16_t id;
            if (!record->ReadI16(start + 2 * static_cast<size_t>(i), id)) break;
            out.push_back(SoupSlotID(id < 0 ? -1 : id));
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

const wchar_t* CKeyOptSetting::GetInvocationTemplate(CDrvState* state) const {
    if (GetValueId().IsInvalid()) return nullptr;
    const COptionUtil util(DrvStateSoup(state), DrvStateKeyForest(state));
    return util.GetOptionValue(GetKeyId(), GetValueId());
}

int CKeyOptSetting::GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const {
    const wchar_t* code = GetInvocationTemplate(state);
    if (!code || !*code) return 0;
    StrUtil<char, wchar_t> narrow(code, DrvStateOutputCodePage(state));
    if (!narrow.Get()) return 0;
    const size_t needed = std::strlen(narrow.Get()) + 1;
    if (needed > INT_MAX) return 0;
    if (!buffer) return static_cast<int>(needed);
    if (size < needed) return 0;
    std::memcpy(buffer, narrow.Get(), needed);
    return static_cast<int>(needed);
}

int CKeyOptSetting::GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    const wchar_t* code = GetInvocationTemplate(state);
    if (!code || !*code) return 0;
    const size_t needed = std::wcslen(code) + 1;
    if (needed > INT_MAX) return 0;
    if (!buffer) return static_cast<int>(needed);
    if (count < needed) return 0;
    std::wmemcpy(buffer, code, needed);
    return static_cast<int>(needed);
}
