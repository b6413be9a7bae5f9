// The about page's texts over PPD variants of the sample: the driver information with the
// versions of the driver's files and the OEM module's label, the link and when it may be
// opened, the server-information labels and values, the version reader and the background id.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TabTestPPD.h"
#include "TestModulesDir.h"
#include "foundation/StrUtil.h"
#include "settings/KeyUtility.h"
#include "sheets/AboutTexts.h"
#include "sheets/ResXmlBitmap.h"

namespace {

const std::wstring kModules = TOLVA_TEST_MODULES_DIR_W;

std::wstring Text(wchar_t* owned)
{
    WText hold(owned);
    return hold ? std::wstring(hold.get()) : std::wstring(L"<null>");
}

// The lines of the variants: *QVVersion, *QVAboutURL with the given value, *QVServerInfo over
// two note keys.
std::string AboutLines(const std::string& url)
{
    return "*QVVersion 3.0/Version 3.0: \"\"\n"
           "*DefaultQVAboutURL: Home\n"
           "*QVAboutURL Home/Controller Home Page: \"" + url + "\"\n"
           "*%VYRNONUI_QVServerInfo *QVServerName/Server Name: \"\"\n"
           "*%VYRNONUI_QVServerInfo *QVServerVersion/Server Version: \"\"\n"
           "*%JobNote *QVServerName/Server Name: 63:\n"
           "*%JobNote *QVServerVersion/Server Version: 31:\n";
}

class AboutTextsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_lan = LoadLibraryW((kModules + L"\\tabs.LAN").c_str());
        s_oem = LoadLibraryW((kModules + L"\\PRNFULL.OEM").c_str());
        s_res = LoadLibraryW((kModules + L"\\tabres.DLL").c_str());
    }
    static void TearDownTestSuite()
    {
        for (HMODULE m : {s_lan, s_oem, s_res})
            if (m) FreeLibrary(m);
    }
    void SetUp() override
    {
        ASSERT_NE(s_lan, nullptr);
        ASSERT_NE(s_oem, nullptr);
        ASSERT_NE(s_res, nullptr);
    }
    // The page's lookup order: OEM (when given), language, resources.
    static AboutStringLookup Lookup(bool withOem, UINT missing = 0)
    {
        return [=](UINT id) -> wchar_t* {
            if (id == missing) return nullptr;
            HMODULE modules[3] = {withOem ? s_oem : nullptr, s_lan, s_res};
            return LoadStringFromModules(modules, 3, id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), CP_ACP);
        };
    }
    static std::wstring Variant(const wchar_t* name, const std::string& extra)
    {
        return tabtest::WriteSampleVariant(tabtest::ScratchDir(L"about"), name, extra);
    }

    static HMODULE s_lan, s_oem, s_res;
};
HMODULE AboutTextsTest::s_lan = nullptr;
HMODULE AboutTextsTest::s_oem = nullptr;
HMODULE AboutTextsTest::s_res = nullptr;

