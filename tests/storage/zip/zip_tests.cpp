// The ZIP extraction layer over the built packages: listing (names, attributes, times),
// hostile names, damaged and oversized items, files in the way.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ZipTestUtil.h"
#include "storage/ZipArchive.h"

using namespace ziptest;

namespace {

constexpr unsigned long long kUnixEpoch = 116444736000000000ull;

unsigned long long Value(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

unsigned long long UnixTime(long long seconds) { return static_cast<unsigned long long>(seconds) * 10000000ull + kUnixEpoch; }

// Holds an open archive for one test.
class Archive {
public:
    explicit Archive(const wchar_t* package) : m_handle(ZipOpenArchive(Package(package).c_str(), nullptr)) {}
    ~Archive() {
        if (m_handle)
            ZipCloseArchive(m_handle);
    }
    ZipArchiveHandle* Get() const { return m_handle; }
    int Count() const {
        ZipItemInfo info;
        return ZipGetItemInfo(m_handle, -1, &info) == kZipOk ? info.index : -1;
    }

private:
    ZipArchiveHandle* m_handle;
};

// The index of the first item whose safe name is name, -1 when none.
int FindItem(ZipArchiveHandle* archive, const wchar_t* name) {
    ZipItemInfo info;
    ZipGetItemInfo(archive, -1, &info);
    int count = info.index;
    for (int i = 0; i < count; ++i)
        if (ZipGetItemInfo(archive, i, &info) == kZipOk && std::wcscmp(info.name, name) == 0)
            return i;
    return -1;
}

// The extracted file against the CRC-32 and size that make_packages.py recorded for the item.
void ExpectIntact(const char* package, const wchar_t* name, const std::wstring& target) {
    std::string bytes;
    ASSERT_TRUE(ReadBytes(target, &bytes)) << Narrow(target);
    std::string stored = Narrow(name);
    for (char& c : stored)
        if (c == '\\')
            c = '/';
    const ZipExpectedItem* expected = Expected(package, stored.c_str());
    ASSERT_NE(expected, nullptr) << stored;
    EXPECT_EQ(Crc32(bytes), expected->crc) << stored;
    EXPECT_EQ(bytes.size(), expected->size) << stored;
}

}  // namespace

TEST(ZipListing, NamesAttributesAndTimesByHost) {
    Archive archive(L"listing.tqx");
    ASSERT_NE(archive.Get(), nullptr) << "last result 0x" << std::hex << ZipLastResult.load();
    ASSERT_EQ(archive.Count(), 6);

    struct Row {
        const wchar_t* name;
        DWORD attributes;
    };
    const Row rows[] = {{L"dir", 0x30}, {L"dir\\plain.txt", 0x20}, {L"readonly.txt", 0x21},
                        {L"dos.txt", 0x27}, {L"ut.txt", 0x20},      {L"dosonly.txt", 0x20}};
    for (int i = 0; i < 6; ++i) {
        ZipItemInfo info;
        ASSERT_EQ(ZipGetItemInfo(archive.Get(), i, &info), kZipOk) << i;
        EXPECT_EQ(ZipLastResult.load(), kZipOk);
        EXPECT_EQ(info.index, i);
        EXPECT_STREQ(info.name, rows[i].name) << i;
        EXPECT_EQ(info.attributes, rows[i].attributes) << Narrow(rows[i].name);
    }

    // Extended times: all three by the same rule; DOS-only items get the local DOS time as UTC.
    ZipItemInfo ut;
    ASSERT_EQ(ZipGetItemInfo(archive.Get(), 4, &ut), kZipOk);
    EXPECT_EQ(Value(ut.writeTime), 132444736000000000ull);
    EXPECT_EQ(Value(ut.accessTime), UnixTime(1600000100));
    EXPECT_EQ(Value(ut.creationTime), UnixTime(1600000200));
    EXPECT_EQ(ut.uncompressedSize, 600u);
    EXPECT_LT(ut.compressedSize, ut.uncompressedSize);

    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>(kZipDosTime[0]);
    local.wMonth = static_cast<WORD>(kZipDosTime[1]);
    local.wDay = static_cast<WORD>(kZipDosTime[2]);
    local.wHour = static_cast<WORD>(kZipDosTime[3]);
    local.wMinute = static_cast<WORD>(kZipDosTime[4]);
    local.wSecond = static_cast<WORD>(kZipDosTime[5]);
    FILETIME localTime, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime) && LocalFileTimeToFileTime(&localTime, &utc));
    ZipItemInfo dos;
    ASSERT_EQ(ZipGetItemInfo(archive.Get(), 5, &dos), kZipOk);
    EXPECT_EQ(Value(dos.writeTime), Value(utc));
    EXPECT_EQ(Value(dos.accessTime), Value(utc));
    EXPECT_EQ(Value(dos.creationTime), Value(utc));

    // The same index again answers the remembered record.
    ZipItemInfo again;
    ASSERT_EQ(ZipGetItemInfo(archive.Get(), 5, &again), kZipOk);
    EXPECT_EQ(std::memcmp(&again, &dos, sizeof(dos)), 0);
}

