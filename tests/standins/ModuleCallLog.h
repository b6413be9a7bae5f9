// How tests read the call log that the stand-in modules keep, through their "TestCallLog" and
// "TestResetLog" exports.
#pragma once

#include <windows.h>

#include <string>

// The module's log of calls, one line each; "(no log)" when the module has none.
inline std::string ReadModuleCallLog(HMODULE module)
{
    using LogFn = const char* (*)();
    auto log = reinterpret_cast<LogFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "TestCallLog")));
    return log != nullptr ? std::string(log()) : std::string("(no log)");
}

inline void ResetModuleCallLog(HMODULE module)
{
    using ResetFn = void (*)();
    auto reset = reinterpret_cast<ResetFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "TestResetLog")));
    if (reset != nullptr)
        reset();
}
