// Text windows of the about page (see TextWindows.h).
#include "sheets/TextWindows.h"

#include <shellapi.h>
#include <windowsx.h>

#include <cwchar>
#include <new>

#include "sheets/MemoryDC.h"

namespace {

TabPictureLookup g_pictureLookup = nullptr;
LinkShellExecuteFn g_shellExecute = nullptr;  // null: the shell's own, bound at the first click

// The shell's ShellExecuteW, bound by name when a link is first opened: importing shell32 would
// load it (and what it pulls in) into every process that loads the plug-in.
HINSTANCE WINAPI ShellExecuteByName(HWND hwnd, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                                    INT show) {
    static LinkShellExecuteFn bound = [] {
        HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return shell ? reinterpret_cast<LinkShellExecuteFn>(
                           reinterpret_cast<void (*)()>(GetProcAddress(shell, "ShellExecuteW")))
                     : nullptr;
    }();
    return bound ? bound(hwnd, verb, file, parameters, folder, show) : nullptr;
}

constexpr COLORREF kLinkColour = 0xC80000;          // blue (0x00BBGGRR)
constexpr COLORREF kDisabledLinkColour = 0xC8C8C8;  // grey
constexpr LONG kBoldWeight = FW_BOLD;

int Width(const RECT& rect) { return rect.right - rect.left; }
int Height(const RECT& rect) { return rect.bottom - rect.top; }

// Holds the scroll mutex for a scope when there is one.
class ScrollLock {
public:
    explicit ScrollLock(HANDLE mutex) : m_mutex(mutex) {
        if (m_mutex) WaitForSingleObject(m_mutex, INFINITE);
    }
    ~ScrollLock() {
        if (m_mutex) ReleaseMutex(m_mutex);
    }
    ScrollLock(const ScrollLock&) = delete;
    ScrollLock& operator=(const ScrollLock&) = delete;

private:
    HANDLE m_mutex;
};

bool PointInside(HWND hwnd, POINT client) {
    RECT rect{};
    GetClientRect(hwnd, &rect);
    return PtInRect(&rect, client) != FALSE;
}

}  // namespace

TabPictureLookup SetTabPictureLookup(TabPictureLookup lookup) {
    TabPictureLookup previous = g_pictureLookup;
    g_pictureLookup = lookup;
    return previous;
}

LinkShellExecuteFn SetLinkShellExecute(LinkShellExecuteFn fn) {
    LinkShellExecuteFn previous = g_shellExecute;
    g_shellExecute = fn;
    return previous ? previous : ShellExecuteByName;
}

bool IsOpenableLinkAddress(const wchar_t* address) {
    return address && (_wcsnicmp(address, L"http://", 7) == 0 || _wcsnicmp(address, L"https://", 8) == 0);
}

// ---------------------------------------------------------------------------------
// CMessageWnd

CMessageWnd::CMessageWnd(HWND dialog, int controlId, CBaseDriverTab* tab, wchar_t* text, DWORD flags)
    : m_background(nullptr), m_textBuffer(nullptr), m_rect{}, m_text(text), m_textHeight(0), m_scrollPosition(0),
      m_layer(nullptr), m_window(nullptr), m_tab(nullptr), m_flags(0), m_interval(0), m_scrollThread(nullptr),
      m_scrollMutex(nullptr), m_stop(0) {
    if (!dialog || !tab) return;
    m_tab = tab;
    m_flags = flags;
    HWND control = GetDlgItem(dialog, controlId);
    if (!control) return;
    InvalidateRect(control, nullptr, FALSE);
    GetWindowRect(control, &m_rect);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&m_rect), 2);
    // through the control's subclass chain, so a skin under it keeps working
    SubclassLayer* layer = AddSubclassLayer(control, StaticWndProc, GWLP_WNDPROC);
    if (!layer || layer->data) return;
    layer->data = this;
    layer->destroyData = LayerGone;
    m_layer = layer;
    m_window = control;
    m_textHeight = Height(m_rect);
}

CMessageWnd::~CMessageWnd() {
    EndScrollThread();
    if (m_layer) RemoveSubclassLayer(m_layer);
    if (m_scrollMutex) CloseHandle(m_scrollMutex);
    m_scrollMutex = nullptr;
    FreeBuffers();
    delete[] m_text;
}

void CMessageWnd::LayerGone(void* self) {
    CMessageWnd* window = static_cast<CMessageWnd*>(self);
    window->m_layer = nullptr;
}

