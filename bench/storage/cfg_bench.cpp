// Benchmark of the compiled settings: compile (parse + export + write) and reload of every
// PPD of a folder, the largest PPD's load in a fresh process, acquire/release through the
// process-wide manager, and OEMDM_CONVERT. Prints figures; judges nothing.
//
//   cfg_bench.exe <folder of PPDs> [scratch folder] [PPD with a language module]
//   cfg_bench.exe --load <ppd>      (child: times one load from the cache and prints it)
//   cfg_bench.exe --floor <ppd>     (child: times fresh pages and the raw read of the cache)
//   cfg_bench.exe --loads <scratch folder of an earlier run> [rounds]   (loads only, phase split)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "ppd/PPDSettings.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/Devmode.h"

namespace {

double Now() { return BenchSeconds(); }

std::wstring CachePath(const std::wstring& ppd) {
    const size_t dot = ppd.find_last_of(L'.');
    return (dot == std::wstring::npos ? ppd : ppd.substr(0, dot)) + L".PBJ";
}

struct Own {
    explicit Own(const std::wstring& ppd)
        : cache(CachePath(ppd).c_str()), settings(ppd.c_str(), &source, &cache, nullptr, nullptr) {}
    PPDParser::CFileIOPlugIn source;
    PPDParser::CFileIOPlugIn cache;
    CfgSettings settings;
};

// Child: one load of a current cache, timed from the object's birth; then a second load in
// the same process once the first object is gone (what a later job of a process pays).
int LoadOnce(const std::wstring& ppd) {
    double t0, t1, ts, t2;
    uint32_t payload;
    bool fromCache, defaults;
    {
        t0 = Now();
        Own own(ppd);
        payload = own.settings.GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS);
        t1 = Now();
        own.settings.GetStringSoup();
        ts = Now();
        defaults = own.settings.GetDefaultSettings() != nullptr;
        t2 = Now();
        fromCache = own.settings.LoadedFromCache();
    }
    const double t3 = Now();
    Own again(ppd);
    again.settings.GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS);
    const double t4 = Now();
    std::printf("%.6f %.6f %.6f %.6f %u %d %d\n", (t1 - t0) * 1e3, (t2 - t0) * 1e3, (t4 - t3) * 1e3, (ts - t1) * 1e3,
                payload, fromCache ? 1 : 0, defaults ? 1 : 0);
    return 0;
}

// Opens, reads to its end and closes a file into buffer (grown as needed); seconds taken,
// or a negative figure when the file cannot be read. What every load pays before it checks
// a byte: the floor of a load's figure on this system.
double ReadWhole(const std::wstring& path, std::vector<uint8_t>& buffer) {
    const double t0 = Now();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    const DWORD size = GetFileSize(file, nullptr);
    if (buffer.size() < size) buffer.resize(size);
    DWORD got = 0;
    const BOOL ok = ReadFile(file, buffer.data(), size, &got, nullptr);
    CloseHandle(file);
    return ok && got == size ? Now() - t0 : -1;
}

// Child: the floor of a fresh process's load of a cache: the first touch of as many fresh
// pages as the cache's private copy needs, and the file's open, read and close into memory
// already touched.
int FloorOnce(const std::wstring& ppd) {
    // The first read learns the size and leaves its buffer touched for the timed one.
    std::vector<uint8_t> buffer;
    if (ReadWhole(CachePath(ppd), buffer) < 0) return 1;
    const size_t size = buffer.size();
    const double t0 = Now();
    uint8_t* fresh = static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!fresh) return 1;
    for (size_t i = 0; i < size; i += 4096) fresh[i] = 1;
    const double t1 = Now();
    VirtualFree(fresh, 0, MEM_RELEASE);
    const double io = ReadWhole(CachePath(ppd), buffer);
    std::printf("%.6f %.6f %zu\n", (t1 - t0) * 1e3, io * 1e3, (size + 4095) / 4096);
    return 0;
}

// Runs this program as a child (for one load, or with another mode); returns its output line.
std::string RunChild(const std::wstring& ppd, const wchar_t* mode = L"--load") {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + mode + L" \"" + ppd + L"\"";
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return std::string();
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    std::string out;
    if (started) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got) out.append(buffer, got);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(readEnd);
    return out;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Child: the parts of one load, each timed.
