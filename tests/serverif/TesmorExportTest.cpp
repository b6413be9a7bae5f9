// Tesmor's exports against scripted controllers: one context for the suite, one controller
// address per behaviour, and the simulator's log checked for faults after every case.
#include <gtest/gtest.h>

#include <thread>

#include "TesmorHarness.h"

using namespace tesmor_test;

namespace {

std::string Escape(const std::wstring& path)
{
    std::string out;
    for (char c : Narrow(path)) {
        if (c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

const char* const kDefaultNames =
    "LDAP_capable,LDAP_enable,LDAP_server,LDAP_port,LDAP_user,LDAP_domain,LDAP_searchKey,LDAP_authReq,"
    "LDAP_secure_comm_enabled,LDAP_authType,WS_PRINT_QUEUE,WS_PRINT_ENABLE";

std::string MainScript()
{
    std::string s;
    s += "server\t10.1.2.3\n";
    s += "info\t0\tTolva Server\\r\\nsecond line\t2.1\\nbuild 7\t1073741824\t536870912\n";
    s += "feature\tDuplex\tYES\nfeature\tStaple\tnO\nfeature\tTrays\t4\nfeature\tNote\t%s%n\n";
    s += "feature\t\\N\tskipped\nfeature\tEmpty\t\\N\n";
    s += "values\tPHYSMEMSIZE\t0\t256\t0\t512\t1\n";
    s += "keys\tfpinstallableoptions\t-17\n";
    s += "keys\tqvppinstallableoptions\t0\tHDD\t\\N\tFinisher\tMemory\n";
    s += "values\tHDD\t0\tOther\t0\tInstalled\t1\n";
    s += "values\tFinisher\t0\tNone\t0\tBooklet\t2\n";
    s += "values\tMemory\t-5\n";
    s += "values\tMAIL_capable\t0\tyes\t1\nvalues\tMAIL_enable\t0\t1\t1\n";
    s += "default\tLDAP_capable\tyes\ndefault\tLDAP_server\t\\xC3\\xBC\ndefault\tWS_PRINT_QUEUE\tq1\n";
    s += "default\tLDAP_user\t\\N\n";
    s += "printer\tprint\t0\n";
    s += "attr\tLP Hidden\tyes\t0\nattr\tnum copies\t3\t1\nattr\tStaple\ton\t0\nattr\tCopy Count\t2\t1\n";
    s += "attr\t\\N\tx\t1\n";
    s += "printer\tplain\t0\nattr\tLP Hidden\tno\t0\nattr\tnum copies\t3\t1\n";
    s += "printer\tbare\t0\nattr\tnum copies\t3\t1\n";
    s += "ppd\t0\t" + Escape(TempRoot() + L"source.ppd") + "\n";
    s += "server\t10.1.2.4\nconnect\t-3\n";
    s += "server\t10.1.2.5\nfeature\tDuplex\tyes\nvalues\tMAIL_capable\t0\tYES\t1\nvalues\tMAIL_enable\t0\tno\t1\n";
    s += "server\t10.1.2.6\nvalues\tMAIL_capable\t0\t1\t1\nvalues\tMAIL_enable\t-5\n";
    s += "server\t10.1.2.7\ndefaults\t0\t14\n";
    for (const char* name : {"LDAP_capable", "LDAP_enable", "LDAP_server", "LDAP_port", "LDAP_user", "LDAP_domain",
                             "LDAP_searchKey", "LDAP_authReq", "LDAP_secure_comm_enabled", "LDAP_authType",
                             "WS_PRINT_QUEUE", "WS_PRINT_ENABLE"})
        s += std::string("default\t") + name + "\tv\n";
    s += "server\t10.1.2.8\ndefaults\t-2\t-1\ndefault\tLDAP_capable\tyes\n";
    s += "server\t10.1.2.9\n";
    s += "keys\tfpinstallableoptions\t-17\nkeys\tqvppinstallableoptions\t0\tHDD\tFinisher\tMemory\n";
    s += "values\tHDD\t0\tOther\t0\tInstalled\t1\nvalues\tFinisher\t0\tNone\t0\tBooklet\t2\nvalues\tMemory\t-5\n";
    s += "delay\tATTR_getAttributeKeys\t300\ndelay\tATTR_getAttributeValues\t300\n";
    for (int n = 1; n <= 8; ++n) {
        const std::string id = std::to_string(n);
        s += "server\t10.2.0." + id + "\n";
        s += "info\t0\tcontroller " + id + "\tv" + id + "\t" + std::to_string(n * 1048576) + "\t1048576\n";
        s += "feature\tId\t" + id + "\nvalues\tPHYSMEMSIZE\t0\t" + id + "\t1\n";
        s += "keys\tfpinstallableoptions\t0\tSlot\nvalues\tSlot\t0\tslot" + id + "\t1\n";
        s += "delay\tFEAT_getFeatureList\t2\ndelay\tATTR_getAttributeValues\t2\n";
    }
    return s;
}

class TesmorExports : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CreateDirectoryW(TempRoot().c_str(), nullptr);
        s_log = new SimLog(TempRoot() + L"exports-sim.log");
        WriteFileText(TempRoot() + L"source.ppd", std::string("*PPD-Adobe: \"4.3\"\r\n*% \xE9\x00\xFF end\r\n", 27));
        s_script = TempRoot() + L"exports-script.txt";
        UseScript(s_script, MainScript());
        s_folder = new DriverFolder(L"exports");
        ASSERT_TRUE(s_folder->Load());
        ASSERT_EQ(s_folder->api.Initialize(&s_context), 0);
    }
    static void TearDownTestSuite()
    {
        if (s_folder && s_context) {
            s_log->Mark();
            EXPECT_EQ(s_folder->api.Terminate(&s_context), 0);
            EXPECT_EQ(s_log->Faults(), "");
        }
        delete s_folder;
        s_folder = nullptr;
        delete s_log;
        s_log = nullptr;
        RemoveTree(TempRoot());
    }
    void SetUp() override
    {
        SetEnvironmentVariableW(L"VELMO_SIM_SCRIPT", s_script.c_str());
        s_log->Mark();
    }
    void TearDown() override { EXPECT_EQ(s_log->Faults(), ""); }

    const TesmorApi& Api() const { return s_folder->api; }
    void Connect(ServerConnectionBlock& block, const wchar_t* address)
    {
        ASSERT_EQ(Api().Connect(&s_context, address, &block), 0) << Narrow(address);
    }
    void Disconnect(ServerConnectionBlock& block) { EXPECT_EQ(Api().Disconnect(&s_context, &block), 0); }

    static SimLog* s_log;
    static DriverFolder* s_folder;
    static ServerInterfaceContext* s_context;
    static std::wstring s_script;
};
SimLog* TesmorExports::s_log = nullptr;
DriverFolder* TesmorExports::s_folder = nullptr;
ServerInterfaceContext* TesmorExports::s_context = nullptr;
std::wstring TesmorExports::s_script;

using Lines = std::vector<std::wstring>;

TEST_F(TesmorExports, ConnectAndDisconnect)
{
    ServerConnectionBlock block = {};
    Connect(block, L"10.1.2.3");
    EXPECT_EQ(block.self, &block);
    EXPECT_NE(s_log->Since().find("VYRM_connect 10.1.2.3 5 2\n"), std::string::npos);

    ServerConnectionBlock refused = {};
    EXPECT_TRUE(Failed(Api().Connect(&s_context, L"10.1.2.4", &refused)));
    EXPECT_TRUE(Failed(Api().Connect(&s_context, nullptr, &refused)));
    EXPECT_TRUE(Failed(Api().Connect(&s_context, L"10.1.2.3", nullptr)));
    // An address the code page cannot hold exactly would reach another host.
    EXPECT_TRUE(Failed(Api().Connect(&s_context, L"host-\x0142.example", &refused)));

    // A block that never connected: success, and nothing is called.
    s_log->Mark();
    EXPECT_EQ(Api().Disconnect(&s_context, &refused), 0);
    EXPECT_EQ(Api().Disconnect(&s_context, nullptr), 0);
    EXPECT_EQ(s_log->Since(), "");

    // A connect on a block first closes the sessions cached for that block's address.
    QVObList list(10);
    ASSERT_EQ(Api().GetInstallablesList(&s_context, &block, &list, 0), 0);
    EXPECT_EQ(Api().FreeInstallablesList(&s_context, &block, &list), 0);
    s_log->Mark();
    EXPECT_TRUE(Failed(Api().Connect(&s_context, L"10.1.2.4", &block)));
    const std::string reconnect = s_log->Since();
    EXPECT_LT(reconnect.find("ATTR_closeSession 10.1.2.3 ticket"), reconnect.find("VYRM_connect 10.1.2.4"))
        << reconnect;

    // Sessions close first, then the connection ends; the block is no longer valid.
    ASSERT_EQ(Api().GetInstallablesList(&s_context, &block, &list, 0), 0);
    EXPECT_EQ(Api().FreeInstallablesList(&s_context, &block, &list), 0);
    s_log->Mark();
    Disconnect(block);
    const std::vector<std::string> lines = s_log->LinesSince();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "ATTR_closeSession 10.1.2.3 ticket");
    EXPECT_EQ(lines.back(), "INIT_disconnectFromServer 10.1.2.3");
    EXPECT_TRUE(Failed(Api().GetInstallablesList(&s_context, &block, &list, 0)));
}

TEST_F(TesmorExports, InstallablesAskTheSecondKeyAndTakePrimaryThenSecondaryValues)
{
    for (const wchar_t* address : {L"10.1.2.3", L"10.1.2.9"}) {  // the second answers 300 ms per call
        SCOPED_TRACE(Narrow(address));
        s_log->Mark();
        ServerConnectionBlock block = {};
        Connect(block, address);
        QVObList list(10);
        ASSERT_EQ(Api().GetInstallablesList(&s_context, &block, &list, 0), 0);
        EXPECT_EQ(ListText(list), (Lines{L"HDD=Installed", L"Finisher=Booklet", L"Memory="}));
        const std::string log = s_log->Since();
        const size_t first = log.find("ATTR_getAttributeKeys fpinstallableoptions ticket");
        const size_t second = log.find("ATTR_getAttributeKeys qvppinstallableoptions ticket");
        EXPECT_NE(first, std::string::npos) << log;
        EXPECT_NE(second, std::string::npos) << log;
        EXPECT_LT(first, second);
        EXPECT_EQ(Api().FreeInstallablesList(&s_context, &block, &list), 0);
        EXPECT_EQ(list.GetCount(), 0);
        EXPECT_EQ(list.GetBlockCount(), 0);
        Disconnect(block);
    }
    QVObList list(10);
    ServerConnectionBlock invalid = {};
    EXPECT_TRUE(Failed(Api().GetInstallablesList(&s_context, &invalid, &list, 0)));
}

TEST_F(TesmorExports, FeaturesWithServerInformation)
{
    ServerConnectionBlock block = {};
    Connect(block, L"10.1.2.3");
    QVObList list(10);
    ASSERT_EQ(Api().GetFeaturesList(&s_context, &block, &list, 0), 0);
    EXPECT_EQ(ListText(list), (Lines{L"Duplex=1", L"Staple=0", L"Trays=4", L"Note=%s%n", L"Empty=",
                                     L"QVDRVServerName=Tolva Server", L"QVDRVServerVersion=2.1",
                                     L"QVDRVDiskSpace=1024 / 512 ", L"QVDRVMemory=512 "}));
    EXPECT_EQ(Api().FreeFeaturesList(&s_context, &block, &list), 0);
    EXPECT_EQ(list.GetBlockCount(), 0);
    Disconnect(block);

    // Without server information only the features; the memory is asked all the same.
    ServerConnectionBlock other = {};
    Connect(other, L"10.1.2.5");
    ASSERT_EQ(Api().GetFeaturesList(&s_context, &other, &list, 0), 0);
    EXPECT_EQ(ListText(list), (Lines{L"Duplex=1"}));
    // Free deletes the records whatever the block.
    ServerConnectionBlock invalid = {};
    EXPECT_EQ(Api().FreeFeaturesList(&s_context, &invalid, &list), 0);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetBlockCount(), 0);
    Disconnect(other);
}

