// Dialog data exchange on a real page: the check box, combo box and edit callbacks in both
// directions with their edge cases, replaced tables and button rows (newest table first).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "SheetTestSupport.h"
#include "foundation/StrUtil.h"
#include "sheets/DataExchange.h"
#include "sheets/DialogTemplates.h"
#include "sheets/StrSetting.h"
#include "sheets/SubclassLayer.h"
#include "sheets/TabSettings.h"

namespace {

constexpr int kCombo = 9002, kEdit = 9003, kCheck = 9006;

// Page 9001 of the sample language module (one control per skin row), skinned, with the
// dialog layer on top of its dialog procedure.
class ExchangePage : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_lan = LoadLibraryExW(TOLVA_LAN_DIR_W L"\\tolva-sample.LAN", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_lan, nullptr);
        DWORD size = 0;
        const void* resource = LoadDialogResource(m_lan, MAKEINTRESOURCEW(9001), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), &size);
        ASSERT_NE(resource, nullptr);
        m_template = CopyAsDialogTemplateEx(resource, size);
        ASSERT_NE(m_template, nullptr);
        m_page = sheettest::CreateDialogFrom(m_host.Get(), m_template);
        ASSERT_NE(m_page, nullptr);
        m_layer = AddSubclassLayer(m_page, DialogLayerProc, DWLP_DLGPROC);
        ASSERT_NE(m_layer, nullptr);
        SkinDialogControls(m_layer);
        HWND combo = GetDlgItem(m_page, kCombo);
        const wchar_t* items[] = {L"Letter", L"A4", L"A3"};
        for (int i = 0; i < 3; ++i) {
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
            SendMessageW(combo, SKM_SETVALUE, i, 100 + i);
        }
    }
    void TearDown() override
    {
        if (m_page) DestroyWindow(m_page);
        std::free(m_template);
        if (m_lan) FreeLibrary(m_lan);
    }
    void Run(const DataExchangeEntry& row, int direction)
    {
        SetExchangeTable(m_layer, &row, 1);
        RunExchangeTable(m_layer, m_page, direction);
    }

    sheettest::HostWindow m_host;
    HMODULE m_lan = nullptr;
    void* m_template = nullptr;
    HWND m_page = nullptr;
    SubclassLayer* m_layer = nullptr;
};

TEST_F(ExchangePage, CheckBoxReadsCheckedAsOneAndWritesBothWays)
{
    struct Case {
        UINT state;
        int direction;
        int value;
        int expectValue;
        UINT expectState;
    } cases[] = {
        {BST_CHECKED, kExchangeFromControls, 0, 1, BST_CHECKED},
        {BST_UNCHECKED, kExchangeFromControls, 1, 0, BST_UNCHECKED},
        {BST_INDETERMINATE, kExchangeFromControls, 1, 0, BST_INDETERMINATE},
        {BST_UNCHECKED, kExchangeToControls, 5, 5, BST_CHECKED},
        {BST_CHECKED, kExchangeToControls, 0, 0, BST_UNCHECKED},  // a restored default shows as it reads back
        {BST_CHECKED, kExchangeToControls, 1, 1, BST_CHECKED},
    };
    HWND box = GetDlgItem(m_page, kCheck);
    SetWindowLongPtrW(box, GWL_STYLE, (GetWindowLongPtrW(box, GWL_STYLE) & ~0xF) | BS_AUTO3STATE);
    for (const Case& c : cases) {
        SendMessageW(box, BM_SETCHECK, c.state, 0);
        int value = c.value;
        Run({kCheck, &value, ExchangeCheckBox}, c.direction);
        EXPECT_EQ(value, c.expectValue) << "state " << c.state << " direction " << c.direction;
        EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), static_cast<LRESULT>(c.expectState))
            << "state " << c.state << " direction " << c.direction;
    }
}

TEST_F(ExchangePage, ComboBoxExchangesItemValuesAndLeavesAnOpenListAlone)
{
    HWND combo = GetDlgItem(m_page, kCombo);
    struct Case {
        const char* name;
        int selection;  // -1: none
        bool dropped;
        int direction;
        int value;
        int expectValue;
        int expectSelection;
    } cases[] = {
        {"read the selected item's value", 2, false, kExchangeFromControls, 0, 102, 2},
        {"read without a selection keeps the int", -1, false, kExchangeFromControls, 7, 7, -1},
        {"write without a selection selects by value", -1, false, kExchangeToControls, 101, 101, 1},
        {"write a different value", 0, false, kExchangeToControls, 102, 102, 2},
        {"open list: read leaves the int", 0, true, kExchangeFromControls, 101, 101, 0},
        {"open list: write leaves the selection", 0, true, kExchangeToControls, 102, 102, 0},
    };
    for (const Case& c : cases) {
        SendMessageW(combo, CB_SETCURSEL, c.selection, 0);
        if (c.dropped) {
            SetFocus(combo);
            SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
        }
        int value = c.value;
        Run({kCombo, &value, ExchangeComboBox}, c.direction);
        EXPECT_EQ(value, c.expectValue) << c.name;
        EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), c.expectSelection) << c.name;
        if (c.dropped) SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    }
}

