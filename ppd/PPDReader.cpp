// The PPD statement reader: one line (or several, for a quoted value) of PPD
// text into a PPDStatement, including the maker's "*%" extension lines.
#include <cwchar>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "ppd/PPDCharClass.h"
#include "ppd/PPDSettings.h"

namespace PPDParser {

namespace {

struct ExtensionPrefix {
    int group;
    const wchar_t* prefix;
    size_t prefixLength;
    const wchar_t* replacement;
    size_t replacementLength;
};

#define PPD_PREFIX(g, p, r) {g, p, sizeof(p) / sizeof(wchar_t) - 1, r, sizeof(r) / sizeof(wchar_t) - 1}
// Searched in this order; the first match wins.
constexpr ExtensionPrefix kExtensionPrefixes[] = {
    PPD_PREFIX(4, L"*%PS_Default", L"*Default"),
    PPD_PREFIX(4, L"*%PS_", L"*"),
    PPD_PREFIX(4, L"*%DM_Default", L"*Default"),
    PPD_PREFIX(4, L"*%DM_", L"*"),
    PPD_PREFIX(6, L"*%VYRUI_", L"*"),
    PPD_PREFIX(6, L"*%VYRUI_Default", L"*Default"),
    PPD_PREFIX(7, L"*%VYRNONUI_", L"*"),
    PPD_PREFIX(7, L"*%VYRNONUI_Default", L"*Default"),
    PPD_PREFIX(0, L"*%Range", L"*Range"),
    PPD_PREFIX(0, L"*%UnitRange", L"*UnitRange"),
    PPD_PREFIX(0, L"*%FloatRange", L"*FloatRange"),
    PPD_PREFIX(0, L"*%JobNote", L"*JobNote"),
    PPD_PREFIX(0, L"*%MixedMedia", L"*MixedMedia"),
};
#undef PPD_PREFIX

constexpr int kReadLimit = 256;
constexpr unsigned kLineChars = 258;

wchar_t* SkipBlanks(wchar_t* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

// Lines are read into the arena with this many characters of room past their
// terminator, so that a scan may look eight characters at a time.
constexpr unsigned kScanSlack = 8;

// The first character at or after p that is NUL, CR, LF or Extra (NUL: none besides
// those): IsLineEnd, and with "/" IsSlashOrLineEnd, with '"' IsQuoteEnd. Every scan of a
// line stops at its terminator at the latest.
template <wchar_t Extra>
wchar_t* ScanToLineEndOr(wchar_t* p) {
#ifdef __SSE2__
    static_assert(sizeof(wchar_t) == 2, "UTF-16 wide characters");
    const __m128i zero = _mm_setzero_si128();
    const __m128i cr = _mm_set1_epi16(L'\r'), lf = _mm_set1_epi16(L'\n'), extra = _mm_set1_epi16(Extra);
    for (;; p += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hits = _mm_or_si128(_mm_cmpeq_epi16(v, zero), _mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf)));
        if (Extra) hits = _mm_or_si128(hits, _mm_cmpeq_epi16(v, extra));
        const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (bits) return p + (__builtin_ctz(bits) >> 1);
    }
#else
    while (*p && *p != L'\r' && *p != L'\n' && (!Extra || *p != Extra)) ++p;
    return p;
#endif
}

wchar_t* FindLineEnd(wchar_t* p) { return ScanToLineEndOr<0>(p); }

// Rewrites an extension line so that it starts at the replacement; returns the
// statement start and the prefix group, or null when no prefix matches.
wchar_t* MatchExtensionPrefix(wchar_t* line, size_t length, int* group) {
    for (const ExtensionPrefix& row : kExtensionPrefixes) {
        if (length < row.prefixLength || wmemcmp(line, row.prefix, row.prefixLength) != 0) continue;
        wchar_t* start = line + row.prefixLength - row.replacementLength;
        wmemcpy(start, row.replacement, row.replacementLength);
        *group = row.group;
        return start;
    }
    return nullptr;
}

}  // namespace

PPDText CPPDSettings::ArenaText(const wchar_t* text, size_t length) {
    wchar_t* copy = m_arena.AllocText(length + 1);
    wmemcpy(copy, text, length);
    copy[length] = 0;
    return PPDText(copy, length);
}

