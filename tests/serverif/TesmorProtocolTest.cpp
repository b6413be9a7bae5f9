// Tesmor against the ways the maker's protocol libraries may differ from the sample: the
// other library layout, a velmoqzt10.dll without the ticket entry points, tickets that never
// complete, and sessions shared by threads that race their block's close.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "TesmorHarness.h"
#include "serverif/ServerInterfaceContext.h"
#include "serverif/VelmoSession.h"

using namespace tesmor_test;

namespace {

using Lines = std::vector<std::wstring>;

std::string ProtocolScript()
{
    std::string s;
    s += "server\t10.3.0.1\n";
    s += "info\t0\tLayout Server\t3.0\t2147483648\t1073741824\n";
    s += "feature\tDuplex\tyes\nfeature\tTrays\t4\nvalues\tPHYSMEMSIZE\t0\t1024\t1\n";
    s += "keys\tfpinstallableoptions\t0\tHDD\tFinisher\n";
    s += "values\tHDD\t0\tInstalled\t1\nvalues\tFinisher\t0\tBooklet\t2\n";
    s += "values\tMAIL_capable\t0\tyes\t1\nvalues\tMAIL_enable\t0\t1\t1\n";
    s += "default\tLDAP_capable\tyes\ndefault\tLDAP_port\t636\n";
    s += "printer\tprint\t0\nattr\tLP Hidden\tyes\t0\nattr\tnum copies\t2\t1\nattr\tStaple\ton\t0\n";
    // A controller whose connect never completes.
    s += "server\t10.3.0.2\ndelay\tVYRM_connect\t-1\n";
    // A controller that connects, then hangs in every close.
    s += "server\t10.3.0.3\nkeys\tfpinstallableoptions\t0\tHDD\nvalues\tHDD\t0\tInstalled\t1\n";
    s += "delay\tATTR_closeSession\t-1\ndelay\tINIT_disconnectFromServer\t-1\n";
    // A controller whose virtual-printer sessions take a while to open.
    s += "server\t10.3.0.4\nprinter\tprint\t0\nattr\tLP Hidden\tyes\t0\nattr\tnum copies\t2\t1\n";
    s += "delay\tLP_openSession\t600\n";
    return s;
}

class TesmorProtocol : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CreateDirectoryW(TempRoot().c_str(), nullptr);
        UseScript(TempRoot() + L"protocol-script.txt", ProtocolScript());
    }
    static void TearDownTestSuite() { RemoveTree(TempRoot()); }
    // A log of each case's own: a case may expect what a hung controller leaves behind.
    void SetUp() override
    {
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_log = std::make_unique<SimLog>(TempRoot() + L"protocol-" + std::wstring(name, name + strlen(name)) + L".log");
        s_log = m_log.get();
    }

    std::unique_ptr<SimLog> m_log;
    SimLog* s_log = nullptr;
};

// Every record of every Get export for one connection, as text lines.
Lines AllRecords(const TesmorApi& api, ServerInterfaceContext** context, ServerConnectionBlock* block)
{
    Lines lines;
    auto take = [&](const char* what, INT_PTR status, const QVObList& list) {
        lines.push_back(std::wstring(what, what + strlen(what)) + L" " + std::to_wstring(status));
        for (const std::wstring& line : ListText(list))
            lines.push_back(L"  " + line);
    };
    QVObList list(10), all(10), flagged(10);
    take("installables", api.GetInstallablesList(context, block, &list, 0), list);
    api.FreeInstallablesList(context, block, &list);
    take("features", api.GetFeaturesList(context, block, &list, 0), list);
    api.FreeFeaturesList(context, block, &list);
    take("defaults", api.GetMultipleDefaults(context, block, &list, 0), list);
    api.FreeMultipleDefaults(context, block, &list);
    const INT_PTR vp = api.GetVPAttributes(context, block, L"print", &all, &flagged);
    take("all", vp, all);
    take("flagged", vp, flagged);
    api.FreeVPAttributes(context, block, &all, &flagged);
    QVEmailNotification mail;
    const INT_PTR email = api.GetEMailNotifyInfo(context, block, &mail, 0);
    lines.push_back(L"email " + std::to_wstring(email) + L" " + std::to_wstring(mail.IsReady()));
    return lines;
}

