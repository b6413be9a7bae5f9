// Settings stores: a named set of wide-text values loaded from and saved to one place
// outside the process - a printer-data key of a printer (CAdminStore) or a registry key
// (CUserStore). The registry type belongs to the store: REG_BINARY stores write the raw
// characters of each value, every other type writes terminated text.
#pragma once

#include <windows.h>

#include <map>
#include <string>

// One value of a store. Binary data is kept as whole wide characters (its byte length is
// twice the length), so it may hold embedded NULs.
class CStoreEntry {
public:
    CStoreEntry() = default;
    explicit CStoreEntry(const wchar_t* text);
    CStoreEntry(const wchar_t* data, size_t length);
    CStoreEntry(const CStoreEntry&) = default;
    CStoreEntry& operator=(const CStoreEntry&) = default;
    virtual ~CStoreEntry() = default;

    const wchar_t* GetValue() const noexcept { return m_value.c_str(); }
    size_t GetLength() const noexcept { return m_value.size(); }
    const std::wstring& Text() const noexcept { return m_value; }

private:
    std::wstring m_value;
};

class CBaseStore {
public:
    using Entries = std::map<std::wstring, CStoreEntry>;  // ordered by code-unit comparison
    using Iterator = Entries::const_iterator;

    virtual ~CBaseStore() = default;
    CBaseStore(const CBaseStore&) = delete;
    CBaseStore& operator=(const CBaseStore&) = delete;

    // 1 on success, 0 on failure (see the classes).
    virtual BOOL Load() noexcept = 0;
    virtual BOOL Save() noexcept = 0;
    virtual BOOL Delete() noexcept = 0;
    // A new store of the same class, place, key and type with a copy of the entries (free
    // with delete); null when out of memory.
    virtual CBaseStore* Clone() const noexcept = 0;
    // Replaces the entries by a copy of other's; a null other (or other == this) changes
    // nothing.
    virtual void CopyFrom(const CBaseStore* other) noexcept;

    void Clear() noexcept { m_entries.clear(); }
    // True when the last Load failed because memory ran short (not because nothing was stored).
    bool OutOfMemory() const noexcept { return m_outOfMemory; }
    Iterator Begin() const noexcept { return m_entries.begin(); }
    Iterator End() const noexcept { return m_entries.end(); }
    size_t Count() const noexcept { return m_entries.size(); }
    // Key text, entry and value text at an iterator; null at the end.
    const wchar_t* GetKey(Iterator at) const noexcept;
    const CStoreEntry* GetEntry(Iterator at) const noexcept;
    const wchar_t* GetValue(Iterator at) const noexcept;
    // The entry of a key, or null.
    const CStoreEntry* Find(const wchar_t* key) const noexcept;

    // Erases the key's entry when present.
    void Remove(const wchar_t* key) noexcept;
    // Replace (or add) the key's entry: a terminated text, or length wide characters of
    // data. False for a null key or data, or when out of memory (the old entry is then gone).
    bool SetString(const wchar_t* key, const wchar_t* text) noexcept;
    bool SetValue(const wchar_t* key, const wchar_t* data, size_t length) noexcept;
    // The first entry in key order whose value equals text, with its 0-based ordinal; the
    // end (ordinal untouched) for a null text or when none matches.
    Iterator FindByValue(const wchar_t* text, int* ordinal) const noexcept;

    DWORD GetType() const noexcept { return m_type; }
    const wchar_t* GetKeyName() const noexcept { return m_hasKeyName ? m_keyName.c_str() : nullptr; }

protected:
    CBaseStore(void* place, const wchar_t* keyName, DWORD type) noexcept;
    // The type values are written with: 0 means REG_SZ.
    DWORD WriteType() const noexcept { return m_type ? m_type : REG_SZ; }
    // Data and byte size of an entry as Save writes it: REG_BINARY the raw characters;
    // otherwise the text up to its first NUL with a terminator.
    void WriteData(const CStoreEntry& entry, const BYTE** data, DWORD* size) const noexcept;
    // Stores one value read from outside: REG_BINARY as bytes / 2 characters, other types
    // as text cut at its first NUL within the bytes given (never read past them). Throws
    // std::bad_alloc when memory runs short, so a load never goes on with a value left out.
    bool AddLoaded(const wchar_t* name, DWORD type, const BYTE* data, DWORD bytes);
    // Ends a Load that met a failed allocation: empty, and OutOfMemory() says so.
    BOOL FailLoadForMemory() noexcept {
        Clear();
        m_outOfMemory = true;
        return FALSE;
    }

    Entries m_entries;
    bool m_outOfMemory = false;
    void* m_place;
    // The key name is copied, so a store never outlives the text it was made with.
    std::wstring m_keyName;
    bool m_hasKeyName;
    DWORD m_type;
};

// The administrator's settings of a printer: the values of one printer-data key.
class CAdminStore : public CBaseStore {
public:
    CAdminStore(HANDLE printer, const wchar_t* keyName, DWORD type) noexcept : CBaseStore(printer, keyName, type) {}

    // Clears, then reads every value of the key. 0 when the key has no values or cannot be
    // read (the store is then empty).
    BOOL Load() noexcept override;
    // Replaces the key: deletes it, then writes every entry in key order, stopping at the
    // first failure. 1 only when the last write succeeded (an empty store gives 0).
    BOOL Save() noexcept override;
    // Removes nothing; 1 when a printer handle is held.
    BOOL Delete() noexcept override { return m_place != nullptr; }
    CBaseStore* Clone() const noexcept override;

    HANDLE GetPrinter() const noexcept { return static_cast<HANDLE>(m_place); }
};

// Values of a registry key, for example the user's local watermarks.
class CUserStore : public CBaseStore {
public:
    CUserStore(HKEY root, const wchar_t* path, DWORD type) noexcept : CBaseStore(root, path, type) {}

    // Clears, then reads every value of root\path. 1 when the key could be opened, whatever
    // the number of values.
    BOOL Load() noexcept override;
    // Deletes the key (0 when it exists and cannot be deleted, e.g. it has sub-keys), creates
    // it and writes every entry. 1 when every write succeeded (an empty store gives 1).
    BOOL Save() noexcept override;
    // Deletes root\path; 1 on success.
    BOOL Delete() noexcept override;
    CBaseStore* Clone() const noexcept override;

    HKEY GetRoot() const noexcept { return static_cast<HKEY>(m_place); }
};
