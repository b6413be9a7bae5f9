// Helpers of the job-settings library tests: a scratch folder laid out as an installed
// driver (Quenta.dll, Quenta\tq2.dll of one stand-in variant with its tq2.cfg, qvjm.dll),
// the stand-in's call log, and the sample printer's driver state.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "tests/standins/ModuleCallLog.h"
#include "tests/support/TestPrinter.h"

namespace tqtest {

inline std::wstring BuildPath(const wchar_t* relative) { return std::wstring(TOLVA_BUILD_ROOT_W) + relative; }

// A driver folder in %TEMP% with Quenta.dll, Quenta\tq2.dll (+ tq2.cfg) and qvjm.dll.
class TQFolder {
public:
    // variant: full, novalidate, nofree, nosdm; empty: no library at all.
    explicit TQFolder(const std::wstring& variant, const std::string& config = std::string(), bool monitor = true) {
        static int counter = 0;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_dir = std::wstring(temp) + L"tqtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter) + L"\\";
        CreateDirectoryW(m_dir.c_str(), nullptr);
        CreateDirectoryW((m_dir + L"Quenta").c_str(), nullptr);
        CopyFileW(BuildPath(L"\\bin\\Quenta.dll").c_str(), (m_dir + L"Quenta.dll").c_str(), FALSE);
        if (monitor) CopyFileW(BuildPath(L"\\tests\\standins\\bin\\qvjm.dll").c_str(), (m_dir + L"qvjm.dll").c_str(), FALSE);
        if (!variant.empty()) {
            CopyFileW(BuildPath((L"\\tests\\standins\\bin\\tq2\\" + variant + L"\\tq2.dll").c_str()).c_str(),
                      LibraryPath().c_str(), FALSE);
            WriteConfig(config);
            m_library = LoadLibraryW(LibraryPath().c_str());
            ResetModuleCallLog(m_library);
        }
        m_quenta = LoadLibraryW((m_dir + L"Quenta.dll").c_str());
    }
    ~TQFolder() {
        if (m_quenta) FreeLibrary(m_quenta);
        if (m_library) FreeLibrary(m_library);
        for (const wchar_t* name : {L"Quenta\\tq2.dll", L"Quenta\\tq2.cfg", L"Quenta\\tq2.log", L"Quenta.dll", L"qvjm.dll"})
            DeleteFileW((m_dir + name).c_str());
        RemoveDirectoryW((m_dir + L"Quenta").c_str());
        RemoveDirectoryW(m_dir.c_str());
    }
    TQFolder(const TQFolder&) = delete;
    TQFolder& operator=(const TQFolder&) = delete;

    void WriteConfig(const std::string& text) const {
        HANDLE file = CreateFileW((m_dir + L"Quenta\\tq2.cfg").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    std::wstring LibraryPath() const { return m_dir + L"Quenta\\tq2.dll"; }
    const std::wstring& Dir() const { return m_dir; }
    HMODULE Quenta() const { return m_quenta; }
    HMODULE Library() const { return m_library; }
    std::string Log() const { return m_library ? ReadModuleCallLog(m_library) : std::string(); }
    void ResetLog() const { ResetModuleCallLog(m_library); }
    int LiveBuffers() const {
        using Fn = int (*)();
        auto live = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(m_library, "TestLiveBuffers")));
        return live ? live() : -1;
    }

private:
    std::wstring m_dir;
    HMODULE m_quenta = nullptr;
    HMODULE m_library = nullptr;
};

// The first word of every log line.
inline std::vector<std::string> CallNames(const std::string& log) {
    std::vector<std::string> names;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        names.push_back(line.substr(0, line.find(' ')));
        at = end + 1;
    }
    return names;
}

// The names of log restricted to those in wanted, in log order.
inline std::vector<std::string> Only(const std::string& log, const std::vector<std::string>& wanted) {
    std::vector<std::string> out;
    for (auto& name : CallNames(log))
        for (auto& w : wanted)
            if (name == w) out.push_back(name);
    return out;
}

inline size_t Count(const std::string& log, const std::string& name) {
    size_t n = 0;
    for (auto& call : CallNames(log)) n += call == name;
    return n;
}

