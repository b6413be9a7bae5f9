// Slot identifiers: the index of a string in a string soup. Keys, options and
// constraints of the settings model name every text by such a slot.
#pragma once

#include <cstdint>
#include <utility>

class SoupSlotID {
public:
    constexpr SoupSlotID() : index(-1) {}
    // Any negative index means "no slot".
    constexpr SoupSlotID(int32_t value) : index(value) {}

    constexpr bool IsValid() const { return index >= 0; }
    constexpr bool IsInvalid() const { return index < 0; }
    constexpr int32_t GetIndex() const { return index; }

    constexpr bool operator==(const SoupSlotID& other) const { return index == other.index; }
    constexpr bool operator!=(const SoupSlotID& other) const { return index != other.index; }
    // Maps keyed by slot are ordered by index.
    constexpr bool operator<(const SoupSlotID& other) const { return index < other.index; }

private:
    int32_t index;
};

// (key id, value id); default-constructs to (-1, -1).
using SoupSlotIDPair = std::pair<SoupSlotID, SoupSlotID>;
