// Note keys: free-text settings (account names, notes, passwords, user and domain
// tags, the custom print size, colour-management pass-through values). A note key
// writes its text into DSC comments and into a feature whose code is the key's
// template with the text put in, picks the job's code page per key, and knows a few
// keys by a flag word in their value list. The special note keys (custom print
// size, colour-management, password) derive from it.
#pragma once

#include <cstdint>
#include <windows.h>

#include <memory>
#include <new>
#include <string>

#include "settings/KeySetting.h"

class CKeyNoteSetting : public CKeyBaseSetting {
public:
    // A null text is stored as the empty text.
    CKeyNoteSetting(SoupSlotID key, const wchar_t* text, SoupSlotID defaultTextId, SoupSlotID invocationTemplateId,
                    SoupSlotID commentTemplateId, int32_t maxLength, SoupSlotID textSlot = SoupSlotID());

    // Factory creator for type-3 records; null for other types or short records.
    static CKeySetting* Create(CBaseSoup* soup, const CompiledKeyRecord* record);
    // A special note class (custom print size, password, watermark...) made from the generic
    // note key of the record; null when the record is not a note record.
    template <class Special>
    static CKeySetting* CreateSpecial(CBaseSoup* soup, const CompiledKeyRecord* record);

    CKeySetting* Clone() const override;
    bool IsEqual(const CKeySetting* other) const override;
    // With a soup: the text's slot (4 bytes); without: maxLength UTF-16 units, zero-filled.
    unsigned GetData(CBaseSoup* soup, void* buffer, unsigned size) const override;
    unsigned SetData(CBaseSoup* soup, const void* buffer, unsigned size) override;
    unsigned GetText(CBaseSoup* soup, wchar_t* buffer, unsigned count) const override;
    // Stores text cut after maxLength + 1 characters; 1 when soup and text are given.
    int SetFromText(CBaseSoup* soup, OptionForest* forest, const wchar_t* name, const wchar_t* text) override;
    // map[keyword] = text; the user-authentication and domain tags get their packed values.
    void AddToMap(SettingMap& map, CfgSettings* settings) const override;
    const wchar_t* GetInvocationTemplate(CDrvState* state) const override;
    int GetCommentTextW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
    int GetCommentTextA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetSetupCodeW(CDrvState* state, wchar_t* buffer, unsigned count) const override;
    int GetSetupCodeA(CDrvState* state, char* buffer, unsigned size) const override;
    int GetOptionsFromRecord(const CompiledKeyRecord* record, std::list<COptData>& out) const override;

    virtual bool Equals(const CKeySetting* other) const { return IsEqual(other); }
    virtual bool Differs(const CKeySetting* other) const { return !Equals(other); }

    const wchar_t* GetNoteText() const { return text.c_str(); }
    // Replaces the text (null: empty); false when memory is short (the text is kept).
    bool SetNoteText(const wchar_t* value);

    SoupSlotID GetTextSlot() const { return textSlot; }
    SoupSlotID GetDefaultTextId() const { return defaultTextId; }
    SoupSlotID GetInvocationTemplateId() const { return invocationTemplateId; }
    SoupSlotID GetCommentTemplateId() const { return commentTemplateId; }
    int32_t GetMaxLength() const { return maxLength; }

    // Code pages of the key's comment and setup texts in a driver state.
    UINT GetCommentCodePage(CDrvState* state) const;
    UINT GetSetupCodePage(CDrvState* state) const;

    // The feature for (keyword, text, template) as the plain note key writes it:
    // the template with the text put in as a PostScript string, and the text
    // (control characters blanked) as the option. 0 with noSetup, or for a
    // non-empty template and an empty text.
    static int DefaultSetupA(const char* keyword, const char* text, const char* templ, bool noSetup, char* buffer,
                             unsigned size);
    static int DefaultSetupW(const wchar_t* keyword, const wchar_t* text, const wchar_t* templ, bool noSetup,
                             wchar_t* buffer, unsigned count);

protected:
    // Setup code of keyword and text (the special keys pass their own forms).
    template <class Char>
    int EmitSetup(CDrvState* state, const wchar_t* keyword, const wchar_t* noteText, Char* buffer,
                  unsigned size) const;
    template <class Char>
    int EmitComment(CDrvState* state, Char* buffer, unsigned size) const;

    std::wstring text;
    SoupSlotID textSlot;
    SoupSlotID defaultTextId;
    SoupSlotID invocationTemplateId;
    SoupSlotID commentTemplateId;
    int32_t maxLength;
};

template <class Special>
CKeySetting* CKeyNoteSetting::CreateSpecial(CBaseSoup* soup, const CompiledKeyRecord* record) {
    std::unique_ptr<CKeySetting> made(Create(soup, record));
    const CKeyNoteSetting* generic = dynamic_cast<const CKeyNoteSetting*>(made.get());
    if (!generic) return nullptr;
    return new Special(generic->GetKeyId(), generic->GetNoteText(), generic->GetDefaultTextId(),
                       generic->GetInvocationTemplateId(), generic->GetCommentTemplateId(), generic->GetMaxLength(),
                       SoupSlotID());
}
