// Compiled settings and their cache file: the file's layout, reloading, recompiling when
// the PPD changes, damaged and hostile cache files, and a folder that cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "storage/CfgSettings.h"
#include "tests/storage/CfgTestUtil.h"

using namespace cfgtest;

namespace {

uint64_t U64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Rehash(std::vector<uint8_t>& file) {
    const uint64_t h = ComputeCfgFileHash(file.data(), static_cast<uint32_t>(file.size()));
    for (int i = 0; i < 8; ++i) file[kCfgHashOffset + i] = static_cast<uint8_t>(h >> (8 * i));
}
uint32_t RowOffset(const std::vector<uint8_t>& f, int row) { return U32(f.data() + 42 + 12 * row + 4); }
uint32_t RowSize(const std::vector<uint8_t>& f, int row) { return U32(f.data() + 42 + 12 * row + 8); }

int CountFiles(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    int n = 0;
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return n;
}

// The hash of a file written piece by piece is the hash of its image, wherever the pieces
// are cut: in the first block, across block ends, a byte at a time, in the tail.
TEST(CfgSettingsFile, HashOfPiecesIsTheHashOfTheImage) {
    std::mt19937 random(7);
    for (uint32_t size : {5u, 31u, 32u, 33u, 63u, 64u, 218u, 300u, 1000u, 4099u}) {
        std::vector<uint8_t> file(size);
        for (uint8_t& b : file) b = static_cast<uint8_t>(random());
        for (uint32_t i = kCfgHashOffset; i < kCfgHashOffset + 8 && i < size; ++i) file[i] = 0;
        const uint64_t expected = ComputeCfgFileHash(file.data(), size);
        for (int cut = 0; cut < 4; ++cut) {
            std::vector<CfgFilePiece> pieces;
            for (uint32_t at = 0; at < size;) {
                // whole, single bytes, 32-byte steps off by 3, random lengths (some empty)
                uint32_t n = cut == 0 ? size : cut == 1 ? 1 : cut == 2 ? (at == 0 ? 29 : 32) : random() % 70;
                n = std::min(n, size - at);
                pieces.push_back(CfgFilePiece{file.data() + at, n});
                at += n;
            }
            EXPECT_EQ(expected, ComputeCfgFileHash(pieces.data(), static_cast<int>(pieces.size())))
                << size << " bytes, cut " << cut;
        }
    }
}

TEST(CfgSettingsFile, HeaderLayout) {
    const std::wstring dir = ScratchDir(L"layout");
    const std::wstring ppd = StageFixture(dir, L"tolva-sample.ppd", true);
    Direct d(ppd, Sibling(ppd, L".LAN"));
    ASSERT_NE(0u, d->GetSectionSize(CFG_SECTION_GENERAL_KEYS));
    const std::vector<uint8_t> f = ReadAll(Sibling(ppd, L".PBJ"));
    ASSERT_GE(f.size(), 218u);
    const uint8_t start[6] = {0, 0, 0x2A, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(start, f.data(), 6));
    EXPECT_EQ(f.size(), U32(f.data() + 6));
    EXPECT_EQ(13u, U32(f.data() + 10));
    struct _stat64 st;
    ASSERT_EQ(0, _wstat64(ppd.c_str(), &st));
    EXPECT_EQ(static_cast<uint64_t>(st.st_mtime), U64(f.data() + 198));
    uint32_t expectedOffset = 218;
    for (int row = 0; row < 13; ++row) {
        const uint32_t size = RowSize(f, row);
        if (size == 0) {
            EXPECT_EQ(0u, U32(f.data() + 42 + 12 * row)) << "absent row " << row;
            continue;
        }
        EXPECT_EQ(uint32_t(row), U32(f.data() + 42 + 12 * row)) << "row " << row;
        EXPECT_EQ(expectedOffset, RowOffset(f, row)) << "row " << row;
        EXPECT_EQ(size, d->GetSectionSize(row)) << "row " << row;
        uint32_t held = 0;
        const uint8_t* bytes = d->GetSectionData(row, &held);
        ASSERT_EQ(size, held);
        EXPECT_EQ(0, std::memcmp(bytes, f.data() + expectedOffset, size)) << "section " << row;
        expectedOffset += size;
    }
    EXPECT_EQ(218u, RowOffset(f, 0));
    EXPECT_EQ(f.size(), expectedOffset);
    // The sample's default-value sections (the fixture's byte counts).
    EXPECT_EQ(3528u, d->GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS));
    EXPECT_EQ(608u, d->GetSectionSize(CFG_SECTION_GROUP_DEFAULTS));
    EXPECT_EQ(32u, d->GetSectionSize(CFG_SECTION_PSDM_DEFAULTS));
    EXPECT_STREQ(L"en", d->GetLanguageCode());
    EXPECT_EQ(static_cast<int32_t>(d->GetCodePage()), static_cast<int32_t>(U32(f.data() + 206)));
}

