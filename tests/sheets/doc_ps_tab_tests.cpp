// The document and PostScript pages on real compstui sheets of a printer with the tab
// stand-ins: their lists, the preview picture, what OK hands the core driver, the custom size,
// "NotAvailable" and missing keys, constraint marks, the restore button, and no picture left
// behind by many changes. Screenshots in build/<width>/tests/sheets/shots.
#include <gtest/gtest.h>

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "TabSheetUtil.h"
#include "TabTestPPD.h"
#include "sheets/TabOfPage.h"
#include "settings/KeyUtility.h"
#include "sheets/BaseDriverTab.h"
#include "sheets/DocDriverTab.h"
#include "storage/Validation.h"

using namespace tabsheet;

namespace {

constexpr int kPageSize = 1388, kOrientation = 1389, kMirror = 1412, kNegative = 1413, kPreview = 1051;
constexpr int kErrorHandler = 1046, kOutputFormat = 1037, kLevel = 1064, kDownload = 1091, kTrueType = 1109,
              kRestore = 1055;

// The sample with every line that holds one of drops removed, then extra appended.
std::wstring Variant(const wchar_t* name, const std::string& extra, std::initializer_list<const char*> drops = {})
{
    std::wstring path = tabtest::WriteSampleVariant(tabtest::ScratchDir(L"docps"), name, "");
    std::string text = tabtest::ReadFileBytes(path), kept;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        bool drop = false;
        for (const char* d : drops) drop |= line.find(d) != std::string::npos;
        if (!drop) kept += line;
        start = end;
    }
    for (size_t start = 0; start < extra.size();) {
        size_t end = extra.find('\n', start);
        if (end == std::string::npos) end = extra.size();
        kept += extra.substr(start, end - start) + "\r\n";
        start = end + 1;
    }
    tabtest::WriteFileBytes(path, kept);
    return path;
}

class DocPsTabTest : public ::testing::Test {
protected:
    void SetUp() override { SetValidationMessageBox([](HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }); }
    void TearDown() override { SetValidationMessageBox(nullptr); }
};

TEST_F(DocPsTabTest, DocumentListsPreviewAndWhatOkHandsTheCoreDriver)
{
    tolvatest::TestPrinter printer(TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"docps"), L"doc.ppd", "")));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    sheettest::SheetSide side(printer.Handle(), true);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    std::vector<std::wstring> sizes, orientations;
    std::wstring size, orientation;
    int previewBefore = 0, previewAfter = 0;
    bool shot = false, found = false;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"Document");
        if (!(found = page != nullptr)) return;
        sizes = ComboTexts(page, kPageSize);
        orientations = ComboTexts(page, kOrientation);
        size = ComboSelection(page, kPageSize);
        orientation = ComboSelection(page, kOrientation);
        previewBefore = PictureOfColour(CentreColour(page, kPreview));
        ChooseItem(page, kOrientation, L"Landscape");
        Click(page, kMirror);
        Click(page, kNegative);
        Idle(page);
        previewAfter = PictureOfColour(CentreColour(page, kPreview));
        shot = Shot(sheet, L"document");
        SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    };
    ASSERT_TRUE(RunSheet(side, run)) << run.error;
    ASSERT_TRUE(found) << "no Document page";
    EXPECT_EQ(sizes, (std::vector<std::wstring>{L"Custom Size", L"Letter", L"Legal", L"A4", L"A5", L"A3"}));
    EXPECT_EQ(orientations, (std::vector<std::wstring>{L"Portrait", L"Landscape"}));
    EXPECT_EQ(size, L"A4");
    EXPECT_EQ(orientation, L"Portrait");
    EXPECT_EQ(previewBefore, 103);
    EXPECT_EQ(previewAfter, 114);
    EXPECT_TRUE(shot);
    EXPECT_EQ(side.publicDM.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(CoreOption(side, "%Mirroring"), "True");
    EXPECT_EQ(CoreOption(side, "%Negative"), "True");
}

TEST(DocPreviewTest, PictureIdsFollowTheFourChoices)
{
    const WORD expected[16] = {103, 105, 104, 106, 107, 109, 108, 110, 111, 113, 112, 114, 115, 117, 116, 118};
    for (int index = 0; index < 16; ++index)
        EXPECT_EQ(CDocDriverTab::PreviewImageId(index & 8, index & 4, index & 2, index & 1), expected[index])
            << "index " << index;
}

