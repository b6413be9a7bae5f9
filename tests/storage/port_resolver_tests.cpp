// The printer port resolver: the port-name forms as a pure table, and whole resolutions of
// Wine printers on ports of each kind (with Standard TCP/IP port keys made for the test).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "storage/PortResolver.h"
#include "storage/PrinterData.h"
#include "tests/support/TestPrinter.h"

using tolvatest::FixturePath;
using tolvatest::TestPrinter;
using tolvatest::TestPrinterSetup;

namespace {

const wchar_t kPortsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";

// A Standard TCP/IP port key for the life of the object.
class TcpIpPortKey {
public:
    TcpIpPortKey(const std::wstring& port, const wchar_t* hostName, const wchar_t* ip, DWORD protocol, DWORD number,
                 const wchar_t* queue = nullptr)
        : m_path(std::wstring(kPortsKey) + port) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr))
            return;
        auto text = [&](const wchar_t* name, const wchar_t* value) {
            if (value)
                RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                               static_cast<DWORD>((wcslen(value) + 1) * 2));
        };
        text(L"HostName", hostName);
        text(L"IPAddress", ip);
        text(L"Queue", queue);
        RegSetValueExW(key, L"Protocol", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&protocol), 4);
        RegSetValueExW(key, L"PortNumber", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
        RegCloseKey(key);
    }
    ~TcpIpPortKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str()); }

private:
    std::wstring m_path;
};

struct ParseCase {
    const wchar_t* name;
    BOOL matches;
    const wchar_t* host;
    const wchar_t* queue;
};

TEST(PortNameParser, Forms) {
    const ParseCase cases[] = {
        {L"queue@printhost", TRUE, L"queue", L""},
        {L"@nohost", FALSE, L"", L""},
        {L"IP_10.1.2.3", TRUE, L"10.1.2.3", L""},
        {L"IP_", FALSE, L"", L""},
        {L"ip_10.1.2.3", FALSE, L"", L""},  // the prefix is case-sensitive
        {L"10.1.2.3_raw", TRUE, L"10.1.2.3", L""},
        {L"host_RAW", TRUE, L"host", L""},
        {L"_RAW", FALSE, L"", L""},
        {L"\\\\server\\queue", TRUE, L"server", L"queue"},
        {L"\\\\server\\", TRUE, L"server", L""},
        {L"\\\\server", TRUE, L"server", L""},
        {L"\\\\server\\queue\\sub", TRUE, L"server", L"queue\\sub"},
        {L"host:queue", TRUE, L"host", L"queue"},
        {L"http://host/path", TRUE, L"host", L""},
        {L"HTTPS://secure.example/ipp/print", TRUE, L"secure.example", L""},
        {L"http://", FALSE, L"", L""},
        {L"E-Mail:someone", FALSE, L"", L""},
        {L"e-mail:someone", FALSE, L"", L""},
        {L"E:queue", TRUE, L"E", L"queue"},  // a one-letter prefix is neither E-Mail nor HTTP
        {L"H:queue", TRUE, L"H", L"queue"},
        {L"C:\\folder\\file.prn", FALSE, L"", L""},
        {L"a:b:c", FALSE, L"", L""},
        {L":queue", FALSE, L"", L""},
        {L"plainname", FALSE, L"", L""},
        {L"", FALSE, L"", L""},
    };
    for (const ParseCase& c : cases) {
        BOOL expected = c.matches;
        const wchar_t* expectedHost = c.host;
        wchar_t host[64] = L"junk";
        wchar_t queue[64] = L"junk";
        BOOL got = CPrinterPortResolver::ParsePortName(c.name, host, 64, queue, 64);
        EXPECT_EQ(got, expected) << "port \"" << testing::PrintToString(std::wstring(c.name)) << "\"";
        if (got) {
            EXPECT_STREQ(host, expectedHost) << "host of " << testing::PrintToString(std::wstring(c.name));
            EXPECT_STREQ(queue, c.queue) << "queue of " << testing::PrintToString(std::wstring(c.name));
        } else {
            EXPECT_STREQ(queue, L"") << "queue is emptied first: " << testing::PrintToString(std::wstring(c.name));
        }
    }
}

