// The printer port resolver (see PortResolver.h).
#include <winsock2.h>

#include "storage/PortResolver.h"

#include <winspool.h>

#include <cwchar>
#include <cwctype>
#include <new>

#include "foundation/StrUtil.h"
#include "storage/PrinterData.h"

namespace {

const wchar_t kTolvaServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\vyr_tolva";
const wchar_t kTcpIpPortsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
const wchar_t kNetwareKey[] = L"SOFTWARE\\NETWARE\\PRINTER DATA\\";

class RegKey {
public:
    RegKey(HKEY root, const wchar_t* path) noexcept {
        if (root && path && RegOpenKeyExW(root, path, 0, KEY_READ, &m_key) != ERROR_SUCCESS)
            m_key = nullptr;
    }
    ~RegKey() {
        if (m_key)
            RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY Get() const noexcept { return m_key; }
    explicit operator bool() const noexcept { return m_key != nullptr; }

private:
    HKEY m_key = nullptr;
};

bool KeyOpens(HKEY root, const wchar_t* path) noexcept { return static_cast<bool>(RegKey(root, path)); }

// A string value read into a buffer of capacityBytes bytes (as the registry layout fixes
// them), always terminated within the buffer at the size the registry returned.
bool ReadString(HKEY key, const wchar_t* name, wchar_t* out, DWORD capacityBytes) noexcept {
    if (!out || capacityBytes < sizeof(wchar_t))
        return false;
    out[0] = L'\0';
    if (!key)
        return false;
    DWORD type = REG_NONE;
    DWORD size = capacityBytes - sizeof(wchar_t);  // room for a terminator of our own
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        out[0] = L'\0';
        return false;
    }
    out[size / sizeof(wchar_t)] = L'\0';
    return true;
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD* value) noexcept {
    DWORD type = REG_NONE;
    DWORD size = sizeof(DWORD);
    DWORD read = 0;
    if (!key || RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(DWORD))
        return false;
    *value = read;
    return true;
}

// A REG_SZ printer-data value read into capacityBytes bytes, terminated.
bool ReadPrinterText(HANDLE printer, const wchar_t* name, wchar_t* out, DWORD capacityBytes) noexcept {
    if (!out || capacityBytes < sizeof(wchar_t))
        return false;
    out[0] = L'\0';
    DWORD type = REG_NONE;
    DWORD needed = 0;
    if (PrnGetData(printer, name, &type, out, capacityBytes - sizeof(wchar_t), &needed) != ERROR_SUCCESS ||
        type != REG_SZ) {
        out[0] = L'\0';
        return false;
    }
    DWORD used = needed < capacityBytes - sizeof(wchar_t) ? needed : capacityBytes - sizeof(wchar_t);
    out[used / sizeof(wchar_t)] = L'\0';
    return true;
}

// Copies count characters (the whole text when count is npos) into out, cut to its size.
void CopyOut(wchar_t* out, unsigned size, const wchar_t* text, size_t count = static_cast<size_t>(-1)) noexcept {
    if (!out || !size)
        return;
    size_t length = text ? std::wcslen(text) : 0;
    if (count < length)
        length = count;
    StrNCopy(out, size, text ? text : L"", length);
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) noexcept {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

}  // namespace

void GetWindowsVersion(DWORD* major, DWORD* minor) noexcept {
    DWORD gotMajor = 0, gotMinor = 0;
    // RtlGetVersion reports the real version; GetVersionEx is shimmed for unmanifested hosts.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion =
        ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion && rtlGetVersion(&info) == 0) {
        gotMajor = info.dwMajorVersion;
        gotMinor = info.dwMinorVersion;
    }
    if (major)
        *major = gotMajor;
    if (minor)
        *minor = gotMinor;
}

BOOL IsExcludedHostPath(const wchar_t* modulePath) noexcept {
    if (!modulePath)
        return FALSE;
    const wchar_t* name = std::wcsrchr(modulePath, L'\\');
    name = name ? name + 1 : modulePath;
    return _wcsicmp(name, L"Zentrowin.exe") == 0 || _wcsicmp(name, L"Zentrowax.exe") == 0;
}

BOOL IsExcludedHostProcess() noexcept {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    path[length] = L'\0';
    return IsExcludedHostPath(path);
}

CPrinterPortResolver::CPrinterPortResolver(HANDLE printer) noexcept : m_printer(printer) {
    if (!printer)
        return;
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    if (size < sizeof(PRINTER_INFO_2W))
        return;
    ByteBuffer buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer || !GetPrinterW(printer, 2, buffer.get(), size, &size))
        return;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.get());
    if (!info->pPortName)
        return;
    m_port = StrDup(info->pPortName);
    m_share = StrDup(info->pShareName ? info->pShareName : L"");
    m_printerName = StrDup(info->pPrinterName ? info->pPrinterName : L"");
    m_server = StrDup(info->pServerName ? info->pServerName : L"");
    m_valid = m_port && m_share && m_printerName && m_server;
}

