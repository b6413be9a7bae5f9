// The printer port resolver: turns a printer into the host name and queue name of the
// controller it prints to, by a fixed list of rules over its port (Standard TCP/IP ports,
// port names that hold a host, LPR and UNC forms, URLs, PnP devices), its printer data and
// the print server that shares it. It also answers whether the printer is shared from a
// print server, whether that server is a controller of the family, and whether the user may
// administer the printer.
//
// The resolver belongs to the UI plug-in; it lives here beside the printer registry, its
// other user.
#pragma once

#include <windows.h>

class CPrinterPortResolver {
public:
    // Reads the printer's names (PRINTER_INFO_2); a null handle gives an invalid resolver.
    explicit CPrinterPortResolver(HANDLE printer) noexcept;
    ~CPrinterPortResolver();

    CPrinterPortResolver(const CPrinterPortResolver&) = delete;
    CPrinterPortResolver& operator=(const CPrinterPortResolver&) = delete;

    BOOL IsValid() const noexcept { return m_valid; }
    // 1 when the last address came from the PnP data of the printer's device.
    int IsPnp() const noexcept { return m_pnp; }
    const wchar_t* GetPortName() const noexcept { return m_port; }
    const wchar_t* GetShareName() const noexcept { return m_share; }
    const wchar_t* GetPrinterName() const noexcept { return m_printerName; }
    const wchar_t* GetServerName() const noexcept { return m_server; }

    // TRUE when a controller host was found. Capacities are in characters (0 makes the
    // output count as missing); both outputs are set empty first.
    BOOL ResolveServerAddress(wchar_t* host, unsigned hostSize, wchar_t* queue, unsigned queueSize) noexcept;
    // TRUE when the printer is a connection to a printer shared by a print server.
    BOOL HasServerName() const noexcept;
    // TRUE when shared by a print server whose printer data "IsTolvaServer" is "1".
    BOOL IsTolvaServer() const noexcept;
    // TRUE when the printer cannot be opened with administrator access.
    BOOL LacksAdminAccess() const noexcept;

    // The port-name forms ("host@...", "IP_host", "host_RAW", "\\host\queue", "host:queue",
    // "http://host/...", "\\host"). TRUE when one matches; the queue is emptied first.
    static BOOL ParsePortName(const wchar_t* name, wchar_t* host, unsigned hostSize, wchar_t* queue,
                              unsigned queueSize) noexcept;
    // The host and queue of a Standard TCP/IP port of that name; TRUE when it has a host.
    static BOOL ReadStandardTcpIpPort(const wchar_t* port, wchar_t* host, unsigned hostSize, wchar_t* queue,
                                      unsigned queueSize) noexcept;
    // TRUE for a local port: "X:\dir\file" whose folder exists, or "NAME:" other than "FILE:".
    static BOOL IsLocalPort(const wchar_t* port) noexcept;
    // The host of the printer's PnP device location; sets the PnP flag when found.
    BOOL LookupPnpLocation(wchar_t* host, unsigned hostSize) noexcept;

private:
    BOOL m_valid = FALSE;
    int m_pnp = 0;
    wchar_t* m_port = nullptr;
    wchar_t* m_share = nullptr;
    wchar_t* m_printerName = nullptr;
    wchar_t* m_server = nullptr;
    HANDLE m_printer = nullptr;
};

// TRUE inside the host programs "Zentrowin.exe" and "Zentrowax.exe" (by the current
// process's file name, without regard to case), where two-way communication is off.
BOOL IsExcludedHostProcess() noexcept;
// The same test for a module path (its last "\"-separated part).
BOOL IsExcludedHostPath(const wchar_t* modulePath) noexcept;

// The running Windows version as (major, minor), read without the compatibility shims.
void GetWindowsVersion(DWORD* major, DWORD* minor) noexcept;
