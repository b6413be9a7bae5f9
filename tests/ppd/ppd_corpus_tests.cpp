// Real PPDs: every file of the corpus folder (TOLVA_PPD_CORPUS) is parsed from
// its file and from memory, grouped and exported, and structural facts are
// checked for each.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

#include "ppd/PPDSettings.h"
#include "tests/ppd/PPDTestUtil.h"

using namespace PPDParser;
using ppdtest::I16;
using ppdtest::U16;
using ppdtest::U32;

namespace {

std::wstring CorpusFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"TOLVA_PPD_CORPUS", buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

std::wstring_view Trim(std::wstring_view s) {
    size_t a = 0, b = s.size();
    while (a < b && iswspace(s[a])) ++a;
    while (b > a && iswspace(s[b - 1])) --b;
    return s.substr(a, b - a);
}

bool IsUIFeature(const CPPDEntry& e) {
    for (const PPDStatement* s : e.others)
        if (s->Id() == kIdOpenUI) return true;
    return false;
}

// Checks one exported group block against its entries; returns the first problem or "".
std::string CheckGroupBlock(const std::vector<uint8_t>& block, int group, const CPPDSettings& settings,
                            const ppdtest::StringTable& table) {
    const auto& entries = settings.Group(group);
    if (block.size() < 42 + 4 * entries.size()) return "block shorter than its header";
    if (U16(block.data()) != group || U32(block.data() + 2) != 42 || U32(block.data() + 6) != block.size())
        return "header fields";
    const uint32_t items = U32(block.data() + 10);
    uint32_t kinds = 0;
    for (int k = 0; k < 7; ++k) kinds += U32(block.data() + 14 + 4 * k);
    if (kinds != items || items > entries.size()) return "item counts";
    uint32_t expectedOffset = static_cast<uint32_t>(42 + 4 * entries.size());
    size_t entryIndex = 0;
    for (uint32_t i = 0; i < items; ++i) {
        const uint32_t offset = U32(block.data() + 42 + 4 * i);
        if (offset != expectedOffset || offset + 4 > block.size()) return "item offsets";
        const uint8_t* item = block.data() + offset;
        const uint32_t next = i + 1 < items ? U32(block.data() + 42 + 4 * (i + 1)) : static_cast<uint32_t>(block.size());
        const uint32_t written = next - offset;
        const unsigned kind = U16(item);
        const unsigned field = U16(item + 2);
        if (kind == kEntryOptions) {
            if (field != written && field != written + 8) return "option item size";
            const unsigned count = U16(item + 12);
            const bool synthetic = field == written;
            // Find the entry this item came from (entries that wrote nothing are skipped).
            while (entryIndex < entries.size() &&
                   (entries[entryIndex]->kind != kEntryOptions ||
                    table.Id(entries[entryIndex]->keyword.c_str()) != I16(item + 4)))
                ++entryIndex;
            if (entryIndex == entries.size()) return "option item without its entry";
            const CPPDEntry& e = *entries[entryIndex++];
            if (count != e.options.size() + (synthetic ? 1 : 0)) return "option count";
            const int16_t def = I16(item + 10);
            if (e.defaultStatement && IsUIFeature(e)) {
                bool named = false;
                for (const PPDStatement* o : e.options)
                    if (std::wstring_view(o->option) == Trim(e.defaultStatement->value)) named = true;
                bool real = false;
                for (unsigned k = 0; k < e.options.size(); ++k)
                    if (I16(item + 16 + 8 * k) == def) real = true;
                if (named && !real)
                    return "default " + ppdtest::Narrow(e.defaultStatement->value) + " of " +
                           ppdtest::Narrow(e.keyword) + " is not one of its options";
                bool found = real;
                if (synthetic && I16(item + 16 + 8 * (count - 1)) == def) found = true;
                if (!found) return "default missing from the options";
            }
        } else {
            static const unsigned sizes[] = {0, 50, 50, 18, 12, 14};
            if (kind > 5 || field != sizes[kind] || written != field) return "item size of kind " + std::to_string(kind);
        }
        expectedOffset += written;
    }
    if (expectedOffset != block.size()) return "items do not fill the block";
    return "";
}

struct FileResult {
    bool parsed = false;
    std::string problem;
    size_t bytes = 0;
};

FileResult CheckFile(const std::wstring& path) {
    FileResult r;
    const std::string bytes = ppdtest::ReadBytes(path);
    r.bytes = bytes.size();
    CPPDSettings fromFile;
    r.parsed = fromFile.Parse(path.c_str());
    if (!r.parsed && fromFile.Statements().empty()) {
        r.problem = "a failed parse kept no statement";
        return r;
    }
    if (!fromFile.BuildGroups()) {
        r.problem = "BuildGroups failed";
        return r;
    }

    // The same bytes through a memory source give the same statements.
    auto store = std::make_shared<ppdtest::MemStore>();
    (*store)[path] = bytes;
    ppdtest::CMemIOPlugIn plugIn(store, nullptr);
    CPPDSettings fromMemory(&plugIn);
    const bool memoryParsed = fromMemory.Parse(path.c_str());
    if (memoryParsed != r.parsed) {
        r.problem = "file and memory parse results differ";
        return r;
    }
    const auto& a = fromFile.Statements();
    const auto& b = fromMemory.Statements();
    if (a.size() != b.size()) {
        r.problem = "statement counts differ: file " + std::to_string(a.size()) + ", memory " + std::to_string(b.size());
        return r;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i]->keyword != b[i]->keyword || a[i]->option != b[i]->option || a[i]->value != b[i]->value ||
            a[i]->sourceOffset != b[i]->sourceOffset) {
            r.problem = "statement " + std::to_string(i) + " differs between file and memory";
            return r;
        }
        if (a[i]->group < 0 || a[i]->group > 7 || a[i]->valueType < 0 || a[i]->valueType > 7 ||
            a[i]->lineState < 0 || a[i]->lineState > 3 || a[i]->sourceOffset >= bytes.size()) {
            r.problem = "statement " + std::to_string(i) + " has fields out of range";
            return r;
        }
    }

    ppdtest::StringTable table;
    for (int group = 0; group < kGroupCount; ++group) {
        const unsigned need = fromFile.ExportGroup(group, &ppdtest::StringTable::Callback, &table, nullptr, 0);
        std::vector<uint8_t> block(need + 16, 0xCC);
        const unsigned got = fromFile.ExportGroup(group, &ppdtest::StringTable::Callback, &table, block.data(), need);
        for (unsigned i = need; i < block.size(); ++i)
            if (block[i] != 0xCC) {
                r.problem = "group " + std::to_string(group) + " wrote past its size";
                return r;
            }
        if (got > need || got < 42) {
            r.problem = "group " + std::to_string(group) + " export size";
            return r;
        }
        block.resize(got);
        const std::string problem = CheckGroupBlock(block, group, fromFile, table);
        if (!problem.empty()) {
            r.problem = "group " + std::to_string(group) + ": " + problem;
            return r;
        }
    }
    const unsigned need = fromFile.ExportConstraints(&ppdtest::StringTable::Callback, &table, nullptr, 0);
    std::vector<uint8_t> block(need);
    const unsigned got = fromFile.ExportConstraints(&ppdtest::StringTable::Callback, &table, block.data(), need);
    if (got > need || got < 50 || U32(block.data() + 6) != got || U32(block.data() + 10) != 2) {
        r.problem = "constraint block";
        return r;
    }
    for (int slot = 0; slot < 2; ++slot) {
        const uint32_t offset = U32(block.data() + 42 + 4 * slot);
        if (!offset) continue;
        if (offset + 14 > got || U16(block.data() + offset) != (slot ? kIdNonUIConstraints : kIdUIConstraints) ||
            offset + 14 + 8 * U32(block.data() + offset + 2) > got) {
            r.problem = "constraint record";
            return r;
        }
    }
    if (table.texts.size() > 32767) r.problem = "string table overflow";
    return r;
}

}  // namespace

TEST(PPDCorpus, EveryFileParsesGroupsAndExports) {
    const std::wstring folder = CorpusFolder();
    if (folder.empty()) GTEST_SKIP() << "TOLVA_PPD_CORPUS is not set";
    std::vector<std::wstring> files = ppdtest::ListFiles(folder, L"*.ppd");
    for (const auto& f : ppdtest::ListFiles(folder, L"*.PPD"))
        if (std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
    ASSERT_FALSE(files.empty()) << "no PPD in " << ppdtest::Narrow(folder);
    size_t failedParses = 0, total = 0;
    for (const auto& file : files) {
        const FileResult r = CheckFile(file);
        total += r.bytes;
        EXPECT_EQ(r.problem, "") << ppdtest::Narrow(file);
        if (!r.parsed) {
            ++failedParses;
            printf("parse reported failure: %s\n", ppdtest::Narrow(file).c_str());
        }
    }
    printf("%zu files, %zu bytes, %zu parses reported failure\n", files.size(), total, failedParses);
    // A parse fails only on a statement it cannot read (text after a closing
    // quote: 68 of Debian's 6,649 PPDs, none of the 667); the statements before
    // it are kept, and such files stay rare.
    EXPECT_LE(failedParses * 50, files.size());
}
