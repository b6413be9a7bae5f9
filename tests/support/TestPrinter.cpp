// The spooler printer fixture of the tests (see TestPrinter.h).
#include "tests/support/TestPrinter.h"

#include <winspool.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

namespace tolvatest {
namespace {

std::atomic<unsigned> g_serial{0};

std::wstring FileNameOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::wstring ReplaceStem(std::wstring name, const std::wstring& stem) {
    const std::wstring tag = L"{stem}";
    for (size_t at = name.find(tag); at != std::wstring::npos; at = name.find(tag, at + stem.size()))
        name.replace(at, tag.size(), stem);
    return name;
}

// A one-byte file: the spooler wants a driver module and a config module to exist.
bool WritePlaceholder(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, "\0", 1, &written, nullptr);
    CloseHandle(file);
    return ok && written == 1;
}

// Copies keep the source's attributes, and the shared fixtures are read-only.
void MakeWritable(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

void DeleteWritable(const std::wstring& path) {
    MakeWritable(path);
    DeleteFileW(path.c_str());
}

std::string ReplaceStemA(std::string text, const std::wstring& stem) {
    std::string narrow(stem.begin(), stem.end());  // stems are ASCII
    const std::string tag = "{stem}";
    for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + narrow.size()))
        text.replace(at, tag.size(), narrow);
    return text;
}

bool WriteContent(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

}  // namespace

TestPrinter::TestPrinter(const TestPrinterSetup& setup) { Install(setup); }

TestPrinter::TestPrinter(const std::wstring& dataFile, const std::wstring& port) {
    TestPrinterSetup setup;
    setup.dataFile = dataFile;
    setup.port = port;
    Install(setup);
}

TestPrinter::~TestPrinter() { Remove(); }

bool TestPrinter::Fail(const wchar_t* step, DWORD code) {
    m_error = std::wstring(step) + L" failed with " + std::to_wstring(code);
    return false;
}

std::wstring TestPrinter::Beside(const std::wstring& name) const { return m_dataDir + ReplaceStem(name, m_stem); }