TEST_F(TesmorProtocol, BothLibraryLayoutsGiveTheSameRecords)
{
    const Lines expected = {
        L"installables 0", L"  HDD=Installed", L"  Finisher=Booklet",
        L"features 0", L"  Duplex=1", L"  Trays=4", L"  QVDRVServerName=Layout Server", L"  QVDRVServerVersion=3.0",
        L"  QVDRVDiskSpace=2048 / 1024 ", L"  QVDRVMemory=1024 ",
        L"defaults 0", L"  LDAP_capable=yes", L"  LDAP_port=636",
        L"all 0", L"  num copies=2", L"  Staple=on",
        L"flagged 0", L"  num copies=2",
        L"email 0 1",
    };
    // The sample keeps the connection calls in velmoqzt_vyrm.dll; "split" keeps them in
    // velmoqzt10.dll and leaves velmoqzt_vyrm.dll only VYRM_connect and VYRM_getPPDEx.
    for (const wchar_t* layout : {static_cast<const wchar_t*>(nullptr), L"split"}) {
        SCOPED_TRACE(layout ? "split layout" : "sample layout");
        DriverFolder folder(L"layout", nullptr, layout);
        ASSERT_TRUE(folder.Load());
        ServerInterfaceContext* context = nullptr;
        ASSERT_EQ(folder.api.Initialize(&context), 0);
        ServerConnectionBlock block = {};
        ASSERT_EQ(folder.api.Connect(&context, L"10.3.0.1", &block), 0);
        EXPECT_EQ(AllRecords(folder.api, &context, &block), expected);
        EXPECT_EQ(folder.api.Disconnect(&context, &block), 0);
        EXPECT_EQ(folder.api.Terminate(&context), 0);
    }
    EXPECT_EQ(s_log->Faults(), "");
}

TEST_F(TesmorProtocol, EachEntryPointIsBoundFromTheLibraryThatHasIt)
{
    for (const wchar_t* layout : {static_cast<const wchar_t*>(nullptr), L"split"}) {
        SCOPED_TRACE(layout ? "split layout" : "sample layout");
        DriverFolder folder(L"binding", nullptr, layout);
        ASSERT_TRUE(folder.Load());
        // The test's own copy of the context, pointed at the folder's library.
        SetServerInterfaceModule(folder.Module());
        {
            ServerInterfaceContext context;
            context.LoadProtocolLibraries();
            const VelmoLibrary connectionCalls = layout ? VelmoLibrary::Velmo10 : VelmoLibrary::Vyrm;
            for (VelmoEntry entry : {VelmoEntry::INIT_disconnectFromServer, VelmoEntry::LP_openSession,
                                     VelmoEntry::FEAT_getFeatureList, VelmoEntry::SERVER_freeInfo,
                                     VelmoEntry::ATTR_getMultipleDefaults, VelmoEntry::JOBM_unlockJobList}) {
                EXPECT_EQ(context.BoundFrom(entry), connectionCalls) << kVelmoEntryRows[static_cast<int>(entry)].name;
            }
            EXPECT_EQ(context.BoundFrom(VelmoEntry::VYRM_connect), VelmoLibrary::Vyrm);
            EXPECT_EQ(context.BoundFrom(VelmoEntry::VYRM_getPPDEx), VelmoLibrary::Vyrm);
            EXPECT_EQ(context.BoundFrom(VelmoEntry::NB_cancel), VelmoLibrary::Velmo10);
            EXPECT_EQ(context.BoundFrom(VelmoEntry::PCAT_freeRows), VelmoLibrary::Pcat);
            for (int e = 0; e < kVelmoEntryCount; ++e)
                EXPECT_TRUE(context.IsBound(static_cast<VelmoEntry>(e))) << kVelmoEntryRows[e].name;
        }
        SetServerInterfaceModule(nullptr);
    }
}

