// PPD statement reader, keyword table and language table.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ppd/PPDCharClass.h"
#include "ppd/PPDSettings.h"
#include "tests/ppd/PPDTestUtil.h"

using namespace PPDParser;

namespace {

// The statements belong to the parser that read them.
struct ReadResult {
    bool ok = true;
    std::unique_ptr<CPPDSettings> parser = std::make_unique<CPPDSettings>();
    std::vector<PPDStatementPtr> statements;
};

ReadResult ReadText(const std::string& text) {
    ReadResult r;
    CMemIO io(text.data(), static_cast<unsigned>(text.size()));
    while (io.GetStatus() == kIOReady) {
        PPDStatement* p = nullptr;
        if (!r.parser->ReadStatement(&io, &p)) {
            r.ok = false;
            break;
        }
        if (p) r.statements.emplace_back(p);
    }
    return r;
}

struct StatementCase {
    const char* name;
    std::string line;
    const wchar_t* keyword;
    const wchar_t* base;
    const wchar_t* option;
    const wchar_t* optionTranslation;
    const wchar_t* value;
    const wchar_t* valueTranslation;
    int valueType;
    int prefixKind;
    int group;
    int valueCount;
};

const std::vector<StatementCase> kStatementCases = {
    {"option with translation and quoted value", "*PageSize A4/A4 sheet: \"<</PageSize[595 842]>>setpagedevice\"\r\n",
     L"*PageSize", L"*PageSize", L"A4", L"A4 sheet", L"<</PageSize[595 842]>>setpagedevice", L"", 5, 0, 0, 1},
    {"default with a plain value", "*DefaultPageSize: Letter\r\n", L"*DefaultPageSize", L"*PageSize", L"", L"",
     L"Letter", L"", 2, 1, 0, 1},
    {"trailing blanks are not part of a plain value", "*DefaultPageSize: Letter  \t\r\n", L"*DefaultPageSize",
     L"*PageSize", L"", L"", L"Letter", L"", 2, 1, 0, 1},
    {"plain value with translation", "*Foo Opt/Option: Plain/Shown text\r\n", L"*Foo", L"*Foo", L"Opt", L"Option",
     L"Plain", L"Shown text", 2, 0, 0, 1},
    {"keyword alone", "*End\r\n", L"*End", L"*End", L"", L"", L"", L"", 1, 0, 0, 0},
    {"option with an empty value", "*Foo Bar:\r\n", L"*Foo", L"*Foo", L"Bar", L"", L"", L"", 1, 0, 0, 0},
    {"star-percent statement", "*%===\r\n", L"*===", L"*===", L"", L"", L"", L"", 1, 0, 7, 0},
    {"maker UI default", "*%VYRUI_DefaultFoo: Bar\r\n", L"*DefaultFoo", L"*Foo", L"", L"", L"Bar", L"", 2, 1, 6, 1},
    {"maker non-UI option", "*%VYRNONUI_QVStaple Saddle/Saddle: \"\"\r\n", L"*QVStaple", L"*QVStaple", L"Saddle",
     L"Saddle", L"", L"", 5, 0, 7, 1},
    {"PostScript prefix", "*%PS_%OutputFormat Speed/Speed: \"\"\r\n", L"*%OutputFormat", L"*%OutputFormat", L"Speed",
     L"Speed", L"", L"", 5, 0, 4, 1},
    {"device-mode default", "*%DM_Default!dmOrientation: Portrait\r\n", L"*Default!dmOrientation",
     L"*!dmOrientation", L"", L"", L"Portrait", L"", 2, 1, 4, 1},
    {"query with quoted value", "*?PageSize: \"save\"\r\n", L"*?PageSize", L"*PageSize", L"", L"", L"save", L"", 5,
     2, 0, 1},
    {"quoted value without option", "*NickName: \"Tolva 9000\"\r\n", L"*NickName", L"*NickName", L"", L"",
     L"Tolva 9000", L"", 3, 0, 0, 1},
    {"quoted value with translation", "*Foo: \"code\" /Shown\r\n", L"*Foo", L"*Foo", L"", L"", L"code", L"Shown", 3,
     0, 0, 1},
    {"symbol value", "*Foo: ^SymbolName\r\n", L"*Foo", L"*Foo", L"", L"", L"SymbolName", L"", 4, 0, 0, 1},
    {"hex option and translation", "*Foo <48656C6C6F>/A<20>B: \"x\"\r\n", L"*Foo", L"*Foo", L"Hello", L"A B", L"x",
     L"", 5, 0, 0, 1},
    {"hex translation with blanks and an odd digit", "*Foo X/<48 65\t6C6C6F4>: \"\"\r\n", L"*Foo", L"*Foo", L"X",
     L"Hello", L"", L"", 5, 0, 0, 1},
    {"hex without closing bracket", "*Foo A<4243: \"\"\r\n", L"*Foo", L"*Foo", L"ABC", L"", L"", L"", 5, 0, 0, 1},
    {"range", "*%VYRUI_Range *QVScale/Scaling (%): (25;400;1;100): \"tpl <*QVScale>\"\r\n", L"*Range", L"*Range",
     L"*QVScale", L"Scaling (%)", L"(25;400;1;100):tpl <*QVScale>", L"", 7, 0, 6, 2},
    {"range without colon leaves the type unread", "*Range *X: (1;2;3;4)\r\n", L"*Range", L"*Range", L"*X", L"",
     L"(1;2;3;4)", L"", 0, 0, 0, 1},
    {"maker key text", "*VYRFlags *QVScale: Dynamic\r\n", L"*VYRFlags", L"*VYRFlags", L"", L"", L"*QVScale: Dynamic",
     L"", 6, 0, 7, 1},
    {"feature opening", "*OpenUI *PageSize/Page Size: PickOne\r\n", L"*OpenUI", L"*OpenUI", L"*PageSize",
     L"Page Size", L"PickOne", L"", 2, 0, 5, 1},
    {"option not ended by a colon stores nothing", "*Foo Bar baz\r\n", L"*Foo", L"*Foo", L"", L"", L"", L"", 0, 0, 0,
     0},
    {"blanks before the option stay in it", "*Foo  Bar: x\r\n", L"*Foo", L"*Foo", L" Bar", L"", L"x", L"", 2, 0, 0,
     1},
    {"quoted value over three lines", "*Foo Bar: \"one\r\ntwo\r\nthree\"\r\n", L"*Foo", L"*Foo", L"Bar", L"",
     L"one\r\ntwo\r\nthree", L"", 5, 0, 0, 3},
    {"last line without break", "*Foo: x", L"*Foo", L"*Foo", L"", L"", L"x", L"", 2, 0, 0, 1},
};

}  // namespace

