// Pictures from PNG resources: every decoded byte of the fixtures, the bitmap fallback, damaged
// and oversized PNGs, and a run of mutated PNGs that must decode or fail cleanly.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "TestModulesDir.h"
#include "sheets/PngImage.h"

namespace {

struct Bgra {
    uint8_t b, g, r, a;
};

class PngImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_module = LoadLibraryW(TOLVA_TEST_MODULES_DIR_W L"\\pngres.dll");
    }
    static void TearDownTestSuite()
    {
        if (s_module != nullptr)
            FreeLibrary(s_module);
        s_module = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_module, nullptr) << "pngres.dll did not load"; }

    // The raw bytes of a fixture resource.
    static std::vector<uint8_t> ResourceBytes(const wchar_t* name, const wchar_t* type = L"PNG")
    {
        HRSRC found = FindResourceW(s_module, name, type);
        if (found == nullptr)
            return {};
        const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(s_module, found)));
        return std::vector<uint8_t>(data, data + SizeofResource(s_module, found));
    }

    static HMODULE s_module;
};
HMODULE PngImageTest::s_module = nullptr;

// Reads the pixels of a 32-bit DIB section in memory order; false when it is not one.
bool ReadDib(HBITMAP bitmap, int& width, int& height, std::vector<Bgra>& pixels)
{
    DIBSECTION dib = {};
    const int got = GetObjectW(bitmap, sizeof(dib), &dib);
    if (got != sizeof(dib) || dib.dsBm.bmBits == nullptr) {
        ADD_FAILURE() << "GetObject gave " << got << " bytes, bits " << dib.dsBm.bmBits;
        return false;
    }
    // The row order shows in the pixels (they differ by row); the height's sign as GetObject
    // reports it differs between Windows versions and Wine.
    if (dib.dsBmih.biBitCount != 32 || dib.dsBm.bmWidthBytes != dib.dsBm.bmWidth * 4) {
        ADD_FAILURE() << "bit count " << dib.dsBmih.biBitCount << ", stride " << dib.dsBm.bmWidthBytes << ", width "
                      << dib.dsBm.bmWidth;
        return false;
    }
    width = dib.dsBm.bmWidth;
    height = dib.dsBm.bmHeight;
    const auto* bits = static_cast<const Bgra*>(dib.dsBm.bmBits);
    pixels.assign(bits, bits + static_cast<size_t>(width) * static_cast<size_t>(height));
    return true;
}

struct DecodeCase {
    const wchar_t* name;
    const char* label;
    int width;
    int height;
    std::function<Bgra(int x, int y)> expected;
};

// The formulas the fixture generator used (tests/standins/pngres/make_fixtures.py).
const int kPalette[6][3] = {{0, 255, 0}, {40, 215, 7}, {80, 175, 14}, {120, 135, 21}, {160, 95, 28}, {200, 55, 35}};

const DecodeCase kDecodeCases[] = {
    {L"RGBA", "8-bit RGBA gives exact B,G,R,A", 3, 2,
     [](int x, int y) {
         return Bgra{uint8_t(30 + x + y), uint8_t(20 * y + 2), uint8_t(10 * x + 1), uint8_t(40 * x + 50 * y + 5)};
     }},
    {MAKEINTRESOURCEW(101), "4-bit palette gives its colours and alpha 255", 5, 3,
     [](int x, int y) {
         const int* c = kPalette[(x + 2 * y) % 6];
         return Bgra{uint8_t(c[2]), uint8_t(c[1]), uint8_t(c[0]), 255};
     }},
    {L"RGB16", "16-bit RGB keeps the high bytes", 2, 2,
     [](int x, int y) {
         const int h = 60 * x + 100 * y;
         return Bgra{uint8_t(h + 20), uint8_t(h + 10), uint8_t(h), 255};
     }},
    {L"GREYA", "grey with alpha gives equal B,G,R and the alpha", 2, 2,
     [](int x, int y) {
         const uint8_t g = uint8_t(100 + 50 * x);
         return Bgra{g, g, g, uint8_t(200 - 100 * y)};
     }},
    {L"GREY2", "2-bit grey is scaled to full range", 4, 1,
     [](int x, int) {
         const uint8_t g = uint8_t(85 * x);
         return Bgra{g, g, g, 255};
     }},
    {L"INTERLACED", "Adam7 interlaced RGB", 9, 9,
     [](int x, int y) { return Bgra{uint8_t((x * y) % 256), uint8_t(25 * y), uint8_t(25 * x), 255}; }},
};

