// Range keys: units, text forms and feature emitters.
#include "settings/KeyRangeSetting.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "settings/CompiledKeyRecord.h"
#include "settings/DrvStateAccess.h"
#include "settings/KVCache.h"
#include "settings/KeyEmit.h"
#include "settings/NumberText.h"
#include "settings/OptionUtil.h"
#include "settings/StrSoup.h"

namespace {
constexpr double kUnitFactors[CKeyRangeSetting::kUnitCount] = {1.0, 72.0, 72.0 / 25.4, 1.0, 0.1, 0.01};
constexpr int32_t kUnitDecimals[CKeyRangeSetting::kUnitCount] = {0, 3, 1, 2, 0, 0};
// Value texts are at most this long.
constexpr size_t kValueTextChars = 64;

// Keys whose unit is fixed by their keyword, tested in this order.
struct KeyUnit {
    int property;
    int32_t unit;
};
constexpr KeyUnit kKeyUnits[] = {
    {QV_PROP_TQNUMCOPIES, 0}, {QV_PROP_BOOKLET_MARGIN, 2}, {QV_LOCAL_PROP_SPINE, 2}, {QV_LOCAL_PROP_SCALE, 0}};

double PowerOfTen(int32_t n) {
    // Repeated squaring.
    double result = 1.0, base = 10.0;
    for (uint32_t e = n < 0 ? 0u : static_cast<uint32_t>(n); e; e >>= 1) {
        if (e & 1) result *= base;
        base *= base;
    }
    return result;
}
}  // namespace

CKeyRangeSetting::CKeyRangeSetting() : CKeyBaseSetting(SoupSlotIDPair()) {}

CKeyRangeSetting::CKeyRangeSetting(SoupSlotID key, int32_t unit, double value, double minimum, double maximum,
                                   SoupSlotID templateId, int32_t extra)
    : CKeyBaseSetting(SoupSlotIDPair(key, SoupSlotID())),
      templateId(templateId),
      unit(unit),
      unbounded(0),
      value(value * GetUnitFactor(unit)),
      minimum(minimum * GetUnitFactor(unit)),
      maximum(maximum * GetUnitFactor(unit)),
      extra(extra) {}

int32_t CKeyRangeSetting::GetUnitOfKey(CBaseSoup* soup, SoupSlotID key) {
    if (!soup) return kPoints;
    for (const KeyUnit& row : kKeyUnits)
        if (soup->GetPropertySlot(row.property, true) == key) return row.unit;
    return kPoints;
}

namespace {
// The generic range key of a record, or null.
CKeyRangeSetting* CreateRange(CBaseSoup* soup, const CompiledKeyRecord* record) {
    if (!record) return nullptr;
    const int type = record->GetType();
    if (type != kRecordRange && type != kRecordRangeExtra) return nullptr;
    if (record->size < GetMinimumRecordSize(type)) return nullptr;
    double initial = 0, minimum = 0, maximum = 0;
    int32_t extra = -1;
    if (!record->ReadF64(KeyRecordOffset::kRangeInitial, initial) ||
        !record->ReadF64(KeyRecordOffset::kRangeMinimum, minimum) ||
        !record->ReadF64(KeyRecordOffset::kRangeMaximum, maximum))
        return nullptr;
    if (type == kRecordRangeExtra && !record->ReadI32(KeyRecordOffset::kRangeExtra, extra)) return nullptr;
    const SoupSlotID key = record->GetKeyId();
    const int32_t unit = CKeyRangeSetting::GetUnitOfKey(soup, key);
    return new CKeyRangeSetting(key, unit, initial, minimum, maximum, record->ReadSlot(KeyRecordOffset::kRangeTemplate),
                                extra);
}

template <class Special>
CKeySetting* CreateSpecialRange(CBaseSoup* soup, const CompiledKeyRecord* record) {
    const std::unique_ptr<CKeyRangeSetting> generic(CreateRange(soup, record));
    if (!generic) return nullptr;
    const int32_t u = generic->GetUnit();
    return new Special(generic->GetKeyId(), u, generic->GetValueInUnit(u), generic->GetMinInUnit(u),
                       generic->GetMaxInUnit(u), generic->GetTemplateId(), generic->GetExtra());
}
}  // namespace

CKeySetting* CKeyRangeSetting::Create(CBaseSoup* soup, const CompiledKeyRecord* record) {
    return CreateRange(soup, record);
}

CKeySetting* CKeyScaleRange::Create(CBaseSoup* soup, const CompiledKeyRecord* record) {
    return CreateSpecialRange<CKeyScaleRange>(soup, record);
}

CKeySetting* CKeyCopiesRange::Create(CBaseSoup* soup, const CompiledKeyRecord* record) {
    return CreateSpecialRange<CKeyCopiesRange>(soup, record);
}

CKeySetting* CKeyRangeSetting::Clone() const {
    CKeyRangeSetting* copy = new (std::nothrow) CKeyRangeSetting();
    if (!copy) return nullptr;
    copy->ids = ids;
    copy->templateId = templateId;
    copy->unit = unit;
    copy->unbounded = unbounded;
    copy->value = value;
    copy->minimum = minimum;
    copy->maximum = maximum;
    copy->extra = extra;
    return copy;
}

