// Custom print size, colour-management and password note keys.
#include "settings/KeyNoteSpecials.h"

#include <cmath>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "foundation/Crypto.h"
#include "foundation/StrUtil.h"
#include "settings/CompiledKeyRecord.h"
#include "settings/DrvStateAccess.h"
#include "settings/KeyEmit.h"
#include "settings/NumberText.h"
#include "settings/OptionUtil.h"
#include "settings/StrSoup.h"

namespace {
template <class T>
CKeySetting* CloneOf(const T& self) {
    try {
        return new T(self);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
}  // namespace

// ---------------------------------------------------------------------------------
// Custom print size.

CKeySetting* CKeyCustPrintSz::Create(CBaseSoup* soup, const CompiledKeyRecord* record) {
    return CKeyNoteSetting::CreateSpecial<CKeyCustPrintSz>(soup, record);
}

CKeySetting* CKeyCustPrintSz::Clone() const { return CloneOf(*this); }

namespace {
// The size text rebuilt from its numbers (two to five, each finite), or empty when
// the text is anything else: the text goes into a PostScript array.
std::wstring NormalisePrintSize(const std::wstring& text) {
    double v[6];
    const wchar_t* rest = nullptr;
    const int n = ParseNumbersC(text.c_str(), v, 6, &rest);
    if (n < 2 || n > 5) return std::wstring();
    while (*rest == L' ' || *rest == L'\t') ++rest;
    if (*rest) return std::wstring();
    std::wstring out;
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i]) || std::fabs(v[i]) > 1e7) return std::wstring();
        wchar_t number[64];
        const int len = v[i] == std::floor(v[i]) ? FormatDoubleC(number, 64, L"%.0f", v[i])
                                                   : FormatDoubleC(number, 64, L"%.2f", v[i]);
        if (len <= 0) return std::wstring();
        if (i) out += L' ';
        out += number;
    }
    return out;
}

template <class Char>
int EmitPrintSize(const CKeyCustPrintSz& self, CDrvState* state, Char* buffer, unsigned size) {
    using E = KeyEmit<Char>;
    CBaseSoup* soup = DrvStateSoup(state);
    if (!soup) return 0;
    const wchar_t* keyword = soup->GetString(self.GetKeyId());
    if (!keyword || !*keyword) return 0;
    const wchar_t* falseText = soup->GetString(soup->GetPropertySlot(QV_PROP_FALSE, true));
    if (falseText && std::wcscmp(falseText, self.GetNoteText()) == 0) return 0;
    std::wstring sizeText;
    try {
        sizeText = NormalisePrintSize(self.GetNoteText());
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (sizeText.empty()) return 0;
    const WText code(FormatAlloc(L"%%%%BeginFeature: %s %s\r\n   userdict /RQXVYRsetpageproperties known\r\n"
                                 L"    {<< /RQXsetPrintSize [ %s 0 0 1 ] >> RQXVYRsetpageproperties} if\r\n"
                                 L"%%%%EndFeature\r\n",
                                 keyword, sizeText.c_str(), sizeText.c_str()));
    if (!code) return 0;
    const typename E::Text out = E::From(code.get(), DrvStateOutputCodePage(state));
    return CopyOutText<Char>(out.get(), buffer, size);
}
}  // namespace

int CKeyCustPrintSz::GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const {
    return EmitPrintSize<char>(*this, state, buffer, size);
}

int CKeyCustPrintSz::GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    return EmitPrintSize<wchar_t>(*this, state, buffer, count);
}

// ---------------------------------------------------------------------------------
// Colour-management pass-through keys.

CKeySetting* CKeyHueGuardBiDi::Create(CBaseSoup* soup, const CompiledKeyRecord* record) {
    return CKeyNoteSetting::CreateSpecial<CKeyHueGuardBiDi>(soup, record);
}

CKeySetting* CKeyHueGuardBiDi::Clone() const { return CloneOf(*this); }

int CKeyHueGuardBiDi::SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t* name, const wchar_t* value) {
    if (value && value[0] == 0xEF && value[1] == 0xBB && value[2] == 0xBF) {
        const WText marked(FormatAlloc(L"EFBBBF%s", value + 3));
        if (!marked) return 0;
        return CKeyNoteSetting::SetFromText(soup, forest, name, marked.get());
    }
    return CKeyNoteSetting::SetFromText(soup, forest, name, value);
}

