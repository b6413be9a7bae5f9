// Text windows of the about page: a static control taken over to paint its text,
// double-buffered, onto a copy of the page's background picture (CMessageWnd); a text that
// scrolls upwards in a thread of its own and stands still under the mouse (CScrollWnd); a
// hyperlink opened with the shell (CLinkWnd, http and https addresses only).
#pragma once

#include <windows.h>

#include "sheets/SubclassLayer.h"

class CMemoryDC;
class CBaseDriverTab;

// How a text window finds its page's background picture (the tab's DrawBitmap picture);
// the tab framework registers it, tests register their own. Null from it means no picture yet.
using TabPictureLookup = CMemoryDC* (*)(CBaseDriverTab* tab);
// Installs the lookup for the process; returns the previous one.
TabPictureLookup SetTabPictureLookup(TabPictureLookup lookup);

// The shell call a link opens its address with (ShellExecuteW by default); tests install a
// recorder. Null restores ShellExecuteW; returns the previous one.
using LinkShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
LinkShellExecuteFn SetLinkShellExecute(LinkShellExecuteFn fn);

// Whether a link address may be opened: only http:// and https:// addresses.
bool IsOpenableLinkAddress(const wchar_t* address);

// Flag bit 0 of the text windows: the first line (up to the first line feed) is drawn bold.
constexpr DWORD TEXTWND_BOLD_FIRST_LINE = 0x1;

class CMessageWnd {
public:
    // Takes over control id of the dialog; owns text (new[]). Inert without dialog or tab.
    CMessageWnd(HWND dialog, int controlId, CBaseDriverTab* tab, wchar_t* text, DWORD flags);
    virtual ~CMessageWnd();

    CMessageWnd(const CMessageWnd&) = delete;
    CMessageWnd& operator=(const CMessageWnd&) = delete;

    virtual BOOL CreateBuffers();
    virtual void FreeBuffers();
    virtual LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // The procedure installed on the control (through the subclass chain).
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // Paints the text at position into dc (makes the buffers on first use).
    void Draw(HDC dc, HWND hwnd, POINT position);

    HWND GetWindow() const { return m_window; }
    int GetScrollPosition() const;
    int GetTextHeight() const;

protected:
    void DrawContent(const wchar_t* text);
    // Ends the scroll thread when there is one (after its current step) and waits for it.
    void EndScrollThread();
    static void LayerGone(void* self);

    CMemoryDC* m_background;
    CMemoryDC* m_textBuffer;
    RECT m_rect;  // the control in the dialog's client coordinates
    wchar_t* m_text;
    int m_textHeight;
    int m_scrollPosition;
    SubclassLayer* m_layer;  // the control's layer for StaticWndProc; null once removed
    HWND m_window;
    CBaseDriverTab* m_tab;
    DWORD m_flags;
    DWORD m_interval;
    HANDLE m_scrollThread;
    HANDLE m_scrollMutex;
    volatile LONG m_stop;
};

class CScrollWnd : public CMessageWnd {
public:
    // As CMessageWnd; with a non-zero interval (ms) the text scrolls up one pixel per interval.
    CScrollWnd(HWND dialog, int controlId, CBaseDriverTab* tab, wchar_t* text, DWORD interval, DWORD flags);
    ~CScrollWnd() override;

    LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void StartScroll();
    void StopScroll();
    static DWORD WINAPI ScrollThread(LPVOID self);
    bool IsScrolling() const;

private:
    void TrackMouse(HWND hwnd, POINT client);
};

class CLinkWnd : public CMessageWnd {
public:
    // As CMessageWnd with a link address (new[], owned) opened on click when enabled.
    CLinkWnd(HWND dialog, int controlId, CBaseDriverTab* tab, wchar_t* text, wchar_t* address, BOOL enabled,
             DWORD flags);
    ~CLinkWnd() override;

    BOOL CreateBuffers() override;
    LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void TrackMouse(HWND hwnd, POINT client);

    wchar_t* m_address;
    HCURSOR m_savedCursor;
    BOOL m_enabled;
};
