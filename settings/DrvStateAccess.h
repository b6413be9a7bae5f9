// What the setting keys need from a driver state and from compiled settings. The
// settings storage owns both classes; it registers these accessors when it starts,
// so the keys can emit their code without this library depending on its layout.
#pragma once

#include <windows.h>

#include "settings/KeySetting.h"

class CBaseSoup;
class KVCache;

struct DrvStateAccessors {
    CBaseSoup* (*getSoup)(CDrvState* state) = nullptr;
    OptionForest* (*getKeyForest)(CDrvState* state) = nullptr;
    // The state's current settings.
    KVCache* (*getCurrentSettings)(CDrvState* state) = nullptr;
    // The code page the job's 8-bit text is written in.
    UINT (*getOutputCodePage)(CDrvState* state) = nullptr;
    // Path of the printer's PPD (the OEM module lies beside it).
    const wchar_t* (*getPPDPath)(CDrvState* state) = nullptr;
};

// Copies the accessors (null clears them all).
void SetDrvStateAccessors(const DrvStateAccessors* accessors);

// Each answers null / the thread's ANSI code page for a null state or a missing accessor.
CBaseSoup* DrvStateSoup(CDrvState* state);
OptionForest* DrvStateKeyForest(CDrvState* state);
KVCache* DrvStateCurrentSettings(CDrvState* state);
UINT DrvStateOutputCodePage(CDrvState* state);
const wchar_t* DrvStatePPDPath(CDrvState* state);

// PPD path of compiled settings (for the user-authentication module beside it).
using CfgSettingsPathAccessor = const wchar_t* (*)(CfgSettings* settings);
void SetCfgSettingsPathAccessor(CfgSettingsPathAccessor accessor);
const wchar_t* GetCfgSettingsPPDPath(CfgSettings* settings);
