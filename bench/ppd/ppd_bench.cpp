// Benchmark of the PPD parser: parses, groups and exports every PPD of a folder
// in one process, from the file and from memory, and prints MB/s, where the time
// of each pass goes (parse, group, export, teardown) and the slowest file.
//   ppd_bench FOLDER [ROUNDS]
#include <windows.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "ppd/PPDSettings.h"
#include "tests/ppd/PPDTestUtil.h"

using namespace PPDParser;

namespace {

double Now() { return BenchSeconds(); }

// Interns the export's texts the way a string pool would, without a heap call
// per text: open addressing over one character pool.
class InternTable {
public:
    static int Callback(void* user, const wchar_t* text, int) {
        return text && *text ? static_cast<InternTable*>(user)->Intern(text) : -1;
    }

    // Forgets the texts and keeps the memory, as a long-lived pool would: the figures are
    // the parser's, not those of fresh pages for the pool of every file.
    void Clear() {
        m_slots.clear();
        m_offsets.clear();
        m_hashes.clear();
        m_pool.clear();
    }

private:
    int Intern(const wchar_t* text) {
        const size_t length = wcslen(text);
        uint64_t h = 1469598103934665603ull;
        for (size_t i = 0; i < length; ++i) h = (h ^ static_cast<uint16_t>(text[i])) * 1099511628211ull;
        if (m_slots.empty() || m_offsets.size() * 2 >= m_slots.size()) Grow(m_slots.empty() ? 4096 : m_slots.size() * 2);
        size_t mask = m_slots.size() - 1, i = static_cast<size_t>(h) & mask;
        for (;; i = (i + 1) & mask) {
            const int id = m_slots[i];
            if (id < 0) break;
            const size_t start = m_offsets[static_cast<size_t>(id)];
            const size_t end = static_cast<size_t>(id) + 1 < m_offsets.size() ? m_offsets[static_cast<size_t>(id) + 1]
                                                                              : m_pool.size();
            if (end - start == length && wmemcmp(&m_pool[start], text, length) == 0) return id;
        }
        const int id = static_cast<int>(m_offsets.size());
        m_offsets.push_back(m_pool.size());
        m_pool.insert(m_pool.end(), text, text + length);
        m_hashes.push_back(h);
        m_slots[i] = id;
        return id;
    }
    void Grow(size_t slots) {
        m_slots.assign(slots, -1);
        const size_t mask = m_slots.size() - 1;
        for (size_t id = 0; id < m_hashes.size(); ++id) {
            size_t i = static_cast<size_t>(m_hashes[id]) & mask;
            while (m_slots[i] >= 0) i = (i + 1) & mask;
            m_slots[i] = static_cast<int>(id);
        }
    }
    std::vector<int> m_slots;
    std::vector<size_t> m_offsets;
    std::vector<uint64_t> m_hashes;
    std::vector<wchar_t> m_pool;
};

// Seconds of each phase of a pass.
struct Phases {
    double parse = 0, group = 0, exports = 0, teardown = 0;
};

// Parse, group and export all blocks (or only parse); returns false when the parse failed.
bool Compile(CPPDSettings& settings, const wchar_t* name, CBaseFileIOPlugIn* plugIn, bool parseOnly = false,
             Phases* phases = nullptr) {
    const double t0 = Now();
    const bool ok = settings.Parse(name, plugIn);
    const double t1 = Now();
    if (phases) phases->parse += t1 - t0;
    if (parseOnly) return ok;
    settings.BuildGroups();
    const double t2 = Now();
    if (phases) phases->group += t2 - t1;
    static InternTable table;
    static std::vector<uint8_t> block;
    table.Clear();
    for (int group = 0; group < kGroupCount; ++group) {
        const unsigned need = settings.ExportGroup(group, &InternTable::Callback, &table, nullptr, 0);
        block.resize(need);
        settings.ExportGroup(group, &InternTable::Callback, &table, block.data(), need);
    }
    const unsigned need = settings.ExportConstraints(&InternTable::Callback, &table, nullptr, 0);
    block.resize(need);
    settings.ExportConstraints(&InternTable::Callback, &table, block.data(), need);
    if (phases) phases->exports += Now() - t2;
    return ok;
}

struct Pass {
    double seconds = 0;
    double worst = 0;
    std::wstring worstFile;
    size_t failures = 0;
    Phases phases;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: ppd_bench FOLDER [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 3;
    std::vector<std::wstring> files = ppdtest::ListFiles(argv[1], L"*.ppd");
    if (files.empty()) {
        fprintf(stderr, "no PPD files in %ls\n", argv[1]);
        return 1;
    }
    // Sizes only: holding the whole folder in memory would slow the heap down
    // for everything else. The memory pass loads each file before its timing.
    std::vector<size_t> sizes;
    size_t total = 0, largest = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        sizes.push_back(GetFileAttributesExW(files[i].c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0);
        total += sizes.back();
        if (sizes[i] > sizes[largest]) largest = i;
    }
    auto store = std::make_shared<ppdtest::MemStore>();
    ppdtest::CMemIOPlugIn memory(store, nullptr);

    Pass fromFile, fromMemory, parseOnly;
    for (int r = 0; r < rounds; ++r) {
        for (int mode = 0; mode < 3; ++mode) {
            Pass& pass = mode == 0 ? fromFile : mode == 1 ? fromMemory : parseOnly;
            Pass round;
            for (size_t i = 0; i < files.size(); ++i) {
                if (mode == 1) {
                    store->clear();
                    (*store)[files[i]] = ppdtest::ReadBytes(files[i]);
                }
                const double start = Now();
                double t = 0;
                {
                    CPPDSettings settings(mode == 1 ? &memory : nullptr);
                    if (!Compile(settings, files[i].c_str(), nullptr, mode == 2, &round.phases)) ++round.failures;
                    t = Now() - start;
                }
                // The parsed PPD's teardown is its own phase, outside the per-file figure.
                round.phases.teardown += Now() - start - t;
                round.seconds += t;
                if (t > round.worst) {
                    round.worst = t;
                    round.worstFile = files[i];
                }
            }
            if (r == 0 || round.seconds < pass.seconds) pass = round;  // best round
        }
    }
    // The largest file on its own, best of several runs.
    double largestBest = 1e9;
    for (int r = 0; r < 20; ++r) {
        const double start = Now();
        CPPDSettings settings;
        Compile(settings, files[largest].c_str(), nullptr);
        const double t = Now() - start;
        if (t < largestBest) largestBest = t;
    }

    const double mb = static_cast<double>(total) / 1e6;
    printf("%zu files, %.1f MB, best of %d rounds\n", files.size(), mb, rounds);
    for (int mode = 0; mode < 3; ++mode) {
        const Pass& p = mode == 0 ? fromFile : mode == 1 ? fromMemory : parseOnly;
        printf("%-12s %8.1f MB/s  %7.3f s  worst %.3f ms (%ls)  parse failures %zu\n",
               mode == 0 ? "from file" : mode == 1 ? "from memory" : "parse only", mb / p.seconds, p.seconds, p.worst * 1e3,
               p.worstFile.c_str() + p.worstFile.rfind(L'\\') + 1, p.failures);
    }
    // Where the time goes: the phases of the best round of each pass, ms per file (opening
    // and reading the source count as parse; the object's construction only in the total).
    const double perFile = 1e3 / static_cast<double>(files.size());
    for (int mode = 0; mode < 3; ++mode) {
        const Pass& p = mode == 0 ? fromFile : mode == 1 ? fromMemory : parseOnly;
        printf("%-12s phases: parse %.3f  group %.3f  export %.3f  (teardown %.3f) ms per file\n",
               mode == 0 ? "from file" : mode == 1 ? "from memory" : "parse only", p.phases.parse * perFile,
               p.phases.group * perFile, p.phases.exports * perFile, p.phases.teardown * perFile);
    }
    printf("largest file %ls (%zu bytes): %.3f ms\n", files[largest].c_str() + files[largest].rfind(L'\\') + 1,
           sizes[largest], largestBest * 1e3);
    // The floor of the from-file pass: each file opened, read to its end through the
    // parser's file plug-in into one warm chunk, and closed; nothing parsed.
    double readBest = 1e9;
    char* chunk = CPPDArena::TakeSpareChunk();
    for (int r = 0; r < rounds && chunk; ++r) {
        const double start = Now();
        for (const std::wstring& file : files) {
            CFileIOPlugIn source(file.c_str());
            if (!source.Open(kModeRead)) continue;
            while (source.Read(chunk, CFunctIO::kBufferSize) != 0) {
            }
            source.Close();
        }
        const double t = Now() - start;
        if (t < readBest) readBest = t;
    }
    CPPDArena::GiveSpareChunk(chunk);
    printf("read only    %8.1f MB/s  %.3f ms per file (open, read and close, the from-file floor)\n", mb / readBest,
           readBest * perFile);
    return 0;
}
