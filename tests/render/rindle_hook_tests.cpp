// Rindle's hooks as the graphics engine calls them: every hook reaches the core driver's own
// function exactly once with the same arguments; without a device or a core function it
// answers 0; the document start stores the name only when the core driver can start the
// document. Also the device's reset and the core driver's option answers at their limits.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/DriverKit.h"
#include "render/OemPS.h"
#include "storage/CfgSettingsManager.h"
#include "tests/render/RenderTestUtil.h"
#include "tests/storage/CfgTestUtil.h"
#include "tests/standins/coredriver/RenderHost.h"
#include "tests/support/TestPrinter.h"

namespace {

using coredriver::CoreDdiLog;
using coredriver::CoreDdiTable;

template <class F>
struct Signature;
template <class R, class... A>
struct Signature<R(APIENTRY*)(A...)> {
    using Result = R;
    using Args = std::tuple<A...>;
};

// The linked rendering library's class object, called as the module's export is.
HRESULT STDAPICALLTYPE InProcessGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object)
{
    return RindleGetClassObject(clsid, riid, object);
}

// Rindle loaded and enabled as the core driver does it, with one device over no printer.
class EnabledRindle {
public:
    // inProcess: the plug-in object of the linked rendering library rather than of the built
    // module, so that it shares this program's compiled settings (and their generations).
    explicit EnabledRindle(const DRVENABLEDATA* core = CoreDdiTable(), HANDLE printer = nullptr,
                           bool inProcess = false)
        : m_core(core)
    {
        using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
        GetClassObjectFn getClassObject = nullptr;
        if (inProcess) {
            getClassObject = &InProcessGetClassObject;
        } else {
            m_module = LoadLibraryW(TOLVA_RINDLE_PATH_W);
            if (!m_module) return;
            getClassObject = reinterpret_cast<GetClassObjectFn>(
                reinterpret_cast<void (*)()>(GetProcAddress(m_module, "DllGetClassObject")));
        }
        IClassFactory* factory = nullptr;
        if (!getClassObject || FAILED(getClassObject(CLSID_OEMRENDER, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
            return;
        factory->CreateInstance(nullptr, IID_IPrintOemPS, reinterpret_cast<void**>(&m_plugin));
        factory->Release();
        if (!m_plugin) return;
        m_plugin->PublishDriverInterface(&m_driver);
        m_plugin->EnableDriver(0x10000, sizeof(m_hooks), &m_hooks);
        EnableDevice(&m_devobj, printer);
        m_surface.dhpdev = reinterpret_cast<DHPDEV>(&m_devobj);
    }
    // Makes the plug-in's device for devobj over printer (which may be null).
    HRESULT EnableDevice(DEVOBJ* devobj, HANDLE printer)
    {
        devobj->dwSize = sizeof(DEVOBJ);
        devobj->hOEM = m_module ? m_module : GetModuleHandleW(nullptr);
        devobj->hPrinter = printer;
        DEVINFO info = {};
        wchar_t name[] = L"Printer";
        return m_plugin->EnablePDEV(devobj, name, 0, nullptr, 0, nullptr, sizeof(info), &info,
                                    const_cast<DRVENABLEDATA*>(m_core), &devobj->pdevOEM);
    }
    coredriver::DriverPSStandIn& Driver() { return m_driver; }
    ~EnabledRindle()
    {
        if (m_plugin) {
            m_plugin->DisablePDEV(&m_devobj);
            m_plugin->DisableDriver();
            m_plugin->Release();
        }
        if (m_module) FreeLibrary(m_module);
    }
    EnabledRindle(const EnabledRindle&) = delete;
    EnabledRindle& operator=(const EnabledRindle&) = delete;

    bool Ok() const { return m_plugin && m_devobj.pdevOEM && m_hooks.c == 27; }
    IPrintOemPS* Plugin() const { return m_plugin; }
    DEVOBJ* Devobj() { return &m_devobj; }
    SURFOBJ* Surface() { return &m_surface; }
    PFN Hook(ULONG index) const
    {
        for (ULONG i = 0; i < m_hooks.c; ++i)
            if (m_hooks.pdrvfn[i].iFunc == index) return m_hooks.pdrvfn[i].pfn;
        return nullptr;
    }

private:
    const DRVENABLEDATA* m_core;
    HMODULE m_module = nullptr;
    IPrintOemPS* m_plugin = nullptr;
    coredriver::DriverPSStandIn m_driver;
    DRVENABLEDATA m_hooks = {};
    DEVOBJ m_devobj = {};
    SURFOBJ m_surface = {};
};

// An argument of type T for position n: the surface, or its core PDEV, where the hook finds
// its device, else a distinct value that nobody may dereference.
template <class T>
T MakeArg(SURFOBJ* surface, size_t n)
{
    if constexpr (std::is_same_v<T, SURFOBJ*>)
        return surface;
    else if constexpr (std::is_same_v<T, DHPDEV>)
        return surface->dhpdev;
    else if constexpr (std::is_pointer_v<T> || std::is_same_v<T, HANDLE>)
        return reinterpret_cast<T>(static_cast<ULONG_PTR>(0x10000 + 0x100 * n));
    else
        return static_cast<T>(1000 + n);
}

// Calls the hook with made-up arguments; returns the words passed and whether the result
// was nonzero.
template <class Fn, size_t... I>
std::pair<std::vector<ULONG_PTR>, bool> CallWithArgs(Fn hook, SURFOBJ* surface, std::index_sequence<I...>)
{
    using Args = typename Signature<Fn>::Args;
    Args args(MakeArg<std::tuple_element_t<I, Args>>(surface, I)...);
    std::vector<ULONG_PTR> words = {coredriver::DdiWord(std::get<I>(args))...};
    auto result = hook(std::get<I>(args)...);
    return {words, coredriver::DdiWord(result) != 0};
}

template <class Fn>
std::pair<std::vector<ULONG_PTR>, bool> CallHook(PFN pfn, SURFOBJ* surface)
{
    Fn hook = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(pfn));
    constexpr size_t count = std::tuple_size_v<typename Signature<Fn>::Args>;
    return CallWithArgs(hook, surface, std::make_index_sequence<count>());
}

struct HookRow {
    const char* name;
    ULONG index;
    std::pair<std::vector<ULONG_PTR>, bool> (*call)(PFN, SURFOBJ*);
};
const HookRow kHooks[] = {
#define TOLVA_TEST_HOOK_ROW(name, index, result, params, args, locator) {#name, index, &CallHook<PFN_##name>},
    TOLVA_DDI_HOOKS(TOLVA_TEST_HOOK_ROW)
#undef TOLVA_TEST_HOOK_ROW
};

TEST(RindleHooks, EveryHookReachesTheCoreFunctionOnceWithTheSameArguments)
{
    EnabledRindle rindle;
    ASSERT_TRUE(rindle.Ok());
    for (const HookRow& row : kHooks) {
        PFN hook = rindle.Hook(row.index);
        ASSERT_NE(hook, nullptr) << row.name;
        const size_t before = CoreDdiLog().size();
        auto [words, nonzero] = row.call(hook, rindle.Surface());
        ASSERT_EQ(CoreDdiLog().size(), before + 1) << row.name;
        EXPECT_EQ(CoreDdiLog().back().index, row.index) << row.name;
        EXPECT_EQ(CoreDdiLog().back().args, words) << row.name;
        EXPECT_TRUE(nonzero) << row.name << " passes the core function's result on";
    }
}

TEST(RindleHooks, WithoutDeviceTheHooksAnswerZero)
{
    EnabledRindle rindle;
    ASSERT_TRUE(rindle.Ok());
    DEVOBJ foreign = {};
    foreign.dwSize = sizeof(DEVOBJ);
    SURFOBJ surface = {};
    surface.dhpdev = reinterpret_cast<DHPDEV>(&foreign);
    for (const HookRow& row : kHooks) {
        const size_t before = CoreDdiLog().size();
        auto [words, nonzero] = row.call(rindle.Hook(row.index), &surface);
        EXPECT_FALSE(nonzero) << row.name;
        EXPECT_EQ(CoreDdiLog().size(), before) << row.name;
    }
}

TEST(RindleHooks, StartDocWithoutCoreFunctionAnswersFalse)
{
    // The core driver's table without its document start.
    std::vector<DRVFN> rows;
    const DRVENABLEDATA* core = CoreDdiTable();
    for (ULONG i = 0; i < core->c; ++i)
        if (core->pdrvfn[i].iFunc != INDEX_DrvStartDoc) rows.push_back(core->pdrvfn[i]);
    DRVENABLEDATA partial = {0x10000, static_cast<ULONG>(rows.size()), rows.data()};
    EnabledRindle rindle(&partial);
    ASSERT_TRUE(rindle.Ok());
    auto startDoc = reinterpret_cast<PFN_DrvStartDoc>(reinterpret_cast<void (*)()>(rindle.Hook(INDEX_DrvStartDoc)));
    wchar_t name[] = L"Report";
    const size_t before = CoreDdiLog().size();
    EXPECT_FALSE(startDoc(rindle.Surface(), name, 1));
    EXPECT_EQ(CoreDdiLog().size(), before);
    // The other hooks are unaffected.
    auto sendPage = reinterpret_cast<PFN_DrvSendPage>(reinterpret_cast<void (*)()>(rindle.Hook(INDEX_DrvSendPage)));
    EXPECT_TRUE(sendPage(rindle.Surface()));
}

TEST(RindleHooks, DevicesNeedDeviceObjectPrinterNameAndCoreTable)
{
    EnabledRindle rindle;
    ASSERT_TRUE(rindle.Ok());
    DEVOBJ devobj = {};
    devobj.dwSize = sizeof(DEVOBJ);
    wchar_t name[] = L"No Printer";
    PDEVOEM pdev = reinterpret_cast<PDEVOEM>(1);
    DEVINFO info = {};
    struct Case {
        PDEVOBJ devobj;
        PWSTR name;
        DRVENABLEDATA* core;
    };
    const Case cases[] = {{nullptr, name, const_cast<DRVENABLEDATA*>(CoreDdiTable())},
                          {&devobj, nullptr, const_cast<DRVENABLEDATA*>(CoreDdiTable())},
                          {&devobj, name, nullptr}};
    for (const Case& c : cases) {
        pdev = reinterpret_cast<PDEVOEM>(1);
        info.flGraphicsCaps = 0;
        EXPECT_EQ(rindle.Plugin()->EnablePDEV(c.devobj, c.name, 0, nullptr, 0, nullptr, sizeof(info), &info, c.core,
                                              &pdev),
                  E_FAIL);
        EXPECT_EQ(pdev, nullptr);
        EXPECT_EQ(info.flGraphicsCaps, 0x2000u);
    }
    // Reset and disable with missing devices succeed.
    EXPECT_EQ(rindle.Plugin()->ResetPDEV(nullptr, rindle.Devobj()), S_OK);
    EXPECT_EQ(rindle.Plugin()->ResetPDEV(rindle.Devobj(), &devobj), S_OK);
    EXPECT_EQ(rindle.Plugin()->DisablePDEV(&devobj), S_OK);
    // A device without settings injects nothing and says so.
    DWORD result = 0;
    EXPECT_EQ(rindle.Plugin()->Command(rindle.Devobj(), PSINJECT_COMMENTS, nullptr, 0, &result), S_OK);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(rindle.Plugin()->Command(nullptr, PSINJECT_COMMENTS, nullptr, 0, &result), S_OK);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

// --- A device reset carries the document's values over -----------------------------------

// The text the plug-in writes for one Command call.
std::string CommandText(EnabledRindle& rindle, DEVOBJ* devobj, DWORD index)
{
    const size_t before = rindle.Driver().Spool().size();
    DWORD result = 0;
    rindle.Plugin()->Command(devobj, index, nullptr, 0, &result);
    return rindle.Driver().Spool().substr(before);
}

// A printer of the sample PPD with its language module.
tolvatest::TestPrinterSetup SamplePrinterSetup()
{
    tolvatest::TestPrinterSetup setup;
    setup.dataFile = tolvatest::FixturePath(L"tolva-sample.ppd");
    setup.companions.push_back({TOLVA_SAMPLE_LAN_W, L"{stem}.LAN"});
    return setup;
}

TEST(RindleDevices, ResetCarriesDocumentNameAndPageCount)
{
    tolvatest::TestPrinter printer(SamplePrinterSetup());
    ASSERT_TRUE(printer.Ok()) << std::string(printer.Error().begin(), printer.Error().end());
    EnabledRindle rindle(CoreDdiTable(), printer.Handle());
    ASSERT_TRUE(rindle.Ok());

    // The document starts on the first device and its first page is set up there.
    auto startDoc = reinterpret_cast<PFN_DrvStartDoc>(reinterpret_cast<void (*)()>(rindle.Hook(INDEX_DrvStartDoc)));
    wchar_t name[] = L"Quarterly";
    EXPECT_TRUE(startDoc(rindle.Surface(), name, 7));
    const std::string landscapeNo =
        "userdict /QVLandscapeSetup known { 0 QVLandscapeSetup } if\r\nglobaldict /VYR_LandscapeDoc false put\r\n";
    EXPECT_EQ(CommandText(rindle, rindle.Devobj(), PSINJECT_BEGINPAGESETUP), landscapeNo);

    // The device is replaced: the new one goes on with the same document.
    DEVOBJ next = {};
    ASSERT_EQ(rindle.EnableDevice(&next, printer.Handle()), S_OK);
    EXPECT_EQ(rindle.Plugin()->ResetPDEV(rindle.Devobj(), &next), S_OK);
    EXPECT_EQ(CommandText(rindle, &next, PSINJECT_COMMENTS).find("%%QVTitle: Quarterly\r\n"), 0u);
    // Page 2 with an unchanged orientation writes nothing; the watermark still shows.
    EXPECT_EQ(CommandText(rindle, &next, PSINJECT_BEGINPAGESETUP), "");
    EXPECT_EQ(CommandText(rindle, &next, PSINJECT_SHOWPAGE), "userdict /VYRWaterMark get exec\r\n");
    EXPECT_EQ(rindle.Plugin()->DisablePDEV(&next), S_OK);

    // A device made without reset starts a document of its own.
    DEVOBJ fresh = {};
    ASSERT_EQ(rindle.EnableDevice(&fresh, printer.Handle()), S_OK);
    EXPECT_EQ(CommandText(rindle, &fresh, PSINJECT_COMMENTS).find("%%QVTitle: \r\n"), 0u);
    EXPECT_EQ(CommandText(rindle, &fresh, PSINJECT_BEGINPAGESETUP), landscapeNo);
    EXPECT_EQ(rindle.Plugin()->DisablePDEV(&fresh), S_OK);
}

// --- The core driver's option answers ------------------------------------------------------

// A PPD whose output format defaults to EPS and offers options of 128 and 129 characters.
std::wstring WriteOutputFormatPPD(const std::string& option128, const std::string& option129)
{
    return rendertest::WriteTempPPD(
        L"tolva-outputformat",
        "*PPD-Adobe: \"4.3\"\r\n*LanguageVersion: English\r\n*ShortNickName: \"Tolva Format\"\r\n"
        "*%PS_Default%OutputFormat: EPS\r\n*%PS_%OutputFormat EPS/EPS: \"\"\r\n"
        "*%PS_%OutputFormat Speed/Speed: \"\"\r\n"
        "*%PS_%OutputFormat " + option128 + "/Long: \"\"\r\n" +
        "*%PS_%OutputFormat " + option129 + "/Longer: \"\"\r\n");
}

TEST(RindleOptions, CoreAnswersUpTo128BytesAreTakenLongerOnesSkipped)
{
    const std::string option128(128, 'L');
    const std::string option129(129, 'M');
    const std::wstring ppd = WriteOutputFormatPPD(option128, option129);
    ASSERT_FALSE(ppd.empty());
    struct Case {
        const char* name;
        std::string answer;
        bool exact;
        bool injected;
    };
    const Case cases[] = {
        {"no answer keeps the EPS default", "", false, false},
        {"Speed", "Speed", false, true},
        {"Speed without terminator room", "Speed", true, true},
        {"128 bytes, no terminator", option128, true, true},
        {"129 bytes do not fit", option129, false, false},
        {"129 bytes, no terminator", option129, true, false},
    };
    for (const Case& c : cases) {
        coredriver::PrintJobSetup setup;
        setup.rindlePath = TOLVA_RINDLE_PATH_W;
        setup.quentaPath = TOLVA_QUENTA_PATH_W;
        setup.ppdPath = ppd;
        setup.exactAnswers = c.exact;
        if (!c.answer.empty()) setup.driverSettings["%OutputFormat"] = c.answer;
        coredriver::PrintJobResult job = coredriver::PrintJob(setup);
        ASSERT_TRUE(job.ok) << c.name;
        EXPECT_EQ(!coredriver::TextOf(job, PSINJECT_ENDSETUP).empty(), c.injected) << c.name;
    }
    DeleteFileW(ppd.c_str());
}

}  // namespace

// --- A device keeps the settings it was made from ---------------------------------------------

namespace {

// The document-level text of a device: its comments and its setup.
std::string DocumentText(EnabledRindle& rindle, DEVOBJ* devobj)
{
    return CommandText(rindle, devobj, PSINJECT_COMMENTS) + CommandText(rindle, devobj, PSINJECT_BEGINSETUP);
}

}  // namespace

// The PPD is touched, or replaced by another, while a device lives; a second device is made
// (it gets the new settings). The first device still writes what it wrote before.
TEST(RindleDevices, ADeviceKeepsItsSettingsAcrossAChangedPPD)
{
    for (const wchar_t* replacement : {static_cast<const wchar_t*>(nullptr), L"tolva-minimal.ppd"}) {
        SCOPED_TRACE(replacement ? "replaced" : "touched");
        tolvatest::TestPrinter printer(SamplePrinterSetup());
        ASSERT_TRUE(printer.Ok()) << std::string(printer.Error().begin(), printer.Error().end());
        EnabledRindle rindle(CoreDdiTable(), printer.Handle());
        ASSERT_TRUE(rindle.Ok());
        const std::string before = DocumentText(rindle, rindle.Devobj());
        ASSERT_NE(before.find("%%BeginFeature: *QVScale"), std::string::npos) << before;

        if (replacement) {
            ASSERT_TRUE(CopyFileW(tolvatest::FixturePath(replacement).c_str(), printer.DataFile().c_str(), FALSE));
        }
        ASSERT_TRUE(cfgtest::Touch(printer.DataFile(), 100));
        DEVOBJ second = {};
        ASSERT_EQ(rindle.EnableDevice(&second, printer.Handle()), S_OK);
        const std::string secondText = DocumentText(rindle, &second);
        if (replacement) {
            EXPECT_NE(secondText, before) << "the new device prints the new PPD";
        }

        EXPECT_EQ(DocumentText(rindle, rindle.Devobj()), before);
        EXPECT_EQ(rindle.Plugin()->DisablePDEV(&second), S_OK);
        EXPECT_EQ(DocumentText(rindle, rindle.Devobj()), before);
    }
}

// --- A device prints whole jobs of its own generation ----------------------------------------

namespace {

template <class Fn>
Fn HookAs(EnabledRindle& rindle, ULONG index)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(rindle.Hook(index)));
}

// A whole job of pages pages on a device, as the core driver runs it through the hooks: the
// document start, the plug-in's text at every injection point in the core's order, each
// page's start and end, the document's end.
std::string WholeJob(EnabledRindle& rindle, DEVOBJ* devobj, int pages)
{
    SURFOBJ surface = {};
    surface.dhpdev = reinterpret_cast<DHPDEV>(devobj);
    std::string job;
    auto inject = [&](std::initializer_list<DWORD> points) {
        for (DWORD point : points) job += CommandText(rindle, devobj, point);
    };
    wchar_t name[] = L"Generations";
    EXPECT_TRUE(HookAs<PFN_DrvStartDoc>(rindle, INDEX_DrvStartDoc)(&surface, name, 1));
    inject({PSINJECT_BEGINSTREAM, PSINJECT_PSADOBE, PSINJECT_PAGESATEND, PSINJECT_DOCNEEDEDRES,
            PSINJECT_DOCSUPPLIEDRES, PSINJECT_PAGEORDER, PSINJECT_ORIENTATION, PSINJECT_BOUNDINGBOX,
            PSINJECT_DOCUMENTPROCESSCOLORS, PSINJECT_COMMENTS, PSINJECT_BEGINDEFAULTS, PSINJECT_ENDDEFAULTS,
            PSINJECT_BEGINPROLOG, PSINJECT_ENDPROLOG, PSINJECT_BEGINSETUP, PSINJECT_ENDSETUP});
    for (int page = 1; page <= pages; ++page) {
        EXPECT_TRUE(HookAs<PFN_DrvStartPage>(rindle, INDEX_DrvStartPage)(&surface));
        inject({PSINJECT_PAGENUMBER, PSINJECT_ENDPAGECOMMENTS, PSINJECT_BEGINPAGESETUP, PSINJECT_ENDPAGESETUP});
        EXPECT_TRUE(HookAs<PFN_DrvSendPage>(rindle, INDEX_DrvSendPage)(&surface));
        inject({PSINJECT_SHOWPAGE, PSINJECT_PAGETRAILER});
    }
    EXPECT_TRUE(HookAs<PFN_DrvEndDoc>(rindle, INDEX_DrvEndDoc)(&surface, 0));
    inject({PSINJECT_TRAILER, PSINJECT_PAGES, PSINJECT_EOF, PSINJECT_ENDSTREAM});
    return job;
}

}  // namespace