TEST_F(TesmorProtocol, WithoutTicketEntryPointsTheTicketedExportsFailAtOnceAndCallNothing)
{
    DriverFolder folder(L"nonb", nullptr, L"nonb");
    ASSERT_TRUE(folder.Load());
    ServerInterfaceContext* context = nullptr;
    ASSERT_EQ(folder.api.Initialize(&context), 0);
    s_log->Mark();

    const ULONGLONG start = GetTickCount64();
    ServerConnectionBlock block = {};
    EXPECT_TRUE(Failed(folder.api.Connect(&context, L"10.3.0.1", &block)));
    // A block that looks connected: the exports refuse before any library call.
    ServerConnectionBlock looksValid = {};
    looksValid.self = &looksValid;
    QVObList list(10);
    EXPECT_TRUE(Failed(folder.api.GetInstallablesList(&context, &looksValid, &list, 0)));
    EXPECT_TRUE(Failed(folder.api.GetFeaturesList(&context, &looksValid, &list, 0)));
    EXPECT_LT(GetTickCount64() - start, 1000u);

    // Nothing was started that could write after the exports returned.
    Sleep(300);
    const ServerConnectionBlock zero = {};
    EXPECT_EQ(memcmp(&block, &zero, sizeof(block)), 0);
    EXPECT_EQ(looksValid.self, &looksValid);
    EXPECT_EQ(looksValid.connection, nullptr);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(s_log->Since(), "");

    EXPECT_EQ(folder.api.Disconnect(&context, &block), 0);
    EXPECT_EQ(folder.api.Terminate(&context), 0);
    // velmo_unload found nothing left: no allocation, ticket, session or connection.
    EXPECT_EQ(s_log->Faults(), "");
    EXPECT_NE(s_log->Since().find("velmo_unload"), std::string::npos);
}

TEST_F(TesmorProtocol, ATicketThatNeverCompletesIsCancelledWithinItsBound)
{
    DriverFolder folder(L"hung", nullptr, nullptr);
    ASSERT_TRUE(folder.Load());
    ServerInterfaceContext* context = nullptr;
    ASSERT_EQ(folder.api.Initialize(&context), 0);

    // A connect that never completes: failure after the bound, the ticket cancelled.
    s_log->Mark();
    ServerConnectionBlock hung = {};
    ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(Failed(folder.api.Connect(&context, L"10.3.0.2", &hung)));
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, kVelmoTicketBoundMs - 50);
    EXPECT_LT(took, kVelmoTicketBoundMs + 2000);
    std::string log = s_log->Since();
    EXPECT_NE(log.find("NB_cancel VYRM_connect\n"), std::string::npos) << log;
    EXPECT_NE(log.find("CANCELLED VYRM_connect\n"), std::string::npos) << log;
    EXPECT_EQ(hung.self, nullptr);

    // A disconnect whose session close and connection end both hang: one bound for both.
    ServerConnectionBlock block = {};
    ASSERT_EQ(folder.api.Connect(&context, L"10.3.0.3", &block), 0);
    QVObList list(10);
    ASSERT_EQ(folder.api.GetInstallablesList(&context, &block, &list, 0), 0);
    EXPECT_EQ(ListText(list), (Lines{L"HDD=Installed"}));
    folder.api.FreeInstallablesList(&context, &block, &list);
    s_log->Mark();
    start = GetTickCount64();
    EXPECT_EQ(folder.api.Disconnect(&context, &block), 0);
    took = GetTickCount64() - start;
    EXPECT_LT(took, kVelmoTicketBoundMs + 2000);
    log = s_log->Since();
    EXPECT_NE(log.find("NB_cancel ATTR_closeSession\n"), std::string::npos) << log;
    EXPECT_NE(log.find("NB_cancel INIT_disconnectFromServer\n"), std::string::npos) << log;

    start = GetTickCount64();
    EXPECT_EQ(folder.api.Terminate(&context), 0);
    EXPECT_LT(GetTickCount64() - start, 3000u);  // the 1 s pause, nothing left to wait for
    // What the hung controller kept is the controller's: nothing of Tesmor's is left.
    EXPECT_EQ(s_log->Faults(),
              "LEFT session ATTR 10.3.0.3\nLEFT connection 10.3.0.3\nOPEN SESSION AT DISCONNECT ATTR\n");
}