TEST(CfgSettingsFile, MinimalPayloadBytes) {
    const std::wstring dir = ScratchDir(L"minimal");
    Direct d(StageFixture(dir, L"tolva-minimal.ppd", false));
    uint32_t n = 0;
    const uint8_t* p = d->GetSectionData(CFG_SECTION_VYRUI_DEFAULTS, &n);
    ASSERT_EQ(172u, n);
    // *QVColorMode slot 8, *QVDuplex slot 12, then 100.0 and 9.0 as doubles.
    const uint8_t head[28] = {8, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x59, 0x40, 0, 0, 0, 0, 0, 0, 0x22, 0x40, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(head, p, sizeof(head)));
    EXPECT_EQ(nullptr, d->GetSection(-1));
    EXPECT_EQ(nullptr, d->GetSection(13));
    EXPECT_EQ(0u, d->GetSectionSize(13));
}

TEST(CfgSettingsFile, ReloadGivesTheSameSettings) {
    const std::wstring dir = ScratchDir(L"reload");
    const std::wstring ppd = StageFixture(dir, L"tolva-sample.ppd", true);
    std::vector<uint8_t> sections, defaults;
    {
        Direct first(ppd, Sibling(ppd, L".LAN"));
        sections = SectionsImage(first.settings.get());
        defaults = DefaultsImage(first.settings.get());
        EXPECT_FALSE(first->LoadedFromCache());
    }
    Direct second(ppd, Sibling(ppd, L".LAN"));
    EXPECT_EQ(static_cast<UINT>(U32(ReadAll(Sibling(ppd, L".PBJ")).data() + 206)), second->GetCodePage())
        << "the stored code page, before anything else was asked";
    EXPECT_TRUE(second->LoadedFromCache());
    EXPECT_EQ(sections, SectionsImage(second.settings.get()));
    EXPECT_EQ(defaults, DefaultsImage(second.settings.get()));
    ASSERT_NE(nullptr, second->GetKeyForest());
    EXPECT_GT(second->GetKeyForest()->GetCount(), 10u);
    EXPECT_EQ(1, CountFiles(dir) - 2) << "no temporary file is left beside the cache";
}

TEST(CfgSettingsFile, TouchingThePPDRewritesTheCache) {
    const std::wstring dir = ScratchDir(L"touch");
    const std::wstring ppd = StageFixture(dir, L"tolva-minimal.ppd", false);
    const std::wstring cache = Sibling(ppd, L".PBJ");
    Direct d(ppd);
    d->BeginHold();
    KVCache* held = d->GetDefaultSettings();
    ASSERT_NE(nullptr, held);
    const std::vector<uint8_t> before = ReadAll(cache);
    ASSERT_TRUE(Touch(ppd, 100));
    // A nested hold keeps what the outer caller may still be using.
    d->BeginHold();
    EXPECT_EQ(held, d->GetDefaultSettings());
    EXPECT_TRUE(held->GetCount() > 0);
    EXPECT_EQ(before, ReadAll(cache));
    d->EndHold();
    d->EndHold();
    // The next outermost hold sees the new time.
    d->BeginHold();
    ASSERT_NE(nullptr, d->GetDefaultSettings());
    d->EndHold();
    const std::vector<uint8_t> after = ReadAll(cache);
    ASSERT_GE(after.size(), 218u);
    EXPECT_EQ(U64(before.data() + 198) + 100, U64(after.data() + 198));
    EXPECT_EQ(GetFileModificationTime(ppd.c_str()), static_cast<int64_t>(U64(after.data() + 198)));
    // A fresh object over the touched PPD trusts the rewritten file.
    Direct fresh(ppd);
    EXPECT_NE(nullptr, fresh->GetSection(0));
    EXPECT_TRUE(fresh->LoadedFromCache());
}

