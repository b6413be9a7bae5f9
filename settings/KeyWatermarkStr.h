// Watermark key: a note key whose text describes one watermark in 14 comma-separated
// fields. The text is turned into a PostScript procedure, "userdict /VYRWaterMark",
// chosen from five templates by language and font; the document setup defines it
// and every page (or only the first) calls it at show-page time.
#pragma once

#include <windows.h>

#include <string>

#include "settings/KeyNoteSetting.h"

// One font of the caller's font table.
struct WatermarkFontName {
    const wchar_t* fontName;
    const wchar_t* displayText;
};

class CKeyWatermarkStr : public CKeyNoteSetting {
public:
    using CKeyNoteSetting::CKeyNoteSetting;
    CKeyWatermarkStr(const CKeyWatermarkStr& other);
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    // The resource text (thread ANSI code page for the narrow form); 0 without one.
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
    // "userdict /VYRWaterMark get exec" CR LF (34 with the terminator); 0 without a
    // resource, and for pages after the first when the first-page-only flag is set.
    int GetShowPageCode(CDrvState* state, wchar_t* buffer, unsigned count, unsigned page) const override;

    // Builds the resource from the text when none is held for the current text;
    // whether a resource is held afterwards.
    virtual bool GetWatermarkResource(int landscape, LANGID languageId, const wchar_t* languageName,
                                      int firstPageOnly, const WatermarkFontName* fonts, int fontCount);

    // The held resource, or null (also when the text changed since it was built).
    const wchar_t* GetResource() const;
    bool IsFirstPageOnly() const { return firstPageOnly != 0; }

    // The resource for text, or empty when the text is unusable (for tests and tools).
    static std::wstring BuildResource(const wchar_t* text, int landscape, LANGID languageId,
                                      const wchar_t* languageName, const WatermarkFontName* fonts, int fontCount);

private:
    std::wstring resource;
    // The note text the resource was built from.
    std::wstring builtFrom;
    bool held = false;
    int32_t firstPageOnly = 0;
};
