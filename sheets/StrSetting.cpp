// The text field of a tab's record.
#include "sheets/StrSetting.h"

StrSetting::StrSetting(const wchar_t* text) noexcept : m_holder(CreateStringHolder(text)) {}

StrSetting::~StrSetting()
{
    FreeStringHolder(m_holder);
}

StrSetting::StrSetting(const StrSetting& other) noexcept : m_holder(CreateStringHolder(other.Get())) {}

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
    return StringHoldersEqual(m_holder, other.m_holder);
}
