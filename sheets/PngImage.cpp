// Decoding of PNG resources with libpng into 32-bit top-down DIB sections.
//
// libpng reports errors by longjmp. The decoding step therefore runs in a function whose frame
// (and every frame libpng unwinds through) holds only plain data: all C++ holders live in the
// callers, which clean up after the decoder has returned.
#include "sheets/PngImage.h"

#include <png.h>
#include <csetjmp>
#include <cstring>
#include <new>

namespace {

// Everything the decoder touches, kept in memory (not registers) across setjmp.
struct PngDecodeJob {
    PngResource* source;
    png_structp png;
    png_infop info;
    png_bytep* rows;
    HBITMAP dib;
    void* bits;
    BITMAPINFO header;
    uint32_t width;
    uint32_t height;
    int finished;
};

// libpng error callback: silent, back to the decoder's setjmp.
void PngErrorSilent(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

// libpng warning callback: warnings never fail a picture and are not shown.
void PngWarningSilent(png_structp, png_const_charp)
{
}

// Fills the 32-bit top-down header for a picture of that size.
void FillDibHeader(BITMAPINFO* bmi, uint32_t width, uint32_t height)
{
    std::memset(bmi, 0, sizeof(*bmi));
    bmi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi->bmiHeader.biWidth = static_cast<LONG>(width);
    bmi->bmiHeader.biHeight = -static_cast<LONG>(height);
    bmi->bmiHeader.biPlanes = 1;
    bmi->bmiHeader.biBitCount = 32;
    bmi->bmiHeader.biCompression = BI_RGB;
}

// Decodes job->source; sets job->finished and job->dib only when the whole image was read.
// Returns whether it succeeded. Holds no object with a destructor: libpng may longjmp here.
bool RunPngDecode(PngDecodeJob* job)
{
    if (setjmp(png_jmpbuf(job->png)) != 0)
        return false;

    png_set_read_fn(job->png, job->source, &PngMemoryRead);
    png_set_user_limits(job->png, PNG_MAX_DIMENSION, PNG_MAX_DIMENSION);
    // Ancillary chunks (text, ICC profiles) are not needed for a picture on a page.
    png_set_chunk_malloc_max(job->png, 8u * 1024u * 1024u);
    png_read_info(job->png, job->info);

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0, compression = 0, filter = 0;
    if (!png_get_IHDR(job->png, job->info, &width, &height, &bitDepth, &colorType, &interlace,
                      &compression, &filter))
        return false;
    if (width == 0 || height == 0 || width > PNG_MAX_DIMENSION || height > PNG_MAX_DIMENSION)
        return false;

    if (bitDepth < 8)
        png_set_packing(job->png);
    else if (bitDepth > 8)
        png_set_strip_16(job->png);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(job->png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0)
        png_set_gray_to_rgb(job->png);
    if ((colorType & PNG_COLOR_MASK_ALPHA) == 0)
        png_set_filler(job->png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(job->png);
    png_set_interlace_handling(job->png);
    png_read_update_info(job->png, job->info);

    // Every row must come out as exactly four bytes per pixel, or the rows would overrun.
    const size_t stride = static_cast<size_t>(width) * 4;
    if (png_get_rowbytes(job->png, job->info) != stride)
        return false;

    job->width = width;
    job->height = height;
    FillDibHeader(&job->header, width, height);
    // DIB_RGB_COLORS needs no device context.
    job->dib = CreateDIBSection(nullptr, &job->header, DIB_RGB_COLORS, &job->bits, nullptr, 0);
    if (job->dib == nullptr || job->bits == nullptr)
        return false;

    job->rows = static_cast<png_bytep*>(png_malloc_warn(job->png, sizeof(png_bytep) * height));
    if (job->rows == nullptr)
        return false;
    auto* base = static_cast<png_bytep>(job->bits);
    for (uint32_t y = 0; y < height; ++y)
        job->rows[y] = base + stride * y;

    png_read_image(job->png, job->rows);
    png_read_end(job->png, nullptr);
    job->finished = 1;
    return true;
}

// Creates the libpng structures for a job, runs it and destroys them again. Returns the DIB on
// success (ownership to the caller), null otherwise with nothing left allocated.
HBITMAP DecodePngResource(PngResource* source, BITMAPINFO* info)
{
    PngDecodeJob job;
    std::memset(&job, 0, sizeof(job));
    job.source = source;
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &PngErrorSilent,
                                     &PngWarningSilent);
    if (job.png == nullptr)
        return nullptr;
    job.info = png_create_info_struct(job.png);
    if (job.info != nullptr)
        RunPngDecode(&job);

    if (job.rows != nullptr)
        png_free(job.png, job.rows);
    png_destroy_read_struct(&job.png, job.info != nullptr ? &job.info : nullptr, nullptr);

    if (!job.finished) {
        if (job.dib != nullptr)
            DeleteObject(job.dib);
        return nullptr;
    }
    if (info != nullptr)
        *info = job.header;
    return job.dib;
}

} // namespace

void PngMemoryRead(png_struct_def* png, unsigned char* out, size_t count)
{
    auto* source = static_cast<PngResource*>(png_get_io_ptr(png));
    if (source == nullptr || out == nullptr || source->data == nullptr ||
        source->position > source->size || count > source->size - source->position) {
        // A short read is a damaged file, never padding.
        png_error(png, "read past the end of the PNG data");
    }
    std::memcpy(out, source->data + source->position, count);
    source->position += count;
}

PngResource* OpenPngResource(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    if (name == nullptr || type == nullptr)
        return nullptr;
    HRSRC found = FindResourceExW(module, type, name, 0);
    if (found == nullptr)
        return nullptr;
    auto* record = new (std::nothrow) PngResource{nullptr, 0, 0};
    if (record == nullptr)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const void* locked = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (locked != nullptr && size > 0) {
        record->data = new (std::nothrow) uint8_t[size];
        if (record->data != nullptr) {
            std::memcpy(record->data, locked, size);
            record->size = size;
        }
    }
    return record;
}

void ClosePngResource(PngResource* resource)
{
    if (resource == nullptr)
        return;
    delete[] resource->data;
    delete resource;
}

bool IsPngSignature(const PngResource* resource)
{
    if (resource == nullptr || resource->data == nullptr || resource->size == 0)
        return false;
    const size_t check = resource->size < 8 ? resource->size : 8;
    return png_sig_cmp(resource->data, 0, check) == 0;
}

HBITMAP LoadPngFromMemory(const uint8_t* bytes, size_t size, BITMAPINFO* info)
{
    if (bytes == nullptr || size == 0)
        return nullptr;
    // The reader never writes through data; the record only borrows the caller's bytes.
    PngResource view{const_cast<uint8_t*>(bytes), size, 0};
    if (!IsPngSignature(&view))
        return nullptr;
    return DecodePngResource(&view, info);
}

HBITMAP LoadPngResource(HMODULE module, LPCWSTR name, LPCWSTR type, BITMAPINFO* info)
{
    PngResource* record = OpenPngResource(module, name, type);
    if (record == nullptr)
        return nullptr;
    HBITMAP result = nullptr;
    if (IsPngSignature(record))
        result = DecodePngResource(record, info);
    ClosePngResource(record);
    return result;
}

HBITMAP LoadImageResource(HMODULE module, LPCWSTR name)
{
    if (name == nullptr)
        return nullptr;
    HBITMAP picture = LoadPngResource(module, name, L"PNG", nullptr);
    if (picture == nullptr)
        picture = LoadBitmapW(module, name);
    return picture;
}
