// Rindle's per-device state (see OemPDev.h).
#include "render/OemPDev.h"

#include <cwctype>
#include <new>

#include "foundation/StrUtil.h"
#include "render/CommandProcessor.h"
#include "render/RindleModule.h"
#include "settings/PropertyNames.h"
#include "settings/StrSoup.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"

namespace {

// The DDI index of each hook row.
constexpr ULONG kHookIndex[kHookCount] = {
#define TOLVA_HOOK_INDEX(name, index, result, params, args, locator) index,
    TOLVA_DDI_HOOKS(TOLVA_HOOK_INDEX)
#undef TOLVA_HOOK_INDEX
};

const wchar_t* const kSlotExtension[kPlugInSlotCount] = {L".OEM", L".UAT", L".LAN"};

// The watermark fonts whose display texts the language module holds, by string id.
struct FontRow {
    const wchar_t* fontName;
    UINT stringId;
};
constexpr FontRow kWatermarkFontRows[] = {
    {L"Symbol", 121}, {L"ZapfDingbats", 122}, {L"Wingdings", 123}, {L"Wingdings-Regular", 124}};

}  // namespace

OemPDev::OemPDev(PDEVOBJ devobj, IPrintOemDriverPS* driver, const DRVENABLEDATA* coreData) noexcept
    : GeneralInfo<IPrintOemDriverPS>(devobj ? devobj->hPrinter : nullptr, driver, GetRindleModule()) {
    // The core driver's own functions by DDI index; a repeated index: the last row wins.
    if (coreData && coreData->pdrvfn) {
        for (ULONG i = 0; i < coreData->c; ++i) {
            const DRVFN& row = coreData->pdrvfn[i];
            for (int hook = 0; hook < kHookCount; ++hook)
                if (kHookIndex[hook] == row.iFunc)
                    m_core[hook] = row.pfn;
        }
    }
    InitHostProgramName();
    const wchar_t* dataFile = GetDataFile();
    if (!dataFile)
        return;
    try {
        CfgSettingsHold hold(dataFile);
        CfgSettings* settings = hold.Get();
        if (settings && driver && devobj) {
            m_state = new (std::nothrow) CDrvStatePSR(settings);
            if (m_state)
                m_state->Init(settings, driver, devobj);
            m_languageId = settings->GetLanguageId();
            m_codePage = settings->GetCodePage();
        }
        if (settings)
            settings->LoadSectionSettings(CFG_SECTION_VYRUI_KEYS, &m_sectionKeys, nullptr, nullptr);
        InitSlots(dataFile);
    } catch (...) {
        // Without settings the device still works; it only injects nothing.
        m_sectionKeys.Clear();
    }
}

OemPDev::~OemPDev() {
    FreePlugIns();
    // User names and tokens do not outlive the device in freed memory.
    for (std::wstring* secret : {&m_login, &m_token, &m_userName, &m_encryptedPassword, &m_identityKey}) {
        WipeMemory(secret->data(), secret->size() * sizeof(wchar_t));
        secret->clear();
    }
}

void OemPDev::InitHostProgramName() noexcept {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    WText stem(GetPathStem(path));
    if (!stem)
        return;
    try {
        m_hostProgram = stem.get();
        for (wchar_t& ch : m_hostProgram)
            ch = static_cast<wchar_t>(towupper(ch));
    } catch (...) {
        m_hostProgram.clear();
    }
}

void OemPDev::InitSlots(const wchar_t* dataFile) noexcept {
    for (int slot = 0; slot < kPlugInSlotCount; ++slot)
        MakePlugInPath(dataFile, slot, m_slots[slot].path);
}

void OemPDev::SetDocumentName(const wchar_t* name) {
    if (name)
        m_documentName = name;
}

const wchar_t* OemPDev::GetPlugInPath(int slot) const noexcept {
    return slot >= 0 && slot < kPlugInSlotCount ? m_slots[slot].path : L"";
}

HMODULE OemPDev::GetPlugInModule(int slot) const noexcept {
    return slot >= 0 && slot < kPlugInSlotCount ? m_slots[slot].module : nullptr;
}

