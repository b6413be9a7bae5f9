// PPD variants for the driver-tab tests: the sample PPD with lines appended, written into a
// fresh folder of the build tree, and a driver state over it.
#pragma once

#include <windows.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"

namespace tabtest {

inline std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

// The about page's lines: a model version, a link to the controller, and the server
// information labels (name and version) with their note settings.
inline const std::string kAboutLines =
    "*QVVersion 3.0/Version 3.0: \"\"\n"
    "*DefaultQVAboutURL: Home\n"
    "*QVAboutURL Home/Controller Home Page: \"http://%s/x\"\n"
    "*%VYRNONUI_QVServerInfo *QVServerName/Server Name: \"\"\n"
    "*%VYRNONUI_QVServerInfo *QVServerVersion/Server Version: \"\"\n"
    "*%JobNote *QVServerName/Server Name: 63:\n"
    "*%JobNote *QVServerVersion/Server Version: 31:\n";

// A fresh folder below the test's build folder, unique per process.
inline std::wstring ScratchDir(const std::wstring& name)
{
    std::wstring dir = std::wstring(TOLVA_BINARY_DIR_W) + L"\\scratch-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    dir += L"\\" + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// Writes the sample PPD with extra lines (CR LF each) as dir\fileName; returns its path.
inline std::wstring WriteSampleVariant(const std::wstring& dir, const wchar_t* fileName, const std::string& extra)
{
    std::string text = ReadFileBytes(std::wstring(TOLVA_SHARED_DIR_W) + L"\\fixtures\\tolva-sample.ppd");
    std::string lines;
    for (size_t start = 0; start < extra.size();) {
        size_t end = extra.find('\n', start);
        if (end == std::string::npos) end = extra.size();
        lines += extra.substr(start, end - start) + "\r\n";
        start = end + 1;
    }
    std::wstring path = dir + L"\\" + fileName;
    DeleteFileW((dir + L"\\" + std::wstring(fileName, std::wstring(fileName).rfind(L'.')) + L".PBJ").c_str());
    return WriteFileBytes(path, text + lines) ? path : std::wstring();
}

// A driver state over a PPD, holding its compiled settings.
class StateOver {
public:
    explicit StateOver(const std::wstring& ppd) : m_path(ppd)
    {
        m_settings = AcquireCfgSettings(m_path.c_str());
        if (m_settings) m_state = std::make_unique<CBaseDrvState>(m_settings);
    }
    ~StateOver()
    {
        m_state.reset();
        if (m_settings) ReleaseCfgSettings(m_path.c_str(), m_settings);
    }
    StateOver(const StateOver&) = delete;
    StateOver& operator=(const StateOver&) = delete;

    bool Ok() const { return m_state && m_state->IsValid(); }
    CBaseDrvState* State() const { return m_state.get(); }
    CfgSettings* Settings() const { return m_settings; }

private:
    std::wstring m_path;
    CfgSettings* m_settings = nullptr;
    std::unique_ptr<CBaseDrvState> m_state;
};

}  // namespace tabtest
