// The control skins: the skin table, its installers and the layer procedures (see SubclassLayer.h).
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "sheets/SubclassLayer.h"

namespace {

constexpr int kClassNameLength = 128;
// Style bits that do not make two buttons of different kinds (group and tab stops, and the
// visible and enabled states that the pages change while the group lives).
constexpr LONG kKindNeutralStyles = WS_GROUP | WS_TABSTOP | WS_VISIBLE | WS_DISABLED;
// Height added under an item that ends a group, and where its line lies.
constexpr int kSeparatorHeight = 3;

// Calls the procedure below a layer without the frame repaint: the layers' own look-ups.
LRESULT CallBelow(SubclassLayer* layer, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!layer || !layer->previousProcedure) return 0;
    return CallWindowProcW(layer->previousProcedure, layer->window, message, wParam, lParam);
}

// Passes a window's last message down, then takes the layer off (a control destroyed with its
// skin still on frees it here).
LRESULT PassAndRemove(SubclassLayer* layer, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CallWindowProcW(layer->previousProcedure, hwnd, message, wParam, lParam);
    RemoveSubclassLayer(layer);
    return result;
}

bool SameClassName(HWND a, HWND b) {
    wchar_t first[kClassNameLength + 1] = {};
    wchar_t second[kClassNameLength + 1] = {};
    if (!GetClassNameW(a, first, kClassNameLength + 1) || !GetClassNameW(b, second, kClassNameLength + 1))
        return false;
    return _wcsnicmp(first, second, kClassNameLength) == 0;
}

// ---------------------------------------------------------------------------------
// Images (SKM_SETIMAGE) of image buttons and image statics.

void DeleteOwnedImage(SkinImage* image) {
    if (image->bitmap && image->owned) DeleteObject(image->bitmap);
    *image = SkinImage{};
}

// Moves and sizes the control so that the bitmap is centred on its old rectangle, and puts
// the image into the slot (the former owned image is deleted).
void PlaceImage(HWND control, SkinImage* slot, const SkinImage* image) {
    BITMAP info{};
    if (image && image->bitmap && GetObjectW(image->bitmap, sizeof(info), &info)) {
        RECT rect{};
        GetWindowRect(control, &rect);
        MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
        const int x = rect.left + ((rect.right - rect.left) - info.bmWidth) / 2;
        const int y = rect.top + ((rect.bottom - rect.top) - info.bmHeight) / 2;
        SetWindowPos(control, nullptr, x, y, info.bmWidth, info.bmHeight, SWP_NOZORDER | SWP_NOOWNERZORDER);
    }
    if (slot->bitmap != (image ? image->bitmap : nullptr)) DeleteOwnedImage(slot);
    *slot = image ? *image : SkinImage{};
}

// ---------------------------------------------------------------------------------
// Button groups.

struct GroupMember {
    HWND window;
    int value;
    int key;
};

struct GroupRecord {
    LONG references;
    int selected;
    int count;
    GroupMember* members;
    BOOL transparent;
    COLORREF transparentColour;
};

bool SameButtonKind(HWND window, HWND button) {
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const LONG buttonStyle = GetWindowLongW(button, GWL_STYLE);
    return (style & ~kKindNeutralStyles) == (buttonStyle & ~kKindNeutralStyles) && SameClassName(window, button);
}

HWND FindFirstMember(HWND button) {
    HWND first = button;
    for (HWND window = button; window; window = GetWindow(window, GW_HWNDPREV)) {
        const LONG style = GetWindowLongW(window, GWL_STYLE);
        if (style == 0) break;
        if (!SameButtonKind(window, button)) continue;
        first = window;
        if (style & WS_GROUP) break;
    }
    return first;
}

