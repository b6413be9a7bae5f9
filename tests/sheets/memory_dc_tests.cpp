// Off-screen pictures: centring with the offsets' rounding, the empty object, font variants and
// handing the bitmap over.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "SheetTestSupport.h"
#include "sheets/MemoryDC.h"

namespace {

// A 32-bit image whose pixel (x, y) holds 0x00XXYY01 (x and y in the red and green bytes).
HBITMAP PositionImage(int width, int height) {
    void* bits = nullptr;
    HBITMAP image = sheettest::CreateTopDownDib(width, height, &bits);
    uint32_t* pixels = static_cast<uint32_t*>(bits);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels[y * width + x] = (uint32_t(x) << 16) | (uint32_t(y) << 8) | 1u;
    return image;
}

uint32_t PixelAt(CMemoryDC& picture, int x, int y) {
    const std::vector<uint32_t> pixel = sheettest::ReadPixels(picture.GetDC(), RECT{x, y, x + 1, y + 1});
    return pixel.empty() ? 0xFFFFFFFF : pixel[0];
}

TEST(MemoryDCTest, BlitCentredPlacesTheImageAtTheTruncatedOffset) {
    struct Case {
        int picture, image, offset;  // square sizes; the offset expected on both axes
    } cases[] = {
        {10, 13, -1},  // 3 pixels too large: -3 / 2 truncates to -1
        {10, 10, 0},   // its own size lands at (0, 0)
        {10, 11, 0},   // -1 / 2 truncates to 0
        {10, 4, 3},
        {9, 4, 2},
        {4, 10, -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.image << " into " << c.picture);
        CMemoryDC picture(24, SIZE{c.picture, c.picture});
        ASSERT_NE(picture.GetDC(), nullptr);
        EXPECT_EQ(picture.Fill(static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 1);
        HBITMAP image = PositionImage(c.image, c.image);
        ASSERT_EQ(picture.BlitCentred(image), 1);
        // picture pixel (p, p) shows image pixel (p - offset, p - offset) when that exists
        for (int p = 0; p < c.picture; ++p) {
            const int source = p - c.offset;
            const uint32_t expected =
                source >= 0 && source < c.image ? ((uint32_t(source) << 16) | (uint32_t(source) << 8) | 1u) : 0u;
            EXPECT_EQ(PixelAt(picture, p, p), expected) << "at " << p;
        }
        EXPECT_NE(GetObjectType(image), 0u) << "the image stays the caller's";
        DeleteObject(image);
    }
}

TEST(MemoryDCTest, EmptyObjectDoesNothing) {
    for (SIZE size : {SIZE{0, 0}, SIZE{-5, 10}, SIZE{100000, 100000}}) {
        SCOPED_TRACE(testing::Message() << size.cx << "x" << size.cy);
        CMemoryDC picture(24, size);
        EXPECT_EQ(picture.GetDC(), nullptr);
        EXPECT_EQ(picture.GetBitmap(), nullptr);
        EXPECT_EQ(picture.Fill(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 0);
        HBITMAP image = PositionImage(2, 2);
        EXPECT_EQ(picture.BlitCentred(image), 0);
        DeleteObject(image);
        EXPECT_EQ(picture.DetachBitmap(), nullptr);
        LONG weight = 123;
        picture.SelectFontVariant(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)), &weight, nullptr);
        EXPECT_EQ(weight, 123) << "no font work without a DC";
        picture.Release();
        picture.Release();
    }
    CMemoryDC badDepth(7, SIZE{4, 4});
    EXPECT_EQ(badDepth.GetDC(), nullptr);
}

TEST(MemoryDCTest, FillCoversThePicture) {
    CMemoryDC picture(24, SIZE{7, 5});
    HBRUSH brush = CreateSolidBrush(RGB(10, 20, 30));
    ASSERT_EQ(picture.Fill(brush), 1);
    const std::vector<uint32_t> pixels = sheettest::ReadPixels(picture.GetDC(), RECT{0, 0, 7, 5});
    ASSERT_EQ(pixels.size(), 35u);
    for (uint32_t pixel : pixels) EXPECT_EQ(pixel, 0x000A141Eu);
    EXPECT_NE(GetObjectType(brush), 0u) << "the brush stays the caller's";
    DeleteObject(brush);
}

LOGFONTW SelectedFont(HDC dc) {
    LOGFONTW font{};
    GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof(font), &font);
    return font;
}

