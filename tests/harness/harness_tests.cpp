// Checks that the cross build produced what a driver package ships: a module of the tree's width,
// with the third-party libraries linked in statically and working.
#include <windows.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unzip.h>
#include <zlib.h>
#include <string>

TEST(Harness, ModuleHasTheTreesWidth)
{
    EXPECT_EQ(sizeof(void*), static_cast<size_t>(TOLVA_EXPECT_POINTER_BYTES));
}

TEST(Harness, NoMinGWRuntimeDllIsLoaded)
{
    // Static runtime linking: nothing from the toolchain may have to lie beside the modules.
    for (const wchar_t* dll : {L"libstdc++-6.dll", L"libgcc_s_seh-1.dll", L"libgcc_s_dw2-1.dll", L"libwinpthread-1.dll"})
        EXPECT_EQ(GetModuleHandleW(dll), nullptr) << "loaded: " << std::string(dll, dll + wcslen(dll));
}

TEST(Harness, ZlibRoundTrip)
{
    const char text[] = "PostScript PostScript PostScript";
    Bytef packed[128];
    uLongf packedLen = sizeof packed;
    ASSERT_EQ(compress(packed, &packedLen, reinterpret_cast<const Bytef*>(text), sizeof text), Z_OK);
    char back[64] = {};
    uLongf backLen = sizeof back;
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(back), &backLen, packed, packedLen), Z_OK);
    EXPECT_STREQ(back, text);
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>("123456789"), 9), 0xCBF43926u);
}

TEST(Harness, LibpngReadSideIsUsable)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    ASSERT_NE(png, nullptr);
    png_infop info = png_create_info_struct(png);
    EXPECT_NE(info, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    EXPECT_EQ(png_access_version_number(), static_cast<png_uint_32>(PNG_LIBPNG_VER));
}

TEST(Harness, MinizipRefusesAMissingArchive)
{
    EXPECT_EQ(unzOpen64("Z:\\no\\such\\archive.zip"), nullptr);
}