TEST_F(TesmorExports, EmailReadyOnlyWhenCapableAndEnabled)
{
    struct Case {
        const wchar_t* address;
        int32_t preset;
        int32_t ready;
    } cases[] = {
        {L"10.1.2.3", 0, 1},  // yes, 1
        {L"10.1.2.5", 0, 0},  // YES, no
        {L"10.1.2.6", 0, 0},  // 1, status -5
        {L"10.1.2.5", 1, 1},  // never cleared here
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.address));
        ServerConnectionBlock block = {};
        Connect(block, c.address);
        QVEmailNotification mail;
        mail.SetReady(c.preset);
        EXPECT_EQ(Api().GetEMailNotifyInfo(&s_context, &block, &mail, 0), 0);
        EXPECT_EQ(mail.IsReady(), c.ready);
        Disconnect(block);
    }
}

TEST_F(TesmorExports, MultipleDefaults)
{
    ServerConnectionBlock block = {};
    Connect(block, L"10.1.2.3");
    QVObList list(10);
    ASSERT_EQ(Api().GetMultipleDefaults(&s_context, &block, &list, 0), 0);
    EXPECT_EQ(ListText(list), (Lines{L"LDAP_capable=yes", L"LDAP_server=\x00FC", L"WS_PRINT_QUEUE=q1"}));
    EXPECT_NE(s_log->Since().find(std::string("ATTR_getMultipleDefaults 12 ") + kDefaultNames + "\n"),
              std::string::npos);
    EXPECT_EQ(Api().FreeMultipleDefaults(&s_context, &block, &list), 0);
    Disconnect(block);

    // A library reporting 14 values: the 12 names are read, every value is given back.
    ServerConnectionBlock more = {};
    Connect(more, L"10.1.2.7");
    ASSERT_EQ(Api().GetMultipleDefaults(&s_context, &more, &list, 0), 0);
    EXPECT_EQ(list.GetCount(), 12);
    EXPECT_EQ(Api().FreeMultipleDefaults(&s_context, &more, &list), 0);
    Disconnect(more);

    // A failing library call: success with an empty list.
    ServerConnectionBlock failing = {};
    Connect(failing, L"10.1.2.8");
    EXPECT_EQ(Api().GetMultipleDefaults(&s_context, &failing, &list, 0), 0);
    EXPECT_EQ(list.GetCount(), 0);
    Disconnect(failing);
}