TEST_F(DocPsTabTest, CustomSizeNotAvailableFalseOrientationAndConstraintMarks)
{
    // Legal and A3 are marked by the extension text's *QVPrintSize lines with *InputSlot Tray1
    // (read as *PageSize); the added line marks Letter and nothing else.
    std::wstring ppd = Variant(L"docvar.ppd",
                               "*%PS_%Mirroring NotAvailable/Not Available: \"\"\n"
                               "*%PS_Default%Mirroring: NotAvailable\n"
                               "*%DM_!dmOrientation False/Off: \"\"\n"
                               "*UIConstraints: *PageSize Letter *InputSlot Tray1\n",
                               {"*%PS_Default%Mirroring"});
    tolvatest::TestPrinter printer(TabPrinterSetup(ppd));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    sheettest::SheetSide side(printer.Handle(), true);
    SetCoreOptions(side);
    side.core.Options()[8].second = "NotAvailable";  // %Mirroring
    coredriver::SheetRun run;
    std::vector<std::wstring> orientations, marked;
    bool mirrorShown = true, negativeShown = false;
    std::wstring customNote, mirroring;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"Document");
        if (!page) return;
        orientations = ComboTexts(page, kOrientation);
        mirrorShown = Visible(page, kMirror);
        negativeShown = Visible(page, kNegative);
        std::vector<std::wstring> sizes = ComboTexts(page, kPageSize);
        for (size_t i = 0; i < sizes.size(); ++i)
            if (SendDlgItemMessageW(page, kPageSize, SKM_GETMARK, i, 0) != 0) marked.push_back(sizes[i]);
        ChooseItem(page, kPageSize, L"Custom Size");
        Idle(page);
        CDrvStateUI* state = StateOfPage(page);
        CKeySettingsUtility keys(state);
        const wchar_t* note = keys.IsValid() ? keys.GetNoteTextByProp(5129) : nullptr;
        customNote = note ? note : L"<none>";
        mirroring = StateOption(state, L"*%Mirroring");
    };
    ASSERT_TRUE(RunSheet(side, run)) << run.error;
    EXPECT_EQ(orientations, (std::vector<std::wstring>{L"Portrait", L"Landscape"}));
    EXPECT_FALSE(mirrorShown);
    EXPECT_TRUE(negativeShown);
    EXPECT_EQ(marked, (std::vector<std::wstring>{L"Letter", L"Legal", L"A3"}));
    EXPECT_EQ(customNote, L"595 842");
    EXPECT_EQ(mirroring, L"NotAvailable");
}

TEST_F(DocPsTabTest, ManyChangesLeaveNoReplacedPictureAlive)
{
    tolvatest::TestPrinter printer(TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"docps"), L"gdi.ppd", "")));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    sheettest::SheetSide side(printer.Handle(), true);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    std::vector<HGDIOBJ> shown;
    HGDIOBJ last = nullptr;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"Document");
        if (!page) return;
        for (int i = 0; i < 200; ++i) {
            Click(page, i % 2 ? kNegative : kMirror);
            Idle(page);
            shown.push_back(reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(page, kPreview, STM_GETIMAGE, IMAGE_BITMAP, 0)));
        }
        last = shown.back();
    };
    ASSERT_TRUE(RunSheet(side, run)) << run.error;
    ASSERT_EQ(shown.size(), 200u);
    int alive = 0;
    for (HGDIOBJ picture : shown)
        if (picture && picture != last && GetObjectType(picture) != 0) ++alive;
    EXPECT_EQ(alive, 0) << "pictures replaced but not deleted";
    EXPECT_NE(last, nullptr);
}

TEST_F(DocPsTabTest, PostScriptChoicesReachTheCoreDriverAfterOk)
{
    tolvatest::TestPrinter printer(TabPrinterSetup(tabtest::WriteSampleVariant(tabtest::ScratchDir(L"docps"), L"ps.ppd", "")));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    sheettest::SheetSide side(printer.Handle(), true);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    bool chosen = false, shot = false, handlerLoaded = false;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"PostScript");
        if (!page) return;
        handlerLoaded = Checked(page, kErrorHandler);
        chosen = ChooseItem(page, kOutputFormat, L"Encapsulated PostScript (EPS)") &&
                 ChooseItem(page, kLevel, L"PostScript Level 2") && ChooseItem(page, kDownload, L"Outline") &&
                 ChooseItem(page, kTrueType, L"Download as Softfont");
        Click(page, kErrorHandler);
        Idle(page);
        shot = Shot(sheet, L"postscript");
        SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    };
    ASSERT_TRUE(RunSheet(side, run)) << run.error;
    EXPECT_TRUE(handlerLoaded);
    EXPECT_TRUE(chosen);
    EXPECT_TRUE(shot);
    EXPECT_EQ(CoreOption(side, "%OutputFormat"), "EPS");
    EXPECT_EQ(CoreOption(side, "%OutputPSLevel"), "2");
    EXPECT_EQ(CoreOption(side, "%TTDownloadFormat"), "Outline");
    EXPECT_EQ(CoreOption(side, "%PSErrorHandler"), "False");
    EXPECT_EQ(side.publicDM.dmTTOption, DMTT_DOWNLOAD);
}

