// The job monitor's start: the user's job-monitor key, and the stand-in job-monitor library run
// through rundll32 from beside a module in a folder of its own. The stand-in's "autorun" leaves
// "qvjm-ran.txt" beside itself, holding the command line it was started with.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "render/JobMonitor.h"
#include "tests/standins/coredriver/RenderHost.h"
#include "tests/support/TestPrinter.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\VYR\\JOB MONITOR";
const std::wstring kStandIn = std::wstring(TOLVA_TEST_MODULE_DIR_W) + L"\\qvjm.dll";

bool KeyExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void DeleteKey()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    ASSERT_FALSE(KeyExists());
}

// A fresh folder under the temporary folder; removed with its files when the case ends.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& name)
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempFolder()
    {
        // rundll32 may still hold the library for a moment after the marker appears.
        for (int attempt = 0; attempt < 100 && !RemoveAll(); ++attempt) Sleep(50);
    }
    const std::wstring& Path() const { return m_path; }

private:
    bool RemoveAll() const
    {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((m_path + L"*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((m_path + found.cFileName).c_str());
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        return RemoveDirectoryW(m_path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    std::wstring m_path;
};

// The marker's text once it is there (waiting up to ten seconds); empty when it never came.
std::string WaitForMarker(const std::wstring& path)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::ifstream file(path.c_str(), std::ios::binary);
        if (file) return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        Sleep(50);
    }
    return std::string();
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());  // the paths here are ASCII
}

TEST(JobMonitorKey, OpenedOrCreated)
{
    DeleteKey();
    const struct Step {
        bool create;
        int expected;
    } steps[] = {
        {false, 0},  // absent and not to be made
        {true, 1},   // made
        {false, 1},  // there now
        {true, 1},   // there already
    };
    for (const Step& step : steps) {
        EXPECT_EQ(OpenJobMonitorKey(step.create), step.expected) << "create " << step.create;
        EXPECT_EQ(KeyExists(), step.expected == 1) << "create " << step.create;
    }
    DeleteKey();
}

TEST(JobMonitorLaunch, BesideTheModule)
{
    // The module handle must come from a real load: GetModuleFileNameW knows nothing of a
    // data-file mapping. A copy of the stand-in under another name plays Rindle, so the test
    // process never has a qvjm.dll of its own loaded.
    const struct Case {
        const wchar_t* folder;
        bool libraryThere;
    } cases[] = {
        {L"jobmon-plain", true},
        {L"jobmon with blanks", true},  // the library's path is quoted for rundll32
        {L"jobmon-missing", false},
    };
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.folder));
        TempFolder folder(c.folder);
        const std::wstring rindle = folder.Path() + L"Rindle.dll";
        const std::wstring library = folder.Path() + L"qvjm.dll";
        const std::wstring marker = folder.Path() + L"qvjm-ran.txt";
        ASSERT_TRUE(CopyFileW(kStandIn.c_str(), rindle.c_str(), FALSE));
        if (c.libraryThere) {
            ASSERT_TRUE(CopyFileW(kStandIn.c_str(), library.c_str(), FALSE));
        }
        HMODULE module = LoadLibraryW(rindle.c_str());
        ASSERT_NE(module, nullptr);
        DeleteKey();

        const BOOL started = LaunchJobMonitor(module);
        FreeLibrary(module);

        EXPECT_TRUE(KeyExists()) << "the user's key is made before the library is looked for";
        if (!c.libraryThere) {
            EXPECT_EQ(started, 0);
            EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES);
            continue;
        }
        EXPECT_NE(started, 0);
        const std::wstring argument =
            library.find(L' ') == std::wstring::npos ? library : L"\"" + library + L"\"";
        EXPECT_EQ(WaitForMarker(marker), Narrow(std::wstring(system) + L"\\rundll32.exe " + argument + L",autorun"));
    }
    DeleteKey();
    EXPECT_EQ(LaunchJobMonitor(nullptr), 0);
}

TEST(JobMonitorLaunch, DocumentStartLaunchesItWhenTheJobAsksForIt)
{
    // Rindle copied into a folder beside the stand-in library, as a driver package lays them out.
    TempFolder folder(L"jobmon-rindle");
    const std::wstring rindle = folder.Path() + L"Rindle.dll";
    const std::wstring marker = folder.Path() + L"qvjm-ran.txt";
    ASSERT_TRUE(CopyFileW(TOLVA_RINDLE_PATH_W, rindle.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(kStandIn.c_str(), (folder.Path() + L"qvjm.dll").c_str(), FALSE));
    for (const wchar_t* option : {L"False", L"True"}) {
        SCOPED_TRACE(Narrow(option));
        coredriver::PrintJobSetup setup;
        setup.rindlePath = rindle;
        setup.quentaPath = TOLVA_QUENTA_PATH_W;
        setup.ppdPath = tolvatest::FixturePath(L"tolva-sample.ppd");
        setup.companions.push_back({TOLVA_SAMPLE_LAN_W, L"{stem}.LAN"});
        setup.selections.push_back({L"*QVJobMonitor", option});
        coredriver::PrintJobResult job = coredriver::PrintJob(setup);
        ASSERT_TRUE(job.ok);
        if (option[0] == L'F') {
            Sleep(500);
            EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES);
        } else {
            EXPECT_NE(WaitForMarker(marker).find(",autorun"), std::string::npos);
        }
    }
}

}  // namespace
