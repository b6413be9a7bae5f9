// PPD character classes: the ten 128-entry tables that end keywords, options,
// translations, quoted texts, list items and range texts. The statement reader
// and the range and note keys of the settings model parse with them.
#pragma once

#include <cstdint>

namespace PPDParser {

// One class: 128 entries, 1 where an ASCII character belongs to the class.
struct PPDCharTable {
    uint8_t entry[128];
};

namespace detail {
constexpr PPDCharTable MakeCharTable(const char* members, bool withNul) {
    PPDCharTable t{};
    if (withNul) t.entry[0] = 1;
    for (const char* p = members; *p; ++p) t.entry[static_cast<unsigned char>(*p) & 0x7F] = 1;
    return t;
}
inline constexpr PPDCharTable kKeywordEnd = MakeCharTable("\t\n\r :", true);
inline constexpr PPDCharTable kOptionEnd = MakeCharTable("\t\n\r /:", true);
inline constexpr PPDCharTable kQuoteEnd = MakeCharTable("\n\r\"", true);
inline constexpr PPDCharTable kSlashOrLineEnd = MakeCharTable("\n\r/", true);
inline constexpr PPDCharTable kBlank = MakeCharTable("\t ", false);
inline constexpr PPDCharTable kListItemEnd = MakeCharTable("\t |", true);
inline constexpr PPDCharTable kLineEnd = MakeCharTable("\n\r", true);
inline constexpr PPDCharTable kColonOrLineEnd = MakeCharTable("\n\r:", true);
inline constexpr PPDCharTable kRangeTextEnd = MakeCharTable("\n\r):;", true);
inline constexpr PPDCharTable kTranslationEnd = MakeCharTable("\n\r:", true);

inline bool InTable(const PPDCharTable& t, wchar_t c) {
    const unsigned u = static_cast<unsigned>(c);
    return u < 128 && t.entry[u] != 0;
}
}  // namespace detail

// Table accessors, for callers that scan with their own loops.
inline const PPDCharTable& KeywordEndTable() { return detail::kKeywordEnd; }
inline const PPDCharTable& OptionEndTable() { return detail::kOptionEnd; }
inline const PPDCharTable& QuoteEndTable() { return detail::kQuoteEnd; }
inline const PPDCharTable& SlashOrLineEndTable() { return detail::kSlashOrLineEnd; }
inline const PPDCharTable& BlankTable() { return detail::kBlank; }
inline const PPDCharTable& ListItemEndTable() { return detail::kListItemEnd; }
inline const PPDCharTable& LineEndTable() { return detail::kLineEnd; }
inline const PPDCharTable& ColonOrLineEndTable() { return detail::kColonOrLineEnd; }
inline const PPDCharTable& RangeTextEndTable() { return detail::kRangeTextEnd; }
inline const PPDCharTable& TranslationEndTable() { return detail::kTranslationEnd; }

// NUL, TAB, LF, CR, space, ":"
inline bool IsKeywordEnd(wchar_t c) { return detail::InTable(detail::kKeywordEnd, c); }
// NUL, TAB, LF, CR, space, "/", ":"
inline bool IsOptionEnd(wchar_t c) { return detail::InTable(detail::kOptionEnd, c); }
// NUL, LF, CR, double quote
inline bool IsQuoteEnd(wchar_t c) { return detail::InTable(detail::kQuoteEnd, c); }
// NUL, LF, CR, "/"
inline bool IsSlashOrLineEnd(wchar_t c) { return detail::InTable(detail::kSlashOrLineEnd, c); }
// TAB, space. Both are white space to the C runtime in every locale, so the table alone
// decides (a runtime call per character would cost more than the scan).
inline bool IsBlank(wchar_t c) { return detail::InTable(detail::kBlank, c); }
// NUL, TAB, space, "|"
inline bool IsListItemEnd(wchar_t c) { return detail::InTable(detail::kListItemEnd, c); }
// NUL, LF, CR: control characters to the C runtime in every locale, so again the table decides.
inline bool IsLineEnd(wchar_t c) { return detail::InTable(detail::kLineEnd, c); }
// NUL, LF, CR, ":"
inline bool IsColonOrLineEnd(wchar_t c) { return detail::InTable(detail::kColonOrLineEnd, c); }
// NUL, LF, CR, ")", ":", ";"
inline bool IsRangeTextEnd(wchar_t c) { return detail::InTable(detail::kRangeTextEnd, c); }
// NUL, LF, CR, ":"
inline bool IsTranslationEnd(wchar_t c) { return detail::InTable(detail::kTranslationEnd, c); }

}  // namespace PPDParser
