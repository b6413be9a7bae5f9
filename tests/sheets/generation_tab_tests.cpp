// The document page over a PPD that changes while its sheet is open: the page keeps using the
// compiled settings its driver state was made from (the newer ones number their strings
// otherwise), and the conflict box gives the PPD's settings back while it is open, so another
// thread of the process that needs them does not wait for the user.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "TabSheetUtil.h"
#include "TabTestPPD.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "storage/Validation.h"
#include "tests/storage/CfgTestUtil.h"

using namespace tabsheet;

namespace {

constexpr int kPageSize = 1388, kOrientation = 1389;

// What the data file becomes while the sheet is open: another PPD altogether (no page sizes,
// another nickname), whose compiled strings have other slots.
std::string ReplacementPPD()
{
    return tabtest::ReadFileBytes(std::wstring(TOLVA_SHARED_DIR_W) + L"\\fixtures\\tolva-minimal.ppd");
}

// Another thread takes the PPD's settings; false when it could not (a wait that never ends
// shows as the guard's end, no timing is measured).
struct OtherThread {
    std::wstring ppd;
    bool acquired = false;
};
OtherThread g_other;

DWORD WINAPI AcquireOnOtherThread(void*)
{
    CfgSettings* other = AcquireCfgSettings(g_other.ppd.c_str());
    g_other.acquired = other != nullptr;
    ReleaseCfgSettings(g_other.ppd.c_str(), other);
    return 0;
}

bool OtherThreadAcquires()
{
    g_other.acquired = false;
    HANDLE thread = CreateThread(nullptr, 0, &AcquireOnOtherThread, nullptr, 0, nullptr);
    const bool ended = thread && WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0;
    if (thread) CloseHandle(thread);
    return ended && g_other.acquired;
}

struct Box {
    std::wstring text;
    bool otherThreadAcquired;
};
std::vector<Box> g_boxes;

int BoxThatNeedsThePPD(HWND, const wchar_t* text, const wchar_t*, UINT)
{
    g_boxes.push_back({text ? text : L"", OtherThreadAcquires()});
    return IDOK;
}

// What the document page showed and wrote.
struct Seen {
    bool pageFound = false;
    bool generationsDiffer = false;  // the PPD's current settings number "A3" otherwise
    std::string why;
    std::vector<std::wstring> sizes, orientations;
    std::wstring sizeAfter;
    std::vector<Box> boxes;
    std::vector<BYTE> privateBlock;
    std::string corePageSize, coreInputSlot;
};

class GenerationTabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_boxes.clear();
        SetValidationMessageBox(&BoxThatNeedsThePPD);
    }
    void TearDown() override { SetValidationMessageBox(nullptr); }

    // Opens the document sheet; with change, the PPD is rewritten and its time moved on before
    // the Document page is first shown. There A3 is chosen (the paper source must move) and OK
    // pressed.
    static Seen RunDocumentPage(bool change)
    {
        Seen seen;
        std::wstring ppd = tabtest::WriteSampleVariant(tabtest::ScratchDir(L"generation"), L"gen.ppd", "");
        tolvatest::TestPrinter printer(TabPrinterSetup(ppd));
        if (!printer.Ok()) {
            ADD_FAILURE() << "printer: " << testing::PrintToString(printer.Error());
            return seen;
        }
        g_other.ppd = printer.DataFile();
        g_boxes.clear();
        sheettest::SheetSide side(printer.Handle(), true);
        SetCoreOptions(side);
        coredriver::SheetRun run;
        run.script = [&](HWND sheet) {
            if (change) {
                CDrvStateUI* state = StateOfPage(coredriver::CurrentPage(sheet));
                if (!state || !tabtest::WriteFileBytes(printer.DataFile(), ReplacementPPD()) ||
                    !cfgtest::Touch(printer.DataFile(), 300))
                    return;
                CfgSettingsHold now(printer.DataFile().c_str());
                seen.generationsDiffer = now.Get() && now.Get() != state->GetGeneration() &&
                                         now.Get()->GetStringSoup()->Find(L"A3") != state->GetSoup()->Find(L"A3");
                seen.why = std::string(now.Get() ? "held" : "none") +
                           (now.Get() == state->GetGeneration() ? " same generation" : " new generation") +
                           " A3 " + std::to_string(state->GetSoup()->Find(L"A3").GetIndex()) + " -> " +
                           std::to_string(now.Get() && now.Get()->GetStringSoup()
                                              ? now.Get()->GetStringSoup()->Find(L"A3").GetIndex()
                                              : -2);
            }
            HWND page = ShowPage(sheet, L"Document");
            if (!(seen.pageFound = page != nullptr)) return;
            seen.sizes = ComboTexts(page, kPageSize);
            seen.orientations = ComboTexts(page, kOrientation);
            ChooseItem(page, kPageSize, L"A3");
            Idle(page);
            seen.sizeAfter = ComboSelection(page, kPageSize);
            Shot(sheet, change ? L"generation-changed" : L"generation-plain");
            SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        };
        EXPECT_TRUE(RunSheet(side, run)) << run.error;
        seen.boxes = g_boxes;
        seen.privateBlock = side.privateBlock;
        seen.corePageSize = CoreOption(side, "PageSize");
        seen.coreInputSlot = CoreOption(side, "InputSlot");
        return seen;
    }
};

TEST_F(GenerationTabTest, APPDChangedUnderAnOpenSheetShowsAndSavesAsBefore)
{
    const Seen plain = RunDocumentPage(false);
    ASSERT_TRUE(plain.pageFound);
    const Seen changed = RunDocumentPage(true);
    ASSERT_TRUE(changed.pageFound);
    ASSERT_TRUE(changed.generationsDiffer) << "the rewritten PPD must number its strings otherwise: " << changed.why;

    EXPECT_EQ(plain.sizes, (std::vector<std::wstring>{L"Custom Size", L"Letter", L"Legal", L"A4", L"A5", L"A3"}));
    EXPECT_EQ(changed.sizes, plain.sizes);
    EXPECT_EQ(changed.orientations, plain.orientations);
    EXPECT_EQ(changed.sizeAfter, L"A3");
    // The constrained change is confirmed once, with the same names.
    ASSERT_EQ(plain.boxes.size(), 1u);
    ASSERT_EQ(changed.boxes.size(), 1u);
    EXPECT_NE(plain.boxes[0].text.find(L"Paper Source"), std::wstring::npos) << testing::PrintToString(plain.boxes[0].text);
    EXPECT_EQ(changed.boxes[0].text, plain.boxes[0].text);
    EXPECT_EQ(changed.corePageSize, "A3");
    EXPECT_EQ(changed.coreInputSlot, plain.coreInputSlot);
    EXPECT_NE(plain.coreInputSlot, "Tray1") << "the confirmation moved the paper source";
    EXPECT_FALSE(plain.privateBlock.empty());
    EXPECT_EQ(changed.privateBlock, plain.privateBlock) << "the private block is the one written without the change";
}

TEST_F(GenerationTabTest, TheSettingsAreGivenBackWhileTheConflictBoxIsOpen)
{
    const Seen seen = RunDocumentPage(false);
    ASSERT_TRUE(seen.pageFound);
    ASSERT_EQ(seen.boxes.size(), 1u);
    EXPECT_TRUE(seen.boxes[0].otherThreadAcquired);
    // The page took its hold again and gave it back: nothing is held once the sheet closed.
    EXPECT_TRUE(OtherThreadAcquires());
}

}  // namespace
