// The texts of the about page: the title, the driver information with the versions of the
// driver's files, the link to the controller's page, the labels of the server information and
// the values the controller reports for them. Each builder returns a new wide string (free
// with delete[]) or null when a part it needs is missing.
#pragma once

#include <windows.h>

#include <functional>

class CDrvState;
class CBaseSoup;
class CKeySetting;
class KVCache;

// Looks a string id up (new[] text or null). The page looks in its OEM module first, then its
// language module, then its resource module.
using AboutStringLookup = std::function<wchar_t*(UINT id)>;

// String ids of the page's texts.
enum : UINT {
    kAboutTitleString = 3657,
    kPluginVersionString = 4716,
    kVersionLabelString = 4717,
    kCoreVersionLabelString = 4718,
    kPluginVersionLabelString = 4719,
    kResourceVersionLabelString = 4722,
};

// The first lookup of modules (in that order) that has the string, in the given language.
wchar_t* LoadStringFromModules(const HMODULE* modules, int count, UINT id, LANGID language, UINT codePage);

// String 3657.
wchar_t* BuildAboutTitleText(const AboutStringLookup& lookup);

// Four lines "<label><value>\n": 4717 with the first option of *QVVersion, 4718 with the
// version of the core driver's configuration file, 4719 with string 4716, 4722 with the
// version text of the resource module. A missing value leaves its label alone; null when a
// label or string 4716 is missing.
wchar_t* BuildDriverInfoText(const AboutStringLookup& lookup, CDrvState* state, const wchar_t* configFile,
                             const wchar_t* resourceModulePath);

// The display name of the current option of *QVAboutURL; null without one.
wchar_t* BuildAboutLinkText(CDrvState* state);
// The value of the current option of *QVAboutURL with its first "%s" replaced by the text of
// *VYRIPAddress (empty when none); every other character, "%" included, is kept as it is.
// Null without a current option or value.
wchar_t* BuildAboutLinkAddress(CDrvState* state);
// The value with its first "%s" replaced by address (no other conversion is read).
wchar_t* ReplaceFirstPercentS(const wchar_t* value, const wchar_t* address);
// Whether the page may open the link: an "http://" or "https://" address whose host (up to
// the first "/", "?" or "#") is not empty and holds only letters, digits and ".-:", and an
// inserted controller address that holds only those characters too (null when none was
// inserted).
bool IsAboutLinkAllowed(const wchar_t* url, const wchar_t* insertedAddress);
// The link state as the page uses it: connected and allowed.
bool IsAboutLinkEnabled(CDrvState* state, bool connected);

// The version text of a file: with preferStrings the "FileVersion" string of the first
// translation, else (or without one) "%d.%d.%d.%d" of the fixed file version. Null without a
// version resource.
wchar_t* GetFileVersionText(const wchar_t* path, bool preferStrings);

// The display names of the options of *QVServerInfo whose ids are keys of the state's
// defaults, each followed by "\n"; null when the key has no options or there is no state.
wchar_t* ServerInfoLabels(CDrvState* state);

// The key's invocation template with the tag named after the key replaced by the value text,
// or a copy of the value text when that gives nothing; null without setting or soup.
wchar_t* FormatSettingText(CDrvState* state, CBaseSoup* soup, const CKeySetting* setting);

// The texts of the options of *QVServerInfo whose ids are keys of answered holding a setting
// of the base family (FormatSettingText), each followed by "\n"; null when none gives text.
wchar_t* ComposeServerInfoText(CDrvState* state, const KVCache* answered);

// Fills a copy of defaults through fetch (the controller's answer for its features) and, when
// that succeeds, composes the server information; null when the server gave nothing.
wchar_t* QueryServerInfoText(CDrvState* state, const KVCache* defaults, const std::function<bool(KVCache*)>& fetch);
