// Helpers of the window-part tests: a host window for dialogs made from templates, message
// pumping, pixels of a device context and PNG screenshots in the build tree.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sheettest {

// A visible top-level window that hosts the test dialogs; destroyed with the object.
class HostWindow {
public:
    HostWindow(int width = 640, int height = 480);
    ~HostWindow();
    HWND Get() const { return m_window; }

private:
    HWND m_window;
};

// Dispatches the queued messages of the thread (for about ms milliseconds when ms > 0).
void Pump(DWORD ms = 0);

// The template resource of this program (null when missing); size receives its size.
const void* TemplateResource(int id, DWORD* size);

// A modeless dialog from an in-memory template, child of the host; the procedure answers FALSE.
HWND CreateDialogFrom(HWND host, const void* dialogTemplate);

// A 32-bit top-down DIB section; bits receives its pixels.
HBITMAP CreateTopDownDib(int width, int height, void** bits);

// The pixels of a rectangle of a DC, as 0x00RRGGBB values row by row from the top.
std::vector<uint32_t> ReadPixels(HDC dc, const RECT& area);

// Saves a rectangle of a DC as an RGB PNG; false on failure.
bool SavePng(HDC dc, const RECT& area, const std::wstring& path);
// Saves what the screen shows of a window (children included) as a PNG in this test's build folder.
bool SaveWindowPng(HWND window, const wchar_t* name);

}  // namespace sheettest
