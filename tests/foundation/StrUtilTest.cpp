// Code-page conversion, formatting, hexadecimal, path and resource helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/StrUtil.h"

namespace {

std::wstring W(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(L"<null>"); }
std::string A(const char* text) { return text ? std::string(text) : std::string("<null>"); }

// ---------------------------------------------------------------------------------
// Conversions

struct ToWideCase {
    const char* name;
    const char* input;
    UINT codePage;
    const wchar_t* expected;  // null: the conversion must fail
};

TEST(StrConvert, NarrowToWideTable) {
    const ToWideCase cases[] = {
        {"UTF-8 mark overrides 1252, mark kept", "\xEF\xBB\xBF" "caf\xC3\xA9", 1252, L"\xFEFF" L"caf\x00E9"},
        {"UTF-8 mark overrides code page 3", "\xEF\xBB\xBF\xE4\xB8\xAD", 3, L"\xFEFF\x4E2D"},
        {"1252 without mark", "caf\xE9", 1252, L"caf\x00E9"},
        {"UTF-8 bytes without mark read as 1252", "\xC3\xA9", 1252, L"\x00C3\x00A9"},
        {"UTF-8 asked for", "\xE4\xB8\xAD!", 65001, L"\x4E2D!"},
        {"code page 3 ASCII", "PostScript 3", 3, L"PostScript 3"},
        {"Shift-JIS", "\x93\xFA\x96\x7B", 932, L"\x65E5\x672C"},
        {"empty text", "", 1252, L""},
        {"unknown code page", "abc", 12345, nullptr},
    };
    for (const auto& c : cases) {
        StrUtil<wchar_t, char> wide(c.input, c.codePage);
        if (!c.expected) {
            EXPECT_EQ(nullptr, wide.Get()) << c.name;
            EXPECT_EQ(0, wide.Count()) << c.name;
            continue;
        }
        ASSERT_NE(nullptr, wide.Get()) << c.name;
        EXPECT_EQ(std::wstring(c.expected), wide.Get()) << c.name;
        EXPECT_EQ(static_cast<int>(wcslen(c.expected) + 1), wide.Count()) << c.name << ": count includes the terminator";
    }
}

struct ToNarrowCase {
    const char* name;
    const wchar_t* input;
    UINT codePage;
    const char* expected;
};

TEST(StrConvert, WideToNarrowTable) {
    const ToNarrowCase cases[] = {
        {"U+FEFF in the middle switches to UTF-8", L"x\xFEFFy\x00E9", 1252, "x\xEF\xBB\xBFy\xC3\xA9"},
        {"U+FEFF switches code page 3 too", L"\x00E9\xFEFF", 3, "\xC3\xA9\xEF\xBB\xBF"},
        {"1252", L"caf\x00E9", 1252, "caf\xE9"},
        {"UTF-8", L"caf\x00E9", 65001, "caf\xC3\xA9"},
        {"Shift-JIS", L"\x65E5\x672C", 932, "\x93\xFA\x96\x7B"},
        {"empty", L"", 1252, ""},
    };
    for (const auto& c : cases) {
        StrUtil<char, wchar_t> narrow(c.input, c.codePage);
        ASSERT_NE(nullptr, narrow.Get()) << c.name;
        EXPECT_EQ(std::string(c.expected), narrow.Get()) << c.name;
        EXPECT_EQ(static_cast<int>(strlen(c.expected) + 1), narrow.Count()) << c.name;
    }
}

TEST(StrConvert, CodePageThreeRoundTripsTheThreadAnsiText) {
    // Every character of the thread's ANSI code page survives wide -> 8-bit -> wide.
    std::string all;
    for (int b = 0x20; b < 0x100; ++b) all.push_back(static_cast<char>(b));
    StrUtil<wchar_t, char> wide(all.c_str());
    ASSERT_NE(nullptr, wide.Get());
    StrUtil<char, wchar_t> back(wide.Get());
    ASSERT_NE(nullptr, back.Get());
    StrUtil<wchar_t, char> again(back.Get());
    ASSERT_NE(nullptr, again.Get());
    EXPECT_EQ(std::wstring(wide.Get()), std::wstring(again.Get()));
    // Code page 3 is the thread's ANSI code page, not a fixed one.
    wchar_t* direct = nullptr;
    const int n = StrConvert(CP_THREAD_ACP).ToWide(&direct, "\xE9", 0, false);
    ASSERT_GT(n, 0);
    StrUtil<wchar_t, char> viaThree("\xE9");
    EXPECT_EQ(std::wstring(direct), std::wstring(viaThree.Get()));
    delete[] direct;
}

TEST(StrConvert, PartsOfATextAreTerminated) {
    StrUtil<wchar_t, char> wide("abcdef", 65001, 3);
    ASSERT_NE(nullptr, wide.Get());
    EXPECT_EQ(std::wstring(L"abc"), wide.Get());
    EXPECT_EQ(3, wide.Count()) << "a part counts no terminator";

    StrUtil<char, wchar_t> narrow(L"abcdef", 1252, 3);
    ASSERT_NE(nullptr, narrow.Get());
    EXPECT_EQ(std::string("abc"), narrow.Get()) << "the last character of a part is kept";
    EXPECT_EQ(3, narrow.Count());

    StrUtil<char, char> copy("abcdef", 0, 2);
    EXPECT_EQ(std::string("ab"), copy.Get());
    EXPECT_EQ(2, copy.Count());
    StrUtil<wchar_t, wchar_t> wcopy(L"abc");
    EXPECT_EQ(std::wstring(L"abc"), wcopy.Get());
    EXPECT_EQ(4, wcopy.Count());
}

TEST(StrConvert, CodePageArgumentIsNeverALength) {
    // StrUtil(text, CP_UTF8) must convert as UTF-8, not read 65001 bytes.
    StrUtil<wchar_t, char> wide("\xC3\xA9", CP_UTF8);
    ASSERT_NE(nullptr, wide.Get());
    EXPECT_EQ(std::wstring(L"\x00E9"), wide.Get());
}

TEST(StrConvert, NullAndBadArguments) {
    StrUtil<wchar_t, char> a(static_cast<const char*>(nullptr));
    StrUtil<char, wchar_t> b(static_cast<const wchar_t*>(nullptr));
    StrUtil<char, char> c(static_cast<const char*>(nullptr));
    EXPECT_EQ(nullptr, a.Get());
    EXPECT_EQ(nullptr, b.Get());
    EXPECT_EQ(nullptr, c.Get());
    StrConvert conv;
    EXPECT_EQ(0, conv.ToWide(nullptr, "x", 0, true));
    wchar_t* out = reinterpret_cast<wchar_t*>(1);
    EXPECT_EQ(0, conv.ToWide(&out, "x", -1, true));
    EXPECT_EQ(reinterpret_cast<wchar_t*>(1), out) << "nothing is stored on failure";

    StrUtil<wchar_t, char> owned("text");
    WText taken(owned.Detach());
    EXPECT_EQ(nullptr, owned.Get());
    EXPECT_EQ(std::wstring(L"text"), taken.get());
}

// ---------------------------------------------------------------------------------
// String wrappers

TEST(StrWrappers, BoundedCopiesNeverOverrun) {
    wchar_t buffer[6];
    wmemset(buffer, L'#', 6);
    EXPECT_EQ(buffer, StrCopy(buffer, 4, L"abcdef"));
    EXPECT_EQ(std::wstring(L"abc"), buffer) << "cut and terminated";
    EXPECT_EQ(L'#', buffer[4]);
    EXPECT_EQ(buffer, StrNCopy(buffer, 6, L"abcdef", 2));
    EXPECT_EQ(std::wstring(L"ab"), buffer);
    char narrow[4];
    EXPECT_EQ(narrow, StrCopyA(narrow, sizeof(narrow), "xyz"));
    EXPECT_EQ(std::string("xyz"), narrow);
    EXPECT_EQ(nullptr, StrCopy(nullptr, 4, L"x"));
    EXPECT_EQ(0u, StrLen(nullptr));
    EXPECT_EQ(3u, StrLenA("abc"));
    EXPECT_EQ(nullptr, StrChr(static_cast<const wchar_t*>(nullptr), L'a'));
    EXPECT_EQ(0, StrNCmp(L"abcX", L"abcY", 3));
    EXPECT_LT(StrNCmpA("abc", "abd", 3), 0);
}

// ---------------------------------------------------------------------------------
// Formatting: the platform meaning of %s in wide formats

TEST(Formatting, WideFormatsHaveThePlatformMeaning) {
    WText wide(FormatAlloc(L"%s", L"WIDE"));
    ASSERT_TRUE(wide);
    EXPECT_EQ(std::wstring(L"WIDE"), wide.get()) << "%s in a wide format is a wide string";
    WText narrowArg(FormatAlloc(L"%hs", "narrow"));
    ASSERT_TRUE(narrowArg);
    EXPECT_EQ(std::wstring(L"narrow"), narrowArg.get()) << "%hs is a narrow string";
    WText explicitWide(FormatAlloc(L"[%ls|%hs]", L"w", "n"));
    EXPECT_EQ(std::wstring(L"[w|n]"), explicitWide.get());
    AText narrow(FormatAllocA("%s", "x"));
    ASSERT_TRUE(narrow);
    EXPECT_EQ(std::string("x"), narrow.get());
    AText narrowWide(FormatAllocA("%ls", L"w"));
    EXPECT_EQ(std::string("w"), narrowWide.get());
    WText numbers(FormatAlloc(L"%d|%u|%08X|%x|%c", -5, 7u, 0xBEEFu, 255u, L'Z'));
    EXPECT_EQ(std::wstring(L"-5|7|0000BEEF|ff|Z"), numbers.get());
    WText path(FormatAlloc(L"%s\\%s", L"Software\\VYR", L"Child"));
    EXPECT_EQ(std::wstring(L"Software\\VYR\\Child"), path.get());
}

TEST(Formatting, SizeQueryThenFill) {
    EXPECT_EQ(3, FormatToBuffer(nullptr, 0, L"%d", 42));
    wchar_t buffer[8];
    wmemset(buffer, L'#', 8);
    EXPECT_EQ(3, FormatToBuffer(buffer, 3, L"%d", 42)) << "an exact fit";
    EXPECT_EQ(std::wstring(L"42"), buffer);
    EXPECT_EQ(3, FormatToBufferA(nullptr, 0, "%d", 42));
    char narrow[3];
    EXPECT_EQ(3, FormatToBufferA(narrow, 3, "%d", 42));
    EXPECT_EQ(std::string("42"), narrow);
}

TEST(Formatting, TruncationFailsWithoutOverrun) {
    wchar_t buffer[8];
    wmemset(buffer, L'#', 8);
    EXPECT_EQ(0, FormatToBuffer(buffer, 2, L"%d", 42)) << "one character short";
    EXPECT_EQ(std::wstring(L"4"), buffer) << "the cut text stays terminated";
    EXPECT_EQ(L'#', buffer[2]) << "nothing written past the capacity";
    wmemset(buffer, L'#', 8);
    EXPECT_EQ(0, FormatToBuffer(buffer, 4, L"%s", L"longer than four"));
    EXPECT_EQ(L'#', buffer[4]);
    wmemset(buffer, L'#', 8);
    EXPECT_EQ(0, FormatToBuffer(buffer, 0, L"%d", 1));
    EXPECT_EQ(L'#', buffer[0]);
    char narrow[4];
    memset(narrow, '#', 4);
    EXPECT_EQ(0, FormatToBufferA(narrow, 3, "%s", "abc"));
    EXPECT_EQ(std::string("ab"), narrow);
    EXPECT_EQ('#', narrow[3]);
}

TEST(Formatting, EmptyAndNullResults) {
    WText empty(FormatAlloc(L"%s", L""));
    ASSERT_TRUE(empty) << "the wide form returns an empty text";
    EXPECT_EQ(L'\0', empty[0]);
    EXPECT_EQ(nullptr, FormatAllocA("%s", "")) << "the narrow form returns null for an empty text";
    EXPECT_EQ(nullptr, FormatAlloc(nullptr));
    EXPECT_EQ(nullptr, FormatAllocA(nullptr));
    EXPECT_EQ(0, FormatToBuffer(nullptr, 0, nullptr));
    WText dup(StrDup(L"copy"));
    EXPECT_EQ(std::wstring(L"copy"), dup.get());
    EXPECT_EQ(nullptr, StrDup(nullptr));
}

TEST(Formatting, LongTextsAllocateExactly) {
    std::wstring big(5000, L'x');
    WText text(FormatAlloc(L"<%s>", big.c_str()));
    ASSERT_TRUE(text);
    EXPECT_EQ(5002u, wcslen(text.get()));
}

// ---------------------------------------------------------------------------------
// Hexadecimal

TEST(Hex, BytesToHexCases) {
    const uint8_t bytes[] = {0x0A, 0xF1};
    EXPECT_EQ(4, BytesToHex(bytes, 2, nullptr, 0));
    wchar_t out[6];
    wmemset(out, L'#', 6);
    EXPECT_EQ(4, BytesToHex(bytes, 2, out, 4));
    EXPECT_EQ(std::wstring(L"0AF1"), std::wstring(out, 4));
    EXPECT_EQ(L'#', out[4]) << "no terminator is added";
    wmemset(out, L'#', 6);
    EXPECT_EQ(0, BytesToHex(bytes, 2, out, 3));
    EXPECT_EQ(L'#', out[0]) << "a short buffer is left untouched";
    char narrow[4];
    EXPECT_EQ(4, BytesToHexA(bytes, 2, narrow, 4));
    EXPECT_EQ(std::string("0AF1"), std::string(narrow, 4));
    EXPECT_EQ(0, BytesToHex(nullptr, 2, out, 6));
    EXPECT_EQ(0, BytesToHex(bytes, -1, out, 6));
}

TEST(Hex, HexToBytesCases) {
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(2, HexToBytes(L"0af1", out, 4));
    EXPECT_EQ(0x0A, out[0]);
    EXPECT_EQ(0xF1, out[1]);
    EXPECT_EQ(0xEE, out[2]);
    EXPECT_EQ(1, HexToBytes(L"0af", nullptr, 0)) << "a trailing odd digit is ignored";
    EXPECT_EQ(1, HexToBytes(L"0af", out, 4));
    EXPECT_EQ(0x0A, out[0]);
    out[0] = 0xEE;
    EXPECT_EQ(0, HexToBytes(L"0af1", out, 1));
    EXPECT_EQ(0xEE, out[0]) << "a short buffer is left untouched";
    EXPECT_EQ(0, HexToBytes(nullptr, out, 4));
}

TEST(Hex, AllBytesRoundTrip) {
    uint8_t bytes[256];
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(i);
    wchar_t hex[513];
    ASSERT_EQ(512, BytesToHex(bytes, 256, hex, 512));
    hex[512] = 0;
    uint8_t back[256];
    ASSERT_EQ(256, HexToBytes(hex, back, 256));
    EXPECT_EQ(0, memcmp(bytes, back, 256));
}

// ---------------------------------------------------------------------------------
// Paths

struct ExtCase {
    const char* name;
    const wchar_t* path;
    const wchar_t* ext;
    const wchar_t* expected;
};

TEST(Paths, ReplaceExtensionTable) {
    const ExtCase cases[] = {
        {"driver data file", L"C:\\windows\\system32\\spool\\drivers\\x64\\3\\TOLVA.PPD", L".PBJ",
         L"C:\\windows\\system32\\spool\\drivers\\x64\\3\\TOLVA.PBJ"},
        {"extension without dot", L"C:\\d\\file.ppd", L"LAN", L"C:\\d\\file.LAN"},
        {"no extension", L"file", L".SRV", L"file.SRV"},
        {"dot in a directory", L"C:\\a.b\\file", L".KQM", L"C:\\a.b\\file.KQM"},
        {"two dots", L"C:\\d\\x.tar.gz", L".OEM", L"C:\\d\\x.tar.OEM"},
        {"forward slashes", L"C:/d/f.ppd", L".UAT", L"C:/d/f.UAT"},
        {"UNC path", L"\\\\server\\share\\p.ppd", L".DLL", L"\\\\server\\share\\p.DLL"},
    };
    for (const auto& c : cases) {
        wchar_t out[MAX_PATH];
        EXPECT_EQ(0, ReplaceExtension(out, MAX_PATH, c.path, c.ext)) << c.name;
        EXPECT_EQ(std::wstring(c.expected), out) << c.name;
        WText alloc(ReplaceExtensionAlloc(c.path, c.ext));
        ASSERT_TRUE(alloc) << c.name;
        EXPECT_EQ(std::wstring(c.expected), alloc.get()) << c.name;
    }
}

TEST(Paths, OverlongPathsFailWithEmptyOutput) {
    // 308 characters: the directory part is longer than 256.
    std::wstring path = L"C:\\" + std::wstring(293, L'd') + L"\\printer.ppd";
    ASSERT_EQ(308u, path.size());
    wchar_t out[MAX_PATH];
    wmemset(out, L'#', MAX_PATH);
    EXPECT_NE(0, ReplaceExtension(out, MAX_PATH, path.c_str(), L".PBJ"));
    EXPECT_EQ(L'\0', out[0]) << "never a bare extension";
    wmemset(out, L'#', MAX_PATH);
    MakeSiblingPath(out, MAX_PATH, path.c_str(), L".LAN");
    EXPECT_EQ(L'\0', out[0]);
    EXPECT_EQ(nullptr, ReplaceExtensionAlloc(path.c_str(), L".PBJ"));
    EXPECT_EQ(nullptr, GetPathDirectory(path.c_str()));
    EXPECT_EQ(nullptr, GetPathStem(path.c_str()));

    std::wstring longName = L"C:\\d\\" + std::wstring(300, L'n') + L".ppd";
    EXPECT_EQ(nullptr, ReplaceExtensionAlloc(longName.c_str(), L".PBJ"));
    EXPECT_EQ(nullptr, GetPathFileName(longName.c_str()));
}

TEST(Paths, ResultLongerThanTheBufferFails) {
    wchar_t out[12];
    wmemset(out, L'#', 12);
    EXPECT_NE(0, ReplaceExtension(out, 8, L"C:\\dir\\file.ppd", L".PBJ"));
    EXPECT_EQ(L'\0', out[0]);
    EXPECT_EQ(L'#', out[8]) << "nothing written past the capacity";
    EXPECT_NE(0, ReplaceExtension(out, 12, nullptr, L".x"));
    EXPECT_EQ(nullptr, ReplaceExtensionAlloc(nullptr, L".x"));
    EXPECT_EQ(nullptr, ReplaceExtensionAlloc(L"a.b", nullptr));
}

TEST(Paths, PartsOfAPath) {
    struct Case {
        const wchar_t* path;
        const wchar_t* dir;
        const wchar_t* file;
        const wchar_t* stem;
    } cases[] = {
        {L"C:\\dir\\sub\\file.ppd", L"C:\\dir\\sub\\", L"file.ppd", L"file"},
        {L"file.ppd", L"", L"file.ppd", L"file"},
        {L"C:file", L"C:", L"file", L"file"},
        {L"\\dir\\", L"\\dir\\", L"", L""},
    };
    for (const auto& c : cases) {
        WText dir(GetPathDirectory(c.path)), file(GetPathFileName(c.path)), stem(GetPathStem(c.path));
        EXPECT_EQ(W(c.dir), W(dir.get())) << W(c.path).size();
        EXPECT_EQ(W(c.file), W(file.get()));
        EXPECT_EQ(W(c.stem), W(stem.get()));
    }
    EXPECT_EQ(nullptr, GetPathDirectory(nullptr));
    EXPECT_EQ(nullptr, GetPathFileName(nullptr));
    EXPECT_EQ(nullptr, GetPathStem(nullptr));
}

// ---------------------------------------------------------------------------------
// Resources (the test program's own string table and dialog)

TEST(Resources, StringTableEntries) {
    HMODULE self = GetModuleHandleW(nullptr);
    struct Case {
        UINT id;
        const wchar_t* expected;
    } cases[] = {{1, L"one"}, {3, L"three"}, {17, L"seventeen"}, {31, L"thirty-one"},
                 {2, nullptr}, {16, nullptr}, {9999, nullptr}};
    for (const auto& c : cases) {
        WText text(LoadStringResource(self, c.id, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), 3));
        EXPECT_EQ(W(c.expected), W(text.get())) << "string " << c.id;
    }
    WText other(LoadStringResource(self, 1, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), 3));
    EXPECT_EQ(std::wstring(L"one"), W(other.get())) << "falls back to the module's own choice";
    EXPECT_EQ(nullptr, LoadStringResource(nullptr, 1, 0, 3));
}

