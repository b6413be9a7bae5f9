// Rindle's COM shell, through the built module as the core driver loads it: the class
// object, the factory, the plug-in object's interfaces, GetInfo, PublishDriverInterface,
// DisableDriver and the null request record of DevMode.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include "platform/DriverKit.h"

namespace {

constexpr IID kSomeOtherIid = {0x12345678, 0x1234, 0x1234, {0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0x34}};

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

template <class Fn>
Fn RindleExport(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Rindle loaded for one test, freed at the end.
class RindleModule {
public:
    RindleModule() : m_module(LoadLibraryW(TOLVA_RINDLE_PATH_W)) {}
    ~RindleModule()
    {
        if (m_module) FreeLibrary(m_module);
    }
    RindleModule(const RindleModule&) = delete;
    RindleModule& operator=(const RindleModule&) = delete;

    HMODULE Get() const { return m_module; }
    GetClassObjectFn GetClassObject() const { return RindleExport<GetClassObjectFn>(m_module, "DllGetClassObject"); }
    CanUnloadNowFn CanUnloadNow() const { return RindleExport<CanUnloadNowFn>(m_module, "DllCanUnloadNow"); }

private:
    HMODULE m_module;
};

// A core driver's interface object that counts its references; it answers
// IPrintOemDriverPS only when told to.
class FakeDriver final : public IPrintOemDriverPS {
public:
    explicit FakeDriver(bool offersDriverPS) : m_offers(offersDriverPS) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || (m_offers && IsEqualIID(riid, IID_IPrintOemDriverPS))) {
            *object = static_cast<IPrintOemDriverPS*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_refs); }
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ, PVOID, DWORD, DWORD*) override { return E_NOTIMPL; }
    long Refs() const { return m_refs; }

private:
    bool m_offers;
    long m_refs = 1;  // the test's own
};

class RindleComTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(rindle.Get(), nullptr) << "LoadLibraryW failed: " << GetLastError();
        ASSERT_NE(rindle.GetClassObject(), nullptr);
        ASSERT_NE(rindle.CanUnloadNow(), nullptr);
    }
    // A fresh IPrintOemPS object (the test releases it).
    IPrintOemPS* MakePlugin()
    {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(rindle.GetClassObject()(CLSID_OEMRENDER, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
                  S_OK);
        if (!factory) return nullptr;
        IPrintOemPS* plugin = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemPS, reinterpret_cast<void**>(&plugin)), S_OK);
        EXPECT_EQ(factory->Release(), 0u) << "the caller's reference is the only one";
        return plugin;
    }
    RindleModule rindle;
};

