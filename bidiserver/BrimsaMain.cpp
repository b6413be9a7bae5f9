// Brimsa, the two-way server: serves BiDiService on the endpoint named after the data file
// for the print-server library named by its one argument, until the watchdog finds it idle.
// Every failure ends the program at once with exit code 0.
#include <windows.h>
#include <sddl.h>

#include "BiDiService.h"
#include "bidiserver/BiDiConnection.h"
#include "bidiserver/BiDiServer.h"
#include "foundation/StrUtil.h"
#include "uiplugin/TimerSleep.h"

namespace {

constexpr unsigned kMaxCalls = 20;
// How long a new server retries an endpoint that an ending one still holds.
constexpr DWORD kEndpointRetryMs = 2000;

// A security descriptor admitting this process's user and SYSTEM (LocalFree it).
PSECURITY_DESCRIPTOR MakeEndpointSecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
    CloseHandle(token);
    if (!ok) return nullptr;
    wchar_t* sidText = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sidText)) return nullptr;
    wchar_t* sddl = FormatAlloc(L"D:P(A;;GA;;;%ls)(A;;GA;;;SY)", sidText);
    LocalFree(sidText);
    if (!sddl) return nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        descriptor = nullptr;
    delete[] sddl;
    return descriptor;
}

bool RegisterEndpoint(const wchar_t* endpoint) {
    PSECURITY_DESCRIPTOR security = MakeEndpointSecurity();
    if (!security) return false;
    wchar_t protocol[] = L"ncalrpc";
    wchar_t* name = StrDup(endpoint);
    RPC_STATUS status = RPC_S_OUT_OF_MEMORY;
    if (name) {
        // A server that is stopping may still hold the endpoint for a moment.
        for (DWORD waited = 0;; waited += 100) {
            status = RpcServerUseProtseqEpW(reinterpret_cast<RPC_WSTR>(protocol), kMaxCalls,
                                            reinterpret_cast<RPC_WSTR>(name), security);
            if (status != RPC_S_DUPLICATE_ENDPOINT || waited >= kEndpointRetryMs) break;
            TimerSleep(100);
        }
    }
    delete[] name;
    LocalFree(security);
    return status == RPC_S_OK;
}

// Admits only callers running as the server's user.
RPC_STATUS RPC_ENTRY BiDiSecurityCallback(RPC_IF_HANDLE, void*) {
    return IsBiDiCallerAdmitted() ? RPC_S_OK : ERROR_ACCESS_DENIED;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || !argv[1]) return 0;
    CBiDiServer* server = CBiDiServer::Instance(argv[1]);
    if (!server || !server->GetTable()) return 0;
    const wchar_t* endpoint = server->GetShare().GetName();
    if (!endpoint || !RegisterEndpoint(endpoint)) return 0;
    // Without "callbacks with no authentication" Windows drops the unauthenticated local
    // calls before the callback could admit them.
    if (RpcServerRegisterIfEx(BiDiService_v1_0_s_ifspec, nullptr, nullptr,
                              RPC_IF_ALLOW_LOCAL_ONLY | RPC_IF_ALLOW_CALLBACKS_WITH_NO_AUTH, kMaxCalls,
                              &BiDiSecurityCallback) != RPC_S_OK)
        return 0;
    HANDLE watchdog = CreateThread(nullptr, 0, &BiDiWatchdogThread, server, 0, nullptr);
    if (!watchdog) {
        // Nothing would ever stop the server.
        RpcServerUnregisterIf(nullptr, nullptr, FALSE);
        return 0;
    }
    RpcServerListen(1, kMaxCalls, FALSE);
    WaitForThreadExit(watchdog);
    CloseHandle(watchdog);
    return 0;
}
