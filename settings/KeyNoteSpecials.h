// The note keys with classes of their own: the custom print size, the four
// colour-management pass-through keys ("*~..." keywords) and the user-authentication
// name and password, which are held encrypted and never reach the job.
#pragma once

#include "foundation/StrUtil.h"
#include "settings/KeyNoteSetting.h"

class CKeyCustPrintSz : public CKeyNoteSetting {
public:
    using CKeyNoteSetting::CKeyNoteSetting;
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    // The print-size feature for a text of numbers (reformatted); nothing for
    // "False" or any other text.
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
};

class CKeyHueGuardBiDi : public CKeyNoteSetting {
public:
    using CKeyNoteSetting::CKeyNoteSetting;
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    // A leading "\xEF\xBB\xBF" (a UTF-8 mark read as single bytes) is kept as "EFBBBF".
    int SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t* name, const wchar_t* text) override;
    // The low byte of every character.
    char* ToNarrowText(const wchar_t* text) const override;
    // The feature under the keyword without its "~"; "EFBBBF" becomes a UTF-8 mark.
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
};

class CKeyPasswordStr : public CKeyNoteSetting {
public:
    // plain is encrypted before it is stored; maxLength counts plain characters.
    CKeyPasswordStr(SoupSlotID key, const wchar_t* plain, SoupSlotID defaultTextId, SoupSlotID invocationTemplateId,
                    SoupSlotID commentTemplateId, int32_t maxLength, SoupSlotID textSlot = SoupSlotID());
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    // keyword NUL plain text NUL NUL (empty when the stored text does not decrypt).
    unsigned GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const override;
    int SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t* name, const wchar_t* text) override;
    void AddToMap(SettingMap& map, CfgSettings* settings) const override;
    int GetCommentTextW(CDrvState*, wchar_t*, unsigned) const override { return 0; }
    int GetCommentTextA(CDrvState*, char*, unsigned) const override { return 0; }
    int GetSetupCodeW(CDrvState*, wchar_t*, unsigned) const override { return 0; }
    int GetSetupCodeA(CDrvState*, char*, unsigned) const override { return 0; }

    // Hexadecimal cipher text of plain (new[]), empty for an empty text; null on failure.
    static wchar_t* Encrypt(const wchar_t* plain);
    // The plain text (wiped when freed), null on failure.
    static SecretWText Decrypt(const wchar_t* hex);

private:
    struct Stored {};
    CKeyPasswordStr(Stored, const CKeyPasswordStr& other);
};

// New text (delete[]) of a custom print size: text read over defaultText read over
// 612 x 792, offsets 0 0, "ShortEdge"; the edge becomes "LongEdge" when the width
// reaches the height. Short form: width and height only; decimal form: two decimals.
wchar_t* FormatCustomPrintSize(const wchar_t* text, const wchar_t* defaultText, bool shortForm, bool decimalForm);