GroupRecord* BuildGroup(HWND first) {
    int count = 1;
    for (HWND window = GetWindow(first, GW_HWNDNEXT); window; window = GetWindow(window, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongW(window, GWL_STYLE);
        if (style == 0 || (style & WS_GROUP)) break;
        if (SameButtonKind(window, first)) ++count;
    }
    GroupRecord* group = static_cast<GroupRecord*>(std::calloc(1, sizeof(GroupRecord)));
    GroupMember* members = static_cast<GroupMember*>(std::calloc(count, sizeof(GroupMember)));
    if (!group || !members) {
        std::free(group);
        std::free(members);
        return nullptr;
    }
    group->selected = -1;
    group->members = members;
    int index = 0;
    HWND window = first;
    while (window && index < count) {
        members[index] = GroupMember{window, 0, index};
        ++index;
        for (window = GetWindow(window, GW_HWNDNEXT); window; window = GetWindow(window, GW_HWNDNEXT)) {
            const LONG style = GetWindowLongW(window, GWL_STYLE);
            if (style == 0 || (style & WS_GROUP)) {
                window = nullptr;
                break;
            }
            if (SameButtonKind(window, first)) break;
        }
    }
    group->count = index;
    return group;
}

void ReleaseGroup(void* data) {
    GroupRecord* group = static_cast<GroupRecord*>(data);
    if (InterlockedDecrement(&group->references) > 0) return;
    std::free(group->members);
    std::free(group);
}

// The group record of a button's layer, made on first use; every member shares the record of
// the group's first member.
GroupRecord* EnsureGroup(SubclassLayer* layer) {
    if (!layer) return nullptr;
    if (layer->data) return static_cast<GroupRecord*>(layer->data);
    GroupRecord* group = nullptr;
    HWND first = FindFirstMember(layer->window);
    if (first != layer->window) {
        SubclassLayer* firstLayer = FindSubclassLayer(first, ButtonLayerProc);
        if (firstLayer && FindFirstMember(first) == first) group = EnsureGroup(firstLayer);
    }
    if (!group) group = BuildGroup(first);
    if (!group) return nullptr;
    InterlockedIncrement(&group->references);
    layer->data = group;
    layer->destroyData = ReleaseGroup;
    return group;
}

GroupRecord* ButtonGroup(HWND button) { return EnsureGroup(FindSubclassLayer(button, ButtonLayerProc)); }

int MemberIndex(const GroupRecord* group, HWND window) {
    for (int i = 0; group && i < group->count; ++i) {
        if (group->members[i].window == window) return i;
    }
    return -1;
}

bool ValidMember(const GroupRecord* group, WPARAM index) {
    return group && index < static_cast<WPARAM>(group->count);
}

// Paints through the chain, then lays the result over the old background keyed on the
// transparent colour. False when a GDI object could not be made (the caller paints plainly).
bool PaintTransparent(SubclassLayer* layer, HWND hwnd, const GroupRecord* group) {
    RECT client{};
    GetClientRect(hwnd, &client);
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0) return false;
    HDC dc = GetDC(hwnd);
    if (!dc) return false;
    HDC backgroundDc = CreateCompatibleDC(dc);
    HDC paintedDc = CreateCompatibleDC(dc);
    HBITMAP background = CreateCompatibleBitmap(dc, width, height);
    HBITMAP painted = CreateCompatibleBitmap(dc, width, height);
    bool done = false;
    if (backgroundDc && paintedDc && background && painted) {
        HGDIOBJ oldBackground = SelectObject(backgroundDc, background);
        HGDIOBJ oldPainted = SelectObject(paintedDc, painted);
        BitBlt(backgroundDc, 0, 0, width, height, dc, 0, 0, SRCCOPY);
        CallBelow(layer, WM_PAINT, 0, 0);
        BitBlt(paintedDc, 0, 0, width, height, dc, 0, 0, SRCCOPY);
        BitBlt(dc, 0, 0, width, height, backgroundDc, 0, 0, SRCCOPY);
        GdiTransparentBlt(dc, 0, 0, width, height, paintedDc, 0, 0, width, height, group->transparentColour);
        SelectObject(backgroundDc, oldBackground);
        SelectObject(paintedDc, oldPainted);
        done = true;
    }
    if (background) DeleteObject(background);
    if (painted) DeleteObject(painted);
    if (backgroundDc) DeleteDC(backgroundDc);
    if (paintedDc) DeleteDC(paintedDc);
    ReleaseDC(hwnd, dc);
    return done;
}

// Removes a button skin: its specific layer (the top) and the common button layer.
void RemoveButtonSkin(SubclassLayer* top) {
    if (!top) return;
    HWND window = top->window;
    RemoveSubclassLayer(top);
    RemoveSubclassLayer(FindSubclassLayer(window, ButtonLayerProc));
}

BOOL InstallButtonSkin(HWND control, WNDPROC specific) {
    if (!AddSubclassLayer(control, ButtonLayerProc, GWLP_WNDPROC)) return FALSE;
    SubclassLayer* top = AddSubclassLayer(control, specific, GWLP_WNDPROC);
    if (!top) return FALSE;
    top->removeSkin = RemoveButtonSkin;
    return TRUE;
}

// Stores a changed member value and enables the member only while its value is 0.
LRESULT SetMemberValue(GroupRecord* group, WPARAM index, LPARAM value) {
    if (!ValidMember(group, index)) return 0;
    GroupMember& member = group->members[index];
    if (member.value != static_cast<int>(value)) {
        member.value = static_cast<int>(value);
        EnableWindow(member.window, member.value == 0);
    }
    return 1;
}

// What radio buttons and image buttons answer alike: a member value that is not 0 disables the
// member, and a click selects the clicked member; the rest goes down the chain.
LRESULT SelectableMemberMessage(SubclassLayer* layer, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case SKM_SETMARK:
        return SetMemberValue(ButtonGroup(hwnd), wParam, lParam);
    case SKM_REFLECTED_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) SendMessageW(hwnd, SKM_SELECTSELF, 0, 0);
        return 0;
    default:
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    }
}

