// Text windows over a page's background picture: no picture, no painting; a bold first line; a
// text scrolling up one pixel per interval that stands still under the mouse and comes back from
// below; links that open web addresses only, and a disabled link.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "SheetTestSupport.h"
#include "sheets/MemoryDC.h"
#include "sheets/SubclassLayer.h"
#include "sheets/TextWindows.h"

namespace {

using sheettest::HostWindow;
using sheettest::Pump;

constexpr COLORREF kBackground = RGB(255, 255, 200);

CMemoryDC* g_picture = nullptr;
int g_fakeTab = 0;
CBaseDriverTab* FakeTab() { return reinterpret_cast<CBaseDriverTab*>(&g_fakeTab); }
CMemoryDC* LookupPicture(CBaseDriverTab* tab) { return tab == FakeTab() ? g_picture : nullptr; }

struct ShellCall {
    std::wstring verb, file;
    int show;
};
std::vector<ShellCall> g_shellCalls;
HINSTANCE WINAPI RecordShell(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR, LPCWSTR, INT show) {
    g_shellCalls.push_back({verb ? verb : L"", file ? file : L"", show});
    return reinterpret_cast<HINSTANCE>(42);
}

wchar_t* NewText(const wchar_t* text) {
    wchar_t* copy = new wchar_t[std::wcslen(text) + 1];
    std::wcscpy(copy, text);
    return copy;
}

// Test views of the windows' state.
class OpenMessageWnd : public CMessageWnd {
public:
    using CMessageWnd::CMessageWnd;
    bool HasBuffers() const { return m_background && m_textBuffer; }
    SIZE Size() const { return SIZE{m_rect.right - m_rect.left, m_rect.bottom - m_rect.top}; }
};

class OpenScrollWnd : public CScrollWnd {
public:
    using CScrollWnd::CScrollWnd;
    void SetPosition(int position) { m_scrollPosition = position; }
    int Height() const { return m_rect.bottom - m_rect.top; }
    SIZE Size() const { return SIZE{m_rect.right - m_rect.left, m_rect.bottom - m_rect.top}; }
};

// The pixels that a text window paints, drawn into a picture of its size.
std::vector<uint32_t> Render(CMessageWnd& window, SIZE size) {
    CMemoryDC target(24, size);
    window.Draw(target.GetDC(), window.GetWindow(), POINT{0, 0});
    return sheettest::ReadPixels(target.GetDC(), RECT{0, 0, size.cx, size.cy});
}

int CountNot(const std::vector<uint32_t>& pixels, int width, int fromRow, int toRow, uint32_t colour) {
    int count = 0;
    for (int y = fromRow; y < toRow; ++y)
        for (int x = 0; x < width; ++x) count += pixels[static_cast<size_t>(y) * width + x] != colour;
    return count;
}

int Count(const std::vector<uint32_t>& pixels, uint32_t colour) {
    int count = 0;
    for (uint32_t pixel : pixels) count += pixel == colour;
    return count;
}

class TextWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTabPictureLookup(LookupPicture);
        SetLinkShellExecute(RecordShell);
        g_shellCalls.clear();
        DWORD size = 0;
        m_page = sheettest::CreateDialogFrom(m_host.Get(), sheettest::TemplateResource(2020, &size));
        ASSERT_NE(m_page, nullptr);
        RECT client{};
        GetClientRect(m_page, &client);
        g_picture = new CMemoryDC(24, SIZE{client.right, client.bottom});
        HBRUSH brush = CreateSolidBrush(kBackground);
        g_picture->Fill(brush);
        DeleteObject(brush);
        LOGFONTW description{};
        description.lfHeight = -13;
        description.lfWeight = FW_NORMAL;
        std::wcscpy(description.lfFaceName, L"Tahoma");
        m_font = CreateFontIndirectW(&description);
        SelectObject(g_picture->GetDC(), m_font);
        SetTextColor(g_picture->GetDC(), RGB(0, 0, 0));
    }
    void TearDown() override {
        DestroyWindow(m_page);
        Pump();
        delete g_picture;
        g_picture = nullptr;
        DeleteObject(m_font);
        SetLinkShellExecute(nullptr);
        SetTabPictureLookup(nullptr);
    }
    HWND Item(int id) { return GetDlgItem(m_page, id); }
    LPARAM ScreenPoint(int id, int x, int y) {
        POINT point{x, y};
        ClientToScreen(Item(id), &point);
        return MAKELPARAM(point.x, point.y);
    }

    HostWindow m_host;
    HWND m_page = nullptr;
    HFONT m_font = nullptr;
};

TEST_F(TextWindowTest, WithoutABackgroundPictureNothingIsPainted) {
    CMemoryDC* picture = g_picture;
    g_picture = nullptr;
    OpenMessageWnd text(m_page, 1407, FakeTab(), NewText(L"Text"), 0);
    InvalidateRect(Item(1407), nullptr, TRUE);
    UpdateWindow(Item(1407));
    EXPECT_FALSE(text.HasBuffers());
    g_picture = picture;
    // an inert window: no dialog or no tab
    OpenMessageWnd noTab(m_page, 1408, nullptr, NewText(L"x"), 0);
    EXPECT_EQ(noTab.GetWindow(), nullptr);
    EXPECT_EQ(GetTopSubclassLayer(Item(1408)), nullptr);
    OpenMessageWnd noControl(m_page, 4242, FakeTab(), NewText(L"x"), 0);
    EXPECT_EQ(noControl.GetWindow(), nullptr);
}

