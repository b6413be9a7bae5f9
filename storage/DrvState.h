// The driver state: the live settings of one printer and document, bound to the compiled
// PPD. CDrvState holds the keys, their options and the default and current settings;
// CBaseDrvState adds the places where settings persist between uses (the private
// device-mode block, the printer's stored settings, the public DEVMODE fields that mirror
// some settings, the option list of the core driver) and the steps that move them in and out.
#pragma once

#include <windows.h>

#include <string>

#include "settings/KVCache.h"
#include "settings/KeyForest.h"
#include "settings/KeyRecords.h"
#include "settings/StrSoup.h"

class CfgSettings;
class CUserStore;

// The places a driver state loads from and saves to; any may be null.
struct DevmodeSet {
    void* privateBlock = nullptr;  // the plug-in's private device-mode block
    HANDLE printer = nullptr;
    DEVMODEW* publicDevmode = nullptr;
};

class CDrvState {
public:
    explicit CDrvState(CfgSettings* settings);
    virtual ~CDrvState();
    CDrvState(const CDrvState&) = delete;
    CDrvState& operator=(const CDrvState&) = delete;

    virtual bool IsValid() const { return m_soup != nullptr; }

    // Fills the key forests from key sections 0, 2, 3, 6, 5 and takes the PPD's defaults;
    // on any failure the state is reset (invalid).
    bool Initialise(CfgSettings* settings);
    // Empties both settings caches and forgets the soup (the state becomes invalid).
    void Reset();
    // Sets the values into the current settings, only for keys already held; false for null.
    bool UpdateValues(const KVCache* values);

    KVCache* GetCurrentSettings() { return &m_current; }
    KVCache* GetDefaultSettings() { return &m_defaults; }
    OptionForest* GetKeyForest() { return &m_forest; }
    IdListForest* GetIdListForest() { return &m_idForest; }
    CBaseSoup* GetSoup() const { return m_soup; }
    UINT GetCodePage() const { return m_codePage; }
    const wchar_t* GetPPDPath() const { return m_ppdPath.c_str(); }
    // The generation of compiled settings this state was made from (kept alive and unchanged
    // while the state lives); null for an invalid state.
    CfgSettings* GetGeneration() const { return m_generation; }

protected:
    // The settings the steps work on: the state's own generation, whatever the caller holds
    // (a PPD changed since the state was made gives the caller a newer one).
    CfgSettings* Own(CfgSettings* given) const { return m_generation ? m_generation : given; }

    KVCache m_defaults;
    KVCache m_current;
    OptionForest m_forest;
    IdListForest m_idForest;
    CBaseSoup* m_soup = nullptr;
    UINT m_codePage = CP_THREAD_ACP;
    std::wstring m_ppdPath;

private:
    void ReleaseGeneration();
    CfgSettings* m_generation = nullptr;
};

// Scope hold of a PPD's settings for work on a driver state: takes the PPD's lock as
// CfgSettingsHold does, but answers the generation the state was made from, whose slot ids are
// the state's (a PPD changed since then gives the lock's holder a newer generation). A state
// without a generation gets the held one.
class StateSettingsHold {
public:
    StateSettingsHold(const CDrvState* state, const wchar_t* ppdPath);
    ~StateSettingsHold();
    StateSettingsHold(const StateSettingsHold&) = delete;
    StateSettingsHold& operator=(const StateSettingsHold&) = delete;

    // The state's generation; null when the lock could not be had.
    CfgSettings* Get() const { return m_generation; }
    // The lock's own pointer, for a validation that gives the hold back while a message box is
    // open and takes it again after (CValidationUtility::ReleaseHoldDuringMessages); the state
    // keeps its generation alive meanwhile.
    CfgSettings** Held() { return &m_held; }
    const wchar_t* GetPath() const { return m_path; }

private:
    const wchar_t* m_path;
    CfgSettings* m_held;
    CfgSettings* m_generation = nullptr;
};

