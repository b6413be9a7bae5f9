// Dialog templates in memory: conversion of standard templates (DLGTEMPLATE) to the extended
// form (DLGTEMPLATEEX) and insertion of one template's controls after a control of another.
// Every walk is bounded by the size of the template's resource: a template whose parts run past
// it is refused. Results are malloc'd buffers that the caller frees with std::free.
#pragma once

#include <windows.h>

// A copy of the template in extended form: a byte copy of an extended template, else the
// converted standard one. Null for a malformed template or when memory runs out. outSize
// (optional) receives the result's size.
void* CopyAsDialogTemplateEx(const void* dialogTemplate, DWORD size, DWORD* outSize = nullptr);
// The standard template converted to a new extended template; null as above.
void* ConvertToDialogTemplateEx(const void* dialogTemplate, DWORD size, DWORD* outSize = nullptr);
// Bytes from the extended template's start to the end of its last item; 0 when it is not an
// extended template or runs past size.
DWORD GetDialogTemplateExSize(const void* dialogTemplate, DWORD size);
// Template a with the controls of template b inserted after a's first control of that id, b's
// coordinates counting from that control's top-left corner; a's copy alone when a has no such
// control. Null when either template is malformed or memory runs out.
void* MergeDialogTemplates(const void* a, DWORD aSize, const void* b, DWORD bSize, WORD controlId,
                           DWORD* outSize = nullptr);
