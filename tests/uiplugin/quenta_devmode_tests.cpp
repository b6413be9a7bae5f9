// Quenta's device-mode entry over printers of the local spooler, driven by the core driver
// stand-in: block sizes per PPD, the defaults, conversion of a corrupted block, merging,
// printers whose PPD cannot be had, and the cache file the first call compiles.
#include <gtest/gtest.h>

#include <vector>

#include "platform/DriverKit.h"
#include "storage/CfgSettingsManager.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"
#include "tests/support/TestPrinter.h"
#include "tests/uiplugin/QuentaTestUtil.h"

namespace {

using coredriver::CallDevMode;
using coredriver::DevModeSequence;
using coredriver::PluginHost;
using coredriver::RunDevModeSequence;

std::wstring LanguageModule() { return std::wstring(TOLVA_LAN_DIR_W) + L"\\tolva-sample.LAN"; }
std::wstring CorpusPPD(const wchar_t* name) { return std::wstring(TOLVA_CORPUS_DIR_W) + L"\\" + name; }

std::wstring CacheOf(const std::wstring& ppd)
{
    wchar_t* path = GetCfgCacheFilePath(ppd.c_str());
    std::wstring result = path ? path : L"";
    delete[] path;
    return result;
}

bool LastWrite(const std::wstring& path, FILETIME* time)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *time = data.ftLastWriteTime;
    return true;
}

struct PrinterCase {
    const char* name;
    std::wstring ppd;
    bool withLanguageModule;
    DWORD blockSize;  // what SIZE answers: 16 + the private payload, 0 without private keys
};

TEST(QuentaDevModeTest, SequenceOverRealPrinters)
{
    const PrinterCase cases[] = {
        {"minimal fixture", tolvatest::FixturePath(L"tolva-minimal.ppd"), false, 188},
        {"sample fixture with its language module", tolvatest::FixturePath(L"tolva-sample.ppd"), true, 3544},
        {"corpus PPD without private keys", CorpusPPD(L"Brother__BR2600CN_GPL.ppd"), false, 0},
    };
    for (const PrinterCase& c : cases) {
        tolvatest::TestPrinterSetup setup;
        setup.dataFile = c.ppd;
        if (c.withLanguageModule) setup.companions.push_back({LanguageModule(), L"{stem}.LAN"});
        tolvatest::TestPrinter printer(setup);
        ASSERT_TRUE(printer.Ok()) << c.name << ": " << testing::PrintToString(printer.Error());
        PluginHost host;
        std::wstring error;
        ASSERT_TRUE(host.Load(QuentaPath(), &error)) << c.name << ": " << testing::PrintToString(error);
        ASSERT_EQ(host.PublishResult(), S_OK) << c.name;

        DevModeSequence seq = RunDevModeSequence(host.Plugin(), printer.Handle(), printer.PrinterName().c_str());
        EXPECT_EQ(host.Core().RefCount(), 2) << c.name << ": each call's context gave its reference back";
        EXPECT_EQ(seq.size.result, S_OK) << c.name;
        EXPECT_EQ(seq.size.bufSize, c.blockSize) << c.name;
        EXPECT_EQ(seq.defaults.result, S_OK) << c.name;
        ASSERT_EQ(seq.defaults.block.size(), c.blockSize) << c.name;
        if (c.blockSize >= 16) {
            DWORD header[3] = {};
            memcpy(header, seq.defaults.block.data(), sizeof(header));
            EXPECT_EQ(header[0], c.blockSize) << c.name << ": size field";
            EXPECT_EQ(header[1], 0x56595249u) << c.name << ": \"VYRI\"";
            EXPECT_EQ(header[2], 1u) << c.name << ": version";
        }
        if (c.blockSize == 0) {
            // Without a private block there is nothing to convert: the settings layer
            // refuses a zero-byte buffer (a header alone does not fit).
            EXPECT_EQ(seq.convertCorrupt.result, E_FAIL) << c.name;
            EXPECT_EQ(seq.merge.result, E_FAIL) << c.name;
        } else {
            EXPECT_EQ(seq.convertCorrupt.result, S_OK) << c.name;
            EXPECT_EQ(seq.convertCorrupt.block, seq.defaults.block) << c.name << ": a corrupted block becomes the defaults";
            EXPECT_EQ(seq.merge.result, S_OK) << c.name;
            EXPECT_EQ(seq.merge.block, seq.defaults.block) << c.name << ": a valid block is kept";
            EXPECT_EQ(seq.convertCorrupt.bufSize, c.blockSize) << c.name;
        }
        host.Unload();
        EXPECT_EQ(host.Core().RefCount(), 1) << c.name << ": the core interface is released";
        DeleteFileW(CacheOf(printer.DataFile()).c_str());
    }
}

