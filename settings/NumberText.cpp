// Locale-independent number text.
#include "settings/NumberText.h"

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "foundation/Syncher.h"

namespace {
struct CLocale {
    CLocale() : locale(_create_locale(LC_ALL, "C")) {}
    CLocale(CLocale&& other) noexcept : locale(other.locale) { other.locale = nullptr; }
    ~CLocale() {
        if (locale) _free_locale(locale);
    }
    CLocale(const CLocale&) = delete;
    CLocale& operator=(const CLocale&) = delete;
    _locale_t locale;
};

_locale_t GetCLocale() {
    const CLocale& c = GuardedStatic<CLocale>::Get([] { return CLocale(); });
    return c.locale;
}

int Finish(int written, wchar_t* out, size_t count) {
    if (written < 0 || static_cast<size_t>(written) >= count) {
        out[count - 1] = L'\0';
        return -1;
    }
    return written;
}
}  // namespace

int FormatDoubleC(wchar_t* out, size_t count, const wchar_t* format, double value) {
    if (!out || !count || !format) return -1;
    _locale_t c = GetCLocale();
    if (!c) return -1;
    return Finish(_snwprintf_l(out, count, format, c, value), out, count);
}

int FormatDoubleC(wchar_t* out, size_t count, const wchar_t* format, int precision, double value) {
    if (!out || !count || !format) return -1;
    _locale_t c = GetCLocale();
    if (!c) return -1;
    return Finish(_snwprintf_l(out, count, format, c, precision, value), out, count);
}

double ParseDoubleC(const wchar_t* text) {
    if (!text) return 0;
    _locale_t c = GetCLocale();
    return c ? _wtof_l(text, c) : 0;
}

namespace {
// Length of a decimal number at p ([+-]digits[.digits][e[+-]digits], at least one
// digit before the exponent), 0 when there is none.
size_t NumberLength(const wchar_t* p) {
    size_t i = 0, digits = 0;
    if (p[i] == L'+' || p[i] == L'-') ++i;
    while (p[i] >= L'0' && p[i] <= L'9') ++i, ++digits;
    if (p[i] == L'.') {
        ++i;
        while (p[i] >= L'0' && p[i] <= L'9') ++i, ++digits;
    }
    if (!digits) return 0;
    if (p[i] == L'e' || p[i] == L'E') {
        size_t j = i + 1;
        if (p[j] == L'+' || p[j] == L'-') ++j;
        if (p[j] >= L'0' && p[j] <= L'9') {
            while (p[j] >= L'0' && p[j] <= L'9') ++j;
            i = j;
        }
    }
    return i;
}
}  // namespace

int ParseNumbersC(const wchar_t* text, double* values, int count, const wchar_t** rest) {
    if (rest) *rest = text;
    if (!text || !values) return 0;
    _locale_t c = GetCLocale();
    if (!c) return 0;
    int n = 0;
    const wchar_t* p = text;
    while (n < count) {
        const wchar_t* start = p;
        while (*start == L' ' || *start == L'\t') ++start;
        const size_t len = NumberLength(start);
        // A number must end at a blank or at the end of the text.
        if (!len || len > 63 || (start[len] && start[len] != L' ' && start[len] != L'\t')) break;
        wchar_t number[64];
        wmemcpy(number, start, len);
        number[len] = L'\0';
        values[n++] = _wtof_l(number, c);
        p = start + len;
    }
    if (rest) *rest = p;
    return n;
}
