// The PostScript injection of one Command call (see CommandProcessor.h).
#include "render/CommandProcessor.h"

#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"
#include "render/OemPDev.h"
#include "settings/KeyEmit.h"
#include "settings/KeyUtility.h"
#include "settings/KeyWatermarkStr.h"
#include "settings/PropertyNames.h"
#include "settings/StrSoup.h"
#include "storage/OEMManager.h"

namespace {

// The current setting of a key named by property id, or null.
CKeySetting* CurrentSetting(CDrvState* state, int property) {
    CBaseSoup* soup = state ? state->GetSoup() : nullptr;
    if (!soup)
        return nullptr;
    SoupSlotID key = SoupPropertySlot(soup, property);
    return key.IsValid() ? state->GetCurrentSettings()->Find(key) : nullptr;
}

// A copy of text in which control characters and blanks become underscores, so that it
// stays one token of a DSC line.
std::wstring AsOneToken(const wchar_t* text) {
    std::wstring token = text ? text : L"";
    for (wchar_t& ch : token)
        if (ch <= L' ' || ch == 0x7F)
            ch = L'_';
    return token;
}

int InjectNothing(CommandProcessor&, PDEVOBJ) { return 0; }

// A key's code that does not end its last line would run into the next key's first token.
template <class Char>
bool EndsWithLineEnd(const Char* text) {
    size_t length = 0;
    while (text[length])
        ++length;
    return length > 0 && (text[length - 1] == Char('\n') || text[length - 1] == Char('\r'));
}

}  // namespace

int InjectComments(CommandProcessor& processor, PDEVOBJ devobj);
int InjectBeginSetup(CommandProcessor& processor, PDEVOBJ devobj);
int InjectEndSetup(CommandProcessor& processor, PDEVOBJ devobj);
int InjectBeginPageSetup(CommandProcessor& processor, PDEVOBJ devobj);
int InjectShowPage(CommandProcessor& processor, PDEVOBJ devobj);

namespace {

// Every injection point the core driver knows; only seven have a handler.
const InjectionHandlerRow kInjectionHandlers[] = {
    {PSINJECT_BEGINSTREAM, nullptr},
    {PSINJECT_PSADOBE, nullptr},
    {PSINJECT_PAGESATEND, nullptr},
    {PSINJECT_PAGES, nullptr},
    {PSINJECT_DOCNEEDEDRES, nullptr},
    {PSINJECT_DOCSUPPLIEDRES, nullptr},
    {PSINJECT_PAGEORDER, nullptr},
    {PSINJECT_ORIENTATION, InjectNothing},
    {PSINJECT_BOUNDINGBOX, nullptr},
    {PSINJECT_DOCUMENTPROCESSCOLORS, nullptr},
    {PSINJECT_COMMENTS, InjectComments},
    {PSINJECT_BEGINDEFAULTS, nullptr},
    {PSINJECT_ENDDEFAULTS, nullptr},
    {PSINJECT_BEGINPROLOG, nullptr},
    {PSINJECT_ENDPROLOG, nullptr},
    {PSINJECT_BEGINSETUP, InjectBeginSetup},
    {PSINJECT_ENDSETUP, InjectEndSetup},
    {PSINJECT_TRAILER, nullptr},
    {PSINJECT_EOF, nullptr},
    {PSINJECT_ENDSTREAM, nullptr},
    {PSINJECT_DOCUMENTPROCESSCOLORSATEND, nullptr},
    {PSINJECT_PAGENUMBER, nullptr},
    {PSINJECT_BEGINPAGESETUP, InjectBeginPageSetup},
    {PSINJECT_ENDPAGESETUP, nullptr},
    {PSINJECT_PAGETRAILER, nullptr},
    {PSINJECT_PLATECOLOR, nullptr},
    {PSINJECT_SHOWPAGE, InjectShowPage},
    {PSINJECT_PAGEBBOX, nullptr},
    {PSINJECT_ENDPAGECOMMENTS, InjectNothing},
    {PSINJECT_VMSAVE, nullptr},
    {PSINJECT_VMRESTORE, nullptr},
};
static_assert(std::size(kInjectionHandlers) == 31, "one row per injection point");

}  // namespace