TEST_F(AboutTextsTest, DriverInformationLinesKeepTheirLabelsAndTheOemLabelWins)
{
    tabtest::StateOver over(Variant(L"info.ppd", AboutLines("http://%s/x")));
    ASSERT_TRUE(over.Ok());
    tabtest::StateOver bare(Variant(L"bare.ppd", ""));
    ASSERT_TRUE(bare.Ok());
    const std::wstring lan = kModules + L"\\tabs.LAN", res = kModules + L"\\tabres.DLL",
                       noVersion = kModules + L"\\pngres.dll";
    struct Case {
        const char* name;
        CDrvState* state;
        bool oem;
        const wchar_t* config;
        const wchar_t* resources;
        UINT missing;
        const wchar_t* expected;
    } cases[] = {
        {"no config file", over.State(), false, nullptr, res.c_str(), 0,
         L"PPD version: 3.0\nCore driver: \nPlug-in: 2.7.1 (plug-in)\nResources: 5.4 (test)\n"},
        {"OEM label wins", over.State(), true, nullptr, res.c_str(), 0,
         L"Model version: 3.0\nCore driver: \nPlug-in: 2.7.1 (plug-in)\nResources: 5.4 (test)\n"},
        {"config file fixed version", over.State(), false, lan.c_str(), res.c_str(), 0,
         L"PPD version: 3.0\nCore driver: 3.1.0.2\nPlug-in: 2.7.1 (plug-in)\nResources: 5.4 (test)\n"},
        {"no version values at all", bare.State(), false, L"Z:\\no\\such.dll", noVersion.c_str(), 0,
         L"PPD version: \nCore driver: \nPlug-in: 2.7.1 (plug-in)\nResources: \n"},
        {"no state", nullptr, false, nullptr, nullptr, 0, L"PPD version: \nCore driver: \nPlug-in: 2.7.1 (plug-in)\nResources: \n"},
        {"plug-in version missing", over.State(), false, nullptr, res.c_str(), kPluginVersionString, L"<null>"},
        {"a label missing", over.State(), false, nullptr, res.c_str(), kCoreVersionLabelString, L"<null>"},
        {"another label missing", over.State(), false, nullptr, res.c_str(), kResourceVersionLabelString, L"<null>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(BuildDriverInfoText(Lookup(c.oem, c.missing), c.state, c.config, c.resources)), c.expected)
            << c.name;
    EXPECT_EQ(Text(BuildAboutTitleText(Lookup(false))), L"Tolva Sample 9000 PS Driver");
    EXPECT_EQ(Text(BuildDriverInfoText(AboutStringLookup(), over.State(), nullptr, nullptr)), L"<null>");
}

TEST_F(AboutTextsTest, FileVersionTextPrefersTheStringTableOnlyWithATranslation)
{
    const std::wstring res = kModules + L"\\tabres.DLL", lan = kModules + L"\\tabs.LAN",
                       none = kModules + L"\\pngres.dll";
    struct Case {
        const wchar_t* path;
        bool strings;
        const wchar_t* expected;
    } cases[] = {
        {res.c_str(), true, L"5.4 (test)"},
        {res.c_str(), false, L"5.4.0.7"},
        {lan.c_str(), true, L"3.1.0.2"},  // string table without translation
        {none.c_str(), true, L"<null>"},
        {none.c_str(), false, L"<null>"},
        {L"Z:\\no\\such\\file.dll", true, L"<null>"},
        {nullptr, true, L"<null>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(GetFileVersionText(c.path, c.strings)), c.expected) << (c.path ? c.path : L"(null)");
}

TEST_F(AboutTextsTest, LinkAddressReplacesOnlyTheFirstPercentSLiterally)
{
    struct Case {
        const wchar_t* value;
        const wchar_t* address;
        const wchar_t* url;
        bool allowed;
    } cases[] = {
        {L"http://%s/x", L"ctl.test", L"http://ctl.test/x", true},
        {L"HTTPS://%s:8443/help?q=1", L"ctl-2.test", L"HTTPS://ctl-2.test:8443/help?q=1", true},
        {L"http://docs.test/%s", L"10.0.0.1", L"http://docs.test/10.0.0.1", true},
        {L"%s%s%n", L"ctl.test", L"ctl.test%s%n", false},
        {L"http://%s/%d%n%s", L"ctl.test", L"http://ctl.test/%d%n%s", true},
        {L"file:///C:/x.exe", L"ctl.test", L"file:///C:/x.exe", false},
        {L"http://%s/x", L"a/b@c", L"http://a/b@c/x", false},
        {L"http://%s/x", L"evil.test@other", L"http://evil.test@other/x", false},
        {L"http://%s/x", nullptr, L"http:///x", false},
        {L"http://user@host/x", nullptr, L"http://user@host/x", false},
        {L"javascript:alert(1)", nullptr, L"javascript:alert(1)", false},
        {L"http://", nullptr, L"http://", false},
    };
    for (const Case& c : cases) {
        std::wstring url = Text(ReplaceFirstPercentS(c.value, c.address));
        EXPECT_EQ(url, c.url) << c.value;
        const wchar_t* inserted = std::wcsstr(c.value, L"%s") ? (c.address ? c.address : L"") : nullptr;
        EXPECT_EQ(IsAboutLinkAllowed(url.c_str(), inserted), c.allowed) << c.value;
    }
    EXPECT_EQ(Text(ReplaceFirstPercentS(nullptr, L"x")), L"<null>");
    EXPECT_FALSE(IsAboutLinkAllowed(nullptr, nullptr));
}

TEST_F(AboutTextsTest, LinkFromTheSettingsIsEnabledOnlyWhenConnectedAndSafe)
{
    tabtest::StateOver over(Variant(L"link.ppd", AboutLines("http://%s/x")));
    ASSERT_TRUE(over.Ok());
    CKeySettingsUtility keys(over.State());
    ASSERT_TRUE(keys.SetNoteTextByProp(over.State()->GetCurrentSettings(), 5020, L"ctl.test"));
    EXPECT_EQ(Text(BuildAboutLinkText(over.State())), L"Controller Home Page");
    EXPECT_EQ(Text(BuildAboutLinkAddress(over.State())), L"http://ctl.test/x");
    EXPECT_TRUE(IsAboutLinkEnabled(over.State(), true));
    EXPECT_FALSE(IsAboutLinkEnabled(over.State(), false));

    ASSERT_TRUE(keys.SetNoteTextByProp(over.State()->GetCurrentSettings(), 5020, L"a/b@c"));
    EXPECT_EQ(Text(BuildAboutLinkAddress(over.State())), L"http://a/b@c/x");
    EXPECT_FALSE(IsAboutLinkEnabled(over.State(), true));

    tabtest::StateOver file(Variant(L"file.ppd", AboutLines("file:///C:/x.exe")));
    ASSERT_TRUE(file.Ok());
    EXPECT_FALSE(IsAboutLinkEnabled(file.State(), true));

    tabtest::StateOver bare(Variant(L"nolink.ppd", ""));
    ASSERT_TRUE(bare.Ok());
    EXPECT_EQ(Text(BuildAboutLinkText(bare.State())), L"<null>");
    EXPECT_EQ(Text(BuildAboutLinkAddress(bare.State())), L"<null>");
    EXPECT_FALSE(IsAboutLinkEnabled(bare.State(), true));
    EXPECT_EQ(Text(BuildAboutLinkText(nullptr)), L"<null>");
}

TEST_F(AboutTextsTest, ServerInformationLabelsAndValues)
{
    tabtest::StateOver over(Variant(L"server.ppd", AboutLines("http://%s/x")));
    ASSERT_TRUE(over.Ok());
    CBaseDrvState* state = over.State();
    EXPECT_EQ(Text(ServerInfoLabels(state)), L"Server Name\nServer Version\n");

    CKeySettingsUtility keys(state);
    SoupSlotID name = state->GetSoup()->Find(L"*QVServerName"), version = state->GetSoup()->Find(L"*QVServerVersion");
    ASSERT_TRUE(name.IsValid());
    ASSERT_TRUE(version.IsValid());
    auto fill = [&](KVCache* values) {
        std::unique_ptr<CKeySetting> a(keys.CloneNoteSetting(name, L"CTL-9000"));
        std::unique_ptr<CKeySetting> b(keys.CloneNoteSetting(version, L"2.1"));
        if (!a || !b) return false;
        values->Set(a.get());
        values->Set(b.get());
        return true;
    };
    EXPECT_EQ(Text(QueryServerInfoText(state, state->GetDefaultSettings(), fill)), L"CTL-9000\n2.1\n");
    EXPECT_EQ(Text(QueryServerInfoText(state, state->GetDefaultSettings(), [](KVCache*) { return false; })),
              L"<null>");
    // Keys the server did not answer show the data file's defaults (empty notes).
    EXPECT_EQ(Text(QueryServerInfoText(state, state->GetDefaultSettings(), [](KVCache*) { return true; })), L"\n\n");
    KVCache empty;
    EXPECT_EQ(Text(ComposeServerInfoText(state, &empty)), L"<null>");

    tabtest::StateOver bare(Variant(L"noserver.ppd", ""));
    ASSERT_TRUE(bare.Ok());
    EXPECT_EQ(Text(ServerInfoLabels(bare.State())), L"<null>");
    EXPECT_EQ(Text(ServerInfoLabels(nullptr)), L"<null>");
}

TEST_F(AboutTextsTest, FormatSettingTextFillsTheInvocationTemplate)
{
    tabtest::StateOver over(Variant(L"format.ppd", AboutLines("http://%s/x")));
    ASSERT_TRUE(over.Ok());
    CBaseDrvState* state = over.State();
    CBaseSoup* soup = state->GetSoup();
    CKeySettingsUtility keys(state);
    struct Case {
        const wchar_t* keyword;
        const wchar_t* value;
        const wchar_t* expected;
    } cases[] = {
        {L"*QVJobNote", L"Hello", L"userdict (VYRJobNote) cvn (Hello) put"},
        {L"*QVServerName", L"CTL-9000", L"CTL-9000"},  // no template: the value itself
        {L"*QVServerName", L"", L""},
    };
    for (const Case& c : cases) {
        SoupSlotID key = soup->Find(c.keyword);
        ASSERT_TRUE(key.IsValid()) << c.keyword;
        std::unique_ptr<CKeySetting> setting(keys.CloneNoteSetting(key, c.value));
        ASSERT_NE(setting, nullptr) << c.keyword;
        EXPECT_EQ(Text(FormatSettingText(state, soup, setting.get())), c.expected) << c.keyword;
    }
    EXPECT_EQ(Text(FormatSettingText(state, soup, nullptr)), L"<null>");
}

TEST_F(AboutTextsTest, BackgroundIdComesFromResXmlWithZeroAndMissingAsAbsent)
{
    std::wstring dir = tabtest::ScratchDir(L"resxml");
    struct Case {
        const wchar_t* stem;
        const char* xml;  // null: no file
        WORD expected;
    } cases[] = {
        {L"named", "<oemdllfeatures><bitmapinfo><OEMbitmaps><bmp name=\"IDB_ABOUT_FD\" id=\"3641\"/>"
                   "</OEMbitmaps></bitmapinfo></oemdllfeatures>", 3641},
        {L"other", "<oemdllfeatures><bitmapinfo><OEMbitmaps><bmp name=\"IDB_LOGO\" id=\"3097\"/>"
                   "</OEMbitmaps></bitmapinfo></oemdllfeatures>", kAboutPictureDefault},
        {L"broken", "<oemdllfeatures><bitmapinfo>", kAboutPictureDefault},
        {L"missing", nullptr, kAboutPictureDefault},
    };
    for (const Case& c : cases) {
        std::wstring ppd = dir + L"\\" + c.stem + L".ppd";
        if (c.xml) {
            ASSERT_TRUE(tabtest::WriteFileBytes(dir + L"\\" + c.stem + L"Res.xml", c.xml));
        }
        EXPECT_EQ(GetAboutPictureId(ppd.c_str()), c.expected) << c.stem;
    }
    EXPECT_EQ(GetBitmapIdFromResXml((dir + L"\\named.ppd").c_str(), L"IDB_ABOUT_FD"), 3641);
    EXPECT_EQ(GetBitmapIdFromResXml((dir + L"\\missing.ppd").c_str(), L"IDB_ABOUT_FD"), 0);
    EXPECT_EQ(GetBitmapIdFromResXml(nullptr, L"IDB_ABOUT_FD"), -1);
    EXPECT_EQ(GetAboutPictureId(nullptr), kAboutPictureDefault);
}

}  // namespace