// ---------------------------------------------------------------------------------
// Combo items.

struct ComboItem {
    int separator;
    int mark;
    int value;
    wchar_t* text;
    ULONG64 itemData;
};

struct ComboData {
    HWND window;
    int lineHeight;  // an item's height without separator, once measured
};

struct ItemColours {
    COLORREF window, highlight, windowText, grayText, highlightText, red;
};

const ItemColours& GetItemColours() {
    static bool ready = false;
    static ItemColours colours{};
    if (!ready) {
        colours = ItemColours{GetSysColor(COLOR_WINDOW),   GetSysColor(COLOR_HIGHLIGHT),
                              GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_GRAYTEXT),
                              GetSysColor(COLOR_HIGHLIGHTTEXT), RGB(255, 0, 0)};
        ready = true;
    }
    return colours;
}

// A record from an item text: "Name\7" is the text "Name" with item data 7.
ComboItem* MakeComboItem(const wchar_t* text) {
    if (!text) text = L"";
    ComboItem* item = static_cast<ComboItem*>(std::calloc(1, sizeof(ComboItem)));
    if (!item) return nullptr;
    size_t length = std::wcslen(text);
    if (const wchar_t* slash = std::wcsrchr(text, L'\\')) {
        item->itemData = std::wcstoull(slash + 1, nullptr, 10);
        length = static_cast<size_t>(slash - text);
    }
    item->text = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (!item->text) {
        std::free(item);
        return nullptr;
    }
    std::wmemcpy(item->text, text, length);
    item->text[length] = L'\0';
    return item;
}

void FreeComboItem(ComboItem* item) {
    if (!item) return;
    std::free(item->text);
    std::free(item);
}

ComboItem* ItemAt(SubclassLayer* layer, WPARAM index) {
    LRESULT data = CallBelow(layer, CB_GETITEMDATA, index, 0);
    if (data == CB_ERR) return nullptr;
    return reinterpret_cast<ComboItem*>(data);
}

LRESULT ItemCount(SubclassLayer* layer) {
    LRESULT count = CallBelow(layer, CB_GETCOUNT, 0, 0);
    return count == CB_ERR ? 0 : count;
}

void FreeItemsBelow(SubclassLayer* layer) {
    const LRESULT count = ItemCount(layer);
    for (LRESULT i = 0; i < count; ++i) {
        ComboItem* item = ItemAt(layer, static_cast<WPARAM>(i));
        if (!item) continue;
        CallBelow(layer, CB_SETITEMDATA, static_cast<WPARAM>(i), 0);
        FreeComboItem(item);
    }
}

void DestroyComboData(void* data) {
    ComboData* combo = static_cast<ComboData*>(data);
    FreeComboBoxItems(combo->window);
    std::free(combo);
}

// The list drops down to the item count times the first item's height, so the first item carries
// the separators' extra height, spread over the other items (rounded up). When that list would not
// fit on the screen the extra is dropped and the list scrolls instead.
void SpreadSeparatorHeight(SubclassLayer* layer) {
    const ComboData* combo = static_cast<const ComboData*>(layer->data);
    const LRESULT count = ItemCount(layer);
    if (!combo || combo->lineHeight <= 0 || count <= 0) return;
    int separators = 0;
    for (LRESULT i = 1; i < count; ++i) {
        const ComboItem* item = ItemAt(layer, static_cast<WPARAM>(i));
        separators += item && item->separator;
    }
    const ComboItem* first = ItemAt(layer, 0);
    int height = combo->lineHeight + (first && first->separator ? kSeparatorHeight : 0);
    const int others = static_cast<int>(count) - 1;
    if (others > 0 && separators > 0) {
        const int extra = (separators * kSeparatorHeight + others - 1) / others;
        if ((height + extra) * count <= GetSystemMetrics(SM_CYSCREEN)) height += extra;
    }
    CallBelow(layer, CB_SETITEMHEIGHT, 0, height);
}

