// Quenta's COM shell, through the built module as the core driver loads it: the class
// object, the factory, the plug-in object's interfaces, GetInfo, HideStandardUI,
// PublishDriverInterface and the null request record of DevMode.
#include <gtest/gtest.h>

#include "platform/DriverKit.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"
#include "tests/uiplugin/QuentaTestUtil.h"

namespace {

// {00000000-0000-0000-C000-000000000046} and friends are in uuid; these are ours.
constexpr IID kSomeOtherIid = {0x12345678, 0x1234, 0x1234, {0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0x34}};

class QuentaComTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(quenta.Get(), nullptr) << "LoadLibraryW failed: " << GetLastError();
        ASSERT_NE(quenta.GetClassObject(), nullptr);
        ASSERT_NE(quenta.CanUnloadNow(), nullptr);
    }
    // A fresh IPrintOemUI2 object (the test releases it).
    IPrintOemUI2* MakePlugin()
    {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(quenta.GetClassObject()(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        if (!factory) return nullptr;
        IPrintOemUI2* plugin = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI2, reinterpret_cast<void**>(&plugin)), S_OK);
        EXPECT_EQ(factory->Release(), 0u) << "the caller's reference is the only one";
        return plugin;
    }
    QuentaModule quenta;
};

TEST_F(QuentaComTest, ClassObjectServesOnlyTheUIPluginClass)
{
    struct Case {
        const char* name;
        CLSID clsid;
        IID iid;
        HRESULT expected;
        bool writesNull;  // a failure that still clears the out pointer
    };
    const Case cases[] = {
        {"UI class, IClassFactory", CLSID_OEMUI, IID_IClassFactory, S_OK, false},
        {"UI class, IUnknown", CLSID_OEMUI, IID_IUnknown, S_OK, false},
        {"UI class, other interface", CLSID_OEMUI, kSomeOtherIid, E_NOINTERFACE, true},
        {"rendering class", CLSID_OEMRENDER, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE, false},
        {"unknown class", kSomeOtherIid, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE, false},
    };
    for (const Case& c : cases) {
        void* const sentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        void* out = sentinel;
        EXPECT_EQ(quenta.GetClassObject()(c.clsid, c.iid, &out), c.expected) << c.name;
        if (c.expected == S_OK) {
            ASSERT_NE(out, nullptr) << c.name;
            EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 0u) << c.name << ": one reference handed out";
        } else if (c.writesNull) {
            EXPECT_EQ(out, nullptr) << c.name;
        } else {
            EXPECT_EQ(out, sentinel) << c.name << ": nothing may be written";
        }
    }
}

