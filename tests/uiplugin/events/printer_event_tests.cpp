// Printer events through the uiplugin library on printers of Wine's spooler. Deletions reach
// the spooler's DeletePrinterKeyW, which aborts on Wine: they run under the printer-data
// stand-in, which records the keys deleted.
#include <gtest/gtest.h>

#include <windows.h>
#include <winddiui.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "storage/PrinterData.h"
#include "tests/support/PrinterDataSeam.h"
#include "tests/support/StoredValues.h"
#include "tests/support/TestPrinter.h"
#include "uiplugin/Events.h"
#include "tests/uiplugin/events/EventTestUtil.h"

using tolvatest::FixturePath;
using tolvatest::MachineDword;
using tolvatest::MachineString;
using tolvatest::Text;
using tolvatest::TestPrinter;
using tolvatest::TestPrinterSetup;

namespace {

// A second printer on an installed driver, deleted at the end.
class ExtraPrinter {
public:
    ExtraPrinter(const std::wstring& driverName, const std::wstring& name) : m_name(name) {
        PRINTER_INFO_2W info = {};
        info.pPrinterName = m_name.data();
        info.pPortName = const_cast<wchar_t*>(L"FILE:");
        info.pDriverName = const_cast<wchar_t*>(driverName.c_str());
        info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
        info.pDatatype = const_cast<wchar_t*>(L"RAW");
        m_handle = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    }
    ~ExtraPrinter() {
        if (m_handle) {
            DeletePrinter(m_handle);
            ClosePrinter(m_handle);
        }
    }
    HANDLE Handle() const { return m_handle; }
    const std::wstring& Name() const { return m_name; }

private:
    std::wstring m_name;
    HANDLE m_handle = nullptr;
};

class PrinterEventTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& driver : drivers)
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\VYR\\PrinterProps\\" + driver).c_str());
    }
    TestPrinterSetup MinimalSetup() {
        TestPrinterSetup setup;
        setup.dataFile = FixturePath(L"tolva-minimal.ppd");
        return setup;
    }
    std::vector<std::wstring> drivers;
};

}  // namespace

TEST_F(PrinterEventTest, UnknownOrMissingPrinterIsNotOpened) {
    EXPECT_EQ(ProcessPrinterEvent(nullptr, PRINTER_EVENT_INITIALIZE, 0, 0), S_FALSE);
    EXPECT_EQ(ProcessPrinterEvent(L"", PRINTER_EVENT_DELETE, 0, 0), S_FALSE);
    EXPECT_EQ(ProcessPrinterEvent(L"No Such Tolva Printer 7f3a", PRINTER_EVENT_INITIALIZE, 0, 0), S_FALSE);
}

TEST_F(PrinterEventTest, InitialiseRefreshAndOtherEvents) {
    TestPrinter printer(MinimalSetup());
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    drivers.push_back(printer.DriverName());
    const wchar_t* name = printer.PrinterName().c_str();

    // Events without housekeeping answer S_OK and change nothing.
    for (INT event : {PRINTER_EVENT_ADD_CONNECTION, PRINTER_EVENT_DELETE_CONNECTION, PRINTER_EVENT_ATTRIBUTES_CHANGED}) {
        EXPECT_EQ(ProcessPrinterEvent(name, event, 0, 0), S_OK) << event;
        EXPECT_EQ(Text(printer.Handle(), L"PrinterStorage"), L"<missing>") << event;
    }

    ASSERT_EQ(ProcessPrinterEvent(name, PRINTER_EVENT_INITIALIZE, 0, 0), S_OK);
    const std::wstring storage = Text(printer.Handle(), L"PrinterStorage");
    const std::wstring id = Text(printer.Handle(), L"PrinterID");
    EXPECT_EQ(storage, L"Software\\VYR\\PrinterProps\\" + printer.DriverName() + L"\\XID\\{" + id + L"}");
    EXPECT_EQ(MachineString(storage, L"ClientID"), Text(printer.Handle(), L"ClientID"));
    EXPECT_EQ(MachineString(storage, L"PrinterNm"), printer.PrinterName());
    EXPECT_EQ(MachineDword(storage, L"ClientConnections"), 1u);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, storage + L"\\ValidationKey"));

    ASSERT_EQ(ProcessPrinterEvent(name, PRINTER_EVENT_CACHE_REFRESH, 0, 0), S_OK);
    EXPECT_EQ(MachineDword(storage, L"ClientConnections"), 1u) << "a refresh is no new connection";
    EXPECT_EQ(Text(printer.Handle(), L"PrinterID"), id);
}

