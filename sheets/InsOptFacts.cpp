// The printer and user facts of the installable-options page.
#include "sheets/InsOptFacts.h"

#include <winspool.h>

#include "storage/PortResolver.h"

namespace {

BOOL PlatformHasServerName(HANDLE printer)
{
    if (!printer) return FALSE;
    CPrinterPortResolver resolver(printer);
    return resolver.IsValid() && resolver.HasServerName();
}

BOOL PlatformIsTolvaServer(HANDLE printer)
{
    if (!printer) return FALSE;
    CPrinterPortResolver resolver(printer);
    return resolver.IsValid() && resolver.IsTolvaServer();
}

BOOL PlatformIsUserAdmin() { return IsUserLocalAdmin(); }

BOOL PlatformIsPrinterAdminDenied(const wchar_t* printerName) { return IsPrinterAdminDenied(printerName); }

const InsOptPrinterFacts kPlatformFacts = {PlatformHasServerName, PlatformIsTolvaServer, PlatformIsUserAdmin,
                                           PlatformIsPrinterAdminDenied};
const InsOptPrinterFacts* g_facts = &kPlatformFacts;

}  // namespace

const InsOptPrinterFacts& GetInsOptPrinterFacts() noexcept { return *g_facts; }

const InsOptPrinterFacts* SetInsOptPrinterFacts(const InsOptPrinterFacts* facts) noexcept
{
    const InsOptPrinterFacts* previous = g_facts;
    g_facts = facts ? facts : &kPlatformFacts;
    return previous;
}

BOOL IsPrinterAdminDenied(const wchar_t* printerName) noexcept
{
    if (!printerName || !*printerName) return FALSE;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(printerName), &printer, &defaults)) return TRUE;
    ClosePrinter(printer);
    return FALSE;
}

BOOL IsUserLocalAdmin() noexcept
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &administrators))
        return FALSE;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
    return member;
}