TEST(ZipListing, BadHandlesAndIndexes) {
    Archive archive(L"listing.tqx");
    ASSERT_NE(archive.Get(), nullptr);
    ZipItemInfo info;
    EXPECT_EQ(ZipGetItemInfo(nullptr, 0, &info), kZipErrArgument);
    EXPECT_EQ(ZipLastResult.load(), kZipErrArgument);
    EXPECT_EQ(ZipGetItemInfo(archive.Get(), -2, &info), kZipErrArgument);
    EXPECT_EQ(ZipGetItemInfo(archive.Get(), 6, &info), kZipErrArgument);
    EXPECT_EQ(ZipExtractItem(archive.Get(), -1, L"x"), kZipErrArgument);
    EXPECT_EQ(ZipExtractItem(archive.Get(), 0, nullptr), kZipErrArgument);
    EXPECT_EQ(ZipCloseArchive(nullptr), kZipErrArgument);

    ZipArchiveHandle wrongKind = {2, archive.Get()->reader};
    EXPECT_EQ(ZipGetItemInfo(&wrongKind, 0, &info), kZipErrKind);
    EXPECT_EQ(ZipExtractItem(&wrongKind, 0, L"x"), kZipErrKind);
    EXPECT_EQ(ZipCloseArchive(&wrongKind), kZipErrKind);
    EXPECT_EQ(ZipLastResult.load(), kZipErrKind);

    EXPECT_EQ(ZipOpenArchive(Package(L"missing.tqx").c_str(), nullptr), nullptr);
    EXPECT_EQ(ZipLastResult.load(), kZipErrOpen);
    EXPECT_EQ(ZipOpenArchive(Package(L"ZipExpected.h").c_str(), nullptr), nullptr);
    EXPECT_EQ(ZipLastResult.load(), kZipErrOpen);
}

TEST(ZipExtract, ListingRestoresBytesAttributesAndTimes) {
    std::wstring folder = FreshScratch(L"listing");
    Archive archive(L"listing.tqx");
    ASSERT_NE(archive.Get(), nullptr);
    for (int i = 0; i < 6; ++i) {
        ZipItemInfo info;
        ASSERT_EQ(ZipGetItemInfo(archive.Get(), i, &info), kZipOk);
        std::wstring target = folder + info.name;
        EXPECT_EQ(ZipExtractItem(archive.Get(), i, target.c_str()), kZipOk) << Narrow(target);
        DWORD attributes = Attributes(target);
        if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Folders are made; their attributes are not restored.
            EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
            continue;
        }
        EXPECT_EQ(attributes & 0x37, info.attributes & 0x37) << Narrow(target);
        ExpectIntact("listing.tqx", info.name, target);
        EXPECT_EQ(WriteTime(target), Value(info.writeTime)) << Narrow(target);
    }
}

