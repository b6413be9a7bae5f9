// Benchmark of the job-settings library client: collecting and applying the key/value
// array of 300 settings, the SMDData document of 200 installed options, and the first
// opening of the job UI against the tq2.dll stand-in (ready at once).
//
//   jobsettings_bench <Quenta.dll> <tq2.dll>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/BenchClock.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "uiplugin/SDMInterface.h"
#include "uiplugin/TQInterface.h"
#include "uiplugin/TQManager.h"

namespace {

// A PPD of count PickOne options in folder; its path.
std::wstring WriteManyOptionPPD(const std::wstring& folder, int count) {
    std::string text = "*PPD-Adobe: \"4.3\"\r\n*LanguageVersion: English\r\n*LanguageEncoding: ISOLatin1\r\n"
                       "*ShortNickName: \"Bench\"\r\n";
    for (int i = 0; i < count; ++i) {
        char block[400];
        snprintf(block, sizeof block,
                 "*OpenUI *BenchOpt%d/Option %d: PickOne\r\n*DefaultBenchOpt%d: A\r\n*BenchOpt%d A/A: \"\"\r\n"
                 "*BenchOpt%d B/B: \"\"\r\n*CloseUI: *BenchOpt%d\r\n",
                 i, i, i, i, i, i);
        text += block;
    }
    std::wstring path = folder + L"bench.ppd";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

int WINAPI NoBox(HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: jobsettings_bench <Quenta.dll> <tq2.dll>\n");
        return 2;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"tqbench-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"Quenta").c_str(), nullptr);
    CopyFileW(argv[1], (folder + L"Quenta.dll").c_str(), FALSE);
    CopyFileW(argv[2], (folder + L"Quenta\\tq2.dll").c_str(), FALSE);
    HMODULE quenta = LoadLibraryW((folder + L"Quenta.dll").c_str());
    TQInterface::SetMessageBoxSeam(&NoBox);

    std::wstring ppd = WriteManyOptionPPD(folder, 300);
    CfgSettings* settings = AcquireCfgSettings(ppd.c_str());
    if (!settings) {
        fprintf(stderr, "cannot compile the bench PPD\n");
        return 1;
    }
    int result = 0;
    {
        CDrvState state(settings);
        CBaseSoup* soup = state.GetSoup();
        KVCache* current = state.GetCurrentSettings();
        current->SetAll(state.GetDefaultSettings());
        OptionForest* forest = state.GetKeyForest();
        printf("settings: %u\n", static_cast<unsigned>(current->GetCount()));

        const int rounds = 200;
        double start = BenchSeconds();
        for (int i = 0; i < rounds; ++i) {
            TQKeyValueArray* values = TQInterface::CollectKeyValues(soup, current, current, forest, TRUE, TRUE);
            KVCache target;
            TQInterface::ApplyKeyValues(values, soup, forest, &target, current);
            FreeKeyValueArray(values);
        }
        printf("collect+apply of %u keys: %.3f ms\n", static_cast<unsigned>(current->GetCount()),
               (BenchSeconds() - start) * 1000.0 / rounds);
        start = BenchSeconds();
        for (int i = 0; i < rounds; ++i)
            FreeKeyValueArray(TQInterface::CollectKeyValues(soup, current, current, forest, TRUE, TRUE));
        printf("  of which collect: %.3f ms\n", (BenchSeconds() - start) * 1000.0 / rounds);

        HWND page = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 700, 600, nullptr, nullptr, nullptr, nullptr);
        TQInterface* client = AcquireTQInterface(quenta, nullptr, FALSE);
        if (!client || !client->IsLoaded()) {
            fprintf(stderr, "the library stand-in did not load\n");
            result = 1;
        } else {
            KVCache installed;
            int n = 0;
            for (auto it = current->Begin(); it != current->End() && n < 200; ++it, ++n) installed.Set(current->GetAt(it));
            KVCache extra;
            start = BenchSeconds();
            client->OpenJobUI(page, ppd.c_str(), soup, current, &installed, forest, nullptr, L"q", nullptr, nullptr,
                              MAKEINTRESOURCEW(3097), &extra, L"1252", L"en");
            printf("first OpenJobUI (ready at once): %.3f ms\n", (BenchSeconds() - start) * 1000.0);
            start = BenchSeconds();
            for (int i = 0; i < rounds; ++i) {
                wchar_t* text = nullptr;
                BuildSMDDataCallback(client, &text);
                void* buffer = text;
                client->GetCallbacks()->bufferRelease(client, &buffer);
            }
            printf("SMDData of %u options: %.3f ms\n", static_cast<unsigned>(installed.GetCount()),
                   (BenchSeconds() - start) * 1000.0 / rounds);
        }
        ReleaseTQInterface(client);
        DestroyWindow(page);
    }
    ReleaseCfgSettings(ppd.c_str(), settings);
    FreeLibrary(quenta);
    for (const wchar_t* name : {L"Quenta\\tq2.dll", L"Quenta\\tq2.log", L"Quenta.dll", L"bench.ppd", L"bench.PBJ"})
        DeleteFileW((folder + name).c_str());
    RemoveDirectoryW((folder + L"Quenta").c_str());
    RemoveDirectoryW(folder.c_str());
    return result;
}
