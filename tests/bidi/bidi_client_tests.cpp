// The two-way road end to end: Quenta's client (linked directly) starts the real Brimsa from
// <stem>.SRV, which loads the scripted stand-in library as <stem>.KQM; the shared block,
// the RPC guard and the reply reader are tested on their own. Every test ends the servers it
// started, by process id.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BiDiService.h"
#include "BiDiTestUtil.h"
#include "settings/KVCache.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "uiplugin/BiDiClient.h"
#include "uiplugin/BiDiShare.h"
#include "tests/standins/velmo/VelmoSimLog.h"
#include "uiplugin/RpcGuard.h"

using namespace bidi_test;

namespace {

constexpr wchar_t kAddress[] = L"10.0.0.7";

// Ends this test's servers when the test ends, whatever happened.
class BiDiTest : public ::testing::Test {
protected:
    void SetUp() override { SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", L"2000"); }
    void TearDown() override {
        for (const BiDiPrinter& printer : m_printers) printer.EndServers();
        SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", nullptr);
    }
    const BiDiPrinter& Printer(const std::wstring& stem, const std::string& script, bool withServer = true,
                               bool otherWidth = false) {
        m_printers.push_back(MakePrinter(stem, script, withServer ? BrimsaPath(otherWidth) : std::wstring(),
                                         StandInPath(otherWidth, false)));
        return m_printers.back();
    }
    std::unique_ptr<CBiDiClient> Client(const BiDiPrinter& printer, const wchar_t* address = kAddress) {
        return std::make_unique<CBiDiClient>(printer.srv().c_str(), printer.ppd().c_str(), address, nullptr);
    }
    // A client with its connection to the server standing. A loaded machine can take longer
    // than the client's 2 s connect budget to start a server; a later client then finds it.
    std::unique_ptr<CBiDiClient> Connected(const BiDiPrinter& printer, const wchar_t* address = kAddress) {
        std::unique_ptr<CBiDiClient> client;
        for (int attempt = 0; attempt < 4; ++attempt) {
            client = Client(printer, address);
            client->WaitForConnectAttempt();
            if (client->HasConnection()) break;
        }
        return client;
    }
    // The script line that has QVServerGetPPD copy a fresh copy of the sample (in a folder
    // named by tag); empty when the copy could not be made.
    static std::string PPDSourceLine(const wchar_t* tag) {
        const std::wstring source = MakeTestFolder(tag) + L"\\Source.PPD";
        if (!CopyInto(SamplePPDPath(), source)) return std::string();
        return "ppd " + std::string(source.begin(), source.end()) + "\n";
    }
    std::vector<BiDiPrinter> m_printers;
};

// The reply as "key=value" lines.
std::string ReplyLines(const wchar_t* text, long count) {
    std::string out;
    long at = 0;
    while (text && at < count && text[at]) {
        std::wstring key = text + at;
        at += static_cast<long>(key.size()) + 1;
        std::wstring value = text + at;
        at += static_cast<long>(value.size()) + 2;
        out += std::string(key.begin(), key.end()) + "=" + std::string(value.begin(), value.end()) + "\n";
    }
    return out;
}

// Whether the other width's Brimsa and stand-in are built and this machine runs them (a
// Brimsa without argument ends at once with 0).
bool OtherWidthRuns() {
    if (GetFileAttributesW(BrimsaPath(true).c_str()) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesW(StandInPath(true).c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    return RunAndWait(BrimsaPath(true), L"Brimsa.exe", 30000) == 0;
}

// Index of the first log line holding needle after position from, npos when none.
size_t Find(const std::string& log, const std::string& needle, size_t from = 0) { return log.find(needle, from); }

}  // namespace

namespace {

// Holds a block's serving mutex from a thread of its own, as a live server does (a probe
// from the owning thread itself would pass the mutex).
class LiveServerStandIn {
public:
    explicit LiveServerStandIn(const CBiDiShare& share) : m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this, &share, held] {
            HANDLE serving = share.OpenServingMutex();
            if (serving) WaitForSingleObject(serving, 0);
            SetEvent(held);
            WaitForSingleObject(m_release, INFINITE);
            if (serving) {
                ReleaseMutex(serving);
                CloseHandle(serving);
            }
        });
        WaitForSingleObject(held, 5000);
        CloseHandle(held);
    }
    ~LiveServerStandIn() {
        SetEvent(m_release);
        m_thread.join();
        CloseHandle(m_release);
    }

private:
    HANDLE m_release;
    std::thread m_thread;
};

// The process of the one server running for the printer (null when none), opened to be
// waited for.
HANDLE OpenServer(const BiDiPrinter& printer) {
    for (int i = 0; i < 100; ++i, Sleep(50)) {
        const std::vector<DWORD> pids = FindProcesses(printer.stem + L".SRV");
        if (pids.size() == 1) return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pids[0]);
    }
    return nullptr;
}

double MsSince(DWORD start) { return static_cast<double>(GetTickCount() - start); }

