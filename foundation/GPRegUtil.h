// Registry access of the whole system: GPRegUtil wraps one open key and holds the
// cross-process registry mutex "{897005EF-D0F2-4b06-BF93-E43FABAFD5D5}" for its whole
// lifetime, so that the modules of the system never interleave their reads and writes.
// Wrappers are short-lived stack objects.
#pragma once

#include <windows.h>

#include "foundation/AutoMutex.h"

class GPRegUtil {
public:
    // Locks the registry mutex and opens parent\subKey when both are given. A missing key
    // is not an error: the wrapper then reads defaults until Create (or a write) makes it.
    // subKey is stored, not copied: it must outlive the wrapper.
    GPRegUtil(HKEY parent, const wchar_t* subKey) noexcept;
    ~GPRegUtil();

    GPRegUtil(const GPRegUtil&) = delete;
    GPRegUtil& operator=(const GPRegUtil&) = delete;

    // Creates the key when it is not open; true when it is open afterwards.
    bool Create() noexcept;
    bool IsOpen() const noexcept { return m_key != nullptr; }
    HKEY GetKey() const noexcept { return m_key; }

    // The DWORD value, or def when the key is not open, the name is null or the read fails.
    DWORD GetDWord(const wchar_t* name, DWORD def) noexcept;
    // New copy of the string value (free with delete[]); on any failure (also an empty
    // value) a new copy of def, or null when def is null.
    wchar_t* GetString(const wchar_t* name, const wchar_t* def) noexcept;
    // Write a value (creating the key when needed). A null name appends the value under
    // the first free decimal name ("0", "1", ...). True on success.
    bool SetDWord(const wchar_t* name, DWORD value) noexcept;
    bool SetString(const wchar_t* name, const wchar_t* text) noexcept;
    // Adds 1 to a DWORD value (a missing value counts as 0); the new value, 0 on failure.
    DWORD Increment(const wchar_t* name) noexcept;
    // Number of values under the key; 0 when it is not open.
    DWORD GetValueCount() noexcept;

    // The process's registry mutex (made on first use, destroyed at process exit).
    static AutoMutex* GetMutex() noexcept;

protected:
    // Fills name (at least 12 characters) with the first decimal name not in use.
    bool FindFreeValueName(wchar_t* name, unsigned size) noexcept;

    HKEY m_key = nullptr;
    HKEY m_parent;
    const wchar_t* m_subKey;
};

// Creates parent\subKey (and closes it again); false for null arguments or a failure.
bool CreateRegKey(HKEY parent, const wchar_t* subKey) noexcept;
// Deletes parent\subKey with everything below it; true when the key itself was deleted
// (false for a missing key).
bool DeleteRegKeyTree(HKEY parent, const wchar_t* subKey) noexcept;
// Deletes one value of parent\subKey; false for null arguments or a failure.
bool DeleteRegValue(HKEY parent, const wchar_t* subKey, const wchar_t* valueName) noexcept;
