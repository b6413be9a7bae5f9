// A stand-in for the platform's PostScript core driver, rendering side: the core driver's
// own graphics entry points (which record their calls and, inside a print job, write the
// job's PostScript and call the plug-in at each injection point), the driver interface it
// hands to a rendering plug-in, and PrintJob, which prints one document through a
// rendering plug-in loaded by path, the way the graphics engine and the core driver do.
//
//   PrintJobSetup setup;
//   setup.rindlePath = L"Z:\\...\\Rindle.dll";
//   setup.quentaPath = L"Z:\\...\\Quenta.dll";   // builds the private device-mode block
//   setup.ppdPath = tolvatest::FixturePath(L"tolva-sample.ppd");
//   PrintJobResult job = PrintJob(setup);
//   ASSERT_TRUE(job.ok) << job.error;
//   EXPECT_NE(TextOf(job, PSINJECT_BEGINSETUP).find("%%BeginFeature"), std::string::npos);
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/DriverKit.h"
#include "tests/support/TestPrinter.h"

namespace coredriver {

// --- the core driver's DDI functions ---------------------------------------------------

// One call of a core DDI function: its index and every argument as a machine word
// (pointers by address, integers by value).
struct CoreDdiCall {
    ULONG index = 0;
    std::vector<ULONG_PTR> args;
};

// An argument as the log keeps it: pointers and handles by address, integers by value.
template <class T>
ULONG_PTR DdiWord(T value)
{
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<ULONG_PTR>(value);
    else
        return static_cast<ULONG_PTR>(value);
}

// Every call of the core functions in this process, in order (never cleared by the host).
std::vector<CoreDdiCall>& CoreDdiLog();
// The core driver's table of its 27 functions, in the plug-in hook order.
const DRVENABLEDATA* CoreDdiTable();
// The non-null pointer or handle the core functions return where their result is one.
void* CoreDdiSentinel();
// The graphics capabilities the core driver reports before the plug-in adds its own.
inline constexpr FLONG kCoreGraphicsCaps = 0x00000001;  // GCAPS_BEZIERS

// --- the core driver's interface for the plug-in ----------------------------------------

// IPrintOemDriverPS: the feature answers come from a table, the spool buffer is a string.
// The host owns the object; the count starts at 1 and never deletes it.
class DriverPSStandIn : public IPrintOemDriverPS {
public:
    // How DrvWriteSpoolBuf behaves.
    enum class WriteMode { Normal, Fail, Short };

    DriverPSStandIn() = default;
    virtual ~DriverPSStandIn() = default;
    DriverPSStandIn(const DriverPSStandIn&) = delete;
    DriverPSStandIn& operator=(const DriverPSStandIn&) = delete;

    LONG RefCount() const { return m_refCount; }
    // Feature keyword (without "*") -> selected option.
    std::map<std::string, std::string>& Settings() { return m_settings; }
    // Everything written so far.
    std::string& Spool() { return m_spool; }

    // With exact answers an option needs (and fills) exactly its length: no terminator.
    void SetExactAnswers(bool exact) { m_exact = exact; }
    // Fail: E_FAIL, nothing written. Short: S_OK with half the bytes (rounded down) written.
    void SetWriteMode(WriteMode mode) { m_writeMode = mode; }

    unsigned SettingCalls() const { return m_settingCalls; }
    unsigned WriteCalls() const { return m_writeCalls; }
    // The features asked for, in order (repeats kept).
    const std::vector<std::string>& AskedFeatures() const { return m_asked; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // S_OK with the option and its terminator; E_INVALIDARG for an unknown feature; E_FAIL
    // with *needed set when the buffer is too small.
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID devobj, PCSTR feature, PVOID output, DWORD size,
                                                  PDWORD needed, PDWORD optionsReturned) override;
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ devobj, PVOID buffer, DWORD size, DWORD* written) override;

private:
    volatile LONG m_refCount = 1;
    std::map<std::string, std::string> m_settings;
    std::string m_spool;
    bool m_exact = false;
    WriteMode m_writeMode = WriteMode::Normal;
    unsigned m_settingCalls = 0;
    unsigned m_writeCalls = 0;
    std::vector<std::string> m_asked;
};

