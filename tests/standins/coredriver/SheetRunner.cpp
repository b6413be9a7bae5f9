// The core driver's property-sheet side over Wine's compstui.
#include "tests/standins/coredriver/SheetRunner.h"

#include <commctrl.h>
#include <png.h>
#include <prsht.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace coredriver {

namespace {

// The run of the sheet open on this thread (one at a time).
thread_local SheetRun* t_run = nullptr;
thread_local HANDLE t_compHandle = nullptr;
thread_local PFNCOMPROPSHEET t_compFn = nullptr;
thread_local UINT_PTR t_timer = 0;
thread_local bool t_scriptDone = false;

LONG_PTR CALLBACK ForwardComPropSheet(HANDLE, UINT function, LPARAM lParam1, LPARAM lParam2)
{
    SheetRun* run = t_run;
    if (!run) return 0;
    if (function == CPSFUNC_SET_RESULT) {
        // Wine's compstui does not pass the result on: the host records it.
        run->setResultCalled = true;
        run->setResult = lParam2;
        return 1;
    }
    LONG_PTR result = t_compFn ? t_compFn(t_compHandle, function, lParam1, lParam2) : 0;
    if (function == CPSFUNC_ADD_PROPSHEETPAGEW && result) {
        ++run->pagesAdded;
        run->pageHandles.push_back(result);
    }
    return result;
}

BOOL CALLBACK FindSheet(HWND window, LPARAM found)
{
    if (FindWindowExW(window, nullptr, L"SysTabControl32", nullptr) && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR, DWORD)
{
    SheetRun* run = t_run;
    if (!run || t_scriptDone) return;
    HWND sheet = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindSheet, reinterpret_cast<LPARAM>(&sheet));
    if (!sheet || !CurrentPage(sheet)) return;
    t_scriptDone = true;
    KillTimer(nullptr, t_timer);
    t_timer = 0;
    run->pageActivated = true;
    if (run->scriptDelayMs) Sleep(run->scriptDelayMs);
    if (run->script) run->script(sheet);
    if (IsWindow(sheet)) PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

LONG_PTR APIENTRY SheetFunction(PPROPSHEETUI_INFO info, LPARAM lParam)
{
    SheetRun* run = t_run;
    if (!info || !run) return 0;
    if (info->Reason == PROPSHEETUI_REASON_BEFORE_INIT) return 1;  // compstui's own first call
    if (info->Reason == PROPSHEETUI_REASON_INIT) {
        t_compHandle = info->hComPropSheet;
        t_compFn = info->pfnComPropSheet;
    }
    // The plug-in sees the core driver's own record: its sheet handle, the forwarder and the
    // sheet's parameters; what it stores there is copied back.
    PROPSHEETUI_INFO own = *info;
    own.pfnComPropSheet = ForwardComPropSheet;
    own.lParamInit = reinterpret_cast<LPARAM>(run->param);
    run->reasons.push_back(info->Reason);
    HRESULT hr = run->entry ? run->entry(&own, lParam) : E_FAIL;
    run->entryResults.push_back(hr);
    info->UserData = own.UserData;
    info->Result = own.Result;
    // The core driver heads the sheet itself; a plug-in's header title never reaches the caption.
    if (info->Reason == PROPSHEETUI_REASON_GET_INFO_HEADER && lParam && !run->caption.empty()) {
        auto* header = reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam);
        header->pTitle = const_cast<LPWSTR>(run->caption.c_str());
        header->Flags &= ~PSUIHDRF_PROPTITLE;
    }
    if (info->Reason == PROPSHEETUI_REASON_INIT && !t_timer)
        t_timer = SetTimer(nullptr, 0, 50, ScriptTimer);
    return SUCCEEDED(hr) ? 1 : -1;
}

// Writes the 32-bit top-down pixels as an RGB PNG.
bool WritePng(FILE* file, const DWORD* pixels, int width, int height)
{
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        if (png) png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            DWORD p = pixels[y * width + x];
            row[x * 3] = static_cast<png_byte>(p >> 16);
            row[x * 3 + 1] = static_cast<png_byte>(p >> 8);
            row[x * 3 + 2] = static_cast<png_byte>(p);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

HRESULT STDMETHODCALLTYPE RecordingCoreUI::GetOptions(POEMUIOBJ object, DWORD flags, PCSTR requested,
                                                      DWORD requestedSize, PSTR buffer, DWORD size, PDWORD needed)
{
    ++getOptionsCalls;
    if (getOptionsAnswersAtOnce) {
        if (needed) *needed = 0;
        return S_OK;
    }
    return CoreUIStandIn::GetOptions(object, flags, requested, requestedSize, buffer, size, needed);
}

HRESULT STDMETHODCALLTYPE RecordingCoreUI::SetOptions(POEMUIOBJ object, DWORD flags, PCSTR pairs, DWORD pairsSize,
                                                      PDWORD result)
{
    SetOptionsCall call;
    call.flags = flags;
    if (pairs) call.list.assign(pairs, pairsSize);
    setOptionsCalls.push_back(call);
    if (setOptionsResult != S_OK) return setOptionsResult;
    return CoreUIStandIn::SetOptions(object, flags, pairs, pairsSize, result);
}

HWND CurrentPage(HWND sheet)
{
    return sheet ? reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)) : nullptr;
}