const InjectionHandlerRow* GetInjectionHandlerTable(size_t* count) {
    if (count)
        *count = std::size(kInjectionHandlers);
    return kInjectionHandlers;
}

bool IsCurrentOption(CDrvState* state, int keyProperty, int optionProperty) {
    const CKeySetting* setting = CurrentSetting(state, keyProperty);
    if (!setting || setting->GetValueId().IsInvalid())
        return false;
    return setting->GetValueId() == SoupPropertySlot(state->GetSoup(), optionProperty);
}

// --- CommandProcessor ------------------------------------------------------------------------

InjectionHandler CommandProcessor::FindHandler(DWORD index) {
    for (const InjectionHandlerRow& row : kInjectionHandlers)
        if (row.index == index)
            return row.handler;
    return nullptr;
}

int CommandProcessor::Execute(PDEVOBJ devobj, DWORD index) {
    InjectionHandler handler = FindHandler(index);
    if (!handler || !devobj || !m_pdev || !m_pdev->GetDriverState() || !m_pdev->GetDriverState()->GetSoup())
        return 0;
    RefreshWatermark();
    return handler(*this, devobj);
}

int CommandProcessor::WriteSpool(PDEVOBJ devobj, const char* text) {
    return text ? WriteSpool(devobj, text, std::strlen(text)) : 0;
}

int CommandProcessor::WriteSpool(PDEVOBJ devobj, const char* text, size_t length) {
    CDrvStatePSR* state = m_pdev ? m_pdev->GetDriverState() : nullptr;
    IPrintOemDriverPS* driver = state ? state->GetDriverHelper() : nullptr;
    if (!driver || !devobj || !text || length == 0 || length > MAXDWORD)
        return 0;
    DWORD written = 0;
    HRESULT hr = driver->DrvWriteSpoolBuf(devobj, const_cast<char*>(text), static_cast<DWORD>(length), &written);
    return SUCCEEDED(hr) && written == length ? 1 : 0;
}

int CommandProcessor::WriteText(PDEVOBJ devobj, const wchar_t* text) {
    if (!text || !text[0])
        return 0;
    StrUtil<char, wchar_t> narrow(text, CP_ACP);
    return narrow.Get() ? WriteSpool(devobj, narrow.Get()) : 0;
}

int CommandProcessor::WriteFormat(PDEVOBJ devobj, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WText text(FormatAllocV(format, args));
    va_end(args);
    return text && text[0] ? WriteText(devobj, text.get()) : 0;
}

int CommandProcessor::InjectOemBuffer(PDEVOBJ devobj, int bufferId) {
    return InjectOemText(devobj, bufferId, false, nullptr);
}

int CommandProcessor::InjectOemBufferEx(PDEVOBJ devobj, int bufferId, const char* defaultFormat) {
    return InjectOemText(devobj, bufferId, true, defaultFormat);
}

int CommandProcessor::InjectOemText(PDEVOBJ devobj, int bufferId, bool extended, const char* defaultFormat) {
    const wchar_t* path = m_pdev->GetPlugInPath(kPlugInOEM);
    if (!path[0])
        return 0;
    COEMInterface* oem = AcquireOEMInterface(nullptr, path);
    if (!oem)
        return 0;
    auto getBuffer = [&](char* buffer, DWORD* size) {
        const wchar_t* driver = m_pdev->GetDriverName();
        return extended ? oem->GetBufferEx(0, 1, driver, bufferId, buffer, size)
                        : oem->GetBuffer(0, 1, driver, bufferId, buffer, size);
    };
    int result = 0;
    DWORD size = 0;
    if (getBuffer(nullptr, &size) == 0) {
        result = 1;
        if (size > 0) {
            // Room for the module's text, terminated, and for the default around it.
            const size_t room = static_cast<size_t>(size) + StrLenA(defaultFormat) + 1;
            std::unique_ptr<char[]> buffer(new (std::nothrow) char[room]());
            DWORD filled = size;
            result = 0;
            if (buffer && getBuffer(buffer.get(), &filled) == 0) {
                buffer[size] = '\0';
                if (defaultFormat) {
                    AText text(FormatAllocA(defaultFormat, buffer.get()));
                    WriteSpool(devobj, text.get());
                } else {
                    WriteSpool(devobj, buffer.get());
                }
                result = 1;
            }
        }
    }
    ReleaseOEMInterface(nullptr, path, oem);
    return result;
}

