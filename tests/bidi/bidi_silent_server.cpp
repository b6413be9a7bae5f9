// A two-way server that takes calls and never answers them: started as <stem>.SRV with the
// library path, it counts itself and holds the serving mutex as Brimsa does, registers the
// data file's endpoint and listens, and every BiDiOpen it receives waits for ever. Each open
// appends "open" to "<program>.silent.log" (the program's path without its extension). The
// tests end it; should a test die first, it ends itself after two minutes, so that it never
// holds a test run's output open for good.
#include <windows.h>

#include <cstdio>
#include <new>
#include <string>

#include "BiDiService.h"
#include "uiplugin/BiDiShare.h"

namespace {

std::wstring LogPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.resize(path.find_last_of(L'.'));
    return path + L".silent.log";
}

void AppendLog(const char* line) {
    FILE* file = _wfopen(LogPath().c_str(), L"ab");
    if (!file) return;
    std::fprintf(file, "%lu %s\n", GetTickCount(), line);
    std::fclose(file);
}

DWORD WINAPI EndAfterLife(void*) {
    Sleep(120000);
    ExitProcess(0);
}

}  // namespace

extern "C" {

void* __RPC_USER MIDL_user_allocate(size_t size) { return ::operator new(size, std::nothrow); }
void __RPC_USER MIDL_user_free(void* buffer) { ::operator delete(buffer); }
void __RPC_USER BiDiContextHandle_rundown(BiDiContextHandle) {}

BiDiContextHandle BiDiOpen(handle_t, const wchar_t*, const wchar_t*, const wchar_t*) {
    AppendLog("open");
    for (;;) Sleep(INFINITE);
}
void BiDiClose(BiDiContextHandle* context) {
    if (context) *context = nullptr;
}
void BiDiRequest(BiDiContextHandle, long) {}
long BiDiGetText(BiDiContextHandle, long, long* count, wchar_t** text) {
    *count = 0;
    *text = nullptr;
    return 0;
}
long BiDiIsConnected(BiDiContextHandle) { return 0; }
long BiDiIsConnectedTo(BiDiContextHandle, const wchar_t*) { return 0; }
long BiDiStartDiscover(BiDiContextHandle, const wchar_t*, const wchar_t*, long) { return 0; }
long BiDiDiscover(BiDiContextHandle, const wchar_t*, const wchar_t*, long, long* count, wchar_t** text) {
    *count = 0;
    *text = nullptr;
    return 0;
}
long BiDiStartGetPPD(BiDiContextHandle, const wchar_t*) { return 0; }
long BiDiGetPPD(BiDiContextHandle, const wchar_t*) { return 0; }

}  // extern "C"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 0;
    HANDLE watchdog = CreateThread(nullptr, 0, &EndAfterLife, nullptr, 0, nullptr);
    if (watchdog) CloseHandle(watchdog);
    CBiDiShare share(kBiDiShareGuid, argv[1]);
    if (!share.GetName()) return 0;
    HANDLE serving = share.OpenServingMutex();
    if (serving) WaitForSingleObject(serving, 0);
    {
        BiDiShareMutex mutex;
        AutoLock hold(&mutex);
        share.AddServer();
    }
    std::wstring endpoint = share.GetName();
    wchar_t protocol[] = L"ncalrpc";
    if (RpcServerUseProtseqEpW(reinterpret_cast<RPC_WSTR>(protocol), 20, reinterpret_cast<RPC_WSTR>(endpoint.data()),
                               nullptr) != RPC_S_OK ||
        RpcServerRegisterIf(BiDiService_v1_0_s_ifspec, nullptr, nullptr) != RPC_S_OK)
        return 1;
    AppendLog("listen");
    RpcServerListen(1, 20, FALSE);
    return 0;
}
