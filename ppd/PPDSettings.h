// A parsed PPD: the statements of the PPD file, its included files and the
// extension resource, registered by keyword id, sorted into eight entry groups
// and exported as compiled blocks.
#pragma once

#include <windows.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <vector>

#include "ppd/PPDArena.h"
#include "ppd/PPDIO.h"
#include "ppd/PPDStatement.h"

namespace PPDParser {

// Returns the id of a text, 0-32767, or -1 for none; flag 1 for keywords,
// option keywords, default options and constraint tokens, 0 for translations,
// values and texts. Ids are stored as 16 bits: an id above 32767 (or below -1)
// fails the export instead of wrapping. The callback must answer the same id for
// the same text: a constraint token that recurs is asked for only once per export.
using PPDStringCallback = int (*)(void* user, const wchar_t* text, int flag);

// Statements live in their parser's arena: destroying one runs its destructor
// only; the memory goes with the parser.
struct PPDStatementDelete {
    void operator()(PPDStatement* s) const noexcept {
        if (s) s->~PPDStatement();
    }
};
using PPDStatementPtr = std::unique_ptr<PPDStatement, PPDStatementDelete>;

// Entry kinds.
enum : int {
    kEntryOptions = 0,
    kEntryRange = 1,
    kEntryFloatRange = 2,
    kEntryJobNote = 3,
    kEntryStringSoup = 4,
    kEntryMixedMedia = 5,
    kEntryConstraints = 6,
};

constexpr int kGroupCount = 8;
constexpr unsigned kBlockHeaderSize = 42;

// All statements of one keyword in one group. Statements are not owned; the entry, its
// texts and its lists live in the parser's arena.
class CPPDEntry {
public:
    using List = std::pmr::vector<PPDStatement*>;
    CPPDEntry(PPDText keyword, int kind, std::pmr::memory_resource* memory)
        : kind(kind), keyword(keyword), options(memory), others(memory), params(memory) {}
    virtual ~CPPDEntry() = default;