void TestPrinter::Install(const TestPrinterSetup& setup) {
    if (setup.dataFile.empty()) {
        Fail(L"no data file given:", ERROR_INVALID_PARAMETER);
        return;
    }
    // Process ids repeat between runs, and a run that was killed leaves its driver behind:
    // a stamp of the start time keeps a new fixture from meeting an old driver's files.
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    wchar_t stamp[16] = {};
    const wchar_t digits[] = L"0123456789abcdef";
    unsigned long long bits = static_cast<unsigned long long>(now.QuadPart) ^ (GetTickCount64() << 20);
    for (int i = 0; i < 8; ++i, bits >>= 4)
        stamp[7 - i] = digits[bits & 15];
    const std::wstring unique =
        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++g_serial) + L"-" + stamp;
    m_printerName = setup.printerName.empty() ? L"Tolva Test Printer " + unique : setup.printerName;
    m_driverName = setup.driverName.empty() ? L"Tolva Test Driver " + unique : setup.driverName;

    // The installer's side: the files go into the driver folder, from where the spooler
    // copies them into its version folder.
    wchar_t folder[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(folder), sizeof(folder), &needed)) {
        Fail(L"GetPrinterDriverDirectoryW", GetLastError());
        return;
    }
    const std::wstring staging = std::wstring(folder) + L"\\";
    m_stagingDir = staging;

    std::wstring source = FileNameOf(setup.dataFile);
    size_t dot = source.find_last_of(L'.');
    std::wstring extension = dot == std::wstring::npos ? L"" : source.substr(dot);
    m_stem = (dot == std::wstring::npos ? source : source.substr(0, dot)) + L"_" + unique;
    std::wstring dataName = m_stem + extension;
    std::wstring stagedData = staging + dataName;
    if (!CopyFileW(setup.dataFile.c_str(), stagedData.c_str(), FALSE)) {
        Fail(L"copying the data file", GetLastError());
        return;
    }
    m_files.push_back(stagedData);
    MakeWritable(stagedData);

    std::wstring driverFile = staging + L"tolvatest_drv_" + unique + L".dll";
    if (!WritePlaceholder(driverFile)) {
        Fail(L"writing the driver placeholder", GetLastError());
        return;
    }
    m_files.push_back(driverFile);
    m_stagedData = stagedData;
    m_stagedDriver = driverFile;
    std::wstring configFile;
    if (!setup.configFile.empty() && !setup.configName.empty()) {
        configFile = staging + ReplaceStem(setup.configName, m_stem);
        if (!CopyFileW(setup.configFile.c_str(), configFile.c_str(), FALSE)) {
            Fail(L"copying the config file", GetLastError());
            return;
        }
    } else if (setup.configFile.empty()) {
        configFile = staging + L"tolvatest_cfg_" + unique + L".dll";
        if (!WritePlaceholder(configFile)) {
            Fail(L"writing the config placeholder", GetLastError());
            return;
        }
    } else {
        configFile = staging + FileNameOf(setup.configFile);
        if (!CopyFileW(setup.configFile.c_str(), configFile.c_str(), FALSE)) {
            Fail(L"copying the config file", GetLastError());
            return;
        }
    }
    m_files.push_back(configFile);
    m_stagedConfig = setup.bareConfigName ? FileNameOf(configFile) : configFile;

    std::vector<TestPrinterFile> dependents = setup.dependentFiles;
    for (const TestPrinterText& text : setup.dependentTexts)
        dependents.push_back({L"", text.name});
    for (size_t i = 0; i < dependents.size(); ++i) {
        const TestPrinterFile& file = dependents[i];
        std::wstring name = ReplaceStem(file.name.empty() ? FileNameOf(file.source) : file.name, m_stem);
        std::wstring target = staging + name;
        m_files.push_back(target);
        size_t textIndex = i - setup.dependentFiles.size();
        bool placed = i < setup.dependentFiles.size()
                          ? CopyFileW(file.source.c_str(), target.c_str(), FALSE) != FALSE
                          : WriteContent(target, ReplaceStemA(setup.dependentTexts[textIndex].content, m_stem));
        if (!placed) {
            Fail((L"staging dependent file " + name).c_str(), GetLastError());
            return;
        }
        MakeWritable(target);
        m_dependentNames.push_back(name);
        m_dependents += name;
        m_dependents += L'\0';
    }
    m_dependents += L'\0';

    DRIVER_INFO_3W& driver = m_installerInfo;
    driver = DRIVER_INFO_3W{};
    driver.cVersion = 3;
    driver.pName = m_driverName.data();
    driver.pDriverPath = m_stagedDriver.data();
    driver.pDataFile = m_stagedData.data();
    driver.pConfigFile = m_stagedConfig.data();
    if (!m_dependentNames.empty())
        driver.pDependentFiles = m_dependents.data();
    // A driver of that name left by an earlier run would be kept by the spooler.
    DeletePrinterDriverExW(nullptr, nullptr, m_driverName.data(), 0, 0);
    if (!AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&driver), APD_COPY_NEW_FILES)) {
        Fail(L"AddPrinterDriverExW", GetLastError());
        return;
    }
    m_driverAdded = true;

    PRINTER_INFO_2W info = {};
    info.pPrinterName = m_printerName.data();
    std::wstring port = setup.port;
    std::wstring share = setup.shareName;
    info.pPortName = port.data();
    info.pShareName = share.empty() ? nullptr : share.data();
    info.pDriverName = m_driverName.data();
    info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    info.pDatatype = const_cast<wchar_t*>(L"RAW");
    if (!share.empty())
        info.Attributes = PRINTER_ATTRIBUTE_SHARED;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (!printer) {
        Fail(L"AddPrinterW", GetLastError());
        return;
    }

    // Where the spooler put the data file.
    DWORD size = 0;
    GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &size);
    std::wstring installed;
    if (size > 0) {
        std::vector<BYTE> buffer(size);
        if (GetPrinterDriverW(printer, nullptr, 3, buffer.data(), size, &size)) {
            const auto* got = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
            if (got->pDataFile)
                installed = got->pDataFile;
            if (got->pDriverPath)
                m_files.push_back(got->pDriverPath);
            if (got->pConfigFile)
                m_files.push_back(got->pConfigFile);
        }
    }
    if (installed.empty()) {
        Fail(L"GetPrinterDriverW", GetLastError());
        DeletePrinter(printer);
        ClosePrinter(printer);
        return;
    }
    m_dataFile = installed;
    m_dataDir = installed.substr(0, installed.find_last_of(L'\\') + 1);
    m_files.push_back(m_dataFile);

    for (const TestPrinterFile& file : setup.companions) {
        std::wstring target = Beside(file.name.empty() ? FileNameOf(file.source) : file.name);
        if (!CopyFileW(file.source.c_str(), target.c_str(), FALSE)) {
            Fail((L"copying companion " + file.source).c_str(), GetLastError());
            m_files.push_back(target);
            DeletePrinter(printer);
            ClosePrinter(printer);
            return;
        }
        m_files.push_back(target);
        MakeWritable(target);
    }
    MakeWritable(m_dataFile);
    m_handle = printer;
}

void TestPrinter::Remove() {
    if (m_handle) {
        DeletePrinter(m_handle);
        ClosePrinter(m_handle);
        m_handle = nullptr;
    }
    if (m_driverAdded) {
        DeletePrinterDriverExW(nullptr, nullptr, m_driverName.data(), 0, 0);
        m_driverAdded = false;
    }
    for (const std::wstring& file : m_files)
        DeleteWritable(file);
    m_files.clear();
    // Dependent files the spooler copied beside the installed data file.
    if (!m_dataDir.empty()) {
        for (const std::wstring& name : m_dependentNames)
            DeleteWritable(m_dataDir + name);
    }
    m_dependentNames.clear();
    // Files and package folders the code under test left beside the data file, installed
    // or staged, under its unique stem (caches, unpacked packages).
    for (const std::wstring* dir : {&m_dataDir, &m_stagingDir}) {
        if (dir->empty() || m_stem.empty())
            continue;
        WIN32_FIND_DATAW found;
        std::wstring pattern = *dir + m_stem + L".*";
        HANDLE search = FindFirstFileW(pattern.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteWritable(*dir + found.cFileName);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        DeleteTree(*dir + m_stem);
    }
}

void DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(path);
            } else {
                DeleteWritable(path);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring FixturePath(const wchar_t* name) {
    return std::wstring(TOLVA_SHARED_DIR_W) + L"\\fixtures\\" + (name ? name : L"");
}

}  // namespace tolvatest