TEST(QuentaDevModeTest, MinimalDefaultsAreTheKnownBlock)
{
    tolvatest::TestPrinter printer(tolvatest::FixturePath(L"tolva-minimal.ppd"));
    ASSERT_TRUE(printer.Ok()) << testing::PrintToString(printer.Error());
    PluginHost host;
    ASSERT_TRUE(host.Load(QuentaPath(), nullptr));
    auto step = CallDevMode(host.Plugin(), "DEFAULT", OEMDM_DEFAULT, printer.Handle(), nullptr, 188, nullptr, 0xCD);
    ASSERT_EQ(step.result, S_OK);
    const std::vector<BYTE> header = {0xBC, 0x00, 0x00, 0x00, 0x49, 0x52, 0x59, 0x56,
                                      0x01, 0x00, 0x00, 0x00, 0x1E, 0x4F, 0x5E, 0xEE};
    ASSERT_EQ(step.block.size(), 188u);
    EXPECT_EQ(std::vector<BYTE>(step.block.begin(), step.block.begin() + 16), header);
    const std::vector<BYTE> firstValues = {0x08, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::vector<BYTE>(step.block.begin() + 16, step.block.begin() + 24), firstValues);

    auto shortBuffer =
        CallDevMode(host.Plugin(), "DEFAULT short", OEMDM_DEFAULT, printer.Handle(), nullptr, 187, nullptr, 0xCD);
    EXPECT_EQ(shortBuffer.result, E_FAIL);
    EXPECT_EQ(shortBuffer.block, std::vector<BYTE>(187, 0xCD)) << "nothing written into a short buffer";
}

TEST(QuentaDevModeTest, PrinterWithoutReadablePPDFailsEveryMode)
{
    tolvatest::TestPrinter removed(tolvatest::FixturePath(L"tolva-minimal.ppd"));
    ASSERT_TRUE(removed.Ok()) << testing::PrintToString(removed.Error());
    ASSERT_TRUE(DeleteFileW(removed.DataFile().c_str()));
    const struct {
        const char* name;
        HANDLE printer;
    } printers[] = {
        {"data file removed", removed.Handle()},
        {"null printer handle", nullptr},
        {"handle that is no printer", reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFF))},
    };
    PluginHost host;
    ASSERT_TRUE(host.Load(QuentaPath(), nullptr));
    BYTE block[200] = {};
    for (const auto& p : printers) {
        for (DWORD mode : {OEMDM_SIZE, OEMDM_DEFAULT, OEMDM_CONVERT, OEMDM_MERGE}) {
            auto step = CallDevMode(host.Plugin(), "call", mode, p.printer, block, sizeof(block), nullptr, 0xCD);
            EXPECT_EQ(step.result, E_FAIL) << p.name << ", mode " << mode;
            if (mode == OEMDM_SIZE) {
                EXPECT_EQ(step.bufSize, sizeof(block)) << p.name << ": size left alone";
            } else {
                EXPECT_EQ(step.block, std::vector<BYTE>(sizeof(block), 0xCD)) << p.name << ", mode " << mode;
            }
        }
    }
}

TEST(QuentaDevModeTest, FirstCallCompilesTheCacheAndAFreshModuleLoadsIt)
{
    tolvatest::TestPrinter printer(tolvatest::FixturePath(L"tolva-minimal.ppd"));
    ASSERT_TRUE(printer.Ok()) << testing::PrintToString(printer.Error());
    const std::wstring cache = CacheOf(printer.DataFile());
    ASSERT_FALSE(cache.empty());
    FILETIME time = {};
    ASSERT_FALSE(LastWrite(cache, &time)) << "no cache before the first call";

    std::vector<BYTE> first;
    {
        PluginHost host;
        ASSERT_TRUE(host.Load(QuentaPath(), nullptr));
        auto step = CallDevMode(host.Plugin(), "DEFAULT", OEMDM_DEFAULT, printer.Handle(), nullptr, 188, nullptr);
        ASSERT_EQ(step.result, S_OK);
        first = step.block;
    }
    FILETIME compiled = {};
    ASSERT_TRUE(LastWrite(cache, &compiled)) << "the first call writes the cache beside the PPD";

    PluginHost host;
    ASSERT_TRUE(host.Load(QuentaPath(), nullptr));
    auto size = CallDevMode(host.Plugin(), "SIZE", OEMDM_SIZE, printer.Handle(), nullptr, 0, nullptr);
    EXPECT_EQ(size.bufSize, 188u);
    auto step = CallDevMode(host.Plugin(), "DEFAULT", OEMDM_DEFAULT, printer.Handle(), nullptr, 188, nullptr);
    EXPECT_EQ(step.result, S_OK);
    EXPECT_EQ(step.block, first) << "the loaded cache gives the same defaults";
    FILETIME loaded = {};
    ASSERT_TRUE(LastWrite(cache, &loaded));
    EXPECT_EQ(CompareFileTime(&compiled, &loaded), 0) << "the second module read the cache, it did not rewrite it";
    DeleteFileW(cache.c_str());
}

}  // namespace
