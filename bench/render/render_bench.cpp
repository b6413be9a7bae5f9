// Benchmark of Rindle's page path: a generated PPD with 200 private option keys and a
// watermark key, printed through the core-driver stand-in as a 1-page and a long job. The
// page loop (StartPage, FillPath, SendPage through the plug-in's hooks, with the core
// stand-in's own writing) is timed inside the host; the same job with EPS output (nothing
// injected) gives the host's own share. Prints figures; judges nothing.
//
//   render_bench.exe [PAGES] [OUT.ps]     (PAGES defaults to 1000; OUT.ps keeps the long job)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "tests/standins/coredriver/RenderHost.h"

namespace {

constexpr int kKeys = 200;
constexpr int kRuns = 3;

// The PPD: 200 private option keys of two options each, then the watermark keys as the
// sample printer writes them (a watermark on every page). Each option's code ends with its
// own line end (the quoted value spans two lines): key codes are written one after another.
std::string BenchPpd()
{
    std::string ppd =
        "*PPD-Adobe: \"4.3\"\r\n*LanguageVersion: English\r\n*LanguageEncoding: ISOLatin1\r\n"
        "*ShortNickName: \"Tolva Render Bench\"\r\n*NickName: \"Tolva Render Bench\"\r\n";
    char line[160];
    for (int i = 0; i < kKeys; ++i) {
        snprintf(line, sizeof(line), "*%%VYRUI_DefaultQVKey%03d: A\r\n", i);
        ppd += line;
        for (const char* option : {"A", "B"}) {
            snprintf(line, sizeof(line), "*%%VYRUI_QVKey%03d %s/%s: \"userdict /VYRBenchKey%03d (%s) put\r\n\"\r\n",
                     i, option, option, i, option);
            ppd += line;
        }
    }
    ppd +=
        "*%VYRUI_DefaultQV_WATERMARK_FIRSTPAGEONLY: False\r\n"
        "*%VYRUI_QV_WATERMARK_FIRSTPAGEONLY False/All Pages: \"\"\r\n"
        "*%VYRUI_QV_WATERMARK_FIRSTPAGEONLY True/First Page Only: \"\"\r\n"
        "*%VYRUI_JobNote *QV_WatermarkStr/Watermark Text: 255:\r\n"
        "*%VYRUI_DefaultQV_WatermarkStr: 0,0,204,0,0,0,0,0,450,0,0,72,Helvetica-Bold,CONFIDENTIAL\r\n";
    return ppd;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

struct Figures {
    bool ok = false;
    double total = 0;  // printer set-up, plug-ins and the whole job
    double pages = 0;  // the page loop
    double command = 0;
    size_t bytes = 0;
    size_t injected = 0;
    std::string job;
};

Figures Print(const std::wstring& ppd, int pages, bool eps)
{
    coredriver::PrintJobSetup setup;
    setup.rindlePath = TOLVA_RINDLE_PATH_W;
    setup.quentaPath = TOLVA_QUENTA_PATH_W;
    setup.ppdPath = ppd;
    setup.pages = pages;
    if (eps) setup.driverSettings["%OutputFormat"] = "EPS";
    Figures f;
    const double t0 = BenchSeconds();
    coredriver::PrintJobResult job = coredriver::PrintJob(setup);
    f.total = BenchSeconds() - t0;
    f.ok = job.ok;
    if (!job.ok) std::printf("job of %d pages failed: %ls\n", pages, job.error.c_str());
    f.pages = job.pageSeconds;
    f.command = job.commandSeconds;
    f.bytes = job.job.size();
    for (const coredriver::CommandCall& call : job.commands) f.injected += call.length;
    f.job = std::move(job.job);
    return f;
}

// The run with the median page loop of kRuns.
Figures Median(const std::wstring& ppd, int pages, bool eps)
{
    std::vector<Figures> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(Print(ppd, pages, eps));
    std::sort(runs.begin(), runs.end(), [](const Figures& a, const Figures& b) { return a.pages < b.pages; });
    return runs[kRuns / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int pages = argc > 1 ? _wtoi(argv[1]) : 1000;
    if (pages < 2) {
        std::fputs("usage: render_bench.exe [PAGES >= 2] [OUT.ps]\n", stderr);
        return 2;
    }
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring ppd = std::wstring(folder) + L"tolva-render-bench.ppd";
    if (!WriteBytes(ppd, BenchPpd())) {
        std::printf("cannot write %ls\n", ppd.c_str());
        return 1;
    }

    Print(ppd, 1, false);  // warm-up: first loads of the modules
    const Figures one = Median(ppd, 1, false);
    const Figures many = Median(ppd, pages, false);
    const Figures eps = Median(ppd, pages, true);
    DeleteFileW(ppd.c_str());
    if (!one.ok || !many.ok || !eps.ok) return 1;

    const double perPage = many.pages * 1e3 / pages;
    std::printf("PPD: %d private option keys + watermark; median of %d runs\n", kKeys, kRuns);
    std::printf("1-page job: %.1f ms (printer, plug-ins, job), %u bytes\n", one.total * 1e3,
                static_cast<unsigned>(one.bytes));
    std::printf("%d-page job: %.1f ms, %u bytes\n", pages, many.total * 1e3, static_cast<unsigned>(many.bytes));
    std::printf("page loop: %.4f ms per page (timed in the host); whole jobs: %.4f ms per page "
                "((%d-page - 1-page) / %d)\n",
                perPage, (many.total - one.total) * 1e3 / (pages - 1), pages, pages - 1);
    std::printf("inside Command: %.4f ms per page\n", (many.command - one.command) * 1e3 / (pages - 1));
    std::printf("with EPS output (nothing injected): %.4f ms per page, %.4f ms of it inside Command\n",
                eps.pages * 1e3 / pages, eps.command * 1e3 / pages);
    std::printf("bytes per page: %.1f (job), %.1f (written by the plug-in)\n",
                static_cast<double>(many.bytes - one.bytes) / (pages - 1),
                static_cast<double>(many.injected - one.injected) / (pages - 1));
    std::printf("target 0.2 ms per page: %s\n", perPage < 0.2 ? "met" : "missed");
    if (argc > 2 && !WriteBytes(argv[2], many.job)) {
        std::printf("cannot write %ls\n", argv[2]);
        return 1;
    }
    return 0;
}
