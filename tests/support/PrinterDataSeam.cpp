// The printer-data stand-in of the tests (see PrinterDataSeam.h).
#include "tests/support/PrinterDataSeam.h"

#include <winspool.h>

#include "storage/PrinterData.h"

namespace tolvatest {

namespace {
PrinterDataSeam* g_seam = nullptr;

std::wstring PrinterNameOf(HANDLE printer) {
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    if (!size)
        return std::wstring();
    std::vector<BYTE> buffer(size);
    if (!GetPrinterW(printer, 2, buffer.data(), size, &size))
        return std::wstring();
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    return info->pPrinterName ? info->pPrinterName : L"";
}
}  // namespace

struct PrinterDataSeamCalls {
    static DWORD WINAPI SetData(HANDLE printer, LPWSTR name, DWORD type, LPBYTE data, DWORD size) {
        if (g_seam && name) {
            std::lock_guard<std::mutex> hold(g_seam->m_lock);
            g_seam->m_setNames.push_back(name);
            if (!g_seam->m_failName.empty() && g_seam->m_failName == name)
                return g_seam->m_failError;
        }
        return SpoolerPrinterDataCalls().setData(printer, name, type, data, size);
    }

    static DWORD WINAPI DeleteKey(HANDLE printer, LPCWSTR key) {
        if (!key || !*key)
            return ERROR_INVALID_PARAMETER;
        std::wstring name = PrinterNameOf(printer);
        if (name.empty())
            return ERROR_INVALID_HANDLE;
        if (g_seam) {
            std::lock_guard<std::mutex> hold(g_seam->m_lock);
            g_seam->m_deleted.push_back(key);
        }
        std::wstring path = WinePrinterKeyPath(name) + L"\\" + key;
        // With a sub-key, RegDeleteTreeW removes that key itself too.
        return static_cast<DWORD>(RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str()));
    }

    static const PrinterDataCalls& Table() {
        static const PrinterDataCalls table = [] {
            PrinterDataCalls calls = SpoolerPrinterDataCalls();
            calls.setData = &SetData;
            calls.deleteKey = &DeleteKey;
            return calls;
        }();
        return table;
    }
};

std::wstring WinePrinterKeyPath(const std::wstring& printerName) {
    return L"System\\CurrentControlSet\\Control\\Print\\Printers\\" + printerName;
}

PrinterDataSeam::PrinterDataSeam() {
    g_seam = this;
    m_previous = SetPrinterDataCalls(&PrinterDataSeamCalls::Table());
}

PrinterDataSeam::~PrinterDataSeam() {
    SetPrinterDataCalls(static_cast<const PrinterDataCalls*>(m_previous));
    g_seam = nullptr;
}

void PrinterDataSeam::FailSetData(const std::wstring& valueName, DWORD error) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_failName = valueName;
    m_failError = error;
}

std::vector<std::wstring> PrinterDataSeam::DeletedKeys() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_deleted;
}

std::vector<std::wstring> PrinterDataSeam::SetDataNames() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_setNames;
}

}  // namespace tolvatest