TEST(ZipNames, HostileNamesAreMadeSafeOrRefused) {
    struct Row {
        int index;
        const wchar_t* name;  // null: refused with 0x700
    };
    std::wstring sandbox = SandboxPath().substr(3);  // without "Z:\"
    std::wstring throughC = sandbox + L"\\evil_c.dat";
    std::wstring throughZ = sandbox + L"\\evil_z.dat";
    std::wstring long259;
    for (int i = 0; i < 5; ++i)
        long259 += std::wstring(49, L'n') + L"\\";
    long259 += std::wstring(9, L'm');
    const Row rows[] = {
        {0, L"evil1.dat"}, {1, L"evil2.dat"}, {2, L"evil3.dat"}, {3, L"d\\f"}, {4, L"abs\\x"},
        {5, L"srv\\share\\x"}, {6, throughC.c_str()}, {7, throughZ.c_str()}, {8, long259.c_str()},
        {9, nullptr},  // a/..
        {10, nullptr}, // ...\x
        {11, nullptr}, // ".. \x"
        {12, nullptr}, // x.
        {13, nullptr}, // CON
        {14, nullptr}, // a:b
        {15, nullptr}, // 260 bytes
        {16, nullptr}, // 300 bytes
        {17, nullptr}, // flagged UTF-8, not UTF-8
        {18, nullptr}, // NUL inside
    };
    std::wstring folder = FreshScratch(L"names");
    ResetSandbox();
    Archive archive(L"hostile.tqx");
    ASSERT_NE(archive.Get(), nullptr);
    ASSERT_EQ(archive.Count(), 19);
    for (const Row& row : rows) {
        ZipItemInfo info;
        DWORD code = ZipGetItemInfo(archive.Get(), row.index, &info);
        if (row.name) {
            EXPECT_EQ(code, kZipOk) << row.index;
            EXPECT_STREQ(info.name, row.name) << row.index;
        } else {
            EXPECT_EQ(code, kZipErrCorrupt) << row.index;
            EXPECT_EQ(info.name[0], L'\0') << row.index;
            // Extraction under any target refuses it too, and leaves nothing.
            EXPECT_EQ(ZipExtractItem(archive.Get(), row.index, (folder + L"item").c_str()), kZipErrCorrupt);
            EXPECT_TRUE(ListTree(folder).empty()) << row.index;
        }
    }
    EXPECT_EQ(ListTree(SandboxPath()), std::vector<std::wstring>{L"canary.txt"});
}

TEST(ZipNames, SanitiseTable) {
    struct Row {
        const char* stored;
        const wchar_t* name;  // null: 0x700
    };
    const Row rows[] = {
        {"a/b/c.txt", L"a\\b\\c.txt"}, {"./a//b/./c", L"a\\b\\c"},   {"a/../b/../c", L"c"},
        {"C:/x", L"x"},                 {"C:\\..\\..\\x", L"x"},      {"dir/", L"dir"},
        {"con.txt", nullptr},           {"Com1", nullptr},            {"lpt9.log", nullptr},
        {"a/nul/b", nullptr},           {"ok/tab\there", nullptr},    {"a/b?", nullptr},
        {"a/b ", nullptr},              {"..", nullptr},              {"/", nullptr},
        {"C:", nullptr},                {"x/C:/y", nullptr},          {"conx.txt", L"conx.txt"},
        {"\xc3\xa9t\xc3\xa9.txt", L"\u00e9t\u00e9.txt"},              {"\xc3(", nullptr},
    };
    for (const Row& row : rows) {
        wchar_t name[kZipNameChars];
        DWORD code = ZipSanitiseName(row.stored, std::strlen(row.stored), name);
        if (row.name) {
            EXPECT_EQ(code, kZipOk) << row.stored;
            EXPECT_STREQ(name, row.name) << row.stored;
        } else {
            EXPECT_EQ(code, kZipErrCorrupt) << row.stored;
        }
    }
}