const WatermarkFontText* OemPDev::GetWatermarkFonts(int* count) noexcept {
    if (count)
        *count = 0;
    if (!m_fontsLoaded) {
        m_fontsLoaded = true;
        PlugInModule& language = m_slots[kPlugInLanguage];
        if (!language.module && language.path[0])
            language.module =
                LoadLibraryExW(language.path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_WITH_ALTERED_SEARCH_PATH);
        if (language.module) {
            for (const FontRow& row : kWatermarkFontRows) {
                WText text(LoadStringResource(language.module, row.stringId, m_languageId, m_codePage));
                if (!text)
                    continue;
                try {
                    m_fonts[m_fontCount].fontName = row.fontName;
                    m_fonts[m_fontCount].displayText = text.get();
                    ++m_fontCount;
                } catch (...) {
                    break;
                }
            }
        }
    }
    if (count)
        *count = m_fontCount;
    return m_fontCount ? m_fonts : nullptr;
}

int OemPDev::RunCommand(PDEVOBJ devobj, DWORD index) noexcept {
    if (!m_state || !m_state->GetSoup())
        return 0;
    try {
        // Nothing may be injected into encapsulated PostScript.
        if (IsCurrentOption(m_state, QV_PROP_PSOUTPUTFORMAT, QV_PROP_EPS))
            return 0;
        CommandProcessor processor(this);
        return processor.Execute(devobj, index);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
}

void OemPDev::FreePlugIns() noexcept {
    delete m_state;
    m_state = nullptr;
    for (PlugInModule& slot : m_slots) {
        if (slot.module)
            FreeLibrary(slot.module);
        slot.module = nullptr;
        slot.path[0] = L'\0';
    }
    m_fontCount = 0;
    m_fontsLoaded = false;
}

void OemPDev::CopyDocumentValuesTo(OemPDev* next) const {
    if (!next)
        return;
    next->m_pageCount = m_pageCount;
    next->m_documentName = m_documentName;
    next->m_hostProgram = m_hostProgram;
    next->m_orientation = m_orientation;
    // The identity key is not carried: the new device computes its own.
    next->m_login = m_login;
    next->m_token = m_token;
    next->m_userName = m_userName;
    next->m_encryptedPassword = m_encryptedPassword;
}

// --- Free functions --------------------------------------------------------------------------

bool MakePlugInPath(const wchar_t* dataFile, int slot, wchar_t (&out)[MAX_PATH]) noexcept {
    out[0] = L'\0';
    if (!dataFile || slot < 0 || slot >= kPlugInSlotCount)
        return false;
    if (ReplaceExtension(out, MAX_PATH, dataFile, kSlotExtension[slot]) != 0) {
        out[0] = L'\0';
        return false;
    }
    return out[0] != L'\0';
}

OemPDev* CreateOemPDev(PDEVOBJ devobj, PWSTR printerName, const DRVENABLEDATA* coreData,
                       IPrintOemDriverPS* driver) noexcept {
    if (!devobj || !printerName || !coreData)
        return nullptr;
    return new (std::nothrow) OemPDev(devobj, driver, coreData);
}

void DeleteOemPDev(PDEVOBJ devobj) noexcept {
    OemPDev* pdev = GetOemPDev(devobj);
    delete pdev;
    if (devobj)
        devobj->pdevOEM = nullptr;
}

bool ResetOemPDev(PDEVOBJ oldDevobj, PDEVOBJ newDevobj) noexcept {
    OemPDev* from = GetOemPDev(oldDevobj);
    OemPDev* to = GetOemPDev(newDevobj);
    if (!from || !to)
        return true;
    try {
        from->CopyDocumentValuesTo(to);
    } catch (...) {
        return false;
    }
    return true;
}

OemPDev* GetOemPDev(PDEVOBJ devobj) noexcept { return devobj ? static_cast<OemPDev*>(devobj->pdevOEM) : nullptr; }

OemPDev* GetOemPDev(SURFOBJ* surface) noexcept {
    return surface ? GetOemPDev(reinterpret_cast<PDEVOBJ>(surface->dhpdev)) : nullptr;
}

OemPDev* GetOemPDev(DHPDEV pdev) noexcept { return GetOemPDev(reinterpret_cast<PDEVOBJ>(pdev)); }
