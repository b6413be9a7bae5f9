// Soup-string and table keys.
#include "settings/KeySoupSetting.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "foundation/StrUtil.h"
#include "settings/CompiledKeyRecord.h"
#include "settings/DrvStateAccess.h"
#include "settings/KeyEmit.h"

CKeySoupSetting::CKeySoupSetting(SoupSlotID key, int32_t bufferSize)
    : CKeyBaseSetting(SoupSlotIDPair(key, SoupSlotID())), bufferSize(bufferSize < 0 ? 0 : bufferSize) {}

CKeySetting* CKeySoupSetting::Create(CBaseSoup*, const CompiledKeyRecord* record) {
    if (!record || record->GetType() != kRecordSoup || record->size < GetMinimumRecordSize(kRecordSoup))
        return nullptr;
    int16_t size = 0;
    if (!record->ReadI16(KeyRecordOffset::kSoupBufferSize, size) || size < 0) return nullptr;
    return new CKeySoupSetting(record->GetKeyId(), size);
}

CKeySetting* CKeySoupSetting::Clone() const {
    try {
        std::unique_ptr<CKeySoupSetting> copy(new CKeySoupSetting(GetKeyId(), bufferSize));
        copy->ids = ids;
        // A copy without its texts would pass for the setting with its strings lost.
        if (!copy->soup.Assign(&soup)) return nullptr;
        return copy.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool CKeySoupSetting::IsEqual(const CKeySetting* other) const {
    return dynamic_cast<const CKeySoupSetting*>(other) && CKeySetting::IsEqual(other);
}

unsigned CKeySoupSetting::GetData(CBaseSoup* given, void* buffer, unsigned size) const {
    const unsigned bytes = GetByteSize();
    if (!buffer || size < bytes) return bytes;
    std::memset(buffer, 0, size);
    if (!given) return bytes;
    // A blob that does not fit the slot is a failure: a zeroed slot would read back
    // as an empty soup and every text in it would be lost.
    const uint32_t needed = given->Serialize(nullptr, 0);
    if (needed == 0 || needed > bytes) return 0;
    if (given->Serialize(static_cast<uint8_t*>(buffer), bytes) != needed) {
        std::memset(buffer, 0, size);
        return 0;
    }
    return bytes;
}

unsigned CKeySoupSetting::SetData(CBaseSoup* given, const void* buffer, unsigned size) {
    const unsigned bytes = GetByteSize();
    if (buffer && given && size >= bytes) {
        if (!given->Deserialize(static_cast<const uint8_t*>(buffer), bytes)) return 0;
    }
    return bytes;
}

int CKeySoupSetting::GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>&) const {
    return record ? 1 : 0;
}

// ---------------------------------------------------------------------------------

CKeyMMediaSetting::CKeyMMediaSetting(SoupSlotID key, int32_t r, int32_t c)
    : CKeyBaseSetting(SoupSlotIDPair(key, SoupSlotID())) {
    // Sizes come from records: refuse negative ones and products that do not fit.
    if (r <= 0 || c <= 0 || static_cast<int64_t>(r) * c > kMaxCells) return;
    // Throws when memory is short: a table without its cells would pass for an empty one.
    cells.reset(new int32_t[static_cast<size_t>(r) * c]);
    rows = r;
    columns = c;
    byteSize = static_cast<uint32_t>(r) * static_cast<uint32_t>(c) * 4;
    ClearCells();
}

CKeySetting* CKeyMMediaSetting::Create(CBaseSoup*, const CompiledKeyRecord* record) {
    if (!record || record->GetType() != kRecordTable || record->size < GetMinimumRecordSize(kRecordTable))
        return nullptr;
    int16_t r = 0, c = 0;
    if (!record->ReadI16(KeyRecordOffset::kTableRows, r) || !record->ReadI16(KeyRecordOffset::kTableColumns, c))
        return nullptr;
    if (r < 0 || c < 0) return nullptr;
    return new CKeyMMediaSetting(record->GetKeyId(), r, c);
}

CKeySetting* CKeyMMediaSetting::Clone() const {
    try {
        std::unique_ptr<CKeyMMediaSetting> copy(new CKeyMMediaSetting(GetKeyId(), rows, columns));
        copy->ids = ids;
        if (copy->cells && cells) std::memcpy(copy->cells.get(), cells.get(), byteSize);
        if (!copy->soup.Assign(&soup)) return nullptr;
        return copy.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CKeyMMediaSetting::ClearCells() {
    if (cells) std::memset(cells.get(), 0, byteSize);
}

bool CKeyMMediaSetting::IsEqual(const CKeySetting* other) const {
    return dynamic_cast<const CKeyMMediaSetting*>(other) && CKeySetting::IsEqual(other);
}

const wchar_t* CKeyMMediaSetting::GetCellText(int32_t row, int32_t column) const {
    if (!cells || row < 0 || row >= rows || column < 0 || column >= columns) return nullptr;
    const int32_t cell = cells[static_cast<size_t>(row) * columns + column];
    return cell > 0 ? soup.GetString(SoupSlotID(cell - 1)) : nullptr;
}

unsigned CKeyMMediaSetting::GetData(CBaseSoup* given, void* buffer, unsigned size) const {
    if (!buffer || size < byteSize || !cells) return byteSize;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (int32_t i = 0; i < rows * columns; ++i) {
        int32_t v = 0;
        const wchar_t* t = cells[i] > 0 ? soup.GetString(SoupSlotID(cells[i] - 1)) : nullptr;
        if (t && given) {
            const SoupSlotID slot = given->FindOrAdd(t);
            v = slot.IsValid() ? slot.GetIndex() + 1 : 0;
        }
        std::memcpy(out + 4 * static_cast<size_t>(i), &v, 4);
    }
    return byteSize;
}

unsigned CKeyMMediaSetting::SetData(CBaseSoup* given, const void* buffer, unsigned size) {
    if (buffer && size >= byteSize && cells) {
        std::memcpy(cells.get(), buffer, byteSize);
        reading = 1;
    }
    if (given && given->GetCount() > 0 && reading) {
        for (int32_t i = 0; i < rows * columns; ++i) {
            if (cells[i] <= 0) {
                cells[i] = 0;
                continue;
            }
            const wchar_t* t = given->GetString(SoupSlotID(cells[i] - 1));
            const SoupSlotID slot = t ? soup.FindOrAdd(t) : SoupSlotID();
            cells[i] = slot.IsValid() ? slot.GetIndex() + 1 : 0;
        }
    }
    reading = 0;
    return byteSize;
}

void CKeyMMediaSetting::CellName(int32_t row, int32_t column, bool star, wchar_t* out, unsigned count) {
    if (column == 0)
        FormatToBuffer(out, count, star ? L"*RangeNum%d" : L"RangeNum%d", row);
    else
        FormatToBuffer(out, count, star ? L"*RangeProp%d_%d" : L"RangeProp%d_%d", row, column - 1);
}

unsigned CKeyMMediaSetting::GetText(CBaseSoup*, wchar_t* buffer, unsigned count) const {
    if (!cells) return 0;
    size_t total = 0;
    bool wrote = false;
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c) {
            const wchar_t* t = GetCellText(r, c);
            if (!t) continue;
            const size_t estimate = std::wcslen(t) + (c == 0 ? 29 : 33);
            if (!buffer) {
                total += estimate;
                continue;
            }
            if (count < total || count - total < estimate) continue;
            wchar_t name[48];
            CellName(r, c, true, name, 48);
            const size_t nameLen = std::wcslen(name), textLen = std::wcslen(t);
            std::wmemcpy(buffer + total, name, nameLen + 1);
            std::wmemcpy(buffer + total + nameLen + 1, t, textLen + 1);
            total += nameLen + 1 + textLen + 1;
            wrote = true;
        }
    }
    if (wrote) {
        if (total < count) buffer[total] = L'\0';
        ++total;
    }
    return total > UINT_MAX ? 0 : static_cast<unsigned>(total);
}

int CKeyMMediaSetting::SetFromText(CBaseSoup*, OptionForest*, const wchar_t* name, const wchar_t* value) {
    if (!name || !value || !cells) return 0;
    if (_wcsnicmp(name, L"RangeNum", 8) == 0) {
        const int n = _wtoi(name + 8);
        const SoupSlotID slot = soup.FindOrAdd(value);
        if (slot.IsInvalid() || n < 0 || n >= rows || columns <= 0) return 0;
        cells[static_cast<size_t>(n) * columns] = slot.GetIndex() + 1;
        return 1;
    }
    if (_wcsnicmp(name, L"RangeProp", 9) == 0) {
        const wchar_t* rest = name + 9;
        const int i = _wtoi(rest);
        const wchar_t* underscore = std::wcschr(rest, L'_');
        const int column = underscore ? _wtoi(underscore + 1) + 1 : 0;
        const SoupSlotID slot = soup.FindOrAdd(value);
        if (slot.IsInvalid() || static_cast<unsigned>(i) >= static_cast<unsigned>(rows) || column < 1 ||
            static_cast<unsigned>(column) >= static_cast<unsigned>(columns))
            return 0;
        cells[static_cast<size_t>(i) * columns + column] = slot.GetIndex() + 1;
        return 1;
    }
    return 0;
}

void CKeyMMediaSetting::AddToMap(SettingMap& map, CfgSettings* settings) const {
    if (!settings || !cells) return;
    try {
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < columns; ++c) {
                const wchar_t* t = GetCellText(r, c);
                if (!t) continue;
                wchar_t name[48];
                CellName(r, c, false, name, 48);
                map[name] = t;
            }
    } catch (const std::bad_alloc&) {
    }
}

