// Driver-package unpacking beside a data file, the folder clean-up and the names made from
// the data file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ZipTestUtil.h"
#include "foundation/StrUtil.h"
#include "uiplugin/Events.h"

using namespace ziptest;

namespace {

// A data file (its content does not matter here) with the package copied beside it as
// "<stem>.TQX"; returns the data file's path.
std::wstring PlaceDriver(const std::wstring& folder, const wchar_t* stem, const wchar_t* package) {
    std::wstring dataFile = folder + stem + L".PPD";
    WriteBytes(dataFile, "*PPD-Adobe: \"4.3\"\n");
    if (package)
        CopyFileW(Package(package).c_str(), (folder + stem + L".TQX").c_str(), FALSE);
    return dataFile;
}

std::wstring Text(wchar_t* owned) {
    WText hold(owned);
    return hold ? std::wstring(hold.get()) : L"<null>";
}

// The debugger output of the unpack, as a debugger would see it (the exceptions that
// OutputDebugString raises).
std::vector<std::string> g_traces;
LONG CALLBACK RecordTrace(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (record->ExceptionCode == 0x40010006 /* DBG_PRINTEXCEPTION_C */ && record->NumberParameters >= 2) {
        g_traces.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]),
                              static_cast<size_t>(record->ExceptionInformation[0]));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

TEST(PackageNames, FromTheDataFile) {
    EXPECT_EQ(Text(GetPackagePath(L"C:\\drivers\\ABC.PPD")), L"C:\\drivers\\ABC.TQX");
    EXPECT_EQ(Text(GetPackageFolder(L"C:\\drivers\\ABC.PPD")), L"C:\\drivers\\ABC\\");
    EXPECT_EQ(Text(GetPackageFolder(L"\\\\srv\\share\\ABC.PPD")), L"\\\\srv\\share\\ABC\\");
    // Without drive and directory there is no place to unpack to.
    EXPECT_EQ(Text(GetPackageFolder(L"ABC.PPD")), L"<null>");
    EXPECT_EQ(Text(GetPackagePath(L"drivers\\ABC.PPD")), L"<null>");
    EXPECT_EQ(Text(GetPackageFolder(nullptr)), L"<null>");
    EXPECT_EQ(Text(GetUserKeyPath(L"C:\\d\\TOLVASAMPLE.PPD")), L"Software\\VYR\\Quillet\\Driver\\TOLVASAM");
    EXPECT_EQ(Text(GetUserKeyPath(L"C:\\d\\AB.PPD")), L"Software\\VYR\\Quillet\\Driver\\AB.PPD");
    EXPECT_EQ(Text(GetUserKeyPath(L"")), L"<null>");
    EXPECT_EQ(Text(GetUserKeyPath(nullptr)), L"<null>");
    EXPECT_EQ(Text(GetMachineKeyPath(L"Tolva PS")), L"Software\\VYR\\PrinterProps\\Tolva PS");
    EXPECT_EQ(Text(GetMachineKeyPath(L"")), L"<null>");
}

TEST(PackageUnpack, SecondPackageReplacesThePlainFiles) {
    std::wstring folder = FreshScratch(L"unpack");
    std::wstring dataFile = PlaceDriver(folder, L"ABC", L"pkg_a.tqx");
    ASSERT_TRUE(UnpackDriverPackage(dataFile.c_str()));
    EXPECT_EQ(ListTree(folder + L"ABC"),
              (std::vector<std::wstring>{L"old.txt", L"readme.txt", L"sub\\", L"sub\\inner.txt"}));
    EXPECT_EQ(Attributes(folder + L"ABC\\old.txt") & 0x37, 0x21u);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(folder + L"ABC\\readme.txt", &bytes));
    EXPECT_EQ(bytes, "first package\n");
    EXPECT_EQ(WriteTime(folder + L"ABC\\readme.txt"), 1500000000ull * 10000000ull + 116444736000000000ull);

    CopyFileW(Package(L"pkg_b.tqx").c_str(), (folder + L"ABC.TQX").c_str(), FALSE);
    ASSERT_TRUE(UnpackDriverPackage(dataFile.c_str()));
    // The read-only file of the first package is gone; its sub-folder stays.
    EXPECT_EQ(ListTree(folder + L"ABC"),
              (std::vector<std::wstring>{L"new.txt", L"readme.txt", L"sub\\", L"sub\\inner.txt"}));
    ASSERT_TRUE(ReadBytes(folder + L"ABC\\readme.txt", &bytes));
    EXPECT_EQ(bytes, "second package\n");
}

