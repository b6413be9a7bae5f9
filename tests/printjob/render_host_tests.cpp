// The core-driver stand-in of the rendering side, on its own: the driver interface's
// answers and spool writes, the core DDI table and its call log, the Command text lookup,
// and the print job's reports when the rendering plug-in cannot be loaded.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/standins/coredriver/RenderHost.h"
#include "tests/support/TestPrinter.h"

namespace {

using coredriver::DriverPSStandIn;

TEST(DriverPSStandIn, DriverSettingAnswers)
{
    const std::string longOption(128, 'x');
    struct Case {
        const char* name;
        const char* feature;
        DWORD size;  // 0: null output
        bool exact;
        HRESULT hr;
        DWORD needed;
        DWORD returned;
        std::string output;  // the bytes expected at the start of the buffer; the next one untouched
    };
    const Case cases[] = {
        {"fits", "PageSize", 128, false, S_OK, 3, 1, std::string("A4\0", 3)},
        {"fits exactly", "PageSize", 3, false, S_OK, 3, 1, std::string("A4\0", 3)},
        {"no room for the terminator", "PageSize", 2, false, E_FAIL, 3, 0, ""},
        {"size query", "PageSize", 0, false, E_FAIL, 3, 0, ""},
        {"exact answer", "PageSize", 2, true, S_OK, 2, 1, "A4"},
        {"exact 128-byte answer", "Long", 128, true, S_OK, 128, 1, longOption},
        {"128 bytes and a terminator", "Long", 128, false, E_FAIL, 129, 0, ""},
        {"unknown feature", "Nothing", 128, false, E_INVALIDARG, 0, 0, ""},
    };
    for (const Case& c : cases) {
        DriverPSStandIn driver;
        driver.Settings() = {{"PageSize", "A4"}, {"Long", longOption}};
        driver.SetExactAnswers(c.exact);
        std::vector<char> buffer(200, '#');
        DWORD needed = 77, returned = 77;
        const HRESULT hr = driver.DrvGetDriverSetting(nullptr, c.feature, c.size ? buffer.data() : nullptr, c.size,
                                                      &needed, &returned);
        EXPECT_EQ(hr, c.hr) << c.name;
        EXPECT_EQ(needed, c.needed) << c.name;
        EXPECT_EQ(returned, c.returned) << c.name;
        EXPECT_EQ(std::string(buffer.data(), c.output.size()), c.output) << c.name;
        EXPECT_EQ(buffer[c.output.size()], '#') << c.name << ": wrote past its answer";
        EXPECT_EQ(driver.SettingCalls(), 1u) << c.name;
        EXPECT_EQ(driver.AskedFeatures(), std::vector<std::string>{c.feature}) << c.name;
    }
}

TEST(DriverPSStandIn, SpoolWrites)
{
    struct Case {
        DriverPSStandIn::WriteMode mode;
        HRESULT hr;
        DWORD written;
        const char* spool;
    };
    const Case cases[] = {
        {DriverPSStandIn::WriteMode::Normal, S_OK, 9, "showpage\n"},
        {DriverPSStandIn::WriteMode::Short, S_OK, 4, "show"},
        {DriverPSStandIn::WriteMode::Fail, E_FAIL, 0, ""},
    };
    for (const Case& c : cases) {
        DriverPSStandIn driver;
        driver.SetWriteMode(c.mode);
        char text[] = "showpage\n";
        DWORD written = 77;
        EXPECT_EQ(driver.DrvWriteSpoolBuf(nullptr, text, 9, &written), c.hr) << c.spool;
        EXPECT_EQ(written, c.written) << c.spool;
        EXPECT_EQ(driver.Spool(), c.spool);
        EXPECT_EQ(driver.WriteCalls(), 1u);
    }
}

TEST(DriverPSStandIn, InterfacesAndCount)
{
    DriverPSStandIn driver;
    for (const IID& iid : {IID_IUnknown, IID_IPrintOemDriverPS}) {
        void* object = nullptr;
        ASSERT_EQ(driver.QueryInterface(iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<IPrintOemDriverPS*>(&driver));
        EXPECT_EQ(driver.RefCount(), 2);
        EXPECT_EQ(driver.Release(), 1u);
    }
    void* object = &driver;
    EXPECT_EQ(driver.QueryInterface(IID_IPrintOemPS, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(driver.RefCount(), 1);
}

TEST(CoreDdi, TableInHookOrderAndCallsLogged)
{
    const DRVENABLEDATA* table = coredriver::CoreDdiTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->iDriverVersion, 0x10000u);
    std::vector<ULONG> indexes;
    for (ULONG i = 0; i < table->c; ++i) indexes.push_back(table->pdrvfn[i].iFunc);
#define INDEX_OF(name, index, result, params, args, locator) index,
    const std::vector<ULONG> expected = {TOLVA_DDI_HOOKS(INDEX_OF)};
#undef INDEX_OF
    EXPECT_EQ(indexes, expected);

    // Outside a job the functions only log: every argument as a word, and a non-zero result.
    auto find = [&](ULONG index) {
        for (ULONG i = 0; i < table->c; ++i)
            if (table->pdrvfn[i].iFunc == index) return reinterpret_cast<void (*)()>(table->pdrvfn[i].pfn);
        return static_cast<void (*)()>(nullptr);
    };
    SURFOBJ surface = {};
    const size_t before = coredriver::CoreDdiLog().size();
    auto endDoc = reinterpret_cast<PFN_DrvEndDoc>(find(INDEX_DrvEndDoc));
    EXPECT_EQ(endDoc(&surface, 7), TRUE);
    auto queryFont = reinterpret_cast<PFN_DrvQueryFont>(find(INDEX_DrvQueryFont));
    ULONG_PTR id = 0;
    EXPECT_EQ(static_cast<void*>(queryFont(reinterpret_cast<DHPDEV>(&surface), 3, 4, &id)),
              coredriver::CoreDdiSentinel());
    const std::vector<coredriver::CoreDdiCall>& log = coredriver::CoreDdiLog();
    ASSERT_EQ(log.size(), before + 2);
    EXPECT_EQ(log[before].index, INDEX_DrvEndDoc);
    EXPECT_EQ(log[before].args, (std::vector<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(&surface), 7}));
    EXPECT_EQ(log[before + 1].index, INDEX_DrvQueryFont);
    EXPECT_EQ(log[before + 1].args, (std::vector<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(&surface), 3, 4,
                                                            reinterpret_cast<ULONG_PTR>(&id)}));
}

TEST(PrintJobResult, TextOfJoinsTheCallsOfOneIndexAndPage)
{
    coredriver::PrintJobResult job;
    job.job = "headpage1page2trailer";
    job.commands = {{PSINJECT_COMMENTS, 0, S_OK, 50, 0, 4},
                    {PSINJECT_SHOWPAGE, 1, S_OK, 0, 4, 5},
                    {PSINJECT_SHOWPAGE, 2, S_OK, 0, 9, 5},
                    {PSINJECT_COMMENTS, 0, S_OK, 50, 14, 7},
                    {PSINJECT_EOF, 0, S_OK, 50, 30, 5}};  // outside the job: ignored
    EXPECT_EQ(coredriver::TextOf(job, PSINJECT_COMMENTS), "headtrailer");
    EXPECT_EQ(coredriver::TextOf(job, PSINJECT_SHOWPAGE, 2), "page2");
    EXPECT_EQ(coredriver::TextOf(job, PSINJECT_SHOWPAGE), "");
    EXPECT_EQ(coredriver::TextOf(job, PSINJECT_EOF), "");
    EXPECT_STREQ(coredriver::InjectionName(PSINJECT_ENDPAGECOMMENTS), "ENDPAGECOMMENTS");
    EXPECT_EQ(coredriver::InjectionName(9999), nullptr);
}

// A plug-in that cannot be had ends the job with the step named, and nothing printed.
TEST(PrintJob, ReportsTheStepThatFailed)
{
    struct Case {
        const wchar_t* rindle;
        const wchar_t* error;
    };
    const Case cases[] = {
        {L"", L"no rendering plug-in or PPD given"},
        {L"Z:\\nonexistent\\Rindle.dll", L"LoadLibraryW of the rendering plug-in failed: 0x0000007E"},
        // The UI plug-in serves no rendering class.
        {TOLVA_QUENTA_PATH_W, L"DllGetClassObject failed: 0x80040111"},
    };
    for (const Case& c : cases) {
        coredriver::PrintJobSetup setup;
        setup.rindlePath = c.rindle;
        setup.ppdPath = tolvatest::FixturePath(L"tolva-minimal.ppd");
        const coredriver::PrintJobResult job = coredriver::PrintJob(setup);
        EXPECT_FALSE(job.ok) << c.error;
        EXPECT_EQ(job.error, c.error);
        EXPECT_TRUE(job.job.empty()) << c.error;
        EXPECT_EQ(job.driverRefsLeft, c.rindle[0] ? 1 : 0) << c.error;
    }
}

}  // namespace