// How long a client whose road does not answer takes, from start: for its text, for the
// connection state, and to close (from the close's own start). The client is gone afterwards.
struct RoadTimes {
    double text = 0, connected = 0, closed = 0;
};
RoadTimes TimeUnansweredRoad(std::unique_ptr<CBiDiClient>& client, long mask, DWORD start) {
    RoadTimes times;
    client->Request(mask);
    EXPECT_EQ(client->GetText(mask), nullptr);
    times.text = MsSince(start);
    EXPECT_EQ(client->IsConnected(), 0);
    times.connected = MsSince(start);
    const DWORD closing = GetTickCount();
    client.reset();
    times.closed = MsSince(closing);
    return times;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Shared block.

TEST(BiDiShareBlock, OneBlockPerStemAcrossFolders) {
    const std::wstring a = MakeTestFolder(L"shareA"), b = MakeTestFolder(L"shareB");
    CBiDiShare first(kBiDiShareGuid, (a + L"\\ShareStem.PPD").c_str());
    CBiDiShare second(kBiDiShareGuid, (b + L"\\ShareStem.KQM").c_str());
    ASSERT_NE(first.GetName(), nullptr);
    const std::wstring session = std::to_wstring(GetBiDiSessionId());
    EXPECT_EQ(std::wstring(first.GetName()), L"ShareStem:{01581BEB-3E9F-4a55-9C8B-E3EF66344B5E}:" + session);
    EXPECT_STREQ(second.GetName(), first.GetName());
    EXPECT_TRUE(first.IsCreator());
    EXPECT_FALSE(second.IsCreator());
    EXPECT_EQ(first.GetClientCount(), 0u);
    EXPECT_EQ(first.GetServerCount(), 0u);
    EXPECT_NE(first.GetLastActivity(), 0u);
    const DWORD created = first.GetLastActivity();
    EXPECT_EQ(second.GetLastActivity(), created);

    BiDiShareMutex mutex;
    AutoLock hold(&mutex);
    EXPECT_EQ(first.AddClient(), 1u);
    Sleep(20);
    EXPECT_EQ(second.AddClient(), 2u);
    Sleep(50);
    const DWORD before = GetTickCount();
    EXPECT_EQ(first.RemoveClient(), 1u);
    const DWORD last = first.GetLastActivity();
    EXPECT_NE(last, created);
    EXPECT_LE(last - before, GetTickCount() - before);  // stamped by the last call
    EXPECT_EQ(second.GetClientCount(), 1u);
    EXPECT_EQ(first.AddServer(), 1u);
    EXPECT_EQ(second.RemoveServer(), 0u);
    EXPECT_EQ(second.RemoveServer(), 0u);  // never below 0
    EXPECT_EQ(first.GetLastActivity(), last);  // servers leave the tick alone
    EXPECT_EQ(first.RemoveClient(), 0u);
    EXPECT_EQ(first.RemoveClient(), 0u);  // never below 0
}

TEST(BiDiShareBlock, WithoutPathNoName) {
    CBiDiShare share(kBiDiShareGuid, nullptr);
    EXPECT_EQ(share.GetName(), nullptr);
    CBiDiShare none(nullptr, L"C:\\x\\y.PPD");
    EXPECT_FALSE(none.IsMapped());
    EXPECT_EQ(none.AddClient(), 0u);
    EXPECT_EQ(none.GetServerCount(), 0u);
}

// ---------------------------------------------------------------------------------------
// RPC guard.

namespace {
void Raise(void* code) { RaiseException(*static_cast<DWORD*>(code), 0, 0, nullptr); }
void Nothing(void* flag) { *static_cast<int*>(flag) = 1; }
void Nested(void* code) {
    unsigned long inner = 0;
    if (RpcGuardedCall(&Raise, code, &inner)) return;
    Raise(code);  // raised again after the inner guard handled it: the outer one sees it too
}
void Fault(void*) { *static_cast<volatile int*>(nullptr) = 1; }
}  // namespace

TEST(BiDiRpcGuard, HandlesRpcFailuresAndReportsTheCode) {
    int flag = 0;
    unsigned long code = 99;
    EXPECT_EQ(RpcGuardedCall(&Nothing, &flag, &code), 1);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(code, 0u);
    for (DWORD raised : {1722ul, 1726ul, 1775ul, 1783ul, 0xC0000000ul | 0x6F7}) {
        EXPECT_EQ(RpcGuardedCall(&Raise, &raised, &code), 0) << raised;
        EXPECT_EQ(code, raised);
        EXPECT_EQ(RpcGuardedCall(&Nested, &raised, &code), 0) << raised;
        EXPECT_EQ(code, raised);
    }
    EXPECT_EQ(RpcGuardedCall(nullptr, nullptr, &code), 0);
    for (DWORD passing : {0xC0000005ul, 0xC00000FDul, 0xC000001Dul, 0x80000003ul})
        EXPECT_TRUE(RpcGuardPassesThrough(passing)) << passing;
}

// An access violation is not the guard's: the process still dies of it (child process).
TEST(BiDiRpcGuard, AccessViolationStillKills) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const long code = RunAndWait(self, L"x --bidi-child-fault", 30000);
    EXPECT_EQ(static_cast<DWORD>(code), 0xC0000005u);
}

// ---------------------------------------------------------------------------------------
// Reply reader.

TEST(BiDiReply, ReadOnlyWithinCount) {
    const std::wstring folder = MakeTestFolder(L"reply");
    const std::wstring ppd = folder + L"\\Reply.PPD";
    ASSERT_TRUE(CopyInto(SamplePPDPath(), ppd));
    CfgSettingsHold hold(ppd.c_str());
    CfgSettings* settings = hold.Get();
    ASSERT_NE(settings, nullptr);
    OptionForest* forest = settings->GetKeyForest();
    ASSERT_NE(forest, nullptr);
    CBaseSoup* soup = settings->GetStringSoup();

    const wchar_t good[] = L"*TolvaTray3\0True\0\0*NoSuchKey\0x\0\0*TolvaFinisher\0Bogus\0\0";
    KVCache cache;
    EXPECT_EQ(ParseBiDiReply(settings, forest, &cache, good, static_cast<long>(sizeof(good) / sizeof(wchar_t))), 1);
    const CKeySetting* tray = cache.Find(soup->Find(L"*TolvaTray3"));
    ASSERT_NE(tray, nullptr);
    EXPECT_STREQ(soup->GetString(tray->GetValueId()), L"True");
    EXPECT_EQ(cache.GetCount(), 1u);

    struct {
        const wchar_t* text;
        long count;
        int applied;
    } bad[] = {
        {L"*TolvaTray3\0True\0\0", 0, 0},       // no characters
        {L"*TolvaTray3\0True\0\0", -5, 0},      // negative count
        {L"*TolvaTray3\0True", 16, 0},           // no final NUL within count
        {L"*TolvaTray3\0True\0\0", 12, 0},      // the value lies beyond count
        {L"*TolvaTray3\0True\0\0", 17, 1},      // cut after the value: read, then stop
        {nullptr, 10, 0},
    };
    for (const auto& c : bad) {
        KVCache out;
        EXPECT_EQ(ParseBiDiReply(settings, forest, &out, c.text, c.count), c.applied) << c.count;
    }
}

// ---------------------------------------------------------------------------------------
// Starting the server.

TEST_F(BiDiTest, ServerStartedWithTwoQuotedArguments) {
    const BiDiPrinter& printer = Printer(L"Recorded", "", false);
    ASSERT_TRUE(CopyInto(std::wstring(TOLVA_BIN_DIR_W) + L"\\bidi_recorder.exe", printer.srv()));
    { auto client = Client(printer); }  // no server answers: the attempt fails
    std::string line;
    for (int i = 0; i < 100 && line.empty(); ++i, Sleep(50)) line = ReadTextFile(printer.Path(L".args"));
    const std::wstring srvW = printer.srv(), kqmW = printer.kqm();
    const std::string srv(srvW.begin(), srvW.end()), kqm(kqmW.begin(), kqmW.end());
    EXPECT_EQ(line, "\"" + srv + "\" \"" + kqm + "\"");
}

TEST_F(BiDiTest, NothingStartsWithAServerCounted) {
    const BiDiPrinter& printer = Printer(L"Counted", "", false);
    ASSERT_TRUE(CopyInto(std::wstring(TOLVA_BIN_DIR_W) + L"\\bidi_recorder.exe", printer.srv()));
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    LiveServerStandIn live(share);
    {
        BiDiShareMutex mutex;
        AutoLock hold(&mutex);
        share.AddServer();
    }
    {
        auto client = Client(printer);
        EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    }
    EXPECT_EQ(ReadTextFile(printer.Path(L".args")), "");
}

// ---------------------------------------------------------------------------------------
// Replies.