int CommandProcessor::WriteBillingBlock(PDEVOBJ devobj) {
    CDrvStatePSR* state = m_pdev->GetDriverState();
    CKeyOptionUtility options;
    options.Init(state->GetKeyForest(), state->GetSoup());
    auto listed = [&options](int option, int value) {
        return options.IsValueListedByProp(QV_PROP_SPECIALOPTION, option, value);
    };
    const bool billing = listed(QV_PROP_BILLING_CODE, QV_PROP_TRUE);
    const bool clientJobId = listed(QV_PROP_CLIENT_JOBID, QV_PROP_TRUE);
    const bool version3 = listed(QV_PROP_UTF8_VERSION, QV_PROP_VERSION_THREE);
    const bool version1 = listed(QV_PROP_UTF8_VERSION, QV_PROP_VERSION_ONE);
    const bool version4 = listed(QV_PROP_UTF8_VERSION, QV_PROP_VERSION_FOUR);

    // Fixed-width placeholders the controller fills in; not printf formats.
    static const wchar_t* const kBillingLines[] = {
        L"%%VYRBILLINGCODE_STR_CODE: (0000)\r\n",
        L"%%VYRBILLINGCODEID1: (00000000)\r\n",
        L"%%VYRBILLINGCODESTR1: (                                )\r\n",
        L"%%VYRBILLINGCODEID2: (00000000)\r\n",
        L"%%VYRBILLINGCODESTR2: (                                )\r\n",
        L"%%VYRBILLINGCODEID3: (00000000)\r\n",
        L"%%VYRBILLINGCODESTR3: (                                )\r\n",
    };
    static const wchar_t kClientJobIdLine[] =
        L"%%VYRCLIENTJOBID: (                                                                                )\r\n";
    std::wstring block;
    try {
        if (billing)
            for (const wchar_t* line : kBillingLines)
                block += line;
        if (clientJobId)
            block += kClientJobIdLine;
        if (version3)
            block += L"%%QVUTF8_Version: 3\r\n";
        else if (version1)
            block += L"%%QVUTF8_Version: 1\r\n";
        else if (version4)
            block += L"%%QVUTF8_Version: 4\r\n";
    } catch (...) {
        return 0;
    }
    if (block.empty())
        return 0;
    OutputDebugStringW(block.c_str());
    WriteText(devobj, block.c_str());
    return 0;
}

int CommandProcessor::WriteNUpSetting(PDEVOBJ devobj) {
    CDrvStatePSR* state = m_pdev->GetDriverState();
    CBaseSoup* soup = state->GetSoup();
    SoupSlotID key = SoupPropertySlot(soup, QV_PROP_LANDSCAPEORIENTATION);
    SoupSlotID plus90 = SoupPropertySlot(soup, QV_PROP_PLUS90);
    const bool offersPlus90 =
        key.IsValid() && plus90.IsValid() && state->GetKeyForest()->FindLeaf(key, plus90) != nullptr;
    return WriteFormat(devobj,
                       L"%%%%VYR Begin N-Up_Setting\r\nuserdict /TolvaRQdict known\r\n{\r\nTolvaRQdict "
                       L"/VYRDoing_N_Up known\r\n{ %d %s TolvaRQdict /VYRDoing_N_Up get exec } if\r\n} if\r\n%%%%VYR "
                       L"End\r\n",
                       1, offersPlus90 ? L"true" : L"false");
}

int CommandProcessor::WriteSourceAppType(PDEVOBJ devobj) {
    std::wstring program = AsOneToken(m_pdev->GetHostProgramName());
    return WriteFormat(devobj, L"%%%%BeginFeature: %s %s\r\n  %%%%EmptyOption\r\n%%%%EndFeature\r\n",
                       L"*QVSourceAppType", program.c_str());
}