CPrinterPortResolver::~CPrinterPortResolver() {
    delete[] m_port;
    delete[] m_share;
    delete[] m_printerName;
    delete[] m_server;
}

BOOL CPrinterPortResolver::HasServerName() const noexcept {
    if (!m_server || !*m_server)
        return FALSE;
    StrUtil<char, wchar_t> narrow(m_server);
    return narrow.Get() && narrow.Get()[0] != '\0';
}

BOOL CPrinterPortResolver::IsTolvaServer() const noexcept {
    if (!HasServerName())
        return FALSE;
    wchar_t value[128] = {};  // 256 bytes
    return ReadPrinterText(m_printer, L"IsTolvaServer", value, sizeof(value)) && std::wcscmp(value, L"1") == 0;
}

BOOL CPrinterPortResolver::LacksAdminAccess() const noexcept {
    if (!m_printerName)
        return TRUE;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    HANDLE opened = nullptr;
    if (!OpenPrinterW(m_printerName, &opened, &defaults) || !opened)
        return TRUE;
    ClosePrinter(opened);
    return FALSE;
}

BOOL CPrinterPortResolver::IsLocalPort(const wchar_t* port) noexcept {
    if (!port || !*port)
        return FALSE;
    if (std::wcsstr(port, L":\\")) {
        const wchar_t* last = std::wcsrchr(port, L'\\');
        size_t folderLength = static_cast<size_t>(last - port);
        if (folderLength > 0 && folderLength < MAX_PATH) {
            wchar_t folder[MAX_PATH] = {};
            StrNCopy(folder, MAX_PATH, port, folderLength);
            DWORD attributes = GetFileAttributesW(folder);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return TRUE;
        }
    }
    size_t length = std::wcslen(port);
    return port[length - 1] == L':' && _wcsicmp(port, L"FILE:") != 0;
}

BOOL CPrinterPortResolver::ReadStandardTcpIpPort(const wchar_t* port, wchar_t* host, unsigned hostSize,
                                                 wchar_t* queue, unsigned queueSize) noexcept {
    if (!port || !*port || !host || !hostSize)
        return FALSE;
    WText path(FormatAlloc(L"%s%s", kTcpIpPortsKey, port));
    if (!path)
        return FALSE;
    RegKey key(HKEY_LOCAL_MACHINE, path.get());
    if (!key)
        return FALSE;
    wchar_t name[256] = {};  // 512 bytes
    if (!ReadString(key.Get(), L"HostName", name, sizeof(name)) || !name[0])
        ReadString(key.Get(), L"IPAddress", name, sizeof(name));
    wchar_t queueText[256] = L"unknown";
    DWORD protocol = 0;
    if (ReadDword(key.Get(), L"Protocol", &protocol)) {
        if (protocol == 2) {  // LPR
            ReadString(key.Get(), L"Queue", queueText, sizeof(queueText));
        } else {
            DWORD number = 0;
            if (ReadDword(key.Get(), L"PortNumber", &number)) {
                switch (number) {
                case 9101:
                case 9104:
                    StrCopy(queueText, 256, L"direct");
                    break;
                case 9102:
                case 9105:
                    StrCopy(queueText, 256, L"print");
                    break;
                case 9103:
                case 9106:
                    StrCopy(queueText, 256, L"hold");
                    break;
                default:
                    FormatToBuffer(queueText, 256, L"%u", static_cast<unsigned>(number));
                    break;
                }
            }
        }
    }
    if (!name[0])
        return FALSE;
    CopyOut(host, hostSize, name);
    if (queue && queueSize && queueText[0] && _wcsicmp(queueText, L"z") != 0)
        CopyOut(queue, queueSize, queueText);
    return TRUE;
}

