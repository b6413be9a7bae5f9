// Mutants of three seed packages (bit flips, header-field edits, hostile names, cuts) through
// the driver-package unpacking. Whatever the mutant: no crash or hang, nothing written outside
// the package folder, no more than the size limit, and every file left is an item whose bytes
// match its CRC-32 (a failed item leaves no file). The run's seed is printed; a failing mutant
// is kept in scratch\fuzz-failures. TOLVA_FUZZ_COUNT (450 by default: file creation under Wine
// costs milliseconds) and TOLVA_FUZZ_SEED change the run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ZipTestUtil.h"
#include "storage/ZipArchive.h"
#include "uiplugin/Events.h"

extern "C" {
#include "unzip.h"
// after unzip.h, which brings the zlib declarations it needs
#include "iowin32.h"
}

using namespace ziptest;

namespace {

struct Item {
    std::wstring name;
    unsigned long crc;
    unsigned long long size;
};

// The items of an archive as minizip lists them, under their safe names.
std::vector<Item> ItemsOf(const std::wstring& path) {
    std::vector<Item> items;
    zlib_filefunc64_def files;
    fill_win32_filefunc64W(&files);
    unzFile archive = unzOpen2_64(path.c_str(), &files);
    if (!archive)
        return items;
    for (int status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
        unz_file_info64 info;
        char name[kZipNameChars + 1] = {};
        if (unzGetCurrentFileInfo64(archive, &info, name, kZipNameChars, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        wchar_t safe[kZipNameChars];
        if (info.size_filename < kZipNameChars && ZipSanitiseName(name, info.size_filename, safe, (info.flag & kZipFlagUtf8) != 0) == kZipOk)
            items.push_back({safe, info.crc, info.uncompressed_size});
    }
    unzClose(archive);
    return items;
}

const char* const kHostileNames[] = {"../", "..\\", "C:/", "/", "\\\\", "Z:/", "a/../../", ".", "CON", "x:"};

class Mutator {
public:
    explicit Mutator(unsigned long long seed) : m_random(seed) {}

    std::string Mutate(const std::string& seed) {
        std::string bytes = seed;
        int edits = 1 + static_cast<int>(Below(4));
        for (int i = 0; i < edits && !bytes.empty(); ++i) {
            switch (Below(5)) {
            case 0:  // bit flips
                for (int n = 1 + static_cast<int>(Below(8)); n > 0; --n)
                    bytes[Below(bytes.size())] ^= static_cast<char>(1u << Below(8));
                break;
            case 1:
            case 2:
                EditHeaderField(&bytes);
                break;
            case 3:
                HostileName(&bytes);
                break;
            default:  // cut short or grown
                if (Below(2))
                    bytes.resize(Below(bytes.size()));
                else
                    bytes.append(Below(64), static_cast<char>(Below(256)));
                break;
            }
        }
        return bytes;
    }

private:
    size_t Below(size_t bound) { return bound ? static_cast<size_t>(m_random() % bound) : 0; }

    std::vector<size_t> Find(const std::string& bytes, const char* signature) {
        std::vector<size_t> at;
        for (size_t p = bytes.find(signature, 0, 4); p != std::string::npos; p = bytes.find(signature, p + 1, 4))
            at.push_back(p);
        return at;
    }

    void EditHeaderField(std::string* bytes) {
        static const char* const kSignatures[] = {"PK\x03\x04", "PK\x01\x02", "PK\x05\x06"};
        // Offsets of the 16- and 32-bit fields of the local, central and end records.
        static const std::vector<std::pair<int, int>> kFields[] = {
            {{4, 2}, {6, 2}, {8, 2}, {10, 2}, {12, 2}, {14, 4}, {18, 4}, {22, 4}, {26, 2}, {28, 2}},
            {{4, 2}, {6, 2}, {8, 2}, {10, 2}, {16, 4}, {20, 4}, {24, 4}, {28, 2}, {30, 2}, {32, 2}, {38, 4}, {42, 4}},
            {{8, 2}, {10, 2}, {12, 4}, {16, 4}, {20, 2}}};
        int kind = static_cast<int>(Below(3));
        std::vector<size_t> at = Find(*bytes, kSignatures[kind]);
        if (at.empty())
            return;
        size_t record = at[Below(at.size())];
        const auto& field = kFields[kind][Below(kFields[kind].size())];
        size_t offset = record + static_cast<size_t>(field.first);
        if (offset + static_cast<size_t>(field.second) > bytes->size())
            return;
        unsigned long long old = 0;
        for (int b = field.second - 1; b >= 0; --b)
            old = (old << 8) | static_cast<unsigned char>((*bytes)[offset + b]);
        const unsigned long long values[] = {0, 1, 0xFFFF, 0xFFFFFFFF, old + 1, old - 1, old * 2, m_random(), 8, 12,
                                             14, 99};
        unsigned long long value = values[Below(sizeof(values) / sizeof(values[0]))];
        for (int b = 0; b < field.second; ++b)
            (*bytes)[offset + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
    }

    // Overwrites the start of one item's name, in both headers, with a hostile prefix.
    void HostileName(std::string* bytes) {
        std::vector<size_t> central = Find(*bytes, "PK\x01\x02");
        if (central.empty())
            return;
        size_t record = central[Below(central.size())];
        if (record + 46 > bytes->size())
            return;
        size_t length = static_cast<unsigned char>((*bytes)[record + 28]) |
                        (static_cast<size_t>(static_cast<unsigned char>((*bytes)[record + 29])) << 8);
        if (length == 0 || record + 46 + length > bytes->size())
            return;
        std::string name = bytes->substr(record + 46, length);
        const char* prefix = kHostileNames[Below(sizeof(kHostileNames) / sizeof(kHostileNames[0]))];
        std::string changed = name;
        for (size_t i = 0; prefix[i] && i < changed.size(); ++i)
            changed[i] = prefix[i];
        bytes->replace(record + 46, length, changed);
        size_t local = bytes->find(name);
        if (local != std::string::npos && local < record)
            bytes->replace(local, length, changed);
    }

    std::mt19937_64 m_random;
};

unsigned long long EnvNumber(const char* name, unsigned long long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 0) : fallback;
}

}  // namespace

TEST(ZipFuzz, MutantsStayInsideTheirFolder) {
    const unsigned long long count = EnvNumber("TOLVA_FUZZ_COUNT", 450);
    const unsigned long long seed = EnvNumber("TOLVA_FUZZ_SEED", GetTickCount64() ^ (GetCurrentProcessId() << 16));
    std::printf("fuzz seed %llu, %llu mutants (TOLVA_FUZZ_SEED=%llu repeats this run)\n", seed, count, seed);
    std::fflush(stdout);

    const wchar_t* const kSeeds[] = {L"listing.tqx", L"pkg_a.tqx", L"hostile.tqx"};
    std::vector<std::string> seeds;
    for (const wchar_t* name : kSeeds) {
        std::string bytes;
        ASSERT_TRUE(ReadBytes(Package(name), &bytes)) << Narrow(name);
        seeds.push_back(bytes);
    }
    std::wstring root = FreshScratch(L"fuzz");
    std::wstring failures = FreshScratch(L"fuzz-failures");
    std::wstring dataFile = root + L"F.PPD";
    std::wstring package = root + L"F.TQX";
    std::wstring folder = root + L"F";
    ASSERT_TRUE(WriteBytes(dataFile, "*PPD-Adobe: \"4.3\"\n"));
    ResetSandbox();

    Mutator mutator(seed);
    int failed = 0;
    double unpackSeconds[3] = {}, checkSeconds[3] = {};
    LARGE_INTEGER frequency, t0, t1, t2;
    QueryPerformanceFrequency(&frequency);
    for (unsigned long long n = 0; n < count && failed < 5; ++n) {
        std::string mutant = mutator.Mutate(seeds[n % seeds.size()]);
        QueryPerformanceCounter(&t0);
        ASSERT_TRUE(WriteBytes(package, mutant));
        DeleteTree(folder);
        UnpackDriverPackage(dataFile.c_str());
        QueryPerformanceCounter(&t1);

        std::string problem;
        unsigned long long total = 0;
        std::vector<Item> items;
        bool listed = false;
        // File names compare without regard to case, as the file system does.
        for (const std::wstring& entry : ListTree(root)) {
            if (entry == L"F.PPD" || entry == L"F.TQX" || entry == L"F\\")
                continue;
            if (entry.compare(0, 2, L"F\\") != 0) {
                problem = "written outside the folder: " + Narrow(entry);
                break;
            }
            if (entry.back() == L'\\')
                continue;
            std::string bytes;
            if (!ReadBytes(root + entry, &bytes)) {
                problem = "unreadable: " + Narrow(entry);
                break;
            }
            total += bytes.size();
            if (!listed) {
                items = ItemsOf(package);
                listed = true;
            }
            bool matches = false;
            for (const Item& item : items)
                matches = matches || (_wcsicmp(item.name.c_str(), entry.c_str() + 2) == 0 &&
                                      item.size == bytes.size() && item.crc == Crc32(bytes));
            if (!matches) {
                problem = "a file that is no intact item: " + Narrow(entry);
                break;
            }
        }
        if (problem.empty() && total > kZipDefaultSizeLimit)
            problem = "more than the size limit";
        if (problem.empty() && ListTree(SandboxPath()) != std::vector<std::wstring>{L"canary.txt"})
            problem = "the sandbox changed";
        QueryPerformanceCounter(&t2);
        unpackSeconds[n % 3] += static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart);
        checkSeconds[n % 3] += static_cast<double>(t2.QuadPart - t1.QuadPart) / static_cast<double>(frequency.QuadPart);
        if (!problem.empty()) {
            ++failed;
            std::wstring kept = failures + L"mutant-" + std::to_wstring(seed) + L"-" + std::to_wstring(n) + L".tqx";
            WriteBytes(kept, mutant);
            ADD_FAILURE() << "mutant " << n << " of seed " << seed << ": " << problem << " (kept as " << Narrow(kept)
                          << ")";
            ResetSandbox();
        }
    }
    DeleteTree(folder);
    for (int i = 0; i < 3; ++i)
        std::printf("seed %s: unpacking %.2f s, checking %.2f s\n", Narrow(kSeeds[i]).c_str(), unpackSeconds[i],
                    checkSeconds[i]);
}
