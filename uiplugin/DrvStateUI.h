// The driver state of one property sheet: the live key set that the tabs show and change,
// bound to the core driver's helper interface so that the options the core driver keeps for
// its own PPD features flow into the key set when the sheet opens and back when it applies.
#pragma once

#include <windows.h>

#include "platform/DriverKit.h"
#include "storage/DrvState.h"

class CDrvStateUI : public CBaseDrvState {
public:
    CDrvStateUI(CfgSettings* settings, IPrintCoreUI2* core, POEMUIPSPARAM param, POEMUIOBJ uiObject);
    ~CDrvStateUI() override = default;

    // Loaded: the core interface is kept.
    bool IsValid() const override { return m_core != nullptr; }

    bool Init(CfgSettings* settings, IPrintCoreUI2* core, POEMUIPSPARAM param, POEMUIOBJ uiObject);
    void Reset();
    BOOL Load(CfgSettings* settings, POEMUIPSPARAM param, POEMUIOBJ uiObject);
    BOOL Save(CfgSettings* settings, POEMUIPSPARAM param, POEMUIOBJ uiObject);
    // The core driver's feature/option pairs into target; TRUE once the list was read.
    BOOL LoadCoreDriverOptions(CfgSettings* settings, POEMUIOBJ uiObject, KVCache* target);
    // The values of cache for the core driver's own features back to the core driver.
    BOOL SetCoreDriverOptions(CfgSettings* settings, POEMUIOBJ uiObject, KVCache* cache);

    IPrintCoreUI2* GetCoreInterface() const { return m_core; }

private:
    static DevmodeSet MakeSet(POEMUIPSPARAM param);

    IPrintCoreUI2* m_core = nullptr;
};