int ProfileOnce(const std::wstring& ppd) {
    const double t0 = Now();
    std::vector<uint8_t> bytes;
    if (ReadWhole(CachePath(ppd), bytes) < 0) return 1;
    const double t1 = Now();
    const uint64_t hash = ComputeCfgFileHash(bytes.data(), static_cast<uint32_t>(bytes.size()));
    const double t2 = Now();
    auto row = [&](int i, int field) {
        const uint8_t* p = bytes.data() + 42 + 12 * i + 4 * field;
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    };
    CStrSoup soup;
    soup.Deserialize(bytes.data() + row(10, 1), row(10, 2));
    const double t3 = Now();
    bool ok = true;
    for (int i = 0; i < 7; ++i) ok = ValidateKeySection(bytes.data() + row(i, 1), row(i, 2), soup.GetCount()) && ok;
    const double t4 = Now();
    std::printf("file %zu bytes, soup %u bytes %u strings: read %.3f ms, hash %.3f ms (%llx), soup %.3f ms, "
                "key sections %.3f ms (%d)\n",
                bytes.size(), row(10, 2), soup.GetCount(), (t1 - t0) * 1e3, (t2 - t1) * 1e3,
                static_cast<unsigned long long>(hash & 0xFF), (t3 - t2) * 1e3, (t4 - t3) * 1e3, ok ? 1 : 0);
    return 0;
}

// Loads every PPD of a folder whose caches are current (a scratch folder of an earlier run),
// rounds times, and prints the phase split of the loads.
// Seconds of the phases of loads: sections (read and checked), string soup, default
// settings and key forest built from them; and how many loads came from a cache.
struct LoadPhases {
    double sections = 0, soup = 0, defaults = 0;
    int fromCache = 0;
};

void TimeLoad(const std::wstring& ppd, LoadPhases& phases) {
    const double t0 = Now();
    Own own(ppd);
    own.settings.GetSectionSize(CFG_SECTION_GENERAL_KEYS);
    const double t1 = Now();
    own.settings.GetStringSoup();
    const double t2 = Now();
    own.settings.GetDefaultSettings();
    const double t3 = Now();
    phases.sections += t1 - t0;
    phases.soup += t2 - t1;
    phases.defaults += t3 - t2;
    phases.fromCache += own.settings.LoadedFromCache() ? 1 : 0;
}

