// Small helpers of the event tests.
#pragma once

#include <windows.h>

#include <string>

// True when root\path can be opened.
inline bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
