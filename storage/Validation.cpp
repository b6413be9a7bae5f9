// Settings validation and conflict messages (see Validation.h).
#include "storage/Validation.h"

#include <atomic>
#include <cwchar>
#include <memory>
#include <string>

#include "foundation/StrUtil.h"
#include "settings/ConstraintResolver.h"
#include "settings/KeyUtility.h"
#include "settings/OptionUtil.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"

namespace {

int DefaultMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return MessageBoxW(owner, text, caption, type);
}

std::atomic<ValidationMessageBoxFn> g_messageBox{&DefaultMessageBox};

const wchar_t kCaption[] = L"Before you continue...";
const wchar_t kOpening[] =
    L"In order to make sure the %s layout configuration behaves correctly when you print,\nthe following changes are "
    L"needed:\n\n";
const wchar_t kChangeLine[] = L"%s needs to be changed from \"%s\" to \"%s\" .\n";
const wchar_t kClosing[] = L"\nClick on OK to accept these changes.\nClicking on Cancel will restore your previous settings\n";
const wchar_t kRefusalCaption[] = L"Sorry, this selection can't be made.";
const wchar_t kRefusalOne[] =
    L"Unfortunately this selection can't be made right now.\nThis is because %s is set to : \"%s\", and cannot be "
    L"changed here.\nIt's likely that %s is an accessory that has not been installed.";
const wchar_t kRefusalMany[] = L"Unfortunately this selection can't be made right now.\nThis is because :\n";
const wchar_t kRefusalItem[] = L"%s is currently set to %s ";
const wchar_t kRefusalLast[] = L".\nThese settings cannot be currently changed.\n ";
const wchar_t kRefusalSeparator[] = L",\n";

constexpr unsigned kMessageChars = 8192;
constexpr unsigned kLineChars = 512;

// Appends text to a fixed buffer, cut to what is left of it.
void Append(wchar_t* buffer, unsigned size, const wchar_t* text) {
    size_t used = StrLen(buffer);
    if (!text || used + 1 >= size)
        return;
    StrNCopy(buffer + used, size - used, text, StrLen(text));
}

const wchar_t* OrEmpty(const wchar_t* text) { return text ? text : L""; }

// The conversion letters of a format, each with its size prefix (h, l, ll, I64...).
std::wstring Conversions(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; p && *p; ++p) {
        if (*p != L'%')
            continue;
        ++p;
        if (*p == L'%')
            continue;
        while (*p && std::wcschr(L"-+ #0123456789.*", *p))
            ++p;
        std::wstring conversion;
        while (*p && std::wcschr(L"hlLIwjzt3264", *p))
            conversion += *p++;
        if (!*p)
            return out + L"?";
        conversion += *p;
        out += conversion + L"|";
    }
    return out;
}

}  // namespace

ValidationMessageBoxFn SetValidationMessageBox(ValidationMessageBoxFn fn) noexcept {
    return g_messageBox.exchange(fn ? fn : &DefaultMessageBox);
}

bool FormatConversionsMatch(const wchar_t* format, const wchar_t* reference) noexcept {
    if (!format || !reference)
        return false;
    try {
        return Conversions(format) == Conversions(reference);
    } catch (...) {
        return false;
    }
}

CDrvStateUtility::CDrvStateUtility(CDrvState* state) noexcept
    : m_valid(state != nullptr), m_state(state), m_soup(state ? state->GetSoup() : nullptr) {}

CValidationUtility::CValidationUtility(CDrvState* state, OptionForest* keyForest, ConstraintForest* constraints,
                                       HMODULE module) noexcept
    : CDrvStateUtility(state), m_constraints(constraints), m_keyForest(keyForest),
      m_module(module ? module : GetModuleHandleW(nullptr)) {}

void CValidationUtility::LoadText(UINT id, const wchar_t* builtIn, wchar_t* out, unsigned size) const noexcept {
    if (!out || !size)
        return;
    out[0] = L'\0';
    if (m_module && LoadStringW(m_module, id, out, static_cast<int>(size)) > 0 && FormatConversionsMatch(out, builtIn))
        return;
    StrCopy(out, size, builtIn);
}

void CValidationUtility::ReleaseHoldDuringMessages(const wchar_t* ppdPath, CfgSettings** held) noexcept {
    m_holdPath = ppdPath;
    m_held = held;
}

int CValidationUtility::ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    const bool release = m_holdPath && m_held && *m_held;
    if (release) {
        ReleaseCfgSettings(m_holdPath, *m_held);
        *m_held = nullptr;
    }
    const int answer = g_messageBox.load()(owner, text, caption, type);
    if (release)
        *m_held = AcquireCfgSettings(m_holdPath);
    return answer;
}

