// The OEM module manager against the test modules: binding of the optional entry points, the two
// password encryptions checked against independently computed cipher texts, key material that is
// missing or too short, job buffers, and the picture layers from the module or its Res.xml.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestModulesDir.h"
#include "tests/standins/ModuleCallLog.h"
#include "foundation/StrUtil.h"
#include "storage/OEMManager.h"

namespace {

std::wstring ModulePath(const wchar_t* file)
{
    return std::wstring(TOLVA_TEST_MODULES_DIR_W) + L"\\" + file;
}


// Holds an acquired interface for one scope.
class OemHold {
public:
    explicit OemHold(const std::wstring& path) : m_path(path), m_oem(AcquireOEMInterface(nullptr, m_path.c_str())) {}
    ~OemHold() { ReleaseOEMInterface(nullptr, m_path.c_str(), m_oem); }
    COEMInterface* operator->() const { return m_oem; }
    COEMInterface* Get() const { return m_oem; }

private:
    std::wstring m_path;
    COEMInterface* m_oem;
};

std::string Narrow(const wchar_t* text)
{
    std::string out;
    for (; text != nullptr && *text != L'\0'; ++text)
        out += static_cast<char>(*text);
    return out;
}

TEST(OEMManagerTest, OptionalEntryPointsAreBoundWhenPresent)
{
    const struct {
        const wchar_t* file;
        bool info, bufferEx, buffer, encryption;
    } cases[] = {
        {L"PRNFULL.OEM", true, true, true, true},
        {L"PRNNOINFO.OEM", false, true, true, true},
        {L"PRNBARE.OEM", false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.file));
        OemHold oem(ModulePath(c.file));
        ASSERT_NE(oem.Get(), nullptr);
        EXPECT_NE(oem->GetModule(), nullptr);
        EXPECT_EQ(oem->HasEntryPoint("OEMGetPrinterBitmapInfo"), c.info);
        EXPECT_EQ(oem->HasEntryPoint("GetBufferEx"), c.bufferEx);
        EXPECT_EQ(oem->HasEntryPoint("GetBuffer"), c.buffer);
        EXPECT_EQ(oem->HasEntryPoint("GetEncryptionData"), c.encryption);
    }
}

TEST(OEMManagerTest, MissingModuleGivesNullAndHoldsNoLock)
{
    const std::wstring path = ModulePath(L"NOSUCH.OEM");
    EXPECT_EQ(AcquireOEMInterface(nullptr, path.c_str()), nullptr);
    EXPECT_EQ(AcquireOEMInterface(nullptr, nullptr), nullptr);
    ReleaseOEMInterface(nullptr, path.c_str(), nullptr);
    // Another thread gets the same answer at once: the failed acquire left nothing locked.
    COEMInterface* other = reinterpret_cast<COEMInterface*>(1);
    std::thread worker([&] { other = AcquireOEMInterface(nullptr, path.c_str()); });
    worker.join();
    EXPECT_EQ(other, nullptr);
}

TEST(OEMManagerTest, ManagerIsMadeOncePerPath)
{
    const std::wstring path = ModulePath(L"PRNFULL.OEM");
    Syncher<OEMManager>& first = GetOEMManager(path.c_str());
    std::wstring other = path;
    for (auto& ch : other)
        ch = static_cast<wchar_t>(towlower(ch));
    EXPECT_EQ(&GetOEMManager(other.c_str()), &first) << "the same file in another case";
    EXPECT_NE(&GetOEMManager(ModulePath(L"PRNSHORT.OEM").c_str()), &first);
}

// Expected cipher texts computed once with OpenSSL 3.0 on the build machine, e.g.
//   printf '12345678\x08\x08\x08\x08\x08\x08\x08\x08' |
//     openssl enc -des-ecb -provider legacy -provider default -K 603DEB1015CA71BE -nopad | xxd -p -u
//   printf '\x00\x0e...\x0e' | openssl enc -aes-256-cbc -K 603DEB10...14DFF4 -iv 603DEB10...857D7781 -nopad
// The DES key is the first 8 key bytes; the AES key is all 32, its chaining start the first 16.
struct CipherCase {
    const wchar_t* module;
    const char* text;
    const char* algo1;  // null: must fail
    const char* algo2;  // null: must fail
};

