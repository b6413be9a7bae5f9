// The window subclass chain and the control skins of the property pages.
//
// Any window can carry a stack of layers, each a window procedure with its own data; the
// stack's head is the window's GWLP_USERDATA and each layer points at the one below. A window
// that carries layers uses GWLP_USERDATA for nothing else.
//
// On top of the chain a skin table picks, for each child control of a page, the layers that
// give it its behaviour (owner-drawn combo boxes with values and marks, edit controls that keep
// a committed text, grouped check boxes and radio buttons, image buttons and image statics).
// The pages talk to those layers through the private messages below. UI thread only.
#pragma once

#include <windows.h>

struct SubclassLayer;

// Called with a layer's data when the layer is removed.
using SubclassDataDestroyer = void (*)(void* data);
// Removes a whole skin given its top layer (used when the page goes away).
using SkinRemover = void (*)(SubclassLayer* top);

// One layer of a window's chain (one zero-filled allocation per layer).
struct SubclassLayer {
    HWND window;
    WNDPROC previousProcedure;  // what SetWindowLongPtrW returned when the layer was added
    void* previousData;         // data kept for the previous procedure
    int index;                  // GWLP_WNDPROC for controls, DWLP_DLGPROC for a page dialog
    WNDPROC procedure;          // this layer's procedure (a dialog procedure has the same shape)
    void* data;
    SubclassDataDestroyer destroyData;
    SkinRemover removeSkin;
    SubclassLayer* next;  // the layer below: the GWLP_USERDATA value before this one
    BOOL skinsApplied;    // dialog layers: SkinDialogControls ran over the page's children
};

// ---------------------------------------------------------------------------------
// Chain operations.