TEST(CfgSettingsFile, DeletedCacheIsRegeneratedIdentically) {
    const std::wstring dir = ScratchDir(L"regen");
    const std::wstring ppd = StageFixture(dir, L"tolva-sample.ppd", true);
    const std::wstring cache = Sibling(ppd, L".PBJ");
    { Direct(ppd, Sibling(ppd, L".LAN"))->GetSection(0); }
    const std::vector<uint8_t> first = ReadAll(cache);
    ASSERT_FALSE(first.empty());
    ASSERT_TRUE(DeleteFileW(cache.c_str()));
    { Direct(ppd, Sibling(ppd, L".LAN"))->GetSection(0); }
    EXPECT_EQ(first, ReadAll(cache));
}

TEST(CfgSettingsFile, AbsentOptionalSectionIsNotRecompiled) {
    const std::wstring dir = ScratchDir(L"absent");
    const std::wstring ppd = dir + L"\\plain.ppd";
    ASSERT_TRUE(WriteText(ppd, DuplexPPD("")));
    { Direct(ppd)->GetSection(0); }
    const std::wstring cache = Sibling(ppd, L".PBJ");
    const std::vector<uint8_t> file = ReadAll(cache);
    ASSERT_EQ(0u, RowSize(file, CFG_SECTION_VYRUI_DEFAULTS));
    // Mark the file so that a rewrite would show.
    ASSERT_TRUE(SetFileAttributesW(cache.c_str(), FILE_ATTRIBUTE_READONLY));
    Direct d(ppd);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(nullptr, d->GetSection(CFG_SECTION_VYRUI_DEFAULTS));
        EXPECT_EQ(0u, d->GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS));
    }
    EXPECT_TRUE(d->LoadedFromCache());
    SetFileAttributesW(cache.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(file, ReadAll(cache));
}

TEST(CfgSettingsFile, UnwritableFolderStillSizesTheDeviceMode) {
    const std::wstring dir = ScratchDir(L"unwritable");
    const std::wstring ppd = StageFixture(dir, L"tolva-minimal.ppd", false);
    PPDParser::CFileIOPlugIn ppdSource;
    PPDParser::CFileIOPlugIn cacheSource((dir + L"\\no-such-folder\\tolva-minimal.PBJ").c_str());
    CfgSettings s(ppd.c_str(), &ppdSource, &cacheSource, nullptr, nullptr);
    EXPECT_EQ(172u, s.GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS));
    EXPECT_NE(nullptr, s.GetDefaultSettings());
    EXPECT_FALSE(s.LoadedFromCache());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir + L"\\no-such-folder").c_str()));
}

TEST(CfgSettingsFile, InvalidObjectsAnswerNothing) {
    PPDParser::CFileIOPlugIn source;
    struct Case {
        const char* name;
        const wchar_t* path;
        PPDParser::CFileIOPlugIn* cache;
    } cases[] = {{"no path", nullptr, &source}, {"empty path", L"", &source}, {"no cache source", L"x.ppd", nullptr}};
    for (const Case& c : cases) {
        CfgSettings s(c.path, &source, c.cache, nullptr, nullptr);
        EXPECT_FALSE(s.IsValid()) << c.name;
        EXPECT_EQ(0u, s.GetSectionSize(9)) << c.name;
        EXPECT_EQ(nullptr, s.GetSection(0)) << c.name;
        EXPECT_EQ(nullptr, s.GetStringSoup()) << c.name;
        EXPECT_EQ(nullptr, s.GetDefaultSettings()) << c.name;
        EXPECT_EQ(nullptr, s.GetConstraints(true)) << c.name;
    }
    // A PPD that does not exist: nothing compiles, nothing is written.
    const std::wstring dir = ScratchDir(L"missing");
    Direct d(dir + L"\\missing.ppd");
    EXPECT_EQ(0u, d->GetSectionSize(0));
    EXPECT_EQ(nullptr, d->GetDefaultSettings());
    EXPECT_EQ(0, CountFiles(dir));
}

