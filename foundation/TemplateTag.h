// Template tags ("<name>" placeholders in PostScript snippets and comment lines) and
// escaping of text so that it may stand inside a PostScript string literal "( ... )".
// Every operation exists over wide text and over 8-bit text (the ...A forms).
#pragma once

#include <cstdint>

// True when the character may stand unescaped in a PostScript string: 0x20-0x7E except
// "(", ")" and "\".
bool IsPostScriptStringChar(unsigned ch) noexcept;

// Pointer to the "<" of the first "<name>" in text, or null (also for null arguments or
// an empty name). After a "<" that does not open the tag the search resumes at the next
// character, so "<<name>" finds the tag at offset 1.
const wchar_t* FindTemplateTag(const wchar_t* name, const wchar_t* text) noexcept;
const char* FindTemplateTagA(const char* name, const char* text) noexcept;

// Copies the template into out with every "<name>" replaced by value (null value = empty);
// with escape, the value is escaped for a PostScript string. Null out: returns the
// characters needed including the terminator (in escaped mode each tag counts one extra
// character, the escaper's terminator). Otherwise returns the same number when the whole
// result fits, else 0 (out then holds a terminated prefix of the result).
int ReplaceTemplateTag(const wchar_t* name, const wchar_t* value, const wchar_t* templ, wchar_t* out,
                       int outSize, bool escape) noexcept;
int ReplaceTemplateTagA(const char* name, const char* value, const char* templ, char* out, int outSize,
                        bool escape) noexcept;

// Escapes bytes: a string character stays, any other byte becomes "\ooo" (three octal
// digits). Null out: characters needed including the terminator. Otherwise, when the
// whole escaped text and its terminator fit, writes them and returns the characters
// written plus 1; when they do not fit, writes as many whole units as fit (never a cut
// escape), adds no terminator and returns 0, so a cut text is never mistaken for an
// exact fit.
int EscapePostScriptBytes(const uint8_t* bytes, int count, wchar_t* out, unsigned outSize) noexcept;
int EscapePostScriptBytesA(const uint8_t* bytes, int count, char* out, unsigned outSize) noexcept;

// Wide text: converted to 8-bit with code page 3 (UTF-8 when it holds U+FEFF), then
// escaped as above. 0 when the conversion fails.
int EscapePostScriptText(const wchar_t* text, wchar_t* out, int outSize) noexcept;
// 8-bit text: escaped as it is.
int EscapePostScriptTextA(const char* text, char* out, unsigned outSize) noexcept;