int CommandProcessor::WriteLandscapeLines(PDEVOBJ devobj) {
    CDrvStatePSR* state = m_pdev->GetDriverState();
    const bool landscape = IsCurrentOption(state, QV_PROP_DMORIENTATION, QV_PROP_LAND);
    const CKeySetting* controller = CurrentSetting(state, QV_PROP_QVORIENTATION);
    const bool suppressed =
        controller && controller->GetValueId() != SoupPropertySlot(state->GetSoup(), QV_PROP_FALSE);
    int result = 1;
    if (!suppressed)
        result = WriteFormat(devobj, L"userdict /QVLandscapeSetup known { %d QVLandscapeSetup } if\r\n",
                             landscape ? 1 : 0);
    const int document =
        WriteFormat(devobj, L"globaldict /VYR_LandscapeDoc %s put\r\n", landscape ? L"true" : L"false");
    return result && document ? 1 : 0;
}

void CommandProcessor::RefreshWatermark() {
    CDrvStatePSR* state = m_pdev->GetDriverState();
    auto* watermark = dynamic_cast<CKeyWatermarkStr*>(CurrentSetting(state, QV_PROP_WATERMARKSTR));
    if (!watermark)
        return;
    const bool firstPageOnly = IsCurrentOption(state, QV_PROP_WATERMARK_FIRSTPAGEONLY, QV_PROP_TRUE);
    const bool landscape = IsCurrentOption(state, QV_PROP_DMORIENTATION, QV_PROP_LAND);
    int count = 0;
    const WatermarkFontText* fonts = m_pdev->GetWatermarkFonts(&count);
    WatermarkFontName names[4] = {};
    for (int i = 0; i < count && i < 4; ++i)
        names[i] = {fonts[i].fontName, fonts[i].displayText.c_str()};
    // The key held by the current settings is rebuilt in place: the same as writing a rebuilt
    // copy back, without copying the resource twice per injection point.
    watermark->GetWatermarkResource(landscape ? 1 : 0, m_pdev->GetLanguageId(), L"en", firstPageOnly ? 1 : 0,
                                    count ? names : nullptr, count);
}

void CommandProcessor::RefreshCustomPageSize() {
    CDrvStatePSR* state = m_pdev->GetDriverState();
    const CKeySetting* custom = CurrentSetting(state, QV_PROP_VYRCUSTOMPAGESIZE);
    if (!custom)
        return;
    std::unique_ptr<CKeySetting> copy(custom->Clone());
    if (!copy)
        return;
    copy->SetFromText(state->GetSoup(), state->GetKeyForest(), L"**CustomPageSize", L"");
    state->GetCurrentSettings()->Set(copy.get(), true);
}

void CommandProcessor::WriteKeyTexts(PDEVOBJ devobj, KeyText which) {
    CDrvStatePSR* state = m_pdev->GetDriverState();
    KVCache* current = state->GetCurrentSettings();
    const KVCache& keys = m_pdev->GetSectionKeys();
    const unsigned page = m_pdev->GetPageCount();
    std::vector<char> narrow;
    std::vector<wchar_t> wide;
    // Size query, then fill; a fill that gives nothing after a positive size writes nothing.
    auto fillNarrow = [&](const CKeyBaseSetting* key, int (CKeyBaseSetting::*emit)(CDrvState*, char*, unsigned) const,
                          bool* asked) -> const char* {
        const int size = (key->*emit)(state, nullptr, 0);
        *asked = size > 0;
        if (size <= 0)
            return nullptr;
        narrow.assign(static_cast<size_t>(size) + 1, '\0');
        return (key->*emit)(state, narrow.data(), static_cast<unsigned>(size)) > 0 ? narrow.data() : nullptr;
    };
    auto fillWide = [&](const CKeyBaseSetting* key, auto emit) -> const wchar_t* {
        const int size = emit(key, nullptr, 0u);
        if (size <= 0)
            return nullptr;
        wide.assign(static_cast<size_t>(size) + 1, L'\0');
        return emit(key, wide.data(), static_cast<unsigned>(size)) > 0 ? wide.data() : nullptr;
    };

    for (auto it = keys.Begin(); it != keys.End(); ++it) {
        const auto* key = dynamic_cast<const CKeyBaseSetting*>(current->FindSame(keys.GetAt(it)));
        if (!key)
            continue;
        bool asked = false;
        switch (which) {
        case KeyText::CommentLine:
        case KeyText::SetupCode: {
            const bool comment = which == KeyText::CommentLine;
            const char* text =
                fillNarrow(key, comment ? &CKeyBaseSetting::GetCommentTextA : &CKeyBaseSetting::GetSetupCodeA, &asked);
            if (text) {
                WriteSpool(devobj, text);
                if (comment || !EndsWithLineEnd(text))
                    WriteSpool(devobj, "\r\n");
                break;
            }
            if (asked)
                break;
            const wchar_t* wideText = fillWide(key, [&](const CKeyBaseSetting* k, wchar_t* b, unsigned n) {
                return comment ? k->GetCommentTextW(state, b, n) : k->GetSetupCodeW(state, b, n);
            });
            if (wideText) {
                WriteText(devobj, wideText);
                if (comment || !EndsWithLineEnd(wideText))
                    WriteSpool(devobj, "\r\n");
            }
            break;
        }
        case KeyText::PageSetupCode:
        case KeyText::ShowPageCode: {
            const bool pageSetup = which == KeyText::PageSetupCode;
            const wchar_t* wideText = fillWide(key, [&](const CKeyBaseSetting* k, wchar_t* b, unsigned n) {
                return pageSetup ? k->GetPageSetupCode(state, b, n, page) : k->GetShowPageCode(state, b, n, page);
            });
            if (wideText) {
                WriteText(devobj, wideText);
                if (!EndsWithLineEnd(wideText))
                    WriteSpool(devobj, "\r\n");
            }
            break;
        }
        }
    }
}

