// Process-wide holders of the outside-module managers, one per module path: two printers whose
// PPDs name different modules in one process each get their own module, keys and lock.
#pragma once

#include <windows.h>
#include <cwctype>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "foundation/AutoMutex.h"
#include "foundation/Syncher.h"

// Looks an entry point up by name (null when missing); the cast passes through the generic
// function type the compiler accepts for this.
template <class Fn>
Fn BindEntryPoint(HMODULE module, const char* name) noexcept
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Key of a module path: the full path, upper-cased, so that spellings of one file meet.
inline std::wstring ModulePathKey(const wchar_t* path)
{
    std::wstring key;
    if (path == nullptr || path[0] == L'\0')
        return key;
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    key = (length > 0 && length < MAX_PATH) ? std::wstring(full, length) : std::wstring(path);
    for (auto& ch : key)
        ch = static_cast<wchar_t>(std::towupper(ch));
    return key;
}

// The managers of one kind (T is made from the module path), each behind its own Syncher. The
// holders live until process exit; the map only grows.
template <class T>
class ModuleManagerRegistry {
public:
    ModuleManagerRegistry() = default;
    ModuleManagerRegistry(const ModuleManagerRegistry&) = delete;
    ModuleManagerRegistry& operator=(const ModuleManagerRegistry&) = delete;

    // The Syncher of the path's manager, made on first use; for a null or empty path, or when
    // memory runs out, a Syncher that hands out null.
    Syncher<T>& Get(const wchar_t* path) noexcept
    {
        try {
            const std::wstring key = ModulePathKey(path);
            if (key.empty())
                return m_none;
            AutoLock hold(&m_mutex);
            auto found = m_managers.find(key);
            if (found != m_managers.end())
                return *found->second;
            std::unique_ptr<T> object(new (std::nothrow) T(path));
            auto made = std::make_unique<Syncher<T>>(object.get());
            object.release();
            Syncher<T>& result = *made;
            m_managers.emplace(key, std::move(made));
            return result;
        } catch (...) {
            return m_none;
        }
    }

private:
    AutoMutex m_mutex;
    Syncher<T> m_none{nullptr};
    std::map<std::wstring, std::unique_ptr<Syncher<T>>> m_managers;
};