TEST(PPDReader, StatementForms) {
    for (const StatementCase& c : kStatementCases) {
        ReadResult r = ReadText(c.line);
        ASSERT_TRUE(r.ok) << c.name;
        ASSERT_EQ(r.statements.size(), 1u) << c.name;
        const PPDStatement& s = *r.statements[0];
        EXPECT_EQ(s.keyword, c.keyword) << c.name;
        EXPECT_EQ(s.baseKeyword, c.base) << c.name;
        EXPECT_EQ(s.option, c.option) << c.name;
        EXPECT_EQ(s.optionTranslation, c.optionTranslation) << c.name;
        EXPECT_EQ(s.value, c.value) << c.name;
        EXPECT_EQ(s.valueTranslation, c.valueTranslation) << c.name;
        EXPECT_EQ(s.valueType, c.valueType) << c.name;
        EXPECT_EQ(s.prefixKind, c.prefixKind) << c.name;
        EXPECT_EQ(s.group, c.group) << c.name;
        EXPECT_EQ(s.valueCount, c.valueCount) << c.name;
    }
}

TEST(PPDReader, LinesWithoutStatements) {
    const char* lines[] = {"*% a comment\r\n", "*%\r\n", "*%\tcomment\r\n", "*\r\n", "plain text\r\n", "\r\n",
                           " *Indented: x\r\n", "%%DSC comment\r\n"};
    for (const char* line : lines) {
        ReadResult r = ReadText(line);
        EXPECT_TRUE(r.ok) << line;
        EXPECT_TRUE(r.statements.empty()) << line;
    }
}

TEST(PPDReader, BrokenStatementsFail) {
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"text after the closing quote", "*Foo: \"abc\" junk\r\n"},
        {"quote never closed", "*Foo: \"abc\r\ndef\r\n"},
        {"quote never closed, no break", "*Foo Bar: \"abc"},
    };
    for (const Case& c : cases) {
        ReadResult r = ReadText(c.text);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_TRUE(r.statements.empty()) << c.name;
    }
}

TEST(PPDReader, SourceOffsetsAreLineStarts) {
    const std::string text = "*A: x\r\n*% c\r\n*B Opt: \"1\r\n2\"\n*C: y";
    ReadResult r = ReadText(text);
    ASSERT_EQ(r.statements.size(), 3u);
    EXPECT_EQ(r.statements[0]->sourceOffset, 0u);
    EXPECT_EQ(r.statements[1]->sourceOffset, text.find("*B"));
    EXPECT_EQ(r.statements[2]->sourceOffset, text.find("*C"));
}

