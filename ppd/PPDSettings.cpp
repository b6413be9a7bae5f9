// A parsed PPD: reading its sources, registering statements by keyword id,
// choosing the language, and sorting the statements into entry groups.
#include "ppd/PPDSettings.h"

#include <cwchar>
#include <new>
#include <unordered_map>

namespace PPDParser {

namespace {

const std::vector<PPDEntryPtr> kNoEntries;

}  // namespace

CPPDSettings::CPPDSettings(CBaseFileIOPlugIn* plugIn) {
    if (plugIn)
        m_plugIn.reset(plugIn->Clone(nullptr, 0));
    else
        m_plugIn.reset(new (std::nothrow) CFileIOPlugIn());
}

CPPDSettings::~CPPDSettings() {
    ClearGroups();
    m_rejected.clear();
    m_statements.clear();
}

PPDStatement* CPPDSettings::NewStatement(unsigned offset, PPDText keyword, uint32_t keywordHash) {
    void* memory = m_arena.Allocate(sizeof(PPDStatement), alignof(PPDStatement));
    PPDStatement* s = ::new (memory) PPDStatement(offset, keyword);
    // Keywords come in runs (thousands of constraint lines): the row of the one before
    // is reused when the text is the same.
    const size_t prefix = s->Classify(keywordHash, m_lastKeyword, m_lastRow);
    m_lastKeyword = keyword;
    m_lastRow = s->row;
    if (prefix) {
        // "*DefaultX" -> "*X"
        const size_t length = keyword.size() - prefix + 1;
        wchar_t* base = m_arena.AllocText(length + 1);
        base[0] = L'*';
        wmemcpy(base + 1, keyword.data() + prefix, length - 1);
        base[length] = 0;
        s->baseKeyword = PPDText(base, length);
    }
    return s;
}

PPDStatement* CPPDSettings::CopyStatement(const PPDStatement& statement) {
    // The copy's texts are the original's: both live in this parser's arena.
    void* memory = m_arena.Allocate(sizeof(PPDStatement), alignof(PPDStatement));
    return ::new (memory) PPDStatement(statement);
}

void CPPDSettings::DropStatement(PPDStatement* statement) {
    if (statement) statement->~PPDStatement();
}

const std::vector<PPDEntryPtr>& CPPDSettings::Group(int group) const {
    if (group < 0 || group >= kGroupCount) return kNoEntries;
    return m_groups[group];
}

bool CPPDSettings::Parse(const wchar_t* name, CBaseFileIOPlugIn* plugIn) {
    if (!name || !*name) return false;
    try {
        CBaseFileIOPlugIn* source = plugIn ? plugIn : m_plugIn.get();
        if (!source) return false;
        m_includeChain.clear();
        // Statements are registered as they are read, in the same order.
        const SourceResult result = ReadFile(name, source, 0);
        if (result == SourceResult::Failed) return false;
        // The PPD itself must be there; an extension resource is optional.
        if (result == SourceResult::NotOpened && source->MissingSourceIsError()) return false;
        return true;
    } catch (...) {
        return false;
    }
}

CPPDSettings::SourceResult CPPDSettings::ReadFile(const wchar_t* name, CBaseFileIOPlugIn* plugIn, int depth) {
    if (!plugIn) return SourceResult::Failed;
    std::unique_ptr<CBaseFileIOPlugIn> clone(plugIn->Clone(name, m_languageId));
    if (!clone) return SourceResult::Failed;
    std::unique_ptr<CFunctIO> stream(new (std::nothrow) CFunctIO(clone.get()));
    if (!stream) return SourceResult::Failed;
    if (stream->GetStatus() == kIOOpenFailed) return SourceResult::NotOpened;

    const int source = m_sourceCount++;
    m_sourceEnd.resize(static_cast<size_t>(m_sourceCount), m_statements.size());
    m_includeChain.emplace_back(name);
    bool failed = false;
    while (stream->GetStatus() == kIOReady) {
        PPDStatement* raw = nullptr;
        if (!ReadStatement(stream.get(), &raw)) {
            // A line too long ends the source like its end does; anything else
            // in the middle of a statement fails it.
            const int status = stream->GetStatus();
            failed = status != kIOEndOfData && status != kIOLineTooLong;
            break;
        }
        if (!raw) continue;
        PPDStatementPtr statement(raw);
        statement->source = source;
        if (CheckStatement(statement.get()) == kLineGood && statement->row) {
            const int id = statement->row->id;
            if (id == kIdInclude) {
                wchar_t path[MAX_PATH];
                if (depth + 1 < kMaxIncludeDepth &&
                    ResolveIncludePath(path, MAX_PATH, name, statement->value.c_str())) {
                    bool cycle = false;
                    for (const std::wstring& open : m_includeChain)
                        if (_wcsicmp(open.c_str(), path) == 0) cycle = true;
                    if (!cycle) ReadFile(path, plugIn, depth + 1);
                }
                continue;  // the *Include statement itself is dropped
            }
            if (id == kIdLanguageEncoding) {
                m_encoding.assign(statement->value.begin(), statement->value.end());
                continue;
            }
            if (id == kIdLanguageVersion) SetLanguage(statement->value.c_str());
        }
        PPDStatement* s = statement.get();
        m_statements.push_back(std::move(statement));
        m_sourceEnd[static_cast<size_t>(source)] = m_statements.size();
        RegisterStatement(s);
        if (s->lineState != kLineGood && s->row) m_rejected.emplace_back(CopyStatement(*s));
    }
    m_includeChain.pop_back();
    return failed ? SourceResult::Failed : SourceResult::Read;
}

int CPPDSettings::CheckStatement(const PPDStatement* s) const {
    if (!s || !s->row) return kLineGood;
    if (s->row->takesOption && !s->HasOption()) return kLineOptionMissing;
    if (s->valueType != s->row->valueType) return kLineWrongValueType;
    return kLineGood;
}

void CPPDSettings::RegisterStatement(PPDStatement* s) {
    if (!s || !s->row) return;
    const int id = s->row->id;
    if (id < 0 || id >= kKeywordSlots) return;
    const bool takesSlot = s->row->keywordClass == 1 || !m_slots[id] || s->row->takesOption;
    if (!takesSlot) {
        s->lineState = kLineDuplicate;
        return;
    }
    m_slots[id] = s;
    s->lineState = CheckStatement(s);
}

bool CPPDSettings::SetLanguage(const wchar_t* name) {
    if (!name) return false;
    int count = 0;
    const PPDLanguageRow* rows = LanguageRows(&count);
    const PPDLanguageRow* row = nullptr;
    for (int i = 0; i < count && !row; ++i)
        if (_wcsicmp(rows[i].name, name) == 0) row = &rows[i];
    if (!row) return false;

    wchar_t answer[10] = {};
    LANGID language = row->LanguageId();
    if (!GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE, answer, 10)) {
        language = static_cast<LANGID>(row->primary + 1024);
        if (!GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE, answer, 10))
            return false;
    }
    m_codePage = static_cast<UINT>(wcstoul(answer, nullptr, 10));
    m_languageId = language;
    m_locale = row->localeCode;
    if (wcscmp(name, L"Chinese") == 0 && m_encoding == L"BIG5") {
        m_locale = L"zh_TW";
        m_codePage = 950;
        m_languageId = 1028;
    }
    // The PPD text of these languages is UTF-8.
    if (wcscmp(name, L"Czech") == 0 || wcscmp(name, L"Korean") == 0 || wcscmp(name, L"Polish") == 0)
        m_codePage = CP_UTF8;
    return true;
}

