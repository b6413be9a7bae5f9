// The printer registry on Wine printers: initialisation, client registration, connection
// release and the removal of stale storages.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "storage/PrinterData.h"
#include "storage/PrnRegUtil.h"
#include "storage/Store.h"
#include "tests/support/PrinterDataSeam.h"
#include "tests/support/StoredValues.h"
#include "tests/support/TestPrinter.h"

using tolvatest::FixturePath;
using tolvatest::MachineDword;
using tolvatest::MachineString;
using tolvatest::Text;
using tolvatest::TestPrinter;
using tolvatest::TestPrinterSetup;

namespace {

bool MachineKeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class PrinterRegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& driver : drivers)
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\VYR\\PrinterProps\\" + driver).c_str());
    }
    TestPrinterSetup Setup(const wchar_t* port = L"LPT1:") {
        TestPrinterSetup setup;
        setup.dataFile = FixturePath(L"tolva-minimal.ppd");
        setup.port = port;
        return setup;
    }
    void Track(const TestPrinter& printer) { drivers.push_back(printer.DriverName()); }
    std::vector<std::wstring> drivers;
    tolvatest::PrinterDataSeam seam;
};

TEST_F(PrinterRegistryTest, InitialisingTwiceKeepsThePrinterId) {
    TestPrinter printer(Setup());
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    Track(printer);
    InitialisePrinterRegistry(printer.Handle());
    const std::wstring id = Text(printer.Handle(), L"PrinterID");
    const std::wstring storage = Text(printer.Handle(), L"PrinterStorage");
    ASSERT_EQ(id.size(), 36u) << id;
    const std::wstring base = L"Software\\VYR\\PrinterProps\\" + printer.DriverName();
    EXPECT_EQ(storage, base + L"\\XID\\{" + id + L"}");
    EXPECT_EQ(Text(printer.Handle(), L"PrinterList"), base + L"\\Ptr");
    EXPECT_EQ(Text(printer.Handle(), L"CrossRefList"), base + L"\\XID");
    EXPECT_EQ(Text(printer.Handle(), L"QVTwoWayServer"), L"(null)") << "a local port and no server";
    EXPECT_EQ(Text(printer.Handle(), L"IsTolvaServer"), L"0");

    InitialisePrinterRegistry(printer.Handle());
    EXPECT_EQ(Text(printer.Handle(), L"PrinterID"), id);
    EXPECT_EQ(Text(printer.Handle(), L"PrinterStorage"), storage);
}

TEST_F(PrinterRegistryTest, ControllerAddressAndMachineWatermarks) {
    const wchar_t watermarks[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Watermark";
    {
        GPRegUtil key(HKEY_LOCAL_MACHINE, watermarks);
        ASSERT_TRUE(key.SetString(L"TolvaTestMark", L"CONFIDENTIAL"));
    }
    TestPrinter printer(Setup(L"\\\\ctl-host\\hold"));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    Track(printer);
    InitialisePrinterRegistry(printer.Handle());
    DeleteRegValue(HKEY_LOCAL_MACHINE, watermarks, L"TolvaTestMark");
    EXPECT_EQ(Text(printer.Handle(), L"QVTwoWayServer"), L"ctl-host");
    CAdminStore copied(printer.Handle(), L"Watermark", 0);
    ASSERT_TRUE(copied.Load());
    const CStoreEntry* mark = copied.Find(L"TolvaTestMark");
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->Text(), L"CONFIDENTIAL");
}

TEST_F(PrinterRegistryTest, RegistrationCountsAndKeepsTheClientId) {
    TestPrinter printer(Setup());
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    Track(printer);
    InitialisePrinterRegistry(printer.Handle());
    const std::wstring storage = Text(printer.Handle(), L"PrinterStorage");
    const wchar_t* name = printer.PrinterName().c_str();

    RegisterPrinterClient(printer.Handle(), name, TRUE);
    EXPECT_EQ(MachineDword(storage, L"ClientConnections"), 1u);
    EXPECT_TRUE(MachineKeyExists(storage + L"\\ValidationKey"));
    const std::wstring clientId = MachineString(storage, L"ClientID");
    ASSERT_EQ(clientId.size(), 38u) << clientId;
    EXPECT_EQ(clientId.front(), L'{');
    EXPECT_EQ(Text(printer.Handle(), L"ClientID"), clientId);
    EXPECT_EQ(MachineString(storage, L"PrinterNm"), printer.PrinterName());

    // A refresh does not count; the stored client id is kept and not written again.
    ASSERT_EQ(PrnSetText(printer.Handle(), L"ClientID", L"{marker}"), static_cast<DWORD>(ERROR_SUCCESS));
    RegisterPrinterClient(printer.Handle(), name, FALSE);
    EXPECT_EQ(MachineDword(storage, L"ClientConnections"), 1u);
    EXPECT_EQ(MachineString(storage, L"ClientID"), clientId);
    EXPECT_EQ(Text(printer.Handle(), L"ClientID"), L"{marker}");
    RegisterPrinterClient(printer.Handle(), name, TRUE);
    EXPECT_EQ(MachineDword(storage, L"ClientConnections"), 2u);
}

TEST_F(PrinterRegistryTest, UnregisteringALocalPrinterRemovesItsStorage) {
    TestPrinter printer(Setup());
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    Track(printer);
    InitialisePrinterRegistry(printer.Handle());
    RegisterPrinterClient(printer.Handle(), printer.PrinterName().c_str(), TRUE);
    const std::wstring storage = Text(printer.Handle(), L"PrinterStorage");
    const std::wstring clientId = MachineString(storage, L"ClientID");
    ASSERT_TRUE(MachineKeyExists(storage));

    UnregisterPrinter(printer.Handle(), printer.PrinterName().c_str());
    EXPECT_FALSE(MachineKeyExists(storage)) << "invalidated, then removed as stale";
    ASSERT_FALSE(seam.DeletedKeys().empty());
    EXPECT_EQ(seam.DeletedKeys().back(), clientId) << "the printer's settings key goes with it";
}

