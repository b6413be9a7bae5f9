// The core driver stand-in: plug-in loading and the device-mode sequence.
#include "tests/standins/coredriver/CoreDriverStandIn.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "foundation/StrUtil.h"

namespace coredriver {

// --- CoreUIStandIn --------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CoreUIStandIn::QueryInterface(REFIID riid, void** object)
{
    return QueryStandIn<IPrintCoreUI2>(this, riid, IID_IPrintCoreUI2, object);
}

ULONG STDMETHODCALLTYPE CoreUIStandIn::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }

// The host owns the object: the count never deletes it.
ULONG STDMETHODCALLTYPE CoreUIStandIn::Release() { return static_cast<ULONG>(InterlockedDecrement(&m_refCount)); }

HRESULT STDMETHODCALLTYPE CoreUIStandIn::DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::DrvUpgradeRegistrySetting(HANDLE, PCSTR, PCSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CoreUIStandIn::DrvUpdateUISetting(PVOID, PVOID, DWORD, DWORD) { return E_NOTIMPL; }

namespace {
// The strings of a MULTI_SZ text of size bytes (stops at the empty string or the end).
std::vector<std::string> SplitMultiSz(const char* text, DWORD size)
{
    std::vector<std::string> items;
    if (!text) return items;
    DWORD at = 0;
    while (at < size && text[at] != '\0') {
        DWORD end = at;
        while (end < size && text[end] != '\0') ++end;
        items.emplace_back(text + at, end - at);
        at = end + 1;
    }
    return items;
}
}  // namespace

HRESULT STDMETHODCALLTYPE CoreUIStandIn::GetOptions(POEMUIOBJ, DWORD, PCSTR requested, DWORD requestedSize,
                                                    PSTR buffer, DWORD size, PDWORD needed)
{
    if (!needed) return E_INVALIDARG;
    std::vector<std::string> wanted = SplitMultiSz(requested, requestedSize);
    std::string out;
    for (const auto& [feature, option] : m_options) {
        bool asked = wanted.empty();
        for (const auto& w : wanted) asked = asked || w == feature;
        if (!asked) continue;
        out += feature;
        out += '\0';
        out += option;
        out += '\0';
    }
    out += '\0';
    *needed = static_cast<DWORD>(out.size());
    if (!buffer || size < out.size()) return E_OUTOFMEMORY;
    memcpy(buffer, out.data(), out.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CoreUIStandIn::SetOptions(POEMUIOBJ, DWORD, PCSTR pairs, DWORD pairsSize, PDWORD result)
{
    if (!pairs || !result) return E_INVALIDARG;
    std::vector<std::string> items = SplitMultiSz(pairs, pairsSize);
    if (items.size() % 2 != 0) return E_INVALIDARG;
    for (size_t i = 0; i < items.size(); i += 2) {
        bool found = false;
        for (auto& [feature, option] : m_options) {
            if (feature == items[i]) {
                option = items[i + 1];
                found = true;
            }
        }
        if (!found) m_options.emplace_back(items[i], items[i + 1]);
    }
    *result = SETOPTIONS_RESULT_NO_CONFLICT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CoreUIStandIn::EnumConstrainedOptions(POEMUIOBJ, DWORD, PCSTR, PSTR, DWORD, PDWORD)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::WhyConstrained(POEMUIOBJ, DWORD, PCSTR, PCSTR, PSTR, DWORD, PDWORD)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::GetGlobalAttribute(POEMUIOBJ, DWORD, PCSTR, PDWORD, PBYTE, DWORD, PDWORD)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::GetFeatureAttribute(POEMUIOBJ, DWORD, PCSTR, PCSTR, PDWORD, PBYTE, DWORD,
                                                             PDWORD)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::GetOptionAttribute(POEMUIOBJ, DWORD, PCSTR, PCSTR, PCSTR, PDWORD, PBYTE,
                                                            DWORD, PDWORD)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::EnumFeatures(POEMUIOBJ, DWORD, PSTR, DWORD, PDWORD) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CoreUIStandIn::EnumOptions(POEMUIOBJ, DWORD, PCSTR, PSTR, DWORD, PDWORD)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::GetFontSubstitution(POEMUIOBJ, DWORD, PCWSTR, PWSTR, DWORD, PDWORD)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::SetFontSubstitution(POEMUIOBJ, DWORD, PCWSTR, PCWSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CoreUIStandIn::CreateInstanceOfMSXMLParser(DWORD, REFIID, LPVOID* object)
{
    if (object) *object = nullptr;
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CoreUIStandIn::QuerySimulationSupport(HANDLE, DWORD, PBYTE, DWORD, PDWORD)
{
    return E_NOTIMPL;
}

// --- PluginHost -----------------------------------------------------------------------

namespace {

std::wstring Describe(const wchar_t* what, DWORD code)
{
    wchar_t text[200] = {};
    FormatToBuffer(text, 200, L"%s failed: 0x%08X", what, static_cast<unsigned>(code));
    return text;
}
}  // namespace

PluginHost::~PluginHost() { Unload(); }

bool PluginHost::Load(const std::wstring& modulePath, std::wstring* error)
{
    Unload();
    std::wstring ignored;
    std::wstring& message = error ? *error : ignored;
    m_module = LoadLibraryW(modulePath.c_str());
    if (!m_module) {
        message = Describe(L"LoadLibraryW", GetLastError());
        return false;
    }
    auto getClassObject = FindExport<GetClassObjectFn>(m_module, "DllGetClassObject");
    if (!getClassObject) {
        message = L"no DllGetClassObject export";
        return false;
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr) || !factory) {
        message = Describe(L"DllGetClassObject", static_cast<DWORD>(hr));
        return false;
    }
    hr = factory->CreateInstance(nullptr, IID_IPrintOemUI2, reinterpret_cast<void**>(&m_plugin));
    factory->Release();
    if (FAILED(hr) || !m_plugin) {
        m_plugin = nullptr;
        message = Describe(L"CreateInstance", static_cast<DWORD>(hr));
        return false;
    }
    m_publishResult = m_plugin->PublishDriverInterface(static_cast<IPrintCoreUI2*>(&m_core));
    return true;
}

void PluginHost::Unload()
{
    if (m_plugin) m_plugin->Release();
    m_plugin = nullptr;
    if (m_module) {
        // The core driver frees the module itself; it asks first, as COM would.
        if (auto canUnload = FindExport<CanUnloadNowFn>(m_module, "DllCanUnloadNow")) canUnload();
        FreeLibrary(m_module);
    }
    m_module = nullptr;
    m_publishResult = E_FAIL;
}

// --- device-mode calls ----------------------------------------------------------------

namespace {
DEVMODEW MakePublicDevmode(const wchar_t* printerName, DWORD privateSize)
{
    DEVMODEW dm = {};
    if (printerName) wcsncpy(dm.dmDeviceName, printerName, CCHDEVICENAME - 1);
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmSize = sizeof(DEVMODEW);
    dm.dmDriverExtra = static_cast<WORD>(privateSize > 0xFFFF ? 0xFFFF : privateSize);
    dm.dmFields = DM_ORIENTATION | DM_COPIES;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmCopies = 1;
    return dm;
}
}  // namespace

DevModeStep CallDevMode(IPrintOemUI2* plugin, const char* name, DWORD mode, HANDLE printer, const void* in,
                        DWORD bufSize, const DEVMODEW* publicIn, BYTE fill)
{
    DevModeStep step;
    step.name = name;
    step.mode = mode;
    if (!plugin) return step;
    std::vector<BYTE> inCopy;
    if (in && bufSize) inCopy.assign(static_cast<const BYTE*>(in), static_cast<const BYTE*>(in) + bufSize);
    std::vector<BYTE> out(bufSize, fill);
    DEVMODEW pubIn = publicIn ? *publicIn : DEVMODEW{};
    step.publicOut = pubIn;

    OEMDMPARAM request = {};
    request.cbSize = sizeof(request);
    request.pdriverobj = nullptr;
    request.hPrinter = printer;
    request.hModule = nullptr;
    request.pPublicDMIn = publicIn ? &pubIn : nullptr;
    request.pPublicDMOut = &step.publicOut;
    request.pOEMDMIn = inCopy.empty() ? nullptr : inCopy.data();
    request.pOEMDMOut = out.empty() ? nullptr : out.data();
    request.cbBufSize = bufSize;
    SetLastError(0);
    step.result = plugin->DevMode(mode, &request);
    step.lastError = GetLastError();
    step.bufSize = request.cbBufSize;
    if (mode != OEMDM_SIZE) step.block = std::move(out);
    return step;
}

DevModeSequence RunDevModeSequence(IPrintOemUI2* plugin, HANDLE printer, const wchar_t* printerName)
{
    DevModeSequence seq;
    seq.size = CallDevMode(plugin, "SIZE", OEMDM_SIZE, printer, nullptr, 0, nullptr);
    const DWORD size = SUCCEEDED(seq.size.result) ? seq.size.bufSize : 0;
    const DEVMODEW publicDM = MakePublicDevmode(printerName, size);
    seq.defaults = CallDevMode(plugin, "DEFAULT", OEMDM_DEFAULT, printer, nullptr, size, &publicDM);

    std::vector<BYTE> corrupt = seq.defaults.block;
    if (corrupt.size() > 16) corrupt[16] ^= 0x5A;  // the payload no longer matches the checksum
    seq.convertCorrupt = CallDevMode(plugin, "CONVERT(corrupted)", OEMDM_CONVERT, printer,
                                     corrupt.empty() ? nullptr : corrupt.data(), size, &publicDM, 0xCD);
    seq.merge = CallDevMode(plugin, "MERGE(defaults)", OEMDM_MERGE, printer,
                            seq.defaults.block.empty() ? nullptr : seq.defaults.block.data(), size, &publicDM, 0xCD);
    return seq;
}

void PrintLine(const char* format, ...)
{
    char line[1024] = {};
    va_list args;
    va_start(args, format);
    FormatToBufferVA(line, sizeof(line), format, args);
    va_end(args);
    fputs(line, stdout);
}

std::string HexLines(const std::vector<BYTE>& bytes, const char* indent)
{
    std::string text;
    char cell[8];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) text += indent;
        FormatToBufferA(cell, sizeof(cell), "%02X", bytes[i]);
        text += cell;
        text += (i % 16 == 15 || i + 1 == bytes.size()) ? "\n" : " ";
    }
    return text;
}

std::string DescribeStep(const DevModeStep& step, bool withBlock)
{
    char line[200] = {};
    FormatToBufferA(line, sizeof(line), "%hs: hr=0x%08X lastError=%u cbBufSize=%u\n", step.name.c_str(),
                    static_cast<unsigned>(step.result), static_cast<unsigned>(step.lastError),
                    static_cast<unsigned>(step.bufSize));
    std::string text = line;
    if (step.mode != OEMDM_SIZE) {
        FormatToBufferA(line, sizeof(line), "  public: dmSize=%u dmDriverExtra=%u dmFields=0x%08X dmCopies=%d\n",
                        static_cast<unsigned>(step.publicOut.dmSize),
                        static_cast<unsigned>(step.publicOut.dmDriverExtra),
                        static_cast<unsigned>(step.publicOut.dmFields), static_cast<int>(step.publicOut.dmCopies));
        text += line;
        if (withBlock) text += HexLines(step.block, "    ");
    }
    return text;
}

}  // namespace coredriver