TEST_F(BiDiTest, FeaturesReply) {
    const BiDiPrinter& printer = Printer(L"Features", kSampleScript);
    auto client = Connected(printer);
    long count = 0;
    std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures, &count));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(count, 89);
    const std::string lines = ReplyLines(text.get(), count);
    for (const char* expected : {"*TolvaDuplexUnit=False\n", "*InstalledMemory=4GB\n", "*TolvaTray3=True\n",
                                 "*TolvaFinisher=Stapler\n"})
        EXPECT_NE(lines.find(expected), std::string::npos) << expected << " in\n" << lines;
    EXPECT_EQ(client->IsConnected(), 1);
    EXPECT_EQ(client->IsConnectedTo(L"10.0.0.7"), 1);
    EXPECT_EQ(client->IsConnectedTo(L"10.0.0.8"), 0);
    const std::string log = printer.ReadLog();
    size_t at = Find(log, "enter QVServerInitialize");
    for (const char* step : {"enter QVServerConnect", "enter QVServerGetFeaturesList", "enter QVServerFreeFeaturesList",
                             "enter QVServerGetInstallablesList", "enter QVServerFreeInstallablesList"}) {
        ASSERT_NE(at, std::string::npos) << log;
        at = Find(log, step, at);
    }
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_EQ(CountLines(log, "enter QVServerConnect"), 1);
}

TEST_F(BiDiTest, EmailAndMultipleDefaults) {
    const BiDiPrinter& printer = Printer(L"Email", "email 1\ndefault LDAP_enable=YES\n");
    auto client = Connected(printer);
    long count = 0;
    std::unique_ptr<wchar_t[]> email(client->GetText(BiDiEmailNotify, &count));
    ASSERT_NE(email, nullptr);
    EXPECT_EQ(ReplyLines(email.get(), count), "*BIDI_EmailReady=Yes\n");
    std::unique_ptr<wchar_t[]> defaults(client->GetText(BiDiMultipleDefaults, &count));
    ASSERT_NE(defaults, nullptr);
    const std::string lines = ReplyLines(defaults.get(), count);
    // No LDAP server reported: the data file's default stays.
    EXPECT_NE(lines.find("*LDAP_server=\n"), std::string::npos) << lines;
}

TEST_F(BiDiTest, FailedConnectAnswersNothingWithOneConnect) {
    const BiDiPrinter& printer = Printer(L"NoConnect", std::string(kSampleScript) + "QVServerConnect fail\n");
    auto client = Connected(printer);
    ASSERT_TRUE(client->HasConnection());
    client->Request(BiDiFeatures);
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    EXPECT_EQ(client->IsConnected(), 0);
    const std::string log = printer.ReadLog();
    EXPECT_EQ(CountLines(log, "enter QVServerConnect"), 1);
    // A controller that could not be reached is never asked for anything.
    EXPECT_EQ(CountLines(log, "enter QVServerGet"), 0) << log;
}

// The server runs, but this client's open is refused (no controller address): what it asks
// for is dropped, and the server calls nothing for it.
TEST_F(BiDiTest, FailedOpenQueuesNothingWhileAServerRuns) {
    const BiDiPrinter& printer = Printer(L"NoOpen", kSampleScript);
    auto running = Connected(printer);
    ASSERT_TRUE(running->HasConnection());
    auto client = Client(printer, L"");
    client->Request(BiDiFeatures);  // made while connecting: queued, then dropped
    client->WaitForConnectAttempt();
    EXPECT_FALSE(client->HasConnection());
    client->Request(BiDiFeatures | BiDiEmailNotify);
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    EXPECT_EQ(client->IsConnected(), 0);
    Sleep(300);  // a request that slipped through would have reached the library by now
    EXPECT_EQ(CountLines(printer.ReadLog(), "enter "), 0) << printer.ReadLog();
    EXPECT_EQ(FindProcesses(printer.stem + L".SRV").size(), 1u);
}

TEST_F(BiDiTest, PartlyDoneMaskFetchesTheRest) {
    const BiDiPrinter& printer = Printer(L"Partly", std::string(kSampleScript) + "email 1\n");
    auto client = Connected(printer);
    long count = 0;
    std::unique_ptr<wchar_t[]> features(client->GetText(BiDiFeatures, &count));
    ASSERT_NE(features, nullptr);
    EXPECT_EQ(count, 89);
    std::unique_ptr<wchar_t[]> all(client->GetText(15, &count));
    ASSERT_NE(all, nullptr);
    EXPECT_NE(ReplyLines(all.get(), count).find("*BIDI_EmailReady=Yes"), std::string::npos);
    EXPECT_NE(ReplyLines(all.get(), count).find("*TolvaTray3=True"), std::string::npos);
    EXPECT_EQ(CountLines(printer.ReadLog(), "enter QVServerGetFeaturesList"), 1);
}

TEST_F(BiDiTest, QueuedRequestArrives) {
    const BiDiPrinter& printer = Printer(L"Queued", kSampleScript);
    std::unique_ptr<CBiDiClient> client;
    for (int attempt = 0; attempt < 4 && !(client && client->HasConnection()); ++attempt) {
        client = Client(printer);
        client->Request(BiDiFeatures);  // while connecting: queued, sent once connected
        client->WaitForConnectAttempt();
    }
    ASSERT_TRUE(client->HasConnection());
    std::string log;
    for (int i = 0; i < 100 && CountLines(log, "leave QVServerFreeInstallablesList") == 0; ++i, Sleep(50))
        log = printer.ReadLog();
    EXPECT_EQ(CountLines(log, "leave QVServerFreeInstallablesList"), 1) << log;
}

TEST_F(BiDiTest, NoServerNoRequestNoText) {
    const BiDiPrinter& printer = Printer(L"NoServer", kSampleScript, false);
    auto client = Client(printer);
    client->WaitForConnectAttempt();
    EXPECT_FALSE(client->HasConnection());
    client->Request(BiDiFeatures);
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    EXPECT_EQ(client->IsConnected(), 0);
}

// ---------------------------------------------------------------------------------------
// Discover and the PPD fetch (procedures Quenta does not call, through the stub).

namespace {
struct Session {
    void* binding = nullptr;
    void* context = nullptr;
    explicit Session(const BiDiPrinter& printer) {
        CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
        if (BindBiDiEndpoint(share.GetName(), &binding) && WaitForBiDiServer(binding, 5000))
            context = CallBiDiOpen(binding, printer.ppd().c_str(), kAddress, nullptr);
    }
    ~Session() {
        if (context) RpcGuardedCall([](void* p) { BiDiClose(static_cast<BiDiContextHandle*>(p)); }, &context, nullptr);
        if (binding) RpcBindingFree(&binding);
    }
};
}  // namespace