TEST_F(ExchangePage, EditTextWorksOnTheCommittedTextAndSetsTheWindowOnlyWhenItDiffers)
{
    HWND edit = GetDlgItem(m_page, kEdit);
    SetWindowTextW(edit, L"controller-1");
    SendMessageW(edit, SKM_COMMITTEXT, 0, 0);
    SetWindowTextW(edit, L"typed, not committed");
    CStrHolder holder(L"old");
    Run({kEdit, &holder, ExchangeEditText}, kExchangeFromControls);
    EXPECT_STREQ(holder.Get(), L"controller-1");

    // Equal to the committed text: the window keeps what the user is typing.
    Run({kEdit, &holder, ExchangeEditText}, kExchangeToControls);
    wchar_t text[64] = {};
    GetWindowTextW(edit, text, 64);
    EXPECT_STREQ(text, L"typed, not committed");

    holder.Set(L"10.1.2.3");
    Run({kEdit, &holder, ExchangeEditText}, kExchangeToControls);
    GetWindowTextW(edit, text, 64);
    EXPECT_STREQ(text, L"10.1.2.3");
    EXPECT_STREQ(GetEditLayerText(edit), L"10.1.2.3");

    // A control without the edit layer is left alone.
    CStrHolder untouched(L"same");
    Run({kCheck, &untouched, ExchangeEditText}, kExchangeFromControls);
    EXPECT_STREQ(untouched.Get(), L"same");
}

int g_calls[3];
int FirstHandler(HWND, WPARAM, LPARAM) { return ++g_calls[0]; }
int SecondHandler(HWND, WPARAM, LPARAM) { return ++g_calls[1]; }
int DecliningHandler(HWND, WPARAM, LPARAM)
{
    ++g_calls[2];
    return 0;
}

TEST_F(ExchangePage, ButtonRowsOfTheNewestTableWinAndAZeroAnswerFallsThrough)
{
    g_calls[0] = g_calls[1] = g_calls[2] = 0;
    const ExchangeButton first[] = {{kCheck, FirstHandler}};
    const ExchangeButton second[] = {{kCheck, SecondHandler}, {MAKEWPARAM(kEdit, EN_CHANGE), DecliningHandler}};
    AddExchangeButtons(m_layer, first, 1);
    AddExchangeButtons(m_layer, second, 2);
    AddExchangeButtons(nullptr, first, 1);  // ignored
    AddExchangeButtons(m_layer, first, 0);  // ignored
    SendMessageW(m_page, WM_COMMAND, MAKEWPARAM(kCheck, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(m_page, kCheck)));
    EXPECT_EQ(g_calls[0], 0);
    EXPECT_EQ(g_calls[1], 1);
    SendMessageW(m_page, WM_COMMAND, MAKEWPARAM(kEdit, EN_CHANGE), reinterpret_cast<LPARAM>(GetDlgItem(m_page, kEdit)));
    EXPECT_EQ(g_calls[2], 1);
    // A command without a control (a menu or accelerator) is no button row's.
    SendMessageW(m_page, WM_COMMAND, MAKEWPARAM(kCheck, BN_CLICKED), 0);
    EXPECT_EQ(g_calls[1], 1);
}

struct PAIRDATA {
    int check;
    int combo;
};

class PairSettings : public CBasicSettings<SimpleData<PAIRDATA>> {
public:
    void BindControls(SubclassLayer* layer) override
    {
        const DataExchangeEntry rows[] = {{kCheck, &m_data.value.check, ExchangeCheckBox},
                                          {kCombo, &m_data.value.combo, ExchangeComboBox},
                                          {0, nullptr, nullptr}};
        SetExchangeTable(layer, rows, 3);
    }
};

TEST_F(ExchangePage, SettingsReadBackAsChangedOnlyWhenAControlDiffers)
{
    PairSettings settings;
    settings.GetData().value = {1, 101};
    settings.BindControls(m_layer);
    settings.BindControls(m_layer);  // a replaced table is freed, the new one used
    settings.WriteControls(nullptr, m_layer, m_page);
    EXPECT_FALSE(settings.ReadControls(nullptr, m_layer, m_page));
    CheckDlgButton(m_page, kCheck, BST_UNCHECKED);
    EXPECT_TRUE(settings.ReadControls(nullptr, m_layer, m_page));
    EXPECT_EQ(settings.GetData().value.check, 0);
    EXPECT_FALSE(settings.ReadControls(nullptr, m_layer, m_page));
    EXPECT_EQ(DummySettings::Instance()->ReadControls(nullptr, m_layer, m_page), FALSE);
    StrSetting a(L"x"), b(L"x"), c(L"y");
    EXPECT_TRUE(a.IsEqual(b));
    EXPECT_FALSE(a.IsEqual(c));
    c.CopyFrom(a);
    EXPECT_TRUE(c.IsEqual(a));
}

}  // namespace
