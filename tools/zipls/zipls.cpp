// zipls.exe PACKAGE [--extract DIR]: every item of a driver package as the ZIP extraction layer
// sees it: its code, safe name, attributes, sizes and write time (UTC); with --extract each
// item is also extracted below DIR and the extraction's code printed.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "storage/ZipArchive.h"

namespace {

std::string Narrow(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::string TimeText(const FILETIME& time) {
    SYSTEMTIME utc = {};
    if (!FileTimeToSystemTime(&time, &utc))
        return "-";
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                  utc.wMinute, utc.wSecond);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && !(argc == 4 && std::wcscmp(argv[2], L"--extract") == 0)) {
        std::fprintf(stderr, "usage: zipls.exe PACKAGE [--extract DIR]\n");
        return 2;
    }
    std::wstring folder;
    if (argc == 4) {
        wchar_t full[MAX_PATH] = {};
        DWORD length = GetFullPathNameW(argv[3], MAX_PATH, full, nullptr);
        if (length == 0 || length >= MAX_PATH) {
            std::fprintf(stderr, "bad folder\n");
            return 2;
        }
        folder = full;
        if (folder.back() != L'\\')
            folder += L'\\';
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    ZipArchiveHandle* archive = ZipOpenArchive(argv[1], nullptr);
    if (!archive) {
        std::printf("cannot open %s: code 0x%lX\n", Narrow(argv[1]).c_str(), static_cast<unsigned long>(ZipLastResult.load()));
        return 1;
    }
    ZipItemInfo info;
    ZipGetItemInfo(archive, -1, &info);
    const int count = info.index;
    std::printf("%d items\n", count);
    std::printf("index  code       attr  packed     size       written (UTC)        name\n");
    int failures = 0;
    for (int index = 0; index < count; ++index) {
        DWORD code = ZipGetItemInfo(archive, index, &info);
        if (code != kZipOk) {
            std::printf("%5d  0x%07lX  (information unreadable)\n", index, static_cast<unsigned long>(code));
            ++failures;
            continue;
        }
        std::printf("%5d  0x%07lX  0x%02lX  %9lu  %9lu  %s  %s\n", index, static_cast<unsigned long>(code),
                    static_cast<unsigned long>(info.attributes), static_cast<unsigned long>(info.compressedSize),
                    static_cast<unsigned long>(info.uncompressedSize), TimeText(info.writeTime).c_str(),
                    Narrow(info.name).c_str());
        if (!folder.empty()) {
            std::wstring target = folder + info.name;
            DWORD extracted = target.size() < MAX_PATH ? ZipExtractItem(archive, index, target.c_str()) : kZipErrOpen;
            std::printf("       extracted: 0x%07lX\n", static_cast<unsigned long>(extracted));
            if (extracted != kZipOk)
                ++failures;
        }
    }
    ZipCloseArchive(archive);
    return failures == 0 ? 0 : 1;
}
