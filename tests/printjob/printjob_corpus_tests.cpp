// Print jobs for the interpreter check: the default job of every PPD of the corpus, and of
// the fixture printers, printed with Rindle through the core-driver stand-in into ps/ (the
// Ghostscript check runs over those files afterwards). The corpus is split into shards run
// as separate programs (TOLVA_PRINTJOB_SHARD=i/n); the fixture printers print in shard 0.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/standins/coredriver/RenderHost.h"
#include "tests/support/TestPrinter.h"

namespace {

using coredriver::PrintJob;
using coredriver::PrintJobResult;
using coredriver::PrintJobSetup;

struct Shard {
    int index = 0;
    int count = 1;
};

Shard ThisShard()
{
    Shard shard;
    char text[32] = {};
    const DWORD n = GetEnvironmentVariableA("TOLVA_PRINTJOB_SHARD", text, sizeof(text));
    if (n > 0 && n < sizeof(text) && sscanf(text, "%d/%d", &shard.index, &shard.count) == 2 && shard.count > 0 &&
        shard.index >= 0 && shard.index < shard.count)
        return shard;
    return Shard{};
}

double Seconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// An environment variable's value, or fallback when it is not set.
std::wstring EnvironmentOr(const wchar_t* name, const std::wstring& fallback)
{
    wchar_t value[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(value) : fallback;
}

// The folder the jobs go to and the corpus they come from: the build's, unless the run over the
// whole openprinting corpus names others.
std::wstring JobFolder() { return EnvironmentOr(L"TOLVA_PRINTJOB_PS", std::wstring(TOLVA_BINARY_DIR_W) + L"\\ps"); }
std::wstring CorpusFolder() { return EnvironmentOr(L"TOLVA_PRINTJOB_CORPUS", TOLVA_CORPUS_DIR_W); }

std::wstring JobPath(const std::wstring& name) { return JobFolder() + L"\\" + name + L".ps"; }

bool WriteJob(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

PrintJobSetup JobSetup(const std::wstring& ppd)
{
    PrintJobSetup setup;
    setup.rindlePath = TOLVA_RINDLE_PATH_W;
    setup.quentaPath = TOLVA_QUENTA_PATH_W;
    setup.ppdPath = ppd;
    setup.pages = 2;  // the second page shows what is written once per document
    return setup;
}

// Prints the job into ps/<name>.ps (a job that fails leaves no file) and checks what every
// job must be: printed whole through the hooks, every reference given back.
PrintJobResult PrintInto(const std::wstring& name, const PrintJobSetup& setup)
{
    const std::wstring path = JobPath(name);
    DeleteFileW(path.c_str());
    PrintJobResult job = PrintJob(setup);
    EXPECT_TRUE(job.ok) << name << ": " << job.error;
    EXPECT_EQ(job.enablePDEV, S_OK) << name;
    EXPECT_EQ(job.failedHooks, 0) << name;
    EXPECT_EQ(job.driverRefsLeft, 1) << name;
    EXPECT_EQ(job.unterminatedInjections, 0u) << name << ": a plug-in text without a line end";
    EXPECT_NE(job.job.find("%%EOF\r\n"), std::string::npos) << name;
    if (job.ok) {
        EXPECT_TRUE(WriteJob(path, job.job)) << name << ": cannot write " << path;
    }
    return job;
}

TEST(PrintJobFixtures, DefaultJobsOfTheFixturePrinters)
{
    if (ThisShard().index != 0) GTEST_SKIP() << "the fixture printers print in shard 0";
    CreateDirectoryW(JobFolder().c_str(), nullptr);
    // A text that must (or must not) be in what the plug-in wrote at a point of the job.
    struct Expect {
        DWORD index;
        int page;
        const char* text;
        bool present;
    };
    struct Case {
        const wchar_t* name;
        const wchar_t* ppd;
        bool withLanguageModule;
        short orientation;
        std::vector<Expect> expects;
    };
    const char* kWatermarkResource = "%%VYR Begin Watermark resource";
    const char* kShowWatermark = "userdict /VYRWaterMark get exec";
    const Case cases[] = {
        {L"fixture-tolva-sample", L"tolva-sample.ppd", true, DMORIENT_PORTRAIT,
         {{PSINJECT_BEGINSETUP, 0, kWatermarkResource, true},
          {PSINJECT_BEGINSETUP, 0, "%%BeginFeature: *QVColorMode CMYK", true},  // from the language module
          {PSINJECT_BEGINSETUP, 0, "globaldict /VYR_LandscapeDoc false put", true},
          {PSINJECT_SHOWPAGE, 1, kShowWatermark, true},
          {PSINJECT_SHOWPAGE, 2, kShowWatermark, true}}},
        {L"fixture-tolva-sample-landscape", L"tolva-sample.ppd", true, DMORIENT_LANDSCAPE,
         {{PSINJECT_BEGINSETUP, 0, kWatermarkResource, true},
          {PSINJECT_BEGINSETUP, 0, "globaldict /VYR_LandscapeDoc true put", true},
          {PSINJECT_BEGINPAGESETUP, 1, "globaldict /VYR_LandscapeDoc true put", true},
          {PSINJECT_SHOWPAGE, 2, kShowWatermark, true}}},
        {L"fixture-tolva-minimal", L"tolva-minimal.ppd", false, DMORIENT_PORTRAIT,
         {{PSINJECT_BEGINSETUP, 0, "1.00 VYRscale", true}, {PSINJECT_SHOWPAGE, 1, kShowWatermark, false}}},
        {L"fixture-tolva-sample-ja", L"tolva-sample-ja.ppd", false, DMORIENT_PORTRAIT,
         {{PSINJECT_BEGINSETUP, 0, kWatermarkResource, true},
          {PSINJECT_SHOWPAGE, 1, kShowWatermark, true},
          {PSINJECT_SHOWPAGE, 2, kShowWatermark, false}}},
    };
    for (const Case& c : cases) {
        PrintJobSetup setup = JobSetup(tolvatest::FixturePath(c.ppd));
        if (c.withLanguageModule) setup.companions.push_back({TOLVA_SAMPLE_LAN_W, L"{stem}.LAN"});
        setup.orientation = c.orientation;
        const PrintJobResult job = PrintInto(c.name, setup);
        EXPECT_TRUE(job.warnings.empty()) << c.name << ": " << (job.warnings.empty() ? L"" : job.warnings[0]);
        for (const Expect& e : c.expects)
            EXPECT_EQ(coredriver::TextOf(job, e.index, e.page).find(e.text) != std::string::npos, e.present)
                << c.name << ": \"" << e.text << "\" at " << coredriver::InjectionName(e.index) << " page " << e.page;
    }
}

TEST(PrintJobCorpus, EveryPpdPrintsItsDefaultJob)
{
    const Shard shard = ThisShard();
    CreateDirectoryW(JobFolder().c_str(), nullptr);
    const std::wstring folder = CorpusFolder();
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.ppd").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no corpus in " << folder;
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());

    size_t jobs = 0, bytes = 0;
    double total = 0, printers = 0, slowest = 0;
    std::wstring slowestName;
    for (size_t i = static_cast<size_t>(shard.index); i < names.size(); i += static_cast<size_t>(shard.count)) {
        const std::wstring stem = names[i].substr(0, names[i].find_last_of(L'.'));
        const double t0 = Seconds();
        const PrintJobResult job = PrintInto(L"corpus-" + stem, JobSetup(folder + L"\\" + names[i]));
        const double took = Seconds() - t0;
        total += took;
        printers += job.printerSeconds;
        if (took > slowest) {
            slowest = took;
            slowestName = names[i];
        }
        ++jobs;
        bytes += job.job.size();
    }
    ASSERT_GT(jobs, 0u);
    printf("shard %d/%d: %u jobs, %u bytes; printer + job %.1f ms per PPD, of which installing the printer %.1f ms "
           "(slowest %.1f ms: %ls)\n",
           shard.index, shard.count, static_cast<unsigned>(jobs), static_cast<unsigned>(bytes), total * 1e3 / jobs,
           printers * 1e3 / jobs, slowest * 1e3, slowestName.c_str());
}

}  // namespace
