// The printer and user facts of the installable-options page: the platform's answers on a
// printer of Wine's spooler and the table that tests replace.
#include <gtest/gtest.h>

#include <windows.h>

#include "sheets/InsOptFacts.h"
#include "tests/support/TestPrinter.h"

namespace {

TEST(InsOptFactsTest, PlatformAnswersOnALocalPrinter)
{
    tolvatest::TestPrinter printer(tolvatest::FixturePath(L"tolva-sample.ppd"));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    const InsOptPrinterFacts& facts = GetInsOptPrinterFacts();
    EXPECT_FALSE(facts.hasServerName(printer.Handle()));
    EXPECT_FALSE(facts.isTolvaServer(printer.Handle()));
    EXPECT_FALSE(facts.hasServerName(nullptr));
    // Wine's user is an administrator and may administer its local printers.
    EXPECT_TRUE(facts.isUserAdmin());
    EXPECT_FALSE(facts.isPrinterAdminDenied(printer.PrinterName().c_str()));
    struct Case {
        const wchar_t* name;
        BOOL denied;
    } cases[] = {
        {printer.PrinterName().c_str(), FALSE},
        {L"No Such Tolva Printer 4711", TRUE},
        {L"", FALSE},
        {nullptr, FALSE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsPrinterAdminDenied(c.name), c.denied) << (c.name ? c.name : L"(null)");
}

TEST(InsOptFactsTest, ATestTableReplacesThePlatformUntilRestored)
{
    static const InsOptPrinterFacts remoteDenied = {
        [](HANDLE) -> BOOL { return TRUE; }, [](HANDLE) -> BOOL { return FALSE; }, []() -> BOOL { return FALSE; },
        [](const wchar_t*) -> BOOL { return TRUE; }};
    const InsOptPrinterFacts* previous = SetInsOptPrinterFacts(&remoteDenied);
    EXPECT_EQ(&GetInsOptPrinterFacts(), &remoteDenied);
    EXPECT_TRUE(GetInsOptPrinterFacts().hasServerName(nullptr));
    EXPECT_TRUE(GetInsOptPrinterFacts().isPrinterAdminDenied(L"x"));
    EXPECT_EQ(SetInsOptPrinterFacts(nullptr), &remoteDenied);
    EXPECT_EQ(&GetInsOptPrinterFacts(), previous);
    EXPECT_FALSE(GetInsOptPrinterFacts().isPrinterAdminDenied(nullptr));
}

}  // namespace