const CipherCase kCipherCases[] = {
    {L"PRNFULL.OEM", "12345678", "4CB8EEAC1A915055B7DC47CA5CE42DDA", nullptr},
    {L"PRNFULL.OEM", "", "B7DC47CA5CE42DDA", "95E16825B97F6B6487BCDE83DABB3B9C"},
    {L"PRNFULL.OEM", "abc", "B2FFF1742F679D5D", nullptr},
    {L"PRNFULL.OEM", "secret", nullptr, "269549603DF5B99A3AC3EACC5EA0EE0D"},
    {L"PRNFULL.OEM", "ABCDEFGHIJKLMNO", nullptr,
     "0319D82AC5518C7BE3B1DAA59CF5B266FEB7CEFA1FF653733DB5C26D0FA4B498"},
    // Another module's keys in the same process: its own results.
    {L"PRNSHORT.OEM", "12345678", "8B96B79529CCA218FDF2E174492922F8", nullptr},
};

TEST(OEMManagerTest, EncryptionsMatchIndependentComputation)
{
    for (const auto& c : kCipherCases) {
        SCOPED_TRACE(Narrow(c.module) + " \"" + c.text + "\"");
        OemHold oem(ModulePath(c.module));
        ASSERT_NE(oem.Get(), nullptr);
        const size_t length = std::strlen(c.text);
        if (c.algo1 != nullptr) {
            const int padded = static_cast<int>((length / 8) * 8 + 8);
            ASSERT_EQ(oem->EncryptAlgo1A(c.text, nullptr, 0), 2 * padded + 1);
            std::vector<char> out(static_cast<size_t>(2 * padded + 1), 'x');
            EXPECT_EQ(oem->EncryptAlgo1A(c.text, out.data(), static_cast<int>(out.size())), 2 * padded);
            EXPECT_STREQ(out.data(), c.algo1);

            StrUtil<wchar_t, char> wide(c.text);
            std::vector<wchar_t> wout(static_cast<size_t>(2 * padded + 1), L'x');
            ASSERT_EQ(oem->EncryptAlgo1(wide.Get(), nullptr, 0), 2 * padded + 1);
            EXPECT_EQ(oem->EncryptAlgo1(wide.Get(), wout.data(), static_cast<int>(wout.size())), 2 * padded);
            EXPECT_EQ(Narrow(wout.data()), c.algo1);
        }
        if (c.algo2 != nullptr) {
            const int size = static_cast<int>(2 * length + 41);
            ASSERT_EQ(oem->EncryptAlgo2A(c.text, nullptr, 0), size);
            std::vector<char> out(static_cast<size_t>(size), 'x');
            EXPECT_EQ(oem->EncryptAlgo2A(c.text, out.data(), size), static_cast<int>(std::strlen(c.algo2)));
            EXPECT_STREQ(out.data(), c.algo2);

            StrUtil<wchar_t, char> wide(c.text);
            std::vector<wchar_t> wout(static_cast<size_t>(size), L'x');
            EXPECT_EQ(oem->EncryptAlgo2(wide.Get(), wout.data(), size), static_cast<int>(std::strlen(c.algo2)));
            EXPECT_EQ(Narrow(wout.data()), c.algo2);
        }
    }
}

