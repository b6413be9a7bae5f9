// Fixtures of the two-way tests.
#include "BiDiTestUtil.h"

#include <cstdio>

namespace bidi_test {

const char kSampleScript[] =
    "feature Tolva Duplex Unit=False\n"
    "feature Installed Memory=4GB\n"
    "feature No Such Key=1\n"
    "feature Tolva Finisher=Bogus\n"
    "installable TolvaTray3=True\n"
    "installable TolvaFinisher=Stapler\n";

namespace {

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

std::wstring MakeTestFolder(const std::wstring& tag) {
    const std::wstring root = std::wstring(TOLVA_BINARY_DIR_W) + L"\\work";
    CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring folder = root + L"\\" + tag;
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool CopyInto(const std::wstring& source, const std::wstring& destination) {
    return CopyFileW(source.c_str(), destination.c_str(), FALSE) != FALSE;
}

bool WriteTextFile(const std::wstring& path, const std::string& text) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    const bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    fclose(file);
    return ok;
}

std::string ReadTextFile(const std::wstring& path) {
    std::string text;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
    fclose(file);
    return text;
}

int CountLines(const std::string& text, const std::string& needle) {
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.substr(start, end - start).find(needle) != std::string::npos) ++count;
        start = end + 1;
    }
    return count;
}

std::vector<DWORD> FindProcesses(const std::wstring& name) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, name.c_str()) == 0) found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

bool EndProcess(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) return true;
    TerminateProcess(process, 9);
    const bool gone = WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return gone;
}

int EndProcesses(const std::wstring& name) {
    int ended = 0;
    for (DWORD pid : FindProcesses(name))
        if (EndProcess(pid)) ++ended;
    return ended;
}

bool WaitNoProcess(const std::wstring& name, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!FindProcesses(name).empty()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

long RunAndWait(const std::wstring& program, const std::wstring& commandLine, DWORD timeoutMs) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    CloseHandle(info.hThread);
    long result = -1;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(info.hProcess, &code)) result = static_cast<long>(code);
    } else {
        TerminateProcess(info.hProcess, 9);
        WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hProcess);
    return result;
}

std::wstring BrimsaPath(bool otherWidth) {
    return std::wstring(otherWidth ? TOLVA_OTHER_BIN_DIR_W : TOLVA_BIN_DIR_W) + L"\\Brimsa.exe";
}

std::wstring StandInPath(bool otherWidth, bool withoutGetPPD) {
    return std::wstring(otherWidth ? TOLVA_OTHER_STANDIN_DIR_W : TOLVA_STANDIN_DIR_W) +
           (withoutGetPPD ? L"\\printserver_noppd_standin.dll" : L"\\printserver_standin.dll");
}

std::wstring SilentServerPath() { return std::wstring(TOLVA_BIN_DIR_W) + L"\\bidi_silent_server.exe"; }

std::wstring SamplePPDPath() { return std::wstring(TOLVA_SHARED_DIR_W) + L"\\fixtures\\tolva-sample.ppd"; }

BiDiPrinter MakePrinter(const std::wstring& stem, const std::string& script, const std::wstring& server,
                        const std::wstring& library) {
    BiDiPrinter printer;
    printer.folder = MakeTestFolder(stem);
    printer.stem = stem;
    CopyInto(SamplePPDPath(), printer.ppd());
    if (!server.empty()) CopyInto(server, printer.srv());
    if (!library.empty()) CopyInto(library, printer.kqm());
    WriteTextFile(printer.Path(L".script"), script);
    return printer;
}

}  // namespace bidi_test
