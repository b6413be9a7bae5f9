// PPD byte sources: line breaks, the 255-byte line limit, chunk boundaries of
// the file stream, code-page conversion, and the file and resource plug-ins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ppd/PPDIO.h"
#include "tests/ppd/PPDTestUtil.h"

using namespace PPDParser;

namespace {

std::wstring TempPath(const wchar_t* name) { return std::wstring(TOLVA_BINARY_DIR_W) + L"\\" + name; }

// All lines of a stream (with their break characters), and the final status.
std::vector<std::wstring> AllLines(CBaseIO& io, UINT codePage = 1252, int* finalStatus = nullptr) {
    std::vector<std::wstring> lines;
    wchar_t buffer[258];
    int length = 0;
    while (io.ReadLine(buffer, 258, 256, &length, codePage)) lines.emplace_back(buffer);
    if (finalStatus) *finalStatus = io.GetStatus();
    return lines;
}

std::vector<std::wstring> FileLines(const std::string& bytes, int* finalStatus = nullptr) {
    const std::wstring path = TempPath(L"io_lines.txt");
    EXPECT_TRUE(ppdtest::WriteBytes(path, bytes));
    CFileIOPlugIn plugIn(path.c_str());
    CFunctIO io(&plugIn);
    EXPECT_EQ(io.GetState(), kStateOpen);
    return AllLines(io, 1252, finalStatus);
}

struct BreakCase {
    const char* name;
    std::string input;
    std::vector<std::wstring> lines;
};

const std::vector<BreakCase> kBreakCases = {
    {"CR", "a\rb\r", {L"a\r", L"b\r"}},
    {"LF", "a\nb\n", {L"a\n", L"b\n"}},
    {"CRLF", "a\r\nb\r\n", {L"a\r\n", L"b\r\n"}},
    {"LFCR", "a\n\rb\n\r", {L"a\n\r", L"b\n\r"}},
    {"mixed", "a\r\nb\nc\rd\n\re", {L"a\r\n", L"b\n", L"c\r", L"d\n\r", L"e"}},
    {"blank line", "a\r\n\r\nb\r\n", {L"a\r\n", L"\r\n", L"b\r\n"}},
    {"two CRs are two lines", "a\r\rb", {L"a\r", L"\r", L"b"}},
    {"last line without break", "x\r\nlast", {L"x\r\n", L"last"}},
    {"only a break", "\n", {L"\n"}},
};

}  // namespace

TEST(PPDIO, LineBreaksFromMemoryAndFile) {
    for (const BreakCase& c : kBreakCases) {
        CMemIO mem(c.input.data(), static_cast<unsigned>(c.input.size()));
        EXPECT_EQ(AllLines(mem), c.lines) << "memory: " << c.name;
        EXPECT_EQ(FileLines(c.input), c.lines) << "file: " << c.name;
    }
}

TEST(PPDIO, LineOf255BytesIsReadAnd256IsRefused) {
    const std::string ok(255, 'a');
    const std::string tooLong(256, 'b');
    int status = -1;
    auto lines = FileLines(ok + "\r\n" + "next\r\n", &status);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::wstring(255, L'a') + L"\r\n");
    EXPECT_EQ(status, kIOEndOfData);

    // The first over-long line ends the reading of its source.
    lines = FileLines("first\r\n" + tooLong + "\r\nafter\r\n", &status);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], L"first\r\n");
    EXPECT_EQ(status, kIOLineTooLong);

    CMemIO mem(tooLong.data(), static_cast<unsigned>(tooLong.size()));
    lines = AllLines(mem, 1252, &status);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(status, kIOLineTooLong);
}

TEST(PPDIO, ChunkBoundariesKeepEveryLine) {
    const unsigned chunk = CFunctIO::kBufferSize;
    struct Case {
        const char* name;
        std::string bytes;
    };
    // Lines of 9 characters and LF: a tenth of the chunk size of them fill one chunk exactly.
    std::string exact;
    for (unsigned i = 0; i < chunk / 10; ++i) exact += "line_" + std::string(4 - std::to_string(i % 1000).size(), '0') + std::to_string(i % 1000) + "\n";
    exact.resize(chunk);
    std::string noBreak = exact;
    noBreak.back() = 'Z';  // a chunk-sized file whose last line has no break
    std::string straddle(chunk - 1, 'x');
    for (size_t i = 100; i < straddle.size(); i += 100) straddle[i] = '\n';
    straddle += "\r\nend";  // CR is the chunk's last byte, its LF the next chunk's first
    const std::vector<Case> cases = {
        {"empty file", ""},
        {"exactly one chunk ending in LF", exact},
        {"exactly one chunk without final break", noBreak},
        {"two chunks exactly", exact + exact},
        {"CR LF across the chunk boundary", straddle},
    };
    for (const Case& c : cases) {
        CMemIO mem(c.bytes.data(), static_cast<unsigned>(c.bytes.size()));
        const auto expected = AllLines(mem);
        int status = -1;
        const auto got = FileLines(c.bytes, &status);
        EXPECT_EQ(got, expected) << c.name;
        EXPECT_EQ(status, kIOEndOfData) << c.name;
        std::wstring joined;
        for (const auto& l : got) joined += l;
        EXPECT_EQ(joined.size(), c.bytes.size()) << c.name << ": every byte arrives once";
    }
}

