// Template tags and PostScript string escaping.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/StrUtil.h"
#include "foundation/TemplateTag.h"

namespace {

struct EscapeCase {
    const char* name;
    const char* bytes;
    const char* expected;
};

const EscapeCase kEscapes[] = {
    {"parentheses", "a(b)", "a\\050b\\051"},
    {"byte 0xE9", "\xE9", "\\351"},
    {"tab", "\t", "\\011"},
    {"backslash", "\\", "\\134"},
    {"DEL and space", "\x7F ", "\\177 "},
    {"plain text", "Hello, World!", "Hello, World!"},
    {"empty", "", ""},
};

TEST(Escape, BytesTableWideAndNarrow) {
    for (const auto& c : kEscapes) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes);
        const int count = static_cast<int>(strlen(c.bytes));
        const int needed = static_cast<int>(strlen(c.expected) + 1);
        EXPECT_EQ(needed, EscapePostScriptBytes(bytes, count, nullptr, 0)) << c.name;
        EXPECT_EQ(needed, EscapePostScriptBytesA(bytes, count, nullptr, 0)) << c.name;

        wchar_t wide[64];
        EXPECT_EQ(needed, EscapePostScriptBytes(bytes, count, wide, 64)) << c.name;
        StrUtil<char, wchar_t> back(wide, 1252);
        EXPECT_EQ(std::string(c.expected), back.Get()) << c.name;
        char narrow[64];
        EXPECT_EQ(needed, EscapePostScriptBytesA(bytes, count, narrow, 64)) << c.name;
        EXPECT_EQ(std::string(c.expected), narrow) << c.name;
        EXPECT_EQ(needed, EscapePostScriptTextA(c.bytes, narrow, 64)) << c.name;
        EXPECT_EQ(std::string(c.expected), narrow) << c.name;
    }
}

TEST(Escape, SizeQueryOfTheFourCharacters) {
    wchar_t out[16];
    EXPECT_EQ(11, EscapePostScriptText(L"a(b)", nullptr, 0));
    EXPECT_EQ(11, EscapePostScriptText(L"a(b)", out, 16));
    EXPECT_EQ(std::wstring(L"a\\050b\\051"), out);
}

TEST(Escape, StringCharacterTable) {
    struct Case {
        unsigned ch;
        bool ok;
    } cases[] = {{0x00, false}, {0x1F, false}, {0x20, true},  {'(', false},  {')', false}, {'\\', false},
                 {'A', true},   {0x7E, true},  {0x7F, false}, {0xE9, false}, {0x100, false}};
    for (const auto& c : cases) EXPECT_EQ(c.ok, IsPostScriptStringChar(c.ch)) << "character " << c.ch;
    int allowed = 0;
    for (unsigned ch = 0; ch < 256; ++ch) allowed += IsPostScriptStringChar(ch) ? 1 : 0;
    EXPECT_EQ(0x7F - 0x20 - 3, allowed);
}

TEST(Escape, CutTextIsNotAnExactFit) {
    const uint8_t bytes[] = {'a', '('};  // "a\050" + terminator = 6
    wchar_t out[8];
    wmemset(out, L'#', 8);
    EXPECT_EQ(6, EscapePostScriptBytes(bytes, 2, out, 6)) << "exact fit";
    EXPECT_EQ(std::wstring(L"a\\050"), out);
    wmemset(out, L'#', 8);
    EXPECT_EQ(0, EscapePostScriptBytes(bytes, 2, out, 5)) << "no room for the terminator";
    EXPECT_EQ(L'a', out[0]);
    EXPECT_EQ(L'#', out[1]) << "an escape is written whole or not at all";
    EXPECT_EQ(L'#', out[5]);
    char narrow[8];
    memset(narrow, '#', 8);
    EXPECT_EQ(0, EscapePostScriptBytesA(reinterpret_cast<const uint8_t*>("abc"), 3, narrow, 3));
    EXPECT_EQ('#', narrow[3]);
    EXPECT_EQ(4, EscapePostScriptBytesA(reinterpret_cast<const uint8_t*>("abc"), 3, narrow, 4));
    EXPECT_EQ(1, EscapePostScriptBytes(nullptr, 5, out, 8)) << "null bytes count as none";
}

TEST(Escape, WideTextWithMarkIsEscapedAsUtf8) {
    wchar_t out[64];
    EXPECT_GT(EscapePostScriptText(L"\xFEFF\x00E9", out, 64), 0);
    EXPECT_EQ(std::wstring(L"\\357\\273\\277\\303\\251"), out);
    EXPECT_EQ(0, EscapePostScriptText(nullptr, out, 64));
    EXPECT_EQ(0, EscapePostScriptText(L"x", out, 0));
}