TEST(PackageUnpack, MissingOrRelativeUnpacksNothing) {
    std::wstring folder = FreshScratch(L"missing");
    std::wstring dataFile = PlaceDriver(folder, L"NOPKG", nullptr);
    EXPECT_FALSE(UnpackDriverPackage(dataFile.c_str()));
    // The folder is made (empty) before the package is looked for.
    EXPECT_EQ(ListTree(folder), (std::vector<std::wstring>{L"NOPKG.PPD", L"NOPKG\\"}));

    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring relative = FreshScratch(L"relative");
    PlaceDriver(relative, L"REL", L"pkg_a.tqx");
    ASSERT_TRUE(SetCurrentDirectoryW(relative.c_str()));
    BOOL unpacked = UnpackDriverPackage(L"REL.PPD");
    SetCurrentDirectoryW(current);
    EXPECT_FALSE(unpacked);
    EXPECT_EQ(ListTree(relative), (std::vector<std::wstring>{L"REL.PPD", L"REL.TQX"}));
    EXPECT_FALSE(UnpackDriverPackage(nullptr));
}

TEST(PackageUnpack, HostilePackageStaysInItsFolder) {
    std::wstring root = FreshScratch(L"hostile");
    std::wstring drivers = root + L"drivers\\";
    CreateDirectoryW(drivers.c_str(), nullptr);
    ResetSandbox();
    std::wstring dataFile = PlaceDriver(drivers, L"HOSTILE", L"hostile.tqx");
    // Refused names are skipped: the unpack says not everything was extracted.
    EXPECT_FALSE(UnpackDriverPackage(dataFile.c_str()));

    std::wstring sandbox = SandboxPath().substr(3);  // "Z:\" dropped, as the names lose it
    std::vector<std::wstring> expected = {L"drivers\\", L"drivers\\HOSTILE.PPD", L"drivers\\HOSTILE.TQX",
                                          L"drivers\\HOSTILE\\"};
    std::vector<std::wstring> inside = {L"abs\\", L"abs\\x", L"d\\", L"d\\f", L"evil1.dat", L"evil2.dat",
                                        L"evil3.dat", L"srv\\", L"srv\\share\\", L"srv\\share\\x"};
    // The sandbox's absolute path, re-rooted inside the folder, with each of its folders.
    for (size_t at = 0; at <= sandbox.size(); ++at) {
        if (at == sandbox.size() || sandbox[at] == L'\\')
            inside.push_back(sandbox.substr(0, at) + L"\\");
    }
    inside.push_back(sandbox + L"\\evil_c.dat");
    inside.push_back(sandbox + L"\\evil_z.dat");
    for (const std::wstring& entry : inside)
        expected.push_back(L"drivers\\HOSTILE\\" + entry);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListTree(root), expected);
    EXPECT_EQ(ListTree(SandboxPath()), std::vector<std::wstring>{L"canary.txt"});
}

