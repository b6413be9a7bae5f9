// A growable wide text on the heap: what an edit control's layer commits and what the pages'
// string settings hold.
#pragma once

#include <cstddef>

struct StringHolder {
    wchar_t* text;    // malloc'd, always terminated
    size_t capacity;  // in characters
};

// Returns a holder of a copy of the text (the empty text for null), or null when memory runs out.
StringHolder* CreateStringHolder(const wchar_t* text);
// Frees the holder and its text; null is ignored.
void FreeStringHolder(StringHolder* holder);
// Replaces the holder's text (null = empty); FALSE without holder or when memory runs out
// (the old text then stays).
bool SetStringHolderText(StringHolder* holder, const wchar_t* text);
// The holder's text, or null without holder.
const wchar_t* GetStringHolderText(const StringHolder* holder);
// True when both holders exist, both have text and the texts are equal (case-sensitive).
bool StringHoldersEqual(const StringHolder* a, const StringHolder* b);
