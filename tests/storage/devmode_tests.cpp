// Private device-mode block: checksum, layout, the four device-mode requests, and hostile
// input blocks placed against an inaccessible page.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "foundation/Crypto.h"
#include "storage/Devmode.h"
#include "tests/storage/CfgTestUtil.h"

using namespace cfgtest;

namespace {

class DevmodeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::wstring dir = ScratchDir(L"devmode");
        minimalPath = new std::wstring(StageFixture(dir, L"tolva-minimal.ppd", false));
        plainPath = new std::wstring(dir + L"\\plain.ppd");
        WriteText(*plainPath, DuplexPPD(""));
        minimal = new Direct(*minimalPath);
        plain = new Direct(*plainPath);
    }
    static void TearDownTestSuite() {
        delete minimal;
        delete plain;
        delete minimalPath;
        delete plainPath;
    }
    static std::vector<uint8_t> Defaults() {
        std::vector<uint8_t> block(188, 0xCC);
        OEMDMPARAM p{};
        p.pOEMDMOut = block.data();
        p.cbBufSize = static_cast<DWORD>(block.size());
        EXPECT_EQ(S_OK, ProcessOemDevmodeRequest(OEMDM_DEFAULT, &p, minimal->settings.get()));
        return block;
    }

    static std::wstring* minimalPath;
    static std::wstring* plainPath;
    static Direct* minimal;
    static Direct* plain;
};
std::wstring* DevmodeTest::minimalPath;
std::wstring* DevmodeTest::plainPath;
Direct* DevmodeTest::minimal;
Direct* DevmodeTest::plain;

TEST(DevmodeChecksum, KnownValues) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t expected;
    } cases[] = {
        {"empty", {}, 0},
        {"abc", {'a', 'b', 'c'}, 0x1B00},
        {"01 02", {1, 2}, 11},
        {"single FF", {0xFF}, 0xFF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ComputeChecksum(c.bytes.data(), static_cast<int>(c.bytes.size()))) << c.name;
}

TEST_F(DevmodeTest, SizeIsPayloadPlusHeader) {
    ASSERT_EQ(172u, minimal->settings->GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS));
    OEMDMPARAM p{};
    p.cbBufSize = 12345;
    EXPECT_EQ(S_OK, ProcessOemDevmodeRequest(OEMDM_SIZE, &p, minimal->settings.get()));
    EXPECT_EQ(188u, p.cbBufSize);
    EXPECT_EQ(188u, CDevmode::GetRequiredSize(minimal->settings.get()));
    EXPECT_EQ(0u, CDevmode::GetRequiredSize(nullptr));
}

TEST_F(DevmodeTest, DefaultWritesHeaderAndPayload) {
    const std::vector<uint8_t> block = Defaults();
    // size 188, "VYRI" read little-endian, version 1, checksum of the payload.
    const uint8_t header[16] = {0xBC, 0, 0, 0, 0x49, 0x52, 0x59, 0x56, 1, 0, 0, 0, 0x1E, 0x4F, 0x5E, 0xEE};
    EXPECT_EQ(0, std::memcmp(header, block.data(), 16));
    uint32_t n = 0;
    const uint8_t* payload = minimal->settings->GetSectionData(CFG_SECTION_VYRUI_DEFAULTS, &n);
    ASSERT_EQ(172u, n);
    EXPECT_EQ(0, std::memcmp(payload, block.data() + 16, n));
    CDevmode view(const_cast<uint8_t*>(block.data()), 188, minimal->settings.get());
    EXPECT_TRUE(view.IsValid());
}

