// Reading the printer's names from the spooler for the per-call contexts.
#include "uiplugin/GeneralInfo.h"

#include <cwchar>
#include <memory>
#include <new>

namespace {
// Size query, then fill; the spooler's buffer is freed on every path.
std::unique_ptr<BYTE[]> QueryPrinterLevel2(HANDLE printer, bool driverInfo) noexcept
{
    DWORD needed = 0;
    if (driverInfo)
        GetPrinterDriverW(printer, nullptr, 2, nullptr, 0, &needed);
    else
        GetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed == 0) return nullptr;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer) return nullptr;
    BOOL ok = driverInfo ? GetPrinterDriverW(printer, nullptr, 2, buffer.get(), needed, &needed)
                         : GetPrinterW(printer, 2, buffer.get(), needed, &needed);
    if (!ok) return nullptr;
    return buffer;
}
}  // namespace

bool ReadPrinterName(HANDLE printer, PrinterName which, wchar_t* buffer, DWORD capacity) noexcept
{
    if (!printer || !buffer || capacity == 0) return false;
    buffer[0] = L'\0';
    const bool driverInfo = which != PrinterName::DriverName;
    std::unique_ptr<BYTE[]> info = QueryPrinterLevel2(printer, driverInfo);
    if (!info) return false;

    const wchar_t* name = nullptr;
    if (which == PrinterName::DataFile)
        name = reinterpret_cast<const DRIVER_INFO_2W*>(info.get())->pDataFile;
    else if (which == PrinterName::ConfigFile)
        name = reinterpret_cast<const DRIVER_INFO_2W*>(info.get())->pConfigFile;
    else
        name = reinterpret_cast<const PRINTER_INFO_2W*>(info.get())->pDriverName;
    if (!name) return false;

    // A name that does not fit whole is unusable (a cut path names another file).
    const size_t length = wcsnlen(name, capacity);
    if (length >= capacity) return false;
    wmemcpy(buffer, name, length + 1);
    return true;
}

bool CanReadFile(const wchar_t* path) noexcept
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

HRESULT AnswerPluginGetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) noexcept
{
    constexpr DWORD kPluginVersion = 1;
    if ((mode != OEMGI_GETSIGNATURE && mode != OEMGI_GETVERSION && mode != OEMGI_GETPUBLISHERINFO) || !needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    if (!buffer || size < sizeof(DWORD)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    if (mode == OEMGI_GETPUBLISHERINFO) {
        SetLastError(ERROR_NOT_SUPPORTED);
        *needed = 0;
        return E_FAIL;
    }
    const DWORD answer = mode == OEMGI_GETSIGNATURE ? kDevmodeSignature : kPluginVersion;
    CopyMemory(buffer, &answer, sizeof(answer));  // the buffer need not be aligned
    *needed = sizeof(answer);
    return S_OK;
}
