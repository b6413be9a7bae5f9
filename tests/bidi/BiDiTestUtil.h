// Fixtures of the two-way tests: a private folder per test holding a data file and its
// companions (the server as <stem>.SRV, the stand-in print-server library as <stem>.KQM with
// its script), the stand-in's log, and the servers a test started, ended by process id.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace bidi_test {

// A new empty folder under the build tree, named after tag (removed first when present).
std::wstring MakeTestFolder(const std::wstring& tag);
bool CopyInto(const std::wstring& source, const std::wstring& destination);
bool WriteTextFile(const std::wstring& path, const std::string& text);
std::string ReadTextFile(const std::wstring& path);
// Lines of text containing needle.
int CountLines(const std::string& text, const std::string& needle);

// Process ids of running processes whose image file name is name (ignoring case).
std::vector<DWORD> FindProcesses(const std::wstring& name);
// Ends the process by id and waits for it (at most 5 s). True when it is gone.
bool EndProcess(DWORD pid);
// Ends every process named name; the number ended.
int EndProcesses(const std::wstring& name);
// Waits until no process named name runs; false after timeoutMs.
bool WaitNoProcess(const std::wstring& name, DWORD timeoutMs);
// Runs a program with the command line and waits for it; its exit code, or -1.
long RunAndWait(const std::wstring& program, const std::wstring& commandLine, DWORD timeoutMs);

// One printer's files: <folder>\<stem>.PPD, .SRV, .KQM, .script, .log.
struct BiDiPrinter {
    std::wstring folder, stem;
    std::wstring Path(const wchar_t* extension) const { return folder + L"\\" + stem + extension; }
    std::wstring ppd() const { return Path(L".PPD"); }
    std::wstring srv() const { return Path(L".SRV"); }
    std::wstring kqm() const { return Path(L".KQM"); }
    std::wstring log() const { return Path(L".log"); }
    std::string ReadLog() const { return ReadTextFile(log()); }
    // Ends every server of this stem still running.
    int EndServers() const { return EndProcesses(stem + L".SRV"); }
};

// Paths of the built programs of this width (and of the other width's tree, when built).
std::wstring BrimsaPath(bool otherWidth = false);
std::wstring StandInPath(bool otherWidth = false, bool withoutGetPPD = false);
std::wstring SamplePPDPath();
// The test server that registers the endpoint and never answers BiDiOpen.
std::wstring SilentServerPath();

// Makes the folder and files of a printer: the sample PPD, Brimsa as .SRV (unless server is
// empty), the stand-in as .KQM and its script.
BiDiPrinter MakePrinter(const std::wstring& stem, const std::string& script, const std::wstring& server,
                        const std::wstring& library);

// The script that gives the sample's features reply.
extern const char kSampleScript[];

}  // namespace bidi_test
