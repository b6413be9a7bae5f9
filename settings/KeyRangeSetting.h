// Range keys: a double value with a minimum, a maximum and a display unit, clamped
// on every change, written as text in the unit and emitted as a PPD feature whose
// code is the key's template with the value put in. The scale key writes the
// percentage as a fraction; the copies key writes a non-PPD copy-count feature
// taken from the "*num copies" setting.
#pragma once

#include <cstdint>

#include "settings/KeySetting.h"

class CKeyRangeSetting : public CKeyBaseSetting {
public:
    // Unit indexes: 0 no units, 1 inches, 2 millimetres, 3 points, 4 decipoints, 5 centipoints.
    static constexpr int32_t kUnitCount = 6;
    static constexpr int32_t kNoUnits = 0;
    static constexpr int32_t kMillimetres = 2;
    static constexpr int32_t kPoints = 3;

    // The form Clone starts from: points, value and limits 0, no template, unbounded.
    CKeyRangeSetting();
    // value, minimum and maximum are given in unit and stored multiplied by its factor.
    CKeyRangeSetting(SoupSlotID key, int32_t unit, double value, double minimum, double maximum, SoupSlotID templateId,
                     int32_t extra);

    // Factory creator for type-1 and type-2 records; null for other types or short records.
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);
    // Unit of a key by its keyword (points for every key not named in the unit rules).
    static int32_t GetUnitOfKey(CBaseSoup* soup, SoupSlotID key);

    CKeySetting* Clone() const override;
    bool IsEqual(const CKeySetting* other) const override;
    // 8 bytes: the stored value (points for length units) as a little-endian f64.
    unsigned GetData(CBaseSoup* soup, void* buffer, unsigned size) const override;
    // Reads the stored value; a value that is not finite becomes the minimum, one
    // outside the limits is clamped (unless unbounded).
    unsigned SetData(CBaseSoup* soup, const void* buffer, unsigned size) override;
    // keyword NUL value-in-unit NUL NUL.
    unsigned GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const override;
    // The text read as a "C"-locale number in the key's unit; 1 when soup and text are given.
    int SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t* name, const wchar_t* text) override;
    // map[keyword] = the stored value as text.
    void AddToMap(SettingMap& map, CfgSettings* settings) const override;
    const wchar_t* GetInvocationTemplate(CDrvState* state) const override;
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
    int GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>& out) const override;

    virtual bool Equals(const CKeySetting* other) const { return IsEqual(other); }
    virtual bool Differs(const CKeySetting* other) const { return !Equals(other); }

    // Factor of a unit (1.0 for an index outside the table) and its decimals (0 outside).
    static double GetUnitFactor(int32_t unit);
    static int32_t GetUnitDecimals(int32_t unit);
    // floor(x * factor(unit) * 10^decimals + 0.5) / 10^decimals.
    static double RoundTo(double x, int32_t unit, int32_t decimals);

    double GetValueInUnit(int32_t unit) const;
    double GetMinInUnit(int32_t unit) const;
    double GetMaxInUnit(int32_t unit) const;
    // value = x in unit, clamped to the limits unless unbounded; a non-finite x
    // gives the minimum.
    void SetValue(double x, int32_t unit);
    void SetUnbounded(bool on) { unbounded = on ? 1 : 0; }

    int32_t GetUnit() const { return unit; }
    bool IsUnbounded() const { return unbounded != 0; }
    SoupSlotID GetTemplateId() const { return templateId; }
    int32_t GetExtra() const { return extra; }
    double GetStoredValue() const { return value; }

protected:
    // The value text in the unit (GetText's value part) into out; characters written, 0 on failure.
    int FormatValueText(wchar_t* out, size_t count, double v) const;
    // Shared emitter body: with fractionDecimals >= 0 the tag gets the value / 100 as
    // a fraction with that many decimals (the scale key); else the value text.
    template <class Char>
    int EmitFeature(CDrvState* state, Char* buffer, unsigned size, int fractionDecimals, bool noMinTest) const;

    SoupSlotID templateId;
    int32_t unit = kPoints;
    int32_t unbounded = 1;
    double value = 0;
    double minimum = 0;
    double maximum = 0;
    int32_t extra = -1;
};

class CKeyScaleRange : public CKeyRangeSetting {
public:
    CKeyScaleRange(SoupSlotID key, int32_t unit, double value, double minimum, double maximum, SoupSlotID templateId,
                   int32_t extra)
        : CKeyRangeSetting(key, unit, value, minimum, maximum, templateId, extra) {}
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    // The option is the percentage; the code gets it as a fraction (150 -> 1.50).
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
};

class CKeyCopiesRange : public CKeyRangeSetting {
public:
    // Size every copies emitter asks for.
    static constexpr int kSetupSize = 81;

    CKeyCopiesRange(SoupSlotID key, int32_t unit, double value, double minimum, double maximum, SoupSlotID templateId,
                    int32_t extra)
        : CKeyRangeSetting(key, unit, value, minimum, maximum, templateId, extra) {}
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    // "NumCopies" = the map's "*num copies" entry, when it has one.
    void AddToMap(SettingMap& map, CfgSettings* settings) const override;
    // The copy count of the current "*num copies" setting as a non-PPD feature.
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
};
