// Image list of the OEM module's picture layers and their conditional drawing.
#include "storage/OEMBitmapList.h"

#include "settings/KVCache.h"
#include "settings/KeySetting.h"
#include "settings/StrSoup.h"

namespace {

// Owner of a GDI bitmap loaded for the moment it is copied into the list.
class BitmapHolder {
public:
    explicit BitmapHolder(HBITMAP bitmap) : m_bitmap(bitmap) {}
    ~BitmapHolder()
    {
        if (m_bitmap != nullptr)
            DeleteObject(m_bitmap);
    }
    BitmapHolder(const BitmapHolder&) = delete;
    BitmapHolder& operator=(const BitmapHolder&) = delete;
    HBITMAP Get() const { return m_bitmap; }

private:
    HBITMAP m_bitmap;
};

// A bitmap resource of the module by numeric id; null for ids a resource cannot have.
HBITMAP LoadModuleBitmap(HMODULE module, int id)
{
    if (id <= 0 || id > 0xFFFF)
        return nullptr;
    return LoadBitmapW(module, MAKEINTRESOURCEW(id));
}

} // namespace

COEMBitmapList::COEMBitmapList(COEMInterface* oem, CBaseSoup* soup)
{
    if (oem == nullptr || oem->GetModule() == nullptr)
        return;
    HMODULE module = oem->GetModule();
    if (oem->GetPrinterBitmapInfo(&m_records) != 0 || m_records.Count() == 0) {
        m_records.Clear();
        return;
    }

    BitmapHolder first(LoadModuleBitmap(module, m_records[0].resourceId));
    BITMAP info = {};
    if (first.Get() == nullptr || GetObjectW(first.Get(), sizeof(info), &info) == 0 || info.bmWidth <= 0 ||
        info.bmHeight <= 0) {
        m_records.Clear();
        return;
    }
    HIMAGELIST images = ImageList_Create(info.bmWidth, info.bmHeight, ILC_COLOR24 | ILC_MASK, 1, 1);
    if (images == nullptr) {
        m_records.Clear();
        return;
    }

    std::map<int, int> index;
    bool ok = true;
    for (size_t i = 0; i < m_records.Count() && ok; ++i) {
        const PrinterBitmapRecord& record = m_records[i];
        if (index.count(record.resourceId) != 0)
            continue;
        BitmapHolder bitmap(LoadModuleBitmap(module, record.resourceId));
        BitmapHolder mask(LoadModuleBitmap(module, record.maskId));
        const int image = (bitmap.Get() != nullptr && mask.Get() != nullptr)
                              ? ImageList_Add(images, bitmap.Get(), mask.Get())
                              : -1;
        if (image < 0) {
            ok = false;
            break;
        }
        index[record.resourceId] = image;
    }
    if (!ok) {
        ImageList_Destroy(images);
        m_records.Clear();
        return;
    }
    m_images = images;
    m_width = info.bmWidth;
    m_height = info.bmHeight;
    m_soup = soup;
    m_imageIndex.swap(index);
}

COEMBitmapList::~COEMBitmapList()
{
    if (m_images != nullptr)
        ImageList_Destroy(m_images);
    m_images = nullptr;
}

int COEMBitmapList::GetImageCount() const noexcept
{
    return m_images != nullptr ? ImageList_GetImageCount(m_images) : 0;
}

bool COEMBitmapList::ConditionHolds(const wchar_t* feature, const wchar_t* option, const KVCache* current) const
{
    if (feature == nullptr || feature[0] == L'\0')
        return true;
    if (m_soup == nullptr || current == nullptr || option == nullptr)
        return false;
    const SoupSlotID featureSlot = m_soup->Find(feature);
    const SoupSlotID optionSlot = m_soup->Find(option);
    if (featureSlot.IsInvalid() || optionSlot.IsInvalid())
        return false;
    const CKeySetting* setting = current->Find(featureSlot);
    return setting != nullptr && setting->GetValueId() == optionSlot;
}

void COEMBitmapList::Draw(HDC dc, SIZE, const KVCache* current) const
{
    if (dc == nullptr || m_images == nullptr)
        return;
    for (size_t i = 0; i < m_records.Count(); ++i) {
        const PrinterBitmapRecord& record = m_records[i];
        if (!ConditionHolds(record.feature, record.option, current))
            continue;
        bool all = true;
        for (uint32_t c = 0; c < record.conditionCount && all; ++c)
            all = ConditionHolds(record.conditions[c].feature, record.conditions[c].option, current);
        if (!all)
            continue;
        const auto image = m_imageIndex.find(record.resourceId);
        if (image == m_imageIndex.end())
            continue;
        ImageList_DrawEx(m_images, image->second, dc, record.xOffset, record.yOffset, 0, 0, CLR_NONE, CLR_NONE,
                         ILD_TRANSPARENT);
    }
}
