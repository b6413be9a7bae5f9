// Texts that the pages exchange with their controls: a growable string holder and the
// settings field built on it.
#pragma once

#include <windows.h>

// A heap text with its capacity; the buffer is reused while the new text fits.
class CStrHolder {
public:
    explicit CStrHolder(const wchar_t* text = nullptr) noexcept;
    ~CStrHolder();
    CStrHolder(const CStrHolder&) = delete;
    CStrHolder& operator=(const CStrHolder&) = delete;

    // False when memory runs out (the old text stays).
    bool Set(const wchar_t* text) noexcept;
    const wchar_t* Get() const noexcept { return m_text; }
    unsigned Capacity() const noexcept { return m_capacity; }
    // Both exist, both have text and the texts are equal (case-sensitive).
    static bool Equal(const CStrHolder* a, const CStrHolder* b) noexcept;

private:
    wchar_t* m_text = nullptr;
    unsigned m_capacity = 0;
};

// A text field of a tab's record, owning its holder.
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

    bool Set(const wchar_t* text) noexcept { return m_holder ? m_holder->Set(text) : false; }
    const wchar_t* Get() const noexcept { return m_holder ? m_holder->Get() : nullptr; }
    CStrHolder* Holder() const noexcept { return m_holder; }
    bool operator==(const StrSetting& other) const noexcept { return IsEqual(other); }

private:
    CStrHolder* m_holder;
};
