// The property-sheet entry without a window: the handlers' protocol, the pages each sheet
// makes, the message shown while another sheet holds the job-settings library, the attention
// decision, the controller address, the job-settings use count, and the sheet's driver state
// with the core driver's options.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "settings/KeyUtility.h"
#include "sheets/BaseDriverTab.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DriverUserKey.h"
#include "tests/sheets/SheetTestUtil.h"
#include "uiplugin/DrvStateUI.h"
#include "uiplugin/PropSheets.h"

using namespace sheettest;

namespace {

// compstui's page function as the plug-in sees it: records each page, answers a handle.
std::vector<int> g_pageTemplates;
LONG_PTR CALLBACK RecordPages(HANDLE, UINT function, LPARAM lParam1, LPARAM)
{
    if (function != CPSFUNC_ADD_PROPSHEETPAGEW) return 0;
    g_pageTemplates.push_back(static_cast<int>(g_pageTemplates.size()));
    return static_cast<LONG_PTR>(0x1000 + g_pageTemplates.size()) + (lParam1 ? 0 : 0);
}

struct Box {
    std::wstring text, caption;
    UINT type;
};
std::vector<Box> g_boxes;
int RecordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type)
{
    g_boxes.push_back({text ? text : L"", caption ? caption : L"", type});
    return IDOK;
}

// A job-settings use count that the tests set.
LONG g_useCount = 0;
LONG TestUseCount() { return g_useCount; }
// As the manager does: a client only for the first holder.
int g_client = 0;
TQInterface* TestAcquire(HMODULE, void*, int)
{
    if (g_useCount != 0) return nullptr;
    ++g_useCount;
    return reinterpret_cast<TQInterface*>(&g_client);
}
void TestRelease(TQInterface* client)
{
    if (client && g_useCount > 0) --g_useCount;
}
const TQClientCalls kTestTQ = {TestUseCount, TestAcquire, TestRelease};

// A connected two-way client.
int g_fakeClient = 0;
int g_confirmCalls = 0;
CBiDiClient* MakeFake(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, DWORD)
{
    return reinterpret_cast<CBiDiClient*>(&g_fakeClient);
}
void DestroyFake(CBiDiClient*) {}
BOOL Connected(CBiDiClient*) { return TRUE; }
BOOL ConnectedTo(CBiDiClient*, const wchar_t*) { return TRUE; }
void Request(CBiDiClient*, int) {}
BOOL NoResults(CBiDiClient*, CfgSettings*, OptionForest*, KVCache*, int) { return FALSE; }
const BiDiClientCalls kFakeBiDi = {MakeFake, DestroyFake, Connected, ConnectedTo, Request, NoResults};
void CountConfirm(CBaseDriverTab*, HWND, HMODULE) { ++g_confirmCalls; }

std::vector<int> DialogIds(PropSheetsInfo* context)
{
    std::vector<int> ids;
    if (context)
        for (CBaseDriverTab* tab : context->GetTabs()) ids.push_back(tab->GetDialogId());
    return ids;
}

// A copy of the sample PPD with extra statements and one text replaced, in the test's
// build folder.
std::wstring PpdWith(const char* name, const std::string& extra,
                     const std::vector<std::pair<std::string, std::string>>& replace = {})
{
    std::wstring path = std::wstring(TOLVA_BINARY_DIR_W) + L"\\" + std::wstring(name, name + strlen(name));
    std::ifstream in(std::string(TOLVA_LAN_DIR_A) + "\\tolva-sample.ppd", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) return path;
    std::string all = text.str() + extra;
    for (const auto& [from, to] : replace)
        if (all.find(from) != std::string::npos) all.replace(all.find(from), from.size(), to);
    fwrite(all.data(), 1, all.size(), out);
    fclose(out);
    return path;
}

class PropSheetsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_pageTemplates.clear();
        g_boxes.clear();
        g_useCount = 0;
        g_confirmCalls = 0;
        SetTQClientCalls(&kTestTQ);
        SetPluginMessageBox(RecordBox);
        SetConfirmInstallables(CountConfirm);
    }
    void TearDown() override
    {
        SetTQClientCalls(nullptr);
        SetBiDiClientCalls(nullptr);
        SetPluginMessageBox(nullptr);
        SetConfirmInstallables(nullptr);
    }
    // Runs reason init of a sheet; the context (null when none) is destroyed by Destroy.
    PropSheetsInfo* Init(SheetSide& side, bool device, HRESULT* hr = nullptr)
    {
        m_info = MakeInfo(PROPSHEETUI_REASON_INIT, &side.param, RecordPages);
        HRESULT result = device ? DevicePropertySheetsHandler(&m_info, 0, &side.core)
                                : DocumentPropertySheetsHandler(&m_info, 0, &side.core);
        if (hr) *hr = result;
        return reinterpret_cast<PropSheetsInfo*>(m_info.UserData);
    }
    void Destroy(bool device)
    {
        m_info.Reason = PROPSHEETUI_REASON_DESTROY;
        device ? DevicePropertySheetsHandler(&m_info, 0, nullptr) : DocumentPropertySheetsHandler(&m_info, 0, nullptr);
    }
    PROPSHEETUI_INFO m_info = {};
};

using Handler = HRESULT (*)(PPROPSHEETUI_INFO, LPARAM, IPrintCoreUI2*) noexcept;
const Handler kHandlers[] = {DocumentPropertySheetsHandler, DevicePropertySheetsHandler};

TEST_F(PropSheetsTest, ProtocolChecksAndReasonsOtherThanInit)
{
    for (Handler handler : kHandlers) {
        SetLastError(0);
        EXPECT_EQ(handler(nullptr, 0, nullptr), E_FAIL);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

        PROPSHEETUI_INFO info = MakeInfo(PROPSHEETUI_REASON_INIT, nullptr);
        info.Version = 0xFF;
        info.Result = 5;
        EXPECT_EQ(handler(&info, 0, nullptr), E_FAIL);
        EXPECT_EQ(info.Result, 0u);

        info = MakeInfo(PROPSHEETUI_REASON_GET_INFO_HEADER, nullptr);
        PROPSHEETUI_INFO_HEADER header = {};
        EXPECT_EQ(handler(&info, reinterpret_cast<LPARAM>(&header), nullptr), S_OK);
        ASSERT_NE(header.pTitle, nullptr);
        EXPECT_STREQ(header.pTitle, L"OEM UI Page");
        EXPECT_EQ(info.Result, 1u);
        EXPECT_EQ(handler(&info, 0, nullptr), E_FAIL) << "no header";

        info = MakeInfo(PROPSHEETUI_REASON_SET_RESULT, nullptr);
        SETRESULT_INFO result = {sizeof(result), 0, nullptr, 7};
        EXPECT_EQ(handler(&info, reinterpret_cast<LPARAM>(&result), nullptr), S_OK);
        EXPECT_EQ(info.Result, 7u);
        EXPECT_EQ(handler(&info, 0, nullptr), E_FAIL) << "no set-result record";

        info = MakeInfo(PROPSHEETUI_REASON_GET_ICON, nullptr);
        info.Result = 3;
        EXPECT_EQ(handler(&info, 0, nullptr), S_OK);
        EXPECT_EQ(info.Result, 0u);
    }
}

TEST_F(PropSheetsTest, EachSheetMakesItsPagesInOrder)
{
    std::wstring noDocSize = PpdWith("nodocsize.ppd", "",
                                     {{"*QVShowDocumentSizeUI/Hide Document Tab: \"False\"",
                                       "*QVShowDocumentSizeUI/Hide Document Tab: \"True\""}});
    struct Case {
        const char* name;
        bool preferences, device, noDocSize;
        std::vector<int> pages;
    } cases[] = {
        {"preferences", true, false, false, {101, 1010, 1271, 1280}},
        {"document properties", false, false, false, {101, 1010, 1280}},
        {"preferences, *QVShowDocumentSizeUI True", true, false, true, {101, 1010, 1280}},
        {"device", false, true, false, {1127, 1280}},
    };
    for (const Case& c : cases) {
        SheetPrinterOptions options;
        tolvatest::TestPrinterSetup setup = SheetPrinterSetup(options);
        if (c.noDocSize) setup.dataFile = noDocSize;
        tolvatest::TestPrinter printer(setup);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        SheetSide side(printer.Handle(), c.preferences);
        g_pageTemplates.clear();
        HRESULT hr = E_FAIL;
        PropSheetsInfo* context = Init(side, c.device, &hr);
        EXPECT_EQ(hr, S_OK) << c.name;
        EXPECT_EQ(m_info.Result, 1u) << c.name;
        EXPECT_EQ(DialogIds(context), c.pages) << c.name;
        EXPECT_EQ(g_pageTemplates.size(), c.pages.size()) << c.name;
        ASSERT_NE(context, nullptr);
        EXPECT_NE(context->GetDrvState(), nullptr) << c.name;
        Destroy(c.device);
    }
}

