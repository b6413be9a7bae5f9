// INTERIM (replaced by the window-components branch).
#pragma once
#include <windows.h>
BYTE* CopyAsDialogTemplateEx(const void* dialogTemplate) noexcept;
