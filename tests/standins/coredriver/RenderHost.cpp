// The core driver stand-in, rendering side: the core DDI functions, the driver interface
// and the print job (see RenderHost.h).
#include "tests/standins/coredriver/RenderHost.h"

#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "foundation/StrUtil.h"
#include "settings/KVCache.h"
#include "settings/KeyOptSetting.h"
#include "settings/KeySetting.h"
#include "settings/StrSoup.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"

namespace coredriver {
namespace {

double Seconds()
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency);
}

std::string Narrow(const wchar_t* text, UINT codePage)
{
    if (!text || !*text) return {};
    const int size = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}

std::wstring Hex(DWORD code)
{
    wchar_t text[16] = {};
    FormatToBuffer(text, 16, L"0x%08X", static_cast<unsigned>(code));
    return text;
}

// --- the job the core functions serve -------------------------------------------------

// The document being printed: the core functions called for its surface write into it.
struct ActiveJob {
    IPrintOemPS* plugin = nullptr;
    DEVOBJ* devobj = nullptr;
    DHPDEV dhpdev = nullptr;
    DriverPSStandIn* driver = nullptr;
    const PrintJobSetup* setup = nullptr;
    PrintJobResult* result = nullptr;
    int pageCount = 0;
    int page = 0;  // the page being printed; 0 outside pages
    bool outOfMemory = false;

    // One line of the core's own text. A plug-in text without a line end is closed first,
    // so the core's line always starts a line of its own.
    void Line(const char* text)
    {
        std::string& spool = driver->Spool();
        if (!spool.empty() && spool.back() != '\n' && spool.back() != '\r') spool += "\r\n";
        spool += text;
        spool += "\r\n";
    }
    void LineF(const char* format, int value)
    {
        char text[160] = {};
        FormatToBufferA(text, sizeof(text), format, value);
        Line(text);
    }
    // Calls the plug-in at an injection point; true when it reports the point handled.
    bool Inject(DWORD index)
    {
        std::string& spool = driver->Spool();
        CommandCall call;
        call.index = index;
        call.page = page;
        call.offset = spool.size();
        call.result = 0xFFFFFFFF;  // shows a plug-in that left it unset
        const double t0 = Seconds();
        call.hr = plugin->Command(devobj, index, nullptr, 0, &call.result);
        result->commandSeconds += Seconds() - t0;
        call.length = spool.size() >= call.offset ? spool.size() - call.offset : 0;
        if (call.length > 0 && spool.back() != '\n' && spool.back() != '\r') ++result->unterminatedInjections;
        result->commands.push_back(call);
        return SUCCEEDED(call.hr) && call.result == ERROR_SUCCESS;
    }

    void StartDoc(const wchar_t* documentName);
    void StartPage();
    void FillPath();
    void SendPage();
    void EndDoc();
};

ActiveJob* g_job = nullptr;

// The job's comments and prolog and the document set-up. An injection point that replaces a
// comment of the core's gets the core's line only when the plug-in did not handle it.
void ActiveJob::StartDoc(const wchar_t* documentName)
{
    Inject(PSINJECT_BEGINSTREAM);
    Inject(PSINJECT_PSADOBE);
    Line("%!PS-Adobe-3.0");
    std::string title = Narrow(documentName, CP_UTF8);
    for (char& c : title)
        if (c == '\r' || c == '\n') c = ' ';
    Line(("%%Title: " + title).c_str());
    Line("%%Creator: Tolva core driver stand-in");
    if (!Inject(PSINJECT_PAGESATEND)) Line("%%Pages: (atend)");
    Line("%%DocumentNeededResources: font Helvetica");
    Inject(PSINJECT_DOCNEEDEDRES);
    Line("%%DocumentSuppliedResources: procset TolvaCoreStandIn 1.0 0");
    Inject(PSINJECT_DOCSUPPLIEDRES);
    if (!Inject(PSINJECT_PAGEORDER)) Line("%%PageOrder: Ascend");
    if (!Inject(PSINJECT_ORIENTATION))
        Line(setup->orientation == DMORIENT_LANDSCAPE ? "%%Orientation: Landscape" : "%%Orientation: Portrait");
    if (!Inject(PSINJECT_BOUNDINGBOX)) Line("%%BoundingBox: 0 0 612 792");
    if (!Inject(PSINJECT_DOCUMENTPROCESSCOLORS)) Line("%%DocumentProcessColors: Black");
    Inject(PSINJECT_COMMENTS);
    Line("%%EndComments");
    Line("%%BeginDefaults");
    Inject(PSINJECT_BEGINDEFAULTS);
    Inject(PSINJECT_ENDDEFAULTS);
    Line("%%EndDefaults");
    Line("%%BeginProlog");
    Inject(PSINJECT_BEGINPROLOG);
    if (!setup->prolog.empty()) {
        Line("%%BeginResource: procset TolvaCoreStandIn 1.0 0");
        driver->Spool() += setup->prolog;
        Line("%%EndResource");
    }
    Inject(PSINJECT_ENDPROLOG);
    Line("%%EndProlog");
    Line("%%BeginSetup");
    Inject(PSINJECT_BEGINSETUP);
    LineF("%%%%BeginNonPPDFeature: NumCopies %d", setup->copies);
    LineF("<< /NumCopies %d >> setpagedevice", setup->copies);
    Line("%%EndNonPPDFeature");
    Inject(PSINJECT_ENDSETUP);
    Line("%%EndSetup");
}

