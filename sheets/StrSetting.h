// The text field of a tab's record: a string holder owned by the field.
#pragma once

#include <windows.h>

#include "sheets/StringHolder.h"

class StrSetting {
public:
    explicit StrSetting(const wchar_t* text = nullptr) noexcept;
    virtual ~StrSetting();
    StrSetting(const StrSetting& other) noexcept;
    StrSetting& operator=(const StrSetting& other) noexcept;

    // Takes the other's text, or the empty text when the other has no holder.
    virtual void CopyFrom(const StrSetting& other) noexcept;
    // True only when both have holders with equal texts.
    virtual bool IsEqual(const StrSetting& other) const noexcept;

    // False without holder.
    bool Set(const wchar_t* text) noexcept { return SetStringHolderText(m_holder, text); }
    // Null without holder.
    const wchar_t* Get() const noexcept { return GetStringHolderText(m_holder); }
    // The holder an exchange row binds (ExchangeEditText).
    StringHolder* Holder() const noexcept { return m_holder; }
    bool operator==(const StrSetting& other) const noexcept { return IsEqual(other); }

private:
    StringHolder* m_holder;
};