TEST_F(PngImageTest, DecodesEveryFixtureByteForByte)
{
    for (const auto& c : kDecodeCases) {
        SCOPED_TRACE(c.label);
        BITMAPINFO info = {};
        HBITMAP bitmap = LoadPngResource(s_module, c.name, L"PNG", &info);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(info.bmiHeader.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(info.bmiHeader.biWidth, c.width);
        EXPECT_EQ(info.bmiHeader.biHeight, -c.height);
        EXPECT_EQ(info.bmiHeader.biBitCount, 32);
        EXPECT_EQ(info.bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));
        int width = 0, height = 0;
        std::vector<Bgra> pixels;
        ASSERT_TRUE(ReadDib(bitmap, width, height, pixels));
        ASSERT_EQ(width, c.width);
        ASSERT_EQ(height, c.height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Bgra want = c.expected(x, y);
                const Bgra got = pixels[static_cast<size_t>(y * width + x)];
                EXPECT_TRUE(got.b == want.b && got.g == want.g && got.r == want.r && got.a == want.a)
                    << "pixel (" << x << "," << y << "): got " << int(got.b) << "," << int(got.g) << ","
                    << int(got.r) << "," << int(got.a) << " want " << int(want.b) << "," << int(want.g) << ","
                    << int(want.r) << "," << int(want.a);
            }
        }
        DeleteObject(bitmap);
    }
}

struct FallbackCase {
    const wchar_t* name;
    const char* label;
    bool expectPng;     // a 32-bit DIB section from the PNG
    bool expectBitmap;  // the plain bitmap resource (2 x 2)
};

const FallbackCase kFallbackCases[] = {
    {L"RGBA", "PNG and bitmap of one name: the PNG wins", true, false},
    {L"ONLYBMP", "bitmap without PNG: the bitmap", false, true},
    {L"NOTPNG", "PNG resource that is not a PNG: the bitmap", false, true},
    {L"TRUNCATED", "truncated PNG without bitmap: nothing", false, false},
    {L"TOOWIDE", "PNG wider than the limit: nothing", false, false},
    {L"MISSING", "no resource at all: nothing", false, false},
};

TEST_F(PngImageTest, LoadImageResourceFallsBackToTheBitmap)
{
    for (const auto& c : kFallbackCases) {
        SCOPED_TRACE(c.label);
        HBITMAP bitmap = LoadImageResource(s_module, c.name);
        if (!c.expectPng && !c.expectBitmap) {
            EXPECT_EQ(bitmap, nullptr);
            continue;
        }
        ASSERT_NE(bitmap, nullptr);
        DIBSECTION dib = {};
        const int size = GetObjectW(bitmap, sizeof(dib), &dib);
        if (c.expectPng) {
            EXPECT_EQ(size, static_cast<int>(sizeof(DIBSECTION)));
            EXPECT_EQ(dib.dsBmih.biBitCount, 32);
            EXPECT_EQ(dib.dsBm.bmWidth, 3);
        } else {
            EXPECT_EQ(dib.dsBm.bmWidth, 2);
            EXPECT_EQ(dib.dsBm.bmHeight, 2);
        }
        DeleteObject(bitmap);
    }
}