TEST(ZipNames, WithoutTheUtf8FlagBytesThatAreNotUtf8AreCodePage437) {
    struct Row {
        const char* stored;
        bool flag;            // the item's UTF-8 flag
        const wchar_t* name;  // null: 0x700
    };
    const Row rows[] = {
        {"\x82t\x82.txt", false, L"\u00e9t\u00e9.txt"},
        {"\x82t\x82.txt", true, nullptr},
        // What decodes as UTF-8 stays UTF-8 with or without the flag.
        {"\xc3\xa9t\xc3\xa9.txt", false, L"\u00e9t\u00e9.txt"},
        {"\xc3(", false, L"\u251c("},
        {"Gr\x94\xe1" "e/../Ma\xe1.txt", false, L"Ma\u00df.txt"},
        // Decoded names meet the same checks: devices, controls, trailing dots.
        {"CON", false, nullptr},
        {"\x82\x01.txt", false, nullptr},
        {"x\x82.", false, nullptr},
        {"\x82/../d", false, L"d"},
    };
    for (const Row& row : rows) {
        wchar_t name[kZipNameChars];
        DWORD code = ZipSanitiseName(row.stored, std::strlen(row.stored), name, row.flag);
        if (row.name) {
            EXPECT_EQ(code, kZipOk) << row.stored;
            EXPECT_STREQ(name, row.name) << row.stored;
        } else {
            EXPECT_EQ(code, kZipErrCorrupt) << row.stored;
        }
    }
}

TEST(ZipNames, ExtendedTimeScanStaysInsideItsBlock) {
    ZipItemInfo info = {};
    // The block claims three times but holds one; the field claims more than it has.
    const unsigned char shortBlock[] = {0x55, 0x54, 5, 0, 7, 0x00, 0x10, 0x5E, 0x5F, 0xAA, 0xBB, 0xCC, 0xDD};
    ZipApplyExtendedTimes(shortBlock, sizeof(shortBlock), &info);
    EXPECT_EQ(Value(info.writeTime), UnixTime(0x5F5E1000));
    EXPECT_EQ(Value(info.accessTime), 0u);
    ZipItemInfo none = {};
    const unsigned char cut[] = {0x55, 0x54, 9, 0, 1, 0x00, 0x10, 0x5E, 0x5F};
    ZipApplyExtendedTimes(cut, sizeof(cut), &none);
    EXPECT_EQ(Value(none.writeTime), 0u);
    // Another block first is skipped by its size.
    const unsigned char skipped[] = {0x01, 0x00, 2, 0, 0xFF, 0xFF, 0x55, 0x54, 5, 0, 1, 0x00, 0x10, 0x5E, 0x5F};
    ZipApplyExtendedTimes(skipped, sizeof(skipped), &none);
    EXPECT_EQ(Value(none.writeTime), UnixTime(0x5F5E1000));
}

TEST(ZipExtract, DamagedItemsFailCleanlyAndTheNextOneWorks) {
    struct Row {
        const wchar_t* name;
        DWORD code;
    };
    const Row rows[] = {
        {L"bzip2.bin", kZipErrRead},    {L"after_bzip2.txt", kZipOk}, {L"lzma.bin", kZipErrRead},
        {L"badcrc.txt", kZipErrRead},   {L"short.txt", kZipErrRead},  {L"long.txt", kZipErrInflate},
        {L"encrypted.txt", kZipErrPassword}, {L"after.txt", kZipOk},   {L"sub\\deeper\\nested.txt", kZipOk},
    };
    std::wstring folder = FreshScratch(L"content");
    Archive archive(L"content.tqx");
    ASSERT_NE(archive.Get(), nullptr);
    ASSERT_EQ(archive.Count(), 9);
    for (int i = 0; i < 9; ++i) {
        ZipItemInfo info;
        ASSERT_EQ(ZipGetItemInfo(archive.Get(), i, &info), kZipOk) << i;
        ASSERT_STREQ(info.name, rows[i].name);
        std::wstring target = folder + info.name;
        EXPECT_EQ(ZipExtractItem(archive.Get(), i, target.c_str()), rows[i].code) << Narrow(info.name);
        EXPECT_EQ(ZipLastResult.load(), rows[i].code);
        if (rows[i].code != kZipOk) {
            EXPECT_EQ(Attributes(target), INVALID_FILE_ATTRIBUTES) << "left behind: " << Narrow(info.name);
            continue;
        }
        ExpectIntact("content.tqx", info.name, target);
    }
}

