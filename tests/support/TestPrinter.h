// A printer of the local spooler for tests: installs a printer driver whose data file is a
// given PPD, copies companion files beside the installed data file, adds a printer on a
// port and removes both again when it goes out of scope.
//
// Every name is made unique per process and fixture (tests of one tree run in parallel in
// one Wine prefix), and the data file is installed under a unique stem, so that files the
// code under test writes beside it (caches named after the stem) are never shared.
//
// Removal never calls DeletePrinterDataW or DeletePrinterKeyW (Wine aborts the process in
// them): the printer is deleted whole, which takes its printer data with it.
//
//   TestPrinterSetup setup;
//   setup.dataFile = FixturePath(L"tolva-sample.ppd");
//   setup.companions.push_back({lanModulePath, L"{stem}.LAN"});
//   TestPrinter printer(setup);
//   ASSERT_TRUE(printer.Ok()) << printer.Error();
//   UseIt(printer.Handle(), printer.DataFile());
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace tolvatest {

// A file to copy beside the installed data file. name is its file name there; "{stem}" in
// it stands for the installed data file's stem. An empty name keeps the source's name.
struct TestPrinterFile {
    std::wstring source;
    std::wstring name;
};

// A file written with the given text, named as a TestPrinterFile; "{stem}" is replaced in
// both.
struct TestPrinterText {
    std::wstring name;
    std::string content;
};

struct TestPrinterSetup {
    std::wstring dataFile;                   // Windows path of the PPD to install (required)
    std::vector<TestPrinterFile> companions;  // copied beside the installed data file
    std::wstring port = L"FILE:";            // any port name is accepted by the spooler
    std::wstring printerName;                // empty: "Tolva Test Printer <pid>-<n>-<stamp>"
    std::wstring driverName;                 // empty: "Tolva Test Driver <pid>-<n>-<stamp>"
    std::wstring configFile;                 // the driver's UI module; empty: a placeholder
    std::wstring shareName;                  // PRINTER_INFO_2 pShareName (may stay empty)
    // Staged in the spooler's driver folder before the driver is installed and listed as
    // its dependent files (by bare name); the spooler copies them beside the data file.
    std::vector<TestPrinterFile> dependentFiles;
    std::vector<TestPrinterText> dependentTexts;  // dependent files written from text
    // The name the config file is staged under ("{stem}" replaced); empty keeps its own.
    std::wstring configName;
    // Pass the config file to the spooler by its bare name: only then does the spooler load
    // it and send it the driver-installation event.
    bool bareConfigName = false;
};

class TestPrinter {
public:
    explicit TestPrinter(const TestPrinterSetup& setup);
    // Shorthand: the PPD on port "FILE:" without companions.
    explicit TestPrinter(const std::wstring& dataFile, const std::wstring& port = L"FILE:");
    ~TestPrinter();

    TestPrinter(const TestPrinter&) = delete;
    TestPrinter& operator=(const TestPrinter&) = delete;

    // True when driver and printer were installed and the handle is open.
    bool Ok() const { return m_handle != nullptr; }
    // What failed (step and error code), for assertion messages; empty when Ok().
    const std::wstring& Error() const { return m_error; }

    const std::wstring& PrinterName() const { return m_printerName; }
    const std::wstring& DriverName() const { return m_driverName; }
    // Full path of the installed data file (in the spooler's driver folder).
    const std::wstring& DataFile() const { return m_dataFile; }
    // Folder of the installed data file, with its trailing backslash.
    const std::wstring& DataDir() const { return m_dataDir; }
    // Path of a file beside the installed data file: "{stem}" in name is replaced.
    std::wstring Beside(const std::wstring& name) const;
    // Handle from AddPrinterW (PRINTER_ALL_ACCESS), owned by the fixture.
    HANDLE Handle() const { return m_handle; }
    // The spooler's driver folder where the files were staged, with its trailing backslash.
    const std::wstring& StagingDir() const { return m_stagingDir; }
    // The stem the data file was installed under.
    const std::wstring& Stem() const { return m_stem; }
    // The driver record the installer gave AddPrinterDriverExW (the staged paths), as a
    // driver event of the installation carries it; valid while the fixture lives.
    const DRIVER_INFO_3W* InstallerDriverInfo() const { return m_driverAdded ? &m_installerInfo : nullptr; }

private:
    void Install(const TestPrinterSetup& setup);
    void Remove();
    bool Fail(const wchar_t* step, DWORD code);

    std::wstring m_error;
    std::wstring m_printerName;
    std::wstring m_driverName;
    std::wstring m_stem;
    std::wstring m_dataFile;
    std::wstring m_dataDir;
    std::vector<std::wstring> m_files;  // every file the fixture placed, removed at the end
    bool m_driverAdded = false;
    HANDLE m_handle = nullptr;
    std::wstring m_stagingDir;
    std::wstring m_stagedData;
    std::wstring m_stagedDriver;
    std::wstring m_stagedConfig;
    std::wstring m_dependents;  // multi-string of bare names
    std::vector<std::wstring> m_dependentNames;
    DRIVER_INFO_3W m_installerInfo = {};
};

// Deletes a folder (no trailing backslash) with everything below it, attributes cleared first.
void DeleteTree(const std::wstring& folder);

// Windows path of a file of the shared fixtures folder (..\shared\fixtures).
std::wstring FixturePath(const wchar_t* name);

}  // namespace tolvatest
