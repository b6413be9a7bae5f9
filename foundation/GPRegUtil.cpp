// The registry key wrapper, serialised across processes by the registry mutex.
#include "foundation/GPRegUtil.h"

#include <vector>

#include "foundation/StrUtil.h"
#include "foundation/Syncher.h"

namespace {

constexpr wchar_t kRegistryMutexName[] = L"{897005EF-D0F2-4b06-BF93-E43FABAFD5D5}";

struct RegistryMutexTag;

// Closes an opened key at the end of the scope.
class KeyHolder {
public:
    KeyHolder() = default;
    ~KeyHolder() {
        if (m_key) RegCloseKey(m_key);
    }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

}  // namespace

AutoMutex* GPRegUtil::GetMutex() noexcept {
    return &GuardedStatic<AutoMutex, RegistryMutexTag>::Get([] { return AutoMutex(kRegistryMutexName); });
}

GPRegUtil::GPRegUtil(HKEY parent, const wchar_t* subKey) noexcept : m_parent(parent), m_subKey(subKey) {
    GetMutex()->Lock();
    if (parent && subKey) {
        HKEY key = nullptr;
        if (RegOpenKeyW(parent, subKey, &key) == ERROR_SUCCESS) m_key = key;
    }
}

GPRegUtil::~GPRegUtil() {
    if (m_key) RegCloseKey(m_key);
    m_key = nullptr;
    GetMutex()->Unlock();
}

bool GPRegUtil::Create() noexcept {
    if (!m_key && m_parent && m_subKey) {
        HKEY key = nullptr;
        if (RegCreateKeyW(m_parent, m_subKey, &key) == ERROR_SUCCESS) m_key = key;
    }
    return m_key != nullptr;
}

DWORD GPRegUtil::GetDWord(const wchar_t* name, DWORD def) noexcept {
    if (!m_key || !name) return def;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return def;
    return value;
}

wchar_t* GPRegUtil::GetString(const wchar_t* name, const wchar_t* def) noexcept {
    if (m_key) {
        DWORD size = 0;
        if (RegQueryValueExW(m_key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
            const size_t chars = size / sizeof(wchar_t) + 1;
            WText text(new (std::nothrow) wchar_t[chars]());
            DWORD got = size;
            if (text &&
                RegQueryValueExW(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text.get()), &got) ==
                    ERROR_SUCCESS &&
                got <= size) {
                text[got / sizeof(wchar_t)] = 0;
                // An empty string value reads as missing, like a value of size 0.
                if (text[0]) return text.release();
            }
        }
    }
    return def ? FormatAlloc(L"%s", def) : nullptr;
}

bool GPRegUtil::FindFreeValueName(wchar_t* name, unsigned size) noexcept {
    if (!m_key || !name || size < 12) return false;
    // Among the names "0" .. "count" at least one is free.
    const DWORD count = GetValueCount();
    for (DWORD n = 0; n <= count; ++n) {
        if (FormatToBuffer(name, size, L"%u", n) == 0) return false;
        const LONG status = RegQueryValueExW(m_key, name, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_FILE_NOT_FOUND) return true;
    }
    return false;
}

bool GPRegUtil::SetDWord(const wchar_t* name, DWORD value) noexcept {
    if (!m_key && !Create()) return false;
    wchar_t freeName[16];
    if (!name) {
        if (!FindFreeValueName(freeName, 16)) return false;
        name = freeName;
    }
    return RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

bool GPRegUtil::SetString(const wchar_t* name, const wchar_t* text) noexcept {
    if (!text) return false;
    if (!m_key && !Create()) return false;
    wchar_t freeName[16];
    if (!name) {
        if (!FindFreeValueName(freeName, 16)) return false;
        name = freeName;
    }
    const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    if (bytes > 0x7FFFFFFF) return false;
    return RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(bytes)) ==
           ERROR_SUCCESS;
}

DWORD GPRegUtil::Increment(const wchar_t* name) noexcept {
    if (!name) return 0;
    if (!m_key && !Create()) return 0;
    const DWORD value = GetDWord(name, 0) + 1;
    return SetDWord(name, value) ? value : 0;
}

DWORD GPRegUtil::GetValueCount() noexcept {
    if (!m_key) return 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(m_key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return values;
}

bool CreateRegKey(HKEY parent, const wchar_t* subKey) noexcept {
    if (!parent || !subKey) return false;
    HKEY key = nullptr;
    if (RegCreateKeyW(parent, subKey, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool DeleteRegKeyTree(HKEY parent, const wchar_t* subKey) noexcept {
    if (!parent || !subKey) return false;
    std::vector<WText> children;
    {
        KeyHolder key;
        if (RegOpenKeyExW(parent, subKey, 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return false;
        DWORD count = 0;
        DWORD longest = 0;
        const LONG status = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, &longest, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) count = 0;
        if (count) {
            WText name(new (std::nothrow) wchar_t[static_cast<size_t>(longest) + 1]);
            if (!name) return false;
            try {
                for (DWORD i = 0; i < count; ++i) {
                    if (RegEnumKeyW(key.Get(), i, name.get(), longest + 1) != ERROR_SUCCESS) continue;
                    WText path(FormatAlloc(L"%s\\%s", subKey, name.get()));
                    if (path) children.push_back(std::move(path));
                }
            } catch (...) {
                return false;
            }
        }
    }
    for (const WText& child : children) DeleteRegKeyTree(parent, child.get());
    return RegDeleteKeyW(parent, subKey) == ERROR_SUCCESS;
}

bool DeleteRegValue(HKEY parent, const wchar_t* subKey, const wchar_t* valueName) noexcept {
    if (!parent || !subKey || !valueName) return false;
    KeyHolder key;
    if (RegOpenKeyExW(parent, subKey, 0, KEY_SET_VALUE, key.Out()) != ERROR_SUCCESS) return false;
    return RegDeleteValueW(key.Get(), valueName) == ERROR_SUCCESS;
}
