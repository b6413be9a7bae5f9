// Test stand-in for the spooler's printer-data calls: while one lives, the system's
// printer-data layer runs the spooler's reads and writes, except that
// - a printer-data key is deleted the way the spooler stores it on Wine (the key below the
//   printer's registry key), where the spooler's own DeletePrinterKeyW would abort the
//   test process, and each deletion is recorded;
// - SetPrinterDataW of a chosen value name can be made to fail.
// Only one seam may live at a time (it replaces a process-wide table).
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace tolvatest {

class PrinterDataSeam {
public:
    PrinterDataSeam();
    ~PrinterDataSeam();

    PrinterDataSeam(const PrinterDataSeam&) = delete;
    PrinterDataSeam& operator=(const PrinterDataSeam&) = delete;

    // SetPrinterDataW (not the Ex form) of this value name answers error from now on.
    void FailSetData(const std::wstring& valueName, DWORD error);
    // Printer-data keys deleted so far, in order.
    std::vector<std::wstring> DeletedKeys() const;
    // Names passed to SetPrinterDataW so far, in order (failed calls included).
    std::vector<std::wstring> SetDataNames() const;

private:
    friend struct PrinterDataSeamCalls;
    mutable std::mutex m_lock;
    std::wstring m_failName;
    DWORD m_failError = ERROR_SUCCESS;
    std::vector<std::wstring> m_deleted;
    std::vector<std::wstring> m_setNames;
    const void* m_previous = nullptr;
};

// Registry path (below HKEY_LOCAL_MACHINE) where Wine keeps a printer's data.
std::wstring WinePrinterKeyPath(const std::wstring& printerName);

}  // namespace tolvatest
