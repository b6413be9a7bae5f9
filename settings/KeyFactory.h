// Key factory: turns one compiled key record into its key object, first by the
// key's identity (the special keys with classes of their own), then by the
// record's type.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/CompiledKeyRecord.h"
#include "settings/KeySetting.h"

using KeyCreator = CKeySetting* (*)(CBaseSoup* soup, const CompiledKeyRecord* record);

struct KeyTypeCreator {
    int32_t type;
    KeyCreator creator;
};
struct SpecialKeyCreator {
    int32_t propertyId;
    KeyCreator creator;
};

// Rows by record type (the last row, type 6, has no creator) and the special keys
// in the order they are searched.
extern const KeyTypeCreator KeyTypeCreators[7];
extern const SpecialKeyCreator SpecialKeyCreators[10];

// The creator of the first special row whose keyword slot (interned in soup) is
// keyId; null when none matches or soup is null.
KeyCreator FindSpecialKeyCreator(CBaseSoup* soup, SoupSlotID keyId);

// The special rows' keyword slots in one soup, asked for as FindSpecialKeyCreator asks (in
// row order up to the first match, a keyword interned when first needed) but each row only
// until it is known: loading a whole key section then takes the soup's lock once per row
// rather than once per row and record. Valid while the soup is not cleared or replaced.
class SpecialKeySlots {
public:
    explicit SpecialKeySlots(CBaseSoup* soup) : soup(soup) {}
    // What FindSpecialKeyCreator(soup, keyId) returns.
    KeyCreator Find(SoupSlotID keyId);
    // True once a keyword could not be interned (memory ran short): a key found since then
    // may be a special key made as its generic type.
    bool Failed() const { return failed; }

private:
    CBaseSoup* soup;
    SoupSlotID slots[10];
    bool failed = false;
};

// A new key for record (caller deletes), or null: for a null or short record, an
// unknown type, or a special keyword whose record has another type.
CKeySetting* CreateKeySetting(CBaseSoup* soup, const CompiledKeyRecord* record);
// The same, the special keys found through specials (made over the same soup). When given,
// *allocationFailed tells a null made because memory ran short (the key exists but could not be
// made) from a record the factory does not make.
CKeySetting* CreateKeySetting(CBaseSoup* soup, const CompiledKeyRecord* record, SpecialKeySlots* specials,
                              bool* allocationFailed = nullptr);
// The same over raw bytes of the given extent.
CKeySetting* CreateKeySetting(CBaseSoup* soup, const uint8_t* bytes, size_t size);