TEST_F(TextWindowTest, FirstLineIsBoldWithFlagBitZero) {
    const wchar_t* text = L"Title of the text\nsecond line of the text";
    OpenMessageWnd plain(m_page, 1407, FakeTab(), NewText(text), 0);
    OpenMessageWnd bold(m_page, 1408, FakeTab(), NewText(text), TEXTWND_BOLD_FIRST_LINE);
    UpdateWindow(m_page);
    ASSERT_TRUE(plain.HasBuffers());
    const SIZE size = plain.Size();
    const std::vector<uint32_t> plainPixels = Render(plain, size);
    const std::vector<uint32_t> boldPixels = Render(bold, size);
    TEXTMETRICW metrics{};
    HDC dc = g_picture->GetDC();
    GetTextMetricsW(dc, &metrics);
    const int line = metrics.tmHeight;
    ASSERT_LT(line * 2, size.cy + line);
    const int plainFirst = CountNot(plainPixels, size.cx, 0, line, 0xFFFFC8);
    const int boldFirst = CountNot(boldPixels, size.cx, 0, line, 0xFFFFC8);
    const int plainRest = CountNot(plainPixels, size.cx, line, size.cy, 0xFFFFC8);
    const int boldRest = CountNot(boldPixels, size.cx, line, size.cy, 0xFFFFC8);
    EXPECT_GT(plainFirst, 50);
    EXPECT_GT(boldFirst, plainFirst * 11 / 10) << "bold first line";
    EXPECT_EQ(boldRest, plainRest) << "the rest in the normal weight";
    EXPECT_GT(plainRest, 50);
    sheettest::SaveWindowPng(m_page, L"text_windows_bold.png");
}

TEST_F(TextWindowTest, TextWindowSitsOnTheSubclassChainOverASkin) {
    HWND control = Item(1411);  // SS_RIGHT: an image static skin
    ASSERT_TRUE(SkinStatic(control));
    SubclassLayer* skin = GetTopSubclassLayer(control);
    {
        OpenMessageWnd text(m_page, 1411, FakeTab(), NewText(L"over a skin"), 0);
        SubclassLayer* top = GetTopSubclassLayer(control);
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(top->procedure, CMessageWnd::StaticWndProc);
        EXPECT_EQ(top->next, skin);
        // the skin below still answers its messages
        HBITMAP image = CreateBitmap(4, 4, 1, 32, nullptr);
        SkinImage lent{image, FALSE, 0};
        EXPECT_EQ(SendMessageW(control, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&lent)), 1);
        UpdateWindow(m_page);
        EXPECT_TRUE(text.HasBuffers());
        lent.bitmap = nullptr;
        SendMessageW(control, SKM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&lent));
        DeleteObject(image);
    }
    EXPECT_EQ(GetTopSubclassLayer(control), skin) << "the text window's layer went with it";
    // the page removes every layer first when it is destroyed; the window object may go later
    auto* late = new OpenMessageWnd(m_page, 1411, FakeTab(), NewText(L"late"), 0);
    RemoveControlSkin(control);
    EXPECT_EQ(GetTopSubclassLayer(control), nullptr);
    delete late;
}

TEST_F(TextWindowTest, ScrollingTextMovesUpOnePixelPerInterval) {
    OpenScrollWnd scroll(m_page, 1050, FakeTab(), NewText(L"one\ntwo\nthree\nfour\nfive"), 50, 0);
    UpdateWindow(m_page);
    const int height = scroll.Height();
    ASSERT_GT(scroll.GetTextHeight(), 0) << "measured at the first paint";
    EXPECT_GE(scroll.GetScrollPosition(), -height) << "the text enters from below";
    EXPECT_LE(scroll.GetScrollPosition(), -height + 3);
    ASSERT_TRUE(scroll.IsScrolling());

    // a pixel per interval and never faster; a poll that comes late (a loaded machine) sees
    // two steps at once, so the steps are counted against the time gone by, not one by one
    const int first = scroll.GetScrollPosition();
    int position = first;
    const DWORD start = GetTickCount();
    DWORD elapsed = 0;
    while (position - first < 4 && elapsed < 5000) {
        Pump();
        Sleep(2);
        const int now = scroll.GetScrollPosition();
        elapsed = GetTickCount() - start;
        EXPECT_GE(now, position) << "never backwards";
        position = now;
        // one step may fall just after the start, then one per interval (20 ms for the clock)
        EXPECT_LE(position - first, static_cast<int>((elapsed + 20) / 50) + 1) << "after " << elapsed << " ms";
    }
    ASSERT_GE(position - first, 4);
    EXPECT_GE(elapsed, 3u * 50 - 20) << "four steps take three whole intervals";
    scroll.StopScroll();
    EXPECT_FALSE(scroll.IsScrolling());

    // one position further is the same picture one row higher
    const SIZE size = scroll.Size();
    scroll.SetPosition(5);
    const std::vector<uint32_t> before = Render(scroll, size);
    scroll.SetPosition(6);
    const std::vector<uint32_t> after = Render(scroll, size);
    ASSERT_GT(CountNot(before, size.cx, 0, size.cy, 0xFFFFC8), 50);
    for (int y = 0; y + 1 < size.cy; ++y)
        for (int x = 0; x < size.cx; ++x)
            ASSERT_EQ(after[static_cast<size_t>(y) * size.cx + x], before[static_cast<size_t>(y + 1) * size.cx + x])
                << "at " << x << "," << y;

    // past the top it starts again from below
    scroll.SetPosition(scroll.GetTextHeight() + 1);
    Render(scroll, size);
    EXPECT_EQ(scroll.GetScrollPosition(), -height);
}

