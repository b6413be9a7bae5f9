// Tesmor's loader and lifecycle: where the protocol libraries are found, what a missing
// library or entry point does, the order of terminate, and a missing context.
#include <gtest/gtest.h>

#include "TesmorHarness.h"
#include "foundation/StrUtil.h"
#include "serverif/ServerInterfaceContext.h"

using namespace tesmor_test;

namespace {

class TesmorLoader : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_log = new SimLog(TempRoot() + L"loader-sim.log");
        CreateDirectoryW(TempRoot().c_str(), nullptr);
        UseScript(TempRoot() + L"loader-script.txt",
                  "server\t10.1.2.3\nfeature\tDuplex\tyes\nvalues\tMAIL_capable\t0\tyes\t1\n"
                  "discover\t0\nentry\tA1\tB1\n");
    }
    static void TearDownTestSuite()
    {
        delete s_log;
        s_log = nullptr;
        RemoveTree(TempRoot());
    }
    static SimLog* s_log;
};
SimLog* TesmorLoader::s_log = nullptr;

TEST_F(TesmorLoader, LoadsFromTheFolderNamedAfterItselfAndFreesEveryLibraryAfterUnload)
{
    DriverFolder folder(L"full");
    ASSERT_TRUE(folder.Load());
    s_log->Mark();
    ServerInterfaceContext* context = nullptr;
    ASSERT_EQ(folder.api.Initialize(&context), 0);
    ASSERT_NE(context, nullptr);
    const std::string loaded = s_log->Since();
    EXPECT_NE(loaded.find("velmo_load " + Narrow(folder.Dir()) + "Sample\\\n"), std::string::npos) << loaded;

    // A second initialise on a live context is refused and leaves it alone.
    ServerInterfaceContext* kept = context;
    EXPECT_TRUE(Failed(folder.api.Initialize(&context)));
    EXPECT_EQ(context, kept);

    ServerConnectionBlock block = {};
    ASSERT_EQ(folder.api.Connect(&context, L"10.1.2.3", &block), 0);
    QVObList features(10);
    ASSERT_EQ(folder.api.GetFeaturesList(&context, &block, &features, 0), 0);
    EXPECT_EQ(folder.api.FreeFeaturesList(&context, &block, &features), 0);
    EXPECT_EQ(folder.api.Disconnect(&context, &block), 0);

    s_log->Mark();
    ASSERT_EQ(folder.api.Terminate(&context), 0);
    EXPECT_EQ(context, nullptr);
    std::vector<std::string> order;
    for (const std::string& line : s_log->LinesSince())
        if (line == "velmo_unload" || line.rfind("FREED ", 0) == 0)
            order.push_back(line);
    const std::vector<std::string> expected = {"velmo_unload",           "FREED velmoqzt_pcat.dll",
                                               "FREED velmoqzt_ctp.dll", "FREED velmoqzt_vyr_color.dll",
                                               "FREED velmoqzt_vyrm.dll", "FREED velmoqzt10.dll"};
    EXPECT_EQ(order, expected) << s_log->Since();
    EXPECT_EQ(s_log->Faults(), "");
}

// A caller that terminates with a connection still standing: the sessions cached for it are
// closed while the libraries still run, before velmo_unload looks for what is left. The
// connection itself is the caller's to end; it is the one thing the simulator finds left.
TEST_F(TesmorLoader, TerminateClosesCachedSessionsBeforeUnload)
{
    // A log of its own: the connection left behind is no fault of the suite's other cases.
    SimLog own(TempRoot() + L"terminate-sim.log");
    struct Restore {
        ~Restore() { SetEnvironmentVariableW(L"VELMO_SIM_LOG", s_log->Path().c_str()); }
    } restore;
    SimLog* const log = &own;
    DriverFolder folder(L"terminate");
    ASSERT_TRUE(folder.Load());
    ServerInterfaceContext* context = nullptr;
    ASSERT_EQ(folder.api.Initialize(&context), 0);
    ServerConnectionBlock block = {};
    ASSERT_EQ(folder.api.Connect(&context, L"10.1.2.3", &block), 0);
    QVObList features(10), installables(10), all(10), flagged(10);
    ASSERT_EQ(folder.api.GetFeaturesList(&context, &block, &features, 0), 0);  // the ATTR session
    EXPECT_EQ(folder.api.FreeFeaturesList(&context, &block, &features), 0);
    ASSERT_EQ(folder.api.GetInstallablesList(&context, &block, &installables, 0), 0);
    EXPECT_EQ(folder.api.FreeInstallablesList(&context, &block, &installables), 0);
    ASSERT_EQ(folder.api.GetVPAttributes(&context, &block, L"print", &all, &flagged), 0);  // the LP session
    EXPECT_EQ(folder.api.FreeVPAttributes(&context, &block, &all, &flagged), 0);

    log->Mark();
    ASSERT_EQ(folder.api.Terminate(&context), 0);
    EXPECT_EQ(context, nullptr);
    const std::vector<std::string> lines = log->LinesSince();
    auto at = [&](const std::string& start) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(start, 0) == 0)
                return static_cast<long>(i);
        return -1L;
    };
    const long lp = at("LP_closeSession 10.1.2.3"), attr = at("ATTR_closeSession 10.1.2.3");
    const long unload = at("velmo_unload");
    ASSERT_GE(unload, 0) << log->Since();
    EXPECT_GE(lp, 0) << log->Since();
    EXPECT_GE(attr, 0) << log->Since();
    EXPECT_LT(lp, unload) << log->Since();
    EXPECT_LT(attr, unload) << log->Since();
    EXPECT_EQ(velmo_sim::FaultLines(log->Since()), "LEFT connection 10.1.2.3\n") << log->Since();
}

