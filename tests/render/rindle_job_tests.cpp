// Rindle printing real jobs through the core-driver stand-in: the hook table and the device
// it makes, the text of every injection point for the fixture printers, the orientation and
// output-format rules, the core driver's option answers and failing spool writes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "platform/DriverKit.h"
#include "settings/KeySetting.h"
#include "storage/CfgSettingsManager.h"
#include "storage/Devmode.h"
#include "storage/DrvState.h"
#include "tests/render/RenderTestUtil.h"
#include "tests/storage/CfgTestUtil.h"
#include "tests/standins/coredriver/RenderHost.h"
#include "tests/support/TestPrinter.h"

namespace {

using coredriver::PrintJob;
using coredriver::PrintJobResult;
using coredriver::PrintJobSetup;
using coredriver::TextOf;

const std::string kLandscapeNo =
    "userdict /QVLandscapeSetup known { 0 QVLandscapeSetup } if\r\nglobaldict /VYR_LandscapeDoc false put\r\n";
const std::string kLandscapeYes =
    "userdict /QVLandscapeSetup known { 1 QVLandscapeSetup } if\r\nglobaldict /VYR_LandscapeDoc true put\r\n";
const std::string kEndSetup =
    "%%EndTolvaPreparse1: True\r\n/RQXPPDInsertionComplete where { pop RQXPPDInsertionComplete } if\r\n";
const std::string kShowWatermark = "userdict /VYRWaterMark get exec\r\n";

std::string NUpBlock(bool plus90)
{
    return std::string("%%VYR Begin N-Up_Setting\r\nuserdict /TolvaRQdict known\r\n{\r\nTolvaRQdict /VYRDoing_N_Up "
                       "known\r\n{ 1 ") +
           (plus90 ? "true" : "false") + " TolvaRQdict /VYRDoing_N_Up get exec } if\r\n} if\r\n%%VYR End\r\n";
}

// The source-application feature for this test program (its name upper-cased).
std::string SourceAppFeature()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    name = name.substr(0, name.find_last_of(L'.'));
    std::string upper;
    for (wchar_t ch : name) upper += static_cast<char>(towupper(ch));
    return "%%BeginFeature: *QVSourceAppType " + upper + "\r\n  %%EmptyOption\r\n%%EndFeature\r\n";
}

// The identity key the document start computes without a user-authentication module: the
// workstation's domain, under Wine the computer name, marked local.
std::string IdentityKeyWithoutUser()
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &size);
    std::string upper;
    for (const wchar_t* at = computer; *at; ++at) upper += static_cast<char>(towupper(*at));
    return upper + "[LOCAL]";
}

PrintJobSetup SetupFor(const wchar_t* fixture, bool withLanguageModule)
{
    PrintJobSetup setup;
    setup.rindlePath = TOLVA_RINDLE_PATH_W;
    setup.quentaPath = TOLVA_QUENTA_PATH_W;
    setup.ppdPath = tolvatest::FixturePath(fixture);
    if (withLanguageModule)
        setup.companions.push_back({TOLVA_SAMPLE_LAN_W, L"{stem}.LAN"});
    return setup;
}

PrintJobSetup SampleSetup() { return SetupFor(L"tolva-sample.ppd", true); }

const coredriver::CommandCall* FindCall(const PrintJobResult& job, DWORD index, int page = 0)
{
    for (const auto& call : job.commands)
        if (call.index == index && call.page == page) return &call;
    return nullptr;
}

// Everything the plug-in wrote, over all Command calls.
std::string AllInjected(const PrintJobResult& job)
{
    std::string all;
    for (const auto& call : job.commands) all += job.job.substr(call.offset, call.length);
    return all;
}

// --- The hook table and the device ----------------------------------------------------------

