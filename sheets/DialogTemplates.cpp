// Dialog templates in memory: conversion to the extended form and merging (see DialogTemplates.h).
#include "sheets/DialogTemplates.h"

#include <cstdlib>
#include <cstring>

#include "platform/DriverKit.h"

namespace {

constexpr WORD kExtendedSignature = 0xFFFF;

// A bounded read position over one template; every step fails instead of passing the end.
struct TemplateReader {
    const BYTE* base;
    DWORD size;
    DWORD pos;

    bool Align(DWORD to) {
        DWORD aligned = (pos + to - 1) & ~(to - 1);
        if (aligned > size) return false;
        pos = aligned;
        return true;
    }
    bool Skip(DWORD bytes) {
        if (bytes > size - pos) return false;
        pos += bytes;
        return true;
    }
    bool ReadWord(WORD* value) {
        if (size - pos < sizeof(WORD)) return false;
        std::memcpy(value, base + pos, sizeof(WORD));
        pos += sizeof(WORD);
        return true;
    }
    // A string-or-ordinal field (also a plain string): 0xFFFF and an ordinal, or a terminated
    // wide text, starting on a 2-byte boundary.
    bool SkipStringOrOrdinal() {
        if (!Align(2)) return false;
        WORD first = 0;
        if (!ReadWord(&first)) return false;
        if (first == 0xFFFF) return Skip(sizeof(WORD));
        while (first != 0) {
            if (!ReadWord(&first)) return false;
        }
        return true;
    }
};

// Where one item's parts lie inside its template.
struct ItemSpan {
    DWORD start;      // the fixed part
    DWORD variable;   // class, title and creation data
    DWORD end;        // past the creation data
};

// Steps over the variable part of an item (class, title, creation data).
bool SkipItemTail(TemplateReader& reader) {
    WORD extra = 0;
    return reader.SkipStringOrOrdinal() && reader.SkipStringOrOrdinal() && reader.Align(2) &&
           reader.ReadWord(&extra) && reader.Skip(extra);
}

// The layout of a template: where its items begin and how many there are.
struct TemplateLayout {
    bool extended;
    DWORD style;
    WORD count;
    DWORD headerEnd;   // past menu, class, title (before the font block)
    DWORD fontEnd;     // past the font block (= headerEnd without DS_SETFONT)
};

bool ReadLayout(const void* data, DWORD size, TemplateLayout* layout) {
    if (!data || size < sizeof(DLGTEMPLATE)) return false;
    TemplateReader reader{static_cast<const BYTE*>(data), size, 0};
    WORD words[2];
    std::memcpy(words, data, sizeof(words));
    layout->extended = words[1] == kExtendedSignature;
    if (layout->extended) {
        if (size < sizeof(DLGTEMPLATEEX)) return false;
        DLGTEMPLATEEX header;
        std::memcpy(&header, data, sizeof(header));
        if (header.dlgVer != 1) return false;
        layout->style = header.style;
        layout->count = header.cDlgItems;
        reader.pos = sizeof(DLGTEMPLATEEX);
    } else {
        DLGTEMPLATE header;
        std::memcpy(&header, data, sizeof(header));
        layout->style = header.style;
        layout->count = header.cdit;
        reader.pos = sizeof(DLGTEMPLATE);
    }
    if (!reader.SkipStringOrOrdinal() || !reader.SkipStringOrOrdinal() || !reader.SkipStringOrOrdinal())
        return false;
    layout->headerEnd = reader.pos;
    if (layout->style & DS_SETFONT) {
        // point size, then (extended) weight, italic and charset, then the face name
        if (!reader.Align(2) || !reader.Skip(layout->extended ? 6 : 2) || !reader.SkipStringOrOrdinal())
            return false;
    }
    layout->fontEnd = reader.pos;
    return true;
}

// Finds item index (0-based) after the one whose span is given; the first item when previous
// is null. False when the item runs past the template.
bool NextItem(const BYTE* base, DWORD size, const TemplateLayout& layout, const ItemSpan* previous,
              ItemSpan* item) {
    TemplateReader reader{base, size, previous ? previous->end : layout.fontEnd};
    if (!reader.Align(4)) return false;
    item->start = reader.pos;
    if (!reader.Skip(layout.extended ? sizeof(DLGITEMTEMPLATEEX) : sizeof(DLGITEMTEMPLATE))) return false;
    item->variable = reader.pos;
    if (!SkipItemTail(reader)) return false;
    item->end = reader.pos;
    return true;
}

// Writes bytes at a position when there is a buffer; always advances (a null buffer counts).
struct TemplateWriter {
    BYTE* out;
    DWORD pos;

