// Driver events end to end: a driver installed through Wine's spooler with the core UI
// stand-in as its configuration file (by bare name, so that the spooler loads it and sends
// the installation event), Quenta as the plug-in its dependent .INI names, and a package
// beside the data file. The spooler sends nothing else on Wine: the tests send the other
// events through the stand-in's exports, in the spooler's order.
#include <gtest/gtest.h>

#include <windows.h>
#include <winddiui.h>
#include <winspool.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "storage/PrinterData.h"
#include "tests/standins/ModuleCallLog.h"
#include "tests/support/TestPrinter.h"
#include "uiplugin/Events.h"
#include "tests/uiplugin/events/EventTestUtil.h"
#include "tests/storage/zip/ZipTestUtil.h"

using tolvatest::FixturePath;
using tolvatest::TestPrinter;
using tolvatest::TestPrinterSetup;

namespace {

using DriverEventFn = BOOL(WINAPI*)(DWORD, DWORD, LPBYTE, LPARAM);
using PrinterEventFn = BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM);
using LastResultFn = LONG (*)();

template <class Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

using ziptest::Attributes;
using ziptest::Package;
using ziptest::WriteTime;

std::string ReadText(const std::wstring& path) {
    std::string bytes;
    return ziptest::ReadBytes(path, &bytes) ? bytes : "<missing>";
}

std::vector<std::wstring> Files(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name + ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? L"\\" : L""));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}


// A driver with the stand-in as its configuration file and Quenta as its plug-in, the package
// staged beside its data file (with a garbage settings cache).
TestPrinterSetup EventSetup(const wchar_t* package) {
    TestPrinterSetup setup;
    setup.dataFile = FixturePath(L"tolva-sample.ppd");
    setup.configFile = TOLVA_COREUI_PATH_W;
    setup.configName = L"TolvaCoreUI_{stem}.dll";
    setup.bareConfigName = true;
    setup.dependentFiles.push_back({TOLVA_QUENTA_PATH_W, L"Quenta_{stem}.dll"});
    if (package)
        setup.dependentFiles.push_back({Package(package), L"{stem}.TQX"});
    setup.dependentTexts.push_back({L"{stem}.INI", "[OEMFiles]\r\nOEMConfigFile1=Quenta_{stem}.dll\r\n"});
    setup.dependentTexts.push_back({L"{stem}.PBJ", "garbage, not a settings cache"});
    return setup;
}

class DriverEventTest : public ::testing::Test {
protected:
    // The stand-in keeps its log in the process's environment (the spooler frees the module
    // after its call).
    void SetUp() override { SetEnvironmentVariableA("TOLVA_COREUI_CALL_LOG", nullptr); }
    void Attach(const TestPrinter& printer) {
        module = GetModuleHandleW((L"TolvaCoreUI_" + printer.Stem() + L".dll").c_str());
        driverEvent = Export<DriverEventFn>(module, "DrvDriverEvent");
        printerEvent = Export<PrinterEventFn>(module, "DrvPrinterEvent");
        lastResult = Export<LastResultFn>(module, "TolvaCoreUILastPluginResult");
        folder = printer.StagingDir() + printer.Stem() + L"\\";
        cache = printer.StagingDir() + printer.Stem() + L".PBJ";
        driverKey = L"Software\\VYR\\PrinterProps\\" + printer.DriverName();
    }
    void TearDown() override {
        if (!driverKey.empty())
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, driverKey.c_str());
    }
    HMODULE module = nullptr;
    DriverEventFn driverEvent = nullptr;
    PrinterEventFn printerEvent = nullptr;
    LastResultFn lastResult = nullptr;
    std::wstring folder, cache, driverKey;
};

}  // namespace