TEST_F(DocPsTabTest, RestoreDefaultsPutsBackExactlyThePageSettings)
{
    struct Case {
        const char* name;
        std::string ppdDefault;  // *%PSErrorHandler default line
        bool handlerAfter;
    } cases[] = {
        {"True default", "*%PS_Default%PSErrorHandler: True", true},
        {"False default", "*%PS_Default%PSErrorHandler: False", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring ppd = Variant(n++ ? L"restoreF.ppd" : L"restoreT.ppd", c.ppdDefault, {"*%PS_Default%PSErrorHandler"});
        tolvatest::TestPrinter printer(TabPrinterSetup(ppd));
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        sheettest::SheetSide side(printer.Handle(), true);
        SetCoreOptions(side);
        coredriver::SheetRun run;
        std::wstring format, level, download, truetype, orientation;
        bool handler = !c.handlerAfter;
        run.script = [&](HWND sheet) {
            HWND doc = ShowPage(sheet, L"Document");
            if (!doc) return;
            ChooseItem(doc, kOrientation, L"Landscape");
            Idle(doc);
            HWND page = ShowPage(sheet, L"PostScript");
            if (!page) return;
            ChooseItem(page, kOutputFormat, L"Encapsulated PostScript (EPS)");
            ChooseItem(page, kLevel, L"PostScript Level 2");
            ChooseItem(page, kDownload, L"Outline");
            ChooseItem(page, kTrueType, L"Download as Softfont");
            if (!Checked(page, kErrorHandler)) Click(page, kErrorHandler);
            Idle(page);
            Click(page, kRestore);
            CDrvStateUI* state = StateOfPage(page);
            format = StateOption(state, L"*%OutputFormat");
            level = StateOption(state, L"*%OutputPSLevel");
            download = StateOption(state, L"*%TTDownloadFormat");
            truetype = StateOption(state, L"*!dmTTOption");
            orientation = StateOption(state, L"*!dmOrientation");
            handler = Checked(page, kErrorHandler);
        };
        ASSERT_TRUE(RunSheet(side, run)) << run.error;
        EXPECT_EQ(format, L"Speed") << c.name;
        EXPECT_EQ(level, L"3") << c.name;
        EXPECT_EQ(download, L"Automatic") << c.name;
        EXPECT_EQ(truetype, L"DMTT_SUBDEV") << c.name;
        EXPECT_EQ(orientation, L"Landscape") << c.name;
        EXPECT_EQ(handler, c.handlerAfter) << c.name;
    }
}

TEST_F(DocPsTabTest, WithoutTheErrorHandlerKeyTheBoxLoadsTicked)
{
    tolvatest::TestPrinter printer(TabPrinterSetup(Variant(L"nohandler.ppd", "", {"PSErrorHandler"})));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    sheettest::SheetSide side(printer.Handle(), true);
    SetCoreOptions(side);
    coredriver::SheetRun run;
    bool ticked = false, found = false;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"PostScript");
        found = page != nullptr;
        if (page) ticked = Checked(page, kErrorHandler);
    };
    ASSERT_TRUE(RunSheet(side, run)) << run.error;
    EXPECT_TRUE(found);
    EXPECT_TRUE(ticked);
}

// A PPD without *%Mirroring: the mirror box is hidden, the preview still shows, and what OK
// hands the core driver carries no mirroring (the page never writes a key the PPD lacks).
TEST_F(DocPsTabTest, WithoutTheMirroringKeyTheBoxIsHiddenAndNothingIsWritten)
{
    tolvatest::TestPrinter printer(TabPrinterSetup(Variant(L"nomirror.ppd", "", {"%Mirroring"})));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    sheettest::SheetSide side(printer.Handle(), true);
    SetCoreOptions(side);
    side.core.Options().erase(side.core.Options().begin() + 8);  // %Mirroring
    coredriver::SheetRun run;
    bool found = false, mirrorShown = true, negativeShown = false;
    int preview = -1;
    std::wstring mirroring = L"<unread>", negative;
    run.script = [&](HWND sheet) {
        HWND page = ShowPage(sheet, L"Document");
        if (!(found = page != nullptr)) return;
        mirrorShown = Visible(page, kMirror);
        negativeShown = Visible(page, kNegative);
        Click(page, kNegative);
        Idle(page);
        CDrvStateUI* state = StateOfPage(page);
        mirroring = StateOption(state, L"*%Mirroring");
        negative = StateOption(state, L"*%Negative");
        preview = PictureOfColour(CentreColour(page, kPreview));
        SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    };
    ASSERT_TRUE(RunSheet(side, run)) << run.error;
    ASSERT_TRUE(found);
    EXPECT_FALSE(mirrorShown);
    EXPECT_TRUE(negativeShown);
    EXPECT_EQ(mirroring, L"");
    EXPECT_EQ(negative, L"True");
    EXPECT_EQ(preview, 105) << "portrait, negative";
    EXPECT_EQ(CoreOption(side, "%Mirroring"), "");
    EXPECT_EQ(CoreOption(side, "%Negative"), "True");
}

}  // namespace