TEST(RindleJob, EnableDriverGivesTheHookTableAndTheDeviceAddsItsCapability)
{
    PrintJobResult job = PrintJob(SetupFor(L"tolva-minimal.ppd", false));
    ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
    EXPECT_EQ(job.enableDriver, S_OK);
    EXPECT_EQ(job.hookVersion, 0x10000u);
    EXPECT_EQ(job.hookCount, 27u);
    const std::vector<ULONG> order = {18, 12, 19, 20, 69, 70, 74, 71, 68, 23, 14, 15, 16, 33,
                                      32, 24, 35, 34, 26, 27, 28, 53, 47, 37, 64, 65, 76};
    EXPECT_EQ(job.hookIndexes, order);
    EXPECT_EQ(job.enablePDEV, S_OK);
    EXPECT_TRUE(job.pdevMade);
    EXPECT_EQ(job.graphicsCaps, coredriver::kCoreGraphicsCaps | 0x2000u);
    EXPECT_EQ(job.disablePDEV, S_OK);
    EXPECT_EQ(job.failedHooks, 0);
    // The plug-in gave back every reference it took on the core driver's interface.
    EXPECT_EQ(job.driverRefsLeft, 1);
    EXPECT_EQ(job.canUnloadNow, S_OK);
}

// --- Exact text at the injection points -------------------------------------------------------

class SampleJob : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        PrintJobSetup setup = SampleSetup();
        setup.pages = 2;
        s_job = new PrintJobResult(PrintJob(setup));
    }
    static void TearDownTestSuite()
    {
        delete s_job;
        s_job = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_job->ok) << std::string(s_job->error.begin(), s_job->error.end()); }
    static PrintJobResult* s_job;
};
PrintJobResult* SampleJob::s_job = nullptr;

TEST_F(SampleJob, CommentsCarryTitleBillingBlockAndKeyComments)
{
    const std::string expected =
        "%%QVTitle: Report\r\n%%N-Up: 1\r\n%%VYRDriver\r\n"
        "%%VYRBILLINGCODE_STR_CODE: (0000)\r\n%%VYRBILLINGCODEID1: (00000000)\r\n"
        "%%VYRBILLINGCODESTR1: (                                )\r\n%%VYRBILLINGCODEID2: (00000000)\r\n"
        "%%VYRBILLINGCODESTR2: (                                )\r\n%%VYRBILLINGCODEID3: (00000000)\r\n"
        "%%VYRBILLINGCODESTR3: (                                )\r\n"
        "%%VYRCLIENTJOBID: (                                                                                )\r\n"
        "%%QVUTF8_Version: 3\r\n"
        // Empty notes keep their comment template's parentheses; the password and print-time
        // rows of the key model write the bare keyword line.
        "%%VYRJobNote: (Tolva fixture)\r\n%%VYRJobName: ()\r\n%%For: ()\r\n%%DeptPassword: \r\n"
        "%%PersPassword: \r\n%%VYRPrintTime: \r\n";
    EXPECT_EQ(TextOf(*s_job, PSINJECT_COMMENTS), expected);
}

TEST_F(SampleJob, BeginSetupWritesItsPartsInOrder)
{
    const std::string text = TextOf(*s_job, PSINJECT_BEGINSETUP);
    const std::string resourceStart = "%%VYR Begin Watermark resource\r\n";
    const std::string resourceEnd = "%%VYR End Watermark resource\r\n";
    const size_t begin = text.find(resourceStart);
    const size_t end = text.find(resourceEnd);
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const std::string resource = text.substr(begin, end + resourceEnd.size() - begin);
    EXPECT_EQ(resource.size(), 1533u);
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(resource.data()), static_cast<uInt>(resource.size())),
              0x07C3BDC7u);

    const std::string before =
        NUpBlock(true) + kLandscapeNo +
        "%%BeginFeature: *QVScale 100\r\n  userdict /TolvaRQdict known {TolvaRQdict /VYRScale 1.00 put} "
        "if\r\n%%EndFeature\r\n"
        "%%BeginNonPPDFeature: NumCopies 1\r\n%%EndNonPPDFeature\r\n"
        "%%BeginFeature: *QVBookMargin 10\r\n  userdict /TolvaRQdict known {TolvaRQdict /VYRBookMargin 10 put} "
        "if\r\n%%EndFeature\r\n"
        "%%BeginFeature: *QVBookMarginFloatPoints 12.500000\r\n  userdict /TolvaRQdict known {TolvaRQdict "
        "/VYRBookMarginPt 12.500000 put} if\r\n%%EndFeature\r\n";
    const std::string after =
        "%%BeginFeature: *QVJobNote Tolva fixture\r\n  userdict (VYRJobNote) cvn (Tolva fixture) put\r\n"
        "%%EndFeature\r\n"
        "%%BeginFeature: *VYRDomainTag " + IdentityKeyWithoutUser() + "\r\n  %%EmptyOption\r\n%%EndFeature\r\n" +
        "%%BeginFeature: *QVColorMode CMYK\r\nuserdict /TolvaRQdict known {TolvaRQdict /VYRColorMode (CMYK) put} "
        "if\r\n%%EndFeature\r\n" +
        SourceAppFeature();
    EXPECT_EQ(text.substr(0, begin), before);
    EXPECT_EQ(text.substr(end + resourceEnd.size()), after);
}