TEST_F(PropSheetsTest, AnotherSheetHoldingTheLibraryGivesAMessageAndNoPage)
{
    struct Case {
        const char* name;
        std::wstring lan;
        std::wstring text, caption;
        UINT type;
    } cases[] = {
        {"texts of the language module", LanModule(), L"Another Tolva sheet is open in this program. Close it first.",
         L"Tolva Sample", MB_SYSTEMMODAL | MB_ICONWARNING},
        {"module without the texts", TestModule(), kBusyText, kBusyCaption, MB_ICONWARNING},
    };
    for (const Case& c : cases) {
        SheetPrinterOptions options;
        options.lan = c.lan;
        tolvatest::TestPrinter printer(SheetPrinterSetup(options));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        SheetSide side(printer.Handle(), true);
        g_useCount = 1;
        g_boxes.clear();
        g_pageTemplates.clear();
        HRESULT hr = E_FAIL;
        EXPECT_EQ(Init(side, false, &hr), nullptr) << c.name;
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(m_info.Result, 0u) << c.name;
        EXPECT_TRUE(g_pageTemplates.empty()) << c.name;
        ASSERT_EQ(g_boxes.size(), 1u) << c.name;
        EXPECT_EQ(g_boxes[0].text, c.text) << c.name;
        EXPECT_EQ(g_boxes[0].caption, c.caption) << c.name;
        EXPECT_EQ(g_boxes[0].type, c.type) << c.name;
    }
}

TEST_F(PropSheetsTest, AttentionKeyIsNamedAfterTheFirstEightCharactersOfTheDataFile)
{
    EXPECT_EQ(DriverUserKeyPath(L"C:\\drivers\\PRINTERXYZ.PPD"), L"Software\\VYR\\Quillet\\Driver\\PRINTERX");
    EXPECT_EQ(DriverUserKeyPath(L"C:\\drivers\\ABC.PPD"), L"Software\\VYR\\Quillet\\Driver\\ABC.PPD");
    EXPECT_EQ(DriverUserKeyPath(nullptr), L"");
}

// A copy of the sample PPD under a name of this process's own: the user key is named after the
// data file's first 8 characters, and other tests' sheets on "tolva-sample.ppd" answer there.
static std::wstring OwnSampleCopy(const wchar_t* prefix)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId() % 100000) + L".ppd";
    CopyFileW(SamplePpd().c_str(), path.c_str(), FALSE);
    return path;
}

