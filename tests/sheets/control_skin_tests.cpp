// The subclass chain and the control skins on a page with a control for every skin-table row.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "SheetTestSupport.h"
#include "sheets/SubclassLayer.h"

namespace {

using sheettest::HostWindow;
using sheettest::Pump;

// ---------------------------------------------------------------------------------
// The chain on its own: three recording layers over a plain window.

std::vector<char> g_calls;

template <char Name>
LRESULT CALLBACK RecordingLayer(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, RecordingLayer<Name>);
    if (message == WM_APP) g_calls.push_back(Name);
    return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK OriginalProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        g_calls.push_back('o');
        return 42;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int g_destroyed = 0;
void CountDestroyed(void*) { ++g_destroyed; }

class SubclassChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = OriginalProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ChainTestWindow";
        RegisterClassW(&wc);
        m_window = CreateWindowExW(0, L"ChainTestWindow", L"", WS_CHILD, 0, 0, 10, 10, m_host.Get(), nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        g_calls.clear();
    }
    void TearDown() override { DestroyWindow(m_window); }

    std::string Calls() {
        g_calls.clear();
        EXPECT_EQ(SendMessageW(m_window, WM_APP, 0, 0), 42);
        return std::string(g_calls.begin(), g_calls.end());
    }

    HostWindow m_host;
    HWND m_window = nullptr;
};

TEST_F(SubclassChainTest, LayersRunTopDownAndSurviveRemovalInAnyOrder) {
    SubclassLayer* a = AddSubclassLayer(m_window, RecordingLayer<'a'>, GWLP_WNDPROC);
    SubclassLayer* b = AddSubclassLayer(m_window, RecordingLayer<'b'>, GWLP_WNDPROC);
    SubclassLayer* c = AddSubclassLayer(m_window, RecordingLayer<'c'>, GWLP_WNDPROC);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(AddSubclassLayer(m_window, RecordingLayer<'b'>, GWLP_WNDPROC), b) << "one layer per procedure";
    EXPECT_EQ(Calls(), "cbao");
    EXPECT_EQ(GetTopSubclassLayer(m_window), c);

    // a layer in the middle: the one above takes over what it called
    b->data = &g_destroyed;
    b->destroyData = CountDestroyed;
    g_destroyed = 0;
    RemoveSubclassLayer(b);
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(Calls(), "cao");
    EXPECT_EQ(FindSubclassLayer(m_window, RecordingLayer<'b'>), nullptr);

    RemoveSubclassLayer(c);  // the head: the window procedure goes back to the layer below
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(m_window, GWLP_WNDPROC)), RecordingLayer<'a'>);
    EXPECT_EQ(Calls(), "ao");
    RemoveSubclassLayer(a);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(m_window, GWLP_WNDPROC)), OriginalProc);
    EXPECT_EQ(GetWindowLongPtrW(m_window, GWLP_USERDATA), 0);
    EXPECT_EQ(Calls(), "o");

    EXPECT_EQ(AddSubclassLayer(nullptr, RecordingLayer<'a'>, GWLP_WNDPROC), nullptr);
    RemoveSubclassLayer(nullptr);
    EXPECT_EQ(CallPreviousWindowProc(nullptr, m_window, WM_APP, 0, 0), 0);
}

TEST_F(SubclassChainTest, DataIsFoundForTheProcedureOrTheLayerItWasReplacedBy) {
    SubclassLayer* a = AddSubclassLayer(m_window, RecordingLayer<'a'>, GWLP_WNDPROC);
    SubclassLayer* b = AddSubclassLayer(m_window, RecordingLayer<'b'>, GWLP_WNDPROC);
    int first = 1;
    int second = 2;
    // data for the original procedure lives on the first layer as its previous data
    SetSubclassData(m_window, OriginalProc, &first);
    EXPECT_EQ(a->previousData, &first);
    EXPECT_EQ(GetSubclassData(m_window, OriginalProc), &first);
    // data for a: stored on a and, as previous data, on b; found on b first
    SetSubclassData(m_window, RecordingLayer<'a'>, &second);
    EXPECT_EQ(a->data, &second);
    EXPECT_EQ(b->previousData, &second);
    EXPECT_EQ(GetSubclassData(m_window, RecordingLayer<'a'>), &second);
    EXPECT_EQ(GetSubclassData(m_window, RecordingLayer<'c'>), nullptr);
    RemoveSubclassLayer(b);
    RemoveSubclassLayer(a);
}