// Damaged cache files: each loads as a clean compile would (the file is rebuilt).
class CfgCorruption : public ::testing::Test {
protected:
    void SetUp() override {
        dir = ScratchDir(L"corrupt");
        ppd = StageFixture(dir, L"tolva-minimal.ppd", false);
        cache = Sibling(ppd, L".PBJ");
        Direct clean(ppd);
        cleanSections = SectionsImage(clean.settings.get());
        cleanDefaults = DefaultsImage(clean.settings.get());
        cleanFile = ReadAll(cache);
        ASSERT_GT(cleanFile.size(), 300u);
    }
    // Writes the damaged file, loads it in a fresh object and checks the outcome.
    void Expect(const std::vector<uint8_t>& damaged, const std::string& name, bool mustRebuild = true) {
        ASSERT_TRUE(WriteAll(cache, damaged)) << name;
        Direct d(ppd);
        const std::vector<uint8_t> sections = SectionsImage(d.settings.get());
        if (mustRebuild) {
            EXPECT_FALSE(d->LoadedFromCache()) << name;
            EXPECT_EQ(cleanSections, sections) << name;
            EXPECT_EQ(cleanDefaults, DefaultsImage(d.settings.get())) << name;
            EXPECT_EQ(cleanFile, ReadAll(cache)) << name << ": rewritten";
        } else {
            // Accepted or rebuilt: everything built from it must still be walkable.
            DefaultsImage(d.settings.get());
            d->GetConstraints(true);
            d->GetConstraints(false);
            d->GetLanguageCode();
        }
    }

    std::wstring dir, ppd, cache;
    std::vector<uint8_t> cleanSections, cleanDefaults, cleanFile;
};

