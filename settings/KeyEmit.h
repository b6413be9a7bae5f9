// Helpers the setting keys share to write their code in either character width: the
// conversion of a key's texts into the job's code page, tag replacement, the feature
// wrapper, the size-query-then-fill copy, and blanking of control characters in
// text that goes into DSC comment lines.
#pragma once

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <climits>
#include <memory>
#include <new>
#include <type_traits>

#include "foundation/StrUtil.h"
#include "foundation/TemplateTag.h"
#include "settings/KeySetting.h"

template <class Char>
struct KeyEmit;

template <>
struct KeyEmit<char> {
    using Text = AText;
    // New 8-bit text in codePage (UTF-8 when it holds U+FEFF); null for null.
    static Text From(const wchar_t* text, UINT codePage) {
        if (!text) return nullptr;
        StrUtil<char, wchar_t> narrow(text, codePage);
        return Text(narrow.Detach());
    }
    static size_t Len(const char* text) { return text ? std::strlen(text) : 0; }
    static int Replace(const char* name, const char* value, const char* templ, char* out, int size, bool escape) {
        return ReplaceTemplateTagA(name, value, templ, out, size, escape);
    }
    static int Feature(const char* keyword, const char* option, const char* code, char* buffer, unsigned size) {
        return CKeyBaseSetting::FormatFeatureA(keyword, option, code, buffer, size);
    }
    static const char* Empty() { return ""; }
};

template <>
struct KeyEmit<wchar_t> {
    using Text = WText;
    static Text From(const wchar_t* text, UINT) { return Text(text ? StrDup(text) : nullptr); }
    static size_t Len(const wchar_t* text) { return text ? std::wcslen(text) : 0; }
    static int Replace(const wchar_t* name, const wchar_t* value, const wchar_t* templ, wchar_t* out, int size,
                       bool escape) {
        return ReplaceTemplateTag(name, value, templ, out, size, escape);
    }
    static int Feature(const wchar_t* keyword, const wchar_t* option, const wchar_t* code, wchar_t* buffer,
                       unsigned size) {
        return CKeyBaseSetting::FormatFeatureW(keyword, option, code, buffer, size);
    }
    static const wchar_t* Empty() { return L""; }
};

// Copies a terminated text out by the size-query rule: null buffer -> length + 1;
// buffer of at least length + 1 -> copied, length + 1; smaller -> 0.
template <class Char>
int CopyOutText(const Char* text, Char* buffer, unsigned size) {
    if (!text) return 0;
    const size_t needed = KeyEmit<Char>::Len(text) + 1;
    if (needed > INT_MAX) return 0;
    if (!buffer) return static_cast<int>(needed);
    if (size < needed) return 0;
    std::memcpy(buffer, text, needed * sizeof(Char));
    return static_cast<int>(needed);
}

// New text: templ with every "<name>" tag replaced by value; null on failure.
template <class Char>
typename KeyEmit<Char>::Text ReplaceTagAlloc(const Char* name, const Char* value, const Char* templ, bool escape) {
    const int n = KeyEmit<Char>::Replace(name, value, templ, nullptr, 0, escape);
    if (n <= 0) return nullptr;
    typename KeyEmit<Char>::Text out(new (std::nothrow) Char[n]);
    if (!out) return nullptr;
    if (KeyEmit<Char>::Replace(name, value, templ, out.get(), n, escape) <= 0) return nullptr;
    return out;
}

// In place: CR, LF and every other control character become blanks, so a text can
// never end a DSC comment line or start a new one.
template <class Char>
void BlankControlChars(Char* text) {
    if (!text) return;
    for (; *text; ++text) {
        const unsigned ch = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(*text));
        if (ch < 0x20 || ch == 0x7F) *text = static_cast<Char>(' ');
    }
}