TEST_F(TesmorProtocol, ASessionOpenedWhileItsBlockDisconnectsIsNotKept)
{
    DriverFolder folder(L"straddle", nullptr, nullptr);
    ASSERT_TRUE(folder.Load());
    ServerInterfaceContext* context = nullptr;
    ASSERT_EQ(folder.api.Initialize(&context), 0);
    ServerConnectionBlock block = {};
    ASSERT_EQ(folder.api.Connect(&context, L"10.3.0.4", &block), 0);

    // The LP session takes 600 ms to open; meanwhile the block disconnects and reconnects.
    INT_PTR during = 0;
    std::thread slow([&] {
        QVObList all(10), flagged(10);
        during = folder.api.GetVPAttributes(&context, &block, L"print", &all, &flagged);
        folder.api.FreeVPAttributes(&context, &block, &all, &flagged);
    });
    Sleep(150);
    EXPECT_EQ(folder.api.Disconnect(&context, &block), 0);
    ASSERT_EQ(folder.api.Connect(&context, L"10.3.0.4", &block), 0);
    slow.join();
    EXPECT_TRUE(Failed(during));

    // The new connection opens its own session instead of inheriting the failed one.
    s_log->Mark();
    QVObList all(10), flagged(10);
    ASSERT_EQ(folder.api.GetVPAttributes(&context, &block, L"print", &all, &flagged), 0);
    EXPECT_EQ(ListText(all), (Lines{L"num copies=2"}));
    EXPECT_NE(s_log->Since().find("LP_openSession 10.3.0.4\n"), std::string::npos);
    folder.api.FreeVPAttributes(&context, &block, &all, &flagged);
    EXPECT_EQ(folder.api.Disconnect(&context, &block), 0);
    EXPECT_EQ(folder.api.Terminate(&context), 0);
    EXPECT_EQ(s_log->Faults(), "");
}

TEST_F(TesmorProtocol, EightThreadsOnOneBlockKeepTheirSessionsWhileTheBlockClosesThem)
{
    DriverFolder folder(L"race", nullptr, nullptr);
    ASSERT_TRUE(folder.Load());
    SetServerInterfaceModule(folder.Module());
    {
        ServerInterfaceContext context;
        context.LoadProtocolLibraries();
        ASSERT_TRUE(context.IsBound(VelmoEntry::velmo_load));
        context.Entry<VelmoEntry::velmo_load>()();
        ServerConnectionBlock block = {};
        VelmoTicket ticket = {};
        ASSERT_EQ(context.Entry<VelmoEntry::VYRM_connect>()("10.3.0.1", 5, 2, &block, &ticket), 0);
        ASSERT_EQ(context.WaitForTicket(&ticket), 0);

        auto getValues = context.Entry<VelmoEntry::ATTR_getAttributeValues>();
        auto getAttributes = context.Entry<VelmoEntry::LP_getAttributes>();
        std::atomic<int> used{0}, wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < 150; ++round) {
                    // Two of the threads close the block's sessions under the others' feet.
                    if (t < 2 && round % 3 == 0)
                        context.CloseConnectionSessions(&block);
                    if (t % 2 == 0) {
                        const VelmoSessionUse session = context.GetATTRSession(&block, false);
                        VelmoSessionRecord* handle = session ? session->GetHandle() : nullptr;
                        if (!handle)
                            continue;
                        char** values = nullptr;
                        int32_t* flags = nullptr;
                        int32_t count = 0;
                        const int status = getValues(handle, 0, "MAIL_capable", &values, &flags, &count, nullptr);
                        const char* primary = FindPrimaryValue(values, flags, count);
                        if (status != 0 || !primary || strcmp(primary, "yes") != 0)
                            ++wrong;
                        context.FreeValueArrays(values, flags, count);
                    } else {
                        const VelmoSessionUse session = context.GetLPSession(&block, false);
                        VelmoSessionRecord* handle = session ? session->GetHandle() : nullptr;
                        if (!handle)
                            continue;
                        LPAttributeRecord* record = nullptr;
                        if (getAttributes(handle, "print", &record, 0) != 0 || !record || record->count != 3)
                            ++wrong;
                        context.FreePointer(record);
                    }
                    ++used;
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(wrong.load(), 0);
        EXPECT_GT(used.load(), 0);

        context.CloseConnectionSessions(&block);
        VelmoTicket end = {};
        ASSERT_EQ(context.Entry<VelmoEntry::INIT_disconnectFromServer>()(&block, &end), 0);
        EXPECT_EQ(context.WaitForTicket(&end), 0);
        context.Entry<VelmoEntry::velmo_unload>()();
    }
    SetServerInterfaceModule(nullptr);
    // No session was used after its close, and every one that opened was closed.
    EXPECT_EQ(s_log->Faults(), "");
}

