// Soup-string keys (a private string soup travelling as a fixed-size blob) and
// table keys (rows x columns of texts for mixed-media ranges; each filled cell
// becomes one feature in the document setup).
#pragma once

#include <cstdint>
#include <memory>

#include "settings/KeySetting.h"
#include "settings/StrSoup.h"

class CKeySoupSetting : public CKeyBaseSetting {
public:
    CKeySoupSetting(SoupSlotID key, int32_t bufferSize);
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    bool IsEqual(const CKeySetting* other) const override;
    // bufferSize x 2 bytes: the given soup serialised into a zero-filled buffer.
    // Returns 0 (and leaves the buffer zeroed) when the soup does not fit the slot.
    unsigned GetData(CBaseSoup* soup, void* buffer, unsigned size) const override;
    // The given soup read from the blob; 0 when the blob is refused.
    unsigned SetData(CBaseSoup* soup, const void* buffer, unsigned size) override;
    unsigned GetText(CBaseSoup*, wchar_t*, unsigned) const override { return 0; }
    int SetFromText(CBaseSoup*, OptionForest*, const wchar_t*, const wchar_t*) override { return 0; }
    int GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>& out) const override;

    virtual bool Equals(const CKeySetting* other) const { return IsEqual(other); }
    virtual bool Differs(const CKeySetting* other) const { return !Equals(other); }

    CBaseSoup* GetSoup() { return &soup; }
    int32_t GetBufferSize() const { return bufferSize; }
    unsigned GetByteSize() const { return bufferSize > 0 ? static_cast<unsigned>(bufferSize) * 2 : 0; }

private:
    CStrSoup soup;
    int32_t bufferSize;
};

class CKeyMMediaSetting : public CKeyBaseSetting {
public:
    // Tables larger than this many cells are refused (the key then has no cells).
    static constexpr int32_t kMaxCells = 1 << 16;

    CKeyMMediaSetting(SoupSlotID key, int32_t rows, int32_t columns);
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    bool IsEqual(const CKeySetting* other) const override;
    unsigned GetData(CBaseSoup* soup, void* buffer, unsigned size) const override;
    unsigned SetData(CBaseSoup* soup, const void* buffer, unsigned size) override;
    unsigned GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const override;
    // Names "RangeNum<row>" and "RangeProp<row>_<column - 1>"; 1 when the cell was set.
    int SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t* name, const wchar_t* text) override;
    void AddToMap(SettingMap& map, CfgSettings* settings) const override;
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
    int GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>& out) const override;

    virtual void ClearCells();
    virtual bool Equals(const CKeySetting* other) const { return IsEqual(other); }
    virtual bool Differs(const CKeySetting* other) const { return !Equals(other); }

    int32_t GetRows() const { return rows; }
    int32_t GetColumns() const { return columns; }
    bool HasCells() const { return cells != nullptr; }
    // The cell's text, null when empty or outside the table.
    const wchar_t* GetCellText(int32_t row, int32_t column) const;

private:
    // Entry name of a cell ("RangeNum0", "RangeProp1_1"); star adds the leading "*".
    static void CellName(int32_t row, int32_t column, bool star, wchar_t* out, unsigned count);
    template <class Char>
    int EmitCells(CDrvState* state, Char* buffer, unsigned size) const;

    CStrSoup soup;
    std::unique_ptr<int32_t[]> cells;
    int32_t rows = 0;
    int32_t columns = 0;
    uint32_t byteSize = 0;
    int32_t reading = 0;
};
