// The current user's registry key of one driver data file: HKCU
// "Software\VYR\Quillet\Driver\<name>", where <name> is the data file's file name cut to its
// first 8 characters. The sheet entry keeps its attention flag there, and the installable-
// options page and the confirm-installables box keep the user's answer there, so files whose
// names share their first 8 characters share the key.
#pragma once

#include <string>

// Value names under the key.
inline constexpr wchar_t kShowAttentionValue[] = L"QVShowAttention";
inline constexpr wchar_t kConfirmInstallablesValue[] = L"QVConfirmInstallablesDialog";

// The key's path below HKEY_CURRENT_USER; empty for a null or empty data file path or a path
// that ends in a separator. The file name starts after the last '\', '/' or ':'.
std::wstring DriverUserKeyPath(const wchar_t* dataFile);

// Sets "QVConfirmInstallablesDialog" = 1 under the data file's key (made when missing); true
// when written.
bool MarkInstallablesConfirmed(const wchar_t* dataFile) noexcept;
