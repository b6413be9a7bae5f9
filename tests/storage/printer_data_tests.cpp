// The printer fixture and the printer-data layer on Wine's spooler: whole-value reads with
// ERROR_MORE_DATA retries, terminated texts, and the replaceable table of calls.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <string>

#include "foundation/StrUtil.h"
#include "storage/PrinterData.h"
#include "tests/support/PrinterDataSeam.h"
#include "tests/support/TestPrinter.h"

using tolvatest::FixturePath;
using tolvatest::TestPrinter;
using tolvatest::TestPrinterSetup;

namespace {

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(TestPrinterFixture, InstallsDataFileAndCompanionsAndRemovesThem) {
    std::wstring dataFile, companion, printerName;
    {
        TestPrinterSetup setup;
        setup.dataFile = FixturePath(L"tolva-minimal.ppd");
        setup.companions.push_back({FixturePath(L"tolva-sample.ext"), L"{stem}.EXT"});
        TestPrinter printer(setup);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        dataFile = printer.DataFile();
        companion = printer.Beside(L"{stem}.EXT");
        printerName = printer.PrinterName();
        EXPECT_TRUE(FileExists(dataFile)) << dataFile;
        EXPECT_TRUE(FileExists(companion)) << companion;
        EXPECT_EQ(companion.substr(0, companion.size() - 4), dataFile.substr(0, dataFile.size() - 4));

        // The handle is a real printer of that name on the given port.
        DWORD size = 0;
        GetPrinterW(printer.Handle(), 2, nullptr, 0, &size);
        ASSERT_GT(size, 0u);
        std::unique_ptr<BYTE[]> info(new BYTE[size]);
        ASSERT_TRUE(GetPrinterW(printer.Handle(), 2, info.get(), size, &size));
        auto* pi = reinterpret_cast<PRINTER_INFO_2W*>(info.get());
        EXPECT_STREQ(pi->pPrinterName, printerName.c_str());
        EXPECT_STREQ(pi->pPortName, L"FILE:");
        // A file the code under test leaves under the stem goes too.
        HANDLE file = CreateFileW(printer.Beside(L"{stem}.PBJ").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                  nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    EXPECT_FALSE(FileExists(dataFile));
    EXPECT_FALSE(FileExists(companion));
    HANDLE reopened = nullptr;
    EXPECT_FALSE(OpenPrinterW(const_cast<wchar_t*>(printerName.c_str()), &reopened, nullptr));
    if (reopened)
        ClosePrinter(reopened);
}

TEST(TestPrinterFixture, MissingDataFileReportsTheStep) {
    TestPrinter printer(FixturePath(L"no-such-file.ppd"));
    EXPECT_FALSE(printer.Ok());
    EXPECT_NE(printer.Error().find(L"data file"), std::wstring::npos) << printer.Error();
}

TEST(TestPrinterFixture, AnyPortNameIsAccepted) {
    TestPrinter printer(FixturePath(L"tolva-minimal.ppd"), L"IP_10.1.2.3");
    ASSERT_TRUE(printer.Ok()) << printer.Error();
}

class PrinterDataTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(printer.Ok()) << printer.Error(); }
    TestPrinter printer{FixturePath(L"tolva-minimal.ppd")};
};

TEST_F(PrinterDataTest, NeutralAnswersForBadArguments) {
    DWORD needed = 0;
    EXPECT_EQ(PrnGetData(nullptr, L"X", nullptr, nullptr, 0, &needed), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(PrnGetData(printer.Handle(), nullptr, nullptr, nullptr, 0, &needed),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(PrnSetData(printer.Handle(), L"X", REG_SZ, nullptr, 4), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(PrnDeleteKey(nullptr, L"K"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(PrnReadValue(nullptr, L"X", nullptr, nullptr), nullptr);
    EXPECT_EQ(PrnGetText(printer.Handle(), nullptr), nullptr);
}

TEST_F(PrinterDataTest, TextRoundTripAndTypeCheck) {
    ASSERT_EQ(PrnSetText(printer.Handle(), L"Name", L"Tolva"), static_cast<DWORD>(ERROR_SUCCESS));
    WText text(PrnGetText(printer.Handle(), L"Name"));
    ASSERT_TRUE(text);
    EXPECT_STREQ(text.get(), L"Tolva");

    // A null text is written as the explicit text "(null)".
    ASSERT_EQ(PrnSetText(printer.Handle(), L"Nothing", nullptr), static_cast<DWORD>(ERROR_SUCCESS));
    WText null(PrnGetText(printer.Handle(), L"Nothing"));
    ASSERT_TRUE(null);
    EXPECT_STREQ(null.get(), L"(null)");

    const BYTE bytes[] = {1, 2, 3};
    ASSERT_EQ(PrnSetData(printer.Handle(), L"Binary", REG_BINARY, bytes, 3), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(PrnGetText(printer.Handle(), L"Binary"), nullptr) << "not REG_SZ";
    EXPECT_EQ(PrnGetText(printer.Handle(), L"Missing"), nullptr);

    DWORD type = 0, count = 0;
    ByteBuffer read(PrnReadValue(printer.Handle(), L"Binary", &type, &count));
    ASSERT_TRUE(read);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(std::memcmp(read.get(), bytes, 3), 0);
    EXPECT_EQ(read[3], 0);  // followed by a terminator that is not counted
    EXPECT_EQ(read[4], 0);
}

TEST_F(PrinterDataTest, UnterminatedTextIsTerminatedAtTheReturnedSize) {
    const wchar_t raw[] = {L'a', L'b', L'c'};  // no terminator stored
    ASSERT_EQ(PrnSetData(printer.Handle(), L"Raw", REG_SZ, raw, sizeof(raw)), static_cast<DWORD>(ERROR_SUCCESS));
    WText text(PrnGetText(printer.Handle(), L"Raw"));
    ASSERT_TRUE(text);
    EXPECT_STREQ(text.get(), L"abc");
}

// A spooler whose value grows between the size query and the read.
struct GrowingValue {
    static inline int calls = 0;
    static DWORD WINAPI Get(HANDLE, LPWSTR, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
        ++calls;
        const wchar_t* value = calls <= 2 ? L"short" : L"a much longer value";
        DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
        if (calls == 1)
            bytes = 4;  // the first answer is too small
        *needed = bytes;
        *type = REG_SZ;
        if (!data || size < bytes)
            return ERROR_MORE_DATA;
        std::memcpy(data, value, bytes);
        return ERROR_SUCCESS;
    }
};

TEST_F(PrinterDataTest, MoreDataRetriesWithTheLargerSize) {
    PrinterDataCalls calls = SpoolerPrinterDataCalls();
    calls.getData = &GrowingValue::Get;
    GrowingValue::calls = 0;
    const PrinterDataCalls* previous = SetPrinterDataCalls(&calls);
    WText text(PrnGetText(printer.Handle(), L"Growing"));
    SetPrinterDataCalls(previous);
    ASSERT_TRUE(text);
    EXPECT_STREQ(text.get(), L"a much longer value");
    EXPECT_EQ(GrowingValue::calls, 4);
}

TEST_F(PrinterDataTest, SeamDeletesKeysAndInjectsFailures) {
    ASSERT_EQ(PrnSetDataEx(printer.Handle(), L"{client}", L"A", REG_SZ, L"1", 4), static_cast<DWORD>(ERROR_SUCCESS));
    tolvatest::PrinterDataSeam seam;
    ASSERT_EQ(PrnDeleteKey(printer.Handle(), L"{client}"), static_cast<DWORD>(ERROR_SUCCESS));
    DWORD needed = 0, count = 0;
    EXPECT_NE(PrnEnumDataEx(printer.Handle(), L"{client}", nullptr, 0, &needed, &count),
              static_cast<DWORD>(ERROR_MORE_DATA))
        << "the key is gone";
    ASSERT_EQ(seam.DeletedKeys().size(), 1u);
    EXPECT_EQ(seam.DeletedKeys()[0], L"{client}");

    seam.FailSetData(L"*TwoWayComm", ERROR_ACCESS_DENIED);
    EXPECT_EQ(PrnSetData(printer.Handle(), L"*TwoWayComm", REG_BINARY, "ab", 2),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(PrnSetData(printer.Handle(), L"Other", REG_BINARY, "ab", 2), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