TEST_F(DevmodeTest, ConvertReplacesBadInputByDefaults) {
    const std::vector<uint8_t> good = Defaults();
    std::vector<uint8_t> changed = good;
    changed[16] ^= 0x01;  // a different first option value, with its checksum
    {
        CDevmode view(changed.data(), 188, minimal->settings.get());
        ASSERT_TRUE(view.UpdateChecksum());
    }
    struct Case {
        const char* name;
        std::vector<uint8_t> input;  // empty: no input block
        bool copied;
    };
    std::vector<Case> cases;
    cases.push_back({"valid changed block", changed, true});
    std::vector<uint8_t> b = changed;
    b[40] ^= 0x10;
    cases.push_back({"payload byte flipped after checksum", b, false});
    b = changed;
    b[0] = 189;
    b.push_back(0);
    cases.push_back({"size one larger", b, false});
    b = changed;
    b[8] = 2;
    cases.push_back({"version 2", b, false});
    b = changed;
    b[4] = 0x48;
    cases.push_back({"other signature", b, false});
    b = changed;
    b[12] ^= 1;
    cases.push_back({"wrong checksum", b, false});
    cases.push_back({"no input", {}, false});

    for (DWORD mode : {DWORD(OEMDM_CONVERT), DWORD(OEMDM_MERGE)}) {
        for (Case& c : cases) {
            std::vector<uint8_t> out(200, 0xCC);
            OEMDMPARAM p{};
            p.pOEMDMIn = c.input.empty() ? nullptr : c.input.data();
            p.pOEMDMOut = out.data();
            p.cbBufSize = static_cast<DWORD>(out.size());
            EXPECT_EQ(S_OK, ProcessOemDevmodeRequest(mode, &p, minimal->settings.get())) << c.name;
            EXPECT_EQ(188u, p.cbBufSize) << c.name;
            const std::vector<uint8_t>& expected = c.copied ? changed : good;
            EXPECT_EQ(0, std::memcmp(expected.data(), out.data(), 188)) << c.name << " mode " << mode;
            EXPECT_EQ(0xCC, out[188]) << c.name << ": nothing past the block";
        }
    }
}

TEST_F(DevmodeTest, ConvertInPlaceKeepsAValidBlock) {
    std::vector<uint8_t> block = Defaults();
    block[16] ^= 1;
    CDevmode(block.data(), 188, minimal->settings.get()).UpdateChecksum();
    const std::vector<uint8_t> before = block;
    OEMDMPARAM p{};
    p.pOEMDMIn = p.pOEMDMOut = block.data();
    p.cbBufSize = 188;
    EXPECT_EQ(S_OK, ProcessOemDevmodeRequest(OEMDM_CONVERT, &p, minimal->settings.get()));
    EXPECT_EQ(before, block);
}

TEST_F(DevmodeTest, FailuresSetInvalidParameter) {
    std::vector<uint8_t> in = Defaults();
    std::vector<uint8_t> out(187, 0xCC);
    struct Case {
        const char* name;
        DWORD mode;
        bool withParam;
        bool withSettings;
        DWORD size;
    } cases[] = {
        {"default, n+15", OEMDM_DEFAULT, true, true, 187},
        {"convert, n+15", OEMDM_CONVERT, true, true, 187},
        {"merge, n+15", OEMDM_MERGE, true, true, 187},
        {"default, 0", OEMDM_DEFAULT, true, true, 0},
        {"no param", OEMDM_SIZE, false, true, 188},
        {"no settings", OEMDM_CONVERT, true, false, 188},
    };
    for (const Case& c : cases) {
        OEMDMPARAM p{};
        p.pOEMDMIn = in.data();
        p.pOEMDMOut = out.data();
        p.cbBufSize = c.size;
        SetLastError(0);
        EXPECT_EQ(E_FAIL, ProcessOemDevmodeRequest(c.mode, c.withParam ? &p : nullptr,
                                                   c.withSettings ? minimal->settings.get() : nullptr))
            << c.name;
        EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError()) << c.name;
        EXPECT_EQ(0xCC, out[0]) << c.name << ": nothing written";
    }
}

TEST_F(DevmodeTest, UnknownModeDoesNothing) {
    std::vector<uint8_t> out(188, 0xCC);
    OEMDMPARAM p{};
    p.pOEMDMOut = out.data();
    p.cbBufSize = 188;
    EXPECT_EQ(S_OK, ProcessOemDevmodeRequest(9, &p, minimal->settings.get()));
    EXPECT_EQ(0xCC, out[0]);
}

