// Off-screen pictures (see MemoryDC.h).
#include "sheets/MemoryDC.h"

CMemoryDC::CMemoryDC(int bitCount, SIZE size)
    : m_dc(nullptr), m_size{0, 0}, m_savedBitmap(nullptr), m_dib(nullptr), m_savedFont(nullptr),
      m_fontVariant(nullptr) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = nullptr;
    if (dc) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = size.cx;
        info.bmiHeader.biHeight = size.cy;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    }
    m_dc = dc;
    m_dib = dib;
    m_size = size;
    if (m_dc && m_dib) {
        m_savedBitmap = static_cast<HBITMAP>(SelectObject(m_dc, m_dib));
        if (m_savedBitmap) return;
    }
    Release();
}

CMemoryDC::~CMemoryDC() { Release(); }

void CMemoryDC::Release() {
    if (m_dc && m_savedBitmap) SelectObject(m_dc, m_savedBitmap);
    if (m_dc && m_savedFont) SelectObject(m_dc, m_savedFont);
    if (m_dib) DeleteObject(m_dib);
    if (m_fontVariant) DeleteObject(m_fontVariant);
    if (m_dc) DeleteDC(m_dc);
    m_dc = nullptr;
    m_size = SIZE{0, 0};
    m_savedBitmap = nullptr;
    m_dib = nullptr;
    m_savedFont = nullptr;
    m_fontVariant = nullptr;
}

HBITMAP CMemoryDC::DetachBitmap() {
    if (!m_dib) return nullptr;
    if (m_dc && m_savedBitmap) SelectObject(m_dc, m_savedBitmap);
    HBITMAP dib = m_dib;
    m_savedBitmap = nullptr;
    m_dib = nullptr;
    return dib;
}

int CMemoryDC::BlitCentred(HBITMAP image) {
    BITMAP picture{};
    BITMAP source{};
    if (!m_dc || !image || !m_dib) return 0;
    if (!GetObjectW(image, sizeof(source), &source) || !GetObjectW(m_dib, sizeof(picture), &picture)) return 0;
    // signed division truncating toward zero: a picture 3 pixels smaller gives -1
    const int x = (picture.bmWidth - source.bmWidth) / 2;
    const int y = (picture.bmHeight - source.bmHeight) / 2;
    HDC temporary = CreateCompatibleDC(m_dc);
    if (!temporary) return 0;
    HGDIOBJ replaced = SelectObject(temporary, image);
    BitBlt(m_dc, x, y, source.bmWidth, source.bmHeight, temporary, 0, 0, SRCCOPY);
    if (replaced) SelectObject(temporary, replaced);
    DeleteDC(temporary);
    return 1;
}

int CMemoryDC::Fill(HBRUSH brush) {
    BITMAP picture{};
    if (!m_dc || !m_dib || !GetObjectW(m_dib, sizeof(picture), &picture)) return 0;
    RECT area{0, 0, picture.bmWidth, picture.bmHeight};
    FillRect(m_dc, &area, brush);
    return 1;
}

void CMemoryDC::SelectFontVariant(HFONT font, LONG* weight, LONG* underline) {
    LOGFONTW description{};
    if (!m_dc || !font || !GetObjectW(font, sizeof(description), &description)) return;
    const LONG ownWeight = description.lfWeight;
    const LONG ownUnderline = description.lfUnderline;
    if (weight) {
        if (*weight != 0) description.lfWeight = *weight;
        *weight = ownWeight;
    }
    if (underline) {
        description.lfUnderline = static_cast<BYTE>(*underline & 0xFF);
        *underline = ownUnderline;
    }
    HFONT variant = CreateFontIndirectW(&description);
    if (!variant) return;
    HGDIOBJ previous = SelectObject(m_dc, variant);
    if (!previous) {
        DeleteObject(variant);
        return;
    }
    if (m_fontVariant)
        DeleteObject(m_fontVariant);  // the variant just deselected
    else
        m_savedFont = static_cast<HFONT>(previous);
    m_fontVariant = variant;
}