TEST_F(TextWindowTest, ScrollingStopsUnderTheMouseAndResumesWhenItLeaves) {
    OpenScrollWnd scroll(m_page, 1050, FakeTab(), NewText(L"one\ntwo\nthree"), 50, 0);
    UpdateWindow(m_page);
    ASSERT_TRUE(scroll.IsScrolling());
    SendMessageW(Item(1050), WM_NCHITTEST, 0, ScreenPoint(1050, 5, 5));
    EXPECT_EQ(GetCapture(), Item(1050));
    const DWORD start = GetTickCount();
    while (scroll.IsScrolling() && GetTickCount() - start < 2000) Sleep(5);
    EXPECT_FALSE(scroll.IsScrolling()) << "ends after its current step";
    const int standing = scroll.GetScrollPosition();
    SendMessageW(Item(1050), WM_MOUSEMOVE, 0, MAKELPARAM(6, 6));
    EXPECT_EQ(GetCapture(), Item(1050)) << "still over the text";
    Sleep(120);
    EXPECT_EQ(scroll.GetScrollPosition(), standing);
    SendMessageW(Item(1050), WM_MOUSEMOVE, 0, MAKELPARAM(-3, -3));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_TRUE(scroll.IsScrolling());
}

TEST_F(TextWindowTest, LinksOpenWebAddressesOnlyAndNotWhenDisabled) {
    struct Case {
        const wchar_t* address;
        BOOL enabled;
        bool opens;
    } cases[] = {
        {L"https://controller.example/info", TRUE, true},
        {L"HTTP://10.1.2.3/", TRUE, true},
        {L"https://controller.example/info", FALSE, false},
        {L"file:///C:/windows/system32/calc.exe", TRUE, false},
        {L"C:\\windows\\notepad.exe", TRUE, false},
        {L"\\\\server\\share\\run.exe", TRUE, false},
        {L"javascript:alert(1)", TRUE, false},
        {L"httpx://x", TRUE, false},
        {L"", TRUE, false},
    };
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "\"" << std::string(c.address, c.address + std::wcslen(c.address))
                                        << "\" enabled " << c.enabled);
        g_shellCalls.clear();
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        CLinkWnd link(m_page, 1410, FakeTab(), NewText(L"Controller home page"), NewText(c.address), c.enabled, 0);
        InvalidateRect(Item(1410), nullptr, FALSE);
        UpdateWindow(Item(1410));
        RECT client{};
        GetClientRect(Item(1410), &client);
        const std::vector<uint32_t> pixels = Render(link, SIZE{client.right, client.bottom});
        // 0xC80000 / 0xC8C8C8 as 0x00BBGGRR colours: blue when enabled, grey when not
        EXPECT_GT(Count(pixels, c.enabled ? 0x0000C8u : 0xC8C8C8u), 10);
        EXPECT_EQ(Count(pixels, c.enabled ? 0xC8C8C8u : 0x0000C8u), 0);

        SendMessageW(Item(1410), WM_NCHITTEST, 0, ScreenPoint(1410, 3, 3));
        EXPECT_EQ(GetCapture(), Item(1410));
        EXPECT_EQ(GetCursor() == hand, c.enabled != FALSE) << "hand cursor only when enabled";
        SendMessageW(Item(1410), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
        if (c.opens) {
            ASSERT_EQ(g_shellCalls.size(), 1u);
            EXPECT_EQ(g_shellCalls[0].verb, L"open");
            EXPECT_EQ(g_shellCalls[0].file, c.address);
            EXPECT_EQ(g_shellCalls[0].show, SW_SHOWNORMAL);
        } else {
            EXPECT_TRUE(g_shellCalls.empty());
        }
        SendMessageW(Item(1410), WM_MOUSEMOVE, 0, MAKELPARAM(-4, -4));
        EXPECT_EQ(GetCapture(), nullptr);
    }
    sheettest::SaveWindowPng(m_page, L"text_windows_link.png");
}

}  // namespace
