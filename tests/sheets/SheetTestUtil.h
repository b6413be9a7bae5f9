// Helpers of the property-sheet tests: a printer of the spooler with the sample PPD and its
// companions (language module, resource module, server library), the core driver's side of
// one sheet (core interface, OEMUIOBJ, OEMUIPSPARAM, default private block) and a test tab.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestPrinter.h"
#include "tests/standins/coredriver/SheetRunner.h"
#include "uiplugin/OemUI.h"

namespace sheettest {

inline std::wstring LanModule() { return std::wstring(TOLVA_LAN_DIR_W) + L"\\tolva-sample.LAN"; }
inline std::wstring SamplePpd() { return std::wstring(TOLVA_LAN_DIR_W) + L"\\tolva-sample.ppd"; }
inline std::wstring TestModule() { return std::wstring(TOLVA_TEST_MODULES_DIR_W) + L"\\pngres.dll"; }

struct SheetPrinterOptions {
    bool withServerLibrary = true;  // "{stem}.KQM"
    bool withHelp = false;          // "{stem}.CHM"
    std::wstring lan = LanModule();
    std::wstring port = L"FILE:";
};

inline tolvatest::TestPrinterSetup SheetPrinterSetup(const SheetPrinterOptions& options)
{
    tolvatest::TestPrinterSetup setup;
    setup.dataFile = SamplePpd();
    setup.port = options.port;
    setup.companions.push_back({options.lan, L"{stem}.LAN"});
    setup.companions.push_back({TestModule(), L"{stem}.DLL"});
    if (options.withServerLibrary) setup.companions.push_back({TestModule(), L"{stem}.KQM"});
    if (options.withHelp) setup.companions.push_back({TestModule(), L"{stem}.CHM"});
    return setup;
}

// The core driver's records of one sheet: its options, the OEMUIOBJ, the parameters and the
// private block (defaults from the plug-in's DevMode).
class SheetSide {
public:
    SheetSide(HANDLE printer, bool preferences)
    {
        core.Options() = {{"PageSize", "A4"}, {"InputSlot", "Tray1"}, {"Duplex", "None"}, {"Collate", "True"}};
        uiObject.cbSize = sizeof(uiObject);
        plugin = new IOemUI();
        plugin->PublishDriverInterface(&core);
        auto size = coredriver::CallDevMode(plugin, "SIZE", OEMDM_SIZE, printer, nullptr, 0, nullptr);
        publicDM.dmSize = sizeof(publicDM);
        auto defaults = coredriver::CallDevMode(plugin, "DEFAULT", OEMDM_DEFAULT, printer, nullptr, size.bufSize,
                                                &publicDM);
        privateBlock = defaults.block;
        param.cbSize = sizeof(param);
        param.poemuiobj = &uiObject;
        param.hPrinter = printer;
        param.pPublicDM = &publicDM;
        param.pOEMDM = privateBlock.empty() ? nullptr : privateBlock.data();
        param.dwFlags = preferences ? DM_USER_DEFAULT : 0;
    }
    ~SheetSide() { plugin->Release(); }
    SheetSide(const SheetSide&) = delete;
    SheetSide& operator=(const SheetSide&) = delete;

    coredriver::RecordingCoreUI core;
    OEMUIOBJ uiObject = {};
    OEMUIPSPARAM param = {};
    DEVMODEW publicDM = {};
    std::vector<BYTE> privateBlock;
    IOemUI* plugin = nullptr;
};

// A PROPSHEETUI_INFO of the protocol's version.
inline PROPSHEETUI_INFO MakeInfo(DWORD reason, OEMUIPSPARAM* param, PFNCOMPROPSHEET fn = nullptr)
{
    PROPSHEETUI_INFO info = {};
    info.cbSize = sizeof(info);
    info.Version = 0x100;
    info.Reason = static_cast<WORD>(reason);
    info.pfnComPropSheet = fn;
    info.lParamInit = reinterpret_cast<LPARAM>(param);
    return info;
}

}  // namespace sheettest
