// Stand-in for a printer maker's user-authentication module. One source, several builds: each
// .def file leaves out a different entry point. Every call is logged with its inputs; the token
// is a readable text, so the tests can see what was packed.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "tests/standins/StandInCallLog.h"

namespace {

std::mutex g_lock;
StandInCallLog g_log;
std::string g_keyDirectory;

void Log(const std::string& line)
{
    g_log.Add(line);
}

std::string Text(const char* text)
{
    return text != nullptr ? std::string(text) : std::string("(null)");
}

// Bytes as hexadecimal, so that embedded NULs show.
std::string Hex(const char* bytes, int length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

char* Duplicate(const std::string& text)
{
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

extern "C" {

// Packs the key directory: server NUL port NUL; a server named "fail-option" is refused.
int __cdecl AUTH_Option_PackAndEncrypt(const char* buffer, int length, char** option)
{
    if (buffer == nullptr || length < 0 || option == nullptr) {
        Log("AUTH_Option_PackAndEncrypt bad arguments");
        return 2;
    }
    Log("AUTH_Option_PackAndEncrypt " + std::to_string(length) + " " + Hex(buffer, length));
    if (std::strcmp(buffer, "fail-option") == 0)
        return 1;
    *option = Duplicate("OPT[" + std::string(buffer) + "|" + std::string(buffer + std::strlen(buffer) + 1) + "]");
    return 0;
}

int __cdecl AUTH_setOption(const char* name, const char* option)
{
    Log("AUTH_setOption " + Text(name) + " " + Text(option));
    std::lock_guard<std::mutex> hold(g_lock);
    g_keyDirectory = Text(option);
    return 0;
}

// The token names everything it was given; a user named "fail" makes the module fail.
int __cdecl AUTH_packAndEncrypt(const char* user, const char* password, const char* domain, unsigned mode,
                                int windowsUser, char** output)
{
    Log("AUTH_packAndEncrypt " + Text(user) + " " + Text(password) + " " + Text(domain) + " " +
        std::to_string(mode) + " " + std::to_string(windowsUser));
    if (output == nullptr)
        return -1;
    if (user != nullptr && std::strcmp(user, "fail") == 0)
        return -1;
    std::string directory;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        directory = g_keyDirectory;
    }
    *output = Duplicate("TOKEN{" + Text(domain) + "\\" + Text(user) + ":" + Text(password) + ";mode=" +
                        std::to_string(mode) + ";win=" + std::to_string(windowsUser) + ";dir=" + directory + "}");
    return 0;
}

void __cdecl AUTH_freeBuffer(char** buffer)
{
    Log(std::string("AUTH_freeBuffer ") + (buffer != nullptr && *buffer != nullptr ? "buffer" : "null"));
    if (buffer != nullptr) {
        std::free(*buffer);
        *buffer = nullptr;
    }
}

const char* TestCallLog()
{
    return g_log.Snapshot();
}

void TestResetLog()
{
    g_log.Clear();
    std::lock_guard<std::mutex> hold(g_lock);
    g_keyDirectory.clear();
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
