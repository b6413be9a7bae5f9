// Watermark key and its PostScript resource.
#include "settings/KeyWatermarkStr.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "foundation/StrUtil.h"
#include "settings/KeyEmit.h"
#include "settings/WatermarkTemplates.h"

namespace {
constexpr wchar_t kShowPageCode[] = L"userdict /VYRWaterMark get exec\r\n";

struct Watermark {
    std::wstring hex;
    std::wstring font;
    int fontSize = 0;
    int angle = 0;
    int x = 0;
    int y = 0;
    unsigned red = 0, green = 0, blue = 0;
};

// The 14 fields: 13 end at commas, the last runs to a CR; empty fields are skipped.
bool SplitFields(const wchar_t* text, std::vector<std::wstring>& fields) {
    const wchar_t* p = text;
    for (int i = 0; i < 13; ++i) {
        while (*p == L',') ++p;
        if (!*p) return false;
        const wchar_t* start = p;
        while (*p && *p != L',') ++p;
        fields.emplace_back(start, p);
    }
    while (*p == L',') ++p;
    while (*p == L'\r') ++p;
    if (!*p) return false;
    const wchar_t* start = p;
    while (*p && *p != L'\r') ++p;
    fields.emplace_back(start, p);
    return true;
}

// A PostScript name of regular characters: nothing that ends a name or opens code.
bool IsPostScriptName(const std::wstring& name) {
    if (name.empty() || name.size() > 127) return false;
    for (const wchar_t ch : name) {
        if (ch <= 0x20 || ch >= 0x7F) return false;
        if (std::wcschr(L"()<>[]{}/%", ch)) return false;
    }
    return true;
}

bool ParseWatermark(const wchar_t* text, Watermark& w) {
    std::vector<std::wstring> f;
    if (!text || !SplitFields(text, f)) return false;
    w.x = _wtoi(f[0].c_str());
    w.y = _wtoi(f[1].c_str());
    w.red = static_cast<unsigned>(_wtoi(f[2].c_str())) & 0xFF;
    w.green = static_cast<unsigned>(_wtoi(f[3].c_str())) & 0xFF;
    w.blue = static_cast<unsigned>(_wtoi(f[4].c_str())) & 0xFF;
    const int a = _wtoi(f[8].c_str()) / 10;
    w.angle = a >= 0 ? a % 360 : 360 - ((-(a + 0LL)) % 360);
    w.fontSize = _wtoi(f[11].c_str());
    if (w.fontSize <= 0) return false;  // a font scaled to nothing cannot be measured or shown
    w.font = f[12];
    if (!IsPostScriptName(w.font)) return false;

    const std::wstring& shown = f[13];
    StrUtil<char, wchar_t> bytes(shown.c_str(), kThreadAnsiCodePage);
    if (!bytes.Get()) return false;
    const size_t n = std::strlen(bytes.Get());
    std::vector<wchar_t> hex(2 * n + 1);
    if (BytesToHex(reinterpret_cast<const uint8_t*>(bytes.Get()), static_cast<int>(n), hex.data(),
                   static_cast<unsigned>(hex.size())) < 0)
        return false;
    w.hex.assign(hex.data(), 2 * n);
    // A code page without the euro writes "?" for it; the printer's fonts carry it
    // at 0x80. The position rule holds only with one byte per character.
    if (n == shown.size()) {
        for (size_t p = 0; p < shown.size(); ++p)
            if (shown[p] == 0x20AC && w.hex.compare(2 * p, 2, L"3F") == 0) w.hex.replace(2 * p, 2, L"80");
    }
    return true;
}

bool EndsWithV(const std::wstring& font) {
    const size_t n = font.size();
    return n >= 2 && font[n - 2] == L'-' && (font[n - 1] == L'V' || font[n - 1] == L'v');
}
}  // namespace

