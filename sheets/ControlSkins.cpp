// The control skins: the skin table, its installers and the layer procedures (see SubclassLayer.h).
#include "sheets/SubclassLayer.h"

SkinInstaller FindControlSkin(HWND) { return nullptr; }
void SkinDialogControls(SubclassLayer* dialogLayer) {
    if (dialogLayer) dialogLayer->skinsApplied = TRUE;
}
BOOL AreSkinsApplied(const SubclassLayer* dialogLayer) { return dialogLayer ? dialogLayer->skinsApplied : FALSE; }
void RemoveControlSkin(HWND control) {
    while (SubclassLayer* top = GetTopSubclassLayer(control)) {
        if (top->removeSkin) top->removeSkin(top); else RemoveSubclassLayer(top);
    }
}
BOOL SkinComboBox(HWND) { return FALSE; }
BOOL SkinEdit(HWND) { return FALSE; }
BOOL SkinRadioButton(HWND) { return FALSE; }
BOOL SkinCheckBox(HWND) { return FALSE; }
BOOL SkinPushButton(HWND) { return FALSE; }
BOOL SkinStatic(HWND) { return FALSE; }
LRESULT CALLBACK ButtonLayerProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT CALLBACK CheckBoxLayerProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT CALLBACK RadioButtonLayerProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT CALLBACK ImageButtonLayerProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT CALLBACK StaticImageLayerProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT CALLBACK ComboBoxLayerProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT CALLBACK EditLayerProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
void FreeComboBoxItems(HWND) {}
StringHolder* GetEditLayerText(HWND) { return nullptr; }