TEST_F(DevmodeTest, PPDWithoutPrivateKeys) {
    CfgSettings* s = plain->settings.get();
    ASSERT_NE(nullptr, s->GetDefaultSettings());
    EXPECT_EQ(0u, s->GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS));
    OEMDMPARAM p{};
    p.cbBufSize = 99;
    EXPECT_EQ(S_OK, ProcessOemDevmodeRequest(OEMDM_SIZE, &p, s));
    EXPECT_EQ(0u, p.cbBufSize);
    uint8_t out[4] = {0xCC, 0xCC, 0xCC, 0xCC};
    p.pOEMDMOut = out;
    p.cbBufSize = 0;
    EXPECT_EQ(S_OK, ProcessOemDevmodeRequest(OEMDM_DEFAULT, &p, s));
    EXPECT_EQ(0xCC, out[0]);
    EXPECT_EQ(E_FAIL, ProcessOemDevmodeRequest(OEMDM_CONVERT, &p, s));
    EXPECT_EQ(E_FAIL, ProcessOemDevmodeRequest(OEMDM_MERGE, &p, s));
    CDevmode view(out, 0, s);
    EXPECT_TRUE(view.IsEmpty());
    EXPECT_FALSE(view.IsValid());
    EXPECT_EQ(nullptr, view.GetPayload());
}

TEST_F(DevmodeTest, CopyIntoLargerViewKeepsTheRest) {
    // A view over the sample PPD's settings is larger than the minimal's block.
    const std::wstring dir = ScratchDir(L"devmode-copy");
    Direct sample(StageFixture(dir, L"tolva-sample.ppd", true), Sibling(dir + L"\\tolva-sample.ppd", L".LAN"));
    const uint32_t big = CDevmode::GetRequiredSize(sample.settings.get());
    ASSERT_GT(big, 188u);
    std::vector<uint8_t> target(big, 0x5A);
    std::vector<uint8_t> source = Defaults();
    CDevmode to(target.data(), big, sample.settings.get());
    CDevmode from(source.data(), 188, minimal->settings.get());
    EXPECT_FALSE(from.CopyFrom(to)) << "smaller target";
    EXPECT_FALSE(to.CopyFrom(to)) << "itself";
    ASSERT_TRUE(to.CopyFrom(from));
    EXPECT_EQ(0, std::memcmp(source.data(), target.data(), 188));
    for (uint32_t i = 188; i < big; ++i) ASSERT_EQ(0x5A, target[i]) << i;
    EXPECT_EQ(188u, to.GetTotalSize());
    EXPECT_TRUE(to.IsValid());
}

TEST_F(DevmodeTest, HostileBlocksAgainstAGuardPage) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    uint8_t* region = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, region);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(region + page, page, PAGE_NOACCESS, &old));
    const std::vector<uint8_t> good = Defaults();
    std::mt19937 rng(20261210);
    std::vector<uint8_t> out(188);
    int copied = 0;
    for (int i = 0; i < 100000; ++i) {
        // Every block tells its own length truthfully and ends at the inaccessible page.
        const uint32_t length = 16 + rng() % 240;
        uint8_t* block = region + page - length;
        for (uint32_t k = 0; k < length; ++k) block[k] = static_cast<uint8_t>(rng());
        const uint32_t variant = rng() % 4;
        if (variant > 0) std::memcpy(block, good.data(), std::min<uint32_t>(length, 12));
        if (variant == 3 && length == 188) CDevmode(block, 188, minimal->settings.get()).UpdateChecksum();
        block[0] = static_cast<uint8_t>(length);
        block[1] = static_cast<uint8_t>(length >> 8);
        block[2] = block[3] = 0;
        OEMDMPARAM p{};
        p.pOEMDMIn = block;
        p.pOEMDMOut = out.data();
        p.cbBufSize = 188;
        ASSERT_EQ(S_OK, ProcessOemDevmodeRequest(i % 2 ? OEMDM_CONVERT : OEMDM_MERGE, &p, minimal->settings.get()));
        ASSERT_EQ(188u, p.cbBufSize);
        const bool same = std::memcmp(out.data(), block, std::min<uint32_t>(length, 188)) == 0 && length == 188;
        if (same && std::memcmp(out.data(), good.data(), 188) != 0) ++copied;
        ASSERT_TRUE(same || std::memcmp(out.data(), good.data(), 188) == 0) << "block " << i;
    }
    EXPECT_GT(copied, 0) << "valid random blocks are taken";
    VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace
