// tolva_fuzz: every byte that reaches the driver from outside, mutated and fed in, in-process
// and deterministic. Three kinds of input:
//   ppd      PPDs (the corpus and the fixtures) through parse, group, export, compile into a
//            cache, the default device mode, a reload from the cache and, every --job-every
//            inputs, a printed two-page job through Rindle (the print host's library);
//   cache    cache files (.PBJ) of compiled PPDs, loaded through the settings manager: the
//            sections must be those of a fresh compile (rebuilt or refused, never trusted);
//   devmode  private device-mode blocks and public DEVMODEs through Quenta's DevMode (CONVERT,
//            MERGE), through a driver state's LoadAll and SaveAll and, every --job-every
//            inputs, through Rindle's job start.
// Each input is mutated by byte flips, truncation, long lines, quotes, "*Include",
// "*%VYRUI_Default", NUL, CR, duplicated spans and splices from other files. Input i of a
// kind uses the generator seeded from (seed, kind, i), so `--first i --count 1` replays it.
// A crash, a hang (no progress for --hang-seconds) or a broken promise prints the kind, seed
// and index and fails the run. Jobs are written to --out for Ghostscript.
//
//   tolva_fuzz [--kind ppd|cache|devmode|all] [--count N] [--first I] [--seed S]
//              [--job-every K] [--out DIR] [--hang-seconds S] [--keep]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/DriverKit.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/Devmode.h"
#include "storage/DrvState.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"
#include "tests/standins/coredriver/RenderHost.h"
#include "tests/storage/CfgTestUtil.h"
#include "tests/support/TestPrinter.h"

namespace {

using cfgtest::Direct;
using cfgtest::ReadAll;
using cfgtest::SectionsImage;
using cfgtest::Sibling;
using cfgtest::WriteAll;
using cfgtest::WriteText;

// --- what is running, for the crash and hang reports ----------------------------------------

struct Current {
    const char* kind = "-";
    uint64_t seed = 0;
    uint64_t index = 0;
    const char* step = "-";
};
Current g_current;
std::atomic<uint64_t> g_progress{0};
DWORD g_hangSeconds = 120;

void Report(const char* what) {
    std::printf("%s: kind=%s seed=%llu index=%llu step=%s (replay: --kind %s --seed %llu --first %llu --count 1)\n",
                what, g_current.kind, static_cast<unsigned long long>(g_current.seed),
                static_cast<unsigned long long>(g_current.index), g_current.step, g_current.kind,
                static_cast<unsigned long long>(g_current.seed), static_cast<unsigned long long>(g_current.index));
    std::fflush(stdout);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    char what[64];
    std::snprintf(what, sizeof(what), "CRASH 0x%08lX",
                  info && info->ExceptionRecord ? static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode) : 0ul);
    Report(what);
    TerminateProcess(GetCurrentProcess(), 2);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI Watchdog(void*) {
    uint64_t seen = g_progress.load();
    DWORD still = 0;
    for (;;) {
        Sleep(1000);
        const uint64_t now = g_progress.load();
        if (now != seen) {
            seen = now;
            still = 0;
        } else if (++still >= g_hangSeconds) {
            Report("HANG");
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

// --- generator and mutations -----------------------------------------------------------------

struct Rng {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
};

Rng InputRng(uint64_t seed, const char* kind, uint64_t index) {
    uint64_t h = seed * 0x100000001B3ull;
    for (const char* p = kind; *p; ++p) h = (h ^ static_cast<uint8_t>(*p)) * 0x100000001B3ull;
    Rng rng{h ^ (index * 0x9E3779B97F4A7C15ull)};
    rng.Next();
    return rng;
}

using Bytes = std::vector<uint8_t>;

void Insert(Bytes& b, size_t at, const std::string& text) { b.insert(b.begin() + static_cast<long>(at), text.begin(), text.end()); }

// One to four mutations of the kinds the issue lists; other is a second input for splices.
void Mutate(Rng& rng, Bytes& b, const Bytes& other, bool text) {
    const int rounds = 1 + static_cast<int>(rng.Below(4));
    for (int r = 0; r < rounds; ++r) {
        const size_t at = rng.Below(b.size() + 1);
        switch (rng.Below(text ? 11 : 8)) {
        case 0:  // byte flips
            for (size_t n = 1 + rng.Below(8); n && !b.empty(); --n) b[rng.Below(b.size())] ^= static_cast<uint8_t>(1u << rng.Below(8));
            break;
        case 1:  // random bytes
            for (size_t n = 1 + rng.Below(8); n && !b.empty(); --n) b[rng.Below(b.size())] = static_cast<uint8_t>(rng.Next());
            break;
        case 2:  // truncation
            b.resize(rng.Below(b.size() + 1));
            break;
        case 3:  // NUL
            b.insert(b.begin() + static_cast<long>(at), 1 + rng.Below(3), 0);
            break;
        case 4:  // CR
            b.insert(b.begin() + static_cast<long>(at), 1 + rng.Below(3), '\r');
            break;
        case 5:  // a duplicated span
            if (!b.empty()) {
                const size_t from = rng.Below(b.size()), length = 1 + rng.Below(std::min<size_t>(b.size() - from, 4096));
                Bytes span(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + length));
                const size_t to = rng.Below(b.size() + 1);
                b.insert(b.begin() + static_cast<long>(to), span.begin(), span.end());
            }
            break;
        case 6:  // a splice from another input, over or into this one
            if (!other.empty()) {
                const size_t from = rng.Below(other.size()), length = 1 + rng.Below(std::min<size_t>(other.size() - from, 4096));
                if (rng.Below(2) && at < b.size()) b.resize(at);
                b.insert(b.begin() + static_cast<long>(std::min(at, b.size())), other.begin() + static_cast<long>(from),
                         other.begin() + static_cast<long>(from + length));
            }
            break;
        case 7:  // a quote
            Insert(b, at, "\"");
            break;
        case 8:  // a long line
            Insert(b, at, "\r\n*" + std::string(1 + rng.Below(70000), static_cast<char>('A' + rng.Below(26))) + "\r\n");
            break;
        case 9: {  // an include: missing, of itself, of a folder
            static const char* const kIncludes[] = {"*Include: \"missing.ppd\"\r\n", "*Include: \"fuzz.ppd\"\r\n",
                                                    "*Include: \".\"\r\n", "*Include: \"", "*Include: \"fuzz.ppd"};
            Insert(b, at, kIncludes[rng.Below(5)]);
            break;
        }
        default: {  // the private statements
            static const char* const kPrivate[] = {
                "*%VYRUI_Default", "*%VYRUI_DefaultQVDuplex: TopTop\r\n", "*%VYRUI_DefaultQVDuplex: \r\n",
                "*%VYRUI_JobNote *QVFuzzNote/Note: 99999:\r\n*%VYRUI_DefaultQVFuzzNote: (\")\r\n",
                "*%VYRUI_StringSoup *QVFuzzSoup/S: 1:\r\n", "*%VYRUI_MixedMedia *QVFuzzTable/T: (30000;30000):\r\n",
                "*%VYRUI_Range *QVFuzzRange/R: (1;-1;0;nan):\r\n"};
            Insert(b, at, kPrivate[rng.Below(7)]);
            break;
        }
        }
    }
}

// --- files -------------------------------------------------------------------------------------

std::vector<std::wstring> ListPPDs(const std::wstring& dir) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*.ppd").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    do out.push_back(dir + L"\\" + data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(out.begin(), out.end());
    return out;
}

std::wstring Env(const wchar_t* name, const wchar_t* fallback) {
    wchar_t value[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n && n < MAX_PATH ? value : fallback;
}

// --- the run -----------------------------------------------------------------------------------

struct Options {
    std::string kind = "all";
    uint64_t count = 20, first = 0, seed = 1;
    uint64_t jobEvery = 10;
    std::wstring out;
};

struct Tally {
    uint64_t inputs = 0, refused = 0, jobs = 0, failures = 0;
};

struct Paths {
    std::wstring scratch, corpus, fixtures, lan, rindle, quenta;
};

// A line every 10,000 inputs, so that a long run shows how far it got.
void Progress(const Tally& tally) {
    if (tally.inputs % 10000 != 0) return;
    std::printf("  %s: %llu inputs, %llu refused, %llu jobs, %llu failures\n", g_current.kind,
                static_cast<unsigned long long>(tally.inputs), static_cast<unsigned long long>(tally.refused),
                static_cast<unsigned long long>(tally.jobs), static_cast<unsigned long long>(tally.failures));
    std::fflush(stdout);
}

void Fail(Tally& tally, const char* why) {
    ++tally.failures;
    std::string what = std::string("FAILED ") + why;
    Report(what.c_str());
}

// Prints a job through Rindle; the job goes to out for Ghostscript.
bool PrintThrough(const Paths& paths, const std::wstring& ppd, bool withLan, const std::wstring& jobPath,
                  std::function<void(std::vector<BYTE>&)> alter) {
    coredriver::PrintJobSetup setup;
    setup.rindlePath = paths.rindle;
    setup.quentaPath = paths.quenta;
    setup.ppdPath = ppd;
    if (withLan) setup.companions.push_back({paths.lan, L"{stem}.LAN"});
    setup.pages = 2;
    setup.alterPrivateBlock = std::move(alter);
    coredriver::PrintJobResult job = coredriver::PrintJob(setup);
    if (!job.job.empty() && !jobPath.empty()) WriteText(jobPath, job.job);
    return job.ok && !job.job.empty();
}

void RunPPD(const Options& options, const Paths& paths, Tally& tally) {
    std::vector<std::wstring> bases = ListPPDs(paths.corpus);
    for (const wchar_t* name : {L"tolva-sample.ppd", L"tolva-minimal.ppd", L"tolva-sample-ja.ppd"})
        bases.push_back(paths.fixtures + L"\\" + name);
    if (bases.empty()) {
        Fail(tally, "no PPDs");
        return;
    }
    const std::wstring ppd = paths.scratch + L"\\fuzz.ppd";
    for (uint64_t i = options.first; i < options.first + options.count; ++i, ++g_progress) {
        g_current.index = i;
        Rng rng = InputRng(options.seed, "ppd", i);
        // The fixtures (whose private keys the mutations reach) come up as often as the corpus.
        const size_t pick = rng.Below(2) ? bases.size() - 1 - rng.Below(3) : rng.Below(bases.size() - 3);
        const bool withLan = bases[pick].find(L"tolva-sample") != std::wstring::npos && rng.Below(2);
        Bytes bytes = ReadAll(bases[pick]);
        const Bytes other = ReadAll(bases[rng.Below(bases.size())]);
        Mutate(rng, bytes, other, true);
        ++tally.inputs;
        Progress(tally);
        g_current.step = "write";
        DeleteFileW(Sibling(ppd, L".PBJ").c_str());
        if (!WriteAll(ppd, bytes)) {
            Fail(tally, "cannot write the PPD");
            continue;
        }
        g_current.step = "compile";
        bool compiled = false;
        Bytes first;
        {
            Direct d(ppd, withLan ? paths.lan : std::wstring());
            compiled = d.settings->GetDefaultSettings() != nullptr;
            if (compiled) {
                first = SectionsImage(d.settings.get());
                g_current.step = "default device mode";
                const uint32_t size = CDevmode::GetRequiredSize(d.settings.get());
                std::vector<uint8_t> block(size + 16);
                OEMDMPARAM param = {};
                param.cbSize = sizeof(param);
                param.pOEMDMOut = block.data();
                param.cbBufSize = size;
                const HRESULT hr = ProcessOemDevmodeRequest(OEMDM_DEFAULT, &param, d.settings.get());
                if (hr != S_OK) Fail(tally, "DEFAULT refused");
                if (size && !CDevmode(block.data(), size, d.settings.get()).IsValid()) Fail(tally, "defaults not valid");
                g_current.step = "state";
                CBaseDrvState state(d.settings.get());
                DevmodeSet set;
                set.privateBlock = size ? block.data() : nullptr;
                if (state.IsValid() && state.LoadAll(d.settings.get(), set, nullptr, 0)) {
                    unsigned core = 0;
                    state.SaveAll(d.settings.get(), set, nullptr, &core);
                }
            }
        }
        if (!compiled) {
            ++tally.refused;
            continue;
        }
        g_current.step = "reload";
        {
            Direct again(ppd, withLan ? paths.lan : std::wstring());
            if (SectionsImage(again.settings.get()) != first) Fail(tally, "the reloaded cache differs from the compile");
        }
        if (options.jobEvery && i % options.jobEvery == 0) {
            g_current.step = "job";
            const std::wstring name = L"\\ppd-" + std::to_wstring(i) + L".ps";
            if (PrintThrough(paths, ppd, withLan, options.out.empty() ? L"" : options.out + name, nullptr)) ++tally.jobs;
            else Fail(tally, "the job did not print");
        }
    }
}

// Puts the file's length into its size field and its hash into the header, as a compile would.
void Seal(Bytes& file) {
    const auto total = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) file[6 + i] = static_cast<uint8_t>(total >> (8 * i));
    std::fill(file.begin() + kCfgHashOffset, file.begin() + kCfgHashOffset + 8, uint8_t{0});
    const uint64_t hash = ComputeCfgFileHash(file.data(), total);
    for (int i = 0; i < 8; ++i) file[kCfgHashOffset + i] = static_cast<uint8_t>(hash >> (8 * i));
}

void RunCache(const Options& options, const Paths& paths, Tally& tally) {
    struct Base {
        std::wstring ppd, lan;
        Bytes cache, image;
    };
    std::vector<Base> bases;
    std::vector<std::wstring> corpus = ListPPDs(paths.corpus);
    std::vector<std::pair<std::wstring, std::wstring>> sources = {
        {paths.fixtures + L"\\tolva-sample.ppd", paths.lan}, {paths.fixtures + L"\\tolva-minimal.ppd", L""}};
    for (size_t k = 0; k < corpus.size() && sources.size() < 14; k += 1 + corpus.size() / 12) sources.push_back({corpus[k], L""});
    g_current.step = "bases";
    for (size_t k = 0; k < sources.size(); ++k) {
        Base base;
        base.ppd = paths.scratch + L"\\cache" + std::to_wstring(k) + L".ppd";
        base.lan = sources[k].second;
        if (!CopyFileW(sources[k].first.c_str(), base.ppd.c_str(), FALSE)) continue;
        DeleteFileW(Sibling(base.ppd, L".PBJ").c_str());
        Direct d(base.ppd, base.lan);
        if (!d.settings->GetDefaultSettings()) continue;
        base.image = SectionsImage(d.settings.get());
        base.cache = ReadAll(Sibling(base.ppd, L".PBJ"));
        if (!base.cache.empty()) bases.push_back(std::move(base));
    }
    if (bases.empty()) {
        Fail(tally, "no cache files");
        return;
    }
    for (uint64_t i = options.first; i < options.first + options.count; ++i, ++g_progress) {
        g_current.index = i;
        Rng rng = InputRng(options.seed, "cache", i);
        const Base& base = bases[rng.Below(bases.size())];
        Bytes bytes = base.cache;
        Mutate(rng, bytes, bases[rng.Below(bases.size())].cache, false);
        // Half the inputs carry a size field and a hash that match their bytes, so that they get
        // past the file check to the section and soup readers behind it.
        const bool sealed = rng.Below(2) == 0 && bytes.size() >= kCfgHeaderSize;
        if (sealed) Seal(bytes);
        ++tally.inputs;
        Progress(tally);
        g_current.step = "write";
        const std::wstring cache = Sibling(base.ppd, L".PBJ");
        if (!WriteAll(cache, bytes)) {
            Fail(tally, "cannot write the cache");
            continue;
        }
        g_current.step = "load";
        CfgSettingsManager manager(L".PBJ");
        CfgSettings* settings = manager.GetSettings(base.ppd.c_str(), base.lan.empty() ? nullptr : base.lan.c_str(),
                                                    base.lan.empty() ? nullptr : L"IDR_PPDEXTENSIONS");
        if (!settings) {
            Fail(tally, "no settings");
            continue;
        }
        // The settings load on first use: asking where they came from before would always
        // answer "not from the cache".
        const bool hasDefaults = settings->GetDefaultSettings() != nullptr;
        const bool fromCache = settings->LoadedFromCache();
        if (!fromCache) ++tally.refused;
        if (!sealed || !fromCache) {
            if (!hasDefaults || SectionsImage(settings) != base.image) Fail(tally, "a damaged cache was trusted");
        } else {
            // A sealed file that the reader accepted is this driver's own as far as it can tell;
            // it must still be usable without harm: defaults, both constraint sets, every section.
            g_current.step = "use";
            settings->GetConstraints(true);
            settings->GetConstraints(false);
            SectionsImage(settings);
        }
        manager.ReleaseSettings(base.ppd.c_str(), settings);
    }
}

void RunDevmode(const Options& options, const Paths& paths, Tally& tally) {
    struct Fixture {
        std::unique_ptr<tolvatest::TestPrinter> printer;
        bool withLan = false;
        std::vector<BYTE> defaults;
        Bytes valued;  // a block with values set by a driver state
    };
    std::vector<Fixture> fixtures;
    g_current.step = "printers";
    for (int k = 0; k < 2; ++k) {
        tolvatest::TestPrinterSetup setup;
        Fixture f;
        f.withLan = k == 0;
        setup.dataFile = paths.fixtures + (k == 0 ? L"\\tolva-sample.ppd" : L"\\tolva-minimal.ppd");
        if (f.withLan) setup.companions.push_back({paths.lan, L"{stem}.LAN"});
        f.printer = std::make_unique<tolvatest::TestPrinter>(setup);
        if (f.printer->Ok()) fixtures.push_back(std::move(f));
    }
    coredriver::PluginHost host;
    std::wstring error;
    if (fixtures.size() != 2 || !host.Load(paths.quenta, &error)) {
        Fail(tally, "no printers or no Quenta");
        return;
    }
    for (Fixture& f : fixtures) {
        HANDLE printer = f.printer->Handle();
        coredriver::DevModeStep size = coredriver::CallDevMode(host.Plugin(), "SIZE", OEMDM_SIZE, printer, nullptr, 0, nullptr);
        f.defaults = coredriver::CallDevMode(host.Plugin(), "DEFAULT", OEMDM_DEFAULT, printer, nullptr, size.bufSize, nullptr).block;
        f.valued.assign(f.defaults.begin(), f.defaults.end());
        CfgSettingsHold hold(f.printer->DataFile().c_str());
        CBaseDrvState state(hold.Get());
        DevmodeSet set;
        set.privateBlock = f.valued.data();
        if (hold.Get() && state.IsValid() && state.LoadAll(hold.Get(), set, nullptr, 0)) {
            KVCache* current = state.GetCurrentSettings();
            for (auto [key, value] : {std::pair{L"*QVDuplex", L"TopTop"}, std::pair{L"*QVColorMode", L"Grayscale"}})
                state.SetOptionByText(current, key, value);
            const CKeySetting* note = current->Find(state.GetSoup()->Find(L"*QVJobNote"));
            if (note) {
                std::unique_ptr<CKeySetting> changed(note->Clone());
                changed->SetFromText(state.GetSoup(), state.GetKeyForest(), L"*QVJobNote", L"(a) \\ note");
                current->Set(changed.get());
            }
            const CKeySetting* table = current->Find(state.GetSoup()->Find(L"*QVMixedMedia"));
            if (table) {
                std::unique_ptr<CKeySetting> changed(table->Clone());
                changed->SetFromText(state.GetSoup(), state.GetKeyForest(), L"RangeNum1", L"Heavy (x)");
                current->Set(changed.get());
            }
            state.SavePrivateDevmode(hold.Get(), set, current);
        }
    }
    for (uint64_t i = options.first; i < options.first + options.count; ++i, ++g_progress) {
        g_current.index = i;
        Rng rng = InputRng(options.seed, "devmode", i);
        Fixture& f = fixtures[rng.Below(fixtures.size())];
        const size_t required = f.defaults.size();
        Bytes block = rng.Below(2) ? f.valued : Bytes(f.defaults.begin(), f.defaults.end());
        Mutate(rng, block, fixtures[rng.Below(fixtures.size())].valued, false);
        // Half the blocks get a checksum that holds, so that their payload is read.
        block.resize(required + rng.Below(3) * 8, 0);
        if (rng.Below(2) && block.size() >= 16) {
            CfgSettingsHold hold(f.printer->DataFile().c_str());
            CDevmode view(block.data(), 0, hold.Get());
            uint32_t total = static_cast<uint32_t>(required);
            if (rng.Below(4)) std::memcpy(block.data(), &total, 4);
            view.UpdateChecksum();
        }
        DEVMODEW publicDM = {};
        publicDM.dmSize = sizeof(publicDM);
        publicDM.dmFields = 0xFFFFFFFF;
        publicDM.dmDuplex = 2;
        publicDM.dmCopies = 1;
        for (size_t n = rng.Below(6); n; --n)
            reinterpret_cast<uint8_t*>(&publicDM)[rng.Below(sizeof(publicDM))] = static_cast<uint8_t>(rng.Next());
        ++tally.inputs;
        Progress(tally);

        HANDLE printer = f.printer->Handle();
        for (DWORD mode : {static_cast<DWORD>(OEMDM_CONVERT), static_cast<DWORD>(OEMDM_MERGE)}) {
            g_current.step = mode == OEMDM_CONVERT ? "CONVERT" : "MERGE";
            coredriver::DevModeStep step =
                coredriver::CallDevMode(host.Plugin(), g_current.step, mode, printer, block.data(),
                                        static_cast<DWORD>(required), &publicDM, static_cast<BYTE>(rng.Next()));
            if (step.result != S_OK) {
                Fail(tally, "DevMode refused a block of the right size");
                continue;
            }
            const bool kept = std::equal(step.block.begin(), step.block.end(), block.begin());
            if (!kept && step.block != f.defaults) Fail(tally, "DevMode gave neither the input nor the defaults");
            if (!kept && mode == OEMDM_CONVERT) ++tally.refused;
        }

        g_current.step = "LoadAll";
        {
            CfgSettingsHold hold(f.printer->DataFile().c_str());
            CBaseDrvState state(hold.Get());
            DevmodeSet set;
            set.privateBlock = block.data();
            set.printer = printer;
            set.publicDevmode = &publicDM;
            if (!hold.Get() || !state.IsValid() || !state.LoadAll(hold.Get(), set, nullptr, 0)) {
                Fail(tally, "LoadAll failed");
            } else {
                g_current.step = "SaveAll";
                std::vector<uint8_t> saved(f.defaults.begin(), f.defaults.end());
                DevmodeSet out;
                out.privateBlock = saved.data();
                DEVMODEW outDM = publicDM;
                out.publicDevmode = &outDM;
                unsigned core = 0;
                if (!state.SaveAll(hold.Get(), out, nullptr, &core) ||
                    !CDevmode(saved.data(), static_cast<uint32_t>(saved.size()), hold.Get()).IsValid())
                    Fail(tally, "the loaded settings do not save into a valid block");
            }
        }
        if (options.jobEvery && i % options.jobEvery == 0) {
            g_current.step = "job";
            const std::wstring name = L"\\devmode-" + std::to_wstring(i) + L".ps";
            Bytes given = block;
            const bool ok = PrintThrough(paths, paths.fixtures + (f.withLan ? L"\\tolva-sample.ppd" : L"\\tolva-minimal.ppd"),
                                         f.withLan, options.out.empty() ? L"" : options.out + name,
                                         [&given](std::vector<BYTE>& b) {
                                             if (b.size() <= given.size()) std::memcpy(b.data(), given.data(), b.size());
                                         });
            if (ok) ++tally.jobs;
            else Fail(tally, "the job did not print");
        }
    }
    host.Unload();
}

int Usage() {
    std::fputs("usage: tolva_fuzz [--kind ppd|cache|devmode|all] [--count N] [--first I] [--seed S]\n"
               "                  [--job-every K] [--out DIR] [--hang-seconds S] [--keep]\n",
               stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    bool keep = false;  // leaves the last input's files in the scratch folder, for a replay
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool value = i + 1 < argc;
        if (arg == L"--kind" && value) {
            std::wstring k = argv[++i];
            options.kind.assign(k.begin(), k.end());
        } else if (arg == L"--count" && value) {
            options.count = _wcstoui64(argv[++i], nullptr, 10);
        } else if (arg == L"--first" && value) {
            options.first = _wcstoui64(argv[++i], nullptr, 10);
        } else if (arg == L"--seed" && value) {
            options.seed = _wcstoui64(argv[++i], nullptr, 10);
        } else if (arg == L"--job-every" && value) {
            options.jobEvery = _wcstoui64(argv[++i], nullptr, 10);
        } else if (arg == L"--out" && value) {
            options.out = argv[++i];
        } else if (arg == L"--keep") {
            keep = true;
        } else if (arg == L"--hang-seconds" && value) {
            g_hangSeconds = static_cast<DWORD>(_wtoi(argv[++i]));
        } else {
            return Usage();
        }
    }
    if (options.kind != "all" && options.kind != "ppd" && options.kind != "cache" && options.kind != "devmode")
        return Usage();
    if (g_hangSeconds < 5) g_hangSeconds = 5;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(&OnCrash);
    CloseHandle(CreateThread(nullptr, 0, &Watchdog, nullptr, 0, nullptr));

    Paths paths;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    paths.scratch = std::wstring(temp) + L"tolva-fuzz-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(paths.scratch.c_str(), nullptr);
    paths.corpus = Env(L"TOLVA_PPD_CORPUS", TOLVA_CORPUS_DIR_W);
    paths.fixtures = TOLVA_FIXTURES_DIR_W;
    paths.lan = TOLVA_SAMPLE_LAN_W;
    paths.rindle = TOLVA_RINDLE_PATH_W;
    paths.quenta = TOLVA_QUENTA_PATH_W;
    if (!options.out.empty()) CreateDirectoryW(options.out.c_str(), nullptr);

    uint64_t failures = 0;
    std::printf("seed %llu, inputs %llu..%llu per kind\n", static_cast<unsigned long long>(options.seed),
                static_cast<unsigned long long>(options.first),
                static_cast<unsigned long long>(options.first + options.count - 1));
    struct KindRow {
        const char* name;
        void (*run)(const Options&, const Paths&, Tally&);
    };
    const KindRow kinds[] = {{"ppd", &RunPPD}, {"cache", &RunCache}, {"devmode", &RunDevmode}};
    for (const KindRow& kind : kinds) {
        if (options.kind != "all" && options.kind != kind.name) continue;
        g_current = Current{kind.name, options.seed, options.first, "-"};
        Tally tally;
        const DWORD started = GetTickCount();
        try {
            kind.run(options, paths, tally);
        } catch (...) {
            Fail(tally, "an exception left the driver code");
        }
        std::printf("%-8s inputs %llu, refused %llu, jobs %llu, crashes 0, hangs 0, failures %llu (%.1f s)\n", kind.name,
                    static_cast<unsigned long long>(tally.inputs), static_cast<unsigned long long>(tally.refused),
                    static_cast<unsigned long long>(tally.jobs), static_cast<unsigned long long>(tally.failures),
                    (GetTickCount() - started) / 1000.0);
        std::fflush(stdout);
        failures += tally.failures;
    }
    if (keep) {
        std::printf("the last input's files are in %ls\n", paths.scratch.c_str());
        return failures ? 1 : 0;
    }
    // The scratch folder's files (the PPD, its cache, the cache bases).
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((paths.scratch + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do DeleteFileW((paths.scratch + L"\\" + data.cFileName).c_str());
        while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(paths.scratch.c_str());
    return failures ? 1 : 0;
}
