// The about page's texts.
#include "sheets/AboutTexts.h"

#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"
#include "foundation/TemplateTag.h"
#include "settings/KVCache.h"
#include "settings/KeySetting.h"
#include "settings/KeyUtility.h"
#include "settings/OptionUtil.h"
#include "sheets/TabProperties.h"
#include "storage/DrvState.h"

namespace {


wchar_t* CopyOf(const std::wstring& text) { return StrDup(text.c_str()); }

// The options of a key (by property id) in the state's key forest, or null.
std::list<COptData>* KeyOptions(CDrvState* state, int keyProperty, SoupSlotID* key)
{
    if (!state || !state->GetSoup()) return nullptr;
    *key = SoupPropertySlot(state->GetSoup(), keyProperty, true);
    if (key->IsInvalid()) return nullptr;
    COptionUtil options(state->GetSoup(), state->GetKeyForest());
    return options.IsValid() ? options.GetOptionList(*key) : nullptr;
}

// The display name and value of the current option of *QVAboutURL.
bool AboutUrlOption(CDrvState* state, const wchar_t** name, const wchar_t** value)
{
    *name = *value = nullptr;
    if (!state) return false;
    CKeySettingsUtility keys(state);
    if (!keys.IsValid()) return false;
    SoupSlotID key = SoupPropertySlot(state->GetSoup(), tabprop::kAboutURL, true);
    SoupSlotID option = keys.GetOptionByProp(tabprop::kAboutURL);
    if (key.IsInvalid() || option.IsInvalid()) return false;
    COptionUtil options(state->GetSoup(), state->GetKeyForest());
    if (!options.IsValid() || !options.GetOptionData(key, option)) return false;
    *name = options.GetOptionDisplayName(key, option);
    *value = options.GetOptionValue(key, option);
    return true;
}

bool IsHostChar(wchar_t ch)
{
    return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z') || (ch >= L'0' && ch <= L'9') || ch == L'.' ||
           ch == L'-' || ch == L':';
}

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    return _wcsnicmp(text, prefix, std::wcslen(prefix)) == 0;
}

}  // namespace

wchar_t* LoadStringFromModules(const HMODULE* modules, int count, UINT id, LANGID language, UINT codePage)
{
    if (!modules) return nullptr;
    for (int i = 0; i < count; ++i)
        if (modules[i])
            if (wchar_t* text = LoadStringResource(modules[i], id, language, codePage)) return text;
    return nullptr;
}

wchar_t* BuildAboutTitleText(const AboutStringLookup& lookup)
{
    return lookup ? lookup(kAboutTitleString) : nullptr;
}

wchar_t* BuildDriverInfoText(const AboutStringLookup& lookup, CDrvState* state, const wchar_t* configFile,
                             const wchar_t* resourceModulePath)
{
    if (!lookup) return nullptr;
    WText label1(lookup(kVersionLabelString)), label2(lookup(kCoreVersionLabelString)),
        label3(lookup(kPluginVersionLabelString)), label4(lookup(kResourceVersionLabelString)),
        pluginVersion(lookup(kPluginVersionString));
    if (!label1 || !label2 || !label3 || !label4 || !pluginVersion) return nullptr;
    try {
        std::wstring text = label1.get();
        SoupSlotID key;
        if (std::list<COptData>* options = KeyOptions(state, tabprop::kVersion, &key); options && !options->empty())
            if (const wchar_t* first = state->GetSoup()->GetString(options->front().GetValueId())) text += first;
        text += L'\n';
        text += label2.get();
        if (WText version{configFile ? GetFileVersionText(configFile, false) : nullptr}) text += version.get();
        text += L'\n';
        text += label3.get();
        text += pluginVersion.get();
        text += L'\n';
        text += label4.get();
        if (WText version{resourceModulePath ? GetFileVersionText(resourceModulePath, true) : nullptr})
            text += version.get();
        text += L'\n';
        return CopyOf(text);
    } catch (...) {
        return nullptr;
    }
}

wchar_t* BuildAboutLinkText(CDrvState* state)
{
    const wchar_t *name, *value;
    if (!AboutUrlOption(state, &name, &value) || !name) return nullptr;
    return FormatAlloc(L"%s", name);
}

wchar_t* ReplaceFirstPercentS(const wchar_t* value, const wchar_t* address)
{
    if (!value) return nullptr;
    try {
        std::wstring text = value;
        size_t at = text.find(L"%s");
        if (at != std::wstring::npos) text.replace(at, 2, address ? address : L"");
        return CopyOf(text);
    } catch (...) {
        return nullptr;
    }
}

wchar_t* BuildAboutLinkAddress(CDrvState* state)
{
    const wchar_t *name, *value;
    if (!AboutUrlOption(state, &name, &value) || !value) return nullptr;
    CKeySettingsUtility keys(state);
    return ReplaceFirstPercentS(value, keys.GetNoteTextByProp(tabprop::kIPAddress));
}