TEST_F(CfgCorruption, Table) {
    const std::vector<uint8_t>& f = cleanFile;
    const uint32_t soupAt = RowOffset(f, CFG_SECTION_SOUP), c11 = RowOffset(f, CFG_SECTION_CONSTRAINTS);
    struct Case {
        std::string name;
        std::vector<uint8_t> bytes;
        bool rehash;  // recomputed so that the structure checks, not the hash, must catch it
    };
    std::vector<Case> cases;
    auto mutate = [&](const std::string& name, auto change, bool rehash = true) {
        std::vector<uint8_t> b = f;
        change(b);
        cases.push_back({name, b, rehash});
    };
    cases.push_back({"empty file", {}, false});
    cases.push_back({"cut at 217", std::vector<uint8_t>(f.begin(), f.begin() + 217), false});
    cases.push_back({"cut mid-section", std::vector<uint8_t>(f.begin(), f.begin() + RowOffset(f, 3) + 5), false});
    mutate("cut mid-section, size fixed", [&](auto& b) {
        b.resize(RowOffset(f, 3) + 5);
        PutU32(b, 6, static_cast<uint32_t>(b.size()));
    });
    mutate("one byte longer", [&](auto& b) { b.push_back(0); }, false);
    mutate("total one larger", [&](auto& b) { PutU32(b, 6, U32(b.data() + 6) + 1); });
    mutate("first u16 not 0", [&](auto& b) { b[0] = 1; });
    mutate("table offset 43", [&](auto& b) { PutU32(b, 2, 43); });
    mutate("13 rows said 14", [&](auto& b) { PutU32(b, 10, 14); });
    mutate("reserved byte set", [&](auto& b) { b[30] = 1; });
    mutate("row size 0xFFFFFFF0", [&](auto& b) { PutU32(b, 42 + 12 * 2 + 8, 0xFFFFFFF0u); });
    mutate("row 4 numbered 5", [&](auto& b) { PutU32(b, 42 + 12 * 4, 5); });
    mutate("offset past the end", [&](auto& b) { PutU32(b, 42 + 12 * 12 + 4, static_cast<uint32_t>(f.size() + 10)); });
    mutate("overlapping rows", [&](auto& b) { PutU32(b, 42 + 12 * 1 + 4, RowOffset(f, 1) - 4); });
    mutate("first offset 219", [&](auto& b) { PutU32(b, 42 + 4, 219); });
    mutate("soup row removed", [&](auto& b) { std::memset(b.data() + 42 + 12 * 10, 0, 12); });
    mutate("time changed", [&](auto& b) { b[198] ^= 1; });
    mutate("locale slot huge", [&](auto& b) { PutU32(b, 214, 0x7FFFFFFF); });
    mutate("huge item count", [&](auto& b) { PutU32(b, 218 + 10, 0x40000000u); });
    mutate("item offset past block", [&](auto& b) { PutU32(b, 218 + 42, 0xFFFFFF00u); });
    mutate("key section of another group", [&](auto& b) { b[218] = 7; });
    mutate("key section total wrong", [&](auto& b) { PutU32(b, 218 + 6, RowSize(f, 0) + 1); });
    mutate("huge soup count", [&](auto& b) { PutU32(b, soupAt + 12, 0x3FFFFFFFu); });
    mutate("soup string offset past end", [&](auto& b) { PutU32(b, soupAt + 48, 0x7FFFFFFFu); });
    mutate("huge constraint count", [&](auto& b) { PutU32(b, c11 + 48, 0x7FFFFFFFu); });
    mutate("constraint pair count huge", [&](auto& b) {
        if (U32(b.data() + c11 + 48) > 0) b[c11 + 52] = 0xFF, b[c11 + 53] = 0xFF;
        else PutU32(b, c11 + 48, 1);
    });
    mutate("constraint slot huge", [&](auto& b) {
        PutU32(b, c11 + 48, 1);
        if (RowSize(f, CFG_SECTION_CONSTRAINTS) < 70) PutU32(b, c11 + 6, 0);
        else PutU32(b, c11 + 52 + 2, 0x7FFF0000u);
    });
    mutate("hash wrong", [&](auto& b) { b[kCfgHashOffset] ^= 0x80; }, false);
    mutate("payload byte changed", [&](auto& b) { b[RowOffset(f, CFG_SECTION_VYRUI_DEFAULTS) + 3] ^= 0x40; }, false);
    for (Case& c : cases) {
        if (c.rehash && c.bytes.size() >= 218) Rehash(c.bytes);
        Expect(c.bytes, c.name);
    }
}

TEST_F(CfgCorruption, RandomMutations) {
    std::mt19937 rng(4102);
    for (int i = 0; i < 10000; ++i) {
        std::vector<uint8_t> b = cleanFile;
        const int kind = static_cast<int>(rng() % 8);
        if (kind == 0) {
            b.resize(rng() % b.size());
        } else {
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int k = 0; k < flips; ++k) {
                // Half of the damage lands in the header and the section table.
                const size_t at = (rng() % 2) ? rng() % 218 : rng() % b.size();
                b[at] = static_cast<uint8_t>(b[at] ^ (1u << (rng() % 8)) ^ (kind == 7 ? rng() : 0));
            }
        }
        if (b == cleanFile) continue;
        // With the hash left alone, every change must be caught; with it recomputed, the
        // structure checks stand alone and the result must at least be safe to use.
        const bool rehash = (i % 4) == 3 && b.size() >= 218;
        if (rehash) Rehash(b);
        Expect(b, "mutation " + std::to_string(i), !rehash);
        if (HasFatalFailure() || HasFailure()) break;
    }
}

}  // namespace
