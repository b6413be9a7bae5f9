// Printer and driver events, driver-package extraction (see Events.h).
#include "uiplugin/Events.h"

#include <winddiui.h>
#include <winspool.h>

#include <cwchar>
#include <memory>
#include <new>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "storage/CfgSettingsManager.h"
#include "storage/PrnRegUtil.h"
#include "sheets/BaseDriverTab.h"
#include "storage/ZipArchive.h"
#include "uiplugin/GeneralInfo.h"

namespace {

constexpr size_t kUserKeyNameChars = 8;
// The folder part of a search pattern; a longer folder is never cut to fit.
constexpr size_t kMaxPatternFolderChars = 256;

// A full path: "X:\..." or a UNC path; anything else would resolve against whatever the
// current directory is.
bool IsFullPath(const wchar_t* path) noexcept
{
    if (!path) return false;
    if (path[0] == L'\\' && path[1] == L'\\') return true;
    return ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
           (path[2] == L'\\' || path[2] == L'/');
}

class PrinterHandle {
public:
    explicit PrinterHandle(const wchar_t* name) noexcept
    {
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (!OpenPrinterW(const_cast<wchar_t*>(name), &m_handle, &defaults)) m_handle = nullptr;
    }
    ~PrinterHandle()
    {
        if (m_handle) ClosePrinter(m_handle);
    }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;
    HANDLE Get() const noexcept { return m_handle; }

private:
    HANDLE m_handle = nullptr;
};

void DeletePrinterKeys(HANDLE printer, const wchar_t* printerName, const GeneralInfo<IPrintCoreUI2>& info) noexcept
{
    WText userKey(GetUserKeyPath(info.GetDataFile()));
    // Holds the process's registry mutex until the keys are gone.
    GPRegUtil hold(HKEY_CURRENT_USER, nullptr);
    // Without a data file there is no key of this PPD: an empty name would delete the
    // keys of every PPD.
    if (userKey) DeleteRegKeyTree(HKEY_CURRENT_USER, userKey.get());
    // The driver's machine key holds every printer's storage and client id: only this
    // printer's entries go here, the key itself when the driver is deleted.
    UnregisterPrinter(printer, printerName);
}

}  // namespace

wchar_t* GetUserKeyPath(const wchar_t* dataFile) noexcept
{
    if (!dataFile || !*dataFile) return nullptr;
    WText fileName(GetPathFileName(dataFile));
    if (!fileName || !fileName[0]) return nullptr;
    wchar_t shortName[kUserKeyNameChars + 1] = {};
    StrNCopy(shortName, kUserKeyNameChars + 1, fileName.get(), kUserKeyNameChars);
    return FormatAlloc(L"Software\\VYR\\Quillet\\Driver\\%s", shortName);
}

wchar_t* GetMachineKeyPath(const wchar_t* driverName) noexcept
{
    if (!driverName || !*driverName) return nullptr;
    return FormatAlloc(L"Software\\VYR\\PrinterProps\\%s", driverName);
}

wchar_t* GetPackagePath(const wchar_t* dataFile) noexcept
{
    if (!IsFullPath(dataFile)) return nullptr;
    return ReplaceExtensionAlloc(dataFile, L".TQX");
}

wchar_t* GetPackageFolder(const wchar_t* dataFile) noexcept
{
    if (!IsFullPath(dataFile)) return nullptr;
    WText directory(GetPathDirectory(dataFile));
    WText stem(GetPathStem(dataFile));
    if (!directory || !directory[0] || !stem || !stem[0]) return nullptr;
    WText folder(FormatAlloc(L"%s%s\\", directory.get(), stem.get()));
    if (!folder || StrLen(folder.get()) >= MAX_PATH) return nullptr;
    return folder.release();
}

BOOL RemoveDirectoryFiles(const wchar_t* folder) noexcept
{
    if (!folder || !*folder) return FALSE;
    size_t folderLength = StrLen(folder);
    if (folderLength > kMaxPatternFolderChars) return FALSE;
    wchar_t pattern[MAX_PATH + 1] = {};
    FormatToBuffer(pattern, MAX_PATH + 1, L"%s*.*", folder);
    std::unique_ptr<WIN32_FIND_DATAW> found(new (std::nothrow) WIN32_FIND_DATAW);
    if (!found) return FALSE;
    HANDLE search = FindFirstFileW(pattern, found.get());
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            wchar_t path[MAX_PATH + 1] = {};
            if (folderLength + StrLen(found->cFileName) > MAX_PATH) continue;
            FormatToBuffer(path, MAX_PATH + 1, L"%s%s", folder, found->cFileName);
            // A read-only file refuses deletion.
            if (found->dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path);
        } while (FindNextFileW(search, found.get()));
        FindClose(search);
    }
    return RemoveDirectoryW(folder);
}

