// The printer registry and the spooler-side registry wrapper (see PrnRegUtil.h).
#include "storage/PrnRegUtil.h"

#include <rpc.h>
#include <winspool.h>

#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "storage/PortResolver.h"
#include "storage/PrinterData.h"
#include "storage/Store.h"

namespace {

const wchar_t kValidationKey[] = L"ValidationKey";
const wchar_t kTolvaServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\vyr_tolva";
const wchar_t kMachineWatermarks[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Watermark";

using RevertFn = HANDLE(WINAPI*)();
using ImpersonateFn = BOOL(WINAPI*)(HANDLE);

// A printer opened by name with full access, closed at the end of the scope.
class OpenedPrinter {
public:
    explicit OpenedPrinter(const wchar_t* name) noexcept {
        if (!name || !*name)
            return;
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (!OpenPrinterW(const_cast<wchar_t*>(name), &m_printer, &defaults))
            m_printer = nullptr;
    }
    ~OpenedPrinter() {
        if (m_printer)
            ClosePrinter(m_printer);
    }
    OpenedPrinter(const OpenedPrinter&) = delete;
    OpenedPrinter& operator=(const OpenedPrinter&) = delete;
    HANDLE Get() const noexcept { return m_printer; }

private:
    HANDLE m_printer = nullptr;
};

bool KeyOpens(HKEY root, const wchar_t* path) noexcept {
    HKEY key = nullptr;
    if (!root || !path || RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Names of the sub-keys of root\path (empty on failure).
std::vector<std::wstring> SubKeys(HKEY root, const wchar_t* path) noexcept {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (!path || RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    try {
        wchar_t name[256];
        for (DWORD index = 0; index < 100000; ++index) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
    } catch (...) {
        names.clear();
    }
    RegCloseKey(key);
    return names;
}

// A string value of HKEY_LOCAL_MACHINE\path as a new text; null when missing or empty.
wchar_t* ReadMachineString(const wchar_t* path, const wchar_t* name) noexcept {
    GPRegUtil key(HKEY_LOCAL_MACHINE, path);
    return key.IsOpen() ? key.GetString(name, nullptr) : nullptr;
}

}  // namespace

// --- PrnRegUtil --------------------------------------------------------------------------

PrnRegUtil::PrnRegUtil(HKEY root, const wchar_t* subKey) noexcept : GPRegUtil(root, subKey) {
    m_spoolss = LoadLibraryW(L"spoolss.dll");
    if (!m_spoolss)
        return;
    auto revert = reinterpret_cast<RevertFn>(reinterpret_cast<void*>(GetProcAddress(m_spoolss, "RevertToPrinterSelf")));
    if (!revert) {
        FreeLibrary(m_spoolss);
        m_spoolss = nullptr;
        return;
    }
    m_token = revert();
}

PrnRegUtil::~PrnRegUtil() { ResumeImpersonation(); }

void PrnRegUtil::ResumeImpersonation() noexcept {
    if (m_spoolss && m_token) {
        auto impersonate = reinterpret_cast<ImpersonateFn>(
            reinterpret_cast<void*>(GetProcAddress(m_spoolss, "ImpersonatePrinterClient")));
        if (impersonate)
            impersonate(m_token);
    }
    m_token = nullptr;
    if (m_spoolss) {
        FreeLibrary(m_spoolss);
        m_spoolss = nullptr;
    }
}

// --- Supporting operations ---------------------------------------------------------------

ByteBuffer GetPrinterInfo2(HANDLE printer) noexcept {
    if (!printer)
        return nullptr;
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    if (size < sizeof(PRINTER_INFO_2W))
        return nullptr;
    ByteBuffer buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer || !GetPrinterW(printer, 2, buffer.get(), size, &size))
        return nullptr;
    return buffer;
}

wchar_t* GetPrinterDataText(HANDLE printer, const wchar_t* valueName) noexcept { return PrnGetText(printer, valueName); }

wchar_t* NewGuidString() noexcept {
    UUID uuid;
    if (UuidCreate(&uuid) != RPC_S_OK)
        return nullptr;
    RPC_WSTR text = nullptr;
    if (UuidToStringW(&uuid, &text) != RPC_S_OK || !text)
        return nullptr;
    wchar_t* copy = StrDup(reinterpret_cast<const wchar_t*>(text));
    RpcStringFreeW(&text);
    return copy;
}

bool IsConnectionName(const wchar_t* server, const wchar_t* port, const wchar_t* printerName) noexcept {
    if (!server || !port || !printerName || !*server)
        return false;
    WText joined(FormatAlloc(L"%s\\%s", server, port));
    return joined && std::wcscmp(joined.get(), printerName) == 0;
}

wchar_t* PrinterNameToHex(const wchar_t* printerName) noexcept {
    if (!printerName || !*printerName)
        return nullptr;
    StrUtil<char, wchar_t> narrow(printerName);
    if (!narrow.Get())
        return nullptr;
    int count = static_cast<int>(StrLenA(narrow.Get()));
    wchar_t* hex = new (std::nothrow) wchar_t[static_cast<size_t>(count) * 2 + 1];
    if (!hex)
        return nullptr;
    BytesToHex(reinterpret_cast<const uint8_t*>(narrow.Get()), count, hex, static_cast<unsigned>(count) * 2 + 1);
    hex[count * 2] = L'\0';
    return hex;
}

wchar_t* HexToPrinterName(const wchar_t* hex) noexcept {
    if (!hex || !*hex)
        return nullptr;
    size_t count = StrLen(hex) / 2;
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[count + 1]);
    if (!bytes)
        return nullptr;
    int got = HexToBytes(hex, reinterpret_cast<uint8_t*>(bytes.get()), static_cast<unsigned>(count));
    if (got <= 0)
        return nullptr;
    bytes[got] = '\0';
    StrUtil<wchar_t, char> wide(bytes.get());
    return wide.Get() ? wide.Detach() : nullptr;
}

bool DeleteRegTreeAsSpooler(HKEY root, const wchar_t* path) noexcept {
    if (!root || !path)
        return false;
    PrnRegUtil spooler(root, path);
    return DeleteRegKeyTree(root, path);
}

bool DeleteRegValueAsSpooler(HKEY root, const wchar_t* path, const wchar_t* valueName) noexcept {
    if (!root || !path || !valueName)
        return false;
    PrnRegUtil spooler(root, path);
    return DeleteRegValue(root, path, valueName);
}

// --- The registry operations ---------------------------------------------------------------

void InitialisePrinterRegistry(HANDLE printer) noexcept {
    if (!printer)
        return;
    WText existing(PrnGetText(printer, L"PrinterStorage"));
    if (existing)
        return;
    WText id(NewGuidString());
    ByteBuffer infoBuffer(GetPrinterInfo2(printer));
    if (!id || !infoBuffer)
        return;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(infoBuffer.get());
    if (!info->pDriverName)
        return;
    WText storage(FormatAlloc(L"Software\\VYR\\PrinterProps\\%s\\XID\\{%s}", info->pDriverName, id.get()));
    WText list(FormatAlloc(L"Software\\VYR\\PrinterProps\\%s\\Ptr", info->pDriverName));
    WText crossRef(FormatAlloc(L"Software\\VYR\\PrinterProps\\%s\\XID", info->pDriverName));
    if (!storage || !list || !crossRef)
        return;
    PrnSetText(printer, L"PrinterID", id.get());
    PrnSetText(printer, L"PrinterStorage", storage.get());
    PrnSetText(printer, L"PrinterList", list.get());
    PrnSetText(printer, L"CrossRefList", crossRef.get());

    wchar_t host[512] = {};
    wchar_t queue[512] = {};
    CPrinterPortResolver resolver(printer);
    if (!resolver.ResolveServerAddress(host, 512, queue, 512) || !host[0]) {
        // The server that shares the printer; a local printer has none, written as the
        // explicit text "(null)" that the reader takes as no server.
        StrCopy(host, 512, info->pServerName ? info->pServerName : L"(null)");
        if (const wchar_t* bar = std::wcsrchr(host, L'|')) {
            std::wmemmove(host, bar + 1, StrLen(bar + 1) + 1);
        }
    }
    PrnSetText(printer, L"QVTwoWayServer", host);
    PrnSetText(printer, L"IsTolvaServer", KeyOpens(HKEY_LOCAL_MACHINE, kTolvaServiceKey) ? L"1" : L"0");

    // The machine's watermarks become the printer's.
    CUserStore machine(HKEY_LOCAL_MACHINE, kMachineWatermarks, 0);
    machine.Load();
    CAdminStore watermarks(printer, L"Watermark", 0);
    watermarks.CopyFrom(&machine);
    watermarks.Save();
}

void RemoveStaleClients(HANDLE printer) noexcept {
    WText crossRef(PrnGetText(printer, L"CrossRefList"));
    if (!crossRef)
        return;
    std::vector<std::wstring> stale;
    try {
        for (const std::wstring& child : SubKeys(HKEY_LOCAL_MACHINE, crossRef.get())) {
            std::wstring path = std::wstring(crossRef.get()) + L"\\" + child;
            if (!KeyOpens(HKEY_LOCAL_MACHINE, (path + L"\\" + kValidationKey).c_str()))
                stale.push_back(path);
        }
    } catch (...) {
        return;
    }
    for (const std::wstring& path : stale) {
        WText clientId(ReadMachineString(path.c_str(), L"ClientID"));
        if (!clientId)
            continue;  // never registered: nothing of a client to remove
        WText owner(ReadMachineString(path.c_str(), L"PrinterNm"));
        // The owner's settings key goes only when the printer of that name still uses this
        // storage: a printer that took over the name has a storage and settings of its own.
        if (owner) {
            OpenedPrinter named(owner.get());
            WText ownerStorage(named.Get() ? PrnGetText(named.Get(), L"PrinterStorage") : nullptr);
            if (ownerStorage && _wcsicmp(ownerStorage.get(), path.c_str()) == 0)
                PrnDeleteKey(named.Get(), clientId.get());
        }
        DeleteRegTreeAsSpooler(HKEY_LOCAL_MACHINE, path.c_str());
    }
}

void RegisterPrinterClient(HANDLE printer, const wchar_t* printerName, BOOL countConnection) noexcept {
    if (!printer || !printerName || !*printerName)
        return;
    ByteBuffer infoBuffer(GetPrinterInfo2(printer));
    if (!infoBuffer)
        return;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(infoBuffer.get());
    if (IsConnectionName(info->pServerName, info->pPortName, printerName)) {
        WText list(PrnGetText(printer, L"PrinterList"));
        WText hex(PrinterNameToHex(printerName));
        if (!list || !hex)
            return;
        WText entry(FormatAlloc(L"%s\\%s", list.get(), hex.get()));
        if (!entry)
            return;
        PrnRegUtil key(HKEY_LOCAL_MACHINE, entry.get());
        key.Create();
        return;
    }
    WText storage(PrnGetText(printer, L"PrinterStorage"));
    WText list(PrnGetText(printer, L"PrinterList"));
    if (!storage || !list)
        return;
    RemoveStaleClients(printer);
    PrnRegUtil key(HKEY_LOCAL_MACHINE, storage.get());
    if (!key.Create())
        return;
    CreateRegKey(key.GetKey(), kValidationKey);
    if (countConnection)
        key.Increment(L"ClientConnections");
    WText existing(key.GetString(L"ClientID", nullptr));
    if (existing)
        return;
    WText guid(NewGuidString());
    if (!guid)
        return;
    WText clientId(FormatAlloc(L"{%s}", guid.get()));
    if (!clientId)
        return;
    if (key.SetString(L"ClientID", clientId.get()) && key.SetString(L"PrinterNm", printerName))
        PrnSetText(printer, L"ClientID", clientId.get());
}

bool IsStorageShared(const wchar_t* listPath, const wchar_t* storage) noexcept {
    if (!listPath || !storage)
        return false;
    for (const std::wstring& child : SubKeys(HKEY_LOCAL_MACHINE, listPath)) {
        WText name(HexToPrinterName(child.c_str()));
        if (!name)
            continue;
        OpenedPrinter listed(name.get());
        if (!listed.Get())
            continue;
        WText other(PrnGetText(listed.Get(), L"PrinterStorage"));
        if (other && std::wcscmp(other.get(), storage) == 0)
            return true;
    }
    return false;
}

wchar_t* ReleaseConnection(const wchar_t* printerName) noexcept {
    OpenedPrinter printer(printerName);
    if (!printer.Get())
        return nullptr;
    WText list(PrnGetText(printer.Get(), L"PrinterList"));
    WText storage(PrnGetText(printer.Get(), L"PrinterStorage"));
    WText hex(PrinterNameToHex(printerName));
    if (!list || !hex)
        return nullptr;
    WText entry(FormatAlloc(L"%s\\%s", list.get(), hex.get()));
    if (!entry)
        return nullptr;
    DeleteRegTreeAsSpooler(HKEY_LOCAL_MACHINE, entry.get());
    if (!storage || IsStorageShared(list.get(), storage.get()))
        return nullptr;
    return ReadMachineString(storage.get(), L"PrinterNm");
}

void InvalidatePrinterStorage(HANDLE printer) noexcept {
    WText storage(PrnGetText(printer, L"PrinterStorage"));
    if (!storage)
        return;
    WText validation(FormatAlloc(L"%s\\%s", storage.get(), kValidationKey));
    if (validation)
        DeleteRegTreeAsSpooler(HKEY_LOCAL_MACHINE, validation.get());
    DeleteRegValueAsSpooler(HKEY_LOCAL_MACHINE, storage.get(), L"Invalid");
    DeleteRegValueAsSpooler(HKEY_LOCAL_MACHINE, storage.get(), L"Valid");
}

void UnregisterPrinter(HANDLE printer, const wchar_t* printerName) noexcept {
    if (!printer)
        return;
    ByteBuffer infoBuffer(GetPrinterInfo2(printer));
    bool connection = false;
    if (infoBuffer && printerName) {
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(infoBuffer.get());
        connection = IsConnectionName(info->pServerName, info->pPortName, printerName);
    }
    bool invalidate = true;
    if (connection) {
        WText owner(ReleaseConnection(printerName));
        invalidate = owner != nullptr;
    }
    if (invalidate)
        InvalidatePrinterStorage(printer);
    RemoveStaleClients(printer);
}
