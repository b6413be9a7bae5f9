// INTERIM (replaced by the window-components branch): the subclass chain as the tab
// framework uses it.
#pragma once

#include <windows.h>

struct SubclassLayer {
    HWND window;
    LONG_PTR previousProc;
    void* previousData;
    int index;
    WNDPROC procedure;
    void* data;
    void (*destroyData)(void*);
    void (*removeSkin)(SubclassLayer*);
    SubclassLayer* next;
};

SubclassLayer* AddSubclassLayer(HWND hwnd, WNDPROC procedure, int index) noexcept;
void RemoveSubclassLayer(SubclassLayer* layer) noexcept;
LRESULT CallPreviousWindowProc(SubclassLayer* layer, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
void* GetSubclassData(HWND hwnd, WNDPROC procedure) noexcept;
void SetSubclassData(HWND hwnd, WNDPROC procedure, void* data) noexcept;
SubclassLayer* FindSubclassLayer(HWND hwnd, WNDPROC procedure) noexcept;
const wchar_t* GetEditLayerText(HWND edit) noexcept;
bool SetEditLayerText(HWND edit, const wchar_t* text) noexcept;
