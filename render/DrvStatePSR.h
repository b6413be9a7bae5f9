// The driver state of one print job: the shared driver state filled from the compiled
// settings of the printer's PPD, the core driver's own option selections (asked through
// IPrintOemDriverPS), the printer's stored settings and the job's device mode.
#pragma once

#include <windows.h>

#include "platform/DriverKit.h"
#include "storage/DrvState.h"

class CfgSettings;

class CDrvStatePSR : public CBaseDrvState {
public:
    explicit CDrvStatePSR(CfgSettings* settings);
    ~CDrvStatePSR() override;

    // Whether the core driver's interface is held (set by Init before the settings load).
    virtual bool HasDriverHelper() const { return m_driver != nullptr; }

    // Binds the state to the core driver and loads the job's settings; on any failure the
    // interface is dropped and the state reset (invalid). driver is borrowed: its owner (the
    // device's PDEV) outlives the state.
    bool Init(CfgSettings* settings, IPrintOemDriverPS* driver, PDEVOBJ devobj);
    // Current settings = key sections 1, 2, 5, 3, 4, then the core driver's selections, the
    // printer's stored settings, the private block and the public DEVMODE (each step only
    // while the ones before succeeded), then the local watermark store. The result is whether
    // the five sections loaded.
    bool LoadSettings(CfgSettings* settings, PDEVOBJ devobj);
    // Asks the core driver for its selected option of every option key of key sections 3 and
    // 4 and stores those it names into target. 1 when the question could be asked at all.
    int ApplyCoreDriverOptions(CfgSettings* settings, PDEVOBJ devobj, KVCache* target);
    IPrintOemDriverPS* GetDriverHelper() const { return m_driver; }

private:
    IPrintOemDriverPS* m_driver = nullptr;
};