TEST(PortNameParser, OutputsAreBoundedAndNullSafe) {
    wchar_t host[4] = {};
    wchar_t queue[3] = {};
    ASSERT_TRUE(CPrinterPortResolver::ParsePortName(L"\\\\longserver\\longqueue", host, 4, queue, 3));
    EXPECT_STREQ(host, L"lon");
    EXPECT_STREQ(queue, L"lo");
    EXPECT_FALSE(CPrinterPortResolver::ParsePortName(nullptr, host, 4, queue, 3));
    EXPECT_FALSE(CPrinterPortResolver::ParsePortName(L"a@b", nullptr, 4, queue, 3));
    EXPECT_FALSE(CPrinterPortResolver::ParsePortName(L"a@b", host, 0, queue, 3));
    EXPECT_TRUE(CPrinterPortResolver::ParsePortName(L"a@b", host, 4, nullptr, 0));
}

TEST(PortNameParser, LocalPorts) {
    struct {
        const wchar_t* port;
        BOOL local;
    } cases[] = {
        {L"LPT1:", TRUE},   {L"COM2:", TRUE},        {L"FILE:", FALSE},    {L"file:", FALSE},
        {L"NUL:", TRUE},    {L"IP_10.1.2.3", FALSE}, {L"C:\\windows\\out.prn", TRUE},
        {L"C:\\no-such-folder-here\\out.prn", FALSE}, {L"", FALSE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CPrinterPortResolver::IsLocalPort(c.port), c.local)
            << testing::PrintToString(std::wstring(c.port));
    EXPECT_FALSE(CPrinterPortResolver::IsLocalPort(nullptr));
}

TEST(PortNameParser, ExcludedHostNames) {
    struct {
        const wchar_t* path;
        BOOL excluded;
    } cases[] = {
        {L"C:\\Program Files\\Zentro\\Zentrowin.exe", TRUE},
        {L"C:\\x\\ZENTROWAX.EXE", TRUE},
        {L"Zentrowin.exe", TRUE},
        {L"C:\\x\\Zentrowin.exe.bak", FALSE},
        {L"C:\\Zentrowin.exe\\other.exe", FALSE},
        {L"C:\\x\\notepad.exe", FALSE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsExcludedHostPath(c.path), c.excluded) << testing::PrintToString(std::wstring(c.path));
    EXPECT_FALSE(IsExcludedHostPath(nullptr));
}

struct Resolved {
    BOOL found = FALSE;
    std::wstring host, queue;
};

Resolved Resolve(HANDLE printer) {
    CPrinterPortResolver resolver(printer);
    wchar_t host[512] = L"junk";
    wchar_t queue[512] = L"junk";
    Resolved r;
    r.found = resolver.ResolveServerAddress(host, 512, queue, 512);
    r.host = host;
    r.queue = queue;
    return r;
}

struct PortCase {
    const wchar_t* port;
    BOOL found;
    const wchar_t* host;
    const wchar_t* queue;
};

TEST(PortResolver, PortTable) {
    TcpIpPortKey raw(L"IP_10.1.2.3", L"", L"10.1.2.3", 1, 9103);
    TcpIpPortKey lpr(L"LPR_port_lower", L"lprhost", nullptr, 2, 515, L"z");
    TcpIpPortKey lprUpper(L"LPR_port_upper", L"lprhost2", nullptr, 2, 515, L"Z");
    TcpIpPortKey lprQueue(L"LPR_port_q", L"lprhost3", nullptr, 2, 515, L"jobs");
    TcpIpPortKey other(L"Port_9100", L"", L"10.9.9.9", 1, 9100);
    const PortCase cases[] = {
        {L"IP_10.1.2.3", TRUE, L"10.1.2.3", L"hold"},
        {L"10.1.2.3_raw", TRUE, L"10.1.2.3", L""},
        {L"\\\\server\\queue", TRUE, L"server", L"queue"},
        {L"\\\\server", TRUE, L"server", L""},
        {L"http://host/path", TRUE, L"host", L""},
        {L"LPT1:", FALSE, L"", L""},
        {L"LPR_port_lower", TRUE, L"lprhost", L""},
        {L"LPR_port_upper", TRUE, L"lprhost2", L""},
        {L"LPR_port_q", TRUE, L"lprhost3", L"jobs"},
        {L"Port_9100", TRUE, L"10.9.9.9", L"9100"},
        // Not local, so the one-colon form names a host.
        {L"FILE:", TRUE, L"FILE", L""},
    };
    for (const PortCase& c : cases) {
        TestPrinter printer(FixturePath(L"tolva-minimal.ppd"), c.port);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        Resolved r = Resolve(printer.Handle());
        std::string name = testing::PrintToString(std::wstring(c.port));
        EXPECT_EQ(r.found, c.found) << name;
        EXPECT_EQ(r.host, c.host) << name;
        EXPECT_EQ(r.queue, c.queue) << name;
    }
}

TEST(PortResolver, PrinterDataAndServiceRules) {
    TestPrinter printer(FixturePath(L"tolva-minimal.ppd"), L"\\\\portserver\\q");
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    ASSERT_EQ(PrnSetText(printer.Handle(), L"NovellSNMPAddressAndPort", L"::10.7.7.7:161"),
              static_cast<DWORD>(ERROR_SUCCESS));
    Resolved snmp = Resolve(printer.Handle());
    EXPECT_TRUE(snmp.found);
    EXPECT_EQ(snmp.host, L"10.7.7.7") << "first non-empty token wins over the port";
    EXPECT_EQ(snmp.queue, L"");

    // The controller's local print service answers for every printer.
    const wchar_t service[] = L"SYSTEM\\CurrentControlSet\\Services\\vyr_tolva";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, service, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    Resolved local = Resolve(printer.Handle());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, service);
    EXPECT_TRUE(local.found);
    EXPECT_EQ(local.host, L"localhost");
}

// A port that names no host, on a printer named like a host: the printer name is the address.
TEST(PortResolver, PrinterNameOfHostLettersIsTheAddress) {
    struct Case {
        std::wstring name;
        BOOL found;
    };
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    const Case cases[] = {{L"Tolva-Ctl-" + pid, TRUE}, {L"Tolva Ctl " + pid, FALSE}, {L"Tolva_Ctl_" + pid, FALSE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.name));
        TestPrinterSetup setup;
        setup.dataFile = FixturePath(L"tolva-minimal.ppd");
        setup.port = L"nohost_port";
        setup.printerName = c.name;
        TestPrinter printer(setup);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        Resolved r = Resolve(printer.Handle());
        EXPECT_EQ(r.found, c.found);
        EXPECT_EQ(r.host, c.found ? c.name : L"");
        EXPECT_EQ(r.queue, L"");
    }
}