// The PPD changes while a device lives (its text edited, or another PPD copied over it): a
// second device gets a new generation of the settings, the first prints its two-page job
// byte for byte as before, and the old generation goes with the first device.
TEST(RindleDevices, ADeviceKeepsItsGenerationForWholeJobs)
{
    for (const wchar_t* replacement : {static_cast<const wchar_t*>(nullptr), L"tolva-minimal.ppd"}) {
        SCOPED_TRACE(replacement ? "replaced" : "edited");
        tolvatest::TestPrinter printer(SamplePrinterSetup());
        ASSERT_TRUE(printer.Ok()) << std::string(printer.Error().begin(), printer.Error().end());
        const std::wstring ppd = printer.DataFile();
        EnabledRindle rindle(CoreDdiTable(), printer.Handle(), true);
        ASSERT_TRUE(rindle.Ok());
        const std::string before = WholeJob(rindle, rindle.Devobj(), 2);
        ASSERT_NE(before.find("%%BeginFeature: *QVScale 100"), std::string::npos) << before;
        ASSERT_EQ(WholeJob(rindle, rindle.Devobj(), 2), before) << "a job is the same every time";
        EXPECT_EQ(CountCfgGenerations(ppd.c_str()), 1);

        if (replacement) {
            ASSERT_TRUE(CopyFileW(tolvatest::FixturePath(replacement).c_str(), ppd.c_str(), FALSE));
        } else {
            const std::vector<uint8_t> bytes = cfgtest::ReadAll(ppd);
            std::string text(bytes.begin(), bytes.end());
            const std::string from = "*%VYRUI_DefaultQVScale: 100";
            const size_t at = text.find(from);
            ASSERT_NE(at, std::string::npos);
            text.replace(at, from.size(), "*%VYRUI_DefaultQVScale: 150");
            ASSERT_TRUE(cfgtest::WriteText(ppd, text));
        }
        ASSERT_TRUE(cfgtest::Touch(ppd, 100));
        DEVOBJ second = {};
        ASSERT_EQ(rindle.EnableDevice(&second, printer.Handle()), S_OK);
        EXPECT_EQ(CountCfgGenerations(ppd.c_str()), 2);
        const std::string secondJob = WholeJob(rindle, &second, 2);
        EXPECT_NE(secondJob, before) << "the new device prints the changed PPD";
        if (!replacement) {
            EXPECT_NE(secondJob.find("%%BeginFeature: *QVScale 150"), std::string::npos) << secondJob;
        }

        EXPECT_EQ(WholeJob(rindle, rindle.Devobj(), 2), before);
        EXPECT_EQ(rindle.Plugin()->DisablePDEV(rindle.Devobj()), S_OK);
        rindle.Devobj()->pdevOEM = nullptr;  // gone: the holder's own disable finds nothing
        EXPECT_EQ(CountCfgGenerations(ppd.c_str()), 1) << "the old generation goes with its last device";
        EXPECT_EQ(WholeJob(rindle, &second, 2), secondJob);
        EXPECT_EQ(rindle.Plugin()->DisablePDEV(&second), S_OK);
    }
}
