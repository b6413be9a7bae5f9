// Helpers of the window-part tests (see SheetTestSupport.h).
#include "SheetTestSupport.h"

#include <png.h>

#include <cstdio>

namespace sheettest {

namespace {

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Without a window manager, Wine waits ~2 s for each top-level window to be managed; unmanaged
// windows appear and go at once. Read by Wine's X11 driver when it starts in a process, so this
// runs before the first window of the program.
struct UnmanagedWindows {
    UnmanagedWindows() {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
            RegCloseKey(key);
        }
    }
} g_unmanagedWindows;

INT_PTR CALLBACK TestDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

}  // namespace

HostWindow::HostWindow(int width, int height) : m_window(nullptr) {
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = HostProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = L"SheetPartsTestHost";
        atom = RegisterClassW(&wc);
    }
    m_window = CreateWindowExW(0, L"SheetPartsTestHost", L"test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                               width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    Pump();
}

HostWindow::~HostWindow() {
    if (m_window) DestroyWindow(m_window);
    Pump();
}

void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (ms) Sleep(1);
    } while (ms && GetTickCount() - start < ms);
}

const void* TemplateResource(int id, DWORD* size) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    if (!found) return nullptr;
    if (size) *size = SizeofResource(module, found);
    return LockResource(LoadResource(module, found));
}

HWND CreateDialogFrom(HWND host, const void* dialogTemplate) {
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                             static_cast<LPCDLGTEMPLATEW>(dialogTemplate), host, TestDialogProc, 0);
    Pump();
    return dialog;
}

HBITMAP CreateTopDownDib(int width, int height, void** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

std::vector<uint32_t> ReadPixels(HDC dc, const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    std::vector<uint32_t> pixels;
    if (width <= 0 || height <= 0) return pixels;
    HDC copyDc = CreateCompatibleDC(dc);
    void* bits = nullptr;
    HBITMAP copy = CreateTopDownDib(width, height, &bits);
    if (copyDc && copy) {
        HGDIOBJ old = SelectObject(copyDc, copy);
        BitBlt(copyDc, 0, 0, width, height, dc, area.left, area.top, SRCCOPY);
        GdiFlush();
        const uint32_t* data = static_cast<const uint32_t*>(bits);
        pixels.assign(data, data + static_cast<size_t>(width) * height);
        for (uint32_t& pixel : pixels) pixel &= 0x00FFFFFF;
        SelectObject(copyDc, old);
    }
    if (copy) DeleteObject(copy);
    if (copyDc) DeleteDC(copyDc);
    return pixels;
}

bool SavePng(HDC dc, const RECT& area, const std::wstring& path) {
    const std::vector<uint32_t> pixels = ReadPixels(dc, area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (pixels.empty()) return false;
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    volatile bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint32_t pixel = pixels[static_cast<size_t>(y) * width + x];
                row[x * 3] = static_cast<png_byte>(pixel >> 16);
                row[x * 3 + 1] = static_cast<png_byte>(pixel >> 8);
                row[x * 3 + 2] = static_cast<png_byte>(pixel);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    std::fclose(file);
    return ok;
}

bool SaveWindowPng(HWND window, const wchar_t* name) {
    RECT area{};
    if (!GetWindowRect(window, &area)) return false;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump();
    HDC screen = GetDC(nullptr);
    const bool saved = SavePng(screen, area, std::wstring(TOLVA_BINARY_DIR_W) + L"\\" + name);
    ReleaseDC(nullptr, screen);
    return saved;
}

}  // namespace sheettest
