// Settings stores over printer data and the registry (see Store.h).
#include "storage/Store.h"

#include <winspool.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "foundation/GPRegUtil.h"
#include "storage/PrinterData.h"

namespace {

// Owns an open registry key.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (m_key)
            RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* Out() noexcept { return &m_key; }
    HKEY Get() const noexcept { return m_key; }

private:
    HKEY m_key = nullptr;
};

// Longest stretch of one value we are prepared to hold (guards the size arithmetic).
constexpr DWORD kMaxValueBytes = 0x4000000;

}  // namespace

CStoreEntry::CStoreEntry(const wchar_t* text) : m_value(text ? text : L"") {}

CStoreEntry::CStoreEntry(const wchar_t* data, size_t length) : m_value(data && length ? std::wstring(data, length) : L"") {}

CBaseStore::CBaseStore(void* place, const wchar_t* keyName, DWORD type) noexcept
    : m_place(place), m_hasKeyName(false), m_type(type) {
    if (keyName) {
        try {
            m_keyName = keyName;
            m_hasKeyName = true;
        } catch (...) {
            m_place = nullptr;  // unusable without its key
        }
    }
}

void CBaseStore::CopyFrom(const CBaseStore* other) noexcept {
    if (!other || other == this)
        return;
    try {
        Entries copy = other->m_entries;
        m_entries.swap(copy);
    } catch (...) {
        // Out of memory: the entries stay as they were.
    }
}

const wchar_t* CBaseStore::GetKey(Iterator at) const noexcept { return at == m_entries.end() ? nullptr : at->first.c_str(); }

const CStoreEntry* CBaseStore::GetEntry(Iterator at) const noexcept { return at == m_entries.end() ? nullptr : &at->second; }

const wchar_t* CBaseStore::GetValue(Iterator at) const noexcept {
    return at == m_entries.end() ? nullptr : at->second.GetValue();
}

const CStoreEntry* CBaseStore::Find(const wchar_t* key) const noexcept {
    if (!key)
        return nullptr;
    try {
        auto found = m_entries.find(key);
        return found == m_entries.end() ? nullptr : &found->second;
    } catch (...) {
        return nullptr;
    }
}

void CBaseStore::Remove(const wchar_t* key) noexcept {
    if (!key)
        return;
    try {
        m_entries.erase(std::wstring(key));
    } catch (...) {
    }
}

bool CBaseStore::SetString(const wchar_t* key, const wchar_t* text) noexcept {
    if (!key || !text)
        return false;
    Remove(key);
    try {
        m_entries.emplace(key, CStoreEntry(text));
        return true;
    } catch (...) {
        return false;
    }
}

bool CBaseStore::SetValue(const wchar_t* key, const wchar_t* data, size_t length) noexcept {
    if (!key || (!data && length))
        return false;
    Remove(key);
    try {
        m_entries.emplace(key, CStoreEntry(data, length));
        return true;
    } catch (...) {
        return false;
    }
}

CBaseStore::Iterator CBaseStore::FindByValue(const wchar_t* text, int* ordinal) const noexcept {
    if (!text)
        return m_entries.end();
    int index = 0;
    for (auto at = m_entries.begin(); at != m_entries.end(); ++at, ++index) {
        if (at->second.Text().compare(text) == 0) {
            if (ordinal)
                *ordinal = index;
            return at;
        }
    }
    return m_entries.end();
}

void CBaseStore::WriteData(const CStoreEntry& entry, const BYTE** data, DWORD* size) const noexcept {
    const std::wstring& value = entry.Text();
    *data = reinterpret_cast<const BYTE*>(value.c_str());
    if (WriteType() == REG_BINARY) {
        *size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    } else {
        // Up to the first NUL: characters after an embedded NUL are not written.
        *size = static_cast<DWORD>((std::wcslen(value.c_str()) + 1) * sizeof(wchar_t));
    }
}

bool CBaseStore::AddLoaded(const wchar_t* name, DWORD type, const BYTE* data, DWORD bytes) {
    if (!name)
        return false;
    size_t chars = data ? bytes / sizeof(wchar_t) : 0;
    std::vector<wchar_t> aligned(chars + 1, L'\0');  // the data may not be aligned
    if (chars)
        std::memcpy(aligned.data(), data, chars * sizeof(wchar_t));
    // Text ends at the size returned (or its first NUL), never past it.
    const bool stored =
        type == REG_BINARY ? SetValue(name, aligned.data(), chars) : SetString(name, aligned.data());
    if (!stored)
        throw std::bad_alloc();  // the name and the data are there: only memory was short
    return true;
}

// --- CAdminStore -----------------------------------------------------------------------

BOOL CAdminStore::Load() noexcept {
    Clear();
    m_outOfMemory = false;
    HANDLE printer = GetPrinter();
    const wchar_t* key = GetKeyName();
    if (!printer || !key)
        return FALSE;
    try {
        DWORD needed = 0, count = 0;
        DWORD error = PrnEnumDataEx(printer, key, nullptr, 0, &needed, &count);
        if (error != ERROR_MORE_DATA || needed == 0)
            return FALSE;
        std::vector<BYTE> buffer;
        // The key may grow between the size query and the read: retry with the new size.
        for (int attempt = 0;; ++attempt) {
            if (needed > kMaxValueBytes || attempt >= 4)
                return FALSE;
            buffer.assign(needed, 0);
            DWORD got = 0;
            count = 0;
            error = PrnEnumDataEx(printer, key, buffer.data(), needed, &got, &count);
            if (error == ERROR_SUCCESS)
                break;
            if (error != ERROR_MORE_DATA || got <= needed)
                return FALSE;
            needed = got;
        }
        const auto* values = reinterpret_cast<const PRINTER_ENUM_VALUESW*>(buffer.data());
        if (static_cast<size_t>(count) > buffer.size() / sizeof(PRINTER_ENUM_VALUESW))
            count = 0;
        for (DWORD i = 0; i < count; ++i)
            AddLoaded(values[i].pValueName, values[i].dwType, values[i].pData, values[i].cbData);
        return TRUE;
    } catch (const std::bad_alloc&) {
        return FailLoadForMemory();
    } catch (...) {
        Clear();
        return FALSE;
    }
}