TEST(Resources, DialogAndRawData) {
    HMODULE self = GetModuleHandleW(nullptr);
    DWORD size = 0;
    const void* dialog = LoadDialogResource(self, MAKEINTRESOURCEW(100), 0, &size);
    ASSERT_NE(nullptr, dialog);
    EXPECT_GT(size, 20u);
    // DIALOGEX starts with dlgVer 1 and signature 0xFFFF.
    const WORD* words = static_cast<const WORD*>(dialog);
    EXPECT_EQ(1, words[0]);
    EXPECT_EQ(0xFFFF, words[1]);
    size = 7;
    EXPECT_EQ(nullptr, LoadResourceData(self, RT_DIALOG, MAKEINTRESOURCEW(101), 0, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(nullptr, LoadDialogResource(nullptr, MAKEINTRESOURCEW(100), 0));
}

TEST(Resources, StringTableBlocksAreBoundedByTheirSize) {
    // Entry 0 "abc", entry 1 empty, entry 2 "xy", then the block ends.
    const wchar_t block[] = {3, L'a', L'b', L'c', 0, 2, L'x', L'y'};
    const DWORD bytes = sizeof(block);
    struct Case {
        unsigned index;
        const wchar_t* expected;
    } cases[] = {{0, L"abc"}, {1, nullptr}, {2, L"xy"}, {3, nullptr}, {15, nullptr}, {16, nullptr}};
    for (const auto& c : cases) {
        WText text(CopyStringTableEntry(block, bytes, c.index, 3));
        EXPECT_EQ(W(c.expected), W(text.get())) << "entry " << c.index;
    }
    // A count that runs past the end of the block is refused, not read.
    const wchar_t hostile[] = {0x7FFF, L'a'};
    EXPECT_EQ(nullptr, CopyStringTableEntry(hostile, sizeof(hostile), 0, 3));
    EXPECT_EQ(nullptr, CopyStringTableEntry(block, 6, 2, 3)) << "block cut before entry 2";
    EXPECT_EQ(nullptr, CopyStringTableEntry(nullptr, 16, 0, 3));
}

TEST(Holders, SecretTextsAreWipedAndFreed) {
    SecretWText secret(StrDup(L"password"));
    EXPECT_EQ(std::wstring(L"password"), secret.get());
    secret.reset();
    SecretAText narrow(StrDupA("pin"));
    EXPECT_EQ(std::string("pin"), A(narrow.get()));
    wchar_t buffer[4] = {L'a', L'b', L'c', 0};
    WipeMemory(buffer, sizeof(buffer));
    for (wchar_t ch : buffer) EXPECT_EQ(L'\0', ch);
}

}  // namespace