void SettleSheet(HWND sheet, DWORD ms)
{
    // Above other programs' windows on the same display, for the screenshot.
    if (sheet) SetWindowPos(sheet, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    if (sheet) RedrawWindow(sheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD start = GetTickCount();
    MSG message;
    do {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_TIMER && message.hwnd == nullptr) continue;  // the script's own timer
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
    if (sheet) UpdateWindow(sheet);
}

std::vector<std::wstring> PageTitles(HWND sheet)
{
    std::vector<std::wstring> titles;
    HWND tabs = sheet ? FindWindowExW(sheet, nullptr, L"SysTabControl32", nullptr) : nullptr;
    if (!tabs) return titles;
    int count = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 127;
        SendMessageW(tabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
        titles.emplace_back(text);
    }
    return titles;
}

bool SaveWindowPng(HWND window, const std::wstring& path, SIZE* size, bool* singleColour)
{
    RECT rect;
    if (!window || !GetWindowRect(window, &rect)) return false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib && memory) {
        HGDIOBJ old = SelectObject(memory, dib);
        ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
        SelectObject(memory, old);
        GdiFlush();
    }
    ReleaseDC(nullptr, screen);
    if (memory) DeleteDC(memory);
    if (ok) {
        auto* pixels = static_cast<const DWORD*>(bits);
        bool same = true;
        for (int i = 1; i < width * height && same; ++i) same = (pixels[i] & 0xFFFFFF) == (pixels[0] & 0xFFFFFF);
        if (singleColour) *singleColour = same;
        FILE* file = _wfopen(path.c_str(), L"wb");
        ok = file && WritePng(file, pixels, width, height);
        if (file) fclose(file);
        if (size) *size = SIZE{width, height};
    }
    if (dib) DeleteObject(dib);
    return ok;
}

bool RunPropertySheet(SheetRun& run)
{
    HMODULE compstui = LoadLibraryW(L"compstui.dll");
    auto common = compstui ? reinterpret_cast<PFNCOMMONPROPERTYSHEETUIW>(
                                 reinterpret_cast<void (*)()>(GetProcAddress(compstui, "CommonPropertySheetUIW")))
                           : nullptr;
    if (!common) {
        run.error = L"compstui.dll or CommonPropertySheetUIW is missing";
        return false;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    t_run = &run;
    t_scriptDone = false;
    t_timer = 0;
    DWORD result = 0;
    run.commonResult = common(nullptr, SheetFunction, 0, &result);
    run.sheetResult = result;
    if (t_timer) KillTimer(nullptr, t_timer);
    t_timer = 0;
    t_run = nullptr;
    t_compFn = nullptr;
    t_compHandle = nullptr;
    FreeLibrary(compstui);
    // Without a display Wine still reports success: only an active page counts.
    if (!run.pageActivated) {
        if (run.error.empty()) run.error = L"no page of the sheet became active";
        return false;
    }
    return true;
}

namespace {

struct DialogSearch {
    int control, otherControl;
    HWND found;
    const std::vector<HWND>* skipped;  // boxes already answered
};

BOOL CALLBACK FindDialogWithControls(HWND hwnd, LPARAM parameter)
{
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    if (std::find(search->skipped->begin(), search->skipped->end(), hwnd) != search->skipped->end()) return TRUE;
    if (GetDlgItem(hwnd, search->control) && GetDlgItem(hwnd, search->otherControl)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

DialogAnswerer::DialogAnswerer(DWORD thread, int control, int otherControl, int button, std::function<void(HWND)> seen)
    : m_worker([this, thread, control, otherControl, button, seen] {
          // A box that was answered stays a window until its modal loop has ended (a while on a
          // busy machine): it is answered, and counted, once.
          std::vector<HWND> answered;
          while (!m_stop) {
              DialogSearch search = {control, otherControl, nullptr, &answered};
              EnumThreadWindows(thread, FindDialogWithControls, reinterpret_cast<LPARAM>(&search));
              if (search.found) {
                  answered.push_back(search.found);
                  if (seen) seen(search.found);
                  ++m_answered;
                  SendMessageW(search.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
              }
              Sleep(20);
          }
      })
{
}

DialogAnswerer::~DialogAnswerer() { Stop(); }

int DialogAnswerer::Stop()
{
    m_stop = true;
    if (m_worker.joinable()) m_worker.join();
    return m_answered;
}

}  // namespace coredriver
