// Stand-in for a printer maker's OEM module. One source, several builds: each .def file exports a
// different set of the optional entry points, each .rc file carries different key material.
// Every call is logged; the tests read the log through TestCallLog.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "tests/standins/StandInCallLog.h"

namespace {

// The module's own copy of the picture-layer layout (a maker builds against its own header).
struct ModuleCondition {
    wchar_t feature[129];
    wchar_t option[129];
};
struct ModuleRecord {
    wchar_t feature[129];
    wchar_t option[129];
    int x, y, mask, reserved, resid, state;
    ModuleCondition* conditions;
    unsigned count;
};
static_assert(sizeof(void*) != 8 || sizeof(ModuleRecord) == 560, "record layout");

StandInCallLog g_log;

void Log(const std::string& line)
{
    g_log.Add(line);
}

std::string Narrow(const wchar_t* text)
{
    if (text == nullptr)
        return "(null)";
    char buffer[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer) - 1, nullptr, nullptr);
    return buffer;
}

#ifdef TOLVA_OEM_INSTALLABLE_PICTURE
// The printer of the installable-options page: the body, and a layer for each installable the
// user can add or remove, so the picture changes with the lists.
ModuleRecord g_records[] = {
    {L"", L"", 1, 2, 202, 0, 201, -1, nullptr, 0},
    {L"*TolvaTray3", L"True", 4, 20, 203, 0, 203, -1, nullptr, 0},
    {L"*TolvaFinisher", L"Stapler", 24, 4, 203, 0, 203, -1, nullptr, 0},
    {L"*TolvaDuplexUnit", L"True", 24, 20, 203, 0, 203, -1, nullptr, 0},
};
#else
ModuleCondition g_conditions[2] = {{L"*InputSlot", L"Tray2"}, {L"*Finisher", L"Stapler"}};
ModuleRecord g_records[2] = {
    {L"", L"", 1, 2, 202, 0, 201, -1, nullptr, 0},
    {L"*Duplex", L"DuplexNoTumble", 5, 6, 203, 0, 203, -1, g_conditions, 2},
};
#endif

// Text of a job buffer id, empty for an id the module does not know.
std::string BufferText(const char* kind, int id, const wchar_t* driver)
{
    if (id < 1 || id > 3)
        return std::string();
    return std::string("%%") + kind + std::to_string(id) + ": " + Narrow(driver) + "\r\n";
}

int FillBuffer(const std::string& text, char** buffer, DWORD* size)
{
    if (text.empty())
        return 5;
    if (buffer == nullptr || size == nullptr)
        return 7;
    if (*buffer == nullptr) {
        *size = static_cast<DWORD>(text.size());
        return 0;
    }
    if (*size < text.size())
        return 6;
    std::memcpy(*buffer, text.data(), text.size());
    *size = static_cast<DWORD>(text.size());
    return 0;
}

} // namespace

extern "C" {

int WINAPI OEMGetPrinterBitmapInfo(ModuleRecord** records, int* count, ULONG_PTR* a,
                                                         ULONG_PTR* b, ULONG_PTR* c, ULONG_PTR* d)
{
    Log("OEMGetPrinterBitmapInfo");
    if (records == nullptr || count == nullptr)
        return 1;
    *records = g_records;
    *count = static_cast<int>(sizeof(g_records) / sizeof(g_records[0]));
    // Out words the caller must ignore.
    for (ULONG_PTR* word : {a, b, c, d})
        if (word != nullptr)
            *word = 0xDEAD;
    return 0;
}

int WINAPI GetBuffer(DWORD zero, DWORD one, const wchar_t* driver, DWORD reserved, int id,
                                           char** buffer, DWORD* size)
{
    Log("GetBuffer " + std::to_string(zero) + " " + std::to_string(one) + " " + Narrow(driver) + " " +
        std::to_string(reserved) + " " + std::to_string(id) + " " +
        (buffer != nullptr && *buffer != nullptr ? "buffer" : "null") + " " +
        std::to_string(size != nullptr ? *size : 0));
    return FillBuffer(BufferText("OEMBuffer", id, driver), buffer, size);
}

int WINAPI GetBufferEx(DWORD zero, DWORD one, const wchar_t* driver, DWORD reserved, int id,
                                             char** buffer, DWORD* size, DWORD* flag)
{
    Log("GetBufferEx " + std::to_string(zero) + " " + std::to_string(one) + " " + Narrow(driver) + " " +
        std::to_string(reserved) + " " + std::to_string(id) + " " +
        (buffer != nullptr && *buffer != nullptr ? "buffer" : "null") + " " +
        std::to_string(size != nullptr ? *size : 0) + " flag=" +
        (flag != nullptr ? std::to_string(*flag) : std::string("none")));
    return FillBuffer(BufferText("OEMBufferEx", id, driver), buffer, size);
}

int WINAPI GetEncryptionData()
{
    Log("GetEncryptionData");
    return 0;
}

// The calls made so far, one line each (valid until the next call into the module).
const char* TestCallLog()
{
    return g_log.Snapshot();
}

void TestResetLog()
{
    g_log.Clear();
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
