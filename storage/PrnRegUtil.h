// The printer registry: each printer of the driver gets a storage place in the machine's
// registry under "Software\VYR\PrinterProps\<driver>", a printer id and a client id, and
// printer-data values that point to these places. The client id names the printer-data key
// that holds the administrator's settings of the printer. Writes to the machine hive are
// made as the spooler itself, through PrnRegUtil.
#pragma once

#include <windows.h>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"

// The registry key wrapper with the spooler's impersonation of the client suspended for its
// lifetime (where the platform offers RevertToPrinterSelf).
class PrnRegUtil : public GPRegUtil {
public:
    PrnRegUtil(HKEY root, const wchar_t* subKey) noexcept;
    virtual ~PrnRegUtil();

    PrnRegUtil(const PrnRegUtil&) = delete;
    PrnRegUtil& operator=(const PrnRegUtil&) = delete;

    // Resumes the impersonation and frees the library (also done by the destructor).
    void ResumeImpersonation() noexcept;

private:
    HMODULE m_spoolss = nullptr;
    HANDLE m_token = nullptr;
};

// At printer initialisation: printer id, storage, list and cross-reference paths, the
// controller's address, "IsTolvaServer" and the machine's watermarks. Does nothing when the
// printer already has a storage.
void InitialisePrinterRegistry(HANDLE printer) noexcept;
// At initialisation (countConnection 1) and cache refresh (0): registers a connection in the
// printer list, or gives a local printer its validation key and client id.
void RegisterPrinterClient(HANDLE printer, const wchar_t* printerName, BOOL countConnection) noexcept;
// At printer and cache deletion: releases a connection, invalidates the storage and removes
// stale clients.
void UnregisterPrinter(HANDLE printer, const wchar_t* printerName) noexcept;
// Removes the storages (and their printers' settings keys) that lost their validation key.
void RemoveStaleClients(HANDLE printer) noexcept;
// Deletes a connection's list entry; the storage's owner name (new text) when no other
// listed printer uses the same storage any more, else null.
wchar_t* ReleaseConnection(const wchar_t* printerName) noexcept;
// True when a printer listed under listPath (HKEY_LOCAL_MACHINE) has the storage path.
bool IsStorageShared(const wchar_t* listPath, const wchar_t* storage) noexcept;
// Deletes the storage's "ValidationKey" tree and its "Invalid" and "Valid" values.
void InvalidatePrinterStorage(HANDLE printer) noexcept;

// PRINTER_INFO_2 of the printer in a new buffer; null on failure.
ByteBuffer GetPrinterInfo2(HANDLE printer) noexcept;
// A REG_SZ printer-data value as a new text; null when missing or of another type.
wchar_t* GetPrinterDataText(HANDLE printer, const wchar_t* valueName) noexcept;
// A new GUID as text without braces (new text); null on failure.
wchar_t* NewGuidString() noexcept;
// True when "<server>\<port>" equals the printer name (a connection); false for any null.
bool IsConnectionName(const wchar_t* server, const wchar_t* port, const wchar_t* printerName) noexcept;
// The printer name in the thread's ANSI code page, each byte as two upper-case hexadecimal
// digits (new text), and back; null on failure.
wchar_t* PrinterNameToHex(const wchar_t* printerName) noexcept;
wchar_t* HexToPrinterName(const wchar_t* hex) noexcept;
// Delete a key tree or one value as the spooler.
bool DeleteRegTreeAsSpooler(HKEY root, const wchar_t* path) noexcept;
bool DeleteRegValueAsSpooler(HKEY root, const wchar_t* path, const wchar_t* valueName) noexcept;