TEST_F(SubclassChainTest, LayersLeftOnADestroyedWindowAreFreed) {
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | ES_LEFT, 0, 0, 50, 12, m_host.Get(),
                                nullptr, nullptr, nullptr);
    ASSERT_TRUE(SkinEdit(edit));
    ASSERT_NE(GetEditLayerText(edit), nullptr);
    DestroyWindow(edit);  // the layer removes itself at WM_NCDESTROY (a leak checker would show)
    EXPECT_EQ(GetEditLayerText(edit), nullptr);
}

// ---------------------------------------------------------------------------------
// The skinned page.

// Stands in for the page's dialog layer: reflects owner-draw and command notifications to the control.
LRESULT CALLBACK ReflectingLayer(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, ReflectingLayer);
    const LRESULT result = CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    if (result) return result;
    if (message == WM_DRAWITEM || message == WM_MEASUREITEM) {
        const LRESULT reflected =
            SendMessageW(GetDlgItem(hwnd, static_cast<int>(wParam)), message + SKIN_REFLECT_OFFSET, wParam, lParam);
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, reflected);
        return TRUE;
    }
    if (message == WM_COMMAND && lParam)
        SendMessageW(reinterpret_cast<HWND>(lParam), SKM_REFLECTED_COMMAND, wParam, lParam);
    return 0;
}

class ControlSkinTest : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD size = 0;
        const void* page = sheettest::TemplateResource(2010, &size);
        ASSERT_NE(page, nullptr);
        m_page = sheettest::CreateDialogFrom(m_host.Get(), page);
        ASSERT_NE(m_page, nullptr);
        m_layer = AddSubclassLayer(m_page, ReflectingLayer, DWLP_DLGPROC);
        ASSERT_NE(m_layer, nullptr);
        SkinDialogControls(m_layer);
    }
    void TearDown() override {
        // as the page does at WM_DESTROY: every control's skin goes before the controls do
        for (HWND child = GetWindow(m_page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            RemoveControlSkin(child);
        RemoveSubclassLayer(m_layer);
        DestroyWindow(m_page);
        Pump();
    }
    HWND Item(int id) { return GetDlgItem(m_page, id); }
    LRESULT Send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageW(Item(id), message, wParam, lParam);
    }
    std::wstring Text(int id) {
        wchar_t buffer[128] = {};
        GetWindowTextW(Item(id), buffer, 128);
        return buffer;
    }

    HostWindow m_host;
    HWND m_page = nullptr;
    SubclassLayer* m_layer = nullptr;
};

