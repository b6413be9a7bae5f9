// Text windows of the about page (see TextWindows.h).
#include "sheets/TextWindows.h"

#include <shellapi.h>

#include "sheets/MemoryDC.h"

namespace {
TabPictureLookup g_pictureLookup = nullptr;
LinkShellExecuteFn g_shellExecute = ShellExecuteW;
}  // namespace

TabPictureLookup SetTabPictureLookup(TabPictureLookup lookup) {
    TabPictureLookup previous = g_pictureLookup;
    g_pictureLookup = lookup;
    return previous;
}

LinkShellExecuteFn SetLinkShellExecute(LinkShellExecuteFn fn) {
    LinkShellExecuteFn previous = g_shellExecute;
    g_shellExecute = fn ? fn : ShellExecuteW;
    return previous;
}

bool IsOpenableLinkAddress(const wchar_t* address) {
    return address && (_wcsnicmp(address, L"http://", 7) == 0 || _wcsnicmp(address, L"https://", 8) == 0);
}

CMessageWnd::CMessageWnd(HWND, int, CBaseDriverTab* tab, wchar_t* text, DWORD flags)
    : m_background(nullptr), m_textBuffer(nullptr), m_rect{}, m_text(text), m_textHeight(0), m_scrollPosition(0),
      m_layer(nullptr), m_window(nullptr), m_tab(tab), m_flags(flags), m_interval(0), m_scrollThread(nullptr),
      m_scrollMutex(nullptr), m_stop(0) {}
CMessageWnd::~CMessageWnd() { delete[] m_text; }
BOOL CMessageWnd::CreateBuffers() { return FALSE; }
void CMessageWnd::FreeBuffers() {}
LRESULT CMessageWnd::WindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT CALLBACK CMessageWnd::StaticWndProc(HWND, UINT, WPARAM, LPARAM) { return 1; }
void CMessageWnd::Draw(HDC, HWND, POINT) {}
int CMessageWnd::GetScrollPosition() const { return m_scrollPosition; }
int CMessageWnd::GetTextHeight() const { return m_textHeight; }
void CMessageWnd::DrawContent(const wchar_t*) {}
void CMessageWnd::LayerGone(void*) {}

CScrollWnd::CScrollWnd(HWND dialog, int controlId, CBaseDriverTab* tab, wchar_t* text, DWORD interval, DWORD flags)
    : CMessageWnd(dialog, controlId, tab, text, flags) {
    m_interval = interval;
}
CScrollWnd::~CScrollWnd() {}
LRESULT CScrollWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CMessageWnd::WindowProc(hwnd, message, wParam, lParam);
}
void CScrollWnd::StartScroll() {}
void CScrollWnd::StopScroll() {}
DWORD WINAPI CScrollWnd::ScrollThread(LPVOID) { return 0; }
bool CScrollWnd::IsScrolling() const { return false; }
void CScrollWnd::TrackMouse(HWND, POINT) {}

CLinkWnd::CLinkWnd(HWND dialog, int controlId, CBaseDriverTab* tab, wchar_t* text, wchar_t* address, BOOL enabled,
                   DWORD flags)
    : CMessageWnd(dialog, controlId, tab, text, flags), m_address(address), m_savedCursor(nullptr),
      m_enabled(enabled) {}
CLinkWnd::~CLinkWnd() { delete[] m_address; }
BOOL CLinkWnd::CreateBuffers() { return CMessageWnd::CreateBuffers(); }
LRESULT CLinkWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CMessageWnd::WindowProc(hwnd, message, wParam, lParam);
}
void CLinkWnd::TrackMouse(HWND, POINT) {}