TEST(TemplateTag, FindCases) {
    struct Case {
        const char* name;
        const wchar_t* text;
        int offset;  // -1: not found
    } cases[] = {
        {"at the start", L"<name> x", 0},
        {"after text", L"a<name>b", 1},
        {"double opening", L"<<name>", 1},
        {"false start", L"<na<name>", 3},
        {"other tag first", L"<other><name>", 7},
        {"no closing bracket", L"<name", -1},
        {"longer name", L"<names>", -1},
        {"lone bracket at the end", L"abc<", -1},
        {"no tag", L"plain", -1},
    };
    for (const auto& c : cases) {
        const wchar_t* found = FindTemplateTag(L"name", c.text);
        EXPECT_EQ(c.offset, found ? static_cast<int>(found - c.text) : -1) << c.name;
        StrUtil<char, wchar_t> narrow(c.text, 1252);
        const char* foundA = FindTemplateTagA("name", narrow.Get());
        EXPECT_EQ(c.offset, foundA ? static_cast<int>(foundA - narrow.Get()) : -1) << c.name << " (narrow)";
    }
    EXPECT_EQ(nullptr, FindTemplateTag(nullptr, L"<x>"));
    EXPECT_EQ(nullptr, FindTemplateTag(L"x", nullptr));
}

struct ReplaceCase {
    const char* name;
    const wchar_t* templ;
    const wchar_t* value;
    bool escape;
    const wchar_t* expected;
};

const ReplaceCase kReplaces[] = {
    {"escaped value", L"(<name>) show", L"x(y", true, L"(x\\050y) show"},
    {"no tag", L"plain template", L"v", true, L"plain template"},
    {"escape off", L"A<name>B", L"(x)", false, L"A(x)B"},
    {"empty value removes tags", L"A<name>B<name>", L"", true, L"AB"},
    {"null value", L"<name>!", nullptr, false, L"!"},
    {"two tags", L"<name>=<name>", L"v", false, L"v=v"},
    {"two escaped tags", L"(<name>)(<name>)", L"\\", true, L"(\\134)(\\134)"},
    {"tag is everything", L"<name>", L"value", false, L"value"},
    {"double opening", L"<<name>>", L"v", false, L"<v>"},
};

TEST(TemplateTag, ReplaceTableWide) {
    for (const auto& c : kReplaces) {
        const int needed = ReplaceTemplateTag(L"name", c.value, c.templ, nullptr, 0, c.escape);
        ASSERT_GE(needed, static_cast<int>(wcslen(c.expected) + 1)) << c.name;
        std::wstring buffer(static_cast<size_t>(needed) + 4, L'#');
        EXPECT_EQ(needed, ReplaceTemplateTag(L"name", c.value, c.templ, buffer.data(), needed, c.escape)) << c.name;
        EXPECT_EQ(std::wstring(c.expected), buffer.c_str()) << c.name;
        EXPECT_EQ(L'#', buffer[static_cast<size_t>(needed)]) << c.name << ": nothing past the capacity";
    }
}

TEST(TemplateTag, ReplaceTableNarrow) {
    for (const auto& c : kReplaces) {
        StrUtil<char, wchar_t> templ(c.templ, 1252), value(c.value, 1252), expected(c.expected, 1252);
        const int needed = ReplaceTemplateTagA("name", value.Get(), templ.Get(), nullptr, 0, c.escape);
        ASSERT_GE(needed, static_cast<int>(strlen(expected.Get()) + 1)) << c.name;
        std::string buffer(static_cast<size_t>(needed) + 4, '#');
        EXPECT_EQ(needed, ReplaceTemplateTagA("name", value.Get(), templ.Get(), buffer.data(), needed, c.escape))
            << c.name;
        EXPECT_EQ(std::string(expected.Get()), buffer.c_str()) << c.name;
        EXPECT_EQ('#', buffer[static_cast<size_t>(needed)]) << c.name;
    }
}

TEST(TemplateTag, NoTagCopiesAndCountsLengthPlusOne) {
    EXPECT_EQ(6, ReplaceTemplateTag(L"name", L"v", L"abcde", nullptr, 0, false));
    wchar_t out[6];
    EXPECT_EQ(6, ReplaceTemplateTag(L"name", L"v", L"abcde", out, 6, false));
    EXPECT_EQ(std::wstring(L"abcde"), out);
}

TEST(TemplateTag, ShortBufferFailsWithoutOverrun) {
    const wchar_t* templ = L"Start <name> middle <name> end";
    const int needed = ReplaceTemplateTag(L"name", L"VALUE", templ, nullptr, 0, false);
    ASSERT_EQ(static_cast<int>(wcslen(L"Start VALUE middle VALUE end") + 1), needed);
    for (int size = 1; size < needed; ++size) {
        std::wstring buffer(static_cast<size_t>(needed) + 2, L'#');
        EXPECT_EQ(0, ReplaceTemplateTag(L"name", L"VALUE", templ, buffer.data(), size, false)) << "size " << size;
        EXPECT_EQ(L'#', buffer[static_cast<size_t>(size)]) << "size " << size;
        EXPECT_NE(std::wstring::npos, buffer.find(L'\0')) << "what was written stays terminated, size " << size;
        EXPECT_LT(buffer.find(L'\0'), static_cast<size_t>(size)) << "size " << size;
    }
    wchar_t out[4];
    EXPECT_EQ(0, ReplaceTemplateTag(L"name", L"v", L"x", out, 0, false));
    EXPECT_EQ(0, ReplaceTemplateTag(nullptr, L"v", L"x", out, 4, false));
    EXPECT_EQ(0, ReplaceTemplateTag(L"name", L"v", nullptr, out, 4, false));
}

}  // namespace