class CBaseDrvState : public CDrvState {
public:
    explicit CBaseDrvState(CfgSettings* settings);
    ~CBaseDrvState() override;

    bool IsValid() const override { return CDrvState::IsValid() && m_watermarkStore != nullptr; }

    bool OpenWatermarkStore(CfgSettings* settings);
    void ReleaseStores();
    CUserStore* GetWatermarkStore() const { return m_watermarkStore; }
    const wchar_t* GetWatermarkStorePath() const { return m_watermarkPath; }

    // The load and save steps (true on success).
    bool LoadPrivateDevmode(CfgSettings* settings, const DevmodeSet& set, KVCache* target);
    bool SavePrivateDevmode(CfgSettings* settings, const DevmodeSet& set, KVCache* source);
    bool LoadPrinterSettings(CfgSettings* settings, HANDLE printer, KVCache* target);
    bool SavePrinterSettings(CfgSettings* settings, HANDLE printer, KVCache* source);
    // The public DEVMODE's fields into target; false when memory was short for one.
    bool LoadPublicDevmode(CfgSettings* settings, const DEVMODEW* devmode, KVCache* target);
    bool SavePublicDevmode(CfgSettings* settings, DEVMODEW* devmode, const KVCache* source);
    // The option list of the core driver's SetOptions ("keyword\0option\0...\0"), written
    // into buffer when it fits; returns the size it needs (0 for no option keys).
    unsigned BuildCoreOptions(const KVCache* source, char* buffer, unsigned size) const;
    // Applies a list in the same form (the core driver's GetOptions answer) to target; false
    // when memory was short for an option (target may then hold the ones before it).
    bool ApplyCoreOptions(const char* list, unsigned size, KVCache* target) const;

    // The whole load: defaults of sections 1, 2, 5, 3, 4, then the core options, the
    // printer's settings, the private block and the public DEVMODE, each overriding the
    // earlier. A failing step stops the rest. coreOptions may be null.
    bool LoadAll(CfgSettings* settings, const DevmodeSet& set, const char* coreOptions, unsigned coreSize);
    // The whole save: core options into coreOut (size in *coreSize, which receives the
    // size needed), printer settings, private block, public DEVMODE.
    bool SaveAll(CfgSettings* settings, const DevmodeSet& set, char* coreOut, unsigned* coreSize);

    // Sets an option key of target by keyword and option text; false when the key is not an
    // option key there or the option is unknown.
    bool SetOptionByText(KVCache* target, const wchar_t* keyword, const wchar_t* option) const;
    // The option text of an option key of source, or null.
    const wchar_t* GetOptionText(const KVCache* source, const wchar_t* keyword) const;

protected:
    // The state's scratch settings, which a derived state may fill from its own sources.
    KVCache* GetLocalSettings() { return &m_local; }

private:
    SoupSlotID Slot(const wchar_t* text) const;
    // SetOptionByText's answer: 1 set, 0 no option key there or an unknown option, -1 memory
    // was short (target as it was).
    int ChangeOption(KVCache* target, const wchar_t* keyword, const wchar_t* option) const;
    // Inside a load step: as SetOptionByText, throwing std::bad_alloc when memory is short.
    void StoreOption(KVCache* target, const wchar_t* keyword, const wchar_t* option) const;
    void MakeFlagsOptionKey();
    void ValidatePrivateValues(KVCache* read, const KVCache* before) const;

    KVCache m_local;
    CUserStore* m_watermarkStore = nullptr;
    wchar_t m_watermarkPath[128] = {};
};

// The printer's client id (new text, free with delete[]): "ClientID" of the registry key that
// the printer data "PrinterStorage" names. With requireValidation, only when that storage
// still has its "ValidationKey". Null when there is none.
wchar_t* GetPrinterClientId(HANDLE printer, bool requireValidation) noexcept;
// The *ShortNickName of a PPD file, read from its statement (new text); null when absent.
wchar_t* ReadShortNickName(const wchar_t* ppdPath) noexcept;
