// Pictures from module resources: PNG resources decoded into 32-bit top-down DIB sections, with
// the plain bitmap resource of the same name as the fallback for older modules.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

struct png_struct_def;

// Largest width and height accepted from a PNG; pages never show anything near this.
constexpr uint32_t PNG_MAX_DIMENSION = 4096;

// One PNG resource being read: an owned copy of the bytes and the read position.
struct PngResource {
    uint8_t* data;  // new[]-allocated copy, null for an empty or unlockable resource
    size_t size;
    size_t position;
};

// Returns the picture of a module resource as a bitmap the caller deletes, or null: the "PNG"
// resource of that name decoded, else the bitmap resource of that name.
HBITMAP LoadImageResource(HMODULE module, LPCWSTR name);

// Returns the PNG resource of that name and type decoded into a DIB section, or null when it is
// missing, not a PNG or fails to decode. The bitmap's header is copied into info when given.
HBITMAP LoadPngResource(HMODULE module, LPCWSTR name, LPCWSTR type, BITMAPINFO* info);

// Returns PNG bytes decoded into a DIB section (B, G, R, A, rows top-down), or null on any
// decoding error; never a half-filled bitmap.
HBITMAP LoadPngFromMemory(const uint8_t* bytes, size_t size, BITMAPINFO* info);

// Returns a record holding a copy of the resource's bytes, or null when it does not exist.
PngResource* OpenPngResource(HMODULE module, LPCWSTR name, LPCWSTR type);

// Frees the record and its bytes; null is ignored.
void ClosePngResource(PngResource* resource);

// Returns whether the record's first bytes carry the PNG signature.
bool IsPngSignature(const PngResource* resource);

// libpng read callback over a PngResource; a read past the end is a decoding error.
void PngMemoryRead(png_struct_def* png, unsigned char* out, size_t count);