// --- one print job ----------------------------------------------------------------------

struct PrintJobSetup {
    std::wstring rindlePath;  // the rendering plug-in (Windows path)
    std::wstring quentaPath;  // the UI plug-in that sizes and defaults the private block;
                              // empty: no private block
    std::wstring ppdPath;     // the printer's PPD, installed as its data file
    std::vector<tolvatest::TestPrinterFile> companions;  // e.g. {lan, L"{stem}.LAN"}
    // KEY=OPTION with the keyword's "*": answered by the core driver and, for keys the
    // private block holds, written into it.
    std::vector<std::pair<std::wstring, std::wstring>> selections;
    // Further answers of DrvGetDriverSetting (keyword without "*"), over everything else.
    std::map<std::string, std::string> driverSettings;
    short orientation = DMORIENT_PORTRAIT;
    short copies = 1;
    int pages = 1;
    std::wstring documentName = L"Report";
    std::string prolog;        // text put between %%BeginProlog and %%EndProlog
    bool drawContent = true;   // a filled path and a line of text on every page
    DriverPSStandIn::WriteMode writeMode = DriverPSStandIn::WriteMode::Normal;
    // Changes the private block after it was built (e.g. damages it); null: left as it is.
    std::function<void(std::vector<BYTE>& block)> alterPrivateBlock;  // the driver
    bool exactAnswers = false;                                                  // interface's switches
};

// One Command call. page 0 is the document level; offset/length are the bytes the plug-in
// wrote into the job during the call.
struct CommandCall {
    DWORD index = 0;
    int page = 0;
    HRESULT hr = E_FAIL;
    DWORD result = 0;
    size_t offset = 0;
    size_t length = 0;
};

struct PrintJobResult {
    bool ok = false;
    std::wstring error;                  // the step that failed, when !ok
    std::vector<std::wstring> warnings;  // what went wrong without stopping the job
    std::string job;                     // the PostScript written
    std::vector<CommandCall> commands;
    std::wstring printerName;

    HRESULT enableDriver = E_FAIL, enablePDEV = E_FAIL, disablePDEV = E_FAIL, disableDriver = E_FAIL;
    HRESULT publish = E_FAIL;
    ULONG hookVersion = 0, hookCount = 0;
    std::vector<ULONG> hookIndexes;  // as the plug-in's table lists them
    FLONG graphicsCaps = 0;          // after EnablePDEV (the core set kCoreGraphicsCaps)
    bool pdevMade = false;           // EnablePDEV returned a plug-in PDEV
    std::vector<BYTE> privateBlock;  // as given to the plug-in (empty: none)
    std::map<std::string, std::string> driverSettings;  // the table the core answered from
    LONG driverRefsLeft = 0;         // the driver interface's count after unloading (1: the host's own)
    HRESULT canUnloadNow = E_FAIL;
    int failedHooks = 0;             // hook calls that returned FALSE
    unsigned settingCalls = 0, writeCalls = 0;
    size_t coreCalls = 0;            // core DDI calls made during the job
    size_t unterminatedInjections = 0;  // Command texts that did not end with a line end
    double printerSeconds = 0;      // installing the printer
    double startDocSeconds = 0, pageSeconds = 0, endDocSeconds = 0;  // the hook calls
    double commandSeconds = 0;      // time spent inside Command, all calls
};

// Prints one job (see the top of this file). Never throws; failures land in error.
// The core driver's own text is DSC-conforming PostScript, every line ending in CR LF, with
// each page inside a save of its own; the plug-in is called where the published injection
// points say, and where a point replaces one of the core's comments (PAGESATEND, PAGES,
// PAGEORDER, ORIENTATION, BOUNDINGBOX, DOCUMENTPROCESSCOLORS, PAGENUMBER) the core writes
// its comment only when the plug-in reports the point not handled.
PrintJobResult PrintJob(const PrintJobSetup& setup);

// The bytes the plug-in wrote during the Command calls of that index and page, in order.
std::string TextOf(const PrintJobResult& result, DWORD index, int page = 0);

// The name of a PSINJECT index ("COMMENTS", "SHOWPAGE", ...); null for an unknown index.
const char* InjectionName(DWORD index);

}  // namespace coredriver
