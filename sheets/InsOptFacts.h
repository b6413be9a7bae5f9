// What the installable-options page needs to know about the printer and the user: whether the
// printer is shared from a print server, whether that server is a controller of the family,
// whether the user is an administrator of this computer and whether the user may administer
// the printer. Wine's printers are local and its user an administrator, so the page reads
// these through one table that tests replace.
#pragma once

#include <windows.h>

struct InsOptPrinterFacts {
    // TRUE when the printer is a connection to a printer shared by a print server.
    BOOL (*hasServerName)(HANDLE printer);
    // TRUE when that print server is a controller of the family.
    BOOL (*isTolvaServer)(HANDLE printer);
    // TRUE when the user is in the local Administrators group.
    BOOL (*isUserAdmin)();
    // TRUE when the printer of that name cannot be opened for administration.
    BOOL (*isPrinterAdminDenied)(const wchar_t* printerName);
};

// The table in use (the platform's answers unless a test installed its own).
const InsOptPrinterFacts& GetInsOptPrinterFacts() noexcept;
// Installs a table (null restores the platform's); returns the previous one. The table must
// outlive its use.
const InsOptPrinterFacts* SetInsOptPrinterFacts(const InsOptPrinterFacts* facts) noexcept;

// The platform's answers.
// TRUE when OpenPrinterW with PRINTER_ACCESS_ADMINISTER fails on that name; FALSE when it
// succeeds (the handle is closed at once) or when no name is given.
BOOL IsPrinterAdminDenied(const wchar_t* printerName) noexcept;
// TRUE when the calling thread's user is a member of the local Administrators group.
BOOL IsUserLocalAdmin() noexcept;