CKeySetting* CKeyScaleRange::Clone() const {
    return new (std::nothrow) CKeyScaleRange(GetKeyId(), unit, value, minimum, maximum, templateId, extra);
}

CKeySetting* CKeyCopiesRange::Clone() const {
    return new (std::nothrow) CKeyCopiesRange(GetKeyId(), unit, value, minimum, maximum, templateId, extra);
}

double CKeyRangeSetting::GetUnitFactor(int32_t u) { return (u >= 0 && u < kUnitCount) ? kUnitFactors[u] : 1.0; }

int32_t CKeyRangeSetting::GetUnitDecimals(int32_t u) { return (u >= 0 && u < kUnitCount) ? kUnitDecimals[u] : 0; }

double CKeyRangeSetting::RoundTo(double x, int32_t u, int32_t decimals) {
    const double p = PowerOfTen(decimals);
    return std::floor(x * GetUnitFactor(u) * p + 0.5) / p;
}

double CKeyRangeSetting::GetValueInUnit(int32_t u) const { return value / GetUnitFactor(u); }

double CKeyRangeSetting::GetMinInUnit(int32_t u) const { return unbounded ? DBL_MIN : minimum / GetUnitFactor(u); }

double CKeyRangeSetting::GetMaxInUnit(int32_t u) const { return unbounded ? DBL_MAX : maximum / GetUnitFactor(u); }

void CKeyRangeSetting::SetValue(double x, int32_t u) {
    value = x * GetUnitFactor(u);
    if (!std::isfinite(value)) {
        value = unbounded ? 0.0 : minimum;
        return;
    }
    if (unbounded) return;
    if (value < minimum) value = minimum;
    if (value > maximum) value = maximum;
}

bool CKeyRangeSetting::IsEqual(const CKeySetting* other) const {
    const CKeyRangeSetting* range = dynamic_cast<const CKeyRangeSetting*>(other);
    if (!range || !CKeySetting::IsEqual(other)) return false;
    return RoundTo(value, kPoints, 3) == RoundTo(range->value, kPoints, 3) && minimum == range->minimum &&
           maximum == range->maximum && unbounded == range->unbounded && unit == range->unit;
}

unsigned CKeyRangeSetting::GetData(CBaseSoup*, void* buffer, unsigned size) const {
    if (buffer && size >= 8) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        uint8_t* out = static_cast<uint8_t*>(buffer);
        for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    return 8;
}

unsigned CKeyRangeSetting::SetData(CBaseSoup*, const void* buffer, unsigned size) {
    if (!buffer || size < 8) return 0;
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | in[i];
    double v;
    std::memcpy(&v, &bits, sizeof v);
    // A device mode is outside data: keep the value a number inside the limits.
    if (!std::isfinite(v)) {
        v = unbounded ? 0.0 : minimum;
    } else if (!unbounded) {
        if (v < minimum) v = minimum;
        if (v > maximum) v = maximum;
    }
    value = v;
    return 8;
}

int CKeyRangeSetting::FormatValueText(wchar_t* out, size_t count, double v) const {
    const bool fractional = std::isnan(v) || v != std::floor(v);
    const int n = fractional ? FormatDoubleC(out, count, L"%f", v) : FormatDoubleC(out, count, L"%.*f", 0, v);
    return n > 0 ? n : 0;
}

unsigned CKeyRangeSetting::GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const {
    if (!soup) return 0;
    const wchar_t* keyword = soup->GetString(GetKeyId());
    if (!keyword || !*keyword) return 0;
    wchar_t text[kValueTextChars + 1];
    const int n = FormatValueText(text, sizeof text / sizeof text[0], GetValueInUnit(unit));
    if (n <= 0) return 0;
    const size_t keyLen = std::wcslen(keyword);
    const size_t needed = keyLen + 1 + static_cast<size_t>(n) + 1 + 1;
    if (needed > UINT_MAX) return 0;
    if (buffer && count >= needed) {
        std::wmemcpy(buffer, keyword, keyLen + 1);
        std::wmemcpy(buffer + keyLen + 1, text, static_cast<size_t>(n) + 1);
        buffer[needed - 1] = L'\0';
    }
    return static_cast<unsigned>(needed);
}

int CKeyRangeSetting::SetFromText(CBaseSoup* soup, OptionForest*, const wchar_t*, const wchar_t* text) {
    if (!soup || !text) return 0;
    SetValue(ParseDoubleC(text), unit);
    return 1;
}

void CKeyRangeSetting::AddToMap(SettingMap& map, CfgSettings* settings) const {
    CBaseSoup* soup = GetCfgSettingsSoup(settings);
    const wchar_t* keyword = SoupString(soup, GetKeyId());
    if (!keyword) return;
    wchar_t text[kValueTextChars + 1];
    if (FormatValueText(text, sizeof text / sizeof text[0], value) <= 0) return;
    try {
        map[keyword] = text;
    } catch (const std::bad_alloc&) {
    }
}