// The library folder is built only from Tesmor's whole path: a path cut at the buffer's end
// (error 122) would name another folder, so none is built.
TEST(ServerInterfaceContextPath, ACutModulePathBuildsNoFolder)
{
    HMODULE self = GetModuleHandleW(nullptr);
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    wchar_t expected[MAX_PATH] = {};
    ASSERT_TRUE(ServerInterfaceContext::BuildLibraryFolder(path, expected, MAX_PATH));
    wchar_t folder[MAX_PATH];
    for (DWORD chars = 0; chars <= length; ++chars) {
        wcscpy(folder, L"unchanged");
        EXPECT_FALSE(ServerInterfaceContext::BuildModuleLibraryFolder(self, chars, folder, MAX_PATH)) << chars;
        EXPECT_STREQ(folder, L"") << chars;
    }
    ASSERT_TRUE(ServerInterfaceContext::BuildModuleLibraryFolder(self, length + 1, folder, MAX_PATH));
    EXPECT_STREQ(folder, expected);
}

TEST_F(TesmorLoader, WithoutTheVyrmLibraryConnectFailsAndDiscoverWorks)
{
    DriverFolder folder(L"novyrm", L"velmoqzt_vyrm.dll");
    ASSERT_TRUE(folder.Load());
    ServerInterfaceContext* context = nullptr;
    ASSERT_EQ(folder.api.Initialize(&context), 0);
    ServerConnectionBlock block = {};
    s_log->Mark();
    EXPECT_TRUE(Failed(folder.api.Connect(&context, L"10.1.2.3", &block)));
    EXPECT_EQ(s_log->Since().find("VYRM_connect"), std::string::npos);
    int size = 0;
    BYTE* buffer = nullptr;
    ASSERT_EQ(folder.api.Discover(&context, &size, &buffer, L"", L"", 100), 0);
    EXPECT_EQ(size, 7);
    EXPECT_EQ(folder.api.FreeDiscover(&context, &buffer), 0);
    EXPECT_EQ(folder.api.Terminate(&context), 0);
    EXPECT_EQ(s_log->Faults(), "");
}

TEST_F(TesmorLoader, WithoutVelmoLoadInitialiseFailsAndLeavesNothingLoaded)
{
    DriverFolder folder(L"noload", nullptr, L"noload");
    ASSERT_TRUE(folder.Load());
    s_log->Mark();
    ServerInterfaceContext* context = nullptr;
    EXPECT_TRUE(Failed(folder.api.Initialize(&context)));
    EXPECT_EQ(context, nullptr);
    // The libraries were loaded and given back at once; a retry starts from nothing.
    EXPECT_EQ(GetModuleHandleW((folder.Dir() + L"Sample\\velmoqzt10.dll").c_str()), nullptr);
    EXPECT_EQ(GetModuleHandleW((folder.Dir() + L"Sample\\velmoqzt_sim.dll").c_str()), nullptr);
    const std::string log = s_log->Since();
    EXPECT_NE(log.find("FREED velmoqzt10.dll"), std::string::npos) << log;
    EXPECT_TRUE(Failed(folder.api.Initialize(&context)));
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(s_log->Faults(), "");
}