// A printer reached through a print server whose printer data says "IsTolvaServer" = "1".
// The printer is opened by its server path (\\COMPUTER\printer), as a connection is.
TEST(PortResolver, SharedPrinterOfATolvaServer) {
    TestPrinter printer(FixturePath(L"tolva-minimal.ppd"), L"\\\\server\\queue");
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(computer, &length));
    std::wstring remote = L"\\\\" + std::wstring(computer) + L"\\" + printer.PrinterName();
    HANDLE connection = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(remote.data(), &connection, &defaults) || !connection)
        GTEST_SKIP() << "the spooler opens no printer by its server path here";
    CPrinterPortResolver resolver(connection);
    if (!resolver.HasServerName()) {
        ClosePrinter(connection);
        GTEST_SKIP() << "the spooler gives no server name for a printer opened by its server path here";
    }
    EXPECT_FALSE(resolver.IsTolvaServer()) << "without the printer data";
    for (const auto& [value, expected] : {std::pair{L"0", FALSE}, std::pair{L"1", TRUE}}) {
        ASSERT_EQ(PrnSetText(connection, L"IsTolvaServer", value), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(CPrinterPortResolver(connection).IsTolvaServer(), expected) << testing::PrintToString(std::wstring(value));
    }
    ClosePrinter(connection);
}

