// Helpers of the ZIP tests: the built packages, scratch folders, folder walks and CRC-32s.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ZipExpected.h"

namespace ziptest {

// Windows path of a package written by make_packages.py.
std::wstring Package(const wchar_t* name);
// An empty scratch folder of that name (made fresh), with its trailing backslash.
std::wstring FreshScratch(const std::wstring& name);
// The sandbox that hostile absolute names aim at, holding only "canary.txt".
std::wstring ResetSandbox();
std::wstring SandboxPath();
// Deletes a folder with everything below it (attributes cleared first).
void DeleteTree(const std::wstring& folder);
// Every file and folder below root as relative paths (folders end in "\"), sorted.
std::vector<std::wstring> ListTree(const std::wstring& root);
// The file's bytes; false when it cannot be read.
bool ReadBytes(const std::wstring& path, std::string* bytes);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
unsigned Crc32(const std::string& bytes);
// The expected record of an item, null when there is none.
const ZipExpectedItem* Expected(const char* package, const char* name);
// Narrow (UTF-8) form for messages.
std::string Narrow(const std::wstring& text);
// The file's attributes, INVALID_FILE_ATTRIBUTES when missing.
DWORD Attributes(const std::wstring& path);
// The file's write time as a 64-bit number, 0 when it cannot be had.
unsigned long long WriteTime(const std::wstring& path);

}  // namespace ziptest
