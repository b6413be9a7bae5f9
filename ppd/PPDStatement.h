// One parsed PPD statement: keyword, its table row, prefix kind and group, the
// option with its translation and a value of one of seven types.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "ppd/PPDStmtInfo.h"

namespace PPDParser {

// Prefix kinds.
enum : int { kPrefixNone = 0, kPrefixDefault = 1, kPrefixQuery = 2, kPrefixParam = 3 };

// Line states set when a statement is registered.
enum : int { kLineGood = 0, kLineDuplicate = 1, kLineOptionMissing = 2, kLineWrongValueType = 3 };

// A text of a parsed PPD: NUL-terminated characters that belong to the parser (its
// arena), never to the statement. A large PPD has tens of thousands of statements, so
// a statement is a handful of views rather than six strings to make and destroy. Packed to
// 12 bytes on 64-bit: a parse's memory is fresh pages, which cost more than the parse.
#pragma pack(push, 4)
class PPDText {
public:
    PPDText() = default;
    // The characters must be followed by a NUL.
    PPDText(const wchar_t* text, size_t length) : m_text(text), m_length(static_cast<uint32_t>(length)) {}

    const wchar_t* c_str() const { return m_text; }
    const wchar_t* data() const { return m_text; }
    size_t size() const { return m_length; }
    size_t length() const { return m_length; }
    bool empty() const { return m_length == 0; }
    const wchar_t* begin() const { return m_text; }
    const wchar_t* end() const { return m_text + m_length; }
    wchar_t operator[](size_t i) const { return m_text[i]; }
    size_t find(std::wstring_view what, size_t from = 0) const { return View().find(what, from); }
    std::wstring_view View() const { return std::wstring_view(m_text, m_length); }
    operator std::wstring_view() const { return View(); }

    friend bool operator==(const PPDText& a, std::wstring_view b) { return a.View() == b; }

    // The text of a default PPDText (one address: the reader never writes there).
    static constexpr wchar_t kEmpty[1] = {0};

private:
    const wchar_t* m_text = kEmpty;
    uint32_t m_length = 0;  // 32 bits, as the reader's source offsets are
};
#pragma pack(pop)
static_assert(sizeof(PPDText) == sizeof(void*) + 4);

struct PPDStatement {
    // The keyword as written (NUL-terminated, owned by the parser); Classify sets the rest.
    PPDStatement(unsigned offset, PPDText keywordAsWritten)
        : sourceOffset(offset), baseKeyword(keywordAsWritten), keyword(keywordAsWritten) {}

    // Looks the row up for the keyword as written and sets the prefix kind and group.
    // Returns the length of the keyword's prefix: the base keyword is the keyword itself
    // when it has none, and the caller makes it otherwise.
    // keywordHash is the keyword's hash (see FoldKeywordHash); a keyword equal to known
    // takes knownRow without a look-up.
    size_t Classify(uint32_t keywordHash, PPDText known = PPDText(), const PPDKeywordRow* knownRow = nullptr);
    bool HasOption() const { return !option.empty(); }
    bool HasValue() const { return valueCount != 0; }
    // The row's id, 0 without a row.
    int Id() const { return row ? row->id : 0; }

    // Small fields in bytes, for the same reason as the packed texts.
    const PPDKeywordRow* row = nullptr;
    unsigned sourceOffset = 0;
    int valueCount = 0;
    int8_t valueType = kValueUnread;
    int8_t prefixKind = kPrefixNone;
    int8_t group = 0;
    int8_t lineState = kLineGood;
    PPDText baseKeyword;
    PPDText keyword;
    PPDText option;
    PPDText optionTranslation;
    PPDText value;
    PPDText valueTranslation;
    // Which source (the PPD, an included file, a resource) the statement came from.
    int source = 0;
};
static_assert(sizeof(void*) != 8 || sizeof(PPDStatement) == 96, "a statement stays small");

// The keyword with a "*?", "*Default" or "*Param" prefix replaced by "*";
// kind (optional) receives the prefix kind.
std::wstring StripKeywordPrefix(std::wstring_view keyword, int* kind = nullptr);

// Length of the prefix of the keyword that StripKeywordPrefix replaces (0: none);
// kind (optional) receives the prefix kind.
size_t KeywordPrefixLength(std::wstring_view keyword, int* kind = nullptr);

// Appends text to out with each "<hex>" substring replaced by the text its bytes
// spell in the code page.
void DecodeHexSubstrings(const wchar_t* text, size_t length, UINT codePage, std::wstring* out);

// Puts the including file's drive and directory in front of an include name
// that has neither. Returns false (out empty) when the path cannot be made.
bool ResolveIncludePath(wchar_t* out, unsigned outSize, const wchar_t* includingPath, const wchar_t* includeName);

}  // namespace PPDParser