TEST_F(BiDiTest, DiscoverAndGetPPD) {
    const std::wstring source = MakeTestFolder(L"ppdsource") + L"\\Source.PPD";
    ASSERT_TRUE(CopyInto(SamplePPDPath(), source));
    const BiDiPrinter& printer = Printer(L"Discover", "discover A1 B1\ndiscover A2 B2\nQVServerDiscover ok 300\nppd " +
                                                          std::string(source.begin(), source.end()) + "\n");
    // Brimsa starts when a client registers.
    auto client = Connected(printer);
    client->WaitForConnectAttempt();
    Session session(printer);
    ASSERT_NE(session.context, nullptr);
    EXPECT_EQ(BiDiStartDiscover(session.context, L"f1", L"f2", 5), 1);
    EXPECT_EQ(BiDiStartDiscover(session.context, L"f1", L"f2", 5), 1);
    EXPECT_EQ(BiDiStartDiscover(session.context, L"f1", L"other", 5), 0);
    long count = 0;
    wchar_t* text = nullptr;
    ASSERT_EQ(BiDiDiscover(session.context, L"f1", L"f2", 5, &count, &text), 1);
    ASSERT_EQ(count, 13);
    EXPECT_EQ(std::wstring(text, 13), std::wstring(L"B1\0A1\0B2\0A2\0\0", 13));
    MIDL_user_free(text);
    EXPECT_EQ(CountLines(printer.ReadLog(), "enter QVServerDiscover"), 1);

    const std::wstring destination = printer.folder + L"\\Fetched.PPD";
    EXPECT_EQ(BiDiGetPPD(session.context, destination.c_str()), 1);
    EXPECT_EQ(BiDiGetPPD(session.context, destination.c_str()), 1);
    EXPECT_EQ(GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES, true);
    EXPECT_EQ(CountLines(printer.ReadLog(), "enter QVServerGetPPD"), 1);
    for (const std::wstring& bad : {printer.folder + L"\\Fetched.TXT", printer.folder + L"\\..\\Fetched.PPD",
                                    std::wstring(L"\\\\server\\share\\F.PPD"), printer.folder + L"\\F.PPD:s.PPD"})
        EXPECT_EQ(BiDiGetPPD(session.context, bad.c_str()), 0);
}

// An empty data-file path or controller address is a missing one: no connection is made.
TEST_F(BiDiTest, OpenWithAnEmptyPathOrAddressMakesNoConnection) {
    const BiDiPrinter& printer = Printer(L"EmptyOpen", kSampleScript);
    auto client = Connected(printer);
    ASSERT_TRUE(client->HasConnection());
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    void* binding = nullptr;
    ASSERT_TRUE(BindBiDiEndpoint(share.GetName(), &binding));
    ASSERT_TRUE(WaitForBiDiServer(binding, 5000));
    const std::wstring ppd = printer.ppd();
    struct {
        const wchar_t* path;
        const wchar_t* address;
    } cases[] = {{L"", kAddress}, {ppd.c_str(), L""}, {L"", L""}};
    for (const auto& c : cases) {
        void* context = CallBiDiOpen(binding, c.path, c.address, nullptr);
        EXPECT_EQ(context, nullptr) << "path length " << wcslen(c.path) << ", address length " << wcslen(c.address);
        if (context) RpcGuardedCall([](void* p) { BiDiClose(static_cast<BiDiContextHandle*>(p)); }, &context, nullptr);
    }
    // The same server opens a connection with both.
    void* context = CallBiDiOpen(binding, ppd.c_str(), kAddress, nullptr);
    EXPECT_NE(context, nullptr);
    if (context) RpcGuardedCall([](void* p) { BiDiClose(static_cast<BiDiContextHandle*>(p)); }, &context, nullptr);
    RpcBindingFree(&binding);
    EXPECT_EQ(CountLines(printer.ReadLog(), "enter QVServerConnect"), 0);
}