TEST(PPDCharClass, Members) {
    struct Case {
        const char* name;
        bool (*is)(wchar_t);
        const char* members;
        bool nul;
    };
    const Case cases[] = {
        {"KeywordEnd", IsKeywordEnd, "\t\n\r :", true},   {"OptionEnd", IsOptionEnd, "\t\n\r /:", true},
        {"QuoteEnd", IsQuoteEnd, "\n\r\"", true},         {"SlashOrLineEnd", IsSlashOrLineEnd, "\n\r/", true},
        {"Blank", IsBlank, "\t ", false},                 {"ListItemEnd", IsListItemEnd, "\t |", true},
        {"LineEnd", IsLineEnd, "\n\r", true},             {"ColonOrLineEnd", IsColonOrLineEnd, "\n\r:", true},
        {"RangeTextEnd", IsRangeTextEnd, "\n\r):;", true}, {"TranslationEnd", IsTranslationEnd, "\n\r:", true},
    };
    for (const Case& c : cases) {
        for (int ch = 0; ch < 128; ++ch) {
            const bool expected = ch == 0 ? c.nul : std::string(c.members).find(static_cast<char>(ch)) != std::string::npos;
            EXPECT_EQ(c.is(static_cast<wchar_t>(ch)), expected) << c.name << " of " << ch;
        }
        EXPECT_FALSE(c.is(static_cast<wchar_t>(0x3000))) << c.name << ": only ASCII characters belong";
        EXPECT_FALSE(c.is(static_cast<wchar_t>(128 + ':'))) << c.name;
    }
}

TEST(PPDKeywordTable, LookUpsAndRows) {
    struct Case {
        const wchar_t* keyword;
        int id, keywordClass, valueType, takesOption, group;
    };
    const Case cases[] = {
        {L"*PPD-Adobe", 1, 2, 3, 0, 0},      {L"*pagesize", 109, 2, 5, 1, 0},   {L"*PAGESIZE", 109, 2, 5, 1, 0},
        {L"*DefaultPageSize", 110, 2, 2, 0, 0}, {L"*?PageSize", 111, 0, 3, 0, 0}, {L"*OpenUI", 2, 1, 2, 1, 5},
        {L"*End", 14, 1, 1, 0, 0},           {L"*UIConstraints", 11, 1, 2, 0, 0}, {L"*NonUIConstraints", 12, 1, 2, 0, 0},
        {L"*InstalledMemory", 43, 0, 5, 1, 2}, {L"*Include", 13, 1, 3, 0, 0},   {L"*Font", 227, 0, 2, 1, 0},
        {L"*VYRFlags", 253, 1, 6, 0, 7},     {L"*VYRGroup", 254, 1, 6, 0, 7},   {L"*QVShortcut", 257, 1, 6, 0, 0},
        {L"*VYRRange", 258, 1, 7, 1, 6},     {L"*Range", 258, 1, 7, 1, 0},      {L"*FloatRange", 260, 1, 7, 1, 0},
        {L"*VYRJobNote", 261, 1, 2, 1, 6},   {L"*JobNote", 261, 1, 2, 1, 0},    {L"*StringSoup", 266, 1, 2, 1, 0},
        {L"*MixedMedia", 267, 1, 2, 1, 0},   {L"*InputSlot", 103, 0, 5, 1, 5},  {L"*Duplex", 155, 0, 5, 1, 5},
    };
    for (const Case& c : cases) {
        const PPDKeywordRow* row = CPPDStmtInfo::FindKeyword(c.keyword);
        ASSERT_NE(row, nullptr) << ppdtest::Narrow(c.keyword);
        EXPECT_EQ(row->id, c.id) << ppdtest::Narrow(c.keyword);
        EXPECT_EQ(row->keywordClass, c.keywordClass) << ppdtest::Narrow(c.keyword);
        EXPECT_EQ(row->valueType, c.valueType) << ppdtest::Narrow(c.keyword);
        EXPECT_EQ(row->takesOption, c.takesOption) << ppdtest::Narrow(c.keyword);
        EXPECT_EQ(row->group, c.group) << ppdtest::Narrow(c.keyword);
    }
    EXPECT_EQ(CPPDStmtInfo::FindKeyword(L"*NoSuchKeyword"), nullptr);
    EXPECT_EQ(CPPDStmtInfo::FindKeyword(L""), nullptr);
    EXPECT_EQ(CPPDStmtInfo::FindKeyword(nullptr), nullptr);

    // Ids 1-253 once each; the maker's range and note ids twice (maker and plain form).
    int count = 0;
    const PPDKeywordRow* rows = CPPDStmtInfo::Rows(&count);
    ASSERT_EQ(count, 268);
    int seen[kKeywordSlots] = {};
    int named = 0;
    for (int i = 0; i < count; ++i) {
        if (!rows[i].name) continue;
        ++named;
        ASSERT_GT(rows[i].id, 0);
        ASSERT_LT(rows[i].id, kKeywordSlots);
        ++seen[rows[i].id];
        EXPECT_EQ(CPPDStmtInfo::FindKeyword(rows[i].name), &rows[i]) << ppdtest::Narrow(rows[i].name);
    }
    EXPECT_EQ(named, 265);
    for (int id = 1; id < kKeywordSlots; ++id) {
        int expected = id <= 254 || id == 257 || id == 266 || id == 267 ? 1 : 0;
        if (id >= 258 && id <= 261) expected = 2;
        EXPECT_EQ(seen[id], expected) << "id " << id;
    }
}

