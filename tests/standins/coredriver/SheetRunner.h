// The core driver's property-sheet side, as a stand-in: it opens a real compstui sheet for a
// UI plug-in's document or device sheet call, forwards the plug-in's pages to compstui,
// records what the platform under Wine does not pass on (the set-result call), and runs a
// script on the sheet once its first page is active (screenshots, tab changes, buttons).
// Used by sheethost.exe and by the tab framework's tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/DriverKit.h"
#include "tests/standins/coredriver/CoreDriverStandIn.h"

namespace coredriver {

// The core interface with a record of SetOptions calls and switches for failures.
class RecordingCoreUI : public CoreUIStandIn {
public:
    struct SetOptionsCall {
        DWORD flags = 0;
        std::string list;  // the whole list as given (NULs kept)
    };
    std::vector<SetOptionsCall> setOptionsCalls;
    HRESULT setOptionsResult = S_OK;  // answered instead of the stand-in's when not S_OK
    bool getOptionsAnswersAtOnce = false;  // the size request answers S_OK (a core driver without options)
    int getOptionsCalls = 0;

    HRESULT STDMETHODCALLTYPE GetOptions(POEMUIOBJ, DWORD, PCSTR requested, DWORD requestedSize, PSTR buffer,
                                         DWORD size, PDWORD needed) override;
    HRESULT STDMETHODCALLTYPE SetOptions(POEMUIOBJ, DWORD, PCSTR pairs, DWORD pairsSize, PDWORD result) override;
};

// Which sheet entry the runner calls: the plug-in's method (sheet host) or a handler linked in.
using SheetEntry = std::function<HRESULT(PPROPSHEETUI_INFO info, LPARAM lParam)>;

struct SheetRun {
    SheetEntry entry;
    OEMUIPSPARAM* param = nullptr;  // handed to the plug-in as lParamInit
    // Runs once on the sheet's thread after the first page is active; the sheet closes when it
    // returns unless it pressed a button that closed it (then nothing more happens).
    std::function<void(HWND sheet)> script;
    DWORD scriptDelayMs = 0;
    // The sheet's caption as the core driver sets it over the plug-in's header ("<printer>
    // Printing Preferences"); empty leaves the plug-in's own title.
    std::wstring caption;

    // Results.
    int pagesAdded = 0;
    std::vector<LONG_PTR> pageHandles;
    bool setResultCalled = false;
    LRESULT setResult = 0;
    bool pageActivated = false;  // a page of the sheet reached the script
    LONG commonResult = -1;
    DWORD sheetResult = 0;
    std::vector<DWORD> reasons;   // reasons passed to the entry
    std::vector<HRESULT> entryResults;
    std::wstring error;
};

// Opens the sheet (blocks until it closes). False with run.error when compstui cannot be
// used or no page was ever active.
bool RunPropertySheet(SheetRun& run);

// Helpers for scripts.
HWND CurrentPage(HWND sheet);
// Lets the sheet handle what is queued and paint (for a screenshot), for about ms.
void SettleSheet(HWND sheet, DWORD ms = 50);
// The sheet's tab titles in order.
std::vector<std::wstring> PageTitles(HWND sheet);
// Saves the window's screen rectangle (children included) as a PNG; the size written.
bool SaveWindowPng(HWND window, const std::wstring& path, SIZE* size, bool* singleColour);

// Answers a modal dialog shown on another thread (one that holds both controls), as a user
// would: from a thread of its own it looks for the dialog every 20 ms; each time one shows,
// seen(dialog) runs and the button is pressed. Stops when destroyed.
class DialogAnswerer {
public:
    DialogAnswerer(DWORD thread, int control, int otherControl, int button, std::function<void(HWND)> seen);
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;
    // Stops watching; how many dialogs were answered.
    int Stop();

private:
    std::atomic<bool> m_stop{false};
    int m_answered = 0;
    std::thread m_worker;
};

}  // namespace coredriver