bool IsAboutLinkAllowed(const wchar_t* url, const wchar_t* insertedAddress)
{
    if (!url) return false;
    const wchar_t* host;
    if (StartsWithNoCase(url, L"http://"))
        host = url + 7;
    else if (StartsWithNoCase(url, L"https://"))
        host = url + 8;
    else
        return false;
    const wchar_t* end = host;
    while (*end && *end != L'/' && *end != L'?' && *end != L'#') ++end;
    if (end == host) return false;
    for (const wchar_t* p = host; p < end; ++p)
        if (!IsHostChar(*p)) return false;
    if (insertedAddress)
        for (const wchar_t* p = insertedAddress; *p; ++p)
            if (!IsHostChar(*p)) return false;
    return true;
}

bool IsAboutLinkEnabled(CDrvState* state, bool connected)
{
    if (!connected || !state) return false;
    const wchar_t *name, *value;
    if (!AboutUrlOption(state, &name, &value) || !value) return false;
    CKeySettingsUtility keys(state);
    const wchar_t* address = std::wcsstr(value, L"%s") ? keys.GetNoteTextByProp(tabprop::kIPAddress) : nullptr;
    WText url(ReplaceFirstPercentS(value, address));
    return url && IsAboutLinkAllowed(url.get(), address ? address : nullptr);
}

wchar_t* GetFileVersionText(const wchar_t* path, bool preferStrings)
{
    if (!path || !*path) return nullptr;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (!size) return nullptr;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return nullptr;
    if (preferStrings) {
        void* translation = nullptr;
        UINT length = 0;
        if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &translation, &length) && translation &&
            length >= 4) {
            const WORD* pair = static_cast<const WORD*>(translation);
            wchar_t query[64];
            FormatToBuffer(query, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", pair[0], pair[1]);
            void* text = nullptr;
            UINT chars = 0;
            if (VerQueryValueW(data.data(), query, &text, &chars) && text && chars > 0)
                return StrDup(static_cast<const wchar_t*>(text));
        }
    }
    void* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", &fixed, &length) || !fixed || length < sizeof(VS_FIXEDFILEINFO))
        return nullptr;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return FormatAlloc(L"%d.%d.%d.%d", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                       HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
}

wchar_t* ServerInfoLabels(CDrvState* state)
{
    SoupSlotID key;
    std::list<COptData>* options = KeyOptions(state, tabprop::kServerInfo, &key);
    if (!options || options->empty()) return nullptr;
    try {
        std::wstring text;
        for (COptData& option : *options) {
            SoupSlotID id = option.GetValueId();
            if (id.IsInvalid() || !state->GetDefaultSettings()->Find(id)) continue;
            const wchar_t* name = state->GetSoup()->GetString(option.GetDisplayNameId());
            text += name ? name : L"";
            text += L'\n';
        }
        return CopyOf(text);
    } catch (...) {
        return nullptr;
    }
}

wchar_t* FormatSettingText(CDrvState* state, CBaseSoup* soup, const CKeySetting* setting)
{
    if (!soup || !setting) return nullptr;
    unsigned count = setting->GetText(soup, nullptr, 0);
    if (!count) return nullptr;
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[count + 1]());
    if (!text || setting->GetText(soup, text.get(), count + 1) == 0) return nullptr;
    const wchar_t* value = text.get() + std::wcslen(text.get()) + 1;
    const wchar_t* keyword = soup->GetString(setting->GetKeyId());
    const auto* base = dynamic_cast<const CKeyBaseSetting*>(setting);
    const wchar_t* templ = base && state ? base->GetInvocationTemplate(state) : nullptr;
    if (templ && keyword) {
        int needed = ReplaceTemplateTag(keyword, value, templ, nullptr, 0, false);
        if (needed > 1) {
            std::unique_ptr<wchar_t[]> out(new (std::nothrow) wchar_t[needed]);
            if (out && ReplaceTemplateTag(keyword, value, templ, out.get(), needed, false) == needed && out[0])
                return out.release();
        }
    }
    return StrDup(value);
}

wchar_t* ComposeServerInfoText(CDrvState* state, const KVCache* answered)
{
    SoupSlotID key;
    std::list<COptData>* options = KeyOptions(state, tabprop::kServerInfo, &key);
    if (!options || !answered) return nullptr;
    try {
        std::wstring text;
        bool any = false;
        for (COptData& option : *options) {
            SoupSlotID id = option.GetValueId();
            CKeySetting* setting = id.IsValid() ? answered->Find(id) : nullptr;
            if (!dynamic_cast<CKeyBaseSetting*>(setting)) continue;
            WText line(FormatSettingText(state, state->GetSoup(), setting));
            if (line) text += line.get();
            text += L'\n';
            any = true;
        }
        return any ? CopyOf(text) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

wchar_t* QueryServerInfoText(CDrvState* state, const KVCache* defaults, const std::function<bool(KVCache*)>& fetch)
{
    if (!state || !defaults || !fetch) return nullptr;
    try {
        KVCache answered(*defaults);
        if (!fetch(&answered)) return nullptr;
        return ComposeServerInfoText(state, &answered);
    } catch (...) {
        return nullptr;
    }
}