void CKeyCopiesRange::AddToMap(SettingMap& map, CfgSettings* settings) const {
    CBaseSoup* soup = GetCfgSettingsSoup(settings);
    const wchar_t* copies = SoupString(soup, SoupPropertySlot(soup, QV_PROP_TQNUMCOPIES, true));
    if (!copies) return;
    try {
        const auto it = map.find(copies);
        if (it != map.end()) map[L"NumCopies"] = it->second;
    } catch (const std::bad_alloc&) {
    }
}

const wchar_t* CKeyRangeSetting::GetInvocationTemplate(CDrvState* state) const {
    return SoupString(DrvStateSoup(state), templateId);
}

int CKeyRangeSetting::GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>&) const {
    return record ? 1 : 0;
}

template <class Char>
int CKeyRangeSetting::EmitFeature(CDrvState* state, Char* buffer, unsigned size, int fractionDecimals,
                                  bool noMinTest) const {
    using E = KeyEmit<Char>;
    CBaseSoup* soup = DrvStateSoup(state);
    OptionForest* forest = DrvStateKeyForest(state);
    if (!soup || !forest) return 0;
    const wchar_t* keyword = soup->GetString(GetKeyId());
    if (!keyword || !*keyword) return 0;
    const wchar_t* templ = soup->GetString(templateId);
    if (fractionDecimals >= 0 && (!templ || !*templ)) return 0;
    if (noMinTest && GetMinInUnit(unit) >= GetValueInUnit(unit)) {
        const COptionUtil util(soup, forest);
        if (util.IsValueListed(soup->GetPropertySlot(QV_PROP_PPXFLAGS, true), GetKeyId(),
                               soup->GetPropertySlot(QV_PROP_NOMIN, true)))
            return 0;
    }
    const unsigned n = GetText(soup, nullptr, 0);
    if (!n) return 0;
    WText text(new (std::nothrow) wchar_t[n]);
    if (!text || GetText(soup, text.get(), n) != n) return 0;
    const wchar_t* valueText = text.get() + std::wcslen(text.get()) + 1;

    wchar_t fraction[kValueTextChars + 1] = L"";
    if (fractionDecimals >= 0 &&
        FormatDoubleC(fraction, sizeof fraction / sizeof fraction[0], L"%.*f", fractionDecimals,
                      GetValueInUnit(unit) / 100.0) <= 0)
        return 0;

    const UINT codePage = DrvStateOutputCodePage(state);
    const typename E::Text k = E::From(keyword, codePage);
    const typename E::Text t = E::From(templ ? templ : L"", codePage);
    const typename E::Text v = E::From(valueText, codePage);
    const typename E::Text f = E::From(fraction, codePage);
    if (!k || !t || !v || !f) return 0;
    const typename E::Text code = ReplaceTagAlloc<Char>(k.get(), fractionDecimals >= 0 ? f.get() : v.get(),
                                                        t.get(), false);
    if (!code) return 0;
    return E::Feature(k.get(), v.get(), code.get(), buffer, size);
}

int CKeyRangeSetting::GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const {
    return EmitFeature<char>(state, buffer, size, -1, true);
}

int CKeyRangeSetting::GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    return EmitFeature<wchar_t>(state, buffer, count, -1, true);
}

int CKeyScaleRange::GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const {
    return EmitFeature<char>(state, buffer, size, GetUnitDecimals(unit) + 2, false);
}

int CKeyScaleRange::GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    return EmitFeature<wchar_t>(state, buffer, count, GetUnitDecimals(unit) + 2, false);
}

namespace {
template <class Char>
int EmitCopies(const CKeyCopiesRange& self, CDrvState* state, Char* buffer, unsigned size) {
    CBaseSoup* soup = DrvStateSoup(state);
    if (!soup) return 0;
    if (!buffer) return CKeyCopiesRange::kSetupSize;
    if (size < static_cast<unsigned>(CKeyCopiesRange::kSetupSize)) return 0;
    KVCache* current = DrvStateCurrentSettings(state);
    if (!current) return 0;
    const CKeyRangeSetting* copies =
        dynamic_cast<const CKeyRangeSetting*>(current->Find(soup->GetPropertySlot(QV_PROP_TQNUMCOPIES, true)));
    if (!copies) return 0;
    double v = copies->GetStoredValue() / CKeyRangeSetting::GetUnitFactor(self.GetUnit());
    // The count goes into the job as an integer: keep it one.
    if (!(v >= 0)) v = 0;
    if (v > INT_MAX) v = INT_MAX;
    char text[CKeyCopiesRange::kSetupSize + 16];
    const int n = FormatToBufferA(text, sizeof text,
                                  "%%%%BeginNonPPDFeature: NumCopies %d\r\n%%%%EndNonPPDFeature\r\n",
                                  static_cast<int>(v));
    // n counts the terminator.
    if (n <= 0 || static_cast<unsigned>(n) > size) return 0;
    for (int i = 0; i < n; ++i) buffer[i] = static_cast<Char>(text[i]);
    return n;
}
}  // namespace

int CKeyCopiesRange::GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const {
    return EmitCopies<char>(*this, state, buffer, size);
}

int CKeyCopiesRange::GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    return EmitCopies<wchar_t>(*this, state, buffer, count);
}