// A connection closed while its PPD fetch runs waits for the fetch before the controller
// connection ends.
TEST_F(BiDiTest, PPDFetchEndsBeforeTheControllerDisconnects) {
    const std::string source = PPDSourceLine(L"fetchsource");
    ASSERT_FALSE(source.empty());
    const BiDiPrinter& printer = Printer(L"FetchClose", "QVServerGetPPD ok 1500\n" + source);
    auto client = Connected(printer);
    ASSERT_TRUE(client->HasConnection());
    const std::wstring destination = printer.folder + L"\\Fetched.PPD";
    {
        Session session(printer);
        ASSERT_NE(session.context, nullptr);
        ASSERT_EQ(BiDiStartGetPPD(session.context, destination.c_str()), 1);
        std::string log;
        for (int i = 0; i < 200 && CountLines(log, "enter QVServerGetPPD") == 0; ++i, Sleep(20)) log = printer.ReadLog();
        ASSERT_EQ(CountLines(log, "enter QVServerGetPPD"), 1) << log;
    }  // closed mid-fetch
    const std::string log = printer.ReadLog();
    const size_t fetched = Find(log, "leave QVServerGetPPD");
    const size_t disconnect = Find(log, "enter QVServerDisconnect");
    ASSERT_NE(fetched, std::string::npos) << log;
    ASSERT_NE(disconnect, std::string::npos) << log;
    EXPECT_LT(fetched, disconnect) << log;
    EXPECT_NE(GetFileAttributesW(destination.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(BiDiTest, EmptyDiscover) {
    const BiDiPrinter& printer = Printer(L"Empty", "");
    auto client = Connected(printer);
    client->WaitForConnectAttempt();
    Session session(printer);
    ASSERT_NE(session.context, nullptr);
    long count = 0;
    wchar_t* text = nullptr;
    ASSERT_EQ(BiDiDiscover(session.context, L"", L"", 1, &count, &text), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(text[0], L'\0');
    MIDL_user_free(text);
}

// ---------------------------------------------------------------------------------------
// The whole road over Tesmor: Brimsa loads the built print-server interface library, which
// loads the protocol-library stand-ins from the folder named after it.

namespace {

// The simulator's controller for the sample data file's keys (tab-separated records).
const char kTesmorScript[] =
    "server\t10.1.2.3\n"
    "info\t0\tTolva Road Server\t3.0\t1073741824\t536870912\n"
    "feature\tTolva Duplex Unit\tFalse\n"
    "feature\tInstalled Memory\t4GB\n"
    "values\tPHYSMEMSIZE\t0\t512\t1\n"
    "keys\tfpinstallableoptions\t0\tTolvaTray3\tTolvaFinisher\n"
    "values\tTolvaTray3\t0\tTrue\t1\n"
    "values\tTolvaFinisher\t0\tNone\t0\tStapler\t1\n"
    "values\tMAIL_capable\t0\tyes\t1\n"
    "values\tMAIL_enable\t0\t1\t1\n"
    "default\tLDAP_enable\tYES\n"
    "default\tLDAP_server\tldap.example\n"
    "default\tLDAP_port\t389\n";

// The data file's folder laid out as a driver folder: <stem>.SRV (Brimsa), <stem>.KQM (Tesmor)
// and <stem>\ with the five protocol-library stand-ins and the simulator.
bool PlaceTesmor(const BiDiPrinter& printer) {
    const std::wstring libraries = printer.folder + L"\\" + printer.stem;
    if (!CreateDirectoryW(libraries.c_str(), nullptr)) return false;
    for (const wchar_t* file : {L"velmoqzt10.dll", L"velmoqzt_vyrm.dll", L"velmoqzt_vyr_color.dll", L"velmoqzt_ctp.dll",
                                L"velmoqzt_pcat.dll", L"velmoqzt_sim.dll"})
        if (!CopyInto(std::wstring(TOLVA_VELMO_DIR_W) + L"\\Sample\\" + file, libraries + L"\\" + file)) return false;
    return CopyInto(std::wstring(TOLVA_BIN_DIR_W) + L"\\Tesmor.dll", printer.kqm()) &&
           WriteTextFile(libraries + L"\\velmo_sim_script.txt", kTesmorScript);
}

}  // namespace

TEST_F(BiDiTest, RoadOverTesmorAndItsProtocolLibraries) {
    const BiDiPrinter& printer = Printer(L"TesmorRoad", "", true);
    ASSERT_TRUE(DeleteFileW(printer.kqm().c_str()));  // the scripted library goes; Tesmor comes
    ASSERT_TRUE(PlaceTesmor(printer));
    const std::wstring simLog = printer.folder + L"\\sim.log";
    SetEnvironmentVariableW(L"VELMO_SIM_LOG", simLog.c_str());  // Brimsa inherits both
    SetEnvironmentVariableW(L"VELMO_SIM_SCRIPT", nullptr);
    struct Restore {
        ~Restore() { SetEnvironmentVariableW(L"VELMO_SIM_LOG", nullptr); }
    } restore;
    std::vector<DWORD> servers;
    {
        auto client = Connected(printer, L"10.1.2.3");
        ASSERT_TRUE(client->HasConnection());
        servers = FindProcesses(printer.stem + L".SRV");
        EXPECT_EQ(servers.size(), 1u);
        EXPECT_EQ(client->IsConnected(), 1);
        EXPECT_EQ(client->IsConnectedTo(L"10.1.2.3"), 1);
        long count = 0;
        std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures | BiDiEmailNotify | BiDiMultipleDefaults, &count));
        ASSERT_NE(text, nullptr) << ReadTextFile(simLog);
        const std::string lines = ReplyLines(text.get(), count);
        for (const char* expected : {"*TolvaDuplexUnit=False\n", "*InstalledMemory=4GB\n", "*TolvaTray3=True\n",
                                     "*TolvaFinisher=Stapler\n", "*BIDI_EmailReady=Yes\n", "*LDAP_enable=YES\n",
                                     "*LDAP_server=ldap.example\n", "*LDAP_port=389\n"})
            EXPECT_NE(lines.find(expected), std::string::npos) << expected << " in\n" << lines;
    }
    // The last client gone, the idle server ends itself: it closes the controller connection
    // and terminates the libraries, and the simulator sees nothing left or misused.
    const bool ended = WaitNoProcess(printer.stem + L".SRV", 20000);
    for (DWORD pid : servers) EndProcess(pid);
    EXPECT_TRUE(ended);
    const std::string log = ReadTextFile(simLog);
    const size_t loaded = Find(log, "velmo_load ");
    const size_t connected = Find(log, "VYRM_connect 10.1.2.3");
    const size_t disconnected = Find(log, "INIT_disconnectFromServer 10.1.2.3");
    const size_t unloaded = Find(log, "velmo_unload");
    ASSERT_NE(loaded, std::string::npos) << log;
    EXPECT_LT(loaded, connected) << log;
    EXPECT_LT(connected, disconnected) << log;
    EXPECT_LT(disconnected, unloaded) << log;
    EXPECT_NE(unloaded, std::string::npos) << log;
    EXPECT_EQ(velmo_sim::FaultLines(log), "") << log;
}

// ---------------------------------------------------------------------------------------
// Failures.

TEST_F(BiDiTest, ServerDyingMidCallLeavesTheHostRunning) {
    const BiDiPrinter& printer = Printer(L"Dying", std::string(kSampleScript) + "QVServerGetFeaturesList die 200\n");
    auto client = Connected(printer);
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    EXPECT_EQ(client->IsConnected(), 0);
    EXPECT_EQ(CountLines(printer.ReadLog(), "die QVServerGetFeaturesList"), 1);
}

TEST_F(BiDiTest, ServerKilledMidCallLeavesTheHostRunning) {
    const BiDiPrinter& printer = Printer(L"Killed", std::string(kSampleScript) + "QVServerGetFeaturesList ok 3000\n");
    auto client = Connected(printer);
    client->WaitForConnectAttempt();
    ASSERT_TRUE(client->HasConnection());
    std::thread killer([&] {
        Sleep(700);
        printer.EndServers();
    });
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    killer.join();
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
}

TEST_F(BiDiTest, SecondCloseIsAbsorbed) {
    const BiDiPrinter& printer = Printer(L"Close", "");
    auto client = Connected(printer);
    client->WaitForConnectAttempt();
    Session session(printer);
    ASSERT_NE(session.context, nullptr);
    auto close = [](void* p) { BiDiClose(static_cast<BiDiContextHandle*>(p)); };
    unsigned long code = 0;
    EXPECT_EQ(RpcGuardedCall(close, &session.context, &code), 1);
    EXPECT_EQ(session.context, nullptr);
    // Windows passes the null handle on; Wine refuses it with 1783. Either way the host lives.
    const int second = RpcGuardedCall(close, &session.context, &code);
    EXPECT_TRUE(second == 1 || code == 1783u) << code;
}

TEST_F(BiDiTest, ClientOfTheOtherWidth) {
    if (!OtherWidthRuns()) GTEST_SKIP() << "the other width is not built or this machine cannot run it";
    const BiDiPrinter& printer = Printer(L"OtherWidth", kSampleScript, true, true);
    auto client = Connected(printer);
    long count = 0;
    std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures, &count));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(count, 89);
}

TEST_F(BiDiTest, OtherWidthServerKilledMidCall) {
    if (!OtherWidthRuns()) GTEST_SKIP() << "the other width is not built or this machine cannot run it";
    const BiDiPrinter& printer =
        Printer(L"OtherDying", std::string(kSampleScript) + "QVServerGetFeaturesList die 200\n", true, true);
    auto client = Connected(printer);
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
    EXPECT_EQ(client->GetText(BiDiFeatures), nullptr);
}

// ---------------------------------------------------------------------------------------
// Start and stop.

TEST_F(BiDiTest, BrimsaEndsAtOnceWhenItCannotServe) {
    const BiDiPrinter& printer = Printer(L"Refused", kSampleScript);
    const std::wstring brimsa = printer.srv();
    const std::wstring quoted = L"\"" + brimsa + L"\" \"" + printer.kqm() + L"\"";
    EXPECT_EQ(RunAndWait(brimsa, L"\"" + brimsa + L"\"", 20000), 0);  // no argument
    {
        CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
        LiveServerStandIn live(share);
        BiDiShareMutex mutex;
        {
            AutoLock hold(&mutex);
            share.AddServer();
        }
        EXPECT_EQ(RunAndWait(brimsa, quoted, 20000), 0);  // another live server counted
        EXPECT_EQ(share.GetServerCount(), 1u);
        AutoLock hold(&mutex);
        share.RemoveServer();
    }
    EXPECT_EQ(CountLines(printer.ReadLog(), "load"), 0);
    ASSERT_TRUE(CopyInto(StandInPath(false, true), printer.kqm()));  // no QVServerGetPPD
    EXPECT_EQ(RunAndWait(brimsa, quoted, 20000), 0);
    EXPECT_EQ(CountLines(printer.ReadLog(), "enter"), 0);
    if (GetFileAttributesW(StandInPath(true).c_str()) != INVALID_FILE_ATTRIBUTES) {
        ASSERT_TRUE(CopyInto(StandInPath(true), printer.kqm()));  // the other width: not loadable
        EXPECT_EQ(RunAndWait(brimsa, quoted, 20000), 0);
    }
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    EXPECT_EQ(share.GetServerCount(), 0u);
}