TEST_F(PropSheetsTest, AttentionIsShownOnlyWithAConnectedClientAndOnlyUntilAnswered)
{
    const std::wstring plainPpd = OwnSampleCopy(L"at");
    const std::wstring networkedPpd = OwnSampleCopy(L"an");
    tolvatest::TestPrinterSetup plainSetup = SheetPrinterSetup({});
    plainSetup.dataFile = plainPpd;
    tolvatest::TestPrinter printer(plainSetup);
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    std::wstring keyPath = DriverUserKeyPath(printer.DataFile().c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
    auto attention = [&]() {
        GPRegUtil key(HKEY_CURRENT_USER, keyPath.c_str());
        return key.GetDWord(L"QVShowAttention", 99);
    };
    {
        SheetSide side(printer.Handle(), true);
        ASSERT_NE(Init(side, false), nullptr);
        Destroy(false);
    }
    EXPECT_EQ(attention(), 0u) << "without a client";
    EXPECT_EQ(g_confirmCalls, 0);

    SetBiDiClientCalls(&kFakeBiDi);
    // The two-way keys hold "True" once an address is known: a port naming the controller.
    SheetPrinterOptions options;
    options.port = L"IP_10.1.2.3";
    tolvatest::TestPrinterSetup networkedSetup = SheetPrinterSetup(options);
    networkedSetup.dataFile = networkedPpd;
    tolvatest::TestPrinter networked(networkedSetup);
    ASSERT_TRUE(networked.Ok()) << networked.Error();
    keyPath = DriverUserKeyPath(networked.DataFile().c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
    for (int round = 0; round < 2; ++round) {
        SheetSide side(networked.Handle(), true);
        ASSERT_NE(Init(side, false), nullptr);
        EXPECT_NE(reinterpret_cast<PropSheetsInfo*>(m_info.UserData)->GetBiDiClient(), nullptr);
        Destroy(false);
        EXPECT_EQ(attention(), 1u) << "round " << round;
        if (round == 0) {
            EXPECT_EQ(g_confirmCalls, 1);
            GPRegUtil key(HKEY_CURRENT_USER, keyPath.c_str());
            key.SetDWord(L"QVConfirmInstallablesDialog", 1);  // the user answered
        }
    }
    EXPECT_EQ(g_confirmCalls, 1) << "not asked again once answered";
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
    DeleteFileW(plainPpd.c_str());
    DeleteFileW(networkedPpd.c_str());
}

TEST_F(PropSheetsTest, PortAddressBecomesTheControllerAddressWithTheTwoWayDefaults)
{
    // Two-way off and, in the second case, options marked as updated from the controller.
    std::wstring plain = PpdWith("twowayoff.ppd", "", {{"*DefaultTwoWayComm: True", "*DefaultTwoWayComm: False"}});
    std::wstring updated = PpdWith("updatedprops.ppd", "", {{"*DefaultTwoWayComm: True", "*DefaultTwoWayComm: False"},
                                                             {"*DefaultUpdatedProps: False", "*DefaultUpdatedProps: True"}});
    struct Case {
        const char* name;
        bool updatedProps;
        const wchar_t* address;
    } cases[] = {{"defaults applied", false, L"10.1.2.3"}, {"*UpdatedProps True keeps both", true, L""}};
    for (const Case& c : cases) {
        SheetPrinterOptions options;
        options.port = L"IP_10.1.2.3";
        tolvatest::TestPrinterSetup setup = SheetPrinterSetup(options);
        setup.dataFile = c.updatedProps ? updated : plain;
        tolvatest::TestPrinter printer(setup);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        SheetSide side(printer.Handle(), true);
        PropSheetsInfo* context = Init(side, false);
        ASSERT_NE(context, nullptr);
        CDrvStateUI* state = context->GetDrvState();
        ASSERT_NE(state, nullptr);
        CKeySettingsUtility keys(state);
        WText address(keys.GetCurrentTextByProp(5020));
        EXPECT_STREQ(address ? address.get() : L"", c.address) << c.name;
        const wchar_t* twoWay = state->GetOptionText(state->GetCurrentSettings(), L"*TwoWayComm");
        EXPECT_STREQ(twoWay, c.updatedProps ? L"False" : L"True") << c.name;
        Destroy(false);
    }
}

TEST_F(PropSheetsTest, OnlyTheSheetThatAcquiredTheLibraryGivesItBack)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide document(printer.Handle(), true);
    PropSheetsInfo* context = Init(document, false);
    ASSERT_NE(context, nullptr);
    PROPSHEETUI_INFO documentInfo = m_info;
    context->GetTQInterface(GetModuleHandleW(nullptr), nullptr, 0);
    EXPECT_EQ(g_useCount, 1);
    {
        SheetSide device(printer.Handle(), false);
        ASSERT_NE(Init(device, true), nullptr);
        Destroy(true);
    }
    EXPECT_EQ(g_useCount, 1) << "the device sheet closing first leaves the count";
    m_info = documentInfo;
    Destroy(false);
    EXPECT_EQ(g_useCount, 0);
}

int g_made = 0;
CBiDiClient* CountMake(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, DWORD)
{
    ++g_made;
    return reinterpret_cast<CBiDiClient*>(&g_fakeClient);
}
const BiDiClientCalls kCountingBiDi = {CountMake, DestroyFake, Connected, ConnectedTo, Request, NoResults};

TEST_F(PropSheetsTest, AnEmptyAddressStartsNoServer)
{
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    SheetSide side(printer.Handle(), true);
    PropSheetsInfo* context = Init(side, false);
    ASSERT_NE(context, nullptr);
    SetBiDiClientCalls(&kCountingBiDi);
    g_made = 0;
    CfgSettingsHold settings(printer.DataFile().c_str());
    EXPECT_TRUE(context->ConnectBiDiClient(settings.Get(), L"", 8));
    EXPECT_EQ(g_made, 0);
    EXPECT_EQ(context->GetBiDiClient(), nullptr);
    // An address whose last "|" token is empty is no address either.
    CKeySettingsUtility keys(context->GetDrvState());
    keys.SetNoteTextByProp(context->GetDrvState()->GetCurrentSettings(), 5020, L"10.0.0.1|");
    EXPECT_TRUE(context->ApplyTwoWayServer(settings.Get(), context->GetTabs().front()));
    EXPECT_EQ(g_made, 0);
    EXPECT_TRUE(context->ConnectBiDiClient(settings.Get(), L"10.0.0.2", 8));
    EXPECT_EQ(g_made, 1);
    Destroy(false);
}

// --- The sheet's driver state and the core driver's options ---------------------------------

class DrvStateUITest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_printer.Ok()) << m_printer.Error();
        m_settings = AcquireCfgSettings(m_printer.DataFile().c_str());
        ASSERT_NE(m_settings, nullptr);
    }
    void TearDown() override { ReleaseCfgSettings(m_printer.DataFile().c_str(), m_settings); }
    tolvatest::TestPrinter m_printer{SheetPrinterSetup({})};
    CfgSettings* m_settings = nullptr;
};

