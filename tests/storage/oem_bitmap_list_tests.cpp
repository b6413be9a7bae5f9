// The printer picture: layers of the OEM test module in one image list, drawn only when their
// conditions hold in the current settings, and a list that is not built when a bitmap is missing.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "TestModulesDir.h"
#include "settings/KVCache.h"
#include "settings/KeySetting.h"
#include "settings/StrSoup.h"
#include "storage/OEMBitmapList.h"

namespace {

std::wstring ModulePath(const wchar_t* file)
{
    return std::wstring(TOLVA_TEST_MODULES_DIR_W) + L"\\" + file;
}

// A white 32-bit top-down picture with a memory DC selected into it.
class Canvas {
public:
    Canvas(int width, int height) : m_width(width)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_dc = CreateCompatibleDC(nullptr);
        m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
        if (m_dc != nullptr && m_bitmap != nullptr) {
            m_old = SelectObject(m_dc, m_bitmap);
            for (int i = 0; i < width * height; ++i)
                m_bits[i] = 0x00FFFFFF;
        }
    }
    ~Canvas()
    {
        if (m_dc != nullptr) {
            SelectObject(m_dc, m_old);
            DeleteDC(m_dc);
        }
        if (m_bitmap != nullptr)
            DeleteObject(m_bitmap);
    }
    HDC Dc() const { return m_dc; }
    bool Ready() const { return m_dc != nullptr && m_bits != nullptr; }
    // 0xRRGGBB of a pixel.
    uint32_t At(int x, int y) const
    {
        GdiFlush();
        return m_bits[y * m_width + x] & 0x00FFFFFF;
    }

private:
    int m_width;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    uint32_t* m_bits = nullptr;
};

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBody = 0xC80000;  // red 200
constexpr uint32_t kTray = 0x0000C8;  // blue 200

class OEMBitmapListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = ModulePath(L"PRNFULL.OEM");
        m_oem = AcquireOEMInterface(nullptr, m_path.c_str());
        ASSERT_NE(m_oem, nullptr);
    }
    void TearDown() override { ReleaseOEMInterface(nullptr, m_path.c_str(), m_oem); }

    // Sets feature = option in the current settings, interning both texts.
    void Choose(const wchar_t* feature, const wchar_t* option)
    {
        CKeyOldSetting setting(m_soup.FindOrAdd(feature), m_soup.FindOrAdd(option));
        m_current.Set(&setting);
    }

    std::wstring m_path;
    COEMInterface* m_oem = nullptr;
    CStrSoupTmplt<LessSensitive> m_soup;
    KVCache m_current;
};

TEST_F(OEMBitmapListTest, BuildsOneImagePerBitmap)
{
    COEMBitmapList list(m_oem, &m_soup);
    ASSERT_TRUE(list.IsBuilt());
    EXPECT_EQ(list.GetLayerCount(), 2u);
    EXPECT_EQ(list.GetImageCount(), 2);
    EXPECT_EQ(list.GetBitmapSize().cx, 8);
    EXPECT_EQ(list.GetBitmapSize().cy, 6);
}

