// The process-wide owner of the compiled settings: one CfgSettings per PPD path (paths
// that differ only in letter case share one), handed out locked to one thread at a time.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "foundation/AutoMutex.h"
#include "foundation/Syncher.h"
#include "storage/CfgSettings.h"

class CfgSettingsManager {
public:
    // extension: the cache file's extension (".CFG" when null; the process-wide manager
    // uses ".PBJ"), at most 256 characters.
    explicit CfgSettingsManager(const wchar_t* extension = nullptr);
    virtual ~CfgSettingsManager();
    CfgSettingsManager(const CfgSettingsManager&) = delete;
    CfgSettingsManager& operator=(const CfgSettingsManager&) = delete;

    // The settings of the PPD, locked for the calling thread (nested calls of one thread
    // pass at once and are counted), or null. moduleName and resourceName name the
    // extension statements; either null means none.
    CfgSettings* GetSettings(const wchar_t* ppdPath, const wchar_t* moduleName, const wchar_t* resourceName);
    // Ends one hold of the calling thread; nothing for null arguments, an unknown path,
    // another object or a thread that does not hold it.
    void ReleaseSettings(const wchar_t* ppdPath, CfgSettings* settings);
    // New 260-character buffer: the PPD path with the cache extension; null on failure.
    wchar_t* GetCacheFilePath(const wchar_t* ppdPath) const;
    // Live generations of the PPD's settings: the current one and the older ones that driver
    // states still use (0 for a path never acquired).
    LONG CountGenerations(const wchar_t* ppdPath);

private:
    struct Entry {
        std::unique_ptr<PPDParser::CResIOPlugIn> extensionSource;
        std::unique_ptr<PPDParser::CFileIOPlugIn> ppdSource;
        std::unique_ptr<PPDParser::CFileIOPlugIn> cacheSource;
        std::wstring resourceName;
        // The lock of the PPD's settings (one thread at a time, re-entrant for its holder)
        // and the generation new users get; older generations belong to their users.
        AutoMutex lock;
        CfgSettings* current = nullptr;
        std::shared_ptr<volatile LONG> live = std::make_shared<volatile LONG>(0);
    };
    struct CaseLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
    };
    Entry* FindOrMake(const wchar_t* ppdPath, const wchar_t* moduleName, const wchar_t* resourceName);
    Entry* Find(const wchar_t* ppdPath);
    static CfgSettings* MakeGeneration(const wchar_t* ppdPath, Entry& entry);

    wchar_t m_extension[257] = {};
    // Guards the map only; never held while waiting for a CfgSettings.
    AutoMutex m_lock;
    std::map<std::wstring, std::unique_ptr<Entry>, CaseLess> m_entries;
};

// The process-wide manager (made on first use).
Syncher<CfgSettingsManager>& GetCfgSettingsManager();
// The settings of the PPD with its language module's extension statements, locked; every
// non-null result goes back through ReleaseCfgSettings on the same thread.
CfgSettings* AcquireCfgSettings(const wchar_t* ppdPath);
void ReleaseCfgSettings(const wchar_t* ppdPath, CfgSettings* settings);
// New buffer with the cache file's path; the caller frees it with delete[].
wchar_t* GetCfgCacheFilePath(const wchar_t* ppdPath);
// Live generations of the PPD's settings in the process-wide manager.
LONG CountCfgGenerations(const wchar_t* ppdPath);

// Scope holder of an acquire.
class CfgSettingsHold {
public:
    explicit CfgSettingsHold(const wchar_t* ppdPath) : m_path(ppdPath), m_settings(AcquireCfgSettings(ppdPath)) {}
    ~CfgSettingsHold() { ReleaseCfgSettings(m_path, m_settings); }
    CfgSettingsHold(const CfgSettingsHold&) = delete;
    CfgSettingsHold& operator=(const CfgSettingsHold&) = delete;
    CfgSettings* Get() const { return m_settings; }

private:
    const wchar_t* m_path;
    CfgSettings* m_settings;
};