    void AddStatement(PPDStatement* statement);
    // Writes the entry's item (size query with a null buffer); 0 when it has none.
    unsigned Write(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const;
    // Writes the constraint record of keyword id 11 or 12 from the entry's lines.
    unsigned WriteConstraints(int keywordId, PPDStringCallback callback, void* user, uint8_t* buffer,
                              unsigned size) const;

    int kind;
    PPDText keyword;
    PPDText translation;
    List options;
    List others;
    List params;
    PPDStatement* offOption = nullptr;
    PPDStatement* defaultStatement = nullptr;
    PPDStatement* queryStatement = nullptr;

private:
    friend class CPPDSettings;
    // As Write and WriteConstraints, but an id that does not fit 16 bits throws.
    unsigned WriteItem(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const;
    unsigned WriteConstraintRecord(int keywordId, PPDStringCallback callback, void* user, uint8_t* buffer,
                                   unsigned size) const;
    unsigned WriteOptions(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const;
    unsigned WriteRange(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const;
    unsigned WriteJobNote(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const;
    unsigned WriteStringSoup(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const;
    unsigned WriteMixedMedia(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const;
    const PPDStatement* FirstValued() const;

    // The number of constraint lines of two tokens or more of one keyword, once counted.
    mutable int m_countedKeyword = INT_MIN;
    mutable size_t m_constraintCount = 0;
};

// Entries live in their parser's arena, as statements do.
struct PPDEntryDelete {
    void operator()(CPPDEntry* e) const noexcept {
        if (e) e->~CPPDEntry();
    }
};
using PPDEntryPtr = std::unique_ptr<CPPDEntry, PPDEntryDelete>;

class CPPDSettings {
public:
    // plugIn (may be null: files) is cloned; the caller keeps its own.
    explicit CPPDSettings(CBaseFileIOPlugIn* plugIn = nullptr);
    virtual ~CPPDSettings();
    CPPDSettings(const CPPDSettings&) = delete;
    CPPDSettings& operator=(const CPPDSettings&) = delete;

    // Reads the named source through plugIn (else the object's own) into the
    // statement list and registers the new statements. A PPD file that cannot be
    // opened fails; an absent resource or include is only an absent input.
    bool Parse(const wchar_t* name, CBaseFileIOPlugIn* plugIn = nullptr);
    // Sorts the statements into the eight groups.
    bool BuildGroups();
    // Compiled block of group 0-7 (size query with a null buffer). A result larger
    // than size means the buffer was too small and nothing usable was written.
    unsigned ExportGroup(int group, PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size);
    unsigned ExportConstraints(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size);

    // Reads the next statement; out receives null for a line that holds none. The
    // statement belongs to this object (its arena) and lives as long as it does.
    // False when a statement was begun but cannot be read.
    bool ReadStatement(CBaseIO* stream, PPDStatement** out);
    bool SetLanguage(const wchar_t* name);
    int CheckStatement(const PPDStatement* statement) const;

    UINT GetCodePage() const { return m_codePage; }
    LANGID GetLanguageId() const { return m_languageId; }
    const wchar_t* GetLocaleName() const { return m_locale.c_str(); }
    const std::wstring& GetEncoding() const { return m_encoding; }

    const std::vector<PPDStatementPtr>& Statements() const { return m_statements; }
    const std::vector<PPDStatementPtr>& Rejected() const { return m_rejected; }
    const std::vector<PPDEntryPtr>& Group(int group) const;
    const PPDStatement* Slot(int id) const { return id >= 0 && id < kKeywordSlots ? m_slots[id] : nullptr; }
    const CPPDEntry* UIConstraintsEntry() const { return m_uiConstraints; }
    const CPPDEntry* NonUIConstraintsEntry() const { return m_nonUIConstraints; }

    // Include nesting beyond this depth is not followed.
    static constexpr int kMaxIncludeDepth = 8;

private:
    enum class SourceResult { Read, NotOpened, Failed };

    SourceResult ReadFile(const wchar_t* name, CBaseFileIOPlugIn* plugIn, int depth);
    void RegisterStatement(PPDStatement* statement);
    PPDStatement* NewStatement(unsigned offset, PPDText keyword, uint32_t keywordHash);
    PPDStatement* CopyStatement(const PPDStatement& statement);
    void DropStatement(PPDStatement* statement);
    bool GroupStatements();
    void ClearGroups();
    bool ParseOption(PPDStatement* s, wchar_t* text, CBaseIO* stream, bool rangeParser);
    bool ParseValue(PPDStatement* s, wchar_t* text, CBaseIO* stream, bool rangeParser);
    bool ParseQuoted(PPDStatement* s, wchar_t* text, CBaseIO* stream);
    bool ParseRange(PPDStatement* s, wchar_t* text, CBaseIO* stream);
    // Statement texts while a statement is read: views into its lines (read into the
    // arena), terminated by TerminateTexts once all are found; a value of several pieces
    // (a quoted value over several lines, a range) is gathered in m_valueText.
    PPDText ArenaText(const wchar_t* text, size_t length);
    PPDText OptionText(const wchar_t* text, const wchar_t* end);
    void AppendValue(PPDStatement* s, const wchar_t* from, const wchar_t* to);
    void SpillValue(PPDStatement* s);
    void TerminateTexts(PPDStatement* s);
    wchar_t* ReadLineText(CBaseIO* stream, int* lineBytes);

    // Declared first so that it outlives every statement.
    CPPDArena m_arena;
    std::unique_ptr<CBaseFileIOPlugIn> m_plugIn;
    CPPDEntry* m_uiConstraints = nullptr;
    CPPDEntry* m_nonUIConstraints = nullptr;
    PPDStatement* m_slots[kKeywordSlots] = {};
    std::vector<PPDStatementPtr> m_statements;
    std::vector<PPDStatementPtr> m_rejected;
    std::vector<PPDEntryPtr> m_groups[kGroupCount];

    UINT m_codePage = CP_THREAD_ACP;
    LANGID m_languageId = 0;
    std::wstring m_locale = L"en";
    std::wstring m_encoding;

    // Reading state: the current statement's value pieces and the include chain.
    PPDText m_lastKeyword;
    const PPDKeywordRow* m_lastRow = nullptr;
    bool m_valueSet = false;
    bool m_valueSpilled = false;
    std::wstring m_valueText;
    std::wstring m_hexText;
    int m_sourceCount = 0;
    std::vector<std::wstring> m_includeChain;
    // Index (in the statement list) after the last statement of each source.
    std::vector<size_t> m_sourceEnd;
};

}  // namespace PPDParser
