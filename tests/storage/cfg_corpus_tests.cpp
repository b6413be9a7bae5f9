// Every PPD of the shared corpus compiles into a cache file and reloads from it with the
// same sections and the same default settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/CfgSettings.h"
#include "tests/storage/CfgTestUtil.h"

using namespace cfgtest;

namespace {

std::wstring CorpusFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"TOLVA_PPD_CORPUS", buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

TEST(CfgCorpus, EveryPPDCompilesAndReloads) {
    const std::wstring corpus = CorpusFolder();
    ASSERT_FALSE(corpus.empty()) << "TOLVA_PPD_CORPUS is not set";
    const std::wstring dir = ScratchDir(L"corpus");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((corpus + L"\\*.ppd").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    int count = 0;
    do {
        const std::wstring name = data.cFileName;
        const std::wstring ppd = dir + L"\\" + name;
        ASSERT_TRUE(CopyInto(corpus + L"\\" + name, ppd)) << Narrow(name);
        std::vector<uint8_t> sections, defaults;
        {
            Direct first(ppd);
            ASSERT_NE(nullptr, first->GetDefaultSettings()) << Narrow(name) << ": does not compile";
            EXPECT_FALSE(first->LoadedFromCache()) << Narrow(name);
            sections = SectionsImage(first.settings.get());
            defaults = DefaultsImage(first.settings.get());
            EXPECT_NE(nullptr, first->GetConstraints(true)) << Narrow(name);
        }
        Direct second(ppd);
        EXPECT_NE(nullptr, second->GetSection(0)) << Narrow(name);
        EXPECT_TRUE(second->LoadedFromCache()) << Narrow(name) << ": cache not taken";
        EXPECT_EQ(sections, SectionsImage(second.settings.get())) << Narrow(name);
        EXPECT_EQ(defaults, DefaultsImage(second.settings.get())) << Narrow(name);
        EXPECT_NE(nullptr, second->GetConstraints(true)) << Narrow(name);
        DeleteFileW(ppd.c_str());
        DeleteFileW(Sibling(ppd, L".PBJ").c_str());
        ++count;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    EXPECT_GE(count, 600);
    printf("%d PPDs compiled and reloaded\n", count);
}

}  // namespace
