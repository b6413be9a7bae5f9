// The about page on real sheets of a printer with the tab stand-ins: its background picture
// (3640, or 3641 named by "Res.xml"), the driver information with the OEM module's label, and
// with a connected two-way client (the sheet's client seam answering for the controller) the
// server information and the enabled link. Screenshots in build/<width>/tests/sheets/shots.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "TabSheetUtil.h"
#include "TabTestPPD.h"
#include "sheets/TabOfPage.h"
#include "foundation/StrUtil.h"
#include "settings/KeyUtility.h"
#include "sheets/AboutDriverTab.h"
#include "storage/CfgSettings.h"
#include "uiplugin/SheetSeams.h"

using namespace tabsheet;

namespace {

// The controller as the two-way client seam reports it: connected to any address, and its
// features are the server name and version.
int g_client;
CBiDiClient* MakeClient(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, DWORD)
{
    return reinterpret_cast<CBiDiClient*>(&g_client);
}
void DestroyClient(CBiDiClient*) {}
BOOL Connected(CBiDiClient*) { return TRUE; }
BOOL ConnectedTo(CBiDiClient*, const wchar_t* address) { return address && *address; }
void Request(CBiDiClient*, int) {}
BOOL Answer(CBiDiClient*, CfgSettings* settings, OptionForest*, KVCache* values, int mask)
{
    if (!(mask & 2)) return TRUE;
    CBaseSoup* soup = settings ? settings->GetStringSoup() : nullptr;
    if (!soup || !values) return FALSE;
    CKeySettingUtility keys(values, values, soup);
    for (auto [keyword, text] : {std::pair{L"*QVServerName", L"CTL-9000"}, std::pair{L"*QVServerVersion", L"2.1"}}) {
        std::unique_ptr<CKeySetting> note(keys.CloneNoteSetting(soup->Find(keyword), text));
        if (!note) return FALSE;
        values->Set(note.get());
    }
    return TRUE;
}
const BiDiClientCalls kController = {MakeClient, DestroyClient, Connected, ConnectedTo, Request, Answer};

CAboutDriverTab* AboutTabOf(HWND page)
{
    return dynamic_cast<CAboutDriverTab*>(DriverTabOfPage(page));
}

// The colour of the page at the middle of its bottom edge, where no control is (the picture is
// centred, so a page wider than the picture has white margins at its sides).
COLORREF CornerColour(HWND page)
{
    UpdateWindow(page);
    RECT client = {};
    GetClientRect(page, &client);
    HDC dc = GetDC(page);
    COLORREF colour = GetPixel(dc, client.right / 2, client.bottom - 6);
    ReleaseDC(page, dc);
    return colour;
}

struct AboutSeen {
    bool found = false;
    int background = 0;
    std::wstring info, labels, values;
    bool connected = false, linkEnabled = false, shot = false;
    COLORREF corner = 0;
    int confirmShown = 0;
};

int g_confirmShown = 0;
void RecordConfirm(CBaseDriverTab*, HWND, HMODULE) { ++g_confirmShown; }

AboutSeen OpenAbout(const tolvatest::TestPrinterSetup& setup, const wchar_t* shotName)
{
    AboutSeen seen;
    tolvatest::TestPrinter printer(setup);
    EXPECT_TRUE(printer.Ok()) << printer.Error();
    if (!printer.Ok()) return seen;
    sheettest::SheetSide side(printer.Handle(), true);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    g_confirmShown = 0;
    ConfirmInstallablesFn previous = SetConfirmInstallables(RecordConfirm);
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"About");
        CAboutDriverTab* tab = page ? AboutTabOf(page) : nullptr;
        if (!(seen.found = tab != nullptr)) return;
        InvalidateRect(page, nullptr, TRUE);
        seen.corner = CornerColour(page);
        seen.background = PictureOfColour(seen.corner);
        auto text = [](wchar_t* owned) {
            WText hold(owned);
            return hold ? std::wstring(hold.get()) : std::wstring(L"<null>");
        };
        seen.info = text(tab->DriverInfoText());
        seen.labels = text(tab->ServerInfoLabels());
        seen.values = text(tab->QueryServerInfoText());
        seen.connected = tab->IsConnected();
        seen.linkEnabled = tab->IsLinkEnabled();
        seen.shot = Shot(sheet, shotName);
    };
    EXPECT_TRUE(RunSheet(side, run)) << run.error;
    SetConfirmInstallables(previous);
    seen.confirmShown = g_confirmShown;
    return seen;
}

TEST(AboutTabTest, UnconnectedPageShowsDefaultBackgroundAndDriverInformation)
{
    std::wstring ppd = tabtest::WriteSampleVariant(tabtest::ScratchDir(L"about"), L"about.ppd", tabtest::kAboutLines);
    AboutSeen seen = OpenAbout(TabPrinterSetup(ppd), L"about");
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.background, 3640) << std::hex << seen.corner;
    EXPECT_EQ(seen.confirmShown, 0);
    EXPECT_EQ(seen.info, L"PPD version: 3.0\nCore driver: \nPlug-in: 2.7.1 (plug-in)\nResources: 5.4 (test)\n");
    EXPECT_EQ(seen.labels, L"Server Name\nServer Version\n");
    EXPECT_EQ(seen.values, L"<null>");
    EXPECT_FALSE(seen.connected);
    EXPECT_FALSE(seen.linkEnabled);
    EXPECT_TRUE(seen.shot);
}

TEST(AboutTabTest, ConnectedPageShowsServerInformationLinkResXmlBackgroundAndOemLabel)
{
    std::wstring dir = tabtest::ScratchDir(L"aboutfd");
    std::wstring ppd = tabtest::WriteSampleVariant(dir, L"aboutfd.ppd", tabtest::kAboutLines);
    std::wstring resXml = dir + L"\\aboutfdRes.xml";
    ASSERT_TRUE(tabtest::WriteFileBytes(resXml, "<oemdllfeatures><bitmapinfo><OEMbitmaps>"
                                                "<bmp name=\"IDB_ABOUT_FD\" id=\"3641\"/>"
                                                "</OEMbitmaps></bitmapinfo></oemdllfeatures>"));
    tolvatest::TestPrinterSetup setup = TabPrinterSetup(ppd, L"tabs.LAN", L"IP_ctl.test");
    setup.companions.push_back({resXml, L"{stem}Res.xml"});
    setup.companions.push_back({Module(L"PRNFULL.OEM"), L"{stem}.OEM"});
    const BiDiClientCalls* previous = SetBiDiClientCalls(&kController);
    AboutSeen seen = OpenAbout(setup, L"about-connected");
    SetBiDiClientCalls(previous);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.background, 3641) << std::hex << seen.corner;
    EXPECT_EQ(seen.confirmShown, 1) << "a connected document sheet asks about the installables";
    EXPECT_EQ(seen.info, L"Model version: 3.0\nCore driver: \nPlug-in: 2.7.1 (plug-in)\nResources: 5.4 (test)\n");
    EXPECT_EQ(seen.labels, L"Server Name\nServer Version\n");
    EXPECT_EQ(seen.values, L"CTL-9000\n2.1\n");
    EXPECT_TRUE(seen.connected);
    EXPECT_TRUE(seen.linkEnabled);
    EXPECT_TRUE(seen.shot);
}

}  // namespace
