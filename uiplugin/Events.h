// Quenta's housekeeping for the spooler's printer and driver events: a new printer is
// registered in the settings stores and a deleted one's entries removed; when the driver is
// installed its package (the PPD's stem with ".TQX", a ZIP archive) is unpacked into a
// folder named after the stem beside the PPD and the settings cache is rebuilt; when the
// driver is deleted that folder, the cache and the driver's machine key go.
#pragma once

#include <windows.h>

// The body of IOemUI::PrinterEvent: S_OK once the printer could be opened, whatever the
// event; S_FALSE for a printer that cannot be opened (a null or empty name included).
HRESULT ProcessPrinterEvent(const wchar_t* printerName, INT event, DWORD flags, LPARAM lParam) noexcept;
// The body of IOemUI::DriverEvent: S_OK when the data file's settings could be had, else
// S_FALSE (no driver information, level 1, no data file).
HRESULT DriverEventHandler(DWORD event, DWORD level, const BYTE* driverInfo, LPARAM lParam) noexcept;
// Unpacks the data file's package into its package folder (emptied first): every item that
// can be extracted is, a refused or failed one is skipped with a debug trace line. TRUE when
// every item was extracted. A data file without drive and directory unpacks nothing.
BOOL UnpackDriverPackage(const wchar_t* dataFile) noexcept;
// Deletes the plain files of folder (ending in a backslash; read-only ones too) and then
// the folder itself; the result of that last removal, which fails while sub-folders
// remain. A folder over 256 characters deletes nothing and gives FALSE.
BOOL RemoveDirectoryFiles(const wchar_t* folder) noexcept;

// Names made from a data file (new texts, free with delete[]; null when the data file does
// not give them):
// HKEY_CURRENT_USER "Software\VYR\Quillet\Driver\<first 8 characters of the file name>".
wchar_t* GetUserKeyPath(const wchar_t* dataFile) noexcept;
// HKEY_LOCAL_MACHINE "Software\VYR\PrinterProps\<driver name>".
wchar_t* GetMachineKeyPath(const wchar_t* driverName) noexcept;
// The data file with the extension ".TQX" (a full path only).
wchar_t* GetPackagePath(const wchar_t* dataFile) noexcept;
// "<drive and directory of the data file><stem>\" (a full path only).
wchar_t* GetPackageFolder(const wchar_t* dataFile) noexcept;