// Each page runs inside a save of its own, as the core driver's pages do.
void ActiveJob::StartPage()
{
    page = ++pageCount;
    char line[64] = {};
    FormatToBufferA(line, sizeof(line), "%%%%Page: %d %d", page, page);
    if (!Inject(PSINJECT_PAGENUMBER)) Line(line);
    Inject(PSINJECT_ENDPAGECOMMENTS);
    Line("%%EndPageComments");
    Line("%%BeginPageSetup");
    Inject(PSINJECT_BEGINPAGESETUP);
    Line("userdict /TolvaCorePageSave save put");
    Inject(PSINJECT_ENDPAGESETUP);
    Line("%%EndPageSetup");
}

void ActiveJob::FillPath()
{
    Line("newpath 72 72 moveto 200 0 rlineto 0 100 rlineto closepath fill");
    Line("/Helvetica findfont 12 scalefont setfont");
    LineF("72 200 moveto (Page %d) show", page);
}

void ActiveJob::SendPage()
{
    Inject(PSINJECT_SHOWPAGE);
    Line("showpage");
    Line("userdict /TolvaCorePageSave get restore");
    Line("%%PageTrailer");
    Inject(PSINJECT_PAGETRAILER);
    page = 0;
}

void ActiveJob::EndDoc()
{
    page = 0;
    Line("%%Trailer");
    Inject(PSINJECT_TRAILER);
    if (!Inject(PSINJECT_PAGES)) LineF("%%%%Pages: %d", pageCount);
    Line("%%EOF");
    Inject(PSINJECT_EOF);
    Inject(PSINJECT_ENDSTREAM);
}

// The job a call belongs to: the active one when the call's surface or PDEV is its.
ActiveJob* JobFor(SURFOBJ* surface) { return g_job && surface && surface->dhpdev == g_job->dhpdev ? g_job : nullptr; }
ActiveJob* JobFor(DHPDEV dhpdev) { return g_job && dhpdev && dhpdev == g_job->dhpdev ? g_job : nullptr; }

// --- the core DDI functions -----------------------------------------------------------

char g_sentinel[16];

template <class... A>
std::vector<ULONG_PTR> Words(A... values)
{
    return {DdiWord(values)...};
}

template <class R>
R NonZero()
{
    if constexpr (std::is_pointer_v<R>)
        return static_cast<R>(static_cast<void*>(g_sentinel));
    else
        return static_cast<R>(1);
}

// Logs the call and, for the job's own surface, does the job's part of it.
void Record(ULONG index, std::vector<ULONG_PTR>&& args, ActiveJob* job)
{
    CoreDdiLog().push_back(CoreDdiCall{index, std::move(args)});
    if (!job) return;
    ++job->result->coreCalls;
    switch (index) {
    case INDEX_DrvStartDoc: job->StartDoc(reinterpret_cast<const wchar_t*>(CoreDdiLog().back().args[1])); break;
    case INDEX_DrvStartPage: job->StartPage(); break;
    case INDEX_DrvFillPath: job->FillPath(); break;
    case INDEX_DrvSendPage: job->SendPage(); break;
    case INDEX_DrvEndDoc: job->EndDoc(); break;
    default: break;
    }
}