TEST(PPDLanguage, LanguageTable) {
    struct Case {
        const char* name;
        std::string text;
        const wchar_t* locale;
        UINT codePage;
        LANGID language;
    };
    const std::vector<Case> cases = {
        {"English", "*LanguageVersion: English\r\n", L"en", 1252, 0x409},
        {"english in lower case", "*LanguageVersion: english\r\n", L"en", 1252, 0x409},
        {"unknown language", "*LanguageVersion: Klingon\r\n", L"en", CP_THREAD_ACP, 0},
        {"BIG5 then Chinese", "*LanguageEncoding: BIG5\r\n*LanguageVersion: Chinese\r\n", L"zh_TW", 950, 1028},
        {"Chinese then BIG5", "*LanguageVersion: Chinese\r\n*LanguageEncoding: BIG5\r\n", L"zh_CN", 936, 0x804},
        {"Japanese", "*LanguageEncoding: JIS83-RKSJ\r\n*LanguageVersion: Japanese\r\n", L"ja", 932, 0x411},
        {"Polish is UTF-8", "*LanguageVersion: Polish\r\n", L"pl", CP_UTF8, 0x415},
        {"polish in lower case", "*LanguageVersion: polish\r\n", L"pl", 1250, 0x415},
        {"Korean is UTF-8", "*LanguageVersion: Korean\r\n", L"ko_KR", CP_UTF8, 0x412},
        {"Czech is UTF-8", "*LanguageVersion: Czech\r\n", L"cs_CZ", CP_UTF8, 0x405},
        {"Portuguese", "*LanguageVersion: Portuguese\r\n", L"pt_BR", 1252, 0x416},
        {"Russian", "*LanguageVersion: Russian\r\n", L"ru", 1251, 0x419},
    };
    for (const Case& c : cases) {
        auto store = std::make_shared<ppdtest::MemStore>();
        (*store)[L"mem.ppd"] = c.text;
        ppdtest::CMemIOPlugIn plugIn(store, nullptr);
        CPPDSettings settings(&plugIn);
        ASSERT_TRUE(settings.Parse(L"mem.ppd")) << c.name;
        EXPECT_STREQ(settings.GetLocaleName(), c.locale) << c.name;
        EXPECT_EQ(settings.GetCodePage(), c.codePage) << c.name;
        EXPECT_EQ(settings.GetLanguageId(), c.language) << c.name;
    }
    CPPDSettings settings;
    EXPECT_FALSE(settings.SetLanguage(nullptr));
    EXPECT_FALSE(settings.SetLanguage(L"Elvish"));
    EXPECT_EQ(settings.GetCodePage(), static_cast<UINT>(CP_THREAD_ACP));
}

TEST(PPDLanguage, CodePageAppliesToLaterLines) {
    // Shift-JIS translation before and after *LanguageVersion.
    const std::string text =
        "*Foo A/\x97\x70: \"\"\r\n*LanguageVersion: Japanese\r\n*Foo B/\x97\x70: \"\"\r\n*Foo C/<8EE88DB782B5>: \"\"\r\n";
    auto store = std::make_shared<ppdtest::MemStore>();
    (*store)[L"ja.ppd"] = text;
    ppdtest::CMemIOPlugIn plugIn(store, nullptr);
    CPPDSettings settings(&plugIn);
    ASSERT_TRUE(settings.Parse(L"ja.ppd"));
    const auto& list = settings.Statements();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[2]->optionTranslation, L"\u7528");
    EXPECT_EQ(list[3]->optionTranslation, L"\u624B\u5DEE\u3057");
    EXPECT_NE(list[0]->optionTranslation, L"\u7528");
}