char* CKeyHueGuardBiDi::ToNarrowText(const wchar_t* value) const {
    if (!value) return nullptr;
    const size_t n = std::wcslen(value);
    char* out = new (std::nothrow) char[n + 1];
    if (!out) return nullptr;
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(value[i] & 0xFF);
    out[n] = '\0';
    return out;
}

namespace {
// (emitted keyword, text) of a colour-management key, or false.
bool HueGuardForms(CDrvState* state, const CKeyNoteSetting& self, std::wstring& keyword, std::wstring& value) {
    CBaseSoup* soup = DrvStateSoup(state);
    if (!soup || !DrvStateKeyForest(state)) return false;
    const wchar_t* k = soup->GetString(self.GetKeyId());
    const wchar_t* templ = soup->GetString(self.GetInvocationTemplateId());
    const wchar_t* t = self.GetNoteText();
    if (!k || std::wcslen(k) < 2 || !*t || !templ) return false;
    keyword.assign(k, 1);
    keyword += k + 2;
    if (std::wcsncmp(t, L"EFBBBF", 6) == 0) {
        value = L"\xFEFF";
        value += t + 6;
    } else {
        value = t;
    }
    return true;
}
}  // namespace

int CKeyHueGuardBiDi::GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const {
    std::wstring keyword, value;
    try {
        if (!HueGuardForms(state, *this, keyword, value)) return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return EmitSetup<char>(state, keyword.c_str(), value.c_str(), buffer, size);
}

int CKeyHueGuardBiDi::GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    std::wstring keyword, value;
    try {
        if (!HueGuardForms(state, *this, keyword, value)) return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return EmitSetup<wchar_t>(state, keyword.c_str(), value.c_str(), buffer, count);
}

// ---------------------------------------------------------------------------------
// User-authentication name and password.

namespace {
constexpr wchar_t kSettingsPassword[] = L"6A0F3D92-B47C-4e15-8D2A-90C1E7B35F48";
constexpr DWORD kSettingsKeyBits = 40;
}  // namespace

wchar_t* CKeyPasswordStr::Encrypt(const wchar_t* plain) {
    if (!plain) return nullptr;
    if (!*plain) return StrDup(L"");
    Crypto crypto(kSettingsPassword, CALG_RC4, kSettingsKeyBits);
    return crypto.EncryptToHex(plain);
}

SecretWText CKeyPasswordStr::Decrypt(const wchar_t* hex) {
    if (!hex || !*hex) return SecretWText(StrDup(L""));
    Crypto crypto(kSettingsPassword, CALG_RC4, kSettingsKeyBits);
    SecretWText plain(crypto.DecryptFromHex(hex));
    // A stream cipher "decrypts" anything: only a text whose terminator came back
    // where the cipher text ends (four digits per unit) was ours.
    if (plain && (std::wcslen(plain.get()) + 1) * 4 != std::wcslen(hex)) plain.reset();
    return plain;
}

CKeyPasswordStr::CKeyPasswordStr(SoupSlotID key, const wchar_t* plain, SoupSlotID defaultTextId,
                                 SoupSlotID invocationTemplateId, SoupSlotID commentTemplateId, int32_t maxLength,
                                 SoupSlotID textSlot)
    : CKeyNoteSetting(key, L"", defaultTextId, invocationTemplateId, commentTemplateId,
                      maxLength > 0 && maxLength <= INT32_MAX / 4 ? maxLength * 4 : 0, textSlot) {
    if (plain && *plain) {
        const WText hex(Encrypt(plain));
        SetNoteText(hex ? hex.get() : L"");
    }
}

CKeyPasswordStr::CKeyPasswordStr(Stored, const CKeyPasswordStr& other)
    : CKeyNoteSetting(other.GetKeyId(), other.GetNoteText(), other.defaultTextId, other.invocationTemplateId,
                      other.commentTemplateId, other.maxLength, other.textSlot) {}

CKeySetting* CKeyPasswordStr::Create(CBaseSoup* soup, const CompiledKeyRecord* record) {
    return CKeyNoteSetting::CreateSpecial<CKeyPasswordStr>(soup, record);
}

CKeySetting* CKeyPasswordStr::Clone() const {
    try {
        return new CKeyPasswordStr(Stored(), *this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

unsigned CKeyPasswordStr::GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const {
    if (!soup) return 0;
    const wchar_t* keyword = soup->GetString(GetKeyId());
    if (!keyword || !*keyword) return 0;
    SecretWText plain = Decrypt(text.c_str());
    const wchar_t* value = plain ? plain.get() : L"";
    const size_t keyLen = std::wcslen(keyword);
    const size_t valueLen = std::wcslen(value);
    const size_t needed = keyLen + valueLen + 3;
    if (needed > UINT_MAX) return 0;
    if (buffer && count >= needed) {
        std::wmemcpy(buffer, keyword, keyLen + 1);
        std::wmemcpy(buffer + keyLen + 1, value, valueLen + 1);
        buffer[needed - 1] = L'\0';
    }
    return static_cast<unsigned>(needed);
}

int CKeyPasswordStr::SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t* name, const wchar_t* value) {
    if (!soup || !value) return 0;
    const WText hex(Encrypt(value));
    return CKeyNoteSetting::SetFromText(soup, forest, name, hex ? hex.get() : L"");
}

void CKeyPasswordStr::AddToMap(SettingMap& map, CfgSettings* settings) const {
    CBaseSoup* soup = GetCfgSettingsSoup(settings);
    const wchar_t* keyword = SoupString(soup, GetKeyId());
    if (!keyword) return;
    SecretWText plain = Decrypt(text.c_str());
    try {
        map[keyword] = plain ? plain.get() : L"";
    } catch (const std::bad_alloc&) {
    }
}

// ---------------------------------------------------------------------------------
// Custom print size text.

namespace {
struct PrintSize {
    float width = 612.0f;
    float height = 792.0f;
    unsigned offset1 = 0;
    unsigned offset2 = 0;
    wchar_t edge[40] = L"ShortEdge";
};

bool ReadUnsigned(const wchar_t*& p, unsigned& out) {
    while (*p == L' ' || *p == L'\t') ++p;
    if (*p < L'0' || *p > L'9') return false;
    wchar_t* end = nullptr;
    const unsigned long v = std::wcstoul(p, &end, 10);
    if (end == p) return false;
    out = static_cast<unsigned>(v);
    p = end;
    return true;
}

// Five fields, else two, else the record stays as it was.
void ReadPrintSize(const wchar_t* text, PrintSize& size) {
    if (!text) return;
    double wh[2];
    const wchar_t* rest = nullptr;
    if (ParseNumbersC(text, wh, 2, &rest) != 2) return;
    PrintSize five = size;
    five.width = static_cast<float>(wh[0]);
    five.height = static_cast<float>(wh[1]);
    const wchar_t* p = rest;
    if (ReadUnsigned(p, five.offset1) && ReadUnsigned(p, five.offset2)) {
        while (*p == L' ' || *p == L'\t') ++p;
        size_t n = 0;
        while (p[n] && p[n] != L' ' && p[n] != L'\t' && n < 39) ++n;
        if (n) {
            std::wmemcpy(five.edge, p, n);
            five.edge[n] = L'\0';
            size = five;
            return;
        }
    }
    size.width = static_cast<float>(wh[0]);
    size.height = static_cast<float>(wh[1]);
}

unsigned Truncated(float v) {
    if (!(v >= 0)) return 0;
    if (v >= 4294967295.0f) return 4294967295u;
    return static_cast<unsigned>(v);
}
}  // namespace

wchar_t* FormatCustomPrintSize(const wchar_t* text, const wchar_t* defaultText, bool shortForm, bool decimalForm) {
    PrintSize size;
    ReadPrintSize(defaultText, size);
    ReadPrintSize(text, size);
    if (!size.edge[0]) StrCopy(size.edge, 40, L"ShortEdge");
    // The width as an integer (truncated) against the height.
    if (std::isfinite(size.width) && std::isfinite(size.height) && std::trunc(size.width) >= size.height)
        StrCopy(size.edge, 40, L"LongEdge");
    if (decimalForm) {
        wchar_t w[64], h[64];
        if (FormatDoubleC(w, 64, L"%.2f", size.width) < 0 || FormatDoubleC(h, 64, L"%.2f", size.height) < 0)
            return nullptr;
        if (shortForm) return FormatAlloc(L"%s %s", w, h);
        return FormatAlloc(L"%s %s %u %u %s", w, h, size.offset1, size.offset2, size.edge);
    }
    if (shortForm) return FormatAlloc(L"%u %u", Truncated(size.width), Truncated(size.height));
    return FormatAlloc(L"%u %u %u %u %s", Truncated(size.width), Truncated(size.height), size.offset1, size.offset2,
                       size.edge);
}
