// Generations of the compiled settings: a PPD that changes while driver states live gives new
// users a new generation and leaves the states' own untouched until the last of them lets go.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "settings/KeySetting.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "tests/storage/CfgTestUtil.h"
#include "tests/support/TestPrinter.h"

using cfgtest::ReadAll;
using cfgtest::Touch;
using tolvatest::FixturePath;
using tolvatest::TestPrinter;
using tolvatest::TestPrinterSetup;

namespace {

// What a state would print: every current setting's comment and setup code, in key order.
std::string JobText(CBaseDrvState& state) {
    std::string job;
    KVCache* current = state.GetCurrentSettings();
    for (auto it = current->Begin(); it != current->End(); ++it) {
        const auto* setting = dynamic_cast<const CKeyBaseSetting*>(current->GetAt(it));
        if (!setting)
            continue;
        for (auto emit : {&CKeyBaseSetting::GetCommentTextA, &CKeyBaseSetting::GetSetupCodeA}) {
            const int need = (setting->*emit)(&state, nullptr, 0);
            if (need <= 0)
                continue;
            std::string text(static_cast<size_t>(need) + 1, '\0');
            const int got = (setting->*emit)(&state, text.data(), static_cast<unsigned>(text.size()));
            text.resize(got > 0 ? std::min<size_t>(static_cast<size_t>(got), text.size()) : 0);
            job += text.c_str();
        }
    }
    return job;
}

// A driver state made and loaded the way a device makes it, under a hold of its own.
std::unique_ptr<CBaseDrvState> MakeDevice(const std::wstring& ppd, CfgSettings** madeFrom) {
    CfgSettingsHold hold(ppd.c_str());
    if (madeFrom)
        *madeFrom = hold.Get();
    if (!hold.Get())
        return nullptr;
    auto state = std::make_unique<CBaseDrvState>(hold.Get());
    if (!state->IsValid() || !state->LoadAll(hold.Get(), DevmodeSet(), nullptr, 0))
        return nullptr;
    return state;
}

struct Change {
    const char* name;
    const wchar_t* replacement;  // PPD copied over the data file; null: only touched
};

class GenerationTest : public ::testing::TestWithParam<Change> {};

TEST_P(GenerationTest, AStateKeepsItsGenerationAcrossAChangedPPD) {
    TestPrinterSetup setup;
    setup.dataFile = FixturePath(L"tolva-sample.ppd");
    setup.companions.push_back({std::wstring(TOLVA_LAN_DIR_W) + L"\\tolva-sample.LAN", L"{stem}.LAN"});
    TestPrinter printer(setup);
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    const std::wstring ppd = printer.DataFile();
    const std::wstring cache = printer.Beside(L"{stem}.PBJ");

    CfgSettings* firstGeneration = nullptr;
    std::unique_ptr<CBaseDrvState> first = MakeDevice(ppd, &firstGeneration);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetGeneration(), firstGeneration);
    const std::string jobBefore = JobText(*first);
    ASSERT_FALSE(jobBefore.empty());
    const std::vector<uint8_t> cacheBefore = ReadAll(cache);
    ASSERT_FALSE(cacheBefore.empty());
    EXPECT_EQ(CountCfgGenerations(ppd.c_str()), 1);

    if (GetParam().replacement) {
        ASSERT_TRUE(CopyFileW(FixturePath(GetParam().replacement).c_str(), ppd.c_str(), FALSE));
    }
    ASSERT_TRUE(Touch(ppd, 100));

    CfgSettings* secondGeneration = nullptr;
    std::unique_ptr<CBaseDrvState> second = MakeDevice(ppd, &secondGeneration);
    ASSERT_TRUE(second);
    EXPECT_NE(secondGeneration, firstGeneration) << "new users get a new generation";
    EXPECT_EQ(CountCfgGenerations(ppd.c_str()), 2);
    const std::vector<uint8_t> cacheAfter = ReadAll(cache);
    EXPECT_NE(cacheAfter, cacheBefore) << "the cache was rebuilt for the changed PPD";
    if (GetParam().replacement) {
        EXPECT_NE(JobText(*second), jobBefore);
    } else {
        EXPECT_EQ(JobText(*second), jobBefore);
    }

    // The first device prints as before, also when a step is handed the newer settings.
    EXPECT_EQ(JobText(*first), jobBefore);
    {
        CfgSettingsHold hold(ppd.c_str());
        ASSERT_EQ(hold.Get(), secondGeneration);
        ASSERT_TRUE(first->LoadAll(hold.Get(), DevmodeSet(), nullptr, 0));
    }
    EXPECT_EQ(JobText(*first), jobBefore);

    first.reset();
    EXPECT_EQ(CountCfgGenerations(ppd.c_str()), 1) << "the old generation goes with its last user";
    // Without users a changed PPD is rebuilt in place.
    second.reset();
    ASSERT_TRUE(Touch(ppd, 200));
    std::unique_ptr<CBaseDrvState> third = MakeDevice(ppd, nullptr);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->GetGeneration(), secondGeneration);
    EXPECT_EQ(CountCfgGenerations(ppd.c_str()), 1);
}

INSTANTIATE_TEST_SUITE_P(Changes, GenerationTest,
                         ::testing::Values(Change{"touched", nullptr}, Change{"replaced", L"tolva-minimal.ppd"}),
                         [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

}  // namespace