TEST_F(QuentaComTest, NullOutPointersGiveEPointer)
{
    EXPECT_EQ(quenta.GetClassObject()(CLSID_OEMUI, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(quenta.GetClassObject()(CLSID_OEMRENDER, IID_IClassFactory, nullptr), E_POINTER);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(quenta.GetClassObject()(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI2, nullptr), E_POINTER);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    factory->Release();
}

TEST_F(QuentaComTest, FactoryCreatesThePluginObject)
{
    IClassFactory* factory = nullptr;
    ASSERT_EQ(quenta.GetClassObject()(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    struct Case {
        const char* name;
        bool aggregate;
        IID iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"IPrintOemUI2", false, IID_IPrintOemUI2, S_OK},
        {"IPrintOemUI", false, IID_IPrintOemUI, S_OK},
        {"IUnknown", false, IID_IUnknown, S_OK},
        {"IPrintCoreUI2 (not ours)", false, IID_IPrintCoreUI2, E_NOINTERFACE},
        {"IClassFactory", false, IID_IClassFactory, E_NOINTERFACE},
        {"aggregation", true, IID_IUnknown, CLASS_E_NOAGGREGATION},
    };
    coredriver::CoreUIStandIn outer;
    for (const Case& c : cases) {
        void* out = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        HRESULT hr = factory->CreateInstance(c.aggregate ? static_cast<IUnknown*>(&outer) : nullptr, c.iid, &out);
        EXPECT_EQ(hr, c.expected) << c.name;
        if (hr == S_OK) {
            ASSERT_NE(out, nullptr) << c.name;
            EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 0u) << c.name << ": one reference handed out";
        } else {
            EXPECT_EQ(out, nullptr) << c.name;
        }
    }
    EXPECT_EQ(outer.RefCount(), 1) << "the outer unknown is not kept";
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(QuentaComTest, PluginInterfacesAreOneObject)
{
    IPrintOemUI2* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    const struct {
        const char* name;
        IID iid;
        HRESULT expected;
    } cases[] = {
        {"IUnknown", IID_IUnknown, S_OK},
        {"IPrintOemUI", IID_IPrintOemUI, S_OK},
        {"IPrintOemUI2", IID_IPrintOemUI2, S_OK},
        {"IClassFactory", IID_IClassFactory, E_NOINTERFACE},
        {"other", kSomeOtherIid, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        void* out = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(plugin->QueryInterface(c.iid, &out), c.expected) << c.name;
        if (c.expected == S_OK) {
            EXPECT_EQ(out, static_cast<void*>(plugin)) << c.name;
            EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u) << c.name;
        } else {
            EXPECT_EQ(out, nullptr) << c.name;
        }
    }
    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_EQ(plugin->Release(), 0u);
}

TEST_F(QuentaComTest, GetInfoAnswersSignatureAndVersion)
{
    IPrintOemUI2* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    struct Case {
        const char* name;
        DWORD mode;
        DWORD size;
        bool nullBuffer;
        bool nullNeeded;
        HRESULT expected;
        DWORD error;       // last error on failure
        DWORD value;       // written on success
        DWORD needed;      // *needed afterwards (0xEEEE: left as it was)
    };
    const DWORD kUntouched = 0xEEEE;
    const Case cases[] = {
        {"signature, 4 bytes", OEMGI_GETSIGNATURE, 4, false, false, S_OK, 0, 0x56595249, 4},
        {"signature, 8 bytes", OEMGI_GETSIGNATURE, 8, false, false, S_OK, 0, 0x56595249, 4},
        {"version", OEMGI_GETVERSION, 4, false, false, S_OK, 0, 1, 4},
        {"signature, 3 bytes", OEMGI_GETSIGNATURE, 3, false, false, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 0, kUntouched},
        {"signature, null buffer", OEMGI_GETSIGNATURE, 4, true, false, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 0,
         kUntouched},
        {"interface version", OEMGI_GETINTERFACEVERSION, 4, false, false, E_FAIL, ERROR_INVALID_PARAMETER, 0,
         kUntouched},
        {"mode 0", 0, 4, false, false, E_FAIL, ERROR_INVALID_PARAMETER, 0, kUntouched},
        {"mode 5", 5, 4, false, false, E_FAIL, ERROR_INVALID_PARAMETER, 0, kUntouched},
        {"signature, null needed", OEMGI_GETSIGNATURE, 4, false, true, E_FAIL, ERROR_INVALID_PARAMETER, 0,
         kUntouched},
        {"publisher information", OEMGI_GETPUBLISHERINFO, 4, false, false, E_FAIL, ERROR_NOT_SUPPORTED, 0, 0},
    };
    for (const Case& c : cases) {
        BYTE buffer[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        DWORD needed = kUntouched;
        SetLastError(0);
        HRESULT hr = plugin->GetInfo(c.mode, c.nullBuffer ? nullptr : buffer, c.size, c.nullNeeded ? nullptr : &needed);
        const DWORD error = GetLastError();
        EXPECT_EQ(hr, c.expected) << c.name;
        EXPECT_EQ(needed, c.needed) << c.name;
        DWORD value = 0;
        memcpy(&value, buffer, sizeof(value));
        if (c.expected == S_OK) {
            EXPECT_EQ(value, c.value) << c.name;
            EXPECT_EQ(buffer[4], 0xAA) << c.name << ": nothing past the answer";
        } else {
            EXPECT_EQ(error, c.error) << c.name;
            EXPECT_EQ(value, 0xAAAAAAAAu) << c.name << ": nothing written on failure";
        }
    }
    plugin->Release();
}

// The core driver calls by slot: the published table puts GetInfo at 3, DevMode at 4,
// PublishDriverInterface at 5 and HideStandardUI at 18 (IUnknown's three first).
TEST_F(QuentaComTest, MethodsSitInThePublishedSlots)
{
    IPrintOemUI2* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    void** table = *reinterpret_cast<void***>(plugin);
    using GetInfoSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, PVOID, DWORD, PDWORD);
    using DevModeSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, void*);
    using PublishSlot = HRESULT(STDMETHODCALLTYPE*)(void*, IUnknown*);
    using HideSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD);
    DWORD value = 0, needed = 0;
    EXPECT_EQ(reinterpret_cast<GetInfoSlot>(table[3])(plugin, OEMGI_GETSIGNATURE, &value, 4, &needed), S_OK);
    EXPECT_EQ(value, 0x56595249u);
    SetLastError(0);
    EXPECT_EQ(reinterpret_cast<DevModeSlot>(table[4])(plugin, OEMDM_SIZE, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(reinterpret_cast<PublishSlot>(table[5])(plugin, nullptr), E_INVALIDARG);
    EXPECT_EQ(reinterpret_cast<HideSlot>(table[18])(plugin, OEMCUIP_DOCPROP), S_OK);
    EXPECT_EQ(reinterpret_cast<HideSlot>(table[18])(plugin, 0), E_NOTIMPL);
    plugin->Release();
}

TEST_F(QuentaComTest, HideStandardUIHidesBothSheetsOnly)
{
    IPrintOemUI2* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    const struct {
        DWORD mode;
        HRESULT expected;
    } cases[] = {{0, E_NOTIMPL}, {OEMCUIP_DOCPROP, S_OK}, {OEMCUIP_PRNPROP, S_OK}, {3, E_NOTIMPL}, {0xFFFFFFFF, E_NOTIMPL}};
    for (const auto& c : cases) EXPECT_EQ(plugin->HideStandardUI(c.mode), c.expected) << "mode " << c.mode;
    plugin->Release();
}

TEST_F(QuentaComTest, UnimplementedMethodsSayNotImplemented)
{
    IPrintOemUI2* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    // Calls through the table by slot, as the core driver does.
    EXPECT_EQ(plugin->CommonUIProp(0, nullptr), E_NOTIMPL);
    EXPECT_EQ(plugin->DevQueryPrintEx(nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
    DWORD result = 0;
    EXPECT_EQ(plugin->DeviceCapabilities(nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0, &result),
              E_NOTIMPL);
    EXPECT_EQ(plugin->UpgradePrinter(1, nullptr), E_NOTIMPL);
    EXPECT_EQ(plugin->QueryColorProfile(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(plugin->FontInstallerDlgProc(nullptr, 0, 0, 0), E_NOTIMPL);
    EXPECT_EQ(plugin->UpdateExternalFonts(nullptr, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(plugin->QueryJobAttributes(nullptr, nullptr, 0, nullptr), E_NOTIMPL);
    INT escapeResult = 0;
    EXPECT_EQ(plugin->DocumentEvent(nullptr, nullptr, 0, 0, nullptr, 0, nullptr, &escapeResult), E_NOTIMPL);
    plugin->Release();
}

TEST_F(QuentaComTest, PublishDriverInterfaceKeepsTheFirstCoreInterface)
{
    coredriver::CoreUIStandIn first, second;
    IPrintOemUI2* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->PublishDriverInterface(nullptr), E_INVALIDARG);
    EXPECT_EQ(plugin->PublishDriverInterface(static_cast<IPrintCoreUI2*>(&first)), S_OK);
    EXPECT_EQ(first.RefCount(), 2) << "kept with one reference";
    EXPECT_EQ(plugin->PublishDriverInterface(static_cast<IPrintCoreUI2*>(&second)), S_OK);
    EXPECT_EQ(second.RefCount(), 1) << "a second interface is not even asked";
    EXPECT_EQ(plugin->PublishDriverInterface(nullptr), S_OK) << "one is kept already";
    EXPECT_EQ(plugin->Release(), 0u);
    EXPECT_EQ(first.RefCount(), 1) << "released with the object";
}

// An IUnknown that is no core driver.
class NotACore : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST_F(QuentaComTest, PublishingAnotherInterfaceFailsAndKeepsNothing)
{
    NotACore other;
    coredriver::CoreUIStandIn core;
    IPrintOemUI2* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->PublishDriverInterface(&other), E_NOINTERFACE);
    EXPECT_EQ(plugin->PublishDriverInterface(static_cast<IPrintCoreUI2*>(&core)), S_OK) << "nothing was kept";
    EXPECT_EQ(core.RefCount(), 2);
    plugin->Release();
    EXPECT_EQ(core.RefCount(), 1);
}

TEST_F(QuentaComTest, LockServerDecidesCanUnloadNow)
{
    IClassFactory* factory = nullptr;
    ASSERT_EQ(quenta.GetClassObject()(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(quenta.CanUnloadNow()(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(quenta.CanUnloadNow()(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(quenta.CanUnloadNow()(), S_FALSE) << "still locked once";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(quenta.CanUnloadNow()(), S_OK);
    factory->Release();
    EXPECT_EQ(quenta.CanUnloadNow()(), S_OK) << "live objects do not count";
}

TEST_F(QuentaComTest, DevModeWithoutRequestRecordFails)
{
    IPrintOemUI2* plugin = MakePlugin();
    ASSERT_NE(plugin, nullptr);
    for (DWORD mode : {OEMDM_SIZE, OEMDM_DEFAULT, OEMDM_CONVERT, OEMDM_MERGE}) {
        SetLastError(0);
        EXPECT_EQ(plugin->DevMode(mode, nullptr), E_FAIL) << "mode " << mode;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "mode " << mode;
    }
    plugin->Release();
}

TEST_F(QuentaComTest, ModuleCarriesItsManifestAndVersion)
{
    EXPECT_NE(FindResourceW(quenta.Get(), MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24)), nullptr) << "manifest 2";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(QuentaPath().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(QuentaPath().c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

}  // namespace
