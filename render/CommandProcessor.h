// The PostScript injection of one Command call: the handler of the injection point writes
// the document comments, the billing block, the N-up, landscape and source-application lines,
// the OEM module's text and every private key's comment, setup, page-setup and show-page
// code into the job through the core driver's spool writer.
#pragma once

#include <windows.h>

#include "platform/DriverKit.h"
#include "settings/SoupSlotID.h"

class OemPDev;
class CDrvState;
class CommandProcessor;

// A handler: above 0 handled, 0 not handled, below 0 failed.
using InjectionHandler = int (*)(CommandProcessor& processor, PDEVOBJ devobj);

struct InjectionHandlerRow {
    DWORD index;
    InjectionHandler handler;  // null: the point is not handled
};

class CommandProcessor {
public:
    // pdev is not owned; it must have a driver state with a soup (RunCommand sees to that).
    explicit CommandProcessor(OemPDev* pdev) noexcept : m_pdev(pdev) {}
    virtual ~CommandProcessor() = default;
    CommandProcessor(const CommandProcessor&) = delete;
    CommandProcessor& operator=(const CommandProcessor&) = delete;

    // Runs the handler of the injection point (after refreshing the watermark resource).
    int Execute(PDEVOBJ devobj, DWORD index);
    // The handler of the first row with that index; null when there is none.
    static InjectionHandler FindHandler(DWORD index);

    // Writers, each 1 when every byte reached the job: 8-bit text as is; wide text in the
    // system ANSI code page; a wide printf format. Empty texts write nothing and give 0.
    int WriteSpool(PDEVOBJ devobj, const char* text);
    int WriteSpool(PDEVOBJ devobj, const char* text, size_t length);
    int WriteText(PDEVOBJ devobj, const wchar_t* text);
    int WriteFormat(PDEVOBJ devobj, const wchar_t* format, ...);

    // Text of the OEM module's job buffer; 1 when it was written or was empty.
    int InjectOemBuffer(PDEVOBJ devobj, int bufferId);
    // The same through the module's extended call; a default turns the module's text into
    // default-as-format with the text as its one argument.
    int InjectOemBufferEx(PDEVOBJ devobj, int bufferId, const char* defaultFormat);

    int WriteBillingBlock(PDEVOBJ devobj);
    int WriteNUpSetting(PDEVOBJ devobj);
    int WriteSourceAppType(PDEVOBJ devobj);
    int WriteLandscapeLines(PDEVOBJ devobj);
    // Rebuilds the watermark key's resource for the current orientation and page rule.
    void RefreshWatermark();

    OemPDev* GetPDev() const { return m_pdev; }

private:
    friend int InjectComments(CommandProcessor& processor, PDEVOBJ devobj);
    friend int InjectBeginSetup(CommandProcessor& processor, PDEVOBJ devobj);
    friend int InjectEndSetup(CommandProcessor& processor, PDEVOBJ devobj);
    friend int InjectBeginPageSetup(CommandProcessor& processor, PDEVOBJ devobj);
    friend int InjectShowPage(CommandProcessor& processor, PDEVOBJ devobj);

    // The emitters of every private key, in key order.
    enum class KeyText { CommentLine, SetupCode, PageSetupCode, ShowPageCode };
    void WriteKeyTexts(PDEVOBJ devobj, KeyText which);
    int InjectOemText(PDEVOBJ devobj, int bufferId, bool extended, const char* defaultFormat);
    void RefreshCustomPageSize();

    OemPDev* m_pdev;
};

// Whether the current option of a key is the option named by property id (both looked up
// in the state's soup); false when either is absent.
bool IsCurrentOption(CDrvState* state, int keyProperty, int optionProperty);
// The injection table (31 rows) and its size.
const InjectionHandlerRow* GetInjectionHandlerTable(size_t* count);
