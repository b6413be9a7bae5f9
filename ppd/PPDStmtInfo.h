// PPD keyword table (ids, classes, value types, groups) and the language table
// that maps a *LanguageVersion to a locale code, language id and code page.
#pragma once

#include <windows.h>

#include <cstdint>

namespace PPDParser {

// Value types of a statement.
enum : int {
    kValueUnread = 0,
    kValueNone = 1,
    kValueString = 2,
    kValueQuoted = 3,
    kValueSymbol = 4,
    kValueQuotedWithOption = 5,
    kValueKeyText = 6,
    kValueRange = 7,
};

// Keyword ids the parser acts on.
enum : int {
    kIdOpenUI = 2,
    kIdCloseUI = 3,
    kIdOpenGroup = 4,
    kIdCloseGroup = 5,
    kIdOpenSubGroup = 6,
    kIdCloseSubGroup = 7,
    kIdUIConstraints = 11,
    kIdNonUIConstraints = 12,
    kIdInclude = 13,
    kIdLanguageEncoding = 17,
    kIdLanguageVersion = 18,
    kIdOpenUIAlt = 255,
    kIdCloseUIAlt = 256,
    kIdRange = 258,
    kIdUnitRange = 259,
    kIdFloatRange = 260,
    kIdJobNote = 261,
    kIdStringSoup = 266,
    kIdMixedMedia = 267,
};

// Number of keyword slots (and table rows).
constexpr int kKeywordSlots = 268;

struct PPDKeywordRow {
    const wchar_t* name;  // with its leading "*"; null for the unused rows
    int id;
    int keywordClass;     // 0, 1 or 2
    int valueType;        // 1-7
    int takesOption;
    int group;            // 0-7
};

struct PPDLanguageRow {
    const wchar_t* localeCode;
    const wchar_t* name;
    int primary;
    int sub;
    LANGID LanguageId() const { return static_cast<LANGID>(sub * 1024 + primary); }
};

// The keyword table's hash of a name, A-Z folded to a-z: start with kKeywordHashSeed
// and fold in each character (FindKeyword mixes the result). A reader that scans a
// keyword anyway hashes it on the way; a rotate and xor per character keeps that cheap.
constexpr uint32_t kKeywordHashSeed = 0x2545F491u;
inline uint32_t FoldKeywordHash(uint32_t hash, wchar_t c) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return ((hash << 5) | (hash >> 27)) ^ static_cast<uint32_t>(c);
}

// Stateless accessor of the process-wide keyword table.
class CPPDStmtInfo {
public:
    virtual ~CPPDStmtInfo() = default;
    // The row of the keyword (compared ignoring case), or null.
    static const PPDKeywordRow* FindKeyword(const wchar_t* keyword);
    // The same, for a keyword whose hash (see FoldKeywordHash) is known.
    static const PPDKeywordRow* FindKeyword(const wchar_t* keyword, uint32_t hash);
    // The rows (sorted by name once the first look-up has run); count receives 268.
    static const PPDKeywordRow* Rows(int* count);
};

// The 20 language rows; count receives their number.
const PPDLanguageRow* LanguageRows(int* count);

}  // namespace PPDParser
