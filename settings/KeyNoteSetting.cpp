// Note key: binary and text forms, comments, setup code and map export.
#include "settings/KeyNoteSetting.h"

#include <windows.h>
#include <lm.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/StrUtil.h"
#include "settings/CompiledKeyRecord.h"
#include "settings/DrvStateAccess.h"
#include "settings/KeyEmit.h"
#include "settings/KeyUtility.h"
#include "settings/OptionUtil.h"
#include "settings/StrSoup.h"
#include "storage/OEMManager.h"
#include "storage/UATManager.h"

CKeyNoteSetting::CKeyNoteSetting(SoupSlotID key, const wchar_t* value, SoupSlotID defaultTextId,
                                 SoupSlotID invocationTemplateId, SoupSlotID commentTemplateId, int32_t maxLength,
                                 SoupSlotID textSlot)
    : CKeyBaseSetting(SoupSlotIDPair(key, SoupSlotID())),
      text(value ? value : L""),
      textSlot(textSlot),
      defaultTextId(defaultTextId),
      invocationTemplateId(invocationTemplateId),
      commentTemplateId(commentTemplateId),
      maxLength(maxLength) {}

CKeySetting* CKeyNoteSetting::Create(CBaseSoup* soup, const CompiledKeyRecord* record) {
    if (!record || record->GetType() != kRecordNote || record->size < GetMinimumRecordSize(kRecordNote))
        return nullptr;
    int16_t maxLength = 0;
    if (!record->ReadI16(KeyRecordOffset::kNoteMaxLength, maxLength)) return nullptr;
    const SoupSlotID defaultId = record->ReadSlot(KeyRecordOffset::kNoteDefaultText);
    const wchar_t* defaultText = SoupString(soup, defaultId);
    return new CKeyNoteSetting(record->GetKeyId(), defaultText ? defaultText : L"", defaultId,
                               record->ReadSlot(KeyRecordOffset::kNoteTemplate),
                               record->ReadSlot(KeyRecordOffset::kNoteCommentTemplate), maxLength);
}

