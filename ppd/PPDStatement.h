// One parsed PPD statement: keyword, its table row, prefix kind and group, the
// option with its translation and a value of one of seven types.
#pragma once

#include <windows.h>

#include <memory_resource>
#include <string>
#include <string_view>

#include "ppd/PPDStmtInfo.h"

namespace PPDParser {

// Prefix kinds.
enum : int { kPrefixNone = 0, kPrefixDefault = 1, kPrefixQuery = 2, kPrefixParam = 3 };

// Line states set when a statement is registered.
enum : int { kLineGood = 0, kLineDuplicate = 1, kLineOptionMissing = 2, kLineWrongValueType = 3 };

// Statement texts; the parser keeps them in one arena per parsed PPD, because
// a large PPD has tens of thousands of them and heap calls dominate otherwise.
using PPDString = std::pmr::wstring;

struct PPDStatement {
    PPDStatement(unsigned offset, const wchar_t* keywordAsWritten,
                 std::pmr::memory_resource* memory = std::pmr::get_default_resource());
    // A copy whose texts live in memory.
    PPDStatement(const PPDStatement& other, std::pmr::memory_resource* memory);
    PPDStatement(const PPDStatement&) = default;
    PPDStatement& operator=(const PPDStatement&) = default;

    // Looks the row up for the keyword as written and sets the base keyword,
    // prefix kind and group.
    void Classify();
    bool HasOption() const { return !option.empty(); }
    bool HasValue() const { return valueCount != 0; }
    // The row's id, 0 without a row.
    int Id() const { return row ? row->id : 0; }

    const PPDKeywordRow* row = nullptr;
    int valueType = kValueUnread;
    int prefixKind = kPrefixNone;
    int group = 0;
    int lineState = kLineGood;
    unsigned sourceOffset = 0;
    int valueCount = 0;
    PPDString baseKeyword;
    PPDString keyword;
    PPDString option;
    PPDString optionTranslation;
    PPDString value;
    PPDString valueTranslation;
    // Which source (the PPD, an included file, a resource) the statement came from.
    int source = 0;
};

// The keyword with a "*?", "*Default" or "*Param" prefix replaced by "*";
// kind (optional) receives the prefix kind.
std::wstring StripKeywordPrefix(std::wstring_view keyword, int* kind = nullptr);

// Length of the prefix of the keyword that StripKeywordPrefix replaces (0: none);
// kind (optional) receives the prefix kind.
size_t KeywordPrefixLength(std::wstring_view keyword, int* kind = nullptr);

// Sets out to text with each "<hex>" substring replaced by the text its bytes
// spell in the code page.
void DecodeHexSubstrings(const wchar_t* text, size_t length, UINT codePage, PPDString* out);

// Puts the including file's drive and directory in front of an include name
// that has neither. Returns false (out empty) when the path cannot be made.
bool ResolveIncludePath(wchar_t* out, unsigned outSize, const wchar_t* includingPath, const wchar_t* includeName);

}  // namespace PPDParser