int LoadFolder(const std::wstring& folder, int rounds) {
    std::vector<std::wstring> ppds;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*.ppd").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 1;
    do ppds.push_back(folder + L"\\" + data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    LoadPhases phases;
    for (int r = 0; r < rounds; ++r)
        for (const std::wstring& ppd : ppds) TimeLoad(ppd, phases);
    const double n = static_cast<double>(ppds.size()) * rounds;
    std::printf("%zu PPDs x %d (%d from their caches): sections %.4f ms, soup %.4f ms, defaults %.4f ms, all %.4f ms\n",
                ppds.size(), rounds, phases.fromCache, phases.sections / n * 1e3, phases.soup / n * 1e3,
                phases.defaults / n * 1e3, (phases.sections + phases.soup + phases.defaults) / n * 1e3);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--load") return LoadOnce(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"--floor") return FloorOnce(argv[2]);
    if (argc >= 3 && std::wstring(argv[1]) == L"--loads") return LoadFolder(argv[2], argc > 3 ? _wtoi(argv[3]) : 1);
    if (argc == 3 && std::wstring(argv[1]) == L"--profile") {
        for (int i = 0; i < 5; ++i) ProfileOnce(argv[2]);
        for (int i = 0; i < 3; ++i) {
            const double t0 = Now();
            HANDLE file = CreateFileW(CachePath(argv[2]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            const double t1 = Now();
            HANDLE map = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
            const uint8_t* view = static_cast<const uint8_t*>(MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0));
            const double t2 = Now();
            const uint64_t h = ComputeCfgFileHash(view, GetFileSize(file, nullptr));
            const double t3 = Now();
            UnmapViewOfFile(view);
            CloseHandle(map);
            CloseHandle(file);
            const double t4 = Now();
            std::printf("open %.3f map %.3f hash-through-map %.3f close %.3f ms (%x)\n", (t1 - t0) * 1e3, (t2 - t1) * 1e3,
                        (t3 - t2) * 1e3, (t4 - t3) * 1e3, unsigned(h & 0xF));
        }
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: cfg_bench <folder of PPDs> [scratch folder]\n");
        return 2;
    }
    const std::wstring corpus = argv[1];
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring scratch = argc > 2 ? argv[2] : std::wstring(temp) + L"cfg_bench";
    CreateDirectoryW(scratch.c_str(), nullptr);

    // Copies of the PPDs, so their caches are written beside them in the scratch folder.
    std::vector<std::wstring> ppds;
    std::wstring largest;
    ULONGLONG largestSize = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((corpus + L"\\*.ppd").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "no PPDs in the folder\n");
        return 1;
    }
    do {
        const std::wstring copy = scratch + L"\\" + data.cFileName;
        if (!CopyFileW((corpus + L"\\" + data.cFileName).c_str(), copy.c_str(), FALSE)) continue;
        ppds.push_back(copy);
        const ULONGLONG size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size > largestSize) largestSize = size, largest = copy;
    } while (FindNextFileW(find, &data));
    FindClose(find);

    // Compile every PPD (no cache present), then reload each from its cache.
    double compileTotal = 0, loadTotal = 0, loadDefaultsTotal = 0, largestCompile = 0;
    int failed = 0;
    uint64_t cacheBytes = 0;
    for (const std::wstring& ppd : ppds) {
        DeleteFileW(CachePath(ppd).c_str());
        const double t0 = Now();
        Own own(ppd);
        const bool ok = own.settings.GetSectionSize(CFG_SECTION_GENERAL_KEYS) != 0;
        const double t1 = Now();
        if (!ok) ++failed;
        compileTotal += t1 - t0;
        if (ppd == largest) largestCompile = t1 - t0;
    }
    // The loads, split into their phases: sections (read and checked), string soup, default
    // settings and key forest built from them.
    LoadPhases phases;
    for (const std::wstring& ppd : ppds) {
        TimeLoad(ppd, phases);
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (GetFileAttributesExW(CachePath(ppd).c_str(), GetFileExInfoStandard, &a)) cacheBytes += a.nFileSizeLow;
    }
    // The loads' floor: each cache opened, read and closed, into memory already touched.
    double readTotal = 0;
    std::vector<uint8_t> readBuffer;
    for (const std::wstring& ppd : ppds) readTotal += std::max(0.0, ReadWhole(CachePath(ppd), readBuffer));
    loadTotal = phases.sections;
    loadDefaultsTotal = phases.sections + phases.soup + phases.defaults;
    // The compile's phases, each PPD once more with no cache beside it: the failed look-up
    // of the cache, parse + groups alone, the whole compile in memory, the cache write.
    double absentTotal = 0, parseTotal = 0, memoryTotal = 0, writeTotal = 0, largestMemory = 0, largestWrite = 0;
    for (const std::wstring& ppd : ppds) {
        const std::wstring cache = CachePath(ppd);
        DeleteFileW(cache.c_str());
        const double t0 = Now();
        HANDLE absent = CreateFileW(cache.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const double t1 = Now();
        if (absent != INVALID_HANDLE_VALUE) CloseHandle(absent);
        {
            PPDParser::CFileIOPlugIn source;
            PPDParser::CPPDSettings parser(&source);
            if (parser.Parse(ppd.c_str())) parser.BuildGroups();
        }
        const double t2 = Now();
        Own own(ppd);
        own.settings.Compile();
        const double t3 = Now();
        own.settings.WriteCacheFile();
        const double t4 = Now();
        absentTotal += t1 - t0;
        parseTotal += t2 - t1;
        memoryTotal += t3 - t2;
        writeTotal += t4 - t3;
        if (ppd == largest) largestMemory = t3 - t2, largestWrite = t4 - t3;
    }
    const double n = static_cast<double>(ppds.size());
    std::printf("corpus: %zu PPDs, %d failed to compile, caches %.1f MB\n", ppds.size(), failed, cacheBytes / 1e6);
    std::printf("compile (parse + export + write): %.3f ms per PPD, %.2f s in all\n", compileTotal / n * 1e3, compileTotal);
    std::printf("  phases: absent-cache open %.3f, parse + groups %.3f, compile in memory %.3f (rest %.3f), "
                "cache write %.3f ms per PPD\n",
                absentTotal / n * 1e3, parseTotal / n * 1e3, memoryTotal / n * 1e3, (memoryTotal - parseTotal) / n * 1e3,
                writeTotal / n * 1e3);
    std::printf("load from cache (sections):       %.3f ms per PPD (%.0fx faster than compile)\n", loadTotal / n * 1e3,
                compileTotal / loadTotal);
    std::printf("  floor: the cache's open, read and close %.3f ms per PPD (%.0fx faster than compile)\n",
                readTotal / n * 1e3, compileTotal / readTotal);
    std::printf("load + default settings built:    %.3f ms per PPD (%.0fx faster than compile)\n",
                loadDefaultsTotal / n * 1e3, compileTotal / loadDefaultsTotal);
    std::printf("  phases of a load: sections %.4f ms, soup %.4f ms, default settings and key forest %.4f ms\n",
                phases.sections / n * 1e3, phases.soup / n * 1e3, phases.defaults / n * 1e3);

    // The largest PPD: compile once more, then loads in fresh processes (the file cached by the OS).
    std::vector<double> childLoad, childDefaults, childWarm, childSoup;
    for (int i = 0; i < 7; ++i) {
        const std::string line = RunChild(largest);
        double a = 0, b = 0, c = 0, d = 0;
        if (std::sscanf(line.c_str(), "%lf %lf %lf %lf", &a, &b, &c, &d) == 4) {
            childLoad.push_back(a);
            childDefaults.push_back(b);
            childWarm.push_back(c);
            childSoup.push_back(d);
        }
    }
    std::printf("largest PPD: %ls (%llu bytes), compile %.2f ms (in memory %.2f, write %.2f)\n", largest.c_str(),
                largestSize, largestCompile * 1e3, largestMemory * 1e3, largestWrite * 1e3);
    std::printf("  fresh-process load (median of %zu): sections %.3f ms, with default settings %.3f ms (%.0fx)\n",
                childLoad.size(), Median(childLoad), Median(childDefaults),
                Median(childLoad) > 0 ? largestCompile * 1e3 / Median(childLoad) : 0.0);
    std::printf("  of which the string soup (median): %.3f ms\n", Median(childSoup));
    std::printf("  second load in the same process, the first one released: sections %.3f ms (%.0fx)\n",
                Median(childWarm), Median(childWarm) > 0 ? largestCompile * 1e3 / Median(childWarm) : 0.0);
    std::vector<double> floorPages, floorIO;
    unsigned pages = 0;
    for (int i = 0; i < 7; ++i) {
        const std::string line = RunChild(largest, L"--floor");
        double a = 0, b = 0;
        if (std::sscanf(line.c_str(), "%lf %lf %u", &a, &b, &pages) == 3) floorPages.push_back(a), floorIO.push_back(b);
    }
    std::printf("  floor of the fresh-process load (median): first touch of %u fresh pages %.3f ms + the cache's "
                "open, read and close %.3f ms = %.3f ms\n",
                pages, Median(floorPages), Median(floorIO), Median(floorPages) + Median(floorIO));

    // Acquire/Release through the process-wide manager, and CONVERT, on the largest PPD and
    // on the one with the largest private payload.
    // The corpus PPDs have no private keys: a PPD with its language module (third
    // argument, e.g. the sample fixture) gives the CONVERT figure.
    std::wstring privatePPD;
    if (argc > 3) {
        const std::wstring from = argv[3];
        const size_t slash = from.find_last_of(L"\\/");
        privatePPD = scratch + L"\\" + from.substr(slash == std::wstring::npos ? 0 : slash + 1);
        CopyFileW(from.c_str(), privatePPD.c_str(), FALSE);
        const std::wstring lan = from.substr(0, from.find_last_of(L'.')) + L".LAN";
        CopyFileW(lan.c_str(), (privatePPD.substr(0, privatePPD.find_last_of(L'.')) + L".LAN").c_str(), FALSE);
        DeleteFileW(CachePath(privatePPD).c_str());
    }
    for (const std::wstring& ppd : {largest, privatePPD}) {
        if (ppd.empty()) continue;
        CfgSettings* s = AcquireCfgSettings(ppd.c_str());
        ReleaseCfgSettings(ppd.c_str(), s);
        const int rounds = 100000;
        double t0 = Now();
        for (int i = 0; i < rounds; ++i) ReleaseCfgSettings(ppd.c_str(), AcquireCfgSettings(ppd.c_str()));
        const double acquire = (Now() - t0) / rounds;
        s = AcquireCfgSettings(ppd.c_str());
        const uint32_t required = CDevmode::GetRequiredSize(s);
        std::printf("%ls: acquire+release %.3f us", ppd.c_str(), acquire * 1e6);
        if (required) {
            std::vector<uint8_t> in(required), out(required);
            OEMDMPARAM p{};
            p.pOEMDMOut = in.data();
            p.cbBufSize = required;
            ProcessOemDevmodeRequest(OEMDM_DEFAULT, &p, s);
            t0 = Now();
            for (int i = 0; i < rounds; ++i) {
                p.pOEMDMIn = in.data();
                p.pOEMDMOut = out.data();
                p.cbBufSize = required;
                ProcessOemDevmodeRequest(OEMDM_CONVERT, &p, s);
            }
            std::printf(", CONVERT of a %u-byte block %.3f us", required, (Now() - t0) / rounds * 1e6);
        }
        std::printf("\n");
        ReleaseCfgSettings(ppd.c_str(), s);
    }
    return failed ? 1 : 0;
}
