// The per-call contexts and the activation context, linked directly: the names a context
// reads from the spooler, how it holds the core interface, and when an activation context
// can be made.
#include <gtest/gtest.h>

#include <cwctype>

#include "tests/standins/coredriver/CoreDriverStandIn.h"
#include "tests/support/TestPrinter.h"
#include "tests/uiplugin/QuentaTestUtil.h"
#include "uiplugin/ActivationContext.h"
#include "uiplugin/GeneralInfo.h"

namespace {

bool EndsWithNoCase(const wchar_t* text, const wchar_t* tail)
{
    if (!text) return false;
    const size_t n = wcslen(text), m = wcslen(tail);
    return n >= m && _wcsicmp(text + n - m, tail) == 0;
}

TEST(GeneralInfoTest, ReadsTheSpoolerNamesAndHoldsTheCore)
{
    // The configuration file stays the fixture's placeholder: the spooler loads and calls
    // the configuration module when a printer is added.
    tolvatest::TestPrinter printer(tolvatest::FixturePath(L"tolva-minimal.ppd"));
    ASSERT_TRUE(printer.Ok()) << testing::PrintToString(printer.Error());
    coredriver::CoreUIStandIn core;
    {
        GeneralInfo<IPrintCoreUI2> info(printer.Handle(), &core);
        EXPECT_EQ(core.RefCount(), 2) << "held for the context's life";
        ASSERT_NE(info.GetDataFile(), nullptr);
        EXPECT_EQ(_wcsicmp(info.GetDataFile(), printer.DataFile().c_str()), 0);
        EXPECT_TRUE(EndsWithNoCase(info.GetConfigFile(), L".dll"));
        ASSERT_NE(info.GetDriverName(), nullptr);
        EXPECT_EQ(printer.DriverName(), info.GetDriverName());
        EXPECT_EQ(info.GetPrinter(), printer.Handle());
        EXPECT_EQ(info.GetCoreInterface(), &core);
    }
    EXPECT_EQ(core.RefCount(), 1) << "released with the context";

    OEMDMPARAM request = {};
    DevmodeInfo<IPrintCoreUI2> devmode(printer.Handle(), nullptr, &request);
    EXPECT_EQ(devmode.GetRequest(), &request);
    EXPECT_EQ(devmode.GetCoreInterface(), nullptr) << "a null core is accepted";
    EXPECT_NE(devmode.GetDataFile(), nullptr);
}

TEST(GeneralInfoTest, WithoutAPrinterEveryNameIsMissing)
{
    GeneralInfo<IPrintCoreUI2> info(nullptr, nullptr);
    EXPECT_EQ(info.GetDataFile(), nullptr);
    EXPECT_EQ(info.GetConfigFile(), nullptr);
    EXPECT_EQ(info.GetDriverName(), nullptr);
}

TEST(GeneralInfoTest, ANameThatDoesNotFitIsUnreadable)
{
    tolvatest::TestPrinter printer(tolvatest::FixturePath(L"tolva-minimal.ppd"));
    ASSERT_TRUE(printer.Ok()) << testing::PrintToString(printer.Error());
    const DWORD length = static_cast<DWORD>(printer.DataFile().size());
    const struct {
        const char* name;
        DWORD capacity;
        bool expected;
    } cases[] = {
        {"room for the terminator", length + 1, true},
        {"one character short", length, false},
        {"zero capacity", 0, false},
    };
    for (const auto& c : cases) {
        std::vector<wchar_t> buffer(length + 2, L'#');
        EXPECT_EQ(ReadPrinterName(printer.Handle(), PrinterName::DataFile, buffer.data(), c.capacity), c.expected)
            << c.name;
        if (c.expected)
            EXPECT_EQ(_wcsicmp(buffer.data(), printer.DataFile().c_str()), 0) << c.name;
        else if (c.capacity > 0)
            EXPECT_EQ(buffer[0], L'\0') << c.name << ": left empty, never a cut path";
        else
            EXPECT_EQ(buffer[0], L'#') << c.name << ": nothing written";
    }
    EXPECT_FALSE(ReadPrinterName(printer.Handle(), PrinterName::DataFile, nullptr, 260));
}

TEST(ActivationContextTest, MadeOnlyFromAManifestResource)
{
    QuentaModule quenta;
    ASSERT_NE(quenta.Get(), nullptr);
    const struct {
        const char* name;
        HMODULE module;
        UINT resource;
        bool valid;
    } cases[] = {
        {"Quenta's manifest", quenta.Get(), 2, true},
        {"no module", nullptr, 2, false},
        {"no resource id", quenta.Get(), 0, false},
        {"a resource Quenta does not have", quenta.Get(), 7, false},
    };
    for (const auto& c : cases) {
        ActivationContext context(c.module, c.resource);
        EXPECT_EQ(context.IsValid(), c.valid) << c.name;
        EXPECT_EQ(context.GetHandle() != INVALID_HANDLE_VALUE, c.valid) << c.name;
    }
}

TEST(ActivationContextTest, ProcessContextIsLockedAndUnlocked)
{
    // This process's copy has no module handle, so its context is invalid but present.
    ActivationContext* context = LockActivationContext();
    ASSERT_NE(context, nullptr);
    EXPECT_FALSE(context->IsValid());
    ActivationContext* again = LockActivationContext();  // the owning thread passes at once
    EXPECT_EQ(again, context);
    UnlockActivationContext(again);
    UnlockActivationContext(context);
    UnlockActivationContext(nullptr);
}

}  // namespace