std::wstring CKeyWatermarkStr::BuildResource(const wchar_t* text, int landscape, LANGID languageId,
                                             const wchar_t* languageName, const WatermarkFontName* fonts,
                                             int fontCount) {
    if (!text || !languageName) return std::wstring();
    try {
        Watermark w;
        if (!ParseWatermark(text, w)) return std::wstring();
        const unsigned primary = languageId & 0x3FF;
        const wchar_t* display = nullptr;
        for (int i = 0; fonts && i < fontCount; ++i)
            if (fonts[i].fontName && w.font == fonts[i].fontName) {
                display = fonts[i].displayText;
                break;
            }
        const bool nonLatin = (display && w.font == display) || primary == 17 || primary == 4 ||
                              std::wcscmp(languageName, L"ja") == 0;
        const double r = w.red / 255.0, g = w.green / 255.0, b = w.blue / 255.0;
        const double angle = w.angle;
        int x = w.x, y = w.y;
        if (landscape) {
            x = -w.y;
            y = w.x;
        }
        const wchar_t* font = w.font.c_str();
        const wchar_t* hex = w.hex.c_str();
        WText out;
        if (!nonLatin || (primary != 4 && !EndsWithV(w.font))) {
            const wchar_t* templ =
                (!nonLatin && std::wcscmp(languageName, L"en") != 0) ? kWatermarkTemplate2 : kWatermarkTemplate1;
            out.reset(FormatAlloc(templ, font, font, font, font, font, hex, w.fontSize, r, g, b, angle, x, y));
        } else if (primary != 4) {
            out.reset(FormatAlloc(kWatermarkTemplate3, font, hex, w.fontSize, font, r, g, b, angle, x, y));
        } else {
            const wchar_t* cid = font;
            if (w.font.find(L"AdobeHeitiStd-Regular") != std::wstring::npos)
                cid = L"AdobeHeitiStd-Regular";
            else if (w.font.find(L"AdobeSongStd-Light") != std::wstring::npos)
                cid = L"AdobeSongStd-Light";
            out.reset(FormatAlloc(kWatermarkTemplate5, cid, cid, hex, w.fontSize, r, g, b, angle, x, y));
        }
        if (!out) return std::wstring();
        // A decimal-comma host formats numbers with commas; PostScript needs points.
        std::wstring result(out.get());
        for (wchar_t& ch : result)
            if (ch == L',') ch = L'.';
        if (!result.empty() && out.get()[result.size() - 1] == L',') result.pop_back();
        return result;
    } catch (const std::bad_alloc&) {
        return std::wstring();
    }
}

CKeyWatermarkStr::CKeyWatermarkStr(const CKeyWatermarkStr& other) = default;

CKeySetting* CKeyWatermarkStr::Create(CBaseSoup* soup, const CompiledKeyRecord* record) {
    return CKeyNoteSetting::CreateSpecial<CKeyWatermarkStr>(soup, record);
}

CKeySetting* CKeyWatermarkStr::Clone() const {
    try {
        return new CKeyWatermarkStr(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const wchar_t* CKeyWatermarkStr::GetResource() const {
    return (held && builtFrom == text) ? resource.c_str() : nullptr;
}

bool CKeyWatermarkStr::GetWatermarkResource(int landscape, LANGID languageId, const wchar_t* languageName,
                                            int firstPage, const WatermarkFontName* fonts, int fontCount) {
    if (GetResource()) return true;
    held = false;
    std::wstring built = BuildResource(text.c_str(), landscape, languageId, languageName, fonts, fontCount);
    if (built.empty()) return false;
    try {
        builtFrom = text;
    } catch (const std::bad_alloc&) {
        return false;
    }
    resource.swap(built);
    firstPageOnly = firstPage;
    held = true;
    return true;
}

int CKeyWatermarkStr::GetSetupCodeA(CDrvState*, char* buffer, unsigned size) const {
    const wchar_t* r = GetResource();
    if (!r) return 0;
    StrUtil<char, wchar_t> narrow(r, kThreadAnsiCodePage);
    return CopyOutText<char>(narrow.Get(), buffer, size);
}

int CKeyWatermarkStr::GetSetupCodeW(CDrvState*, wchar_t* buffer, unsigned count) const {
    return CopyOutText<wchar_t>(GetResource(), buffer, count);
}

int CKeyWatermarkStr::GetShowPageCode(CDrvState*, wchar_t* buffer, unsigned count, unsigned page) const {
    if (!GetResource()) return 0;
    if (firstPageOnly && page != 1) return 0;
    const unsigned needed = sizeof kShowPageCode / sizeof kShowPageCode[0];
    if (buffer && count >= needed) std::wmemcpy(buffer, kShowPageCode, needed);
    return static_cast<int>(needed);
}
