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
    // Settings first: they use the byte sources. A generation that driver states still use
    // lives on until they let go (it never touches the sources again).
    for (auto& [path, entry] : m_entries) {
        if (entry->current) entry->current->Retire();
        entry->current = nullptr;
    }
    m_entries.clear();
}

wchar_t* CfgSettingsManager::GetCacheFilePath(const wchar_t* ppdPath) const {
    if (!ppdPath || !*ppdPath) return nullptr;
    return ReplaceExtensionAlloc(ppdPath, m_extension);
}

CfgSettings* CfgSettingsManager::MakeGeneration(const wchar_t* ppdPath, Entry& entry) {
    CfgSettings* settings = new (std::nothrow)
        CfgSettings(ppdPath, entry.ppdSource.get(), entry.cacheSource.get(),
                    entry.extensionSource ? entry.resourceName.c_str() : nullptr, entry.extensionSource.get());
    if (!settings) return nullptr;
    if (!settings->IsValid()) {
        delete settings;
        return nullptr;
    }
    settings->SetLiveCounter(entry.live);
    return settings;
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
            entry->resourceName = resourceName;
        }
        entry->ppdSource.reset(new PPDParser::CFileIOPlugIn());
        entry->cacheSource.reset(new PPDParser::CFileIOPlugIn(cachePath.get()));
        if (!entry->cacheSource->GetName()) return nullptr;
        entry->current = MakeGeneration(ppdPath, *entry);
        if (!entry->current) return nullptr;
        Entry* made = entry.get();
        try {
            m_entries.emplace(key, std::move(entry));
        } catch (...) {
            if (entry) {
                entry->current->Retire();
                entry->current = nullptr;
            }
            throw;
        }
        return made;
    } catch (...) {
        return nullptr;  // everything made in this call goes with the holders
    }
}

CfgSettingsManager::Entry* CfgSettingsManager::Find(const wchar_t* ppdPath) {
    AutoLock lock(&m_lock);
    try {
        auto it = m_entries.find(std::wstring(ppdPath));
        return it != m_entries.end() ? it->second.get() : nullptr;
    } catch (...) {
        return nullptr;
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
    if (!entry) return nullptr;
    entry->lock.Lock();
    CfgSettings* settings = entry->current;
    if (!settings) {
        entry->lock.Unlock();
        return nullptr;
    }
    // A PPD changed under driver states: they keep their generation, new users get a new one.
    if (settings->GetUserCount() > 0 && settings->NeedsNewGeneration()) {
        if (CfgSettings* fresh = MakeGeneration(ppdPath, *entry)) {
            settings->Retire();
            entry->current = settings = fresh;
        }
    }
    settings->BeginHold();
    return settings;
}

void CfgSettingsManager::ReleaseSettings(const wchar_t* ppdPath, CfgSettings* settings) {
    if (!ppdPath || !settings || wcsnlen(ppdPath, MAX_PATH) >= MAX_PATH) return;
    Entry* entry = Find(ppdPath);
    // A generation is replaced only while no thread holds it, so a held one is the current one.
    if (!entry || entry->current != settings) return;
    if (settings->EndHold()) entry->lock.Unlock();
}

LONG CfgSettingsManager::CountGenerations(const wchar_t* ppdPath) {
    if (!ppdPath || !*ppdPath) return 0;
    Entry* entry = Find(ppdPath);
    return entry ? InterlockedCompareExchange(entry->live.get(), 0, 0) : 0;
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

LONG CountCfgGenerations(const wchar_t* ppdPath) {
    CfgSettingsManager* manager = GetCfgSettingsManager().Get();
    return manager ? manager->CountGenerations(ppdPath) : 0;
}