TEST_F(RindleComTest, ClassObjectServesOnlyTheRenderingClass)
{
    struct Case {
        const char* name;
        CLSID clsid;
        IID iid;
        HRESULT expected;
        bool writesNull;  // a failure that still clears the out pointer
    };
    const Case cases[] = {
        {"rendering class, IClassFactory", CLSID_OEMRENDER, IID_IClassFactory, S_OK, false},
        {"rendering class, IUnknown", CLSID_OEMRENDER, IID_IUnknown, S_OK, false},
        {"rendering class, other interface", CLSID_OEMRENDER, kSomeOtherIid, E_NOINTERFACE, true},
        {"UI class", CLSID_OEMUI, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE, false},
        {"unknown class", kSomeOtherIid, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE, false},
    };
    for (const Case& c : cases) {
        void* const sentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        void* out = sentinel;
        EXPECT_EQ(rindle.GetClassObject()(c.clsid, c.iid, &out), c.expected) << c.name;
        if (c.expected == S_OK) {
            ASSERT_NE(out, nullptr) << c.name;
            EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 0u) << c.name << ": one reference handed out";
        } else if (c.writesNull) {
            EXPECT_EQ(out, nullptr) << c.name;
        } else {
            EXPECT_EQ(out, sentinel) << c.name << ": nothing may be written";
        }
    }
    EXPECT_EQ(rindle.GetClassObject()(CLSID_OEMRENDER, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(RindleComTest, FactoryRefusesAggregationAndLocksTheModule)
{
    IClassFactory* factory = nullptr;
    ASSERT_EQ(rindle.GetClassObject()(CLSID_OEMRENDER, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    FakeDriver outer(false);
    void* out = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(outer.Refs(), 1) << "the outer object is not kept";
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemPS, nullptr), E_POINTER);

    EXPECT_EQ(rindle.CanUnloadNow()(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(rindle.CanUnloadNow()(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(rindle.CanUnloadNow()(), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(RindleComTest, PluginAnswersItsInterfacesOnly)
{
    struct Case {
        const char* name;
        IID iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"IUnknown", IID_IUnknown, S_OK},
        {"IPrintOemPS", IID_IPrintOemPS, S_OK},
        {"IPrintOemUI (the UI plug-in's)", IID_IPrintOemUI, E_NOINTERFACE},
        {"IPrintOemDriverPS (the core driver's)", IID_IPrintOemDriverPS, E_NOINTERFACE},
        {"IClassFactory", IID_IClassFactory, E_NOINTERFACE},
        {"other", kSomeOtherIid, E_NOINTERFACE},
    };
    IPrintOemPS* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    for (const Case& c : cases) {
        void* out = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(plugin->QueryInterface(c.iid, &out), c.expected) << c.name;
        if (c.expected == S_OK) {
            EXPECT_EQ(out, static_cast<void*>(plugin)) << c.name << ": the same object";
            EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u) << c.name << ": one reference added";
        } else {
            EXPECT_EQ(out, nullptr) << c.name;
        }
    }
    EXPECT_EQ(plugin->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_EQ(plugin->Release(), 0u);
}

TEST_F(RindleComTest, GetInfoAnswersSignatureAndVersion)
{
    struct Case {
        const char* name;
        DWORD mode;
        DWORD bufferSize;
        bool giveNeeded;
        HRESULT expected;
        DWORD answer;       // when S_OK
        DWORD lastError;    // when E_FAIL
    };
    const Case cases[] = {
        {"signature", OEMGI_GETSIGNATURE, 4, true, S_OK, 0x56595249, 0},
        {"version", OEMGI_GETVERSION, 4, true, S_OK, 1, 0},
        {"signature, larger buffer", OEMGI_GETSIGNATURE, 8, true, S_OK, 0x56595249, 0},
        {"interface version", OEMGI_GETINTERFACEVERSION, 4, true, E_FAIL, 0, ERROR_INVALID_PARAMETER},
        {"publisher info", OEMGI_GETPUBLISHERINFO, 4, true, E_FAIL, 0, ERROR_NOT_SUPPORTED},
        {"unknown mode", 99, 4, true, E_FAIL, 0, ERROR_INVALID_PARAMETER},
        {"buffer too small", OEMGI_GETSIGNATURE, 3, true, E_FAIL, 0, ERROR_INSUFFICIENT_BUFFER},
        {"no needed word", OEMGI_GETSIGNATURE, 4, false, E_FAIL, 0, ERROR_INVALID_PARAMETER},
    };
    IPrintOemPS* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    for (const Case& c : cases) {
        BYTE buffer[9] = {};
        DWORD needed = 0xFFFF;
        SetLastError(0);
        // Offset by one byte: the answer must not need an aligned buffer.
        EXPECT_EQ(plugin->GetInfo(c.mode, buffer + 1, c.bufferSize, c.giveNeeded ? &needed : nullptr), c.expected)
            << c.name;
        if (c.expected == S_OK) {
            DWORD answer = 0;
            CopyMemory(&answer, buffer + 1, sizeof(answer));
            EXPECT_EQ(answer, c.answer) << c.name;
            EXPECT_EQ(needed, 4u) << c.name;
        } else {
            EXPECT_EQ(GetLastError(), c.lastError) << c.name;
        }
    }
    DWORD needed = 0;
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, nullptr, 4, &needed), E_FAIL) << "null buffer";
    plugin->Release();
}

TEST_F(RindleComTest, PublishDriverInterfaceKeepsTheDriverInterface)
{
    IPrintOemPS* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->PublishDriverInterface(nullptr), E_INVALIDARG);

    FakeDriver without(false);
    EXPECT_EQ(plugin->PublishDriverInterface(&without), E_NOINTERFACE);
    EXPECT_EQ(without.Refs(), 1) << "nothing kept from an object without the interface";

    FakeDriver driver(true);
    EXPECT_EQ(plugin->PublishDriverInterface(&driver), S_OK);
    EXPECT_EQ(driver.Refs(), 2) << "one reference kept";
    FakeDriver second(true);
    EXPECT_EQ(plugin->PublishDriverInterface(&second), S_OK) << "the first interface stays";
    EXPECT_EQ(second.Refs(), 1);

    EXPECT_EQ(plugin->DisableDriver(), S_OK);
    EXPECT_EQ(driver.Refs(), 1) << "DisableDriver gives the interface back";
    EXPECT_EQ(plugin->DisableDriver(), S_OK) << "a second DisableDriver is harmless";

    EXPECT_EQ(plugin->PublishDriverInterface(&second), S_OK) << "a new interface after DisableDriver";
    EXPECT_EQ(second.Refs(), 2);
    EXPECT_EQ(plugin->Release(), 0u);
    EXPECT_EQ(second.Refs(), 1) << "the last Release gives the interface back";
}

TEST_F(RindleComTest, DevModeWithoutRequestFails)
{
    IPrintOemPS* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    for (DWORD mode : {DWORD(OEMDM_SIZE), DWORD(OEMDM_DEFAULT), DWORD(OEMDM_CONVERT), DWORD(OEMDM_MERGE)}) {
        SetLastError(0);
        EXPECT_EQ(plugin->DevMode(mode, nullptr), E_FAIL) << "mode " << mode;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << "mode " << mode;
    }
    // A request for no printer has no data file to read.
    OEMDMPARAM request = {};
    request.cbSize = sizeof(request);
    EXPECT_EQ(plugin->DevMode(OEMDM_SIZE, &request), E_FAIL);
    plugin->Release();
}

}  // namespace