TEST_F(TesmorExports, VirtualPrinterAttributesOnlyForAHiddenPrinter)
{
    ServerConnectionBlock block = {};
    Connect(block, L"10.1.2.3");
    QVObList all(10), flagged(10);
    ASSERT_EQ(Api().GetVPAttributes(&s_context, &block, L"print", &all, &flagged), 0);
    EXPECT_EQ(ListText(all), (Lines{L"num copies=3", L"Staple=on"}));
    EXPECT_EQ(ListText(flagged), (Lines{L"num copies=3"}));
    EXPECT_EQ(Api().FreeVPAttributes(&s_context, &block, &all, &flagged), 0);
    EXPECT_EQ(all.GetBlockCount() + flagged.GetBlockCount(), 0);

    for (const wchar_t* printer : {L"plain", L"bare", L"absent"}) {
        SCOPED_TRACE(Narrow(printer));
        ASSERT_EQ(Api().GetVPAttributes(&s_context, &block, printer, &all, &flagged), 0);
        EXPECT_EQ(all.GetCount(), 0);
        EXPECT_EQ(flagged.GetCount(), 0);
    }
    EXPECT_TRUE(Failed(Api().GetVPAttributes(&s_context, &block, L"print", &all, nullptr)));
    EXPECT_TRUE(Failed(Api().GetVPAttributes(&s_context, &block, L"pr\x0142", &all, &flagged)));
    Disconnect(block);
}