    void Align(DWORD to) {
        DWORD aligned = (pos + to - 1) & ~(to - 1);
        if (out) std::memset(out + pos, 0, aligned - pos);
        pos = aligned;
    }
    void Put(const void* bytes, DWORD count) {
        if (out && count) std::memcpy(out + pos, bytes, count);
        pos += count;
    }
};

// Converts a standard template whose layout was read; with a null buffer only counts the bytes.
// Returns the size written (the exact size the conversion needs).
DWORD WriteConverted(const BYTE* source, DWORD size, const TemplateLayout& layout, BYTE* out) {
    TemplateWriter writer{out, 0};
    DLGTEMPLATE header;
    std::memcpy(&header, source, sizeof(header));
    DLGTEMPLATEEX extended{};
    extended.dlgVer = 1;
    extended.signature = kExtendedSignature;
    extended.exStyle = header.dwExtendedStyle;
    extended.style = header.style;
    extended.cDlgItems = header.cdit;
    extended.x = header.x;
    extended.y = header.y;
    extended.cx = header.cx;
    extended.cy = header.cy;
    writer.Put(&extended, sizeof(extended));
    // menu, class and title: both headers end on a 2-byte boundary, so the texts copy unchanged
    writer.Put(source + sizeof(DLGTEMPLATE), layout.headerEnd - sizeof(DLGTEMPLATE));
    if (layout.style & DS_SETFONT) {
        TemplateReader reader{source, size, layout.headerEnd};
        reader.Align(2);
        writer.Align(2);
        WORD pointSize = 0;
        reader.ReadWord(&pointSize);
        const WORD weight = FW_NORMAL;
        const BYTE italicAndCharset[2] = {0, 0};
        writer.Put(&pointSize, sizeof(pointSize));
        writer.Put(&weight, sizeof(weight));
        writer.Put(italicAndCharset, sizeof(italicAndCharset));
        writer.Put(source + reader.pos, layout.fontEnd - reader.pos);
    }
    ItemSpan item{};
    const ItemSpan* previous = nullptr;
    for (WORD i = 0; i < layout.count; ++i) {
        NextItem(source, size, layout, previous, &item);  // checked by the caller's walk
        DLGITEMTEMPLATE standard;
        std::memcpy(&standard, source + item.start, sizeof(standard));
        DLGITEMTEMPLATEEX converted{};
        converted.exStyle = standard.dwExtendedStyle;
        converted.style = standard.style;
        converted.x = standard.x;
        converted.y = standard.y;
        converted.cx = standard.cx;
        converted.cy = standard.cy;
        converted.id = standard.id;
        writer.Align(4);
        writer.Put(&converted, sizeof(converted));
        // both fixed parts end on a 2-byte boundary: class, title and creation data copy unchanged
        writer.Put(source + item.variable, item.end - item.variable);
        previous = &item;
    }
    return writer.pos;
}

// Checks that every item of the template lies inside it; returns the end of the last item.
bool WalkItems(const BYTE* base, DWORD size, const TemplateLayout& layout, DWORD* end) {
    ItemSpan item{};
    const ItemSpan* previous = nullptr;
    DWORD last = layout.fontEnd;
    for (WORD i = 0; i < layout.count; ++i) {
        if (!NextItem(base, size, layout, previous, &item)) return false;
        last = item.end;
        previous = &item;
    }
    *end = last;
    return true;
}

}  // namespace

DWORD GetDialogTemplateExSize(const void* dialogTemplate, DWORD size) {
    TemplateLayout layout{};
    DWORD end = 0;
    if (!ReadLayout(dialogTemplate, size, &layout) || !layout.extended) return 0;
    if (!WalkItems(static_cast<const BYTE*>(dialogTemplate), size, layout, &end)) return 0;
    return end;
}

void* ConvertToDialogTemplateEx(const void* dialogTemplate, DWORD size, DWORD* outSize) {
    TemplateLayout layout{};
    DWORD end = 0;
    if (!ReadLayout(dialogTemplate, size, &layout) || layout.extended) return nullptr;
    const BYTE* source = static_cast<const BYTE*>(dialogTemplate);
    if (!WalkItems(source, size, layout, &end)) return nullptr;
    const DWORD needed = WriteConverted(source, size, layout, nullptr);
    BYTE* out = static_cast<BYTE*>(std::malloc(needed));
    if (!out) return nullptr;
    WriteConverted(source, size, layout, out);
    if (outSize) *outSize = needed;
    return out;
}