TEST_F(BiDiTest, EightThreadsOneServer) {
    const BiDiPrinter& printer = Printer(L"Threads", std::string(kSampleScript) + "QVServerGetFeaturesList ok 300\n");
    auto first = Connected(printer);  // one server, started once
    ASSERT_TRUE(first->HasConnection());
    std::vector<long> counts(8, 0);
    std::vector<int> connected(8, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            auto client = Client(printer);
            // Past the sheet's opening budget: what is tested is the one server, not the pace
            // of a loaded machine.
            client->WaitForConnectAttempt(30000);
            std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures, &counts[i]));
            connected[i] = client->HasConnection() ? 1 : 0;
        });
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(counts[i], 89) << i << " connected " << connected[i];
    const std::string log = printer.ReadLog();
    EXPECT_EQ(CountLines(log, " load"), 1) << log;
    EXPECT_EQ(CountLines(log, "enter QVServerInitialize"), 1);
    // Feature calls of different connections overlap: some call enters before another leaves.
    int open = 0, most = 0;
    size_t at = 0;
    while ((at = log.find("QVServerGetFeaturesList", at)) != std::string::npos) {
        const bool enter = log.compare(at - 6, 6, "enter ") == 0;
        open += enter ? 1 : -1;
        if (open > most) most = open;
        ++at;
    }
    EXPECT_GT(most, 1) << log;
}

TEST_F(BiDiTest, EightProcessesOneServer) {
    const BiDiPrinter& printer = Printer(L"Processes", std::string(kSampleScript) + "QVServerGetFeaturesList ok 300\n");
    auto first = Connected(printer);  // one server, started once
    ASSERT_TRUE(first->HasConnection());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<HANDLE> children;
    for (int i = 0; i < 8; ++i) {
        std::wstring line = L"x --bidi-child-client \"" + printer.srv() + L"\" \"" + printer.ppd() + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
        CloseHandle(info.hThread);
        children.push_back(info.hProcess);
    }
    for (HANDLE child : children) {
        EXPECT_EQ(WaitForSingleObject(child, 60000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(child, &code);
        EXPECT_EQ(code, 89u);
        CloseHandle(child);
    }
    EXPECT_EQ(CountLines(printer.ReadLog(), " load"), 1);
}

namespace {

// When an idle server stopped (it uncounts itself in the block as it stops listening) and
// when its process was gone, in ms after last; polled every 20 ms for at most limit ms more.
struct IdleStop {
    DWORD stopMs = 0, goneMs = 0;
    bool stopped = false, gone = false;
};
IdleStop WatchIdleStop(const BiDiPrinter& printer, DWORD last, DWORD limit) {
    IdleStop stop;
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    const DWORD start = GetTickCount();
    while (!stop.gone && GetTickCount() - start < limit) {
        if (!stop.stopped && share.GetServerCount() == 0) {
            stop.stopped = true;
            stop.stopMs = GetTickCount() - last;
        }
        if (FindProcesses(printer.stem + L".SRV").empty()) {
            stop.gone = true;
            stop.goneMs = GetTickCount() - last;
            if (!stop.stopped) {
                stop.stopped = true;
                stop.stopMs = stop.goneMs;
            }
        }
        if (!stop.gone) Sleep(20);
    }
    return stop;
}

}  // namespace

TEST_F(BiDiTest, IdleServerEndsAfterTheLastClient) {
    const BiDiPrinter& printer = Printer(L"Idle", kSampleScript);
    {
        auto client = Connected(printer);
        ASSERT_NE(std::unique_ptr<wchar_t[]>(client->GetText(BiDiFeatures)), nullptr);
        // A live client keeps it beyond the idle time.
        Sleep(3000);
        EXPECT_EQ(FindProcesses(printer.stem + L".SRV").size(), 1u);
    }
    const DWORD last = GetTickCount();
    Sleep(1500);
    EXPECT_EQ(FindProcesses(printer.stem + L".SRV").size(), 1u) << "ended before the idle time";
    const IdleStop stop = WatchIdleStop(printer, last, 15000);
    ASSERT_TRUE(stop.gone);
    const DWORD ended = stop.goneMs;
    ::testing::Test::RecordProperty("idle_end_ms", static_cast<int>(ended));
    printf("server stopped %lu ms and ended %lu ms after the last client (setting 2000)\n", stop.stopMs, ended);
    // The last client's leave stamps the activity tick; with no client counted the watchdog
    // stops at its first look (every 500 ms) once 2000 ms have passed: 2000-2500 ms, plus
    // what a loaded machine adds to a look. The program then only unwinds.
    EXPECT_GE(stop.stopMs, 1900u);
    EXPECT_LE(stop.stopMs, 3500u);
    EXPECT_LE(stop.goneMs - stop.stopMs, 5000u) << "the stopped server did not end";
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    EXPECT_EQ(share.GetServerCount(), 0u);
    EXPECT_EQ(share.GetClientCount(), 0u);
}

TEST_F(BiDiTest, KilledClientDoesNotKeepTheServer) {
    const BiDiPrinter& printer = Printer(L"KilledClient", kSampleScript);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"x --bidi-child-client \"" + printer.srv() + L"\" \"" + printer.ppd() + L"\" hold";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    // The child holds its connection once it has its answer.
    std::string log;
    for (int i = 0; i < 200 && CountLines(log, "leave QVServerFreeInstallablesList") == 0; ++i, Sleep(50))
        log = printer.ReadLog();
    ASSERT_EQ(CountLines(log, "leave QVServerFreeInstallablesList"), 1);
    TerminateProcess(info.hProcess, 9);
    WaitForSingleObject(info.hProcess, 5000);
    CloseHandle(info.hProcess);
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    EXPECT_EQ(share.GetClientCount(), 1u);  // the dead client stays counted
    EXPECT_TRUE(WaitNoProcess(printer.stem + L".SRV", 15000));
}

TEST_F(BiDiTest, ClientArrivingDuringTheStopGetsAServer) {
    SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", L"200");
    const BiDiPrinter& printer = Printer(L"Restart", kSampleScript);
    for (int round = 0; round < 12; ++round) {
        auto client = Connected(printer);
        long count = 0;
        std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures, &count));
        EXPECT_EQ(count, 89) << "round " << round;
        client.reset();
        Sleep(120 + 20 * (round % 6));
    }
    // Whether a stop fell between those rounds depends on the machine's pace; after one that
    // surely happened, the next client still gets a server of its own.
    EXPECT_TRUE(WaitNoProcess(printer.stem + L".SRV", 15000));
    auto client = Connected(printer);
    long count = 0;
    std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures, &count));
    EXPECT_EQ(count, 89);
    client.reset();
    EXPECT_GT(CountLines(printer.ReadLog(), " load"), 1);  // servers came and went
}