void CPPDSettings::AppendValue(PPDStatement* s, const wchar_t* from, const wchar_t* to) {
    const size_t length = static_cast<size_t>(to - from);
    if (!m_valueSet) {
        s->value = PPDText(from, length);
        m_valueSet = true;
        return;
    }
    SpillValue(s);
    m_valueText.append(from, length);
}

void CPPDSettings::SpillValue(PPDStatement* s) {
    if (m_valueSpilled) return;
    m_valueText.assign(s->value.data(), s->value.size());
    s->value = PPDText();
    m_valueSpilled = true;
}

wchar_t* CPPDSettings::ReadLineText(CBaseIO* stream, int* lineBytes) {
    wchar_t* room = m_arena.TextRoom(kLineChars + kScanSlack);
    return stream->ReadLine(room, kLineChars, kReadLimit, lineBytes, m_codePage) ? room : nullptr;
}

void CPPDSettings::TerminateTexts(PPDStatement* s) {
    // Each view ends at a delimiter of its line (or at a text that already ends there),
    // never inside another text, so its terminator can be written once all are found.
    for (PPDText* t : {&s->keyword, &s->baseKeyword, &s->option, &s->optionTranslation, &s->value,
                       &s->valueTranslation})
        if (t->data() != PPDText::kEmpty) const_cast<wchar_t*>(t->data())[t->size()] = 0;
}

bool CPPDSettings::ReadStatement(CBaseIO* stream, PPDStatement** out) {
    if (!out) return false;
    *out = nullptr;
    if (!stream) return false;
    const unsigned offset = stream->GetOffset();
    int lineBytes = 0;
    // The line is read into the arena; it is kept only when it holds a statement, whose
    // texts then point into it.
    wchar_t* line = ReadLineText(stream, &lineBytes);
    if (!line) return true;
    if (lineBytes < 2 || line[0] != L'*') return true;

    wchar_t* start = line;
    int prefixGroup = 0;
    if (line[1] == L'%') {
        const size_t length = wcslen(line);
        start = MatchExtensionPrefix(line, length, &prefixGroup);
        if (!start) {
            // Other "*%" lines: a comment when short or when a blank follows,
            // else a statement of the text after "*%".
            if (lineBytes < 3 || length < 3 || IsBlank(line[2])) return true;
            line[1] = L'*';
            start = line + 1;
            prefixGroup = 7;
        }
    }
    m_arena.TakeText(stream->LastLineChars() + 1);

    // The keyword is hashed for the table look-up while its end is found.
    wchar_t* end = start;
    uint32_t hash = kKeywordHashSeed;
    while (!IsKeywordEnd(*end)) hash = FoldKeywordHash(hash, *end++);
    const wchar_t endChar = *end;
    *end = 0;
    PPDStatement* statement = NewStatement(offset, PPDText(start, static_cast<size_t>(end - start)), hash);
    m_valueSet = false;
    m_valueSpilled = false;
    // After a terminator there is nothing more to read.
    wchar_t* rest = endChar ? end + 1 : end;

    bool ok = true;
    const PPDKeywordRow* row = statement->row;
    const bool rangeParser = row && row->valueType == kValueRange;
    if (row && row->valueType == kValueKeyText) {
        AppendValue(statement, rest, FindLineEnd(rest));
        ++statement->valueCount;
        statement->valueType = kValueKeyText;
    } else if (endChar == L':') {
        ok = ParseValue(statement, rest, stream, rangeParser);
    } else if (IsLineEnd(endChar)) {
        statement->valueType = kValueNone;
    } else {
        ok = ParseOption(statement, rest, stream, rangeParser);
    }
    if (!ok) {
        DropStatement(statement);
        return false;
    }
    if (m_valueSpilled) statement->value = ArenaText(m_valueText.data(), m_valueText.size());
    TerminateTexts(statement);
    if (statement->group == 0) statement->group = prefixGroup;
    *out = statement;
    return true;
}

PPDText CPPDSettings::OptionText(const wchar_t* text, const wchar_t* end) {
    const size_t length = static_cast<size_t>(end - text);
    if (!wmemchr(text, L'<', length)) return PPDText(text, length);
    m_hexText.clear();
    DecodeHexSubstrings(text, length, m_codePage, &m_hexText);
    return ArenaText(m_hexText.data(), m_hexText.size());
}

