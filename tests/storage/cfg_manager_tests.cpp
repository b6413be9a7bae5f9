// Settings manager: one object per PPD path whatever its letter case, path limits,
// per-thread holds (blocking, nesting) and the process-wide entry points.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "foundation/StrUtil.h"
#include "storage/CfgSettingsManager.h"
#include "storage/Devmode.h"
#include "tests/storage/CfgTestUtil.h"

using namespace cfgtest;

namespace {

std::wstring Upper(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(towupper(c));
    return s;
}

class CfgManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = ScratchDir(L"manager");
        ppdA = StageFixture(dir, L"tolva-minimal.ppd", false);
        ppdB = dir + L"\\plain.ppd";
        WriteText(ppdB, DuplexPPD(""));
    }
    std::wstring dir, ppdA, ppdB;
    CfgSettingsManager manager{L".PBJ"};
};

TEST_F(CfgManagerTest, CaseOnlyDifferencesShareOneObject) {
    CfgSettings* a = manager.GetSettings(ppdA.c_str(), nullptr, nullptr);
    ASSERT_NE(nullptr, a);
    CfgSettings* b = manager.GetSettings(Upper(ppdA).c_str(), nullptr, nullptr);
    EXPECT_EQ(a, b);
    CfgSettings* other = manager.GetSettings(ppdB.c_str(), nullptr, nullptr);
    EXPECT_NE(a, other);
    EXPECT_EQ(172u, a->GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS));
    manager.ReleaseSettings(ppdB.c_str(), other);
    manager.ReleaseSettings(Upper(ppdA).c_str(), b);
    manager.ReleaseSettings(ppdA.c_str(), a);
}

TEST_F(CfgManagerTest, PathLimitsAndNullArguments) {
    const std::wstring at260 = L"C:\\" + std::wstring(253, L'a') + L".ppd";
    ASSERT_EQ(260u, at260.size());
    EXPECT_EQ(nullptr, manager.GetSettings(at260.c_str(), nullptr, nullptr));
    EXPECT_EQ(nullptr, manager.GetSettings(at260.c_str(), nullptr, nullptr)) << "never gets an entry";
    EXPECT_EQ(nullptr, manager.GetSettings(nullptr, nullptr, nullptr));
    EXPECT_EQ(nullptr, manager.GetSettings(L"", nullptr, nullptr));
    // A path just inside the limit gets an object (the PPD need not exist to be asked for).
    const std::wstring at259 = L"C:\\" + std::wstring(252, L'a') + L".ppd";
    CfgSettings* s = manager.GetSettings(at259.c_str(), nullptr, nullptr);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(0u, s->GetSectionSize(0));
    manager.ReleaseSettings(at259.c_str(), s);
    // Releases that match nothing do nothing.
    manager.ReleaseSettings(ppdA.c_str(), reinterpret_cast<CfgSettings*>(&manager));
    manager.ReleaseSettings(nullptr, s);
    manager.ReleaseSettings(at259.c_str(), nullptr);

    WText cache(manager.GetCacheFilePath(L"C:\\drivers\\tolva.ppd"));
    ASSERT_NE(nullptr, cache.get());
    EXPECT_STREQ(L"C:\\drivers\\tolva.PBJ", cache.get());
    EXPECT_EQ(nullptr, manager.GetCacheFilePath(nullptr));
    CfgSettingsManager defaultExtension;
    WText cfg(defaultExtension.GetCacheFilePath(L"C:\\drivers\\tolva.ppd"));
    EXPECT_STREQ(L"C:\\drivers\\tolva.CFG", cfg.get());
}

TEST_F(CfgManagerTest, AnotherThreadWaitsUntilRelease) {
    CfgSettings* mine = manager.GetSettings(ppdA.c_str(), nullptr, nullptr);
    ASSERT_NE(nullptr, mine);
    // A nested acquire passes at once and must be balanced.
    ASSERT_EQ(mine, manager.GetSettings(ppdA.c_str(), nullptr, nullptr));
    std::atomic<int> stage{0};
    std::thread other([&] {
        stage = 1;
        CfgSettings* s = manager.GetSettings(ppdA.c_str(), nullptr, nullptr);
        stage = 2;
        manager.ReleaseSettings(ppdA.c_str(), s);
    });
    while (stage == 0) Sleep(1);
    Sleep(150);
    EXPECT_EQ(1, stage.load()) << "held by this thread";
    // Another thread's release does not end this thread's hold.
    std::thread([&] { manager.ReleaseSettings(ppdA.c_str(), mine); }).join();
    manager.ReleaseSettings(ppdA.c_str(), mine);
    Sleep(150);
    EXPECT_EQ(1, stage.load()) << "one hold left";
    manager.ReleaseSettings(ppdA.c_str(), mine);
    other.join();
    EXPECT_EQ(2, stage.load());
}

// While another thread waits for a busy PPD, the holder can still acquire a second PPD
// and nest on the first: the wait happens outside the manager's lock.
TEST_F(CfgManagerTest, NestedAcquireWhileAnotherWaits) {
    CfgSettings* a = manager.GetSettings(ppdA.c_str(), nullptr, nullptr);
    ASSERT_NE(nullptr, a);
    std::atomic<int> waiter{0};
    std::thread other([&] {
        waiter = 1;
        CfgSettings* s = manager.GetSettings(ppdA.c_str(), nullptr, nullptr);
        waiter = 2;
        manager.ReleaseSettings(ppdA.c_str(), s);
    });
    while (waiter == 0) Sleep(1);
    Sleep(100);
    // The holder's own calls: a second PPD, then the first again (a hang here would be
    // the deadlock; the test's time limit reports it).
    CfgSettings* b = manager.GetSettings(ppdB.c_str(), nullptr, nullptr);
    CfgSettings* again = manager.GetSettings(ppdA.c_str(), nullptr, nullptr);
    EXPECT_NE(nullptr, b);
    EXPECT_EQ(a, again);
    manager.ReleaseSettings(ppdB.c_str(), b);
    manager.ReleaseSettings(ppdA.c_str(), again);
    EXPECT_EQ(1, waiter.load());
    manager.ReleaseSettings(ppdA.c_str(), a);
    other.join();
    EXPECT_EQ(2, waiter.load());
}

TEST(CfgProcessManager, AcquireWithTheLanguageModule) {
    const std::wstring dir = ScratchDir(L"process");
    const std::wstring ppd = StageFixture(dir, L"tolva-sample.ppd", true);
    {
        CfgSettingsHold hold(ppd.c_str());
        ASSERT_NE(nullptr, hold.Get());
        // The extension statements count: the private payload of PPD plus module.
        EXPECT_EQ(3528u, hold.Get()->GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS));
        OEMDMPARAM p{};
        EXPECT_EQ(S_OK, ProcessOemDevmodeRequest(OEMDM_SIZE, &p, hold.Get()));
        EXPECT_EQ(3544u, p.cbBufSize);
    }
    WText cache(GetCfgCacheFilePath(ppd.c_str()));
    ASSERT_NE(nullptr, cache.get());
    EXPECT_EQ(Sibling(ppd, L".PBJ"), std::wstring(cache.get()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(cache.get()));
    EXPECT_EQ(nullptr, AcquireCfgSettings(nullptr));
    ReleaseCfgSettings(L"never acquired", nullptr);
}

}  // namespace