TEST(ZipExtract, SizeLimits) {
    std::wstring folder = FreshScratch(L"limits");
    {
        // 300 MiB of zeros is refused before a byte is written.
        Archive bomb(L"bomb.tqx");
        ASSERT_NE(bomb.Get(), nullptr);
        std::wstring target = folder + L"zeros.bin";
        EXPECT_EQ(ZipExtractItem(bomb.Get(), 0, target.c_str()), kZipErrWrite);
        EXPECT_EQ(Attributes(target), INVALID_FILE_ATTRIBUTES);
    }
    Archive parts(L"limit.tqx");
    ASSERT_NE(parts.Get(), nullptr);
    ASSERT_EQ(ZipSetSizeLimit(parts.Get(), 1024 * 1024), kZipOk);
    EXPECT_EQ(ZipSetSizeLimit(nullptr, 1), kZipErrArgument);
    const DWORD codes[] = {kZipOk, kZipOk, kZipErrWrite};
    for (int i = 0; i < 3; ++i) {
        std::wstring target = folder + L"part" + std::to_wstring(i) + L".bin";
        EXPECT_EQ(ZipExtractItem(parts.Get(), i, target.c_str()), codes[i]) << i;
        EXPECT_EQ(Attributes(target) != INVALID_FILE_ATTRIBUTES, codes[i] == kZipOk) << i;
    }
}

TEST(ZipExtract, FilesInTheWay) {
    std::wstring folder = FreshScratch(L"inway");
    Archive archive(L"content.tqx");
    ASSERT_NE(archive.Get(), nullptr);
    int after = FindItem(archive.Get(), L"after.txt");
    int bzip = FindItem(archive.Get(), L"after_bzip2.txt");
    ASSERT_GE(after, 0);
    ASSERT_GE(bzip, 0);
    const ZipExpectedItem* expected = Expected("content.tqx", "after.txt");
    ASSERT_NE(expected, nullptr);

    // Read-only, and hidden with system: replaced all the same.
    const DWORD kinds[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
    for (DWORD kind : kinds) {
        std::wstring target = folder + L"way" + std::to_wstring(kind) + L".txt";
        ASSERT_TRUE(WriteBytes(target, "old content"));
        ASSERT_TRUE(SetFileAttributesW(target.c_str(), kind));
        EXPECT_EQ(ZipExtractItem(archive.Get(), after, target.c_str()), kZipOk) << kind;
        std::string bytes;
        ASSERT_TRUE(ReadBytes(target, &bytes));
        EXPECT_EQ(Crc32(bytes), expected->crc) << kind;
        EXPECT_EQ(Attributes(target) & 0x37, FILE_ATTRIBUTE_ARCHIVE) << kind;
    }

    // A target held open by someone else: refused; the next item still comes out.
    std::wstring held = folder + L"held.txt";
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ZipExtractItem(archive.Get(), after, held.c_str()), kZipErrOpen);
    CloseHandle(holder);
    std::wstring next = folder + L"next.txt";
    EXPECT_EQ(ZipExtractItem(archive.Get(), bzip, next.c_str()), kZipOk);
    EXPECT_NE(Attributes(next), INVALID_FILE_ATTRIBUTES);

    // A path over 260 characters is refused, never cut.
    std::wstring deep = folder + std::wstring(120, L'd') + L"\\" + std::wstring(120, L'e') + L"\\f.txt";
    ASSERT_GT(deep.size(), 260u);
    EXPECT_EQ(ZipExtractItem(archive.Get(), after, deep.c_str()), kZipErrOpen);
    // A relative target lands below the current directory as it was at opening.
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    Archive relative(L"content.tqx");
    SetCurrentDirectoryW(current);
    ASSERT_NE(relative.Get(), nullptr);
    EXPECT_EQ(ZipExtractItem(relative.Get(), after, L"rel\\after.txt"), kZipOk);
    EXPECT_NE(Attributes(folder + L"rel\\after.txt"), INVALID_FILE_ATTRIBUTES);
    // A target that the system would resolve elsewhere is refused.
    EXPECT_EQ(ZipExtractItem(relative.Get(), after, (folder + L"x\\..\\y.txt").c_str()), kZipErrCorrupt);
    EXPECT_EQ(ZipExtractItem(relative.Get(), after, (folder + L"con.txt").c_str()), kZipErrCorrupt);
    EXPECT_EQ(ListTree(folder), (std::vector<std::wstring>{L"held.txt", L"next.txt", L"rel\\", L"rel\\after.txt",
                                                           L"way1.txt", L"way6.txt"}));
}