TEST_F(TesmorLoader, WithoutVelmoFreeTheExportsThatGiveBackRecordsFail)
{
    DriverFolder folder(L"nofree", nullptr, L"nofree");
    ASSERT_TRUE(folder.Load());
    ServerInterfaceContext* context = nullptr;
    ASSERT_EQ(folder.api.Initialize(&context), 0);
    ServerConnectionBlock block = {};
    ASSERT_EQ(folder.api.Connect(&context, L"10.1.2.3", &block), 0);
    QVObList all(10), flagged(10), list(10);
    s_log->Mark();
    EXPECT_TRUE(Failed(folder.api.GetVPAttributes(&context, &block, L"print", &all, &flagged)));
    EXPECT_TRUE(Failed(folder.api.GetInstallablesList(&context, &block, &list, 0)));
    EXPECT_TRUE(Failed(folder.api.GetMultipleDefaults(&context, &block, &list, 0)));
    // These two would leave the library's arrays behind (velmo_unload reports them).
    EXPECT_TRUE(Failed(folder.api.GetFeaturesList(&context, &block, &list, 0)));
    QVEmailNotification mail;
    EXPECT_TRUE(Failed(folder.api.GetEMailNotifyInfo(&context, &block, &mail, 0)));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(s_log->Since().find("LP_getAttributes"), std::string::npos);
    EXPECT_EQ(s_log->Since().find("FEAT_getFeatureList"), std::string::npos);
    EXPECT_EQ(s_log->Since().find("ATTR_getAttributeValues"), std::string::npos);
    EXPECT_EQ(folder.api.Disconnect(&context, &block), 0);
    EXPECT_EQ(folder.api.Terminate(&context), 0);
    EXPECT_EQ(s_log->Faults(), "");
}

TEST_F(TesmorLoader, WithoutDiscoveryEntryPointsDiscoverFailsWithNullOutputs)
{
    DriverFolder folder(L"nodiscover", nullptr, L"nodiscover");
    ASSERT_TRUE(folder.Load());
    ServerInterfaceContext* context = nullptr;
    ASSERT_EQ(folder.api.Initialize(&context), 0);
    int size = 5;
    BYTE* buffer = reinterpret_cast<BYTE*>(&size);
    EXPECT_TRUE(Failed(folder.api.Discover(&context, &size, &buffer, L"a", L"b", 100)));
    EXPECT_EQ(size, 0);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(folder.api.Terminate(&context), 0);
    EXPECT_EQ(s_log->Faults(), "");
}

TEST_F(TesmorLoader, EveryExportFailsWithoutAContext)
{
    DriverFolder folder(L"nocontext");
    ASSERT_TRUE(folder.Load());
    const auto& api = folder.api;
    ServerConnectionBlock block = {};
    QVObList list(10), other(10);
    QVEmailNotification mail;
    int size = 0;
    BYTE* buffer = nullptr;
    ServerInterfaceContext* none = nullptr;
    s_log->Mark();
    for (ServerInterfaceContext** context : {static_cast<ServerInterfaceContext**>(nullptr), &none}) {
        const bool nullAddress = context == nullptr;
        SCOPED_TRACE(nullAddress ? "null address" : "null context");
        const INT_PTR results[] = {
            api.Connect(context, L"10.1.2.3", &block),
            api.Disconnect(context, &block),
            api.Discover(context, &size, &buffer, L"", L"", 10),
            api.FreeDiscover(context, &buffer),
            api.FreeFeaturesList(context, &block, &list),
            api.FreeInstallablesList(context, &block, &list),
            api.FreeMultipleDefaults(context, &block, &list),
            api.FreeVPAttributes(context, &block, &list, &other),
            api.GetEMailNotifyInfo(context, &block, &mail, 0),
            api.GetFeaturesList(context, &block, &list, 0),
            api.GetInstallablesList(context, &block, &list, 0),
            api.GetMultipleDefaults(context, &block, &list, 0),
            api.GetPPD(context, &block, L"Z:\\tmp\\f.ppd"),
            api.GetVPAttributes(context, &block, L"print", &list, &other),
            nullAddress ? api.Initialize(context) : QVSERVER_FAILED,
            api.Terminate(context),
        };
        for (size_t i = 0; i < 16; ++i) {
#if defined(_WIN64)
            EXPECT_EQ(static_cast<uint64_t>(results[i]), 0x8000000000000000ull) << kQVServerExportNames[i];
#else
            EXPECT_EQ(static_cast<uint32_t>(results[i]), 0x80000000u) << kQVServerExportNames[i];
#endif
        }
    }
    EXPECT_EQ(s_log->Since(), "");
}