// The exact conversion where the code page is UTF-8: the no-best-fit flag and the
// used-default pointer are not for it.
TEST(ServerInterfaceConversion, ExactConversionInUTF8AndInAnAnsiCodePage)
{
    struct Case {
        UINT codePage;
        const wchar_t* text;
        bool converts;
        const char* bytes;
    } cases[] = {
        {CP_UTF8, L"host-\x0142.example", true, "host-\xC5\x82.example"},
        {CP_UTF8, L"\xD83D\xDE00", true, "\xF0\x9F\x98\x80"},  // a surrogate pair
        {CP_UTF8, L"x\xD800", false, ""},                      // a lone high surrogate
        {CP_UTF8, L"\xDC00y", false, ""},                      // a lone low surrogate
        {CP_UTF8, L"", true, ""},
        {1252, L"\x00FC", true, "\xFC"},
        {1252, L"\x0142", false, ""},  // no best fit ("l")
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.codePage) + " " + Narrow(c.text));
        std::string out = "stale";
        EXPECT_EQ(ToNarrowExact(c.text, c.codePage, out), c.converts);
        EXPECT_EQ(out, c.bytes);
    }
    // The pseudo code pages resolve to the real ones the conversion uses.
    EXPECT_EQ(ResolveCodePage(CP_ACP), GetACP());
    EXPECT_EQ(ResolveCodePage(CP_OEMCP), GetOEMCP());
    EXPECT_NE(ResolveCodePage(CP_THREAD_ACP), static_cast<UINT>(CP_THREAD_ACP));
    EXPECT_EQ(ResolveCodePage(CP_UTF8), static_cast<UINT>(CP_UTF8));
    EXPECT_EQ(ResolveCodePage(1252), 1252u);
}

// A thread whose ANSI code page is UTF-8 (Wine gives it to a locale without an ANSI code
// page, such as hi-IN) converts the thread's texts as UTF-8.
TEST(ServerInterfaceConversion, AThreadWhoseAnsiCodePageIsUTF8ConvertsAsUTF8)
{
    UINT resolved = 0;
    bool converts = false, refusesLoneSurrogate = false;
    std::string bytes;
    std::wstring back;
    std::thread([&] {
        SetThreadLocale(MAKELCID(MAKELANGID(LANG_HINDI, SUBLANG_DEFAULT), SORT_DEFAULT));
        resolved = ResolveCodePage(CP_THREAD_ACP);
        converts = ToNarrowExact(L"Z:\\pr\x0142.ppd", CP_THREAD_ACP, bytes);
        std::string ignored;
        refusesLoneSurrogate = !ToNarrowExact(L"x\xD800", CP_THREAD_ACP, ignored);
        back = ToWideText("\xC5\x82", CP_THREAD_ACP);
    }).join();
    if (resolved != CP_UTF8)
        GTEST_SKIP() << "this platform gives the locale the ANSI code page " << resolved;
    EXPECT_TRUE(converts);
    EXPECT_EQ(bytes, "Z:\\pr\xC5\x82.ppd");
    EXPECT_TRUE(refusesLoneSurrogate);
    EXPECT_EQ(back, L"\x0142");
}

}  // namespace