TEST_F(BiDiTest, ProductIdleTime) {
    if (!getenv("TOLVA_BIDI_IDLE_TEST")) GTEST_SKIP() << "long run: the idle label runs it";
    SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", nullptr);
    const BiDiPrinter& printer = Printer(L"ProductIdle", kSampleScript);
    { auto client = Connected(printer); ASSERT_NE(std::unique_ptr<wchar_t[]>(client->GetText(BiDiFeatures)), nullptr); }
    const DWORD last = GetTickCount();
    Sleep(58000);
    EXPECT_EQ(FindProcesses(printer.stem + L".SRV").size(), 1u);
    const IdleStop stop = WatchIdleStop(printer, last, 30000);
    ASSERT_TRUE(stop.gone);
    const DWORD ended = stop.goneMs;
    printf("server stopped %lu ms and ended %lu ms after the last client (product setting)\n", stop.stopMs, ended);
    EXPECT_GE(ended, 60000u);
    EXPECT_LE(ended, 80000u);
    // Looks every 15 s from the start: the first one 60 s or more after the last client
    // stops it, so 60-75 s, plus what the looks drift on a loaded machine.
    EXPECT_GE(stop.stopMs, 59900u);
    EXPECT_LE(stop.stopMs, 77000u);
}

// ---------------------------------------------------------------------------------------
// The road's names: the session's id in every name, by one rule on both sides.


TEST(BiDiNames, SessionIdInEveryName) {
    struct {
        const wchar_t* base;
        DWORD session;
        const wchar_t* name;
    } cases[] = {
        {L"ABC123:{01581BEB-3E9F-4a55-9C8B-E3EF66344B5E}", 0, L"ABC123:{01581BEB-3E9F-4a55-9C8B-E3EF66344B5E}:0"},
        {L"ABC123:{01581BEB-3E9F-4a55-9C8B-E3EF66344B5E}", 2, L"ABC123:{01581BEB-3E9F-4a55-9C8B-E3EF66344B5E}:2"},
        {L"{DEADE49F-0F51-48a6-9853-84DBE9985AFF}", 4294967295u, L"{DEADE49F-0F51-48a6-9853-84DBE9985AFF}:4294967295"},
        {L"", 1, nullptr},
        {nullptr, 1, nullptr},
    };
    for (const auto& c : cases) {
        std::unique_ptr<wchar_t[]> name(MakeBiDiSessionName(c.base, c.session));
        if (!c.name) {
            EXPECT_EQ(name, nullptr) << c.session;
            continue;
        }
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name.get(), c.name);
    }
    // Two sessions of one data file (two users of a terminal server, or one user twice) get
    // two names, so two blocks, mutexes and endpoints: Wine makes one session only, so the
    // rule is tested on the ids.
    std::unique_ptr<wchar_t[]> one(MakeBiDiSessionName(L"P:{G}", 1)), two(MakeBiDiSessionName(L"P:{G}", 2));
    EXPECT_STRNE(one.get(), two.get());

    // This process's names carry its own session's id: the block (the endpoint too) and the
    // mutex, which exists under that name once made.
    DWORD session = 99;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(GetBiDiSessionId(), session);
    const std::wstring suffix = L":" + std::to_wstring(session);
    CBiDiShare share(kBiDiShareGuid, (MakeTestFolder(L"names") + L"\\Named.PPD").c_str());
    EXPECT_EQ(std::wstring(share.GetName()), L"Named:{01581BEB-3E9F-4a55-9C8B-E3EF66344B5E}" + suffix);
    BiDiShareMutex mutex;
    const std::wstring mutexName = std::wstring(kBiDiShareMutexName) + suffix;
    HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, mutexName.c_str());
    EXPECT_NE(opened, nullptr);
    if (opened) CloseHandle(opened);
}

// The block and the mutexes carry the endpoint's access list: this user and SYSTEM only.
TEST(BiDiNames, AccessListOfTheUserAndSystem) {
    PSECURITY_DESCRIPTOR made = MakeBiDiSecurity();
    ASSERT_NE(made, nullptr);
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(made, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                     &text, nullptr));
    const std::wstring sddl = text;
    LocalFree(text);
    LocalFree(made);
    EXPECT_EQ(sddl.rfind(L"D:P(A;;GA;;;S-1-", 0), 0u) << std::string(sddl.begin(), sddl.end());
    EXPECT_NE(sddl.find(L")(A;;GA;;;SY)"), std::wstring::npos) << std::string(sddl.begin(), sddl.end());
    // Under Wine the named objects keep what they were made with.
    CBiDiShare share(kBiDiShareGuid, (MakeTestFolder(L"access") + L"\\Access.PPD").c_str());
    HANDLE serving = share.OpenServingMutex();
    ASSERT_NE(serving, nullptr);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(serving, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) == ERROR_SUCCESS) {
        ASSERT_NE(dacl, nullptr);
        EXPECT_EQ(dacl->AceCount, 2u);
        LocalFree(descriptor);
    }
    CloseHandle(serving);
}

// ---------------------------------------------------------------------------------------
// The road under real failures: bounded waits, a dead server replaced, the server's exit.

// A server that takes BiDiOpen and never answers it: every wait of the client is bounded.
TEST_F(BiDiTest, RoadSilentServerBoundsEveryWait) {
    const BiDiPrinter& printer = Printer(L"Silent", kSampleScript, false);
    ASSERT_TRUE(CopyInto(SilentServerPath(), printer.srv()));
    const DWORD start = GetTickCount();
    auto client = Client(printer);
    const RoadTimes times = TimeUnansweredRoad(client, BiDiFeatures, start);
    printf("silent server: no text after %.0f ms, not connected after %.0f ms, closed in %.0f ms\n", times.text,
           times.connected, times.closed);
    EXPECT_LT(times.connected, 2500.0);
    EXPECT_LT(times.closed, 1000.0);
    EXPECT_GE(CountLines(ReadTextFile(printer.folder + L"\\" + printer.stem + L".silent.log"), "open"), 1);
    // A second client of the process is not held up by the first one's open.
    auto second = Client(printer);
    const DWORD again = GetTickCount();
    EXPECT_EQ(second->IsConnected(), 0);
    EXPECT_LT(MsSince(again), 2500.0);
}