// Nothing may escape into the plug-in that called: a core function that runs out of memory
// still answers, and the job reports it.
#define CORE_DDI_FUNCTION(name, index, result, params, args, locator) \
    result APIENTRY Core##name params                                  \
    {                                                                  \
        try {                                                          \
            Record(index, Words args, JobFor(locator));                \
        } catch (...) {                                                \
            if (g_job) g_job->outOfMemory = true;                      \
        }                                                              \
        return NonZero<result>();                                      \
    }
TOLVA_DDI_HOOKS(CORE_DDI_FUNCTION)
#undef CORE_DDI_FUNCTION

template <class Fn>
PFN AsPfn(Fn function)
{
    return reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function));
}

#define CORE_DDI_ROW(name, index, result, params, args, locator) {index, AsPfn(&Core##name)},
DRVFN g_coreRows[] = {TOLVA_DDI_HOOKS(CORE_DDI_ROW)};
#undef CORE_DDI_ROW
const DRVENABLEDATA g_coreTable = {kPrinterOemEngineVersion, static_cast<ULONG>(sizeof(g_coreRows) / sizeof(DRVFN)),
                                   g_coreRows};

}  // namespace

std::vector<CoreDdiCall>& CoreDdiLog()
{
    static std::vector<CoreDdiCall> log;
    return log;
}

const DRVENABLEDATA* CoreDdiTable() { return &g_coreTable; }

void* CoreDdiSentinel() { return g_sentinel; }

// --- DriverPSStandIn --------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE DriverPSStandIn::QueryInterface(REFIID riid, void** object)
{
    return QueryStandIn<IPrintOemDriverPS>(this, riid, IID_IPrintOemDriverPS, object);
}

ULONG STDMETHODCALLTYPE DriverPSStandIn::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }

ULONG STDMETHODCALLTYPE DriverPSStandIn::Release() { return static_cast<ULONG>(InterlockedDecrement(&m_refCount)); }