KVCache CValidationUtility::ResolveChanges(const KVCache* changed, HWND owner) {
    KVCache result;
    if (!m_valid || !changed || !m_keyForest || !m_soup)
        return result;
    KVCache* current = m_state->GetCurrentSettings();
    std::unique_ptr<OptionForest> clone(m_keyForest->Clone());
    if (!clone || !current)
        return result;

    // The user's own keys: the resolver never proposes other values for them.
    for (auto it = changed->Begin(); it != changed->End(); ++it) {
        const CKeySetting* setting = changed->GetAt(it);
        if (!setting)
            continue;
        const CKeySetting* now = current->Find(setting->GetKeyId());
        if (!now || *now != *setting)
            if (CKeyData* data = clone->GetData(setting->GetKeyId()))
                data->SetChanged(1);
    }

    KVCache work;
    for (auto it = changed->Begin(); it != changed->End(); ++it)
        if (const CKeySetting* setting = changed->GetAt(it)) {
            CKeyOldSetting old(setting->GetKeyId(), setting->GetValueId());
            work.Set(&old);
        }
    ConstraintForest none;
    CConstraintResolver resolver(current, m_constraints ? m_constraints : &none, clone.get());
    ResultForest conflicts;
    bool resolved = resolver.Resolve(&work, &conflicts, true) != 0;

    if (resolved) {
        CKeySettingsUtility utility(m_state);
        for (auto it = work.Begin(); it != work.End(); ++it) {
            const CKeySetting* entry = work.GetAt(it);
            if (!entry)
                continue;
            const CKeySetting* asked = changed->Find(entry->GetKeyId());
            if (asked && asked->GetValueId() == entry->GetValueId())
                continue;
            std::unique_ptr<CKeySetting> real(utility.CloneOptionSetting(entry->GetKeyId(), entry->GetValueId()));
            if (!real)
                continue;
            const CKeySetting* now = current->Find(entry->GetKeyId());
            if (!now || *now != *real)
                result.Set(real.get());
        }
        ConfirmAndApply(changed, result, owner);
    } else {
        for (auto it = conflicts.Begin(); it != conflicts.End(); ++it)
            if (const CKeySetting* now = current->Find(it->first))
                result.Set(now);
        Refuse(result, owner);
    }
    return result;
}

bool CValidationUtility::ConfirmAndApply(const KVCache* changed, const KVCache& result, HWND owner) {
    if (result.GetCount() > 0) {
        wchar_t caption[128], opening[1024], line[kLineChars], closing[512];
        LoadText(105, kCaption, caption, 128);
        LoadText(106, kOpening, opening, 1024);
        LoadText(107, kChangeLine, line, kLineChars);
        LoadText(109, kClosing, closing, 512);
        std::unique_ptr<wchar_t[]> message(new wchar_t[kMessageChars]());
        FormatToBuffer(message.get(), kMessageChars, opening, L"Driver");
        COptionUtil names(m_soup, m_keyForest);
        KVCache* current = m_state->GetCurrentSettings();
        for (auto it = result.Begin(); it != result.End(); ++it) {
            const CKeySetting* proposed = result.GetAt(it);
            if (!proposed)
                continue;
            const CKeySetting* now = current->Find(proposed->GetKeyId());
            wchar_t text[kLineChars] = {};
            FormatToBuffer(text, kLineChars, line, OrEmpty(names.GetKeyDisplayName(proposed->GetKeyId())),
                           OrEmpty(now ? names.GetOptionDisplayName(now->GetKeyId(), now->GetValueId()) : nullptr),
                           OrEmpty(names.GetOptionDisplayName(proposed->GetKeyId(), proposed->GetValueId())));
            Append(message.get(), kMessageChars, text);
        }
        Append(message.get(), kMessageChars, closing);
        if (ShowMessage(owner, message.get(), caption, MB_OKCANCEL) != IDOK)
            return false;
    }
    m_state->UpdateValues(changed);
    m_state->UpdateValues(&result);
    return true;
}

void CValidationUtility::Refuse(const KVCache& result, HWND owner) {
    std::unique_ptr<wchar_t[]> message(new wchar_t[kMessageChars]());
    COptionUtil names(m_soup, m_keyForest);
    if (result.GetCount() == 1) {
        const CKeySetting* only = result.GetAt(result.Begin());
        const wchar_t* key = OrEmpty(names.GetKeyDisplayName(only->GetKeyId()));
        FormatToBuffer(message.get(), kMessageChars, kRefusalOne, key,
                       OrEmpty(names.GetOptionDisplayName(only->GetKeyId(), only->GetValueId())), key);
    } else {
        StrCopy(message.get(), kMessageChars, kRefusalMany);
        size_t index = 0;
        for (auto it = result.Begin(); it != result.End(); ++it, ++index) {
            const CKeySetting* setting = result.GetAt(it);
            wchar_t text[kLineChars] = {};
            FormatToBuffer(text, kLineChars, kRefusalItem, OrEmpty(names.GetKeyDisplayName(setting->GetKeyId())),
                           OrEmpty(names.GetOptionDisplayName(setting->GetKeyId(), setting->GetValueId())));
            Append(message.get(), kMessageChars, text);
            Append(message.get(), kMessageChars, index + 1 < result.GetCount() ? kRefusalSeparator : kRefusalLast);
        }
        size_t length = StrLen(message.get());
        while (length > 0 && std::wcschr(L" \n,", message[length - 1]))
            message[--length] = L'\0';
    }
    ShowMessage(owner, message.get(), kRefusalCaption, MB_OK);
}

bool ValidateChangedSettings(CDrvState* state, const wchar_t* ppdPath, HMODULE module, const KVCache* changed,
                             HWND owner) noexcept {
    if (!state || !ppdPath || !changed)
        return false;
    // The forests of the state's own generation: its slot ids are the ones the state uses, and
    // the state keeps them alive while the hold is given back during a message box.
    StateSettingsHold settings(state, ppdPath);
    if (!settings.Get())
        return false;
    try {
        CValidationUtility utility(state, settings.Get()->GetKeyForest(), settings.Get()->GetConstraints(true), module);
        utility.ReleaseHoldDuringMessages(settings.GetPath(), settings.Held());
        return utility.ResolveChanges(changed, owner).GetCount() == 0;
    } catch (...) {
        return false;
    }
}