void* CopyAsDialogTemplateEx(const void* dialogTemplate, DWORD size, DWORD* outSize) {
    if (!dialogTemplate || size < 2 * sizeof(WORD)) return nullptr;
    WORD words[2];
    std::memcpy(words, dialogTemplate, sizeof(words));
    if (words[1] != kExtendedSignature) return ConvertToDialogTemplateEx(dialogTemplate, size, outSize);
    const DWORD bytes = GetDialogTemplateExSize(dialogTemplate, size);
    if (bytes == 0) return nullptr;
    void* copy = std::malloc(bytes);
    if (!copy) return nullptr;
    std::memcpy(copy, dialogTemplate, bytes);
    if (outSize) *outSize = bytes;
    return copy;
}

void* MergeDialogTemplates(const void* a, DWORD aSize, const void* b, DWORD bSize, WORD controlId,
                           DWORD* outSize) {
    DWORD aBytes = 0;
    DWORD bBytes = 0;
    BYTE* first = static_cast<BYTE*>(CopyAsDialogTemplateEx(a, aSize, &aBytes));
    BYTE* second = static_cast<BYTE*>(CopyAsDialogTemplateEx(b, bSize, &bBytes));
    BYTE* result = nullptr;
    TemplateLayout aLayout{};
    TemplateLayout bLayout{};
    if (first && second && ReadLayout(first, aBytes, &aLayout) && ReadLayout(second, bBytes, &bLayout)) {
        // the anchor: a's first control of that id
        ItemSpan item{};
        ItemSpan anchor{};
        bool found = false;
        const ItemSpan* previous = nullptr;
        for (WORD i = 0; i < aLayout.count && NextItem(first, aBytes, aLayout, previous, &item); ++i) {
            DLGITEMTEMPLATEEX fixed;
            std::memcpy(&fixed, first + item.start, sizeof(fixed));
            if (static_cast<WORD>(fixed.id) == controlId) {
                anchor = item;
                found = true;
                break;
            }
            previous = &item;
        }
        if (!found || bLayout.count == 0 || aLayout.count + bLayout.count > 0xFFFF) {
            if (outSize) *outSize = aBytes;
            std::free(second);
            return first;
        }
        DLGITEMTEMPLATEEX anchorFixed;
        std::memcpy(&anchorFixed, first + anchor.start, sizeof(anchorFixed));
        ItemSpan bFirst{};
        NextItem(second, bBytes, bLayout, nullptr, &bFirst);
        // a up to the anchor's end, b's items (4-aligned in b, so their padding carries over),
        // then the rest of a from its next item
        const DWORD rest = ((anchor.end + 3) & ~DWORD(3)) < aBytes ? ((anchor.end + 3) & ~DWORD(3)) : aBytes;
        const DWORD bItems = bBytes - bFirst.start;
        DWORD total = ((anchor.end + 3) & ~DWORD(3)) + bItems;
        if (rest < aBytes) total = ((total + 3) & ~DWORD(3)) + (aBytes - rest);
        result = static_cast<BYTE*>(std::malloc(total));
        if (result) {
            TemplateWriter writer{result, 0};
            writer.Put(first, anchor.end);
            writer.Align(4);
            const DWORD inserted = writer.pos;
            writer.Put(second + bFirst.start, bItems);
            if (rest < aBytes) {
                writer.Align(4);
                writer.Put(first + rest, aBytes - rest);
            }
            DLGTEMPLATEEX header;
            std::memcpy(&header, result, sizeof(header));
            header.cDlgItems = static_cast<WORD>(aLayout.count + bLayout.count);
            std::memcpy(result, &header, sizeof(header));
            // shift b's controls to the anchor's top-left corner
            TemplateLayout shifted = bLayout;
            shifted.fontEnd = inserted;
            ItemSpan moved{};
            const ItemSpan* before = nullptr;
            for (WORD i = 0; i < bLayout.count && NextItem(result, total, shifted, before, &moved); ++i) {
                DLGITEMTEMPLATEEX fixed;
                std::memcpy(&fixed, result + moved.start, sizeof(fixed));
                fixed.x = static_cast<short>(fixed.x + anchorFixed.x);
                fixed.y = static_cast<short>(fixed.y + anchorFixed.y);
                std::memcpy(result + moved.start, &fixed, sizeof(fixed));
                before = &moved;
            }
            if (outSize) *outSize = total;
        }
    }
    std::free(first);
    std::free(second);
    return result;
}