BOOL CPrinterPortResolver::ParsePortName(const wchar_t* name, wchar_t* host, unsigned hostSize, wchar_t* queue,
                                         unsigned queueSize) noexcept {
    if (queue && queueSize)
        queue[0] = L'\0';
    if (!name || !*name || !host || !hostSize)
        return FALSE;
    const size_t length = std::wcslen(name);

    // 1. "host@anything"
    if (const wchar_t* at = std::wcschr(name, L'@')) {
        if (at > name) {
            CopyOut(host, hostSize, name, static_cast<size_t>(at - name));
            return TRUE;
        }
    }
    // 2. "IP_host": the queue (and host) of the Standard TCP/IP port, then the host named.
    if (StartsWith(name, L"IP_") && name[3]) {
        ReadStandardTcpIpPort(name, host, hostSize, queue, queueSize);
        CopyOut(host, hostSize, name + 3);
        return TRUE;
    }
    // 3. "host_RAW"
    if (length > 4 && _wcsicmp(name + length - 4, L"_RAW") == 0) {
        CopyOut(host, hostSize, name, length - 4);
        return TRUE;
    }
    // 4. "\\host\queue"
    if (StartsWith(name, L"\\\\") && name[2] && name[2] != L'\\') {
        if (const wchar_t* second = std::wcschr(name + 3, L'\\')) {
            CopyOut(host, hostSize, name + 2, static_cast<size_t>(second - (name + 2)));
            if (second[1] && queue && queueSize)
                CopyOut(queue, queueSize, second + 1);
            return TRUE;
        }
    }
    // 5. Exactly one ":" that is not followed by "\".
    const wchar_t* colon = std::wcschr(name, L':');
    if (colon && !std::wcschr(colon + 1, L':') && colon[1] != L'\\') {
        size_t prefixLength = static_cast<size_t>(colon - name);
        // The prefix is compared as a whole word: a one-letter prefix is no scheme.
        auto prefixIs = [&](const wchar_t* word) {
            return prefixLength == std::wcslen(word) && _wcsnicmp(name, word, prefixLength) == 0;
        };
        if (prefixLength > 0 && !prefixIs(L"E-Mail")) {
            if (prefixIs(L"HTTP") || prefixIs(L"HTTPS")) {
                const wchar_t* start = colon + 1;
                for (int slash = 0; slash < 2 && *start == L'/'; ++slash)
                    ++start;
                const wchar_t* end = std::wcschr(start, L'/');
                size_t hostLength = end ? static_cast<size_t>(end - start) : std::wcslen(start);
                if (hostLength > 0) {
                    CopyOut(host, hostSize, start, hostLength);
                    return TRUE;
                }
            } else {
                CopyOut(host, hostSize, name, prefixLength);
                if (queue && queueSize)
                    CopyOut(queue, queueSize, colon + 1);
                return TRUE;
            }
        }
    }
    // 6. "\\host"
    if (StartsWith(name, L"\\\\") && name[2]) {
        CopyOut(host, hostSize, name + 2);
        return TRUE;
    }
    return FALSE;
}