// Returns the window's layer of that procedure when there is one, else a new layer on top
// of the chain; null for a null window or procedure, or when memory runs out.
SubclassLayer* AddSubclassLayer(HWND hwnd, WNDPROC procedure, int index);
// Runs the data destroyer, takes the layer out of its chain (the layer above inherits its
// previous procedure and data) and frees it. Null is ignored.
void RemoveSubclassLayer(SubclassLayer* layer);
// Calls the procedure below the layer; 0 when the layer or its previous procedure is missing.
LRESULT CallPreviousWindowProc(SubclassLayer* layer, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Returns the first data found down the chain for that procedure (its own data, or the data
// kept for it by the layer that replaced it); null when none.
void* GetSubclassData(HWND hwnd, WNDPROC procedure);
// Stores data for that procedure on every layer of the chain that owns it or replaced it.
void SetSubclassData(HWND hwnd, WNDPROC procedure, void* data);
// Returns the window's layer of that procedure, or null.
SubclassLayer* FindSubclassLayer(HWND hwnd, WNDPROC procedure);
// Returns the head of the window's chain, or null.
SubclassLayer* GetTopSubclassLayer(HWND hwnd);

// ---------------------------------------------------------------------------------
// Skins.

using SkinInstaller = BOOL (*)(HWND control);

// Returns the installer of the first skin-table row that matches the control, or null.
SkinInstaller FindControlSkin(HWND control);
// Skins every child of the dialog layer's window and marks the page as skinned.
void SkinDialogControls(SubclassLayer* dialogLayer);
// Whether SkinDialogControls ran for the page of that dialog layer.
BOOL AreSkinsApplied(const SubclassLayer* dialogLayer);
// Removes every layer of a control, through a skin's removal callback where the top layer
// has one (the page calls it for each child when it is destroyed, before the children are).
void RemoveControlSkin(HWND control);

// The installers of the skin table; each returns FALSE when a layer could not be added.
BOOL SkinComboBox(HWND control);
BOOL SkinEdit(HWND control);
BOOL SkinRadioButton(HWND control);
BOOL SkinCheckBox(HWND control);
BOOL SkinPushButton(HWND control);
BOOL SkinStatic(HWND control);

// The layer procedures.
LRESULT CALLBACK ButtonLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CheckBoxLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK RadioButtonLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ImageButtonLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK StaticImageLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ComboBoxLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK EditLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Frees the item records of a skinned combo box and clears their item data (the items stay;
// CB_RESETCONTENT afterwards empties the box). Nothing for a box without the combo layer.
void FreeComboBoxItems(HWND combo);
// The committed text of an edit control's layer (it stays the layer's, valid until the next
// commit); null when the control has no edit layer.
const wchar_t* GetEditLayerText(HWND edit);
// Replaces the committed text of an edit control's layer (null = empty); false without the layer
// or when memory runs out.
bool SetEditLayerText(HWND edit, const wchar_t* text);

// ---------------------------------------------------------------------------------
// Private messages between the pages and the layers (wParam: item or member index unless said).

// Reflected notifications: the page sends its control the parent's message + this offset.
constexpr UINT SKIN_REFLECT_OFFSET = 2024;
constexpr UINT SKM_REFLECTED_DRAWITEM = WM_DRAWITEM + SKIN_REFLECT_OFFSET;        // 2067
constexpr UINT SKM_REFLECTED_MEASUREITEM = WM_MEASUREITEM + SKIN_REFLECT_OFFSET;  // 2068
constexpr UINT SKM_REFLECTED_COMMAND = WM_COMMAND + SKIN_REFLECT_OFFSET;          // 2297

constexpr UINT SKM_ENDGROUP = 1225;       // combo: the item ends a group (separator under it)
constexpr UINT SKM_GETITEMTEXT = 1226;    // combo: as CB_GETLBTEXT
constexpr UINT SKM_SELECTBYVALUE = 1227;  // combo: select the first item of value lParam
constexpr UINT SKM_GETMARK = 1234;        // combo: item mark; buttons: member value
constexpr UINT SKM_SETMARK = 1235;        // combo: mark = lParam (0 normal, 1 grey, 2 red); buttons: value
constexpr UINT SKM_SETVALUE = 1236;       // combo: item value = lParam; buttons: member key
constexpr UINT SKM_GETVALUE = 1237;       // combo: item value (-1 out of range); buttons: member key
constexpr UINT SKM_SELECTVALUE = 1238;    // select the item / member whose value / key is lParam
constexpr UINT SKM_SELECTID = 1239;       // buttons: select the member whose control id is wParam
constexpr UINT SKM_SELECTSELF = 1240;     // buttons: select the receiving window's member
constexpr UINT SKM_GETCOUNT = 1241;       // item / member count
constexpr UINT SKM_GETSELECTION = 1242;   // selected index (-1 when none)
constexpr UINT SKM_SETSELECTION = 1243;   // select index wParam
constexpr UINT SKM_GETMEMBERID = 1244;    // buttons: the member's control id
constexpr UINT SKM_GETMEMBERWND = 1245;   // buttons: the member's window
constexpr UINT SKM_SETTRANSPARENT = 1246; // buttons: paint transparently, key colour lParam
constexpr UINT SKM_SETIMAGE = 1254;       // image buttons / statics: lParam = SkinImage*, wParam = slot
constexpr UINT SKM_COMMITTEXT = 1264;     // edit: the layer takes the window text now
constexpr UINT SKM_COMMITONKEYUP = 1265;  // edit: commit on every key release when wParam != 0

// Message SKM_SETIMAGE's record. With owned set the layer deletes the bitmap when it is
// replaced or the layer goes away.
struct SkinImage {
    HBITMAP bitmap;
    BOOL owned;
    DWORD reserved;
};

// Marks of combo items (SKM_SETMARK).
constexpr int SKIN_MARK_NORMAL = 0;
constexpr int SKIN_MARK_GREY = 1;
constexpr int SKIN_MARK_RED = 2;

// The control whose edit layer accepts only address characters (digits, letters, "-", ".").
constexpr int SKIN_ADDRESS_EDIT_ID = 1325;
