// coredriver_host: plays the platform's PostScript core driver for a UI plug-in. It installs
// a printer of the local spooler whose data file is the given PPD, loads the plug-in by
// path, publishes its own IPrintCoreUI2 and runs the device-mode sequence SIZE, DEFAULT,
// CONVERT (of a corrupted block) and MERGE, printing what came back; then it unloads the
// plug-in, loads it again and repeats SIZE and DEFAULT, which now read the cache file that
// the first round compiled beside the PPD.
//
//   coredriver_host [--lan LANGUAGE-MODULE] [--unreadable] PLUGIN.dll PRINTER.ppd
//
// --lan copies a language module beside the installed PPD (as its stem with ".LAN");
// --unreadable removes the installed PPD before the plug-in is called.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "foundation/StrUtil.h"
#include "storage/CfgSettingsManager.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"
#include "tests/support/TestPrinter.h"

namespace {

bool FileTime(const std::wstring& path, FILETIME* written)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *written = data.ftLastWriteTime;
    return true;
}

std::wstring CachePathOf(const std::wstring& ppd)
{
    wchar_t* path = GetCfgCacheFilePath(ppd.c_str());
    std::wstring result = path ? path : L"";
    delete[] path;
    return result;
}

void PrintPluginInfo(IPrintOemUI2* plugin)
{
    DWORD value = 0, needed = 0;
    HRESULT hr = plugin->GetInfo(OEMGI_GETSIGNATURE, &value, sizeof(value), &needed);
    coredriver::PrintLine("GetInfo(signature): hr=0x%08X value=0x%08X needed=%u\n", static_cast<unsigned>(hr),
          static_cast<unsigned>(value), static_cast<unsigned>(needed));
    value = 0;
    hr = plugin->GetInfo(OEMGI_GETVERSION, &value, sizeof(value), &needed);
    coredriver::PrintLine("GetInfo(version): hr=0x%08X value=%u\n", static_cast<unsigned>(hr), static_cast<unsigned>(value));
    coredriver::PrintLine("HideStandardUI(doc)=0x%08X HideStandardUI(printer)=0x%08X\n",
          static_cast<unsigned>(plugin->HideStandardUI(OEMCUIP_DOCPROP)),
          static_cast<unsigned>(plugin->HideStandardUI(OEMCUIP_PRNPROP)));
}

int Usage()
{
    fputs("usage: coredriver_host [--lan LANGUAGE-MODULE] [--unreadable] PLUGIN.dll PRINTER.ppd\n", stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring lan, plugin, ppd;
    bool unreadable = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--lan" && i + 1 < argc)
            lan = argv[++i];
        else if (arg == L"--unreadable")
            unreadable = true;
        else if (plugin.empty())
            plugin = arg;
        else if (ppd.empty())
            ppd = arg;
        else
            return Usage();
    }
    if (plugin.empty() || ppd.empty()) return Usage();

    tolvatest::TestPrinterSetup setup;
    setup.dataFile = ppd;
    if (!lan.empty()) setup.companions.push_back({lan, L"{stem}.LAN"});
    tolvatest::TestPrinter printer(setup);
    if (!printer.Ok()) {
        coredriver::PrintLine("printer set-up failed: %ls\n", printer.Error().c_str());
        return 1;
    }
    coredriver::PrintLine("printer: %ls\ndata file: %ls\n", printer.PrinterName().c_str(), printer.DataFile().c_str());
    if (unreadable) {
        DeleteFileW(printer.DataFile().c_str());
        coredriver::PrintLine("data file removed\n");
    }
    const std::wstring cache = CachePathOf(printer.DataFile());
    FILETIME before = {};
    const bool cacheBefore = FileTime(cache, &before);
    coredriver::PrintLine("cache file: %ls (%hs)\n", cache.c_str(), cacheBefore ? "present" : "absent");

    coredriver::PluginHost host;
    std::wstring error;
    if (!host.Load(plugin, &error)) {
        coredriver::PrintLine("plug-in load failed: %ls\n", error.c_str());
        return 1;
    }
    coredriver::PrintLine("PublishDriverInterface: hr=0x%08X\n", static_cast<unsigned>(host.PublishResult()));
    PrintPluginInfo(host.Plugin());

    coredriver::DevModeSequence seq =
        coredriver::RunDevModeSequence(host.Plugin(), printer.Handle(), printer.PrinterName().c_str());
    // The later blocks are printed only where they differ from the defaults.
    const bool convertSame = seq.convertCorrupt.block == seq.defaults.block;
    const bool mergeSame = seq.merge.block == seq.defaults.block;
    fputs(coredriver::DescribeStep(seq.size).c_str(), stdout);
    fputs(coredriver::DescribeStep(seq.defaults).c_str(), stdout);
    fputs(coredriver::DescribeStep(seq.convertCorrupt, !convertSame).c_str(), stdout);
    coredriver::PrintLine("CONVERT(corrupted) gave the defaults: %hs\n", convertSame ? "yes" : "no");
    fputs(coredriver::DescribeStep(seq.merge, !mergeSame).c_str(), stdout);
    coredriver::PrintLine("MERGE(defaults) kept the defaults: %hs\n", mergeSame ? "yes" : "no");

    FILETIME first = {};
    const bool cacheFirst = FileTime(cache, &first);
    coredriver::PrintLine("cache after first round: %hs\n",
          !cacheFirst ? "absent" : (cacheBefore && CompareFileTime(&before, &first) == 0 ? "unchanged" : "compiled"));

    // A fresh module has a fresh settings manager: this round reads the cache file.
    host.Unload();
    if (!host.Load(plugin, &error)) {
        coredriver::PrintLine("plug-in reload failed: %ls\n", error.c_str());
        return 1;
    }
    coredriver::DevModeStep size =
        coredriver::CallDevMode(host.Plugin(), "second SIZE", OEMDM_SIZE, printer.Handle(), nullptr, 0, nullptr);
    coredriver::DevModeStep defaults = coredriver::CallDevMode(host.Plugin(), "second DEFAULT", OEMDM_DEFAULT,
                                                               printer.Handle(), nullptr, size.bufSize, nullptr);
    fputs(coredriver::DescribeStep(size).c_str(), stdout);
    coredriver::PrintLine("second DEFAULT: hr=0x%08X same as first: %hs\n", static_cast<unsigned>(defaults.result),
          defaults.block == seq.defaults.block ? "yes" : "no");
    FILETIME second = {};
    const bool cacheSecond = FileTime(cache, &second);
    coredriver::PrintLine("cache after second round: %hs\n",
          !cacheSecond ? "absent" : (cacheFirst && CompareFileTime(&first, &second) == 0 ? "loaded" : "rewritten"));
    host.Unload();
    coredriver::PrintLine("core interface references left: %ld\n", static_cast<long>(host.Core().RefCount() - 1));
    DeleteFileW(cache.c_str());  // the printer goes; so does what the plug-in wrote beside it
    return 0;
}
