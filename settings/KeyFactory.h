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

// A new key for record (caller deletes), or null: for a null or short record, an
// unknown type, or a special keyword whose record has another type.
CKeySetting* CreateKeySetting(CBaseSoup* soup, const CompiledKeyRecord* record);
// The same over raw bytes of the given extent.
CKeySetting* CreateKeySetting(CBaseSoup* soup, const uint8_t* bytes, size_t size);