TEST_F(SampleJob, SetupEndAndPageTexts)
{
    EXPECT_EQ(TextOf(*s_job, PSINJECT_ENDSETUP), kEndSetup);
    EXPECT_EQ(TextOf(*s_job, PSINJECT_BEGINPAGESETUP, 1), kLandscapeNo);
    EXPECT_EQ(TextOf(*s_job, PSINJECT_BEGINPAGESETUP, 2), "");
    EXPECT_EQ(TextOf(*s_job, PSINJECT_SHOWPAGE, 1), kShowWatermark);
    EXPECT_EQ(TextOf(*s_job, PSINJECT_SHOWPAGE, 2), kShowWatermark);
}

TEST_F(SampleJob, CommandResults)
{
    struct Case {
        DWORD index;
        int page;
        DWORD result;
    };
    // Handled points report success; points without a handler, and the comments and setup
    // points (which write text yet let the core driver go on), report "not supported".
    const Case cases[] = {
        {PSINJECT_BEGINSTREAM, 0, ERROR_NOT_SUPPORTED}, {PSINJECT_PSADOBE, 0, ERROR_NOT_SUPPORTED},
        {PSINJECT_ORIENTATION, 0, ERROR_NOT_SUPPORTED}, {PSINJECT_COMMENTS, 0, ERROR_NOT_SUPPORTED},
        {PSINJECT_BEGINSETUP, 0, ERROR_NOT_SUPPORTED},  {PSINJECT_ENDSETUP, 0, ERROR_SUCCESS},
        {PSINJECT_BEGINPAGESETUP, 1, ERROR_SUCCESS},    {PSINJECT_BEGINPAGESETUP, 2, ERROR_SUCCESS},
        {PSINJECT_SHOWPAGE, 1, ERROR_SUCCESS},          {PSINJECT_TRAILER, 0, ERROR_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        const coredriver::CommandCall* call = FindCall(*s_job, c.index, c.page);
        ASSERT_NE(call, nullptr) << coredriver::InjectionName(c.index) << " page " << c.page;
        EXPECT_EQ(call->hr, S_OK) << coredriver::InjectionName(c.index);
        EXPECT_EQ(call->result, c.result) << coredriver::InjectionName(c.index) << " page " << c.page;
    }
    for (const auto& call : s_job->commands) {
        if (call.index == PSINJECT_COMMENTS || call.index == PSINJECT_BEGINSETUP || call.index == PSINJECT_ENDSETUP ||
            call.index == PSINJECT_BEGINPAGESETUP || call.index == PSINJECT_SHOWPAGE)
            continue;
        EXPECT_EQ(call.length, 0u) << "text at " << coredriver::InjectionName(call.index);
    }
}

TEST(RindleJob, MinimalPrinterSetupText)
{
    PrintJobResult job = PrintJob(SetupFor(L"tolva-minimal.ppd", false));
    ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
    EXPECT_EQ(TextOf(job, PSINJECT_COMMENTS), "%%QVTitle: Report\r\n%%N-Up: 1\r\n%%VYRDriver\r\n");
    const std::string expected =
        NUpBlock(false) + kLandscapeNo + "%%BeginFeature: *QVScale 100\r\n  1.00 VYRscale\r\n%%EndFeature\r\n" +
        "%%BeginFeature: *QVBookMarginFloatPoints 9\r\n  %%EmptyOption\r\n%%EndFeature\r\n" +
        "%%BeginFeature: *QVJobNote Hello\r\n  %%EmptyOption\r\n%%EndFeature\r\n" + SourceAppFeature();
    EXPECT_EQ(TextOf(job, PSINJECT_BEGINSETUP), expected);
    // No orientation key: the first page still sets the orientation up.
    EXPECT_EQ(TextOf(job, PSINJECT_BEGINPAGESETUP, 1), kLandscapeNo);
    EXPECT_EQ(TextOf(job, PSINJECT_SHOWPAGE, 1), "");
}

TEST(RindleJob, KeyCodesEndTheirLastLine)
{
    // Option codes written without a final line end, as PPD authors do.
    const std::wstring ppd = rendertest::WriteTempPPD(
        L"tolva-lineends",
        "*PPD-Adobe: \"4.3\"\r\n*LanguageVersion: English\r\n*ShortNickName: \"Tolva Lines\"\r\n"
        "*%VYRUI_DefaultQVFirst: On\r\n*%VYRUI_QVFirst On/On: \"userdict /VYRFirst true put\"\r\n"
        "*%VYRUI_DefaultQVSecond: On\r\n*%VYRUI_QVSecond On/On: \"userdict /VYRSecond true put\r\n\"\r\n");
    ASSERT_FALSE(ppd.empty());
    PrintJobSetup setup = SampleSetup();
    setup.companions.clear();
    setup.ppdPath = ppd;
    PrintJobResult job = PrintJob(setup);
    DeleteFileW(ppd.c_str());
    ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
    const std::string text = TextOf(job, PSINJECT_BEGINSETUP);
    EXPECT_NE(text.find(kLandscapeNo + "userdict /VYRFirst true put\r\nuserdict /VYRSecond true put\r\n%%BeginFeature: "
                                       "*QVSourceAppType"),
              std::string::npos)
        << text;
}

// --- Orientation, output format and the document name -------------------------------------

TEST(RindleJob, LandscapeJob)
{
    PrintJobSetup setup = SampleSetup();
    setup.orientation = DMORIENT_LANDSCAPE;
    PrintJobResult job = PrintJob(setup);
    ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
    const std::string setupText = TextOf(job, PSINJECT_BEGINSETUP);
    EXPECT_EQ(setupText.find(NUpBlock(true) + kLandscapeYes), 0u);
    EXPECT_EQ(TextOf(job, PSINJECT_BEGINPAGESETUP, 1), kLandscapeYes);
    // The watermark resource reads the orientation from the document's own flag.
    EXPECT_NE(setupText.find(" /landscapeDoc VYR_LandscapeDoc def"), std::string::npos);
}

TEST(RindleJob, ControllerRotationSuppressesTheLandscapeProcedureCall)
{
    PrintJobSetup setup = SampleSetup();
    setup.orientation = DMORIENT_LANDSCAPE;
    setup.selections.push_back({L"*QVOrientation", L"True"});
    PrintJobResult job = PrintJob(setup);
    ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
    const std::string all = AllInjected(job);
    EXPECT_EQ(all.find("QVLandscapeSetup"), std::string::npos);
    EXPECT_NE(TextOf(job, PSINJECT_BEGINSETUP).find("globaldict /VYR_LandscapeDoc true put\r\n"), std::string::npos);
    EXPECT_EQ(TextOf(job, PSINJECT_BEGINPAGESETUP, 1), "globaldict /VYR_LandscapeDoc true put\r\n");
}

TEST(RindleJob, EpsOutputGetsNothingInjected)
{
    PrintJobSetup setup = SampleSetup();
    setup.pages = 2;
    setup.driverSettings["%OutputFormat"] = "EPS";
    PrintJobResult job = PrintJob(setup);
    ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
    EXPECT_FALSE(job.commands.empty());
    for (const auto& call : job.commands) {
        EXPECT_EQ(call.length, 0u) << coredriver::InjectionName(call.index);
        EXPECT_EQ(call.hr, S_OK);
        EXPECT_EQ(call.result, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    }
}

TEST(RindleJob, DocumentNameControlCharactersStayOnTheTitleLine)
{
    struct Case {
        const wchar_t* name;
        const char* title;
    };
    const Case cases[] = {
        {L"Re\r\nport", "%%QVTitle: Re  port\r\n"},
        {L"Tab\there", "%%QVTitle: Tab here\r\n"},
        {L"\x00E9t\x00E9", "%%QVTitle: \xC3\xA9t\xC3\xA9\r\n"},
    };
    for (const Case& c : cases) {
        PrintJobSetup setup = SetupFor(L"tolva-minimal.ppd", false);
        setup.documentName = c.name;
        PrintJobResult job = PrintJob(setup);
        ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
        EXPECT_EQ(TextOf(job, PSINJECT_COMMENTS).find(c.title), 0u) << c.title;
    }
}

// --- Damaged device modes --------------------------------------------------------------------

TEST(RindleJob, DamagedPrivateBlockGivesTheDefaults)
{
    struct Case {
        const char* name;
        std::function<void(std::vector<BYTE>&)> damage;
        const char* scale;
    };
    const Case cases[] = {
        {"intact", nullptr, "200"},
        {"payload byte changed", [](std::vector<BYTE>& b) { b[b.size() / 2] ^= 0x5A; }, "100"},
        {"size field too small", [](std::vector<BYTE>& b) { b[0] = 3; b[1] = b[2] = b[3] = 0; }, "100"},
        {"wrong signature", [](std::vector<BYTE>& b) { b[4] = 'X'; }, "100"},
        {"all bytes 0xFF", [](std::vector<BYTE>& b) { std::fill(b.begin(), b.end(), BYTE(0xFF)); }, "100"},
        {"all bytes 0", [](std::vector<BYTE>& b) { std::fill(b.begin(), b.end(), BYTE(0)); }, "100"},
    };
    for (const Case& c : cases) {
        PrintJobSetup setup = SampleSetup();
        setup.selections.push_back({L"*QVScale", L"200"});
        setup.alterPrivateBlock = c.damage;
        PrintJobResult job = PrintJob(setup);
        ASSERT_TRUE(job.ok) << c.name;
        ASSERT_GT(job.privateBlock.size(), 16u) << c.name;
        const std::string text = TextOf(job, PSINJECT_BEGINSETUP);
        EXPECT_NE(text.find(std::string("%%BeginFeature: *QVScale ") + c.scale + "\r\n"), std::string::npos)
            << c.name;
        EXPECT_EQ(TextOf(job, PSINJECT_ENDSETUP), kEndSetup) << c.name;
    }
}

// A mixed-media cell set in the private block after the note's soup key reaches the job: the
// range feature of its text is in the document set-up.
TEST(RindleJob, MixedMediaCellOfThePrivateBlockReachesTheJob)
{
    const std::vector<uint8_t> fixture = cfgtest::ReadAll(tolvatest::FixturePath(L"tolva-minimal.ppd"));
    ASSERT_FALSE(fixture.empty());
    // The block is made for a copy of the printer's PPD: same text, same block layout.
    const std::wstring copy =
        rendertest::WriteTempPPD(L"tolva-mixedmedia", std::string(fixture.begin(), fixture.end()));
    ASSERT_FALSE(copy.empty());
    bool set = false;
    PrintJobSetup setup = SetupFor(L"tolva-minimal.ppd", false);
    setup.alterPrivateBlock = [&](std::vector<BYTE>& block) {
        CfgSettingsHold hold(copy.c_str());
        CfgSettings* settings = hold.Get();
        if (!settings || block.size() != CDevmode::GetRequiredSize(settings)) return;
        CBaseDrvState state(settings);
        DevmodeSet places;
        places.privateBlock = block.data();
        if (!state.IsValid() || !state.LoadAll(settings, places, nullptr, 0)) return;
        const CKeySetting* held = state.GetCurrentSettings()->Find(state.GetSoup()->Find(L"*QVMixedMedia"));
        std::unique_ptr<CKeySetting> cell(held ? held->Clone() : nullptr);
        if (!cell || cell->SetFromText(state.GetSoup(), state.GetKeyForest(), L"RangeNum1", L"Heavy") != 1) return;
        state.GetCurrentSettings()->Set(cell.get());
        set = state.SavePrivateDevmode(settings, places, state.GetCurrentSettings());
    };
    PrintJobResult job = PrintJob(setup);
    DeleteFileW(copy.c_str());
    DeleteFileW((copy.substr(0, copy.size() - 4) + L".PBJ").c_str());
    ASSERT_TRUE(set) << "the cell was not set into the private block";
    ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
    const std::string text = TextOf(job, PSINJECT_BEGINSETUP);
    EXPECT_NE(text.find("%%BeginFeature: RangeNum1 Heavy\r\n  %%EmptyOption\r\n%%EndFeature\r\n"), std::string::npos)
        << text;
    // The note's text, saved before the table, is still there too.
    EXPECT_NE(text.find("%%BeginFeature: *QVJobNote Hello\r\n"), std::string::npos) << text;
}

// --- The OEM module's job text ----------------------------------------------------------------

TEST(RindleJob, OemModuleTextJoinsCommentsAndSetup)
{
    struct Case {
        const wchar_t* module;
        bool hasBuffers;
    };
    for (const Case& c : {Case{L"PRNFULL.OEM", true}, Case{L"PRNBARE.OEM", false}}) {
        PrintJobSetup setup = SetupFor(L"tolva-minimal.ppd", false);
        setup.companions.push_back({std::wstring(TOLVA_TEST_MODULE_DIR_W) + L"\\" + c.module, L"{stem}.OEM"});
        PrintJobResult job = PrintJob(setup);
        ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
        const std::string comments = TextOf(job, PSINJECT_COMMENTS);
        const std::string setupText = TextOf(job, PSINJECT_BEGINSETUP);
        const std::string base = "%%QVTitle: Report\r\n%%N-Up: 1\r\n%%VYRDriver\r\n";
        if (!c.hasBuffers) {
            EXPECT_EQ(comments, base);
            EXPECT_EQ(setupText.find("OEMBuffer"), std::string::npos);
            continue;
        }
        // Buffer 1, then buffer 3 through the default, which has no conversion of its own.
        const std::string driver = "Tolva Test Driver ";
        ASSERT_EQ(comments.find(base + "%%OEMBuffer1: " + driver), 0u) << comments;
        EXPECT_NE(comments.find("\r\n%%ExpectJA: 1\r\n"), std::string::npos) << comments;
        EXPECT_EQ(comments.find("OEMBufferEx3"), std::string::npos);
        // Buffer 3 as the module gives it, then buffer 2, then the source application.
        const size_t ex3 = setupText.find("%%OEMBufferEx3: " + driver);
        const size_t two = setupText.find("%%OEMBuffer2: " + driver);
        const size_t app = setupText.find("%%BeginFeature: *QVSourceAppType");
        ASSERT_NE(ex3, std::string::npos) << setupText;
        EXPECT_LT(ex3, two);
        EXPECT_LT(two, app);
    }
}

// --- Failing spool writes --------------------------------------------------------------------

TEST(RindleJob, FailingSpoolWritesAreNotFatal)
{
    for (auto mode : {coredriver::DriverPSStandIn::WriteMode::Fail, coredriver::DriverPSStandIn::WriteMode::Short}) {
        PrintJobSetup setup = SampleSetup();
        setup.writeMode = mode;
        PrintJobResult job = PrintJob(setup);
        ASSERT_TRUE(job.ok) << std::string(job.error.begin(), job.error.end());
        const coredriver::CommandCall* end = FindCall(job, PSINJECT_ENDSETUP);
        ASSERT_NE(end, nullptr);
        // The end-of-setup text did not fully reach the job: not handled.
        EXPECT_EQ(end->hr, S_OK);
        EXPECT_EQ(end->result, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
        const coredriver::CommandCall* show = FindCall(job, PSINJECT_SHOWPAGE, 1);
        ASSERT_NE(show, nullptr);
        EXPECT_EQ(show->result, static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(job.driverRefsLeft, 1);
    }
}

}  // namespace
