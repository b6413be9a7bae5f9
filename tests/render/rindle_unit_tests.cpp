// Rindle's pieces that a whole job cannot reach well: the companion-module paths at the
// path-length limit, and the host program's name in the source-application feature when the
// executable's name holds blanks.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "render/OemPDev.h"

namespace {

TEST(RindlePaths, CompanionModulesBesideTheDataFile)
{
    const std::wstring folder = L"C:\\" + std::wstring(240, L'd') + L"\\";
    struct Case {
        std::wstring dataFile;
        int slot;
        std::wstring expected;  // empty: no path
    };
    const Case cases[] = {
        {L"C:\\drivers\\TOLVA.PPD", kPlugInOEM, L"C:\\drivers\\TOLVA.OEM"},
        {L"C:\\drivers\\TOLVA.PPD", kPlugInUAT, L"C:\\drivers\\TOLVA.UAT"},
        {L"C:\\drivers\\TOLVA.PPD", kPlugInLanguage, L"C:\\drivers\\TOLVA.LAN"},
        {L"C:\\drivers\\TOLVA", kPlugInOEM, L"C:\\drivers\\TOLVA.OEM"},
        {L"C:\\drivers\\TOLVA.PPD", kPlugInSlotCount, L""},
        // 259 characters: the path with the module's extension fits exactly (259 + terminator).
        {folder + std::wstring(259 - 4 - folder.size(), L'n') + L".PPD", kPlugInOEM,
         folder + std::wstring(259 - 4 - folder.size(), L'n') + L".OEM"},
        // A data file without extension whose module path would need 261 characters.
        {folder + std::wstring(257 - folder.size(), L'n'), kPlugInOEM, L""},
        // A shorter extension that the module's outgrows.
        {folder + std::wstring(259 - 2 - folder.size(), L'n') + L".P", kPlugInUAT, L""},
    };
    for (const Case& c : cases) {
        wchar_t out[MAX_PATH];
        std::fill(std::begin(out), std::end(out), L'x');
        const bool made = MakePlugInPath(c.dataFile.c_str(), c.slot, out);
        EXPECT_EQ(made, !c.expected.empty()) << c.dataFile.size();
        EXPECT_EQ(std::wstring(out), c.expected) << c.dataFile.size();
    }
    wchar_t out[MAX_PATH] = {L'x'};
    EXPECT_FALSE(MakePlugInPath(nullptr, kPlugInOEM, out));
    EXPECT_EQ(out[0], L'\0');
}

std::string ReadFileText(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "no job file";
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

// Runs the print host copied under a name with blanks and returns the job it wrote.
std::string PrintWithHostNamed(const std::wstring& exeName)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring exe = std::wstring(temp) + exeName + L".exe";
    const std::wstring job = std::wstring(temp) + exeName + L".ps";
    if (!CopyFileW(TOLVA_PRINTJOB_PATH_W, exe.c_str(), FALSE)) return "copy failed";
    std::wstring command = L"\"" + exe + L"\" --quenta \"" + TOLVA_QUENTA_PATH_W + L"\" \"" + TOLVA_RINDLE_PATH_W +
                           L"\" \"" + TOLVA_MINIMAL_PPD_W + L"\" \"" + job + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string text = "did not run";
    if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 120000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        text = ReadFileText(job);
    }
    DeleteFileW(exe.c_str());
    DeleteFileW(job.c_str());
    return text;
}

TEST(RindleSource, HostProgramNameStaysOneToken)
{
    const std::wstring name = L"Print Job " + std::to_wstring(GetCurrentProcessId());
    const std::string job = PrintWithHostNamed(name);
    const std::string expected =
        "%%BeginFeature: *QVSourceAppType PRINT_JOB_" + std::to_string(GetCurrentProcessId()) + "\r\n";
    EXPECT_NE(job.find(expected), std::string::npos) << job.substr(0, 2000);
}

}  // namespace
