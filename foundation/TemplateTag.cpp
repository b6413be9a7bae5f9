// Template tags and PostScript string escaping, over wide and 8-bit text.
#include "foundation/TemplateTag.h"

#include <climits>
#include <cstring>
#include <cwchar>

#include "foundation/StrUtil.h"

namespace {

// 1 where the byte may stand unescaped in a PostScript string.
constexpr struct StringCharTable {
    unsigned char ok[128];
    constexpr StringCharTable() : ok() {
        for (unsigned c = 0x20; c <= 0x7E; ++c) ok[c] = 1;
        ok[static_cast<unsigned>('(')] = 0;
        ok[static_cast<unsigned>(')')] = 0;
        ok[static_cast<unsigned>('\\')] = 0;
    }
} kStringChars;

size_t Length(const wchar_t* text) { return wcslen(text); }
size_t Length(const char* text) { return strlen(text); }
const wchar_t* FindChar(const wchar_t* text, wchar_t ch) { return wcschr(text, ch); }
const char* FindChar(const char* text, char ch) { return strchr(text, ch); }
int Compare(const wchar_t* a, const wchar_t* b, size_t n) { return wcsncmp(a, b, n); }
int Compare(const char* a, const char* b, size_t n) { return strncmp(a, b, n); }

template <class C>
const C* FindTag(const C* name, const C* text) {
    if (!name || !text || !name[0]) return nullptr;
    const size_t nameLength = Length(name);
    for (const C* p = FindChar(text, C('<')); p; p = FindChar(p + 1, C('<'))) {
        if (!p[1]) return nullptr;
        if (Compare(p + 1, name, nameLength) == 0 && p[1 + nameLength] == C('>')) return p;
        // Resume right after this "<": it may be followed by the "<" of the tag.
    }
    return nullptr;
}

template <class C>
int EscapeBytes(const uint8_t* bytes, int count, C* out, unsigned outSize) {
    if (!bytes || count < 0) count = 0;
    if (!out) {
        size_t needed = 1;
        for (int i = 0; i < count; ++i) needed += IsPostScriptStringChar(bytes[i]) ? 1 : 4;
        return needed > INT_MAX ? 0 : static_cast<int>(needed);
    }
    size_t pos = 0;
    for (int i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (IsPostScriptStringChar(b)) {
            if (pos >= outSize) return 0;
            out[pos++] = static_cast<C>(b);
        } else {
            // An escape is written whole or not at all.
            if (outSize - pos < 5) return 0;
            out[pos] = C('\\');
            out[pos + 1] = static_cast<C>('0' + (b >> 6));
            out[pos + 2] = static_cast<C>('0' + ((b >> 3) & 7));
            out[pos + 3] = static_cast<C>('0' + (b & 7));
            pos += 4;
        }
    }
    if (pos >= outSize || pos >= INT_MAX) return 0;
    out[pos] = 0;
    return static_cast<int>(pos + 1);
}

int EscapeText(const wchar_t* text, wchar_t* out, unsigned outSize) { return EscapePostScriptText(text, out, static_cast<int>(outSize)); }
int EscapeText(const char* text, char* out, unsigned outSize) { return EscapePostScriptTextA(text, out, outSize); }

template <class C>
int ReplaceTag(const C* name, const C* value, const C* templ, C* out, int outSize, bool escape) {
    if (!name || !templ) return 0;
    if (out) {
        if (outSize <= 0) return 0;
        out[0] = 0;
    }
    const size_t tagLength = Length(name) + 2;
    size_t valueLength = value ? Length(value) : 0;
    const bool plain = valueLength == 0 || !escape;
    if (!plain) {
        const int escaped = EscapeText(value, static_cast<C*>(nullptr), 0);
        if (escaped <= 0) return 0;
        valueLength = static_cast<size_t>(escaped);
    }

    size_t total = 0;
    size_t remaining = out ? static_cast<size_t>(outSize) : 0;
    C* write = out;
    const C* rest = templ;
    for (;;) {
        const C* tag = FindTag(name, rest);
        const size_t segment = tag ? static_cast<size_t>(tag - rest) : Length(rest);
        const size_t valuePart = tag ? valueLength : 0;
        const size_t need = segment + valuePart;
        total += need;
        if (total >= INT_MAX) return 0;
        if (out) {
            if (need >= remaining) return 0;
            memcpy(write, rest, segment * sizeof(C));
            write += segment;
            remaining -= segment;
            *write = 0;
            if (tag && valueLength) {
                if (plain) {
                    memcpy(write, value, valueLength * sizeof(C));
                    write += valueLength;
                    remaining -= valueLength;
                    *write = 0;
                } else {
                    const int n = EscapeText(value, write, static_cast<unsigned>(remaining));
                    if (n <= 0) return 0;
                    write += n - 1;  // onto the terminator it wrote
                    remaining -= static_cast<size_t>(n - 1);
                }
            }
        }
        if (!tag) return static_cast<int>(total + 1);
        rest = tag + tagLength;
    }
}

}  // namespace

bool IsPostScriptStringChar(unsigned ch) noexcept { return ch < 128 && kStringChars.ok[ch] != 0; }

const wchar_t* FindTemplateTag(const wchar_t* name, const wchar_t* text) noexcept { return FindTag(name, text); }
const char* FindTemplateTagA(const char* name, const char* text) noexcept { return FindTag(name, text); }

int ReplaceTemplateTag(const wchar_t* name, const wchar_t* value, const wchar_t* templ, wchar_t* out, int outSize,
                       bool escape) noexcept {
    return ReplaceTag(name, value, templ, out, outSize, escape);
}

int ReplaceTemplateTagA(const char* name, const char* value, const char* templ, char* out, int outSize,
                        bool escape) noexcept {
    return ReplaceTag(name, value, templ, out, outSize, escape);
}

int EscapePostScriptBytes(const uint8_t* bytes, int count, wchar_t* out, unsigned outSize) noexcept {
    return EscapeBytes(bytes, count, out, outSize);
}

int EscapePostScriptBytesA(const uint8_t* bytes, int count, char* out, unsigned outSize) noexcept {
    return EscapeBytes(bytes, count, out, outSize);
}

int EscapePostScriptText(const wchar_t* text, wchar_t* out, int outSize) noexcept {
    if (!text || (out && outSize <= 0)) return 0;
    StrUtil<char, wchar_t> bytes(text);  // code page 3, UTF-8 when the text holds U+FEFF
    if (!bytes.Get() || bytes.Count() < 1) return 0;
    return EscapeBytes(reinterpret_cast<const uint8_t*>(bytes.Get()), bytes.Count() - 1, out,
                       static_cast<unsigned>(out ? outSize : 0));
}

int EscapePostScriptTextA(const char* text, char* out, unsigned outSize) noexcept {
    if (!text) return 0;
    const size_t length = strlen(text);
    if (length > INT_MAX / 4) return 0;
    return EscapeBytes(reinterpret_cast<const uint8_t*>(text), static_cast<int>(length), out, outSize);
}
