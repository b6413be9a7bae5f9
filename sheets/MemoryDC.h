// Off-screen pictures: a memory device context with a DIB section selected into it, which the
// pages, their text windows and the printer picture paint from.
#pragma once

#include <windows.h>

class CMemoryDC {
public:
    // Makes a picture of bitCount bits per pixel and that size (rows bottom-up). The object is
    // empty (GetDC() null) when the DC or the DIB section cannot be made.
    CMemoryDC(int bitCount, SIZE size);
    virtual ~CMemoryDC();

    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    // The memory DC, null for the empty object.
    HDC GetDC() const { return m_dc; }
    // The size given at construction.
    SIZE GetSize() const { return m_size; }
    // The DIB section while the object holds it.
    HBITMAP GetBitmap() const { return m_dib; }

    // Gives every GDI object back; the object is empty afterwards.
    void Release();
    // Hands the DIB section over to the caller (who deletes it); null when none is held. The
    // DC stays, drawing into whatever it held before.
    HBITMAP DetachBitmap();
    // Copies the image centred into the picture (clipped on both sides when larger); 1 when
    // drawn, else 0. The image stays the caller's.
    int BlitCentred(HBITMAP image);
    // Fills the whole picture with the brush (not deleted); 1 when filled, else 0.
    int Fill(HBRUSH brush);
    // Selects a variant of the font into the DC. weight: when non-zero replaces the weight; in
    // any case receives the font's own weight. underline: its low byte replaces the underline
    // flag; receives the font's own. Neither selects a copy of the font unchanged.
    void SelectFontVariant(HFONT font, LONG* weight, LONG* underline);

private:
    HDC m_dc;
    SIZE m_size;
    HBITMAP m_savedBitmap;
    HBITMAP m_dib;
    HFONT m_savedFont;
    HFONT m_fontVariant;
};