TEST_F(TesmorExports, PPDIsWrittenToAnExactPath)
{
    ServerConnectionBlock block = {};
    Connect(block, L"10.1.2.3");
    const std::wstring destination = TempRoot() + L"fetched.ppd";
    ASSERT_EQ(Api().GetPPD(&s_context, &block, destination.c_str()), 0);
    EXPECT_EQ(ReadFileText(destination), ReadFileText(TempRoot() + L"source.ppd"));
    EXPECT_NE(s_log->Since().find("VYRM_getPPDEx 0 ps en " + Narrow(destination) + " 0\n"), std::string::npos);

    s_log->Mark();
    EXPECT_TRUE(Failed(Api().GetPPD(&s_context, &block, L"Z:\\tmp\\\x0142.ppd")));
    EXPECT_TRUE(Failed(Api().GetPPD(&s_context, nullptr, destination.c_str())));
    EXPECT_EQ(s_log->Since(), "");
    Disconnect(block);
}

class TesmorDiscover : public TesmorExports {
protected:
    // Runs one discovery under its own script; the bytes, or failure.
    INT_PTR Discover(const std::string& script, std::string& bytes, const wchar_t* f1 = L"", const wchar_t* f2 = L"")
    {
        // A new file each time: the simulator reads a script again when its name changes.
        const std::wstring path = TempRoot() + L"discover-script-" + std::to_wstring(++m_scripts) + L".txt";
        UseScript(path, script);
        int size = -1;
        BYTE* buffer = nullptr;
        const INT_PTR status = Api().Discover(&s_context, &size, &buffer, f1, f2, 100);
        bytes.clear();
        if (status == 0) {
            EXPECT_NE(buffer, nullptr);
            bytes.assign(reinterpret_cast<char*>(buffer), static_cast<size_t>(size));
            EXPECT_EQ(Api().FreeDiscover(&s_context, &buffer), 0);
            EXPECT_EQ(buffer, nullptr);
            EXPECT_TRUE(Failed(Api().FreeDiscover(&s_context, &buffer)));
        } else {
            EXPECT_EQ(size, 0);
            EXPECT_EQ(buffer, nullptr);
        }
        return status;
    }
    int m_scripts = 0;
};