BOOL UnpackDriverPackage(const wchar_t* dataFile) noexcept
{
    WText folder(GetPackageFolder(dataFile));
    WText package(GetPackagePath(dataFile));
    if (!folder || !package) return FALSE;
    RemoveDirectoryFiles(folder.get());
    CreateDirectoryW(folder.get(), nullptr);

    ZipArchiveHandle* archive = ZipOpenArchive(package.get(), nullptr);
    if (!archive) return FALSE;
    ZipItemInfo info;
    bool everything = ZipGetItemInfo(archive, -1, &info) == kZipOk;
    const int count = everything ? info.index : 0;
    const size_t folderLength = StrLen(folder.get());
    // One refused or damaged item costs only itself: the walk goes on with the next one. Only
    // an archive that cannot be read up to an item ends it, as no later item can be reached.
    for (int index = 0; index < count; ++index) {
        DWORD code = ZipGetItemInfo(archive, index, &info);
        const bool unreachable = code == kZipErrRead;
        // A target that does not fit is skipped: a cut path would name another file.
        if (code == kZipOk && folderLength + StrLen(info.name) >= MAX_PATH) code = kZipErrArgument;
        if (code == kZipOk) {
            wchar_t target[MAX_PATH] = {};
            FormatToBuffer(target, MAX_PATH, L"%s%s", folder.get(), info.name);
            code = ZipExtractItem(archive, index, target);
        }
        if (code == kZipOk) continue;
        everything = false;
        DebugTrace(L"Quenta: package item %d of %d not extracted (0x%lX)", index, count, static_cast<unsigned long>(code));
        if (unreachable) break;
    }
    ZipCloseArchive(archive);
    return everything ? TRUE : FALSE;
}

HRESULT ProcessPrinterEvent(const wchar_t* printerName, INT event, DWORD, LPARAM) noexcept
{
    // OpenPrinterW with no name opens the print server itself.
    if (!printerName || !*printerName) return S_FALSE;
    try {
        PrinterHandle printer(printerName);
        if (!printer.Get()) return S_FALSE;
        GeneralInfo<IPrintCoreUI2> info(printer.Get(), nullptr);
        switch (event) {
        case PRINTER_EVENT_INITIALIZE:
            InitialisePrinterRegistry(printer.Get());
            RegisterPrinterClient(printer.Get(), printerName, TRUE);
            break;
        case PRINTER_EVENT_DELETE:
            DeletePrinterKeys(printer.Get(), printerName, info);
            break;
        case PRINTER_EVENT_CACHE_REFRESH:
            RegisterPrinterClient(printer.Get(), printerName, FALSE);
            break;
        case PRINTER_EVENT_CACHE_DELETE:
            UnregisterPrinter(printer.Get(), printerName);
            break;
        default:
            break;
        }
        return S_OK;
    } catch (...) {
        return S_OK;
    }
}

HRESULT DriverEventHandler(DWORD event, DWORD level, const BYTE* driverInfo, LPARAM) noexcept
{
    if (!driverInfo) return S_FALSE;
    const wchar_t* driverName = nullptr;
    const wchar_t* dataFile = nullptr;
    if (level == 1) {
        driverName = reinterpret_cast<const DRIVER_INFO_1W*>(driverInfo)->pName;
    } else if (level == 2 || level == 3) {
        // DRIVER_INFO_3 begins with the fields of DRIVER_INFO_2.
        const auto* info = reinterpret_cast<const DRIVER_INFO_2W*>(driverInfo);
        driverName = info->pName;
        dataFile = info->pDataFile;
    }
    if (!dataFile || !*dataFile) return S_FALSE;
    try {
        CfgSettingsHold settings(dataFile);
        if (!settings.Get()) return S_FALSE;
        WText cache(GetCfgCacheFilePath(dataFile));
        if (cache) {
            SetFileAttributesW(cache.get(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(cache.get());
        }
        // What this process compiled before belongs to the PPD that is being replaced.
        settings.Get()->Unload();
        if (event == DRIVER_EVENT_INITIALIZE) {
            UnpackDriverPackage(dataFile);
            // Compiles the PPD and writes the cache now rather than at the first dialog.
            settings.Get()->GetSectionSize(9);
        } else if (event == DRIVER_EVENT_DELETE) {
            WText folder(GetPackageFolder(dataFile));
            if (folder) RemoveDirectoryFiles(folder.get());
            WText machineKey(GetMachineKeyPath(driverName));
            if (machineKey) DeleteRegTreeAsSpooler(HKEY_LOCAL_MACHINE, machineKey.get());
        }
        return S_OK;
    } catch (...) {
        return S_FALSE;
    }
}
