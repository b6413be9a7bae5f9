// Brimsa's pure rules, linked directly: the idle decision (also across the tick wrap), the
// destinations the PPD fetch accepts, the binding of the print-server library, and a
// connection's queue when its worker stops, a server that cannot listen, and a connection's
// waits bounded while its worker is held by the controller.
#include <gtest/gtest.h>

#include <thread>

#include "BiDiTestUtil.h"
#include "bidiserver/BiDiConnection.h"
#include "bidiserver/BiDiServer.h"
#include "uiplugin/BiDiCategory.h"
#include "uiplugin/BiDiShare.h"

namespace {

struct IdleCase {
    DWORD now, last;
    bool expired;
};

TEST(BiDiWatchdog, IdleTable) {
    const IdleCase cases[] = {
        {60000, 1, false},             // 59999 ms: keeps serving
        {60001, 1, true},              // 60000 ms: stops
        {100000, 1000, true},
        {29999, 0xFFFFFFFFu - 29999u, false},  // across the wrap: 59999 ms
        {30000, 0xFFFFFFFFu - 29999u, true},   // across the wrap: 60000 ms
        {5, 5, false},
    };
    for (const IdleCase& c : cases)
        EXPECT_EQ(BiDiIdleExpired(c.now, c.last, 60000), c.expired) << "now " << c.now << " last " << c.last;
}

TEST(BiDiWatchdog, IdleSettingForTests) {
    struct {
        const wchar_t* value;
        DWORD idle, check;
    } cases[] = {
        {nullptr, 60000, 15000}, {L"2000", 2000, 500}, {L"200", 200, 50},  {L"60000", 60000, 15000},
        {L"199", 60000, 15000},  {L"60001", 60000, 15000}, {L"2000x", 60000, 15000}, {L"", 60000, 15000},
    };
    for (const auto& c : cases) {
        SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", c.value);
        const BiDiIdlePolicy policy = GetBiDiIdlePolicy();
        EXPECT_EQ(policy.idleMilliseconds, c.idle) << (c.value ? c.value : L"(unset)");
        EXPECT_EQ(policy.checkMilliseconds, c.check) << (c.value ? c.value : L"(unset)");
    }
    SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", nullptr);
}

TEST(BiDiGetPPD, AcceptedDestinations) {
    struct {
        const wchar_t* path;
        bool accepted;
    } cases[] = {
        {L"C:\\drivers\\Printer.PPD", true},
        {L"z:\\a\\b.ppd", true},
        {L"C:\\drivers\\x..y.PPD", true},
        {L"C:\\drivers\\Printer.TXT", false},
        {L"C:\\drivers\\..\\Printer.PPD", false},
        {L"C:\\..\\Printer.PPD", false},
        {L"\\\\?\\C:\\drivers\\Printer.PPD", false},
        {L"\\\\server\\share\\Printer.PPD", false},
        {L"C:\\drivers\\Printer.PPD:stream.PPD", false},
        {L"drivers\\Printer.PPD", false},
        {L"C:Printer.PPD", false},
        {L"", false},
        {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsAcceptablePPDPath(c.path), c.accepted) << (c.path ? c.path : L"(null)");
}

TEST(BiDiServerBinding, SixteenEntryPointsOrNothing) {
    HMODULE full = LoadLibraryW(bidi_test::StandInPath(false, false).c_str());
    HMODULE noPPD = LoadLibraryW(bidi_test::StandInPath(false, true).c_str());
    ASSERT_NE(full, nullptr);
    ASSERT_NE(noPPD, nullptr);
    ServerInterfaceTable* table = CBiDiServer::BindServerInterface(full);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(table->GetPPD), reinterpret_cast<void*>(GetProcAddress(full, "QVServerGetPPD")));
    EXPECT_EQ(reinterpret_cast<void*>(table->Initialize),
              reinterpret_cast<void*>(GetProcAddress(full, "QVServerInitialize")));
    delete table;
    EXPECT_EQ(CBiDiServer::BindServerInterface(noPPD), nullptr);
    EXPECT_EQ(CBiDiServer::BindServerInterface(nullptr), nullptr);
    FreeLibrary(full);
    FreeLibrary(noPPD);
}

// Stopping the worker drops every queued category, the virtual-printer ones too, so nothing
// is left for a waiter of a connection that is going.
TEST(BiDiConnectionQueue, StopWorkerDropsEveryCategory) {
    for (bool started : {false, true}) {
        SCOPED_TRACE(started ? "worker running" : "no worker");
        CBiDiConnection connection(nullptr, L"C:\\drivers\\Printer.PPD", L"10.0.0.7", L"");
        ASSERT_TRUE(connection.IsValid());
        if (started) connection.StartWorker();  // without a server its handlers do nothing
        const long masks[] = {BiDiVPFlaggedAttributes, BiDiVPAttributes | BiDiVPFlaggedAttributes,
                              BiDiConnect | BiDiVPAttributes, kBiDiAllCategories};
        for (long mask : masks) connection.QueueOperation(mask);
        connection.StopWorker();
        EXPECT_EQ(connection.FindOperation(), nullptr);
        EXPECT_FALSE(connection.WaitForFirstOperation()) << "an operation outlived the worker";
        EXPECT_EQ(connection.GetDoneMask(), 0);
    }
}

// A connection whose first category never ends (the queue's worker does not run here): the
// waits of the call threads end at their bound, and the operation stays queued.
TEST(BiDiConnectionQueue, WaitsForCategoriesAreBounded) {
    CBiDiConnection connection(nullptr, L"C:\\drivers\\Printer.PPD", L"10.0.0.7", L"");
    ASSERT_TRUE(connection.IsValid());
    connection.QueueOperation(BiDiConnect);
    const DWORD start = GetTickCount();
    EXPECT_FALSE(connection.WaitForCategories(BiDiConnect, 300));
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 2000u);
    EXPECT_NE(connection.FindOperation(), nullptr) << "left for the worker";
    connection.StopWorker();
}

// A server that cannot listen (this process listens already) uncounts itself and lets its
// serving mutex go, so the next client starts a new one instead of waiting for this one.
TEST(BiDiServe, ServerThatCannotListenUncountsItself) {
    const bidi_test::BiDiPrinter printer =
        bidi_test::MakePrinter(L"NoListen", "", std::wstring(), bidi_test::StandInPath());
    CBiDiServer* server = CBiDiServer::Instance(printer.kqm().c_str());
    ASSERT_NE(server, nullptr);
    ASSERT_NE(server->GetTable(), nullptr);
    CBiDiShare share(kBiDiShareGuid, printer.ppd().c_str());
    EXPECT_EQ(share.GetServerCount(), 1u);
    EXPECT_TRUE(server->IsServing());
    wchar_t protocol[] = L"ncalrpc", endpoint[] = L"TolvaNoListenTest";
    ASSERT_EQ(RpcServerUseProtseqEpW(reinterpret_cast<RPC_WSTR>(protocol), 20, reinterpret_cast<RPC_WSTR>(endpoint),
                                     nullptr),
              RPC_S_OK);
    ASSERT_EQ(RpcServerListen(1, 20, TRUE), RPC_S_OK);
    EXPECT_FALSE(ServeBiDiEndpoint(server));
    EXPECT_EQ(share.GetServerCount(), 0u);
    EXPECT_FALSE(server->IsServing());
    bool alive = true;
    std::thread([&] { alive = share.IsServerAlive(); }).join();
    EXPECT_FALSE(alive);
    RpcMgmtStopServerListening(nullptr);
    RpcMgmtWaitServerListen();
}

}  // namespace
