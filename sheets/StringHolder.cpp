// A growable wide text on the heap (see StringHolder.h).
#include "sheets/StringHolder.h"

#include <cstdlib>
#include <cwchar>

StringHolder* CreateStringHolder(const wchar_t* text) {
    StringHolder* holder = static_cast<StringHolder*>(std::calloc(1, sizeof(StringHolder)));
    if (!holder) return nullptr;
    if (!SetStringHolderText(holder, text)) {
        std::free(holder);
        return nullptr;
    }
    return holder;
}

void FreeStringHolder(StringHolder* holder) {
    if (!holder) return;
    std::free(holder->text);
    std::free(holder);
}

bool SetStringHolderText(StringHolder* holder, const wchar_t* text) {
    if (!holder) return false;
    if (!text) text = L"";
    const size_t needed = std::wcslen(text) + 1;
    if (holder->text && needed < holder->capacity) {
        std::wmemmove(holder->text, text, needed);
        return true;
    }
    wchar_t* grown = static_cast<wchar_t*>(std::malloc(needed * sizeof(wchar_t)));
    if (!grown) return false;
    std::wmemcpy(grown, text, needed);
    std::free(holder->text);
    holder->text = grown;
    holder->capacity = needed;
    return true;
}

const wchar_t* GetStringHolderText(const StringHolder* holder) { return holder ? holder->text : nullptr; }

bool StringHoldersEqual(const StringHolder* a, const StringHolder* b) {
    return a && b && a->text && b->text && std::wcscmp(a->text, b->text) == 0;
}