TEST_F(OEMBitmapListTest, DrawsTheLayersWhoseConditionsHold)
{
    COEMBitmapList list(m_oem, &m_soup);
    ASSERT_TRUE(list.IsBuilt());
    const struct {
        const char* label;
        bool duplex, tray, finisher;
        bool trayDrawn;
    } cases[] = {
        {"nothing chosen: only the unconditional body", false, false, false, false},
        {"first condition only", true, false, false, false},
        {"one further condition missing", true, true, false, false},
        {"all conditions hold", true, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        m_current.Clear();
        if (c.duplex)
            Choose(L"*Duplex", L"DuplexNoTumble");
        if (c.tray)
            Choose(L"*InputSlot", L"Tray2");
        if (c.finisher)
            Choose(L"*Finisher", L"Stapler");
        Canvas canvas(32, 32);
        ASSERT_TRUE(canvas.Ready());
        list.Draw(canvas.Dc(), SIZE{32, 32}, &m_current);
        // Body at (1,2): its mask leaves the last two columns transparent.
        EXPECT_EQ(canvas.At(1, 2), kBody);
        EXPECT_EQ(canvas.At(6, 3), kBody);
        EXPECT_EQ(canvas.At(7, 3), kWhite);
        EXPECT_EQ(canvas.At(0, 0), kWhite);
        // Tray at (5,6), drawn over the body.
        EXPECT_EQ(canvas.At(10, 10), c.trayDrawn ? kTray : kWhite);
        EXPECT_EQ(canvas.At(6, 7), c.trayDrawn ? kTray : kBody);
    }
}

TEST_F(OEMBitmapListTest, WrongOptionOrUnknownTextsDoNotDraw)
{
    COEMBitmapList list(m_oem, &m_soup);
    ASSERT_TRUE(list.IsBuilt());
    Choose(L"*Duplex", L"None");
    Choose(L"*InputSlot", L"Tray2");
    Choose(L"*Finisher", L"Stapler");
    Canvas canvas(32, 32);
    ASSERT_TRUE(canvas.Ready());
    list.Draw(canvas.Dc(), SIZE{32, 32}, &m_current);
    EXPECT_EQ(canvas.At(10, 10), kWhite);

    // Without current settings only unconditional layers are drawn.
    Canvas bare(32, 32);
    list.Draw(bare.Dc(), SIZE{32, 32}, nullptr);
    EXPECT_EQ(bare.At(1, 2), kBody);
    EXPECT_EQ(bare.At(10, 10), kWhite);
}

TEST(OEMBitmapListBuildTest, MissingBitmapFailsTheWholeList)
{
    // A copy of the module whose picture description names a bitmap it does not carry.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"tolva-bitmaplist";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring module = folder + L"\\PRNNOINFO.OEM";
    const std::wstring xml = folder + L"\\PRNNOINFORes.xml";
    ASSERT_TRUE(CopyFileW(ModulePath(L"PRNNOINFO.OEM").c_str(), module.c_str(), FALSE));
    FILE* file = _wfopen(xml.c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    std::fputs("<oemdllfeatures><bitmapinfo><bmpgroup><bmp resid=\"201\" maskid=\"202\"/>"
               "<bmp resid=\"999\"/></bmpgroup></bitmapinfo></oemdllfeatures>",
               file);
    std::fclose(file);

    CStrSoupTmplt<LessSensitive> soup;
    COEMInterface* oem = AcquireOEMInterface(nullptr, module.c_str());
    ASSERT_NE(oem, nullptr);
    {
        COEMBitmapList list(oem, &soup);
        EXPECT_FALSE(list.IsBuilt());
        EXPECT_EQ(list.GetImageCount(), 0);
        EXPECT_EQ(list.GetLayerCount(), 0u);
        Canvas canvas(8, 8);
        list.Draw(canvas.Dc(), SIZE{8, 8}, nullptr);
        EXPECT_EQ(canvas.At(0, 0), kWhite);
    }
    ReleaseOEMInterface(nullptr, module.c_str(), oem);
    DeleteFileW(xml.c_str());

    COEMBitmapList none(nullptr, &soup);
    EXPECT_FALSE(none.IsBuilt());
}

TEST(OEMBitmapListBuildTest, LayersFromResXmlBuildToo)
{
    const std::wstring path = ModulePath(L"PRNNOINFO.OEM");
    COEMInterface* oem = AcquireOEMInterface(nullptr, path.c_str());
    ASSERT_NE(oem, nullptr);
    CStrSoupTmplt<LessSensitive> soup;
    {
        COEMBitmapList list(oem, &soup);
        EXPECT_TRUE(list.IsBuilt());
        EXPECT_EQ(list.GetImageCount(), 2);
    }
    ReleaseOEMInterface(nullptr, path.c_str(), oem);
}

} // namespace