HRESULT STDMETHODCALLTYPE DriverPSStandIn::DrvGetDriverSetting(PVOID, PCSTR feature, PVOID output, DWORD size,
                                                               PDWORD needed, PDWORD optionsReturned)
{
    ++m_settingCalls;
    if (optionsReturned) *optionsReturned = 0;
    if (!feature || !needed) return E_INVALIDARG;
    try {
        m_asked.emplace_back(feature);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    auto found = m_settings.find(feature);
    if (found == m_settings.end()) {
        *needed = 0;
        return E_INVALIDARG;
    }
    const std::string& option = found->second;
    const DWORD bytes = static_cast<DWORD>(option.size()) + (m_exact ? 0 : 1);
    *needed = bytes;
    if (!output || size < bytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    memcpy(output, option.c_str(), bytes);
    if (optionsReturned) *optionsReturned = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DriverPSStandIn::DrvWriteSpoolBuf(PDEVOBJ, PVOID buffer, DWORD size, DWORD* written)
{
    ++m_writeCalls;
    if (written) *written = 0;
    if (!buffer && size) return E_INVALIDARG;
    if (m_writeMode == WriteMode::Fail) return E_FAIL;
    const DWORD count = m_writeMode == WriteMode::Short ? size / 2 : size;
    try {
        m_spool.append(static_cast<const char*>(buffer), count);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (written) *written = count;
    return S_OK;
}

// --- PrintJob ---------------------------------------------------------------------------

namespace {


template <class Fn>
Fn AsHook(PFN function)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(function));
}

// The function of a DDI index: the plug-in's hook when its table has one, else the core's,
// as the graphics engine chooses.
PFN HookOrCore(const DRVENABLEDATA& plugin, ULONG index)
{
    if (plugin.pdrvfn)
        for (ULONG i = 0; i < plugin.c; ++i)
            if (plugin.pdrvfn[i].iFunc == index && plugin.pdrvfn[i].pfn) return plugin.pdrvfn[i].pfn;
    for (ULONG i = 0; i < g_coreTable.c; ++i)
        if (g_coreTable.pdrvfn[i].iFunc == index) return g_coreTable.pdrvfn[i].pfn;
    return nullptr;
}

// The private block from the UI plug-in: its size, then its defaults. A UI plug-in that
// wants none (size 0) or cannot answer leaves the job without one.
void BuildPrivateBlock(const PrintJobSetup& setup, const tolvatest::TestPrinter& printer, const DEVMODEW& publicDM,
                       PrintJobResult& result)
{
    PluginHost quenta;
    std::wstring error;
    if (!quenta.Load(setup.quentaPath, &error)) {
        result.warnings.push_back(L"UI plug-in not loaded (" + error + L"): no private block");
        return;
    }
    DevModeStep size = CallDevMode(quenta.Plugin(), "SIZE", OEMDM_SIZE, printer.Handle(), nullptr, 0, nullptr);
    if (FAILED(size.result)) {
        result.warnings.push_back(L"OEMDM_SIZE failed with " + Hex(static_cast<DWORD>(size.result)) +
                                  L": no private block");
        return;
    }
    if (size.bufSize == 0) return;
    DevModeStep defaults = CallDevMode(quenta.Plugin(), "DEFAULT", OEMDM_DEFAULT, printer.Handle(), nullptr,
                                       size.bufSize, &publicDM);
    if (FAILED(defaults.result)) {
        result.warnings.push_back(L"OEMDM_DEFAULT failed with " + Hex(static_cast<DWORD>(defaults.result)) +
                                  L": no private block");
        return;
    }
    result.privateBlock = std::move(defaults.block);
}

// The core driver's answers (the PPD defaults of its feature keys, then the selections and
// the extra answers) and the selections written into the private block.
void ApplySettings(const PrintJobSetup& setup, const tolvatest::TestPrinter& printer, PrintJobResult& result)
{
    std::map<std::string, std::string>& answers = result.driverSettings;
    CfgSettingsHold hold(printer.DataFile().c_str());
    CfgSettings* settings = hold.Get();
    if (!settings) result.warnings.push_back(L"no compiled settings for the PPD: the core answers the selections only");
    if (settings) {
        CBaseSoup* soup = settings->GetStringSoup();
        KVCache features;
        settings->LoadSectionSettings(CFG_SECTION_GROUP_KEYS, &features, nullptr, nullptr);
        for (auto it = features.Begin(); soup && it != features.End(); ++it) {
            const CKeySetting* key = features.GetAt(it);
            if (!dynamic_cast<const CKeyOptSetting*>(key)) continue;
            const wchar_t* keyword = soup->GetString(key->GetKeyId());
            const wchar_t* option = soup->GetString(key->GetValueId());
            if (keyword && keyword[0] == L'*' && keyword[1] && option && *option)
                answers[Narrow(keyword + 1, CP_ACP)] = Narrow(option, CP_ACP);
        }
    }
    for (const auto& [keyword, option] : setup.selections)
        answers[Narrow(keyword.c_str() + (keyword.starts_with(L"*") ? 1 : 0), CP_ACP)] = Narrow(option.c_str(), CP_ACP);
    for (const auto& [feature, option] : setup.driverSettings) answers[feature] = option;

    if (!settings || result.privateBlock.empty() || setup.selections.empty()) return;
    CBaseDrvState state(settings);
    DevmodeSet set;
    set.privateBlock = result.privateBlock.data();
    set.printer = printer.Handle();
    if (!state.IsValid() || !state.LoadAll(settings, set, nullptr, 0)) {
        result.warnings.push_back(L"the driver state could not be loaded: selections not in the private block");
        return;
    }
    KVCache* current = state.GetCurrentSettings();
    bool changed = false;
    for (const auto& [keyword, option] : setup.selections) {
        const SoupSlotID id = state.GetSoup()->Find(keyword.c_str());
        const CKeySetting* held = id.IsValid() ? current->Find(id) : nullptr;
        if (!held) continue;  // a feature of the core driver only
        std::unique_ptr<CKeySetting> clone(held->Clone());
        if (!clone || clone->SetFromText(state.GetSoup(), state.GetKeyForest(), keyword.c_str(), option.c_str()) != 1) {
            result.warnings.push_back(L"option " + option + L" refused by " + keyword);
            continue;
        }
        current->Set(clone.get());
        changed = true;
    }
    if (changed && !state.SavePrivateDevmode(settings, set, current))
        result.warnings.push_back(L"the selections could not be saved into the private block");
}

// The core driver's PDEV: it starts with the DEVOBJ the plug-in sees.
struct CorePdev {
    DEVOBJ devobj = {};
    DEVMODEW publicDM = {};
};

// One loaded rendering plug-in; everything is given back at destruction in the core
// driver's order.
class RenderPlugin {
public:
    explicit RenderPlugin(PrintJobResult& result) : m_result(result) {}
    ~RenderPlugin() { Unload(); }
    RenderPlugin(const RenderPlugin&) = delete;
    RenderPlugin& operator=(const RenderPlugin&) = delete;

    bool Load(const std::wstring& path, DriverPSStandIn* driver)
    {
        m_module = LoadLibraryW(path.c_str());
        if (!m_module) return Fail(L"LoadLibraryW of the rendering plug-in", GetLastError());
        auto getClassObject = FindExport<GetClassObjectFn>(m_module, "DllGetClassObject");
        if (!getClassObject) return Fail(L"finding DllGetClassObject", ERROR_PROC_NOT_FOUND);
        IClassFactory* factory = nullptr;
        HRESULT hr = getClassObject(CLSID_OEMRENDER, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (FAILED(hr) || !factory) return Fail(L"DllGetClassObject", static_cast<DWORD>(hr));
        hr = factory->CreateInstance(nullptr, IID_IPrintOemPS, reinterpret_cast<void**>(&m_plugin));
        factory->Release();
        if (FAILED(hr) || !m_plugin) {
            m_plugin = nullptr;
            return Fail(L"CreateInstance(IPrintOemPS)", static_cast<DWORD>(hr));
        }
        m_result.publish = m_plugin->PublishDriverInterface(static_cast<IPrintOemDriverPS*>(driver));
        if (FAILED(m_result.publish)) return Fail(L"PublishDriverInterface", static_cast<DWORD>(m_result.publish));
        m_result.enableDriver = m_plugin->EnableDriver(kPrinterOemEngineVersion, sizeof(DRVENABLEDATA), &m_hooks);
        if (FAILED(m_result.enableDriver)) return Fail(L"EnableDriver", static_cast<DWORD>(m_result.enableDriver));
        m_driverEnabled = true;
        m_result.hookVersion = m_hooks.iDriverVersion;
        m_result.hookCount = m_hooks.c;
        for (ULONG i = 0; m_hooks.pdrvfn && i < m_hooks.c; ++i) m_result.hookIndexes.push_back(m_hooks.pdrvfn[i].iFunc);
        return true;
    }

    bool EnablePdev(CorePdev& pdev, std::wstring printerName)
    {
        DEVINFO devinfo = {};
        devinfo.flGraphicsCaps = kCoreGraphicsCaps;
        PDEVOEM pdevOEM = nullptr;
        m_result.enablePDEV =
            m_plugin->EnablePDEV(&pdev.devobj, printerName.data(), 0, nullptr, 0, nullptr, sizeof(DEVINFO), &devinfo,
                                 const_cast<DRVENABLEDATA*>(CoreDdiTable()), &pdevOEM);
        m_result.graphicsCaps = devinfo.flGraphicsCaps;
        m_result.pdevMade = pdevOEM != nullptr;
        if (FAILED(m_result.enablePDEV)) return Fail(L"EnablePDEV", static_cast<DWORD>(m_result.enablePDEV));
        pdev.devobj.pdevOEM = pdevOEM;
        m_pdev = &pdev;
        return true;
    }

    IPrintOemPS* Plugin() const { return m_plugin; }
    HMODULE Module() const { return m_module; }
    const DRVENABLEDATA& Hooks() const { return m_hooks; }

    void Unload()
    {
        if (m_pdev && m_plugin) m_result.disablePDEV = m_plugin->DisablePDEV(&m_pdev->devobj);
        m_pdev = nullptr;
        if (m_driverEnabled && m_plugin) m_result.disableDriver = m_plugin->DisableDriver();
        m_driverEnabled = false;
        if (m_plugin) m_plugin->Release();
        m_plugin = nullptr;
        if (m_module) {
            if (auto canUnload = FindExport<CanUnloadNowFn>(m_module, "DllCanUnloadNow"))
                m_result.canUnloadNow = canUnload();
            FreeLibrary(m_module);
        }
        m_module = nullptr;
    }

private:
    bool Fail(const wchar_t* step, DWORD code)
    {
        m_result.error = std::wstring(step) + L" failed: " + Hex(code);
        return false;
    }

    PrintJobResult& m_result;
    HMODULE m_module = nullptr;
    IPrintOemPS* m_plugin = nullptr;
    DRVENABLEDATA m_hooks = {};
    bool m_driverEnabled = false;
    CorePdev* m_pdev = nullptr;
};

// Makes the job the one the core functions serve for as long as it lives.
class JobScope {
public:
    explicit JobScope(ActiveJob* job) { g_job = job; }
    ~JobScope() { g_job = nullptr; }
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;
};

// The document through the plug-in's hooks, as the graphics engine calls them.
void PrintDocument(const PrintJobSetup& setup, RenderPlugin& plugin, CorePdev& pdev, DriverPSStandIn& driver,
                   PrintJobResult& result)
{
    SURFOBJ surface = {};
    surface.dhpdev = reinterpret_cast<DHPDEV>(&pdev);
    ActiveJob job;
    job.plugin = plugin.Plugin();
    job.devobj = &pdev.devobj;
    job.dhpdev = surface.dhpdev;
    job.driver = &driver;
    job.setup = &setup;
    job.result = &result;
    JobScope scope(&job);

    const DRVENABLEDATA& hooks = plugin.Hooks();
    auto startDoc = AsHook<PFN_DrvStartDoc>(HookOrCore(hooks, INDEX_DrvStartDoc));
    auto startPage = AsHook<PFN_DrvStartPage>(HookOrCore(hooks, INDEX_DrvStartPage));
    auto fillPath = AsHook<PFN_DrvFillPath>(HookOrCore(hooks, INDEX_DrvFillPath));
    auto sendPage = AsHook<PFN_DrvSendPage>(HookOrCore(hooks, INDEX_DrvSendPage));
    auto endDoc = AsHook<PFN_DrvEndDoc>(HookOrCore(hooks, INDEX_DrvEndDoc));
    auto check = [&](BOOL ok, const wchar_t* hook, int page) {
        if (ok) return;
        if (++result.failedHooks <= 5)
            result.warnings.push_back(std::wstring(hook) + L" returned FALSE (page " + std::to_wstring(page) + L")");
    };

    std::wstring documentName = setup.documentName;
    double t0 = Seconds();
    check(startDoc(&surface, documentName.data(), 1), L"DrvStartDoc", 0);
    double t1 = Seconds();
    result.startDocSeconds = t1 - t0;
    for (int page = 1; page <= setup.pages; ++page) {
        check(startPage(&surface), L"DrvStartPage", page);
        if (setup.drawContent)
            check(fillPath(&surface, nullptr, nullptr, nullptr, nullptr, 0, 0), L"DrvFillPath", page);
        check(sendPage(&surface), L"DrvSendPage", page);
    }
    t0 = Seconds();
    result.pageSeconds = t0 - t1;
    check(endDoc(&surface, 0), L"DrvEndDoc", 0);
    result.endDocSeconds = Seconds() - t0;
    if (job.outOfMemory) result.error = L"the core driver ran out of memory";
    if (result.failedHooks > 0) result.error = L"a hook returned FALSE";
}

void RunJob(const PrintJobSetup& setup, PrintJobResult& result)
{
    if (setup.rindlePath.empty() || setup.ppdPath.empty()) {
        result.error = L"no rendering plug-in or PPD given";
        return;
    }
    tolvatest::TestPrinterSetup printerSetup;
    printerSetup.dataFile = setup.ppdPath;
    printerSetup.companions = setup.companions;
    const double t0 = Seconds();
    tolvatest::TestPrinter printer(printerSetup);
    result.printerSeconds = Seconds() - t0;
    if (!printer.Ok()) {
        result.error = L"printer set-up: " + printer.Error();
        return;
    }
    result.printerName = printer.PrinterName();

    CorePdev pdev;
    DEVMODEW& publicDM = pdev.publicDM;
    wcsncpy(publicDM.dmDeviceName, printer.PrinterName().c_str(), CCHDEVICENAME - 1);
    publicDM.dmSpecVersion = DM_SPECVERSION;
    publicDM.dmSize = sizeof(DEVMODEW);
    publicDM.dmFields = DM_ORIENTATION | DM_COPIES;
    publicDM.dmOrientation = setup.orientation;
    publicDM.dmCopies = setup.copies;

    if (!setup.quentaPath.empty()) BuildPrivateBlock(setup, printer, publicDM, result);
    ApplySettings(setup, printer, result);
    if (setup.alterPrivateBlock) setup.alterPrivateBlock(result.privateBlock);
    const size_t extra = result.privateBlock.size();
    publicDM.dmDriverExtra = static_cast<WORD>(extra > 0xFFFF ? 0xFFFF : extra);

    DriverPSStandIn driver;
    driver.Settings() = result.driverSettings;
    driver.SetWriteMode(setup.writeMode);
    driver.SetExactAnswers(setup.exactAnswers);
    {
        RenderPlugin plugin(result);
        if (plugin.Load(setup.rindlePath, &driver)) {
            pdev.devobj.dwSize = sizeof(DEVOBJ);
            pdev.devobj.hPrinter = printer.Handle();
            pdev.devobj.hOEM = plugin.Module();
            pdev.devobj.pPublicDM = &publicDM;
            pdev.devobj.pOEMDM = result.privateBlock.empty() ? nullptr : result.privateBlock.data();
            if (plugin.EnablePdev(pdev, printer.PrinterName())) PrintDocument(setup, plugin, pdev, driver, result);
        }
    }
    result.driverRefsLeft = driver.RefCount();
    result.settingCalls = driver.SettingCalls();
    result.writeCalls = driver.WriteCalls();
    result.job = std::move(driver.Spool());
    result.ok = result.error.empty();
}

}  // namespace

PrintJobResult PrintJob(const PrintJobSetup& setup)
{
    PrintJobResult result;
    try {
        RunJob(setup, result);
    } catch (const std::bad_alloc&) {
        result.ok = false;
        result.error = L"out of memory";
    } catch (...) {
        result.ok = false;
        result.error = L"an exception ended the job";
    }
    return result;
}

std::string TextOf(const PrintJobResult& result, DWORD index, int page)
{
    std::string text;
    for (const CommandCall& call : result.commands)
        if (call.index == index && call.page == page && call.offset + call.length <= result.job.size())
            text.append(result.job, call.offset, call.length);
    return text;
}

const char* InjectionName(DWORD index)
{
    struct Row {
        DWORD index;
        const char* name;
    };
    static const Row rows[] = {
        {PSINJECT_BEGINSTREAM, "BEGINSTREAM"},
        {PSINJECT_PSADOBE, "PSADOBE"},
        {PSINJECT_PAGESATEND, "PAGESATEND"},
        {PSINJECT_PAGES, "PAGES"},
        {PSINJECT_DOCNEEDEDRES, "DOCNEEDEDRES"},
        {PSINJECT_DOCSUPPLIEDRES, "DOCSUPPLIEDRES"},
        {PSINJECT_PAGEORDER, "PAGEORDER"},
        {PSINJECT_ORIENTATION, "ORIENTATION"},
        {PSINJECT_BOUNDINGBOX, "BOUNDINGBOX"},
        {PSINJECT_DOCUMENTPROCESSCOLORS, "DOCUMENTPROCESSCOLORS"},
        {PSINJECT_COMMENTS, "COMMENTS"},
        {PSINJECT_BEGINDEFAULTS, "BEGINDEFAULTS"},
        {PSINJECT_ENDDEFAULTS, "ENDDEFAULTS"},
        {PSINJECT_BEGINPROLOG, "BEGINPROLOG"},
        {PSINJECT_ENDPROLOG, "ENDPROLOG"},
        {PSINJECT_BEGINSETUP, "BEGINSETUP"},
        {PSINJECT_ENDSETUP, "ENDSETUP"},
        {PSINJECT_TRAILER, "TRAILER"},
        {PSINJECT_EOF, "EOF"},
        {PSINJECT_ENDSTREAM, "ENDSTREAM"},
        {PSINJECT_DOCUMENTPROCESSCOLORSATEND, "DOCUMENTPROCESSCOLORSATEND"},
        {PSINJECT_PAGENUMBER, "PAGENUMBER"},
        {PSINJECT_BEGINPAGESETUP, "BEGINPAGESETUP"},
        {PSINJECT_ENDPAGESETUP, "ENDPAGESETUP"},
        {PSINJECT_PAGETRAILER, "PAGETRAILER"},
        {PSINJECT_PLATECOLOR, "PLATECOLOR"},
        {PSINJECT_SHOWPAGE, "SHOWPAGE"},
        {PSINJECT_PAGEBBOX, "PAGEBBOX"},
        {PSINJECT_ENDPAGECOMMENTS, "ENDPAGECOMMENTS"},
        {PSINJECT_VMSAVE, "VMSAVE"},
        {PSINJECT_VMRESTORE, "VMRESTORE"},
    };
    for (const Row& row : rows)
        if (row.index == index) return row.name;
    return nullptr;
}

}  // namespace coredriver