TEST_F(PrinterRegistryTest, ReusedPrinterNameKeepsTheLivePrintersStorage) {
    TestPrinterSetup setup = Setup();
    setup.driverName = L"Tolva Reuse Driver " + std::to_wstring(GetCurrentProcessId());
    setup.printerName = L"Tolva Reused Printer " + std::to_wstring(GetCurrentProcessId());
    drivers.push_back(setup.driverName);
    std::wstring oldStorage;
    {
        TestPrinter first(setup);
        ASSERT_TRUE(first.Ok()) << first.Error();
        InitialisePrinterRegistry(first.Handle());
        RegisterPrinterClient(first.Handle(), setup.printerName.c_str(), TRUE);
        oldStorage = Text(first.Handle(), L"PrinterStorage");
    }  // deleted without its deletion event
    TestPrinter second(setup);
    ASSERT_TRUE(second.Ok()) << second.Error();
    InitialisePrinterRegistry(second.Handle());
    RegisterPrinterClient(second.Handle(), setup.printerName.c_str(), TRUE);
    const std::wstring liveStorage = Text(second.Handle(), L"PrinterStorage");
    const std::wstring liveClient = Text(second.Handle(), L"ClientID");
    ASSERT_NE(oldStorage, liveStorage);
    ASSERT_TRUE(MachineKeyExists(oldStorage));
    ASSERT_EQ(PrnSetDataEx(second.Handle(), liveClient.c_str(), L"*Setting", REG_BINARY, "ab", 2),
              static_cast<DWORD>(ERROR_SUCCESS));

    // The old storage becomes stale; both storages name the same printer.
    ASSERT_TRUE(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, (oldStorage + L"\\ValidationKey").c_str()));
    RemoveStaleClients(second.Handle());
    EXPECT_FALSE(MachineKeyExists(oldStorage)) << "the stale storage that was found goes";
    EXPECT_TRUE(MachineKeyExists(liveStorage)) << "the live printer's storage stays";
    EXPECT_EQ(MachineString(liveStorage, L"ClientID"), liveClient);
    for (const std::wstring& key : seam.DeletedKeys())
        EXPECT_NE(key, liveClient) << "the live printer's settings stay";
    CAdminStore settings(second.Handle(), liveClient.c_str(), REG_BINARY);
    EXPECT_TRUE(settings.Load());
}

TEST_F(PrinterRegistryTest, ReleasingConnectionsOfASharedStorage) {
    TestPrinter a(Setup()), b(Setup());
    ASSERT_TRUE(a.Ok()) << a.Error();
    ASSERT_TRUE(b.Ok()) << b.Error();
    Track(a);
    const std::wstring base = L"Software\\VYR\\PrinterProps\\" + a.DriverName();
    const std::wstring list = base + L"\\Ptr";
    const std::wstring storage = base + L"\\XID\\{shared}";
    for (HANDLE printer : {a.Handle(), b.Handle()}) {
        PrnSetText(printer, L"PrinterList", list.c_str());
        PrnSetText(printer, L"PrinterStorage", storage.c_str());
    }
    {
        GPRegUtil key(HKEY_LOCAL_MACHINE, storage.c_str());
        ASSERT_TRUE(key.SetString(L"PrinterNm", L"Owner Printer"));
    }
    for (const TestPrinter* p : {&a, &b}) {
        WText hex(PrinterNameToHex(p->PrinterName().c_str()));
        ASSERT_TRUE(CreateRegKey(HKEY_LOCAL_MACHINE, (list + L"\\" + hex.get()).c_str()));
    }
    EXPECT_TRUE(IsStorageShared(list.c_str(), storage.c_str()));
    WText first(ReleaseConnection(a.PrinterName().c_str()));
    EXPECT_EQ(first, nullptr) << "another connection still uses the storage";
    WText last(ReleaseConnection(b.PrinterName().c_str()));
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(last.get(), L"Owner Printer");
    EXPECT_FALSE(IsStorageShared(list.c_str(), storage.c_str()));
    EXPECT_EQ(ReleaseConnection(L"No Such Printer"), nullptr);
}

TEST(PrinterRegistryNames, HexNamesAndConnectionTest) {
    WText hex(PrinterNameToHex(L"\\\\S\\P"));
    ASSERT_TRUE(hex);
    EXPECT_STREQ(hex.get(), L"5C5C535C50");
    WText back(HexToPrinterName(hex.get()));
    ASSERT_TRUE(back);
    EXPECT_STREQ(back.get(), L"\\\\S\\P");
    EXPECT_EQ(PrinterNameToHex(nullptr), nullptr);
    EXPECT_EQ(PrinterNameToHex(L""), nullptr);
    EXPECT_EQ(HexToPrinterName(L"4"), nullptr);

    struct {
        const wchar_t *server, *port, *name;
        bool connection;
    } cases[] = {
        {L"\\\\S", L"P", L"\\\\S\\P", true},
        {L"\\\\S", L"P", L"\\\\S\\Q", false},
        {nullptr, L"P", L"(null)\\P", false},  // no server is never a connection
        {L"", L"P", L"\\P", false},
        {L"\\\\S", nullptr, L"\\\\S\\P", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsConnectionName(c.server, c.port, c.name), c.connection)
            << testing::PrintToString(std::wstring(c.name));

    WText guid(NewGuidString());
    ASSERT_TRUE(guid);
    EXPECT_EQ(StrLen(guid.get()), 36u);
    EXPECT_NE(guid[0], L'{');
}

}  // namespace