bool CPPDSettings::ParseOption(PPDStatement* s, wchar_t* text, CBaseIO* stream, bool rangeParser) {
    wchar_t* end = SkipBlanks(text);
    while (!IsOptionEnd(*end)) ++end;
    wchar_t* stop = end;
    wchar_t* translation = nullptr;
    wchar_t* translationEnd = nullptr;
    if (*end == L'/') {
        translation = end + 1;
        translationEnd = translation;
        while (!IsTranslationEnd(*translationEnd)) ++translationEnd;
        stop = translationEnd;
    }
    if (*stop != L':') return true;  // no option stored; the value type stays unread
    s->option = OptionText(text, end);
    if (translation) s->optionTranslation = OptionText(translation, translationEnd);
    wchar_t* next = stop + 1;
    if (IsLineEnd(*next)) {
        s->valueType = kValueNone;
        return true;
    }
    return ParseValue(s, next, stream, rangeParser);
}

bool CPPDSettings::ParseValue(PPDStatement* s, wchar_t* text, CBaseIO* stream, bool rangeParser) {
    wchar_t* p = SkipBlanks(text);
    if (IsLineEnd(*p)) return true;
    if (rangeParser) return ParseRange(s, p, stream);
    if (*p == L'"') {
        if (!ParseQuoted(s, p + 1, stream)) return false;
        s->valueType = (s->HasOption() || s->prefixKind == kPrefixQuery) ? kValueQuotedWithOption : kValueQuoted;
        return true;
    }
    if (*p == L'^') {
        AppendValue(s, p + 1, FindLineEnd(p + 1));
        ++s->valueCount;
        s->valueType = kValueSymbol;
        return true;
    }
    wchar_t* end = p;
    end = ScanToLineEndOr<L'/'>(end);
    // Trailing blanks are not part of a plain value: "*DefaultX: Value " must
    // still name the option Value.
    wchar_t* valueEnd = end;
    while (valueEnd > p && IsBlank(valueEnd[-1])) --valueEnd;
    AppendValue(s, p, valueEnd);
    ++s->valueCount;
    if (*end == L'/') {
        wchar_t* lineEnd = FindLineEnd(end + 1);
        s->valueTranslation = PPDText(end + 1, static_cast<size_t>(lineEnd - end - 1));
    }
    s->valueType = kValueString;
    return true;
}

bool CPPDSettings::ParseQuoted(PPDStatement* s, wchar_t* text, CBaseIO* stream) {
    wchar_t* p = text;
    for (;;) {
        wchar_t* q = p;
        q = ScanToLineEndOr<L'"'>(q);
        if (*q == L'"') {
            AppendValue(s, p, q);
            ++s->valueCount;
            wchar_t* after = SkipBlanks(q + 1);
            if (*after == L'/') {
                wchar_t* lineEnd = FindLineEnd(after + 1);
                s->valueTranslation = PPDText(after + 1, static_cast<size_t>(lineEnd - after - 1));
                return true;
            }
            return IsLineEnd(*after);  // other text after the closing quote is an error
        }
        // The value goes on: keep the rest of this line with its break (up to the line's
        // terminator); the pieces are gathered apart from the lines.
        wchar_t* lineEnd = q;
        while (*lineEnd) ++lineEnd;
        AppendValue(s, p, lineEnd);
        ++s->valueCount;
        SpillValue(s);
        int lineBytes = 0;
        wchar_t* next = ReadLineText(stream, &lineBytes);
        if (!next) return false;
        m_arena.TakeText(stream->LastLineChars() + 1);  // a translation may follow the quote
        p = next;
    }
}

bool CPPDSettings::ParseRange(PPDStatement* s, wchar_t* text, CBaseIO* stream) {
    wchar_t* end = text;
    while (!IsColonOrLineEnd(*end)) ++end;
    if (*end != L':') {
        AppendValue(s, text, end);
        ++s->valueCount;
        return true;  // no ":" - the value type stays unread
    }
    AppendValue(s, text, end + 1);
    ++s->valueCount;
    if (!ParseValue(s, end + 1, stream, false)) return false;
    if (s->valueType == kValueQuotedWithOption) s->valueType = kValueRange;
    return true;
}

}  // namespace PPDParser