void CMessageWnd::EndScrollThread() {
    m_stop = 1;
    if (m_scrollThread) {
        WaitForSingleObject(m_scrollThread, INFINITE);
        CloseHandle(m_scrollThread);
    }
    m_stop = 0;
    m_scrollThread = nullptr;
}

LRESULT CALLBACK CMessageWnd::StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, StaticWndProc);
    if (!layer) return 1;
    if (message == WM_NCDESTROY) {
        LRESULT result = CallWindowProcW(layer->previousProcedure, hwnd, message, wParam, lParam);
        RemoveSubclassLayer(layer);
        return result;
    }
    CMessageWnd* window = static_cast<CMessageWnd*>(layer->data);
    if (!window) return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    return window->WindowProc(hwnd, message, wParam, lParam);
}

LRESULT CMessageWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(hwnd, &paint);
        Draw(dc, hwnd, POINT{0, 0});
        EndPaint(hwnd, &paint);
        return 0;
    }
    return CallPreviousWindowProc(m_layer, hwnd, message, wParam, lParam);
}

void CMessageWnd::Draw(HDC dc, HWND hwnd, POINT position) {
    if (!dc || !hwnd || !m_tab) return;
    if ((!m_background || !m_textBuffer) && !CreateBuffers()) return;
    if (!m_text || !m_textBuffer) return;
    DrawContent(m_text);
    BitBlt(dc, position.x, position.y, Width(m_rect), Height(m_rect), m_textBuffer->GetDC(), 0, 0, SRCCOPY);
}

BOOL CMessageWnd::CreateBuffers() {
    CMemoryDC* picture = g_pictureLookup && m_tab ? g_pictureLookup(m_tab) : nullptr;
    if (!picture || !picture->GetDC()) return FALSE;
    FreeBuffers();
    const SIZE size{Width(m_rect), Height(m_rect)};
    m_background = new (std::nothrow) CMemoryDC(24, size);
    m_textBuffer = new (std::nothrow) CMemoryDC(24, size);
    if (!m_background || !m_textBuffer || !m_background->GetDC() || !m_textBuffer->GetDC()) {
        FreeBuffers();
        return FALSE;
    }
    HDC source = picture->GetDC();
    HDC text = m_textBuffer->GetDC();
    BitBlt(m_background->GetDC(), 0, 0, size.cx, size.cy, source, m_rect.left, m_rect.top, SRCCOPY);
    SetBkMode(text, TRANSPARENT);
    SetTextColor(text, GetTextColor(source));
    m_textBuffer->SelectFontVariant(static_cast<HFONT>(GetCurrentObject(source, OBJ_FONT)), nullptr, nullptr);
    return m_background != nullptr;
}

void CMessageWnd::FreeBuffers() {
    delete m_background;
    delete m_textBuffer;
    m_background = nullptr;
    m_textBuffer = nullptr;
}

int CMessageWnd::GetScrollPosition() const {
    ScrollLock lock(m_scrollMutex);
    return m_scrollPosition;
}

int CMessageWnd::GetTextHeight() const {
    ScrollLock lock(m_scrollMutex);
    return m_textHeight;
}

void CMessageWnd::DrawContent(const wchar_t* text) {
    if (!text || !m_background || !m_textBuffer) return;
    ScrollLock lock(m_scrollMutex);
    HDC dc = m_textBuffer->GetDC();
    const int height = Height(m_rect);
    RECT area{0, 0, Width(m_rect), height};
    if (m_textHeight == 0) {
        RECT measure = area;
        m_textHeight = DrawTextW(dc, text, -1, &measure, DT_CALCRECT | DT_WORDBREAK | DT_NOCLIP);
        m_scrollPosition = -height;
    }
    // the text has left at the top: it comes in again from below
    if (m_textHeight < m_scrollPosition) m_scrollPosition = -height;
    area.top = -m_scrollPosition;
    BitBlt(dc, 0, 0, area.right, height, m_background->GetDC(), 0, 0, SRCCOPY);
    if (!(m_flags & TEXTWND_BOLD_FIRST_LINE)) {
        DrawTextW(dc, text, -1, &area, DT_WORDBREAK | DT_NOCLIP);
        return;
    }
    const wchar_t* lineFeed = std::wcschr(text, L'\n');
    const int firstLength = lineFeed ? static_cast<int>(lineFeed - text) : -1;
    LONG weight = kBoldWeight;
    m_textBuffer->SelectFontVariant(static_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT)), &weight, nullptr);
    area.top += DrawTextW(dc, text, firstLength, &area, DT_NOCLIP);
    m_textBuffer->SelectFontVariant(static_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT)), &weight, nullptr);
    if (lineFeed) DrawTextW(dc, lineFeed + 1, -1, &area, DT_WORDBREAK | DT_NOCLIP);
}