TEST(OEMManagerTest, EightCharactersGiveTwoBlocks)
{
    OemHold oem(ModulePath(L"PRNFULL.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    wchar_t out[64] = {};
    const int written = oem->EncryptAlgo1(L"12345678", out, 64);
    EXPECT_EQ(written, 32);
    EXPECT_EQ(wcslen(out), 32u);
    // The second block is the cipher of a whole block of padding: the same as for "".
    wchar_t empty[64] = {};
    ASSERT_EQ(oem->EncryptAlgo1(L"", empty, 64), 16);
    EXPECT_EQ(std::wstring(out + 16), std::wstring(empty));
}

TEST(OEMManagerTest, MissingOrShortKeyMaterialFailsInsteadOfOverreading)
{
    const struct {
        const wchar_t* module;
        int keyBytes;
        bool des, aes;
    } cases[] = {
        {L"PRNBARE.OEM", 0, false, false},   // no string resource 1
        {L"PRNSHORT.OEM", 8, true, false},   // 8 bytes: DES only
        {L"PRNFULL.OEM", 32, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.module));
        OemHold oem(ModulePath(c.module));
        ASSERT_NE(oem.Get(), nullptr);
        EXPECT_EQ(oem->GetAlgorithmData(L"Algo_1", nullptr, 0), c.keyBytes);
        EXPECT_EQ(oem->GetAlgorithmData(L"Algo_2_Extra", nullptr, 0), c.keyBytes);
        wchar_t out[128] = L"untouched";
        char outA[128] = "untouched";
        EXPECT_EQ(oem->EncryptAlgo1(L"pw", nullptr, 0) > 0, c.des);
        EXPECT_EQ(oem->EncryptAlgo1(L"pw", out, 128) > 0, c.des);
        EXPECT_EQ(oem->EncryptAlgo1A("pw", outA, 128) > 0, c.des);
        EXPECT_EQ(oem->EncryptAlgo2(L"pw", nullptr, 0) > 0, c.aes);
        wchar_t out2[128] = L"untouched";
        char out2A[128] = "untouched";
        EXPECT_EQ(oem->EncryptAlgo2(L"pw", out2, 128) > 0, c.aes);
        EXPECT_EQ(oem->EncryptAlgo2A("pw", out2A, 128) > 0, c.aes);
        if (!c.aes) {
            EXPECT_STREQ(out2, L"untouched");
            EXPECT_STREQ(out2A, "untouched");
        }
    }
}

TEST(OEMManagerTest, KeyMaterialBytesAndSizeQuery)
{
    OemHold oem(ModulePath(L"PRNFULL.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    const uint8_t expected[4] = {0x60, 0x3D, 0xEB, 0x10};
    for (const wchar_t* name : {L"Algo_1", L"Algo_2", L"Algo_2_Extra"}) {
        SCOPED_TRACE(Narrow(name));
        uint8_t small[4] = {};
        EXPECT_EQ(oem->GetAlgorithmData(name, small, 4), 32) << "too small: the size";
        EXPECT_EQ(small[0], 0) << "too small: nothing written";
        uint8_t bytes[40] = {};
        EXPECT_EQ(oem->GetAlgorithmData(name, bytes, 40), 32);
        EXPECT_EQ(std::memcmp(bytes, expected, 4), 0);
        EXPECT_EQ(bytes[31], 0xF4);
    }
    EXPECT_EQ(oem->GetAlgorithmData(nullptr, nullptr, 0), 0);
}

TEST(OEMManagerTest, TooSmallOutputWritesNothing)
{
    OemHold oem(ModulePath(L"PRNFULL.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    const int need1 = oem->EncryptAlgo1(L"12345678", nullptr, 0);
    const int need2 = oem->EncryptAlgo2(L"12345678", nullptr, 0);
    ASSERT_EQ(need1, 33);
    ASSERT_EQ(need2, 57);
    std::vector<wchar_t> out(64, L'#');
    EXPECT_EQ(oem->EncryptAlgo1(L"12345678", out.data(), need1 - 1), 0);
    EXPECT_EQ(oem->EncryptAlgo2(L"12345678", out.data(), need2 - 1), 0);
    EXPECT_EQ(out[0], L'#');
    EXPECT_EQ(oem->EncryptAlgo1(nullptr, out.data(), 64), 0);
    EXPECT_EQ(oem->EncryptAlgo2A(nullptr, nullptr, 0), 0);
}

// Sizes come from the 8-bit text: in a double-byte code page "日本語ab" is 8 bytes, not 5.
TEST(OEMManagerTest, SizeFollowsTheConvertedText)
{
    const LCID before = GetThreadLocale();
    if (!SetThreadLocale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT)))
        GTEST_SKIP() << "no Japanese thread locale";
    StrUtil<char, wchar_t> probe(L"\u65E5\u672C\u8A9Eab");
    const bool doubleByte = probe.Get() != nullptr && std::strlen(probe.Get()) == 8;
    if (doubleByte) {
        OemHold oem(ModulePath(L"PRNFULL.OEM"));
        ASSERT_NE(oem.Get(), nullptr);
        EXPECT_EQ(oem->EncryptAlgo1(L"\u65E5\u672C\u8A9Eab", nullptr, 0), 33);
        EXPECT_EQ(oem->EncryptAlgo2(L"\u65E5\u672C\u8A9Eab", nullptr, 0), 57);
        wchar_t out[40] = {};
        EXPECT_EQ(oem->EncryptAlgo1(L"\u65E5\u672C\u8A9Eab", out, 40), 32);
        // openssl enc -des-ecb ... of 93FA967B8CEA6162 0808080808080808 (code page 932 bytes).
        EXPECT_EQ(Narrow(out), "B90F11E21DC0F7CAB7DC47CA5CE42DDA");
    }
    SetThreadLocale(before);
    if (!doubleByte)
        GTEST_SKIP() << "the thread locale does not switch the ANSI code page here";
}

TEST(OEMManagerTest, BuffersAreSizedThenFilled)
{
    OemHold oem(ModulePath(L"PRNFULL.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    HMODULE module = oem->GetModule();
    ResetModuleCallLog(module);

    DWORD size = 0;
    ASSERT_EQ(oem->GetBuffer(0, 1, L"Tolva PS", 2, nullptr, &size), 0);
    const std::string expected = "%%OEMBuffer2: Tolva PS\r\n";
    ASSERT_EQ(size, expected.size());
    std::vector<char> buffer(size, '\0');
    ASSERT_EQ(oem->GetBuffer(0, 1, L"Tolva PS", 2, buffer.data(), &size), 0);
    EXPECT_EQ(std::string(buffer.data(), size), expected);
    EXPECT_NE(oem->GetBuffer(0, 1, L"Tolva PS", 99, nullptr, &size), 0) << "unknown buffer id";

    size = 0;
    ASSERT_EQ(oem->GetBufferEx(0, 1, L"Tolva PS", 3, nullptr, &size), 0);
    std::vector<char> bufferEx(size, '\0');
    ASSERT_EQ(oem->GetBufferEx(0, 1, L"Tolva PS", 3, bufferEx.data(), &size), 0);
    EXPECT_EQ(std::string(bufferEx.data(), size), "%%OEMBufferEx3: Tolva PS\r\n");

    EXPECT_EQ(ReadModuleCallLog(module),
              "GetBuffer 0 1 Tolva PS 0 2 null 0\n"
              "GetBuffer 0 1 Tolva PS 0 2 buffer 24\n"
              "GetBuffer 0 1 Tolva PS 0 99 null 24\n"
              "GetBufferEx 0 1 Tolva PS 0 3 null 0 flag=0\n"
              "GetBufferEx 0 1 Tolva PS 0 3 buffer 26 flag=0\n");
    EXPECT_EQ(oem->GetBuffer(0, 1, L"x", 1, nullptr, nullptr), OEM_CALL_FAILED);
}

TEST(OEMManagerTest, MissingBufferEntryPointsAreNeverCalled)
{
    OemHold oem(ModulePath(L"PRNBARE.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    ResetModuleCallLog(oem->GetModule());
    DWORD size = 0;
    EXPECT_EQ(oem->GetBuffer(0, 1, L"Tolva PS", 1, nullptr, &size), OEM_CALL_FAILED);
    EXPECT_EQ(oem->GetBufferEx(0, 1, L"Tolva PS", 1, nullptr, &size), OEM_CALL_FAILED);
    EXPECT_EQ(ReadModuleCallLog(oem->GetModule()), "");
}

TEST(OEMManagerTest, PictureLayersFromTheModuleAreCopied)
{
    OemHold oem(ModulePath(L"PRNFULL.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    ResetModuleCallLog(oem->GetModule());
    PrinterBitmapTable table;
    ASSERT_EQ(oem->GetPrinterBitmapInfo(&table), 0);
    ASSERT_EQ(table.Count(), 2u);
    EXPECT_STREQ(table[0].feature, L"");
    EXPECT_EQ(table[0].resourceId, 201);
    EXPECT_EQ(table[0].maskId, 202);
    EXPECT_EQ(table[0].xOffset, 1);
    EXPECT_EQ(table[0].yOffset, 2);
    EXPECT_STREQ(table[1].feature, L"*Duplex");
    EXPECT_STREQ(table[1].option, L"DuplexNoTumble");
    ASSERT_EQ(table[1].conditionCount, 2u);
    EXPECT_STREQ(table[1].conditions[1].feature, L"*Finisher");
    EXPECT_STREQ(table[1].conditions[1].option, L"Stapler");
    // The conditions are the table's own copy, not the module's memory.
    const auto base = reinterpret_cast<uintptr_t>(oem->GetModule());
    const auto at = reinterpret_cast<uintptr_t>(table[1].conditions);
    EXPECT_TRUE(at < base || at > base + 16 * 1024 * 1024);
    EXPECT_EQ(ReadModuleCallLog(oem->GetModule()), "OEMGetPrinterBitmapInfo\n");
    EXPECT_EQ(oem->GetPrinterBitmapInfo(nullptr), OEM_CALL_FAILED);
}

TEST(OEMManagerTest, PictureLayersFromResXmlWithoutTheEntryPoint)
{
    OemHold oem(ModulePath(L"PRNNOINFO.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    WText xml(oem->GetResXmlPath());
    ASSERT_TRUE(xml);
    EXPECT_EQ(std::wstring(xml.get()), ModulePath(L"PRNNOINFORes.xml"));

    PrinterBitmapTable table;
    ASSERT_EQ(oem->GetPrinterBitmapInfo(&table), 0);
    ASSERT_EQ(table.Count(), 2u);
    EXPECT_EQ(table[0].resourceId, 201);
    EXPECT_EQ(table[0].maskId, 202);
    EXPECT_EQ(table[0].xOffset, 3);
    EXPECT_EQ(table[0].yOffset, 4);
    EXPECT_EQ(table[1].resourceId, 203);
    EXPECT_EQ(table[1].maskId, 203) << "no maskid: the resource id";
    EXPECT_EQ(table[1].xOffset, -7);
    ASSERT_EQ(table[1].conditionCount, 2u);
    EXPECT_STREQ(table[1].conditions[0].feature, L"*Duplex");
    EXPECT_STREQ(table[1].conditions[0].option, L"DuplexNoTumble");
    EXPECT_STREQ(table[1].conditions[1].feature, L"*InputSlot");
    EXPECT_STREQ(table[1].conditions[1].option, L"Tray2");
}

TEST(OEMManagerTest, ResXmlThatWillNotLoadGivesNothing)
{
    OemHold oem(ModulePath(L"PRNBARE.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    PrinterBitmapTable table;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(oem->GetPrinterBitmapInfo(&table), OEM_CALL_FAILED);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(table.Count(), 0u);
}

// A module in a dotted folder: only the file name's extension is replaced.
TEST(OEMManagerTest, ResXmlBesideAModuleInADottedFolder)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"tolva.oem-test";
    const std::wstring dotted = folder + L"\\john.doe";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(dotted.c_str(), nullptr);
    const std::wstring module = dotted + L"\\PRNNOINFO.OEM";
    const std::wstring xml = dotted + L"\\PRNNOINFORes.xml";
    ASSERT_TRUE(CopyFileW(ModulePath(L"PRNNOINFO.OEM").c_str(), module.c_str(), FALSE));
    {
        FILE* file = _wfopen(xml.c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        std::fputs("<oemdllfeatures><bitmapinfo><bmpgroup><bmp resid=\"777\"/></bmpgroup></bitmapinfo>"
                   "</oemdllfeatures>",
                   file);
        std::fclose(file);
    }
    {
        OemHold oem(module);
        ASSERT_NE(oem.Get(), nullptr);
        WText path(oem->GetResXmlPath());
        ASSERT_TRUE(path);
        EXPECT_EQ(std::wstring(path.get()), xml);
        PrinterBitmapTable table;
        ASSERT_EQ(oem->GetPrinterBitmapInfo(&table), 0);
        ASSERT_EQ(table.Count(), 1u);
        EXPECT_EQ(table[0].resourceId, 777);
    }
    DeleteFileW(xml.c_str());
}

TEST(OEMManagerTest, ModulePathIsThePpdStemWithOem)
{
    const struct {
        const wchar_t* ppd;
        const wchar_t* module;
    } cases[] = {
        {L"C:\\Drivers\\PRN.PPD", L"C:\\Drivers\\PRN.OEM"},
        {L"C:\\Users\\john.doe\\PRN.PPD", L"C:\\Users\\john.doe\\PRN.OEM"},
        {L"C:\\x\\PRN.v2.PPD", L"C:\\x\\PRN.v2.OEM"},
    };
    for (const auto& c : cases) {
        WText path(MakeOEMModulePath(c.ppd));
        ASSERT_TRUE(path) << Narrow(c.ppd);
        EXPECT_STREQ(path.get(), c.module);
    }
    EXPECT_EQ(MakeOEMModulePath(nullptr), nullptr);
}

TEST(OEMManagerTest, EncryptionDataEntryIsNeverCalled)
{
    OemHold oem(ModulePath(L"PRNFULL.OEM"));
    ASSERT_NE(oem.Get(), nullptr);
    ResetModuleCallLog(oem->GetModule());
    wchar_t out[128];
    oem->EncryptAlgo1(L"pw", out, 128);
    oem->EncryptAlgo2(L"pw", out, 128);
    uint8_t bytes[64];
    oem->GetAlgorithmData(L"Algo_2", bytes, 64);
    EXPECT_EQ(ReadModuleCallLog(oem->GetModule()).find("GetEncryptionData"), std::string::npos);
}

} // namespace