// --- Handlers --------------------------------------------------------------------------------

int InjectComments(CommandProcessor& processor, PDEVOBJ devobj) {
    OemPDev* pdev = processor.GetPDev();
    // A line break in the document name must not start a PostScript line of its own.
    std::wstring title = pdev->GetDocumentName();
    BlankControlChars(title.data());
    StrUtil<char, wchar_t> utf8(title.c_str(), kUtf8CodePage);
    AText line(FormatAllocA("%%%%QVTitle: %s\r\n", utf8.Get() ? utf8.Get() : ""));
    processor.WriteSpool(devobj, line.get());
    processor.WriteFormat(devobj, L"%%%%N-Up: %d\r\n", 1);
    processor.WriteFormat(devobj, L"%%%%VYRDriver\r\n");
    processor.WriteBillingBlock(devobj);
    processor.WriteKeyTexts(devobj, CommandProcessor::KeyText::CommentLine);
    processor.InjectOemBuffer(devobj, 1);
    processor.InjectOemBufferEx(devobj, 3, "%%%%ExpectJA: 1\r\n");
    // Text was written, yet the core driver is told the point was not handled: it then goes
    // on with its own comments.
    return 0;
}

int InjectBeginSetup(CommandProcessor& processor, PDEVOBJ devobj) {
    processor.WriteNUpSetting(devobj);
    processor.RefreshCustomPageSize();
    processor.WriteLandscapeLines(devobj);
    processor.WriteKeyTexts(devobj, CommandProcessor::KeyText::SetupCode);
    processor.InjectOemBufferEx(devobj, 3, nullptr);
    processor.InjectOemBuffer(devobj, 2);
    processor.WriteSourceAppType(devobj);
    return 0;
}

int InjectEndSetup(CommandProcessor& processor, PDEVOBJ devobj) {
    return processor.WriteFormat(
        devobj,
        L"%%%%EndTolvaPreparse1: True\r\n/RQXPPDInsertionComplete where { pop RQXPPDInsertionComplete } if\r\n");
}

int InjectBeginPageSetup(CommandProcessor& processor, PDEVOBJ devobj) {
    OemPDev* pdev = processor.GetPDev();
    const unsigned page = pdev->IncrementPageCount();
    const CKeySetting* orientation = CurrentSetting(pdev->GetDriverState(), QV_PROP_DMORIENTATION);
    const SoupSlotID option = orientation ? orientation->GetValueId() : SoupSlotID();
    // The first page always sets the orientation up, also for a PPD without orientation key.
    if (page == 1 || option != pdev->GetOrientation()) {
        pdev->SetOrientation(option);
        processor.WriteLandscapeLines(devobj);
    }
    processor.WriteKeyTexts(devobj, CommandProcessor::KeyText::PageSetupCode);
    return 1;
}

int InjectShowPage(CommandProcessor& processor, PDEVOBJ devobj) {
    processor.WriteKeyTexts(devobj, CommandProcessor::KeyText::ShowPageCode);
    return 1;
}
