// Root key behaviour and the feature-invocation writers.
#include "settings/KeySetting.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>
#include <typeinfo>

#include "foundation/StrUtil.h"
#include "settings/KeyForest.h"
#include "settings/StrSoup.h"

namespace {
std::atomic<CfgSettingsSoupAccessor> g_soupAccessor{nullptr};
}

void SetCfgSettingsSoupAccessor(CfgSettingsSoupAccessor accessor) { g_soupAccessor.store(accessor); }

CBaseSoup* GetCfgSettingsSoup(CfgSettings* settings) {
    if (!settings) return nullptr;
    const CfgSettingsSoupAccessor accessor = g_soupAccessor.load();
    return accessor ? accessor(settings) : nullptr;
}

// ---------------------------------------------------------------------------------

bool CKeySetting::IsEqual(const CKeySetting* other) const {
    if (!other) return false;
    return typeid(*this) == typeid(*other) && ids == other->ids;
}

unsigned CKeySetting::GetData(CBaseSoup*, void* buffer, unsigned size) const {
    if (buffer && size >= 4) {
        const int32_t value = ids.second.IsValid() ? ids.second.GetIndex() : -1;
        std::memcpy(buffer, &value, sizeof value);
    }
    return 4;
}

unsigned CKeySetting::SetData(CBaseSoup*, const void* buffer, unsigned size) {
    if (!buffer || size < 4) return 0;
    int32_t value;
    std::memcpy(&value, buffer, sizeof value);  // device-mode data need not be aligned
    ids.second = SoupSlotID(value < 0 ? -1 : value);
    return 4;
}

unsigned CKeySetting::GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const {
    if (!soup) return 0;
    const wchar_t* keyword = soup->GetString(ids.first);
    if (!keyword || !*keyword) return 0;
    const wchar_t* value = ids.second.IsValid() ? soup->GetString(ids.second) : nullptr;
    if (!value) value = L"";
    const size_t keyLen = std::wcslen(keyword);
    const size_t valueLen = std::wcslen(value);
    const size_t needed = keyLen + valueLen + 3;
    if (needed > UINT_MAX) return 0;
    if (buffer && count >= needed) {
        std::wmemcpy(buffer, keyword, keyLen);
        buffer[keyLen] = L'\0';
        std::wmemcpy(buffer + keyLen + 1, value, valueLen);
        buffer[keyLen + 1 + valueLen] = L'\0';
        buffer[keyLen + 2 + valueLen] = L'\0';
    }
    return static_cast<unsigned>(needed);
}

int CKeySetting::SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t*, const wchar_t* text) {
    if (!soup || !forest || !text) return 0;
    const SoupSlotID slot = soup->FindOrAdd(text);
    if (slot.IsInvalid() || !forest->FindLeaf(ids.first, slot)) return 0;
    ids.second = slot;
    return 1;
}

void CKeySetting::AddToMap(SettingMap& map, CfgSettings* settings) const {
    const CBaseSoup* soup = GetCfgSettingsSoup(settings);
    if (soup) AddToMapWithSoup(map, soup);
}

void CKeySetting::AddToMapWithSoup(SettingMap& map, const CBaseSoup* soup) const {
    if (!soup) return;
    const wchar_t* keyword = soup->GetString(ids.first);
    const wchar_t* value = soup->GetString(ids.second);
    try {
        map[keyword ? keyword : L""] = value ? value : L"";
    } catch (const std::bad_alloc&) {
        // The map stays as it was.
    }
}

// ---------------------------------------------------------------------------------

CKeySetting* CKeyOldSetting::Clone() const { return new (std::nothrow) CKeyOldSetting(*this); }

// ---------------------------------------------------------------------------------

char* CKeyBaseSetting::ToNarrowText(const wchar_t* text) const {
    if (!text) return nullptr;
    StrUtil<char, wchar_t> narrow(text);
    if (!narrow.Get()) return nullptr;
    return FormatAllocA("%s", narrow.Get());
}

const wchar_t* CKeyBaseSetting::GetInvocationTemplate(CDrvState*) const { return nullptr; }
int CKeyBaseSetting::GetCommentTextW(CDrvState*, wchar_t*, unsigned) const { return 0; }
int CKeyBaseSetting::GetCommentTextA(CDrvState*, char*, unsigned) const { return 0; }
int CKeyBaseSetting::GetSetupCodeW(CDrvState*, wchar_t*, unsigned) const { return 0; }
int CKeyBaseSetting::GetSetupCodeA(CDrvState*, char*, unsigned) const { return 0; }
int CKeyBaseSetting::GetPageSetupCode(CDrvState*, wchar_t*, unsigned, unsigned) const { return 0; }
int CKeyBaseSetting::GetShowPageCode(CDrvState*, wchar_t*, unsigned, unsigned) const { return 0; }

int CKeyBaseSetting::GetIdListFromRecord(const CompiledKeyRecord*, std::list<SoupSlotID>&) const { return 1; }

int CKeyBaseSetting::FormatFeatureA(const char* keyword, const char* option, const char* code, char* buffer,
                                    unsigned size) {
    if (!code) code = "";
    if (!keyword || !*keyword || !option) return 0;
    const size_t needed = std::strlen(keyword) + std::strlen(option) + std::strlen(code) + 62;
    if (needed > INT_MAX) return 0;
    if (!buffer || size < needed) return static_cast<int>(needed);
    const int written =
        *code ? FormatToBufferA(buffer, size, "%%%%BeginFeature: %s %s\r\n  %s\r\n%%%%EndFeature\r\n", keyword,
                                option, code)
              : FormatToBufferA(buffer, size, "%%%%BeginFeature: %s %s\r\n  %%%%EmptyOption\r\n%%%%EndFeature\r\n",
                                keyword, option);
    return written > 0 ? written : 0;
}

int CKeyBaseSetting::FormatFeatureW(const wchar_t* keyword, const wchar_t* option, const wchar_t* code,
                                    wchar_t* buffer, unsigned count) {
    if (!code) code = L"";
    if (!keyword || !*keyword || !option) return 0;
    const size_t needed = std::wcslen(keyword) + std::wcslen(option) + std::wcslen(code) + 62;
    if (needed > INT_MAX) return 0;
    if (!buffer || count < needed) return static_cast<int>(needed);
    const int written =
        *code ? FormatToBuffer(buffer, count, L"%%%%BeginFeature: %s %s\r\n  %s\r\n%%%%EndFeature\r\n", keyword,
                               option, code)
              : FormatToBuffer(buffer, count, L"%%%%BeginFeature: %s %s\r\n  %%%%EmptyOption\r\n%%%%EndFeature\r\n",
                               keyword, option);
    return written > 0 ? written : 0;
}