TEST(PackageUnpack, OneHostileNameAmongGoodOnesCostsOnlyItself) {
    std::wstring root = FreshScratch(L"mixed");
    ResetSandbox();
    std::wstring dataFile = PlaceDriver(root, L"MIXED", L"mixed.tqx");
    g_traces.clear();
    void* handler = AddVectoredExceptionHandler(1, &RecordTrace);
    const BOOL all = UnpackDriverPackage(dataFile.c_str());
    RemoveVectoredExceptionHandler(handler);
    EXPECT_FALSE(all) << "two items were refused";
    // One trace line per refused item.
    size_t lines = 0;
    for (const std::string& trace : g_traces) lines += trace.find("package item") != std::string::npos;
    EXPECT_EQ(lines, 2u);
    EXPECT_EQ(ListTree(root), (std::vector<std::wstring>{L"MIXED.PPD", L"MIXED.TQX", L"MIXED\\", L"MIXED\\first.txt",
                                                         L"MIXED\\second.txt", L"MIXED\\sub\\",
                                                         L"MIXED\\sub\\third.txt"}));
    std::string bytes;
    ASSERT_TRUE(ReadBytes(root + L"MIXED\\sub\\third.txt", &bytes));
    EXPECT_EQ(bytes, "mixed 4\n");
    EXPECT_EQ(ListTree(SandboxPath()), std::vector<std::wstring>{L"canary.txt"});
}

TEST(PackageUnpack, NamesWithoutTheUtf8FlagAreCodePage437) {
    std::wstring root = FreshScratch(L"cp437");
    std::wstring dataFile = PlaceDriver(root, L"CP", L"cp437.tqx");
    EXPECT_TRUE(UnpackDriverPackage(dataFile.c_str()));
    // "Pr\x82f\x82r\x82.txt" and "Gr\x94\xe1e\x86/Ma\xe1.txt" as code page 437; the flagged
    // UTF-8 name as UTF-8.
    const std::wstring folder = L"Gr\u00f6\u00dfe\u00e5\\";
    std::vector<std::wstring> expected = {L"Pr\u00e9f\u00e9r\u00e9.txt", folder, folder + L"Ma\u00df.txt",
                                          L"plain.txt", L"\u00e9t\u00e9.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListTree(root + L"CP"), expected);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(root + L"CP\\" + folder + L"Ma\u00df.txt", &bytes));
    EXPECT_EQ(bytes, "in a code page 437 folder\n");
}

TEST(PackageFolder, RemoveDirectoryFiles) {
    std::wstring folder = FreshScratch(L"remove");
    std::wstring target = folder + L"pkg\\";
    CreateDirectoryW(target.c_str(), nullptr);
    WriteBytes(target + L"plain.txt", "x");
    WriteBytes(target + L"ro.txt", "x");
    SetFileAttributesW((target + L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryW((target + L"sub").c_str(), nullptr);
    WriteBytes(target + L"sub\\kept.txt", "x");
    // Files go, read-only ones too; the sub-folder keeps the folder.
    EXPECT_FALSE(RemoveDirectoryFiles(target.c_str()));
    EXPECT_EQ(ListTree(folder), (std::vector<std::wstring>{L"pkg\\", L"pkg\\sub\\", L"pkg\\sub\\kept.txt"}));
    EXPECT_TRUE(RemoveDirectoryFiles((target + L"sub\\").c_str()));
    EXPECT_TRUE(RemoveDirectoryFiles(target.c_str()));
    EXPECT_TRUE(ListTree(folder).empty());

    // A folder longer than 256 characters deletes nothing (a cut pattern would search
    // another folder).
    std::wstring longFolder = folder;
    while (longFolder.size() <= 256) {
        longFolder += std::wstring(40, L'L') + L"\\";
        CreateDirectoryW(longFolder.c_str(), nullptr);
    }
    ASSERT_TRUE(WriteBytes(longFolder + L"f.txt", "x"));
    EXPECT_FALSE(RemoveDirectoryFiles(longFolder.c_str()));
    EXPECT_NE(Attributes(longFolder + L"f.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(RemoveDirectoryFiles(nullptr));
    DeleteTree(folder.substr(0, folder.size() - 1));
}
