// Dialog data exchange: tables that bind a page's controls to the fields of its tab's record,
// button rows that route WM_COMMAND to handlers, the page's dialog layer that holds both, and
// the exchange callbacks for check boxes, owner-drawn combo boxes and edit controls.
#pragma once

#include <windows.h>

struct SubclassLayer;

// Direction of an exchange: record to controls, or controls to record.
enum : int { kExchangeToControls = 0, kExchangeFromControls = 1 };

using ExchangeCallback = void (*)(HWND dialog, int direction, void* data, int controlId);

struct DataExchangeEntry {
    int controlId;
    void* data;
    ExchangeCallback callback;
};

// command is the whole WM_COMMAND wParam (notification in the high word), so a BN_CLICKED
// row carries the bare control id. The handler answers non-zero when it handled the command.
struct ExchangeButton {
    int command;
    int (*handler)(HWND dialog, WPARAM wParam, LPARAM lParam);
};

// The page's dialog layer procedure (pushed on DWLP_DLGPROC, so it runs before the page's
// own dialog procedure).
LRESULT CALLBACK DialogLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Replaces the page's exchange table with a copy of count rows; nothing for a null layer,
// null rows or count 0.
void SetExchangeTable(SubclassLayer* dialogLayer, const DataExchangeEntry* rows, int count) noexcept;
// Adds a copy of count button rows ahead of the tables added before.
void AddExchangeButtons(SubclassLayer* dialogLayer, const ExchangeButton* rows, int count) noexcept;
// Runs every row's callback in table order.
void RunExchangeTable(SubclassLayer* dialogLayer, HWND hwnd, int direction) noexcept;
// EnableWindow only when the state differs; ShowWindow SW_SHOW or SW_HIDE.
void EnableDlgControl(SubclassLayer* dialogLayer, int controlId, BOOL enable) noexcept;
void ShowDlgControl(SubclassLayer* dialogLayer, int controlId, BOOL show) noexcept;

// Exchange callbacks. ExchangeCheckBox and ExchangeComboBox take an int; ExchangeEditText a
// CStrHolder, exchanged with the text that the edit control's layer has committed.
void ExchangeCheckBox(HWND dialog, int direction, void* data, int controlId);
void ExchangeComboBox(HWND dialog, int direction, void* data, int controlId);
void ExchangeEditText(HWND dialog, int direction, void* data, int controlId);