TEST_F(PngImageTest, TruncatedSixtyBytesFailsWithoutAnyBitmap)
{
    const std::vector<uint8_t> bytes = ResourceBytes(L"TRUNCATED");
    ASSERT_EQ(bytes.size(), 60u);
    EXPECT_EQ(LoadPngFromMemory(bytes.data(), bytes.size(), nullptr), nullptr);
    EXPECT_EQ(LoadPngResource(s_module, L"TRUNCATED", L"PNG", nullptr), nullptr);

    // Every shorter cut of a whole PNG fails too (never a half-filled picture).
    const std::vector<uint8_t> whole = ResourceBytes(L"RGBA");
    ASSERT_FALSE(whole.empty());
    for (size_t cut = 0; cut + 12 < whole.size(); ++cut) {
        HBITMAP bitmap = LoadPngFromMemory(whole.data(), cut, nullptr);
        EXPECT_EQ(bitmap, nullptr) << "cut at " << cut << " of " << whole.size();
        if (bitmap != nullptr)
            DeleteObject(bitmap);
    }
}

TEST_F(PngImageTest, ResourceRecordAndSignature)
{
    PngResource* record = OpenPngResource(s_module, L"RGBA", L"PNG");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->size, ResourceBytes(L"RGBA").size());
    EXPECT_EQ(record->position, 0u);
    EXPECT_TRUE(IsPngSignature(record));
    ClosePngResource(record);

    record = OpenPngResource(s_module, L"NOTPNG", L"PNG");
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(IsPngSignature(record));
    ClosePngResource(record);

    EXPECT_EQ(OpenPngResource(s_module, L"MISSING", L"PNG"), nullptr);
    EXPECT_EQ(OpenPngResource(s_module, nullptr, L"PNG"), nullptr);
    EXPECT_FALSE(IsPngSignature(nullptr));
    ClosePngResource(nullptr);
    EXPECT_EQ(LoadImageResource(s_module, nullptr), nullptr);
    EXPECT_EQ(LoadPngFromMemory(nullptr, 10, nullptr), nullptr);
}

// A small deterministic generator, so a failure can be replayed.
struct Lcg {
    uint32_t state;
    uint32_t Next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

TEST_F(PngImageTest, MutatedPngsDecodeOrFailCleanly)
{
    const wchar_t* seeds[] = {L"RGBA", MAKEINTRESOURCEW(101), L"RGB16", L"GREYA", L"GREY2", L"INTERLACED"};
    std::vector<std::vector<uint8_t>> originals;
    for (const wchar_t* name : seeds) {
        originals.push_back(ResourceBytes(name));
        ASSERT_FALSE(originals.back().empty());
    }

    Lcg random{12345};
    int decoded = 0, failed = 0;
    const int runs = 10000;
    for (int run = 0; run < runs; ++run) {
        std::vector<uint8_t> bytes = originals[static_cast<size_t>(run) % originals.size()];
        const int edits = 1 + static_cast<int>(random.Next() % 4);
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            const size_t at = random.Next() % bytes.size();
            switch (random.Next() % 4) {
            case 0: bytes[at] = static_cast<uint8_t>(random.Next()); break;
            case 1: bytes[at] ^= static_cast<uint8_t>(1u << (random.Next() % 8)); break;
            case 2: bytes.resize(at); break;
            default: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(random.Next())); break;
            }
        }
        // Keep the signature mostly intact so the decoder, not the signature test, sees the damage.
        if (bytes.size() >= 8 && run % 8 != 0)
            std::copy(originals[0].begin(), originals[0].begin() + 8, bytes.begin());

        BITMAPINFO info = {};
        HBITMAP bitmap = LoadPngFromMemory(bytes.data(), bytes.size(), &info);
        if (bitmap == nullptr) {
            ++failed;
            continue;
        }
        ++decoded;
        int width = 0, height = 0;
        std::vector<Bgra> pixels;
        EXPECT_TRUE(ReadDib(bitmap, width, height, pixels)) << "run " << run;
        EXPECT_GT(width, 0) << "run " << run;
        EXPECT_LE(width, static_cast<int>(PNG_MAX_DIMENSION)) << "run " << run;
        EXPECT_LE(height, static_cast<int>(PNG_MAX_DIMENSION)) << "run " << run;
        EXPECT_EQ(info.bmiHeader.biWidth, width) << "run " << run;
        DeleteObject(bitmap);
    }
    std::printf("mutated PNGs: %d runs, %d decoded, %d failed cleanly\n", runs, decoded, failed);
    EXPECT_EQ(decoded + failed, runs);
    EXPECT_GT(failed, 0);
}

} // namespace