int CKeyMMediaSetting::GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>&) const {
    return record ? 1 : 0;
}

template <class Char>
int CKeyMMediaSetting::EmitCells(CDrvState* state, Char* buffer, unsigned size) const {
    using E = KeyEmit<Char>;
    if (!DrvStateSoup(state) || !cells) return 0;
    UINT codePage = DrvStateOutputCodePage(state);
    size_t total = 0;
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c) {
            const wchar_t* t = GetCellText(r, c);
            if (!t) continue;
            if (std::wcsstr(t, L"QVPCName:")) codePage = kUtf8CodePage;
            wchar_t name[48];
            CellName(r, c, false, name, 48);
            // The cell text is the feature's option: keep it on the "%%BeginFeature:" line.
            WText option(StrDup(t));
            if (!option) return 0;
            BlankControlChars(option.get());
            const typename E::Text n = E::From(name, codePage);
            const typename E::Text o = E::From(option.get(), codePage);
            if (!n || !o) return 0;
            int entry;
            if (!buffer) {
                entry = E::Feature(n.get(), o.get(), nullptr, nullptr, 0);
            } else {
                // Stop at the first entry that does not fit: nothing past size is written.
                const unsigned left = total < size ? static_cast<unsigned>(size - total) : 0;
                const int needed = E::Feature(n.get(), o.get(), nullptr, nullptr, 0);
                if (needed <= 0 || static_cast<unsigned>(needed) > left) return total ? static_cast<int>(total + 1) : 0;
                entry = E::Feature(n.get(), o.get(), nullptr, buffer + total, left);
            }
            if (entry > 0) total += static_cast<size_t>(entry) - 1;
            if (total > INT_MAX - 1) return 0;
        }
    }
    return total ? static_cast<int>(total + 1) : 0;
}

int CKeyMMediaSetting::GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const {
    return EmitCells<char>(state, buffer, size);
}

int CKeyMMediaSetting::GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    return EmitCells<wchar_t>(state, buffer, count);
}
