// The printer picture of the installable-options tab: the OEM module's bitmap layers in one image
// list, drawn in order for the layers whose feature/option conditions the current settings meet.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <map>

#include "storage/OEMManager.h"
#include "storage/PrinterBitmap.h"

class CBaseSoup;
class KVCache;

class COEMBitmapList {
public:
    // Builds the list from the module's layers and bitmap resources; the soup (not owned) names
    // the condition texts. IsBuilt tells whether it worked.
    COEMBitmapList(COEMInterface* oem, CBaseSoup* soup);
    virtual ~COEMBitmapList();

    COEMBitmapList(const COEMBitmapList&) = delete;
    COEMBitmapList& operator=(const COEMBitmapList&) = delete;

    bool IsBuilt() const noexcept { return m_images != nullptr; }
    int GetImageCount() const noexcept;
    SIZE GetBitmapSize() const noexcept { return SIZE{m_width, m_height}; }
    size_t GetLayerCount() const noexcept { return m_records.Count(); }

    // Draws, in order, every layer whose conditions hold in current (null: only the layers
    // without conditions) at its offsets. size is the picture area the caller prepared.
    void Draw(HDC dc, SIZE size, const KVCache* current) const;

private:
    // Whether {feature, option} holds: no feature, or both texts known to the soup and the
    // feature's current setting being that option.
    bool ConditionHolds(const wchar_t* feature, const wchar_t* option, const KVCache* current) const;

    PrinterBitmapTable m_records;
    HIMAGELIST m_images = nullptr;
    CBaseSoup* m_soup = nullptr;
    int m_width = 0;
    int m_height = 0;
    std::map<int, int> m_imageIndex;  // bitmap resource id -> image
};