TEST_F(TesmorLoader, ExportsCarryTheirOrdinals)
{
    DriverFolder folder(L"ordinals");
    ASSERT_TRUE(folder.Load());
    for (WORD ordinal = 1; ordinal <= 16; ++ordinal) {
        const char* name = kQVServerExportNames[ordinal - 1];
        FARPROC byName = GetProcAddress(folder.Module(), name);
        EXPECT_NE(byName, nullptr) << name;
        EXPECT_EQ(GetProcAddress(folder.Module(), MAKEINTRESOURCEA(ordinal)), byName) << name;
    }
    EXPECT_EQ(GetProcAddress(folder.Module(), MAKEINTRESOURCEA(17)), nullptr);
}

TEST_F(TesmorLoader, OnlyTheAlteredSearchPathFindsTheSimulator)
{
    DriverFolder folder(L"searchpath");
    const std::wstring library = folder.Dir() + L"Sample\\velmoqzt10.dll";
    SetLastError(0);
    HMODULE plain = LoadLibraryW(library.c_str());
    const DWORD error = GetLastError();
    EXPECT_EQ(plain, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    if (plain)
        FreeLibrary(plain);
    HMODULE altered = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    EXPECT_NE(altered, nullptr);
    if (altered)
        FreeLibrary(altered);
}

TEST(ServerInterfaceContextPath, OnlyTheFileNamesExtensionGoes)
{
    struct Case {
        const wchar_t* module;
        const wchar_t* folder;  // null: no path
    } cases[] = {
        {L"C:\\Drivers\\Printer.KQM", L"C:\\Drivers\\Printer\\"},
        {L"C:\\dir.v2 x\\Sample.KQM", L"C:\\dir.v2 x\\Sample\\"},
        {L"C:\\dir.v2 x\\Sample", L"C:\\dir.v2 x\\Sample\\"},
        {L"C:\\a.b\\c.d.KQM", L"C:\\a.b\\c.d\\"},
        {L"C:\\dir\\", nullptr},
        {L"C:\\dir\\.KQM", nullptr},
    };
    for (const Case& c : cases) {
        wchar_t folder[MAX_PATH];
        const bool built = ServerInterfaceContext::BuildLibraryFolder(c.module, folder, MAX_PATH);
        EXPECT_EQ(built, c.folder != nullptr) << Narrow(c.module);
        if (c.folder && built) {
            EXPECT_STREQ(folder, c.folder);
        }
    }
    wchar_t small[8];
    EXPECT_FALSE(ServerInterfaceContext::BuildLibraryFolder(L"C:\\Drivers\\Printer.KQM", small, 8));
}

TEST(ServerInterfaceHelpers, ValueLookupsLineBreaksAndExactConversion)
{
    char a[] = "a", b[] = "b", c[] = "c";
    char* values[] = {nullptr, a, b, c};
    const int32_t flags[] = {1, 2, 1, 3};
    EXPECT_STREQ(FindPrimaryValue(values, flags, 4), "b");
    EXPECT_STREQ(FindSecondaryValue(values, flags, 4), "a");
    EXPECT_EQ(FindPrimaryValue(values, flags, 2), nullptr);
    EXPECT_EQ(FindPrimaryValue(nullptr, flags, 4), nullptr);
    EXPECT_EQ(FindSecondaryValue(values, nullptr, 4), nullptr);

    wchar_t text[] = L"Server\r\nmore";
    TruncateAtLineBreak(text);
    EXPECT_STREQ(text, L"Server");
    wchar_t lf[] = L"A\nB";
    TruncateAtLineBreak(lf);
    EXPECT_STREQ(lf, L"A");

    std::string out;
    EXPECT_TRUE(ToNarrowExact(L"Z:\\tmp\\f.ppd", kThreadAnsiCodePage, out));
    EXPECT_EQ(out, "Z:\\tmp\\f.ppd");
    EXPECT_FALSE(ToNarrowExact(L"Z:\\tmp\\\x0142.ppd", kThreadAnsiCodePage, out));  // "ł"
    EXPECT_FALSE(ToNarrowExact(L"x\xD800", kThreadAnsiCodePage, out));
    EXPECT_TRUE(ToNarrowExact(L"\x00FC", CP_UTF8, out));
    EXPECT_EQ(out, "\xC3\xBC");
    EXPECT_EQ(ToWideText("\xC3\xBC", CP_UTF8), L"\x00FC");
    EXPECT_EQ(ToWideText(nullptr, CP_UTF8), L"");

    // The trace formats once: a long text comes out whole, a format in an argument stays text.
    DebugTrace("%s######%s\n", std::string(5000, 'x').c_str(), "%s%n");
}

}  // namespace