TEST_F(DriverEventTest, InstallationUnpacksReinstallReplacesDeletionRemoves) {
    TestPrinter printer(EventSetup(L"pkg_a.tqx"));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    Attach(printer);
    // The spooler loaded the stand-in from its version folder and sent the installation.
    ASSERT_NE(module, nullptr) << "the spooler never loaded the configuration file";
    ASSERT_TRUE(driverEvent && printerEvent && lastResult);
    const std::string log = ReadModuleCallLog(module);
    EXPECT_NE(log.find("DrvDriverEvent event=1 level=3"), std::string::npos) << log;
    EXPECT_NE(log.find("answered 0x00000000"), std::string::npos) << log;

    // Unpacked beside the event's data file (the installer's staged copy).
    EXPECT_EQ(Files(folder), (std::vector<std::wstring>{L"old.txt", L"readme.txt", L"sub\\"}));
    EXPECT_EQ(ReadText(folder + L"readme.txt"), "first package\n");
    EXPECT_EQ(WriteTime(folder + L"readme.txt"), 1500000000ull * 10000000ull + 116444736000000000ull);
    EXPECT_EQ(Attributes(folder + L"old.txt") & 0x37, 0x21u);
    EXPECT_EQ(ReadText(folder + L"sub\\inner.txt"), "inner\n");
    // The planted cache was thrown away and rebuilt from the PPD.
    std::string rebuilt = ReadText(cache);
    EXPECT_NE(rebuilt, "garbage, not a settings cache");
    EXPECT_GT(rebuilt.size(), 218u);

    // The spooler's order: the printer is initialised (Quenta.dll end to end).
    LPWSTR name = const_cast<wchar_t*>(printer.PrinterName().c_str());
    ASSERT_TRUE(printerEvent(name, PRINTER_EVENT_INITIALIZE, 0, 0));
    EXPECT_EQ(lastResult(), S_OK);
    WText storage(PrnGetText(printer.Handle(), L"PrinterStorage"));
    ASSERT_TRUE(storage);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, storage.get()));
    ASSERT_TRUE(printerEvent(name, PRINTER_EVENT_CACHE_REFRESH, 0, 0));
    EXPECT_EQ(lastResult(), S_OK);

    // A second package: the first one's plain files go (the read-only one too), its
    // sub-folder stays.
    ASSERT_TRUE(CopyFileW(Package(L"pkg_b.tqx").c_str(), (printer.StagingDir() + printer.Stem() + L".TQX").c_str(),
                          FALSE));
    auto* info = const_cast<DRIVER_INFO_3W*>(printer.InstallerDriverInfo());
    ASSERT_TRUE(driverEvent(DRIVER_EVENT_INITIALIZE, 3, reinterpret_cast<LPBYTE>(info), 0));
    EXPECT_EQ(lastResult(), S_OK);
    EXPECT_EQ(Files(folder), (std::vector<std::wstring>{L"new.txt", L"readme.txt", L"sub\\"}));
    EXPECT_EQ(ReadText(folder + L"readme.txt"), "second package\n");

    // Level 1 carries no data file: nothing is done.
    DRIVER_INFO_1W level1 = {const_cast<wchar_t*>(printer.DriverName().c_str())};
    ASSERT_TRUE(driverEvent(DRIVER_EVENT_DELETE, 1, reinterpret_cast<LPBYTE>(&level1), 0));
    EXPECT_EQ(lastResult(), S_FALSE) << ReadModuleCallLog(module);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, driverKey));

    // Deletion: plain files, the cache and the driver's machine key go; the folder stays
    // while its sub-folder does.
    ASSERT_TRUE(driverEvent(DRIVER_EVENT_DELETE, 3, reinterpret_cast<LPBYTE>(info), 0));
    EXPECT_EQ(lastResult(), S_OK);
    EXPECT_EQ(Files(folder), std::vector<std::wstring>{L"sub\\"});
    EXPECT_EQ(Attributes(cache), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, driverKey));
}

TEST_F(DriverEventTest, DeletionRemovesAFolderWithoutSubFolders) {
    TestPrinter printer(EventSetup(L"pkg_b.tqx"));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    Attach(printer);
    ASSERT_TRUE(driverEvent && lastResult);
    EXPECT_EQ(Files(folder), (std::vector<std::wstring>{L"new.txt", L"readme.txt"}));
    auto* info = const_cast<DRIVER_INFO_3W*>(printer.InstallerDriverInfo());
    ASSERT_TRUE(driverEvent(DRIVER_EVENT_DELETE, 3, reinterpret_cast<LPBYTE>(info), 0));
    EXPECT_EQ(lastResult(), S_OK);
    EXPECT_EQ(Attributes(folder), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DriverEventTest, HostilePackageInstallsInsideItsFolder) {
    TestPrinter printer(EventSetup(L"hostile.tqx"));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    Attach(printer);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(Attributes(folder + L"evil1.dat"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(Attributes(folder + L"srv\\share\\x"), INVALID_FILE_ATTRIBUTES);
    // Where the names aimed: beside the package folder, at the drive's root, the sandbox.
    for (const wchar_t* escaped : {L"evil1.dat", L"evil2.dat", L"evil3.dat"})
        EXPECT_EQ(Attributes(printer.StagingDir() + escaped), INVALID_FILE_ATTRIBUTES) << escaped;
    EXPECT_EQ(Attributes(L"C:\\d\\f"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Attributes(L"C:\\abs\\x"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Attributes(ziptest::SandboxPath() + L"\\evil_z.dat"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Attributes(ziptest::SandboxPath() + L"\\evil_c.dat"), INVALID_FILE_ATTRIBUTES);
}

TEST(DriverEventLibrary, WithoutDriverInformationNothingIsDone) {
    EXPECT_EQ(DriverEventHandler(DRIVER_EVENT_INITIALIZE, 3, nullptr, 0), S_FALSE);
    DRIVER_INFO_1W level1 = {const_cast<wchar_t*>(L"Tolva")};
    EXPECT_EQ(DriverEventHandler(DRIVER_EVENT_INITIALIZE, 1, reinterpret_cast<BYTE*>(&level1), 0), S_FALSE);
    DRIVER_INFO_3W empty = {};
    EXPECT_EQ(DriverEventHandler(DRIVER_EVENT_INITIALIZE, 3, reinterpret_cast<BYTE*>(&empty), 0), S_FALSE);
    EXPECT_EQ(DriverEventHandler(DRIVER_EVENT_INITIALIZE, 4, reinterpret_cast<BYTE*>(&empty), 0), S_FALSE);
}
