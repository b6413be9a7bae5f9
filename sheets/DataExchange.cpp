// The page's dialog layer with its exchange table and button rows, and the exchange callbacks.
#include "sheets/DataExchange.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "sheets/StrSetting.h"
#include "sheets/SubclassLayer.h"

namespace {


struct ButtonTable {
    size_t bytes;
    ExchangeButton* rows;
    ButtonTable* next;
};

struct ExchangeHolder {
    ButtonTable* buttons;
    DataExchangeEntry* rows;
    int count;
};

void FreeHolder(void* data)
{
    auto* holder = static_cast<ExchangeHolder*>(data);
    if (!holder) return;
    for (ButtonTable* node = holder->buttons; node;) {
        ButtonTable* next = node->next;
        std::free(node->rows);
        std::free(node);
        node = next;
    }
    std::free(holder->rows);
    std::free(holder);
}

// The page's holder, made on first use and freed with the layer.
ExchangeHolder* Holder(SubclassLayer* layer, bool make)
{
    if (!layer) return nullptr;
    if (!layer->data && make) {
        layer->data = std::calloc(1, sizeof(ExchangeHolder));
        if (layer->data) layer->destroyData = FreeHolder;
    }
    return static_cast<ExchangeHolder*>(layer->data);
}

LRESULT Reflect(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    return control ? SendMessageW(control, message + SKIN_REFLECT_OFFSET, wParam, lParam) : 0;
}

}  // namespace

void SetExchangeTable(SubclassLayer* dialogLayer, const DataExchangeEntry* rows, int count) noexcept
{
    if (!dialogLayer || !rows || count <= 0) return;
    ExchangeHolder* holder = Holder(dialogLayer, true);
    if (!holder) return;
    std::free(holder->rows);
    holder->count = 0;
    holder->rows = static_cast<DataExchangeEntry*>(std::malloc(sizeof(DataExchangeEntry) * count));
    if (!holder->rows) return;
    std::memcpy(holder->rows, rows, sizeof(DataExchangeEntry) * count);
    holder->count = count;
}

void AddExchangeButtons(SubclassLayer* dialogLayer, const ExchangeButton* rows, int count) noexcept
{
    if (!dialogLayer || !rows || count <= 0) return;
    ExchangeHolder* holder = Holder(dialogLayer, true);
    if (!holder) return;
    auto* node = static_cast<ButtonTable*>(std::calloc(1, sizeof(ButtonTable)));
    if (!node) return;
    node->bytes = sizeof(ExchangeButton) * count;
    node->rows = static_cast<ExchangeButton*>(std::malloc(node->bytes));
    if (!node->rows) {
        std::free(node);
        return;
    }
    std::memcpy(node->rows, rows, node->bytes);
    node->next = holder->buttons;
    holder->buttons = node;
}

void RunExchangeTable(SubclassLayer* dialogLayer, HWND hwnd, int direction) noexcept
{
    ExchangeHolder* holder = Holder(dialogLayer, false);
    if (!holder || !holder->rows) return;
    for (int i = 0; i < holder->count; ++i) {
        const DataExchangeEntry& row = holder->rows[i];
        if (row.callback) row.callback(hwnd, direction, row.data, row.controlId);
    }
}

void EnableDlgControl(SubclassLayer* dialogLayer, int controlId, BOOL enable) noexcept
{
    if (!dialogLayer) return;
    HWND control = GetDlgItem(dialogLayer->window, controlId);
    if (control && (IsWindowEnabled(control) != FALSE) != (enable != FALSE)) EnableWindow(control, enable);
}

void ShowDlgControl(SubclassLayer* dialogLayer, int controlId, BOOL show) noexcept
{
    if (!dialogLayer) return;
    if (HWND control = GetDlgItem(dialogLayer->window, controlId)) ShowWindow(control, show ? SW_SHOW : SW_HIDE);
}

LRESULT CALLBACK DialogLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    SubclassLayer* layer = FindSubclassLayer(hwnd, reinterpret_cast<WNDPROC>(DialogLayerProc));
    if (!layer || !layer->previousProcedure) return 0;
    switch (message) {
    case WM_DESTROY:
        if (AreSkinsApplied(layer)) {
            // The controls' own WM_DESTROY comes after the page's: their skins go now.
            for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                RemoveControlSkin(child);
        }
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    case WM_DRAWITEM:
    case WM_MEASUREITEM: {
        LRESULT result = CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
        if (result == 0 && AreSkinsApplied(layer))
            result = Reflect(GetDlgItem(hwnd, static_cast<int>(wParam)), message, wParam, lParam);
        return result;
    }
    case WM_COMMAND:
        if (lParam) {
            if (ExchangeHolder* holder = Holder(layer, false)) {
                for (ButtonTable* node = holder->buttons; node; node = node->next) {
                    size_t count = node->bytes / sizeof(ExchangeButton);
                    for (size_t i = 0; i < count; ++i) {
                        if (static_cast<WPARAM>(static_cast<unsigned>(node->rows[i].command)) != wParam) continue;
                        if (node->rows[i].handler && node->rows[i].handler(hwnd, wParam, lParam)) return 1;
                        goto unhandled;
                    }
                }
            }
        }
    unhandled: {
        LRESULT result = CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
        if (result == 0 && lParam) result = Reflect(reinterpret_cast<HWND>(lParam), message, wParam, lParam);
        return result;
    }
    default:
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    }
}

void ExchangeCheckBox(HWND dialog, int direction, void* data, int controlId)
{
    HWND box = dialog && data ? GetDlgItem(dialog, controlId) : nullptr;
    if (!box) return;
    int* value = static_cast<int*>(data);
    bool checked = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (direction == kExchangeFromControls) {
        *value = checked ? 1 : 0;
    } else if (checked != (*value != 0)) {
        // Also clears a checked box for 0: a restored default must show as it reads back.
        SendMessageW(box, BM_SETCHECK, *value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

void ExchangeComboBox(HWND dialog, int direction, void* data, int controlId)
{
    HWND combo = dialog && data ? GetDlgItem(dialog, controlId) : nullptr;
    if (!combo || SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0)) return;
    int* value = static_cast<int*>(data);
    LRESULT selection = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    bool selected = selection != CB_ERR;
    int selectedValue = selected ? static_cast<int>(SendMessageW(combo, SKM_GETVALUE, selection, 0)) : 0;
    if (direction == kExchangeFromControls) {
        if (selected) *value = selectedValue;
    } else if (!selected || selectedValue != *value) {
        SendMessageW(combo, SKM_SELECTBYVALUE, 0, *value);
    }
}

void ExchangeEditText(HWND dialog, int direction, void* data, int controlId)
{
    HWND edit = dialog && data ? GetDlgItem(dialog, controlId) : nullptr;
    const wchar_t* committed = edit ? GetEditLayerText(edit) : nullptr;
    if (!committed) return;  // not an edit layer's control
    auto* holder = static_cast<CStrHolder*>(data);
    if (direction == kExchangeFromControls) {
        holder->Set(committed);
    } else if (!holder->Get() || std::wcscmp(holder->Get(), committed) != 0) {
        const wchar_t* text = holder->Get() ? holder->Get() : L"";
        SetWindowTextW(edit, text);
        SetEditLayerText(edit, text);
    }
}