// A controller that does not answer its connect (60 s): the sheet's calls come back in time
// with nothing, and the close does not wait for the controller.
TEST_F(BiDiTest, RoadHungControllerBoundsEveryWait) {
    const BiDiPrinter& printer = Printer(L"Hung", std::string(kSampleScript) + "QVServerConnect ok 60000\n");
    auto client = Connected(printer);
    ASSERT_TRUE(client->HasConnection());
    const RoadTimes times = TimeUnansweredRoad(client, 15, GetTickCount());
    printf("hung controller: no text after %.0f ms, not connected after %.0f ms, closed in %.0f ms\n", times.text,
           times.connected, times.closed);
    // The client's opening budget (2 s from construction) bounds the first calls.
    EXPECT_LT(times.text, 2500.0);
    EXPECT_LT(times.connected, 2500.0);
    EXPECT_LT(times.closed, 1000.0);
    EXPECT_EQ(CountLines(printer.ReadLog(), "enter QVServerConnect"), 1);
}

// Brimsa killed: the block still counts it, yet the next client starts a new server at once
// and gets the controller's answers.
TEST_F(BiDiTest, RoadKilledServerIsReplaced) {
    const BiDiPrinter& printer = Printer(L"Replaced", kSampleScript);
    // Another sheet's process keeps the block (the last handle's close would drop the block
    // and its stale count with it).
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    {
        auto client = Connected(printer);
        long count = 0;
        std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures, &count));
        EXPECT_EQ(count, 89);
        ASSERT_EQ(printer.EndServers(), 1);
    }
    EXPECT_EQ(share.GetServerCount(), 1u) << "the dead server stays counted";
    EXPECT_FALSE(share.IsServerAlive());
    const DWORD start = GetTickCount();
    auto client = Client(printer);
    client->WaitForConnectAttempt(30000);
    long count = 0;
    std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures, &count));
    printf("new server answered %.0f ms after the new client\n", MsSince(start));
    EXPECT_EQ(count, 89);
    EXPECT_EQ(share.GetServerCount(), 1u) << "the dead one's count cleared, the new one's added";
    EXPECT_EQ(CountLines(printer.ReadLog(), " load"), 2);
}

// A transient failure (here: the server restarted under the client) costs one reconnect;
// the second failure gives two-way up for the client.
TEST_F(BiDiTest, RoadOneReconnectBeforeGivingUp) {
    const BiDiPrinter& printer = Printer(L"Reconnect", kSampleScript);
    auto client = Connected(printer);
    ASSERT_EQ(client->IsConnected(), 1);
    ASSERT_EQ(printer.EndServers(), 1);
    ASSERT_TRUE(StartBiDiServer(printer.srv().c_str(), printer.kqm().c_str()));
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    for (int i = 0; i < 200 && !share.IsServerAlive(); ++i) Sleep(20);
    ASSERT_TRUE(share.IsServerAlive());
    Sleep(300);  // listening
    long count = 0;
    std::unique_ptr<wchar_t[]> text(client->GetText(BiDiFeatures, &count));
    EXPECT_EQ(count, 89) << "answered over the new connection";
    ASSERT_EQ(printer.EndServers(), 1);
    EXPECT_EQ(client->IsConnected(), 0);
    EXPECT_FALSE(client->HasConnection()) << "the second failure ends two-way";
}

// The worker's connect and a PPD fetch's connect race on one connection: one controller
// connect, and both go on with it.
TEST_F(BiDiTest, RoadRacedConnectsConnectOnce) {
    const std::string source = PPDSourceLine(L"racesource");
    ASSERT_FALSE(source.empty());
    const BiDiPrinter& printer = Printer(L"Race", "QVServerConnect ok 600\n" + source);
    auto client = Connected(printer);
    ASSERT_TRUE(client->HasConnection());
    Session session(printer);
    ASSERT_NE(session.context, nullptr);
    BiDiRequest(session.context, BiDiConnect);  // the worker connects
    std::string log;
    for (int i = 0; i < 200 && CountLines(log, "enter QVServerConnect") == 0; ++i, Sleep(10)) log = printer.ReadLog();
    const std::wstring destination = printer.folder + L"\\Raced.PPD";
    EXPECT_EQ(BiDiGetPPD(session.context, destination.c_str()), 1);  // ensures the connection too
    EXPECT_EQ(BiDiIsConnected(session.context), 1);
    log = printer.ReadLog();
    EXPECT_EQ(CountLines(log, "enter QVServerConnect"), 1) << log;
    EXPECT_EQ(CountLines(log, "enter QVServerGetPPD"), 1) << log;
}

TEST_F(BiDiTest, RoadZeroLengthDiscoverResult) {
    const BiDiPrinter& printer = Printer(L"ZeroDiscover", "discover-empty\n");
    auto client = Connected(printer);
    Session session(printer);
    ASSERT_NE(session.context, nullptr);
    long count = -1;
    wchar_t* text = nullptr;
    ASSERT_EQ(BiDiDiscover(session.context, L"", L"", 1, &count, &text), 1);
    ASSERT_EQ(count, 1);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text[0], L'\0');
    MIDL_user_free(text);
    EXPECT_EQ(CountLines(printer.ReadLog(), "leave QVServerDiscover ok"), 1);
}

// A discovery started and never collected still runs when the idle stop comes: the server
// waits for it before the library goes, and ends cleanly.
TEST_F(BiDiTest, RoadUncollectedDiscoverThenIdleStop) {
    const BiDiPrinter& printer = Printer(L"Uncollected", "discover A1 B1\nQVServerDiscover ok 4000\n");
    HANDLE server = nullptr;
    {
        auto client = Connected(printer);
        ASSERT_TRUE(client->HasConnection());
        server = OpenServer(printer);
        ASSERT_NE(server, nullptr);
        Session session(printer);
        ASSERT_NE(session.context, nullptr);
        EXPECT_EQ(BiDiStartDiscover(session.context, L"f1", L"f2", 5), 1);
    }
    EXPECT_EQ(WaitForSingleObject(server, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(server, &code);
    CloseHandle(server);
    EXPECT_EQ(code, 0u) << "the server ended cleanly";
    const std::string log = printer.ReadLog();
    const size_t discovered = Find(log, "leave QVServerDiscover");
    const size_t terminated = Find(log, "enter QVServerTerminate");
    ASSERT_NE(discovered, std::string::npos) << log;
    ASSERT_NE(terminated, std::string::npos) << log;
    EXPECT_LT(discovered, terminated) << log;
    EXPECT_EQ(CountLines(log, "enter QVServerFreeDiscover"), 1) << log;
}

// ---------------------------------------------------------------------------------------
// Child modes of this program, then the tests.

namespace {
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* info) {
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--bidi-child-fault") {
        SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
        SetUnhandledExceptionFilter(&EndWithExceptionCode);
        unsigned long code = 0;
        RpcGuardedCall(&Fault, nullptr, &code);
        return 0;  // the guard handled it: wrong
    }
    if (argc >= 4 && std::string(argv[1]) == "--bidi-child-client") {
        std::wstring srv(argv[2], argv[2] + strlen(argv[2])), ppd(argv[3], argv[3] + strlen(argv[3]));
        CBiDiClient client(srv.c_str(), ppd.c_str(), kAddress, nullptr);
        client.WaitForConnectAttempt(30000);
        long count = 0;
        delete[] client.GetText(BiDiFeatures, &count);
        if (argc >= 5) Sleep(INFINITE);  // held until killed
        return static_cast<int>(count);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