TEST(PortResolver, NetwarePrinterIsNoController) {
    TestPrinter printer(FixturePath(L"tolva-minimal.ppd"), L"\\\\nwserver\\nwqueue");
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    ASSERT_TRUE(Resolve(printer.Handle()).found);
    const std::wstring netware = L"SOFTWARE\\NETWARE\\PRINTER DATA\\nwserver\\nwqueue";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, netware.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    Resolved r = Resolve(printer.Handle());
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\NETWARE");
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.host, L"");
}

TEST(PortResolver, InvalidResolverAndBadOutputs) {
    CPrinterPortResolver none(nullptr);
    EXPECT_FALSE(none.IsValid());
    wchar_t host[8] = L"x", queue[8] = L"y";
    EXPECT_FALSE(none.ResolveServerAddress(host, 8, queue, 8));
    EXPECT_FALSE(none.HasServerName());
    EXPECT_FALSE(none.IsTolvaServer());
    EXPECT_TRUE(none.LacksAdminAccess());

    TestPrinter printer(FixturePath(L"tolva-minimal.ppd"), L"\\\\server\\queue");
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    CPrinterPortResolver resolver(printer.Handle());
    ASSERT_TRUE(resolver.IsValid());
    EXPECT_STREQ(resolver.GetServerName(), L"") << "a local printer has no server";
    EXPECT_FALSE(resolver.HasServerName());
    EXPECT_FALSE(resolver.IsTolvaServer());
    EXPECT_FALSE(resolver.LacksAdminAccess());
    EXPECT_FALSE(resolver.ResolveServerAddress(host, 0, queue, 8));
    EXPECT_FALSE(resolver.ResolveServerAddress(host, 8, nullptr, 8));
}

// The test program copied as "Zentrowin.exe" runs this test alone (it is disabled in the
// normal run).
TEST(ExcludedHost, DISABLED_ChildResolvesNothing) {
    if (!GetEnvironmentVariableW(L"TOLVA_EXCLUDED_CHILD", nullptr, 0))
        GTEST_SKIP() << "runs only in the excluded host";  // when run with the disabled tests
    EXPECT_TRUE(IsExcludedHostProcess());
    TestPrinter printer(FixturePath(L"tolva-minimal.ppd"), L"10.1.2.3_raw");
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    CPrinterPortResolver resolver(printer.Handle());
    wchar_t host[64] = L"untouched", queue[64] = L"untouched";
    EXPECT_FALSE(resolver.ResolveServerAddress(host, 64, queue, 64));
    EXPECT_STREQ(host, L"untouched") << "nothing is written";
}

TEST(ExcludedHost, InsideZentrowinNoAddressIsReturned) {
    EXPECT_FALSE(IsExcludedHostProcess());
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    // In the temporary folder, not the build tree, whose module check would meet a half-copied image.
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring folder = std::wstring(temp) + L"excluded-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring child = folder + L"\\Zentrowin.exe";
    ASSERT_TRUE(CopyFileW(self, child.c_str(), FALSE));
    SetEnvironmentVariableW(L"TOLVA_EXCLUDED_CHILD", L"1");
    std::wstring command = L"\"" + child +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=ExcludedHost.DISABLED_ChildResolvesNothing";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(child.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process);
    SetEnvironmentVariableW(L"TOLVA_EXCLUDED_CHILD", nullptr);
    DWORD code = 99;
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteFileW(child.c_str());
    RemoveDirectoryW(folder.c_str());
    ASSERT_TRUE(started) << GetLastError();
    EXPECT_EQ(code, 0u) << "the excluded host's test failed";
}

}  // namespace
