// Records of the key forest: the owning key holder CKeyProxy, one option
// (COptData), one key (CKeyData), one conflicting option (COptConstraints), and
// the parser of the "|"-separated value lists those records carry.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "settings/KeySetting.h"
#include "settings/SoupSlotID.h"

class CBaseSoup;

// Parsed value list: item name (interned) -> item text (empty when absent).
using ValueList = std::map<SoupSlotID, std::wstring>;

// Parses text into list ("name" or "name\"text" items separated by "|", blanks
// around items allowed). Any malformed item empties the whole list and gives
// false; so do a null soup or text. An empty text is one item, the empty name.
bool ParseValueList(CBaseSoup* soup, const wchar_t* text, ValueList& list);

// Owns a clone of one setting (null stays null).
class CKeyProxy {
public:
    explicit CKeyProxy(const CKeySetting* setting = nullptr);
    CKeyProxy(const CKeyProxy& other);
    CKeyProxy& operator=(const CKeyProxy& other);
    virtual ~CKeyProxy();

    const CKeySetting* GetSetting() const { return setting; }
    CKeySetting* GetSetting() { return setting; }
    // Replaces the held setting by a clone of s (cloned before the old one goes,
    // so s may be the held setting itself).
    void Reset(const CKeySetting* s);
    // Replaces the held setting by s itself, which the proxy then owns (s must not be the
    // held one).
    void Take(CKeySetting* s);
    SoupSlotID GetValueId() const { return setting ? setting->GetValueId() : SoupSlotID(); }

private:
    CKeySetting* setting = nullptr;
};

// One option of a key: the option as a setting (key id, option id) and its texts.
class COptData : public CKeyProxy {
public:
    COptData(const CKeySetting* option, SoupSlotID displayNameId, SoupSlotID valueTextId, SoupSlotID valueListId,
             int32_t disabled = 0);
    COptData(const COptData& other);
    COptData& operator=(const COptData& other);
    ~COptData() override;

    virtual bool IsOption(SoupSlotID id) const;
    virtual bool IsNotOption(SoupSlotID id) const;

    SoupSlotID GetDisplayNameId() const { return displayNameId; }
    SoupSlotID GetValueTextId() const { return valueTextId; }
    SoupSlotID GetValueListId() const { return valueListId; }
    bool IsDisabled() const { return disabled != 0; }
    void SetDisabled(int32_t value) { disabled = value; }
    // Whether id names an item of the option's value list (parsed on first use).
    bool IsValueListed(CBaseSoup* soup, SoupSlotID id);

private:
    ValueList* valueList = nullptr;
    SoupSlotID displayNameId;
    SoupSlotID valueTextId;
    SoupSlotID valueListId;
    int32_t disabled = 0;
};

// One key: its ids and whether the user changed it.
class CKeyData {
public:
    CKeyData(SoupSlotID keyId = SoupSlotID(), SoupSlotID displayNameId = SoupSlotID(),
             SoupSlotID valueListId = SoupSlotID(), int32_t changed = 0);
    CKeyData(const CKeyData& other);
    CKeyData& operator=(const CKeyData& other);
    virtual ~CKeyData();

    SoupSlotID GetKeyId() const { return keyId; }
    SoupSlotID GetDisplayNameId() const { return displayNameId; }
    SoupSlotID GetValueListId() const { return valueListId; }
    bool IsChanged() const { return changed != 0; }
    void SetChanged(int32_t value) { changed = value; }
    bool IsValueListed(CBaseSoup* soup, SoupSlotID id);

private:
    ValueList* valueList = nullptr;
    SoupSlotID keyId;
    SoupSlotID displayNameId;
    SoupSlotID valueListId;
    int32_t changed = 0;
};

// An option (key id, option id) that conflicts with the option it is listed under.
class COptConstraints : public SoupSlotIDPair {
public:
    COptConstraints(SoupSlotID key, SoupSlotID option, int32_t flags = 0)
        : SoupSlotIDPair(key, option), flags(flags) {}
    explicit COptConstraints(const SoupSlotIDPair& pair, int32_t flags = 0) : SoupSlotIDPair(pair), flags(flags) {}
    virtual ~COptConstraints() = default;
    COptConstraints(const COptConstraints&) = default;
    COptConstraints& operator=(const COptConstraints&) = default;

    int32_t GetFlags() const { return flags; }

private:
    int32_t flags;
};
