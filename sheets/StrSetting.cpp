// Texts exchanged with the pages' controls.
#include "sheets/StrSetting.h"

#include <cstdlib>
#include <cwchar>
#include <new>

CStrHolder::CStrHolder(const wchar_t* text) noexcept
{
    Set(text ? text : L"");
}

CStrHolder::~CStrHolder()
{
    std::free(m_text);
}

bool CStrHolder::Set(const wchar_t* text) noexcept
{
    if (!text) text = L"";
    size_t needed = std::wcslen(text) + 1;
    if (needed >= 0x40000000) return false;
    if (m_text && needed < m_capacity) {
        std::wmemmove(m_text, text, needed);
        return true;
    }
    auto* grown = static_cast<wchar_t*>(std::malloc(needed * sizeof(wchar_t)));
    if (!grown) return false;
    std::wmemcpy(grown, text, needed);  // text may live in the old buffer: copy before freeing it
    std::free(m_text);
    m_text = grown;
    m_capacity = static_cast<unsigned>(needed);
    return true;
}

bool CStrHolder::Equal(const CStrHolder* a, const CStrHolder* b) noexcept
{
    return a && b && a->m_text && b->m_text && std::wcscmp(a->m_text, b->m_text) == 0;
}

StrSetting::StrSetting(const wchar_t* text) noexcept : m_holder(new (std::nothrow) CStrHolder(text)) {}

StrSetting::~StrSetting()
{
    delete m_holder;
}

StrSetting::StrSetting(const StrSetting& other) noexcept : m_holder(new (std::nothrow) CStrHolder(other.Get())) {}

StrSetting& StrSetting::operator=(const StrSetting& other) noexcept
{
    if (this != &other) CopyFrom(other);
    return *this;
}

void StrSetting::CopyFrom(const StrSetting& other) noexcept
{
    Set(other.Get() ? other.Get() : L"");
}

bool StrSetting::IsEqual(const StrSetting& other) const noexcept
{
    return CStrHolder::Equal(m_holder, other.m_holder);
}
