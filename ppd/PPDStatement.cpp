// PPD statements: classification by keyword, prefix stripping, hex substrings
// and include paths.
#include "ppd/PPDStatement.h"

#include <cstdlib>
#include <cwchar>

namespace PPDParser {

namespace {

struct PrefixRow {
    const wchar_t* prefix;
    size_t length;
    int kind;
};

// Searched in this order; the first match wins.
constexpr PrefixRow kPrefixes[] = {
    {L"*?", 2, kPrefixQuery},
    {L"*Default", 8, kPrefixDefault},
    {L"*Param", 6, kPrefixParam},
};

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

}  // namespace

size_t KeywordPrefixLength(std::wstring_view keyword, int* kind) {
    // Every prefix starts "*?", "*D" or "*P": most keywords are out after one look.
    const wchar_t second = keyword.size() >= 2 && keyword[0] == L'*' ? keyword[1] : 0;
    if (second == L'?' || second == L'D' || second == L'P') {
        for (const PrefixRow& p : kPrefixes) {
            if (keyword.substr(0, p.length) == std::wstring_view(p.prefix, p.length)) {
                if (kind) *kind = p.kind;
                return p.length;
            }
        }
    }
    if (kind) *kind = kPrefixNone;
    return 0;
}

std::wstring StripKeywordPrefix(std::wstring_view keyword, int* kind) {
    const size_t n = KeywordPrefixLength(keyword, kind);
    if (!n) return std::wstring(keyword);
    std::wstring base = L"*";
    base.append(keyword.substr(n));
    return base;
}

size_t PPDStatement::Classify(uint32_t keywordHash, PPDText known, const PPDKeywordRow* knownRow) {
    const bool same = known.size() == keyword.size() && known.View() == keyword.View();
    row = same ? knownRow : CPPDStmtInfo::FindKeyword(keyword.c_str(), keywordHash);
    group = static_cast<int8_t>(row ? row->group : 0);
    int kind = kPrefixNone;
    const size_t length = KeywordPrefixLength(keyword, &kind);
    prefixKind = static_cast<int8_t>(kind);
    return length;
}

void DecodeHexSubstrings(const wchar_t* text, size_t length, UINT codePage, std::wstring* result) {
    if (!result) return;
    std::wstring& out = *result;
    if (!text) return;
    if (!wmemchr(text, L'<', length)) {
        out.append(text, length);
        return;
    }
    out.reserve(out.size() + length);
    size_t i = 0;
    while (i < length) {
        if (text[i] != L'<') {
            out.push_back(text[i++]);
            continue;
        }
        // A "<" without its ">" takes the rest of the text.
        size_t close = i + 1;
        while (close < length && text[close] != L'>') ++close;
        std::string bytes;
        int high = -1;
        for (size_t k = i + 1; k < close; ++k) {
            const int d = HexDigit(text[k]);
            if (d < 0) continue;  // blanks and line breaks inside are skipped
            if (high < 0) {
                high = d;
            } else {
                bytes.push_back(static_cast<char>(high * 16 + d));
                high = -1;
            }
        }
        const size_t zero = bytes.find('\0');
        if (zero != std::string::npos) bytes.resize(zero);  // the text stops at a zero byte
        if (!bytes.empty()) {
            const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
            if (n > 0) {
                const size_t at = out.size();
                out.resize(at + static_cast<size_t>(n));
                MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[at], n);
            }
        }
        i = close < length ? close + 1 : length;
    }
}

bool ResolveIncludePath(wchar_t* out, unsigned outSize, const wchar_t* includingPath, const wchar_t* includeName) {
    if (!out || outSize == 0) return false;
    out[0] = 0;
    if (!includeName || !*includeName) return false;
    // Every part must fit its split buffer: check the lengths first, so the C
    // runtime's bounds checks never fire.
    if (wcsnlen(includeName, 256) >= 256) return false;
    if (includingPath && wcsnlen(includingPath, 256) >= 256) return false;
    wchar_t drive[3] = {}, dir[256] = {}, name[256] = {}, ext[256] = {};
    if (_wsplitpath_s(includeName, drive, 3, dir, 256, name, 256, ext, 256) != 0) return false;
    if (!drive[0] && !dir[0] && includingPath && *includingPath) {
        wchar_t ignoreName[256], ignoreExt[256];
        if (_wsplitpath_s(includingPath, drive, 3, dir, 256, ignoreName, 256, ignoreExt, 256) != 0) return false;
    }
    wchar_t made[MAX_PATH];
    if (_wmakepath_s(made, MAX_PATH, drive, dir, name, ext) != 0) return false;
    const size_t n = wcslen(made);
    if (n >= outSize) return false;
    wmemcpy(out, made, n + 1);
    return true;
}

}  // namespace PPDParser