TEST_F(PrinterEventTest, DeletingOnePrinterKeepsTheOthersOfItsDriver) {
    tolvatest::PrinterDataSeam seam;
    TestPrinter first(MinimalSetup());
    ASSERT_TRUE(first.Ok()) << first.Error();
    drivers.push_back(first.DriverName());
    ExtraPrinter second(first.DriverName(), first.PrinterName() + L" B");
    ASSERT_NE(second.Handle(), nullptr) << GetLastError();

    ASSERT_EQ(ProcessPrinterEvent(first.PrinterName().c_str(), PRINTER_EVENT_INITIALIZE, 0, 0), S_OK);
    ASSERT_EQ(ProcessPrinterEvent(second.Name().c_str(), PRINTER_EVENT_INITIALIZE, 0, 0), S_OK);
    const std::wstring storageA = Text(first.Handle(), L"PrinterStorage");
    const std::wstring clientA = Text(first.Handle(), L"ClientID");
    const std::wstring storageB = Text(second.Handle(), L"PrinterStorage");
    const std::wstring clientB = Text(second.Handle(), L"ClientID");
    ASSERT_NE(storageA, storageB);

    // The user key of the printers' PPD (first 8 characters of the data file's name).
    WText userKey(GetUserKeyPath(first.DataFile().c_str()));
    ASSERT_TRUE(userKey);
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, userKey.get()));

    // Initialisation rewrote the printers' watermark keys; what follows is the deletion's.
    const size_t before = seam.DeletedKeys().size();
    auto deletedSince = [&] {
        std::vector<std::wstring> all = seam.DeletedKeys();
        return std::vector<std::wstring>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    };
    ASSERT_EQ(ProcessPrinterEvent(first.PrinterName().c_str(), PRINTER_EVENT_DELETE, 0, 0), S_OK);
    EXPECT_EQ(deletedSince(), std::vector<std::wstring>{clientA}) << "only the deleted printer's settings";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, storageA));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, storageB + L"\\ValidationKey"));
    EXPECT_EQ(MachineString(storageB, L"ClientID"), clientB);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\VYR\\PrinterProps\\" + first.DriverName()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, userKey.get()));

    // A cache deletion of the other printer invalidates and removes only its own storage.
    ASSERT_EQ(ProcessPrinterEvent(second.Name().c_str(), PRINTER_EVENT_CACHE_DELETE, 0, 0), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, storageB));
    EXPECT_EQ(deletedSince(), (std::vector<std::wstring>{clientA, clientB}));
}

TEST_F(PrinterEventTest, DeleteKeepsTheUserKeysOfOtherPPDs) {
    tolvatest::PrinterDataSeam seam;
    TestPrinter printer(MinimalSetup());
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    drivers.push_back(printer.DriverName());
    // A sibling key under the PPDs' common key must survive whatever the printer's PPD.
    const std::wstring sibling = L"Software\\VYR\\Quillet\\Driver\\EVTSIBLG";
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, sibling.c_str()));
    ASSERT_EQ(ProcessPrinterEvent(printer.PrinterName().c_str(), PRINTER_EVENT_DELETE, 0, 0), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, sibling));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\VYR\\Quillet\\Driver"));
    DeleteRegKeyTree(HKEY_CURRENT_USER, sibling.c_str());
}