TEST_F(TesmorDiscover, PairsSecondThenFirstEndedByOneNul)
{
    std::string bytes;
    ASSERT_EQ(Discover("entry\tA1\tB1\nentry\t\\N\tB9\nentry\tA3\t\nentry\tA2\tB2\n", bytes), 0);
    EXPECT_EQ(bytes, std::string("B1\0A1\0B2\0A2\0\0", 13));

    ASSERT_EQ(Discover("discover\t0\n", bytes), 0);
    EXPECT_EQ(bytes, std::string("\0", 1));

    EXPECT_TRUE(Failed(Discover("discover\t-4\nentry\tA1\tB1\n", bytes)));

    std::string expected;
    for (int i = 0; i < 300; ++i) {
        char first[32], second[32];
        snprintf(first, sizeof(first), "10.9.%d.%d", i / 250, i % 250 + 1);
        snprintf(second, sizeof(second), "Tolva-%03d", i);
        expected += std::string(second) + '\0' + first + '\0';
    }
    expected += '\0';
    ASSERT_EQ(Discover("entries\t300\n", bytes), 0);
    EXPECT_EQ(bytes, expected);
}

TEST_F(TesmorDiscover, FiltersArePassedOnlyInPairs)
{
    std::string bytes;
    ASSERT_EQ(Discover("entry\tA1\tB1\n", bytes, L"", L"B"), 0);
    ASSERT_EQ(Discover("entry\tA1\tB1\n", bytes, L"f1", L"f2"), 0);
    const std::string log = s_log->Since();
    EXPECT_NE(log.find("DISCOV_getTolvaList 100 (null) (null)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DISCOV_getTolvaList 100 f1 f2\n"), std::string::npos) << log;
    EXPECT_TRUE(Failed(Discover("entry\tA1\tB1\n", bytes, L"\x0142", L"f2")));
    int size = 0;
    EXPECT_TRUE(Failed(Api().Discover(&s_context, &size, nullptr, L"", L"", 100)));
}

TEST_F(TesmorExports, EightControllersOnOneContextEachSeeOnlyTheirOwnValues)
{
    std::vector<std::thread> threads;
    std::vector<std::string> errors(8);
    for (int n = 1; n <= 8; ++n) {
        threads.emplace_back([this, n, &errors] {
            const std::wstring id = std::to_wstring(n);
            const std::wstring address = L"10.2.0." + id;
            ServerConnectionBlock block = {};
            if (Api().Connect(&s_context, address.c_str(), &block) != 0) {
                errors[n - 1] = "connect failed";
                return;
            }
            const Lines features = {L"Id=" + id, L"QVDRVServerName=controller " + id,
                                    L"QVDRVServerVersion=v" + id, L"QVDRVDiskSpace=" + id + L" / 1 ",
                                    L"QVDRVMemory=" + id + L" "};
            const Lines installables = {L"Slot=slot" + id};
            for (int round = 0; round < 50 && errors[n - 1].empty(); ++round) {
                QVObList list(10);
                if (Api().GetFeaturesList(&s_context, &block, &list, 0) != 0 || ListText(list) != features)
                    errors[n - 1] = "features of round " + std::to_string(round);
                Api().FreeFeaturesList(&s_context, &block, &list);
                if (Api().GetInstallablesList(&s_context, &block, &list, 0) != 0 || ListText(list) != installables)
                    errors[n - 1] = "installables of round " + std::to_string(round);
                Api().FreeInstallablesList(&s_context, &block, &list);
            }
            Api().Disconnect(&s_context, &block);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(errors[n - 1], "") << "controller " << n;
}

}  // namespace