// ---------------------------------------------------------------------------------
// CScrollWnd

CScrollWnd::CScrollWnd(HWND dialog, int controlId, CBaseDriverTab* tab, wchar_t* text, DWORD interval, DWORD flags)
    : CMessageWnd(dialog, controlId, tab, text, flags) {
    m_interval = interval;
    if (m_interval != 0 && m_window) {
        m_textHeight = 0;
        StartScroll();
    }
}

CScrollWnd::~CScrollWnd() { StopScroll(); }

void CScrollWnd::StartScroll() {
    StopScroll();
    if (!m_window || m_interval == 0) return;
    if (!m_scrollMutex) m_scrollMutex = CreateMutexW(nullptr, FALSE, nullptr);
    m_scrollThread = CreateThread(nullptr, 0, ScrollThread, this, 0, nullptr);
}

void CScrollWnd::StopScroll() { EndScrollThread(); }

bool CScrollWnd::IsScrolling() const {
    return m_scrollThread && WaitForSingleObject(m_scrollThread, 0) == WAIT_TIMEOUT;
}

DWORD WINAPI CScrollWnd::ScrollThread(LPVOID self) {
    CScrollWnd* window = static_cast<CScrollWnd*>(self);
    HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);  // never set: a plain pause
    while (!window->m_stop) {
        if (timer)
            WaitForSingleObject(timer, window->m_interval);
        else
            Sleep(window->m_interval);
        if (window->m_stop) break;
        {
            ScrollLock lock(window->m_scrollMutex);
            ++window->m_scrollPosition;
        }
        InvalidateRect(window->m_window, nullptr, FALSE);
    }
    if (timer) CloseHandle(timer);
    return 0;
}

void CScrollWnd::TrackMouse(HWND hwnd, POINT client) {
    HWND captured = GetCapture();
    if (captured == hwnd) {
        if (PointInside(hwnd, client)) return;
        StartScroll();
        ReleaseCapture();
    } else if (!captured) {
        // the text stands still under the mouse
        SetCapture(hwnd);
        m_stop = 1;
    }
}

LRESULT CScrollWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCHITTEST) {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(hwnd, &point);
        TrackMouse(hwnd, point);
    } else if (message == WM_MOUSEMOVE) {
        TrackMouse(hwnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    }
    return CMessageWnd::WindowProc(hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------------
// CLinkWnd

CLinkWnd::CLinkWnd(HWND dialog, int controlId, CBaseDriverTab* tab, wchar_t* text, wchar_t* address, BOOL enabled,
                   DWORD flags)
    : CMessageWnd(dialog, controlId, tab, text, flags), m_address(address), m_savedCursor(nullptr),
      m_enabled(enabled) {}

CLinkWnd::~CLinkWnd() {
    delete[] m_address;
    m_address = nullptr;
}

BOOL CLinkWnd::CreateBuffers() {
    BOOL made = CMessageWnd::CreateBuffers();
    if (m_textBuffer && m_textBuffer->GetDC() && LoadCursorW(nullptr, IDC_HAND)) {
        HDC dc = m_textBuffer->GetDC();
        SetTextColor(dc, m_enabled ? kLinkColour : kDisabledLinkColour);
        LONG underline = 1;
        m_textBuffer->SelectFontVariant(static_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT)), nullptr, &underline);
    }
    return made;
}

void CLinkWnd::TrackMouse(HWND hwnd, POINT client) {
    HWND captured = GetCapture();
    if (captured == hwnd) {
        if (PointInside(hwnd, client)) return;
        ReleaseCapture();
        if (m_enabled) SetCursor(m_savedCursor);
    } else if (!captured) {
        if (m_enabled) m_savedCursor = SetCursor(LoadCursorW(nullptr, IDC_HAND));
        SetCapture(hwnd);
    }
}

LRESULT CLinkWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCHITTEST: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(hwnd, &point);
        TrackMouse(hwnd, point);
        break;
    }
    case WM_MOUSEMOVE:
        TrackMouse(hwnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_LBUTTONUP:
        if (m_address && m_enabled) {
            // a data file may come from the controller: open web addresses only, never a program
            if (IsOpenableLinkAddress(m_address)) (g_shellExecute ? g_shellExecute : ShellExecuteByName)(hwnd, L"open", m_address, nullptr, nullptr, SW_SHOWNORMAL);
            return 0;
        }
        break;
    default:
        break;
    }
    return CMessageWnd::WindowProc(hwnd, message, wParam, lParam);
}
