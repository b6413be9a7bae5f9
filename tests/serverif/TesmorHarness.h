// Test harness for Tesmor: a copy of the driver folder (Sample.KQM and its protocol
// libraries) under %TEMP%, the copy loaded as the two-way server loads it (altered search
// path, exports bound by name), the simulator's script and log.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serverif/ServerInterface.h"
#include "serverif/ServerInterfaceBinding.h"
#include "tests/standins/velmo/VelmoSimLog.h"

#ifndef VELMO_STANDIN_DIR_W
#error "VELMO_STANDIN_DIR_W names the stand-ins' build folder"
#endif

namespace tesmor_test {

inline std::wstring TempRoot()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"tesmor-test-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
}

inline std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c);  // the harness' own paths are ASCII
    return out;
}

inline void RemoveTree(const std::wstring& dir)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(dir + name + L"\\");
            else
                DeleteFileW((dir + name).c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

inline void WriteFileText(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Narrow(path);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

inline std::string ReadFileText(const std::wstring& path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[8192];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

// The simulator's log of this process, read from a mark on.
class SimLog {
public:
    explicit SimLog(const std::wstring& path) : m_path(path)
    {
        DeleteFileW(path.c_str());
        SetEnvironmentVariableW(L"VELMO_SIM_LOG", path.c_str());
    }
    void Mark() { m_mark = ReadFileText(m_path).size(); }
    // The lines since the mark.
    std::string Since() const
    {
        const std::string text = ReadFileText(m_path);
        return m_mark <= text.size() ? text.substr(m_mark) : text;
    }
    std::vector<std::string> LinesSince() const
    {
        std::vector<std::string> lines;
        const std::string text = Since();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
    // Faults the simulator noticed anywhere in the log.
    std::string Faults() const { return velmo_sim::FaultLines(ReadFileText(m_path)); }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    size_t m_mark = 0;
};

inline void UseScript(const std::wstring& path, const std::string& text)
{
    WriteFileText(path, text);
    SetEnvironmentVariableW(L"VELMO_SIM_SCRIPT", path.c_str());
}

using TesmorApi = QVServerExports;

// A driver folder "<temp>\<name>\dir.v2 x\" holding Sample.KQM and Sample\ with the
// protocol libraries: optionally without one library, or with the libraries of a variant
// folder (variants\NAME) in place of the sample's.
class DriverFolder {
public:
    explicit DriverFolder(const std::wstring& name, const wchar_t* omit = nullptr, const wchar_t* variant = nullptr)
    {
        const std::wstring source = VELMO_STANDIN_DIR_W L"\\";
        CreateDirectoryW(TempRoot().c_str(), nullptr);
        m_root = TempRoot() + name + L"\\";
        RemoveTree(m_root);
        CreateDirectoryW(m_root.c_str(), nullptr);
        m_dir = m_root + L"dir.v2 x\\";
        CreateDirectoryW(m_dir.c_str(), nullptr);
        CreateDirectoryW((m_dir + L"Sample").c_str(), nullptr);
        CopyFileW((source + L"Sample.KQM").c_str(), KqmPath().c_str(), FALSE);
        for (const wchar_t* file : {L"velmoqzt10.dll", L"velmoqzt_vyrm.dll", L"velmoqzt_vyr_color.dll",
                                    L"velmoqzt_ctp.dll", L"velmoqzt_pcat.dll", L"velmoqzt_sim.dll"}) {
            if (omit && wcscmp(omit, file) == 0)
                continue;
            // A variant folder holds the libraries it changes; the rest come from Sample.
            std::wstring from = source + L"Sample\\" + file;
            const std::wstring changed = variant ? source + L"variants\\" + variant + L"\\" + file : L"";
            if (variant && GetFileAttributesW(changed.c_str()) != INVALID_FILE_ATTRIBUTES)
                from = changed;
            EXPECT_TRUE(CopyFileW(from.c_str(), (m_dir + L"Sample\\" + file).c_str(), FALSE)) << Narrow(from);
        }
    }
    ~DriverFolder()
    {
        Unload();
        RemoveTree(m_root);
    }
    DriverFolder(const DriverFolder&) = delete;
    DriverFolder& operator=(const DriverFolder&) = delete;

    std::wstring KqmPath() const { return m_dir + L"Sample.KQM"; }
    std::wstring Dir() const { return m_dir; }

    // Loads the library as the two-way server does and binds the sixteen exports.
    bool Load()
    {
        m_module = LoadLibraryExW(KqmPath().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        return m_module && api.BindAll(m_module);
    }
    void Unload()
    {
        if (m_module)
            FreeLibrary(m_module);
        m_module = nullptr;
    }
    HMODULE Module() const { return m_module; }

    TesmorApi api;

private:
    std::wstring m_root;
    std::wstring m_dir;
    HMODULE m_module = nullptr;
};

// The records of a list as "key=value" lines.
inline std::vector<std::wstring> ListText(const QVObList& list)
{
    std::vector<std::wstring> lines;
    QVObList::Position position = list.GetHeadPosition();
    while (position) {
        auto* record = static_cast<QVKeyVal*>(list.GetNext(position));
        lines.push_back(record ? std::wstring(record->Key()) + L"=" + record->Value() : L"(null)");
    }
    return lines;
}

inline bool Failed(INT_PTR status) { return status == QVSERVER_FAILED; }

}  // namespace tesmor_test
