// The one place where the system reads and writes printer data in the spooler.
//
// Every printer-data call of the system goes through these functions, which forward to a
// table of calls: by default the spooler's own functions, bound by name where the platform
// may lack them. Tests replace the table (SetPrinterDataCalls) to inject failures or to
// stand in for calls that their platform cannot run.
#pragma once

#include <windows.h>

struct PrinterDataCalls {
    DWORD(WINAPI* getData)(HANDLE printer, LPWSTR name, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed);
    DWORD(WINAPI* setData)(HANDLE printer, LPWSTR name, DWORD type, LPBYTE data, DWORD size);
    DWORD(WINAPI* getDataEx)(HANDLE printer, LPCWSTR key, LPCWSTR name, LPDWORD type, LPBYTE data, DWORD size,
                             LPDWORD needed);
    DWORD(WINAPI* setDataEx)(HANDLE printer, LPCWSTR key, LPCWSTR name, DWORD type, LPBYTE data, DWORD size);
    DWORD(WINAPI* enumDataEx)(HANDLE printer, LPCWSTR key, LPBYTE values, DWORD size, LPDWORD needed,
                              LPDWORD count);
    // May be null: the call then answers ERROR_CALL_NOT_IMPLEMENTED.
    DWORD(WINAPI* deleteKey)(HANDLE printer, LPCWSTR key);
};

// The spooler's functions (deleteKey is null where the spooler does not export it).
const PrinterDataCalls& SpoolerPrinterDataCalls() noexcept;
// Installs a table of calls for the whole process; null restores the spooler's. Returns the
// table that was installed before. The table must outlive its installation.
const PrinterDataCalls* SetPrinterDataCalls(const PrinterDataCalls* calls) noexcept;

// Each returns the Win32 error of the call (ERROR_SUCCESS on success);
// ERROR_INVALID_PARAMETER for a null printer or name.
DWORD PrnGetData(HANDLE printer, const wchar_t* name, DWORD* type, void* data, DWORD size, DWORD* needed) noexcept;
DWORD PrnSetData(HANDLE printer, const wchar_t* name, DWORD type, const void* data, DWORD size) noexcept;
DWORD PrnGetDataEx(HANDLE printer, const wchar_t* key, const wchar_t* name, DWORD* type, void* data, DWORD size,
                   DWORD* needed) noexcept;
DWORD PrnSetDataEx(HANDLE printer, const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
                   DWORD size) noexcept;
DWORD PrnEnumDataEx(HANDLE printer, const wchar_t* key, void* values, DWORD size, DWORD* needed,
                    DWORD* count) noexcept;
DWORD PrnDeleteKey(HANDLE printer, const wchar_t* key) noexcept;

// A printer-data value read whole: the size is asked first and a larger buffer is tried
// while the spooler answers ERROR_MORE_DATA. The bytes are followed by two zero bytes that
// are not counted, so a text value is always terminated. Returns a new buffer (free with
// delete[]) and its byte count and type, or null when the value cannot be read.
BYTE* PrnReadValue(HANDLE printer, const wchar_t* name, DWORD* type, DWORD* bytes) noexcept;
// A REG_SZ printer-data value as a new terminated text (free with delete[]); null when it
// is missing or of another type.
wchar_t* PrnGetText(HANDLE printer, const wchar_t* name) noexcept;
// Writes text (with its terminator) as a REG_SZ value; a null text writes "(null)".
DWORD PrnSetText(HANDLE printer, const wchar_t* name, const wchar_t* text) noexcept;