BOOL CPrinterPortResolver::LookupPnpLocation(wchar_t* host, unsigned hostSize) noexcept {
    if (!host || !hostSize || !m_printerName || !*m_printerName)
        return FALSE;
    host[0] = L'\0';
    DWORD major = 0, minor = 0;
    GetWindowsVersion(&major, &minor);
    wchar_t location[128] = {};  // 256 bytes
    if (major == 6 && minor == 0) {
        RegKey root(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum\\IPBusEnumRoot\\UMB\\");
        if (!root)
            return FALSE;
        wchar_t sub[256];
        for (DWORD index = 0; index < 10000; ++index) {
            DWORD subLength = 256;
            if (RegEnumKeyExW(root.Get(), index, sub, &subLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            RegKey device(root.Get(), sub);
            wchar_t friendly[128] = {};
            if (ReadString(device.Get(), L"FriendlyName", friendly, sizeof(friendly)) &&
                std::wcscmp(friendly, m_printerName) == 0) {
                ReadString(device.Get(), L"LocationInformation", location, sizeof(location));
                break;
            }
        }
    } else {
        WText pnpPath(FormatAlloc(L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\%s\\PnPData\\", m_printerName));
        if (!pnpPath)
            return FALSE;
        wchar_t instance[128] = {};
        if (!ReadString(RegKey(HKEY_LOCAL_MACHINE, pnpPath.get()).Get(), L"DeviceInstanceID", instance,
                        sizeof(instance)) ||
            !instance[0])
            return FALSE;
        WText devicePath(FormatAlloc(L"SYSTEM\\CurrentControlSet\\Enum\\%s\\", instance));
        if (!devicePath)
            return FALSE;
        RegKey device(HKEY_LOCAL_MACHINE, devicePath.get());
        if (!device)
            return FALSE;
        // Windows 8 and later keep the location on the WSD provider's device of the container.
        if (major > 6 || (major == 6 && minor > 1)) {
            wchar_t container[128] = {};
            if (!ReadString(device.Get(), L"ContainerID", container, sizeof(container)) || !container[0])
                return FALSE;
            const wchar_t* guid = container[0] == L'{' ? container + 1 : container;
            wchar_t bare[128] = {};
            StrCopy(bare, 128, guid);
            if (wchar_t* close = std::wcschr(bare, L'}'))
                *close = L'\0';
            WText wsdPath(FormatAlloc(L"SYSTEM\\CurrentControlSet\\Enum\\SWD\\DAFWSDProvider\\urn:uuid:%s", bare));
            if (!wsdPath)
                return FALSE;
            ReadString(RegKey(HKEY_LOCAL_MACHINE, wsdPath.get()).Get(), L"LocationInformation", location,
                       sizeof(location));
        } else {
            ReadString(device.Get(), L"LocationInformation", location, sizeof(location));
        }
    }
    if (!location[0])
        return FALSE;
    // "scheme://host:port/path": the second "/"-part, up to its ":".
    const wchar_t* part = location;
    int index = 0;
    while (index < 2) {
        while (*part == L'/')
            ++part;
        if (!*part)
            return FALSE;
        if (++index == 2)
            break;
        const wchar_t* next = std::wcschr(part, L'/');
        if (!next)
            return FALSE;
        part = next;
    }
    size_t hostLength = 0;
    while (part[hostLength] && part[hostLength] != L'/' && part[hostLength] != L':')
        ++hostLength;
    if (hostLength == 0)
        return FALSE;
    if (hostLength > 63)
        hostLength = 63;
    CopyOut(host, hostSize, part, hostLength);
    m_pnp = 1;
    return TRUE;
}

BOOL CPrinterPortResolver::ResolveServerAddress(wchar_t* host, unsigned hostSize, wchar_t* queue,
                                                unsigned queueSize) noexcept {
    if (IsExcludedHostProcess())
        return FALSE;
    if (!m_valid || !host || !hostSize || !queue || !queueSize)
        return FALSE;
    host[0] = L'\0';
    queue[0] = L'\0';
    if (IsLocalPort(m_port))
        return FALSE;
    auto clear = [&] {
        host[0] = L'\0';
        queue[0] = L'\0';
    };

    BOOL found = FALSE;
    if (KeyOpens(HKEY_LOCAL_MACHINE, kTolvaServiceKey)) {
        CopyOut(host, hostSize, L"localhost");
        CopyOut(queue, queueSize, m_share);
        found = TRUE;
    }
    if (!found) {
        wchar_t snmp[128] = {};  // 256 bytes
        if (ReadPrinterText(m_printer, L"NovellSNMPAddressAndPort", snmp, sizeof(snmp))) {
            const wchar_t* token = snmp;
            while (*token == L':')
                ++token;
            if (*token) {
                const wchar_t* end = std::wcschr(token, L':');
                CopyOut(host, hostSize, token, end ? static_cast<size_t>(end - token) : std::wcslen(token));
                found = TRUE;
            }
        }
    }
    if (!found) {
        clear();
        found = ReadStandardTcpIpPort(m_port, host, hostSize, queue, queueSize);
    }
    if (!found) {
        clear();
        found = ParsePortName(m_port, host, hostSize, queue, queueSize);
    }
    if (!found) {
        clear();
        found = ParsePortName(*m_printerName ? m_printerName : m_server, host, hostSize, queue, queueSize);
    }
    if (!found) {
        clear();
        StrUtil<char, wchar_t> narrow(m_port);
        WSADATA data;
        if (narrow.Get() && narrow.Get()[0] && WSAStartup(MAKEWORD(2, 2), &data) == 0) {
            if (gethostbyname(narrow.Get()))
                found = TRUE;
            WSACleanup();
        }
        if (found)
            CopyOut(host, hostSize, m_port);
    }
    if (!found && *m_printerName) {
        bool plain = true;
        for (const wchar_t* c = m_printerName; *c && plain; ++c)
            plain = std::iswalnum(*c) || *c == L'-';
        if (plain) {
            clear();
            CopyOut(host, hostSize, m_printerName);
            found = TRUE;
        }
    }
    if (!found) {
        clear();
        DWORD major = 0;
        GetWindowsVersion(&major, nullptr);
        if (major >= 6)
            found = LookupPnpLocation(host, hostSize);
    }
    if (!found) {
        clear();
        return FALSE;
    }

    // A Netware printer registered under the host and port is not a controller.
    const wchar_t* portPart = std::wcsrchr(m_port, L'\\');
    portPart = portPart ? portPart + 1 : m_port;
    WText netware(FormatAlloc(L"%s%s\\%s", kNetwareKey, host, portPart));
    if (netware && KeyOpens(HKEY_CURRENT_USER, netware.get())) {
        clear();
        return FALSE;
    }
    return TRUE;
}
