// The core driver stand-in's own option list, which later hosts and the driver-state tests
// rely on: GetOptions and SetOptions over MULTI_SZ keyword pairs.
#include <gtest/gtest.h>

#include <string>

#include "tests/standins/coredriver/CoreDriverStandIn.h"

namespace {

std::string Multi(std::initializer_list<const char*> items)
{
    std::string text;
    for (const char* item : items) {
        text += item;
        text += '\0';
    }
    return text + '\0';
}

TEST(CoreUIStandInTest, GetOptionsReportsRequestedPairs)
{
    coredriver::CoreUIStandIn core;
    DWORD result = 99;
    const std::string set = Multi({"Duplex", "None", "InputSlot", "Tray1"});
    ASSERT_EQ(core.SetOptions(nullptr, 0, set.data(), static_cast<DWORD>(set.size()), &result), S_OK);
    EXPECT_EQ(result, static_cast<DWORD>(SETOPTIONS_RESULT_NO_CONFLICT));
    const std::string change = Multi({"Duplex", "DuplexTumble"});
    ASSERT_EQ(core.SetOptions(nullptr, 0, change.data(), static_cast<DWORD>(change.size()), &result), S_OK);

    const struct {
        const char* name;
        std::string requested;
        std::string expected;
    } cases[] = {
        {"all", std::string(), Multi({"Duplex", "DuplexTumble", "InputSlot", "Tray1"})},
        {"one", Multi({"InputSlot"}), Multi({"InputSlot", "Tray1"})},
        {"unknown", Multi({"Collate"}), std::string(1, '\0')},
    };
    for (const auto& c : cases) {
        const char* requested = c.requested.empty() ? nullptr : c.requested.data();
        DWORD needed = 0;
        EXPECT_EQ(core.GetOptions(nullptr, 0, requested, static_cast<DWORD>(c.requested.size()), nullptr, 0, &needed),
                  E_OUTOFMEMORY)
            << c.name << ": size query";
        EXPECT_EQ(needed, c.expected.size()) << c.name;
        std::string buffer(needed, 'x');
        EXPECT_EQ(core.GetOptions(nullptr, 0, requested, static_cast<DWORD>(c.requested.size()), buffer.data(), needed,
                                  &needed),
                  S_OK)
            << c.name;
        EXPECT_EQ(buffer, c.expected) << c.name;
    }
    const std::string odd = Multi({"Duplex"});
    EXPECT_EQ(core.SetOptions(nullptr, 0, odd.data(), static_cast<DWORD>(odd.size()), &result), E_INVALIDARG)
        << "a feature without its option";
}

}  // namespace