// The sample printer (language module and OEM picture module beside it) with a driver state.
class SamplePrinter {
public:
    SamplePrinter() : m_printer(Setup()) {
        if (!m_printer.Ok()) return;
        m_settings = AcquireCfgSettings(m_printer.DataFile().c_str());
        if (m_settings) m_state = std::make_unique<CBaseDrvState>(m_settings);
        // The settings a document starts with: the whole load over the printer.
        if (m_state && m_state->IsValid()) {
            DevmodeSet places;
            places.printer = m_printer.Handle();
            if (!m_state->LoadAll(m_settings, places, nullptr, 0))
                m_state->GetCurrentSettings()->SetAll(m_state->GetDefaultSettings());
        }
    }
    ~SamplePrinter() {
        m_state.reset();
        if (m_settings) ReleaseCfgSettings(m_printer.DataFile().c_str(), m_settings);
    }
    bool Ok() const { return m_state && m_state->IsValid(); }
    std::wstring Error() const { return m_printer.Error(); }
    CBaseDrvState* State() const { return m_state.get(); }
    CfgSettings* Settings() const { return m_settings; }
    const tolvatest::TestPrinter& Printer() const { return m_printer; }

private:
    static tolvatest::TestPrinterSetup Setup() {
        tolvatest::TestPrinterSetup setup;
        setup.dataFile = tolvatest::FixturePath(L"tolva-sample.ppd");
        setup.companions.push_back({std::wstring(TOLVA_LAN_DIR_W) + L"\\tolva-sample.LAN", L"{stem}.LAN"});
        setup.companions.push_back({BuildPath(L"\\tests\\standins\\bin\\PRNFULL.OEM"), L"{stem}.OEM"});
        return setup;
    }
    tolvatest::TestPrinter m_printer;
    CfgSettings* m_settings = nullptr;
    std::unique_ptr<CBaseDrvState> m_state;
};

// A driver state over a variant of the sample PPD written into %TEMP%: insert goes right
// before the line that starts with before (appended when empty), CR LF after each line. The
// installable options of the variant (key section 1) are kept too.
class VariantState {
public:
    VariantState(const std::string& insert, const std::string& before = std::string()) {
        static int counter = 0;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_dir = std::wstring(temp) + L"tqvariant-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        CreateDirectoryW(m_dir.c_str(), nullptr);
        m_ppd = m_dir + L"\\VARIANT.PPD";
        std::string text = ReadBytes(tolvatest::FixturePath(L"tolva-sample.ppd"));
        std::string lines;
        for (size_t at = 0; at < insert.size();) {
            size_t end = insert.find('\n', at);
            if (end == std::string::npos) end = insert.size();
            lines += insert.substr(at, end - at) + "\r\n";
            at = end + 1;
        }
        size_t where = before.empty() ? std::string::npos : text.find("\n" + before);
        text = where == std::string::npos ? text + lines : text.substr(0, where + 1) + lines + text.substr(where + 1);
        HANDLE file = CreateFileW(m_ppd.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
        CfgSettingsHold hold(m_ppd.c_str());
        if (!hold.Get()) return;
        m_state = std::make_unique<CBaseDrvState>(hold.Get());
        if (!m_state->IsValid()) return;
        m_state->GetCurrentSettings()->SetAll(m_state->GetDefaultSettings());
        hold.Get()->LoadSectionSettings(1, &m_installed, nullptr, nullptr);
    }
    ~VariantState() {
        m_state.reset();
        DeleteFileW(m_ppd.c_str());
        DeleteFileW((m_dir + L"\\VARIANT.PBJ").c_str());
        RemoveDirectoryW(m_dir.c_str());
    }
    VariantState(const VariantState&) = delete;
    VariantState& operator=(const VariantState&) = delete;

    bool Ok() const { return m_state && m_state->IsValid(); }
    CBaseDrvState* State() const { return m_state.get(); }
    KVCache* Installed() { return &m_installed; }
    const std::wstring& PPD() const { return m_ppd; }

private:
    static std::string ReadBytes(const std::wstring& path) {
        std::string bytes;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return bytes;
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
        CloseHandle(file);
        return bytes;
    }
    std::wstring m_dir, m_ppd;
    std::unique_ptr<CBaseDrvState> m_state;
    KVCache m_installed;
};

// A test suite over one sample printer, made once for the suite.
class SamplePrinterSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sample = new SamplePrinter(); }
    static void TearDownTestSuite() {
        delete sample;
        sample = nullptr;
    }
    static inline SamplePrinter* sample = nullptr;
};

}  // namespace tqtest