TEST_F(DrvStateUITest, CoreOptionsFlowIntoTheKeysAndBack)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> options;
        bool answersAtOnce;
        bool valid;
        const wchar_t* duplex;
    } cases[] = {
        {"*Duplex None", {{"Duplex", "None"}, {"Bogus", "X"}, {"InputSlot", "Nowhere"}}, false, true, L"None"},
        {"empty list", {}, false, true, nullptr},
        {"first answer S_OK", {{"Duplex", "None"}}, true, false, nullptr},
    };
    for (const Case& c : cases) {
        SheetSide side(m_printer.Handle(), true);
        side.core.Options() = c.options;
        side.core.getOptionsAnswersAtOnce = c.answersAtOnce;
        CDrvStateUI state(m_settings, &side.core, &side.param, &side.uiObject);
        EXPECT_EQ(state.IsValid(), c.valid) << c.name;
        if (!c.valid) continue;
        if (c.duplex) {
            EXPECT_STREQ(state.GetOptionText(state.GetCurrentSettings(), L"*Duplex"), c.duplex) << c.name;
        }
        EXPECT_STREQ(state.GetOptionText(state.GetCurrentSettings(), L"*InputSlot"), L"Tray1") << c.name;
        EXPECT_TRUE(state.Save(m_settings, &side.param, &side.uiObject)) << c.name;
        if (c.options.empty()) {
            EXPECT_TRUE(side.core.setOptionsCalls.empty()) << c.name;
        }
    }
}

TEST_F(DrvStateUITest, SaveSendsTheWholeGrownListKeepingConflicts)
{
    SheetSide side(m_printer.Handle(), true);
    side.core.Options() = {{"PageSize", "A4"}, {"InputSlot", "Tray1"}};
    CDrvStateUI state(m_settings, &side.core, &side.param, &side.uiObject);
    ASSERT_TRUE(state.IsValid());
    ASSERT_TRUE(state.SetOptionByText(state.GetCurrentSettings(), L"*PageSize", L"Letter"));
    ASSERT_TRUE(state.SetOptionByText(state.GetCurrentSettings(), L"*InputSlot", L"LargeCapacity"));
    ASSERT_TRUE(state.Save(m_settings, &side.param, &side.uiObject));
    ASSERT_EQ(side.core.setOptionsCalls.size(), 1u);
    EXPECT_EQ(side.core.setOptionsCalls[0].flags, static_cast<DWORD>(SETOPTIONS_FLAG_KEEP_CONFLICT));
    const char expected[] = "PageSize\0Letter\0InputSlot\0LargeCapacity\0";  // and the closing NUL
    EXPECT_EQ(side.core.setOptionsCalls[0].list, std::string(expected, sizeof(expected)));

    side.core.setOptionsResult = E_FAIL;
    EXPECT_FALSE(state.Save(m_settings, &side.param, &side.uiObject));
}

}  // namespace
