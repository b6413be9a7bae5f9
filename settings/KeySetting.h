// Setting keys: the root CKeySetting (a keyword slot and a value slot), the plain
// CKeyOldSetting, and the abstract CKeyBaseSetting every typed key derives from,
// with the two feature-invocation writers FormatFeatureA / FormatFeatureW.
#pragma once

#include <list>
#include <map>
#include <string>

#include "settings/SoupSlotID.h"

class CBaseSoup;
class CKeyData;
class COptData;
class CfgSettings;
class CDrvState;
struct CompiledKeyRecord;
template <class K, class D, class C>
class KeyForest;

// Every option key of a printer with its options.
using OptionForest = KeyForest<SoupSlotID, CKeyData, COptData>;

// Keyword-to-value map that keys export themselves into.
using SettingMap = std::map<std::wstring, std::wstring>;

// The keyword soup of a compiled settings cache. The settings storage owns that
// class; its constructor registers this accessor, so any CfgSettings that reaches
// a key can be asked for its soup without this library depending on storage.
using CfgSettingsSoupAccessor = CBaseSoup* (*)(CfgSettings* settings);
void SetCfgSettingsSoupAccessor(CfgSettingsSoupAccessor accessor);
// The soup of settings, null for null settings or while no accessor is registered.
CBaseSoup* GetCfgSettingsSoup(CfgSettings* settings);

class CKeySetting {
public:
    explicit CKeySetting(const SoupSlotIDPair& ids) : ids(ids) {}
    // A new key of the same dynamic type, or null when memory is short.
    virtual CKeySetting* Clone() const = 0;
    virtual ~CKeySetting() = default;

    bool operator==(const CKeySetting& other) const { return IsEqual(&other); }
    bool operator!=(const CKeySetting& other) const { return !IsEqual(&other); }

    // Same dynamic type and the same ids; false for null.
    virtual bool IsEqual(const CKeySetting* other) const;
    // Binary value: the value slot as a little-endian 32-bit int (-1 = none);
    // returns 4, written only when size >= 4.
    virtual unsigned GetData(CBaseSoup* soup, void* buffer, unsigned size) const;
    // Reads the binary value; 4 when read, 0 (nothing changed) when short. Throws
    // std::bad_alloc when memory runs short, so a value is never taken as read without it.
    virtual unsigned SetData(CBaseSoup* soup, const void* buffer, unsigned size);
    // keyword NUL value NUL NUL; returns the characters needed (0 without a
    // soup or keyword text), written only when count is at least that.
    virtual unsigned GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const;
    // Sets the value to the option named text when the key has that option; 1 when accepted.
    virtual int SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t* name, const wchar_t* text);
    // map[keyword] = value text (empty texts where a slot has none).
    virtual void AddToMap(SettingMap& map, CfgSettings* settings) const;
    virtual void EmptyHook(void*) {}

    SoupSlotIDPair GetIds() const { return ids; }
    SoupSlotID GetKeyId() const { return ids.first; }
    SoupSlotID GetValueId() const { return ids.second; }
    void SetValueId(SoupSlotID value) { ids.second = value; }

    // The root map export with the soup at hand (what AddToMap does once it has the soup).
    void AddToMapWithSoup(SettingMap& map, const CBaseSoup* soup) const;

protected:
    CKeySetting(const CKeySetting&) = default;
    CKeySetting& operator=(const CKeySetting&) = default;

    SoupSlotIDPair ids;
};

// A key that only holds (key id, value id); the constraint resolver keeps previous values in it.
class CKeyOldSetting : public CKeySetting {
public:
    explicit CKeyOldSetting(const SoupSlotIDPair& ids) : CKeySetting(ids) {}
    CKeyOldSetting(SoupSlotID key, SoupSlotID value) : CKeySetting(SoupSlotIDPair(key, value)) {}
    CKeySetting* Clone() const override;
};

class CKeyBaseSetting : public CKeySetting {
public:
    explicit CKeyBaseSetting(const SoupSlotIDPair& ids) : CKeySetting(ids) {}

    // New narrow copy of text in the thread's ANSI code page (UTF-8 when it holds
    // U+FEFF); null for null or empty results. Free with delete[].
    virtual char* ToNarrowText(const wchar_t* text) const;
    // The soup text the key's code is built from (not owned), or null.
    virtual const wchar_t* GetInvocationTemplate(CDrvState* state) const;
    // Emitters: a null buffer asks for the size; results count characters of the
    // buffer's type including the terminator; 0 means nothing to write.
    virtual int GetCommentTextW(CDrvState* state, wchar_t* buffer, unsigned count) const;
    virtual int GetCommentTextA(CDrvState* state, char* buffer, unsigned size) const;
    virtual int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const;
    virtual int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const;
    virtual int GetPageSetupCode(CDrvState* state, wchar_t* buffer, unsigned count, unsigned page) const;
    virtual int GetShowPageCode(CDrvState* state, wchar_t* buffer, unsigned count, unsigned page) const;
    // Options of the key described by a compiled record, appended to out; 1 when done.
    virtual int GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>& out) const = 0;
    // Slot list of a compiled record; the base adds nothing and returns 1.
    virtual int GetIdListFromRecord(const CompiledKeyRecord* record, std::list<SoupSlotID>& out) const;

    // "%%BeginFeature: keyword option" CRLF, two blanks, code (or "%%EmptyOption"),
    // CRLF, "%%EndFeature" CRLF. 0 for a null or empty keyword or a null option;
    // the needed size (len(keyword)+len(option)+len(code)+62) without a buffer or
    // when size is below it; else the length written plus 1. A null code is empty.
    static int FormatFeatureA(const char* keyword, const char* option, const char* code, char* buffer,
                              unsigned size);
    static int FormatFeatureW(const wchar_t* keyword, const wchar_t* option, const wchar_t* code,
                              wchar_t* buffer, unsigned count);
};
