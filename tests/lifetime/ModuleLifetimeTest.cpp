// The delivered modules in a process that loads and frees them again and again, as the spooler,
// applications and the two-way server do: after 1,500 cycles a TLS index is still to be had near
// where the process started, the page-file usage has stopped growing and no handle is left open.
#include <windows.h>
#include <psapi.h>
#include <unknwn.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "TesmorHarness.h"

using namespace tesmor_test;

namespace {

constexpr int kCycles = 1500;
constexpr int kWarmUp = 20;
constexpr int kServerCycles = 20;  // each terminate pauses a second
constexpr SIZE_T kMaxGrowth = 64 * 1024;

// {ABCE80D7-9F46-11D1-882A-00C04FB961EC}: the driver UI plug-in class.
constexpr CLSID kUiPluginClass = {0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
// {6D6ABF26-9F38-11D1-882A-00C04FB961EC}: the rendering plug-in class.
constexpr CLSID kRenderPluginClass = {0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

// The next TLS index the process would hand out, TLS_OUT_OF_INDEXES when there is none.
DWORD NextTlsIndex()
{
    const DWORD index = TlsAlloc();
    if (index != TLS_OUT_OF_INDEXES)
        TlsFree(index);
    return index;
}

SIZE_T PagefileUsage()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

// The process's open handles, from the system's handle list (Wine answers GetProcessHandleCount
// with 0).
size_t HandleCount()
{
    struct Entry {
        PVOID object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG access;
        USHORT creatorBackTrace;
        USHORT objectType;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query =
        reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG kSystemExtendedHandleInformation = 64;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status = query(kSystemExtendedHandleInformation, buffer.data(),
                                      static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0)
            break;
        if (buffer.size() >= (1u << 28))
            return 0;
        buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    size_t mine = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i)
        if (table->entries[i].processId == GetCurrentProcessId())
            ++mine;
    return mine;
}

// Keeps every library the module imports loaded, as a host process has them, so that each cycle
// measures the module itself and not the system libraries loaded and freed with it.
void PinImports(HMODULE module)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress)
        return;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); entry->Name;
         ++entry)
        LoadLibraryA(reinterpret_cast<const char*>(base + entry->Name));
}

// One plug-in cycle: the class object, one instance, both released.
bool MakeAndReleasePlugin(HMODULE module, const CLSID& clsid)
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    const auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get)
        return false;
    IClassFactory* factory = nullptr;
    if (FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) || !factory)
        return false;
    IUnknown* object = nullptr;
    const HRESULT made = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (object)
        object->Release();
    factory->Release();
    return SUCCEEDED(made) && object;
}

struct Figures {
    DWORD tlsBefore = 0;
    DWORD tlsAfter = 0;
    SIZE_T pagefileWarm = 0;
    SIZE_T pagefileAfter = 0;
    size_t handlesWarm = 0;
    size_t handlesAfter = 0;
};

// Runs cycle(i) kCycles times and takes the figures around it; cycle returns false on a failure.
Figures RunCycles(const char* name, const std::function<bool(int)>& cycle)
{
    Figures figures;
    figures.tlsBefore = NextTlsIndex();
    for (int i = 0; i < kCycles; ++i) {
        if (i == kWarmUp) {
            figures.pagefileWarm = PagefileUsage();
            figures.handlesWarm = HandleCount();
        }
        if (!cycle(i)) {
            ADD_FAILURE() << name << ": cycle " << i << " failed (error " << GetLastError() << ")";
            break;
        }
    }
    figures.pagefileAfter = PagefileUsage();
    figures.handlesAfter = HandleCount();
    figures.tlsAfter = NextTlsIndex();
    const double perCycle = (static_cast<double>(figures.pagefileAfter) - static_cast<double>(figures.pagefileWarm)) /
                            (kCycles - kWarmUp);
    std::printf("%s: TLS index %lu -> %lu, page file %+lld bytes after warm-up (%.1f per cycle), handles %zu -> %zu\n",
                name, figures.tlsBefore, figures.tlsAfter,
                static_cast<long long>(figures.pagefileAfter) - static_cast<long long>(figures.pagefileWarm), perCycle,
                figures.handlesWarm, figures.handlesAfter);
    return figures;
}

void ExpectNothingKept(const char* name, const Figures& figures)
{
    EXPECT_NE(figures.tlsAfter, TLS_OUT_OF_INDEXES) << name;
    EXPECT_LE(figures.tlsAfter, figures.tlsBefore + 2) << name << ": TLS indexes kept by the loads";
    EXPECT_LT(figures.pagefileAfter, figures.pagefileWarm + kMaxGrowth)
        << name << ": page file grew from " << figures.pagefileWarm << " to " << figures.pagefileAfter;
    EXPECT_LE(figures.handlesAfter, figures.handlesWarm) << name << ": handles left open";
}

std::wstring ModulePath(const wchar_t* file) { return std::wstring(TOLVA_BINARY_DIR_W L"\\..\\..\\bin\\") + file; }

struct PluginCase {
    const char* name;
    const wchar_t* file;
    const CLSID* clsid;
};

class ModuleLifetime : public ::testing::TestWithParam<PluginCase> {};

TEST_P(ModuleLifetime, PluginLoadsAndFreesLeaveNothingBehind)
{
    const PluginCase& c = GetParam();
    const std::wstring path = ModulePath(c.file);
    HMODULE first = LoadLibraryW(path.c_str());
    ASSERT_NE(first, nullptr) << c.name << ": " << GetLastError();
    PinImports(first);
    FreeLibrary(first);
    ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << c.name << " stays loaded";

    const Figures figures = RunCycles(c.name, [&](int) {
        HMODULE module = LoadLibraryW(path.c_str());
        if (!module)
            return false;
        const bool made = MakeAndReleasePlugin(module, *c.clsid);
        return FreeLibrary(module) && made;
    });
    ExpectNothingKept(c.name, figures);
}

INSTANTIATE_TEST_SUITE_P(Plugins, ModuleLifetime,
                         ::testing::Values(PluginCase{"Quenta", L"Quenta.dll", &kUiPluginClass},
                                           PluginCase{"Rindle", L"Rindle.dll", &kRenderPluginClass}),
                         [](const ::testing::TestParamInfo<PluginCase>& info) { return std::string(info.param.name); });

TEST(TesmorLifetime, LoadsFreesAndServerSessionsLeaveNothingBehind)
{
    CreateDirectoryW(TempRoot().c_str(), nullptr);
    SimLog log(TempRoot() + L"lifetime-sim.log");
    UseScript(TempRoot() + L"lifetime-script.txt", "server\t10.1.2.3\n");
    {
        DriverFolder folder(L"lifetime");
        ASSERT_TRUE(folder.Load());
        PinImports(folder.Module());
        folder.Unload();

        // The server sessions are spread over the run, the first ones inside the warm-up.
        const int serverEvery = kCycles / kServerCycles;
        const Figures figures = RunCycles("Tesmor", [&](int i) {
            if (i % serverEvery != 0) {
                HMODULE module = LoadLibraryExW(folder.KqmPath().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
                return module && FreeLibrary(module);
            }
            if (!folder.Load())
                return false;
            ServerInterfaceContext* context = nullptr;
            const bool served = folder.api.Initialize(&context) == 0 && context &&
                                folder.api.Terminate(&context) == 0;
            folder.Unload();
            return served;
        });
        ExpectNothingKept("Tesmor", figures);
    }
    EXPECT_EQ(log.Faults(), "");
    RemoveTree(TempRoot());
}

}  // namespace
