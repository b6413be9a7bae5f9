// zip_bench.exe [PACKAGE [SCRATCH]]: unpacks a driver package (by default the 500-item bench
// package of the ZIP tests) through UnpackDriverPackage and through bare minizip with plain
// writes into SCRATCH, several rounds each, and prints MB/s (uncompressed bytes), ms per item
// and the layer's overhead over bare minizip. It prints figures and judges nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "storage/ZipArchive.h"
#include "tests/support/TestPrinter.h"
#include "uiplugin/Events.h"

extern "C" {
#include "unzip.h"
// after unzip.h, which brings the zlib declarations it needs
#include "iowin32.h"
}

namespace {

constexpr int kRounds = 5;

using tolvatest::DeleteTree;

// Bare minizip: every item inflated and written with plain CreateFileW/WriteFile, folders
// made as needed. Returns the uncompressed bytes and the item count.
bool BareUnpack(const std::wstring& package, const std::wstring& folder, unsigned long long* bytes, int* items) {
    zlib_filefunc64_def files;
    fill_win32_filefunc64W(&files);
    unzFile archive = unzOpen2_64(package.c_str(), &files);
    if (!archive)
        return false;
    std::vector<char> buffer(64 * 1024);
    *bytes = 0;
    *items = 0;
    CreateDirectoryW(folder.c_str(), nullptr);
    for (int status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
        char name[261] = {};
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(archive, &info, name, 260, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        wchar_t wide[261] = {};
        MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 260);
        std::wstring path = folder + L"\\" + wide;
        std::replace(path.begin(), path.end(), L'/', L'\\');
        for (size_t at = folder.size() + 1; (at = path.find(L'\\', at)) != std::wstring::npos; ++at)
            CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
        if (path.back() == L'\\')
            continue;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE || unzOpenCurrentFile(archive) != UNZ_OK) {
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            continue;
        }
        int got = 0;
        while ((got = unzReadCurrentFile(archive, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
            DWORD written = 0;
            WriteFile(file, buffer.data(), static_cast<DWORD>(got), &written, nullptr);
            *bytes += written;
        }
        unzCloseCurrentFile(archive);
        CloseHandle(file);
        ++*items;
    }
    unzClose(archive);
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring package = argc > 1 ? argv[1] : TOLVA_BENCH_PACKAGE_W;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring scratch = argc > 2 ? argv[2] : std::wstring(temp) + L"zip_bench";
    CreateDirectoryW(scratch.c_str(), nullptr);
    const std::wstring dataFile = scratch + L"\\BENCH.PPD";
    const std::wstring staged = scratch + L"\\BENCH.TQX";
    HANDLE ppd = CreateFileW(dataFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ppd != INVALID_HANDLE_VALUE)
        CloseHandle(ppd);
    if (!CopyFileW(package.c_str(), staged.c_str(), FALSE)) {
        std::fprintf(stderr, "cannot copy the package (%lu)\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }

    unsigned long long bytes = 0;
    int items = 0;
    std::vector<double> bare, layer, listing;
    for (int round = 0; round < kRounds; ++round) {
        DeleteTree(scratch + L"\\bare");
        double start = BenchSeconds();
        if (!BareUnpack(staged, scratch + L"\\bare", &bytes, &items)) {
            std::fprintf(stderr, "minizip cannot open the package\n");
            return 1;
        }
        bare.push_back(BenchSeconds() - start);

        // The item information alone (names, attributes, times, local extra fields).
        start = BenchSeconds();
        if (ZipArchiveHandle* archive = ZipOpenArchive(staged.c_str(), nullptr)) {
            ZipItemInfo info;
            ZipGetItemInfo(archive, -1, &info);
            for (int index = 0, count = info.index; index < count; ++index)
                ZipGetItemInfo(archive, index, &info);
            ZipCloseArchive(archive);
        }
        listing.push_back(BenchSeconds() - start);

        DeleteTree(scratch + L"\\BENCH");
        start = BenchSeconds();
        BOOL all = UnpackDriverPackage(dataFile.c_str());
        layer.push_back(BenchSeconds() - start);
        if (!all)
            std::fprintf(stderr, "round %d: not every item could be read\n", round);
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    const double bareTime = Median(bare), layerTime = Median(layer);
    std::printf("package: %d items, %.1f MB uncompressed; median of %d rounds\n", items, megabytes, kRounds);
    std::printf("bare minizip + writes:  %7.1f MB/s  %6.3f ms/item\n", megabytes / bareTime, bareTime * 1000.0 / items);
    std::printf("UnpackDriverPackage:    %7.1f MB/s  %6.3f ms/item\n", megabytes / layerTime,
                layerTime * 1000.0 / items);
    std::printf("overhead of the layer:  %+.1f%%\n", (layerTime / bareTime - 1.0) * 100.0);
    std::printf("item information only:  %6.3f ms/item\n", Median(listing) * 1000.0 / items);
    DeleteTree(scratch);
    return 0;
}