TEST(MemoryDCTest, FontVariants) {
    LOGFONTW description{};
    description.lfHeight = -12;
    description.lfWeight = FW_NORMAL;
    wcscpy(description.lfFaceName, L"Tahoma");
    HFONT font = CreateFontIndirectW(&description);
    CMemoryDC picture(24, SIZE{8, 8});
    HDC dc = picture.GetDC();
    ASSERT_NE(dc, nullptr);
    HGDIOBJ original = GetCurrentObject(dc, OBJ_FONT);

    struct Case {
        bool withWeight;
        LONG weightIn, weightOut, selectedWeight;
        bool withUnderline;
        LONG underlineIn, underlineOut, selectedUnderline;
    } cases[] = {
        {true, 0, FW_NORMAL, FW_NORMAL, false, 0, 0, 0},      // 0 keeps the weight and still receives it
        {true, FW_BOLD, FW_NORMAL, FW_BOLD, false, 0, 0, 0},  // bold variant; the font's own weight comes back
        {false, 0, 0, FW_NORMAL, true, 1, 0, 1},              // underlined; the own flag comes back
        {false, 0, 0, FW_NORMAL, true, 0x100, 0, 0},          // only the low byte counts
        {false, 0, 0, FW_NORMAL, false, 0, 0, 0},             // an unchanged copy
    };
    HGDIOBJ previousVariant = nullptr;
    for (const Case& c : cases) {
        LONG weight = c.weightIn;
        LONG underline = c.underlineIn;
        picture.SelectFontVariant(font, c.withWeight ? &weight : nullptr, c.withUnderline ? &underline : nullptr);
        if (c.withWeight) {
            EXPECT_EQ(weight, c.weightOut);
        }
        if (c.withUnderline) {
            EXPECT_EQ(underline, c.underlineOut);
        }
        const LOGFONTW selected = SelectedFont(dc);
        EXPECT_EQ(selected.lfWeight, c.selectedWeight);
        EXPECT_EQ(selected.lfUnderline, c.selectedUnderline);
        HGDIOBJ variant = GetCurrentObject(dc, OBJ_FONT);
        EXPECT_NE(variant, font);
        EXPECT_NE(variant, original);
        // the variant before this one was deleted when it was replaced
        if (previousVariant) {
            EXPECT_EQ(GetObjectType(previousVariant), 0u);
        }
        previousVariant = variant;
    }
    picture.Release();
    EXPECT_EQ(GetObjectType(previousVariant), 0u) << "Release deletes the last variant";
    EXPECT_NE(GetObjectType(font), 0u) << "the font stays the caller's";
    EXPECT_NE(GetObjectType(original), 0u) << "the DC's own font is not deleted";
    picture.SelectFontVariant(nullptr, nullptr, nullptr);
    DeleteObject(font);
}

TEST(MemoryDCTest, DetachHandsTheBitmapOver) {
    CMemoryDC picture(24, SIZE{6, 4});
    HDC dc = picture.GetDC();
    ASSERT_NE(dc, nullptr);
    picture.Fill(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HBITMAP bitmap = picture.DetachBitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_NE(GetCurrentObject(dc, OBJ_BITMAP), bitmap) << "deselected from the DC";
    EXPECT_EQ(picture.DetachBitmap(), nullptr);
    EXPECT_EQ(picture.GetDC(), dc) << "the DC stays";
    EXPECT_EQ(picture.Fill(static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0) << "no picture left to fill";
    picture.Release();
    EXPECT_EQ(GetObjectType(dc), 0u) << "Release deletes the DC";
    BITMAP info{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof(info), &info), static_cast<int>(sizeof(info)));
    EXPECT_EQ(info.bmWidth, 6);
    EXPECT_EQ(info.bmHeight, 4);
    EXPECT_EQ(info.bmBitsPixel, 24);
    EXPECT_TRUE(DeleteObject(bitmap));
}

}  // namespace
