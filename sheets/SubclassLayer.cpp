// The window subclass chain (see SubclassLayer.h). The control skins live in ControlSkins.cpp.
#include "sheets/SubclassLayer.h"

#include <cstdlib>

SubclassLayer* GetTopSubclassLayer(HWND hwnd) {
    if (!hwnd) return nullptr;
    return reinterpret_cast<SubclassLayer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

SubclassLayer* FindSubclassLayer(HWND hwnd, WNDPROC procedure) {
    for (SubclassLayer* layer = GetTopSubclassLayer(hwnd); layer; layer = layer->next) {
        if (layer->procedure == procedure) return layer;
    }
    return nullptr;
}

SubclassLayer* AddSubclassLayer(HWND hwnd, WNDPROC procedure, int index) {
    if (!hwnd || !procedure) return nullptr;
    if (SubclassLayer* existing = FindSubclassLayer(hwnd, procedure)) return existing;
    SubclassLayer* layer = static_cast<SubclassLayer*>(std::calloc(1, sizeof(SubclassLayer)));
    if (!layer) return nullptr;
    layer->window = hwnd;
    layer->index = index;
    layer->procedure = procedure;
    layer->previousProcedure =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hwnd, index, reinterpret_cast<LONG_PTR>(procedure)));
    layer->next = reinterpret_cast<SubclassLayer*>(
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(layer)));
    return layer;
}

void RemoveSubclassLayer(SubclassLayer* layer) {
    if (!layer) return;
    if (layer->destroyData && layer->data) layer->destroyData(layer->data);
    layer->data = nullptr;
    SubclassLayer* head = GetTopSubclassLayer(layer->window);
    if (head == layer) {
        SetWindowLongPtrW(layer->window, layer->index, reinterpret_cast<LONG_PTR>(layer->previousProcedure));
        SetWindowLongPtrW(layer->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(layer->next));
    } else {
        for (SubclassLayer* above = head; above; above = above->next) {
            if (above->next != layer) continue;
            // the layer above now calls what this layer called, with its data
            above->next = layer->next;
            above->previousProcedure = layer->previousProcedure;
            above->previousData = layer->previousData;
            break;
        }
    }
    std::free(layer);
}

LRESULT CallPreviousWindowProc(SubclassLayer* layer, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!layer || !layer->previousProcedure) return 0;
    LRESULT result = CallWindowProcW(layer->previousProcedure, hwnd, message, wParam, lParam);
    if (result != 0 && hwnd) {
        // Repaint the frame only (the non-client area): invalidating the client here would
        // repaint for ever, as painting itself sends messages with non-zero results.
        RECT window{};
        RECT client{};
        POINT origin{0, 0};
        if (GetWindowRect(hwnd, &window) && GetClientRect(hwnd, &client) && ClientToScreen(hwnd, &origin)) {
            OffsetRect(&window, -origin.x, -origin.y);
            if (!EqualRect(&window, &client)) {
                HRGN frame = CreateRectRgnIndirect(&window);
                HRGN inner = CreateRectRgnIndirect(&client);
                if (frame && inner && CombineRgn(frame, frame, inner, RGN_DIFF) != NULLREGION)
                    RedrawWindow(hwnd, nullptr, frame, RDW_FRAME | RDW_INVALIDATE);
                if (frame) DeleteObject(frame);
                if (inner) DeleteObject(inner);
            }
        }
    }
    return result;
}

void* GetSubclassData(HWND hwnd, WNDPROC procedure) {
    for (SubclassLayer* layer = GetTopSubclassLayer(hwnd); layer; layer = layer->next) {
        if (layer->procedure == procedure) return layer->data;
        if (layer->previousProcedure == procedure) return layer->previousData;
    }
    return nullptr;
}

void SetSubclassData(HWND hwnd, WNDPROC procedure, void* data) {
    for (SubclassLayer* layer = GetTopSubclassLayer(hwnd); layer; layer = layer->next) {
        if (layer->procedure == procedure) layer->data = data;
        if (layer->previousProcedure == procedure) layer->previousData = data;
    }
}