TEST_F(ControlSkinTest, TablePicksTheSkinOfEachControl) {
    EXPECT_TRUE(AreSkinsApplied(m_layer));
    struct Case {
        int id;
        SkinInstaller expected;
        WNDPROC topLayer;
    } cases[] = {
        {1301, SkinComboBox, ComboBoxLayerProc},       // owner-drawn variable without strings
        {1302, nullptr, nullptr},                      // with CBS_HASSTRINGS
        {1303, nullptr, nullptr},                      // not owner-drawn
        {1304, SkinEdit, EditLayerProc},
        {1325, SkinEdit, EditLayerProc},
        {1311, SkinRadioButton, RadioButtonLayerProc},
        {1312, nullptr, nullptr},                      // SS_LEFT shares no bit with 0xE
        {1315, SkinRadioButton, RadioButtonLayerProc},
        {1321, SkinCheckBox, CheckBoxLayerProc},
        {1322, SkinPushButton, ImageButtonLayerProc},  // BS_OWNERDRAW
        {1323, nullptr, nullptr},                      // BS_PUSHBUTTON is 0
        {1324, SkinStatic, StaticImageLayerProc},
        {1326, SkinStatic, StaticImageLayerProc},      // SS_RIGHT
        {1327, SkinPushButton, ImageButtonLayerProc},  // a group box shares bits with 0xB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_NE(Item(c.id), nullptr);
        EXPECT_EQ(FindControlSkin(Item(c.id)), c.expected);
        SubclassLayer* top = GetTopSubclassLayer(Item(c.id));
        EXPECT_EQ(top ? top->procedure : nullptr, c.topLayer);
    }
    // the button skins sit on the common button layer and remove both layers together
    SubclassLayer* radio = GetTopSubclassLayer(Item(1311));
    ASSERT_NE(radio, nullptr);
    EXPECT_EQ(radio->next ? radio->next->procedure : nullptr, ButtonLayerProc);
    EXPECT_NE(radio->removeSkin, nullptr);
    // no extended style, no skin
    HWND bare = CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 10, 10, m_page, nullptr, nullptr, nullptr);
    EXPECT_EQ(FindControlSkin(bare), nullptr);
    DestroyWindow(bare);
}

TEST_F(ControlSkinTest, ComboItemsCarryTextItemDataAndValue) {
    struct Case {
        const wchar_t* added;
        const wchar_t* shown;
        LRESULT itemData;
    } cases[] = {
        {L"Tray\\7", L"Tray", 7},
        {L"Plain", L"Plain", 0},
        {L"A\\B\\12", L"A\\B", 12},
        {L"Ends\\", L"Ends", 0},
        {L"", L"", 0},
    };
    const int combo = 1301;
    for (const Case& c : cases) Send(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(c.added));
    ASSERT_EQ(Send(combo, SKM_GETCOUNT), 5);
    for (int i = 0; i < 5; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        wchar_t text[64] = {L'?'};
        EXPECT_EQ(Send(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text)), static_cast<LRESULT>(wcslen(c.shown)));
        EXPECT_STREQ(text, c.shown);
        EXPECT_EQ(Send(combo, CB_GETITEMDATA, i), c.itemData);
        EXPECT_EQ(Send(combo, SKM_GETVALUE, i), 0) << "the value stays 0 until it is set";
        Send(combo, SKM_SETVALUE, i, 5000 + i);
        EXPECT_EQ(Send(combo, SKM_GETVALUE, i), 5000 + i);
        EXPECT_EQ(Send(combo, CB_GETITEMDATA, i), c.itemData) << "value and item data are separate";
    }
    EXPECT_EQ(Send(combo, SKM_GETVALUE, 5), -1);
    EXPECT_EQ(Send(combo, SKM_SETVALUE, 5, 1), 0);
    Send(combo, CB_SETITEMDATA, 1, 99);
    EXPECT_EQ(Send(combo, CB_GETITEMDATA, 1), 99);
    EXPECT_EQ(Send(combo, SKM_GETVALUE, 1), 5001);
    EXPECT_EQ(Send(combo, SKM_SELECTBYVALUE, 0, 5003), 3);
    EXPECT_EQ(Send(combo, SKM_GETSELECTION), 3);
    EXPECT_EQ(Send(combo, SKM_SELECTVALUE, 0, 5001), 1);
    EXPECT_EQ(Send(combo, CB_GETCURSEL), 1);
    EXPECT_EQ(Send(combo, SKM_SELECTBYVALUE, 0, 1), CB_ERR);
    EXPECT_EQ(Send(combo, SKM_SETSELECTION, 4), 4);

    // item heights: the font's line height, and a separator under a group's last item
    HDC dc = GetDC(Item(combo));
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(Send(combo, WM_GETFONT)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(Item(combo), dc);
    const LRESULT line = metrics.tmHeight + metrics.tmExternalLeading;
    EXPECT_EQ(Send(combo, CB_GETITEMHEIGHT, 1), line);
    EXPECT_EQ(Send(combo, SKM_ENDGROUP, 1), TRUE);
    EXPECT_EQ(Send(combo, SKM_ENDGROUP, 1), TRUE);  // once only
    EXPECT_EQ(Send(combo, CB_GETITEMHEIGHT, 1), line + 3);
    EXPECT_EQ(Send(combo, CB_GETITEMHEIGHT, 2), line);
    // the dropped list (count x first item's height) still holds every item with its separator
    Send(combo, SKM_ENDGROUP, 3);
    LRESULT total = 0;
    for (int i = 0; i < 5; ++i) total += Send(combo, CB_GETITEMHEIGHT, i);
    EXPECT_GE(5 * Send(combo, CB_GETITEMHEIGHT, 0), total);
    EXPECT_EQ(Send(combo, CB_GETITEMHEIGHT, 0), line + 2) << "6 extra pixels over 4 other items";

    // the page's removal of the skin frees the item records (the box never sees WM_DESTROY with it)
    RemoveControlSkin(Item(combo));
    EXPECT_EQ(GetTopSubclassLayer(Item(combo)), nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Send(combo, CB_GETITEMDATA, i), 0) << "record of item " << i;
    Send(combo, CB_RESETCONTENT);
    EXPECT_FALSE(SkinComboBox(nullptr));
    ASSERT_TRUE(SkinComboBox(Item(combo)));
    EXPECT_EQ(Send(combo, SKM_ENDGROUP, static_cast<WPARAM>(-1)), FALSE) << "an empty box";
}