LRESULT SelectItemByValue(SubclassLayer* layer, LPARAM value) {
    const LRESULT count = ItemCount(layer);
    for (LRESULT i = 0; i < count; ++i) {
        ComboItem* item = ItemAt(layer, static_cast<WPARAM>(i));
        if (item && item->value == static_cast<int>(value))
            return CallBelow(layer, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    }
    return CB_ERR;
}

void DrawComboItem(const DRAWITEMSTRUCT* draw) {
    const ItemColours& colours = GetItemColours();
    const ComboItem* item = draw->itemID == static_cast<UINT>(-1) ? nullptr
                                                                  : reinterpret_cast<const ComboItem*>(draw->itemData);
    const bool selected = (draw->itemState & (ODS_SELECTED | ODS_FOCUS)) != 0;
    const bool disabled = (draw->itemState & ODS_DISABLED) != 0;
    HDC dc = draw->hDC;
    RECT area = draw->rcItem;
    HBRUSH background = CreateSolidBrush(selected ? colours.highlight : colours.window);
    if (background) {
        FillRect(dc, &area, background);
        DeleteObject(background);
    }
    // a separator sits under the item only inside the list, not in the selection field
    const bool separator = item && item->separator && !(draw->itemState & ODS_COMBOBOXEDIT);
    if (separator) area.bottom -= kSeparatorHeight;
    if (item && item->text) {
        COLORREF text = colours.windowText;
        if (disabled)
            text = colours.grayText;
        else if (item->mark == SKIN_MARK_GREY)
            text = colours.grayText;
        else if (item->mark == SKIN_MARK_RED)
            text = colours.red;
        else if (selected)
            text = colours.highlightText;
        const COLORREF oldText = SetTextColor(dc, text);
        const int oldMode = SetBkMode(dc, TRANSPARENT);
        RECT textArea = area;
        textArea.left += 2;
        DrawTextW(dc, item->text, -1, &textArea, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SetBkMode(dc, oldMode);
        SetTextColor(dc, oldText);
    }
    if (separator) {
        HPEN pen = CreatePen(PS_SOLID, 1, colours.grayText);
        if (pen) {
            HGDIOBJ oldPen = SelectObject(dc, pen);
            const int y = draw->rcItem.bottom - kSeparatorHeight / 2 - 1;
            MoveToEx(dc, draw->rcItem.left, y, nullptr);
            LineTo(dc, draw->rcItem.right, y);
            SelectObject(dc, oldPen);
            DeleteObject(pen);
        }
    }
    if ((draw->itemState & ODS_FOCUS) && !(draw->itemState & ODS_NOFOCUSRECT)) DrawFocusRect(dc, &area);
}

LRESULT MeasureComboItem(HWND hwnd, SubclassLayer* layer, MEASUREITEMSTRUCT* measure) {
    ComboData* combo = static_cast<ComboData*>(layer->data);
    if (!measure) return 0;
    HDC dc = GetDC(hwnd);
    if (!dc) return 0;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    if (oldFont) SelectObject(dc, oldFont);
    ReleaseDC(hwnd, dc);
    const int height = metrics.tmHeight + metrics.tmExternalLeading;
    if (combo) combo->lineHeight = height;
    measure->itemHeight = static_cast<UINT>(height);
    if (measure->itemID != static_cast<UINT>(-1)) {
        ComboItem* item = reinterpret_cast<ComboItem*>(measure->itemData);
        if (item && item->separator) measure->itemHeight += kSeparatorHeight;
    }
    CallBelow(layer, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height + 2);
    return 1;
}

// ---------------------------------------------------------------------------------
// Edit controls.

struct EditData {
    std::wstring committed;
    BOOL commitOnKeyUp = FALSE;
};

void DestroyEditData(void* data) { delete static_cast<EditData*>(data); }

// The committed copy takes the window text; on a failure the former copy stays.
void CommitText(HWND hwnd, EditData* edit) {
    try {
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
        edit->committed.swap(text);
    } catch (const std::bad_alloc&) {
    }
}

EditData* EditLayerData(HWND edit) {
    SubclassLayer* layer = FindSubclassLayer(edit, EditLayerProc);
    return layer ? static_cast<EditData*>(layer->data) : nullptr;
}

bool IsAddressCharacter(WPARAM ch) {
    return (ch >= L'0' && ch <= L'9') || (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z') || ch == L'\b' ||
           ch == L'-' || ch == L'.';
}

// ---------------------------------------------------------------------------------
// Image buttons and statics.

struct ImageButtonData {
    HWND window;
    SkinImage slots[3];
};

void DestroyImageButtonData(void* data) {
    ImageButtonData* images = static_cast<ImageButtonData*>(data);
    for (SkinImage& slot : images->slots) DeleteOwnedImage(&slot);
    std::free(images);
}

struct StaticImageData {
    HWND window;
    SkinImage image;
};

// What STM_SETIMAGE handed back. Common Controls 6 keeps a copy of a 32-bit bitmap with alpha
// and returns the previous copy from the next STM_SETIMAGE: no one else knows that copy, so it is
// deleted here. The bitmap the layer held (its owner deletes it) and the new one are not copies.
void DeleteStaticCopy(LRESULT previous, const SkinImage* held, const SkinImage* given) {
    HBITMAP returned = reinterpret_cast<HBITMAP>(previous);
    if (!returned || returned == held->bitmap || (given && returned == given->bitmap)) return;
    if (GetObjectType(returned) == OBJ_BITMAP) DeleteObject(returned);
}

void DestroyStaticImageData(void* data) {
    StaticImageData* image = static_cast<StaticImageData*>(data);
    if (image->image.bitmap) {
        // the static must not keep painting a bitmap about to be deleted
        if (SubclassLayer* layer = FindSubclassLayer(image->window, StaticImageLayerProc))
            DeleteStaticCopy(CallBelow(layer, STM_SETIMAGE, IMAGE_BITMAP, 0), &image->image, nullptr);
    }
    DeleteOwnedImage(&image->image);
    std::free(image);
}

void DrawImageButton(const DRAWITEMSTRUCT* draw, const ImageButtonData* images, const GroupRecord* group) {
    const int index = MemberIndex(group, draw->hwndItem);
    const bool chosen = index >= 0 && group->selected == index && group->members[index].value == 0;
    HBITMAP image = chosen ? images->slots[0].bitmap
                           : (images->slots[1].bitmap ? images->slots[1].bitmap : images->slots[0].bitmap);
    BITMAP info{};
    if (image && GetObjectW(image, sizeof(info), &info)) {
        const RECT& area = draw->rcItem;
        const int areaWidth = area.right - area.left;
        const int areaHeight = area.bottom - area.top;
        const int width = info.bmWidth < areaWidth ? info.bmWidth : areaWidth;
        const int height = info.bmHeight < areaHeight ? info.bmHeight : areaHeight;
        HDC source = CreateCompatibleDC(draw->hDC);
        if (source && width > 0 && height > 0) {
            HGDIOBJ old = SelectObject(source, image);
            BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, 0};
            GdiAlphaBlend(draw->hDC, area.left + (areaWidth - width) / 2, area.top + (areaHeight - height) / 2, width,
                       height, source, (info.bmWidth - width) / 2, (info.bmHeight - height) / 2, width, height, blend);
            SelectObject(source, old);
        }
        if (source) DeleteDC(source);
    }
    if ((draw->itemState & ODS_FOCUS) && !(draw->itemState & ODS_NOFOCUSRECT)) {
        RECT focus = draw->rcItem;
        DrawFocusRect(draw->hDC, &focus);
    }
}

// ---------------------------------------------------------------------------------
// Layers with a data record.

// A zeroed record whose first field is its window.
template <typename Record>
void* NewWindowRecord(HWND window) {
    Record* record = static_cast<Record*>(std::calloc(1, sizeof(Record)));
    if (record) record->window = window;
    return record;
}

void* NewEditData(HWND window) {
    EditData* data = new (std::nothrow) EditData;
    if (data) CommitText(window, data);
    return data;
}

// The control's layer of that procedure with its data record (made by make on a layer that has
// none, freed by destroy with the layer); null when either cannot be made.
SubclassLayer* LayerWithData(HWND control, WNDPROC procedure, void* (*make)(HWND), SubclassDataDestroyer destroy) {
    SubclassLayer* layer = AddSubclassLayer(control, procedure, GWLP_WNDPROC);
    if (!layer || layer->data) return layer;
    void* data = make(control);
    if (!data) return nullptr;
    layer->data = data;
    layer->destroyData = destroy;
    return layer;
}

// ---------------------------------------------------------------------------------
// The skin table.

struct SkinRow {
    const wchar_t* className;
    LONG mask;      // non-zero: (style & mask) == value
    LONG value;     // without mask: value 0 or sharing a bit with the style
    LONG excluded;  // no bit of these may be set
    SkinInstaller installer;
};

const SkinRow kSkinTable[] = {
    {L"COMBOBOX", 0, CBS_OWNERDRAWVARIABLE, CBS_HASSTRINGS, SkinComboBox},
    {L"EDIT", 0, 0, 0, SkinEdit},
    {L"BUTTON", 0xF, BS_AUTORADIOBUTTON, 0, SkinRadioButton},
    {L"BUTTON", 0xF, BS_AUTOCHECKBOX, 0, SkinCheckBox},
    {L"BUTTON", 0, 0xB, 0, SkinPushButton},
    {L"STATIC", 0, 0xE, 0, SkinStatic},
};

}  // namespace

// ---------------------------------------------------------------------------------
// Skin table and installers.

SkinInstaller FindControlSkin(HWND control) {
    if (!control) return nullptr;
    wchar_t className[kClassNameLength + 1] = {};
    if (!GetClassNameW(control, className, kClassNameLength + 1)) return nullptr;
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(control, GWL_EXSTYLE);
    if (style == 0 || exStyle == 0) return nullptr;
    for (const SkinRow& row : kSkinTable) {
        if (_wcsnicmp(className, row.className, kClassNameLength) != 0) continue;
        const bool styleMatches = row.mask ? (style & row.mask) == row.value : (row.value == 0 || (style & row.value));
        if (styleMatches && !(style & row.excluded)) return row.installer;
    }
    return nullptr;
}

void SkinDialogControls(SubclassLayer* dialogLayer) {
    if (!dialogLayer || !dialogLayer->window) return;
    for (HWND child = GetWindow(dialogLayer->window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (SkinInstaller installer = FindControlSkin(child)) installer(child);
    }
    dialogLayer->skinsApplied = TRUE;
}

BOOL AreSkinsApplied(const SubclassLayer* dialogLayer) { return dialogLayer ? dialogLayer->skinsApplied : FALSE; }

void RemoveControlSkin(HWND control) {
    while (SubclassLayer* top = GetTopSubclassLayer(control)) {
        if (top->removeSkin)
            top->removeSkin(top);
        else
            RemoveSubclassLayer(top);
    }
}

BOOL SkinComboBox(HWND control) {
    // the record is made at once: the removal must reach the box's items even if no message came
    return LayerWithData(control, ComboBoxLayerProc, NewWindowRecord<ComboData>, DestroyComboData) != nullptr;
}

BOOL SkinEdit(HWND control) {
    return LayerWithData(control, EditLayerProc, NewEditData, DestroyEditData) != nullptr;
}

BOOL SkinRadioButton(HWND control) { return InstallButtonSkin(control, RadioButtonLayerProc); }
BOOL SkinCheckBox(HWND control) { return InstallButtonSkin(control, CheckBoxLayerProc); }

BOOL SkinPushButton(HWND control) {
    return InstallButtonSkin(control, ImageButtonLayerProc) &&
           LayerWithData(control, ImageButtonLayerProc, NewWindowRecord<ImageButtonData>, DestroyImageButtonData);
}

BOOL SkinStatic(HWND control) {
    return LayerWithData(control, StaticImageLayerProc, NewWindowRecord<StaticImageData>, DestroyStaticImageData) !=
           nullptr;
}

void FreeComboBoxItems(HWND combo) { FreeItemsBelow(FindSubclassLayer(combo, ComboBoxLayerProc)); }

const wchar_t* GetEditLayerText(HWND edit) {
    EditData* data = EditLayerData(edit);
    return data ? data->committed.c_str() : nullptr;
}

bool SetEditLayerText(HWND edit, const wchar_t* text) {
    EditData* data = EditLayerData(edit);
    if (!data) return false;
    try {
        data->committed = text ? text : L"";
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------
// Layer procedures.

LRESULT CALLBACK ButtonLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, ButtonLayerProc);
    if (!layer || !layer->previousProcedure) return 0;
    if (message == WM_NCDESTROY) return PassAndRemove(layer, hwnd, message, wParam, lParam);
    if (message < SKM_GETMARK || message > SKM_SETTRANSPARENT) {
        if (message == WM_PAINT) {
            GroupRecord* group = EnsureGroup(layer);
            if (group && group->transparent && PaintTransparent(layer, hwnd, group)) {
                ValidateRect(hwnd, nullptr);
                return 0;
            }
        }
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    }
    GroupRecord* group = EnsureGroup(layer);
    if (!group) return 0;
    switch (message) {
    case SKM_GETMARK:
        return ValidMember(group, wParam) ? group->members[wParam].value : 0;
    case SKM_SETMARK:
        if (!ValidMember(group, wParam)) return 0;
        group->members[wParam].value = static_cast<int>(lParam);
        return 1;
    case SKM_SETVALUE:
        if (!ValidMember(group, wParam)) return 0;
        group->members[wParam].key = static_cast<int>(lParam);
        return 1;
    case SKM_GETVALUE:
        return ValidMember(group, wParam) ? group->members[wParam].key : -1;
    case SKM_SELECTVALUE:
        for (int i = 0; i < group->count; ++i) {
            if (group->members[i].key == static_cast<int>(lParam))
                return SendMessageW(hwnd, SKM_SETSELECTION, static_cast<WPARAM>(i), 0);
        }
        return 0;
    case SKM_SELECTID:
        for (int i = 0; i < group->count; ++i) {
            if (static_cast<WPARAM>(GetDlgCtrlID(group->members[i].window)) == wParam)
                return SendMessageW(hwnd, SKM_SETSELECTION, static_cast<WPARAM>(i), 0);
        }
        return 0;
    case SKM_SELECTSELF: {
        const int index = MemberIndex(group, hwnd);
        return index < 0 ? 0 : SendMessageW(hwnd, SKM_SETSELECTION, static_cast<WPARAM>(index), 0);
    }
    case SKM_GETCOUNT:
        return group->count;
    case SKM_GETSELECTION:
        return group->selected >= 0 && group->selected < group->count ? group->selected : -1;
    case SKM_SETSELECTION:
        if (!ValidMember(group, wParam)) return 0;
        group->selected = static_cast<int>(wParam);
        return 1;
    case SKM_GETMEMBERID:
        return ValidMember(group, wParam) ? GetDlgCtrlID(group->members[wParam].window) : 0;
    case SKM_GETMEMBERWND:
        return ValidMember(group, wParam) ? reinterpret_cast<LRESULT>(group->members[wParam].window) : 0;
    case SKM_SETTRANSPARENT:
        group->transparent = TRUE;
        group->transparentColour = static_cast<COLORREF>(lParam);
        return 1;
    default:
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK CheckBoxLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, CheckBoxLayerProc);
    if (!layer || !layer->previousProcedure) return 0;
    if (message == WM_NCDESTROY) return PassAndRemove(layer, hwnd, message, wParam, lParam);
    if (message == WM_PAINT) {
        GroupRecord* group = ButtonGroup(hwnd);
        if (group && group->transparent) {
            const LRESULT state = SendMessageW(hwnd, BM_GETSTATE, 0, 0);
            // the kept state lives in the layer's data word itself
            if (reinterpret_cast<LRESULT>(layer->data) != state) {
                layer->data = reinterpret_cast<void*>(state);
                // the parent repaints the background first; this paint comes again after it
                HWND parent = GetParent(hwnd);
                RECT rect{};
                GetWindowRect(hwnd, &rect);
                MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
                InvalidateRect(parent, &rect, TRUE);
                return 0;
            }
        }
    }
    return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK RadioButtonLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, RadioButtonLayerProc);
    if (!layer || !layer->previousProcedure) return 0;
    switch (message) {
    case WM_NCDESTROY:
        return PassAndRemove(layer, hwnd, message, wParam, lParam);
    case SKM_SETSELECTION: {
        GroupRecord* group = ButtonGroup(hwnd);
        if (!ValidMember(group, wParam)) return 0;
        for (int i = 0; i < group->count; ++i) {
            HWND member = group->members[i].window;
            if (static_cast<WPARAM>(i) == wParam)
                SendMessageW(member, BM_SETCHECK, BST_CHECKED, 0);
            else if (SendMessageW(member, BM_GETCHECK, 0, 0) == BST_CHECKED)
                SendMessageW(member, BM_SETCHECK, BST_UNCHECKED, 0);
        }
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    }
    default:
        return SelectableMemberMessage(layer, hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK ImageButtonLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, ImageButtonLayerProc);
    if (!layer || !layer->previousProcedure) return 0;
    ImageButtonData* images = static_cast<ImageButtonData*>(layer->data);
    switch (message) {
    case WM_NCDESTROY:
        return PassAndRemove(layer, hwnd, message, wParam, lParam);
    case SKM_SETIMAGE:
        if (!images || wParam >= 3) return 0;
        PlaceImage(hwnd, &images->slots[wParam], reinterpret_cast<const SkinImage*>(lParam));
        InvalidateRect(hwnd, nullptr, TRUE);
        return 1;
    case SKM_REFLECTED_DRAWITEM: {
        const DRAWITEMSTRUCT* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (!images || !draw || !(draw->itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) return 0;
        DrawImageButton(draw, images, ButtonGroup(hwnd));
        return 1;
    }
    case SKM_SETSELECTION: {
        GroupRecord* group = ButtonGroup(hwnd);
        if (!ValidMember(group, wParam)) return 0;
        if (group->selected >= 0 && group->selected < group->count)
            InvalidateRect(group->members[group->selected].window, nullptr, TRUE);
        InvalidateRect(group->members[wParam].window, nullptr, TRUE);
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    }
    default:
        return SelectableMemberMessage(layer, hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK StaticImageLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, StaticImageLayerProc);
    if (!layer || !layer->previousProcedure) return 0;
    if (message == WM_NCDESTROY) return PassAndRemove(layer, hwnd, message, wParam, lParam);
    if (message == SKM_SETIMAGE) {
        StaticImageData* data = static_cast<StaticImageData*>(layer->data);
        const SkinImage* image = reinterpret_cast<const SkinImage*>(lParam);
        if (!data) return 0;
        DeleteStaticCopy(
            CallBelow(layer, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image ? image->bitmap : nullptr)),
            &data->image, image);
        PlaceImage(hwnd, &data->image, image);
        return 1;
    }
    return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ComboBoxLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, ComboBoxLayerProc);
    if (!layer || !layer->previousProcedure) return 0;
    switch (message) {
    case WM_NCDESTROY:
        return PassAndRemove(layer, hwnd, message, wParam, lParam);
    case WM_DESTROY:
        FreeItemsBelow(layer);
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
        ComboItem* item = MakeComboItem(reinterpret_cast<const wchar_t*>(lParam));
        if (!item) return CB_ERRSPACE;
        const LRESULT index = CallBelow(layer, message, wParam, reinterpret_cast<LPARAM>(item));
        if (index < 0) FreeComboItem(item);
        return index;
    }
    case CB_DELETESTRING:
        FreeComboItem(ItemAt(layer, wParam));
        CallBelow(layer, CB_SETITEMDATA, wParam, 0);
        return CallBelow(layer, message, wParam, lParam);
    case CB_RESETCONTENT:
        FreeItemsBelow(layer);
        return CallBelow(layer, message, wParam, lParam);
    case CB_GETLBTEXT:
    case SKM_GETITEMTEXT: {
        if (wParam >= static_cast<WPARAM>(ItemCount(layer))) return CB_ERR;
        ComboItem* item = ItemAt(layer, wParam);
        const wchar_t* text = item && item->text ? item->text : L"";
        wchar_t* out = reinterpret_cast<wchar_t*>(lParam);
        if (!out) return CB_ERR;
        const size_t length = std::wcslen(text);
        std::wmemcpy(out, text, length + 1);
        return static_cast<LRESULT>(length);
    }
    case CB_GETLBTEXTLEN: {
        if (wParam >= static_cast<WPARAM>(ItemCount(layer))) return CB_ERR;
        ComboItem* item = ItemAt(layer, wParam);
        return item && item->text ? static_cast<LRESULT>(std::wcslen(item->text)) : 1;
    }
    case CB_GETITEMDATA: {
        ComboItem* item = wParam < static_cast<WPARAM>(ItemCount(layer)) ? ItemAt(layer, wParam) : nullptr;
        return item ? static_cast<LRESULT>(item->itemData) : CB_ERR;
    }
    case CB_SETITEMDATA: {
        ComboItem* item = wParam < static_cast<WPARAM>(ItemCount(layer)) ? ItemAt(layer, wParam) : nullptr;
        if (!item) return CB_ERR;
        item->itemData = static_cast<ULONG64>(lParam);
        return TRUE;
    }
    case SKM_ENDGROUP: {
        const LRESULT count = ItemCount(layer);
        if (wParam < static_cast<WPARAM>(count)) {
            ComboItem* item = ItemAt(layer, wParam);
            if (item && !item->separator && wParam != 0) {
                item->separator = 1;
                const LRESULT height = CallBelow(layer, CB_GETITEMHEIGHT, wParam, 0);
                if (height != CB_ERR) CallBelow(layer, CB_SETITEMHEIGHT, wParam, height + kSeparatorHeight);
            } else if (item && wParam == 0) {
                item->separator = 1;  // the first item's height is set below
            }
        }
        SpreadSeparatorHeight(layer);
        return count > 0;
    }
    case SKM_SELECTBYVALUE:
    case SKM_SELECTVALUE:
        return SelectItemByValue(layer, lParam);
    case SKM_GETMARK: {
        ComboItem* item = wParam < static_cast<WPARAM>(ItemCount(layer)) ? ItemAt(layer, wParam) : nullptr;
        return item ? item->mark : 0;
    }
    case SKM_SETMARK: {
        ComboItem* item = wParam < static_cast<WPARAM>(ItemCount(layer)) ? ItemAt(layer, wParam) : nullptr;
        if (!item) return 0;
        if (item->mark != static_cast<int>(lParam)) {
            item->mark = static_cast<int>(lParam);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 1;
    }
    case SKM_SETVALUE: {
        ComboItem* item = wParam < static_cast<WPARAM>(ItemCount(layer)) ? ItemAt(layer, wParam) : nullptr;
        if (!item) return 0;
        item->value = static_cast<int>(lParam);
        return 1;
    }
    case SKM_GETVALUE: {
        ComboItem* item = wParam < static_cast<WPARAM>(ItemCount(layer)) ? ItemAt(layer, wParam) : nullptr;
        return item ? item->value : -1;
    }
    case SKM_GETCOUNT:
        return ItemCount(layer);
    case SKM_GETSELECTION:
        return CallBelow(layer, CB_GETCURSEL, 0, 0);
    case SKM_SETSELECTION:
        return CallBelow(layer, CB_SETCURSEL, wParam, 0);
    case SKM_REFLECTED_DRAWITEM:
        if (lParam) DrawComboItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case SKM_REFLECTED_MEASUREITEM:
        return MeasureComboItem(hwnd, layer, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
    default:
        return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK EditLayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassLayer* layer = FindSubclassLayer(hwnd, EditLayerProc);
    if (!layer || !layer->previousProcedure) return 0;
    EditData* edit = static_cast<EditData*>(layer->data);
    switch (message) {
    case WM_NCDESTROY:
        return PassAndRemove(layer, hwnd, message, wParam, lParam);
    case WM_KILLFOCUS: {
        const LRESULT result = CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
        if (edit) CommitText(hwnd, edit);
        return result;
    }
    case WM_KEYDOWN:
        if (wParam != VK_RETURN) break;
        if (edit) CommitText(hwnd, edit);
        return 1;
    case WM_KEYUP:
        if (!edit || !edit->commitOnKeyUp) return 0;
        CommitText(hwnd, edit);
        return 1;
    case SKM_COMMITTEXT:
        if (!edit) return 0;
        CommitText(hwnd, edit);
        return 1;
    case SKM_COMMITONKEYUP:
        if (!edit) return 0;
        edit->commitOnKeyUp = wParam != 0;
        return 1;
    case WM_CHAR:
        if (GetDlgCtrlID(hwnd) == SKIN_ADDRESS_EDIT_ID && !IsAddressCharacter(wParam)) return 0;
        break;
    default:
        break;
    }
    return CallPreviousWindowProc(layer, hwnd, message, wParam, lParam);
}