BOOL CAdminStore::Save() noexcept {
    HANDLE printer = GetPrinter();
    const wchar_t* key = GetKeyName();
    if (!printer || !key)
        return FALSE;
    PrnDeleteKey(printer, key);  // a missing key is fine
    DWORD last = ERROR_NO_DATA;  // an empty store has written nothing
    for (const auto& [name, entry] : m_entries) {
        const BYTE* data = nullptr;
        DWORD size = 0;
        WriteData(entry, &data, &size);
        last = PrnSetDataEx(printer, key, name.c_str(), WriteType(), data, size);
        if (last != ERROR_SUCCESS)
            break;
    }
    return last == ERROR_SUCCESS;
}

CBaseStore* CAdminStore::Clone() const noexcept {
    CAdminStore* copy = new (std::nothrow) CAdminStore(GetPrinter(), GetKeyName(), m_type);
    if (copy)
        copy->CopyFrom(this);
    return copy;
}

// --- CUserStore ------------------------------------------------------------------------

BOOL CUserStore::Load() noexcept {
    Clear();
    m_outOfMemory = false;
    HKEY root = GetRoot();
    const wchar_t* path = GetKeyName();
    if (!root || !path)
        return FALSE;
    AutoLock registry(GPRegUtil::GetMutex());
    RegKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return FALSE;
    try {
        DWORD values = 0, longestName = 0, longestData = 0;
        if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                             &longestData, nullptr, nullptr) != ERROR_SUCCESS)
            return TRUE;  // opened and closed: an unreadable key loads as empty
        std::vector<wchar_t> name(static_cast<size_t>(longestName) + 1);
        std::vector<BYTE> data(static_cast<size_t>(longestData) + 2);
        for (DWORD index = 0; index < 0x100000;) {
            DWORD nameChars = static_cast<DWORD>(name.size());
            DWORD dataBytes = static_cast<DWORD>(data.size());
            DWORD type = REG_NONE;
            LSTATUS status = RegEnumValueW(key.Get(), index, name.data(), &nameChars, nullptr, &type, data.data(),
                                           &dataBytes);
            if (status == ERROR_MORE_DATA) {
                // A value grew since the query: make room and read the same index again.
                DWORD newName = 0, newData = 0;
                if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &newName,
                                     &newData, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                if (newName + 1 <= name.size() && newData + 2 <= data.size())
                    break;  // no larger value reported: give up rather than loop
                if (newData > kMaxValueBytes)
                    break;
                name.resize(std::max<size_t>(name.size(), static_cast<size_t>(newName) + 1));
                data.resize(std::max<size_t>(data.size(), static_cast<size_t>(newData) + 2));
                continue;
            }
            if (status != ERROR_SUCCESS)
                break;
            name[std::min<size_t>(nameChars, name.size() - 1)] = L'\0';
            if (dataBytes > data.size())
                dataBytes = static_cast<DWORD>(data.size());
            AddLoaded(name.data(), type, data.data(), dataBytes);
            ++index;
        }
        return TRUE;
    } catch (const std::bad_alloc&) {
        return FailLoadForMemory();
    } catch (...) {
        Clear();
        return FALSE;
    }
}

BOOL CUserStore::Save() noexcept {
    HKEY root = GetRoot();
    const wchar_t* path = GetKeyName();
    if (!root || !path)
        return FALSE;
    AutoLock registry(GPRegUtil::GetMutex());
    HKEY existing = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &existing) == ERROR_SUCCESS) {
        RegCloseKey(existing);
        if (RegDeleteKeyW(root, path) != ERROR_SUCCESS)
            return FALSE;  // e.g. it has sub-keys: the stored values stay as they were
    }
    RegKey key;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, key.Out(), nullptr) != ERROR_SUCCESS)
        return FALSE;
    for (const auto& [name, entry] : m_entries) {
        const BYTE* data = nullptr;
        DWORD size = 0;
        WriteData(entry, &data, &size);
        if (RegSetValueExW(key.Get(), name.c_str(), 0, WriteType(), data, size) != ERROR_SUCCESS)
            return FALSE;
    }
    return TRUE;
}

BOOL CUserStore::Delete() noexcept {
    HKEY root = GetRoot();
    const wchar_t* path = GetKeyName();
    if (!root || !path)
        return FALSE;
    AutoLock registry(GPRegUtil::GetMutex());
    return RegDeleteKeyW(root, path) == ERROR_SUCCESS;
}

CBaseStore* CUserStore::Clone() const noexcept {
    CUserStore* copy = new (std::nothrow) CUserStore(GetRoot(), GetKeyName(), m_type);
    if (copy)
        copy->CopyFrom(this);
    return copy;
}