TEST(PPDIO, MultiByteLineIsTerminatedAfterItsLastCharacter) {
    struct Case {
        const char* name;
        UINT codePage;
        std::string bytes;
        std::wstring text;
    };
    const std::vector<Case> cases = {
        {"UTF-8", 65001, "Gr\xC3\xBC\xC3\x9F" "e\r\n", L"Gr\u00FC\u00DFe\r\n"},
        {"Shift-JIS", 932, "\x97\x70\x8E\x86\r\n", L"\u7528\u7D19\r\n"},
        {"UTF-8 without break", 65001, "\xE2\x82\xAC", L"\u20AC"},
    };
    for (const Case& c : cases) {
        CMemIO mem(c.bytes.data(), static_cast<unsigned>(c.bytes.size()));
        wchar_t buffer[258];
        wmemset(buffer, L'#', 258);
        int length = -1;
        ASSERT_TRUE(mem.ReadLine(buffer, 258, 256, &length, c.codePage)) << c.name;
        EXPECT_EQ(std::wstring(buffer), c.text) << c.name;
        EXPECT_EQ(buffer[c.text.size()], L'\0') << c.name;
        EXPECT_EQ(buffer[c.text.size() + 1], L'#') << c.name << ": nothing written past the terminator";
    }
}

TEST(PPDIO, StreamOffsetCountsConsumedBytes) {
    const std::string text = "ab\r\ncde\nf";
    CMemIO mem(text.data(), static_cast<unsigned>(text.size()));
    wchar_t buffer[258];
    int length = 0;
    EXPECT_EQ(mem.GetOffset(), 0u);
    ASSERT_TRUE(mem.ReadLine(buffer, 258, 256, &length, 1252));
    EXPECT_EQ(length, 2);
    EXPECT_EQ(mem.GetOffset(), 4u);
    ASSERT_TRUE(mem.ReadLine(buffer, 258, 256, &length, 1252));
    EXPECT_EQ(mem.GetOffset(), 8u);
    ASSERT_TRUE(mem.ReadLine(buffer, 258, 256, &length, 1252));
    EXPECT_EQ(mem.GetOffset(), 9u);
    EXPECT_FALSE(mem.ReadLine(buffer, 258, 256, &length, 1252));
    EXPECT_EQ(mem.GetStatus(), kIOEndOfData);
}

TEST(PPDIO, FilePlugInRefusesOverlongNamesAndSharesWithWriters) {
    const std::wstring longName(MAX_PATH, L'a');
    CFileIOPlugIn tooLong(longName.c_str());
    EXPECT_EQ(tooLong.GetName(), nullptr) << "an over-long name is refused, not cut";
    EXPECT_FALSE(tooLong.Open(kModeRead));

    const std::wstring path = TempPath(L"io_shared.txt");
    ASSERT_TRUE(ppdtest::WriteBytes(path, "*PPD-Adobe: \"4.3\"\r\n"));
    // Another process keeps the file open for writing.
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    CFileIOPlugIn reader(path.c_str());
    EXPECT_TRUE(reader.Open(kModeRead));
    char bytes[8] = {};
    EXPECT_EQ(reader.Read(bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), "*PPD");
    EXPECT_TRUE(reader.Close());
    CloseHandle(writer);

    EXPECT_FALSE(reader.Open(7)) << "a mode outside the table";
    CFileIOPlugIn missing(TempPath(L"does-not-exist.ppd").c_str());
    CFunctIO io(&missing);
    EXPECT_EQ(io.GetState(), kStateClosed);
    EXPECT_EQ(io.GetStatus(), kIOOpenFailed);
}

TEST(PPDIO, ResourcePlugInReadsTheLanguageModule) {
    const std::wstring module = std::wstring(TOLVA_BINARY_DIR_W) + L"\\tolva-sample.LAN";
    const std::string expected =
        ppdtest::ReadBytes(std::wstring(TOLVA_SOURCE_DIR_W) + L"\\tests\\ppd\\data\\tolva-sample.ext");
    ASSERT_EQ(expected.size(), 2816u);

    for (int mode : {kModeWrite, kModeReadWrite}) {
        CResIOPlugIn res(module.c_str(), L"PPD", L"IDR_PPDEXTENSIONS", 0x409);
        EXPECT_FALSE(res.Open(mode)) << "mode " << mode;
        EXPECT_FALSE(res.IsModuleLoaded()) << "mode " << mode << " loads nothing";
    }

    CResIOPlugIn res(module.c_str(), L"PPD", L"IDR_PPDEXTENSIONS", 0x409);
    ASSERT_TRUE(res.Open(kModeRead));
    std::string got(4096, '\0');
    got.resize(res.Read(&got[0], 4096));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(res.Read(&got[0], 16), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_FALSE(res.Open(kModeRead)) << "already open";
    EXPECT_TRUE(res.Close());

    // A clone reads another resource of the same module in another language.
    std::unique_ptr<CBaseFileIOPlugIn> other(res.Clone(L"NO_SUCH_RESOURCE", 0x407));
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(other->Open(kModeRead));
    std::unique_ptr<CBaseFileIOPlugIn> same(res.Clone(L"IDR_PPDEXTENSIONS", 0x407));
    ASSERT_TRUE(same->Open(kModeRead)) << "falls back to the module's default language";

    CResIOPlugIn noModule(TempPath(L"missing.LAN").c_str(), L"PPD", L"IDR_PPDEXTENSIONS", 0x409);
    EXPECT_FALSE(noModule.Open(kModeRead));
}