TEST_F(ControlSkinTest, ComboMarksAreDrawnInTheirColours) {
    const int combo = 1301;
    Send(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"WWWWWW"));
    Send(combo, CB_SETCURSEL, 0);
    auto redPixels = [&]() {
        InvalidateRect(Item(combo), nullptr, TRUE);
        UpdateWindow(Item(combo));
        HDC dc = GetDC(Item(combo));
        RECT client{};
        GetClientRect(Item(combo), &client);
        const std::vector<uint32_t> pixels = sheettest::ReadPixels(dc, client);
        ReleaseDC(Item(combo), dc);
        int count = 0;
        for (uint32_t pixel : pixels) count += pixel == 0xFF0000;
        return count;
    };
    EXPECT_EQ(Send(combo, SKM_GETMARK, 0), SKIN_MARK_NORMAL);
    EXPECT_EQ(redPixels(), 0);
    Send(combo, SKM_SETMARK, 0, SKIN_MARK_RED);
    EXPECT_EQ(Send(combo, SKM_GETMARK, 0), SKIN_MARK_RED);
    EXPECT_GT(redPixels(), 10);
    sheettest::SaveWindowPng(m_page, L"skinned_page_red_mark.png");
    Send(combo, SKM_SETMARK, 0, SKIN_MARK_GREY);
    EXPECT_EQ(redPixels(), 0);
}

