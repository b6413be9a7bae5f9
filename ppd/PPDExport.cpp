// Compiled PPD blocks: each entry group, and the constraints, as compact
// little-endian items whose texts are 16-bit ids from the caller's callback.
#include <locale.h>
#include <stdlib.h>

#include <cstring>
#include <cwchar>

#include "foundation/Syncher.h"
#include "ppd/PPDCharClass.h"
#include "ppd/PPDSettings.h"

namespace PPDParser {

namespace {

constexpr unsigned kRangeItemSize = 50;
constexpr unsigned kJobNoteItemSize = 18;
constexpr unsigned kSoupItemSize = 12;
constexpr unsigned kMixedMediaItemSize = 14;
constexpr unsigned kOptionHeaderSize = 16;
constexpr unsigned kConstraintHeaderSize = 50;

// PPD numbers never depend on the host's locale.
struct NumberLocale {
    NumberLocale() : locale(_create_locale(LC_ALL, "C")) {}
    NumberLocale(NumberLocale&& other) noexcept : locale(other.locale) { other.locale = nullptr; }
    ~NumberLocale() {
        if (locale) _free_locale(locale);
    }
    NumberLocale(const NumberLocale&) = delete;
    NumberLocale& operator=(const NumberLocale&) = delete;
    _locale_t locale;
};

double ParseNumber(const wchar_t* text) {
    const NumberLocale& c = GuardedStatic<NumberLocale>::Get([] { return NumberLocale(); });
    return c.locale ? _wtof_l(text, c.locale) : _wtof(text);
}

void PutU16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutI16(uint8_t* p, int v) { PutU16(p, static_cast<unsigned>(v) & 0xFFFF); }
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutF64(uint8_t* p, double v) {
    uint64_t bits;
    memcpy(&bits, &v, sizeof(bits));
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Thrown when the caller's callback hands out an id that 16 bits cannot hold.
struct IdOverflow {};

int16_t CheckedId(int id) {
    if (id < -1 || id > 32767) throw IdOverflow();
    return static_cast<int16_t>(id);
}

template <class Text>
int16_t TextId(PPDStringCallback callback, void* user, const Text& text, int flag) {
    return CheckedId(callback(user, text.c_str(), flag));
}

// The id of a token inside a longer text (flag 1). Tokens of a constraint line fit a
// small buffer on the stack; a heap copy per token would cost more than the look-up.
int TokenId(PPDStringCallback callback, void* user, const wchar_t* start, size_t length) {
    wchar_t local[128];
    if (length < sizeof(local) / sizeof(local[0])) {
        wmemcpy(local, start, length);
        local[length] = 0;
        return callback(user, local, 1);
    }
    return callback(user, std::wstring(start, length).c_str(), 1);
}

// "number:text": the number before the first ":" and the text from it on.
bool SplitNumberText(const PPDText& value, int* number, std::wstring* text) {
    size_t colon = 0;
    while (!IsColonOrLineEnd(value.c_str()[colon])) ++colon;
    if (value.c_str()[colon] != L':') return false;
    *number = _wtoi(std::wstring(value.c_str(), colon).c_str());
    text->assign(value.c_str() + colon, value.size() - colon);
    return true;
}

// "(n;n;n;n[;n]):text" of a range value.
bool ParseRangeValue(const PPDText& value, double numbers[5], int* count, std::wstring* text) {
    const wchar_t* v = value.c_str();
    size_t colon = 0;
    while (!IsColonOrLineEnd(v[colon])) ++colon;
    if (v[colon] != L':' || v[0] != L'(' || colon < 2 || v[colon - 1] != L')') return false;
    *count = 0;
    size_t i = 1;
    while (i < colon - 1 && *count < 5) {
        size_t end = i;
        while (!IsRangeTextEnd(v[end])) ++end;
        numbers[(*count)++] = ParseNumber(std::wstring(v + i, end).c_str());
        if (v[end] != L';') break;
        i = end + 1;
    }
    text->assign(v + colon + 1, value.size() - colon - 1);
    return true;
}

}  // namespace

const PPDStatement* CPPDEntry::FirstValued() const {
    for (const PPDStatement* s : others)
        if (!s->value.empty()) return s;
    return nullptr;
}

unsigned CPPDEntry::Write(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const {
    try {
        return WriteItem(callback, user, buffer, size);
    } catch (...) {
        return 0;
    }
}

unsigned CPPDEntry::WriteConstraints(int keywordId, PPDStringCallback callback, void* user, uint8_t* buffer,
                                     unsigned size) const {
    try {
        return WriteConstraintRecord(keywordId, callback, user, buffer, size);
    } catch (...) {
        return 0;
    }
}

unsigned CPPDEntry::WriteItem(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const {
    switch (kind) {
    case kEntryOptions:
        return WriteOptions(callback, user, buffer, size);
    case kEntryRange:
    case kEntryFloatRange:
        return WriteRange(callback, user, buffer, size);
    case kEntryJobNote:
        return WriteJobNote(callback, user, buffer, size);
    case kEntryStringSoup:
        return WriteStringSoup(callback, user, buffer, size);
    case kEntryMixedMedia:
        return WriteMixedMedia(callback, user, buffer, size);
    default:
        return 0;  // constraint entries are exported with the constraint block
    }
}

unsigned CPPDEntry::WriteOptions(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const {
    const size_t optionCount = options.size();
    const size_t otherCount = others.size();
    // Room for a synthetic default option is always reckoned.
    const size_t reckoned = 24 + 8 * optionCount + 2 * otherCount;
    if (reckoned > 0xFFFF) return 0;  // the item's size field cannot hold it
    const unsigned need = static_cast<unsigned>(reckoned);
    if (!buffer || size < need) return need;
    if (!callback) return 0;

    const int16_t keywordId = TextId(callback, user, keyword, 1);
    const int16_t translationId = TextId(callback, user, translation, 0);
    const int16_t defaultId = defaultStatement ? TextId(callback, user, defaultStatement->value, 1) : -1;
    uint8_t* p = buffer + kOptionHeaderSize;
    bool defaultFound = false;
    for (const PPDStatement* o : options) {
        const int16_t optionId = TextId(callback, user, o->option, 1);
        const int16_t optionTranslationId = TextId(callback, user, o->optionTranslation, 0);
        const int16_t valueId = TextId(callback, user, o->value, 0);
        PutI16(p, optionId);
        PutI16(p + 2, optionTranslationId);
        PutI16(p + 4, valueId);
        PutI16(p + 6, valueId);
        p += 8;
        if (optionId == defaultId) defaultFound = true;
    }
    unsigned written = static_cast<unsigned>(optionCount);
    if (defaultStatement && !defaultFound) {
        PutI16(p, defaultId);
        PutI16(p + 2, -1);
        PutI16(p + 4, -1);
        PutI16(p + 6, -1);
        p += 8;
        ++written;
    }
    for (const PPDStatement* o : others) {
        PutI16(p, TextId(callback, user, o->value, 0));
        p += 2;
    }
    PutU16(buffer, kEntryOptions);
    PutU16(buffer + 2, need);
    PutI16(buffer + 4, keywordId);
    PutI16(buffer + 6, translationId);
    PutI16(buffer + 8, -1);
    PutI16(buffer + 10, defaultId);
    PutU16(buffer + 12, written);
    PutU16(buffer + 14, static_cast<unsigned>(otherCount));
    return static_cast<unsigned>(p - buffer);
}

unsigned CPPDEntry::WriteRange(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const {
    const PPDStatement* s = FirstValued();
    if (!s) return 0;
    double numbers[5] = {};
    int count = 0;
    std::wstring text;
    if (!ParseRangeValue(s->value, numbers, &count, &text)) return 0;
    if (!buffer || size < kRangeItemSize) return kRangeItemSize;
    if (!callback) return 0;
    const int16_t keywordId = TextId(callback, user, keyword, 1);
    const int16_t translationId = TextId(callback, user, translation, 0);
    const int16_t textId = text.empty() ? -1 : TextId(callback, user, text, 0);
    const double fourth = defaultStatement ? ParseNumber(defaultStatement->value.c_str()) : (count > 3 ? numbers[3] : 0.0);
    memset(buffer, 0, kRangeItemSize);
    PutU16(buffer, static_cast<unsigned>(kind));
    PutU16(buffer + 2, kRangeItemSize);
    PutI16(buffer + 4, keywordId);
    PutI16(buffer + 6, translationId);
    PutU16(buffer + 8, 0);
    PutI16(buffer + 10, textId);
    PutU16(buffer + 12, 3);
    PutF64(buffer + 14, numbers[0]);
    PutF64(buffer + 22, numbers[1]);
    PutF64(buffer + 30, numbers[2]);
    PutF64(buffer + 38, fourth);
    PutU32(buffer + 46, static_cast<uint32_t>(count > 4 ? static_cast<int32_t>(numbers[4]) : 0));
    return kRangeItemSize;
}

unsigned CPPDEntry::WriteJobNote(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const {
    const PPDStatement* s = FirstValued();
    if (!s) return 0;
    int number = 0;
    std::wstring text;
    if (!SplitNumberText(s->value, &number, &text)) return 0;
    if (!buffer || size < kJobNoteItemSize) return kJobNoteItemSize;
    if (!callback) return 0;
    size_t first = 0;
    while (others[first] != s) ++first;
    const PPDStatement* second = first + 1 < others.size() ? others[first + 1] : nullptr;
    const PPDStatement* third = first + 2 < others.size() ? others[first + 2] : nullptr;

    const int16_t keywordId = TextId(callback, user, keyword, 1);
    const int16_t translationId = TextId(callback, user, translation, 0);
    const int16_t noteId = text.empty() ? -1 : TextId(callback, user, text, 0);
    int16_t secondId = -1, thirdId = -1;
    if (second) secondId = TextId(callback, user, second->value, 0);
    if (third) {
        // With three lines the second is the comment text and the third takes its place.
        thirdId = secondId;
        secondId = TextId(callback, user, third->value, 0);
    }
    const int16_t defaultId = defaultStatement ? TextId(callback, user, defaultStatement->value, 0) : -1;
    PutU16(buffer, kEntryJobNote);
    PutU16(buffer + 2, kJobNoteItemSize);
    PutI16(buffer + 4, keywordId);
    PutI16(buffer + 6, translationId);
    PutI16(buffer + 8, noteId);
    PutI16(buffer + 10, secondId);
    PutI16(buffer + 12, thirdId);
    PutI16(buffer + 14, defaultId);
    PutI16(buffer + 16, number);
    return kJobNoteItemSize;
}

unsigned CPPDEntry::WriteStringSoup(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const {
    const PPDStatement* s = FirstValued();
    if (!s) return 0;
    int number = 0;
    std::wstring text;
    if (!SplitNumberText(s->value, &number, &text)) return 0;
    if (!buffer || size < kSoupItemSize) return kSoupItemSize;
    if (!callback) return 0;
    const int16_t keywordId = TextId(callback, user, keyword, 1);
    const int16_t translationId = TextId(callback, user, translation, 0);
    const int16_t textId = text.empty() ? -1 : TextId(callback, user, text, 0);
    PutU16(buffer, kEntryStringSoup);
    PutU16(buffer + 2, kSoupItemSize);
    PutI16(buffer + 4, keywordId);
    PutI16(buffer + 6, translationId);
    PutI16(buffer + 8, textId);
    PutI16(buffer + 10, number);
    return kSoupItemSize;
}

unsigned CPPDEntry::WriteMixedMedia(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) const {
    const PPDStatement* s = FirstValued();
    if (!s) return 0;
    const wchar_t* v = s->value.c_str();
    size_t i = v[0] == L'(' ? 1 : 0;
    int numbers[2] = {0, 0};
    int count = 0;
    for (;;) {
        size_t end = i;
        while (!IsRangeTextEnd(v[end])) ++end;
        const int n = _wtoi(std::wstring(v + i, end).c_str());
        if (count < 2) numbers[count] = n;
        ++count;
        if (v[end] == L':') {
            i = end;
            break;
        }
        if (v[end] != L';' && v[end] != L')') return 0;
        i = end + 1;
    }
    const std::wstring text(s->value.c_str() + i, s->value.size() - i);
    if (!buffer || size < kMixedMediaItemSize) return kMixedMediaItemSize;
    if (!callback) return 0;
    const int16_t keywordId = TextId(callback, user, keyword, 1);
    const int16_t translationId = TextId(callback, user, translation, 0);
    const int16_t textId = TextId(callback, user, text, 0);
    PutU16(buffer, kEntryMixedMedia);
    PutU16(buffer + 2, kMixedMediaItemSize);
    PutI16(buffer + 4, keywordId);
    PutI16(buffer + 6, translationId);
    PutI16(buffer + 8, textId);
    PutI16(buffer + 10, numbers[0]);
    PutI16(buffer + 12, numbers[1]);
    return kMixedMediaItemSize;
}

namespace {

// The tokens (up to four) of one constraint line with their hashes.
struct ConstraintTokens {
    const wchar_t* start[4];
    uint32_t length[4];
    uint32_t hash[4];
    int count;
};

// TAB and space, as IsBlank.
inline bool IsConstraintBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
// The end of a token: a blank or the end of the text. The characters of names lie above the
// space, so one comparison settles nearly every one.
inline bool EndsToken(wchar_t c) { return c <= L' ' && (c == 0 || IsConstraintBlank(c)); }

void SplitConstraint(const PPDText& line, ConstraintTokens* t) {
    t->count = 0;
    const wchar_t* p = line.c_str();
    while (t->count < 4) {
        while (IsConstraintBlank(*p)) ++p;
        if (!*p) break;
        const wchar_t* e = p;
        // A rotate and xor per character; the table mixes the result once.
        uint32_t h = 0x2545F491u;
        for (; !EndsToken(*e); ++e) h = ((h << 5) | (h >> 27)) ^ static_cast<uint16_t>(*e);
        h *= 0x9E3779B1u;
        t->start[t->count] = p;
        t->length[t->count] = static_cast<uint32_t>(e - p);
        t->hash[t->count] = h ^ (h >> 16);
        ++t->count;
        p = e;
    }
}

// Whether the line has a second token: what the size of a constraint record depends on.
bool HasTwoTokens(const PPDText& line) {
    const wchar_t* p = line.c_str();
    while (IsConstraintBlank(*p)) ++p;
    if (!*p) return false;
    while (!EndsToken(*p)) ++p;
    while (IsConstraintBlank(*p)) ++p;
    return *p != 0;
}

// Ids of the tokens of one constraint export: the same few feature and option
// names recur on thousands of lines, and a look-up here costs less than the
// caller's callback (which answers the same id for the same text every time).
// A fixed table on the stack: once it is half full, further texts go to the callback.
class TokenIds {
public:
    TokenIds(PPDStringCallback callback, void* user) : m_callback(callback), m_user(user) {}

    int Get(const wchar_t* start, uint32_t length, uint32_t h) {
        for (uint32_t i = h & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
            Slot& slot = m_slots[i];
            if (!slot.start) {
                const int id = TokenId(m_callback, m_user, start, length);
                if (m_used < kSlots / 2) {
                    slot = {start, length, h, id};
                    ++m_used;
                }
                return id;
            }
            if (slot.hash == h && slot.length == length && Same(slot.start, start, length)) return slot.id;
        }
    }

private:
    // Tokens are short: a loop beats a call into the C runtime.
    static bool Same(const wchar_t* a, const wchar_t* b, uint32_t length) {
        for (uint32_t i = 0; i < length; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    static constexpr uint32_t kSlots = 1024;
    struct Slot {
        const wchar_t* start;
        uint32_t length;
        uint32_t hash;
        int id;
    };
    PPDStringCallback m_callback;
    void* m_user;
    Slot m_slots[kSlots] = {};
    uint32_t m_used = 0;
};

}  // namespace

unsigned CPPDEntry::WriteConstraintRecord(int keywordId, PPDStringCallback callback, void* user, uint8_t* buffer,
                                          unsigned size) const {
    // Only the entry's own constraint lines count: a feature entry that also
    // holds one (written inside *OpenUI) must not export its other values.
    // Counted once: callers ask for the size before the bytes, and every export asks
    // for its own size first.
    if (m_countedKeyword != keywordId) {
        size_t candidates = 0;
        for (const PPDStatement* s : others)
            if (s->Id() == keywordId && HasTwoTokens(s->value)) ++candidates;
        m_constraintCount = candidates;
        m_countedKeyword = keywordId;
    }
    const size_t reckoned = 14 + 8 * m_constraintCount;
    if (reckoned > 0xFFFFFFF) return 0;
    const unsigned need = static_cast<unsigned>(reckoned);
    if (!buffer || size < need) return need;
    if (!callback) return 0;
    TokenIds tokens(callback, user);
    uint8_t* p = buffer + 6;
    uint32_t lines = 0;
    for (const PPDStatement* s : others) {
        if (s->Id() != keywordId) continue;
        ConstraintTokens t;
        SplitConstraint(s->value, &t);
        if (t.count < 2) continue;
        int16_t ids[4] = {-1, -1, -1, -1};
        bool valid = true;
        for (int k = 0; k < t.count; ++k) {
            ids[k] = CheckedId(tokens.Get(t.start[k], t.length[k], t.hash[k]));
            if (ids[k] < 0) valid = false;
        }
        if (!valid) continue;
        for (int k = 0; k < 4; ++k) PutI16(p + 2 * k, ids[k]);
        p += 8;
        ++lines;
    }
    memset(p, 0, 8);
    p += 8;
    PutU16(buffer, static_cast<unsigned>(keywordId));
    PutU32(buffer + 2, lines);
    return static_cast<unsigned>(p - buffer);
}

unsigned CPPDSettings::ExportGroup(int group, PPDStringCallback callback, void* user, uint8_t* buffer,
                                   unsigned size) {
    if (!callback || !user || group < 0 || group >= kGroupCount) return 0;
    try {
        const auto& entries = m_groups[group];
        const uint64_t header = kBlockHeaderSize + 4ull * entries.size();
        uint64_t query = header;
        for (const auto& e : entries) query += e->WriteItem(callback, user, nullptr, 0);
        if (query > 0xFFFFFFFFull) return 0;
        if (!buffer) return static_cast<unsigned>(query);
        if (size < header) return static_cast<unsigned>(header);

        memset(buffer, 0, static_cast<size_t>(header));
        uint32_t kindCounts[7] = {};
        uint32_t items = 0;
        uint64_t total = 0;
        for (const auto& e : entries) {
            const uint64_t room = size - header - total;
            const unsigned need = e->WriteItem(callback, user, nullptr, 0);
            if (need > room) return static_cast<unsigned>(query);  // stop; report what is needed
            const unsigned got = e->WriteItem(callback, user, buffer + header + total, static_cast<unsigned>(room));
            if (got == 0) continue;
            if (got > room) return static_cast<unsigned>(query);
            if (e->kind >= 0 && e->kind < 7) ++kindCounts[e->kind];
            PutU32(buffer + kBlockHeaderSize + 4 * items, static_cast<uint32_t>(total + header));
            ++items;
            total += got;
        }
        total += header;
        PutU16(buffer, static_cast<unsigned>(group));
        PutU32(buffer + 2, kBlockHeaderSize);
        PutU32(buffer + 6, static_cast<uint32_t>(total));
        PutU32(buffer + 10, items);
        for (int k = 0; k < 7; ++k) PutU32(buffer + 14 + 4 * k, kindCounts[k]);
        return static_cast<unsigned>(total);
    } catch (...) {
        return 0;  // an id beyond 16 bits (more than 32767 strings) or no memory
    }
}

unsigned CPPDSettings::ExportConstraints(PPDStringCallback callback, void* user, uint8_t* buffer, unsigned size) {
    if (!callback || !user) return 0;
    try {
        const unsigned ui =
            m_uiConstraints ? m_uiConstraints->WriteConstraintRecord(kIdUIConstraints, callback, user, nullptr, 0) : 0;
        const unsigned nonUI = m_nonUIConstraints
                                   ? m_nonUIConstraints->WriteConstraintRecord(kIdNonUIConstraints, callback, user, nullptr, 0)
                                   : 0;
        const uint64_t query = uint64_t(kConstraintHeaderSize) + ui + nonUI;
        if (query > 0xFFFFFFFFull) return 0;
        if (!buffer) return static_cast<unsigned>(query);
        if (size < kConstraintHeaderSize) return kConstraintHeaderSize;
        if (size < query) return static_cast<unsigned>(query);  // never write past the buffer
        memset(buffer, 0, size);
        unsigned total = kConstraintHeaderSize;
        if (m_uiConstraints) {
            const unsigned got =
                m_uiConstraints->WriteConstraintRecord(kIdUIConstraints, callback, user, buffer + total, size - total);
            PutU32(buffer + 42, total);
            total += got;
        }
        if (m_nonUIConstraints) {
            const unsigned got =
                m_nonUIConstraints->WriteConstraintRecord(kIdNonUIConstraints, callback, user, buffer + total, size - total);
            PutU32(buffer + 46, total);
            total += got;
        }
        PutU16(buffer, 0);
        PutU32(buffer + 2, kBlockHeaderSize);
        PutU32(buffer + 6, total);
        PutU32(buffer + 10, 2);
        return total;
    } catch (...) {
        return 0;
    }
}

}  // namespace PPDParser
