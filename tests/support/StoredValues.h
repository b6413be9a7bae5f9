// What a test reads back from the printer data and the machine's registry, with a visible marker
// for a missing value so that a failed expectation names it.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "storage/PrinterData.h"

namespace tolvatest {

inline std::wstring Text(HANDLE printer, const wchar_t* name) {
    WText text(PrnGetText(printer, name));
    return text ? text.get() : L"<missing>";
}

inline std::wstring MachineString(const std::wstring& path, const wchar_t* name) {
    GPRegUtil key(HKEY_LOCAL_MACHINE, path.c_str());
    WText text(key.GetString(name, nullptr));
    return text ? text.get() : L"<missing>";
}

inline DWORD MachineDword(const std::wstring& path, const wchar_t* name) {
    GPRegUtil key(HKEY_LOCAL_MACHINE, path.c_str());
    return key.GetDWord(name, 12345);
}

}  // namespace tolvatest
