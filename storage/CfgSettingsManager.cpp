// Settings manager: the map of compiled settings by PPD path and the process-wide instance.
#include "storage/CfgSettingsManager.h"

#include <cwchar>
#include <new>

#include "foundation/StrUtil.h"

CfgSettingsManager::CfgSettingsManager(const wchar_t* extension) {
    const wchar_t* ext = extension ? extension : L".CFG";
    if (wcsnlen(ext, 257) > 256) ext = L".CFG";
    wcsncpy_s(m_extension, ext, _TRUNCATE);
}

CfgSettingsManager::~CfgSettingsManager() {
    // Settings first: they use the byte sources.
    for (auto& [path, entry] : m_entries) entry->settings.reset();
    m_entries.clear();
}

wchar_t* CfgSettingsManager::GetCacheFilePath(const wchar_t* ppdPath) const {
    if (!ppdPath || !*ppdPath) return nullptr;
    return ReplaceExtensionAlloc(ppdPath, m_extension);
}

CfgSettingsManager::Entry* CfgSettingsManager::FindOrMake(const wchar_t* ppdPath, const wchar_t* moduleName,
                                                          const wchar_t* resourceName) {
    AutoLock lock(&m_lock);
    try {
        const std::wstring key(ppdPath);
        if (auto it = m_entries.find(key); it != m_entries.end()) return it->second.get();

        WText cachePath(GetCacheFilePath(ppdPath));
        if (!cachePath || !*cachePath.get()) return nullptr;
        std::unique_ptr<Entry> entry(new Entry());
        if (moduleName && resourceName) {
            entry->extensionSource.reset(new PPDParser::CResIOPlugIn(moduleName, L"PPD", resourceName, 0));
        }
        entry->ppdSource.reset(new PPDParser::CFileIOPlugIn());
        entry->cacheSource.reset(new PPDParser::CFileIOPlugIn(cachePath.get()));
        if (!entry->cacheSource->GetName()) return nullptr;
        CfgSettings* settings = new (std::nothrow)
            CfgSettings(ppdPath, entry->ppdSource.get(), entry->cacheSource.get(),
                        entry->extensionSource ? resourceName : nullptr, entry->extensionSource.get());
        if (!settings) return nullptr;
        entry->settings.reset(new Syncher<CfgSettings>(settings));
        if (!settings->IsValid()) return nullptr;
        Entry* made = entry.get();
        m_entries.emplace(key, std::move(entry));
        return made;
    } catch (...) {
        return nullptr;  // everything made in this call goes with the holders
    }
}

CfgSettings* CfgSettingsManager::GetSettings(const wchar_t* ppdPath, const wchar_t* moduleName,
                                             const wchar_t* resourceName) {
    if (!ppdPath || !*ppdPath || wcsnlen(ppdPath, MAX_PATH) >= MAX_PATH) return nullptr;
    if (!moduleName || !resourceName) moduleName = resourceName = nullptr;
    if (moduleName && (!*moduleName || wcsnlen(moduleName, MAX_PATH) >= MAX_PATH)) moduleName = resourceName = nullptr;
    // The map lock is released before waiting for the settings: a thread that waits for a
    // busy PPD never keeps others from acquiring or releasing theirs. Entries are never
    // removed, so the entry outlives the wait.
    Entry* entry = FindOrMake(ppdPath, moduleName, resourceName);
    if (!entry || !entry->settings) return nullptr;
    CfgSettings* settings = entry->settings->Lock();
    if (settings) settings->BeginHold();
    return settings;
}

void CfgSettingsManager::ReleaseSettings(const wchar_t* ppdPath, CfgSettings* settings) {
    if (!ppdPath || !settings || wcsnlen(ppdPath, MAX_PATH) >= MAX_PATH) return;
    Entry* entry = nullptr;
    {
        AutoLock lock(&m_lock);
        try {
            auto it = m_entries.find(std::wstring(ppdPath));
            if (it != m_entries.end()) entry = it->second.get();
        } catch (...) {
            return;
        }
    }
    if (!entry || !entry->settings || entry->settings->Get() != settings) return;
    if (settings->EndHold()) entry->settings->Unlock(settings);
}

Syncher<CfgSettingsManager>& GetCfgSettingsManager() {
    return GuardedSyncher<CfgSettingsManager>([] { return new (std::nothrow) CfgSettingsManager(L".PBJ"); });
}

CfgSettings* AcquireCfgSettings(const wchar_t* ppdPath) {
    if (!ppdPath || !*ppdPath) return nullptr;
    CfgSettingsManager* manager = GetCfgSettingsManager().Get();
    if (!manager) return nullptr;
    wchar_t module[MAX_PATH];
    MakeSiblingPath(module, MAX_PATH, ppdPath, L".LAN");
    return manager->GetSettings(ppdPath, module[0] ? module : nullptr, L"IDR_PPDEXTENSIONS");
}

void ReleaseCfgSettings(const wchar_t* ppdPath, CfgSettings* settings) {
    if (CfgSettingsManager* manager = GetCfgSettingsManager().Get()) manager->ReleaseSettings(ppdPath, settings);
}

wchar_t* GetCfgCacheFilePath(const wchar_t* ppdPath) {
    CfgSettingsManager* manager = GetCfgSettingsManager().Get();
    return manager ? manager->GetCacheFilePath(ppdPath) : nullptr;
}