void CPPDSettings::ClearGroups() {
    for (auto& group : m_groups) group.clear();
    m_uiConstraints = nullptr;
    m_nonUIConstraints = nullptr;
}

bool CPPDSettings::BuildGroups() {
    try {
        ClearGroups();
        return GroupStatements();
    } catch (...) {
        ClearGroups();
        return false;
    }
}

bool CPPDSettings::GroupStatements() {
    int current = 1;
    CPPDEntry* open = nullptr;
    // Entries by keyword, per group (a PPD can have thousands of statements).
    using KeywordMap = std::pmr::unordered_map<std::wstring_view, CPPDEntry*>;
    KeywordMap byKeyword[kGroupCount] = {KeywordMap(&m_arena), KeywordMap(&m_arena), KeywordMap(&m_arena),
                                         KeywordMap(&m_arena), KeywordMap(&m_arena), KeywordMap(&m_arena),
                                         KeywordMap(&m_arena), KeywordMap(&m_arena)};
    static_assert(kGroupCount == 8, "one map per group");
    int openSource = -1;
    // Room for a keyword with its prefix replaced, reused by every statement.
    std::wstring stripped;
    CPPDEntry* last = nullptr;
    int lastTarget = -1;
    bool lastSeven = false;
    for (size_t index = 0; index < m_statements.size(); ++index) {
        PPDStatement* s = m_statements[index].get();
        const int id = s->lineState == kLineGood ? s->Id() : 0;

        // A feature whose *CloseUI is missing ends at the next feature, group
        // change or the end of its source, so what follows is not swallowed.
        if (open) {
            const bool sourceEnded = openSource >= 0 && static_cast<size_t>(openSource) < m_sourceEnd.size() &&
                                     index >= m_sourceEnd[static_cast<size_t>(openSource)];
            if (sourceEnded || id == kIdOpenUI || id == kIdOpenUIAlt || id == kIdOpenGroup || id == kIdCloseGroup)
                open = nullptr;
        }

        int kind = kEntryOptions;
        bool chosen = false;
        int target = current;
        bool opens = false;
        switch (id) {
        case kIdOpenGroup:
            if (current == 1) {
                if (s->value == L"InstallableOptions")
                    current = 2;
                else if (s->value == L"DriverProperties")
                    current = 3;
                else
                    current = 5;
            }
            continue;
        case kIdCloseGroup:
            current = 1;
            continue;
        case kIdOpenSubGroup:
        case kIdCloseSubGroup:
            continue;
        case kIdCloseUI:
        case kIdCloseUIAlt:
            open = nullptr;
            continue;
        case kIdRange:
        case kIdUnitRange:
            kind = kEntryRange;
            chosen = true;
            break;
        case kIdFloatRange:
            kind = kEntryFloatRange;
            chosen = true;
            break;
        case kIdJobNote:
            kind = kEntryJobNote;
            chosen = true;
            break;
        case kIdStringSoup:
            kind = kEntryStringSoup;
            chosen = true;
            break;
        case kIdMixedMedia:
            kind = kEntryMixedMedia;
            chosen = true;
            break;
        case kIdUIConstraints:
        case kIdNonUIConstraints:
            kind = kEntryConstraints;
            break;
        case kIdOpenUI:
        case kIdOpenUIAlt:
            if (!open) {
                chosen = true;
                opens = true;
                if (current == 1) target = s->row ? s->row->group : 0;
                const PPDKeywordRow* feature = CPPDStmtInfo::FindKeyword(s->option.c_str());
                s->group = feature ? feature->group : 0;
            }
            break;
        default:
            break;
        }

        CPPDEntry* entry = open;
        if (!entry) {
            if (s->group != 0) target = s->group;
            if (target < 0 || target >= kGroupCount) target = 0;
            const PPDText& named = chosen ? s->option : s->baseKeyword;
            std::wstring_view key = named;
            const size_t prefix = KeywordPrefixLength(named);
            if (prefix) {
                stripped.assign(1, L'*');
                stripped.append(named.View().substr(prefix));
                key = stripped;
            }
            // Runs of one keyword (thousands of constraint lines) find the entry of the
            // statement before; a new entry may change any answer, so it clears that.
            if (last && lastTarget == target && lastSeven == (s->group == 7) && key == last->keyword) {
                entry = last;
            } else {
                const int asked = target;
                if (s->group == 7 && byKeyword[6].count(key)) target = 6;
                auto found = byKeyword[target].find(key);
                if (found != byKeyword[target].end()) {
                    entry = found->second;
                    last = entry;
                    lastTarget = asked;
                    lastSeven = s->group == 7;
                } else {
                    // The entry's keyword is the statement's text, or a copy of the stripped one.
                    const PPDText keyword = prefix ? ArenaText(stripped.data(), stripped.size()) : named;
                    void* memory = m_arena.Allocate(sizeof(CPPDEntry), alignof(CPPDEntry));
                    m_groups[target].emplace_back(::new (memory) CPPDEntry(keyword, kind, &m_arena));
                    entry = m_groups[target].back().get();
                    byKeyword[target].emplace(entry->keyword, entry);
                    last = nullptr;
                }
            }
        }
        if (opens) {
            open = entry;
            openSource = s->source;
        }
        entry->AddStatement(s);
        if (id == kIdUIConstraints && !m_uiConstraints) m_uiConstraints = entry;
        if (id == kIdNonUIConstraints && !m_nonUIConstraints) m_nonUIConstraints = entry;
    }
    return true;
}

void CPPDEntry::AddStatement(PPDStatement* s) {
    if (!s) return;
    switch (s->prefixKind) {
    case kPrefixDefault:
        defaultStatement = s;
        return;
    case kPrefixQuery:
        queryStatement = s;
        return;
    case kPrefixParam:
        params.push_back(s);
        return;
    default:
        break;
    }
    if (s->HasOption() && std::wstring_view(s->keyword) == keyword) {
        options.push_back(s);
        if (s->option == L"None" || s->option == L"Off" || s->option == L"False") offOption = s;
        return;
    }
    if (s->HasOption()) translation = s->optionTranslation;
    if (s->HasValue()) others.push_back(s);
}

}  // namespace PPDParser