CKeySetting* CKeyNoteSetting::Clone() const {
    try {
        return new CKeyNoteSetting(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool CKeyNoteSetting::IsEqual(const CKeySetting* other) const {
    const CKeyNoteSetting* note = dynamic_cast<const CKeyNoteSetting*>(other);
    return note && CKeySetting::IsEqual(other) && note->text == text;
}

unsigned CKeyNoteSetting::GetData(CBaseSoup* soup, void* buffer, unsigned size) const {
    if (soup) {
        if (buffer && size >= 4) {
            const SoupSlotID slot = soup->FindOrAdd(text.c_str());
            const int32_t v = slot.IsValid() ? slot.GetIndex() : -1;
            std::memcpy(buffer, &v, sizeof v);
        }
        return 4;
    }
    const unsigned units = maxLength > 0 ? static_cast<unsigned>(maxLength) : 0;
    const unsigned bytes = units * 2;
    if (buffer && size >= bytes && bytes) {
        std::memset(buffer, 0, bytes);
        const size_t n = std::min<size_t>(text.size(), units);
        std::memcpy(buffer, text.data(), n * sizeof(wchar_t));
    }
    return bytes;
}

unsigned CKeyNoteSetting::SetData(CBaseSoup* soup, const void* buffer, unsigned size) {
    const unsigned units = maxLength > 0 ? static_cast<unsigned>(maxLength) : 0;
    const unsigned expected = soup ? 4 : units * 2;
    unsigned result = 0;
    if (buffer && size >= expected) {
        if (soup) {
            int32_t v;
            std::memcpy(&v, buffer, sizeof v);
            textSlot = SoupSlotID(v < 0 ? -1 : v);
        } else {
            // Device-mode bytes: at most maxLength + 1 units, never past size.
            const size_t limit = std::min<size_t>(static_cast<size_t>(units) + 1, size / 2);
            const uint8_t* in = static_cast<const uint8_t*>(buffer);
            // Read aside, so a text that memory is short for leaves the note as it was.
            std::wstring read;
            for (size_t i = 0; i < limit; ++i) {
                wchar_t ch;
                std::memcpy(&ch, in + 2 * i, sizeof ch);
                if (!ch) break;
                read.push_back(ch);
            }
            text.swap(read);
        }
        result = expected;
    }
    if (soup && soup->GetCount() > 0 && textSlot.IsValid()) {
        const wchar_t* s = soup->GetString(textSlot);
        if (s && !SetNoteText(s)) throw std::bad_alloc();
    }
    return result;
}

unsigned CKeyNoteSetting::GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const {
    if (!soup) return 0;
    const wchar_t* keyword = soup->GetString(GetKeyId());
    if (!keyword || !*keyword) return 0;
    const size_t keyLen = std::wcslen(keyword);
    const size_t needed = keyLen + text.size() + 3;
    if (needed > UINT_MAX) return 0;
    if (buffer && count >= needed) {
        std::wmemcpy(buffer, keyword, keyLen + 1);
        std::wmemcpy(buffer + keyLen + 1, text.c_str(), text.size() + 1);
        buffer[needed - 1] = L'\0';
    }
    return static_cast<unsigned>(needed);
}

int CKeyNoteSetting::SetFromText(CBaseSoup* soup, OptionForest*, const wchar_t*, const wchar_t* value) {
    if (!soup || !value) return 0;
    const size_t limit = maxLength >= 0 ? static_cast<size_t>(maxLength) + 1 : 0;
    try {
        text.assign(value, wcsnlen(value, limit));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

bool CKeyNoteSetting::SetNoteText(const wchar_t* value) {
    try {
        text = value ? value : L"";
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

const wchar_t* CKeyNoteSetting::GetInvocationTemplate(CDrvState* state) const {
    return SoupString(DrvStateSoup(state), invocationTemplateId);
}

int CKeyNoteSetting::GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>&) const {
    return record ? 1 : 0;
}

// ---------------------------------------------------------------------------------
// Code pages.

namespace {
struct CodePageInputs {
    int version = 0;
    bool listed = false;
    const wchar_t* keyword = nullptr;
};

CodePageInputs ReadCodePageInputs(CDrvState* state, SoupSlotID key) {
    CodePageInputs in;
    CBaseSoup* soup = DrvStateSoup(state);
    const COptionUtil util(soup, DrvStateKeyForest(state));
    if (!util.IsValid()) return in;
    const wchar_t* version = util.GetOptionValue(soup->GetPropertySlot(QV_PROP_SPECIALOPTION, true),
                                                 soup->GetPropertySlot(QV_PROP_UTF8_VERSION, true));
    in.version = version ? _wtoi(version) : 0;
    in.listed = util.IsValueListed(soup->GetPropertySlot(QV_PROP_PPXFLAGS, true), key,
                                   soup->GetPropertySlot(QV_PROP_UTF8, true));
    in.keyword = soup->GetString(key);
    return in;
}

bool KeywordIs(const wchar_t* keyword, const wchar_t* name) { return keyword && std::wcscmp(keyword, name) == 0; }
}  // namespace

UINT CKeyNoteSetting::GetCommentCodePage(CDrvState* state) const {
    const UINT out = DrvStateOutputCodePage(state);
    const CodePageInputs in = ReadCodePageInputs(state, GetKeyId());
    if (KeywordIs(in.keyword, L"*QVFor")) return kUtf8CodePage;
    if (in.version < 3) return out;
    return in.listed ? kUtf8CodePage : out;
}

UINT CKeyNoteSetting::GetSetupCodePage(CDrvState* state) const {
    const UINT out = DrvStateOutputCodePage(state);
    const CodePageInputs in = ReadCodePageInputs(state, GetKeyId());
    if (in.version < 3) return out;
    if (in.version >= 4 && KeywordIs(in.keyword, L"*QVPCName")) return kUtf8CodePage;
    return in.listed ? kUtf8CodePage : out;
}

// ---------------------------------------------------------------------------------
// Comments.

namespace {
struct CommentRow {
    int word;
    const wchar_t* format;
    bool needsText;
};
constexpr CommentRow kCommentRows[] = {
    {QV_PROP_SECPRINTFLAG, L"%%%% @@DEV=SECUREPRINT", true},
    {QV_PROP_MEMBERFLAG, L"%%%%DeptPassword: <%s>", false},
    {QV_PROP_RESUMEFLAG, L"%%%%PersPassword: <%s>", false},
    {QV_PROP_TIMETOPRINT, L"%%%%VYRPrintTime: <%s>", false},
};

bool KeyLists(const COptionUtil& util, CBaseSoup* soup, SoupSlotID key, int word) {
    return util.IsValueListed(SoupSlotID(), key, soup->GetPropertySlot(word, true));
}
}  // namespace

template <class Char>
int CKeyNoteSetting::EmitComment(CDrvState* state, Char* buffer, unsigned size) const {
    using E = KeyEmit<Char>;
    CBaseSoup* soup = DrvStateSoup(state);
    const COptionUtil util(soup, DrvStateKeyForest(state));
    if (!util.IsValid()) return 0;
    const wchar_t* keyword = soup->GetString(GetKeyId());
    if (!keyword || !*keyword) return 0;

    WText rowTemplate;
    const wchar_t* templ = nullptr;
    bool needsText = false;
    for (const CommentRow& row : kCommentRows) {
        if (!KeyLists(util, soup, GetKeyId(), row.word)) continue;
        rowTemplate.reset(FormatAlloc(row.format, keyword));
        if (!rowTemplate) return 0;
        templ = rowTemplate.get();
        needsText = row.needsText;
        break;
    }
    if (!templ) templ = soup->GetString(commentTemplateId);
    if (!templ || (needsText && text.empty())) return 0;

    // The text stands on a DSC comment line: it may not end that line.
    WText value(StrDup(text.c_str()));
    if (!value) return 0;
    BlankControlChars(value.get());
    const UINT codePage = GetCommentCodePage(state);
    const typename E::Text k = E::From(keyword, DrvStateOutputCodePage(state));
    const typename E::Text v = E::From(value.get(), codePage);
    const typename E::Text t = E::From(templ, codePage);
    if (!k || !v || !t) return 0;
    // A multibyte conversion may bring back no control bytes, but check the result.
    BlankControlChars(v.get());
    const int result = E::Replace(k.get(), v.get(), t.get(), buffer, size > INT_MAX ? INT_MAX : static_cast<int>(size),
                                  false);
    return result > 0 ? result : 0;
}

int CKeyNoteSetting::GetCommentTextW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    return EmitComment<wchar_t>(state, buffer, count);
}

int CKeyNoteSetting::GetCommentTextA(CDrvState* state, char* buffer, unsigned size) const {
    return EmitComment<char>(state, buffer, size);
}

// ---------------------------------------------------------------------------------
// Setup code.

namespace {
template <class Char>
int DefaultSetup(const Char* keyword, const Char* text, const Char* templ, bool noSetup, Char* buffer,
                 unsigned size) {
    using E = KeyEmit<Char>;
    if (noSetup) return 0;
    if (!text) text = E::Empty();
    if (!templ) templ = E::Empty();
    if (*templ && !*text) return 0;
    const typename E::Text code = ReplaceTagAlloc<Char>(keyword, text, templ, true);
    if (!code) return 0;
    // The option stands on the "%%BeginFeature:" line: keep it on that line.
    const size_t n = E::Len(text) + 1;
    std::unique_ptr<Char[]> option(new (std::nothrow) Char[n]);
    if (!option) return 0;
    std::memcpy(option.get(), text, n * sizeof(Char));
    BlankControlChars(option.get());
    return E::Feature(keyword, option.get(), code.get(), buffer, size);
}

// Upper-case hexadecimal cipher text of text through the printer's OEM module.
int EncryptWith(COEMInterface* oem, bool algo2, const char* text, char* out, int size) {
    return algo2 ? oem->EncryptAlgo2A(text, out, size) : oem->EncryptAlgo1A(text, out, size);
}
int EncryptWith(COEMInterface* oem, bool algo2, const wchar_t* text, wchar_t* out, int size) {
    return algo2 ? oem->EncryptAlgo2(text, out, size) : oem->EncryptAlgo1(text, out, size);
}

template <class Char>
int EncryptingSetup(CDrvState* state, const Char* keyword, const Char* text, const Char* templ, Char* buffer,
                    unsigned size) {
    const WText path(MakeOEMModulePath(DrvStatePPDPath(state)));
    if (!path) return 0;
    COEMInterface* oem = AcquireOEMInterface(nullptr, path.get());
    if (!oem) return 0;
    CKeyOptionUtility util;
    util.Init(DrvStateKeyForest(state), DrvStateSoup(state));
    const bool algo2 = util.IsValueListedByProp(QV_PROP_SPECIALOPTION, QV_PROP_USESPECIALALGORITHM, QV_PROP_TWO);
    int result = 0;
    const Char* plain = text ? text : KeyEmit<Char>::Empty();
    const int n = EncryptWith(oem, algo2, plain, static_cast<Char*>(nullptr), 0);
    if (n > 0) {
        std::unique_ptr<Char[]> hex(new (std::nothrow) Char[static_cast<size_t>(n) + 1]);
        // The size query may over-estimate; the text ends where the written count says.
        const int written = hex ? EncryptWith(oem, algo2, plain, hex.get(), n + 1) : 0;
        if (written > 0 && written <= n) {
            hex[written] = 0;
            result = DefaultSetup<Char>(keyword, hex.get(), templ, false, buffer, size);
        }
    }
    ReleaseOEMInterface(nullptr, path.get(), oem);
    return result;
}

struct SetupRow {
    int word;
    bool encrypt;
};
constexpr SetupRow kSetupRows[] = {
    {QV_PROP_ENCRYPTFLAG, true},
    {QV_PROP_MEMBERFLAG, false},
    {QV_PROP_RESUMEFLAG, false},
    {QV_PROP_TIMETOPRINT, false},
};
}  // namespace

int CKeyNoteSetting::DefaultSetupA(const char* keyword, const char* value, const char* templ, bool noSetup,
                                   char* buffer, unsigned size) {
    return DefaultSetup<char>(keyword, value, templ, noSetup, buffer, size);
}

int CKeyNoteSetting::DefaultSetupW(const wchar_t* keyword, const wchar_t* value, const wchar_t* templ, bool noSetup,
                                   wchar_t* buffer, unsigned count) {
    return DefaultSetup<wchar_t>(keyword, value, templ, noSetup, buffer, count);
}

template <class Char>
int CKeyNoteSetting::EmitSetup(CDrvState* state, const wchar_t* keyword, const wchar_t* noteText, Char* buffer,
                               unsigned size) const {
    using E = KeyEmit<Char>;
    CBaseSoup* soup = DrvStateSoup(state);
    const COptionUtil util(soup, DrvStateKeyForest(state));
    if (!util.IsValid() || !keyword || !*keyword) return 0;
    const wchar_t* templ = soup->GetString(invocationTemplateId);
    const UINT codePage = GetSetupCodePage(state);
    const typename E::Text k = E::From(keyword, DrvStateOutputCodePage(state));
    const typename E::Text v = E::From(noteText ? noteText : L"", codePage);
    const typename E::Text t = E::From(templ ? templ : L"", codePage);
    if (!k || !v || !t) return 0;
    for (const SetupRow& row : kSetupRows) {
        if (!KeyLists(util, soup, GetKeyId(), row.word)) continue;
        return row.encrypt ? EncryptingSetup<Char>(state, k.get(), v.get(), t.get(), buffer, size) : 0;
    }
    const bool noSetup = util.IsValueListed(soup->GetPropertySlot(QV_PROP_PPXFLAGS, true), GetKeyId(),
                                            soup->GetPropertySlot(QV_PROP_NOSETUPTXT, true));
    return DefaultSetup<Char>(k.get(), v.get(), t.get(), noSetup, buffer, size);
}

int CKeyNoteSetting::GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const {
    return EmitSetup<wchar_t>(state, SoupString(DrvStateSoup(state), GetKeyId()), text.c_str(), buffer, count);
}

int CKeyNoteSetting::GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const {
    return EmitSetup<char>(state, SoupString(DrvStateSoup(state), GetKeyId()), text.c_str(), buffer, size);
}

template int CKeyNoteSetting::EmitSetup<char>(CDrvState*, const wchar_t*, const wchar_t*, char*, unsigned) const;
template int CKeyNoteSetting::EmitSetup<wchar_t>(CDrvState*, const wchar_t*, const wchar_t*, wchar_t*,
                                                 unsigned) const;

// ---------------------------------------------------------------------------------
// Map export and the user-authentication entries.

namespace {
// Overwrites an entry's text before it goes: names and passwords must not linger.
void WipeAndErase(SettingMap& map, const wchar_t* name) {
    const auto it = map.find(name);
    if (it == map.end()) return;
    std::fill(it->second.begin(), it->second.end(), L'\0');
    map.erase(it);
}

const wchar_t* MapText(const SettingMap& map, const wchar_t* name) {
    const auto it = map.find(name);
    return it != map.end() ? it->second.c_str() : nullptr;
}

// The packed credentials, or empty.
std::wstring PackCredentials(const SettingMap& map, CfgSettings* settings) {
    const wchar_t* port = MapText(map, L"*LDAP_port");
    const wchar_t* server = MapText(map, L"*LDAP_server");
    if (!port || !server) return std::wstring();
    const WText path(MakeUATModulePath(GetCfgSettingsPPDPath(settings)));
    if (!path) return std::wstring();
    CUATInterface* uat = AcquireUATInterface(nullptr, path.get());
    if (!uat) return std::wstring();
    SecretAText packed;
    const wchar_t* windows = MapText(map, L"*TQUserAuthWindows");
    const wchar_t* guest = MapText(map, L"*TQUserAuthGuest");
    const wchar_t* name = MapText(map, L"*QVUserAuthName");
    const wchar_t* password = MapText(map, L"*QVUserAuthPwd");
    if (windows && std::wcscmp(windows, L"True") == 0)
        packed.reset(PackWindowsUserCredentials(uat, server, port));
    else if (guest && std::wcscmp(guest, L"True") == 0)
        packed.reset(PackNamedUserCredentials(uat, server, port, L"guest"));
    else if (name && password)
        packed.reset(PackUserCredentials(uat, server, port, name, password, false));
    ReleaseUATInterface(nullptr, path.get(), uat);
    if (!packed) return std::wstring();
    const StrUtil<wchar_t, char> wide(packed.get(), kUtf8CodePage);
    return wide.Get() ? std::wstring(wide.Get()) : std::wstring();
}

std::wstring MakeDomainTag(CfgSettings* settings) {
    SecretWText user;
    const WText path(MakeUATModulePath(GetCfgSettingsPPDPath(settings)));
    if (path) {
        CUATInterface* uat = AcquireUATInterface(nullptr, path.get());
        if (uat) {
            user.reset(GetCurrentUserName());
            ReleaseUATInterface(nullptr, path.get(), uat);
        }
    }
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &size)) computer[0] = L'\0';
    std::wstring domain, marker;
    LPBYTE info = nullptr;
    if (NetWkstaUserGetInfo(nullptr, 1, &info) == NERR_Success && info) {
        const WKSTA_USER_INFO_1* w = reinterpret_cast<const WKSTA_USER_INFO_1*>(info);
        if (w->wkui1_logon_domain) domain = w->wkui1_logon_domain;
        if (domain == computer) marker = L"_LOCAL_";
    } else {
        domain = computer;
        if (computer[0]) marker = L"_LOCAL_";
    }
    if (info) NetApiBufferFree(info);
    std::wstring tag = domain + marker;
    if (user && user[0]) {
        tag += L"_USER_";
        tag += user.get();
    }
    return tag;
}
}  // namespace

void CKeyNoteSetting::AddToMap(SettingMap& map, CfgSettings* settings) const {
    const wchar_t* keyword = SoupString(GetCfgSettingsSoup(settings), GetKeyId());
    if (!keyword) return;
    try {
        if (std::wcscmp(keyword, L"*QVUserAuthTag") == 0) {
            map[L"VYRUATag"] = PackCredentials(map, settings);
            WipeAndErase(map, L"*QVUserAuthName");
            WipeAndErase(map, L"*QVUserAuthPwd");
        } else if (std::wcscmp(keyword, L"*VYRDomainTag") == 0) {
            map[keyword] = MakeDomainTag(settings);
        } else {
            map[keyword] = text;
        }
    } catch (const std::bad_alloc&) {
    }
}
