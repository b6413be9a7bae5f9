// Key utility classes: typed access to settings by key id or property id without
// handling soups, caches and forests directly (value-list tests of options, the
// effective option of a key, setting a key to an option), and BuildOptionDataList,
// which turns "name:value list" strings into option records. None owns what it
// points to.
#pragma once

#include <list>

#include "settings/KVCache.h"
#include "settings/KeyForest.h"
#include "settings/KeySetting.h"
#include "settings/StrSoup.h"

class CKeyUtility {
public:
    CKeyUtility() = default;
    virtual ~CKeyUtility() = default;

    CBaseSoup* GetSoup() const { return soup; }

protected:
    CBaseSoup* soup = nullptr;
};

class CKeyOptionUtility : public CKeyUtility {
public:
    CKeyOptionUtility() = default;

    // Keeps the soup; keeps the forest only when both are given.
    void Init(OptionForest* optionForest, CBaseSoup* keywordSoup);

    // Whether option b of key a lists value c; when not (or a has no option b),
    // whether key b's own value list holds c. 0 without soup and forest, or for an
    // invalid b or c.
    bool IsValueListed(SoupSlotID a, SoupSlotID b, SoupSlotID c);
    // The same with property ids (each resolved in the soup).
    bool IsValueListedByProp(int a, int b, int c);

    OptionForest* GetForest() const { return forest; }

protected:
    OptionForest* forest = nullptr;
};

// Option utility over a driver state: the state's option forest (GetKeyForest)
// and soup (GetSoup).
class CVYROptionUtility : public CKeyOptionUtility {
public:
    template <class State>
    explicit CVYROptionUtility(State* state) {
        if (state) Init(state->GetKeyForest(), state->GetSoup());
        valid = (soup && forest) ? 1 : 0;
        drvState = valid ? state : nullptr;
    }

    int IsValid() const { return valid; }
    CDrvState* GetState() const { return drvState; }

private:
    int valid = 0;
    CDrvState* drvState = nullptr;
};

class CKeySettingUtility : public CKeyUtility {
public:
    CKeySettingUtility() = default;
    CKeySettingUtility(KVCache* current, KVCache* defaults, CBaseSoup* keywordSoup) {
        Init(current, defaults, keywordSoup);
    }

    // Keeps all three when all are given, none otherwise.
    void Init(KVCache* current, KVCache* defaults, CBaseSoup* keywordSoup);
    int IsValid() const { return current ? 1 : 0; }

    // Effective setting: the current one, else the default (borrowed).
    CKeySetting* GetSetting(SoupSlotID key) const;
    CKeySetting* FindSetting(SoupSlotID key) const { return GetSetting(key); }
    CKeySetting* GetSettingByProp(int prop) const;
    CKeySetting* GetDefault(SoupSlotID key) const;
    CKeySetting* GetDefaultByProp(int prop) const;
    int HasSettingByProp(int prop) const;

    // New copy of the key's default option key set to option (caller deletes);
    // null when the default is no option key.
    CKeySetting* CloneOptionSetting(SoupSlotID key, SoupSlotID option) const;
    // New copy of the key's default range key with value set in unit; null when
    // the default is no range key.
    CKeySetting* CloneRangeSetting(SoupSlotID key, double value, int32_t unit) const;
    // New copy of the key's default note key with text set; null when the default
    // is no note key.
    CKeySetting* CloneNoteSetting(SoupSlotID key, const wchar_t* text) const;
    // Sets key to option in cache; 1 when done.
    int SetOption(KVCache* cache, SoupSlotID key, SoupSlotID option) const;
    int SetOptionByProp(KVCache* cache, int keyProp, SoupSlotID option) const;
    int SetOptionByProps(KVCache* cache, int keyProp, int optionProp) const;

    int SetRangeByProp(KVCache* cache, int keyProp, double value, int32_t unit) const;
    int SetNoteTextByProp(KVCache* cache, int keyProp, const wchar_t* text) const;
    // Text of the effective note key (owned by its cache), null when none.
    const wchar_t* GetNoteTextByProp(int keyProp) const;

    int IsOptionSet(SoupSlotID key, SoupSlotID option) const;
    int IsOptionSetByProp(int keyProp, int optionProp) const;
    SoupSlotID GetOption(SoupSlotID key) const;
    SoupSlotID GetOptionByProp(int keyProp) const;
    SoupSlotID GetDefaultOption(SoupSlotID key) const;
    SoupSlotID GetDefaultOptionByProp(int keyProp) const;

    // Value texts (new[]; caller frees with delete[]), null when none.
    wchar_t* GetCurrentText(SoupSlotID key) const { return GetSettingText(current, soup, key); }
    wchar_t* GetCurrentTextByProp(int prop) const;
    wchar_t* GetDefaultText(SoupSlotID key) const { return GetSettingText(defaults, soup, key); }
    wchar_t* GetDefaultTextByProp(int prop) const;

    // The value text alone of the key's setting in cache (new[]), or null.
    static wchar_t* GetSettingText(const KVCache* cache, CBaseSoup* soup, SoupSlotID key);

    KVCache* GetCurrent() const { return current; }
    KVCache* GetDefaults() const { return defaults; }

protected:
    SoupSlotID PropSlot(int prop) const { return SoupPropertySlot(soup, prop, true); }

    KVCache* current = nullptr;
    KVCache* defaults = nullptr;
};

// Setting utility over a driver state: its current values (GetCurrentSettings),
// defaults (GetDefaultSettings) and soup (GetSoup).
class CKeySettingsUtility : public CKeySettingUtility {
public:
    template <class State>
    explicit CKeySettingsUtility(State* state) {
        if (state) Init(state->GetCurrentSettings(), state->GetDefaultSettings(), state->GetSoup());
        valid = (current && defaults && soup) ? 1 : 0;
        drvState = valid ? state : nullptr;
    }

    int IsValid() const { return valid; }
    CDrvState* GetState() const { return drvState; }

private:
    int valid = 0;
    CDrvState* drvState = nullptr;
};

// Appends to out one option of key per "name<sep>value list" string of in (sep:
// TAB, LF, CR, space or ":"; blanks after it belong to the value list); strings
// without a separator are skipped. 1 when soup, out and in are given and key is
// valid, else 0 and nothing is read.
int BuildOptionDataList(CBaseSoup* soup, SoupSlotID key, std::list<COptData>* out, const std::list<SoupSlotID>* in);
