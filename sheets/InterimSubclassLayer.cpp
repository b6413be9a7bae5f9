// INTERIM (replaced by the window-components branch).
#include "sheets/SubclassLayer.h"

#include <cstdlib>
#include <new>

SubclassLayer* FindSubclassLayer(HWND hwnd, WNDPROC procedure) noexcept
{
    if (!hwnd) return nullptr;
    for (auto* l = reinterpret_cast<SubclassLayer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); l; l = l->next)
        if (l->procedure == procedure) return l;
    return nullptr;
}

SubclassLayer* AddSubclassLayer(HWND hwnd, WNDPROC procedure, int index) noexcept
{
    if (!hwnd || !procedure) return nullptr;
    if (auto* existing = FindSubclassLayer(hwnd, procedure)) return existing;
    auto* l = static_cast<SubclassLayer*>(std::calloc(1, sizeof(SubclassLayer)));
    if (!l) return nullptr;
    l->window = hwnd;
    l->index = index;
    l->procedure = procedure;
    l->previousProc = SetWindowLongPtrW(hwnd, index, reinterpret_cast<LONG_PTR>(procedure));
    l->next = reinterpret_cast<SubclassLayer*>(SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(l)));
    return l;
}

void RemoveSubclassLayer(SubclassLayer* layer) noexcept
{
    if (!layer) return;
    if (layer->destroyData && layer->data) layer->destroyData(layer->data);
    layer->data = nullptr;
    auto* head = reinterpret_cast<SubclassLayer*>(GetWindowLongPtrW(layer->window, GWLP_USERDATA));
    if (head == layer) {
        SetWindowLongPtrW(layer->window, layer->index, layer->previousProc);
        SetWindowLongPtrW(layer->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(layer->next));
    } else {
        for (auto* l = head; l; l = l->next)
            if (l->next == layer) {
                l->next = layer->next;
                l->previousProc = layer->previousProc;
                l->previousData = layer->previousData;
                break;
            }
    }
    std::free(layer);
}

LRESULT CallPreviousWindowProc(SubclassLayer* layer, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (!layer || !layer->previousProc) return 0;
    return CallWindowProcW(reinterpret_cast<WNDPROC>(layer->previousProc), hwnd, message, wParam, lParam);
}

void* GetSubclassData(HWND hwnd, WNDPROC procedure) noexcept
{
    if (!hwnd) return nullptr;
    for (auto* l = reinterpret_cast<SubclassLayer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); l; l = l->next) {
        if (l->procedure == procedure && l->data) return l->data;
        if (reinterpret_cast<WNDPROC>(l->previousProc) == procedure && l->previousData) return l->previousData;
    }
    return nullptr;
}

void SetSubclassData(HWND hwnd, WNDPROC procedure, void* data) noexcept
{
    if (!hwnd) return;
    for (auto* l = reinterpret_cast<SubclassLayer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); l; l = l->next) {
        if (l->procedure == procedure) l->data = data;
        if (reinterpret_cast<WNDPROC>(l->previousProc) == procedure) l->previousData = data;
    }
}

const wchar_t* GetEditLayerText(HWND) noexcept { return nullptr; }
bool SetEditLayerText(HWND, const wchar_t*) noexcept { return false; }

#include "sheets/DialogTemplate.h"
#include <cstring>
#include <cwchar>

namespace {
const BYTE* SkipField(const BYTE* p)
{
    auto w = reinterpret_cast<const WORD*>(p);
    if (*w == 0xFFFF) return p + 4;
    return p + (std::wcslen(reinterpret_cast<const wchar_t*>(p)) + 1) * 2;
}
const BYTE* Align4(const BYTE* base, const BYTE* p) { return base + ((p - base + 3) & ~3); }
}  // namespace

BYTE* CopyAsDialogTemplateEx(const void* dialogTemplate) noexcept
{
    auto base = static_cast<const BYTE*>(dialogTemplate);
    if (!base || reinterpret_cast<const WORD*>(base)[1] != 0xFFFF) return nullptr;
    DWORD style = *reinterpret_cast<const DWORD*>(base + 12);
    WORD count = *reinterpret_cast<const WORD*>(base + 16);
    const BYTE* p = base + 26;
    p = SkipField(SkipField(p));
    p += (std::wcslen(reinterpret_cast<const wchar_t*>(p)) + 1) * 2;
    if (style & DS_SETFONT) p = SkipField(p + 6);
    for (WORD i = 0; i < count; ++i) {
        p = Align4(base, p) + 24;
        p = SkipField(SkipField(p));
        p += 2 + *reinterpret_cast<const WORD*>(p);
    }
    size_t size = p - base;
    BYTE* copy = new (std::nothrow) BYTE[size];
    if (copy) std::memcpy(copy, base, size);
    return copy;
}
