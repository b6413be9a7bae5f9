// Benchmark of the dialog templates of the installable-options page: template 1127 converted to
// the extended form, with template 1172 merged after control 1136 and template 1253 after
// control 1154, as the page does before it is built. Each figure is the median of 9 runs of
// many repetitions; prints figures and judges nothing beyond naming the 20 us target.
//
//   template_bench.exe [REPETITIONS]     (defaults to 20000)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "bench/BenchClock.h"
#include "sheets/DialogTemplates.h"

namespace {

struct Template {
    const void* data;
    DWORD size;
};

Template Resource(int id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    if (!found) return {nullptr, 0};
    return {LockResource(LoadResource(module, found)), SizeofResource(module, found)};
}

// One preparation of the page's template; false when a step failed.
bool PreparePage(const Template& page, const Template& first, const Template& second) {
    DWORD size = 0;
    void* once = MergeDialogTemplates(page.data, page.size, first.data, first.size, 1136, &size);
    if (!once) return false;
    void* merged = MergeDialogTemplates(once, size, second.data, second.size, 1154, &size);
    std::free(once);
    std::free(merged);
    return merged != nullptr;
}

bool ConvertOnly(const Template& page) {
    void* converted = CopyAsDialogTemplateEx(page.data, page.size);
    std::free(converted);
    return converted != nullptr;
}

template <typename Step>
double MedianMicroseconds(int repetitions, Step step) {
    std::vector<double> runs;
    for (int run = 0; run < 9; ++run) {
        const double start = BenchSeconds();
        for (int i = 0; i < repetitions; ++i) {
            if (!step()) return -1;
        }
        runs.push_back((BenchSeconds() - start) * 1e6 / repetitions);
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int repetitions = argc > 1 ? std::max(1, _wtoi(argv[1])) : 20000;
    const Template page = Resource(1127);
    const Template first = Resource(1172);
    const Template second = Resource(1253);
    if (!page.data || !first.data || !second.data) {
        std::fprintf(stderr, "template resources missing\n");
        return 1;
    }
    const double convert = MedianMicroseconds(repetitions, [&] { return ConvertOnly(page); });
    const double prepare = MedianMicroseconds(repetitions, [&] { return PreparePage(page, first, second); });
    if (convert < 0 || prepare < 0) {
        std::fprintf(stderr, "a conversion or merge failed\n");
        return 1;
    }
    std::printf("templates: 1127 %lu bytes, 1172 %lu bytes, 1253 %lu bytes; %d repetitions, median of 9 runs\n",
                static_cast<unsigned long>(page.size), static_cast<unsigned long>(first.size),
                static_cast<unsigned long>(second.size), repetitions);
    std::printf("convert 1127 to the extended form:          %8.3f us\n", convert);
    std::printf("convert + merge 1127, 1172@1136, 1253@1154: %8.3f us (target < 20 us)\n", prepare);
    return 0;
}