TEST_F(ControlSkinTest, EditCommitsAndTheAddressFieldFiltersCharacters) {
    struct Case {
        wchar_t ch;
        bool passes;
    } cases[] = {{L'1', true}, {L'a', true}, {L'Z', true}, {L'-', true}, {L'.', true}, {L' ', false},
                 {L'/', false}, {L':', false}, {L'_', false}, {L'@', false}, {0x00E9, false}, {L'9', true}};
    std::wstring expected;
    for (const Case& c : cases) {
        Send(1325, WM_CHAR, c.ch, 1);
        if (c.passes) expected += c.ch;
        EXPECT_EQ(Text(1325), expected) << "after " << static_cast<int>(c.ch);
    }
    Send(1325, WM_CHAR, L'\b', 1);
    expected.pop_back();
    EXPECT_EQ(Text(1325), expected) << "backspace passes";
    Send(1304, WM_CHAR, L' ', 1);
    Send(1304, WM_CHAR, L'/', 1);
    EXPECT_EQ(Text(1304), L" /") << "other edits take every character";

    auto committed = [&] { return std::wstring(GetEditLayerText(Item(1304))); };
    ASSERT_NE(GetEditLayerText(Item(1304)), nullptr);
    EXPECT_EQ(committed(), L"");
    SetWindowTextW(Item(1304), L"first");
    EXPECT_EQ(Send(1304, WM_KEYDOWN, VK_RETURN, 0), 1);
    EXPECT_EQ(committed(), L"first");
    SetWindowTextW(Item(1304), L"second");
    EXPECT_EQ(Send(1304, WM_KEYUP, 'X', 0), 0);
    EXPECT_EQ(committed(), L"first") << "no commit on key release by default";
    Send(1304, SKM_COMMITONKEYUP, 1);
    EXPECT_EQ(Send(1304, WM_KEYUP, 'X', 0), 1);
    EXPECT_EQ(committed(), L"second");
    SetWindowTextW(Item(1304), L"third");
    Send(1304, WM_KILLFOCUS);
    EXPECT_EQ(committed(), L"third");
    SetWindowTextW(Item(1304), L"fourth");
    Send(1304, SKM_COMMITTEXT);
    EXPECT_EQ(committed(), L"fourth");
    EXPECT_TRUE(SetEditLayerText(Item(1304), L"set by the page"));
    EXPECT_EQ(committed(), L"set by the page");
    EXPECT_EQ(Text(1304), L"fourth") << "the window text is the caller's business";
    EXPECT_EQ(GetEditLayerText(Item(1321)), nullptr);
    EXPECT_FALSE(SetEditLayerText(Item(1321), L"x"));
}

