// Rindle's per-device state (its PDEV): the core driver's DDI functions that the hooks call
// on, the job's driver state, the paths of the companion modules beside the PPD, the private
// keys that the injection points walk and the per-document values (page count, document
// name, orientation, host program) that the PostScript injection writes into the job.
#pragma once

#include <windows.h>

#include <string>

#include "platform/DriverKit.h"
#include "render/DrvStatePSR.h"
#include "settings/KVCache.h"
#include "settings/SoupSlotID.h"
#include "uiplugin/GeneralInfo.h"

// The rows of the hook table, in its order: kHookRow_DrvBitBlt ... kHookRow_DrvQueryDeviceSupport.
enum HookRow : int {
#define TOLVA_HOOK_ROW(name, index, result, params, args, locator) kHookRow_##name,
    TOLVA_DDI_HOOKS(TOLVA_HOOK_ROW)
#undef TOLVA_HOOK_ROW
        kHookCount
};

// The companion modules beside the PPD: its stem with ".OEM", ".UAT" and ".LAN".
enum PlugInSlot : int { kPlugInOEM = 0, kPlugInUAT = 1, kPlugInLanguage = 2, kPlugInSlotCount = 3 };

// A watermark font of the language module: its PostScript name and display text.
struct WatermarkFontText {
    const wchar_t* fontName;
    std::wstring displayText;
};

class OemPDev : public GeneralInfo<IPrintOemDriverPS> {
public:
    // devobj and coreData must be given; driver may be null (then no settings are loaded).
    OemPDev(PDEVOBJ devobj, IPrintOemDriverPS* driver, const DRVENABLEDATA* coreData) noexcept;
    ~OemPDev() override;

    // The core driver's function of a hook row (null when the core driver has none).
    PFN GetCoreFunction(int row) const noexcept { return row >= 0 && row < kHookCount ? m_core[row] : nullptr; }

    // Writes the text of one PostScript injection point: above 0 handled, 0 not handled (also
    // for EPS output and without settings), below 0 failed.
    int RunCommand(PDEVOBJ devobj, DWORD index) noexcept;

    // Null when the job's settings were not available.
    CDrvStatePSR* GetDriverState() const noexcept { return m_state; }
    // The private keys of the PPD (key section 5), in key order.
    const KVCache& GetSectionKeys() const noexcept { return m_sectionKeys; }

    unsigned GetPageCount() const noexcept { return m_pageCount; }
    unsigned IncrementPageCount() noexcept { return ++m_pageCount; }
    void SetPageCount(unsigned count) noexcept { m_pageCount = count; }
    SoupSlotID GetOrientation() const noexcept { return m_orientation; }
    void SetOrientation(SoupSlotID orientation) noexcept { m_orientation = orientation; }
    const wchar_t* GetDocumentName() const noexcept { return m_documentName.c_str(); }
    void SetDocumentName(const wchar_t* name);
    // The executable's file name without extension, upper-cased.
    const wchar_t* GetHostProgramName() const noexcept { return m_hostProgram.c_str(); }
    LANGID GetLanguageId() const noexcept { return m_languageId; }
    UINT GetCodePage() const noexcept { return m_codePage; }

    // The slot's module path (empty when the data file's path did not give one).
    const wchar_t* GetPlugInPath(int slot) const noexcept;
    HMODULE GetPlugInModule(int slot) const noexcept;
    // The watermark fonts named by the language module, loaded (as data) on first use; none
    // when the module cannot be loaded.
    const WatermarkFontText* GetWatermarkFonts(int* count) noexcept;

    // Stores the user-authentication values (identity key, credentials token, login, user
    // name and encrypted password for the printer's own authentication, saved name, e-mail
    // address) into the job's note settings; 1 when the job has a driver state.
    int PrepareDocument() noexcept;
    // The values, each owned by the PDEV and cached once computed; null when they cannot be had.
    const wchar_t* GetCurrentLogin() noexcept;
    // The credentials token of the user-authentication module (computed at every call).
    const wchar_t* AuthenticateUser() noexcept;
    const wchar_t* GetUserName() noexcept;
    const wchar_t* GetEncryptedPassword() noexcept;
    // "<domain or computer>[LOCAL][USER]<login>", upper-cased.
    const wchar_t* GetIdentityKey() noexcept;
    // Deletes the driver state and frees the slot modules.
    void FreePlugIns() noexcept;

    // Carries the per-document values of one PDEV over to its successor.
    void CopyDocumentValuesTo(OemPDev* next) const;

private:
    struct PlugInModule {
        HMODULE module = nullptr;
        wchar_t path[MAX_PATH] = {};
    };

    void InitSlots(const wchar_t* dataFile) noexcept;
    void InitHostProgramName() noexcept;
    // 0 Windows login, 1 explicit user and password, 2 guest.
    int GetAuthenticationMode() const;
    // Whether a value is listed for an option of the PPD's special-option key.
    bool IsSpecialOptionOn(int option, int value) const;

    PFN m_core[kHookCount] = {};
    CDrvStatePSR* m_state = nullptr;
    PlugInModule m_slots[kPlugInSlotCount];
    KVCache m_sectionKeys;
    unsigned m_pageCount = 0;
    std::wstring m_documentName;
    std::wstring m_hostProgram;
    // User authentication: empty until computed.
    std::wstring m_login;
    std::wstring m_token;
    std::wstring m_userName;
    std::wstring m_encryptedPassword;
    std::wstring m_identityKey;
    SoupSlotID m_orientation;
    LANGID m_languageId = 0;
    UINT m_codePage = CP_THREAD_ACP;
    bool m_fontsLoaded = false;
    WatermarkFontText m_fonts[4];
    int m_fontCount = 0;
};

// The path of a companion module: the data file's drive, folder and file name with the slot's
// extension. False, with out empty, when it does not fit MAX_PATH characters or the slot is
// unknown: a cut path would name another file.
bool MakePlugInPath(const wchar_t* dataFile, int slot, wchar_t (&out)[MAX_PATH]) noexcept;

// New texts (delete[]; null on failure): the user part of "domain\\user" with every backslash
// doubled; the text encrypted by the OEM module's "Algo_2" or "Algo_1" key, in hexadecimal.
wchar_t* StripUserDomain(const wchar_t* text) noexcept;
class COEMInterface;
wchar_t* EncryptAlgo2Text(COEMInterface* oem, const wchar_t* text) noexcept;
wchar_t* EncryptAlgo1Text(COEMInterface* oem, const wchar_t* text) noexcept;

// A new PDEV, or null unless devobj, printer name and the core's table are all given.
OemPDev* CreateOemPDev(PDEVOBJ devobj, PWSTR printerName, const DRVENABLEDATA* coreData,
                       IPrintOemDriverPS* driver) noexcept;
void DeleteOemPDev(PDEVOBJ devobj) noexcept;
// Carries page count, document name, host program and orientation from the old device's PDEV
// to the new one's; true also when either is missing.
bool ResetOemPDev(PDEVOBJ oldDevobj, PDEVOBJ newDevobj) noexcept;
// The PDEV of a device object, of a surface (through its core PDEV, which starts with the
// device object) or of the core driver's PDEV handle; null when there is none.
OemPDev* GetOemPDev(PDEVOBJ devobj) noexcept;
OemPDev* GetOemPDev(SURFOBJ* surface) noexcept;
OemPDev* GetOemPDev(DHPDEV pdev) noexcept;
