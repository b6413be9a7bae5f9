// bidiquery: asks a controller's settings through the whole two-way road, as a property sheet
// would. The PPD is copied into a scratch folder with Brimsa as <stem>.SRV and the stand-in
// print-server library as <stem>.KQM (or, with --tesmor, beside Tesmor as the build placed it
// with its protocol-library stand-ins); then one client connects,
// and the tool prints "connected N", the reply's key=value lines, the count and the
// milliseconds to the first answer. The server it started is ended before it returns.
//
//   bidiquery [--tesmor] [--script FILE] [--mask N] PPD ADDRESS
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "BiDiTestUtil.h"
#include "bench/BenchClock.h"
#include "uiplugin/BiDiClient.h"

int wmain(int argc, wchar_t** argv) {
    bool tesmor = false;
    std::wstring script, ppd, address;
    long mask = BiDiFeatures;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--tesmor") {
            tesmor = true;
        } else if (arg == L"--script" && i + 1 < argc) {
            script = argv[++i];
        } else if (arg == L"--mask" && i + 1 < argc) {
            mask = wcstol(argv[++i], nullptr, 10);
        } else if (ppd.empty()) {
            ppd = arg;
        } else {
            address = arg;
        }
    }
    if (ppd.empty() || address.empty()) {
        fputs("usage: bidiquery [--tesmor] [--script FILE] [--mask N] PPD ADDRESS\n", stderr);
        return 2;
    }
    bidi_test::BiDiPrinter printer;
    if (tesmor) {
        // Tesmor finds its protocol libraries in a folder named after its own file: it is
        // used in place, as the build assembled it (Sample.KQM beside Sample\).
        std::wstring standins = TOLVA_STANDIN_DIR_W;
        printer.folder = standins.substr(0, standins.size() - 3) + L"velmo";
        printer.stem = L"Sample";
        if (!bidi_test::CopyInto(bidi_test::BrimsaPath(), printer.srv())) {
            fputs("cannot place Brimsa beside Tesmor\n", stderr);
            return 1;
        }
    } else {
        const std::string scriptText =
            script.empty() ? std::string(bidi_test::kSampleScript) : bidi_test::ReadTextFile(script);
        printer = bidi_test::MakePrinter(L"BiDiQuery", scriptText, bidi_test::BrimsaPath(), bidi_test::StandInPath());
    }
    if (!bidi_test::CopyInto(ppd, printer.ppd())) {
        fputs("cannot copy the PPD\n", stderr);
        return 1;
    }
    const double start = BenchSeconds();
    long count = 0;
    long connected = 0;
    std::unique_ptr<wchar_t[]> text;
    {
        CBiDiClient client(printer.srv().c_str(), printer.ppd().c_str(), address.c_str(), nullptr);
        text.reset(client.GetText(mask, &count));
        const double first = BenchSeconds();
        connected = client.IsConnected();
        printf("connected %ld\n", connected);
        for (long at = 0; text && at < count && text[at];) {
            const wchar_t* key = text.get() + at;
            const wchar_t* value = key + wcslen(key) + 1;
            printf("%ls=%ls\n", key, value);
            at = static_cast<long>(value - text.get()) + static_cast<long>(wcslen(value)) + 2;
        }
        printf("count %ld\n", count);
        printf("first answer ms %.1f\n", (first - start) * 1000.0);
    }
    printer.EndServers();
    return text ? 0 : 1;
}