TEST_F(ControlSkinTest, RadioGroupsSpanOtherWindowsAndEndAtTheNextGroup) {
    // 1311, 1313 and 1314 form one group across the static 1312; 1315 starts the next
    for (int id : {1311, 1313, 1314}) {
        SCOPED_TRACE(id);
        ASSERT_EQ(Send(id, SKM_GETCOUNT), 3);
        EXPECT_EQ(Send(id, SKM_GETMEMBERID, 0), 1311);
        EXPECT_EQ(Send(id, SKM_GETMEMBERID, 1), 1313);
        EXPECT_EQ(Send(id, SKM_GETMEMBERID, 2), 1314);
        EXPECT_EQ(Send(id, SKM_GETMEMBERWND, 2), reinterpret_cast<LRESULT>(Item(1314)));
        EXPECT_EQ(Send(id, SKM_GETVALUE, 2), 2) << "a member's key is its position";
    }
    EXPECT_EQ(Send(1315, SKM_GETCOUNT), 1);
    EXPECT_EQ(Send(1311, SKM_GETSELECTION), -1);

    Send(1314, SKM_SETSELECTION, 1);
    EXPECT_EQ(Send(1311, SKM_GETSELECTION), 1) << "one record for the whole group";
    EXPECT_EQ(Send(1313, BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(Send(1311, BM_GETCHECK), BST_UNCHECKED);
    // a click that reaches the control as a reflected notification selects it
    Send(1314, SKM_REFLECTED_COMMAND, MAKEWPARAM(1314, BN_CLICKED), reinterpret_cast<LPARAM>(Item(1314)));
    EXPECT_EQ(Send(1311, SKM_GETSELECTION), 2);
    EXPECT_EQ(Send(1314, BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(Send(1313, BM_GETCHECK), BST_UNCHECKED);
    Send(1311, SKM_SELECTID, 1311);
    EXPECT_EQ(Send(1311, SKM_GETSELECTION), 0);
    Send(1311, SKM_SETVALUE, 1, 5077);
    Send(1311, SKM_SELECTVALUE, 0, 5077);
    EXPECT_EQ(Send(1313, SKM_GETSELECTION), 1);
    EXPECT_EQ(Send(1311, SKM_SETSELECTION, 3), 0) << "out of range";
    EXPECT_EQ(Send(1311, SKM_GETSELECTION), 1);
    // a member whose value is not 0 is disabled
    Send(1311, SKM_SETMARK, 2, 1);
    EXPECT_FALSE(IsWindowEnabled(Item(1314)));
    EXPECT_EQ(Send(1313, SKM_GETMARK, 2), 1);
    Send(1311, SKM_SETMARK, 2, 0);
    EXPECT_TRUE(IsWindowEnabled(Item(1314)));
    EXPECT_EQ(Send(1321, SKM_GETCOUNT), 1) << "a check box is a group of its own";
}

HBITMAP SolidBitmap(int width, int height, COLORREF colour) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all{0, 0, width, height};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

TEST_F(ControlSkinTest, ImagesResizeTheirControlAndShowTheChosenSlot) {
    const int button = 1322;
    RECT before{};
    GetWindowRect(Item(button), &before);
    const POINT centre{(before.left + before.right) / 2, (before.top + before.bottom) / 2};
    HBITMAP first = SolidBitmap(24, 16, RGB(0, 0, 255));
    SkinImage image{first, TRUE, 0};
    EXPECT_EQ(Send(button, SKM_SETIMAGE, 1, reinterpret_cast<LPARAM>(&image)), 1);
    RECT after{};
    GetWindowRect(Item(button), &after);
    EXPECT_EQ(after.right - after.left, 24);
    EXPECT_EQ(after.bottom - after.top, 16);
    EXPECT_LE(std::abs((after.left + after.right) / 2 - centre.x), 1);
    EXPECT_LE(std::abs((after.top + after.bottom) / 2 - centre.y), 1);

    HBITMAP chosen = SolidBitmap(24, 16, RGB(255, 0, 0));
    SkinImage chosenImage{chosen, TRUE, 0};
    Send(button, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&chosenImage));
    auto centreColour = [&]() {
        InvalidateRect(Item(button), nullptr, TRUE);
        UpdateWindow(Item(button));
        HDC dc = GetDC(Item(button));
        const std::vector<uint32_t> pixel = sheettest::ReadPixels(dc, RECT{12, 8, 13, 9});
        ReleaseDC(Item(button), dc);
        return pixel.empty() ? 0u : pixel[0];
    };
    EXPECT_EQ(centreColour(), 0x0000FFu) << "not selected: slot 1";
    Send(button, SKM_SETSELECTION, 0);
    EXPECT_EQ(centreColour(), 0xFF0000u) << "selected with value 0: slot 0";
    Send(button, SKM_SETMARK, 0, 1);
    EXPECT_EQ(centreColour(), 0x0000FFu) << "selected but marked: slot 1";

    // a replaced owned image is deleted; so are the images the skin holds when it goes
    HBITMAP replacement = SolidBitmap(24, 16, RGB(0, 255, 0));
    SkinImage replacing{replacement, TRUE, 0};
    Send(button, SKM_SETIMAGE, 1, reinterpret_cast<LPARAM>(&replacing));
    EXPECT_EQ(GetObjectType(first), 0u);
    HBITMAP borrowed = SolidBitmap(10, 10, RGB(1, 2, 3));
    SkinImage notOwned{borrowed, FALSE, 0};
    EXPECT_EQ(Send(1324, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&notOwned)), 1);
    EXPECT_EQ(Send(1324, STM_GETIMAGE, IMAGE_BITMAP), reinterpret_cast<LRESULT>(borrowed));
    sheettest::SaveWindowPng(m_page, L"skinned_page_images.png");
    RemoveControlSkin(Item(button));
    RemoveControlSkin(Item(1324));
    EXPECT_EQ(GetObjectType(chosen), 0u);
    EXPECT_EQ(GetObjectType(replacement), 0u);
    EXPECT_NE(GetObjectType(borrowed), 0u) << "an image that was lent stays";
    DeleteObject(borrowed);
}

TEST_F(ControlSkinTest, TransparentButtonsPaintOverTheirBackground) {
    EXPECT_EQ(Send(1321, SKM_SETTRANSPARENT, 0, GetSysColor(COLOR_BTNFACE)), 1);
    EXPECT_EQ(Send(1311, SKM_SETTRANSPARENT, 0, GetSysColor(COLOR_BTNFACE)), 1);
    Send(1321, BM_SETCHECK, BST_CHECKED);
    RedrawWindow(m_page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump();
    EXPECT_EQ(Send(1321, BM_GETCHECK), BST_CHECKED);
    EXPECT_TRUE(sheettest::SaveWindowPng(m_page, L"skinned_page_transparent.png"));
}

}  // namespace

namespace {

// What Common Controls 6 does with a 32-bit bitmap given by STM_SETIMAGE: the static keeps a copy
// and hands back the previous copy (Wine's static keeps the handle given, so this stands in for
// Windows below the skin). Every copy it makes is recorded.
WNDPROC g_plainStatic = nullptr;
std::vector<HBITMAP> g_copies;
LRESULT CALLBACK CopyingStatic(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == STM_SETIMAGE && wParam == IMAGE_BITMAP) {
        HBITMAP given = reinterpret_cast<HBITMAP>(lParam);
        HBITMAP copy = given ? static_cast<HBITMAP>(CopyImage(given, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)) : nullptr;
        if (copy) g_copies.push_back(copy);
        return CallWindowProcW(g_plainStatic, hwnd, message, wParam, reinterpret_cast<LPARAM>(copy));
    }
    return CallWindowProcW(g_plainStatic, hwnd, message, wParam, lParam);
}

}  // namespace

TEST_F(ControlSkinTest, AStaticThatCopiesItsBitmapsLosesNoneOfThem) {
    // The preview and the printer picture: owned pictures replaced at every change, and a
    // picture lent by its page. Deleting the copies handed back is the layer's work.
    const int picture = 1324;  // SS_BITMAP
    RemoveControlSkin(Item(picture));
    g_copies.clear();
    g_plainStatic = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(Item(picture), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CopyingStatic)));
    ASSERT_TRUE(SkinStatic(Item(picture)));
    std::vector<HBITMAP> owned;
    for (COLORREF colour : {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)}) {
        owned.push_back(SolidBitmap(12, 12, colour));
        SkinImage image{owned.back(), TRUE, 0};
        EXPECT_EQ(Send(picture, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&image)), 1);
    }
    HBITMAP lent = SolidBitmap(12, 12, RGB(9, 9, 9));
    SkinImage lentImage{lent, FALSE, 0};
    Send(picture, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&lentImage));
    ASSERT_EQ(g_copies.size(), 4u);
    // Each copy but the one shown is gone as soon as the next image arrives.
    for (size_t i = 0; i + 1 < g_copies.size(); ++i) EXPECT_EQ(GetObjectType(g_copies[i]), 0u) << "copy " << i;
    EXPECT_EQ(GetObjectType(g_copies.back()), static_cast<DWORD>(OBJ_BITMAP)) << "the copy on show stays";
    for (size_t i = 0; i < owned.size(); ++i) EXPECT_EQ(GetObjectType(owned[i]), 0u) << "owned " << i;
    RemoveControlSkin(Item(picture));
    EXPECT_EQ(GetObjectType(g_copies.back()), 0u) << "the last copy goes with the skin";
    EXPECT_EQ(GetObjectType(lent), static_cast<DWORD>(OBJ_BITMAP)) << "a lent picture is its page's";
    DeleteObject(lent);
    SetWindowLongPtrW(Item(picture), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_plainStatic));
}
